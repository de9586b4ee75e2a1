// The simulated receiver's model on a fake clock: its sentences, its replies to every command
// the program sends, what it obeys, its NMEA faults, and its LOCUS logbook read back through
// dumps by a reader of the format's own. No terminal, no waiting. Each row of a table builds
// a model of its own, so no row leans on another.
//
// Thread rule: single-threaded.
#include <gtest/gtest.h>

#include <algorithm>
#include <bitset>
#include <cmath>
#include <map>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "sim/receiver_model.h"
#include "tests/core/test_sim_support.h"

using simtest::bodiesOf;
using simtest::fieldOf;
using simtest::joinChunks;
using Lines = std::vector<std::string>;

namespace {

// Runs the model from..to (ms) in 100 ms steps and returns everything it wrote.
std::string runFor(sim::ReceiverModel& model, sim::SimMs fromMs, sim::SimMs toMs) {
  std::string out;
  for (sim::SimMs t = fromMs; t <= toMs; t += 100) out += joinChunks(model.advance(t, true));
  return out;
}

std::map<std::string, int> countByAddress(const Lines& bodies) {
  std::map<std::string, int> counts;
  for (const std::string& body : bodies) ++counts[fieldOf(body, 0)];
  return counts;
}

// A command as the program writes it: a bare body is framed here; bytes with their own line
// end (a checksum written out, noise, a zero byte after it) go as they are.
std::string wire(const std::string& command) {
  return command.find('\n') == std::string::npos ? testsupport::NmeaFramed(command) : command;
}

Lines repliesTo(sim::ReceiverModel& model, const std::string& command, sim::SimMs now = 20000) {
  return bodiesOf(joinChunks(model.receive(wire(command), now)));
}

// The pieces of text between separators, empty ones too.
Lines split(const std::string& text, char separator) {
  Lines pieces(1);
  for (const char c : text) {
    if (c == separator) pieces.emplace_back();
    else pieces.back() += c;
  }
  return pieces;
}

// Lists in the rows are written as words, one space between: no command, reply, address or
// talker has a space in it.
Lines words(const std::string& text) { return text.empty() ? Lines{} : split(text, ' '); }

// The replies to each command, sent one after another at now.
Lines sendAll(sim::ReceiverModel& model, const std::string& commands, sim::SimMs now) {
  Lines replies;
  for (const std::string& c : words(commands)) {
    for (std::string& r : repliesTo(model, c, now)) replies.push_back(std::move(r));
  }
  return replies;
}

// A command (one write) and every reply to it, after commands whose replies are not looked
// at; and the line speed: the one a chunk of the reply moves the line to (0: none) and the
// receiver's own after it.
struct Exchange {
  const char* legend;
  std::string before, command, replies;
  std::uint32_t lineAfter = 0, baud = 115200;
};

void expectExchanges(const sim::ModelOptions& options, const std::vector<Exchange>& rows) {
  for (const Exchange& row : rows) {
    SCOPED_TRACE(row.legend);
    sim::ReceiverModel model(options);
    model.advance(0, true);  // the power-up notice
    sendAll(model, row.before, 100);
    const std::vector<sim::OutChunk> out = model.receive(wire(row.command), 20000);
    EXPECT_EQ(bodiesOf(joinChunks(out)), words(row.replies));
    std::uint32_t lineAfter = 0;
    std::string beforeMove;  // what goes out at the old speed
    for (const sim::OutChunk& c : out) {
      if (lineAfter == 0) beforeMove += c.bytes;
      if (c.baudAfter != 0) lineAfter = c.baudAfter;
    }
    EXPECT_EQ(lineAfter, row.lineAfter);
    // An acknowledgement goes at the old speed; the start-up notice of a full cold start at
    // the factory speed it moved to.
    const bool acknowledged = row.replies.starts_with("PMTK001,");
    EXPECT_EQ(bodiesOf(beforeMove), row.lineAfter == 0 || acknowledged ? words(row.replies) : Lines{});
    EXPECT_EQ(model.baud(), row.baud);
  }
}

// A restart's start-up notice comes back as its reply.
sim::ModelOptions withStartupNotice() {
  sim::ModelOptions options = simtest::quietOptions();
  options.startupMessage = true;
  return options;
}

const std::string kDefaultRates = "PMTK514,0,1,1,1,1,1,0,0,0,0,0,0,0,0,0,0,0,0,0";
const std::string kZero(1, '\0');

TEST(SimModel, EverySentenceIsWellFramedThroughStartUp) {
  sim::ReceiverModel model(simtest::quietOptions());
  const std::string stream = runFor(model, 0, 30000);
  const Lines parts = simtest::cutAtDollar(stream);
  ASSERT_GT(parts.size(), 150u);
  for (const std::string& part : parts) EXPECT_TRUE(simtest::strictBody(part)) << part;
  EXPECT_EQ(stream.front(), '$') << "nothing before the first sentence";
  const std::map<std::string, int> counts = countByAddress(bodiesOf(stream));
  for (const char* type : {"GPGGA", "GPGSA", "GPRMC", "GPVTG"}) EXPECT_EQ(counts.at(type), 30) << type;
  EXPECT_GE(counts.at("GPGSV"), 50) << "several GSV messages a cycle once satellites are found";
  EXPECT_EQ(counts.count("GPGLL"), 0u);
}

TEST(SimModel, NoFixThen2DThen3D) {
  struct Row {
    const char* legend;
    sim::SimMs atMs;
    std::string gsaMode, ggaQuality, rmcStatus;
    std::string command = "";  // sent at 0
  };
  const std::vector<Row> rows = {
      {"just after start", 1000, "1", "0", "V"},
      {"still searching", 4000, "1", "0", "V"},
      {"2D after 5 s", 6000, "2", "1", "A"},
      {"3D after 10 s", 11000, "3", "1", "A"},
      {"3D later", 60000, "3", "1", "A"},
      {"DGPS from SBAS: a differential fix", 15000, "3", "2", "A", "PMTK301,2"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.legend);
    sim::ReceiverModel model(simtest::quietOptions());
    if (!row.command.empty()) model.receive(wire(row.command), 0);
    if (row.atMs > 1000) model.advance(row.atMs - 1000, true);
    std::map<std::string, std::string> last;
    for (const std::string& b : bodiesOf(joinChunks(model.advance(row.atMs, true)))) last[fieldOf(b, 0)] = b;
    EXPECT_EQ(fieldOf(last["GPGSA"], 2), row.gsaMode);
    EXPECT_EQ(fieldOf(last["GPGGA"], 6), row.ggaQuality);
    EXPECT_EQ(fieldOf(last["GPRMC"], 2), row.rmcStatus);
    EXPECT_EQ(fieldOf(last["GPGGA"], 2).empty(), row.ggaQuality == "0") << "position only with a fix";
  }
}

TEST(SimModel, SkyChangesAndPositionMoves) {
  const sim::Sky sky(25.05, 121.50);
  const sim::Position start = sky.positionAt(0);
  EXPECT_DOUBLE_EQ(start.latitudeDeg, 25.05);
  EXPECT_DOUBLE_EQ(start.longitudeDeg, 121.50);
  const sim::Position later = sky.positionAt(300000);
  EXPECT_GT(later.latitudeDeg, start.latitudeDeg);
  EXPECT_LT(later.latitudeDeg - start.latitudeDeg, 0.01) << "slowly";
  // Over two hours these satellites of each system rise or set at least once; the
  // geostationary ones never move.
  struct Row {
    const char* legend;
    sim::GnssSystem system;
    std::vector<int> passing, still;
  };
  const std::vector<Row> rows = {
      {"GPS and SBAS", sim::GnssSystem::Gps, {3, 7, 9, 12, 16, 22}, {50}},
      {"GLONASS", sim::GnssSystem::Glonass, {65, 68, 74, 81, 88}, {}},
      {"Galileo", sim::GnssSystem::Galileo, {1, 4, 12, 30, 36}, {}},
      {"BeiDou", sim::GnssSystem::Beidou, {6, 16, 21, 29, 37}, {1, 3}},
      {"QZSS", sim::GnssSystem::Qzss, {1, 2, 4}, {3}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.legend);
    std::map<int, bool> seenUp;
    std::map<int, bool> seenDown;
    std::map<int, std::set<std::pair<int, int>>> places;
    for (std::int64_t t = 0; t < 7200; t += 60) {
      std::map<int, bool> up;
      for (const sim::SatelliteView& s : sky.satellitesAt(1700000000 + t, sim::SystemBit(row.system))) {
        EXPECT_EQ(s.system, row.system);
        up[s.prn] = true;
        places[s.prn].insert({s.elevationDeg, s.azimuthDeg});
      }
      for (int prn : row.passing) (up[prn] ? seenUp : seenDown)[prn] = true;
      for (int prn : row.still) EXPECT_TRUE(up[prn]) << "number " << prn;
    }
    for (int prn : row.passing) EXPECT_TRUE(seenUp[prn] && seenDown[prn]) << "number " << prn;
    for (int prn : row.still) EXPECT_EQ(places[prn].size(), 1u) << "number " << prn;
  }
}

// The queries and commands of the window's buttons, and what the receiver does with the bytes
// around them.
TEST(SimModel, RepliesToEveryCommandOfTheProgram) {
  const std::string someRates = "PMTK314,1,0,0,2,0,0,0,0,0,0,0,0,0,0,0,0,0,1,1";
  const std::vector<Exchange> rows = {
      {"rates query", "", "PMTK414", kDefaultRates},
      {"rates query with zero byte", "", "$PMTK414*33\r\n" + kZero, kDefaultRates},
      {"fix period query", "", "$PMTK400*36\r\n" + kZero, "PMTK500,1000,0,0,0,0"},
      {"DGPS query", "", "$PMTK401*37\r\n" + kZero, "PMTK501,0"},
      {"firmware query", "", "PMTK605", "PMTK705,AXN_1.30,0000,Kappa-32,1.0"},
      {"maker's mode query", "", "PZRN000,MODE", "PZRN001,MODE,0"},
      {"maker's fix-rate reset", "", "PZRN818", "PZRN818"},
      {"default rates", "", "$PMTK314,-1*04\r\n" + kZero, "PMTK001,314,3"},
      {"fix period", "", "PMTK300,200,0,0,0,0", "PMTK001,300,3"},
      {"fix period out of range", "", "PMTK300,50,0,0,0,0", "PMTK001,300,2"},
      {"DGPS mode", "", "PMTK301,2", "PMTK001,301,3"},
      {"DGPS mode out of range", "", "PMTK301,7", "PMTK001,301,2"},
      {"EPO clear", "", "PMTK127", "PMTK001,127,3"},
      {"rates with a bad value", "", "PMTK314,1,1,9", "PMTK001,314,2"},
      {"second query of the DGPS button: no reply", "", "$PMTK602*36\r\n" + kZero, ""},
      {"hot restart: start-up notice", "", "$PMTK101*32\r\n" + kZero, "PMTK010,001"},
      {"unknown query", "", "PMTK499", "PMTK001,499,1"},
      {"wrong checksum is ignored", "", "$PMTK414*34\r\n", ""},
      {"missing checksum is ignored", "", "$PMTK414\r\n", ""},
      {"lower-case checksum is taken", "", "$PMTK301,2*2e\r\n", "PMTK001,301,3"},
      {"two commands in one write", "", "$PMTK401*37\r\n$PMTK400*36\r\n", "PMTK501,0 PMTK500,1000,0,0,0,0"},
      {"noise before the command", "", "xx\x01$$PMTK401*37\r\n", "PMTK501,0"},
      // What they change, as their queries report it.
      {"rates set", someRates, "PMTK414", "PMTK514,1,0,0,2,0,0,0,0,0,0,0,0,0,0,0,0,0,1,1"},
      {"rates back to default", someRates + " PMTK314,-1", "PMTK414", kDefaultRates},
      {"fix period set", "PMTK300,200,0,0,0,0", "PMTK400", "PMTK500,200,0,0,0,0"},
      {"maker's reset of the fix period", "PMTK300,200,0,0,0,0 PZRN818", "PMTK400", "PMTK500,1000,0,0,0,0"},
      {"DGPS mode set", "PMTK301,2", "PMTK401", "PMTK501,2"},
      {"EPO cleared", "PMTK127", "PMTK607", "PMTK707,0,0,0,0,0,0,0,0,0"},
      {"full cold start restores factory rates", "PMTK314,1,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0 PMTK104", "PMTK414",
       kDefaultRates},
  };
  expectExchanges(withStartupNotice(), rows);
}

TEST(SimModel, CommandSplitAcrossWritesIsAnsweredOnce) {
  const std::string command = "$PMTK605*31\r\n";
  for (std::size_t cut = 1; cut < command.size(); ++cut) {
    SCOPED_TRACE(cut);
    sim::ReceiverModel model(simtest::quietOptions());
    std::string out = joinChunks(model.receive(command.substr(0, cut), 100));
    out += joinChunks(model.receive(command.substr(cut), 110));
    EXPECT_EQ(bodiesOf(out), Lines{"PMTK705,AXN_1.30,0000,Kappa-32,1.0"});
  }
}

// $PMTK251: acknowledged at the old speed, the line moving once the acknowledgement is out;
// a speed the receivers do not list, or no number, changes nothing.
TEST(SimModel, LineSpeedMovesAfterItsAcknowledgement) {
  const std::vector<Exchange> rows = {
      {"9600", "", "PMTK251,9600", "PMTK001,251,3", 9600, 9600},
      {"921600, the MT3333 family's top", "", "PMTK251,921600", "PMTK001,251,3", 921600, 921600},
      {"57600", "", "PMTK251,57600", "PMTK001,251,3", 57600, 57600},
      {"0: the receiver's own speed", "PMTK251,9600", "PMTK251,0", "PMTK001,251,3", 115200, 115200},
      {"a speed no receiver lists", "", "PMTK251,5000", "PMTK001,251,2"},
      {"no number", "", "PMTK251,fast", "PMTK001,251,0"},
      {"no field", "", "PMTK251", "PMTK001,251,0"},
      {"a full cold start: back to the factory speed", "PMTK251,9600", "PMTK104", "PMTK010,001", 115200, 115200},
      {"a hot start keeps the speed", "PMTK251,9600", "PMTK101", "PMTK010,001", 0, 9600},
  };
  expectExchanges(withStartupNotice(), rows);
  sim::ModelOptions keeps = withStartupNotice();
  keeps.keepBaud = true;
  expectExchanges(keeps, {{"firmware that takes it without acting", "", "PMTK251,9600", "PMTK001,251,3"}});
}

// The settings beyond the buttons: answered, obeyed, reported by their queries, kept by the
// restarts a receiver's battery-backed memory survives and given back by a full cold start.
TEST(SimModel, SettingsBeyondTheButtonsAndRestarts) {
  const std::string kNavOff = "PMTK527,0.00";
  const std::vector<Exchange> rows = {
      {"SBAS on", "", "PMTK313,1", "PMTK001,313,3"},
      {"SBAS with a 2", "", "PMTK313,2", "PMTK001,313,0"},
      {"SBAS integrity", "", "PMTK319,1", "PMTK001,319,3"},
      {"static navigation off", "", "PMTK386,0.0", "PMTK001,386,3"},
      {"static navigation, no number", "", "PMTK386,fast", "PMTK001,386,0"},
      {"periodic standby", "", "PMTK225,2,3000,12000,18000,72000", "PMTK001,225,3"},
      {"periodic standby, one pair", "", "PMTK225,2,3000,12000", "PMTK001,225,3"},
      {"periodic, a run time too short", "", "PMTK225,1,500,12000,0,0", "PMTK001,225,2"},
      {"periodic, second run not longer", "", "PMTK225,2,3000,12000,2000,72000", "PMTK001,225,2"},
      {"periodic without times", "", "PMTK225,2", "PMTK001,225,0"},
      {"normal", "", "PMTK225,0", "PMTK001,225,3"},
      {"AlwaysLocate", "", "PMTK225,8", "PMTK001,225,3"},
      {"perpetual backup: no wake-up line here", "", "PMTK225,4", "PMTK001,225,1"},
      {"standby of another kind", "", "PMTK161,1", "PMTK001,161,0"},
      {"AIC on", "", "PMTK286,1", "PMTK001,286,3"},
      {"EASY on", "", "PMTK869,1,1", "PMTK001,869,3"},
      {"EASY malformed", "", "PMTK869,1,5", "PMTK001,869,0"},
      {"a command no receiver knows", "", "PMTK397,0.4", "PMTK001,397,1"},
      {"another", "", "PMTK262,3", "PMTK001,262,1"},
      // What they change, as their queries report it.
      {"SBAS at start", "", "PMTK413", "PMTK513,1"},
      {"SBAS off", "PMTK313,0", "PMTK413", "PMTK513,0"},
      {"SBAS test mode", "PMTK319,0", "PMTK419", "PMTK519,0"},
      {"static navigation", "PMTK386,1.2", "PMTK447", "PMTK527,1.20"},
      {"static navigation in hundredths", "PMTK386,0.45", "PMTK447", "PMTK527,0.45"},
      {"static navigation beyond 2 m/s refused", "PMTK386,2.5", "PMTK447", kNavOff},
      {"EASY off", "PMTK869,1,0", "PMTK869,0", "PMTK869,2,0,3"},
      {"kept by a hot restart", "PMTK313,0 PMTK101", "PMTK413", "PMTK513,0"},
      {"kept by a warm restart", "PMTK386,1.2 PMTK102", "PMTK447", "PMTK527,1.20"},
      {"kept by a cold restart", "PMTK869,1,0 PMTK103", "PMTK869,0", "PMTK869,2,0,3"},
      {"the datum kept by a hot restart", "PMTK330,1 PMTK101", "PMTK430", "PMTK530,1"},
      {"a full cold start gives the first values back", "PMTK313,0 PMTK386,1.2 PMTK104",
       "$PMTK413*34\r\n$PMTK447*35\r\n", "PMTK513,1 " + kNavOff},
  };
  expectExchanges(simtest::quietOptions(), rows);
  // A firmware that lacks one: its commands and queries are unknown to it.
  sim::ModelOptions lacking = simtest::quietOptions();
  lacking.lacking = {869, 447};
  expectExchanges(lacking, {{"lacking EASY", "", "PMTK869,0", "PMTK001,869,1"},
                            {"lacking static navigation", "", "PMTK447", "PMTK001,447,1"},
                            {"SBAS still there", "", "PMTK413", "PMTK513,1"}});
}

// Standby: silent from the acknowledgement on, awake again at the first byte. A periodic mode:
// output only in its run times.
TEST(SimModel, StandbyAndPeriodicModesSilenceTheOutput) {
  sim::ReceiverModel standby(simtest::quietOptions());
  EXPECT_FALSE(runFor(standby, 0, 2000).empty());
  EXPECT_EQ(repliesTo(standby, "PMTK161,0", 2050), Lines{"PMTK001,161,3"});
  EXPECT_TRUE(standby.inStandby());
  EXPECT_EQ(runFor(standby, 2100, 6000), "") << "nothing while in standby";
  standby.receive("\r\n", 6050);
  EXPECT_FALSE(standby.inStandby());
  EXPECT_FALSE(bodiesOf(runFor(standby, 6100, 8000)).empty()) << "awake again";

  sim::ReceiverModel periodic(simtest::quietOptions());
  periodic.receive(wire("PMTK225,2,3000,12000,0,0"), 10000);
  std::set<sim::SimMs> burstSeconds;
  for (sim::SimMs t = 10100; t <= 40000; t += 100) {
    if (!bodiesOf(joinChunks(periodic.advance(t, true))).empty()) burstSeconds.insert((t - 10000) / 1000);
  }
  // Run 3 s, sleep 12 s, over and over.
  for (const sim::SimMs second : burstSeconds)
    EXPECT_LT(second % 15, 3) << "output in a sleep time, " << second << " s in";
  EXPECT_TRUE(burstSeconds.count(0) && burstSeconds.count(15)) << "output in each run time";
  periodic.receive(wire("PMTK225,0"), 40050);
  EXPECT_FALSE(bodiesOf(runFor(periodic, 44000, 46000)).empty()) << "normal again: every fix";
}

TEST(SimModel, RatesAndFixPeriodDecideWhatGoesOut) {
  sim::ReceiverModel rates(simtest::quietOptions());
  // GLL every fix, GGA every second fix, ZDA and MCHN every fix, nothing else.
  rates.receive(wire("PMTK314,1,0,0,2,0,0,0,0,0,0,0,0,0,0,0,0,0,1,1"), 0);
  const std::map<std::string, int> expected = {{"GPGLL", 10}, {"GPGGA", 5}, {"GPZDA", 10}, {"PMTKCHN", 10}};
  EXPECT_EQ(countByAddress(bodiesOf(runFor(rates, 100, 10000))), expected);

  sim::ReceiverModel period(simtest::quietOptions());
  period.receive(wire("PMTK300,200,0,0,0,0"), 0);
  EXPECT_EQ(countByAddress(bodiesOf(runFor(period, 100, 2000))).at("GPGGA"), 10);
}

// Time from a restart command to the first 3D GSA.
sim::SimMs timeTo3d(const std::string& restartCommand) {
  sim::ReceiverModel model(simtest::quietOptions());
  runFor(model, 0, 20000);
  model.receive(wire(restartCommand), 20050);
  for (sim::SimMs t = 20100; t < 60000; t += 100) {
    for (const std::string& b : bodiesOf(joinChunks(model.advance(t, true)))) {
      if (fieldOf(b, 0) == "GPGSA" && fieldOf(b, 2) == "3") return t - 20050;
    }
  }
  return -1;
}

TEST(SimModel, RestartsDropTheFixForLongerTheColderTheyAre) {
  const sim::SimMs hot = timeTo3d("PMTK101");
  const sim::SimMs warm = timeTo3d("PMTK102");
  const sim::SimMs cold = timeTo3d("PMTK103");
  EXPECT_GT(hot, 0);
  EXPECT_LT(hot, warm);
  EXPECT_LT(warm, cold);
}

TEST(SimModel, AcknowledgementFlagsOnRequest) {
  struct Row {
    const char* legend;
    int all;
    std::map<int, int> perCommand;
    std::string ack, rates;  // the rates reported after the command
  };
  const std::string command = "PMTK314,1,1,1,1,1,5,0,0,0,0,0,0,0,0,0,0,0,1,0";
  const std::string changed = "PMTK514,1,1,1,1,1,5,0,0,0,0,0,0,0,0,0,0,0,1,0";
  const std::vector<Row> rows = {
      {"natural", -1, {}, "PMTK001,314,3", changed},
      {"all invalid", 0, {}, "PMTK001,314,0", kDefaultRates},
      {"all unsupported", 1, {}, "PMTK001,314,1", kDefaultRates},
      {"314 failed", -1, {{314, 2}}, "PMTK001,314,2", kDefaultRates},
      {"another command fails, 314 does not", -1, {{300, 2}}, "PMTK001,314,3", changed},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.legend);
    sim::ModelOptions options = simtest::quietOptions();
    options.ackFlagAll = row.all;
    options.ackFlagFor = row.perCommand;
    sim::ReceiverModel model(options);
    EXPECT_EQ(repliesTo(model, command), Lines{row.ack});
    EXPECT_EQ(repliesTo(model, "PMTK414"), Lines{row.rates});
  }
}

