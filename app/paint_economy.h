// What the window does to keep its painting cheap while a receiver talks at line speed. A
// receiver delivers hundreds of sentences a second, each changing the console and some
// fields; painting after every change would cost far more than handling the sentences. Each
// economy here rests on a way Qt repaints that Qt does not promise, so each says what it
// saves and what it relies on. tests/app/test_charts.cpp fails when what they rely on is
// gone: qtStillDoesWhatAnEconomyRestsOn checks what Qt does for each, aChangeRepaintsWhereItShows
// that the window's repaints stay where the change shows.
//
// The savings were measured with bench/window_cost.py against the window of the same build
// with that one economy switched off, runs alternating, medians of five (seven where said), on
// a two-core machine shared with other work, whose runs spread by about ±0.3 points paced and
// ±25 % drained. "paced" is the window's CPU on a saturated 115200 line (about 174 sentences
// a second, read about 20 times a second); "drained" the sentences a second it handles when
// it is the bottleneck.
//
// Dropped: scroll bars that skipped the repaint for a page step set to the one it was. This Qt
// (6.4) calls sliderChange only for a step that changes, not once in a hundred console lines
// inserted one by one, so there was nothing left to skip: paced 2.68 % with the check, 2.81 %
// without, within the spread.
//
// Thread rule: window thread only.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QPlainTextDocumentLayout>
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
// Saves: drained, 54 800 sentences a second with it, 37 000 without (runs with: 46 245
// 45 205 54 793 56 348 56 404; without: 32 169 37 030 32 511 40 046 44 199). Paced little:
// 2.85 % with it, 2.97 % without, as the reader's gathering already leaves fewer reads than
// frames.
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
// reads again (kReaderGatherMs); that pause is longer than the shortest repaint frame, so the
// repaint after each read goes through at once. With a pause of a frame or less, the repaints
// could settle a fraction of a frame behind the reads and each cost a wake-up of its own.
//
// Saves: paced, 2.33 % with the 50 ms pause, 2.90 % with a 35 ms one (runs with: 2.41 2.34
// 2.33 2.19 2.23; with 35 ms: 2.95 2.90 2.84 2.63 2.97). The shorter pause also reads more
// often, which accounts for some of it.
static_assert(kReaderGatherMs > RepaintPacer::kMinFrameMs, "a read's repaint must not wait for a frame's end");

// The scroll bars of an area fill their own background, so a repaint of a bar alone (the
// console's vertical bar moves with every read) does not first repaint the area's frame and
// the group box behind it. The style covers the whole bar anyway, so what is shown is the
// same.
//
// Saves: paced, 2.73 % with it, 3.00 % without (runs with: 2.79 2.42 2.73 3.00 2.71;
// without: 2.86 3.00 3.20 3.14 2.90).
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
// Saves: paced, 2.68 % with it, 3.23 % without (runs with: 2.68 2.58 2.73 2.93 2.49;
// without: 3.19 3.23 3.66 3.09 3.62).
//
// Relies on: QAbstractScrollArea connects each bar's rangeChanged to its private slot
// _q_showOrHideScrollBars(), by that name. Where the slot goes by another name the link stays
// as it is and only the saving is lost.
void KeepScrollBarsInPlace(QAbstractScrollArea* area);

// The console's layout keeps each line's shaped text. A plain text layout throws it away once
// a line is laid out and shapes every visible line again on every repaint. The console holds
// at most fifty lines, so keeping them costs next to nothing.
//
// Saves: paced, 0.13 points on average over 21 alternating runs in three sets, lower with it
// in 13 of the 21 pairs (medians of the sets with it: 2.62 2.39 2.77 %; without: 2.60 2.58
// 2.94 %). Drained, nothing beyond the spread (61 100 sentences a second with it, 60 500
// without, medians of seven).
//
// Relies on: QPlainTextDocumentLayout lays a line out in the QTextLayout the block already has,
// leaving its cache setting as set before; QPlainTextEdit keeps the layout it was given through
// clearing and new text.
class KeptLinesLayout : public QPlainTextDocumentLayout {
 public:
  using QPlainTextDocumentLayout::QPlainTextDocumentLayout;

 protected:
  void documentChanged(int from, int charsRemoved, int charsAdded) override;
};

// An edit field paints its rounded frame over whatever lies behind its corners, so each
// change of its text first repaints the group box around it, frame picture and all. Where the
// group is one plain colour behind a field, the field fills its rectangle with that colour
// itself and the group box is no longer repainted for it. The colour is read from the group
// as the style draws it (its frame picture tints the inside a little), so what is shown stays
// the same to the pixel; a field with anything else behind it is left as it is.
//
// Saves: paced, 2.44 % with it, 2.70 % without (runs with: 2.50 2.35 2.41 2.44 2.49;
// without: 2.82 2.79 2.58 2.69 2.70).
//
// Relies on: rendering the group box with its window background alone draws what lies behind
// its fields; a widget that fills its background with an opaque colour is painted without the
// widgets beneath it; the style's line edit frame leaves the field's own background where it
// does not draw.
void FillBehindEditFields(QGroupBox* group);
