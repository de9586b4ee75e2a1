#include "report/report_numbers.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace {

// to_chars, not printf: a "." whatever locale the process has set.
std::string Fixed(double value, int decimals) {
  if (!std::isfinite(value)) return "nan";
  char text[400];
  const auto written = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, decimals);
  std::string out(text, written.ec == std::errc{} ? written.ptr : text);
  // No "-0.000": a value that rounds to zero is zero.
  if (!out.empty() && out[0] == '-' && out.find_first_not_of("0.", 1) == std::string::npos) out.erase(0, 1);
  return out;
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
