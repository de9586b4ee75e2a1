// The assisted-GPS update end to end through the offscreen window: a local EPO server, the
// simulated receiver as the port, "Update" clicked. A seven-day file arrives as its records
// packet by packet with the percentages 0, 0, 1 ... 100 and the bar beside them; every
// ending shows its box and text, returns the receiver to NMEA at the speed box's rate, hands
// the port back to a new reader and enables "Update" again; "Off" and closing the window
// during an upload stop it without hanging and hand the receiver back, and the next
// "Update" starts afresh.
#include <QElapsedTimer>
#include <QtTest>
#include <functional>
#include <string>
#include <vector>

#include <csignal>

#include "app/termination_signals.h"
#include "link/serial_port.h"
#include "tests/app/support_agps.h"

using namespace agpstest;

namespace {

constexpr std::size_t kSevenDayBytes = 53760;  // 896 records: 299 packets, the last one short
constexpr int kSevenDayPackets = 299;
constexpr std::size_t kOneSetBytes = 1920;  // 32 records: 11 packets, the last one short
constexpr int kOneSetPackets = 11;
constexpr int kUpdateTimeoutMs = 120000;

const QString kAppTitle = QStringLiteral("Torvikel v1.2.24");

bool consoleShows(WindowFixture& fx, const QString& text, int timeoutMs) {
  return RunUntil([&] { return fx.memoInserted().contains(text); }, timeoutMs);
}

// The data packets' records against the file: equal, then only the short packet's zeros.
bool recordsMatch(const ReceivedUpload& r, const epotest::Bytes& content) {
  if (r.records.size() < content.size()) return false;
  if (r.records.compare(0, content.size(), std::string(content.begin(), content.end())) != 0) return false;
  return r.records.find_first_not_of('\0', content.size()) == std::string::npos;
}

bool sequencesRunFromZero(const ReceivedUpload& r) {
  for (std::size_t i = 0; i < r.dataPackets.size(); ++i) {
    if (sim::readU16(r.dataPackets[i].payload, 0) != i) return false;
  }
  return true;
}

struct EndingCase {
  const char* legend;
  std::function<void(sim::BinaryFaults&)> faults;
  QString speed;        // the speed box's text: the rate the receiver returns to
  int comNumber;        // the receiver registered as ComN ...
  bool portFromList;    // ... chosen from the list (else typed into the box)
  int dataPacketsSent;  // data packets on the line before the ending
  bool completes;
  QString boxText;
  QString boxTitle;
  BoxIcon boxIcon;
  QString labelAfter;
  QString speedAtEnding = {};  // typed into the speed box while the upload runs (empty: kept)
  bool rateCarried = true;     // false: the output-mode packet carries 0 and the rate stays 115200
};

const std::vector<EndingCase>& endingCases() {
  static const std::vector<EndingCase> cases = {
      {"well-behaved receiver, back to NMEA at 9600 baud", [](sim::BinaryFaults&) {}, "9600", 1, true, kOneSetPackets,
       true, "Update completed.", "AGPS Message", BoxIcon::None, "Update Success"},
      {"four packets that are not acknowledgements before the third one's: tolerated",
       [](sim::BinaryFaults& f) {
         f.junkBeforeAck = 4;
         f.junkAtSeq = 2;
       },
       "115200", 1, true, kOneSetPackets, true, "Update completed.", "AGPS Message", BoxIcon::None, "Update Success"},
      {"five such packets: the failure ending",
       [](sim::BinaryFaults& f) {
         f.junkBeforeAck = 5;
         f.junkAtSeq = 2;
       },
       "38400", 1, true, 3, false, "ACK Failed,Please Try Again!.", "AGPS Message", BoxIcon::None, "Update Failed!"},
      {"packet 3 refused: the error box, and the port handed back all the same",
       [](sim::BinaryFaults& f) { f.rejectSeq = 3; }, "19200", 1, true, 4, false, "Action Fail,Plaese try again!",
       kAppTitle, BoxIcon::Error, "Update Failed!"},
      {"corrupt acknowledgement of packet 2", [](sim::BinaryFaults& f) { f.corruptAckAt = 2; }, "4800", 1, true, 3,
       false, "Action Fail,Plaese try again!", kAppTitle, BoxIcon::Error, "Update Failed!"},
      {"acknowledgement naming the packet after the one sent", [](sim::BinaryFaults& f) { f.wrongSeqAt = 4; }, "115200",
       1, true, 5, false, "Action Fail,Plaese try again!", kAppTitle, BoxIcon::Error, "Update Failed!"},
      {"acknowledgements split between 0D and 0A",
       [](sim::BinaryFaults& f) {
         f.splitAcks = true;
         f.splitAckAt = 11;
         f.splitGapMs = 5;
       },
       "115200", 1, true, kOneSetPackets, true, "Update completed.", "AGPS Message", BoxIcon::None, "Update Success"},
      {"closing packet never acknowledged: not waited for", [](sim::BinaryFaults& f) { f.ackClosingPacket = false; },
       "115200", 1, true, kOneSetPackets, true, "Update completed.", "AGPS Message", BoxIcon::None, "Update Success"},
      {"Com12 chosen from the list: reopened under the device prefix", [](sim::BinaryFaults&) {}, "115200", 12, true,
       kOneSetPackets, true, "Update completed.", "AGPS Message", BoxIcon::None, "Update Success"},
      {"Com12 typed into the box: reopened as typed", [](sim::BinaryFaults&) {}, "115200", 12, false, kOneSetPackets,
       true, "Update completed.", "AGPS Message", BoxIcon::None, "Update Success"},
      {"speed 2400, a rate the output-mode packet cannot carry: the receiver stays at 115200",
       [](sim::BinaryFaults&) {}, "2400", 1, true, kOneSetPackets, true, "Update completed.", "AGPS Message",
       BoxIcon::None, "Update Success", QString(), false},
      {"speed box no longer a number at the ending: the receiver stays at 115200", [](sim::BinaryFaults&) {}, "9600", 1,
       true, kOneSetPackets, true, "Update completed.", "AGPS Message", BoxIcon::None, "Update Success", "fast", false},
  };
  return cases;
}

struct StopCase {
  const char* legend;
  std::function<void(sim::BinaryFaults&)> faults;
  int stopAfterDataPackets;  // 0: as soon as the upload thread runs
};

const std::vector<StopCase>& stopCases() {
  static const std::vector<StopCase> cases = {
      {"receiver never switches to binary output", [](sim::BinaryFaults& f) { f.neverBinary = true; }, 0},
      {"receiver stops answering after packet 3", [](sim::BinaryFaults& f) { f.silentAfter = 3; }, 4},
  };
  return cases;
}

}  // namespace

