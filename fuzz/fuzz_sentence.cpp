// libFuzzer target for everything a hostile or broken receiver can reach: the cutter under
// arbitrary read sizes (derived from the input), the checksum test (checked against sscanf),
// the field split, the session with every parser, the chart data step, and the number
// readers (checked against atol and strtod).
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

  // Every parser on whatever the fields hold, checksum or not.
  ParseGGA(fields, scratch);
  ParseGLL(fields, scratch);
  ParseRMC(fields, scratch, 1326628800);
  ParseVTG(fields, scratch);
  ParseZDA(fields, scratch);
  ParseGSA(fields, scratch);
  ParseGSV(fields, scratch);
  (void)RouteOf(fields[0]);

  const SentenceOutcome o = session.handle(s);
  Require(o.valid == VerifyChecksum(s), "outcome validity");
  if (o.gsvCycleComplete) {
    for (const ChartSatellite& sat : TakeChartSatellites(session.state)) {
      Require(std::isfinite(sat.x) && std::isfinite(sat.y), "finite sky position");
      Require(std::fabs(sat.x) <= 100.0 + 1e-9 && std::fabs(sat.y) <= 100.0 + 1e-9, "inside the sky plot");
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
