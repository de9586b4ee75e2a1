// The simulated receiver's behaviour: NMEA output, command replies, binary protocol, faults.
// See receiver_model.h.
//
// Thread rule: not thread-safe; one owner at a time.
#include "sim/receiver_model.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <ctime>

#include "sim/sim_text.h"

namespace sim {

namespace {

constexpr std::int64_t kGpsEpochUnixS = 315964800;  // 1980-01-06
constexpr std::int64_t kLeapSecondsS = 18;          // GPS - UTC since 2017
constexpr std::int64_t kSecondsPerWeek = 604800;
constexpr std::int64_t kEpoSetS = 21600;  // one EPO set covers six hours
constexpr int kSetsPerSevenDays = 28;
constexpr int kRecordsPerSet = 32;
constexpr int kAckInvalid = 0;
constexpr int kAckAccepted = 3;
constexpr int kAckUnsupported = 1;
constexpr int kAckFailed = 2;
constexpr std::size_t kLongestCommand = 200;
constexpr int kMaxLateCycles = 3;
constexpr long kLastDatum = 222;
// The line speeds $PMTK251 takes (230400 and up: the MT3333 family).
constexpr std::uint32_t kNmeaRates[] = {4800, 9600, 14400, 19200, 38400, 57600, 115200, 230400, 460800, 921600};

// Where a sentence type's rate stands in OutputRates.
constexpr int SlotOf(NmeaKind kind) { return RateFieldOf(kind) - 1; }
constexpr int kGll = SlotOf(NmeaKind::GLL), kRmc = SlotOf(NmeaKind::RMC), kVtg = SlotOf(NmeaKind::VTG),
              kGga = SlotOf(NmeaKind::GGA), kGsa = SlotOf(NmeaKind::GSA), kGsv = SlotOf(NmeaKind::GSV),
              kZda = SlotOf(NmeaKind::ZDA), kMchn = SlotOf(NmeaKind::MCHN);

// How each system shows in the output, in the order of its GSV cycle and its $GNGSA.
struct SystemNmea {
  GnssSystem system;
  const char* gsvTalker;
  int gsaSystemId;  // NMEA 4.10
};
constexpr SystemNmea kSystemNmea[] = {
    {GnssSystem::Gps, "GP", 1},    {GnssSystem::Glonass, "GL", 2}, {GnssSystem::Galileo, "GA", 3},
    {GnssSystem::Beidou, "GB", 4}, {GnssSystem::Qzss, "GQ", 5},
};

std::string format(const char* pattern, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char* pattern, ...) {
  char buf[256];
  va_list args;
  va_start(args, pattern);
  const int n = std::vsnprintf(buf, sizeof buf, pattern, args);
  va_end(args);
  return std::string(buf, n < 0 ? 0 : std::min<std::size_t>(static_cast<std::size_t>(n), sizeof buf - 1));
}

std::string join(const std::vector<std::string>& fields) {
  std::string out;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (i > 0) out += ',';
    out += fields[i];
  }
  return out;
}

// "1.2", "1.20", "0": m/s in hundredths; nullopt for anything else.
std::optional<long> centimetresOf(const std::string& text) {
  const std::size_t point = text.find('.');
  const std::string whole = text.substr(0, point);
  const std::string decimals = point == std::string::npos ? std::string() : text.substr(point + 1);
  const auto digits = [](const std::string& d) { return d.find_first_not_of("0123456789") == std::string::npos; };
  if (whole.empty() || whole.size() > 3 || decimals.size() > 2 || !digits(whole) || !digits(decimals) ||
      (point != std::string::npos && decimals.empty()))
    return std::nullopt;
  long value = std::stol(whole) * 100;
  if (!decimals.empty()) value += std::stol(decimals) * (decimals.size() == 1 ? 10 : 1);
  return value;
}

std::tm utcTm(std::int64_t utcMs) {
  const std::time_t seconds = static_cast<std::time_t>(utcMs / 1000);
  std::tm tm{};
  gmtime_r(&seconds, &tm);
  return tm;
}

// hhmmss.sss
std::string nmeaTime(std::int64_t utcMs) {
  const std::tm tm = utcTm(utcMs);
  return format("%02d%02d%02d.%03d", tm.tm_hour, tm.tm_min, tm.tm_sec, static_cast<int>(utcMs % 1000));
}

// ddmmyy
std::string nmeaDate(std::int64_t utcMs) {
  const std::tm tm = utcTm(utcMs);
  return format("%02d%02d%02d", tm.tm_mday, tm.tm_mon + 1, tm.tm_year % 100);
}

// ddmm.mmmm or dddmm.mmmm, and the hemisphere letter.
std::pair<std::string, std::string> nmeaAngle(double deg, bool longitude) {
  const double a = std::fabs(deg);
  int whole = static_cast<int>(a);
  double minutes = (a - whole) * 60.0;
  if (minutes >= 59.99995) {
    minutes = 0;
    ++whole;
  }
  const std::string text = longitude ? format("%03d%07.4f", whole, minutes) : format("%02d%07.4f", whole, minutes);
  const std::string side = longitude ? (deg < 0 ? "W" : "E") : (deg < 0 ? "S" : "N");
  return {text, side};
}

std::int64_t gpsSecondsOf(std::int64_t utcMs) { return utcMs / 1000 - kGpsEpochUnixS + kLeapSecondsS; }

// The fix takes the highest satellites with a usable signal: three for 2D, for 3D up to
// twelve of each system (what one GSA can list).
std::vector<SatelliteView> satellitesInFix(const std::vector<SatelliteView>& sats, FixMode mode) {
  std::vector<SatelliteView> used;
  if (mode == FixMode::None) return used;
  std::array<std::size_t, kSystemCount> ofSystem{};
  for (const SatelliteView& s : sats) {
    if (s.sbas || s.snrDbHz < 20) continue;
    std::size_t& count = ofSystem[static_cast<std::size_t>(s.system)];
    if (mode == FixMode::Fix2D ? used.size() >= 3 : count >= 12) continue;
    ++count;
    used.push_back(s);
  }
  return used;
}

double hdopOf(std::size_t used) { return 0.7 + 4.0 / std::max<double>(1.0, static_cast<double>(used)); }

std::int64_t systemUtcMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

}  // namespace

