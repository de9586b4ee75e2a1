// Real receiver output through the cutter and the session: every sentence whose checksum is
// right comes through, in order, however the reads split the stream, and no other does; and
// the positions we show agree with gpsd's own decode of the same logs (*.chk beside each).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "commands/nmea_session.h"
#include "link/number_text.h"
#include "tests/support/files.h"

namespace {

// Lines with their terminators; gpsd's '#' comment lines are no receiver output and go.
std::vector<std::string> ReceiverLines(const std::string& data) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < data.size()) {
    std::size_t end = data.find('\n', start);
    end = end == std::string::npos ? data.size() : end + 1;
    if (data[start] != '#') lines.push_back(data.substr(start, end - start));
    start = end;
  }
  return lines;
}

std::string Join(const std::vector<std::string>& lines) {
  std::string s;
  for (const std::string& l : lines) s += l;
  return s;
}

std::string TrimLineEnds(std::string s) {
  while (!s.empty() && (s.back() == '\r' || s.back() == '\n')) s.pop_back();
  return s;
}

// The reference, independent of the code under test: a line is a valid sentence when it is
// exactly "$", a body without "*", "*", two hex digits equal to the XOR of the body.
bool StrictlyValid(const std::string& line) {
  const std::string s = TrimLineEnds(line);
  const std::size_t star = s.find('*');
  if (s.size() < 4 || s[0] != '$' || star == std::string::npos || star + 3 != s.size()) return false;
  if (s.find('$', 1) != std::string::npos) return false;
  unsigned sum = 0;
  for (std::size_t i = 1; i < star; ++i) sum ^= static_cast<unsigned char>(s[i]);
  char* end = nullptr;
  const std::string digits = s.substr(star + 1);
  const unsigned long written = std::strtoul(digits.c_str(), &end, 16);
  return end == digits.c_str() + 2 && written == sum;
}

// Chunkings of a stream: one read, 1-byte reads, 7-byte reads and random sizes up to 300.
std::vector<std::vector<std::string>> Chunkings(const std::string& stream) {
  std::vector<std::vector<std::string>> all;
  all.push_back({stream});
  for (std::size_t size : {std::size_t{1}, std::size_t{7}}) {
    std::vector<std::string> chunks;
    for (std::size_t i = 0; i < stream.size(); i += size) chunks.push_back(stream.substr(i, size));
    all.push_back(chunks);
  }
  std::mt19937 rng(1234);
  std::uniform_int_distribution<std::size_t> size(1, 300);
  std::vector<std::string> chunks;
  for (std::size_t i = 0; i < stream.size();) {
    const std::size_t n = size(rng);
    chunks.push_back(stream.substr(i, n));
    i += n;
  }
  all.push_back(chunks);
  return all;
}

struct Delivered {
  std::string text;  // line ends trimmed
  bool positionForGpsd = false;
  std::string latText;
  std::string lonText;
  std::size_t charts = 0;  // charts drawn up to and including this sentence
};

// The charts of a replay, in the order they were drawn.
using Charts = std::vector<std::vector<ChartSatellite>>;

// Feeds the chunks through a cutter and a session; a final "$" flushes the last sentence.
std::vector<Delivered> Replay(const std::vector<std::string>& chunks, Charts* charts = nullptr) {
  std::vector<Delivered> out;
  SentenceCutter cutter;
  NmeaSession session;
  session.clock = [] { return std::time_t{1326628800}; };
  auto sink = [&](std::string_view sentence) {
    const SentenceOutcome o = session.handle(sentence);
    if (!o.valid) return;
    Delivered d;
    d.text = TrimLineEnds(std::string(sentence));
    // gpsd takes a position from a GGA with coordinates and from RMC or GLL with status A.
    SentenceFields f;
    SplitFields(sentence, f);
    d.positionForGpsd = (o.route == SentenceRoute::GGA && !f[2].empty()) ||
                        (o.route == SentenceRoute::RMC && f[2] == "A") ||
                        (o.route == SentenceRoute::GLL && f[6] == "A");
    d.latText = session.state.satInfo.latText;
    d.lonText = session.state.satInfo.lonText;
    if (charts != nullptr) {
      if (o.gsvCycleComplete) charts->push_back(TakeChartSatellites(session.state));
      d.charts = charts->size();
    }
    out.push_back(std::move(d));
  };
  for (const std::string& c : chunks) cutter.feed(c.data(), c.size(), sink);
  cutter.feed("$", 1, sink);
  return out;
}

// The stream with every seventh sentence given a wrong body byte, so
// that the real data also carries sentences that must be dropped.
std::string WithCorruptSentences(const std::vector<std::string>& lines) {
  std::string s;
  int n = 0;
  for (std::string line : lines) {
    if (!line.empty() && line[0] == '$' && ++n % 7 == 0 && line.size() > 8) line[5] ^= 0x01;
    s += line;
  }
  return s;
}

