// The simulated receiver's binary protocol on a fake clock: the switch, the mode
// acknowledgement, one acknowledgement per EPO data packet, the packets recorded as sent,
// the return to NMEA, and every fault flag. Packets are built here byte by byte, apart from
// both the program's and the simulator's packet code.
//
// Thread rule: single-threaded.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/receiver_model.h"
#include "tests/core/test_sim_support.h"

using simtest::joinChunks;

namespace {

std::string bytes(std::initializer_list<int> values) {
  std::string out;
  for (const int v : values) out += static_cast<char>(v);
  return out;
}

// The acknowledgement of EPO data packet seq.
std::string ack(unsigned seq, int result) {
  return testsupport::BinaryAck(2, static_cast<std::uint16_t>(seq), static_cast<std::uint8_t>(result));
}

const std::string kModeAck = bytes({0x04, 0x24, 0x0C, 0x00, 0x01, 0x00, 0xFD, 0x00, 0x03, 0xF3, 0x0D, 0x0A});
const std::string kBackToNmea115200 =
    bytes({0x04, 0x24, 0x0E, 0x00, 0xFD, 0x00, 0x00, 0x00, 0xC2, 0x01, 0x00, 0x30, 0x0D, 0x0A});
const std::string kBackToNmea4800 =
    bytes({0x04, 0x24, 0x0E, 0x00, 0xFD, 0x00, 0x00, 0xC0, 0x12, 0x00, 0x00, 0x21, 0x0D, 0x0A});
const std::string kSwitch = "$PMTK253,1,115200*00\r\n";

// An EPO file of n records, each record filled with its own number.
std::string epoFile(std::size_t records) {
  std::string file;
  for (std::size_t r = 0; r < records; ++r) file += std::string(60, static_cast<char>(r + 1));
  return file;
}

std::vector<std::string> packetsOf(const std::string& file) {
  std::vector<std::string> packets;
  for (std::size_t offset = 0, seq = 0; offset < file.size(); offset += 180, ++seq) {
    packets.push_back(testsupport::EpoDataPacket(static_cast<unsigned>(seq), file.substr(offset, 180)));
  }
  return packets;
}

// A model already switched to binary output (its mode acknowledgement taken).
struct BinaryPeer {
  explicit BinaryPeer(sim::BinaryFaults faults = {}) : model(makeOptions(faults)) {
    model.receive(kSwitch, 0);
    modeAck = joinChunks(model.advance(1, true));
  }
  static sim::ModelOptions makeOptions(const sim::BinaryFaults& faults) {
    sim::ModelOptions o = simtest::quietOptions();
    o.binaryFaults = faults;
    return o;
  }
  std::string send(const std::string& packet, sim::SimMs at = 10) { return joinChunks(model.receive(packet, at)); }
  sim::ReceiverModel model;
  std::string modeAck;
};

TEST(SimBinary, SwitchThenAcknowledgeEveryPacketAndRecordIt) {
  BinaryPeer peer;
  ASSERT_TRUE(peer.model.binaryMode());
  EXPECT_EQ(peer.modeAck, kModeAck) << "first output: the accepted mode acknowledgement";
  EXPECT_EQ(peer.model.baud(), 115200u);
  const std::string file = epoFile(70);  // 24 packets, the last with one record
  const std::vector<std::string> packets = packetsOf(file);
  ASSERT_EQ(packets.size(), 24u);
  for (std::size_t seq = 0; seq < packets.size(); ++seq) {
    SCOPED_TRACE(seq);
    EXPECT_EQ(peer.send(packets[seq]), ack(static_cast<unsigned>(seq), 1));
  }
  EXPECT_EQ(peer.send(testsupport::EpoDataPacket(0xFFFF, "")), ack(0xFFFF, 1)) << "closing packet acknowledged";
  EXPECT_TRUE(joinChunks(peer.model.advance(100, true)).empty()) << "no NMEA while binary";
  const std::vector<sim::OutChunk> back = peer.model.receive(kBackToNmea4800, 200);
  EXPECT_FALSE(peer.model.binaryMode());
  EXPECT_EQ(peer.model.baud(), 4800u);
  ASSERT_EQ(back.size(), 1u);
  EXPECT_EQ(back[0].baudAfter, 4800u) << "the line speed changes with the switch back";

  const std::vector<sim::BinaryPacket>& got = peer.model.binaryPackets();
  ASSERT_EQ(got.size(), packets.size() + 2);
  for (std::size_t i = 0; i < packets.size(); ++i) EXPECT_EQ(got[i].raw, packets[i]) << i;
  EXPECT_EQ(got[packets.size()].raw, testsupport::EpoDataPacket(0xFFFF, ""));
  EXPECT_EQ(got.back().raw, kBackToNmea4800);

  // NMEA output again, and the receiver knows its new EPO data (70 records: 2 sets).
  EXPECT_FALSE(simtest::bodiesOf(joinChunks(peer.model.advance(2000, true))).empty());
  const std::vector<std::string> epo = simtest::bodiesOf(joinChunks(peer.model.receive("$PMTK607*33\r\n", 2100)));
  ASSERT_EQ(epo.size(), 1u);
  EXPECT_EQ(simtest::fieldOf(epo[0], 1), "2");
}

TEST(SimBinary, ModeAcknowledgementWaitsAndRepeatsUntilThePeerSpeaks) {
  sim::ModelOptions options = simtest::quietOptions();
  options.binaryFirstAckDelayMs = 1500;
  options.binaryAckRepeatMs = 1000;
  sim::ReceiverModel model(options);
  model.receive(kSwitch, 0);
  struct Row {
    const char* legend;
    sim::SimMs atMs;
    std::string expected;
  };
  const std::vector<Row> rows = {
      {"not before the delay", 1400, ""},
      {"first after the delay", 1500, kModeAck},
      {"not again within the repeat time", 2000, ""},
      {"repeated while nothing came", 2500, kModeAck},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.legend);
    EXPECT_EQ(joinChunks(model.advance(row.atMs, true)), row.expected);
  }
  model.receive(testsupport::EpoDataPacket(0, epoFile(3)), 2600);
  EXPECT_EQ(joinChunks(model.advance(5000, true)), "") << "no repeat once a packet came";
}

