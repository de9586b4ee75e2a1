// EPO file checks, packet counts, the data, closing and output-mode packets byte for byte,
// and the classification of the receiver's replies.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <climits>
#include <filesystem>
#include <functional>

#include "agps/epo_packets.h"
#include "tests/core/test_epo_support.h"

using epotest::Bytes;

namespace {

Bytes ToBytes(std::span<const std::uint8_t> span) { return Bytes(span.begin(), span.end()); }

Bytes ClosingPacketFromTheProtocol() {
  Bytes p = {0x04, 0x24, 0xBF, 0x00, 0xD2, 0x02, 0xFF, 0xFF};
  p.insert(p.end(), 180, 0x00);
  p.insert(p.end(), {0x6F, 0x0D, 0x0A});
  return p;
}

struct FileCase {
  const char* legend;
  long size;  // -1: no file at all
  bool valid;
  int packets;
};
void PrintTo(const FileCase& c, std::ostream* os) { *os << c.legend; }

class EpoFileTest : public ::testing::TestWithParam<FileCase> {};

TEST_P(EpoFileTest, SizeValidityCountAndPositionAtFirstByte) {
  const FileCase& c = GetParam();
  std::FILE* file =
      c.size < 0 ? nullptr : epotest::TempFileWith(epotest::MakeEpoBytes(static_cast<std::size_t>(c.size)));
  if (c.size >= 0) {
    ASSERT_NE(file, nullptr);
  }
  if (file != nullptr) std::fseek(file, 0, SEEK_END);  // somewhere else first: each call must rewind

  EXPECT_EQ(EpoFileSize(file), c.size < 0 ? 0 : c.size) << c.legend;
  EXPECT_EQ(EpoFileIsValid(file), c.valid) << c.legend;
  if (file != nullptr) std::fseek(file, 0, SEEK_END);
  EXPECT_EQ(EpoPacketCount(file), c.packets) << c.legend;
  if (file != nullptr) {
    EXPECT_EQ(std::ftell(file), 0) << c.legend << ": left at the first byte";
    std::fclose(file);
  }
}

INSTANTIATE_TEST_SUITE_P(Sizes, EpoFileTest,
                         ::testing::Values(FileCase{"no file", -1, false, 0}, FileCase{"empty file", 0, false, 0},
                                           FileCase{"59 bytes: short of one record", 59, false, 1},
                                           FileCase{"60 bytes: one record", 60, true, 1},
                                           FileCase{"61 bytes: not whole records", 61, false, 1},
                                           FileCase{"180 bytes: exactly one packet", 180, true, 1},
                                           FileCase{"240 bytes: a second packet with one record", 240, true, 2},
                                           FileCase{"53,760 bytes: a seven-day file", 53760, true, 299},
                                           FileCase{"268,800 bytes: the largest acceptable", 268800, true, 1494},
                                           FileCase{"268,860 bytes: one record too many", 268860, false, 1494}));

TEST(EpoFile, OpenFileAcceptsGoodFilesAndSaysWhyItRefuses) {
  epotest::TempDir dir;
  struct Row {
    const char* legend;
    long long size;  // -1: not created
    bool opens;
    const char* detailHas;
    std::function<void(const std::string&)> make = {};  // instead of a file of that size
  } rows[] = {
      {"good file", 120, true, ""},
      {"missing file", -1, false, "cannot open"},
      {"empty file", 0, false, "0 bytes"},
      {"61 bytes", 61, false, "61 bytes"},
      {"too large", 268860, false, "268860 bytes"},
      {"beyond what a 32-bit size holds: its real size", 3000000000LL, false, ": 3000000000 bytes",
       [](const std::string& p) {
         epotest::WriteBytes(p, {});
         std::filesystem::resize_file(p, 3000000000ULL);  // sparse
       }},
      {"a directory", 0, false, " is a directory; an EPO file is a file of",
       [](const std::string& p) { std::filesystem::create_directory(p); }},
      {"a FIFO: refused without waiting for a writer", 0, false, " is not a regular file",
       [](const std::string& p) { ::mkfifo(p.c_str(), 0600); }},
  };
  int made = 0;
  for (const Row& row : rows) {
    const std::string path = dir.file("f" + std::to_string(made++));
    if (row.make) {
      row.make(path);
    } else if (row.size >= 0) {
      epotest::WriteBytes(path, epotest::MakeEpoBytes(static_cast<std::size_t>(row.size)));
    }
    std::string detail = "unchanged";
    EpoFilePtr file = EpoOpenFile(path, &detail);
    EXPECT_EQ(static_cast<bool>(file), row.opens) << row.legend;
    if (row.opens) {
      EXPECT_TRUE(detail.empty()) << row.legend;
      EXPECT_EQ(std::ftell(file.get()), 0) << row.legend;
    } else {
      EXPECT_NE(detail.find(row.detailHas), std::string::npos) << row.legend << ": " << detail;
    }
  }
}

TEST(EpoPacketCount, SaturatesForHugeFilesInsteadOfWrapping) {
  // 6,000,000 bytes would be 33,334 packets: beyond the 16-bit count.
  std::FILE* file = epotest::TempFileWith(Bytes(6000000, 0x11));
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(EpoPacketCount(file), INT16_MAX);
  EXPECT_FALSE(EpoFileIsValid(file));
  std::fclose(file);
}

TEST(EpoPackets, ClosingPacketIsTheProtocolsBytes) {
  EpoPacket packet{};
  packet.fill(0xAA);  // every byte must be written
  EpoBuildEndPacket(packet);
  EXPECT_EQ(ToBytes(packet), ClosingPacketFromTheProtocol());
}

TEST(EpoPackets, DataPacketLayoutLittleEndianAndChecksum) {
  struct Row {
    const char* legend;
    std::uint16_t seq;
    std::uint8_t seqLow, seqHigh;
    std::uint8_t fill1, fill2, fill3;
    std::uint8_t checksum;  // worked out by hand: BF ^ D2 ^ 02 ^ seq bytes ^ records
  } rows[] = {
      {"first packet, zero records", 0, 0x00, 0x00, 0, 0, 0, 0x6F},
      {"seq 1, zero records", 1, 0x01, 0x00, 0, 0, 0, 0x6E},
      {"seq 0x1234: low byte first", 0x1234, 0x34, 0x12, 0, 0, 0, 0x6F ^ 0x34 ^ 0x12},
      // 60 equal bytes XOR to 0, so filled records leave the checksum as for zeros.
      {"filled records cancel out", 7, 0x07, 0x00, 0x5A, 0xA5, 0xFF, 0x6F ^ 0x07},
  };
  for (const Row& row : rows) {
    EpoRecord r1, r2, r3;
    r1.fill(row.fill1);
    r2.fill(row.fill2);
    r3.fill(row.fill3);
    EpoPacket packet{};
    ASSERT_TRUE(EpoBuildPacket(row.seq, r1, r2, r3, packet)) << row.legend;
    const Bytes head(packet.begin(), packet.begin() + 8);
    EXPECT_EQ(head, (Bytes{0x04, 0x24, 0xBF, 0x00, 0xD2, 0x02, row.seqLow, row.seqHigh})) << row.legend;
    EXPECT_EQ(Bytes(packet.begin() + 8, packet.begin() + 68), Bytes(60, row.fill1)) << row.legend;
    EXPECT_EQ(Bytes(packet.begin() + 68, packet.begin() + 128), Bytes(60, row.fill2)) << row.legend;
    EXPECT_EQ(Bytes(packet.begin() + 128, packet.begin() + 188), Bytes(60, row.fill3)) << row.legend;
    EXPECT_EQ(packet[188], row.checksum) << row.legend;
    EXPECT_EQ(packet[189], 0x0D) << row.legend;
    EXPECT_EQ(packet[190], 0x0A) << row.legend;
  }
}

TEST(EpoPackets, ChecksumCoversEveryRecordByte) {
  EpoRecord zero{};
  EpoRecord marked{};
  for (std::size_t at : {std::size_t{0}, std::size_t{59}}) {
    for (int which = 0; which < 3; ++which) {
      marked.fill(0);
      marked[at] = 0x81;
      EpoPacket packet{};
      EpoBuildPacket(0, which == 0 ? marked : zero, which == 1 ? marked : zero, which == 2 ? marked : zero, packet);
      EXPECT_EQ(packet[188], 0x6F ^ 0x81) << "record " << which + 1 << " byte " << at;
    }
  }
}

struct ModeCase {
  const char* legend;
  std::uint32_t baudRate;
  Bytes expected;
};

TEST(EpoPackets, OutputModePacketForEachRate) {
  const ModeCase rows[] = {
      {"115200", 115200, {0x04, 0x24, 0x0E, 0x00, 0xFD, 0x00, 0x00, 0x00, 0xC2, 0x01, 0x00, 0x30, 0x0D, 0x0A}},
      {"4800", 4800, {0x04, 0x24, 0x0E, 0x00, 0xFD, 0x00, 0x00, 0xC0, 0x12, 0x00, 0x00, 0x21, 0x0D, 0x0A}},
      {"9600", 9600, {0x04, 0x24, 0x0E, 0x00, 0xFD, 0x00, 0x00, 0x80, 0x25, 0x00, 0x00, 0x56, 0x0D, 0x0A}},
      {"14400", 14400, {0x04, 0x24, 0x0E, 0x00, 0xFD, 0x00, 0x00, 0x40, 0x38, 0x00, 0x00, 0x8B, 0x0D, 0x0A}},
      {"19200", 19200, {0x04, 0x24, 0x0E, 0x00, 0xFD, 0x00, 0x00, 0x00, 0x4B, 0x00, 0x00, 0xB8, 0x0D, 0x0A}},
      {"38400", 38400, {0x04, 0x24, 0x0E, 0x00, 0xFD, 0x00, 0x00, 0x00, 0x96, 0x00, 0x00, 0x65, 0x0D, 0x0A}},
      {"57600: filled although the window does not offer it",
       57600,
       {0x04, 0x24, 0x0E, 0x00, 0xFD, 0x00, 0x00, 0x00, 0xE1, 0x00, 0x00, 0x12, 0x0D, 0x0A}},
      {"2400: not a mode rate, field left 0",
       2400,
       {0x04, 0x24, 0x0E, 0x00, 0xFD, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xF3, 0x0D, 0x0A}},
      {"0: field left 0", 0, {0x04, 0x24, 0x0E, 0x00, 0xFD, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xF3, 0x0D, 0x0A}},
      {"230400: field left 0",
       230400,
       {0x04, 0x24, 0x0E, 0x00, 0xFD, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xF3, 0x0D, 0x0A}},
  };
  for (const ModeCase& row : rows) {
    EpoModePacket packet{};
    packet.fill(0x77);
    EpoBuildModePacket(row.baudRate, packet);
    EXPECT_EQ(ToBytes(packet), row.expected) << row.legend;
  }
}

TEST(EpoReadPacket, OneRecordFileGivesOnePacketWithZeroRecordsTwoAndThree) {
  const Bytes content = epotest::MakeEpoBytes(60);
  std::FILE* file = epotest::TempFileWith(content);
  ASSERT_NE(file, nullptr);
  EpoPacket packet{};
  ASSERT_TRUE(EpoReadPacket(0, file, packet));
  EXPECT_EQ(packet[6], 0x00);
  EXPECT_EQ(packet[7], 0x00);
  EXPECT_EQ(Bytes(packet.begin() + 8, packet.begin() + 68), content);
  EXPECT_EQ(Bytes(packet.begin() + 68, packet.begin() + 188), Bytes(120, 0x00));
  EpoPacket untouched{};
  untouched.fill(0x99);
  EXPECT_FALSE(EpoReadPacket(1, file, untouched));
  EXPECT_EQ(untouched[0], 0x99) << "nothing built when no record is left";
  std::fclose(file);
}

TEST(EpoReadPacket, SevenDayFileGives299PacketsThenTheClosingPacket) {
  const Bytes content = epotest::MakeEpoBytes(53760);
  std::FILE* file = epotest::TempFileWith(content);
  ASSERT_NE(file, nullptr);
  std::vector<Bytes> packets;
  EpoPacket packet{};
  for (std::uint16_t seq = 0; EpoReadPacket(seq, file, packet); ++seq) packets.push_back(ToBytes(packet));
  EpoBuildEndPacket(packet);
  packets.push_back(ToBytes(packet));

  ASSERT_EQ(packets.size(), 300u);
  for (std::size_t i = 0; i + 1 < packets.size(); ++i) {
    const Bytes& p = packets[i];
    ASSERT_EQ(p.size(), 191u);
    EXPECT_EQ(p[6] | (p[7] << 8), static_cast<int>(i)) << "packet " << i;
    // Record payload: the file's next 180 bytes, or what is left of it followed by zeros.
    const std::size_t from = i * 180;
    const std::size_t take = std::min<std::size_t>(180, content.size() - from);
    Bytes expected(content.begin() + static_cast<long>(from), content.begin() + static_cast<long>(from + take));
    expected.resize(180, 0x00);
    EXPECT_EQ(Bytes(p.begin() + 8, p.begin() + 188), expected) << "packet " << i;
  }
  // The last data packet holds two records and one zero record.
  EXPECT_EQ(Bytes(packets[298].begin() + 128, packets[298].begin() + 188), Bytes(60, 0x00));
  EXPECT_NE(Bytes(packets[298].begin() + 68, packets[298].begin() + 128), Bytes(60, 0x00));
  EXPECT_EQ(packets.back(), ClosingPacketFromTheProtocol());
  std::fclose(file);
}

TEST(EpoReadPacket, ShortRecordsAreSentAsZeros) {
  struct Row {
    const char* legend;
    std::size_t size;
    bool record2FromFile;
  } rows[] = {
      {"150 bytes: third record only half there", 150, true},
      {"90 bytes: second record only half there", 90, false},
  };
  for (const Row& row : rows) {
    const Bytes content = epotest::MakeEpoBytes(row.size);
    std::FILE* file = epotest::TempFileWith(content);
    ASSERT_NE(file, nullptr);
    EpoPacket packet{};
    ASSERT_TRUE(EpoReadPacket(0, file, packet)) << row.legend;
    EXPECT_EQ(Bytes(packet.begin() + 8, packet.begin() + 68), Bytes(content.begin(), content.begin() + 60))
        << row.legend;
    const Bytes record2(packet.begin() + 68, packet.begin() + 128);
    if (row.record2FromFile) {
      EXPECT_EQ(record2, Bytes(content.begin() + 60, content.begin() + 120)) << row.legend;
    } else {
      EXPECT_EQ(record2, Bytes(60, 0x00)) << row.legend;
    }
    EXPECT_EQ(Bytes(packet.begin() + 128, packet.begin() + 188), Bytes(60, 0x00)) << row.legend;
    EXPECT_FALSE(EpoReadPacket(1, file, packet)) << row.legend;
    std::fclose(file);
  }
}

TEST(EpoReadPacket, NoFileBuildsNothing) {
  EpoPacket packet{};
  EXPECT_FALSE(EpoReadPacket(0, nullptr, packet));
}

struct ClassifyCase {
  const char* legend;
  Bytes packet;
  EpoReplyKind kind;
  bool accepted;
  std::uint16_t seq;
};
void PrintTo(const ClassifyCase& c, std::ostream* os) { *os << c.legend; }

class EpoClassifyTest : public ::testing::TestWithParam<ClassifyCase> {};

TEST_P(EpoClassifyTest, Classifies) {
  const ClassifyCase& c = GetParam();
  const EpoReply reply = EpoClassifyReply(c.packet.data(), c.packet.size());
  EXPECT_EQ(reply.kind, c.kind) << c.legend << ": got " << EpoReplyKindName(reply.kind);
  EXPECT_EQ(reply.accepted, c.accepted) << c.legend;
  if (c.kind == EpoReplyKind::EpoAck) {
    EXPECT_EQ(reply.seq, c.seq) << c.legend;
  }
}

Bytes ClosingPacketLengthOnly() { return ClosingPacketFromTheProtocol(); }

INSTANTIATE_TEST_SUITE_P(
    Replies, EpoClassifyTest,
    ::testing::Values(
        ClassifyCase{"EPO ack of seq 1, accepted",
                     {0x04, 0x24, 0x0C, 0x00, 0x02, 0x00, 0x01, 0x00, 0x01, 0x0E, 0x0D, 0x0A},
                     EpoReplyKind::EpoAck,
                     true,
                     1},
        ClassifyCase{"its corrupt twin (byte 9 changed)",
                     {0x04, 0x24, 0x0C, 0x00, 0x02, 0x00, 0x01, 0x00, 0x01, 0x0F, 0x0D, 0x0A},
                     EpoReplyKind::CorruptAck,
                     false,
                     0},
        ClassifyCase{"EPO ack with a changed payload byte is corrupt",
                     {0x04, 0x24, 0x0C, 0x00, 0x02, 0x00, 0x03, 0x00, 0x01, 0x0E, 0x0D, 0x0A},
                     EpoReplyKind::CorruptAck,
                     false,
                     0},
        ClassifyCase{"mode ack, accepted",
                     {0x04, 0x24, 0x0C, 0x00, 0x01, 0x00, 0xFD, 0x00, 0x03, 0xF3, 0x0D, 0x0A},
                     EpoReplyKind::ModeAck,
                     true,
                     0},
        ClassifyCase{"mode ack with result 2, not accepted",
                     {0x04, 0x24, 0x0C, 0x00, 0x01, 0x00, 0xFD, 0x00, 0x02, 0xF2, 0x0D, 0x0A},
                     EpoReplyKind::ModeAck,
                     false,
                     0},
        ClassifyCase{"EPO ack of seq 5, result 0: not accepted",
                     {0x04, 0x24, 0x0C, 0x00, 0x02, 0x00, 0x05, 0x00, 0x00, 0x0B, 0x0D, 0x0A},
                     EpoReplyKind::EpoAck,
                     false,
                     5},
        ClassifyCase{"EPO ack of seq 0x0123: low byte first",
                     {0x04, 0x24, 0x0C, 0x00, 0x02, 0x00, 0x23, 0x01, 0x01, 0x2D, 0x0D, 0x0A},
                     EpoReplyKind::EpoAck,
                     true,
                     0x0123},
        ClassifyCase{"EPO ack of seq 0xFFFF",
                     {0x04, 0x24, 0x0C, 0x00, 0x02, 0x00, 0xFF, 0xFF, 0x01, 0x0F, 0x0D, 0x0A},
                     EpoReplyKind::EpoAck,
                     true,
                     0xFFFF},
        ClassifyCase{"command-1 ack of command 254: ignored",
                     {0x04, 0x24, 0x0C, 0x00, 0x01, 0x00, 0xFE, 0x00, 0x03, 0xF0, 0x0D, 0x0A},
                     EpoReplyKind::Ignored,
                     false,
                     0},
        ClassifyCase{"command-1 ack of command 0x01FD (high byte counts): ignored",
                     {0x04, 0x24, 0x0C, 0x00, 0x01, 0x00, 0xFD, 0x01, 0x03, 0xF2, 0x0D, 0x0A},
                     EpoReplyKind::Ignored,
                     false,
                     0},
        ClassifyCase{"command 3: ignored",
                     {0x04, 0x24, 0x0C, 0x00, 0x03, 0x00, 0x01, 0x00, 0x01, 0x0F, 0x0D, 0x0A},
                     EpoReplyKind::Ignored,
                     false,
                     0},
        ClassifyCase{"command 0x0102 (high byte counts): ignored",
                     {0x04, 0x24, 0x0C, 0x00, 0x02, 0x01, 0x01, 0x00, 0x01, 0x0F, 0x0D, 0x0A},
                     EpoReplyKind::Ignored,
                     false,
                     0},
        ClassifyCase{"length 14: other packet",
                     {0x04, 0x24, 0x0E, 0x00, 0xFD, 0x00, 0x00, 0x00, 0xC2, 0x01, 0x00, 0x30, 0x0D, 0x0A},
                     EpoReplyKind::OtherPacket,
                     false,
                     0},
        ClassifyCase{"length 14 with a wrong checksum: still other packet",
                     {0x04, 0x24, 0x0E, 0x00, 0xFD, 0x00, 0x00, 0x00, 0xC2, 0x01, 0x00, 0x99, 0x0D, 0x0A},
                     EpoReplyKind::OtherPacket,
                     false,
                     0},
        ClassifyCase{"length 191: other packet", ClosingPacketLengthOnly(), EpoReplyKind::OtherPacket, false, 0},
        ClassifyCase{"length 12 + 256 (high byte counts): other packet",
                     {0x04, 0x24, 0x0C, 0x01, 0x02, 0x00, 0x01, 0x00, 0x01, 0x0F, 0x0D, 0x0A},
                     EpoReplyKind::OtherPacket,
                     false,
                     0},
        ClassifyCase{"length 12 but only 6 bytes: checksum cannot match",
                     {0x04, 0x24, 0x0C, 0x00, 0x0D, 0x0A},
                     EpoReplyKind::CorruptAck,
                     false,
                     0},
        ClassifyCase{"three bytes: no length field of 12", {0x04, 0x24, 0x0A}, EpoReplyKind::OtherPacket, false, 0}));

}  // namespace
