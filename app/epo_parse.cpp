// The window's update thread: the core's update flow, with each call of the window's side
// made on the window thread through the blocking hand-off.
//
// Thread rule: run() and the handed-over side on the update thread; constructor,
// requestStop(), stopAndWait() and the destructor on the window thread.
#include "app/epo_parse.h"

#include <optional>

#include "agps/epo_update.h"

EPO_PARSE::EPO_PARSE(std::string downloadDirectory, std::uint32_t stoppedBaud, std::shared_ptr<EpoUpdateSide> window,
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
    // The window's side owns the line and outlives this thread.
    std::lock_guard<std::mutex> lock(linkMutex_);
    if (link_ != nullptr) link_->interrupt();
  }
  wait();
}

// Every call goes to the window's side on the window thread through the hand-off; what this
// thread itself must know is noted on the way.
class EPO_PARSE::HandedOver : public EpoUpdateSide {
  template <typename Fn, typename... Args>
  auto onWindow(Fn fn, const Args&... args) {
    return t_.handOff_.callOn(t_.window_, fn, args...);
  }

 public:
  explicit HandedOver(EPO_PARSE& thread) : t_(thread) {}

  void downloading() override { onWindow(&EpoUpdateSide::downloading); }
  void fileAccepted(const std::string& path, int totalPackets) override {
    t_.inDownload_ = false;
    onWindow(&EpoUpdateSide::fileAccepted, path, totalPackets);
  }
  void refused(EpoUpdateStep step, const char* message, const std::string& detail) override {
    t_.inDownload_ = false;
    onWindow(&EpoUpdateSide::refused, step, message, detail);
  }
  EpoLink* switchToBinary(const std::function<void()>& settle) override {
    t_.inDownload_ = false;
    // A stop that comes after the window has taken its steps still finds the receiver switched
    // and the line here, so the flow hands the receiver back; only the window's own failure
    // path (the link switched off, which cancels this call while it runs) leaves none.
    EpoLink* link = onWindow(&EpoUpdateSide::switchToBinary, settle).value_or(nullptr);
    std::lock_guard<std::mutex> lock(t_.linkMutex_);
    t_.link_ = link;
    return link;
  }
  void progress(int percent, const std::string& text) override { onWindow(&EpoUpdateSide::progress, percent, text); }
  std::uint32_t nmeaBaudRate() override {
    // After a stop the window is not asked, and an answer that a stop overtook is not taken.
    const std::optional<std::uint32_t> baud = t_.stop_.load() ? std::nullopt : onWindow(&EpoUpdateSide::nmeaBaudRate);
    return baud && !t_.handOff_.cancelled() ? *baud : t_.stoppedBaud_;
  }
  void ended(EpoEnding ending, const EpoEndingTexts& texts) override {
    lineDone();
    onWindow(&EpoUpdateSide::ended, ending, texts);
  }
  void handBack(const EpoEndingTexts& texts, std::uint32_t baud) override {
    onWindow(&EpoUpdateSide::handBack, texts, baud);
  }
  void stopped(EpoUpdateStep step, EpoStopCause cause) override { onWindow(&EpoUpdateSide::stopped, step, cause); }
  void lost(int lossErrorNumber) override {
    lineDone();
    onWindow(&EpoUpdateSide::lost, lossErrorNumber);
  }

 private:
  // From the ending's box or the loss on, the flow writes nothing more, and the window lets go
  // of the line: a stop no longer wakes it.
  void lineDone() {
    std::lock_guard<std::mutex> lock(t_.linkMutex_);
    t_.link_ = nullptr;
  }

  EPO_PARSE& t_;
};

void EPO_PARSE::run() {
  EpoUpdateOptions options;
  options.download.directory = directory_;  // the server from the environment
  options.stop = &stop_;
  options.deleteFile = true;  // a downloaded file goes once it has been used
  HandedOver side(*this);
  RunEpoUpdateFlow(side, options);
}
