// What happens when handling one sentence fails (an exception out of a parser, a clock, a
// display step): never fatal, since reception must go on; never silent, since the first
// failure is reported with its cause; and counted, so the rest are not lost either. Every
// front end applies this one policy, whatever it reports through.
//
// Thread rule: belongs to the thread that handles sentences.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

class HandlerFailures {
 public:
  // Counts one failure. True for the first since the last reset: the one to report.
  // Never throws: it runs inside the handlers that catch the failure.
  bool record(std::string_view cause) noexcept {
    if (count_++ > 0) return false;
    try {
      first_ = cause;
    } catch (...) {
      first_.clear();  // no memory left for the text: the count still tells
    }
    return true;
  }
  std::uint64_t count() const { return count_; }
  // The cause of the first failure; empty while there was none.
  const std::string& first() const { return first_; }
  // A new connection starts a new count.
  void reset() {
    count_ = 0;
    first_.clear();
  }

 private:
  std::uint64_t count_ = 0;
  std::string first_;
};
