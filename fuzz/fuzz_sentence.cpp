// libFuzzer target for everything a hostile or broken receiver can reach: the cutter under
// arbitrary read sizes (derived from the input), the checksum test (checked against sscanf),
// the field split (checked against the rule written plainly), the session with every parser
// (positions checked against a fresh formatting of their fields), the chart data step (sky
// positions and used marks checked against a direct computation), and the number readers
// (checked against atol and strtod).
// Any broken invariant aborts, so the fuzzer reports it like a crash.
//
// Thread rule: single-threaded, as libFuzzer calls it.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "commands/nmea_session.h"
#include "link/nmea_parsers.h"

namespace {

void Require(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
  }
}

// The checksum rule written plainly over a NUL-terminated copy, with sscanf doing the scan.
bool ReferenceChecksum(std::string_view sentence) {
  const std::string text(sentence.substr(0, sentence.find('\0')));
  const char* star = std::strchr(text.c_str(), '*');
  if (star == nullptr) return false;
  unsigned sum = 0;
  for (const char* p = text.c_str(); p < star; ++p) {
    if (*p != '$') sum ^= static_cast<unsigned char>(*p);
  }
  unsigned written = 0;
  return std::sscanf(star + 1, "%2x", &written) == 1 && written == sum;
}

// The split rule written plainly: every comma ends a field until the table is full; the last
// field ends at the first "*" behind the last comma, or at the end.
std::vector<std::string_view> ReferenceSplit(std::string_view sentence) {
  std::vector<std::string_view> slots;
  if (sentence.empty()) return slots;
  std::size_t pos = 1;
  while (slots.size() < static_cast<std::size_t>(kFieldSlots)) {
    const std::size_t comma = sentence.find(',', pos);
    if (comma == std::string_view::npos) {
      const std::size_t star = sentence.find('*', pos);
      slots.push_back(sentence.substr(pos, star == std::string_view::npos ? std::string_view::npos : star - pos));
      break;
    }
    slots.push_back(sentence.substr(pos, comma - pos));
    pos = comma + 1;
  }
  return slots;
}

// The position texts a sentence of this route must leave: its fields formatted afresh, or the
// texts before it where a field cannot be converted.
void CheckPosition(SentenceRoute route, const SentenceFields& fields, const std::string& latBefore,
                   const std::string& lonBefore, const Display_SatInfo_st& after) {
  int latField = 0;
  switch (route) {
    case SentenceRoute::GGA: latField = 2; break;
    case SentenceRoute::GLL: latField = 1; break;
    case SentenceRoute::RMC: latField = 3; break;
    default: return;
  }
  const std::optional<std::string> lat = FormatLatitude(fields[latField], fields[latField + 1]);
  const std::optional<std::string> lon = FormatLongitude(fields[latField + 2], fields[latField + 3]);
  Require(after.latText == (lat ? *lat : latBefore), "latitude text as its fields make it");
  Require(after.lonText == (lon ? *lon : lonBefore), "longitude text as its fields make it");
}

bool Within(std::string_view part, std::string_view whole) {
  return part.empty() || (part.data() >= whole.data() && part.data() + part.size() <= whole.data() + whole.size());
}

