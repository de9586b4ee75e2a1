// The reader's read loop without a thread class: waits for bytes, reads exactly what is
// queued, cuts the stream into sentences and hands each one over, in order. The window's
// Thread1 and the command-line tool both run it on a thread of their own.
//
// A sentence is normally complete when the next "$" arrives. The last one before a pause
// (a reply to a command while the receiver's output is off, the last line of a replay) has
// no "$" after it, so the loop hands it over once the line has been quiet for
// kQuietHandOverMs after its line end. Sentences the loop still holds when it is stopped (cut
// from the last read, or complete but not yet followed by a "$") are returned instead: the
// handler side is going away, and the caller decides what to do with them.
//
// Thread rule: runs on the reader thread only. The port must stay open until the loop has
// returned; stop it by making stopRequested() true and calling port.interrupt(). Any byte
// stream will do: a serial line, or a receiver on the network.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

class ByteStream;

// How long the line must be quiet after a sentence's line end before that sentence is
// handed over without waiting for the next "$" [ms]. Longer than a USB serial adapter's
// latency timer (16 ms) and than several characters at the slowest rate (about 2 ms each
// at 4800 baud), so a sentence in a continuous stream is still cut at its "$" with its
// stray bytes; shorter than a 10 Hz receiver's fix period, so the last sentence of a burst
// shows before the next burst begins.
inline constexpr int kQuietHandOverMs = 50;

struct ReaderLoopStats {
  unsigned long long bytesRead = 0;
  unsigned long long sentences = 0;
  // Sentences read but not handed over because the stop came first, in order; usually none,
  // or one whose line end had arrived with no "$" after it yet.
  std::vector<std::string> heldBack;
  // The loop ended by itself because the device went away (unplugged, hung up, failing);
  // lossErrorNumber is the errno that said so (0 for a plain hang-up). Every complete
  // sentence read before it has been handed over.
  bool lost = false;
  int lossErrorNumber = 0;
};

// How the loop paces its reads, besides the quiet-line hand-over above.
struct ReaderLoopOptions {
  int quietHandOverMs = kQuietHandOverMs;
  // After a read that brought only a little (a line that trickles sentences one by one, as a
  // receiver at line speed does), the loop leaves the line alone for up to this long before it
  // reads again, so the next read brings several sentences at once and whoever takes them
  // wakes once for all of them [ms]. 0: every sentence is read as soon as it arrives. The
  // pause is cut so that no more than kGatherBytesLimit can arrive meanwhile at the port's
  // speed, far below what the system buffers for a port; a stop ends it at once. A sentence
  // held for its "$" is then handed over after the pause and the quiet time both.
  int gatherMs = 0;
  // Bytes read from the port before the loop took over (by the baud-rate detection), cut
  // first as if the loop had read them.
  std::string_view alreadyRead;
  // Called after the sentences cut from one read have all been delivered (not after a read
  // that completed none). A deliver() that collects sentences hands them on here.
  std::function<void()> readDone;
};

// At most this much may arrive during a gathering pause, at the port's speed: far below what
// the system buffers for a serial port or a pseudo-terminal.
inline constexpr int kGatherBytesLimit = 1024;
// Reads that bring less than this are followed by the gathering pause. A read after a pause
// brings up to kGatherBytesLimit plus what came while its sentences were handled; a larger
// one means the line is faster than its speed says (a pseudo-terminal, a buffer emptied at
// once), and pausing would only let its bytes pile up.
inline constexpr int kGatherBelowBytes = 2 * kGatherBytesLimit;

// Blocks until stopRequested() returns true (checked at the top of every pass and after every
// delivered sentence), or until the device goes away (stats.lost). deliver() is called once per sentence with a view
// valid only during the call. A silent port costs no CPU: the loop sleeps in poll() until bytes arrive or the port is
// interrupted, so a stop request must come with port.interrupt().
ReaderLoopStats RunReaderLoop(ByteStream& port, const std::function<bool()>& stopRequested,
                              const std::function<void(std::string_view)>& deliver, const ReaderLoopOptions& options);

inline ReaderLoopStats RunReaderLoop(ByteStream& port, const std::function<bool()>& stopRequested,
                                     const std::function<void(std::string_view)>& deliver,
                                     int quietHandOverMs = kQuietHandOverMs, std::string_view alreadyRead = {}) {
  ReaderLoopOptions options;
  options.quietHandOverMs = quietHandOverMs;
  options.alreadyRead = alreadyRead;
  return RunReaderLoop(port, stopRequested, deliver, options);
}
