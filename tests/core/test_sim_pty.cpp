// The simulated receiver on a real pseudo-terminal, through the program's serial layer:
// registration in the port map, repeated opens, commands and what was recorded of them,
// replay of a real capture, the binary exchange and a LOCUS dump over the line, and the
// torvikel-sim program itself (ready line, options, removal of its entry on SIGTERM and
// SIGINT).
//
// Thread rule: each test owns its receiver; the receiver's worker is joined by stop().
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "link/baud_detect.h"
#include "link/port_names.h"
#include "link/serial_port.h"
#include "sim/sim_arguments.h"
#include "sim/sim_receiver.h"
#include "tests/core/test_sim_support.h"
#include "tests/support/files.h"
#include "tests/support/frames.h"

namespace fs = std::filesystem;

namespace {

using testsupport::TempDir;

sim::SimOptions fastOptions(const TempDir& dir) {
  sim::SimOptions o;
  o.model = simtest::quietOptions();
  o.model.periodMs = 100;
  o.model.startup = {0, 0};
  o.portMapDir = dir.path();
  return o;
}

// Reads from the port until `until` holds for what came, or the wait gives up (10 s).
std::string readUntil(SerialPort& port, const std::function<bool(const std::string&)>& until) {
  std::string in;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!until(in) && std::chrono::steady_clock::now() < deadline) {
    if (!port.waitReadable(200)) continue;
    char buf[4096];
    const long n = port.read(buf, static_cast<std::size_t>(std::max(1, std::min(port.bytesQueued(), 4096))));
    if (n > 0) in.append(buf, static_cast<std::size_t>(n));
  }
  return in;
}

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST(SimPty, RegistersItselfAndRemovesTheEntry) {
  TempDir dir;
  std::string entry;
  {
    sim::SimOptions options = fastOptions(dir);
    options.comNumber = 3;
    sim::SimReceiver receiver(options);
    std::string error;
    ASSERT_TRUE(receiver.start(&error)) << error;
    entry = receiver.portMapEntry();
    EXPECT_EQ(entry, dir.file("com3"));
    ASSERT_TRUE(fs::is_symlink(entry));
    EXPECT_EQ(fs::read_symlink(entry).string(), receiver.slavePath());
    PortRoots roots;
    roots.mapDir = dir.path();
    EXPECT_EQ(ResolveComPortIn(roots, 3), receiver.slavePath());
    receiver.stop();
    EXPECT_FALSE(fs::exists(fs::symlink_status(entry)));
  }
}

TEST(SimPty, StaleEntryIsReplacedAndForeignEntryIsLeftAlone) {
  TempDir dir;
  fs::create_symlink("/dev/pts/stale", dir.file("com1"));
  sim::SimReceiver receiver(fastOptions(dir));
  ASSERT_TRUE(receiver.start());
  EXPECT_EQ(fs::read_symlink(dir.file("com1")).string(), receiver.slavePath());
  // Another simulator took the name meanwhile: ours must not remove its entry.
  fs::remove(dir.file("com1"));
  fs::create_symlink("/dev/pts/other", dir.file("com1"));
  receiver.stop();
  EXPECT_EQ(fs::read_symlink(dir.file("com1")).string(), "/dev/pts/other");
}

TEST(SimPty, PortOpensAgainAndAgainWithoutHangUp) {
  TempDir dir;
  sim::SimReceiver receiver(fastOptions(dir));
  ASSERT_TRUE(receiver.start());
  for (int round = 0; round < 10; ++round) {
    SCOPED_TRACE(round);
    SerialPort port;
    ASSERT_TRUE(port.open(receiver.slavePath())) << port.lastError();
    ASSERT_TRUE(port.setState(LineState{115200}));
    ASSERT_TRUE(port.purge());
    const std::string in =
        readUntil(port, [](const std::string& s) { return s.find("\r\n$GPGGA") != std::string::npos; });
    EXPECT_TRUE(contains(in, "$GPGGA"));
    port.close();
  }
}

