// The sentence log through the window: the file holds exactly the valid sentences the
// simulated receiver sent, byte for byte (bad checksums absent), across a disconnect and
// reconnect; the file names the dialog leads to (".TXT" always appended, long paths, a
// missing directory); an existing file is emptied; a second start closes the first file;
// and the StartLog/StopLog buttons follow the logging state at the next sentence.
#include <dirent.h>
#include <unistd.h>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>
#include <string>
#include <vector>

#include "link/sentence_log.h"
#include "sim/receiver_model.h"
#include "tests/app/support_window.h"

namespace {

// Sentences of a stream as the reader cuts them: "$" up to the next "$". The last one is
// still waiting for its successor and is not part of the result.
std::vector<std::string> cutSentences(const std::string& stream) {
  std::vector<std::string> out;
  std::size_t at = stream.find('$');
  while (at != std::string::npos) {
    const std::size_t next = stream.find('$', at + 1);
    if (next == std::string::npos) break;
    out.push_back(stream.substr(at, next - at));
    at = next;
  }
  return out;
}

struct StreamSplit {
  std::string valid;  // the valid sentences joined: what the log must hold
  int invalid = 0;    // sentences dropped for their checksum
};

StreamSplit splitStream(const std::string& stream) {
  StreamSplit split;
  for (const std::string& s : cutSentences(stream)) {
    if (testsupport::NmeaChecksumMatches(s)) {
      split.valid += s;
    } else {
      ++split.invalid;
    }
  }
  return split;
}

std::string readFile(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return "<cannot open " + path.toStdString() + ">";
  return file.readAll().toStdString();
}

// Whether this process holds a descriptor open on the file.
bool fileHeldOpen(const QString& path) {
  const QString target = QFileInfo(path).canonicalFilePath();
  bool held = false;
  if (DIR* dir = opendir("/proc/self/fd")) {
    while (dirent* entry = readdir(dir)) {
      char link[4096];
      const std::string fdPath = std::string("/proc/self/fd/") + entry->d_name;
      const ssize_t n = readlink(fdPath.c_str(), link, sizeof link - 1);
      if (n > 0 && QString::fromLocal8Bit(link, static_cast<qsizetype>(n)) == target) held = true;
    }
    closedir(dir);
  }
  return held;
}

// Hands one sentence to the window as the reader would.
void hand(TForm1& f, const std::string& sentence) {
  f.sentenceBuffer = sentence;
  f.sentenceLength = static_cast<int>(sentence.size());
  f.HandleSentence();
}

// Chooses `path` in the save dialog and clicks StartLog.
void startLog(TForm1& f, const QString& path) {
  f.SaveDialog1.hook = [path] { return path; };
  f.StartLogClick();
}

std::string replayAndCollect(WindowFixture& fx, const std::string& capture) {
  const std::vector<std::string> lines = sim::ReadCaptureLines(testsupport::ReadTestData(capture));
  fx.sim().withModel([&](sim::ReceiverModel& m) {
    m.options().replayFast = true;
    m.options().replayLoop = false;
    m.startReplay(lines);
  });
  fx.pumpUntil([&] { return fx.sim().replayFinished(); }, 30000);
  return fx.sim().sentBytes();
}

const std::string kZda = testsupport::NmeaFramed("GPZDA,120000.000,15,08,2012,,");
const std::string kGga = testsupport::NmeaFramed("GPGGA,120000.000,2503.1234,N,12130.2500,E,1,08,1.0,20.5,M,15.0,M,,");

}  // namespace

class LogFileTest : public QObject {
  Q_OBJECT

 private slots:
  void logHoldsTheValidSentencesByteForByte() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    sim::SimOptions options = WindowFixture::DefaultSimOptions();
    options.model.startupMessage = false;
    options.model.rates = {};  // silent: everything on the line comes from the replies and replays
    options.model.nmeaFaults.badChecksum = 0.2;
    options.model.seed = 7;
    WindowFixture fx(options);
    QVERIFY(fx.start());
    TForm1& f = fx.form();
    startLog(f, dir.filePath(QStringLiteral("track")));
    const QString file = dir.filePath(QStringLiteral("track.TXT"));
    QCOMPARE(f.logEnabled, 1);
    QCOMPARE(readFile(file), std::string());

    // First connection.
    QVERIFY(fx.connect());
    const std::string first = replayAndCollect(fx, "mt3339.log");
    const StreamSplit firstSplit = splitStream(first);
    QVERIFY(firstSplit.invalid > 0);                                   // the fault really put bad sentences on the line
    QVERIFY(firstSplit.valid.find("$PMTK705,") != std::string::npos);  // replies are logged too
    fx.pumpUntil([&] { return readFile(file).size() >= firstSplit.valid.size(); }, 30000);
    QCOMPARE(readFile(file), firstSplit.valid);
    QVERIFY(!f.StartLog->isEnabled());
    QVERIFY(f.StopLog->isEnabled());

