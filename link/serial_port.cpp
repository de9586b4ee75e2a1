// POSIX serial layer: gives the program the port operations it was designed around (an
// exclusive open, total read and write time-outs, line state, purge, bytes queued) on Linux
// tty devices and pseudo-terminals, and the same operations on a socket to a receiver on the
// network. A socket's bytes pass through an inbox of our own (gpsd's JSON lines are taken out
// there), so for a socket "bytes queued" counts the inbox and the end of the stream is known. The descriptor is always
// non-blocking; the time-outs are made with poll(), so no call blocks longer than its time-out, and a reader waiting in
// waitReadable() costs no CPU and wakes at once on data or on interrupt().
//
// Thread rule: one thread may read (waitReadable, read, bytesQueued) while another writes;
// interrupt() and lastError() may be called from any thread. open() and close() only while no
// other thread uses the port. The wake-up eventfd lives as long as the object, so interrupt()
// is safe even while the port is closed.
//
// Line state goes through struct termios2 with BOTHER, so any rate reaches the driver,
// 14400 included (it has no Bxxx constant). <termios.h> would clash with the kernel's
// termios2 definitions, so this file uses the kernel header and ioctl() only.
#include "link/serial_port.h"

#include <asm/termbits.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <mutex>
#include <optional>

#include "link/network_source.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kDefaultReadTotalMs = 500;
constexpr int kDefaultWriteTotalMs = 100;

int remainingMs(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

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

}  // namespace

struct SerialPort::Impl {
  int fd = -1;
  int wakeFd = -1;  // eventfd signalled by interrupt()
  // A network receiver: the reading side's own state (reader thread only, as the reads are).
  bool network = false;
  bool readOnly = false;
  bool gpsd = false;
  std::string inbox;       // received, filtered, not yet read
  bool peerEnded = false;  // nothing more will come: closed, reset, or the device gone
  int peerErrno = 0;       // 0: closed in order
  GpsdLineFilter filter;
  int readTotalMs = kDefaultReadTotalMs;
  int writeTotalMs = kDefaultWriteTotalMs;
  mutable std::mutex errorMutex;
  std::string error;
  int errorNumber = 0;

  void fail(const std::string& what, int err) {
    std::lock_guard<std::mutex> lock(errorMutex);
    error = what + ": " + std::strerror(err);
    errorNumber = err;
  }
  void failText(const std::string& what) {
    std::lock_guard<std::mutex> lock(errorMutex);
    error = what;
    errorNumber = 0;
  }
  // A socket: takes what has arrived (one read, never waiting) into the inbox.
  void pull() {
    if (peerEnded) return;
    char buffer[65536];
    const ssize_t n = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
    if (n > 0) {
      if (gpsd) {
        filter.feed(buffer, static_cast<std::size_t>(n), inbox);
        if (filter.deviceGone()) endStream(ENODEV);
      } else {
        inbox.append(buffer, static_cast<std::size_t>(n));
      }
    } else if (n == 0) {
      endStream(0);
    } else if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
      endStream(errno);
    }
  }
  void endStream(int err) {
    peerEnded = true;
    peerErrno = err;
  }
  // The end of a socket's stream as the port's error, once the inbox is read.
  void reportEnd() {
    if (peerErrno == 0) {
      failText("connection closed");
    } else {
      fail("read", peerErrno);
    }
  }
  // Consumes pending wake-ups; true when there was one.
  bool drainWake() const {
    std::uint64_t count = 0;
    return ::read(wakeFd, &count, sizeof count) == static_cast<ssize_t>(sizeof count);
  }
};

SerialPort::SerialPort() : impl_(new Impl) { impl_->wakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC); }

SerialPort::~SerialPort() {
  close();
  if (impl_->wakeFd >= 0) ::close(impl_->wakeFd);
  delete impl_;
}

