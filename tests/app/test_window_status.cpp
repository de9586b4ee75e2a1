// The computed displays driven through the window's own controls: the "Data Bandwidth"
// figures and colours from the baud, rate and fix-rate boxes, what they keep while an input is
// undefined, and the fix timer's tick.
#include <QtTest>
#include <array>

#include "app/message_box.h"
#include "app/tform1.h"
#include "tests/app/support_window.h"

namespace {

const QColor kWhite(255, 255, 255);
const QColor kRed(255, 0, 0);

QColor fontColour(const QWidget* w) { return w->palette().color(QPalette::WindowText); }

}  // namespace

class WindowStatusTest : public QObject {
  Q_OBJECT

 private:
  TForm1* form = nullptr;

  std::array<QComboBox*, 8> rateBoxes() const {
    return {form->cbGLL, form->cbRMC, form->cbVTG, form->cbGSA, form->cbGSV, form->cbGGA, form->cbZDA, form->cbMCHN};
  }

 private slots:
  void init() {
    form = OpenBareWindow();
    QVERIFY(QTest::qWaitForWindowExposed(form));
    form->Timer1->stop();  // the tests tick by hand, except where the timer itself is the point
  }
  void cleanup() { CloseBareWindow(form); }

  void bandwidthFigures_data() {
    QTest::addColumn<QString>("baud");
    QTest::addColumn<QList<int>>("rates");  // GLL RMC VTG GSA GSV GGA ZDA MCHN
    QTest::addColumn<int>("fixIndex");
    QTest::addColumn<QString>("hz");
    QTest::addColumn<QString>("percent");
    QTest::addColumn<bool>("red");
    QTest::newRow("4800, GGA GSA GSV RMC, 1 Hz") << "4800" << QList<int>{0, 1, 0, 1, 1, 1, 0, 0} << 0 << "1"
                                                 << "98.7" << false;
    QTest::newRow("the same at 2 Hz") << "4800" << QList<int>{0, 1, 0, 1, 1, 1, 0, 0} << 1 << "2"
                                      << "197.4" << true;
    QTest::newRow("rates 5 count as on, nothing more") << "4800" << QList<int>{0, 5, 0, 5, 5, 5, 0, 0} << 0 << "1"
                                                       << "98.7" << false;
    QTest::newRow("exactly 100 stays white") << "9600" << QList<int>{0, 1, 1, 0, 0, 1, 0, 0} << 4 << "5"
                                             << "100.0" << false;
    QTest::newRow("57600 typed: a rate of the table") << "57600" << QList<int>{0, 0, 0, 0, 1, 0, 0, 1} << 2 << "3"
                                                      << "24.0" << false;
  }
  void bandwidthFigures() {
    QFETCH(QString, baud);
    QFETCH(QList<int>, rates);
    QFETCH(int, fixIndex);
    QFETCH(QString, hz);
    QFETCH(QString, percent);
    QFETCH(bool, red);
    form->ComboBox2->setEditText(baud);
    for (int i = 0; i < 8; ++i) rateBoxes()[static_cast<std::size_t>(i)]->setCurrentIndex(rates[i]);
    form->cbFix->setCurrentIndex(fixIndex);
    form->Timer1Timer();
    QCOMPARE(form->lbFix->text(), hz);
    QCOMPARE(form->lbRS->text(), percent);
    QCOMPARE(fontColour(form->lbRS), red ? kRed : kWhite);
    QCOMPARE(fontColour(form->Label40), red ? kRed : kWhite);
  }

  // At start cbFix has no item selected: the labels keep "1" and "0.0".
  void startKeepsInitialTexts() {
    form->Timer1Timer();
    QCOMPARE(form->lbFix->text(), QStringLiteral("1"));
    QCOMPARE(form->lbRS->text(), QStringLiteral("0.0"));
    QCOMPARE(fontColour(form->lbRS), kWhite);
  }

