// The main window's construction: both tabs with every control, their captions, items,
// start states and colours, the timers and the save dialog, and the wiring of each control
// to its handler. Handlers live in the files of the parts they belong to.
//
// Thread rule: window thread only.
#include "app/tform1.h"
#include "app/termination_signals.h"

#include <QAbstractItemView>
#include <QFileDialog>
#include <QFont>
#include <QScrollBar>
#include <QStringList>

#include "app/message_box.h"
#include "app/paint_economy.h"
#include "app/sky_background.h"
#include "app/thread1.h"
#include "link/port_names.h"
#include "torvikel/version.h"

TForm1* Form1 = nullptr;

namespace {

constexpr int kClientWidthPx = 655;
constexpr int kClientHeightPx = 432;
constexpr int kSkyPlotSizePx = 151;

// The window's default font: the classic 8-point dialog font, or the closest sans-serif.
QFont windowFont(int pointSize = 8, bool bold = false) {
  QFont font;
  font.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("Microsoft Sans Serif"),
                    QStringLiteral("Liberation Sans"), QStringLiteral("Arial"), QStringLiteral("DejaVu Sans"),
                    QStringLiteral("WenQuanYi Micro Hei")});
  font.setStyleHint(QFont::SansSerif);
  font.setPointSize(pointSize);
  font.setBold(bold);
  return font;
}

template <typename T>
T* place(QWidget* parent, const char* name, int x, int y, int w, int h) {
  auto* widget = new T(parent);
  widget->setObjectName(QString::fromLatin1(name));
  widget->setGeometry(x, y, w, h);
  return widget;
}

QLabel* label(QWidget* parent, const char* name, const QString& text, int x, int y, int w = 0, int h = 16) {
  auto* l = place<QLabel>(parent, name, x, y, w, h);
  l->setText(text);
  if (w == 0) {
    l->adjustSize();
    l->move(x, y);
  }
  return l;
}

QPushButton* button(QWidget* parent, const char* name, const QString& text, int x, int y, int w = 64, int h = 24,
                    bool enabled = false) {
  auto* b = place<QPushButton>(parent, name, x, y, w, h);
  b->setText(text);
  b->setEnabled(enabled);
  return b;
}

QGroupBox* group(QWidget* parent, const char* name, const QString& title, int x, int y, int w, int h) {
  auto* g = place<QGroupBox>(parent, name, x, y, w, h);
  g->setTitle(title);
  return g;
}

QComboBox* combo(QWidget* parent, const char* name, const QStringList& items, int x, int y, int w, int h = 22) {
  auto* box = place<QComboBox>(parent, name, x, y, w, h);
  box->setEditable(true);
  box->setInsertPolicy(QComboBox::NoInsert);
  box->addItems(items);
  MakeTypedTextDeselect(box);
  return box;
}

QLineEdit* edit(QWidget* parent, const char* name, int x, int y, int w, int h = 20) {
  return place<QLineEdit>(parent, name, x, y, w, h);
}

void setTextColour(QWidget* widget, TColor colour) {
  QPalette palette = widget->palette();
  palette.setColor(QPalette::WindowText, ToQColor(colour));
  widget->setPalette(palette);
}

void setBackColour(QWidget* widget, TColor colour) {
  QPalette palette = widget->palette();
  palette.setColor(QPalette::Window, ToQColor(colour));
  widget->setPalette(palette);
  widget->setAutoFillBackground(true);
}

// White field, black text: the combo boxes of the Setup tab stand out from the blue.
void whiteField(QComboBox* box) {
  QPalette palette = box->palette();
  palette.setColor(QPalette::Base, Qt::white);
  palette.setColor(QPalette::Text, Qt::black);
  palette.setColor(QPalette::ButtonText, Qt::black);
  box->setPalette(palette);
}

QStringList numberItems(int first, int last) {
  QStringList items;
  for (int n = first; n <= last; ++n) items << QString::number(n);
  return items;
}

