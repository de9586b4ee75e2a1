#include "report/log_survey.h"

#include <fcntl.h>
#include <unistd.h>
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "link/nmea_parsers.h"
#include "link/nmea_sentence.h"
#include "link/receiver_state.h"
#include "report/local_tangent_plane.h"
#include "report/report_numbers.h"
#include "report/scatter_statistics.h"

namespace {

constexpr double kDay = 86400.0;
constexpr long kRolloverDays = 1024L * 7L;  // the GPS week number's ten bits
constexpr std::size_t kMaxStarts = 100;
constexpr std::size_t kStripKeys = kGnssSystemCount * 1024;

std::optional<double> NumberOf(std::string_view text) {
  if (text.empty()) return std::nullopt;
  double value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc{} || end != text.data() + text.size() || !std::isfinite(value)) return std::nullopt;
  return value;
}

// "4048.6362" with "N" -> 40.81060333; nothing unless the minutes are below 60 and the result
// lies on the earth.
std::optional<double> DegreesOf(std::string_view value, std::string_view hemisphere, double limit) {
  const std::optional<double> v = NumberOf(value);
  if (!v || *v < 0 || hemisphere.size() != 1) return std::nullopt;
  const double degrees = std::floor(*v / 100.0);
  const double minutes = *v - degrees * 100.0;
  if (minutes >= 60.0) return std::nullopt;
  double result = degrees + minutes / 60.0;
  if (result > limit) return std::nullopt;
  const char h = hemisphere[0];
  if (h == 'S' || h == 'W') {
    result = -result;
  } else if (h != 'N' && h != 'E') {
    return std::nullopt;
  }
  return result;
}

bool TwoDigits(std::string_view text, std::size_t at, int& value) {
  if (text.size() < at + 2) return false;
  const char a = text[at], b = text[at + 1];
  if (a < '0' || a > '9' || b < '0' || b > '9') return false;
  value = (a - '0') * 10 + (b - '0');
  return true;
}

// "142901.000" -> seconds of the day.
std::optional<double> TimeOfDayOf(std::string_view text) {
  int h = 0, m = 0, s = 0;
  if (!TwoDigits(text, 0, h) || !TwoDigits(text, 2, m) || !TwoDigits(text, 4, s)) return std::nullopt;
  if (h > 23 || m > 59 || s > 60) return std::nullopt;
  double fraction = 0;
  if (text.size() > 6) {
    if (text[6] != '.') return std::nullopt;
    const std::optional<double> f = NumberOf(text.substr(6));
    if (!f) return std::nullopt;
    fraction = *f;
  }
  return h * 3600.0 + m * 60.0 + s + fraction;
}