    // Off and on again: the log stays open and goes on in the same file. The sentence that
    // was waiting for its successor at the disconnect is lost with the reader.
    fx.disconnect();
    QCOMPARE(f.logEnabled, 1);
    QVERIFY(fileHeldOpen(file));
    fx.sim().clearLogs();
    QVERIFY(fx.connect());
    const std::string second = replayAndCollect(fx, "bt-q818.log");
    const StreamSplit secondSplit = splitStream(second);
    QVERIFY(secondSplit.invalid > 0);
    const std::string expected = firstSplit.valid + secondSplit.valid;
    fx.pumpUntil([&] { return readFile(file).size() >= expected.size(); }, 30000);
    QCOMPARE(readFile(file), expected);

    // Stopped: the file is closed and nothing more is appended.
    f.StopLogClick();
    QCOMPARE(f.logEnabled, 0);
    QVERIFY(!fileHeldOpen(file));
    QVERIFY(fx.sendFromReceiver({kZda, kGga}));
    QCOMPARE(readFile(file), expected);
    QVERIFY(f.StartLog->isEnabled());
    QVERIFY(!f.StopLog->isEnabled());
  }

  // A receiver pulled out: every valid sentence it sent before is in the file, the last one
  // included, and the log stays open for the next connection.
  void pulledOutReceiverLeavesACompleteLog() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    sim::SimOptions options = WindowFixture::DefaultSimOptions();
    options.model.startupMessage = false;
    options.model.rates = {};
    WindowFixture fx(options);
    QVERIFY(fx.start());
    TForm1& f = fx.form();
    startLog(f, dir.filePath(QStringLiteral("track")));
    const QString file = dir.filePath(QStringLiteral("track.TXT"));
    QVERIFY(fx.connect());
    const std::string sent = replayAndCollect(fx, "bt-q818.log");
    QVERIFY(fx.sim().unplug());
    QVERIFY(fx.pumpUntil([&] { return !fx.boxes().empty(); }, 5000));
    QCOMPARE(f.Button1->text(), QStringLiteral("On"));
    QCOMPARE(readFile(file), splitStream(sent + "$").valid);
    QCOMPARE(f.logEnabled, 1);
    QVERIFY(fileHeldOpen(file));
  }

  void fileNames_data() {
    QTest::addColumn<QString>("chosen");     // relative to a fresh directory; "<200>": a 200-character path
    QTest::addColumn<QString>("created");    // file expected, relative; empty: none (open error)
    QTest::addColumn<QByteArray>("before");  // content of `created` before the start (empty: absent)
    QTest::newRow("a name without extension gets .TXT") << "track"
                                                        << "track.TXT" << QByteArray();
    QTest::newRow(".TXT is appended to .txt as well") << "track.txt"
                                                      << "track.txt.TXT" << QByteArray();
    QTest::newRow("an existing file is emptied") << "old"
                                                 << "old.TXT" << QByteArray("$GPZDA,old contents\r\n");
    QTest::newRow("a 200-character path") << "<200>"
                                          << "<200>.TXT" << QByteArray();
    QTest::newRow("a path in a missing directory: Open Error") << "missing/track"
                                                               << "" << QByteArray();
  }

  void fileNames() {
    QFETCH(QString, chosen);
    QFETCH(QString, created);
    QFETCH(QByteArray, before);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QString longPath = dir.path() + QLatin1Char('/');
    longPath += QString(200 - longPath.size(), QLatin1Char('n'));
    QCOMPARE(longPath.size(), 200);
    const auto resolve = [&](QString name) {
      return name.replace(QLatin1String("<200>"), longPath.mid(dir.path().size() + 1));
    };
    const QString chosenPath = dir.filePath(resolve(chosen));
    const QString createdPath = created.isEmpty() ? QString() : dir.filePath(resolve(created));
    if (!before.isEmpty()) {
      QFile old(createdPath);
      QVERIFY(old.open(QIODevice::WriteOnly));
      old.write(before);
    }
    WindowFixture fx;
    QVERIFY(fx.start());
    TForm1& f = fx.form();
    startLog(f, chosenPath);
    if (createdPath.isEmpty()) {
      QCOMPARE(fx.boxes().size(), std::size_t{1});
      QCOMPARE(fx.boxes()[0].text, QStringLiteral("Open Error"));
      QCOMPARE(fx.boxes()[0].title, QStringLiteral("Open Error"));
      QCOMPARE(fx.boxes()[0].buttons, BoxButtons::Ok);
      QCOMPARE(f.logEnabled, 0);
      QCOMPARE(QDir(dir.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries), QStringList());
      hand(f, kZda);
      QVERIFY(f.StartLog->isEnabled());
      QVERIFY(!f.StopLog->isEnabled());
      return;
    }
    QVERIFY(fx.boxes().empty());
    QCOMPARE(f.logEnabled, 1);
    QVERIFY2(QFileInfo::exists(createdPath), qPrintable(createdPath));
    QCOMPARE(readFile(createdPath), std::string());
    // Exactly one file: the chosen name itself is not created beside it.
    QCOMPARE(QDir(dir.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).size(), 1);
    hand(f, kZda);
    QCOMPARE(readFile(createdPath), kZda);
  }

  // A file another log is writing is refused before anything is emptied, and the box says who
  // holds it under its own text.
  void fileAnotherLogWritesIsLeftAsItIs() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("shared.TXT"));
    SentenceLog other;
    QVERIFY(other.open(QFile::encodeName(path).toStdString()));
    QVERIFY(other.write(kGga.data(), kGga.size()));
    WindowFixture fx;
    QVERIFY(fx.start());
    TForm1& f = fx.form();
    startLog(f, dir.filePath(QStringLiteral("shared")));
    QCOMPARE(fx.boxes().size(), std::size_t{1});
    QCOMPARE(fx.boxes()[0].text, QStringLiteral("Open Error"));
    QCOMPARE(fx.boxes()[0].title, QStringLiteral("Open Error"));
    QVERIFY2(fx.boxes()[0].informative.contains(path + QStringLiteral(" is being written by ")),
             qPrintable(fx.boxes()[0].informative));
    QCOMPARE(f.logEnabled, 0);
    hand(f, kZda);
    QCOMPARE(readFile(path), kGga);
  }

  void dialogCancelledChangesNothing() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    WindowFixture fx;
    QVERIFY(fx.start());
    TForm1& f = fx.form();
    startLog(f, dir.filePath(QStringLiteral("first")));
    hand(f, kZda);
    startLog(f, QString());  // Cancel
    QVERIFY(fx.boxes().empty());
    QCOMPARE(f.logEnabled, 1);
    hand(f, kGga);
    QCOMPARE(readFile(dir.filePath(QStringLiteral("first.TXT"))), kZda + kGga);
  }

  void secondStartClosesTheFirstFile_data() {
    QTest::addColumn<QString>("second");
    QTest::addColumn<bool>("opens");
    QTest::newRow("second file created") << "second" << true;
    QTest::newRow("second file fails: both closed, logging off") << "missing/second" << false;
  }

  void secondStartClosesTheFirstFile() {
    QFETCH(QString, second);
    QFETCH(bool, opens);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    WindowFixture fx;
    QVERIFY(fx.start());
    TForm1& f = fx.form();
    const QString firstFile = dir.filePath(QStringLiteral("first.TXT"));
    startLog(f, dir.filePath(QStringLiteral("first")));
    hand(f, kZda);
    QVERIFY(fileHeldOpen(firstFile));
    startLog(f, dir.filePath(second));
    QVERIFY(!fileHeldOpen(firstFile));
    QCOMPARE(f.logEnabled, opens ? 1 : 0);
    QCOMPARE(fx.boxes().size(), opens ? std::size_t{0} : std::size_t{1});
    hand(f, kGga);
    QCOMPARE(readFile(firstFile), kZda);
    if (opens) QCOMPARE(readFile(dir.filePath(second + QStringLiteral(".TXT"))), kGga);
  }

  void buttonsFollowAtTheNextSentence() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    WindowFixture fx;
    QVERIFY(fx.start());
    TForm1& f = fx.form();
    f.StartLog->setEnabled(true);
    f.StopLog->setEnabled(false);
    startLog(f, dir.filePath(QStringLiteral("track")));
    // Logging is on, but the buttons wait for a sentence.
    QVERIFY(f.StartLog->isEnabled());
    QVERIFY(!f.StopLog->isEnabled());
    hand(f, kZda);
    QVERIFY(!f.StartLog->isEnabled());
    QVERIFY(f.StopLog->isEnabled());
    // A sentence with a wrong checksum is neither written nor does it move the buttons.
    std::string bad = kGga;
    bad[bad.find('*') + 1] = bad[bad.find('*') + 1] == '0' ? '1' : '0';
    f.StopLogClick();
    QVERIFY(!f.StartLog->isEnabled());
    QVERIFY(f.StopLog->isEnabled());
    hand(f, bad);
    QVERIFY(!f.StartLog->isEnabled());
    hand(f, kGga);
    QVERIFY(f.StartLog->isEnabled());
    QVERIFY(!f.StopLog->isEnabled());
    QCOMPARE(readFile(dir.filePath(QStringLiteral("track.TXT"))), kZda);
  }

  void badChecksumBetweenGoodOnesIsAbsent() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    WindowFixture fx;
    QVERIFY(fx.start());
    TForm1& f = fx.form();
    startLog(f, dir.filePath(QStringLiteral("track")));
    std::string bad = kGga;
    bad[bad.find('*') + 2] = bad[bad.find('*') + 2] == '0' ? '1' : '0';
    hand(f, kZda);
    hand(f, bad);
    hand(f, kGga);
    QCOMPARE(readFile(dir.filePath(QStringLiteral("track.TXT"))), kZda + kGga);
  }
};

QTEST_MAIN(LogFileTest)
#include "test_log_file.moc"