TEST(SimModel, FirmwareAndEpoStateAreConfigurable) {
  sim::ModelOptions options = simtest::quietOptions();
  options.firmware = "AXN_1.0,1234,Kappa-20,";
  options.epoIsDefault = false;
  options.epo = sim::EpoState{56, 1468, 172800, 1470, 151200};
  sim::ReceiverModel model(options);
  EXPECT_EQ(repliesTo(model, "PMTK605"), Lines{"PMTK705,AXN_1.0,1234,Kappa-20,"});
  const Lines epo = repliesTo(model, "PMTK607");
  ASSERT_EQ(epo.size(), 1u);
  EXPECT_TRUE(epo[0].starts_with("PMTK707,56,1468,172800,1470,151200,")) << epo[0];
}

TEST(SimModel, DefaultEpoStateIsACurrentSevenDaySet) {
  sim::ReceiverModel model(simtest::quietOptions());
  const Lines epo = repliesTo(model, "PMTK607");
  ASSERT_EQ(epo.size(), 1u);
  EXPECT_EQ(fieldOf(epo[0], 1), "28");
  // 2023-11-14 22:13:20 UTC is GPS week 2288.
  const long firstWeek = std::stol(fieldOf(epo[0], 2));
  const long lastWeek = std::stol(fieldOf(epo[0], 4));
  const long span = (lastWeek - firstWeek) * 604800 + std::stol(fieldOf(epo[0], 5)) - std::stol(fieldOf(epo[0], 3));
  EXPECT_TRUE(firstWeek == 2288 || firstWeek == 2287) << firstWeek;
  EXPECT_EQ(span, 27 * 21600);
}

