// The window's reader hand-over: batches of a read onto the window thread.
#include "app/thread1.h"

Thread1::Thread1(SentenceHandler handler, QObject* windowContext, LossHandler onLoss, std::function<void()> readStarts,
                 std::function<void()> readDone)
    : handlers_(
          std::make_shared<const Handlers>(Handlers{std::move(handler), std::move(readStarts), std::move(readDone)})),
      handOff_(windowContext),
      onLoss_(std::move(onLoss)) {}

ReaderLoopOptions Thread1::ReadOptions() {
  ReaderLoopOptions options;
  options.gatherMs = kReaderGatherMs;
  return options;
}

void Thread1::sentence(std::string_view sentence) { collecting_.emplace_back(sentence); }

void Thread1::readDone() {
  auto batch = std::make_shared<Batch>();
  batch->sentences.swap(collecting_);
  lastBatch_ = batch;
  // The call owns the batch: after a release the window thread may still be finishing it.
  handOff_.run([handlers = handlers_, batch] {
    if (handlers->readStarts) handlers->readStarts();
    while (!batch->taken && batch->next < batch->sentences.size()) handlers->sentence(batch->sentences[batch->next++]);
    if (handlers->readDone) handlers->readDone();
  });
}

void Thread1::lost(const LinkError& error) {
  // Through the same hand-off: a disconnect that comes first drops the report, and the
  // window's reaction (which stops the reader) cannot deadlock against it.
  if (onLoss_) handOff_.run([onLoss = onLoss_, errorNumber = error.errorNumber] { onLoss(errorNumber); });
}

void Thread1::release() { handOff_.cancel(); }

std::vector<std::string> Thread1::takeHeldBack(std::vector<std::string> readerHeld) {
  std::vector<std::string> held;
  // The join is behind us: the reader no longer touches the batch, and its handling (if the
  // stop came from inside it) runs on this thread.
  if (lastBatch_ && !lastBatch_->taken) {
    Batch& batch = *lastBatch_;
    batch.taken = true;
    for (std::size_t i = batch.next; i < batch.sentences.size(); ++i) held.push_back(std::move(batch.sentences[i]));
  }
  for (std::string& sentence : readerHeld) held.push_back(std::move(sentence));
  return held;
}
