// What every command of torvikel-cli that talks to the receiver begins with: its options
// read (the port options and its own), --help answered, and the receiver's link opened with
// the window's connect steps (commands/link_session.h), each failure said in one line.
//
// Thread rule: main thread.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cli/cli_commands.h"
#include "cli/cli_common.h"
#include "commands/link_session.h"

// The command's options with --port, --baud and --help. Nothing when the command ends here:
// *exitCode then says how (a usage error, or --help written).
std::optional<ParsedArgs> ParseReceiverCommand(const CliArgs& args, std::string_view command,
                                               std::vector<OptionDef> ownOptions, const char* help, int* exitCode);

// The link that --port and --baud ask for; Ctrl-C and SIGTERM cut its connect short.
LinkOpenRequest ReceiverRequest(const ParsedArgs& parsed);

// Opens it. The failure in one line (and null); with --baud auto, the rate found.
std::unique_ptr<LinkSession> OpenReceiver(const LinkOpenRequest& request);

// The end of an exchange that did not go through, in one line on standard error: the
// refusal in the words `refused` gives it, silence for timeoutSec, an interruption, or the
// line's loss. True, and nothing said, when the receiver accepted.
bool ReportedEnd(const ExchangeResult& result, double timeoutSec, std::string (*refused)(const PmtkAck&));

// Ctrl-C or SIGTERM has come: what ends the waits of a link's queue.
inline bool StopRequestedNow() { return StopRequested().load(); }
