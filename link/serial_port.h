// Thin POSIX serial layer with the operations the connection and the readers need:
// open exclusively, time-outs, queue sizes, line state, purge, bytes queued, read, write,
// close. Works on real ports (USB, ACM, rfcomm, on-board) and on pseudo-terminals, and on a
// receiver on the network (a socket: tcp://, or gpsd:// read-only), where the line state does
// not apply and the same reads, waits and loss detection work on the socket.
//
// Thread rule: one thread may read while another writes. close() must only be called when
// no other thread can still use the port (join the reader first); interrupt() may be called
// from any thread to wake a reader blocked in waitReadable().
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "link/link_error.h"

struct LineState {
  std::uint32_t baudRate = 0;  // [bit/s]
  int dataBits = 8;
  bool parity = false;
  int stopBits = 1;
};

class SerialPort {
 public:
  SerialPort();
  ~SerialPort();  // closes
  SerialPort(const SerialPort&) = delete;
  SerialPort& operator=(const SerialPort&) = delete;

  // Opens a device path for reading and writing, exclusively, raw mode. Exclusive twice
  // over: TIOCEXCL keeps other programs out (but not root), and an advisory lock (flock, as
  // other serial tools take it) keeps a second program of ours out, root included; a held
  // lock fails the open with EBUSY. Both go with close().
  bool open(const std::string& devicePath);
  // Connects to a network receiver ("tcp://host:port", "gpsd://host[:port][/device]") within
  // timeoutMs; interrupt() or cancelled() (asked at least every 100 ms) stops the attempt.
  // The failure with its cause and its explanation otherwise (error.failed()).
  LinkError openNetwork(const std::string& portName, int timeoutMs, const std::function<bool()>& cancelled = {});
  bool isOpen() const;
  // A network receiver: no line state (getState and setState fail), nothing to purge.
  bool isNetwork() const;
  // Read through gpsd, which owns the receiver: every write fails without sending anything.
  bool isReadOnly() const;
  // Read total time-out and write total time-out [ms]; a read returns what is there after
  // at most readTotalMs, a write gives up after writeTotalMs (then lastError() says
  // "write time-out" and the count of bytes that did go out is returned). Defaults 500 and 100.
  bool setTimeouts(int readTotalMs, int writeTotalMs);
  bool setupQueues(int inputBytes, int outputBytes);  // accepted, nothing to do on Linux
  bool getState(LineState& state);
  // Applies baud, 8 data bits, no parity, one stop bit, raw; any rate via termios2 (BOTHER).
  bool setState(const LineState& state);
  bool purge();       // drop both directions
  int bytesQueued();  // FIONREAD; -1 on error
  // Waits until bytes are queued, the port fails, interrupt() is called or timeoutMs passes
  // (a negative timeoutMs waits without limit). Returns true when bytes (or an error to
  // report) are there; false on time-out and on interrupt.
  bool waitReadable(int timeoutMs);
  // Sleeps timeoutMs without looking at the line; interrupt() ends it at once and stays
  // pending, so the next waitReadable() returns at once too.
  void pause(int timeoutMs);
  // Wakes waitReadable() in another thread. An interrupt made while nobody waits is kept and
  // ends the next wait at once, so a stop request cannot slip in between a check and a wait.
  // It also cuts short a read() that is waiting for more bytes.
  void interrupt();
  long read(void* buffer, std::size_t size);  // -1 on error
  // After waitReadable() reported something while no byte is queued: whether the device is
  // gone (a hang-up, an error, the end of the stream), with the cause in lastErrorNumber()
  // (0 for a plain hang-up). False when it was nothing (a spurious wake-up).
  bool lineGone();
  long write(const void* data, std::size_t size);  // bytes written, -1 on error; bounded by the write time-out
  void close();
  int fd() const;
  // The last failure in words ("open /dev/ttyUSB0: Permission denied") and its errno (0 when
  // no system call failed, e.g. a time-out or an unsupported setting).
  std::string lastError() const;
  int lastErrorNumber() const;

 private:
  long readInbox(unsigned char* out, std::size_t size, std::chrono::steady_clock::time_point deadline);
  struct Impl;
  Impl* impl_;
};
