// One sentence through checksum, split, dispatch and parser, and the chart data step that
// follows a completed satellite cycle. The front end applies the outcome; nothing here knows
// about windows, message boxes or the serial port.
//
// Thread rule: a session and the state it owns are touched by one thread at a time.
#include "link/nmea_session.h"

#include <cmath>

#include "link/nmea_parsers.h"

NmeaSession::NmeaSession() = default;

SentenceOutcome NmeaSession::handle(std::string_view sentence) {
  SentenceOutcome outcome;
  // A failure inside one sentence's handling must never reach the reader: it would stop
  // reception. Whatever the handler had assigned stays; the texts it had not reached keep
  // their previous values.
  try {
    if (!VerifyChecksum(sentence)) return outcome;
    outcome.valid = true;
    SplitFields(sentence, fields);
    outcome.route = RouteOf(fields[0]);
    switch (outcome.route) {
      case SentenceRoute::GGA: ParseGGA(fields, state); break;
      case SentenceRoute::GLL: ParseGLL(fields, state); break;
      case SentenceRoute::GSA: ParseGSA(fields, state); break;
      case SentenceRoute::GSV: ParseGSV(fields, state); break;
      case SentenceRoute::RMC: ParseRMC(fields, state, clock ? clock() : std::time(nullptr)); break;
      case SentenceRoute::VTG: ParseVTG(fields, state); break;
      case SentenceRoute::ZDA: ParseZDA(fields, state); break;
      case SentenceRoute::Chn: outcome.tickMchnIndicator = true; break;
      case SentenceRoute::Zrn001: outcome.showFixRateGroup = fields[1].substr(0, 4) == "MODE"; break;
      case SentenceRoute::Zrn818: outcome.showSetSuccessful = true; break;
      case SentenceRoute::MtkReply:  // the front end passes `fields` to the reply handler
      case SentenceRoute::None: break;
    }
  } catch (...) {
  }
  outcome.gsvCycleComplete = state.gsvCycleComplete;
  return outcome;
}

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
