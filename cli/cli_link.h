// The receiver's port for the command-line tool: opened with the window's connect steps,
// read by the core's read loop on a thread of its own, each sentence handed to the main
// thread through a queue. The queue is bounded; when the main thread falls behind, the
// reader waits for it (as the window's reader waits for its hand-off), so no sentence is
// ever lost between the two.
//
// Thread rule: the reader thread only runs RunReaderLoop and pushes into the queue; every
// other member is for the main thread. The destructor stops the reader and joins it before
// the port goes away.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "commands/receiver_commands.h"
#include "link/byte_stream.h"
#include "link/link_error.h"

class ReceiverLink;

// The --baud value that asks for the receiver's rate to be found.
inline constexpr const char* kAutoBaudText = "auto";

// Waits until portText leads to a device that opens again (looked up afresh each time; with
// fromMapEntry only through a port map entry, so the name never reaches another device) or a
// stop is requested (null then).
std::unique_ptr<ReceiverLink> WaitForPort(const std::string& portText, const std::string& baudText, bool fromMapEntry);

class ReceiverLink {
 public:
  using Clock = std::chrono::steady_clock;

  // Opens portText ("Com3", or a device path) at baudText through the connect steps. On
  // failure returns null and the failed step with its cause in *error. baudText "auto":
  // the port, opened once, is listened to at the likely rates until the receiver's shows
  // (link/baud_detect.h), which is then said on standard error; what was read meanwhile at
  // that rate goes to the reader first.
  static std::unique_ptr<ReceiverLink> open(const std::string& portText, const std::string& baudText, LinkError* error);
  ~ReceiverLink();
  ReceiverLink(const ReceiverLink&) = delete;
  ReceiverLink& operator=(const ReceiverLink&) = delete;

  void startReader();
  // Ends the reader and joins it; sentences already queued stay available, and so do those
  // the reader had received but not yet handed over (takeQueued()).
  void stopReader();

  // The next sentence as cut from the stream ("$" up to the next "$"), waiting at most until
  // deadline. Nullopt at the deadline, once a stop has been requested (Ctrl-C, SIGTERM), or
  // once the device has gone and every sentence read before has been taken (lost()).
  std::optional<std::string> nextSentence(Clock::time_point deadline);
  // Set once the reader found the device gone: which device, and why.
  std::optional<LinkError> lost() const;
  // The next sentence already queued, without waiting and whatever the stop request: what
  // is left after stopReader(), so that nothing received is lost on Ctrl-C.
  std::optional<std::string> takeQueued();

  // Writes the steps of a button's sequence, with its pauses, on the calling thread.
  void send(const CommandSequence& sequence);

  ByteStream& port() { return *port_; }
  const std::string& devicePath() const { return devicePath_; }
  // The line speed in use: as given, or as found with "auto".
  std::uint32_t baud() const { return baud_; }

 private:
  ReceiverLink() = default;
  void deliver(std::string_view sentence);
  // The "auto" part of open(): finds and keeps the rate; false and *error when none shows.
  bool detectBaud(const std::string& portText, LinkError* error);

  std::shared_ptr<ByteStream> port_;
  std::string devicePath_;
  std::uint32_t baud_ = 0;
  std::string readBeforeReader_;  // what detection read at the rate found
  std::thread reader_;
  std::atomic<bool> readerStop_{false};
  mutable std::mutex mutex_;
  std::condition_variable arrived_;
  std::condition_variable drained_;
  std::deque<std::string> queue_;
  std::optional<LinkError> lost_;  // under mutex_
};
