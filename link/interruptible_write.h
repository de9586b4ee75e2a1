// Writing all of a buffer to a file, pipe, FIFO or terminal so that a stop request can
// always end the write. A plain blocking write() into a pipe whose reader has stopped
// reading never returns, and a signal that lands just before the write blocks is missed;
// retrying an interrupted write would block again. So descriptors that can block are
// written non-blocking, and the wait for room is poll() in short slices that looks at the
// stop flag between them (a signal also cuts a slice short).
//
// Thread rule: reentrant; one descriptor is written by one thread at a time. The stop flag
// may be set from a signal handler or any thread.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <cstddef>

enum class WriteEnd {
  Done,        // every byte went out
  Stopped,     // the stop flag was set while the write had to wait
  Stalled,     // no byte could go for the stall limit
  PeerClosed,  // the reading end of the pipe, FIFO or socket is gone (EPIPE)
  Failed,      // any other error (disk full, I/O error); error says which
};

struct WriteOutcome {
  WriteEnd end = WriteEnd::Done;
  std::size_t written = 0;  // bytes that did go out
  int error = 0;            // errno of a failure, 0 otherwise
};

struct WritePolicy {
  const std::atomic<bool>* stop = nullptr;  // nullptr: never stopped
  int stallLimitMs = -1;                    // -1: wait for room until stopped
};

// The system call that writes; replaceable so tests can force short and interrupted writes.
using WriteFunction = ssize_t (*)(int fd, const void* data, std::size_t size);

// Writes all `size` bytes of data to fd: short and interrupted writes are continued; a full
// pipe is waited for as the policy says. fd should be non-blocking (OpenNonBlockingWriter);
// on a blocking one only a signal can cut a wait short.
WriteOutcome WriteAllBytes(int fd, const void* data, std::size_t size, const WritePolicy& policy,
                           WriteFunction write = nullptr);

// A descriptor for writing what goes to fd without ever blocking, for descriptors this
// program did not open itself (standard output): fd's own file status is shared with other
// programs (the shell's terminal), so it is not changed; pipes, FIFOs and terminals get a
// new non-blocking open of the same object instead. Returns fd itself for regular files and
// where no such open is possible (a socket, a pipe whose reader is already gone); the
// caller closes the result when it differs from fd.
int OpenNonBlockingWriter(int fd);
