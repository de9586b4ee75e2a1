// NMEA text as the simulated receiver writes and reads it: framing with the XOR checksum,
// checking the commands it receives, splitting fields. Written apart from the program's own
// sentence code on purpose: the simulator is the other side of the line and a test oracle.
//
// Thread rule: plain functions, no shared state.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

// XOR of every byte of body (the text between "$" and "*").
std::uint8_t xorOf(std::string_view body);

// "$" body "*" two upper-case hex digits CR LF.
std::string frameSentence(std::string_view body);

// A received line "$BODY*hh" (CR, LF, blanks and NUL bytes around it are ignored): the body
// when the checksum is present and right (digits in either case), else nullopt.
std::optional<std::string> checkedBody(std::string_view line);

// Comma-separated fields of a body; field 0 is the address ("PMTK314").
std::vector<std::string> splitFields(std::string_view body);

// Whole decimal number of a field, nullopt unless it is all digits (one leading '-' allowed).
std::optional<long> fieldNumber(std::string_view field);

}  // namespace sim
