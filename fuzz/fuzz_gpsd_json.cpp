// libFuzzer target for what a hostile or broken gpsd (or anything listening where gpsd should)
// can reach: the filter that takes gpsd's lines out of the raw stream, under arbitrary read
// sizes (derived from the input), and the JSON reader with the report read from each line.
// The filter must pass exactly the lines that do not begin with "{", whatever the reads; a
// value the reader accepts, written again with the program's own escaper, must read back the
// same. Any broken invariant aborts, so the fuzzer reports it like a crash.
//
// Thread rule: single-threaded, as libFuzzer calls it.
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "link/json_text.h"
#include "net/gpsd_watch.h"
#include "net/json_reader.h"

namespace {

void Require(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
  }
}

// The filter's rule written plainly: whole lines, those that begin with "{" left out.
std::string ReferenceFilter(std::string_view stream) {
  std::string out;
  bool lineStart = true;
  bool dropping = false;
  for (const char c : stream) {
    if (lineStart && c == '{') dropping = true;
    if (!dropping) out += c;
    lineStart = c == '\n';
    if (c == '\n') dropping = false;
  }
  return out;
}

// The value as JSON again, strings through the program's escaper.
std::string Written(const JsonValue& value) {
  switch (value.kind) {
    case JsonValue::Kind::Null: return "null";
    case JsonValue::Kind::Boolean: return value.boolean ? "true" : "false";
    case JsonValue::Kind::Number: {
      char digits[32];
      const auto [end, error] = std::to_chars(digits, digits + sizeof digits, value.number);
      Require(error == std::errc(), "a number that was read can be written");
      return std::string(digits, end);
    }
    case JsonValue::Kind::String: return JsonQuoted(value.text);
    case JsonValue::Kind::Array: {
      std::string out = "[";
      for (const JsonValue& element : value.elements) out += (out.size() > 1 ? "," : "") + Written(element);
      return out + "]";
    }
    case JsonValue::Kind::Object: {
      std::string out = "{";
      for (const auto& [name, member] : value.members) {
        out += (out.size() > 1 ? "," : "") + JsonQuoted(name) + ":" + Written(member);
      }
      return out + "}";
    }
  }
  return {};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);

  // Read sizes from the first byte: 1 to 16 bytes a read.
  const std::size_t chunk = size > 0 ? 1 + data[0] % 16 : 1;
  GpsdLineFilter whole;
  GpsdLineFilter split;
  whole.watchDevice("/dev/ttyUSB0");
  split.watchDevice("/dev/ttyUSB0");
  std::string passedWhole;
  std::string passedSplit;
  whole.feed(input.data(), input.size(), passedWhole);
  for (std::size_t at = 0; at < input.size(); at += chunk) {
    split.feed(input.data() + at, std::min(chunk, input.size() - at), passedSplit);
  }
  Require(passedWhole == passedSplit, "the reads do not change what passes");
  Require(whole.deviceGone() == split.deviceGone(), "the reads do not change a device's loss");
  Require(passedWhole == ReferenceFilter(input), "exactly the lines that begin with { are taken out");

  const std::optional<JsonValue> value = ReadJson(input);
  if (value) {
    const std::string written = Written(*value);
    const std::optional<JsonValue> again = ReadJson(written);
    Require(again.has_value(), "a value written again reads again");
    Require(Written(*again) == written, "a value written again reads the same");
  }
  const GpsdReport report = ReadGpsdReport(input);
  Require(value.has_value() || report.kind == GpsdReport::Kind::Other, "a report only from JSON");
  return 0;
}
