// The link through the real window: connect failures and their messages, enabling after
// connect and disconnect, captures replayed through the pseudo-terminal into the console,
// the console's clearing rule, and 200 connect/disconnect cycles against a full-speed stream
// (run under AddressSanitizer and ThreadSanitizer too). "Com4" may be a receiver on the
// network: through socat (tcp://) it connects as a cable does, and socat ending is a loss.
#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <pty.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QtTest>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/thread1.h"
#include "link/serial_port.h"
#include "sim/receiver_model.h"
#include "tests/app/support_window.h"
#include "tests/core/test_net_support.h"

namespace {

// The valid sentences of a byte stream, as the window should show them: each from its "$"
// up to the next "$"; the last one is still waiting for the next "$" and is not shown.
QStringList expectedLines(const std::string& stream) {
  QStringList out;
  std::size_t at = stream.find('$');
  while (at != std::string::npos) {
    const std::size_t next = stream.find('$', at + 1);
    if (next == std::string::npos) break;
    std::string sentence = stream.substr(at, next - at);
    std::string clean;
    for (char c : sentence)
      if (c != '\0') clean += c;
    if (testsupport::NmeaChecksumMatches(clean)) {
      QString text = QString::fromLatin1(clean.data(), static_cast<qsizetype>(clean.size()));
      text.remove(QLatin1Char('\r'));
      out += text;
    }
    at = next;
  }
  return out;
}

int openDescriptorCount() {
  int count = 0;
  if (DIR* dir = opendir("/proc/self/fd")) {
    while (readdir(dir) != nullptr) ++count;
    closedir(dir);
  }
  return count;
}

const std::vector<QWidget*> commandControls(TForm1& f) {
  return {f.hot,         f.warm,       f.cold,       f.StartLog,  f.btAllQuery, f.btAllSet,   f.btNAQuery,
          f.btDefault,   f.btConfirm,  f.btDGQuery,  f.btDGPSSet, f.btDaQuery,  f.btDatumSet, f.btSBASSet,
          f.btSBASQuery, f.btVerQuery, f.btFixQuery, f.btFixSet,  f.btWakeup,   f.btBAUSet,   f.CheckBox8,
          f.cbTest,      f.Button2,    f.Button3,    f.Button4};
}

}  // namespace

class LinkTest : public QObject {
  Q_OBJECT

 private slots:
  void connectFailures_data() {
    QTest::addColumn<QString>("port");
    QTest::addColumn<QString>("baud");
    QTest::addColumn<QString>("message");
    QTest::addColumn<int>("cause");         // LinkCause the window keeps for the box
    QTest::addColumn<bool>("namesDevice");  // the cause names the device the step worked on
    const int badName = static_cast<int>(LinkCause::BadPortName);
    const int badBaud = static_cast<int>(LinkCause::BadBaudRate);
    QTest::newRow("capitals are not scanned") << "COM1"
                                              << "115200"
                                              << "Com Port Error!" << badName << false;
    QTest::newRow("no number") << "Com"
                               << "115200"
                               << "Com Port Error!" << badName << false;
    QTest::newRow("port that resolves to nothing")
        << "Com77"
        << "115200"
        << "Open ComPort failed." << static_cast<int>(LinkCause::NoSuchPort) << false;
    QTest::newRow("speed 0") << "Com1"
                             << "0"
                             << "Error baud rate." << badBaud << true;
    QTest::newRow("speed not a number") << "Com1"
                                        << "fast"
                                        << "Error baud rate." << badBaud << true;
    QTest::newRow("speed with trailing text") << "Com1"
                                              << "9600x"
                                              << "Error baud rate." << badBaud << true;
  }

