// The report's drawings over time, all on one time axis so that they line up on the page:
// altitude, a signal strip per satellite, satellites in view and used, DOPs. See
// report_charts.h.
//
// The survey holds at most kMaxColumns columns and the strips one cell per column; cells that
// fall on the same pixel pair merge and runs of equal cells become one bar, so the strips stay
// small however many satellites and columns there are.
//
// Thread rule: pure.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "report/report_charts.h"
#include "report/report_markup.h"
#include "report/report_numbers.h"

namespace {

constexpr double kNone = std::numeric_limits<double>::quiet_NaN();

// Geometry shared by every chart [px]: the same left edge and width, so one instant is at
// the same x in all of them.
constexpr int kWidth = 1120;
constexpr int kLeft = 86;
constexpr int kPlotWidth = 1008;
constexpr int kLegendHeight = 26;  // above the plot
constexpr int kAxisHeight = 40;    // below the plot: tick labels and the axis name

std::string Int(long long value) { return std::to_string(value); }

std::string Text(double x, double y, const std::string& escaped, const std::string& attributes = "") {
  std::string out = "<text x=\"" + Coord(x) + "\" y=\"" + Coord(y) + "\"";
  if (!attributes.empty()) out += " " + attributes;
  return out + ">" + escaped + "</text>";
}

std::string SvgOpen(int height, const char* title) {
  return "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + Int(kWidth) + "\" height=\"" + Int(height) +
         "\" viewBox=\"0 0 " + Int(kWidth) + " " + Int(height) + "\" font-family=\"" + kFontStack +
         "\" font-size=\"12\" fill=\"#1f2328\"><title>" + title + "</title>";
}

struct TimeAxis {
  double span = 1;  // [s] the columns' whole width
  double X(double seconds) const { return kLeft + seconds / span * kPlotWidth; }
};

TimeAxis AxisOf(const Survey& survey) {
  TimeAxis axis;
  const double span = static_cast<double>(survey.columns.size()) * survey.columnWidth;
  if (span > 0 && std::isfinite(span)) axis.span = span;
  return axis;
}

// Vertical grid lines at the clock ticks between top and bottom, their labels below.
std::string TimeGrid(const TimeAxis& axis, double top, double bottom) {
  const double step = ClockStep(axis.span, 10);
  std::string grid, labels;
  for (double t = 0; t <= axis.span + 1e-6; t += step) {
    const double x = axis.X(t);
    grid += "M" + Coord(x) + " " + Coord(top) + "V" + Coord(bottom);
    labels += Text(x, bottom + 15, ClockText(t), "text-anchor=\"middle\"");
  }
  std::string out = "<path d=\"" + grid + "\" stroke=\"#e3e6ea\" fill=\"none\"/>";
  out += "<g fill=\"#57606a\">" + labels + "</g>";
  out += Text(kLeft + kPlotWidth, bottom + 33, "time since the first epoch (h:mm:ss)",
              "text-anchor=\"end\" fill=\"#57606a\"");
  return out;
}

struct ValueAxis {
  double low = 0, high = 1, step = 1;
  double top = 0, bottom = 1;  // [px]
  double Y(double value) const { return bottom - (value - low) / (high - low) * (bottom - top); }
};

// An axis over [low, high] widened to whole steps, and to at least minSpan about its middle so
// that a value that does not change is a line in the middle, not ticks of millionths.
ValueAxis MakeValueAxis(double low, double high, double top, double bottom, double minSpan) {
  if (!(high - low >= minSpan)) {
    const double middle = (low + high) / 2;
    low = middle - minSpan / 2;
    high = middle + minSpan / 2;
  }
  ValueAxis axis;
  axis.step = NiceStep(high - low, 4);
  axis.low = std::floor(low / axis.step + 1e-9) * axis.step;
  axis.high = std::ceil(high / axis.step - 1e-9) * axis.step;
  if (!(axis.high > axis.low)) axis.high = axis.low + axis.step;
  axis.top = top;
  axis.bottom = bottom;
  return axis;
}

std::string ValueGrid(const ValueAxis& axis, const char* name) {
  std::string grid, labels;
  for (double v = axis.low; v <= axis.high + axis.step * 1e-6; v += axis.step) {
    const double y = axis.Y(v);
    grid += "M" + Int(kLeft) + " " + Coord(y) + "H" + Int(kLeft + kPlotWidth);
    labels += Text(kLeft - 6, y + 4, TickText(v, axis.step), "text-anchor=\"end\"");
  }
  std::string out = "<path d=\"" + grid + "\" stroke=\"#e3e6ea\" fill=\"none\"/>";
  out += "<g fill=\"#57606a\">" + labels + "</g>";
  const double middle = (axis.top + axis.bottom) / 2;
  out += Text(20, middle, name,
              "text-anchor=\"middle\" fill=\"#57606a\" transform=\"rotate(-90 20 " + Coord(middle) + ")\"");
  return out;
}

std::string Frame(double top, double bottom) {
  return "<rect x=\"" + Int(kLeft) + "\" y=\"" + Coord(top) + "\" width=\"" + Int(kPlotWidth) + "\" height=\"" +
         Coord(bottom - top) + "\" fill=\"none\" stroke=\"#8c959f\"/>";
}

// A line through the columns' centres; a column without a value breaks it, and a value alone
// between two breaks is a dash across its column (at least a few pixels, to be seen).
std::string SeriesPath(const TimeAxis& time, const ValueAxis& axis, const std::vector<double>& values,
                       double columnWidth) {
  std::string d;
  for (std::size_t k = 0; k < values.size(); ++k) {
    if (!std::isfinite(values[k])) continue;
    const bool first = k == 0 || !std::isfinite(values[k - 1]);
    const bool last = k + 1 == values.size() || !std::isfinite(values[k + 1]);
    const double x = time.X((static_cast<double>(k) + 0.5) * columnWidth);
    if (first && last) {
      const double half = std::max(3.0, (time.X(columnWidth) - time.X(0)) / 2);
      d += "M" + Coord(x - half) + " " + Coord(axis.Y(values[k])) + "h" + Coord(2 * half);
      continue;
    }
    d += (first ? "M" : "L") + Coord(x) + " " + Coord(axis.Y(values[k]));
  }
  return d;
}

struct Line {
  const char* name;
  const char* colour;
  const char* dash;
  std::vector<double> values;
};

std::string LinePath(const TimeAxis& time, const ValueAxis& axis, const Line& line, double columnWidth) {
  const std::string d = SeriesPath(time, axis, line.values, columnWidth);
  if (d.empty()) return "";
  std::string out = "<path d=\"" + d + "\" fill=\"none\" stroke=\"" + line.colour +
                    "\" stroke-width=\"1.8\" stroke-linejoin=\"round\" stroke-linecap=\"round\"";
  if (line.dash[0] != '\0') out += " stroke-dasharray=\"" + std::string(line.dash) + "\"";
  return out + "/>";
}

// The legend row above a plot: a line sample and a name per entry, from the right edge leftwards.
std::string LineLegend(const std::vector<std::pair<std::string, std::string>>& samplesAndNames) {
  std::string out;
  double x = kLeft;
  for (const auto& [sample, name] : samplesAndNames) {
    out += "<g transform=\"translate(" + Coord(x) + " 0)\">" + sample + "</g>";
    out += Text(x + 26, 16, name);
    x += 26 + 8.0 * static_cast<double>(name.size()) + 26;
  }
  return out;
}

std::string LineSample(const char* colour, const char* dash) {
  std::string out = std::string("<path d=\"M0 12h20\" stroke=\"") + colour + "\" stroke-width=\"2\"";
  if (dash[0] != '\0') out += " stroke-dasharray=\"" + std::string(dash) + "\"";
  return out + "/>";
}

// A chart of a few lines over time, all on one value axis from zero.
Drawing LinesChart(const Survey& survey, std::vector<Line> lines, const char* title, const char* axisName, double cap,
                   const std::string& capRemark) {
  Drawing drawing;
  const TimeAxis time = AxisOf(survey);
  double high = 0;
  for (const Line& line : lines)
    for (const double v : line.values)
      if (std::isfinite(v)) high = std::max(high, v);
  bool capped = false;
  if (high > cap) {
    high = cap;
    capped = true;
    for (Line& line : lines)
      for (double& v : line.values)
        if (std::isfinite(v)) v = std::min(v, cap);
  }
  constexpr double kPlotHeight = 150;
  const double top = kLegendHeight;
  const double bottom = top + kPlotHeight;
  // From zero, with a little room above the highest value so that it does not run along the frame.
  const ValueAxis axis = MakeValueAxis(0, std::max(high * 1.05, 1.0), top, bottom, 1);
  const int height = static_cast<int>(bottom) + kAxisHeight;
  std::string& svg = drawing.svg;
  svg = SvgOpen(height, title);
  svg += ValueGrid(axis, axisName) + TimeGrid(time, top, bottom);
  for (const Line& line : lines) svg += LinePath(time, axis, line, survey.columnWidth);
  svg += Frame(top, bottom);
  std::vector<std::pair<std::string, std::string>> legend;
  for (const Line& line : lines) legend.emplace_back(LineSample(line.colour, line.dash), line.name);
  svg += LineLegend(legend);
  if (capped) {
    svg += Text(kLeft + kPlotWidth, 16, MarkupText(capRemark), "text-anchor=\"end\" fill=\"#57606a\"");
  }
  svg += "</svg>";
  return drawing;
}

// Mean SNR colours, 5 dB-Hz each from 0 to 50: viridis, ordered in lightness so that it reads
// the same in grey and with the common colour-vision deficiencies.
constexpr std::array<const char*, 10> kSnrColours{"#440154", "#482878", "#3e4989", "#31688e", "#26828e",
                                                  "#1f9e89", "#35b779", "#6ece58", "#b5de2b", "#fde725"};
constexpr const char* kNoSignalColour = "#c9ced4";

std::string StripLabel(const SatelliteStrip& strip) {
  std::string number = std::to_string(strip.number);
  if (number.size() < 2) number = "0" + number;
  return std::string(GnssSystemLetter(strip.system)) + number;
}

}  // namespace

