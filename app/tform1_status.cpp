// The computed displays of the window: the bandwidth estimate (Timer1), the fix timer
// (Timer2) and the rebuild of the sky plot and the signal chart after a complete GSV group.
//
// Thread rule: window thread only (timers and the per-sentence update run there).
#include <QString>
#include <cmath>

#include "app/tform1.h"
#include "link/status_rules.h"

namespace {

// Up to this many bubbles keep their full size: a GPS receiver's sky rarely holds more.
constexpr std::size_t kRoomyBubbles = 16;

void setFontColour(QWidget* widget, TColor colour) {
  QPalette palette = widget->palette();
  const QColor wanted = ToQColor(colour);
  if (palette.color(QPalette::WindowText) == wanted) return;  // no repaint five times a second
  palette.setColor(QPalette::WindowText, wanted);
  widget->setPalette(palette);
}

}  // namespace

void TForm1::Timer1Timer() {
  BandwidthInputs inputs{ComboBox2->currentText(), {}, cbFix->currentIndex()};
  for (const SentenceControlsRow& row : kSentenceControls) {
    inputs.rateIndex[IndexOf(row.kind)] = (this->*row.rateBox)->currentIndex();
  }
  if (inputs == lastBandwidthInputs) return;  // the labels show this estimate already
  const auto estimate = EstimateBandwidth(inputs.baudText.toStdString(), inputs.rateIndex, inputs.fixIndex);
  lastBandwidthInputs = std::move(inputs);
  // While the baud text or the fix rate is undefined the labels keep what they show.
  if (!estimate) return;
  lbFix->setText(QString::number(estimate->fixRateHz));
  lbRS->setText(QString::fromStdString(estimate->text));
  const TColor colour = estimate->red ? clRed : clWhite;
  setFontColour(lbRS, colour);
  setFontColour(Label40, colour);
}

void TForm1::Timer2Timer() { FixTimerTick(session.state); }

void TForm1::RebuildCharts() {
  if (!session.state.gsvCycleComplete) return;
  const std::vector<ChartSatellite> satellites = TakeChartSatellites(session.state);
  session.state.gsvCycleComplete = false;

  Series1->clear();
  Series2->clear();
  // Invisible anchors: they make both automatic axes span -150..150 at least, so the plot's
  // origin stays under the cross of the background picture whatever satellites are shown.
  Series1->addBubble(150, 150, 1, QString(), clNone);
  Series1->addBubble(150, -150, 1, QString(), clNone);
  Series1->addBubble(-150, 150, 1, QString(), clNone);
  Series1->addBubble(-150, -150, 1, QString(), clNone);
  // A full sky of several systems: smaller bubbles, so that neighbours cover less of each other.
  const double radius =
      satellites.size() <= kRoomyBubbles
          ? 20.0
          : 20.0 * std::sqrt(static_cast<double>(kRoomyBubbles) / static_cast<double>(satellites.size()));
  for (const ChartSatellite& sat : satellites) {
    const TColor colour = sat.color;  // blue when its system's latest GSA lists it, silver otherwise
    const QString label = QString::fromLatin1(sat.label.data(), static_cast<qsizetype>(sat.label.size()));
    const QString number = QString::fromLatin1(sat.prn.data(), static_cast<qsizetype>(sat.prn.size()));
    const std::string_view system = GnssSystemName(sat.system);
    Series2->add(sat.snr, label, colour, QString::fromLatin1(system.data(), static_cast<qsizetype>(system.size())),
                 number);
    Series1->addBubble(sat.x, sat.y, radius, label, colour);
  }
}
