// Receiver state: what the receiver last reported, already formatted as the texts the
// window shows, plus the field table of the sentence being handled.
//
// Thread rule: everything here belongs to the thread that handles sentences (the window
// thread in the program, the main thread in the command-line tool). The reader thread
// never touches it; it only hands complete sentences over.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "link/satellite_tables.h"

inline constexpr int kSentenceBufferSize = 5000;  // longest sentence: 4999 bytes + NUL
inline constexpr int kCarryOverSize = 20000;      // longest unfinished stream tail
inline constexpr int kFieldSlots = 50;

// Display record: texts are 8-bit (Latin-1; the degree sign is byte 0xB0), stored exactly
// as they will be shown. Numbers are converted only where a chart, colour or command needs them.
struct Display_SatInfo_st {
  std::string dateText;      // "%4d/%02d/%02d", local date
  std::string timeText;      // "%02d:%02d:%02d", local time
  std::string latText;       // N 25\xB003'07.40"
  std::string lonText;       // E 121\xB030'14.99"
  std::string altitudeText;  // GGA field 9 as received
  std::string fixModeText;   // "No Fix", "2D" or "3D"
  std::string speedText;     // "<number> km/h"
  std::string pdopText;      // GSA field 15 as received
  std::string hdopText;      // GSA field 16 as received
  std::string vdopText;      // GSA field 17 as received
};

// Field table of one sentence. Slot 0 is the address without "$", slot n the n-th
// comma-separated field; the last field ends at the "*". Slots are views into the
// sentence text being handled, valid only while that text lives. Every slot that the
// split did not fill reads as empty, exactly as if all 50 had been cleared first.
class SentenceFields {
 public:
  std::string_view operator[](int n) const {
    return (n >= 0 && n < count_) ? slots_[static_cast<std::size_t>(n)] : std::string_view{};
  }
  int count() const { return count_; }
  void clear() { count_ = 0; }
  // Appends the next slot; silently ignores slots beyond the fiftieth.
  void push(std::string_view field) {
    if (count_ < kFieldSlots) slots_[static_cast<std::size_t>(count_++)] = field;
  }
  // Fills the whole table in one go: fill(slots) writes the slots from the first on into the
  // kFieldSlots places it is given and returns how many it wrote. The split counts in a
  // register that way, not through the table.
  template <typename Fill>
  void fill(Fill&& fill) {
    const int written = fill(slots_.data());
    count_ = written < kFieldSlots ? written : kFieldSlots;
  }

 private:
  std::array<std::string_view, kFieldSlots> slots_{};
  int count_ = 0;
};

// The fields a coordinate text was made from (value and hemisphere); known is false until
// one was made.
struct CoordinateSource {
  std::string value;
  std::string hemisphere;
  bool known = false;
};

// Everything that sentence handling reads and writes.
struct ReceiverState {
  Display_SatInfo_st satInfo;
  CoordinateSource latSource;     // what satInfo.latText was made from
  CoordinateSource lonSource;     // what satInfo.lonText was made from
  SatelliteTables satellites;     // in view (GSV) and used in the fix (GSA), every system
  bool gsvCycleComplete = false;  // some talker's GSV cycle completed: the charts are due
  std::string lastFixMode;        // copy of fixModeText, read by the fix timer
  std::int32_t fixTimerSeconds = 0;
};
