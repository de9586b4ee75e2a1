// Command sequences beyond the buttons. See receiver_settings.h.
//
// Thread rule: pure.
#include "commands/receiver_settings.h"

#include <algorithm>
#include <cctype>

#include "commands/pmtk_replies.h"

namespace {

constexpr std::size_t kLongestAddress = 16;  // "PMTK514", "GPGGA", "PZRN001"

constexpr int kShortPauseMs = 5;  // between a setting and its query, as the buttons pause

ExpectedReply AckOf(long command) { return {kReplyKindOf<PmtkAck>, command}; }
// The reply of a query; the query refused (unsupported) answers too, as a refusal.
template <class Reply>
ExpectedReply ReplyOf(long query) {
  return {kReplyKindOf<Reply>, query};
}

CommandStep Framed(const std::string& body, int pauseAfterMs = 0) { return {FrameCommand(body), pauseAfterMs}; }

// A setting, then its query; the acknowledgement accepts it, the query's reply follows.
template <class Reply>
CommandSequence SetThenQuery(long command, const std::string& body, long query, const std::string& queryBody) {
  return {{Framed(body, kShortPauseMs), Framed(queryBody)}, AckOf(command), {ReplyOf<Reply>(query)}};
}

template <class Reply>
CommandSequence Query(long query, const std::string& queryBody) {
  return {{Framed(queryBody)}, ReplyOf<Reply>(query), {}};
}

constexpr std::array<std::string_view, 2> kSbasModeNames = {"test", "integrity"};  // by mode value

struct PowerModeRow {
  PowerMode mode;
  std::string_view name;
};
constexpr std::array<PowerModeRow, 5> kPowerModes = {{
    {PowerMode::Normal, "normal"},
    {PowerMode::PeriodicBackup, "periodic-backup"},
    {PowerMode::PeriodicStandby, "periodic-standby"},
    {PowerMode::AlwaysLocateStandby, "alwayslocate-standby"},
    {PowerMode::AlwaysLocateBackup, "alwayslocate-backup"},
}};

bool Periodic(PowerMode mode) { return mode == PowerMode::PeriodicBackup || mode == PowerMode::PeriodicStandby; }
bool InPeriodBounds(long ms) { return ms >= kLeastPeriodMs && ms <= kMostPeriodMs; }

}  // namespace

std::optional<long> PmtkCommandNumber(std::string_view body) { return PmtkReplyNumber(body.substr(0, body.find(','))); }

std::optional<CommandSequence> RawCommands(std::string_view body, std::string_view expectAddress,
                                           std::string* problem) {
  if (std::optional<std::string> why = CommandBodyProblem(body)) {
    *problem = *why;
    return std::nullopt;
  }
  const std::optional<long> number = PmtkCommandNumber(body);
  CommandSequence sequence{{{FrameCommand("$" + std::string(body)), 0}}, std::nullopt, {}};
  if (expectAddress.empty()) {
    if (!number) {
      *problem = "\"" + std::string(body.substr(0, body.find(','))) +
                 "\" is no PMTK command, so no acknowledgement answers it: name its reply with --expect";
      return std::nullopt;
    }
    sequence.acceptedBy = AckOf(*number);
    return sequence;
  }
  std::string_view address = expectAddress;
  if (address.front() == '$') address.remove_prefix(1);
  const bool wellFormed = !address.empty() && address.size() <= kLongestAddress &&
                          std::all_of(address.begin(), address.end(),
                                      [](char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; });
  if (!wellFormed) {
    *problem = "--expect takes the address of the reply, such as PMTK514, not \"" + std::string(expectAddress) + "\"";
    return std::nullopt;
  }
  ExpectedReply reply;
  reply.ackCommand = number.value_or(0);
  reply.address = std::string(address);
  sequence.acceptedBy = reply;
  return sequence;
}

std::optional<std::uint32_t> NmeaBaudRateNamed(std::string_view text) {
  if (text.empty() || text.size() > 7 || text.find_first_not_of("0123456789") != std::string_view::npos)
    return std::nullopt;
  const auto value = static_cast<std::uint32_t>(std::stoul(std::string(text)));
  for (const std::uint32_t rate : kNmeaBaudRates) {
    if (rate == value) return rate;
  }
  return std::nullopt;
}

