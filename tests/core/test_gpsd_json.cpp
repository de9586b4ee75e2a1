// gpsd's JSON as the watch reads it: the JSON reader over valid and malformed texts (what it
// read shown by writing it again), gpsd's reports (the class, an ERROR's message, a DEVICE's
// path and activation) read out of whole lines where a search for pieces of text would be
// misled, and the filter that takes gpsd's lines out of the raw stream, whole or split across
// reads. The real gpsd (test_cli_network, test_cli_monitor) covers the hand-shake; a device
// going inactive, which gpsd 3.22 does not tell a raw watch, is covered only here.
//
// Thread rule: single-threaded.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "net/gpsd_watch.h"
#include "net/json_value.h"

namespace {

std::string Nested(int depth) { return std::string(static_cast<std::size_t>(depth), '[') + std::string(depth, ']'); }

struct JsonRow {
  const char* legend;
  std::string text;
  std::string written;  // what was read, written again; empty: not JSON
};

void PrintTo(const JsonRow& row, std::ostream* os) { *os << row.legend; }

class JsonReaderTest : public ::testing::TestWithParam<JsonRow> {};

TEST_P(JsonReaderTest, ReadsJsonAndNothingElse) {
  const JsonRow& row = GetParam();
  const std::optional<JsonValue> value = ReadJson(row.text);
  if (row.written.empty()) {
    EXPECT_FALSE(value.has_value()) << WrittenJson(*value);
  } else {
    ASSERT_TRUE(value.has_value());
    EXPECT_EQ(WrittenJson(*value), row.written);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Texts, JsonReaderTest,
    ::testing::Values(
        JsonRow{"gpsd's greeting",
                R"({"class":"VERSION","release":"3.22","rev":"3.22","proto_major":3,"proto_minor":14})",
                R"({"class":"VERSION","release":"3.22","rev":"3.22","proto_major":3,"proto_minor":14})"},
        JsonRow{"a device list, objects in an array in an object",
                R"({"class":"DEVICES","devices":[{"path":"/dev/ttyUSB0","activated":"2024-05-01T10:00:00.000Z"}]})",
                R"({"class":"DEVICES","devices":[{"path":"/dev/ttyUSB0","activated":"2024-05-01T10:00:00.000Z"}]})"},
        JsonRow{"white space around every token, the line's CR LF", " { \"a\" : [ 1 , true , false , null ] } \r\n",
                R"({"a":[1,true,false,null]})"},
        JsonRow{"a name with a quote and a control character", R"({"n\"\u0001":1})", R"({"n\"\u0001":1})"},
        JsonRow{"empty object and array", R"({"a":{},"b":[]})", R"({"a":{},"b":[]})"},
        JsonRow{"the short escapes", R"(["q\"b\\s\/e","\b\f\n\r\t"])", R"(["q\"b\\s/e","\u0008\u000c\n\r\t"])"},
        JsonRow{"\\u escapes to UTF-8: one, two and three bytes", R"("\u0041\u00e9\u20AC")",
                "\"A\xC3\xA9\xE2\x82\xAC\""},
        JsonRow{"a surrogate pair is one character of four bytes", R"("\ud83d\ude00")", "\"\xF0\x9F\x98\x80\""},
        JsonRow{"bytes above 0x7F pass as they are", "\"\xC2\xB0\"", "\"\xC2\xB0\""},
        JsonRow{"numbers: zero, minus zero, fractions, exponents", "[0,-0,1.5,-12.25e2,1E3,2.5e-3,7e+1]",
                "[0,-0,1.5,-1225,1000,0.0025,70]"},
        JsonRow{"a scalar alone", "42", "42"}, JsonRow{"a string alone", R"("text")", "\"text\""},
        JsonRow{"nesting to the limit", Nested(kJsonDepthLimit), Nested(kJsonDepthLimit)}, JsonRow{"nothing", "", ""},
        JsonRow{"only white space", " \r\n", ""}, JsonRow{"nesting past the limit", Nested(kJsonDepthLimit + 1), ""},
        JsonRow{"a comma before the closing brace", R"({"a":1,})", ""},
        JsonRow{"a comma before the closing bracket", "[1,]", ""}, JsonRow{"no colon", R"({"a" 1})", ""},
        JsonRow{"a name without quotes", "{a:1}", ""}, JsonRow{"single quotes", "{'a':1}", ""},
        JsonRow{"an object not closed", R"({"a":1)", ""}, JsonRow{"a string not closed", R"({"a":"b)", ""},
        JsonRow{"a tab inside a string", "\"a\tb\"", ""}, JsonRow{"an escape JSON has not", R"("\x41")", ""},
        JsonRow{"a \\u escape of three digits", R"("\u041")", ""},
        JsonRow{"a \\u escape that is no hex", R"("\u00g1")", ""}, JsonRow{"a low surrogate alone", R"("\udc00")", ""},
        JsonRow{"a high surrogate alone", R"("\ud83d")", ""},
        JsonRow{"a high surrogate before no low one", R"("\ud83d\u0041")", ""}, JsonRow{"a leading zero", "01", ""},
        JsonRow{"a minus alone", "-", ""}, JsonRow{"no digit after the point", "1.", ""},
        JsonRow{"no digit before the point", ".5", ""}, JsonRow{"no digit in the exponent", "1e", ""},
        JsonRow{"a plus sign", "+1", ""}, JsonRow{"a number beyond a double", "1e999", ""},
        JsonRow{"true cut short", "tru", ""}, JsonRow{"null cut short", "nul", ""}, JsonRow{"two values", "{} {}", ""},
        JsonRow{"bytes after the value", R"({"a":1}x)", ""}));

