// The connect steps of a serial port, in their fixed order and with their fixed messages:
// open exclusively, time-outs, queues, line state, speed, purge; and the reopen of the port
// for the assisted-GPS update. A port name as the user gives it (which may lead to a receiver
// on the network) is opened one layer up, in net/port_by_name.h, which hands the names that
// lead to a device to the steps here.
//
// Thread rule: any thread; the returned port is not yet shared with another thread.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "link/byte_stream.h"
#include "link/link_error.h"
#include "link/port_names.h"

// Outcome of the connect steps: an open, configured port, or the failed step with its cause.
// error.message is the step's fixed text ("Com Port Error!", "Open ComPort failed.",
// "SetupComm failed.", "GetCommState failed.", "Error baud rate.", "SetCommState failed.",
// "PurgeComm failed."); the device, errno and cause say why. A port opened before a later
// step failed is closed again before this returns, so it is not left locked.
struct PortOpenResult {
  // Shared: the window's reader and update threads use the port the window holds, and the
  // last of them to let go closes it.
  std::shared_ptr<ByteStream> port;
  LinkError error;         // failed() exactly when port is null
  std::string devicePath;  // the device opened
};

// The steps after the name: the device that resolved names (a device path), opened
// exclusively, with the time-outs, the queues and the speed of baudText set and both
// directions purged.
PortOpenResult OpenSerialLineSteps(const ResolvedPort& resolved, const std::string& baudText);

// A step that failed without a system call behind it; the detail is the explanation too.
LinkError StepFailed(const char* message, LinkCause cause, std::string devicePath, std::string detail);
// A name that led to no device: the resolver's own words.
LinkError NameFailed(const char* message, const ResolvedPort& port);

// The speed box's text as a whole number, 0 when it is not one (leading blanks and a sign
// allowed, nothing after the digits).
long BaudOfText(const std::string& text);

// The reopen of an assisted-GPS update: the port name as chosen (with the device prefix when
// the selected item index is 9 or more), opened exclusively, only the baud rate set; nothing
// else of the line is configured again. No port, and the cause, when it cannot be opened (a
// network receiver has no speed to set: refused).
PortOpenResult ReopenPortAtBaud(const std::string& portText, int selectedIndex, std::uint32_t baud);
