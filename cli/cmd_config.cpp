// torvikel-cli config: a receiver's settings in a small text file, to keep them or to put
// them on the next receiver. save asks the receiver every query the tool knows and writes
// each answer as the send command that sets it again, one a line, commented, with the
// receiver's firmware text at the top; apply reads such a file, checks every line before
// anything is sent, then sends each line's command and waits for its acknowledgement, and
// stops at the first that does not come. --dry-run shows the bytes instead and opens
// nothing. A line of the file is written exactly as torvikel-cli send takes it (the same
// table reads both), so a file can be written by hand as well.
//
// Thread rule: main thread, plus the link's reader thread.
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "cli/cli_commands.h"
#include "cli/cli_common.h"
#include "cli/cli_link.h"
#include "cli/cli_output.h"
#include "cli/send_commands.h"
#include "commands/nmea_session.h"
#include "commands/pmtk_replies.h"
#include "commands/receiver_settings.h"
#include "link/network_names.h"
#include "torvikel/version.h"

namespace {

// A settings file is a few hundred bytes; anything much larger is not one.
constexpr std::streamsize kLargestFile = 64 * 1024;

// One query of save: what it asks, and the line its reply becomes (nullopt and *why when the
// reply holds nothing the send commands can set again).
struct SettingQuery {
  const char* name;  // the send command the line is, for comments
  CommandSequence query;
  std::function<std::optional<std::string>(const ReceiverReply&, std::string* why)> line;
};

template <class Reply>
const Reply* As(const ReceiverReply& reply) {
  return std::get_if<Reply>(&reply);
}

std::string OnOffWord(long value) { return value != 0 ? "on" : "off"; }

// The queries, in the order apply sends the lines back: SBAS before the DGPS mode that takes
// its corrections.
std::vector<SettingQuery> SettingQueries() {
  return {
      {"rates", OutputRateQueryCommands(),
       [](const ReceiverReply& reply, std::string* why) -> std::optional<std::string> {
         const auto* rates = As<PmtkOutputRates>(reply);
         if (rates == nullptr) return std::nullopt;
         std::string line = "rates";
         for (const NmeaKindRow& row : kNmeaKinds) {
           const long rate = rates->rateOf(row.kind);
           if (rate < 0 || rate > kMaxOutputRate) {
             *why = "the rate of " + std::string(row.name) + " is " + std::to_string(rate) + ", beyond 0 to " +
                    std::to_string(kMaxOutputRate);
             return std::nullopt;
           }
           line += " " + std::to_string(rate);
         }
         return line;
       }},
      {"fix-rate", FixPeriodQueryCommands(),
       [](const ReceiverReply& reply, std::string* why) -> std::optional<std::string> {
         const auto* fix = As<PmtkFixPeriod>(reply);
         if (fix == nullptr) return std::nullopt;
         if (const std::optional<int> index = FixIndexOfPeriodMs(fix->fixPeriodMs)) {
           return "fix-rate " + (*index == kTenFixesIndex ? std::string(kTenFixesEntry) : std::to_string(*index + 1));
         }
         // A period the window's list has not: the command itself.
         if (fix->fixPeriodMs >= 100 && fix->fixPeriodMs <= 10000)
           return "raw " + SetFixPeriodBody(static_cast<int>(fix->fixPeriodMs)).substr(1);
         *why = "the fix period is " + std::to_string(fix->fixPeriodMs) + " ms";
         return std::nullopt;
       }},
      {"sbas", SbasQueryCommands(),
       [](const ReceiverReply& reply, std::string*) -> std::optional<std::string> {
         const auto* sbas = As<PmtkSbasEnabled>(reply);
         if (sbas == nullptr) return std::nullopt;
         return "sbas " + OnOffWord(sbas->enabled);
       }},
      {"sbas-mode", SbasModeQueryCommands(),
       [](const ReceiverReply& reply, std::string* why) -> std::optional<std::string> {
         const auto* mode = As<PmtkSbasMode>(reply);
         if (mode == nullptr) return std::nullopt;
         if (mode->mode != 0 && mode->mode != 1) {
           *why = "the SBAS mode is " + std::to_string(mode->mode);
           return std::nullopt;
         }
         return "sbas-mode " + std::string(SbasModeName(static_cast<SbasMode>(mode->mode)));
       }},
      {"dgps", DgpsQueryCommands(),
       [](const ReceiverReply& reply, std::string* why) -> std::optional<std::string> {
         const auto* dgps = As<PmtkDgpsMode>(reply);
         if (dgps == nullptr) return std::nullopt;
         const std::optional<DgpsMode> mode = DgpsModeOfReply(dgps->mode);
         if (!mode) {
           *why = "the DGPS mode is " + std::to_string(dgps->mode);
           return std::nullopt;
         }
         return "dgps " + std::string(DgpsModeName(*mode));
       }},
      {"static-nav", StaticNavQueryCommands(),
       [](const ReceiverReply& reply, std::string* why) -> std::optional<std::string> {
         const auto* nav = As<PmtkStaticNav>(reply);
         if (nav == nullptr) return std::nullopt;
         if (nav->thresholdCentimetresPs < 0 || nav->thresholdCentimetresPs > kMaxStaticNavCentimetresPs) {
           *why = "the threshold is \"" + nav->thresholdText + "\"";
           return std::nullopt;
         }
         return "static-nav " + SpeedTextOfCentimetres(nav->thresholdCentimetresPs);
       }},
      {"easy", EasyQueryCommands(),
       [](const ReceiverReply& reply, std::string*) -> std::optional<std::string> {
         const auto* easy = As<PmtkEasy>(reply);
         if (easy == nullptr) return std::nullopt;
         return "easy " + OnOffWord(easy->enabled);
       }},
  };
}

LinkSession::Clock::duration DurationOf(double seconds) {
  return std::chrono::duration_cast<LinkSession::Clock::duration>(std::chrono::duration<double>(seconds));
}

// Runs one exchange and keeps the reply that answered it (the sequence's acceptedBy).
struct Asked {
  ExchangeResult result;
  std::optional<ReceiverReply> reply;
};
Asked Ask(LinkSession& link, SentenceQueue& queue, NmeaSession& session, const CommandSequence& sequence,
          double timeoutSec) {
  Asked asked;
  asked.result = Exchange(link, queue, session, sequence, DurationOf(timeoutSec), {}, [&](const SentenceOutcome& o) {
    ReportSentenceFailure(o);
    if (!asked.reply && o.reply && MatchSentence(*sequence.acceptedBy, o.address, o.reply).matched)
      asked.reply = o.reply;
  });
  return asked;
}

std::string UtcNowText() {
  const std::time_t now = std::time(nullptr);
  std::tm tm{};
  ::gmtime_r(&now, &tm);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M UTC", &tm);
  return text;
}

int Save(LinkSession& link, const std::string& portName, const std::string& path, double timeoutSec) {
  SentenceQueue queue(StopRequestedNow);
  link.startReader(queue);
  NmeaSession session;
  const auto failed = [&](const ExchangeResult& result) {
    link.stopReader();
    switch (result.end) {
      case ExchangeEnd::Stopped: PrintError("interrupted; no file written"); break;
      case ExchangeEnd::Lost: PrintLinkError(*result.lost); break;
      default: PrintError("no reply from the receiver within " + SecondsText(timeoutSec) + "; no file written"); break;
    }
    return kExitFailure;
  };
  const Asked version = Ask(link, queue, session, VersionQueryCommands(), timeoutSec);
  if (version.result.end != ExchangeEnd::Accepted || !version.reply) return failed(version.result);
  const auto* firmware = As<PmtkVersion>(*version.reply);

  std::string settings;
  int saved = 0;
  int notSaved = 0;
  for (const SettingQuery& setting : SettingQueries()) {
    const Asked asked = Ask(link, queue, session, setting.query, timeoutSec);
    std::string why;
    switch (asked.result.end) {
      case ExchangeEnd::Accepted:
        if (asked.reply) {
          if (const std::optional<std::string> line = setting.line(*asked.reply, &why)) {
            settings += *line + "\n";
            ++saved;
            continue;
          }
        }
        if (why.empty()) why = "its reply holds no value";
        break;
      case ExchangeEnd::Refused:
        why = asked.result.refusal ? AckFlagWords(asked.result.refusal->flag) : "refused";
        if (why.empty()) why = "refused";
        break;
      case ExchangeEnd::NoReply: why = "no reply within " + SecondsText(timeoutSec); break;
      case ExchangeEnd::Stopped:
      case ExchangeEnd::Lost: return failed(asked.result);
    }
    settings += "# " + std::string(setting.name) + ": not saved, " + why + "\n";
    ++notSaved;
  }
  link.stopReader();

  const std::string text = "# Settings of a MediaTek receiver, saved by torvikel-cli " + std::string(TORVIKEL_VERSION) +
                           " on " + UtcNowText() + "\n# from " + portName + " at " + std::to_string(link.baud()) +
                           " baud.\n# firmware " + VersionReplyUpdate(*firmware, false).firmwareText +
                           "\n#\n# One setting a line, written as \"torvikel-cli send\" takes it; \"#\" begins a "
                           "comment.\n# \"torvikel-cli config apply FILE\" sends them in this order and stops at the "
                           "first refusal.\n" +
                           settings;
  std::string why;
  if (!WriteFileWhole(path, text, &why)) {
    PrintError(why + "; no file written");
    return kExitFailure;
  }
  return WriteOut("Written to " + path + ": " + std::to_string(saved) + " settings" +
                  (notSaved > 0 ? ", " + std::to_string(notSaved) + " not saved (see its comments)" : "") + "\n")
             ? kExitSuccess
             : kExitFailure;
}

// One setting line of a file, checked.
struct PlannedLine {
  int number = 0;
  std::string text;  // the words as written, joined by blanks
  CommandSequence sequence;
};

// Every line checked before anything is sent; nullopt (and one line said) at the first that
// is no setting.
std::optional<std::vector<PlannedLine>> ReadSettings(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    PrintError("cannot read " + path + " (" + std::strerror(errno) + ")");
    return std::nullopt;
  }
  std::string content(static_cast<std::size_t>(kLargestFile) + 1, '\0');
  in.read(content.data(), kLargestFile + 1);
  content.resize(static_cast<std::size_t>(in.gcount()));
  if (in.bad()) {
    PrintError("cannot read " + path);
    return std::nullopt;
  }
  if (static_cast<std::streamsize>(content.size()) > kLargestFile) {
    PrintError(path + " is larger than " + std::to_string(kLargestFile) + " bytes: no settings file");
    return std::nullopt;
  }
  std::vector<PlannedLine> lines;
  std::istringstream text(content);
  int number = 0;
  for (std::string line; std::getline(text, line);) {
    ++number;
    const std::size_t comment = line.find('#');
    if (comment != std::string::npos) line.resize(comment);
    std::istringstream wordsIn(line);
    std::vector<std::string> words;
    for (std::string word; wordsIn >> word;) words.push_back(word);
    if (words.empty()) continue;
    std::string joined;
    for (const std::string& w : words) joined += (joined.empty() ? "" : " ") + w;
    const auto malformed = [&](const std::string& why) {
      PrintError(path + " line " + std::to_string(number) + " (" + OneLine(joined) + "): " + why + "; nothing sent");
      return std::nullopt;
    };
    std::string error;
    const SendCommand* command = nullptr;
    std::optional<CommandSequence> sequence = PlanSendWords(words, "", &error, &command);
    if (command != nullptr && !command->setting) {
      return malformed("\"" + words[0] +
                       "\" is no setting a file may hold (rates, fix-rate, dgps, sbas, sbas-mode, "
                       "static-nav, power, aic, easy, raw)");
    }
    if (!sequence) return malformed(error);
    lines.push_back({number, joined, std::move(*sequence)});
  }
  if (lines.empty()) {
    PrintError(path + " holds no setting; nothing sent");
    return std::nullopt;
  }
  return lines;
}