std::vector<std::string> ReadCaptureLines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    end = end == std::string::npos ? text.size() : end + 1;
    std::string line = text.substr(start, end - start);
    if (line.empty() || line.front() != '#') lines.push_back(std::move(line));
    start = end;
  }
  return lines;
}

ReceiverModel::ReceiverModel(ModelOptions options)
    : options_(std::move(options)),
      sky_(options_.latitudeDeg, options_.longitudeDeg),
      rng_(options_.seed),
      locus_(options_.locus.content) {
  // Whole seconds, so the 1 Hz output carries times ending in .000 as a receiver's does.
  startUtcMs_ = options_.startUtcMs != 0 ? options_.startUtcMs : systemUtcMs() / 1000 * 1000;
  baud_ = options_.baud;
  periodMs_ = options_.periodMs;
  rates_ = options_.rates;
  searched_ = options_.systems;
  settings_ = options_.settings;
  fixTimings_ = options_.startup;
  nextCycleAt_ = periodMs_;
  startupPending_ = options_.startupMessage && options_.powerUpNotice;
  loadReplay();
  locusLogging_ = options_.locus.enabled;
  locusIntervalS_ = options_.locus.intervalS;
  // A track walked before the start, the newest point an interval before it, with the fix
  // and satellites the sky gave then.
  const long fill = locusLogging_ ? options_.locus.fill : 0;
  for (long i = 0; i < fill && locusLogging_; ++i) {
    const std::int64_t utcS = startUtcMs_ / 1000 - static_cast<std::int64_t>(fill - i) * locusIntervalS_;
    locusWrite(locusPointAt(utcS * 1000 - startUtcMs_));
  }
}

void ReceiverModel::loadReplay() {
  bursts_.clear();
  std::string burstKey;
  for (const std::string& line : options_.replayLines) {
    // A burst is what a receiver sends for one fix: a new time in GGA, RMC, GLL or ZDA
    // starts the next one.
    std::string key;
    if (line.size() > 7 && line[0] == '$') {
      const std::string type = line.substr(3, 3);
      const std::vector<std::string> fields = splitFields(line.substr(1, line.find_first_of("*\r\n") - 1));
      if ((type == "GGA" || type == "RMC" || type == "ZDA") && fields.size() > 1) key = fields[1];
      if (type == "GLL" && fields.size() > 5) key = fields[5];
    }
    if (bursts_.empty() || (!key.empty() && !burstKey.empty() && key != burstKey)) bursts_.push_back({});
    if (!key.empty()) burstKey = key;
    bursts_.back().lines.push_back(line);
  }
  nextBurst_ = 0;
  nextBurstAt_ = 0;
  replayDone_ = bursts_.empty();
}

FixMode ReceiverModel::fixModeAt(SimMs now) const {
  const SimMs since = now - restartAt_;
  if (since < fixTimings_.fix2dAfterMs) return FixMode::None;
  if (since < fixTimings_.fix3dAfterMs) return FixMode::Fix2D;
  return FixMode::Fix3D;
}

SimMs ReceiverModel::nextEventAt(bool lineIdle) const {
  SimMs next = kNever;
  if (startupPending_) return 0;
  if (binaryMode_) {
    if (!sawBinaryPacket_) next = modeAckAt_;
    return next;
  }
  if (!options_.replayLines.empty()) {
    if (replayDone_ || replayHeld_) return kNever;
    if (options_.replayFast) return lineIdle ? 0 : kNever;
    return nextBurstAt_;
  }
  return nextCycleAt_;
}

std::vector<OutChunk> ReceiverModel::advance(SimMs now, bool lineIdle) {
  std::vector<OutChunk> out;
  if (startupPending_) {
    startupPending_ = false;
    if (options_.startupMessage) out.push_back({frameSentence("PMTK010,001"), 0, 0, false});
  }
  if (binaryMode_) {
    if (!sawBinaryPacket_ && now >= modeAckAt_) {
      for (OutChunk& c : ackChunks(buildAck(kCmdAckCommand, kCmdSetOutput, kAckAccepted))) out.push_back(std::move(c));
      modeAckAt_ = options_.binaryAckRepeatMs > 0 ? now + options_.binaryAckRepeatMs : kNever;
    }
    return out;
  }
  if (!options_.replayLines.empty()) {
    if (replayDone_ || replayHeld_) return out;
    if (options_.replayFast ? lineIdle : now >= nextBurstAt_) {
      for (OutChunk& c : replayBurst()) out.push_back(std::move(c));
      nextBurstAt_ = now + 1000;
    }
    return out;
  }
  if (standby_ || now < nextCycleAt_) return out;
  // A driver that fell far behind (a stopped debugger, a jump of a test's clock) gets one
  // cycle, not a flood of stale ones.
  if (now - nextCycleAt_ > static_cast<SimMs>(kMaxLateCycles) * periodMs_) nextCycleAt_ = now;
  while (nextCycleAt_ <= now) {
    if (!asleepAt(nextCycleAt_)) {
      for (OutChunk& c : cycle(nextCycleAt_)) out.push_back(std::move(c));
    }
    nextCycleAt_ += periodMs_;
  }
  return out;
}

bool ReceiverModel::asleepAt(SimMs at) const {
  const bool periodic = settings_.powerMode == 1 || settings_.powerMode == 2;
  if (!periodic || settings_.runMs <= 0 || settings_.sleepMs <= 0) return false;
  const SimMs cycleMs = settings_.runMs + settings_.sleepMs;
  return (at - powerModeSince_) % cycleMs >= settings_.runMs;
}

std::vector<OutChunk> ReceiverModel::replayBurst() {
  std::vector<OutChunk> out;
  if (nextBurst_ >= bursts_.size()) {
    replayDone_ = true;
    return out;
  }
  for (const std::string& line : bursts_[nextBurst_].lines) {
    for (OutChunk& c : withFaults(line)) out.push_back(std::move(c));
  }
  ++nextBurst_;
  if (nextBurst_ >= bursts_.size()) {
    if (options_.replayLoop) {
      nextBurst_ = 0;
    } else {
      replayDone_ = true;
    }
  }
  return out;
}

