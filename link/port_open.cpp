// Connect steps of a serial port, each failure with its cause.
//
// Thread rule: any thread; the port is not shared until it is returned.
#include "link/port_open.h"

#include "link/number_text.h"
#include "link/port_names.h"

namespace {

// A step that failed without a system call behind it.
LinkError StepFailed(const char* message, LinkCause cause, std::string devicePath, std::string detail) {
  return {message, std::move(devicePath), 0, cause, std::move(detail)};
}

// A step that failed in the serial layer: its errno and its words.
LinkError PortFailed(const char* message, const std::string& devicePath, const SerialPort& port) {
  const int errorNumber = port.lastErrorNumber();
  const LinkCause cause = CauseOfErrno(errorNumber);
  return {message, devicePath, errorNumber, cause == LinkCause::None ? LinkCause::Other : cause, port.lastError()};
}

}  // namespace

long BaudOfText(const std::string& text) {
  // Read as the C string it has always been handed on as: a NUL byte ends it.
  return WholeDecimalOf(std::string_view(text.c_str())).value_or(0);
}

PortOpenResult OpenComPortSteps(const std::string& portText, const std::string& baudText, bool allowDevicePath) {
  PortOpenResult result;
  std::optional<std::string> device;
  if (allowDevicePath && !portText.empty() && portText[0] == '/') {
    device = portText;
  } else {
    // "Com" and a number as the box's text begins; no device prefix may stand before it.
    const std::optional<int> number = portText.starts_with("Com") ? ComNumberOf(portText) : std::nullopt;
    if (!number) {
      result.error = StepFailed("Com Port Error!", LinkCause::BadPortName, {}, "\"" + portText + "\" is no ComN");
      return result;
    }
    // Ports above 9 carry the device prefix, as the system's naming wants; the resolver
    // accepts both forms.
    device = ResolvePortText(*number <= 9 ? portText : "\\\\.\\" + portText);
    if (!device) {
      result.error = StepFailed("Open ComPort failed.", LinkCause::NoSuchPort, {},
                                portText + ": no port map entry and no serial port number " + std::to_string(*number));
      return result;
    }
  }
  // The port lives in a local until every step has passed: a failure destroys it, which
  // closes it before the caller shows the message.
  auto port = std::make_shared<SerialPort>();
  if (!port->open(*device)) {
    result.error = PortFailed("Open ComPort failed.", *device, *port);
    return result;
  }
  port->setTimeouts(500, 100);  // a failure here is not fatal
  if (!port->setupQueues(8192, 1024)) {
    result.error = PortFailed("SetupComm failed.", *device, *port);
    return result;
  }
  LineState line;
  if (!port->getState(line)) {
    result.error = PortFailed("GetCommState failed.", *device, *port);
    return result;
  }
  const long baud = BaudOfText(baudText);
  if (baud == 0) {
    result.error = StepFailed("Error baud rate.", LinkCause::BadBaudRate, *device, "\"" + baudText + "\" is no speed");
    return result;
  }
  line.baudRate = static_cast<std::uint32_t>(baud);
  line.dataBits = 8;
  line.parity = false;
  line.stopBits = 1;
  if (baud < 0 || baud > 0x7FFFFFFFL) {
    result.error = StepFailed("SetCommState failed.", LinkCause::BadBaudRate, *device, baudText + " is no speed a line takes");
    return result;
  }
  if (!port->setState(line)) {
    result.error = PortFailed("SetCommState failed.", *device, *port);
    return result;
  }
  if (!port->purge()) {
    result.error = PortFailed("PurgeComm failed.", *device, *port);
    return result;
  }
  result.port = std::move(port);
  result.devicePath = *device;
  return result;
}

PortOpenResult ReopenPortAtBaud(const std::string& portText, int selectedIndex, std::uint32_t baud) {
  PortOpenResult result;
  const std::string name = selectedIndex >= 9 ? "\\\\.\\" + portText : portText;
  const std::optional<std::string> device = ResolvePortText(name);
  if (!device) {
    result.error = StepFailed("Open ComPort failed.", LinkCause::NoSuchPort, {}, portText + ": no such port");
    return result;
  }
  auto port = std::make_shared<SerialPort>();
  if (!port->open(*device)) {
    result.error = PortFailed("Open ComPort failed.", *device, *port);
    return result;
  }
  LineState line;
  if (port->getState(line)) {
    line.baudRate = baud;
    port->setState(line);
  }
  result.port = std::move(port);
  result.devicePath = *device;
  return result;
}
