// Remaining validity of the receiver's EPO data and the text that shows it.
//
// Thread rule: pure, except SystemEpoClock() (C library clock and zone; call it from one
// thread at a time, as tzset is not thread-safe against itself).
#include "commands/epo_state_text.h"

#include <time.h>
#include <cmath>
#include <cstdint>

namespace {

constexpr std::int64_t kSecondsPerDay = 86400;
constexpr std::int64_t kMsPerDay = 86400000;
constexpr long kSecondsPerWeek = 604800;
constexpr std::int64_t kUnixEpochDaySerial = 25569;    // 1970-01-01
constexpr std::int64_t kGpsWeek1507DaySerial = 39775;  // Sunday 2008-11-23
constexpr long kGpsWeekOfSerial39775 = 1507;
constexpr std::int64_t kUnixEpochWeekday = 4;  // 1970-01-01 was a Thursday
// Day serials of 0001-01-01 and 9999-12-31: beyond them a date is meaningless anyway.
constexpr double kMinDaySerial = -693593.0;
constexpr double kMaxDaySerial = 2958465.0;
// Bound on the remaining days before conversion to int; a reply with nonsense weeks
// or times gives a meaningless figure, never an overflow.
constexpr float kMaxRemainingDays = 1.0e9f;

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
  std::int64_t q = a / b;
  if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
  return q;
}

// Days since 1970-01-01 -> proleptic Gregorian year, month (1-12), day (1-31).
void CivilFromDays(std::int64_t days, std::int64_t& year, int& month, int& day) {
  days += 719468;
  const std::int64_t era = FloorDiv(days, 146097);
  const std::int64_t dayOfEra = days - era * 146097;
  const std::int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const std::int64_t shiftedMonth = (5 * dayOfYear + 2) / 153;
  day = static_cast<int>(dayOfYear - (153 * shiftedMonth + 2) / 5 + 1);
  month = static_cast<int>(shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9);
  year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
}

bool IsLeapYear(std::int64_t year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DayOfYear(std::int64_t year, int month, int day) {
  static constexpr int kDaysBefore[] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};
  int yday = kDaysBefore[month - 1] + day - 1;
  if (month > 2 && IsLeapYear(year)) ++yday;
  return yday;
}

std::string Strftime(const std::tm& time, const char* format) {
  char text[64];
  const std::size_t length = std::strftime(text, sizeof text, format, &time);
  return std::string(text, length);
}

std::string EpoRemainingText(const EpoRemaining& remaining) {
  return "Remained " + std::to_string(remaining.days) + " Days " + std::to_string(remaining.hours) + " Hours.";
}

}  // namespace

EpoClock SystemEpoClock() {
  tzset();
  EpoClock clock;
  clock.now = std::time(nullptr);
  clock.timezoneSecondsWest = ::timezone;
  std::tm local{};
  if (localtime_r(&clock.now, &local) != nullptr && local.tm_isdst > 0) {
    clock.dstShiftSeconds = local.tm_gmtoff + ::timezone;
  }
  return clock;
}

EpoTextFormat IsoEpoTextFormat() {
  return {[](const std::tm& time) { return Strftime(time, "%Y-%m-%d"); },
          [](const std::tm& time) { return Strftime(time, "%H:%M:%S"); }};
}