TEST(SimPty, SentencesOverTheLinePassAnIndependentCheck) {
  TempDir dir;
  sim::SimReceiver receiver(fastOptions(dir));
  ASSERT_TRUE(receiver.start());
  SerialPort port;
  ASSERT_TRUE(port.open(receiver.slavePath()));
  const std::string in = readUntil(port, [](const std::string& s) { return std::count(s.begin(), s.end(), '$') > 80; });
  std::vector<std::string> parts = simtest::cutAtDollar(in);
  ASSERT_GT(parts.size(), 80u);
  parts.pop_back();  // may still be arriving
  for (const std::string& part : parts) EXPECT_TRUE(simtest::strictBody(part)) << part;
  EXPECT_TRUE(contains(receiver.sentBytes(), in.substr(in.find('$'))));
}

TEST(SimPty, CommandsAreAnsweredAndRecordedByteForByte) {
  TempDir dir;
  sim::SimOptions options = fastOptions(dir);
  options.recordPath = dir.file("received.bin");
  sim::SimReceiver receiver(options);
  ASSERT_TRUE(receiver.start());
  SerialPort port;
  ASSERT_TRUE(port.open(receiver.slavePath()));
  struct Row {
    const char* legend;
    std::string bytes;
    std::string reply;
  };
  const std::vector<Row> rows = {
      {"firmware query", "$PMTK605*31\r\n", "$PMTK705,AXN_1.30,0000,Kappa-32,1.0*"},
      {"fix period query with its zero byte", std::string("$PMTK400*36\r\n\0", 14), "$PMTK500,100,0,0,0,0*"},
      {"DGPS mode set", "$PMTK301,2*2E\r\n", "$PMTK001,301,3*"},
      {"maker's mode query", testsupport::NmeaFramed("PZRN000,MODE"), "$PZRN001,MODE,0*"},
  };
  std::string written;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.legend);
    ASSERT_EQ(port.write(row.bytes.data(), row.bytes.size()), static_cast<long>(row.bytes.size()));
    written += row.bytes;
    const std::string in = readUntil(port, [&](const std::string& s) { return contains(s, row.reply); });
    EXPECT_TRUE(contains(in, row.reply));
  }
  ASSERT_TRUE(receiver.waitUntil([&] { return receiver.receivedBytes().size() >= written.size(); }, 10000));
  EXPECT_EQ(receiver.receivedBytes(), written);
  const std::vector<sim::ReceivedChunk> chunks = receiver.received();
  for (std::size_t i = 1; i < chunks.size(); ++i) EXPECT_LE(chunks[i - 1].atMs, chunks[i].atMs);
  receiver.stop();
  std::ifstream file(options.recordPath, std::ios::binary);
  std::ostringstream recorded;
  recorded << file.rdbuf();
  EXPECT_EQ(recorded.str(), written);
}

// A receiver at 9600 and a program that set 115200: it reads bytes but no sentence, and its
// command is not understood; the moment it sets 9600 both work, with no reopen.
TEST(SimPty, AWrongRateGarblesBothWaysAndTheRightOneWorksAtOnce) {
  TempDir dir;
  sim::SimOptions options = fastOptions(dir);
  options.model.baud = 9600;
  options.model.periodMs = 1000;  // bursts that leave the line room for a reply
  sim::SimReceiver receiver(options);
  ASSERT_TRUE(receiver.start());
  SerialPort port;
  ASSERT_TRUE(port.open(receiver.slavePath()));
  ASSERT_TRUE(port.setState(LineState{115200}));
  ASSERT_TRUE(port.purge());
  const std::string query = "$PMTK605*31\r\n";
  ASSERT_EQ(port.write(query.data(), query.size()), 13);
  // Most of a burst as the wrong rate reads it.
  const std::string garbled = readUntil(port, [](const std::string& s) { return s.size() >= 300; });
  EXPECT_GE(garbled.size(), 300u);
  EXPECT_TRUE(simtest::bodiesOf(garbled).empty()) << garbled;

  ASSERT_TRUE(port.setState(LineState{9600}));
  ASSERT_TRUE(port.purge());
  ASSERT_EQ(port.write(query.data(), query.size()), 13);
  const std::string in = readUntil(port, [](const std::string& s) { return contains(s, "$PMTK705,"); });
  EXPECT_TRUE(contains(in, "$PMTK705,"));
  EXPECT_GT(simtest::bodiesOf(in).size(), 1u);
  EXPECT_EQ(receiver.commands(), std::vector<std::string>{"PMTK605"}) << "the query at 115200 was not understood";
  EXPECT_EQ(receiver.receivedBytes(), query + query) << "both went on the line";
}

