// The sky plot and the signal chart as rendered: where bubbles and bars stand, their colours,
// labels and value marks, the invisible anchors, and the axes of both chart components; when
// the window repaints a change, what the repaint covers, and what Qt does that the window's
// painting economies rest on.
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextLayout>
#include <QtTest>
#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "app/chart_widgets.h"
#include "app/message_box.h"
#include "app/paint_economy.h"
#include "app/sky_background.h"
#include "app/tform1.h"

namespace {

// Frames a sentence body as the receiver does: "$", body, "*", XOR in hex, CR LF.
std::string framed(const std::string& body) {
  unsigned char sum = 0;
  for (char c : body) sum = static_cast<unsigned char>(sum ^ static_cast<unsigned char>(c));
  char tail[8];
  std::snprintf(tail, sizeof tail, "*%02X\r\n", sum);
  return "$" + body + tail;
}

bool near(QColor a, QColor b, int tolerance = 12) {
  return qAbs(a.red() - b.red()) <= tolerance && qAbs(a.green() - b.green()) <= tolerance &&
         qAbs(a.blue() - b.blue()) <= tolerance;
}

// Share of the pixels within radiusPx of a point that have the colour (labels cover a few).
double shareOfColour(const QImage& image, QPointF centre, double radiusPx, QColor colour) {
  int inside = 0;
  int matching = 0;
  for (int y = static_cast<int>(centre.y() - radiusPx); y <= centre.y() + radiusPx; ++y)
    for (int x = static_cast<int>(centre.x() - radiusPx); x <= centre.x() + radiusPx; ++x) {
      if (std::hypot(x - centre.x(), y - centre.y()) > radiusPx) continue;
      if (!image.rect().contains(x, y)) continue;
      ++inside;
      if (near(QColor(image.pixel(x, y)), colour)) ++matching;
    }
  return inside == 0 ? 0 : static_cast<double>(matching) / inside;
}

const QColor kBlue(0, 0, 255);
const QColor kSilver(192, 192, 192);

// The paint events each watched widget has received.
class PaintCounter : public QObject {
 public:
  void watch(QWidget* widget) {
    counts_[widget] = 0;
    widget->installEventFilter(this);
  }
  int count(QWidget* widget) const { return counts_.value(widget); }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Paint) ++counts_[watched];
    return false;
  }

 private:
  QHash<QObject*, int> counts_;
};

// A change that the window repaints where it shows, and the widgets beside and beneath it
// whose repaint the window's painting economies spare.
struct LocalRepaint {
  const char* name;
  std::function<void(TForm1&)> change;
  std::function<QWidget*(TForm1&)> shown;  // repainted for the change
  std::function<std::vector<QWidget*>(TForm1&)> spared;
};

void consoleLine(TForm1& form) {
  form.sentenceBuffer = framed("GPVTG,,T,,M,,N,,K,N");
  form.sentenceLength = static_cast<int>(form.sentenceBuffer.size());
  form.UpdateSentenceDisplay();
}

const std::vector<LocalRepaint>& localRepaints() {
  static const std::vector<LocalRepaint> rows = {
      {"an edit field's new text spares its group box",
       [](TForm1& f) { f.EdDate->setText(QStringLiteral("2015/04/13")); }, [](TForm1& f) { return f.EdDate; },
       [](TForm1& f) { return std::vector<QWidget*>{f.GroupBox2}; }},
      // The line is as wide as those before it and the console is full, so the vertical bar's
      // range and value change and the horizontal bar's do not.
      {"a console line spares the horizontal bar and what lies behind the vertical one", consoleLine,
       [](TForm1& f) { return f.Memo1->verticalScrollBar(); },
       [](TForm1& f) {
         return std::vector<QWidget*>{f.Memo1->horizontalScrollBar(), f.Memo1, f.GroupBox4};
       }},
  };
  return rows;
}

