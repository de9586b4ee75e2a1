// A receiver on the network over TCP: the bounded connect, the inbox, the end of the stream.
//
// Thread rule: see the header.
#include "link/tcp_stream.h"

#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "link/deadline.h"

namespace {

constexpr int kCancelCheckMs = 100;

// A socket whose peer has gone must fail the write, not raise SIGPIPE.
ssize_t sendSome(int fd, const void* data, std::size_t size) {
  return ::send(fd, data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
}

}  // namespace

TcpStream::~TcpStream() { close(); }

LinkError TcpStream::open(const std::string& portName, const NetworkAddress& address, int timeoutMs,
                          const std::function<bool()>& cancelled) {
  close();
  // Without its wake-up event a reader waiting on a quiet socket could never be stopped.
  if (!hasWakeEvent()) {
    const LinkError error = ConnectFailed(portName, address, EMFILE);
    failText("cannot create the wake-up event");
    return error;
  }
  drainWake();  // only a stop made during this attempt may end it
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_ADDRCONFIG;
  addrinfo* found = nullptr;
  // The look-up itself cannot be cut short; the system resolver bounds it.
  const int lookup = ::getaddrinfo(address.host.c_str(), address.port.c_str(), &hints, &found);
  if (lookup != 0) {
    const LinkError error =
        HostNotFound(portName, address, lookup == EAI_SYSTEM ? std::strerror(errno) : ::gai_strerror(lookup));
    failText(error.detail);
    return error;
  }
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  int lastError = ECONNREFUSED;
  bool stopped = false;
  for (const addrinfo* ai = found; ai != nullptr && !stopped; ai = ai->ai_next) {
    const int fd = ::socket(ai->ai_family, ai->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, ai->ai_protocol);
    if (fd < 0) {
      lastError = errno;
      continue;
    }
    adopt(fd);
    lastError = connectOne(ai, deadline, cancelled, &stopped);
    if (lastError == 0) break;
    closeDescriptor();
    if (lastError == ETIMEDOUT) break;  // the time is spent
  }
  ::freeaddrinfo(found);
  LinkError error;
  if (!isOpen()) {
    error = stopped ? ConnectStopped(portName, address) : ConnectFailed(portName, address, lastError);
  } else {
    const int one = 1;
    ::setsockopt(fd(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);  // a command goes out at once
    error = afterConnect(portName, address, deadline, cancelled);
    if (error.failed()) close();
  }
  if (error.failed()) failText(error.detail);
  return error;
}

int TcpStream::connectOne(const addrinfo* address, Clock::time_point deadline, const std::function<bool()>& cancelled,
                          bool* stopped) {
  if (::connect(fd(), address->ai_addr, address->ai_addrlen) == 0) return 0;
  if (errno != EINPROGRESS && errno != EINTR) return errno;
  const int ready = waitUntil(POLLOUT, deadline, cancelled);
  if (ready < 0) {
    *stopped = true;
    return EINTR;
  }
  if (ready == 0) return ETIMEDOUT;
  int err = 0;
  socklen_t length = sizeof err;
  if (::getsockopt(fd(), SOL_SOCKET, SO_ERROR, &err, &length) != 0) return errno;
  return err;
}

int TcpStream::waitUntil(short events, Clock::time_point deadline, const std::function<bool()>& cancelled) {
  for (;;) {
    if (cancelled && cancelled()) return -1;
    const int left = RemainingMs(deadline);
    if (left == 0) return 0;
    short revents = 0;
    bool woken = false;
    const int ready = pollWithWake(events, std::min(left, kCancelCheckMs), &revents, &woken);
    if (ready < 0 && errno != EINTR) return 1;  // the next call on the socket says what is wrong
    if (woken) return -1;
    if (ready > 0 && revents != 0) return 1;
  }
}

LinkError TcpStream::afterConnect(const std::string&, const NetworkAddress&, Clock::time_point,
                                  const std::function<bool()>&) {
  return {};
}

void TcpStream::received(const char* data, std::size_t size, std::string& inbox) { inbox.append(data, size); }

void TcpStream::endStream(int err) {
  peerEnded_ = true;
  peerErrno_ = err;
}

void TcpStream::pull() {
  if (peerEnded_) return;
  char buffer[65536];
  const ssize_t n = ::recv(fd(), buffer, sizeof buffer, MSG_DONTWAIT);
  if (n > 0) {
    received(buffer, static_cast<std::size_t>(n), inbox_);
  } else if (n == 0) {
    endStream(0);
  } else if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
    endStream(errno);
  }
}

void TcpStream::reportEnd() {
  if (peerErrno_ == 0) {
    failText("connection closed");
  } else {
    fail("read", peerErrno_);
  }
}

int TcpStream::bytesQueued() {
  if (!checkOpen()) return -1;
  pull();
  if (!inbox_.empty()) return static_cast<int>(std::min<std::size_t>(inbox_.size(), 1 << 30));
  if (!peerEnded_) return 0;
  reportEnd();
  return -1;
}

bool TcpStream::waitReadable(int timeoutMs) {
  if (!checkOpen()) return false;
  if (!inbox_.empty() || peerEnded_) return true;
  return DescriptorStream::waitReadable(timeoutMs);
}

bool TcpStream::lineGone() {
  if (!isOpen()) return true;
  pull();
  if (!inbox_.empty() || !peerEnded_) return false;
  reportEnd();
  return true;
}

long TcpStream::read(void* buffer, std::size_t size) {
  if (!checkOpen()) return -1;
  if (size == 0) return 0;
  auto* out = static_cast<char*>(buffer);
  std::size_t got = 0;
  const auto deadline = Clock::now() + std::chrono::milliseconds(readTotalMs());
  for (;;) {
    pull();
    const std::size_t take = std::min(size - got, inbox_.size());
    inbox_.copy(out + got, take);
    inbox_.erase(0, take);
    got += take;
    if (got == size) return static_cast<long>(got);
    if (peerEnded_) {
      if (got > 0) return static_cast<long>(got);
      reportEnd();
      return peerErrno_ == 0 ? 0 : -1;
    }
    const int left = RemainingMs(deadline);
    if (left == 0) return static_cast<long>(got);
    short revents = 0;
    bool woken = false;
    pollWithWake(POLLIN, left, &revents, &woken);
    if (woken) return static_cast<long>(got);  // the interrupt stays pending
  }
}

long TcpStream::write(const void* data, std::size_t size) {
  if (!checkOpen()) return -1;
  return writeBounded(data, size, sendSome);
}

void TcpStream::close() {
  if (!isOpen()) return;
  closeDescriptor();
  inbox_.clear();
  inbox_.shrink_to_fit();
  peerEnded_ = false;
  peerErrno_ = 0;
}