struct ReportRow {
  const char* legend;
  std::string line;
  GpsdReport::Kind kind;
  std::string message;  // Error
  std::string path;     // Device
  bool deactivated;     // Device
};

void PrintTo(const ReportRow& row, std::ostream* os) { *os << row.legend; }

class GpsdReportTest : public ::testing::TestWithParam<ReportRow> {};

TEST_P(GpsdReportTest, SaysWhatTheLineSays) {
  const ReportRow& row = GetParam();
  const GpsdReport report = ReadGpsdReport(row.line);
  EXPECT_EQ(report.kind, row.kind);
  EXPECT_EQ(report.message, row.message);
  EXPECT_EQ(report.path, row.path);
  EXPECT_EQ(report.deactivated, row.deactivated);
}

using Kind = GpsdReport::Kind;

INSTANTIATE_TEST_SUITE_P(
    Lines, GpsdReportTest,
    ::testing::Values(
        ReportRow{"the watch's answer",
                  R"({"class":"WATCH","enable":true,"json":false,"nmea":false,"raw":1,"scaled":false})", Kind::Watch,
                  "", "", false},
        ReportRow{"a refusal with gpsd's words", R"({"class":"ERROR","message":"No such device as /dev/x"})",
                  Kind::Error, "No such device as /dev/x", "", false},
        ReportRow{"a refusal whose words hold a quote", R"({"class":"ERROR","message":"bad \"device\" given"})",
                  Kind::Error, "bad \"device\" given", "", false},
        ReportRow{"gpsd closed the device", R"({"class":"DEVICE","path":"/dev/ttyUSB0","activated":0})", Kind::Device,
                  "", "/dev/ttyUSB0", true},
        ReportRow{"gpsd opened the device: activated is a time",
                  R"({"class":"DEVICE","path":"/dev/ttyUSB0","activated":"2024-05-01T10:00:00.000Z"})", Kind::Device,
                  "", "/dev/ttyUSB0", false},
        ReportRow{"activated 0 as text is no closing", R"({"class":"DEVICE","path":"/dev/ttyUSB0","activated":"0"})",
                  Kind::Device, "", "/dev/ttyUSB0", false},
        ReportRow{"a closed device inside a device list is the list's",
                  R"({"class":"DEVICES","devices":[{"class":"DEVICE","path":"/dev/ttyUSB0","activated":0}]})",
                  Kind::Other, "", "", false},
        ReportRow{"the class of a nested object is not the line's",
                  R"({"devices":[{"class":"WATCH"}],"class":"DEVICES"})", Kind::Other, "", "", false},
        ReportRow{"a path member of a nested object is not the device's",
                  R"({"class":"DEVICE","driver":{"path":"/dev/other"},"path":"/dev/ttyUSB0","activated":0})",
                  Kind::Device, "", "/dev/ttyUSB0", true},
        ReportRow{"the greeting", R"({"class":"VERSION","release":"3.22"})", Kind::Other, "", "", false},
        ReportRow{"a line cut short", R"({"class":"WATCH","enable":tr)", Kind::Other, "", "", false},
        ReportRow{"JSON that is no object", R"(["class","WATCH"])", Kind::Other, "", "", false}));

struct FilterRow {
  const char* legend;
  std::string stream;
  std::size_t chunkBytes;  // the stream arrives in reads of this many bytes
  bool collecting;         // during the hand-shake
  std::string device;      // the watched device; empty for all of gpsd's
  std::string passed;
  std::vector<Kind> reports;  // collected, in order
  bool gone;
};

