// torvikel-cli send against the simulated receiver for what no button of the window offers:
// the line speed, which really moves the simulator's pseudo-terminal line (a program at the
// old speed then reads garbage, one at the new speed sentences), confirmed by sentences at
// the new speed or taken back when none come, and the named settings with their queries.
#ifdef TORVIKEL_CLI_BINARY

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "tests/core/test_cli_support.h"

namespace {

using clitest::CliResult;
using clitest::RunCli;
using clitest::SimFixture;

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }
bool OneLine(const std::string& text) { return !text.empty() && text.find('\n') == text.size() - 1; }

std::vector<std::string> At(const std::string& baud, std::vector<std::string> words) {
  std::vector<std::string> args = {"send", "--port", SimFixture::kPortText, "--baud", baud};
  args.insert(args.end(), words.begin(), words.end());
  return args;
}

// Whether the receiver answers a query at this speed: the line is really there. A query at a
// wrong speed is garbage to the receiver, which never answers it.
bool AnswersAt(SimFixture& sim, const std::string& baud, const std::string& timeoutSec = "3") {
  const CliResult result = RunCli(At(baud, {"--timeout", timeoutSec, "version"}), sim.env());
  return result.exitCode == 0 && Contains(result.out, "PMTK705: firmware");
}

// One burst a second, as the receivers send: at 9600 baud a burst every 100 ms would fill the
// line and hold a reply back behind the queued output.
void OneBurstASecond(sim::SimOptions& o) { o.model.periodMs = 1000; }

TEST(CliLineSpeed, To9600AndBackConfirmedAtEachSpeed) {
  SimFixture sim(OneBurstASecond);
  ASSERT_TRUE(sim.started()) << sim.error();
  const std::string port = "Com4 (" + sim.receiver().slavePath() + ")";

  const CliResult there = RunCli(At("115200", {"baud", "9600"}), sim.env());
  EXPECT_EQ(there.exitCode, 0) << there.err;
  EXPECT_EQ(there.err, "");
  EXPECT_TRUE(Contains(there.out, "PMTK001: command 251 acknowledged with flag 3")) << there.out;
  EXPECT_TRUE(Contains(there.out, port + " talks at 9600 baud now\n")) << there.out;
  EXPECT_EQ(sim.receiver().baud(), 9600u) << "the simulator's line moved";
  EXPECT_TRUE(AnswersAt(sim, "9600"));
  EXPECT_FALSE(AnswersAt(sim, "115200", "1")) << "at the old speed only garbage comes";
  const CliResult found = RunCli(At("auto", {"version"}), sim.env());
  EXPECT_EQ(found.exitCode, 0) << found.err;
  EXPECT_EQ(found.err, "torvikel-cli: " + port + " talks at 9600 baud\n");

  const CliResult back = RunCli(At("9600", {"baud", "115200"}), sim.env());
  EXPECT_EQ(back.exitCode, 0) << back.err;
  EXPECT_TRUE(Contains(back.out, port + " talks at 115200 baud now\n")) << back.out;
  EXPECT_EQ(sim.receiver().baud(), 115200u);
  EXPECT_TRUE(AnswersAt(sim, "115200"));
  EXPECT_FALSE(AnswersAt(sim, "9600", "1"));
}

// The speeds beyond the window's list, which only a receiver told so talks at: --baud auto
// still finds them. (A burst every 100 ms fits these lines.)
TEST(CliLineSpeed, FasterThanTheWindowsListAndFoundAgain) {
  SimFixture sim;
  ASSERT_TRUE(sim.started()) << sim.error();
  std::string from = "115200";
  for (const std::string speed : {"921600", "57600"}) {
    SCOPED_TRACE(speed);
    const CliResult moved = RunCli(At(from, {"baud", speed}), sim.env());
    EXPECT_EQ(moved.exitCode, 0) << moved.err;
    EXPECT_EQ(std::to_string(sim.receiver().baud()), speed);
    const CliResult found = RunCli(At("auto", {"query-fix"}), sim.env());
    EXPECT_EQ(found.exitCode, 0) << found.err;
    EXPECT_TRUE(Contains(found.err, " talks at " + speed + " baud\n")) << found.err;
    from = speed;
  }
}

struct MoveFailureRow {
  const char* legend;
  std::function<void(sim::SimOptions&)> receiver;
  std::vector<std::string> words;
  std::string message;       // part of the one line on standard error
  std::uint32_t lineAfter;   // the simulator's speed afterwards
  std::string answersAfter;  // the speed the receiver answers at afterwards; empty: none checked
};

