// Checksum test, field split and dispatch table: the steps every received sentence passes
// before a parser sees it.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "link/nmea_sentence.h"

namespace {

using namespace std::string_literals;

// --- checksum ---

struct ChecksumCase {
  const char* legend;
  std::string sentence;
  bool valid;
};

class ChecksumTable : public ::testing::TestWithParam<ChecksumCase> {};

TEST_P(ChecksumTable, AcceptsOnlyMatchingChecksums) {
  EXPECT_EQ(VerifyChecksum(GetParam().sentence), GetParam().valid) << GetParam().legend;
}

// Bodies used below: "PQ" has XOR 0x01, "PP" 0x00, "A" 0x41, "Pz" 0x2A; the GPGGA and GPRMC
// sentences are from a real receiver (0x6C, 0x73).
INSTANTIATE_TEST_SUITE_P(
    Rows, ChecksumTable,
    ::testing::Values(
        ChecksumCase{"real sentence, upper-case digits",
                     "$GPGGA,202640.000,4404.1306,N,12118.8515,W,2,10,0.98,1127.7,M,-19.6,M,0000,0000*6C\r\n", true},
        ChecksumCase{"same sentence, lower-case digits",
                     "$GPGGA,202640.000,4404.1306,N,12118.8515,W,2,10,0.98,1127.7,M,-19.6,M,0000,0000*6c\r\n", true},
        ChecksumCase{"same sentence, one digit wrong",
                     "$GPGGA,202640.000,4404.1306,N,12118.8515,W,2,10,0.98,1127.7,M,-19.6,M,0000,0000*6D\r\n", false},
        ChecksumCase{"one byte of the body changed",
                     "$GPGGA,202640.000,4404.1307,N,12118.8515,W,2,10,0.98,1127.7,M,-19.6,M,0000,0000*6C\r\n", false},
        ChecksumCase{"no star at all", "$GPGGA,202640.000,4404.1306,N\r\n", false},
        ChecksumCase{"star but no digits", "$PQ*\r\n", false}, ChecksumCase{"star at the very end", "$PQ*", false},
        ChecksumCase{"single digit accepted when its value matches", "$PQ*1\r\n", true},
        ChecksumCase{"two digits with leading zero", "$PQ*01\r\n", true},
        ChecksumCase{"single digit of the wrong value", "$PQ*2\r\n", false},
        ChecksumCase{"only two digits are read: the third is ignored", "$PQ*019\r\n", true},
        ChecksumCase{"a non-hex character ends the digits", "$PQ*1G\r\n", true},
        ChecksumCase{"a non-hex first character", "$PQ*G1\r\n", false},
        ChecksumCase{"blanks before the digits are skipped as scanf does", "$PQ* 01\r\n", true},
        ChecksumCase{"a plus sign counts as one of the two characters", "$PQ*+1\r\n", true},
        ChecksumCase{"a minus sign never matches a byte value", "$PQ*-1\r\n", false},
        ChecksumCase{"XOR zero against 0x prefix", "$PP*0x\r\n", true},
        ChecksumCase{"every $ is skipped, not only the first", "$P$Q*01\r\n", true},
        ChecksumCase{"the first star ends the body", "$A*41*00\r\n", true},
        ChecksumCase{"upper and lower case letters mixed", "$Pz*2a\r\n", true},
        ChecksumCase{"letters in both digits, mixed case",
                     "$GPRMC,202640.000,A,4404.1306,N,12118.8515,W,0.03,225.97,130415,,,D*73\r\n", true},
        ChecksumCase{"empty text", "", false},
        ChecksumCase{"a NUL byte ends the text before the star", "$PQ\0*01\r\n"s, false}));

// The hex scan must decide exactly as the C library's sscanf(text, "%2x") does, whatever
// follows the star: every combination of up to three characters from an alphabet rich in
// edge cases is compared against the library itself.
TEST(Checksum, AgreesWithSscanfOnEveryShortTail) {
  const std::string alphabet = "019aAfFgxX+- \r\n\t";
  struct Body {
    const char* text;
    unsigned xorValue;
  };
  const Body bodies[] = {{"PP", 0x00}, {"PQ", 0x01}, {"Pz", 0x2A}, {"A", 0x41}, {"GPZDA,1", 0x55}};
  std::vector<std::string> tails{""};
  for (int len = 1; len <= 3; ++len) {
    std::vector<std::string> longer;
    for (const std::string& t : tails) {
      if (t.size() + 1 != static_cast<std::size_t>(len)) continue;
      for (char c : alphabet) longer.push_back(t + c);
    }
    tails.insert(tails.end(), longer.begin(), longer.end());
  }
  int accepted = 0;
  for (const Body& body : bodies) {
    for (const std::string& tail : tails) {
      unsigned value = 0;
      const bool expected = std::sscanf(tail.c_str(), "%2x", &value) == 1 && value == body.xorValue;
      const std::string sentence = "$"s + body.text + "*" + tail;
      ASSERT_EQ(VerifyChecksum(sentence), expected) << "tail \"" << tail << "\" body " << body.text;
      accepted += expected ? 1 : 0;
    }
  }
  EXPECT_GT(accepted, 50);  // the comparison covered accepting tails, not only rejections
}

// --- field split ---

struct SplitCase {
  const char* legend;
  std::string sentence;
  std::vector<std::string> fields;
};

class SplitTable : public ::testing::TestWithParam<SplitCase> {};

TEST_P(SplitTable, FillsSlotsAndLeavesTheRestEmpty) {
  const SplitCase& c = GetParam();
  SentenceFields fields;
  // A previous, longer sentence must leave no trace in the slots this one does not reach.
  const std::string previous = "$" + std::string(60, ',') + "LEFTOVER*00\r\n";
  SplitFields(previous, fields);
  SplitFields(c.sentence, fields);
  ASSERT_EQ(fields.count(), static_cast<int>(c.fields.size())) << c.legend;
  for (int i = 0; i < kFieldSlots; ++i) {
    const std::string expected = i < static_cast<int>(c.fields.size()) ? c.fields[static_cast<std::size_t>(i)] : "";
    EXPECT_EQ(std::string(fields[i]), expected) << c.legend << ", slot " << i;
  }
  // Out-of-table indices read as empty too (volatile: the indices are run-time values to
  // the compiler, as they would be in a parser).
  volatile int beyond = kFieldSlots;
  volatile int before = -1;
  EXPECT_TRUE(fields[beyond].empty()) << c.legend;
  EXPECT_TRUE(fields[before].empty()) << c.legend;
}

std::string ManyFields(int n) {
  std::string s = "$PX";
  for (int i = 1; i < n; ++i) s += ",f" + std::to_string(i);
  return s + "*00\r\n";
}

std::vector<std::string> FirstFields(int n) {
  std::vector<std::string> v{"PX"};
  for (int i = 1; i < n; ++i) v.push_back("f" + std::to_string(i));
  return v;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, SplitTable,
    ::testing::Values(
        SplitCase{"GSA with empty PRN positions",
                  "$GPGSA,A,3,20,16,,,,,,,,,,,1.64,0.98,1.31*05\r\n",
                  {"GPGSA", "A", "3", "20", "16", "", "", "", "", "", "", "", "", "", "", "1.64", "0.98", "1.31"}},
        SplitCase{"address only, no comma", "$PZRN818*4C\r\n", {"PZRN818"}},
        SplitCase{"empty last field before the star",
                  "$GPZDA,202640.000,13,04,2015,,*54\r\n",
                  {"GPZDA", "202640.000", "13", "04", "2015", "", ""}},
        SplitCase{"a lone $", "$", {""}},
        SplitCase{"no star: the last field runs to the end of the text", "$A,B", {"A", "B"}},
        SplitCase{
            "a comma in stray bytes behind the checksum still separates", "$A,B*00\r\nx,y", {"A", "B*00\r\nx", "y"}},
        SplitCase{"exactly fifty fields", ManyFields(50), FirstFields(50)},
        SplitCase{"fields after the fiftieth are dropped", ManyFields(70), FirstFields(50)}));

// --- dispatch table ---

struct RouteCase {
  const char* legend;
  std::string address;
  SentenceRoute route;
};

class RouteTable : public ::testing::TestWithParam<RouteCase> {};

TEST_P(RouteTable, FirstMatchingRuleDecides) {
  EXPECT_EQ(RouteOf(GetParam().address), GetParam().route) << GetParam().legend;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, RouteTable,
    ::testing::Values(RouteCase{"GPGGA", "GPGGA", SentenceRoute::GGA},
                      RouteCase{"talker is not looked at", "XYGGA", SentenceRoute::GGA},
                      RouteCase{"GPGLL", "GPGLL", SentenceRoute::GLL}, RouteCase{"GPGSA", "GPGSA", SentenceRoute::GSA},
                      RouteCase{"GNGSA reaches the GSA handler too", "GNGSA", SentenceRoute::GSA},
                      RouteCase{"GLGSV", "GLGSV", SentenceRoute::GSV}, RouteCase{"GPRMC", "GPRMC", SentenceRoute::RMC},
                      RouteCase{"GPVTG", "GPVTG", SentenceRoute::VTG}, RouteCase{"GPZDA", "GPZDA", SentenceRoute::ZDA},
                      RouteCase{"longer address, type at 3-5", "GPGGAX", SentenceRoute::GGA},
                      RouteCase{"PMTK001 to the reply handler", "PMTK001", SentenceRoute::MtkReply},
                      RouteCase{"PMTKCHN to the reply handler, not the indicator", "PMTKCHN", SentenceRoute::MtkReply},
                      RouteCase{"PMTK alone", "PMTK", SentenceRoute::MtkReply},
                      RouteCase{"CHN at characters 5-7 ticks the indicator", "PXXXCHN", SentenceRoute::Chn},
                      RouteCase{"CHN at 5-7 with more behind", "GPXXCHNX", SentenceRoute::Chn},
                      RouteCase{"CHN at 3-5 is not the indicator", "XXCHN", SentenceRoute::None},
                      RouteCase{"PZRN001", "PZRN001", SentenceRoute::Zrn001},
                      RouteCase{"PZRN818", "PZRN818", SentenceRoute::Zrn818},
                      RouteCase{"ZRN001 at 2-7 whatever the first character", "XZRN001", SentenceRoute::Zrn001},
                      RouteCase{"ZRN001 at the wrong place", "ZRN001", SentenceRoute::None},
                      RouteCase{"PZRN00 runs past the end", "PZRN00", SentenceRoute::None},
                      RouteCase{"GPGG runs past the end", "GPGG", SentenceRoute::None},
                      RouteCase{"XXCH runs past the end", "XXCH", SentenceRoute::None},
                      RouteCase{"PMT runs past the end", "PMT", SentenceRoute::None},
                      RouteCase{"unknown proprietary sentence", "POLYN", SentenceRoute::None},
                      RouteCase{"lower case is not upper case", "gpgga", SentenceRoute::None},
                      RouteCase{"empty address", "", SentenceRoute::None}));

}  // namespace