// Baud-rate detection against the simulated receiver at each rate of the window's speed
// list and those PMTK251 adds: the rate is found, after exactly the rates before it in the order tried, and not a
// byte reaches the receiver. A silent receiver: every rate tried, and the reason says so.
struct DetectRow {
  const char* legend;
  std::uint32_t receiverBaud;  // 0: every output off, nothing on the line
  int periodMs;
};

void PrintTo(const DetectRow& row, std::ostream* os) { *os << row.legend; }

class SimDetectTest : public ::testing::TestWithParam<DetectRow> {};

TEST_P(SimDetectTest, FindsTheRateWithoutWriting) {
  const DetectRow& row = GetParam();
  TempDir dir;
  sim::SimOptions options = fastOptions(dir);
  options.model.baud = row.receiverBaud != 0 ? row.receiverBaud : 9600;
  options.model.periodMs = row.periodMs;
  if (row.receiverBaud == 0) options.model.rates = {};
  sim::SimReceiver receiver(options);
  ASSERT_TRUE(receiver.start());
  SerialPort port;
  ASSERT_TRUE(port.open(receiver.slavePath()));
  BaudDetectOptions detect;
  if (row.receiverBaud == 0) detect.perRateMs = 300;  // silence looks the same at any bound
  const BaudDetectResult found = DetectBaudRate(port, receiver.slavePath(), detect);
  EXPECT_EQ(found.baud, row.receiverBaud);
  const auto last = row.receiverBaud == 0 ? kDetectRates.end()
                                          : std::find(kDetectRates.begin(), kDetectRates.end(), row.receiverBaud) + 1;
  EXPECT_EQ(found.tried, std::vector<std::uint32_t>(kDetectRates.begin(), last));
  if (row.receiverBaud == 0) {
    EXPECT_FALSE(found.bytesArrived);
    EXPECT_EQ(DetectFailure(found, "Com3").explanation,
              "Nothing arrived from Com3 at 115200, 9600, 38400, 4800, 19200, 14400, 57600, 230400, 460800 or 921600 "
              "baud: the receiver is silent. "
              "Check that it is powered and connected, and that this is its port.");
  } else {
    EXPECT_NE(found.received.find("$GP"), std::string::npos) << "what was read goes on to the reader";
  }
  EXPECT_EQ(receiver.receivedBytes(), "") << "detection only listens";
}

INSTANTIATE_TEST_SUITE_P(
    SpeedList, SimDetectTest,
    ::testing::Values(DetectRow{"4800 at 1 Hz: the slowest rate, the bursts the bound is made for", 4800, 1000},
                      DetectRow{"9600", 9600, 100}, DetectRow{"14400", 14400, 100}, DetectRow{"19200", 19200, 100},
                      DetectRow{"38400", 38400, 100}, DetectRow{"115200: the first rate tried", 115200, 100},
                      DetectRow{"57600: a rate only PMTK251 sets", 57600, 100},
                      DetectRow{"921600: the last rate tried, the MT3333 family's fastest", 921600, 100},
                      DetectRow{"silent receiver", 0, 100}));

TEST(SimPty, ReplaysARealCaptureLineForLine) {
  std::ifstream file(std::string(TORVIKEL_TEST_DATA) + "/mt3339.log", std::ios::binary);
  ASSERT_TRUE(file);
  std::ostringstream text;
  text << file.rdbuf();
  const std::vector<std::string> lines = sim::ReadCaptureLines(text.str());
  std::string expected;
  for (const std::string& line : lines) expected += line;
  ASSERT_EQ(expected.find('#'), std::string::npos);

  TempDir dir;
  sim::SimOptions options = fastOptions(dir);
  options.model.replayLines = lines;
  options.model.replayFast = true;
  sim::SimReceiver receiver(options);
  ASSERT_TRUE(receiver.start());
  SerialPort port;
  ASSERT_TRUE(port.open(receiver.slavePath()));
  const std::string in = readUntil(port, [&](const std::string& s) { return s.size() >= expected.size(); });
  EXPECT_EQ(in, expected);
  EXPECT_TRUE(receiver.waitUntil([&] { return receiver.replayFinished(); }, 5000));
}

