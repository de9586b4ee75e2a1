// MediaTek binary packets on the receiver's side of the line. Frame, both directions:
//
//   04 24 | length u16 LE (whole packet) | command u16 LE | payload | XOR of length..payload | 0D 0A
//
// Example, the receiver accepting the switch to binary output (command 1 acknowledging 253):
//   04 24 0C 00 01 00 FD 00 03 F3 0D 0A
// Built here byte by byte, independently of the program's packet code, so that tests can
// hold the two against each other.
//
// Thread rule: plain values; one parser per byte stream.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace sim {

constexpr std::uint16_t kCmdAckCommand = 1;   // acknowledgement of a command
constexpr std::uint16_t kCmdAckEpo = 2;       // acknowledgement of an EPO data packet
constexpr std::uint16_t kCmdSetOutput = 253;  // switch output protocol and baud
constexpr std::uint16_t kCmdEpoData = 722;    // EPO data packet
constexpr std::size_t kEpoPacketBytes = 191;
constexpr std::size_t kEpoRecordBytes = 60;
constexpr std::uint16_t kEpoClosingSeq = 0xFFFF;

// A whole frame around a payload.
std::string buildFrame(std::uint16_t command, std::string_view payload);
// 12-byte acknowledgement: command 1 or 2, the acknowledged command or sequence, the result.
std::string buildAck(std::uint16_t command, std::uint16_t argument, std::uint8_t result);

struct BinaryPacket {
  std::uint16_t command = 0;
  std::string payload;
  std::string raw;  // the whole frame as received
};

// Cuts frames out of a byte stream by their length field; a frame whose checksum or end
// marker is wrong is dropped and the search starts again one byte after its preamble.
// Bytes outside frames (stray NMEA text, noise) are skipped.
class BinaryFrameParser {
 public:
  // Appends bytes; take complete packets with next().
  void feed(std::string_view bytes);
  std::optional<BinaryPacket> next();
  std::size_t droppedFrames() const { return dropped_; }

 private:
  std::string pending_;
  std::size_t dropped_ = 0;
};

inline std::uint16_t readU16(std::string_view bytes, std::size_t offset) {
  return static_cast<std::uint16_t>(static_cast<std::uint8_t>(bytes[offset]) |
                                    (static_cast<std::uint8_t>(bytes[offset + 1]) << 8));
}
inline std::uint32_t readU32(std::string_view bytes, std::size_t offset) {
  return static_cast<std::uint32_t>(readU16(bytes, offset)) |
         (static_cast<std::uint32_t>(readU16(bytes, offset + 2)) << 16);
}

}  // namespace sim
