// The parts of a stream on one descriptor that do not depend on what the descriptor is.
//
// Thread rule: see the header.
#include "link/descriptor_stream.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>

#include "link/deadline.h"

namespace {

constexpr int kDefaultReadTotalMs = 500;
constexpr int kDefaultWriteTotalMs = 100;

}  // namespace

DescriptorStream::DescriptorStream()
    : wakeFd_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)),
      readTotalMs_(kDefaultReadTotalMs),
      writeTotalMs_(kDefaultWriteTotalMs) {}

DescriptorStream::~DescriptorStream() {
  closeDescriptor();
  if (wakeFd_ >= 0) ::close(wakeFd_);
}

bool DescriptorStream::setTimeouts(int readTotalMs, int writeTotalMs) {
  if (readTotalMs < 0 || writeTotalMs < 0) {
    failText("negative time-out");
    return false;
  }
  readTotalMs_ = readTotalMs;
  writeTotalMs_ = writeTotalMs;
  return true;
}

bool DescriptorStream::waitReadable(int timeoutMs) {
  if (!checkOpen()) return false;
  short revents = 0;
  bool woken = false;
  const int ready = pollWithWake(POLLIN, timeoutMs < 0 ? -1 : timeoutMs, &revents, &woken);
  if (ready < 0) {
    if (errno != EINTR) fail("poll", errno);
    return false;
  }
  if (woken) {
    drainWake();
    return false;
  }
  // POLLHUP/POLLERR count as "something to report": the caller's read then says what.
  return (revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL)) != 0;
}

void DescriptorStream::pause(int timeoutMs) {
  struct pollfd fds[1] = {{wakeFd_, POLLIN, 0}};
  ::poll(fds, wakeFd_ < 0 ? 0 : 1, timeoutMs);
}

void DescriptorStream::interrupt() {
  if (wakeFd_ < 0) return;
  const std::uint64_t one = 1;
  // A full counter (never in practice) still leaves the event readable; nothing to report.
  [[maybe_unused]] const ssize_t n = ::write(wakeFd_, &one, sizeof one);
}

std::string DescriptorStream::lastError() const { return recordedError().text; }

int DescriptorStream::lastErrorNumber() const { return recordedError().number; }

DescriptorStream::Failure DescriptorStream::recordedError() const {
  std::lock_guard<std::mutex> lock(errorMutex_);
  return error_;
}

bool DescriptorStream::checkOpen() {
  if (fd_ >= 0) return true;
  failText("port not open");
  return false;
}

void DescriptorStream::fail(const std::string& what, int errorNumber) {
  record({what + ": " + std::strerror(errorNumber), errorNumber});
}

void DescriptorStream::failText(const std::string& what) { record({what, 0}); }

void DescriptorStream::record(Failure failure) {
  std::lock_guard<std::mutex> lock(errorMutex_);
  error_ = std::move(failure);
}

int DescriptorStream::pollWithWake(short events, int timeoutMs, short* revents, bool* woken) const {
  struct pollfd fds[2] = {{fd_, events, 0}, {wakeFd_, POLLIN, 0}};
  const int ready = ::poll(fds, wakeFd_ < 0 ? 1 : 2, timeoutMs);
  *revents = ready > 0 ? fds[0].revents : 0;
  *woken = ready > 0 && wakeFd_ >= 0 && (fds[1].revents & POLLIN) != 0;
  return ready;
}

bool DescriptorStream::drainWake() const {
  std::uint64_t count = 0;
  return ::read(wakeFd_, &count, sizeof count) == static_cast<ssize_t>(sizeof count);
}

long DescriptorStream::writeBounded(const void* data, std::size_t size, WriteSome writeSome) {
  const auto* in = static_cast<const unsigned char*>(data);
  std::size_t done = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(writeTotalMs_);
  while (done < size) {
    const ssize_t n = writeSome(fd_, in + done, size - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
      fail("write", errno);
      return done > 0 ? static_cast<long>(done) : -1;
    }
    const int left = RemainingMs(deadline);
    if (left == 0) {
      failText("write time-out");
      return static_cast<long>(done);
    }
    struct pollfd pfd = {fd_, POLLOUT, 0};
    if (::poll(&pfd, 1, left) < 0 && errno != EINTR) {
      fail("poll", errno);
      return done > 0 ? static_cast<long>(done) : -1;
    }
  }
  return static_cast<long>(done);
}

void DescriptorStream::adopt(int fd) { fd_ = fd; }

void DescriptorStream::closeDescriptor() {
  if (fd_ < 0) return;
  ::close(fd_);
  fd_ = -1;
}
