// The sentence types whose output the receiver lets us set (PMTK314) and reports (PMTK514),
// one row each: everything the program knows about a type in one place, so that the rate
// command, the rate reply, the bandwidth estimate, the window's boxes and indicators, the
// command-line tool and the simulator all read the same facts instead of keeping their own
// lists in step.
//
// Thread rule: constants and pure functions.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

// The rows' order: the order of the rate boxes on the "Setup" tab, of the bandwidth table's
// columns and of every array indexed by a sentence type.
enum class NmeaKind { GLL, RMC, VTG, GSA, GSV, GGA, ZDA, MCHN };
inline constexpr int kNmeaKindCount = 8;

inline constexpr std::size_t IndexOf(NmeaKind kind) { return static_cast<std::size_t>(kind); }

// PMTK314 and PMTK514 carry this many rate fields after the address; fields 7 to 17 belong to
// no type shown here.
inline constexpr int kRateFieldCount = 19;

struct NmeaKindRow {
  NmeaKind kind;
  std::string_view name;  // as the boxes, the tool and the JSON name it
  int rateField;          // its field in PMTK314 and PMTK514, 1 to kRateFieldCount
  // Where its output indicator stands on the "Status" tab, 0 first (three to a row there);
  // a rate reply is applied to the window in this order.
  int indicatorPlace;
};

inline constexpr std::array<NmeaKindRow, kNmeaKindCount> kNmeaKinds = {{
    {NmeaKind::GLL, "GLL", 1, 4},
    {NmeaKind::RMC, "RMC", 2, 3},
    {NmeaKind::VTG, "VTG", 3, 5},
    {NmeaKind::GSA, "GSA", 5, 1},
    {NmeaKind::GSV, "GSV", 6, 2},
    {NmeaKind::GGA, "GGA", 4, 0},
    {NmeaKind::ZDA, "ZDA", 18, 6},
    {NmeaKind::MCHN, "MCHN", 19, 7},
}};

namespace sentence_kinds_detail {
// Rows in the order of NmeaKind (so a row is found by its index), rate fields within the
// command and none twice, every indicator place taken once.
consteval bool WellFormed() {
  std::array<bool, kRateFieldCount + 1> fieldTaken{};
  std::array<bool, kNmeaKindCount> placeTaken{};
  for (std::size_t i = 0; i < kNmeaKinds.size(); ++i) {
    const NmeaKindRow& row = kNmeaKinds[i];
    if (IndexOf(row.kind) != i || row.name.empty()) return false;
    if (row.rateField < 1 || row.rateField > kRateFieldCount || fieldTaken[static_cast<std::size_t>(row.rateField)])
      return false;
    fieldTaken[static_cast<std::size_t>(row.rateField)] = true;
    if (row.indicatorPlace < 0 || row.indicatorPlace >= kNmeaKindCount ||
        placeTaken[static_cast<std::size_t>(row.indicatorPlace)])
      return false;
    placeTaken[static_cast<std::size_t>(row.indicatorPlace)] = true;
  }
  return true;
}
static_assert(WellFormed(), "kNmeaKinds: rows in NmeaKind order, distinct rate fields and indicator places");

consteval std::array<NmeaKind, kNmeaKindCount> ByIndicatorPlace() {
  std::array<NmeaKind, kNmeaKindCount> order{};
  for (const NmeaKindRow& row : kNmeaKinds) order[static_cast<std::size_t>(row.indicatorPlace)] = row.kind;
  return order;
}
}  // namespace sentence_kinds_detail

inline constexpr const NmeaKindRow& RowOf(NmeaKind kind) { return kNmeaKinds[IndexOf(kind)]; }
// "GLL", "RMC", ... "MCHN".
inline constexpr std::string_view NmeaKindName(NmeaKind kind) { return RowOf(kind).name; }
inline constexpr int RateFieldOf(NmeaKind kind) { return RowOf(kind).rateField; }

// The types in the order of their indicators (GGA, GSA, GSV, RMC, GLL, VTG, ZDA, MCHN).
inline constexpr std::array<NmeaKind, kNmeaKindCount> kKindsByIndicatorPlace =
    sentence_kinds_detail::ByIndicatorPlace();