  // Once shown, a figure stays while an input becomes undefined, red included.
  void undefinedInputsKeepTheLastFigure_data() {
    QTest::addColumn<QString>("baud");
    QTest::addColumn<int>("fixIndex");
    QTest::newRow("baud text not a number") << "fast" << 1;
    QTest::newRow("baud not in the table") << "2400" << 1;
    QTest::newRow("fix-rate box typed over") << "4800" << -1;
  }
  void undefinedInputsKeepTheLastFigure() {
    QFETCH(QString, baud);
    QFETCH(int, fixIndex);
    form->ComboBox2->setEditText(QStringLiteral("4800"));
    for (QComboBox* box : {form->cbRMC, form->cbGSA, form->cbGSV, form->cbGGA}) box->setCurrentIndex(1);
    form->cbFix->setCurrentIndex(1);
    form->Timer1Timer();
    QCOMPARE(form->lbRS->text(), QStringLiteral("197.4"));

    form->ComboBox2->setEditText(baud);
    form->cbFix->setCurrentIndex(fixIndex);
    if (fixIndex < 0) form->cbFix->setEditText(QStringLiteral("7"));
    form->Timer1Timer();
    QCOMPARE(form->lbFix->text(), QStringLiteral("2"));
    QCOMPARE(form->lbRS->text(), QStringLiteral("197.4"));
    QCOMPARE(fontColour(form->lbRS), kRed);
  }

  // A rate box typed over has no selected item and counts as on.
  void typedRateBoxCountsAsOn() {
    form->ComboBox2->setEditText(QStringLiteral("4800"));
    form->cbFix->setCurrentIndex(0);
    for (QComboBox* box : {form->cbRMC, form->cbGSA, form->cbGSV}) box->setCurrentIndex(1);
    form->PageControl1->setCurrentWidget(form->TabSheet2);
    form->cbGGA->lineEdit()->selectAll();
    QTest::keyClicks(form->cbGGA->lineEdit(), QStringLiteral("9"));
    QCOMPARE(form->cbGGA->currentIndex(), -1);
    form->Timer1Timer();
    QCOMPARE(form->lbRS->text(), QStringLiteral("98.7"));
  }

  // Timer1 runs from the start and drives the estimate by itself.
  void timer1DrivesTheEstimate() {
    form->ComboBox2->setEditText(QStringLiteral("4800"));
    for (QComboBox* box : {form->cbRMC, form->cbGSA, form->cbGSV, form->cbGGA}) box->setCurrentIndex(1);
    form->cbFix->setCurrentIndex(1);
    form->Timer1->start();
    QTRY_COMPARE(form->lbRS->text(), QStringLiteral("197.4"));
  }

  // Each tick counts one second without a 3D fix; the tick shows nothing by itself.
  void fixTimerTicks() {
    ReceiverState& state = form->session.state;
    const struct {
      const char* mode;
      int after;
    } steps[] = {{"", 1}, {"No Fix", 2}, {"2D", 3}, {"3D", 3}, {"3D", 3}, {"2D", 4}};
    for (const auto& step : steps) {
      state.lastFixMode = step.mode;
      form->Timer2Timer();
      QCOMPARE(state.fixTimerSeconds, step.after);
    }
    QCOMPARE(form->Edit1->text(), QStringLiteral("0"));
    state.fixTimerSeconds = 999999;
    state.lastFixMode = "No Fix";
    form->Timer2Timer();
    QCOMPARE(state.fixTimerSeconds, 999999);
  }

  void timer2DrivesTheFixTimer() {
    form->session.state.lastFixMode = "No Fix";
    form->Timer2->start();
    QTRY_VERIFY(form->session.state.fixTimerSeconds >= 1);
    form->Timer2->stop();
  }

  // Without a completed GSV group the rebuild leaves both charts as they are.
  void rebuildWithoutCompletedGroupDoesNothing() {
    form->Series2->add(33, QStringLiteral("5"), clBlue);
    form->session.handle(testsupport::NmeaFramed("GPGSV,2,1,01,07,45,180,30"));
    form->RebuildCharts();
    QCOMPARE(form->Series2->count(), 1);
    QCOMPARE(form->Series1->count(), 0);
    QCOMPARE(form->session.state.satellites.cycleOf(SkySource::GP).fillingCount(), std::size_t{1});
  }
};

QTEST_MAIN(WindowStatusTest)
#include "test_window_status.moc"
