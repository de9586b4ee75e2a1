// Command line of torvikel-sim; see sim_arguments.h.
//
// Thread rule: plain functions, no shared state.
#include "sim/sim_arguments.h"

#include <cerrno>
#include <cstdlib>
#include <functional>
#include <map>
#include <set>

#include "sim/sim_text.h"

namespace sim {

namespace {

bool toDouble(const std::string& text, double& value) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  value = std::strtod(text.c_str(), &end);
  return errno == 0 && end != nullptr && *end == '\0';
}

bool toLong(const std::string& text, long& value, long low, long high) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  value = std::strtol(text.c_str(), &end, 10);
  return errno == 0 && end != nullptr && *end == '\0' && value >= low && value <= high;
}

bool toProbability(const std::string& text, double& value) {
  return toDouble(text, value) && value >= 0.0 && value <= 1.0;
}

// "gps,glonass,beidou": at least one system a receiver can search with; QZSS only adds to one.
bool toSystems(const std::string& text, SystemSet& systems) {
  static const std::map<std::string, GnssSystem> kNames = {
      {"gps", GnssSystem::Gps},       {"glonass", GnssSystem::Glonass}, {"galileo", GnssSystem::Galileo},
      {"beidou", GnssSystem::Beidou}, {"qzss", GnssSystem::Qzss},
  };
  SystemSet set = 0;
  for (const std::string& name : splitFields(text)) {
    const auto it = kNames.find(name);
    if (it == kNames.end()) return false;
    set |= SystemBit(it->second);
  }
  if ((set & ~SystemBit(GnssSystem::Qzss)) == 0) return false;
  systems = set;
  return true;
}

// A content mask in hex ("7F", "0x7F") of fields a record can hold.
bool toLocusContent(const std::string& text, unsigned& content) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  const unsigned long value = std::strtoul(text.c_str(), &end, 16);
  if (errno != 0 || end == nullptr || *end != '\0' || text[0] == '-' || value > 0xFFFF) return false;
  if (LocusFlash::RecordBytes(static_cast<unsigned>(value)) == 0) return false;
  content = static_cast<unsigned>(value);
  return true;
}

}  // namespace

