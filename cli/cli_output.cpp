// Texts, JSON and reply descriptions of the command-line tool.
//
// Thread rule: pure functions.
#include "cli/cli_output.h"

#include "cli/cli_common.h"
#include "commands/epo_state_text.h"
#include "commands/locus.h"
#include "commands/receiver_settings.h"
#include "link/json_text.h"

std::string Latin1ToUtf8(std::string_view latin1) {
  std::string out;
  out.reserve(latin1.size() + latin1.size() / 8);
  for (const char c : latin1) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x80) {
      out.push_back(c);
    } else {
      out.push_back(static_cast<char>(0xC0 | (byte >> 6)));
      out.push_back(static_cast<char>(0x80 | (byte & 0x3F)));
    }
  }
  return out;
}

std::string JsonString(std::string_view latin1) { return JsonQuoted(Latin1ToUtf8(latin1)); }

void JsonObject::key(std::string_view name) {
  if (body_.size() > 1) body_.push_back(',');
  body_ += JsonString(name);
  body_.push_back(':');
}

JsonObject& JsonObject::text(std::string_view name, std::string_view latin1) {
  key(name);
  body_ += JsonString(latin1);
  return *this;
}

JsonObject& JsonObject::number(std::string_view name, long long value) {
  key(name);
  body_ += std::to_string(value);
  return *this;
}

JsonObject& JsonObject::boolean(std::string_view name, bool value) {
  key(name);
  body_ += value ? "true" : "false";
  return *this;
}

JsonObject& JsonObject::raw(std::string_view name, std::string_view json) {
  key(name);
  body_ += json;
  return *this;
}

std::string JsonArray(const std::vector<std::string>& elements) {
  std::string out = "[";
  for (std::size_t i = 0; i < elements.size(); ++i) {
    if (i > 0) out.push_back(',');
    out += elements[i];
  }
  out.push_back(']');
  return out;
}

std::string_view SentenceText(std::string_view sentence) {
  const std::size_t end = sentence.find_first_of("\r\n");
  return end == std::string_view::npos ? sentence : sentence.substr(0, end);
}

namespace {

std::string DgpsName(long mode) {
  const std::optional<DgpsMode> known = DgpsModeOfReply(mode);
  return known ? std::string(DgpsModeName(*known)) : "unknown";
}

// 1 "on", 0 "off", anything else as its number.
std::string OnOff(long value) { return value == 1 ? "on" : value == 0 ? "off" : std::to_string(value); }

struct Reporter {
  std::string address;
  ReplyReport report;

  void operator()(const PmtkAck& ack) {
    const MessageBoxText box = AckMessage(ack);
    report.text = address + ": command " + std::to_string(ack.command) + " acknowledged with flag " +
                  std::to_string(ack.flag) + ": " + std::string(box.text);
    report.json = JsonObject()
                      .text("kind", report.kind)
                      .number("command", ack.command)
                      .number("flag", ack.flag)
                      .boolean("accepted", AckAccepted(ack))
                      .text("text", box.text)
                      .str();
  }
  void operator()(const PmtkFixPeriod& reply) {
    report.text = address + ": fix period " + std::to_string(reply.fixPeriodMs) + " ms";
    report.json = JsonObject().text("kind", report.kind).number("fixPeriodMs", reply.fixPeriodMs).str();
  }
  void operator()(const PmtkDgpsMode& reply) {
    const std::string name = DgpsName(reply.mode);
    report.text = address + ": DGPS mode " + std::to_string(reply.mode) + " (" + name + ")";
    report.json = JsonObject().text("kind", report.kind).number("mode", reply.mode).text("name", name).str();
  }
  void operator()(const PmtkOutputRates& reply) {
    report.text = address + ": output rates";
    JsonObject json;
    json.text("kind", report.kind);
    for (const NmeaKindRow& row : kNmeaKinds) {
      const long rate = reply.rateOf(row.kind);
      report.text +=
          std::string(IndexOf(row.kind) == 0 ? " " : ", ") + std::string(row.name) + " " + std::to_string(rate);
      json.number(row.name, rate);
    }
    report.json = json.str();
  }
  void operator()(const PmtkVersion& reply) {
    const VersionUpdate update = VersionReplyUpdate(reply, /*fixRateResetOffered=*/false);
    report.text = address + ": firmware " + update.firmwareText;
    if (update.listedModel) {
      report.text += " (listed model: 10 fixes a second offered";
      if (update.setTenHzModel) report.text += "; no DGPS and no EPO update at 10 fixes a second";
      report.text += ")";
    } else {
      report.text += " (unlisted model)";
    }
    report.json = JsonObject()
                      .text("kind", report.kind)
                      .text("release", reply.release)
                      .text("buildId", reply.buildId)
                      .text("model", reply.model)
                      .text("fourth", reply.fourth)
                      .text("text", update.firmwareText)
                      .boolean("listedModel", update.listedModel)
                      .boolean("tenHzModel", update.setTenHzModel)
                      .str();
  }
  void operator()(const PmtkEpoState& reply) {
    const std::string text = EpoStateText(reply, SystemEpoClock(), IsoEpoTextFormat());
    report.text = address + ": EPO data: " + text;
    report.json = JsonObject()
                      .text("kind", report.kind)
                      .text("sets", reply.setsText)
                      .number("firstWeek", reply.firstWeek)
                      .number("firstTowSec", reply.firstTowSec)
                      .number("lastWeek", reply.lastWeek)
                      .number("lastTowSec", reply.lastTowSec)
                      .text("text", text)
                      .str();
  }
  void operator()(const PmtkLocusStatus& reply) {
    report.text = address + ": logbook " + LocusStatusText(reply);
    report.json = JsonObject()
                      .text("kind", report.kind)
                      .number("serial", reply.serial)
                      .number("type", reply.type)
                      .number("mode", reply.mode)
                      .number("content", reply.content)
                      .number("intervalSec", reply.intervalSec)
                      .number("distanceM", reply.distanceM)
                      .number("speedKmh", reply.speedKmh)
                      .boolean("logging", reply.logging())
                      .number("records", reply.records)
                      .number("percentFull", reply.percentFull)
                      .text("text", LocusStatusText(reply))
                      .str();
  }
  void operator()(const PmtkLocusData&) {}  // a dump's lines are not reported one by one
  void operator()(const PmtkSbasEnabled& reply) {
    report.text = address + ": SBAS " + OnOff(reply.enabled);
    report.json = JsonObject().text("kind", report.kind).number("enabled", reply.enabled).str();
  }
  void operator()(const PmtkSbasMode& reply) {
    const std::string name = reply.mode == 0 || reply.mode == 1
                                 ? std::string(SbasModeName(static_cast<SbasMode>(reply.mode)))
                                 : "unknown (" + std::to_string(reply.mode) + ")";
    report.text = address + ": SBAS mode " + name;
    report.json = JsonObject().text("kind", report.kind).number("mode", reply.mode).text("name", name).str();
  }
  void operator()(const PmtkStaticNav& reply) {
    report.text = address + ": static-navigation threshold " + reply.thresholdText + " m/s" +
                  (reply.thresholdCentimetresPs == 0 ? " (off)" : "");
    report.json = JsonObject()
                      .text("kind", report.kind)
                      .text("threshold", reply.thresholdText)
                      .number("centimetresPerSecond", reply.thresholdCentimetresPs)
                      .str();
  }
  void operator()(const PmtkEasy& reply) {
    report.text = address + ": EASY " + OnOff(reply.enabled);
    if (reply.days >= 0) report.text += ", " + std::to_string(reply.days) + " days predicted";
    report.json =
        JsonObject().text("kind", report.kind).number("enabled", reply.enabled).number("days", reply.days).str();
  }
  void operator()(const FixRateResetDone&) {
    report.text = address + ": " + std::string(kSetSuccessfulBox.text);
    report.json = JsonObject().text("kind", report.kind).text("text", kSetSuccessfulBox.text).str();
  }
  void operator()(const ModeReply& reply) {
    report.text = address + ": mode reply" +
                  (reply.fixRateSettable ? std::string(", the fix update rate can be set") : std::string());
    report.json = JsonObject()
                      .text("kind", report.kind)
                      .text("mode", reply.mode)
                      .boolean("fixRateSettable", reply.fixRateSettable)
                      .str();
  }
  // Nothing to show beyond the sentence itself.
  void operator()(const PmtkStartupNotice&) {}
  void operator()(const ChannelStatus&) {}
};

}  // namespace

