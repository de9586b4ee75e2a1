// One receiver's sentences without a window: the checksum test, the field split, the one
// dispatch to the parsers, and the decoding of whatever reply or proprietary message the
// sentence carries. handle() returns everything a front end applies, so the window and the
// command-line tool each apply it with one visit and nothing is decoded twice.
//
// It sits above link/ because replies are decoded here, in commands/; link/ keeps the
// pieces it is built from (cutter, checksum, split, route table, parsers, state).
//
// Thread rule: a session is used by one thread at a time (the thread that handles sentences).
#pragma once

#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "commands/pmtk_replies.h"
#include "link/handler_failures.h"
#include "link/nmea_sentence.h"
#include "link/receiver_state.h"
#include "link/satellite_chart.h"

// What handling one sentence decided, for the front end to apply. It owns all it holds: no
// view into the sentence outlives the call.
struct SentenceOutcome {
  bool valid = false;  // false: checksum failed; drop without echo, log or refresh
  SentenceRoute route = SentenceRoute::None;
  std::string address;                 // the address without "$" ("PMTK001", "GPGGA")
  std::optional<ReceiverReply> reply;  // the reply or proprietary message the sentence carries
  bool gsvCycleComplete = false;       // charts are due (TakeChartSatellites) after the field refresh
  // Handling failed and this is the first failure since the last reset: its cause, to report
  // once. Later failures are only counted (NmeaSession::failures). The sentence stays valid:
  // whatever was assigned before the failure stays, the texts not reached keep their values.
  std::optional<std::string> failure;
};

class NmeaSession {
 public:
  // Handles one sentence as cut from the stream ("$" ... up to the next "$"). Never throws.
  SentenceOutcome handle(std::string_view sentence);

  ReceiverState state;
  // "Now" for the local date and time of RMC; injectable for tests.
  std::function<std::time_t()> clock = [] { return std::time(nullptr); };
  HandlerFailures failures;

 private:
  // The fields of the sentence being handled; empty outside handle().
  SentenceFields sentenceFields;
};
