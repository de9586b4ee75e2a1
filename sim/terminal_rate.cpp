// Terminal speeds through termios2; see terminal_rate.h. The kernel's header is used alone:
// <termios.h> would clash with its struct termios2.
//
// Thread rule: plain system calls.
#include "sim/terminal_rate.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace sim {

TerminalRates RatesOfTerminal(int fd) {
  struct termios2 tio {};
  if (fd < 0 || ::ioctl(fd, TCGETS2, &tio) != 0) return {};
  // The kernel keeps c_ospeed and c_ispeed up to date whichever way the rate was set. An
  // input rate of 0 in CIBAUD means "as the output rate".
  const bool ownInputRate = ((tio.c_cflag >> IBSHIFT) & CBAUD) != 0;
  return {ownInputRate ? tio.c_ispeed : tio.c_ospeed, tio.c_ospeed};
}

bool SetTerminalRate(int fd, std::uint32_t baud) {
  struct termios2 tio {};
  if (fd < 0 || baud == 0 || ::ioctl(fd, TCGETS2, &tio) != 0) return false;
  tio.c_cflag &= ~static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT));
  tio.c_cflag |= BOTHER;
  tio.c_ospeed = baud;
  tio.c_ispeed = baud;
  return ::ioctl(fd, TCSETS2, &tio) == 0;
}

}  // namespace sim
