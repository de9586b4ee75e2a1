// The window as it opens: every control under its name and type, captions, list items,
// start states, covered and hidden groups, colours, fonts, timers, title and save dialog.
#include <QAbstractItemView>
#include <QFontDatabase>
#include <QRawFont>
#include <QRegularExpression>
#include <QtTest>
#include <functional>

#include "app/message_box.h"
#include "app/tform1.h"
#include "tests/app/support_window.h"

namespace {

struct Control {
  const char* name;
  const char* className;
  std::function<QObject*(TForm1&)> member;
};

#define CONTROL(member_, class_)                                        \
  Control {                                                             \
#member_, #class_, [](TForm1 & f) -> QObject* { return f.member_; } \
  }

const std::vector<Control>& allControls() {
  static const std::vector<Control> controls = {
      CONTROL(PageControl1, QTabWidget),
      CONTROL(TabSheet1, QWidget),
      CONTROL(TabSheet2, QWidget),
      CONTROL(GroupBox1, QGroupBox),
      CONTROL(GroupBox2, QGroupBox),
      CONTROL(GroupBox3, QGroupBox),
      CONTROL(GroupBox4, QGroupBox),
      CONTROL(GroupBox5, QGroupBox),
      CONTROL(GroupBox6, QGroupBox),
      CONTROL(GroupBox7, QGroupBox),
      CONTROL(GroupBox8, QGroupBox),
      CONTROL(GroupBox9, QGroupBox),
      CONTROL(GroupBox10, QGroupBox),
      CONTROL(GroupBox11, QGroupBox),
      CONTROL(GroupBox12, QGroupBox),
      CONTROL(GroupBox13, QGroupBox),
      CONTROL(GroupBox14, QGroupBox),
      CONTROL(GroupBox15, QGroupBox),
      CONTROL(GroupBox16, QGroupBox),
      CONTROL(GroupBox17, QGroupBox),
      CONTROL(GroupBox18, QGroupBox),
      CONTROL(GroupBox19, QGroupBox),
      CONTROL(Label1, QLabel),
      CONTROL(Label2, QLabel),
      CONTROL(Label3, QLabel),
      CONTROL(Label4, QLabel),
      CONTROL(Label5, QLabel),
      CONTROL(Label6, QLabel),
      CONTROL(Label7, QLabel),
      CONTROL(Label8, QLabel),
      CONTROL(Label9, QLabel),
      CONTROL(Label10, QLabel),
      CONTROL(Label11, QLabel),
      CONTROL(Label12, QLabel),
      CONTROL(Label13, QLabel),
      CONTROL(Label14, QLabel),
      CONTROL(Label15, QLabel),
      CONTROL(Label16, QLabel),
      CONTROL(Label17, QLabel),
      CONTROL(Label18, QLabel),
      CONTROL(Label19, QLabel),
      CONTROL(Label20, QLabel),
      CONTROL(Label21, QLabel),
      CONTROL(Label22, QLabel),
      CONTROL(Label23, QLabel),
      CONTROL(Label24, QLabel),
      CONTROL(Label25, QLabel),
      CONTROL(Label26, QLabel),
      CONTROL(Label27, QLabel),
      CONTROL(Label28, QLabel),
      CONTROL(Label29, QLabel),
      CONTROL(Label30, QLabel),
      CONTROL(Label31, QLabel),
      CONTROL(Label32, QLabel),
      CONTROL(Label33, QLabel),
      CONTROL(Label34, QLabel),
      CONTROL(Label35, QLabel),
      CONTROL(Label36, QLabel),
      CONTROL(Label37, QLabel),
      CONTROL(Label38, QLabel),
      CONTROL(Label39, QLabel),
      CONTROL(Label40, QLabel),
      CONTROL(TntLabel1, QLabel),
      CONTROL(N, QLabel),
      CONTROL(S, QLabel),
      CONTROL(E, QLabel),
      CONTROL(W, QLabel),
      CONTROL(TheTime, QLabel),
      CONTROL(lbFix, QLabel),
      CONTROL(lbRS, QLabel),
      CONTROL(lbTimes, QLabel),
      CONTROL(lbTest, QLabel),
      CONTROL(GLL, QLabel),
      CONTROL(RMC, QLabel),
      CONTROL(VTG, QLabel),
      CONTROL(GSA, QLabel),
      CONTROL(GSV, QLabel),
      CONTROL(GGA, QLabel),
      CONTROL(ZDA, QLabel),
      CONTROL(MCHN, QLabel),
      CONTROL(Shape1, QFrame),
      CONTROL(Shape2, QFrame),
      CONTROL(ComboBox1, QComboBox),
      CONTROL(ComboBox2, QComboBox),
      CONTROL(cbGLL, QComboBox),
      CONTROL(cbRMC, QComboBox),
      CONTROL(cbVTG, QComboBox),
      CONTROL(cbGSA, QComboBox),
      CONTROL(cbGSV, QComboBox),
      CONTROL(cbGGA, QComboBox),
      CONTROL(cbZDA, QComboBox),
      CONTROL(cbMCHN, QComboBox),
      CONTROL(cbBA, QComboBox),
      CONTROL(cbFix, QComboBox),
      CONTROL(cbRTCMBD, QComboBox),
      CONTROL(cbDatum, QComboBox),
      CONTROL(Button1, QPushButton),
      CONTROL(Button2, QPushButton),
      CONTROL(Button3, QPushButton),
      CONTROL(Button4, QPushButton),
      CONTROL(Button5, QPushButton),
      CONTROL(hot, QPushButton),
      CONTROL(warm, QPushButton),
      CONTROL(cold, QPushButton),
      CONTROL(StartLog, QPushButton),
      CONTROL(StopLog, QPushButton),
      CONTROL(btDefault, QPushButton),
      CONTROL(btConfirm, QPushButton),
      CONTROL(btNAQuery, QPushButton),
      CONTROL(btBAUSet, QPushButton),
      CONTROL(btFixQuery, QPushButton),
      CONTROL(btFixSet, QPushButton),
      CONTROL(btDGQuery, QPushButton),
      CONTROL(btDGPSSet, QPushButton),
      CONTROL(btDatumSet, QPushButton),
      CONTROL(btDaQuery, QPushButton),
      CONTROL(btSBASSet, QPushButton),
      CONTROL(btSBASQuery, QPushButton),
      CONTROL(btAllSet, QPushButton),
      CONTROL(btAllQuery, QPushButton),
      CONTROL(btWakeup, QPushButton),
      CONTROL(btVerQuery, QPushButton),
      CONTROL(Memo1, QPlainTextEdit),
      CONTROL(Chart1, BubbleChart),
      CONTROL(Chart2, BarChart),
      CONTROL(EdDate, QLineEdit),
      CONTROL(EdTime, QLineEdit),
      CONTROL(EdLat, QLineEdit),
      CONTROL(EdLon, QLineEdit),
      CONTROL(EdMode, QLineEdit),
      CONTROL(EdSpeed, QLineEdit),
      CONTROL(EdPDOP, QLineEdit),
      CONTROL(EdHeight, QLineEdit),
      CONTROL(Edit1, QLineEdit),
      CONTROL(CheckBox1, QCheckBox),
      CONTROL(CheckBox2, QCheckBox),
      CONTROL(CheckBox3, QCheckBox),
      CONTROL(CheckBox4, QCheckBox),
      CONTROL(CheckBox5, QCheckBox),
      CONTROL(CheckBox6, QCheckBox),
      CONTROL(CheckBox7, QCheckBox),
      CONTROL(CheckBox8, QCheckBox),
      CONTROL(CheckBox9, QCheckBox),
      CONTROL(cbTest, QCheckBox),
      CONTROL(rbWAAS, QRadioButton),
      CONTROL(rbDisable, QRadioButton),
      CONTROL(rbRTCM, QRadioButton),
      CONTROL(rbIntegrity, QRadioButton),
      CONTROL(rbTest, QRadioButton),
      CONTROL(Timer1, QTimer),
      CONTROL(Timer2, QTimer),
  };
  return controls;
}

QString textOf(QObject* o) {
  if (auto* l = qobject_cast<QLabel*>(o)) return l->text();
  if (auto* b = qobject_cast<QAbstractButton*>(o)) return b->text();
  if (auto* g = qobject_cast<QGroupBox*>(o)) return g->title();
  if (auto* e = qobject_cast<QLineEdit*>(o)) return e->text();
  if (auto* c = qobject_cast<QComboBox*>(o)) return c->currentText();
  if (auto* m = qobject_cast<QPlainTextEdit*>(o)) return m->toPlainText();
  return QStringLiteral("<no text>");
}

QStringList itemsOf(const QComboBox* box) {
  QStringList items;
  for (int i = 0; i < box->count(); ++i) items << box->itemText(i);
  return items;
}

bool isWithin(const QWidget* widget, const QWidget* ancestor) {
  for (const QWidget* w = widget; w != nullptr; w = w->parentWidget())
    if (w == ancestor) return true;
  return false;
}

// The widget that a user sees at a point of a tab page: childAt honours visibility and the
// stacking order, exactly as mouse hits and painting do.
QWidget* seenAt(QWidget* page, QPoint p) { return page->childAt(p); }

}  // namespace

