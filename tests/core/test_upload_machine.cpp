// The upload machine against a scripted receiver: waiting for binary output, stop-and-wait,
// the progress texts, the three endings and what goes on the line at each, fed in chunks of
// any size and without wall time; and the update flow around it, with a scripted front end.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>

#include "agps/epo_update.h"
#include "agps/epo_upload.h"
#include "tests/core/test_epo_support.h"

using epotest::Bytes;
using epotest::Concat;

namespace {

std::uint16_t SeqOf(const Bytes& packet) { return static_cast<std::uint16_t>(packet[6] | (packet[7] << 8)); }
bool IsDataPacket(const Bytes& packet) { return packet.size() == 191 && SeqOf(packet) != 0xFFFF; }

Bytes ModePacketFor(std::uint32_t baud) {
  // 04 24, length 14, command 253, protocol 0 (NMEA), baud LE, XOR of bytes 2..10, 0D 0A.
  Bytes p = {0x04, 0x24, 0x0E, 0x00, 0xFD, 0x00, 0x00};
  for (int i = 0; i < 4; ++i) p.push_back(static_cast<std::uint8_t>((baud >> (8 * i)) & 0xFF));
  std::uint8_t x = 0;
  for (std::size_t i = 2; i < p.size(); ++i) x ^= p[i];
  p.push_back(x);
  p.push_back(0x0D);
  p.push_back(0x0A);
  return p;
}

// The update's clock in a test: every pause moves it on at once.
class FakeClock : public EpoUpdateClock {
 public:
  TimePoint now() override { return now_; }
  void sleep(std::chrono::milliseconds duration) override { now_ += duration; }

 private:
  TimePoint now_{};
};

// The receiver's side of the line. Every write is recorded; respond() gives what the receiver
// sends back to it. Reads hand out at most chunkSize bytes at a time; with a clock, a quiet
// turn lasts one millisecond of it.
class ScriptedLink : public EpoLink {
 public:
  using Responder = std::function<Bytes(const Bytes& written)>;
  ScriptedLink(std::size_t chunkSize, Responder respond) : chunkSize_(chunkSize), respond_(std::move(respond)) {}

  void write(std::span<const std::uint8_t> bytes) override {
    writes.emplace_back(bytes.begin(), bytes.end());
    const Bytes reply = respond_ ? respond_(writes.back()) : Bytes{};
    pending.insert(pending.end(), reply.begin(), reply.end());
    quietTurns_ = 0;
  }
  long bytesWaiting() override {
    if (quietTurns_ < replyAfterQuietTurns) return 0;
    return static_cast<long>(std::min(pending.size(), chunkSize_));
  }
  long read(std::span<std::uint8_t> buffer) override {
    const std::size_t n = std::min(buffer.size(), pending.size());
    std::copy(pending.begin(), pending.begin() + static_cast<long>(n), buffer.begin());
    pending.erase(pending.begin(), pending.begin() + static_cast<long>(n));
    idleInARow_ = 0;
    return static_cast<long>(n);
  }
  void idle() override {
    ++idleInARow_;
    ++quietTurns_;
    if (clock != nullptr) clock->sleep(std::chrono::milliseconds(1));
  }
  // A quiet line for many turns in a row stands for the user switching the link off.
  bool stopRequested() override { return lost() || idleInARow_ > 50; }
  bool lost() const override { return loseAfterWrites > 0 && writes.size() >= loseAfterWrites; }
  int lossErrorNumber() const override { return lost() ? ENODEV : 0; }
  void progress(int percent, const std::string& text) override {
    percents.push_back(percent);
    texts.push_back(text);
  }

  Bytes pending;
  std::vector<Bytes> writes;
  std::vector<int> percents;
  std::vector<std::string> texts;
  FakeClock* clock = nullptr;
  int replyAfterQuietTurns = 0;     // the receiver's answers wait this many quiet turns
  std::size_t loseAfterWrites = 0;  // not 0: the line goes away with this write

 private:
  std::size_t chunkSize_;
  Responder respond_;
  int idleInARow_ = 0;
  int quietTurns_ = 0;
};

// A well-behaved receiver: acknowledges every data packet, accepted, with its own number.
Bytes AckEveryPacket(const Bytes& written) {
  return IsDataPacket(written) ? epotest::EpoAckBytes(SeqOf(written)) : Bytes{};
}

struct UploadFixture {
  explicit UploadFixture(std::size_t size, std::uint32_t baud = 115200)
      : content(epotest::MakeEpoBytes(size)), path(dir.file("MTK7d.EPO")) {
    epotest::WriteBytes(path, content);
    EpoUploadOptions options;
    options.endingBaudRate = [baud] { return baud; };
    upload = std::make_unique<EpoUpload>(EpoOpenFile(path), options);
  }
  bool fileExists() const { return std::filesystem::exists(path); }
  std::vector<Bytes> dataPackets(const std::vector<Bytes>& writes) const {
    std::vector<Bytes> out;
    for (const Bytes& w : writes) {
      if (IsDataPacket(w)) out.push_back(w);
    }
    return out;
  }

