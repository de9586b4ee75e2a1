// The simulated receiver's model on a fake clock: its sentences, its replies to every command
// the program sends, what it obeys, its NMEA faults, and its LOCUS logbook read back through
// dumps by a reader of the format's own. No terminal, no waiting.
//
// Thread rule: single-threaded.
#include <gtest/gtest.h>

#include <algorithm>
#include <bitset>
#include <cmath>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "sim/receiver_model.h"
#include "tests/core/test_sim_support.h"

using simtest::bodiesOf;
using simtest::fieldOf;
using simtest::joinChunks;

namespace {

// Runs the model from..to (ms) in 100 ms steps and returns everything it wrote.
std::string runFor(sim::ReceiverModel& model, sim::SimMs fromMs, sim::SimMs toMs) {
  std::string out;
  for (sim::SimMs t = fromMs; t <= toMs; t += 100) out += joinChunks(model.advance(t, true));
  return out;
}

std::map<std::string, int> countByAddress(const std::vector<std::string>& bodies) {
  std::map<std::string, int> counts;
  for (const std::string& body : bodies) ++counts[fieldOf(body, 0)];
  return counts;
}

std::vector<std::string> repliesTo(sim::ReceiverModel& model, const std::string& bytes, sim::SimMs now = 20000) {
  return bodiesOf(joinChunks(model.receive(bytes, now)));
}

TEST(SimModel, EverySentenceIsWellFramedThroughStartUp) {
  sim::ReceiverModel model(simtest::quietOptions());
  const std::string stream = runFor(model, 0, 30000);
  const std::vector<std::string> parts = simtest::cutAtDollar(stream);
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
    std::string gsaMode;
    std::string ggaQuality;
    std::string rmcStatus;
  };
  const std::vector<Row> rows = {
      {"just after start", 1000, "1", "0", "V"}, {"still searching", 4000, "1", "0", "V"},
      {"2D after 5 s", 6000, "2", "1", "A"},     {"3D after 10 s", 11000, "3", "1", "A"},
      {"3D later", 60000, "3", "1", "A"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.legend);
    sim::ReceiverModel model(simtest::quietOptions());
    if (row.atMs > 1000) model.advance(row.atMs - 1000, true);
    const std::vector<std::string> bodies = bodiesOf(joinChunks(model.advance(row.atMs, true)));
    std::map<std::string, std::string> last;
    for (const std::string& b : bodies) last[fieldOf(b, 0)] = b;
    EXPECT_EQ(fieldOf(last["GPGSA"], 2), row.gsaMode);
    EXPECT_EQ(fieldOf(last["GPGGA"], 6), row.ggaQuality);
    EXPECT_EQ(fieldOf(last["GPRMC"], 2), row.rmcStatus);
    EXPECT_EQ(fieldOf(last["GPGGA"], 2).empty(), row.ggaQuality == "0") << "position only with a fix";
  }
}

TEST(SimModel, SatellitesAreConsistentAndPlausible) {
  sim::ReceiverModel model(simtest::quietOptions());
  const std::vector<std::string> bodies = bodiesOf(runFor(model, 0, 20000));
  int cyclesChecked = 0;
  std::size_t blocks = 0;
  std::string total;
  bool oneDigitPrn = false;
  bool twoDigitPrn = false;
  for (const std::string& b : bodies) {
    if (fieldOf(b, 0) != "GPGSV") continue;
    const int count = std::stoi(fieldOf(b, 1));
    const int index = std::stoi(fieldOf(b, 2));
    if (index == 1) {
      blocks = 0;
      total = fieldOf(b, 3);
    }
    EXPECT_EQ(fieldOf(b, 3), total) << "same total in every message of a cycle";
    for (std::size_t s = 0; s < 4 && !fieldOf(b, 4 + s * 4).empty(); ++s, ++blocks) {
      const std::string prn = fieldOf(b, 4 + s * 4);
      const std::string elevation = fieldOf(b, 5 + s * 4);
      const std::string azimuth = fieldOf(b, 6 + s * 4);
      const std::string snr = fieldOf(b, 7 + s * 4);
      (std::stoi(prn) < 10 ? oneDigitPrn : twoDigitPrn) = true;
      if (!elevation.empty()) {
        EXPECT_GE(std::stoi(elevation), 0);
        EXPECT_LE(std::stoi(elevation), 90);
        EXPECT_LT(std::stoi(azimuth), 360);
      }
      if (!snr.empty()) {
        EXPECT_GE(std::stoi(snr), 10);
        EXPECT_LE(std::stoi(snr), 55);
      }
    }
    if (index == count) {
      EXPECT_EQ(blocks, static_cast<std::size_t>(std::stoi(total)));
      ++cyclesChecked;
    }
  }
  EXPECT_GE(cyclesChecked, 20);
  EXPECT_TRUE(oneDigitPrn);
  EXPECT_TRUE(twoDigitPrn);
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
    std::vector<int> passing;
    std::vector<int> still;
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

TEST(SimModel, RepliesToEveryCommandOfTheProgram) {
  struct Row {
    const char* legend;
    std::string bytes;
    std::vector<std::string> replies;
  };
  const std::string z = std::string(1, '\0');
  const std::vector<Row> rows = {
      {"rates query", "$PMTK414*33\r\n", {"PMTK514,0,1,1,1,1,1,0,0,0,0,0,0,0,0,0,0,0,0,0"}},
      {"rates query with zero byte", "$PMTK414*33\r\n" + z, {"PMTK514,0,1,1,1,1,1,0,0,0,0,0,0,0,0,0,0,0,0,0"}},
      {"fix period query", "$PMTK400*36\r\n" + z, {"PMTK500,1000,0,0,0,0"}},
      {"DGPS query", "$PMTK401*37\r\n" + z, {"PMTK501,0"}},
      {"firmware query", "$PMTK605*31\r\n", {"PMTK705,AXN_1.30,0000,Kappa-32,1.0"}},
      {"maker's mode query", testsupport::NmeaFramed("PZRN000,MODE"), {"PZRN001,MODE,0"}},
      {"maker's fix-rate reset", testsupport::NmeaFramed("PZRN818"), {"PZRN818"}},
      {"set rates", testsupport::NmeaFramed("PMTK314,1,1,1,1,1,5,0,0,0,0,0,0,0,0,0,0,0,1,0"), {"PMTK001,314,3"}},
      {"default rates", "$PMTK314,-1*04\r\n" + z, {"PMTK001,314,3"}},
      {"fix period", testsupport::NmeaFramed("PMTK300,200,0,0,0,0"), {"PMTK001,300,3"}},
      {"fix period out of range", testsupport::NmeaFramed("PMTK300,50,0,0,0,0"), {"PMTK001,300,2"}},
      {"DGPS mode", "$PMTK301,2*2E\r\n", {"PMTK001,301,3"}},
      {"DGPS mode out of range", testsupport::NmeaFramed("PMTK301,7"), {"PMTK001,301,2"}},
      {"EPO clear", "$PMTK127*36\r\n", {"PMTK001,127,3"}},
      {"rates with a bad value", testsupport::NmeaFramed("PMTK314,1,1,9"), {"PMTK001,314,2"}},
      {"second query of the DGPS button: no reply", "$PMTK602*36\r\n" + z, {}},
      {"hot restart: start-up notice", "$PMTK101*32\r\n" + z, {"PMTK010,001"}},
      {"unknown query", testsupport::NmeaFramed("PMTK499"), {"PMTK001,499,1"}},
      {"LOCUS status without the logger", "$PMTK183*38\r\n", {"PMTK001,183,1"}},
      {"wrong checksum is ignored", "$PMTK414*34\r\n", {}},
      {"missing checksum is ignored", "$PMTK414\r\n", {}},
      {"lower-case checksum is taken", "$PMTK301,2*2e\r\n", {"PMTK001,301,3"}},
      {"two commands in one write", "$PMTK401*37\r\n$PMTK400*36\r\n", {"PMTK501,0", "PMTK500,1000,0,0,0,0"}},
      {"noise before the command", "xx\x01$$PMTK401*37\r\n", {"PMTK501,0"}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.legend);
    sim::ModelOptions options = simtest::quietOptions();
    options.startupMessage = true;
    sim::ReceiverModel model(options);
    model.advance(0, true);  // the power-up notice
    EXPECT_EQ(repliesTo(model, row.bytes), row.replies);
  }
}

TEST(SimModel, CommandSplitAcrossWritesIsAnsweredOnce) {
  const std::string command = "$PMTK605*31\r\n";
  for (std::size_t cut = 1; cut < command.size(); ++cut) {
    SCOPED_TRACE(cut);
    sim::ReceiverModel model(simtest::quietOptions());
    std::string out = joinChunks(model.receive(command.substr(0, cut), 100));
    out += joinChunks(model.receive(command.substr(cut), 110));
    EXPECT_EQ(bodiesOf(out), std::vector<std::string>{"PMTK705,AXN_1.30,0000,Kappa-32,1.0"});
  }
}

TEST(SimModel, SettingsAreObeyedAndReported) {
  struct Row {
    const char* legend;
    std::vector<std::string> commands;
    std::string query;
    std::string expected;
  };
  const std::vector<Row> rows = {
      {"rates set",
       {testsupport::NmeaFramed("PMTK314,1,0,0,2,0,0,0,0,0,0,0,0,0,0,0,0,0,1,1")},
       "$PMTK414*33\r\n",
       "PMTK514,1,0,0,2,0,0,0,0,0,0,0,0,0,0,0,0,0,1,1"},
      {"rates back to default",
       {testsupport::NmeaFramed("PMTK314,1,0,0,2,0,0,0,0,0,0,0,0,0,0,0,0,0,1,1"), "$PMTK314,-1*04\r\n"},
       "$PMTK414*33\r\n",
       "PMTK514,0,1,1,1,1,1,0,0,0,0,0,0,0,0,0,0,0,0,0"},
      {"fix period", {testsupport::NmeaFramed("PMTK300,200,0,0,0,0")}, "$PMTK400*36\r\n", "PMTK500,200,0,0,0,0"},
      {"maker's reset of the fix period",
       {testsupport::NmeaFramed("PMTK300,200,0,0,0,0"), testsupport::NmeaFramed("PZRN818")},
       "$PMTK400*36\r\n",
       "PMTK500,1000,0,0,0,0"},
      {"DGPS mode", {"$PMTK301,2*2E\r\n"}, "$PMTK401*37\r\n", "PMTK501,2"},
      {"EPO cleared", {"$PMTK127*36\r\n"}, "$PMTK607*33\r\n", "PMTK707,0,0,0,0,0,0,0,0,0"},
      {"full cold start restores factory rates",
       {testsupport::NmeaFramed("PMTK314,1,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0"), testsupport::NmeaFramed("PMTK104")},
       "$PMTK414*33\r\n",
       "PMTK514,0,1,1,1,1,1,0,0,0,0,0,0,0,0,0,0,0,0,0"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.legend);
    sim::ReceiverModel model(simtest::quietOptions());
    for (const std::string& c : row.commands) model.receive(c, 100);
    const std::vector<std::string> replies = repliesTo(model, row.query, 200);
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0], row.expected);
  }
}