TEST(SimModel, ZrnCommandsUnansweredWhenTurnedOff) {
  sim::ModelOptions options = simtest::quietOptions();
  options.answerZrn = false;
  expectExchanges(options, {{"mode query", "", "PZRN000,MODE", ""}, {"fix-rate reset", "", "PZRN818", ""}});
}

// --- satellite systems ------------------------------------------------------------------

constexpr sim::SystemSet kGps = sim::SystemBit(sim::GnssSystem::Gps);
constexpr sim::SystemSet kGlonass = sim::SystemBit(sim::GnssSystem::Glonass);
constexpr sim::SystemSet kGalileo = sim::SystemBit(sim::GnssSystem::Galileo);
constexpr sim::SystemSet kBeidou = sim::SystemBit(sim::GnssSystem::Beidou);
constexpr sim::SystemSet kQzss = sim::SystemBit(sim::GnssSystem::Qzss);
constexpr sim::SystemSet kFour = kGps | kGlonass | kGalileo | kBeidou;
// The moment the manual and --help name (--utc 1700001010): 36 to 38 satellites of the four
// systems in view for four minutes.
constexpr std::int64_t kCrowdedSkyUtcMs = 1700001010000LL;

sim::ModelOptions systemsOptions(sim::SystemSet systems) {
  sim::ModelOptions options = simtest::quietOptions();
  options.systems = systems;
  options.startUtcMs = kCrowdedSkyUtcMs;
  return options;
}

// The sentences of one output cycle (one a second at the default period).
Lines burstAt(sim::ReceiverModel& model, sim::SimMs atMs) { return bodiesOf(joinChunks(model.advance(atMs, true))); }

Lines fieldsOf(const std::string& body) { return split(body, ','); }

bool isType(const std::string& body, const char* type) { return body.size() > 5 && body.compare(2, 3, type) == 0; }

// The tables below name a list of talkers, addresses or IDs as one string, space between.
void addWord(std::string& words, const std::string& word) { words += (words.empty() ? "" : " ") + word; }

// Addresses in order of appearance, a run of one address counted once.
std::string addressRuns(const Lines& bodies) {
  std::string runs;
  std::string last;
  for (const std::string& b : bodies) {
    if (fieldOf(b, 0) != last) addWord(runs, last = fieldOf(b, 0));
  }
  return runs;
}

// Field 18 of each GSA, the system ID; "-" for a GSA without it.
std::string gsaSystemIds(const Lines& bodies) {
  std::string ids;
  for (const std::string& b : bodies) {
    const std::size_t fields = fieldsOf(b).size();
    if (isType(b, "GSA")) addWord(ids, fields == 19 ? fieldsOf(b)[18] : (fields == 18 ? "-" : "bad-field-count"));
  }
  return ids;
}

// GSV talkers in order of appearance.
std::string gsvTalkers(const Lines& bodies) {
  Lines gsv;
  for (const std::string& b : bodies) {
    if (isType(b, "GSV")) gsv.push_back(b.substr(0, 2));
  }
  return addressRuns(gsv);
}

// GSV talkers of a burst of these systems.
std::string talkersOf(sim::SystemSet systems) {
  std::string talkers;
  const char* names[] = {"GP", "GL", "GA", "GB", "GQ"};
  for (int i = 0; i < sim::kSystemCount; ++i) {
    if ((systems & (1u << i)) != 0) addWord(talkers, names[i]);
  }
  return talkers;
}

