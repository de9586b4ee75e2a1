// A port by its name: the name steps, then the transport the name leads to.
//
// Thread rule: any thread; the port is not shared until it is returned.
#include "net/port_by_name.h"

#include <memory>
#include <optional>

#include "link/network_names.h"
#include "link/port_names.h"
#include "link/tcp_stream.h"
#include "net/gpsd_watch.h"

namespace {

// A network receiver's address ("tcp://host:port", "gpsd://host[:port][/device]") connected
// within timeoutMs, or the failure with its cause.
PortOpenResult OpenNetworkReceiver(const std::string& address, int timeoutMs, const std::function<bool()>& cancelled) {
  PortOpenResult result;
  std::string problem;
  const std::optional<NetworkAddress> parts = ParseNetworkAddress(address, &problem);
  if (!parts) {
    result.error = BadNetworkName(address, problem);
    return result;
  }
  std::shared_ptr<TcpStream> stream =
      parts->kind == NetworkKind::Gpsd ? std::make_shared<GpsdWatch>() : std::make_shared<TcpStream>();
  result.error = stream->open(address, *parts, timeoutMs, cancelled);
  if (result.error.failed()) return result;
  stream->setTimeouts(500, 100);
  result.port = std::move(stream);
  result.devicePath = address;
  return result;
}

}  // namespace

PortOpenResult OpenComPortSteps(const std::string& portText, const std::string& baudText, bool allowDevicePath,
                                const std::function<bool()>& cancelled) {
  // "Com" and a number as the box's text begins; no device prefix may stand before it.
  const bool devicePath = allowDevicePath && !portText.empty() && (portText[0] == '/' || IsNetworkPortName(portText));
  if (!devicePath && !(portText.starts_with("Com") && ComNumberOf(portText))) {
    PortOpenResult result;
    result.error = StepFailed("Com Port Error!", LinkCause::BadPortName, {},
                              "\"" + portText + "\" is no port name: choose Com1 ... Com99.");
    return result;
  }
  const ResolvedPort resolved = ResolvePort(portText, allowDevicePath);
  if (!resolved.devicePath) {
    PortOpenResult result;
    result.error = NameFailed(kOpenComPortFailed, resolved);
    return result;
  }
  if (!IsNetworkPortName(*resolved.devicePath)) return OpenSerialLineSteps(resolved, baudText);
  // A socket has no line to set up: the connect is the whole of opening it.
  PortOpenResult result = OpenNetworkReceiver(*resolved.devicePath, kNetworkConnectTimeoutMs, cancelled);
  if (result.error.failed() && !resolved.mapEntry.empty()) {
    result.error.explanation += " (port map entry " + resolved.mapEntry + ")";
  }
  return result;
}
