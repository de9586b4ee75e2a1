// The window's upload thread: the core's upload loop on the reopened port, with the window's
// texts, boxes and port hand-back reached through the blocking hand-off.
//
// Thread rule: run() on the upload thread; constructor, stopAndWait() and the destructor on
// the window thread. The upload machine is used by run() only.
#include "app/epo_parse.h"

#include "agps/epo_serial_link.h"
#include "link/serial_port.h"

std::uint32_t EpoRateAfterModePacket(std::uint32_t requestedBaud) {
  EpoModePacket packet{};
  EpoBuildModePacket(requestedBaud, packet);
  const std::uint32_t carried = static_cast<std::uint32_t>(packet[7]) | (static_cast<std::uint32_t>(packet[8]) << 8) |
                                (static_cast<std::uint32_t>(packet[9]) << 16) |
                                (static_cast<std::uint32_t>(packet[10]) << 24);
  return carried != 0 ? carried : kEpoUploadBaudRate;
}

EPO_PARSE::EPO_PARSE(std::shared_ptr<SerialPort> port, EpoFilePtr file, const std::string& fileName,
                     std::uint32_t stoppedBaud, WindowSide window, QObject* windowContext)
    : port_(std::move(port)), stoppedBaud_(stoppedBaud), window_(std::move(window)), handOff_(windowContext) {
  setObjectName(QStringLiteral("EPOThread"));  // the thread's name for debuggers
  EpoUploadOptions options;
  options.fileName = fileName;
  options.deleteFileAtEnd = true;  // a downloaded file goes once it has been used
  options.endingBaudRate = [this] { return endingBaudRate(); };
  upload_ = std::make_unique<EpoUpload>(std::move(file), std::move(options));
  totalPackets_ = upload_->state().epoTotalPackets;
}

EPO_PARSE::~EPO_PARSE() { stopAndWait(); }

void EPO_PARSE::stopAndWait() {
  stop_ = true;
  requestInterruption();
  handOff_.cancel();
  if (port_ && !isFinished()) port_->interrupt();
  wait();
}

std::uint32_t EPO_PARSE::endingBaudRate() {
  std::uint32_t baud = stoppedBaud_;
  if (!stop_.load()) {
    // The call owns its result slot: after a cancel the window thread may still finish it.
    auto read = std::make_shared<std::atomic<std::uint32_t>>(0);
    const bool ran = handOff_.run([fn = window_.nmeaBaudRate, read] { read->store(fn()); });
    if (ran && !handOff_.cancelled()) baud = read->load();
  }
  askedBaud_ = baud;
  return baud;
}

void EPO_PARSE::run() {
  if (!port_ || !upload_) return;
  SerialEpoLink link(*port_, stop_, [this](int percent, const std::string& text) {
    const QString shown = QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
    handOff_.run([fn = window_.showProgress, percent, shown] { fn(percent, shown); });
  });
  const EpoEnding ending = RunEpoUpload(*upload_, link);
  if (ending == EpoEnding::None) {
    // Stopped from outside. One output-mode packet returns the receiver to NMEA output, so it
    // is not left talking binary at 115200 baud until it is powered off; the file goes.
    const EpoTurn turn = upload_->abandon();
    for (std::size_t i = 0; i < turn.writeCount; ++i) link.write(turn.writes[i]);
    return;
  }
  ending_ = ending;
  const EpoEndingTexts texts = EpoEndingTextsFor(ending);
  // The box is closed before the port is handed back, and nothing follows a stop.
  if (!handOff_.run([fn = window_.showEndingBox, texts] { fn(texts); }) || stop_.load()) return;
  const std::uint32_t reopenBaud = EpoRateAfterModePacket(askedBaud_);
  handOff_.run([fn = window_.finishEnding, texts, reopenBaud] { fn(texts, reopenBaud); });
}
