// The logbook's flash read back, its dump put together and its status read, against flash
// images built here from the format's description (not from the decoder's code).
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "commands/locus.h"
#include "commands/nmea_session.h"
#include "commands/track_files.h"
#include "tests/support/frames.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

void PutU16(Bytes& b, std::size_t at, unsigned v) {
  b[at] = static_cast<std::uint8_t>(v & 0xFF);
  b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

struct Point {
  std::uint32_t utc;
  float lat;
  float lon;
  std::int16_t height;
};

// One record of content 0x1F (time, fix, latitude, longitude, height) or 0x7F (and speed,
// track), its check byte last.
Bytes Record(const Point& p, unsigned content) {
  Bytes r;
  const auto add = [&r](const void* v, std::size_t n) {
    const auto* bytes = static_cast<const std::uint8_t*>(v);
    r.insert(r.end(), bytes, bytes + n);  // the test machine is little-endian, as the flash is
  };
  add(&p.utc, 4);
  const std::uint8_t fix = 3;
  add(&fix, 1);
  add(&p.lat, 4);
  add(&p.lon, 4);
  add(&p.height, 2);
  if (content == 0x7F) {
    const std::uint16_t speed = 12;
    const std::int16_t track = 270;
    add(&speed, 2);
    add(&track, 2);
  }
  std::uint8_t check = 0;
  for (std::uint8_t b : r) check ^= b;
  r.push_back(check);
  return r;
}

// A sector: its header (number, type 0, mode 11, content, interval) and the records from
// byte 64 on; the rest 0xFF.
Bytes Sector(unsigned number, unsigned content, unsigned intervalSec, const std::vector<Bytes>& records) {
  Bytes s(kLocusSectorBytes, 0xFF);
  PutU16(s, 0, number);
  s[2] = 0;
  s[3] = 11;
  PutU16(s, 4, content);
  PutU16(s, 8, intervalSec);
  PutU16(s, 10, 0);
  PutU16(s, 12, 0);
  std::uint8_t check = 0;
  for (std::size_t i = 0; i < 63; ++i) check ^= s[i];
  s[63] = check;
  std::size_t at = kLocusHeaderBytes;
  for (const Bytes& r : records) {
    std::copy(r.begin(), r.end(), s.begin() + static_cast<std::ptrdiff_t>(at));
    at += r.size();
  }
  return s;
}

Bytes Join(const std::vector<Bytes>& parts) {
  Bytes all;
  for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

struct FlashRow {
  const char* legend;
  Bytes flash;
  std::vector<std::uint32_t> times;  // of the records read, in order
  std::size_t badRecords = 0;
  std::size_t badHeaders = 0;
  std::size_t unusedSectors = 0;
  std::size_t unknownContent = 0;
};

std::vector<FlashRow> FlashRows() {
  const Point a{1700000000, 25.05f, 121.5f, 50};
  const Point b{1700000015, 25.0501f, 121.5002f, 51};
  const Point c{1700000030, 25.0502f, 121.5004f, 52};
  Bytes badCheck = Record(b, 0x1F);
  badCheck.back() ^= 0x01;
  Bytes badHeader = Sector(1, 0x1F, 15, {Record(c, 0x1F)});
  badHeader[63] ^= 0x40;
  Bytes strangeContent = Sector(2, 0x1F | 0x80, 15, {Record(c, 0x1F)});
  return {
      {.legend = "basic content: three records in order",
       .flash = Sector(0, 0x1F, 15, {Record(a, 0x1F), Record(b, 0x1F), Record(c, 0x1F)}),
       .times = {a.utc, b.utc, c.utc}},
      {.legend = "full content: 20-byte records",
       .flash = Sector(0, 0x7F, 15, {Record(a, 0x7F), Record(b, 0x7F)}),
       .times = {a.utc, b.utc}},
      {.legend = "a bad check byte: that record skipped and counted",
       .flash = Sector(0, 0x1F, 15, {Record(a, 0x1F), badCheck, Record(c, 0x1F)}),
       .times = {a.utc, c.utc},
       .badRecords = 1},
      {.legend = "a sector whose header does not check: skipped whole, records never invented",
       .flash = Join({Sector(0, 0x1F, 15, {Record(a, 0x1F)}), badHeader}),
       .times = {a.utc},
       .badHeaders = 1},
      {.legend = "0xFF padding and a sector never written",
       .flash = Join({Sector(0, 0x1F, 15, {Record(a, 0x1F)}), Bytes(kLocusSectorBytes, 0xFF)}),
       .times = {a.utc},
       .unusedSectors = 1},
      {.legend = "a wrapped flash: the newest records in the first sector, read back in time order",
       .flash = Join({Sector(2, 0x1F, 15, {Record(c, 0x1F)}), Sector(1, 0x1F, 15, {Record(a, 0x1F), Record(b, 0x1F)})}),
       .times = {a.utc, b.utc, c.utc}},
      {.legend = "content with a field of unknown size: the sector skipped and counted",
       .flash = Join({Sector(0, 0x1F, 15, {Record(a, 0x1F)}), strangeContent}),
       .times = {a.utc},
       .unknownContent = 1},
  };
}

class LocusFlashTable : public ::testing::TestWithParam<FlashRow> {};

TEST_P(LocusFlashTable, RecordsReadBack) {
  const FlashRow& row = GetParam();
  const LocusFlashRead read = ReadLocusFlash(row.flash);
  std::vector<std::uint32_t> times;
  for (const LocusRecord& r : read.records) times.push_back(r.utcSec.value_or(0));
  EXPECT_EQ(times, row.times) << row.legend;
  EXPECT_EQ(read.badRecords, row.badRecords) << row.legend;
  EXPECT_EQ(read.badHeaders, row.badHeaders) << row.legend;
  EXPECT_EQ(read.unusedSectors, row.unusedSectors) << row.legend;
  EXPECT_EQ(read.unknownContent, row.unknownContent) << row.legend;
  for (const LocusRecord& r : read.records) {
    ASSERT_TRUE(r.latitudeDeg && r.heightM) << row.legend;
    EXPECT_NEAR(*r.latitudeDeg, 25.05, 0.001) << row.legend;
    EXPECT_EQ(r.intervalSec, 15) << row.legend;
  }
}

INSTANTIATE_TEST_SUITE_P(Rows, LocusFlashTable, ::testing::ValuesIn(FlashRows()));

TEST(LocusRecordBytes, SizesOfTheContents) {
  EXPECT_EQ(LocusRecordBytes(0x1F), 16u);
  EXPECT_EQ(LocusRecordBytes(0x7F), 20u);
  EXPECT_EQ(LocusRecordBytes(0x7F | 1 << 10 | 1 << 12), 23u);
  EXPECT_EQ(LocusRecordBytes(0x80), 0u);
  EXPECT_EQ(LocusRecordBytes(0), 0u);
}

// --- the dump's lines, through the session as they arrive

std::string Words(const Bytes& bytes, std::size_t from, std::size_t count) {
  std::string words;
  for (std::size_t w = 0; w < count; ++w) {
    char word[9];
    std::snprintf(word, sizeof word, "%02X%02X%02X%02X", bytes[from + 4 * w], bytes[from + 4 * w + 1],
                  bytes[from + 4 * w + 2], bytes[from + 4 * w + 3]);
    words += std::string(",") + word;
  }
  return words;
}

struct DumpRow {
  const char* legend;
  std::vector<std::string> lines;  // bodies of PMTKLOX lines
  bool complete;
  std::size_t bytes;
};

class LocusDumpTable : public ::testing::TestWithParam<DumpRow> {};

TEST_P(LocusDumpTable, LinesMakeTheFlash) {
  const DumpRow& row = GetParam();
  NmeaSession session;
  LocusDumpAssembly dump;
  for (const std::string& body : row.lines) {
    const SentenceOutcome o = session.handle(testsupport::NmeaFramed(body));
    ASSERT_TRUE(o.valid && o.reply) << body;
    const auto* line = std::get_if<PmtkLocusData>(&*o.reply);
    ASSERT_NE(line, nullptr) << body;
    dump.take(*line);
  }
  EXPECT_EQ(dump.complete(), row.complete) << row.legend << ": " << dump.problem();
  EXPECT_EQ(dump.bytes().size(), row.bytes) << row.legend;
}

const Bytes kImage = Sector(0, 0x1F, 15, {Record({1700000000, 25.05f, 121.5f, 50}, 0x1F)});

INSTANTIATE_TEST_SUITE_P(
    Rows, LocusDumpTable,
    ::testing::Values(
        DumpRow{
            "two lines of 24 words",
            {"PMTKLOX,0,2", "PMTKLOX,1,0" + Words(kImage, 0, 24), "PMTKLOX,1,1" + Words(kImage, 96, 24), "PMTKLOX,2"},
            true,
            192},
        DumpRow{
            "a short last line",
            {"PMTKLOX,0,2", "PMTKLOX,1,0" + Words(kImage, 0, 24), "PMTKLOX,1,1" + Words(kImage, 96, 3), "PMTKLOX,2"},
            true,
            108},
        DumpRow{
            "a line missing",
            {"PMTKLOX,0,3", "PMTKLOX,1,0" + Words(kImage, 0, 24), "PMTKLOX,1,2" + Words(kImage, 96, 24), "PMTKLOX,2"},
            false,
            96},
        DumpRow{
            "the end before every line", {"PMTKLOX,0,2", "PMTKLOX,1,0" + Words(kImage, 0, 24), "PMTKLOX,2"}, false, 96},
        DumpRow{"a word of seven digits", {"PMTKLOX,0,1", "PMTKLOX,1,0,0100010", "PMTKLOX,2"}, false, 0},
        DumpRow{"a dump already running: its first line is not line 0",
                {"PMTKLOX,0,2", "PMTKLOX,1,1" + Words(kImage, 96, 24), "PMTKLOX,2"},
                false,
                0},
        DumpRow{"more lines than announced",
                {"PMTKLOX,0,1", "PMTKLOX,1,0" + Words(kImage, 0, 1), "PMTKLOX,1,1" + Words(kImage, 4, 1), "PMTKLOX,2"},
                false,
                4}));

// --- the status

struct StatusRow {
  const char* body;
  bool logging;
  long mode;
  const char* modeNames;
};

TEST(LocusStatus, ConventionsOfStatusAndMode) {
  const StatusRow rows[] = {
      {"PMTKLOG,456,0,11,31,2,0,0,0,3769,46", true, 11, "AlwaysLocate, FixOnly, Interval"},
      {"PMTKLOG,456,0,11,31,2,0,0,2,3769,46", true, 11, "AlwaysLocate, FixOnly, Interval"},
      {"PMTKLOG,456,1,11,31,2,0,0,1,3769,46", false, 11, "AlwaysLocate, FixOnly, Interval"},
      {"PMTKLOG,456,0,B,31,2,0,0,0,3769,46", true, 11, "AlwaysLocate, FixOnly, Interval"},
      {"PMTKLOG,456,0,0x1c,31,2,0,0,0,3769,46", true, 28, "Normal, Interval, Distance"},
  };
  NmeaSession session;
  for (const StatusRow& row : rows) {
    const SentenceOutcome o = session.handle(testsupport::NmeaFramed(row.body));
    ASSERT_TRUE(o.valid && o.reply) << row.body;
    const auto* status = std::get_if<PmtkLocusStatus>(&*o.reply);
    ASSERT_NE(status, nullptr) << row.body;
    EXPECT_EQ(status->logging(), row.logging) << row.body;
    EXPECT_EQ(status->mode, row.mode) << row.body;
    EXPECT_EQ(LocusModeNames(status->mode), row.modeNames) << row.body;
    EXPECT_EQ(status->records, 3769) << row.body;
    EXPECT_EQ(status->percentFull, 46) << row.body;
  }
}

// --- the files

TEST(LocusFiles, SegmentsBreakAtGapsAndBadPositionsStayOut) {
  LocusFlashRead read;
  const auto rec = [](std::uint32_t t, float lat) {
    LocusRecord r;
    r.utcSec = t;
    r.latitudeDeg = lat;
    r.longitudeDeg = 121.5f;
    r.intervalSec = 15;
    return r;
  };
  read.records = {rec(1000, 25.0f), rec(1015, 25.0f), rec(1015 + 151, 25.0f), rec(1181, 95.0f)};
  const std::string gpx = LocusGpx(read, "test");
  std::size_t segments = 0;
  for (std::size_t at = gpx.find("<trkseg>"); at != std::string::npos; at = gpx.find("<trkseg>", at + 1)) ++segments;
  EXPECT_EQ(segments, 2u) << gpx;  // 151 s apart is more than ten intervals of 15 s
  EXPECT_EQ(LocusGpxPoints(read), 3u);
  EXPECT_EQ(gpx.find("lat=\"95"), std::string::npos) << "a latitude beyond 90 is no position";
  const std::string csv = LocusCsv(read);
  EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 5) << "a header and every record";
}

TEST(LocusFiles, FormatByNameAndExtension) {
  EXPECT_EQ(TrackFormatOfPath("track.GPX"), TrackFormat::Gpx);
  EXPECT_EQ(TrackFormatOfPath("dir.v1/track.csv"), TrackFormat::Csv);
  EXPECT_EQ(TrackFormatOfPath("flash.bin"), TrackFormat::Raw);
  EXPECT_EQ(TrackFormatOfPath("dir.v1/track"), std::nullopt);
  EXPECT_EQ(TrackFormatOfName("raw"), TrackFormat::Raw);
  EXPECT_EQ(TrackFormatOfName("kml"), std::nullopt);
}

}  // namespace
