// Replies recorded from real receivers, cut, checked and split as received, then decoded:
// acknowledgements give the success box, other PMTK sentences are ignored.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "commands/pmtk_replies.h"
#include "link/nmea_sentence.h"
#include "tests/support/files.h"

namespace {

struct CaptureReplies {
  int mtkSentences = 0;              // valid sentences routed to the reply handler
  std::vector<std::string> ignored;  // their addresses, when nothing was decoded
  std::vector<ReceiverReply> decoded;
};

CaptureReplies RepliesOfCapture(const std::string& name, std::size_t chunkSize) {
  const std::string bytes = testsupport::ReadTestData(name);
  EXPECT_FALSE(bytes.empty()) << name;

  CaptureReplies result;
  SentenceCutter cutter;
  SentenceFields fields;
  auto handle = [&](std::string_view sentence) {
    if (!VerifyChecksum(sentence)) return;
    SplitFields(sentence, fields);
    if (RouteOf(fields[0]) != SentenceRoute::MtkReply) return;
    ++result.mtkSentences;
    if (std::optional<ReceiverReply> reply = DecodePmtkReply(fields)) {
      result.decoded.push_back(std::move(*reply));
    } else {
      result.ignored.emplace_back(fields[0]);
    }
  };
  for (std::size_t at = 0; at < bytes.size(); at += chunkSize) {
    cutter.feed(bytes.data() + at, std::min(chunkSize, bytes.size() - at), handle);
  }
  cutter.feed("$", 1, handle);  // the last sentence is handed over once a next "$" arrives
  return result;
}

TEST(RepliesCaptures, AcknowledgementsOfAnMt3339) {
  // Whole file at once, and in 7-byte pieces as a slow port delivers it.
  for (std::size_t chunk : {std::size_t{1} << 20, std::size_t{7}}) {
    const CaptureReplies replies = RepliesOfCapture("sample_gpsdata_usbttl_5.txt", chunk);
    ASSERT_EQ(replies.decoded.size(), 2u) << "chunk " << chunk;
    const long commands[] = {220, 314};
    for (std::size_t i = 0; i < 2; ++i) {
      const PmtkAck* ack = std::get_if<PmtkAck>(&replies.decoded[i]);
      ASSERT_NE(ack, nullptr) << "reply " << i;
      EXPECT_EQ(ack->command, commands[i]);
      EXPECT_EQ(ack->flag, 3);
      EXPECT_EQ(AckMessage(*ack).text, "Set Successful!");
      EXPECT_EQ(AckMessage(*ack).title, "Send ok");
    }
    EXPECT_TRUE(replies.ignored.empty());
  }
}

TEST(RepliesCaptures, StartUpNoticeAndChannelStatusAreIgnored) {
  const CaptureReplies replies = RepliesOfCapture("mtk-3301.log", 64);
  EXPECT_TRUE(replies.decoded.empty());
  ASSERT_GE(replies.mtkSentences, 2) << "the capture's PMTK sentences reached the decoder";
  EXPECT_EQ(replies.ignored.front(), "PMTK010");
  for (const std::string& address : replies.ignored) {
    EXPECT_TRUE(address == "PMTK010" || address == "PMTKCHN") << address;
  }
}

}  // namespace