// ComboBox1 refreshes what each ComN resolves to just before its list opens, so a receiver
// plugged in after start shows up without a restart.
class PortComboBox : public QComboBox {
 public:
  explicit PortComboBox(QWidget* parent, std::function<void()> beforePopup)
      : QComboBox(parent), beforePopup_(std::move(beforePopup)) {}
  void showPopup() override {
    if (beforePopup_) beforePopup_();
    QComboBox::showPopup();
  }

 private:
  std::function<void()> beforePopup_;
};

}  // namespace

void MakeTypedTextDeselect(QComboBox* box) {
  QLineEdit* line = box->lineEdit();
  if (line == nullptr) return;
  QObject::connect(line, &QLineEdit::textEdited, box, [box](const QString& text) {
    if (box->currentIndex() < 0 || box->itemText(box->currentIndex()) == text) return;
    QLineEdit* edit = box->lineEdit();
    const int cursor = edit->cursorPosition();
    QSignalBlocker blockEdit(edit);
    box->setCurrentIndex(-1);
    edit->setText(text);
    edit->setCursorPosition(cursor);
  });
}

QString SaveDialog::qtFilter() const {
  const QStringList parts = Filter.split(QLatin1Char('|'));
  QStringList entries;
  for (int i = 0; i + 1 < parts.size(); i += 2) entries << QStringLiteral("%1 (%2)").arg(parts[i], parts[i + 1]);
  return entries.join(QStringLiteral(";;"));
}

bool SaveDialog::Execute(QWidget* parent) {
  const QString chosen = hook ? hook() : QFileDialog::getSaveFileName(parent, QString(), FileName, qtFilter());
  if (chosen.isEmpty()) return false;
  FileName = chosen;
  return true;
}

TForm1::TForm1(QWidget* parent) : QWidget(parent) {
  Form1 = this;
  setObjectName(QStringLiteral("Form1"));
  setWindowTitle(QString::fromLatin1(kApplicationTitle));
  setFont(windowFont());
  setFixedSize(kClientWidthPx, kClientHeightPx);

  PageControl1 = place<QTabWidget>(this, "PageControl1", 0, 0, kClientWidthPx, kClientHeightPx);
  TabSheet1 = new QWidget;
  TabSheet1->setObjectName(QStringLiteral("TabSheet1"));
  TabSheet2 = new QWidget;
  TabSheet2->setObjectName(QStringLiteral("TabSheet2"));
  PageControl1->addTab(TabSheet1, QStringLiteral("Status"));
  PageControl1->addTab(TabSheet2, QStringLiteral("Setup"));
  PageControl1->setCurrentWidget(TabSheet1);

  buildStatusTab();
  buildSetupTab();

  Timer1 = new QTimer(this);
  Timer1->setObjectName(QStringLiteral("Timer1"));
  Timer1->setInterval(200);
  Timer2 = new QTimer(this);
  Timer2->setObjectName(QStringLiteral("Timer2"));
  Timer2->setInterval(1000);
  SaveDialog1.Filter = QStringLiteral("*.txt|*.txt");
  // A log on a FIFO or terminal whose reader stalls holds this thread up for a second per
  // sentence at most, and not at all once the program is asked to end.
  logHandle.setWritePolicy({&TerminationRequested(), SentenceLog::kDefaultStallLimitMs});

  connectHandlers();
  new RepaintPacer(this, [this] { ScrollConsoleToEnd(); });
  RefreshPortTooltips();
  Timer1->start();
  FormCreate();
}

TForm1::~TForm1() {
  if (Form1 == this) Form1 = nullptr;
}