// $PMTK251: acknowledged at the old speed, the line moving once the acknowledgement is out;
// a speed the receivers do not list, or no number, changes nothing.
TEST(SimModel, LineSpeedMovesAfterItsAcknowledgement) {
  struct Row {
    const char* legend;
    std::vector<std::string> before;  // commands first
    std::string command;
    bool keepBaud;
    std::vector<std::string> replies;
    std::uint32_t lineAfter;  // the speed a chunk moves the line to; 0: none moves it
    std::uint32_t baud;       // the receiver's speed afterwards
  };
  const std::vector<Row> rows = {
      {"9600", {}, "$PMTK251,9600*17\r\n", false, {"PMTK001,251,3"}, 9600, 9600},
      {"921600, the MT3333 family's top",
       {},
       testsupport::NmeaFramed("PMTK251,921600"),
       false,
       {"PMTK001,251,3"},
       921600,
       921600},
      {"57600", {}, "$PMTK251,57600*2C\r\n", false, {"PMTK001,251,3"}, 57600, 57600},
      {"0: the receiver's own speed",
       {testsupport::NmeaFramed("PMTK251,9600")},
       testsupport::NmeaFramed("PMTK251,0"),
       false,
       {"PMTK001,251,3"},
       115200,
       115200},
      {"a speed no receiver lists", {}, testsupport::NmeaFramed("PMTK251,5000"), false, {"PMTK001,251,2"}, 0, 115200},
      {"no number", {}, testsupport::NmeaFramed("PMTK251,fast"), false, {"PMTK001,251,0"}, 0, 115200},
      {"no field", {}, testsupport::NmeaFramed("PMTK251"), false, {"PMTK001,251,0"}, 0, 115200},
      {"firmware that takes it without acting", {}, "$PMTK251,9600*17\r\n", true, {"PMTK001,251,3"}, 0, 115200},
      {"a full cold start: back to the factory speed",
       {"$PMTK251,9600*17\r\n"},
       testsupport::NmeaFramed("PMTK104"),
       false,
       {"PMTK010,001"},
       115200,
       115200},
      {"a hot start keeps the speed", {"$PMTK251,9600*17\r\n"}, "$PMTK101*32\r\n", false, {"PMTK010,001"}, 0, 9600},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.legend);
    sim::ModelOptions options = simtest::quietOptions();
    options.startupMessage = true;
    options.keepBaud = row.keepBaud;
    sim::ReceiverModel model(options);
    for (const std::string& c : row.before) model.receive(c, 100);
    const std::vector<sim::OutChunk> out = model.receive(row.command, 200);
    EXPECT_EQ(bodiesOf(joinChunks(out)), row.replies);
    std::uint32_t lineAfter = 0;
    std::string beforeMove;  // what goes out at the old speed
    for (const sim::OutChunk& c : out) {
      if (lineAfter == 0) beforeMove += c.bytes;
      if (c.baudAfter != 0) lineAfter = c.baudAfter;
    }
    EXPECT_EQ(lineAfter, row.lineAfter);
    if (row.lineAfter != 0) {
      // The acknowledgement goes at the old speed; the start-up notice of a full cold start
      // at the factory speed it moved to.
      const bool acknowledged = row.replies[0].rfind("PMTK001,", 0) == 0;
      EXPECT_EQ(bodiesOf(beforeMove), acknowledged ? row.replies : std::vector<std::string>{});
    }
    EXPECT_EQ(model.baud(), row.baud);
  }
}

// The settings beyond the buttons: answered, obeyed, reported by their queries, kept by the
// restarts a receiver's battery-backed memory survives and given back by a full cold start.
TEST(SimModel, SettingsBeyondTheButtonsAndRestarts) {
  struct Row {
    const char* legend;
    std::vector<std::string> commands;
    std::string query;
    std::vector<std::string> replies;  // of the query, after the commands
  };
  const std::string kNavOff = "PMTK527,0.00";
  const std::vector<Row> rows = {
      {"SBAS at start", {}, "$PMTK413*34\r\n", {"PMTK513,1"}},
      {"SBAS off", {"$PMTK313,0*2F\r\n"}, "$PMTK413*34\r\n", {"PMTK513,0"}},
      {"SBAS test mode", {"$PMTK319,0*25\r\n"}, "$PMTK419*3E\r\n", {"PMTK519,0"}},
      {"static navigation", {"$PMTK386,1.2*3E\r\n"}, "$PMTK447*35\r\n", {"PMTK527,1.20"}},
      {"static navigation in hundredths",
       {testsupport::NmeaFramed("PMTK386,0.45")},
       "$PMTK447*35\r\n",
       {"PMTK527,0.45"}},
      {"static navigation beyond 2 m/s refused",
       {testsupport::NmeaFramed("PMTK386,2.5")},
       "$PMTK447*35\r\n",
       {kNavOff}},
      {"EASY off", {"$PMTK869,1,0*34\r\n"}, "$PMTK869,0*29\r\n", {"PMTK869,2,0,3"}},
      {"kept by a hot restart", {"$PMTK313,0*2F\r\n", "$PMTK101*32\r\n"}, "$PMTK413*34\r\n", {"PMTK513,0"}},
      {"kept by a warm restart", {"$PMTK386,1.2*3E\r\n", "$PMTK102*31\r\n"}, "$PMTK447*35\r\n", {"PMTK527,1.20"}},
      {"kept by a cold restart", {"$PMTK869,1,0*34\r\n", "$PMTK103*30\r\n"}, "$PMTK869,0*29\r\n", {"PMTK869,2,0,3"}},
      {"the datum kept by a hot restart",
       {testsupport::NmeaFramed("PMTK330,1"), "$PMTK101*32\r\n"},
       "$PMTK430*35\r\n",
       {"PMTK530,1"}},
      {"a full cold start gives the first values back",
       {"$PMTK313,0*2F\r\n", "$PMTK386,1.2*3E\r\n", testsupport::NmeaFramed("PMTK104")},
       testsupport::NmeaFramed("PMTK413") + "$PMTK447*35\r\n",
       {"PMTK513,1", kNavOff}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.legend);
    sim::ReceiverModel model(simtest::quietOptions());
    for (const std::string& c : row.commands) model.receive(c, 100);
    EXPECT_EQ(repliesTo(model, row.query, 200), row.replies);
  }
}

