// A scroll bar that repaints only when what it shows changes. A plain text edit sets both
// of its scroll bars' page steps after every insertion, and a plain scroll bar repaints on
// each such call even when the step is the one it had; at hundreds of console lines a second
// that kept the horizontal bar, whose range and value hardly ever change, repainting every
// frame. It also fills its own background, so a repaint of the bar alone does not first
// repaint the frame and the group box behind it (the style covers the whole bar anyway, so
// what is shown is the same).
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
