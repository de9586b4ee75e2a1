// The position scatter: every fix as a mark around the mean position, metres east and north on
// equal scales, the CEP50, CEP95 and 2DRMS circles about the mean. See report_charts.h.
//
// A log of a day holds tens of thousands of fixes, a long one millions; marks of one kind that
// fall into the same cell of the plot's pixel grid are drawn once, so the drawing has a bound
// of its own whatever the count. Where one wild fix would shrink the cloud to a dot, the plot
// stops at a few times the 95 % circle and says how many fixes lie beyond.
//
// Thread rule: pure.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "report/report_charts.h"
#include "report/report_markup.h"
#include "report/report_numbers.h"

namespace {

// Geometry of the drawing [px].
constexpr int kPlot = 600;  // the square plot
constexpr int kLeft = 72;
constexpr int kTop = 20;
constexpr int kLegendLeft = kLeft + kPlot + 28;
constexpr int kWidth = 960;
// The finest grid marks are merged on [px], and how many marks the drawing may hold before
// the grid coarsens: about 25 bytes a mark keeps the scatter near a megabyte at most.
constexpr int kFineCell = 2;
constexpr int kFineCells = kPlot / kFineCell;
constexpr std::size_t kMarkBudget = 40000;

struct KindStyle {
  const char* name;
  const char* colour;
  const char* cssClass;
};
// Okabe-Ito colours, told apart with the common colour-vision deficiencies; the shapes differ too.
constexpr std::array<KindStyle, kFixKindCount> kKinds{{
    {"no fix", "#707070", "marks-none"},
    {"2D fix", "#E69F00", "marks-2d"},
    {"3D fix", "#0072B2", "marks-3d"},
    {"DGPS fix", "#009E73", "marks-dgps"},
}};

std::string Int(long long value) { return std::to_string(value); }

// One mark's path data, centred on (x, y); `size` 1 is the mark of a few fixes, larger when the
// grid has coarsened so that the marks of neighbouring cells still touch.
void AppendMark(std::string& d, FixKind kind, double x, double y, double size) {
  const std::string s3 = Coord(3 * size), s6 = Coord(6 * size);
  switch (kind) {
    case FixKind::None:  // a cross
      d += "M" + Coord(x - 3 * size) + " " + Coord(y - 3 * size) + "l" + s6 + " " + s6 + "m0-" + s6 + "l-" + s6 + " " +
           s6;
      break;
    case FixKind::Fix2D:  // a triangle, point up
      d += "M" + Coord(x) + " " + Coord(y - 4 * size) + "l" + Coord(4 * size) + " " + Coord(6.5 * size) + "h-" +
           Coord(8 * size) + "z";
      break;
    case FixKind::Fix3D:  // a dot: a round cap on a segment of no length
    case FixKind::DGPS:   // a square: the same with a square cap
      d += "M" + Coord(x) + " " + Coord(y) + "h0";
      break;
  }
}

// The <path> element that draws marks of a kind with the given path data. The plot's own carry
// the kind's class (and the layer's, if any); the legend's samples none.
std::string MarkPath(FixKind kind, const std::string& d, const char* layer, double size, bool inPlot = true) {
  const KindStyle& style = kKinds[IndexOf(kind)];
  std::string out = "<path";
  if (inPlot) {
    out += std::string(" class=\"") + style.cssClass;
    if (layer[0] != '\0') out += std::string(" ") + layer;
    out += "\"";
  }
  out += " d=\"" + d + "\"";
  switch (kind) {
    case FixKind::None:
      out += " fill=\"none\" stroke=\"" + std::string(style.colour) + "\" stroke-width=\"" + Coord(1.4 * size) + "\"";
      break;
    case FixKind::Fix2D:
      out += " fill=\"" + std::string(style.colour) + "\" stroke=\"none\" fill-opacity=\"0.85\"";
      break;
    case FixKind::Fix3D:
      out += " fill=\"none\" stroke=\"" + std::string(style.colour) + "\" stroke-width=\"" + Coord(5 * size) +
             "\" stroke-linecap=\"round\" stroke-opacity=\"0.75\"";
      break;
    case FixKind::DGPS:
      out += " fill=\"none\" stroke=\"" + std::string(style.colour) + "\" stroke-width=\"" + Coord(6 * size) +
             "\" stroke-linecap=\"square\" stroke-opacity=\"0.8\"";
      break;
  }
  // Beneath another kind's marks only the edges show: paler, so that they tint the cloud no more
  // than they make of it.
  if (inPlot && layer[0] != '\0') out += " opacity=\"0.45\"";
  out += "/>";
  return out;
}

std::string Text(double x, double y, const std::string& escaped, const std::string& attributes = "") {
  std::string out = "<text x=\"" + Coord(x) + "\" y=\"" + Coord(y) + "\"";
  if (!attributes.empty()) out += " " + attributes;
  return out + ">" + escaped + "</text>";
}

std::string Plural(std::uint64_t count, const char* one, const char* many) {
  return std::to_string(count) + " " + (count == 1 ? one : many);
}

struct Circle {
  const char* cssClass;
  const char* name;
  double metres;
  const char* stroke;
  const char* dash;  // empty: solid
  double angle;      // [deg] where the label sits, counter-clockwise from east
};

// The plot's cells with the count of each kind's fixes in them; merged into coarser cells when
// there would be too many marks.
using KindCounts = std::array<std::uint32_t, kFixKindCount>;
class MarkGrid {
 public:
  MarkGrid() : counts_(static_cast<std::size_t>(kFineCells) * kFineCells, KindCounts{}) {}
  void Add(int column, int row, FixKind kind) {
    std::uint32_t& count = counts_[static_cast<std::size_t>(row) * kFineCells + column][IndexOf(kind)];
    if (count < UINT32_MAX) ++count;
  }
  // The counts of the block of `factor` x `factor` fine cells at coarse (column, row).
  KindCounts Block(int column, int row, int factor) const {
    KindCounts out{};
    for (int r = row * factor; r < std::min(kFineCells, (row + 1) * factor); ++r) {
      for (int c = column * factor; c < std::min(kFineCells, (column + 1) * factor); ++c) {
        const KindCounts& cell = counts_[static_cast<std::size_t>(r) * kFineCells + c];
        for (std::size_t k = 0; k < kFixKindCount; ++k)
          out[k] = cell[k] > UINT32_MAX - out[k] ? UINT32_MAX : out[k] + cell[k];
      }
    }
    return out;
  }
  std::size_t MarksAt(int factor) const {
    std::size_t marks = 0;
    const int cells = (kFineCells + factor - 1) / factor;
    for (int r = 0; r < cells; ++r)
      for (int c = 0; c < cells; ++c)
        for (const std::uint32_t count : Block(c, r, factor)) marks += count != 0 ? 1 : 0;
    return marks;
  }

