// torvikel-cli monitor: connects as "On" does and shows the receiver's state. On a terminal a
// live screen redrawn in place; otherwise (or with --json) one JSON object per line for
// every sentence that passed the checksum test. The texts are the session's own, exactly as
// the window's edit fields show them, converted from Latin-1 to UTF-8.
//
// Thread rule: main thread (sentence handling, the fix timer, output), plus the link's
// reader thread.
#include <sys/ioctl.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <ctime>
#include <deque>
#include <string>
#include <vector>

#include "cli/cli_commands.h"
#include "cli/cli_common.h"
#include "cli/cli_link.h"
#include "cli/cli_output.h"
#include "commands/nmea_session.h"
#include "link/status_rules.h"

namespace {

constexpr auto kFixTimerPeriod = std::chrono::seconds(1);
constexpr auto kRedrawInterval = std::chrono::milliseconds(200);  // at most five screens a second
constexpr std::size_t kRepliesShown = 8;

std::string clockText() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[16];
  std::strftime(text, sizeof text, "%H:%M:%S", &local);
  return text;
}

std::string padded(const std::string& utf8, std::size_t width) {
  // Width in characters: UTF-8 continuation bytes take no column.
  std::size_t columns = 0;
  for (const char c : utf8) columns += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  return columns >= width ? utf8 : utf8 + std::string(width - columns, ' ');
}

// The first `columns` characters of a UTF-8 line: a line longer than the terminal would wrap
// and push the redrawn screen out of place.
std::string clipped(const std::string& utf8, std::size_t columns) {
  std::size_t seen = 0;
  for (std::size_t i = 0; i < utf8.size(); ++i) {
    if ((static_cast<unsigned char>(utf8[i]) & 0xC0) == 0x80) continue;
    if (seen++ == columns) return utf8.substr(0, i);
  }
  return utf8;
}

struct TerminalSize {
  std::size_t columns = 80;
  std::size_t rows = 24;
};

TerminalSize terminalSize() {
  TerminalSize size;
  winsize ws{};
  if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &ws) == 0) {
    if (ws.ws_col > 1) size.columns = ws.ws_col;
    if (ws.ws_row > 1) size.rows = ws.ws_row;
  }
  return size;
}

class LiveScreen {
 public:
  LiveScreen(std::string portText, std::string devicePath, std::string baudText)
      : header_("torvikel-cli monitor  " + portText + " (" + devicePath + ") at " + baudText + " baud   Ctrl-C ends") {}

  void begin() { WriteOut("\x1b[?25l\x1b[2J"); }  // hide the cursor, clear once
  void end() { WriteOut("\x1b[?25h\n"); }

  void addReply(const std::string& text) {
    replies_.push_back(clockText() + "  " + Latin1ToUtf8(text));
    while (replies_.size() > kRepliesShown) replies_.pop_front();
  }
  void setSatellites(std::vector<ChartSatellite> satellites) { satellites_ = std::move(satellites); }
  void setLastSentence(std::string_view sentence) { last_ = Latin1ToUtf8(SentenceText(sentence)); }