// Reads one acknowledgement-sized answer (12 bytes) or whatever came within the wait.
std::string readBytes(SerialPort& port, std::size_t count) {
  return readUntil(port, [count](const std::string& s) { return s.size() >= count; });
}

TEST(SimPty, BinaryExchangeOverTheLine) {
  struct Row {
    const char* legend;
    bool splitAcks;
  };
  for (const Row& row :
       std::vector<Row>{{"whole acknowledgements", false}, {"acknowledgements split between 0D and 0A", true}}) {
    SCOPED_TRACE(row.legend);
    TempDir dir;
    sim::SimOptions options = fastOptions(dir);
    options.model.binaryFaults.splitAcks = row.splitAcks;
    sim::SimReceiver receiver(options);
    ASSERT_TRUE(receiver.start());
    SerialPort port;
    ASSERT_TRUE(port.open(receiver.slavePath()));
    const std::string sw = "$PMTK253,1,115200*00\r\n";
    ASSERT_EQ(port.write(sw.data(), sw.size()), static_cast<long>(sw.size()));
    ASSERT_TRUE(receiver.waitUntil([&] { return receiver.binaryMode(); }, 10000));
    const std::string modeAck("\x04\x24\x0C\x00\x01\x00\xFD\x00\x03\xF3\x0D\x0A", 12);
    const std::string in = readUntil(port, [&](const std::string& s) { return contains(s, modeAck); });
    ASSERT_TRUE(contains(in, modeAck));

    const std::string packet = testsupport::EpoDataPacket(0, std::string(180, 'r'));
    ASSERT_EQ(port.write(packet.data(), packet.size()), 191);
    EXPECT_EQ(readBytes(port, 12), std::string("\x04\x24\x0C\x00\x02\x00\x00\x00\x01\x0F\x0D\x0A", 12));

    const std::string back("\x04\x24\x0E\x00\xFD\x00\x00\x00\xC2\x01\x00\x30\x0D\x0A", 14);
    ASSERT_EQ(port.write(back.data(), back.size()), 14);
    const std::string nmea =
        readUntil(port, [](const std::string& s) { return s.find("\r\n$GPGGA") != std::string::npos; });
    EXPECT_TRUE(contains(nmea, "$GPGGA")) << "NMEA again after the output-mode packet";
    const std::vector<sim::BinaryPacket> packets = receiver.binaryPackets();
    ASSERT_EQ(packets.size(), 2u);
    EXPECT_EQ(packets[0].raw, packet);
    EXPECT_EQ(packets[1].raw, back);
  }
}

// A dump of the LOCUS flash crosses the line whole, in order, and no faster than the line
// carries it.
TEST(SimPty, LocusDumpCrossesTheLineWholeAtItsSpeed) {
  TempDir dir;
  sim::SimOptions options = fastOptions(dir);
  options.model.rates = {};  // nothing but the replies on the line
  options.model.locus = {.enabled = true, .content = 0x7F, .fill = 300};
  sim::SimReceiver receiver(options);
  ASSERT_TRUE(receiver.start());
  SerialPort port;
  ASSERT_TRUE(port.open(receiver.slavePath()));
  const std::string command = testsupport::NmeaFramed("PMTK622,1");
  const auto sentAt = std::chrono::steady_clock::now();
  ASSERT_EQ(port.write(command.data(), command.size()), static_cast<long>(command.size()));
  const std::string in = readUntil(port, [](const std::string& s) { return contains(s, "$PMTK001,622,"); });
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - sentAt).count();
  const simtest::LocusDump dump = simtest::readLocusDump(in.substr(0, in.find("\r\n", in.find("$PMTK001,622,")) + 2));
  EXPECT_TRUE(dump.faults.empty()) << dump.faults.front();
  EXPECT_EQ(dump.declared, 86) << "two sectors of 201 points";
  EXPECT_EQ(dump.lines.size(), 86u);
  EXPECT_EQ(dump.ack, "PMTK001,622,3");
  const simtest::LocusFlashRead flash = simtest::readLocusFlash(dump.bytes);
  EXPECT_TRUE(flash.faults.empty()) << flash.faults.front();
  ASSERT_EQ(flash.records.size(), 300u);
  for (const simtest::LocusRecord& r : flash.records) EXPECT_TRUE(r.checkOk);
  EXPECT_GE(seconds, 0.9 * static_cast<double>(in.size()) * 10 / 115200) << "paced at the line speed";
}

