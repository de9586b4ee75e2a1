// torvikel-cli log against the simulated receiver playing real captures, through a clean
// and through a bad line: the file holds exactly the sentences that pass the checksum test,
// byte for byte as they came (stray bytes before the next "$" included), under exactly the
// name given, until SIGINT or SIGTERM. And torvikel-cli ports: the window's resolver.
#ifdef TORVIKEL_CLI_BINARY

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>

#include "link/nmea_sentence.h"
#include "link/port_names.h"
#include "tests/core/test_cli_support.h"
#include "tests/support/files.h"

namespace {

using clitest::CliProcess;
using clitest::SimFixture;

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
    m.startReplay(sim::ReadCaptureLines(testsupport::ReadTestData(row.capture)));
  });
  ASSERT_TRUE(sim.receiver().waitUntil([&] { return sim.receiver().replayFinished(); }, 60000));

  // What the window's log holds for the same line: every sentence the cutter hands over
  // whose checksum is right, as it was cut.
  std::string expected;
  int dropped = 0;
  int kept = 0;
  SentenceCutter cutter;
  const std::string line = sim.receiver().sentBytes();
  const auto keep = [&](std::string_view sentence) {
    if (VerifyChecksum(sentence)) {
      expected += sentence;
      ++kept;
    } else {
      ++dropped;
    }
  };
  cutter.feed(line.data(), line.size(), keep);
  cutter.flushComplete(keep);  // the last sentence of the replay: the line goes quiet after it
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
  EXPECT_EQ(testsupport::ReadFile(path), expected);
  EXPECT_EQ(dir.names(), std::vector<std::string>{"track.txt"}) << "the name as given, nothing appended";
  EXPECT_EQ(sim.receiver().receivedBytes(), "") << "logging sends nothing";
}

