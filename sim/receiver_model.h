// The simulated MediaTek receiver without any I/O: bytes from the program and the passing of
// time go in, chunks of bytes to write come out. It produces the 1 Hz NMEA output (or plays a
// capture), answers PMTK and the maker's ZRN commands, obeys what it is told (output rates,
// fix period, DGPS mode, restarts, EPO clear), speaks the binary packet protocol after
// "$PMTK253,1,..." and injects the faults it is configured with. Time is passed in
// (milliseconds since the receiver started), so tests drive it without waiting.
// A GPS-only receiver talks as MediaTek's older chips do ($GPGGA, one $GPGSA, $GPGSV); one
// that searches more systems as the MT3333 family does: position sentences with the GN
// talker, one $GNGSA per system used in the fix and one GSV cycle per system, each with its
// own talker ($GPGSV, $GLGSV, $GAGSV, $GBGSV, $GQGSV). PMTK353 chooses which of its systems
// it searches.
// With the LOCUS logger (sim/locus_flash.h) it keeps a track in its flash while it has a
// fix, one record an interval, and answers the logger's commands: status $PMTK183, erase
// $PMTK184, start and stop $PMTK185, a point now $PMTK186, the interval $PMTK187 and the
// dump $PMTK622; a receiver without it calls them unsupported.
//
// Thread rule: not thread-safe; one owner at a time (SimReceiver guards it with a mutex).
#pragma once

#include <array>
#include <cstdint>
#include <limits>
#include <map>
#include <random>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "link/sentence_kinds.h"
#include "sim/binary_frame.h"
#include "sim/locus_flash.h"
#include "sim/sky.h"

