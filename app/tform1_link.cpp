// The link side of the window: switching the port on and off, and the per-sentence hand-off
// from the reader thread onto the window thread.
//
// Thread rule: window thread only; the reader thread reaches HandleSentence through the
// blocking hand-off and nothing else.
#include <QMessageBox>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <cstdio>
#include <exception>
#include <stdexcept>

#include "app/message_box.h"
#include "app/tform1.h"
#include "link/network_names.h"
#include "link/port_names.h"

namespace {

// A failed connect step, with its cause: its message is shown in the standard error box.
class ConnectError : public std::runtime_error {
 public:
  explicit ConnectError(LinkError error) : std::runtime_error(error.message), error_(std::move(error)) {}
  const LinkError& error() const { return error_; }

 private:
  LinkError error_;
};

// The one report of a connection's failed sentence handling; the rest are only counted.
void ReportHandlerFailure(const std::string& cause) {
  std::fprintf(stderr, "torvikel: a sentence could not be handled: %s (further failures are only counted)\n",
               cause.c_str());
}

constexpr int kMemoMaxLines = 50;
constexpr int kMemoMaxChars = 5000;

// Lines and characters as a classic memo counts them: each line ends in CR LF.
int MemoLineCount(const QPlainTextEdit* memo) {
  const QTextDocument* doc = memo->document();
  int blocks = doc->blockCount();
  if (doc->lastBlock().text().isEmpty()) --blocks;  // text ending in a line end
  return blocks < 0 ? 0 : blocks;
}

int MemoCharCount(const QPlainTextEdit* memo) {
  const QTextDocument* doc = memo->document();
  // characterCount() includes one paragraph separator per block plus the final one; each
  // separator stands for CR LF in the memo's own text.
  const int separators = doc->blockCount() - 1;
  return (doc->characterCount() - 1) + separators;
}

// The same counts for the memo's text followed by held lines not yet inserted.
int MemoLineCount(const QPlainTextEdit* memo, const QString& held) {
  if (held.isEmpty()) return MemoLineCount(memo);
  const QTextDocument* doc = memo->document();
  const int blocks = doc->blockCount() + static_cast<int>(held.count(QLatin1Char('\n')));
  return held.endsWith(QLatin1Char('\n')) ? blocks - 1 : blocks;
}

int MemoCharCount(const QPlainTextEdit* memo, const QString& held) {
  const int newLines = static_cast<int>(held.count(QLatin1Char('\n')));
  return MemoCharCount(memo) + static_cast<int>(held.size()) + newLines;
}

}  // namespace

void TForm1::Button1Click() {
  if (Button1->text() != QLatin1String("On")) {
    Disconnect();  // also cancels a connect still under way
    return;
  }
  LinkOpenRequest request = ConnectRequest();
  const ResolvedPort where = ResolvePort(request.portText, request.allowDevicePath);
  // A network host may take seconds to answer or never answer, and finding the rate listens
  // up to 2.5 s at each of ten: both run off the window thread, and "Off" cancels them.
  if ((where.devicePath && IsNetworkPortName(*where.devicePath)) || request.baudText == kAutoBaudText) {
    StartBackgroundConnect(std::move(request));
    return;
  }
  try {
    OpenComPort();
  } catch (const ConnectError& e) {
    ShowConnectError(e.error());
    return;
  }
  LinkIsUp();
}

TForm1::PendingConnect::~PendingConnect() {
  cancel = true;
  if (worker.joinable()) worker.join();
}

void TForm1::StartBackgroundConnect(LinkOpenRequest request) {
  // The boxes as while connected, and "Off" to cancel; the controls come with the link.
  Button1->setText(QStringLiteral("Off"));
  ComboBox1->setEnabled(false);
  ComboBox2->setEnabled(false);
  pendingConnect = std::make_unique<PendingConnect>();
  PendingConnect* attempt = pendingConnect.get();
  attempt->number = ++connectAttempts;
  request.stopRequested = [attempt] { return attempt->cancel.load(); };
  attempt->worker = std::thread([this, attempt, request = std::move(request)] {
    attempt->link = LinkSession::open(request, &attempt->error);
    // Queued to the window thread; dropped with the window if it goes first (it joins this
    // thread before it does).
    QMetaObject::invokeMethod(
        this, [this, number = attempt->number] { FinishBackgroundConnect(number); }, Qt::QueuedConnection);
  });
}