// A burst of each set of systems: its addresses in order, and one GSA per system in the fix,
// each listing that system's used satellites with the same DOPs; without the system ID the
// same sentences without their last field. GPS alone talks as the older chips do.
TEST(SimModelSystems, TalkersAndOneGsaPerSystemInTheFix) {
  struct Row {
    const char* legend;
    sim::SystemSet systems;
    sim::SimMs atMs;
    std::string mode;
    std::string addresses, gsaIds;  // a run of one address counted once; empty: not looked at
    sim::OutputRates rates = sim::kDefaultRates;
  };
  const sim::OutputRates all = {1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0};
  const std::vector<Row> rows = {
      {"searching: one GSA, no system ID", kFour | kQzss, 4000, "1", "", ""},
      {"2D: three satellites in all", kFour | kQzss, 7000, "2", "", ""},
      {"3D, four systems", kFour, 15000, "3", "GNGGA GNGSA GPGSV GLGSV GAGSV GBGSV GNRMC GNVTG", "1 2 3 4"},
      {"3D, GPS and QZSS", kGps | kQzss, 15000, "3", "", ""},
      {"3D, Galileo and BeiDou", kGalileo | kBeidou, 15000, "3", "", ""},
      {"GPS alone: the older sentences", kGps, 15000, "3", "GPGGA GPGSA GPGSV GPRMC GPVTG", "-"},
      {"five systems, every position sentence", kFour | kQzss, 15000, "3",
       "GNGGA GNGLL GNGSA GPGSV GLGSV GAGSV GBGSV GQGSV GNRMC GNVTG GNZDA", "1 2 3 4 5", all},
      {"GLONASS alone, without the SBAS satellite", kGlonass, 15000, "3", "GNGGA GNGSA GLGSV GNRMC GNVTG", "2"},
      {"BeiDou and QZSS", kBeidou | kQzss, 15000, "3", "GNGGA GNGSA GBGSV GQGSV GNRMC GNVTG", "4 5"},
  };
  const std::map<std::string, std::string> talkerOfId = {
      {"1", "GP"}, {"2", "GL"}, {"3", "GA"}, {"4", "GB"}, {"5", "GQ"}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.legend);
    sim::ModelOptions options = systemsOptions(row.systems);
    options.rates = row.rates;
    sim::ReceiverModel withId(options);
    options.gsaSystemId = false;
    sim::ReceiverModel withoutId(options);
    runFor(withId, 0, row.atMs - 100);
    runFor(withoutId, 0, row.atMs - 100);
    const Lines burst = burstAt(withId, row.atMs);
    const Lines plain = burstAt(withoutId, row.atMs);
    EXPECT_EQ(row.addresses.empty() ? "" : addressRuns(burst), row.addresses);
    EXPECT_EQ(row.gsaIds.empty() ? "" : gsaSystemIds(burst), row.gsaIds);

    // Tracked satellites of each system, from its GSV.
    std::map<std::string, std::map<std::string, int>> snrOf;
    Lines gga;
    std::vector<Lines> gsas;
    for (const std::string& b : burst) {
      const Lines f = fieldsOf(b);
      if (isType(b, "GSV")) {
        for (std::size_t i = 4; i + 3 < f.size(); i += 4)
          snrOf[b.substr(0, 2)][f[i]] = f[i + 3].empty() ? -1 : std::stoi(f[i + 3]);
      }
      if (isType(b, "GGA")) gga = f;
      if (isType(b, "GSA")) gsas.push_back(f);
    }
    EXPECT_EQ(snrOf["GP"].count("50"), (row.systems & kGps) != 0 ? 1u : 0u) << "the SBAS satellite comes with GPS";
    ASSERT_FALSE(gga.empty());
    ASSERT_FALSE(gsas.empty());
    const bool gpsAlone = row.systems == kGps;
    int listed = 0;
    std::string lastId;
    for (const Lines& f : gsas) {
      EXPECT_EQ(f[0], gpsAlone ? "GPGSA" : "GNGSA");
      EXPECT_EQ(f[2], row.mode);
      EXPECT_EQ(f[15] + f[16] + f[17], gsas[0][15] + gsas[0][16] + gsas[0][17]) << "the same DOPs in each";
      EXPECT_EQ(f[16], gga[8]) << "HDOP as in GGA";
      if (row.mode == "1") {
        EXPECT_EQ(f.size(), 18u) << "no system ID without a fix";
        EXPECT_EQ(gsas.size(), 1u);
        continue;
      }
      ASSERT_EQ(f.size(), gpsAlone ? 18u : 19u);
      const std::string id = gpsAlone ? "1" : f[18];
      EXPECT_GT(id, lastId) << "systems in order";
      lastId = id;
      ASSERT_EQ(talkerOfId.count(id), 1u) << id;
      const std::string talker = talkerOfId.at(id);
      int own = 0;
      for (std::size_t i = 3; i < 15; ++i) {
        if (f[i].empty()) continue;
        EXPECT_EQ(own++, static_cast<int>(i) - 3) << "satellites first, empty fields after";
        ASSERT_EQ(snrOf[talker].count(f[i]), 1u) << "number " << f[i] << " in view in the " << talker << "GSV";
        EXPECT_GE(snrOf[talker][f[i]], 20) << "number " << f[i];
      }
      EXPECT_GT(own, 0) << "a GSA only for a system in the fix";
      if (row.mode == "3") {
        int strong = 0;
        for (const auto& [number, snr] : snrOf[talker])
          strong += snr >= 20 && !(talker == "GP" && number == "50") ? 1 : 0;
        EXPECT_EQ(own, std::min(strong, 12)) << "a 3D fix uses every strong satellite, twelve of a system at most";
      }
      listed += own;
    }
    if (row.mode == "1") EXPECT_EQ(listed, 0);
    else if (row.mode == "2") EXPECT_EQ(listed, 3);
    else EXPECT_EQ(gsas.size(), std::bitset<8>(row.systems).count()) << "every system has satellites in the fix";
    EXPECT_EQ(listed, std::stoi(gga[7])) << "GGA counts every satellite the GSAs list";

    ASSERT_EQ(plain.size(), burst.size());
    for (std::size_t i = 0; i < burst.size(); ++i) {
      const bool idLast = isType(burst[i], "GSA") && fieldsOf(burst[i]).size() == 19;
      EXPECT_EQ(plain[i], idLast ? burst[i].substr(0, burst[i].rfind(',')) : burst[i]);
    }
  }
}

// Every GSV cycle of every system through start-up and fix: whole, consistently numbered,
// satellites in the system's number range, in plausible places and with plausible signals;
// every sentence strictly framed.
TEST(SimModelSystems, EachSystemsGsvCycleIsWhole) {
  struct Range {
    int low, high;
  };
  const std::map<std::string, std::vector<Range>> ranges = {
      {"GP", {{1, 32}, {50, 50}}}, {"GL", {{65, 96}}}, {"GA", {{1, 36}}}, {"GB", {{1, 63}}}, {"GQ", {{1, 10}}},
  };
  struct Row {
    const char* legend;
    sim::SystemSet systems;
    std::int64_t startUtcMs;
    int minInView, maxInView;  // satellites in view in each burst of the 3D fix (0: not checked)
  };
  const std::vector<Row> rows = {
      {"GPS alone", kGps, 1700000000000LL, 0, 0},
      {"five systems", kFour | kQzss, 1700000000000LL, 0, 0},
      {"four systems at the moment the manual names", kFour, kCrowdedSkyUtcMs, 36, 38},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.legend);
    sim::ModelOptions options = systemsOptions(row.systems);
    options.startUtcMs = row.startUtcMs;
    sim::ReceiverModel model(options);
    std::set<std::string> talkersSeen;
    std::set<bool> gpsDigits;  // GPS numbers of one digit (true), of two (false)
    int bursts3d = 0;
    int cycles = 0;
    for (sim::SimMs t = 1000; t <= 240000; t += 1000) {
      SCOPED_TRACE(t);
      const std::string stream = joinChunks(model.advance(t, true));
      for (const std::string& part : simtest::cutAtDollar(stream)) ASSERT_TRUE(simtest::strictBody(part)) << part;
      const Lines burst = bodiesOf(stream);
      std::map<std::string, std::vector<Lines>> cycleOf;  // talker: its messages
      for (const std::string& b : burst) {
        if (isType(b, "GSV")) cycleOf[b.substr(0, 2)].push_back(fieldsOf(b));
      }
      int inView = 0;
      for (const auto& [talker, messages] : cycleOf) {
        SCOPED_TRACE(talker);
        ++cycles;
        talkersSeen.insert(talker);
        ASSERT_EQ(ranges.count(talker), 1u);
        const std::string total = messages[0][3];
        std::set<int> numbers;
        for (std::size_t m = 0; m < messages.size(); ++m) {
          const Lines& f = messages[m];
          EXPECT_EQ(f[1], std::to_string(messages.size())) << "message count";
          EXPECT_EQ(f[2], std::to_string(m + 1)) << "message number";
          EXPECT_EQ(f[3], total) << "the same total in each message";
          ASSERT_EQ((f.size() - 4) % 4, 0u);
          EXPECT_LE(f.size(), 20u) << "four satellites a message at most";
          for (std::size_t i = 4; i < f.size(); i += 4) {
            const int number = std::stoi(f[i]);
            EXPECT_TRUE(numbers.insert(number).second) << "number " << number << " twice";
            bool inRange = false;
            for (const Range& r : ranges.at(talker)) inRange = inRange || (number >= r.low && number <= r.high);
            EXPECT_TRUE(inRange) << "number " << number;
            if (talker == "GP") gpsDigits.insert(number < 10);
            if (!f[i + 1].empty()) {
              EXPECT_GE(std::stoi(f[i + 1]), 0);
              EXPECT_LE(std::stoi(f[i + 1]), 90);
              EXPECT_LT(std::stoi(f[i + 2]), 360);
            }
            if (!f[i + 3].empty()) {
              EXPECT_GE(std::stoi(f[i + 3]), 10) << "SNR";
              EXPECT_LE(std::stoi(f[i + 3]), 55) << "SNR";
            }
          }
        }
        EXPECT_EQ(std::stoul(total), numbers.size());
        EXPECT_EQ(total.size(), 2u);
        EXPECT_EQ(messages.size(), std::max<std::size_t>(1, (numbers.size() + 3) / 4)) << "no empty message";
        inView += static_cast<int>(numbers.size());
      }
      const auto gsa = std::find_if(burst.begin(), burst.end(), [](const std::string& b) { return isType(b, "GSA"); });
      ASSERT_TRUE(gsa != burst.end()) << "a GSA in each burst";
      if (fieldOf(*gsa, 2) == "3" && row.minInView > 0) {
        ++bursts3d;
        EXPECT_GE(inView, row.minInView);
        EXPECT_LE(inView, row.maxInView);
      }
    }
    const Lines talkers = words(talkersOf(row.systems));
    EXPECT_EQ(talkersSeen, std::set<std::string>(talkers.begin(), talkers.end()));
    EXPECT_GE(cycles, 20);
    EXPECT_EQ(gpsDigits.size(), (row.systems & kGps) != 0 ? 2u : 0u) << "GPS numbers of one digit and of two";
    EXPECT_GE(bursts3d, row.minInView > 0 ? 200 : 0);
  }
}

