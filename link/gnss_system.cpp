// Names, letters and the rules that tell a satellite's system; see gnss_system.h.
//
// Thread rule: pure functions.
#include "link/gnss_system.h"

#include <array>

std::string_view GnssSystemName(GnssSystem system) {
  static constexpr std::array<std::string_view, kGnssSystemCount> kNames{"GPS",    "SBAS", "GLONASS", "Galileo",
                                                                         "BeiDou", "QZSS", "NavIC"};
  return kNames[IndexOf(system)];
}

std::string_view GnssSystemLetter(GnssSystem system) {
  static constexpr std::array<std::string_view, kGnssSystemCount> kLetters{"", "", "R", "E", "C", "J", "I"};
  return kLetters[IndexOf(system)];
}

SkySource SkySourceOf(std::string_view address) {
  if (address.size() < 2) return SkySource::Other;
  const char a = address[0];
  const char b = address[1];
  if (a == 'G') {
    switch (b) {
      case 'P': return SkySource::GP;
      case 'L': return SkySource::GL;
      case 'A': return SkySource::GA;
      case 'B': return SkySource::GB;
      case 'Q': return SkySource::GQ;
      case 'I': return SkySource::GI;
      case 'N': return SkySource::GN;
      default: return SkySource::Other;
    }
  }
  if (a == 'B' && b == 'D') return SkySource::GB;
  return SkySource::Other;
}

std::optional<GnssSystem> SystemOfSource(SkySource source) {
  switch (source) {
    case SkySource::GL: return GnssSystem::GLONASS;
    case SkySource::GA: return GnssSystem::Galileo;
    case SkySource::GB: return GnssSystem::BeiDou;
    case SkySource::GQ: return GnssSystem::QZSS;
    case SkySource::GI: return GnssSystem::NavIC;
    default: return std::nullopt;
  }
}

std::optional<GnssSystem> SystemOfNumber(long number) {
  if (number >= 1 && number <= 32) return GnssSystem::GPS;
  if (number >= 33 && number <= 64) return GnssSystem::SBAS;
  if (number >= 65 && number <= 96) return GnssSystem::GLONASS;
  if (number >= 193 && number <= 200) return GnssSystem::QZSS;
  if ((number >= 201 && number <= 263) || (number >= 401 && number <= 463)) return GnssSystem::BeiDou;
  return std::nullopt;
}

std::optional<GnssSystem> SystemOfId(long id) {
  switch (id) {
    case 1: return GnssSystem::GPS;
    case 2: return GnssSystem::GLONASS;
    case 3: return GnssSystem::Galileo;
    case 4: return GnssSystem::BeiDou;
    case 5: return GnssSystem::QZSS;
    case 6: return GnssSystem::NavIC;
    default: return std::nullopt;
  }
}