Drawing AltitudeDrawing(const Survey& survey) {
  Drawing drawing;
  double low = std::numeric_limits<double>::infinity();
  double high = -low;
  std::vector<double> means(survey.columns.size(), kNone);
  for (std::size_t k = 0; k < survey.columns.size(); ++k) {
    const SeriesColumn& column = survey.columns[k];
    if (column.altitudes == 0) continue;
    means[k] = column.altitudeSum / column.altitudes;
    if (std::isfinite(column.altitudeMin)) low = std::min(low, static_cast<double>(column.altitudeMin));
    if (std::isfinite(column.altitudeMax)) high = std::max(high, static_cast<double>(column.altitudeMax));
    if (std::isfinite(means[k])) {
      low = std::min(low, means[k]);
      high = std::max(high, means[k]);
    }
  }
  if (!std::isfinite(low) || !std::isfinite(high)) {
    drawing.remark = survey.epochs == 0 ? "No epochs: no altitude over time."
                                        : "No altitude in this log (no GGA with a fix): no altitude chart.";
    return drawing;
  }
  const TimeAxis time = AxisOf(survey);
  constexpr double kPlotHeight = 200;
  const double top = kLegendHeight;
  const double bottom = top + kPlotHeight;
  const ValueAxis axis = MakeValueAxis(low, high, top, bottom, 2);
  std::string& svg = drawing.svg;
  svg = SvgOpen(static_cast<int>(bottom) + kAxisHeight, "Altitude over time, mean and range per column");
  svg += ValueGrid(axis, "altitude [m]") + TimeGrid(time, top, bottom);

  // The band: a column's range over its whole width, runs of columns as one shape.
  std::string band;
  const std::vector<SeriesColumn>& columns = survey.columns;
  for (std::size_t k = 0; k < columns.size();) {
    if (columns[k].altitudes == 0) {
      ++k;
      continue;
    }
    std::size_t end = k;
    while (end < columns.size() && columns[end].altitudes != 0) ++end;
    std::string upper, lower;
    for (std::size_t j = k; j < end; ++j) {
      const double x0 = time.X(static_cast<double>(j) * survey.columnWidth);
      const double x1 = time.X(static_cast<double>(j + 1) * survey.columnWidth);
      const double yMax = axis.Y(columns[j].altitudeMax);
      upper += (j == k ? "M" : "L") + Coord(x0) + " " + Coord(yMax) + "L" + Coord(x1) + " " + Coord(yMax);
    }
    for (std::size_t j = end; j-- > k;) {
      const double x0 = time.X(static_cast<double>(j) * survey.columnWidth);
      const double x1 = time.X(static_cast<double>(j + 1) * survey.columnWidth);
      const double yMin = axis.Y(columns[j].altitudeMin);
      lower += "L" + Coord(x1) + " " + Coord(yMin) + "L" + Coord(x0) + " " + Coord(yMin);
    }
    band += upper + lower + "Z";
    k = end;
  }
  svg += "<path d=\"" + band + "\" fill=\"#56B4E9\" fill-opacity=\"0.35\" stroke=\"none\"/>";
  const Line mean{"mean per column", "#0072B2", "", means};
  svg += LinePath(time, axis, mean, survey.columnWidth);
  svg += Frame(top, bottom);
  svg += LineLegend({{LineSample(mean.colour, ""), mean.name},
                     {"<rect y=\"6\" width=\"20\" height=\"12\" fill=\"#56B4E9\" fill-opacity=\"0.35\"/>",
                      "lowest to highest in the column"}});
  svg += "</svg>";
  return drawing;
}