void TForm1::buildStatusTab() {
  QWidget* tab = TabSheet1;

  // Top left: port choice, connect button and console.
  GroupBox4 = group(tab, "GroupBox4", QString(), 4, 2, 334, 176);
  Label2 = label(GroupBox4, "Label2", QString::fromUtf8("Please choose\xEF\xBC\x9A"), 8, 12, 0, 18);
  ComboBox2 = combo(GroupBox4, "ComboBox2", {"4800", "9600", "14400", "19200", "38400", "115200"}, 8, 34, 80);
  ComboBox2->setCurrentIndex(5);  // "115200"
  {
    auto* ports = new PortComboBox(GroupBox4, [this] { RefreshPortTooltips(); });
    ports->setObjectName(QStringLiteral("ComboBox1"));
    ports->setGeometry(94, 34, 80, 22);
    ports->setEditable(true);
    ports->setInsertPolicy(QComboBox::NoInsert);
    QStringList items;
    for (int n = 1; n <= 99; ++n) items << QStringLiteral("Com%1").arg(n);
    ports->addItems(items);
    ports->setMaxVisibleItems(16);
    MakeTypedTextDeselect(ports);
    ComboBox1 = ports;
  }
  Button1 = button(GroupBox4, "Button1", QStringLiteral("On"), 182, 33, 64, 24, true);
  Memo1 = place<QPlainTextEdit>(GroupBox4, "Memo1", 8, 62, 318, 108);
  Memo1->setLineWrapMode(QPlainTextEdit::NoWrap);
  Memo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  OpaqueScrollBars(Memo1);
  KeepScrollBarsInPlace(Memo1);
  Memo1->document()->setDocumentLayout(new KeptLinesLayout(Memo1->document()));
  Memo1->setPlainText(QStringLiteral("Memo1"));  // design-time text; FormCreate empties it

  // Date and time.
  GroupBox2 = group(tab, "GroupBox2", QString(), 4, 180, 334, 40);
  Label9 = label(GroupBox2, "Label9", QStringLiteral("Date"), 8, 12, 48);
  EdDate = edit(GroupBox2, "EdDate", 56, 10, 104);
  Label8 = label(GroupBox2, "Label8", QStringLiteral("Time"), 164, 12, 54);
  EdTime = edit(GroupBox2, "EdTime", 220, 10, 104);

  // Position, fix and the seconds without a 3D fix.
  GroupBox3 = group(tab, "GroupBox3", QString(), 4, 222, 334, 106);
  Label6 = label(GroupBox3, "Label6", QStringLiteral("Latitude"), 8, 10, 48);
  EdLat = edit(GroupBox3, "EdLat", 56, 8, 104);
  Label7 = label(GroupBox3, "Label7", QStringLiteral("Longitude"), 164, 10, 56);
  EdLon = edit(GroupBox3, "EdLon", 220, 8, 104);
  Label3 = label(GroupBox3, "Label3", QStringLiteral("Mode"), 8, 34, 48);
  EdMode = edit(GroupBox3, "EdMode", 56, 32, 104);
  Label4 = label(GroupBox3, "Label4", QStringLiteral("Speed"), 164, 34, 56);
  EdSpeed = edit(GroupBox3, "EdSpeed", 220, 32, 104);
  Label10 = label(GroupBox3, "Label10", QStringLiteral("PDOP"), 8, 58, 48);
  EdPDOP = edit(GroupBox3, "EdPDOP", 56, 56, 104);
  Label5 = label(GroupBox3, "Label5", QStringLiteral("Altitude"), 164, 58, 56);
  EdHeight = edit(GroupBox3, "EdHeight", 220, 56, 104);
  TheTime = label(GroupBox3, "TheTime", QStringLiteral("TheTime"), 8, 82, 48);
  Edit1 = edit(GroupBox3, "Edit1", 56, 80, 104);
  Edit1->setText(QStringLiteral("0"));

  // Output indicators: three rows GGA GSA GSV / RMC GLL VTG / ZDA MCHN.
  GroupBox1 = group(tab, "GroupBox1", QString(), 4, 330, 334, 72);
  for (std::size_t i = 0; i < kKindsByIndicatorPlace.size(); ++i) {
    const SentenceControlsRow& row = ControlsRowOf(kKindsByIndicatorPlace[i]);
    const int x = 16 + static_cast<int>(i % 3) * 100;
    const int y = 8 + static_cast<int>(i / 3) * 20;
    QCheckBox* const box = place<QCheckBox>(GroupBox1, row.indicatorName, x, y, 18, 18);
    box->setEnabled(false);
    this->*row.indicator = box;
    const std::string_view name = NmeaKindName(row.kind);
    this->*row.indicatorLabel =
        label(GroupBox1, row.indicatorLabelName, QString::fromLatin1(name.data(), static_cast<qsizetype>(name.size())),
              x + 22, y + 1, 50);
  }

  // Sky plot and the restart and log buttons. The compass letters and the cross lines lie
  // beneath the chart, which covers them: the visible ones are those of its picture.
  GroupBox5 = group(tab, "GroupBox5", QString(), 342, 2, 304, 176);
  setTextColour(GroupBox5, clSilver);
  constexpr int kChartX = 8;
  constexpr int kChartY = 14;
  const int mid = kSkyPlotSizePx / 2;
  N = label(GroupBox5, "N", QStringLiteral("N"), kChartX + mid - 6, kChartY, 12, 14);
  S = label(GroupBox5, "S", QStringLiteral("S"), kChartX + mid - 6, kChartY + kSkyPlotSizePx - 14, 12, 14);
  E = label(GroupBox5, "E", QStringLiteral("E"), kChartX + kSkyPlotSizePx - 12, kChartY + mid - 7, 12, 14);
  W = label(GroupBox5, "W", QStringLiteral("W"), kChartX, kChartY + mid - 7, 12, 14);
  for (QLabel* letter : {N, S, E, W}) {
    letter->setAlignment(Qt::AlignCenter);
    setBackColour(letter, clMoneyGreen);
    setTextColour(letter, clSilver);
  }
  Shape1 = place<QFrame>(GroupBox5, "Shape1", kChartX + mid, kChartY + mid - 60, 1, 120);
  Shape1->setFrameShape(QFrame::VLine);
  Shape2 = place<QFrame>(GroupBox5, "Shape2", kChartX + mid - 60, kChartY + mid, 120, 1);
  Shape2->setFrameShape(QFrame::HLine);
  Chart1 = place<BubbleChart>(GroupBox5, "Chart1", kChartX, kChartY, kSkyPlotSizePx, kSkyPlotSizePx);
  Chart1->setBackgroundImage(MakeSkyBackground(kSkyPlotSizePx));
  Series1 = Chart1->series();
  hot = button(GroupBox5, "hot", QStringLiteral("hot"), 166, 16, 56);
  warm = button(GroupBox5, "warm", QStringLiteral("warm"), 166, 44, 56);
  cold = button(GroupBox5, "cold", QStringLiteral("cold"), 166, 72, 56);
  StartLog = button(GroupBox5, "StartLog", QStringLiteral("StartLog"), 228, 16, 68);
  StopLog = button(GroupBox5, "StopLog", QStringLiteral("StopLog"), 228, 44, 68);
  TntLabel1 = label(GroupBox5, "TntLabel1", QString(QChar(0x00B0)), 228, 76, 12, 16);
  setTextColour(TntLabel1, clBlue);

  // Signal strengths.
  GroupBox6 = group(tab, "GroupBox6", QString(), 342, 180, 304, 222);
  Chart2 = place<BarChart>(GroupBox6, "Chart2", 6, 6, 292, 210);
  Chart2->setColor(kWindowBlue);
  Chart2->setVerticalAxis(0, 100);
  Chart2->setGradient(clYellow, kBarBackEnd);
  Chart2->setAxisLabelColor(clWhite);
  Chart2->setMarkArrowLengthPx(20);
  Series2 = Chart2->series();

  for (QGroupBox* g : {GroupBox1, GroupBox2, GroupBox3, GroupBox4, GroupBox6}) setTextColour(g, clWhite);
}

