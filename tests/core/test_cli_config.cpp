// torvikel-cli config against simulated receivers: a file saved from one receiver and applied
// to another that started with other settings leaves the second answering every query as
// the first did; the file is what the receiver answered, one setting a line; a refusal in the
// middle stops there and says which line; a malformed line is named before anything is sent,
// and --dry-run shows the bytes without opening the port.
#ifdef TORVIKEL_CLI_BINARY

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "tests/core/test_cli_support.h"
#include "tests/support/files.h"

namespace {

using clitest::CliResult;
using clitest::RunCli;
using clitest::SimFixture;
using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }
bool OneLine(const std::string& text) { return !text.empty() && text.find('\n') == text.size() - 1; }

std::vector<std::string> Config(std::vector<std::string> words) {
  std::vector<std::string> args = {"config", "--port", SimFixture::kPortText};
  args.insert(args.end(), words.begin(), words.end());
  return args;
}

// The lines of a file that are settings: neither comments nor blank.
std::vector<std::string> SettingLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line[0] != '#') lines.push_back(line);
  }
  return lines;
}

// A receiver set up otherwise than the simulator starts, in everything the file holds.
void OtherSettings(sim::SimOptions& o) {
  o.model.rates = {1, 0, 2, 1, 1, 3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0};  // GLL RMC VTG GGA GSA GSV .. ZDA MCHN
  o.model.periodMs = 500;
  sim::ReceiverSettings& s = o.model.settings;
  s.sbas = false;
  s.sbasMode = 0;
  s.staticNavCmps = 40;
  s.easy = false;
}

struct Answers {
  sim::OutputRates rates{};
  int periodMs = 0;
  int dgpsMode = 0;
  sim::ReceiverSettings settings;
};
Answers AnswersOf(SimFixture& sim) {
  Answers a;
  sim.receiver().withModel([&](sim::ReceiverModel& m) {
    a.rates = m.rates();
    a.periodMs = m.periodMs();
    a.dgpsMode = m.dgpsMode();
    a.settings = m.settings();
  });
  return a;
}

TEST(CliConfig, SavedFromOneAppliedToAnotherAnswersTheSame) {
  TempDir dir;
  const std::string saved = dir.file("receiver.conf");
  SimFixture first([](sim::SimOptions& o) {
    OtherSettings(o);
    o.model.firmware = "AXN_2.10_3339_2012072601,5223,PA6H,1.0";
  });
  ASSERT_TRUE(first.started()) << first.error();
  first.receiver().withModel([](sim::ReceiverModel& m) { m.receive("$PMTK301,2*2E\r\n", 0); });  // DGPS from SBAS
  const CliResult save = RunCli(Config({"save", saved}), first.env());
  ASSERT_EQ(save.exitCode, 0) << save.err;
  EXPECT_EQ(save.out, "Written to " + saved + ": 7 settings\n");
  const std::string text = ReadFile(saved);
  EXPECT_TRUE(Contains(text, "\n# firmware AXN_2.10_3339_2012072601,5223,PA6H,1.0\n")) << text;
  EXPECT_EQ(SettingLines(text), (std::vector<std::string>{"rates 1 0 2 1 3 1 1 0", "fix-rate 2", "sbas off",
                                                          "sbas-mode test", "dgps sbas", "static-nav 0.4", "easy off"}))
      << text;

  SimFixture second;
  ASSERT_TRUE(second.started()) << second.error();
  const CliResult apply = RunCli(Config({"apply", saved}), second.env());
  ASSERT_EQ(apply.exitCode, 0) << apply.err;
  EXPECT_TRUE(Contains(apply.out, "line 13: easy off: accepted\n7 settings applied.\n")) << apply.out;
  const Answers a = AnswersOf(first);
  const Answers b = AnswersOf(second);
  EXPECT_EQ(b.rates, a.rates);
  EXPECT_EQ(b.periodMs, 500);
  EXPECT_EQ(b.dgpsMode, a.dgpsMode);
  EXPECT_EQ(b.settings.sbas, a.settings.sbas);
  EXPECT_EQ(b.settings.sbasMode, a.settings.sbasMode);
  EXPECT_EQ(b.settings.staticNavCmps, a.settings.staticNavCmps);
  EXPECT_EQ(b.settings.easy, a.settings.easy);

  // Asked again, the second receiver answers every query as the first did.
  const std::string again = dir.file("again.conf");
  const CliResult saveAgain = RunCli(Config({"save", again}), second.env());
  ASSERT_EQ(saveAgain.exitCode, 0) << saveAgain.err;
  EXPECT_EQ(SettingLines(ReadFile(again)), SettingLines(text));
}

