// What the receiver offers beyond the window's buttons, as command sequences the command-line
// tool sends and waits on: any command the user writes himself, framed as every command is;
// and further settings with their queries. Each sequence declares the reply that accepts it,
// as the buttons' sequences do (commands/receiver_commands.h).
//
// Thread rule: pure builders.
#pragma once

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
