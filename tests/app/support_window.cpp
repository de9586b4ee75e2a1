// Window test fixture.
#include "tests/app/support_window.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QTextDocument>
#include <QThread>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>

WindowFixture::WindowFixture(sim::SimOptions options) : boxAnswer(QMessageBox::Ok), options_(std::move(options)) {}

WindowFixture::~WindowFixture() {
  SetMessageBoxHook({});
  form_.reset();  // stops and joins the reader before the simulator goes
  if (sim_) sim_->stop();
}

sim::SimOptions WindowFixture::DefaultSimOptions() {
  sim::SimOptions options;
  options.comNumber = 1;
  options.model.startup = {500, 1000};
  return options;
}

bool WindowFixture::start(std::string* error) {
  if (!portDir_.isValid()) {
    if (error) *error = "no temporary directory";
    return false;
  }
  const QByteArray dir = portDir_.path().toLocal8Bit();
  setenv("TORVIKEL_PORT_DIR", dir.constData(), 1);
  options_.portMapDir = dir.toStdString();
  sim_ = std::make_unique<sim::SimReceiver>(options_);
  if (!sim_->start(error)) return false;
  SetMessageBoxHook([this](const MessageBoxRequest& request) {
    boxes_.push_back({request.text, request.title, request.buttons, request.icon, request.informative});
    return boxAnswer;
  });
  form_ = std::make_unique<TForm1>();
  // The document itself, not through form_: a window being destroyed still shows (and logs)
  // what its reader read last, while form_ no longer points at it.
  QTextDocument* const document = form_->Memo1->document();
  QObject::connect(document, &QTextDocument::contentsChange,
                   [this, document](int position, int /*removed*/, int added) {
                     if (added <= 0) return;
                     QTextDocument* doc = document;
                     memoInserted_ += doc->toPlainText().mid(position, added);
                   });
  return true;
}

bool WindowFixture::connect() {
  form_->Button1->click();
  // A network receiver connects off the window thread: its answer comes as an event.
  pumpUntil([this] { return !form_->pendingConnect; }, 15000);
  return form_->Button1->text() == QLatin1String("Off") && form_->comHandle != nullptr;
}

void WindowFixture::disconnect() {
  if (form_->Button1->text() == QLatin1String("Off")) form_->Button1->click();
}

void WindowFixture::destroyWindow() { form_.reset(); }

bool WindowFixture::connectAndSettle(int timeoutMs) {
  // The reply of this connection, not one of an earlier connection still in the record.
  const qsizetype seenBefore = memoInserted_.size();
  if (!connect()) return false;
  return pumpUntil([&] { return memoInserted_.indexOf(QLatin1String("$PMTK500,"), seenBefore) >= 0; }, timeoutMs);
}

bool WindowFixture::sendFromReceiver(const std::vector<std::string>& lines, int timeoutMs) {
  if (lines.empty()) return true;
  std::vector<std::string> replay = lines;
  replay.push_back(testsupport::NmeaFramed("GPTXT,01,01,02,END OF TEST REPLY"));
  QString last = QString::fromLatin1(lines.back().data(), static_cast<qsizetype>(lines.back().size()));
  last.remove(QLatin1Char('\r'));
  const qsizetype seenBefore = memoInserted_.size();
  sim_->withModel([&](sim::ReceiverModel& m) {
    m.options().replayFast = true;
    m.options().replayLoop = false;
    m.startReplay(replay);
  });
  return pumpUntil([&] { return memoInserted_.indexOf(last, seenBefore) >= 0; }, timeoutMs);
}

bool WindowFixture::pumpUntil(const std::function<bool()>& condition, int timeoutMs) {
  QElapsedTimer timer;
  timer.start();
  while (!condition()) {
    if (timer.elapsed() > timeoutMs) return condition();
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    QThread::msleep(1);
  }
  return true;
}

TForm1* OpenBareWindow() {
  SetMessageBoxHook([](const MessageBoxRequest&) { return 0; });
  auto* form = new TForm1;
  form->show();
  return form;
}

void CloseBareWindow(TForm1*& form) {
  delete form;
  form = nullptr;
  SetMessageBoxHook({});
}
