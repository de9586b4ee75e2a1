// The EPO upload as a state machine: waits for the receiver's first binary output, sends the
// file as numbered data packets strictly one at a time against the receiver's
// acknowledgements, and ends in completion, failure or a rejected acknowledgement. It makes
// the decisions only: the port I/O goes through an EpoLink, and the texts, the boxes, the
// reopening of the port and what becomes of the file are the update flow's (agps/epo_update.h)
// and the front ends', so the machine runs without wall time in tests, fed by a scripted
// receiver in chunks of any size.
//
// A turn of the upload loop: beginTurn() says what to write now (and whether the upload has
// ended); then the bytes the port holds are read and handed to feed(). RunEpoUpload runs that
// loop over an EpoLink.
//
// Thread rule: one EpoUpload is created per update and used by one thread (the upload thread).
// A disconnect simply stops calling it; the next update starts from a fresh object.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "agps/epo_packets.h"

inline constexpr int kEpoAckCountdownStart = 5;              // packets other than acks tolerated in a row
inline constexpr std::size_t kEpoReadBytes = 4999;           // largest single read of a turn
inline constexpr std::uint32_t kEpoUploadBaudRate = 115200;  // the rate of the binary exchange

// The upload state, under the names the rest of the program and the tests use.
struct EpoUploadState {
  std::int16_t epoTotalPackets = 0;
  std::int16_t epoPacketsLeft = 0;
  std::uint16_t epoNextSeq = 0;
  std::uint8_t epoSendState = 1;  // 1 ready to send, 3 waiting for an acknowledgement, 0 stopped
  bool epoWaitBinary = true;      // waiting for the receiver's first binary output
  bool epoBinaryActive = false;   // the binary exchange is established
  bool epoParseBinary = false;    // received chunks are scanned for packets
  std::int32_t epoAckCountdown = kEpoAckCountdownStart;
  bool epoUploadRunning = true;  // the upload holds the port
};

enum class EpoEnding {
  None,       // the upload goes on
  Completed,  // every data packet acknowledged
  Failed,     // too many packets other than acknowledgements in a row
  Rejected,   // an acknowledgement rejected, for the wrong packet, or corrupt
  FileShort,  // the file ended before its counted packets (changed after it was checked)
  Abandoned,  // the front end gave up (e.g. the command-line tool interrupted by the user)
};

// What the front end shows for an ending. Every ending hands the port back: the output-mode
// packet has been written; the front end shows the box, waits until it is closed, sets the
// label, enables "Update", reopens the port at the chosen rate and starts a new reader.
// The box text when the file cannot be used: refused by its check, or shorter during the upload
// than when it was checked.
inline constexpr const char* kEpoCannotOpenFileMessage = "Cannot open EPO file.";
// The warning that goes with the upload's progress.
inline constexpr const char* kEpoCableWarning = "DO NOT remove the mini USB cable (connection)";

struct EpoEndingTexts {
  const char* message = "";    // box text
  const char* title = "";      // box title; empty: the standard error box
  const char* labelText = "";  // the update status line afterwards
  bool errorBox = false;       // an error box rather than an information box
};
EpoEndingTexts EpoEndingTextsFor(EpoEnding ending);

// "Updating now... <percent> %\nDO NOT remove the mini USB cable (connection) \nwhen updating EPO data"
std::string EpoProgressText(int percent);

struct EpoUploadOptions {
  // The rate the receiver returns to NMEA at, asked at the ending on the thread that runs the
  // upload (the window reads its chosen rate then, through its own hand-over to the window thread).
  // Rates the output-mode packet cannot carry go out as 0.
  std::function<std::uint32_t()> endingBaudRate = [] { return kEpoUploadBaudRate; };
};