// How a row of stopDuringUpload ends the upload.
enum class StopBy { Off, ClosingTheWindow, Sigterm, PullingOut };

class AgpsUpdateTest : public QObject {
  Q_OBJECT

 private slots:
  void sevenDayFileArrivesAndTheLinkComesBack() {
    const epotest::Bytes content = epotest::MakeEpoBytes(kSevenDayBytes);
    EpoScene scene(content);
    QVERIFY(scene.ready());
    sim::SimOptions options = WindowFixture::DefaultSimOptions();
    options.model.baud = 38400;  // the window talks at the receiver's rate
    WindowFixture fx(options);
    std::string error;
    QVERIFY2(fx.start(&error), error.c_str());
    TForm1& f = fx.form();
    f.ComboBox2->setCurrentText(QStringLiteral("38400"));
    QVERIFY(fx.connectAndSettle());
    UpdateRecord record;
    RecordUpdate(f, record);

    ClickUpdate(f);
    // The update runs on its thread; it holds the reopened port once the helper returns.
    QVERIFY(f.epoUploadRunning);
    QVERIFY(f.epoThread != nullptr);
    QCOMPARE(f.epoTotalPackets, kSevenDayPackets);
    QVERIFY(!f.Button3->isEnabled());
    QVERIFY(SwitchedToBinary(fx.sim()));
    QVERIFY(RunUntil([&] { return f.Button3->isEnabled(); }, kUpdateTimeoutMs));
    // Reported, not judged: from the first data packet's progress text to the ending's
    // text, at 115200 baud both ways.
    qInfo("seven-day upload through the window: %.2f s (line time of 300 packets and their acknowledgements: 5.29 s)",
          static_cast<double>(record.atMs.back() - record.atMs[1]) / 1000.0);

    // Label39: the download text, one progress text per packet, the ending's text.
    QStringList expected{QStringLiteral("Downloading EPO File...\r\n")};
    const std::vector<int> percents = Percents(kSevenDayPackets);
    for (int p : percents) expected << ProgressText(p);
    expected << QStringLiteral("Update Success");
    QCOMPARE(record.labels, expected);
    QCOMPARE(record.labels[1], ProgressText(0));
    QCOMPARE(record.labels[2], ProgressText(0));
    QCOMPARE(record.labels[3], ProgressText(1));
    QCOMPARE(record.labels[kSevenDayPackets], ProgressText(100));
    QCOMPARE(f.Label39->text(), QStringLiteral("Update Success"));
    // The bar follows the percentages while the upload runs, and goes at the ending.
    for (int i = 0; i < kSevenDayPackets; ++i) {
      QCOMPARE(record.barValues[static_cast<std::size_t>(i + 1)], percents[static_cast<std::size_t>(i)]);
      QVERIFY(record.barShown[static_cast<std::size_t>(i + 1)]);
    }
    QVERIFY(f.ProgressBar1->isHidden());
    QCOMPARE(f.ProgressBar1->parentWidget(), f.GroupBox13);

    QCOMPARE(static_cast<int>(fx.boxes().size()), 1);
    QCOMPARE(fx.boxes()[0].text, QStringLiteral("Update completed."));
    QCOMPARE(fx.boxes()[0].title, QStringLiteral("AGPS Message"));
    QCOMPARE(fx.boxes()[0].buttons, BoxButtons::Ok);

    // The receiver: 299 data packets and the closing one, 191 bytes each, the file's
    // records in order, then the output-mode packet for the speed box's rate.
    QVERIFY(fx.sim().waitUntil([&] { return !fx.sim().binaryMode() && fx.sim().baud() == 38400u; }, 10000));
    const ReceivedUpload r = Received(fx.sim());
    QCOMPARE(static_cast<int>(r.dataPackets.size()), kSevenDayPackets);
    QCOMPARE(r.closingPackets, 1);
    QVERIFY(r.allDataPacketsOf191Bytes);
    QVERIFY(sequencesRunFromZero(r));
    QVERIFY(recordsMatch(r, content));
    QCOMPARE(static_cast<int>(r.modePackets.size()), 1);
    QCOMPARE(r.modePackets[0].raw, testsupport::NmeaModePacket(38400));
    const std::vector<sim::BinaryPacket> all = fx.sim().binaryPackets();
    QCOMPARE(sim::readU16(all[all.size() - 2].payload, 0), sim::kEpoClosingSeq);

    // The window's reader runs again on the port, reopened at the same rate.
    fx.clearMemoRecord();
    QVERIFY(consoleShows(fx, QStringLiteral("$GPGGA,"), 10000));
    LineState line;
    QVERIFY(f.comHandle->stream().serialLine() != nullptr && f.comHandle->stream().serialLine()->getState(line));
    QCOMPARE(line.baudRate, 38400u);
    QVERIFY(!f.epoUploadRunning);
    QCOMPARE(f.Button1->text(), QStringLiteral("Off"));
    QVERIFY(!scene.workDir.holdsEpoFile());
  }

