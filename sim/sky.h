// What the simulated receiver "sees": a slowly moving position and satellites that rise and
// set. Pure functions of time, so a test can ask for any moment without waiting for it.
//
// Motion: a circle of 300 m radius driven once in 20 minutes (about 1.6 m/s, 3 knots),
// starting at the configured point heading north. Satellites: each GPS PRN makes passes of
// 14 to 30 minutes (faster than the real sky, so that rising and setting can be watched in a
// session) repeating every 40 to 55 minutes; one SBAS satellite stands still.
//
// Thread rule: immutable after construction; share freely.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sim {

struct Position {
  double latitudeDeg = 0;   // north positive
  double longitudeDeg = 0;  // east positive
  double altitudeM = 0;     // above mean sea level
  double speedMps = 0;
  double courseDeg = 0;  // true, clockwise from north
};

struct SatelliteView {
  int prn = 0;
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
  // Satellites above the horizon, highest first.
  std::vector<SatelliteView> satellitesAt(std::int64_t utcSeconds) const;

 private:
  double startLatitudeDeg_;
  double startLongitudeDeg_;
};

}  // namespace sim
