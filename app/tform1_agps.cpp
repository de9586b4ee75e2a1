// The assisted-GPS update of the window: "Update" starts the update thread, which runs the
// core's update flow (download, check, switch, upload, ending) while this thread keeps
// handling events. The window's side of the flow (EpoWindowSide) runs here: the thread hands
// each of the flow's calls over (texts, boxes, the switch of the port to the upload, the
// progress, its hand-back at the ending, the line lost), and the thread's end arrives as its
// finished signal.
//
// Thread rule: window thread only, but for the upload's line, which EpoWindowSide makes here
// and the update thread alone uses from then until the ending is shown or the line is lost.
// The update thread reaches these functions only through its blocking hand-off, and is joined
// before the port it uses is closed by anyone but its own ending.
#include <QMetaObject>
#include <QPointer>
#include <QThread>
#include <algorithm>
#include <limits>
#include <memory>
#include <optional>
#include <string>

#include "agps/epo_download.h"
#include "agps/epo_packets.h"
#include "agps/epo_serial_link.h"
#include "agps/epo_update.h"
#include "app/message_box.h"
#include "app/tform1.h"
#include "link/link_error.h"
#include "link/network_names.h"
#include "link/port_open.h"

namespace {

// Geometry of the progress bar inside the "AGPS" group, under Label39's text.
constexpr int kProgressXPx = 10, kProgressYPx = 104, kProgressWPx = 300, kProgressHPx = 16;

std::uint32_t baudOfBox(const QComboBox* box) {
  const long baud = BaudOfText(box->currentText().toLatin1().toStdString());
  if (baud <= 0) return 0;
  return static_cast<std::uint32_t>(std::min<long>(baud, std::numeric_limits<std::uint32_t>::max()));
}

// The update's side in the window, one for each click: its texts in Label39, its boxes, the
// port taken for the upload and given back. It holds the upload's line, which the update
// thread uses until the ending is shown or the line is lost.
class EpoWindowSide : public EpoUpdateSide {
 public:
  explicit EpoWindowSide(TForm1& form) : form_(&form) {}

  void downloading() override {
    if (form_) form_->setEpoLabel(QString::fromLatin1(kEpoDownloadingText) + QStringLiteral("\r\n"));
  }
  void fileAccepted(const std::string&, int totalPackets) override {
    if (form_) form_->epoTotalPackets = totalPackets;
  }
  void refused(EpoUpdateStep, const char* message, const std::string&) override {
    if (!form_) return;
    // The receiver was not switched: leave "Update" usable for another try.
    form_->setEpoLabel(QString());
    form_->Button3->setEnabled(true);
    ShowErrorBox(QString::fromLatin1(message));
  }
  EpoLink* switchToBinary(const std::function<void()>& settle) override {
    port_ = form_ ? form_->takePortForEpoUpload(settle) : nullptr;
    if (!port_) return nullptr;
    line_.emplace(*port_);
    return &*line_;
  }
  void progress(int percent, const std::string& text) override {
    if (!form_) return;
    form_->epoProgressBar()->setValue(percent);
    form_->setEpoLabel(QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size())));
  }
  std::uint32_t nmeaBaudRate() override { return form_ ? baudOfBox(form_->ComboBox2) : 0; }
  void ended(EpoEnding, const EpoEndingTexts& texts) override {
    releaseLine();
    if (texts.errorBox) {
      ShowErrorBox(QString::fromLatin1(texts.message));
    } else {
      ShowMessageBox(QString::fromLatin1(texts.message), QString::fromLatin1(texts.title), BoxButtons::Ok,
                     BoxIcon::None);
    }
  }
  void handBack(const EpoEndingTexts& texts, std::uint32_t baud) override {
    if (form_) form_->finishEpoUpload(texts, baud);
  }
  // Only the window stops its update ("Off", closing), and StopEpoUpload has shown it.
  void stopped(EpoUpdateStep, EpoStopCause) override {}
  // The link goes off as after "Off", and the box says why. Nothing was handed back to a
  // device that is gone.
  void lost(int lossErrorNumber) override {
    releaseLine();
    if (form_) form_->ReceiverLost(lossErrorNumber);
  }

 private:
  // The flow is done with the line: the port closes as soon as the window lets go of it too,
  // even while this call still shows its box.
  void releaseLine() {
    line_.reset();
    port_.reset();
  }

  QPointer<TForm1> form_;
  std::shared_ptr<ByteStream> port_;
  std::optional<SerialEpoLink> line_;
};

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