TEST(SimModelSystems, GalileoGsvOnlyEveryNthBurst) {
  for (const int every : {1, 2, 3}) {
    SCOPED_TRACE(every);
    sim::ModelOptions options = systemsOptions(kFour);
    options.galileoEvery = every;
    sim::ReceiverModel model(options);
    for (int burst = 1; burst <= 12; ++burst) {
      SCOPED_TRACE(burst);
      const Lines bodies = burstAt(model, burst * 1000);
      EXPECT_EQ(gsvTalkers(bodies), (burst - 1) % every == 0 ? "GP GL GA GB" : "GP GL GB");
      if (burst > 10) {
        EXPECT_EQ(gsaSystemIds(bodies), "1 2 3 4") << "the fix still uses Galileo";
      }
    }
  }
}

TEST(SimModelSystems, Pmtk353ChoosesTheSystemsSearched) {
  struct Row {
    const char* legend;
    sim::SystemSet systems;  // what the receiver has
    std::string commands, replies;
    std::string talkers, gsaIds;  // GSV talkers and GSA system IDs of the next burst
    std::map<int, int> ackFlagFor = {};
  };
  const char* four = "GP GL GA GB";
  const char* fourIds = "1 2 3 4";
  const std::vector<Row> rows = {
      {"Galileo off", kFour, "PMTK353,1,1,0,0,1", "PMTK001,353,3", "GP GL GB", "1 2 4"},
      {"older two-field form: GPS and GLONASS", kFour, "PMTK353,1,1", "PMTK001,353,3", "GP GL", "1 2"},
      {"GALILEO_FULL alone searches Galileo", kFour, "PMTK353,0,0,0,1,0", "PMTK001,353,3", "GA", "3"},
      {"GPS alone: the older sentences again", kFour, "PMTK353,1,0,0,0,0", "PMTK001,353,3", "GP", "-"},
      {"off and on again", kFour, "PMTK353,0,1,0,0,0 PMTK353,1,1,1,0,1", "PMTK001,353,3 PMTK001,353,3", four, fourIds},
      {"QZSS has no field and stays", kGps | kGlonass | kQzss, "PMTK353,1,0,0,0,0", "PMTK001,353,3", "GP GQ", "1 5"},
      {"a system the receiver lacks", kGps | kGlonass, "PMTK353,1,1,0,0,1", "PMTK001,353,2", "GP GL", "1 2"},
      {"GLONASS on a GPS-only receiver", kGps, "PMTK353,1,1,0,0,0", "PMTK001,353,2", "GP", "-"},
      {"nothing to search", kFour, "PMTK353,0,0,0,0,0", "PMTK001,353,2", four, fourIds},
      {"a value other than 0 and 1", kFour, "PMTK353,1,2,0,0,0", "PMTK001,353,0", four, fourIds},
      {"an empty field", kFour, "PMTK353,1,,0,0,0", "PMTK001,353,0", four, fourIds},
      {"one field", kFour, "PMTK353,1", "PMTK001,353,0", four, fourIds},
      {"six fields", kFour, "PMTK353,1,0,0,0,0,0", "PMTK001,353,0", four, fourIds},
      {"refused by --ack-flag", kFour, "PMTK353,1,0,0,0,0", "PMTK001,353,2", four, fourIds, {{353, 2}}},
      {"a full cold start searches every system again", kFour, "PMTK353,1,0,0,0,0 PMTK104", "PMTK001,353,3 PMTK010,001",
       four, "-"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.legend);
    sim::ModelOptions options = systemsOptions(row.systems);
    options.ackFlagFor = row.ackFlagFor;
    options.startupMessage = true;
    options.powerUpNotice = false;
    sim::ReceiverModel model(options);
    runFor(model, 0, 15000);
    EXPECT_EQ(gsvTalkers(burstAt(model, 16000)), talkersOf(row.systems));
    EXPECT_EQ(sendAll(model, row.commands, 16050), words(row.replies));
    const Lines after = burstAt(model, 17000);
    EXPECT_EQ(gsvTalkers(after), row.talkers);
    EXPECT_EQ(gsaSystemIds(after), row.gsaIds);
    EXPECT_EQ(fieldOf(after[0], 0).substr(0, 2), row.talkers == "GP" ? "GP" : "GN");
  }
}

// --- faults -------------------------------------------------------------------------------

std::vector<sim::OutChunk> cycleWith(const sim::NmeaFaults& faults, std::uint32_t seed = 7) {
  sim::ModelOptions options = simtest::quietOptions();
  options.nmeaFaults = faults;
  options.seed = seed;
  sim::ReceiverModel model(options);
  std::vector<sim::OutChunk> all;
  for (sim::SimMs t = 1000; t <= 20000; t += 1000) {
    for (sim::OutChunk& c : model.advance(t, true)) all.push_back(std::move(c));
  }
  return all;
}

Lines sentencesWith(const sim::NmeaFaults& faults) { return simtest::cutAtDollar(joinChunks(cycleWith(faults))); }

// The XOR of the bytes between '$' and '*', what the checksum should say.
unsigned sumOf(const std::string& sentence) {
  unsigned sum = 0;
  for (std::size_t i = 1; i < sentence.find('*'); ++i) sum ^= static_cast<unsigned char>(sentence[i]);
  return sum;
}

TEST(SimModelFaults, ChecksumFaults) {
  struct Row {
    const char* legend;
    sim::NmeaFaults faults;
    bool relaxedValid;   // passes a check that takes either case (as the program's does)
    bool lettersChange;  // checksums with hex letters fail the strict upper-case check
  };
  const std::vector<Row> rows = {
      {"none", {}, true, false},
      {"bad checksum", {.badChecksum = 1}, false, false},
      {"lower case", {.lowerCaseChecksum = 1}, true, true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.legend);
    int strict = 0;
    int relaxed = 0;
    int total = 0;
    int withLetters = 0;
    for (const std::string& part : sentencesWith(row.faults)) {
      ++total;
      if (simtest::strictBody(part)) ++strict;
      const unsigned sum = sumOf(part);
      unsigned written = 0;
      if (std::sscanf(part.c_str() + part.find('*') + 1, "%2x", &written) == 1 && written == sum) ++relaxed;
      if ((sum >> 4) > 9 || (sum & 0xF) > 9) ++withLetters;
    }
    ASSERT_GT(total, 100);
    ASSERT_GT(withLetters, 0);
    EXPECT_EQ(relaxed, row.relaxedValid ? total : 0);
    EXPECT_EQ(strict, !row.relaxedValid ? 0 : (row.lettersChange ? total - withLetters : total));
  }
}

TEST(SimModelFaults, OneDigitChecksumOnlyWhereTheValueAllowsIt) {
  int oneDigit = 0;
  for (const std::string& part : sentencesWith({.oneDigitChecksum = 1})) {
    const std::size_t star = part.find('*');
    ASSERT_NE(star, std::string::npos);
    const std::string digits = part.substr(star + 1, part.find('\r') - star - 1);
    EXPECT_EQ(digits.size(), sumOf(part) < 16 ? 1u : 2u) << part;
    EXPECT_EQ(std::stoul(digits, nullptr, 16), sumOf(part));
    oneDigit += digits.size() == 1 ? 1 : 0;
  }
  EXPECT_GT(oneDigit, 0) << "some sentence of 20 cycles has a checksum below 0x10";
}

TEST(SimModelFaults, BytesBetweenSentences) {
  struct Row {
    const char* legend;
    sim::NmeaFaults faults;
    std::size_t minExtra;  // bytes behind the line end of every sentence
    bool onlyNul;
  };
  const std::vector<Row> rows = {
      {"NUL bytes", {.nulBytes = 1}, 1, true},
      {"garbage", {.garbage = 1}, 1, false},
      {"long runs without $", {.longRun = 1, .longRunBytes = 6000}, 6000, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.legend);
    const Lines parts = sentencesWith(row.faults);
    ASSERT_GT(parts.size(), 100u);
    for (const std::string& part : parts) {
      const std::size_t end = part.find("\r\n");
      ASSERT_NE(end, std::string::npos);
      const std::string extra = part.substr(end + 2);
      EXPECT_TRUE(simtest::strictBody(part.substr(0, end + 2))) << "the sentence itself stays valid";
      EXPECT_GE(extra.size(), row.minExtra);
      EXPECT_TRUE(!row.onlyNul || extra.find_first_not_of('\0') == std::string::npos) << "NUL bytes only";
    }
  }
}

