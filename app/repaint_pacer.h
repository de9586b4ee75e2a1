// Repaints of a top-level window at most 25 times a second (the screen's own rate where that
// is lower). A receiver can deliver hundreds of sentences a second, each changing the console
// and some fields; painting after every one would cost far more than handling it. The
// widgets change at once; only the repaint request that Qt posts to the window is held back
// until a frame has passed since the last repaint, so what is finally shown is the same, at
// most one frame later. A request after a quiet while goes through at once, so a click or a
// key still answers without delay. 25 frames a second, the rate of film, keeps lines
// scrolling through the console smooth to the eye; painting a busy line's console, fields
// and charts at a 60 Hz screen's rate cost about a sixth more CPU for nothing anyone can read.
//
// Thread rule: window thread only; an event filter on the window it paces.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <functional>

class QWidget;

class RepaintPacer : public QObject {
 public:
  static constexpr int kMinFrameMs = 40;  // 25 repaints a second at most

  // Paces window (a top-level widget); becomes its child. beforeRepaint, when given, runs
  // just before each repaint: work that only matters for what is shown (scrolling the
  // console to its end) is done there once a frame instead of once per sentence.
  explicit RepaintPacer(QWidget* window, std::function<void()> beforeRepaint = {});

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void repaintNow();

  QWidget* window_;
  std::function<void()> beforeRepaint_;
  QTimer frameTimer_;        // single shot: the held request's turn
  QElapsedTimer sinceLast_;  // since the last repaint went through
  int frameMs_ = kMinFrameMs;
  bool passing_ = false;  // our own request is on its way: let it through
};