TEST(SimBinary, PacketsCutAnywhereAndNoiseBetweenThem) {
  BinaryPeer peer;
  const std::vector<std::string> packets = packetsOf(epoFile(9));
  std::string stream = "$PMTK605*31\r\n\x04\x24\x05";  // NMEA and a false start between packets
  for (const std::string& p : packets) stream += p + std::string("\x00\x04", 2);
  std::string replies;
  for (std::size_t i = 0; i < stream.size(); i += 7) replies += peer.send(stream.substr(i, 7));
  EXPECT_EQ(replies, ack(0, 1) + ack(1, 1) + ack(2, 1));
}

TEST(SimBinary, CorruptPacketIsNotAcknowledged) {
  BinaryPeer peer;
  std::string packet = testsupport::EpoDataPacket(0, epoFile(3));
  packet[100] = static_cast<char>(packet[100] ^ 1);
  EXPECT_EQ(peer.send(packet), "");
  EXPECT_EQ(peer.send(testsupport::EpoDataPacket(0, epoFile(3))), ack(0, 1));
}

TEST(SimBinary, FaultFlags) {
  // 04 24 0E 00 00 01 00 01 02 03 04, XOR of bytes 2..10 = 0B, 0D 0A
  const std::string junk = bytes({0x04, 0x24, 0x0E, 0x00, 0x00, 0x01, 0x00, 0x01, 0x02, 0x03, 0x04, 0x0B, 0x0D, 0x0A});
  struct Row {
    const char* legend;
    sim::BinaryFaults faults;
    std::vector<std::string> repliesPerPacket;  // for packets 0, 1, 2
  };
  const auto with = [](auto set) {
    sim::BinaryFaults f;
    set(f);
    return f;
  };
  std::string corrupt1 = ack(1, 1);
  corrupt1[9] = static_cast<char>(corrupt1[9] ^ 0x5A);
  const std::vector<Row> rows = {
      {"no fault", {}, {ack(0, 1), ack(1, 1), ack(2, 1)}},
      {"three junk packets before every acknowledgement",
       with([](auto& f) { f.junkBeforeAck = 3; }),
       {junk + junk + junk + ack(0, 1), junk + junk + junk + ack(1, 1), junk + junk + junk + ack(2, 1)}},
      {"five junk packets before packet 1 only",
       with([](auto& f) {
         f.junkBeforeAck = 5;
         f.junkAtSeq = 1;
       }),
       {ack(0, 1), junk + junk + junk + junk + junk + ack(1, 1), ack(2, 1)}},
      {"packet 1 rejected", with([](auto& f) { f.rejectSeq = 1; }), {ack(0, 1), ack(1, 0), ack(2, 1)}},
      {"wrong sequence for packet 1", with([](auto& f) { f.wrongSeqAt = 1; }), {ack(0, 1), ack(2, 1), ack(2, 1)}},
      {"corrupt acknowledgement of packet 1",
       with([](auto& f) { f.corruptAckAt = 1; }),
       {ack(0, 1), corrupt1, ack(2, 1)}},
      {"silent after packet 0", with([](auto& f) { f.silentAfter = 0; }), {ack(0, 1), "", ""}},
  };
  const std::vector<std::string> packets = packetsOf(epoFile(9));
  for (const Row& row : rows) {
    SCOPED_TRACE(row.legend);
    BinaryPeer peer(row.faults);
    for (std::size_t i = 0; i < packets.size(); ++i)
      EXPECT_EQ(peer.send(packets[i]), row.repliesPerPacket[i]) << "packet " << i;
  }
}

