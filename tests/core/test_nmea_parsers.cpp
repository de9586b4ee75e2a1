// Parsers and their helpers: coordinate texts (including the independent reference table),
// speeds, local date and time, and fix mode (the number readers: test_number_text.cpp).
#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "link/nmea_parsers.h"
#include "link/nmea_sentence.h"

namespace {

using namespace std::string_literals;

// --- coordinates ---

struct CoordinateCase {
  const char* legend;
  std::string value;
  std::string hemisphere;
  bool longitude;
  std::optional<std::string> text;  // nullopt: cannot be converted, text stays as it was
};

class CoordinateTable : public ::testing::TestWithParam<CoordinateCase> {};

TEST_P(CoordinateTable, FormatsDegreesMinutesSeconds) {
  const CoordinateCase& c = GetParam();
  const std::optional<std::string> got =
      c.longitude ? FormatLongitude(c.value, c.hemisphere) : FormatLatitude(c.value, c.hemisphere);
  EXPECT_EQ(got, c.text) << c.legend;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, CoordinateTable,
    ::testing::Values(CoordinateCase{"2503.1234 N", "2503.1234", "N", false,
                                     "N 25\xB0"
                                     "03'07.40\""},
                      CoordinateCase{"4807.038 N", "4807.038", "N", false,
                                     "N 48\xB0"
                                     "07'02.27\""},
                      CoordinateCase{"0503.0000 N: no leading zero, truncation shows", "0503.0000", "N", false,
                                     "N 5\xB0"
                                     "02'59.99\""},
                      CoordinateCase{"12130.2500 E", "12130.2500", "E", true,
                                     "E 121\xB0"
                                     "30'14.99\""},
                      CoordinateCase{"01131.000 E: plain double would give 30'59.99", "01131.000", "E", true,
                                     "E 11\xB0"
                                     "31'00.00\""},
                      CoordinateCase{"empty value and hemisphere", "", "", false,
                                     " 0\xB0"
                                     "00'00.00\""},
                      CoordinateCase{"empty longitude", "", "", true,
                                     " 0\xB0"
                                     "00'00.00\""},
                      CoordinateCase{"no decimal point counts as 0", "2503", "N", false,
                                     "N 0\xB0"
                                     "00'00.00\""},
                      CoordinateCase{"two decimal points count as 0", "2503.12.34", "N", false,
                                     "N 0\xB0"
                                     "00'00.00\""},
                      CoordinateCase{"a letter counts as 0", "2503.1a34", "S", false,
                                     "S 0\xB0"
                                     "00'00.00\""},
                      CoordinateCase{"a sign counts as 0", "-2503.1234", "S", false,
                                     "S 0\xB0"
                                     "00'00.00\""},
                      CoordinateCase{"leading '.' cannot be converted", ".1234", "N", false, std::nullopt},
                      CoordinateCase{"integer part beyond 32 bits cannot be converted", "99999999999.5", "N", false,
                                     std::nullopt},
                      CoordinateCase{"trailing '.' is a whole number", "2503.", "N", false,
                                     "N 25\xB0"
                                     "03'00.00\""},
                      CoordinateCase{"three-digit latitude gets the sign after two digits", "12000.0", "N", false,
                                     "N 12\xB0"
                                     "0"
                                     "00'00.00\""},
                      CoordinateCase{"four-digit longitude gets the sign after three digits", "123400.0", "E", true,
                                     "E 123\xB0"
                                     "4"
                                     "00'00.00\""},
                      CoordinateCase{"minutes of 60 and more carry into the degrees", "2599.0", "N", false,
                                     "N 26\xB0"
                                     "38'59.99\""},
                      CoordinateCase{"the hemisphere is copied as it stands", "0000.5", "XY", true,
                                     "XY 0\xB0"
                                     "00'30.00\""}));

// Every row of the reference table, computed by tests/data/make_coordinate_table.py with exact
// rational arithmetic, including 150 fields where plain double arithmetic differs.
TEST(Coordinates, MatchTheExactReferenceTable) {
  std::ifstream in(std::string(TORVIKEL_TEST_DATA) + "/coordinate_table.txt", std::ios::binary);
  ASSERT_TRUE(in) << "coordinate_table.txt missing";
  std::string line;
  int rows = 0;
  while (std::getline(in, line)) {
    std::vector<std::string> cols;
    std::size_t start = 0;
    for (std::size_t tab; (tab = line.find('\t', start)) != std::string::npos; start = tab + 1) {
      cols.push_back(line.substr(start, tab - start));
    }
    cols.push_back(line.substr(start));
    ASSERT_EQ(cols.size(), 4u) << line;
    const std::optional<std::string> got =
        cols[2] == "O" ? FormatLongitude(cols[0], cols[1]) : FormatLatitude(cols[0], cols[1]);
    ASSERT_TRUE(got.has_value()) << cols[0];
    EXPECT_EQ(*got, cols[3]) << cols[0] << " " << cols[1];
    ++rows;
  }
  EXPECT_EQ(rows, 1000);
}

struct PlainCase {
  const char* text;
  bool plain;
};

TEST(Coordinates, PlainNumbers) {
  const PlainCase rows[] = {
      {"", true},     {"0", true},     {"2503.1234", true}, {".5", true},  {"5.", true},   {"1.2.3", false},
      {"12a", false}, {"-1.0", false}, {"+1", false},       {" 1", false}, {"1e5", false}, {"..", false},
  };
  for (const PlainCase& r : rows) EXPECT_EQ(IsPlainNumber(r.text), r.plain) << '"' << r.text << '"';
}

struct ValueCase {
  const char* text;
  std::optional<double> value;
};

TEST(Coordinates, ValueOfAPlainNumber) {
  const ValueCase rows[] = {
      {"", 0.0},                             // empty: no "."
      {"2503", 0.0},                         // no "." counts as 0
      {"12.5", 12.5},                        // exact binary fraction
      {"7.", 7.0},                           // nothing behind the "."
      {"0.25", 0.25}, {".5", std::nullopt},  // no integer part to convert
  };
  for (const ValueCase& r : rows) EXPECT_EQ(ParseCoordinate(r.text), r.value) << '"' << r.text << '"';
  // Not exact in binary: within rounding of the decimal value.
  EXPECT_NEAR(*ParseCoordinate("2503.1234"), 2503.1234, 1e-9);
}

// --- speed ---

struct SpeedCase {
  const char* legend;
  std::string value;
  char unit;
  std::string text;
};

class SpeedTable : public ::testing::TestWithParam<SpeedCase> {};

TEST_P(SpeedTable, SpeedText) {
  EXPECT_EQ(SpeedTextOf(GetParam().value, GetParam().unit), GetParam().text) << GetParam().legend;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, SpeedTable,
    ::testing::Values(
        SpeedCase{"0.02 knots: 0.03704 cut to five characters", "0.02", 'N', "0.037 km/h"},
        SpeedCase{"0.00 knots", "0.00", 'N', "0 km/h"}, SpeedCase{"empty knots count as 0", "", 'N', "0 km/h"},
        SpeedCase{"non-numeric knots count as 0", "abc", 'N', "0 km/h"},
        SpeedCase{"leading number is taken as strtod does", "1xyz", 'N', "1.852 km/h"},
        SpeedCase{"10 knots", "10", 'N', "18.52 km/h"}, SpeedCase{"0.32 knots: 0.59264", "0.32", 'N', "0.592 km/h"},
        SpeedCase{"1000 knots", "1000", 'N', "1852 km/h"},
        SpeedCase{"123456 knots: 228640.512 cut", "123456", 'N', "22864 km/h"},
        SpeedCase{"1e20 knots in exponent form", "1e20", 'N', "1.852 km/h"},
        SpeedCase{"negative knots", "-1", 'N', "-1.85 km/h"},
        SpeedCase{"km/h copied unchanged", "12.5", 'K', "12.5 km/h"}, SpeedCase{"km/h empty", "", 'K', " km/h"},
        SpeedCase{"km/h not a number is still copied", "fast", 'K', "fast km/h"}));

// The digits must be those of "%.15g" in the C locale, whatever the process locale.
TEST(Speed, AgreesWithPrintfG15) {
  std::mt19937_64 rng(42);
  std::uniform_real_distribution<double> knots(0.0, 300.0);
  for (int i = 0; i < 2000; ++i) {
    char field[32];
    std::snprintf(field, sizeof field, "%.*f", i % 5, knots(rng));
    char reference[64];
    std::snprintf(reference, sizeof reference, "%.15g", std::strtod(field, nullptr) * 1.852);
    const std::string expected = std::string(reference).substr(0, 5) + " km/h";
    ASSERT_EQ(SpeedTextOf(field, 'N'), expected) << field;
  }
}

// --- local date and time ---

class TimeZoneTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* tz = std::getenv("TZ");
    hadTz_ = tz != nullptr;
    if (hadTz_) savedTz_ = tz;
  }
  void TearDown() override {
    if (hadTz_) setenv("TZ", savedTz_.c_str(), 1);
    else unsetenv("TZ");
    tzset();
  }
  static void UseZone(const char* tz) {
    setenv("TZ", tz, 1);
    tzset();
  }

 private:
  bool hadTz_ = false;
  std::string savedTz_;
};