// The bytes as C writes them: printable ASCII as it is, the rest escaped.
std::string Escaped(std::string_view bytes) {
  std::string out;
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '\r') {
      out += "\\r";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\0') {
      out += "\\0";
    } else if (c == '\\') {
      out += "\\\\";
    } else if (byte < 0x20 || byte > 0x7E) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", byte);
      out += hex;
    } else {
      out.push_back(c);
    }
  }
  return out;
}

int DryRun(const std::vector<PlannedLine>& lines) {
  std::string out;
  for (const PlannedLine& line : lines) {
    out += "line " + std::to_string(line.number) + ": " + line.text + "\n";
    for (const CommandStep& step : line.sequence.steps) {
      out += "  " + Escaped(step.bytes) + "\n";
      if (step.pauseAfterMs > 0) out += "  (" + std::to_string(step.pauseAfterMs) + " ms)\n";
    }
  }
  return WriteOut(out) ? kExitSuccess : kExitFailure;
}

int Apply(LinkSession& link, const std::string& path, const std::vector<PlannedLine>& lines, double timeoutSec) {
  SentenceQueue queue(StopRequestedNow);
  link.startReader(queue);
  NmeaSession session;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const PlannedLine& line = lines[i];
    bool outputOk = true;
    const ExchangeResult result =
        Exchange(link, queue, session, line.sequence, DurationOf(timeoutSec), {}, [&](const SentenceOutcome& o) {
          ReportSentenceFailure(o);
          if (const std::optional<ReplyReport> report = ReportReply(o))
            outputOk = WriteOut("  " + report->text + "\n") && outputOk;
        });
    const std::string where = path + " line " + std::to_string(line.number) + " (" + line.text + "): ";
    const std::string rest =
        i == 0 ? "; nothing of the file applied" : "; the lines before it applied, the rest not sent";
    switch (result.end) {
      case ExchangeEnd::Accepted: break;
      case ExchangeEnd::Refused:
        link.stopReader();
        PrintError(where + "the receiver refused it: " + (result.refusal ? RefusalText(*result.refusal) : "refused") +
                   rest);
        return kExitFailure;
      case ExchangeEnd::NoReply:
        link.stopReader();
        PrintError(where + "no reply from the receiver within " + SecondsText(timeoutSec) + rest);
        return kExitFailure;
      case ExchangeEnd::Stopped:
        link.stopReader();
        PrintError(where + "interrupted" + rest);
        return kExitFailure;
      case ExchangeEnd::Lost:
        link.stopReader();
        PrintLinkError(*result.lost);
        return kExitFailure;
    }
    if (!outputOk || !WriteOut("line " + std::to_string(line.number) + ": " + line.text + ": accepted\n")) {
      link.stopReader();
      return kExitFailure;
    }
  }
  link.stopReader();
  return WriteOut(std::to_string(lines.size()) + " settings applied.\n") ? kExitSuccess : kExitFailure;
}

}  // namespace