void CheckSentence(std::string_view s, NmeaSession& session, ReceiverState& scratch) {
  Require(!s.empty() && s[0] == '$', "sentence starts with $");
  Require(s.size() < static_cast<std::size_t>(kSentenceBufferSize), "sentence fits the buffer");
  Require(s.find('$', 1) == std::string_view::npos, "one $ per sentence");
  Require(s.find('\0') == std::string_view::npos, "no NUL in a sentence");
  Require(VerifyChecksum(s) == ReferenceChecksum(s), "checksum agrees with sscanf");

  SentenceFields fields;
  SplitFields(s, fields);
  Require(fields.count() >= 1 && fields.count() <= kFieldSlots, "slot count");
  for (int i = 0; i < fields.count(); ++i) Require(Within(fields[i], s), "slot inside the sentence");
  const std::vector<std::string_view> reference = ReferenceSplit(s);
  Require(reference.size() == static_cast<std::size_t>(fields.count()), "split: as many slots as the plain rule");
  for (std::size_t i = 0; i < reference.size(); ++i) {
    const std::string_view slot = fields[static_cast<int>(i)];
    Require(slot.data() == reference[i].data() && slot.size() == reference[i].size(), "split: the plain rule's slots");
    const std::string text(slot);
    const double value = StrtodOf(slot);
    const double expected = std::strtod(text.c_str(), nullptr);
    Require(value == expected || (value != value && expected != expected),
            "a field's strtod agrees with the C library");
  }

  // Every parser on whatever the fields hold, checksum or not.
  ParseGGA(fields, scratch);
  ParseGLL(fields, scratch);
  ParseRMC(fields, scratch, 1326628800);
  ParseVTG(fields, scratch);
  ParseZDA(fields, scratch);
  ParseGSA(fields, scratch);
  ParseGSV(fields, scratch);
  (void)RouteOf(fields[0]);

  const std::string latBefore = session.state.satInfo.latText;
  const std::string lonBefore = session.state.satInfo.lonText;
  const SentenceOutcome o = session.handle(s);
  Require(o.valid == VerifyChecksum(s), "outcome validity");
  if (o.valid) CheckPosition(o.route, fields, latBefore, lonBefore, session.state.satInfo);
  if (o.gsvCycleComplete) {
    constexpr double kPi = 3.141592653589793;
    for (const ChartSatellite& sat : TakeChartSatellites(session.state)) {
      Require(std::isfinite(sat.x) && std::isfinite(sat.y), "finite sky position");
      Require(std::fabs(sat.x) <= 100.0 + 1e-9 && std::fabs(sat.y) <= 100.0 + 1e-9, "inside the sky plot");
      const double elevation = static_cast<double>(AtolOf(sat.elevationText)) * kPi * (1.0 / 180.0);
      const double azimuth = static_cast<double>(AtolOf(sat.azimuthText)) * kPi * (1.0 / 180.0);
      Require(sat.x == 100.0 * std::cos(elevation) * std::sin(azimuth), "sky x as computed directly");
      Require(sat.y == 100.0 * std::cos(elevation) * std::cos(azimuth), "sky y as computed directly");
      const UsedSatellites& used = session.state.satellites.usedOf(sat.system);
      bool listed = false;
      for (std::size_t i = 0; i < used.count(); ++i) listed = listed || used[i] == sat.prn;
      Require(sat.used == listed, "used exactly when its system's GSA lists its number text");
    }
    Require(!session.state.gsvCycleComplete, "flag cleared");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  // The first two bytes choose the read sizes; the rest is the byte stream.
  std::uint32_t seed = static_cast<std::uint32_t>(data[0]) | (static_cast<std::uint32_t>(data[1]) << 8);
  const char* stream = reinterpret_cast<const char*>(data + 2);
  const std::size_t length = size - 2;

  NmeaSession session;
  session.clock = [] { return std::time_t{1326628800}; };
  ReceiverState scratch;

  std::vector<std::string> chunked;
  SentenceCutter cutter;
  auto sink = [&](std::string_view s) {
    chunked.emplace_back(s);
    CheckSentence(s, session, scratch);
  };
  for (std::size_t i = 0; i < length;) {
    seed = seed * 1103515245u + 12345u;
    const std::size_t n = std::min<std::size_t>(length - i, 1 + (seed >> 16) % 97);
    cutter.feed(stream + i, n, sink);
    Require(cutter.carryOverSize() < static_cast<std::size_t>(kSentenceBufferSize), "carry-over bounded");
    i += n;
  }

  // However the stream was read, the same sentences come out.
  std::vector<std::string> whole;
  SentenceCutter single;
  single.feed(stream, length, [&](std::string_view s) { whole.emplace_back(s); });
  Require(whole == chunked, "chunking does not change the sentences");
  Require(single.carryOverSize() == cutter.carryOverSize(), "chunking does not change the carry-over");

  // The number readers on the raw bytes as one field, against the C library (which stops
  // at the first NUL, as the readers do).
  const std::string_view raw(stream, length);
  const std::string cText(raw.substr(0, raw.find('\0')));
  Require(AtolOf(raw) == std::atol(cText.c_str()), "atol agrees with the C library");
  const double ours = StrtodOf(raw);
  const double reference = std::strtod(cText.c_str(), nullptr);
  Require(ours == reference || (ours != ours && reference != reference), "strtod agrees with the C library");
  (void)FormatLatitude(raw, raw.substr(0, 3));
  (void)FormatLongitude(raw, raw.substr(0, 3));
  (void)SpeedTextOf(raw, 'N');
  return 0;
}
