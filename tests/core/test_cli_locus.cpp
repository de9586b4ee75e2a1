// torvikel-cli locus against the simulated receiver's flash: a download holds exactly the
// records the receiver wrote (read back here by the tests' own reader of the flash, and
// for GPX by the schema and by gpsbabel), an interrupted one leaves no file and says how
// far it got in one line, and a command that is refused or not allowed sends nothing or
// says why in one line.
#ifdef TORVIKEL_CLI_BINARY

#include <stdio.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "tests/core/test_cli_support.h"
#include "tests/support/files.h"

namespace {

using clitest::CliProcess;
using clitest::CliResult;
using clitest::RunCli;
using clitest::SimFixture;

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }
bool OneLine(const std::string& text) { return !text.empty() && text.find('\n') == text.size() - 1; }

// A tool's standard output and error, and whether it exited 0.
struct ToolRun {
  bool ok = false;
  std::string output;
};
ToolRun RunTool(const std::string& command) {
  ToolRun run;
  FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return run;
  char buffer[4096];
  for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) run.output.append(buffer, got);
  const int status = ::pclose(pipe);
  run.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  return run;
}

std::vector<std::vector<std::string>> CsvRows(const std::string& text) {
  std::vector<std::vector<std::string>> rows;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::vector<std::string> cells;
    std::istringstream fields(line);
    for (std::string cell; std::getline(fields, cell, ',');) cells.push_back(cell);
    rows.push_back(cells);
  }
  return rows;
}

std::size_t Column(const std::vector<std::string>& header, const std::string& name) {
  return static_cast<std::size_t>(std::find(header.begin(), header.end(), name) - header.begin());
}

std::string UtcText(std::int64_t s, const char* format) {
  const std::time_t t = static_cast<std::time_t>(s);
  std::tm tm{};
  ::gmtime_r(&t, &tm);
  char text[32];
  std::strftime(text, sizeof text, format, &tm);
  return text;
}

constexpr unsigned kEveryField = 0x147F;  // time, fix, position, height, speed, track, HDOP, satellites
constexpr long kFill = 300;               // 23-byte records, 175 a sector: two sectors
constexpr long kBadRecord = 7;
// The track is the filled one alone: no point is logged while a test runs.
constexpr int kNoLivePoint = 65535;

// A filled logbook's newest point is an interval old, so the receiver logs one as soon as it
// has its fix; waiting for it leaves the flash as it is for the rest of a test.
std::size_t SettledRecords(SimFixture& sim, long fill) {
  std::size_t records = 0;
  const auto count = [&] {
    sim.receiver().withModel([&](sim::ReceiverModel& m) { records = m.locusFlash().records(); });
    return records > static_cast<std::size_t>(fill);
  };
  sim.receiver().waitUntil(count, 10000);
  return records;
}

// The receiver's flash as it stands and the records in it that check, oldest first.
struct WrittenTrack {
  std::string usedBytes;
  std::string allBytes;
  std::vector<simtest::LocusRecord> good;
  std::size_t bad = 0;
};
WrittenTrack TrackOf(SimFixture& sim) {
  WrittenTrack track;
  sim.receiver().withModel([&](sim::ReceiverModel& m) {
    track.allBytes = m.locusFlash().bytes();
    track.usedBytes = track.allBytes.substr(0, m.locusFlash().usedBytes());
  });
  for (const simtest::LocusRecord& r : simtest::readLocusFlash(track.allBytes).records) {
    if (r.checkOk) {
      track.good.push_back(r);
    } else {
      ++track.bad;
    }
  }
  std::stable_sort(track.good.begin(), track.good.end(), [](const auto& a, const auto& b) { return a.utcS < b.utcS; });
  return track;
}

