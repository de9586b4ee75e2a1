// What a fix report of a long log costs: a day at 10 Hz from a GPS and GLONASS receiver
// (864,000 epochs: GGA, RMC, VTG, GLL, two GSA each, GSV cycles of both systems once a second;
// 5.6 million sentences, 330 MB), surveyed from memory, then drawn and written as JSON.
//   ReportSurveyDay     LogSurvey over the whole day; counters: sentences/s, fixes, columns
//   ReportDrawDay       ReportHtml, ScatterSvg and ReportJson of that survey; counter: bytes
// The peak resident size of the process after the survey is a counter too (kB), so a survey
// that kept more than it says shows.
//
// Thread rule: single-threaded.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <cmath>
#include <cstdio>
#include <random>
#include <string>

#include "report/log_survey.h"
#include "report/report_drawing.h"
#include "report/report_json.h"

namespace {

std::string Framed(const char* body) {
  unsigned char sum = 0;
  for (const char* c = body; *c != '\0'; ++c) sum ^= static_cast<unsigned char>(*c);
  char tail[8];
  std::snprintf(tail, sizeof tail, "*%02X\r\n", sum);
  return std::string("$") + body + tail;
}

const std::string& DayAtTenHertz() {
  static const std::string log = [] {
    std::string out;
    out.reserve(420u << 20);
    std::mt19937 random(7);
    std::normal_distribution<double> metres(0.0, 2.0);
    char body[200], time[16];
    for (long i = 0; i < 864000; ++i) {
      const long s = i / 10;
      std::snprintf(time, sizeof time, "%02ld%02ld%02ld.%ld00", s / 3600, s / 60 % 60, s % 60, i % 10);
      const double north = 4048.6362 + metres(random) / 1852.0, west = 7418.5457 + metres(random) / 1405.0;
      std::snprintf(body, sizeof body, "GNGGA,%s,%.4f,N,%.4f,W,1,14,0.9,%.1f,M,-34.2,M,,", time, north, west,
                    179.5 + metres(random));
      out += Framed(body);
      out += Framed("GNGSA,A,3,21,24,15,13,20,10,,,,,,,1.71,0.90,0.96,1");
      out += Framed("GNGSA,A,3,65,71,72,,,,,,,,,,1.71,0.90,0.96,2");
      if (i % 10 == 0) {
        out += Framed("GPGSV,2,1,07,21,67,278,38,15,66,048,38,20,46,302,26,24,38,154,33");
        out += Framed("GPGSV,2,2,07,13,33,048,22,10,19,289,17,41,,,");
        out += Framed("GLGSV,1,1,04,65,40,083,41,71,17,308,36,72,07,344,,80,77,067,22");
      }
      std::snprintf(body, sizeof body, "GNRMC,%s,A,%.4f,N,%.4f,W,0.32,240.83,141219,,,A", time, north, west);
      out += Framed(body);
      out += Framed("GNVTG,240.83,T,,M,0.32,N,0.59,K,A");
      std::snprintf(body, sizeof body, "GNGLL,%.4f,N,%.4f,W,%s,A,A", north, west, time);
      out += Framed(body);
    }
    return out;
  }();
  return log;
}

long PeakKilobytes() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

void ReportSurveyDay(benchmark::State& state) {
  const std::string& log = DayAtTenHertz();
  const long before = PeakKilobytes();
  std::size_t fixes = 0, columns = 0;
  std::uint64_t sentences = 0;
  for (auto _ : state) {
    LogSurvey survey;
    // As the tool reads a file: a megabyte at a time.
    for (std::size_t at = 0; at < log.size(); at += 1 << 20)
      survey.feed(log.data() + at, std::min<std::size_t>(1 << 20, log.size() - at));
    const Survey s = survey.finish();
    fixes = s.points.size();
    columns = s.columns.size();
    sentences = s.sentences.valid;
    benchmark::DoNotOptimize(s.statistics);
  }
  state.counters["sentences/s"] =
      benchmark::Counter(static_cast<double>(sentences), benchmark::Counter::kIsIterationInvariantRate);
  state.counters["sentences"] = static_cast<double>(sentences);
  state.counters["fixes"] = static_cast<double>(fixes);
  state.counters["columns"] = static_cast<double>(columns);
  state.counters["peak_kB_log"] = static_cast<double>(before);
  state.counters["peak_kB_after"] = static_cast<double>(PeakKilobytes());
}
BENCHMARK(ReportSurveyDay)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(3)->ReportAggregatesOnly(false);

void ReportDrawDay(benchmark::State& state) {
  const Survey s = SurveyOfBytes(DayAtTenHertz());
  std::size_t bytes = 0;
  for (auto _ : state) {
    const std::string html = ReportHtml(s, {"day.nmea", "bench"});
    const std::string svg = ScatterSvg(s);
    const std::string json = ReportJson(s, "day.nmea");
    bytes = html.size() + svg.size() + json.size();
    benchmark::DoNotOptimize(bytes);
  }
  state.counters["bytes"] = static_cast<double>(bytes);
}
BENCHMARK(ReportDrawDay)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(3);

}  // namespace
