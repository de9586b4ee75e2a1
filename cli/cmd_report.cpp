// torvikel-cli report LOG: how good the fix was, from a sentence log or live from the
// receiver: the scatter about the mean with CEP50, CEP95 and 2DRMS, altitude, signals,
// satellites and DOPs over time, time to first fix and the log's gaps, as one HTML page, the
// scatter alone as SVG, the figures as JSON, or a summary on the terminal.
//
// Thread rule: main thread, plus the link's reader thread with --live.
#include <chrono>
#include <cstring>
#include <string>

#include "cli/cli_commands.h"
#include "cli/cli_common.h"
#include "cli/cli_link.h"
#include "cli/cli_output.h"
#include "commands/nmea_session.h"
#include "link/sentence_log.h"
#include "report/log_survey.h"
#include "report/report_drawing.h"
#include "report/report_json.h"
#include "report/report_numbers.h"
#include "torvikel/version.h"

const char* const kReportHelp =
    "Usage: torvikel-cli report [-o FILE.html|FILE.svg] [--json] LOG\n"
    "       torvikel-cli report --live SECONDS [--port P] [--baud B] [-o FILE] [--json] LOG\n"
    "\n"
    "How good the fix was, from the sentence log LOG (as the window's log or `torvikel-cli\n"
    "log` write it, or any NMEA capture): the fixes scattered about their mean position in\n"
    "metres east and north with the CEP50, CEP95 and 2DRMS circles, a mark per kind of fix\n"
    "(no fix, 2D, 3D, DGPS); altitude over time; every satellite's signal over time, of every\n"
    "system, used or not; satellites in view and used and PDOP, HDOP, VDOP over time; the time\n"
    "to first 2D and 3D fix from the first sentence and from every restart the log shows; the\n"
    "gaps in the log; and a summary. Sentences whose checksum fails and sentences cut short\n"
    "are counted and skipped, as are bytes outside sentences; what the log does not allow is\n"
    "said in words. Every fix counts in the statistics; the drawings show at most 1024\n"
    "columns.\n"
    "\n"
    "With --live, the receiver on --port is logged into LOG for SECONDS (Ctrl-C ends it\n"
    "early), as `torvikel-cli log` would, and the report is made of what arrived.\n"
    "\n"
    "Options:\n"
    "  -o, --output FILE\n"
    "                 write the report: FILE.html (or .htm) one page that needs nothing else,\n"
    "                 FILE.svg the scatter alone; written whole or not at all\n"
    "  --json         print the figures as JSON on standard output\n"
    "  --live SECONDS log the receiver for SECONDS (at most a day), then report\n"
    "  --port P       with --live: Com1 ... Com99 or a device path (default Com1)\n"
    "  --baud B       with --live: line speed (default 115200; auto: find it)\n"
    "\n"
    "Without -o and --json a summary is printed. Nothing is sent to the receiver.\n"
    "\n"
    "Exit codes: 0 report made; 1 LOG or FILE could not be read or written, or the receiver\n"
    "went away during --live (the report is still made of what arrived); 2 usage error.\n";