std::vector<OutChunk> ReceiverModel::cycle(SimMs at) {
  ++cycleIndex_;
  const std::int64_t utcMs = utcMsAt(at);
  const FixMode mode = fixModeAt(at);
  const SimMs sinceRestart = at - restartAt_;
  const Position pos = sky_.positionAt(at);
  const SystemSet systems = searched_;
  // GPS alone: the older chips' sentences; more systems: the GN talker of the MT3333 family.
  const bool gnss = systems != kGpsOnly;
  const char* talker = gnss ? "GN" : "GP";
  std::vector<SatelliteView> sats = sky_.satellitesAt(utcMs / 1000, systems);
  // Before the fix the receiver has found only some signals, without positions in the sky;
  // in the first half of the search it has found none.
  if (mode == FixMode::None) {
    if (sinceRestart < fixTimings_.fix2dAfterMs / 2) {
      sats.clear();
    } else {
      std::erase_if(sats, [](const SatelliteView& s) { return s.snrDbHz < 0; });
      for (SatelliteView& s : sats) s.elevationDeg = s.azimuthDeg = -1;
    }
  }
  const std::vector<SatelliteView> used = satellitesInFix(sats, mode);
  const auto inFix = [&used](const SatelliteView& s) {
    return std::any_of(used.begin(), used.end(),
                       [&s](const SatelliteView& u) { return u.system == s.system && u.prn == s.prn; });
  };
  const bool fix = mode != FixMode::None;
  const bool differential = fix && dgpsMode_ == 2 && settings_.sbas && mode == FixMode::Fix3D;
  const double hdop = hdopOf(used.size());
  const double pdop = hdop * 1.6;
  const double vdop = std::sqrt(pdop * pdop - hdop * hdop);
  const auto [latText, latSide] = nmeaAngle(pos.latitudeDeg, false);
  const auto [lonText, lonSide] = nmeaAngle(pos.longitudeDeg, true);
  const std::string time = nmeaTime(utcMs);
  const std::string date = nmeaDate(utcMs);
  const double speedKnots = pos.speedMps * 3600.0 / 1852.0;
  const double speedKmh = pos.speedMps * 3.6;
  const char* modeLetter = differential ? "D" : "A";

  const auto due = [&](int field) { return rates_[field] > 0 && cycleIndex_ % rates_[field] == 0; };
  std::vector<std::string> bodies;
  if (due(kGga)) {
    if (fix) {
      bodies.push_back(format("%sGGA,%s,%s,%s,%s,%s,%d,%02d,%.2f,%.1f,M,%.1f,M,%s", talker, time.c_str(),
                              latText.c_str(), latSide.c_str(), lonText.c_str(), lonSide.c_str(), differential ? 2 : 1,
                              static_cast<int>(used.size()), hdop, pos.altitudeM, 17.2,
                              differential ? "0000,0000" : ","));
    } else {
      bodies.push_back(format("%sGGA,%s,,,,,0,00,,,M,,M,,", talker, time.c_str()));
    }
  }
  if (due(kGll)) {
    bodies.push_back(fix ? format("%sGLL,%s,%s,%s,%s,%s,A,%s", talker, latText.c_str(), latSide.c_str(),
                                  lonText.c_str(), lonSide.c_str(), time.c_str(), modeLetter)
                         : format("%sGLL,,,,,%s,V,N", talker, time.c_str()));
  }
  if (due(kGsa)) {
    // $GPGSA,A,3,03,16,...,PDOP,HDOP,VDOP: mode, twelve satellite fields, the DOPs; a
    // multi-system $GNGSA covers one system and may end with its ID: ...,1.63,0.96,1.31,2
    const auto gsa = [&](const std::vector<int>& numbers, int systemId) {
      std::vector<std::string> f = {std::string(talker) + "GSA", "A", std::to_string(static_cast<int>(mode))};
      for (std::size_t i = 0; i < 12; ++i) f.push_back(i < numbers.size() ? format("%02d", numbers[i]) : "");
      if (fix) {
        f.push_back(format("%.2f", pdop));
        f.push_back(format("%.2f", hdop));
        f.push_back(format("%.2f", vdop));
      } else {
        f.insert(f.end(), {"", "", ""});
      }
      if (systemId > 0) f.push_back(std::to_string(systemId));
      return join(f);
    };
    bool sent = false;
    for (const SystemNmea& system : kSystemNmea) {
      if (!gnss) break;
      std::vector<int> numbers;
      for (const SatelliteView& s : used) {
        if (s.system == system.system) numbers.push_back(s.prn);
      }
      if (numbers.empty()) continue;
      bodies.push_back(gsa(numbers, options_.gsaSystemId ? system.gsaSystemId : 0));
      sent = true;
    }
    // GPS alone, or no satellite in the fix: one GSA of every used satellite, no system ID.
    if (!sent) {
      std::vector<int> numbers;
      for (const SatelliteView& s : used) numbers.push_back(s.prn);
      bodies.push_back(gsa(numbers, 0));
    }
  }
  if (due(kGsv)) {
    const bool withGalileo = options_.galileoEvery <= 1 || gsvBursts_ % options_.galileoEvery == 0;
    ++gsvBursts_;
    for (const SystemNmea& system : kSystemNmea) {
      if ((systems & SystemBit(system.system)) == 0) continue;
      if (system.system == GnssSystem::Galileo && !withGalileo) continue;
      std::vector<SatelliteView> own;
      for (const SatelliteView& s : sats) {
        if (s.system == system.system) own.push_back(s);
      }
      const std::size_t messages = std::max<std::size_t>(1, (own.size() + 3) / 4);
      for (std::size_t m = 0; m < messages; ++m) {
        std::string body = format("%sGSV,%zu,%zu,%02zu", system.gsvTalker, messages, m + 1, own.size());
        for (std::size_t i = m * 4; i < std::min(own.size(), m * 4 + 4); ++i) {
          const SatelliteView& s = own[i];
          body += format(",%02d,", s.prn);
          if (s.elevationDeg >= 0) body += format("%02d,%03d,", s.elevationDeg, s.azimuthDeg);
          else body += ",,";
          if (s.snrDbHz >= 0) body += format("%02d", s.snrDbHz);
        }
        bodies.push_back(body);
      }
    }
  }
  if (due(kRmc)) {
    bodies.push_back(fix ? format("%sRMC,%s,A,%s,%s,%s,%s,%.2f,%.2f,%s,,,%s", talker, time.c_str(), latText.c_str(),
                                  latSide.c_str(), lonText.c_str(), lonSide.c_str(), speedKnots, pos.courseDeg,
                                  date.c_str(), modeLetter)
                         : format("%sRMC,%s,V,,,,,0.00,0.00,%s,,,N", talker, time.c_str(), date.c_str()));
  }
  if (due(kVtg)) {
    bodies.push_back(
        fix ? format("%sVTG,%.2f,T,,M,%.2f,N,%.2f,K,%s", talker, pos.courseDeg, speedKnots, speedKmh, modeLetter)
            : format("%sVTG,0.00,T,,M,0.00,N,0.00,K,N", talker));
  }
  if (due(kZda)) {
    const std::tm tm = utcTm(utcMs);
    bodies.push_back(
        format("%sZDA,%s,%02d,%02d,%04d,,", talker, time.c_str(), tm.tm_mday, tm.tm_mon + 1, tm.tm_year + 1900));
  }
  if (due(kMchn)) {
    // 32 channels "PPSSU": PRN, SNR, 2 used in the fix / 1 tracked / 0 searching.
    std::string body = "PMTKCHN";
    for (std::size_t ch = 0; ch < 32; ++ch) {
      if (ch < sats.size()) {
        const SatelliteView& s = sats[ch];
        body += format(",%02d%02d%d", s.prn, std::max(0, s.snrDbHz), inFix(s) ? 2 : (s.snrDbHz >= 0 ? 1 : 0));
      } else {
        body += ",00000";
      }
    }
    bodies.push_back(body);
  }
  // The logger keeps a point of the fix once an interval has passed since the last one.
  const std::int64_t utcS = utcMs / 1000;
  if (fix && locusLogging_ && utcS - locusIntervalS_ >= lastRecordUtcS_)
    locusWrite(locusPoint(utcS, pos, mode, used.size()));
  std::vector<OutChunk> out;
  for (const std::string& body : bodies) {
    for (OutChunk& c : withFaults(frameSentence(body))) out.push_back(std::move(c));
  }
  return out;
}