constexpr std::time_t kWinterNow = 1326628800;  // 2012-01-15 12:00:00 UTC
constexpr std::time_t kSummerNow = 1341144000;  // 2012-07-01 12:00:00 UTC
constexpr const char* kCet = "CET-1CEST,M3.5.0,M10.5.0/3";

struct DateTimeCase {
  const char* legend;
  const char* tz;
  std::time_t now;
  std::string time;
  std::string date;
  const char* dateText;  // nullptr: both texts stay as they were
  const char* timeText;
};

class DateTimeTable : public TimeZoneTest, public ::testing::WithParamInterface<DateTimeCase> {};

TEST_P(DateTimeTable, LocalDateAndTime) {
  const DateTimeCase& c = GetParam();
  UseZone(c.tz);
  Display_SatInfo_st info;
  info.dateText = "before";
  info.timeText = "before";
  const bool changed = UpdateDateTime(c.time, c.date, c.now, info);
  EXPECT_EQ(changed, c.dateText != nullptr) << c.legend;
  EXPECT_EQ(info.dateText, c.dateText ? c.dateText : "before") << c.legend;
  EXPECT_EQ(info.timeText, c.timeText ? c.timeText : "before") << c.legend;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, DateTimeTable,
    ::testing::Values(
        DateTimeCase{"UTC+8 without daylight saving", "<+08>-8", kWinterNow, "123456.000", "150812", "2012/08/15",
                     "20:34:56"},
        DateTimeCase{"UTC", "UTC0", kWinterNow, "123456.000", "150812", "2012/08/15", "12:34:56"},
        DateTimeCase{"UTC-5", "<-05>5", kSummerNow, "123456.000", "150812", "2012/08/15", "07:34:56"},
        DateTimeCase{"UTC+8 crosses into the next year", "<+08>-8", kWinterNow, "203000.000", "311212", "2013/01/01",
                     "04:30:00"},
        DateTimeCase{"year 45 is shown as 2030", "UTC0", kWinterNow, "000000.000", "010145", "2030/01/01", "00:00:00"},
        DateTimeCase{"placeholder date 060180 is shown in 2030", "UTC0", kWinterNow, "000012.000", "060180",
                     "2030/01/06", "00:00:12"},
        DateTimeCase{"year 38 stays 2038", "UTC0", kWinterNow, "120000", "010138", "2038/01/01", "12:00:00"},
        DateTimeCase{"fraction of seconds is ignored", "UTC0", kWinterNow, "235959.999", "311299", "2030/12/31",
                     "23:59:59"},
        DateTimeCase{"CET in winter, winter date", kCet, kWinterNow, "120000", "150112", "2012/01/15", "13:00:00"},
        DateTimeCase{"CET in winter, summer date", kCet, kWinterNow, "120000", "150712", "2012/07/15", "14:00:00"},
        DateTimeCase{"CET in summer: the zone offset ignores daylight saving", kCet, kSummerNow, "120000", "150712",
                     "2012/07/15", "13:00:00"},
        DateTimeCase{"CET in summer, winter date", kCet, kSummerNow, "120000", "150112", "2012/01/15", "12:00:00"},
        DateTimeCase{"a five-character time reads seconds from one digit", "UTC0", kWinterNow, "12345", "150812",
                     "2012/08/15", "12:34:05"},
        DateTimeCase{"empty time leaves both texts", "UTC0", kWinterNow, "", "150812", nullptr, nullptr},
        DateTimeCase{"empty date leaves both texts", "UTC0", kWinterNow, "123456.000", "", nullptr, nullptr},
        DateTimeCase{"letters in the time", "UTC0", kWinterNow, "12a456.000", "150812", nullptr, nullptr},
        DateTimeCase{"a blank in the date", "UTC0", kWinterNow, "123456.000", "15 812", nullptr, nullptr},
        DateTimeCase{"date without year", "UTC0", kWinterNow, "123456.000", "1508", nullptr, nullptr},
        DateTimeCase{"time without seconds", "UTC0", kWinterNow, "1234", "150812", nullptr, nullptr}));