  void connectFailures() {
    QFETCH(QString, port);
    QFETCH(QString, baud);
    QFETCH(QString, message);
    QFETCH(int, cause);
    QFETCH(bool, namesDevice);
    WindowFixture fx;
    std::string error;
    QVERIFY2(fx.start(&error), error.c_str());
    const int descriptorsBefore = openDescriptorCount();
    fx.form().ComboBox1->setEditText(port);
    fx.form().ComboBox2->setEditText(baud);
    QVERIFY(!fx.connect());
    QCOMPARE(static_cast<int>(fx.boxes().size()), 1);
    QCOMPARE(fx.boxes()[0].text, message);
    QCOMPARE(fx.boxes()[0].title, QStringLiteral("Torvikel v1.2.24"));
    QCOMPARE(fx.boxes()[0].icon, BoxIcon::Error);
    QCOMPARE(static_cast<int>(fx.form().lastLinkError.cause), cause);
    QCOMPARE(!fx.form().lastLinkError.devicePath.empty(), namesDevice);
    // The window stays disconnected, and a port opened before the failing step was closed.
    QCOMPARE(fx.form().Button1->text(), QStringLiteral("On"));
    QVERIFY(fx.form().ComboBox1->isEnabled());
    QVERIFY(!fx.form().hot->isEnabled());
    QVERIFY(!fx.form().Timer2->isActive());
    QCOMPARE(openDescriptorCount(), descriptorsBefore);
    // And the same port connects at once with a good speed.
    fx.form().ComboBox1->setEditText(QStringLiteral("Com1"));
    fx.form().ComboBox2->setEditText(QStringLiteral("115200"));
    QVERIFY(fx.connect());
  }

  // A network receiver whose host takes the connection but never answers (gpsd's greeting
  // never comes): the connect runs off the window thread, the window goes on handling its
  // events, "Off" cancels it at once, and left alone it ends in the connect error box.
  void silentNetworkHostLeavesTheWindowAnswering() {
    WindowFixture fx;
    QVERIFY(fx.start());
    TForm1& f = fx.form();
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    QVERIFY(listener >= 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    QVERIFY(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0);
    QVERIFY(::listen(listener, 4) == 0);  // the kernel completes the handshake; nobody accepts
    QVERIFY(::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) == 0);
    const std::string entry = fx.sim().portMapEntry();
    std::remove(entry.c_str());
    std::ofstream(entry) << "gpsd://127.0.0.1:" << ntohs(address.sin_port) << "/dev/ttyUSB0\n";

    for (const bool cancel : {true, false}) {
      f.Button1->click();
      QCOMPARE(f.Button1->text(), QStringLiteral("Off"));
      QVERIFY(!f.ComboBox1->isEnabled());
      QVERIFY(f.pendingConnect != nullptr);
      bool answered = false;
      QTimer::singleShot(10, &f, [&] { answered = true; });
      QVERIFY(fx.pumpUntil([&] { return answered; }, 2000));
      QVERIFY2(f.pendingConnect != nullptr, "the host is still silent while the window answers");
      if (cancel) {
        f.Button1->click();
        QCOMPARE(f.Button1->text(), QStringLiteral("On"));
        QVERIFY(f.pendingConnect == nullptr);
        QVERIFY(f.ComboBox1->isEnabled());
        QVERIFY(fx.boxes().empty());
      } else {
        QVERIFY(fx.pumpUntil([&] { return !fx.boxes().empty(); }, 15000));
        QCOMPARE(fx.boxes().size(), std::size_t{1});
        QCOMPARE(fx.boxes()[0].text, QStringLiteral("Open ComPort failed."));
        QCOMPARE(f.Button1->text(), QStringLiteral("On"));
        QVERIFY(f.ComboBox1->isEnabled());
        QVERIFY(f.comHandle == nullptr);
      }
    }
    ::close(listener);
  }

  // "auto" in the speed box: the rate is found off the window thread (it may listen for
  // seconds at each rate), the window goes on answering meanwhile, and the link comes up at
  // the receiver's rate.
  void autoRateIsFoundWhileTheWindowAnswers() {
    sim::SimOptions options = WindowFixture::DefaultSimOptions();
    options.model.baud = 9600;
    WindowFixture fx(options);
    QVERIFY(fx.start());
    TForm1& f = fx.form();
    f.ComboBox2->setEditText(QStringLiteral("auto"));
    f.Button1->click();
    QCOMPARE(f.Button1->text(), QStringLiteral("Off"));
    QVERIFY(f.pendingConnect != nullptr);
    bool answered = false;
    QTimer::singleShot(10, &f, [&] { answered = true; });
    QVERIFY(fx.pumpUntil([&] { return answered; }, 2000));
    QVERIFY(fx.pumpUntil([&] { return f.pendingConnect == nullptr; }, 30000));
    QVERIFY2(f.comHandle != nullptr, "connected");
    QCOMPARE(f.comHandle->baud(), 9600u);
    QVERIFY(fx.boxes().empty());
  }

  void prefixedTextIsRefusedLikeAnyOther() {
    WindowFixture fx;
    QVERIFY(fx.start());
    fx.form().ComboBox1->setEditText(QStringLiteral("\\\\.\\Com1"));
    // "\\.\Com1" does not scan as "Com%d": the window refuses it like any other text.
    QVERIFY(!fx.connect());
    QCOMPARE(fx.boxes().back().text, QStringLiteral("Com Port Error!"));
  }