// Eats the repaint requests Qt posts to a window, as the window's pacer does within a frame,
// and lets through only the one sent in their place.
class RequestHolder : public QObject {
 public:
  int held = 0;
  bool passing = false;

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() != QEvent::UpdateRequest || passing) return false;
    ++held;
    return true;
  }
};

// What Qt does, without promising it, that an economy of app/paint_economy.h rests on. Each
// row checks it on widgets of its own or on the window; it returns what differs, empty when
// Qt still does it. A Qt without it would otherwise only cost the saving, unnoticed.
struct QtBehaviour {
  const char* name;
  std::function<QString(TForm1&)> differs;
};

const char* const kShowOrHideSlot = "_q_showOrHideScrollBars()";

QString showOrHideLinks(QAbstractScrollArea& area, bool linked) {
  if (area.metaObject()->indexOfSlot(kShowOrHideSlot) < 0) return QStringLiteral("no slot of that name");
  for (const QScrollBar* bar : {area.horizontalScrollBar(), area.verticalScrollBar()}) {
    // A disconnect by name takes only a link that exists.
    if (QObject::disconnect(bar, SIGNAL(rangeChanged(int, int)), &area, SLOT(_q_showOrHideScrollBars())) != linked)
      return QStringLiteral("%1 bar %2 linked to the slot")
          .arg(bar->orientation() == Qt::Horizontal ? "horizontal" : "vertical", linked ? "not" : "still");
  }
  return {};
}

const std::vector<QtBehaviour>& qtBehaviours() {
  static const std::vector<QtBehaviour> rows = {
      {"a scroll area links its bars' ranges to a private slot by its name (KeepScrollBarsInPlace)",
       [](TForm1&) {
         QPlainTextEdit area;
         return showOrHideLinks(area, true);
       }},
      {"the console's bars are no longer linked to that slot (KeepScrollBarsInPlace)",
       [](TForm1& f) { return showOrHideLinks(*f.Memo1, false); }},
      {"a change posts one repaint request to its window, and no other while it is held (RepaintPacer)",
       [](TForm1&) -> QString {
         QWidget window;
         QLineEdit field(&window);
         window.resize(200, 50);
         window.show();
         if (!QTest::qWaitForWindowExposed(&window)) return QStringLiteral("not shown");
         QCoreApplication::sendPostedEvents(&window, QEvent::UpdateRequest);  // the showing's own
         RequestHolder holder;
         window.installEventFilter(&holder);
         field.setText(QStringLiteral("a"));
         QCoreApplication::sendPostedEvents(&window, QEvent::UpdateRequest);
         if (holder.held != 1) return QStringLiteral("%1 requests to the window for a change").arg(holder.held);
         field.setText(QStringLiteral("b"));
         QCoreApplication::sendPostedEvents(&window, QEvent::UpdateRequest);
         if (holder.held != 1) return QStringLiteral("another request while the first was held");
         PaintCounter paints;
         paints.watch(&field);
         holder.passing = true;
         QEvent request(QEvent::UpdateRequest);
         QCoreApplication::sendEvent(&window, &request);
         if (paints.count(&field) != 1) return QStringLiteral("the request sent in its place did not paint the change");
         return {};
       }},
      {"the console keeps its layout through clearing and new lines (KeptLinesLayout)",
       [](TForm1& f) -> QString {
         f.ClearConsole();
         for (int i = 0; i < 3; ++i) consoleLine(f);
         if (dynamic_cast<const KeptLinesLayout*>(f.Memo1->document()->documentLayout()) == nullptr)
           return QStringLiteral("the console's layout was replaced");
         return {};
       }},
      {"a plain text layout lays a line out keeping its cache as set before (KeptLinesLayout)",
       [](TForm1& f) -> QString {
         for (int i = 0; i < 3; ++i) consoleLine(f);
         f.Memo1->document()->documentLayout()->documentSize();  // every line laid out
         int lines = 0;
         for (QTextBlock block = f.Memo1->document()->begin(); block.isValid(); block = block.next()) {
           if (block.length() <= 1) continue;  // the empty block after the last line end
           ++lines;
           if (block.layout()->lineCount() == 0) return QStringLiteral("line %1 not laid out").arg(lines);
           if (!block.layout()->cacheEnabled()) return QStringLiteral("line %1 without its cache").arg(lines);
         }
         if (lines < 3) return QStringLiteral("%1 lines in the console").arg(lines);
         return {};
       }},
      {"a group box's background is one colour behind the status fields (FillBehindEditFields)",
       [](TForm1& f) -> QString {
         for (QLineEdit* field :
              {f.EdDate, f.EdTime, f.EdMode, f.Edit1, f.EdLat, f.EdLon, f.EdSpeed, f.EdPDOP, f.EdHeight}) {
           if (!field->autoFillBackground()) return field->objectName() + QStringLiteral(" not filled");
         }
         return {};
       }},
      {"a field filled with the colour behind it looks as it did (FillBehindEditFields)",
       [](TForm1& f) -> QString {
         for (QLineEdit* field : f.findChildren<QLineEdit*>()) {
           if (!field->autoFillBackground()) continue;
           QWidget* group = field->parentWidget();
           const QImage filled = group->grab().toImage();
           field->setAutoFillBackground(false);
           const QImage unfilled = group->grab().toImage();
           field->setAutoFillBackground(true);
           if (filled != unfilled) return field->objectName() + QStringLiteral(" looks different");
         }
         return {};
       }},
  };
  return rows;
}

}  // namespace

