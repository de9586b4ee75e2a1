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

}  // namespace
