// Throughput of the sentence pipeline without a window, on a real 1 Hz MT3339 capture
// (tests/data/sample_gpsdata_usbttl_1.txt, 5812 sentences, fed in 4 KiB reads):
//   CutVerifySplitRoute  cutting, checksum, field split and dispatch decision only;
//   WholePipeline        the session with every parser and the chart data step;
//   ChartRebuild63       the chart data step for a full table of 63 satellites.
// Rates are reported as items_per_second = sentences (or rebuilds) per second.
//
// Thread rule: single-threaded; each benchmark owns its cutter and session.
#include <benchmark/benchmark.h>

#include <array>
#include <fstream>
#include <sstream>
#include <string>

#include "commands/nmea_session.h"

namespace {

const std::string& Stream() {
  static const std::string data = [] {
    std::ifstream in(std::string(TORVIKEL_TEST_DATA) + "/sample_gpsdata_usbttl_1.txt", std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    return all.str();
  }();
  return data;
}

constexpr std::size_t kReadSize = 4096;

template <typename Sink>
void FeedAll(SentenceCutter& cutter, const std::string& stream, Sink&& sink) {
  for (std::size_t i = 0; i < stream.size(); i += kReadSize) {
    cutter.feed(stream.data() + i, std::min(kReadSize, stream.size() - i), sink);
  }
}

void CutVerifySplitRoute(benchmark::State& st) {
  const std::string& stream = Stream();
  if (stream.empty()) {
    st.SkipWithError("capture not found");
    return;
  }
  SentenceCutter cutter;
  SentenceFields fields;
  std::array<std::int64_t, 16> perRoute{};
  std::int64_t sentences = 0;
  for (auto _ : st) {
    FeedAll(cutter, stream, [&](std::string_view s) {
      ++sentences;
      if (!VerifyChecksum(s)) return;
      SplitFields(s, fields);
      ++perRoute[static_cast<std::size_t>(RouteOf(fields[0]))];
    });
    benchmark::DoNotOptimize(perRoute.data());
    benchmark::ClobberMemory();
  }
  st.SetItemsProcessed(sentences);
}
BENCHMARK(CutVerifySplitRoute)->Unit(benchmark::kMillisecond);

void WholePipeline(benchmark::State& st) {
  const std::string& stream = Stream();
  if (stream.empty()) {
    st.SkipWithError("capture not found");
    return;
  }
  SentenceCutter cutter;
  NmeaSession session;
  session.clock = [] { return std::time_t{1576334941}; };  // 2019-12-14, the capture's day
  std::int64_t sentences = 0;
  std::size_t charted = 0;
  for (auto _ : st) {
    FeedAll(cutter, stream, [&](std::string_view s) {
      ++sentences;
      if (session.handle(s).gsvCycleComplete) charted += TakeChartSatellites(session.state).size();
    });
    benchmark::DoNotOptimize(charted);
    benchmark::DoNotOptimize(session.state.satInfo.timeText.data());
  }
  st.SetItemsProcessed(sentences);
  st.counters["satellites_charted"] = static_cast<double>(charted);
}
BENCHMARK(WholePipeline)->Unit(benchmark::kMillisecond);

void ChartRebuild63(benchmark::State& st) {
  ReceiverState full;
  for (int prn = 1; prn < kSatSlots; ++prn) {
    const std::size_t k = static_cast<std::size_t>(prn);
    full.satInfo.satPrn[k] = std::to_string(prn);
    full.satInfo.satElevation[k] = std::to_string(prn % 90);
    full.satInfo.satAzimuth[k] = std::to_string((prn * 37) % 360);
    full.satInfo.satSnr[k] = std::to_string(20 + prn % 30);
  }
  for (std::size_t i = 0; i < 12; ++i) full.satInfo.usedPrn[i] = std::to_string(i * 5 + 1);
  full.gsvCycleComplete = true;
  ReceiverState state;
  std::uint32_t colours = 0;
  for (auto _ : st) {
    st.PauseTiming();
    state = full;
    st.ResumeTiming();
    for (const ChartSatellite& sat : TakeChartSatellites(state)) colours ^= sat.color;
    benchmark::DoNotOptimize(colours);
  }
  st.SetItemsProcessed(static_cast<std::int64_t>(st.iterations()));
}
BENCHMARK(ChartRebuild63)->Unit(benchmark::kMicrosecond);

}  // namespace
