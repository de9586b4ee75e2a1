// One sentence at a time through the session (checksum, split, dispatch, parser or reply
// decoder, outcome), the satellite tables of every system across GSV cycles and GSAs, and the
// chart data step.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

#include "commands/nmea_session.h"
#include "tests/support/frames.h"

namespace {

// --- outcome of the dispatch ---

struct OutcomeCase {
  const char* legend;
  std::string sentence;
  bool valid;
  SentenceRoute route;
  bool tick;
  bool fixRateGroup;
  bool setSuccessful;
  std::optional<ReplyKind> reply;
};

class OutcomeTable : public ::testing::TestWithParam<OutcomeCase> {};

TEST_P(OutcomeTable, DispatchDecides) {
  const OutcomeCase& c = GetParam();
  NmeaSession session;
  session.clock = [] { return std::time_t{1326628800}; };
  const SentenceOutcome o = session.handle(c.sentence);
  const std::optional<ReplyKind> kind = o.reply ? std::optional<ReplyKind>(KindOf(*o.reply)) : std::nullopt;
  const ModeReply* mode = o.reply ? std::get_if<ModeReply>(&*o.reply) : nullptr;
  EXPECT_EQ(o.valid, c.valid) << c.legend;
  EXPECT_EQ(o.route, c.route) << c.legend;
  EXPECT_EQ(kind == kReplyKindOf<ChannelStatus>, c.tick) << c.legend;
  EXPECT_EQ(mode != nullptr && mode->fixRateSettable, c.fixRateGroup) << c.legend;
  EXPECT_EQ(kind == kReplyKindOf<FixRateResetDone>, c.setSuccessful) << c.legend;
  EXPECT_EQ(kind, c.reply) << c.legend;
  EXPECT_FALSE(o.gsvCycleComplete) << c.legend;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, OutcomeTable,
    ::testing::Values(
        OutcomeCase{
            "wrong checksum: nothing at all", "$GPGGA,1*00\r\n", false, SentenceRoute::None, false, false, false, {}},
        OutcomeCase{
            "no checksum: nothing at all", "$POLYN,1,2\r\n", false, SentenceRoute::None, false, false, false, {}},
        OutcomeCase{"GGA",
                    testsupport::NmeaFramed("GPGGA,1,2503.1234,N,12130.2500,E,1,08,0.9,545.4,M,,M,,"),
                    true,
                    SentenceRoute::GGA,
                    false,
                    false,
                    false,
                    {}},
        OutcomeCase{"GNGSA",
                    testsupport::NmeaFramed("GNGSA,A,3,01,,,,,,,,,,,,1.0,1.0,1.0"),
                    true,
                    SentenceRoute::GSA,
                    false,
                    false,
                    false,
                    {}},
        OutcomeCase{"PMTK001 reply", testsupport::NmeaFramed("PMTK001,314,3"), true, SentenceRoute::MtkReply, false,
                    false, false, kReplyKindOf<PmtkAck>},
        OutcomeCase{"start-up notice", testsupport::NmeaFramed("PMTK010,001"), true, SentenceRoute::MtkReply, false,
                    false, false, kReplyKindOf<PmtkStartupNotice>},
        OutcomeCase{"PMTK010 with another message is nothing",
                    testsupport::NmeaFramed("PMTK010,002"),
                    true,
                    SentenceRoute::MtkReply,
                    false,
                    false,
                    false,
                    {}},
        OutcomeCase{"PMTKCHN is a reply, not the indicator",
                    testsupport::NmeaFramed("PMTKCHN,1,2"),
                    true,
                    SentenceRoute::MtkReply,
                    false,
                    false,
                    false,
                    {}},
        OutcomeCase{"CHN at 5-7 ticks the indicator", testsupport::NmeaFramed("PXXXCHN,1"), true, SentenceRoute::Chn,
                    true, false, false, kReplyKindOf<ChannelStatus>},
        OutcomeCase{"ZRN001 with MODE shows the fix-rate group", testsupport::NmeaFramed("PZRN001,MODE,1"), true,
                    SentenceRoute::Zrn001, false, true, false, kReplyKindOf<ModeReply>},
        OutcomeCase{"ZRN001 with MODEX still begins with MODE", testsupport::NmeaFramed("PZRN001,MODEX"), true,
                    SentenceRoute::Zrn001, false, true, false, kReplyKindOf<ModeReply>},
        OutcomeCase{"ZRN001 with MOD does not", testsupport::NmeaFramed("PZRN001,MOD"), true, SentenceRoute::Zrn001,
                    false, false, false, kReplyKindOf<ModeReply>},
        OutcomeCase{"ZRN001 with lower-case mode does not", testsupport::NmeaFramed("PZRN001,mode"), true,
                    SentenceRoute::Zrn001, false, false, false, kReplyKindOf<ModeReply>},
        OutcomeCase{"ZRN818 shows Set Successful", testsupport::NmeaFramed("PZRN818"), true, SentenceRoute::Zrn818,
                    false, false, true, kReplyKindOf<FixRateResetDone>},
        OutcomeCase{"unknown type is valid and routed nowhere",
                    testsupport::NmeaFramed("POLYN,1"),
                    true,
                    SentenceRoute::None,
                    false,
                    false,
                    false,
                    {}}));

TEST(Session, BadChecksumLeavesTheStateAlone) {
  NmeaSession session;
  session.handle(testsupport::NmeaFramed("GPGGA,1,2503.1234,N,12130.2500,E,1,08,0.9,545.4,M,,M,,"));
  const std::string before = session.state.satInfo.latText;
  std::string corrupted = testsupport::NmeaFramed("GPGGA,1,4807.038,N,12130.2500,E,1,08,0.9,1.0,M,,M,,");
  corrupted[corrupted.size() - 3] ^= 1;
  EXPECT_FALSE(session.handle(corrupted).valid);
  EXPECT_EQ(session.state.satInfo.latText, before);
  EXPECT_EQ(session.state.satInfo.altitudeText, "545.4");
}

TEST(Session, AFailingClockDoesNotEscapeAndKeepsTheTexts) {
  NmeaSession session;
  session.clock = []() -> std::time_t { throw std::runtime_error("no clock"); };
  session.state.satInfo.dateText = "kept";
  SentenceOutcome o;
  const std::string rmc = testsupport::NmeaFramed("GPRMC,123456.000,A,4807.038,N,01131.000,E,0.02,84.4,150812,,,A");
  EXPECT_NO_THROW(o = session.handle(rmc));
  EXPECT_TRUE(o.valid);
  EXPECT_EQ(session.state.satInfo.dateText, "kept");
  // Reported once with its cause, then only counted.
  EXPECT_EQ(o.failure, std::optional<std::string>("no clock"));
  EXPECT_FALSE(session.handle(rmc).failure.has_value());
  EXPECT_EQ(session.failures.count(), 2u);
}

// --- GSA ---

TEST(Session, GsaFillsModeDopsAndUsedList) {
  NmeaSession session;
  session.handle(testsupport::NmeaFramed("GPGSA,A,3,01,02,03,04,05,06,07,08,09,10,11,12,1.5,0.9,1.2"));
  session.handle(testsupport::NmeaFramed("GPGSA,A,2,20,16,09,03,07,,,,,,,,2.64,1.98,2.31"));
  const Display_SatInfo_st& info = session.state.satInfo;
  EXPECT_EQ(info.fixModeText, "2D");
  EXPECT_EQ(session.state.lastFixMode, "2D");
  EXPECT_EQ(info.pdopText, "2.64");
  EXPECT_EQ(info.hdopText, "1.98");
  EXPECT_EQ(info.vdopText, "2.31");
  const UsedSatellites& used = session.state.satellites.usedOf(GnssSystem::GPS);
  std::vector<std::string> listed;
  for (std::size_t i = 0; i < used.count(); ++i) listed.emplace_back(used[i]);
  EXPECT_EQ(listed, (std::vector<std::string>{"20", "16", "09", "03", "07"}));
}

// --- GSV cycles and the chart data step ---

struct Sat {
  std::string label;  // the system's letter and the number as received
  int snr;
  std::uint32_t color;
};

std::vector<Sat> Summary(const std::vector<ChartSatellite>& sats) {
  std::vector<Sat> out;
  for (const ChartSatellite& s : sats) out.push_back({s.label, s.snr, s.color});
  return out;
}

bool operator==(const Sat& a, const Sat& b) { return a.label == b.label && a.snr == b.snr && a.color == b.color; }

std::ostream& operator<<(std::ostream& os, const Sat& s) {
  return os << "{" << s.label << ", " << s.snr << ", " << std::hex << s.color << std::dec << "}";
}

struct CycleCase {
  const char* legend;
  std::vector<std::string> bodies;  // handled in order
  std::vector<bool> completeAfter;  // outcome.gsvCycleComplete after each
  std::vector<Sat> charted;         // TakeChartSatellites after the last
};

class CycleTable : public ::testing::TestWithParam<CycleCase> {};

constexpr std::uint32_t kBlue = 0xFF0000;
constexpr std::uint32_t kSilver = 0xC0C0C0;

TEST_P(CycleTable, SatellitesOfACycle) {
  const CycleCase& c = GetParam();
  ASSERT_EQ(c.bodies.size(), c.completeAfter.size());
  NmeaSession session;
  for (std::size_t i = 0; i < c.bodies.size(); ++i) {
    const SentenceOutcome o = session.handle(testsupport::NmeaFramed(c.bodies[i]));
    ASSERT_TRUE(o.valid) << c.legend;
    EXPECT_EQ(o.gsvCycleComplete, c.completeAfter[i]) << c.legend << ", sentence " << i;
  }
  EXPECT_EQ(Summary(TakeChartSatellites(session.state)), c.charted) << c.legend;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, CycleTable,
    ::testing::Values(
        CycleCase{"satellites 3, 17 and 22 with 17 and 22 in the fix: ascending, silver, blue, blue",
                  {"GPGSA,A,3,17,22,,,,,,,,,,,1.0,1.0,1.0", "GPGSV,1,1,03,22,40,100,35,3,10,200,20,17,70,300,44"},
                  {false, true},
                  {{"3", 20, kSilver}, {"17", 44, kBlue}, {"22", 35, kBlue}}},
        CycleCase{"three-message cycle completes only with the third",
                  {"GPGSV,3,1,09,01,10,010,11,02,20,020,12,03,30,030,13,04,40,040,14",
                   "GPGSV,3,2,09,05,50,050,15,06,60,060,16,07,70,070,17,08,80,080,18", "GPGSV,3,3,09,09,90,090,19"},
                  {false, false, true},
                  {{"01", 11, kSilver},
                   {"02", 12, kSilver},
                   {"03", 13, kSilver},
                   {"04", 14, kSilver},
                   {"05", 15, kSilver},
                   {"06", 16, kSilver},
                   {"07", 17, kSilver},
                   {"08", 18, kSilver},
                   {"09", 19, kSilver}}},
        CycleCase{"message 1 of 1 without groups completes an empty cycle", {"GPGSV,1,1,00"}, {true}, {}},
        CycleCase{"PRN 0, an empty PRN and numbers no system has under GP change nothing",
                  {"GPGSV,1,1,04,00,10,010,11,,20,020,12,97,30,030,13,120,40,040,14"},
                  {true},
                  {}},
        CycleCase{"under GP the numbers name the system: 63 and 64 SBAS, 65 GLONASS, 201 BeiDou, 193 QZSS",
                  {"GPGSV,2,1,05,193,10,010,11,65,20,020,12,63,30,030,13,201,40,040,14", "GPGSV,2,2,05,64,50,050,15"},
                  {false, true},
                  {{"63", 13, kSilver},
                   {"64", 15, kSilver},
                   {"R65", 12, kSilver},
                   {"C201", 14, kSilver},
                   {"J193", 11, kSilver}}},
        CycleCase{"GP and GL cycles interleaved: each completes on its own and both are shown",
                  {"GPGSV,2,1,05,01,10,010,11,02,20,020,12,03,30,030,13,04,40,040,14", "GLGSV,2,1,05,65,10,010,21",
                   "GPGSV,2,2,05,05,50,050,15", "GLGSV,2,2,05,66,20,020,22"},
                  {false, false, true, true},
                  {{"01", 11, kSilver},
                   {"02", 12, kSilver},
                   {"03", 13, kSilver},
                   {"04", 14, kSilver},
                   {"05", 15, kSilver},
                   {"R65", 21, kSilver},
                   {"R66", 22, kSilver}}},
        CycleCase{"BeiDou numbers equal to GPS numbers stay apart",
                  {"GPGSV,1,1,02,05,10,010,11,13,20,020,12", "GBGSV,1,1,02,05,30,030,33,13,40,040,34"},
                  {true, true},
                  {{"05", 11, kSilver}, {"13", 12, kSilver}, {"C05", 33, kSilver}, {"C13", 34, kSilver}}},
        CycleCase{"two GNGSA in one burst, GPS numbers then GLONASS numbers: neither overwrites the other",
                  {"GNGSA,A,3,07,13,,,,,,,,,,,1.6,0.9,1.3", "GNGSA,A,3,71,,,,,,,,,,,,1.6,0.9,1.3",
                   "GPGSV,1,1,02,07,10,010,11,08,20,020,12", "GLGSV,1,1,02,71,30,030,13,86,40,040,14"},
                  {false, false, true, true},
                  {{"07", 11, kBlue}, {"08", 12, kSilver}, {"R71", 13, kBlue}, {"R86", 14, kSilver}}},
        CycleCase{"the system-ID field names the system: BeiDou 13 is used, GPS 13 is not",
                  {"GNGSA,A,3,13,,,,,,,,,,,,1.5,0.9,1.2,4", "GPGSV,1,1,01,13,10,010,11", "BDGSV,1,1,01,13,20,020,22"},
                  {false, true, true},
                  {{"13", 11, kSilver}, {"C13", 22, kBlue}}},
        CycleCase{"a GSA that lists nothing and names no system clears every system's marks",
                  {"GNGSA,A,3,07,,,,,,,,,,,,1.6,0.9,1.3", "GNGSA,A,3,71,,,,,,,,,,,,1.6,0.9,1.3",
                   "GNGSA,A,1,,,,,,,,,,,,,,,", "GPGSV,1,1,01,07,10,010,11", "GLGSV,1,1,01,71,30,030,13"},
                  {false, false, false, true, true},
                  {{"07", 11, kSilver}, {"R71", 13, kSilver}}},
        CycleCase{"a GSA that names its system and lists nothing clears only that system's marks",
                  {"GNGSA,A,3,07,,,,,,,,,,,,1.6,0.9,1.3,1", "GNGSA,A,3,71,,,,,,,,,,,,1.6,0.9,1.3,2",
                   "GNGSA,A,1,,,,,,,,,,,,,,,,2", "GPGSV,1,1,01,07,10,010,11", "GLGSV,1,1,01,71,30,030,13"},
                  {false, false, false, true, true},
                  {{"07", 11, kBlue}, {"R71", 13, kSilver}}},
        CycleCase{"once a GSA listed several systems, each such GSA replaces every system's marks",
                  {"GNGSA,A,3,07,71,,,,,,,,,,,1.6,0.9,1.3", "GNGSA,A,3,07,,,,,,,,,,,,1.6,0.9,1.3",
                   "GPGSV,1,1,01,07,10,010,11", "GLGSV,1,1,01,71,30,030,13"},
                  {false, false, true, true},
                  {{"07", 11, kBlue}, {"R71", 13, kSilver}}},
        CycleCase{"a signal ID after the last satellite is no satellite",
                  {"GLGSV,1,1,02,71,23,216,25,1", "GPGSV,1,1,01,07,10,010,11,0"},
                  {true, true},
                  {{"07", 11, kSilver}, {"R71", 25, kSilver}}},
        CycleCase{"PRN 07 is stored at 7 with its text; 7 in GSA does not make it used",
                  {"GPGSA,A,3,7,,,,,,,,,,,,1.0,1.0,1.0", "GPGSV,1,1,01,07,45,180,30"},
                  {false, true},
                  {{"07", 30, kSilver}}},
        CycleCase{"empty or non-numeric SNR charts as 0",
                  {"GPGSV,1,1,02,05,45,180,,06,45,180,xx"},
                  {true},
                  {{"05", 0, kSilver}, {"06", 0, kSilver}}},
        CycleCase{
            "lost last message: its satellites are drawn with the next cycle",
            {"GPGSV,2,1,05,01,10,010,11,02,20,020,12,03,30,030,13,04,40,040,14", "GPGSV,1,1,01,10,50,050,15"},
            {false, true},
            {{"01", 11, kSilver}, {"02", 12, kSilver}, {"03", 13, kSilver}, {"04", 14, kSilver}, {"10", 15, kSilver}}},
        CycleCase{"a PRN reported twice keeps its last report",
                  {"GPGSV,2,1,02,05,10,010,11", "GPGSV,2,2,02,05,20,020,22"},
                  {false, true},
                  {{"05", 22, kSilver}}},
        CycleCase{"counts compare as numbers: 02 of 2 completes",
                  {"GPGSV,2,02,01,05,10,010,11"},
                  {true},
                  {{"05", 11, kSilver}}}));

TEST(Charts, EachCycleStartsFromAnEmptyTable) {
  NmeaSession session;
  session.handle(testsupport::NmeaFramed("GPGSV,1,1,02,05,10,010,11,06,20,020,22"));
  EXPECT_EQ(TakeChartSatellites(session.state).size(), 2u);
  EXPECT_FALSE(session.state.gsvCycleComplete);
  EXPECT_TRUE(session.state.satellites.cycleOf(SkySource::GP).fillingCount() == 0);
  // Nothing is due until the next cycle completes; then only satellite 06 is reported again.
  EXPECT_TRUE(TakeChartSatellites(session.state).empty());
  session.handle(testsupport::NmeaFramed("GPGSV,1,1,01,06,20,020,23"));
  EXPECT_EQ(Summary(TakeChartSatellites(session.state)), (std::vector<Sat>{{"06", 23, kSilver}}));
}

TEST(Charts, NothingIsTakenBeforeTheCycleCompletes) {
  NmeaSession session;
  session.handle(testsupport::NmeaFramed("GPGSV,2,1,01,05,10,010,11"));
  EXPECT_TRUE(TakeChartSatellites(session.state).empty());
  ASSERT_EQ(session.state.satellites.cycleOf(SkySource::GP).fillingCount(), 1u);  // still waiting for its cycle
  EXPECT_EQ(session.state.satellites.cycleOf(SkySource::GP).fillingBegin()[0].prn, "05");
}

// Which systems the charts show after each redraw while bursts come in; a burst lists the
// talkers that complete a cycle in it, one satellite each.
struct SilenceCase {
  const char* legend;
  std::vector<std::vector<std::string>> bursts;
  std::vector<std::string> shownAfterEachCycle;  // letters of the systems shown: G GPS, R, E
};

class SilenceTable : public ::testing::TestWithParam<SilenceCase> {};

TEST_P(SilenceTable, ASilentSystemLeavesWithoutLingering) {
  const SilenceCase& c = GetParam();
  NmeaSession session;
  std::vector<std::string> shown;
  for (const std::vector<std::string>& burst : c.bursts) {
    for (const std::string& talker : burst) {
      session.handle(testsupport::NmeaFramed(talker + "GSV,1,1,01," + (talker == "GL" ? "71" : "05") + ",10,010,11"));
      std::string letters;
      for (const ChartSatellite& s : TakeChartSatellites(session.state)) {
        letters += s.system == GnssSystem::GPS ? "G" : std::string(GnssSystemLetter(s.system));
      }
      shown.push_back(letters);
    }
  }
  EXPECT_EQ(shown, c.shownAfterEachCycle) << c.legend;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, SilenceTable,
    ::testing::Values(SilenceCase{"GLONASS switched off: shown through the first burst without it, gone at the second",
                                  {{"GP", "GL"}, {"GP", "GL"}, {"GP"}, {"GP"}, {"GP"}},
                                  {"G", "GR", "GR", "GR", "GR", "G", "G"}},
                      SilenceCase{"Galileo every other burst: once its rhythm is known it stays between its cycles",
                                  {{"GP", "GA"}, {"GP"}, {"GP", "GA"}, {"GP"}, {"GP", "GA"}, {"GP"}},
                                  {"G", "GE", "GE", "G", "GE", "GE", "GE", "GE", "GE"}},
                      SilenceCase{"Galileo every other burst, then off: gone at the first burst beyond its rhythm",
                                  {{"GP", "GA"}, {"GP"}, {"GP", "GA"}, {"GP"}, {"GP"}, {"GP"}},
                                  {"G", "GE", "GE", "G", "GE", "GE", "GE", "G"}},
                      SilenceCase{"GPS switched off while GLONASS goes on: GPS leaves the same way",
                                  {{"GP", "GL"}, {"GL"}, {"GL"}},
                                  {"G", "GR", "GR", "R"}}));

struct PositionCase {
  const char* legend;
  std::string elevation;
  std::string azimuth;
  double x;
  double y;
};

TEST(Charts, SkyPlotPositions) {
  const PositionCase rows[] = {
      {"zenith lies at the centre", "90", "123", 0.0, 0.0},
      {"horizon east lies right of the centre", "0", "90", 100.0, 0.0},
      {"empty elevation and azimuth: north horizon", "", "", 0.0, 100.0},
      {"horizon south", "0", "180", 0.0, -100.0},
      {"horizon west", "0", "270", -100.0, 0.0},
      {"60 degrees up in the north-east", "60", "45", 50.0 * std::sqrt(0.5), 50.0 * std::sqrt(0.5)},
      {"non-numeric texts count as 0", "abc", "x", 0.0, 100.0},
  };
  for (const PositionCase& r : rows) {
    NmeaSession session;
    session.handle(testsupport::NmeaFramed("GPGSV,1,1,01,12," + r.elevation + "," + r.azimuth + ",40"));
    const std::vector<ChartSatellite> sats = TakeChartSatellites(session.state);
    ASSERT_EQ(sats.size(), 1u) << r.legend;
    EXPECT_NEAR(sats[0].x, r.x, 1e-9) << r.legend;
    EXPECT_NEAR(sats[0].y, r.y, 1e-9) << r.legend;
    EXPECT_EQ(sats[0].elevationText, r.elevation) << r.legend;
    EXPECT_EQ(sats[0].azimuthText, r.azimuth) << r.legend;
    EXPECT_EQ(sats[0].snrText, "40") << r.legend;
  }
}

TEST(Charts, UseComparesTextsExactlyWithinTheSystem) {
  NmeaSession session;
  session.handle(testsupport::NmeaFramed("GPGSA,A,3,07,50,123456789,1234567,1234567p,,,,,,,22,1.0,1.0,1.0"));
  session.handle(testsupport::NmeaFramed("GLGSA,A,3,71,,,,,,,,,,,,1.0,1.0,1.0"));
  struct Row {
    GnssSystem system;
    const char* prn;
    bool used;
  };
  const Row rows[] = {
      {GnssSystem::GPS, "07", true},
      {GnssSystem::GPS, "7", false},
      {GnssSystem::GPS, "22", true},
      {GnssSystem::SBAS, "50", true},
      {GnssSystem::GLONASS, "71", true},
      {GnssSystem::GLONASS, "07", false},
      {GnssSystem::BeiDou, "07", false},
      {GnssSystem::GPS, "71", false},
      // Texts of seven bytes and longer, as a receiver may send no sane number.
      {GnssSystem::GPS, "1234567", true},
      {GnssSystem::GPS, "1234568", false},
      {GnssSystem::GPS, "123456789", true},
      {GnssSystem::GPS, "12345678", false},
      {GnssSystem::GPS, "123456788", false},
      {GnssSystem::GPS, "1234567p", true},
      {GnssSystem::GPS, "1234567x", false},
  };
  for (const Row& r : rows) {
    EXPECT_EQ(session.state.satellites.isUsed(r.system, r.prn), r.used) << GnssSystemName(r.system) << " " << r.prn;
  }
}

}  // namespace
