// The receiver's PMTK replies, sent by the simulated receiver, applied to the window's
// controls: acknowledgement boxes (and reception held while one is open), output rates onto
// indicators and rate boxes, the fix period onto cbFix and the DGPS/"Update" controls, the
// DGPS mode, the firmware version with the model table and the "10" entry, the EPO state
// text, and real acknowledgements from a capture.
//
// The process runs with the German time format (LC_TIME), so the locale-dependent EPO text
// can be compared with a literal.
#include <QApplication>
#include <QMessageBox>
#include <QtTest>
#include <cstdlib>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "sim/receiver_model.h"
#include "tests/app/support_window.h"

namespace {

// A receiver that stays silent until told to speak; replies to commands still come.
sim::SimOptions silentReceiver() {
  sim::SimOptions options = WindowFixture::DefaultSimOptions();
  options.model.startupMessage = false;
  options.model.rates = {};
  return options;
}

// The boxes that acknowledgements show.
std::vector<RecordedBox> ackBoxes(const std::vector<RecordedBox>& boxes) {
  std::vector<RecordedBox> out;
  for (const RecordedBox& b : boxes)
    if (b.title == QLatin1String("Send ok") || b.title == QLatin1String("Error")) out.push_back(b);
  return out;
}

// The six controls the fix-period reply may enable or disable.
QWidget* rateDependent(TForm1& f, const std::string& name) {
  const std::map<std::string, QWidget*> controls = {
      {"rbWAAS", f.rbWAAS},       {"rbRTCM", f.rbRTCM},       {"rbDisable", f.rbDisable},
      {"btDGPSSet", f.btDGPSSet}, {"btDGQuery", f.btDGQuery}, {"Button3", f.Button3},
  };
  return controls.at(name);
}

const std::vector<std::string> kRateDependentNames = {"rbWAAS",    "rbRTCM",    "rbDisable",
                                                      "btDGPSSet", "btDGQuery", "Button3"};

// Local Wednesday 2012-08-15 12:00 in a zone six hours east of UTC (GPS week 1701 began on
// Sunday 2012-08-12).
EpoClock wednesdayNoonUtcPlus6() {
  EpoClock clock;
  clock.now = 1345010400;  // 2012-08-15 06:00:00 UTC
  clock.timezoneSecondsWest = -6 * 3600;
  return clock;
}

}  // namespace

class RepliesTest : public QObject {
  Q_OBJECT

 private slots:
  // ---- Acknowledgements

  void acknowledgementBoxes_data() {
    QTest::addColumn<int>("ackFlag");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("title");
    QTest::newRow("flag 3: accepted") << -1 << "Set Successful!"
                                      << "Send ok";
    QTest::newRow("flag 2: valid but failed") << 2 << "Set Failed!"
                                              << "Error";
    QTest::newRow("flag 1: unsupported") << 1 << "Set Failed!"
                                         << "Error";
    QTest::newRow("flag 0: invalid") << 0 << "Set Failed!"
                                     << "Error";
  }

  void acknowledgementBoxes() {
    QFETCH(int, ackFlag);
    QFETCH(QString, text);
    QFETCH(QString, title);
    sim::SimOptions options = WindowFixture::DefaultSimOptions();
    options.model.ackFlagAll = ackFlag;
    WindowFixture fx(options);
    QVERIFY(fx.startConnected());
    QVERIFY(ackBoxes(fx.boxes()).empty());
    fx.form().btDefault->click();
    QVERIFY(fx.pumpUntil([&] { return !ackBoxes(fx.boxes()).empty(); }, 5000));
    fx.pumpUntil([] { return false; }, 200);
    const std::vector<RecordedBox> boxes = ackBoxes(fx.boxes());
    QCOMPARE(boxes.size(), std::size_t{1});
    QCOMPARE(boxes[0].text, text);
    QCOMPARE(boxes[0].title, title);
    QCOMPARE(boxes[0].buttons, BoxButtons::Ok);
  }

  void acknowledgementWithoutFlagFails() {
    WindowFixture fx;
    QVERIFY(fx.startConnected());
    QVERIFY(fx.sendFromReceiver({testsupport::NmeaFramed("PMTK001,314"), testsupport::NmeaFramed("PMTK001,314,x")}));
    const std::vector<RecordedBox> boxes = ackBoxes(fx.boxes());
    QCOMPARE(boxes.size(), std::size_t{2});
    for (const RecordedBox& b : boxes) {
      QCOMPARE(b.text, QStringLiteral("Set Failed!"));
      QCOMPARE(b.title, QStringLiteral("Error"));
    }
  }

