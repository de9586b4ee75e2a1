// Writing the sentence log file.
//
// Thread rule: no shared state; a SentenceLog belongs to one thread.
#include "link/sentence_log.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

namespace {

// How often the open of a FIFO looks again for a reader [ms].
constexpr auto kReaderPollInterval = std::chrono::milliseconds(20);

}  // namespace

std::string LogFileNameOf(const std::string& chosenPath) { return chosenPath + ".TXT"; }

SentenceLog::~SentenceLog() { close(); }

bool SentenceLog::open(const std::string& path) {
  close();
  openError_ = 0;
  const auto started = std::chrono::steady_clock::now();
  for (;;) {
    // Write-only, so a FIFO's reader going away shows as EPIPE instead of a pipe we fill
    // ourselves; non-blocking, so neither the open nor a write can hang on a stalled reader.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0644);
    if (fd >= 0) {
      fd_ = fd;
      path_ = path;
      return true;
    }
    openError_ = errno;
    if (openError_ != ENXIO) return false;  // ENXIO: a FIFO that nobody reads yet
    if (policy_.stop != nullptr && policy_.stop->load()) return false;
    if (policy_.stallLimitMs >= 0 &&
        std::chrono::steady_clock::now() - started >= std::chrono::milliseconds(policy_.stallLimitMs)) {
      return false;
    }
    std::this_thread::sleep_for(kReaderPollInterval);
  }
}

bool SentenceLog::write(const void* data, std::size_t size) {
  if (fd_ < 0) return false;
  lastWrite_ = WriteAllBytes(fd_, data, size, policy_, write_);
  return lastWrite_.end == WriteEnd::Done;
}

void SentenceLog::close() {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
  path_.clear();
}
