// EPO file checks, packet builders and the reply scanner. Fields are packed byte by byte,
// little-endian, so the bytes on the line never depend on the host's layout or byte order.
//
// Thread rule: no shared state; a ReplyFramer is used by one thread at a time.
#include "agps/epo_packets.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

namespace {

constexpr std::uint8_t kPreamble0 = 0x04;
constexpr std::uint8_t kPreamble1 = 0x24;
constexpr std::uint8_t kEnd0 = 0x0D;
constexpr std::uint8_t kEnd1 = 0x0A;
constexpr std::uint16_t kAckLength = 12;
constexpr std::uint16_t kAckCommandAck = 1;
constexpr std::uint16_t kAckCommandEpo = 2;
constexpr std::uint8_t kModeAccepted = 3;
constexpr std::uint8_t kEpoAccepted = 1;

constexpr std::array<std::uint32_t, 7> kModeBaudRates = {4800, 9600, 14400, 19200, 38400, 57600, 115200};

void putU16(std::uint8_t* at, std::uint16_t value) {
  at[0] = static_cast<std::uint8_t>(value & 0xFFu);
  at[1] = static_cast<std::uint8_t>(value >> 8);
}

void putU32(std::uint8_t* at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<std::uint8_t>((value >> (8 * i)) & 0xFFu);
}

std::uint8_t xorRange(const std::uint8_t* data, std::size_t first, std::size_t last) {
  std::uint8_t sum = 0;
  for (std::size_t i = first; i <= last; ++i) sum = static_cast<std::uint8_t>(sum ^ data[i]);
  return sum;
}

// Reads up to one record; true when all 60 bytes came.
bool readRecord(std::FILE* file, EpoRecord& record) {
  return std::fread(record.data(), 1, record.size(), file) == record.size();
}

}  // namespace

void EpoFileCloser::operator()(std::FILE* file) const noexcept {
  if (file != nullptr) std::fclose(file);
}

std::int32_t EpoFileSize(std::FILE* file) {
  if (file == nullptr) return 0;
  if (std::fseek(file, 0, SEEK_END) != 0) {
    std::fseek(file, 0, SEEK_SET);
    return 0;
  }
  const long size = std::ftell(file);
  std::fseek(file, 0, SEEK_SET);
  if (size <= 0) return 0;
  if (size > static_cast<long>(INT32_MAX)) return INT32_MAX;
  return static_cast<std::int32_t>(size);
}

bool EpoFileIsValid(std::FILE* file) {
  if (file == nullptr) return false;
  const std::int32_t size = EpoFileSize(file);
  return size > 0 && size % static_cast<std::int32_t>(kEpoRecordBytes) == 0 && size <= kEpoMaxFileBytes;
}

std::int16_t EpoPacketCount(std::FILE* file) {
  const std::int32_t size = EpoFileSize(file);
  constexpr std::int32_t kPacketPayload = static_cast<std::int32_t>(kEpoRecordBytes * kEpoRecordsPerPacket);
  const std::int32_t count = size / kPacketPayload + (size % kPacketPayload != 0 ? 1 : 0);
  return static_cast<std::int16_t>(std::min<std::int32_t>(count, INT16_MAX));
}

EpoFilePtr EpoOpenFile(const std::string& path, std::string* detail) {
  // Opened without waiting, then asked what it is: a FIFO would block a plain open until some
  // writer came (even one put in the file's place after a look at the path), and a directory
  // would read as garbage sizes.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    if (detail != nullptr) *detail = "cannot open " + path + ": " + std::strerror(errno);
    return nullptr;
  }
  struct stat what {};
  if (::fstat(fd, &what) != 0 || !S_ISREG(what.st_mode)) {
    ::close(fd);
    if (detail != nullptr) {
      *detail = path + (S_ISDIR(what.st_mode) ? " is a directory" : " is not a regular file") +
                "; an EPO file is a file of 1 to 4480 records of 60 bytes";
    }
    return nullptr;
  }
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  EpoFilePtr file(::fdopen(fd, "rb"));
  if (!file) {
    if (detail != nullptr) *detail = "cannot open " + path + ": " + std::strerror(errno);
    ::close(fd);
    return nullptr;
  }
  if (!EpoFileIsValid(file.get())) {
    if (detail != nullptr) {
      // The real size, not the clamped one the packet count works with.
      struct stat opened {};
      const long long size = ::fstat(::fileno(file.get()), &opened) == 0
                                 ? static_cast<long long>(opened.st_size)
                                 : static_cast<long long>(EpoFileSize(file.get()));
      *detail = path + ": " + std::to_string(size) +
                " bytes; an EPO file holds 1 to 4480 records of 60 bytes (at most 268800 bytes)";
    }
    return nullptr;
  }
  if (detail != nullptr) detail->clear();
  return file;
}

