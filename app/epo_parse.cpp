// The window's update thread: the core's update flow, with the window's texts, boxes and port
// changes reached through the blocking hand-off.
//
// Thread rule: run() and the flow's side functions on the update thread; constructor,
// requestStop(), stopAndWait() and the destructor on the window thread.
#include "app/epo_parse.h"

#include <optional>

#include "agps/epo_serial_link.h"
#include "agps/epo_update.h"
#include "link/byte_stream.h"

namespace {

constexpr const char* kCannotOpenFileMessage = "Cannot open EPO file.";

}  // namespace

EPO_PARSE::EPO_PARSE(std::string downloadDirectory, std::uint32_t stoppedBaud, WindowSide window,
                     QObject* windowContext)
    : directory_(std::move(downloadDirectory)),
      stoppedBaud_(stoppedBaud),
      window_(std::move(window)),
      handOff_(windowContext) {
  setObjectName(QStringLiteral("EPOThread"));  // the thread's name for debuggers
}

EPO_PARSE::~EPO_PARSE() { stopAndWait(); }

void EPO_PARSE::requestStop() {
  stop_ = true;
  requestInterruption();
  handOff_.cancel();
}

void EPO_PARSE::stopAndWait() {
  requestStop();
  if (!isFinished()) {
    std::lock_guard<std::mutex> lock(portMutex_);
    if (port_) port_->interrupt();
  }
  wait();
}

class EPO_PARSE::UpdateSide : public EpoUpdateSide {
 public:
  explicit UpdateSide(EPO_PARSE& thread) : t_(thread) {}

  bool stopRequested() override { return t_.stop_.load(); }

  void downloading() override {
    t_.handOff_.run([fn = t_.window_.showDownloading] { fn(); });
  }

  void fileAccepted(const std::string&, int totalPackets) override {
    t_.totalPackets_ = totalPackets;
    t_.inDownload_ = false;
  }

  void refused(EpoUpdateStep step, const std::string&) override {
    t_.inDownload_ = false;
    const QString message =
        QString::fromLatin1(step == EpoUpdateStep::Download ? kEpoDownloadFailedMessage : kCannotOpenFileMessage);
    t_.handOff_.run([fn = t_.window_.showRefused, message] { fn(message); });
  }

  EpoLink* switchToBinary(std::chrono::milliseconds settle) override {
    t_.inDownload_ = false;
    // The call owns its result slot, filled once the window has taken its steps. A stop that
    // comes after that still finds the receiver switched and the port here, so the flow hands
    // the receiver back; only the window's own failure path (the link switched off, which
    // cancels this call while it runs) leaves the slot empty.
    struct Taken {
      std::mutex mutex;
      std::shared_ptr<ByteStream> port;
    };
    auto taken = std::make_shared<Taken>();
    t_.handOff_.run([fn = t_.window_.takePortForUpload, taken, settle] {
      std::shared_ptr<ByteStream> port = fn(settle);
      std::lock_guard<std::mutex> lock(taken->mutex);
      taken->port = std::move(port);
    });
    std::shared_ptr<ByteStream> port;
    {
      std::lock_guard<std::mutex> lock(taken->mutex);
      port = taken->port;
    }
    if (!port) return nullptr;
    {
      std::lock_guard<std::mutex> lock(t_.portMutex_);
      t_.port_ = port;
    }
    link_.emplace(*port, t_.stop_, [this](int percent, const std::string& text) {
      const QString shown = QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
      t_.handOff_.run([fn = t_.window_.showProgress, percent, shown] { fn(percent, shown); });
    });
    return &*link_;
  }

  std::uint32_t nmeaBaudRate() override {
    if (t_.stop_.load()) return t_.stoppedBaud_;
    // The call owns its result slot: after a cancel the window thread may still finish it.
    auto read = std::make_shared<std::atomic<std::uint32_t>>(0);
    const bool ran = t_.handOff_.run([fn = t_.window_.nmeaBaudRate, read] { read->store(fn()); });
    return ran && !t_.handOff_.cancelled() ? read->load() : t_.stoppedBaud_;
  }

  void ended(EpoEnding, const EpoEndingTexts& texts) override {
    t_.handOff_.run([fn = t_.window_.showEndingBox, texts] { fn(texts); });
  }

  void handBack(const EpoEndingTexts& texts, std::uint32_t baud) override {
    t_.handOff_.run([fn = t_.window_.finishEnding, texts, baud] { fn(texts, baud); });
  }

 private:
  EPO_PARSE& t_;
  std::optional<SerialEpoLink> link_;
};

void EPO_PARSE::run() {
  EpoUpdateOptions options;
  options.download.directory = directory_;  // the server from the environment
  options.download.cancel = &stop_;
  options.deleteFile = true;  // a downloaded file goes once it has been used
  UpdateSide side(*this);
  const EpoUpdateResult result = RunEpoUpdateFlow(side, options);
  lossErrorNumber_ = result.lossErrorNumber;
  lost_ = result.lost;
}