std::vector<OutChunk> ReceiverModel::withFaults(const std::string& sentence) {
  const NmeaFaults& f = options_.nmeaFaults;
  std::uniform_real_distribution<double> chance(0.0, 1.0);
  const auto hit = [&](double p) { return p > 0 && chance(rng_) < p; };
  std::string text = sentence;
  const std::size_t star = text.rfind('*');
  const bool framed = star != std::string::npos && star + 3 <= text.size();
  if (framed) {
    const unsigned value = static_cast<unsigned>(std::strtoul(text.substr(star + 1, 2).c_str(), nullptr, 16));
    if (hit(f.badChecksum)) {
      text.replace(star + 1, 2, format("%02X", (value ^ 0x5Au) & 0xFFu));
    } else if (hit(f.lowerCaseChecksum)) {
      text.replace(star + 1, 2, format("%02x", value));
    } else if (value < 0x10 && hit(f.oneDigitChecksum)) {
      text.replace(star + 1, 2, format("%X", value));
    }
  }
  std::uniform_int_distribution<int> byte(0, 255);
  const auto noise = [&](std::size_t count) {
    std::string s;
    s.reserve(count);
    while (s.size() < count) {
      const char c = static_cast<char>(byte(rng_));
      if (c != '$') s += c;
    }
    return s;
  };
  if (hit(f.nulBytes)) text.append(static_cast<std::size_t>(std::uniform_int_distribution<int>(1, 3)(rng_)), '\0');
  if (hit(f.garbage)) text += noise(static_cast<std::size_t>(std::uniform_int_distribution<int>(1, 40)(rng_)));
  if (hit(f.longRun)) text += noise(f.longRunBytes);
  std::vector<OutChunk> out;
  if (text.size() > 1 && hit(f.splitWrites)) {
    const std::size_t cut = std::uniform_int_distribution<std::size_t>(1, text.size() - 1)(rng_);
    out.push_back({text.substr(0, cut), 0, 0, true});
    out.push_back({text.substr(cut), f.splitGapMs, 0, true});
  } else {
    out.push_back({std::move(text), 0, 0, true});
  }
  return out;
}

std::vector<OutChunk> ReceiverModel::receive(std::string_view bytes, SimMs now) {
  std::vector<OutChunk> out;
  const auto append = [&out](std::vector<OutChunk> more) {
    for (OutChunk& c : more) out.push_back(std::move(c));
  };
  if (standby_ && !bytes.empty()) {
    // Any byte wakes it; the output goes on from the next fix on.
    standby_ = false;
    nextCycleAt_ = now + periodMs_;
  }
  std::size_t i = 0;
  while (i < bytes.size()) {
    if (binaryMode_) {
      binaryParser_.feed(bytes.substr(i));
      i = bytes.size();
      while (binaryMode_) {
        std::optional<BinaryPacket> packet = binaryParser_.next();
        if (!packet) break;
        append(handleBinary(*packet, now));
      }
      // Back in NMEA: what followed the output-mode packet in this chunk is dropped.
      if (!binaryMode_) {
        BinaryFrameParser rest;
        std::swap(rest, binaryParser_);
      }
      continue;
    }
    const char c = bytes[i++];
    if (c == '$') {
      line_.assign(1, c);
      inLine_ = true;
    } else if (c == '\r' || c == '\n') {
      if (inLine_) {
        inLine_ = false;
        if (std::optional<std::string> body = checkedBody(line_)) append(handleCommand(*body, now));
      }
    } else if (c == '\0') {
      // A real receiver ignores the zero byte some programs send after the line end.
    } else if (inLine_) {
      line_ += c;
      if (line_.size() > kLongestCommand) inLine_ = false;
    }
  }
  return out;
}

int ReceiverModel::ackFlag(int command, int natural) const {
  if (const auto it = options_.ackFlagFor.find(command); it != options_.ackFlagFor.end()) return it->second;
  if (options_.ackFlagAll >= 0) return options_.ackFlagAll;
  return natural;
}

std::vector<OutChunk> ReceiverModel::handleCommand(const std::string& body, SimMs now) {
  commands_.push_back(body);
  const std::vector<std::string> fields = splitFields(body);
  const std::string& address = fields[0];
  std::vector<OutChunk> out;
  if (address == "PZRN000") {
    if (options_.answerZrn && fields.size() > 1 && fields[1] == "MODE")
      out.push_back({frameSentence("PZRN001,MODE,0"), 0, 0, false});
    return out;
  }
  if (address == "PZRN818") {
    if (options_.answerZrn) {
      periodMs_ = 1000;
      out.push_back({frameSentence("PZRN818"), 0, 0, false});
    }
    return out;
  }
  if (address.size() > 4 && address.compare(0, 4, "PMTK") == 0) {
    if (const std::optional<long> number = fieldNumber(std::string_view(address).substr(4))) {
      return handlePmtk(static_cast<int>(*number), fields, now);
    }
  }
  return out;
}