  void openAcknowledgementHoldsReceptionUp() {
    WindowFixture fx(silentReceiver());
    QVERIFY(fx.start());
    QVERIFY(fx.connect());
    qsizetype seenWhileOpen = -1;
    qsizetype seenAtOpen = -1;
    SetMessageBoxHook([&](const MessageBoxRequest&) {
      // The user takes a while to press OK; the window keeps processing its events.
      seenAtOpen = fx.memoInserted().size();
      fx.pumpUntil([] { return false; }, 400);
      seenWhileOpen = fx.memoInserted().size();
      return int(QMessageBox::Ok);
    });
    QVERIFY(fx.sendFromReceiver({testsupport::NmeaFramed("PMTK001,314,3"),
                                 testsupport::NmeaFramed("GPZDA,120000.000,15,08,2012,,"),
                                 testsupport::NmeaFramed("GPZDA,120001.000,15,08,2012,,"),
                                 testsupport::NmeaFramed("GPZDA,120002.000,15,08,2012,,")}));
    QVERIFY(seenAtOpen >= 0);
    QCOMPARE(seenWhileOpen, seenAtOpen);  // nothing handled while the box was open
    QVERIFY(fx.memoInserted().count(QStringLiteral("GPZDA")) == 3);
  }

  void otherReplyNumbersAreIgnored() {
    WindowFixture fx;
    QVERIFY(fx.startConnected());
    TForm1& f = fx.form();
    const QString label27 = f.Label27->text();
    const int cbFixIndex = f.cbFix->currentIndex();
    const std::size_t boxesBefore = fx.boxes().size();
    QVERIFY(fx.sendFromReceiver({testsupport::NmeaFramed("PMTK010,001"), testsupport::NmeaFramed("PMTK702,1,2,3"),
                                 testsupport::NmeaFramed("PMTK,500"), testsupport::NmeaFramed("PMTKX705,a,b,c,d")}));
    QCOMPARE(fx.boxes().size(), boxesBefore);
    QCOMPARE(f.Label27->text(), label27);
    QCOMPARE(f.cbFix->currentIndex(), cbFixIndex);
  }

  // ---- Output rates

  void outputRatesOntoIndicatorsAndBoxes_data() {
    QTest::addColumn<QList<int>>("rates");     // the receiver's 19 rate fields
    QTest::addColumn<QList<bool>>("checked");  // CheckBox1..7, CheckBox9 (GGA GSA GSV RMC GLL VTG ZDA MCHN)
    QTest::addColumn<QList<int>>("selected");  // cbGGA cbGSA cbGSV cbRMC cbGLL cbVTG cbZDA cbMCHN
    QTest::newRow("GLL 1, RMC 1, VTG 0, GGA 1, GSA 1, GSV 5, ZDA 0, MCHN 0")
        << QList<int>{1, 1, 0, 1, 1, 5, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}
        << QList<bool>{true, true, true, true, true, false, false, false} << QList<int>{1, 1, 5, 1, 1, 0, 0, 0};
    QTest::newRow("fields 7 to 17 are not read; ZDA and MCHN from 18 and 19")
        << QList<int>{0, 0, 0, 0, 0, 0, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 2, 3}
        << QList<bool>{false, false, false, false, false, false, true, true} << QList<int>{0, 0, 0, 0, 0, 0, 2, 3};
    QTest::newRow("a rate beyond 5 ticks the indicator, leaves no item selected")
        << QList<int>{0, 0, 0, 1, 0, 7, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}
        << QList<bool>{true, false, true, false, false, false, false, false} << QList<int>{1, 0, -1, 0, 0, 0, 0, 0};
  }

