// One assisted-GPS update from the file to the hand-back, the same for the window and the
// command-line tool: get the file (download it, or take the one given), check it, switch the
// receiver to binary output and the line to the upload's rate, run the upload, and at its
// ending show the ending and hand the line back at the NMEA rate. The front end supplies only
// what differs between them (EpoUpdateSide): its texts, boxes or lines, how it moves its port,
// the upload's port side, and its stop. Whether the file is deleted afterwards is the
// caller's choice.
//
// A stop (the front end's stopRequested, or its EpoLink giving up) ends the update at the step
// it has reached, without a box and without a hand-back. Once the receiver may have switched
// to binary output, a stop still writes the output-mode packet, so the receiver is never left
// talking binary at 115200 baud until it is powered off; a line that is gone gets nothing.
//
// Thread rule: RunEpoUpdateFlow blocks the thread that calls it and calls the side on that
// thread only (the window runs it on its update thread and hands each call over to the window
// thread). The stop and the download's cancel flag may be set from any thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "agps/epo_download.h"
#include "agps/epo_upload.h"

// The receiver needs this long after the switch command before it listens at the new rate.
inline constexpr std::chrono::milliseconds kEpoBinarySwitchSettle{1000};
// The output-mode packet must have left at the upload's rate and been taken by the receiver
// before the front end moves the line to the NMEA rate: a speed changed under bytes still on
// their way garbles them, and the receiver would stay in binary output.
inline constexpr std::chrono::milliseconds kEpoModePacketSettle{100};

enum class EpoUpdateStep {
  Download,  // fetching the file from the EPO server
  Check,     // the file's check
  Switch,    // the receiver switched to binary output, the line moved to the upload's rate
  Upload,    // the upload and its ending
};

struct EpoUpdateOptions {
  std::string file;             // the file to upload; empty: download it with `download`
  EpoDownloadOptions download;  // server, directory and cancel flag of the download
  // Delete the file once the update is over (a file the update downloaded); a file the check
  // refused is kept for the user to look at.
  bool deleteFile = false;
  std::chrono::milliseconds switchSettle = kEpoBinarySwitchSettle;
};

struct EpoUpdateResult {
  EpoUpdateStep step = EpoUpdateStep::Download;  // the step it ended at
  EpoEnding ending = EpoEnding::None;            // Upload: how it ended (Abandoned when stopped)
  bool stopped = false;                          // ended by a stop, not by a failure
  // The upload ended because the device went away (stopped is set too): nothing was handed
  // back. lossErrorNumber says why (0: a plain hang-up).
  bool lost = false;
  int lossErrorNumber = 0;
  std::string detail;  // why the download or the check failed
  std::string path;    // the file uploaded (or downloaded)
};

// What the front end does for the update. Each function is called on the update's thread.
class EpoUpdateSide {
 public:
  virtual ~EpoUpdateSide() = default;
  // Looked at between the steps; true ends the update as stopped. The download is ended by
  // the cancel flag of EpoUpdateOptions::download, which the front end sets with its stop.
  virtual bool stopRequested() = 0;
  // The download begins.
  virtual void downloading() = 0;
  // The file passed its check and goes out as totalPackets data packets.
  virtual void fileAccepted(const std::string& path, int totalPackets) = 0;
  // The update cannot start: the download failed (step Download) or the file was refused
  // (step Check); detail says why. The receiver has not been touched.
  virtual void refused(EpoUpdateStep step, const std::string& detail) = 0;
  // Sends the switch to binary output on the NMEA line, lets `settle` pass, and moves the line
  // to 115200 baud. Returns the upload's port side, owned by the front end until the update
  // returns; null when the line could not be moved (the front end has said why) or the switch
  // never went out because of a stop.
  virtual EpoLink* switchToBinary(std::chrono::milliseconds settle) = 0;
  // The rate the receiver returns to NMEA at, asked once when the upload ends or is stopped.
  virtual std::uint32_t nmeaBaudRate() = 0;
  // The upload ended (not stopped): shows the ending; returns once it has been seen (a box
  // closed). The output-mode packet is already on the line.
  virtual void ended(EpoEnding ending, const EpoEndingTexts& texts) = 0;
  // After ended(), unless a stop came meanwhile: the receiver talks NMEA at baud; the front
  // end takes its line back.
  virtual void handBack(const EpoEndingTexts& texts, std::uint32_t baud) = 0;
};

EpoUpdateResult RunEpoUpdateFlow(EpoUpdateSide& side, const EpoUpdateOptions& options);

// The rate the receiver talks at after an output-mode packet built for requestedBaud: that
// rate when the packet can carry it, otherwise the binary exchange's rate, which the
// receiver then keeps.
std::uint32_t EpoRateAfterModePacket(std::uint32_t requestedBaud);