Drawing SatelliteCountDrawing(const Survey& survey) {
  std::vector<double> inView(survey.columns.size(), kNone), used(survey.columns.size(), kNone);
  bool any = false;
  for (std::size_t k = 0; k < survey.columns.size(); ++k) {
    const SeriesColumn& column = survey.columns[k];
    if (column.skyEpochs == 0) continue;
    any = true;
    inView[k] = column.inViewSum / column.skyEpochs;
    used[k] = column.usedSum / column.skyEpochs;
  }
  if (!any) {
    Drawing drawing;
    drawing.remark = survey.epochs == 0 ? "No epochs: no satellites over time."
                                        : "No GSV sentences: no satellites in view over time.";
    return drawing;
  }
  return LinesChart(survey,
                    {{"in view (mean per column)", "#E69F00", "", std::move(inView)},
                     {"used in the fix", "#0072B2", "", std::move(used)}},
                    "Satellites in view and used over time", "satellites", std::numeric_limits<double>::infinity(), "");
}

Drawing DopDrawing(const Survey& survey) {
  const std::size_t n = survey.columns.size();
  std::vector<double> pdop(n, kNone), hdop(n, kNone), vdop(n, kNone);
  bool any = false;
  for (std::size_t k = 0; k < n; ++k) {
    const SeriesColumn& column = survey.columns[k];
    if (column.pdops != 0) pdop[k] = column.pdopSum / column.pdops;
    if (column.hdops != 0) hdop[k] = column.hdopSum / column.hdops;
    if (column.vdops != 0) vdop[k] = column.vdopSum / column.vdops;
    any = any || column.pdops != 0 || column.hdops != 0 || column.vdops != 0;
  }
  if (!any) {
    Drawing drawing;
    drawing.remark = survey.epochs == 0 ? "No epochs: no DOPs." : "No GSA sentences: no DOPs.";
    return drawing;
  }
  // Without a fix receivers say 99.99: a scale for that would flatten every useful value.
  constexpr double kCap = 10;
  return LinesChart(survey,
                    {{"PDOP", "#D55E00", "", std::move(pdop)},
                     {"HDOP", "#0072B2", "6 3", std::move(hdop)},
                     {"VDOP", "#009E73", "2 2", std::move(vdop)}},
                    "PDOP, HDOP and VDOP over time", "DOP", kCap,
                    "DOPs above " + TwoDecimals(kCap) + " are drawn at the top edge.");
}

