// The sentence parsers: turn the split fields of GGA, GLL, RMC, VTG, ZDA, GSA and GSV into the
// display texts of the receiver state, plus the text and number helpers they share.
// Coordinates keep the receiver's own arithmetic (80-bit intermediates, truncation rather than
// rounding) so that the texts match, digit for digit, what this program has always shown.
//
// Thread rule: pure functions over the arguments; UpdateDateTime and ParseRMC consult the C
// library's time-zone setting, nothing else is shared.
#pragma once

#include <ctime>
#include <optional>
#include <string>
#include <string_view>

#include "link/number_text.h"
#include "link/receiver_state.h"

// --- coordinates ---

// Decimal digits and at most one "."; the empty text counts as plain.
bool IsPlainNumber(std::string_view text);
// Value of a plain number: the integer part before the "." plus the fraction digits added one
// by one with a weight that shrinks by the double nearest 0.1 each step, every intermediate
// formed in extended precision and stored as double. No "." gives 0. Nothing (nullopt) when
// the integer part cannot be converted: it is empty (".5") or does not fit 32 bits.
std::optional<double> ParseCoordinate(std::string_view text);
// "N 25\xB003'07.40\"" from "2503.1234" and "N": degrees without leading zeros, the degree
// sign (Latin-1 0xB0), two-digit minutes, seconds and hundredths, each truncated. A value that
// is not a plain number counts as 0. Nothing (nullopt) when the value cannot be converted.
std::optional<std::string> FormatLatitude(std::string_view value, std::string_view hemisphere);
std::optional<std::string> FormatLongitude(std::string_view value, std::string_view hemisphere);

// --- speed, date and time, fix mode ---

// Unit 'K': the text as received plus " km/h". Unit 'N' (knots): value * 1.852 written with
// 15 significant digits ("%.15g", "." as decimal point), cut to 5 characters, plus " km/h".
std::string SpeedTextOf(std::string_view value, char unit);
// Local date and time texts from RMC's time (hhmmss.sss) and date (ddmmyy), shown in the PC's
// time zone; two-digit years from 39 on are shown as 2030. `now` supplies the daylight-saving
// flag of the present moment. Returns false, leaving both texts alone, when a two-character
// part of either field is empty or not all digits.
bool UpdateDateTime(std::string_view timeField, std::string_view dateField, std::time_t now, Display_SatInfo_st& info);
// "2D" for 2, "3D" for 3, "No Fix" for anything else (the field converted as atol).
std::string_view FixModeName(std::string_view fixType);
// A field's text, unchanged.
std::string CopyFieldText(std::string_view field);

// --- handlers, one per sentence type; each reads the fields of one checksum-valid sentence ---

void ParseGGA(const SentenceFields& fields, ReceiverState& state);
void ParseGLL(const SentenceFields& fields, ReceiverState& state);
void ParseRMC(const SentenceFields& fields, ReceiverState& state, std::time_t now);
void ParseVTG(const SentenceFields& fields, ReceiverState& state);
void ParseZDA(const SentenceFields& fields, ReceiverState& state);
void ParseGSA(const SentenceFields& fields, ReceiverState& state);
void ParseGSV(const SentenceFields& fields, ReceiverState& state);
