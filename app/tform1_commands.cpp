// The command buttons of the window (restarts, output rates, fix rate, DGPS, firmware and
// EPO queries, EPO clear), the receiver's PMTK replies applied to the "Setup" tab, and the
// sentence log. What each button sends and what each reply means is decided in the core, in
// meanings (a sentence type's rate, a DGPS mode, a function offered); this file reads the
// controls, and maps the meanings to the controls that show them in one place (the table
// kSentenceControls of tform1.h, ControlOf, RadioOf).
//
// Thread rule: window thread only. Pauses between commands and the acknowledgement boxes
// block this thread, and with it the reader's hand-off: replies wait until they are done.
#include <QDate>
#include <QFile>
#include <QLocale>
#include <QMessageBox>
#include <QTime>
#include <algorithm>
#include <array>
#include <optional>
#include <string_view>
#include <variant>

#include "app/message_box.h"
#include "app/tform1.h"
#include "commands/pmtk_replies.h"

namespace {

QString Latin1(std::string_view text) { return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size())); }

// The controls that show each meaning of the core: the one place where the core's meanings
// and the window's control names meet (the sentence types' in kSentenceControls).
QCheckBox* IndicatorOf(const TForm1& f, NmeaKind kind) { return f.*ControlsRowOf(kind).indicator; }
QComboBox* RateBoxOf(const TForm1& f, NmeaKind kind) { return f.*ControlsRowOf(kind).rateBox; }

QWidget* ControlOf(const TForm1& f, ReceiverFunction function) {
  switch (function) {
    case ReceiverFunction::DgpsSbasChoice: return f.rbWAAS;
    case ReceiverFunction::DgpsRtcmChoice: return f.rbRTCM;
    case ReceiverFunction::DgpsNoneChoice: return f.rbDisable;
    case ReceiverFunction::DgpsSet: return f.btDGPSSet;
    case ReceiverFunction::DgpsQuery: return f.btDGQuery;
    case ReceiverFunction::EpoUpdate: return f.Button3;
  }
  return nullptr;
}

QRadioButton* RadioOf(const TForm1& f, DgpsMode mode) {
  switch (mode) {
    case DgpsMode::None: return f.rbDisable;
    case DgpsMode::Rtcm: return f.rbRTCM;
    case DgpsMode::Sbas: return f.rbWAAS;
  }
  return nullptr;
}

template <class... Handlers>
struct Overloaded : Handlers... {
  using Handlers::operator()...;
};

// The locale's long time format without its time-zone part: the times shown are GPS time,
// so the zone of this machine would be a false label on them. Quoted literals are kept.
QString LongTimeFormatWithoutZone(const QLocale& locale) {
  const QString format = locale.timeFormat(QLocale::LongFormat);
  QString out;
  bool quoted = false;
  for (const QChar c : format) {
    if (c == QLatin1Char('\'')) quoted = !quoted;
    if (!quoted && c == QLatin1Char('t')) continue;
    out += c;
  }
  return out.simplified();
}

// The user's short date and long time format for the incomplete-set EPO text; UTF-8, as
// the text goes into a Unicode label.
EpoTextFormat LocaleEpoTextFormat() {
  return {[](const std::tm& time) {
            const QDate date(time.tm_year + 1900, time.tm_mon + 1, time.tm_mday);
            return QLocale::system().toString(date, QLocale::ShortFormat).toStdString();
          },
          [](const std::tm& time) {
            const QLocale locale = QLocale::system();
            const QTime clockTime(time.tm_hour, time.tm_min, time.tm_sec);
            return locale.toString(clockTime, LongTimeFormatWithoutZone(locale)).toStdString();
          }};
}

// The control's own enabled state, as set on it; a disabled parent does not count.
bool OwnEnabled(const QWidget* control) { return !control->testAttribute(Qt::WA_ForceDisabled); }

}  // namespace

// ---- Buttons

void TForm1::hotClick() {
  SendCommands(RestartCommands(RestartKind::Hot));
  ResetAfterRestart();
}

void TForm1::warmClick() {
  SendCommands(RestartCommands(RestartKind::Warm));
  ResetAfterRestart();
}

void TForm1::coldClick() {
  SendCommands(RestartCommands(RestartKind::Cold));
  ResetAfterRestart();
}

