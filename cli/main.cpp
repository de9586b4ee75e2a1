// torvikel-cli: the receiver viewer and configuration tool without a window, for machines
// without a display and for scripts. It opens ports, cuts, checks and parses sentences,
// sends commands and uploads EPO data through the same core as the window.
//
// Thread rule: commands run on the main thread; a command that reads the receiver starts
// one reader thread of its own and joins it before it returns.
#include <cstdio>
#include <cstring>
#include <string>

#include "cli/cli_commands.h"
#include "cli/cli_common.h"
#include "torvikel/version.h"

namespace {

const char* const kMainHelp =
    "Usage: torvikel-cli COMMAND [OPTIONS] [ARGUMENTS]\n"
    "\n"
    "Views and configures a GPS receiver with a MediaTek chipset on a serial port, without a\n"
    "window: the headless companion of the Torvikel window.\n"
    "\n"
    "Commands:\n"
    "  ports                    what Com1 ... Com99 resolve to, with the device description\n"
    "  monitor                  the receiver's state, live on a terminal or as JSON lines\n"
    "  send COMMAND [ARGS]      a command of the window's buttons, a setting no button has,\n"
    "                           the line speed, or any command; prints the decoded reply\n"
    "  log FILE                 records the valid sentences into FILE until interrupted\n"
    "  epo-update               uploads assisted-GPS (EPO) data, downloaded or from a file\n"
    "  locus SUBCOMMAND         the receiver's own logbook: status, start, stop, erase, now,\n"
    "                           interval, download to GPX, CSV or raw\n"
    "  config save|apply FILE   the receiver's settings into a text file, or from one\n"
    "  report LOG               how good the fix was: scatter, CEP, signals, DOPs, time to fix,\n"
    "                           as an HTML page, SVG or JSON; from a log or live\n"
    "\n"
    "Common options:\n"
    "  --port P     Com1 ... Com99 as in the window, or a device path (default Com1)\n"
    "  --baud B     line speed (default 115200), or auto: the receiver's rate is found by\n"
    "               listening at 115200, 9600, 38400, 4800, 19200, 14400, 57600, 230400,\n"
    "               460800 and 921600 baud in turn (2.5 s each at most) until two valid\n"
    "               sentences arrive; the rate found is said on standard error. Nothing is\n"
    "               written to the port meanwhile.\n"
    "  --help       help of a command: torvikel-cli COMMAND --help\n"
    "\n"
    "Ports: ComN is looked up in the port map directory ($TORVIKEL_PORT_DIR, else\n"
    "~/.config/torvikel/ports; entry comN, a symbolic link to the device or a file holding\n"
    "its path), else it is the N-th serial port found (USB, ACM, Bluetooth, on-board).\n"
    "\n"
    "Exit codes: 0 success, 1 failure, 2 usage error. Errors go to standard error, one line.\n"
    "See also torvikel-cli(1).\n";

struct Command {
  const char* name;
  int (*run)(const CliArgs&);
  const char* const* help;
};

const Command kCommands[] = {
    {"ports", RunPorts, &kPortsHelp},
    {"monitor", RunMonitor, &kMonitorHelp},
    {"send", RunSend, &kSendHelp},
    {"log", RunLog, &kLogHelp},
    {"epo-update", RunEpoUpdate, &kEpoUpdateHelp},
    {"locus", RunLocus, &kLocusHelp},
    {"config", RunConfig, &kConfigHelp},
    {"report", RunReport, &kReportHelp},
};

const Command* findCommand(const std::string& name) {
  for (const Command& c : kCommands) {
    if (name == c.name) return &c;
  }
  return nullptr;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return UsageError("", "which command? ports, monitor, send, log, epo-update, locus, config or report");
  const std::string first = argv[1];
  if (first == "--help" || first == "-h") {
    return WriteOut(kMainHelp) ? kExitSuccess : kExitFailure;
  }
  if (first == "--version") {
    return WriteOut(std::string(kProgramName) + " " + TORVIKEL_VERSION + "\n") ? kExitSuccess : kExitFailure;
  }
  if (first == "help") {
    if (argc < 3) return WriteOut(kMainHelp) ? kExitSuccess : kExitFailure;
    const Command* command = findCommand(argv[2]);
    if (command == nullptr) return UsageError("", std::string("unknown command \"") + argv[2] + "\"");
    return WriteOut(*command->help) ? kExitSuccess : kExitFailure;
  }
  const Command* command = findCommand(first);
  if (command == nullptr) return UsageError("", "unknown command \"" + first + "\"");
  InstallStopSignals();
  return command->run(CliArgs(argv + 2, argv + argc));
}