class ChartsTest : public QObject {
  Q_OBJECT

 private:
  TForm1* form = nullptr;

  void feed(const std::string& body) {
    const SentenceOutcome outcome = form->session.handle(framed(body));
    QVERIFY2(outcome.valid, body.c_str());
  }

 private slots:
  void init() {
    SetMessageBoxHook([](const MessageBoxRequest&) { return 0; });
    form = new TForm1;
    form->show();
    QVERIFY(QTest::qWaitForWindowExposed(form));
  }
  void cleanup() {
    delete form;
    form = nullptr;
    SetMessageBoxHook({});
  }

  // Satellites 3, 17 and 22; 17 and 22 are used in the fix. 3 stands at the zenith, 17 on the
  // eastern horizon, 22 has empty elevation and azimuth and so stands on the northern horizon.
  void skyPlotAndBarsOfOneCycle() {
    feed("GPGSA,A,3,17,22,,,,,,,,,,,2.0,1.0,1.7");
    feed("GPGSV,1,1,03,3,90,000,40,17,00,090,35,22,,,28");
    QVERIFY(form->session.state.gsvCycleComplete);
    form->RebuildCharts();
    QVERIFY(!form->session.state.gsvCycleComplete);

    // Sky plot: 151 pixels span -150..150, so 100 units are 50 pixels and a radius of 20 units
    // is 10 pixels; the centre is pixel 75.
    const struct {
      const char* legend;
      QString label;
      QPointF expectedPx;
      QColor colour;
    } bubbles[] = {
        {"elevation 90: centre", "3", {75, 75}, kSilver},
        {"elevation 0 azimuth 90: (100, 0), east", "17", {125, 75}, kBlue},
        {"empty elevation and azimuth: (0, 100), north", "22", {75, 25}, kBlue},
    };
    const std::vector<DrawnBubble> drawn = form->Chart1->drawnBubbles();
    QCOMPARE(drawn.size(), std::size_t{3});  // the four anchors are not drawn
    const QImage sky = form->Chart1->grab().toImage();
    for (std::size_t i = 0; i < 3; ++i) {
      const auto& b = bubbles[i];
      QCOMPARE(drawn[i].label, b.label);
      QVERIFY2(qAbs(drawn[i].centrePx.x() - b.expectedPx.x()) < 0.01, b.legend);
      QVERIFY2(qAbs(drawn[i].centrePx.y() - b.expectedPx.y()) < 0.01, b.legend);
      QVERIFY2(qAbs(drawn[i].radiusPx - 10) < 0.01, b.legend);
      QVERIFY2(shareOfColour(sky, b.expectedPx, 8, b.colour) > 0.5, b.legend);
    }
    // The four anchors stand in the corners and leave the picture untouched there.
    QCOMPARE(form->Series1->count(), 7);
    const QImage picture = form->Chart1->backgroundImage();
    for (QPoint corner : {QPoint(0, 0), QPoint(150, 0), QPoint(0, 150), QPoint(150, 150)})
      QCOMPARE(QColor(sky.pixel(corner)), QColor(picture.pixel(corner)));

    // Bars in ascending satellite number: 3 silver, 17 and 22 blue, each value above its bar.
    const std::vector<DrawnBar> bars = form->Chart2->drawnBars();
    QCOMPARE(bars.size(), std::size_t{3});
    const struct {
      QString label;
      QString value;
      QColor colour;
    } expected[] = {{"3", "40", kSilver}, {"17", "35", kBlue}, {"22", "28", kBlue}};
    const QImage chart = form->Chart2->grab().toImage();
    const QRectF plot = form->Chart2->plotRect();
    for (std::size_t i = 0; i < 3; ++i) {
      QCOMPARE(bars[i].label, expected[i].label);
      QCOMPARE(bars[i].valueText, expected[i].value);
      QCOMPARE(QColor(chart.pixel(bars[i].barPx.center().toPoint())), expected[i].colour);
      // Height on the fixed 0..100 axis.
      QVERIFY(qAbs(bars[i].barPx.bottom() - plot.bottom()) < 0.01);
      QVERIFY(qAbs(bars[i].barPx.height() - expected[i].value.toDouble() / 100 * plot.height()) < 0.01);
      QVERIFY(bars[i].valueMarkPx.bottom() < bars[i].barPx.top());
      if (i > 0) QVERIFY(bars[i].barPx.left() > bars[i - 1].barPx.right());
    }
  }

