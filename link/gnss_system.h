// Which satellite system a satellite belongs to. Multi-system receivers report each system's
// satellites under its own talker ($GLGSV for GLONASS, $GAGSV for Galileo ...) with numbers
// that repeat between systems (BeiDou 13 is not GPS 13), while single-system firmware and the
// combined GN talker name the system only through the number ranges of NMEA 0183.
//
// Thread rule: pure functions and constants.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

// In the order the charts and tables list them.
enum class GnssSystem : std::uint8_t { GPS, SBAS, GLONASS, Galileo, BeiDou, QZSS, NavIC };
inline constexpr std::size_t kGnssSystemCount = 7;

inline constexpr std::size_t IndexOf(GnssSystem system) { return static_cast<std::size_t>(system); }

// "GPS", "SBAS", "GLONASS", "Galileo", "BeiDou", "QZSS", "NavIC".
std::string_view GnssSystemName(GnssSystem system);
// What a chart puts before a satellite's number so that the other systems are told apart at a
// glance: the RINEX letter (R GLONASS, E Galileo, C BeiDou, J QZSS, I NavIC); GPS and SBAS
// numbers stand alone, as they always have.
std::string_view GnssSystemLetter(GnssSystem system);

// The GSV talkers whose cycles complete on their own, one table each. GP, GN and any other
// talker name their satellites' systems by number ranges; GB and BD are both BeiDou.
enum class SkySource : std::uint8_t { GP, GL, GA, GB, GQ, GI, GN, Other };
inline constexpr std::size_t kSkySourceCount = 8;
inline constexpr std::size_t IndexOf(SkySource source) { return static_cast<std::size_t>(source); }

// The talker of an address ("GLGSV" -> GL).
SkySource SkySourceOf(std::string_view address);
// The one system a source's talker names; nothing for GP, GN and the others.
std::optional<GnssSystem> SystemOfSource(SkySource source);
// A satellite number under GP, GN and other talkers: 1-32 GPS, 33-64 SBAS, 65-96 GLONASS,
// 193-200 QZSS, 201-263 and 401-463 BeiDou (as some firmware writes them); nothing otherwise.
std::optional<GnssSystem> SystemOfNumber(long number);
// The system-ID field that NMEA 4.10 added to GSA: 1 GPS, 2 GLONASS, 3 Galileo, 4 BeiDou,
// 5 QZSS, 6 NavIC (the last two from 4.11); nothing for any other value.
std::optional<GnssSystem> SystemOfId(long id);