bool SerialPort::open(const std::string& devicePath) {
  close();
  if (impl_->wakeFd < 0) {
    impl_->failText("cannot create the wake-up event");
    return false;
  }
  const int fd = ::open(devicePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    impl_->fail("open " + devicePath, errno);
    return false;
  }
  // Exclusive use, as the program expects of its port: further opens fail with EBUSY
  // (except for processes with CAP_SYS_ADMIN, which the kernel always lets through).
  if (::ioctl(fd, TIOCEXCL) != 0) {
    impl_->fail("exclusive access to " + devicePath, errno);
    ::close(fd);
    return false;
  }
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int error = errno == EWOULDBLOCK ? EBUSY : errno;
    impl_->fail("lock " + devicePath, error);
    ::ioctl(fd, TIOCNXCL);
    ::close(fd);
    return false;
  }
  struct termios2 tio {};
  if (::ioctl(fd, TCGETS2, &tio) != 0) {
    impl_->fail("line settings of " + devicePath, errno);
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
    impl_->fail("raw mode on " + devicePath, errno);
    ::ioctl(fd, TIOCNXCL);
    ::close(fd);
    return false;
  }
  impl_->fd = fd;
  impl_->drainWake();  // an interrupt() aimed at an earlier session must not end this one
  return true;
}

LinkError SerialPort::openNetwork(const std::string& portName, int timeoutMs, const std::function<bool()>& cancelled) {
  close();
  std::string problem;
  const std::optional<NetworkAddress> address = ParseNetworkAddress(portName, &problem);
  if (!address) return {"Open ComPort failed.", portName, 0, LinkCause::BadPortName, problem, problem};
  impl_->drainWake();  // only a stop made during this attempt may end it
  NetworkConnectResult connected = ConnectNetworkSource(portName, *address, impl_->wakeFd, timeoutMs, cancelled);
  if (connected.fd < 0) {
    impl_->failText(connected.error.detail);
    return connected.error;
  }
  impl_->fd = connected.fd;
  impl_->network = true;
  impl_->gpsd = address->kind == NetworkKind::Gpsd;
  impl_->readOnly = impl_->gpsd;
  impl_->inbox = std::move(connected.pending);
  impl_->filter = std::move(connected.filter);
  impl_->peerEnded = false;
  impl_->peerErrno = 0;
  return {};
}

bool SerialPort::isOpen() const { return impl_->fd >= 0; }

bool SerialPort::isNetwork() const { return impl_->network; }

bool SerialPort::isReadOnly() const { return impl_->readOnly; }

bool SerialPort::setTimeouts(int readTotalMs, int writeTotalMs) {
  if (readTotalMs < 0 || writeTotalMs < 0) {
    impl_->failText("negative time-out");
    return false;
  }
  impl_->readTotalMs = readTotalMs;
  impl_->writeTotalMs = writeTotalMs;
  return true;
}

bool SerialPort::setupQueues(int /*inputBytes*/, int /*outputBytes*/) {
  // Linux tty drivers size their own buffers; there is nothing to request.
  return true;
}

bool SerialPort::getState(LineState& state) {
  if (impl_->fd < 0) {
    impl_->failText("port not open");
    return false;
  }
  if (impl_->network) {
    impl_->fail("line settings of a network receiver", ENOTTY);
    return false;
  }
  struct termios2 tio {};
  if (::ioctl(impl_->fd, TCGETS2, &tio) != 0) {
    impl_->fail("read line settings", errno);
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
  if (impl_->fd < 0) {
    impl_->failText("port not open");
    return false;
  }
  if (impl_->network) {
    impl_->fail("line settings of a network receiver", ENOTTY);
    return false;
  }
  if (state.baudRate == 0) {
    impl_->failText("baud rate 0");
    return false;
  }
  tcflag_t size = CS8;
  switch (state.dataBits) {
    case 5: size = CS5; break;
    case 6: size = CS6; break;
    case 7: size = CS7; break;
    case 8: size = CS8; break;
    default: impl_->failText("unsupported number of data bits"); return false;
  }
  if (state.stopBits != 1 && state.stopBits != 2) {
    impl_->failText("unsupported number of stop bits");
    return false;
  }
  struct termios2 tio {};
  if (::ioctl(impl_->fd, TCGETS2, &tio) != 0) {
    impl_->fail("read line settings", errno);
    return false;
  }
  // Same rate in both directions: BOTHER for output, and input speed 0 in CIBAUD means
  // "as output".
  tio.c_cflag &= ~static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT) | CSIZE | PARENB | PARODD | CSTOPB);
  tio.c_cflag |= BOTHER | size | CLOCAL | CREAD;
  if (state.parity) tio.c_cflag |= PARENB;  // even parity
  if (state.stopBits == 2) tio.c_cflag |= CSTOPB;
  tio.c_ospeed = state.baudRate;
  tio.c_ispeed = state.baudRate;
  if (::ioctl(impl_->fd, TCSETS2, &tio) != 0) {
    impl_->fail("apply line settings", errno);
    return false;
  }
  return true;
}