TEST(SimPty, OutputIsDroppedWhileNobodyReads) {
  TempDir dir;
  sim::SimOptions options = fastOptions(dir);
  options.pace = false;
  options.model.replayLines = {std::string(200, 'x') + "\r\n"};
  options.model.replayFast = true;
  options.model.replayLoop = true;
  sim::SimReceiver receiver(options);
  ASSERT_TRUE(receiver.start());
  // Nobody opens the port: the terminal fills, the receiver goes on and stays responsive.
  ASSERT_TRUE(receiver.waitUntil([&] { return receiver.droppedBytes() > 0; }, 10000));
  SerialPort port;
  ASSERT_TRUE(port.open(receiver.slavePath()));
  ASSERT_TRUE(port.purge());
  ASSERT_EQ(port.write("$PMTK605*31\r\n", 13), 13);
  const std::string in = readUntil(port, [](const std::string& s) { return s.find("$PMTK705") != std::string::npos; });
  EXPECT_TRUE(contains(in, "$PMTK705"));
}

// --- the program ----------------------------------------------------------------------------

TEST(SimArguments, ParsesEveryKindOfOption) {
  sim::SimCommandLine cmd;
  std::string error;
  ASSERT_TRUE(sim::ParseSimArguments({"--com",          "4",
                                      "--baud",         "9600",
                                      "--lat",          "-33.5",
                                      "--lon",          "151.2",
                                      "--fix2d-after",  "0.5",
                                      "--fix3d-after",  "2",
                                      "--model",        "Kappa-31",
                                      "--epo",          "56,1468,172800,1470,151200",
                                      "--ack-flag",     "314=2",
                                      "--ack-flag",     "1",
                                      "--replay",       "x.log",
                                      "--fast",         "--loop",
                                      "--bad-checksum", "0.25",
                                      "--split",        "1",
                                      "--seed",         "9",
                                      "--reject",       "4",
                                      "--split-acks",   "--no-closing-ack",
                                      "--never-binary", "--no-zrn",
                                      "--no-pace"},
                                     cmd, error))
      << error;
  const sim::ModelOptions& m = cmd.options.model;
  EXPECT_EQ(cmd.options.comNumber, 4);
  EXPECT_EQ(m.baud, 9600u);
  EXPECT_DOUBLE_EQ(m.latitudeDeg, -33.5);
  EXPECT_DOUBLE_EQ(m.longitudeDeg, 151.2);
  EXPECT_EQ(m.startup.fix2dAfterMs, 500);
  EXPECT_EQ(m.startup.fix3dAfterMs, 2000);
  EXPECT_EQ(m.firmware, "AXN_1.30,0000,Kappa-31,1.0");
  EXPECT_FALSE(m.epoIsDefault);
  EXPECT_EQ(m.epo.sets, 56);
  EXPECT_EQ(m.epo.lastTowS, 151200);
  EXPECT_EQ(m.ackFlagFor.at(314), 2);
  EXPECT_EQ(m.ackFlagAll, 1);
  EXPECT_EQ(cmd.replayPath, "x.log");
  EXPECT_TRUE(m.replayFast && m.replayLoop);
  EXPECT_DOUBLE_EQ(m.nmeaFaults.badChecksum, 0.25);
  EXPECT_DOUBLE_EQ(m.nmeaFaults.splitWrites, 1.0);
  EXPECT_EQ(m.seed, 9u);
  EXPECT_EQ(m.binaryFaults.rejectSeq, 4);
  EXPECT_TRUE(m.binaryFaults.splitAcks);
  EXPECT_FALSE(m.binaryFaults.ackClosingPacket);
  EXPECT_TRUE(m.binaryFaults.neverBinary);
  EXPECT_FALSE(m.answerZrn);
  EXPECT_FALSE(cmd.options.pace);

  sim::SimCommandLine systems;
  ASSERT_TRUE(sim::ParseSimArguments({"--systems", "gps,beidou,qzss", "--gsa-system-id", "off", "--galileo-every", "2"},
                                     systems, error))
      << error;
  EXPECT_EQ(systems.options.model.systems, sim::SystemBit(sim::GnssSystem::Gps) |
                                               sim::SystemBit(sim::GnssSystem::Beidou) |
                                               sim::SystemBit(sim::GnssSystem::Qzss));
  EXPECT_FALSE(systems.options.model.gsaSystemId);
  EXPECT_EQ(systems.options.model.galileoEvery, 2);
  EXPECT_EQ(cmd.options.model.systems, sim::kGpsOnly) << "GPS alone unless asked";
  EXPECT_TRUE(cmd.options.model.gsaSystemId);
  EXPECT_EQ(cmd.options.model.galileoEvery, 1);

  sim::SimCommandLine locus;
  const std::vector<std::string> locusArgs = {"--locus",
                                              "--locus-type",
                                              "1",
                                              "--locus-content",
                                              "147F",
                                              "--locus-interval",
                                              "5",
                                              "--locus-fill",
                                              "300",
                                              "--locus-status-logging",
                                              "2",
                                              "--locus-mode-hex",
                                              "--locus-fix-dimension",
                                              "--locus-bad-record",
                                              "7",
                                              "--locus-dump-stops-after",
                                              "40"};
  ASSERT_TRUE(sim::ParseSimArguments(locusArgs, locus, error)) << error;
  const sim::LocusOptions& lo = locus.options.model.locus;
  EXPECT_TRUE(lo.enabled);
  EXPECT_EQ(lo.type, 1);
  EXPECT_EQ(lo.content, 0x147Fu);
  EXPECT_EQ(lo.intervalS, 5);
  EXPECT_EQ(lo.fill, 300);
  EXPECT_EQ(lo.statusWhileLogging, 2);
  EXPECT_TRUE(lo.modeInHex);
  EXPECT_TRUE(lo.fixDimension);
  EXPECT_EQ(lo.badRecord, 7);
  EXPECT_EQ(lo.dumpStopsAfter, 40);
  for (const std::string& arg : locusArgs) {
    if (arg.rfind("--", 0) == 0) {
      EXPECT_TRUE(contains(sim::SimUsage(), arg)) << arg << " in --help";
    }
  }
  const sim::LocusOptions& none = cmd.options.model.locus;
  EXPECT_FALSE(none.enabled) << "no logger unless asked";
  EXPECT_EQ(none.content, 0x1Fu);
  EXPECT_EQ(none.intervalS, 15);
  EXPECT_EQ(none.type, 0);
  sim::SimCommandLine prefixed;
  ASSERT_TRUE(sim::ParseSimArguments({"--locus", "--locus-content", "0x7f"}, prefixed, error)) << error;
  EXPECT_EQ(prefixed.options.model.locus.content, 0x7Fu);
}

