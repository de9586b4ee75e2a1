// Decoding of the receiver's replies, and the meanings they carry for its settings.
//
// Thread rule: pure; no state of its own.
#include "commands/pmtk_replies.h"

#include "link/number_text.h"

namespace {

constexpr long kStartupNoticeNumber = 10;
constexpr long kTenFixesPeriodMs = 100;

// One decoder per reply. Each reads the field table of a checksum-valid sentence: field 0 is
// the address, field n the n-th comma-separated value; numbers as atol reads them.

// $PMTK001,314,3*36
//  1 the command acknowledged   2 flag: 0 invalid, 1 unsupported, 2 failed, 3 accepted
PmtkAck DecodeAck(const SentenceFields& fields) { return {AtolOf(fields[1]), AtolOf(fields[2])}; }

// $PMTK500,1000,0,0,0,0*1A
//  1 fix period [ms]   2-5 (not read)
PmtkFixPeriod DecodeFixPeriod(const SentenceFields& fields) { return {AtolOf(fields[1])}; }

// $PMTK501,2*28
//  1 DGPS mode: 0 none, 1 RTCM, 2 SBAS
PmtkDgpsMode DecodeDgpsMode(const SentenceFields& fields) { return {AtolOf(fields[1])}; }

// $PMTK514,0,1,1,1,1,5,0,0,0,0,0,0,0,0,0,0,0,0,0*2B
//  1 GLL   2 RMC   3 VTG   4 GGA   5 GSA   6 GSV   7-17 (not read)   18 ZDA   19 MCHN
//  each the outputs per fix, 0 off (the rate fields of kNmeaKinds)
PmtkOutputRates DecodeOutputRates(const SentenceFields& fields) {
  PmtkOutputRates rates;
  for (const NmeaKindRow& row : kNmeaKinds) rates.rates[IndexOf(row.kind)] = AtolOf(fields[row.rateField]);
  return rates;
}

// $PMTK705,AXN_2.10_3339_2012072601,5223,PA6H,1.0*6A
//  1 firmware release   2 build ID   3 model (compared with the model table)   4 shown only
PmtkVersion DecodeVersion(const SentenceFields& fields) {
  return {std::string(fields[1]), std::string(fields[2]), std::string(fields[3]), std::string(fields[4])};
}

// $PMTK707,56,1755,345600,1757,518400,1757,151200,1757,172800*18
//  1 EPO sets held (6 hours each; 28 seven days, 56 fourteen)   2 FWN, GPS week of the first
//  3 FTOW, its time of week [s]   4 LWN, GPS week of the last   5 LTOW [s]
//  6-9 two more weeks and times of week (not read)
PmtkEpoState DecodeEpoState(const SentenceFields& fields) {
  return {std::string(fields[1]), AtolOf(fields[2]), AtolOf(fields[3]), AtolOf(fields[4]), AtolOf(fields[5])};
}

// $PMTK010,001*2E
//  1 message: 001 started (after power-up or a restart); others are not decoded
std::optional<ReceiverReply> DecodeStartupNotice(const SentenceFields& fields) {
  if (PmtkReplyNumber(fields[0]) == kStartupNoticeNumber && AtolOf(fields[1]) == 1) return PmtkStartupNotice{};
  return std::nullopt;
}

// $PMTKCHN,21422,28522,26482,25452,07442,08502, ... ,17001,12001,32001*45
//  1-32 one channel each: satellite number, SNR [dB-Hz] and a state digit (21422: 21, 42, 2);
//  none is read: the sentence itself tells that MCHN output is on
ChannelStatus DecodeChannelStatus(const SentenceFields&) { return {}; }

// $PZRN001,MODE,0*14
//  1 mode: one beginning "MODE" means the fix update rate can be set   2 (not read)
ModeReply DecodeModeReply(const SentenceFields& fields) {
  return {std::string(fields[1]), fields[1].substr(0, 4) == "MODE"};
}

// $PZRN818*27
//  no fields: the fix-rate reset is done
FixRateResetDone DecodeFixRateReset(const SentenceFields&) { return {}; }

// $PMTKLOG,456,0,11,31,2,0,0,0,3769,46*48
//  1 serial number   2 type: 0 overwrite when full, 1 stop when full   3 mode bit mask, in
//  decimal or, by some firmware, in hexadecimal   4 content bit mask   5 interval [s]
//  6 distance [m]   7 speed [km/h]   8 status: 1 stopped, else logging   9 records
//  10 percent full
PmtkLocusStatus DecodeLocusStatus(const SentenceFields& fields) {
  PmtkLocusStatus status;
  status.serial = AtolOf(fields[1]);
  status.type = AtolOf(fields[2]);
  status.mode = LocusModeOf(fields[3]);
  status.content = AtolOf(fields[4]);
  status.intervalSec = AtolOf(fields[5]);
  status.distanceM = AtolOf(fields[6]);
  status.speedKmh = AtolOf(fields[7]);
  status.status = AtolOf(fields[8]);
  status.records = AtolOf(fields[9]);
  status.percentFull = AtolOf(fields[10]);
  return status;
}

// $PMTKLOX,0,86*6F                                   begins: 86 data lines follow
// $PMTKLOX,1,0,0100010B,1F000000,...,FFFFFFFF*2F     data line 0: up to 24 words of 4 bytes
// $PMTKLOX,2*47                                      ends
//  1 part: 0, 1 or 2   2 part 0: lines to follow; part 1: sequence number from 0
//  3-26 part 1: words of 8 hexadecimal digits, the flash's bytes in order
PmtkLocusData DecodeLocusData(const SentenceFields& fields) {
  PmtkLocusData data;
  data.part = fields[1].empty() ? -1 : AtolOf(fields[1]);
  if (data.part == 0) data.lines = AtolOf(fields[2]);
  if (data.part != 1) return data;
  data.sequence = fields[2].empty() ? -1 : AtolOf(fields[2]);
  for (int i = 3; i < fields.count(); ++i) {
    const std::string_view word = fields[i];
    if (word.size() != 8) {
      data.wellFormed = false;
      break;
    }
    for (std::size_t k = 0; k < 8; k += 2) {
      const int high = HexDigitValue(word[k]);
      const int low = HexDigitValue(word[k + 1]);
      if (high < 0 || low < 0) {
        data.wellFormed = false;
        return data;
      }
      data.bytes.push_back(static_cast<char>(high * 16 + low));
    }
  }
  return data;
}

// $PMTK513,1*28
//  1 SBAS: 1 searched, 0 not
PmtkSbasEnabled DecodeSbasEnabled(const SentenceFields& fields) { return {AtolOf(fields[1])}; }

// $PMTK519,1*2E
//  1 SBAS mode: 1 integrity, 0 test
PmtkSbasMode DecodeSbasMode(const SentenceFields& fields) { return {AtolOf(fields[1])}; }

// $PMTK527,1.20*03
//  1 static-navigation threshold [m/s], 0 off
PmtkStaticNav DecodeStaticNav(const SentenceFields& fields) {
  return {std::string(fields[1]), SpeedCentimetresOf(fields[1]).value_or(-1)};
}

// $PMTK869,2,1,3*2B
//  1 2: this is the reply (0 is the query, 1 the setting)   2 EASY: 1 on, 0 off
//  3 days predicted (MT3339 and later; older firmware sends no third field)
std::optional<ReceiverReply> DecodeEasy(const SentenceFields& fields) {
  if (fields[1] != "2") return std::nullopt;
  return PmtkEasy{AtolOf(fields[2]), fields[3].empty() ? -1 : AtolOf(fields[3])};
}

}  // namespace

