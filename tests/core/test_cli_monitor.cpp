// torvikel-cli monitor against the simulated receiver: it connects as "On" does (the same
// four queries, byte for byte), and the real captures replayed into monitor --json give,
// line for line, the texts the core session gives for the same bytes (the window shows the
// same session texts, tests/app/test_status_replay.cpp), in UTF-8, with the satellites on
// the sentence that completes a GSV cycle and the decoded replies. On a terminal it draws
// its live screen.
#ifdef TORVIKEL_CLI_BINARY

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "commands/pmtk_replies.h"
#include "commands/receiver_commands.h"
#include "link/nmea_sentence.h"
#include "link/nmea_session.h"
#include "tests/core/test_cli_support.h"

namespace {

using clitest::CliProcess;
using clitest::Json;
using clitest::JsonReader;
using clitest::SimFixture;
using clitest::Utf8Of;

// The test process reads dates in UTC, as the program does with TZ=UTC; restored afterwards.
class UtcZone {
 public:
  UtcZone() {
    const char* old = std::getenv("TZ");
    if (old != nullptr) old_ = old;
    ::setenv("TZ", "UTC", 1);
    ::tzset();
  }
  ~UtcZone() {
    if (old_) {
      ::setenv("TZ", old_->c_str(), 1);
    } else {
      ::unsetenv("TZ");
    }
    ::tzset();
  }