class CaptureReplay : public ::testing::TestWithParam<const char*> {};

TEST_P(CaptureReplay, DeliversExactlyTheValidSentencesInOrder) {
  const std::string data = testsupport::ReadTestData(GetParam());
  ASSERT_FALSE(data.empty()) << GetParam();
  const std::vector<std::string> lines = ReceiverLines(data);
  for (const std::string& stream : {Join(lines), WithCorruptSentences(lines)}) {
    std::vector<std::string> expected;
    for (const std::string& line : ReceiverLines(stream)) {
      if (StrictlyValid(line)) expected.push_back(TrimLineEnds(line));
    }
    ASSERT_GT(expected.size(), 10u) << GetParam();
    for (const std::vector<std::string>& chunks : Chunkings(stream)) {
      std::vector<std::string> got;
      for (const Delivered& d : Replay(chunks)) got.push_back(d.text);
      ASSERT_EQ(got, expected) << GetParam() << " in " << chunks.size() << " chunks";
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Captures, CaptureReplay,
                         ::testing::Values("bt-q818.log", "mt3339.log", "mtk-3301.log", "tr737A+.log",
                                           "sample_gpsdata_usbttl_1.txt", "sample_gpsdata_usbttl_2.txt",
                                           "sample_gpsdata_usbttl_5.txt", "gr8013-w.log", "quectel-l76k-nmea.log",
                                           "furuno_gl_ga.log"));

// "N 44\xB004'07.83\"" back to signed decimal degrees.
double DegreesOf(const std::string& text) {
  const std::size_t blank = text.find(' ');
  const std::size_t minutesEnd = text.find('\'');
  std::string degrees;
  for (std::size_t i = blank + 1; i < text.size() && text[i] != '\''; ++i) {
    if (text[i] >= '0' && text[i] <= '9') degrees += text[i];
  }
  // The last two digits before the "'" are the minutes.
  const double minutes = std::atof(text.substr(minutesEnd - 2, 2).c_str());
  degrees.resize(degrees.size() - 2);
  const double seconds = std::atof(text.substr(minutesEnd + 1).c_str());
  const double value = std::atof(degrees.c_str()) + minutes / 60.0 + seconds / 3600.0;
  const char h = text[0];
  return (h == 'S' || h == 'W') ? -value : value;
}

double JsonNumber(const std::string& line, const std::string& key) {
  const std::size_t at = line.find("\"" + key + "\":");
  return std::strtod(line.c_str() + at + key.size() + 3, nullptr);
}

class GpsdCrossCheck : public ::testing::TestWithParam<const char*> {};

TEST_P(GpsdCrossCheck, PositionsAgreeWithGpsdWithinAHundredthOfASecond) {
  const std::string log = GetParam();
  const std::vector<Delivered> ours = Replay({Join(ReceiverLines(testsupport::ReadTestData(log)))});
  const std::vector<std::string> chk = ReceiverLines(testsupport::ReadTestData(log + ".chk"));
  ASSERT_FALSE(chk.empty()) << log;

  std::size_t next = 0;
  const Delivered* lastPosition = nullptr;
  int tpvWithPosition = 0;
  int compared = 0;
  for (const std::string& raw : chk) {
    const std::string line = TrimLineEnds(raw);
    if (!line.empty() && line[0] == '$') {
      // gpsd decoded the same sentences in the same order as we delivered them.
      ASSERT_LT(next, ours.size()) << log << ": " << line;
      ASSERT_EQ(ours[next].text, line) << log;
      if (ours[next].positionForGpsd) lastPosition = &ours[next];
      ++next;
      continue;
    }
    if (line.find("\"class\":\"TPV\"") == std::string::npos || line.find("\"lat\":") == std::string::npos) continue;
    ++tpvWithPosition;
    ASSERT_NE(lastPosition, nullptr) << log << ": " << line;
    const double gpsdLat = JsonNumber(line, "lat");
    const double gpsdLon = JsonNumber(line, "lon");
    const double ourLat = DegreesOf(lastPosition->latText);
    const double ourLon = DegreesOf(lastPosition->lonText);
    // Ours is truncated to the hundredth of a second, so it may lie up to 0.01" nearer zero.
    const double latShortArcsec = (std::fabs(gpsdLat) - std::fabs(ourLat)) * 3600.0;
    const double lonShortArcsec = (std::fabs(gpsdLon) - std::fabs(ourLon)) * 3600.0;
    EXPECT_TRUE(std::signbit(gpsdLat) == std::signbit(ourLat) && std::signbit(gpsdLon) == std::signbit(ourLon))
        << log << ": " << lastPosition->text;
    EXPECT_GE(latShortArcsec, -1e-4) << log << ": " << lastPosition->text << " shows " << lastPosition->latText;
    EXPECT_LE(latShortArcsec, 0.01 + 1e-4) << log << ": " << lastPosition->text << " shows " << lastPosition->latText;
    EXPECT_GE(lonShortArcsec, -1e-4) << log << ": " << lastPosition->text << " shows " << lastPosition->lonText;
    EXPECT_LE(lonShortArcsec, 0.01 + 1e-4) << log << ": " << lastPosition->text << " shows " << lastPosition->lonText;
    ++compared;
  }
  EXPECT_GT(tpvWithPosition, 5) << log;
  EXPECT_EQ(compared, tpvWithPosition) << log;
}

// One satellite as (system, number, used), the way both sides can name it: gpsd numbers
// Galileo, BeiDou and QZSS its own way and gives the number as sent in "svid".
struct SkySatellite {
  std::string system;
  long number = 0;
  bool used = false;
  bool operator<(const SkySatellite& o) const {
    return std::tie(system, number, used) < std::tie(o.system, o.number, o.used);
  }
  bool operator==(const SkySatellite& o) const { return system == o.system && number == o.number && used == o.used; }
};

std::ostream& operator<<(std::ostream& os, const SkySatellite& s) {
  return os << s.system << " " << s.number << (s.used ? " used" : "");
}

// The satellites of one of gpsd's SKY reports.
std::vector<SkySatellite> GpsdSatellites(const std::string& line) {
  static const char* const kSystems[] = {"GPS", "SBAS", "Galileo", "BeiDou", "IMES", "QZSS", "GLONASS", "NavIC"};
  std::vector<SkySatellite> out;
  std::size_t at = line.find("\"satellites\":[");
  while ((at = line.find('{', at + 1)) != std::string::npos) {
    const std::string object = line.substr(at, line.find('}', at) - at);
    const long gnssid = static_cast<long>(JsonNumber(object, "gnssid"));
    const long prn = static_cast<long>(JsonNumber(object, "PRN"));
    const long svid = static_cast<long>(JsonNumber(object, "svid"));
    SkySatellite s;
    s.system = gnssid >= 0 && gnssid < 8 ? kSystems[gnssid] : "?";
    s.number = (s.system == "Galileo" || s.system == "BeiDou" || (s.system == "QZSS" && prn > 200)) ? svid : prn;
    s.used = object.find("\"used\":true") != std::string::npos;
    out.push_back(s);
  }
  std::sort(out.begin(), out.end());
  return out;
}

std::vector<SkySatellite> OurSatellites(const std::vector<ChartSatellite>& chart) {
  std::vector<SkySatellite> out;
  for (const ChartSatellite& c : chart) out.push_back({std::string(GnssSystemName(c.system)), AtolOf(c.prn), c.used});
  std::sort(out.begin(), out.end());
  return out;
}

TEST_P(GpsdCrossCheck, SatellitesAgreeWithGpsdAtTheEndOfEachBurst) {
  const std::string log = GetParam();
  Charts charts;
  const std::vector<Delivered> ours = Replay({Join(ReceiverLines(testsupport::ReadTestData(log)))}, &charts);
  const std::vector<std::string> chk = ReceiverLines(testsupport::ReadTestData(log + ".chk"));
  std::vector<std::string> lines;
  for (const std::string& raw : chk) lines.push_back(TrimLineEnds(raw));

  std::size_t next = 0;  // sentences of ours seen so far
  int bursts = 0;
  int withUsed = 0;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const std::string& line = lines[i];
    if (!line.empty() && line[0] == '$') {
      ASSERT_LT(next, ours.size()) << log << ": " << line;
      ASSERT_EQ(ours[next].text, line) << log;
      ++next;
      continue;
    }
    if (line.find("\"class\":\"SKY\"") == std::string::npos || line.find("\"satellites\":[") == std::string::npos)
      continue;
    // The end of a burst: the next sentence is no longer a GSV of it.
    std::size_t after = i + 1;
    while (after < lines.size() && (lines[after].empty() || lines[after][0] != '$')) ++after;
    if (after < lines.size() && lines[after].substr(3, 3) == "GSV") continue;
    ASSERT_GT(next, 0u);
    const std::size_t drawn = ours[next - 1].charts;
    ASSERT_GT(drawn, 0u) << log << ": gpsd reports satellites before our first chart";
    const std::vector<SkySatellite> theirs = GpsdSatellites(line);
    EXPECT_EQ(OurSatellites(charts[drawn - 1]), theirs) << log << ", burst ending at " << ours[next - 1].text;
    ++bursts;
    withUsed += std::any_of(theirs.begin(), theirs.end(), [](const SkySatellite& s) { return s.used; }) ? 1 : 0;
  }
  EXPECT_GE(bursts, 3) << log;
  EXPECT_GT(withUsed, 0) << log << ": some burst has satellites in use";
}

INSTANTIATE_TEST_SUITE_P(Captures, GpsdCrossCheck,
                         ::testing::Values("bt-q818.log", "mt3339.log", "mtk-3301.log", "tr737A+.log", "gr8013-w.log",
                                           "quectel-l76k-nmea.log", "furuno_gl_ga.log"));

}  // namespace
