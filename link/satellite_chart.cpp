// The latest GSV cycles of every system as chart data.
//
// Thread rule: the state belongs to the thread that handles sentences; the table of whole
// degrees is built once, on first use, and only read after.
#include "link/satellite_chart.h"

#include <array>
#include <cmath>

#include "link/number_text.h"

namespace {

constexpr double kPi = 3.141592653589793;

double RadiansOf(long degrees) { return static_cast<double>(degrees) * kPi * (1.0 / 180.0); }

// Receivers send elevation and azimuth in whole degrees, so the sine and cosine of each whole
// degree a sky can hold are computed once, by the very calls that would compute them for
// each satellite: the positions come out the same to the last bit. Any other angle is
// computed as it comes.
class WholeDegrees {
 public:
  static constexpr long kLowest = -90;
  static constexpr long kHighest = 360;

  WholeDegrees() {
    for (long d = kLowest; d <= kHighest; ++d) {
      cos_[Slot(d)] = std::cos(RadiansOf(d));
      sin_[Slot(d)] = std::sin(RadiansOf(d));
    }
  }
  double cosOf(long degrees) const { return Held(degrees) ? cos_[Slot(degrees)] : std::cos(RadiansOf(degrees)); }
  double sinOf(long degrees) const { return Held(degrees) ? sin_[Slot(degrees)] : std::sin(RadiansOf(degrees)); }

 private:
  static bool Held(long degrees) { return degrees >= kLowest && degrees <= kHighest; }
  static std::size_t Slot(long degrees) { return static_cast<std::size_t>(degrees - kLowest); }

  std::array<double, kHighest - kLowest + 1> cos_{};
  std::array<double, kHighest - kLowest + 1> sin_{};
};

const WholeDegrees& Degrees() {
  static const WholeDegrees table;
  return table;
}

}  // namespace

std::vector<ChartSatellite> TakeChartSatellites(ReceiverState& state) {
  std::vector<ChartSatellite> satellites;
  if (!state.gsvCycleComplete) return satellites;
  const WholeDegrees& degrees = Degrees();
  const SatelliteTables& tables = state.satellites;
  satellites.reserve(tables.shownCount());
  tables.forEachShown([&](const SatelliteReport& s) {
    ChartSatellite& sat = satellites.emplace_back();
    sat.system = s.system;
    sat.snr = static_cast<int>(AtolOf(s.snr));
    sat.used = tables.isUsed(s.system, s.prn);
    sat.color = sat.used ? kUsedSatelliteColor : kUnusedSatelliteColor;
    const long elevation = AtolOf(s.elevation);
    const long azimuth = AtolOf(s.azimuth);
    sat.x = 100.0 * degrees.cosOf(elevation) * degrees.sinOf(azimuth);
    sat.y = 100.0 * degrees.cosOf(elevation) * degrees.cosOf(azimuth);
    const std::string_view letter = GnssSystemLetter(s.system);
    if (letter.empty()) {
      sat.label = s.prn;
    } else {
      sat.label.reserve(letter.size() + s.prn.size());
      sat.label.append(letter).append(s.prn);
    }
    sat.prn = s.prn;
    sat.elevationText = s.elevation;
    sat.azimuthText = s.azimuth;
    sat.snrText = s.snr;
  });
  state.gsvCycleComplete = false;
  return satellites;
}