std::optional<long> SpeedCentimetresOf(std::string_view text) {
  // "1.2", "1.20", "0", "2.0": decimal digits, at most one ".", at most two decimals.
  const std::size_t point = text.find('.');
  const std::string_view whole = text.substr(0, point);
  const std::string_view decimals = point == std::string_view::npos ? std::string_view{} : text.substr(point + 1);
  const auto digitsOnly = [](std::string_view d) {
    return d.find_first_not_of("0123456789") == std::string_view::npos;
  };
  if (whole.empty() || whole.size() > 4 || decimals.size() > 2 || !digitsOnly(whole) || !digitsOnly(decimals) ||
      (point != std::string_view::npos && decimals.empty())) {
    return std::nullopt;
  }
  long value = AtolOf(whole) * 100;
  if (!decimals.empty()) value += AtolOf(decimals) * (decimals.size() == 1 ? 10 : 1);
  return value;
}

std::string SpeedTextOfCentimetres(long centimetresPs) {
  std::string text = std::to_string(centimetresPs / 100) + "." + std::to_string(centimetresPs / 10 % 10);
  if (centimetresPs % 10 != 0) text += std::to_string(centimetresPs % 10);
  return text;
}

long LocusModeOf(std::string_view field) {
  // Decimal unless the text shows it is not: a hexadecimal digit above 9 or a "0x".
  const bool hex = field.starts_with("0x") || field.starts_with("0X") ||
                   field.find_first_of("abcdefABCDEF") != std::string_view::npos;
  if (!hex) return AtolOf(field);
  long value = 0;
  for (char c : field.starts_with("0x") || field.starts_with("0X") ? field.substr(2) : field) {
    const int d = HexDigitValue(c);
    if (d < 0) break;
    value = value * 16 + d;
    if (value > 0xFFFF) break;
  }
  return value;
}

