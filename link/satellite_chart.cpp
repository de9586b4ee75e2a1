// The latest GSV cycles of every system as chart data.
//
// Thread rule: the state belongs to the thread that handles sentences.
#include "link/satellite_chart.h"

#include <cmath>

#include "link/number_text.h"

std::vector<ChartSatellite> TakeChartSatellites(ReceiverState& state) {
  std::vector<ChartSatellite> satellites;
  if (!state.gsvCycleComplete) return satellites;
  constexpr double kPi = 3.141592653589793;
  const SatelliteTables& tables = state.satellites;
  tables.forEachShown([&](const SatelliteReport& s) {
    ChartSatellite sat;
    sat.system = s.system;
    sat.snr = static_cast<int>(AtolOf(s.snr));
    sat.used = tables.isUsed(s.system, s.prn);
    sat.color = sat.used ? kUsedSatelliteColor : kUnusedSatelliteColor;
    const double elevation = static_cast<double>(AtolOf(s.elevation)) * kPi * (1.0 / 180.0);
    const double azimuth = static_cast<double>(AtolOf(s.azimuth)) * kPi * (1.0 / 180.0);
    sat.x = 100.0 * std::cos(elevation) * std::sin(azimuth);
    sat.y = 100.0 * std::cos(elevation) * std::cos(azimuth);
    const std::string_view letter = GnssSystemLetter(s.system);
    sat.label.reserve(letter.size() + s.prn.size());
    sat.label.append(letter).append(s.prn);
    sat.prn = s.prn;
    sat.elevationText = s.elevation;
    sat.azimuthText = s.azimuth;
    sat.snrText = s.snr;
    satellites.push_back(std::move(sat));
  });
  state.gsvCycleComplete = false;
  return satellites;
}