void TForm1::FinishBackgroundConnect(unsigned attemptNumber) {
  // A cancelled attempt's answer, or one overtaken by a newer attempt, is dropped.
  if (!pendingConnect || pendingConnect->number != attemptNumber) return;
  pendingConnect->worker.join();
  std::unique_ptr<LinkSession> opened = std::move(pendingConnect->link);
  const LinkError error = pendingConnect->error;
  pendingConnect.reset();
  if (!opened) {
    Disconnect();  // the boxes as before "On"
    ShowConnectError(error);
    return;
  }
  TakeLink(std::move(opened));
  LinkIsUp();
}

void TForm1::LinkIsUp() {
  Timer2->start();
  // Timer1 starts its 200 ms over in the same moment, so every fifth of its ticks falls
  // together with the fix timer's and a connected window wakes five times a second, not six.
  // Its estimate has no state, so restarting it changes nothing one could see.
  Timer1->start();
  Button1->setText(QStringLiteral("Off"));
  ComboBox1->setEnabled(false);
  ComboBox2->setEnabled(false);
  for (QWidget* w : LinkControls()) w->setEnabled(true);
}

std::vector<QWidget*> TForm1::LinkControls() {
  return {hot,       warm,      cold,      StartLog,   btAllQuery, btAllSet,    btNAQuery,  btDefault,  btConfirm,
          btDGQuery, btDGPSSet, btDaQuery, btDatumSet, btSBASSet,  btSBASQuery, btVerQuery, btFixQuery, btFixSet,
          btWakeup,  btBAUSet,  CheckBox8, cbTest,     Button2,    Button3,     Button4};
}

LinkOpenRequest TForm1::ConnectRequest() const {
  LinkOpenRequest request;
  request.portText = ComboBox1->currentText().toLatin1().toStdString();
  request.baudText = ComboBox2->currentText().toLatin1().toStdString();
  return request;
}

void TForm1::OpenComPort() {
  LinkError error;
  std::unique_ptr<LinkSession> opened = LinkSession::open(ConnectRequest(), &error);
  if (!opened) throw ConnectError(error);
  TakeLink(std::move(opened));
}

void TForm1::TakeLink(std::unique_ptr<LinkSession> opened) {
  session.state.fixTimerSeconds = 0;
  session.failures.reset();
  comHandle = std::move(opened);
  comDevicePath = comHandle->devicePath();
  // The reader runs before the first query goes out. Through gpsd nothing may be written;
  // the queries are simply left out, without a box.
  readerThread = NewReaderHandOver();
  comHandle->connect(*readerThread, Thread1::ReadOptions());
}

void TForm1::ShowConnectError(const LinkError& error) {
  lastLinkError = error;
  // The step's own text, and under it why, in plain words, with the remedy.
  ShowErrorBox(QString::fromLatin1(error.message.data(), static_cast<qsizetype>(error.message.size())),
               QString::fromStdString(error.explanation));
}

void TForm1::ReceiverLost(int errorNumber) {
  const LinkError lost = LinkLost(comDevicePath, errorNumber);
  // Exactly as after "Off"; the sentences received before the loss have been handled and
  // logged already, and the log stays as its buttons say.
  Disconnect();
  lastLinkError = lost;
  ShowErrorBox(QString::fromStdString(lost.explanation));
}

void TForm1::Disconnect() {
  pendingConnect.reset();  // cancelled, and its thread joined
  StopReader();
  StopEpoUpload();
  comHandle.reset();  // closes the port: no thread uses it any more
  Timer2->stop();
  Button1->setText(QStringLiteral("On"));
  Edit1->setText(QStringLiteral("0"));
  ComboBox1->setEnabled(true);
  ComboBox2->setEnabled(true);
  for (QWidget* w : LinkControls()) w->setEnabled(false);
  StopLog->setEnabled(false);
  RemoveTenFixesEntry();
}

void TForm1::Shutdown() {
  if (comHandle || epoThread || pendingConnect) Disconnect();
  logEnabled = 0;
  logHandle.close();
}

std::unique_ptr<Thread1> TForm1::NewReaderHandOver() {
  return std::make_unique<Thread1>([this](const std::string& sentence) { HandleSentenceText(sentence); }, this,
                                   [this](int errorNumber) { ReceiverLost(errorNumber); },
                                   [this] { ConsoleReadStarts(); }, [this] { ConsoleReadDone(); });
}

void TForm1::StartReader() {
  readerThread = NewReaderHandOver();
  comHandle->startReader(*readerThread, Thread1::ReadOptions());
}