// Written and read-back records side by side: time, latitude, longitude. A position's text
// is the float's shortest round-trip form, so read as a float it is the float written;
// roundedTo6: the reader printed it again to six decimals (gpsbabel), half a millionth off
// at most.
void ExpectSameRecords(const std::vector<simtest::LocusRecord>& written, const std::vector<std::string>& times,
                       const std::vector<std::string>& latitudes, const std::vector<std::string>& longitudes,
                       bool roundedTo6) {
  ASSERT_EQ(times.size(), written.size());
  const auto same = [&](const std::string& text, double value) {
    if (!roundedTo6) return std::stof(text) == static_cast<float>(value);
    // The shortest text is within half a float step of the value, then 5e-7 of rounding.
    return std::abs(std::stod(text) - value) <= 5e-7 + std::abs(value) * 6e-8;
  };
  for (std::size_t i = 0; i < written.size(); ++i) {
    SCOPED_TRACE("record " + std::to_string(i));
    EXPECT_EQ(times[i], UtcText(written[i].utcS, "%Y-%m-%dT%H:%M:%SZ"));
    EXPECT_TRUE(same(latitudes[i], written[i].latitudeDeg)) << latitudes[i] << " " << written[i].latitudeDeg;
    EXPECT_TRUE(same(longitudes[i], written[i].longitudeDeg)) << longitudes[i] << " " << written[i].longitudeDeg;
  }
}

struct DownloadRow {
  const char* legend;
  std::string file;
  std::vector<std::string> options;
  std::function<void(const std::string& path, const WrittenTrack&)> check;
};
void PrintTo(const DownloadRow& row, std::ostream* os) { *os << row.legend; }

class CliLocusDownload : public ::testing::TestWithParam<DownloadRow> {};

TEST_P(CliLocusDownload, HoldsExactlyTheRecordsWritten) {
  const DownloadRow& row = GetParam();
  SimFixture sim([](sim::SimOptions& o) {
    o.model.rates = {};
    o.model.locus = {
        .enabled = true, .content = kEveryField, .intervalS = kNoLivePoint, .fill = kFill, .badRecord = kBadRecord};
  });
  ASSERT_TRUE(sim.started()) << sim.error();
  ASSERT_EQ(SettledRecords(sim, kFill), static_cast<std::size_t>(kFill + 1));
  epotest::TempDir dir;
  const std::string path = dir.file(row.file);
  std::vector<std::string> args = {"locus", "--port", SimFixture::kPortText, "download", path};
  args.insert(args.end(), row.options.begin(), row.options.end());
  const CliResult result = RunCli(args, sim.env());
  ASSERT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(result.err, "");
  const WrittenTrack track = TrackOf(sim);
  ASSERT_EQ(track.bad, 1u) << "the simulator wrote one bad record";
  EXPECT_TRUE(Contains(result.out, std::to_string(track.good.size()) + " records")) << result.out;
  EXPECT_TRUE(Contains(result.out, "skipped: 1 records that do not check")) << result.out;
  EXPECT_EQ(dir.names(), std::vector<std::string>{row.file}) << "the file alone, no part left beside it";
  row.check(path, track);
}

void CheckGpx(const std::string& path, const WrittenTrack& track) {
  const ToolRun schema = RunTool("xmllint --noout --schema '" TORVIKEL_TEST_DATA "/gpx-1.1.xsd' '" + path + "'");
  EXPECT_TRUE(schema.ok) << "valid GPX 1.1: " << schema.output;
  const ToolRun read = RunTool("gpsbabel -t -i gpx -f '" + path + "' -o unicsv,utc=0 -F -");
  ASSERT_TRUE(read.ok) << read.output;
  const auto rows = CsvRows(read.output);
  ASSERT_FALSE(rows.empty());
  const auto& h = rows[0];
  std::vector<std::string> times;
  std::vector<std::string> lat, lon;
  for (std::size_t i = 1; i < rows.size(); ++i) {
    const auto& r = rows[i];
    std::string date = r.at(Column(h, "Date"));
    std::replace(date.begin(), date.end(), '/', '-');
    times.push_back(date + "T" + r.at(Column(h, "Time")) + "Z");
    lat.push_back(r.at(Column(h, "Latitude")));
    lon.push_back(r.at(Column(h, "Longitude")));
    const simtest::LocusRecord& w = track.good.at(i - 1);
    EXPECT_EQ(std::stod(r.at(Column(h, "Altitude"))), w.heightM);
    EXPECT_EQ(std::stoi(r.at(Column(h, "Satellites"))), w.satellites);
    EXPECT_NEAR(std::stod(r.at(Column(h, "HDOP"))), w.hdopHundredths / 100.0, 1e-9);
  }
  ExpectSameRecords(track.good, times, lat, lon, true);
}

