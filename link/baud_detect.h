// Finding the rate a receiver talks at. Users often do not know it, and a receiver at
// another rate than the port's reads as garbage, never as sentences. So the port, opened
// once, is set to each likely rate in turn and listened to for a bounded time; the first
// rate at which whole sentences pass the checksum test is the receiver's.
//
// Detection only reads. It never writes to the port and never closes or reopens it: a
// close drops DTR (HUPCL) and some receivers and adapters reset on that, so the same open
// port, with the rate found, is what the caller goes on to use.
//
// Thread rule: runs on the calling thread, which owns the port for the duration; the stop
// test may be set from any thread (a stop is seen within one wait of kStopCheckMs).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "link/link_error.h"

class ByteStream;

// The rates tried, in order: the usual rates of these receivers first (115200, the rate of
// many modules and of the EPO upload; 9600, the factory rate of most), then the other rates
// of the window's speed list, the more common first, then those a receiver only talks at
// once it has been told to ($PMTK251: 57600, and 230400 to 921600 on the MT3333 family).
inline const std::vector<std::uint32_t> kDetectRates = {115200, 9600,  38400,  4800,   19200,
                                                        14400,  57600, 230400, 460800, 921600};

// How long one rate is listened to [ms]. Two sentences of a 1 Hz receiver arrive in any
// window of this length even when it sends a single sentence a second at 4800 baud: the
// next sentence at most 1 s away, the one after 1 s later, each on the line for about
// 170 ms, and the quiet time that hands the last one over; the rest is margin for the
// adapter's latency and a loaded machine.
inline constexpr int kDetectRateMs = 2500;

// Whole sentences with a valid checksum that make a rate the receiver's. One could be
// line noise that happens to check out; two in a row are not.
inline constexpr int kDetectSentencesNeeded = 2;

// Bytes without a single valid sentence after which a rate is given up before its time:
// at the right rate, only the sentence under way when listening began (82 characters at
// most) and a sentence hit by line noise can fail; four sentences' worth cannot.
inline constexpr std::size_t kBytesWithoutSentence = 4 * 82;

struct BaudDetectOptions {
  std::vector<std::uint32_t> rates = kDetectRates;
  int perRateMs = kDetectRateMs;
  int sentencesNeeded = kDetectSentencesNeeded;
  // 0: listen the whole time whatever comes (a receiver told to change its rate may still be
  // sending what it had queued at the old one).
  std::size_t giveUpAfterBytes = kBytesWithoutSentence;
  std::function<bool()> stopRequested;  // may be empty
};

struct BaudDetectResult {
  std::uint32_t baud = 0;            // the rate found; 0: none
  std::vector<std::uint32_t> tried;  // the rates listened to, in order, the found one last
  bool bytesArrived = false;         // anything at all came, at any rate
  bool stopped = false;              // the stop test ended it
  LinkError error;                   // the port failed or went away (cause Lost ...)
  // What was read at the rate found, from its first byte: sentences the caller's reader
  // should still see (the port is not purged again after detection).
  std::string received;
};

// Sets the port to each rate in turn (8 data bits, no parity, one stop bit), drops what was
// read at the rate before, and listens. devicePath names the device in errors. A stream with
// no serial line (a receiver on the network) fails as its line settings cannot be read.
BaudDetectResult DetectBaudRate(ByteStream& port, const std::string& devicePath, const BaudDetectOptions& options = {});

// "115200, 9600, 38400 or 4800"
std::string RateListText(const std::vector<std::uint32_t>& rates);

// Why nothing was found: the port's own failure when it had one, else "Baud rate not
// found." with the reason in plain words and the remedy, naming the port and the rates
// tried (a silent line, or bytes that never made a sentence, or a stop).
// portName: how the user knows the port ("Com1 (/dev/ttyUSB0)").
LinkError DetectFailure(const BaudDetectResult& result, const std::string& portName);
