// The computed parts of the status display that need no window: the data-bandwidth estimate
// of the chosen output and the fix timer's tick.
//
// Thread rule: pure functions; FixTimerTick writes the state it is given, which belongs to
// the thread that handles sentences.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "link/receiver_state.h"
#include "link/sentence_kinds.h"

struct BandwidthEstimate {
  int fixRateHz = 0;   // the fix rate the estimate assumes [Hz], shown beside it
  float estimate = 0;  // share of the line's capacity [%]
  std::string text;    // the estimate as "%.1f", as shown
  bool red = false;    // estimate above 100
};

// Line bits that one output of each sentence type takes at baudRate, indexed by NmeaKind;
// nullopt for a rate that is not in the table.
std::optional<std::array<float, kNmeaKindCount>> BandwidthRow(int baudRate);

// Baud text to a number as the estimate reads it: optional blanks or tabs and a sign, then
// digits only, within an int; anything else is 0.
int BaudNumberOf(std::string_view baudText);

// Fix rate in hertz for the selected item of the fix-rate box; nullopt when none is selected.
std::optional<int> FixRateHzOf(int fixIndex);

// rateIndex: the selected item of each rate box, indexed by NmeaKind; index 0 means off,
// anything else (including -1 after typing) on. Returns nullopt while the baud
// text is none of the table's rates or the fix-rate box has no item selected.
std::optional<BandwidthEstimate> EstimateBandwidth(std::string_view baudText,
                                                   const std::array<int, kNmeaKindCount>& rateIndex, int fixIndex);

inline constexpr std::int32_t kFixTimerMaxSeconds = 999999;

// One second of the fix timer: counts while the last fix mode is not "3D", up to the cap.
void FixTimerTick(ReceiverState& state);
