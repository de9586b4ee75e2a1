// Helpers of the simulator tests: an NMEA check written apart from both the program's and
// the simulator's own code, cutting of a byte stream into lines, and a reader of LOCUS
// dumps and flash written here from the format's description, apart from the simulator's
// encoder and the program's decoder, so that the tests hold the flash against the format.
//
// Thread rule: plain functions.
#pragma once

#include <bit>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "sim/receiver_model.h"
#include "tests/support/frames.h"

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

// --- LOCUS ------------------------------------------------------------------------------

// A dump as it came: $PMTKLOX,0,N, N lines $PMTKLOX,1,SEQ,W1..W24, $PMTKLOX,2, $PMTK001,622,F.
struct LocusDump {
  long declared = -1;  // N of the opening line; -1: no opening line
  std::vector<std::string> lines;
  bool ended = false;                    // $PMTKLOX,2 came
  std::string ack;                       // the line after it
  std::string bytes;                     // the flash bytes the data lines carry, in order
  std::vector<std::string> faults;       // what broke the framing
  std::vector<std::size_t> wordsOfLine;  // words each data line carries
};

inline bool isHexWord(const std::string& word) {
  if (word.size() != 8) return false;
  for (const char c : word) {
    if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) return false;
  }
  return true;
}

inline LocusDump readLocusDump(const std::string& stream) {
  LocusDump d;
  for (const std::string& part : cutAtDollar(stream)) {
    const std::optional<std::string> body = strictBody(part);
    if (!body) {
      d.faults.push_back("not strictly framed: " + part);
      continue;
    }
    if (d.ended) {
      if (d.ack.empty()) d.ack = *body;
      else d.faults.push_back("after the acknowledgement: " + *body);
      continue;
    }
    if (body->rfind("PMTKLOX,0,", 0) == 0) {
      if (d.declared >= 0) d.faults.push_back("a second opening line");
      d.declared = std::stol(body->substr(10));
    } else if (body->rfind("PMTKLOX,1,", 0) == 0) {
      if (d.declared < 0) d.faults.push_back("data before the opening line");
      if (fieldOf(*body, 2) != std::to_string(d.lines.size())) d.faults.push_back("out of order: " + *body);
      std::size_t words = 0;
      for (std::size_t i = 3;; ++i) {
        const std::string word = fieldOf(*body, i);
        if (word.empty()) break;
        if (!isHexWord(word)) d.faults.push_back("bad word " + word);
        for (std::size_t b = 0; b < 8 && isHexWord(word); b += 2)
          d.bytes += static_cast<char>(std::stoul(word.substr(b, 2), nullptr, 16));
        ++words;
      }
      d.wordsOfLine.push_back(words);
      d.lines.push_back(*body);
    } else if (*body == "PMTKLOX,2") {
      d.ended = true;
    } else {
      d.faults.push_back("unexpected: " + *body);
    }
  }
  return d;
}

// Fields of a record by content bit, in their order: bit, bytes.
struct LocusField {
  unsigned bit;
  std::size_t bytes;
};
inline const std::vector<LocusField>& locusFields() {
  static const std::vector<LocusField> fields = {{0, 4}, {1, 1}, {2, 4},  {3, 4}, {4, 2},
                                                 {5, 2}, {6, 2}, {10, 2}, {12, 1}};
  return fields;
}

inline std::size_t locusRecordBytes(unsigned content) {
  std::size_t bytes = 1;
  for (const LocusField& f : locusFields()) bytes += (content >> f.bit & 1u) ? f.bytes : 0;
  return bytes;
}

inline std::uint32_t le(const std::string& b, std::size_t at, std::size_t bytes) {
  std::uint32_t v = 0;
  for (std::size_t i = 0; i < bytes; ++i)
    v |= static_cast<std::uint32_t>(static_cast<unsigned char>(b[at + i])) << (8 * i);
  return v;
}

inline unsigned xorBytes(const std::string& b, std::size_t from, std::size_t to) {
  unsigned sum = 0;
  for (std::size_t i = from; i < to; ++i) sum ^= static_cast<unsigned char>(b[i]);
  return sum;
}

