// Writing the sentence log file.
//
// Thread rule: no shared state; a SentenceLog belongs to one thread.
#include "link/sentence_log.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include "link/link_error.h"

namespace {

// How often the open of a FIFO looks again for a reader [ms].
constexpr auto kReaderPollInterval = std::chrono::milliseconds(20);

}  // namespace

std::string LogFileNameOf(const std::string& chosenPath) { return chosenPath + ".TXT"; }

SentenceLog::~SentenceLog() { close(); }

bool SentenceLog::open(const std::string& path) {
  close();
  openError_ = 0;
  holder_.clear();
  const auto started = std::chrono::steady_clock::now();
  for (;;) {
    // Write-only, so a FIFO's reader going away shows as EPIPE instead of a pipe we fill
    // ourselves; non-blocking, so neither the open nor a write can hang on a stalled reader.
    // Not truncated at the open: a file another logger is writing must be left as it is.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0644);
    if (fd >= 0) return takeFile(fd, path);
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

bool SentenceLog::takeFile(int fd, const std::string& path) {
  // One writer per regular file: two loggers into one file would each write at its own
  // offset over the other's sentences. The lock is advisory, held while the file is open,
  // and taken before anything is emptied.
  struct stat what {};
  if (::fstat(fd, &what) == 0 && S_ISREG(what.st_mode)) {
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      openError_ = errno;
      if (openError_ == EWOULDBLOCK) holder_ = DeviceHolder(path);
      ::close(fd);
      return false;
    }
    if (::ftruncate(fd, 0) != 0) {
      openError_ = errno;
      ::close(fd);
      return false;
    }
  }
  fd_ = fd;
  path_ = path;
  return true;
}

std::string SentenceLog::openProblem(const std::string& path) const {
  if (openError_ == EWOULDBLOCK) {
    return path + " is being written by " + (holder_.empty() ? std::string("another log of this program") : holder_) +
           "; stop that log, or choose another file";
  }
  return "cannot create " + path + " (" +
         (openError_ == ENXIO ? std::string("a FIFO that no program reads") : std::strerror(openError_)) + ")";
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