  void enablingFollowsTheLink_data() {
    QTest::addColumn<bool>("pulledOut");     // the receiver is pulled out instead of "Off"
    QTest::addColumn<bool>("throughSocat");  // the port map entry holds socat's tcp:// address
    QTest::newRow("Off") << false << false;
    QTest::newRow("receiver pulled out: as after Off, then one box") << true << false;
    QTest::newRow("tcp:// through socat, socat ends: as after Off, then one box") << true << true;
  }

  void enablingFollowsTheLink() {
    QFETCH(bool, pulledOut);
    QFETCH(bool, throughSocat);
    WindowFixture fx;
    QVERIFY(fx.start());
    TForm1& f = fx.form();
    std::unique_ptr<nettest::NetworkServer> socat;
    if (throughSocat) {
      socat = std::make_unique<nettest::NetworkServer>(nettest::Source::Tcp, fx.sim().slavePath());
      QVERIFY2(socat->started(), socat->error().c_str());
      const std::string entry = fx.sim().portMapEntry();
      QVERIFY(!entry.empty());
      std::remove(entry.c_str());
      std::ofstream(entry) << socat->url() << "\n";
    }
    f.cbFix->addItem(QStringLiteral("10"));
    f.cbFix->setCurrentIndex(5);
    f.Button5->setEnabled(true);
    QVERIFY(fx.connect());
    for (QWidget* w : commandControls(f)) QVERIFY2(w->isEnabled(), qPrintable(w->objectName()));
    QVERIFY(!f.StopLog->isEnabled());
    QVERIFY(!f.ComboBox1->isEnabled());
    QVERIFY(!f.ComboBox2->isEnabled());
    QVERIFY(f.Timer2->isActive());
    QCOMPARE(f.Timer2->interval(), 1000);
    // The four queries went out: 13 + 13 + framed mode query + 14 bytes with a zero byte.
    const std::string queries = std::string("$PMTK414*33\r\n$PMTK605*31\r\n") +
                                testsupport::NmeaFramed("PZRN000,MODE") + std::string("$PMTK400*36\r\n\0", 14);
    QVERIFY(fx.sim().waitUntil([&] { return fx.sim().receivedBytes().size() >= queries.size(); }, 3000));
    QCOMPARE(fx.sim().receivedBytes(), queries);

    if (throughSocat) {
      // The receiver's sentences reach the console through the network as through a cable.
      QVERIFY(fx.pumpUntil([&] { return f.Memo1->toPlainText().contains(QStringLiteral("$PMTK705")); }, 5000));
      socat->stop();
      QVERIFY(fx.pumpUntil([&] { return !fx.boxes().empty(); }, 5000));
      QCOMPARE(static_cast<int>(fx.boxes().size()), 1);
      QCOMPARE(fx.boxes()[0].text,
               QStringLiteral("Receiver lost: %1 (connection closed).").arg(QString::fromStdString(socat->url())));
      QCOMPARE(fx.boxes()[0].icon, BoxIcon::Error);
    } else if (pulledOut) {
      const QString device = QString::fromStdString(fx.sim().slavePath());
      QVERIFY(fx.sim().unplug());
      QVERIFY(fx.pumpUntil([&] { return !fx.boxes().empty(); }, 5000));
      QCOMPARE(static_cast<int>(fx.boxes().size()), 1);
      QCOMPARE(fx.boxes()[0].text, QStringLiteral("Receiver lost: %1 (device removed).").arg(device));
      QCOMPARE(fx.boxes()[0].title, QStringLiteral("Torvikel v1.2.24"));
      QCOMPARE(fx.boxes()[0].icon, BoxIcon::Error);
      QVERIFY(fx.sim().replug());
    } else {
      fx.disconnect();
    }
    QCOMPARE(f.Button1->text(), QStringLiteral("On"));
    for (QWidget* w : commandControls(f)) QVERIFY2(!w->isEnabled(), qPrintable(w->objectName()));
    QVERIFY(!f.StopLog->isEnabled());
    QVERIFY(f.ComboBox1->isEnabled());
    QVERIFY(f.ComboBox2->isEnabled());
    QVERIFY(!f.Timer2->isActive());
    QCOMPARE(f.Edit1->text(), QStringLiteral("0"));
    QCOMPARE(f.cbFix->count(), 5);  // the "10" entry is gone ...
    // ... and no other rate took its place (through socat the receiver's answer to the
    // connect's fix-rate query has arrived and chosen its rate).
    if (!throughSocat) QCOMPARE(f.cbFix->currentIndex(), -1);
    QVERIFY(!f.Button5->isEnabled());
    if (throughSocat) return;  // socat served its one connection
    fx.disconnect();
    QVERIFY(fx.connect());
    fx.disconnect();
    QCOMPARE(f.cbFix->count(), 5);  // nothing more is deleted
  }