struct EpoTurn {
  // Bytes to write now, in order, each with one write; views into the machine, valid until
  // the next call.
  std::array<std::span<const std::uint8_t>, 2> writes{};
  std::size_t writeCount = 0;
  bool progressChanged = false;  // a data packet went out: show percent / progressText
  int percent = 0;
  std::string progressText;
  EpoEnding ending = EpoEnding::None;  // not None: the upload is over after these writes
};

// What a chunk received while waiting for binary output says.
enum class EpoWaitVerdict {
  NoDollar,   // no "$" before the chunk's first zero byte: nothing changes
  Nmea,       // the first "$" starts "$GP" or "$PMTK": still NMEA
  Binary,     // the first "$" starts anything else: binary output has begun
  Undecided,  // the chunk ends inside what may still become "$GP" or "$PMTK"
};
EpoWaitVerdict EpoWaitTest(std::span<const std::uint8_t> chunk);

class EpoUpload {
 public:
  // Takes a file checked by EpoOpenFile, positioned at its first byte. The machine starts
  // waiting for the receiver's binary output (the switch command has been sent).
  EpoUpload(EpoFilePtr file, EpoUploadOptions options = {});
  ~EpoUpload();  // closes the file if still open
  EpoUpload(const EpoUpload&) = delete;
  EpoUpload& operator=(const EpoUpload&) = delete;

  // Start of a turn: at most one data packet, or an ending with its packets.
  EpoTurn beginTurn();
  // One chunk as read from the port. The packet that decides an ending (a refused or corrupt
  // acknowledgement, the fifth packet in a row that is none) is the last one looked at: the
  // rest of its chunk, and every later chunk, is ignored, so the ending never depends on how
  // the bytes were split into reads.
  void feed(std::span<const std::uint8_t> chunk);
  // Ends the upload now and hands the receiver back: only the output-mode packet is written
  // (no closing packet) and the file is closed. Nothing once ended.
  EpoTurn abandon();

  bool finished() const { return ending_ != EpoEnding::None; }
  EpoEnding ending() const { return ending_; }
  const EpoUploadState& state() const { return state_; }
  const ReplyFramer& framer() const { return framer_; }
  bool fileOpen() const { return static_cast<bool>(file_); }

 private:
  bool onReply(const EpoReply& reply);
  EpoTurn end(EpoEnding ending, bool sendClosingPacket);

  EpoFilePtr file_;
  EpoUploadOptions options_;
  EpoUploadState state_;
  ReplyFramer framer_;
  EpoPacket epoPacket_{};
  EpoModePacket modePacket_{};
  std::vector<std::uint8_t> waitCarry_;  // an undecided chunk, completed by the next one
  EpoEnding decided_ = EpoEnding::None;  // an ending a reply decided, written at the next turn
  EpoEnding ending_ = EpoEnding::None;
};

// The port side of the upload loop, implemented by each front end.
class EpoLink {
 public:
  virtual ~EpoLink() = default;
  virtual void write(std::span<const std::uint8_t> bytes) = 0;  // writes are never checked
  virtual long bytesWaiting() = 0;                              // < 0 on error
  virtual long read(std::span<std::uint8_t> buffer) = 0;        // bytes read, <= 0 for none
  virtual void idle() = 0;                                      // nothing waited this turn: pause about 1 ms
  virtual bool stopRequested() = 0;                             // looked at once per turn, at its end
  // The line is gone (the device was removed): the loop stops as on a stop request, and
  // nothing more may be written. lossErrorNumber() says why (0: a plain hang-up).
  virtual bool lost() const { return false; }
  virtual int lossErrorNumber() const { return 0; }
  virtual void progress(int percent, const std::string& text) = 0;
  // From the thread that stops the upload: wakes a wait of the loop's thread on the line at
  // once, so the stop is seen without waiting for the wait to time out.
  virtual void interrupt() {}
};

// Runs turns until the upload ends (returns the ending; the front end then shows its texts
// and hands the port back) or stopRequested() (returns None; nothing more is written).
EpoEnding RunEpoUpload(EpoUpload& upload, EpoLink& link);
