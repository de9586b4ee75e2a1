// The simulated receiver's LOCUS logbook: 64 KB of flash in which an MT3339/MT3333-class
// receiver keeps its track while no computer listens, laid out byte for byte as the program
// reads it back from a dump. Written from the format's description, apart from the
// program's own decoder: the simulator is the decoder's test peer.
//
// Flash: 16 sectors of 4096 bytes; erased flash reads 0xFF. Each sector opens with a
// 64-byte header, written when its first record goes in:
//
//   0-1  sector number u16 LE (its place in the flash, 0 to 15)
//   2    type u8 (0 overwrite when full, 1 stop when full)
//   3    mode u8 (bit mask: 1 AlwaysLocate, 2 FixOnly, 4 Normal, 8 Interval, 16 Distance, 32 Speed)
//   4-5  content u16 LE (which fields a record holds)
//   6-7  reserved, left erased (FF FF)
//   8-9  interval u16 LE [s], 10-11 distance u16 LE [m], 12-13 speed u16 LE [km/h]
//   14-62 left erased (0xFF): no bitmap of used records, since flash bits only clear and
//        the check byte covers these bytes
//   63   XOR of bytes 0 to 62
//
// Records follow from byte 64, back to back, as many whole ones as fit (the rest of the
// sector stays 0xFF). A record's fields, little-endian, in this order, each present when
// its content bit is set:
//
//   bit 0  UTC u32 [s since 1970]      bit 5  speed u16 [km/h]
//   bit 1  fix u8                      bit 6  track int16 [degrees]
//   bit 2  latitude float32 [deg]      bit 10 HDOP u16 [hundredths]
//   bit 3  longitude float32 [deg]     bit 12 satellites u8
//   bit 4  height int16 [m]
//
// then a check byte, the XOR of the record's other bytes. Content 0x1F gives 16-byte
// records (252 a sector), 0x7F 20-byte ones (201 a sector).
//
// Thread rule: plain value; one owner at a time (the receiver model).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

constexpr std::size_t kLocusSectorBytes = 4096;
constexpr std::size_t kLocusSectors = 16;
constexpr std::size_t kLocusFlashBytes = kLocusSectorBytes * kLocusSectors;
constexpr std::size_t kLocusHeaderBytes = 64;
constexpr std::size_t kLocusWordsPerLine = 24;  // of a $PMTKLOX,1 dump line, 4 bytes each

// The content bits a record may hold.
constexpr unsigned kLocusKnownContent = 0x1 | 0x2 | 0x4 | 0x8 | 0x10 | 0x20 | 0x40 | 0x400 | 0x1000;

// One point of the track as the receiver knows it when it logs.
struct LocusPoint {
  std::int64_t utcS = 0;
  std::uint8_t fix = 1;
  double latitudeDeg = 0;
  double longitudeDeg = 0;
  double heightM = 0;
  double speedKmh = 0;
  double trackDeg = 0;
  double hdop = 0;
  int satellites = 0;
};

// What a sector's header says of the logger that began it.
struct LocusSettings {
  int type = 0;
  int mode = 0;
  unsigned content = 0x1F;
  int intervalS = 15;
  int distanceM = 0;
  int speedKmh = 0;
};

class LocusFlash {
 public:
  // Bytes of a record of this content, check byte included; 0 for a content with bits
  // outside kLocusKnownContent or none at all.
  static std::size_t RecordBytes(unsigned content);

  explicit LocusFlash(unsigned content);

  // Writes the point as the next record. When the flash is full, type 0 starts over at the
  // first sector, type 1 writes nothing and returns false. badCheck: the check byte is
  // written wrong.
  bool write(const LocusPoint& point, const LocusSettings& settings, bool badCheck);
  void erase();

  std::size_t capacity() const { return perSector_ * kLocusSectors; }
  std::size_t records() const;  // records held now
  bool full() const { return next_ >= capacity(); }
  // Whole sectors from the first to the last one written since the last erase: what a dump
  // of the used part carries.
  std::size_t usedBytes() const { return usedSectors_ * kLocusSectorBytes; }
  const std::string& bytes() const { return flash_; }

 private:
  std::size_t recordBytes_;
  std::size_t perSector_;
  std::string flash_;
  std::size_t next_ = 0;  // index of the next record (capacity(): full, for type 1)
  std::size_t usedSectors_ = 0;
  std::array<std::size_t, kLocusSectors> inSector_{};
};

// Bodies of the dump's data lines over these bytes: "PMTKLOX,1,SEQ,W1,...,W24", each word
// four bytes as eight hex digits, the first byte first; the last line may be shorter.
std::vector<std::string> LocusDumpLines(std::string_view bytes);

}  // namespace sim
