// Parsers for the position, time and satellite sentences, and their helpers.
// The texts are built in small stack buffers and assigned whole, so a parser never leaves a
// half-written text behind and allocates nothing for texts short enough for the string's own
// storage (every coordinate, date, time and speed text is).
//
// Thread rule: pure functions; the date and time conversion reads the C library's time zone.
#include "link/nmea_parsers.h"

#include <time.h>
#include <array>
#include <charconv>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "link/field_text.h"

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Appends the decimal digits of v (v >= 0) at out; returns the position behind them.
char* AppendDecimal(char* out, std::int64_t v) {
  char digits[24];
  int n = 0;
  do {
    digits[n++] = static_cast<char>('0' + v % 10);
    v /= 10;
  } while (v > 0);
  while (n > 0) *out++ = digits[--n];
  return out;
}

// Two digits with a leading "0" below 10; larger values are written whole.
char* AppendTwoDigits(char* out, std::int64_t v) {
  if (v >= 0 && v <= 9) *out++ = '0';
  return AppendDecimal(out, v);
}

// "%4d" and "%02d" for the date and time texts; values are non-negative after mktime.
char* AppendPadded(char* out, int v, int width, char pad) {
  // What nearly every call writes, a two-digit field or a four-digit year, goes straight out.
  if (width == 2 && pad == '0' && v >= 0 && v <= 99) {
    out[0] = static_cast<char>('0' + v / 10);
    out[1] = static_cast<char>('0' + v % 10);
    return out + 2;
  }
  if (width == 4 && v >= 1000 && v <= 9999) {
    out[0] = static_cast<char>('0' + v / 1000);
    out[1] = static_cast<char>('0' + v / 100 % 10);
    out[2] = static_cast<char>('0' + v / 10 % 10);
    out[3] = static_cast<char>('0' + v % 10);
    return out + 4;
  }
  char digits[16];
  int n = 0;
  const bool negative = v < 0;
  unsigned u = negative ? 0u - static_cast<unsigned>(v) : static_cast<unsigned>(v);
  do {
    digits[n++] = static_cast<char>('0' + u % 10);
    u /= 10;
  } while (u > 0);
  int len = n + (negative ? 1 : 0);
  if (pad == ' ') {
    for (; len < width; ++len) *out++ = ' ';
    if (negative) *out++ = '-';
  } else {
    if (negative) *out++ = '-';
    for (; len < width; ++len) *out++ = '0';
  }
  while (n > 0) *out++ = digits[--n];
  return out;
}

enum class Axis { Latitude, Longitude };

