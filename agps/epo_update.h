// One assisted-GPS update from the file to the hand-back, the same for the window and the
// command-line tool: get the file (download it, or take the one given), check it, switch the
// receiver to binary output and the line to the upload's rate, run the upload, and at its
// ending show the ending and hand the line back at the NMEA rate. The front end supplies only
// what differs between them, through one surface (EpoUpdateSide): its texts, boxes or lines,
// how it moves its port, and the upload's port side; the flow tells it how the update ended,
// stopped or lost included. Whether the file is deleted afterwards is the caller's choice.
//
// A stop (EpoUpdateOptions::stop), a receiver silent for longer than the silence limit, or a
// line that went away ends the update at the step it has reached, without a box and without
// a hand-back. Once the receiver may have switched to binary output, a stop still writes the
// output-mode packet, so the receiver is never left talking binary at 115200 baud until it is
// powered off; a line that is gone gets nothing.
//
// Every pause of the update goes through its clock (EpoUpdateOptions::clock), and the
// silence is measured on it, so tests run the whole flow on a clock that never waits.
//
// Thread rule: RunEpoUpdateFlow blocks the thread that calls it and calls the side on that
// thread only (the window runs it on its update thread and hands each call over to the window
// thread, where switchToBinary may run the settle it is given). The stop may be set from any
// thread; the clock is used from the threads that run the flow and its settle.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "agps/epo_download.h"
#include "agps/epo_upload.h"

// The receiver needs this long after the switch command before it listens at the new rate.
inline constexpr std::chrono::milliseconds kEpoBinarySwitchSettle{1000};
// The output-mode packet must have left at the upload's rate and been taken by the receiver
// before the front end moves the line to the NMEA rate: a speed changed under bytes still on
// their way garbles them, and the receiver would stay in binary output.
inline constexpr std::chrono::milliseconds kEpoModePacketSettle{100};

// The label while the file is fetched; each front end ends the line its own way.
inline constexpr const char* kEpoDownloadingText = "Downloading EPO File...";

// The time of an update: the pauses it makes and the silence it measures.
class EpoUpdateClock {
 public:
  using TimePoint = std::chrono::steady_clock::time_point;
  virtual ~EpoUpdateClock() = default;
  virtual TimePoint now() = 0;
  virtual void sleep(std::chrono::milliseconds duration) = 0;
};
// The steady clock and the calling thread's sleep; usable from any thread.
EpoUpdateClock& EpoSteadyUpdateClock();

enum class EpoUpdateStep {
  Download,  // fetching the file from the EPO server
  Check,     // the file's check
  Switch,    // the receiver switched to binary output, the line moved to the upload's rate
  Upload,    // the upload and its ending
};

enum class EpoStopCause {
  Requested,  // the front end's stop: Ctrl-C, "Off", the window closed
  Silence,    // no data packet went out for the silence limit
};

struct EpoUpdateOptions {
  std::string file;             // the file to upload; empty: download it with `download`
  EpoDownloadOptions download;  // server and directory of the download (its cancel is `stop`)
  // Delete the file once the update is over (a file the update downloaded); a file the check
  // refused is kept for the user to look at.
  bool deleteFile = false;
  // Set from any thread to stop the update: looked at between the steps, during the switch's
  // settle, once per turn of the upload, and by the download. Null: never stopped.
  const std::atomic<bool>* stop = nullptr;
  // The longest time the upload may go without a data packet going out (the receiver never
  // switched to binary output, or stopped answering); then it stops as on a stop. None:
  // it waits until stopped.
  std::optional<std::chrono::steady_clock::duration> silenceLimit;
  EpoUpdateClock* clock = &EpoSteadyUpdateClock();
};

struct EpoUpdateResult {
  EpoUpdateStep step = EpoUpdateStep::Download;  // the step it ended at
  EpoEnding ending = EpoEnding::None;            // Upload: how it ended (Abandoned when stopped)
  bool stopped = false;  // ended by a stop, the silence limit or the line lost, not by a failure
};

// What the front end does for the update. Each function is called on the update's thread.
class EpoUpdateSide {
 public:
  virtual ~EpoUpdateSide() = default;
  // The download begins.
  virtual void downloading() = 0;
  // The file passed its check and goes out as totalPackets data packets.
  virtual void fileAccepted(const std::string& path, int totalPackets) = 0;
  // The update cannot start: the download failed (step Download) or the file was refused
  // (step Check). message is the text to show, detail says why. The receiver has not been
  // touched.
  virtual void refused(EpoUpdateStep step, const char* message, const std::string& detail) = 0;
  // Sends the switch to binary output on the NMEA line, runs settle() (the receiver's time to
  // take it, cut short by a stop) and moves the line to 115200 baud. Returns the upload's port
  // side, owned by the front end until the update returns; null when the line could not be
  // moved (the front end has said why).
  virtual EpoLink* switchToBinary(const std::function<void()>& settle) = 0;
  // A data packet went out: the share of the file sent, and its text (EpoProgressText).
  virtual void progress(int percent, const std::string& text) = 0;
  // The rate the receiver returns to NMEA at, asked once when the upload ends or is stopped.
  virtual std::uint32_t nmeaBaudRate() = 0;
  // The upload ended (not stopped): shows the ending; returns once it has been seen (a box
  // closed). The output-mode packet is already on the line; the flow uses the port side no
  // more.
  virtual void ended(EpoEnding ending, const EpoEndingTexts& texts) = 0;
  // After ended(), unless a stop came meanwhile: the receiver talks NMEA at baud; the front
  // end takes its line back.
  virtual void handBack(const EpoEndingTexts& texts, std::uint32_t baud) = 0;
  // The update stopped at `step` before an ending was shown; a receiver that was switched has
  // been handed back (the output-mode packet is on the line), the line stays at the upload's
  // rate. A stop while the ending is shown only leaves out the hand-back.
  virtual void stopped(EpoUpdateStep step, EpoStopCause cause) = 0;
  // The line went away during the upload (lossErrorNumber says why, 0: a plain hang-up);
  // nothing was written after it, nothing was handed back, and the flow uses the port side no
  // more.
  virtual void lost(int lossErrorNumber) = 0;
};

EpoUpdateResult RunEpoUpdateFlow(EpoUpdateSide& side, const EpoUpdateOptions& options);

// The rate the receiver talks at after an output-mode packet built for requestedBaud: that
// rate when the packet can carry it, otherwise the binary exchange's rate, which the
// receiver then keeps.
std::uint32_t EpoRateAfterModePacket(std::uint32_t requestedBaud);
