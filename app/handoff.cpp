// Cancellable blocking hand-off onto the window thread.
#include "app/handoff.h"

#include <QMetaObject>

BlockingHandOff::BlockingHandOff(QObject* context) : context_(context), shared_(std::make_shared<Shared>()) {}

bool BlockingHandOff::run(std::function<void()> fn) {
  // What the posted call and the waiting worker share. The call may outlive run() (a cancel
  // while it runs), so it owns fn and holds the shared state.
  struct Call {
    std::function<void()> fn;
    std::shared_ptr<Shared> shared;
    bool started = false;  // under shared->startMutex
    std::atomic<bool> finished{false};
  };
  if (shared_->cancelledFlag.load(std::memory_order_acquire)) return false;
  QObject* context = context_.data();
  if (context == nullptr) return false;
  auto call = std::make_shared<Call>();
  call->fn = std::move(fn);
  call->shared = shared_;
  const bool posted = QMetaObject::invokeMethod(
      context,
      [call] {
        Shared& shared = *call->shared;
        {
          std::lock_guard<std::mutex> lock(shared.startMutex);
          if (shared.cancelled) return;
          call->started = true;
        }
        call->fn();
        call->finished.store(true, std::memory_order_release);
        shared.wakeups.fetch_add(1, std::memory_order_release);
        shared.wakeups.notify_all();
      },
      Qt::QueuedConnection);
  if (!posted) return false;
  Shared& shared = *shared_;
  for (;;) {
    // Read the word before the conditions: a bump after this read ends the wait at once.
    const std::uint32_t seen = shared.wakeups.load(std::memory_order_acquire);
    if (call->finished.load(std::memory_order_acquire)) return true;
    if (shared.cancelledFlag.load(std::memory_order_acquire)) break;
    shared.wakeups.wait(seen, std::memory_order_acquire);
  }
  // Cancelled: the call either started before the cancel (it finishes on its own) or never
  // will; the lock makes the answer final. One that never will lets go of what it holds now,
  // not when the context's thread comes to its posted event.
  std::lock_guard<std::mutex> lock(shared.startMutex);
  if (!call->started) call->fn = nullptr;
  return call->started;
}

void BlockingHandOff::cancel() {
  {
    std::lock_guard<std::mutex> lock(shared_->startMutex);
    shared_->cancelled = true;
    shared_->cancelledFlag.store(true, std::memory_order_release);
  }
  shared_->wakeups.fetch_add(1, std::memory_order_release);
  shared_->wakeups.notify_all();
}

bool BlockingHandOff::cancelled() const { return shared_->cancelledFlag.load(std::memory_order_acquire); }