std::optional<long> PmtkReplyNumber(std::string_view address) {
  constexpr std::string_view kPrefix = "PMTK";
  if (!address.starts_with(kPrefix)) return std::nullopt;
  const DecimalScan scan = ScanDecimal(address, kPrefix.size());
  if (!scan.digits) return std::nullopt;
  return scan.value;
}

std::optional<ReceiverReply> DecodePmtkReply(const SentenceFields& fields) {
  if (fields[0] == "PMTKLOG") return DecodeLocusStatus(fields);
  if (fields[0] == "PMTKLOX") return DecodeLocusData(fields);
  const std::optional<long> number = PmtkReplyNumber(fields[0]);
  if (!number) return std::nullopt;
  switch (*number) {
    case 1: return DecodeAck(fields);
    case 500: return DecodeFixPeriod(fields);
    case 501: return DecodeDgpsMode(fields);
    case 514: return DecodeOutputRates(fields);
    case 705: return DecodeVersion(fields);
    case 707: return DecodeEpoState(fields);
    case 513: return DecodeSbasEnabled(fields);
    case 519: return DecodeSbasMode(fields);
    case 527: return DecodeStaticNav(fields);
    case 869: return DecodeEasy(fields);
    default: return std::nullopt;
  }
}

std::optional<ReceiverReply> DecodeReceiverReply(SentenceRoute route, const SentenceFields& fields) {
  switch (route) {
    case SentenceRoute::MtkReply:
      if (std::optional<ReceiverReply> reply = DecodePmtkReply(fields)) return reply;
      // The "Setup" tab ignores it, but it tells that a restart has happened.
      return DecodeStartupNotice(fields);
    case SentenceRoute::Chn: return DecodeChannelStatus(fields);
    case SentenceRoute::Zrn001: return DecodeModeReply(fields);
    case SentenceRoute::Zrn818: return DecodeFixRateReset(fields);
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
  for (std::size_t i = 0; i < kKindsByIndicatorPlace.size(); ++i) {
    const NmeaKind kind = kKindsByIndicatorPlace[i];
    const long rate = reply.rateOf(kind);
    int rateIndex = -1;
    if (rate >= 0 && rate <= kMaxOutputRate) rateIndex = static_cast<int>(rate);
    updates[i] = {kind, rate != 0, rateIndex};
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
  const PmtkAck* ack = std::get_if<PmtkAck>(&reply);
  const bool awaitsAck = expected.address.empty() && expected.kind == kReplyKindOf<PmtkAck>;
  if (ack != nullptr && expected.ackCommand != 0 && ack->command == expected.ackCommand) {
    if (awaitsAck) return {true, AckAccepted(*ack)};
    // Another reply answers it; an acknowledgement that refuses says none will come (a
    // receiver without the query calls it unsupported).
    if (!AckAccepted(*ack)) return {true, false};
    return {};
  }
  if (awaitsAck || !expected.address.empty() || KindOf(reply) != expected.kind) return {};
  return {true, true};
}

ReplyMatch MatchSentence(const ExpectedReply& expected, std::string_view address,
                         const std::optional<ReceiverReply>& reply) {
  if (reply) {
    const ReplyMatch match = MatchReply(expected, *reply);
    if (match.matched) return match;
  }
  if (!expected.address.empty() && address == expected.address) return {true, true};
  return {};
}