std::string AckFlagWords(long flag) {
  switch (flag) {
    case 0: return "an invalid command";
    case 1: return "not supported by this receiver";
    case 2: return "the receiver could not do it";
    default: return {};
  }
}

std::string RefusalText(const PmtkAck& ack) {
  std::string text = std::string(AckMessage(ack).text) + " (acknowledgement flag " + std::to_string(ack.flag) + ")";
  const std::string words = AckFlagWords(ack.flag);
  return words.empty() ? text : text + ": " + words;
}

std::optional<ReplyReport> ReportReply(const SentenceOutcome& outcome) {
  if (!outcome.valid || !outcome.reply) return std::nullopt;
  const ReplyKind kind = KindOf(*outcome.reply);
  if (kind == kReplyKindOf<PmtkStartupNotice> || kind == kReplyKindOf<ChannelStatus> ||
      kind == kReplyKindOf<PmtkLocusData>)
    return std::nullopt;
  Reporter reporter{outcome.address, {}};
  reporter.report.kind = std::string(ReplyKindName(kind));
  std::visit(reporter, *outcome.reply);
  return reporter.report;
}

void ReportSentenceFailure(const SentenceOutcome& outcome) {
  if (outcome.failure)
    PrintError("a sentence could not be handled: " + *outcome.failure + " (further failures are only counted)");
}

std::optional<std::string> StartupNoticeText(const SentenceOutcome& outcome) {
  if (!outcome.valid || !outcome.reply || KindOf(*outcome.reply) != kReplyKindOf<PmtkStartupNotice>)
    return std::nullopt;
  return outcome.address + ": start-up notice";
}

std::string SentenceJson(std::string_view sentence, const ReceiverState& state,
                         const std::vector<ChartSatellite>* satellites, const std::optional<ReplyReport>& reply) {
  const Display_SatInfo_st& info = state.satInfo;
  JsonObject json;
  json.text("sentence", SentenceText(sentence))
      .text("dateText", info.dateText)
      .text("timeText", info.timeText)
      .text("latText", info.latText)
      .text("lonText", info.lonText)
      .text("altitudeText", info.altitudeText)
      .text("fixModeText", info.fixModeText)
      .text("speedText", info.speedText)
      .text("pdopText", info.pdopText)
      .text("hdopText", info.hdopText)
      .text("vdopText", info.vdopText)
      .number("fixTimerSeconds", state.fixTimerSeconds);
  if (satellites != nullptr) {
    std::vector<std::string> items;
    items.reserve(satellites->size());
    for (const ChartSatellite& s : *satellites) {
      items.push_back(JsonObject()
                          .text("prn", s.prn)
                          .text("system", GnssSystemName(s.system))
                          .text("elevation", s.elevationText)
                          .text("azimuth", s.azimuthText)
                          .text("snr", s.snrText)
                          .boolean("used", s.used)
                          .str());
    }
    json.raw("satellites", JsonArray(items));
  }
  if (reply) json.raw("reply", reply->json);
  return json.str();
}