class WindowLayoutTest : public QObject {
  Q_OBJECT

 private:
  TForm1* form = nullptr;

 private slots:
  void init() {
    form = OpenBareWindow();
    QVERIFY(QTest::qWaitForWindowExposed(form));
  }
  void cleanup() { CloseBareWindow(form); }

  void everyControlHasItsNameAndType() {
    for (const Control& c : allControls()) {
      QObject* member = c.member(*form);
      QVERIFY2(member != nullptr, c.name);
      QCOMPARE(member->objectName(), QString::fromLatin1(c.name));
      QVERIFY2(member->inherits(c.className), c.name);
      // The one with this name is the member itself.
      QCOMPARE(form->findChild<QObject*>(QString::fromLatin1(c.name)), member);
    }
    QCOMPARE(Form1, form);
    QCOMPARE(form->Series1, form->Chart1->series());
    QCOMPARE(form->Series2, form->Chart2->series());
  }

  void captionsAndInitialTexts_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("text");
    const std::pair<const char*, QString> rows[] = {
        {"Label2", QString::fromUtf8("Please choose\xEF\xBC\x9A")},
        {"Button1", "On"},
        {"hot", "hot"},
        {"warm", "warm"},
        {"cold", "cold"},
        {"StartLog", "StartLog"},
        {"StopLog", "StopLog"},
        {"N", "N"},
        {"S", "S"},
        {"E", "E"},
        {"W", "W"},
        {"TntLabel1", QString(QChar(0x00B0))},
        {"Label9", "Date"},
        {"Label8", "Time"},
        {"Label6", "Latitude"},
        {"Label7", "Longitude"},
        {"Label3", "Mode"},
        {"Label4", "Speed"},
        {"Label10", "PDOP"},
        {"Label5", "Altitude"},
        {"TheTime", "TheTime"},
        {"Edit1", "0"},
        {"EdDate", ""},
        {"EdTime", ""},
        {"EdLat", ""},
        {"EdLon", ""},
        {"EdMode", ""},
        {"EdSpeed", ""},
        {"EdPDOP", ""},
        {"EdHeight", ""},
        {"Memo1", ""},
        {"Label1", "GGA"},
        {"Label11", "GSA"},
        {"Label12", "GSV"},
        {"Label13", "RMC"},
        {"Label15", "GLL"},
        {"Label16", "VTG"},
        {"Label14", "ZDA"},
        {"Label28", "MCHN"},
        {"GroupBox7", "NMEA Output Settings"},
        {"GroupBox8", "DGPS"},
        {"GroupBox13", "AGPS"},
        {"GroupBox19", "Firmware Version"},
        {"GroupBox12", "About"},
        {"GroupBox9", "Datum"},
        {"GroupBox16", "Current"},
        {"GroupBox10", "SBAS"},
        {"GroupBox11", "Write setting into flash (remian      times to modify)  "},
        {"GroupBox17", "NMEA  Output"},
        {"GroupBox15", "Baudrate"},
        {"GroupBox14", "Fix Update Rate"},
        {"GroupBox18", "Data Bandwidth"},
        {"GLL", "GLL"},
        {"RMC", "RMC"},
        {"VTG", "VTG"},
        {"GSA", "GSA"},
        {"GSV", "GSV"},
        {"GGA", "GGA"},
        {"ZDA", "ZDA"},
        {"MCHN", "MCHN"},
        {"btDefault", "Default"},
        {"btConfirm", "Confirm"},
        {"btNAQuery", "Query"},
        {"btBAUSet", "Set"},
        {"btFixQuery", "Query"},
        {"btFixSet", "Set"},
        {"Button5", "Reset"},
        {"lbFix", "1"},
        {"Label38", "Hz"},
        {"lbRS", "0.0"},
        {"Label40", "%"},
        {"rbWAAS", "SBAS"},
        {"rbDisable", "Disable"},
        {"rbRTCM", ""},
        {"Label17", "RTCM Baudrate :"},
        {"Label29", "RTCM"},
        {"btDGQuery", "Query"},
        {"btDGPSSet", "Set"},
        {"Label39", ""},
        {"Button2", "Query"},
        {"Button3", "Update"},
        {"Button4", "Reset"},
        {"Label26", "Version:"},
        {"Label27", ""},
        {"Label37", ""},
        {"btVerQuery", "Query"},
        {"Label23", "Torvikel"},
        {"Label24", "Version 1.2.24  2012 August 09th"},
        {"Label25", ""},
        {"btDatumSet", "Set"},
        {"btDaQuery", "Query"},
        {"Label18", "Some WAAS / EGNOS / MSAS SVs are under test, in order "},
        {"Label19", "to avoid some experimental SVs affect our performance, only "},
        {"Label20", "stable SVs allow to apply to our system. If you want to test "},
        {"Label21", "Some experimental SVs, please set \"Test\" mode."},
        {"rbIntegrity", "Integrity"},
        {"rbTest", "Test"},
        {"btSBASSet", "Set"},
        {"btSBASQuery", "Query"},
        {"lbTimes", ""},
        {"Label22", "Depend on [All Settings] in Setup page."},
        {"Label36", "Setting write protection"},
        {"btAllSet", "Set"},
        {"btAllQuery", "Query"},
        {"Label30", "Status:"},
        {"lbTest", "Disable"},
        {"Label35", "Text Mode (rapidly drop current while fix)"},
        {"Label31", "Output NMEA sentences when you click the button. The "},
        {"Label32", "function is designed for GPS mouse,avoid PC "},
        {"Label33", "misunderstanding it as a mousee."},
        {"Label34", "(The featuer also needs firmware support!)"},
        {"btWakeup", "Wake Up"},
        {"PageControl1", "<no text>"},
    };
    for (const auto& [name, text] : rows) QTest::newRow(name) << QString::fromLatin1(name) << text;
  }
  void captionsAndInitialTexts() {
    QFETCH(QString, name);
    QFETCH(QString, text);
    QObject* control = form->findChild<QObject*>(name);
    QVERIFY(control != nullptr);
    QCOMPARE(textOf(control), text);
  }

  void statusGroupsHaveNoCaption() {
    for (QGroupBox* g :
         {form->GroupBox1, form->GroupBox2, form->GroupBox3, form->GroupBox4, form->GroupBox5, form->GroupBox6})
      QVERIFY2(g->title().isEmpty(), qPrintable(g->objectName()));
  }

  void tabsAndWindow() {
    QCOMPARE(form->PageControl1->count(), 2);
    QCOMPARE(form->PageControl1->tabText(0), QStringLiteral("Status"));
    QCOMPARE(form->PageControl1->tabText(1), QStringLiteral("Setup"));
    QCOMPARE(form->PageControl1->widget(0), form->TabSheet1);
    QCOMPARE(form->PageControl1->widget(1), form->TabSheet2);
    QCOMPARE(form->PageControl1->currentWidget(), form->TabSheet1);
    QCOMPARE(form->windowTitle(), QStringLiteral("Torvikel v1.2.24"));
    QCOMPARE(form->size(), QSize(655, 432));
    QCOMPARE(form->PageControl1->geometry(), QRect(0, 0, 655, 432));
  }

  void listItems() {
    QStringList ports;
    for (int n = 1; n <= 99; ++n) ports << QStringLiteral("Com%1").arg(n);
    QCOMPARE(itemsOf(form->ComboBox1), ports);
    QCOMPARE(form->ComboBox1->currentText(), QStringLiteral("Com1"));
    QVERIFY(form->ComboBox1->isEditable());

    QCOMPARE(itemsOf(form->ComboBox2), QStringList({"4800", "9600", "14400", "19200", "38400", "115200"}));
    QCOMPARE(form->ComboBox2->currentText(), QStringLiteral("115200"));
    QVERIFY(form->ComboBox2->isEditable());
    QVERIFY2(form->ComboBox2->findText("57600") < 0, "the link's speed list has no 57600");

    for (QComboBox* box :
         {form->cbGLL, form->cbRMC, form->cbVTG, form->cbGSA, form->cbGSV, form->cbGGA, form->cbZDA, form->cbMCHN}) {
      QCOMPARE(itemsOf(box), QStringList({"0", "1", "2", "3", "4", "5"}));
      QCOMPARE(box->currentIndex(), 0);
      QCOMPARE(box->currentText(), QStringLiteral("0"));
    }
    const QStringList bauds = {"4800", "9600", "14400", "19200", "38400", "57600", "115200"};
    QCOMPARE(itemsOf(form->cbBA), bauds);
    QCOMPARE(form->cbBA->currentIndex(), 0);
    QCOMPARE(itemsOf(form->cbRTCMBD), bauds);
    QCOMPARE(form->cbRTCMBD->currentText(), QStringLiteral("4800"));

    QCOMPARE(itemsOf(form->cbFix), QStringList({"1", "2", "3", "4", "5"}));
    QCOMPARE(form->cbFix->currentIndex(), -1);
    QCOMPARE(form->cbFix->currentText(), QStringLiteral("1"));
  }

  void datumList() {
    QComboBox* box = form->cbDatum;
    QCOMPARE(box->count(), 223);
    QCOMPARE(box->itemText(0), QStringLiteral("(0)WGS1984\"International\""));
    QCOMPARE(box->itemText(1), QStringLiteral("(1)Tokyo\"Japan\""));
    QCOMPARE(box->itemText(3), QStringLiteral("(3)User Setting\"User Setting\""));
    QCOMPARE(box->currentText(), box->itemText(0));
    const QRegularExpression form_(QStringLiteral("^\\((\\d+)\\)([^\"]+)\"([^\"]+)\"$"));
    for (int i = 0; i < box->count(); ++i) {
      const QRegularExpressionMatch m = form_.match(box->itemText(i));
      QVERIFY2(m.hasMatch(), qPrintable(box->itemText(i)));
      QCOMPARE(m.captured(1).toInt(), i);
    }
  }

  void startStates_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<bool>("hidden");
    const struct {
      const char* name;
      bool enabled;
      bool hidden;
    } rows[] = {
        {"ComboBox1", true, false},    {"ComboBox2", true, false},  {"Button1", true, false},
        {"hot", false, false},         {"warm", false, false},      {"cold", false, false},
        {"StartLog", false, false},    {"StopLog", false, false},   {"cbGLL", true, false},
        {"cbMCHN", true, false},       {"cbFix", true, false},      {"btDefault", false, false},
        {"btConfirm", false, false},   {"btNAQuery", false, false}, {"GroupBox15", true, true},
        {"cbBA", true, true},          {"btBAUSet", false, true},   {"GroupBox14", true, false},
        {"btFixQuery", false, false},  {"btFixSet", false, false},  {"Button5", false, false},
        {"rbWAAS", true, false},       {"rbDisable", true, false},  {"rbRTCM", false, true},
        {"Label17", true, true},       {"Label29", true, true},     {"cbRTCMBD", false, true},
        {"btDGQuery", false, false},   {"btDGPSSet", false, false}, {"Button2", false, false},
        {"Button3", false, false},     {"Button4", false, false},   {"btVerQuery", false, false},
        {"btDatumSet", false, false},  {"btDaQuery", false, false}, {"btSBASSet", false, false},
        {"btSBASQuery", false, false}, {"CheckBox8", false, false}, {"btAllSet", false, false},
        {"btAllQuery", false, false},  {"cbTest", false, false},    {"btWakeup", false, false},
        {"CheckBox1", false, false},   {"CheckBox2", false, false}, {"CheckBox3", false, false},
        {"CheckBox4", false, false},   {"CheckBox5", false, false}, {"CheckBox6", false, false},
        {"CheckBox7", false, false},   {"CheckBox9", false, false},
    };
    for (const auto& r : rows) QTest::newRow(r.name) << QString::fromLatin1(r.name) << r.enabled << r.hidden;
  }
  void startStates() {
    QFETCH(QString, name);
    QFETCH(bool, enabled);
    QFETCH(bool, hidden);
    auto* w = form->findChild<QWidget*>(name);
    QVERIFY(w != nullptr);
    // isEnabledTo/isHidden: the control's own state, whatever its parent or tab shows.
    QCOMPARE(w->isEnabledTo(w->parentWidget()), enabled);
    QCOMPARE(w->isHidden(), hidden);
  }

  void checkedAtStart() {
    QVERIFY(form->rbDisable->isChecked());
    QVERIFY(!form->rbWAAS->isChecked());
    for (QCheckBox* box : {form->CheckBox1, form->CheckBox2, form->CheckBox3, form->CheckBox4, form->CheckBox5,
                           form->CheckBox6, form->CheckBox7, form->CheckBox9})
      QVERIFY(!box->isChecked());
  }

  // Each indicator's label stands beside its own check box: GGA GSA GSV / RMC GLL VTG / ZDA MCHN.
  void indicatorRows() {
    const std::vector<std::pair<QCheckBox*, QLabel*>> pairs = {
        {form->CheckBox1, form->Label1},  {form->CheckBox2, form->Label11}, {form->CheckBox3, form->Label12},
        {form->CheckBox4, form->Label13}, {form->CheckBox5, form->Label15}, {form->CheckBox6, form->Label16},
        {form->CheckBox7, form->Label14}, {form->CheckBox9, form->Label28}};
    const int rowOf[] = {0, 0, 0, 1, 1, 1, 2, 2};
    QList<int> rowTops;
    for (const auto& [box, label] : pairs) {
      if (!rowTops.contains(box->y())) rowTops << box->y();
      QVERIFY(label->x() > box->x());
      QVERIFY(qAbs(label->geometry().center().y() - box->geometry().center().y()) <= 3);
    }
    std::sort(rowTops.begin(), rowTops.end());
    QCOMPARE(rowTops.size(), 3);
    for (std::size_t i = 0; i < pairs.size(); ++i) QCOMPARE(pairs[i].first->y(), rowTops[rowOf[i]]);
  }

  // The Setup tab shows five groups only; the five others lie wholly beneath them.
  void coveredGroupsAreNeverSeen() {
    form->PageControl1->setCurrentWidget(form->TabSheet2);
    QWidget* page = form->TabSheet2;
    const QList<QWidget*> visibleGroups = {form->GroupBox7, form->GroupBox8, form->GroupBox13, form->GroupBox19,
                                           form->GroupBox12};
    const QList<QWidget*> coveredGroups = {form->GroupBox9, form->GroupBox16, form->GroupBox10, form->GroupBox11,
                                           form->GroupBox17};
    for (QWidget* covered : coveredGroups) {
      QVERIFY2(!covered->isHidden(), "covered, not hidden");
      const QRect area = covered->geometry();
      for (int x = area.left(); x <= area.right(); x += 3)
        for (int y = area.top(); y <= area.bottom(); y += 3) {
          QWidget* seen = seenAt(page, QPoint(x, y));
          QVERIFY2(seen != nullptr, qPrintable(covered->objectName()));
          QVERIFY2(!isWithin(seen, covered), qPrintable(covered->objectName()));
        }
    }
    // Everything the user can hit on the tab belongs to one of the five visible groups.
    for (int x = 0; x < page->width(); x += 4)
      for (int y = 0; y < page->height(); y += 4) {
        QWidget* seen = seenAt(page, QPoint(x, y));
        if (seen == nullptr) continue;
        bool inVisible = false;
        for (QWidget* g : visibleGroups) inVisible = inVisible || isWithin(seen, g);
        QVERIFY2(inVisible, qPrintable(QStringLiteral("%1 at %2,%3").arg(seen->objectName()).arg(x).arg(y)));
      }
  }

  // The compass labels and cross lines of the Status tab lie beneath the sky plot.
  void skyPlotCoversLettersAndLines() {
    for (QWidget* beneath :
         {static_cast<QWidget*>(form->N), static_cast<QWidget*>(form->S), static_cast<QWidget*>(form->E),
          static_cast<QWidget*>(form->W), static_cast<QWidget*>(form->Shape1), static_cast<QWidget*>(form->Shape2)}) {
      QVERIFY2(form->Chart1->geometry().contains(beneath->geometry()), qPrintable(beneath->objectName()));
      const QPoint centre = beneath->geometry().center();
      QCOMPARE(form->GroupBox5->childAt(centre), static_cast<QWidget*>(form->Chart1));
    }
    QCOMPARE(form->Chart1->size(), QSize(151, 151));
    // The lines cross at the chart's centre.
    QCOMPARE(form->Shape1->geometry().center().x(), form->Chart1->geometry().center().x());
    QCOMPARE(form->Shape2->geometry().center().y(), form->Chart1->geometry().center().y());
    QCOMPARE(form->Shape1->size(), QSize(1, 120));
    QCOMPARE(form->Shape2->size(), QSize(120, 1));
  }

  void everyVisibleControlLiesInsideItsParent() {
    for (QWidget* w : form->findChildren<QWidget*>()) {
      if (w->isHidden() || w->objectName().isEmpty() || w->parentWidget() == nullptr) continue;
      if (!w->parentWidget()->inherits("QGroupBox")) continue;
      QVERIFY2(w->parentWidget()->rect().contains(w->geometry()), qPrintable(w->objectName()));
    }
  }

  // No caption is cut: every label, button and radio button of the visible groups is wide
  // enough for its text in the font it is drawn with.
  void textsFitTheirControls() {
    const QList<QWidget*> coveredGroups = {form->GroupBox9, form->GroupBox16, form->GroupBox10, form->GroupBox11,
                                           form->GroupBox17};
    for (QWidget* w : form->findChildren<QWidget*>()) {
      bool covered = false;
      for (QWidget* g : coveredGroups) covered = covered || isWithin(w, g);
      if (covered || w->isHidden()) continue;
      const QFontMetrics metrics(w->font());
      int needed = 0;
      QString text;
      if (auto* l = qobject_cast<QLabel*>(w); l != nullptr && !l->wordWrap()) {
        text = l->text();
        needed = metrics.horizontalAdvance(text);
      } else if (auto* b = qobject_cast<QPushButton*>(w)) {
        text = b->text();
        needed = metrics.horizontalAdvance(text) + 8;
      } else if (auto* r = qobject_cast<QRadioButton*>(w)) {
        text = r->text();
        needed = metrics.horizontalAdvance(text) + 20;
      } else {
        continue;
      }
      QVERIFY2(
          needed <= w->width(),
          qPrintable(
              QStringLiteral("%1: \"%2\" needs %3, has %4").arg(w->objectName(), text).arg(needed).arg(w->width())));
      QVERIFY2(metrics.height() <= w->height(), qPrintable(w->objectName()));
    }
  }

  // The coordinate edits show a whole coordinate text.
  void coordinateEditsAreWideEnough() {
    const QString widest = QString::fromLatin1(
        "W 179\xB0"
        "59'59.99\"");
    for (QLineEdit* e : {form->EdLat, form->EdLon})
      QVERIFY2(QFontMetrics(e->font()).horizontalAdvance(widest) + 8 <= e->width(), qPrintable(e->objectName()));
  }

  void colours() {
    const QColor blue(7, 73, 173);
    for (QGroupBox* g : form->findChildren<QGroupBox*>()) {
      if (g == form->GroupBox18) continue;
      QVERIFY2(g->autoFillBackground(), qPrintable(g->objectName()));
      QCOMPARE(g->palette().color(QPalette::Window), blue);
    }
    // GroupBox18 paints nothing of its own: its parent's blue shows through.
    QVERIFY(!form->GroupBox18->autoFillBackground());
    QCOMPARE(form->Chart1->color(), kWindowBlue);
    QCOMPARE(form->Chart2->color(), kWindowBlue);
    QVERIFY(form->Label2->autoFillBackground());
    QCOMPARE(form->Label2->palette().color(QPalette::Window), blue);

    const QColor white(Qt::white);
    for (QLabel* l : {form->Label2, form->Label9, form->Label6, form->TheTime, form->Label1, form->Label28, form->GLL,
                      form->lbFix, form->lbRS, form->Label39, form->Label26, form->Label23, form->Label24})
      QCOMPARE(l->palette().color(QPalette::WindowText), white);
    QCOMPARE(form->TntLabel1->palette().color(QPalette::WindowText), QColor(0, 0, 255));
    QCOMPARE(form->GroupBox5->palette().color(QPalette::WindowText), QColor(192, 192, 192));
    for (QLabel* letter : {form->N, form->S, form->E, form->W}) {
      QCOMPARE(letter->palette().color(QPalette::WindowText), QColor(192, 192, 192));
      QCOMPARE(letter->palette().color(QPalette::Window), QColor(192, 220, 192));
    }
    for (QComboBox* box : {form->cbGLL, form->cbMCHN, form->cbFix, form->cbBA, form->cbRTCMBD, form->cbDatum}) {
      QCOMPARE(box->palette().color(QPalette::Base), white);
      QCOMPARE(box->palette().color(QPalette::Text), QColor(Qt::black));
    }
    QCOMPARE(form->Memo1->palette().color(QPalette::Base), white);
    QCOMPARE(form->Memo1->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    QCOMPARE(form->Memo1->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
  }

  // What is rendered: the blue of the groups, including the "Data Bandwidth" group.
  void renderedBlue() {
    form->PageControl1->setCurrentWidget(form->TabSheet2);
    const QImage page = form->TabSheet2->grab().toImage();
    const QColor blue(7, 73, 173);
    // Beside the caption, above the frame: the group's own background shows there.
    for (QGroupBox* g : {form->GroupBox12, form->GroupBox7, form->GroupBox13, form->GroupBox8, form->GroupBox19}) {
      const QPoint p = g->mapTo(form->TabSheet2, QPoint(g->width() - 6, 2));
      QVERIFY2(QColor(page.pixel(p)) == blue, qPrintable(g->objectName()));
    }
    // GroupBox18 shows its parent's colour: the same as the parent just beside it.
    const QPoint inside = form->GroupBox18->mapTo(form->TabSheet2, QPoint(form->GroupBox18->width() - 6, 2));
    const QPoint beside =
        form->GroupBox7->mapTo(form->TabSheet2, QPoint(form->GroupBox18->x() - 3, form->GroupBox18->y() + 2));
    QCOMPARE(QColor(page.pixel(inside)), QColor(page.pixel(beside)));
    QVERIFY(qAbs(QColor(page.pixel(inside)).blue() - blue.blue()) < 8);
  }

  void fonts() {
    const QFont base = form->font();
    QCOMPARE(base.pointSize(), 8);
    QCOMPARE(form->Button1->font().pointSize(), 8);
    QCOMPARE(form->Label9->font().pointSize(), 8);
    QVERIFY(!form->Label9->font().bold());
    const struct {
      QLabel* label;
      int pointSize;
    } bold[] = {{form->lbFix, 8}, {form->Label38, 8}, {form->lbRS, 12}, {form->Label40, 12}, {form->Label23, 24}};
    for (const auto& b : bold) {
      QVERIFY2(b.label->font().bold(), qPrintable(b.label->objectName()));
      QCOMPARE(b.label->font().pointSize(), b.pointSize);
    }
    // A sans-serif that exists on this machine renders the texts.
    const QString used = QFontInfo(base).family();
    QVERIFY2(base.families().contains(used), qPrintable(used));
    QVERIFY2(!used.contains(QStringLiteral("Serif")) || used.contains(QStringLiteral("Sans")), qPrintable(used));
  }

  // The full-width colon of "Please choose：" has a glyph in a font the label uses.
  void fullWidthColonHasAGlyph() {
    bool found = false;
    for (const QString& family : form->Label2->font().families()) {
      if (!QFontDatabase::families().contains(family)) continue;
      QFont f(family);
      f.setPointSize(8);
      if (QRawFont::fromFont(f).supportsCharacter(QChar(0xFF1A))) found = true;
    }
    QVERIFY(found);
  }

  void timers() {
    QCOMPARE(form->Timer1->interval(), 200);
    QVERIFY(form->Timer1->isActive());
    QCOMPARE(form->Timer2->interval(), 1000);
    QVERIFY(!form->Timer2->isActive());
  }

  void saveDialog() {
    QCOMPARE(form->SaveDialog1.Filter, QStringLiteral("*.txt|*.txt"));
    QCOMPARE(form->SaveDialog1.qtFilter(), QStringLiteral("*.txt (*.txt)"));
    form->SaveDialog1.hook = [] { return QStringLiteral("/tmp/log"); };
    QVERIFY(form->SaveDialog1.Execute(form));
    QCOMPARE(form->SaveDialog1.FileName, QStringLiteral("/tmp/log"));
    form->SaveDialog1.hook = [] { return QString(); };
    QVERIFY(!form->SaveDialog1.Execute(form));
    QCOMPARE(form->SaveDialog1.FileName, QStringLiteral("/tmp/log"));
  }

  void saveDialogFilterPairs_data() {
    QTest::addColumn<QString>("filter");
    QTest::addColumn<QString>("qt");
    QTest::newRow("one pair") << "*.txt|*.txt"
                              << "*.txt (*.txt)";
    QTest::newRow("two pairs") << "Text|*.txt|All|*.*"
                               << "Text (*.txt);;All (*.*)";
    QTest::newRow("dangling name ignored") << "Text|*.txt|All"
                                           << "Text (*.txt)";
    QTest::newRow("empty") << ""
                           << "";
  }
  void saveDialogFilterPairs() {
    QFETCH(QString, filter);
    QFETCH(QString, qt);
    SaveDialog dialog;
    dialog.Filter = filter;
    QCOMPARE(dialog.qtFilter(), qt);
  }

  // Each ComN item tells what it resolves to; the list is refreshed when it opens.
  void portTooltips() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    qputenv("TORVIKEL_PORT_DIR", dir.path().toLocal8Bit());
    QVERIFY(QFile::link(QStringLiteral("/dev/null"), dir.filePath(QStringLiteral("com3"))));
    form->ComboBox1->showPopup();
    form->ComboBox1->hidePopup();
    const QString tip = form->ComboBox1->itemData(2, Qt::ToolTipRole).toString();
    QVERIFY2(tip.startsWith(QStringLiteral("Com3 \u2014 /dev/null")), qPrintable(tip));
    QVERIFY(!form->ComboBox1->itemData(98, Qt::ToolTipRole).isValid());  // Com99: nothing there

    QVERIFY(QFile::remove(dir.filePath(QStringLiteral("com3"))));
    form->RefreshPortTooltips();
    const QString after = form->ComboBox1->itemData(2, Qt::ToolTipRole).toString();
    QVERIFY2(!after.contains(QStringLiteral("/dev/null")), qPrintable(after));
    qunsetenv("TORVIKEL_PORT_DIR");
  }

  // Typing over an editable box leaves it without a selected item; the text stays.
  void typingDeselects() {
    form->PageControl1->setCurrentWidget(form->TabSheet2);
    QComboBox* box = form->cbGSA;
    box->setCurrentIndex(2);
    box->lineEdit()->selectAll();
    QTest::keyClicks(box->lineEdit(), QStringLiteral("7"));
    QCOMPARE(box->currentIndex(), -1);
    QCOMPARE(box->currentText(), QStringLiteral("7"));
  }
};

QTEST_MAIN(WindowLayoutTest)
#include "test_window_layout.moc"