void TForm1::ResetAfterRestart() {
  Edit1->setText(QStringLiteral("0"));
  ClearConsole();
  EdMode->clear();
  EdPDOP->clear();
  for (QLineEdit* field : {EdHeight, EdSpeed, EdTime, EdDate}) field->setText(QStringLiteral("0"));
  Edit1->setText(QStringLiteral("0"));
  session.state.fixTimerSeconds = 0;
  // Every indicator but MCHN's, which only channel status ticks and nothing here unticks.
  for (const NmeaKind kind : kKindsByIndicatorPlace) {
    if (kind != NmeaKind::MCHN) IndicatorOf(*this, kind)->setChecked(false);
  }
}

void TForm1::btDefaultClick() { SendCommands(DefaultOutputRatesCommands()); }

void TForm1::btConfirmClick() {
  RateIndices rates{};
  for (const SentenceControlsRow& row : kSentenceControls)
    rates[IndexOf(row.kind)] = (this->*row.rateBox)->currentIndex();
  SendCommands(SetOutputRatesCommands(rates));
}

void TForm1::btNAQueryClick() { SendCommands(OutputRateQueryCommands()); }

// With nothing selected in cbFix (before the first fix-period reply, or after the text was
// typed over) no period is known, and nothing is sent.
void TForm1::btFixSetClick() { SendCommands(SetFixPeriodCommands(cbFix->currentIndex())); }

void TForm1::btFixQueryClick() { SendCommands(FixPeriodQueryCommands()); }

void TForm1::Button5Click() { SendCommands(FixRateResetCommands()); }

void TForm1::btDGPSSetClick() {
  SendCommands(SetDgpsModeCommands(DgpsModeOf(RadioOf(*this, DgpsMode::Sbas)->isChecked(),
                                              RadioOf(*this, DgpsMode::Rtcm)->isChecked(),
                                              RadioOf(*this, DgpsMode::None)->isChecked())));
}

void TForm1::btDGQueryClick() { SendCommands(DgpsQueryCommands()); }

void TForm1::btVerQueryClick() { SendCommands(VersionQueryCommands()); }

void TForm1::Button2Click() { SendCommands(EpoStateQueryCommands()); }

void TForm1::Button4Click() {
  const int answer =
      ShowMessageBox(Latin1(kEpoClearQuestion), Latin1(kEpoClearTitle), BoxButtons::YesNo, BoxIcon::Question);
  if (answer != QMessageBox::Yes) return;
  SendCommands(EpoClearCommands());
  Label39->setText(Latin1(kEpoClearedText));
}

// ---- Replies

void TForm1::RemoveTenFixesEntry() {
  if (cbFix->count() > kTenFixesIndex) {
    const bool wasSelected = cbFix->currentIndex() == kTenFixesIndex;
    cbFix->removeItem(kTenFixesIndex);
    // Removing the selected entry would otherwise move the selection to "5", a rate the
    // receiver never reported.
    if (wasSelected) cbFix->setCurrentIndex(-1);
  }
  Button5->setEnabled(false);
}

void TForm1::HandlePmtkReply(const ReceiverReply& reply) {
  std::visit(Overloaded{
                 [this](const PmtkAck& r) { HandlePmtkAck(r); },
                 [this](const PmtkFixPeriod& r) { HandleFixRateReply(r); },
                 [this](const PmtkDgpsMode& r) { HandleDgpsModeReply(r); },
                 [this](const PmtkOutputRates& r) { HandleNmeaRatesReply(r); },
                 [this](const PmtkVersion& r) { HandleVersionReply(r); },
                 [this](const PmtkEpoState& r) { HandleEpoInfoReply(r); },
                 [](const PmtkStartupNotice&) {},  // the "Setup" tab has nothing to show for it
                 [this](const ChannelStatus&) { IndicatorOf(*this, NmeaKind::MCHN)->setChecked(true); },
                 [this](const ModeReply& r) {
                   if (r.fixRateSettable) GroupBox14->setVisible(true);
                 },
                 [](const FixRateResetDone&) {
                   ShowMessageBox(Latin1(kSetSuccessfulBox.text), Latin1(kSetSuccessfulBox.title), BoxButtons::Ok,
                                  BoxIcon::None);
                 },
                 // The logbook is the command-line tool's; the console shows its lines.
                 [](const PmtkLocusStatus&) {},
                 [](const PmtkLocusData&) {},
                 // Settings no control of the window shows; the console shows their lines.
                 [](const PmtkSbasEnabled&) {},
                 [](const PmtkSbasMode&) {},
                 [](const PmtkStaticNav&) {},
                 [](const PmtkEasy&) {},
             },
             reply);
}

