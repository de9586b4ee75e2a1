// The simulated receiver paces what it receives as well as what it sends: bytes from the
// program reach the receiver no earlier than their line time at the receiver's rate after the
// bytes before them, so a reply (an acknowledgement included) never comes back before the
// command's last byte could have crossed the line. Lower bounds only: how much later the
// answer comes depends on the machine.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "link/serial_port.h"
#include "sim/sim_receiver.h"
#include "tests/core/test_sim_support.h"
#include "tests/support/frames.h"

namespace {

using Clock = std::chrono::steady_clock;

// Line time of n bytes at baud, 10 bits a byte, computed here apart from the simulator.
double lineTimeMs(std::size_t bytes, std::uint32_t baud) { return static_cast<double>(bytes) * 10.0 * 1000.0 / baud; }

sim::SimOptions quietReceiver(std::uint32_t baud, bool pace) {
  sim::SimOptions o;
  o.comNumber = 0;
  o.pace = pace;
  o.model = simtest::quietOptions();
  o.model.baud = baud;
  o.model.rates = sim::OutputRates{};  // no periodic output: only replies on the line
  o.model.startup = {0, 0};
  return o;
}

// Reads until `part` has come (or 10 s passed); the time it came, or nullopt.
std::optional<Clock::time_point> readUntilSeen(SerialPort& port, const std::string& part, std::string* in) {
  const auto deadline = Clock::now() + std::chrono::seconds(10);
  while (in->find(part) == std::string::npos && Clock::now() < deadline) {
    if (!port.waitReadable(200)) continue;
    char buf[4096];
    const long n = port.read(buf, sizeof buf);
    if (n > 0) in->append(buf, static_cast<std::size_t>(n));
  }
  if (in->find(part) == std::string::npos) return std::nullopt;
  return Clock::now();
}

struct PacingCase {
  const char* legend;
  std::uint32_t baud;
  std::vector<std::string> writes;  // each its own write, back to back
};

void PrintTo(const PacingCase& c, std::ostream* os) { *os << c.legend; }

const std::string kVersionQuery = "$PMTK605*31\r\n";  // answered by $PMTK705

class SimInputPacingTest : public ::testing::TestWithParam<PacingCase> {};

TEST_P(SimInputPacingTest, ReplyComesNoEarlierThanTheCommandsLineTime) {
  const PacingCase& c = GetParam();
  sim::SimReceiver receiver(quietReceiver(c.baud, true));
  std::string error;
  ASSERT_TRUE(receiver.start(&error)) << error;
  SerialPort port;
  ASSERT_TRUE(port.open(receiver.slavePath())) << port.lastError();

  std::size_t total = 0;
  for (const std::string& w : c.writes) total += w.size();
  const auto start = Clock::now();
  for (const std::string& w : c.writes) ASSERT_EQ(port.write(w.data(), w.size()), static_cast<long>(w.size()));
  std::string in;
  const auto seen = readUntilSeen(port, "$PMTK705,", &in);
  ASSERT_TRUE(seen.has_value()) << c.legend << ": no reply; got \"" << in << "\"";
  const double elapsedMs = std::chrono::duration<double, std::milli>(*seen - start).count();
  // 1 ms for the whole microseconds the simulator rounds each read's line time down to.
  EXPECT_GE(elapsedMs, lineTimeMs(total, c.baud) - 1.0) << c.legend;
  receiver.stop();
}

INSTANTIATE_TEST_SUITE_P(
    Commands, SimInputPacingTest,
    ::testing::Values(
        PacingCase{"a 13-byte query at 4800 baud", 4800, {kVersionQuery}},
        PacingCase{"the query behind 500 bytes of line noise in the same write",
                   4800,
                   {std::string(500, 'x') + kVersionQuery}},
        PacingCase{"a second write waits for the first to cross", 4800, {std::string(400, 'x'), kVersionQuery}},
        PacingCase{"2000 bytes and the query at 115200 baud", 115200, {std::string(2000, 'x') + kVersionQuery}},
        PacingCase{"the receiver's rate, not a fixed one: 9600 baud", 9600, {std::string(300, 'x') + kVersionQuery}}));

// An EPO data packet in binary mode at 115200 baud: its acknowledgement not before the
// packet's 191 bytes have crossed; and without pacing the acknowledgement still comes.
TEST(SimInputPacing, AcknowledgementWaitsForThePacketsLastByte) {
  for (const bool pace : {true, false}) {
    SCOPED_TRACE(pace ? "paced" : "unpaced");
    sim::SimReceiver receiver(quietReceiver(115200, pace));
    ASSERT_TRUE(receiver.start());
    SerialPort port;
    ASSERT_TRUE(port.open(receiver.slavePath()));
    const std::string sw = "$PMTK253,1,115200*00\r\n";
    ASSERT_EQ(port.write(sw.data(), sw.size()), static_cast<long>(sw.size()));
    std::string in;
    const std::string modeAck("\x04\x24\x0C\x00\x01\x00\xFD\x00\x03\xF3\x0D\x0A", 12);
    ASSERT_TRUE(readUntilSeen(port, modeAck, &in).has_value());

    const std::string packet = testsupport::EpoDataPacket(7, std::string(180, 'r'));
    const std::string ack("\x04\x24\x0C\x00\x02\x00\x07\x00\x01\x08\x0D\x0A", 12);
    in.clear();
    const auto start = Clock::now();
    ASSERT_EQ(port.write(packet.data(), packet.size()), 191);
    const auto seen = readUntilSeen(port, ack, &in);
    ASSERT_TRUE(seen.has_value()) << "no acknowledgement of packet 7";
    if (pace) {
      const double elapsedMs = std::chrono::duration<double, std::milli>(*seen - start).count();
      EXPECT_GE(elapsedMs, lineTimeMs(191, 115200) - 1.0);
    }
    ASSERT_EQ(receiver.binaryPackets().size(), 1u);
    EXPECT_EQ(receiver.binaryPackets()[0].raw, packet);
    receiver.stop();
  }
}

}  // namespace