namespace {

enum class Drawing { None, Html, Svg };

Drawing DrawingOf(const std::string& path) {
  const auto endsWith = [&path](std::string_view tail) {
    if (path.size() < tail.size()) return false;
    for (std::size_t i = 0; i < tail.size(); ++i) {
      const char c = path[path.size() - tail.size() + i];
      if ((c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c) != tail[i]) return false;
    }
    return true;
  };
  if (endsWith(".html") || endsWith(".htm")) return Drawing::Html;
  if (endsWith(".svg")) return Drawing::Svg;
  return Drawing::None;
}

std::string SummaryOf(const Survey& s, const std::string& logName) {
  std::string out = "Fix report of " + logName + "\n";
  const auto line = [&out](std::string_view name, const std::string& value) {
    out += "  ";
    out += name;
    out.append(name.size() < 22 ? 22 - name.size() : 1, ' ');
    out += value + "\n";
  };
  if (!s.firstUtc.empty()) line("from", s.firstUtc + " to " + s.lastUtc);
  line("duration", DurationText(s.duration) + " (" + std::to_string(s.epochs) + " epochs)");
  line("sentences", std::to_string(s.sentences.valid) + " valid, " + std::to_string(s.sentences.badChecksum) +
                        " bad checksum, " + std::to_string(s.sentences.noChecksum) + " without checksum");
  line("fixes", std::to_string(s.points.size()) + " (2D " + std::to_string(s.fixesByKind[IndexOf(FixKind::Fix2D)]) +
                    ", 3D " + std::to_string(s.fixesByKind[IndexOf(FixKind::Fix3D)]) + ", DGPS " +
                    std::to_string(s.fixesByKind[IndexOf(FixKind::DGPS)]) + "; no fix " +
                    std::to_string(s.fixesByKind[IndexOf(FixKind::None)]) + ")");
  if (s.statistics) {
    const ScatterStatistics& st = *s.statistics;
    line("mean position", DegreesText(st.meanLatitude) + ", " + DegreesText(st.meanLongitude) + ", " +
                              MetresText(st.meanAltitude) + " m");
    line("CEP50 / CEP95 / 2DRMS",
         MetresText(st.cep50) + " / " + MetresText(st.cep95) + " / " + MetresText(st.drms2) + " m");
    line("sigma east / north / up",
         MetresText(st.sigmaEast) + " / " + MetresText(st.sigmaNorth) + " / " + MetresText(st.sigmaAltitude) + " m");
  }
  for (const StartToFix& start : s.starts) {
    line("to first fix", "from the " + start.cause + " at " + SecondsFigure(start.elapsed) + " s: 2D " +
                             (start.to2D ? SecondsFigure(*start.to2D) + " s" : std::string("never")) + ", 3D " +
                             (start.to3D ? SecondsFigure(*start.to3D) + " s" : std::string("never")));
  }
  line("gaps", s.gapCount == 0 ? std::string("none")
                               : std::to_string(s.gapCount) + ", " + SecondsFigure(s.gapTotal) + " s in all");
  for (const std::string& note : s.notes) out += "  note: " + note + "\n";
  return out;
}

// Logs the receiver into `path` for `seconds` and feeds every valid sentence to the survey.
// kExitSuccess, or kExitFailure when the port or the file could not be opened (nothing is
// surveyed then) or the line went away (what came before is surveyed).
int LiveLog(const ParsedArgs& parsed, double seconds, const std::string& path, LogSurvey& survey, bool* surveyed) {
  // The queue before the link, so that it outlives the reader it takes sentences from.
  auto queue = std::make_unique<SentenceQueue>(StopRequestedNow);
  std::unique_ptr<LinkSession> link = OpenReceiver(ReceiverRequest(parsed));
  if (!link) return kExitFailure;
  SentenceLog log;
  log.setWritePolicy({&StopRequested(), -1});
  if (!log.open(path)) {
    PrintError("Open Error: " + log.openProblem(path));
    return kExitFailure;
  }
  *surveyed = true;
  PrintError("Logging " + link->devicePath() + " to " + path + " for " + SecondsText(seconds) + "; Ctrl-C ends early.");
  link->startReader(*queue);
  NmeaSession session;
  std::uint64_t failed = 0;
  const auto take = [&](const std::string& sentence) {
    const SentenceOutcome outcome = session.handle(sentence);
    if (!outcome.valid) return;
    survey.feed(sentence);
    if (!log.write(sentence.data(), sentence.size()) && failed++ == 0) {
      PrintError("cannot write to " + path + " (" + std::strerror(log.lastWrite().error) +
                 "); sentences are being lost");
    }
  };
  const auto deadline = LinkSession::Clock::now() + std::chrono::duration_cast<LinkSession::Clock::duration>(
                                                        std::chrono::duration<double>(seconds));
  std::optional<LinkError> lost;
  while (!StopRequested() && LinkSession::Clock::now() < deadline) {
    const std::optional<std::string> sentence = queue->next(deadline);
    if (sentence) {
      take(*sentence);
    } else if ((lost = queue->lost())) {
      break;
    }
  }
  queue->append(link->stopReader());
  while (const std::optional<std::string> sentence = queue->takeQueued()) take(*sentence);
  log.close();
  if (lost) {
    PrintLinkError(*lost);
    return kExitFailure;
  }
  if (failed > 0) {
    PrintError(std::to_string(failed) + " sentences could not be written to " + path);
    return kExitFailure;
  }
  return kExitSuccess;
}

}  // namespace

int RunReport(const CliArgs& args) {
  int exitCode = kExitSuccess;
  const std::optional<ParsedArgs> parsed = ParseReceiverCommand(
      args, "report", {{"-o", true}, {"--output", true}, {"--json", false}, {"--live", true}}, kReportHelp, &exitCode);
  if (!parsed) return exitCode;
  if (parsed->positional.size() != 1) return UsageError("report", "report takes one LOG");
  const std::string& logPath = parsed->positional[0];
  if (logPath.empty()) return UsageError("report", "the LOG name is empty");
  const std::string outPath = parsed->value("-o", parsed->value("--output", ""));
  const Drawing drawing = outPath.empty() ? Drawing::None : DrawingOf(outPath);
  if (!outPath.empty() && drawing == Drawing::None) {
    return UsageError("report", "-o names an .html or .svg file, not \"" + outPath + "\"");
  }
  const bool live = parsed->has("--live");
  std::optional<double> seconds;
  if (live) {
    seconds = ParseSeconds(parsed->value("--live", ""));
    if (!seconds) return UsageError("report", "--live takes the seconds to log, above 0 and at most a day");
  } else if (parsed->has("--port") || parsed->has("--baud")) {
    return UsageError("report", "--port and --baud go with --live; a LOG alone is read from the file");
  }

  Survey survey;
  int ending = kExitSuccess;
  if (live) {
    LogSurvey liveSurvey;
    bool surveyed = false;
    ending = LiveLog(*parsed, *seconds, logPath, liveSurvey, &surveyed);
    if (!surveyed) return ending;
    survey = liveSurvey.finish();
  } else {
    std::string problem;
    std::optional<Survey> read = SurveyOfFile(logPath, &problem);
    if (!read) {
      PrintError(problem);
      return kExitFailure;
    }
    survey = std::move(*read);
  }

  if (drawing != Drawing::None) {
    const std::string text = drawing == Drawing::Svg
                                 ? ScatterSvg(survey)
                                 : ReportHtml(survey, {logPath, std::string(kProgramName) + " " + TORVIKEL_VERSION});
    std::string why;
    if (!WriteFileWhole(outPath, text, &why)) {
      PrintError("cannot write the report: " + why);
      return kExitFailure;
    }
  }
  if (parsed->has("--json")) {
    if (!WriteOut(ReportJson(survey, logPath))) return kExitFailure;
  } else if (drawing == Drawing::None) {
    if (!WriteOut(SummaryOf(survey, logPath))) return kExitFailure;
  } else {
    PrintError("Report of " + logPath + " written to " + outPath + " (" + std::to_string(survey.points.size()) +
               " fixes, " + DurationText(survey.duration) + ")");
  }
  return ending;
}
