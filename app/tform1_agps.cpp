// The assisted-GPS update of the window: "Update" downloads the EPO file without freezing
// the window, checks it, switches the receiver to binary output, takes the port from the
// reader and reopens it for the upload thread; the upload thread's texts, boxes and the
// hand-back of the port at its ending arrive here through its hand-off.
//
// Thread rule: window thread only. The download runs on a worker of its own (joined before
// the click returns); the upload thread reaches these functions only through its blocking
// hand-off, and is joined before the port it uses is closed by anyone but its own ending.
#include <QEventLoop>
#include <QMetaObject>
#include <QPointer>
#include <QThread>
#include <algorithm>
#include <limits>
#include <memory>
#include <string>
#include <thread>

#include "agps/epo_download.h"
#include "agps/epo_packets.h"
#include "app/message_box.h"
#include "app/tform1.h"
#include "link/port_open.h"

namespace {

constexpr const char* kDownloadingText = "Downloading EPO File...\r\n";
constexpr const char* kCannotOpenFileMessage = "Cannot open EPO file.";
constexpr const char* kPortReopenFailedMessage = "Open ComPort failed.";
// The receiver needs this long after the switch command before it listens at the new rate.
constexpr unsigned long kBinarySwitchWaitMs = 1000;

// Geometry of the progress bar inside the "AGPS" group, under Label39's text.
constexpr int kProgressXPx = 10, kProgressYPx = 104, kProgressWPx = 300, kProgressHPx = 16;

std::uint32_t baudOfBox(const QComboBox* box) {
  const long baud = BaudOfText(box->currentText().toLatin1().toStdString());
  if (baud <= 0) return 0;
  return static_cast<std::uint32_t>(std::min<long>(baud, std::numeric_limits<std::uint32_t>::max()));
}

}  // namespace

void TForm1::setEpoLabel(const QString& text) {
  Label39->setText(text);
  if (label39Shown) label39Shown(text);
}

QProgressBar* TForm1::epoProgressBar() {
  if (ProgressBar1 == nullptr) {
    ProgressBar1 = new QProgressBar(GroupBox13);
    ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
    ProgressBar1->setGeometry(kProgressXPx, kProgressYPx, kProgressWPx, kProgressHPx);
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(0);
    ProgressBar1->hide();
  }
  return ProgressBar1;
}

// Runs the download on a worker and keeps this thread handling events meanwhile (the reader's
// sentences, the other buttons, "Off"), so a slow server never freezes the window; the
// download's own time-outs bound the wait. True when the file arrived; epoDownloadCancel
// tells afterwards whether it was stopped.
bool TForm1::epoDownloadKeepingWindowAlive() {
  epoDownloadCancel = false;
  epoDownloading = true;
  EpoDownloadOptions options;  // into the working directory; server from the environment
  options.cancel = &epoDownloadCancel;
  auto result = std::make_shared<EpoDownloadResult>();
  auto finished = std::make_shared<std::atomic<bool>>(false);
  QEventLoop loop;
  std::thread worker([options, result, finished, &loop] {
    *result = EpoDownload(options);
    finished->store(true);
    QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
  });
  if (!finished->load()) loop.exec();
  // The loop also ends when the application quits: then the download is ended early.
  if (!finished->load()) epoDownloadCancel = true;
  worker.join();
  epoDownloading = false;
  return result->ok;
}

