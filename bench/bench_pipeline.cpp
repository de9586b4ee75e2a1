// Throughput of the sentence pipeline without a window, on a real 1 Hz MT3339 capture
// (tests/data/sample_gpsdata_usbttl_1.txt, 5812 sentences, fed in 4 KiB reads):
//   CutVerifySplitRoute  cutting, checksum, field split and dispatch decision only;
//   WholePipeline        the session with every parser and the chart data step;
//   ChartRebuild40       the chart data step for a four-system sky of 40 satellites.
// Rates are reported as items_per_second = sentences (or rebuilds) per second.
//
// Thread rule: single-threaded; each benchmark owns its cutter and session.
#include <benchmark/benchmark.h>

#include <array>
#include <fstream>
#include <sstream>
#include <string>

#include "commands/command_framing.h"
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

// A four-system sky of 40 satellites, ten per system, each system's cycle in three messages,
// and one GSA per system listing six of them.
ReceiverState FullSky() {
  NmeaSession session;
  const char* talkers[] = {"GP", "GL", "GA", "GB"};
  const int firstNumber[] = {1, 65, 1, 1};
  for (int t = 0; t < 4; ++t) {
    std::string gsa = std::string(talkers[t]) + "GSA,A,3";
    for (int i = 0; i < 12; ++i) gsa += i < 6 ? "," + std::to_string(firstNumber[t] + i) : ",";
    session.handle(FrameCommand("$" + gsa + ",1.5,0.9,1.2"));
  }
  for (int t = 0; t < 4; ++t) {
    for (int m = 0; m < 3; ++m) {
      std::string gsv = std::string(talkers[t]) + "GSV,3," + std::to_string(m + 1) + ",10";
      for (int k = m * 4; k < std::min(10, m * 4 + 4); ++k) {
        const int n = firstNumber[t] + k;
        gsv += "," + std::to_string(n) + "," + std::to_string(n % 90) + "," + std::to_string((n * 37) % 360) + "," +
               std::to_string(20 + n % 30);
      }
      session.handle(FrameCommand("$" + gsv));
    }
  }
  return session.state;
}

void ChartRebuild40(benchmark::State& st) {
  const ReceiverState full = FullSky();
  ReceiverState state = full;
  std::uint32_t colours = 0;
  for (auto _ : st) {
    state.gsvCycleComplete = true;
    for (const ChartSatellite& sat : TakeChartSatellites(state)) colours ^= sat.color;
    benchmark::DoNotOptimize(colours);
  }
  st.SetItemsProcessed(static_cast<std::int64_t>(st.iterations()));
  st.counters["satellites"] = static_cast<double>(TakeChartSatellites(state = full).size());
}
BENCHMARK(ChartRebuild40)->Unit(benchmark::kMicrosecond);

}  // namespace