std::string SimUsage() {
  return R"(Usage: torvikel-sim [options]

A simulated MediaTek GPS receiver on a pseudo-terminal. It registers the terminal as port
comN in the port map directory, prints one line "torvikel-sim ready: DEVICE ..." and talks
NMEA 0183 until it is stopped (Ctrl-C, SIGTERM); the port map entry is removed on exit.

Port:
  --com N              register as comN (default 1; 0: do not register)
  --port-dir DIR       port map directory (default $TORVIKEL_PORT_DIR, else
                       ~/.config/torvikel/ports)
  --baud N             line speed for pacing the output (default 115200); 10 bits a byte.
                       A program that sets another speed on the terminal reads garbage,
                       and its commands are not understood, as on a real line.
                       $PMTK251,RATE (4800, 9600, 14400, 19200, 38400, 57600, 115200,
                       230400, 460800, 921600; 0: back to --baud) is acknowledged at the old
                       speed, then the line moves; a full cold start ($PMTK104) moves it
                       back to --baud
  --keep-baud          acknowledge $PMTK251 but keep talking at the old speed, as
                       firmware that takes the command without acting on it
  --no-pace            do not pace the output at the line speed
  --record FILE        write every byte received from the program to FILE
  --record-sent FILE   write every byte the program's terminal took to FILE
  --unplug-after S     pull the receiver out S seconds after start: the terminal and the
                       port map entry go away, as a USB receiver's device does
  --replug-after S     plug it in again S seconds later: a new terminal under the same
                       comN (SIGUSR1 also pulls it out and plugs it in again)

Receiver:
  --lat DEG --lon DEG  start of the slowly moving position (default 25.05 121.50)
  --utc SECONDS        UTC at start, seconds since 1970 (default: the system clock)
  --fix2d-after S      seconds from start to the 2D fix (default 5)
  --fix3d-after S      seconds from start to the 3D fix (default 10)
  --period MS          fix period / output cycle (default 1000; PMTK300 changes it)
  --firmware TEXT      the four fields of the PMTK705 reply
                       (default "AXN_1.30,0000,Kappa-32,1.0")
  --model NAME         replace field 3 of the firmware text (the model name)
  --epo STATE          EPO state for PMTK707: "none", or SETS,FWN,FTOW,LWN,LTOW
                       (default: a current seven-day set, 28 sets)
  --no-zrn             do not answer the maker's $PZRN000,MODE and $PZRN818 commands
  --ack-flag N         answer every set command with $PMTK001,<cmd>,N (3 accepted;
                       0 invalid, 1 unsupported, 2 failed: the setting is then not applied)
  --ack-flag CMD=N     the same for one command number only (repeatable)
  --seed N             seed of the fault generator (default 1)
  --lacks CMD[,CMD...] commands this firmware lacks (386, 869 ...): each is answered
                       $PMTK001,CMD,1 (unsupported), as any command it does not know is

Satellite systems:
  --systems LIST       the systems the receiver has: a comma-separated subset of gps,
                       glonass, galileo, beidou, qzss (default gps; qzss only with another).
                       GPS alone: $GPGGA, one $GPGSA, $GPGSV ... as MediaTek's older chips.
                       More: the MT3333 family's $GNRMC, $GNGGA, $GNGLL, $GNVTG, $GNZDA, one
                       $GNGSA per system in the fix and one GSV cycle per system, in the
                       order $GPGSV (GPS 1-32, SBAS 50), $GLGSV (GLONASS 65-96), $GAGSV
                       (Galileo 1-36), $GBGSV (BeiDou 1-63), $GQGSV (QZSS 1-10).
                       $PMTK353,GPS,GLONASS,GALILEO,GALILEO_FULL,BEIDOU (each 0 or 1)
                       chooses among them while it runs; QZSS stays as set. With
                       --utc 1700001010, gps,glonass,galileo,beidou show 36 to 38
                       satellites in view for four minutes once they have the fix
  --gsa-system-id on|off  end each $GNGSA with the NMEA 4.10 system ID (default on)
  --galileo-every N    Galileo's GSV cycle only in every Nth burst (default 1)

Replay:
  --replay FILE        play a capture instead of generated sentences; lines starting with
                       '#' are skipped; one burst (one fix time) a second. Playing starts
                       once a program has opened the port, and the receiver adds nothing
                       of its own but the answers to commands
  --startup-notice     during a replay, still send the start-up notice at power-up
  --fast               bursts back to back, as fast as the line allows
  --loop               start again at the end
  --exit-at-end        exit once the capture has been played

LOCUS logger (the track an MT3339/MT3333-class receiver keeps in its flash):
  --locus              keep a 64 KB LOCUS flash (16 sectors of 4096 bytes) and log a point
                       each interval while logging and with a fix; logging from the start.
                       Answers $PMTK183 (status $PMTKLOG,SERIAL,TYPE,MODE,CONTENT,INTERVAL,
                       0,0,STATUS,RECORDS,PERCENT: serial = --seed, mode 10 = fix only +
                       interval, status 0 logging / 1 stopped), $PMTK184,1 (erase),
                       $PMTK185,0|1 (start|stop), $PMTK186,1 (a point now; 2 without a
                       fix), $PMTK187,1,SEC (interval), $PMTK622,1|0 (dump of the sectors
                       used | of all: $PMTKLOX,0,N, N lines $PMTKLOX,1,SEQ,... of up to 24
                       words of 8 hex digits, $PMTKLOX,2, then the acknowledgement).
                       Each is acknowledged $PMTK001,CMD,3, a malformed one with 0. Without
                       --locus every one of them is answered $PMTK001,CMD,1 (unsupported)
  --locus-type 0|1     when full: 0 overwrite from the first sector (default), 1 stop logging
  --locus-content HEX  the fields of a record (default 1F: time, fix, latitude, longitude,
                       height; 7F adds speed and track); any of the bits 0-6, 10 (HDOP),
                       12 (satellites)
  --locus-interval S   seconds between points (default 15; $PMTK187 changes it)
  --locus-fill N       start with N points of a walk that ended one interval ago; more than
                       the flash holds wraps it (type 0) or fills it and stops (type 1)
  --locus-status-logging N  the status field while logging (default 0; e.g. 2)
  --locus-mode-hex     the mode field of the status in hex ("A" for 10)
  --locus-fix-dimension  a record's fix byte 2 for a 2D fix, 3 for 3D (default 1 for any)
  --locus-bad-record K the Kth record written (1: the first) gets a wrong check byte
  --locus-dump-stops-after L  a dump ends after L data lines, without $PMTKLOX,2 and
                       its acknowledgement
  Flash: each sector opens with a 64-byte header written with its first record: sector
  number u16, type u8, mode u8, content u16, 2 bytes FF, interval u16, distance u16,
  speed u16, bytes 14-62 FF, byte 63 the XOR of bytes 0-62 (all little-endian). Records
  follow from byte 64 (252 of 16 bytes or 201 of 20 a sector), unused flash is FF. A
  record, little-endian, by the content bits: UTC u32 (bit 0), fix u8 (1), latitude and
  longitude float32 degrees (2, 3), height int16 m (4), speed u16 km/h (5), track int16
  degrees (6), HDOP u16 hundredths (10), satellites u8 (12), then the XOR of its bytes

Faults in the periodic output (P: probability per sentence, 0 to 1):
  --bad-checksum P     wrong checksum digits
  --lower-checksum P   checksum letters in lower case
  --one-digit-checksum P  checksum below 0x10 written with one digit
  --nul P              one to three NUL bytes after the line end
  --garbage P          1 to 40 random bytes (never '$') after the line end
  --long-run P         a long run of bytes without '$' after the line end
  --long-run-bytes N   its length (default 25000)
  --split P            the sentence written in two parts, cut at a random point
  --split-gap MS       pause between the parts (default 5)

Binary protocol ($PMTK253,1,BAUD switches to it; the output-mode packet switches back):
  --never-binary       ignore $PMTK253: stay in NMEA
  --binary-ack-delay MS  delay of the first mode acknowledgement (default 1500)
  --binary-ack-repeat MS repeat it until the first packet arrives (default 1000; 0: once)
  --binary-junk N      send N 14-byte packets that are not acknowledgements before each
                       acknowledgement ...
  --binary-junk-at SEQ ... or only before the acknowledgement of packet SEQ
  --reject SEQ         acknowledge packet SEQ with result 0 (rejected)
  --wrong-seq SEQ      acknowledge packet SEQ with the sequence number SEQ+1
  --corrupt-ack SEQ    acknowledgement of packet SEQ with a wrong checksum
  --silent-after SEQ   stop answering after packet SEQ
  --split-acks         write each acknowledgement in two parts ...
  --split-ack-at N     ... cut before byte N (default 11: between 0D and 0A)
  --split-ack-gap MS   pause between the parts (default 20)
  --no-closing-ack     do not acknowledge the closing packet (sequence 0xFFFF)

  --help               this text
  --version            the version number
)";
}