namespace sim {

using SimMs = std::int64_t;  // [ms] since the receiver started
constexpr SimMs kNever = std::numeric_limits<SimMs>::max();

// One write to the line.
struct OutChunk {
  std::string bytes;
  int gapBeforeMs = 0;          // idle line before this write (split writes)
  std::uint32_t baudAfter = 0;  // non-zero: the line speed changes once these bytes are out
  bool periodic = false;        // cycle output, which a saturated line may drop
};

// Faults in the periodic NMEA output (generated or replayed); replies stay clean.
// Each probability is per sentence, drawn from the seeded generator.
struct NmeaFaults {
  double badChecksum = 0;        // checksum digits wrong
  double lowerCaseChecksum = 0;  // hex letters of the checksum in lower case
  double oneDigitChecksum = 0;   // checksum below 0x10 written with one digit
  double nulBytes = 0;           // one to three NUL bytes after the line end
  double garbage = 0;            // 1..40 random bytes (never '$') after the line end
  double longRun = 0;            // a long run of bytes without '$' after the line end
  std::size_t longRunBytes = 25000;
  double splitWrites = 0;  // the sentence written in two parts, cut at a random point
  int splitGapMs = 5;      // pause between the two parts
};

// Faults of the binary exchange. Sequence numbers select EPO data packets; -1 disables.
struct BinaryFaults {
  bool neverBinary = false;  // "$PMTK253,1,..." is ignored: the receiver stays in NMEA
  int junkBeforeAck = 0;     // this many 14-byte packets that are not acknowledgements ...
  long junkAtSeq = -1;       // ... before the acknowledgement of this packet (-1: of every packet)
  long rejectSeq = -1;       // acknowledged with result 0
  long wrongSeqAt = -1;      // acknowledged with the sequence number one higher
  long corruptAckAt = -1;    // acknowledgement with a wrong checksum
  long silentAfter = -1;     // no answer to any packet after this one
  bool splitAcks = false;    // every acknowledgement in two writes ...
  int splitAckAt = 11;       // ... cut before this byte (11: between 0D and 0A)
  int splitGapMs = 20;
  bool ackClosingPacket = true;  // acknowledge the closing packet (sequence 0xFFFF)
};

// The LOCUS logger and its faults.
struct LocusOptions {
  bool enabled = false;  // without it every LOCUS command is answered as unsupported
  int type = 0;          // 0 overwrite when full, 1 stop when full
  unsigned content = 0x1F;
  int intervalS = 15;
  long fill = 0;               // records of a track logged before the start, one an interval
  int statusWhileLogging = 0;  // the status field of $PMTKLOG while logging (stopped: 1)
  bool modeInHex = false;      // the mode field of $PMTKLOG in hex ("A" for 10)
  bool fixDimension = false;   // a record's fix byte 2 for a 2D fix, 3 for 3D, instead of 1
  long badRecord = 0;          // the record written this many-th (1: the first) has a wrong check byte; 0: none
  long dumpStopsAfter = -1;    // a dump ends after this many data lines, without its end and acknowledgement
};

struct RestartTimings {
  int fix2dAfterMs = 0;
  int fix3dAfterMs = 0;
};

// State of the receiver's EPO data as PMTK707 reports it.
struct EpoState {
  int sets = 0;  // 6-hour sets held; 0 none, 28 seven days
  long firstWeek = 0;
  long firstTowS = 0;
  long lastWeek = 0;
  long lastTowS = 0;
};

// Settings beyond the window's buttons, as $PMTK313, 319, 386, 225, 286 and 869 set them. A
// hot, warm or cold restart keeps them, as the receiver's battery-backed memory does; a full
// cold start ($PMTK104) brings back the values the receiver started with.
struct ReceiverSettings {
  bool sbas = true;       // PMTK313: SBAS satellites searched
  int sbasMode = 1;       // PMTK319: 1 integrity, 0 test
  int staticNavCmps = 0;  // PMTK386: the static-navigation threshold [cm/s], 0 off
  int powerMode = 0;      // PMTK225: 0 normal, 1 periodic backup, 2 periodic standby, 8/9 AlwaysLocate
  long runMs = 0;         // ... periodic: full power this long,
  long sleepMs = 0;       // ... then asleep this long, over and over
  long secondRunMs = 0;   // ... (while a fix fails; kept, not used)
  long secondSleepMs = 0;
  bool aic = true;   // PMTK286: active interference cancellation
  bool easy = true;  // PMTK869: EASY orbit prediction
  int easyDays = 3;  // reported with it
};

// The rate fields of PMTK314/514, field 1 first (link/sentence_kinds.h says which type each is).
using OutputRates = std::array<int, kRateFieldCount>;
// GLL RMC VTG GGA GSA GSV, eleven unused, ZDA MCHN: GGA, GSA, GSV, RMC, VTG every fix.
constexpr OutputRates kDefaultRates = {0, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};

struct ModelOptions {
  std::uint32_t baud = 115200;
  double latitudeDeg = 25.05;
  double longitudeDeg = 121.50;
  std::int64_t startUtcMs = 0;          // UTC at start [ms since 1970]; 0: the system clock
  RestartTimings startup{5000, 10000};  // No Fix, then 2D, then 3D after power-up
  RestartTimings hot{1000, 2000};
  RestartTimings warm{4000, 7000};
  RestartTimings cold{10000, 15000};
  int periodMs = 1000;
  OutputRates rates = kDefaultRates;
  std::string firmware = "AXN_1.30,0000,Kappa-32,1.0";  // the four fields of PMTK705
  bool epoIsDefault = true;                             // a current seven-day set, computed from the clock
  EpoState epo;                                         // used when epoIsDefault is false
  bool answerZrn = true;                                // answer the maker's PZRN000/PZRN818 commands
  bool keepBaud = false;                                // acknowledge PMTK251 but keep the old speed
  ReceiverSettings settings;                            // at start, and after a full cold start
  std::set<int> lacking;                 // commands this firmware lacks: answered $PMTK001,CMD,1 as any unknown one
  int ackFlagAll = -1;                   // acknowledgement flag for every set command (-1: natural)
  std::map<int, int> ackFlagFor;         // flag for one command number
  int binaryFirstAckDelayMs = 1500;      // after "$PMTK253,1": the first mode acknowledgement ...
  int binaryAckRepeatMs = 1000;          // ... repeated until the first packet arrives (0: once)
  std::vector<std::string> replayLines;  // non-empty: play these lines instead of generating
  bool replayFast = false;               // bursts back to back instead of one a second
  bool replayLoop = false;
  bool startupMessage = true;  // "$PMTK010,001" at power-up and after each restart
  bool powerUpNotice = true;   // ... at power-up too (a replay leaves it out unless asked)
  NmeaFaults nmeaFaults;
  BinaryFaults binaryFaults;
  std::uint32_t seed = 1;
  SystemSet systems = kGpsOnly;  // what the receiver can search; PMTK353 chooses among them
  bool gsaSystemId = true;       // each $GNGSA ends with the system ID (1 GPS ... 5 QZSS)
  int galileoEvery = 1;          // Galileo's GSV cycle in the 1st, N+1th, ... burst with GSV
  LocusOptions locus;
};

enum class FixMode { None = 1, Fix2D = 2, Fix3D = 3 };

class ReceiverModel {
 public:
  explicit ReceiverModel(ModelOptions options);

  // Bytes the program wrote, at time now; returns the replies.
  std::vector<OutChunk> receive(std::string_view bytes, SimMs now);
  // Output due at or before now. lineIdle: nothing is waiting to be written (fast replay
  // only produces its next burst then).
  std::vector<OutChunk> advance(SimMs now, bool lineIdle);
  // When advance() next has something to do (kNever: nothing scheduled).
  SimMs nextEventAt(bool lineIdle) const;

  // Settings that tests and the command line may change while it runs.
  ModelOptions& options() { return options_; }

