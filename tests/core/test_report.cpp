// The fix report's core: the scatter statistics against scatters whose answers are known by
// construction or by the normal distribution, the tangent plane against the radii of
// curvature and the haversine, and what the survey makes of logs that go wrong.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "report/local_tangent_plane.h"
#include "report/log_survey.h"
#include "report/report_json.h"
#include "report/scatter_statistics.h"
#include "tests/support/files.h"
#include "tests/support/frames.h"

namespace {

using testsupport::NmeaFramed;

std::vector<ScatterPoint> GaussianScatter(double sigmaEast, double sigmaNorth, std::size_t n, double east0,
                                          double north0) {
  std::mt19937_64 random(20261209);
  std::normal_distribution<double> e(east0, sigmaEast), nn(north0, sigmaNorth);
  std::vector<ScatterPoint> points;
  for (std::size_t i = 0; i < n; ++i) points.push_back({static_cast<float>(e(random)), static_cast<float>(nn(random))});
  return points;
}

// Every distance 1 ... 100 m twice, on opposite sides of (east0, north0): the mean is that
// point, the 100th of the 200 distances is 50 m, the 190th 95 m.
std::vector<ScatterPoint> Rings(double east0, double north0) {
  std::vector<ScatterPoint> points;
  for (int d = 1; d <= 100; ++d) {
    const double angle = d * 2.399963;  // the golden angle: no two pairs line up
    for (const double side : {1.0, -1.0}) {
      points.push_back({static_cast<float>(east0 + side * d * std::cos(angle)),
                        static_cast<float>(north0 + side * d * std::sin(angle))});
    }
  }
  return points;
}

struct StatisticsRow {
  const char* name;
  std::vector<ScatterPoint> points;
  double cep50, cep95, drms2, sigmaEast, sigmaNorth;
  double tolerance;  // relative
};

TEST(ReportStatistics, KnownScatters) {
  double squares = 0;
  for (int d = 1; d <= 100; ++d) squares += d * d;
  const double sigma = 3.0;
  const StatisticsRow rows[] = {
      {"rings about the origin", Rings(0, 0), 50, 95, 2 * std::sqrt(squares / 100), NAN, NAN, 1e-5},
      {"rings far from the first fix", Rings(-2500, 1800), 50, 95, 2 * std::sqrt(squares / 100), NAN, NAN, 1e-4},
      // A circular normal scatter: CEP50 = sigma sqrt(2 ln 2), CEP95 = sigma sqrt(-2 ln 0.05),
      // 2DRMS = 2 sqrt(2) sigma.
      {"circular normal", GaussianScatter(sigma, sigma, 200000, 4, -7), sigma * std::sqrt(2 * std::log(2.0)),
       sigma * std::sqrt(-2 * std::log(0.05)), 2 * std::sqrt(2.0) * sigma, sigma, sigma, 0.01},
      {"elongated north", GaussianScatter(1, 4, 200000, 0, 0), NAN, NAN, 2 * std::sqrt(17.0), 1, 4, 0.01},
      {"two fixes", {{0, 0}, {2, 0}}, 1, 1, 2, 1, 0, 1e-9},
  };
  for (const StatisticsRow& row : rows) {
    SCOPED_TRACE(row.name);
    const std::optional<ScatterStatistics> s = HorizontalStatistics(row.points);
    ASSERT_TRUE(s.has_value());
    EXPECT_EQ(s->fixes, row.points.size());
    const auto near = [&row](double actual, double expected) {
      if (!std::isnan(expected)) {
        EXPECT_NEAR(actual, expected, row.tolerance * std::max(1.0, expected));
      }
    };
    near(s->cep50, row.cep50);
    near(s->cep95, row.cep95);
    near(s->drms2, row.drms2);
    near(s->sigmaEast, row.sigmaEast);
    near(s->sigmaNorth, row.sigmaNorth);
  }
  EXPECT_FALSE(HorizontalStatistics({{1, 1}}).has_value());
  EXPECT_FALSE(HorizontalStatistics({}).has_value());
}

TEST(ReportStatistics, RankCountsFromTheNearest) {
  struct Row {
    double fraction;
    std::size_t count, rank;
  } rows[] = {{0.5, 1, 1}, {0.5, 2, 1}, {0.5, 3, 2}, {0.95, 20, 19}, {0.95, 21, 20}, {0.95, 100, 95}, {0.5, 200, 100}};
  for (const Row& row : rows)
    EXPECT_EQ(RankOf(row.fraction, row.count), row.rank) << row.fraction << " of " << row.count;
}

// The tangent plane against a second formula: for a small step, metres north are the
// meridian radius times the latitude step and metres east the prime vertical's parallel
// radius times the longitude step; for a kilometre, the haversine on the mean sphere agrees
// with the plane's horizontal distance to the flattening's order.
TEST(ReportTangentPlane, AgreesWithRadiiOfCurvatureAndHaversine) {
  constexpr double a = 6378137.0, f = 1 / 298.257223563, e2 = f * (2 - f);
  constexpr double rad = std::numbers::pi / 180;
  const Geodetic origins[] = {{0, 0, 0},
                              {40.81060333, -74.30909500, 145.3},
                              {-60, 120, 10},
                              {89.99, 45, 0},
                              {12.5, 179.99995, 2000},
                              {-33.9, -0.00001, -20}};
  for (const Geodetic& o : origins) {
    SCOPED_TRACE(std::to_string(o.latitude) + ", " + std::to_string(o.longitude));
    const double s = std::sin(o.latitude * rad);
    const double m = a * (1 - e2) / std::pow(1 - e2 * s * s, 1.5) + o.height;
    const double n = a / std::sqrt(1 - e2 * s * s) + o.height;
    const double dLat = 3e-5, dLon = 4e-5;  // a few metres
    Geodetic p{o.latitude + dLat, o.longitude + dLon, o.height};
    if (p.longitude > 180) p.longitude -= 360;
    const Enu enu = EnuOf(o, p);
    EXPECT_NEAR(enu.north, m * dLat * rad, 1e-3);
    EXPECT_NEAR(enu.east, n * std::cos(o.latitude * rad) * dLon * rad, 1e-3);
    EXPECT_NEAR(enu.up, 0, 1e-3);

    // Back again, to a tenth of a millimetre.
    const Geodetic back = GeodeticOf(o, {enu.east + 700, enu.north - 400, enu.up + 3});
    const Enu again = EnuOf(o, back);
    EXPECT_NEAR(again.east, enu.east + 700, 1e-4);
    EXPECT_NEAR(again.north, enu.north - 400, 1e-4);
    EXPECT_NEAR(again.up, enu.up + 3, 1e-4);

    // A kilometre north-east: haversine on the sphere of the mean radius.
    const Geodetic q{o.latitude - 0.006, o.longitude + 0.007, o.height};
    const double p1 = o.latitude * rad, p2 = q.latitude * rad, dl = (q.longitude - o.longitude) * rad;
    const double h = std::pow(std::sin((p2 - p1) / 2), 2) + std::cos(p1) * std::cos(p2) * std::pow(std::sin(dl / 2), 2);
    const double haversine = 2 * 6371008.8 * std::asin(std::sqrt(h));
    const Enu far = EnuOf(o, q);
    EXPECT_NEAR(std::hypot(far.east, far.north), haversine, haversine * 0.006);
  }
}

// --- the survey of logs

std::string Gga(const std::string& time, double northMetres, int quality, int satellites = 8) {
  // 40 deg 48' N, 74 deg 18' W; a metre north is 1 / 1852 of a minute, near enough here.
  char body[160];
  std::snprintf(body, sizeof body, "GPGGA,%s,%09.4f,N,07418.0000,W,%d,%02d,0.9,50.0,M,-34.0,M,,", time.c_str(),
                4048.0 + northMetres / 1852.0, quality, satellites);
  return NmeaFramed(body);
}
std::string Rmc(const std::string& time, const std::string& date, bool valid) {
  return NmeaFramed("GPRMC," + time + "," + (valid ? "A" : "V") + ",4048.0000,N,07418.0000,W,0.0,0.0," + date + ",,,A");
}
std::string Gsa(int mode) { return NmeaFramed("GPGSA,A," + std::to_string(mode) + ",01,02,03,04,,,,,,,,,1.8,0.9,1.5"); }
std::string Gsv() { return NmeaFramed("GPGSV,1,1,04,01,40,083,41,02,17,308,36,03,07,344,,04,77,067,22"); }

// Epochs of one second from `from` (hhmmss), `count` of them, all with a 3D fix unless told.
std::string Seconds(int from, int count, int quality = 1, const std::string& date = "141219") {
  std::string out;
  for (int i = 0; i < count; ++i) {
    const int h = (from / 10000), m = from / 100 % 100, s = from % 100;
    const int total = (h * 3600 + m * 60 + s + i) % 86400;
    char time[16];
    std::snprintf(time, sizeof time, "%02d%02d%02d.000", total / 3600, total / 60 % 60, total % 60);
    out += Gga(time, i % 3, quality) + Gsa(quality == 0 ? 1 : 3) + Gsv() + Rmc(time, date, quality != 0);
  }
  return out;
}

struct SurveyRow {
  const char* name;
  std::string log;
  std::size_t epochs, fixes;
  bool statistics;
  const char* note;  // a note that must be there; "" for none expected of this row
  double duration;
  std::uint64_t gaps;
  std::string lastUtc;
};

TEST(ReportSurvey, LogsThatGoWrong) {
  const std::string good = Seconds(142900, 10);
  std::string badSums = good;
  for (std::size_t at = badSums.find("*"); at != std::string::npos; at = badSums.find("*", at + 60))
    badSums[at + 1] ^= 1;
  std::string cut;
  for (std::size_t i = 0; i < good.size(); i += 40) cut += good.substr(i, 30) + "\n";
  const std::string restart =
      Seconds(142900, 3) + NmeaFramed("PMTK010,001") + Seconds(142903, 5, 0) + Seconds(142908, 3);
  const SurveyRow rows[] = {
      {"nothing", "", 0, 0, false, "The log is empty", 0, 0, ""},
      {"garbage", std::string("\x01\xff$$$**\r\n\x7fGPGGA,,,\0\0", 20) + "noise $GPGGA*ZZ\r\n", 0, 0, false,
       "passes the checksum test", 0, 0, ""},
      {"a good log", good, 10, 10, true, "", 9, 0, "2019-12-14 14:29:09 UTC"},
      {"every checksum bad", badSums, 0, 0, false, "with a bad checksum skipped", 0, 0, ""},
      {"cut into pieces", good + cut, 10, 10, true, "without a checksum", 9, 0, ""},
      {"the last line cut", good + Gga("142910.000", 0, 1).substr(0, 30), 10, 10, true, "ends inside a sentence", 9, 0,
       ""},
      {"no fix at all", Seconds(142900, 6, 0), 6, 0, false, "No fix in this log", 5, 0, ""},
      {"one fix", Seconds(142900, 4, 0) + Seconds(142904, 1), 5, 1, false, "One fix only", 4, 0, ""},
      {"time backwards", Seconds(142900, 5) + Seconds(142902, 5), 10, 10, true, "went backwards 1 time", 8, 0, ""},
      {"across midnight", Seconds(235957, 6, 1, "141219"), 6, 6, true, "crosses midnight", 5, 0, ""},
      {"a gap", Seconds(142900, 5) + Seconds(143100, 5), 10, 10, true, "", 124, 1, ""},
      {"week rollover", Seconds(235958, 2, 1, "060419") + Seconds(0, 3, 1, "220899"), 5, 5, true, "1024 weeks", 4, 0,
       "2019-04-07 00:00:02 UTC"},
      {"a restart", restart, 11, 6, true, "", 10, 0, ""},
      {"no GSV, no GSA", Gga("142900.000", 0, 1) + Gga("142901.000", 1, 1), 2, 2, true, "No GSV sentences", 1, 0, ""},
  };
  for (const SurveyRow& row : rows) {
    SCOPED_TRACE(row.name);
    const Survey s = SurveyOfBytes(row.log);
    EXPECT_EQ(s.epochs, row.epochs);
    EXPECT_EQ(s.points.size(), row.fixes);
    EXPECT_EQ(s.statistics.has_value(), row.statistics);
    EXPECT_NEAR(s.duration, row.duration, 1e-6);
    EXPECT_EQ(s.gapCount, row.gaps);
    if (!row.lastUtc.empty()) {
      EXPECT_EQ(s.lastUtc, row.lastUtc);
    }
    bool found = std::string(row.note).empty();
    for (const std::string& note : s.notes) found = found || note.find(row.note) != std::string::npos;
    EXPECT_TRUE(found) << "no note holds \"" << row.note << "\"";
    // The JSON is whole whatever went wrong.
    EXPECT_EQ(ReportJson(s, row.name).back(), '\n');
  }
  // The restart's time to fix counts from the first epoch after it.
  const Survey s = SurveyOfBytes(restart);
  ASSERT_EQ(s.starts.size(), 2u);
  EXPECT_EQ(s.starts[0].to3D, 0.0);
  EXPECT_EQ(s.starts[1].elapsed, 3.0);
  EXPECT_EQ(s.starts[1].to2D, 5.0);
}

// Chunks cut anywhere give the same survey as the whole; a ten-hertz log keeps its rhythm
// and its columns bounded.
TEST(ReportSurvey, ChunksAndColumns) {
  const std::string capture = testsupport::ReadTestData("quectel-l76k-nmea.log");
  const std::string whole = ReportJson(SurveyOfBytes(capture), "");
  LogSurvey pieces;
  for (std::size_t i = 0; i < capture.size(); i += 7) pieces.feed(capture.substr(i, 7));
  EXPECT_EQ(ReportJson(pieces.finish(), ""), whole);

  std::string tenth;
  for (int i = 0; i < 40000; ++i) {  // 4000 s at 10 Hz
    char time[16];
    std::snprintf(time, sizeof time, "%02d%02d%02d.%d00", 10 + i / 36000, i / 600 % 60, i / 10 % 60, i % 10);
    tenth += Gga(time, 0, 1);
  }
  const Survey s = SurveyOfBytes(tenth);
  EXPECT_NEAR(s.typicalStep, 0.1, 1e-9);
  EXPECT_NEAR(s.duration, 3999.9, 1e-6);
  EXPECT_LE(s.columns.size(), kMaxColumns);
  std::uint64_t epochs = 0;
  for (const SeriesColumn& c : s.columns) epochs += c.epochs;
  EXPECT_EQ(epochs, 40000u);
}

}  // namespace
