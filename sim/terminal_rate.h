// The line speeds set on a terminal, as the program that opened it set them: the simulated
// receiver reads them on its own descriptor of the pseudo-terminal to know at which rate
// the program's UART would send and read. Any rate, 14400 included, through termios2.
//
// Thread rule: plain system calls on a descriptor the caller owns.
#pragma once

#include <cstdint>

namespace sim {

struct TerminalRates {
  std::uint32_t input = 0;   // [bit/s] the rate the program reads at; 0: unknown
  std::uint32_t output = 0;  // [bit/s] the rate the program sends at; 0: unknown
};

TerminalRates RatesOfTerminal(int fd);
// Sets both rates, leaving the rest of the settings as they are; false when refused.
bool SetTerminalRate(int fd, std::uint32_t baud);

}  // namespace sim
