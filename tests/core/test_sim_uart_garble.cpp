// The simulated line at the wrong rate: what a UART reads of bytes sent at another rate.
// Single frames worked out by hand, the tolerance a real UART has, and a real capture read
// at every wrong pairing of the window's speeds: bytes come, but no sentence passes the
// program's own cutter and checksum test.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "link/nmea_sentence.h"
#include "sim/uart_garble.h"
#include "tests/support/files.h"

namespace {

using namespace std::string_literals;

struct FrameRow {
  const char* legend;
  std::string sent;
  std::uint32_t txBaud;
  std::uint32_t rxBaud;
  double phase;
  std::string read;
  int framingErrors;
};

void PrintTo(const FrameRow& row, std::ostream* os) { *os << row.legend; }

class UartFrameTest : public ::testing::TestWithParam<FrameRow> {};

TEST_P(UartFrameTest, ReadsWhatAUartAtItsRateWouldRead) {
  const FrameRow& row = GetParam();
  const sim::UartReading reading = sim::ReadAtRate(row.sent, row.txBaud, row.rxBaud, row.phase);
  EXPECT_EQ(reading.bytes, row.read);
  EXPECT_EQ(reading.framingErrors, row.framingErrors);
}

const std::string kSentence = "$GPRMC,202640.000,A,4404.1306,N,12118.8515,W,0.03,225.97,130415,,,D*73\r\n";

INSTANTIATE_TEST_SUITE_P(
    Frames, UartFrameTest,
    ::testing::Values(FrameRow{"same rate: the bytes as sent, whatever the phase", kSentence, 9600, 9600, 0.0,
                               kSentence, 0},
                      FrameRow{"same rate, the reader's ticks just before the sender's edges", kSentence, 9600, 9600,
                               0.999, kSentence, 0},
                      FrameRow{"2 % apart (115200 sent, 117504 read): within a UART's tolerance", kSentence, 115200,
                               117504, 0.5, kSentence, 0},
                      // 0x55 is 0 1010 1010 1 on the line; each sent bit lasts two read bits. The first frame
                      // reads 0 0 1 1 0 0 1 1 0 (data 0x66) and finds its stop bit low; the second begins at the
                      // next falling edge and runs into the idle line: 0x E6.
                      FrameRow{"0x55 sent at 9600, read at 19200: 66 E6, one framing error", "\x55", 9600, 19200, 0.0,
                               "\x66\xE6"s, 1},
                      // Nine low bits at 19200 last four and a half bits at 9600: the reader's bit 3 falls on the
                      // stop bit, the rest on the idle line.
                      FrameRow{"0x00 sent at 19200, read at 9600: F8", "\x00"s, 19200, 9600, 0.0, "\xF8", 0},
                      FrameRow{"nothing sent: nothing read", "", 4800, 115200, 0.3, "", 0},
                      FrameRow{"a rate of 0: nothing read", kSentence, 0, 9600, 0.0, "", 0}));

std::string CaptureText() { return testsupport::ReadTestData("mt3339.log"); }

// Sentences of the stream that pass the program's checksum test, cut as the reader cuts.
int ValidSentences(const std::string& stream) {
  SentenceCutter cutter;
  int valid = 0;
  const auto count = [&](std::string_view sentence) { valid += VerifyChecksum(sentence) ? 1 : 0; };
  cutter.feed(stream.data(), stream.size(), count);
  cutter.flushComplete(count);
  return valid;
}

// The capture's lines written one by one, as the simulated receiver writes its sentences,
// read through one direction of a line.
std::string ReadLines(sim::UartGarble& uart, const std::string& capture, std::uint32_t txBaud, std::uint32_t rxBaud) {
  std::string read;
  for (std::size_t at = 0; at < capture.size();) {
    const std::size_t end = std::min(capture.find('\n', at), capture.size() - 1) + 1;
    read += uart.read(std::string_view(capture).substr(at, end - at), txBaud, rxBaud);
    at = end;
  }
  return read;
}

TEST(UartGarble, EveryWrongPairingOfTheSpeedsReadsBytesButNoSentence) {
  const std::string capture = CaptureText();
  ASSERT_GT(ValidSentences(capture), 100);
  const std::vector<std::uint32_t> speeds = {4800, 9600, 14400, 19200, 38400, 57600, 115200};
  for (const std::uint32_t tx : speeds) {
    for (const std::uint32_t rx : speeds) {
      SCOPED_TRACE(std::to_string(tx) + " sent, " + std::to_string(rx) + " read");
      sim::UartGarble uart(7);
      const std::string read = ReadLines(uart, capture, tx, rx);
      if (tx == rx) {
        EXPECT_EQ(read, capture);
        continue;
      }
      EXPECT_FALSE(read.empty()) << "a talking receiver never reads as a silent line";
      EXPECT_EQ(ValidSentences(read), 0);
    }
  }
}

TEST(UartGarble, SameSeedSameGarbage) {
  const std::string capture = CaptureText();
  sim::UartGarble first(3);
  sim::UartGarble again(3);
  sim::UartGarble other(4);
  const std::string a = ReadLines(first, capture, 115200, 4800);
  EXPECT_EQ(a, ReadLines(again, capture, 115200, 4800));
  EXPECT_NE(a, ReadLines(other, capture, 115200, 4800)) << "the phase is drawn from the seed";
}

}  // namespace
