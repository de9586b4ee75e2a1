// Helpers shared by the EPO tests: generated EPO contents, temporary directories and files,
// and receiver replies built by hand (independently of the code under test).
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/support/files.h"
#include "tests/support/frames.h"

namespace epotest {

using Bytes = std::vector<std::uint8_t>;

// A run of 60-byte records whose bytes differ from record to record, so a misplaced record
// shows. Record r, byte b: (r * 37 + b * 11 + 5) & 0xFF.
inline Bytes MakeEpoBytes(std::size_t size) {
  Bytes bytes(size);
  for (std::size_t i = 0; i < size; ++i) {
    bytes[i] = static_cast<std::uint8_t>(((i / 60) * 37 + (i % 60) * 11 + 5) & 0xFF);
  }
  return bytes;
}

using testsupport::TempDir;

inline void WriteBytes(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline Bytes ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A temporary std::FILE* holding the bytes, positioned at the first byte.
inline std::FILE* TempFileWith(const Bytes& bytes) {
  std::FILE* file = std::tmpfile();
  if (file == nullptr) return nullptr;
  if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), file);
  std::rewind(file);
  return file;
}

// Receiver replies: 04 24, u16 length 12, u16 command, u16 argument, result, XOR, 0D 0A.
inline Bytes AckBytes(std::uint16_t command, std::uint16_t argument, std::uint8_t result) {
  const std::string packet = testsupport::BinaryAck(command, argument, result);
  return Bytes(packet.begin(), packet.end());
}
inline Bytes EpoAckBytes(std::uint16_t seq, std::uint8_t result = 1) { return AckBytes(2, seq, result); }
inline Bytes ModeAckBytes(std::uint8_t result = 3) { return AckBytes(1, 253, result); }
// A 14-byte packet that is no acknowledgement (what a receiver might send unasked).
inline Bytes OtherPacketBytes() {
  return {0x04, 0x24, 0x0E, 0x00, 0xFD, 0x00, 0x00, 0x00, 0xC2, 0x01, 0x00, 0x30, 0x0D, 0x0A};
}

inline Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

inline Bytes TextBytes(const std::string& text) { return Bytes(text.begin(), text.end()); }

}  // namespace epotest
