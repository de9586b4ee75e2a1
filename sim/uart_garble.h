// What a UART set to the wrong speed reads: the simulated receiver's bytes as the program's
// UART samples them when the program set another rate, and the program's bytes as the
// receiver's UART samples them. Real lines garble this way, and baud-rate detection and the
// program's behaviour at a wrong rate can only be tried against a peer that does the same.
//
// The model: the sender puts each byte on the line as 10 bits at its rate (start bit low,
// eight data bits least significant first, stop bit high), back to back; before and after a
// write the line is idle (high). The reading UART runs a clock of 16 ticks a bit at its own
// rate, with a phase of its own against the sender. It hunts for a start bit (a tick that
// reads low after one that read high), takes the majority of ticks 7, 8 and 9 from there as
// the middle of the start bit (high: a false start, hunting goes on), then samples each data
// bit and the stop bit 16 ticks apart. A low stop bit is a framing error: the byte is
// delivered as sampled, as a Linux terminal without input parity checking does, and hunting
// waits for the line to go high again. Each write is read as a burst of its own; a frame
// that the reader has begun when the burst ends is finished with idle bits.
//
// Thread rule: ReadAtRate is pure; one UartGarble belongs to one direction of one line.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <string_view>

namespace sim {

struct UartReading {
  std::string bytes;      // what the reading UART delivers
  int framingErrors = 0;  // frames whose stop bit read low
};

// Bytes sent back to back at txBaud [bit/s] from an idle line, as a UART at rxBaud reads
// them. phase: where the reader's tick clock stands against the sender's bit edges, as a
// fraction [0, 1) of one tick. Either rate 0: nothing is read.
UartReading ReadAtRate(std::string_view sent, std::uint32_t txBaud, std::uint32_t rxBaud, double phase);

// One direction of a line: passes bytes through unchanged while both ends agree on the
// rate (or a rate is unknown, 0), else reads them through ReadAtRate with a phase drawn for
// each write from a generator seeded once, so a run is repeatable for a given seed.
class UartGarble {
 public:
  explicit UartGarble(std::uint32_t seed) : rng_(seed) {}
  // What the reader gets of one write: sent itself when passed through, else a view of a
  // buffer of this object's, valid until the next call.
  std::string_view read(std::string_view sent, std::uint32_t txBaud, std::uint32_t rxBaud);

 private:
  std::mt19937 rng_;
  std::string garbled_;
};

}  // namespace sim