  epotest::TempDir dir;
  Bytes content;
  std::string path;
  std::unique_ptr<EpoUpload> upload;
};

Bytes ClosingPacket() {
  Bytes p = {0x04, 0x24, 0xBF, 0x00, 0xD2, 0x02, 0xFF, 0xFF};
  p.insert(p.end(), 180, 0x00);
  p.insert(p.end(), {0x6F, 0x0D, 0x0A});
  return p;
}

TEST(EpoUpload, StartsWaitingWithTheFilesPacketCount) {
  UploadFixture f(53760);
  const EpoUploadState& s = f.upload->state();
  EXPECT_EQ(s.epoTotalPackets, 299);
  EXPECT_EQ(s.epoPacketsLeft, 299);
  EXPECT_EQ(s.epoNextSeq, 0);
  EXPECT_EQ(s.epoSendState, 1);
  EXPECT_TRUE(s.epoWaitBinary);
  EXPECT_FALSE(s.epoBinaryActive);
  EXPECT_FALSE(s.epoParseBinary);
  EXPECT_EQ(s.epoAckCountdown, 5);
  EXPECT_TRUE(s.epoUploadRunning);
  EXPECT_EQ(f.upload->beginTurn().writeCount, 0u) << "nothing is sent before binary output";
}

class FullUploadTest : public ::testing::TestWithParam<std::size_t> {};

TEST_P(FullUploadTest, SevenDayFileArrivesAs299PacketsThenClosingThenMode) {
  const std::size_t chunk = GetParam();
  UploadFixture f(53760, 9600);
  ScriptedLink link(chunk, AckEveryPacket);
  link.pending = epotest::ModeAckBytes(3);  // the receiver's first binary output
  ASSERT_EQ(RunEpoUpload(*f.upload, link), EpoEnding::Completed);

  ASSERT_EQ(link.writes.size(), 301u);
  const std::vector<Bytes> data = f.dataPackets(link.writes);
  ASSERT_EQ(data.size(), 299u);
  for (std::size_t i = 0; i < data.size(); ++i) {
    ASSERT_EQ(SeqOf(data[i]), i);
    Bytes expected(f.content.begin() + static_cast<long>(i * 180),
                   f.content.begin() + static_cast<long>(std::min<std::size_t>(i * 180 + 180, f.content.size())));
    expected.resize(180, 0);
    ASSERT_EQ(Bytes(data[i].begin() + 8, data[i].begin() + 188), expected) << "packet " << i;
  }
  EXPECT_EQ(link.writes[299], ClosingPacket());
  EXPECT_EQ(link.writes[300], ModePacketFor(9600));

  ASSERT_EQ(link.percents.size(), 299u);
  EXPECT_EQ(link.percents[0], 0);
  EXPECT_EQ(link.percents[1], 0);
  EXPECT_EQ(link.percents[2], 1);
  EXPECT_EQ(link.percents[149], 50);  // 150 * 100 / 299
  EXPECT_EQ(link.percents.back(), 100);
  EXPECT_TRUE(std::is_sorted(link.percents.begin(), link.percents.end()));
  EXPECT_EQ(link.texts[2],
            "Updating now... 1 %\nDO NOT remove the mini USB cable (connection) \nwhen updating EPO data");

  EXPECT_FALSE(f.upload->fileOpen());
  EXPECT_FALSE(f.upload->state().epoUploadRunning);
  EXPECT_FALSE(f.upload->state().epoBinaryActive);
  EXPECT_EQ(f.upload->state().epoNextSeq, 0);
}

INSTANTIATE_TEST_SUITE_P(ChunkSizes, FullUploadTest, ::testing::Values(1, 7, 12, 13, 4999),
                         [](const ::testing::TestParamInfo<std::size_t>& param) {
                           return "chunk" + std::to_string(param.param);
                         });

TEST(EpoUpload, OnePacketUploadShowsOnly100) {
  UploadFixture f(60);
  ScriptedLink link(4999, AckEveryPacket);
  link.pending = epotest::ModeAckBytes(3);
  ASSERT_EQ(RunEpoUpload(*f.upload, link), EpoEnding::Completed);
  EXPECT_EQ(link.percents, std::vector<int>{100});
  ASSERT_EQ(link.writes.size(), 3u);
  EXPECT_EQ(SeqOf(link.writes[0]), 0);
  EXPECT_EQ(Bytes(link.writes[0].begin() + 68, link.writes[0].begin() + 188), Bytes(120, 0));
}

struct WaitCase {
  const char* legend;
  Bytes chunk;
  bool stillWaiting;
  std::uint8_t sendStateAfter;
  int countdownAfter;
};
void PrintTo(const WaitCase& c, std::ostream* os) { *os << c.legend; }

class WaitForBinaryTest : public ::testing::TestWithParam<WaitCase> {};

TEST_P(WaitForBinaryTest, FirstDollarOfTheChunkDecides) {
  const WaitCase& c = GetParam();
  UploadFixture f(540);
  f.upload->feed(c.chunk);
  const EpoUploadState& s = f.upload->state();
  EXPECT_EQ(s.epoWaitBinary, c.stillWaiting) << c.legend;
  EXPECT_EQ(s.epoBinaryActive, !c.stillWaiting) << c.legend;
  EXPECT_EQ(s.epoParseBinary, !c.stillWaiting) << c.legend;
  EXPECT_EQ(s.epoSendState, c.sendStateAfter) << c.legend;
  EXPECT_EQ(s.epoAckCountdown, c.countdownAfter) << c.legend;
  const EpoTurn turn = f.upload->beginTurn();
  const bool sendsNow = !c.stillWaiting && c.sendStateAfter == 1;
  EXPECT_EQ(turn.writeCount, sendsNow ? 1u : 0u) << c.legend;
}

INSTANTIATE_TEST_SUITE_P(
    Chunks, WaitForBinaryTest,
    ::testing::Values(
        WaitCase{"accepted mode ack: waiting ends, scanned in the same turn", epotest::ModeAckBytes(3), false, 1, 5},
        WaitCase{"not accepted mode ack: waiting ends, and it stops the sending", epotest::ModeAckBytes(2), false, 0,
                 5},
        WaitCase{"a 14-byte packet first: waiting ends and it is counted", epotest::OtherPacketBytes(), false, 1, 4},
        WaitCase{"GGA sentence: still NMEA",
                 epotest::TextBytes("$GPGGA,064951.000,2307.1256,N,12016.4438,E,1,8,0.95,39.9,M,17.8,M,,*65\r\n"), true,
                 1, 5},
        WaitCase{"PMTK reply: still NMEA", epotest::TextBytes("$PMTK001,253,3*36\r\n"), true, 1, 5},
        WaitCase{"NMEA first, a mode ack after it in the same chunk: dropped unread",
                 Concat({epotest::TextBytes("$GPRMC,1*00\r\n"), epotest::ModeAckBytes(2)}), true, 1, 5},
        WaitCase{"a zero byte first: the search stops at once", Concat({{0x00}, epotest::ModeAckBytes(3)}), true, 1, 5},
        WaitCase{"noise without any dollar", Bytes{0x01, 0x02, 0x0D, 0x0A, 0x04}, true, 1, 5},
        WaitCase{"garbage, then the mode ack", Concat({{0x55, 0x0D}, epotest::ModeAckBytes(3)}), false, 1, 5}));

TEST(EpoUpload, WaitTestVerdicts) {
  const struct {
    const char* legend;
    Bytes chunk;
    EpoWaitVerdict verdict;
  } rows[] = {
      {"GGA sentence", epotest::TextBytes("$GPGGA,1"), EpoWaitVerdict::Nmea},
      {"PMTK reply", epotest::TextBytes("\r\n$PMTK001"), EpoWaitVerdict::Nmea},
      {"exactly $GP", epotest::TextBytes("$GP"), EpoWaitVerdict::Nmea},
      {"mode ack", epotest::ModeAckBytes(3), EpoWaitVerdict::Binary},
      {"another talker", epotest::TextBytes("$GNGGA,1"), EpoWaitVerdict::Binary},
      {"$PMTX", epotest::TextBytes("$PMTX"), EpoWaitVerdict::Binary},
      {"no dollar", epotest::TextBytes("GPGGA,1*00\r\n"), EpoWaitVerdict::NoDollar},
      {"zero byte before the dollar", Concat({{'x', 0x00}, epotest::TextBytes("$GP")}), EpoWaitVerdict::NoDollar},
      {"empty chunk", {}, EpoWaitVerdict::NoDollar},
      {"ends at $", epotest::TextBytes("*1A\r\n$"), EpoWaitVerdict::Undecided},
      {"ends at $G", epotest::TextBytes("*1A\r\n$G"), EpoWaitVerdict::Undecided},
      {"ends at $P", epotest::TextBytes("$P"), EpoWaitVerdict::Undecided},
      {"ends at $PM", epotest::TextBytes("$PM"), EpoWaitVerdict::Undecided},
      {"ends at $PMT", epotest::TextBytes("$PMT"), EpoWaitVerdict::Undecided},
      {"binary start pair at the end", Bytes{0x55, 0x04, 0x24}, EpoWaitVerdict::Undecided},
      {"$G then a zero byte: decided, not NMEA", Bytes{0x24, 'G', 0x00, 'P'}, EpoWaitVerdict::Binary},
      {"$PA cannot become NMEA", epotest::TextBytes("$PA"), EpoWaitVerdict::Binary},
  };
  for (const auto& row : rows) EXPECT_EQ(EpoWaitTest(row.chunk), row.verdict) << row.legend;
}

TEST(EpoUpload, ChunkEndingInsideAnNmeaAddressDoesNotEndTheWait) {
  const Bytes refusedModeAck = epotest::ModeAckBytes(2);
  const struct {
    const char* legend;
    Bytes first;
    Bytes second;
    bool binaryAfterSecond;
  } rows[] = {
      {"$PM | TK001", epotest::TextBytes("\r\n$PM"), epotest::TextBytes("TK001,253,3*36\r\n"), false},
      {"$G | PGSV", epotest::TextBytes("$G"), epotest::TextBytes("PGSV,1"), false},
      {"mode ack split after its $", {0x04, 0x24}, Bytes(refusedModeAck.begin() + 2, refusedModeAck.end()), true},
  };
  for (const auto& row : rows) {
    UploadFixture f(180);
    f.upload->feed(row.first);
    EXPECT_TRUE(f.upload->state().epoWaitBinary) << row.legend;
    f.upload->feed(row.second);
    EXPECT_EQ(f.upload->state().epoBinaryActive, row.binaryAfterSecond) << row.legend;
    if (row.binaryAfterSecond) {
      // The whole ack, its 04 24 included, was scanned: a not-accepted mode ack stops sending.
      EXPECT_EQ(f.upload->state().epoSendState, 0) << row.legend;
    }
  }
}

TEST(EpoUpload, NmeaWhileWaitingKeepsWaitingUntilBinaryOutput) {
  UploadFixture f(180);
  ScriptedLink link(7, AckEveryPacket);
  link.pending = Concat({epotest::TextBytes("$GPGSA,A,3,01,02,03,,,,,,,,,,2.0,1.0,1.7*3A\r\n"),
                         epotest::TextBytes("$PMTK010,001*2E\r\n")});
  // Drained with no packet sent: the receiver has not switched yet.
  for (int turn = 0; turn < 20; ++turn) {
    ASSERT_EQ(f.upload->beginTurn().writeCount, 0u);
    std::array<std::uint8_t, 7> buffer{};
    const long n = link.read(buffer);
    f.upload->feed(std::span<const std::uint8_t>(buffer.data(), static_cast<std::size_t>(n)));
  }
  EXPECT_TRUE(f.upload->state().epoWaitBinary);
  link.pending = epotest::ModeAckBytes(3);
  EXPECT_EQ(RunEpoUpload(*f.upload, link), EpoEnding::Completed);
}

TEST(EpoUpload, AcknowledgementOfAnOlderPacketEndsWithRejection) {
  // Packets 0 to 4 acknowledged; packet 5 in flight (next seq 6) gets an ack of seq 4.
  UploadFixture f(53760);
  ScriptedLink link(7, [](const Bytes& w) {
    if (!IsDataPacket(w)) return Bytes{};
    return epotest::EpoAckBytes(SeqOf(w) == 5 ? 4 : SeqOf(w));
  });
  link.pending = epotest::ModeAckBytes(3);
  ASSERT_EQ(RunEpoUpload(*f.upload, link), EpoEnding::Rejected);
  ASSERT_EQ(link.writes.size(), 7u);
  EXPECT_EQ(SeqOf(link.writes[5]), 5);
  EXPECT_EQ(link.writes[6], ModePacketFor(115200)) << "the port is handed back in NMEA";
  EXPECT_EQ(f.upload->state().epoSendState, 0);
  EXPECT_FALSE(f.upload->fileOpen());
}

TEST(EpoUpload, RejectionEndingsWhilePacketsAreLeft) {
  const struct {
    const char* legend;
    std::function<Bytes(std::uint16_t seq)> replyTo;  // reply to the data packet seq
    std::size_t packetsWritten;
  } rows[] = {
      {"packet 2 not accepted", [](std::uint16_t s) { return epotest::EpoAckBytes(s, s == 2 ? 0 : 1); }, 3},
      {"ack of a later packet", [](std::uint16_t s) { return epotest::EpoAckBytes(s == 1 ? 2 : s); }, 2},
      {"corrupt ack of packet 3",
       [](std::uint16_t s) {
         Bytes a = epotest::EpoAckBytes(s);
         if (s == 3) a[9] ^= 0x01;
         return a;
       },
       4},
      {"corrupt ack first, then a good one in the same chunk: the scan stops",
       [](std::uint16_t s) {
         Bytes bad = epotest::EpoAckBytes(s);
         bad[9] ^= 0x40;
         return Concat({bad, epotest::EpoAckBytes(s)});
       },
       1},
  };
  for (const auto& row : rows) {
    UploadFixture f(1800);  // 10 packets
    ScriptedLink link(7, [&](const Bytes& w) { return IsDataPacket(w) ? row.replyTo(SeqOf(w)) : Bytes{}; });
    link.pending = epotest::ModeAckBytes(3);
    EXPECT_EQ(RunEpoUpload(*f.upload, link), EpoEnding::Rejected) << row.legend;
    EXPECT_EQ(f.dataPackets(link.writes).size(), row.packetsWritten) << row.legend;
    EXPECT_EQ(link.writes.back(), ModePacketFor(115200)) << row.legend;
  }
}

TEST(EpoUpload, AfterTheLastPacketOnlyItsOwnAcceptedAckCounts) {
  const struct {
    const char* legend;
    Bytes strayReply;
  } rows[] = {
      {"not accepted ack of the last packet", epotest::EpoAckBytes(9, 0)},
      {"ack of another packet", epotest::EpoAckBytes(3)},
      {"ack of seq 0xFFFF", epotest::EpoAckBytes(0xFFFF)},
      {"ignored command ack", epotest::AckBytes(1, 101, 3)},
  };
  for (const auto& row : rows) {
    UploadFixture f(1800);  // 10 packets, seq 0 to 9
    ScriptedLink link(5, [&](const Bytes& w) {
      if (!IsDataPacket(w)) return Bytes{};
      return SeqOf(w) == 9 ? row.strayReply : epotest::EpoAckBytes(SeqOf(w));
    });
    link.pending = epotest::ModeAckBytes(3);
    EXPECT_EQ(RunEpoUpload(*f.upload, link), EpoEnding::None) << row.legend << ": waits on until stopped";
    EXPECT_FALSE(f.upload->finished()) << row.legend;
    EXPECT_EQ(f.upload->state().epoPacketsLeft, 0) << row.legend;
    EXPECT_EQ(link.writes.size(), 10u) << row.legend;
    EXPECT_TRUE(f.upload->fileOpen()) << row.legend << ": a stopped upload keeps its file";
    EXPECT_TRUE(f.fileExists()) << row.legend;

    link.pending = epotest::EpoAckBytes(9);
    EXPECT_EQ(RunEpoUpload(*f.upload, link), EpoEnding::Completed) << row.legend;
  }
}

// Packets that are not acknowledgements before the acknowledgements of packets 2 to 9. The
// fifth in a row decides the failure where it stands: the acknowledgement after it is not
// looked at, however the bytes were split into reads.
struct JunkCase {
  const char* legend;
  int junk;
  std::size_t chunk;  // bytes per read
  EpoEnding ending;
};
void PrintTo(const JunkCase& c, std::ostream* os) { *os << c.legend; }

class JunkBeforeAckTest : public ::testing::TestWithParam<JunkCase> {};

TEST_P(JunkBeforeAckTest, FifthInARowEndsTheSameWayHoweverRead) {
  const JunkCase& c = GetParam();
  UploadFixture f(1800);  // 10 packets
  ScriptedLink link(c.chunk, [&](const Bytes& w) {
    if (!IsDataPacket(w)) return Bytes{};
    Bytes out;
    for (int i = 0; SeqOf(w) >= 2 && i < c.junk; ++i) out = Concat({out, epotest::OtherPacketBytes()});
    return Concat({out, epotest::EpoAckBytes(SeqOf(w))});
  });
  link.pending = epotest::ModeAckBytes(3);
  ASSERT_EQ(RunEpoUpload(*f.upload, link), c.ending) << c.legend;
  if (c.ending == EpoEnding::Completed) {
    EXPECT_EQ(f.dataPackets(link.writes).size(), 10u) << "the count starts again at every acknowledgement";
    return;
  }
  ASSERT_EQ(link.writes.size(), 4u) << "packets 0, 1, 2, then only the output-mode packet";
  EXPECT_EQ(SeqOf(link.writes[2]), 2);
  EXPECT_EQ(link.writes[3], ModePacketFor(115200));
  EXPECT_EQ(f.upload->state().epoAckCountdown, 5) << "set back after the failure";
  EXPECT_FALSE(f.upload->fileOpen());
}

INSTANTIATE_TEST_SUITE_P(
    Reads, JunkBeforeAckTest,
    ::testing::Values(JunkCase{"4 then the ack, one read: tolerated", 4, 4999, EpoEnding::Completed},
                      JunkCase{"4 then the ack, 1-byte reads: tolerated", 4, 1, EpoEnding::Completed},
                      JunkCase{"4 then the ack, 7-byte reads: tolerated", 4, 7, EpoEnding::Completed},
                      JunkCase{"5 then the ack, one read: the fifth fails it", 5, 4999, EpoEnding::Failed},
                      JunkCase{"5 then the ack, 1-byte reads: the fifth fails it", 5, 1, EpoEnding::Failed},
                      JunkCase{"5 then the ack, 7-byte reads: the fifth fails it", 5, 7, EpoEnding::Failed},
                      JunkCase{"6 then the ack, one read: the fifth fails it", 6, 4999, EpoEnding::Failed},
                      JunkCase{"6 then the ack, 1-byte reads: the fifth fails it", 6, 1, EpoEnding::Failed},
                      JunkCase{"6 then the ack, 7-byte reads: the fifth fails it", 6, 7, EpoEnding::Failed}));

TEST(EpoUpload, OtherPacketsCountDownAcrossChunksAndTurns) {
  UploadFixture f(1800);
  f.upload->feed(epotest::ModeAckBytes(3));
  ASSERT_EQ(f.upload->beginTurn().writeCount, 1u);
  for (int i = 0; i < 4; ++i) {
    f.upload->feed(epotest::OtherPacketBytes());
    EXPECT_EQ(f.upload->state().epoAckCountdown, 4 - i);
    EXPECT_EQ(f.upload->beginTurn().ending, EpoEnding::None);
  }
  f.upload->feed(epotest::OtherPacketBytes());
  EXPECT_EQ(f.upload->state().epoAckCountdown, 0);
  EXPECT_EQ(f.upload->beginTurn().ending, EpoEnding::Failed);
  EXPECT_TRUE(f.upload->finished());
  EXPECT_EQ(f.upload->beginTurn().writeCount, 0u) << "nothing after an ending";
}

TEST(EpoUpload, ModeAcknowledgementsStopAndReleaseTheSending) {
  UploadFixture f(1800);
  f.upload->feed(epotest::ModeAckBytes(3));
  EpoTurn turn = f.upload->beginTurn();
  ASSERT_EQ(turn.writeCount, 1u);
  EXPECT_EQ(f.upload->state().epoSendState, 3);
  EXPECT_EQ(f.upload->beginTurn().writeCount, 0u) << "one packet in flight";

  // A second accepted mode ack while packet 0 awaits its ack releases nothing (sending
  // packet 1 now would make packet 0's ack look like one for the wrong packet).
  f.upload->feed(epotest::OtherPacketBytes());
  f.upload->feed(epotest::ModeAckBytes(3));
  EXPECT_EQ(f.upload->state().epoSendState, 3);
  EXPECT_EQ(f.upload->state().epoAckCountdown, 5) << "but the count starts again";
  EXPECT_EQ(f.upload->beginTurn().writeCount, 0u);
  f.upload->feed(epotest::EpoAckBytes(0));
  turn = f.upload->beginTurn();
  ASSERT_EQ(turn.writeCount, 1u);
  EXPECT_EQ(turn.writes[0][6], 1) << "packet 1 goes out after packet 0's ack";

  // A mode ack not accepted stops everything; an accepted one releases a stopped upload.
  f.upload->feed(epotest::EpoAckBytes(1));
  f.upload->feed(epotest::ModeAckBytes(0));
  EXPECT_EQ(f.upload->state().epoSendState, 0);
  EXPECT_EQ(f.upload->beginTurn().writeCount, 0u);
  f.upload->feed(epotest::ModeAckBytes(3));
  turn = f.upload->beginTurn();
  ASSERT_EQ(turn.writeCount, 1u);
  EXPECT_EQ(turn.writes[0][6], 2);

  // While stopped, a rejection with packets left still ends the upload.
  f.upload->feed(epotest::ModeAckBytes(0));
  f.upload->feed(epotest::EpoAckBytes(0xFFFF, 0));
  EXPECT_EQ(f.upload->beginTurn().ending, EpoEnding::Rejected);
}

TEST(EpoUpload, ModeAcknowledgementSplitAcrossReadsDoesNotReleaseASecondPacket) {
  // The opening mode ack arrives in two reads, and packet 0 goes out between them.
  UploadFixture f(540);
  const Bytes modeAck = epotest::ModeAckBytes(3);
  f.upload->feed(std::span<const std::uint8_t>(modeAck.data(), 7));
  ASSERT_EQ(f.upload->beginTurn().writeCount, 1u);
  f.upload->feed(std::span<const std::uint8_t>(modeAck.data() + 7, modeAck.size() - 7));
  EXPECT_EQ(f.upload->beginTurn().writeCount, 0u);
  f.upload->feed(epotest::EpoAckBytes(0));
  EXPECT_EQ(f.upload->beginTurn().writeCount, 1u);
  EXPECT_FALSE(f.upload->finished());
}

TEST(EpoUpload, StoppedSendingResumesOnTheAcknowledgementOfThePacketSentLast) {
  UploadFixture f(1800);
  f.upload->feed(epotest::ModeAckBytes(3));
  ASSERT_EQ(f.upload->beginTurn().writeCount, 1u);
  f.upload->feed(epotest::ModeAckBytes(1));
  EXPECT_EQ(f.upload->beginTurn().writeCount, 0u);
  f.upload->feed(epotest::EpoAckBytes(0));
  EXPECT_EQ(f.upload->beginTurn().writeCount, 1u);
}

TEST(EpoUpload, CompletionWritesLastDataPacketClosingPacketAndModePacketInOrder) {
  UploadFixture f(240, 4800);  // 2 packets
  std::vector<Bytes> line;     // both directions, in order
  ScriptedLink link(4999, [&](const Bytes& w) {
    line.push_back(w);
    Bytes reply = AckEveryPacket(w);
    if (!reply.empty()) line.push_back(reply);
    return reply;
  });
  link.pending = epotest::ModeAckBytes(3);
  ASSERT_EQ(RunEpoUpload(*f.upload, link), EpoEnding::Completed);
  ASSERT_EQ(line.size(), 6u);
  EXPECT_EQ(SeqOf(line[2]), 1) << "last data packet";
  EXPECT_EQ(line[3], epotest::EpoAckBytes(1)) << "its acknowledgement";
  EXPECT_EQ(line[4], ClosingPacket());
  EXPECT_EQ(line[5], (Bytes{0x04, 0x24, 0x0E, 0x00, 0xFD, 0x00, 0x00, 0xC0, 0x12, 0x00, 0x00, 0x21, 0x0D, 0x0A}));
}

TEST(EpoUpload, FileThatEndsBeforeItsCountedPacketsEndsInsteadOfWaitingForEver) {
  // Three packets counted, but the file is already at its last 180 bytes when sending starts
  // (as if it had been cut short after its check).
  std::FILE* raw = epotest::TempFileWith(epotest::MakeEpoBytes(540));
  ASSERT_NE(raw, nullptr);
  EpoUpload upload{EpoFilePtr(raw)};
  ASSERT_EQ(upload.state().epoTotalPackets, 3);
  std::fseek(raw, 360, SEEK_SET);
  ScriptedLink link(7, AckEveryPacket);
  link.pending = epotest::ModeAckBytes(3);
  EXPECT_EQ(RunEpoUpload(upload, link), EpoEnding::FileShort);
  ASSERT_EQ(link.writes.size(), 2u);
  EXPECT_EQ(link.writes[1], ModePacketFor(115200));
  EXPECT_FALSE(upload.fileOpen());
}

TEST(EpoUpload, AbandonHandsTheReceiverBackAtOnce) {
  const struct {
    const char* legend;
    int packetsAcked;  // before the front end gives up; -1: still waiting for binary output
  } rows[] = {{"while waiting for binary output", -1}, {"in the middle", 3}, {"after the last packet", 10}};
  for (const auto& row : rows) {
    UploadFixture f(1800, 38400);
    if (row.packetsAcked >= 0) {
      f.upload->feed(epotest::ModeAckBytes(3));
      for (int i = 0; i < row.packetsAcked; ++i) {
        ASSERT_EQ(f.upload->beginTurn().writeCount, 1u) << row.legend;
        f.upload->feed(epotest::EpoAckBytes(static_cast<std::uint16_t>(i)));
      }
    }
    const EpoTurn turn = f.upload->abandon();
    EXPECT_EQ(turn.ending, EpoEnding::Abandoned) << row.legend;
    ASSERT_EQ(turn.writeCount, 1u) << row.legend;
    EXPECT_EQ(Bytes(turn.writes[0].begin(), turn.writes[0].end()), ModePacketFor(38400)) << row.legend;
    EXPECT_FALSE(f.upload->fileOpen()) << row.legend;
    EXPECT_EQ(f.upload->abandon().writeCount, 0u) << row.legend << ": only once";
    EXPECT_EQ(f.upload->beginTurn().writeCount, 0u) << row.legend;
  }
}

TEST(EpoUpload, EndingTexts) {
  const struct {
    EpoEnding ending;
    const char* message;
    const char* title;
    const char* label;
    bool errorBox;
  } rows[] = {
      {EpoEnding::Completed, "Update completed.", "AGPS Message", "Update Success", false},
      {EpoEnding::Failed, "ACK Failed,Please Try Again!.", "AGPS Message", "Update Failed!", false},
      {EpoEnding::Rejected, "Action Fail,Plaese try again!", "", "Update Failed!", true},
      {EpoEnding::FileShort, "Cannot open EPO file.", "", "Update Failed!", true},
      {EpoEnding::Abandoned, "Update stopped.", "AGPS Message", "Update Failed!", false},
  };
  for (const auto& row : rows) {
    const EpoEndingTexts t = EpoEndingTextsFor(row.ending);
    EXPECT_STREQ(t.message, row.message);
    EXPECT_STREQ(t.title, row.title);
    EXPECT_STREQ(t.labelText, row.label);
    EXPECT_EQ(t.errorBox, row.errorBox);
  }
}

// The update flow with a scripted front end: the order of its calls, what goes on the line,
// and what becomes of the file at each way of ending, on a clock that never waits.
const char* StepName(EpoUpdateStep step) {
  switch (step) {
    case EpoUpdateStep::Download: return "download";
    case EpoUpdateStep::Check: return "check";
    case EpoUpdateStep::Switch: return "switch";
    case EpoUpdateStep::Upload: return "upload";
  }
  return "";
}

class ScriptedSide : public EpoUpdateSide {
 public:
  ScriptedSide(ScriptedLink& link, FakeClock& clock) : link_(link), clock_(clock) {}
  void downloading() override { record("downloading"); }
  void fileAccepted(const std::string&, int totalPackets) override {
    record("accepted " + std::to_string(totalPackets));
  }
  void refused(EpoUpdateStep step, const char* message, const std::string&) override {
    record(std::string("refused ") + StepName(step) + ": " + message);
  }
  EpoLink* switchToBinary(const std::function<void()>& settle) override {
    if (stopInSettle) stop = true;
    const EpoUpdateClock::TimePoint before = clock_.now();
    settle();
    const auto settled = std::chrono::duration_cast<std::chrono::milliseconds>(clock_.now() - before);
    record("switch " + std::to_string(settled.count()) + " ms");
    return &link_;
  }
  // The window's and the command-line tool's tests follow the progress.
  void progress(int, const std::string&) override {}
  std::uint32_t nmeaBaudRate() override { return 9600; }
  void ended(EpoEnding, const EpoEndingTexts& texts) override { record(std::string("ended ") + texts.message); }
  void handBack(const EpoEndingTexts&, std::uint32_t baud) override { record("hand back " + std::to_string(baud)); }
  void stopped(EpoUpdateStep step, EpoStopCause cause) override {
    record(std::string("stopped ") + StepName(step) + (cause == EpoStopCause::Silence ? ", silence" : ", requested"));
  }
  void lost(int lossErrorNumber) override { record("lost " + std::to_string(lossErrorNumber)); }