TEST(SimArguments, RefusesBadInput) {
  struct Row {
    const char* legend;
    std::vector<std::string> args;
    std::string errorContains;
  };
  const std::vector<Row> rows = {
      {"unknown option", {"--colour"}, "unknown option --colour"},
      {"missing value", {"--baud"}, "--baud needs a value"},
      {"not a number", {"--baud", "fast"}, "bad value for --baud"},
      {"probability above 1", {"--garbage", "1.5"}, "bad value for --garbage"},
      {"port number out of range", {"--com", "100"}, "bad value for --com"},
      {"EPO state with four fields", {"--epo", "28,1,2,3"}, "bad value for --epo"},
      {"fast without a capture", {"--fast"}, "--fast needs --replay"},
      {"fix period too short", {"--period", "50"}, "bad value for --period"},
      {"unknown system", {"--systems", "gps,sbas"}, "bad value for --systems"},
      {"empty item in the system list", {"--systems", "gps,,glonass"}, "bad value for --systems"},
      {"QZSS alone", {"--systems", "qzss"}, "bad value for --systems"},
      {"system ID neither on nor off", {"--gsa-system-id", "yes"}, "bad value for --gsa-system-id"},
      {"Galileo every 0th burst", {"--galileo-every", "0"}, "bad value for --galileo-every"},
      {"a LOCUS option without --locus", {"--locus-fill", "10"}, "--locus-fill needs --locus"},
      {"a content bit no record has", {"--locus", "--locus-content", "9F"}, "bad value for --locus-content"},
      {"no content at all", {"--locus", "--locus-content", "0"}, "bad value for --locus-content"},
      {"content not in hex", {"--locus", "--locus-content", "1G"}, "bad value for --locus-content"},
      {"a negative content", {"--locus", "--locus-content", "-1"}, "bad value for --locus-content"},
      {"a third type", {"--locus", "--locus-type", "2"}, "bad value for --locus-type"},
      {"interval 0", {"--locus", "--locus-interval", "0"}, "bad value for --locus-interval"},
      {"logging written as stopped",
       {"--locus", "--locus-status-logging", "1"},
       "bad value for --locus-status-logging"},
      {"the 0th bad record", {"--locus", "--locus-bad-record", "0"}, "bad value for --locus-bad-record"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.legend);
    sim::SimCommandLine cmd;
    std::string error;
    EXPECT_FALSE(sim::ParseSimArguments(row.args, cmd, error));
    EXPECT_NE(error.find(row.errorContains), std::string::npos) << error;
  }
}

