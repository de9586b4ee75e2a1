// The EPO state text: no data, remaining validity of a complete set, the incomplete-set
// text with its start and end, and the clock, zone and date conversions beneath them.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>

#include "commands/epo_state_text.h"

namespace {

constexpr long kHour = 3600;

std::time_t Utc(int year, int month, int day, int hour, int minute) {
  std::tm time{};
  time.tm_year = year - 1900;
  time.tm_mon = month - 1;
  time.tm_mday = day;
  time.tm_hour = hour;
  time.tm_min = minute;
  return timegm(&time);
}

// GPS week of a local wall time, counted independently from the GPS epoch 1980-01-06.
long GpsWeekOfLocal(std::time_t utc, long secondsEast) {
  const std::time_t gpsEpoch = Utc(1980, 1, 6, 0, 0);
  return static_cast<long>((utc + secondsEast - gpsEpoch) / 604800);
}

std::string IsoGpsTime(long week, long towSec) {
  const std::time_t moment = Utc(1980, 1, 6, 0, 0) + static_cast<std::time_t>(week) * 604800 + towSec;
  std::tm time{};
  gmtime_r(&moment, &time);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &time);
  return text;
}

const std::string kIncompleteTail = "\n(EPO data update is not completely. Please update again.)";

// Wednesday 2024-05-15, 12:00 local time, 6 hours east of UTC.
const std::time_t kWednesdayNoonUtcPlus6 = Utc(2024, 5, 15, 6, 0);
const EpoClock kClockUtcPlus6{kWednesdayNoonUtcPlus6, -6 * kHour, 0};
const long kWeek = GpsWeekOfLocal(kWednesdayNoonUtcPlus6, 6 * kHour);

TEST(RepliesEpo, CompleteSetsAndNoData) {
  struct Row {
    const char* legend;
    PmtkEpoState reply;
    EpoClock clock;
    std::string expected;
  };
  const Row rows[] = {
      {"Wednesday 12:00 UTC+6, 7-day set from this week's start",
       {"28", kWeek, 0, kWeek + 1, 0},
       kClockUtcPlus6,
       "Remained 3 Days 18 Hours."},
      {"same with a 14-day set count", {"56", kWeek, 0, kWeek + 1, 0}, kClockUtcPlus6, "Remained 3 Days 18 Hours."},
      {"data started last week: the week's days count too",
       {"28", kWeek - 1, 302400, kWeek, 302400},
       kClockUtcPlus6,
       "Remained 0 Days 6 Hours."},
      {"last week lies in the past: 0 and 0",
       {"28", kWeek - 2, 0, kWeek - 1, 0},
       kClockUtcPlus6,
       "Remained 0 Days 0 Hours."},
      {"validity ran out this week: negatives shown as 0",
       {"28", kWeek, 0, kWeek, 86400},
       kClockUtcPlus6,
       "Remained 0 Days 0 Hours."},
      {"half-hour zone uses the exact offset (UTC+5:30, 12:15 local)",
       {"28", kWeek, 0, kWeek + 1, 0},
       EpoClock{Utc(2024, 5, 15, 6, 45), -19800, 0},
       "Remained 3 Days 17 Hours."},
      {"daylight saving moves the local clock, not the zone offset (UTC+1, DST, 12:30 local)",
       {"28", kWeek, 0, kWeek + 1, 0},
       EpoClock{Utc(2024, 5, 15, 10, 30), -kHour, kHour},
       "Remained 3 Days 12 Hours."},
      {"\"0\" sets: no data, whatever the rest holds", {"0", kWeek, 0, kWeek + 1, 0}, kClockUtcPlus6, "NO EPO Data!"},
      {"\"0\" sets with nonsense fields", {"0", -5, -5, -5, -5}, kClockUtcPlus6, "NO EPO Data!"},
  };
  const EpoTextFormat iso = IsoEpoTextFormat();
  for (const Row& row : rows) EXPECT_EQ(EpoStateText(row.reply, row.clock, iso), row.expected) << row.legend;
}

TEST(RepliesEpo, RemainingValidityParts) {
  const EpoRemaining remaining = EpoRemainingValidity({"28", kWeek, 0, kWeek + 1, 0}, kClockUtcPlus6);
  EXPECT_EQ(remaining.days, 3);
  EXPECT_EQ(remaining.hours, 18);
}

TEST(RepliesEpo, IncompleteSet) {
  struct Row {
    const char* legend;
    PmtkEpoState reply;
    std::string remainder;
  };
  // FTOW 1 h, LTOW 1.5 h: span 7.0208 days, left 3.8125 days.
  const Row rows[] = {
      {"27 sets", {"27", kWeek, 3600, kWeek + 1, 5400}, "Remained 3 Days 19 Hours."},
      {"no field 1 at all", {"", kWeek, 3600, kWeek + 1, 5400}, "Remained 3 Days 19 Hours."},
      {"\"028\" is not \"28\": compared as text", {"028", kWeek, 3600, kWeek + 1, 5400}, "Remained 3 Days 19 Hours."},
      {"\"00\" is not \"0\"", {"00", kWeek, 3600, kWeek + 1, 5400}, "Remained 3 Days 19 Hours."},
  };
  for (const Row& row : rows) {
    const std::string expected =
        IsoGpsTime(kWeek, 3600) + " to " + IsoGpsTime(kWeek + 1, 5400) + "\n " + row.remainder + kIncompleteTail;
    EXPECT_EQ(EpoStateText(row.reply, kClockUtcPlus6, IsoEpoTextFormat()), expected) << row.legend;
  }
}

