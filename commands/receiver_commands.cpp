// Command sequences of the restart, output-rate, fix-rate, DGPS, version and EPO buttons
// and of the connect step.
//
// Thread rule: builders are pure; the runner writes on the calling thread.
#include "commands/receiver_commands.h"

#include <cstdio>

namespace {

constexpr int kShortPauseMs = 5;      // between a setting and its follow-up query
constexpr int kFixRatePauseMs = 200;  // the receiver re-plans its cycle after PMTK300
constexpr int kFixRateResetPauseMs = 1000;
constexpr int kTenHzPeriodMs = 100;
constexpr std::array<int, 6> kFixPeriodsMs = {1000, 500, 333, 250, 200, 100};

constexpr std::array<std::string_view, kNmeaKindCount> kNmeaKindNames = {"GLL", "RMC", "VTG", "GSA",
                                                                         "GSV", "GGA", "ZDA", "MCHN"};
constexpr std::array<std::string_view, 3> kDgpsModeNames = {"none", "rtcm", "sbas"};  // by mode value

// An acknowledgement that names this command; a reply of this kind.
ExpectedReply AckOf(long command) { return {ReplyKind::Ack, command}; }
ExpectedReply Reply(ReplyKind kind) { return {kind, 0}; }

CommandStep Fixed(const FixedCommand& command, int pauseAfterMs = 0) {
  return {std::string(command.bytes()), pauseAfterMs};
}

CommandStep Framed(std::string_view body, int pauseAfterMs = 0) { return {FrameCommand(body), pauseAfterMs}; }

int RateOrZero(int index) { return (index >= 0 && index <= kMaxOutputRate) ? index : 0; }

}  // namespace

void RunCommandSequence(CommandPort& port, const CommandSequence& sequence) {
  for (const CommandStep& step : sequence.steps) {
    port.write(step.bytes.data(), step.bytes.size());
    if (step.pauseAfterMs > 0) port.pauseMs(step.pauseAfterMs);
  }
}

int SequenceDurationMs(const CommandSequence& sequence) {
  int total = 0;
  for (const CommandStep& step : sequence.steps) total += step.pauseAfterMs > 0 ? step.pauseAfterMs : 0;
  return total;
}

std::string_view NmeaKindName(NmeaKind kind) { return kNmeaKindNames[static_cast<std::size_t>(kind)]; }

CommandSequence RestartCommands(RestartKind kind) {
  // Every restart ends with the receiver's start-up notice.
  const ExpectedReply notice = Reply(ReplyKind::StartupNotice);
  switch (kind) {
    case RestartKind::Hot: return {{Fixed(kHotRestart)}, notice, {}};
    case RestartKind::Warm: return {{Fixed(kWarmRestart)}, notice, {}};
    case RestartKind::Cold: return {{Fixed(kColdRestart)}, notice, {}};
  }
  return {};
}

std::string SetOutputRatesBody(const RateIndices& rates) {
  auto rate = [&rates](NmeaKind kind) { return RateOrZero(rates[static_cast<std::size_t>(kind)]); };
  char body[96];
  std::snprintf(body, sizeof body, "$PMTK314,%d,%d,%d,%d,%d,%d,0,0,0,0,0,0,0,0,0,0,0,%d,%d", rate(NmeaKind::GLL),
                rate(NmeaKind::RMC), rate(NmeaKind::VTG), rate(NmeaKind::GGA), rate(NmeaKind::GSA), rate(NmeaKind::GSV),
                rate(NmeaKind::ZDA), rate(NmeaKind::MCHN));
  return body;
}

CommandSequence SetOutputRatesCommands(const RateIndices& rates) {
  return {{Framed(SetOutputRatesBody(rates), kShortPauseMs), Fixed(kOutputRateQueryShort)},
          AckOf(314),
          {Reply(ReplyKind::OutputRates)}};
}

CommandSequence DefaultOutputRatesCommands() {
  return {{Fixed(kDefaultOutputRates, kShortPauseMs), Fixed(kOutputRateQueryShort)},
          AckOf(314),
          {Reply(ReplyKind::OutputRates)}};
}

CommandSequence OutputRateQueryCommands() { return {{Fixed(kOutputRateQuery)}, Reply(ReplyKind::OutputRates), {}}; }

