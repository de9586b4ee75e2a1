// libFuzzer target for what a hostile or broken gpsd (or anything listening where gpsd should)
// can reach: the filter that takes gpsd's lines out of the raw stream, under arbitrary read
// sizes (derived from the input), and the JSON reader with the report read from each line.
// The filter must pass exactly the lines that do not begin with "{", whatever the reads; a
// value the reader accepts, written again (strings through the program's one escaper), must
// read back the same. Any broken invariant aborts, so the fuzzer reports it like a crash.
//
// Thread rule: single-threaded, as libFuzzer calls it.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "net/gpsd_watch.h"
#include "net/json_value.h"

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
    const std::string written = WrittenJson(*value);
    const std::optional<JsonValue> again = ReadJson(written);
    Require(again.has_value(), "a value written again reads again");
    Require(WrittenJson(*again) == written, "a value written again reads the same");
  }
  const GpsdReport report = ReadGpsdReport(input);
  Require(value.has_value() || report.kind == GpsdReport::Kind::Other, "a report only from JSON");
  return 0;
}