  void endings_data() {
    QTest::addColumn<int>("row");
    for (std::size_t i = 0; i < endingCases().size(); ++i)
      QTest::newRow(endingCases()[i].legend) << static_cast<int>(i);
  }

  void endings() {
    QFETCH(int, row);
    const EndingCase& c = endingCases()[static_cast<std::size_t>(row)];
    const epotest::Bytes content = epotest::MakeEpoBytes(kOneSetBytes);
    EpoScene scene(content);
    QVERIFY(scene.ready());
    sim::SimOptions options = WindowFixture::DefaultSimOptions();
    options.comNumber = c.comNumber;
    options.model.baud = static_cast<std::uint32_t>(c.speed.toUInt());  // the window talks at the receiver's rate
    c.faults(options.model.binaryFaults);
    WindowFixture fx(options);
    QVERIFY(fx.start());
    TForm1& f = fx.form();
    const QString portText = QStringLiteral("Com%1").arg(c.comNumber);
    if (c.portFromList) {
      f.ComboBox1->setCurrentIndex(c.comNumber - 1);
    } else {
      f.ComboBox1->setCurrentIndex(-1);
      f.ComboBox1->setEditText(portText);
    }
    QCOMPARE(f.ComboBox1->currentIndex(), c.portFromList ? c.comNumber - 1 : -1);
    f.ComboBox2->setCurrentText(c.speed);
    QVERIFY(fx.connectAndSettle());
    UpdateRecord record;
    RecordUpdate(f, record);

    ClickUpdate(f);
    QVERIFY(f.epoUploadRunning);
    if (!c.speedAtEnding.isEmpty()) f.ComboBox2->setEditText(c.speedAtEnding);
    QVERIFY(RunUntil([&] { return f.Button3->isEnabled(); }, kUpdateTimeoutMs));

    QCOMPARE(static_cast<int>(fx.boxes().size()), 1);
    QCOMPARE(fx.boxes()[0].text, c.boxText);
    QCOMPARE(fx.boxes()[0].title, c.boxTitle);
    QCOMPARE(fx.boxes()[0].icon, c.boxIcon);
    QCOMPARE(record.labels.back(), c.labelAfter);
    QCOMPARE(record.labels.size(), 1 + c.dataPacketsSent + 1);  // download, progress per packet, ending
    QVERIFY(f.ProgressBar1->isHidden());
    QVERIFY(!f.epoUploadRunning);

    const std::uint32_t packetRate = c.rateCarried ? c.speed.toUInt() : 0;
    const std::uint32_t rate = c.rateCarried ? c.speed.toUInt() : 115200;
    QVERIFY(fx.sim().waitUntil([&] { return !fx.sim().binaryMode() && fx.sim().baud() == rate; }, 10000));
    const ReceivedUpload r = Received(fx.sim());
    QCOMPARE(static_cast<int>(r.dataPackets.size()), c.dataPacketsSent);
    QVERIFY(sequencesRunFromZero(r));
    QCOMPARE(r.closingPackets, c.completes ? 1 : 0);
    QCOMPARE(static_cast<int>(r.modePackets.size()), 1);
    QCOMPARE(r.modePackets[0].raw, testsupport::NmeaModePacket(packetRate));
    if (c.completes) QVERIFY(recordsMatch(r, content));

    // Every ending hands the port back: a new reader at the speed box's rate.
    fx.clearMemoRecord();
    QVERIFY(consoleShows(fx, QStringLiteral("$GPGGA,"), 15000));
    LineState line;
    QVERIFY(f.comHandle->stream().serialLine() != nullptr && f.comHandle->stream().serialLine()->getState(line));
    QCOMPARE(line.baudRate, rate);
    QVERIFY(!scene.workDir.holdsEpoFile());
  }

