// The receiver's bytes, whatever carries them: a serial line (SerialPort), a socket to a
// receiver on the network (TcpStream), or gpsd's watch over such a socket (net/gpsd_watch.h).
// The reader loop, baud-rate detection, the command port, the EPO upload and both front ends
// work on this and nothing more, so a transport is chosen once, where a port is opened by its
// name, and never asked about again.
//
// Every stream has total read and write time-outs, a wait for bytes that interrupt() ends from
// another thread, and the loss of its line told apart from a quiet line (lineGone). What only a
// serial line has (its speed and line state, purge, exclusive open) is reached through
// serialLine().
//
// Thread rule: one thread may read (waitReadable, bytesQueued, read, lineGone, pause) while
// another writes; interrupt(), lastError() and lastErrorNumber() may be called from any thread.
// close() only when no other thread can still use the stream (join the reader first): a stream
// shared between threads is held by std::shared_ptr, and the last owner closes it.
#pragma once

#include <cstddef>
#include <string>

class SerialPort;

class ByteStream {
 public:
  virtual ~ByteStream() = default;
  ByteStream() = default;
  ByteStream(const ByteStream&) = delete;
  ByteStream& operator=(const ByteStream&) = delete;

  virtual bool isOpen() const = 0;
  // The serial line behind the stream, for its speed and line state; null for a receiver on
  // the network, which has no line to set.
  virtual SerialPort* serialLine() { return nullptr; }
  // Read through gpsd, which owns the receiver: every write fails without sending anything.
  virtual bool isReadOnly() const { return false; }
  // Read total time-out and write total time-out [ms]; a read returns what is there after
  // at most readTotalMs, a write gives up after writeTotalMs (then lastError() says
  // "write time-out" and the count of bytes that did go out is returned). Defaults 500 and 100.
  virtual bool setTimeouts(int readTotalMs, int writeTotalMs) = 0;
  // Bytes that a read takes at once; -1 on error and once the line is gone.
  virtual int bytesQueued() = 0;
  // Waits until bytes are queued, the line fails, interrupt() is called or timeoutMs passes
  // (a negative timeoutMs waits without limit). Returns true when bytes (or an error to
  // report) are there; false on time-out and on interrupt.
  virtual bool waitReadable(int timeoutMs) = 0;
  // Sleeps timeoutMs without looking at the line; interrupt() ends it at once and stays
  // pending, so the next waitReadable() returns at once too.
  virtual void pause(int timeoutMs) = 0;
  // Wakes waitReadable() in another thread. An interrupt made while nobody waits is kept and
  // ends the next wait at once, so a stop request cannot slip in between a check and a wait.
  // It also cuts short a read() that is waiting for more bytes.
  virtual void interrupt() = 0;
  virtual long read(void* buffer, std::size_t size) = 0;  // -1 on error
  // After waitReadable() reported something while no byte is queued: whether the line is
  // gone (a hang-up, an error, the end of the stream), with the cause in lastErrorNumber()
  // (0 for a plain hang-up or a connection closed in order). False when it was nothing.
  virtual bool lineGone() = 0;
  // Bytes written, -1 on error; bounded by the write time-out.
  virtual long write(const void* data, std::size_t size) = 0;
  virtual void close() = 0;
  // The last failure in words ("open /dev/ttyUSB0: Permission denied") and its errno (0 when
  // no system call failed, e.g. a time-out or an unsupported setting).
  virtual std::string lastError() const = 0;
  virtual int lastErrorNumber() const = 0;
};
