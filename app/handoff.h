// Blocking hand-off from a worker thread (the reader, the upload) onto the window thread:
// the worker posts a call and waits until the window thread has run it to its end, so at
// most one sentence is in flight and the handlers need no lock.
//
// Unlike a plain blocking queued call, the wait can be cancelled: disconnect and window
// close cancel first, so the worker returns at once and can be joined without deadlock
// even while the window thread itself is the one waiting for it.
//
// A hand-off happens for every sentence, hundreds of times a second, so it costs one posted
// event and one wake-up each way: the worker sleeps on an atomic word that the window
// thread bumps when the call has finished (or cancel() bumps), with no lock held by either
// side while the other runs.
//
// call() is run() for a call that has a value to bring back: the worker gets the value, or
// nothing when the hand-off was cancelled before the call finished; callOn() is call() for
// one member function of an object that lives on the context's thread.
//
// Thread rule: run(), call() and callOn() from the worker only; cancel() from any thread; the
// calls run on the thread of the context object given to the constructor.
#pragma once

#include <QObject>
#include <QPointer>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <type_traits>

class BlockingHandOff {
 public:
  explicit BlockingHandOff(QObject* context);
  // Runs fn on the context's thread and waits until it has finished. Returns false, without
  // running fn, when the hand-off was cancelled before fn started; returns at once when it
  // is cancelled while fn runs (fn then finishes on its own; it must own its data).
  bool run(std::function<void()> fn);
  // Runs fn on the context's thread as run() does and returns its value; nullopt (false for a
  // fn without a value) when the hand-off was cancelled before fn finished. The value's slot
  // belongs to the call, so fn may finish into it after a cancel, while the worker has moved
  // on; fn must own its data as for run().
  template <typename Fn, typename Value = std::invoke_result_t<Fn&>>
  std::conditional_t<std::is_void_v<Value>, bool, std::optional<Value>> call(Fn fn) {
    struct Slot {
      std::conditional_t<std::is_void_v<Value>, bool, std::optional<Value>> value{};
      std::atomic<bool> done{false};  // value is final; set by the context's thread only
    };
    auto slot = std::make_shared<Slot>();
    run([slot, fn = std::move(fn)]() mutable {
      if constexpr (std::is_void_v<Value>) {
        fn();
        slot->value = true;
      } else {
        slot->value.emplace(fn());
      }
      slot->done.store(true, std::memory_order_release);
    });
    if (!slot->done.load(std::memory_order_acquire)) return {};
    return std::move(slot->value);
  }
  // One member call of target, made on the context's thread as call() makes it: a worker's
  // stand-in for an object of the context's thread forwards each of its calls with this.
  // The arguments go as copies and target is held while the call runs, because a call that a
  // cancel overtook may still be running there after the worker has moved on.
  template <typename Target, typename Value, typename... Params, typename... Args>
  auto callOn(const std::shared_ptr<Target>& target, Value (Target::*fn)(Params...), Args&&... args) {
    return call([target, fn, ... copies = std::decay_t<Args>(std::forward<Args>(args))]() mutable {
      return ((*target).*fn)(copies...);
    });
  }
  // Makes every pending and future run() return at once. Calls not yet started never run, and
  // what they hold is let go of as their run() returns.
  void cancel();
  bool cancelled() const;

 private:
  struct Shared {
    // Held only to decide, in one step, whether a call starts or is dropped by a cancel.
    std::mutex startMutex;
    bool cancelled = false;                  // under startMutex
    std::atomic<bool> cancelledFlag{false};  // the same, readable without the lock
    // Bumped when a call finishes and on cancel(); the worker sleeps on it.
    std::atomic<std::uint32_t> wakeups{0};
  };
  QPointer<QObject> context_;
  std::shared_ptr<Shared> shared_;
};