TEST(SimModelFaults, SplitWritesKeepTheBytesAndAddAGap) {
  const std::vector<sim::OutChunk> chunks = cycleWith({.splitWrites = 1, .splitGapMs = 9});
  const std::vector<sim::OutChunk> plain = cycleWith({});
  EXPECT_EQ(joinChunks(chunks), joinChunks(plain)) << "same bytes, only cut";
  EXPECT_EQ(chunks.size(), plain.size() * 2);
  const auto gaps =
      std::count_if(chunks.begin(), chunks.end(), [](const sim::OutChunk& c) { return c.gapBeforeMs == 9; });
  EXPECT_EQ(static_cast<std::size_t>(gaps), plain.size());
}

TEST(SimModelFaults, SeedMakesFaultsReproducible) {
  const sim::NmeaFaults faults = {.badChecksum = 0.3, .garbage = 0.3, .splitWrites = 0.3};
  EXPECT_EQ(joinChunks(cycleWith(faults, 11)), joinChunks(cycleWith(faults, 11)));
  EXPECT_NE(joinChunks(cycleWith(faults, 11)), joinChunks(cycleWith(faults, 12)));
}

TEST(SimModelFaults, RepliesStayClean) {
  sim::ModelOptions options = simtest::quietOptions();
  options.nmeaFaults = {.badChecksum = 1, .garbage = 1};
  sim::ReceiverModel model(options);
  EXPECT_EQ(joinChunks(model.receive(wire("PMTK605"), 100)), wire("PMTK705,AXN_1.30,0000,Kappa-32,1.0"));
}

// --- LOCUS logbook --------------------------------------------------------------------------

constexpr std::int64_t kStartUtcS = 1700000000;  // quietOptions' clock
using Locus = sim::LocusOptions;

sim::ModelOptions locusOptions(const Locus& locus) {
  sim::ModelOptions options = simtest::quietOptions();
  options.locus = locus;
  return options;
}

// The records the used part of the flash holds, read from a dump.
simtest::LocusFlashRead flashOf(sim::ReceiverModel& model, sim::SimMs now) {
  const simtest::LocusDump dump = simtest::readLocusDump(joinChunks(model.receive(wire("PMTK622,1"), now)));
  EXPECT_TRUE(dump.faults.empty()) << dump.faults.front();
  EXPECT_TRUE(dump.ended);
  const simtest::LocusFlashRead flash = simtest::readLocusFlash(dump.bytes);
  EXPECT_TRUE(flash.faults.empty()) << flash.faults.front();
  for (const simtest::LocusRecord& r : flash.records) EXPECT_TRUE(r.checkOk);
  return flash;
}

// The status line after the commands, and what the commands were answered. Without a
// logger every one of them is unsupported, the status query too.
TEST(SimLocus, CommandsAreAcknowledgedAndObeyed) {
  struct Row {
    const char* legend;
    Locus locus;
    std::string commands, replies;
    std::string status;                  // empty: no logger, no status line
    sim::SimMs atMs = 20000;             // 1000: no fix yet; 20000: a 3D fix
    std::uint32_t seed = 1;              // the logger's serial number
    std::map<int, int> ackFlagFor = {};  // as --ack-flag sets it
  };
  // Capacity: 16 sectors of (4096 - 64) / 16 = 252 basic points, or of 4032 / 20 = 201.
  const Locus on = {.enabled = true};
  const Locus ten = {.enabled = true, .fill = 10};
  const Locus tenAs2 = {.enabled = true, .fill = 10, .statusWhileLogging = 2};
  const Locus full = {.enabled = true, .type = 1, .fill = 4032};
  const std::string tenLogging = "PMTKLOG,1,0,10,31,15,0,0,0,10,0";
  const std::string tenStopped = "PMTKLOG,1,0,10,31,15,0,0,1,10,0";
  const std::string fullStopped = "PMTKLOG,1,1,10,31,15,0,0,1,4032,100";
  const std::string empty = "PMTKLOG,1,0,10,31,15,0,0,0,0,0";
  const std::vector<Row> rows = {
      {"a new logger: logging, empty", on, "", "", empty},
      {"300 points of 20 bytes every 5 s, stop when full; the serial is the seed",
       Locus{.enabled = true, .type = 1, .content = 0x7F, .intervalS = 5, .fill = 300}, "", "",
       "PMTKLOG,456,1,10,127,5,0,0,0,300,9", 20000, 456},
      {"1000 basic points: 24 % of 4032", Locus{.enabled = true, .fill = 1000}, "", "",
       "PMTKLOG,1,0,10,31,15,0,0,0,1000,24"},
      {"logging written as 2", tenAs2, "", "", "PMTKLOG,1,0,10,31,15,0,0,2,10,0"},
      {"stopped is 1 under that convention too", tenAs2, "PMTK185,1", "PMTK001,185,3", tenStopped},
      {"mode in hex", Locus{.enabled = true, .modeInHex = true}, "", "", "PMTKLOG,1,0,A,31,15,0,0,0,0,0"},
      {"interval set, no points", on, "PMTK187,1,60", "PMTK001,187,3", "PMTKLOG,1,0,10,31,60,0,0,0,0,0"},
      {"full and stop when full: stopped at 100 %", full, "", "", fullStopped},
      {"4100 points wrapped: the first sector holds the newest 68, the other 15 sectors 3780",
       Locus{.enabled = true, .fill = 4100}, "", "", "PMTKLOG,1,0,10,31,15,0,0,0,3848,95"},
      {"300 points erased", Locus{.enabled = true, .fill = 300}, "PMTK184,1", "PMTK001,184,3", empty},
      {"no logger: status", {}, "PMTK183", "PMTK001,183,1", ""},
      {"no logger: erase", {}, "PMTK184,1", "PMTK001,184,1", ""},
      {"no logger: start", {}, "PMTK185,0", "PMTK001,185,1", ""},
      {"no logger: a point now", {}, "PMTK186,1", "PMTK001,186,1", ""},
      {"no logger: interval", {}, "PMTK187,1,5", "PMTK001,187,1", ""},
      {"no logger: dump", {}, "PMTK622,1", "PMTK001,622,1", ""},
      {"a status query with a field", ten, "PMTK183,1", "PMTK001,183,0", tenLogging},
      {"erase", ten, "PMTK184,1", "PMTK001,184,3", empty},
      {"erase with 0", ten, "PMTK184,0", "PMTK001,184,0", tenLogging},
      {"erase without its field", ten, "PMTK184", "PMTK001,184,0", tenLogging},
      {"erase refused by --ack-flag", ten, "PMTK184,1", "PMTK001,184,2", tenLogging, 20000, 1, {{184, 2}}},
      {"stop", ten, "PMTK185,1", "PMTK001,185,3", tenStopped},
      {"stop and start", ten, "PMTK185,1 PMTK185,0", "PMTK001,185,3 PMTK001,185,3", tenLogging},
      {"start with 2", ten, "PMTK185,2", "PMTK001,185,0", tenLogging},
      {"a point now with a fix", ten, "PMTK186,1", "PMTK001,186,3", "PMTKLOG,1,0,10,31,15,0,0,0,11,0"},
      {"a point now without a fix fails", ten, "PMTK186,1", "PMTK001,186,2", tenLogging, 1000},
      {"a point now while stopped", ten, "PMTK185,1 PMTK186,1", "PMTK001,185,3 PMTK001,186,3",
       "PMTKLOG,1,0,10,31,15,0,0,1,11,0"},
      {"a point now with 0", ten, "PMTK186,0", "PMTK001,186,0", tenLogging},
      {"interval 60 s", ten, "PMTK187,1,60", "PMTK001,187,3", "PMTKLOG,1,0,10,31,60,0,0,0,10,0"},
      {"interval 0 fails", ten, "PMTK187,1,0", "PMTK001,187,2", tenLogging},
      {"interval beyond 16 bits fails", ten, "PMTK187,1,65536", "PMTK001,187,2", tenLogging},
      {"interval not a number", ten, "PMTK187,1,x", "PMTK001,187,0", tenLogging},
      {"interval without its value", ten, "PMTK187,1", "PMTK001,187,0", tenLogging},
      {"by distance: not this logger", ten, "PMTK187,2,10", "PMTK001,187,1", tenLogging},
      {"an unknown kind of interval", ten, "PMTK187,7,10", "PMTK001,187,0", tenLogging},
      {"a dump of neither part", ten, "PMTK622,5", "PMTK001,622,0", tenLogging},
      {"a dump without its field", ten, "PMTK622", "PMTK001,622,0", tenLogging},
      {"full, stop when full: start fails", full, "PMTK185,0", "PMTK001,185,2", fullStopped},
      {"full, stop when full: a point now fails", full, "PMTK186,1", "PMTK001,186,2", fullStopped},
      {"full, stop when full: erased, it starts", full, "PMTK184,1 PMTK185,0", "PMTK001,184,3 PMTK001,185,3",
       "PMTKLOG,1,1,10,31,15,0,0,0,0,0"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.legend);
    sim::ModelOptions options = locusOptions(row.locus);
    options.ackFlagFor = row.ackFlagFor;
    options.seed = row.seed;
    sim::ReceiverModel model(options);
    EXPECT_EQ(sendAll(model, row.commands, row.atMs), words(row.replies));
    EXPECT_EQ(repliesTo(model, "PMTK183", row.atMs + 10),
              (row.status.empty() ? Lines{"PMTK001,183,1"} : Lines{row.status, "PMTK001,183,3"}));
  }
}

