// Writing the sentence log file.
//
// Thread rule: no shared state; a SentenceLog belongs to one thread.
#include "link/sentence_log.h"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace {

// A log on a pipe or a device that is full for this long is given up for this write.
constexpr int kWriteStallTimeoutMs = 1000;

}  // namespace

std::string LogFileNameOf(const std::string& chosenPath) { return chosenPath + ".TXT"; }

SentenceLog::~SentenceLog() { close(); }

bool SentenceLog::open(const std::string& path) {
  close();
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  fd_ = fd;
  path_ = path;
  return true;
}

bool SentenceLog::write(const void* data, std::size_t size) {
  if (fd_ < 0) return false;
  const char* bytes = static_cast<const char*>(data);
  std::size_t written = 0;
  while (written < size) {
    const ssize_t result = write_(fd_, bytes + written, size - written);
    if (result > 0) {
      written += static_cast<std::size_t>(result);
      continue;
    }
    if (result < 0 && errno == EINTR) continue;
    if (result < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      pollfd ready{fd_, POLLOUT, 0};
      const int polled = ::poll(&ready, 1, kWriteStallTimeoutMs);
      if (polled > 0 || (polled < 0 && errno == EINTR)) continue;
    }
    return false;  // error, or no progress at all
  }
  return true;
}

void SentenceLog::close() {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
  path_.clear();
}