  // The port cannot be reopened at the ending: the box has been shown, then the link is
  // switched off with the connect step's message, from inside the upload thread's hand-off,
  // without waiting on that thread for ever.
  void portGoneAtTheEnding() {
    EpoScene scene(epotest::MakeEpoBytes(kOneSetBytes));
    QVERIFY(scene.ready());
    WindowFixture fx;
    QVERIFY(fx.startConnected());
    TForm1& f = fx.form();
    ClickUpdate(f);
    QVERIFY(f.epoUploadRunning);
    // The entry now names a device that is not there (an entry wins over detected ports).
    const QString entry = fx.portDir() + QStringLiteral("/com1");
    QVERIFY(QFile::remove(entry));
    QVERIFY(QFile::link(QStringLiteral("/nonexistent/ttyTorvikel"), entry));
    QVERIFY(RunUntil([&] { return f.Button1->text() == QLatin1String("On"); }, kUpdateTimeoutMs));
    QCOMPARE(static_cast<int>(fx.boxes().size()), 2);
    QCOMPARE(fx.boxes()[0].text, QStringLiteral("Update completed."));
    QCOMPARE(fx.boxes()[1].text, QStringLiteral("Open ComPort failed."));
    QCOMPARE(fx.boxes()[1].icon, BoxIcon::Error);
    QVERIFY(f.epoThread == nullptr);
    QVERIFY(f.comHandle == nullptr);
    QVERIFY(!f.epoUploadRunning);
    QVERIFY(!f.Button3->isEnabled());
    QCOMPARE(f.Label39->text(), QStringLiteral("Update Success"));
  }

  void stopDuringUpload_data() {
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("stopBy");
    for (std::size_t i = 0; i < stopCases().size(); ++i) {
      QTest::newRow((std::string(stopCases()[i].legend) + ", then Off").c_str())
          << static_cast<int>(i) << static_cast<int>(StopBy::Off);
      QTest::newRow((std::string(stopCases()[i].legend) + ", then the window closed").c_str())
          << static_cast<int>(i) << static_cast<int>(StopBy::ClosingTheWindow);
    }
    QTest::newRow((std::string(stopCases()[0].legend) + ", then SIGTERM").c_str())
        << 0 << static_cast<int>(StopBy::Sigterm);
    QTest::newRow((std::string(stopCases()[1].legend) + ", then the receiver pulled out").c_str())
        << 1 << static_cast<int>(StopBy::PullingOut);
  }

