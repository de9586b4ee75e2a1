// Probing ports for ports --probe: the rate each talks at, found by the core
// (link/baud_detect.h), said in one line.
//
// Thread rule: main thread; ProbePort may run on several threads at once, one port each.
#pragma once

#include <cstdint>
#include <string>

#include "link/link_error.h"

// What ports --probe says of one port: the rate it talks at, "silent", or why it could not
// be opened or read. Only reads: nothing is ever written to the port.
struct ProbeOutcome {
  std::uint32_t baud = 0;  // 0: none found
  std::string text;        // "9600 baud", "silent", "no NMEA at any rate", or the cause
};
ProbeOutcome ProbePort(const std::string& portText);
