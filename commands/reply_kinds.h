// The kinds of reply and proprietary message a receiver sends, as values: one type per kind
// and one table of the kinds, from which the decoded reply (a variant of the types), the
// kind a command waits for (ReplyKind) and each kind's name are all derived, so no second
// list has to be kept in step with it.
//
// Thread rule: types and constants only.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <variant>

#include "link/sentence_kinds.h"

// PMTK001,<command>,<flag>: acknowledgement of a command.
struct PmtkAck {
  long command = 0;  // field 1, the acknowledged command
  long flag = 0;     // field 2: 3 accepted; 0, 1, 2 or anything else failed
};
// PMTK500,<period>,...: the fix period, reply to the fix-period query.
struct PmtkFixPeriod {
  long fixPeriodMs = 0;
};
// PMTK501,<mode>: the DGPS mode (0 none, 1 RTCM, 2 SBAS).
struct PmtkDgpsMode {
  long mode = 0;
};
// PMTK514,...: the output rate of each sentence type (the rate fields of kNmeaKinds).
struct PmtkOutputRates {
  std::array<long, kNmeaKindCount> rates{};  // indexed by NmeaKind
  long rateOf(NmeaKind kind) const { return rates[IndexOf(kind)]; }
};
// PMTK705,<release>,<build>,<model>,<fourth>: firmware release; texts as received.
struct PmtkVersion {
  std::string release;  // field 1
  std::string buildId;  // field 2
  std::string model;    // field 3, compared with the model table
  std::string fourth;   // field 4, shown only
};
// PMTK707,<sets>,<FWN>,<FTOW>,<LWN>,<LTOW>,...: the receiver's EPO data.
struct PmtkEpoState {
  std::string setsText;  // field 1, compared as text: "0" none, "28"/"56" complete
  long firstWeek = 0;    // FWN, GPS week
  long firstTowSec = 0;  // FTOW, time of week [s]
  long lastWeek = 0;     // LWN
  long lastTowSec = 0;   // LTOW
};
// PMTKLOG,<serial>,<type>,<mode>,<content>,<interval>,<distance>,<speed>,<status>,<records>,
// <percent>: the state of the receiver's own logbook (LOCUS), reply to PMTK183.
struct PmtkLocusStatus {
  long serial = 0;
  long type = 0;         // 0: overwrite when full, 1: stop when full
  long mode = 0;         // bit mask: AlwaysLocate 1, FixOnly 2, Normal 4, Interval 8, Distance 16, Speed 32
  long content = 0;      // bit mask of the fields each record holds
  long intervalSec = 0;  // a record every so many seconds
  long distanceM = 0;    // ... or metres
  long speedKmh = 0;     // ... or above this speed
  long status = 0;       // 1 stopped; anything else logging (firmware writes 0 or 2)
  long records = 0;
  long percentFull = 0;
  bool logging() const { return status != 1; }
};
// PMTKLOX,<part>,...: one line of a dump of the logbook's flash. Part 0 begins the dump and
// says how many data lines follow; part 1 is a data line with its sequence number and up to
// 24 words of 8 hexadecimal digits; part 2 ends the dump.
struct PmtkLocusData {
  long part = -1;          // 0, 1, 2; anything else: not a dump line
  long lines = 0;          // part 0: the data lines that follow
  long sequence = -1;      // part 1: its place, from 0
  std::string bytes;       // part 1: the words' bytes, in order (4 a word)
  bool wellFormed = true;  // part 1: every word was 8 hexadecimal digits
};
// PMTK513,<enabled>: whether the receiver searches SBAS satellites (1) or not (0); reply to
// PMTK413.
struct PmtkSbasEnabled {
  long enabled = 0;
};
// PMTK519,<mode>: how the receiver takes SBAS data: 1 integrity (only what the SBAS declares
// fit for use), 0 test (also satellites in test mode); reply to PMTK419.
struct PmtkSbasMode {
  long mode = 0;
};
// PMTK527,<threshold>: the static-navigation threshold [m/s], below which the receiver holds
// its position and reports speed 0 (0: off); reply to PMTK447.
struct PmtkStaticNav {
  std::string thresholdText;        // field 1 as received ("1.20")
  long thresholdCentimetresPs = 0;  // the same [cm/s]; -1 when it is no such number
};
// PMTK869,2,<enabled>[,<days>]: EASY, the receiver's own prediction of the orbits from the
// ephemeris it received, on (1) or off (0), and on some firmware the days it predicts;
// reply to PMTK869,0.
struct PmtkEasy {
  long enabled = 0;
  long days = -1;  // field 3; -1: not sent
};
// PMTK010,001: the receiver has started, after power-up or a restart. No setting changes.
struct PmtkStartupNotice {};
// A proprietary sentence with "CHN" at characters 5-7 of its address (channel status): the
// receiver is putting out MCHN, so its indicator is ticked (never unticked by it).
struct ChannelStatus {};
// PZRN001,<mode>: the maker's mode reply. A mode beginning "MODE" means the fix update rate
// can be set.
struct ModeReply {
  std::string mode;  // field 1 as received
  bool fixRateSettable = false;
};
// PZRN818: the maker's fix-rate reset is done.
struct FixRateResetDone {};

