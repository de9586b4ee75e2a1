// torvikel-cli send: one button of the window, under a plain name. The bytes and pauses come
// from the same sequence builders the buttons use, and so do the replies it waits for: each
// sequence declares the reply that accepts it and the replies of its closing queries. The
// tool waits a bounded time for them and prints every reply that arrives meanwhile, decoded
// by the core.
//
// Thread rule: main thread, plus the link's reader thread.
#include <algorithm>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "cli/cli_commands.h"
#include "cli/cli_common.h"
#include "cli/cli_link.h"
#include "cli/cli_output.h"
#include "commands/nmea_session.h"
#include "commands/pmtk_replies.h"
#include "commands/receiver_commands.h"
#include "link/network_names.h"
#include "link/number_text.h"

namespace {

// What a command sends and waits for: the sequence, with the replies it declares.
using Planner = std::function<std::optional<CommandSequence>(const std::vector<std::string>& args, std::string* error)>;

struct SendCommand {
  const char* name;
  int argumentCount;
  Planner plan;
  std::string_view acceptedText = {};  // printed once the command is accepted
};

Planner fixed(CommandSequence (*build)()) {
  return [build](const std::vector<std::string>&, std::string*) { return std::optional<CommandSequence>(build()); };
}

Planner restart(RestartKind kind) {
  return [kind](const std::vector<std::string>&, std::string*) {
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

std::optional<CommandSequence> planRates(const std::vector<std::string>& args, std::string* error) {
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

std::optional<CommandSequence> planFixRate(const std::vector<std::string>& args, std::string* error) {
  const std::optional<int> index = fixIndexOfHz(args[0]);
  if (!index) {
    *error = "the fix rate must be 1, 2, 3, 4, 5 or 10 fixes a second, not \"" + args[0] + "\"";
    return std::nullopt;
  }
  return SetFixPeriodCommands(*index);
}

std::optional<CommandSequence> planDgps(const std::vector<std::string>& args, std::string* error) {
  if (const std::optional<DgpsMode> mode = DgpsModeNamed(args[0])) return SetDgpsModeCommands(*mode);
  *error = "the DGPS mode must be none, rtcm or sbas, not \"" + args[0] + "\"";
  return std::nullopt;
}

const std::vector<SendCommand>& sendCommands() {
  static const std::vector<SendCommand> commands = {
      {"hot", 0, restart(RestartKind::Hot)},
      {"warm", 0, restart(RestartKind::Warm)},
      {"cold", 0, restart(RestartKind::Cold)},
      {"rates", kNmeaKindCount, planRates},
      {"default-rates", 0, fixed(DefaultOutputRatesCommands)},
      {"query-rates", 0, fixed(OutputRateQueryCommands)},
      {"fix-rate", 1, planFixRate},
      {"query-fix", 0, fixed(FixPeriodQueryCommands)},
      {"fix-reset", 0, fixed(FixRateResetCommands)},
      {"dgps", 1, planDgps},
      {"query-dgps", 0, fixed(DgpsQueryCommands)},
      {"version", 0, fixed(VersionQueryCommands)},
      {"epo-query", 0, fixed(EpoStateQueryCommands)},
      {"epo-clear", 0, fixed(EpoClearCommands), kEpoClearedText},
  };
  return commands;
}

}  // namespace

const char* const kSendHelp =
    "Usage: torvikel-cli send [--port P] [--baud B] [--timeout SEC] COMMAND [ARGS]\n"
    "\n"
    "Sends what a button of the window sends, byte for byte and with the same pauses, then\n"
    "waits for the receiver's reply (at most SEC seconds after the last byte, default 3) and\n"
    "prints every reply that arrives meanwhile, decoded. Nothing else is sent: the port is\n"
    "opened as \"On\" opens it, without the queries of \"On\".\n"
    "\n"
    "Commands (button; accepted when):\n"
    "  hot | warm | cold     restart buttons; the receiver's start-up notice $PMTK010,001\n"
    "  rates GLL RMC VTG GSA GSV GGA ZDA MCHN\n"
    "                        \"Confirm\" with each rate 0-5 (outputs per fix, 0 off);\n"
    "                        $PMTK001,314,3, then the new rates are printed\n"
    "  default-rates         \"Default\"; $PMTK001,314,3\n"
    "  query-rates           output rates \"Query\"; the $PMTK514 reply\n"
    "  fix-rate HZ           fix rate \"Set\", HZ 1, 2, 3, 4, 5 or 10; $PMTK001,300,3\n"
    "  query-fix             fix rate \"Query\"; the $PMTK500 reply\n"
    "  fix-reset             fix rate \"Reset\"; the receiver's $PZRN818\n"
    "  dgps none|rtcm|sbas   DGPS \"Set\"; $PMTK001,301,3\n"
    "  query-dgps            DGPS \"Query\"; the $PMTK501 reply\n"
    "  version               firmware \"Query\"; the $PMTK705 reply\n"
    "  epo-query             AGPS \"Query\"; the $PMTK707 reply (remaining validity)\n"
    "  epo-clear             AGPS \"Reset\", without the window's question; $PMTK001,127,3\n"
    "\n"
    "An acknowledgement counts only when it names the command sent; any flag but 3 is a\n"
    "refusal (\"Set Failed!\"). For the set commands the tool also waits, within the same\n"
    "time, for the replies of the queries the button sends after them.\n"
    "\n"
    "Options:\n"
    "  --port P       Com1 ... Com99 or a device path (default Com1)\n"
    "  --baud B       line speed (default 115200; auto: find it)\n"
    "  --timeout SEC  how long to wait for the reply (default 3)\n"
    "\n"
    "Exit codes: 0 accepted, 1 refused, no reply, or the port could not be opened,\n"
    "2 usage error.\n";

int RunSend(const CliArgs& args) {
  int exitCode = kExitSuccess;
  const std::optional<ParsedArgs> parsed =
      ParseReceiverCommand(args, "send", {{"--timeout", true}}, kSendHelp, &exitCode);
  if (!parsed) return exitCode;
  if (parsed->positional.empty()) return UsageError("send", "which command? (hot, rates, version ...)");

  std::string error;
  const std::string& name = parsed->positional[0];
  const auto& commands = sendCommands();
  const auto command =
      std::find_if(commands.begin(), commands.end(), [&](const SendCommand& c) { return name == c.name; });
  if (command == commands.end()) return UsageError("send", "unknown command \"" + name + "\"");
  const std::vector<std::string> commandArgs(parsed->positional.begin() + 1, parsed->positional.end());
  if (static_cast<int>(commandArgs.size()) != command->argumentCount) {
    return UsageError("send", name + " takes " + std::to_string(command->argumentCount) + " argument" +
                                  (command->argumentCount == 1 ? "" : "s") + ", not " +
                                  std::to_string(commandArgs.size()));
  }
  const std::optional<CommandSequence> plan = command->plan(commandArgs, &error);
  if (!plan) return UsageError("send", error);
  const std::optional<double> timeoutSec = ParseSeconds(parsed->value("--timeout", "3"));
  if (!timeoutSec)
    return UsageError("send", "--timeout takes seconds above 0, not \"" + parsed->value("--timeout", "") + "\"");
  if (plan->steps.empty() || !plan->acceptedBy) {  // every command of the table declares its reply
    PrintError("nothing to send");
    return kExitFailure;
  }

  std::unique_ptr<LinkSession> link = OpenReceiver(ReceiverRequest(*parsed));
  if (!link) return kExitFailure;
  if (link->isReadOnly()) {  // before anything is written
    PrintError(ReadOnlyRefusal(link->devicePath()));
    return kExitFailure;
  }
  SentenceQueue queue(StopRequestedNow);
  link->startReader(queue);  // replies that come during the sequence's pauses are kept
  NmeaSession session;
  bool outputOk = true;
  const ExchangeResult result =
      Exchange(*link, queue, session, *plan,
               std::chrono::duration_cast<LinkSession::Clock::duration>(std::chrono::duration<double>(*timeoutSec)), {},
               [&](const SentenceOutcome& outcome) {
                 ReportSentenceFailure(outcome);
                 if (const std::optional<ReplyReport> report = ReportReply(outcome))
                   outputOk = WriteOut(report->text + "\n") && outputOk;
                 if (const std::optional<std::string> notice = StartupNoticeText(outcome)) {
                   outputOk = WriteOut(*notice + ", the receiver has restarted\n") && outputOk;
                 }
               });
  link->stopReader();

  switch (result.end) {
    case ExchangeEnd::Stopped: PrintError("interrupted before the receiver replied"); return kExitFailure;
    case ExchangeEnd::Lost: PrintLinkError(*result.lost); return kExitFailure;
    case ExchangeEnd::NoReply:
      PrintError("no reply from the receiver within " + SecondsText(*timeoutSec));
      return kExitFailure;
    case ExchangeEnd::Refused: {
      std::string refusal;
      if (result.refusal) {
        refusal = std::string(AckMessage(*result.refusal).text) + " (acknowledgement flag " +
                  std::to_string(result.refusal->flag) + ")";
      }
      PrintError("the receiver refused the command: " + refusal);
      return kExitFailure;
    }
    case ExchangeEnd::Accepted: break;
  }
  if (!command->acceptedText.empty()) outputOk = WriteOut(std::string(command->acceptedText) + "\n") && outputOk;
  return outputOk ? kExitSuccess : kExitFailure;
}
