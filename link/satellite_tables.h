// The satellites in view and in use, kept per talker and per system, so that a receiver that
// sends one GSV cycle per system ($GPGSV, then $GLGSV, then $GAGSV ...) and one GSA per system
// shows every system at once: no system's cycle empties another's, no system's GSA overwrites
// another's used marks, and numbers that repeat between systems (BeiDou 13, GPS 13) stay apart.
//
// A GSV cycle fills its talker's table message by message; the message that completes it makes
// it that talker's latest cycle. The charts show every talker's latest cycle, until the talker
// falls silent: it is left out once it has missed more bursts than its usual rhythm (one burst,
// or two for a system reported every other second) allows. A burst is told by the cycles
// alone: it begins when a talker completes a cycle for the second time since the last began.
//
// Thread rule: belongs to the thread that handles sentences, like the rest of the receiver state.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "link/gnss_system.h"

// One satellite as a GSV message reported it.
struct SatelliteReport {
  GnssSystem system = GnssSystem::GPS;
  long number = 0;        // the number field as atol reads it; never 0
  std::string prn;        // the number text as received ("07")
  std::string elevation;  // [deg] as received
  std::string azimuth;    // [deg] as received
  std::string snr;        // [dB-Hz] as received, may be empty
};

// A talker's table holds at most this many satellites while it waits for the end of a cycle:
// a cycle has at most 36, and satellites of a cycle whose last message was lost wait for the
// next one; beyond it, reports are dropped until a cycle completes.
inline constexpr std::size_t kMaxSatellitesPerCycle = 64;

// One talker's GSV cycles: the one filling and the latest complete one. The two tables trade
// places when a cycle completes, so their texts keep their storage from cycle to cycle.
class SkyCycle {
 public:
  // Reported since the last complete cycle, in the order reported.
  const SatelliteReport* fillingBegin() const { return tables_[1 - latest_].data(); }
  std::size_t fillingCount() const { return counts_[1 - latest_]; }
  // The last complete cycle: f(const SatelliteReport&) by system and number.
  template <typename F>
  void forEachLatest(F&& f) const {
    const std::vector<SatelliteReport>& table = tables_[latest_];
    for (std::size_t i = 0; i < counts_[latest_]; ++i) f(table[order_[i]]);
  }
  std::size_t latestCount() const { return counts_[latest_]; }

  bool completed = false;      // a cycle has completed
  std::uint64_t burst = 0;     // the burst of the last one
  std::uint64_t interval = 1;  // bursts between its last two cycles, 1 or 2

 private:
  friend class SatelliteTables;
  // The filling table's entry for this satellite, a new one if need be; nullptr when full.
  SatelliteReport* entryFor(GnssSystem system, long number);
  void complete();

  std::array<std::vector<SatelliteReport>, 2> tables_;
  std::array<std::size_t, 2> counts_{};
  int latest_ = 0;
  std::array<std::uint8_t, kMaxSatellitesPerCycle> order_{};  // the latest table's entries, sorted
};

// The satellites one GSA listed as used in the fix, texts as received.
class UsedSatellites {
 public:
  void clear() { count_ = 0; }
  // Up to twelve: a GSA has twelve positions.
  void add(std::string_view prn);
  bool contains(std::string_view prn) const;
  std::size_t count() const { return count_; }
  std::string_view operator[](std::size_t i) const { return prn_[i]; }

 private:
  // Every charted satellite is looked up here, so each listed text also stands as one word:
  // up to seven bytes and the length, one comparison a listed number. A longer text has no
  // word of its own and is compared as text.
  static constexpr std::uint64_t kLongText = ~std::uint64_t{0};
  static std::uint64_t WordOf(std::string_view prn) {
    if (prn.size() > 7) return kLongText;
    std::uint64_t word = static_cast<std::uint64_t>(prn.size()) << 56;
    for (std::size_t i = 0; i < prn.size(); ++i) word |= std::uint64_t{static_cast<unsigned char>(prn[i])} << (8 * i);
    return word;
  }

  std::array<std::string, 12> prn_;
  std::array<std::uint64_t, 12> words_{};
  std::size_t count_ = 0;
};

class SatelliteTables {
 public:
  // A satellite group of a GSV message: a later report of the same system and number in the
  // same cycle replaces the earlier one.
  void report(SkySource source, GnssSystem system, long number, std::string_view prn, std::string_view elevation,
              std::string_view azimuth, std::string_view snr);
  // The message that ends a cycle: the talker's reports become its latest cycle, and its table
  // starts empty for the next.
  void completeCycle(SkySource source);
  // Calls f(const SatelliteReport&) for the latest cycle of every talker still reporting,
  // talkers in order, each cycle by system and number.
  template <typename F>
  void forEachShown(F&& f) const {
    for (const SkyCycle& cycle : cycles_) {
      if (shown(cycle)) cycle.forEachLatest(f);
    }
  }

  // How many satellites forEachShown calls f for.
  std::size_t shownCount() const {
    std::size_t count = 0;
    for (const SkyCycle& cycle : cycles_) {
      if (shown(cycle)) count += cycle.latestCount();
    }
    return count;
  }

  // A GSA's used list for one system replaces that system's; SBAS satellites are counted with
  // GPS, as the system IDs of NMEA 4.10 count them.
  UsedSatellites& usedOf(GnssSystem system) { return used_[IndexOf(GroupOf(system))]; }
  const UsedSatellites& usedOf(GnssSystem system) const { return used_[IndexOf(GroupOf(system))]; }
  void clearAllUsed() {
    for (UsedSatellites& u : used_) u.clear();
  }
  // Used in the fix: its number text equals, as text, one its system's GSA listed.
  bool isUsed(GnssSystem system, std::string_view prn) const { return usedOf(system).contains(prn); }

  // Set once a GSA without a system has listed satellites of several systems: such a receiver
  // lists all it uses in one GSA, so each of its GSAs replaces every system's list.
  bool combinedGsa = false;

  const SkyCycle& cycleOf(SkySource source) const { return cycles_[IndexOf(source)]; }
  std::uint64_t burst() const { return burst_; }

 private:
  static GnssSystem GroupOf(GnssSystem system) { return system == GnssSystem::SBAS ? GnssSystem::GPS : system; }
  bool shown(const SkyCycle& cycle) const { return cycle.completed && burst_ - cycle.burst <= cycle.interval; }

  std::array<SkyCycle, kSkySourceCount> cycles_;
  std::uint64_t burst_ = 0;
  std::array<UsedSatellites, kGnssSystemCount> used_;
};
