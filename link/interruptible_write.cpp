// Complete writes that a stop flag can end, and non-blocking writers for inherited
// descriptors.
//
// Thread rule: reentrant.
#include "link/interruptible_write.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <string>

namespace {

// Longest single wait for room before the stop flag is looked at again [ms].
constexpr int kStopCheckSliceMs = 100;

bool stopSet(const WritePolicy& policy) { return policy.stop != nullptr && policy.stop->load(); }

}  // namespace

WriteOutcome WriteAllBytes(int fd, const void* data, std::size_t size, const WritePolicy& policy, WriteFunction write) {
  if (write == nullptr) write = ::write;
  WriteOutcome outcome;
  const char* bytes = static_cast<const char*>(data);
  using Clock = std::chrono::steady_clock;
  Clock::time_point lastProgress = Clock::now();
  while (outcome.written < size) {
    const ssize_t result = write(fd, bytes + outcome.written, size - outcome.written);
    if (result > 0) {
      outcome.written += static_cast<std::size_t>(result);
      lastProgress = Clock::now();
      continue;
    }
    const int error = result < 0 ? errno : 0;
    if (error == EPIPE) {
      outcome.end = WriteEnd::PeerClosed;
      outcome.error = error;
      return outcome;
    }
    if (error != EINTR && error != EAGAIN && error != EWOULDBLOCK) {
      outcome.end = WriteEnd::Failed;
      outcome.error = error == 0 ? EIO : error;  // a write of 0 bytes makes no progress either
      return outcome;
    }
    // Interrupted, or no room: wait for room in slices, looking at the stop flag between them.
    if (stopSet(policy)) {
      outcome.end = WriteEnd::Stopped;
      return outcome;
    }
    int sliceMs = kStopCheckSliceMs;
    if (policy.stallLimitMs >= 0) {
      const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - lastProgress).count();
      if (waited >= policy.stallLimitMs) {
        outcome.end = WriteEnd::Stalled;
        return outcome;
      }
      sliceMs = static_cast<int>(std::min<long long>(sliceMs, policy.stallLimitMs - waited));
    }
    if (error == EINTR) continue;  // try at once: the signal may have been someone else's
    pollfd ready{fd, POLLOUT, 0};
    ::poll(&ready, 1, sliceMs);  // room, an error to report, a signal or the slice's end
  }
  return outcome;
}

int OpenNonBlockingWriter(int fd) {
  struct stat info {};
  if (::fstat(fd, &info) != 0) return fd;
  if (!S_ISFIFO(info.st_mode) && !S_ISCHR(info.st_mode)) return fd;
  const std::string path = "/proc/self/fd/" + std::to_string(fd);
  const int own = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  return own >= 0 ? own : fd;
}
