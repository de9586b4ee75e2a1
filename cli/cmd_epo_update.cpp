// torvikel-cli epo-update: the assisted-GPS update without a window. The EPO file comes from
// the user (--file, kept) or from the EPO server as "Update" fetches it (deleted after the
// upload); the core's update flow switches the receiver to binary output and carries the
// file over, with a progress bar on the terminal. Every ending, Ctrl-C included, leaves the
// receiver in NMEA output: the flow writes the output-mode packet.
//
// Thread rule: main thread only (the download and the upload block it; the stop flag of
// Ctrl-C and SIGTERM is looked at by both).
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "agps/epo_download.h"
#include "agps/epo_serial_link.h"
#include "agps/epo_update.h"
#include "agps/epo_upload.h"
#include "cli/cli_commands.h"
#include "cli/cli_common.h"
#include "cli/cli_link.h"
#include "cli/cli_output.h"
#include "commands/nmea_session.h"
#include "commands/pmtk_replies.h"
#include "commands/receiver_commands.h"
#include "link/network_names.h"
#include "link/serial_port.h"

namespace {

constexpr int kBarWidth = 40;

// A private directory for a downloaded file, removed with everything in it at the end, so
// that a download never touches a file of the user's.
class DownloadDirectory {
 public:
  DownloadDirectory() {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp != nullptr && tmp[0] != '\0' ? tmp : "/tmp") + "/torvikel-epo-XXXXXX";
    if (::mkdtemp(pattern.data()) != nullptr) path_ = pattern;
  }
  ~DownloadDirectory() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  DownloadDirectory(const DownloadDirectory&) = delete;
  DownloadDirectory& operator=(const DownloadDirectory&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// Shows the upload's progress: a bar redrawn in place on a terminal, otherwise one line per
// new percentage.
class ProgressDisplay {
 public:
  ProgressDisplay(bool terminal, int totalPackets) : terminal_(terminal), total_(totalPackets) {}
  void show(int percent, const std::string& text) {
    if (percent == lastPercent_ && !terminal_) return;
    lastPercent_ = percent;
    ++sent_;
    const std::string firstLine = text.substr(0, text.find('\n'));
    if (!terminal_) {
      WriteOut(firstLine + "\n");
      return;
    }
    const int filled = percent * kBarWidth / 100;
    std::string line = "\r[" + std::string(static_cast<std::size_t>(filled), '#') +
                       std::string(static_cast<std::size_t>(kBarWidth - filled), '.') + "] " + firstLine + "  (" +
                       std::to_string(sent_) + "/" + std::to_string(total_) + " packets)\x1b[K";
    WriteOut(line);
    open_ = true;
  }
  void finish() {
    if (open_) WriteOut("\n");
    open_ = false;
  }

 private:
  bool terminal_;
  int total_;
  int sent_ = 0;
  int lastPercent_ = -1;
  bool open_ = false;
};

// How long the receiver may take, once handed back, to answer the EPO state query: it
// restarts its NMEA output first, and a 1 Hz receiver answers between two bursts. A query
// that reaches it while it still leaves binary output goes unheard, so it is asked again
// each second (the query changes nothing).
constexpr std::chrono::seconds kEpoCheckWait{5};
constexpr std::chrono::seconds kEpoCheckRepeat{1};

// After the hand-back: asks the receiver which EPO data it now holds and prints the window's
// validity text for the reply. This is how the user knows the data arrived. False when no
// reply came (stopped, lost or silent).
bool CheckEpoState(LinkSession& link) {
  const CommandSequence query = EpoStateQueryCommands();
  SentenceQueue queue(StopRequestedNow);
  link.startReader(queue);
  NmeaSession session;
  ExchangeOptions options;
  options.resendEvery = kEpoCheckRepeat;
  const ExchangeResult result =
      Exchange(link, queue, session, query, kEpoCheckWait, options, [&](const SentenceOutcome& o) {
        if (!o.reply || !MatchReply(*query.acceptedBy, *o.reply).matched) return;
        if (const std::optional<ReplyReport> report = ReportReply(o)) WriteOut(report->text + "\n");
      });
  link.stopReader();
  switch (result.end) {
    case ExchangeEnd::Accepted:
    case ExchangeEnd::Refused: return true;  // the query's reply is its answer, whatever it says
    case ExchangeEnd::Stopped: return false;
    case ExchangeEnd::Lost: PrintLinkError(*result.lost); return false;
    case ExchangeEnd::NoReply:
      PrintError("the receiver did not report its EPO data within " +
                 std::to_string(std::chrono::duration_cast<std::chrono::seconds>(kEpoCheckWait).count()) + " s");
      return false;
  }
  return false;
}

// The update flow's side on the terminal: lines on standard output and error, the switch
// through the receiver link, the line's speed changed in place.
class TerminalSide : public EpoUpdateSide {
 public:
  TerminalSide(LinkSession& link, std::uint32_t nmeaBaud, double silenceSeconds)
      : link_(link), nmeaBaud_(nmeaBaud), silenceSeconds_(silenceSeconds) {}

  void downloading() override { WriteOut(std::string(kEpoDownloadingText) + "\n"); }
  void fileAccepted(const std::string& path, int totalPackets) override {
    display_.emplace(StdoutIsTerminal(), totalPackets);
    WriteOut("Uploading " + path + ": " + std::to_string(totalPackets) + " packets. " + kEpoCableWarning +
             " when updating EPO data.\n");
  }
  void refused(EpoUpdateStep, const char* message, const std::string& detail) override {
    PrintError(std::string(message) + " (" + detail + ")");
  }
  EpoLink* switchToBinary(const std::function<void()>& settle) override {
    link_.send(BinaryProtocolSwitchCommands());
    settle();
    setLineRate(kEpoUploadBaudRate);
    line_.emplace(link_.stream());
    return &*line_;
  }
  void progress(int percent, const std::string& text) override { display_->show(percent, text); }
  std::uint32_t nmeaBaudRate() override { return nmeaBaud_; }
  void ended(EpoEnding ending, const EpoEndingTexts& texts) override {
    display_->finish();
    if (ending == EpoEnding::Completed) {
      written_ = WriteOut(std::string(texts.message) + "\n" + texts.labelText + "\n");
      return;
    }
    WriteOut(std::string(texts.labelText) + "\n");
    PrintError(texts.message);
  }
  // The line follows the receiver back, so whatever this program asks next is read at the
  // rate the receiver talks at.
  void handBack(const EpoEndingTexts&, std::uint32_t baud) override { setLineRate(baud); }
  // During the upload: the same lines as an ending, with the reason; before it, the reason only.
  void stopped(EpoUpdateStep step, EpoStopCause cause) override {
    const EpoEndingTexts texts = EpoEndingTextsFor(EpoEnding::Abandoned);
    if (step != EpoUpdateStep::Upload) {
      PrintError(std::string(texts.message) +
                 (step == EpoUpdateStep::Download ? " (interrupted during the download)" : " (interrupted)"));
      return;
    }
    if (display_) display_->finish();
    WriteOut(std::string(texts.labelText) + "\n");
    PrintError(std::string(texts.message) + " (" +
               (cause == EpoStopCause::Silence ? "no answer from the receiver for " + SecondsText(silenceSeconds_)
                                               : "interrupted") +
               ")");
  }
  // One line that names the device; nothing was handed back.
  void lost(int lossErrorNumber) override {
    if (display_) display_->finish();
    PrintLinkError(LinkLost(link_.devicePath(), lossErrorNumber));
  }
  bool written() const { return written_; }

 private:
  void setLineRate(std::uint32_t baud) {
    // Only a serial line comes this far: a network receiver is refused before the update.
    SerialPort* serial = link_.stream().serialLine();
    LineState line;
    if (serial != nullptr && serial->getState(line)) {
      line.baudRate = baud;
      serial->setState(line);
    }
  }

  LinkSession& link_;
  std::uint32_t nmeaBaud_;
  double silenceSeconds_;
  std::optional<ProgressDisplay> display_;
  std::optional<SerialEpoLink> line_;
  bool written_ = true;
};

}  // namespace

const char* const kEpoUpdateHelp =
    "Usage: torvikel-cli epo-update [--port P] [--baud B]\n"
    "                               [--file F | --server HOST[:PORT] | --from URL]\n"
    "                               [--timeout SEC]\n"
    "\n"
    "Updates the receiver's assisted-GPS (EPO) data, as the window's \"Update\" does: gets the\n"
    "EPO file, switches the receiver to binary output at 115200 baud, uploads the file packet\n"
    "by packet against the receiver's acknowledgements, then returns the receiver to NMEA\n"
    "output at the rate of --baud (with auto, at the rate found).\n"
    "\n"
    "The file: --file F uploads F, which belongs to you and is kept. --from URL downloads\n"
    "it from any source: ftp:// (passive mode), http://, https:// or file://. Otherwise\n"
    "\"MTK7d.EPO\" is downloaded by FTP from --server, else from $TORVIKEL_EPO_SERVER (which\n"
    "may be a URL too), else from localhost (port 21). A download goes into a private\n"
    "temporary directory and is deleted after the upload; it is bounded as the window's is\n"
    "(15 s to connect, 20 s for each FTP reply, no pause of 20 s, 20000 bytes in every 20 s,\n"
    "at most 268800 bytes), and a file that is not 1 to 4480 records of 60 bytes is refused\n"
    "with \"Cannot open EPO file.\" before anything is sent to the receiver.\n"
    "\n"
    "Progress: a bar on a terminal, else one line per percentage. The endings print the\n"
    "window's messages: \"Update completed.\" and \"Update Success\"; \"ACK Failed,Please Try\n"
    "Again!.\" when the receiver keeps sending other packets; \"Action Fail,Plaese try again!\"\n"
    "when it refuses a packet. Ctrl-C or SIGTERM, and a receiver silent for --timeout seconds\n"
    "(default 20; no data packet acknowledged), stop the upload with \"Update stopped.\"; the\n"
    "receiver is returned to NMEA output all the same.\n"
    "\n"
    "After a completed upload the receiver is asked which EPO data it holds, and the window's\n"
    "text for its answer is printed (\"PMTK707: EPO data: Remained 6 Days 14 Hours.\"); no\n"
    "answer within 5 s ends with 1.\n"
    "\n"
    "Options:\n"
    "  --port P          Com1 ... Com99 or a device path (default Com1)\n"
    "  --baud B          the line speed of NMEA output, before and after (default 115200;\n"
    "                    auto: find it, see torvikel-cli --help)\n"
    "  --file F          upload this EPO file (60-byte records, at most 268800 bytes)\n"
    "  --server H[:P]    the EPO server to download from\n"
    "  --from URL        the file to download, from any source\n"
    "  --timeout SEC     the longest silence of the receiver during the upload (default 20)\n"
    "\n"
    "Exit codes: 0 update completed and the receiver reported its EPO data, 1 any other\n"
    "ending or failure, 2 usage error.\n";

int RunEpoUpdate(const CliArgs& args) {
  int exitCode = kExitSuccess;
  const std::optional<ParsedArgs> parsed = ParseReceiverCommand(
      args, "epo-update", {{"--file", true}, {"--server", true}, {"--from", true}, {"--timeout", true}}, kEpoUpdateHelp,
      &exitCode);
  if (!parsed) return exitCode;
  if (!parsed->positional.empty())
    return UsageError("epo-update", "unexpected argument \"" + parsed->positional[0] + "\"");
  if (parsed->has("--file") + parsed->has("--server") + parsed->has("--from") > 1)
    return UsageError("epo-update", "--file, --server and --from exclude each other");
  if (parsed->has("--file") && parsed->value("--file", "").empty())
    return UsageError("epo-update", "--file needs a file name");
  if (parsed->has("--server") && !EpoParseServer(parsed->value("--server", ""))) {
    const std::string server = parsed->value("--server", "");
    return UsageError("epo-update", "--server takes HOST or HOST:PORT, not \"" + server + "\"" +
                                        (EpoLooksLikeUrl(server) ? " (a URL goes with --from)" : ""));
  }
  if (parsed->has("--from")) {
    if (const std::optional<std::string> problem = EpoUrlProblem(parsed->value("--from", ""))) {
      return UsageError("epo-update",
                        "--from takes a URL: " + *problem + ", not \"" + parsed->value("--from", "") + "\"");
    }
  }
  const std::optional<double> silenceSec = ParseSeconds(parsed->value("--timeout", "20"));
  if (!silenceSec)
    return UsageError("epo-update", "--timeout takes seconds above 0, not \"" + parsed->value("--timeout", "") + "\"");

  std::unique_ptr<LinkSession> link = OpenReceiver(ReceiverRequest(*parsed));
  if (!link) return kExitFailure;
  // The update switches the line's speed, which a network receiver does not have; nothing is
  // downloaded or sent.
  if (link->stream().serialLine() == nullptr) {
    PrintError(EpoNetworkRefusal(link->devicePath()));
    return kExitFailure;
  }
  // The rate the receiver talks at (given, or found with auto): it gets it back after the upload.
  const std::uint32_t nmeaBaud = link->baud();

  EpoUpdateOptions options;
  std::optional<DownloadDirectory> downloads;
  if (parsed->has("--file")) {
    options.file = parsed->value("--file", "");  // the user's file: kept
  } else {
    downloads.emplace();
    if (downloads->path().empty()) {
      PrintError("cannot create a temporary directory for the download");
      return kExitFailure;
    }
    options.download.server = parsed->value("--server", "");
    options.download.url = parsed->value("--from", "");
    options.download.directory = downloads->path();
    options.deleteFile = true;
  }
  options.stop = &StopRequested();
  options.silenceLimit =
      std::chrono::duration_cast<std::chrono::steady_clock::duration>(std::chrono::duration<double>(*silenceSec));

  TerminalSide side(*link, nmeaBaud, std::chrono::duration<double>(*options.silenceLimit).count());
  const EpoUpdateResult result = RunEpoUpdateFlow(side, options);
  // Every other ending has said what happened.
  if (result.ending != EpoEnding::Completed) return kExitFailure;
  // Handed back unless a stop came while the ending was shown: then nothing is asked.
  if (StopRequested()) return kExitFailure;
  const bool checked = CheckEpoState(*link);
  return side.written() && checked ? kExitSuccess : kExitFailure;
}