  void outputRatesOntoIndicatorsAndBoxes() {
    QFETCH(QList<int>, rates);
    QFETCH(QList<bool>, checked);
    QFETCH(QList<int>, selected);
    sim::SimOptions options = WindowFixture::DefaultSimOptions();
    for (int i = 0; i < kRateFieldCount; ++i) options.model.rates[static_cast<std::size_t>(i)] = rates[i];
    WindowFixture fx(options);
    QVERIFY(fx.start());
    TForm1& f = fx.form();
    const std::vector<QCheckBox*> indicators = {f.CheckBox1, f.CheckBox2, f.CheckBox3, f.CheckBox4,
                                                f.CheckBox5, f.CheckBox6, f.CheckBox7, f.CheckBox9};
    const std::vector<QComboBox*> boxes = {f.cbGGA, f.cbGSA, f.cbGSV, f.cbRMC, f.cbGLL, f.cbVTG, f.cbZDA, f.cbMCHN};
    // Start from the opposite of what the reply brings.
    for (std::size_t i = 0; i < indicators.size(); ++i) {
      indicators[i]->setChecked(!checked[static_cast<qsizetype>(i)]);
      boxes[i]->setCurrentIndex(selected[static_cast<qsizetype>(i)] == 4 ? 3 : 4);
    }
    QVERIFY(fx.connect());
    // The rate reply answers the first connect query; the sentences that follow it hand it over.
    QVERIFY(fx.pumpUntil([&] { return fx.memoInserted().contains(QLatin1String("$PMTK514,")); }, 10000));
    for (std::size_t i = 0; i < indicators.size(); ++i) {
      QVERIFY2(indicators[i]->isChecked() == checked[static_cast<qsizetype>(i)],
               qPrintable(indicators[i]->objectName()));
      QVERIFY2(boxes[i]->currentIndex() == selected[static_cast<qsizetype>(i)], qPrintable(boxes[i]->objectName()));
    }
  }

  void ratesConfirmedComeBackFromTheReceiver() {
    WindowFixture fx;
    QVERIFY(fx.startConnected());
    TForm1& f = fx.form();
    f.cbZDA->setCurrentIndex(3);
    f.cbVTG->setCurrentIndex(0);
    f.btConfirm->click();
    // The receiver obeys and reports its new rates; the window had set nothing on its own.
    f.CheckBox7->setChecked(false);
    f.CheckBox6->setChecked(true);
    f.cbZDA->setCurrentIndex(0);
    QVERIFY(fx.pumpUntil([&] { return f.CheckBox7->isChecked() && !f.CheckBox6->isChecked(); }, 5000));
    QCOMPARE(f.cbZDA->currentIndex(), 3);
    QCOMPARE(f.cbVTG->currentIndex(), 0);
    QCOMPARE(ackBoxes(fx.boxes()).front().text, QStringLiteral("Set Successful!"));
  }

  // ---- Fix period

  void fixPeriodOntoControls_data() {
    QTest::addColumn<QString>("firmware");
    QTest::addColumn<QString>("reply");  // body of the PMTK500 reply
    QTest::addColumn<int>("indexBefore");
    QTest::addColumn<int>("indexAfter");
    QTest::addColumn<QStringList>("enabled");   // controls enabled by the reply
    QTest::addColumn<QStringList>("disabled");  // controls disabled by the reply
    const QStringList plain = {"rbWAAS", "rbRTCM", "btDGPSSet", "btDGQuery", "Button3"};
    const QStringList flagged = {"btDGPSSet", "btDGQuery", "rbDisable", "rbWAAS", "Button3"};
    const QString kappa31 = "AXN_1.30,0000,Kappa-31,1.0";
    const QString kappa32 = "AXN_1.30,0000,Kappa-32,1.0";
    const QString unlisted = "AXN_1.30,0000,Zeta-7,1.0";
    QTest::newRow("1000 selects 1") << kappa31 << "PMTK500,1000,0,0,0,0" << 3 << 0 << plain << QStringList{};
    QTest::newRow("500 selects 2") << kappa31 << "PMTK500,500,0,0,0,0" << 3 << 1 << plain << QStringList{};
    QTest::newRow("333 selects 3") << kappa31 << "PMTK500,333,0,0,0,0" << 0 << 2 << plain << QStringList{};
    QTest::newRow("250 selects 4") << kappa31 << "PMTK500,250,0,0,0,0" << 0 << 3 << plain << QStringList{};
    QTest::newRow("200 selects 5") << kappa31 << "PMTK500,200,0,0,0,0" << 0 << 4 << plain << QStringList{};
    QTest::newRow("150 keeps the selection, still enables")
        << kappa31 << "PMTK500,150,0,0,0,0" << 3 << 3 << plain << QStringList{};
    QTest::newRow("100 on a listed model without the flag: 10, enabled")
        << kappa31 << "PMTK500,100,0,0,0,0" << 0 << 5 << plain << QStringList{};
    QTest::newRow("100 without the 10 entry: no selection, enabled")
        << unlisted << "PMTK500,100,0,0,0,0" << 2 << -1 << plain << QStringList{};
    QTest::newRow("below 100 disables on a model without the flag")
        << kappa31 << "PMTK500,50,0,0,0,0" << 1 << 1 << QStringList{} << plain;
    QTest::newRow("no period field reads 0: disables, selection kept")
        << unlisted << "PMTK500" << 4 << 4 << QStringList{} << plain;
    QTest::newRow("flagged model at exactly 100 disables its five")
        << kappa32 << "PMTK500,100,0,0,0,0" << 0 << 5 << QStringList{} << flagged;
    QTest::newRow("flagged model at 1000 enables its five")
        << kappa32 << "PMTK500,1000,0,0,0,0" << 2 << 0 << flagged << QStringList{};
    QTest::newRow("flagged model below 100 enables its five")
        << kappa32 << "PMTK500,50,0,0,0,0" << 2 << 2 << flagged << QStringList{};
  }