// A dump as it comes: its opening line telling the lines to follow, 24 words a line but the
// last, whole sectors, its end and its acknowledgement, never as periodic output a saturated
// line may drop; the records' check bytes as they were written; and the dump a fault cuts
// short, without its end.
TEST(SimLocus, DumpFramingAndFaultFlags) {
  struct Row {
    const char* legend;
    Locus locus;
    long declared;           // 96 bytes a line: a sector takes 42 2/3
    std::size_t lastWords;   // of the last line
    long lines = -1;         // sent, if fewer than declared
    long badIndex = -1;      // the record with the wrong check byte (-1: none)
    sim::SimMs runToMs = 0;  // live logging first
    std::string command = "PMTK622,1";
  };
  const std::vector<Row> rows = {
      {"empty, the used part: no line", Locus{.enabled = true}, 0, 0},
      {"one sector used", Locus{.enabled = true, .fill = 10}, 43, 16},
      {"two sectors of basic points", Locus{.enabled = true, .fill = 253}, 86, 8},
      {"two sectors of 20-byte points (201 a sector)", Locus{.enabled = true, .content = 0x7F, .fill = 202}, 86, 8},
      {"one sector of 20-byte points", Locus{.enabled = true, .content = 0x7F, .fill = 201}, 43, 16},
      {"all of an empty flash", Locus{.enabled = true}, 683, 16, -1, -1, 0, "PMTK622,0"},
      {"all of it with points", Locus{.enabled = true, .fill = 10}, 683, 16, -1, -1, 0, "PMTK622,0"},
      {"wrapped: every sector used", Locus{.enabled = true, .fill = 4100}, 683, 16},
      {"the 7th record's check byte", Locus{.enabled = true, .fill = 20, .badRecord = 7}, 43, 16, -1, 6},
      {"the first record's", Locus{.enabled = true, .fill = 20, .badRecord = 1}, 43, 16, -1, 0},
      {"the first live record's after 20 filled", Locus{.enabled = true, .fill = 20, .badRecord = 21}, 43, 16, -1, 20,
       6000},
      {"a dump that stops after 5 lines", Locus{.enabled = true, .fill = 20, .dumpStopsAfter = 5}, 43, 24, 5},
      {"... after none", Locus{.enabled = true, .fill = 20, .dumpStopsAfter = 0}, 43, 0, 0},
      {"... one line before its end", Locus{.enabled = true, .fill = 20, .dumpStopsAfter = 42}, 43, 24, 42},
      {"... at its end: whole", Locus{.enabled = true, .fill = 20, .dumpStopsAfter = 43}, 43, 16},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.legend);
    sim::ReceiverModel model(locusOptions(row.locus));
    if (row.runToMs > 0) runFor(model, 0, row.runToMs);
    const std::vector<sim::OutChunk> chunks = model.receive(wire(row.command), row.runToMs + 20000);
    for (const sim::OutChunk& c : chunks) EXPECT_FALSE(c.periodic) << "a saturated line must not drop a dump line";
    const simtest::LocusDump dump = simtest::readLocusDump(joinChunks(chunks));
    EXPECT_TRUE(dump.faults.empty()) << dump.faults.front();
    EXPECT_EQ(dump.declared, row.declared) << "the opening line tells the whole dump";
    const bool whole = row.lines < 0;
    ASSERT_EQ(dump.lines.size(), static_cast<std::size_t>(whole ? row.declared : row.lines));
    for (std::size_t i = 0; i + 1 < dump.wordsOfLine.size(); ++i) EXPECT_EQ(dump.wordsOfLine[i], 24u) << "line " << i;
    EXPECT_EQ(dump.wordsOfLine.empty() ? 0 : dump.wordsOfLine.back(), row.lastWords);
    EXPECT_EQ(dump.ended, whole);
    EXPECT_EQ(dump.ack, whole ? "PMTK001,622,3" : "");
    if (!whole) continue;
    EXPECT_EQ(dump.bytes.size() % 4096, 0u) << "whole sectors";
    const simtest::LocusFlashRead flash = simtest::readLocusFlash(dump.bytes);
    for (std::size_t i = 0; i < flash.records.size(); ++i)
      EXPECT_EQ(flash.records[i].checkOk, static_cast<long>(i) != row.badIndex) << "record " << i;
    EXPECT_GT(static_cast<long>(flash.records.size()), row.badIndex);
  }
}

// The flash a dump carries, read by the reader above: headers, records by the content bits,
// check bytes, and the values against the simulated walk.
TEST(SimLocus, DumpCarriesTheFlashAsTheFormatSays) {
  struct Row {
    const char* legend;
    Locus locus;
    std::size_t recordBytes;
    int fixByte;
  };
  const std::vector<Row> rows = {
      {"basic: time, fix, latitude, longitude, height", Locus{.enabled = true, .fill = 300}, 16, 1},
      {"with speed and track", Locus{.enabled = true, .content = 0x7F, .fill = 300}, 20, 1},
      {"with HDOP and satellites too", Locus{.enabled = true, .content = 0x147F, .fill = 300}, 23, 1},
      {"time, latitude and satellites, every 4 s",
       Locus{.enabled = true, .content = 0x1005, .intervalS = 4, .fill = 500}, 10, -1},
      {"stop when full, fix byte by dimension: 3D",
       Locus{.enabled = true, .type = 1, .content = 0x3, .intervalS = 1, .fill = 900, .fixDimension = true}, 6, 3},
  };
  const sim::Sky sky(25.05, 121.50);
  for (const Row& row : rows) {
    SCOPED_TRACE(row.legend);
    const Locus& o = row.locus;
    ASSERT_EQ(simtest::locusRecordBytes(o.content), row.recordBytes) << "the reader's own table";
    sim::ReceiverModel model(locusOptions(o));
    const simtest::LocusFlashRead flash = flashOf(model, 600);
    const std::size_t perSector = 4032 / row.recordBytes;
    const std::size_t sectors = (static_cast<std::size_t>(o.fill) + perSector - 1) / perSector;
    ASSERT_EQ(flash.headers.size(), sectors) << "the used part is the sectors written";
    for (std::size_t s = 0; s < sectors; ++s) {
      SCOPED_TRACE(s);
      ASSERT_TRUE(flash.headers[s].has_value());
      const simtest::LocusHeader& h = *flash.headers[s];
      // Mode 2 | 8: fix only, by interval; no distance, no speed.
      EXPECT_EQ(std::tie(h.sector, h.type, h.mode, h.content, h.intervalS, h.distanceM, h.speedKmh, h.checkOk,
                         h.unusedErased),
                std::make_tuple(s, static_cast<unsigned>(o.type), 2u | 8u, o.content,
                                static_cast<unsigned>(o.intervalS), 0u, 0u, true, true));
    }
    ASSERT_EQ(flash.records.size(), static_cast<std::size_t>(o.fill));
    for (std::size_t i = 0; i < flash.records.size(); ++i) {
      SCOPED_TRACE(i);
      const simtest::LocusRecord& r = flash.records[i];
      EXPECT_EQ(r.sector * perSector + r.slot, i) << "back to back from the first sector";
      const std::int64_t utcS = kStartUtcS - (o.fill - static_cast<long>(i)) * o.intervalS;
      const sim::Position p = sky.positionAt((utcS - kStartUtcS) * 1000);
      // A field the content leaves out stays as the reader starts it.
      EXPECT_EQ(r.utcS, o.content & 0x1 ? utcS : -1) << "one interval apart, the newest one before the start";
      EXPECT_EQ(r.fix, row.fixByte);
      EXPECT_NEAR(r.latitudeDeg, o.content & 0x4 ? p.latitudeDeg : 0, 2e-5);
      EXPECT_NEAR(r.longitudeDeg, o.content & 0x8 ? p.longitudeDeg : 0, 2e-5);
      EXPECT_NEAR(r.heightM, o.content & 0x10 ? p.altitudeM : 0, 0.5);
      EXPECT_EQ(r.speedKmh, o.content & 0x20 ? 6 : -1) << "a walk of 1.57 m/s";
      const double off = std::fmod(std::fabs(r.trackDeg - p.courseDeg), 360.0);
      EXPECT_TRUE(!(o.content & 0x40) || (r.trackDeg >= 0 && r.trackDeg < 360 && (off <= 0.5 || off >= 359.5)))
          << r.trackDeg;
      if (o.content & 0x1000) {
        // The fix uses the satellites the sky shows with a usable signal, twelve at most.
        int usable = 0;
        for (const sim::SatelliteView& s : sky.satellitesAt(utcS)) usable += !s.sbas && s.snrDbHz >= 20 ? 1 : 0;
        EXPECT_EQ(r.satellites, std::min(usable, 12));
      }
      EXPECT_EQ(r.hdopHundredths, o.content & 0x400 ? std::lround((0.7 + 4.0 / r.satellites) * 100) : -1);
    }
  }
}

