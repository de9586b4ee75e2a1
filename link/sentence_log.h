// The sentence log: the valid sentences, byte for byte, in a file the user chose. Other
// programs may read the file while it is being written.
//
// Thread rule: one thread owns a SentenceLog (the thread that handles sentences).
#pragma once

#include <cstddef>
#include <string>
#include <sys/types.h>
#include <unistd.h>

// The file name for a path the user chose: the path with ".TXT" always appended, even when
// it already ends in ".txt". Any length.
std::string LogFileNameOf(const std::string& chosenPath);

class SentenceLog {
 public:
  // The system call that writes; replaceable so tests can force short and interrupted writes.
  using WriteFunction = ssize_t (*)(int fd, const void* data, std::size_t size);

  SentenceLog() = default;
  explicit SentenceLog(WriteFunction writeFunction) : write_(writeFunction) {}
  ~SentenceLog();
  SentenceLog(const SentenceLog&) = delete;
  SentenceLog& operator=(const SentenceLog&) = delete;

  // Creates the file, or empties an existing one (mode 0644 before the umask). A log that
  // is already open is closed first, so starting a second log never leaks the first file.
  // False when the file cannot be created; the log is closed then.
  bool open(const std::string& path);
  // Appends all `size` bytes: short and interrupted writes are continued, so a sentence is
  // never cut short. False when the file refuses bytes (disk full, I/O error); the bytes
  // not written are lost, and the next write tries again.
  bool write(const void* data, std::size_t size);
  void close();
  bool isOpen() const { return fd_ >= 0; }
  const std::string& path() const { return path_; }

 private:
  WriteFunction write_ = ::write;
  int fd_ = -1;
  std::string path_;
};