void CheckCsv(const std::string& path, const WrittenTrack& track) {
  const auto rows = CsvRows(testsupport::ReadFile(path));
  ASSERT_FALSE(rows.empty());
  const auto& h = rows[0];
  std::vector<std::string> times;
  std::vector<std::string> lat, lon;
  for (std::size_t i = 1; i < rows.size(); ++i) {
    times.push_back(rows[i].at(Column(h, "utc")));
    lat.push_back(rows[i].at(Column(h, "latitude_deg")));
    lon.push_back(rows[i].at(Column(h, "longitude_deg")));
    EXPECT_EQ(std::stoi(rows[i].at(Column(h, "satellites"))), track.good.at(i - 1).satellites);
  }
  ExpectSameRecords(track.good, times, lat, lon, false);
}

INSTANTIATE_TEST_SUITE_P(
    Formats, CliLocusDownload,
    ::testing::Values(DownloadRow{"GPX by the extension", "track.gpx", {}, CheckGpx},
                      DownloadRow{"CSV by the extension", "track.csv", {}, CheckCsv},
                      DownloadRow{"GPX named, whatever the extension", "track.txt", {"--format", "gpx"}, CheckGpx},
                      DownloadRow{"raw: the used sectors",
                                  "flash.bin",
                                  {},
                                  [](const std::string& path, const WrittenTrack& written) {
                                    EXPECT_EQ(written.usedBytes.size(), 2 * 4096u);
                                    EXPECT_TRUE(testsupport::ReadFile(path) == written.usedBytes);
                                  }},
                      DownloadRow{"raw --all: the whole flash",
                                  "flash.raw",
                                  {"--all"},
                                  [](const std::string& path, const WrittenTrack& written) {
                                    EXPECT_EQ(written.allBytes.size(), 65536u);
                                    EXPECT_TRUE(testsupport::ReadFile(path) == written.allBytes);
                                  }}));

// What may end a download before its end; none leaves a file, each says so in one line.
struct BreakRow {
  const char* legend;
  long dumpStopsAfter;                                // -1: the dump runs whole
  std::function<void(CliProcess&, SimFixture&)> act;  // once the dump has begun; may be empty
  std::string said;                                   // part of the one line on stderr
};

TEST(CliLocus, AnInterruptedDownloadWritesNoFile) {
  const auto firstProgress = [](CliProcess& cli) {
    return cli.waitFor([](const std::string& out) { return Contains(out, "dump: 10 %"); });
  };
  const std::vector<BreakRow> rows = {
      {"the dump stops", 40, {}, "no line for 1 s; 40 of 86 lines had arrived; no file written"},
      {"Ctrl-C", -1,
       [&](CliProcess& cli, SimFixture&) {
         ASSERT_TRUE(firstProgress(cli));
         cli.signal(SIGINT);
       },
       "interrupted; "},
      {"the receiver unplugged", -1,
       [&](CliProcess& cli, SimFixture& sim) {
         ASSERT_TRUE(firstProgress(cli));
         sim.receiver().stop();
       },
       "Receiver lost: "},
  };
  for (const BreakRow& row : rows) {
    SCOPED_TRACE(row.legend);
    SimFixture sim([&](sim::SimOptions& o) {
      o.model.rates = {};
      o.model.locus = {.enabled = true,
                       .content = kEveryField,
                       .intervalS = kNoLivePoint,
                       .fill = kFill,
                       .dumpStopsAfter = row.dumpStopsAfter};
    });
    ASSERT_TRUE(sim.started()) << sim.error();
    epotest::TempDir dir;
    CliProcess cli({"locus", "--port", SimFixture::kPortText, "--timeout", "1", "download", dir.file("t.gpx")},
                   sim.env());
    ASSERT_TRUE(cli.started());
    if (row.act) row.act(cli, sim);
    const CliResult result = cli.finish();
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_TRUE(OneLine(result.err)) << result.err;
    EXPECT_TRUE(Contains(result.err, row.said)) << result.err;
    EXPECT_TRUE(Contains(result.err, "no file written")) << result.err;
    EXPECT_TRUE(dir.names().empty()) << "neither the file nor a part of it";
  }
}

