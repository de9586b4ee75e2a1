// The sentence log: the valid sentences, byte for byte, in a file the user chose. Other
// programs may read the file while it is being written. The file may also be a FIFO or a
// terminal; then a reader that stops reading must not be able to hang us: writes wait for
// room only as long as the write policy allows, and a stop request ends the wait.
//
// Thread rule: one thread owns a SentenceLog (the thread that handles sentences); the stop
// flag of its policy may be set from anywhere.
#pragma once

#include <cstddef>
#include <string>

#include "link/interruptible_write.h"

// The file name for a path the user chose: the path with ".TXT" always appended, even when
// it already ends in ".txt". Any length.
std::string LogFileNameOf(const std::string& chosenPath);

class SentenceLog {
 public:
  using WriteFunction = ::WriteFunction;
  // How long a write (or the open of a FIFO nobody reads yet) waits for room by default: the
  // window's thread must not freeze on a stalled reader [ms].
  static constexpr int kDefaultStallLimitMs = 1000;

  SentenceLog() = default;
  // write replaces the system call, so tests can force short and interrupted writes.
  explicit SentenceLog(WriteFunction writeFunction) : write_(writeFunction) {}
  ~SentenceLog();
  SentenceLog(const SentenceLog&) = delete;
  SentenceLog& operator=(const SentenceLog&) = delete;

  void setWritePolicy(const WritePolicy& policy) { policy_ = policy; }

  // Creates the file, or empties an existing one (mode 0644 before the umask). A regular
  // file is locked while open: a file another log holds (of any program that locks alike) is
  // refused and left as it is. A log that
  // is already open is closed first, so starting a second log never leaks the first file.
  // A FIFO is opened once a program reads it, waiting as the write policy allows. False
  // when the file cannot be created (openError() says why); the log is closed then.
  bool open(const std::string& path);
  // Appends all `size` bytes: short and interrupted writes are continued, so a sentence is
  // never cut short. False when the bytes could not all go (disk full, I/O error, a reader
  // that stopped reading or went away, a stop request; lastWrite() says which); the bytes
  // not written are lost, and the next write tries again.
  bool write(const void* data, std::size_t size);
  void close();
  bool isOpen() const { return fd_ >= 0; }
  const std::string& path() const { return path_; }
  int openError() const { return openError_; }
  // Why the last open failed, in words: "cannot create P (No such file or directory)", or
  // "P is being written by torvikel-cli, pid 4711; stop that log, or choose another file".
  std::string openProblem(const std::string& path) const;
  const WriteOutcome& lastWrite() const { return lastWrite_; }

 private:
  WriteFunction write_ = nullptr;  // nullptr: the system's write()
  WritePolicy policy_{nullptr, kDefaultStallLimitMs};
  bool takeFile(int fd, const std::string& path);

  int fd_ = -1;
  int openError_ = 0;
  std::string holder_;  // who holds the file's lock, when that refused the open
  WriteOutcome lastWrite_;
  std::string path_;
};
