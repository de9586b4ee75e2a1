// The chart step of the status display without a window: after a GSV cycle completes, the
// satellites of the table become the sky plot's bubbles and the signal chart's bars (position,
// SNR, colour by use in the fix), and the table is emptied for the next cycle.
//
// Thread rule: works on the receiver state, which belongs to the thread that handles sentences.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "link/receiver_state.h"

// One satellite of a chart rebuild, in ascending PRN order.
struct ChartSatellite {
  std::string prn;            // PRN text as received (label of bar and bubble)
  int snr = 0;                // SNR [dB-Hz] as integer, 0 when empty or not a number
  bool used = false;          // PRN text equal to one of usedPrn[0..11]: blue, else silver
  std::uint32_t color = 0;    // kUsedSatelliteColor or kUnusedSatelliteColor (0x00BBGGRR)
  double x = 0;               // sky plot: 100 * cos(elev) * sin(azim); east is +x
  double y = 0;               // sky plot: 100 * cos(elev) * cos(azim); north is +y
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