void TForm1::buildSetupTab() {
  QWidget* tab = TabSheet2;
  const QStringList baudItems = {"4800", "9600", "14400", "19200", "38400", "57600", "115200"};

  // Covered groups first: they share the places of the visible groups created after them
  // and so lie beneath them. None of their controls does anything.
  constexpr int kAgpsX = 4, kAgpsY = 272, kAgpsW = 400, kAgpsH = 130;
  GroupBox9 = group(tab, "GroupBox9", QStringLiteral("Datum"), kAgpsX, kAgpsY, kAgpsW, kAgpsH);
  cbDatum = combo(GroupBox9, "cbDatum", DatumList(), 10, 20, 300);
  cbDatum->setCurrentIndex(0);
  btDatumSet = button(GroupBox9, "btDatumSet", QStringLiteral("Set"), 10, 50);
  btDaQuery = button(GroupBox9, "btDaQuery", QStringLiteral("Query"), 80, 50);
  GroupBox16 = group(tab, "GroupBox16", QStringLiteral("Current"), kAgpsX, kAgpsY, kAgpsW, kAgpsH);
  Label30 = label(GroupBox16, "Label30", QStringLiteral("Status:"), 10, 22);
  lbTest = label(GroupBox16, "lbTest", QStringLiteral("Disable"), 60, 22);
  Label35 = label(GroupBox16, "Label35", QStringLiteral("Text Mode (rapidly drop current while fix)"), 30, 46);
  cbTest = place<QCheckBox>(GroupBox16, "cbTest", 10, 45, 18, 18);
  cbTest->setEnabled(false);

  constexpr int kFirmX = 408, kFirmY = 2, kFirmW = 238, kFirmH = 112;
  GroupBox10 = group(tab, "GroupBox10", QStringLiteral("SBAS"), kFirmX, kFirmY, kFirmW, kFirmH);
  Label18 =
      label(GroupBox10, "Label18", QStringLiteral("Some WAAS / EGNOS / MSAS SVs are under test, in order "), 6, 16);
  Label19 = label(GroupBox10, "Label19", QStringLiteral("to avoid some experimental SVs affect our performance, only "),
                  6, 30);
  Label20 = label(GroupBox10, "Label20",
                  QStringLiteral("stable SVs allow to apply to our system. If you want to test "), 6, 44);
  Label21 = label(GroupBox10, "Label21", QStringLiteral("Some experimental SVs, please set \"Test\" mode."), 6, 58);
  rbIntegrity = place<QRadioButton>(GroupBox10, "rbIntegrity", 6, 78, 80, 18);
  rbIntegrity->setText(QStringLiteral("Integrity"));
  rbTest = place<QRadioButton>(GroupBox10, "rbTest", 90, 78, 60, 18);
  rbTest->setText(QStringLiteral("Test"));
  btSBASSet = button(GroupBox10, "btSBASSet", QStringLiteral("Set"), 150, 60, 40);
  btSBASQuery = button(GroupBox10, "btSBASQuery", QStringLiteral("Query"), 192, 60, 40);

  constexpr int kAboutX = 408, kAboutY = 118, kAboutW = 238, kAboutH = 284;
  GroupBox11 = group(tab, "GroupBox11", QStringLiteral("Write setting into flash (remian      times to modify)  "),
                     kAboutX, kAboutY, kAboutW, kAboutH);
  lbTimes = label(GroupBox11, "lbTimes", QString(), 10, 20, 30);
  Label22 = label(GroupBox11, "Label22", QStringLiteral("Depend on [All Settings] in Setup page."), 10, 40);
  Label36 = label(GroupBox11, "Label36", QStringLiteral("Setting write protection"), 30, 62);
  CheckBox8 = place<QCheckBox>(GroupBox11, "CheckBox8", 10, 61, 18, 18);
  CheckBox8->setEnabled(false);
  btAllSet = button(GroupBox11, "btAllSet", QStringLiteral("Set"), 10, 90);
  btAllQuery = button(GroupBox11, "btAllQuery", QStringLiteral("Query"), 80, 90);
  GroupBox17 = group(tab, "GroupBox17", QStringLiteral("NMEA  Output"), kAboutX, kAboutY, kAboutW, kAboutH);
  Label31 =
      label(GroupBox17, "Label31", QStringLiteral("Output NMEA sentences when you click the button. The "), 6, 20);
  Label32 = label(GroupBox17, "Label32", QStringLiteral("function is designed for GPS mouse,avoid PC "), 6, 34);
  Label33 = label(GroupBox17, "Label33", QStringLiteral("misunderstanding it as a mousee."), 6, 48);
  Label34 = label(GroupBox17, "Label34", QStringLiteral("(The featuer also needs firmware support!)"), 6, 62);
  btWakeup = button(GroupBox17, "btWakeup", QStringLiteral("Wake Up"), 10, 84, 70);

  // The long explanatory lines end at their group's edge: no control reaches past its parent.
  for (QGroupBox* g : {GroupBox9, GroupBox16, GroupBox10, GroupBox11, GroupBox17})
    for (QLabel* l : g->findChildren<QLabel*>())
      if (l->geometry().right() > g->width() - 4) l->resize(g->width() - 4 - l->x(), l->height());

  // Left column: NMEA output settings.
  GroupBox7 = group(tab, "GroupBox7", QStringLiteral("NMEA Output Settings"), 4, 2, 400, 190);
  for (const SentenceControlsRow& row : kSentenceControls) {
    const int i = static_cast<int>(IndexOf(row.kind));
    const int x = 10 + (i % 4) * 96;
    const int y = 22 + (i / 4) * 28;
    const std::string name(NmeaKindName(row.kind));
    const std::string boxName = "cb" + name;
    this->*row.rateLabel = label(GroupBox7, name.c_str(), QString::fromLatin1(name.c_str()), x, y + 3, 38);
    QComboBox* const box = combo(GroupBox7, boxName.c_str(), numberItems(0, 5), x + 38, y, 48);
    box->setCurrentIndex(0);
    this->*row.rateBox = box;
  }
  btDefault = button(GroupBox7, "btDefault", QStringLiteral("Default"), 10, 80, 70);
  btConfirm = button(GroupBox7, "btConfirm", QStringLiteral("Confirm"), 86, 80, 70);
  btNAQuery = button(GroupBox7, "btNAQuery", QStringLiteral("Query"), 162, 80, 70);

  GroupBox15 = group(GroupBox7, "GroupBox15", QStringLiteral("Baudrate"), 240, 70, 150, 36);
  cbBA = combo(GroupBox15, "cbBA", baudItems, 6, 12, 74);
  cbBA->setCurrentIndex(0);
  cbBA->setVisible(false);
  btBAUSet = button(GroupBox15, "btBAUSet", QStringLiteral("Set"), 86, 10, 56);
  btBAUSet->setVisible(false);
  GroupBox15->setVisible(false);

  GroupBox14 = group(GroupBox7, "GroupBox14", QStringLiteral("Fix Update Rate"), 8, 112, 196, 70);
  cbFix = combo(GroupBox14, "cbFix", numberItems(1, 5), 8, 20, 52);
  cbFix->setCurrentIndex(-1);
  cbFix->setEditText(QStringLiteral("1"));
  btFixQuery = button(GroupBox14, "btFixQuery", QStringLiteral("Query"), 66, 19, 58);
  btFixSet = button(GroupBox14, "btFixSet", QStringLiteral("Set"), 130, 19, 58);
  Button5 = button(GroupBox14, "Button5", QStringLiteral("Reset"), 66, 44, 58, 22);

  GroupBox18 = group(GroupBox7, "GroupBox18", QStringLiteral("Data Bandwidth"), 210, 112, 182, 70);
  lbFix = label(GroupBox18, "lbFix", QStringLiteral("1"), 12, 20, 50, 18);
  lbFix->setFont(windowFont(8, true));
  lbFix->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  Label38 = label(GroupBox18, "Label38", QStringLiteral("Hz"), 66, 20, 30, 18);
  Label38->setFont(windowFont(8, true));
  lbRS = label(GroupBox18, "lbRS", QStringLiteral("0.0"), 2, 40, 60, 24);
  lbRS->setFont(windowFont(12, true));
  lbRS->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  Label40 = label(GroupBox18, "Label40", QStringLiteral("%"), 66, 40, 30, 24);
  Label40->setFont(windowFont(12, true));

  // DGPS.
  GroupBox8 = group(tab, "GroupBox8", QStringLiteral("DGPS"), 4, 194, 400, 76);
  rbWAAS = place<QRadioButton>(GroupBox8, "rbWAAS", 12, 22, 90, 18);
  rbWAAS->setText(QStringLiteral("SBAS"));
  rbDisable = place<QRadioButton>(GroupBox8, "rbDisable", 12, 46, 90, 18);
  rbDisable->setText(QStringLiteral("Disable"));
  rbDisable->setChecked(true);
  rbRTCM = place<QRadioButton>(GroupBox8, "rbRTCM", 108, 22, 18, 18);
  rbRTCM->setEnabled(false);
  rbRTCM->setVisible(false);
  Label29 = label(GroupBox8, "Label29", QStringLiteral("RTCM"), 128, 24);
  Label29->setVisible(false);
  Label17 = label(GroupBox8, "Label17", QStringLiteral("RTCM Baudrate :"), 108, 48);
  Label17->setVisible(false);
  cbRTCMBD = combo(GroupBox8, "cbRTCMBD", baudItems, 200, 45, 70);
  cbRTCMBD->setCurrentIndex(0);  // text "4800"
  cbRTCMBD->setEnabled(false);
  cbRTCMBD->setVisible(false);
  btDGQuery = button(GroupBox8, "btDGQuery", QStringLiteral("Query"), 246, 20, 70);
  btDGPSSet = button(GroupBox8, "btDGPSSet", QStringLiteral("Set"), 322, 20, 70);

  // AGPS: state and progress of the assisted-GPS data.
  GroupBox13 = group(tab, "GroupBox13", QStringLiteral("AGPS"), kAgpsX, kAgpsY, kAgpsW, kAgpsH);
  Label39 = label(GroupBox13, "Label39", QString(), 10, 20, 300, 100);
  Label39->setWordWrap(true);
  Label39->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  Button2 = button(GroupBox13, "Button2", QStringLiteral("Query"), 322, 20, 70);
  Button3 = button(GroupBox13, "Button3", QStringLiteral("Update"), 322, 48, 70);
  Button4 = button(GroupBox13, "Button4", QStringLiteral("Reset"), 322, 76, 70);

  // Right column: firmware version and about.
  GroupBox19 = group(tab, "GroupBox19", QStringLiteral("Firmware Version"), kFirmX, kFirmY, kFirmW, kFirmH);
  Label26 = label(GroupBox19, "Label26", QStringLiteral("Version:"), 10, 22);
  Label27 = label(GroupBox19, "Label27", QString(), 10, 40, 218, 32);
  Label27->setWordWrap(true);
  Label27->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  Label37 = label(GroupBox19, "Label37", QString(), 10, 74, 140);
  btVerQuery = button(GroupBox19, "btVerQuery", QStringLiteral("Query"), 158, 78, 70);

  GroupBox12 = group(tab, "GroupBox12", QStringLiteral("About"), kAboutX, kAboutY, kAboutW, kAboutH);
  Label23 = label(GroupBox12, "Label23", QStringLiteral("Torvikel"), 12, 40, 0, 40);
  Label23->setFont(windowFont(24, true));
  Label23->adjustSize();
  Label24 = label(GroupBox12, "Label24", QStringLiteral("Version " TORVIKEL_VERSION "  2012 August 09th"), 12, 100);
  Label25 = label(GroupBox12, "Label25", QString(), 12, 120, 200);

  for (const SentenceControlsRow& row : kSentenceControls) whiteField(this->*row.rateBox);
  for (QComboBox* box : {cbBA, cbFix, cbRTCMBD, cbDatum}) whiteField(box);
  for (QGroupBox* g : {GroupBox7, GroupBox8, GroupBox9, GroupBox10, GroupBox11, GroupBox12, GroupBox13, GroupBox14,
                       GroupBox15, GroupBox16, GroupBox17, GroupBox19})
    setTextColour(g, clWhite);
}