TEST(SimModel, SettingCommandsAcknowledged) {
  struct Row {
    const char* legend;
    std::string command;
    std::string ack;
  };
  const std::vector<Row> rows = {
      {"SBAS on", "$PMTK313,1*2E\r\n", "PMTK001,313,3"},
      {"SBAS with a 2", testsupport::NmeaFramed("PMTK313,2"), "PMTK001,313,0"},
      {"SBAS integrity", "$PMTK319,1*24\r\n", "PMTK001,319,3"},
      {"static navigation off", "$PMTK386,0.0*3D\r\n", "PMTK001,386,3"},
      {"static navigation, no number", testsupport::NmeaFramed("PMTK386,fast"), "PMTK001,386,0"},
      {"periodic standby", "$PMTK225,2,3000,12000,18000,72000*15\r\n", "PMTK001,225,3"},
      {"periodic standby, one pair", testsupport::NmeaFramed("PMTK225,2,3000,12000"), "PMTK001,225,3"},
      {"periodic, a run time too short", testsupport::NmeaFramed("PMTK225,1,500,12000,0,0"), "PMTK001,225,2"},
      {"periodic, second run not longer", testsupport::NmeaFramed("PMTK225,2,3000,12000,2000,72000"), "PMTK001,225,2"},
      {"periodic without times", testsupport::NmeaFramed("PMTK225,2"), "PMTK001,225,0"},
      {"normal", "$PMTK225,0*2B\r\n", "PMTK001,225,3"},
      {"AlwaysLocate", "$PMTK225,8*23\r\n", "PMTK001,225,3"},
      {"perpetual backup: no wake-up line here", testsupport::NmeaFramed("PMTK225,4"), "PMTK001,225,1"},
      {"standby", "$PMTK161,0*28\r\n", "PMTK001,161,3"},
      {"standby of another kind", testsupport::NmeaFramed("PMTK161,1"), "PMTK001,161,0"},
      {"AIC on", "$PMTK286,1*23\r\n", "PMTK001,286,3"},
      {"EASY on", "$PMTK869,1,1*35\r\n", "PMTK001,869,3"},
      {"EASY malformed", testsupport::NmeaFramed("PMTK869,1,5"), "PMTK001,869,0"},
      {"a command no receiver knows", testsupport::NmeaFramed("PMTK397,0.4"), "PMTK001,397,1"},
      {"another", testsupport::NmeaFramed("PMTK262,3"), "PMTK001,262,1"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.legend);
    sim::ReceiverModel model(simtest::quietOptions());
    EXPECT_EQ(repliesTo(model, row.command), std::vector<std::string>{row.ack});
  }
  // A firmware that lacks one: its commands and queries are unknown to it.
  sim::ModelOptions options = simtest::quietOptions();
  options.lacking = {869, 447};
  sim::ReceiverModel without(options);
  EXPECT_EQ(repliesTo(without, "$PMTK869,0*29\r\n"), std::vector<std::string>{"PMTK001,869,1"});
  EXPECT_EQ(repliesTo(without, "$PMTK447*35\r\n"), std::vector<std::string>{"PMTK001,447,1"});
  EXPECT_EQ(repliesTo(without, "$PMTK413*34\r\n"), std::vector<std::string>{"PMTK513,1"});
}

// Standby: silent from the acknowledgement on, awake again at the first byte. A periodic mode:
// output only in its run times.
TEST(SimModel, StandbyAndPeriodicModesSilenceTheOutput) {
  sim::ReceiverModel standby(simtest::quietOptions());
  EXPECT_FALSE(runFor(standby, 0, 2000).empty());
  EXPECT_EQ(repliesTo(standby, "$PMTK161,0*28\r\n", 2050), std::vector<std::string>{"PMTK001,161,3"});
  EXPECT_TRUE(standby.inStandby());
  EXPECT_EQ(runFor(standby, 2100, 6000), "") << "nothing while in standby";
  standby.receive("\r\n", 6050);
  EXPECT_FALSE(standby.inStandby());
  EXPECT_FALSE(bodiesOf(runFor(standby, 6100, 8000)).empty()) << "awake again";

  sim::ReceiverModel periodic(simtest::quietOptions());
  periodic.receive(testsupport::NmeaFramed("PMTK225,2,3000,12000,0,0"), 10000);
  std::set<sim::SimMs> burstSeconds;
  for (sim::SimMs t = 10100; t <= 40000; t += 100) {
    if (!bodiesOf(joinChunks(periodic.advance(t, true))).empty()) burstSeconds.insert((t - 10000) / 1000);
  }
  // Run 3 s, sleep 12 s, over and over.
  for (const sim::SimMs second : burstSeconds) {
    EXPECT_LT(second % 15, 3) << "output in a sleep time, " << second << " s in";
  }
  EXPECT_TRUE(burstSeconds.count(0) && burstSeconds.count(15)) << "output in each run time";
  periodic.receive("$PMTK225,0*2B\r\n", 40050);
  EXPECT_FALSE(bodiesOf(runFor(periodic, 44000, 46000)).empty()) << "normal again: every fix";
}

TEST(SimModel, RatesDecideWhichSentencesGoOut) {
  sim::ReceiverModel model(simtest::quietOptions());
  // GLL every fix, GGA every second fix, ZDA and MCHN every fix, nothing else.
  model.receive(testsupport::NmeaFramed("PMTK314,1,0,0,2,0,0,0,0,0,0,0,0,0,0,0,0,0,1,1"), 0);
  const std::map<std::string, int> counts = countByAddress(bodiesOf(runFor(model, 100, 10000)));
  const std::map<std::string, int> expected = {{"GPGLL", 10}, {"GPGGA", 5}, {"GPZDA", 10}, {"PMTKCHN", 10}};
  EXPECT_EQ(counts, expected);
}

TEST(SimModel, FixPeriodSetsTheOutputCycle) {
  sim::ReceiverModel model(simtest::quietOptions());
  model.receive(testsupport::NmeaFramed("PMTK300,200,0,0,0,0"), 0);
  const std::map<std::string, int> counts = countByAddress(bodiesOf(runFor(model, 100, 2000)));
  EXPECT_EQ(counts.at("GPGGA"), 10);
}

TEST(SimModel, SbasModeGivesADifferentialFix) {
  sim::ReceiverModel model(simtest::quietOptions());
  model.receive("$PMTK301,2*2E\r\n", 0);
  const std::vector<std::string> bodies = bodiesOf(runFor(model, 15000, 15000));
  bool sawGga = false;
  for (const std::string& b : bodies) {
    if (fieldOf(b, 0) != "GPGGA") continue;
    sawGga = true;
    EXPECT_EQ(fieldOf(b, 6), "2");
  }
  EXPECT_TRUE(sawGga);
}

// Time from a restart command to the first 3D GSA.
sim::SimMs timeTo3d(const std::string& restartCommand) {
  sim::ReceiverModel model(simtest::quietOptions());
  runFor(model, 0, 20000);
  model.receive(restartCommand, 20050);
  for (sim::SimMs t = 20100; t < 60000; t += 100) {
    for (const std::string& b : bodiesOf(joinChunks(model.advance(t, true)))) {
      if (fieldOf(b, 0) == "GPGSA" && fieldOf(b, 2) == "3") return t - 20050;
    }
  }
  return -1;
}

TEST(SimModel, RestartsDropTheFixForLongerTheColderTheyAre) {
  const sim::SimMs hot = timeTo3d("$PMTK101*32\r\n");
  const sim::SimMs warm = timeTo3d("$PMTK102*31\r\n");
  const sim::SimMs cold = timeTo3d("$PMTK103*30\r\n");
  EXPECT_GT(hot, 0);
  EXPECT_LT(hot, warm);
  EXPECT_LT(warm, cold);
}

TEST(SimModel, AcknowledgementFlagsOnRequest) {
  struct Row {
    const char* legend;
    int all;
    std::map<int, int> perCommand;
    std::string expectedAck;
    std::string expectedRates;
  };
  const std::string defaults = "PMTK514,0,1,1,1,1,1,0,0,0,0,0,0,0,0,0,0,0,0,0";
  const std::string changed = "PMTK514,1,1,1,1,1,5,0,0,0,0,0,0,0,0,0,0,0,1,0";
  const std::vector<Row> rows = {
      {"natural", -1, {}, "PMTK001,314,3", changed},
      {"all invalid", 0, {}, "PMTK001,314,0", defaults},
      {"all unsupported", 1, {}, "PMTK001,314,1", defaults},
      {"314 failed", -1, {{314, 2}}, "PMTK001,314,2", defaults},
      {"another command fails, 314 does not", -1, {{300, 2}}, "PMTK001,314,3", changed},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.legend);
    sim::ModelOptions options = simtest::quietOptions();
    options.ackFlagAll = row.all;
    options.ackFlagFor = row.perCommand;
    sim::ReceiverModel model(options);
    EXPECT_EQ(repliesTo(model, testsupport::NmeaFramed("PMTK314,1,1,1,1,1,5,0,0,0,0,0,0,0,0,0,0,0,1,0")),
              std::vector<std::string>{row.expectedAck});
    EXPECT_EQ(repliesTo(model, "$PMTK414*33\r\n"), std::vector<std::string>{row.expectedRates});
  }
}

TEST(SimModel, FirmwareAndEpoStateAreConfigurable) {
  sim::ModelOptions options = simtest::quietOptions();
  options.firmware = "AXN_1.0,1234,Kappa-20,";
  options.epoIsDefault = false;
  options.epo = sim::EpoState{56, 1468, 172800, 1470, 151200};
  sim::ReceiverModel model(options);
  EXPECT_EQ(repliesTo(model, "$PMTK605*31\r\n"), std::vector<std::string>{"PMTK705,AXN_1.0,1234,Kappa-20,"});
  const std::vector<std::string> epo = repliesTo(model, "$PMTK607*33\r\n");
  ASSERT_EQ(epo.size(), 1u);
  EXPECT_EQ(epo[0].rfind("PMTK707,56,1468,172800,1470,151200,", 0), 0u) << epo[0];
}

