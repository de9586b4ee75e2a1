// torvikel-cli monitor against the simulated receiver: it connects as "On" does (the same
// four queries, byte for byte), and each real capture replayed into monitor --json gives,
// line for line and byte for byte, the JSON lines stored beside the capture (<capture>.json;
// the window shows the same session texts, tests/app/test_status_replay.cpp). The stored
// lines were written by this program, as gpsd keeps its *.chk files: a change that alters
// them runs tests/data/regenerate-expectations.sh and says why in its commit. On a terminal
// it draws its live screen. The same capture read through socat (tcp://) and through gpsd
// (gpsd://) gives the same lines: gpsd's own JSON never reaches the output, and through gpsd
// nothing at all is written to the receiver.
#ifdef TORVIKEL_CLI_BINARY

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "commands/receiver_commands.h"
#include "tests/core/test_cli_support.h"
#include "tests/core/test_net_support.h"
#include "tests/support/files.h"

namespace {

using clitest::CliProcess;
using clitest::SimFixture;

using clitest::BytesOf;

// The seconds without a 3D fix count wall-clock time, so the stored lines hold 0 there; the
// line is compared with the program's count set to 0 too, once it is known to be a count.
constexpr std::string_view kTimerMember = "\"fixTimerSeconds\":";

std::optional<std::string> WithTimerZero(const std::string& line) {
  const std::size_t at = line.find(kTimerMember);
  if (at == std::string::npos) return std::nullopt;
  const std::size_t digits = at + kTimerMember.size();
  const std::size_t end = line.find_first_not_of("0123456789", digits);
  if (end == digits || end == std::string::npos) return std::nullopt;
  return line.substr(0, digits) + "0" + line.substr(end);
}

// Set to regenerate the stored lines from what the program prints (regenerate-expectations.sh).
bool WritingExpectations() { return std::getenv("TORVIKEL_WRITE_EXPECTATIONS") != nullptr; }

// Played twice after a capture to mark its end: its line shows that every line before it
// has been printed. The second one's "$" completes the first (a quiet line does too).
const std::string kEndMarker = "$PTVKL,END*36\r\n";
// Played until it shows when nothing is written to the receiver (through gpsd): its line
// shows that the program is watching, so the capture that follows reaches it whole.
const std::string kBeginMarker = "$PTVKL,BEGIN*3E\r\n";

struct CaptureRow {
  const char* legend;
  const char* file;
  const char* expectation;  // beside the capture in tests/data
  std::function<void(sim::NmeaFaults&)> faults;
  nettest::Source source = nettest::Source::Terminal;
  std::size_t firstLines = 0;  // replay only the capture's first lines; 0: all of it
};

void PrintTo(const CaptureRow& row, std::ostream* os) { *os << row.legend; }

class CliMonitorCaptureTest : public ::testing::TestWithParam<CaptureRow> {};

TEST_P(CliMonitorCaptureTest, JsonLinesAreTheStoredOnes) {
  const CaptureRow& row = GetParam();
  SimFixture sim([](sim::SimOptions& o) {
    o.model.rates = {};  // silent until the capture plays
    o.model.replayFast = true;
  });
  ASSERT_TRUE(sim.started()) << sim.error();
  nettest::NetworkServer server(row.source, sim.receiver().slavePath());
  ASSERT_TRUE(server.started()) << server.error();
  const bool throughGpsd = row.source == nettest::Source::Gpsd;
  const std::string portText = row.source == nettest::Source::Terminal ? SimFixture::kPortText : server.url();
  CliProcess child({"monitor", "--json", "--port", portText}, sim.env());
  ASSERT_TRUE(child.started());

  std::vector<std::string> replies;
  if (throughGpsd) {
    bool watching = false;
    for (int tries = 0; tries < 100 && !watching; ++tries) {
      sim.receiver().withModel([](sim::ReceiverModel& m) { m.startReplay({kBeginMarker}); });
      watching =
          child.waitFor([](const std::string& out) { return out.find("$PTVKL,BEGIN") != std::string::npos; }, 300);
    }
    ASSERT_TRUE(watching) << child.err();
  } else {
    // Connected as "On" connects: the four queries, and nothing else.
    const std::string queries = BytesOf(ConnectQueryCommands());
    ASSERT_TRUE(
        sim.receiver().waitUntil([&] { return sim.receiver().receivedBytes().size() >= queries.size(); }, 30000))
        << child.err();
    EXPECT_EQ(sim.receiver().receivedBytes(), queries);
    // Their four replies go out before the capture, so they are the first four lines.
    replies = {"$PMTK514", "$PMTK705", "$PZRN001", "$PMTK500"};
    ASSERT_TRUE(sim.receiver().waitUntil(
        [&] {
          const std::string sent = sim.receiver().sentBytes();
          return std::all_of(replies.begin(), replies.end(),
                             [&](const std::string& r) { return sent.find(r) != std::string::npos; });
        },
        30000));
  }

  std::vector<std::string> lines = sim::ReadCaptureLines(testsupport::ReadTestData(row.file));
  ASSERT_FALSE(lines.empty());
  if (row.firstLines > 0 && lines.size() > row.firstLines) lines.resize(row.firstLines);
  sim.receiver().withModel([&](sim::ReceiverModel& m) {
    if (row.faults) row.faults(m.options().nmeaFaults);
    m.startReplay(lines);
  });
  ASSERT_TRUE(sim.receiver().waitUntil([&] { return sim.receiver().replayFinished(); }, 60000));
  sim.receiver().withModel([&](sim::ReceiverModel& m) {
    m.options().nmeaFaults = {};
    m.startReplay({kEndMarker, kEndMarker});
  });
  const bool ended = child.waitFor([](const std::string& out) { return out.find("$PTVKL,END") != std::string::npos; });
  child.signal(SIGTERM);
  const clitest::CliResult result = child.finish();
  ASSERT_TRUE(ended) << result.err;
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(result.err, "");

  if (throughGpsd) {
    EXPECT_EQ(sim.receiver().receivedBytes(), "") << "nothing is written through gpsd";
  }

  std::vector<std::string> got = child.lines();
  if (throughGpsd) {
    const auto afterBegin = std::find_if(got.rbegin(), got.rend(), [](const std::string& line) {
      return line.find("$PTVKL,BEGIN") != std::string::npos;
    });
    got.erase(got.begin(), afterBegin.base());
  }
  ASSERT_GE(got.size(), replies.size() + 1);
  for (std::size_t i = 0; i < replies.size(); ++i) {
    EXPECT_NE(got[i].find("\"sentence\":\"" + replies[i]), std::string::npos)
        << "reply to the connect step: " << got[i];
  }
  got.erase(got.begin(), got.begin() + static_cast<std::ptrdiff_t>(replies.size()));
  ASSERT_NE(got.back().find("$PTVKL,END"), std::string::npos) << got.back();
  while (!got.empty() && got.back().find("$PTVKL,END") != std::string::npos) got.pop_back();
  for (std::string& line : got) {
    const std::optional<std::string> normalised = WithTimerZero(line);
    ASSERT_TRUE(normalised) << "fixTimerSeconds is a count: " << line;
    line = *normalised;
  }

  const std::string storedPath = std::string(TORVIKEL_TEST_DATA) + "/" + row.expectation;
  if (WritingExpectations()) {
    if (row.source != nettest::Source::Terminal) return;  // the stored lines come from the terminal
    std::ofstream out(storedPath, std::ios::binary | std::ios::trunc);
    for (const std::string& line : got) out << line << "\n";
    ASSERT_TRUE(out.good()) << storedPath;
    return;
  }
  std::vector<std::string> stored;
  std::istringstream storedText(testsupport::ReadFile(storedPath));
  for (std::string line; std::getline(storedText, line);) stored.push_back(line);
  ASSERT_FALSE(stored.empty()) << storedPath;
  const long withDegree = std::count_if(
      stored.begin(), stored.end(), [](const std::string& line) { return line.find("\xC2\xB0") != std::string::npos; });
  EXPECT_GT(withDegree, 0) << row.expectation << " shows positions, the degree sign as UTF-8 U+00B0";

  ASSERT_EQ(got.size(), stored.size()) << "one line per valid sentence";
  for (std::size_t i = 0; i < got.size(); ++i) EXPECT_EQ(got[i], stored[i]) << row.expectation << " line " << i + 1;
}

INSTANTIATE_TEST_SUITE_P(
    Captures, CliMonitorCaptureTest,
    ::testing::Values(
        CaptureRow{"MT3339 HAT, DGPS fix", "mt3339.log", "mt3339.log.json", {}},
        CaptureRow{"BT-Q818", "bt-q818.log", "bt-q818.log.json", {}},
        CaptureRow{"FV-M11 power-up to first fix", "mtk-3301.log", "mtk-3301.log.json", {}},
        CaptureRow{"TR737A+ cold start", "tr737A+.log", "tr737A+.log.json", {}},
        CaptureRow{
            "MT3339 with acknowledgements", "sample_gpsdata_usbttl_5.txt", "sample_gpsdata_usbttl_5.txt.json", {}},
        CaptureRow{
            "MT3339, first line cut (no \"$\")", "sample_gpsdata_usbttl_2.txt", "sample_gpsdata_usbttl_2.txt.json", {}},
        CaptureRow{"BT-Q818 through a bad line: wrong and odd checksums, NUL bytes, garbage, split writes",
                   "bt-q818.log", "bt-q818.log.bad-line.json",
                   [](sim::NmeaFaults& f) {
                     f.badChecksum = 0.1;
                     f.lowerCaseChecksum = 0.2;
                     f.oneDigitChecksum = 0.5;
                     f.nulBytes = 0.1;
                     f.garbage = 0.1;
                     f.splitWrites = 0.2;
                     f.splitGapMs = 2;
                   }},
        CaptureRow{
            "GR-8013W, GPS + GLONASS: two GNGSA per burst without system IDs", "gr8013-w.log", "gr8013-w.log.json", {}},
        CaptureRow{"L76K, GPS + GLONASS + BeiDou with system IDs: its first 20 bursts",
                   "quectel-l76k-nmea.log",
                   "quectel-l76k-nmea.log.json",
                   {},
                   nettest::Source::Terminal,
                   300},
        CaptureRow{"GT-88, GPS + GLONASS + Galileo with signal IDs", "furuno_gl_ga.log", "furuno_gl_ga.log.json", {}},
        CaptureRow{"MT3339 HAT through socat (tcp://)", "mt3339.log", "mt3339.log.json", {}, nettest::Source::Tcp},
        CaptureRow{"BT-Q818 through gpsd (gpsd://): gpsd's JSON kept out, nothing written",
                   "bt-q818.log",
                   "bt-q818.log.json",
                   {},
                   nettest::Source::Gpsd}));

TEST(CliMonitor, LiveScreenOnATerminal) {
  SimFixture sim([](sim::SimOptions& o) { o.model.startup = {0, 0}; });
  ASSERT_TRUE(sim.started()) << sim.error();
  CliProcess child({"monitor", "--port", SimFixture::kPortText}, sim.env(), /*stdoutTerminal=*/true);
  ASSERT_TRUE(child.started());
  // The screen shows the position as the session formats it, and the replies to the queries.
  const bool drawn = child.waitFor([](const std::string& out) {
    return out.find("Latitude   N 25\xC2\xB0") != std::string::npos &&
           out.find("PMTK705: firmware") != std::string::npos &&
           out.find("Satellites of the last complete cycles: ") != std::string::npos &&
           out.find(", by system: GPS ") != std::string::npos && out.find("\n  GPS    ") != std::string::npos;
  });
  EXPECT_TRUE(drawn) << child.out();
  EXPECT_NE(child.out().find("\x1b[H"), std::string::npos) << "redrawn in place";
  EXPECT_EQ(child.out().find("{\"sentence\""), std::string::npos) << "no JSON on a terminal";
  child.signal(SIGINT);
  const clitest::CliResult result = child.finish();
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_NE(result.out.find("\x1b[?25h"), std::string::npos) << "the cursor is given back";
}

TEST(CliMonitor, PortThatCannotBeOpened) {
  SimFixture sim;
  ASSERT_TRUE(sim.started()) << sim.error();
  const clitest::CliResult result = clitest::RunCli({"monitor", "--json", "--port", "Com98"}, sim.env());
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_EQ(result.err.rfind("torvikel-cli: Open ComPort failed. There is no port map entry com98 and no serial port "
                             "number 98 (found: ",
                             0),
            0u)
      << result.err;
  EXPECT_EQ(result.err.find('\n'), result.err.size() - 1) << "one line";
  EXPECT_EQ(result.out, "");
}

}  // namespace

#endif  // TORVIKEL_CLI_BINARY
