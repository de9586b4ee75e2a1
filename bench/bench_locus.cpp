// What the receiver's logbook costs the program: reading back a flash of a million records
// (16 MB, far beyond any receiver's, to see the rate), and a whole 64 KB dump's lines through
// the session and put together, beside the time the line takes to carry them at 115200 baud.
//   LocusReadMillionRecords   ReadLocusFlash over 3,969 sectors of basic records
//   LocusDump64k              686 PMTKLOX lines: session.handle and LocusDumpAssembly::take;
//                             counters: the line time of those bytes, and its share
//
// Thread rule: single-threaded.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "commands/command_framing.h"
#include "commands/locus.h"
#include "commands/nmea_session.h"

namespace {

// A flash of sectors of basic (0x1F) records, one every 15 s along a straight walk.
std::vector<std::uint8_t> BasicFlash(std::size_t records) {
  constexpr std::size_t kRecordBytes = 16;
  constexpr std::size_t kPerSector = (kLocusSectorBytes - kLocusHeaderBytes) / kRecordBytes;
  std::vector<std::uint8_t> flash;
  std::uint32_t utc = 1700000000;
  for (std::size_t done = 0, sector = 0; done < records; ++sector) {
    std::vector<std::uint8_t> s(kLocusSectorBytes, 0xFF);
    s[0] = static_cast<std::uint8_t>(sector & 0xFF);
    s[1] = static_cast<std::uint8_t>(sector >> 8);
    s[2] = 0;
    s[3] = 11;
    s[4] = 0x1F;
    s[5] = 0;
    s[8] = 15;
    s[9] = 0;
    std::uint8_t check = 0;
    for (std::size_t i = 0; i < kLocusHeaderBytes - 1; ++i) check ^= s[i];
    s[kLocusHeaderBytes - 1] = check;
    for (std::size_t k = 0; k < kPerSector && done < records; ++k, ++done) {
      std::uint8_t* r = s.data() + kLocusHeaderBytes + k * kRecordBytes;
      const float lat = 25.05f + static_cast<float>(done) * 1e-6f;
      const float lon = 121.5f;
      const std::int16_t height = 50;
      std::memcpy(r, &utc, 4);
      r[4] = 3;
      std::memcpy(r + 5, &lat, 4);
      std::memcpy(r + 9, &lon, 4);
      std::memcpy(r + 13, &height, 2);
      std::uint8_t x = 0;
      for (std::size_t i = 0; i < kRecordBytes - 1; ++i) x ^= r[i];
      r[kRecordBytes - 1] = x;
      utc += 15;
    }
    flash.insert(flash.end(), s.begin(), s.end());
  }
  return flash;
}

void LocusReadMillionRecords(benchmark::State& st) {
  const std::vector<std::uint8_t> flash = BasicFlash(1000000);
  std::size_t records = 0;
  for (auto _ : st) {
    const LocusFlashRead read = ReadLocusFlash(flash);
    records = read.records.size();
    benchmark::DoNotOptimize(read.records.data());
  }
  st.SetItemsProcessed(static_cast<std::int64_t>(st.iterations() * records));
  st.counters["records"] = static_cast<double>(records);
}
BENCHMARK(LocusReadMillionRecords)->Unit(benchmark::kMillisecond);

// The lines a receiver sends for a dump of its whole 64 KB flash.
std::vector<std::string> DumpLines(const std::vector<std::uint8_t>& flash) {
  std::vector<std::string> lines;
  const std::size_t lineBytes = 24 * 4;
  const std::size_t count = (flash.size() + lineBytes - 1) / lineBytes;
  lines.push_back(FrameCommand("$PMTKLOX,0," + std::to_string(count)));
  for (std::size_t n = 0; n < count; ++n) {
    std::string body = "$PMTKLOX,1," + std::to_string(n);
    for (std::size_t at = n * lineBytes; at < std::min(flash.size(), (n + 1) * lineBytes); at += 4) {
      char word[10];
      std::snprintf(word, sizeof word, ",%02X%02X%02X%02X", flash[at], flash[at + 1], flash[at + 2], flash[at + 3]);
      body += word;
    }
    lines.push_back(FrameCommand(body));
  }
  lines.push_back(FrameCommand("$PMTKLOX,2"));
  return lines;
}

void LocusDump64k(benchmark::State& st) {
  std::vector<std::uint8_t> flash = BasicFlash(16 * 252);
  flash.resize(65536, 0xFF);
  const std::vector<std::string> lines = DumpLines(flash);
  std::size_t lineBytes = 0;
  for (const std::string& l : lines) lineBytes += l.size();
  NmeaSession session;
  for (auto _ : st) {
    LocusDumpAssembly dump;
    for (const std::string& l : lines) {
      const SentenceOutcome o = session.handle(l);
      if (o.reply) {
        if (const auto* d = std::get_if<PmtkLocusData>(&*o.reply)) dump.take(*d);
      }
    }
    if (!dump.complete()) st.SkipWithError("the dump did not come together");
    benchmark::DoNotOptimize(dump.bytes().data());
  }
  const double lineTimeS = static_cast<double>(lineBytes) * 10.0 / 115200.0;  // 10 bits a byte
  st.counters["line_bytes"] = static_cast<double>(lineBytes);
  st.counters["line_time_s"] = lineTimeS;
  st.SetItemsProcessed(static_cast<std::int64_t>(st.iterations() * lines.size()));
}
BENCHMARK(LocusDump64k)->Unit(benchmark::kMillisecond);

}  // namespace