std::optional<int> FixPeriodMsOfIndex(int fixRateIndex) {
  if (fixRateIndex < 0 || fixRateIndex >= static_cast<int>(kFixPeriodsMs.size())) return std::nullopt;
  return kFixPeriodsMs[static_cast<std::size_t>(fixRateIndex)];
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

CommandSequence SetFixPeriodCommands(int fixRateIndex) {
  const std::optional<int> fixPeriodMs = FixPeriodMsOfIndex(fixRateIndex);
  if (!fixPeriodMs) return {};
  CommandSequence sequence{{Framed(SetFixPeriodBody(*fixPeriodMs), kFixRatePauseMs)}, AckOf(300), {}};
  // At ten fixes a second DGPS is not offered (the period reply turns its choice off on the
  // models that run that fast), so its two queries are left out.
  if (*fixPeriodMs > kTenHzPeriodMs) {
    sequence.steps.push_back(Fixed(kDgpsModeQuery, kFixRatePauseMs));
    sequence.steps.push_back(Fixed(kDgpsCompanionQuery, kFixRatePauseMs));
    sequence.followUps.push_back(Reply(ReplyKind::DgpsMode));
  }
  sequence.steps.push_back(Fixed(kFixPeriodQuery, kFixRatePauseMs));
  sequence.followUps.push_back(Reply(ReplyKind::FixPeriod));
  return sequence;
}

CommandSequence FixPeriodQueryCommands() { return {{Fixed(kFixPeriodQuery)}, Reply(ReplyKind::FixPeriod), {}}; }

CommandSequence FixRateResetCommands() {
  return {{Framed(kFixRateResetBody, kFixRateResetPauseMs), Fixed(kFixPeriodQuery)},
          Reply(ReplyKind::FixRateReset),
          {Reply(ReplyKind::FixPeriod)}};
}

std::string_view DgpsModeName(DgpsMode mode) { return kDgpsModeNames[static_cast<std::size_t>(mode)]; }

std::optional<DgpsMode> DgpsModeNamed(std::string_view name) {
  for (std::size_t i = 0; i < kDgpsModeNames.size(); ++i) {
    if (kDgpsModeNames[i] == name) return static_cast<DgpsMode>(i);
  }
  return std::nullopt;
}

DgpsMode DgpsModeOf(bool sbasChosen, bool rtcmChosen, bool noneChosen) {
  if (sbasChosen) return DgpsMode::Sbas;
  if (rtcmChosen) return DgpsMode::Rtcm;
  if (noneChosen) return DgpsMode::None;
  return DgpsMode::None;
}

std::string SetDgpsModeBody(DgpsMode mode) {
  char body[32];
  std::snprintf(body, sizeof body, "$PMTK301,%d", static_cast<int>(mode));
  return body;
}

CommandSequence SetDgpsModeCommands(DgpsMode mode) {
  return {{Framed(SetDgpsModeBody(mode), kShortPauseMs), Fixed(kDgpsModeQueryShort)},
          AckOf(301),
          {Reply(ReplyKind::DgpsMode)}};
}

CommandSequence DgpsQueryCommands() {
  // The companion query's reply is not handled; the mode reply answers the button.
  return {{Fixed(kDgpsModeQuery), Fixed(kDgpsCompanionQuery)}, Reply(ReplyKind::DgpsMode), {}};
}

CommandSequence VersionQueryCommands() { return {{Fixed(kVersionQuery)}, Reply(ReplyKind::Version), {}}; }

CommandSequence EpoStateQueryCommands() { return {{Fixed(kEpoStateQuery)}, Reply(ReplyKind::EpoState), {}}; }

CommandSequence EpoClearCommands() { return {{Fixed(kEpoClear)}, AckOf(127), {}}; }

CommandSequence ConnectQueryCommands() {
  return {{Fixed(kOutputRateQueryShort, kShortPauseMs), Fixed(kVersionQuery, kShortPauseMs),
           Framed(kModeQueryBody, kShortPauseMs), Fixed(kFixPeriodQuery)},
          Reply(ReplyKind::OutputRates),
          {Reply(ReplyKind::Version), Reply(ReplyKind::ModeReply), Reply(ReplyKind::FixPeriod)}};
}

// After the switch the receiver speaks binary packets: no NMEA reply comes.
CommandSequence BinaryProtocolSwitchCommands() { return {{Fixed(kBinaryProtocolSwitch)}, std::nullopt, {}}; }
