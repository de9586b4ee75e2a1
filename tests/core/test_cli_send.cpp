// torvikel-cli send against the simulated receiver: every command puts on the line exactly
// the bytes of the window's button (the sequence the button builds, whose bytes the window's
// own tests hold against the fixed texts), prints the reply decoded and exits 0 when the
// receiver took it; a refused acknowledgement, a missing reply and a port that cannot be
// opened end with 1 and one line on standard error; usage errors with 2.
#ifdef TORVIKEL_CLI_BINARY

#include <fcntl.h>
#include <grp.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "commands/receiver_commands.h"
#include "link/serial_port.h"
#include "tests/core/test_cli_support.h"

namespace {

namespace fs = std::filesystem;

using clitest::CliProcess;
using clitest::CliResult;
using clitest::RunCli;
using clitest::SimFixture;

using clitest::BytesOf;

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// Exactly one line, ending in a line feed.
bool OneLine(const std::string& text) { return !text.empty() && text.find('\n') == text.size() - 1; }

struct SendRow {
  const char* legend;
  std::vector<std::string> args;                        // after "send --port Com4"
  CommandSequence button;                               // what the window's button writes
  std::string printed;                                  // part of the decoded reply on stdout
  std::function<bool(sim::ReceiverModel&)> obeyed;      // the receiver's state afterwards; may be empty
  std::function<void(sim::SimOptions&)> receiver = {};  // how the receiver starts; may be empty
};

// Every NMEA output off: a reply is the last thing on the line, with no "$" after it.
void OutputOff(sim::SimOptions& o) { o.model.rates = {}; }

void PrintTo(const SendRow& row, std::ostream* os) { *os << row.legend; }

class CliSendTest : public ::testing::TestWithParam<SendRow> {};

TEST_P(CliSendTest, SameBytesAsTheButtonAndTheReplyDecoded) {
  const SendRow& row = GetParam();
  SimFixture sim([&](sim::SimOptions& o) {
    o.model.startupMessage = true;
    if (row.receiver) row.receiver(o);
  });
  ASSERT_TRUE(sim.started()) << sim.error();

  std::vector<std::string> args = {"send", "--port", SimFixture::kPortText};
  args.insert(args.end(), row.args.begin(), row.args.end());
  const CliResult result = RunCli(args, sim.env());

  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(result.err, "");
  EXPECT_TRUE(Contains(result.out, row.printed)) << result.out;
  const std::string expected = BytesOf(row.button);
  ASSERT_FALSE(expected.empty());
  sim.receiver().waitUntil([&] { return sim.receiver().receivedBytes().size() >= expected.size(); }, 10000);
  EXPECT_EQ(sim.receiver().receivedBytes(), expected) << "the bytes of the button, nothing before or after";
  if (row.obeyed) {
    bool obeyed = false;
    sim.receiver().withModel([&](sim::ReceiverModel& m) { obeyed = row.obeyed(m); });
    EXPECT_TRUE(obeyed) << "the receiver took the setting";
  }
}

const RateIndices kSomeRates = {1, 2, 0, 3, 4, 5, 1, 0};  // GLL RMC VTG GSA GSV GGA ZDA MCHN

// Bytes as the receivers' manuals write them, for the commands no button sends.
CommandSequence Written(const std::string& bytes) { return {{{bytes, 0}}, std::nullopt, {}}; }

INSTANTIATE_TEST_SUITE_P(
    EveryButton, CliSendTest,
    ::testing::Values(
        SendRow{"hot restart", {"hot"}, RestartCommands(RestartKind::Hot), "start-up notice", {}},
        SendRow{"warm restart", {"warm"}, RestartCommands(RestartKind::Warm), "start-up notice", {}},
        SendRow{"cold restart", {"cold"}, RestartCommands(RestartKind::Cold), "start-up notice", {}},
        SendRow{"output rates, every box different",
                {"rates", "1", "2", "0", "3", "4", "5", "1", "0"},
                SetOutputRatesCommands(kSomeRates),
                "output rates GLL 1, RMC 2, VTG 0, GSA 3, GSV 4, GGA 5, ZDA 1, MCHN 0",
                // The receiver's own order: GLL RMC VTG GGA GSA GSV, eleven unused, ZDA MCHN.
                [](sim::ReceiverModel& m) {
                  const sim::OutputRates& r = m.rates();
                  return r[0] == 1 && r[1] == 2 && r[2] == 0 && r[3] == 5 && r[4] == 3 && r[5] == 4 && r[17] == 1 &&
                         r[18] == 0;
                }},
        SendRow{"default output rates",
                {"default-rates"},
                DefaultOutputRatesCommands(),
                "Set Successful!",
                [](sim::ReceiverModel& m) { return m.rates() == sim::kDefaultRates; }},
        SendRow{"output-rate query",
                {"query-rates"},
                OutputRateQueryCommands(),
                "output rates GLL 0, RMC 1, VTG 1, GSA 1, GSV 1, GGA 1, ZDA 0, MCHN 0",
                {}},
        SendRow{"fix rate 1 Hz: with the DGPS queries",
                {"fix-rate", "1"},
                SetFixPeriodCommands(0),
                "fix period 1000 ms",
                [](sim::ReceiverModel& m) { return m.periodMs() == 1000; }},
        SendRow{"fix rate 3 Hz",
                {"fix-rate", "3"},
                SetFixPeriodCommands(2),
                "fix period 333 ms",
                [](sim::ReceiverModel& m) { return m.periodMs() == 333; }},
        SendRow{"fix rate 10 Hz: the DGPS queries left out",
                {"fix-rate", "10"},
                SetFixPeriodCommands(5),
                "fix period 100 ms",
                [](sim::ReceiverModel& m) { return m.periodMs() == 100; }},
        SendRow{"fix-period query", {"query-fix"}, FixPeriodQueryCommands(), "fix period 100 ms", {}},
        SendRow{"maker's fix-rate reset",
                {"fix-reset"},
                FixRateResetCommands(),
                "PZRN818: Set Successful!",
                [](sim::ReceiverModel& m) { return m.periodMs() == 1000; }},
        SendRow{"DGPS none",
                {"dgps", "none"},
                SetDgpsModeCommands(DgpsMode::None),
                "DGPS mode 0",
                [](sim::ReceiverModel& m) { return m.dgpsMode() == 0; }},
        SendRow{"DGPS RTCM",
                {"dgps", "rtcm"},
                SetDgpsModeCommands(DgpsMode::Rtcm),
                "DGPS mode 1",
                [](sim::ReceiverModel& m) { return m.dgpsMode() == 1; }},
        SendRow{"DGPS SBAS",
                {"dgps", "sbas"},
                SetDgpsModeCommands(DgpsMode::Sbas),
                "DGPS mode 2",
                [](sim::ReceiverModel& m) { return m.dgpsMode() == 2; }},
        SendRow{"DGPS query and its companion", {"query-dgps"}, DgpsQueryCommands(), "DGPS mode 0", {}},
        SendRow{"firmware query", {"version"}, VersionQueryCommands(), "firmware AXN_1.30,0000,Kappa-32,1.0", {}},
        SendRow{"EPO state query", {"epo-query"}, EpoStateQueryCommands(), "EPO data: Remained", {}},
        SendRow{"EPO clear, confirmed by the command itself",
                {"epo-clear"},
                EpoClearCommands(),
                "Cleaned EPO Data",
                [](sim::ReceiverModel& m) { return m.epoState().sets == 0; }},
        SendRow{"firmware query with every output off",
                {"version"},
                VersionQueryCommands(),
                "firmware AXN_1.30,0000,Kappa-32,1.0",
                {},
                OutputOff},
        SendRow{"fix-period query with every output off",
                {"query-fix"},
                FixPeriodQueryCommands(),
                "fix period 100 ms",
                {},
                OutputOff},
        SendRow{"raw: the fix interval, acknowledged",
                {"raw", "PMTK220,200"},
                Written("$PMTK220,200*2C\r\n"),
                "PMTK001: command 220 acknowledged with flag 3: Set Successful!",
                [](sim::ReceiverModel& m) { return m.periodMs() == 200; }},
        SendRow{"raw: a setting no button has",
                {"raw", "PMTK330,1"},
                Written("$PMTK330,1*2F\r\n"),
                "command 330 acknowledged with flag 3",
                [](sim::ReceiverModel& m) { return m.datum() == 1; }},
        SendRow{"raw: a query whose reply is named, decoded",
                {"raw", "PMTK414", "--expect", "PMTK514"},
                Written("$PMTK414*33\r\n"),
                "PMTK514: output rates GLL 0, RMC 1, VTG 1, GSA 1, GSV 1, GGA 1, ZDA 0, MCHN 0",
                {}},
        SendRow{"raw: a reply the tool does not decode, shown as it came",
                {"raw", "--expect", "$PMTK530", "PMTK430"},
                Written("$PMTK430*35\r\n"),
                "$PMTK530,0*28\n",
                {},
                OutputOff}));

struct FailureRow {
  const char* legend;
  std::function<void(sim::SimOptions&)> adjust;
  std::vector<std::string> args;  // after "send"; "{dir}" stands for the port map directory,
                                  // "{device}" for the receiver's terminal
  std::string message;            // part of the one line on standard error; "{dir}", "{device}",
                                  // "{holder}" (this test program: name, pid) stand in
  std::function<void(const std::string& dir)> prepare = {};  // the port map before the run
  bool holdPort = false;                                     // this test holds the receiver's port open (and its lock)
  bool runAsNobody = false;  // the tool runs without root (skipped when that cannot be had)
  std::pair<mode_t, const char*> deviceMode = {0, nullptr};  // the terminal's mode and group, when set
  bool commandSent = false;  // the command reaches an unchanged receiver, which refuses it or stays silent
};

std::string Replaced(std::string text, const std::string& what, const std::string& with) {
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + with.size())) {
    text.replace(at, what.size(), with);
  }
  return text;
}

