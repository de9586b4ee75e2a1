#include "report/local_tangent_plane.h"

#include <cmath>
#include <numbers>

namespace {

constexpr double kSemiMajor = 6378137.0;  // [m]
constexpr double kFlattening = 1.0 / 298.257223563;
constexpr double kE2 = kFlattening * (2.0 - kFlattening);  // first eccentricity squared
constexpr double kRadiansPerDegree = std::numbers::pi / 180.0;

struct Ecef {
  double x = 0, y = 0, z = 0;
};

Ecef EcefOf(const Geodetic& g) {
  const double lat = g.latitude * kRadiansPerDegree;
  const double lon = g.longitude * kRadiansPerDegree;
  const double sinLat = std::sin(lat);
  const double n = kSemiMajor / std::sqrt(1.0 - kE2 * sinLat * sinLat);
  const double r = (n + g.height) * std::cos(lat);
  return {r * std::cos(lon), r * std::sin(lon), (n * (1.0 - kE2) + g.height) * sinLat};
}

// Iterating on the latitude converges to well below a millimetre in a few rounds for any
// point near the earth's surface; ten bound the loop for points far from it.
Geodetic GeodeticOfEcef(const Ecef& e) {
  const double p = std::hypot(e.x, e.y);
  const double lon = std::atan2(e.y, e.x);
  double lat = std::atan2(e.z, p * (1.0 - kE2));
  double height = 0;
  for (int round = 0; round < 10; ++round) {
    const double sinLat = std::sin(lat);
    const double n = kSemiMajor / std::sqrt(1.0 - kE2 * sinLat * sinLat);
    const double cosLat = std::cos(lat);
    // Near the poles p / cos(lat) loses its digits; the z form holds there.
    height = std::fabs(cosLat) > 1e-3 ? p / cosLat - n : e.z / sinLat - n * (1.0 - kE2);
    const double next = std::atan2(e.z, p * (1.0 - kE2 * n / (n + height)));
    const bool settled = std::fabs(next - lat) < 1e-14;
    lat = next;
    if (settled) break;
  }
  return {lat / kRadiansPerDegree, lon / kRadiansPerDegree, height};
}

}  // namespace

Enu EnuOf(const Geodetic& reference, const Geodetic& point) {
  const Ecef o = EcefOf(reference);
  const Ecef p = EcefOf(point);
  const double dx = p.x - o.x, dy = p.y - o.y, dz = p.z - o.z;
  const double lat = reference.latitude * kRadiansPerDegree;
  const double lon = reference.longitude * kRadiansPerDegree;
  const double sinLat = std::sin(lat), cosLat = std::cos(lat);
  const double sinLon = std::sin(lon), cosLon = std::cos(lon);
  return {-sinLon * dx + cosLon * dy, -sinLat * cosLon * dx - sinLat * sinLon * dy + cosLat * dz,
          cosLat * cosLon * dx + cosLat * sinLon * dy + sinLat * dz};
}

Geodetic GeodeticOf(const Geodetic& reference, const Enu& offset) {
  const Ecef o = EcefOf(reference);
  const double lat = reference.latitude * kRadiansPerDegree;
  const double lon = reference.longitude * kRadiansPerDegree;
  const double sinLat = std::sin(lat), cosLat = std::cos(lat);
  const double sinLon = std::sin(lon), cosLon = std::cos(lon);
  const double e = offset.east, n = offset.north, u = offset.up;
  return GeodeticOfEcef({o.x - sinLon * e - sinLat * cosLon * n + cosLat * cosLon * u,
                         o.y + cosLon * e - sinLat * sinLon * n + cosLat * sinLon * u, o.z + cosLat * n + sinLat * u});
}
