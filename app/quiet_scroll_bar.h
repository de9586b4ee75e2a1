// A scroll bar that repaints only when what it shows changes. A plain text edit resets both
// of its scroll bars' page steps after every insertion, and a plain scroll bar repaints on
// each such call even when the step is the one it had; at hundreds of console lines a second
// that kept both bars, and the frames and group box behind them, repainting every frame.
// It also fills its own background, so a repaint of the bar alone does not first repaint
// everything behind it (the styles we use cover the whole bar anyway).
//
// Thread rule: window thread only.
#pragma once

#include <QScrollBar>

class QuietScrollBar : public QScrollBar {
 public:
  explicit QuietScrollBar(Qt::Orientation orientation, QWidget* parent = nullptr);

 protected:
  void sliderChange(SliderChange change) override;

 private:
  int shownPageStep_;  // the page step the bar was last repainted for
};
