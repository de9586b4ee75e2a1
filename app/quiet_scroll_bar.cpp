// Scroll bar repaints held to the changes that show.
//
// Thread rule: window thread only.
#include "app/quiet_scroll_bar.h"

QuietScrollBar::QuietScrollBar(Qt::Orientation orientation, QWidget* parent)
    : QScrollBar(orientation, parent), shownPageStep_(pageStep()) {
  setAutoFillBackground(true);
}

void QuietScrollBar::sliderChange(SliderChange change) {
  // The single step is not drawn; the page step is, as the slider's length.
  if (change == SliderStepsChange && pageStep() == shownPageStep_) return;
  shownPageStep_ = pageStep();
  QScrollBar::sliderChange(change);
}