// The date and time texts must be exactly what tzset, localtime, mktime, the zone offset and
// localtime again give, done plainly for every call, whatever the zone and its transitions:
// many receiver dates and times (out-of-range fields included, which mktime normalises)
// against that plain computation, in zones with daylight saving, odd offsets and offset
// changes, and with "now" on both sides of a transition.
TEST_F(TimeZoneTest, DateTimeAgreesWithThePlainLibraryComputation) {
  const char* zones[] = {
      "UTC0",           "<+08>-8",       kCet, "America/New_York", "Europe/Moscow", "Australia/Lord_Howe",
      "Asia/Kathmandu", "Europe/London", ""};
  const std::time_t nows[] = {kWinterNow, kSummerNow, 1332637200 /* 2012-03-25 01:00 UTC */,
                              1351386000 /* 2012-10-28 01:00 UTC */, 1414278000 /* 2014-10-25 23:00 UTC */};
  auto plain = [](const std::string& time, const std::string& date, std::time_t now) {
    tzset();
    std::tm b = *std::localtime(&now);
    b.tm_year = std::stoi(date.substr(4, 2)) + 100;
    b.tm_mon = std::stoi(date.substr(2, 2)) - 1;
    b.tm_mday = std::stoi(date.substr(0, 2));
    b.tm_hour = std::stoi(time.substr(0, 2));
    b.tm_min = std::stoi(time.substr(2, 2));
    b.tm_sec = std::stoi(time.substr(4, 2));
    if (b.tm_year > 138) b.tm_year = 130;
    const std::time_t t = std::mktime(&b) - timezone;
    const std::tm r = *std::localtime(&t);
    char d[32], h[32];
    std::snprintf(d, sizeof d, "%4d/%02d/%02d", r.tm_year + 1900, r.tm_mon + 1, r.tm_mday);
    std::snprintf(h, sizeof h, "%02d:%02d:%02d", r.tm_hour, r.tm_min, r.tm_sec);
    return std::string(d) + " " + h;
  };
  std::mt19937 rng(2012);
  auto two = [](int v) { return std::string{static_cast<char>('0' + v / 10 % 10), static_cast<char>('0' + v % 10)}; };
  int compared = 0;
  for (const char* zone : zones) {
    if (*zone == '\0') {
      unsetenv("TZ");
      tzset();
    } else {
      UseZone(zone);
    }
    for (std::time_t now : nows) {
      // A receiver running through the days around each transition of 2012 and 2014, one fix
      // every 599 seconds, then random and out-of-range fields.
      std::vector<std::pair<std::string, std::string>> inputs;
      for (std::time_t t = 1332460800; t < 1332460800 + 4 * 86400; t += 599) {  // 2012-03-23..26
        for (std::time_t base : {t, t + 18316800 /* late October 2012 */, t + 81820800 /* late October 2014 */,
                                 t - 15552000 /* late September 2011 */}) {
          std::tm u{};
          gmtime_r(&base, &u);
          inputs.emplace_back(two(u.tm_hour) + two(u.tm_min) + two(u.tm_sec) + ".000",
                              two(u.tm_mday) + two(u.tm_mon + 1) + two(u.tm_year % 100));
        }
      }
      std::uniform_int_distribution<int> any(0, 99);
      for (int i = 0; i < 300; ++i) {
        inputs.emplace_back(two(any(rng)) + two(any(rng)) + two(any(rng)),
                            two(any(rng)) + two(any(rng)) + two(any(rng)));
      }
      for (const auto& [time, date] : inputs) {
        Display_SatInfo_st info;
        ASSERT_TRUE(UpdateDateTime(time, date, now, info));
        ASSERT_EQ(info.dateText + " " + info.timeText, plain(time, date, now))
            << "zone " << zone << ", now " << now << ", time " << time << ", date " << date;
        ++compared;
      }
    }
  }
  EXPECT_GT(compared, 10000);
}