bool EpoReadPacket(std::uint16_t seq, std::FILE* file, std::span<std::uint8_t, kEpoPacketBytes> packet) {
  if (file == nullptr) return false;
  EpoRecord record1{};
  EpoRecord record2{};
  EpoRecord record3{};
  if (!readRecord(file, record1)) return false;
  // A short record is sent as zeros; the third is read even when the second came short.
  if (!readRecord(file, record2)) record2.fill(0);
  if (!readRecord(file, record3)) record3.fill(0);
  return EpoBuildPacket(seq, record1, record2, record3, packet);
}

bool EpoBuildPacket(std::uint16_t seq, std::span<const std::uint8_t, kEpoRecordBytes> record1,
                    std::span<const std::uint8_t, kEpoRecordBytes> record2,
                    std::span<const std::uint8_t, kEpoRecordBytes> record3,
                    std::span<std::uint8_t, kEpoPacketBytes> packet) {
  std::uint8_t* p = packet.data();
  p[0] = kPreamble0;
  p[1] = kPreamble1;
  putU16(p + 2, static_cast<std::uint16_t>(kEpoPacketBytes));
  putU16(p + 4, kEpoDataCommand);
  putU16(p + 6, seq);
  std::memcpy(p + 8, record1.data(), kEpoRecordBytes);
  std::memcpy(p + 68, record2.data(), kEpoRecordBytes);
  std::memcpy(p + 128, record3.data(), kEpoRecordBytes);
  p[188] = xorRange(p, 2, 187);
  p[189] = kEnd0;
  p[190] = kEnd1;
  return true;
}

void EpoBuildEndPacket(std::span<std::uint8_t, kEpoPacketBytes> packet) {
  static constexpr EpoRecord kZero{};
  EpoBuildPacket(kEpoEndSeq, kZero, kZero, kZero, packet);
}

void EpoBuildModePacket(std::uint32_t baudRate, std::span<std::uint8_t, kEpoModePacketBytes> packet) {
  static constexpr EpoModePacket kFixed = {0x04, 0x24, 0x0E, 0x00, 0xFD, 0x00, 0x00,
                                           0x00, 0x00, 0x00, 0x00, 0xF3, 0x0D, 0x0A};
  std::copy(kFixed.begin(), kFixed.end(), packet.begin());
  if (std::find(kModeBaudRates.begin(), kModeBaudRates.end(), baudRate) == kModeBaudRates.end()) return;
  putU32(packet.data() + 7, baudRate);
  packet[11] = xorRange(packet.data(), 2, 10);
}

