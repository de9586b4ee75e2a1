// The satellites of a completed GSV cycle as chart data, and the emptying of the table.
//
// Thread rule: the state belongs to the thread that handles sentences.
#include "link/satellite_chart.h"

#include <cmath>

#include "link/number_text.h"

std::uint32_t PrnColor(std::string_view prn, const Display_SatInfo_st& info) {
  for (std::size_t i = 0; i < 12; ++i) {
    if (info.usedPrn[i] == prn) return kUsedSatelliteColor;
  }
  return kUnusedSatelliteColor;
}

std::vector<ChartSatellite> TakeChartSatellites(ReceiverState& state) {
  std::vector<ChartSatellite> satellites;
  if (!state.gsvCycleComplete) return satellites;
  constexpr double kPi = 3.141592653589793;
  Display_SatInfo_st& info = state.satInfo;
  for (std::size_t k = 0; k < static_cast<std::size_t>(kSatSlots); ++k) {
    if (AtolOf(info.satPrn[k]) == 0) continue;
    ChartSatellite sat;
    sat.snr = static_cast<int>(AtolOf(info.satSnr[k]));
    sat.color = PrnColor(info.satPrn[k], info);
    sat.used = sat.color == kUsedSatelliteColor;
    const double elevation = static_cast<double>(AtolOf(info.satElevation[k])) * kPi * (1.0 / 180.0);
    const double azimuth = static_cast<double>(AtolOf(info.satAzimuth[k])) * kPi * (1.0 / 180.0);
    sat.x = 100.0 * std::cos(elevation) * std::sin(azimuth);
    sat.y = 100.0 * std::cos(elevation) * std::cos(azimuth);
    sat.prn = std::move(info.satPrn[k]);
    sat.elevationText = std::move(info.satElevation[k]);
    sat.azimuthText = std::move(info.satAzimuth[k]);
    sat.snrText = std::move(info.satSnr[k]);
    info.satPrn[k].clear();
    info.satElevation[k].clear();
    info.satAzimuth[k].clear();
    info.satSnr[k].clear();
    satellites.push_back(std::move(sat));
  }
  state.gsvCycleComplete = false;
  return satellites;
}
