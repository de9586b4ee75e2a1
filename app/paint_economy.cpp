// The window's painting economies: repaints held to a frame, scroll bars that stay in place
// and, like the edit fields, repaint only themselves, console lines shaped once.
//
// Thread rule: window thread only.
#include "app/paint_economy.h"

#include <QAbstractScrollArea>
#include <QCoreApplication>
#include <QEvent>
#include <QGroupBox>
#include <QImage>
#include <QLineEdit>
#include <QScreen>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextLayout>
#include <QWidget>
#include <algorithm>
#include <cmath>
#include <utility>

RepaintPacer::RepaintPacer(QWidget* window, std::function<void()> beforeRepaint)
    : QObject(window), window_(window), beforeRepaint_(std::move(beforeRepaint)) {
  if (const QScreen* screen = window->screen(); screen != nullptr && screen->refreshRate() >= 1) {
    frameMs_ = std::max(kMinFrameMs, static_cast<int>(std::floor(1000.0 / screen->refreshRate())));
  }
  frameTimer_.setSingleShot(true);
  frameTimer_.setTimerType(Qt::PreciseTimer);
  connect(&frameTimer_, &QTimer::timeout, this, &RepaintPacer::repaintNow);
  window->installEventFilter(this);
}

bool RepaintPacer::eventFilter(QObject* watched, QEvent* event) {
  if (watched != window_ || event->type() != QEvent::UpdateRequest || passing_) return false;
  // A request after a quiet while goes through at once (a click answers without delay);
  // one within a frame of the last repaint waits for the frame's end. Qt posts no further
  // request while this one is held, so the changes meanwhile join the same repaint.
  const qint64 sinceMs = sinceLast_.isValid() ? sinceLast_.elapsed() : frameMs_;
  if (sinceMs >= frameMs_) {
    sinceLast_.start();
    if (beforeRepaint_) beforeRepaint_();
    return false;
  }
  if (!frameTimer_.isActive()) frameTimer_.start(static_cast<int>(frameMs_ - sinceMs));
  return true;
}

void RepaintPacer::repaintNow() {
  sinceLast_.start();
  if (beforeRepaint_) beforeRepaint_();
  passing_ = true;
  QEvent request(QEvent::UpdateRequest);
  QCoreApplication::sendEvent(window_, &request);
  passing_ = false;
}

void OpaqueScrollBars(QAbstractScrollArea* area) {
  for (QScrollBar* bar : {area->horizontalScrollBar(), area->verticalScrollBar()}) bar->setAutoFillBackground(true);
}

void KeepScrollBarsInPlace(QAbstractScrollArea* area) {
  if (area->horizontalScrollBarPolicy() != Qt::ScrollBarAlwaysOn ||
      area->verticalScrollBarPolicy() != Qt::ScrollBarAlwaysOn) {
    return;
  }
  // Looked up first: a disconnect by a name that does not exist would warn on every start.
  if (area->metaObject()->indexOfSlot("_q_showOrHideScrollBars()") < 0) return;
  for (const QScrollBar* bar : {area->horizontalScrollBar(), area->verticalScrollBar()}) {
    QObject::disconnect(bar, SIGNAL(rangeChanged(int, int)), area, SLOT(_q_showOrHideScrollBars()));
  }
}

void KeptLinesLayout::documentChanged(int from, int charsRemoved, int charsAdded) {
  // Set before the base class lays the new lines out: the layout drops the glyphs at the end of
  // laying out unless its cache is on.
  const QTextDocument* doc = document();
  for (QTextBlock block = doc->findBlock(from); block.isValid() && block.position() <= from + charsAdded;
       block = block.next()) {
    block.layout()->setCacheEnabled(true);
  }
  QPlainTextDocumentLayout::documentChanged(from, charsRemoved, charsAdded);
}

void FillBehindEditFields(QGroupBox* group) {
  const QList<QLineEdit*> fields = group->findChildren<QLineEdit*>(Qt::FindDirectChildrenOnly);
  if (fields.isEmpty()) return;
  QImage behind(group->size(), QImage::Format_ARGB32);
  behind.fill(Qt::transparent);
  group->render(&behind, QPoint(), QRegion(), QWidget::DrawWindowBackground);  // without the children
  for (QLineEdit* field : fields) {
    const QRect area = field->geometry() & behind.rect();
    if (area != field->geometry()) continue;
    const QRgb colour = behind.pixel(area.topLeft());
    bool plain = qAlpha(colour) == 255;
    for (int y = area.top(); plain && y <= area.bottom(); ++y) {
      for (int x = area.left(); plain && x <= area.right(); ++x) plain = behind.pixel(x, y) == colour;
    }
    if (!plain) continue;
    // A role the field's own painting does not use: the style derives the frame's outline
    // from the window colour, which must stay as it is.
    QPalette palette = field->palette();
    palette.setColor(QPalette::AlternateBase, QColor::fromRgb(colour));
    field->setPalette(palette);
    field->setBackgroundRole(QPalette::AlternateBase);
    field->setAutoFillBackground(true);
  }
}
