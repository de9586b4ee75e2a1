// torvikel-cli ports: what Com1 ... Com99 resolve to, through the window's own resolver, and
// with --probe the rate each one talks at.
//
// Thread rule: main thread; with --probe one thread a port, each with its own port, joined
// before anything is printed.
#include <cstdio>
#include <thread>
#include <vector>

#include "cli/cli_commands.h"
#include "cli/cli_common.h"
#include "cli/cli_detect.h"
#include "link/port_names.h"

namespace {
constexpr int kHighestComNumber = 99;  // the window offers Com1 to Com99

struct Listed {
  std::string name;  // "Com3", or the name given to --probe
  ResolvedPort resolved;
  ProbeOutcome probe;
};

std::string lineOf(const Listed& port, bool probed) {
  char name[16];
  std::snprintf(name, sizeof name, "%-6s", port.name.c_str());
  if (!port.resolved.devicePath && port.resolved.cause == LinkCause::BadMapEntry) {
    // Listed with what is wrong: the entry keeps its ComN from every other port.
    return std::string(name) + "  (none)  " + port.resolved.problem + "\n";
  }
  std::string line =
      std::string(name) + "  " + port.resolved.devicePath.value_or("-") + "  " + port.resolved.description;
  if (probed) line += (port.probe.baud != 0 ? "  talks at " : "  ") + port.probe.text;
  return line + "\n";
}
}  // namespace

const char* const kPortsHelp =
    "Usage: torvikel-cli ports [--probe [PORT ...]]\n"
    "\n"
    "Lists every port name of the window (Com1 ... Com99) that resolves to a device, with\n"
    "the device path and its description, resolved exactly as the window resolves them:\n"
    "first the port map directory ($TORVIKEL_PORT_DIR, else ~/.config/torvikel/ports),\n"
    "then the serial ports found on this machine (USB, ACM, Bluetooth, on-board). A port map\n"
    "entry that leads nowhere (empty, a directory, a loop, a link to nothing) is listed with\n"
    "what is wrong: it keeps its ComN from every other port.\n"
    "\n"
    "--probe also listens to each port (all at once) and says the rate its receiver talks\n"
    "at, found as --baud auto finds it (at most 25 s), or \"silent\", or why the port could\n"
    "not be opened. It only reads: nothing is ever written to a port. Port names or device\n"
    "paths after --probe probe only those.\n"
    "\n"
    "Exit codes: 0 at least one port listed, 1 none found, 2 usage error.\n";

int RunPorts(const CliArgs& args) {
  std::string error;
  const std::optional<ParsedArgs> parsed = ParseArgs(args, {{"--probe", false}, kHelpOption}, &error);
  if (!parsed) return UsageError("ports", error);
  if (parsed->has("--help")) return WriteOut(kPortsHelp) ? kExitSuccess : kExitFailure;
  const bool probe = parsed->has("--probe");
  if (!probe && !parsed->positional.empty()) {
    return UsageError("ports", "unexpected argument \"" + parsed->positional[0] + "\"");
  }

  std::vector<Listed> ports;
  if (!parsed->positional.empty()) {
    for (const std::string& name : parsed->positional) ports.push_back({name, ResolvePort(name, true), {}});
  } else {
    const std::vector<ResolvedPort> all = ResolveComPorts(kHighestComNumber);
    for (std::size_t i = 0; i < all.size(); ++i) {
      if (all[i].devicePath || all[i].cause == LinkCause::BadMapEntry) {
        ports.push_back({"Com" + std::to_string(i + 1), all[i], {}});
      }
    }
  }
  if (probe) {
    // Each port on a thread of its own: a silent port takes the whole time of every rate,
    // and the ports do not wait for one another.
    std::vector<std::thread> probes;
    for (Listed& port : ports) probes.emplace_back([&port] { port.probe = ProbePort(port.name); });
    for (std::thread& t : probes) t.join();
  }
  std::string out = "Port map directory: " + PortMapDirectory() + "\n";
  for (const Listed& port : ports) out += lineOf(port, probe);
  if (!WriteOut(out)) return kExitFailure;
  if (ports.empty()) {
    PrintError("no serial port found");
    return kExitFailure;
  }
  return kExitSuccess;
}