EpoRemaining EpoRemainingValidity(const PmtkEpoState& reply, const EpoClock& clock) {
  // Local wall time of the present moment.
  const std::int64_t localSeconds =
      static_cast<std::int64_t>(clock.now) - clock.timezoneSecondsWest + clock.dstShiftSeconds;
  const std::int64_t localDays = FloorDiv(localSeconds, kSecondsPerDay);
  const std::int64_t todaySerial = localDays + kUnixEpochDaySerial;
  const long currentWeek = static_cast<long>(FloorDiv(todaySerial - kGpsWeek1507DaySerial, 7)) + kGpsWeekOfSerial39775;

  // Offset of local standard time from UTC [h], exact for half-hour zones too.
  const double zoneHours = -static_cast<double>(clock.timezoneSecondsWest) / 3600.0;

  const float firstTow = static_cast<float>(reply.firstTowSec);
  const float lastTow = static_cast<float>(reply.lastTowSec);
  const float spanDays = reply.firstWeek < reply.lastWeek
                             ? (static_cast<float>(kSecondsPerWeek) - firstTow + lastTow) / 86400.0f
                             : (lastTow - firstTow) / 86400.0f;

  float remainingDays = 0.0f;
  if (currentWeek <= reply.lastWeek) {
    const double weekday =
        static_cast<double>(localDays + kUnixEpochWeekday - 7 * FloorDiv(localDays + kUnixEpochWeekday, 7));
    const double timeOfDay = static_cast<double>(localSeconds - localDays * kSecondsPerDay) / 86400.0;
    // Days since the start of the GPS week, taken as UTC.
    const double sinceWeekStart = weekday + timeOfDay - zoneHours / 24.0;
    const float firstTowDays = firstTow / 86400.0f;
    if (currentWeek == reply.firstWeek) {
      remainingDays = static_cast<float>(spanDays - (sinceWeekStart - firstTowDays));
    } else {
      remainingDays = static_cast<float>(spanDays - (sinceWeekStart + 7.0 - firstTowDays));
    }
  }

  if (!std::isfinite(remainingDays)) remainingDays = 0.0f;
  if (remainingDays > kMaxRemainingDays) remainingDays = kMaxRemainingDays;
  if (remainingDays < -kMaxRemainingDays) remainingDays = -kMaxRemainingDays;

  EpoRemaining remaining;
  remaining.days = static_cast<int>(remainingDays);
  remaining.hours = static_cast<int>((remainingDays - static_cast<float>(remaining.days)) * 24.0f);
  if (remaining.days < 0) remaining.days = 0;
  if (remaining.hours < 0) remaining.hours = 0;
  return remaining;
}

double GpsTimeToDaySerial(long week, float towSec) {
  return (static_cast<double>(week) - kGpsWeekOfSerial39775) * 7.0 + static_cast<double>(kGpsWeek1507DaySerial) +
         static_cast<double>(towSec) / 86400.0;
}

std::tm DaySerialToTm(double daySerial) {
  if (!std::isfinite(daySerial)) daySerial = 0.0;
  if (daySerial < kMinDaySerial) daySerial = kMinDaySerial;
  if (daySerial > kMaxDaySerial) daySerial = kMaxDaySerial;

  const std::int64_t totalMs = std::llround(daySerial * static_cast<double>(kMsPerDay));
  const std::int64_t serialDays = FloorDiv(totalMs, kMsPerDay);
  const std::int64_t msOfDay = totalMs - serialDays * kMsPerDay;
  const std::int64_t unixDays = serialDays - kUnixEpochDaySerial;

  std::int64_t year = 0;
  int month = 1;
  int day = 1;
  CivilFromDays(unixDays, year, month, day);

  std::tm time{};
  time.tm_year = static_cast<int>(year - 1900);
  time.tm_mon = month - 1;
  time.tm_mday = day;
  time.tm_hour = static_cast<int>(msOfDay / 3600000);
  time.tm_min = static_cast<int>(msOfDay / 60000 % 60);
  time.tm_sec = static_cast<int>(msOfDay / 1000 % 60);
  time.tm_wday = static_cast<int>(unixDays + kUnixEpochWeekday - 7 * FloorDiv(unixDays + kUnixEpochWeekday, 7));
  time.tm_yday = DayOfYear(year, month, day);
  time.tm_isdst = 0;
  return time;
}

std::string EpoStateText(const PmtkEpoState& reply, const EpoClock& clock, const EpoTextFormat& format) {
  if (reply.setsText == "0") return std::string(kNoEpoDataText);

  const EpoRemaining remaining = EpoRemainingValidity(reply, clock);
  if (reply.setsText == "56" || reply.setsText == "28") return EpoRemainingText(remaining);

  const std::tm start = DaySerialToTm(GpsTimeToDaySerial(reply.firstWeek, static_cast<float>(reply.firstTowSec)));
  const std::tm end = DaySerialToTm(GpsTimeToDaySerial(reply.lastWeek, static_cast<float>(reply.lastTowSec)));
  auto formatted = [](const EpoTimeFormatter& formatter, const std::tm& time) {
    return formatter ? formatter(time) : std::string();
  };
  return formatted(format.date, start) + " " + formatted(format.time, start) + " to " + formatted(format.date, end) +
         " " + formatted(format.time, end) + "\n " + EpoRemainingText(remaining) +
         "\n(EPO data update is not completely. Please update again.)";
}
