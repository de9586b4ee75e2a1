// What every stream on one file descriptor has in common, whether the descriptor is a
// terminal or a socket: the wake-up event that interrupt() signals, the total time-outs, the
// last error, the "port not open" refusal, the wait for bytes and the bounded write. The
// descriptor is always non-blocking; the time-outs are made with poll(), so no call blocks
// longer than its time-out, and a reader waiting in waitReadable() costs no CPU and wakes at
// once on data or on interrupt().
//
// Thread rule: as ByteStream. The wake-up eventfd lives as long as the object, so interrupt()
// is safe even while the descriptor is closed; the error is kept under a mutex, as another
// thread may ask for it.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <mutex>
#include <string>

#include "link/byte_stream.h"

class DescriptorStream : public ByteStream {
 public:
  ~DescriptorStream() override;

  bool isOpen() const override { return fd_ >= 0; }
  bool setTimeouts(int readTotalMs, int writeTotalMs) override;
  // The descriptor and its POLLIN, POLLHUP and POLLERR: true for any of them.
  bool waitReadable(int timeoutMs) override;
  void pause(int timeoutMs) override;
  void interrupt() override;
  std::string lastError() const override;
  int lastErrorNumber() const override;
  int fd() const { return fd_; }

 protected:
  DescriptorStream();

  // Records "port not open" and returns false when no descriptor is open.
  bool checkOpen();
  void fail(const std::string& what, int errorNumber);
  void failText(const std::string& what);
  // One poll() of the descriptor for events and of the wake-up event, at most timeoutMs
  // (negative: without limit). Returns what poll() returns; *revents gets the descriptor's
  // events and *woken whether interrupt() was called (left pending).
  int pollWithWake(short events, int timeoutMs, short* revents, bool* woken) const;
  // Consumes pending wake-ups; true when there was one.
  bool drainWake() const;
  bool hasWakeEvent() const { return wakeFd_ >= 0; }
  // The system call that writes a part of the bytes without blocking.
  using WriteSome = ssize_t (*)(int fd, const void* data, std::size_t size);
  // Writes all of data through writeSome within the write time-out, waiting for room with
  // poll(). The count written; -1 when nothing went out and the descriptor failed.
  long writeBounded(const void* data, std::size_t size, WriteSome writeSome);
  // Takes over a descriptor just opened (non-blocking, close-on-exec); closeDescriptor() and
  // the destructor close it.
  void adopt(int fd);
  void closeDescriptor();
  int readTotalMs() const { return readTotalMs_; }

 private:
  int fd_ = -1;
  int wakeFd_ = -1;  // eventfd signalled by interrupt()
  int readTotalMs_;
  int writeTotalMs_;
  // The last failure: its words and its errno.
  struct Failure {
    std::string text;
    int number = 0;
  };
  void record(Failure failure);
  Failure recordedError() const;

  mutable std::mutex errorMutex_;
  Failure error_;
};