// "torvikel_core_t, pid 4711": how another program of ours sees this one holding a port.
std::string ThisProgramAsHolder() {
  std::ifstream in("/proc/self/comm");
  std::string name;
  std::getline(in, name);
  return name + ", pid " + std::to_string(::getpid());
}

void PrintTo(const FailureRow& row, std::ostream* os) { *os << row.legend; }

class CliSendFailureTest : public ::testing::TestWithParam<FailureRow> {};

TEST_P(CliSendFailureTest, EndsWithOneAndOneLine) {
  const FailureRow& row = GetParam();
  if (row.runAsNobody && !clitest::NobodyCanRunTheTool()) GTEST_SKIP() << "cannot run the tool as another user here";
  SimFixture sim(row.adjust);
  ASSERT_TRUE(sim.started()) << sim.error();
  if (row.prepare) row.prepare(sim.portMapDir());
  if (row.deviceMode.second != nullptr) {
    const struct group* g = ::getgrnam(row.deviceMode.second);
    ASSERT_NE(g, nullptr) << row.deviceMode.second;
    ASSERT_EQ(::chown(sim.receiver().slavePath().c_str(), 0, g->gr_gid), 0);
    ASSERT_EQ(::chmod(sim.receiver().slavePath().c_str(), row.deviceMode.first), 0);
  }
  SerialPort holder;
  if (row.holdPort) {
    ASSERT_TRUE(holder.open(sim.receiver().slavePath())) << holder.lastError();
  }
  const auto fill = [&](std::string text) {
    text = Replaced(text, "{dir}", sim.portMapDir());
    text = Replaced(text, "{device}", sim.receiver().slavePath());
    return Replaced(text, "{holder}", ThisProgramAsHolder());
  };
  std::vector<std::string> args = {"send"};
  for (const std::string& a : row.args) args.push_back(fill(a));
  CliProcess child(args, sim.env(), false, -1, row.runAsNobody);
  const CliResult result = child.finish();
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_TRUE(Contains(result.err, fill(row.message))) << result.err;
  EXPECT_TRUE(OneLine(result.err)) << result.err;
  EXPECT_FALSE(Contains(result.err, "usermod -aG root")) << "the superuser's group is never the remedy";
  if ((row.adjust == nullptr && !row.commandSent) || Contains(result.err, "Baud rate not found.")) {
    // The rows without a receiver fault, and a detection that found nothing, end before
    // anything is sent.
    EXPECT_EQ(sim.receiver().receivedBytes(), "") << "nothing reached the receiver";
  }
}