std::string NmeaBaudRatesText() {
  std::string text;
  for (std::size_t i = 0; i < kNmeaBaudRates.size(); ++i) {
    if (i > 0) text += i + 1 == kNmeaBaudRates.size() ? " or " : ", ";
    text += std::to_string(kNmeaBaudRates[i]);
  }
  return text;
}

CommandSequence BaudRateCommands(std::uint32_t baud) {
  return {{Framed("$PMTK251," + std::to_string(baud))}, AckOf(251), {}};
}

CommandSequence SbasCommands(bool on) {
  return SetThenQuery<PmtkSbasEnabled>(313, on ? "$PMTK313,1" : "$PMTK313,0", 413, "$PMTK413");
}
CommandSequence SbasQueryCommands() { return Query<PmtkSbasEnabled>(413, "$PMTK413"); }

std::string_view SbasModeName(SbasMode mode) { return kSbasModeNames[static_cast<std::size_t>(mode)]; }

std::optional<SbasMode> SbasModeNamed(std::string_view name) {
  for (std::size_t i = 0; i < kSbasModeNames.size(); ++i) {
    if (kSbasModeNames[i] == name) return static_cast<SbasMode>(i);
  }
  return std::nullopt;
}

CommandSequence SbasModeCommands(SbasMode mode) {
  return SetThenQuery<PmtkSbasMode>(319, "$PMTK319," + std::to_string(static_cast<int>(mode)), 419, "$PMTK419");
}
CommandSequence SbasModeQueryCommands() { return Query<PmtkSbasMode>(419, "$PMTK419"); }

CommandSequence StaticNavCommands(long centimetresPs) {
  return SetThenQuery<PmtkStaticNav>(386, "$PMTK386," + SpeedTextOfCentimetres(centimetresPs), 447, "$PMTK447");
}
CommandSequence StaticNavQueryCommands() { return Query<PmtkStaticNav>(447, "$PMTK447"); }

std::string_view PowerModeName(PowerMode mode) {
  for (const PowerModeRow& row : kPowerModes) {
    if (row.mode == mode) return row.name;
  }
  return {};
}

std::optional<PowerMode> PowerModeNamed(std::string_view name) {
  for (const PowerModeRow& row : kPowerModes) {
    if (row.name == name) return row.mode;
  }
  return std::nullopt;
}

std::optional<std::string> PeriodicTimesProblem(PowerMode mode, const std::optional<PeriodicTimes>& times) {
  if (!Periodic(mode)) {
    if (times) return std::string(PowerModeName(mode)) + " takes no times";
    return std::nullopt;
  }
  if (!times) return std::string(PowerModeName(mode)) + " needs a run time and a sleep time [ms]";
  const std::string bounds = std::to_string(kLeastPeriodMs) + " to " + std::to_string(kMostPeriodMs) + " ms";
  if (!InPeriodBounds(times->runMs)) return "the run time must be " + bounds;
  if (!InPeriodBounds(times->sleepMs)) return "the sleep time must be " + bounds;
  const bool noSecond = times->secondRunMs == 0 && times->secondSleepMs == 0;
  if (noSecond) return std::nullopt;
  if (!InPeriodBounds(times->secondRunMs) || !InPeriodBounds(times->secondSleepMs))
    return "the second run and sleep times must both be 0, or " + bounds;
  if (times->secondRunMs <= times->runMs) return "the second run time must be longer than the first";
  return std::nullopt;
}

CommandSequence PowerModeCommands(PowerMode mode, const std::optional<PeriodicTimes>& times) {
  std::string body = "$PMTK225," + std::to_string(static_cast<int>(mode));
  if (Periodic(mode) && times) {
    body += "," + std::to_string(times->runMs) + "," + std::to_string(times->sleepMs) + "," +
            std::to_string(times->secondRunMs) + "," + std::to_string(times->secondSleepMs);
  }
  return {{Framed(body)}, AckOf(225), {}};
}

CommandSequence StandbyCommands() { return {{Framed("$PMTK161,0")}, AckOf(161), {}}; }

CommandSequence AicCommands(bool on) { return {{Framed(on ? "$PMTK286,1" : "$PMTK286,0")}, AckOf(286), {}}; }

CommandSequence EasyCommands(bool on) {
  return SetThenQuery<PmtkEasy>(869, on ? "$PMTK869,1,1" : "$PMTK869,1,0", 869, "$PMTK869,0");
}
CommandSequence EasyQueryCommands() { return Query<PmtkEasy>(869, "$PMTK869,0"); }
