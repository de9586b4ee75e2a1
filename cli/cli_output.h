// How the command-line tool writes what the core decided: texts converted from the
// receiver's 8-bit Latin-1 to UTF-8, JSON objects, and one-line descriptions of the
// receiver's replies. Nothing here decodes or decides anything itself: the values come from
// the core's session, reply decoder and text rules.
//
// Thread rule: pure functions over values; used on the main thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "commands/pmtk_replies.h"
#include "link/nmea_session.h"

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
  std::string kind;    // PmtkReplyKindName, or "fixRateReset", "modeReply"
  std::string text;    // one line for people, ASCII or Latin-1
  std::string json;    // {"kind":...,values...}
  std::optional<PmtkReply> pmtk;  // the decoded reply, when it is a PMTK one
};

// What the sentence just handled reports, if anything. fields must be the session's fields
// of that sentence (read while the sentence text still lives).
std::optional<ReplyReport> ReportReply(const SentenceOutcome& outcome, const SentenceFields& fields);

// The receiver's start-up notice (PMTK010 with message 001), which follows every restart.
bool IsStartupNotice(const SentenceOutcome& outcome, const SentenceFields& fields);

// Sentence types in the order of the rate boxes (NmeaKind), as the tool names them.
inline constexpr const char* kNmeaKindNames[] = {"GLL", "RMC", "VTG", "GSA", "GSV", "GGA", "ZDA", "MCHN"};

// DGPS modes by the tool's names and the radio button each one stands for.
struct DgpsChoice {
  const char* name;
  const char* radioName;
  bool rbWAAS, rbRTCM, rbDisable;
};
inline constexpr DgpsChoice kDgpsChoices[] = {
    {"none", "rbDisable", false, false, true},
    {"rtcm", "rbRTCM", false, true, false},
    {"sbas", "rbWAAS", true, false, false},
};

// One JSON line of monitor --json for a handled, valid sentence.
std::string SentenceJson(std::string_view sentence, const ReceiverState& state,
                         const std::vector<ChartSatellite>* satellites, const std::optional<ReplyReport>& reply);