INSTANTIATE_TEST_SUITE_P(
    Failures, CliSendFailureTest,
    ::testing::Values(
        FailureRow{"no such port",
                   {},
                   {"--port", "Com99", "version"},
                   "Open ComPort failed. There is no port map entry com99 and no serial port number 99 (found: "},
        FailureRow{"no such device path",
                   {},
                   {"--port", "{dir}/no-such-tty", "version"},
                   "Open ComPort failed. {dir}/no-such-tty does not exist"},
        FailureRow{"port map entry pointing nowhere",
                   {},
                   {"--port", "Com5", "version"},
                   "Open ComPort failed. The port map entry {dir}/com5 points to /dev/torvikel-no-such-tty, which "
                   "does not exist.",
                   [](const std::string& dir) { fs::create_symlink("/dev/torvikel-no-such-tty", dir + "/com5"); }},
        FailureRow{"empty port map entry: an error, never the first detected port",
                   {},
                   {"--port", "Com1", "version"},
                   "Open ComPort failed. The port map entry {dir}/com1 is empty",
                   [](const std::string& dir) { std::ofstream(dir + "/com1").flush(); }},
        FailureRow{"port map entry that is a directory",
                   {},
                   {"--port", "Com1", "version"},
                   "Open ComPort failed. The port map entry {dir}/com1 is a directory",
                   [](const std::string& dir) { fs::create_directory(dir + "/com1"); }},
        FailureRow{"port map entry that is a loop",
                   {},
                   {"--port", "Com1", "version"},
                   "Open ComPort failed. The port map entry {dir}/com1 is a loop of symbolic links.",
                   [](const std::string& dir) {
                     fs::create_symlink("com2", dir + "/com1");
                     fs::create_symlink("com1", dir + "/com2");
                   }},
        FailureRow{"port held by another program of ours",
                   {},
                   {"--port", "Com4", "version"},
                   "Open ComPort failed. {device} is in use: held by {holder}.",
                   {},
                   true},
        FailureRow{"no permission: a group that may open it, and the user not in it",
                   {},
                   {"--port", "{device}", "version"},
                   "Open ComPort failed. You may not open {device}: it belongs to the group dialout. Join the group "
                   "with \"sudo usermod -aG dialout $USER\", then log out and in again.",
                   {},
                   false,
                   true,
                   {0660, "dialout"}},
        FailureRow{"no permission: only the owner may open it, so no group to join",
                   {},
                   {"--port", "{device}", "version"},
                   "Open ComPort failed. You may not open {device}: only its owner root may read and write it (mode "
                   "600). Let udev give it to dialout with a line such as SUBSYSTEM==\"tty\", KERNEL==",
                   {},
                   false,
                   true,
                   {0600, "root"}},
        FailureRow{"no permission: the superuser's group is never one to join",
                   {},
                   {"--port", "{device}", "version"},
                   "You may not open {device}: it belongs to the group root, which is not one to join (mode 660). "
                   "Let udev give it to dialout",
                   {},
                   false,
                   true,
                   {0660, "root"}},
        FailureRow{"not a serial device",
                   {},
                   {"--port", "/dev/null", "version"},
                   "Open ComPort failed. /dev/null is not a serial device."},
        FailureRow{"port name in capitals", {}, {"--port", "COM4", "version"}, "Com Port Error!"},
        FailureRow{"speed that is no number", {}, {"--port", "Com4", "--baud", "fast", "version"}, "Error baud rate."},
        FailureRow{"--baud auto on a receiver that sends nothing: every rate tried, nothing written",
                   OutputOff,
                   {"--port", "Com4", "--baud", "auto", "version"},
                   "Baud rate not found. Nothing arrived from Com4 ({device}) at 115200, 9600, 38400, 4800, 19200, "
                   "14400, 57600, 230400, 460800 or 921600 baud: the receiver is silent."},
        FailureRow{"output rates refused (flag 2)",
                   [](sim::SimOptions& o) { o.model.ackFlagFor[314] = 2; },
                   {"--port", "Com4", "rates", "1", "1", "1", "1", "1", "1", "0", "0"},
                   "Set Failed! (acknowledgement flag 2)"},
        FailureRow{"DGPS mode refused (flag 0)",
                   [](sim::SimOptions& o) { o.model.ackFlagFor[301] = 0; },
                   {"--port", "Com4", "dgps", "sbas"},
                   "Set Failed! (acknowledgement flag 0)"},
        FailureRow{"EPO clear unsupported (flag 1)",
                   [](sim::SimOptions& o) { o.model.ackFlagFor[127] = 1; },
                   {"--port", "Com4", "epo-clear"},
                   "Set Failed! (acknowledgement flag 1)"},
        FailureRow{"maker's reply never comes",
                   [](sim::SimOptions& o) { o.model.answerZrn = false; },
                   {"--port", "Com4", "--timeout", "1", "fix-reset"},
                   "no reply from the receiver within 1 s"},
        FailureRow{"raw: a command the receiver does not know",
                   {},
                   {"--port", "Com4", "raw", "PMTK999"},
                   "the receiver refused the command: Set Failed! (acknowledgement flag 1): not supported by this "
                   "receiver",
                   {},
                   false,
                   false,
                   {},
                   true},
        FailureRow{"raw: a query the receiver does not know, its reply named",
                   {},
                   {"--port", "Com4", "raw", "PMTK999", "--expect", "PMTK899"},
                   "Set Failed! (acknowledgement flag 1): not supported by this receiver",
                   {},
                   false,
                   false,
                   {},
                   true},
        FailureRow{"raw: the named reply never comes",
                   {},
                   {"--port", "Com4", "--timeout", "0.5", "raw", "PMTK602", "--expect", "PMTK702"},
                   "no reply from the receiver within 0.5 s",
                   {},
                   false,
                   false,
                   {},
                   true},
        FailureRow{"restart without a start-up notice",
                   [](sim::SimOptions& o) { o.model.startupMessage = false; },
                   {"--port", "Com4", "--timeout", "0.5", "hot"},
                   "no reply from the receiver within 0.5 s"}));

