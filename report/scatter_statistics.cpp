#include "report/scatter_statistics.h"

#include <algorithm>
#include <cmath>

std::size_t RankOf(double fraction, std::size_t count) {
  const double rank = std::ceil(fraction * static_cast<double>(count) - 1e-9);
  if (rank < 1) return 1;
  return std::min(count, static_cast<std::size_t>(rank));
}

std::optional<ScatterStatistics> HorizontalStatistics(const std::vector<ScatterPoint>& points) {
  if (points.size() < 2) return std::nullopt;
  ScatterStatistics s;
  s.fixes = points.size();
  const double n = static_cast<double>(points.size());
  double sumEast = 0, sumNorth = 0;
  for (const ScatterPoint& p : points) {
    sumEast += p.east;
    sumNorth += p.north;
  }
  s.meanEast = sumEast / n;
  s.meanNorth = sumNorth / n;
  // A second pass about the mean: sums of squares about the origin would lose the digits of
  // a small scatter far from the first fix.
  double varEast = 0, varNorth = 0;
  std::vector<float> distance;
  distance.reserve(points.size());
  for (const ScatterPoint& p : points) {
    const double de = p.east - s.meanEast, dn = p.north - s.meanNorth;
    varEast += de * de;
    varNorth += dn * dn;
    distance.push_back(static_cast<float>(std::hypot(de, dn)));
  }
  s.sigmaEast = std::sqrt(varEast / n);
  s.sigmaNorth = std::sqrt(varNorth / n);
  s.drms2 = 2.0 * std::sqrt((varEast + varNorth) / n);
  // Ranks counted from the nearest: the 95 % one first, then the median among those before it.
  const auto at = [&distance](std::size_t rank, std::size_t end) {
    std::nth_element(distance.begin(), distance.begin() + static_cast<std::ptrdiff_t>(rank - 1),
                     distance.begin() + static_cast<std::ptrdiff_t>(end));
    return static_cast<double>(distance[rank - 1]);
  };
  s.maxDistance = *std::max_element(distance.begin(), distance.end());
  const std::size_t rank95 = RankOf(0.95, distance.size());
  s.cep95 = at(rank95, distance.size());
  s.cep50 = at(RankOf(0.50, distance.size()), rank95);
  return s;
}
