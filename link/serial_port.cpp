// POSIX serial layer: gives the program the port operations it was designed around (an
// exclusive open, total read and write time-outs, line state, purge, bytes queued) on Linux
// tty devices and pseudo-terminals. The wake-up, the time-outs and the errors are the
// descriptor stream's (link/descriptor_stream.h).
//
// Thread rule: one thread may read (waitReadable, read, bytesQueued) while another writes;
// interrupt() and lastError() may be called from any thread. open() and close() only while no
// other thread uses the port.
//
// Line state goes through struct termios2 with BOTHER, so any rate reaches the driver,
// 14400 included (it has no Bxxx constant). <termios.h> would clash with the kernel's
// termios2 definitions, so this file uses the kernel header and ioctl() only.
#include "link/serial_port.h"

#include <asm/termbits.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "link/deadline.h"

namespace {

using Clock = std::chrono::steady_clock;

// Rate of a classic Bxxx code, for drivers that report one instead of BOTHER.
std::uint32_t rateOfCode(unsigned code) {
  struct Entry {
    unsigned code;
    std::uint32_t rate;
  };
  static constexpr Entry kRates[] = {
      {B0, 0},           {B50, 50},         {B75, 75},         {B110, 110},         {B134, 134},
      {B150, 150},       {B200, 200},       {B300, 300},       {B600, 600},         {B1200, 1200},
      {B1800, 1800},     {B2400, 2400},     {B4800, 4800},     {B9600, 9600},       {B19200, 19200},
      {B38400, 38400},   {B57600, 57600},   {B115200, 115200}, {B230400, 230400},   {B460800, 460800},
      {B500000, 500000}, {B576000, 576000}, {B921600, 921600}, {B1000000, 1000000},
  };
  for (const Entry& e : kRates) {
    if (e.code == code) return e.rate;
  }
  return 0;
}

// Waits until the bytes still queued for the line have gone, at most as long as they take at
// the line's present rate and a quarter second more, and never more than two seconds: a line
// held by flow control or a stalled pseudo-terminal reader must not hang a speed change.
void drainBounded(int fd, std::uint32_t baud) {
  int pending = 0;
  if (::ioctl(fd, TIOCOUTQ, &pending) != 0 || pending <= 0) return;
  const double lineSeconds = static_cast<double>(pending) * 10.0 / static_cast<double>(baud == 0 ? 4800 : baud);
  const auto limit =
      std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(std::min(lineSeconds + 0.25, 2.0)));
  const auto deadline = Clock::now() + limit;
  while (::ioctl(fd, TIOCOUTQ, &pending) == 0 && pending > 0 && Clock::now() < deadline) {
    // A tenth of what is left, within 1 to 20 ms: a few looks per drain, none too late.
    const double leftMs = static_cast<double>(pending) * 10000.0 / static_cast<double>(baud == 0 ? 4800 : baud);
    const int stepMs = std::clamp(static_cast<int>(leftMs / 10), 1, 20);
    ::poll(nullptr, 0, std::min(stepMs, std::max(1, RemainingMs(deadline))));
  }
}

}  // namespace

SerialPort::~SerialPort() { close(); }

bool SerialPort::open(const std::string& devicePath) {
  close();
  if (!hasWakeEvent()) {
    failText("cannot create the wake-up event");
    return false;
  }
  const int fd = ::open(devicePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    fail("open " + devicePath, errno);
    return false;
  }
  // Exclusive use, as the program expects of its port: further opens fail with EBUSY
  // (except for processes with CAP_SYS_ADMIN, which the kernel always lets through).
  if (::ioctl(fd, TIOCEXCL) != 0) {
    fail("exclusive access to " + devicePath, errno);
    ::close(fd);
    return false;
  }
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int error = errno == EWOULDBLOCK ? EBUSY : errno;
    fail("lock " + devicePath, error);
    ::ioctl(fd, TIOCNXCL);
    ::close(fd);
    return false;
  }
  struct termios2 tio {};
  if (::ioctl(fd, TCGETS2, &tio) != 0) {
    fail("line settings of " + devicePath, errno);
    ::ioctl(fd, TIOCNXCL);
    ::close(fd);
    return false;
  }
  // Raw mode: no echo, no line editing, no character translation, no flow control, so that
  // NMEA text and binary packets pass unchanged in both directions.
  tio.c_iflag &=
      ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF | IXANY);
  tio.c_oflag &= ~static_cast<tcflag_t>(OPOST);
  tio.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
  tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CRTSCTS);
  tio.c_cflag |= CS8 | CLOCAL | CREAD;
  tio.c_cc[VMIN] = 0;
  tio.c_cc[VTIME] = 0;
  if (::ioctl(fd, TCSETS2, &tio) != 0) {
    fail("raw mode on " + devicePath, errno);
    ::ioctl(fd, TIOCNXCL);
    ::close(fd);
    return false;
  }
  adopt(fd);
  drainWake();  // an interrupt() aimed at an earlier session must not end this one
  return true;
}

bool SerialPort::setupQueues(int /*inputBytes*/, int /*outputBytes*/) {
  // Linux tty drivers size their own buffers; there is nothing to request.
  return true;
}