INSTANTIATE_TEST_SUITE_P(
    Captures, CliLogTest,
    ::testing::Values(LogRow{"MT3339, ended by SIGINT", "mt3339.log", {}, SIGINT},
                      LogRow{"FV-M11 with LF line ends, ended by SIGTERM", "mtk-3301.log", {}, SIGTERM},
                      LogRow{"TR737A+ cold start", "tr737A+.log", {}, SIGINT},
                      LogRow{"USB-TTL receiver, acknowledgements first", "sample_gpsdata_usbttl_5.txt", {}, SIGINT},
                      LogRow{"USB-TTL receiver, blank first line", "sample_gpsdata_usbttl_2.txt", {}, SIGTERM},
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

// Where the tool writes may stop taking bytes: a FIFO or pipe whose reader stopped reading,
// or one whose reader closed it. Ctrl-C and SIGTERM end a stalled write with a message; a
// reader that closed ends the command quietly, as it ends any Unix tool writing to a pipe.
struct TargetRow {
  const char* legend;
  bool monitor;       // monitor --json into the target's standard output; else log FILE
  bool readerCloses;  // the reader closes once bytes arrived; else it stops reading
  int signal;         // sent once bytes arrived, when the reader stops reading
  int exitCode;
  const char* message;  // part of the one line on standard error; "": nothing there
};

void PrintTo(const TargetRow& row, std::ostream* os) { *os << row.legend; }

class CliWriteTargetTest : public ::testing::TestWithParam<TargetRow> {};

TEST_P(CliWriteTargetTest, EndsPromptlyWithItsExitCode) {
  const TargetRow& row = GetParam();
  SimFixture sim([](sim::SimOptions& o) {
    o.model.rates = {};
    o.model.replayFast = true;
    o.model.replayLoop = true;
    o.model.replayLines = sim::ReadCaptureLines(testsupport::ReadTestData("mt3339.log"));
  });
  ASSERT_TRUE(sim.started()) << sim.error();
  epotest::TempDir dir;
  int readEnd = -1;
  std::unique_ptr<CliProcess> child;
  if (row.monitor) {
    int ends[2];
    ASSERT_EQ(::pipe2(ends, O_CLOEXEC), 0);
    readEnd = ends[0];
    ::fcntl(readEnd, F_SETPIPE_SZ, 4096);  // a small pipe fills at once
    child = std::make_unique<CliProcess>(std::vector<std::string>{"monitor", "--json", "--port", SimFixture::kPortText},
                                         sim.env(), false, ends[1]);
    ::close(ends[1]);
  } else {
    const std::string fifo = dir.file("track.fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    readEnd = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(readEnd, 0);
    ::fcntl(readEnd, F_SETPIPE_SZ, 4096);
    child =
        std::make_unique<CliProcess>(std::vector<std::string>{"log", "--port", SimFixture::kPortText, fifo}, sim.env());
  }
  // The stream has filled the target so far that the next line or two no longer fit.
  const int full = ::fcntl(readEnd, F_GETPIPE_SZ) - (row.monitor ? 1024 : 256);
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(clitest::kHangGuardMs);
  int queued = 0;
  while (std::chrono::steady_clock::now() < until && (::ioctl(readEnd, FIONREAD, &queued) != 0 || queued < full)) {
    pollfd ready{readEnd, POLLIN, 0};
    ::poll(&ready, 1, 100);
  }
  ASSERT_GE(queued, full) << child->err();
  // Far more than the room left has come since: the tool now holds lines it cannot write.
  const std::size_t sentThen = sim.receiver().sentBytes().size();
  ASSERT_TRUE(sim.receiver().waitUntil([&] { return sim.receiver().sentBytes().size() > sentThen + 16384; }, 60000));
  if (row.readerCloses) {
    ::close(readEnd);
    readEnd = -1;
  } else {
    child->signal(row.signal);
  }
  // The promise is a second; the guard leaves room for a loaded machine. What it catches is
  // a write that never ends.
  const clitest::CliResult result = child->finish(5000);
  if (readEnd >= 0) ::close(readEnd);
  EXPECT_EQ(result.exitCode, row.exitCode) << result.err;
  if (*row.message == '\0') {
    EXPECT_EQ(result.err, "");
  } else {
    EXPECT_NE(result.err.find(row.message), std::string::npos) << result.err;
    EXPECT_EQ(result.err.find('\n'), result.err.size() - 1) << "one line: " << result.err;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Targets, CliWriteTargetTest,
    ::testing::Values(TargetRow{"log into a FIFO whose reader stopped reading, ended by SIGINT", false, false, SIGINT,
                                1, "could not be written"},
                      TargetRow{"log into a FIFO whose reader stopped reading, ended by SIGTERM", false, false, SIGTERM,
                                1, "could not be written"},
                      TargetRow{"log into a FIFO whose reader closed it", false, true, 0, 0, ""},
                      TargetRow{"monitor --json into a pipe whose reader stopped reading, ended by SIGINT", true, false,
                                SIGINT, 1, "not being read"},
                      TargetRow{"monitor --json into a pipe whose reader closed it", true, true, 0, 0, ""}));

// The receiver pulled out while a command runs: it ends with 1 and one line that names the
// device; log --reconnect instead waits for the port name to come back and logs on. A log
// holds every valid sentence that came before (and after) the loss.
struct LossRow {
  const char* legend;
  std::vector<std::string> args;  // "{path}" stands for the log file
  bool replug;                    // plugged in again once the tool waits for it
  int exitCode;
  const char* message;  // part of standard error; "{device}" stands for the receiver's terminal
};

void PrintTo(const LossRow& row, std::ostream* os) { *os << row.legend; }

class CliLossTest : public ::testing::TestWithParam<LossRow> {};

TEST_P(CliLossTest, EndsOrWaitsAndNothingReceivedIsLost) {
  const LossRow& row = GetParam();
  SimFixture sim([](sim::SimOptions& o) {
    o.model.rates = {};
    o.model.replayFast = true;
    o.model.replayLoop = true;
    o.model.answerZrn = false;       // send waits for a reply that never comes
    o.replayWaitsForProgram = true;  // what is sent before the port is opened reaches nobody
    o.replayAfterOpenMs = -1;        // the tool purges after its open, however slowly it runs
    o.model.replayLines = sim::ReadCaptureLines(testsupport::ReadTestData("mt3339.log"));
  });
  ASSERT_TRUE(sim.started()) << sim.error();
  epotest::TempDir dir;
  const std::string path = dir.file("track.txt");
  std::vector<std::string> args;
  for (const std::string& a : row.args) args.push_back(a == "{path}" ? path : a);
  CliProcess child(args, sim.env());
  sim::SimReceiver& receiver = sim.receiver();
  const auto grown = [&](std::size_t from) {
    return receiver.waitUntil([&] { return receiver.sentBytes().size() > from + 4096; }, 60000);
  };
  ASSERT_TRUE(grown(0));
  ASSERT_TRUE(receiver.waitUntil([&] { return receiver.programOpens() > 0; }, 10000));
  std::string device = receiver.slavePath();
  ASSERT_TRUE(receiver.unplug());
  if (row.replug) {
    const auto waiting = [&](std::size_t times) {
      return child.waitFor([&](const std::string&) {
        std::size_t seen = 0;
        for (std::size_t at = child.err().find("Waiting for"); at != std::string::npos;
             at = child.err().find("Waiting for", at + 1)) {
          ++seen;
        }
        return seen >= times;
      });
    };
    ASSERT_TRUE(waiting(1)) << child.err();
    ASSERT_TRUE(receiver.replug());
    device = receiver.slavePath();  // the line names the device it came back as
    ASSERT_TRUE(child.waitFor([&](const std::string&) { return child.err().find("is back as") != std::string::npos; }))
        << child.err();
    ASSERT_TRUE(grown(receiver.sentBytes().size()));
    // Pulled out once more, so that the stream has an end to compare with.
    ASSERT_TRUE(receiver.unplug());
    ASSERT_TRUE(waiting(2)) << child.err();
    child.signal(SIGINT);
  }
  // The promise is a second; the guard leaves room for a loaded machine.
  const clitest::CliResult result = child.finish(5000);

  std::string expected;
  SentenceCutter cutter;
  const std::string line = receiver.sentBytes();
  const auto keep = [&](std::string_view sentence) {
    if (VerifyChecksum(sentence)) expected += sentence;
  };
  cutter.feed(line.data(), line.size(), keep);
  cutter.flushComplete(keep);
  EXPECT_EQ(result.exitCode, row.exitCode) << result.err;
  std::string message = row.message;
  message.replace(message.find("{device}"), 8, device);
  EXPECT_NE(result.err.find(message), std::string::npos) << result.err;
  if (!row.replug) {
    EXPECT_EQ(result.err.find('\n'), result.err.size() - 1) << "one line: " << result.err;
  }
  if (std::find(row.args.begin(), row.args.end(), "{path}") != row.args.end()) {
    const std::string logged = testsupport::ReadFile(path);
    EXPECT_GT(logged.size(), 4096u);
    EXPECT_TRUE(logged == expected) << logged.size() << " bytes logged, " << expected.size() << " valid sent";
  }
}

INSTANTIATE_TEST_SUITE_P(PulledOut, CliLossTest,
                         ::testing::Values(LossRow{"monitor --json",
                                                   {"monitor", "--json", "--port", SimFixture::kPortText},
                                                   false,
                                                   1,
                                                   "torvikel-cli: Receiver lost: {device} (device removed)."},
                                           LossRow{"log",
                                                   {"log", "--port", SimFixture::kPortText, "{path}"},
                                                   false,
                                                   1,
                                                   "torvikel-cli: Receiver lost: {device} (device removed)."},
                                           LossRow{"send, waiting for the reply",
                                                   {"send", "--port", SimFixture::kPortText, "--timeout", "30",
                                                    "fix-reset"},
                                                   false,
                                                   1,
                                                   "torvikel-cli: Receiver lost: {device} (device removed)."},
                                           LossRow{"log --reconnect, plugged in again",
                                                   {"log", "--reconnect", "--port", SimFixture::kPortText, "{path}"},
                                                   true,
                                                   0,
                                                   "Com4 is back as {device}; nothing was received for "}));

TEST(CliLog, FileThatCannotBeCreated) {
  SimFixture sim;
  ASSERT_TRUE(sim.started()) << sim.error();
  epotest::TempDir dir;
  const clitest::CliResult result =
      clitest::RunCli({"log", "--port", SimFixture::kPortText, dir.file("no-such-dir/track.txt")}, sim.env());
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_EQ(result.err.rfind("torvikel-cli: Open Error", 0), 0u) << result.err;
}

// Two loggers into one file: the second, of any port, is refused with the first named, and
// what the first has written stays whole.
TEST(CliLog, SecondLoggerOfAFileIsRefusedAndTruncatesNothing) {
  SimFixture first;
  SimFixture second;
  ASSERT_TRUE(first.started() && second.started());
  epotest::TempDir dir;
  const std::string path = dir.file("shared.nmea");
  CliProcess holder({"log", "--port", SimFixture::kPortText, path}, first.env());
  ASSERT_TRUE(holder.waitFor([&](const std::string&) { return testsupport::ReadFile(path).size() > 200; }));
  const std::string before = testsupport::ReadFile(path);
  const clitest::CliResult refused = clitest::RunCli({"log", "--port", SimFixture::kPortText, path}, second.env());
  EXPECT_EQ(refused.exitCode, 1);
  EXPECT_EQ(refused.err, "torvikel-cli: Open Error: " + path + " is being written by torvikel-cli, pid " +
                             std::to_string(holder.pid()) + "; stop that log, or choose another file\n");
  EXPECT_EQ(testsupport::ReadFile(path).substr(0, before.size()), before) << "nothing truncated";
  holder.signal(SIGINT);
  EXPECT_EQ(holder.finish().exitCode, 0);
}

TEST(CliPorts, ListsWhatTheWindowsResolverGives) {
  SimFixture sim;
  ASSERT_TRUE(sim.started()) << sim.error();
  // Beside the simulator's symbolic link: an entry that is a file holding a path.
  std::ofstream(sim.portMapDir() + "/com12") << "/dev/torvikel-no-such-device\n";
  // And one that is empty: listed with what is wrong, never as another port.
  std::ofstream(sim.portMapDir() + "/com13").flush();

  const clitest::CliResult result = clitest::RunCli({"ports"}, sim.env());
  EXPECT_EQ(result.exitCode, 0) << result.err;
  std::vector<std::string> want = {"Port map directory: " + sim.portMapDir()};
  PortRoots roots;
  roots.mapDir = sim.portMapDir();
  for (int n = 1; n <= 99; ++n) {
    std::string description;
    std::string name = "Com" + std::to_string(n);
    name.resize(6, ' ');
    if (const std::optional<std::string> device = ResolveComPortIn(roots, n, &description)) {
      want.push_back(name + "  " + *device + "  " + description);
    } else if (n == 13) {
      want.push_back(name + "  (none)  The port map entry " + sim.portMapDir() +
                     "/com13 is empty: it should be a link to the device or hold its path, such as /dev/ttyUSB0.");
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