TEST(SimModel, DefaultEpoStateIsACurrentSevenDaySet) {
  sim::ReceiverModel model(simtest::quietOptions());
  const std::vector<std::string> epo = repliesTo(model, "$PMTK607*33\r\n");
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
  sim::ReceiverModel model(options);
  EXPECT_TRUE(repliesTo(model, testsupport::NmeaFramed("PZRN000,MODE")).empty());
  EXPECT_TRUE(repliesTo(model, testsupport::NmeaFramed("PZRN818")).empty());
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
std::vector<std::string> burstAt(sim::ReceiverModel& model, sim::SimMs atMs) {
  return bodiesOf(joinChunks(model.advance(atMs, true)));
}

std::vector<std::string> fieldsOf(const std::string& body) {
  std::vector<std::string> fields(1);
  for (const char c : body) {
    if (c == ',') {
      fields.emplace_back();
    } else {
      fields.back() += c;
    }
  }
  return fields;
}

bool isType(const std::string& body, const char* type) { return body.size() > 5 && body.compare(2, 3, type) == 0; }

// Addresses in order of appearance, a run of one address counted once.
std::vector<std::string> addressRuns(const std::vector<std::string>& bodies) {
  std::vector<std::string> runs;
  for (const std::string& b : bodies) {
    if (runs.empty() || runs.back() != fieldOf(b, 0)) runs.push_back(fieldOf(b, 0));
  }
  return runs;
}

// Field 18 of each GSA, the system ID; "-" for a GSA without it.
std::vector<std::string> gsaSystemIds(const std::vector<std::string>& bodies) {
  std::vector<std::string> ids;
  for (const std::string& b : bodies) {
    if (!isType(b, "GSA")) continue;
    const std::vector<std::string> f = fieldsOf(b);
    ids.push_back(f.size() == 19 ? f[18] : (f.size() == 18 ? "-" : "bad field count"));
  }
  return ids;
}

// GSV talkers in order of appearance.
std::vector<std::string> gsvTalkers(const std::vector<std::string>& bodies) {
  std::vector<std::string> gsv;
  for (const std::string& b : bodies) {
    if (isType(b, "GSV")) gsv.push_back(b);
  }
  std::vector<std::string> talkers;
  for (const std::string& address : addressRuns(gsv)) talkers.push_back(address.substr(0, 2));
  return talkers;
}

// GSV talkers of a burst of these systems.
std::vector<std::string> talkersOf(sim::SystemSet systems) {
  std::vector<std::string> talkers;
  const char* names[] = {"GP", "GL", "GA", "GB", "GQ"};
  for (int i = 0; i < sim::kSystemCount; ++i) {
    if ((systems & (1u << i)) != 0) talkers.emplace_back(names[i]);
  }
  return talkers;
}

TEST(SimModelSystems, TalkersAndOrderOfABurst) {
  struct Row {
    const char* legend;
    sim::SystemSet systems;
    sim::OutputRates rates;
    std::vector<std::string> addresses;  // a run of one address counted once
    std::vector<std::string> gsaIds;
  };
  const sim::OutputRates all = {1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0};
  const std::vector<Row> rows = {
      {"GPS alone: the older sentences",
       kGps,
       sim::kDefaultRates,
       {"GPGGA", "GPGSA", "GPGSV", "GPRMC", "GPVTG"},
       {"-"}},
      {"four systems",
       kFour,
       sim::kDefaultRates,
       {"GNGGA", "GNGSA", "GPGSV", "GLGSV", "GAGSV", "GBGSV", "GNRMC", "GNVTG"},
       {"1", "2", "3", "4"}},
      {"five systems, every position sentence",
       kFour | kQzss,
       all,
       {"GNGGA", "GNGLL", "GNGSA", "GPGSV", "GLGSV", "GAGSV", "GBGSV", "GQGSV", "GNRMC", "GNVTG", "GNZDA"},
       {"1", "2", "3", "4", "5"}},
      {"GLONASS alone, without the SBAS satellite",
       kGlonass,
       sim::kDefaultRates,
       {"GNGGA", "GNGSA", "GLGSV", "GNRMC", "GNVTG"},
       {"2"}},
      {"BeiDou and QZSS",
       kBeidou | kQzss,
       sim::kDefaultRates,
       {"GNGGA", "GNGSA", "GBGSV", "GQGSV", "GNRMC", "GNVTG"},
       {"4", "5"}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.legend);
    sim::ModelOptions options = systemsOptions(row.systems);
    options.rates = row.rates;
    sim::ReceiverModel model(options);
    runFor(model, 0, 14900);
    const std::vector<std::string> burst = burstAt(model, 15000);
    EXPECT_EQ(addressRuns(burst), row.addresses);
    EXPECT_EQ(gsaSystemIds(burst), row.gsaIds);
    bool sbas = false;
    for (const std::string& b : burst) {
      const std::vector<std::string> f = fieldsOf(b);
      for (std::size_t i = 4; f[0] == "GPGSV" && i < f.size(); i += 4) sbas = sbas || f[i] == "50";
    }
    EXPECT_EQ(sbas, (row.systems & kGps) != 0) << "the SBAS satellite comes with GPS";
  }
}

// Every GSV cycle of every system through start-up and fix: whole, consistently numbered,
// satellites in the system's number range; every sentence strictly framed.
TEST(SimModelSystems, EachSystemsGsvCycleIsWhole) {
  struct Range {
    int low;
    int high;
  };
  const std::map<std::string, std::vector<Range>> ranges = {
      {"GP", {{1, 32}, {50, 50}}}, {"GL", {{65, 96}}}, {"GA", {{1, 36}}}, {"GB", {{1, 63}}}, {"GQ", {{1, 10}}},
  };
  struct Row {
    const char* legend;
    sim::SystemSet systems;
    std::int64_t startUtcMs;
    int minInView;  // satellites in view in each burst of the 3D fix (0: not checked)
    int maxInView;
  };
  const std::vector<Row> rows = {
      {"five systems", kFour | kQzss, 1700000000000LL, 0, 0},
      {"four systems at the moment the manual names", kFour, kCrowdedSkyUtcMs, 36, 38},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.legend);
    sim::ModelOptions options = systemsOptions(row.systems);
    options.startUtcMs = row.startUtcMs;
    sim::ReceiverModel model(options);
    std::set<std::string> talkersSeen;
    int bursts3d = 0;
    for (sim::SimMs t = 1000; t <= 240000; t += 1000) {
      SCOPED_TRACE(t);
      const std::string stream = joinChunks(model.advance(t, true));
      for (const std::string& part : simtest::cutAtDollar(stream)) ASSERT_TRUE(simtest::strictBody(part)) << part;
      const std::vector<std::string> burst = bodiesOf(stream);
      std::map<std::string, std::vector<std::vector<std::string>>> cycles;  // talker: its messages
      for (const std::string& b : burst) {
        if (isType(b, "GSV")) cycles[b.substr(0, 2)].push_back(fieldsOf(b));
      }
      int inView = 0;
      for (const auto& [talker, messages] : cycles) {
        SCOPED_TRACE(talker);
        talkersSeen.insert(talker);
        ASSERT_EQ(ranges.count(talker), 1u);
        const std::string total = messages[0][3];
        std::set<int> numbers;
        for (std::size_t m = 0; m < messages.size(); ++m) {
          const std::vector<std::string>& f = messages[m];
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
            if (!f[i + 1].empty()) {
              EXPECT_LE(std::stoi(f[i + 1]), 90);
              EXPECT_LT(std::stoi(f[i + 2]), 360);
            }
          }
        }
        EXPECT_EQ(std::stoul(total), numbers.size());
        EXPECT_EQ(total.size(), 2u);
        EXPECT_EQ(messages.size(), std::max<std::size_t>(1, (numbers.size() + 3) / 4)) << "no empty message";
        inView += static_cast<int>(numbers.size());
      }
      const std::vector<std::string> gsa = [&] {
        for (const std::string& b : burst) {
          if (isType(b, "GSA")) return fieldsOf(b);
        }
        return std::vector<std::string>{};
      }();
      ASSERT_FALSE(gsa.empty());
      if (gsa[2] == "3" && row.minInView > 0) {
        ++bursts3d;
        EXPECT_GE(inView, row.minInView);
        EXPECT_LE(inView, row.maxInView);
      }
    }
    std::set<std::string> expected;
    for (const auto& [talker, unused] : ranges) expected.insert(talker);
    if ((row.systems & kQzss) == 0) expected.erase("GQ");
    EXPECT_EQ(talkersSeen, expected);
    if (row.minInView > 0) {
      EXPECT_GE(bursts3d, 200);
    }
  }
}

