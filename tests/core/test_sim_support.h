// Helpers of the simulator tests: an NMEA check written apart from both the program's and
// the simulator's own code, and cutting of a byte stream into lines.
//
// Thread rule: plain functions.
#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "sim/receiver_model.h"

namespace simtest {

// "$BODY*HH\r\n" with the right XOR and upper-case digits: the body, else nullopt.
inline std::optional<std::string> strictBody(const std::string& line) {
  if (line.size() < 6 || line[0] != '$' || line.compare(line.size() - 2, 2, "\r\n") != 0) return std::nullopt;
  const std::size_t star = line.size() - 5;
  if (line[star] != '*') return std::nullopt;
  unsigned sum = 0;
  for (std::size_t i = 1; i < star; ++i) {
    if (line[i] == '*' || line[i] == '$') return std::nullopt;
    sum ^= static_cast<unsigned char>(line[i]);
  }
  char digits[3];
  std::snprintf(digits, sizeof digits, "%02X", sum);
  if (line.compare(star + 1, 2, digits) != 0) return std::nullopt;
  return line.substr(1, star - 1);
}

// Splits a byte stream at each "$" (what a reader sees between two starts).
inline std::vector<std::string> cutAtDollar(const std::string& stream) {
  std::vector<std::string> parts;
  std::size_t start = stream.find('$');
  while (start != std::string::npos) {
    const std::size_t next = stream.find('$', start + 1);
    parts.push_back(stream.substr(start, next == std::string::npos ? std::string::npos : next - start));
    start = next;
  }
  return parts;
}

inline std::string joinChunks(const std::vector<sim::OutChunk>& chunks) {
  std::string all;
  for (const sim::OutChunk& c : chunks) all += c.bytes;
  return all;
}

// Bodies of every strictly valid sentence in the stream.
inline std::vector<std::string> bodiesOf(const std::string& stream) {
  std::vector<std::string> bodies;
  for (const std::string& part : cutAtDollar(stream)) {
    if (std::optional<std::string> body = strictBody(part)) bodies.push_back(*body);
  }
  return bodies;
}

// A command frame as the program writes it.
inline std::string frame(const std::string& body) {
  unsigned sum = 0;
  for (const char c : body) sum ^= static_cast<unsigned char>(c);
  char tail[8];
  std::snprintf(tail, sizeof tail, "*%02X\r\n", sum);
  return "$" + body + tail;
}

inline std::string fieldOf(const std::string& body, std::size_t index) {
  std::size_t start = 0;
  for (std::size_t i = 0; i < index; ++i) {
    start = body.find(',', start);
    if (start == std::string::npos) return {};
    ++start;
  }
  const std::size_t end = body.find(',', start);
  return body.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

// Model options for fast, deterministic tests: fixed clock, no start-up notice.
inline sim::ModelOptions quietOptions() {
  sim::ModelOptions o;
  o.startUtcMs = 1700000000000LL;  // 2023-11-14 22:13:20 UTC
  o.startupMessage = false;
  o.binaryFirstAckDelayMs = 0;
  o.binaryAckRepeatMs = 0;
  return o;
}

}  // namespace simtest
