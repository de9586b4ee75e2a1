// Receivers on the network, reached through the port names users already have: a port map
// entry or a --port value may be "tcp://host:port" (raw NMEA both ways, as ser2net, socat or
// a phone app serve it) or "gpsd://host[:port][/device]" (a receiver that a running gpsd
// owns, read through gpsd's watch in raw mode, never written to). This file knows the names
// and their parts, and holds every text the user sees about a network receiver: the port
// list's description, the refusals of what a network link cannot do, and why a connect failed.
// The streams themselves are link/tcp_stream.h and net/gpsd_watch.h.
//
// Thread rule: pure functions.
#pragma once

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
// The detail of asking a network receiver for its line settings, which it has not.
std::string NoLineSettingsDetail();

// Why opening portName failed, each as the connect step's error ("Open ComPort failed.")
// with its cause and its explanation.
LinkError BadNetworkName(const std::string& portName, const std::string& problem);
LinkError HostNotFound(const std::string& portName, const NetworkAddress& address, const std::string& said);
// The connect failed with err (ECONNREFUSED, ETIMEDOUT, any other errno).
LinkError ConnectFailed(const std::string& portName, const NetworkAddress& address, int err);
LinkError ConnectStopped(const std::string& portName, const NetworkAddress& address);
// gpsd answered the watch request with an ERROR; said is its message.
LinkError GpsdRefused(const std::string& portName, const NetworkAddress& address, const std::string& said);
// The connection was accepted, but no answer to the watch request came in time.
LinkError GpsdSilent(const std::string& portName, const NetworkAddress& address);
// gpsd closed the connection (with err, 0 in order) before it answered the watch request.
LinkError GpsdClosed(const std::string& portName, const NetworkAddress& address, int err);