void PrintTo(const MoveFailureRow& row, std::ostream* os) { *os << row.legend; }

class CliLineSpeedFailureTest : public ::testing::TestWithParam<MoveFailureRow> {};

TEST_P(CliLineSpeedFailureTest, SaysWhereTheLineIs) {
  const MoveFailureRow& row = GetParam();
  SimFixture sim([&](sim::SimOptions& o) {
    OneBurstASecond(o);
    row.receiver(o);
  });
  ASSERT_TRUE(sim.started()) << sim.error();
  const CliResult result = RunCli(At("115200", row.words), sim.env());
  const std::string port = "Com4 (" + sim.receiver().slavePath() + ")";
  EXPECT_EQ(result.exitCode, 1);
  std::string message = row.message;
  if (const std::size_t at = message.find("{port}"); at != std::string::npos) message.replace(at, 6, port);
  EXPECT_TRUE(Contains(result.err, message)) << result.err;
  EXPECT_TRUE(OneLine(result.err)) << result.err;
  EXPECT_EQ(sim.receiver().baud(), row.lineAfter);
  if (!row.answersAfter.empty()) {
    EXPECT_TRUE(AnswersAt(sim, row.answersAfter));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Endings, CliLineSpeedFailureTest,
    ::testing::Values(
        MoveFailureRow{"refused: the line stays",
                       [](sim::SimOptions& o) { o.model.ackFlagFor[251] = 2; },
                       {"baud", "57600"},
                       "the receiver refused the speed 57600: Set Failed! (acknowledgement flag 2): the receiver could "
                       "not do it; it stays at 115200 baud",
                       115200,
                       "115200"},
        MoveFailureRow{"acknowledged but not moved: the line moves back",
                       [](sim::SimOptions& o) { o.model.keepBaud = true; },
                       {"--timeout", "2", "baud", "9600"},
                       "baud within 2 s (only bytes that made none); back at 115200 baud, where {port} still talks: "
                       "the receiver did not move",
                       115200,
                       "115200"},
        MoveFailureRow{"a silent receiver: moved, but nothing confirms it",
                       [](sim::SimOptions& o) { o.model.rates = {}; },
                       {"--timeout", "0.5", "baud", "9600"},
                       "the receiver acknowledged 9600 baud, but it sends no sentence at 9600 or at 115200 baud to "
                       "confirm it",
                       9600,
                       ""}));

// Each named setting against the simulated receiver: the bytes on the line are the manuals'
// (written out here), the decoded replies are printed, and the receiver holds the setting.
struct SettingRow {
  const char* legend;
  std::vector<std::string> words;  // after "send"
  std::string bytes;               // everything on the line
  std::string printed;             // part of standard output
  std::function<bool(const sim::ReceiverModel&)> obeyed;
  std::function<void(sim::SimOptions&)> receiver = {};
};

void PrintTo(const SettingRow& row, std::ostream* os) { *os << row.legend; }

class CliSettingTest : public ::testing::TestWithParam<SettingRow> {};

TEST_P(CliSettingTest, BytesRepliesAndTheReceiversState) {
  const SettingRow& row = GetParam();
  SimFixture sim(row.receiver);
  ASSERT_TRUE(sim.started()) << sim.error();
  std::vector<std::string> args = {"send", "--port", SimFixture::kPortText};
  args.insert(args.end(), row.words.begin(), row.words.end());
  const CliResult result = RunCli(args, sim.env());
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(result.err, "");
  EXPECT_TRUE(Contains(result.out, row.printed)) << result.out;
  sim.receiver().waitUntil([&] { return sim.receiver().receivedBytes().size() >= row.bytes.size(); }, 10000);
  EXPECT_EQ(sim.receiver().receivedBytes(), row.bytes);
  if (row.obeyed) {
    bool obeyed = false;
    sim.receiver().withModel([&](sim::ReceiverModel& m) { obeyed = row.obeyed(m); });
    EXPECT_TRUE(obeyed) << "the receiver holds the setting";
  }
}

INSTANTIATE_TEST_SUITE_P(
    EverySetting, CliSettingTest,
    ::testing::Values(
        SettingRow{"SBAS off",
                   {"sbas", "off"},
                   "$PMTK313,0*2F\r\n$PMTK413*34\r\n",
                   "PMTK513: SBAS off",
                   [](const sim::ReceiverModel& m) { return !m.settings().sbas; }},
        SettingRow{"SBAS query", {"query-sbas"}, "$PMTK413*34\r\n", "PMTK513: SBAS on", {}},
        SettingRow{"SBAS test mode",
                   {"sbas-mode", "test"},
                   "$PMTK319,0*25\r\n$PMTK419*3E\r\n",
                   "PMTK519: SBAS mode test",
                   [](const sim::ReceiverModel& m) { return m.settings().sbasMode == 0; }},
        SettingRow{"SBAS mode query", {"query-sbas-mode"}, "$PMTK419*3E\r\n", "PMTK519: SBAS mode integrity", {}},
        SettingRow{"static navigation 1.2 m/s",
                   {"static-nav", "1.2"},
                   "$PMTK386,1.2*3E\r\n$PMTK447*35\r\n",
                   "PMTK527: static-navigation threshold 1.20 m/s",
                   [](const sim::ReceiverModel& m) { return m.settings().staticNavCmps == 120; }},
        SettingRow{"static navigation query",
                   {"query-static-nav"},
                   "$PMTK447*35\r\n",
                   "PMTK527: static-navigation threshold 0.00 m/s (off)",
                   {}},
        SettingRow{"periodic standby",
                   {"power", "periodic-standby", "3000", "12000", "18000", "72000"},
                   "$PMTK225,2,3000,12000,18000,72000*15\r\n",
                   "command 225 acknowledged with flag 3",
                   [](const sim::ReceiverModel& m) {
                     const sim::ReceiverSettings& s = m.settings();
                     return s.powerMode == 2 && s.runMs == 3000 && s.sleepMs == 12000 && s.secondRunMs == 18000 &&
                            s.secondSleepMs == 72000;
                   }},
        SettingRow{"AlwaysLocate",
                   {"power", "alwayslocate-standby"},
                   "$PMTK225,8*23\r\n",
                   "command 225 acknowledged with flag 3",
                   [](const sim::ReceiverModel& m) { return m.settings().powerMode == 8; }},
        SettingRow{"standby: the receiver falls silent",
                   {"standby"},
                   "$PMTK161,0*28\r\n",
                   "The receiver is in standby; any byte sent to it wakes it.",
                   [](const sim::ReceiverModel& m) { return m.inStandby(); }},
        SettingRow{"AIC off",
                   {"aic", "off"},
                   "$PMTK286,0*22\r\n",
                   "command 286 acknowledged with flag 3",
                   [](const sim::ReceiverModel& m) { return !m.settings().aic; }},
        SettingRow{"EASY off",
                   {"easy", "off"},
                   "$PMTK869,1,0*34\r\n$PMTK869,0*29\r\n",
                   "PMTK869: EASY off, 3 days predicted",
                   [](const sim::ReceiverModel& m) { return !m.settings().easy; }},
        SettingRow{"EASY query", {"query-easy"}, "$PMTK869,0*29\r\n", "PMTK869: EASY on, 3 days predicted", {}}));

struct UnsupportedRow {
  const char* legend;
  std::vector<std::string> words;
  int lacking;
};

// A receiver without the command answers "unsupported": one line that says so, exit 1.
TEST(CliSetting, AReceiverWithoutItSaysUnsupported) {
  const std::vector<UnsupportedRow> rows = {
      {"static navigation on a chip that takes PMTK397 instead", {"static-nav", "0.4"}, 386},
      {"its query", {"query-static-nav"}, 447},
      {"EASY on a chip without it", {"easy", "on"}, 869},
      {"EASY's query", {"query-easy"}, 869},
      {"AIC", {"aic", "on"}, 286},
      {"the power modes", {"power", "normal"}, 225},
      {"SBAS mode", {"sbas-mode", "integrity"}, 319},
  };
  for (const UnsupportedRow& row : rows) {
    SCOPED_TRACE(row.legend);
    SimFixture sim([&](sim::SimOptions& o) { o.model.lacking = {row.lacking}; });
    ASSERT_TRUE(sim.started()) << sim.error();
    std::vector<std::string> args = {"send", "--port", SimFixture::kPortText, "--timeout", "2"};
    args.insert(args.end(), row.words.begin(), row.words.end());
    const CliResult result = RunCli(args, sim.env());
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.err,
              "torvikel-cli: the receiver refused the command: Set Failed! (acknowledgement flag 1): not "
              "supported by this receiver\n");
  }
}

}  // namespace

#endif  // TORVIKEL_CLI_BINARY
