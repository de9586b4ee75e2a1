// The commands of torvikel-cli send by name: how many arguments each takes, how its
// arguments become the command sequence (their bounds checked before anything is sent), the
// line printed once it is accepted, and whether it is a setting that a settings file may
// hold. The same table reads send's command line and every line of a settings file (config
// apply), so a setting is written the same way in both.
//
// Thread rule: the table is built once, on first use, and only read.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "commands/receiver_commands.h"

// What a command sends and waits for, from its arguments; nothing and *error (the bound that
// an argument broke, in words) when they do not make one. expect: send's --expect.
using SendPlanner = std::function<std::optional<CommandSequence>(const std::vector<std::string>& args,
                                                                 const std::string& expect, std::string* error)>;

struct SendCommand {
  std::string_view name;
  int leastArguments = 0;
  int mostArguments = 0;
  SendPlanner plan;
  std::string_view acceptedText = {};  // printed once the command is accepted
  bool setting = false;                // a settings file may hold it
  bool takesExpect = false;            // --expect names its reply
  bool movesLine = false;              // the line's speed follows the receiver's (send baud)
};

const std::vector<SendCommand>& SendCommands();
const SendCommand* FindSendCommand(std::string_view name);

// Words such as {"sbas", "on"}: the command they name, its arguments counted and checked.
// Nothing, and *error in words ("unknown command \"x\"", "sbas takes 1 argument, not 2", a
// bound), when they make no command; *found is the command once its name is known.
std::optional<CommandSequence> PlanSendWords(const std::vector<std::string>& words, const std::string& expect,
                                             std::string* error, const SendCommand** found = nullptr);
