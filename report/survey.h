// What a sentence log tells of a receiver's fix: every fix as a point of the scatter, the
// statistics of the scatter, time series of altitude, satellites and DOPs, a signal strip per
// satellite, the time to first fix from every start the log shows, the gaps, and what could
// not be computed, in words. The survey reads the log once; the drawings and the JSON are
// made from the result alone.
//
// Thread rule: plain data.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "link/gnss_system.h"

// The mark a fix gets in the scatter. No fix: GGA quality 0 (or an RMC "V" without GGA), a
// position the receiver put out without a fix. DGPS: quality 2, 4 or 5 (differential or RTK
// corrections). Otherwise 2D or 3D by the GSA mode of the same epoch; without a GSA, by the
// number of satellites GGA says it used (4 or more: 3D).
enum class FixKind : std::uint8_t { None, Fix2D, Fix3D, DGPS };
inline constexpr std::size_t kFixKindCount = 4;
inline constexpr std::size_t IndexOf(FixKind kind) { return static_cast<std::size_t>(kind); }

// A fix as a point: metres east and north of the first fix (the origin of the survey).
struct ScatterPoint {
  float east = 0;
  float north = 0;
  FixKind kind = FixKind::Fix3D;
};

// A position put out without a fix, kept as the receiver gave it.
struct NoFixPosition {
  double latitude = 0;   // [deg], north positive
  double longitude = 0;  // [deg], east positive
  float east = 0;        // [m] from the mean position once it is known
  float north = 0;
};

// The scatter of the fixes (every fix, of every kind but None) around their mean.
struct ScatterStatistics {
  std::size_t fixes = 0;
  double meanLatitude = 0;   // [deg]
  double meanLongitude = 0;  // [deg]
  double meanHeight = 0;     // [m] above the ellipsoid (GGA altitude plus geoid separation)
  double meanAltitude = 0;   // [m] above mean sea level, as GGA gives it
  double sigmaEast = 0;      // [m] standard deviation about the mean
  double sigmaNorth = 0;     // [m]
  double sigmaAltitude = 0;  // [m]
  double cep50 = 0;          // [m] radius about the mean that holds half of the fixes
  double cep95 = 0;          // [m] ... 95 % of them
  double drms2 = 0;          // [m] 2DRMS: twice the root of the mean squared distance
  double maxDistance = 0;    // [m] the farthest fix
  // The mean in the scatter's own frame: metres east and north of the first fix.
  double meanEast = 0;
  double meanNorth = 0;
};

// One column of the time series: every epoch whose elapsed time falls in
// [start, start + width) of the survey's column width. A mean is the sum over the count;
// a count of 0 means the column had no such value (drawn as a break in the line).
struct SeriesColumn {
  std::uint32_t epochs = 0;
  std::uint32_t fixes = 0;  // epochs with a fix (kind other than None)
  float altitudeMin = 0, altitudeMax = 0;
  double altitudeSum = 0;
  std::uint32_t altitudes = 0;
  double pdopSum = 0, hdopSum = 0, vdopSum = 0;
  std::uint32_t pdops = 0, hdops = 0, vdops = 0;
  double inViewSum = 0, usedSum = 0;  // satellites in view (GSV) and used (GSA) per epoch
  std::uint32_t skyEpochs = 0;        // epochs that had satellite tables to count
  std::uint16_t inViewMax = 0, usedMax = 0;
};

// One satellite's signal over time, one cell per column.
struct SignalCell {
  float snrSum = 0;           // [dB-Hz] over the reports that had a signal
  std::uint32_t reports = 0;  // epochs the satellite was in view
  std::uint32_t signals = 0;  // ... with a signal (SNR field not empty)
  std::uint32_t used = 0;     // ... used in the fix
};
struct SatelliteStrip {
  GnssSystem system = GnssSystem::GPS;
  long number = 0;
  std::vector<SignalCell> cells;  // as many as the survey's columns
};

// Where a receiver started, and how long it took to a fix.
struct StartToFix {
  double elapsed = 0;          // [s] of the first epoch after the start
  std::string cause;           // "first sentence" or "restart ($PMTK010,001)"
  std::optional<double> to2D;  // [s] from the start to the first epoch with a fix of 2D or better
  std::optional<double> to3D;  // [s] ... with a 3D fix (or DGPS)
};

// A stretch of time without an epoch, longer than the receiver's rhythm allows.
struct LogGap {
  double elapsed = 0;     // [s] of the last epoch before it
  double length = 0;      // [s] from that epoch to the next
  std::string utcBefore;  // "14:31:07" (time of day of the epoch before it), may be empty
};

struct SentenceCounts {
  std::uint64_t bytes = 0;
  std::uint64_t valid = 0;        // passed the checksum test
  std::uint64_t badChecksum = 0;  // a checksum that does not match
  std::uint64_t noChecksum = 0;   // no "*" with two digits: cut short or never had one
  std::uint64_t gga = 0, rmc = 0, gsa = 0, gsv = 0, other = 0;
  bool lastLineCut = false;  // the log ends inside a sentence
};

struct Survey {
  SentenceCounts sentences;
  std::uint64_t epochs = 0;
  std::array<std::uint64_t, kFixKindCount> fixesByKind{};  // epochs by the kind of their fix
  // The time axis: seconds since the first epoch, never going back (see the notes).
  double duration = 0;     // [s] elapsed at the last epoch
  double typicalStep = 0;  // [s] the receiver's usual interval between epochs (0: unknown)
  std::string firstUtc;    // "2019-12-14 14:29:01 UTC", or the time of day alone when no date
  std::string lastUtc;

  // Every fix; statistics when there are at least two.
  std::vector<ScatterPoint> points;
  std::optional<ScatterStatistics> statistics;
  // Positions without a fix, up to kMaxNoFixPositions of them (noFixPositionsDropped beyond).
  std::vector<NoFixPosition> noFixPositions;
  std::uint64_t noFixPositionsDropped = 0;

  // Time series: column k covers [k * columnWidth, (k + 1) * columnWidth) seconds.
  double columnWidth = 1;
  std::vector<SeriesColumn> columns;
  std::vector<SatelliteStrip> strips;  // by system, then number

  std::vector<StartToFix> starts;
  std::vector<LogGap> gaps;  // the first kMaxListedGaps; all counted below
  std::uint64_t gapCount = 0;
  double gapTotal = 0;  // [s]

  // What the log did not allow, and what it did that a reader should know: one sentence each,
  // in words ("No fix in this log: no scatter, no statistics, no time to first fix.").
  std::vector<std::string> notes;
};

inline constexpr std::size_t kMaxNoFixPositions = 20000;
inline constexpr std::size_t kMaxListedGaps = 50;
// The time series never hold more columns than this: neighbours merge (the width doubles).
inline constexpr std::size_t kMaxColumns = 1024;
