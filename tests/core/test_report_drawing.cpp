// The report's drawings: the scatter SVG and the page are well-formed for a real XML parser
// (xmllint), the circles say the same metres as the statistics, a log name of any bytes
// cannot break out of its text, a million fixes still give a drawing of bounded size, and a
// survey with nothing (or one fix) gives a page that says so in words.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "report/report_drawing.h"
#include "report/report_numbers.h"
#include "report/survey.h"
#include "tests/support/files.h"

namespace {

using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

struct Run {
  int status = -1;
  std::string out;
  std::string err;
};

// xmllint with the arguments on the file; every path is in the test's own directory.
Run Xmllint(const TempDir& dir, const std::string& arguments, const std::string& file) {
  const std::string out = dir.file("xmllint.out");
  const std::string err = dir.file("xmllint.err");
  const std::string command = "xmllint " + arguments + " '" + file + "' > '" + out + "' 2> '" + err + "'";
  const int raw = std::system(command.c_str());
  Run run;
  run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  run.out = ReadFile(out);
  run.err = ReadFile(err);
  return run;
}

// The value of an XPath expression (without double quotes in it) over the file.
std::string Xpath(const TempDir& dir, const std::string& file, const std::string& expression,
                  const std::string& parser = "") {
  const Run run = Xmllint(dir, parser + " --xpath \"" + expression + "\"", file);
  EXPECT_EQ(run.status, 0) << expression << "\n" << run.err;
  // A number comes with a line feed, a string without.
  std::string value = run.out;
  if (!value.empty() && value.back() == '\n') value.pop_back();
  return value;
}

// The well-formedness of a document as XML: xmllint's status and what it said.
::testing::AssertionResult WellFormedXml(const TempDir& dir, const std::string& name, const std::string& bytes) {
  const std::string file = dir.file(name);
  WriteFile(file, bytes);
  const Run run = Xmllint(dir, "--noout", file);
  if (run.status == 0 && run.err.empty()) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << name << ": xmllint status " << run.status << "\n" << run.err.substr(0, 2000);
}

// The HTML parser of libxml2 knows HTML 4 only and says so of every newer element ("Tag
// section invalid"); anything else it reports is a fault of the page.
::testing::AssertionResult CleanHtml(const TempDir& dir, const std::string& bytes) {
  const std::string file = dir.file("page-as-html.html");
  WriteFile(file, bytes);
  const Run run = Xmllint(dir, "--html --noout", file);
  if (run.status != 0)
    return ::testing::AssertionFailure() << "xmllint --html status " << run.status << "\n" << run.err;
  std::size_t at = 0;
  while ((at = run.err.find("parser error : ", at)) != std::string::npos) {
    at += 15;
    const std::string message = run.err.substr(at, run.err.find('\n', at) - at);
    if (message.rfind("Tag ", 0) != 0 || message.find(" invalid") == std::string::npos)
      return ::testing::AssertionFailure() << "xmllint --html: " << message;
  }
  return ::testing::AssertionSuccess();
}

// Every <svg> element of the page, as written.
std::vector<std::string> InlineSvgs(const std::string& page) {
  std::vector<std::string> out;
  std::size_t at = 0;
  while ((at = page.find("<svg", at)) != std::string::npos) {
    const std::size_t end = page.find("</svg>", at);
    if (end == std::string::npos) {
      out.push_back(page.substr(at));
      break;
    }
    out.push_back(page.substr(at, end + 6 - at));
    at = end + 6;
  }
  return out;
}

// Statistics of the points as the survey defines them, computed here on their own.
ScatterStatistics StatisticsOf(const std::vector<ScatterPoint>& points) {
  ScatterStatistics s;
  double east = 0, north = 0;
  for (const ScatterPoint& p : points) {
    if (p.kind == FixKind::None) continue;
    ++s.fixes;
    east += p.east;
    north += p.north;
  }
  s.meanEast = east / s.fixes;
  s.meanNorth = north / s.fixes;
  std::vector<double> distances;
  double squares = 0, squaresEast = 0, squaresNorth = 0;
  for (const ScatterPoint& p : points) {
    if (p.kind == FixKind::None) continue;
    const double e = p.east - s.meanEast, n = p.north - s.meanNorth;
    distances.push_back(std::hypot(e, n));
    squares += e * e + n * n;
    squaresEast += e * e;
    squaresNorth += n * n;
  }
  std::sort(distances.begin(), distances.end());
  s.cep50 = distances[distances.size() / 2];
  s.cep95 = distances[distances.size() * 95 / 100];
  s.drms2 = 2 * std::sqrt(squares / distances.size());
  s.maxDistance = distances.back();
  s.sigmaEast = std::sqrt(squaresEast / distances.size());
  s.sigmaNorth = std::sqrt(squaresNorth / distances.size());
  s.meanLatitude = 59.91273;
  s.meanLongitude = 10.74609;
  return s;
}

// Gaussian: a receiver at rest. Uniform: fixes spread evenly over a square. FillsThePlot: the
// same, with statistics that make the plot's edge the square's, so that marks of every kind
// occupy nearly every cell of the plot: the most a scatter can have to draw.
enum class Spread { Gaussian, Uniform, FillsThePlot };

// A survey of `fixes` fixes of every kind, spread as asked about a point off the origin, with
// columns and strips of a receiver that sees 40 satellites of three systems.
Survey MakeSurvey(std::size_t fixes, Spread spread, std::uint32_t seed, std::size_t columns = 600,
                  std::size_t satellites = 40) {
  std::mt19937 random(seed);
  std::normal_distribution<double> gaussian(0, 2);
  const double side = spread == Spread::FillsThePlot ? 57 : 30;
  std::uniform_real_distribution<double> uniform(-side, side);
  std::uniform_int_distribution<int> kind(0, 9);
  Survey survey;
  survey.points.reserve(fixes);
  for (std::size_t i = 0; i < fixes; ++i) {
    ScatterPoint point;
    const bool even = spread != Spread::Gaussian;
    point.east = static_cast<float>(12 + (even ? uniform(random) : gaussian(random)));
    point.north = static_cast<float>(-7 + (even ? uniform(random) : gaussian(random) * 1.5));
    const int k = kind(random);
    point.kind = k == 0 ? FixKind::Fix2D : k == 1 ? FixKind::DGPS : FixKind::Fix3D;
    survey.points.push_back(point);
    ++survey.fixesByKind[IndexOf(point.kind)];
  }
  if (fixes >= 2) survey.statistics = StatisticsOf(survey.points);
  if (spread == Spread::FillsThePlot && survey.statistics) {
    survey.statistics->cep50 = 30;
    survey.statistics->cep95 = survey.statistics->drms2 = 40;
  }
  for (std::size_t i = 0; i < std::min<std::size_t>(fixes / 10, kMaxNoFixPositions); ++i) {
    NoFixPosition position;
    position.east = static_cast<float>(uniform(random) + 12 - survey.statistics->meanEast);
    position.north = static_cast<float>(uniform(random) - 7 - survey.statistics->meanNorth);
    survey.noFixPositions.push_back(position);
  }
  survey.epochs = fixes + survey.noFixPositions.size();
  survey.fixesByKind[IndexOf(FixKind::None)] = survey.noFixPositions.size();
  survey.duration = static_cast<double>(survey.epochs);
  survey.typicalStep = 1;
  survey.firstUtc = "2026-12-01 10:00:00 UTC";
  survey.lastUtc = "2026-12-01 11:00:00 UTC";
  survey.columnWidth = std::max(1.0, survey.duration / static_cast<double>(columns));
  std::uniform_real_distribution<float> snr(5, 52);
  for (std::size_t k = 0; k < columns; ++k) {
    SeriesColumn column;
    column.epochs = column.fixes = column.altitudes = column.pdops = column.hdops = column.vdops = 2;
    column.skyEpochs = 2;
    const double altitude = 100 + 5 * std::sin(static_cast<double>(k) / 30);
    column.altitudeSum = 2 * altitude;
    column.altitudeMin = static_cast<float>(altitude - 1);
    column.altitudeMax = static_cast<float>(altitude + 1);
    column.pdopSum = 3.6, column.hdopSum = 2.0, column.vdopSum = 3.0;
    column.inViewSum = 24, column.usedSum = 16;
    column.inViewMax = 12, column.usedMax = 8;
    if (k % 97 == 5) column.altitudes = 0;  // a break in the line
    survey.columns.push_back(column);
  }
  for (std::size_t s = 0; s < satellites; ++s) {
    SatelliteStrip strip;
    strip.system = s < 20 ? GnssSystem::GPS : s < 32 ? GnssSystem::GLONASS : GnssSystem::Galileo;
    strip.number = static_cast<long>(s < 20 ? s + 1 : s < 32 ? 65 + (s - 20) : s - 31);
    for (std::size_t k = 0; k < columns; ++k) {
      SignalCell cell;
      cell.reports = 2;
      cell.signals = (k + s) % 7 == 0 ? 0 : 2;
      cell.snrSum = cell.signals * snr(random);
      cell.used = (k * 3 + s) % 5 == 0 ? 0 : 2;
      strip.cells.push_back(cell);
    }
    survey.strips.push_back(strip);
  }
  survey.starts.push_back({0, "first sentence", 31.0, 33.0});
  survey.starts.push_back({900, "restart ($PMTK010,001)", std::nullopt, std::nullopt});
  survey.gaps.push_back({120, 7.5, "10:02:00"});
  survey.gapCount = 1;
  survey.gapTotal = 7.5;
  survey.notes.push_back("Time went back by 1.0 s at 10:30:00 & the log <went on> \"as if\" 'nothing' happened.");
  return survey;
}

Survey OneFix() {
  Survey survey;
  survey.epochs = 1;
  survey.points.push_back({3.5f, -2.0f, FixKind::Fix3D});
  survey.fixesByKind[IndexOf(FixKind::Fix3D)] = 1;
  survey.firstUtc = survey.lastUtc = "10:00:00";
  return survey;
}

// How many marks the paths of a kind's class draw, in whatever layers: each mark starts with a
// move.
std::size_t MarksOfClass(const std::string& svg, const std::string& cssClass) {
  std::size_t marks = 0;
  const std::string attribute = "class=\"" + cssClass;
  for (std::size_t at = svg.find(attribute); at != std::string::npos; at = svg.find(attribute, at + 1)) {
    const char after = svg[at + attribute.size()];
    if (after != '"' && after != ' ') continue;
    const std::size_t d = svg.find(" d=\"", at);
    const std::size_t end = svg.find('"', d + 4);
    marks += static_cast<std::size_t>(std::count(svg.begin() + d + 4, svg.begin() + end, 'M'));
  }
  return marks;
}

const ReportTitle kTitle{"capture.nmea", "torvikel-cli test"};

TEST(ReportDrawing, ScatterAndPageAreWellFormed) {
  struct Row {
    const char* name;
    Survey survey;
  };
  std::vector<Row> rows;
  rows.push_back({"nothing", Survey{}});
  rows.push_back({"one fix", OneFix()});
  rows.push_back({"gaussian", MakeSurvey(1000, Spread::Gaussian, 1)});
  rows.push_back({"uniform, few columns", MakeSurvey(300, Spread::Uniform, 2, 3, 5)});
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TempDir dir;
    ASSERT_FALSE(dir.path().empty());
    const std::string svg = ScatterSvg(row.survey);
    EXPECT_TRUE(WellFormedXml(dir, "scatter.svg", svg));
    EXPECT_EQ(Xpath(dir, dir.file("scatter.svg"), "namespace-uri(/*)"), "http://www.w3.org/2000/svg");
    const std::string page = ReportHtml(row.survey, kTitle);
    EXPECT_TRUE(WellFormedXml(dir, "page.xhtml", page));
    EXPECT_TRUE(CleanHtml(dir, page));
    // Each inline drawing is a document of its own once declared.
    const std::vector<std::string> svgs = InlineSvgs(page);
    for (std::size_t i = 0; i < svgs.size(); ++i)
      EXPECT_TRUE(WellFormedXml(dir, "inline-" + std::to_string(i) + ".svg",
                                "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n" + svgs[i]));
    // Nothing runs and nothing is fetched: no script, no address but the namespaces' names.
    std::string bare = page;
    for (const char* name : {"xmlns=\"http://www.w3.org/1999/xhtml\"", "xmlns=\"http://www.w3.org/2000/svg\""}) {
      for (std::size_t at; (at = bare.find(name)) != std::string::npos;) bare.erase(at, std::string(name).size());
    }
    std::string lower = bare;
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
    for (const char* banned : {"<script", "://", "url(", "@import", "href", "src=", "<link", "<img", "<iframe"})
      EXPECT_EQ(lower.find(banned), std::string::npos) << banned;
  }
}

