// Small JSON values for talking to gpsd. gpsd writes each report as one JSON object on a line
// of its own ({"class":"WATCH","enable":true,...}); the watch needs a few members of a few of
// them (the class, an ERROR's message, a DEVICE's path and activation). Reading the line as
// JSON, rather than looking for pieces of text in it, keeps a member of a nested object or a
// quote inside a string from being taken for the member asked about. The watch request goes
// the other way, a value written as JSON.
//
// The whole of JSON (RFC 8259) is read: objects, arrays, strings with every escape (\uXXXX
// and surrogate pairs to UTF-8), numbers, true, false and null, white space between them.
// The bytes of a string are not checked for valid UTF-8; a number beyond a double is refused,
// and so is nesting deeper than kJsonDepthLimit, so a hostile line cannot exhaust the stack.
//
// Thread rule: pure functions; a JsonValue is a plain value.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

inline constexpr int kJsonDepthLimit = 64;

struct JsonMember;

struct JsonValue {
  enum class Kind { Null, Boolean, Number, String, Array, Object };

  Kind kind = Kind::Null;
  bool boolean = false;             // Boolean
  double number = 0;                // Number
  std::string text;                 // String, escapes resolved (UTF-8)
  std::vector<JsonValue> elements;  // Array, in order
  std::vector<JsonMember> members;  // Object, in order

  // The first member of that name; null when there is none or this is no object.
  const JsonValue* member(std::string_view name) const;
  // The member's text when it is a string; empty otherwise.
  std::string textOf(std::string_view name) const;
};

struct JsonMember {
  std::string name;
  JsonValue value;
};

// The one JSON value the text holds, white space around it allowed; nullopt when the text is
// not JSON (or nests too deep).
std::optional<JsonValue> ReadJson(std::string_view text);
// The value as JSON text without white space: members in their order, strings through the
// one escaper (link/json_text.h), numbers in the shortest form that reads back the same.
std::string WrittenJson(const JsonValue& value);
