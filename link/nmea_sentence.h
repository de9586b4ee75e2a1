// Cutting the receiver's byte stream into sentences, the checksum test, the field split
// and the dispatch table. Pure functions and one small stateful cutter; no I/O, no clock.
//
// The stream is cut at every "$": a sentence runs from its "$" up to, not including, the
// next "$", so it carries its checksum, its CR LF and any stray bytes before the next "$".
// In a continuous stream a sentence is delivered when the first byte of the next one has
// arrived. A sentence whose line end has arrived but that no "$" follows (the last reply
// before a quiet line, the last sentence before a stop) is not held back for ever: the
// reader flushes it once the line has been quiet for a moment, or when it stops.
//
// Thread rule: the free functions are reentrant; one SentenceCutter belongs to one reader.
#pragma once

#include <cstddef>
#include <string_view>

#include "link/receiver_state.h"

// Which handler a checksum-valid sentence goes to. The one dispatch table lives in RouteOf.
enum class SentenceRoute {
  None,  // echoed, logged, refreshes the fields, nothing else
  GGA,
  GLL,
  GSA,
  GSV,
  RMC,
  VTG,
  ZDA,
  MtkReply,  // characters 2-4 of the address are "MTK": PMTKnnn replies
  Chn,       // characters 5-7 are "CHN": ticks the MCHN indicator
  Zrn001,    // characters 2-7 are "ZRN001": mode reply
  Zrn818,    // characters 2-7 are "ZRN818": fix-rate reset reply
};

// Address field (slot 0, without "$") to route; first matching rule wins.
SentenceRoute RouteOf(std::string_view address);

// True when the XOR of the bytes before the first "*" (skipping every "$") equals the one
// or two hexadecimal digits (either case) that follow the "*".
bool VerifyChecksum(std::string_view sentence);

// Fills the field table from a sentence that starts with "$". Slots beyond the fiftieth are
// dropped; slots the sentence does not reach read as empty.
void SplitFields(std::string_view sentence, SentenceFields& fields);

// Cuts a byte stream into sentences across arbitrary read boundaries.
// Bounded: bytes before the first "$" are dropped at once, and a run between two "$" longer
// than kSentenceBufferSize - 1 bytes is dropped up to the next "$", never cut into a false
// sentence; so the carry-over never holds more than one sentence, far below kCarryOverSize.
// Such a run that began as a sentence with its line end (a valid sentence followed by a long
// burst of noise) keeps the sentence up to and including its first LF; only the noise goes.
// NUL bytes are skipped and never hide the sentences that follow them.
class SentenceCutter {
 public:
  SentenceCutter();
  // Feeds one chunk; calls sink(std::string_view sentence) for every complete sentence, in
  // order. The view is valid only during the call.
  template <typename Sink>
  void feed(const char* data, std::size_t size, Sink&& sink);
  // True when the unfinished run is a sentence whose line end (LF) has arrived: it is only
  // waiting for the next "$", which a quiet line may never send.
  bool holdsCompleteSentence() const { return lineEnd_ > 0; }
  // Hands over the run held by holdsCompleteSentence(), with whatever stray bytes followed
  // its line end so far, as the next "$" would have; bytes after it up to the next "$" are
  // then dropped like bytes before a first "$". Nothing when no complete sentence is held.
  template <typename Sink>
  void flushComplete(Sink&& sink);
  void reset();
  std::size_t carryOverSize() const { return carryLen_; }

 private:
  // Appends the bytes of [from, to) that are not NUL to the unfinished run; switches to
  // discarding when the run outgrows a sentence.
  void appendToRun(const char* from, const char* to);
  // A run that is cut: hands the kept bytes to the sink (if any) and forgets the run.
  template <typename Sink>
  void endRun(Sink&& sink);

  // The unfinished run: starts with its "$" and never holds more than a sentence can, since a
  // longer run is dropped anyway. Bytes before the first "$" are never kept at all.
  char carry_[kSentenceBufferSize];
  std::size_t carryLen_ = 0;
  std::size_t lineEnd_ = 0;  // bytes of carry_ up to and including its first LF; 0: none yet
  bool discarding_ = false;  // inside an overlong run: drop until the next "$" (what carry_
                             // still holds is the sentence kept before it)
};

#include "link/nmea_sentence_impl.h"
