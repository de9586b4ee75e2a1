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