void TForm1::Button3Click() {
  // An earlier click still downloads, or was stopped in its download (the link switched off
  // and on) and its end has not arrived yet: that click is ending; this one does nothing.
  if (epoThread && epoThread->inDownload()) return;
  // A fresh upload state: the thread of an earlier update goes.
  if (epoThread) {
    epoThread->stopAndWait();
    epoThread.reset();
  }
  epoUploadRunning = false;

  if (Button1->text() == QLatin1String("On")) {
    ShowMessageBox(QStringLiteral("Warning"), QStringLiteral("No connected."), BoxButtons::Ok, BoxIcon::Warning);
    return;
  }
  // The update switches the line's speed, which a network receiver does not have.
  if (comHandle && comHandle->stream().serialLine() == nullptr) {
    ShowErrorBox(QStringLiteral("EPO update not started."), QString::fromStdString(EpoNetworkRefusal(comDevicePath)));
    return;
  }
  Button3->setEnabled(false);
  // Into the working directory; the server from the environment.
  epoTotalPackets = 0;
  epoThread = std::make_unique<EPO_PARSE>(".", baudOfBox(ComboBox2), std::make_shared<EpoWindowSide>(*this), this);
  const std::uint64_t update = ++epoUpdateCount;
  connect(epoThread.get(), &QThread::finished, this, [this, update] {
    // The thread of an update that ended without holding the port goes with its end; the end
    // of an update that a later click has already replaced changes nothing.
    if (update != epoUpdateCount || !epoThread) return;
    if (!epoUploadRunning) epoThread.reset();
  });
  epoThread->start();
}

std::shared_ptr<ByteStream> TForm1::takePortForEpoUpload(const std::function<void()>& settle) {
  SendCommands(BinaryProtocolSwitchCommands());
  settle();  // the window thread sleeps, reception with it
  epoUploadRunning = true;
  // The reader is joined before its port is closed, so no read is left on a closed number.
  StopReader();
  LinkError error;
  if (!comHandle || !comHandle->reopenAtBaud(ComboBox1->currentText().toLatin1().toStdString(),
                                             ComboBox1->currentIndex(), kEpoUploadBaudRate, &error)) {
    // Without the port the upload would wait for ever: say so and switch the link off.
    epoUploadRunning = false;
    setEpoLabel(QString());
    Disconnect();
    ShowErrorBox(QString::fromLatin1(kOpenComPortFailed));
    return nullptr;
  }
  QProgressBar* bar = epoProgressBar();
  bar->setValue(0);
  bar->show();
  return comHandle->sharedStream();
}

void TForm1::finishEpoUpload(const EpoEndingTexts& texts, std::uint32_t reopenBaud) {
  setEpoLabel(QString::fromLatin1(texts.labelText));
  Button3->setEnabled(true);
  epoProgressBar()->hide();
  epoUploadRunning = false;
  // The upload thread waits in its hand-off and never touches the port again.
  LinkError error;
  if (!comHandle || !comHandle->reopenAtBaud(ComboBox1->currentText().toLatin1().toStdString(),
                                             ComboBox1->currentIndex(), reopenBaud, &error)) {
    // A new reader would only see failing reads: switch the link off and say why.
    Disconnect();
    ShowErrorBox(QString::fromLatin1(kOpenComPortFailed));
    return;
  }
  StartReader();
}

void TForm1::StopEpoUpload() {
  if (epoThread) {
    if (epoThread->inDownload()) {
      // It holds no port: let it end on its own (its finished signal removes it), and the
      // next click waits for that.
      epoThread->requestStop();
      setEpoLabel(QString());
    } else {
      epoThread->stopAndWait();
      epoThread.reset();
    }
  }
  epoUploadRunning = false;
  if (ProgressBar1 != nullptr) ProgressBar1->hide();
}