TEST(SimLocus, LogsAPointEachIntervalWhileItHasAFix) {
  using Timed = std::vector<std::pair<sim::SimMs, std::string>>;
  struct Row {
    const char* legend;
    Locus locus;
    std::string offsetsS;  // times of the points, seconds after the start
    Timed commands = {};
    std::string fixBytes = "";  // empty: all 1
  };
  const Locus on = {.enabled = true};
  const std::vector<Row> rows = {
      {"every 15 s from the first fix (2D at 5 s)", on, "5 20 35 50"},
      {"every 40 s", Locus{.enabled = true, .intervalS = 40}, "5 45"},
      {"fix bytes by dimension: 2D, then 3D",
       Locus{.enabled = true, .fixDimension = true},
       "5 20 35 50",
       {},
       "2 3 3 3"},
      {"stopped at 30 s", on, "5 20", Timed{{30050, "PMTK185,1"}}},
      {"stopped, started at 40 s", on, "5 20 41 56", Timed{{30050, "PMTK185,1"}, {40050, "PMTK185,0"}}},
      {"interval 5 s from 30 s", on, "5 20 31 36 41 46 51 56", Timed{{30050, "PMTK187,1,5"}}},
      {"no point without a fix: a cold start at 19 s has its 2D fix 10 s later", on, "5 30 45 60",
       Timed{{19050, "PMTK103"}}},
      {"a point now at 12.5 s, then an interval after it", on, "5 12 27 42 57", Timed{{12500, "PMTK186,1"}}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.legend);
    sim::ReceiverModel model(locusOptions(row.locus));
    sim::SimMs t = 0;
    for (const auto& [atMs, body] : row.commands) {
      runFor(model, t, atMs - 1);
      t = atMs - atMs % 100 + 100;
      model.receive(wire(body), atMs);
    }
    runFor(model, t, 60000);
    std::string offsets;
    std::string fixes;
    for (const simtest::LocusRecord& r : flashOf(model, 60050).records) {
      addWord(offsets, std::to_string(r.utcS - kStartUtcS));
      addWord(fixes, std::to_string(r.fix));
    }
    EXPECT_EQ(offsets, row.offsetsS);
    std::string allOne;
    for (std::size_t i = 0; i < words(row.offsetsS).size(); ++i) addWord(allOne, "1");
    EXPECT_EQ(fixes, row.fixBytes.empty() ? allOne : row.fixBytes);
  }
}

TEST(SimLocus, AFullFlashOverwritesFromTheFirstSectorOrStops) {
  struct Row {
    const char* legend;
    Locus locus;
    long keptFrom, keptTo;  // the filled points kept: [keptFrom, keptTo) of the fill
    int firstStoredS;       // time of the first sector's first record, from the start
    bool logging;
    sim::SimMs runToMs = 0;       // live logging after the start (0: none)
    std::vector<int> liveS = {};  // live points, seconds after the start
  };
  const std::vector<Row> rows = {
      {"4100 points: the newest 68 in the first sector, its older ones gone", Locus{.enabled = true, .fill = 4100}, 252,
       4100, -68 * 15, true},
      {"8100 points: round twice", Locus{.enabled = true, .fill = 8100}, 4284, 8100, -36 * 15, true},
      {"stop when full: the oldest 4032 of 4100, stopped", Locus{.enabled = true, .type = 1, .fill = 4100}, 0, 4032,
       -4100 * 15, false},
      {"full: the first live point goes into a fresh first sector", Locus{.enabled = true, .fill = 4032}, 252, 4032, 5,
       true, 6000, std::vector<int>{5}},
      {"full and stop when full: no live point", Locus{.enabled = true, .type = 1, .fill = 4032}, 0, 4032, -4032 * 15,
       false, 30000},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.legend);
    sim::ReceiverModel model(locusOptions(row.locus));
    if (row.runToMs > 0) runFor(model, 0, row.runToMs);
    std::vector<std::int64_t> expected;
    for (long i = row.keptFrom; i < row.keptTo; ++i) expected.push_back(kStartUtcS - (row.locus.fill - i) * 15);
    for (const int s : row.liveS) expected.push_back(kStartUtcS + s);
    std::vector<std::int64_t> times;
    for (const simtest::LocusRecord& r : flashOf(model, row.runToMs + 50).records) times.push_back(r.utcS);
    ASSERT_FALSE(times.empty());
    EXPECT_EQ(times.front(), kStartUtcS + row.firstStoredS) << "storage order";
    std::sort(times.begin(), times.end());
    EXPECT_EQ(times, expected) << "by time, every point kept and nothing else";
    EXPECT_EQ(model.locusLogging(), row.logging);
    const Lines status = repliesTo(model, "PMTK183", row.runToMs + 60);
    ASSERT_EQ(status.size(), 2u);
    EXPECT_EQ(fieldOf(status[0], 9), std::to_string(expected.size())) << "the status counts what is held";
  }
}

TEST(SimLocus, TheLoggerAddsNothingToThePeriodicOutput) {
  for (const sim::LocusOptions& locus :
       {sim::LocusOptions{.enabled = true}, sim::LocusOptions{.enabled = true, .intervalS = 1, .fill = 5000}}) {
    sim::ReceiverModel plain(simtest::quietOptions());
    sim::ReceiverModel logging(locusOptions(locus));
    const std::string stream = runFor(logging, 0, 40000);
    EXPECT_EQ(stream, runFor(plain, 0, 40000));
    EXPECT_NE(logging.locusFlash().bytes(), sim::ReceiverModel(locusOptions(locus)).locusFlash().bytes())
        << "it did log";
  }
}

// --- replay -------------------------------------------------------------------------------

TEST(SimReplay, CommentLinesAreSkippedAndLinesKeptAsTheyAre) {
  const std::string text = "# Name: test\n#\n$GPGGA,1*00\r\n$GPRMC,2*00\n\n$GPGSV,3\n# late comment\nlast";
  const Lines lines = sim::ReadCaptureLines(text);
  const Lines expected = {"$GPGGA,1*00\r\n", "$GPRMC,2*00\n", "\n", "$GPGSV,3\n", "last"};
  EXPECT_EQ(lines, expected);
}

TEST(SimReplay, BurstsFollowTheFixTime) {
  sim::ModelOptions options = simtest::quietOptions();
  options.replayLines = sim::ReadCaptureLines(
      "$GPRMC,071732.929,V*00\n"
      "$GPGGA,071733.929,x*00\n$GPGSA,A,1*00\n$GPRMC,071733.929,V*00\n"
      "$GPGGA,071734.929,x*00\n$GPGSV,1*00\n$GPRMC,071734.929,V*00\n");
  sim::ReceiverModel model(options);
  struct Row {
    const char* legend;
    sim::SimMs atMs;
    std::size_t lines;
  };
  const std::vector<Row> rows = {
      {"first burst at once", 0, 1}, {"nothing within the second", 500, 0}, {"second burst", 1000, 3},
      {"third burst", 2000, 3},      {"end of the capture", 3000, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.legend);
    EXPECT_EQ(model.advance(row.atMs, true).size(), row.lines);
  }
  EXPECT_TRUE(model.replayFinished());
}

// A multi-system capture goes out as it is, whatever systems the receiver is set to search:
// its GN, GL, GA and BD sentences byte for byte, one fix time a burst.
TEST(SimReplay, MultiSystemCaptureIsSentAsItIs) {
  const std::string capture =
      "# Name: a multi-system receiver\r\n"
      "$GNRMC,120213.000,A,5957.0062,N,01100.6429,E,0.00,0.00,310722,,,D,V*0A\r\n"
      "$GNGGA,120213.000,5957.0062,N,01100.6429,E,2,00,1.3,168.9,M,39.5,M,,*4A\r\n"
      "$GNGSA,A,3,68,69,70,78,84,85,,,,,,,1.5,1.3,1.0,2*3D\r\n"
      "$GLGSV,1,1,02,85,85,247,32,69,53,053,37,1*72\r\n"
      "$GAGSV,1,1,01,36,76,149,45,7*73\r\n"
      "# a comment between bursts\n"
      "$BDGSV,1,1,01,13,19,043,17,0*49\n"
      "$GNRMC,120214.000,A,5957.0062,N,01100.6429,E,0.00,0.00,310722,,,D,V*0D\r\n"
      "$GNGLL,5957.0062,N,01100.6429,E,120214.000,A,A*4E\r\n"
      "$GNZDA,120215.000,31,07,2022,00,00*4C\r\n";
  sim::ModelOptions options = simtest::quietOptions();
  options.systems = kFour | kQzss;
  options.galileoEvery = 2;
  options.replayLines = sim::ReadCaptureLines(capture);
  sim::ReceiverModel model(options);
  Lines bursts;
  for (sim::SimMs t = 0; t <= 5000; t += 500) {
    const std::string burst = joinChunks(model.advance(t, true));
    if (!burst.empty()) bursts.push_back(burst);
  }
  std::string expected;
  for (const std::string& line : options.replayLines) expected += line;
  ASSERT_EQ(expected.find('#'), std::string::npos);
  std::string sent;
  for (const std::string& burst : bursts) sent += burst;
  EXPECT_EQ(sent, expected);
  EXPECT_EQ(bursts.size(), 3u) << "fix times 120213, 120214, 120215";
  EXPECT_TRUE(model.replayFinished());
}

TEST(SimReplay, FastAndLoop) {
  sim::ModelOptions options = simtest::quietOptions();
  options.replayLines = {"$GPGGA,000001.000*00\r\n", "$GPGGA,000002.000*00\r\n"};
  options.replayFast = true;
  options.replayLoop = true;
  sim::ReceiverModel model(options);
  std::string out;
  for (int i = 0; i < 5; ++i) out += joinChunks(model.advance(0, true));
  EXPECT_EQ(out,
            "$GPGGA,000001.000*00\r\n$GPGGA,000002.000*00\r\n$GPGGA,000001.000*00\r\n$GPGGA,000002.000*00\r\n$GPGGA,"
            "000001.000*00\r\n");
  EXPECT_TRUE(model.advance(0, false).empty()) << "fast replay waits for an idle line";
  EXPECT_FALSE(model.replayFinished());
}

}  // namespace