// A receiver at 19200 that the user has not told the rate of: ports --probe names it and
// writes nothing; --baud auto says it on standard error and then talks at it.
TEST(CliSend, ProbeAndAutoFindTheRateAndProbeWritesNothing) {
  SimFixture sim([](sim::SimOptions& o) { o.model.baud = 19200; });
  ASSERT_TRUE(sim.started()) << sim.error();
  const std::string device = sim.receiver().slavePath();
  const CliResult probed = RunCli({"ports", "--probe", SimFixture::kPortText, "Com9"}, sim.env());
  EXPECT_EQ(probed.exitCode, 0) << probed.err;
  EXPECT_TRUE(Contains(probed.out, "Com4    " + device + "  ")) << probed.out;
  EXPECT_TRUE(Contains(probed.out, "  talks at 19200 baud\nCom9    -    There is no port map entry com9"))
      << probed.out;
  EXPECT_EQ(sim.receiver().receivedBytes(), "") << "probing only listens";

  const CliResult sent = RunCli({"send", "--port", SimFixture::kPortText, "--baud", "auto", "version"}, sim.env());
  EXPECT_EQ(sent.exitCode, 0) << sent.err;
  EXPECT_EQ(sent.err, "torvikel-cli: Com4 (" + device + ") talks at 19200 baud\n");
  EXPECT_TRUE(Contains(sent.out, "firmware AXN_1.30")) << sent.out;
}