// 04 24 0C 00 02 00 01 00 01 0E 0D 0A   (the acknowledgement of EPO packet 1)
// 04 24 0C 00 01 00 FD 00 03 F3 0D 0A   (the acknowledgement of the switch to binary, 253)
//  0-1 preamble 04 24   2-3 length, 12, little-endian   4-5 command: 1 acknowledges a command,
//  2 an EPO data packet   6-7 the command acknowledged (253) or the packet's sequence number
//  8 result: 3 accepted (command 1), 1 accepted (command 2)   9 XOR of bytes 2-8   10-11 0D 0A
EpoReply EpoClassifyReply(std::span<const std::uint8_t> packet) {
  const std::size_t count = packet.size();
  auto at = [&](std::size_t i) -> std::uint8_t { return i < count ? packet[i] : std::uint8_t{0}; };
  EpoReply reply;
  const unsigned length = at(2) + 256u * at(3);
  if (length != kAckLength) {
    reply.kind = EpoReplyKind::OtherPacket;
    return reply;
  }
  // The checksum covers bytes 2 .. count-4 and sits at count-3, just before the end marker.
  std::uint8_t sum = 0;
  for (std::size_t i = 2; i + 4 <= count; ++i) sum = static_cast<std::uint8_t>(sum ^ packet[i]);
  const std::uint8_t stored = count >= 3 ? packet[count - 3] : std::uint8_t{0};
  if (sum != stored) {
    reply.kind = EpoReplyKind::CorruptAck;
    return reply;
  }
  const unsigned command = at(4) + 256u * at(5);
  const auto argument = static_cast<std::uint16_t>(at(6) + 256u * at(7));
  const std::uint8_t result = at(8);
  if (command == kAckCommandAck) {
    if (argument != kEpoModeCommand) {
      reply.kind = EpoReplyKind::Ignored;
      return reply;
    }
    reply.kind = EpoReplyKind::ModeAck;
    reply.accepted = result == kModeAccepted;
    return reply;
  }
  if (command == kAckCommandEpo) {
    reply.kind = EpoReplyKind::EpoAck;
    reply.seq = argument;
    reply.accepted = result == kEpoAccepted;
    return reply;
  }
  reply.kind = EpoReplyKind::Ignored;
  return reply;
}

const char* EpoReplyKindName(EpoReplyKind kind) {
  switch (kind) {
    case EpoReplyKind::OtherPacket: return "other packet";
    case EpoReplyKind::CorruptAck: return "corrupt acknowledgement";
    case EpoReplyKind::ModeAck: return "mode acknowledgement";
    case EpoReplyKind::EpoAck: return "EPO acknowledgement";
    case EpoReplyKind::Ignored: return "ignored";
  }
  return "?";
}

void ReplyFramer::clear() {
  std::fill(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(length_), std::uint8_t{0});
  length_ = 0;
}

void ReplyFramer::reset() {
  buffer_.fill(0);
  length_ = 0;
  state_ = 0;
  hasCarry_ = false;
  carry_ = 0;
}

bool ReplyFramer::step(std::uint8_t byte, std::uint8_t next, const Sink& sink) {
  const bool startPair = byte == kPreamble0 && next == kPreamble1;
  if (state_ == 0) {
    if (startPair) {
      state_ = 1;
      buffer_[0] = byte;
      length_ = 1;
    }
    return true;
  }
  if (startPair) {
    ++dropped_;
    clear();
    buffer_[0] = byte;
    length_ = 1;
    return true;
  }
  if (byte == kEnd0 && next == kEnd1) {
    if (length_ + 2 > buffer_.size()) {
      ++dropped_;
      clear();
      state_ = 0;
      return true;
    }
    buffer_[length_++] = kEnd0;
    buffer_[length_++] = kEnd1;
    const std::span<const std::uint8_t> packet(buffer_.data(), length_);
    const EpoReply reply = EpoClassifyReply(packet);
    const bool goOn = sink ? sink(packet, reply) : true;
    clear();
    state_ = 0;
    // The 0A that follows is seen again by the caller's loop, in hunting, and dropped.
    return goOn;
  }
  if (length_ >= buffer_.size()) {
    // Never ended within 256 bytes: not a reply of this protocol. Hunt for the next start.
    ++dropped_;
    clear();
    state_ = 0;
    return true;
  }
  buffer_[length_++] = byte;
  return true;
}

bool ReplyFramer::feed(std::span<const std::uint8_t> chunk, const Sink& sink) {
  const std::size_t n = chunk.size();
  if (n == 0) return true;
  if (hasCarry_) {
    // The pair test of the last byte of the previous chunk, completed with this chunk's first.
    hasCarry_ = false;
    if (!step(carry_, chunk[0], sink)) return false;
  }
  for (std::size_t i = 0; i + 1 < n; ++i) {
    if (!step(chunk[i], chunk[i + 1], sink)) return false;
  }
  const std::uint8_t last = chunk[n - 1];
  if (last == kPreamble0 || (state_ == 1 && last == kEnd0)) {
    hasCarry_ = true;
    carry_ = last;
    return true;
  }
  return step(last, 0, sink);
}
