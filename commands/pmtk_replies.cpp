// Decoding of PMTK replies and the control decisions they lead to.
//
// Thread rule: pure; no state of its own.
#include "commands/pmtk_replies.h"

#include "link/number_text.h"

namespace {

// Where each sentence type's rate stands in the 514 reply.
struct RateField {
  NmeaKind kind;
  int field;
};
constexpr std::array<RateField, kNmeaKindCount> kRateFields = {{
    {NmeaKind::GLL, 1}, {NmeaKind::RMC, 2}, {NmeaKind::VTG, 3}, {NmeaKind::GGA, 4},
    {NmeaKind::GSA, 5}, {NmeaKind::GSV, 6}, {NmeaKind::ZDA, 18}, {NmeaKind::MCHN, 19},
}};

// The order in which the controls are set, and their names.
struct RateControls {
  NmeaKind kind;
  std::string_view indicatorName;
  std::string_view rateBoxName;
};
constexpr std::array<RateControls, kNmeaKindCount> kRateControls = {{
    {NmeaKind::GGA, "CheckBox1", "cbGGA"},
    {NmeaKind::GSA, "CheckBox2", "cbGSA"},
    {NmeaKind::GSV, "CheckBox3", "cbGSV"},
    {NmeaKind::RMC, "CheckBox4", "cbRMC"},
    {NmeaKind::GLL, "CheckBox5", "cbGLL"},
    {NmeaKind::VTG, "CheckBox6", "cbVTG"},
    {NmeaKind::ZDA, "CheckBox7", "cbZDA"},
    {NmeaKind::MCHN, "CheckBox9", "cbMCHN"},
}};

constexpr long kTenFixesPeriodMs = 100;

}  // namespace

std::optional<long> PmtkReplyNumber(std::string_view address) {
  constexpr std::string_view kPrefix = "PMTK";
  if (!address.starts_with(kPrefix)) return std::nullopt;
  const DecimalScan scan = ScanDecimal(address, kPrefix.size());
  if (!scan.digits) return std::nullopt;
  return scan.value;
}

std::optional<PmtkReply> DecodePmtkReply(const SentenceFields& fields) {
  const std::optional<long> number = PmtkReplyNumber(fields[0]);
  if (!number) return std::nullopt;
  switch (*number) {
    case 1:
      return PmtkAck{AtolOf(fields[1]), AtolOf(fields[2])};
    case 500:
      return PmtkFixPeriod{AtolOf(fields[1])};
    case 501:
      return PmtkDgpsMode{AtolOf(fields[1])};
    case 514: {
      PmtkOutputRates rates;
      for (const RateField& rateField : kRateFields) {
        rates.rates[static_cast<std::size_t>(rateField.kind)] = AtolOf(fields[rateField.field]);
      }
      return rates;
    }
    case 705:
      return PmtkVersion{std::string(fields[1]), std::string(fields[2]), std::string(fields[3]),
                         std::string(fields[4])};
    case 707:
      return PmtkEpoState{std::string(fields[1]), AtolOf(fields[2]), AtolOf(fields[3]),
                          AtolOf(fields[4]), AtolOf(fields[5])};
    default:
      return std::nullopt;
  }
}

std::string_view PmtkReplyKindName(const PmtkReply& reply) {
  constexpr std::array<std::string_view, std::variant_size_v<PmtkReply>> kNames = {
      "ack", "fixPeriod", "dgpsMode", "outputRates", "version", "epoState"};
  return kNames[reply.index()];
}

bool AckAccepted(const PmtkAck& ack) { return ack.flag == 3; }

MessageBoxText AckMessage(const PmtkAck& ack) {
  if (AckAccepted(ack)) return {"Set Successful!", "Send ok"};
  return {"Set Failed!", "Error"};
}

std::array<RateControlUpdate, kNmeaKindCount> OutputRatesUpdate(const PmtkOutputRates& reply) {
  std::array<RateControlUpdate, kNmeaKindCount> updates{};
  for (std::size_t i = 0; i < kRateControls.size(); ++i) {
    const RateControls& controls = kRateControls[i];
    const long rate = reply.rateOf(controls.kind);
    int selectIndex = -1;
    if (rate >= 0 && rate <= kMaxOutputRate) selectIndex = static_cast<int>(rate);
    updates[i] = {controls.kind, controls.indicatorName, controls.rateBoxName, rate != 0, selectIndex};
  }
  return updates;
}

FixPeriodUpdate FixPeriodReplyUpdate(long fixPeriodMs, bool tenHzModel) {
  FixPeriodUpdate update{FixIndexOfPeriodMs(fixPeriodMs), {}};
  if (tenHzModel) {
    const bool enabled = fixPeriodMs != kTenFixesPeriodMs;
    update.controls = {{{"btDGPSSet", enabled}, {"btDGQuery", enabled}, {"rbDisable", enabled},
                        {"rbWAAS", enabled}, {"Button3", enabled}}};
  } else {
    const bool enabled = fixPeriodMs >= kTenFixesPeriodMs;
    update.controls = {{{"rbWAAS", enabled}, {"rbRTCM", enabled}, {"btDGPSSet", enabled},
                        {"btDGQuery", enabled}, {"Button3", enabled}}};
  }
  return update;
}

std::optional<std::string_view> DgpsRadioToCheck(long mode) {
  switch (mode) {
    case 0: return "rbDisable";
    case 1: return "rbRTCM";
    case 2: return "rbWAAS";
    default: return std::nullopt;
  }
}

VersionUpdate VersionReplyUpdate(const PmtkVersion& reply, bool button5Enabled) {
  VersionUpdate update;
  for (const ModelEntry& model : kListedModels) {
    if (reply.model.starts_with(model.name)) {
      update.listedModel = true;
      update.setTenHzModel = model.tenHzModel;
      break;
    }
  }
  if (update.listedModel) {
    update.entryChange =
        button5Enabled ? TenFixesEntryChange::None : TenFixesEntryChange::AddAndEnableButton5;
  } else {
    update.entryChange = TenFixesEntryChange::RemoveAndDisableButton5;
  }
  update.label27Text = reply.release + "," + reply.buildId + "," + reply.model + "," + reply.fourth;
  return update;
}
