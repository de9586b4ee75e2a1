// Reading numbers out of text the way the C library reads them: the decimal scan of strtol
// and atol, strtod in the C locale, and the "%2x" scan of a checksum. The receiver's fields,
// the speed box, port names and command-line values all go through here, so one contract
// holds everywhere. Every reader works on a view that needs no NUL, stops at the view's end,
// and saturates out-of-range values as strtol does instead of overflowing.
//
// Thread rule: pure functions; StrtodOf reads through a C locale object created once.
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

// Whitespace as the C locale's isspace sees it: blank, tab, LF, VT, FF, CR.
bool IsCSpace(char c);

// strtol(text + pos, &end, 10) on a view: C-locale blanks, an optional sign, decimal digits.
struct DecimalScan {
  long value = 0;          // 0 without digits; LONG_MIN / LONG_MAX when out of range
  std::size_t end = 0;     // where the scan stopped; pos when no digit was read, as strtol's end
  bool digits = false;     // at least one digit was read
  bool outOfRange = false; // the digits did not fit a long (strtol's ERANGE)
};
DecimalScan ScanDecimal(std::string_view text, std::size_t pos = 0);

// As atol: the scan's value, 0 when no digit comes first (after blanks and a sign).
long AtolOf(std::string_view text);

// The whole text is one decimal number: blanks and a sign before it, nothing after it, and
// within a long. Nothing (nullopt) otherwise.
std::optional<long> WholeDecimalOf(std::string_view text);

// strtod(text, &end) in the C locale ("." is the decimal point whatever the process locale).
struct FloatScan {
  double value = 0;
  std::size_t end = 0;      // 0 when nothing was converted
  bool outOfRange = false;  // strtod's ERANGE (overflow to infinity, or underflow)
};
FloatScan ScanFloat(std::string_view text);
// As strtod's value alone: 0 for a text that holds no number.
double StrtodOf(std::string_view text);

// What sscanf(text, "%2x", &value) == 1 decides: leading blanks skipped, then at most two
// characters read, an optional sign and a "0x" prefix counting against those two. A NUL
// byte ends the text. False when no hexadecimal digit was read.
bool ScanHexWidth2(std::string_view text, unsigned& value);