std::vector<OutChunk> ReceiverModel::handlePmtk(int number, const std::vector<std::string>& fields, SimMs now) {
  std::vector<OutChunk> out;
  const auto reply = [&out](const std::string& body) { out.push_back({frameSentence(body), 0, 0, false}); };
  const auto ack = [&](int natural) { return acknowledge(out, number, natural); };
  const auto number1 = [&](std::size_t i) { return i < fields.size() ? fieldNumber(fields[i]) : std::nullopt; };

  if (options_.lacking.count(number) > 0) {
    ack(kAckUnsupported);
    return out;
  }
  switch (number) {
    case 161:
    case 225:
    case 286:
    case 313:
    case 319:
    case 386:
    case 413:
    case 419:
    case 447:
    case 869: return handleSetting(number, fields, now);
    case 183:
    case 184:
    case 185:
    case 186:
    case 187:
    case 622: return handleLocus(number, fields, now);
    case 101: restart(options_.hot, now, out); return out;
    case 102: restart(options_.warm, now, out); return out;
    case 103: restart(options_.cold, now, out); return out;
    case 104:  // full cold start: factory settings too, the line speed among them
      rates_ = kDefaultRates;
      periodMs_ = 1000;
      dgpsMode_ = 0;
      datum_ = 0;
      settings_ = options_.settings;
      searched_ = options_.systems;
      if (baud_ != options_.baud) {
        baud_ = options_.baud;
        out.push_back({std::string(), 0, baud_, false});
      }
      restart(options_.cold, now, out);
      return out;
    case 127:
      if (ack(kAckAccepted)) {
        epoOwn_ = true;
        epo_ = EpoState{};
      }
      return out;
    case 220:
    case 300: {
      const std::optional<long> period = number1(1);
      const bool valid = period && *period >= 100 && *period <= 10000;
      if (ack(valid ? kAckAccepted : kAckFailed) && valid) {
        periodMs_ = static_cast<int>(*period);
        nextCycleAt_ = now + periodMs_;
      }
      return out;
    }
    case 251: {
      // $PMTK251,RATE: the NMEA port's speed, one of the rates the receivers list; 0 is the
      // receiver's own default. Acknowledged at the old rate, then the line moves.
      const std::optional<long> asked = fields.size() == 2 ? number1(1) : std::nullopt;
      const std::uint32_t baud = asked == 0L ? options_.baud : static_cast<std::uint32_t>(asked.value_or(-1));
      const bool valid = asked && (*asked == 0 || std::find(std::begin(kNmeaRates), std::end(kNmeaRates), baud) !=
                                                      std::end(kNmeaRates));
      if (ack(!asked ? kAckInvalid : (valid ? kAckAccepted : kAckFailed)) && valid && !options_.keepBaud) {
        baud_ = baud;
        out.back().baudAfter = baud;
      }
      return out;
    }
    case 253: {
      if (options_.binaryFaults.neverBinary) return out;
      const std::optional<long> protocol = number1(1);
      const std::optional<long> baud = number1(2);
      if (protocol == 1L) {
        binaryMode_ = true;
        sawBinaryPacket_ = false;
        binaryParser_ = BinaryFrameParser{};
        uploadedRecords_.clear();
        modeAckAt_ = now + options_.binaryFirstAckDelayMs;
        if (baud && *baud > 0) {
          baud_ = static_cast<std::uint32_t>(*baud);
          // The line changes speed too, once what is queued before the switch is out.
          out.push_back({std::string(), 0, baud_, false});
        }
      } else if (protocol == 0L && ack(kAckAccepted) && baud && *baud > 0) {
        out.back().baudAfter = static_cast<std::uint32_t>(*baud);
      }
      return out;
    }
    case 301: {
      const std::optional<long> mode = number1(1);
      const bool valid = mode && *mode >= 0 && *mode <= 2;
      if (ack(valid ? kAckAccepted : kAckFailed) && valid) dgpsMode_ = static_cast<int>(*mode);
      return out;
    }
    case 314: {
      if (fields.size() == 2 && fields[1] == "-1") {
        if (ack(kAckAccepted)) rates_ = kDefaultRates;
        return out;
      }
      OutputRates rates{};
      bool valid = fields.size() >= 2 && fields.size() <= kRateFieldCount + 1;
      for (std::size_t i = 1; valid && i < fields.size(); ++i) {
        const std::optional<long> rate = fieldNumber(fields[i]);
        valid = rate && *rate >= 0 && *rate <= 5;
        if (valid) rates[i - 1] = static_cast<int>(*rate);
      }
      if (ack(valid ? kAckAccepted : kAckFailed) && valid) rates_ = rates;
      return out;
    }
    case 353: {
      // $PMTK353,GPS,GLONASS,GALILEO,GALILEO_FULL,BEIDOU, each 0 or 1; older firmware sends
      // only the first two or three. QZSS has no field: it stays as the receiver has it.
      bool wellFormed = fields.size() >= 3 && fields.size() <= 6;
      bool on[5] = {};
      for (std::size_t i = 1; wellFormed && i < fields.size(); ++i) {
        wellFormed = fields[i] == "0" || fields[i] == "1";
        on[i - 1] = fields[i] == "1";
      }
      SystemSet wanted = 0;
      if (on[0]) wanted |= SystemBit(GnssSystem::Gps);
      if (on[1]) wanted |= SystemBit(GnssSystem::Glonass);
      if (on[2] || on[3]) wanted |= SystemBit(GnssSystem::Galileo);
      if (on[4]) wanted |= SystemBit(GnssSystem::Beidou);
      // A system the receiver does not have cannot be searched, and searching nothing is no
      // search mode.
      const bool possible = wanted != 0 && (wanted & ~options_.systems) == 0;
      const int natural = !wellFormed ? kAckInvalid : (possible ? kAckAccepted : kAckFailed);
      if (ack(natural) && natural == kAckAccepted)
        searched_ = wanted | (options_.systems & SystemBit(GnssSystem::Qzss));
      return out;
    }
    case 330: {
      // $PMTK330,N: one of the 223 datums of the receivers' list (0 WGS84).
      const std::optional<long> datum = number1(1);
      const bool valid = fields.size() == 2 && datum && *datum >= 0 && *datum <= kLastDatum;
      if (ack(fields.size() == 2 && datum ? (valid ? kAckAccepted : kAckFailed) : kAckInvalid) && valid)
        datum_ = static_cast<int>(*datum);
      return out;
    }
    case 400: reply(format("PMTK500,%d,0,0,0,0", periodMs_)); return out;
    case 401: reply(format("PMTK501,%d", dgpsMode_)); return out;
    case 430: reply(format("PMTK530,%d", datum_)); return out;
    case 414: {
      std::string body = "PMTK514";
      for (const int rate : rates_) body += format(",%d", rate);
      reply(body);
      return out;
    }
    case 602: return out;  // its reply is not used; a quiet receiver is just as plausible
    case 605: reply("PMTK705," + options_.firmware); return out;
    case 607: {
      const EpoState e = epoNow(now);
      if (e.sets == 0) {
        reply("PMTK707,0,0,0,0,0,0,0,0,0");
      } else {
        // Fields 6 to 9: the six-hour set in use now.
        const std::int64_t gps = gpsSecondsOf(utcMsAt(now));
        const std::int64_t first = e.firstWeek * kSecondsPerWeek + e.firstTowS;
        const std::int64_t last = e.lastWeek * kSecondsPerWeek + e.lastTowS;
        const std::int64_t current = std::clamp(gps / kEpoSetS * kEpoSetS, first, last);
        reply(format(
            "PMTK707,%d,%ld,%ld,%ld,%ld,%lld,%lld,%lld,%lld", e.sets, e.firstWeek, e.firstTowS, e.lastWeek, e.lastTowS,
            static_cast<long long>(current / kSecondsPerWeek), static_cast<long long>(current % kSecondsPerWeek),
            static_cast<long long>(current / kSecondsPerWeek), static_cast<long long>(current % kSecondsPerWeek)));
      }
      return out;
    }
    default:
      // A command this receiver does not know.
      ack(kAckUnsupported);
      return out;
  }
}

