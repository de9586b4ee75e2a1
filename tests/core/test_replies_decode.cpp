// Reading PMTK replies: the reply number of the address, fields as atol reads them (the
// reader itself: test_number_text.cpp), and the decoded values of each handled reply;
// everything else is ignored.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <variant>

#include "commands/pmtk_replies.h"

namespace {

// A reply's fields as the split makes them: address first, then each comma-separated value.
// The text is kept alive next to the views.
struct ReplyFields {
  explicit ReplyFields(std::string body) : text(std::make_unique<std::string>(std::move(body))) {
    std::string_view rest(*text);
    while (true) {
      const std::size_t comma = rest.find(',');
      fields.push(rest.substr(0, comma));
      if (comma == std::string_view::npos) break;
      rest.remove_prefix(comma + 1);
    }
  }
  std::unique_ptr<std::string> text;
  SentenceFields fields;
};

TEST(RepliesDecode, ReplyNumberOfAddress) {
  struct Row {
    const char* legend;
    const char* address;
    std::optional<long> expected;
  };
  const Row rows[] = {
      {"acknowledgement", "PMTK001", 1},         {"fix period reply", "PMTK500", 500},
      {"boot message", "PMTK010", 10},           {"channel status has no digits", "PMTKCHN", std::nullopt},
      {"prefix alone", "PMTK", std::nullopt},    {"empty", "", std::nullopt},
      {"other talker", "GPGGA", std::nullopt},   {"prefix must start the field", "XPMTK001", std::nullopt},
      {"case matters", "pmtk001", std::nullopt}, {"blanks before the number are skipped", "PMTK 514", 514},
      {"signed number", "PMTK-1", -1},           {"digits then letters", "PMTK705X", 705},
      {"leading zero", "PMTK0500", 500},
  };
  for (const Row& row : rows) EXPECT_EQ(PmtkReplyNumber(row.address), row.expected) << row.legend;
}

TEST(RepliesDecode, IgnoredReplies) {
  const char* const ignored[] = {
      "PMTK010,001",  // start-up notice of a real receiver
      "PMTK702,1",
      "PMTK011,MTKGPS",
      "PMTKCHN,14001,29001",
      "PMTK",
      "",
      "PMTK99999999999999999999999,3",  // saturates; no such reply
  };
  for (const char* text : ignored) {
    const ReplyFields reply(text);
    EXPECT_FALSE(DecodePmtkReply(reply.fields).has_value()) << text;
  }
}

TEST(RepliesDecode, Acknowledgements) {
  struct Row {
    const char* legend;
    const char* text;
    long command;
    long flag;
  };
  const Row rows[] = {
      {"accepted rate change", "PMTK001,314,3", 314, 3}, {"failed", "PMTK001,314,2", 314, 2},
      {"unsupported", "PMTK001,253,1", 253, 1},          {"invalid", "PMTK001,101,0", 101, 0},
      {"flag missing", "PMTK001,314", 314, 0},           {"nothing after the address", "PMTK001", 0, 0},
      {"flag not a number", "PMTK001,314,x", 314, 0},    {"blank before the flag", "PMTK001,314, 3", 314, 3},
  };
  for (const Row& row : rows) {
    const ReplyFields reply(row.text);
    const std::optional<ReceiverReply> decoded = DecodePmtkReply(reply.fields);
    ASSERT_TRUE(decoded.has_value()) << row.legend;
    const PmtkAck* ack = std::get_if<PmtkAck>(&*decoded);
    ASSERT_NE(ack, nullptr) << row.legend;
    EXPECT_EQ(ack->command, row.command) << row.legend;
    EXPECT_EQ(ack->flag, row.flag) << row.legend;
    EXPECT_EQ(ReplyKindName(*decoded), "ack") << row.legend;
  }
}

TEST(RepliesDecode, SettingReplies) {
  {
    const ReplyFields reply("PMTK500,333,0,0,0,0");
    const auto decoded = DecodePmtkReply(reply.fields);
    ASSERT_TRUE(decoded && std::holds_alternative<PmtkFixPeriod>(*decoded));
    EXPECT_EQ(std::get<PmtkFixPeriod>(*decoded).fixPeriodMs, 333);
    EXPECT_EQ(ReplyKindName(*decoded), "fixPeriod");
  }
  {
    const ReplyFields reply("PMTK501,2");
    const auto decoded = DecodePmtkReply(reply.fields);
    ASSERT_TRUE(decoded && std::holds_alternative<PmtkDgpsMode>(*decoded));
    EXPECT_EQ(std::get<PmtkDgpsMode>(*decoded).mode, 2);
    EXPECT_EQ(ReplyKindName(*decoded), "dgpsMode");
  }
  {
    const ReplyFields reply("PMTK501");
    const auto decoded = DecodePmtkReply(reply.fields);
    ASSERT_TRUE(decoded && std::holds_alternative<PmtkDgpsMode>(*decoded));
    EXPECT_EQ(std::get<PmtkDgpsMode>(*decoded).mode, 0) << "missing mode reads as 0";
  }
}

TEST(RepliesDecode, OutputRatesTakeFieldsOneToSixAndEighteenNineteen) {
  struct Row {
    const char* legend;
    const char* text;
    // GLL RMC VTG GSA GSV GGA ZDA MCHN
    std::array<long, kNmeaKindCount> expected;
  };
  const Row rows[] = {
      {"example reply", "PMTK514,1,1,0,1,1,5,0,0,0,0,0,0,0,0,0,0,0,0,0", {1, 1, 0, 1, 5, 1, 0, 0}},
      {"fields 7-17 are not read", "PMTK514,0,0,0,0,0,0,9,9,9,9,9,9,9,9,9,9,9,2,3", {0, 0, 0, 0, 0, 0, 2, 3}},
      {"each position distinct", "PMTK514,1,2,3,4,5,6,0,0,0,0,0,0,0,0,0,0,0,7,8", {1, 2, 3, 5, 6, 4, 7, 8}},
      {"short reply: missing fields read 0", "PMTK514,1,1", {1, 1, 0, 0, 0, 0, 0, 0}},
      {"negative and text", "PMTK514,-1,x,,1", {-1, 0, 0, 0, 0, 1, 0, 0}},
  };
  for (const Row& row : rows) {
    const ReplyFields reply(row.text);
    const auto decoded = DecodePmtkReply(reply.fields);
    ASSERT_TRUE(decoded && std::holds_alternative<PmtkOutputRates>(*decoded)) << row.legend;
    EXPECT_EQ(std::get<PmtkOutputRates>(*decoded).rates, row.expected) << row.legend;
    EXPECT_EQ(ReplyKindName(*decoded), "outputRates");
  }
}

TEST(RepliesDecode, VersionAndEpoStateTexts) {
  {
    const ReplyFields reply("PMTK705,AXN_1.30,0000,Kappa-32,1.0");
    const auto decoded = DecodePmtkReply(reply.fields);
    ASSERT_TRUE(decoded && std::holds_alternative<PmtkVersion>(*decoded));
    const PmtkVersion& version = std::get<PmtkVersion>(*decoded);
    EXPECT_EQ(version.release, "AXN_1.30");
    EXPECT_EQ(version.buildId, "0000");
    EXPECT_EQ(version.model, "Kappa-32");
    EXPECT_EQ(version.fourth, "1.0");
    EXPECT_EQ(ReplyKindName(*decoded), "version");
  }
  {
    const ReplyFields reply("PMTK707,28,1507,3600,1508,0,1507,0,1508,0");
    const auto decoded = DecodePmtkReply(reply.fields);
    ASSERT_TRUE(decoded && std::holds_alternative<PmtkEpoState>(*decoded));
    const PmtkEpoState& state = std::get<PmtkEpoState>(*decoded);
    EXPECT_EQ(state.setsText, "28");
    EXPECT_EQ(state.firstWeek, 1507);
    EXPECT_EQ(state.firstTowSec, 3600);
    EXPECT_EQ(state.lastWeek, 1508);
    EXPECT_EQ(state.lastTowSec, 0);
    EXPECT_EQ(ReplyKindName(*decoded), "epoState");
  }
  {
    const ReplyFields reply("PMTK707");
    const auto decoded = DecodePmtkReply(reply.fields);
    ASSERT_TRUE(decoded && std::holds_alternative<PmtkEpoState>(*decoded));
    EXPECT_EQ(std::get<PmtkEpoState>(*decoded).setsText, "") << "no field 1: an incomplete set, not \"0\"";
  }
}

}  // namespace
