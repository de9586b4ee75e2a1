// The scatter as an SVG file and the whole report as one HTML page; see report_drawing.h.
//
// The page is written so that it is also well-formed XML (void elements closed, character
// references only, the SVG with its namespace): a mail client or an archive that treats it as
// XHTML shows the same page, and a plain XML parser can check it.
//
// Thread rule: pure.
#include "report/report_drawing.h"

#include <array>
#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include "report/report_charts.h"
#include "report/report_markup.h"
#include "report/report_numbers.h"

namespace {

constexpr const char* kXmlDeclaration = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";

std::string Count(std::uint64_t value) { return std::to_string(value); }

std::string Seconds(double seconds) { return SecondsFigure(seconds) + " s"; }
std::string Metres(double metres) { return MetresText(metres) + " m"; }

// One sentence instead of a drawing or a table.
std::string Absent(const std::string& sentence) { return "<p class=\"absent\">" + MarkupText(sentence) + "</p>\n"; }

std::string Section(const char* id, const char* heading, const std::string& body) {
  return std::string("<section id=\"") + id + "\">\n<h2>" + heading + "</h2>\n" + body + "</section>\n";
}

// A drawing, or the sentence that says why there is none; a remark on a drawing goes under it.
std::string DrawingBody(const Drawing& drawing) {
  if (drawing.svg.empty()) return Absent(drawing.remark.empty() ? "Nothing to draw." : drawing.remark);
  std::string out = "<div class=\"figure\">" + drawing.svg + "</div>\n";
  if (!drawing.remark.empty()) out += "<p class=\"remark\">" + MarkupText(drawing.remark) + "</p>\n";
  return out;
}

constexpr const char* kStyle = R"css(
*{box-sizing:border-box}
body{margin:0;background:#f6f8fa;color:#1f2328;font:15px/1.45 system-ui,-apple-system,'Segoe UI',Roboto,'Noto Sans','Liberation Sans','DejaVu Sans',Arial,sans-serif}
main{width:1180px;margin:0 auto;padding:24px 20px 40px;background:#ffffff}
h1{font-size:26px;margin:0 0 4px;font-weight:600;overflow-wrap:anywhere}
h2{font-size:19px;margin:28px 0 10px;padding-bottom:4px;border-bottom:1px solid #d0d7de;font-weight:600}
.subtitle{margin:0 0 16px;color:#57606a}
.notes{margin:12px 0 8px;padding:10px 16px 10px 14px;background:#fff8e5;border-left:5px solid #d4a72c;border-radius:4px}
.notes h2{margin:0 0 4px;border:0;padding:0;font-size:16px}
.notes ul{margin:0;padding-left:20px}
.notes li{margin:2px 0}
.absent{margin:6px 0;padding:8px 12px;background:#f6f8fa;border:1px dashed #d0d7de;border-radius:4px;color:#57606a}
.remark{margin:4px 0;color:#57606a;font-size:14px}
.figure svg{display:block}
table{border-collapse:collapse;font-variant-numeric:tabular-nums;margin:4px 0}
th,td{padding:4px 12px;border-bottom:1px solid #e3e6ea;text-align:left;vertical-align:top}
thead th{border-bottom:2px solid #d0d7de;font-weight:600}
td.n{text-align:right}
table.summary th{font-weight:normal;color:#57606a;width:320px;white-space:nowrap}
footer{margin-top:32px;color:#8c959f;font-size:13px}
)css";

std::string Notes(const Survey& survey) {
  std::string out = "<section class=\"notes\" id=\"notes\">\n<h2>Notes</h2>\n";
  if (survey.notes.empty()) {
    out += survey.epochs == 0 ? "<p>No epochs in this log: nothing to report.</p>\n"
                              : "<p>Nothing unusual in this log.</p>\n";
  } else {
    out += "<ul>\n";
    for (const std::string& note : survey.notes) out += "<li>" + MarkupText(note) + "</li>\n";
    out += "</ul>\n";
  }
  return out + "</section>\n";
}

std::string Subtitle(const Survey& survey) {
  if (survey.epochs == 0 && survey.firstUtc.empty()) return "No epochs in this log.";
  std::string out;
  if (!survey.firstUtc.empty() || !survey.lastUtc.empty()) {
    out += (survey.firstUtc.empty() ? std::string("unknown") : survey.firstUtc) + " to " +
           (survey.lastUtc.empty() ? std::string("unknown") : survey.lastUtc) + ", ";
  } else {
    out += "No time of day in this log, ";
  }
  out += DurationText(survey.duration) + " (" + Count(survey.epochs) + (survey.epochs == 1 ? " epoch)" : " epochs)");
  return out;
}

std::string StartsTable(const Survey& survey) {
  if (survey.starts.empty()) return Absent("No epochs: no time to first fix.");
  std::string out =
      "<table class=\"starts\">\n<thead><tr><th>Start</th><th>At</th><th>To a 2D fix</th><th>To a 3D fix</th>"
      "</tr></thead>\n<tbody>\n";
  for (const StartToFix& start : survey.starts) {
    out += "<tr><td>" + MarkupText(start.cause) + "</td><td class=\"n\">" + Seconds(start.elapsed) + " (" +
           ClockText(start.elapsed) + ")</td>";
    out += "<td class=\"n\">" + (start.to2D ? Seconds(*start.to2D) : std::string("no fix after it")) + "</td>";
    out += "<td class=\"n\">" + (start.to3D ? Seconds(*start.to3D) : std::string("no 3D fix after it")) + "</td>";
    out += "</tr>\n";
  }
  return out + "</tbody>\n</table>\n";
}

std::string GapsTable(const Survey& survey) {
  if (survey.gapCount == 0 && survey.gaps.empty()) return "<p>No gaps.</p>\n";
  std::string out = "<p>" + Count(survey.gapCount) + (survey.gapCount == 1 ? " gap, " : " gaps, ") +
                    SecondsFigure(survey.gapTotal) + " s in all";
  if (survey.typicalStep > 0) out += " (the receiver's step is " + Seconds(survey.typicalStep) + ")";
  if (survey.gapCount > survey.gaps.size()) out += "; the first " + Count(survey.gaps.size()) + " listed";
  out += ".</p>\n";
  if (survey.gaps.empty()) return out;
  out +=
      "<table class=\"gaps\">\n<thead><tr><th>Last epoch before (UTC)</th><th>At</th><th>Length</th></tr></thead>\n"
      "<tbody>\n";
  for (const LogGap& gap : survey.gaps) {
    out += "<tr><td>" + (gap.utcBefore.empty() ? std::string("unknown") : MarkupText(gap.utcBefore)) +
           "</td><td class=\"n\">" + Seconds(gap.elapsed) + " (" + ClockText(gap.elapsed) + ")</td><td class=\"n\">" +
           Seconds(gap.length) + "</td></tr>\n";
  }
  return out + "</tbody>\n</table>\n";
}

std::string SummaryTable(const Survey& survey) {
  std::vector<std::pair<std::string, std::string>> rows;
  const auto orUnknown = [](const std::string& text) { return text.empty() ? std::string("unknown") : text; };
  const SentenceCounts& s = survey.sentences;
  rows.emplace_back("Duration", DurationText(survey.duration));
  rows.emplace_back("First epoch (UTC)", orUnknown(survey.firstUtc));
  rows.emplace_back("Last epoch (UTC)", orUnknown(survey.lastUtc));
  rows.emplace_back("Typical step", survey.typicalStep > 0 ? Seconds(survey.typicalStep) : "unknown");
  rows.emplace_back("Bytes", Count(s.bytes));
  rows.emplace_back("Valid sentences", Count(s.valid));
  rows.emplace_back("By kind", "GGA " + Count(s.gga) + ", RMC " + Count(s.rmc) + ", GSA " + Count(s.gsa) + ", GSV " +
                                   Count(s.gsv) + ", other " + Count(s.other));
  rows.emplace_back("Bad checksums (skipped)", Count(s.badChecksum));
  rows.emplace_back("Without checksum (skipped)", Count(s.noChecksum));
  rows.emplace_back("Last line cut short", s.lastLineCut ? "yes" : "no");
  rows.emplace_back("Epochs", Count(survey.epochs));
  rows.emplace_back("3D fixes", Count(survey.fixesByKind[IndexOf(FixKind::Fix3D)]));
  rows.emplace_back("2D fixes", Count(survey.fixesByKind[IndexOf(FixKind::Fix2D)]));
  rows.emplace_back("DGPS fixes", Count(survey.fixesByKind[IndexOf(FixKind::DGPS)]));
  rows.emplace_back("Epochs without a fix", Count(survey.fixesByKind[IndexOf(FixKind::None)]));
  if (survey.statistics) {
    const ScatterStatistics& st = *survey.statistics;
    rows.emplace_back("Mean latitude", DegreesText(st.meanLatitude) + "\xC2\xB0");
    rows.emplace_back("Mean longitude", DegreesText(st.meanLongitude) + "\xC2\xB0");
    rows.emplace_back("Mean altitude (above sea level)", Metres(st.meanAltitude));
    rows.emplace_back("Mean height (above the ellipsoid)", Metres(st.meanHeight));
    rows.emplace_back("\xCF\x83 east", Metres(st.sigmaEast));
    rows.emplace_back("\xCF\x83 north", Metres(st.sigmaNorth));
    rows.emplace_back("\xCF\x83 altitude", Metres(st.sigmaAltitude));
    rows.emplace_back("CEP50", Metres(st.cep50));
    rows.emplace_back("CEP95", Metres(st.cep95));
    rows.emplace_back("2DRMS", Metres(st.drms2));
    rows.emplace_back("Farthest fix from the mean", Metres(st.maxDistance));
  } else {
    rows.emplace_back("Position statistics", "not computed: they need at least two fixes");
  }
  std::string out = "<table class=\"summary\">\n<tbody>\n";
  for (const auto& [name, value] : rows)
    out += "<tr><th>" + MarkupText(name) + "</th><td>" + MarkupText(value) + "</td></tr>\n";
  return out + "</tbody>\n</table>\n";
}

}  // namespace

std::string ScatterSvg(const Survey& survey) {
  Drawing drawing = ScatterDrawing(survey, true);
  if (drawing.svg.empty()) {
    // A file asked for is a file: the sentence stands where the scatter would.
    drawing.svg = std::string(
                      "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"600\" height=\"60\" viewBox=\"0 0 "
                      "600 60\" font-family=\"") +
                  kFontStack + "\" font-size=\"15\"><rect width=\"100%\" height=\"100%\" fill=\"#ffffff\"/>" +
                  "<text x=\"16\" y=\"36\" fill=\"#1f2328\">" + MarkupText(drawing.remark) + "</text></svg>";
  }
  return kXmlDeclaration + drawing.svg + "\n";
}

std::string ReportHtml(const Survey& survey, const ReportTitle& title) {
  const std::string name = MarkupText(title.logName.empty() ? std::string("(unnamed log)") : title.logName);
  std::string page;
  page.reserve(1 << 20);
  page += "<!DOCTYPE html>\n<html xmlns=\"http://www.w3.org/1999/xhtml\" lang=\"en\">\n<head>\n";
  page += "<meta charset=\"utf-8\"/>\n<meta name=\"viewport\" content=\"width=1220\"/>\n";
  page +=
      "<title>Fix report: " + name + "</title>\n<style>" + std::string(kStyle) + "</style>\n</head>\n<body>\n<main>\n";
  page += "<header>\n<h1>Fix report: " + name + "</h1>\n<p class=\"subtitle\">" + MarkupText(Subtitle(survey)) +
          "</p>\n</header>\n";
  page += Notes(survey);
  page += Section("scatter", "Position scatter", DrawingBody(ScatterDrawing(survey, false)));
  page += Section("altitude", "Altitude over time", DrawingBody(AltitudeDrawing(survey)));
  page += Section("signals", "Signal strength per satellite", DrawingBody(StripDrawing(survey)));
  page += Section("satellites", "Satellites in view and used", DrawingBody(SatelliteCountDrawing(survey)));
  page += Section("dops", "Dilution of precision", DrawingBody(DopDrawing(survey)));
  page += Section("starts", "Time to first fix", StartsTable(survey));
  page += Section("gaps", "Gaps in the log", GapsTable(survey));
  page += Section("summary", "Summary", SummaryTable(survey));
  page += "<footer>Made by " + MarkupText(title.maker.empty() ? std::string("torvikel") : title.maker) + " from " +
          name + ".</footer>\n";
  page += "</main>\n</body>\n</html>\n";
  return page;
}
