// Why the link to the receiver failed, carried whole from the serial layer to the front end:
// the fixed text of the step that failed, the device, the errno the system gave and what it
// means for the user (no permission, held by another program, gone, not a serial device).
// The front ends show the step's text; the rest is there for them to explain the cause.
//
// Thread rule: plain values; CauseOfErrno is pure.
#pragma once

#include <string>

enum class LinkCause {
  None,          // nothing failed
  BadPortName,   // the port text is no "ComN"
  NoSuchPort,    // ComN names no device: no port map entry and no N-th serial port
  Missing,       // the device does not exist (any more): ENOENT, ENODEV, ENXIO
  Permission,    // not allowed to open it: EACCES, EPERM (not in the group that owns it)
  Busy,          // another program holds it: EBUSY
  NotSerial,     // no terminal device: ENOTTY
  BadBaudRate,   // the speed is 0, no number, or none the driver takes
  BadMapEntry,   // the port map entry for ComN is empty, unreadable, a directory or a loop
  Lost,          // the open device went away: unplugged, hung up, or failing with EIO
  HostNotFound,  // a network receiver's host name does not resolve
  Refused,       // nothing listens at a network receiver's address
  TimedOut,      // a network receiver's host does not answer in time
  Other,         // any other errno
};

// The fixed texts of the steps that fail at more than one place: the open, and the reading
// and setting of the line's state (by the open and by the rate's detection). The window's
// upload shows the first when it cannot open its port again.
inline constexpr const char* kOpenComPortFailed = "Open ComPort failed.";
inline constexpr const char* kGetCommStateFailed = "GetCommState failed.";
inline constexpr const char* kSetCommStateFailed = "SetCommState failed.";

struct LinkError {
  std::string message;     // the step's fixed text, shown as it is ("Open ComPort failed." ...)
  std::string devicePath;  // the device the step worked on; empty when the name led to none
  int errorNumber = 0;     // errno of the call that failed; 0 when no system call failed
  LinkCause cause = LinkCause::None;
  std::string detail;  // the serial layer's own words ("open /dev/ttyUSB0: Permission denied")
  // For the user: what went wrong, in plain words, and what to do about it (the window's box
  // shows it under the step's text; the command-line tool prints it after the step's text).
  std::string explanation;

  bool failed() const { return cause != LinkCause::None; }
};

// What an errno of open, ioctl, read or write means for the link.
LinkCause CauseOfErrno(int errorNumber);

// The explanation of an open failure on a device: who holds it, which group it belongs to,
// that it is gone. mapEntry: the port map entry that led to the device, when one did.
std::string ExplainDeviceFailure(LinkCause cause, const std::string& devicePath, const std::string& mapEntry,
                                 const std::string& detail);

// The open device went away while in use: the error, with its one-line text
// "Receiver lost: /dev/ttyUSB0 (device removed)." as the explanation; for a network receiver
// "Receiver lost: tcp://roof.local:4001 (connection closed).".
LinkError LinkLost(const std::string& devicePath, int errorNumber);

// Another program holding a device open: "gpsd, pid 812" for the one holding our lock, else
// for the first other process with the device open (found in /proc); empty when none shows.
std::string DeviceHolder(const std::string& devicePath);
