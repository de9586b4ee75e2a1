// The logbook's commands, its status in words, a dump put together and the flash read back.
//
// Thread rule: pure functions over values.
#include "commands/locus.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "commands/command_framing.h"

namespace {

ExpectedReply AckOf(long command) { return {kReplyKindOf<PmtkAck>, command}; }

CommandSequence Acknowledged(std::string_view body, long command) {
  return {{{FrameCommand("$" + std::string(body)), 0}}, AckOf(command), {}};
}

// One field of a record: its content bit, its size and its name.
struct LocusField {
  int bit;
  std::size_t bytes;
  std::string_view name;
};
constexpr std::array<LocusField, 9> kFields{{
    {0, 4, "UTC time"},
    {1, 1, "fix"},
    {2, 4, "latitude"},
    {3, 4, "longitude"},
    {4, 2, "height"},
    {5, 2, "speed"},
    {6, 2, "track"},
    {10, 2, "HDOP"},
    {12, 1, "satellites"},
}};

constexpr std::array<std::string_view, 6> kModeBits{"AlwaysLocate", "FixOnly",  "Normal",
                                                    "Interval",     "Distance", "Speed"};

std::string BitNames(long mask, const auto& nameOf, int bits) {
  std::string text;
  for (int bit = 0; bit < bits; ++bit) {
    if ((mask >> bit & 1) == 0) continue;
    if (!text.empty()) text += ", ";
    const std::string_view name = nameOf(bit);
    text += name.empty() ? "bit " + std::to_string(bit) : std::string(name);
  }
  return text.empty() ? "none" : text;
}

std::uint16_t U16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }
std::uint32_t U32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}
float F32(const std::uint8_t* p) {
  const std::uint32_t bits = U32(p);
  float value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

bool AllFF(const std::uint8_t* p, std::size_t n) {
  return std::all_of(p, p + n, [](std::uint8_t b) { return b == 0xFF; });
}

std::uint8_t XorOf(const std::uint8_t* p, std::size_t n) {
  std::uint8_t x = 0;
  for (std::size_t i = 0; i < n; ++i) x ^= p[i];
  return x;
}

// A record's fields from its bytes, in the order of the content bits.
LocusRecord RecordOf(const std::uint8_t* p, long content, std::uint16_t intervalSec) {
  LocusRecord r;
  r.intervalSec = intervalSec;
  for (const LocusField& f : kFields) {
    if ((content >> f.bit & 1) == 0) continue;
    switch (f.bit) {
      case 0: r.utcSec = U32(p); break;
      case 1: r.fix = p[0]; break;
      case 2: r.latitudeDeg = F32(p); break;
      case 3: r.longitudeDeg = F32(p); break;
      case 4: r.heightM = static_cast<std::int16_t>(U16(p)); break;
      case 5: r.speedKmh = U16(p); break;
      case 6: r.trackDeg = static_cast<std::int16_t>(U16(p)); break;
      case 10: r.hdopHundredths = U16(p); break;
      case 12: r.satellites = p[0]; break;
      default: break;
    }
    p += f.bytes;
  }
  return r;
}

}  // namespace

CommandSequence LocusStatusCommands() {
  CommandSequence sequence = Acknowledged("PMTK183", 183);
  sequence.followUps = {{kReplyKindOf<PmtkLocusStatus>, 0}};
  return sequence;
}
CommandSequence LocusEraseCommands() { return Acknowledged("PMTK184,1", 184); }
CommandSequence LocusStartCommands() { return Acknowledged("PMTK185,0", 185); }
CommandSequence LocusStopCommands() { return Acknowledged("PMTK185,1", 185); }
CommandSequence LocusLogNowCommands() { return Acknowledged("PMTK186,1", 186); }
CommandSequence LocusIntervalCommands(long seconds) {
  return Acknowledged("PMTK187,1," + std::to_string(seconds), 187);
}
CommandSequence LocusDumpCommands(bool wholeFlash) { return Acknowledged(wholeFlash ? "PMTK622,0" : "PMTK622,1", 622); }

std::string LocusModeNames(long mode) {
  return BitNames(
      mode, [](int bit) { return bit < static_cast<int>(kModeBits.size()) ? kModeBits[bit] : std::string_view(); }, 16);
}

std::string LocusContentNames(long content) {
  return BitNames(
      content,
      [](int bit) {
        for (const LocusField& f : kFields)
          if (f.bit == bit) return f.name;
        return std::string_view();
      },
      16);
}