// Commands that must not reach the receiver, and a receiver without a logbook.
struct RefusalRow {
  const char* legend;
  std::vector<std::string> args;  // after "locus --port Com4"
  bool logbook;                   // the receiver has one
  int exitCode;
  std::string said;
  bool sends;  // anything reaches the line
};

TEST(CliLocus, RefusalsSayWhyInOneLine) {
  const std::vector<RefusalRow> rows = {
      {"erase without --yes", {"erase"}, true, 2, "add --yes to erase it", false},
      {"an interval of 0 s", {"interval", "0"}, true, 2, "from 1 to 65535", false},
      {"a file of no known kind", {"download", "track.kml"}, true, 2, "say --format gpx, csv or raw", false},
      {"no logbook", {"status"}, false, 1, "not supported by this receiver (acknowledgement flag 1)", true},
      {"no logbook to dump", {"download", "t.gpx"}, false, 1, "the receiver refused the dump", true},
  };
  for (const RefusalRow& row : rows) {
    SCOPED_TRACE(row.legend);
    SimFixture sim([&](sim::SimOptions& o) {
      o.model.rates = {};
      o.model.locus = {.enabled = row.logbook, .intervalS = kNoLivePoint, .fill = 20};
    });
    ASSERT_TRUE(sim.started()) << sim.error();
    const std::size_t before = row.logbook ? SettledRecords(sim, 20) : 0;
    epotest::TempDir dir;
    std::vector<std::string> args = {"locus", "--port", SimFixture::kPortText};
    for (const std::string& a : row.args) args.push_back(a == "t.gpx" ? dir.file(a) : a);
    const CliResult result = RunCli(args, sim.env());
    EXPECT_EQ(result.exitCode, row.exitCode);
    EXPECT_TRUE(Contains(result.err, row.said)) << result.err;
    if (row.exitCode == 1) {
      EXPECT_TRUE(OneLine(result.err)) << result.err;
    }
    if (!row.sends) {
      EXPECT_EQ(sim.receiver().receivedBytes(), "") << "nothing reaches the receiver";
    }
    std::size_t records = 0;
    sim.receiver().withModel([&](sim::ReceiverModel& m) { records = m.locusFlash().records(); });
    EXPECT_EQ(records, before) << "the flash as it was";
    EXPECT_TRUE(dir.names().empty());
  }
}

// Each command's effect on the receiver and what it prints.
struct CommandRow {
  const char* legend;
  std::vector<std::string> args;
  std::string printed;
  std::function<bool(sim::ReceiverModel&)> obeyed;
};

TEST(CliLocus, CommandsTakeEffect) {
  const std::vector<CommandRow> rows = {
      {"status", {"status"}, "  records    21\n", {}},
      {"stop", {"stop"}, "Logging stopped.", [](sim::ReceiverModel& m) { return !m.locusLogging(); }},
      {"erase",
       {"erase", "--yes"},
       "Logbook erased.",
       [](sim::ReceiverModel& m) { return m.locusFlash().records() == 0; }},
      {"a point now", {"now"}, "Point logged.", [](sim::ReceiverModel& m) { return m.locusFlash().records() == 22; }},
      {"interval",
       {"interval", "5"},
       "A record every 5 s.",
       [](sim::ReceiverModel& m) { return m.locusIntervalS() == 5; }},
  };
  for (const CommandRow& row : rows) {
    SCOPED_TRACE(row.legend);
    SimFixture sim([](sim::SimOptions& o) {
      o.model.rates = {};
      o.model.locus = {.enabled = true, .intervalS = kNoLivePoint, .fill = 20};
    });
    ASSERT_TRUE(sim.started()) << sim.error();
    ASSERT_EQ(SettledRecords(sim, 20), 21u);
    std::vector<std::string> args = {"locus", "--port", SimFixture::kPortText};
    args.insert(args.end(), row.args.begin(), row.args.end());
    const CliResult result = RunCli(args, sim.env());
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_TRUE(Contains(result.out, row.printed)) << result.out;
    if (row.obeyed) {
      bool obeyed = false;
      sim.receiver().withModel([&](sim::ReceiverModel& m) { obeyed = row.obeyed(m); });
      EXPECT_TRUE(obeyed) << "the receiver took it";
    }
  }
}

}  // namespace

#endif  // TORVIKEL_CLI_BINARY