// The coordinate's text into text, written whole; false, and text untouched, when the value
// cannot be converted.
bool WriteCoordinate(std::string& text, std::string_view value, std::string_view hemisphere, Axis axis) {
  double x = 0.0;
  if (IsPlainNumber(value)) {
    const std::optional<double> parsed = ParseCoordinate(value);
    if (!parsed) return false;
    x = *parsed;
  }
  constexpr long double kSixtieth = 1.0L / 60.0L;
  // Degrees are the hundreds of the whole part; the rest are minutes.
  const std::int64_t degrees = static_cast<std::int64_t>(x) / 100;
  const double g =
      static_cast<double>(static_cast<long double>(degrees) +
                          (static_cast<long double>(x) - 100.0L * static_cast<long double>(degrees)) * kSixtieth);
  const std::int64_t n = static_cast<std::int64_t>(g);
  const long double fraction = static_cast<long double>(g) - static_cast<long double>(n);
  const std::int64_t minutes = static_cast<std::int64_t>(fraction * 60.0L);
  const double e = static_cast<double>(fraction * 60.0L);
  const std::int64_t f = static_cast<std::int64_t>(e);
  const double t = static_cast<double>((static_cast<long double>(e) - static_cast<long double>(f)) * 60.0L);
  const std::int64_t seconds = static_cast<std::int64_t>(t);
  const std::int64_t hundredths =
      static_cast<std::int64_t>((static_cast<long double>(t) - static_cast<long double>(seconds)) * 100.0L);

  // Degrees, then the degree sign at character 3 (latitude) or 4 (longitude), or behind a
  // shorter number.
  char degreeText[32];
  char* const degreeEnd = AppendDecimal(degreeText, n);
  const std::size_t degreeLen = static_cast<std::size_t>(degreeEnd - degreeText);
  const std::size_t signAt = std::min<std::size_t>(axis == Axis::Latitude ? 2 : 3, degreeLen);

  char rest[32];
  char* p = rest;
  p = AppendTwoDigits(p, minutes);
  *p++ = '\'';
  p = AppendTwoDigits(p, seconds);
  *p++ = '.';
  p = AppendTwoDigits(p, hundredths);
  *p++ = '"';

  // Laid out on the stack and assigned once; a hemisphere field too long for that is
  // appended piece by piece.
  const std::size_t restLen = static_cast<std::size_t>(p - rest);
  char whole[128];
  if (hemisphere.size() + 2 + degreeLen + restLen > sizeof whole) {
    std::string built;
    built.reserve(hemisphere.size() + 2 + degreeLen + restLen);
    built.append(hemisphere).append(1, ' ').append(degreeText, signAt).append(1, '\xB0');
    built.append(degreeText + signAt, degreeLen - signAt).append(rest, restLen);
    text = std::move(built);
    return true;
  }
  char* w = std::copy(hemisphere.begin(), hemisphere.end(), whole);
  *w++ = ' ';
  w = std::copy(degreeText, degreeText + signAt, w);
  *w++ = '\xB0';
  w = std::copy(degreeText + signAt, degreeEnd, w);
  w = std::copy(rest, p, w);
  text.assign(whole, static_cast<std::size_t>(w - whole));
  return true;
}

// What latText or lonText was last made from: the RMC of a second repeats its GGA's position,
// and the same fields make the same text, so they are only compared.
void SetCoordinate(std::string& text, CoordinateSource& source, std::string_view value, std::string_view hemisphere,
                   Axis axis) {
  if (source.known && SameText(source.value, value) && SameText(source.hemisphere, hemisphere)) return;
  if (!WriteCoordinate(text, value, hemisphere, axis)) return;  // the text and its source stay
  source.known = false;                                         // until the source below describes the new text
  SetText(source.value, value);
  SetText(source.hemisphere, hemisphere);
  source.known = true;
}

std::optional<std::string> FormatCoordinate(std::string_view value, std::string_view hemisphere, Axis axis) {
  std::string text;
  if (!WriteCoordinate(text, value, hemisphere, axis)) return std::nullopt;
  return text;
}

// One part of RMC's time or date field: the characters at pos and pos+1 (fewer when the field
// ends), all digits and at least one.
bool TwoDigitPart(std::string_view field, std::size_t pos, int& out) {
  if (pos >= field.size()) return false;
  const std::string_view part = field.substr(pos, 2);
  int v = 0;
  for (char c : part) {
    if (!IsDigit(c)) return false;
    v = v * 10 + (c - '0');
  }
  out = v;
  return true;
}

// SpeedTextOf's text into text, laid out on the stack and set once; a speed that reads as
// before leaves the text alone.
void WriteSpeedText(std::string& text, std::string_view value, char unit) {
  constexpr std::string_view kUnit = " km/h";
  char out[64];
  std::size_t len = 0;
  if (unit == 'N') {
    const double kmh = StrtodOf(value) * 1.852;
    char digits[64];
    const std::to_chars_result r = std::to_chars(digits, digits + sizeof digits, kmh, std::chars_format::general, 15);
    len = r.ec == std::errc{} ? std::min<std::size_t>(static_cast<std::size_t>(r.ptr - digits), 5) : 0;
    std::copy(digits, digits + len, out);
  } else if (value.size() + kUnit.size() <= sizeof out) {
    len = value.size();
    std::copy(value.begin(), value.end(), out);
  } else {
    std::string built;
    built.reserve(value.size() + kUnit.size());
    built.append(value).append(kUnit);
    text = std::move(built);
    return;
  }
  std::copy(kUnit.begin(), kUnit.end(), out + len);
  SetText(text, std::string_view(out, len + kUnit.size()));
}

