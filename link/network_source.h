// Receivers on the network, reached through the port names users already have: a port map
// entry or a --port value may be "tcp://host:port" (raw NMEA both ways, as ser2net, socat or
// a phone app serve it) or "gpsd://host[:port][/device]" (a receiver that a running gpsd
// owns, read through gpsd's watch in raw mode, never written to). The port opens such a name
// as a socket; this file parses the names, connects within a bounded time that a stop cuts
// short, asks gpsd for the raw stream, and keeps gpsd's own JSON lines out of the bytes that
// reach the cutter.
//
// Thread rule: ConnectNetworkSource runs on the thread that opens the port; a GpsdLineFilter
// belongs to the port's reading side.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "link/link_error.h"

enum class NetworkKind { Tcp, Gpsd };

struct NetworkAddress {
  NetworkKind kind = NetworkKind::Tcp;
  std::string host;
  std::string port;    // service number as text
  std::string device;  // gpsd only: the device gpsd reads, empty for all of its devices
};

inline constexpr const char* kGpsdDefaultPort = "2947";
// How long a connect (and gpsd's answer to the watch request) may take [ms].
inline constexpr int kNetworkConnectTimeoutMs = 5000;

// Whether the text names a network receiver at all ("tcp://" or "gpsd://" before anything).
bool IsNetworkPortName(std::string_view text);
// The parts of a network port name; nullopt and *problem (plain words) when it is malformed.
std::optional<NetworkAddress> ParseNetworkAddress(std::string_view text, std::string* problem);

// What the port list shows for a network receiver ("network, the speed does not apply").
std::string NetworkDescription(std::string_view text);

// Why a command (through gpsd) or the EPO update (over any network receiver) is not sent:
// one line each, the same in the window and the command-line tool.
std::string ReadOnlyRefusal(const std::string& portName);
std::string EpoNetworkRefusal(const std::string& portName);

// Drops gpsd's JSON lines (each one line that begins with "{") from a raw watch and passes
// every other byte unchanged. While collecting, the dropped lines are kept for the watch
// hand-shake to read; afterwards only a DEVICE report that the watched device went inactive
// is noticed.
class GpsdLineFilter {
 public:
  // Appends the bytes that are not JSON to out.
  void feed(const char* data, std::size_t size, std::string& out);
  void collect(bool on) { collecting_ = on; }
  // The JSON lines completed since the last call, one a line (collecting only).
  std::string takeJsonLines();
  // gpsd reported the device of this path inactive (unplugged, or gone from gpsd).
  void watchDevice(std::string path) { device_ = std::move(path); }
  bool deviceGone() const { return deviceGone_; }

 private:
  void endJsonLine();
  bool atLineStart_ = true;
  bool inJson_ = false;
  bool collecting_ = false;
  bool deviceGone_ = false;
  std::string json_;       // the JSON line being read (bounded)
  std::string collected_;  // completed JSON lines, while collecting
  std::string device_;
};

// A connected socket, and the bytes already read past the hand-shake (gpsd's raw stream
// begins right after its WATCH answer); or the failure with its cause and its explanation.
struct NetworkConnectResult {
  int fd = -1;
  LinkError error;
  std::string pending;
  GpsdLineFilter filter;  // the filter in use after the hand-shake (gpsd)
};

// Resolves the host, connects without blocking (poll on the socket and on wakeFd, the port's
// interrupt event; cancelled() is asked at least every 100 ms), and for gpsd sends the watch
// request and waits for its answer. At most timeoutMs in all, besides the name look-up.
NetworkConnectResult ConnectNetworkSource(const std::string& portName, const NetworkAddress& address, int wakeFd,
                                          int timeoutMs, const std::function<bool()>& cancelled);
