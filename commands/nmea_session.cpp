// One sentence through checksum, split, the dispatch to a parser or the reply decoder, and
// the outcome the front end applies. The field table holds views only during this call.
//
// Thread rule: a session and the state it owns are touched by one thread at a time.
#include "commands/nmea_session.h"

#include <exception>

#include "link/nmea_parsers.h"

SentenceOutcome NmeaSession::handle(std::string_view sentence) {
  SentenceOutcome outcome;
  if (!VerifyChecksum(sentence)) return outcome;
  outcome.valid = true;
  // A failure inside one sentence's handling must never reach the reader: it would stop
  // reception. Whatever the handler had assigned stays; the texts it had not reached keep
  // their previous values.
  try {
    SplitFields(sentence, sentenceFields);
    outcome.address = sentenceFields[0];
    outcome.route = RouteOf(sentenceFields[0]);
    switch (outcome.route) {
      case SentenceRoute::GGA: ParseGGA(sentenceFields, state); break;
      case SentenceRoute::GLL: ParseGLL(sentenceFields, state); break;
      case SentenceRoute::GSA: ParseGSA(sentenceFields, state); break;
      case SentenceRoute::GSV: ParseGSV(sentenceFields, state); break;
      case SentenceRoute::RMC: ParseRMC(sentenceFields, state, clock ? clock() : std::time(nullptr)); break;
      case SentenceRoute::VTG: ParseVTG(sentenceFields, state); break;
      case SentenceRoute::ZDA: ParseZDA(sentenceFields, state); break;
      case SentenceRoute::MtkReply:
      case SentenceRoute::Chn:
      case SentenceRoute::Zrn001:
      case SentenceRoute::Zrn818: outcome.reply = DecodeReceiverReply(outcome.route, sentenceFields); break;
      case SentenceRoute::None: break;
    }
  } catch (const std::exception& e) {
    if (failures.record(e.what())) outcome.failure = failures.first();
  } catch (...) {
    if (failures.record("unknown error")) outcome.failure = failures.first();
  }
  // The table is kept between calls only to spare setting it up again; emptied here, no view
  // into this sentence outlives the call.
  sentenceFields.clear();
  outcome.gsvCycleComplete = state.gsvCycleComplete;
  return outcome;
}
