// Position and satellite geometry of the simulated receiver; see sky.h.
//
// Thread rule: immutable after construction.
#include "sim/sky.h"

#include <algorithm>
#include <cmath>

namespace sim {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kCircleRadiusM = 300.0;
constexpr double kCirclePeriodS = 1200.0;
constexpr double kMetresPerDegree = 111320.0;

struct Pass {
  int prn;
  int periodS;  // time from one rise to the next
  int lengthS;  // time above the horizon
  int phaseS;   // offset of the rise within the period
  int maxElevationDeg;
  int riseAzimuthDeg;
  int setAzimuthDeg;
};

// One-digit and two-digit PRNs, high and low passes, passes across north (azimuth wraps).
constexpr Pass kPasses[] = {
    {3, 2700, 1800, 0, 78, 20, 200},      {7, 3000, 1500, 600, 45, 300, 120},   {9, 2400, 1200, 1500, 62, 150, 330},
    {12, 3300, 1700, 300, 30, 250, 350},  {16, 2900, 1600, 2100, 85, 100, 280}, {19, 3100, 1400, 900, 20, 170, 230},
    {22, 2600, 1500, 1800, 55, 340, 160}, {25, 3200, 1800, 2500, 70, 60, 250},  {27, 2800, 1300, 400, 38, 200, 20},
    {29, 3000, 1600, 1200, 50, 280, 90},  {31, 2500, 1100, 2000, 25, 30, 110},  {6, 3300, 1700, 2900, 66, 120, 300},
    {14, 2750, 1500, 100, 42, 320, 200},  {21, 3050, 1650, 2600, 80, 10, 190},
};

constexpr SatelliteView kSbas = {50, 48, 142, 38, true};  // a geostationary SBAS satellite

// Small deterministic wobble in [-2, 2] so SNRs are not frozen.
int wobble(int prn, std::int64_t second) {
  std::uint32_t h = static_cast<std::uint32_t>(prn) * 2654435761u ^ static_cast<std::uint32_t>(second / 3) * 40503u;
  h ^= h >> 13;
  h *= 0x5bd1e995u;
  h ^= h >> 15;
  return static_cast<int>(h % 5) - 2;
}

}  // namespace

Sky::Sky(double startLatitudeDeg, double startLongitudeDeg)
    : startLatitudeDeg_(startLatitudeDeg), startLongitudeDeg_(startLongitudeDeg) {}

Position Sky::positionAt(std::int64_t elapsedMs) const {
  const double t = static_cast<double>(elapsedMs) / 1000.0;
  const double theta = 2.0 * kPi * t / kCirclePeriodS;
  const double northM = kCircleRadiusM * std::sin(theta);
  const double eastM = kCircleRadiusM * (1.0 - std::cos(theta));
  Position p;
  p.latitudeDeg = startLatitudeDeg_ + northM / kMetresPerDegree;
  const double cosLat = std::max(0.01, std::cos(startLatitudeDeg_ * kPi / 180.0));
  p.longitudeDeg = startLongitudeDeg_ + eastM / (kMetresPerDegree * cosLat);
  if (p.longitudeDeg > 180.0) p.longitudeDeg -= 360.0;
  if (p.longitudeDeg < -180.0) p.longitudeDeg += 360.0;
  p.altitudeM = 50.3 + 2.0 * std::sin(t / 300.0);
  p.speedMps = 2.0 * kPi * kCircleRadiusM / kCirclePeriodS;
  p.courseDeg = std::fmod(theta * 180.0 / kPi, 360.0);
  return p;
}

std::vector<SatelliteView> Sky::satellitesAt(std::int64_t utcSeconds) const {
  std::vector<SatelliteView> views;
  for (const Pass& pass : kPasses) {
    const std::int64_t into = ((utcSeconds + pass.phaseS) % pass.periodS + pass.periodS) % pass.periodS;
    if (into >= pass.lengthS) continue;
    const double u = static_cast<double>(into) / pass.lengthS;
    const int elevation = static_cast<int>(std::lround(pass.maxElevationDeg * std::sin(kPi * u)));
    if (elevation < 1) continue;
    double azimuth = pass.riseAzimuthDeg + (pass.setAzimuthDeg - pass.riseAzimuthDeg) * u;
    azimuth = std::fmod(azimuth + 360.0, 360.0);
    SatelliteView v;
    v.prn = pass.prn;
    v.elevationDeg = elevation;
    v.azimuthDeg = static_cast<int>(std::lround(azimuth)) % 360;
    // Low satellites are not tracked; higher ones get a stronger signal.
    v.snrDbHz = elevation < 5 ? -1
                              : 18 + static_cast<int>(std::lround(27.0 * std::sin(elevation * kPi / 180.0))) +
                                    wobble(pass.prn, utcSeconds);
    views.push_back(v);
  }
  SatelliteView sbas = kSbas;
  sbas.snrDbHz += wobble(sbas.prn, utcSeconds);
  views.push_back(sbas);
  std::stable_sort(views.begin(), views.end(),
                   [](const SatelliteView& a, const SatelliteView& b) { return a.elevationDeg > b.elevationDeg; });
  return views;
}

}  // namespace sim
