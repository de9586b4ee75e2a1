// Baud-rate detection: each rate in turn, the real cutter and checksum test on what comes.
//
// Thread rule: the calling thread owns the port while this runs.
#include "link/baud_detect.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <string_view>
#include <thread>

#include "link/deadline.h"
#include "link/network_names.h"
#include "link/nmea_sentence.h"
#include "link/reader_loop.h"
#include "link/serial_port.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kReadChunk = 4096;
// How often a wait looks at the stop test when nothing arrives [ms].
constexpr int kStopCheckMs = 100;
constexpr auto kErrorBackoff = std::chrono::milliseconds(5);  // a wake-up with nothing in it

enum class Heard { Sentences, Nothing, Stopped, Failed };

struct Listening {
  Heard heard = Heard::Nothing;
  bool bytesArrived = false;
  std::string received;
};

// Listens at the rate the port is set to until enough valid sentences came, the time is up,
// the bytes are plainly not sentences, a stop, or a failure (then port's error says why).
Listening listen(ByteStream& port, const BaudDetectOptions& options) {
  Listening out;
  SentenceCutter cutter;
  int valid = 0;
  std::size_t sinceValid = 0;
  const auto count = [&](std::string_view sentence) {
    if (!VerifyChecksum(sentence)) return;
    ++valid;
    sinceValid = 0;
  };
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(options.perRateMs);
  char buffer[kReadChunk];
  while (valid < options.sentencesNeeded) {
    if (options.stopRequested && options.stopRequested()) {
      out.heard = Heard::Stopped;
      return out;
    }
    const int left = RemainingMs(deadline);
    if (left == 0) break;
    // A sentence whose line end came and that no "$" follows is counted once the line has
    // been quiet for a moment, as the reader hands it over (a receiver sending one sentence
    // a second would otherwise need three to show two).
    const bool holding = cutter.holdsCompleteSentence();
    const int waitMs = std::min(left, holding ? kQuietHandOverMs : kStopCheckMs);
    if (!port.waitReadable(waitMs)) {
      if (holding) cutter.flushComplete(count);
      continue;
    }
    const int queued = port.bytesQueued();
    if (queued == 0 && !port.lineGone()) {
      std::this_thread::sleep_for(kErrorBackoff);
      continue;
    }
    if (queued <= 0) {
      out.heard = Heard::Failed;
      return out;
    }
    const long got = port.read(buffer, std::min<std::size_t>(static_cast<std::size_t>(queued), sizeof buffer));
    if (got < 0 || (got == 0 && port.lineGone())) {
      out.heard = Heard::Failed;
      return out;
    }
    out.bytesArrived = out.bytesArrived || got > 0;
    out.received.append(buffer, static_cast<std::size_t>(got));
    sinceValid += static_cast<std::size_t>(got);
    cutter.feed(buffer, static_cast<std::size_t>(got), count);
    if (options.giveUpAfterBytes > 0 && sinceValid > options.giveUpAfterBytes) break;  // garbage: the wrong rate
  }
  if (valid >= options.sentencesNeeded) out.heard = Heard::Sentences;
  return out;
}

LinkError portFailure(const char* message, const std::string& devicePath, const ByteStream& port) {
  LinkCause cause = CauseOfErrno(port.lastErrorNumber());
  if (cause == LinkCause::None) cause = LinkCause::Other;
  return {message, devicePath, port.lastErrorNumber(), cause, port.lastError(), port.lastError()};
}

}  // namespace

BaudDetectResult DetectBaudRate(ByteStream& port, const std::string& devicePath, const BaudDetectOptions& options) {
  BaudDetectResult result;
  SerialPort* serial = port.serialLine();
  for (const std::uint32_t rate : options.rates) {
    if (serial == nullptr) {
      const std::string detail = NoLineSettingsDetail();
      result.error = {kGetCommStateFailed, devicePath, ENOTTY, CauseOfErrno(ENOTTY), detail, detail};
      return result;
    }
    LineState line;
    if (!serial->getState(line)) {
      result.error = portFailure(kGetCommStateFailed, devicePath, port);
      return result;
    }
    line.baudRate = rate;
    line.dataBits = 8;
    line.parity = false;
    line.stopBits = 1;
    // What came at the rate before is garbage at this one.
    if (!serial->setState(line) || !serial->purge()) {
      result.error = portFailure(kSetCommStateFailed, devicePath, port);
      return result;
    }
    result.tried.push_back(rate);
    Listening heard = listen(port, options);
    result.bytesArrived = result.bytesArrived || heard.bytesArrived;
    switch (heard.heard) {
      case Heard::Sentences:
        result.baud = rate;
        result.received = std::move(heard.received);
        return result;
      case Heard::Stopped: result.stopped = true; return result;
      case Heard::Failed: result.error = LinkLost(devicePath, port.lastErrorNumber()); return result;
      case Heard::Nothing: break;
    }
  }
  return result;
}

std::string RateListText(const std::vector<std::uint32_t>& rates) {
  std::string text;
  for (std::size_t i = 0; i < rates.size(); ++i) {
    if (i > 0) text += i + 1 == rates.size() ? " or " : ", ";
    text += std::to_string(rates[i]);
  }
  return text;
}

LinkError DetectFailure(const BaudDetectResult& result, const std::string& portName) {
  if (result.error.failed()) return result.error;
  LinkError error{"Baud rate not found.", {}, 0, LinkCause::Other, {}, {}};
  const std::string where = portName + " at " + RateListText(result.tried) + " baud";
  if (result.stopped) {
    error.detail = "stopped";
    error.explanation = "Stopped while listening to " + where + ".";
  } else if (!result.bytesArrived) {
    error.detail = "silent";
    error.explanation = "Nothing arrived from " + where +
                        ": the receiver is silent. Check that it is powered and connected, and that this is its port.";
  } else {
    error.detail = "no sentence";
    error.explanation = "Bytes but no valid NMEA sentence from " + where +
                        ": the receiver talks at another rate, or not in NMEA (binary mode: power it off and on).";
  }
  return error;
}
