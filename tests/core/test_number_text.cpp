// Every way a number is read from text, on one table: each reader against the C library
// function whose contract it keeps (atol, strtol with its end, strtod in the C locale,
// sscanf "%2x"), and the two readings of the speed box's text with their own rules. A view's
// end, and a NUL byte, end the text as they end a C string.
#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "link/number_text.h"
#include "link/port_open.h"
#include "link/status_rules.h"

namespace {

struct NumberRow {
  const char* legend;
  std::string text;
  int baudNumber;   // BaudNumberOf: the bandwidth estimate's reading
  long baudOfText;  // BaudOfText: the connect step's reading (0: "Error baud rate.")
};

std::optional<long> ReferenceWholeDecimal(const std::string& text) {
  const char* c = text.c_str();
  char* end = nullptr;
  errno = 0;
  const long value = std::strtol(c, &end, 10);
  if (errno != 0 || end == c || end != c + text.size()) return std::nullopt;
  return value;
}

TEST(NumberText, EachReaderKeepsItsCLibraryContract) {
  using namespace std::string_literals;
  const NumberRow rows[] = {
      {"empty", "", 0, 0},
      {"plain", "9600", 9600, 9600},
      {"leading zeros", "001", 1, 1},
      {"leading blanks", "  4800", 4800, 4800},
      {"blanks and a tab", " \t 42", 42, 42},
      {"every C blank before the number: the estimate takes only blanks and tabs", "\t\n\v\f\r 9", 0, 9},
      {"plus", "+19200", 19200, 19200},
      {"minus", "-4800", -4800, -4800},
      {"sign alone", "-", 0, 0},
      {"sign then blank", " +", 0, 0},
      {"double sign", "--1", 0, 0},
      {"blank between sign and digits", "- 1", 0, 0},
      {"inner blank", "48 00", 0, 0},
      {"trailing blank", "4800 ", 0, 0},
      {"stops at the first other character", "12abc", 0, 0},
      {"a decimal point ends the digits", "3.9", 0, 0},
      {"letters only", "abc", 0, 0},
      {"hex is no decimal", "0x1A", 0, 0},
      {"blanks only", "   ", 0, 0},
      {"a long run of blanks is never cut", std::string(300, ' ') + "17", 17, 17},
      {"largest int", "2147483647", 2147483647, 2147483647},
      {"beyond int: no rate for the estimate", "2147483648", 0, 2147483648L},
      {"lowest int", "-2147483648", 0, -2147483648L},
      {"eighteen digits, the longest run read without the scan's checks", "999999999999999999", 0, 999999999999999999L},
      {"largest long", "9223372036854775807", 0, LONG_MAX},
      {"just beyond long: saturates, not a whole number", "9223372036854775808", 0, 0},
      {"far beyond long", "99999999999999999999999", 0, 0},
      {"lowest long", std::to_string(LONG_MIN), 0, LONG_MIN},
      {"just below long", "-9223372036854775809", 0, 0},
      {"far below long", "-99999999999999999999999", 0, 0},
      {"two numbers", "1 2", 0, 0},
      {"a NUL ends a C string, not a view", "5\0x"s, 0, 5},
      {"fraction", "0.5", 0, 0},
      {"blanks before a fraction", "  1.25", 0, 0},
      {"exponent", "+4.5e1", 0, 0},
      {"exponent without digits", "1e", 0, 0},
      {"infinity", "inf", 0, 0},
      {"not a number", "nan", 0, 0},
      {"decimal comma", "12,5", 0, 0},
      {"point alone", ".", 0, 0},
      {"point last", "5.", 0, 0},
      {"point first", ".25", 0, 0},
      {"the most digits strtod's answer is exact for", "9007199254740991", 0, 9007199254740991L},
      {"one digit more than that: strtod rounds", "9007199254740993", 0, 9007199254740993L},
      {"seventeen digits: a quotient of the digits would round twice", "4139644425538.3364", 0, 0},
      {"twenty-two decimals", "0.1234567890123456789012", 0, 0},
      {"twenty-three decimals", "0.12345678901234567890123", 0, 0},
      {"exponent behind a fraction", "1.5E3", 0, 0},
      {"hexadecimal float", "0X1p4", 0, 0},
      {"a fraction then letters", "0.03kn", 0, 0},
      {"overflowing float", "1e999", 0, 0},
      {"hex digits", "1A", 0, 0},
      {"lower-case hex", "ff", 0, 0},
      {"three hex digits: two are read", "fff", 0, 0},
      {"hex prefix alone", "0x", 0, 0},
      {"hex prefix and a digit", "0xA", 0, 0},
      {"signed hex", "+f", 0, 0},
      {"negative hex wraps", "-1", -1, -1},
      {"blank before hex", " 7", 7, 7},
      {"no hex digit", "g", 0, 0},
      {"checksum and line end", "6C\r\n", 0, 0},
  };
  for (const NumberRow& row : rows) {
    SCOPED_TRACE(row.legend);
    const char* c = row.text.c_str();

    EXPECT_EQ(AtolOf(row.text), std::atol(c));
    char* end = nullptr;
    const long strtolValue = std::strtol(c, &end, 10);
    const DecimalScan scan = ScanDecimal(row.text);
    EXPECT_EQ(scan.end, static_cast<std::size_t>(end - c));
    if (scan.digits) {
      EXPECT_EQ(scan.value, strtolValue);
    }
    EXPECT_EQ(WholeDecimalOf(row.text), ReferenceWholeDecimal(row.text));

    const double strtodValue = std::strtod(c, &end);
    const FloatScan floatScan = ScanFloat(row.text);
    if (strtodValue != strtodValue) {
      EXPECT_NE(floatScan.value, floatScan.value);  // NaN
    } else {
      EXPECT_EQ(floatScan.value, strtodValue);
      EXPECT_EQ(StrtodOf(row.text), strtodValue);
    }
    EXPECT_EQ(floatScan.end, static_cast<std::size_t>(end - c));

    unsigned hexReference = 0;
    const bool hexConverted = std::sscanf(c, "%2x", &hexReference) == 1;
    unsigned hex = 0;
    EXPECT_EQ(ScanHexWidth2(row.text, hex), hexConverted);
    if (hexConverted) {
      EXPECT_EQ(hex, hexReference);
    }

    EXPECT_EQ(BaudNumberOf(row.text), row.baudNumber);
    EXPECT_EQ(BaudOfText(row.text), row.baudOfText);
  }
  // A view ends where it ends, without a NUL; a long field is read whole.
  EXPECT_EQ(AtolOf(std::string_view("12345", 2)), 12);
  EXPECT_EQ(StrtodOf(std::string_view("2.5999", 3)), 2.5);
  EXPECT_EQ(StrtodOf(std::string(300, '0') + "1.5"), 1.5);
  unsigned hex = 0;
  EXPECT_TRUE(ScanHexWidth2(std::string_view("AB", 1), hex));
  EXPECT_EQ(hex, 0xAu);
}

}  // namespace
