// A serial line as a byte stream: the operations the program was designed around on Linux tty
// devices and pseudo-terminals (real ports: USB, ACM, rfcomm, on-board): open exclusively,
// time-outs, queue sizes, line state, purge, bytes queued, read, write, close. Receivers on the
// network are other streams (link/tcp_stream.h, net/gpsd_watch.h); nothing here is a socket.
//
// Thread rule: as ByteStream: one thread may read while another writes. close() must only be
// called when no other thread can still use the port (join the reader first); interrupt() may
// be called from any thread to wake a reader blocked in waitReadable().
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "link/descriptor_stream.h"

struct LineState {
  std::uint32_t baudRate = 0;  // [bit/s]
  int dataBits = 8;
  bool parity = false;
  int stopBits = 1;
};

class SerialPort : public DescriptorStream {
 public:
  SerialPort() = default;
  ~SerialPort() override;  // closes

  // Opens a device path for reading and writing, exclusively, raw mode. Exclusive twice
  // over: TIOCEXCL keeps other programs out (but not root), and an advisory lock (flock, as
  // other serial tools take it) keeps a second program of ours out, root included; a held
  // lock fails the open with EBUSY. Both go with close().
  bool open(const std::string& devicePath);
  SerialPort* serialLine() override { return this; }
  bool setupQueues(int inputBytes, int outputBytes);  // accepted, nothing to do on Linux
  bool getState(LineState& state);
  // Applies baud, 8 data bits, no parity, one stop bit, raw; any rate via termios2 (BOTHER).
  bool setState(const LineState& state);
  bool purge();                // drop both directions
  int bytesQueued() override;  // FIONREAD
  long read(void* buffer, std::size_t size) override;
  bool lineGone() override;
  long write(const void* data, std::size_t size) override;
  void close() override;
};