struct Child {
  pid_t pid = -1;
  int out = -1;
};

Child spawnSim(const std::vector<std::string>& args) {
  int fds[2];
  if (::pipe(fds) != 0) return {};
  // argv is built before fork(): the child of a threaded process may only make
  // async-signal-safe calls until exec (an allocation could deadlock).
  std::vector<char*> argv;
  std::string program = TORVIKEL_SIM_BINARY;
  argv.push_back(program.data());
  std::vector<std::string> copy = args;
  for (std::string& a : copy) argv.push_back(a.data());
  argv.push_back(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(fds[1], STDOUT_FILENO);
    ::close(fds[0]);
    ::close(fds[1]);
    ::execv(program.c_str(), argv.data());
    ::_exit(127);
  }
  ::close(fds[1]);
  return {pid, fds[0]};
}

std::string readLine(int fd) {
  std::string line;
  char c = 0;
  while (::read(fd, &c, 1) == 1 && c != '\n') line += c;
  return line;
}

int waitExit(pid_t pid) {
  int status = 0;
  if (::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

TEST(SimProgram, HelpAndBadOptions) {
  struct Row {
    const char* legend;
    std::vector<std::string> args;
    int exitCode;
    std::string firstLineStart;
  };
  const std::vector<Row> rows = {
      {"help", {"--help"}, 0, "Usage: torvikel-sim"},
      {"bad option", {"--bogus"}, 2, ""},
      {"a LOCUS option without --locus", {"--locus-fill", "5"}, 2, ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.legend);
    const Child child = spawnSim(row.args);
    ASSERT_GT(child.pid, 0);
    const std::string first = readLine(child.out);
    // Read to the end: closing early would end the program by SIGPIPE.
    for (char c = 0; ::read(child.out, &c, 1) == 1;) {
    }
    ::close(child.out);
    EXPECT_EQ(waitExit(child.pid), row.exitCode);
    EXPECT_EQ(first.rfind(row.firstLineStart, 0), 0u) << first;
  }
}

TEST(SimProgram, ReadyLineAnswersAndCleansUpOnSignals) {
  struct Row {
    const char* legend;
    int signal;
  };
  for (const Row& row : std::vector<Row>{{"SIGTERM", SIGTERM}, {"SIGINT", SIGINT}}) {
    SCOPED_TRACE(row.legend);
    TempDir dir;
    const Child child = spawnSim({"--com", "7", "--port-dir", dir.path(), "--model", "Kappa-40"});
    ASSERT_GT(child.pid, 0);
    const std::string ready = readLine(child.out);
    const std::string prefix = "torvikel-sim ready: ";
    ASSERT_EQ(ready.rfind(prefix, 0), 0u) << ready;
    const std::string device = ready.substr(prefix.size(), ready.find(' ', prefix.size()) - prefix.size());
    const fs::path entry = dir.file("com7");
    EXPECT_TRUE(contains(ready, entry.string()));
    ASSERT_TRUE(fs::is_symlink(entry));
    EXPECT_EQ(fs::read_symlink(entry).string(), device);
    {
      SerialPort port;
      ASSERT_TRUE(port.open(entry.string())) << port.lastError();
      ASSERT_EQ(port.write("$PMTK605*31\r\n", 13), 13);
      const std::string in =
          readUntil(port, [](const std::string& s) { return s.find("Kappa-40") != std::string::npos; });
      EXPECT_TRUE(contains(in, "$PMTK705,AXN_1.30,0000,Kappa-40,1.0*"));
    }
    ::kill(child.pid, row.signal);
    EXPECT_EQ(waitExit(child.pid), 0);
    ::close(child.out);
    EXPECT_FALSE(fs::exists(fs::symlink_status(entry))) << "entry removed on " << row.legend;
  }
}

TEST(SimProgram, ReplayWaitsForTheProgramThenPlaysEverythingAndExits) {
  TempDir dir;
  const std::string capture = std::string(TORVIKEL_TEST_DATA) + "/tr737A+.log";
  const Child child = spawnSim({"--com", "0", "--replay", capture, "--fast", "--exit-at-end", "--no-pace"});
  ASSERT_GT(child.pid, 0);
  const std::string ready = readLine(child.out);
  EXPECT_EQ(ready.find("registered"), std::string::npos) << "--com 0 registers nothing";
  // Opened and purged as the connect steps do: nothing of the capture is lost to the purge,
  // and nothing but the capture comes (no start-up notice of its own).
  const std::string prefix = "torvikel-sim ready: ";
  ASSERT_EQ(ready.rfind(prefix, 0), 0u) << ready;
  const std::string device = ready.substr(prefix.size(), ready.find(',') - prefix.size());
  SerialPort port;
  ASSERT_TRUE(port.open(device)) << device;
  ASSERT_TRUE(port.purge());
  std::ifstream file(capture, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  std::string expected;
  for (const std::string& line : sim::ReadCaptureLines(text.str())) expected += line;
  EXPECT_EQ(readUntil(port, [&](const std::string& s) { return s.size() >= expected.size(); }), expected);
  ::close(child.out);
  EXPECT_EQ(waitExit(child.pid), 0) << "exits by itself once the capture is played";
}

// A receiver pulled out: the program's port hangs up and the entry goes; plugged in again, a
// new terminal answers under the same entry.
TEST(SimPty, UnplugAndPlugInAgainUnderTheSameName) {
  TempDir dir;
  sim::SimOptions options = fastOptions(dir);
  options.comNumber = 5;
  sim::SimReceiver receiver(options);
  ASSERT_TRUE(receiver.start());
  const std::string entry = receiver.portMapEntry();
  const std::string firstDevice = receiver.slavePath();
  SerialPort port;
  ASSERT_TRUE(port.open(firstDevice));
  ASSERT_TRUE(receiver.unplug());
  EXPECT_FALSE(receiver.plugged());
  EXPECT_FALSE(fs::exists(fs::symlink_status(entry))) << "the entry goes with the device";
  ASSERT_TRUE(port.waitReadable(10000)) << "a hang-up is something to read";
  char buf[64];
  EXPECT_LT(port.read(buf, sizeof buf), 1) << "nothing but the hang-up";
  port.close();

  std::string error;
  ASSERT_TRUE(receiver.replug(&error)) << error;
  EXPECT_EQ(fs::read_symlink(entry), fs::path(receiver.slavePath())) << "the same name, the new terminal";
  ASSERT_TRUE(port.open(receiver.slavePath()));
  ASSERT_EQ(port.write("$PMTK605*31\r\n", 13), 13);
  EXPECT_TRUE(contains(readUntil(port, [](const std::string& s) { return contains(s, "$PMTK705"); }), "$PMTK705"));
}

}  // namespace
