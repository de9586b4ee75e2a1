// "Update" when it cannot start an upload, through the offscreen window: not connected; every
// way the download fails (wrong password, no file on the server, a dropped transfer, a file
// too large for any EPO file, nobody listening) and the files the check refuses (0 and 61
// bytes). Each shows its message, leaves the receiver in NMEA output with the window's reader
// running, and leaves "Update" usable, so the next click with a good server completes. A
// server that never answers keeps the window alive, and "Off" or closing the window ends the
// wait; a port that cannot be reopened for the upload switches the link off with its message.
#include <QtTest>
#include <functional>
#include <string>
#include <vector>

#include "tests/app/support_agps.h"

using namespace agpstest;

namespace {

const QString kAppTitle = QStringLiteral("Torvikel v1.2.24");
const QString kDownloadFailed =
    QStringLiteral("Failed to connect to AGPS server. \r\nPlease check your network connection.");
const QString kCannotOpen = QStringLiteral("Cannot open EPO file.");
constexpr std::size_t kGoodBytes = 540;  // 9 records: 3 packets
constexpr int kUpdateTimeoutMs = 120000;

struct RefusedCase {
  const char* legend;
  std::size_t servedBytes;
  bool serveFile;
  const char* mode;
  std::vector<std::string> serverOptions;
  bool stopServerFirst;  // nobody listens on the server's port any more
  QString message;
  bool fileLeft;  // the downloaded file stays in the working directory
};

const std::vector<RefusedCase>& refusedCases() {
  static const std::vector<RefusedCase> cases = {
      {"wrong password", 53760, true, "normal", {"--password", "other"}, false, kDownloadFailed, false},
      {"no MTK7d.EPO on the server", 0, false, "normal", {}, false, kDownloadFailed, false},
      {"server drops the connection mid-transfer", 53760, true, "drop", {}, false, kDownloadFailed, false},
      {"file larger than any EPO file: aborted while it arrives",
       268860,
       true,
       "normal",
       {},
       false,
       kDownloadFailed,
       false},
      {"nobody listening on the server's port", 53760, true, "normal", {}, true, kDownloadFailed, false},
      {"a 61-byte file", 61, true, "normal", {}, false, kCannotOpen, true},
      {"an empty file", 0, true, "normal", {}, false, kCannotOpen, true},
  };
  return cases;
}

}  // namespace

class AgpsFailuresTest : public QObject {
  Q_OBJECT

 private slots:
  void notConnected() {
    EpoScene scene(epotest::MakeEpoBytes(kGoodBytes));
    QVERIFY(scene.ready());
    WindowFixture fx;
    QVERIFY(fx.start());
    TForm1& f = fx.form();
    f.Label39->setText(QStringLiteral("EPO data held: none"));
    f.Button3Click();  // the button itself is disabled while disconnected
    QCOMPARE(static_cast<int>(fx.boxes().size()), 1);
    // Text and title the system's way round.
    QCOMPARE(fx.boxes()[0].text, QStringLiteral("Warning"));
    QCOMPARE(fx.boxes()[0].title, QStringLiteral("No connected."));
    QCOMPARE(fx.boxes()[0].icon, BoxIcon::Warning);
    QCOMPARE(fx.boxes()[0].buttons, BoxButtons::Ok);
    QCOMPARE(f.Label39->text(), QStringLiteral("EPO data held: none"));
    QVERIFY(!f.Button3->isEnabled());
    QVERIFY(!f.epoUploadRunning);
    QVERIFY(scene.server.fixture().log().empty());  // the server was never asked
    QVERIFY(!scene.workDir.holdsEpoFile());
  }

  void refusedBeforeTheReceiverIsTouched_data() {
    QTest::addColumn<int>("row");
    for (std::size_t i = 0; i < refusedCases().size(); ++i)
      QTest::newRow(refusedCases()[i].legend) << static_cast<int>(i);
  }

  void refusedBeforeTheReceiverIsTouched() {
    QFETCH(int, row);
    const RefusedCase& c = refusedCases()[static_cast<std::size_t>(row)];
    WorkingDirectory workDir;
    QVERIFY(workDir.valid());
    std::vector<std::string> extra = c.serverOptions;
    auto server = std::make_unique<EpoServer>(epotest::MakeEpoBytes(c.servedBytes), c.serveFile, c.mode, extra);
    QVERIFY(server->running());
    if (c.stopServerFirst) server->fixture().stop();
    WindowFixture fx;
    QVERIFY(fx.startConnected());
    TForm1& f = fx.form();
    UpdateRecord record;
    RecordUpdate(f, record);

    ClickUpdate(f);
    QCOMPARE(static_cast<int>(fx.boxes().size()), 1);
    QCOMPARE(fx.boxes()[0].text, c.message);
    QCOMPARE(fx.boxes()[0].title, kAppTitle);
    QCOMPARE(fx.boxes()[0].icon, BoxIcon::Error);
    // "Update" is usable again and the label is cleared, on both paths.
    QCOMPARE(record.labels, (QStringList{QStringLiteral("Downloading EPO File...\r\n"), QString()}));
    QCOMPARE(f.Label39->text(), QString());
    QVERIFY(f.Button3->isEnabled());
    QVERIFY(!f.epoUploadRunning);
    QVERIFY(f.epoThread == nullptr);
    QCOMPARE(workDir.holdsEpoFile(), c.fileLeft);
    if (!c.fileLeft) QVERIFY2(workDir.entries().isEmpty(), qPrintable(workDir.entries().join(QLatin1Char(' '))));
    // The receiver was never switched and the window's reader still runs.
    QVERIFY(!SwitchedToBinary(fx.sim()));
    QVERIFY(!fx.sim().binaryMode());
    fx.clearMemoRecord();
    QVERIFY(RunUntil([&] { return fx.memoInserted().contains(QStringLiteral("$GPGGA,")); }, 10000));

    // The next click, with a good server, completes.
    const epotest::Bytes good = epotest::MakeEpoBytes(kGoodBytes);
    server.reset();
    server = std::make_unique<EpoServer>(good);
    QVERIFY(server->running());
    ClickUpdate(f);
    QVERIFY(f.epoUploadRunning);
    QVERIFY(RunUntil([&] { return f.Button3->isEnabled(); }, kUpdateTimeoutMs));
    QCOMPARE(static_cast<int>(fx.boxes().size()), 2);
    QCOMPARE(fx.boxes()[1].text, QStringLiteral("Update completed."));
    const ReceivedUpload r = Received(fx.sim());
    QCOMPARE(static_cast<int>(r.dataPackets.size()), 3);
    QCOMPARE(r.records, std::string(good.begin(), good.end()));
    QVERIFY(!workDir.holdsEpoFile());
  }