// One row of the table: the kind's type and its short stable name, for logs and
// machine-readable output.
template <class Reply>
struct ReplyKindRow {
  std::string_view name;
};

inline constexpr std::tuple kReplyKinds{
    ReplyKindRow<PmtkAck>{"ack"},
    ReplyKindRow<PmtkFixPeriod>{"fixPeriod"},
    ReplyKindRow<PmtkDgpsMode>{"dgpsMode"},
    ReplyKindRow<PmtkOutputRates>{"outputRates"},
    ReplyKindRow<PmtkVersion>{"version"},
    ReplyKindRow<PmtkEpoState>{"epoState"},
    ReplyKindRow<PmtkStartupNotice>{"startupNotice"},
    ReplyKindRow<ChannelStatus>{"channelStatus"},
    ReplyKindRow<ModeReply>{"modeReply"},
    ReplyKindRow<FixRateResetDone>{"fixRateReset"},
    ReplyKindRow<PmtkLocusStatus>{"locusStatus"},
    ReplyKindRow<PmtkLocusData>{"locusData"},
    ReplyKindRow<PmtkSbasEnabled>{"sbasEnabled"},
    ReplyKindRow<PmtkSbasMode>{"sbasMode"},
    ReplyKindRow<PmtkStaticNav>{"staticNav"},
    ReplyKindRow<PmtkEasy>{"easy"},
};

namespace reply_kinds_detail {
template <class Rows>
struct VariantOfRows;
template <class... Replies>
struct VariantOfRows<std::tuple<ReplyKindRow<Replies>...>> {
  using Type = std::variant<Replies...>;
};

template <class Reply, class... Replies>
consteval std::size_t PlaceIn(const std::variant<Replies...>*) {
  constexpr bool same[] = {std::is_same_v<Reply, Replies>...};
  std::size_t place = 0;
  while (place < sizeof...(Replies) && !same[place]) ++place;
  return place;
}
}  // namespace reply_kinds_detail

// Every reply and proprietary message a sentence can carry, decoded once; the alternatives
// stand in the order of the table.
using ReceiverReply = reply_kinds_detail::VariantOfRows<std::remove_const_t<decltype(kReplyKinds)>>::Type;
inline constexpr std::size_t kReplyKindCount = std::variant_size_v<ReceiverReply>;

// A kind of reply: its place in the table, which is also the index of its alternative in
// ReceiverReply.
enum class ReplyKind : std::size_t {};

template <class Reply>
inline constexpr ReplyKind kReplyKindOf = [] {
  constexpr std::size_t place = reply_kinds_detail::PlaceIn<Reply>(static_cast<const ReceiverReply*>(nullptr));
  static_assert(place < kReplyKindCount, "not a kind of reply of kReplyKinds");
  return static_cast<ReplyKind>(place);
}();

inline ReplyKind KindOf(const ReceiverReply& reply) { return static_cast<ReplyKind>(reply.index()); }

// The name of each kind, in the order of the table: "ack", "fixPeriod" ... "fixRateReset".
inline constexpr std::array<std::string_view, kReplyKindCount> kReplyKindNames =
    std::apply([](auto... row) { return std::array<std::string_view, kReplyKindCount>{row.name...}; }, kReplyKinds);

inline std::string_view ReplyKindName(ReplyKind kind) { return kReplyKindNames[static_cast<std::size_t>(kind)]; }
inline std::string_view ReplyKindName(const ReceiverReply& reply) { return ReplyKindName(KindOf(reply)); }
