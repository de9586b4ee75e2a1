// The LOCUS flash's layout and record encoding; see locus_flash.h.
//
// Thread rule: plain value; one owner at a time.
#include "sim/locus_flash.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <numeric>

namespace sim {

namespace {

struct ContentField {
  unsigned bit;
  std::size_t bytes;
};
// In the order they stand in a record.
constexpr ContentField kFields[] = {
    {0x1, 4}, {0x2, 1}, {0x4, 4}, {0x8, 4}, {0x10, 2}, {0x20, 2}, {0x40, 2}, {0x400, 2}, {0x1000, 1},
};

void putLe(std::string& out, std::uint32_t value, std::size_t bytes) {
  for (std::size_t i = 0; i < bytes; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFFu);
}

std::uint32_t rounded(double value) {
  return static_cast<std::uint32_t>(static_cast<std::int32_t>(std::lround(value)));
}

std::uint8_t xorOfBytes(std::string_view bytes) {
  std::uint8_t sum = 0;
  for (const char c : bytes) sum = static_cast<std::uint8_t>(sum ^ static_cast<std::uint8_t>(c));
  return sum;
}

std::string encodeRecord(const LocusPoint& p, unsigned content) {
  std::string r;
  for (const ContentField& f : kFields) {
    if ((content & f.bit) == 0) continue;
    switch (f.bit) {
      case 0x1: putLe(r, static_cast<std::uint32_t>(p.utcS), 4); break;
      case 0x2: putLe(r, p.fix, 1); break;
      case 0x4: putLe(r, std::bit_cast<std::uint32_t>(static_cast<float>(p.latitudeDeg)), 4); break;
      case 0x8: putLe(r, std::bit_cast<std::uint32_t>(static_cast<float>(p.longitudeDeg)), 4); break;
      case 0x10: putLe(r, rounded(p.heightM), 2); break;
      case 0x20: putLe(r, rounded(p.speedKmh), 2); break;
      case 0x40: putLe(r, rounded(std::fmod(std::fmod(std::round(p.trackDeg), 360.0) + 360.0, 360.0)), 2); break;
      case 0x400: putLe(r, rounded(p.hdop * 100.0), 2); break;
      case 0x1000: putLe(r, static_cast<std::uint32_t>(p.satellites), 1); break;
    }
  }
  r += static_cast<char>(xorOfBytes(r));
  return r;
}

std::string encodeHeader(std::size_t sector, const LocusSettings& s) {
  std::string h;
  putLe(h, static_cast<std::uint32_t>(sector), 2);
  putLe(h, static_cast<std::uint32_t>(s.type), 1);
  putLe(h, static_cast<std::uint32_t>(s.mode), 1);
  putLe(h, s.content, 2);
  h.append(2, '\xFF');
  putLe(h, static_cast<std::uint32_t>(s.intervalS), 2);
  putLe(h, static_cast<std::uint32_t>(s.distanceM), 2);
  putLe(h, static_cast<std::uint32_t>(s.speedKmh), 2);
  h.resize(kLocusHeaderBytes - 1, '\xFF');
  h += static_cast<char>(xorOfBytes(h));
  return h;
}

}  // namespace

std::size_t LocusFlash::RecordBytes(unsigned content) {
  if (content == 0 || (content & ~kLocusKnownContent) != 0) return 0;
  std::size_t bytes = 1;
  for (const ContentField& f : kFields) bytes += (content & f.bit) != 0 ? f.bytes : 0;
  return bytes;
}

LocusFlash::LocusFlash(unsigned content)
    : recordBytes_(RecordBytes(content)),
      perSector_(recordBytes_ == 0 ? 0 : (kLocusSectorBytes - kLocusHeaderBytes) / recordBytes_),
      flash_(kLocusFlashBytes, '\xFF') {}

std::size_t LocusFlash::records() const { return std::accumulate(inSector_.begin(), inSector_.end(), std::size_t{0}); }

bool LocusFlash::write(const LocusPoint& point, const LocusSettings& settings, bool badCheck) {
  if (perSector_ == 0) return false;
  if (full()) {
    if (settings.type == 1) return false;
    next_ = 0;
  }
  const std::size_t sector = next_ / perSector_;
  const std::size_t slot = next_ % perSector_;
  const std::size_t sectorAt = sector * kLocusSectorBytes;
  if (slot == 0) {
    // A sector is erased whole before it takes its first record, as flash must be.
    flash_.replace(sectorAt, kLocusSectorBytes, kLocusSectorBytes, '\xFF');
    flash_.replace(sectorAt, kLocusHeaderBytes, encodeHeader(sector, settings));
    inSector_[sector] = 0;
    usedSectors_ = std::max(usedSectors_, sector + 1);
  }
  std::string record = encodeRecord(point, settings.content);
  if (badCheck) record.back() = static_cast<char>(record.back() ^ 0x5A);
  flash_.replace(sectorAt + kLocusHeaderBytes + slot * recordBytes_, recordBytes_, record);
  ++inSector_[sector];
  ++next_;
  return true;
}

void LocusFlash::erase() {
  flash_.assign(kLocusFlashBytes, '\xFF');
  next_ = 0;
  usedSectors_ = 0;
  inSector_.fill(0);
}

std::vector<std::string> LocusDumpLines(std::string_view bytes) {
  std::vector<std::string> lines;
  constexpr std::size_t kLineBytes = kLocusWordsPerLine * 4;
  for (std::size_t at = 0, seq = 0; at < bytes.size(); at += kLineBytes, ++seq) {
    std::string line = "PMTKLOX,1," + std::to_string(seq);
    for (std::size_t i = at; i < std::min(bytes.size(), at + kLineBytes); ++i) {
      if ((i - at) % 4 == 0) line += ',';
      char hex[3];
      std::snprintf(hex, sizeof hex, "%02X", static_cast<unsigned>(static_cast<unsigned char>(bytes[i])));
      line += hex;
    }
    lines.push_back(std::move(line));
  }
  return lines;
}

}  // namespace sim