bool SerialPort::getState(LineState& state) {
  if (!checkOpen()) return false;
  struct termios2 tio {};
  if (::ioctl(fd(), TCGETS2, &tio) != 0) {
    fail("read line settings", errno);
    return false;
  }
  const unsigned code = tio.c_cflag & CBAUD;
  state.baudRate = code == BOTHER ? tio.c_ospeed : (tio.c_ospeed != 0 ? tio.c_ospeed : rateOfCode(code));
  switch (tio.c_cflag & CSIZE) {
    case CS5: state.dataBits = 5; break;
    case CS6: state.dataBits = 6; break;
    case CS7: state.dataBits = 7; break;
    default: state.dataBits = 8; break;
  }
  state.parity = (tio.c_cflag & PARENB) != 0;
  state.stopBits = (tio.c_cflag & CSTOPB) != 0 ? 2 : 1;
  return true;
}

bool SerialPort::setState(const LineState& state) {
  if (!checkOpen()) return false;
  if (state.baudRate == 0) {
    failText("baud rate 0");
    return false;
  }
  tcflag_t size = CS8;
  switch (state.dataBits) {
    case 5: size = CS5; break;
    case 6: size = CS6; break;
    case 7: size = CS7; break;
    case 8: size = CS8; break;
    default: failText("unsupported number of data bits"); return false;
  }
  if (state.stopBits != 1 && state.stopBits != 2) {
    failText("unsupported number of stop bits");
    return false;
  }
  struct termios2 tio {};
  if (::ioctl(fd(), TCGETS2, &tio) != 0) {
    fail("read line settings", errno);
    return false;
  }
  const unsigned oldCode = tio.c_cflag & CBAUD;
  const std::uint32_t oldRate = oldCode == BOTHER || tio.c_ospeed != 0 ? tio.c_ospeed : rateOfCode(oldCode);
  // Same rate in both directions: BOTHER for output, and input speed 0 in CIBAUD means
  // "as output".
  tio.c_cflag &= ~static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT) | CSIZE | PARENB | PARODD | CSTOPB);
  tio.c_cflag |= BOTHER | size | CLOCAL | CREAD;
  if (state.parity) tio.c_cflag |= PARENB;  // even parity
  if (state.stopBits == 2) tio.c_cflag |= CSTOPB;
  // What is still being sent goes at the rate it was written for: a speed change under it
  // would garble the tail of a command (the packet that asks the receiver for a new rate).
  drainBounded(fd(), oldRate);
  tio.c_ospeed = state.baudRate;
  tio.c_ispeed = state.baudRate;
  if (::ioctl(fd(), TCSETS2, &tio) != 0) {
    fail("apply line settings", errno);
    return false;
  }
  return true;
}

bool SerialPort::purge() {
  if (!checkOpen()) return false;
  if (::ioctl(fd(), TCFLSH, TCIOFLUSH) != 0) {
    fail("purge", errno);
    return false;
  }
  return true;
}

int SerialPort::bytesQueued() {
  if (!checkOpen()) return -1;
  int count = 0;
  if (::ioctl(fd(), FIONREAD, &count) != 0) {
    fail("bytes queued", errno);
    return -1;
  }
  return count;
}

bool SerialPort::lineGone() {
  if (!isOpen()) return true;
  struct pollfd pfd = {fd(), POLLIN, 0};
  if (::poll(&pfd, 1, 0) <= 0) return false;
  if ((pfd.revents & POLLNVAL) != 0) {
    fail("poll", EBADF);
    return true;
  }
  if ((pfd.revents & (POLLHUP | POLLERR)) == 0) return false;  // readable data is no loss
  int queued = 0;
  if (::ioctl(fd(), FIONREAD, &queued) == 0 && queued > 0) return false;  // the last bytes first
  // Nothing more will come. A read says why: the end of the stream (0) for a hung-up
  // terminal, EIO or ENODEV for a removed device or a closed pseudo-terminal.
  unsigned char byte = 0;
  const ssize_t n = ::read(fd(), &byte, 1);
  if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
    fail("read", errno);
  } else {
    failText("hang-up");
  }
  return true;
}

long SerialPort::read(void* buffer, std::size_t size) {
  if (!checkOpen()) return -1;
  if (size == 0) return 0;
  auto* out = static_cast<unsigned char*>(buffer);
  std::size_t got = 0;
  const auto deadline = Clock::now() + std::chrono::milliseconds(readTotalMs());
  for (;;) {
    const ssize_t n = ::read(fd(), out + got, size - got);
    if (n > 0) {
      got += static_cast<std::size_t>(n);
      if (got == size) return static_cast<long>(got);
      continue;
    }
    if (n == 0) return static_cast<long>(got);  // hang-up: nothing more will come
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) {
      fail("read", errno);
      return got > 0 ? static_cast<long>(got) : -1;
    }
    const int left = RemainingMs(deadline);
    if (left == 0) return static_cast<long>(got);
    short revents = 0;
    bool woken = false;
    const int ready = pollWithWake(POLLIN, left, &revents, &woken);
    if (ready < 0 && errno != EINTR) {
      fail("poll", errno);
      return got > 0 ? static_cast<long>(got) : -1;
    }
    // An interrupt ends the wait with what has come so far; it stays pending so that the
    // caller's next waitReadable() sees it too.
    if (woken) return static_cast<long>(got);
  }
}

long SerialPort::write(const void* data, std::size_t size) {
  if (!checkOpen()) return -1;
  return writeBounded(data, size, ::write);
}

void SerialPort::close() {
  if (!isOpen()) return;
  // Drop exclusivity first: a pseudo-terminal whose other side keeps the slave open would
  // otherwise stay locked against our own next open.
  ::ioctl(fd(), TIOCNXCL);
  closeDescriptor();
}
