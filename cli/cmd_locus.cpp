// torvikel-cli locus: the receiver's own logbook (LOCUS) — its status, starting and stopping
// it, erasing it, a point logged now, its interval, and the download of what it holds as GPX,
// CSV or the flash's bytes. The downloaded file appears only complete: it is written beside
// its name and renamed into place, so an interrupted download leaves nothing.
//
// Thread rule: main thread, plus the link's reader thread.
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "cli/cli_commands.h"
#include "cli/cli_common.h"
#include "cli/cli_link.h"
#include "cli/cli_output.h"
#include "commands/locus.h"
#include "commands/pmtk_replies.h"
#include "commands/track_files.h"
#include "link/network_names.h"
#include "link/number_text.h"
#include "torvikel/version.h"

namespace {

constexpr int kBarWidth = 40;

// What an acknowledgement's flag says, for the line that reports a refusal.
std::string FlagWords(long flag) {
  const std::string words = AckFlagWords(flag);
  return words.empty() ? "flag " + std::to_string(flag) : words;
}

// A refusal as the logbook's lines say it: the flag's words, then the flag.
std::string LocusRefusal(const PmtkAck& ack) {
  return FlagWords(ack.flag) + " (acknowledgement flag " + std::to_string(ack.flag) + ")";
}

std::string StatusLines(const PmtkLocusStatus& s) {
  char content[16];
  std::snprintf(content, sizeof content, "0x%lX", static_cast<unsigned long>(s.content) & 0xFFFFul);
  std::string when = s.type == 0   ? "overwrite the oldest records"
                     : s.type == 1 ? "stop logging"
                                   : "type " + std::to_string(s.type);
  std::string every = "a record every " + std::to_string(s.intervalSec) + " s";
  if (s.distanceM > 0) every += " or " + std::to_string(s.distanceM) + " m";
  if (s.speedKmh > 0) every += " or above " + std::to_string(s.speedKmh) + " km/h";
  return "  state      " + std::string(s.logging() ? "logging" : "stopped") + " (status " + std::to_string(s.status) +
         ")\n  when full  " + when + "\n  mode       " + LocusModeNames(s.mode) + " (" + std::to_string(s.mode) +
         ")\n  content    " + LocusContentNames(s.content) + " (" + content + ")\n  interval   " + every +
         "\n  records    " + std::to_string(s.records) + "\n  full       " + std::to_string(s.percentFull) +
         " %\n  serial     " + std::to_string(s.serial) + "\n";
}

// Shows how far a dump is: a bar on a terminal, a line per tenth otherwise.
class DumpProgress {
 public:
  explicit DumpProgress(bool terminal) : terminal_(terminal) {}
  void show(long received, long announced) {
    if (announced <= 0) return;
    const long percent = received * 100 / announced;
    if (terminal_) {
      const long filled = percent * kBarWidth / 100;
      WriteOut("\r[" + std::string(static_cast<std::size_t>(filled), '#') +
               std::string(static_cast<std::size_t>(kBarWidth - filled), '.') + "] " + std::to_string(received) + "/" +
               std::to_string(announced) + " lines\x1b[K");
      open_ = true;
    } else if (percent / 10 > shownTenths_) {
      shownTenths_ = percent / 10;
      WriteOut("dump: " + std::to_string(shownTenths_ * 10) + " % (" + std::to_string(received) + " of " +
               std::to_string(announced) + " lines)\n");
    }
  }
  void finish() {
    if (open_) WriteOut("\n");
    open_ = false;
  }