// One RMC a second needs the local time of "now", mktime and the time-zone offset. Done
// plainly, each of tzset and mktime re-reads the time-zone settings (with TZ unset, a stat of
// /etc/localtime per call): that, not the arithmetic, dominated the whole pipeline. This
// keeps the results of tzset + localtime + mktime while asking for the time-zone settings
// only when "now" or the TZ variable changes, and answering mktime from the last offset when
// localtime_r confirms the answer; anything it cannot confirm goes to mktime itself.
class LocalClock {
 public:
  // localtime(now), with the time-zone settings refreshed as tzset would.
  bool localNow(std::time_t now, std::tm& out) {
    const char* tz = std::getenv("TZ");
    const bool tzChanged = (tz != nullptr) != tzSet_ || (tz != nullptr && tzText_ != tz);
    if (!queried_ || now != queriedAt_ || tzChanged) {
      tzset();
      queried_ = true;
      queriedAt_ = now;
      tzSet_ = tz != nullptr;
      tzText_ = tz != nullptr ? tz : "";
      nowValid_ = localtime_r(&now, &now_) != nullptr;
    }
    out = now_;
    return nowValid_;
  }

  // mktime(&t) for a broken-down time whose tm_isdst is 0 or 1. The remembered offsets are
  // only guesses, checked against the current rules, so they survive a change of zone.
  std::time_t makeTime(std::tm t) {
    const int hint = t.tm_isdst > 0 ? 1 : 0;
    // The fields as a count of seconds, normalised the way mktime normalises them.
    const std::int64_t years = static_cast<std::int64_t>(t.tm_year) + 1900 + FloorDiv(t.tm_mon, 12);
    const int mon = t.tm_mon - 12 * static_cast<int>(FloorDiv(t.tm_mon, 12));
    const std::int64_t days = DaysFromCivil(years, mon + 1, 1) + t.tm_mday - 1;
    const std::int64_t fields = days * 86400 + t.tm_hour * 3600 + t.tm_min * 60 + t.tm_sec;
    if (offsetKnown_[hint]) {
      const std::time_t guess = static_cast<std::time_t>(fields - offset_[hint]);
      std::tm check{};
      if (localtime_r(&guess, &check) != nullptr && check.tm_isdst == hint && SecondsOf(check) == fields) {
        return guess;
      }
    }
    const std::time_t exact = mktime(&t);
    if (exact != static_cast<std::time_t>(-1)) {
      offset_[hint] = fields - static_cast<std::int64_t>(exact);
      offsetKnown_[hint] = true;
    }
    return exact;
  }

 private:
  static std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
    return a / b - ((a % b != 0 && (a < 0) != (b < 0)) ? 1 : 0);
  }
  // Days since 1970-01-01 of a proleptic Gregorian date (H. Hinnant's algorithm).
  static std::int64_t DaysFromCivil(std::int64_t y, int m, int d) {
    y -= m <= 2 ? 1 : 0;
    const std::int64_t era = FloorDiv(y, 400);
    const std::int64_t yoe = y - era * 400;
    const std::int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
  }
  static std::int64_t SecondsOf(const std::tm& t) {
    const std::int64_t days = DaysFromCivil(static_cast<std::int64_t>(t.tm_year) + 1900, t.tm_mon + 1, t.tm_mday);
    return days * 86400 + t.tm_hour * 3600 + t.tm_min * 60 + t.tm_sec;
  }

  bool queried_ = false;
  std::time_t queriedAt_ = 0;
  bool tzSet_ = false;
  std::string tzText_;
  std::tm now_{};
  bool nowValid_ = false;
  std::int64_t offset_[2] = {0, 0};
  bool offsetKnown_[2] = {false, false};
};

