// Reading a sentence log into a survey of the fix. The log is what the window's log and
// `torvikel-cli log` write (the receiver's sentences byte for byte), or any capture of NMEA:
// bytes outside sentences, sentences whose checksum fails and sentences cut short are
// counted and skipped.
//
// The time axis is the receiver's own clock, made to run forward: an epoch is the GGA, RMC,
// GSA and GSV of one time of day. Between two epochs with a fix the clock is trusted (a step
// back is counted and drawn at the time before; a step across midnight adds a day; a long step
// is a gap). Without a fix on either side the receiver's clock may still be unset, or be set
// just then (a jump of hours): such steps count as the receiver's usual interval.
//
// Bounded: a log of any length keeps at most kMaxColumns columns per series and per satellite.
// The scatter keeps every fix (12 bytes each), as its statistics use every fix.
//
// Thread rule: one LogSurvey belongs to one thread.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "report/survey.h"

class LogSurvey {
 public:
  LogSurvey();
  ~LogSurvey();
  LogSurvey(const LogSurvey&) = delete;
  LogSurvey& operator=(const LogSurvey&) = delete;

  // Any number of chunks, cut anywhere.
  void feed(const char* data, std::size_t size);
  void feed(std::string_view bytes) { feed(bytes.data(), bytes.size()); }
  // Ends the log: the last epoch is counted, statistics and notes are made. Call once.
  Survey finish();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// The survey of a whole byte string.
Survey SurveyOfBytes(std::string_view bytes);
// The survey of a file, read in chunks. Nothing when it cannot be read; `problem` says why
// ("cannot read LOG (No such file or directory)").
std::optional<Survey> SurveyOfFile(const std::string& path, std::string* problem);