// One GSA per system in the fix, each listing that system's used satellites with the same
// DOPs; without the system ID the same sentences without their last field.
TEST(SimModelSystems, OneGsaPerSystemInTheFix) {
  struct Row {
    const char* legend;
    sim::SystemSet systems;
    sim::SimMs atMs;
    std::string mode;
  };
  const std::vector<Row> rows = {
      {"searching: one GSA, no system ID", kFour | kQzss, 4000, "1"},
      {"2D: three satellites in all", kFour | kQzss, 7000, "2"},
      {"3D, four systems", kFour, 15000, "3"},
      {"3D, GPS and QZSS", kGps | kQzss, 15000, "3"},
      {"3D, Galileo and BeiDou", kGalileo | kBeidou, 15000, "3"},
  };
  const std::map<std::string, std::string> talkerOfId = {
      {"1", "GP"}, {"2", "GL"}, {"3", "GA"}, {"4", "GB"}, {"5", "GQ"}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.legend);
    sim::ModelOptions options = systemsOptions(row.systems);
    sim::ReceiverModel withId(options);
    options.gsaSystemId = false;
    sim::ReceiverModel withoutId(options);
    runFor(withId, 0, row.atMs - 100);
    runFor(withoutId, 0, row.atMs - 100);
    const std::vector<std::string> burst = burstAt(withId, row.atMs);
    const std::vector<std::string> plain = burstAt(withoutId, row.atMs);

    // Tracked satellites of each system, from its GSV.
    std::map<std::string, std::map<std::string, int>> snrOf;
    std::vector<std::string> gga;
    std::vector<std::vector<std::string>> gsas;
    for (const std::string& b : burst) {
      const std::vector<std::string> f = fieldsOf(b);
      if (isType(b, "GSV")) {
        for (std::size_t i = 4; i + 3 < f.size(); i += 4)
          snrOf[b.substr(0, 2)][f[i]] = f[i + 3].empty() ? -1 : std::stoi(f[i + 3]);
      }
      if (isType(b, "GGA")) gga = f;
      if (isType(b, "GSA")) gsas.push_back(f);
    }
    ASSERT_FALSE(gga.empty());
    ASSERT_FALSE(gsas.empty());
    int listed = 0;
    std::string lastId;
    for (const std::vector<std::string>& f : gsas) {
      EXPECT_EQ(f[0], "GNGSA");
      EXPECT_EQ(f[2], row.mode);
      EXPECT_EQ(f[15] + f[16] + f[17], gsas[0][15] + gsas[0][16] + gsas[0][17]) << "the same DOPs in each";
      EXPECT_EQ(f[16], gga[8]) << "HDOP as in GGA";
      if (row.mode == "1") {
        EXPECT_EQ(f.size(), 18u) << "no system ID without a fix";
        EXPECT_EQ(gsas.size(), 1u);
        continue;
      }
      ASSERT_EQ(f.size(), 19u);
      EXPECT_GT(f[18], lastId) << "systems in order";
      lastId = f[18];
      ASSERT_EQ(talkerOfId.count(f[18]), 1u) << f[18];
      const std::string talker = talkerOfId.at(f[18]);
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
    if (row.mode == "1") {
      EXPECT_EQ(listed, 0);
    } else if (row.mode == "2") {
      EXPECT_EQ(listed, 3);
    } else {
      EXPECT_EQ(gsas.size(), std::bitset<8>(row.systems).count()) << "every system has satellites in the fix";
    }
    EXPECT_EQ(listed, std::stoi(gga[7])) << "GGA counts every satellite the GSAs list";

    ASSERT_EQ(plain.size(), burst.size());
    for (std::size_t i = 0; i < burst.size(); ++i) {
      const bool idLast = isType(burst[i], "GSA") && fieldsOf(burst[i]).size() == 19;
      EXPECT_EQ(plain[i], idLast ? burst[i].substr(0, burst[i].rfind(',')) : burst[i]);
    }
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
      const std::vector<std::string> bodies = burstAt(model, burst * 1000);
      const std::vector<std::string> talkers = gsvTalkers(bodies);
      const bool galileo = (burst - 1) % every == 0;
      const std::vector<std::string> expected =
          galileo ? std::vector<std::string>{"GP", "GL", "GA", "GB"} : std::vector<std::string>{"GP", "GL", "GB"};
      EXPECT_EQ(talkers, expected);
      if (burst > 10) {
        EXPECT_EQ(gsaSystemIds(bodies), (std::vector<std::string>{"1", "2", "3", "4"})) << "the fix still uses Galileo";
      }
    }
  }
}

