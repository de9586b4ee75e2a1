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
// Thread rule: run() from the worker only; cancel() from any thread; the calls run on the
// thread of the context object given to the constructor.
#pragma once

#include <QObject>
#include <QPointer>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

class BlockingHandOff {
 public:
  explicit BlockingHandOff(QObject* context);
  // Runs fn on the context's thread and waits until it has finished. Returns false, without
  // running fn, when the hand-off was cancelled before fn started; returns at once when it
  // is cancelled while fn runs (fn then finishes on its own; it must own its data).
  bool run(std::function<void()> fn);
  // Makes every pending and future run() return at once. Calls not yet started never run.
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
