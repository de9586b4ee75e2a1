// The main window TForm1: two tabs ("Status" and "Setup") holding every control of the
// program under its fixed name, the two timers and the save dialog. The controls are public
// members because the link, the command replies and the assisted-GPS update all write to
// them by name.
//
// Thread rule: window thread only. Worker threads reach the window solely through a blocking
// or queued hand-off onto this thread; none of them touches a control directly.
#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QString>
#include <QTabWidget>
#include <QTimer>
#include <QWidget>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/chart_widgets.h"
#include "app/epo_parse.h"
#include "app/tcolor.h"
#include "app/thread1.h"
#include "commands/epo_state_text.h"
#include "commands/link_session.h"
#include "commands/nmea_session.h"
#include "commands/receiver_commands.h"
#include "link/byte_stream.h"
#include "link/link_error.h"
#include "link/sentence_log.h"
#include "link/status_rules.h"

// A save-file dialog with a filter in the classic "name|pattern|name|pattern" form.
class SaveDialog {
 public:
  QString Filter;    // "*.txt|*.txt"
  QString FileName;  // the path last chosen
  // Replaces the dialog when set (tests): returns the chosen path, or empty for Cancel.
  std::function<QString()> hook;

  // Qt's form of Filter: one "name (pattern)" entry per pair, joined by ";;".
  QString qtFilter() const;
  // Shows the modal dialog; returns true and sets FileName when a path was chosen.
  bool Execute(QWidget* parent);
};

// A combo box that reports the list item shown or -1 once the text has been typed over, as the
// estimate and the command handlers expect of a box whose text can be edited.
void MakeTypedTextDeselect(QComboBox* box);

class TForm1 : public QWidget {
  Q_OBJECT
 public:
  explicit TForm1(QWidget* parent = nullptr);
  ~TForm1() override;

  // ---- Handlers (run on the window thread)
  void FormCreate();
  void Button1Click();
  void hotClick();
  void warmClick();
  void coldClick();
  void StartLogClick();
  void StopLogClick();
  void btDefaultClick();
  void btConfirmClick();
  void btNAQueryClick();
  void btFixQueryClick();
  void btFixSetClick();
  void Button5Click();
  void btDGQueryClick();
  void btDGPSSetClick();
  void btVerQueryClick();
  void Button2Click();
  void Button3Click();
  void Button4Click();
  void Timer1Timer();
  void Timer2Timer();

  // Opens the port (raising a ConnectError with the failed step's cause), starts the reader
  // and sends the first queries.
  void OpenComPort();
  // A connect step failed: the standard error box with the step's text; the cause (device,
  // errno) is kept in lastLinkError.
  void ShowConnectError(const LinkError& error);
  LinkError lastLinkError;
  // The device of the open port, for the texts that name it.
  std::string comDevicePath;
  // The reader found the device gone: the link goes off as after "Off", then one box says
  // which device and why.
  void ReceiverLost(int errorNumber);
  void HandleSentence();
  void UpdateSentenceDisplay();
  // Set when a sentence has gone into Memo1: the console is scrolled to its end at the end of
  // the reader's read, or just before the next repaint for a line that came in on its own
  // (once a read or a frame rather than once per sentence).
  bool memoScrollPending = false;
  void ScrollConsoleToEnd();
  // The sentences of one read from the reader are handled in one go; their console lines
  // are kept here meanwhile and go into Memo1 together when the read is done (one insertion
  // instead of one per line, which costs the memo a relayout and a scroll-bar update each).
  // Outside a read a line goes in at once.
  void ConsoleReadStarts();
  void ConsoleReadDone();
  void InsertHeldConsoleLines();
  void ClearConsole();  // Memo1 and its held lines
  // Redraws the sky plot and the signal chart when a GSV group has just completed.
  void RebuildCharts();
  // Fills the tooltips of ComboBox1's items with the device each ComN resolves to.
  void RefreshPortTooltips();

  // ---- Page control
  QTabWidget* PageControl1 = nullptr;
  QWidget* TabSheet1 = nullptr;
  QWidget* TabSheet2 = nullptr;

