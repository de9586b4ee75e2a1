// What each button and the connect step put on the line: every write, byte for byte, and
// every pause, in order.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "commands/receiver_commands.h"

namespace {

using namespace std::string_literals;

struct Step {
  std::string bytes;
  int pauseAfterMs;
};

struct SequenceCase {
  const char* legend;
  CommandSequence actual;
  std::vector<Step> expected;
};

void ExpectSequence(const SequenceCase& c) {
  const std::vector<CommandStep>& actual = c.actual.steps;
  ASSERT_EQ(actual.size(), c.expected.size()) << c.legend;
  int expectedDurationMs = 0;
  for (std::size_t i = 0; i < c.expected.size(); ++i) {
    EXPECT_EQ(actual[i].bytes, c.expected[i].bytes) << c.legend << ", write " << i;
    EXPECT_EQ(actual[i].bytes.size(), c.expected[i].bytes.size()) << c.legend << ", write " << i;
    EXPECT_EQ(actual[i].pauseAfterMs, c.expected[i].pauseAfterMs) << c.legend << ", pause after write " << i;
    expectedDurationMs += c.expected[i].pauseAfterMs;
  }
  EXPECT_EQ(SequenceDurationMs(c.actual), expectedDurationMs) << c.legend;

  // Running it writes the same bytes and pauses only where a pause is due.
  RecordingCommandPort port;
  RunCommandSequence(port, c.actual);
  std::vector<RecordingCommandPort::Event> wanted;
  for (const Step& step : c.expected) {
    wanted.push_back({step.bytes, 0});
    if (step.pauseAfterMs > 0) wanted.push_back({std::string(), step.pauseAfterMs});
  }
  ASSERT_EQ(port.events.size(), wanted.size()) << c.legend << " (run)";
  for (std::size_t i = 0; i < wanted.size(); ++i) {
    EXPECT_EQ(port.events[i].bytes, wanted[i].bytes) << c.legend << " (run), event " << i;
    EXPECT_EQ(port.events[i].pauseMs, wanted[i].pauseMs) << c.legend << " (run), event " << i;
  }
}

// Rate boxes in their own order: GLL, RMC, VTG, GSA, GSV, GGA, ZDA, MCHN.
RateIndices Boxes(int gll, int rmc, int vtg, int gsa, int gsv, int gga, int zda, int mchn) {
  return {gll, rmc, vtg, gsa, gsv, gga, zda, mchn};
}

const std::string kRateQuery13 = "$PMTK414*33\r\n";
const std::string kRateQuery14 = "$PMTK414*33\r\n\0"s;
const std::string kFixQuery14 = "$PMTK400*36\r\n\0"s;
const std::string kDgpsQuery13 = "$PMTK401*37\r\n";
const std::string kDgpsQuery14 = "$PMTK401*37\r\n\0"s;
const std::string kCompanion14 = "$PMTK602*36\r\n\0"s;

TEST(CommandsSequences, RestartsAndQueries) {
  const SequenceCase cases[] = {
      {"hot restart: 14 bytes ending in the zero byte", RestartCommands(RestartKind::Hot), {{"$PMTK101*32\r\n\0"s, 0}}},
      {"warm restart", RestartCommands(RestartKind::Warm), {{"$PMTK102*31\r\n\0"s, 0}}},
      {"cold restart", RestartCommands(RestartKind::Cold), {{"$PMTK103*30\r\n\0"s, 0}}},
      {"rate Query button: 14 bytes", OutputRateQueryCommands(), {{kRateQuery14, 0}}},
      {"fix Query button", FixPeriodQueryCommands(), {{kFixQuery14, 0}}},
      {"DGPS Query: two 14-byte queries, no pause", DgpsQueryCommands(), {{kDgpsQuery14, 0}, {kCompanion14, 0}}},
      {"firmware Query: 13 bytes", VersionQueryCommands(), {{"$PMTK605*31\r\n", 0}}},
      {"EPO Query: 14 bytes", EpoStateQueryCommands(), {{"$PMTK607*33\r\n\0"s, 0}}},
      {"EPO Reset: 13 bytes", EpoClearCommands(), {{"$PMTK127*36\r\n", 0}}},
      {"binary switch: 22 bytes", BinaryProtocolSwitchCommands(), {{"$PMTK253,1,115200*00\r\n", 0}}},
      {"fix-rate Reset: framed 13 bytes, 1000 ms, period query",
       FixRateResetCommands(),
       {{"$PZRN818*27\r\n", 1000}, {kFixQuery14, 0}}},
      {"connect: four queries 5 ms apart, the last with its zero byte",
       ConnectQueryCommands(),
       {{kRateQuery13, 5}, {"$PMTK605*31\r\n", 5}, {"$PZRN000,MODE*09\r\n", 5}, {kFixQuery14, 0}}},
  };
  for (const SequenceCase& c : cases) ExpectSequence(c);
}

TEST(CommandsSequences, OutputRates) {
  const SequenceCase cases[] = {
      {"every box at 0: nineteen zeros, then the 13-byte query 5 ms later",
       SetOutputRatesCommands(Boxes(0, 0, 0, 0, 0, 0, 0, 0)),
       {{"$PMTK314,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0*28\r\n", 5}, {kRateQuery13, 0}}},
      {"body order GLL RMC VTG GGA GSA GSV, ZDA and MCHN after eleven zeros",
       SetOutputRatesCommands(Boxes(1, 2, 3, 4, 5, 0, 1, 2)),
       {{"$PMTK314,1,2,3,0,4,5,0,0,0,0,0,0,0,0,0,0,0,1,2*2A\r\n", 5}, {kRateQuery13, 0}}},
      {"GGA lands in position 4, ZDA in position 18",
       SetOutputRatesCommands(Boxes(3, 0, 0, 0, 0, 2, 4, 0)),
       {{"$PMTK314,3,0,0,2,0,0,0,0,0,0,0,0,0,0,0,0,0,4,0*2D\r\n", 5}, {kRateQuery13, 0}}},
      {"unselected (-1) and out-of-range (6, 99) boxes go out as 0",
       SetOutputRatesCommands(Boxes(-1, 5, 6, 99, -7, 0, -1, 6)),
       {{"$PMTK314,0,5,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0*2D\r\n", 5}, {kRateQuery13, 0}}},
      {"Default: 17-byte restore, 5 ms, 13-byte query",
       DefaultOutputRatesCommands(),
       {{"$PMTK314,-1*04\r\n\0"s, 5}, {kRateQuery13, 0}}},
  };
  for (const SequenceCase& c : cases) ExpectSequence(c);
}

TEST(CommandsSequences, FixPeriod) {
  const SequenceCase cases[] = {
      {"\"1\": set, both DGPS queries, period query, 200 ms each: 800 ms",
       SetFixPeriodCommands(0),
       {{"$PMTK300,1000,0,0,0,0*1C\r\n", 200}, {kDgpsQuery14, 200}, {kCompanion14, 200}, {kFixQuery14, 200}}},
      {"\"2\"",
       SetFixPeriodCommands(1),
       {{"$PMTK300,500,0,0,0,0*28\r\n", 200}, {kDgpsQuery14, 200}, {kCompanion14, 200}, {kFixQuery14, 200}}},
      {"\"3\"",
       SetFixPeriodCommands(2),
       {{"$PMTK300,333,0,0,0,0*2E\r\n", 200}, {kDgpsQuery14, 200}, {kCompanion14, 200}, {kFixQuery14, 200}}},
      {"\"4\"",
       SetFixPeriodCommands(3),
       {{"$PMTK300,250,0,0,0,0*2A\r\n", 200}, {kDgpsQuery14, 200}, {kCompanion14, 200}, {kFixQuery14, 200}}},
      {"\"5\"",
       SetFixPeriodCommands(4),
       {{"$PMTK300,200,0,0,0,0*2F\r\n", 200}, {kDgpsQuery14, 200}, {kCompanion14, 200}, {kFixQuery14, 200}}},
      {"\"10\": set and period query only, 400 ms",
       SetFixPeriodCommands(5),
       {{"$PMTK300,100,0,0,0,0*2C\r\n", 200}, {kFixQuery14, 200}}},
      {"nothing selected: nothing sent", SetFixPeriodCommands(-1), {}},
      {"index past the list: nothing sent", SetFixPeriodCommands(6), {}},
  };
  for (const SequenceCase& c : cases) ExpectSequence(c);
  EXPECT_EQ(SequenceDurationMs(SetFixPeriodCommands(5)), 400);
  EXPECT_EQ(SequenceDurationMs(SetFixPeriodCommands(0)), 800);
}

TEST(CommandsSequences, FixPeriodTableBothWays) {
  struct Row {
    const char* legend;
    int index;
    int periodMs;
  };
  const Row rows[] = {{"1 Hz", 0, 1000}, {"2 Hz", 1, 500}, {"3 Hz", 2, 333},
                      {"4 Hz", 3, 250},  {"5 Hz", 4, 200}, {"10 Hz", 5, 100}};
  for (const Row& row : rows) {
    EXPECT_EQ(FixPeriodMsOfIndex(row.index), row.periodMs) << row.legend;
    EXPECT_EQ(FixIndexOfPeriodMs(row.periodMs), row.index) << row.legend;
  }
  EXPECT_FALSE(FixPeriodMsOfIndex(-1).has_value());
  EXPECT_FALSE(FixIndexOfPeriodMs(150).has_value());
  EXPECT_FALSE(FixIndexOfPeriodMs(0).has_value());
}

TEST(CommandsSequences, DgpsMode) {
  struct Row {
    const char* legend;
    bool sbas, rtcm, none;
    DgpsMode mode;
  };
  const Row rows[] = {
      {"SBAS chosen", true, false, false, DgpsMode::Sbas},
      {"RTCM chosen", false, true, false, DgpsMode::Rtcm},
      {"none chosen", false, false, true, DgpsMode::None},
      {"nothing chosen", false, false, false, DgpsMode::None},
      {"SBAS wins over the others (tested first)", true, true, true, DgpsMode::Sbas},
      {"RTCM wins over none", false, true, true, DgpsMode::Rtcm},
  };
  for (const Row& row : rows) EXPECT_EQ(DgpsModeOf(row.sbas, row.rtcm, row.none), row.mode) << row.legend;

  const SequenceCase cases[] = {
      {"mode 2: 15-byte frame, 5 ms, 13-byte mode query",
       SetDgpsModeCommands(DgpsMode::Sbas),
       {{"$PMTK301,2*2E\r\n", 5}, {kDgpsQuery13, 0}}},
      {"mode 1", SetDgpsModeCommands(DgpsMode::Rtcm), {{"$PMTK301,1*2D\r\n", 5}, {kDgpsQuery13, 0}}},
      {"mode 0", SetDgpsModeCommands(DgpsMode::None), {{"$PMTK301,0*2C\r\n", 5}, {kDgpsQuery13, 0}}},
  };
  for (const SequenceCase& c : cases) ExpectSequence(c);
}

}  // namespace
