// Baud-rate detection in the command-line tool: --baud auto of every command that opens
// the receiver's port, and ports --probe. The core finds the rate (link/baud_detect.h); this
// says what it found, on standard error so that standard output stays clean for --json
// and pipes.
//
// Thread rule: main thread; ProbePort may run on several threads at once, one port each.
#pragma once

#include <cstdint>
#include <string>

#include "link/link_error.h"

// "Com1 (/dev/ttyUSB0)", or the device path alone when it was given as the port.
std::string PortDisplayName(const std::string& portText, const std::string& devicePath);

// What ports --probe says of one port: the rate it talks at, "silent", or why it could not
// be opened or read. Only reads: nothing is ever written to the port.
struct ProbeOutcome {
  std::uint32_t baud = 0;  // 0: none found
  std::string text;        // "9600 baud", "silent", "no NMEA at any rate", or the cause
};
ProbeOutcome ProbePort(const std::string& portText);
