// torvikel-cli ports: what Com1 ... Com99 resolve to, through the window's own resolver.
//
// Thread rule: main thread.
#include <cstdio>

#include "cli/cli_commands.h"
#include "cli/cli_common.h"
#include "link/port_names.h"

namespace {
constexpr int kHighestComNumber = 99;  // the window offers Com1 to Com99
}

const char* const kPortsHelp =
    "Usage: torvikel-cli ports\n"
    "\n"
    "Lists every port name of the window (Com1 ... Com99) that resolves to a device, with\n"
    "the device path and its description, resolved exactly as the window resolves them:\n"
    "first the port map directory ($TORVIKEL_PORT_DIR, else ~/.config/torvikel/ports),\n"
    "then the serial ports found on this machine (USB, ACM, Bluetooth, on-board). A port map\n"
    "entry that leads nowhere (empty, a directory, a loop, a link to nothing) is listed with\n"
    "what is wrong: it keeps its ComN from every other port.\n"
    "\n"
    "Exit codes: 0 at least one port listed, 1 none found, 2 usage error.\n";

int RunPorts(const CliArgs& args) {
  std::string error;
  const std::optional<ParsedArgs> parsed = ParseArgs(args, {kHelpOption}, &error);
  if (!parsed) return UsageError("ports", error);
  if (parsed->has("--help")) return WriteOut(kPortsHelp) ? kExitSuccess : kExitFailure;
  if (!parsed->positional.empty()) return UsageError("ports", "unexpected argument \"" + parsed->positional[0] + "\"");

  std::string out = "Port map directory: " + PortMapDirectory() + "\n";
  int found = 0;
  const std::vector<ResolvedPort> ports = ResolveComPorts(kHighestComNumber);
  for (int n = 1; n <= static_cast<int>(ports.size()); ++n) {
    const ResolvedPort& port = ports[static_cast<std::size_t>(n) - 1];
    char name[16];
    std::snprintf(name, sizeof name, "Com%-3d", n);
    if (port.devicePath) {
      ++found;
      out += std::string(name) + "  " + *port.devicePath + "  " + port.description + "\n";
    } else if (port.cause == LinkCause::BadMapEntry) {
      // Listed with what is wrong: the entry keeps ComN from every other port.
      out += std::string(name) + "  (none)  " + port.problem + "\n";
    }
  }
  if (!WriteOut(out)) return kExitFailure;
  if (found == 0) {
    PrintError("no serial port found");
    return kExitFailure;
  }
  return kExitSuccess;
}
