// The logbook's records as files people open elsewhere: GPX 1.1 (a track, a new segment after
// each gap in the logging), CSV with a header row, or the flash's bytes as dumped.
//
// Thread rule: pure functions over values.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "commands/locus.h"

enum class TrackFormat { Gpx, Csv, Raw };

// "gpx", "csv", "raw".
std::optional<TrackFormat> TrackFormatOfName(std::string_view name);
// By the file's extension, in either case: .gpx, .csv, and .bin, .raw or .dat for the bytes.
std::optional<TrackFormat> TrackFormatOfPath(std::string_view path);

// A segment ends where two records lie more than this many logging intervals apart.
inline constexpr int kTrackGapIntervals = 10;

// GPX 1.1: one track, a segment per stretch without a gap, a point per record whose position
// is a valid latitude and longitude, with ele, time, fix, sat and hdop where the record has
// them, speed [m/s] and course in Garmin's TrackPointExtension (v2). creator names the program.
std::string LocusGpx(const LocusFlashRead& read, std::string_view creator);
// Points of the GPX above; records left out for a position that is no valid one.
std::size_t LocusGpxPoints(const LocusFlashRead& read);
// CSV: a header row, then a row per record, in time order; a field the records do not hold
// stays empty.
std::string LocusCsv(const LocusFlashRead& read);
// "2026-12-09T12:00:00Z".
std::string IsoUtcText(std::uint32_t utcSec);