TEST(SimBinary, JunkPacketsAreFourteenBytesAndNotAcknowledgements) {
  sim::BinaryFaults faults;
  faults.junkBeforeAck = 1;
  BinaryPeer peer(faults);
  const std::string reply = peer.send(testsupport::EpoDataPacket(0, epoFile(3)));
  ASSERT_EQ(reply.size(), 14u + 12u);
  EXPECT_EQ(reply.substr(0, 4), bytes({0x04, 0x24, 0x0E, 0x00}));
  unsigned char sum = 0;
  for (std::size_t i = 2; i < 11; ++i) sum ^= static_cast<unsigned char>(reply[i]);
  EXPECT_EQ(static_cast<unsigned char>(reply[11]), sum);
}

TEST(SimBinary, SplitAcknowledgements) {
  struct Row {
    const char* legend;
    int cutAt;
  };
  const std::vector<Row> rows = {{"between 0D and 0A", 11}, {"inside the preamble", 1}, {"after the length", 4}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.legend);
    sim::BinaryFaults faults;
    faults.splitAcks = true;
    faults.splitAckAt = row.cutAt;
    faults.splitGapMs = 30;
    BinaryPeer peer(faults);
    EXPECT_EQ(peer.modeAck, kModeAck) << "mode acknowledgement split too, bytes unchanged";
    const std::vector<sim::OutChunk> chunks = peer.model.receive(testsupport::EpoDataPacket(0, epoFile(3)), 10);
    ASSERT_EQ(chunks.size(), 2u);
    EXPECT_EQ(chunks[0].bytes, ack(0, 1).substr(0, static_cast<std::size_t>(row.cutAt)));
    EXPECT_EQ(chunks[1].bytes, ack(0, 1).substr(static_cast<std::size_t>(row.cutAt)));
    EXPECT_EQ(chunks[1].gapBeforeMs, 30);
  }
}

TEST(SimBinary, ClosingPacketAcknowledgementCanBeLeftOut) {
  sim::BinaryFaults faults;
  faults.ackClosingPacket = false;
  BinaryPeer peer(faults);
  EXPECT_EQ(peer.send(testsupport::EpoDataPacket(0xFFFF, "")), "");
}

TEST(SimBinary, NeverBinaryStaysInNmea) {
  sim::ModelOptions options = simtest::quietOptions();
  options.binaryFaults.neverBinary = true;
  sim::ReceiverModel model(options);
  EXPECT_EQ(joinChunks(model.receive(kSwitch, 0)), "");
  EXPECT_FALSE(model.binaryMode());
  const std::string out = joinChunks(model.advance(1000, true));
  EXPECT_EQ(out.find('\x04'), std::string::npos);
  EXPECT_FALSE(simtest::bodiesOf(out).empty()) << "NMEA goes on";
}

TEST(SimBinary, ReturnToNmeaKeepsTheSpeedWhenTheBaudFieldIsZero) {
  BinaryPeer peer;
  const std::string unknownRate =
      bytes({0x04, 0x24, 0x0E, 0x00, 0xFD, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xF3, 0x0D, 0x0A});
  peer.model.receive(unknownRate, 10);
  EXPECT_FALSE(peer.model.binaryMode());
  EXPECT_EQ(peer.model.baud(), 115200u);
  BinaryPeer again;
  again.model.receive(kBackToNmea115200, 10);
  EXPECT_FALSE(again.model.binaryMode());
  EXPECT_EQ(again.model.baud(), 115200u);
}

}  // namespace