// A receiver that does not answer at all: a pseudo-terminal nobody speaks on.
TEST(CliSend, SilentReceiverEndsAfterTheTimeout) {
  epotest::TempDir dir;
  const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  ASSERT_EQ(::grantpt(master), 0);
  ASSERT_EQ(::unlockpt(master), 0);
  const std::string slave = ::ptsname(master);
  std::filesystem::create_symlink(slave, dir.file("com6"));

  const CliResult result =
      RunCli({"send", "--port", "Com6", "--timeout", "0.5", "version"}, {{"TORVIKEL_PORT_DIR", dir.path()}});
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, "torvikel-cli: no reply from the receiver within 0.5 s\n");

  // What did reach the line is the query, and only it.
  std::string line;
  char buffer[256];
  ::fcntl(master, F_SETFL, O_NONBLOCK);
  for (ssize_t n; (n = ::read(master, buffer, sizeof buffer)) > 0;) line.append(buffer, static_cast<std::size_t>(n));
  EXPECT_EQ(line, BytesOf(VersionQueryCommands()));
  ::close(master);
}

// A body that would not go out as the one sentence the user wrote is refused in one line, and
// the port is not even opened: the receiver gets nothing.
TEST(CliSend, RawBodiesThatMakeNoSentenceSendNothing) {
  SimFixture sim;
  ASSERT_TRUE(sim.started()) << sim.error();
  const std::vector<std::pair<std::vector<std::string>, std::string>> rows = {
      {{"raw", "$PMTK220,200"}, "raw: character 1 is \"$\""},
      {{"raw", "PMTK220,200*2C"}, "raw: character 12 is \"*\""},
      {{"raw", "PMTK220,200\r\n$PMTK104"}, "raw: character 12 (byte 0x0D) is not printable ASCII"},
      {{"raw", "PMTK\xB0"}, "raw: character 5 (byte 0xB0) is not printable ASCII"},
      {{"raw", "PMTK314," + std::string(69, '1')}, "raw: the command has 77 characters"},
      {{"raw", "PZRN000,MODE"}, "raw: \"PZRN000\" is no PMTK command"},
      {{"raw", "PMTK414", "--expect", "PMTK514*"}, "raw: --expect takes the address of the reply"},
  };
  for (const auto& [words, message] : rows) {
    SCOPED_TRACE(message);
    std::vector<std::string> args = {"send", "--port", SimFixture::kPortText};
    args.insert(args.end(), words.begin(), words.end());
    const CliResult result = RunCli(args, sim.env());
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_EQ(result.out, "");
    EXPECT_TRUE(Contains(result.err, message)) << result.err;
    EXPECT_TRUE(OneLine(result.err)) << result.err;
  }
  EXPECT_EQ(sim.receiver().programOpens(), 0) << "the port was not opened";
  EXPECT_EQ(sim.receiver().receivedBytes(), "");
}