TEST(CliConfig, WhatTheReceiverLacksIsACommentAndApplyStopsAtARefusal) {
  TempDir dir;
  const std::string saved = dir.file("older.conf");
  SimFixture older([](sim::SimOptions& o) { o.model.lacking = {386, 447, 869}; });
  ASSERT_TRUE(older.started()) << older.error();
  const CliResult save = RunCli(Config({"save", saved}), older.env());
  ASSERT_EQ(save.exitCode, 0) << save.err;
  EXPECT_EQ(save.out, "Written to " + saved + ": 5 settings, 2 not saved (see its comments)\n");
  const std::string text = ReadFile(saved);
  EXPECT_TRUE(Contains(text, "\n# static-nav: not saved, not supported by this receiver\n")) << text;
  EXPECT_TRUE(Contains(text, "\n# easy: not saved, not supported by this receiver\n")) << text;

  // A file for a newer receiver, onto this one: the line it lacks is refused, the ones after
  // it are not sent.
  const std::string newer = dir.file("newer.conf");
  WriteFile(newer, "# by hand\nsbas off\n\nstatic-nav 1.2   # hold below 1.2 m/s\ndgps sbas\n");
  older.receiver().clearLogs();
  const CliResult apply = RunCli(Config({"apply", newer}), older.env());
  EXPECT_EQ(apply.exitCode, 1);
  EXPECT_EQ(apply.err, "torvikel-cli: " + newer +
                           " line 4 (static-nav 1.2): the receiver refused it: Set Failed! (acknowledgement flag 1): "
                           "not supported by this receiver; the lines before it applied, the rest not sent\n");
  EXPECT_TRUE(Contains(apply.out, "line 2: sbas off: accepted\n")) << apply.out;
  // Line 4 is its setting and, 5 ms later, its query; line 5 never goes out.
  EXPECT_EQ(older.receiver().receivedBytes(), "$PMTK313,0*2F\r\n$PMTK413*34\r\n$PMTK386,1.2*3E\r\n$PMTK447*35\r\n");
}

struct MalformedRow {
  const char* legend;
  std::string file;
  std::string message;  // after "torvikel-cli: FILE"
};

TEST(CliConfig, AMalformedLineIsNamedBeforeAnythingIsSent) {
  const std::vector<MalformedRow> rows = {
      {"unknown setting", "sbas on\nsbas-moed test\n", " line 2 (sbas-moed test): unknown command \"sbas-moed\""},
      {"a bound broken", "# x\n\nstatic-nav 3\n", " line 3 (static-nav 3): the static-navigation threshold must be"},
      {"an argument missing", "rates 0 1 1 1 1 1 0\n", " line 1 (rates 0 1 1 1 1 1 0): rates takes 8 arguments, not 7"},
      {"a command that is no setting", "sbas on\nhot\n", " line 2 (hot): \"hot\" is no setting a file may hold"},
      {"the line speed is none either", "baud 9600\n", " line 1 (baud 9600): \"baud\" is no setting"},
      {"a raw body that makes no sentence", "raw PMTK220,200*2C\n", " line 1 (raw PMTK220,200*2C): raw: character 12"},
      {"only comments", "# nothing\n\n", " holds no setting; nothing sent"},
  };
  SimFixture sim;
  ASSERT_TRUE(sim.started()) << sim.error();
  TempDir dir;
  for (const MalformedRow& row : rows) {
    SCOPED_TRACE(row.legend);
    const std::string path = dir.file("bad.conf");
    WriteFile(path, row.file);
    const CliResult result = RunCli(Config({"apply", path}), sim.env());
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_TRUE(Contains(result.err, "torvikel-cli: " + path + row.message)) << result.err;
    EXPECT_TRUE(OneLine(result.err)) << result.err;
  }
  const CliResult missing = RunCli(Config({"apply", dir.file("none.conf")}), sim.env());
  EXPECT_EQ(missing.exitCode, 1);
  EXPECT_EQ(missing.err, "torvikel-cli: cannot read " + dir.file("none.conf") + " (No such file or directory)\n");
  EXPECT_EQ(sim.receiver().programOpens(), 0) << "the port was not opened";
  EXPECT_EQ(sim.receiver().receivedBytes(), "");
}

TEST(CliConfig, DryRunShowsTheBytesAndOpensNothing) {
  SimFixture sim;
  ASSERT_TRUE(sim.started()) << sim.error();
  TempDir dir;
  const std::string path = dir.file("dry.conf");
  WriteFile(path, "dgps none\r\nsbas on\r\n");
  const CliResult result = RunCli(Config({"apply", "--dry-run", path}), sim.env());
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(result.err, "");
  // The DGPS button's 13-byte query, the SBAS query after its 5 ms.
  EXPECT_EQ(result.out,
            "line 1: dgps none\n"
            "  $PMTK301,0*2C\\r\\n\n"
            "  (5 ms)\n"
            "  $PMTK401*37\\r\\n\n"
            "line 2: sbas on\n"
            "  $PMTK313,1*2E\\r\\n\n"
            "  (5 ms)\n"
            "  $PMTK413*34\\r\\n\n");
  EXPECT_EQ(sim.receiver().programOpens(), 0);
}

TEST(CliConfig, UsageErrors) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> rows = {
      {{"config"}, "save FILE or apply FILE?"},
      {{"config", "load", "x"}, "unknown subcommand \"load\""},
      {{"config", "save"}, "save takes one FILE"},
      {{"config", "apply", "a", "b"}, "apply takes one FILE"},
      {{"config", "save", "--dry-run", "x"}, "--dry-run goes with apply only"},
      {{"config", "--timeout", "0", "save", "x"}, "--timeout takes seconds above 0"},
  };
  for (const auto& [args, message] : rows) {
    SCOPED_TRACE(message);
    const CliResult result = RunCli(args);
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_TRUE(Contains(result.err, message)) << result.err;
    EXPECT_TRUE(OneLine(result.err)) << result.err;
  }
  const CliResult help = RunCli({"config", "--help"});
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_EQ(help.out.rfind("Usage: torvikel-cli config", 0), 0u);
}

}  // namespace

#endif  // TORVIKEL_CLI_BINARY
