// Escaping, numbers and axis steps of the report's drawings; see report_markup.h.
//
// Thread rule: pure.
#include "report/report_markup.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>

namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD

// The length of the well-formed UTF-8 sequence at the start of `rest`, 0 if there is none.
std::size_t SequenceLength(std::string_view rest) {
  const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(rest[i]); };
  const auto continuation = [&](std::size_t i) { return i < rest.size() && (byte(i) & 0xC0) == 0x80; };
  const std::uint8_t lead = byte(0);
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) return continuation(1) ? 2 : 0;
  if (lead >= 0xE0 && lead <= 0xEF) {
    if (!continuation(1) || !continuation(2)) return 0;
    if (lead == 0xE0 && byte(1) < 0xA0) return 0;   // overlong
    if (lead == 0xED && byte(1) >= 0xA0) return 0;  // a surrogate
    return 3;
  }
  if (lead >= 0xF0 && lead <= 0xF4) {
    if (!continuation(1) || !continuation(2) || !continuation(3)) return 0;
    if (lead == 0xF0 && byte(1) < 0x90) return 0;   // overlong
    if (lead == 0xF4 && byte(1) >= 0x90) return 0;  // beyond U+10FFFF
    return 4;
  }
  return 0;
}

}  // namespace

std::string MarkupText(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 16);
  std::size_t i = 0;
  while (i < text.size()) {
    const std::size_t length = SequenceLength(text.substr(i));
    if (length == 0) {
      out += kReplacement;
      ++i;
      continue;
    }
    const std::string_view sequence = text.substr(i, length);
    i += length;
    if (length == 1) {
      const char c = sequence[0];
      switch (c) {
        case '&': out += "&amp;"; continue;
        case '<': out += "&lt;"; continue;
        case '>': out += "&gt;"; continue;
        case '"': out += "&quot;"; continue;
        case '\'': out += "&#39;"; continue;  // &apos; is not HTML 4, which some readers still parse
        default: break;
      }
      const bool control = (static_cast<std::uint8_t>(c) < 0x20 && c != '\t' && c != '\n') || c == 0x7F;
      if (control) {
        out += kReplacement;
      } else {
        out += c;
      }
      continue;
    }
    // C1 controls (U+0080-U+009F) and the two non-characters XML excludes (U+FFFE, U+FFFF).
    const bool c1 =
        length == 2 && static_cast<std::uint8_t>(sequence[0]) == 0xC2 && static_cast<std::uint8_t>(sequence[1]) < 0xA0;
    const bool nonCharacter = sequence == "\xEF\xBF\xBE" || sequence == "\xEF\xBF\xBF";
    if (c1 || nonCharacter) {
      out += kReplacement;
    } else {
      out += sequence;
    }
  }
  return out;
}

std::string Coord(double value, int decimals) {
  if (!std::isfinite(value)) return "0";
  std::array<char, 64> text{};
  // to_chars never consults the locale: "." whatever LC_NUMERIC says.
  const auto result = std::to_chars(text.data(), text.data() + text.size(), value, std::chars_format::fixed, decimals);
  if (result.ec != std::errc{}) return "0";
  std::string out(text.data(), result.ptr);
  if (out.find('.') != std::string::npos) {
    while (out.back() == '0') out.pop_back();
    if (out.back() == '.') out.pop_back();
  }
  if (out == "-0") return "0";
  return out;
}

double NiceStep(double span, int count) {
  if (!(span > 0) || !std::isfinite(span) || count < 1) return 1;
  const double raw = span / count;
  const double power = std::pow(10.0, std::floor(std::log10(raw)));
  const double fraction = raw / power;
  double nice = 10;
  if (fraction <= 1) {
    nice = 1;
  } else if (fraction <= 2) {
    nice = 2;
  } else if (fraction <= 5) {
    nice = 5;
  }
  return nice * power;
}

std::string TickText(double value, double step) {
  int decimals = 0;
  if (step > 0 && std::isfinite(step) && step < 1) {
    decimals = static_cast<int>(std::ceil(-std::log10(step) - 1e-9));
    // 0.5 and 0.2 need one decimal, 0.25 would need two; the 1-2-5 steps never do.
    if (decimals > 9) decimals = 9;
  }
  return Coord(value, decimals);
}

double ClockStep(double span, int count) {
  static constexpr std::array<double, 17> kSteps{1,   2,   5,    10,   15,   30,    60,    120,  300,
                                                 600, 900, 1800, 3600, 7200, 10800, 21600, 43200};
  if (!(span > 0) || !std::isfinite(span) || count < 1) return 1;
  const double raw = span / count;
  for (const double step : kSteps) {
    if (step >= raw) return step;
  }
  return std::ceil(raw / 86400) * 86400;
}

std::string ClockText(double seconds) {
  if (!std::isfinite(seconds) || seconds < 0) seconds = 0;
  const long whole = std::lround(seconds);
  std::array<char, 32> text{};
  char* end = text.data() + text.size();
  auto put = [&](char* at, long value) { return std::to_chars(at, end, value).ptr; };
  char* at = put(text.data(), whole / 3600);
  *at++ = ':';
  const long minutes = (whole % 3600) / 60;
  const long secs = whole % 60;
  *at++ = static_cast<char>('0' + minutes / 10);
  *at++ = static_cast<char>('0' + minutes % 10);
  *at++ = ':';
  *at++ = static_cast<char>('0' + secs / 10);
  *at++ = static_cast<char>('0' + secs % 10);
  return std::string(text.data(), at);
}