void TForm1::connectHandlers() {
  const std::pair<QPushButton*, void (TForm1::*)()> clicks[] = {
      {Button1, &TForm1::Button1Click},
      {hot, &TForm1::hotClick},
      {warm, &TForm1::warmClick},
      {cold, &TForm1::coldClick},
      {StartLog, &TForm1::StartLogClick},
      {StopLog, &TForm1::StopLogClick},
      {btDefault, &TForm1::btDefaultClick},
      {btConfirm, &TForm1::btConfirmClick},
      {btNAQuery, &TForm1::btNAQueryClick},
      {btFixQuery, &TForm1::btFixQueryClick},
      {btFixSet, &TForm1::btFixSetClick},
      {Button5, &TForm1::Button5Click},
      {btDGQuery, &TForm1::btDGQueryClick},
      {btDGPSSet, &TForm1::btDGPSSetClick},
      {btVerQuery, &TForm1::btVerQueryClick},
      {Button2, &TForm1::Button2Click},
      {Button3, &TForm1::Button3Click},
      {Button4, &TForm1::Button4Click},
  };
  for (const auto& [control, handler] : clicks) connect(control, &QPushButton::clicked, this, handler);
  connect(Timer1, &QTimer::timeout, this, &TForm1::Timer1Timer);
  connect(Timer2, &QTimer::timeout, this, &TForm1::Timer2Timer);
}

