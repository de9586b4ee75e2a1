// The receiver's PMTK replies: which reply a sentence is, its values, and what each one
// means for the "Setup" tab, as plain decisions that the window applies to its controls and
// the command-line tool prints. Replies are never matched to the command that caused them.
//
// Thread rule: pure functions over values; run on the thread that handles sentences.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "commands/receiver_commands.h"
#include "link/receiver_state.h"

// The reply number of an address field such as "PMTK001" (read as "PMTK%d," would read it:
// "PMTK", optional blanks and sign, digits). No digits, or no "PMTK": nullopt.
std::optional<long> PmtkReplyNumber(std::string_view address);

// PMTK001,<command>,<flag>: acknowledgement of a command.
struct PmtkAck {
  long command = 0;  // field 1, the acknowledged command; informative only
  long flag = 0;     // field 2: 3 accepted; 0, 1, 2 or anything else failed
};
// PMTK500,<period>,...: the fix period, reply to the fix-period query.
struct PmtkFixPeriod {
  long fixPeriodMs = 0;
};
// PMTK501,<mode>: the DGPS mode (0 none, 1 RTCM, 2 SBAS).
struct PmtkDgpsMode {
  long mode = 0;
};
// PMTK514,...: the output rate of each sentence type (fields 1-6, 18, 19).
struct PmtkOutputRates {
  std::array<long, kNmeaKindCount> rates{};  // indexed by NmeaKind
  long rateOf(NmeaKind kind) const { return rates[static_cast<std::size_t>(kind)]; }
};
// PMTK705,<release>,<build>,<model>,<fourth>: firmware release; texts as received.
struct PmtkVersion {
  std::string release;  // field 1
  std::string buildId;  // field 2
  std::string model;    // field 3, compared with the model table
  std::string fourth;   // field 4, shown only
};
// PMTK707,<sets>,<FWN>,<FTOW>,<LWN>,<LTOW>,...: the receiver's EPO data.
struct PmtkEpoState {
  std::string setsText;   // field 1, compared as text: "0" none, "28"/"56" complete
  long firstWeek = 0;     // FWN, GPS week
  long firstTowSec = 0;   // FTOW, time of week [s]
  long lastWeek = 0;      // LWN
  long lastTowSec = 0;    // LTOW
};

using PmtkReply =
    std::variant<PmtkAck, PmtkFixPeriod, PmtkDgpsMode, PmtkOutputRates, PmtkVersion, PmtkEpoState>;

// Decodes the field table of a sentence whose address has "MTK" at characters 2-4.
// Reply numbers 1, 500, 501, 514, 705, 707 decode; any other, or none, gives nullopt.
// Numbers are read as atol reads them (AtolOf): missing or non-numeric fields read as 0
// (texts as empty).
std::optional<PmtkReply> DecodePmtkReply(const SentenceFields& fields);

// Short stable name of a reply's kind, for logs and machine-readable output:
// "ack", "fixPeriod", "dgpsMode", "outputRates", "version", "epoState".
std::string_view PmtkReplyKindName(const PmtkReply& reply);

// ---- What each reply does to the controls ----

struct MessageBoxText {
  std::string_view text;
  std::string_view title;
};

// Acknowledgement: flag 3 is success, everything else failure.
bool AckAccepted(const PmtkAck& ack);
MessageBoxText AckMessage(const PmtkAck& ack);  // {"Set Successful!", "Send ok"} / {"Set Failed!", "Error"}

// Output rates: one row per sentence type, in the order the controls are set
// (GGA, GSA, GSV, RMC, GLL, VTG, ZDA, MCHN).
struct RateControlUpdate {
  NmeaKind kind;
  std::string_view indicatorName;  // "CheckBox1" ... on the "Status" tab
  std::string_view rateBoxName;    // "cbGGA" ...
  bool checked;                    // rate not 0
  int selectIndex;                 // rate box item to select; -1: no item selected (rate > 5 or < 0)
};
std::array<RateControlUpdate, kNmeaKindCount> OutputRatesUpdate(const PmtkOutputRates& reply);

struct ControlEnable {
  std::string_view name;
  bool enabled;
};
// Fix period: the cbFix item to select (nullopt: leave the selection as it is; 5 is the "10"
// entry, and selecting it while the entry is absent leaves cbFix without a selection), and
// the DGPS and "Update" controls to enable or disable, in order.
struct FixPeriodUpdate {
  std::optional<int> cbFixIndex;
  std::array<ControlEnable, 5> controls;
};
FixPeriodUpdate FixPeriodReplyUpdate(long fixPeriodMs, bool tenHzModel);

// DGPS mode: the radio button to check ("rbDisable", "rbRTCM", "rbWAAS"); nullopt: none changes.
std::optional<std::string_view> DgpsRadioToCheck(long mode);

// Receivers that can run ten fixes a second get the "10" entry of cbFix and Button5 (the
// maker's fix-rate reset). Two of them block DGPS and the EPO update at exactly 10 Hz.
struct ModelEntry {
  std::string_view name;
  bool tenHzModel;
};
inline constexpr std::array<ModelEntry, 5> kListedModels = {{
    {"Kappa-20", true}, {"Kappa-31", false}, {"Kappa-32", true}, {"Kappa-33", false}, {"Kappa-40", false},
}};
inline constexpr std::string_view kTenFixesEntry = "10";
inline constexpr int kTenFixesIndex = 5;

enum class TenFixesEntryChange {
  None,                     // listed model, Button5 already enabled: the entry is there once
  AddAndEnableButton5,      // listed model, Button5 disabled: append "10", enable Button5
  RemoveAndDisableButton5,  // unlisted model: delete item 5 if present, disable Button5
};
struct VersionUpdate {
  bool listedModel = false;
  bool setTenHzModel = false;  // only ever sets the flag; nothing clears it during a run
  TenFixesEntryChange entryChange = TenFixesEntryChange::None;
  std::string label27Text;     // "f1,f2,f3,f4", texts as received
};
VersionUpdate VersionReplyUpdate(const PmtkVersion& reply, bool button5Enabled);
