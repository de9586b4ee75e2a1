// The reader thread: runs the read loop on the open port and hands every sentence to the
// window thread, waiting until it has been handled. The sentences cut from one read travel
// together: the window thread handles them one after another, in order, in one wake-up, and
// the reader waits until the last one is done. On a line that trickles sentences the loop
// gathers a few before it reads (kReaderGatherMs), which is what makes reception cheap: a
// hand-off per sentence would wake both threads hundreds of times a second.
//
// Thread rule: created and stopped on the window thread. Stopping is requestInterruption(),
// then cancelling the hand-off and interrupting the port's wait, then wait(): the interrupt
// ends the loop's wait at once, so the join cannot deadlock against the window thread.
#pragma once

#include <QThread>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/handoff.h"

// How long the reader lets a trickling line fill before it reads again [ms]. A little longer
// than the window's shortest repaint frame (RepaintPacer::kMinFrameMs, 40 ms), so the repaint
// after each read goes through at once: with a pause of a frame or less, the repaints could
// settle a fraction of a frame behind the reads and each cost a wake-up of its own.
inline constexpr int kReaderGatherMs = 50;

class ByteStream;

class Thread1 : public QThread {
  Q_OBJECT
 public:
  // handler runs on the window thread, once per sentence, with the sentence's bytes.
  using SentenceHandler = std::function<void(const std::string& sentence)>;
  // onLoss runs on the window thread when the device went away (errno that said so, 0 for a
  // hang-up), after every sentence read before it was handled; the thread then ends.
  using LossHandler = std::function<void(int errorNumber)>;
  // readStarts and readDone run on the window thread around the sentences of each read
  // (readDone also when a stop cut the read short).
  Thread1(std::shared_ptr<ByteStream> port, SentenceHandler handler, QObject* windowContext, LossHandler onLoss = {},
          std::function<void()> readStarts = {}, std::function<void()> readDone = {});
  ~Thread1() override;

  // Requests termination, releases a pending hand-off and waits until run() has returned.
  // Safe to call more than once. Afterwards nothing of this thread touches the port.
  void stopAndWait();
  // After stopAndWait(): the sentences the reader had read but not handed over (the last
  // complete one before a quiet line, when the stop came before the quiet time ran out).
  // Sentences of a read whose handling the stop interrupted come first, in order.
  std::vector<std::string> takeHeldBack();

 protected:
  void run() override;

 private:
  // A read's sentences. Once posted, only the window thread touches next and taken.
  struct Batch {
    std::vector<std::string> sentences;
    std::size_t next = 0;  // the first one not handled yet
    bool taken = false;    // the rest went to takeHeldBack(); the handling stops
  };

  std::shared_ptr<ByteStream> port_;
  // Shared with every call in flight: a call can outlive this thread object (a disconnect
  // from within a sentence's handling), and sharing costs no copy per sentence.
  struct Handlers {
    SentenceHandler sentence;
    std::function<void()> readStarts;
    std::function<void()> readDone;
  };
  std::shared_ptr<const Handlers> handlers_;
  BlockingHandOff handOff_;
  LossHandler onLoss_;
  std::vector<std::string> heldBack_;    // written by run(), read after the join
  std::vector<std::string> collecting_;  // the reader's, until the read is done
  std::shared_ptr<Batch> lastBatch_;     // written by run(), read after the join
};
