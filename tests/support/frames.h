// Frames as the tests write and check them, apart from the program's own code: NMEA 0183
// sentences ("$", body, "*", the XOR of the body in two hex digits, CR LF) and the
// receiver's binary packets (04 24, u16 length, u16 command, payload, the XOR of the bytes
// from the length to the payload's end, 0D 0A; every number little-endian).
//
// Thread rule: plain functions.
#pragma once

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

namespace testsupport {

inline unsigned char XorOf(std::string_view bytes) {
  unsigned char sum = 0;
  for (const char c : bytes) sum ^= static_cast<unsigned char>(c);
  return sum;
}

inline std::string NmeaFramed(std::string_view body) {
  char tail[8];
  std::snprintf(tail, sizeof tail, "*%02X\r\n", XorOf(body));
  return "$" + std::string(body) + tail;
}

// A sentence's checksum as receivers write it: the XOR between "$" and the first "*" equals
// the one or two hex digits (of either case) after the "*".
inline bool NmeaChecksumMatches(std::string_view sentence) {
  const std::size_t star = sentence.find('*');
  if (sentence.empty() || sentence[0] != '$' || star == std::string_view::npos) return false;
  unsigned value = 0;
  int digits = 0;
  for (std::size_t i = star + 1;
       i < sentence.size() && digits < 2 && std::isxdigit(static_cast<unsigned char>(sentence[i])); ++i, ++digits) {
    const char c = static_cast<char>(std::tolower(static_cast<unsigned char>(sentence[i])));
    value = value * 16 + static_cast<unsigned>(c <= '9' ? c - '0' : c - 'a' + 10);
  }
  return digits > 0 && value == XorOf(sentence.substr(1, star - 1));
}

inline std::string LittleEndian(std::uint32_t value, int bytes) {
  std::string out;
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
  return out;
}

inline std::string BinaryPacket(std::uint16_t command, std::string_view payload) {
  const std::string lengthToPayload =
      LittleEndian(static_cast<std::uint32_t>(payload.size() + 9), 2) + LittleEndian(command, 2) + std::string(payload);
  return "\x04\x24" + lengthToPayload + static_cast<char>(XorOf(lengthToPayload)) + "\r\n";
}

// The receiver's acknowledgement of a binary command (12 bytes): command, argument, result.
inline std::string BinaryAck(std::uint16_t command, std::uint16_t argument, std::uint8_t result) {
  return BinaryPacket(command, LittleEndian(argument, 2) + static_cast<char>(result));
}

// An EPO data packet (191 bytes): its sequence number and three records, zero-padded to 180.
inline std::string EpoDataPacket(std::uint16_t sequence, std::string_view records) {
  std::string payload = LittleEndian(sequence, 2) + std::string(records.substr(0, 180));
  payload.resize(182, '\0');
  return BinaryPacket(722, payload);
}

// The packet that returns the receiver to NMEA output at a rate (14 bytes).
inline std::string NmeaModePacket(std::uint32_t baud) {
  return BinaryPacket(253, std::string(1, '\0') + LittleEndian(baud, 4));
}

}  // namespace testsupport
