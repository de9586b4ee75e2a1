// The connect steps of a serial port, in their fixed order and with their fixed messages:
// scan "ComN", open exclusively, time-outs, queues, line state, speed, purge. The window's
// "On" and the command-line tool both open ports through here.
//
// Thread rule: any thread; the returned port is not yet shared with another thread.
#pragma once

#include <memory>
#include <string>

#include "link/link_error.h"
#include "link/serial_port.h"

// Outcome of the connect steps: an open, configured port, or the failed step with its cause.
// error.message is the step's fixed text ("Com Port Error!", "Open ComPort failed.",
// "SetupComm failed.", "GetCommState failed.", "Error baud rate.", "SetCommState failed.",
// "PurgeComm failed."); the device, errno and cause say why. A port opened before a later
// step failed is closed again before this returns, so it is not left locked.
struct PortOpenResult {
  std::shared_ptr<SerialPort> port;
  LinkError error;         // failed() exactly when port is null
  std::string devicePath;  // the device opened
};

// portText as typed in the port box ("Com5", "Com12"); a device path ("/dev/ttyUSB0") is
// accepted too when allowDevicePath is set (the command-line tool's --port).
PortOpenResult OpenComPortSteps(const std::string& portText, const std::string& baudText, bool allowDevicePath = false);

// The speed box's text as a whole number, 0 when it is not one (leading blanks and a sign
// allowed, nothing after the digits).
long BaudOfText(const std::string& text);

// The reopen of an assisted-GPS update: the port name as chosen (with the device prefix when
// the selected item index is 9 or more), opened exclusively, only the baud rate set; nothing
// else of the line is configured again. No port, and the cause, when it cannot be opened.
PortOpenResult ReopenPortAtBaud(const std::string& portText, int selectedIndex, std::uint32_t baud);
