#include "report/report_json.h"

#include <cmath>

#include "link/json_text.h"
#include "report/report_numbers.h"

namespace {

// A JSON object written member by member, with the commas and the indent kept here.
class Writer {
 public:
  explicit Writer(std::string& out) : out_(out) {}
  void open(std::string_view name, char bracket) {
    member(name);
    out_ += bracket;
    ++depth_;
    first_ = true;
  }
  void close(char bracket) {
    --depth_;
    if (!first_) {
      out_ += '\n';
      indent();
    }
    out_ += bracket;
    first_ = false;
  }
  void raw(std::string_view name, std::string_view value) {
    member(name);
    out_ += value;
  }
  void text(std::string_view name, std::string_view value) { raw(name, JsonQuoted(value)); }
  void count(std::string_view name, std::uint64_t value) { raw(name, std::to_string(value)); }
  void flag(std::string_view name, bool value) { raw(name, value ? "true" : "false"); }
  // A figure already written by one of the report's number texts; null when not finite.
  void figure(std::string_view name, double value, std::string (*written)(double)) {
    raw(name, std::isfinite(value) ? written(value) : "null");
  }
  void maybe(std::string_view name, const std::optional<double>& value, std::string (*written)(double)) {
    if (value) {
      figure(name, *value, written);
    } else {
      raw(name, "null");
    }
  }

 private:
  // An empty name: an element of an array.
  void member(std::string_view name) {
    if (!first_) out_ += ',';
    first_ = false;
    if (depth_ > 0) {
      out_ += '\n';
      indent();
    }
    if (!name.empty()) {
      out_ += JsonQuoted(name);
      out_ += ": ";
    }
  }
  void indent() { out_.append(static_cast<std::size_t>(2 * depth_), ' '); }

  std::string& out_;
  int depth_ = 0;
  bool first_ = true;
};

std::string_view KindName(std::size_t k) {
  static constexpr std::string_view kNames[kFixKindCount] = {"none", "2d", "3d", "dgps"};
  return kNames[k];
}

}  // namespace

std::string ReportJson(const Survey& s, std::string_view logName) {
  std::string out;
  Writer w(out);
  w.open("", '{');
  w.text("log", logName);

  const SentenceCounts& c = s.sentences;
  w.open("sentences", '{');
  w.count("bytes", c.bytes);
  w.count("valid", c.valid);
  w.count("bad_checksum", c.badChecksum);
  w.count("no_checksum", c.noChecksum);
  w.flag("last_line_cut", c.lastLineCut);
  w.count("gga", c.gga);
  w.count("rmc", c.rmc);
  w.count("gsa", c.gsa);
  w.count("gsv", c.gsv);
  w.count("other", c.other);
  w.close('}');

  w.open("time", '{');
  w.text("first_utc", s.firstUtc);
  w.text("last_utc", s.lastUtc);
  w.figure("duration_s", s.duration, SecondsFigure);
  w.figure("typical_step_s", s.typicalStep, TwoDecimals);
  w.count("epochs", s.epochs);
  w.close('}');

  w.open("fixes", '{');
  w.count("total", s.points.size());
  for (std::size_t k = 0; k < kFixKindCount; ++k) w.count(KindName(k), s.fixesByKind[k]);
  w.close('}');

  if (s.statistics) {
    const ScatterStatistics& st = *s.statistics;
    w.open("statistics", '{');
    w.count("fixes", st.fixes);
    w.figure("mean_latitude", st.meanLatitude, DegreesText);
    w.figure("mean_longitude", st.meanLongitude, DegreesText);
    w.figure("mean_altitude_m", st.meanAltitude, MetresText);
    w.figure("mean_height_m", st.meanHeight, MetresText);
    w.figure("sigma_east_m", st.sigmaEast, MetresText);
    w.figure("sigma_north_m", st.sigmaNorth, MetresText);
    w.figure("sigma_altitude_m", st.sigmaAltitude, MetresText);
    w.figure("cep50_m", st.cep50, MetresText);
    w.figure("cep95_m", st.cep95, MetresText);
    w.figure("drms2_m", st.drms2, MetresText);
    w.figure("farthest_m", st.maxDistance, MetresText);
    w.close('}');
  } else {
    w.raw("statistics", "null");
  }

  w.open("starts", '[');
  for (const StartToFix& start : s.starts) {
    w.open("", '{');
    w.text("cause", start.cause);
    w.figure("elapsed_s", start.elapsed, SecondsFigure);
    w.maybe("to_2d_s", start.to2D, SecondsFigure);
    w.maybe("to_3d_s", start.to3D, SecondsFigure);
    w.close('}');
  }
  w.close(']');

  w.open("gaps", '{');
  w.count("count", s.gapCount);
  w.figure("total_s", s.gapTotal, SecondsFigure);
  w.open("listed", '[');
  for (const LogGap& gap : s.gaps) {
    w.open("", '{');
    w.figure("elapsed_s", gap.elapsed, SecondsFigure);
    w.figure("length_s", gap.length, SecondsFigure);
    w.text("utc_before", gap.utcBefore);
    w.close('}');
  }
  w.close(']');
  w.close('}');

  w.open("satellites", '[');
  for (const SatelliteStrip& strip : s.strips) {
    std::uint64_t reports = 0, signals = 0, used = 0;
    double snr = 0;
    for (const SignalCell& cell : strip.cells) {
      reports += cell.reports;
      signals += cell.signals;
      used += cell.used;
      snr += cell.snrSum;
    }
    w.open("", '{');
    w.text("system", GnssSystemName(strip.system));
    w.count("number", static_cast<std::uint64_t>(strip.number));
    w.count("epochs_in_view", reports);
    w.count("epochs_used", used);
    if (signals > 0) {
      w.figure("mean_snr_dbhz", snr / static_cast<double>(signals), TwoDecimals);
    } else {
      w.raw("mean_snr_dbhz", "null");
    }
    w.close('}');
  }
  w.close(']');

  w.open("notes", '[');
  for (const std::string& note : s.notes) w.text("", note);
  w.close(']');
  w.close('}');
  out += '\n';
  return out;
}
