// Stream cutting: sentences come out whole and in order however the reads split the stream,
// nothing outgrows the buffers, NUL bytes and stray bytes never cost a valid sentence.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "link/nmea_sentence.h"

namespace {

using namespace std::string_literals;

struct CutResult {
  std::vector<std::string> sentences;
  std::size_t carry = 0;
};

// In a list of chunks: the line goes quiet here, and the reader flushes a complete sentence.
const std::string kQuiet = "<quiet line>";

CutResult Cut(SentenceCutter& cutter, const std::vector<std::string>& chunks) {
  CutResult result;
  const auto sink = [&](std::string_view s) { result.sentences.emplace_back(s); };
  for (const std::string& chunk : chunks) {
    if (chunk == kQuiet) {
      cutter.flushComplete(sink);
    } else {
      cutter.feed(chunk.data(), chunk.size(), sink);
    }
  }
  result.carry = cutter.carryOverSize();
  return result;
}

CutResult Cut(const std::vector<std::string>& chunks) {
  SentenceCutter cutter;
  return Cut(cutter, chunks);
}

std::vector<std::string> OneByteChunks(const std::string& stream) {
  std::vector<std::string> chunks;
  for (char c : stream) chunks.emplace_back(1, c);
  return chunks;
}

const std::string kGga = "$GPGGA,202640.000,4404.1306,N,12118.8515,W,2,10,0.98,1127.7,M,-19.6,M,0000,0000*6C\r\n";
const std::string kGsa = "$GPGSA,A,3,20,16,09,03,07,10,23,19,27,30,,,1.64,0.98,1.31*05\r\n";
const std::string kRmc = "$GPRMC,202640.000,A,4404.1306,N,12118.8515,W,0.03,225.97,130415,,,D*73\r\n";

struct CutCase {
  const char* legend;
  std::vector<std::string> chunks;
  std::vector<std::string> expected;
  std::size_t expectedCarry;
};

class CutterTable : public ::testing::TestWithParam<CutCase> {};

TEST_P(CutterTable, DeliversExactlyTheExpectedSentences) {
  const CutCase& c = GetParam();
  const CutResult r = Cut(c.chunks);
  EXPECT_EQ(r.sentences, c.expected) << c.legend;
  EXPECT_EQ(r.carry, c.expectedCarry) << c.legend;
}

const std::string kLongest(kSentenceBufferSize - 1, 'x');  // "$" + this is one byte too long

INSTANTIATE_TEST_SUITE_P(
    Rows, CutterTable,
    ::testing::Values(
        CutCase{
            "GGA then GSA in one read: GGA at once, GSA kept whole as carry-over", {kGga + kGsa}, {kGga}, kGsa.size()},
        CutCase{"a sentence split over two reads is joined", {kGga.substr(0, 30), kGga.substr(30) + "$"}, {kGga}, 1},
        CutCase{"bytes before the first $ are dropped, never kept", {"noise without dollar", "more\r\n"}, {}, 0},
        CutCase{"leading garbage then sentences", {"garbage" + kGga + kRmc + "$"}, {kGga, kRmc}, 1},
        CutCase{"stray bytes between CR LF and the next $ belong to the sentence before",
                {kGga + "junk\r\n" + kRmc + "$"},
                {kGga + "junk\r\n", kRmc},
                1},
        CutCase{"a NUL byte inside a read hides nothing that follows",
                {kGga + "\0"s + kGsa + kRmc + "$"},
                {kGga, kGsa, kRmc},
                1},
        CutCase{"a NUL byte inside a sentence is skipped", {"$GPZDA,1\0"s + "2*00\r\n$"}, {"$GPZDA,12*00\r\n"}, 1},
        CutCase{"a leading NUL byte before the first sentence", {"\0\n"s + kGga + "$"}, {kGga}, 1},
        CutCase{"NUL bytes split across reads of a carried sentence",
                {"$GP\0"s, "\0GSA\0"s, ",1*00\r\n$"},
                {"$GPGSA,1*00\r\n"},
                1},
        CutCase{"two $ in a row give a one-byte sentence", {"$" + kGga + "$"}, {"$", kGga}, 1},
        CutCase{"the longest sentence that fits (4999 bytes) is delivered",
                {"$" + kLongest.substr(1) + "$"},
                {"$" + kLongest.substr(1)},
                1},
        CutCase{"a run of 5000 bytes between two $ is dropped, the next sentence is not",
                {"$" + kLongest + kGga + "$"},
                {kGga},
                1},
        CutCase{"an overlong run fed in pieces is dropped as well",
                {"$" + kLongest.substr(0, 3000), kLongest.substr(3000), kGga + "$"},
                {kGga},
                1},
        CutCase{"NUL bytes do not count towards the length limit",
                {"$" + kLongest.substr(1) + "\0\0"s + "$"},
                {"$" + kLongest.substr(1)},
                1},
        CutCase{"an empty read changes nothing", {kGga, "", "$"}, {kGga}, 1},
        CutCase{"a sentence then a quiet line: handed over without a next $", {kGga, kQuiet}, {kGga}, 0},
        CutCase{"stray bytes after the line end go with it; after the flush, bytes up to the next $ are dropped",
                {kGga + "ju", kQuiet, "nk\r\n" + kRmc, kQuiet},
                {kGga + "ju", kRmc},
                0},
        CutCase{"no line end yet: a quiet line hands nothing over",
                {kGga.substr(0, kGga.size() - 1), kQuiet, "\n$"},
                {kGga},
                1},
        CutCase{"a sentence then 5000 bytes without $: the sentence is kept, the run dropped",
                {kGga + kLongest + kRmc + "$"},
                {kGga, kRmc},
                1},
        CutCase{"the same in one-byte reads", OneByteChunks(kGga + kLongest + kRmc + "$"), {kGga, kRmc}, 1},
        CutCase{"a sentence, a long run, then a quiet line: the sentence alone", {kGga + kLongest, kQuiet}, {kGga}, 0},
        CutCase{"a run whose first line end lies beyond 4999 bytes is no sentence",
                {"$" + kLongest + "\r\n" + kRmc, kQuiet},
                {kRmc},
                0}));

TEST(SentenceCutter, EverySplitPointOfAStreamGivesTheSameSentences) {
  const std::string stream = "xx" + kGga + kGsa + "\0"s + kRmc + "$GPVTG";
  const std::vector<std::string> expected{kGga, kGsa, kRmc};
  for (std::size_t i = 0; i <= stream.size(); ++i) {
    for (std::size_t j = i; j <= stream.size(); j += 7) {
      const CutResult r = Cut({stream.substr(0, i), stream.substr(i, j - i), stream.substr(j)});
      ASSERT_EQ(r.sentences, expected) << "split at " << i << " and " << j;
      ASSERT_EQ(r.carry, 6u) << "split at " << i << " and " << j;
    }
  }
}

TEST(SentenceCutter, OneByteReadsGiveTheSameSentencesAsOneRead) {
  const std::string stream = "noise" + kGga + "\0"s + kGsa + "junk" + kRmc + "$" + kLongest + kGga + "$";
  const CutResult whole = Cut({stream});
  const CutResult bytes = Cut(OneByteChunks(stream));
  EXPECT_EQ(whole.sentences, (std::vector<std::string>{kGga, kGsa + "junk", kRmc, kGga}));
  EXPECT_EQ(bytes.sentences, whole.sentences);
  EXPECT_EQ(bytes.carry, whole.carry);
}

TEST(SentenceCutter, CarryOverNeverOutgrowsASentence) {
  struct Row {
    const char* legend;
    std::string prefix;
    char filler;
  };
  const Row rows[] = {
      {"100000 bytes without any $", "", 'a'},
      {"a $ followed by 100000 bytes without another $", "$", 'b'},
      {"a sentence start followed by endless NUL-free noise", "$GPGGA,", '9'},
  };
  for (const Row& row : rows) {
    SentenceCutter cutter;
    std::size_t delivered = 0;
    std::size_t largest = 0;
    auto sink = [&](std::string_view) { ++delivered; };
    cutter.feed(row.prefix.data(), row.prefix.size(), sink);
    const std::string chunk(997, row.filler);
    for (int i = 0; i < 100; ++i) {
      cutter.feed(chunk.data(), chunk.size(), sink);
      largest = std::max(largest, cutter.carryOverSize());
    }
    EXPECT_LT(largest, static_cast<std::size_t>(kSentenceBufferSize)) << row.legend;
    EXPECT_LE(largest, static_cast<std::size_t>(kCarryOverSize)) << row.legend;
    // The overlong run is no sentence; the next complete one still comes through.
    std::vector<std::string> after;
    const std::string tail = kGga + "$";
    cutter.feed(tail.data(), tail.size(), [&](std::string_view s) { after.emplace_back(s); });
    EXPECT_EQ(delivered, 0u) << row.legend;
    EXPECT_EQ(after, std::vector<std::string>{kGga}) << row.legend;
  }
}

TEST(SentenceCutter, ResetForgetsTheUnfinishedSentence) {
  SentenceCutter cutter;
  const CutResult first = Cut(cutter, {kGga.substr(0, 20)});
  EXPECT_EQ(first.carry, 20u);
  cutter.reset();
  EXPECT_EQ(cutter.carryOverSize(), 0u);
  const CutResult second = Cut(cutter, {kGga.substr(20) + kRmc + "$"});
  EXPECT_EQ(second.sentences, std::vector<std::string>{kRmc});
}

}  // namespace
