// The sky plot's background picture, drawn once at start.
//
// Thread rule: pure drawing into an image; any thread.
#include "app/sky_background.h"

#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <algorithm>
#include <cstdint>

namespace {

// A small fixed-seed generator: the same stars on every start and in every screenshot.
class StarField {
 public:
  double next() {
    state_ = state_ * 6364136223846793005ULL + 1442695040888963407ULL;
    return static_cast<double>(state_ >> 11) / static_cast<double>(1ULL << 53);
  }

 private:
  std::uint64_t state_ = 0x5EEDF00DULL;
};

}  // namespace

QImage MakeSkyBackground(int sizePx) {
  QImage image(sizePx, sizePx, QImage::Format_RGB888);
  image.fill(QColor(6, 8, 22));
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);

  const double centre = (sizePx - 1) / 2.0;
  const QPointF middle(centre, centre);
  // A satellite on the horizon stands 100 units from the centre on axes spanning -150..150.
  const double horizonPx = centre * 100.0 / 150.0;
  const double globePx = horizonPx * 1.08;

  StarField stars;
  const int starCount = sizePx * sizePx / 90;
  for (int i = 0; i < starCount; ++i) {
    const QPointF at(stars.next() * sizePx, stars.next() * sizePx);
    const int level = 110 + static_cast<int>(stars.next() * 145);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(level, level, std::min(255, level + 20)));
    const double r = stars.next() < 0.15 ? 0.9 : 0.5;
    painter.drawEllipse(at, r, r);
  }

  // The globe: sea lit from the upper left, a rim of atmosphere, a few land masses.
  QRadialGradient sea(QPointF(centre - globePx * 0.35, centre - globePx * 0.35), globePx * 1.5);
  sea.setColorAt(0, QColor(70, 140, 220));
  sea.setColorAt(0.6, QColor(20, 70, 160));
  sea.setColorAt(1, QColor(5, 20, 60));
  painter.setPen(QPen(QColor(120, 180, 255, 160), 1.5));
  painter.setBrush(sea);
  painter.drawEllipse(middle, globePx, globePx);

  painter.save();
  QPainterPath globeClip;
  globeClip.addEllipse(middle, globePx, globePx);
  painter.setClipPath(globeClip);
  painter.setPen(Qt::NoPen);
  painter.setBrush(QColor(60, 130, 70, 200));
  const struct {
    double dx, dy, rx, ry;
  } land[] = {{-0.35, -0.30, 0.30, 0.22},
              {-0.15, 0.30, 0.18, 0.35},
              {0.35, -0.15, 0.28, 0.18},
              {0.45, 0.35, 0.18, 0.12},
              {0.05, -0.65, 0.30, 0.10}};
  for (const auto& l : land)
    painter.drawEllipse(QPointF(centre + l.dx * globePx, centre + l.dy * globePx), l.rx * globePx, l.ry * globePx);
  painter.restore();

  // Rings and cross hairs in white.
  painter.setBrush(Qt::NoBrush);
  painter.setPen(QPen(Qt::white, 1));
  painter.drawEllipse(middle, horizonPx, horizonPx);
  painter.drawEllipse(middle, horizonPx / 2, horizonPx / 2);
  painter.setRenderHint(QPainter::Antialiasing, false);
  const int c = (sizePx - 1) / 2;
  const int reach = static_cast<int>(globePx) + 2;
  painter.drawLine(c, c - reach, c, c + reach);
  painter.drawLine(c - reach, c, c + reach, c);

  // Compass letters in small dark boxes at the ends of the cross.
  QFont font;
  font.setFamilies({QStringLiteral("Arial"), QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans")});
  font.setPixelSize(std::max(7, sizePx / 15));
  font.setBold(true);
  painter.setFont(font);
  const int box = std::max(9, sizePx / 12);
  const struct {
    const char* letter;
    int dx, dy;
  } compass[] = {{"N", 0, -1}, {"E", 1, 0}, {"S", 0, 1}, {"W", -1, 0}};
  for (const auto& p : compass) {
    const QRect where(c + p.dx * (reach + box / 2 - 1) - box / 2, c + p.dy * (reach + box / 2 - 1) - box / 2, box, box);
    painter.fillRect(where, QColor(20, 20, 30));
    painter.setPen(QPen(QColor(200, 200, 200), 1));
    painter.drawRect(where.adjusted(0, 0, -1, -1));
    painter.setPen(Qt::white);
    painter.drawText(where, Qt::AlignCenter, QString::fromLatin1(p.letter));
  }
  return image;
}