 private:
  std::vector<KindCounts> counts_;
};

// A sentence for the scatter section when there is no scatter at all.
std::string NothingToScatter(const Survey& survey) {
  std::string sentence = "No fix in this log: nothing to scatter.";
  if (survey.epochs == 0) sentence = "No epochs in this log: no fix, nothing to scatter.";
  const std::uint64_t withoutFix = survey.noFixPositions.size() + survey.noFixPositionsDropped;
  if (survey.epochs != 0 && withoutFix != 0)
    sentence = "No fix in this log: nothing to scatter (the receiver gave " +
               Plural(withoutFix, "position", "positions") + " without a fix, which have no mean to be placed around).";
  return sentence;
}

}  // namespace

Drawing ScatterDrawing(const Survey& survey, bool remarkInside) {
  Drawing drawing;
  const ScatterStatistics* statistics = survey.statistics ? &*survey.statistics : nullptr;

  // The centre: the mean, or with a single fix that fix.
  std::size_t fixCount = 0;
  double sumEast = 0, sumNorth = 0;
  for (const ScatterPoint& point : survey.points) {
    if (point.kind == FixKind::None || !std::isfinite(point.east) || !std::isfinite(point.north)) continue;
    ++fixCount;
    sumEast += point.east;
    sumNorth += point.north;
  }
  if (fixCount == 0) {
    drawing.remark = NothingToScatter(survey);
    return drawing;
  }
  double centreEast = sumEast / static_cast<double>(fixCount);
  double centreNorth = sumNorth / static_cast<double>(fixCount);
  if (statistics != nullptr) {
    centreEast = statistics->meanEast;
    centreNorth = statistics->meanNorth;
  }

  // The extent: the circles with a margin at least, the farthest fix if it is not too far.
  double reach = 0;  // the largest |east| or |north| of a fix from the centre
  for (const ScatterPoint& point : survey.points) {
    if (point.kind == FixKind::None || !std::isfinite(point.east) || !std::isfinite(point.north)) continue;
    reach = std::max({reach, std::abs(point.east - centreEast), std::abs(point.north - centreNorth)});
  }
  double base = 0;
  if (statistics != nullptr) base = std::max(statistics->cep95, statistics->drms2);
  if (!(base > 0) || !std::isfinite(base)) base = std::max(reach, 1.0);
  if (statistics == nullptr && fixCount == 1) base = 4;  // a lone fix: a plot of about ten metres
  const double half0 = std::clamp(reach * 1.05, base * 1.2, base * 3);
  const double step = NiceStep(2 * half0, 8);
  const double half = std::ceil(half0 / step - 1e-9) * step;
  const double scale = (kPlot / 2.0) / half;  // [px/m]
  const double originX = kLeft + kPlot / 2.0;
  const double originY = kTop + kPlot / 2.0;

  // The marks, on the pixel grid; what falls outside is counted.
  MarkGrid grid;
  std::uint64_t fixesBeyond = 0, otherBeyond = 0;
  double farthestBeyond = 0;
  const auto place = [&](double east, double north, FixKind kind) {
    if (!std::isfinite(east) || !std::isfinite(north)) return;
    const double u = (east / half + 1) * (kPlot / 2.0);
    const double v = (1 - north / half) * (kPlot / 2.0);
    if (u < 0 || u >= kPlot || v < 0 || v >= kPlot) {
      if (kind == FixKind::None) {
        ++otherBeyond;
      } else {
        ++fixesBeyond;
        farthestBeyond = std::max(farthestBeyond, std::hypot(east, north));
      }
      return;
    }
    grid.Add(static_cast<int>(u) / kFineCell, static_cast<int>(v) / kFineCell, kind);
  };
  for (const ScatterPoint& point : survey.points) place(point.east - centreEast, point.north - centreNorth, point.kind);
  // Positions without a fix are kept relative to the mean: without a mean there is no place.
  const bool noFixPlaced = statistics != nullptr;
  if (noFixPlaced) {
    for (const NoFixPosition& position : survey.noFixPositions) place(position.east, position.north, FixKind::None);
  }
  int factor = 1;
  while (factor < kFineCells && grid.MarksAt(factor) > kMarkBudget) factor *= 2;
  const int cells = (kFineCells + factor - 1) / factor;
  const double cellPx = static_cast<double>(factor * kFineCell);
  const double markSize = std::max(1.0, (cellPx + 1) / 5);
  // Two layers per kind: in each cell the kind with the most fixes there goes on top, the others
  // beneath. A dense cloud then shows what it is mostly made of, and a fix of a rare kind
  // standing alone still shows.
  std::array<std::string, kFixKindCount> beneath, onTop;
  std::size_t drawn = 0;
  for (int r = 0; r < cells; ++r) {
    for (int c = 0; c < cells; ++c) {
      const KindCounts counts = grid.Block(c, r, factor);
      std::size_t top = kFixKindCount;
      for (std::size_t k = 0; k < kFixKindCount; ++k)
        if (counts[k] != 0 && (top == kFixKindCount || counts[k] > counts[top])) top = k;
      if (top == kFixKindCount) continue;
      // The middle of the cell's part inside the plot: the last cells of a row may be cut short.
      const double x = kLeft + (c * cellPx + std::min((c + 1) * cellPx, static_cast<double>(kPlot))) / 2;
      const double y = kTop + (r * cellPx + std::min((r + 1) * cellPx, static_cast<double>(kPlot))) / 2;
      for (std::size_t k = 0; k < kFixKindCount; ++k)
        if (counts[k] != 0) {
          AppendMark(k == top ? onTop[k] : beneath[k], static_cast<FixKind>(k), x, y, markSize);
          ++drawn;
        }
    }
  }

  // A cloud of this many marks hides what lies under it; fewer leave the circles legible as they are.
  const bool dense = drawn > 400;

  // Lines under the plot.
  std::vector<std::string> lines;
  if (fixesBeyond > 0)
    lines.push_back(Plural(fixesBeyond, "fix", "fixes") + " beyond the edge, the farthest " +
                    MetresText(farthestBeyond) + " m from the mean");
  if (otherBeyond > 0) lines.push_back(Plural(otherBeyond, "position", "positions") + " without a fix beyond the edge");
  if (!noFixPlaced && !survey.noFixPositions.empty())
    lines.push_back(Plural(survey.noFixPositions.size(), "position", "positions") +
                    " without a fix not drawn: no mean position to place them around");
  if (survey.noFixPositionsDropped > 0)
    lines.push_back(Plural(survey.noFixPositionsDropped, "more position", "more positions") +
                    " without a fix not kept by the survey");
  if (statistics == nullptr)
    drawing.remark = fixCount == 1 ? "One fix only: no spread to measure, no CEP circles; the plot is centred on it."
                                   : "No statistics for these fixes: the plot is centred on their mean, no circles.";
  if (remarkInside && !drawing.remark.empty()) lines.push_back(drawing.remark);

  const int axisBottom = kTop + kPlot;
  const int height = axisBottom + 52 + 18 * static_cast<int>(lines.size());
  std::string& svg = drawing.svg;
  svg.reserve(1 << 16);
  svg += "<svg xmlns=\"http://www.w3.org/2000/svg\" class=\"scatter\" width=\"" + Int(kWidth) + "\" height=\"" +
         Int(height) + "\" viewBox=\"0 0 " + Int(kWidth) + " " + Int(height) + "\" font-family=\"" + kFontStack +
         "\" font-size=\"12\" fill=\"#1f2328\">";
  svg += "<title>Position scatter about the mean, metres east and north</title>";
  svg += "<rect width=\"100%\" height=\"100%\" fill=\"#ffffff\"/>";

  // Grid, ticks and their labels.
  std::string minor, zero, labels;
  const long ticks = std::lround(half / step);
  for (long i = -ticks; i <= ticks; ++i) {
    const double metres = static_cast<double>(i) * step;
    const double x = originX + metres * scale;
    const double y = originY - metres * scale;
    std::string& target = i == 0 ? zero : minor;
    target += "M" + Coord(x) + " " + Int(kTop) + "V" + Int(axisBottom) + "M" + Int(kLeft) + " " + Coord(y) + "H" +
              Int(kLeft + kPlot);
    labels += Text(x, axisBottom + 16, TickText(metres, step), "text-anchor=\"middle\"");
    labels += Text(kLeft - 6, y + 4, TickText(metres, step), "text-anchor=\"end\"");
  }
  svg += "<path d=\"" + minor + "\" stroke=\"#e3e6ea\" stroke-width=\"1\" fill=\"none\"/>";
  svg += "<path d=\"" + zero + "\" stroke=\"#b8bec6\" stroke-width=\"1\" fill=\"none\"/>";
  svg += "<g fill=\"#57606a\">" + labels + "</g>";
  svg += Text(originX, axisBottom + 36, "metres east of the mean", "text-anchor=\"middle\" font-size=\"13\"");
  svg += Text(18, originY, "metres north of the mean",
              "text-anchor=\"middle\" font-size=\"13\" transform=\"rotate(-90 18 " + Coord(originY) + ")\"");

  // The mean, under the marks: the zero lines cross there too, and a cloud on it stays visible.
  // A lone fix is the centre itself, and needs no cross to hide it.
  if (fixCount > 1) {
    svg += "<path d=\"M" + Coord(originX - 6) + " " + Coord(originY) + "h12M" + Coord(originX) + " " +
           Coord(originY - 6) + "v12\" stroke=\"#1f2328\" stroke-width=\"1.5\"/>";
  }

  // The marks: every kind's layer beneath, then every kind's on top. A dense cloud goes under the
  // circles, a few marks over them, so that none hides under a line.
  std::string markPaths;
  for (std::size_t k = 0; k < kFixKindCount; ++k)
    if (!beneath[k].empty()) markPaths += MarkPath(static_cast<FixKind>(k), beneath[k], "beneath", markSize);
  for (std::size_t k = 0; k < kFixKindCount; ++k)
    if (!onTop[k].empty()) markPaths += MarkPath(static_cast<FixKind>(k), onTop[k], "", markSize);
  if (dense) svg += markPaths;

  // The circles about the mean, labelled each in its own quarter so that close radii stay legible.
  std::vector<Circle> circles;
  if (statistics != nullptr) {
    circles = {{"cep50", "CEP50", statistics->cep50, "#1f2328", "", 45},
               {"cep95", "CEP95", statistics->cep95, "#1f2328", "7 4", 135},
               {"drms2", "2DRMS", statistics->drms2, "#CC3311", "2 3", -45}};
  }
  for (const Circle& circle : circles) {
    const double r = std::isfinite(circle.metres) && circle.metres > 0 ? circle.metres * scale : 0;
    // A pale ring under each circle keeps it legible over a dense cloud; over a few marks it
    // would hide those that lie on it.
    if (dense) {
      svg += "<circle cx=\"" + Coord(originX) + "\" cy=\"" + Coord(originY) + "\" r=\"" + Coord(r, 2) +
             "\" fill=\"none\" stroke=\"#ffffff\" stroke-width=\"4\" stroke-opacity=\"0.7\"/>";
    }
    svg += "<circle class=\"" + std::string(circle.cssClass) + "\" data-metres=\"" + MetresText(circle.metres) +
           "\" cx=\"" + Coord(originX) + "\" cy=\"" + Coord(originY) + "\" r=\"" + Coord(r, 2) +
           "\" fill=\"none\" stroke=\"" + circle.stroke + "\" stroke-width=\"1.8\"";
    if (circle.dash[0] != '\0') svg += " stroke-dasharray=\"" + std::string(circle.dash) + "\"";
    svg += "/>";
  }
  if (!dense) svg += markPaths;
  for (const Circle& circle : circles) {
    const double r = std::isfinite(circle.metres) && circle.metres > 0 ? circle.metres * scale : 0;
    // A circle of a few pixels has its name in the legend only: on the plot the three would pile up.
    if (r < 12) continue;
    const double angle = circle.angle * 3.14159265358979323846 / 180;
    const double x = originX + (r + 4) * std::cos(angle);
    const double y = originY - (r + 4) * std::sin(angle);
    const bool left = std::cos(angle) < 0;
    const bool below = std::sin(angle) < 0;
    svg += Text(
        x, below ? y + 12 : y, std::string(circle.name) + " " + MetresText(circle.metres) + " m",
        std::string("text-anchor=\"") + (left ? "end" : "start") + "\" font-size=\"12\" fill=\"" + circle.stroke +
            "\"" +
            (dense ? " stroke=\"#ffffff\" stroke-width=\"3\" stroke-linejoin=\"round\" paint-order=\"stroke\"" : ""));
  }
  svg += "<rect x=\"" + Int(kLeft) + "\" y=\"" + Int(kTop) + "\" width=\"" + Int(kPlot) + "\" height=\"" + Int(kPlot) +
         "\" fill=\"none\" stroke=\"#8c959f\"/>";

  // The legend: the kinds with their counts, the circles, the mean.
  double y = kTop + 14;
  svg += Text(kLegendLeft, y, "Epochs by fix", "font-weight=\"bold\" font-size=\"13\"");
  y += 22;
  for (const FixKind kind : {FixKind::Fix3D, FixKind::Fix2D, FixKind::DGPS, FixKind::None}) {
    std::string d;
    AppendMark(d, kind, kLegendLeft + 8, y - 4, 1);
    svg += MarkPath(kind, d, "", 1, false);
    svg += Text(kLegendLeft + 22, y, kKinds[IndexOf(kind)].name, "font-size=\"13\"");
    svg += Text(kWidth - 16, y, std::to_string(survey.fixesByKind[IndexOf(kind)]),
                "text-anchor=\"end\" font-size=\"13\" font-variant-numeric=\"tabular-nums\"");
    y += 20;
  }
  if (!circles.empty()) {
    y += 14;
    svg += Text(kLegendLeft, y, "About the mean", "font-weight=\"bold\" font-size=\"13\"");
    y += 22;
    for (const Circle& circle : circles) {
      svg += "<path d=\"M" + Int(kLegendLeft) + " " + Coord(y - 4) + "h16\" stroke=\"" + circle.stroke +
             "\" stroke-width=\"1.6\"";
      if (circle.dash[0] != '\0') svg += " stroke-dasharray=\"" + std::string(circle.dash) + "\"";
      svg += "/>";
      svg += Text(kLegendLeft + 22, y, circle.name, "font-size=\"13\"");
      svg += Text(kWidth - 16, y, MetresText(circle.metres) + " m", "text-anchor=\"end\" font-size=\"13\"");
      y += 20;
    }
    svg += Text(kLegendLeft, y + 4, "within CEP50: half the fixes; CEP95: 95 %", "font-size=\"11\" fill=\"#57606a\"");
    y += 28;
    svg += Text(kLegendLeft, y, "Mean position", "font-weight=\"bold\" font-size=\"13\"");
    y += 22;
    const std::array<std::pair<const char*, std::string>, 5> rows{{
        {"latitude", DegreesText(statistics->meanLatitude) + "\xC2\xB0"},
        {"longitude", DegreesText(statistics->meanLongitude) + "\xC2\xB0"},
        {"altitude", MetresText(statistics->meanAltitude) + " m"},
        {"\xCF\x83 east", MetresText(statistics->sigmaEast) + " m"},
        {"\xCF\x83 north", MetresText(statistics->sigmaNorth) + " m"},
    }};
    for (const auto& [name, value] : rows) {
      svg += Text(kLegendLeft, y, name, "font-size=\"13\"");
      svg += Text(kWidth - 16, y, value, "text-anchor=\"end\" font-size=\"13\"");
      y += 20;
    }
  }
  if (factor > 1 || survey.points.size() > kMarkBudget) {
    svg += Text(kLegendLeft, std::max(y + 8, static_cast<double>(axisBottom - 8)),
                "one mark per " + Int(factor * kFineCell) + " px cell and kind", "font-size=\"11\" fill=\"#57606a\"");
  }

  // The lines under the plot.
  double lineY = axisBottom + 58;
  for (const std::string& line : lines) {
    svg += Text(kLeft, lineY, MarkupText(line), "font-size=\"13\"");
    lineY += 18;
  }
  svg += "</svg>";
  return drawing;
}