struct UsageRow {
  const char* legend;
  std::vector<std::string> args;
  int exitCode;
  std::string shows;  // part of stdout (exit 0) or of the one line on stderr (exit 2)
};

TEST(CliUsage, HelpForEveryCommandAndUsageErrors) {
  const std::vector<UsageRow> rows = {
      {"main help", {"--help"}, 0, "Usage: torvikel-cli COMMAND"},
      {"help of a command", {"help", "send"}, 0, "Usage: torvikel-cli send"},
      {"ports help", {"ports", "--help"}, 0, "Usage: torvikel-cli ports"},
      {"monitor help", {"monitor", "--help"}, 0, "Usage: torvikel-cli monitor"},
      {"send help", {"send", "--help"}, 0, "Usage: torvikel-cli send"},
      {"send help after a command", {"send", "version", "--help"}, 0, "Usage: torvikel-cli send"},
      {"log help", {"log", "--help"}, 0, "Usage: torvikel-cli log"},
      {"epo-update help", {"epo-update", "--help"}, 0, "Usage: torvikel-cli epo-update"},
      {"no command", {}, 2, "which command?"},
      {"unknown command", {"reboot"}, 2, "unknown command \"reboot\""},
      {"send without a command", {"send"}, 2, "which command?"},
      {"unknown send command", {"send", "warp"}, 2, "unknown command \"warp\""},
      {"seven rates", {"send", "rates", "1", "1", "1", "1", "1", "1", "1"}, 2, "rates takes 8 arguments, not 7"},
      {"rate above 5", {"send", "rates", "1", "1", "1", "1", "6", "1", "1", "1"}, 2, "the rate of GSV must be 0 to 5"},
      {"rate not a number", {"send", "rates", "1", "x", "1", "1", "1", "1", "1", "1"}, 2, "the rate of RMC"},
      {"fix rate not in the list", {"send", "fix-rate", "7"}, 2, "1, 2, 3, 4, 5 or 10"},
      {"unknown DGPS mode", {"send", "dgps", "waas"}, 2, "none, rtcm or sbas"},
      {"raw without a body", {"send", "raw"}, 2, "raw takes 1 argument, not 0"},
      {"a speed no receiver lists", {"send", "baud", "250000"}, 2, "the line speed must be 4800, 9600, 14400"},
      {"a speed that is no number", {"send", "baud", "fast"}, 2, "or 921600 baud, not \"fast\""},
      {"SBAS neither on nor off", {"send", "sbas", "1"}, 2, "sbas takes on or off, not \"1\""},
      {"an SBAS mode no receiver has", {"send", "sbas-mode", "strict"}, 2, "integrity or test"},
      {"static navigation above 2 m/s", {"send", "static-nav", "2.01"}, 2, "must be 0 to 2.0 m/s"},
      {"static navigation in thousandths", {"send", "static-nav", "0.125"}, 2, "at most two decimals"},
      {"static navigation below 0", {"send", "static-nav", "-1"}, 2, "must be 0 to 2.0 m/s"},
      {"a power mode no receiver has", {"send", "power", "hibernate"}, 2, "normal, periodic-backup, periodic-standby"},
      {"perpetual backup, which only a hardware line ends", {"send", "power", "4"}, 2, "the power mode must be"},
      {"a periodic mode without times", {"send", "power", "periodic-standby"}, 2, "needs a run time and a sleep time"},
      {"one time only", {"send", "power", "periodic-standby", "3000"}, 2, "takes a run and a sleep time"},
      {"a run time too short", {"send", "power", "periodic-backup", "500", "12000"}, 2, "the run time must be 1000"},
      {"a time in seconds", {"send", "power", "periodic-backup", "3s", "12000"}, 2, "whole milliseconds"},
      {"times for normal", {"send", "power", "normal", "3000", "12000"}, 2, "normal takes no times"},
      {"too many times", {"send", "power", "periodic-backup", "1", "2", "3", "4", "5"}, 2, "power takes 1 to 5"},
      {"AIC with a number", {"send", "aic", "1"}, 2, "aic takes on or off"},
      {"EASY with yes", {"send", "easy", "yes"}, 2, "easy takes on or off"},
      {"standby with an argument", {"send", "standby", "0"}, 2, "standby takes 0 arguments, not 1"},
      {"a reply named for a button",
       {"send", "--expect", "PMTK514", "query-rates"},
       2,
       "--expect names the reply of raw only"},
      {"--expect without an address", {"send", "--expect", "", "raw", "PMTK414"}, 2, "--expect needs the address"},
      {"argument too many", {"send", "version", "now"}, 2, "version takes 0 arguments, not 1"},
      {"time-out of zero", {"send", "--timeout", "0", "version"}, 2, "--timeout takes seconds"},
      {"time-out not a number", {"send", "--timeout=soon", "version"}, 2, "--timeout takes seconds"},
      {"unknown option", {"monitor", "--colour"}, 2, "unknown option --colour"},
      {"option without its value", {"monitor", "--port"}, 2, "--port needs a value"},
      {"log without a file", {"log"}, 2, "log takes one FILE"},
      {"file and server together", {"epo-update", "--file", "a", "--server", "b"}, 2, "exclude each other"},
      {"malformed server", {"epo-update", "--server", "[::1"}, 2, "--server takes HOST"},
      {"a URL as the server", {"epo-update", "--server", "http://a/b"}, 2, "(a URL goes with --from)"},
      {"a source no download takes", {"epo-update", "--from", "gopher://a/b"}, 2, "--from takes a URL: a URL begins"},
      {"a source and a file", {"epo-update", "--from", "http://a/b", "--file", "x"}, 2, "exclude each other"},
  };
  for (const UsageRow& row : rows) {
    SCOPED_TRACE(row.legend);
    const CliResult result = RunCli(row.args);
    EXPECT_EQ(result.exitCode, row.exitCode);
    if (row.exitCode == 0) {
      EXPECT_EQ(result.out.rfind(row.shows, 0), 0u) << result.out;
      EXPECT_EQ(result.err, "");
    } else {
      EXPECT_TRUE(Contains(result.err, row.shows)) << result.err;
      EXPECT_TRUE(OneLine(result.err)) << result.err;
    }
  }
}

}  // namespace

#endif  // TORVIKEL_CLI_BINARY
