// Reader thread: the read loop plus the blocking hand-off to the window thread.
#include "app/thread1.h"

#include "link/byte_stream.h"
#include "link/reader_loop.h"

Thread1::Thread1(std::shared_ptr<ByteStream> port, SentenceHandler handler, QObject* windowContext, LossHandler onLoss,
                 std::function<void()> readStarts, std::function<void()> readDone)
    : port_(std::move(port)),
      handlers_(
          std::make_shared<const Handlers>(Handlers{std::move(handler), std::move(readStarts), std::move(readDone)})),
      handOff_(windowContext),
      onLoss_(std::move(onLoss)) {
  setObjectName(QStringLiteral("Thread1"));  // the thread's name for debuggers
}

Thread1::~Thread1() { stopAndWait(); }

void Thread1::stopAndWait() {
  requestInterruption();
  handOff_.cancel();
  if (port_) port_->interrupt();
  wait();
}

void Thread1::run() {
  ReaderLoopOptions options;
  options.gatherMs = kReaderGatherMs;
  options.readDone = [this] {
    auto batch = std::make_shared<Batch>();
    batch->sentences.swap(collecting_);
    lastBatch_ = batch;
    // The call owns the batch: after a cancel the window thread may still be finishing it.
    handOff_.run([handlers = handlers_, batch] {
      if (handlers->readStarts) handlers->readStarts();
      while (!batch->taken && batch->next < batch->sentences.size())
        handlers->sentence(batch->sentences[batch->next++]);
      if (handlers->readDone) handlers->readDone();
    });
  };
  ReaderLoopStats stats = RunReaderLoop(
      *port_, [this] { return isInterruptionRequested(); },
      [this](std::string_view sentence) { collecting_.emplace_back(sentence); }, options);
  heldBack_ = std::move(stats.heldBack);
  // Through the same cancellable hand-off: a disconnect that comes first drops the report,
  // and the window's reaction (which stops this thread) cannot deadlock against it.
  if (stats.lost && onLoss_) handOff_.run([onLoss = onLoss_, error = stats.lossErrorNumber] { onLoss(error); });
}

std::vector<std::string> Thread1::takeHeldBack() {
  std::vector<std::string> held;
  // The join is behind us: the reader no longer touches the batch, and its handling (if the
  // stop came from inside it) runs on this thread.
  if (lastBatch_ && !lastBatch_->taken) {
    Batch& batch = *lastBatch_;
    batch.taken = true;
    for (std::size_t i = batch.next; i < batch.sentences.size(); ++i) held.push_back(std::move(batch.sentences[i]));
  }
  for (std::string& sentence : heldBack_) held.push_back(std::move(sentence));
  heldBack_.clear();
  return held;
}
