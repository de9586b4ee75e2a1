// The two charts of the Status tab, drawn with QPainter: a bubble chart for the sky plot and a
// bar chart for the signal strengths. Each chart owns one series; the series keeps the points
// in the order they were added, and the chart computes where they stand so that tests can
// compare the computed places with the rendered image.
//
// Thread rule: window thread only, like every widget.
#pragma once

#include <QImage>
#include <QPixmap>
#include <QRectF>
#include <QString>
#include <QWidget>
#include <vector>

#include "app/tcolor.h"

class BubbleChart;
class BarChart;

struct AxisRange {
  double min = 0;
  double max = 0;
};

struct BubblePoint {
  double x = 0;
  double y = 0;
  double radius = 0;  // in units of the vertical axis
  QString label;
  TColor color = clNone;
};

class BubbleSeries {
 public:
  explicit BubbleSeries(BubbleChart* chart) : chart_(chart) {}
  void clear();
  void addBubble(double x, double y, double radius, const QString& label, TColor color);
  int count() const { return static_cast<int>(points_.size()); }
  const std::vector<BubblePoint>& points() const { return points_; }

 private:
  BubbleChart* chart_;
  std::vector<BubblePoint> points_;
};

struct DrawnBubble {
  QPointF centrePx;
  double radiusPx = 0;
  QString label;
  TColor color = clNone;
};

// Square plot without axes, title, legend or margins. Both axes span the points' values, so
// points that are never drawn (colour clNone) still widen the axes.
class BubbleChart : public QWidget {
  Q_OBJECT
 public:
  explicit BubbleChart(QWidget* parent = nullptr);
  ~BubbleChart() override;

  BubbleSeries* series() { return series_; }
  const BubbleSeries* series() const { return series_; }
  void setColor(TColor colour);
  TColor color() const { return color_; }
  // Drawn under the points, scaled to the whole chart.
  void setBackgroundImage(const QImage& image);
  const QImage& backgroundImage() const { return background_; }

  AxisRange horizontalAxis() const;
  AxisRange verticalAxis() const;
  QPointF toPixel(double x, double y) const;
  // The bubbles as the next paint draws them, in series order, clNone points left out.
  std::vector<DrawnBubble> drawnBubbles() const;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  BubbleSeries* series_;
  TColor color_ = clWhite;
  QImage background_;
  // The picture as drawn: at the chart's size and in the screen's pixel format, made once
  // rather than converted on every paint. Null until the first paint at a new size.
  QPixmap drawnBackground_;
};

struct BarPoint {
  double value = 0;
  QString label;
  TColor color = clNone;
  // When the bars are too many for one row of labels: the group the bar belongs to (its
  // satellite system) and the shorter text shown under it then (the number without the
  // system's letter); the group's name stands once under its bars.
  QString group;
  QString shortLabel;
};

class BarSeries {
 public:
  explicit BarSeries(BarChart* chart) : chart_(chart) {}
  void clear();
  void add(double value, const QString& label, TColor color, const QString& group = QString(),
           const QString& shortLabel = QString());
  int count() const { return static_cast<int>(points_.size()); }
  const std::vector<BarPoint>& points() const { return points_; }

 private:
  BarChart* chart_;
  std::vector<BarPoint> points_;
};

struct DrawnBar {
  QRectF barPx;        // the filled bar, clipped to the plot
  QString label;       // the bar's label
  QString axisText;    // what stands under the bar: the label, or its short form when crowded
  QRectF axisTextPx;   // where it stands; empty when it is left out
  QString valueText;   // the mark above the bar
  QRectF valueMarkPx;  // where the mark's box stands
  TColor color = clNone;
};

// The name of a group of bars under them, with a line spanning the group.
struct DrawnGroup {
  QString text;
  QRectF textPx;
  QLineF spanPx;
};

// Bars side by side in series order, on a fixed vertical axis, with a gradient back that runs
// from the plot's centre outwards.
class BarChart : public QWidget {
  Q_OBJECT
 public:
  explicit BarChart(QWidget* parent = nullptr);
  ~BarChart() override;

  BarSeries* series() { return series_; }
  const BarSeries* series() const { return series_; }
  void setColor(TColor colour);
  TColor color() const { return color_; }
  void setVerticalAxis(double min, double max);
  AxisRange verticalAxis() const { return vertical_; }
  void setGradient(TColor startColour, TColor endColour);
  void setAxisLabelColor(TColor colour);
  TColor axisLabelColor() const { return axisLabelColor_; }
  void setMarkArrowLengthPx(int lengthPx) {
    arrowLengthPx_ = lengthPx;
    update();
  }

  QRectF plotRect() const;
  // Vertical axis labels as drawn: value and text position.
  std::vector<std::pair<double, QRectF>> verticalAxisLabels() const;
  // The bars as the next paint draws them, in series order.
  std::vector<DrawnBar> drawnBars() const;
  // The group names under crowded bars; none when every label fits in one row.
  std::vector<DrawnGroup> drawnGroups() const;

  // How the bars are laid out: one row of labels and marks when they fit, else short labels
  // in up to three staggered rows, marks on as many levels, and a row of group names.
  struct Crowding {
    int labelRows = 1;
    int markLevels = 1;
    bool groups = false;
    bool operator==(const Crowding&) const = default;
  };
  Crowding crowding() const;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  double valueToY(double value, const QRectF& plot) const;
  QRectF plotRectFor(const Crowding& crowding) const;
  // Background, gradient, grid and vertical axis: everything but the bars. Drawn into
  // staticLayer_ once per size and setting, since the bars change every second and the
  // rest never does.
  void paintStaticLayer(QPainter& painter) const;
  void invalidateStaticLayer();

  BarSeries* series_;
  QPixmap staticLayer_;
  Crowding staticLayerCrowding_;  // the layout staticLayer_ was drawn for
  TColor color_ = kWindowBlue;
  AxisRange vertical_{0, 100};
  TColor gradientStart_ = clYellow;
  TColor gradientEnd_ = kBarBackEnd;
  TColor axisLabelColor_ = clWhite;
  int arrowLengthPx_ = 20;
};

// Font of chart labels and marks: 8-point Arial, or the closest sans-serif there is.
QFont ChartLabelFont();
