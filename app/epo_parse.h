// The assisted-GPS update thread of the window: runs the core's update flow (download, check,
// switch to binary output, upload, ending) for one "Update" click, so the window thread never
// waits for the EPO server or the receiver. The window implements the flow's side itself, on
// its own thread (texts, boxes, the port taken for the upload at 115200 baud, the progress,
// the hand-back of the port at the ending, the line lost); this thread hands each of the
// flow's calls over to it through the blocking hand-off and brings its value back. Stopped
// from outside (disconnect, window close) during the upload, it hands the receiver back to
// NMEA output with one output-mode packet and ends without a box, so the next connect and the
// next "Update" find the receiver talking NMEA.
//
// Thread rule: created and stopped on the window thread. run() touches no control and no
// window member: every call of the window's side is made on the window thread through the
// blocking hand-off, and the thread goes on only once it has taken effect (a box has been
// closed). Stopping is: set the stop flag (which also cancels the download), cancel the
// hand-off, wake the upload's line, join. Until the window has given it the port, the thread
// touches none, so a stop during the download may leave it to end on its own (it ends within
// the download's poll interval); once it holds the port, the window joins it before the port
// is closed. The upload loop looks at the flag once per turn (turns are about 1 ms apart,
// plus at most one bounded write), so the join cannot deadlock against the window thread.
#pragma once

#include <QThread>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "agps/epo_upload.h"
#include "app/handoff.h"

class EpoUpdateSide;

class EPO_PARSE : public QThread {
  Q_OBJECT
 public:
  // downloadDirectory: where "MTK7d.EPO" is downloaded to (and deleted from once used).
  // stoppedBaud: the NMEA rate to hand the receiver back at when stopped from outside (the
  // speed box is locked while the link is on, so its text at the click is its text at the
  // stop). window: the flow's side on the window thread, the thread of windowContext; each
  // call keeps it alive while it runs there.
  EPO_PARSE(std::string downloadDirectory, std::uint32_t stoppedBaud, std::shared_ptr<EpoUpdateSide> window,
            QObject* windowContext);
  ~EPO_PARSE() override;
  EPO_PARSE(const EPO_PARSE&) = delete;
  EPO_PARSE& operator=(const EPO_PARSE&) = delete;

  // True while the flow is in its download, where it touches no port; after a stop there it
  // stays true (the window drops the thread once its end has arrived).
  bool inDownload() const { return inDownload_.load(); }
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
  class HandedOver;  // the flow's side on this thread: the window's, handed over

  std::string directory_;
  std::uint32_t stoppedBaud_;
  std::shared_ptr<EpoUpdateSide> window_;
  BlockingHandOff handOff_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> inDownload_{true};
  std::mutex linkMutex_;
  EpoLink* link_ = nullptr;  // the upload's line once the window gave it (linkMutex_), woken by a stop
};
