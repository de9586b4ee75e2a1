// The chart step of the status display without a window: after a GSV cycle completes, the
// latest cycle of every system becomes the sky plot's bubbles and the signal chart's bars
// (position, SNR, colour by use in the fix).
//
// Thread rule: works on the receiver state, which belongs to the thread that handles sentences.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "link/receiver_state.h"

// One satellite of a chart rebuild: talkers in order, each cycle by system and number.
struct ChartSatellite {
  GnssSystem system = GnssSystem::GPS;
  std::string prn;            // number text as received
  std::string label;          // the system's letter before the number text ("R71"; GPS "07")
  int snr = 0;                // SNR [dB-Hz] as integer, 0 when empty or not a number
  bool used = false;          // listed by its system's latest GSA: blue, else silver
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

// The chart rebuild's data step: the latest cycle of every system still reporting; clears
// gsvCycleComplete. Returns nothing if the flag was clear.
std::vector<ChartSatellite> TakeChartSatellites(ReceiverState& state);