  bool draw(const ReceiverState& state) {
    const Display_SatInfo_st& info = state.satInfo;
    std::vector<std::string> lines;
    lines.push_back(header_);
    lines.push_back("");
    const auto row = [&](const char* a, const std::string& av, const char* b, const std::string& bv) {
      lines.push_back(padded(std::string(a), 11) + padded(Latin1ToUtf8(av), 22) + padded(std::string(b), 11) +
                      Latin1ToUtf8(bv));
    };
    row("Date", info.dateText, "Time", info.timeText);
    row("Latitude", info.latText, "Longitude", info.lonText);
    row("Speed", info.speedText, "Altitude", info.altitudeText);
    row("Fix mode", info.fixModeText, "PDOP", info.pdopText);
    row("HDOP", info.hdopText, "VDOP", info.vdopText);
    lines.push_back("Seconds without a 3D fix: " + std::to_string(state.fixTimerSeconds));
    lines.push_back("Last sentence: " + last_);
    lines.push_back("");
    lines.push_back("Replies:");
    for (const std::string& r : replies_) lines.push_back("  " + r);
    lines.push_back("");
    lines.push_back("Satellites of the last complete cycles: " + std::to_string(satellites_.size()) + systemCounts());
    lines.push_back("  System   PRN  Elevation  Azimuth  SNR  Used");
    for (const ChartSatellite& s : satellites_) {
      char line[128];
      std::snprintf(line, sizeof line, "  %-7s  %3s  %9s  %7s  %3s  %s", std::string(GnssSystemName(s.system)).c_str(),
                    Latin1ToUtf8(s.prn).c_str(), Latin1ToUtf8(s.elevationText).c_str(),
                    Latin1ToUtf8(s.azimuthText).c_str(), Latin1ToUtf8(s.snrText).c_str(), s.used ? "yes" : "");
      lines.push_back(line);
    }

    // A screen taller than the terminal would scroll and tear the redraw: the lines that do
    // not fit (the end of a long satellite table) are left out.
    const TerminalSize size = terminalSize();
    if (lines.size() > size.rows - 1) lines.resize(size.rows - 1);
    std::string screen = "\x1b[H";  // home, then each line cleared to its end
    for (const std::string& line : lines) screen += clipped(line, size.columns - 1) + "\x1b[K\n";
    screen += "\x1b[J";  // and whatever a longer screen before left below
    return WriteOut(screen);
  }

 private:
  // ", by system: GPS 12 (8 used), GLONASS 8": in view per system, and how many are used.
  std::string systemCounts() const {
    std::array<int, kGnssSystemCount> inView{};
    std::array<int, kGnssSystemCount> used{};
    for (const ChartSatellite& s : satellites_) {
      ++inView[IndexOf(s.system)];
      if (s.used) ++used[IndexOf(s.system)];
    }
    std::string text;
    for (std::size_t k = 0; k < kGnssSystemCount; ++k) {
      if (inView[k] == 0) continue;
      text += text.empty() ? ", by system: " : ", ";
      text += std::string(GnssSystemName(static_cast<GnssSystem>(k))) + " " + std::to_string(inView[k]);
      if (used[k] > 0) text += " (" + std::to_string(used[k]) + " used)";
    }
    return text;
  }

  std::string header_;
  std::deque<std::string> replies_;
  std::vector<ChartSatellite> satellites_;
  std::string last_;
};

}  // namespace

const char* const kMonitorHelp =
    "Usage: torvikel-cli monitor [--port P] [--baud B] [--json]\n"
    "\n"
    "Connects as the window's \"On\" does (the same steps and messages, and the same four\n"
    "first queries: output rates, firmware, mode, fix period) and shows the receiver's\n"
    "state until Ctrl-C or SIGTERM.\n"
    "\n"
    "On a terminal: a live screen with date, time, latitude, longitude, speed, altitude, fix\n"
    "mode, PDOP, the seconds without a 3D fix, the satellites of every system's last\n"
    "complete GSV cycle (system, PRN, elevation, azimuth, SNR, used in the fix) with a count\n"
    "per system, and the replies as they arrive.\n"
    "\n"
    "With --json, or when standard output is no terminal: one JSON object per line (UTF-8)\n"
    "for every sentence that passed the checksum test, with the members sentence (without\n"
    "its line end), dateText, timeText, latText, lonText, altitudeText, fixModeText,\n"
    "speedText, pdopText, hdopText, vdopText and fixTimerSeconds; on the sentence that\n"
    "completes any system's GSV cycle also satellites, an array of {prn, system, elevation,\n"
    "azimuth, snr (texts as received), used (boolean)} with every system's last complete\n"
    "cycle, system one of GPS, SBAS, GLONASS, Galileo, BeiDou, QZSS, NavIC; on a decoded\n"
    "reply also reply, {kind, and its values}.\n"
    "Date and time are local (TZ).\n"
    "\n"
    "Options:\n"
    "  --port P   Com1 ... Com99 or a device path (default Com1)\n"
    "  --baud B   line speed (default 115200; auto: find it)\n"
    "  --json     JSON lines even on a terminal\n"
    "\n"
    "Exit codes: 0 ended by Ctrl-C or SIGTERM, or by the reader of standard output closing\n"
    "it (as `| head` does); 1 the port could not be opened, or the output failed or stopped\n"
    "being read; 2 usage error.\n";