  // ---- Status tab
  QGroupBox* GroupBox1 = nullptr;
  QGroupBox* GroupBox2 = nullptr;
  QGroupBox* GroupBox3 = nullptr;
  QGroupBox* GroupBox4 = nullptr;
  QGroupBox* GroupBox5 = nullptr;
  QGroupBox* GroupBox6 = nullptr;
  QLabel* Label2 = nullptr;
  QComboBox* ComboBox1 = nullptr;
  QComboBox* ComboBox2 = nullptr;
  QPushButton* Button1 = nullptr;
  QPlainTextEdit* Memo1 = nullptr;
  QString consoleHeld_;  // lines of the read being handled, not yet in Memo1
  bool consoleHolding_ = false;
  BubbleChart* Chart1 = nullptr;
  BubbleSeries* Series1 = nullptr;
  QLabel* N = nullptr;
  QLabel* S = nullptr;
  QLabel* E = nullptr;
  QLabel* W = nullptr;
  QFrame* Shape1 = nullptr;
  QFrame* Shape2 = nullptr;
  QLabel* TntLabel1 = nullptr;
  QPushButton* hot = nullptr;
  QPushButton* warm = nullptr;
  QPushButton* cold = nullptr;
  QPushButton* StartLog = nullptr;
  QPushButton* StopLog = nullptr;
  BarChart* Chart2 = nullptr;
  BarSeries* Series2 = nullptr;
  QLabel* Label9 = nullptr;
  QLineEdit* EdDate = nullptr;
  QLabel* Label8 = nullptr;
  QLineEdit* EdTime = nullptr;
  QLabel* Label6 = nullptr;
  QLineEdit* EdLat = nullptr;
  QLabel* Label7 = nullptr;
  QLineEdit* EdLon = nullptr;
  QLabel* Label3 = nullptr;
  QLineEdit* EdMode = nullptr;
  QLabel* Label4 = nullptr;
  QLineEdit* EdSpeed = nullptr;
  QLabel* Label10 = nullptr;
  QLineEdit* EdPDOP = nullptr;
  QLabel* Label5 = nullptr;
  QLineEdit* EdHeight = nullptr;
  QLabel* TheTime = nullptr;
  QLineEdit* Edit1 = nullptr;
  QCheckBox* CheckBox1 = nullptr;  // GGA
  QCheckBox* CheckBox2 = nullptr;  // GSA
  QCheckBox* CheckBox3 = nullptr;  // GSV
  QCheckBox* CheckBox4 = nullptr;  // RMC
  QCheckBox* CheckBox5 = nullptr;  // GLL
  QCheckBox* CheckBox6 = nullptr;  // VTG
  QCheckBox* CheckBox7 = nullptr;  // ZDA
  QCheckBox* CheckBox9 = nullptr;  // MCHN
  QLabel* Label1 = nullptr;        // "GGA"
  QLabel* Label11 = nullptr;       // "GSA"
  QLabel* Label12 = nullptr;       // "GSV"
  QLabel* Label13 = nullptr;       // "RMC"
  QLabel* Label15 = nullptr;       // "GLL"
  QLabel* Label16 = nullptr;       // "VTG"
  QLabel* Label14 = nullptr;       // "ZDA"
  QLabel* Label28 = nullptr;       // "MCHN"