LocalClock& ThreadClock() {
  thread_local LocalClock clock;
  return clock;
}

}  // namespace

bool IsPlainNumber(std::string_view text) {
  int dots = 0;
  for (char c : text) {
    if (c == '.') {
      if (++dots > 1) return false;
    } else if (!IsDigit(c)) {
      return false;
    }
  }
  return true;
}

std::optional<double> ParseCoordinate(std::string_view text) {
  const std::size_t dot = text.find('.');
  if (dot == std::string_view::npos) return 0.0;
  const std::string_view whole = text.substr(0, dot);
  if (whole.empty()) return std::nullopt;
  std::int64_t integer = 0;
  for (char c : whole) {
    if (!IsDigit(c)) return std::nullopt;
    integer = integer * 10 + (c - '0');
    if (integer > INT32_MAX) return std::nullopt;
  }
  constexpr double kTenth = 0.1;
  double value = static_cast<double>(integer);
  double weight = kTenth;
  for (char c : text.substr(dot + 1)) {
    if (!IsDigit(c)) return std::nullopt;
    value = static_cast<double>(static_cast<long double>(value) +
                                static_cast<long double>(c - '0') * static_cast<long double>(weight));
    weight = static_cast<double>(static_cast<long double>(weight) * static_cast<long double>(kTenth));
  }
  return value;
}

std::optional<std::string> FormatLatitude(std::string_view value, std::string_view hemisphere) {
  return FormatCoordinate(value, hemisphere, Axis::Latitude);
}

std::optional<std::string> FormatLongitude(std::string_view value, std::string_view hemisphere) {
  return FormatCoordinate(value, hemisphere, Axis::Longitude);
}

std::string SpeedTextOf(std::string_view value, char unit) {
  std::string text;
  WriteSpeedText(text, value, unit);
  return text;
}

bool UpdateDateTime(std::string_view timeField, std::string_view dateField, std::time_t now, Display_SatInfo_st& info) {
  int hour = 0, minute = 0, second = 0, day = 0, month = 0, year = 0;
  if (!TwoDigitPart(timeField, 0, hour) || !TwoDigitPart(timeField, 2, minute) || !TwoDigitPart(timeField, 4, second) ||
      !TwoDigitPart(dateField, 0, day) || !TwoDigitPart(dateField, 2, month) || !TwoDigitPart(dateField, 4, year)) {
    return false;
  }
  LocalClock& clock = ThreadClock();
  std::tm broken{};
  if (!clock.localNow(now, broken)) return false;
  broken.tm_year = year + 100;
  broken.tm_mon = month - 1;
  broken.tm_mday = day;
  broken.tm_hour = hour;
  broken.tm_min = minute;
  broken.tm_sec = second;
  if (broken.tm_year > 138) broken.tm_year = 130;  // keeps the result within 32-bit time
  const std::time_t local = clock.makeTime(broken) - ::timezone;
  std::tm shown{};
  if (localtime_r(&local, &shown) == nullptr) return false;

  char date[32];
  char* p = AppendPadded(date, shown.tm_year + 1900, 4, ' ');
  *p++ = '/';
  p = AppendPadded(p, shown.tm_mon + 1, 2, '0');
  *p++ = '/';
  p = AppendPadded(p, shown.tm_mday, 2, '0');
  char time[32];
  char* q = AppendPadded(time, shown.tm_hour, 2, '0');
  *q++ = ':';
  q = AppendPadded(q, shown.tm_min, 2, '0');
  *q++ = ':';
  q = AppendPadded(q, shown.tm_sec, 2, '0');
  info.dateText.assign(date, static_cast<std::size_t>(p - date));
  info.timeText.assign(time, static_cast<std::size_t>(q - time));
  return true;
}

std::string_view FixModeName(std::string_view fixType) {
  switch (AtolOf(fixType)) {
    case 2: return "2D";
    case 3: return "3D";
    default: return "No Fix";
  }
}

