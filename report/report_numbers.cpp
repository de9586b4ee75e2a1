#include "report/report_numbers.h"

#include <cmath>
#include <cstdio>

namespace {

std::string Fixed(double value, int decimals) {
  if (!std::isfinite(value)) return "nan";
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  // No "-0.000": a value that rounds to zero is zero.
  if (text[0] == '-') {
    bool zero = true;
    for (const char* c = text + 1; *c != '\0'; ++c) zero = zero && (*c == '0' || *c == '.');
    if (zero) return text + 1;
  }
  return text;
}

}  // namespace

std::string MetresText(double metres) { return Fixed(metres, 3); }
std::string SecondsFigure(double seconds) { return Fixed(seconds, 1); }
std::string DegreesText(double degrees) { return Fixed(degrees, 8); }
std::string TwoDecimals(double value) { return Fixed(value, 2); }

std::string DurationText(double seconds) {
  if (!std::isfinite(seconds) || seconds < 0) return "unknown";
  if (seconds < 60) return Fixed(seconds, 1) + " s";
  const long whole = std::lround(seconds);
  char text[64];
  if (whole < 3600) {
    std::snprintf(text, sizeof text, "%ld min %ld s", whole / 60, whole % 60);
  } else if (whole < 86400 * 2) {
    std::snprintf(text, sizeof text, "%ld h %02ld min", whole / 3600, (whole % 3600) / 60);
  } else {
    std::snprintf(text, sizeof text, "%ld d %02ld h", whole / 86400, (whole % 86400) / 3600);
  }
  return text;
}