bool SerialPort::purge() {
  if (impl_->fd < 0) {
    impl_->failText("port not open");
    return false;
  }
  if (impl_->network) return true;  // no driver queue holds stale bytes
  if (::ioctl(impl_->fd, TCFLSH, TCIOFLUSH) != 0) {
    impl_->fail("purge", errno);
    return false;
  }
  return true;
}

int SerialPort::bytesQueued() {
  if (impl_->fd < 0) {
    impl_->failText("port not open");
    return -1;
  }
  if (impl_->network) {
    impl_->pull();
    if (!impl_->inbox.empty()) return static_cast<int>(std::min<std::size_t>(impl_->inbox.size(), 1 << 30));
    if (!impl_->peerEnded) return 0;
    impl_->reportEnd();
    return -1;
  }
  int count = 0;
  if (::ioctl(impl_->fd, FIONREAD, &count) != 0) {
    impl_->fail("bytes queued", errno);
    return -1;
  }
  return count;
}

bool SerialPort::waitReadable(int timeoutMs) {
  const int fd = impl_->fd;
  if (fd < 0) {
    impl_->failText("port not open");
    return false;
  }
  if (impl_->network && (!impl_->inbox.empty() || impl_->peerEnded)) return true;
  struct pollfd fds[2] = {{fd, POLLIN, 0}, {impl_->wakeFd, POLLIN, 0}};
  const int ready = ::poll(fds, 2, timeoutMs < 0 ? -1 : timeoutMs);
  if (ready < 0) {
    if (errno != EINTR) impl_->fail("poll", errno);
    return false;
  }
  if (fds[1].revents & POLLIN) {
    impl_->drainWake();
    return false;
  }
  // POLLHUP/POLLERR count as "something to report": the caller's read then says what.
  return (fds[0].revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL)) != 0;
}

void SerialPort::pause(int timeoutMs) {
  struct pollfd fds[1] = {{impl_->wakeFd, POLLIN, 0}};
  ::poll(fds, impl_->wakeFd < 0 ? 0 : 1, timeoutMs);
}

bool SerialPort::lineGone() {
  const int fd = impl_->fd;
  if (fd < 0) return true;
  if (impl_->network) {
    impl_->pull();
    if (!impl_->inbox.empty() || !impl_->peerEnded) return false;
    impl_->reportEnd();
    return true;
  }
  struct pollfd pfd = {fd, POLLIN, 0};
  if (::poll(&pfd, 1, 0) <= 0) return false;
  if ((pfd.revents & POLLNVAL) != 0) {
    impl_->fail("poll", EBADF);
    return true;
  }
  if ((pfd.revents & (POLLHUP | POLLERR)) == 0) return false;  // readable data is no loss
  int queued = 0;
  if (::ioctl(fd, FIONREAD, &queued) == 0 && queued > 0) return false;  // the last bytes first
  // Nothing more will come. A read says why: the end of the stream (0) for a hung-up
  // terminal, EIO or ENODEV for a removed device or a closed pseudo-terminal.
  unsigned char byte = 0;
  const ssize_t n = ::read(fd, &byte, 1);
  if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
    impl_->fail("read", errno);
  } else {
    impl_->failText("hang-up");
  }
  return true;
}

void SerialPort::interrupt() {
  if (impl_->wakeFd < 0) return;
  const std::uint64_t one = 1;
  // A full counter (never in practice) still leaves the event readable; nothing to report.
  [[maybe_unused]] const ssize_t n = ::write(impl_->wakeFd, &one, sizeof one);
}

