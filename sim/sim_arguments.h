// Command line of torvikel-sim: turns arguments into SimOptions, and the --help text.
// Kept in the library so that tests can check the parsing without starting a process.
//
// Thread rule: plain functions, no shared state.
#pragma once

#include <string>
#include <vector>

#include "sim/sim_receiver.h"

namespace sim {

struct SimCommandLine {
  SimOptions options;
  std::string replayPath;  // --replay FILE (read by the caller)
  bool help = false;
  bool version = false;
  bool exitAtEnd = false;  // --exit-at-end: stop once a replay has been played
};

// Parses the arguments after the program name. On failure returns false with a message.
bool ParseSimArguments(const std::vector<std::string>& args, SimCommandLine& out, std::string& error);

std::string SimUsage();

}  // namespace sim
