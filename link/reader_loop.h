// The reader's read loop without a thread class: waits for bytes, reads exactly what is
// queued, cuts the stream into sentences and hands each one over, in order. The window's
// Thread1 and the command-line tool both run it on a thread of their own.
//
// Thread rule: runs on the reader thread only. The port must stay open until the loop has
// returned; stop it by making stopRequested() true and calling port.interrupt().
#pragma once

#include <functional>
#include <string_view>

class SerialPort;

struct ReaderLoopStats {
  unsigned long long bytesRead = 0;
  unsigned long long sentences = 0;
};

// Blocks until stopRequested() returns true (checked at the top of every pass and after every
// delivered sentence). deliver() is called once per sentence with a view valid only during
// the call. A silent port costs no CPU: the loop sleeps in poll() until bytes arrive or the
// port is interrupted, so a stop request must come with port.interrupt().
ReaderLoopStats RunReaderLoop(SerialPort& port, const std::function<bool()>& stopRequested,
                              const std::function<void(std::string_view)>& deliver);