// Days since 1970-01-01 of a civil date.
long DaysOfCivil(long y, int m, int d) {
  y -= m <= 2 ? 1 : 0;
  const long era = (y >= 0 ? y : y - 399) / 400;
  const long yoe = y - era * 400;
  const long doy = (153L * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

void CivilOfDays(long z, long& y, int& m, int& d) {
  z += 719468;
  const long era = (z >= 0 ? z : z - 146096) / 146097;
  const long doe = z - era * 146097;
  const long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const long mp = (5 * doy + 2) / 153;
  d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  y = yoe + era * 400 + (m <= 2 ? 1 : 0);
}

bool ValidDate(long y, int m, int d) { return y >= 1980 && m >= 1 && m <= 12 && d >= 1 && d <= 31; }

// RMC's "141219": two-digit years from 80 on are the 1900s, as NMEA has them.
std::optional<long> DayOfRmcDate(std::string_view text) {
  int d = 0, m = 0, y = 0;
  if (text.size() != 6 || !TwoDigits(text, 0, d) || !TwoDigits(text, 2, m) || !TwoDigits(text, 4, y))
    return std::nullopt;
  const long year = y >= 80 ? 1900 + y : 2000 + y;
  if (!ValidDate(year, m, d)) return std::nullopt;
  return DaysOfCivil(year, m, d);
}

std::optional<long> DayOfZda(std::string_view day, std::string_view month, std::string_view year) {
  int d = 0, m = 0;
  const std::optional<double> y = NumberOf(year);
  if (day.size() != 2 || month.size() != 2 || !TwoDigits(day, 0, d) || !TwoDigits(month, 0, m) || !y)
    return std::nullopt;
  const long whole = static_cast<long>(*y);
  if (!ValidDate(whole, m, d) || whole > 9999) return std::nullopt;
  return DaysOfCivil(whole, m, d);
}

std::string ClockText(double secondsOfDay) {
  const long whole = static_cast<long>(std::floor(secondsOfDay)) % 86400;
  char text[16];
  std::snprintf(text, sizeof text, "%02ld:%02ld:%02ld", whole / 3600, (whole % 3600) / 60, whole % 60);
  return text;
}

std::string UtcText(double utc) {
  const double days = std::floor(utc / kDay);
  long y = 0;
  int m = 0, d = 0;
  CivilOfDays(static_cast<long>(days), y, m, d);
  char text[32];
  std::snprintf(text, sizeof text, "%04ld-%02d-%02d ", y, m, d);
  return text + ClockText(utc - days * kDay) + " UTC";
}

std::string CountText(std::uint64_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

// What one epoch said: the GGA, RMC, GSA and GSV of one time of day.
struct Epoch {
  bool any = false;
  bool hasGga = false, hasRmc = false, hasGsa = false;
  std::array<char, 16> timeText{};
  std::size_t timeLength = 0;
  std::optional<double> timeOfDay;
  int quality = -1;
  long ggaSatellites = -1;
  std::optional<double> ggaLat, ggaLon, altitude, separation;
  char rmcStatus = 0;
  std::optional<double> rmcLat, rmcLon;
  std::optional<long> day;
  long gsaMode = 0;
  std::optional<double> pdop, hdop, vdop;

  bool sameTime(std::string_view t) const {
    return t.size() == timeLength && std::memcmp(t.data(), timeText.data(), timeLength) == 0;
  }
  void setTime(std::string_view t) {
    timeLength = std::min(t.size(), timeText.size());
    std::memcpy(timeText.data(), t.data(), timeLength);
    timeOfDay = TimeOfDayOf(t);
  }
};

FixKind KindOf(const Epoch& e) {
  const FixKind byGsa = e.gsaMode == 2 ? FixKind::Fix2D : e.gsaMode == 3 ? FixKind::Fix3D : FixKind::None;
  if (e.hasGga) {
    const int q = e.quality;
    if (q == 2 || q == 4 || q == 5) return FixKind::DGPS;
    if (q != 1 && q != 3) return FixKind::None;  // 0 none, 6 estimated, 7 manual, 8 simulated
    if (byGsa != FixKind::None) return byGsa;
    return e.ggaSatellites >= 4 ? FixKind::Fix3D : FixKind::Fix2D;
  }
  if (e.hasRmc && e.rmcStatus == 'A') return byGsa != FixKind::None ? byGsa : FixKind::Fix2D;
  return FixKind::None;
}

void MergeColumns(SeriesColumn& into, const SeriesColumn& from) {
  if (from.altitudes > 0) {
    into.altitudeMin = into.altitudes > 0 ? std::min(into.altitudeMin, from.altitudeMin) : from.altitudeMin;
    into.altitudeMax = into.altitudes > 0 ? std::max(into.altitudeMax, from.altitudeMax) : from.altitudeMax;
  }
  into.epochs += from.epochs;
  into.fixes += from.fixes;
  into.altitudeSum += from.altitudeSum;
  into.altitudes += from.altitudes;
  into.pdopSum += from.pdopSum;
  into.hdopSum += from.hdopSum;
  into.vdopSum += from.vdopSum;
  into.pdops += from.pdops;
  into.hdops += from.hdops;
  into.vdops += from.vdops;
  into.inViewSum += from.inViewSum;
  into.usedSum += from.usedSum;
  into.skyEpochs += from.skyEpochs;
  into.inViewMax = std::max(into.inViewMax, from.inViewMax);
  into.usedMax = std::max(into.usedMax, from.usedMax);
}

void MergeCells(SignalCell& into, const SignalCell& from) {
  into.snrSum += from.snrSum;
  into.reports += from.reports;
  into.signals += from.signals;
  into.used += from.used;
}

template <typename T, typename Merge>
void HalveInPairs(std::vector<T>& v, Merge merge) {
  const std::size_t halves = (v.size() + 1) / 2;
  for (std::size_t k = 0; k < halves; ++k) {
    T joined = v[2 * k];
    if (2 * k + 1 < v.size()) merge(joined, v[2 * k + 1]);
    v[k] = joined;
  }
  v.resize(halves);
}

}  // namespace

struct LogSurvey::State {
  SentenceCutter cutter;
  SentenceFields fields;
  ReceiverState sky;  // the satellite tables, filled by the window's own GSV and GSA parsers
  Survey survey;
  Epoch epoch;

  // The time axis.
  bool havePrevious = false;
  bool previousFix = false;
  std::optional<double> previousTime;
  double previousElapsed = 0;
  std::array<std::pair<long, std::uint64_t>, 16> steps{};  // [ms] -> how often, for the usual interval
  std::uint64_t backwards = 0, midnights = 0, clockJumps = 0;
  std::string firstBackwards, firstClockJump;

  // Dates: the latest one, and the weeks added since a rollover.
  std::optional<long> day;
  long rolloverCorrection = 0;
  std::uint64_t rollovers = 0;
  std::string firstRollover;
  std::optional<long> previousFixDay;
  std::optional<double> firstUtc, lastUtc;  // [s since 1970] of the first and last epoch
  double lastUtcElapsed = 0;
  std::optional<double> firstClock, lastClock;  // time of day of the first and last epoch at all
  bool anyDate = false;

  // The scatter.
  bool haveOrigin = false;
  Geodetic origin;
  double upSum = 0, heightSum = 0, altitudeSum = 0, altitudeSquares = 0;
  std::uint64_t heights = 0;

  bool restartPending = false;
  bool startsDropped = false;
  std::vector<std::int32_t> stripOf = std::vector<std::int32_t>(kStripKeys, -1);
  std::uint64_t skyEpochs = 0;
  std::uint64_t gsaEpochs = 0;
  std::uint64_t rmcOnlyFixes = 0;

  double usualStep() const {
    std::uint64_t best = 0;
    long ms = 0;
    for (const auto& [stepMs, count] : steps) {
      if (count > best || (count == best && count > 0 && stepMs < ms)) {
        best = count;
        ms = stepMs;
      }
    }
    return best > 0 ? static_cast<double>(ms) / 1000.0 : 0.0;
  }
  void countStep(double d) {
    const long ms = std::lround(d * 1000.0);
    for (auto& [stepMs, count] : steps) {
      if (count > 0 && stepMs == ms) {
        ++count;
        return;
      }
    }
    // A new step takes the place of the rarest one, so a few odd steps never crowd out the
    // usual one.
    auto rarest =
        std::min_element(steps.begin(), steps.end(), [](const auto& a, const auto& b) { return a.second < b.second; });
    *rarest = {ms, 1};
  }

  void sentence(std::string_view text);
  // A GGA or RMC of time t: it begins a new epoch unless the open one has the same time and
  // no sentence of its kind yet (`hasKind`).
  void enterEpoch(std::string_view t, bool hasKind) {
    if (epoch.any && (hasKind || !epoch.sameTime(t))) endEpoch();
    if (!epoch.any) {
      epoch.any = true;
      epoch.setTime(t);
    }
  }
  void endEpoch();
  double stepTo(const Epoch& e, bool fix);
  void addToSeries(const Epoch& e, FixKind kind, double elapsed);
  std::size_t columnFor(double elapsed);
  Survey finish();
};

LogSurvey::LogSurvey() : state_(std::make_unique<State>()) {}
LogSurvey::~LogSurvey() = default;

void LogSurvey::feed(const char* data, std::size_t size) {
  State& s = *state_;
  s.survey.sentences.bytes += size;
  s.cutter.feed(data, size, [&s](std::string_view sentence) { s.sentence(sentence); });
}

void LogSurvey::State::sentence(std::string_view text) {
  SentenceCounts& counts = survey.sentences;
  if (!VerifyChecksum(text)) {
    // One or two hex digits after the "*" make a checksum that failed; anything else never had
    // one, or lost it to a cut.
    const std::size_t star = text.find('*');
    const bool hasChecksum = star != std::string_view::npos && star + 1 < text.size() &&
                             std::isxdigit(static_cast<unsigned char>(text[star + 1]));
    if (hasChecksum) {
      ++counts.badChecksum;
    } else {
      ++counts.noChecksum;
    }
    return;
  }
  ++counts.valid;
  SplitFields(text, fields);
  const std::string_view address = fields[0];
  switch (RouteOf(address)) {
    case SentenceRoute::GGA: {
      ++counts.gga;
      enterEpoch(fields[1], epoch.hasGga);
      epoch.hasGga = true;
      epoch.ggaLat = DegreesOf(fields[2], fields[3], 90);
      epoch.ggaLon = DegreesOf(fields[4], fields[5], 180);
      epoch.quality = fields[6].empty() ? -1 : static_cast<int>(AtolOf(fields[6]));
      epoch.ggaSatellites = fields[7].empty() ? -1 : AtolOf(fields[7]);
      epoch.altitude = NumberOf(fields[9]);
      epoch.separation = NumberOf(fields[11]);
      break;
    }
    case SentenceRoute::RMC: {
      ++counts.rmc;
      enterEpoch(fields[1], epoch.hasRmc);
      epoch.hasRmc = true;
      epoch.rmcStatus = fields[2].size() == 1 ? fields[2][0] : '\0';
      epoch.rmcLat = DegreesOf(fields[3], fields[4], 90);
      epoch.rmcLon = DegreesOf(fields[5], fields[6], 180);
      if (const std::optional<long> d = DayOfRmcDate(fields[9])) epoch.day = d;
      break;
    }
    case SentenceRoute::ZDA:
      ++counts.other;
      if (const std::optional<long> d = DayOfZda(fields[2], fields[3], fields[4])) {
        // A ZDA of another second than the epoch's belongs to the next one; its date still
        // holds for the time of day it gives.
        if (!epoch.any || epoch.sameTime(fields[1])) {
          epoch.day = d;
        } else {
          day = *d + rolloverCorrection;
          anyDate = true;
        }
      }
      break;
    case SentenceRoute::GSA: {
      ++counts.gsa;
      ParseGSA(fields, sky);
      epoch.hasGsa = true;
      epoch.gsaMode = AtolOf(fields[2]);
      // A GSA of another system repeats the DOPs; an empty one (a receiver that puts them in
      // its first GSA only) does not clear them.
      if (const std::optional<double> v = NumberOf(fields[15])) epoch.pdop = v;
      if (const std::optional<double> v = NumberOf(fields[16])) epoch.hdop = v;
      if (const std::optional<double> v = NumberOf(fields[17])) epoch.vdop = v;
      break;
    }
    case SentenceRoute::GSV:
      ++counts.gsv;
      ParseGSV(fields, sky);
      break;
    case SentenceRoute::MtkReply:
      ++counts.other;
      if (address == "PMTK010" && fields[1] == "001") {
        // What came before the restart was the last epoch of the run before.
        if (epoch.any) endEpoch();
        restartPending = true;
      }
      break;
    default: ++counts.other; break;
  }
}

double LogSurvey::State::stepTo(const Epoch& e, bool fix) {
  const double usual = usualStep() > 0 ? usualStep() : 1.0;
  if (!havePrevious) return 0;
  if (!e.timeOfDay || !previousTime) return usual;
  double d = *e.timeOfDay - *previousTime;
  bool crossedMidnight = false;
  if (d < -kDay / 2) {
    d += kDay;
    crossedMidnight = true;
  } else if (d > kDay / 2) {
    d -= kDay;  // back across midnight: a step back, told below
  }
  if (fix && previousFix) {
    if (crossedMidnight) ++midnights;
    if (d < 0) {
      if (backwards++ == 0) {
        firstBackwards = "at " + SecondsFigure(previousElapsed) + " s from the start: from " +
                         ClockText(*previousTime) + " to " + ClockText(*e.timeOfDay);
      }
      return 0;
    }
    if (d > 0 && d <= 10) countStep(d);
    const double gapFrom = std::max(2.5 * usual, 2.5);
    if (d > gapFrom) {
      ++survey.gapCount;
      survey.gapTotal += d;
      if (survey.gaps.size() < kMaxListedGaps) survey.gaps.push_back({previousElapsed, d, ClockText(*previousTime)});
    }
    return d;
  }
  if (d > 0 && d <= 2 * usual) return d;
  if (clockJumps++ == 0) firstClockJump = "from " + ClockText(*previousTime) + " to " + ClockText(*e.timeOfDay);
  return usual;
}

std::size_t LogSurvey::State::columnFor(double elapsed) {
  std::size_t index = static_cast<std::size_t>(elapsed / survey.columnWidth);
  while (index >= kMaxColumns) {
    HalveInPairs(survey.columns, MergeColumns);
    for (SatelliteStrip& strip : survey.strips) HalveInPairs(strip.cells, MergeCells);
    survey.columnWidth *= 2;
    index = static_cast<std::size_t>(elapsed / survey.columnWidth);
  }
  if (survey.columns.size() <= index) survey.columns.resize(index + 1);
  return index;
}

void LogSurvey::State::addToSeries(const Epoch& e, FixKind kind, double elapsed) {
  const std::size_t k = columnFor(elapsed);
  SeriesColumn& c = survey.columns[k];
  ++c.epochs;
  const bool fix = kind != FixKind::None;
  if (fix) {
    ++c.fixes;
    // Without a fix the receiver puts out placeholders (99.99 DOPs, a default altitude):
    // only fixes are drawn.
    if (e.hasGga && e.altitude) {
      const float a = static_cast<float>(*e.altitude);
      c.altitudeMin = c.altitudes > 0 ? std::min(c.altitudeMin, a) : a;
      c.altitudeMax = c.altitudes > 0 ? std::max(c.altitudeMax, a) : a;
      c.altitudeSum += *e.altitude;
      ++c.altitudes;
    }
    if (e.pdop) c.pdopSum += *e.pdop, ++c.pdops;
    if (e.hdop) c.hdopSum += *e.hdop, ++c.hdops;
    if (e.vdop) c.vdopSum += *e.vdop, ++c.vdops;
  }
  const SatelliteTables& tables = sky.satellites;
  if (tables.shownCount() == 0) return;
  ++skyEpochs;
  std::uint16_t inView = 0, used = 0;
  tables.forEachShown([&](const SatelliteReport& sat) {
    ++inView;
    const std::size_t key = IndexOf(sat.system) * 1024 + static_cast<std::size_t>(sat.number);
    if (sat.number < 0 || sat.number >= 1024) return;
    std::int32_t& slot = stripOf[key];
    if (slot < 0) {
      slot = static_cast<std::int32_t>(survey.strips.size());
      survey.strips.push_back({sat.system, sat.number, {}});
    }
    SatelliteStrip& strip = survey.strips[static_cast<std::size_t>(slot)];
    if (strip.cells.size() <= k) strip.cells.resize(survey.columns.size());
    SignalCell& cell = strip.cells[k];
    ++cell.reports;
    if (const std::optional<double> snr = NumberOf(sat.snr)) {
      cell.snrSum += static_cast<float>(*snr);
      ++cell.signals;
    }
    if (tables.isUsed(sat.system, sat.prn)) {
      ++cell.used;
      ++used;
    }
  });
  ++c.skyEpochs;
  c.inViewSum += inView;
  c.usedSum += used;
  c.inViewMax = std::max(c.inViewMax, inView);
  c.usedMax = std::max(c.usedMax, used);
}

void LogSurvey::State::endEpoch() {
  Epoch e = epoch;
  epoch = Epoch{};
  ++survey.epochs;
  if (e.hasGsa) ++gsaEpochs;
  const FixKind kind = KindOf(e);
  const bool fix = kind != FixKind::None;
  ++survey.fixesByKind[IndexOf(kind)];

  const double elapsed = previousElapsed + stepTo(e, fix);

  // Dates, and the rollover of the week number: a date that falls back by 1024 weeks between
  // two fixes is the receiver's, not the world's.
  if (e.day) {
    long d = *e.day + rolloverCorrection;
    if (fix && previousFixDay && d - *previousFixDay <= -kRolloverDays + 2 &&
        d - *previousFixDay >= -kRolloverDays - 2) {
      rolloverCorrection += kRolloverDays;
      d += kRolloverDays;
      if (rollovers++ == 0) firstRollover = "at " + SecondsFigure(elapsed) + " s from the start";
    }
    day = d;
    anyDate = true;
  }
  if (e.timeOfDay) {
    if (!firstClock) firstClock = e.timeOfDay;
    lastClock = e.timeOfDay;
  }
  if (fix && e.timeOfDay && day) {
    previousFixDay = day;
    const double utc = static_cast<double>(*day) * kDay + *e.timeOfDay;
    if (!firstUtc) firstUtc = utc - elapsed;
    lastUtc = utc;
    lastUtcElapsed = elapsed;
  }

  // Starts and the time to fix from each.
  if (survey.starts.empty() || restartPending) {
    if (survey.starts.size() < kMaxStarts) {
      survey.starts.push_back({elapsed, survey.starts.empty() ? "first sentence" : "restart ($PMTK010,001)", {}, {}});
    } else {
      startsDropped = true;
    }
    restartPending = false;
  }
  if (fix && !survey.starts.empty()) {
    StartToFix& start = survey.starts.back();
    if (!start.to2D) start.to2D = elapsed - start.elapsed;
    if (!start.to3D && (kind == FixKind::Fix3D || kind == FixKind::DGPS)) start.to3D = elapsed - start.elapsed;
  }

  // The position.
  const std::optional<double> lat = e.hasGga ? e.ggaLat : e.rmcLat;
  const std::optional<double> lon = e.hasGga ? e.ggaLon : e.rmcLon;
  if (lat && lon) {
    const double altitude = e.altitude.value_or(0);
    const Geodetic here{*lat, *lon, altitude + e.separation.value_or(0)};
    if (fix) {
      if (!e.hasGga) ++rmcOnlyFixes;
      if (!haveOrigin) {
        origin = here;
        haveOrigin = true;
      }
      const Enu enu = EnuOf(origin, here);
      survey.points.push_back({static_cast<float>(enu.east), static_cast<float>(enu.north), kind});
      upSum += enu.up;
      if (e.altitude) {
        heightSum += here.height;
        altitudeSum += altitude;
        altitudeSquares += altitude * altitude;
        ++heights;
      }
    } else if (survey.noFixPositions.size() < kMaxNoFixPositions) {
      survey.noFixPositions.push_back({*lat, *lon, 0, 0});
    } else {
      ++survey.noFixPositionsDropped;
    }
  }

  addToSeries(e, kind, elapsed);
  havePrevious = true;
  previousFix = fix;
  if (e.timeOfDay) previousTime = e.timeOfDay;
  previousElapsed = elapsed;
}

Survey LogSurvey::State::finish() {
  cutter.flushComplete([this](std::string_view sentence) { this->sentence(sentence); });
  survey.sentences.lastLineCut = cutter.carryOverSize() > 0;
  if (epoch.any) endEpoch();
  Survey& s = survey;
  s.duration = previousElapsed;
  s.typicalStep = usualStep();
  for (SatelliteStrip& strip : s.strips) strip.cells.resize(s.columns.size());
  std::sort(s.strips.begin(), s.strips.end(), [](const SatelliteStrip& a, const SatelliteStrip& b) {
    return a.system != b.system ? a.system < b.system : a.number < b.number;
  });

  // The scatter about its mean.
  s.statistics = HorizontalStatistics(s.points);
  Geodetic mean = origin;
  if (s.statistics) {
    ScatterStatistics& st = *s.statistics;
    const double n = static_cast<double>(s.points.size());
    mean = GeodeticOf(origin, {st.meanEast, st.meanNorth, upSum / n});
    st.meanLatitude = mean.latitude;
    st.meanLongitude = mean.longitude;
    if (heights > 0) {
      const double h = static_cast<double>(heights);
      st.meanHeight = heightSum / h;
      st.meanAltitude = altitudeSum / h;
      st.sigmaAltitude = std::sqrt(std::max(0.0, altitudeSquares / h - st.meanAltitude * st.meanAltitude));
    }
  } else if (!s.noFixPositions.empty()) {
    mean = {s.noFixPositions.front().latitude, s.noFixPositions.front().longitude, 0};
  }
  for (NoFixPosition& p : s.noFixPositions) {
    const Enu enu = EnuOf(mean, {p.latitude, p.longitude, mean.height});
    p.east = static_cast<float>(enu.east);
    p.north = static_cast<float>(enu.north);
  }

  // Times.
  if (firstUtc && lastUtc) {
    s.firstUtc = UtcText(*firstUtc);
    s.lastUtc = UtcText(*lastUtc + (s.duration - lastUtcElapsed));
  } else if (firstClock && lastClock) {
    s.firstUtc = ClockText(*firstClock) + " UTC";
    s.lastUtc = ClockText(*lastClock) + " UTC";
  }

  // What could not be computed, and what the log did.
  std::vector<std::string>& notes = s.notes;
  const SentenceCounts& c = s.sentences;
  const std::uint64_t fixes = s.points.size();
  if (c.bytes == 0) {
    notes.push_back("The log is empty: there is nothing to report.");
  } else if (c.valid == 0) {
    notes.push_back(
        "No sentence in this log passes the checksum test: it may not be NMEA, or be read at the "
        "wrong line speed.");
  }
  if (c.badChecksum > 0)
    notes.push_back(CountText(c.badChecksum, "sentence", "sentences") + " with a bad checksum skipped.");
  if (c.noChecksum > 0)
    notes.push_back(CountText(c.noChecksum, "sentence", "sentences") +
                    " without a checksum (cut short, or never had one) skipped.");
  if (c.lastLineCut) notes.push_back("The log ends inside a sentence: the last one was left out.");
  if (c.valid > 0 && s.epochs == 0) notes.push_back("No GGA or RMC sentences: no positions, no time axis.");
  if (s.epochs > 0 && fixes == 0) {
    notes.push_back("No fix in this log: no scatter, no statistics, no time to first fix.");
  } else if (fixes == 1) {
    notes.push_back("One fix only: CEP50, CEP95 and 2DRMS need at least two.");
  }
  if (rmcOnlyFixes > 0) {
    notes.push_back(CountText(rmcOnlyFixes, "fix has", "fixes have") +
                    " no GGA: " + (rmcOnlyFixes == 1 ? "its position comes" : "their positions come") +
                    " from RMC, without altitude.");
  }
  if (s.epochs > 0 && c.gsv == 0) notes.push_back("No GSV sentences: no signal strips, no satellites in view.");
  if (s.epochs > 0 && c.gsa == 0) {
    notes.push_back("No GSA sentences: no DOPs and no satellites used; 2D or 3D told by the satellites GGA used.");
  }
  if (firstUtc && !anyDate) notes.push_back("No date in the log (RMC or ZDA): times are of the day alone.");
  if (!firstUtc && firstClock)
    notes.push_back("No fix with a time: the times are the receiver's own clock, which may not have been set.");
  if (!s.starts.empty() && s.starts.front().to2D && *s.starts.front().to2D == 0) {
    notes.push_back("The log begins with a fix: its time to first fix says nothing of a start.");
  }
  if (startsDropped)
    notes.push_back("More than " + std::to_string(kMaxStarts) + " restarts: only the first are listed.");
  if (backwards > 0) {
    notes.push_back("The receiver's time went backwards " + CountText(backwards, "time", "times") + " (the first " +
                    firstBackwards + "); those epochs are drawn at the time before.");
  }
  if (midnights > 0)
    notes.push_back("The log crosses midnight UTC " + CountText(midnights, "time", "times") +
                    "; the time axis runs on.");
  if (clockJumps > 0) {
    notes.push_back("The receiver's clock jumped " + CountText(clockJumps, "time", "times") +
                    " without a fix (the first " + firstClockJump +
                    "), as it does when it sets its clock; each jump counts as one interval.");
  }
  if (rollovers > 0) {
    notes.push_back("The receiver's date fell back by 1024 weeks " + firstRollover +
                    " (the GPS week number rolled over in its firmware): later dates are shown 1024 weeks on.");
  }
  if (s.gapCount > s.gaps.size()) {
    notes.push_back(CountText(s.gapCount, "gap", "gaps") + " in the log: the first " + std::to_string(s.gaps.size()) +
                    " are listed.");
  }
  if (s.noFixPositionsDropped > 0) {
    notes.push_back("Positions without a fix beyond the first " + std::to_string(kMaxNoFixPositions) +
                    " are not drawn (" + std::to_string(s.noFixPositionsDropped) + ").");
  }
  return std::move(survey);
}

Survey LogSurvey::finish() { return state_->finish(); }

Survey SurveyOfBytes(std::string_view bytes) {
  LogSurvey survey;
  survey.feed(bytes);
  return survey.finish();
}

std::optional<Survey> SurveyOfFile(const std::string& path, std::string* problem) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (problem) *problem = "cannot read " + path + " (" + std::strerror(errno) + ")";
    return std::nullopt;
  }
  LogSurvey survey;
  std::vector<char> buffer(1 << 20);
  for (;;) {
    const ssize_t n = ::read(fd, buffer.data(), buffer.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      const int error = errno;
      ::close(fd);
      if (problem) *problem = "cannot read " + path + " (" + std::strerror(error) + ")";
      return std::nullopt;
    }
    if (n == 0) break;
    survey.feed(buffer.data(), static_cast<std::size_t>(n));
  }
  ::close(fd);
  return survey.finish();
}