  void stopDuringUpload() {
    QFETCH(int, row);
    QFETCH(int, stopBy);
    const bool byClosingTheWindow =
        stopBy == static_cast<int>(StopBy::ClosingTheWindow) || stopBy == static_cast<int>(StopBy::Sigterm);
    const StopCase& c = stopCases()[static_cast<std::size_t>(row)];
    const epotest::Bytes content = epotest::MakeEpoBytes(kOneSetBytes);
    EpoScene scene(content);
    QVERIFY(scene.ready());
    sim::SimOptions options = WindowFixture::DefaultSimOptions();
    c.faults(options.model.binaryFaults);
    WindowFixture fx(options);
    QVERIFY(fx.startConnected());
    ClickUpdate(fx.form());
    QVERIFY(fx.form().epoUploadRunning);
    if (c.stopAfterDataPackets > 0) {
      QVERIFY(RunUntil(
          [&] { return static_cast<int>(Received(fx.sim()).dataPackets.size()) >= c.stopAfterDataPackets; }, 30000));
    } else {
      QVERIFY(RunUntil([&] { return fx.form().epoThread && fx.form().epoThread->isRunning(); }, 10000));
    }

    if (stopBy == static_cast<int>(StopBy::Sigterm)) {
      // The program's own reaction, less the exit of the event loop this test runs in.
      TForm1& f = fx.form();
      QVERIFY(InstallTerminationSignals(&f, [&f](int) { f.Shutdown(); }));
      ::raise(SIGTERM);
      QVERIFY(RunUntil([&] { return f.epoThread == nullptr && f.comHandle == nullptr; }, 30000));
    } else if (byClosingTheWindow) {
      fx.destroyWindow();  // returns: the upload thread is stopped and joined
    } else {
      TForm1& f = fx.form();
      if (stopBy == static_cast<int>(StopBy::PullingOut)) {
        // The upload ends as stopped, without a hand-back to a device that is gone, and the
        // link goes off with one box that says why.
        const QString device = QString::fromStdString(fx.sim().slavePath());
        QVERIFY(fx.sim().unplug());
        QVERIFY(RunUntil([&] { return f.epoThread == nullptr && !fx.boxes().empty(); }, 5000));
        QCOMPARE(static_cast<int>(fx.boxes().size()), 1);
        QCOMPARE(fx.boxes()[0].text, QStringLiteral("Receiver lost: %1 (device removed).").arg(device));
        QVERIFY(f.comHandle == nullptr);
        fx.boxes().clear();
        QVERIFY(fx.sim().replug());
      } else {
        fx.disconnect();
      }
      QCOMPARE(f.Button1->text(), QStringLiteral("On"));
      QVERIFY(f.epoThread == nullptr);
      QVERIFY(!f.epoUploadRunning);
      QVERIFY(f.ProgressBar1->isHidden());
      QVERIFY(!f.Button3->isEnabled());
    }
    QVERIFY(fx.boxes().empty());
    // The receiver is handed back to NMEA output at the speed box's rate (one pulled out has
    // nothing to hand back to).
    if (stopBy != static_cast<int>(StopBy::PullingOut)) {
      QVERIFY(fx.sim().waitUntil(
          [&] { return fx.sim().receivedBytes().find(testsupport::NmeaModePacket(115200)) != std::string::npos; },
          5000));
    }
    QVERIFY(fx.sim().waitUntil([&] { return !fx.sim().binaryMode(); }, 5000));
    if (byClosingTheWindow) return;

    // The next "Update" starts afresh and completes.
    fx.sim().withModel([](sim::ReceiverModel& m) { m.options().binaryFaults = sim::BinaryFaults{}; });
    const std::size_t packetsBefore = fx.sim().binaryPackets().size();
    QVERIFY(fx.connectAndSettle());
    TForm1& f = fx.form();
    ClickUpdate(f);
    QVERIFY(f.epoUploadRunning);
    QVERIFY(RunUntil([&] { return f.Button3->isEnabled(); }, kUpdateTimeoutMs));
    QCOMPARE(static_cast<int>(fx.boxes().size()), 1);
    QCOMPARE(fx.boxes()[0].text, QStringLiteral("Update completed."));
    std::string records;
    const std::vector<sim::BinaryPacket> all = fx.sim().binaryPackets();
    int dataPackets = 0;
    for (std::size_t i = packetsBefore; i < all.size(); ++i) {
      if (all[i].command != sim::kCmdEpoData || sim::readU16(all[i].payload, 0) == sim::kEpoClosingSeq) continue;
      QCOMPARE(static_cast<int>(sim::readU16(all[i].payload, 0)), dataPackets);
      ++dataPackets;
      records.append(all[i].payload, 2, std::string::npos);
    }
    QCOMPARE(dataPackets, kOneSetPackets);
    QCOMPARE(records.substr(0, content.size()), std::string(content.begin(), content.end()));
  }
};

AGPS_TEST_MAIN(AgpsUpdateTest)
#include "test_agps_update.moc"