  void fixPeriodOntoControls() {
    QFETCH(QString, firmware);
    QFETCH(QString, reply);
    QFETCH(int, indexBefore);
    QFETCH(int, indexAfter);
    QFETCH(QStringList, enabled);
    QFETCH(QStringList, disabled);
    sim::SimOptions options = WindowFixture::DefaultSimOptions();
    options.model.firmware = firmware.toStdString();
    WindowFixture fx(options);
    QVERIFY(fx.startConnected());
    TForm1& f = fx.form();
    f.cbFix->setCurrentIndex(indexBefore);
    // Each control starts opposite to what the reply should make it; the others must keep
    // the state they have (set here to the state the reply's own controls would not take).
    const bool untouchedState = enabled.isEmpty();
    for (const std::string& name : kRateDependentNames) {
      const QString n = QString::fromStdString(name);
      rateDependent(f, name)->setEnabled(enabled.contains(n) ? false : disabled.contains(n) ? true : untouchedState);
    }
    QVERIFY(fx.sendFromReceiver({testsupport::NmeaFramed(reply.toStdString())}));
    QCOMPARE(f.cbFix->currentIndex(), indexAfter);
    for (const std::string& name : kRateDependentNames) {
      const QString n = QString::fromStdString(name);
      const bool expected = enabled.contains(n) ? true : disabled.contains(n) ? false : untouchedState;
      QVERIFY2(rateDependent(f, name)->isEnabled() == expected, name.c_str());
    }
  }

  void kappa32Sequence() {
    WindowFixture fx;  // the simulated receiver reports Kappa-32
    QVERIFY(fx.startConnected());
    TForm1& f = fx.form();
    QVERIFY(f.tenHzModel);
    QCOMPARE(f.cbFix->count(), 6);
    QCOMPARE(f.cbFix->itemText(5), QStringLiteral("10"));
    QVERIFY(f.Button5->isEnabled());
    QCOMPARE(f.cbFix->currentIndex(), 0);  // the receiver runs one fix a second
    // A second version reply adds nothing.
    f.btVerQuery->click();
    QVERIFY(fx.pumpUntil([&] { return fx.memoInserted().count(QStringLiteral("$PMTK705,")) == 2; }, 5000));
    QCOMPARE(f.cbFix->count(), 6);

    // Ten fixes a second: the receiver obeys and reports 100 ms.
    f.cbFix->setCurrentIndex(5);
    f.btFixSet->click();
    QVERIFY(fx.pumpUntil([&] { return !f.Button3->isEnabled(); }, 5000));
    for (QWidget* w : std::initializer_list<QWidget*>{f.btDGPSSet, f.btDGQuery, f.rbDisable, f.rbWAAS, f.Button3})
      QVERIFY2(!w->isEnabled(), qPrintable(w->objectName()));
    QCOMPARE(f.cbFix->currentIndex(), 5);
    int period = 0;
    fx.sim().withModel([&](sim::ReceiverModel& m) { period = m.periodMs(); });
    QCOMPARE(period, 100);

    // Back to one a second: everything enabled again.
    f.cbFix->setCurrentIndex(0);
    f.btFixSet->click();
    QVERIFY(fx.pumpUntil([&] { return f.Button3->isEnabled(); }, 5000));
    for (QWidget* w : std::initializer_list<QWidget*>{f.btDGPSSet, f.btDGQuery, f.rbDisable, f.rbWAAS, f.Button3})
      QVERIFY2(w->isEnabled(), qPrintable(w->objectName()));
    QCOMPARE(f.cbFix->currentIndex(), 0);
  }