  // "07" in GSV and "7" in GSA are different texts: silver.
  void usedListComparesText() {
    feed("GPGSA,A,3,7,,,,,,,,,,,,2.0,1.0,1.7");
    feed("GPGSV,1,1,01,07,45,180,30");
    form->RebuildCharts();
    const std::vector<DrawnBar> bars = form->Chart2->drawnBars();
    QCOMPARE(bars.size(), std::size_t{1});
    QCOMPARE(bars[0].label, QStringLiteral("07"));
    QCOMPARE(bars[0].color, clSilver);
    QCOMPARE(form->Chart1->drawnBubbles().at(0).color, clSilver);
  }

  // Only a completed group redraws; satellites of an unfinished group join the next one, and
  // a satellite missing from the next group is gone.
  void rebuildFollowsCompletedGroups() {
    feed("GPGSV,2,1,05,01,10,010,11,02,20,020,22,03,30,030,33,04,40,040,44");
    feed("GPGSV,2,2,05,05,50,050,15");
    form->RebuildCharts();
    QCOMPARE(form->Series2->count(), 5);

    feed("GPGSV,2,1,05,01,10,010,11,02,20,020,22,03,30,030,33,06,40,040,44");  // group unfinished
    form->RebuildCharts();
    QCOMPARE(form->Series2->count(), 5);  // unchanged
    QCOMPARE(form->Series2->points().back().label, QStringLiteral("05"));

    feed("GPGSV,1,1,01,09,60,090,39");
    form->RebuildCharts();
    QStringList labels;
    for (const BarPoint& p : form->Series2->points()) labels << p.label;
    QCOMPARE(labels, QStringList({"01", "02", "03", "06", "09"}));  // 04 and 05 dropped out
    QCOMPARE(form->Series1->count(), 4 + 5);
  }

