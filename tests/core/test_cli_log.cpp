// torvikel-cli log against the simulated receiver playing real captures, through a clean
// and through a bad line: the file holds exactly the sentences that pass the checksum test,
// byte for byte as they came (stray bytes before the next "$" included), under exactly the
// name given, until SIGINT or SIGTERM. And torvikel-cli ports: the window's resolver.
#ifdef TORVIKEL_CLI_BINARY

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "link/nmea_sentence.h"
#include "link/port_names.h"
#include "tests/core/test_cli_support.h"

namespace {

using clitest::CliProcess;
using clitest::SimFixture;

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

struct LogRow {
  const char* legend;
  const char* capture;
  std::function<void(sim::NmeaFaults&)> faults;
  int signal;
};

void PrintTo(const LogRow& row, std::ostream* os) { *os << row.legend; }

class CliLogTest : public ::testing::TestWithParam<LogRow> {};

TEST_P(CliLogTest, ValidSentencesByteForByteUnderTheGivenName) {
  const LogRow& row = GetParam();
  SimFixture sim([](sim::SimOptions& o) {
    o.model.rates = {};  // silent until the capture plays
    o.model.replayFast = true;
  });
  ASSERT_TRUE(sim.started()) << sim.error();
  epotest::TempDir dir;
  const std::string path = dir.file("track.txt");
  std::ofstream(path) << "an older log that must go\n";

  CliProcess child({"log", "--port", SimFixture::kPortText, path}, sim.env());
  ASSERT_TRUE(child.waitFor([](const std::string& out) { return out.find("Logging ") != std::string::npos; }))
      << child.err();
  sim.receiver().withModel([&](sim::ReceiverModel& m) {
    if (row.faults) row.faults(m.options().nmeaFaults);
    m.startReplay(sim::ReadCaptureLines(ReadFile(std::string(TORVIKEL_TEST_DATA) + "/" + row.capture)));
  });
  ASSERT_TRUE(sim.receiver().waitUntil([&] { return sim.receiver().replayFinished(); }, 60000));

  // What the window's log holds for the same line: every sentence the cutter hands over
  // whose checksum is right, as it was cut.
  std::string expected;
  int dropped = 0;
  int kept = 0;
  SentenceCutter cutter;
  const std::string line = sim.receiver().sentBytes();
  cutter.feed(line.data(), line.size(), [&](std::string_view sentence) {
    if (VerifyChecksum(sentence)) {
      expected += sentence;
      ++kept;
    } else {
      ++dropped;
    }
  });
  ASSERT_GT(kept, 10);
  if (row.faults) {
    EXPECT_GT(dropped, 0) << "the bad line had sentences to drop";
  }

  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(clitest::kHangGuardMs);
  while (std::filesystem::file_size(path) < expected.size() && std::chrono::steady_clock::now() < until) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  child.signal(row.signal);
  const clitest::CliResult result = child.finish();
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(result.err, "");
  EXPECT_NE(result.out.find(std::to_string(kept) + " sentences logged to " + path), std::string::npos) << result.out;
  EXPECT_EQ(ReadFile(path), expected);
  EXPECT_EQ(dir.names(), std::vector<std::string>{"track.txt"}) << "the name as given, nothing appended";
  EXPECT_EQ(sim.receiver().receivedBytes(), "") << "logging sends nothing";
}

INSTANTIATE_TEST_SUITE_P(
    Captures, CliLogTest,
    ::testing::Values(LogRow{"MT3339, ended by SIGINT", "mt3339.log", {}, SIGINT},
                      LogRow{"FV-M11 with LF line ends, ended by SIGTERM", "mtk-3301.log", {}, SIGTERM},
                      LogRow{"BT-Q818 through a bad line: wrong checksums, garbage, NUL bytes, split writes",
                             "bt-q818.log",
                             [](sim::NmeaFaults& f) {
                               f.badChecksum = 0.2;
                               f.garbage = 0.2;
                               f.nulBytes = 0.1;
                               f.splitWrites = 0.2;
                               f.splitGapMs = 2;
                             },
                             SIGINT}));

TEST(CliLog, FileThatCannotBeCreated) {
  SimFixture sim;
  ASSERT_TRUE(sim.started()) << sim.error();
  epotest::TempDir dir;
  const clitest::CliResult result =
      clitest::RunCli({"log", "--port", SimFixture::kPortText, dir.file("no-such-dir/track.txt")}, sim.env());
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_EQ(result.err.rfind("torvikel-cli: Open Error", 0), 0u) << result.err;
}

TEST(CliPorts, ListsWhatTheWindowsResolverGives) {
  SimFixture sim;
  ASSERT_TRUE(sim.started()) << sim.error();
  // Beside the simulator's symbolic link: an entry that is a file holding a path.
  std::ofstream(sim.portMapDir() + "/com12") << "/dev/torvikel-no-such-device\n";

  const clitest::CliResult result = clitest::RunCli({"ports"}, sim.env());
  EXPECT_EQ(result.exitCode, 0) << result.err;
  std::vector<std::string> want = {"Port map directory: " + sim.portMapDir()};
  PortRoots roots;
  roots.mapDir = sim.portMapDir();
  for (int n = 1; n <= 99; ++n) {
    std::string description;
    if (const std::optional<std::string> device = ResolveComPortIn(roots, n, &description)) {
      std::string name = "Com" + std::to_string(n);
      name.resize(6, ' ');
      want.push_back(name + "  " + *device + "  " + description);
    }
  }
  std::vector<std::string> got;
  std::istringstream lines(result.out);
  for (std::string line; std::getline(lines, line);) got.push_back(line);
  EXPECT_EQ(got, want);
  const std::string joined = result.out;
  EXPECT_NE(joined.find("Com4    " + sim.receiver().slavePath() + "  pseudo-terminal"), std::string::npos) << joined;
  EXPECT_NE(joined.find("Com12   /dev/torvikel-no-such-device  missing device"), std::string::npos) << joined;
}

}  // namespace

#endif  // TORVIKEL_CLI_BINARY
