// The table of torvikel-cli send's commands. See send_commands.h.
//
// Thread rule: the table is a function-local static, built once.
#include "cli/send_commands.h"

#include <algorithm>

#include "commands/pmtk_replies.h"
#include "commands/receiver_settings.h"
#include "link/number_text.h"

namespace {

SendPlanner fixed(CommandSequence (*build)()) {
  return [build](const std::vector<std::string>&, const std::string&, std::string*) {
    return std::optional<CommandSequence>(build());
  };
}

SendPlanner restart(RestartKind kind) {
  return [kind](const std::vector<std::string>&, const std::string&, std::string*) {
    return std::optional<CommandSequence>(RestartCommands(kind));
  };
}

// A whole number in [low, high], written with one to six decimal digits and nothing else.
std::optional<int> wholeNumber(const std::string& text, int low, int high) {
  if (text.empty() || text.size() > 6 || text.find_first_not_of("0123456789") != std::string::npos) return std::nullopt;
  const long value = AtolOf(text);
  if (value < low || value > high) return std::nullopt;
  return static_cast<int>(value);
}

std::optional<CommandSequence> planRates(const std::vector<std::string>& args, const std::string&, std::string* error) {
  RateIndices rates{};
  for (const NmeaKindRow& row : kNmeaKinds) {
    const std::string& arg = args[IndexOf(row.kind)];
    const std::optional<int> rate = wholeNumber(arg, 0, kMaxOutputRate);
    if (!rate) {
      *error = "the rate of " + std::string(row.name) + " must be 0 to " + std::to_string(kMaxOutputRate) + ", not \"" +
               arg + "\"";
      return std::nullopt;
    }
    rates[IndexOf(row.kind)] = *rate;
  }
  return SetOutputRatesCommands(rates);
}

// The fix-rate list's items are the fixes a second: "1" to "5", then "10".
std::optional<int> fixIndexOfHz(const std::string& text) {
  if (text == kTenFixesEntry) return kTenFixesIndex;
  const std::optional<int> hz = wholeNumber(text, 1, kTenFixesIndex);
  if (!hz) return std::nullopt;
  return *hz - 1;
}

std::optional<CommandSequence> planFixRate(const std::vector<std::string>& args, const std::string&,
                                           std::string* error) {
  const std::optional<int> index = fixIndexOfHz(args[0]);
  if (!index) {
    *error = "the fix rate must be 1, 2, 3, 4, 5 or 10 fixes a second, not \"" + args[0] + "\"";
    return std::nullopt;
  }
  return SetFixPeriodCommands(*index);
}

std::optional<CommandSequence> planDgps(const std::vector<std::string>& args, const std::string&, std::string* error) {
  if (const std::optional<DgpsMode> mode = DgpsModeNamed(args[0])) return SetDgpsModeCommands(*mode);
  *error = "the DGPS mode must be none, rtcm or sbas, not \"" + args[0] + "\"";
  return std::nullopt;
}

std::optional<CommandSequence> planRaw(const std::vector<std::string>& args, const std::string& expect,
                                       std::string* error) {
  std::string problem;
  std::optional<CommandSequence> sequence = RawCommands(args[0], expect, &problem);
  if (!sequence) *error = "raw: " + problem;
  return sequence;
}

std::optional<CommandSequence> planBaud(const std::vector<std::string>& args, const std::string&, std::string* error) {
  if (const std::optional<std::uint32_t> baud = NmeaBaudRateNamed(args[0])) return BaudRateCommands(*baud);
  *error = "the line speed must be " + NmeaBaudRatesText() + " baud, not \"" + args[0] + "\"";
  return std::nullopt;
}

}  // namespace

const std::vector<SendCommand>& SendCommands() {
  static const std::vector<SendCommand> commands = {
      {"hot", 0, 0, restart(RestartKind::Hot)},
      {"warm", 0, 0, restart(RestartKind::Warm)},
      {"cold", 0, 0, restart(RestartKind::Cold)},
      {"rates", kNmeaKindCount, kNmeaKindCount, planRates, {}, true},
      {"default-rates", 0, 0, fixed(DefaultOutputRatesCommands), {}, true},
      {"query-rates", 0, 0, fixed(OutputRateQueryCommands)},
      {"fix-rate", 1, 1, planFixRate, {}, true},
      {"query-fix", 0, 0, fixed(FixPeriodQueryCommands)},
      {"fix-reset", 0, 0, fixed(FixRateResetCommands)},
      {"dgps", 1, 1, planDgps, {}, true},
      {"query-dgps", 0, 0, fixed(DgpsQueryCommands)},
      {"version", 0, 0, fixed(VersionQueryCommands)},
      {"epo-query", 0, 0, fixed(EpoStateQueryCommands)},
      {"epo-clear", 0, 0, fixed(EpoClearCommands), kEpoClearedText},
      {"raw", 1, 1, planRaw, {}, true, true},
      {"baud", 1, 1, planBaud, {}, false, false, true},
  };
  return commands;
}

const SendCommand* FindSendCommand(std::string_view name) {
  const auto& commands = SendCommands();
  const auto found =
      std::find_if(commands.begin(), commands.end(), [&](const SendCommand& c) { return c.name == name; });
  return found == commands.end() ? nullptr : &*found;
}

std::optional<CommandSequence> PlanSendWords(const std::vector<std::string>& words, const std::string& expect,
                                             std::string* error, const SendCommand** found) {
  if (found != nullptr) *found = nullptr;
  if (words.empty()) {
    *error = "which command? (hot, rates, version ...)";
    return std::nullopt;
  }
  const SendCommand* command = FindSendCommand(words[0]);
  if (command == nullptr) {
    *error = "unknown command \"" + words[0] + "\"";
    return std::nullopt;
  }
  if (found != nullptr) *found = command;
  const std::vector<std::string> args(words.begin() + 1, words.end());
  const int given = static_cast<int>(args.size());
  if (given < command->leastArguments || given > command->mostArguments) {
    const int least = command->leastArguments;
    const int most = command->mostArguments;
    const std::string wanted =
        least == most ? std::to_string(least) : std::to_string(least) + " to " + std::to_string(most);
    *error = std::string(command->name) + " takes " + wanted + " argument" + (most == 1 ? "" : "s") + ", not " +
             std::to_string(given);
    return std::nullopt;
  }
  if (!expect.empty() && !command->takesExpect) {
    *error = "--expect names the reply of raw only";
    return std::nullopt;
  }
  return command->plan(args, expect, error);
}