// --- fix mode ---

TEST(FixMode, NameOfTheFixTypeField) {
  struct Row {
    const char* field;
    std::string_view name;
  };
  const Row rows[] = {{"1", "No Fix"}, {"", "No Fix"}, {"2", "2D"},  {"3", "3D"},     {" 3", "3D"},
                      {"+2", "2D"},    {"3x", "3D"},   {"03", "3D"}, {"4", "No Fix"}, {"x3", "No Fix"}};
  for (const Row& r : rows) EXPECT_EQ(FixModeName(r.field), r.name) << '"' << r.field << '"';
}

// --- handlers over split sentences ---

SentenceFields Split(const std::string& sentence) {
  SentenceFields fields;
  SplitFields(sentence, fields);
  return fields;
}

TEST(Handlers, GgaWritesPositionAndAltitude) {
  ReceiverState state;
  const std::string s = "$GPGGA,123519,2503.1234,N,12130.2500,E,1,08,0.9,545.4,M,46.9,M,,*47\r\n";
  ParseGGA(Split(s), state);
  EXPECT_EQ(state.satInfo.latText,
            "N 25\xB0"
            "03'07.40\"");
  EXPECT_EQ(state.satInfo.lonText,
            "E 121\xB0"
            "30'14.99\"");
  EXPECT_EQ(state.satInfo.altitudeText, "545.4");
}