std::string CopyFieldText(std::string_view field) { return std::string(field); }

// $GPGGA,142901.000,4048.6362,N,07418.5457,W,1,05,1.42,179.5,M,-34.2,M,,*51
//  1 UTC time hhmmss.sss (not read)   2 latitude ddmm.mmmm   3 N or S   4 longitude dddmm.mmmm
//  5 E or W   6 fix quality (not read)   7 satellites used (not read)   8 HDOP (not read)
//  9 altitude above mean sea level, shown as received   10 its unit, M   11-14 (not read)
void ParseGGA(const SentenceFields& fields, ReceiverState& state) {
  Display_SatInfo_st& info = state.satInfo;
  SetCoordinate(info.latText, state.latSource, fields[2], fields[3], Axis::Latitude);
  SetCoordinate(info.lonText, state.lonSource, fields[4], fields[5], Axis::Longitude);
  SetText(info.altitudeText, fields[9]);
}

// $GNGLL,5230.88855,N,01327.85591,E,181141.00,A,A*70
//  1 latitude ddmm.mmmm   2 N or S   3 longitude dddmm.mmmm   4 E or W
//  5 UTC time (not read)   6 status A valid, V not (not read)   7 mode (NMEA 2.3 on; not read)
void ParseGLL(const SentenceFields& fields, ReceiverState& state) {
  Display_SatInfo_st& info = state.satInfo;
  SetCoordinate(info.latText, state.latSource, fields[1], fields[2], Axis::Latitude);
  SetCoordinate(info.lonText, state.lonSource, fields[3], fields[4], Axis::Longitude);
}

// $GPRMC,142901.000,A,4048.6362,N,07418.5457,W,0.32,240.83,141219,,,A*71
//  1 UTC time hhmmss.sss   2 status A valid, V not (not read)   3 latitude ddmm.mmmm   4 N or S
//  5 longitude dddmm.mmmm   6 E or W   7 speed over ground [knots]   8 course [deg] (not read)
//  9 UTC date ddmmyy   10-11 magnetic variation (not read)   12 mode (NMEA 2.3 on; not read)
void ParseRMC(const SentenceFields& fields, ReceiverState& state, std::time_t now) {
  Display_SatInfo_st& info = state.satInfo;
  SetCoordinate(info.latText, state.latSource, fields[3], fields[4], Axis::Latitude);
  SetCoordinate(info.lonText, state.lonSource, fields[5], fields[6], Axis::Longitude);
  WriteSpeedText(info.speedText, fields[7], 'N');
  UpdateDateTime(fields[1], fields[9], now, info);
}

// $GPVTG,240.83,T,,M,0.32,N,0.59,K,A*3D
//  1 course true [deg]   2 T   3 course magnetic   4 M   5 speed [knots]   6 N (1-6 not read)
//  7 speed [km/h], shown as received   8 K   9 mode (NMEA 2.3 on; not read)
void ParseVTG(const SentenceFields& fields, ReceiverState& state) {
  WriteSpeedText(state.satInfo.speedText, fields[7], 'K');
}

// $GPZDA,120213.000,31,07,2022,+00,00*79
//  1 UTC time hhmmss.sss   2 day   3 month   4 year   5 local zone hours   6 its minutes
void ParseZDA(const SentenceFields&, ReceiverState&) {
  // ZDA's date and time are not shown; the sentence still counts as received.
}

