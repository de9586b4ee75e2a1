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

// "on" or "off" for the setting named; nullopt and *error otherwise.
std::optional<bool> onOrOff(const std::string& setting, const std::string& text, std::string* error) {
  if (text == "on") return true;
  if (text == "off") return false;
  *error = setting + " takes on or off, not \"" + text + "\"";
  return std::nullopt;
}

SendPlanner switched(const char* setting, CommandSequence (*build)(bool)) {
  return [setting, build](const std::vector<std::string>& args, const std::string&,
                          std::string* error) -> std::optional<CommandSequence> {
    const std::optional<bool> on = onOrOff(setting, args[0], error);
    if (!on) return std::nullopt;
    return build(*on);
  };
}

std::optional<CommandSequence> planSbasMode(const std::vector<std::string>& args, const std::string&,
                                            std::string* error) {
  if (const std::optional<SbasMode> mode = SbasModeNamed(args[0])) return SbasModeCommands(*mode);
  *error = "the SBAS mode must be integrity or test, not \"" + args[0] + "\"";
  return std::nullopt;
}

std::optional<CommandSequence> planStaticNav(const std::vector<std::string>& args, const std::string&,
                                             std::string* error) {
  const std::optional<long> speed = SpeedCentimetresOf(args[0]);
  if (!speed || *speed > kMaxStaticNavCentimetresPs) {
    *error = "the static-navigation threshold must be 0 to 2.0 m/s, with at most two decimals, not \"" + args[0] + "\"";
    return std::nullopt;
  }
  return StaticNavCommands(*speed);
}

std::optional<CommandSequence> planPower(const std::vector<std::string>& args, const std::string&, std::string* error) {
  const std::optional<PowerMode> mode = PowerModeNamed(args[0]);
  if (!mode) {
    *error =
        "the power mode must be normal, periodic-backup, periodic-standby, alwayslocate-standby or "
        "alwayslocate-backup, not \"" +
        args[0] + "\"";
    return std::nullopt;
  }
  std::optional<PeriodicTimes> times;
  if (args.size() > 1) {
    if (args.size() != 3 && args.size() != 5) {
      *error = "power " + args[0] + " takes a run and a sleep time, and optionally a second pair [ms]";
      return std::nullopt;
    }
    long ms[4] = {};
    for (std::size_t i = 1; i < args.size(); ++i) {
      const std::optional<long> value = WholeDecimalOf(args[i]);
      if (!value) {
        *error = "times are whole milliseconds, not \"" + args[i] + "\"";
        return std::nullopt;
      }
      ms[i - 1] = *value;
    }
    times = PeriodicTimes{ms[0], ms[1], ms[2], ms[3]};
  }
  if (const std::optional<std::string> problem = PeriodicTimesProblem(*mode, times)) {
    *error = "power " + args[0] + ": " + *problem;
    return std::nullopt;
  }
  return PowerModeCommands(*mode, times);
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
      {"sbas", 1, 1, switched("sbas", SbasCommands), {}, true},
      {"query-sbas", 0, 0, fixed(SbasQueryCommands)},
      {"sbas-mode", 1, 1, planSbasMode, {}, true},
      {"query-sbas-mode", 0, 0, fixed(SbasModeQueryCommands)},
      {"static-nav", 1, 1, planStaticNav, {}, true},
      {"query-static-nav", 0, 0, fixed(StaticNavQueryCommands)},
      {"power", 1, 5, planPower, {}, true},
      {"standby", 0, 0, fixed(StandbyCommands), "The receiver is in standby; any byte sent to it wakes it."},
      {"aic", 1, 1, switched("aic", AicCommands), {}, true},
      {"easy", 1, 1, switched("easy", EasyCommands), {}, true},
      {"query-easy", 0, 0, fixed(EasyQueryCommands)},
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