  // A sky of four systems, as a multi-system receiver reports it: each system's cycle and GSA
  // on its own. Every system is charted, each used mark from its own system's GSA, the other
  // systems' numbers with their letters, and 40 satellites shrink the bubbles.
  void everySystemIsCharted() {
    const char* talkers[] = {"GP", "GL", "GA", "GB"};
    const int firstNumber[] = {1, 65, 1, 1};
    for (int t = 0; t < 4; ++t) {
      feed(std::string("GNGSA,A,3,") + std::to_string(firstNumber[t]) + ",,,,,,,,,,,,1.2,0.8,0.9," +
           std::to_string(t + 1));
    }
    for (int t = 0; t < 4; ++t) {
      for (int m = 0; m < 3; ++m) {
        std::string gsv = std::string(talkers[t]) + "GSV,3," + std::to_string(m + 1) + ",10";
        for (int k = m * 4; k < std::min(10, m * 4 + 4); ++k) {
          gsv += "," + std::to_string(firstNumber[t] + k) + "," + std::to_string(10 + 2 * k) + "," +
                 std::to_string(36 * k) + "," + std::to_string(20 + k);
        }
        feed(gsv);
      }
    }
    form->RebuildCharts();
    const std::vector<BarPoint>& points = form->Series2->points();
    QCOMPARE(points.size(), std::size_t{40});
    QCOMPARE(points[0].label, QStringLiteral("1"));
    QCOMPARE(points[10].label, QStringLiteral("R65"));
    QCOMPARE(points[20].label, QStringLiteral("E1"));
    QCOMPARE(points[30].label, QStringLiteral("C1"));
    QCOMPARE(points[30].shortLabel, QStringLiteral("1"));
    QCOMPARE(points[30].group, QStringLiteral("BeiDou"));
    for (std::size_t i = 0; i < points.size(); ++i) {
      QCOMPARE(points[i].color, i % 10 == 0 ? clBlue : clSilver);  // the first of each system is used
    }
    const std::vector<DrawnBubble> bubbles = form->Chart1->drawnBubbles();
    QCOMPARE(bubbles.size(), std::size_t{40});
    QCOMPARE(bubbles[10].label, QStringLiteral("R65"));
    QVERIFY(form->Series1->points().back().radius < 20);
  }

  // However many bars, every one keeps its number under it and its value above it, none
  // covering another, and a crowded chart names each system once under its bars.
  void crowdedBarsKeepEveryLabelAndMark_data() {
    QTest::addColumn<int>("perSystem");
    QTest::addColumn<bool>("crowded");
    QTest::newRow("12 satellites of one system: one row, as always") << 12 << false;
    QTest::newRow("24 of two systems") << 12 << true;
    QTest::newRow("40 of four systems") << 10 << true;
  }
  void crowdedBarsKeepEveryLabelAndMark() {
    QFETCH(int, perSystem);
    QFETCH(bool, crowded);
    const int systems = crowded ? (perSystem == 12 ? 2 : 4) : 1;
    const QString names[] = {QStringLiteral("GPS"), QStringLiteral("GLONASS"), QStringLiteral("Galileo"),
                             QStringLiteral("BeiDou")};
    const QString letters[] = {QString(), QStringLiteral("R"), QStringLiteral("E"), QStringLiteral("C")};
    BarChart& chart = *form->Chart2;
    chart.series()->clear();
    for (int s = 0; s < systems; ++s) {
      for (int k = 0; k < perSystem; ++k) {
        const QString number = QString::number(10 + k);
        chart.series()->add(20 + (k * 7) % 30, letters[s] + number, k % 2 ? clBlue : clSilver, names[s], number);
      }
    }
    const std::vector<DrawnBar> bars = chart.drawnBars();
    QCOMPARE(static_cast<int>(bars.size()), systems * perSystem);
    const BarChart::Crowding crowding = chart.crowding();
    QCOMPARE(crowding.labelRows > 1 || crowding.groups, crowded);
    for (std::size_t i = 0; i < bars.size(); ++i) {
      QVERIFY2(!bars[i].axisTextPx.isEmpty(), qPrintable(bars[i].label));
      QVERIFY(chart.rect().contains(bars[i].valueMarkPx.toRect()));
      QCOMPARE(bars[i].axisText, crowded ? bars[i].label.right(2) : bars[i].label);
      for (std::size_t j = 0; j < i; ++j) {
        QVERIFY2(!bars[i].valueMarkPx.intersects(bars[j].valueMarkPx),
                 qPrintable(bars[i].label + " and " + bars[j].label));
        QVERIFY2(!bars[i].axisTextPx.intersects(bars[j].axisTextPx),
                 qPrintable(bars[i].label + " and " + bars[j].label));
      }
    }
    const std::vector<DrawnGroup> groups = chart.drawnGroups();
    QCOMPARE(static_cast<int>(groups.size()), crowded ? systems : 0);
    for (int s = 0; s < static_cast<int>(groups.size()); ++s) {
      QVERIFY(!groups[s].text.isEmpty());
      QVERIFY(names[s].startsWith(groups[s].text.chopped(groups[s].text.endsWith(QChar(0x2026)) ? 1 : 0)));
      // The span runs under its own bars only.
      QVERIFY(groups[s].spanPx.x1() <= bars[s * perSystem].barPx.left());
      QVERIFY(groups[s].spanPx.x2() >= bars[(s + 1) * perSystem - 1].barPx.right());
      if (s > 0) QVERIFY(groups[s].spanPx.x1() > groups[s - 1].spanPx.x2());
    }
  }

