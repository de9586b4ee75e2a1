// A receiver on the network as a byte stream: a TCP socket to "tcp://host:port" (raw NMEA both
// ways, as ser2net, socat or a phone app serve it). The connect is bounded in time and a stop
// (interrupt(), or the caller's cancel test) cuts it short. Received bytes pass through an inbox
// of our own, so "bytes queued" counts the inbox and the end of the stream is known: the peer
// closing the connection, resetting it, or (for a layer over the socket) the device behind it
// going away is the loss of the line, reported once the inbox has been read. A layer over the
// socket (gpsd's watch, net/gpsd_watch.h) takes part in the open (its hand-shake) and sees the
// bytes as they arrive (to take out its own lines).
//
// Thread rule: as ByteStream. open() runs on the thread that opens the port, which owns the
// stream until open() has returned; afterwards the inbox belongs to the reading side (the
// reads and waits), the socket's sending side to the writer.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>

#include "link/descriptor_stream.h"
#include "link/link_error.h"
#include "link/network_names.h"

struct addrinfo;

class TcpStream : public DescriptorStream {
 public:
  using Clock = std::chrono::steady_clock;

  TcpStream() = default;
  ~TcpStream() override;  // closes

  // Resolves the host, connects without blocking (cancelled() is asked at least every 100 ms;
  // interrupt() stops the attempt too), then lets the layer over the socket finish the open.
  // At most timeoutMs in all, besides the name look-up. The failure with its cause and its
  // explanation otherwise (error.failed()); the stream is closed then. portName names the
  // receiver in the failure's texts.
  LinkError open(const std::string& portName, const NetworkAddress& address, int timeoutMs,
                 const std::function<bool()>& cancelled = {});
  int bytesQueued() override;
  bool waitReadable(int timeoutMs) override;
  long read(void* buffer, std::size_t size) override;
  bool lineGone() override;
  long write(const void* data, std::size_t size) override;
  void close() override;

 protected:
  // The layer's part of the open, once the socket is connected: nothing for a plain socket.
  virtual LinkError afterConnect(const std::string& portName, const NetworkAddress& address, Clock::time_point deadline,
                                 const std::function<bool()>& cancelled);
  // What becomes of received bytes: appended to the inbox, as they are for a plain socket.
  virtual void received(const char* data, std::size_t size, std::string& inbox);
  // Nothing more will come: the peer closed (err 0) or failed, or the device behind it is gone.
  void endStream(int err);
  bool ended() const { return peerEnded_; }
  int endErrorNumber() const { return peerErrno_; }
  // Takes what has arrived (one read, never waiting) through received() into the inbox.
  void pull();
  // Waits for events on the socket until the deadline; cancelled() is asked between slices.
  // 1: ready, 0: time-out, -1: stopped (by cancelled() or interrupt(), which stays pending).
  int waitUntil(short events, Clock::time_point deadline, const std::function<bool()>& cancelled);

 private:
  // One address: a non-blocking connect, finished or failed within the deadline. 0 or errno.
  int connectOne(const addrinfo* address, Clock::time_point deadline, const std::function<bool()>& cancelled,
                 bool* stopped);
  // The end of the stream as the port's error, once the inbox is read.
  void reportEnd();

  std::string inbox_;       // received, filtered, not yet read
  bool peerEnded_ = false;  // nothing more will come: closed, reset, or the device gone
  int peerErrno_ = 0;       // 0: closed in order
};
