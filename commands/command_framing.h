// Turning command bodies into NMEA frames and putting them on the line, and the table of
// every fixed command the program sends, with the byte count that is part of each one.
//
// Frames go out through CommandPort, a two-operation writer (write bytes, pause), so the
// window (serial port, pausing its own thread), the command-line tool and the tests
// (recording) share one set of rules.
//
// Thread rule: the functions here are pure or write only to the port they are given; a
// CommandPort is used by one thread at a time (the thread that sends commands).
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Two upper-case hexadecimal digits of the XOR of data[1 .. length-1]. Byte 0 (the "$")
// is skipped; a length of 1 or less gives "00".
std::string NmeaChecksum(const char* data, int length);
std::string NmeaChecksum(std::string_view body);

// "$BODY" -> "$BODY*hh\r\n". Never carries a zero byte.
std::string FrameCommand(std::string_view body);

// The longest body, between "$" and "*", of a command the user writes himself: NMEA 0183
// allows a sentence 82 characters, of which "$", "*hh" and CR LF take six. Every command of
// the receivers' manuals fits; a longer one may be cut by the receiver's input buffer.
inline constexpr std::size_t kLongestCommandBody = 76;
// Why a body the user wrote ("PMTK220,200", without "$") cannot go out as one command, in
// words naming the character; nullopt when it can. It must be printable ASCII (0x20-0x7E),
// hold neither "$" nor "*" (the frame adds them: either would end the sentence early or
// start another) and have 1 to kLongestCommandBody characters.
std::optional<std::string> CommandBodyProblem(std::string_view body);

// Where commands go. write() puts the bytes on the line as one write; pauseMs() blocks
// the sending thread (the window thread in the program: reception waits meanwhile).
class CommandPort {
 public:
  virtual ~CommandPort() = default;
  virtual void write(const void* data, std::size_t size) = 0;
  virtual void pauseMs(int ms) = 0;
};

// A stored, complete frame and the number of bytes written for it. The count is either the
// frame's characters or one more, which puts the literal's terminating zero byte on the line
// after the LF; the receiver ignores that byte, but the count is part of the command.
// Checked at compile time: a count that is neither is a build error.
struct FixedCommand {
  const char* text;
  std::size_t count;

  consteval FixedCommand(const char* frame, std::size_t byteCount) : text(frame), count(byteCount) {
    std::size_t characters = 0;
    while (frame[characters] != '\0') ++characters;
    if (byteCount != characters && byteCount != characters + 1) {
      throw "byte count must be the frame's characters, or those and the zero byte";
    }
  }
  // Exactly the bytes written, zero byte included when the count says so.
  std::string_view bytes() const { return std::string_view(text, count); }
};

// The fixed commands. Where one frame is sent with two counts, both are listed: the
// difference is deliberate and is what the receiver has always been sent.
inline constexpr FixedCommand kHotRestart{"$PMTK101*32\r\n", 14};
inline constexpr FixedCommand kWarmRestart{"$PMTK102*31\r\n", 14};
inline constexpr FixedCommand kColdRestart{"$PMTK103*30\r\n", 14};
inline constexpr FixedCommand kDefaultOutputRates{"$PMTK314,-1*04\r\n", 17};
inline constexpr FixedCommand kOutputRateQuery{"$PMTK414*33\r\n", 14};       // "Query" button
inline constexpr FixedCommand kOutputRateQueryShort{"$PMTK414*33\r\n", 13};  // after a rate change, on connect
inline constexpr FixedCommand kFixPeriodQuery{"$PMTK400*36\r\n", 14};
inline constexpr FixedCommand kDgpsModeQuery{"$PMTK401*37\r\n", 14};       // "Query" and fix-rate "Set"
inline constexpr FixedCommand kDgpsModeQueryShort{"$PMTK401*37\r\n", 13};  // after a DGPS mode change
inline constexpr FixedCommand kDgpsCompanionQuery{"$PMTK602*36\r\n", 14};  // reply not handled
inline constexpr FixedCommand kVersionQuery{"$PMTK605*31\r\n", 13};
inline constexpr FixedCommand kEpoStateQuery{"$PMTK607*33\r\n", 14};
inline constexpr FixedCommand kEpoClear{"$PMTK127*36\r\n", 13};
inline constexpr FixedCommand kBinaryProtocolSwitch{"$PMTK253,1,115200*00\r\n", 22};

// Bodies framed at run time (no values to fill in).
inline constexpr std::string_view kFixRateResetBody = "$PZRN818";
inline constexpr std::string_view kModeQueryBody = "$PZRN000,MODE";

// Frames the body and writes it with one write; no zero byte.
void SendFramedCommand(CommandPort& port, std::string_view body);
// Writes the first `count` bytes of `text` with one write. The caller guarantees that `text`
// holds at least `count` bytes (a literal's zero byte counts); FixedCommand checks it.
void SendFixedCommand(CommandPort& port, const char* text, std::size_t count);
void SendFixedCommand(CommandPort& port, const FixedCommand& command);

// A port that only records, for tests and for showing what a command would send.
class RecordingCommandPort : public CommandPort {
 public:
  struct Event {
    std::string bytes;  // one write; empty for a pause
    int pauseMs = 0;    // one pause; 0 for a write
  };
  void write(const void* data, std::size_t size) override;
  void pauseMs(int ms) override;

  std::vector<Event> events;
  std::string allBytes() const;  // every write joined, in order
  int totalPauseMs() const;
};
