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
#include <array>
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

void BarSeries::add(double value, const QString& label, TColor color, const QString& group, const QString& shortLabel) {
  points_.push_back(BarPoint{value, label, color, group, shortLabel});
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

QRectF BarChart::plotRect() const { return plotRectFor(crowding()); }

QRectF BarChart::plotRectFor(const Crowding& crowding) const {
  const QFontMetricsF metrics(ChartLabelFont());
  const double left = labelAdvance(numberText(vertical_.max)) + 8;
  const double top = metrics.height() / 2 + 2;
  double bottom = crowding.labelRows * metrics.height() + 6;
  if (crowding.groups) bottom += metrics.height() + 2;
  return QRectF(left, top, std::max(1.0, width() - left - 6), std::max(1.0, height() - top - bottom));
}

namespace {

// Whether a row of labels centred under bars one slot apart leaves a gap between each two, as
// the single row of labels needs (a label that would touch the one before it is left out).
bool labelsFitOneRow(const std::vector<BarPoint>& points, double firstCentreX, double slot) {
  double lastRight = -1e9;
  for (std::size_t i = 0; i < points.size(); ++i) {
    const double w = labelAdvance(points[i].label);
    const double x = firstCentreX + slot * static_cast<double>(i) - w / 2;
    if (x <= lastRight + 2) return false;
    lastRight = x + w;
  }
  return true;
}

const QString& axisTextOf(const BarPoint& p, bool crowded) {
  return crowded && !p.shortLabel.isEmpty() ? p.shortLabel : p.label;
}

}  // namespace

BarChart::Crowding BarChart::crowding() const {
  Crowding crowding;
  const auto& points = series_->points();
  if (points.empty()) return crowding;
  const QRectF plot = plotRectFor(crowding);
  const double slot = plot.width() / static_cast<double>(points.size());
  if (labelsFitOneRow(points, plot.left() + slot / 2, slot)) return crowding;
  double widestText = 0;
  double widestMark = 0;
  for (const BarPoint& p : points) {
    widestText = std::max(widestText, labelAdvance(axisTextOf(p, true)));
    widestMark = std::max(widestMark, labelAdvance(numberText(p.value)) + 4);
    crowding.groups = crowding.groups || !p.group.isEmpty();
  }
  crowding.labelRows = std::clamp(static_cast<int>(std::ceil((widestText + 3) / slot)), 1, 3);
  crowding.markLevels = std::clamp(static_cast<int>(std::ceil((widestMark + 2) / slot)), 1, 3);
  return crowding;
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
  const Crowding crowding = this->crowding();
  const bool crowded = crowding.labelRows > 1 || crowding.markLevels > 1 || crowding.groups;
  const QRectF plot = plotRectFor(crowding);
  const QFontMetricsF metrics(ChartLabelFont());
  const double slot = plot.width() / static_cast<double>(points.size());
  const double barWidth = std::max(1.0, slot * 0.7);
  const double zeroY = valueToY(std::max(vertical_.min, 0.0), plot);
  std::array<double, 3> lastLabelRight{-1e9, -1e9, -1e9};  // per row of labels
  for (std::size_t i = 0; i < points.size(); ++i) {
    const BarPoint& p = points[i];
    DrawnBar bar;
    const double centreX = plot.left() + slot * (static_cast<double>(i) + 0.5);
    const double topY = valueToY(p.value, plot);
    bar.barPx = QRectF(QPointF(centreX - barWidth / 2, std::min(topY, zeroY)),
                       QPointF(centreX + barWidth / 2, std::max(topY, zeroY)));
    bar.label = p.label;
    bar.color = p.color;

    // Under the bar; left out when it would touch the one before it in its row.
    const int row = static_cast<int>(i % static_cast<std::size_t>(crowding.labelRows));
    bar.axisText = axisTextOf(p, crowded);
    const double w = labelAdvance(bar.axisText);
    const double x = centreX - w / 2;
    double& rowRight = lastLabelRight[static_cast<std::size_t>(row)];
    if (x > rowRight + 2) {
      bar.axisTextPx = QRectF(x, plot.bottom() + 3 + row * metrics.height(), w + 1, metrics.height());
      rowRight = x + w;
    }

    bar.valueText = numberText(p.value);
    const double markW = labelAdvance(bar.valueText) + 4;
    const double markH = metrics.height();
    // The mark stands an arrow's length above the bar, but never leaves the chart. Marks too
    // wide for their bars stand in rows at the top instead, each row holding every n-th bar,
    // so that no two cover each other whatever the bars' heights.
    const int level = static_cast<int>(i % static_cast<std::size_t>(crowding.markLevels));
    const double markY =
        crowding.markLevels > 1 ? level * (markH + 1) : std::max(0.0, bar.barPx.top() - arrowLengthPx_ - markH);
    bar.valueMarkPx = QRectF(centreX - markW / 2, markY, markW, markH);
    drawn.push_back(bar);
  }
  return drawn;
}

std::vector<DrawnGroup> BarChart::drawnGroups() const {
  std::vector<DrawnGroup> groups;
  const Crowding crowding = this->crowding();
  if (!crowding.groups) return groups;
  const auto& points = series_->points();
  const QRectF plot = plotRectFor(crowding);
  const QFontMetricsF metrics(ChartLabelFont());
  const double slot = plot.width() / static_cast<double>(points.size());
  const double y = plot.bottom() + 3 + crowding.labelRows * metrics.height() + 1;
  for (std::size_t first = 0; first < points.size();) {
    std::size_t end = first + 1;
    while (end < points.size() && points[end].group == points[first].group) ++end;
    // Within the gaps between the bars, so that the spans of neighbouring groups stay apart.
    const double inset = slot * 0.1;
    const double left = plot.left() + slot * static_cast<double>(first) + inset;
    const double right = plot.left() + slot * static_cast<double>(end) - inset;
    DrawnGroup group;
    group.spanPx = QLineF(left, y, right, y);
    // A name too long for its bars is shortened; one that cannot keep a letter is left out.
    group.text = metrics.elidedText(points[first].group, Qt::ElideRight, right - left);
    if (group.text == QStringLiteral("\u2026")) group.text.clear();
    const double w = labelAdvance(group.text);
    group.textPx = QRectF((left + right - w) / 2, y + 1, w + 1, metrics.height());
    groups.push_back(group);
    first = end;
  }
  return groups;
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
  const Crowding crowding = this->crowding();
  if (!fitsWidget(staticLayer_, *this) || !(staticLayerCrowding_ == crowding)) {
    staticLayer_ = layerFor(*this);
    staticLayerCrowding_ = crowding;
    QPainter layer(&staticLayer_);
    paintStaticLayer(layer);
  }
  painter.drawPixmap(0, 0, staticLayer_);
  painter.setFont(ChartLabelFont());
  const QColor labelColour = ToQColor(axisLabelColor_);

  const std::vector<DrawnBar> bars = drawnBars();
  const auto drawArrow = [&](const DrawnBar& bar) {
    painter.setPen(QPen(Qt::white, 1));
    painter.drawLine(QPointF(bar.barPx.center().x(), bar.barPx.top()),
                     QPointF(bar.barPx.center().x(), bar.valueMarkPx.bottom()));
  };
  const auto drawMark = [&](const DrawnBar& bar) {
    painter.setPen(QPen(Qt::black, 1));
    painter.setBrush(QColor(255, 255, 225));
    painter.drawRect(bar.valueMarkPx);
    drawCentredLabel(painter, bar.valueMarkPx, bar.valueText);
  };
  // Crowded marks stand in rows above the bars and their arrows pass behind the marks of the
  // rows below: arrows first, then every mark, so that each number stays whole.
  const bool layered = crowding.markLevels > 1;
  for (const DrawnBar& bar : bars) {
    const QColor fill = ToQColor(bar.color);
    painter.setPen(QPen(Qt::black, 1));
    painter.setBrush(fill);
    painter.drawRect(bar.barPx);

    if (!bar.axisTextPx.isEmpty()) {
      painter.setPen(labelColour);
      drawCentredLabel(painter, bar.axisTextPx, bar.axisText);
    }
    if (layered) continue;
    // Value mark: a short arrow up from the bar to a small framed box with the number.
    drawArrow(bar);
    drawMark(bar);
  }
  if (layered) {
    for (const DrawnBar& bar : bars) drawArrow(bar);
    for (const DrawnBar& bar : bars) drawMark(bar);
  }
  for (const DrawnGroup& group : drawnGroups()) {
    painter.setPen(labelColour);
    painter.drawLine(group.spanPx);
    if (!group.text.isEmpty()) drawCentredLabel(painter, group.textPx, group.text);
  }
}
