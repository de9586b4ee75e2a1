// The whole upload over a real serial line: the simulated receiver on a pseudo-terminal, our
// serial layer, the switch command, SerialEpoLink and RunEpoUpload, as the front ends run it.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "agps/epo_serial_link.h"
#include "agps/epo_upload.h"
#include "link/serial_port.h"
#include "sim/sim_receiver.h"
#include "tests/core/test_epo_support.h"

using epotest::Bytes;

namespace {

struct SerialCase {
  const char* legend;
  std::function<void(sim::BinaryFaults&)> faults;
  EpoEnding ending;       // None: stopped from outside (the link switched off)
  int packetsBeforeStop;  // None rows: stop once the receiver holds this many data packets
};

void PrintTo(const SerialCase& c, std::ostream* os) { *os << c.legend; }

class UploadOverSerialTest : public ::testing::TestWithParam<SerialCase> {};

TEST_P(UploadOverSerialTest, RunsAsTheFrontEndsRunIt) {
  const SerialCase& c = GetParam();
  epotest::TempDir dir;
  const Bytes content = epotest::MakeEpoBytes(7680);  // one day: 43 packets
  const std::string path = dir.file("MTK7d.EPO");
  epotest::WriteBytes(path, content);

  sim::SimOptions options;
  options.comNumber = 0;
  options.pace = false;
  options.model.binaryFirstAckDelayMs = 20;
  c.faults(options.model.binaryFaults);
  sim::SimReceiver receiver(options);
  std::string error;
  ASSERT_TRUE(receiver.start(&error)) << error;

  SerialPort port;
  ASSERT_TRUE(port.open(receiver.slavePath())) << port.lastError();
  LineState line;
  line.baudRate = 115200;
  ASSERT_TRUE(port.setState(line)) << port.lastError();
  const std::string switchCommand = "$PMTK253,1,115200*00\r\n";
  port.write(switchCommand.data(), switchCommand.size());

  EpoUploadOptions uploadOptions;
  uploadOptions.endingBaudRate = [] { return 38400u; };
  EpoUpload upload(EpoOpenFile(path), uploadOptions);
  std::atomic<bool> stop{false};
  std::vector<int> percents;
  SerialEpoLink link(port, &stop, [&](int percent, const std::string&) { percents.push_back(percent); });

  // Stands for the user switching the link off: on the row's condition, or at the latest
  // after a long while so that a broken upload cannot hang the test run.
  std::atomic<bool> uploadReturned{false};
  std::thread watchdog([&] {
    const int want = c.packetsBeforeStop;
    receiver.waitUntil(
        [&] {
          if (uploadReturned) return true;
          if (want <= 0) return false;
          int data = 0;
          for (const auto& p : receiver.binaryPackets())
            data += p.command == 722 && sim::readU16(p.payload, 0) != 0xFFFF;
          return data >= want;
        },
        want > 0 ? 30000 : 60000);
    stop = true;
  });
  const EpoEnding ending = RunEpoUpload(upload, link);
  uploadReturned = true;
  watchdog.join();
  EXPECT_EQ(ending, c.ending) << c.legend;

  if (c.ending == EpoEnding::Completed) {
    // The receiver changes its speed once the bytes queued before the change are out.
    EXPECT_TRUE(receiver.waitUntil([&] { return !receiver.binaryMode() && receiver.baud() == 38400u; }, 10000))
        << "binary mode " << receiver.binaryMode() << ", baud " << receiver.baud();
    std::string records;
    for (const auto& p : receiver.binaryPackets()) {
      if (p.command == 722 && sim::readU16(p.payload, 0) != 0xFFFF) records.append(p.payload, 2, std::string::npos);
    }
    records.resize(content.size());  // the last packet's zero record
    EXPECT_EQ(Bytes(records.begin(), records.end()), content);
    ASSERT_EQ(percents.size(), 43u);
    EXPECT_EQ(percents.back(), 100);
    EXPECT_FALSE(upload.fileOpen());
  } else if (c.ending != EpoEnding::None) {
    EXPECT_TRUE(receiver.waitUntil([&] { return !receiver.binaryMode(); }, 10000))
        << c.legend << ": the receiver is back in NMEA";
  } else {
    EXPECT_FALSE(upload.finished());
    EXPECT_TRUE(std::filesystem::exists(path));
  }
  port.close();
  receiver.stop();
}

INSTANTIATE_TEST_SUITE_P(
    Receivers, UploadOverSerialTest,
    ::testing::Values(SerialCase{"well-behaved receiver", [](sim::BinaryFaults&) {}, EpoEnding::Completed, 0},
                      SerialCase{"acknowledgements split between 0D and 0A, with a pause",
                                 [](sim::BinaryFaults& f) {
                                   f.splitAcks = true;
                                   f.splitAckAt = 11;
                                   f.splitGapMs = 5;
                                 },
                                 EpoEnding::Completed, 0},
                      SerialCase{"packet 3 rejected", [](sim::BinaryFaults& f) { f.rejectSeq = 3; },
                                 EpoEnding::Rejected, 0},
                      SerialCase{"silent after packet 3, then switched off",
                                 [](sim::BinaryFaults& f) { f.silentAfter = 3; }, EpoEnding::None, 5}));

}  // namespace