// $PMTK313,0|1 SBAS; $PMTK319,0|1 SBAS mode; $PMTK386,M/S static navigation; $PMTK225,MODE[,RUN,
// SLEEP,RUN2,SLEEP2] power; $PMTK161,0 standby; $PMTK286,0|1 AIC; $PMTK869,1,0|1 EASY; and the
// queries $PMTK413 -> $PMTK513,E   $PMTK419 -> $PMTK519,M   $PMTK447 -> $PMTK527,T.TT
// $PMTK869,0 -> $PMTK869,2,E,DAYS
std::vector<OutChunk> ReceiverModel::handleSetting(int number, const std::vector<std::string>& fields, SimMs now) {
  std::vector<OutChunk> out;
  const auto reply = [&out](const std::string& body) { out.push_back({frameSentence(body), 0, 0, false}); };
  const auto ack = [&](int natural) { return acknowledge(out, number, natural); };
  // The one field of 0 or 1 after the address; -1 for any other form.
  const int choice = fields.size() == 2 && (fields[1] == "0" || fields[1] == "1") ? fields[1][0] - '0' : -1;
  switch (number) {
    case 313:
      if (ack(choice < 0 ? kAckInvalid : kAckAccepted) && choice >= 0) settings_.sbas = choice == 1;
      return out;
    case 319:
      if (ack(choice < 0 ? kAckInvalid : kAckAccepted) && choice >= 0) settings_.sbasMode = choice;
      return out;
    case 286:
      if (ack(choice < 0 ? kAckInvalid : kAckAccepted) && choice >= 0) settings_.aic = choice == 1;
      return out;
    case 386: {
      // 0 to 2.0 m/s, in hundredths at most.
      const std::optional<long> cmps = fields.size() == 2 ? centimetresOf(fields[1]) : std::nullopt;
      const int natural = !cmps ? kAckInvalid : (*cmps <= 200 ? kAckAccepted : kAckFailed);
      if (ack(natural) && natural == kAckAccepted) settings_.staticNavCmps = static_cast<int>(cmps.value_or(0));
      return out;
    }
    case 225: {
      const std::optional<long> mode = fields.size() >= 2 ? fieldNumber(fields[1]) : std::nullopt;
      std::vector<long> times;
      bool numbers = mode.has_value();
      for (std::size_t i = 2; numbers && i < fields.size(); ++i) {
        const std::optional<long> t = fieldNumber(fields[i]);
        numbers = t.has_value();
        if (numbers) times.push_back(*t);
      }
      const auto inBounds = [](long ms) { return ms >= 1000 && ms <= 518400000L; };
      int natural = kAckInvalid;
      if (numbers && (*mode == 0 || *mode == 8 || *mode == 9)) {
        natural = times.empty() ? kAckAccepted : kAckInvalid;
      } else if (numbers && (*mode == 1 || *mode == 2)) {
        if (times.size() == 2) times.insert(times.end(), {0, 0});
        if (times.size() == 4) {
          const bool second = times[2] == 0 && times[3] == 0;
          const bool valid = inBounds(times[0]) && inBounds(times[1]) &&
                             (second || (inBounds(times[2]) && inBounds(times[3]) && times[2] > times[0]));
          natural = valid ? kAckAccepted : kAckFailed;
        }
      } else if (numbers && *mode == 4) {
        natural = kAckUnsupported;  // perpetual backup needs a wake-up line this receiver has not
      }
      if (ack(natural) && natural == kAckAccepted) {
        settings_.powerMode = static_cast<int>(mode.value_or(0));
        times.resize(4, 0);
        settings_.runMs = times[0];
        settings_.sleepMs = times[1];
        settings_.secondRunMs = times[2];
        settings_.secondSleepMs = times[3];
        powerModeSince_ = now;
      }
      return out;
    }
    case 161: {
      // $PMTK161,0: standby until the next byte.
      const bool valid = fields.size() == 2 && fields[1] == "0";
      if (ack(valid ? kAckAccepted : kAckInvalid) && valid) standby_ = true;
      return out;
    }
    case 869: {
      if (fields.size() == 2 && fields[1] == "0") {
        reply(format("PMTK869,2,%d,%d", settings_.easy ? 1 : 0, settings_.easyDays));
        return out;
      }
      const bool set = fields.size() == 3 && fields[1] == "1" && (fields[2] == "0" || fields[2] == "1");
      if (ack(set ? kAckAccepted : kAckInvalid) && set) settings_.easy = fields[2] == "1";
      return out;
    }
    case 413: reply(format("PMTK513,%d", settings_.sbas ? 1 : 0)); return out;
    case 419: reply(format("PMTK519,%d", settings_.sbasMode)); return out;
    default: {  // 447
      reply(format("PMTK527,%d.%02d", settings_.staticNavCmps / 100, settings_.staticNavCmps % 100));
      return out;
    }
  }
}

