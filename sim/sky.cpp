// Position and satellite geometry of the simulated receiver; see sky.h.
//
// Thread rule: immutable after construction.
#include "sim/sky.h"

#include <algorithm>
#include <cmath>
#include <iterator>

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
constexpr Pass kGpsPasses[] = {
    {3, 2700, 1800, 0, 78, 20, 200},      {7, 3000, 1500, 600, 45, 300, 120},   {9, 2400, 1200, 1500, 62, 150, 330},
    {12, 3300, 1700, 300, 30, 250, 350},  {16, 2900, 1600, 2100, 85, 100, 280}, {19, 3100, 1400, 900, 20, 170, 230},
    {22, 2600, 1500, 1800, 55, 340, 160}, {25, 3200, 1800, 2500, 70, 60, 250},  {27, 2800, 1300, 400, 38, 200, 20},
    {29, 3000, 1600, 1200, 50, 280, 90},  {31, 2500, 1100, 2000, 25, 30, 110},  {6, 3300, 1700, 2900, 66, 120, 300},
    {14, 2750, 1500, 100, 42, 320, 200},  {21, 3050, 1650, 2600, 80, 10, 190},
};

// GLONASS satellites go in the GSV as 64 + slot number.
constexpr Pass kGlonassPasses[] = {
    {65, 2900, 1700, 200, 72, 340, 150}, {66, 3100, 1500, 1300, 35, 60, 200},  {67, 2700, 1400, 2200, 58, 200, 10},
    {68, 3300, 1800, 700, 81, 110, 290}, {72, 2600, 1300, 1900, 28, 250, 320}, {73, 3000, 1600, 2600, 64, 20, 230},
    {74, 2800, 1500, 500, 44, 300, 100}, {79, 2500, 1200, 1100, 50, 80, 260},  {81, 3050, 1650, 2400, 76, 190, 350},
    {82, 2750, 1450, 100, 33, 330, 40},  {84, 3150, 1750, 2000, 60, 130, 310}, {88, 2950, 1550, 2700, 68, 0, 180},
};

constexpr Pass kGalileoPasses[] = {
    {1, 3400, 1900, 300, 74, 40, 220},    {2, 3000, 1500, 1700, 48, 290, 110}, {4, 2800, 1600, 2300, 57, 160, 340},
    {7, 2900, 1700, 100, 83, 90, 270},    {9, 3100, 1300, 2500, 36, 350, 170}, {11, 2700, 1500, 1200, 62, 120, 30},
    {12, 3300, 1800, 2800, 45, 260, 80},  {19, 2600, 1400, 600, 70, 10, 200},  {24, 3050, 1600, 2000, 31, 180, 250},
    {26, 2950, 1700, 1400, 54, 310, 140}, {30, 3150, 1500, 400, 79, 70, 250},  {36, 3250, 1750, 1000, 66, 230, 50},
};

// Inclined geosynchronous satellites (6 to 16) stay up longer than the medium orbits.
constexpr Pass kBeidouPasses[] = {
    {6, 4000, 2600, 500, 62, 170, 10},    {7, 4200, 2800, 1800, 48, 200, 340},  {9, 3900, 2400, 3000, 71, 140, 20},
    {10, 4100, 2500, 1100, 35, 220, 300}, {13, 3800, 2300, 2600, 58, 190, 350}, {16, 4300, 2700, 300, 44, 150, 30},
    {19, 2800, 1500, 900, 66, 60, 240},   {20, 3000, 1400, 2100, 39, 280, 100}, {21, 2700, 1600, 1500, 77, 330, 150},
    {27, 2900, 1700, 2700, 53, 20, 210},  {29, 3100, 1500, 600, 84, 240, 60},   {32, 2600, 1200, 1900, 30, 170, 250},
    {37, 3300, 1800, 1300, 61, 290, 120},
};

// Quasi-zenith orbits: long, high passes that stay in the south.
constexpr Pass kQzssPasses[] = {
    {1, 4500, 3200, 0, 76, 160, 200},
    {2, 4500, 3200, 1500, 68, 150, 210},
    {4, 4500, 3200, 3000, 81, 170, 190},
};

struct SystemPasses {
  GnssSystem system;
  const Pass* begin;
  const Pass* end;
};

constexpr SystemPasses kSystems[] = {
    {GnssSystem::Gps, std::begin(kGpsPasses), std::end(kGpsPasses)},
    {GnssSystem::Glonass, std::begin(kGlonassPasses), std::end(kGlonassPasses)},
    {GnssSystem::Galileo, std::begin(kGalileoPasses), std::end(kGalileoPasses)},
    {GnssSystem::Beidou, std::begin(kBeidouPasses), std::end(kBeidouPasses)},
    {GnssSystem::Qzss, std::begin(kQzssPasses), std::end(kQzssPasses)},
};

// Satellites that stand still: a geostationary SBAS satellite, BeiDou's and QZSS's
// geostationary ones.
constexpr SatelliteView kStill[] = {
    {GnssSystem::Gps, 50, 48, 142, 38, true},
    {GnssSystem::Beidou, 1, 55, 130, 40, false},
    {GnssSystem::Beidou, 3, 43, 245, 36, false},
    {GnssSystem::Qzss, 3, 62, 165, 41, false},
};

// Small deterministic wobble in [-2, 2] so SNRs are not frozen; satellites of different
// systems with the same number wobble apart.
int wobble(GnssSystem system, int prn, std::int64_t second) {
  const int key = prn + 100 * static_cast<int>(system);
  std::uint32_t h = static_cast<std::uint32_t>(key) * 2654435761u ^ static_cast<std::uint32_t>(second / 3) * 40503u;
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

std::vector<SatelliteView> Sky::satellitesAt(std::int64_t utcSeconds, SystemSet systems) const {
  std::vector<SatelliteView> views;
  for (const SystemPasses& table : kSystems) {
    if ((systems & SystemBit(table.system)) == 0) continue;
    for (const Pass* pass = table.begin; pass != table.end; ++pass) {
      const std::int64_t into = ((utcSeconds + pass->phaseS) % pass->periodS + pass->periodS) % pass->periodS;
      if (into >= pass->lengthS) continue;
      const double u = static_cast<double>(into) / pass->lengthS;
      const int elevation = static_cast<int>(std::lround(pass->maxElevationDeg * std::sin(kPi * u)));
      if (elevation < 1) continue;
      double azimuth = pass->riseAzimuthDeg + (pass->setAzimuthDeg - pass->riseAzimuthDeg) * u;
      azimuth = std::fmod(azimuth + 360.0, 360.0);
      SatelliteView v;
      v.system = table.system;
      v.prn = pass->prn;
      v.elevationDeg = elevation;
      v.azimuthDeg = static_cast<int>(std::lround(azimuth)) % 360;
      // Low satellites are not tracked; higher ones get a stronger signal.
      v.snrDbHz = elevation < 5 ? -1
                                : 18 + static_cast<int>(std::lround(27.0 * std::sin(elevation * kPi / 180.0))) +
                                      wobble(table.system, pass->prn, utcSeconds);
      views.push_back(v);
    }
  }
  for (const SatelliteView& still : kStill) {
    if ((systems & SystemBit(still.system)) == 0) continue;
    SatelliteView v = still;
    v.snrDbHz += wobble(v.system, v.prn, utcSeconds);
    views.push_back(v);
  }
  std::stable_sort(views.begin(), views.end(),
                   [](const SatelliteView& a, const SatelliteView& b) { return a.elevationDeg > b.elevationDeg; });
  return views;
}

}  // namespace sim
