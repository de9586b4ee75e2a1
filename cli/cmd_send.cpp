// torvikel-cli send: one button of the window, under a plain name, or any command the user
// writes (raw). The bytes and pauses come from the same sequence builders the buttons use,
// and so do the replies it waits for: each sequence declares the reply that accepts it and
// the replies of its closing queries. The tool waits a bounded time for them and prints every
// reply that arrives meanwhile, decoded by the core, or as it came when the core does not
// know it and it is the reply the user named.
//
// Thread rule: main thread, plus the link's reader thread.
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "cli/cli_commands.h"
#include "cli/cli_common.h"
#include "cli/cli_link.h"
#include "cli/cli_output.h"
#include "cli/send_commands.h"
#include "commands/nmea_session.h"
#include "commands/pmtk_replies.h"
#include "commands/receiver_commands.h"
#include "commands/receiver_settings.h"
#include "link/network_names.h"

namespace {

// How long the acknowledgement of a speed change is waited for at the old rate: a receiver
// that sends one does so as soon as it has read the command, and many send none.
constexpr auto kBaudAckWait = std::chrono::milliseconds(1000);

// send baud RATE: the command at the old rate, the line moved to the new one, and valid
// sentences there confirm it; without them the line goes back and the old rate is tried.
int MoveLine(LinkSession& link, const CommandSequence& command, std::uint32_t baud, const std::string& portName,
             double timeoutSec) {
  const std::uint32_t oldBaud = link.baud();
  bool acknowledged = false;
  {
    SentenceQueue queue(StopRequestedNow);
    link.startReader(queue);
    NmeaSession session;
    const ExchangeResult result =
        Exchange(link, queue, session, command, kBaudAckWait, {}, [](const SentenceOutcome& outcome) {
          if (const std::optional<ReplyReport> report = ReportReply(outcome)) WriteOut(report->text + "\n");
        });
    link.stopReader();
    switch (result.end) {
      case ExchangeEnd::Stopped:
        PrintError("interrupted; the line stays at " + std::to_string(oldBaud) + " baud");
        return kExitFailure;
      case ExchangeEnd::Lost: PrintLinkError(*result.lost); return kExitFailure;
      case ExchangeEnd::Refused:
        PrintError("the receiver refused the speed " + std::to_string(baud) + ": " +
                   (result.refusal ? RefusalText(*result.refusal) : "refused") + "; it stays at " +
                   std::to_string(oldBaud) + " baud");
        return kExitFailure;
      case ExchangeEnd::Accepted: acknowledged = true; break;
      case ExchangeEnd::NoReply: break;  // many receivers move without a word
    }
  }
  const int listenMs = static_cast<int>(timeoutSec * 1000.0);
  const BaudDetectResult there = link.listenAt(baud, listenMs, StopRequestedNow);
  if (there.baud == baud) {
    return WriteOut(portName + " talks at " + std::to_string(baud) + " baud now\n") ? kExitSuccess : kExitFailure;
  }
  if (there.stopped) {
    PrintError("interrupted while listening at " + std::to_string(baud) + " baud");
    return kExitFailure;
  }
  if (!there.error.message.empty()) {
    PrintLinkError(there.error);
    return kExitFailure;
  }
  const std::string newText = std::to_string(baud);
  const std::string oldText = std::to_string(oldBaud);
  const std::string atNew = "no valid sentence arrived at " + newText + " baud within " + SecondsText(timeoutSec) +
                            (there.bytesArrived ? " (only bytes that made none)" : " (nothing at all)");
  const BaudDetectResult back = link.listenAt(oldBaud, listenMs, StopRequestedNow);
  if (back.baud == oldBaud) {
    PrintError(atNew + "; back at " + oldText + " baud, where " + portName + " still talks: the receiver did not move");
  } else if (acknowledged && !there.bytesArrived && !back.bytesArrived) {
    // A receiver with its output off: it said it moves, and nothing says otherwise.
    PrintError("the receiver acknowledged " + newText + " baud, but it sends no sentence at " + newText + " or at " +
               oldText + " baud to confirm it: it is most likely at " + newText + " baud now (--baud " + newText + ")");
  } else {
    PrintError(atNew + ", nor back at " + oldText + " baud: find the receiver's rate with --baud auto");
  }
  return kExitFailure;
}

}  // namespace

