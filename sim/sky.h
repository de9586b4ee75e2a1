// What the simulated receiver "sees": a slowly moving position and satellites that rise and
// set. Pure functions of time, so a test can ask for any moment without waiting for it.
//
// Motion: a circle of 300 m radius driven once in 20 minutes (about 1.6 m/s, 3 knots),
// starting at the configured point heading north. Satellites: each GPS PRN makes passes of
// 14 to 30 minutes (faster than the real sky, so that rising and setting can be watched in a
// session) repeating every 40 to 55 minutes; one SBAS satellite stands still. GLONASS,
// Galileo, BeiDou and QZSS satellites pass the same way (BeiDou's and QZSS's geostationary
// ones stand still), so that all five systems together show up to about 45 satellites.
//
// Thread rule: immutable after construction; share freely.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sim {

// The satellite systems, in the order a multi-system receiver sends their sentences.
enum class GnssSystem { Gps, Glonass, Galileo, Beidou, Qzss };
constexpr int kSystemCount = 5;
using SystemSet = unsigned;  // bit i: GnssSystem i
constexpr SystemSet SystemBit(GnssSystem system) { return 1u << static_cast<unsigned>(system); }
constexpr SystemSet kGpsOnly = SystemBit(GnssSystem::Gps);
constexpr SystemSet kAllSystems = (1u << kSystemCount) - 1;

struct Position {
  double latitudeDeg = 0;   // north positive
  double longitudeDeg = 0;  // east positive
  double altitudeM = 0;     // above mean sea level
  double speedMps = 0;
  double courseDeg = 0;  // true, clockwise from north
};

struct SatelliteView {
  GnssSystem system = GnssSystem::Gps;
  int prn = 0;  // as the system's GSV numbers it: GLONASS 65-96, Galileo 1-36, BeiDou 1-63, QZSS 1-10
  int elevationDeg = 0;
  int azimuthDeg = 0;
  int snrDbHz = -1;  // -1: not tracked (empty SNR field)
  bool sbas = false;
};

class Sky {
 public:
  Sky(double startLatitudeDeg, double startLongitudeDeg);
  // elapsedMs: time since the receiver started; utcSeconds: the UTC of that moment (the sky
  // follows the clock, the motion follows the run).
  Position positionAt(std::int64_t elapsedMs) const;
  // Satellites of these systems above the horizon, highest first (equal elevations always
  // in the same order). The SBAS satellite comes with GPS.
  std::vector<SatelliteView> satellitesAt(std::int64_t utcSeconds, SystemSet systems = kGpsOnly) const;

 private:
  double startLatitudeDeg_;
  double startLongitudeDeg_;
};

}  // namespace sim
