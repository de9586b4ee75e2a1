// The steps of an assisted-GPS update, in their order, with the stop looked at between them,
// and the upload's port side as the loop sees it: the stop, the silence limit and the
// progress added to the front end's link.
//
// Thread rule: the caller's thread only; the settle given to switchToBinary runs on whichever
// thread the front end runs it.
#include "agps/epo_update.h"

#include <algorithm>
#include <cstdio>
#include <thread>
#include <utility>

#include "agps/epo_packets.h"

namespace {

// How often a pause looks at the stop.
constexpr std::chrono::milliseconds kStopLookEvery{10};

class SteadyClock : public EpoUpdateClock {
 public:
  TimePoint now() override { return std::chrono::steady_clock::now(); }
  void sleep(std::chrono::milliseconds duration) override { std::this_thread::sleep_for(duration); }
};

bool stopSet(const std::atomic<bool>* stop) { return stop != nullptr && stop->load(); }

void pauseUnlessStopped(EpoUpdateClock& clock, std::chrono::milliseconds wait, const std::atomic<bool>* stop) {
  const EpoUpdateClock::TimePoint until = clock.now() + wait;
  for (EpoUpdateClock::TimePoint now = clock.now(); now < until && !stopSet(stop); now = clock.now()) {
    clock.sleep(std::min(kStopLookEvery, std::chrono::ceil<std::chrono::milliseconds>(until - now)));
  }
}

void writeTurn(EpoLink& link, const EpoTurn& turn) {
  for (std::size_t i = 0; i < turn.writeCount; ++i) link.write(turn.writes[i]);
}

// The front end's port side with what the update adds: its stop and its silence limit, looked
// at once per turn, and each data packet's progress told to the front end.
class UploadLink : public EpoLink {
 public:
  UploadLink(EpoLink& port, EpoUpdateSide& side, const EpoUpdateOptions& options)
      : port_(port), side_(side), options_(options), quietSince_(options.clock->now()) {}

  void write(std::span<const std::uint8_t> bytes) override { port_.write(bytes); }
  long bytesWaiting() override { return port_.bytesWaiting(); }
  long read(std::span<std::uint8_t> buffer) override { return port_.read(buffer); }
  void idle() override { port_.idle(); }
  bool lost() const override { return port_.lost(); }
  int lossErrorNumber() const override { return port_.lossErrorNumber(); }
  bool stopRequested() override {
    if (port_.stopRequested() || stopSet(options_.stop)) return true;
    if (options_.silenceLimit && options_.clock->now() - quietSince_ > *options_.silenceLimit) silent_ = true;
    return silent_;
  }
  void progress(int percent, const std::string& text) override {
    quietSince_ = options_.clock->now();
    side_.progress(percent, text);
  }
  bool silent() const { return silent_; }

 private:
  EpoLink& port_;
  EpoUpdateSide& side_;
  const EpoUpdateOptions& options_;
  EpoUpdateClock::TimePoint quietSince_;
  bool silent_ = false;
};

}  // namespace

EpoUpdateClock& EpoSteadyUpdateClock() {
  static SteadyClock clock;
  return clock;
}

std::uint32_t EpoRateAfterModePacket(std::uint32_t requestedBaud) {
  EpoModePacket packet{};
  EpoBuildModePacket(requestedBaud, packet);
  const std::uint32_t carried = static_cast<std::uint32_t>(packet[7]) | (static_cast<std::uint32_t>(packet[8]) << 8) |
                                (static_cast<std::uint32_t>(packet[9]) << 16) |
                                (static_cast<std::uint32_t>(packet[10]) << 24);
  return carried != 0 ? carried : kEpoUploadBaudRate;
}

EpoUpdateResult RunEpoUpdateFlow(EpoUpdateSide& side, const EpoUpdateOptions& options) {
  EpoUpdateClock& clock = *options.clock;
  const auto stopRequested = [&options] { return stopSet(options.stop); };
  EpoUpdateResult result;
  std::string path = options.file;
  std::string detail;
  if (path.empty()) {
    side.downloading();
    EpoDownloadOptions download = options.download;
    download.cancel = options.stop;
    const EpoDownloadResult got = EpoDownload(download);
    if (!got.ok) {
      // The download leaves no file behind on any failure.
      result.stopped = stopRequested();
      if (result.stopped) {
        side.stopped(EpoUpdateStep::Download, EpoStopCause::Requested);
      } else {
        side.refused(EpoUpdateStep::Download, kEpoDownloadFailedMessage, got.detail);
      }
      return result;
    }
    path = got.localPath;
  }
  // From here the file exists; the caller's choice decides whether it goes once the update is
  // over, on every path except a refused check.
  const auto finish = [&](EpoUpdateStep step, bool stopped) {
    result.step = step;
    result.stopped = stopped;
    if (options.deleteFile) std::remove(path.c_str());
  };
  const auto stop = [&](EpoUpdateStep step, EpoStopCause cause) {
    finish(step, true);
    side.stopped(step, cause);
    return result;
  };

  result.step = EpoUpdateStep::Check;
  if (stopRequested()) return stop(EpoUpdateStep::Check, EpoStopCause::Requested);
  EpoFilePtr file = EpoOpenFile(path, &detail);
  if (!file) {
    side.refused(EpoUpdateStep::Check, kEpoCannotOpenFileMessage, detail);
    return result;
  }
  side.fileAccepted(path, EpoPacketCount(file.get()));

  if (stopRequested()) {
    file.reset();
    return stop(EpoUpdateStep::Switch, EpoStopCause::Requested);
  }
  EpoLink* port = side.switchToBinary([clockPointer = options.clock, stopFlag = options.stop] {
    pauseUnlessStopped(*clockPointer, kEpoBinarySwitchSettle, stopFlag);
  });
  if (port == nullptr) {
    file.reset();
    // The front end has said why, unless a stop came meanwhile.
    if (stopRequested()) return stop(EpoUpdateStep::Switch, EpoStopCause::Requested);
    finish(EpoUpdateStep::Switch, false);
    return result;
  }

  // The rate the output-mode packet was built for: the hand-back follows the receiver there.
  std::uint32_t askedBaud = kEpoUploadBaudRate;
  EpoUploadOptions uploadOptions;
  uploadOptions.endingBaudRate = [&side, &askedBaud] {
    askedBaud = side.nmeaBaudRate();
    return askedBaud;
  };
  EpoUpload upload(std::move(file), std::move(uploadOptions));
  UploadLink link(*port, side, options);
  // A stop during the switch still finds the receiver switched: it is handed back below.
  const EpoEnding ending = stopRequested() ? EpoEnding::None : RunEpoUpload(upload, link);
  if (ending == EpoEnding::None) {
    result.ending = EpoEnding::Abandoned;
    if (port->lost()) {
      finish(EpoUpdateStep::Upload, true);
      side.lost(port->lossErrorNumber());
      return result;
    }
    writeTurn(*port, upload.abandon());
    clock.sleep(kEpoModePacketSettle);
    return stop(EpoUpdateStep::Upload, link.silent() ? EpoStopCause::Silence : EpoStopCause::Requested);
  }
  result.ending = ending;
  clock.sleep(kEpoModePacketSettle);  // the ending wrote the output-mode packet
  finish(EpoUpdateStep::Upload, false);
  const EpoEndingTexts texts = EpoEndingTextsFor(ending);
  side.ended(ending, texts);
  // Nothing follows a stop that came while the ending was shown.
  if (stopRequested()) return result;
  side.handBack(texts, EpoRateAfterModePacket(askedBaud));
  return result;
}
