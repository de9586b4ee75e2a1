// Commands beyond the buttons: any command the user writes (raw) framed exactly as the
// receivers' manuals write it, every body that would not make one sentence refused with the
// character that breaks it, and the replies that answer each command told apart from those
// that do not, decoded from real sentences by the session.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "commands/nmea_session.h"
#include "commands/pmtk_replies.h"
#include "commands/receiver_settings.h"
#include "tests/support/frames.h"

namespace {

using testsupport::NmeaFramed;

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

struct RawRow {
  const char* legend;
  std::string body;
  std::string expect;
  std::string bytes;    // on the line; empty: refused
  std::string problem;  // part of the refusal
};

TEST(CommandsSettings, RawBodiesFramedOrRefused) {
  const std::string longest(76, 'A');
  const std::vector<RawRow> rows = {
      {"fix interval, as the manuals write it", "PMTK220,200", "", "$PMTK220,200*2C\r\n", ""},
      {"a query with its reply named", "PMTK414", "PMTK514", "$PMTK414*33\r\n", ""},
      {"the reply named with its dollar", "PMTK605", "$PMTK705", "$PMTK605*31\r\n", ""},
      {"SBAS on", "PMTK313,1", "", "$PMTK313,1*2E\r\n", ""},
      {"the maker's command, its reply named", "PZRN000,MODE", "PZRN001", "$PZRN000,MODE*09\r\n", ""},
      {"76 characters: the most a sentence holds", "PMTK" + longest.substr(4), "PMTK001",
       NmeaFramed("PMTK" + longest.substr(4)), ""},
      {"77 characters", "PMTK" + longest.substr(3), "PMTK001", "", "has 77 characters; a sentence holds at most 76"},
      {"empty", "", "", "", "the command is empty"},
      {"with the frame's dollar", "$PMTK220,200", "", "", "character 1 is \"$\""},
      {"with a checksum", "PMTK220,200*2C", "", "", "character 12 is \"*\""},
      {"a second sentence inside", "PMTK220,200$PMTK101", "", "", "character 12 is \"$\""},
      {"a line end inside", "PMTK220,200\r\n", "", "", "character 12 (byte 0x0D) is not printable ASCII"},
      {"a control byte", std::string("PMTK220,2\x01") + "0", "", "", "character 10 (byte 0x01) is not printable"},
      {"a Latin-1 letter", "PMTK220,\xE9", "", "", "character 9 (byte 0xE9) is not printable ASCII"},
      {"DEL", "PMTK220\x7F", "", "", "character 8 (byte 0x7F)"},
      {"no PMTK number and no reply named", "PZRN000,MODE", "", "", "\"PZRN000\" is no PMTK command"},
      {"PMTK without a number", "PMTK,1", "", "", "\"PMTK\" is no PMTK command"},
      {"a reply named with a comma", "PMTK414", "PMTK514,1", "", "--expect takes the address of the reply"},
      {"a reply named only by its dollar", "PMTK414", "$", "", "--expect takes the address"},
  };
  for (const RawRow& row : rows) {
    SCOPED_TRACE(row.legend);
    std::string problem;
    const std::optional<CommandSequence> sequence = RawCommands(row.body, row.expect, &problem);
    if (row.bytes.empty()) {
      EXPECT_FALSE(sequence.has_value());
      EXPECT_TRUE(Contains(problem, row.problem)) << problem;
      continue;
    }
    ASSERT_TRUE(sequence.has_value()) << problem;
    ASSERT_EQ(sequence->steps.size(), 1u);
    EXPECT_EQ(sequence->steps[0].bytes, row.bytes);
    EXPECT_EQ(sequence->steps[0].pauseAfterMs, 0);
    EXPECT_TRUE(sequence->acceptedBy.has_value());
  }
}

struct AnswerRow {
  const char* legend;
  std::string body;
  std::string expect;
  std::string sentenceBody;  // what the receiver sends, framed here
  bool matched;
  bool accepted;
};

TEST(CommandsSettings, WhichRepliesAnswerARawCommand) {
  const std::vector<AnswerRow> rows = {
      {"its acknowledgement, accepted", "PMTK220,200", "", "PMTK001,220,3", true, true},
      {"its acknowledgement, unsupported", "PMTK220,200", "", "PMTK001,220,1", true, false},
      {"its acknowledgement, invalid", "PMTK220,200", "", "PMTK001,220,0", true, false},
      {"another command's acknowledgement", "PMTK220,200", "", "PMTK001,300,3", false, false},
      {"a reply that is no acknowledgement", "PMTK220,200", "", "PMTK500,200,0,0,0,0", false, false},
      {"the named reply, decoded", "PMTK414", "PMTK514", "PMTK514,0,1,0,1,1,1,0,0,0,0,0,0,0,0,0,0,0,0,0", true, true},
      {"the named reply, not decoded", "PMTK430", "PMTK530", "PMTK530,0", true, true},
      {"the named reply, written with its dollar", "PMTK430", "$PMTK530", "PMTK530,0", true, true},
      {"the query refused: no reply will come", "PMTK414", "PMTK514", "PMTK001,414,1", true, false},
      {"the query acknowledged: the reply is still to come", "PMTK414", "PMTK514", "PMTK001,414,3", false, false},
      {"another sentence", "PMTK414", "PMTK514", "GPGGA,,,,,,0,00,,,M,,M,,", false, false},
      {"the maker's reply", "PZRN000,MODE", "PZRN001", "PZRN001,MODE,0", true, true},
  };
  for (const AnswerRow& row : rows) {
    SCOPED_TRACE(row.legend);
    std::string problem;
    const std::optional<CommandSequence> sequence = RawCommands(row.body, row.expect, &problem);
    ASSERT_TRUE(sequence.has_value()) << problem;
    NmeaSession session;
    const SentenceOutcome outcome = session.handle(NmeaFramed(row.sentenceBody));
    ASSERT_TRUE(outcome.valid);
    const ReplyMatch match = MatchSentence(*sequence->acceptedBy, outcome.address, outcome.reply);
    EXPECT_EQ(match.matched, row.matched);
    EXPECT_EQ(match.accepted, row.accepted);
  }
}

// Each named setting: its bytes as the receivers' manuals print them (the examples of the
// Quectel L80, Linx RXM-GPS-FM, Fastrax IT500 and LOCOSYS documents), the acknowledgement that
// accepts it, a refusal, and the query's reply that follows.
struct SettingRow {
  const char* legend;
  CommandSequence sequence;
  std::string bytes;
  std::string accepting;  // body of the reply that accepts it
  std::string refusing;   // ... that refuses it
  std::string following;  // the reply of its query; empty: no query follows
};

TEST(CommandsSettings, NamedSettingsBytesAndReplies) {
  const std::vector<SettingRow> rows = {
      {"SBAS on", SbasCommands(true), "$PMTK313,1*2E\r\n$PMTK413*34\r\n", "PMTK001,313,3", "PMTK001,313,1",
       "PMTK513,1"},
      {"SBAS off", SbasCommands(false), "$PMTK313,0*2F\r\n$PMTK413*34\r\n", "PMTK001,313,3", "PMTK001,313,2",
       "PMTK513,0"},
      {"SBAS query", SbasQueryCommands(), "$PMTK413*34\r\n", "PMTK513,1", "PMTK001,413,1", ""},
      {"SBAS integrity mode", SbasModeCommands(SbasMode::Integrity), "$PMTK319,1*24\r\n$PMTK419*3E\r\n",
       "PMTK001,319,3", "PMTK001,319,1", "PMTK519,1"},
      {"SBAS test mode", SbasModeCommands(SbasMode::Test), "$PMTK319,0*25\r\n$PMTK419*3E\r\n", "PMTK001,319,3",
       "PMTK001,319,0", "PMTK519,0"},
      {"SBAS mode query", SbasModeQueryCommands(), "$PMTK419*3E\r\n", "PMTK519,1", "PMTK001,419,1", ""},
      {"static navigation 1.2 m/s", StaticNavCommands(120), "$PMTK386,1.2*3E\r\n$PMTK447*35\r\n", "PMTK001,386,3",
       "PMTK001,386,1", "PMTK527,1.20"},
      {"static navigation off", StaticNavCommands(0), "$PMTK386,0.0*3D\r\n$PMTK447*35\r\n", "PMTK001,386,3",
       "PMTK001,386,2", "PMTK527,0.00"},
      {"static navigation in hundredths", StaticNavCommands(125), "$PMTK386,1.25*0B\r\n$PMTK447*35\r\n",
       "PMTK001,386,3", "PMTK001,386,1", "PMTK527,1.25"},
      {"static navigation query", StaticNavQueryCommands(), "$PMTK447*35\r\n", "PMTK527,1.20", "PMTK001,447,1", ""},
      {"periodic standby with the second pair",
       PowerModeCommands(PowerMode::PeriodicStandby, PeriodicTimes{3000, 12000, 18000, 72000}),
       "$PMTK225,2,3000,12000,18000,72000*15\r\n", "PMTK001,225,3", "PMTK001,225,2", ""},
      {"periodic standby without it", PowerModeCommands(PowerMode::PeriodicStandby, PeriodicTimes{3000, 12000, 0, 0}),
       "$PMTK225,2,3000,12000,0,0*19\r\n", "PMTK001,225,3", "PMTK001,225,1", ""},
      {"periodic backup at the bounds",
       PowerModeCommands(PowerMode::PeriodicBackup, PeriodicTimes{1000, 518400000, 0, 0}),
       "$PMTK225,1,1000,518400000,0,0*13\r\n", "PMTK001,225,3", "PMTK001,225,1", ""},
      {"back to normal", PowerModeCommands(PowerMode::Normal, std::nullopt), "$PMTK225,0*2B\r\n", "PMTK001,225,3",
       "PMTK001,225,1", ""},
      {"AlwaysLocate standby", PowerModeCommands(PowerMode::AlwaysLocateStandby, std::nullopt), "$PMTK225,8*23\r\n",
       "PMTK001,225,3", "PMTK001,225,1", ""},
      {"AlwaysLocate backup", PowerModeCommands(PowerMode::AlwaysLocateBackup, std::nullopt), "$PMTK225,9*22\r\n",
       "PMTK001,225,3", "PMTK001,225,1", ""},
      {"standby", StandbyCommands(), "$PMTK161,0*28\r\n", "PMTK001,161,3", "PMTK001,161,1", ""},
      {"AIC on", AicCommands(true), "$PMTK286,1*23\r\n", "PMTK001,286,3", "PMTK001,286,1", ""},
      {"AIC off", AicCommands(false), "$PMTK286,0*22\r\n", "PMTK001,286,3", "PMTK001,286,1", ""},
      {"EASY on", EasyCommands(true), "$PMTK869,1,1*35\r\n$PMTK869,0*29\r\n", "PMTK001,869,3", "PMTK001,869,1",
       "PMTK869,2,1"},
      {"EASY off", EasyCommands(false), "$PMTK869,1,0*34\r\n$PMTK869,0*29\r\n", "PMTK001,869,3", "PMTK001,869,1",
       "PMTK869,2,0,3"},
      {"EASY query", EasyQueryCommands(), "$PMTK869,0*29\r\n", "PMTK869,2,1,3", "PMTK001,869,1", ""},
      {"line speed", BaudRateCommands(9600), "$PMTK251,9600*17\r\n", "PMTK001,251,3", "PMTK001,251,2", ""},
  };
  for (const SettingRow& row : rows) {
    SCOPED_TRACE(row.legend);
    std::string bytes;
    for (const CommandStep& step : row.sequence.steps) bytes += step.bytes;
    EXPECT_EQ(bytes, row.bytes);
    ASSERT_TRUE(row.sequence.acceptedBy.has_value());
    NmeaSession session;
    const auto matchOf = [&](const ExpectedReply& expected, const std::string& body) {
      const SentenceOutcome outcome = session.handle(NmeaFramed(body));
      return MatchSentence(expected, outcome.address, outcome.reply);
    };
    const ReplyMatch accepting = matchOf(*row.sequence.acceptedBy, row.accepting);
    EXPECT_TRUE(accepting.matched && accepting.accepted);
    const ReplyMatch refusing = matchOf(*row.sequence.acceptedBy, row.refusing);
    EXPECT_TRUE(refusing.matched && !refusing.accepted);
    EXPECT_FALSE(matchOf(*row.sequence.acceptedBy, "PMTK001,999,3").matched) << "another command's acknowledgement";
    if (row.following.empty()) {
      EXPECT_TRUE(row.sequence.followUps.empty());
      continue;
    }
    ASSERT_EQ(row.sequence.followUps.size(), 1u);
    EXPECT_TRUE(matchOf(row.sequence.followUps[0], row.following).matched);
    EXPECT_FALSE(matchOf(row.sequence.followUps[0], row.accepting).matched)
        << "the setting's acknowledgement is not the query's reply";
    // The setting's pause before its query, as the buttons pause.
    EXPECT_EQ(row.sequence.steps[0].pauseAfterMs, 5);
  }
}

TEST(CommandsSettings, RepliesOfTheSettingsDecoded) {
  NmeaSession session;
  const auto decoded = [&](const std::string& body) { return session.handle(NmeaFramed(body)).reply; };
  const auto sbas = decoded("PMTK513,1");
  ASSERT_TRUE(sbas && std::holds_alternative<PmtkSbasEnabled>(*sbas));
  EXPECT_EQ(std::get<PmtkSbasEnabled>(*sbas).enabled, 1);
  const auto mode = decoded("PMTK519,0");
  ASSERT_TRUE(mode && std::holds_alternative<PmtkSbasMode>(*mode));
  EXPECT_EQ(std::get<PmtkSbasMode>(*mode).mode, 0);
  struct Threshold {
    std::string field;
    long centimetres;
  };
  for (const Threshold& t : std::vector<Threshold>{
           {"1.20", 120}, {"0.4", 40}, {"2", 200}, {"0.00", 0}, {"x", -1}, {"", -1}, {"1.", -1}, {"1.234", -1}}) {
    SCOPED_TRACE(t.field);
    const auto nav = decoded("PMTK527," + t.field);
    ASSERT_TRUE(nav && std::holds_alternative<PmtkStaticNav>(*nav));
    EXPECT_EQ(std::get<PmtkStaticNav>(*nav).thresholdText, t.field);
    EXPECT_EQ(std::get<PmtkStaticNav>(*nav).thresholdCentimetresPs, t.centimetres);
  }
  const auto easy = decoded("PMTK869,2,1,3");
  ASSERT_TRUE(easy && std::holds_alternative<PmtkEasy>(*easy));
  EXPECT_EQ(std::get<PmtkEasy>(*easy).enabled, 1);
  EXPECT_EQ(std::get<PmtkEasy>(*easy).days, 3);
  const auto olderEasy = decoded("PMTK869,2,0");
  ASSERT_TRUE(olderEasy && std::holds_alternative<PmtkEasy>(*olderEasy));
  EXPECT_EQ(std::get<PmtkEasy>(*olderEasy).days, -1) << "older firmware sends no days";
  EXPECT_FALSE(decoded("PMTK869,1,1").has_value()) << "the setting itself is no reply";
}

struct PeriodRow {
  const char* legend;
  PowerMode mode;
  std::optional<PeriodicTimes> times;
  std::string problem;  // empty: fine
};

TEST(CommandsSettings, PowerModeTimesBounded) {
  const std::vector<PeriodRow> rows = {
      {"periodic standby, one pair", PowerMode::PeriodicStandby, PeriodicTimes{3000, 12000, 0, 0}, ""},
      {"both pairs", PowerMode::PeriodicBackup, PeriodicTimes{3000, 12000, 18000, 72000}, ""},
      {"the shortest run", PowerMode::PeriodicStandby, PeriodicTimes{1000, 1000, 0, 0}, ""},
      {"run too short", PowerMode::PeriodicStandby, PeriodicTimes{999, 12000, 0, 0}, "the run time must be 1000"},
      {"sleep beyond six days", PowerMode::PeriodicStandby, PeriodicTimes{3000, 518400001, 0, 0},
       "the sleep time must be 1000 to 518400000 ms"},
      {"half a second pair", PowerMode::PeriodicStandby, PeriodicTimes{3000, 12000, 18000, 0},
       "the second run and sleep times must both be 0"},
      {"second run not longer", PowerMode::PeriodicStandby, PeriodicTimes{3000, 12000, 3000, 72000},
       "the second run time must be longer than the first"},
      {"periodic without times", PowerMode::PeriodicBackup, std::nullopt, "needs a run time and a sleep time"},
      {"normal with times", PowerMode::Normal, PeriodicTimes{3000, 12000, 0, 0}, "normal takes no times"},
      {"AlwaysLocate without times", PowerMode::AlwaysLocateBackup, std::nullopt, ""},
  };
  for (const PeriodRow& row : rows) {
    SCOPED_TRACE(row.legend);
    const std::optional<std::string> problem = PeriodicTimesProblem(row.mode, row.times);
    if (row.problem.empty()) {
      EXPECT_FALSE(problem.has_value()) << *problem;
    } else {
      ASSERT_TRUE(problem.has_value());
      EXPECT_TRUE(Contains(*problem, row.problem)) << *problem;
    }
  }
}

}  // namespace