const char* const kConfigHelp =
    "Usage: torvikel-cli config [--port P] [--baud B] [--timeout SEC] save FILE\n"
    "       torvikel-cli config [--port P] [--baud B] [--timeout SEC] apply [--dry-run] FILE\n"
    "\n"
    "A receiver's settings in a small text file, to keep or to put on the next receiver.\n"
    "\n"
    "  save FILE    asks the receiver its firmware and every setting the tool can query\n"
    "               (output rates, fix rate, SBAS, SBAS mode, DGPS mode, static navigation,\n"
    "               EASY) and writes each answer as the send command that sets it again,\n"
    "               one a line, the firmware text in a comment at the top. A setting the\n"
    "               receiver does not support, or does not answer, is a comment saying so.\n"
    "               FILE appears only whole.\n"
    "  apply FILE   checks every line first (a malformed one is named with its number and\n"
    "               nothing is sent), then sends each line's command as torvikel-cli send\n"
    "               does and waits for its acknowledgement; it stops at the first refusal\n"
    "               or silence and says which line.\n"
    "  --dry-run    apply: print the bytes each line would send (with its pauses) and send\n"
    "               nothing; the port is not opened.\n"
    "\n"
    "A line is a send command with its arguments: rates, default-rates, fix-rate, dgps,\n"
    "sbas, sbas-mode, static-nav, power, aic, easy or raw (see torvikel-cli send --help);\n"
    "\"#\" begins a comment, blank lines are passed over.\n"
    "\n"
    "Options:\n"
    "  --port P       Com1 ... Com99 or a device path (default Com1)\n"
    "  --baud B       line speed (default 115200; auto: find it)\n"
    "  --timeout SEC  how long to wait for each reply (default 3)\n"
    "\n"
    "Exit codes: 0 saved or applied, 1 a refusal, no reply, a malformed line, or the port or\n"
    "FILE could not be opened, 2 usage error.\n";

