// What the window does to keep its painting cheap while a receiver talks at line speed. A
// receiver delivers hundreds of sentences a second, each changing the console and some
// fields; painting after every change would cost far more than handling the sentences. Each
// economy here rests on a way Qt repaints that Qt does not promise, so each says what it
// saves and what it relies on; tests/app/test_charts.cpp and test_window_layout.cpp fail
// when what they rely on is gone.
//
// The savings were measured with bench/window_cost.py (medians of alternating runs with and
// without the economy, on a shared two-core machine whose runs spread by about ±0.3 points):
// "paced" is the window's CPU on a saturated 115200 line, about 174 sentences a second,
// "drain" the sentences a second it handles when it is the bottleneck.
//
// Thread rule: window thread only.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <functional>

#include "app/thread1.h"

class QAbstractScrollArea;
class QGroupBox;
class QWidget;

// Repaints of a top-level window at most 25 times a second (the screen's own rate where that
// is lower). The widgets change at once; only the repaint request that Qt posts to the window
// is held back until a frame has passed since the last repaint, so what is finally shown is
// the same, at most one frame later. A request after a quiet while goes through at once, so a
// click or a key still answers without delay. 25 frames a second, the rate of film, keeps
// lines scrolling through the console smooth to the eye.
//
// Saves: drained, 35 000 sentences a second without it, 66 000 with it (runs without: 42 294
// 39 724 35 056 35 452 32 344; with: 66 359 67 963 58 304 63 765 68 488). On a 115200 line
// nothing: the reader's gathering already leaves fewer reads than frames.
//
// Relies on: Qt asks for a widget window's repaint by posting one QEvent::UpdateRequest to
// the top-level widget, and posts no further one while that one is pending, so the changes
// meanwhile join the same repaint. Were the request to go elsewhere (to the QWindow, say),
// the pacer would see nothing and every change would be painted at once.
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

// The reader and the painter. The reader lets a trickling line fill for a while before it
// reads again; that pause is longer than the shortest repaint frame, so the repaint after each
// read goes through at once. With a pause of a frame or less, the repaints could settle a
// fraction of a frame behind the reads and each cost a wake-up of its own.
static_assert(kReaderGatherMs > RepaintPacer::kMinFrameMs, "a read's repaint must not wait for a frame's end");

// The scroll bars of an area fill their own background, so a repaint of a bar alone (the
// console's vertical bar moves with every read) does not first repaint the area's frame and
// the group box behind it. The style covers the whole bar anyway, so what is shown is the
// same.
//
// Saves: paced, 3.02% without it, 2.67% with it (runs without: 3.05 3.01 2.75 3.02 3.17 2.67
// 3.04 2.90 3.12; with: 2.83 2.84 2.54 2.65 3.04 2.58 2.93 2.67 2.62).
//
// Relies on: a widget that fills its background with an opaque colour is painted without
// the widgets beneath it.
void OpaqueScrollBars(QAbstractScrollArea* area);

// A scroll area lays its bars out anew after every change of a bar's range, in case a bar
// must appear or go; that raises both bar containers, one above the other, which repaints
// both bars whole. With both bars always shown the layout has nothing to do, and a console
// that grows with every read would repaint its bars on every frame for nothing. Does nothing
// unless both of the area's bars are always shown.
//
// Saves: paced, 3.50% without it, 2.90% with it (runs without: 3.42 3.39 3.60 3.72 3.50;
// with: 2.90 2.88 3.19 2.82 3.27).
//
// Relies on: QAbstractScrollArea connects each bar's rangeChanged to its private slot
// _q_showOrHideScrollBars(), by that name. Where the slot goes by another name the link stays
// as it is and only the saving is lost.
void KeepScrollBarsInPlace(QAbstractScrollArea* area);

// An edit field paints its rounded frame over whatever lies behind its corners, so each
// change of its text first repaints the group box around it, frame picture and all. Where the
// group is one plain colour behind a field, the field fills its rectangle with that colour
// itself and the group box is no longer repainted for it. The colour is read from the group
// as the style draws it (its frame picture tints the inside a little), so what is shown stays
// the same to the pixel; a field with anything else behind it is left as it is.
//
// Saves: paced, 3.48% without it, 3.25% with it (runs without: 3.73 3.34 3.50 3.40 3.48;
// with: 3.38 3.37 3.25 3.21 3.23).
//
// Relies on: a widget that fills its background with an opaque colour is painted without
// the widgets beneath it; the style's line edit frame leaves the field's own background
// where it does not draw.
void FillBehindEditFields(QGroupBox* group);
