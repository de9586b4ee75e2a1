// The assisted-GPS update thread of the window: runs the core's update flow (download, check,
// switch to binary output, upload, ending) for one "Update" click, so the window thread never
// waits for the EPO server or the receiver. The flow's window side (texts, boxes, the port
// taken for the upload at 115200 baud, the progress, the hand-back of the port at the
// ending) arrives on the window thread through the blocking hand-off. Stopped from outside
// (disconnect, window close) during the upload, it hands the receiver back to NMEA output with
// one output-mode packet and ends without a box, so the next connect and the next "Update"
// find the receiver talking NMEA.
//
// Thread rule: created and stopped on the window thread. run() touches no control and no
// window member: every control change, box and port change is a call onto the window thread
// through the blocking hand-off, and the thread goes on only once it has taken effect (a box
// has been closed). Stopping is: set the stop flag (which also cancels the download), cancel
// the hand-off, wake the port, join. Until the window has given it the port, the thread
// touches none, so a stop during the download may leave it to end on its own (it ends within
// the download's poll interval); once it holds the port, the window joins it before the port
// is closed. The upload loop looks at the flag once per turn (turns are about 1 ms apart,
// plus at most one bounded write), so the join cannot deadlock against the window thread.
#pragma once

#include <QString>
#include <QThread>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "agps/epo_upload.h"
#include "app/handoff.h"

class ByteStream;

class EPO_PARSE : public QThread {
  Q_OBJECT
 public:
  // What the thread asks of the window; each function runs on the window thread.
  struct WindowSide {
    // Label39's download text.
    std::function<void()> showDownloading;
    // The update cannot start (download failed, file refused): label cleared, "Update"
    // usable again, the error box with message; returns once it has been closed.
    std::function<void(const QString& message)> showRefused;
    // The switch command on the NMEA line, the receiver's settle time, then the reader stopped
    // and the port reopened at 115200 baud for this thread, the progress bar shown. Null when
    // the port could not be reopened (the window has switched the link off and said why).
    std::function<std::shared_ptr<ByteStream>(std::chrono::milliseconds settle)> takePortForUpload;
    // Label39's progress text and the progress bar, after each data packet.
    std::function<void(int percent, const QString& text)> showProgress;
    // The rate the receiver returns to NMEA at, read from the speed box at the ending.
    std::function<std::uint32_t()> nmeaBaudRate;
    // The ending's box; returns once it has been closed.
    std::function<void(const EpoEndingTexts& texts)> showEndingBox;
    // Label39's ending text, "Update" enabled, the port reopened at reopenBaud and a new
    // reader started.
    std::function<void(const EpoEndingTexts& texts, std::uint32_t reopenBaud)> finishEnding;
  };

  // downloadDirectory: where "MTK7d.EPO" is downloaded to (and deleted from once used).
  // stoppedBaud: the NMEA rate to hand the receiver back at when stopped from outside (the
  // speed box is locked while the link is on, so its text at the click is its text at the
  // stop).
  EPO_PARSE(std::string downloadDirectory, std::uint32_t stoppedBaud, WindowSide window, QObject* windowContext);
  ~EPO_PARSE() override;
  EPO_PARSE(const EPO_PARSE&) = delete;
  EPO_PARSE& operator=(const EPO_PARSE&) = delete;

  // Data packets of this upload (the file's packet count); 0 until the file passed its check.
  int totalPackets() const { return totalPackets_.load(); }
  // True while the flow is in its download, where it touches no port; after a stop there it
  // stays true (the window drops the thread once its end has arrived).
  bool inDownload() const { return inDownload_.load(); }
  // After the thread has finished: the upload ended because the device went away (the errno
  // that said so, 0 for a plain hang-up); nothing was handed back.
  std::optional<int> lineLost() const {
    return lost_.load() ? std::optional<int>(lossErrorNumber_.load()) : std::nullopt;
  }
  // Requests the stop and releases a pending hand-off, without waiting: only while the thread
  // holds no port (see inDownload()).
  void requestStop();
  // Requests the stop, releases a pending hand-off and waits until run() has returned.
  // Safe to call more than once and before start(). Afterwards nothing of this thread
  // touches the port.
  void stopAndWait();

 protected:
  void run() override;

 private:
  class UpdateSide;  // the core flow's side, on this thread

  std::string directory_;
  std::uint32_t stoppedBaud_;
  WindowSide window_;
  BlockingHandOff handOff_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> inDownload_{true};
  std::atomic<int> totalPackets_{0};
  std::atomic<bool> lost_{false};
  std::atomic<int> lossErrorNumber_{0};
  std::mutex portMutex_;
  std::shared_ptr<ByteStream> port_;  // the upload's port, once the window gave it (portMutex_)
};