void TForm1::HandleSentenceText(const std::string& sentence) {
  sentenceBuffer = sentence;
  sentenceLength = static_cast<int>(sentence.size());
  // A failure while one sentence is handled must not end reception.
  try {
    HandleSentence();
  } catch (const std::exception& e) {
    HandlerFailed(e.what());
  } catch (...) {
    HandlerFailed("unknown error");
  }
}

void TForm1::ConsoleReadStarts() { consoleHolding_ = true; }

void TForm1::InsertHeldConsoleLines() {
  if (consoleHeld_.isEmpty()) return;
  Memo1->insertPlainText(consoleHeld_);
  consoleHeld_.clear();
}

void TForm1::ConsoleReadDone() {
  InsertHeldConsoleLines();
  consoleHolding_ = false;
  // Scrolled here, once a read, rather than just before the repaint: a scroll made while the
  // repaint is under way asks for another one a moment later.
  ScrollConsoleToEnd();
}

void TForm1::ClearConsole() {
  consoleHeld_.clear();
  Memo1->clear();
}

void TForm1::HandlerFailed(std::string_view cause) {
  if (session.failures.record(cause)) ReportHandlerFailure(session.failures.first());
}

void TForm1::StopReader() {
  if (!readerThread) return;
  std::vector<std::string> readerHeld = comHandle ? comHandle->stopReader() : std::vector<std::string>{};
  const std::vector<std::string> heldBack = readerThread->takeHeldBack(std::move(readerHeld));
  readerThread.reset();
  // What the reader had received before the stop is shown and logged like every sentence
  // before it; the reader is gone, so this runs here.
  for (const std::string& sentence : heldBack) HandleSentenceText(sentence);
}

void TForm1::SendCommands(const CommandSequence& sequence) {
  if (!comHandle) return;
  if (!comHandle->send(sequence)) {
    ShowErrorBox(QStringLiteral("Command not sent."), QString::fromStdString(ReadOnlyRefusal(comDevicePath)));
  }
}

void TForm1::HandleSentence() {
  const SentenceOutcome outcome =
      session.handle(std::string_view(sentenceBuffer).substr(0, static_cast<std::size_t>(sentenceLength)));
  if (!outcome.valid) return;  // dropped without trace
  if (outcome.failure) ReportHandlerFailure(*outcome.failure);
  if (outcome.reply) HandlePmtkReply(*outcome.reply);
  UpdateSentenceDisplay();
}

void TForm1::UpdateSentenceDisplay() {
  // 1. Console.
  if (MemoLineCount(Memo1, consoleHeld_) > kMemoMaxLines || MemoCharCount(Memo1, consoleHeld_) > kMemoMaxChars) {
    // What was held was in the memo before the clear, as far as anyone watching it can tell.
    InsertHeldConsoleLines();
    Memo1->clear();
  }
  QString text = QString::fromLatin1(sentenceBuffer.data(), sentenceLength);
  text.remove(QLatin1Char('\r'));  // the memo's line end is the sentence's own CR LF
  if (consoleHolding_) {
    consoleHeld_ += text;
  } else {
    Memo1->insertPlainText(text);
  }
  memoScrollPending = true;  // scrolled to the end with the next repaint

  // 2. Log.
  WriteSentenceToLog();

  // 3. Edit fields. Most texts stay the same from one sentence to the next; setting a field
  // to its own text would still repaint it (and lose a selection the user is copying).
  const Display_SatInfo_st& satInfo = session.state.satInfo;
  auto show = [](QLineEdit* field, const QString& shown) {
    if (field->text() != shown) field->setText(shown);
  };
  auto latin1 = [](const std::string& s) { return QString::fromLatin1(s.data(), static_cast<qsizetype>(s.size())); };
  show(EdDate, latin1(satInfo.dateText));
  show(EdTime, latin1(satInfo.timeText));
  show(EdMode, latin1(satInfo.fixModeText));
  show(Edit1, QString::number(session.state.fixTimerSeconds));
  show(EdLat, latin1(satInfo.latText));  // Latin-1 is the 8-bit code page: ° is 0xB0
  show(EdLon, latin1(satInfo.lonText));
  show(EdSpeed, latin1(satInfo.speedText));
  show(EdPDOP, latin1(satInfo.pdopText));
  show(EdHeight, latin1(satInfo.altitudeText));

  // 4. Charts, when a satellite cycle has just completed.
  RebuildCharts();
  if (sentenceDisplayed) sentenceDisplayed();
}
