// The receiver's own logbook (LOCUS): MT3339- and MT3333-class receivers keep a track in their
// flash while no computer listens. This is what the program knows of it without a window: the
// commands, the status in words, a dump's lines put together into the flash's bytes, and the
// flash read back into records.
//
// The flash is 4096-byte sectors. Each begins with a 64-byte header:
//   bytes 0-1 sector number (u16)   2 type   3 mode   4-5 content (u16)   6-7 reserved
//   8-9 interval [s] (u16)   10-11 distance [m] (u16)   12-13 speed [km/h] (u16)
//   14-62 reserved (a bitmap of the records used, on some firmware)   63 XOR of bytes 0-62
// and holds records from byte 64 on; unused flash reads 0xFF. Every number is little-endian.
// A record holds, in this order, the fields its content bits name, then a check byte, the XOR
// of the record's other bytes:
//   bit 0 UTC [s since 1970] u32   bit 1 fix u8   bit 2 latitude float32 [deg]
//   bit 3 longitude float32 [deg]   bit 4 height int16 [m]   bit 5 speed u16 [km/h]
//   bit 6 track int16 [deg]   bit 10 HDOP u16 [hundredths]   bit 12 satellites u8
// Content 0x1F (basic) makes 16-byte records, 0x7F 20-byte ones.
//
// Thread rule: pure functions over values.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "commands/receiver_commands.h"
#include "commands/reply_kinds.h"

inline constexpr std::size_t kLocusSectorBytes = 4096;
inline constexpr std::size_t kLocusHeaderBytes = 64;

// ---- commands: each acknowledged with PMTK001,<its number>,<flag>

CommandSequence LocusStatusCommands();                // PMTK183: PMTKLOG, then the acknowledgement
CommandSequence LocusEraseCommands();                 // PMTK184,1
CommandSequence LocusStartCommands();                 // PMTK185,0
CommandSequence LocusStopCommands();                  // PMTK185,1
CommandSequence LocusLogNowCommands();                // PMTK186,1
CommandSequence LocusIntervalCommands(long seconds);  // PMTK187,1,SEC
// PMTK622,1 (the used part) or PMTK622,0 (all of it): PMTKLOX lines, then the acknowledgement.
CommandSequence LocusDumpCommands(bool wholeFlash);

// The status in words, one line: "logging; overwrite when full; mode AlwaysLocate, FixOnly,
// Interval (11); content UTC time, fix, latitude, longitude, height (0x1F); a record every
// 2 s; 3769 records; 46 % full".
std::string LocusStatusText(const PmtkLocusStatus& status);
// The names of the mode bits set ("AlwaysLocate, FixOnly, Interval"), of the content bits
// ("UTC time, fix, latitude ..."); unknown bits as "bit N".
std::string LocusModeNames(long mode);
std::string LocusContentNames(long content);

// ---- a dump put together

// Collects a dump's lines. The data lines must come in order from 0; a line out of order, a
// malformed one or one beyond the count announced spoils the dump (complete() stays false).
class LocusDumpAssembly {
 public:
  // Takes one PMTKLOX line; false once the dump is spoilt.
  bool take(const PmtkLocusData& line);
  bool begun() const { return announced_ >= 0; }
  // The end line came after every announced data line, none spoilt.
  bool complete() const { return ended_ && !spoilt_ && received_ == announced_; }
  bool spoilt() const { return spoilt_; }
  long announcedLines() const { return announced_; }
  long receivedLines() const { return received_; }
  const std::string& bytes() const { return bytes_; }
  // Why the dump is spoilt, in words; empty while it is not.
  const std::string& problem() const { return problem_; }

 private:
  void spoil(std::string why);
  long announced_ = -1;
  long received_ = 0;
  bool ended_ = false;
  bool spoilt_ = false;
  std::string bytes_;
  std::string problem_;
};

// ---- the flash read back

struct LocusRecord {
  std::optional<std::uint32_t> utcSec;
  std::optional<std::uint8_t> fix;
  std::optional<float> latitudeDeg;
  std::optional<float> longitudeDeg;
  std::optional<std::int16_t> heightM;
  std::optional<std::uint16_t> speedKmh;
  std::optional<std::int16_t> trackDeg;
  std::optional<std::uint16_t> hdopHundredths;
  std::optional<std::uint8_t> satellites;
  std::uint16_t intervalSec = 0;  // the interval of the sector it was found in
};

struct LocusFlashRead {
  std::vector<LocusRecord> records;  // in time order (a flash that wrapped stores them out of it)
  std::size_t sectors = 0;           // sectors read (a short last one included)
  std::size_t unusedSectors = 0;     // sectors never written: 0xFF throughout
  std::size_t badHeaders = 0;        // sectors skipped: the header's check failed
  std::size_t unknownContent = 0;    // sectors skipped: content bits whose fields are not known
  std::size_t badRecords = 0;        // records skipped: the check byte failed
  std::size_t unusedRecords = 0;     // record places still 0xFF
};

// The size of a record of this content, check byte included; 0 when the content names a
// field whose size is not known, or none.
std::size_t LocusRecordBytes(long content);
// Every record the flash holds; nothing is invented: a record that does not check, and every
// sector whose header does not, is skipped and counted.
LocusFlashRead ReadLocusFlash(std::span<const std::uint8_t> flash);
