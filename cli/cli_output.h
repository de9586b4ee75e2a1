// How the command-line tool writes what the core decided: texts converted from the
// receiver's 8-bit Latin-1 to UTF-8, JSON objects, and one-line descriptions of the
// receiver's replies. Nothing here decodes or decides anything itself: the values come from
// the core's session, reply meanings and text rules.
//
// Thread rule: pure functions over values; used on the main thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "commands/nmea_session.h"
#include "commands/pmtk_replies.h"

// Latin-1 bytes to UTF-8: bytes below 0x80 stay, every other byte becomes its two-byte form
// (the degree sign 0xB0 becomes U+00B0, C2 B0).
std::string Latin1ToUtf8(std::string_view latin1);

// A JSON string literal of an 8-bit text, in UTF-8 with the JSON escapes.
std::string JsonString(std::string_view latin1);

// Builds one JSON object, members in the order they are added.
class JsonObject {
 public:
  JsonObject& text(std::string_view key, std::string_view latin1);
  JsonObject& number(std::string_view key, long long value);
  JsonObject& boolean(std::string_view key, bool value);
  JsonObject& raw(std::string_view key, std::string_view json);  // an object or array already built
  std::string str() const { return body_ + "}"; }

 private:
  void key(std::string_view name);
  std::string body_ = "{";
};

std::string JsonArray(const std::vector<std::string>& elements);

// The sentence without its line end: everything from the first CR or LF on is left out.
std::string_view SentenceText(std::string_view sentence);

// A reply the tool reports: a decoded PMTK reply, or one of the maker's two replies.
struct ReplyReport {
  std::string kind;  // ReplyKindName
  std::string text;  // one line for people, ASCII or Latin-1
  std::string json;  // {"kind":...,values...}
};

// What an acknowledgement's flag says: 0 "an invalid command", 1 "not supported by this
// receiver", 2 "the receiver could not do it"; empty for any other flag.
std::string AckFlagWords(long flag);
// A refusal in one line: "Set Failed! (acknowledgement flag 1): not supported by this receiver".
std::string RefusalText(const PmtkAck& ack);

// What the sentence just handled reports, if anything: its reply, except the start-up notice
// (StartupNoticeText) and channel status, which have no values to show.
std::optional<ReplyReport> ReportReply(const SentenceOutcome& outcome);

// A sentence whose handling failed: the first failure is reported on standard error with
// its cause; the session counts the rest.
void ReportSentenceFailure(const SentenceOutcome& outcome);

// The start-up notice in a line of its own ("PMTK010: start-up notice"); nothing for any
// other sentence.
std::optional<std::string> StartupNoticeText(const SentenceOutcome& outcome);

// One JSON line of monitor --json for a handled, valid sentence.
std::string SentenceJson(std::string_view sentence, const ReceiverState& state,
                         const std::vector<ChartSatellite>* satellites, const std::optional<ReplyReport>& reply);
