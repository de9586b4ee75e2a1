// NMEA framing of outgoing commands and the two ways of sending them.
//
// Thread rule: no state of its own; a port is written by the thread that calls.
#include "commands/command_framing.h"

#include <cstdint>
#include <cstdio>

namespace {

constexpr char kUpperHexDigits[] = "0123456789ABCDEF";

}  // namespace

std::string NmeaChecksum(const char* data, int length) {
  std::uint8_t sum = 0;
  for (int i = 1; i < length; ++i) {
    sum = static_cast<std::uint8_t>(sum ^ static_cast<std::uint8_t>(data[i]));
  }
  // Always two digits, upper case, with a leading "0" below 16.
  std::string text(2, '0');
  text[0] = kUpperHexDigits[sum >> 4];
  text[1] = kUpperHexDigits[sum & 0x0F];
  return text;
}

std::string NmeaChecksum(std::string_view body) {
  // A body longer than an int can count is no command; checksum what an int reaches.
  const std::size_t limit = 0x7FFFFFFF;
  const int length = static_cast<int>(body.size() < limit ? body.size() : limit);
  return NmeaChecksum(body.data(), length);
}

std::string FrameCommand(std::string_view body) {
  std::string frame;
  frame.reserve(body.size() + 5);
  frame.append(body);
  frame.push_back('*');
  frame.append(NmeaChecksum(body));
  frame.push_back('\r');
  frame.push_back('\n');
  return frame;
}

std::optional<std::string> CommandBodyProblem(std::string_view body) {
  if (body.empty()) return "the command is empty";
  for (std::size_t i = 0; i < body.size(); ++i) {
    const auto byte = static_cast<unsigned char>(body[i]);
    const std::string place = "character " + std::to_string(i + 1);
    if (byte == '$' || byte == '*') {
      return place + " is \"" + std::string(1, body[i]) +
             "\": the frame adds \"$\" and \"*\" with the checksum, so give the body without them";
    }
    if (byte < 0x20 || byte > 0x7E) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "0x%02X", byte);
      return place + " (byte " + hex + ") is not printable ASCII";
    }
  }
  if (body.size() > kLongestCommandBody) {
    return "the command has " + std::to_string(body.size()) + " characters; a sentence holds at most " +
           std::to_string(kLongestCommandBody) + " between \"$\" and \"*\"";
  }
  return std::nullopt;
}

void SendFramedCommand(CommandPort& port, std::string_view body) {
  const std::string frame = FrameCommand(body);
  port.write(frame.data(), frame.size());
}

void SendFixedCommand(CommandPort& port, const char* text, std::size_t count) { port.write(text, count); }

void SendFixedCommand(CommandPort& port, const FixedCommand& command) {
  SendFixedCommand(port, command.text, command.count);
}

void RecordingCommandPort::write(const void* data, std::size_t size) {
  events.push_back({std::string(static_cast<const char*>(data), size), 0});
}

void RecordingCommandPort::pauseMs(int ms) { events.push_back({std::string(), ms}); }

std::string RecordingCommandPort::allBytes() const {
  std::string joined;
  for (const Event& event : events) joined += event.bytes;
  return joined;
}

int RecordingCommandPort::totalPauseMs() const {
  int total = 0;
  for (const Event& event : events) total += event.pauseMs;
  return total;
}