// $GNGSA,A,3,02,07,14,15,17,20,22,30,,,,,1.5,0.9,1.2,1*3C
//  1 selection mode (not used)   2 fix type: 1 none, 2 2D, 3 3D
//  3-14 numbers of the satellites used in the fix   15 PDOP   16 HDOP   17 VDOP
//  18 system ID (NMEA 4.10 on): 1 GPS, 2 GLONASS, 3 Galileo, 4 BeiDou, 5 QZSS, 6 NavIC
// A multi-system receiver sends one GSA per system; each replaces only its own system's list.
void ParseGSA(const SentenceFields& fields, ReceiverState& state) {
  Display_SatInfo_st& info = state.satInfo;
  SetText(info.fixModeText, FixModeName(fields[2]));
  SetText(info.pdopText, fields[15]);
  SetText(info.hdopText, fields[16]);
  SetText(info.vdopText, fields[17]);
  SetText(state.lastFixMode, info.fixModeText);

  SatelliteTables& sats = state.satellites;
  std::optional<GnssSystem> named = SystemOfId(AtolOf(fields[18]));
  if (!named) named = SystemOfSource(SkySourceOf(fields[0]));
  if (named) {
    UsedSatellites& used = sats.usedOf(*named);
    used.clear();
    for (int i = 3; i <= 14; ++i) {
      if (!fields[i].empty()) used.add(fields[i]);
    }
    return;
  }
  // No system named: the numbers tell. Any number outside the ranges of the other systems
  // counts with GPS, which is all a single-system receiver has.
  std::array<GnssSystem, 12> groups{};
  std::array<bool, kGnssSystemCount> listed{};
  std::size_t systems = 0;
  for (int i = 0; i < 12; ++i) {
    const std::string_view prn = fields[3 + i];
    if (prn.empty()) continue;
    const std::optional<GnssSystem> system = SystemOfNumber(AtolOf(prn));
    const GnssSystem group = system && *system != GnssSystem::SBAS ? *system : GnssSystem::GPS;
    groups[static_cast<std::size_t>(i)] = group;
    bool& seen = listed[IndexOf(group)];
    if (!seen) ++systems;
    seen = true;
  }
  if (systems > 1) sats.combinedGsa = true;
  // Listing nothing without naming a system (no fix) clears every system's marks.
  if (systems == 0 || sats.combinedGsa) {
    sats.clearAllUsed();
  } else {
    for (std::size_t k = 0; k < kGnssSystemCount; ++k) {
      if (listed[k]) sats.usedOf(static_cast<GnssSystem>(k)).clear();
    }
  }
  for (int i = 0; i < 12; ++i) {
    const std::string_view prn = fields[3 + i];
    if (!prn.empty()) sats.usedOf(groups[static_cast<std::size_t>(i)]).add(prn);
  }
}

// $GLGSV,3,1,10,69,22,029,34,70,52,093,27,71,27,157,25,76,25,257,21*68
//  1 messages in the cycle   2 this message   3 satellites in view (not used)
//  4-7, 8-11, 12-15, 16-19: up to four satellites, each number, elevation [deg],
//  azimuth [deg], SNR [dB-Hz] (may be empty)
//  after the last satellite (NMEA 4.10 on): a one-character signal ID
// Each talker's cycle completes on its own; the talker names the system, or for GP, GN and
// other talkers the number ranges do.
void ParseGSV(const SentenceFields& fields, ReceiverState& state) {
  const long count = AtolOf(fields[1]);
  const long number = AtolOf(fields[2]);
  const SkySource source = SkySourceOf(fields[0]);
  const std::optional<GnssSystem> talkerSystem = SystemOfSource(source);
  // A lone field after the last whole satellite is the signal ID, not a satellite number.
  int end = 20;
  const int after = fields.count() - 4;
  if (after >= 1 && after < 16 && after % 4 == 1 && fields[fields.count() - 1].size() == 1) end = fields.count() - 1;
  for (int group = 4; group <= 16 && group < end; group += 4) {
    const long prn = AtolOf(fields[group]);
    if (prn < 1) continue;  // PRN 0, empty or missing group
    const std::optional<GnssSystem> system = talkerSystem ? talkerSystem : SystemOfNumber(prn);
    if (!system) continue;  // a number no system of these talkers uses
    state.satellites.report(source, *system, prn, fields[group], fields[group + 1], fields[group + 2],
                            fields[group + 3]);
  }
  if (number == count) {
    state.satellites.completeCycle(source);
    state.gsvCycleComplete = true;
  }
}
