// Reader thread: the read loop plus the blocking hand-off to the window thread.
#include "app/thread1.h"

#include "link/reader_loop.h"
#include "link/serial_port.h"

Thread1::Thread1(std::shared_ptr<SerialPort> port, SentenceHandler handler, QObject* windowContext, LossHandler onLoss)
    : port_(std::move(port)),
      handler_(std::make_shared<const SentenceHandler>(std::move(handler))),
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
  ReaderLoopStats stats = RunReaderLoop(
      *port_, [this] { return isInterruptionRequested(); },
      [this](std::string_view sentence) {
        // The call owns its copy: after a cancel the window thread may still be finishing it.
        handOff_.run([handler = handler_, text = std::string(sentence)] { (*handler)(text); });
      });
  heldBack_ = std::move(stats.heldBack);
  // Through the same cancellable hand-off: a disconnect that comes first drops the report,
  // and the window's reaction (which stops this thread) cannot deadlock against it.
  if (stats.lost && onLoss_) handOff_.run([onLoss = onLoss_, error = stats.lossErrorNumber] { onLoss(error); });
}