bool ParseSimArguments(const std::vector<std::string>& args, SimCommandLine& out, std::string& error) {
  ModelOptions& m = out.options.model;
  NmeaFaults& nf = m.nmeaFaults;
  BinaryFaults& bf = m.binaryFaults;
  LocusOptions& lo = m.locus;
  std::string model;
  bool startupNotice = false;

  using Handler = std::function<bool(const std::string&)>;
  const auto probability = [](double& target) {
    return Handler([&target](const std::string& v) { return toProbability(v, target); });
  };
  const auto number = [](auto& target, long low, long high) {
    return Handler([&target, low, high](const std::string& v) {
      long n = 0;
      if (!toLong(v, n, low, high)) return false;
      target = static_cast<std::remove_reference_t<decltype(target)>>(n);
      return true;
    });
  };
  const auto seconds = [](int& targetMs) {
    return Handler([&targetMs](const std::string& v) {
      double s = 0;
      if (!toDouble(v, s) || s < 0 || s > 86400) return false;
      targetMs = static_cast<int>(s * 1000.0);
      return true;
    });
  };
  const auto text = [](std::string& target) {
    return Handler([&target](const std::string& v) {
      target = v;
      return true;
    });
  };
  const auto flag = [](bool& target, bool value) {
    return std::function<void()>([&target, value] { target = value; });
  };

  const long kSeqMax = 0xFFFE;
  const std::map<std::string, Handler> withValue = {
      {"--com", number(out.options.comNumber, 0, 99)},
      {"--port-dir", text(out.options.portMapDir)},
      {"--baud", number(m.baud, 1, 4000000)},
      {"--record", text(out.options.recordPath)},
      {"--record-sent", text(out.options.sentPath)},
      {"--lat",
       [&m](const std::string& v) {
         return toDouble(v, m.latitudeDeg) && m.latitudeDeg >= -89.9 && m.latitudeDeg <= 89.9;
       }},
      {"--lon",
       [&m](const std::string& v) {
         return toDouble(v, m.longitudeDeg) && m.longitudeDeg >= -180 && m.longitudeDeg <= 180;
       }},
      {"--utc",
       [&m](const std::string& v) {
         long s = 0;
         if (!toLong(v, s, 1, 4102444800L)) return false;
         m.startUtcMs = static_cast<std::int64_t>(s) * 1000;
         return true;
       }},
      {"--fix2d-after", seconds(m.startup.fix2dAfterMs)},
      {"--fix3d-after", seconds(m.startup.fix3dAfterMs)},
      {"--period", number(m.periodMs, 100, 10000)},
      {"--firmware", text(m.firmware)},
      {"--model", text(model)},
      {"--epo",
       [&m](const std::string& v) {
         if (v == "none") {
           m.epoIsDefault = false;
           m.epo = EpoState{};
           return true;
         }
         const std::vector<std::string> f = splitFields(v);
         long n[5] = {};
         if (f.size() != 5) return false;
         for (std::size_t i = 0; i < 5; ++i) {
           if (!toLong(f[i], n[i], 0, 100000000L)) return false;
         }
         m.epoIsDefault = false;
         m.epo = EpoState{static_cast<int>(n[0]), n[1], n[2], n[3], n[4]};
         return true;
       }},
      {"--ack-flag",
       [&m](const std::string& v) {
         const std::size_t eq = v.find('=');
         long flagValue = 0;
         if (eq == std::string::npos)
           return toLong(v, flagValue, 0, 9) && (m.ackFlagAll = static_cast<int>(flagValue), true);
         long command = 0;
         if (!toLong(v.substr(0, eq), command, 0, 999) || !toLong(v.substr(eq + 1), flagValue, 0, 9)) return false;
         m.ackFlagFor[static_cast<int>(command)] = static_cast<int>(flagValue);
         return true;
       }},
      {"--seed", number(m.seed, 0, 0x7FFFFFFF)},
      {"--lacks",
       [&m](const std::string& v) {
         std::set<int> lacking;
         for (const std::string& f : splitFields(v)) {
           long command = 0;
           if (!toLong(f, command, 0, 999)) return false;
           lacking.insert(static_cast<int>(command));
         }
         m.lacking = lacking;
         return !lacking.empty();
       }},
      {"--systems", [&m](const std::string& v) { return toSystems(v, m.systems); }},
      {"--gsa-system-id",
       [&m](const std::string& v) {
         if (v != "on" && v != "off") return false;
         m.gsaSystemId = v == "on";
         return true;
       }},
      {"--galileo-every", number(m.galileoEvery, 1, 100)},
      {"--replay", text(out.replayPath)},
      {"--unplug-after", seconds(out.options.unplugAfterMs)},
      {"--replug-after", seconds(out.options.replugAfterMs)},
      {"--bad-checksum", probability(nf.badChecksum)},
      {"--lower-checksum", probability(nf.lowerCaseChecksum)},
      {"--one-digit-checksum", probability(nf.oneDigitChecksum)},
      {"--nul", probability(nf.nulBytes)},
      {"--garbage", probability(nf.garbage)},
      {"--long-run", probability(nf.longRun)},
      {"--long-run-bytes", number(nf.longRunBytes, 1, 1000000)},
      {"--split", probability(nf.splitWrites)},
      {"--split-gap", number(nf.splitGapMs, 0, 10000)},
      {"--binary-ack-delay", number(m.binaryFirstAckDelayMs, 0, 60000)},
      {"--binary-ack-repeat", number(m.binaryAckRepeatMs, 0, 60000)},
      {"--binary-junk", number(bf.junkBeforeAck, 0, 1000)},
      {"--binary-junk-at", number(bf.junkAtSeq, 0, kSeqMax)},
      {"--reject", number(bf.rejectSeq, 0, kSeqMax)},
      {"--wrong-seq", number(bf.wrongSeqAt, 0, kSeqMax)},
      {"--corrupt-ack", number(bf.corruptAckAt, 0, kSeqMax)},
      {"--silent-after", number(bf.silentAfter, 0, kSeqMax)},
      {"--split-ack-at", number(bf.splitAckAt, 1, 11)},
      {"--split-ack-gap", number(bf.splitGapMs, 0, 10000)},
      {"--locus-type", number(lo.type, 0, 1)},
      {"--locus-content", [&lo](const std::string& v) { return toLocusContent(v, lo.content); }},
      {"--locus-interval", number(lo.intervalS, 1, 65535)},
      {"--locus-fill", number(lo.fill, 0, 100000)},
      {"--locus-status-logging",
       [&lo](const std::string& v) {
         long n = 0;
         // 1 is the stopped logger's.
         if (!toLong(v, n, 0, 9) || n == 1) return false;
         lo.statusWhileLogging = static_cast<int>(n);
         return true;
       }},
      {"--locus-bad-record", number(lo.badRecord, 1, 100000000)},
      {"--locus-dump-stops-after", number(lo.dumpStopsAfter, 0, 100000)},
  };
  const std::map<std::string, std::function<void()>> switches = {
      {"--help", flag(out.help, true)},
      {"-h", flag(out.help, true)},
      {"--version", flag(out.version, true)},
      {"--no-pace", flag(out.options.pace, false)},
      {"--no-zrn", flag(m.answerZrn, false)},
      {"--keep-baud", flag(m.keepBaud, true)},
      {"--fast", flag(m.replayFast, true)},
      {"--loop", flag(m.replayLoop, true)},
      {"--exit-at-end", flag(out.exitAtEnd, true)},
      {"--startup-notice", flag(startupNotice, true)},
      {"--never-binary", flag(bf.neverBinary, true)},
      {"--split-acks", flag(bf.splitAcks, true)},
      {"--no-closing-ack", flag(bf.ackClosingPacket, false)},
      {"--locus", flag(lo.enabled, true)},
      {"--locus-mode-hex", flag(lo.modeInHex, true)},
      {"--locus-fix-dimension", flag(lo.fixDimension, true)},
  };

  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (const auto s = switches.find(arg); s != switches.end()) {
      s->second();
      continue;
    }
    const auto h = withValue.find(arg);
    if (h == withValue.end()) {
      error = "unknown option " + arg + " (see --help)";
      return false;
    }
    if (i + 1 >= args.size()) {
      error = arg + " needs a value";
      return false;
    }
    const std::string& value = args[++i];
    if (!h->second(value)) {
      error = "bad value for " + arg + ": " + value;
      return false;
    }
  }
  if (!model.empty()) {
    std::vector<std::string> f = splitFields(m.firmware);
    f.resize(std::max<std::size_t>(f.size(), 4));
    f[2] = model;
    std::string joined;
    for (std::size_t i = 0; i < f.size(); ++i) joined += (i > 0 ? "," : "") + f[i];
    m.firmware = joined;
  }
  if (m.startup.fix3dAfterMs < m.startup.fix2dAfterMs) m.startup.fix3dAfterMs = m.startup.fix2dAfterMs;
  for (const std::string& arg : args) {
    if (arg.rfind("--locus-", 0) == 0 && !lo.enabled) {
      error = arg + " needs --locus";
      return false;
    }
  }
  if (m.replayFast && out.replayPath.empty()) {
    error = "--fast needs --replay";
    return false;
  }
  if (!out.replayPath.empty()) {
    out.options.replayWaitsForProgram = true;
    m.powerUpNotice = startupNotice;
  }
  return true;
}

}  // namespace sim