  void fixRateResetAnsweredWithABox() {
    WindowFixture fx;
    QVERIFY(fx.startConnected());
    TForm1& f = fx.form();
    f.cbFix->setCurrentIndex(5);
    f.btFixSet->click();
    QVERIFY(fx.pumpUntil([&] { return !f.Button3->isEnabled(); }, 5000));
    fx.boxes().clear();
    f.Button5->click();
    // The maker's reset puts the receiver back to one fix a second; its reply is a box, the
    // period query that follows brings cbFix and the controls back.
    QVERIFY(fx.pumpUntil([&] { return f.cbFix->currentIndex() == 0 && f.Button3->isEnabled(); }, 5000));
    QVERIFY(!fx.boxes().empty());
    QCOMPARE(fx.boxes().front().text, QStringLiteral("Set Successful!"));
    QCOMPARE(fx.boxes().front().title, QStringLiteral("Send ok"));
  }

  // ---- DGPS mode

  void dgpsModeOntoRadioButtons_data() {
    QTest::addColumn<QString>("reply");
    QTest::addColumn<QString>("checkedBefore");
    QTest::addColumn<QString>("checkedAfter");
    QTest::newRow("0: Disable") << "PMTK501,0"
                                << "rbWAAS"
                                << "rbDisable";
    QTest::newRow("1: the hidden RTCM") << "PMTK501,1"
                                        << "rbDisable"
                                        << "rbRTCM";
    QTest::newRow("2: SBAS") << "PMTK501,2"
                             << "rbDisable"
                             << "rbWAAS";
    QTest::newRow("3: no change") << "PMTK501,3"
                                  << "rbWAAS"
                                  << "rbWAAS";
    QTest::newRow("-1: no change") << "PMTK501,-1"
                                   << "rbRTCM"
                                   << "rbRTCM";
  }

  void dgpsModeOntoRadioButtons() {
    QFETCH(QString, reply);
    QFETCH(QString, checkedBefore);
    QFETCH(QString, checkedAfter);
    WindowFixture fx;
    QVERIFY(fx.startConnected());
    TForm1& f = fx.form();
    f.findChild<QRadioButton*>(checkedBefore)->setChecked(true);
    QVERIFY(fx.sendFromReceiver({testsupport::NmeaFramed(reply.toStdString())}));
    for (QRadioButton* b : {f.rbWAAS, f.rbRTCM, f.rbDisable})
      QVERIFY2(b->isChecked() == (b->objectName() == checkedAfter), qPrintable(b->objectName()));
  }

  void dgpsModeSetComesBackFromTheReceiver() {
    WindowFixture fx;
    QVERIFY(fx.startConnected());
    TForm1& f = fx.form();
    f.rbWAAS->setChecked(true);
    f.btDGPSSet->click();
    f.rbDisable->setChecked(true);  // the reply, not the click, must bring SBAS back
    QVERIFY(fx.pumpUntil([&] { return f.rbWAAS->isChecked(); }, 5000));
    QVERIFY(!f.rbDisable->isChecked());
    int mode = -1;
    fx.sim().withModel([&](sim::ReceiverModel& m) { mode = m.dgpsMode(); });
    QCOMPARE(mode, 2);
  }

  // ---- Firmware version and model