  // ---- Setup tab
  QGroupBox* GroupBox7 = nullptr;   // "NMEA Output Settings"
  QGroupBox* GroupBox8 = nullptr;   // "DGPS"
  QGroupBox* GroupBox9 = nullptr;   // "Datum" (covered)
  QGroupBox* GroupBox10 = nullptr;  // "SBAS" (covered)
  QGroupBox* GroupBox11 = nullptr;  // flash write (covered)
  QGroupBox* GroupBox12 = nullptr;  // "About"
  QGroupBox* GroupBox13 = nullptr;  // "AGPS"
  QGroupBox* GroupBox14 = nullptr;  // "Fix Update Rate"
  QGroupBox* GroupBox15 = nullptr;  // "Baudrate" (hidden)
  QGroupBox* GroupBox16 = nullptr;  // "Current" (covered)
  QGroupBox* GroupBox17 = nullptr;  // "NMEA  Output" (covered)
  QGroupBox* GroupBox18 = nullptr;  // "Data Bandwidth"
  QGroupBox* GroupBox19 = nullptr;  // "Firmware Version"
  QLabel* GLL = nullptr;
  QLabel* RMC = nullptr;
  QLabel* VTG = nullptr;
  QLabel* GSA = nullptr;
  QLabel* GSV = nullptr;
  QLabel* GGA = nullptr;
  QLabel* ZDA = nullptr;
  QLabel* MCHN = nullptr;
  QComboBox* cbGLL = nullptr;
  QComboBox* cbRMC = nullptr;
  QComboBox* cbVTG = nullptr;
  QComboBox* cbGSA = nullptr;
  QComboBox* cbGSV = nullptr;
  QComboBox* cbGGA = nullptr;
  QComboBox* cbZDA = nullptr;
  QComboBox* cbMCHN = nullptr;
  QPushButton* btDefault = nullptr;
  QPushButton* btConfirm = nullptr;
  QPushButton* btNAQuery = nullptr;
  QComboBox* cbBA = nullptr;
  QPushButton* btBAUSet = nullptr;
  QComboBox* cbFix = nullptr;
  QPushButton* btFixQuery = nullptr;
  QPushButton* btFixSet = nullptr;
  QPushButton* Button5 = nullptr;
  QLabel* lbFix = nullptr;
  QLabel* Label38 = nullptr;  // "Hz"
  QLabel* lbRS = nullptr;
  QLabel* Label40 = nullptr;  // "%"
  QRadioButton* rbWAAS = nullptr;
  QRadioButton* rbDisable = nullptr;
  QRadioButton* rbRTCM = nullptr;
  QLabel* Label17 = nullptr;
  QLabel* Label29 = nullptr;
  QComboBox* cbRTCMBD = nullptr;
  QPushButton* btDGQuery = nullptr;
  QPushButton* btDGPSSet = nullptr;
  QLabel* Label39 = nullptr;
  QPushButton* Button2 = nullptr;
  QPushButton* Button3 = nullptr;
  QPushButton* Button4 = nullptr;
  QLabel* Label26 = nullptr;
  QLabel* Label27 = nullptr;
  QLabel* Label37 = nullptr;
  QPushButton* btVerQuery = nullptr;
  QLabel* Label23 = nullptr;
  QLabel* Label24 = nullptr;
  QLabel* Label25 = nullptr;
  // covered groups
  QComboBox* cbDatum = nullptr;
  QPushButton* btDatumSet = nullptr;
  QPushButton* btDaQuery = nullptr;
  QLabel* Label18 = nullptr;
  QLabel* Label19 = nullptr;
  QLabel* Label20 = nullptr;
  QLabel* Label21 = nullptr;
  QRadioButton* rbIntegrity = nullptr;
  QRadioButton* rbTest = nullptr;
  QPushButton* btSBASSet = nullptr;
  QPushButton* btSBASQuery = nullptr;
  QLabel* lbTimes = nullptr;
  QLabel* Label22 = nullptr;
  QLabel* Label36 = nullptr;
  QCheckBox* CheckBox8 = nullptr;
  QPushButton* btAllSet = nullptr;
  QPushButton* btAllQuery = nullptr;
  QLabel* Label30 = nullptr;
  QLabel* lbTest = nullptr;
  QLabel* Label35 = nullptr;
  QCheckBox* cbTest = nullptr;
  QLabel* Label31 = nullptr;
  QLabel* Label32 = nullptr;
  QLabel* Label33 = nullptr;
  QLabel* Label34 = nullptr;
  QPushButton* btWakeup = nullptr;

  // ---- Non-visual members
  QTimer* Timer1 = nullptr;  // 200 ms, bandwidth estimate, runs from the start
  // What the last estimate was made from: a tick whose inputs are the same shows the same
  // figures, so it does no more than compare (it runs five times a second, idle or not).
  struct BandwidthInputs {
    QString baudText;
    std::array<int, kNmeaKindCount> rateIndex{};  // indexed by NmeaKind
    int fixIndex = -1;
    bool operator==(const BandwidthInputs&) const = default;
  };
  std::optional<BandwidthInputs> lastBandwidthInputs;
  QTimer* Timer2 = nullptr;  // 1000 ms, fix timer, runs while the link is on
  SaveDialog SaveDialog1;