  void capturesReachTheConsoleInOrder_data() {
    QTest::addColumn<QString>("capture");
    QTest::newRow("MT3339 HAT") << "mt3339.log";
    QTest::newRow("BT-Q818") << "bt-q818.log";
    QTest::newRow("FV-M11 power-up, sentence without checksum") << "mtk-3301.log";
    QTest::newRow("MT3329 cold start") << "tr737A+.log";
    QTest::newRow("PA6H with a leading NUL byte") << "sample_gpsdata_usbttl_5.txt";
    QTest::newRow("PA6H first line truncated") << "sample_gpsdata_usbttl_2.txt";
  }

  void capturesReachTheConsoleInOrder() {
    QFETCH(QString, capture);
    sim::SimOptions options = WindowFixture::DefaultSimOptions();
    options.model.startupMessage = false;
    options.model.rates = {};  // silent until the replay: everything on the line is accounted for
    WindowFixture fx(options);
    QVERIFY(fx.start());
    QVERIFY(fx.connect());
    const std::vector<std::string> lines = sim::ReadCaptureLines(testsupport::ReadTestData(capture.toStdString()));
    QVERIFY(!lines.empty());
    fx.sim().withModel([&](sim::ReceiverModel& m) {
      m.options().replayFast = true;
      m.startReplay(lines);
    });
    QVERIFY(fx.pumpUntil([&] { return fx.sim().replayFinished(); }, 20000));
    // Everything the receiver put on the line (query replies and the capture), cut and
    // checked independently of the program's own code.
    const QStringList echoed = expectedLines(fx.sim().sentBytes());
    const QString expected = echoed.join(QString());
    QVERIFY(expected.size() > 100);
    fx.pumpUntil([&] { return fx.memoInserted().size() >= expected.size(); }, 20000);
    QCOMPARE(fx.memoInserted(), expected);
    // What the console shows at the end: the lines since its last clear, by the clearing rule
    // (more than 50 lines or 5000 characters, a line end counting as CR LF) applied line by line,
    // however the lines were grouped on their way in.
    QString shown;
    for (const QString& line : echoed) {
      const qsizetype ends = shown.count(QLatin1Char('\n'));
      const qsizetype count = ends + (shown.isEmpty() || shown.endsWith(QLatin1Char('\n')) ? 0 : 1);
      if (count > 50 || shown.size() + ends > 5000) shown.clear();
      shown += line;
    }
    QCOMPARE(fx.form().Memo1->toPlainText(), shown);
  }

  void consoleIsClearedPastFiftyLinesOrFiveThousandCharacters() {
    WindowFixture fx;
    QVERIFY(fx.start());
    TForm1& f = fx.form();
    auto hand = [&](const std::string& sentence) {
      f.sentenceBuffer = sentence;
      f.sentenceLength = static_cast<int>(sentence.size());
      f.HandleSentence();
    };
    const std::string zda = testsupport::NmeaFramed("GPZDA,120000.000,15,08,2012,,");
    for (int i = 0; i < 51; ++i) hand(zda);
    QCOMPARE(f.Memo1->document()->blockCount(), 52);  // 51 lines and the empty last one
    hand(zda);
    QCOMPARE(f.Memo1->toPlainText(), QString::fromLatin1(zda.data()).remove(QLatin1Char('\r')));
    // A bad checksum leaves the console alone.
    std::string bad = zda;
    bad[bad.find('*') + 1] = bad[bad.find('*') + 1] == '0' ? '1' : '0';
    hand(bad);
    QCOMPARE(f.Memo1->document()->blockCount(), 2);
    // Characters: a few long sentences pass 5000 characters before 50 lines.
    f.Memo1->clear();
    const std::string longOne = testsupport::NmeaFramed("GPTXT," + std::string(1200, 'x'));
    for (int i = 0; i < 5; ++i) hand(longOne);  // 5 x 1214 characters: more than 5000
    QCOMPARE(f.Memo1->document()->blockCount(), 6);
    hand(longOne);
    QCOMPARE(f.Memo1->document()->blockCount(), 2);
  }

