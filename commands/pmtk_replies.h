// The receiver's replies: which reply a sentence is, its values, and what each one means for
// the receiver's settings, in meanings (a sentence type's rate, a fix period, a DGPS mode,
// which functions are offered) that the window maps to its controls and the command-line
// tool prints. Replies are never matched to the command that caused them, except by a front
// end that waits for the replies a command sequence declares (MatchReply).
//
// Thread rule: pure functions over values; run on the thread that handles sentences.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "commands/receiver_commands.h"
#include "commands/reply_kinds.h"
#include "link/nmea_sentence.h"
#include "link/receiver_state.h"

// The reply number of an address field such as "PMTK001" (read as "PMTK%d," would read it:
// "PMTK", optional blanks and sign, digits). No digits, or no "PMTK": nullopt.
std::optional<long> PmtkReplyNumber(std::string_view address);

// The reply types, ReceiverReply and the names of the kinds: commands/reply_kinds.h.

// Decodes the field table of a sentence whose address has "MTK" at characters 2-4: the
// replies the "Setup" tab handles, the logbook's PMTKLOG and PMTKLOX, and the replies of the
// settings beyond the buttons. Reply numbers 1, 500, 501, 514, 705, 707, 513, 519, 527 and
// 869 (its reply form, field 1 "2") decode; any other (the start-up notice 010 too), or
// none, gives nullopt. Numbers are read as atol reads them
// (AtolOf): missing or non-numeric fields read as 0 (texts as empty).
std::optional<ReceiverReply> DecodePmtkReply(const SentenceFields& fields);

// A speed in m/s as the static-navigation threshold is written ("1.2", "1.20", "0") in
// centimetres a second: digits, then at most two decimals; nullopt for anything else.
std::optional<long> SpeedCentimetresOf(std::string_view text);
// Back to text with one decimal, or two when the second is not 0: 120 -> "1.2", 125 -> "1.25".
std::string SpeedTextOfCentimetres(long centimetresPs);

// The logbook's mode field: decimal, or hexadecimal where the text shows it ("B", "0x1b"); a
// text of decimal digits alone reads as decimal ("11" is 11, not 17).
long LocusModeOf(std::string_view field);

// Everything a checksum-valid sentence on this route carries besides receiver state: the
// PMTK replies above, the start-up notice, and the maker's proprietary messages. The one
// place where a reply is decoded; nothing for the sentence types that only update the state.
std::optional<ReceiverReply> DecodeReceiverReply(SentenceRoute route, const SentenceFields& fields);

// ---- What each reply means

struct MessageBoxText {
  std::string_view text;
  std::string_view title;
};
// The success box, also shown for the maker's fix-rate reset.
inline constexpr MessageBoxText kSetSuccessfulBox{"Set Successful!", "Send ok"};

// Acknowledgement: flag 3 is success, everything else failure.
bool AckAccepted(const PmtkAck& ack);
MessageBoxText AckMessage(const PmtkAck& ack);  // kSetSuccessfulBox / {"Set Failed!", "Error"}

// Output rates: one row per sentence type, in the order they are applied, which is the order
// of their indicators (kKindsByIndicatorPlace: GGA, GSA, GSV, RMC, GLL, VTG, ZDA, MCHN).
struct SentenceRateUpdate {
  NmeaKind kind;
  bool on;        // rate not 0: the sentence type's indicator is ticked
  int rateIndex;  // rate to show, 0..5; -1: none of the list (rate > 5 or < 0)
};
std::array<SentenceRateUpdate, kNmeaKindCount> OutputRatesUpdate(const PmtkOutputRates& reply);

// What the user can do that the fix rate decides about.
enum class ReceiverFunction {
  DgpsSbasChoice,  // choosing SBAS as the DGPS mode
  DgpsRtcmChoice,  // choosing RTCM
  DgpsNoneChoice,  // choosing no DGPS
  DgpsSet,         // sending the chosen DGPS mode
  DgpsQuery,       // asking for the DGPS mode
  EpoUpdate,       // the assisted-GPS (EPO) update
};
struct FunctionEnable {
  ReceiverFunction function;
  bool enabled;
};
// Fix period: the fix-rate index to show (nullopt: leave it as it is; 5 is the "10" entry,
// and showing it while the entry is absent leaves no rate shown), and the functions to offer
// or withdraw, in order.
struct FixPeriodUpdate {
  std::optional<int> fixRateIndex;
  std::array<FunctionEnable, 5> functions;
};
FixPeriodUpdate FixPeriodReplyUpdate(long fixPeriodMs, bool tenHzModel);

// DGPS mode reply: the mode to show; nullopt for a value that is none of them.
std::optional<DgpsMode> DgpsModeOfReply(long mode);

// Receivers that can run ten fixes a second are offered the "10" fix rate and the maker's
// fix-rate reset. Two of them allow no DGPS and no EPO update at exactly 10 Hz.
struct ModelEntry {
  std::string_view name;
  bool tenHzModel;
};
inline constexpr std::array<ModelEntry, 5> kListedModels = {{
    {"Kappa-20", true},
    {"Kappa-31", false},
    {"Kappa-32", true},
    {"Kappa-33", false},
    {"Kappa-40", false},
}};
inline constexpr std::string_view kTenFixesEntry = "10";
inline constexpr int kTenFixesIndex = 5;

enum class TenFixesEntryChange {
  None,      // listed model, the fix-rate reset already offered: the "10" entry is there once
  Offer,     // listed model, reset not offered: append "10" to the fix rates, offer the reset
  Withdraw,  // unlisted model: remove the "10" entry if present, withdraw the reset
};
struct VersionUpdate {
  bool listedModel = false;
  bool setTenHzModel = false;  // only ever sets the flag; nothing clears it during a run
  TenFixesEntryChange entryChange = TenFixesEntryChange::None;
  std::string firmwareText;  // "f1,f2,f3,f4", texts as received
};
VersionUpdate VersionReplyUpdate(const PmtkVersion& reply, bool fixRateResetOffered);

// ---- Waiting for a command's replies

struct ReplyMatch {
  bool matched = false;   // this reply is the one expected
  bool accepted = false;  // and it accepts: an acknowledgement with flag 3, or any other expected reply
};
ReplyMatch MatchReply(const ExpectedReply& expected, const ReceiverReply& reply);
// The same for any valid sentence: its address, and its reply when the core decodes one.
ReplyMatch MatchSentence(const ExpectedReply& expected, std::string_view address,
                         const std::optional<ReceiverReply>& reply);