TEST(ReportDrawing, CirclesCarryTheStatisticsMetres) {
  struct Row {
    const char* name;
    double cep50, cep95, drms2;
  };
  const std::vector<Row> rows{
      {"metres", 1.2344, 2.8886, 3.1005},
      {"millimetres", 0.0004, 0.0016, 0.0021},
      {"kilometres", 1234.5678, 2345.0, 2600.25},
      {"no spread", 0, 0, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TempDir dir;
    Survey survey = MakeSurvey(200, Spread::Gaussian, 3);
    survey.statistics->cep50 = row.cep50;
    survey.statistics->cep95 = row.cep95;
    survey.statistics->drms2 = row.drms2;
    const std::string page = ReportHtml(survey, kTitle);
    std::string inlineScatter;
    for (const std::string& svg : InlineSvgs(page))
      if (svg.find("class=\"cep50\"") != std::string::npos) inlineScatter = svg;
    ASSERT_FALSE(inlineScatter.empty());
    const std::vector<std::pair<std::string, std::string>> documents{
        {"scatter.svg", ScatterSvg(survey)},
        {"inline.svg", "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n" + inlineScatter}};
    for (const auto& [name, bytes] : documents) {
      SCOPED_TRACE(name);
      WriteFile(dir.file(name), bytes);
      const std::vector<std::pair<std::string, double>> circles{
          {"cep50", row.cep50}, {"cep95", row.cep95}, {"drms2", row.drms2}};
      std::vector<double> radii;
      for (const auto& [cssClass, metres] : circles) {
        const std::string circle = "//*[local-name()='circle'][@class='" + cssClass + "']";
        EXPECT_EQ(Xpath(dir, dir.file(name), "count(" + circle + ")"), "1");
        EXPECT_EQ(Xpath(dir, dir.file(name), "string(" + circle + "/@data-metres)"), MetresText(metres));
        radii.push_back(std::stod(Xpath(dir, dir.file(name), "string(" + circle + "/@r)")));
      }
      // One scale for all three: the radii keep the statistics' proportions.
      if (row.cep50 > 0) {
        EXPECT_NEAR(radii[1] / radii[0], row.cep95 / row.cep50, 0.01 * row.cep95 / row.cep50);
        EXPECT_NEAR(radii[2] / radii[0], row.drms2 / row.cep50, 0.01 * row.drms2 / row.cep50);
      }
    }
  }
}

TEST(ReportDrawing, LogNameCannotBreakOut) {
  struct Row {
    std::string name;
    bool wellFormedText;  // valid UTF-8 without control characters: the title shows it as it is
  };
  const std::vector<Row> rows{
      {"</title><script>alert(\"x\")</script>.nmea", true},
      {"a & b 'c' \"d\" <e> &amp; &#60;", true},
      {"]]><!-- --><?php ?>\xC3\xA6\xC3\xB8\xC3\xA5 \xE2\x82\xAC.log", true},
      {"bytes \xFF\xFE\xC3 and \x01\x1B[31m controls\x7F", false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TempDir dir;
    const std::string page = ReportHtml(MakeSurvey(50, Spread::Gaussian, 4), {row.name, "torvikel-cli <test>"});
    ASSERT_TRUE(WellFormedXml(dir, "page.xhtml", page));
    EXPECT_TRUE(CleanHtml(dir, page));
    const std::string title = Xpath(dir, dir.file("page.xhtml"), "string(//*[local-name()='title'])");
    const std::string heading = Xpath(dir, dir.file("page.xhtml"), "string(//*[local-name()='h1'])");
    if (row.wellFormedText) {
      EXPECT_EQ(title, "Fix report: " + row.name);
    } else {
      EXPECT_NE(title.find(" and "), std::string::npos) << title;
      EXPECT_NE(title.find(" controls"), std::string::npos) << title;
    }
    EXPECT_EQ(heading, title);
    // The HTML parser, as a browser would, finds no element but the page's own.
    EXPECT_EQ(Xpath(dir, dir.file("page-as-html.html"), "count(//script)", "--html"), "0");
  }
}

TEST(ReportDrawing, WildFixesAreCountedBeyondTheEdge) {
  // A cloud of metres with a few fixes hundreds of metres away: the plot stops at a few times
  // the larger of CEP95 and 2DRMS, says how many it left out and how far the farthest was.
  for (const std::size_t wild : {std::size_t{1}, std::size_t{5}}) {
    SCOPED_TRACE(wild);
    Survey survey = MakeSurvey(1000, Spread::Gaussian, 6);
    for (std::size_t i = 0; i < wild; ++i) {
      const double angle = 2 * 3.14159265358979 * static_cast<double>(i) / static_cast<double>(wild);
      const double distance = 400 + 10 * static_cast<double>(i);
      survey.points.push_back({static_cast<float>(12 + distance * std::cos(angle)),
                               static_cast<float>(-7 + distance * std::sin(angle)), FixKind::Fix3D});
    }
    survey.statistics = StatisticsOf(survey.points);
    double farthest = 0;
    for (const ScatterPoint& p : survey.points)
      farthest =
          std::max(farthest, std::hypot(p.east - survey.statistics->meanEast, p.north - survey.statistics->meanNorth));
    const std::string svg = ScatterSvg(survey);
    const std::string counted = std::to_string(wild) + (wild == 1 ? " fix" : " fixes") + " beyond the edge";
    EXPECT_NE(svg.find(counted), std::string::npos) << counted;
    EXPECT_NE(svg.find(MetresText(farthest) + " m"), std::string::npos) << MetresText(farthest);
    // The cloud itself is drawn, not squeezed into a dot: its thousand fixes take many cells.
    EXPECT_GT(MarksOfClass(svg, "marks-3d"), 20u);
  }
}

TEST(ReportDrawing, MillionFixesGiveABoundedDrawing) {
  struct Row {
    const char* name;
    Spread spread;
  };
  const std::vector<Row> rows{
      {"gaussian", Spread::Gaussian}, {"uniform", Spread::Uniform}, {"filling the plot", Spread::FillsThePlot}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TempDir dir;
    const Survey survey = MakeSurvey(1000000, row.spread, 5, kMaxColumns, 100);
    const std::string svg = ScatterSvg(survey);
    EXPECT_LT(svg.size(), 2000000u);
    EXPECT_TRUE(WellFormedXml(dir, "scatter.svg", svg));
    // Bounded by merging marks, not by leaving them out: every kind is drawn, the 3D cloud in
    // many marks.
    EXPECT_GT(MarksOfClass(svg, "marks-3d"), 1000u);
    for (const char* cssClass : {"marks-2d", "marks-dgps", "marks-none"}) EXPECT_GT(MarksOfClass(svg, cssClass), 0u);
    // The page, with a hundred strips of all the columns there can be, stays bounded too.
    const std::string page = ReportHtml(survey, kTitle);
    EXPECT_LT(page.size(), 4000000u);
    EXPECT_TRUE(WellFormedXml(dir, "page.xhtml", page));
  }
}

TEST(ReportDrawing, NothingToDrawIsSaidInWords) {
  struct Row {
    const char* name;
    Survey survey;
    std::size_t scatterMarks;  // 0: no scatter drawing at all
  };
  std::vector<Row> rows;
  rows.push_back({"nothing", Survey{}, 0});
  rows.push_back({"one fix", OneFix(), 1});
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TempDir dir;
    const std::string page = ReportHtml(row.survey, kTitle);
    ASSERT_TRUE(WellFormedXml(dir, "page.xhtml", page));
    const std::string file = dir.file("page.xhtml");
    const auto section = [](const std::string& id) { return "//*[local-name()='section'][@id='" + id + "']"; };
    // The time series have nothing: no frame, a sentence.
    for (const char* id : {"altitude", "signals", "satellites", "dops"}) {
      SCOPED_TRACE(id);
      EXPECT_EQ(Xpath(dir, file, "count(" + section(id) + "//*[local-name()='svg'])"), "0");
      const std::string sentence = Xpath(dir, file, "normalize-space(" + section(id) + "/*[local-name()='p'])");
      EXPECT_GT(sentence.size(), 10u) << sentence;
    }
    // Neither has statistics: no circle anywhere, and the scatter section says why in words.
    EXPECT_EQ(page.find("<circle"), std::string::npos);
    const std::string said = Xpath(dir, file, "normalize-space(" + section("scatter") + "/*[local-name()='p'])");
    EXPECT_GT(said.size(), 10u) << said;
    const std::string svg = ScatterSvg(row.survey);
    EXPECT_EQ(svg.find("<circle"), std::string::npos);
    EXPECT_EQ(MarksOfClass(svg, "marks-3d"), row.scatterMarks);
    if (row.scatterMarks == 0) {
      EXPECT_EQ(Xpath(dir, file, "count(//*[local-name()='svg'])"), "0");
      // The file asked for still says it, in a text of its own.
      ASSERT_TRUE(WellFormedXml(dir, "scatter.svg", svg));
      EXPECT_GT(Xpath(dir, dir.file("scatter.svg"), "normalize-space(//*[local-name()='text'])").size(), 10u);
    } else {
      EXPECT_EQ(Xpath(dir, file, "count(" + section("scatter") + "//*[local-name()='svg'])"), "1");
    }
  }
}

}  // namespace