  // Repaints are held to the screen's frame rate: a change made right after a repaint waits
  // for the frame's end, but the screen then shows the window as it finally is, the
  // console scrolled to its last line.
  void screenCatchesUpWithChangesWithinAFrame() {
    QScreen* screen = form->screen();
    auto onScreen = [&] { return screen->grabWindow(form->winId()).toImage(); };
    auto asDrawn = [&] { return form->grab().toImage().convertToFormat(onScreen().format()); };
    feed("GPGSV,1,1,02,01,10,010,11,02,20,020,22");
    form->RebuildCharts();
    QTRY_VERIFY_WITH_TIMEOUT(onScreen() == asDrawn(), 5000);
    // A repaint goes through now; the changes right after it fall within its frame.
    form->EdDate->setText(QStringLiteral("2015/04/13"));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::UpdateRequest);
    feed("GPGSV,1,1,03,07,45,100,41,08,60,200,37,09,30,300,25");
    form->RebuildCharts();
    form->EdTime->setText(QStringLiteral("12:34:56"));
    for (int i = 0; i < 12; ++i) {  // more lines than the console shows: it follows the end
      form->sentenceBuffer = framed("GPVTG,,T,,M,,N,,K,N");
      form->sentenceLength = static_cast<int>(form->sentenceBuffer.size());
      form->UpdateSentenceDisplay();
    }
    QTRY_VERIFY_WITH_TIMEOUT(onScreen() == asDrawn(), 5000);
    QCOMPARE(form->Series2->count(), 3);
    const QScrollBar* lines = form->Memo1->verticalScrollBar();
    QVERIFY(lines->maximum() > 0);
    QCOMPARE(lines->value(), lines->maximum());
  }

  // A change repaints the widget that shows it and leaves the others as they are painted.
  void aChangeRepaintsWhereItShows_data() {
    QTest::addColumn<int>("row");
    for (int i = 0; i < static_cast<int>(localRepaints().size()); ++i)
      QTest::newRow(localRepaints()[static_cast<std::size_t>(i)].name) << i;
  }
  void aChangeRepaintsWhereItShows() {
    QFETCH(int, row);
    const LocalRepaint& r = localRepaints()[static_cast<std::size_t>(row)];
    for (int i = 0; i < 12; ++i) consoleLine(*form);  // more lines than the console shows
    // The console is scrolled to its end just before the repaint that shows these lines.
    const QScrollBar* lines = form->Memo1->verticalScrollBar();
    QTRY_VERIFY_WITH_TIMEOUT(lines->maximum() > 0 && lines->value() == lines->maximum(), 5000);
    PaintCounter paints;
    QWidget* const shown = r.shown(*form);
    paints.watch(shown);
    for (QWidget* w : r.spared(*form)) paints.watch(w);
    r.change(*form);
    QTRY_VERIFY_WITH_TIMEOUT(paints.count(shown) > 0, 5000);
    for (QWidget* w : r.spared(*form)) QVERIFY2(paints.count(w) == 0, qPrintable(w->metaObject()->className()));
  }

  void qtStillDoesWhatAnEconomyRestsOn_data() {
    QTest::addColumn<int>("row");
    for (int i = 0; i < static_cast<int>(qtBehaviours().size()); ++i)
      QTest::newRow(qtBehaviours()[static_cast<std::size_t>(i)].name) << i;
  }
  void qtStillDoesWhatAnEconomyRestsOn() {
    QFETCH(int, row);
    const QString differs = qtBehaviours()[static_cast<std::size_t>(row)].differs(*form);
    QVERIFY2(differs.isEmpty(), qPrintable(differs));
  }

  // --------------------------------------------------------------- the components alone

  void bubbleAxesSpanThePoints_data() {
    QTest::addColumn<QList<QPointF>>("points");
    QTest::addColumn<double>("hMin");
    QTest::addColumn<double>("hMax");
    QTest::addColumn<double>("vMin");
    QTest::addColumn<double>("vMax");
    QTest::newRow("anchors only") << QList<QPointF>{{150, 150}, {-150, -150}} << -150.0 << 150.0 << -150.0 << 150.0;
    QTest::newRow("points beyond the anchors widen the axes")
        << QList<QPointF>{{150, 150}, {-150, -150}, {200, -300}} << -150.0 << 200.0 << -300.0 << 150.0;
    QTest::newRow("lopsided") << QList<QPointF>{{0, 0}, {10, 40}} << 0.0 << 10.0 << 0.0 << 40.0;
    QTest::newRow("one point: centred on it") << QList<QPointF>{{5, 7}} << 4.0 << 6.0 << 6.0 << 8.0;
  }
  void bubbleAxesSpanThePoints() {
    QFETCH(QList<QPointF>, points);
    QFETCH(double, hMin);
    QFETCH(double, hMax);
    QFETCH(double, vMin);
    QFETCH(double, vMax);
    BubbleChart chart;
    chart.resize(101, 101);
    for (const QPointF& p : points) chart.series()->addBubble(p.x(), p.y(), 1, QString(), clNone);
    QCOMPARE(chart.horizontalAxis().min, hMin);
    QCOMPARE(chart.horizontalAxis().max, hMax);
    QCOMPARE(chart.verticalAxis().min, vMin);
    QCOMPARE(chart.verticalAxis().max, vMax);
    QVERIFY(chart.drawnBubbles().empty());
    // The extremes land on the chart's edges.
    QCOMPARE(chart.toPixel(hMin, vMax), QPointF(0, 0));
    QCOMPARE(chart.toPixel(hMax, vMin), QPointF(100, 100));
  }

  void bubbleRadiusAndLabelsRender() {
    BubbleChart chart;
    chart.resize(201, 201);
    chart.setColor(clBlack);
    chart.series()->addBubble(-100, -100, 1, QString(), clNone);
    chart.series()->addBubble(100, 100, 1, QString(), clNone);
    chart.series()->addBubble(0, 0, 40, QStringLiteral("88"), clBlue);  // 40 units = 40 pixels
    const QImage image = chart.grab().toImage();
    QCOMPARE(chart.drawnBubbles().at(0).radiusPx, 40.0);
    QVERIFY(near(QColor(image.pixel(100 + 30, 100)), kBlue));
    QVERIFY(near(QColor(image.pixel(100 - 30, 100 + 10)), kBlue));
    QVERIFY(near(QColor(image.pixel(100 + 46, 100)), Qt::black));  // just outside
    // The white label stands in the middle.
    int white = 0;
    for (int y = 92; y <= 108; ++y)
      for (int x = 90; x <= 110; ++x) white += near(QColor(image.pixel(x, y)), Qt::white, 40) ? 1 : 0;
    QVERIFY(white > 5);
  }

  void barAxisAndLabels() {
    BarChart chart;
    chart.resize(300, 200);
    const QRectF plot = chart.plotRect();
    const auto labels = chart.verticalAxisLabels();
    QVERIFY(labels.size() >= 3);
    QCOMPARE(labels.front().first, 0.0);
    QCOMPARE(labels.back().first, 100.0);
    QCOMPARE(chart.axisLabelColor(), clWhite);
    // Out-of-range values stay inside the plot.
    chart.series()->add(150, QStringLiteral("1"), clBlue);
    chart.series()->add(-20, QStringLiteral("2"), clBlue);
    chart.series()->add(0, QStringLiteral("3"), clSilver);
    const auto bars = chart.drawnBars();
    QVERIFY(qAbs(bars[0].barPx.top() - plot.top()) < 0.01);
    QVERIFY(bars[1].barPx.height() < 0.01);
    QVERIFY(bars[2].barPx.height() < 0.01);
    for (const DrawnBar& b : bars) QVERIFY(chart.rect().contains(b.valueMarkPx.toRect()));
    chart.series()->clear();
    QVERIFY(chart.drawnBars().empty());
  }

  void barBackIsAGradientFromTheCentre() {
    BarChart chart;
    chart.resize(300, 200);
    const QImage image = chart.grab().toImage();
    const QRectF plot = chart.plotRect();
    const QColor centre(image.pixel(plot.center().toPoint()));
    const QColor corner(image.pixel(plot.topLeft().toPoint() + QPoint(3, 3)));
    QVERIFY2(near(centre, QColor(255, 255, 0), 20), qPrintable(centre.name()));                            // yellow
    QVERIFY2(corner.blue() > 120 && corner.red() < 60 && corner.green() < 60, qPrintable(corner.name()));  // dark blue
    // Outside the plot: the chart's own colour.
    QCOMPARE(QColor(image.pixel(1, 1)), ToQColor(kWindowBlue));
  }

  // The picture: dark ground in the corners, white cross at the centre, rings where a
  // satellite on the horizon and one at 60 degrees of elevation stand. "Whiteness" is the
  // smallest channel: high only where white is drawn, low on sea, land and sky.
  void skyBackground() {
    const QImage image = MakeSkyBackground(151);
    QCOMPARE(image.size(), QSize(151, 151));
    QVERIFY(QColor(image.pixel(2, 2)).value() < 80);
    QCOMPARE(QColor(image.pixel(75, 75)), QColor(Qt::white));
    QCOMPARE(QColor(image.pixel(75, 40)), QColor(Qt::white));   // vertical hair
    QCOMPARE(QColor(image.pixel(110, 75)), QColor(Qt::white));  // horizontal hair
    // Outer ring at 50 pixels, inner ring at 25: bright on a diagonal crossing.
    const auto brightestNear = [&image](double x, double y) {
      int best = 0;
      for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx)
          best = std::max(best, [](QColor c) {
            return std::min({c.red(), c.green(), c.blue()});
          }(QColor(image.pixel(qRound(x) + dx, qRound(y) + dy))));
      return best;
    };
    const double d = 50 / std::sqrt(2.0);
    QVERIFY(brightestNear(75 + d, 75 + d) > 120);
    const double e = 25 / std::sqrt(2.0);
    QVERIFY(brightestNear(75 - e, 75 - e) > 120);
    QVERIFY(brightestNear(75 + 37 / std::sqrt(2.0), 75 + 37 / std::sqrt(2.0)) < 100);  // between the rings
  }
};

QTEST_MAIN(ChartsTest)
#include "test_charts.moc"
