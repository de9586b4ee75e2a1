// The C library's number readers on views: strtol's decimal scan, strtod, and "%2x".
//
// Thread rule: pure; the C locale object is created once (a function-local static).
#include "link/number_text.h"

#include <locale.h>
#include <array>
#include <cerrno>
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

double StrtodOf(std::string_view text) { return ScanFloat(text).value; }
