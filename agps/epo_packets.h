// The EPO file and MediaTek's binary packet protocol: which files are acceptable, how the
// file is cut into numbered 191-byte data packets, the closing and output-mode packets, and
// the scanner that cuts the receiver's binary replies out of the byte stream and classifies
// them. No port, no thread, no clock: callers hand in an open file, buffers and bytes.
//
// Every multi-byte field is little-endian and is written and read byte by byte.
//
// Thread rule: the functions are reentrant; a ReplyFramer belongs to one thread at a time.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <span>
#include <string>

inline constexpr std::size_t kEpoRecordBytes = 60;
inline constexpr std::size_t kEpoRecordsPerPacket = 3;
inline constexpr std::size_t kEpoPacketBytes = 191;
inline constexpr std::size_t kEpoModePacketBytes = 14;
inline constexpr std::int32_t kEpoMaxFileBytes = 268800;  // 4,480 records, 35 days
inline constexpr std::size_t kReplyBufferBytes = 256;     // longest reply packet kept
inline constexpr std::uint16_t kEpoDataCommand = 722;
inline constexpr std::uint16_t kEpoModeCommand = 253;
inline constexpr std::uint16_t kEpoEndSeq = 0xFFFF;

using EpoPacket = std::array<std::uint8_t, kEpoPacketBytes>;
using EpoModePacket = std::array<std::uint8_t, kEpoModePacketBytes>;
using EpoRecord = std::array<std::uint8_t, kEpoRecordBytes>;

// Owning handle of an EPO file opened for reading in binary mode.
struct EpoFileCloser {
  void operator()(std::FILE* file) const noexcept;
};
using EpoFilePtr = std::unique_ptr<std::FILE, EpoFileCloser>;

// Size in bytes, 0 when there is no file (or its size cannot be taken). Leaves the file at its
// first byte. Sizes beyond the 32-bit range read as INT32_MAX (never acceptable).
std::int32_t EpoFileSize(std::FILE* file);

// Present, larger than 0, a whole number of 60-byte records, at most 268,800 bytes.
// Leaves the file at its first byte.
bool EpoFileIsValid(std::FILE* file);

// Data packets the file needs: size / 180 rounded up (the closing packet not counted); 0 when
// there is no file. Leaves the file at its first byte. Saturates at INT16_MAX for files far
// beyond the acceptable size.
std::int16_t EpoPacketCount(std::FILE* file);

// Opens a file for an upload: read-only binary, checked with EpoFileIsValid, positioned at
// its first byte. Null when it cannot be opened or is not acceptable; *detail (if given) then
// says which, for logs and the command-line tool.
EpoFilePtr EpoOpenFile(const std::string& path, std::string* detail = nullptr);

// Builds a data packet with sequence number seq from the next three records of the file
// (walking on from the current position). A record the file no longer holds in full is sent
// as zeros. False, and nothing built, when not even the first record was complete.
bool EpoReadPacket(std::uint16_t seq, std::FILE* file, std::span<std::uint8_t, kEpoPacketBytes> packet);

// 04 24, length 191, command 722, seq, three records, XOR of bytes 2..187, 0D 0A. Always true.
bool EpoBuildPacket(std::uint16_t seq, std::span<const std::uint8_t, kEpoRecordBytes> record1,
                    std::span<const std::uint8_t, kEpoRecordBytes> record2,
                    std::span<const std::uint8_t, kEpoRecordBytes> record3,
                    std::span<std::uint8_t, kEpoPacketBytes> packet);

// The data packet with sequence 0xFFFF and three zero records that ends an upload.
void EpoBuildEndPacket(std::span<std::uint8_t, kEpoPacketBytes> packet);

// The packet that returns the receiver to NMEA output at baudRate. Only 4800, 9600, 14400,
// 19200, 38400, 57600 and 115200 are written into the baud field; any other rate leaves it 0.
void EpoBuildModePacket(std::uint32_t baudRate, std::span<std::uint8_t, kEpoModePacketBytes> packet);

enum class EpoReplyKind {
  OtherPacket,  // length field not 12
  CorruptAck,   // length field 12, checksum wrong
  ModeAck,      // command 1 acknowledging command 253
  EpoAck,       // command 2: acknowledgement of an EPO data packet
  Ignored,      // length 12, checksum right, any other acknowledgement
};

struct EpoReply {
  EpoReplyKind kind = EpoReplyKind::OtherPacket;
  bool accepted = false;  // ModeAck: result 3; EpoAck: result 1
  std::uint16_t seq = 0;  // EpoAck: the acknowledged sequence number
};

// Classifies one packet of count bytes as the scanner cut it (end marker included). Bytes a
// short packet does not have read as zero, as they would in the scanner's cleared buffer.
EpoReply EpoClassifyReply(std::span<const std::uint8_t> packet);
inline EpoReply EpoClassifyReply(const std::uint8_t* packet, std::size_t count) {
  return EpoClassifyReply(std::span<const std::uint8_t>(packet, count));
}

const char* EpoReplyKindName(EpoReplyKind kind);

// Cuts binary packets out of the received stream: a packet starts at 04 24 and ends at the
// first 0D 0A (the length field is not used to find the end). A new 04 24 while collecting
// drops what was collected. A start or end pair split across two chunks is still recognised:
// a trailing 04 (or 0D while collecting) waits for the first byte of the next chunk. A packet
// that would need more than 256 bytes is dropped and the scanner hunts for the next start.
class ReplyFramer {
 public:
  // Called for every complete packet (its bytes, valid during the call) with its class, in
  // order; return false to stop the scan (the rest of the chunk is then dropped).
  using Sink = std::function<bool(std::span<const std::uint8_t> packet, const EpoReply& reply)>;

  // Feeds one chunk in arrival order. Returns false when the sink stopped the scan.
  bool feed(std::span<const std::uint8_t> chunk, const Sink& sink);
  void reset();

  int replyState() const { return state_; }  // 0 hunting, 1 collecting
  std::size_t replyLength() const { return length_; }
  std::span<const std::uint8_t> replyBuffer() const { return buffer_; }
  bool holdsCarryByte() const { return hasCarry_; }
  unsigned long long droppedPackets() const { return dropped_; }  // overlong or restarted

 private:
  // One byte with the byte after it; returns false when the sink stopped the scan.
  bool step(std::uint8_t byte, std::uint8_t next, const Sink& sink);
  void clear();
  void store(std::uint8_t byte);

  int state_ = 0;
  std::array<std::uint8_t, kReplyBufferBytes> buffer_{};
  std::size_t length_ = 0;
  bool hasCarry_ = false;
  std::uint8_t carry_ = 0;
  unsigned long long dropped_ = 0;
};