TEST(Handlers, SentenceWithoutFixStillOverwritesPosition) {
  ReceiverState state;
  state.satInfo.latText = "old";
  state.satInfo.lonText = "old";
  ParseGLL(Split("$GPGLL,,,,,024356.091,V,N*7E\r\n"), state);
  EXPECT_EQ(state.satInfo.latText,
            " 0\xB0"
            "00'00.00\"");
  EXPECT_EQ(state.satInfo.lonText,
            " 0\xB0"
            "00'00.00\"");
}

TEST(Handlers, UnconvertibleCoordinateKeepsOnlyThatText) {
  ReceiverState state;
  state.satInfo.latText = "old lat";
  state.satInfo.lonText = "old lon";
  ParseGGA(Split("$GPGGA,1,.5,N,12130.2500,E,1,08,0.9,12.0,M,,M,,*00"), state);
  EXPECT_EQ(state.satInfo.latText, "old lat");
  EXPECT_EQ(state.satInfo.lonText,
            "E 121\xB0"
            "30'14.99\"");
  EXPECT_EQ(state.satInfo.altitudeText, "12.0");
}

// One state through several position sentences: each text is what the last sentence's fields
// make, whatever the sentences before it held (the RMC of a second repeats its GGA's fields).
TEST(Handlers, EachPositionTextFollowsTheLastSentence) {
  const std::string kLat25N =
      "N 25\xB0"
      "03'07.40\"";
  const std::string kLat25S =
      "S 25\xB0"
      "03'07.40\"";
  const std::string kLat1N =
      "N 1\xB0"
      "32'24.60\"";
  const std::string kLon121E =
      "E 121\xB0"
      "30'14.99\"";
  struct Row {
    const char* legend;
    std::vector<std::string> sentences;
    std::string lat;
  };
  const Row rows[] = {
      {"the RMC repeats the GGA's position",
       {"$GPGGA,1,2503.1234,N,12130.2500,E,1", "$GPRMC,1,A,2503.1234,N,12130.2500,E,0.0,0.0,010120"},
       kLat25N},
      {"the same value in the other hemisphere",
       {"$GPGGA,1,2503.1234,N,12130.2500,E,1", "$GPRMC,1,A,2503.1234,S,12130.2500,E,0.0,0.0,010120"},
       kLat25S},
      {"another value in the same hemisphere",
       {"$GPGGA,1,2503.1234,N,12130.2500,E,1", "$GPGLL,0132.4100,N,12130.2500,E"},
       kLat1N},
      {"an unconvertible value keeps the text before it",
       {"$GPGGA,1,2503.1234,N,12130.2500,E,1", "$GPGLL,.5,N,12130.2500,E"},
       kLat25N},
      {"the first position again after another",
       {"$GPGGA,1,2503.1234,N,12130.2500,E,1", "$GPGLL,0132.4100,N,12130.2500,E",
        "$GPRMC,1,A,2503.1234,N,12130.2500,E,0.0,0.0,010120"},
       kLat25N},
      {"the first position again after an unconvertible one and another",
       {"$GPGGA,1,0132.4100,N,12130.2500,E,1", "$GPGLL,.5,N,12130.2500,E", "$GPGLL,2503.1234,N,12130.2500,E",
        "$GPGGA,1,0132.4100,N,12130.2500,E,1"},
       kLat1N},
  };
  for (const Row& row : rows) {
    ReceiverState state;
    for (const std::string& sentence : row.sentences) {
      const SentenceFields fields = Split(sentence);
      if (sentence.starts_with("$GPGGA")) ParseGGA(fields, state);
      if (sentence.starts_with("$GPGLL")) ParseGLL(fields, state);
      if (sentence.starts_with("$GPRMC")) ParseRMC(fields, state, 1577836800);
    }
    EXPECT_EQ(state.satInfo.latText, row.lat) << row.legend;
    EXPECT_EQ(state.satInfo.lonText, kLon121E) << row.legend;
  }
}