std::string LocusStatusText(const PmtkLocusStatus& s) {
  char content[16];
  std::snprintf(content, sizeof content, "0x%lX", static_cast<unsigned long>(s.content) & 0xFFFFul);
  std::string text = s.logging() ? "logging" : "stopped";
  text += s.type == 0 ? "; overwrite when full" : s.type == 1 ? "; stop when full" : "; type " + std::to_string(s.type);
  text += "; mode " + LocusModeNames(s.mode) + " (" + std::to_string(s.mode) + ")";
  text += "; content " + LocusContentNames(s.content) + " (" + content + ")";
  text += "; a record every " + std::to_string(s.intervalSec) + " s";
  if (s.distanceM > 0) text += " or " + std::to_string(s.distanceM) + " m";
  if (s.speedKmh > 0) text += " or above " + std::to_string(s.speedKmh) + " km/h";
  text += "; " + std::to_string(s.records) + " records; " + std::to_string(s.percentFull) + " % full";
  return text;
}

// ---------------------------------------------------------------- the dump

void LocusDumpAssembly::spoil(std::string why) {
  if (!spoilt_) problem_ = std::move(why);
  spoilt_ = true;
}

bool LocusDumpAssembly::take(const PmtkLocusData& line) {
  if (spoilt_) return false;
  switch (line.part) {
    case 0:
      // A dump already running answers a second request from where it is: its first data line
      // is then not line 0, which the order check below catches.
      if (begun()) {
        spoil("the dump began again");
      } else {
        announced_ = line.lines;
        if (announced_ < 0) spoil("a negative line count");
      }
      break;
    case 1:
      if (!begun()) {
        spoil("a data line before the dump began (a dump was already running)");
      } else if (!line.wellFormed) {
        spoil("data line " + std::to_string(line.sequence) + " is malformed");
      } else if (line.sequence != received_) {
        spoil("data line " + std::to_string(line.sequence) + " came where line " + std::to_string(received_) +
              " was due");
      } else if (received_ >= announced_) {
        spoil("more data lines than the " + std::to_string(announced_) + " announced");
      } else {
        bytes_ += line.bytes;
        ++received_;
      }
      break;
    case 2:
      ended_ = true;
      if (received_ != announced_) {
        spoil(std::to_string(received_) + " of " + std::to_string(announced_) + " data lines before the end");
      }
      break;
    default: break;  // not a dump line
  }
  return !spoilt_;
}

// ---------------------------------------------------------------- the flash

std::size_t LocusRecordBytes(long content) {
  if (content <= 0) return 0;
  std::size_t bytes = 1;  // the check byte
  long known = 0;
  for (const LocusField& f : kFields) {
    known |= 1L << f.bit;
    if (content >> f.bit & 1) bytes += f.bytes;
  }
  return (content & ~known) != 0 ? 0 : bytes;
}

LocusFlashRead ReadLocusFlash(std::span<const std::uint8_t> flash) {
  LocusFlashRead read;
  for (std::size_t start = 0; start < flash.size(); start += kLocusSectorBytes) {
    const std::size_t size = std::min(kLocusSectorBytes, flash.size() - start);
    const std::uint8_t* sector = flash.data() + start;
    ++read.sectors;
    if (AllFF(sector, size)) {
      ++read.unusedSectors;
      continue;
    }
    if (size < kLocusHeaderBytes || XorOf(sector, kLocusHeaderBytes - 1) != sector[kLocusHeaderBytes - 1]) {
      ++read.badHeaders;
      continue;
    }
    const long content = U16(sector + 4);
    const std::uint16_t intervalSec = U16(sector + 8);
    const std::size_t recordBytes = LocusRecordBytes(content);
    if (recordBytes == 0) {
      ++read.unknownContent;
      continue;
    }
    for (std::size_t at = kLocusHeaderBytes; at + recordBytes <= size; at += recordBytes) {
      const std::uint8_t* record = sector + at;
      if (AllFF(record, recordBytes)) {
        ++read.unusedRecords;
        continue;
      }
      if (XorOf(record, recordBytes - 1) != record[recordBytes - 1]) {
        ++read.badRecords;
        continue;
      }
      read.records.push_back(RecordOf(record, content, intervalSec));
    }
  }
  std::stable_sort(read.records.begin(), read.records.end(), [](const LocusRecord& a, const LocusRecord& b) {
    return a.utcSec.value_or(0) < b.utcSec.value_or(0);
  });
  return read;
}