TEST(SimModelSystems, Pmtk353ChoosesTheSystemsSearched) {
  struct Row {
    const char* legend;
    sim::SystemSet systems;  // what the receiver has
    std::map<int, int> ackFlagFor;
    std::vector<std::string> commands;
    std::vector<std::string> replies;
    std::vector<std::string> talkers;  // GSV talkers of the next burst
    std::vector<std::string> gsaIds;
  };
  const std::vector<std::string> fourTalkers = {"GP", "GL", "GA", "GB"};
  const std::vector<std::string> fourIds = {"1", "2", "3", "4"};
  const std::vector<Row> rows = {
      {"Galileo off", kFour, {}, {"PMTK353,1,1,0,0,1"}, {"PMTK001,353,3"}, {"GP", "GL", "GB"}, {"1", "2", "4"}},
      {"older two-field form: GPS and GLONASS",
       kFour,
       {},
       {"PMTK353,1,1"},
       {"PMTK001,353,3"},
       {"GP", "GL"},
       {"1", "2"}},
      {"GALILEO_FULL alone searches Galileo", kFour, {}, {"PMTK353,0,0,0,1,0"}, {"PMTK001,353,3"}, {"GA"}, {"3"}},
      {"GPS alone: the older sentences again", kFour, {}, {"PMTK353,1,0,0,0,0"}, {"PMTK001,353,3"}, {"GP"}, {"-"}},
      {"off and on again",
       kFour,
       {},
       {"PMTK353,0,1,0,0,0", "PMTK353,1,1,1,0,1"},
       {"PMTK001,353,3", "PMTK001,353,3"},
       fourTalkers,
       fourIds},
      {"QZSS has no field and stays",
       kGps | kGlonass | kQzss,
       {},
       {"PMTK353,1,0,0,0,0"},
       {"PMTK001,353,3"},
       {"GP", "GQ"},
       {"1", "5"}},
      {"a system the receiver lacks",
       kGps | kGlonass,
       {},
       {"PMTK353,1,1,0,0,1"},
       {"PMTK001,353,2"},
       {"GP", "GL"},
       {"1", "2"}},
      {"GLONASS on a GPS-only receiver", kGps, {}, {"PMTK353,1,1,0,0,0"}, {"PMTK001,353,2"}, {"GP"}, {"-"}},
      {"nothing to search", kFour, {}, {"PMTK353,0,0,0,0,0"}, {"PMTK001,353,2"}, fourTalkers, fourIds},
      {"a value other than 0 and 1", kFour, {}, {"PMTK353,1,2,0,0,0"}, {"PMTK001,353,0"}, fourTalkers, fourIds},
      {"an empty field", kFour, {}, {"PMTK353,1,,0,0,0"}, {"PMTK001,353,0"}, fourTalkers, fourIds},
      {"one field", kFour, {}, {"PMTK353,1"}, {"PMTK001,353,0"}, fourTalkers, fourIds},
      {"six fields", kFour, {}, {"PMTK353,1,0,0,0,0,0"}, {"PMTK001,353,0"}, fourTalkers, fourIds},
      {"refused by --ack-flag", kFour, {{353, 2}}, {"PMTK353,1,0,0,0,0"}, {"PMTK001,353,2"}, fourTalkers, fourIds},
      {"a full cold start searches every system again",
       kFour,
       {},
       {"PMTK353,1,0,0,0,0", "PMTK104"},
       {"PMTK001,353,3", "PMTK010,001"},
       fourTalkers,
       {"-"}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.legend);
    sim::ModelOptions options = systemsOptions(row.systems);
    options.ackFlagFor = row.ackFlagFor;
    options.startupMessage = true;
    options.powerUpNotice = false;
    sim::ReceiverModel model(options);
    runFor(model, 0, 15000);
    const std::vector<std::string> before = burstAt(model, 16000);
    EXPECT_EQ(gsvTalkers(before), talkersOf(row.systems));
    std::vector<std::string> replies;
    for (const std::string& command : row.commands) {
      for (const std::string& reply : repliesTo(model, testsupport::NmeaFramed(command), 16050))
        replies.push_back(reply);
    }
    EXPECT_EQ(replies, row.replies);
    const std::vector<std::string> after = burstAt(model, 17000);
    EXPECT_EQ(gsvTalkers(after), row.talkers);
    EXPECT_EQ(gsaSystemIds(after), row.gsaIds);
    EXPECT_EQ(fieldOf(after[0], 0).substr(0, 2), row.talkers == std::vector<std::string>{"GP"} ? "GP" : "GN");
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

TEST(SimModelFaults, ChecksumFaults) {
  struct Row {
    const char* legend;
    sim::NmeaFaults faults;
    bool relaxedValid;   // passes a check that takes either case (as the program's does)
    bool lettersChange;  // checksums with hex letters fail the strict upper-case check
  };
  sim::NmeaFaults bad;
  bad.badChecksum = 1;
  sim::NmeaFaults lower;
  lower.lowerCaseChecksum = 1;
  const std::vector<Row> rows = {
      {"none", {}, true, false},
      {"bad checksum", bad, false, false},
      {"lower case", lower, true, true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.legend);
    const std::string stream = joinChunks(cycleWith(row.faults));
    int strict = 0;
    int relaxed = 0;
    int total = 0;
    int withLetters = 0;
    for (const std::string& part : simtest::cutAtDollar(stream)) {
      ++total;
      if (simtest::strictBody(part)) ++strict;
      const std::size_t star = part.find('*');
      unsigned sum = 0;
      for (std::size_t i = 1; i < star; ++i) sum ^= static_cast<unsigned char>(part[i]);
      unsigned written = 0;
      if (std::sscanf(part.c_str() + star + 1, "%2x", &written) == 1 && written == sum) ++relaxed;
      char upper[3];
      std::snprintf(upper, sizeof upper, "%02X", sum);
      if (upper[0] > '9' || upper[1] > '9') ++withLetters;
    }
    ASSERT_GT(total, 100);
    ASSERT_GT(withLetters, 0);
    EXPECT_EQ(relaxed, row.relaxedValid ? total : 0);
    const int expectedStrict = !row.relaxedValid ? 0 : (row.lettersChange ? total - withLetters : total);
    EXPECT_EQ(strict, expectedStrict);
  }
}

TEST(SimModelFaults, OneDigitChecksumOnlyWhereTheValueAllowsIt) {
  sim::NmeaFaults faults;
  faults.oneDigitChecksum = 1;
  int oneDigit = 0;
  for (const std::string& part : simtest::cutAtDollar(joinChunks(cycleWith(faults)))) {
    const std::size_t star = part.find('*');
    ASSERT_NE(star, std::string::npos);
    unsigned sum = 0;
    for (std::size_t i = 1; i < star; ++i) sum ^= static_cast<unsigned char>(part[i]);
    const std::string digits = part.substr(star + 1, part.find('\r') - star - 1);
    EXPECT_EQ(digits.size(), sum < 16 ? 1u : 2u) << part;
    EXPECT_EQ(std::stoul(digits, nullptr, 16), sum);
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
  sim::NmeaFaults nul;
  nul.nulBytes = 1;
  sim::NmeaFaults garbage;
  garbage.garbage = 1;
  sim::NmeaFaults longRun;
  longRun.longRun = 1;
  longRun.longRunBytes = 6000;
  const std::vector<Row> rows = {
      {"NUL bytes", nul, 1, true},
      {"garbage", garbage, 1, false},
      {"long runs without $", longRun, 6000, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.legend);
    const std::vector<std::string> parts = simtest::cutAtDollar(joinChunks(cycleWith(row.faults)));
    ASSERT_GT(parts.size(), 100u);
    for (const std::string& part : parts) {
      const std::size_t end = part.find("\r\n");
      ASSERT_NE(end, std::string::npos);
      const std::string sentence = part.substr(0, end + 2);
      const std::string extra = part.substr(end + 2);
      EXPECT_TRUE(simtest::strictBody(sentence)) << "the sentence itself stays valid";
      EXPECT_GE(extra.size(), row.minExtra);
      if (row.onlyNul) {
        EXPECT_EQ(extra.find_first_not_of('\0'), std::string::npos);
      }
    }
  }
}

TEST(SimModelFaults, SplitWritesKeepTheBytesAndAddAGap) {
  sim::NmeaFaults faults;
  faults.splitWrites = 1;
  faults.splitGapMs = 9;
  const std::vector<sim::OutChunk> chunks = cycleWith(faults);
  const std::vector<sim::OutChunk> plain = cycleWith({});
  EXPECT_EQ(joinChunks(chunks), joinChunks(plain)) << "same bytes, only cut";
  EXPECT_EQ(chunks.size(), plain.size() * 2);
  int gaps = 0;
  for (const sim::OutChunk& c : chunks) gaps += c.gapBeforeMs == 9 ? 1 : 0;
  EXPECT_EQ(static_cast<std::size_t>(gaps), plain.size());
}

TEST(SimModelFaults, SeedMakesFaultsReproducible) {
  sim::NmeaFaults faults;
  faults.badChecksum = 0.3;
  faults.garbage = 0.3;
  faults.splitWrites = 0.3;
  EXPECT_EQ(joinChunks(cycleWith(faults, 11)), joinChunks(cycleWith(faults, 11)));
  EXPECT_NE(joinChunks(cycleWith(faults, 11)), joinChunks(cycleWith(faults, 12)));
}

TEST(SimModelFaults, RepliesStayClean) {
  sim::ModelOptions options = simtest::quietOptions();
  options.nmeaFaults.badChecksum = 1;
  options.nmeaFaults.garbage = 1;
  sim::ReceiverModel model(options);
  const std::string replies = joinChunks(model.receive("$PMTK605*31\r\n", 100));
  EXPECT_EQ(replies, testsupport::NmeaFramed("PMTK705,AXN_1.30,0000,Kappa-32,1.0"));
}

// --- LOCUS logbook --------------------------------------------------------------------------

constexpr std::int64_t kStartUtcS = 1700000000;  // quietOptions' clock

sim::ModelOptions locusOptions(const sim::LocusOptions& locus) {
  sim::ModelOptions options = simtest::quietOptions();
  options.locus = locus;
  return options;
}

// Replies to each command body, sent one after another at `now`.
std::vector<std::string> sendAll(sim::ReceiverModel& model, const std::vector<std::string>& commands, sim::SimMs now) {
  std::vector<std::string> replies;
  for (const std::string& c : commands) {
    for (const std::string& r : repliesTo(model, testsupport::NmeaFramed(c), now)) replies.push_back(r);
  }
  return replies;
}

simtest::LocusDump dumpOf(sim::ReceiverModel& model, sim::SimMs now, const std::string& command = "PMTK622,1") {
  return simtest::readLocusDump(joinChunks(model.receive(testsupport::NmeaFramed(command), now)));
}

// The records the used part of the flash holds, read from a dump.
simtest::LocusFlashRead flashOf(sim::ReceiverModel& model, sim::SimMs now) {
  const simtest::LocusDump dump = dumpOf(model, now);
  EXPECT_TRUE(dump.faults.empty()) << dump.faults.front();
  EXPECT_TRUE(dump.ended);
  const simtest::LocusFlashRead flash = simtest::readLocusFlash(dump.bytes);
  EXPECT_TRUE(flash.faults.empty()) << flash.faults.front();
  return flash;
}

TEST(SimLocus, StatusTellsTheLoggersState) {
  struct Row {
    const char* legend;
    sim::LocusOptions locus;
    std::uint32_t seed;
    std::vector<std::string> commands;
    std::string status;
  };
  // Capacity: 16 sectors of (4096 - 64) / 16 = 252 basic points, or of 4032 / 20 = 201.
  const std::vector<Row> rows = {
      {"a new logger: logging, empty", {.enabled = true}, 1, {}, "PMTKLOG,1,0,10,31,15,0,0,0,0,0"},
      {"300 points of 20 bytes every 5 s, stop when full; the serial is the seed",
       {.enabled = true, .type = 1, .content = 0x7F, .intervalS = 5, .fill = 300},
       456,
       {},
       "PMTKLOG,456,1,10,127,5,0,0,0,300,9"},
      {"1000 basic points: 24 % of 4032", {.enabled = true, .fill = 1000}, 1, {}, "PMTKLOG,1,0,10,31,15,0,0,0,1000,24"},
      {"stopped", {.enabled = true, .fill = 10}, 1, {"PMTK185,1"}, "PMTKLOG,1,0,10,31,15,0,0,1,10,0"},
      {"logging written as 2",
       {.enabled = true, .fill = 10, .statusWhileLogging = 2},
       1,
       {},
       "PMTKLOG,1,0,10,31,15,0,0,2,10,0"},
      {"stopped is 1 under that convention too",
       {.enabled = true, .fill = 10, .statusWhileLogging = 2},
       1,
       {"PMTK185,1"},
       "PMTKLOG,1,0,10,31,15,0,0,1,10,0"},
      {"mode in hex", {.enabled = true, .modeInHex = true}, 1, {}, "PMTKLOG,1,0,A,31,15,0,0,0,0,0"},
      {"interval set", {.enabled = true}, 1, {"PMTK187,1,60"}, "PMTKLOG,1,0,10,31,60,0,0,0,0,0"},
      {"full and stop when full: stopped at 100 %",
       {.enabled = true, .type = 1, .fill = 4032},
       1,
       {},
       "PMTKLOG,1,1,10,31,15,0,0,1,4032,100"},
      {"4100 points wrapped: the first sector holds the newest 68, the other 15 sectors 3780",
       {.enabled = true, .fill = 4100},
       1,
       {},
       "PMTKLOG,1,0,10,31,15,0,0,0,3848,95"},
      {"erased", {.enabled = true, .fill = 300}, 1, {"PMTK184,1"}, "PMTKLOG,1,0,10,31,15,0,0,0,0,0"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.legend);
    sim::ModelOptions options = locusOptions(row.locus);
    options.seed = row.seed;
    sim::ReceiverModel model(options);
    sendAll(model, row.commands, 500);
    EXPECT_EQ(repliesTo(model, "$PMTK183*38\r\n", 600), (std::vector<std::string>{row.status, "PMTK001,183,3"}));
  }
}

TEST(SimLocus, CommandsAreAcknowledgedAndObeyed) {
  struct Row {
    const char* legend;
    sim::LocusOptions locus;
    std::map<int, int> ackFlagFor;
    sim::SimMs atMs;  // 1000: no fix yet; 20000: a 3D fix
    std::vector<std::string> commands;
    std::vector<std::string> replies;
    std::string statusAfter;  // empty: no status line expected
  };
  const sim::LocusOptions ten = {.enabled = true, .fill = 10};
  const sim::LocusOptions full = {.enabled = true, .type = 1, .fill = 4032};
  const std::string tenLogging = "PMTKLOG,1,0,10,31,15,0,0,0,10,0";
  const std::vector<Row> rows = {
      {"no logger: status", {}, {}, 20000, {"PMTK183"}, {"PMTK001,183,1"}, ""},
      {"no logger: erase", {}, {}, 20000, {"PMTK184,1"}, {"PMTK001,184,1"}, ""},
      {"no logger: start", {}, {}, 20000, {"PMTK185,0"}, {"PMTK001,185,1"}, ""},
      {"no logger: a point now", {}, {}, 20000, {"PMTK186,1"}, {"PMTK001,186,1"}, ""},
      {"no logger: interval", {}, {}, 20000, {"PMTK187,1,5"}, {"PMTK001,187,1"}, ""},
      {"no logger: dump", {}, {}, 20000, {"PMTK622,1"}, {"PMTK001,622,1"}, ""},
      {"a status query with a field", ten, {}, 20000, {"PMTK183,1"}, {"PMTK001,183,0"}, tenLogging},
      {"erase", ten, {}, 20000, {"PMTK184,1"}, {"PMTK001,184,3"}, "PMTKLOG,1,0,10,31,15,0,0,0,0,0"},
      {"erase with 0", ten, {}, 20000, {"PMTK184,0"}, {"PMTK001,184,0"}, tenLogging},
      {"erase without its field", ten, {}, 20000, {"PMTK184"}, {"PMTK001,184,0"}, tenLogging},
      {"erase refused by --ack-flag", ten, {{184, 2}}, 20000, {"PMTK184,1"}, {"PMTK001,184,2"}, tenLogging},
      {"stop", ten, {}, 20000, {"PMTK185,1"}, {"PMTK001,185,3"}, "PMTKLOG,1,0,10,31,15,0,0,1,10,0"},
      {"stop and start", ten, {}, 20000, {"PMTK185,1", "PMTK185,0"}, {"PMTK001,185,3", "PMTK001,185,3"}, tenLogging},
      {"start with 2", ten, {}, 20000, {"PMTK185,2"}, {"PMTK001,185,0"}, tenLogging},
      {"a point now with a fix", ten, {}, 20000, {"PMTK186,1"}, {"PMTK001,186,3"}, "PMTKLOG,1,0,10,31,15,0,0,0,11,0"},
      {"a point now without a fix fails", ten, {}, 1000, {"PMTK186,1"}, {"PMTK001,186,2"}, tenLogging},
      {"a point now while stopped",
       ten,
       {},
       20000,
       {"PMTK185,1", "PMTK186,1"},
       {"PMTK001,185,3", "PMTK001,186,3"},
       "PMTKLOG,1,0,10,31,15,0,0,1,11,0"},
      {"a point now with 0", ten, {}, 20000, {"PMTK186,0"}, {"PMTK001,186,0"}, tenLogging},
      {"interval 60 s", ten, {}, 20000, {"PMTK187,1,60"}, {"PMTK001,187,3"}, "PMTKLOG,1,0,10,31,60,0,0,0,10,0"},
      {"interval 0 fails", ten, {}, 20000, {"PMTK187,1,0"}, {"PMTK001,187,2"}, tenLogging},
      {"interval beyond 16 bits fails", ten, {}, 20000, {"PMTK187,1,65536"}, {"PMTK001,187,2"}, tenLogging},
      {"interval not a number", ten, {}, 20000, {"PMTK187,1,x"}, {"PMTK001,187,0"}, tenLogging},
      {"interval without its value", ten, {}, 20000, {"PMTK187,1"}, {"PMTK001,187,0"}, tenLogging},
      {"by distance: not this logger", ten, {}, 20000, {"PMTK187,2,10"}, {"PMTK001,187,1"}, tenLogging},
      {"an unknown kind of interval", ten, {}, 20000, {"PMTK187,7,10"}, {"PMTK001,187,0"}, tenLogging},
      {"a dump of neither part", ten, {}, 20000, {"PMTK622,5"}, {"PMTK001,622,0"}, tenLogging},
      {"a dump without its field", ten, {}, 20000, {"PMTK622"}, {"PMTK001,622,0"}, tenLogging},
      {"full, stop when full: start fails",
       full,
       {},
       20000,
       {"PMTK185,0"},
       {"PMTK001,185,2"},
       "PMTKLOG,1,1,10,31,15,0,0,1,4032,100"},
      {"full, stop when full: a point now fails",
       full,
       {},
       20000,
       {"PMTK186,1"},
       {"PMTK001,186,2"},
       "PMTKLOG,1,1,10,31,15,0,0,1,4032,100"},
      {"full, stop when full: erased, it starts",
       full,
       {},
       20000,
       {"PMTK184,1", "PMTK185,0"},
       {"PMTK001,184,3", "PMTK001,185,3"},
       "PMTKLOG,1,1,10,31,15,0,0,0,0,0"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.legend);
    sim::ModelOptions options = locusOptions(row.locus);
    options.ackFlagFor = row.ackFlagFor;
    sim::ReceiverModel model(options);
    EXPECT_EQ(sendAll(model, row.commands, row.atMs), row.replies);
    const std::vector<std::string> status = repliesTo(model, testsupport::NmeaFramed("PMTK183"), row.atMs + 10);
    if (row.statusAfter.empty()) {
      EXPECT_EQ(status, std::vector<std::string>{"PMTK001,183,1"});
    } else {
      EXPECT_EQ(status, (std::vector<std::string>{row.statusAfter, "PMTK001,183,3"}));
    }
  }
}

TEST(SimLocus, DumpFraming) {
  struct Row {
    const char* legend;
    sim::LocusOptions locus;
    std::string command;
    std::size_t lines;      // 96 bytes a line: a sector takes 42 2/3
    std::size_t lastWords;  // of the last line
  };
  const std::vector<Row> rows = {
      {"empty, the used part: no line", {.enabled = true}, "PMTK622,1", 0, 0},
      {"one sector used", {.enabled = true, .fill = 10}, "PMTK622,1", 43, 16},
      {"two sectors of basic points", {.enabled = true, .fill = 253}, "PMTK622,1", 86, 8},
      {"two sectors of 20-byte points (201 a sector)",
       {.enabled = true, .content = 0x7F, .fill = 202},
       "PMTK622,1",
       86,
       8},
      {"one sector of 20-byte points", {.enabled = true, .content = 0x7F, .fill = 201}, "PMTK622,1", 43, 16},
      {"all of an empty flash", {.enabled = true}, "PMTK622,0", 683, 16},
      {"all of it with points", {.enabled = true, .fill = 10}, "PMTK622,0", 683, 16},
      {"wrapped: every sector used", {.enabled = true, .fill = 4100}, "PMTK622,1", 683, 16},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.legend);
    sim::ReceiverModel model(locusOptions(row.locus));
    const std::vector<sim::OutChunk> chunks = model.receive(testsupport::NmeaFramed(row.command), 20000);
    for (const sim::OutChunk& c : chunks) EXPECT_FALSE(c.periodic) << "a saturated line must not drop a dump line";
    const simtest::LocusDump dump = simtest::readLocusDump(joinChunks(chunks));
    EXPECT_TRUE(dump.faults.empty()) << dump.faults.front();
    EXPECT_EQ(dump.declared, static_cast<long>(row.lines));
    ASSERT_EQ(dump.lines.size(), row.lines);
    for (std::size_t i = 0; i + 1 < dump.wordsOfLine.size(); ++i) EXPECT_EQ(dump.wordsOfLine[i], 24u) << "line " << i;
    if (row.lines > 0) {
      EXPECT_EQ(dump.wordsOfLine.back(), row.lastWords);
    }
    EXPECT_EQ(dump.bytes.size() % 4096, 0u) << "whole sectors";
    EXPECT_TRUE(dump.ended);
    EXPECT_EQ(dump.ack, "PMTK001,622,3");
  }
}

// The flash a dump carries, read by the reader above: headers, records by the content bits,
// check bytes, and the values against the simulated walk.
TEST(SimLocus, DumpCarriesTheFlashAsTheFormatSays) {
  struct Row {
    const char* legend;
    sim::LocusOptions locus;
    std::size_t recordBytes;
    int fixByte;
  };
  const std::vector<Row> rows = {
      {"basic: time, fix, latitude, longitude, height", {.enabled = true, .fill = 300}, 16, 1},
      {"with speed and track", {.enabled = true, .content = 0x7F, .fill = 300}, 20, 1},
      {"with HDOP and satellites too", {.enabled = true, .content = 0x147F, .fill = 300}, 23, 1},
      {"time, latitude and satellites, every 4 s",
       {.enabled = true, .content = 0x1005, .intervalS = 4, .fill = 500},
       10,
       -1},
      {"stop when full, fix byte by dimension: 3D",
       {.enabled = true, .type = 1, .content = 0x3, .intervalS = 1, .fill = 900, .fixDimension = true},
       6,
       3},
  };
  const sim::Sky sky(25.05, 121.50);
  for (const Row& row : rows) {
    SCOPED_TRACE(row.legend);
    const sim::LocusOptions& o = row.locus;
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
      EXPECT_EQ(h.sector, s);
      EXPECT_EQ(h.type, static_cast<unsigned>(o.type));
      EXPECT_EQ(h.mode, 2u | 8u) << "fix only, by interval";
      EXPECT_EQ(h.content, o.content);
      EXPECT_EQ(h.intervalS, static_cast<unsigned>(o.intervalS));
      EXPECT_EQ(h.distanceM, 0u);
      EXPECT_EQ(h.speedKmh, 0u);
      EXPECT_TRUE(h.checkOk);
      EXPECT_TRUE(h.unusedErased);
    }
    ASSERT_EQ(flash.records.size(), static_cast<std::size_t>(o.fill));
    for (std::size_t i = 0; i < flash.records.size(); ++i) {
      SCOPED_TRACE(i);
      const simtest::LocusRecord& r = flash.records[i];
      EXPECT_EQ(r.sector * perSector + r.slot, i) << "back to back from the first sector";
      EXPECT_TRUE(r.checkOk);
      const std::int64_t utcS = kStartUtcS - (o.fill - static_cast<long>(i)) * o.intervalS;
      const sim::Position p = sky.positionAt((utcS - kStartUtcS) * 1000);
      if (o.content & 0x1) {
        EXPECT_EQ(r.utcS, utcS) << "one interval apart, the newest one before the start";
      }
      EXPECT_EQ(r.fix, row.fixByte);
      if (o.content & 0x4) {
        EXPECT_NEAR(r.latitudeDeg, p.latitudeDeg, 2e-5);
      }
      if (o.content & 0x8) {
        EXPECT_NEAR(r.longitudeDeg, p.longitudeDeg, 2e-5);
      }
      if (o.content & 0x10) {
        EXPECT_NEAR(r.heightM, p.altitudeM, 0.5);
      }
      if (o.content & 0x20) {
        EXPECT_EQ(r.speedKmh, 6) << "a walk of 1.57 m/s";
      }
      if (o.content & 0x40) {
        const double off = std::fmod(std::fabs(r.trackDeg - p.courseDeg), 360.0);
        EXPECT_TRUE(r.trackDeg >= 0 && r.trackDeg < 360 && (off <= 0.5 || off >= 359.5)) << r.trackDeg;
      }
      if (o.content & 0x1000) {
        // The fix uses the satellites the sky shows with a usable signal, twelve at most.
        int usable = 0;
        for (const sim::SatelliteView& s : sky.satellitesAt(utcS)) usable += !s.sbas && s.snrDbHz >= 20 ? 1 : 0;
        EXPECT_EQ(r.satellites, std::min(usable, 12));
      }
      if (o.content & 0x400) {
        EXPECT_EQ(r.hdopHundredths, std::lround((0.7 + 4.0 / r.satellites) * 100));
      }
    }
  }
}

TEST(SimLocus, LogsAPointEachIntervalWhileItHasAFix) {
  struct Row {
    const char* legend;
    sim::LocusOptions locus;
    std::vector<std::pair<sim::SimMs, std::string>> commands;
    std::vector<int> offsetsS;  // times of the points, seconds after the start
    std::vector<int> fixBytes;  // empty: all 1
  };
  const std::vector<Row> rows = {
      {"every 15 s from the first fix (2D at 5 s)", {.enabled = true}, {}, {5, 20, 35, 50}, {}},
      {"every 40 s", {.enabled = true, .intervalS = 40}, {}, {5, 45}, {}},
      {"fix bytes by dimension: 2D, then 3D",
       {.enabled = true, .fixDimension = true},
       {},
       {5, 20, 35, 50},
       {2, 3, 3, 3}},
      {"stopped at 30 s", {.enabled = true}, {{30050, "PMTK185,1"}}, {5, 20}, {}},
      {"stopped, started at 40 s",
       {.enabled = true},
       {{30050, "PMTK185,1"}, {40050, "PMTK185,0"}},
       {5, 20, 41, 56},
       {}},
      {"interval 5 s from 30 s", {.enabled = true}, {{30050, "PMTK187,1,5"}}, {5, 20, 31, 36, 41, 46, 51, 56}, {}},
      {"no point without a fix: a cold start at 19 s has its 2D fix 10 s later",
       {.enabled = true},
       {{19050, "PMTK103"}},
       {5, 30, 45, 60},
       {}},
      {"a point now at 12.5 s, then an interval after it",
       {.enabled = true},
       {{12500, "PMTK186,1"}},
       {5, 12, 27, 42, 57},
       {}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.legend);
    sim::ReceiverModel model(locusOptions(row.locus));
    sim::SimMs t = 0;
    for (const auto& [atMs, body] : row.commands) {
      runFor(model, t, atMs - 1);
      t = atMs - atMs % 100 + 100;
      model.receive(testsupport::NmeaFramed(body), atMs);
    }
    runFor(model, t, 60000);
    const simtest::LocusFlashRead flash = flashOf(model, 60050);
    std::vector<int> offsets;
    std::vector<int> fixes;
    for (const simtest::LocusRecord& r : flash.records) {
      offsets.push_back(static_cast<int>(r.utcS - kStartUtcS));
      fixes.push_back(r.fix);
      EXPECT_TRUE(r.checkOk);
    }
    EXPECT_EQ(offsets, row.offsetsS);
    EXPECT_EQ(fixes, row.fixBytes.empty() ? std::vector<int>(row.offsetsS.size(), 1) : row.fixBytes);
  }
}

TEST(SimLocus, AFullFlashOverwritesFromTheFirstSectorOrStops) {
  struct Row {
    const char* legend;
    sim::LocusOptions locus;
    sim::SimMs runToMs;  // live logging after the start (0: none)
    long keptFrom;       // the filled points kept: [keptFrom, keptTo) of the fill
    long keptTo;
    std::vector<int> liveS;  // live points, seconds after the start
    int firstStoredS;        // time of the first sector's first record, from the start
    bool logging;
  };
  const std::vector<Row> rows = {
      {"4100 points: the newest 68 in the first sector, its older ones gone",
       {.enabled = true, .fill = 4100},
       0,
       252,
       4100,
       {},
       -68 * 15,
       true},
      {"8100 points: round twice", {.enabled = true, .fill = 8100}, 0, 4284, 8100, {}, -36 * 15, true},
      {"stop when full: the oldest 4032 of 4100, stopped",
       {.enabled = true, .type = 1, .fill = 4100},
       0,
       0,
       4032,
       {},
       -4100 * 15,
       false},
      {"full: the first live point goes into a fresh first sector",
       {.enabled = true, .fill = 4032},
       6000,
       252,
       4032,
       {5},
       5,
       true},
      {"full and stop when full: no live point",
       {.enabled = true, .type = 1, .fill = 4032},
       30000,
       0,
       4032,
       {},
       -4032 * 15,
       false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.legend);
    sim::ReceiverModel model(locusOptions(row.locus));
    if (row.runToMs > 0) runFor(model, 0, row.runToMs);
    const simtest::LocusFlashRead flash = flashOf(model, row.runToMs + 50);
    std::vector<std::int64_t> expected;
    for (long i = row.keptFrom; i < row.keptTo; ++i) expected.push_back(kStartUtcS - (row.locus.fill - i) * 15);
    for (const int s : row.liveS) expected.push_back(kStartUtcS + s);
    std::vector<std::int64_t> times;
    for (const simtest::LocusRecord& r : flash.records) {
      times.push_back(r.utcS);
      EXPECT_TRUE(r.checkOk);
    }
    ASSERT_FALSE(times.empty());
    EXPECT_EQ(times.front(), kStartUtcS + row.firstStoredS) << "storage order";
    std::sort(times.begin(), times.end());
    EXPECT_EQ(times, expected) << "by time, every point kept and nothing else";
    EXPECT_EQ(model.locusLogging(), row.logging);
    const std::vector<std::string> status = repliesTo(model, testsupport::NmeaFramed("PMTK183"), row.runToMs + 60);
    ASSERT_EQ(status.size(), 2u);
    EXPECT_EQ(fieldOf(status[0], 9), std::to_string(expected.size())) << "the status counts what is held";
  }
}

TEST(SimLocus, FaultFlags) {
  struct Row {
    const char* legend;
    sim::LocusOptions locus;
    sim::SimMs runToMs;
    long badIndex;  // the record with the wrong check byte (-1: none)
    long lines;     // data lines the dump of the used part sends
    bool ended;     // ... then $PMTKLOX,2 and the acknowledgement
  };
  const std::vector<Row> rows = {
      {"none", {.enabled = true, .fill = 20}, 0, -1, 43, true},
      {"the 7th record", {.enabled = true, .fill = 20, .badRecord = 7}, 0, 6, 43, true},
      {"the first record", {.enabled = true, .fill = 20, .badRecord = 1}, 0, 0, 43, true},
      {"the first live record after 20 filled", {.enabled = true, .fill = 20, .badRecord = 21}, 6000, 20, 43, true},
      {"a dump that stops after 5 lines", {.enabled = true, .fill = 20, .dumpStopsAfter = 5}, 0, -1, 5, false},
      {"... after none", {.enabled = true, .fill = 20, .dumpStopsAfter = 0}, 0, -1, 0, false},
      {"... one line before its end", {.enabled = true, .fill = 20, .dumpStopsAfter = 42}, 0, -1, 42, false},
      {"... at its end: whole", {.enabled = true, .fill = 20, .dumpStopsAfter = 43}, 0, -1, 43, true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.legend);
    sim::ReceiverModel model(locusOptions(row.locus));
    if (row.runToMs > 0) runFor(model, 0, row.runToMs);
    const simtest::LocusDump dump = dumpOf(model, row.runToMs + 50);
    EXPECT_TRUE(dump.faults.empty()) << dump.faults.front();
    EXPECT_EQ(dump.declared, 43) << "the opening line tells the whole dump";
    EXPECT_EQ(dump.lines.size(), static_cast<std::size_t>(row.lines));
    EXPECT_EQ(dump.ended, row.ended);
    EXPECT_EQ(dump.ack, row.ended ? "PMTK001,622,3" : "");
    if (!row.ended) continue;
    const simtest::LocusFlashRead flash = simtest::readLocusFlash(dump.bytes);
    for (std::size_t i = 0; i < flash.records.size(); ++i)
      EXPECT_EQ(flash.records[i].checkOk, static_cast<long>(i) != row.badIndex) << "record " << i;
    EXPECT_GT(static_cast<long>(flash.records.size()), row.badIndex);
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
  const std::vector<std::string> lines = sim::ReadCaptureLines(text);
  const std::vector<std::string> expected = {"$GPGGA,1*00\r\n", "$GPRMC,2*00\n", "\n", "$GPGSV,3\n", "last"};
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
  std::vector<std::string> bursts;
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
