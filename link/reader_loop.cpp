// Read loop: one wait, one read of exactly the queued byte count, cut, deliver.
#include "link/reader_loop.h"

#include <chrono>
#include <thread>

#include "link/nmea_sentence.h"
#include "link/serial_port.h"

namespace {
constexpr int kReadBufferSize = 10000;  // one read takes at most 9999 bytes
constexpr int kWaitUntilWoken = -1;     // poll() without a time-out
constexpr auto kErrorBackoff = std::chrono::milliseconds(5);  // device gone: do not spin

// How long the next wait for bytes may last. Nothing in the loop falls due by itself: bytes
// wake it, and whoever sets stopRequested() also calls port.interrupt(), so a silent port
// costs no wake-ups at all. A deadline of the loop's own would shorten this wait.
int nextWaitMs() { return kWaitUntilWoken; }
}  // namespace

ReaderLoopStats RunReaderLoop(SerialPort& port, const std::function<bool()>& stopRequested,
                              const std::function<void(std::string_view)>& deliver) {
  ReaderLoopStats stats;
  SentenceCutter cutter;
  static thread_local char buffer[kReadBufferSize];
  while (!stopRequested()) {
    int queued = port.bytesQueued();
    if (queued == 0) {
      // Woken with nothing to read means a hang-up (the other end of a pseudo-terminal
      // closed, a USB receiver unplugged): back off rather than spin.
      if (port.waitReadable(nextWaitMs()) && port.bytesQueued() == 0) {
        std::this_thread::sleep_for(kErrorBackoff);
      }
      continue;
    }
    if (queued < 0) {  // the device vanished or the descriptor failed
      std::this_thread::sleep_for(kErrorBackoff);
      continue;
    }
    std::size_t want = static_cast<std::size_t>(queued);
    if (want > kReadBufferSize - 1) want = kReadBufferSize - 1;
    long got = port.read(buffer, want);
    if (got <= 0) {
      // Queued bytes that cannot be read mean a hang-up; back off rather than spin.
      if (got < 0) std::this_thread::sleep_for(kErrorBackoff);
      continue;
    }
    stats.bytesRead += static_cast<unsigned long long>(got);
    cutter.feed(buffer, static_cast<std::size_t>(got), [&](std::string_view sentence) {
      if (stopRequested()) return;  // the handler side has gone; nothing may be handed over
      ++stats.sentences;
      deliver(sentence);
    });
  }
  return stats;
}
