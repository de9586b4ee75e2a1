// Connect steps of a serial port.
#include "link/port_open.h"

#include "link/number_text.h"
#include "link/port_names.h"

long BaudOfText(const std::string& text) {
  // Read as the C string it has always been handed on as: a NUL byte ends it.
  return WholeDecimalOf(std::string_view(text.c_str())).value_or(0);
}

PortOpenResult OpenComPortSteps(const std::string& portText, const std::string& baudText, bool allowDevicePath) {
  PortOpenResult result;
  std::optional<std::string> device;
  int number = 0;
  if (allowDevicePath && !portText.empty() && portText[0] == '/') {
    device = portText;
  } else {
    // "Com" and a number as the box's text begins; no device prefix may stand before it.
    const std::optional<int> scanned = portText.starts_with("Com") ? ComNumberOf(portText) : std::nullopt;
    if (!scanned) {
      result.error = "Com Port Error!";
      return result;
    }
    number = *scanned;
    // Ports above 9 carry the device prefix, as the system's naming wants; the resolver
    // accepts both forms.
    device = ResolvePortText(number <= 9 ? portText : "\\\\.\\" + portText);
  }
  // The port lives in a local until every step has passed: a failure destroys it, which
  // closes it before the caller shows the message.
  auto port = std::make_shared<SerialPort>();
  if (!device || !port->open(*device)) {
    result.error = "Open ComPort failed.";
    return result;
  }
  port->setTimeouts(500, 100);  // a failure here is not fatal
  if (!port->setupQueues(8192, 1024)) {
    result.error = "SetupComm failed.";
    return result;
  }
  LineState line;
  if (!port->getState(line)) {
    result.error = "GetCommState failed.";
    return result;
  }
  const long baud = BaudOfText(baudText);
  if (baud == 0) {
    result.error = "Error baud rate.";
    return result;
  }
  line.baudRate = static_cast<std::uint32_t>(baud);
  line.dataBits = 8;
  line.parity = false;
  line.stopBits = 1;
  if (baud < 0 || baud > 0x7FFFFFFFL || !port->setState(line)) {
    result.error = "SetCommState failed.";
    return result;
  }
  if (!port->purge()) {
    result.error = "PurgeComm failed.";
    return result;
  }
  result.port = std::move(port);
  result.devicePath = *device;
  return result;
}

std::shared_ptr<SerialPort> ReopenPortAtBaud(const std::string& portText, int selectedIndex, std::uint32_t baud) {
  const std::string name = selectedIndex >= 9 ? "\\\\.\\" + portText : portText;
  const std::optional<std::string> device = ResolvePortText(name);
  auto port = std::make_shared<SerialPort>();
  if (!device || !port->open(*device)) return nullptr;
  LineState line;
  if (port->getState(line)) {
    line.baudRate = baud;
    port->setState(line);
  }
  return port;
}
