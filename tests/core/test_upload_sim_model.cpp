// The upload loop against the simulated receiver's model (its packets and acknowledgements
// are built independently of ours), with the model's own clock advanced one millisecond per
// idle turn: NMEA before the switch, the delayed and repeated mode acknowledgement, and each
// of the model's binary faults.
#include <gtest/gtest.h>

#include <deque>
#include <functional>

#include "agps/epo_upload.h"
#include "sim/receiver_model.h"
#include "tests/core/test_epo_support.h"

using epotest::Bytes;

namespace {

constexpr const char* kSwitchToBinary = "$PMTK253,1,115200*00\r\n";

// The serial line between the upload loop and the model, without line-speed pacing but with
// the pauses of split writes; each write of the model arrives as its own read (cut further
// into reads of at most readBytes).
class ModelLink : public EpoLink {
 public:
  ModelLink(sim::ModelOptions options, std::size_t readBytes, sim::SimMs giveUpAtMs)
      : model(std::move(options)), readBytes_(readBytes), giveUpAtMs_(giveUpAtMs) {}

  void send(std::string_view bytes) { queue(model.receive(bytes, now)); }

  void write(std::span<const std::uint8_t> bytes) override {
    send(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
  }
  long bytesWaiting() override {
    queue(model.advance(now, line_.empty()));
    if (line_.empty() || line_.front().dueMs > now) return 0;
    return static_cast<long>(std::min(line_.front().bytes.size(), readBytes_));
  }
  long read(std::span<std::uint8_t> buffer) override {
    if (line_.empty() || line_.front().dueMs > now) return 0;
    std::string& bytes = line_.front().bytes;
    const std::size_t n = std::min({buffer.size(), bytes.size(), readBytes_});
    std::copy(bytes.begin(), bytes.begin() + static_cast<long>(n), buffer.begin());
    bytes.erase(0, n);
    if (bytes.empty()) line_.pop_front();
    return static_cast<long>(n);
  }
  void idle() override { ++now; }
  bool stopRequested() override { return now >= giveUpAtMs_; }
  void progress(int percent, const std::string&) override { percents.push_back(percent); }

  sim::ReceiverModel model;
  sim::SimMs now = 0;
  std::vector<int> percents;

 private:
  struct Pending {
    sim::SimMs dueMs;
    std::string bytes;
  };
  void queue(const std::vector<sim::OutChunk>& chunks) {
    for (const sim::OutChunk& c : chunks) {
      if (c.bytes.empty()) continue;
      lastDueMs_ = std::max(now, lastDueMs_) + c.gapBeforeMs;
      line_.push_back({lastDueMs_, c.bytes});
    }
  }
  std::deque<Pending> line_;
  sim::SimMs lastDueMs_ = 0;
  std::size_t readBytes_;
  sim::SimMs giveUpAtMs_;
};

struct SimCase {
  const char* legend;
  std::function<void(sim::BinaryFaults&)> faults;
  EpoEnding ending;         // None: still running when the line gave up
  int dataPacketsReceived;  // by the receiver, closing packet not counted
  bool backInNmea;          // the receiver left binary mode
};

void PrintTo(const SimCase& c, std::ostream* os) { *os << c.legend; }

class UploadAgainstSimulatorTest : public ::testing::TestWithParam<std::tuple<SimCase, std::size_t>> {};

TEST_P(UploadAgainstSimulatorTest, EndsAsTheReceiverBehaves) {
  const auto& [c, readBytes] = GetParam();
  epotest::TempDir dir;
  const Bytes content = epotest::MakeEpoBytes(53760);
  const std::string path = dir.file("MTK7d.EPO");
  epotest::WriteBytes(path, content);

  sim::ModelOptions options;
  options.startUtcMs = 1700000000000;
  c.faults(options.binaryFaults);
  ModelLink link(options, readBytes, 120000);
  EpoUploadOptions uploadOptions;
  uploadOptions.endingBaudRate = [] { return 9600u; };
  EpoUpload upload(EpoOpenFile(path), uploadOptions);

  link.now = 2500;  // the program connects while NMEA flows, then switches
  link.send(kSwitchToBinary);
  const EpoEnding ending = RunEpoUpload(upload, link);
  EXPECT_EQ(ending, c.ending) << c.legend;

  int dataPackets = 0;
  bool closing = false;
  bool modePacket = false;
  for (const sim::BinaryPacket& p : link.model.binaryPackets()) {
    if (p.command == 722 && p.payload.size() == 182) {
      const std::uint16_t seq = sim::readU16(p.payload, 0);
      if (seq == 0xFFFF) {
        closing = true;
        continue;
      }
      ASSERT_EQ(seq, dataPackets) << c.legend;
      Bytes expected(content.begin() + seq * 180, content.begin() + std::min<long>(seq * 180 + 180, 53760));
      expected.resize(180, 0);
      ASSERT_EQ(Bytes(p.payload.begin() + 2, p.payload.end()), expected) << c.legend << " packet " << seq;
      ++dataPackets;
    }
    if (p.command == 253) modePacket = true;
  }
  EXPECT_EQ(dataPackets, c.dataPacketsReceived) << c.legend;
  EXPECT_EQ(closing, c.ending == EpoEnding::Completed) << c.legend;
  EXPECT_EQ(modePacket, c.ending != EpoEnding::None) << c.legend;
  EXPECT_EQ(!link.model.binaryMode(), c.backInNmea) << c.legend;
  if (c.ending != EpoEnding::None) {
    EXPECT_EQ(link.model.baud(), 9600u) << c.legend << ": back at the rate the front end asked for";
  }
  if (c.ending == EpoEnding::Completed) {
    ASSERT_EQ(link.percents.size(), 299u);
    EXPECT_EQ((std::vector<int>(link.percents.begin(), link.percents.begin() + 3)), (std::vector<int>{0, 0, 1}));
    EXPECT_EQ(link.percents.back(), 100);
  }
}

const SimCase kSimCases[] = {
    {"well-behaved receiver", [](sim::BinaryFaults&) {}, EpoEnding::Completed, 299, true},
    {"acknowledgements split between 0D and 0A",
     [](sim::BinaryFaults& f) {
       f.splitAcks = true;
       f.splitAckAt = 11;
     },
     EpoEnding::Completed, 299, true},
    {"acknowledgements split between 04 and 24",
     [](sim::BinaryFaults& f) {
       f.splitAcks = true;
       f.splitAckAt = 1;
     },
     EpoEnding::Completed, 299, true},
    {"acknowledgements split in the middle",
     [](sim::BinaryFaults& f) {
       f.splitAcks = true;
       f.splitAckAt = 5;
     },
     EpoEnding::Completed, 299, true},
    {"closing packet not acknowledged", [](sim::BinaryFaults& f) { f.ackClosingPacket = false; }, EpoEnding::Completed,
     299, true},
    {"four other packets before every acknowledgement", [](sim::BinaryFaults& f) { f.junkBeforeAck = 4; },
     EpoEnding::Completed, 299, true},
    {"five other packets before the acknowledgement of packet 7",
     [](sim::BinaryFaults& f) {
       f.junkBeforeAck = 5;
       f.junkAtSeq = 7;
     },
     EpoEnding::Failed, 8, true},
    {"packet 5 rejected", [](sim::BinaryFaults& f) { f.rejectSeq = 5; }, EpoEnding::Rejected, 6, true},
    {"packet 5 acknowledged as 6", [](sim::BinaryFaults& f) { f.wrongSeqAt = 5; }, EpoEnding::Rejected, 6, true},
    {"corrupt acknowledgement of packet 5", [](sim::BinaryFaults& f) { f.corruptAckAt = 5; }, EpoEnding::Rejected, 6,
     true},
    {"last packet acknowledged with a wrong number: waits on", [](sim::BinaryFaults& f) { f.wrongSeqAt = 298; },
     EpoEnding::None, 299, false},
    {"silent after packet 5", [](sim::BinaryFaults& f) { f.silentAfter = 5; }, EpoEnding::None, 7, false},
    {"never switches to binary", [](sim::BinaryFaults& f) { f.neverBinary = true; }, EpoEnding::None, 0, true},
};

INSTANTIATE_TEST_SUITE_P(Faults, UploadAgainstSimulatorTest,
                         ::testing::Combine(::testing::ValuesIn(kSimCases), ::testing::Values(4999, 7)));

}  // namespace
