// Checksum, frame building and the fixed command table: exact bytes and byte counts.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "commands/command_framing.h"

namespace {

using namespace std::string_literals;

struct ChecksumCase {
  const char* legend;
  std::string data;
  int length;
  const char* expected;
};

TEST(CommandsFraming, ChecksumText) {
  const ChecksumCase cases[] = {
      {"rate query body", "$PMTK414", 8, "33"},
      {"XOR 10 gets a leading zero and an upper-case digit", "$0:", 3, "0A"},
      {"only the dollar", "$", 1, "00"},
      {"empty", "", 0, "00"},
      {"byte 0 is skipped whatever it is", "P0:", 3, "0A"},
      {"length limits the bytes read", "$PMTK414*33", 8, "33"},
      {"upper-case letters in both digits", "$\xAB", 2, "AB"},
      {"Latin-1 byte above 0x7F", "$\xB0", 2, "B0"},
      {"XOR back to zero", "$AA", 3, "00"},
      {"DGPS mode body", "$PMTK301,2", 10, "2E"},
  };
  for (const ChecksumCase& c : cases) {
    EXPECT_EQ(NmeaChecksum(c.data.data(), c.length), c.expected) << c.legend;
    if (c.length == static_cast<int>(c.data.size())) {
      EXPECT_EQ(NmeaChecksum(std::string_view(c.data)), c.expected) << c.legend << " (view)";
    }
  }
}

TEST(CommandsFraming, NegativeLengthReadsNothing) { EXPECT_EQ(NmeaChecksum("$PMTK", -3), "00"); }

struct FrameCase {
  const char* legend;
  const char* body;
  std::string expected;
};

TEST(CommandsFraming, RunTimeFrames) {
  const FrameCase cases[] = {
      {"DGPS mode 2: 15 bytes, no zero byte", "$PMTK301,2", "$PMTK301,2*2E\r\n"},
      {"fix-rate reset: 13 bytes", "$PZRN818", "$PZRN818*27\r\n"},
      {"mode query", "$PZRN000,MODE", "$PZRN000,MODE*09\r\n"},
      {"fix period 1000", "$PMTK300,1000,0,0,0,0", "$PMTK300,1000,0,0,0,0*1C\r\n"},
  };
  for (const FrameCase& c : cases) {
    const std::string frame = FrameCommand(c.body);
    EXPECT_EQ(frame, c.expected) << c.legend;
    EXPECT_EQ(frame.size(), std::strlen(c.body) + 5) << c.legend;

    RecordingCommandPort port;
    SendFramedCommand(port, c.body);
    ASSERT_EQ(port.events.size(), 1u) << c.legend << ": one write";
    EXPECT_EQ(port.events[0].bytes, c.expected) << c.legend;
    EXPECT_NE(port.events[0].bytes.back(), '\0') << c.legend;
  }
  EXPECT_EQ(FrameCommand("$PZRN818").size(), 13u);
  EXPECT_EQ(FrameCommand("$PMTK301,2").size(), 15u);
}

struct FixedCase {
  const char* legend;
  FixedCommand command;
  const char* frame;
  std::size_t count;
  bool zeroByte;
};

// Every stored frame: its bytes, its count, the zero byte where the count includes it, and
// equality with the same body framed at run time.
TEST(CommandsFraming, FixedCommandTable) {
  const FixedCase cases[] = {
      {"hot restart", kHotRestart, "$PMTK101*32\r\n", 14, true},
      {"warm restart", kWarmRestart, "$PMTK102*31\r\n", 14, true},
      {"cold restart", kColdRestart, "$PMTK103*30\r\n", 14, true},
      {"default output rates", kDefaultOutputRates, "$PMTK314,-1*04\r\n", 17, true},
      {"rate query, Query button", kOutputRateQuery, "$PMTK414*33\r\n", 14, true},
      {"rate query, follow-up and connect", kOutputRateQueryShort, "$PMTK414*33\r\n", 13, false},
      {"fix period query", kFixPeriodQuery, "$PMTK400*36\r\n", 14, true},
      {"DGPS mode query", kDgpsModeQuery, "$PMTK401*37\r\n", 14, true},
      {"DGPS mode query, follow-up", kDgpsModeQueryShort, "$PMTK401*37\r\n", 13, false},
      {"DGPS companion query", kDgpsCompanionQuery, "$PMTK602*36\r\n", 14, true},
      {"firmware release query", kVersionQuery, "$PMTK605*31\r\n", 13, false},
      {"EPO state query", kEpoStateQuery, "$PMTK607*33\r\n", 14, true},
      {"EPO clear", kEpoClear, "$PMTK127*36\r\n", 13, false},
      {"binary protocol switch", kBinaryProtocolSwitch, "$PMTK253,1,115200*00\r\n", 22, false},
  };
  for (const FixedCase& c : cases) {
    const std::string_view bytes = c.command.bytes();
    EXPECT_EQ(bytes.size(), c.count) << c.legend;
    EXPECT_EQ(bytes.substr(0, std::strlen(c.frame)), c.frame) << c.legend;
    if (c.zeroByte) {
      EXPECT_EQ(bytes.size(), std::strlen(c.frame) + 1) << c.legend;
      EXPECT_EQ(bytes.back(), '\0') << c.legend << ": zero byte after the LF";
    } else {
      EXPECT_EQ(bytes.size(), std::strlen(c.frame)) << c.legend;
    }

    const std::string_view frame(c.frame);
    const std::string_view body = frame.substr(0, frame.find('*'));
    EXPECT_EQ(FrameCommand(body), frame) << c.legend << ": stored checksum is the run-time one";

    RecordingCommandPort port;
    SendFixedCommand(port, c.command);
    SendFixedCommand(port, c.command.text, c.command.count);
    ASSERT_EQ(port.events.size(), 2u) << c.legend;
    EXPECT_EQ(port.events[0].bytes, bytes) << c.legend;
    EXPECT_EQ(port.events[1].bytes, bytes) << c.legend;
  }
}

TEST(CommandsFraming, RunTimeBodiesHaveTheirChecksums) {
  EXPECT_EQ(FrameCommand(kFixRateResetBody), "$PZRN818*27\r\n");
  EXPECT_EQ(FrameCommand(kModeQueryBody), "$PZRN000,MODE*09\r\n");
}

TEST(CommandsFraming, RecordingPortKeepsOrderAndPauses) {
  RecordingCommandPort port;
  port.write("ab", 2);
  port.pauseMs(5);
  port.write("c\0", 2);
  port.pauseMs(200);
  ASSERT_EQ(port.events.size(), 4u);
  EXPECT_EQ(port.allBytes(), "abc\0"s);
  EXPECT_EQ(port.totalPauseMs(), 205);
  EXPECT_EQ(port.events[1].pauseMs, 5);
  EXPECT_TRUE(port.events[1].bytes.empty());
}

}  // namespace
