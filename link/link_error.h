// Why the link to the receiver failed, carried whole from the serial layer to the front end:
// the fixed text of the step that failed, the device, the errno the system gave and what it
// means for the user (no permission, held by another program, gone, not a serial device).
// The front ends show the step's text; the rest is there for them to explain the cause.
//
// Thread rule: plain values; CauseOfErrno is pure.
#pragma once

#include <string>

enum class LinkCause {
  None,         // nothing failed
  BadPortName,  // the port text is no "ComN"
  NoSuchPort,   // ComN names no device: no port map entry and no N-th serial port
  Missing,      // the device does not exist (any more): ENOENT, ENODEV, ENXIO
  Permission,   // not allowed to open it: EACCES, EPERM (not in the group that owns it)
  Busy,         // another program holds it: EBUSY
  NotSerial,    // no terminal device: ENOTTY
  BadBaudRate,  // the speed is 0, no number, or none the driver takes
  Other,        // any other errno
};

struct LinkError {
  std::string message;     // the step's fixed text, shown as it is ("Open ComPort failed." ...)
  std::string devicePath;  // the device the step worked on; empty when the name led to none
  int errorNumber = 0;     // errno of the call that failed; 0 when no system call failed
  LinkCause cause = LinkCause::None;
  std::string detail;  // the serial layer's own words ("open /dev/ttyUSB0: Permission denied")

  bool failed() const { return cause != LinkCause::None; }
};

// What an errno of open, ioctl, read or write means for the link.
LinkCause CauseOfErrno(int errorNumber);
