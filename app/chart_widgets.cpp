// Bubble chart and bar chart drawn with QPainter. Layout (where each point stands) is computed
// by the same functions that paint uses, so what tests read is what the screen shows.
//
// Thread rule: window thread only.
#include "app/chart_widgets.h"

#include <QFontMetricsF>
#include <QHash>
#include <QPainter>
#include <QRadialGradient>
#include <QStaticText>
#include <algorithm>
#include <cmath>

namespace {

AxisRange spanOf(const std::vector<BubblePoint>& points, double BubblePoint::*member) {
  if (points.empty()) return {-1, 1};
  AxisRange range{points.front().*member, points.front().*member};
  for (const BubblePoint& p : points) {
    range.min = std::min(range.min, p.*member);
    range.max = std::max(range.max, p.*member);
  }
  if (range.max - range.min <= 0) {  // one value only: centre it
    range.min -= 1;
    range.max += 1;
  }
  return range;
}

QString numberText(double value) { return QString::number(value, 'g', 10); }

// Whether a cached layer was made for the widget as it is now: same size, same pixel ratio.
bool fitsWidget(const QPixmap& layer, const QWidget& widget) {
  return !layer.isNull() && layer.deviceIndependentSize() == QSizeF(widget.size()) &&
         layer.devicePixelRatio() == widget.devicePixelRatioF();
}

// An empty layer in device pixels for the widget as it is now.
QPixmap layerFor(const QWidget& widget) {
  const qreal ratio = widget.devicePixelRatioF();
  QPixmap layer(widget.size() * ratio);
  layer.setDevicePixelRatio(ratio);
  return layer;
}

// Chart labels are a few dozen short numbers, measured and drawn again on every frame. Laying
// one out (to measure it, then again to draw it) was most of a chart's cost, so each distinct
// text is laid out once in the one label font and kept: its width, and the text ready to draw.
struct LaidOutLabel {
  qreal advance = 0;
  qreal lineHeight = 0;  // ascent and descent, unrounded, as a one-line layout has it
  QStaticText text;
};

const LaidOutLabel& laidOut(const QString& text) {
  static QHash<QString, LaidOutLabel> labels;
  auto found = labels.constFind(text);
  if (found != labels.constEnd()) return *found;
  if (labels.size() >= 1024) labels.clear();  // a bound for ever-changing values; a frame needs ~40
  const QFont font = ChartLabelFont();
  LaidOutLabel label;
  const QFontMetricsF metrics(font);
  label.advance = metrics.horizontalAdvance(text);
  label.lineHeight = metrics.ascent() + metrics.descent();
  label.text = QStaticText(text);
  label.text.setTextFormat(Qt::PlainText);
  label.text.prepare(QTransform(), font);
  return *labels.insert(text, label);
}

qreal labelAdvance(const QString& text) { return laidOut(text).advance; }

// What painter.drawText(box, Qt::AlignCenter, text) draws, from the kept layout. The painter's
// font must be the label font.
void drawCentredLabel(QPainter& painter, const QRectF& box, const QString& text) {
  const LaidOutLabel& label = laidOut(text);
  painter.drawStaticText(
      QPointF(box.x() + (box.width() - label.advance) / 2, box.y() + (box.height() - label.lineHeight) / 2),
      label.text);
}

}  // namespace

