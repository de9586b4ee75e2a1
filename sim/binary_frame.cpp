// MediaTek binary frames for the simulated receiver; see binary_frame.h.
//
// Thread rule: plain values; one parser per byte stream.
#include "sim/binary_frame.h"

namespace sim {

namespace {
constexpr std::size_t kFrameOverhead = 9;   // preamble 2, length 2, command 2, checksum 1, end 2
constexpr std::size_t kLargestFrame = 512;  // longer is noise: the largest real frame is 191 bytes

void putU16(std::string& out, std::uint16_t value) {
  out += static_cast<char>(value & 0xFF);
  out += static_cast<char>((value >> 8) & 0xFF);
}

std::uint8_t xorRange(std::string_view bytes, std::size_t from, std::size_t to) {
  std::uint8_t sum = 0;
  for (std::size_t i = from; i < to; ++i) sum = static_cast<std::uint8_t>(sum ^ static_cast<std::uint8_t>(bytes[i]));
  return sum;
}
}  // namespace

std::string buildFrame(std::uint16_t command, std::string_view payload) {
  std::string out;
  out.reserve(payload.size() + kFrameOverhead);
  out += '\x04';
  out += '\x24';
  putU16(out, static_cast<std::uint16_t>(payload.size() + kFrameOverhead));
  putU16(out, command);
  out.append(payload);
  out += static_cast<char>(xorRange(out, 2, out.size()));
  out += '\r';
  out += '\n';
  return out;
}

std::string buildAck(std::uint16_t command, std::uint16_t argument, std::uint8_t result) {
  std::string payload;
  putU16(payload, argument);
  payload += static_cast<char>(result);
  return buildFrame(command, payload);
}

void BinaryFrameParser::feed(std::string_view bytes) { pending_.append(bytes); }

std::optional<BinaryPacket> BinaryFrameParser::next() {
  std::size_t pos = 0;
  std::optional<BinaryPacket> found;
  while (!found) {
    const std::size_t start = pending_.find("\x04\x24", pos);
    if (start == std::string::npos) {
      // Keep a trailing 0x04: it may be the first half of a preamble.
      pos = (!pending_.empty() && pending_.back() == '\x04') ? pending_.size() - 1 : pending_.size();
      break;
    }
    if (pending_.size() < start + 4) {
      pos = start;
      break;
    }
    const std::size_t length = readU16(pending_, start + 2);
    if (length < kFrameOverhead || length > kLargestFrame) {
      ++dropped_;
      pos = start + 1;
      continue;
    }
    if (pending_.size() < start + length) {
      pos = start;
      break;
    }
    const std::string_view frame(pending_.data() + start, length);
    if (frame[length - 2] != '\r' || frame[length - 1] != '\n' ||
        xorRange(frame, 2, length - 3) != static_cast<std::uint8_t>(frame[length - 3])) {
      ++dropped_;
      pos = start + 1;
      continue;
    }
    BinaryPacket packet;
    packet.command = readU16(frame, 4);
    packet.payload.assign(frame.substr(6, length - kFrameOverhead));
    packet.raw.assign(frame);
    found = std::move(packet);
    pos = start + length;
  }
  pending_.erase(0, pos);
  return found;
}

}  // namespace sim