 private:
  bool terminal_;
  bool open_ = false;
  long shownTenths_ = 0;
};

std::string ArrivedText(const LocusDumpAssembly& dump) {
  if (!dump.begun()) return "no line of the dump had arrived";
  return std::to_string(dump.receivedLines()) + " of " + std::to_string(dump.announcedLines()) + " lines had arrived";
}

int Download(LinkSession& link, SentenceQueue& queue, const std::string& path, TrackFormat format, bool wholeFlash,
             double silenceSec) {
  NmeaSession session;
  LocusDumpAssembly dump;
  DumpProgress progress(StdoutIsTerminal());
  std::optional<PmtkAck> ack;
  const auto silence =
      std::chrono::duration_cast<LinkSession::Clock::duration>(std::chrono::duration<double>(silenceSec));
  link.send(LocusDumpCommands(wholeFlash));
  for (;;) {
    const std::optional<std::string> sentence = queue.next(LinkSession::Clock::now() + silence);
    if (!sentence) break;
    const SentenceOutcome outcome = session.handle(*sentence);
    if (!outcome.valid || !outcome.reply) continue;
    if (const auto* line = std::get_if<PmtkLocusData>(&*outcome.reply)) {
      if (!dump.take(*line)) break;
      progress.show(dump.receivedLines(), dump.announcedLines());
    } else if (const auto* a = std::get_if<PmtkAck>(&*outcome.reply); a && a->command == 622) {
      ack = *a;
      break;
    }
  }
  progress.finish();
  if (ack && !AckAccepted(*ack)) {
    PrintError("the receiver refused the dump: " + LocusRefusal(*ack));
    return kExitFailure;
  }
  if (!dump.complete()) {
    std::string why;
    if (dump.spoilt()) {
      why = "the dump is broken (" + dump.problem() + ")";
    } else if (queue.stopRequested()) {
      why = "interrupted";
    } else if (const std::optional<LinkError> lost = queue.lost()) {
      // The loss's own words (which line, and why), so the ending stays one line.
      why = lost->explanation.empty() ? "the receiver went away" : lost->explanation;
      if (!why.empty() && why.back() == '.') why.pop_back();
    } else if (ack) {
      why = "the receiver acknowledged before the dump was whole";
    } else {
      why = "no line for " + SecondsText(silenceSec);
    }
    PrintError(why + "; " + ArrivedText(dump) + "; no file written");
    return kExitFailure;
  }

  const std::string& bytes = dump.bytes();
  const LocusFlashRead read =
      ReadLocusFlash(std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
  std::string text;
  switch (format) {
    case TrackFormat::Gpx: text = LocusGpx(read, std::string("Torvikel ") + TORVIKEL_VERSION); break;
    case TrackFormat::Csv: text = LocusCsv(read); break;
    case TrackFormat::Raw: text = bytes; break;
  }
  std::string why;
  if (!WriteFileWhole(path, text, &why)) {
    PrintError(why + "; no file written");
    return kExitFailure;
  }
  std::string summary = std::to_string(read.records.size()) + " records";
  if (!read.records.empty() && read.records.front().utcSec && read.records.back().utcSec) {
    summary += " from " + IsoUtcText(*read.records.front().utcSec) + " to " + IsoUtcText(*read.records.back().utcSec);
  }
  summary += " (" + std::to_string(bytes.size()) + " bytes of flash, " + std::to_string(read.sectors) + " sectors)";
  const std::size_t skipped = read.badRecords + read.badHeaders + read.unknownContent;
  if (skipped > 0) {
    summary += "; skipped: " + std::to_string(read.badRecords) + " records that do not check, " +
               std::to_string(read.badHeaders) + " sectors whose header does not check, " +
               std::to_string(read.unknownContent) + " sectors of unknown content";
  }
  WriteOut(summary + "\nWritten to " + path + "\n");
  return kExitSuccess;
}

}  // namespace

const char* const kLocusHelp =
    "Usage: torvikel-cli locus [--port P] [--baud B] [--timeout SEC] SUBCOMMAND [ARGS]\n"
    "\n"
    "The receiver's own logbook (LOCUS, MT3339 and MT3333 receivers): a track the receiver\n"
    "keeps in its flash while no computer listens.\n"
    "\n"
    "Subcommands:\n"
    "  status                  logging or stopped, what happens when full, mode, content,\n"
    "                          interval, records and how full the flash is (PMTK183)\n"
    "  start | stop            start or stop logging (PMTK185)\n"
    "  erase --yes             erase every record (PMTK184); nothing is erased without --yes\n"
    "  now                     log one point now (PMTK186)\n"
    "  interval SEC            a record every SEC seconds, 1 to 65535 (PMTK187)\n"
    "  download FILE           the records into FILE (PMTK622): --format gpx, csv or raw\n"
    "                          (default from FILE's extension: .gpx, .csv, .bin/.raw/.dat);\n"
    "                          --all dumps the whole flash, not only its used part\n"
    "\n"
    "GPX 1.1: one track, a new segment after a gap of more than ten intervals; ele, time,\n"
    "fix, sat, hdop where the records hold them, speed and course in Garmin's\n"
    "TrackPointExtension. CSV: a header row, a row per record. raw: the flash's bytes.\n"
    "Records that do not check, and sectors whose header does not, are skipped and counted,\n"
    "never invented. FILE appears only complete: an interrupted download (Ctrl-C, the\n"
    "receiver unplugged, a dump that stops) writes nothing and says how far it got.\n"
    "\n"
    "Options:\n"
    "  --port P       Com1 ... Com99 or a device path (default Com1)\n"
    "  --baud B       line speed (default 115200; auto: find it)\n"
    "  --timeout SEC  how long to wait for a reply, and during a download for each line\n"
    "                 (default 3)\n"
    "  --format F     download: gpx, csv or raw\n"
    "  --all          download: the whole flash\n"
    "  --yes          erase: yes, erase it\n"
    "\n"
    "Exit codes: 0 done, 1 refused, no reply, interrupted, or the port or FILE could not be\n"
    "opened, 2 usage error.\n";

int RunLocus(const CliArgs& args) {
  int exitCode = kExitSuccess;
  const std::optional<ParsedArgs> parsed =
      ParseReceiverCommand(args, "locus", {{"--timeout", true}, {"--format", true}, {"--all", false}, {"--yes", false}},
                           kLocusHelp, &exitCode);
  if (!parsed) return exitCode;
  if (parsed->positional.empty()) return UsageError("locus", "which subcommand? (status, download ...)");
  const std::string& sub = parsed->positional[0];
  const std::vector<std::string> subArgs(parsed->positional.begin() + 1, parsed->positional.end());
  const std::optional<double> timeoutSec = ParseSeconds(parsed->value("--timeout", "3"));
  if (!timeoutSec)
    return UsageError("locus", "--timeout takes seconds above 0, not \"" + parsed->value("--timeout", "") + "\"");

  const auto takes = [&](std::size_t n) { return subArgs.size() == n; };
  std::optional<CommandSequence> sequence;
  std::optional<TrackFormat> format;
  std::string acceptedText;
  if (sub == "status" && takes(0)) {
    sequence = LocusStatusCommands();
  } else if (sub == "start" && takes(0)) {
    sequence = LocusStartCommands();
    acceptedText = "Logging started.";
  } else if (sub == "stop" && takes(0)) {
    sequence = LocusStopCommands();
    acceptedText = "Logging stopped.";
  } else if (sub == "erase" && takes(0)) {
    if (!parsed->has("--yes")) {
      return UsageError("locus", "erase deletes every record in the receiver's flash: add --yes to erase it");
    }
    sequence = LocusEraseCommands();
    acceptedText = "Logbook erased.";
  } else if (sub == "now" && takes(0)) {
    sequence = LocusLogNowCommands();
    acceptedText = "Point logged.";
  } else if (sub == "interval" && takes(1)) {
    const std::optional<long> seconds = WholeDecimalOf(subArgs[0]);
    if (!seconds || *seconds < 1 || *seconds > 65535)
      return UsageError("locus", "interval takes whole seconds from 1 to 65535, not \"" + subArgs[0] + "\"");
    sequence = LocusIntervalCommands(*seconds);
    acceptedText = "A record every " + std::to_string(*seconds) + " s.";
  } else if (sub == "download" && takes(1)) {
    if (subArgs[0].empty()) return UsageError("locus", "the FILE name is empty");
    format = parsed->has("--format") ? TrackFormatOfName(parsed->value("--format", "")) : TrackFormatOfPath(subArgs[0]);
    if (!format) {
      return UsageError("locus", parsed->has("--format")
                                     ? "--format takes gpx, csv or raw, not \"" + parsed->value("--format", "") + "\""
                                     : "say --format gpx, csv or raw: \"" + subArgs[0] + "\" has no known extension");
    }
  } else if (sub == "status" || sub == "start" || sub == "stop" || sub == "erase" || sub == "now" ||
             sub == "interval" || sub == "download") {
    return UsageError("locus", sub + " takes " +
                                   (sub == "interval"   ? "SEC"
                                    : sub == "download" ? "FILE"
                                                        : "no argument"));
  } else {
    return UsageError("locus", "unknown subcommand \"" + sub + "\"");
  }

  std::unique_ptr<LinkSession> link = OpenReceiver(ReceiverRequest(*parsed));
  if (!link) return kExitFailure;
  if (link->isReadOnly()) {  // before anything is written
    PrintError(ReadOnlyRefusal(link->devicePath()));
    return kExitFailure;
  }
  SentenceQueue queue(StopRequestedNow);
  link->startReader(queue);
  if (format) {
    const int code = Download(*link, queue, subArgs[0], *format, parsed->has("--all"), *timeoutSec);
    link->stopReader();
    return code;
  }

  NmeaSession session;
  std::optional<PmtkLocusStatus> status;
  const ExchangeResult result =
      Exchange(*link, queue, session, *sequence,
               std::chrono::duration_cast<LinkSession::Clock::duration>(std::chrono::duration<double>(*timeoutSec)), {},
               [&](const SentenceOutcome& outcome) {
                 if (outcome.reply) {
                   if (const auto* s = std::get_if<PmtkLocusStatus>(&*outcome.reply)) status = *s;
                 }
               });
  link->stopReader();
  if (!ReportedEnd(result, *timeoutSec, LocusRefusal)) return kExitFailure;
  if (sub == "status") {
    if (!status) {
      PrintError("the receiver acknowledged the query but sent no status");
      return kExitFailure;
    }
    return WriteOut("Logbook of " + PortDisplayName(parsed->value("--port", kDefaultPortText), link->devicePath()) +
                    ":\n" + StatusLines(*status))
               ? kExitSuccess
               : kExitFailure;
  }
  return WriteOut(acceptedText + "\n") ? kExitSuccess : kExitFailure;
}
