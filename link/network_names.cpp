// Network receivers: their names, and what the user is told about them.
//
// Thread rule: pure functions.
#include "link/network_names.h"

#include <cerrno>
#include <cstring>

namespace {

constexpr std::string_view kTcpScheme = "tcp://";
constexpr std::string_view kGpsdScheme = "gpsd://";

bool validPort(const std::string& port) {
  if (port.empty() || port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos) return false;
  const long value = std::stol(port);
  return value >= 1 && value <= 65535;
}

LinkError failure(const std::string& portName, LinkCause cause, int errorNumber, std::string detail,
                  std::string explanation) {
  return {kOpenComPortFailed, portName, errorNumber, cause, std::move(detail), std::move(explanation)};
}

std::string hostPort(const NetworkAddress& address) { return address.host + ":" + address.port; }

std::string secondsOfConnect() { return std::to_string(kNetworkConnectTimeoutMs / 1000) + " s"; }

}  // namespace

bool IsNetworkPortName(std::string_view text) { return text.starts_with(kTcpScheme) || text.starts_with(kGpsdScheme); }

std::optional<NetworkAddress> ParseNetworkAddress(std::string_view text, std::string* problem) {
  NetworkAddress address;
  std::string_view rest;
  if (text.starts_with(kTcpScheme)) {
    rest = text.substr(kTcpScheme.size());
  } else if (text.starts_with(kGpsdScheme)) {
    address.kind = NetworkKind::Gpsd;
    rest = text.substr(kGpsdScheme.size());
  } else {
    *problem =
        "\"" + std::string(text) + "\" is no network address: use tcp://HOST:PORT or gpsd://HOST[:PORT][/DEVICE].";
    return std::nullopt;
  }
  const std::string usage = address.kind == NetworkKind::Tcp ? "tcp://HOST:PORT" : "gpsd://HOST[:PORT][/DEVICE]";
  if (address.kind == NetworkKind::Gpsd) {
    if (const std::size_t slash = rest.find('/'); slash != std::string_view::npos) {
      address.device = std::string(rest.substr(slash));
      rest = rest.substr(0, slash);
    }
  }
  std::string_view portText;
  if (rest.starts_with('[')) {  // [IPv6]:port
    const std::size_t close = rest.find(']');
    if (close != std::string_view::npos) {
      address.host = std::string(rest.substr(1, close - 1));
      const std::string_view after = rest.substr(close + 1);
      if (after.starts_with(':')) portText = after.substr(1);
      else if (!after.empty()) address.host.clear();
    }
  } else if (const std::size_t colon = rest.rfind(':'); colon != std::string_view::npos) {
    address.host = std::string(rest.substr(0, colon));
    portText = rest.substr(colon + 1);
  } else {
    address.host = std::string(rest);
  }
  address.port = portText.empty() && address.kind == NetworkKind::Gpsd ? kGpsdDefaultPort : std::string(portText);
  if (address.host.empty() || address.host.find_first_of(" \t/@") != std::string::npos) {
    *problem = "\"" + std::string(text) + "\" names no host: write " + usage + ".";
    return std::nullopt;
  }
  if (!validPort(address.port)) {
    *problem = "\"" + std::string(text) + "\" has no port number from 1 to 65535: write " + usage + ".";
    return std::nullopt;
  }
  return address;
}

std::string NetworkDescription(std::string_view text) {
  return text.starts_with(kGpsdScheme) ? "through gpsd, read-only; the speed does not apply"
                                       : "network; the speed does not apply";
}

std::string ReadOnlyRefusal(const std::string& portName) {
  return portName +
         " is read through gpsd, which owns the receiver: no command is sent that way. "
         "Use a tcp:// link or the serial port to send commands.";
}

std::string EpoNetworkRefusal(const std::string& portName) {
  return "The EPO update needs a serial line whose speed Torvikel sets, and " + portName +
         " is a network link: connect the receiver by its serial port for the update.";
}

std::string NoLineSettingsDetail() {
  return std::string("line settings of a network receiver: ") + std::strerror(ENOTTY);
}

LinkError BadNetworkName(const std::string& portName, const std::string& problem) {
  return failure(portName, LinkCause::BadPortName, 0, problem, problem);
}

LinkError HostNotFound(const std::string& portName, const NetworkAddress& address, const std::string& said) {
  return failure(portName, LinkCause::HostNotFound, 0, "look up " + address.host + ": " + said,
                 "The host " + address.host + " cannot be found (" + said + "): check its name, or give its address.");
}

LinkError ConnectFailed(const std::string& portName, const NetworkAddress& address, int err) {
  const std::string where = hostPort(address);
  const std::string detail = "connect " + where + ": " + std::strerror(err);
  switch (err) {
    case ECONNREFUSED:
      return failure(portName, LinkCause::Refused, err, detail,
                     "Nothing accepts connections at " + where + " (connection refused): check that " +
                         (address.kind == NetworkKind::Gpsd ? "gpsd runs there and listens on that port"
                                                            : "ser2net, socat or the receiver's app runs there and "
                                                              "listens on that port") +
                         ".");
    case ETIMEDOUT:
      return failure(portName, LinkCause::TimedOut, err, detail,
                     where + " did not answer within " + secondsOfConnect() +
                         ": check the address, the network and any firewall between.");
    default:
      return failure(portName, CauseOfErrno(err) == LinkCause::None ? LinkCause::Other : CauseOfErrno(err), err, detail,
                     "Cannot connect to " + where + " (" + std::strerror(err) + ").");
  }
}

LinkError ConnectStopped(const std::string& portName, const NetworkAddress& address) {
  return failure(portName, LinkCause::Other, 0, "stopped", "The connection to " + hostPort(address) + " was stopped.");
}

LinkError GpsdRefused(const std::string& portName, const NetworkAddress& address, const std::string& said) {
  const std::string what = address.device.empty() ? std::string("the watch") : address.device;
  return failure(portName, LinkCause::Missing, 0, said,
                 "gpsd at " + hostPort(address) + " refused " + what + " (gpsd says: \"" + said +
                     "\"): give a device gpsd reads, or none for all of them.");
}

LinkError GpsdSilent(const std::string& portName, const NetworkAddress& address) {
  return failure(portName, LinkCause::TimedOut, ETIMEDOUT, "no WATCH answer",
                 hostPort(address) + " accepted the connection but gave no gpsd answer within " + secondsOfConnect() +
                     ": is it gpsd?");
}

LinkError GpsdClosed(const std::string& portName, const NetworkAddress& address, int err) {
  return failure(portName, LinkCause::Lost, err, "closed during the watch request",
                 "gpsd at " + hostPort(address) + " closed the connection before it answered.");
}
