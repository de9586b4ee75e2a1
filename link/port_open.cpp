// Connect steps of a serial port, each failure with its cause.
//
// Thread rule: any thread; the port is not shared until it is returned.
#include "link/port_open.h"

#include "link/network_names.h"
#include "link/number_text.h"
#include "link/serial_port.h"

namespace {

// A step that failed in the serial layer: its errno, its words, and what they mean for the
// user (who holds the device, which group it belongs to ...).
LinkError PortFailed(const char* message, const ResolvedPort& resolved, const SerialPort& port) {
  const int errorNumber = port.lastErrorNumber();
  LinkCause cause = CauseOfErrno(errorNumber);
  if (cause == LinkCause::None) cause = LinkCause::Other;
  const std::string& device = *resolved.devicePath;
  return {message, device,           errorNumber,
          cause,   port.lastError(), ExplainDeviceFailure(cause, device, resolved.mapEntry, port.lastError())};
}

}  // namespace

LinkError StepFailed(const char* message, LinkCause cause, std::string devicePath, std::string detail) {
  LinkError error{message, std::move(devicePath), 0, cause, std::move(detail), {}};
  error.explanation = error.detail.empty() ? std::string() : error.detail;
  return error;
}

LinkError NameFailed(const char* message, const ResolvedPort& port) {
  return {message, {}, 0, port.cause, port.problem, port.problem};
}

long BaudOfText(const std::string& text) {
  // Read as the C string it has always been handed on as: a NUL byte ends it.
  return WholeDecimalOf(std::string_view(text.c_str())).value_or(0);
}

PortOpenResult OpenSerialLineSteps(const ResolvedPort& resolved, const std::string& baudText) {
  PortOpenResult result;
  const std::string& device = *resolved.devicePath;
  // The port lives in a local until every step has passed: a failure destroys it, which
  // closes it before the caller shows the message.
  auto port = std::make_shared<SerialPort>();
  if (!port->open(device)) {
    result.error = PortFailed(kOpenComPortFailed, resolved, *port);
    return result;
  }
  port->setTimeouts(500, 100);  // a failure here is not fatal
  if (!port->setupQueues(8192, 1024)) {
    result.error = PortFailed("SetupComm failed.", resolved, *port);
    return result;
  }
  LineState line;
  if (!port->getState(line)) {
    result.error = PortFailed(kGetCommStateFailed, resolved, *port);
    return result;
  }
  const long baud = BaudOfText(baudText);
  if (baud == 0) {
    result.error =
        StepFailed("Error baud rate.", LinkCause::BadBaudRate, device,
                   "\"" + baudText + "\" is no line speed: give it in bits a second, such as 9600 or 115200.");
    return result;
  }
  line.baudRate = static_cast<std::uint32_t>(baud);
  line.dataBits = 8;
  line.parity = false;
  line.stopBits = 1;
  if (baud < 0 || baud > 0x7FFFFFFFL) {
    result.error =
        StepFailed(kSetCommStateFailed, LinkCause::BadBaudRate, device, baudText + " is no speed a serial line takes.");
    return result;
  }
  if (!port->setState(line)) {
    result.error = PortFailed(kSetCommStateFailed, resolved, *port);
    return result;
  }
  if (!port->purge()) {
    result.error = PortFailed("PurgeComm failed.", resolved, *port);
    return result;
  }
  result.port = std::move(port);
  result.devicePath = device;
  return result;
}

PortOpenResult ReopenPortAtBaud(const std::string& portText, int selectedIndex, std::uint32_t baud) {
  PortOpenResult result;
  const std::string name = selectedIndex >= 9 ? "\\\\.\\" + portText : portText;
  const ResolvedPort resolved = ResolvePort(name, /*allowDevicePath=*/true);
  if (!resolved.devicePath) {
    result.error = NameFailed(kOpenComPortFailed, resolved);
    return result;
  }
  if (IsNetworkPortName(*resolved.devicePath)) {  // no speed to set on a network link
    result.error = StepFailed(kOpenComPortFailed, LinkCause::NotSerial, *resolved.devicePath,
                              EpoNetworkRefusal(*resolved.devicePath));
    return result;
  }
  auto port = std::make_shared<SerialPort>();
  if (!port->open(*resolved.devicePath)) {
    result.error = PortFailed(kOpenComPortFailed, resolved, *port);
    return result;
  }
  LineState line;
  if (port->getState(line)) {
    line.baudRate = baud;
    port->setState(line);
  }
  result.port = std::move(port);
  result.devicePath = *resolved.devicePath;
  return result;
}