  void versionAndModel_data() {
    QTest::addColumn<QString>("firmware");  // fields 1 to 4 of the PMTK705 reply
    QTest::addColumn<bool>("listed");       // "10" entry present and Button5 enabled
    QTest::addColumn<bool>("tenHzModel");
    QTest::addColumn<QString>("label27");
    QTest::newRow("Kappa-20: listed, flagged")
        << "AXN_1.30,0000,Kappa-20,1.0" << true << true << "AXN_1.30,0000,Kappa-20,1.0";
    QTest::newRow("Kappa-31: listed") << "AXN_1.30,0000,Kappa-31,1.0" << true << false << "AXN_1.30,0000,Kappa-31,1.0";
    QTest::newRow("Kappa-32: listed, flagged")
        << "AXN_1.30,0000,Kappa-32,1.0" << true << true << "AXN_1.30,0000,Kappa-32,1.0";
    QTest::newRow("Kappa-33: listed") << "M-1.0,17,Kappa-33,x" << true << false << "M-1.0,17,Kappa-33,x";
    QTest::newRow("Kappa-40: listed") << "M-1.0,17,Kappa-40,x" << true << false << "M-1.0,17,Kappa-40,x";
    QTest::newRow("a model that begins with a listed name") << "M,1,Kappa-32B,2" << true << true << "M,1,Kappa-32B,2";
    QTest::newRow("unlisted model") << "AXN_2.10,3318,MT3339,1.1" << false << false << "AXN_2.10,3318,MT3339,1.1";
    QTest::newRow("case matters") << "M,1,kappa-32,2" << false << false << "M,1,kappa-32,2";
    QTest::newRow("a shorter name is not the model") << "M,1,Kappa-3,2" << false << false << "M,1,Kappa-3,2";
    QTest::newRow("no fourth field: trailing comma") << "M,1,Kappa-40" << true << false << "M,1,Kappa-40,";
  }

  void versionAndModel() {
    QFETCH(QString, firmware);
    QFETCH(bool, listed);
    QFETCH(bool, tenHzModel);
    QFETCH(QString, label27);
    sim::SimOptions options = WindowFixture::DefaultSimOptions();
    options.model.firmware = firmware.toStdString();
    WindowFixture fx(options);
    QVERIFY(fx.startConnected());
    TForm1& f = fx.form();
    QCOMPARE(f.Label27->text(), label27);
    QCOMPARE(f.tenHzModel, tenHzModel);
    QCOMPARE(f.Button5->isEnabled(), listed);
    QCOMPARE(f.cbFix->count(), listed ? 6 : 5);
    if (listed) QCOMPARE(f.cbFix->itemText(5), QStringLiteral("10"));
  }

  void unlistedModelRemovesTheTenEntry() {
    WindowFixture fx;  // Kappa-32 first
    QVERIFY(fx.startConnected());
    TForm1& f = fx.form();
    QCOMPARE(f.cbFix->count(), 6);
    f.cbFix->setCurrentIndex(5);
    fx.sim().withModel([](sim::ReceiverModel& m) { m.options().firmware = "AXN_2.10,3318,MT3339,1.1"; });
    f.btVerQuery->click();
    QVERIFY(fx.pumpUntil([&] { return f.Label27->text() == QLatin1String("AXN_2.10,3318,MT3339,1.1"); }, 5000));
    QCOMPARE(f.cbFix->count(), 5);
    QVERIFY(!f.Button5->isEnabled());
    // The entry shown is gone: no selection, rather than a rate the receiver never reported.
    QCOMPARE(f.cbFix->currentIndex(), -1);
    // Nothing clears the flag during a run.
    QVERIFY(f.tenHzModel);
    // A listed model again brings the entry back, once.
    fx.sim().withModel([](sim::ReceiverModel& m) { m.options().firmware = "AXN_1.30,0000,Kappa-40,1.0"; });
    f.btVerQuery->click();
    QVERIFY(fx.pumpUntil([&] { return f.Label27->text() == QLatin1String("AXN_1.30,0000,Kappa-40,1.0"); }, 5000));
    QCOMPARE(f.cbFix->count(), 6);
    QVERIFY(f.Button5->isEnabled());
  }

  // ---- EPO data state

  void epoStateText_data() {
    QTest::addColumn<int>("sets");
    QTest::addColumn<int>("firstWeek");
    QTest::addColumn<int>("firstTowS");
    QTest::addColumn<int>("lastWeek");
    QTest::addColumn<int>("lastTowS");
    QTest::addColumn<bool>("fixedClock");  // Wednesday 12:00 at UTC+6, else the real clock
    QTest::addColumn<QString>("text");
    QTest::newRow("no data") << 0 << 0 << 0 << 0 << 0 << false << "NO EPO Data!";
    QTest::newRow("seven days from this week's start, Wednesday noon at UTC+6")
        << 28 << 1701 << 0 << 1702 << 0 << true << "Remained 3 Days 18 Hours.";
    QTest::newRow("fourteen-day set: complete too")
        << 56 << 1701 << 0 << 1702 << 302400 << true << "Remained 7 Days 6 Hours.";
    QTest::newRow("data wholly in the past") << 28 << 1000 << 0 << 1001 << 0 << false << "Remained 0 Days 0 Hours.";
    QTest::newRow("incomplete set: start and end in the user's formats")
        << 10 << 1701 << 0 << 1701 << 388800 << true
        << "12.08.12 00:00:00 to 16.08.12 12:00:00\n Remained 1 Days 6 Hours.\n"
           "(EPO data update is not completely. Please update again.)";
    QTest::newRow("incomplete set in the past: negative remainder shown as 0")
        << 4 << 1701 << 0 << 1701 << 86400 << true
        << "12.08.12 00:00:00 to 13.08.12 00:00:00\n Remained 0 Days 0 Hours.\n"
           "(EPO data update is not completely. Please update again.)";
  }