  // --- link: port, reader thread, sentence hand-off
  NmeaSession session;  // satInfo is session.state.satInfo
  // The current reader's hand-over to this thread, while a reader runs.
  std::unique_ptr<Thread1> readerThread;
  // The open port and its reader (the link session). Its stream is shared with the upload
  // thread and closed only after every thread that uses it has been joined (a closed
  // descriptor number is reused at once). Declared after readerThread, so that the window's
  // destruction joins the reader while its hand-over is still there.
  std::unique_ptr<LinkSession> comHandle;
  // The sentence being handled, as the reader cut it: "$" up to the next "$".
  std::string sentenceBuffer;
  int sentenceLength = 0;
  // A connect that may take long, running off the window thread: to a network receiver,
  // whose host may take seconds to answer or never answer, or with the rate to be found. The
  // window stays usable, and "Off" cancels it.
  struct PendingConnect {
    ~PendingConnect();  // cancels the attempt and waits for it, which ends within 100 ms once
                        // a host name has been looked up
    std::atomic<bool> cancel{false};
    std::thread worker;
    std::unique_ptr<LinkSession> link;  // the result, set by the worker before it posts
    LinkError error;
    unsigned number = 0;  // which attempt: the answer of an earlier one is dropped
  };
  std::unique_ptr<PendingConnect> pendingConnect;
  unsigned connectAttempts = 0;
  void StartBackgroundConnect(LinkOpenRequest request);
  void FinishBackgroundConnect(unsigned attemptNumber);
  // The request of the port and speed boxes.
  LinkOpenRequest ConnectRequest() const;
  // An opened link becomes the window's: the reader, then the first queries.
  void TakeLink(std::unique_ptr<LinkSession> opened);
  // The timers, button text and controls of a link that is up.
  void LinkIsUp();
  // Starts a new reader on comHandle.
  void StartReader();
  std::unique_ptr<Thread1> NewReaderHandOver();
  // The controls usable only while the link is on; every one of them goes off with the
  // link, but StopLog, which only a started log turns on.
  std::vector<QWidget*> LinkControls();
  // A sentence whose handling failed: the first failure of a connection is reported on
  // standard error with its cause, every one is counted in session.failures, none stops
  // reception.
  void HandlerFailed(std::string_view cause);
  // Requests the reader's termination, releases a hand-off it waits in, and joins it; then
  // handles the sentences the reader had received but not handed over.
  void StopReader();
  // One sentence as cut from the stream, through HandleSentence (reader hand-off and stop).
  void HandleSentenceText(const std::string& sentence);
  // Writes a command sequence to the open port with its pauses (on this thread).
  void SendCommands(const CommandSequence& sequence);
  // Observer called at the end of every per-sentence update (tests, screenshots).
  std::function<void()> sentenceDisplayed;
  // Switches the link off: the disconnect half of Button1Click.
  void Disconnect();
  // What closing the program must do before it ends (also on SIGTERM, SIGINT, SIGHUP): an
  // upload in progress hands the receiver back, the link goes off, the log is closed.
  void Shutdown();

  // --- commands and replies
  // What a sentence's decoded reply means, applied to the controls with one visit: the PMTK
  // replies by their handlers below, the MCHN indicator for channel status, the "Fix Update
  // Rate" group for the maker's mode reply, the success box for its fix-rate reset. The
  // start-up notice and reply numbers without a handler change nothing.
  void HandlePmtkReply(const ReceiverReply& reply);
  // Deletes the "10" entry of cbFix (leaving no selection if it was selected) and disables
  // Button5: an unlisted model's version reply, and disconnect.
  void RemoveTenFixesEntry();
  // One per reply number (001, 500, 501, 514, 705, 707): each applies the core's meaning of
  // that reply to the controls.
  void HandlePmtkAck(const PmtkAck& ack);
  void HandleFixRateReply(const PmtkFixPeriod& reply);
  void HandleDgpsModeReply(const PmtkDgpsMode& reply);
  void HandleNmeaRatesReply(const PmtkOutputRates& rates);
  void HandleVersionReply(const PmtkVersion& reply);
  void HandleEpoInfoReply(const PmtkEpoState& reply);
  // The display reset of the three restart buttons: console, mode and PDOP emptied, the
  // other fields "0", the fix timer count 0, indicators 1-7 unchecked (MCHN and the
  // coordinates kept).
  void ResetAfterRestart();
  // The log step of the per-sentence update: appends the sentence when logging is on and
  // sets StartLog/StopLog from the logging state.
  void WriteSentenceToLog();
  // Set by the version reply of a receiver that cannot run DGPS or take an EPO update at
  // exactly ten fixes a second; nothing clears it while the program runs.
  bool tenHzModel = false;
  // Sentence log: 1 while on. The file stays open across a disconnect.
  int logEnabled = 0;
  SentenceLog logHandle;
  // "Now" and the time zone for the EPO validity text; tests fix them.
  std::function<EpoClock()> epoClock = SystemEpoClock;