class RmcTest : public TimeZoneTest {};

TEST_F(RmcTest, WritesPositionSpeedDateAndTime) {
  UseZone("<+08>-8");
  ReceiverState state;
  ParseRMC(Split("$GPRMC,123456.000,A,4807.038,N,01131.000,E,0.02,84.4,150812,,,A*00"), state, kWinterNow);
  EXPECT_EQ(state.satInfo.latText,
            "N 48\xB0"
            "07'02.27\"");
  EXPECT_EQ(state.satInfo.lonText,
            "E 11\xB0"
            "31'00.00\"");
  EXPECT_EQ(state.satInfo.speedText, "0.037 km/h");
  EXPECT_EQ(state.satInfo.dateText, "2012/08/15");
  EXPECT_EQ(state.satInfo.timeText, "20:34:56");
}

TEST_F(RmcTest, EmptyDateLeavesDateAndTimeButNotTheRest) {
  UseZone("UTC0");
  ReceiverState state;
  state.satInfo.dateText = "2011/01/01";
  state.satInfo.timeText = "00:00:00";
  ParseRMC(Split("$GPRMC,,V,,,,,0.00,,,,,N*00"), state, kWinterNow);
  EXPECT_EQ(state.satInfo.dateText, "2011/01/01");
  EXPECT_EQ(state.satInfo.timeText, "00:00:00");
  EXPECT_EQ(state.satInfo.speedText, "0 km/h");
  EXPECT_EQ(state.satInfo.latText,
            " 0\xB0"
            "00'00.00\"");
}

TEST(Handlers, VtgTakesKmhField) {
  ReceiverState state;
  ParseVTG(Split("$GPVTG,240.83,T,,M,0.32,N,12.5,K,A*3D\r\n"), state);
  EXPECT_EQ(state.satInfo.speedText, "12.5 km/h");
}

TEST(Handlers, ZdaChangesNothing) {
  ReceiverState state;
  state.satInfo.dateText = "kept";
  ParseZDA(Split("$GPZDA,202640.000,13,04,2015,,*54\r\n"), state);
  EXPECT_EQ(state.satInfo.dateText, "kept");
  EXPECT_EQ(state.satInfo.timeText, "");
}

}  // namespace
