// Command sequences of the restart, output-rate, fix-rate, DGPS, version and EPO buttons
// and of the connect step.
//
// Thread rule: builders are pure; the runner writes on the calling thread.
#include "commands/receiver_commands.h"

#include <cstdio>

namespace {

constexpr int kShortPauseMs = 5;       // between a setting and its follow-up query
constexpr int kFixRatePauseMs = 200;   // the receiver re-plans its cycle after PMTK300
constexpr int kFixRateResetPauseMs = 1000;
constexpr int kTenHzPeriodMs = 100;
constexpr std::array<int, 6> kFixPeriodsMs = {1000, 500, 333, 250, 200, 100};

CommandStep Fixed(const FixedCommand& command, int pauseAfterMs = 0) {
  return {std::string(command.bytes()), pauseAfterMs};
}

CommandStep Framed(std::string_view body, int pauseAfterMs = 0) {
  return {FrameCommand(body), pauseAfterMs};
}

int RateOrZero(int index) {
  return (index >= 0 && index <= kMaxOutputRate) ? index : 0;
}

}  // namespace

void RunCommandSequence(CommandPort& port, const CommandSequence& sequence) {
  for (const CommandStep& step : sequence) {
    port.write(step.bytes.data(), step.bytes.size());
    if (step.pauseAfterMs > 0) port.pauseMs(step.pauseAfterMs);
  }
}

int SequenceDurationMs(const CommandSequence& sequence) {
  int total = 0;
  for (const CommandStep& step : sequence) total += step.pauseAfterMs > 0 ? step.pauseAfterMs : 0;
  return total;
}

CommandSequence RestartCommands(RestartKind kind) {
  switch (kind) {
    case RestartKind::Hot: return {Fixed(kHotRestart)};
    case RestartKind::Warm: return {Fixed(kWarmRestart)};
    case RestartKind::Cold: return {Fixed(kColdRestart)};
  }
  return {};
}

std::string SetOutputRatesBody(const RateIndices& rates) {
  auto rate = [&rates](NmeaKind kind) { return RateOrZero(rates[static_cast<std::size_t>(kind)]); };
  char body[96];
  std::snprintf(body, sizeof body, "$PMTK314,%d,%d,%d,%d,%d,%d,0,0,0,0,0,0,0,0,0,0,0,%d,%d",
                rate(NmeaKind::GLL), rate(NmeaKind::RMC), rate(NmeaKind::VTG), rate(NmeaKind::GGA),
                rate(NmeaKind::GSA), rate(NmeaKind::GSV), rate(NmeaKind::ZDA), rate(NmeaKind::MCHN));
  return body;
}

CommandSequence SetOutputRatesCommands(const RateIndices& rates) {
  return {Framed(SetOutputRatesBody(rates), kShortPauseMs), Fixed(kOutputRateQueryShort)};
}

CommandSequence DefaultOutputRatesCommands() {
  return {Fixed(kDefaultOutputRates, kShortPauseMs), Fixed(kOutputRateQueryShort)};
}

CommandSequence OutputRateQueryCommands() { return {Fixed(kOutputRateQuery)}; }

std::optional<int> FixPeriodMsOfIndex(int cbFixIndex) {
  if (cbFixIndex < 0 || cbFixIndex >= static_cast<int>(kFixPeriodsMs.size())) return std::nullopt;
  return kFixPeriodsMs[static_cast<std::size_t>(cbFixIndex)];
}

std::optional<int> FixIndexOfPeriodMs(long fixPeriodMs) {
  for (std::size_t i = 0; i < kFixPeriodsMs.size(); ++i) {
    if (kFixPeriodsMs[i] == fixPeriodMs) return static_cast<int>(i);
  }
  return std::nullopt;
}

std::string SetFixPeriodBody(int fixPeriodMs) {
  char body[48];
  std::snprintf(body, sizeof body, "$PMTK300,%d,0,0,0,0", fixPeriodMs);
  return body;
}

CommandSequence SetFixPeriodCommands(int cbFixIndex) {
  const std::optional<int> fixPeriodMs = FixPeriodMsOfIndex(cbFixIndex);
  if (!fixPeriodMs) return {};
  CommandSequence sequence{Framed(SetFixPeriodBody(*fixPeriodMs), kFixRatePauseMs)};
  // At ten fixes a second DGPS is not offered (the period reply disables its controls on the
  // models that run that fast), so its two queries are left out.
  if (*fixPeriodMs > kTenHzPeriodMs) {
    sequence.push_back(Fixed(kDgpsModeQuery, kFixRatePauseMs));
    sequence.push_back(Fixed(kDgpsCompanionQuery, kFixRatePauseMs));
  }
  sequence.push_back(Fixed(kFixPeriodQuery, kFixRatePauseMs));
  return sequence;
}

CommandSequence FixPeriodQueryCommands() { return {Fixed(kFixPeriodQuery)}; }

CommandSequence FixRateResetCommands() {
  return {Framed(kFixRateResetBody, kFixRateResetPauseMs), Fixed(kFixPeriodQuery)};
}

int DgpsModeOf(bool rbWAASChecked, bool rbRTCMChecked, bool rbDisableChecked) {
  if (rbWAASChecked) return 2;
  if (rbRTCMChecked) return 1;
  if (rbDisableChecked) return 0;
  return 0;
}

std::string SetDgpsModeBody(int mode) {
  char body[32];
  std::snprintf(body, sizeof body, "$PMTK301,%d", mode);
  return body;
}

CommandSequence SetDgpsModeCommands(int mode) {
  return {Framed(SetDgpsModeBody(mode), kShortPauseMs), Fixed(kDgpsModeQueryShort)};
}

CommandSequence DgpsQueryCommands() {
  return {Fixed(kDgpsModeQuery), Fixed(kDgpsCompanionQuery)};
}

CommandSequence VersionQueryCommands() { return {Fixed(kVersionQuery)}; }

CommandSequence EpoStateQueryCommands() { return {Fixed(kEpoStateQuery)}; }

CommandSequence EpoClearCommands() { return {Fixed(kEpoClear)}; }

CommandSequence ConnectQueryCommands() {
  return {Fixed(kOutputRateQueryShort, kShortPauseMs), Fixed(kVersionQuery, kShortPauseMs),
          Framed(kModeQueryBody, kShortPauseMs), Fixed(kFixPeriodQuery)};
}

CommandSequence BinaryProtocolSwitchCommands() { return {Fixed(kBinaryProtocolSwitch)}; }
