// The command buttons of the window (restarts, output rates, fix rate, DGPS, firmware and
// EPO queries, EPO clear), the receiver's PMTK replies applied to the "Setup" tab, and the
// sentence log. What each button sends and what each reply means is decided in the core;
// this file only reads the controls and applies those decisions to them.
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
#include <utility>
#include <variant>

#include "app/message_box.h"
#include "app/tform1.h"
#include "commands/pmtk_replies.h"

namespace {

QString Latin1(std::string_view text) {
  return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

// The reply in the field table if it is of kind T; nothing for any other sentence.
template <class T>
std::optional<T> DecodedAs(const SentenceFields& fields) {
  const std::optional<PmtkReply> reply = DecodePmtkReply(fields);
  if (!reply) return std::nullopt;
  if (const T* value = std::get_if<T>(&*reply)) return *value;
  return std::nullopt;
}

// The controls the reply decisions name, by their names.
QWidget* ControlNamed(TForm1& f, std::string_view name) {
  const std::pair<std::string_view, QWidget*> controls[] = {
      {"CheckBox1", f.CheckBox1}, {"CheckBox2", f.CheckBox2}, {"CheckBox3", f.CheckBox3},
      {"CheckBox4", f.CheckBox4}, {"CheckBox5", f.CheckBox5}, {"CheckBox6", f.CheckBox6},
      {"CheckBox7", f.CheckBox7}, {"CheckBox9", f.CheckBox9}, {"cbGLL", f.cbGLL},
      {"cbRMC", f.cbRMC},         {"cbVTG", f.cbVTG},         {"cbGSA", f.cbGSA},
      {"cbGSV", f.cbGSV},         {"cbGGA", f.cbGGA},         {"cbZDA", f.cbZDA},
      {"cbMCHN", f.cbMCHN},       {"rbWAAS", f.rbWAAS},       {"rbRTCM", f.rbRTCM},
      {"rbDisable", f.rbDisable}, {"btDGPSSet", f.btDGPSSet}, {"btDGQuery", f.btDGQuery},
      {"Button3", f.Button3},     {"Button5", f.Button5},
  };
  for (const auto& [controlName, control] : controls)
    if (controlName == name) return control;
  return nullptr;
}

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
  Memo1->clear();
  EdMode->clear();
  EdPDOP->clear();
  for (QLineEdit* field : {EdHeight, EdSpeed, EdTime, EdDate}) field->setText(QStringLiteral("0"));
  Edit1->setText(QStringLiteral("0"));
  session.state.fixTimerSeconds = 0;
  for (QCheckBox* indicator : {CheckBox1, CheckBox2, CheckBox3, CheckBox4, CheckBox5, CheckBox6, CheckBox7})
    indicator->setChecked(false);
}

void TForm1::btDefaultClick() { SendCommands(DefaultOutputRatesCommands()); }

void TForm1::btConfirmClick() {
  RateIndices rates{};
  const std::pair<NmeaKind, QComboBox*> boxes[] = {
      {NmeaKind::GLL, cbGLL}, {NmeaKind::RMC, cbRMC}, {NmeaKind::VTG, cbVTG}, {NmeaKind::GSA, cbGSA},
      {NmeaKind::GSV, cbGSV}, {NmeaKind::GGA, cbGGA}, {NmeaKind::ZDA, cbZDA}, {NmeaKind::MCHN, cbMCHN},
  };
  for (const auto& [kind, box] : boxes) rates[static_cast<std::size_t>(kind)] = box->currentIndex();
  SendCommands(SetOutputRatesCommands(rates));
}

void TForm1::btNAQueryClick() { SendCommands(OutputRateQueryCommands()); }

// With nothing selected in cbFix (before the first fix-period reply, or after the text was
// typed over) no period is known, and nothing is sent.
void TForm1::btFixSetClick() { SendCommands(SetFixPeriodCommands(cbFix->currentIndex())); }

void TForm1::btFixQueryClick() { SendCommands(FixPeriodQueryCommands()); }

void TForm1::Button5Click() { SendCommands(FixRateResetCommands()); }

void TForm1::btDGPSSetClick() {
  SendCommands(SetDgpsModeCommands(DgpsModeOf(rbWAAS->isChecked(), rbRTCM->isChecked(), rbDisable->isChecked())));
}

void TForm1::btDGQueryClick() { SendCommands(DgpsQueryCommands()); }

void TForm1::btVerQueryClick() { SendCommands(VersionQueryCommands()); }

void TForm1::Button2Click() { SendCommands(EpoStateQueryCommands()); }

void TForm1::Button4Click() {
  const int answer = ShowMessageBox(Latin1(kEpoClearQuestion), Latin1(kEpoClearTitle), BoxButtons::YesNo, BoxIcon::Question);
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

void TForm1::HandlePmtkReply() {
  const std::optional<long> number = PmtkReplyNumber(session.fields[0]);
  if (!number) return;
  switch (*number) {
    case 1: HandlePmtkAck(); break;
    case 500: HandleFixRateReply(); break;
    case 501: HandleDgpsModeReply(); break;
    case 514: HandleNmeaRatesReply(); break;
    case 705: HandleVersionReply(); break;
    case 707: HandleEpoInfoReply(); break;
    default: break;
  }
}

void TForm1::HandlePmtkAck() {
  const std::optional<PmtkAck> ack = DecodedAs<PmtkAck>(session.fields);
  if (!ack) return;
  const MessageBoxText box = AckMessage(*ack);
  // Modal: until it is closed no further sentence is handled.
  ShowMessageBox(Latin1(box.text), Latin1(box.title), BoxButtons::Ok, BoxIcon::None);
}

void TForm1::HandleNmeaRatesReply() {
  const std::optional<PmtkOutputRates> rates = DecodedAs<PmtkOutputRates>(session.fields);
  if (!rates) return;
  for (const RateControlUpdate& update : OutputRatesUpdate(*rates)) {
    if (auto* indicator = qobject_cast<QCheckBox*>(ControlNamed(*this, update.indicatorName)))
      indicator->setChecked(update.checked);
    // -1 (a rate outside the list) leaves the box without a selected item.
    if (auto* box = qobject_cast<QComboBox*>(ControlNamed(*this, update.rateBoxName)))
      box->setCurrentIndex(update.selectIndex);
  }
}

void TForm1::HandleFixRateReply() {
  const std::optional<PmtkFixPeriod> reply = DecodedAs<PmtkFixPeriod>(session.fields);
  if (!reply) return;
  const FixPeriodUpdate update = FixPeriodReplyUpdate(reply->fixPeriodMs, tenHzModel);
  // Index 5 while the "10" entry is absent is out of range: cbFix then shows no selection.
  if (update.cbFixIndex) cbFix->setCurrentIndex(*update.cbFixIndex);
  for (const ControlEnable& control : update.controls)
    if (QWidget* widget = ControlNamed(*this, control.name)) widget->setEnabled(control.enabled);
}

void TForm1::HandleDgpsModeReply() {
  const std::optional<PmtkDgpsMode> reply = DecodedAs<PmtkDgpsMode>(session.fields);
  if (!reply) return;
  const std::optional<std::string_view> radio = DgpsRadioToCheck(reply->mode);
  if (!radio) return;
  // The three share one group box, so checking one unchecks the others.
  if (auto* button = qobject_cast<QRadioButton*>(ControlNamed(*this, *radio))) button->setChecked(true);
}

void TForm1::HandleVersionReply() {
  const std::optional<PmtkVersion> reply = DecodedAs<PmtkVersion>(session.fields);
  if (!reply) return;
  const VersionUpdate update = VersionReplyUpdate(*reply, OwnEnabled(Button5));
  if (update.setTenHzModel) tenHzModel = true;
  switch (update.entryChange) {
    case TenFixesEntryChange::AddAndEnableButton5:
      // The entry exists at most once, even if Button5 was disabled behind its back.
      if (cbFix->count() <= kTenFixesIndex) cbFix->addItem(Latin1(kTenFixesEntry));
      Button5->setEnabled(true);
      break;
    case TenFixesEntryChange::RemoveAndDisableButton5:
      RemoveTenFixesEntry();
      break;
    case TenFixesEntryChange::None:
      break;
  }
  Label27->setText(Latin1(update.label27Text));
}

void TForm1::HandleEpoInfoReply() {
  const std::optional<PmtkEpoState> reply = DecodedAs<PmtkEpoState>(session.fields);
  if (!reply) return;
  const std::string text = EpoStateText(*reply, epoClock(), LocaleEpoTextFormat());
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
    ShowMessageBox(QStringLiteral("Open Error"), QStringLiteral("Open Error"), BoxButtons::Ok, BoxIcon::None);
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
    const std::size_t length = std::min(static_cast<std::size_t>(sentenceLength < 0 ? 0 : sentenceLength), sentenceBuffer.size());
    logHandle.write(sentenceBuffer.data(), length);
    StartLog->setEnabled(false);
    StopLog->setEnabled(true);
  } else {
    StartLog->setEnabled(true);
    StopLog->setEnabled(false);
  }
}
