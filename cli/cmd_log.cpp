// torvikel-cli log FILE: the sentence log without a window. Every sentence that passes the
// checksum test is appended to FILE byte for byte as received (its CR LF and any stray bytes
// before the next "$" included), through the same log writer as the window's, until Ctrl-C
// or SIGTERM. The tool sends nothing to the receiver.
//
// Thread rule: main thread (checksum test, writing), plus the link's reader thread.
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "cli/cli_commands.h"
#include "cli/cli_common.h"
#include "cli/cli_link.h"
#include "cli/cli_output.h"
#include "commands/nmea_session.h"
#include "link/port_names.h"
#include "link/sentence_log.h"

const char* const kLogHelp =
    "Usage: torvikel-cli log [--port P] [--baud B] [--reconnect] FILE\n"
    "\n"
    "Records the receiver's sentences into FILE until Ctrl-C or SIGTERM: every sentence that\n"
    "passes the checksum test, byte for byte as received, nothing else (no header, no time\n"
    "stamps), as the window's log does. FILE is used exactly as given: unlike the window,\n"
    "which always appends \".TXT\" to the chosen name, nothing is appended. An existing FILE\n"
    "is emptied first. Other programs may read FILE while it is being written. Nothing is\n"
    "sent to the receiver. A sentence is written once the next one begins, or once the line\n"
    "has been quiet for a moment after its line end. FILE may be a FIFO or a terminal: the\n"
    "log then waits for a program to read it, and Ctrl-C or SIGTERM ends any wait. When the\n"
    "reader of a FIFO or pipe closes it, the command ends quietly with 0.\n"
    "\n"
    "When the receiver goes away (unplugged, its link dropped), the command says so and ends\n"
    "with 1, every sentence received before in FILE. With --reconnect it keeps FILE open,\n"
    "waits for the same port name to lead to a device again (ComN is looked up afresh, and a\n"
    "name that came from a port map entry must come from one again) and logs on; each gap\n"
    "is reported on standard error with its length.\n"
    "\n"
    "Options:\n"
    "  --port P      Com1 ... Com99 or a device path (default Com1)\n"
    "  --baud B      line speed (default 115200; auto: find it, once)\n"
    "  --reconnect   wait for a receiver that went away, and log on when it is back\n"
    "\n"
    "Exit codes: 0 ended by Ctrl-C or SIGTERM with every sentence written, or by the reader\n"
    "of FILE closing it; 1 the port or FILE could not be opened, a sentence could not be\n"
    "written, or the receiver went away; 2 usage error.\n";

int RunLog(const CliArgs& args) {
  int exitCode = kExitSuccess;
  const std::optional<ParsedArgs> parsed =
      ParseReceiverCommand(args, "log", {{"--reconnect", false}}, kLogHelp, &exitCode);
  if (!parsed) return exitCode;
  if (parsed->positional.size() != 1) return UsageError("log", "log takes one FILE");
  const std::string& path = parsed->positional[0];
  if (path.empty()) return UsageError("log", "the FILE name is empty");

  LinkOpenRequest request = ReceiverRequest(*parsed);
  const std::string& portText = request.portText;
  const bool reconnect = parsed->has("--reconnect");
  // Where the name led: a port map entry, or detection. Coming back, it must lead there again.
  const bool fromMapEntry = !ResolvePort(portText, /*allowDevicePath=*/true).mapEntry.empty();
  // The queue is declared before the link, so that it outlives the reader it takes sentences
  // from on every way out of this function.
  std::unique_ptr<SentenceQueue> queue;
  std::unique_ptr<LinkSession> link = OpenReceiver(request);
  if (!link) return kExitFailure;
  // A receiver that comes back is the same receiver: it is looked for at the rate it had.
  request.baudText = std::to_string(link->baud());
  SentenceLog log;
  // Nothing received is dropped for a slow reader of FILE (a FIFO, a terminal): the log
  // waits for room as long as it takes, and only Ctrl-C or SIGTERM ends the wait.
  log.setWritePolicy({&StopRequested(), -1});
  if (!log.open(path)) {
    PrintError("Open Error: " + log.openProblem(path));
    return kExitFailure;
  }
  WriteOut("Logging " + link->devicePath() + " to " + path + "; Ctrl-C ends.\n");
  // Every link's queue: a link that went away takes its queue's sentences with it only once
  // they are all in FILE.
  queue = std::make_unique<SentenceQueue>(StopRequestedNow);
  link->startReader(*queue);

  NmeaSession session;
  unsigned long long written = 0;
  unsigned long long failed = 0;
  bool readerGone = false;  // FILE is a FIFO or pipe whose reader closed it
  // One sentence into the log; false once nothing more can go.
  const auto logSentence = [&](const std::string& sentence) {
    const SentenceOutcome outcome = session.handle(sentence);
    if (!outcome.valid) return true;  // dropped without trace
    ReportSentenceFailure(outcome);
    if (log.write(sentence.data(), sentence.size())) {
      ++written;
      return true;
    }
    ++failed;
    switch (log.lastWrite().end) {
      case WriteEnd::PeerClosed:
        readerGone = true;  // like any Unix tool writing into a closed pipe: end quietly
        return false;
      case WriteEnd::Stopped: return false;
      default:
        if (failed == 1) {
          PrintError("cannot write to " + path + " (" + std::strerror(log.lastWrite().error) +
                     "); sentences are being lost");
        }
        return true;
    }
  };
  bool going = true;
  std::optional<LinkError> lost;
  while (going && !StopRequested()) {
    const std::optional<std::string> sentence = queue->next(LinkSession::Clock::time_point::max());
    if (sentence) {
      going = logSentence(*sentence);
      continue;
    }
    lost = queue->lost();
    if (!lost) continue;
    if (!reconnect) break;
    // Every sentence before the loss is in FILE; wait for the receiver to come back.
    link.reset();
    PrintError(lost->explanation + " Waiting for " + portText + " to come back; Ctrl-C ends.");
    const auto gapStart = std::chrono::steady_clock::now();
    link = WaitForPort(request, fromMapEntry);
    if (!link) {
      lost.reset();  // stopped while waiting: ended by the user, like any stop
      break;
    }
    lost.reset();
    const double gapSec = std::chrono::duration<double>(std::chrono::steady_clock::now() - gapStart).count();
    char gap[32];
    std::snprintf(gap, sizeof gap, "%.1f", gapSec);
    PrintError(portText + " is back as " + link->devicePath() + "; nothing was received for " + gap + " s");
    queue = std::make_unique<SentenceQueue>(StopRequestedNow);
    link->startReader(*queue);
  }
  if (link) queue->append(link->stopReader());
  // What was received before the stop goes in too, unless FILE can take nothing more.
  while (going && link) {
    const std::optional<std::string> sentence = queue->takeQueued();
    if (!sentence) break;
    going = logSentence(*sentence);
  }
  log.close();
  if (readerGone) return kExitSuccess;
  WriteOut(std::to_string(written) + " sentences logged to " + path + "\n");
  if (failed > 0) {
    PrintError(std::to_string(failed) + " sentences could not be written to " + path +
               (log.lastWrite().end == WriteEnd::Stopped ? " (it stopped taking bytes)" : ""));
    return kExitFailure;
  }
  if (lost) {
    PrintLinkError(*lost);
    return kExitFailure;
  }
  return kExitSuccess;
}
