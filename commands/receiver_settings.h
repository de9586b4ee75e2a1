// What the receiver offers beyond the window's buttons, as command sequences the command-line
// tool sends and waits on: any command the user writes himself, framed as every command is;
// and further settings with their queries. Each sequence declares the reply that accepts it,
// as the buttons' sequences do (commands/receiver_commands.h).
//
// Thread rule: pure builders.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "commands/receiver_commands.h"

// Any command: the body ("PMTK220,200", without "$" and "*") framed and sent alone. It is
// accepted by $PMTK001,<its number>,3; with expectAddress ("PMTK514", a leading "$" allowed)
// by the sentence of that address instead, decoded or not, though an acknowledgement of its
// number that refuses it still ends the wait as a refusal. Nothing, and the problem in words
// in *problem, for a body CommandBodyProblem refuses, for a malformed expectAddress, and for
// a body that is no PMTK command (nothing acknowledges it) without expectAddress.
std::optional<CommandSequence> RawCommands(std::string_view body, std::string_view expectAddress, std::string* problem);

// The number a PMTK body's acknowledgement names: "PMTK220,200" -> 220; nullopt for any
// other body.
std::optional<long> PmtkCommandNumber(std::string_view body);

// ---- the line speed

// The rates $PMTK251 sets, as the receivers' manuals list them: 4800 to 115200 on every
// MediaTek receiver, 230400 to 921600 on the MT3333 family.
inline constexpr std::array<std::uint32_t, 10> kNmeaBaudRates = {4800,  9600,   14400,  19200,  38400,
                                                                 57600, 115200, 230400, 460800, 921600};
// "9600" -> 9600 when it is one of them (decimal digits only); nullopt otherwise.
std::optional<std::uint32_t> NmeaBaudRateNamed(std::string_view text);
// "4800, 9600, ... or 921600"
std::string NmeaBaudRatesText();
// $PMTK251,<rate>: the receiver's NMEA port moves to that rate. Accepted by $PMTK001,251,3,
// which some receivers send at the old rate just before they move; many move at once without
// a word, so the acknowledgement is only waited for briefly and the rate is confirmed by
// listening (LinkSession::listenAt).
CommandSequence BaudRateCommands(std::uint32_t baud);

// ---- named settings: each set command framed, 5 ms, then its query, as the buttons do;
// accepted by $PMTK001,<its number>,3, and the query's reply follows. Which receivers have
// which is said in torvikel-cli(1); one without it answers "unsupported" (flag 1).

// $PMTK313,1|0: search SBAS satellites or not; query $PMTK413, reply $PMTK513.
CommandSequence SbasCommands(bool on);
CommandSequence SbasQueryCommands();

// How SBAS data is taken ($PMTK319,1|0; query $PMTK419, reply $PMTK519).
enum class SbasMode { Test = 0, Integrity = 1 };
std::string_view SbasModeName(SbasMode mode);  // "test", "integrity"
std::optional<SbasMode> SbasModeNamed(std::string_view name);
CommandSequence SbasModeCommands(SbasMode mode);
CommandSequence SbasModeQueryCommands();

// $PMTK386,<m/s>: the static-navigation threshold, 0 (off) to 2.0 m/s; query $PMTK447, reply
// $PMTK527. Older chips (MT3318, MT3329) take the same threshold as $PMTK397, which is not
// sent: they answer this one "unsupported".
inline constexpr long kMaxStaticNavCentimetresPs = 200;
CommandSequence StaticNavCommands(long centimetresPs);
CommandSequence StaticNavQueryCommands();

// $PMTK225: the power-saving modes. Periodic modes alternate a run time (full power) and a
// sleep time (backup: the receiver hears nothing; standby: it wakes on any byte), with an
// optional second pair used while a fix fails; AlwaysLocate lets the receiver choose. The
// perpetual backup mode (4), which only a hardware line ends, is left out on purpose.
enum class PowerMode {
  Normal = 0,
  PeriodicBackup = 1,
  PeriodicStandby = 2,
  AlwaysLocateStandby = 8,
  AlwaysLocateBackup = 9
};
// "normal", "periodic-backup", "periodic-standby", "alwayslocate-standby", "alwayslocate-backup"
std::string_view PowerModeName(PowerMode mode);
std::optional<PowerMode> PowerModeNamed(std::string_view name);
// The times [ms] of the periodic modes, as the manuals bound them.
inline constexpr long kLeastPeriodMs = 1000;
inline constexpr long kMostPeriodMs = 518400000;  // six days
struct PeriodicTimes {
  long runMs = 0;
  long sleepMs = 0;
  long secondRunMs = 0;  // 0: none; else more than runMs
  long secondSleepMs = 0;
};
// Why these times cannot go with the mode, in words; nullopt when they can. The periodic
// modes need a run and a sleep time of kLeastPeriodMs to kMostPeriodMs each, and a second
// pair that is both 0 or both in bounds, its run time longer than the first; the others take
// no times.
std::optional<std::string> PeriodicTimesProblem(PowerMode mode, const std::optional<PeriodicTimes>& times);
// $PMTK225,<mode>[,run,sleep,run2,sleep2]; no query exists, so none follows.
CommandSequence PowerModeCommands(PowerMode mode, const std::optional<PeriodicTimes>& times);
// $PMTK161,0: standby until any byte arrives. No query follows (it would wake the receiver).
CommandSequence StandbyCommands();

// $PMTK286,1|0: active interference cancellation; the receivers offer no query of it.
CommandSequence AicCommands(bool on);

// $PMTK869,1,1|0: EASY on or off; query $PMTK869,0, reply $PMTK869,2,...
CommandSequence EasyCommands(bool on);
CommandSequence EasyQueryCommands();