void PrintTo(const FilterRow& row, std::ostream* os) { *os << row.legend; }

class GpsdLineFilterTest : public ::testing::TestWithParam<FilterRow> {};

TEST_P(GpsdLineFilterTest, TakesOutGpsdsLinesOnly) {
  const FilterRow& row = GetParam();
  GpsdLineFilter filter;
  filter.collect(row.collecting);
  filter.watchDevice(row.device);
  std::string passed;
  for (std::size_t at = 0; at < row.stream.size(); at += row.chunkBytes) {
    filter.feed(row.stream.data() + at, std::min(row.chunkBytes, row.stream.size() - at), passed);
  }
  EXPECT_EQ(passed, row.passed);
  std::vector<Kind> kinds;
  for (const GpsdReport& report : filter.takeReports()) kinds.push_back(report.kind);
  EXPECT_EQ(kinds, row.reports);
  EXPECT_EQ(filter.deviceGone(), row.gone);
}

const std::string kGga = "$GPGGA,064951.000,2307.1256,N,12016.4438,E,1,8,0.95,39.9,M,17.8,M,,*65\r\n";
const std::string kRmc = "$GPRMC,064951.000,A,2307.1256,N,12016.4438,E,0.03,165.48,260406,,,A*55\r\n";
const std::string kHandShake = R"({"class":"VERSION","release":"3.22","proto_major":3,"proto_minor":14})"
                               "\r\n" +
                               kGga + R"({"class":"DEVICES","devices":[{"path":"/dev/ttyUSB0"}]})" + "\r\n" +
                               R"({"class":"WATCH","enable":true,"raw":1})" + "\r\n" + kRmc;
const std::string kClosed = std::string(R"({"class":"DEVICE","path":"/dev/ttyUSB0","activated":0})") + "\r\n";

INSTANTIATE_TEST_SUITE_P(
    Streams, GpsdLineFilterTest,
    ::testing::Values(
        FilterRow{"the hand-shake: gpsd's lines out, the sentences between them kept",
                  kHandShake,
                  4096,
                  true,
                  "/dev/ttyUSB0",
                  kGga + kRmc,
                  {Kind::Other, Kind::Other, Kind::Watch},
                  false},
        FilterRow{"the same a byte a read",
                  kHandShake,
                  1,
                  true,
                  "/dev/ttyUSB0",
                  kGga + kRmc,
                  {Kind::Other, Kind::Other, Kind::Watch},
                  false},
        FilterRow{"the same in reads of 7 bytes",
                  kHandShake,
                  7,
                  true,
                  "",
                  kGga + kRmc,
                  {Kind::Other, Kind::Other, Kind::Watch},
                  false},
        FilterRow{"a brace inside a sentence is the sentence's",
                  "$GPTXT,01,01,02,{x}*00\r\n",
                  3,
                  true,
                  "",
                  "$GPTXT,01,01,02,{x}*00\r\n",
                  {},
                  false},
        FilterRow{"a brace after a line's start is no JSON line",
                  "garbage{\"class\":\"WATCH\"}\r\n" + kGga,
                  4096,
                  true,
                  "",
                  "garbage{\"class\":\"WATCH\"}\r\n" + kGga,
                  {},
                  false},
        FilterRow{"a JSON line past the length limit is dropped unread",
                  R"({"class":"WATCH","pad":")" + std::string(70000, 'x') + "\"}\r\n" + kGga,
                  4096,
                  true,
                  "",
                  kGga,
                  {},
                  false},
        FilterRow{"after the hand-shake nothing is collected",
                  kHandShake,
                  4096,
                  false,
                  "/dev/ttyUSB0",
                  kGga + kRmc,
                  {},
                  false},
        FilterRow{"the watched device closed: gone", kGga + kClosed, 4096, false, "/dev/ttyUSB0", kGga, {}, true},
        FilterRow{"the same split across reads", kGga + kClosed, 5, false, "/dev/ttyUSB0", kGga, {}, true},
        FilterRow{"another device closed", kGga + kClosed, 4096, false, "/dev/ttyUSB1", kGga, {}, false},
        FilterRow{"no device named: one of gpsd's devices closing ends nothing",
                  kGga + kClosed,
                  4096,
                  false,
                  "",
                  kGga,
                  {},
                  false},
        FilterRow{"a closing that is not a whole line yet",
                  kGga + kClosed.substr(0, kClosed.size() - 1),
                  4096,
                  false,
                  "/dev/ttyUSB0",
                  kGga,
                  {},
                  false}));

}  // namespace