  // The reader hands a read's sentences over together; a stop while they are being handled
  // (a click on "Off" from inside a handler, or before the window thread got to them) must
  // return the rest of the read, in order, ahead of anything the reader still held.
  void stopInsideAReadKeepsTheRestInOrder_data() {
    QTest::addColumn<int>("stopAt");  // the sentence whose handling stops the reader; 0: before any
    QTest::newRow("before the window thread got to the read") << 0;
    QTest::newRow("while the first sentence is handled") << 1;
    QTest::newRow("in the middle") << 5;
    QTest::newRow("while the last sentence is handled") << 10;
  }

  void stopInsideAReadKeepsTheRestInOrder() {
    QFETCH(int, stopAt);
    int master = -1;
    int slave = -1;
    QCOMPARE(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    const std::string slavePath = ttyname(slave);
    std::vector<std::string> sent;
    std::string bytes;
    for (int i = 0; i < 10; ++i) {
      sent.push_back(testsupport::NmeaFramed("GPTXT,01,01,02,LINE " + std::to_string(i)));
      bytes += sent.back();
    }
    bytes += "$";  // the next sentence's start: the last one is complete without a quiet wait
    LinkOpenRequest request;
    request.portText = slavePath;
    request.baudText = "115200";
    request.allowDevicePath = true;
    LinkError error;
    std::unique_ptr<LinkSession> link = LinkSession::open(request, &error);
    QVERIFY2(link, error.message.c_str());
    // Everything is queued before the reader starts: its first read takes all of it.
    QCOMPARE(write(master, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    QTRY_VERIFY(link->stream().bytesQueued() == static_cast<int>(bytes.size()));
    QObject context;
    std::vector<std::string> handled;
    std::vector<std::string> held;
    std::unique_ptr<Thread1> reader;
    auto stop = [&] { held = reader->takeHeldBack(link->stopReader()); };
    reader = std::make_unique<Thread1>(
        [&](const std::string& sentence) {
          handled.push_back(sentence);
          if (static_cast<int>(handled.size()) == stopAt) stop();
        },
        &context);
    link->startReader(*reader, Thread1::ReadOptions());
    if (stopAt == 0) {
      // The read is taken (no event is processed here, so it waits for the window thread).
      for (int i = 0; i < 5000 && link->stream().bytesQueued() > 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      stop();
    }
    QTRY_VERIFY(!link->readerRunning());
    QCoreApplication::processEvents();  // a stopped hand-off runs nothing more
    std::vector<std::string> all = handled;
    all.insert(all.end(), held.begin(), held.end());
    QCOMPARE(static_cast<int>(handled.size()), stopAt);
    QCOMPARE(all, sent);
    link.reset();
    reader.reset();
    close(master);
    close(slave);
  }

  void handOffSurvivesTwoHundredConnectCycles() {
    sim::SimOptions options = WindowFixture::DefaultSimOptions();
    options.pace = false;  // as fast as the pseudo-terminal takes it
    options.model.startupMessage = false;
    WindowFixture fx(options);
    QVERIFY(fx.start());
    const std::vector<std::string> lines =
        sim::ReadCaptureLines(testsupport::ReadTestData("sample_gpsdata_usbttl_1.txt"));
    fx.sim().withModel([&](sim::ReceiverModel& m) {
      m.options().replayFast = true;
      m.options().replayLoop = true;
      m.startReplay(lines);
    });
    const int descriptorsBefore = openDescriptorCount();
    int cyclesWithSentences = 0;
    for (int cycle = 0; cycle < 200; ++cycle) {
      fx.clearMemoRecord();
      QVERIFY2(fx.connect(), qPrintable(QString::number(cycle)));
      fx.pumpUntil([&] { return !fx.memoInserted().isEmpty(); }, cycle % 20 == 0 ? 2000 : 15);
      if (!fx.memoInserted().isEmpty()) ++cyclesWithSentences;
      fx.disconnect();
      QVERIFY(!fx.form().readerThread);
    }
    QVERIFY(cyclesWithSentences >= 10);
    QCOMPARE(openDescriptorCount(), descriptorsBefore);
    // Closing the window while connected and streaming does not hang.
    QVERIFY(fx.connect());
    fx.pumpUntil([&] { return !fx.memoInserted().isEmpty(); }, 2000);
  }
};

QTEST_MAIN(LinkTest)
#include "test_link.moc"
