// A UART reading a line at another rate than the sender's; see uart_garble.h.
//
// Time is counted in whole units of 1 / (16 * rxBaud * txBaud) s, so that both the sender's
// bit edges (16 * rxBaud units apart) and the reader's ticks (txBaud units apart) fall on
// whole numbers and the same rates always give the same bytes, without rounding.
//
// Thread rule: ReadAtRate is pure; a UartGarble is used by one thread at a time.
#include "sim/uart_garble.h"

#include <algorithm>

namespace sim {

namespace {

constexpr int kBitsPerFrame = 10;  // start, 8 data, stop
constexpr std::int64_t kTicksPerBit = 16;
constexpr std::int64_t kNone = -1;

// The sender's side of the line: the level at any time, and where it next changes.
class SentLine {
 public:
  // One bit of the sender lasts 1 / txBaud s, which is 16 * rxBaud units.
  SentLine(std::string_view bytes, std::uint32_t rxBaud)
      : bytes_(bytes),
        bitUnits_(kTicksPerBit * rxBaud),
        endBit_(static_cast<std::int64_t>(bytes.size()) * kBitsPerFrame) {}

  // Level of bit k of the stream: idle (high) before the first and after the last frame.
  int bitLevel(std::int64_t k) const {
    if (k < 0 || k >= endBit_) return 1;
    const int position = static_cast<int>(k % kBitsPerFrame);
    if (position == 0) return 0;
    if (position == kBitsPerFrame - 1) return 1;
    const auto byte = static_cast<unsigned char>(bytes_[static_cast<std::size_t>(k / kBitsPerFrame)]);
    return (byte >> (position - 1)) & 1;
  }
  int levelAt(std::int64_t t) const { return t < 0 ? 1 : bitLevel(t / bitUnits_); }
  // The first time after t at which the line is at level, kNone when it never is again.
  std::int64_t nextChangeTo(int level, std::int64_t t) const {
    for (std::int64_t k = t < 0 ? 0 : t / bitUnits_ + 1;; ++k) {
      if (level == 0 && k >= endBit_) return kNone;  // idle from here on
      if (bitLevel(k) == level) return k * bitUnits_;
    }
  }

 private:
  std::string_view bytes_;
  std::int64_t bitUnits_;
  std::int64_t endBit_;
};

// The reader's tick clock: tick n at phase + n * tickUnits.
class ReaderClock {
 public:
  ReaderClock(std::int64_t phase, std::int64_t tickUnits) : phase_(phase), tickUnits_(tickUnits) {}
  std::int64_t at(std::int64_t n) const { return phase_ + n * tickUnits_; }
  // The first tick at or after time t (never before tick 0).
  std::int64_t firstTickFrom(std::int64_t t) const {
    if (t <= phase_) return 0;
    return (t - phase_ + tickUnits_ - 1) / tickUnits_;
  }

 private:
  std::int64_t phase_;
  std::int64_t tickUnits_;
};

}  // namespace

UartReading ReadAtRate(std::string_view sent, std::uint32_t txBaud, std::uint32_t rxBaud, double phase) {
  UartReading reading;
  if (txBaud == 0 || rxBaud == 0) return reading;
  const SentLine line(sent, rxBaud);
  const auto tickUnits = static_cast<std::int64_t>(txBaud);  // 1 / (16 * rxBaud) s
  const std::int64_t phaseUnits =
      std::clamp(static_cast<std::int64_t>(phase * static_cast<double>(tickUnits)), std::int64_t{0}, tickUnits - 1);
  const ReaderClock clock(phaseUnits, tickUnits);
  const auto sample = [&](std::int64_t n) { return line.levelAt(clock.at(n)); };
  // Three ticks around the middle of a bit; the majority wins, as 16x-sampling UARTs do.
  const auto middleOf = [&](std::int64_t n) { return sample(n - 1) + sample(n) + sample(n + 1) >= 2 ? 1 : 0; };

  std::int64_t n = 0;  // the next tick to look at; tick n - 1 has been looked at
  for (;;) {
    // Hunting: a tick that reads low after one that read high.
    if (sample(n - 1) == 0) {
      const std::int64_t rise = line.nextChangeTo(1, clock.at(n - 1));
      n = std::max(n, clock.firstTickFrom(rise) + 1);
      continue;
    }
    const std::int64_t fall = line.nextChangeTo(0, clock.at(n - 1));
    if (fall == kNone) break;
    n = std::max(n, clock.firstTickFrom(fall));
    if (sample(n) != 0) {  // the low pulse fell between two ticks: not seen
      ++n;
      continue;
    }
    const std::int64_t start = n;
    const std::int64_t middle = start + kTicksPerBit / 2;
    if (middleOf(middle) != 0) {  // a false start: a glitch, not a start bit
      n = middle + 2;
      continue;
    }
    unsigned byte = 0;
    for (int bit = 0; bit < 8; ++bit) byte |= static_cast<unsigned>(middleOf(middle + kTicksPerBit * (bit + 1))) << bit;
    const std::int64_t stop = middle + kTicksPerBit * 9;
    if (middleOf(stop) == 0) ++reading.framingErrors;
    reading.bytes.push_back(static_cast<char>(byte));
    n = stop + 2;
  }
  return reading;
}

std::string_view UartGarble::read(std::string_view sent, std::uint32_t txBaud, std::uint32_t rxBaud) {
  if (txBaud == rxBaud || txBaud == 0 || rxBaud == 0) return sent;
  // A phase of its own for each write: the reader's clock does not run in step with the sender's.
  const double phase = static_cast<double>(rng_()) / 4294967296.0;
  garbled_ = ReadAtRate(sent, txBaud, rxBaud, phase).bytes;
  return garbled_;
}

}  // namespace sim
