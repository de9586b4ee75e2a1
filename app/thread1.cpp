// Reader thread: the read loop plus the blocking hand-off to the window thread.
#include "app/thread1.h"

#include "link/reader_loop.h"
#include "link/serial_port.h"

Thread1::Thread1(std::shared_ptr<SerialPort> port, SentenceHandler handler, QObject* windowContext)
    : port_(std::move(port)),
      handler_(std::make_shared<const SentenceHandler>(std::move(handler))),
      handOff_(windowContext) {
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
  heldBack_ = RunReaderLoop(
      *port_, [this] { return isInterruptionRequested(); },
      [this](std::string_view sentence) {
        // The call owns its copy: after a cancel the window thread may still be finishing it.
        handOff_.run([handler = handler_, text = std::string(sentence)] { (*handler)(text); });
      }).heldBack;
}