QFont ChartLabelFont() {
  static const QFont font = [] {  // built once: the charts ask for it on every paint
    QFont f;
    f.setFamilies({QStringLiteral("Arial"), QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans")});
    f.setStyleHint(QFont::SansSerif);
    f.setPointSize(8);
    return f;
  }();
  return font;
}

// ---------------------------------------------------------------- bubbles

void BubbleSeries::clear() {
  points_.clear();
  chart_->update();
}

void BubbleSeries::addBubble(double x, double y, double radius, const QString& label, TColor color) {
  points_.push_back(BubblePoint{x, y, radius, label, color});
  chart_->update();
}

BubbleChart::BubbleChart(QWidget* parent) : QWidget(parent), series_(new BubbleSeries(this)) {
  setAttribute(Qt::WA_OpaquePaintEvent);
}

BubbleChart::~BubbleChart() { delete series_; }

void BubbleChart::setColor(TColor colour) {
  color_ = colour;
  drawnBackground_ = QPixmap();
  update();
}

void BubbleChart::setBackgroundImage(const QImage& image) {
  background_ = image;
  drawnBackground_ = QPixmap();
  update();
}

AxisRange BubbleChart::horizontalAxis() const { return spanOf(series_->points(), &BubblePoint::x); }

AxisRange BubbleChart::verticalAxis() const { return spanOf(series_->points(), &BubblePoint::y); }

QPointF BubbleChart::toPixel(double x, double y) const {
  const AxisRange h = horizontalAxis();
  const AxisRange v = verticalAxis();
  // Pixel centres run from 0 to size-1, so the middle of an odd-sized chart is a whole pixel.
  const double px = (x - h.min) / (h.max - h.min) * (width() - 1);
  const double py = (v.max - y) / (v.max - v.min) * (height() - 1);
  return {px, py};
}

std::vector<DrawnBubble> BubbleChart::drawnBubbles() const {
  std::vector<DrawnBubble> drawn;
  const AxisRange v = verticalAxis();
  const double pxPerUnit = (height() - 1) / (v.max - v.min);
  for (const BubblePoint& p : series_->points()) {
    if (p.color == clNone) continue;
    drawn.push_back(DrawnBubble{toPixel(p.x, p.y), p.radius * pxPerUnit, p.label, p.color});
  }
  return drawn;
}

void BubbleChart::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  if (background_.isNull()) {
    painter.fillRect(rect(), ToQColor(color_));
  } else {
    if (!fitsWidget(drawnBackground_, *this)) {
      // The colour shows where the picture has transparent pixels.
      drawnBackground_ = layerFor(*this);
      drawnBackground_.fill(ToQColor(color_));
      QPainter scaled(&drawnBackground_);
      scaled.drawImage(rect(), background_);
    }
    painter.drawPixmap(0, 0, drawnBackground_);
  }
  painter.setRenderHint(QPainter::Antialiasing);
  const std::vector<DrawnBubble> bubbles = drawnBubbles();
  for (const DrawnBubble& b : bubbles) {
    const QColor fill = ToQColor(b.color);
    painter.setPen(QPen(fill.darker(160), 1));
    painter.setBrush(fill);
    painter.drawEllipse(b.centrePx, b.radiusPx, b.radiusPx);
  }
  // Labels after all bubbles, so an overlapping bubble never hides a number.
  painter.setFont(ChartLabelFont());
  painter.setPen(Qt::white);
  const double h = QFontMetricsF(painter.font()).height();
  for (const DrawnBubble& b : bubbles) {
    if (b.label.isEmpty()) continue;
    const double w = labelAdvance(b.label) + 2;
    drawCentredLabel(painter, QRectF(b.centrePx.x() - w / 2, b.centrePx.y() - h / 2, w, h), b.label);
  }
}

// ---------------------------------------------------------------- bars

void BarSeries::clear() {
  points_.clear();
  chart_->update();
}

void BarSeries::add(double value, const QString& label, TColor color) {
  points_.push_back(BarPoint{value, label, color});
  chart_->update();
}

BarChart::BarChart(QWidget* parent) : QWidget(parent), series_(new BarSeries(this)) {
  setAttribute(Qt::WA_OpaquePaintEvent);
}

BarChart::~BarChart() { delete series_; }

void BarChart::setColor(TColor colour) {
  color_ = colour;
  invalidateStaticLayer();
}

void BarChart::setVerticalAxis(double min, double max) {
  if (max <= min) return;  // an empty axis has no scale
  vertical_ = {min, max};
  invalidateStaticLayer();
}

void BarChart::setGradient(TColor startColour, TColor endColour) {
  gradientStart_ = startColour;
  gradientEnd_ = endColour;
  invalidateStaticLayer();
}

void BarChart::setAxisLabelColor(TColor colour) {
  axisLabelColor_ = colour;
  invalidateStaticLayer();
}

QRectF BarChart::plotRect() const {
  const QFontMetricsF metrics(ChartLabelFont());
  const double left = labelAdvance(numberText(vertical_.max)) + 8;
  const double top = metrics.height() / 2 + 2;
  const double bottom = metrics.height() + 6;
  return QRectF(left, top, std::max(1.0, width() - left - 6), std::max(1.0, height() - top - bottom));
}

double BarChart::valueToY(double value, const QRectF& plot) const {
  const double clamped = std::clamp(value, vertical_.min, vertical_.max);
  return plot.bottom() - (clamped - vertical_.min) / (vertical_.max - vertical_.min) * plot.height();
}

std::vector<std::pair<double, QRectF>> BarChart::verticalAxisLabels() const {
  const QRectF plot = plotRect();
  const QFontMetricsF metrics(ChartLabelFont());
  const double span = vertical_.max - vertical_.min;
  // The smallest round step that keeps the labels apart by one and a half lines.
  double step = span;
  for (double candidate : {1.0, 2.0, 5.0, 10.0, 20.0, 25.0, 50.0, 100.0, 200.0, 500.0, 1000.0}) {
    if (candidate * plot.height() / span >= metrics.height() * 1.5) {
      step = candidate;
      break;
    }
  }
  std::vector<std::pair<double, QRectF>> labels;
  const double first = std::ceil(vertical_.min / step) * step;
  for (double v = first; v <= vertical_.max + 1e-9; v += step) {
    const double y = valueToY(v, plot);
    const double w = metrics.horizontalAdvance(numberText(v));
    labels.emplace_back(v, QRectF(plot.left() - 5 - w, y - metrics.height() / 2, w, metrics.height()));
  }
  return labels;
}

std::vector<DrawnBar> BarChart::drawnBars() const {
  std::vector<DrawnBar> drawn;
  const auto& points = series_->points();
  if (points.empty()) return drawn;
  const QRectF plot = plotRect();
  const QFontMetricsF metrics(ChartLabelFont());
  const double slot = plot.width() / static_cast<double>(points.size());
  const double barWidth = std::max(1.0, slot * 0.7);
  const double zeroY = valueToY(std::max(vertical_.min, 0.0), plot);
  for (std::size_t i = 0; i < points.size(); ++i) {
    const BarPoint& p = points[i];
    DrawnBar bar;
    const double centreX = plot.left() + slot * (static_cast<double>(i) + 0.5);
    const double topY = valueToY(p.value, plot);
    bar.barPx = QRectF(QPointF(centreX - barWidth / 2, std::min(topY, zeroY)),
                       QPointF(centreX + barWidth / 2, std::max(topY, zeroY)));
    bar.label = p.label;
    bar.valueText = numberText(p.value);
    bar.color = p.color;
    const double markW = labelAdvance(bar.valueText) + 4;
    const double markH = metrics.height();
    // The mark stands an arrow's length above the bar, but never leaves the chart.
    const double markY = std::max(0.0, bar.barPx.top() - arrowLengthPx_ - markH);
    bar.valueMarkPx = QRectF(centreX - markW / 2, markY, markW, markH);
    drawn.push_back(bar);
  }
  return drawn;
}

void BarChart::invalidateStaticLayer() {
  staticLayer_ = QPixmap();
  update();
}

void BarChart::paintStaticLayer(QPainter& painter) const {
  painter.fillRect(rect(), ToQColor(color_));
  const QRectF plot = plotRect();

  QRadialGradient back(plot.center(), std::hypot(plot.width(), plot.height()) / 2);
  back.setColorAt(0, ToQColor(gradientStart_));
  back.setColorAt(1, ToQColor(gradientEnd_));
  painter.fillRect(plot, back);

  painter.setFont(ChartLabelFont());
  const QColor labelColour = ToQColor(axisLabelColor_);

  // Vertical axis: labels, ticks and faint grid lines.
  for (const auto& [value, where] : verticalAxisLabels()) {
    const double y = valueToY(value, plot);
    painter.setPen(QColor(255, 255, 255, 70));
    painter.drawLine(QPointF(plot.left(), y), QPointF(plot.right(), y));
    painter.setPen(labelColour);
    painter.drawLine(QPointF(plot.left() - 3, y), QPointF(plot.left(), y));
    painter.drawText(where, Qt::AlignRight | Qt::AlignVCenter, numberText(value));
  }
  painter.setPen(labelColour);
  painter.drawLine(plot.bottomLeft(), plot.topLeft());
  painter.drawLine(plot.bottomLeft(), plot.bottomRight());
}

void BarChart::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  if (!fitsWidget(staticLayer_, *this)) {
    staticLayer_ = layerFor(*this);
    QPainter layer(&staticLayer_);
    paintStaticLayer(layer);
  }
  painter.drawPixmap(0, 0, staticLayer_);
  const QRectF plot = plotRect();
  painter.setFont(ChartLabelFont());
  const QFontMetricsF metrics(painter.font());
  const QColor labelColour = ToQColor(axisLabelColor_);

  const std::vector<DrawnBar> bars = drawnBars();
  double lastLabelRight = -1e9;
  for (const DrawnBar& bar : bars) {
    const QColor fill = ToQColor(bar.color);
    painter.setPen(QPen(Qt::black, 1));
    painter.setBrush(fill);
    painter.drawRect(bar.barPx);

    // Axis label under the bar; skipped when it would overlap the previous one.
    const double w = labelAdvance(bar.label);
    const double x = bar.barPx.center().x() - w / 2;
    if (x > lastLabelRight + 2) {
      painter.setPen(labelColour);
      drawCentredLabel(painter, QRectF(x, plot.bottom() + 3, w + 1, metrics.height()), bar.label);
      lastLabelRight = x + w;
    }

    // Value mark: a short arrow up from the bar to a small framed box with the number.
    const QRectF mark = bar.valueMarkPx;
    painter.setPen(QPen(Qt::white, 1));
    painter.drawLine(QPointF(bar.barPx.center().x(), bar.barPx.top()), QPointF(bar.barPx.center().x(), mark.bottom()));
    painter.setPen(QPen(Qt::black, 1));
    painter.setBrush(QColor(255, 255, 225));
    painter.drawRect(mark);
    drawCentredLabel(painter, mark, bar.valueText);
  }
}
