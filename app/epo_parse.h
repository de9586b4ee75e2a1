// The assisted-GPS upload thread of the window: carries the EPO file to the receiver over the
// port that the "Update" click reopened at 115200 baud, shows each packet's progress, and at
// the ending shows its box, restores "Update" and has the window hand the port back to a new
// reader at the NMEA rate. Stopped from outside (disconnect, window close), it hands the
// receiver back to NMEA output with one output-mode packet and ends without a box, so the
// next connect and the next "Update" find the receiver talking NMEA.
//
// Thread rule: created and stopped on the window thread. run() touches no control and no
// window member: every control change, box and the port hand-back is a call onto the window
// thread through a blocking hand-off, and the thread goes on only once it has taken effect
// (a box has been closed). Stopping is: set the stop flag, cancel the hand-off, wake the
// port, join. The loop looks at the flag once per turn (turns are about 1 ms apart, plus at
// most one bounded write), so the join cannot deadlock against the window thread.
#pragma once

#include <QString>
#include <QThread>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "agps/epo_packets.h"
#include "agps/epo_upload.h"
#include "app/handoff.h"

class SerialPort;

class EPO_PARSE : public QThread {
  Q_OBJECT
 public:
  // What the thread asks of the window; each function runs on the window thread.
  struct WindowSide {
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

  // port: the port reopened at 115200 baud, used only by this thread's reads and writes
  // while it runs. file: checked and positioned at its first byte. stoppedBaud: the NMEA
  // rate to hand the receiver back at when stopped from outside (the speed box is locked
  // while the link is on, so its text at the click is its text at the stop).
  EPO_PARSE(std::shared_ptr<SerialPort> port, EpoFilePtr file, const std::string& fileName,
            std::uint32_t stoppedBaud, WindowSide window, QObject* windowContext);
  ~EPO_PARSE() override;
  EPO_PARSE(const EPO_PARSE&) = delete;
  EPO_PARSE& operator=(const EPO_PARSE&) = delete;

  // Data packets of this upload (the file's packet count).
  int totalPackets() const { return totalPackets_; }
  // Requests the stop, releases a pending hand-off and waits until run() has returned.
  // Safe to call more than once and before start(). Afterwards nothing of this thread
  // touches the port.
  void stopAndWait();
  // How the upload ended; EpoEnding::None while it runs and when it was stopped before any
  // ending. Read it after the thread has finished.
  EpoEnding ending() const { return ending_.load(); }

 protected:
  void run() override;

 private:
  std::uint32_t endingBaudRate();

  std::shared_ptr<SerialPort> port_;
  std::unique_ptr<EpoUpload> upload_;
  int totalPackets_ = 0;
  std::uint32_t stoppedBaud_;
  WindowSide window_;
  BlockingHandOff handOff_;
  std::atomic<bool> stop_{false};
  std::atomic<EpoEnding> ending_{EpoEnding::None};
  std::uint32_t askedBaud_ = 0;  // the rate the output-mode packet was built for (thread only)
};

// The rate the receiver talks at after an output-mode packet built for requestedBaud: that
// rate when the packet can carry it, otherwise the binary exchange's rate, which the
// receiver then keeps.
std::uint32_t EpoRateAfterModePacket(std::uint32_t requestedBaud);
