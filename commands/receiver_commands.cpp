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

constexpr std::array<std::string_view, 3> kDgpsModeNames = {"none", "rtcm", "sbas"};  // by mode value

// An acknowledgement that names this command; a reply of this kind.
ExpectedReply AckOf(long command) { return {kReplyKindOf<PmtkAck>, command}; }
template <class Reply>
ExpectedReply Awaited() {
  return {kReplyKindOf<Reply>, 0};
}

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

CommandSequence RestartCommands(RestartKind kind) {
  // Every restart ends with the receiver's start-up notice.
  const ExpectedReply notice = Awaited<PmtkStartupNotice>();
  switch (kind) {
    case RestartKind::Hot: return {{Fixed(kHotRestart)}, notice, {}};
    case RestartKind::Warm: return {{Fixed(kWarmRestart)}, notice, {}};
    case RestartKind::Cold: return {{Fixed(kColdRestart)}, notice, {}};
  }
  return {};
}

std::string SetOutputRatesBody(const RateIndices& rates) {
  std::array<int, kRateFieldCount> fields{};  // the fields no type uses go out as 0
  for (const NmeaKindRow& row : kNmeaKinds) {
    fields[static_cast<std::size_t>(row.rateField - 1)] = RateOrZero(rates[IndexOf(row.kind)]);
  }
  std::string body = "$PMTK314";
  for (const int rate : fields) {
    body += ',';
    body += static_cast<char>('0' + rate);  // 0..5: one digit
  }
  return body;
}

CommandSequence SetOutputRatesCommands(const RateIndices& rates) {
  return {{Framed(SetOutputRatesBody(rates), kShortPauseMs), Fixed(kOutputRateQueryShort)},
          AckOf(314),
          {Awaited<PmtkOutputRates>()}};
}

CommandSequence DefaultOutputRatesCommands() {
  return {{Fixed(kDefaultOutputRates, kShortPauseMs), Fixed(kOutputRateQueryShort)},
          AckOf(314),
          {Awaited<PmtkOutputRates>()}};
}

CommandSequence OutputRateQueryCommands() { return {{Fixed(kOutputRateQuery)}, Awaited<PmtkOutputRates>(), {}}; }

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
    sequence.followUps.push_back(Awaited<PmtkDgpsMode>());
  }
  sequence.steps.push_back(Fixed(kFixPeriodQuery, kFixRatePauseMs));
  sequence.followUps.push_back(Awaited<PmtkFixPeriod>());
  return sequence;
}

CommandSequence FixPeriodQueryCommands() { return {{Fixed(kFixPeriodQuery)}, Awaited<PmtkFixPeriod>(), {}}; }

CommandSequence FixRateResetCommands() {
  return {{Framed(kFixRateResetBody, kFixRateResetPauseMs), Fixed(kFixPeriodQuery)},
          Awaited<FixRateResetDone>(),
          {Awaited<PmtkFixPeriod>()}};
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
          {Awaited<PmtkDgpsMode>()}};
}

CommandSequence DgpsQueryCommands() {
  // The companion query's reply is not handled; the mode reply answers the button.
  return {{Fixed(kDgpsModeQuery), Fixed(kDgpsCompanionQuery)}, Awaited<PmtkDgpsMode>(), {}};
}

CommandSequence VersionQueryCommands() { return {{Fixed(kVersionQuery)}, Awaited<PmtkVersion>(), {}}; }

CommandSequence EpoStateQueryCommands() { return {{Fixed(kEpoStateQuery)}, Awaited<PmtkEpoState>(), {}}; }

CommandSequence EpoClearCommands() { return {{Fixed(kEpoClear)}, AckOf(127), {}}; }

CommandSequence ConnectQueryCommands() {
  return {{Fixed(kOutputRateQueryShort, kShortPauseMs), Fixed(kVersionQuery, kShortPauseMs),
           Framed(kModeQueryBody, kShortPauseMs), Fixed(kFixPeriodQuery)},
          Awaited<PmtkOutputRates>(),
          {Awaited<PmtkVersion>(), Awaited<ModeReply>(), Awaited<PmtkFixPeriod>()}};
}

// After the switch the receiver speaks binary packets: no NMEA reply comes.
CommandSequence BinaryProtocolSwitchCommands() { return {{Fixed(kBinaryProtocolSwitch)}, std::nullopt, {}}; }
