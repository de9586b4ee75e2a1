// libFuzzer target for the receiver's logbook: arbitrary bytes read back as a flash (the
// counts add up to the record places, records come out in time order, and the GPX and CSV
// made of them hold a point or row for each and stay well formed), and arbitrary text as the
// lines of a dump through the session (the bytes put together are four per word taken, and a
// complete dump has every announced line).
// Any broken invariant aborts, so the fuzzer reports it like a crash.
//
// Thread rule: single-threaded, as libFuzzer calls it.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string>
#include <string_view>
#include <variant>

#include "commands/locus.h"
#include "commands/nmea_session.h"
#include "commands/track_files.h"

namespace {

void Require(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
  }
}

std::size_t Count(std::string_view text, std::string_view part) {
  std::size_t n = 0;
  for (std::size_t at = text.find(part); at != std::string_view::npos; at = text.find(part, at + part.size())) ++n;
  return n;
}

void Flash(std::span<const std::uint8_t> bytes) {
  const LocusFlashRead read = ReadLocusFlash(bytes);
  Require(read.sectors == (bytes.size() + 4095) / 4096, "a sector for every 4096 bytes begun");
  Require(read.unusedSectors + read.badHeaders + read.unknownContent <= read.sectors, "sectors skipped");
  for (std::size_t i = 1; i < read.records.size(); ++i) {
    const auto& a = read.records[i - 1].utcSec;
    const auto& b = read.records[i].utcSec;
    Require(!a || !b || *a <= *b, "records in time order");
  }
  const std::string gpx = LocusGpx(read, "fuzz");
  Require(Count(gpx, "<trkpt ") == LocusGpxPoints(read), "a GPX point for each record with a position");
  Require(Count(gpx, "<trkseg>") == Count(gpx, "</trkseg>"), "segments closed");
  Require(gpx.find('\0') == std::string::npos, "no NUL in GPX");
  const std::string csv = LocusCsv(read);
  Require(Count(csv, "\n") == read.records.size() + 1, "a CSV row for each record and the header");
}

void Dump(std::string_view text) {
  NmeaSession session;
  LocusDumpAssembly dump;
  std::size_t words = 0;
  for (std::size_t start = 0; start < text.size();) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    const std::string body(text.substr(start, end - start));
    start = end + 1;
    unsigned char sum = 0;
    for (const char c : body) sum ^= static_cast<unsigned char>(c);
    char tail[8];
    std::snprintf(tail, sizeof tail, "*%02X\r\n", sum);
    const SentenceOutcome outcome = session.handle("$" + body + tail);
    if (!outcome.valid || !outcome.reply) continue;
    const auto* line = std::get_if<PmtkLocusData>(&*outcome.reply);
    if (line == nullptr) continue;
    const bool spoiltBefore = dump.spoilt();
    const std::size_t bytesBefore = dump.bytes().size();
    if (dump.take(*line) && !spoiltBefore) words = dump.bytes().size() / 4;
    Require(dump.bytes().size() >= bytesBefore || dump.spoilt(), "bytes only grow");
  }
  Require(dump.bytes().size() % 4 == 0 || dump.spoilt(), "four bytes a word");
  Require(!dump.complete() || dump.receivedLines() == dump.announcedLines(), "a complete dump has every line");
  Require(!dump.complete() || words * 4 == dump.bytes().size(), "a complete dump's bytes are its words");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  // The first byte chooses: even, the rest is flash; odd, the rest is dump lines.
  const std::span<const std::uint8_t> rest(data + 1, size - 1);
  if ((data[0] & 1) == 0) {
    Flash(rest);
  } else {
    Dump(std::string_view(reinterpret_cast<const char*>(rest.data()), rest.size()));
  }
  return 0;
}