int RunConfig(const CliArgs& args) {
  int exitCode = kExitSuccess;
  const std::optional<ParsedArgs> parsed =
      ParseReceiverCommand(args, "config", {{"--timeout", true}, {"--dry-run", false}}, kConfigHelp, &exitCode);
  if (!parsed) return exitCode;
  if (parsed->positional.empty()) return UsageError("config", "save FILE or apply FILE?");
  const std::string& sub = parsed->positional[0];
  if (sub != "save" && sub != "apply") return UsageError("config", "unknown subcommand \"" + sub + "\"");
  if (parsed->positional.size() != 2) return UsageError("config", sub + " takes one FILE");
  const std::string& path = parsed->positional[1];
  if (path.empty()) return UsageError("config", "the FILE name is empty");
  if (sub == "save" && parsed->has("--dry-run")) return UsageError("config", "--dry-run goes with apply only");
  const std::optional<double> timeoutSec = ParseSeconds(parsed->value("--timeout", "3"));
  if (!timeoutSec)
    return UsageError("config", "--timeout takes seconds above 0, not \"" + parsed->value("--timeout", "") + "\"");

  std::optional<std::vector<PlannedLine>> lines;
  if (sub == "apply") {
    lines = ReadSettings(path);  // before the port is opened: a bad file sends nothing
    if (!lines) return kExitFailure;
    if (parsed->has("--dry-run")) return DryRun(*lines);
  }
  std::unique_ptr<LinkSession> link = OpenReceiver(ReceiverRequest(*parsed));
  if (!link) return kExitFailure;
  if (link->isReadOnly()) {  // before anything is written
    PrintError(ReadOnlyRefusal(link->devicePath()));
    return kExitFailure;
  }
  const std::string portName = PortDisplayName(parsed->value("--port", kDefaultPortText), link->devicePath());
  if (sub == "save") return Save(*link, portName, path, *timeoutSec);
  return Apply(*link, path, *lines, *timeoutSec);
}