TEST(RepliesEpo, IncompleteSetUsesTheGivenFormats) {
  const EpoTextFormat custom{[](const std::tm& t) {
                               char text[32];
                               std::strftime(text, sizeof text, "%d.%m.%Y", &t);
                               return std::string(text);
                             },
                             [](const std::tm& t) {
                               char text[32];
                               std::strftime(text, sizeof text, "%I:%M:%S %p", &t);
                               return std::string(text);
                             }};
  // GPS week 2314 begins on Sunday 2024-05-12.
  const PmtkEpoState reply{"14", 2314, 46800 + 7, 2315, 3600};
  const std::string text = EpoStateText(reply, kClockUtcPlus6, custom);
  EXPECT_EQ(text.substr(0, text.find('\n')), "12.05.2024 01:00:07 PM to 19.05.2024 01:00:00 AM");
  EXPECT_NE(text.find(kIncompleteTail), std::string::npos);
}

TEST(RepliesEpo, NonsenseFieldsNeverGoNegativeOrCrash) {
  const PmtkEpoState rows[] = {
      {"28", LONG_MAX, LONG_MAX, LONG_MAX, LONG_MAX},
      {"28", LONG_MIN, LONG_MIN, LONG_MAX, LONG_MAX},
      {"5", LONG_MIN, LONG_MAX, LONG_MIN, LONG_MIN},
      {"5", 0, 0, LONG_MAX, -1},
  };
  for (const PmtkEpoState& reply : rows) {
    const EpoRemaining remaining = EpoRemainingValidity(reply, kClockUtcPlus6);
    EXPECT_GE(remaining.days, 0);
    EXPECT_GE(remaining.hours, 0);
    EXPECT_LT(remaining.hours, 24);
    EXPECT_FALSE(EpoStateText(reply, kClockUtcPlus6, IsoEpoTextFormat()).empty());
  }
}

TEST(RepliesEpo, DaySerials) {
  struct Row {
    const char* legend;
    double serial;
    int year, month, day, hour, minute, second, weekday;
  };
  const Row rows[] = {
      {"first day of GPS week 1507", 39775.0, 2008, 11, 23, 0, 0, 0, 0},
      {"one hour in, held inexactly", 39775.0 + 3600.0 / 86400.0, 2008, 11, 23, 1, 0, 0, 0},
      {"a hair before midnight rounds to the next day", 39775.0 + 86399.9999 / 86400.0, 2008, 11, 24, 0, 0, 0, 1},
      {"Unix epoch", 25569.0, 1970, 1, 1, 0, 0, 0, 4},
      {"serial 0", 0.0, 1899, 12, 30, 0, 0, 0, 6},
      {"leap day", 45351.5, 2024, 2, 29, 12, 0, 0, 4},
  };
  for (const Row& row : rows) {
    const std::tm t = DaySerialToTm(row.serial);
    EXPECT_EQ(t.tm_year + 1900, row.year) << row.legend;
    EXPECT_EQ(t.tm_mon + 1, row.month) << row.legend;
    EXPECT_EQ(t.tm_mday, row.day) << row.legend;
    EXPECT_EQ(t.tm_hour, row.hour) << row.legend;
    EXPECT_EQ(t.tm_min, row.minute) << row.legend;
    EXPECT_EQ(t.tm_sec, row.second) << row.legend;
    EXPECT_EQ(t.tm_wday, row.weekday) << row.legend;
  }
  EXPECT_EQ(DaySerialToTm(45351.5).tm_yday, 59);
  EXPECT_DOUBLE_EQ(GpsTimeToDaySerial(1507, 0.0f), 39775.0);
  EXPECT_DOUBLE_EQ(GpsTimeToDaySerial(1508, 86400.0f), 39783.0);
  EXPECT_DOUBLE_EQ(GpsTimeToDaySerial(1506, 43200.0f), 39768.5);
}

TEST(RepliesEpo, SystemClockReadsTheProcessZone) {
  const char* saved = std::getenv("TZ");
  const std::string savedTz = saved ? saved : "";
  struct Row {
    const char* legend;
    const char* tz;
    long secondsWest;
  };
  const Row rows[] = {
      {"six hours east", "XXX-6", -6 * kHour},
      {"five and a half east", "IST-5:30", -19800},
      {"UTC", "UTC0", 0},
      {"three hours west", "YYY3", 3 * kHour},
  };
  for (const Row& row : rows) {
    setenv("TZ", row.tz, 1);
    const std::time_t before = std::time(nullptr);
    const EpoClock clock = SystemEpoClock();
    const std::time_t after = std::time(nullptr);
    EXPECT_EQ(clock.timezoneSecondsWest, row.secondsWest) << row.legend;
    EXPECT_EQ(clock.dstShiftSeconds, 0) << row.legend << ": a zone without DST rules";
    EXPECT_GE(clock.now, before) << row.legend;
    EXPECT_LE(clock.now, after) << row.legend;
  }
  if (saved) {
    setenv("TZ", savedTz.c_str(), 1);
  } else {
    unsetenv("TZ");
  }
  tzset();
}

}  // namespace
