// Helpers of the window's assisted-GPS tests: a private working directory (where the window
// writes "MTK7d.EPO"), a local EPO server the window is pointed at, an event loop that wakes
// at once for the upload thread's hand-offs (as the program's does), a record of what the
// update showed, and the receiver's packets and NMEA texts written here apart from the
// program's own code.
//
// Thread rule: the test's main thread (the window thread).
#pragma once

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QStringList>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "sim/binary_frame.h"
#include "tests/app/support_window.h"
#include "tests/core/test_epo_support.h"
#include "tests/ftp_fixture.h"
#include "tests/support/frames.h"

namespace agpstest {

inline const char* const kEpoName = "MTK7d.EPO";

// Call before the application object exists. These tests start and end many threads (the
// reader and upload threads of every update); on GLib's event dispatcher each QThread gets a
// GLib context that GLib frees under locks ThreadSanitizer cannot see, which it reports as
// races inside GLib. Qt's own dispatcher behaves the same for the window and keeps the
// threaded runs clean without suppressing anything.
inline void UseQtEventDispatcher() { qputenv("QT_NO_GLIB", "1"); }

// main() of a window test program with Qt's own event dispatcher.
#define AGPS_TEST_MAIN(TestClass)            \
  int main(int argc, char* argv[]) {         \
    agpstest::UseQtEventDispatcher();        \
    QApplication app(argc, argv);            \
    app.setAttribute(Qt::AA_Use96Dpi, true); \
    TestClass test;                          \
    return QTest::qExec(&test, argc, argv);  \
  }

// Runs the event loop until condition() holds (looked at every 5 ms) or timeoutMs passes.
inline bool RunUntil(const std::function<bool()>& condition, int timeoutMs) {
  if (condition()) return true;
  QEventLoop loop;
  QTimer poll;
  poll.setInterval(5);
  QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
    if (condition()) loop.quit();
  });
  QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
  poll.start();
  loop.exec();
  return condition();
}

// "Update" clicked, and the event loop run (the window's own, so the download's texts, the
// sentences and timers go on) until the update holds the port for its upload or has ended
// without it: the click itself returns at once and the update runs on its thread.
inline void ClickUpdate(TForm1& f, int timeoutMs = 60000) {
  f.Button3->click();
  RunUntil([&] { return f.epoUploadRunning || f.epoThread == nullptr; }, timeoutMs);
}

// The process's working directory moved into a fresh directory while the object lives.
class WorkingDirectory {
 public:
  WorkingDirectory() : previous_(QDir::currentPath()) {
    if (dir_.isValid()) QDir::setCurrent(dir_.path());
  }
  ~WorkingDirectory() { QDir::setCurrent(previous_); }
  WorkingDirectory(const WorkingDirectory&) = delete;
  WorkingDirectory& operator=(const WorkingDirectory&) = delete;
  bool valid() const { return dir_.isValid(); }
  bool holdsEpoFile() const { return QFile::exists(dir_.filePath(QString::fromLatin1(kEpoName))); }
  QStringList entries() const { return QDir(dir_.path()).entryList(QDir::Files | QDir::Hidden | QDir::System); }

 private:
  QTemporaryDir dir_;
  QString previous_;
};

// A local EPO server serving `content` as "MTK7d.EPO" (no file at all when serveFile is
// false); the window's download is pointed at it through TORVIKEL_EPO_SERVER.
class EpoServer {
 public:
  EpoServer(const epotest::Bytes& content, bool serveFile = true, const std::string& mode = "normal",
            const std::vector<std::string>& extra = {}) {
    if (serveFile) epotest::WriteBytes(served_.file(kEpoName), content);
    server_ = std::make_unique<ftptest::FtpFixture>(served_.path(), mode, extra);
    ::setenv("TORVIKEL_EPO_SERVER", server_->address().c_str(), 1);
  }
  ~EpoServer() { ::unsetenv("TORVIKEL_EPO_SERVER"); }
  EpoServer(const EpoServer&) = delete;
  EpoServer& operator=(const EpoServer&) = delete;
  bool running() const { return server_->port() > 0; }
  ftptest::FtpFixture& fixture() { return *server_; }

 private:
  epotest::TempDir served_;
  std::unique_ptr<ftptest::FtpFixture> server_;
};

// The scene of most update tests: the window's working directory, where the download goes,
// and a server with the file to download.
struct EpoScene {
  template <typename... ServerArgs>
  explicit EpoScene(ServerArgs&&... args) : server(std::forward<ServerArgs>(args)...) {}
  bool ready() const { return workDir.valid() && server.running(); }

  WorkingDirectory workDir;  // first: the server's files are not in it
  EpoServer server;
};

// What an update showed: every text put into Label39 and, with each, the progress bar's
// value and whether it was shown.
struct UpdateRecord {
  QStringList labels;
  std::vector<int> barValues;
  std::vector<bool> barShown;
  std::vector<qint64> atMs;  // when each text came, since the record began
  QElapsedTimer clock;
};

inline void RecordUpdate(TForm1& f, UpdateRecord& record) {
  record.clock.start();
  f.label39Shown = [&f, &record](const QString& text) {
    record.labels << text;
    record.atMs.push_back(record.clock.elapsed());
    record.barValues.push_back(f.ProgressBar1 != nullptr ? f.ProgressBar1->value() : -1);
    record.barShown.push_back(f.ProgressBar1 != nullptr && !f.ProgressBar1->isHidden());
  };
}

// The progress text after a data packet, and the percentages of an upload of n packets.
inline QString ProgressText(int percent) {
  return QStringLiteral("Updating now... %1 %\nDO NOT remove the mini USB cable (connection) \nwhen updating EPO data")
      .arg(percent);
}
inline std::vector<int> Percents(int packets) {
  std::vector<int> out;
  for (int sent = 1; sent <= packets; ++sent) out.push_back(sent * 100 / packets);
  return out;
}

// The upload as the receiver got it.
struct ReceivedUpload {
  std::vector<sim::BinaryPacket> dataPackets;  // command 722 without the closing packet
  int closingPackets = 0;
  std::vector<sim::BinaryPacket> modePackets;  // command 253
  std::string records;                         // the data packets' 180 record bytes, joined
  bool allDataPacketsOf191Bytes = true;
};

inline ReceivedUpload Received(sim::SimReceiver& receiver) {
  ReceivedUpload r;
  for (const sim::BinaryPacket& p : receiver.binaryPackets()) {
    if (p.command == sim::kCmdSetOutput) {
      r.modePackets.push_back(p);
    } else if (p.command == sim::kCmdEpoData) {
      if (p.raw.size() != 191) r.allDataPacketsOf191Bytes = false;
      if (sim::readU16(p.payload, 0) == sim::kEpoClosingSeq) {
        ++r.closingPackets;
        continue;
      }
      r.dataPackets.push_back(p);
      r.records.append(p.payload, 2, std::string::npos);
    }
  }
  return r;
}

inline bool SwitchedToBinary(sim::SimReceiver& receiver) {
  for (const std::string& c : receiver.commands()) {
    if (c.rfind("PMTK253,1,", 0) == 0) return true;
  }
  return false;
}

}  // namespace agpstest