  bool binaryMode() const { return binaryMode_; }
  // Pulled out and plugged in again: the receiver lost power, so it talks NMEA at its own
  // speed again, and an upload it was in the middle of is gone.
  void powerCycle(SimMs now);
  std::uint32_t baud() const { return baud_; }
  int periodMs() const { return periodMs_; }
  const OutputRates& rates() const { return rates_; }
  int dgpsMode() const { return dgpsMode_; }
  int datum() const { return datum_; }
  const ReceiverSettings& settings() const { return settings_; }
  // In standby ($PMTK161): silent until a byte arrives.
  bool inStandby() const { return standby_; }
  EpoState epoState() const { return epo_; }
  FixMode fixModeAt(SimMs now) const;
  bool replayFinished() const { return !options_.replayLines.empty() && replayDone_; }
  // A replay held until releaseReplay(): the simulator waits for a program to listen, so
  // the capture is played from its first line.
  void holdReplay() { replayHeld_ = true; }
  void releaseReplay(SimMs now) {
    if (!replayHeld_) return;
    replayHeld_ = false;
    nextBurstAt_ = now;
  }
  bool replayHeld() const { return replayHeld_ && !options_.replayLines.empty(); }
  // Starts playing these capture lines from now on (tests connect first, then play, so no
  // line is lost before the program listens).
  void startReplay(std::vector<std::string> lines) {
    options_.replayLines = std::move(lines);
    loadReplay();
  }
  // Every binary packet received, in order, whole frames as they came.
  const std::vector<BinaryPacket>& binaryPackets() const { return binaryPackets_; }
  // Bodies of every NMEA command with a right checksum, in order ("PMTK314,-1").
  const std::vector<std::string>& commands() const { return commands_; }
  // The LOCUS flash as it stands.
  const LocusFlash& locusFlash() const { return locus_; }
  bool locusLogging() const { return locusLogging_; }
  int locusIntervalS() const { return locusIntervalS_; }

 private:
  struct Burst {
    std::vector<std::string> lines;
  };

  void loadReplay();
  std::vector<OutChunk> cycle(SimMs at);
  std::vector<OutChunk> replayBurst();
  std::vector<OutChunk> withFaults(const std::string& sentence);
  std::vector<OutChunk> handleCommand(const std::string& body, SimMs now);
  std::vector<OutChunk> handlePmtk(int number, const std::vector<std::string>& fields, SimMs now);
  std::vector<OutChunk> handleBinary(const BinaryPacket& packet, SimMs now);
  std::vector<OutChunk> handleLocus(int number, const std::vector<std::string>& fields, SimMs now);
  std::vector<OutChunk> handleSetting(int number, const std::vector<std::string>& fields, SimMs now);
  // A periodic power mode is asleep at this time: no output.
  bool asleepAt(SimMs at) const;
  std::vector<OutChunk> ackChunks(std::string ack) const;
  int ackFlag(int command, int natural) const;
  // Appends $PMTK001,number,flag (the flag as --ack-flag makes it); true when it is "accepted".
  bool acknowledge(std::vector<OutChunk>& out, int number, int natural) const;
  LocusPoint locusPoint(std::int64_t utcS, const Position& pos, FixMode mode, std::size_t used) const;
  LocusPoint locusPointAt(SimMs at) const;
  // A record of the point; false when a full flash of type 1 takes none (logging stops).
  bool locusWrite(const LocusPoint& point);
  LocusSettings locusSettings() const;
  void restart(const RestartTimings& timings, SimMs now, std::vector<OutChunk>& out);
  void finishUpload(SimMs now);
  std::int64_t utcMsAt(SimMs at) const { return startUtcMs_ + at; }
  EpoState epoNow(SimMs now) const;

  ModelOptions options_;
  Sky sky_;
  std::mt19937 rng_;
  std::int64_t startUtcMs_ = 0;
  std::uint32_t baud_ = 115200;
  int periodMs_ = 1000;
  OutputRates rates_ = kDefaultRates;
  int dgpsMode_ = 0;
  int datum_ = 0;  // PMTK330: 0 WGS84
  ReceiverSettings settings_;
  bool standby_ = false;
  SimMs powerModeSince_ = 0;  // when the periodic mode began: its run times count from here
  SystemSet searched_ = kGpsOnly;
  long gsvBursts_ = 0;
  EpoState epo_;
  bool epoOwn_ = false;  // epo_ holds what was cleared or uploaded, not the configured state
  RestartTimings fixTimings_;
  SimMs restartAt_ = 0;
  bool startupPending_ = true;
  SimMs nextCycleAt_ = 0;
  long cycleIndex_ = 0;

  std::string line_;  // NMEA command being assembled
  bool inLine_ = false;
  std::vector<std::string> commands_;

  bool binaryMode_ = false;
  bool sawBinaryPacket_ = false;
  SimMs modeAckAt_ = kNever;
  BinaryFrameParser binaryParser_;
  std::vector<BinaryPacket> binaryPackets_;
  std::string uploadedRecords_;

  std::vector<Burst> bursts_;
  std::size_t nextBurst_ = 0;
  SimMs nextBurstAt_ = 0;
  bool replayDone_ = false;
  bool replayHeld_ = false;

  LocusFlash locus_;
  bool locusLogging_ = false;
  int locusIntervalS_ = 15;
  std::int64_t lastRecordUtcS_ = std::numeric_limits<std::int64_t>::min();
  long recordsWritten_ = 0;
};

// Lines of a capture file for replay: comment lines starting with '#' left out, every other
// line kept byte for byte with its own line end.
std::vector<std::string> ReadCaptureLines(const std::string& text);

}  // namespace sim