 private:
  std::optional<std::string> old_;
};

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string BytesOf(const CommandSequence& sequence) {
  std::string all;
  for (const CommandStep& step : sequence) all += step.bytes;
  return all;
}

// What the core session makes of one valid sentence.
struct Expected {
  std::string sentence;  // without its line end
  Display_SatInfo_st info;
  std::optional<std::vector<ChartSatellite>> satellites;
  bool reply = false;
  std::string replyKind;  // PMTK replies: the decoder's kind name
};

std::vector<Expected> SessionView(const std::string& stream) {
  std::vector<Expected> out;
  SentenceCutter cutter;
  NmeaSession session;
  const auto handle = [&](std::string_view sentence) {
    const SentenceOutcome outcome = session.handle(sentence);
    if (!outcome.valid) return;
    Expected e;
    const std::string text(sentence);
    e.sentence = text.substr(0, text.find_first_of("\r\n"));
    if (outcome.route == SentenceRoute::MtkReply) {
      if (const std::optional<PmtkReply> reply = DecodePmtkReply(session.fields)) {
        e.reply = true;
        e.replyKind = std::string(PmtkReplyKindName(*reply));
      }
    }
    if (outcome.route == SentenceRoute::Zrn001 || outcome.route == SentenceRoute::Zrn818) e.reply = true;
    if (outcome.gsvCycleComplete) e.satellites = TakeChartSatellites(session.state);
    e.info = session.state.satInfo;
    out.push_back(std::move(e));
  };
  cutter.feed(stream.data(), stream.size(), handle);
  cutter.flushComplete(handle);  // the line goes quiet after the capture's last sentence
  return out;
}

const std::vector<std::string> kTextMembers = {"dateText", "timeText", "latText", "lonText", "altitudeText", "fixModeText",
                                               "speedText", "pdopText", "hdopText", "vdopText"};

std::string TextOf(const Display_SatInfo_st& info, const std::string& member) {
  if (member == "dateText") return info.dateText;
  if (member == "timeText") return info.timeText;
  if (member == "latText") return info.latText;
  if (member == "lonText") return info.lonText;
  if (member == "altitudeText") return info.altitudeText;
  if (member == "fixModeText") return info.fixModeText;
  if (member == "speedText") return info.speedText;
  if (member == "pdopText") return info.pdopText;
  if (member == "hdopText") return info.hdopText;
  return info.vdopText;
}

// Compares one JSON line of the program with the session's view; returns the differences.
std::string Compare(const std::string& line, const Expected& e) {
  std::ostringstream diff;
  const std::optional<Json> json = JsonReader::parse(line);
  if (!json || json->type != Json::Type::Object) return "not a JSON object: " + line;
  std::vector<std::string> keys = {"sentence"};
  keys.insert(keys.end(), kTextMembers.begin(), kTextMembers.end());
  keys.push_back("fixTimerSeconds");
  if (e.satellites) keys.push_back("satellites");
  if (e.reply) keys.push_back("reply");
  if (json->keys() != keys) diff << "members differ; ";
  if (const Json* s = json->find("sentence"); s == nullptr || s->text != Utf8Of(e.sentence)) diff << "sentence; ";
  for (const std::string& member : kTextMembers) {
    const Json* v = json->find(member);
    if (v == nullptr || v->type != Json::Type::String || v->text != Utf8Of(TextOf(e.info, member))) {
      diff << member << " is \"" << (v ? v->text : "?") << "\", want \"" << Utf8Of(TextOf(e.info, member)) << "\"; ";
    }
  }
  const Json* timer = json->find("fixTimerSeconds");
  if (timer == nullptr || timer->type != Json::Type::Number || timer->number < 0) diff << "fixTimerSeconds; ";
  if (e.satellites) {
    const Json* sats = json->find("satellites");
    if (sats == nullptr || sats->items.size() != e.satellites->size()) {
      diff << "satellite count; ";
    } else {
      for (std::size_t i = 0; i < sats->items.size(); ++i) {
        const Json& s = sats->items[i];
        const ChartSatellite& want = (*e.satellites)[i];
        const Json* used = s.find("used");
        if (s.keys() != std::vector<std::string>{"prn", "elevation", "azimuth", "snr", "used"} ||
            s.find("prn")->text != want.prn || s.find("elevation")->text != want.elevationText ||
            s.find("azimuth")->text != want.azimuthText || s.find("snr")->text != want.snrText ||
            used->type != Json::Type::Bool || used->boolean != want.used) {
          diff << "satellite " << want.prn << "; ";
        }
      }
    }
  }
  if (e.reply) {
    const Json* reply = json->find("reply");
    const Json* kind = reply != nullptr ? reply->find("kind") : nullptr;
    if (kind == nullptr || (!e.replyKind.empty() && kind->text != e.replyKind)) diff << "reply kind; ";
  }
  return diff.str();
}

struct CaptureRow {
  const char* legend;
  const char* file;
  std::function<void(sim::NmeaFaults&)> faults;
};

void PrintTo(const CaptureRow& row, std::ostream* os) { *os << row.legend; }

class CliMonitorCaptureTest : public ::testing::TestWithParam<CaptureRow> {};

TEST_P(CliMonitorCaptureTest, JsonLinesGiveTheSessionTexts) {
  const CaptureRow& row = GetParam();
  UtcZone utc;
  SimFixture sim([](sim::SimOptions& o) {
    o.model.rates = {};  // silent until the capture plays
    o.model.replayFast = true;
  });
  ASSERT_TRUE(sim.started()) << sim.error();
  CliProcess child({"monitor", "--json", "--port", SimFixture::kPortText}, sim.env());
  ASSERT_TRUE(child.started());

  // Connected as "On" connects: the four queries, and nothing else.
  const std::string queries = BytesOf(ConnectQueryCommands());
  ASSERT_TRUE(sim.receiver().waitUntil([&] { return sim.receiver().receivedBytes().size() >= queries.size(); }, 30000))
      << child.err();
  EXPECT_EQ(sim.receiver().receivedBytes(), queries);

  const std::vector<std::string> lines = sim::ReadCaptureLines(ReadFile(std::string(TORVIKEL_TEST_DATA) + "/" + row.file));
  ASSERT_FALSE(lines.empty());
  sim.receiver().withModel([&](sim::ReceiverModel& m) {
    if (row.faults) row.faults(m.options().nmeaFaults);
    m.startReplay(lines);
  });
  ASSERT_TRUE(sim.receiver().waitUntil([&] { return sim.receiver().replayFinished(); }, 60000));

  const std::vector<Expected> expected = SessionView(sim.receiver().sentBytes());
  ASSERT_GT(expected.size(), 4u);
  child.waitFor([&](const std::string&) { return child.lines().size() >= expected.size(); });
  child.signal(SIGTERM);
  const clitest::CliResult result = child.finish();
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(result.err, "");

  const std::vector<std::string> got = child.lines();
  ASSERT_EQ(got.size(), expected.size()) << "one line per valid sentence";
  int withDegree = 0;
  for (std::size_t i = 0; i < got.size(); ++i) {
    const std::string diff = Compare(got[i], expected[i]);
    EXPECT_EQ(diff, "") << "line " << i + 1 << ": " << got[i];
    if (expected[i].info.latText.find('\xB0') != std::string::npos) {
      ++withDegree;
      EXPECT_NE(got[i].find("\xC2\xB0"), std::string::npos) << "the degree sign as UTF-8 U+00B0: " << got[i];
    }
  }
  EXPECT_GT(withDegree, 0) << row.legend << " shows positions";
}

INSTANTIATE_TEST_SUITE_P(
    Captures, CliMonitorCaptureTest,
    ::testing::Values(CaptureRow{"MT3339 HAT, DGPS fix", "mt3339.log", {}},
                      CaptureRow{"BT-Q818", "bt-q818.log", {}},
                      CaptureRow{"FV-M11 power-up to first fix", "mtk-3301.log", {}},
                      CaptureRow{"TR737A+ cold start", "tr737A+.log", {}},
                      CaptureRow{"MT3339 with acknowledgements", "sample_gpsdata_usbttl_5.txt", {}},
                      CaptureRow{"BT-Q818 through a bad line: wrong and odd checksums, NUL bytes, garbage, split writes",
                                 "bt-q818.log",
                                 [](sim::NmeaFaults& f) {
                                   f.badChecksum = 0.1;
                                   f.lowerCaseChecksum = 0.2;
                                   f.oneDigitChecksum = 0.5;
                                   f.nulBytes = 0.1;
                                   f.garbage = 0.1;
                                   f.splitWrites = 0.2;
                                   f.splitGapMs = 2;
                                 }}));

TEST(CliMonitor, LiveScreenOnATerminal) {
  SimFixture sim([](sim::SimOptions& o) { o.model.startup = {0, 0}; });
  ASSERT_TRUE(sim.started()) << sim.error();
  CliProcess child({"monitor", "--port", SimFixture::kPortText}, sim.env(), /*stdoutTerminal=*/true);
  ASSERT_TRUE(child.started());
  // The screen shows the position as the session formats it, and the replies to the queries.
  const bool drawn = child.waitFor([](const std::string& out) {
    return out.find("Latitude   N 25\xC2\xB0") != std::string::npos && out.find("PMTK705: firmware") != std::string::npos &&
           out.find("Satellites of the last complete cycle: ") != std::string::npos;
  });
  EXPECT_TRUE(drawn) << child.out();
  EXPECT_NE(child.out().find("\x1b[H"), std::string::npos) << "redrawn in place";
  EXPECT_EQ(child.out().find("{\"sentence\""), std::string::npos) << "no JSON on a terminal";
  child.signal(SIGINT);
  const clitest::CliResult result = child.finish();
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_NE(result.out.find("\x1b[?25h"), std::string::npos) << "the cursor is given back";
}

TEST(CliMonitor, PortThatCannotBeOpened) {
  SimFixture sim;
  ASSERT_TRUE(sim.started()) << sim.error();
  const clitest::CliResult result = clitest::RunCli({"monitor", "--json", "--port", "Com98"}, sim.env());
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_EQ(result.err, "torvikel-cli: Open ComPort failed.\n");
  EXPECT_EQ(result.out, "");
}

}  // namespace

#endif  // TORVIKEL_CLI_BINARY
