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

}  // namespace

#endif  // TORVIKEL_CLI_BINARY