void TForm1::HandlePmtkAck(const PmtkAck& ack) {
  const MessageBoxText box = AckMessage(ack);
  // Modal: until it is closed no further sentence is handled.
  ShowMessageBox(Latin1(box.text), Latin1(box.title), BoxButtons::Ok, BoxIcon::None);
}

void TForm1::HandleNmeaRatesReply(const PmtkOutputRates& rates) {
  for (const SentenceRateUpdate& update : OutputRatesUpdate(rates)) {
    IndicatorOf(*this, update.kind)->setChecked(update.on);
    // -1 (a rate outside the list) leaves the box without a selected item.
    RateBoxOf(*this, update.kind)->setCurrentIndex(update.rateIndex);
  }
}

void TForm1::HandleFixRateReply(const PmtkFixPeriod& reply) {
  const FixPeriodUpdate update = FixPeriodReplyUpdate(reply.fixPeriodMs, tenHzModel);
  // Index 5 while the "10" entry is absent is out of range: cbFix then shows no selection.
  if (update.fixRateIndex) cbFix->setCurrentIndex(*update.fixRateIndex);
  for (const FunctionEnable& function : update.functions)
    ControlOf(*this, function.function)->setEnabled(function.enabled);
}

void TForm1::HandleDgpsModeReply(const PmtkDgpsMode& reply) {
  const std::optional<DgpsMode> mode = DgpsModeOfReply(reply.mode);
  if (!mode) return;
  // The three share one group box, so checking one unchecks the others.
  RadioOf(*this, *mode)->setChecked(true);
}

void TForm1::HandleVersionReply(const PmtkVersion& reply) {
  const VersionUpdate update = VersionReplyUpdate(reply, OwnEnabled(Button5));
  if (update.setTenHzModel) tenHzModel = true;
  switch (update.entryChange) {
    case TenFixesEntryChange::Offer:
      // The entry exists at most once, even if Button5 was disabled behind its back.
      if (cbFix->count() <= kTenFixesIndex) cbFix->addItem(Latin1(kTenFixesEntry));
      Button5->setEnabled(true);
      break;
    case TenFixesEntryChange::Withdraw: RemoveTenFixesEntry(); break;
    case TenFixesEntryChange::None: break;
  }
  Label27->setText(Latin1(update.firmwareText));
}

void TForm1::HandleEpoInfoReply(const PmtkEpoState& reply) {
  const std::string text = EpoStateText(reply, epoClock(), LocaleEpoTextFormat());
  Label39->setText(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
}

// ---- Sentence log

void TForm1::StartLogClick() {
  if (!SaveDialog1.Execute(this)) return;
  // Any length the dialog returns: the name is built in a string, never cut.
  const QByteArray chosen = QFile::encodeName(SaveDialog1.FileName);
  const std::string fileName = LogFileNameOf(std::string(chosen.constData(), static_cast<std::size_t>(chosen.size())));
  // A log already open is closed before the next file is created, so a second start
  // never leaves the first file open.
  if (!logHandle.open(fileName)) {
    logEnabled = 0;
    // Why, under the box's own text: a log another logger is writing names that logger.
    const std::string why = logHandle.openProblem(fileName);
    ShowMessageBox(QStringLiteral("Open Error"), QStringLiteral("Open Error"), BoxButtons::Ok, BoxIcon::None,
                   QFile::decodeName(QByteArray(why.data(), static_cast<qsizetype>(why.size()))));
    return;
  }
  logEnabled = 1;
}

void TForm1::StopLogClick() {
  logEnabled = 0;
  logHandle.close();
}

void TForm1::WriteSentenceToLog() {
  if (logEnabled == 1) {
    // Never more than the buffer holds; SentenceLog completes partial writes.
    const std::size_t length =
        std::min(static_cast<std::size_t>(sentenceLength < 0 ? 0 : sentenceLength), sentenceBuffer.size());
    logHandle.write(sentenceBuffer.data(), length);
    StartLog->setEnabled(false);
    StopLog->setEnabled(true);
  } else {
    StartLog->setEnabled(true);
    StopLog->setEnabled(false);
  }
}
