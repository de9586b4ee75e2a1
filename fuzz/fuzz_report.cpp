// libFuzzer target for the fix report: arbitrary bytes as a sentence log, fed in chunks whose
// sizes the input's first byte chooses. The survey must hold together whatever the log holds
// (every epoch in exactly one column, the columns and strips bounded, a strip cell per column,
// the time axis never going back, every fix a point of the scatter, statistics only from two
// fixes on, with CEP50 <= CEP95 <= the farthest fix), and the JSON, the SVG and the page made of
// it are whole.
// Any broken invariant aborts, so the fuzzer reports it like a crash.
//
// Thread rule: single-threaded, as libFuzzer calls it.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "report/log_survey.h"
#include "report/report_drawing.h"
#include "report/report_json.h"

namespace {

void Require(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
  }
}

bool EndsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::size_t chunk = 1 + data[0] % 97;
  const char* bytes = reinterpret_cast<const char*>(data + 1);
  const std::size_t length = size - 1;
  LogSurvey survey;
  for (std::size_t at = 0; at < length; at += chunk) survey.feed(bytes + at, std::min(chunk, length - at));
  const Survey s = survey.finish();

  Require(s.sentences.bytes == length, "every byte counted");
  Require(s.columns.size() <= kMaxColumns, "columns bounded");
  std::uint64_t epochs = 0, fixes = 0;
  for (const SeriesColumn& c : s.columns) {
    epochs += c.epochs;
    fixes += c.fixes;
  }
  Require(epochs == s.epochs, "every epoch in one column");
  Require(fixes == s.epochs - s.fixesByKind[IndexOf(FixKind::None)], "every fix in its column");
  Require(s.points.size() <= fixes, "a point for a fix at most");
  for (const SatelliteStrip& strip : s.strips) Require(strip.cells.size() == s.columns.size(), "a cell per column");
  Require(s.duration >= 0 && std::isfinite(s.duration), "a time axis that runs forward");
  Require(s.columns.empty() || s.duration < s.columnWidth * static_cast<double>(s.columns.size()),
          "the last epoch in the last column");
  Require(s.statistics.has_value() == (s.points.size() >= 2), "statistics from two fixes");
  if (s.statistics) {
    const ScatterStatistics& st = *s.statistics;
    Require(st.cep50 <= st.cep95 && st.cep95 <= st.maxDistance + 1e-3, "CEP50 <= CEP95 <= farthest");
  }
  for (const StartToFix& start : s.starts) {
    Require(!start.to2D || *start.to2D >= 0, "a fix after its start");
    Require(!start.to3D || !start.to2D || *start.to3D >= *start.to2D, "3D no sooner than 2D");
  }

  Require(EndsWith(ReportJson(s, "fuzz"), "}\n"), "the JSON is whole");
  Require(EndsWith(ScatterSvg(s), "</svg>\n"), "the SVG is whole");
  Require(EndsWith(ReportHtml(s, {"fuzz <&>", "fuzz"}), "</html>\n"), "the page is whole");
  return 0;
}