void TForm1::ScrollConsoleToEnd() {
  if (!memoScrollPending) return;
  memoScrollPending = false;
  Memo1->verticalScrollBar()->setValue(Memo1->verticalScrollBar()->maximum());
}

void TForm1::FormCreate() {
  ClearConsole();
  for (QGroupBox* g :
       {GroupBox1, GroupBox2, GroupBox3, GroupBox4, GroupBox5, GroupBox6, GroupBox7, GroupBox8, GroupBox9, GroupBox10,
        GroupBox11, GroupBox12, GroupBox13, GroupBox14, GroupBox15, GroupBox16, GroupBox17, GroupBox19}) {
    setBackColour(g, kWindowBlue);
    FillBehindEditFields(g);
  }
  Chart1->setColor(kWindowBlue);
  setBackColour(Label2, kWindowBlue);
}

void TForm1::RefreshPortTooltips() {
  // One look at the devices for the whole list: each item's own scan made opening it slow.
  const std::vector<ResolvedPort> ports = ResolveComPorts(ComboBox1->count());
  for (int n = 1; n <= static_cast<int>(ports.size()); ++n) {
    const ResolvedPort& port = ports[static_cast<std::size_t>(n) - 1];
    QString tip;
    if (port.devicePath) {
      tip = QStringLiteral("Com%1 \u2014 %2").arg(n).arg(QString::fromStdString(*port.devicePath));
      if (!port.description.empty()) tip += QStringLiteral(", ") + QString::fromStdString(port.description);
    } else if (port.cause == LinkCause::BadMapEntry) {
      // An entry that leads nowhere says so where the user looks first, before "On".
      tip = QStringLiteral("Com%1 \u2014 %2").arg(n).arg(QString::fromStdString(port.problem));
    }
    ComboBox1->setItemData(n - 1, tip.isEmpty() ? QVariant() : QVariant(tip), Qt::ToolTipRole);
  }
}
