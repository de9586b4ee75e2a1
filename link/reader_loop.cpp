// Read loop: one wait, one read of exactly the queued byte count, cut, deliver.
#include "link/reader_loop.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "link/byte_stream.h"
#include "link/nmea_sentence.h"
#include "link/serial_port.h"

namespace {
constexpr int kReadBufferSize = 10000;                        // one read takes at most 9999 bytes
constexpr int kWaitUntilWoken = -1;                           // poll() without a time-out
constexpr auto kErrorBackoff = std::chrono::milliseconds(5);  // device gone: do not spin

// How long the next wait for bytes may last. Bytes wake the loop, and whoever sets
// stopRequested() also calls port.interrupt(), so the only deadline of its own is the quiet
// time after a complete sentence still held for its "$"; without one, a silent port costs
// no wake-ups at all.
int nextWaitMs(bool holdingCompleteSentence, int quietHandOverMs) {
  return holdingCompleteSentence ? quietHandOverMs : kWaitUntilWoken;
}

// The longest gathering pause the port's speed allows: at most kGatherBytesLimit may arrive
// meanwhile. A network receiver has no line speed and the system buffers much more for it.
int gatherLimitMs(ByteStream& port, int gatherMs) {
  if (gatherMs <= 0) return 0;
  SerialPort* line = port.serialLine();
  if (line == nullptr) return gatherMs;
  LineState state;
  if (!line->getState(state) || state.baudRate == 0) return 0;
  const long long limit = static_cast<long long>(kGatherBytesLimit) * 10 * 1000 / state.baudRate;  // 10 bits a byte
  return static_cast<int>(std::min<long long>(gatherMs, limit));
}
}  // namespace

ReaderLoopStats RunReaderLoop(ByteStream& port, const std::function<bool()>& stopRequested,
                              const std::function<void(std::string_view)>& deliver, const ReaderLoopOptions& options) {
  const int quietHandOverMs = options.quietHandOverMs;
  const int gatherMs = gatherLimitMs(port, options.gatherMs);
  ReaderLoopStats stats;
  SentenceCutter cutter;
  static thread_local char buffer[kReadBufferSize];
  const auto handOver = [&](std::string_view sentence) {
    if (stopRequested()) {
      // The handler side is going away: nothing may be handed over, and nothing read is lost.
      stats.heldBack.emplace_back(sentence);
      return;
    }
    ++stats.sentences;
    deliver(sentence);
  };
  unsigned long long deliveredBefore = 0;
  const auto endOfRead = [&] {
    if (options.readDone && stats.sentences != deliveredBefore) options.readDone();
    deliveredBefore = stats.sentences;
  };
  const auto lose = [&] {
    stats.lost = true;
    stats.lossErrorNumber = port.lastErrorNumber();
  };
  cutter.feed(options.alreadyRead.data(), options.alreadyRead.size(), handOver);
  endOfRead();
  while (!stopRequested()) {
    int queued = port.bytesQueued();
    if (queued == 0) {
      const bool holding = cutter.holdsCompleteSentence();
      if (port.waitReadable(nextWaitMs(holding, quietHandOverMs))) {
        if (port.bytesQueued() == 0) {
          if (port.lineGone()) {
            lose();
            break;
          }
          std::this_thread::sleep_for(kErrorBackoff);  // a wake-up with nothing in it: do not spin
        }
      } else if (holding) {
        // The line has been quiet since the sentence's line end: no "$" is coming soon.
        cutter.flushComplete(handOver);
        endOfRead();
      }
      continue;
    }
    if (queued < 0) {  // the descriptor failed: the device vanished
      lose();
      break;
    }
    std::size_t want = static_cast<std::size_t>(queued);
    if (want > kReadBufferSize - 1) want = kReadBufferSize - 1;
    long got = port.read(buffer, want);
    if (got <= 0) {
      // Queued bytes that cannot be read: the device went while they waited.
      if (got < 0 || port.lineGone()) {
        lose();
        break;
      }
      continue;
    }
    stats.bytesRead += static_cast<unsigned long long>(got);
    cutter.feed(buffer, static_cast<std::size_t>(got), handOver);
    endOfRead();
    if (gatherMs > 0 && got < kGatherBelowBytes && !stopRequested()) port.pause(gatherMs);
  }
  // A stop keeps what is held for the caller; a lost line hands it over now, as its last word.
  cutter.flushComplete(handOver);
  endOfRead();
  return stats;
}