int RunMonitor(const CliArgs& args) {
  int exitCode = kExitSuccess;
  const std::optional<ParsedArgs> parsed =
      ParseReceiverCommand(args, "monitor", {{"--json", false}}, kMonitorHelp, &exitCode);
  if (!parsed) return exitCode;
  if (!parsed->positional.empty())
    return UsageError("monitor", "unexpected argument \"" + parsed->positional[0] + "\"");
  const bool json = parsed->has("--json") || !StdoutIsTerminal();
  const LinkOpenRequest request = ReceiverRequest(*parsed);
  const std::string& portText = request.portText;

  // The queue before the link, so that it outlives the reader it takes sentences from on
  // every way out of this function.
  SentenceQueue queue(StopRequestedNow);
  std::unique_ptr<LinkSession> link = OpenReceiver(request);
  if (!link) return kExitFailure;
  NmeaSession session;
  session.state.fixTimerSeconds = 0;
  link->connect(queue);  // the reader, then the first queries; nothing is written through gpsd

  LiveScreen screen(portText, link->devicePath(), std::to_string(link->baud()));
  if (!json) screen.begin();
  using Clock = LinkSession::Clock;
  Clock::time_point nextTick = Clock::now() + kFixTimerPeriod;
  Clock::time_point nextDraw = Clock::now();
  bool dirty = true;
  bool outputOk = true;
  // One sentence through the session onto the output; false once the output failed.
  const auto show = [&](const std::string& sentence) {
    const SentenceOutcome outcome = session.handle(sentence);
    if (!outcome.valid) return true;
    ReportSentenceFailure(outcome);
    const std::optional<ReplyReport> reply = ReportReply(outcome);
    std::vector<ChartSatellite> satellites;
    if (outcome.gsvCycleComplete) satellites = TakeChartSatellites(session.state);
    if (json) {
      return WriteOut(SentenceJson(sentence, session.state, outcome.gsvCycleComplete ? &satellites : nullptr, reply) +
                      "\n");
    }
    if (reply) screen.addReply(reply->text);
    if (const std::optional<std::string> notice = StartupNoticeText(outcome)) screen.addReply(*notice);
    if (outcome.gsvCycleComplete) screen.setSatellites(std::move(satellites));
    screen.setLastSentence(sentence);
    dirty = true;
    return true;
  };
  while (outputOk && !StopRequested()) {
    const Clock::time_point wakeAt = json || !dirty ? nextTick : std::min(nextTick, nextDraw);
    if (const std::optional<std::string> sentence = queue.next(wakeAt)) {
      outputOk = show(*sentence);
    } else if (queue.lost()) {
      break;  // every sentence before the loss has been shown
    }
    const Clock::time_point now = Clock::now();
    if (now >= nextTick) {
      FixTimerTick(session.state);
      nextTick += kFixTimerPeriod;
      if (nextTick <= now) nextTick = now + kFixTimerPeriod;  // a stalled terminal gets no burst of ticks
      dirty = true;
    }
    if (!json && dirty && now >= nextDraw) {
      outputOk = screen.draw(session.state);
      dirty = false;
      nextDraw = now + kRedrawInterval;
    }
  }
  queue.append(link->stopReader());
  // The JSON lines of what arrived before the stop are printed too.
  while (outputOk && json) {
    const std::optional<std::string> sentence = queue.takeQueued();
    if (!sentence) break;
    outputOk = show(*sentence);
  }
  if (!json) screen.end();
  if (const std::optional<LinkError> lost = queue.lost(); lost && outputOk) {
    PrintLinkError(*lost);
    return kExitFailure;
  }
  if (outputOk) return kExitSuccess;
  switch (LastOutputEnd()) {
    case WriteEnd::PeerClosed:
      return kExitSuccess;  // a reader that closed the pipe (monitor --json | head) had what it wanted
    case WriteEnd::Stopped:
      PrintError("standard output was not being read; output since then is lost");
      return kExitFailure;
    default: PrintError("cannot write to standard output"); return kExitFailure;
  }
}
