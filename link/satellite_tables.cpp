// Per-talker GSV cycles and per-system used lists; see satellite_tables.h.
//
// Thread rule: the thread that handles sentences.
#include "link/satellite_tables.h"

#include <algorithm>

#include "link/field_text.h"

void UsedSatellites::add(std::string_view prn) {
  if (count_ >= prn_.size()) return;
  SetText(prn_[count_], prn);
  words_[count_] = WordOf(prn);
  ++count_;
}

bool UsedSatellites::contains(std::string_view prn) const {
  const std::uint64_t word = WordOf(prn);
  if (word == kLongText) {
    for (std::size_t i = 0; i < count_; ++i) {
      if (SameText(prn_[i], prn)) return true;
    }
    return false;
  }
  for (std::size_t i = 0; i < count_; ++i) {
    if (words_[i] == word) return true;
  }
  return false;
}

SatelliteReport* SkyCycle::entryFor(GnssSystem system, long number) {
  std::vector<SatelliteReport>& table = tables_[1 - latest_];
  std::size_t& count = counts_[1 - latest_];
  for (std::size_t i = 0; i < count; ++i) {
    if (table[i].number == number && table[i].system == system) return &table[i];
  }
  if (count >= kMaxSatellitesPerCycle) return nullptr;
  if (count == table.size()) table.emplace_back();
  SatelliteReport& entry = table[count++];
  entry.system = system;
  entry.number = number;
  return &entry;
}

void SkyCycle::complete() {
  latest_ = 1 - latest_;
  const std::vector<SatelliteReport>& table = tables_[latest_];
  const std::size_t count = counts_[latest_];
  // Sorting the indices, not the entries, leaves every text where its storage is.
  for (std::size_t i = 0; i < count; ++i) order_[i] = static_cast<std::uint8_t>(i);
  std::sort(order_.begin(), order_.begin() + static_cast<std::ptrdiff_t>(count), [&](std::uint8_t a, std::uint8_t b) {
    const SatelliteReport& x = table[a];
    const SatelliteReport& y = table[b];
    return x.system != y.system ? x.system < y.system : x.number < y.number;
  });
  counts_[1 - latest_] = 0;
}

void SatelliteTables::report(SkySource source, GnssSystem system, long number, std::string_view prn,
                             std::string_view elevation, std::string_view azimuth, std::string_view snr) {
  SatelliteReport* entry = cycles_[IndexOf(source)].entryFor(system, number);
  if (entry == nullptr) return;
  SetText(entry->prn, prn);
  SetText(entry->elevation, elevation);
  SetText(entry->azimuth, azimuth);
  SetText(entry->snr, snr);
}

void SatelliteTables::completeCycle(SkySource source) {
  SkyCycle& cycle = cycles_[IndexOf(source)];
  // The second cycle of one talker since the burst began: a new burst.
  if (cycle.completed && cycle.burst == burst_) ++burst_;
  // A talker reported every other burst keeps its place through the burst it skips; one that
  // is reported in every burst leaves as soon as it has missed one whole burst.
  cycle.interval = cycle.completed ? std::clamp<std::uint64_t>(burst_ - cycle.burst, 1, 2) : 1;
  cycle.burst = burst_;
  cycle.completed = true;
  cycle.complete();
}
