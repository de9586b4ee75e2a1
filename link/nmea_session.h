// One receiver's sentence handling without a window: checksum test, split, dispatch to the
// parsers, and the decisions the dispatch makes for the proprietary replies. The window and
// the command-line tool both feed sentences here and apply the outcome to what they show.
//
// Thread rule: a session is used by one thread at a time (the thread that handles sentences).
#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "link/nmea_sentence.h"
#include "link/receiver_state.h"

// What handling one sentence decided, for the front end to apply.
struct SentenceOutcome {
  bool valid = false;              // false: checksum failed; drop without echo, log or refresh
  SentenceRoute route = SentenceRoute::None;
  bool tickMchnIndicator = false;  // Chn route: check CheckBox9 (never unchecked here)
  bool showFixRateGroup = false;   // Zrn001 with field 1 beginning "MODE": show GroupBox14
  bool showSetSuccessful = false;  // Zrn818: "Set Successful!" / "Send ok" box
  bool gsvCycleComplete = false;   // charts are due (TakeChartSatellites) after the field refresh
};

class NmeaSession {
 public:
  NmeaSession();
  // Handles one sentence as cut from the stream ("$" ... up to the next "$").
  // Never throws; a malformed field leaves the affected texts unchanged.
  SentenceOutcome handle(std::string_view sentence);

  ReceiverState state;
  SentenceFields fields;  // fields of the sentence last handled; valid during handle()'s caller's
                          // use of that same sentence text only
  // "Now" for the local date and time of RMC; injectable for tests.
  std::function<std::time_t()> clock = [] { return std::time(nullptr); };
};

// One satellite of a chart rebuild, in ascending PRN order.
struct ChartSatellite {
  std::string prn;   // PRN text as received (label of bar and bubble)
  int snr = 0;       // SNR [dB-Hz] as integer, 0 when empty or not a number
  bool used = false; // PRN text equal to one of usedPrn[0..11]: blue, else silver
  std::uint32_t color = 0;  // kUsedSatelliteColor or kUnusedSatelliteColor (0x00BBGGRR)
  double x = 0;      // sky plot: 100 * cos(elev) * sin(azim); east is +x
  double y = 0;      // sky plot: 100 * cos(elev) * cos(azim); north is +y
  std::string elevationText;  // as received, for text front ends
  std::string azimuthText;
  std::string snrText;
};

// Bubble and bar colours, toolkit encoding 0x00BBGGRR.
inline constexpr std::uint32_t kUsedSatelliteColor = 0xFF0000;    // blue
inline constexpr std::uint32_t kUnusedSatelliteColor = 0xC0C0C0;  // silver

// Blue when the PRN text equals one of usedPrn[0..11] exactly ("7" and "07" differ), else silver.
std::uint32_t PrnColor(std::string_view prn, const Display_SatInfo_st& info);

// The chart rebuild's data step: every slot in use (PRN converting to non-zero), ascending;
// empties each slot it takes and clears gsvCycleComplete. Returns nothing if the flag was clear.
std::vector<ChartSatellite> TakeChartSatellites(ReceiverState& state);