struct LocusHeader {
  unsigned sector = 0, type = 0, mode = 0, content = 0, intervalS = 0, distanceM = 0, speedKmh = 0;
  bool checkOk = false;
  bool unusedErased = false;  // bytes 6-7 and 14-62 are 0xFF
};

struct LocusRecord {
  std::size_t sector = 0;
  std::size_t slot = 0;
  bool checkOk = false;
  // Fields present by the content; absent ones stay as they are.
  std::int64_t utcS = -1;
  int fix = -1;
  double latitudeDeg = 0, longitudeDeg = 0;
  int heightM = 0, speedKmh = -1, trackDeg = -1, hdopHundredths = -1, satellites = -1;
};

struct LocusFlashRead {
  std::vector<std::optional<LocusHeader>> headers;  // per sector; nullopt: all erased
  std::vector<LocusRecord> records;                 // in storage order
  std::vector<std::string> faults;
};

// Sectors of 4096 bytes, each a 64-byte header and records from byte 64; a slot of all
// 0xFF ends a sector's records, and everything after it must be 0xFF too.
inline LocusFlashRead readLocusFlash(const std::string& flash) {
  LocusFlashRead r;
  constexpr std::size_t kSector = 4096, kHeader = 64;
  if (flash.size() % kSector != 0) r.faults.push_back("not whole sectors: " + std::to_string(flash.size()));
  for (std::size_t s = 0; s * kSector + kSector <= flash.size(); ++s) {
    const std::string sector = flash.substr(s * kSector, kSector);
    if (sector.find_first_not_of('\xFF') == std::string::npos) {
      r.headers.push_back(std::nullopt);
      continue;
    }
    LocusHeader h;
    h.sector = le(sector, 0, 2);
    h.type = le(sector, 2, 1);
    h.mode = le(sector, 3, 1);
    h.content = le(sector, 4, 2);
    h.intervalS = le(sector, 8, 2);
    h.distanceM = le(sector, 10, 2);
    h.speedKmh = le(sector, 12, 2);
    h.checkOk = xorBytes(sector, 0, 63) == static_cast<unsigned char>(sector[63]);
    h.unusedErased = sector.substr(6, 2) == "\xFF\xFF" && sector.substr(14, 49) == std::string(49, '\xFF');
    r.headers.push_back(h);
    const std::size_t size = locusRecordBytes(h.content);
    bool ended = false;
    for (std::size_t at = kHeader, slot = 0; at + size <= kSector; at += size, ++slot) {
      const std::string bytes = sector.substr(at, size);
      if (bytes == std::string(size, '\xFF')) {
        ended = true;
        continue;
      }
      if (ended) r.faults.push_back("a record after an erased slot in sector " + std::to_string(s));
      LocusRecord rec;
      rec.sector = s;
      rec.slot = slot;
      rec.checkOk = xorBytes(bytes, 0, size - 1) == static_cast<unsigned char>(bytes[size - 1]);
      std::size_t p = 0;
      for (const LocusField& f : locusFields()) {
        if ((h.content >> f.bit & 1u) == 0) continue;
        const std::uint32_t v = le(bytes, p, f.bytes);
        switch (f.bit) {
          case 0: rec.utcS = v; break;
          case 1: rec.fix = static_cast<int>(v); break;
          case 2: rec.latitudeDeg = std::bit_cast<float>(v); break;
          case 3: rec.longitudeDeg = std::bit_cast<float>(v); break;
          case 4: rec.heightM = static_cast<std::int16_t>(v); break;
          case 5: rec.speedKmh = static_cast<int>(v); break;
          case 6: rec.trackDeg = static_cast<std::int16_t>(v); break;
          case 10: rec.hdopHundredths = static_cast<int>(v); break;
          case 12: rec.satellites = static_cast<int>(v); break;
        }
        p += f.bytes;
      }
      r.records.push_back(rec);
    }
    const std::size_t tail = kHeader + (kSector - kHeader) / size * size;
    if (sector.find_first_not_of('\xFF', tail) != std::string::npos)
      r.faults.push_back("bytes after the last slot of sector " + std::to_string(s));
  }
  return r;
}

}  // namespace simtest
