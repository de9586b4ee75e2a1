// What each command button sends: the exact writes, in order, the pause after each, and the
// replies that answer them. The values a button reads from its controls come in as plain
// numbers and meanings, so the window and the command-line tool build the same sequence and
// run it over their own CommandPort.
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
#include "commands/reply_kinds.h"
#include "link/sentence_kinds.h"

// One write and the pause that follows it (0: the next write follows at once).
struct CommandStep {
  std::string bytes;
  int pauseAfterMs = 0;
};

// A reply a sequence waits for: one of a kind; an acknowledgement must name the command.
struct ExpectedReply {
  ReplyKind kind = kReplyKindOf<PmtkAck>;
  // Kind Ack: the command number it must acknowledge (314, 300 ...). Any other kind: when not
  // 0, the query this reply answers; an acknowledgement of that number which refuses it (a
  // receiver without the query answers "unsupported") answers as well, as a refusal.
  long ackCommand = 0;
  // Not empty: the reply is the sentence with this address ("PMTK514"), decoded or not, and
  // kind does not count; for the replies of a command the user wrote himself.
  std::string address = {};
};

// What a button sends, and which replies tell that the receiver took it. Nothing here waits
// for them (the window handles every reply whenever it comes); a front end that wants to
// know, such as torvikel-cli send, waits on these declarations.
struct CommandSequence {
  std::vector<CommandStep> steps;
  std::optional<ExpectedReply> acceptedBy;  // accepts (or, an acknowledgement, refuses) it; none: no reply comes
  std::vector<ExpectedReply> followUps;     // replies of the queries the sequence ends with
};

// Writes every step; pauses only where pauseAfterMs > 0.
void RunCommandSequence(CommandPort& port, const CommandSequence& sequence);
// Sum of all pauses: how long running the sequence holds the sending thread [ms].
int SequenceDurationMs(const CommandSequence& sequence);

// Indexed by NmeaKind (link/sentence_kinds.h): the rate of each sentence type, outputs per fix 0 (off) to 5; as the
// rate lists' selected index, so -1 (nothing selected) and anything out of range go out as 0.
using RateIndices = std::array<int, kNmeaKindCount>;
inline constexpr int kMaxOutputRate = 5;

enum class RestartKind { Hot, Warm, Cold };

// Restart: one 14-byte fixed frame. The caller then resets its display as after every
// restart (console, mode, PDOP emptied; other fields "0"; indicators 1-7 unchecked, the
// MCHN one kept) and sets the fix timer count to 0.
CommandSequence RestartCommands(RestartKind kind);

// "$PMTK314," and the kRateFieldCount rate fields, each type's rate in its own field
// (GLL RMC VTG GGA GSA GSV, eleven zeros, ZDA MCHN: not the boxes' order), pause 5 ms, then
// the 13-byte rate query. A box index outside 0..5 goes out as 0.
std::string SetOutputRatesBody(const RateIndices& rates);
CommandSequence SetOutputRatesCommands(const RateIndices& rates);
CommandSequence DefaultOutputRatesCommands();  // 17-byte default, 5 ms, 13-byte query
CommandSequence OutputRateQueryCommands();     // 14-byte query

// Fix-rate index (the list "1", "2", "3", "4", "5", "10" fixes a second) -> fix period:
// 0..5 -> 1000, 500, 333, 250, 200, 100 ms. Any other index (-1: nothing selected yet) has
// no period.
std::optional<int> FixPeriodMsOfIndex(int fixRateIndex);
// Fix period [ms] -> fix-rate index; nullopt for a period the list does not hold.
std::optional<int> FixIndexOfPeriodMs(long fixPeriodMs);
std::string SetFixPeriodBody(int fixPeriodMs);
// Set period, 200 ms; above 100 ms also the DGPS mode and companion queries, 200 ms each;
// then the fix-period query, 200 ms. An index without a period sends nothing (no steps).
CommandSequence SetFixPeriodCommands(int fixRateIndex);
CommandSequence FixPeriodQueryCommands();  // 14-byte query
// The maker's fix-rate reset ("Reset" beside the fix rate): framed, 1000 ms, period query.
CommandSequence FixRateResetCommands();

// The DGPS mode of PMTK301/501, with the names the command-line tool uses.
enum class DgpsMode { None = 0, Rtcm = 1, Sbas = 2 };
std::string_view DgpsModeName(DgpsMode mode);  // "none", "rtcm", "sbas"
std::optional<DgpsMode> DgpsModeNamed(std::string_view name);
// The mode of the user's choice, tested in the order SBAS, RTCM, none; nothing chosen: none.
DgpsMode DgpsModeOf(bool sbasChosen, bool rtcmChosen, bool noneChosen);
std::string SetDgpsModeBody(DgpsMode mode);
CommandSequence SetDgpsModeCommands(DgpsMode mode);  // framed, 5 ms, 13-byte mode query
CommandSequence DgpsQueryCommands();                 // mode query and companion, no pause

CommandSequence VersionQueryCommands();   // 13 bytes
CommandSequence EpoStateQueryCommands();  // 14 bytes
// Sent only after the user confirms; afterwards the EPO state label reads kEpoClearedText.
CommandSequence EpoClearCommands();  // 13 bytes
inline constexpr std::string_view kEpoClearQuestion = "Clear The EPO Data ?";
inline constexpr std::string_view kEpoClearTitle = "AGPS Message";
inline constexpr std::string_view kEpoClearedText = "Cleaned EPO Data ";

// The four queries of a new connection, 5 ms apart: rates (13), firmware (13), the maker's
// mode query (framed), fix period (14).
CommandSequence ConnectQueryCommands();

// Switch to the binary protocol at 115200 baud before an EPO upload (22 bytes).
CommandSequence BinaryProtocolSwitchCommands();