  // A server that accepts the connection and never says a word: the download waits on its
  // own thread, the window keeps handling events (the sentences too), and "Off" ends the
  // wait at once. A click meanwhile, after "On" again, does nothing. A later download that
  // waits when the window is closed ends with it, without a box.
  void silentServerKeepsTheWindowAlive() {
    EpoScene scene(epotest::Bytes{}, false, "silent");
    QVERIFY(scene.ready());
    WindowFixture fx;
    QVERIFY(fx.startConnected());
    TForm1& f = fx.form();
    UpdateRecord record;
    RecordUpdate(f, record);

    int ticks = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
    ticker.start(20);
    qsizetype consoleAtClick = -1;
    qsizetype consoleAtOff = -1;
    int ticksAtOff = -1;
    bool reconnected = false;
    std::size_t boxesAfterSecondClick = 99;
    // Runs inside the click, while the download waits.
    QTimer::singleShot(1500, &f, [&] {
      ticksAtOff = ticks;
      consoleAtOff = fx.memoInserted().size();
      fx.disconnect();
      reconnected = fx.connect();
      f.Button3Click();  // the first click is still ending: this one does nothing
      boxesAfterSecondClick = fx.boxes().size();
    });
    consoleAtClick = fx.memoInserted().size();
    ClickUpdate(f);
    ticker.stop();

    QVERIFY2(ticksAtOff >= 10, qPrintable(QStringLiteral("timer ticks during the download: %1").arg(ticksAtOff)));
    QVERIFY(consoleAtOff > consoleAtClick);  // sentences were shown during the download
    QVERIFY(reconnected);
    QCOMPARE(boxesAfterSecondClick, std::size_t{0});
    QVERIFY(fx.boxes().empty());  // stopped by "Off": no message
    QCOMPARE(record.labels, (QStringList{QStringLiteral("Downloading EPO File...\r\n"), QString()}));
    QVERIFY(f.Button3->isEnabled());  // connected again
    QVERIFY(!f.epoUploadRunning);
    QVERIFY(!SwitchedToBinary(fx.sim()));
    QVERIFY(scene.workDir.entries().isEmpty());

    f.Button3->click();
    QVERIFY(RunUntil([&] { return f.Label39->text() == QStringLiteral("Downloading EPO File...\r\n"); }, 10000));
    fx.destroyWindow();  // returns: the update thread is stopped and joined
    QVERIFY(fx.boxes().empty());
    QVERIFY(!SwitchedToBinary(fx.sim()));
    QVERIFY(scene.workDir.entries().isEmpty());
  }

  // The port is gone when the upload wants to reopen it: the link is switched off with the
  // connect step's message instead of an upload waiting for ever.
  void portThatCannotBeReopened() {
    EpoScene scene(epotest::MakeEpoBytes(kGoodBytes));
    QVERIFY(scene.ready());
    WindowFixture fx;
    QVERIFY(fx.startConnected());
    TForm1& f = fx.form();
    // The entry now names a device that is not there (an entry wins over detected ports).
    const QString entry = fx.portDir() + QStringLiteral("/com1");
    QVERIFY(QFile::remove(entry));
    QVERIFY(QFile::link(QStringLiteral("/nonexistent/ttyTorvikel"), entry));

    ClickUpdate(f);
    QVERIFY(SwitchedToBinary(fx.sim()));
    QCOMPARE(static_cast<int>(fx.boxes().size()), 1);
    QCOMPARE(fx.boxes()[0].text, QStringLiteral("Open ComPort failed."));
    QCOMPARE(fx.boxes()[0].icon, BoxIcon::Error);
    QCOMPARE(f.Button1->text(), QStringLiteral("On"));
    QVERIFY(f.comHandle == nullptr);
    QVERIFY(f.epoThread == nullptr);
    QVERIFY(!f.epoUploadRunning);
    QCOMPARE(f.Label39->text(), QString());
  }
};

AGPS_TEST_MAIN(AgpsFailuresTest)
#include "test_agps_failures.moc"
