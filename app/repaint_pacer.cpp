// Repaint requests of the window held back to the screen's frame rate.
//
// Thread rule: window thread only.
#include "app/repaint_pacer.h"

#include <QCoreApplication>
#include <QEvent>
#include <QScreen>
#include <QWidget>
#include <algorithm>
#include <cmath>

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
