// The C library's number readers on views: strtol's decimal scan, strtod, and "%2x".
//
// Thread rule: pure; the C locale object is created once (a function-local static).
#include "link/number_text.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <locale.h>
#include <string>

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

locale_t CLocale() {
  static const locale_t kC = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
  return kC;
}

}  // namespace

bool IsCSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

DecimalScan ScanDecimal(std::string_view text, std::size_t pos) {
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
  for (; i < n && IsDigit(text[i]); ++i) {
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

long AtolOf(std::string_view text) { return ScanDecimal(text).value; }

std::optional<long> WholeDecimalOf(std::string_view text) {
  const DecimalScan scan = ScanDecimal(text);
  if (!scan.digits || scan.outOfRange || scan.end != text.size()) return std::nullopt;
  return scan.value;
}

FloatScan ScanFloat(std::string_view text) {
  // strtod needs a NUL-terminated text; short fields (all real ones) stay on the stack.
  std::array<char, 128> small;
  std::string large;
  const char* c = nullptr;
  if (text.size() < small.size()) {
    if (!text.empty()) std::memcpy(small.data(), text.data(), text.size());
    small[text.size()] = '\0';
    c = small.data();
  } else {
    large.assign(text);
    c = large.c_str();
  }
  FloatScan scan;
  char* end = nullptr;
  errno = 0;
  scan.value = strtod_l(c, &end, CLocale());
  scan.outOfRange = errno == ERANGE;
  scan.end = static_cast<std::size_t>(end - c);
  return scan;
}

double StrtodOf(std::string_view text) { return ScanFloat(text).value; }

bool ScanHexWidth2(std::string_view text, unsigned& value) {
  std::size_t i = 0;
  const std::size_t n = std::min(text.size(), text.find('\0'));
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
    const int d = HexValue(text[i]);
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
