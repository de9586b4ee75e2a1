// NMEA framing and parsing for the simulated receiver; see sim_text.h.
//
// Thread rule: plain functions, no shared state.
#include "sim/sim_text.h"

#include <cstdio>

namespace sim {

std::uint8_t xorOf(std::string_view body) {
  std::uint8_t sum = 0;
  for (const char c : body) sum = static_cast<std::uint8_t>(sum ^ static_cast<std::uint8_t>(c));
  return sum;
}

std::string frameSentence(std::string_view body) {
  char tail[6];
  std::snprintf(tail, sizeof tail, "*%02X\r\n", static_cast<unsigned>(xorOf(body)));
  std::string out;
  out.reserve(body.size() + 6);
  out += '$';
  out += body;
  out += tail;
  return out;
}

namespace {
int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}
}  // namespace

std::optional<std::string> checkedBody(std::string_view line) {
  const auto isPadding = [](char c) { return c == '\r' || c == '\n' || c == ' ' || c == '\0'; };
  while (!line.empty() && isPadding(line.front())) line.remove_prefix(1);
  while (!line.empty() && isPadding(line.back())) line.remove_suffix(1);
  if (line.size() < 4 || line.front() != '$') return std::nullopt;
  const std::size_t star = line.rfind('*');
  if (star == std::string_view::npos || star + 3 != line.size()) return std::nullopt;
  const int high = hexValue(line[star + 1]);
  const int low = hexValue(line[star + 2]);
  if (high < 0 || low < 0) return std::nullopt;
  const std::string_view body = line.substr(1, star - 1);
  if (xorOf(body) != static_cast<std::uint8_t>(high * 16 + low)) return std::nullopt;
  return std::string(body);
}

std::vector<std::string> splitFields(std::string_view body) {
  std::vector<std::string> fields;
  std::size_t start = 0;
  for (;;) {
    const std::size_t comma = body.find(',', start);
    if (comma == std::string_view::npos) {
      fields.emplace_back(body.substr(start));
      return fields;
    }
    fields.emplace_back(body.substr(start, comma - start));
    start = comma + 1;
  }
}

std::optional<long> fieldNumber(std::string_view field) {
  if (field.empty()) return std::nullopt;
  bool negative = false;
  if (field.front() == '-') {
    negative = true;
    field.remove_prefix(1);
    if (field.empty()) return std::nullopt;
  }
  long value = 0;
  for (const char c : field) {
    if (c < '0' || c > '9' || value > 100000000L) return std::nullopt;
    value = value * 10 + (c - '0');
  }
  return negative ? -value : value;
}

}  // namespace sim