  const char* stopAfter = nullptr;  // the stop is set once this call is in the trace
  bool stopInSettle = false;        // the stop is set as the switch's settle begins
  std::atomic<bool> stop{false};
  std::vector<std::string> trace;

 private:
  void record(const std::string& call) {
    trace.push_back(call);
    if (stopAfter != nullptr && call == stopAfter) stop = true;
  }

  ScriptedLink& link_;
  FakeClock& clock_;
};

// What the line holds last when the flow returns.
enum class LastWrite { Nothing, ModePacket, DataPacket };

struct FlowCase {
  const char* legend;
  std::size_t fileBytes = 540;  // 61: a file the check refuses
  bool downloadFails = false;   // no file given: the download (from a malformed server) runs and fails
  bool deleteFile = true;
  ScriptedLink::Responder receiver = AckEveryPacket;
  int replyAfterQuietTurns = 0;
  std::size_t loseAfterWrites = 0;
  std::optional<std::chrono::milliseconds> silenceLimit = {};
  const char* stopAfter = nullptr;
  bool stopInSettle = false;
  std::vector<std::string> trace = {};
  EpoUpdateStep step = EpoUpdateStep::Upload;
  EpoEnding ending = EpoEnding::None;
  bool stopped = false;
  bool fileLeft = false;
  LastWrite lastWrite = LastWrite::ModePacket;  // the mode packet is the one for 9600
};
void PrintTo(const FlowCase& c, std::ostream* os) { *os << c.legend; }

class EpoUpdateFlowTest : public ::testing::TestWithParam<FlowCase> {};

TEST_P(EpoUpdateFlowTest, StepsLineAndFile) {
  const FlowCase& c = GetParam();
  epotest::TempDir dir;
  const std::string path = dir.file("MTK7d.EPO");
  epotest::WriteBytes(path, epotest::MakeEpoBytes(c.fileBytes));
  FakeClock clock;
  ScriptedLink link(7, c.receiver);
  link.pending = epotest::ModeAckBytes(3);
  link.clock = &clock;
  link.replyAfterQuietTurns = c.replyAfterQuietTurns;
  link.loseAfterWrites = c.loseAfterWrites;
  ScriptedSide side(link, clock);
  side.stopAfter = c.stopAfter;
  side.stopInSettle = c.stopInSettle;
  EpoUpdateOptions options;
  if (c.downloadFails) {
    options.download.server = "bad host";
  } else {
    options.file = path;
  }
  options.deleteFile = c.deleteFile;
  options.stop = &side.stop;
  if (c.silenceLimit) options.silenceLimit = *c.silenceLimit;
  options.clock = &clock;

  const EpoUpdateResult result = RunEpoUpdateFlow(side, options);
  EXPECT_EQ(side.trace, c.trace) << c.legend;
  EXPECT_EQ(result.step, c.step) << c.legend;
  EXPECT_EQ(result.ending, c.ending) << c.legend;
  EXPECT_EQ(result.stopped, c.stopped) << c.legend;
  EXPECT_EQ(std::filesystem::exists(path), c.fileLeft) << c.legend;
  switch (c.lastWrite) {
    case LastWrite::Nothing: EXPECT_TRUE(link.writes.empty()) << c.legend; break;
    case LastWrite::ModePacket:
      ASSERT_FALSE(link.writes.empty()) << c.legend;
      EXPECT_EQ(link.writes.back(), ModePacketFor(9600)) << c.legend;
      break;
    case LastWrite::DataPacket:
      ASSERT_FALSE(link.writes.empty()) << c.legend;
      EXPECT_TRUE(IsDataPacket(link.writes.back())) << c.legend;
      EXPECT_EQ(link.writes.size(), c.loseAfterWrites) << c.legend << ": nothing after the loss";
      break;
  }
}

Bytes RefusePacket2(const Bytes& w) {
  if (!IsDataPacket(w)) return Bytes{};
  return epotest::EpoAckBytes(SeqOf(w), SeqOf(w) == 2 ? 0 : 1);
}
Bytes NeverAnswer(const Bytes&) { return {}; }

INSTANTIATE_TEST_SUITE_P(
    Endings, EpoUpdateFlowTest,
    ::testing::Values(
        FlowCase{.legend = "given file, completed: kept, handed back",
                 .deleteFile = false,
                 .trace = {"accepted 3", "switch 1000 ms", "ended Update completed.", "hand back 9600"},
                 .ending = EpoEnding::Completed,
                 .fileLeft = true},
        FlowCase{.legend = "file to delete, completed: deleted before the ending is shown",
                 .trace = {"accepted 3", "switch 1000 ms", "ended Update completed.", "hand back 9600"},
                 .ending = EpoEnding::Completed},
        FlowCase{.legend = "file to delete, packet 2 refused: deleted, box, handed back",
                 .fileBytes = 1800,
                 .receiver = RefusePacket2,
                 .trace = {"accepted 10", "switch 1000 ms", "ended Action Fail,Plaese try again!", "hand back 9600"},
                 .ending = EpoEnding::Rejected},
        FlowCase{.legend = "receiver silent until the link gives up: abandoned, deleted, no box",
                 .receiver = NeverAnswer,
                 .trace = {"accepted 3", "switch 1000 ms", "stopped upload, requested"},
                 .ending = EpoEnding::Abandoned,
                 .stopped = true},
        FlowCase{.legend = "receiver silent for the silence limit: stopped as silent, handed back",
                 .receiver = NeverAnswer,
                 .silenceLimit = std::chrono::milliseconds(20),
                 .trace = {"accepted 3", "switch 1000 ms", "stopped upload, silence"},
                 .ending = EpoEnding::Abandoned,
                 .stopped = true},
        FlowCase{.legend = "every answer slower than half the silence limit: the limit counts from the last packet",
                 .replyAfterQuietTurns = 30,
                 .silenceLimit = std::chrono::milliseconds(40),
                 .trace = {"accepted 3", "switch 1000 ms", "ended Update completed.", "hand back 9600"},
                 .ending = EpoEnding::Completed},
        FlowCase{.legend = "line lost with the second data packet: told with its cause, nothing more written",
                 .loseAfterWrites = 2,
                 .trace = {"accepted 3", "switch 1000 ms", "lost " + std::to_string(ENODEV)},
                 .ending = EpoEnding::Abandoned,
                 .stopped = true,
                 .lastWrite = LastWrite::DataPacket},
        FlowCase{.legend = "stop before the switch: the receiver untouched, the file deleted",
                 .stopAfter = "accepted 3",
                 .trace = {"accepted 3", "stopped switch, requested"},
                 .step = EpoUpdateStep::Switch,
                 .stopped = true,
                 .lastWrite = LastWrite::Nothing},
        FlowCase{.legend = "stop during the switch's settle: cut short, handed back all the same",
                 .stopInSettle = true,
                 .trace = {"accepted 3", "switch 0 ms", "stopped upload, requested"},
                 .ending = EpoEnding::Abandoned,
                 .stopped = true},
        FlowCase{.legend = "stop once switched: handed back all the same",
                 .stopAfter = "switch 1000 ms",
                 .trace = {"accepted 3", "switch 1000 ms", "stopped upload, requested"},
                 .ending = EpoEnding::Abandoned,
                 .stopped = true},
        FlowCase{.legend = "stop while the ending is shown: no hand-back",
                 .deleteFile = false,
                 .stopAfter = "ended Update completed.",
                 .trace = {"accepted 3", "switch 1000 ms", "ended Update completed."},
                 .ending = EpoEnding::Completed,
                 .fileLeft = true},
        FlowCase{.legend = "file refused by the check: kept, nothing sent",
                 .fileBytes = 61,
                 .trace = {"refused check: Cannot open EPO file."},
                 .step = EpoUpdateStep::Check,
                 .fileLeft = true,
                 .lastWrite = LastWrite::Nothing},
        FlowCase{.legend = "download failed: refused before anything is sent",
                 .downloadFails = true,
                 .trace = {"downloading",
                           "refused download: Failed to connect to AGPS server. \r\nPlease check your network "
                           "connection."},
                 .step = EpoUpdateStep::Download,
                 .fileLeft = true,
                 .lastWrite = LastWrite::Nothing},
        FlowCase{.legend = "stop during the download: told as stopped there, nothing sent",
                 .downloadFails = true,
                 .stopAfter = "downloading",
                 .trace = {"downloading", "stopped download, requested"},
                 .step = EpoUpdateStep::Download,
                 .stopped = true,
                 .fileLeft = true,
                 .lastWrite = LastWrite::Nothing}));

}  // namespace