const char* const kSendHelp =
    "Usage: torvikel-cli send [--port P] [--baud B] [--timeout SEC] COMMAND [ARGS]\n"
    "       torvikel-cli send [--port P] [--baud B] [--timeout SEC] raw BODY [--expect ADDRESS]\n"
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
    "Settings no button has (set, then queried; accepted by $PMTK001,<number>,3):\n"
    "  sbas on|off           search SBAS satellites (PMTK313; query-sbas, PMTK413/513)\n"
    "  sbas-mode integrity|test  take only SBAS data fit for use, or test data too\n"
    "                        (PMTK319; query-sbas-mode, PMTK419/519)\n"
    "  static-nav M/S        hold the position below this speed, 0 (off) to 2.0 m/s\n"
    "                        (PMTK386; query-static-nav, PMTK447/527)\n"
    "  power MODE [RUN SLEEP [RUN2 SLEEP2]]\n"
    "                        PMTK225: normal, periodic-backup or periodic-standby (RUN\n"
    "                        and SLEEP 1000 to 518400000 ms; RUN2 SLEEP2 both 0, or in\n"
    "                        bounds with RUN2 longer than RUN), alwayslocate-standby,\n"
    "                        alwayslocate-backup; no query exists\n"
    "  standby               PMTK161,0: standby until any byte arrives\n"
    "  aic on|off            active interference cancellation (PMTK286; no query)\n"
    "  easy on|off           EASY orbit prediction (PMTK869,1; query-easy, PMTK869,0)\n"
    "A receiver without one answers \"not supported by this receiver\" (flag 1).\n"
    "\n"
    "Line speed:\n"
    "  baud RATE             $PMTK251,RATE, RATE 4800, 9600, 14400, 19200, 38400, 57600,\n"
    "                        115200, 230400, 460800 or 921600 (the last three: MT3333\n"
    "                        family); the port then moves to RATE and is listened to\n"
    "                        until valid sentences confirm it (at most SEC seconds). If\n"
    "                        none come, it moves back and says whether the receiver still\n"
    "                        talks at the old rate. Later: --baud RATE, or --baud auto\n"
    "\n"
    "Any command:\n"
    "  raw BODY              BODY framed as every command is (\"PMTK220,200\" goes out as\n"
    "                        $PMTK220,200*2C and CR LF); $PMTK001,220,3, or with --expect\n"
    "                        the reply of that address (raw PMTK414 --expect PMTK514),\n"
    "                        printed decoded when the tool knows it, else as it came.\n"
    "                        BODY: printable ASCII without \"$\" and \"*\", at most 76\n"
    "                        characters; anything else is refused before it is sent\n"
    "\n"
    "An acknowledgement counts only when it names the command sent; any flag but 3 is a\n"
    "refusal (\"Set Failed!\", with what the flag says: 1 not supported by this receiver).\n"
    "For the set commands the tool also waits, within the same time, for the replies of the\n"
    "queries the button sends after them.\n"
    "\n"
    "Options:\n"
    "  --port P       Com1 ... Com99 or a device path (default Com1)\n"
    "  --baud B       line speed (default 115200; auto: find it)\n"
    "  --timeout SEC  how long to wait for the reply (default 3)\n"
    "  --expect A     raw: the address of the reply that answers BODY\n"
    "\n"
    "Exit codes: 0 accepted, 1 refused, no reply, or the port could not be opened,\n"
    "2 usage error.\n";

int RunSend(const CliArgs& args) {
  int exitCode = kExitSuccess;
  const std::optional<ParsedArgs> parsed =
      ParseReceiverCommand(args, "send", {{"--timeout", true}, {"--expect", true}}, kSendHelp, &exitCode);
  if (!parsed) return exitCode;
  if (parsed->has("--expect") && parsed->value("--expect", "").empty())
    return UsageError("send", "--expect needs the address of a reply, such as PMTK514");

  std::string error;
  const SendCommand* command = nullptr;
  const std::optional<CommandSequence> plan =
      PlanSendWords(parsed->positional, parsed->value("--expect", ""), &error, &command);
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
  const std::string portName = PortDisplayName(parsed->value("--port", kDefaultPortText), link->devicePath());
  if (command->movesLine) {
    if (link->stream().serialLine() == nullptr) {  // before anything is written
      PrintError("A speed change needs a serial line whose speed Torvikel sets, and " + portName +
                 " is a network link.");
      return kExitFailure;
    }
    return MoveLine(*link, *plan, *NmeaBaudRateNamed(parsed->positional[1]), portName, *timeoutSec);
  }
  SentenceQueue queue(StopRequestedNow);
  link->startReader(queue);  // replies that come during the sequence's pauses are kept
  NmeaSession session;
  bool outputOk = true;
  // A reply the core does not decode is shown as it came, when it is the one named.
  std::string lastSentence;
  ExchangeOptions options;
  options.received = [&](std::string_view sentence) { lastSentence = std::string(SentenceText(sentence)); };
  const ExchangeResult result =
      Exchange(*link, queue, session, *plan,
               std::chrono::duration_cast<LinkSession::Clock::duration>(std::chrono::duration<double>(*timeoutSec)),
               options, [&](const SentenceOutcome& outcome) {
                 ReportSentenceFailure(outcome);
                 if (const std::optional<ReplyReport> report = ReportReply(outcome)) {
                   outputOk = WriteOut(report->text + "\n") && outputOk;
                 } else if (const std::optional<std::string> notice = StartupNoticeText(outcome)) {
                   outputOk = WriteOut(*notice + ", the receiver has restarted\n") && outputOk;
                 } else if (!plan->acceptedBy->address.empty() && outcome.address == plan->acceptedBy->address) {
                   outputOk = WriteOut(lastSentence + "\n") && outputOk;
                 }
               });
  link->stopReader();

  if (!ReportedEnd(result, *timeoutSec, RefusalText)) return kExitFailure;
  if (!command->acceptedText.empty()) outputOk = WriteOut(std::string(command->acceptedText) + "\n") && outputOk;
  return outputOk ? kExitSuccess : kExitFailure;
}
