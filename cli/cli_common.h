// What every command of torvikel-cli shares: exit codes, the stop request of Ctrl-C and
// SIGTERM, one-line error messages, the small option parser, and the port options.
//
// Thread rule: the stop flag may be read from any thread and is set by the signal handler;
// everything else belongs to the main thread.
#pragma once

#include <atomic>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "link/interruptible_write.h"
#include "link/link_error.h"

inline constexpr int kExitSuccess = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;

inline constexpr const char* kProgramName = "torvikel-cli";
inline constexpr const char* kDefaultPortText = "Com1";
inline constexpr const char* kDefaultBaudText = "115200";

// Set by SIGINT and SIGTERM once InstallStopSignals() has run.
std::atomic<bool>& StopRequested();
void InstallStopSignals();

// "torvikel-cli: <message>" on standard error, always one line: line breaks inside the
// message (some of the receiver's own texts carry them) are folded into blanks.
void PrintError(std::string_view message);
// A failed connect step: its text, on one line as PrintError writes it. The cause it carries
// (device, errno) is for the line to name it.
void PrintLinkError(const LinkError& error);

// The same text folded onto one line, for stdout.
std::string OneLine(std::string_view text);

bool StdoutIsTerminal();

// Writes all of text to stdout. A reader that stops reading holds it up only until Ctrl-C
// or SIGTERM. False when not all of it went out; LastOutputEnd() then says why (PeerClosed:
// the reader closed the pipe, as `| head` does).
bool WriteOut(std::string_view text);
WriteEnd LastOutputEnd();

// Options of one command: "--name value", "--name=value", flags without a value, the rest
// positional. "--" ends the options.
struct OptionDef {
  std::string name;  // "--port"
  bool takesValue = false;
};
struct ParsedArgs {
  std::vector<std::string> positional;
  std::map<std::string, std::string> values;
  std::set<std::string> flags;
  bool has(const std::string& name) const { return flags.count(name) > 0 || values.count(name) > 0; }
  std::string value(const std::string& name, const std::string& fallback) const {
    const auto it = values.find(name);
    return it == values.end() ? fallback : it->second;
  }
};
// nullopt and *error set on an unknown option or a missing value.
std::optional<ParsedArgs> ParseArgs(const std::vector<std::string>& args, const std::vector<OptionDef>& defs,
                                    std::string* error);

// --port and --baud, shared by every command that opens the receiver's port.
inline const OptionDef kPortOption{"--port", true};
inline const OptionDef kBaudOption{"--baud", true};
inline const OptionDef kHelpOption{"--help", false};

// A time-out option in seconds ("3", "0.5"); nullopt unless a number above 0 and at most a day.
std::optional<double> ParseSeconds(const std::string& text);
// Such a time as the messages say it: "3 s", "0.5 s".
std::string SecondsText(double seconds);

// Writes text to path whole or not at all: into a file beside it (FILE.part-PID), synced,
// then renamed over it, so an interrupted or failed write leaves no half file. False, the
// cause in *why, and nothing of it left otherwise.
bool WriteFileWhole(const std::string& path, const std::string& text, std::string* why);

// Prints a usage error and the hint to --help; returns kExitUsage.
int UsageError(std::string_view command, std::string_view message);