  // --- assisted-GPS update
  // Stops what an update still runs (disconnect, window close): ends a download in progress
  // (its thread then ends on its own, holding no port); stops and joins an update thread that
  // holds the port, which hands the receiver back to NMEA output. Nothing when neither runs.
  // The caller closes the port afterwards.
  void StopEpoUpload();
  // True from the switch of the port to the upload until the upload's ending or a stop.
  bool epoUploadRunning = false;
  // The update thread of the last click, kept until it ends without holding the port, the
  // next click or a stop. Declared after readerThread, so the window's destruction stops and
  // joins it first, while the port it writes to is still open.
  std::unique_ptr<EPO_PARSE> epoThread;
  // Clicks that started an update thread; tells a thread's end from a later one's.
  std::uint64_t epoUpdateCount = 0;
  // Data packets of the update of the last click (the file's packet count); 0 until the file
  // passed its check.
  int epoTotalPackets = 0;
  // Progress of a running upload in the "AGPS" group, under Label39; created with the first
  // update, shown only while an upload runs.
  QProgressBar* ProgressBar1 = nullptr;
  // Observer of every text the update puts into Label39, in order (tests).
  std::function<void(const QString& text)> label39Shown;
  // The pieces of an update, on the window thread.
  void setEpoLabel(const QString& text);
  QProgressBar* epoProgressBar();
  std::shared_ptr<ByteStream> takePortForEpoUpload(const std::function<void()>& settle);
  void finishEpoUpload(const EpoEndingTexts& texts, std::uint32_t reopenBaud);

 private:
  void buildStatusTab();
  void buildSetupTab();
  void connectHandlers();
};

// Each sentence type's controls: the one place where the core's sentence types
// (link/sentence_kinds.h) and the window's controls meet. Building the two tabs, applying a
// rate reply, reading the rate boxes for "Confirm" and for the bandwidth estimate all go
// through it. Rows in NmeaKind order.
struct SentenceControlsRow {
  NmeaKind kind;
  QCheckBox* TForm1::*indicator;  // "Status" tab: the sentence type is being sent
  const char* indicatorName;
  QLabel* TForm1::*indicatorLabel;  // beside it, the type's name
  const char* indicatorLabelName;
  QLabel* TForm1::*rateLabel;   // "Setup" tab: the type's name, also its object name
  QComboBox* TForm1::*rateBox;  // its output rate; object name "cb" and the type's name
};
inline constexpr std::array<SentenceControlsRow, kNmeaKindCount> kSentenceControls = {{
    {NmeaKind::GLL, &TForm1::CheckBox5, "CheckBox5", &TForm1::Label15, "Label15", &TForm1::GLL, &TForm1::cbGLL},
    {NmeaKind::RMC, &TForm1::CheckBox4, "CheckBox4", &TForm1::Label13, "Label13", &TForm1::RMC, &TForm1::cbRMC},
    {NmeaKind::VTG, &TForm1::CheckBox6, "CheckBox6", &TForm1::Label16, "Label16", &TForm1::VTG, &TForm1::cbVTG},
    {NmeaKind::GSA, &TForm1::CheckBox2, "CheckBox2", &TForm1::Label11, "Label11", &TForm1::GSA, &TForm1::cbGSA},
    {NmeaKind::GSV, &TForm1::CheckBox3, "CheckBox3", &TForm1::Label12, "Label12", &TForm1::GSV, &TForm1::cbGSV},
    {NmeaKind::GGA, &TForm1::CheckBox1, "CheckBox1", &TForm1::Label1, "Label1", &TForm1::GGA, &TForm1::cbGGA},
    {NmeaKind::ZDA, &TForm1::CheckBox7, "CheckBox7", &TForm1::Label14, "Label14", &TForm1::ZDA, &TForm1::cbZDA},
    {NmeaKind::MCHN, &TForm1::CheckBox9, "CheckBox9", &TForm1::Label28, "Label28", &TForm1::MCHN, &TForm1::cbMCHN},
}};
inline constexpr const SentenceControlsRow& ControlsRowOf(NmeaKind kind) { return kSentenceControls[IndexOf(kind)]; }
static_assert(
    [] {
      for (std::size_t i = 0; i < kSentenceControls.size(); ++i)
        if (IndexOf(kSentenceControls[i].kind) != i) return false;
      return true;
    }(),
    "kSentenceControls: rows in NmeaKind order");

// The one window of the program; set by TForm1's constructor, cleared by its destructor.
extern TForm1* Form1;

// Datum list of the covered "Datum" group: "(n)Name\"Region\"" for n = 0..222.
const QStringList& DatumList();
