// The C library's number readers on views: strtol's decimal scan, strtod, and "%2x".
//
// Thread rule: pure; the C locale object is created once (a function-local static).
#include "link/number_text.h"

#include <locale.h>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

locale_t CLocale() {
  static const locale_t kC = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
  return kC;
}

}  // namespace

long AtolOfScanned(std::string_view text) { return ScanDecimal(text).value; }

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

double StrtodOf(std::string_view text) {
  // A plain decimal of few digits ("0.32", the speeds a receiver sends) is answered without
  // the copy and the C library: with its digits an exact integer below 2^53 and at most 22
  // decimals, both the integer and the power of ten are exact doubles, so their quotient is
  // the correctly rounded value that strtod gives too. Blanks, signs, exponents, hexadecimal,
  // longer texts and anything else go to strtod itself.
  constexpr std::uint64_t kExactBelow = std::uint64_t{1} << 53;
  constexpr std::array<double, 23> kPowersOfTen = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                                   1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                                   1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
  std::uint64_t digitsValue = 0;
  std::size_t i = 0;
  std::size_t digits = 0;
  std::size_t decimals = 0;
  bool dot = false;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    if (c >= '0' && c <= '9') {
      digitsValue = digitsValue * 10 + static_cast<std::uint64_t>(c - '0');  // below 2^57: no overflow
      if (digitsValue >= kExactBelow) return ScanFloat(text).value;
      ++digits;
      if (dot) ++decimals;
    } else if (c == '.' && !dot) {
      dot = true;
    } else {
      break;
    }
  }
  const char next = i < text.size() ? text[i] : '\0';
  const bool mayGoOn = next == 'e' || next == 'E' || next == 'x' || next == 'X';
  if (digits == 0 || mayGoOn || decimals >= kPowersOfTen.size()) return ScanFloat(text).value;
  return static_cast<double>(digitsValue) / kPowersOfTen[decimals];
}
