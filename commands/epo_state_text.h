// The text shown for the receiver's EPO (assisted-GPS) data: none, or how long the data it
// holds stays valid, computed from the GPS weeks and times of week in its PMTK707 reply.
// The present moment, the time zone and the date/time formats come in as values, so the
// result does not depend on the machine the tests run on.
//
// Dates are day serials: days since 1899-12-30, time of day as the fraction; serial 39775
// is Sunday 2008-11-23, the first day of GPS week 1507.
//
// Thread rule: pure apart from SystemEpoClock(), which reads the C library's clock and zone.
#pragma once

#include <ctime>
#include <functional>
#include <string>

#include "commands/pmtk_replies.h"

// The present moment as the validity rule sees it.
struct EpoClock {
  std::time_t now = 0;           // [s since 1970-01-01 UTC]
  long timezoneSecondsWest = 0;  // like POSIX `timezone`: local standard time, no DST
  long dstShiftSeconds = 0;      // added to local wall time while daylight saving is in force
};
// Now, with the zone of the process (TZ or the system setting, read with tzset).
EpoClock SystemEpoClock();

// Formats one broken-down time (tm_year since 1900 etc., no zone) as a date or a time text.
using EpoTimeFormatter = std::function<std::string(const std::tm&)>;
struct EpoTextFormat {
  EpoTimeFormatter date;  // the user's short date format in the window
  EpoTimeFormatter time;  // the user's long time format in the window
};
// "%Y-%m-%d" and "%H:%M:%S": for front ends without a locale of their own.
EpoTextFormat IsoEpoTextFormat();

inline constexpr std::string_view kNoEpoDataText = "NO EPO Data!";

struct EpoRemaining {
  int days = 0;   // never negative
  int hours = 0;  // never negative
};
// Remaining validity of the data: 0 days 0 hours when the data lies wholly in the past.
EpoRemaining EpoRemainingValidity(const PmtkEpoState& reply, const EpoClock& clock);

// GPS week and time of week -> day serial in GPS time (no zone shift, no leap seconds).
double GpsTimeToDaySerial(long week, float towSec);
// Day serial -> broken-down time, rounded to the millisecond first so that a whole second
// held inexactly is not shown one second early.
std::tm DaySerialToTm(double daySerial);

// The label text: kNoEpoDataText, "Remained %d Days %d Hours." for a complete set ("28" or
// "56"), or the incomplete-set text with the data's start and end. The fixed parts are
// ASCII; the formatter's output is inserted as it comes.
std::string EpoStateText(const PmtkEpoState& reply, const EpoClock& clock, const EpoTextFormat& format);
