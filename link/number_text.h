// Reading numbers out of text the way the C library reads them: the decimal scan of strtol
// and atol, strtod in the C locale, and the "%2x" scan of a checksum. The receiver's fields,
// the speed box, port names and command-line values all go through here, so one contract
// holds everywhere. Every reader works on a view that needs no NUL, stops at the view's end,
// and saturates out-of-range values as strtol does instead of overflowing.
//
// Thread rule: pure functions; StrtodOf reads through a C locale object created once.
#pragma once

#include <climits>
#include <cstddef>
#include <optional>
#include <string_view>

// Whitespace as the C locale's isspace sees it: blank, tab, LF, VT, FF, CR.
inline bool IsCSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

// strtol(text + pos, &end, 10) on a view: C-locale blanks, an optional sign, decimal digits.
struct DecimalScan {
  long value = 0;           // 0 without digits; LONG_MIN / LONG_MAX when out of range
  std::size_t end = 0;      // where the scan stopped; pos when no digit was read, as strtol's end
  bool digits = false;      // at least one digit was read
  bool outOfRange = false;  // the digits did not fit a long (strtol's ERANGE)
};
DecimalScan ScanDecimal(std::string_view text, std::size_t pos = 0);

// As atol: the scan's value, 0 when no digit comes first (after blanks and a sign).
long AtolOf(std::string_view text);
// The scan itself, for the texts AtolOf does not answer inline.
long AtolOfScanned(std::string_view text);

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

// ---- inline, so that each caller keeps only the parts of the scan it uses

// Receivers send numbers as plain digits: a run of at most 18 of them cannot overflow, so it
// needs none of the scan's checks. Blanks, signs and longer runs go to the scan.
inline long AtolOf(std::string_view text) {
  const std::size_t n = text.size() < 18 ? text.size() : 18;
  long value = 0;
  std::size_t i = 0;
  for (; i < n && text[i] >= '0' && text[i] <= '9'; ++i) value = value * 10 + (text[i] - '0');
  // The run ended within 18 digits: at another character, or at the end of the text.
  if (i > 0 && (i < n || n == text.size())) return value;
  return AtolOfScanned(text);
}

inline DecimalScan ScanDecimal(std::string_view text, std::size_t pos) {
  DecimalScan scan;
  scan.end = pos;
  std::size_t i = pos;
  const std::size_t n = text.size();
  while (i < n && IsCSpace(text[i])) ++i;
  bool negative = false;
  if (i < n && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  // Accumulated as a magnitude, so LONG_MIN is reachable; clamped once it no longer fits.
  const unsigned long limit =
      negative ? static_cast<unsigned long>(LONG_MAX) + 1ul : static_cast<unsigned long>(LONG_MAX);
  unsigned long magnitude = 0;
  for (; i < n && text[i] >= '0' && text[i] <= '9'; ++i) {
    scan.digits = true;
    const unsigned long d = static_cast<unsigned long>(text[i] - '0');
    if (scan.outOfRange || magnitude > (limit - d) / 10) {
      scan.outOfRange = true;
      continue;
    }
    magnitude = magnitude * 10 + d;
  }
  if (!scan.digits) return scan;
  scan.end = i;
  if (scan.outOfRange) {
    scan.value = negative ? LONG_MIN : LONG_MAX;
  } else if (negative) {
    scan.value = magnitude == limit ? LONG_MIN : -static_cast<long>(magnitude);
  } else {
    scan.value = static_cast<long>(magnitude);
  }
  return scan;
}

// 0-15 for a hexadecimal digit of either case, -1 for anything else.
inline int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

inline bool ScanHexWidth2(std::string_view text, unsigned& value) {
  std::size_t i = 0;
  const std::size_t n = text.size();  // a NUL byte is no blank, sign or digit: it ends the scan
  while (i < n && IsCSpace(text[i])) ++i;
  int width = 2;
  bool negative = false;
  if (i < n && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
    --width;
  }
  unsigned magnitude = 0;
  int digits = 0;
  if (width > 0 && i < n && text[i] == '0') {
    ++i;
    --width;
    ++digits;
    if (width > 0 && i < n && (text[i] == 'x' || text[i] == 'X')) {
      ++i;
      --width;
    }
  }
  while (width > 0 && i < n) {
    const int d = HexDigitValue(text[i]);
    if (d < 0) break;
    magnitude = magnitude * 16u + static_cast<unsigned>(d);
    ++i;
    --width;
    ++digits;
  }
  if (digits == 0) return false;
  value = negative ? 0u - magnitude : magnitude;
  return true;
}