bool ReceiverModel::acknowledge(std::vector<OutChunk>& out, int number, int natural) const {
  const int flag = ackFlag(number, natural);
  out.push_back({frameSentence(format("PMTK001,%d,%d", number, flag)), 0, 0, false});
  return flag == kAckAccepted;
}

// $PMTKLOG,Serial#,Type,Mode,Content,Interval,Distance,Speed,Status,Number,Percent
//   e.g. $PMTKLOG,1,0,10,31,15,0,0,0,252,6: stopped is status 1, logging 0 (or as configured)
// $PMTKLOX,0,N  then N lines $PMTKLOX,1,SEQ,W1..W24  then $PMTKLOX,2: the dump of $PMTK622
std::vector<OutChunk> ReceiverModel::handleLocus(int number, const std::vector<std::string>& fields, SimMs now) {
  std::vector<OutChunk> out;
  const LocusOptions& o = options_.locus;
  if (!o.enabled) {
    acknowledge(out, number, kAckUnsupported);
    return out;
  }
  const auto reply = [&out](const std::string& body) { out.push_back({frameSentence(body), 0, 0, false}); };
  // Commands with one field of 0 or 1 after the address; -1 for any other form.
  const int choice = fields.size() == 2 && (fields[1] == "0" || fields[1] == "1") ? fields[1][0] - '0' : -1;
  const bool fullAndStopped = o.type == 1 && locus_.full();
  switch (number) {
    case 183: {
      if (!acknowledge(out, number, fields.size() == 1 ? kAckAccepted : kAckInvalid)) return out;
      const int status = locusLogging_ ? o.statusWhileLogging : 1;
      const int percent = static_cast<int>(locus_.records() * 100 / std::max<std::size_t>(1, locus_.capacity()));
      const std::string mode = format(o.modeInHex ? "%X" : "%d", locusSettings().mode);
      reply(format("PMTKLOG,%u,%d,%s,%u,%d,0,0,%d,%zu,%d", options_.seed, o.type, mode.c_str(), o.content,
                   locusIntervalS_, status, locus_.records(), percent));
      // The status goes before its acknowledgement.
      std::rotate(out.begin(), out.begin() + 1, out.end());
      return out;
    }
    case 184:
      if (acknowledge(out, number, choice == 1 ? kAckAccepted : kAckInvalid)) locus_.erase();
      return out;
    case 185: {
      const int natural = choice < 0 ? kAckInvalid : (choice == 0 && fullAndStopped ? kAckFailed : kAckAccepted);
      if (acknowledge(out, number, natural) && natural == kAckAccepted) locusLogging_ = choice == 0;
      return out;
    }
    case 186: {
      const bool fix = fixModeAt(now) != FixMode::None;
      const int natural = choice != 1 ? kAckInvalid : (!fix || fullAndStopped ? kAckFailed : kAckAccepted);
      if (acknowledge(out, number, natural) && natural == kAckAccepted) locusWrite(locusPointAt(now));
      return out;
    }
    case 187: {
      // $PMTK187,1,SEC: mode 1 is the interval; distance (2) and speed (3) this logger lacks.
      const long kind = fields.size() == 3 ? fieldNumber(fields[1]).value_or(-1) : -1;
      const long seconds = fields.size() == 3 ? fieldNumber(fields[2]).value_or(-1) : -1;
      int natural = kAckInvalid;
      if (kind == 1 && seconds >= 0) natural = seconds >= 1 && seconds <= 65535 ? kAckAccepted : kAckFailed;
      if ((kind == 2 || kind == 3) && seconds >= 0) natural = kAckUnsupported;
      if (acknowledge(out, number, natural) && natural == kAckAccepted) locusIntervalS_ = static_cast<int>(seconds);
      return out;
    }
    default: {  // 622
      // The whole flash, or the sectors written since the last erase.
      std::vector<OutChunk> ack;
      if (!acknowledge(ack, number, choice < 0 ? kAckInvalid : kAckAccepted)) return ack;
      const std::string_view flash(locus_.bytes());
      const std::vector<std::string> lines = LocusDumpLines(choice == 0 ? flash : flash.substr(0, locus_.usedBytes()));
      reply(format("PMTKLOX,0,%zu", lines.size()));
      for (const std::string& line : lines) {
        if (o.dumpStopsAfter >= 0 && out.size() > static_cast<std::size_t>(o.dumpStopsAfter)) return out;
        reply(line);
      }
      reply("PMTKLOX,2");
      out.push_back(std::move(ack.front()));
      return out;
    }
  }
}

LocusSettings ReceiverModel::locusSettings() const {
  constexpr int kFixOnly = 2;
  constexpr int kInterval = 8;
  return LocusSettings{options_.locus.type, kFixOnly | kInterval, options_.locus.content, locusIntervalS_, 0, 0};
}

LocusPoint ReceiverModel::locusPoint(std::int64_t utcS, const Position& pos, FixMode mode, std::size_t used) const {
  LocusPoint p;
  p.utcS = utcS;
  p.fix = options_.locus.fixDimension ? static_cast<std::uint8_t>(mode) : 1;
  p.latitudeDeg = pos.latitudeDeg;
  p.longitudeDeg = pos.longitudeDeg;
  p.heightM = pos.altitudeM;
  p.speedKmh = pos.speedMps * 3.6;
  p.trackDeg = pos.courseDeg;
  p.hdop = hdopOf(used);
  p.satellites = static_cast<int>(used);
  return p;
}