void TForm1::Button3Click() {
  // The link was switched off and on while an earlier click still downloads: that click is
  // ending (its download was cancelled); this one does nothing.
  if (epoDownloading) return;
  // A fresh upload state: the thread of an earlier update goes, and its file with it.
  if (epoThread) {
    epoThread->stopAndWait();
    epoThread.reset();
  }
  epoUploadRunning = false;

  if (Button1->text() == QLatin1String("On")) {
    ShowMessageBox(QStringLiteral("Warning"), QStringLiteral("No connected."), BoxButtons::Ok, BoxIcon::Warning);
    return;
  }
  Button3->setEnabled(false);
  setEpoLabel(QString::fromLatin1(kDownloadingText));

  const bool downloaded = epoDownloadKeepingWindowAlive();
  if (epoDownloadCancel.load() || !comHandle) {
    // Stopped by "Off" (which disabled "Update") or by the application quitting: no box.
    setEpoLabel(QString());
    return;
  }
  if (!downloaded) {
    setEpoLabel(QString());
    Button3->setEnabled(true);
    ShowErrorBox(QString::fromLatin1(kEpoDownloadFailedMessage));
    return;
  }

  EpoFilePtr file = EpoOpenFile(kEpoFileName);
  if (!file) {
    // The receiver was not switched: leave "Update" usable for another try.
    setEpoLabel(QString());
    Button3->setEnabled(true);
    ShowErrorBox(QString::fromLatin1(kCannotOpenFileMessage));
    return;
  }

  SendCommands(BinaryProtocolSwitchCommands());
  QThread::msleep(kBinarySwitchWaitMs);  // the window thread sleeps, reception with it
  epoUploadRunning = true;
  // The reader is joined before its port is closed, so no read is left on a closed number.
  StopReader();
  comHandle->close();
  comHandle.reset();
  const std::string portText = ComboBox1->currentText().toLatin1().toStdString();
  comHandle = ReopenPortAtBaud(portText, ComboBox1->currentIndex(), kEpoUploadBaudRate).port;
  if (!comHandle) {
    // Without the port the upload would wait for ever: say so and switch the link off.
    epoUploadRunning = false;
    setEpoLabel(QString());
    Disconnect();
    ShowErrorBox(QString::fromLatin1(kPortReopenFailedMessage));
    return;
  }
  epoThread = std::make_unique<EPO_PARSE>(comHandle, std::move(file), kEpoFileName, baudOfBox(ComboBox2),
                                          epoWindowSide(), this);
  QProgressBar* bar = epoProgressBar();
  bar->setValue(0);
  bar->show();
  epoThread->start();
}

EPO_PARSE::WindowSide TForm1::epoWindowSide() {
  const QPointer<TForm1> self(this);
  EPO_PARSE::WindowSide side;
  side.showProgress = [self](int percent, const QString& text) {
    if (!self) return;
    self->epoProgressBar()->setValue(percent);
    self->setEpoLabel(text);
  };
  side.nmeaBaudRate = [self]() -> std::uint32_t { return self ? baudOfBox(self->ComboBox2) : 0; };
  side.showEndingBox = [](const EpoEndingTexts& texts) {
    if (texts.errorBox) {
      ShowErrorBox(QString::fromLatin1(texts.message));
    } else {
      ShowMessageBox(QString::fromLatin1(texts.message), QString::fromLatin1(texts.title), BoxButtons::Ok,
                     BoxIcon::None);
    }
  };
  side.finishEnding = [self](const EpoEndingTexts& texts, std::uint32_t reopenBaud) {
    if (self) self->finishEpoUpload(texts, reopenBaud);
  };
  return side;
}

void TForm1::finishEpoUpload(const EpoEndingTexts& texts, std::uint32_t reopenBaud) {
  setEpoLabel(QString::fromLatin1(texts.labelText));
  Button3->setEnabled(true);
  epoProgressBar()->hide();
  epoUploadRunning = false;
  // The upload thread waits in its hand-off and never touches the port again.
  if (comHandle) {
    comHandle->close();
    comHandle.reset();
  }
  comHandle = ReopenPortAtBaud(ComboBox1->currentText().toLatin1().toStdString(), ComboBox1->currentIndex(),
                               reopenBaud).port;
  if (!comHandle) {
    // A new reader would only see failing reads: switch the link off and say why.
    Disconnect();
    ShowErrorBox(QString::fromLatin1(kPortReopenFailedMessage));
    return;
  }
  StartReader();
}

void TForm1::StopEpoUpload() {
  if (epoDownloading) epoDownloadCancel = true;
  if (epoThread) {
    epoThread->stopAndWait();
    epoThread.reset();
  }
  epoUploadRunning = false;
  if (ProgressBar1 != nullptr) ProgressBar1->hide();
}
