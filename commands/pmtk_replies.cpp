// Decoding of the receiver's replies, and the meanings they carry for its settings.
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
    {NmeaKind::GLL, 1},
    {NmeaKind::RMC, 2},
    {NmeaKind::VTG, 3},
    {NmeaKind::GGA, 4},
    {NmeaKind::GSA, 5},
    {NmeaKind::GSV, 6},
    {NmeaKind::ZDA, 18},
    {NmeaKind::MCHN, 19},
}};

// The order in which the rates are applied.
constexpr std::array<NmeaKind, kNmeaKindCount> kRateOrder = {
    NmeaKind::GGA, NmeaKind::GSA, NmeaKind::GSV, NmeaKind::RMC,
    NmeaKind::GLL, NmeaKind::VTG, NmeaKind::ZDA, NmeaKind::MCHN,
};

constexpr std::array<std::string_view, kReplyKindCount> kReplyKindNames = {
    "ack",      "fixPeriod",     "dgpsMode",      "outputRates", "version",
    "epoState", "startupNotice", "channelStatus", "modeReply",   "fixRateReset",
};

constexpr long kStartupNoticeNumber = 10;
constexpr long kTenFixesPeriodMs = 100;

}  // namespace

std::optional<long> PmtkReplyNumber(std::string_view address) {
  constexpr std::string_view kPrefix = "PMTK";
  if (!address.starts_with(kPrefix)) return std::nullopt;
  const DecimalScan scan = ScanDecimal(address, kPrefix.size());
  if (!scan.digits) return std::nullopt;
  return scan.value;
}

std::string_view ReplyKindName(ReplyKind kind) { return kReplyKindNames[static_cast<std::size_t>(kind)]; }

std::optional<ReceiverReply> DecodePmtkReply(const SentenceFields& fields) {
  const std::optional<long> number = PmtkReplyNumber(fields[0]);
  if (!number) return std::nullopt;
  switch (*number) {
    case 1: return PmtkAck{AtolOf(fields[1]), AtolOf(fields[2])};
    case 500: return PmtkFixPeriod{AtolOf(fields[1])};
    case 501: return PmtkDgpsMode{AtolOf(fields[1])};
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
      return PmtkEpoState{std::string(fields[1]), AtolOf(fields[2]), AtolOf(fields[3]), AtolOf(fields[4]),
                          AtolOf(fields[5])};
    default: return std::nullopt;
  }
}

std::optional<ReceiverReply> DecodeReceiverReply(SentenceRoute route, const SentenceFields& fields) {
  switch (route) {
    case SentenceRoute::MtkReply:
      if (std::optional<ReceiverReply> reply = DecodePmtkReply(fields)) return reply;
      // $PMTK010,001: the "Setup" tab ignores it, but it tells that a restart has happened.
      if (PmtkReplyNumber(fields[0]) == kStartupNoticeNumber && AtolOf(fields[1]) == 1) return PmtkStartupNotice{};
      return std::nullopt;
    case SentenceRoute::Chn: return ChannelStatus{};
    case SentenceRoute::Zrn001: return ModeReply{std::string(fields[1]), fields[1].substr(0, 4) == "MODE"};
    case SentenceRoute::Zrn818: return FixRateResetDone{};
    default: return std::nullopt;
  }
}

bool AckAccepted(const PmtkAck& ack) { return ack.flag == 3; }

MessageBoxText AckMessage(const PmtkAck& ack) {
  if (AckAccepted(ack)) return kSetSuccessfulBox;
  return {"Set Failed!", "Error"};
}

std::array<SentenceRateUpdate, kNmeaKindCount> OutputRatesUpdate(const PmtkOutputRates& reply) {
  std::array<SentenceRateUpdate, kNmeaKindCount> updates{};
  for (std::size_t i = 0; i < kRateOrder.size(); ++i) {
    const long rate = reply.rateOf(kRateOrder[i]);
    int rateIndex = -1;
    if (rate >= 0 && rate <= kMaxOutputRate) rateIndex = static_cast<int>(rate);
    updates[i] = {kRateOrder[i], rate != 0, rateIndex};
  }
  return updates;
}

FixPeriodUpdate FixPeriodReplyUpdate(long fixPeriodMs, bool tenHzModel) {
  using enum ReceiverFunction;
  FixPeriodUpdate update{FixIndexOfPeriodMs(fixPeriodMs), {}};
  if (tenHzModel) {
    // These models can run ten fixes a second but then take neither DGPS nor an update.
    const bool enabled = fixPeriodMs != kTenFixesPeriodMs;
    update.functions = {{{DgpsSet, enabled},
                         {DgpsQuery, enabled},
                         {DgpsNoneChoice, enabled},
                         {DgpsSbasChoice, enabled},
                         {EpoUpdate, enabled}}};
  } else {
    const bool enabled = fixPeriodMs >= kTenFixesPeriodMs;
    update.functions = {{{DgpsSbasChoice, enabled},
                         {DgpsRtcmChoice, enabled},
                         {DgpsSet, enabled},
                         {DgpsQuery, enabled},
                         {EpoUpdate, enabled}}};
  }
  return update;
}

std::optional<DgpsMode> DgpsModeOfReply(long mode) {
  switch (mode) {
    case 0: return DgpsMode::None;
    case 1: return DgpsMode::Rtcm;
    case 2: return DgpsMode::Sbas;
    default: return std::nullopt;
  }
}

VersionUpdate VersionReplyUpdate(const PmtkVersion& reply, bool fixRateResetOffered) {
  VersionUpdate update;
  for (const ModelEntry& model : kListedModels) {
    if (reply.model.starts_with(model.name)) {
      update.listedModel = true;
      update.setTenHzModel = model.tenHzModel;
      break;
    }
  }
  if (update.listedModel) {
    update.entryChange = fixRateResetOffered ? TenFixesEntryChange::None : TenFixesEntryChange::Offer;
  } else {
    update.entryChange = TenFixesEntryChange::Withdraw;
  }
  update.firmwareText = reply.release + "," + reply.buildId + "," + reply.model + "," + reply.fourth;
  return update;
}

ReplyMatch MatchReply(const ExpectedReply& expected, const ReceiverReply& reply) {
  if (KindOf(reply) != expected.kind) return {};
  if (const PmtkAck* ack = std::get_if<PmtkAck>(&reply)) {
    if (ack->command != expected.ackCommand) return {};
    return {true, AckAccepted(*ack)};
  }
  return {true, true};
}
