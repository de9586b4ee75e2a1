// The window's reader: the link session's reader thread hands every read's sentences to the
// window thread through this, and waits until they have been handled. The sentences cut from
// one read travel together: the window thread handles them one after another, in order, in
// one wake-up, and the reader waits until the last one is done. On a line that trickles
// sentences the loop gathers a few before it reads (kReaderGatherMs), which is what makes
// reception cheap: a hand-off per sentence would wake both threads hundreds of times a second.
//
// Thread rule: created on the window thread and given to LinkSession::startReader; its
// ReaderHandOver functions run on the reader thread, every handler on the window thread.
// Stopping is LinkSession::stopReader(): it releases the hand-off (release()), so the join
// cannot deadlock against the window thread, even from inside a handler.
#pragma once

#include <QObject>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/handoff.h"
#include "commands/link_session.h"

// How long the reader lets a trickling line fill before it reads again [ms].
inline constexpr int kReaderGatherMs = 50;

class Thread1 : public ReaderHandOver {
 public:
  // handler runs on the window thread, once per sentence, with the sentence's bytes.
  using SentenceHandler = std::function<void(const std::string& sentence)>;
  // onLoss runs on the window thread when the device went away (errno that said so, 0 for a
  // hang-up), after every sentence read before it was handled.
  using LossHandler = std::function<void(int errorNumber)>;
  // readStarts and readDone run on the window thread around the sentences of each read
  // (readDone also when a stop cut the read short).
  Thread1(SentenceHandler handler, QObject* windowContext, LossHandler onLoss = {},
          std::function<void()> readStarts = {}, std::function<void()> readDone = {});

  // How the session's reader reads for the window.
  static ReaderLoopOptions ReadOptions();

  // After the reader has been stopped: the sentences of a read whose handling the stop
  // interrupted, in order, then those the reader had read but not handed over (readerHeld).
  std::vector<std::string> takeHeldBack(std::vector<std::string> readerHeld);

  void sentence(std::string_view sentence) override;
  void readDone() override;
  void lost(const LinkError& error) override;
  void release() override;

 private:
  // A read's sentences. Once posted, only the window thread touches next and taken.
  struct Batch {
    std::vector<std::string> sentences;
    std::size_t next = 0;  // the first one not handled yet
    bool taken = false;    // the rest went to takeHeldBack(); the handling stops
  };

  // Shared with every call in flight: a call can outlive this object (a disconnect from
  // within a sentence's handling), and sharing costs no copy per sentence.
  struct Handlers {
    SentenceHandler sentence;
    std::function<void()> readStarts;
    std::function<void()> readDone;
  };
  std::shared_ptr<const Handlers> handlers_;
  BlockingHandOff handOff_;
  LossHandler onLoss_;
  std::vector<std::string> collecting_;  // the reader's, until the read is done
  std::shared_ptr<Batch> lastBatch_;     // written by the reader, read after the join
};
