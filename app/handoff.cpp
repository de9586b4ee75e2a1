// Cancellable blocking hand-off onto the window thread.
#include "app/handoff.h"

#include <QMetaObject>

BlockingHandOff::BlockingHandOff(QObject* context) : context_(context), shared_(std::make_shared<Shared>()) {}

bool BlockingHandOff::run(std::function<void()> fn) {
  struct Call {
    std::function<void()> fn;
    bool started = false;
    bool finished = false;
  };
  auto call = std::make_shared<Call>();
  call->fn = std::move(fn);
  auto shared = shared_;
  {
    std::lock_guard<std::mutex> lock(shared->mutex);
    if (shared->cancelled) return false;
  }
  QObject* context = context_.data();
  if (context == nullptr) return false;
  const bool posted = QMetaObject::invokeMethod(
      context,
      [shared, call] {
        {
          std::lock_guard<std::mutex> lock(shared->mutex);
          if (shared->cancelled) return;
          call->started = true;
        }
        call->fn();
        {
          std::lock_guard<std::mutex> lock(shared->mutex);
          call->finished = true;
        }
        shared->done.notify_all();
      },
      Qt::QueuedConnection);
  if (!posted) return false;
  std::unique_lock<std::mutex> lock(shared->mutex);
  shared->done.wait(lock, [&] { return call->finished || shared->cancelled; });
  return call->started;
}

void BlockingHandOff::cancel() {
  {
    std::lock_guard<std::mutex> lock(shared_->mutex);
    shared_->cancelled = true;
  }
  shared_->done.notify_all();
}

bool BlockingHandOff::cancelled() const {
  std::lock_guard<std::mutex> lock(shared_->mutex);
  return shared_->cancelled;
}