Drawing StripDrawing(const Survey& survey) {
  Drawing drawing;
  if (survey.strips.empty() || survey.columns.empty()) {
    drawing.remark = survey.epochs == 0 ? "No epochs: no signal strips." : "No GSV sentences: no signal strips.";
    return drawing;
  }
  const TimeAxis time = AxisOf(survey);
  const std::size_t columns = survey.columns.size();
  // Columns merge so that a cell is at least two pixels wide.
  const std::size_t maxCells = kPlotWidth / 2;
  const std::size_t perCell = (columns + maxCells - 1) / maxCells;
  const std::size_t cells = (columns + perCell - 1) / perCell;

  constexpr double kRow = 10;      // a satellite's row [px]
  constexpr double kFull = 8;      // used in the fix
  constexpr double kThin = 3;      // in view, not used
  constexpr double kGroup = 18;    // a system's heading
  constexpr double kTopRoom = 46;  // the colour legend
  // Bars by style: (colour index, full height); colour index kSnrColours.size() is "no signal".
  std::map<std::pair<std::size_t, bool>, std::string> bars;
  std::string labels, headings, separators;
  double y = kTopRoom;
  bool firstGroup = true;
  std::size_t index = 0;
  while (index < survey.strips.size()) {
    const GnssSystem system = survey.strips[index].system;
    if (!firstGroup) y += 4;
    firstGroup = false;
    headings += Text(4, y + 13, MarkupText(GnssSystemName(system)), "font-weight=\"bold\" font-size=\"12\"");
    separators += "M4 " + Coord(y + 16.5) + "H" + Int(kLeft + kPlotWidth);
    y += kGroup;
    for (; index < survey.strips.size() && survey.strips[index].system == system; ++index) {
      const SatelliteStrip& strip = survey.strips[index];
      const double centre = y + kRow / 2;
      labels += Text(kLeft - 6, centre + 3, MarkupText(StripLabel(strip)), "text-anchor=\"end\"");
      // Runs of cells of one style become one bar.
      struct Run {
        bool open = false;
        std::pair<std::size_t, bool> style;
        double x0 = 0, x1 = 0;
      } run;
      const auto flush = [&] {
        if (!run.open) return;
        bars[run.style] += "M" + Coord(run.x0) + " " + Coord(centre) + "H" + Coord(run.x1);
        run.open = false;
      };
      for (std::size_t c = 0; c < cells; ++c) {
        struct {
          double snrSum = 0;
          std::uint64_t reports = 0, signals = 0, used = 0;
        } sum;
        for (std::size_t k = c * perCell; k < std::min(columns, (c + 1) * perCell); ++k) {
          if (k >= strip.cells.size()) break;
          const SignalCell& cell = strip.cells[k];
          sum.snrSum += cell.snrSum;
          sum.reports += cell.reports;
          sum.signals += cell.signals;
          sum.used += cell.used;
        }
        if (sum.reports == 0) {
          flush();
          continue;
        }
        std::size_t colour = kSnrColours.size();
        if (sum.signals > 0) {
          const double snr = sum.snrSum / static_cast<double>(sum.signals);
          colour = static_cast<std::size_t>(std::clamp(std::floor(snr / 5), 0.0, 9.0));
        }
        const bool full = sum.used * 2 > sum.reports;
        const std::pair<std::size_t, bool> style{colour, full};
        const double x0 = time.X(static_cast<double>(c * perCell) * survey.columnWidth);
        const double x1 = time.X(static_cast<double>(std::min(columns, (c + 1) * perCell)) * survey.columnWidth);
        if (run.open && run.style == style && std::abs(run.x1 - x0) < 1e-6) {
          run.x1 = x1;
        } else {
          flush();
          run = {true, style, x0, x1};
        }
      }
      flush();
      y += kRow;
    }
  }
  const double bottom = y + 4;
  std::string& svg = drawing.svg;
  svg = SvgOpen(static_cast<int>(bottom) + kAxisHeight, "Signal strength of each satellite over time");
  svg += TimeGrid(time, kTopRoom, bottom);
  svg += "<path d=\"" + separators + "\" stroke=\"#d0d7de\" fill=\"none\"/>";
  for (const auto& [style, d] : bars) {
    const char* colour = style.first < kSnrColours.size() ? kSnrColours[style.first] : kNoSignalColour;
    svg += "<path d=\"" + d + "\" fill=\"none\" stroke=\"" + colour + "\" stroke-width=\"" +
           Coord(style.second ? kFull : kThin) + "\"/>";
  }
  svg += "<g font-size=\"10\" fill=\"#1f2328\">" + labels + "</g>" + headings;

  // The legend: the colour scale, then what the heights mean.
  svg += Text(kLeft, 14, "mean SNR [dB-Hz]");
  const double scaleLeft = kLeft + 118;
  constexpr double kBox = 26;
  for (std::size_t i = 0; i < kSnrColours.size(); ++i) {
    svg += "<rect x=\"" + Coord(scaleLeft + static_cast<double>(i) * kBox) + "\" y=\"4\" width=\"" + Coord(kBox) +
           "\" height=\"12\" fill=\"" + kSnrColours[i] + "\"/>";
  }
  for (std::size_t i = 0; i <= kSnrColours.size(); i += 2) {
    svg += Text(scaleLeft + static_cast<double>(i) * kBox, 30, Int(static_cast<long long>(i * 5)),
                "text-anchor=\"middle\" font-size=\"11\" fill=\"#57606a\"");
  }
  double x = scaleLeft + static_cast<double>(kSnrColours.size()) * kBox + 30;
  const auto sample = [&](double thickness, const char* colour, const char* name) {
    svg += "<path d=\"M" + Coord(x) + " 10h22\" stroke=\"" + colour + "\" stroke-width=\"" + Coord(thickness) + "\"/>";
    svg += Text(x + 28, 14, name);
    x += 28 + 7.2 * static_cast<double>(std::string_view(name).size()) + 24;
  };
  sample(kFull, kSnrColours[6], "used in the fix");
  sample(kThin, kSnrColours[6], "in view, not used");
  sample(kThin, kNoSignalColour, "in view, no signal");
  svg += "</svg>";
  return drawing;
}