long SerialPort::read(void* buffer, std::size_t size) {
  const int fd = impl_->fd;
  if (fd < 0) {
    impl_->failText("port not open");
    return -1;
  }
  if (size == 0) return 0;
  auto* out = static_cast<unsigned char*>(buffer);
  std::size_t got = 0;
  const auto deadline = Clock::now() + std::chrono::milliseconds(impl_->readTotalMs);
  if (impl_->network) return readInbox(out, size, deadline);
  for (;;) {
    const ssize_t n = ::read(fd, out + got, size - got);
    if (n > 0) {
      got += static_cast<std::size_t>(n);
      if (got == size) return static_cast<long>(got);
      continue;
    }
    if (n == 0) return static_cast<long>(got);  // hang-up: nothing more will come
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) {
      impl_->fail("read", errno);
      return got > 0 ? static_cast<long>(got) : -1;
    }
    const int left = remainingMs(deadline);
    if (left == 0) return static_cast<long>(got);
    struct pollfd fds[2] = {{fd, POLLIN, 0}, {impl_->wakeFd, POLLIN, 0}};
    const int ready = ::poll(fds, 2, left);
    if (ready < 0 && errno != EINTR) {
      impl_->fail("poll", errno);
      return got > 0 ? static_cast<long>(got) : -1;
    }
    // An interrupt ends the wait with what has come so far; it stays pending so that the
    // caller's next waitReadable() sees it too.
    if (ready > 0 && (fds[1].revents & POLLIN)) return static_cast<long>(got);
  }
}

long SerialPort::readInbox(unsigned char* out, std::size_t size, std::chrono::steady_clock::time_point deadline) {
  std::size_t got = 0;
  for (;;) {
    impl_->pull();
    const std::size_t take = std::min(size - got, impl_->inbox.size());
    impl_->inbox.copy(reinterpret_cast<char*>(out) + got, take);
    impl_->inbox.erase(0, take);
    got += take;
    if (got == size) return static_cast<long>(got);
    if (impl_->peerEnded) {
      if (got > 0) return static_cast<long>(got);
      impl_->reportEnd();
      return impl_->peerErrno == 0 ? 0 : -1;
    }
    const int left = remainingMs(deadline);
    if (left == 0) return static_cast<long>(got);
    struct pollfd fds[2] = {{impl_->fd, POLLIN, 0}, {impl_->wakeFd, POLLIN, 0}};
    const int ready = ::poll(fds, 2, left);
    if (ready > 0 && (fds[1].revents & POLLIN)) return static_cast<long>(got);  // the interrupt stays pending
  }
}

long SerialPort::write(const void* data, std::size_t size) {
  const int fd = impl_->fd;
  if (fd < 0) {
    impl_->failText("port not open");
    return -1;
  }
  if (impl_->readOnly) {
    impl_->failText("read-only: gpsd owns the receiver");
    return -1;
  }
  const auto* in = static_cast<const unsigned char*>(data);
  std::size_t done = 0;
  const auto deadline = Clock::now() + std::chrono::milliseconds(impl_->writeTotalMs);
  while (done < size) {
    // A socket whose peer has gone must fail the write, not raise SIGPIPE.
    const ssize_t n = impl_->network ? ::send(fd, in + done, size - done, MSG_NOSIGNAL | MSG_DONTWAIT)
                                     : ::write(fd, in + done, size - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
      impl_->fail("write", errno);
      return done > 0 ? static_cast<long>(done) : -1;
    }
    const int left = remainingMs(deadline);
    if (left == 0) {
      impl_->failText("write time-out");
      return static_cast<long>(done);
    }
    struct pollfd pfd = {fd, POLLOUT, 0};
    if (::poll(&pfd, 1, left) < 0 && errno != EINTR) {
      impl_->fail("poll", errno);
      return done > 0 ? static_cast<long>(done) : -1;
    }
  }
  return static_cast<long>(done);
}

void SerialPort::close() {
  if (impl_->fd < 0) return;
  // Drop exclusivity first: a pseudo-terminal whose other side keeps the slave open would
  // otherwise stay locked against our own next open.
  if (!impl_->network) ::ioctl(impl_->fd, TIOCNXCL);
  ::close(impl_->fd);
  impl_->fd = -1;
  impl_->network = false;
  impl_->readOnly = false;
  impl_->gpsd = false;
  impl_->inbox.clear();
  impl_->inbox.shrink_to_fit();
  impl_->peerEnded = false;
  impl_->peerErrno = 0;
  impl_->filter = GpsdLineFilter();
}

int SerialPort::fd() const { return impl_->fd; }

std::string SerialPort::lastError() const {
  std::lock_guard<std::mutex> lock(impl_->errorMutex);
  return impl_->error;
}

int SerialPort::lastErrorNumber() const {
  std::lock_guard<std::mutex> lock(impl_->errorMutex);
  return impl_->errorNumber;
}
