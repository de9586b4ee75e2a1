// What each command button sends: the exact writes, in order, and the pause after each.
// The values a button reads from its controls come in as plain numbers, so the window and
// the command-line tool build the same sequence and run it over their own CommandPort.
//
// Thread rule: the builders are pure; RunCommandSequence writes and pauses on the calling
// thread (in the window that is the window thread, which holds up reception meanwhile, as
// the receiver's replies are expected only after the whole sequence).
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "commands/command_framing.h"

// One write and the pause that follows it (0: the next write follows at once).
struct CommandStep {
  std::string bytes;
  int pauseAfterMs = 0;
};
using CommandSequence = std::vector<CommandStep>;

// Writes every step; pauses only where pauseAfterMs > 0.
void RunCommandSequence(CommandPort& port, const CommandSequence& sequence);
// Sum of all pauses: how long running the sequence holds the sending thread [ms].
int SequenceDurationMs(const CommandSequence& sequence);

// Sentence types in the order of the rate boxes on the "Setup" tab.
enum class NmeaKind { GLL, RMC, VTG, GSA, GSV, GGA, ZDA, MCHN };
inline constexpr int kNmeaKindCount = 8;
// Indexed by NmeaKind: the selected item index of each rate box (items "0" to "5").
using RateIndices = std::array<int, kNmeaKindCount>;
inline constexpr int kMaxOutputRate = 5;

enum class RestartKind { Hot, Warm, Cold };

// Restart: one 14-byte fixed frame. The caller then resets its display as after every
// restart (console, mode, PDOP emptied; other fields "0"; indicators 1-7 unchecked, the
// MCHN one kept) and sets the fix timer count to 0.
CommandSequence RestartCommands(RestartKind kind);

// "$PMTK314,GLL,RMC,VTG,GGA,GSA,GSV,0 x11,ZDA,MCHN" (note the body order differs from the
// boxes'), pause 5 ms, then the 13-byte rate query. A box index outside 0..5 goes out as 0.
std::string SetOutputRatesBody(const RateIndices& rates);
CommandSequence SetOutputRatesCommands(const RateIndices& rates);
CommandSequence DefaultOutputRatesCommands();  // 17-byte default, 5 ms, 13-byte query
CommandSequence OutputRateQueryCommands();     // 14-byte query

// cbFix item index -> fix period: 0..5 -> 1000, 500, 333, 250, 200, 100 ms. Any other index
// (-1: nothing selected yet) has no period.
std::optional<int> FixPeriodMsOfIndex(int cbFixIndex);
// Fix period [ms] -> cbFix item index; nullopt for a period the list does not hold.
std::optional<int> FixIndexOfPeriodMs(long fixPeriodMs);
std::string SetFixPeriodBody(int fixPeriodMs);
// Set period, 200 ms; above 100 ms also the DGPS mode and companion queries, 200 ms each;
// then the fix-period query, 200 ms. An index without a period sends nothing (empty).
CommandSequence SetFixPeriodCommands(int cbFixIndex);
CommandSequence FixPeriodQueryCommands();      // 14-byte query
// The maker's fix-rate reset ("Reset" beside the fix rate): framed, 1000 ms, period query.
CommandSequence FixRateResetCommands();

// Radio buttons tested in the order rbWAAS (2), rbRTCM (1), rbDisable (0); none checked: 0.
int DgpsModeOf(bool rbWAASChecked, bool rbRTCMChecked, bool rbDisableChecked);
std::string SetDgpsModeBody(int mode);
CommandSequence SetDgpsModeCommands(int mode);  // framed, 5 ms, 13-byte mode query
CommandSequence DgpsQueryCommands();            // mode query and companion, no pause

CommandSequence VersionQueryCommands();         // 13 bytes
CommandSequence EpoStateQueryCommands();        // 14 bytes
// Sent only after the user confirms; afterwards the EPO state label reads kEpoClearedText.
CommandSequence EpoClearCommands();             // 13 bytes
inline constexpr std::string_view kEpoClearQuestion = "Clear The EPO Data ?";
inline constexpr std::string_view kEpoClearTitle = "AGPS Message";
inline constexpr std::string_view kEpoClearedText = "Cleaned EPO Data ";

// The four queries of a new connection, 5 ms apart: rates (13), firmware (13), the maker's
// mode query (framed), fix period (14).
CommandSequence ConnectQueryCommands();

// Switch to the binary protocol at 115200 baud before an EPO upload (22 bytes).
CommandSequence BinaryProtocolSwitchCommands();