LocusPoint ReceiverModel::locusPointAt(SimMs at) const {
  const std::int64_t utcS = utcMsAt(at) / 1000;
  // Before the start (a filled flash) the receiver had its 3D fix.
  const FixMode mode = at < 0 ? FixMode::Fix3D : fixModeAt(at);
  const std::size_t used = satellitesInFix(sky_.satellitesAt(utcS, searched_), mode).size();
  return locusPoint(utcS, sky_.positionAt(at), mode, used);
}

bool ReceiverModel::locusWrite(const LocusPoint& point) {
  const LocusSettings settings = locusSettings();
  const bool written = locus_.write(point, settings, recordsWritten_ + 1 == options_.locus.badRecord);
  if (written) {
    ++recordsWritten_;
    lastRecordUtcS_ = point.utcS;
  }
  // A logger that stops when full stops once it is.
  if (settings.type == 1 && locus_.full()) locusLogging_ = false;
  return written;
}

EpoState ReceiverModel::epoNow(SimMs now) const {
  if (epoOwn_ || !options_.epoIsDefault) return epoOwn_ ? epo_ : options_.epo;
  // A seven-day set fetched a day ago, in six-hour steps.
  const std::int64_t first = (gpsSecondsOf(utcMsAt(now)) - 86400) / kEpoSetS * kEpoSetS;
  const std::int64_t last = first + (kSetsPerSevenDays - 1) * kEpoSetS;
  return EpoState{kSetsPerSevenDays, static_cast<long>(first / kSecondsPerWeek),
                  static_cast<long>(first % kSecondsPerWeek), static_cast<long>(last / kSecondsPerWeek),
                  static_cast<long>(last % kSecondsPerWeek)};
}

void ReceiverModel::restart(const RestartTimings& timings, SimMs now, std::vector<OutChunk>& out) {
  restartAt_ = now;
  fixTimings_ = timings;
  if (options_.startupMessage) out.push_back({frameSentence("PMTK010,001"), 0, 0, false});
}

std::vector<OutChunk> ReceiverModel::ackChunks(std::string ack) const {
  const BinaryFaults& f = options_.binaryFaults;
  std::vector<OutChunk> out;
  if (f.splitAcks && f.splitAckAt > 0 && static_cast<std::size_t>(f.splitAckAt) < ack.size()) {
    const std::size_t cut = static_cast<std::size_t>(f.splitAckAt);
    out.push_back({ack.substr(0, cut), 0, 0, false});
    out.push_back({ack.substr(cut), f.splitGapMs, 0, false});
  } else {
    out.push_back({std::move(ack), 0, 0, false});
  }
  return out;
}

std::vector<OutChunk> ReceiverModel::handleBinary(const BinaryPacket& packet, SimMs now) {
  binaryPackets_.push_back(packet);
  sawBinaryPacket_ = true;
  const BinaryFaults& f = options_.binaryFaults;
  std::vector<OutChunk> out;
  if (packet.command == kCmdEpoData && packet.payload.size() >= 2) {
    const std::uint16_t seq = readU16(packet.payload, 0);
    const bool closing = seq == kEpoClosingSeq;
    if (!closing) uploadedRecords_.append(packet.payload, 2, std::string::npos);
    if (f.silentAfter >= 0 && (closing || seq > f.silentAfter)) return out;
    if (closing && !f.ackClosingPacket) return out;
    if (!closing && f.junkBeforeAck > 0 && (f.junkAtSeq < 0 || f.junkAtSeq == seq)) {
      for (int k = 0; k < f.junkBeforeAck; ++k) {
        // 14 bytes: a status report of the kind a receiver sends unasked.
        out.push_back({buildFrame(0x0100, std::string("\x00\x01\x02\x03\x04", 5)), 0, 0, false});
      }
    }
    const std::uint8_t result = (!closing && seq == f.rejectSeq) ? 0 : 1;
    const std::uint16_t ackSeq = (!closing && seq == f.wrongSeqAt) ? static_cast<std::uint16_t>(seq + 1) : seq;
    std::string ack = buildAck(kCmdAckEpo, ackSeq, result);
    if (!closing && seq == f.corruptAckAt) ack[9] = static_cast<char>(ack[9] ^ 0x5A);
    for (OutChunk& c : ackChunks(std::move(ack))) out.push_back(std::move(c));
    return out;
  }
  if (packet.command == kCmdSetOutput && packet.payload.size() >= 5) {
    if (packet.payload[0] == 0) {
      const std::uint32_t baud = readU32(packet.payload, 1);
      binaryMode_ = false;
      modeAckAt_ = kNever;
      finishUpload(now);
      nextCycleAt_ = now + periodMs_;
      inLine_ = false;
      // A baud field of 0 (a rate the sender did not know) keeps the present speed.
      if (baud != 0) baud_ = baud;
      if (baud != 0) out.push_back({std::string(), 0, baud, false});
    } else {
      for (OutChunk& c : ackChunks(buildAck(kCmdAckCommand, kCmdSetOutput, kAckAccepted))) out.push_back(std::move(c));
    }
    return out;
  }
  for (OutChunk& c : ackChunks(buildAck(kCmdAckCommand, packet.command, kAckUnsupported))) out.push_back(std::move(c));
  return out;
}

void ReceiverModel::powerCycle(SimMs now) {
  binaryMode_ = false;
  modeAckAt_ = kNever;
  uploadedRecords_.clear();
  baud_ = options_.baud;
  nextCycleAt_ = now + periodMs_;
  inLine_ = false;
}

void ReceiverModel::finishUpload(SimMs now) {
  // Records that are all zero are padding of the last packet, not data.
  std::size_t records = uploadedRecords_.size() / kEpoRecordBytes;
  while (records > 0 &&
         uploadedRecords_.find_first_not_of('\0', (records - 1) * kEpoRecordBytes) >= records * kEpoRecordBytes) {
    --records;
  }
  const int sets = static_cast<int>(records / kRecordsPerSet);
  if (sets == 0) return;
  const std::int64_t first = gpsSecondsOf(utcMsAt(now)) / kEpoSetS * kEpoSetS;
  const std::int64_t last = first + (sets - 1) * kEpoSetS;
  epoOwn_ = true;
  epo_ = EpoState{sets, static_cast<long>(first / kSecondsPerWeek), static_cast<long>(first % kSecondsPerWeek),
                  static_cast<long>(last / kSecondsPerWeek), static_cast<long>(last % kSecondsPerWeek)};
}

}  // namespace sim