  void epoStateText() {
    QFETCH(int, sets);
    QFETCH(int, firstWeek);
    QFETCH(int, firstTowS);
    QFETCH(int, lastWeek);
    QFETCH(int, lastTowS);
    QFETCH(bool, fixedClock);
    QFETCH(QString, text);
    sim::SimOptions options = WindowFixture::DefaultSimOptions();
    options.model.epoIsDefault = false;
    options.model.epo = {sets, firstWeek, firstTowS, lastWeek, lastTowS};
    WindowFixture fx(options);
    QVERIFY(fx.start());
    if (fixedClock) fx.form().epoClock = wednesdayNoonUtcPlus6;
    QVERIFY(fx.connectAndSettle());
    fx.form().Label39->setText(QStringLiteral("before"));
    fx.form().Button2->click();
    QVERIFY(fx.pumpUntil([&] { return fx.form().Label39->text() != QLatin1String("before"); }, 5000));
    QCOMPARE(fx.form().Label39->text(), text);
  }

  void epoNoDataWhateverTheOtherFields() {
    WindowFixture fx;
    QVERIFY(fx.startConnected());
    QVERIFY(fx.sendFromReceiver({testsupport::NmeaFramed("PMTK707,0,1701,0,1702,0,1701,0,1701,0")}));
    QCOMPARE(fx.form().Label39->text(), QStringLiteral("NO EPO Data!"));
  }

  void epoClearedThenQueried() {
    WindowFixture fx;  // a current seven-day set
    QVERIFY(fx.startConnected());
    TForm1& f = fx.form();
    f.Button2->click();
    QVERIFY(fx.pumpUntil([&] { return f.Label39->text().startsWith(QLatin1String("Remained ")); }, 5000));
    fx.boxAnswer = QMessageBox::Yes;
    f.Button4->click();
    QCOMPARE(f.Label39->text(), QStringLiteral("Cleaned EPO Data "));
    f.Button2->click();
    QVERIFY(fx.pumpUntil([&] { return f.Label39->text() == QLatin1String("NO EPO Data!"); }, 5000));
  }

  // ---- Real acknowledgements

  void captureAcknowledgementsShowTheirBoxes() {
    WindowFixture fx(silentReceiver());
    QVERIFY(fx.start());
    QVERIFY(fx.connect());
    const std::vector<std::string> lines =
        sim::ReadCaptureLines(testsupport::ReadTestData("sample_gpsdata_usbttl_5.txt"));
    QVERIFY(lines.size() > 3);
    fx.sim().withModel([&](sim::ReceiverModel& m) {
      m.options().replayFast = true;
      m.startReplay(lines);
    });
    QVERIFY(fx.pumpUntil([&] { return fx.sim().replayFinished(); }, 30000));
    // Everything but the last sentence (it waits for a "$" that never comes) is handled.
    const QString lastButOne = QString::fromLatin1(lines[lines.size() - 2].c_str()).remove(QLatin1Char('\r'));
    QVERIFY(fx.pumpUntil([&] { return fx.memoInserted().contains(lastButOne); }, 30000));
    QCOMPARE(fx.boxes().size(), std::size_t{2});
    for (const RecordedBox& b : fx.boxes()) {
      QCOMPARE(b.text, QStringLiteral("Set Successful!"));
      QCOMPARE(b.title, QStringLiteral("Send ok"));
      QCOMPARE(b.buttons, BoxButtons::Ok);
    }
  }
};

int main(int argc, char** argv) {
  // Dates and times in a fixed locale; numbers stay in the C locale.
  unsetenv("LC_ALL");
  setenv("LC_TIME", "de_DE.UTF-8", 1);
  QApplication app(argc, argv);
  RepliesTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "test_replies_controls.moc"
