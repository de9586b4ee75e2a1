// One receiver's link, the same for the window and the command-line tool: the connect steps
// (the port opened by its name, its speed found when asked), the reader on a thread of its
// own handing each read's sentences to the front end, the first queries that "On" sends, the
// commands written with their pauses, replies awaited, and the endings (a stop, a line that
// went away). A front end supplies only how it takes sentences over (ReaderHandOver): the
// window hands them to its own thread and waits there, the command-line tool queues them
// for its main thread (SentenceQueue).
//
// Thread rule: a session is opened, used and destroyed on one thread (the front end's); the
// reader thread touches only the stream's reading side and the hand-over it was given.
// stopReader() and the destructor join the reader before anything it uses goes away, so no
// descriptor is closed while the reader can still use it.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "commands/nmea_session.h"
#include "commands/receiver_commands.h"
#include "link/baud_detect.h"
#include "link/byte_stream.h"
#include "link/link_error.h"
#include "link/reader_loop.h"

// The --baud value that asks for the receiver's rate to be found.
inline constexpr const char* kAutoBaudText = "auto";

struct LinkOpenRequest {
  std::string portText;          // "Com3"; with allowDevicePath also a device path or a network address
  std::string baudText;          // the speed box's text, or kAutoBaudText: listen at the likely rates
  bool allowDevicePath = false;  // the command-line tool's --port
  // Looked at while a network receiver connects and while the rate is sought: true ends either.
  std::function<bool()> stopRequested;
};

// How a front end takes the reader's sentences over. Called on the reader thread.
class ReaderHandOver {
 public:
  virtual ~ReaderHandOver() = default;
  // Each sentence as cut from the stream ("$" up to the next "$"), in order; the view lives
  // only during the call.
  virtual void sentence(std::string_view sentence) = 0;
  // After the sentences of one read have all been given; may wait until the front end has
  // handled them.
  virtual void readDone() {}
  // The line went away; every sentence read before has been given. The reader then ends.
  virtual void lost(const LinkError& error) = 0;
  // The reader is being stopped (from the front end's thread): any wait of the reader for the
  // front end must end now, or the join would wait for a thread that waits for the joiner.
  virtual void release() {}
};

class LinkSession {
 public:
  using Clock = std::chrono::steady_clock;

  // The connect steps; null and the failed step with its cause in *error. With kAutoBaudText
  // the line is opened at the first likely rate and listened to until the receiver's rate
  // shows (link/baud_detect.h); what was read meanwhile at that rate goes to the reader first.
  static std::unique_ptr<LinkSession> open(const LinkOpenRequest& request, LinkError* error);
  ~LinkSession();
  LinkSession(const LinkSession&) = delete;
  LinkSession& operator=(const LinkSession&) = delete;

  ByteStream& stream() { return *stream_; }
  // For a front end that keeps the stream beyond a call (the window's upload).
  const std::shared_ptr<ByteStream>& sharedStream() const { return stream_; }
  const std::string& devicePath() const { return devicePath_; }
  // The line speed in use: as given, or as found.
  std::uint32_t baud() const { return baud_; }
  // Found by listening, not given.
  bool baudWasFound() const { return baudFound_; }
  // Read through gpsd: nothing may be written.
  bool isReadOnly() const { return stream_->isReadOnly(); }

  // As "On" connects: the reader first, so that no reply is missed, then the four first
  // queries, unless nothing may be written (through gpsd they are simply left out).
  void connect(ReaderHandOver& handOver, const ReaderLoopOptions& options = {});
  void startReader(ReaderHandOver& handOver, ReaderLoopOptions options = {});
  bool readerRunning() const { return reader_.joinable(); }
  // Ends the reader and joins it. Returns the sentences it had read but not given over (the
  // last complete one before a quiet line, when the stop came first).
  std::vector<std::string> stopReader();

  // Writes the steps of a sequence, with its pauses, on the calling thread. False, with
  // nothing written, when the link is read-only.
  bool send(const CommandSequence& sequence);

  // Sets the serial line to baud and listens there for at most listenMs until valid
  // sentences show that the receiver talks at it (link/baud_detect.h; nothing is written),
  // through any garbage first: a receiver that has just been told to move may still be
  // sending at the old rate what it had queued.
  // Found: baud is the link's rate from now on, and what was read there goes to the next
  // reader. Not found: the line stays at baud; the result says what came. The reader must be
  // stopped; a link without a serial line (a network receiver) fails at once.
  BaudDetectResult listenAt(std::uint32_t baud, int listenMs, const std::function<bool()>& stopRequested);

  // Closes the line and opens it again at baud, setting nothing else (the assisted-GPS
  // update's switch to its own rate and its hand-back): portText and selectedIndex as the
  // port box has them. The reader must be stopped, and no other thread may still use the
  // stream. False, the line closed and the cause in *error, when it cannot be opened again.
  bool reopenAtBaud(const std::string& portText, int selectedIndex, std::uint32_t baud, LinkError* error);

 private:
  LinkSession() = default;

  std::shared_ptr<ByteStream> stream_;
  std::string devicePath_;
  std::uint32_t baud_ = 0;
  bool baudFound_ = false;
  std::string readBeforeReader_;  // what the rate's detection read at the rate found
  std::thread reader_;
  std::atomic<bool> readerStop_{false};
  ReaderHandOver* handOver_ = nullptr;
  std::vector<std::string> heldBack_;  // the reader's, read after the join
};

// The command-line tool's hand-over: a bounded queue that the main thread takes sentences
// from. When the main thread falls behind, the reader waits for room (as the window's reader
// waits for its hand-off), so no sentence is ever lost between the two.
class SentenceQueue : public ReaderHandOver {
 public:
  using Clock = LinkSession::Clock;
  // stopRequested: looked at while the main thread waits (Ctrl-C, SIGTERM).
  explicit SentenceQueue(std::function<bool()> stopRequested);

  // The next sentence, waiting at most until deadline. Nothing at the deadline, once a stop
  // has been requested, or once the line has gone and every sentence read before has been
  // taken (lost()).
  std::optional<std::string> next(Clock::time_point deadline);
  // The next sentence already queued, without waiting and whatever the stop request: what is
  // left after the reader stopped, so nothing received is lost on Ctrl-C.
  std::optional<std::string> takeQueued();
  // Puts sentences the stopped reader held back at the end, for takeQueued().
  void append(std::vector<std::string> sentences);
  // Set once the reader found the line gone.
  std::optional<LinkError> lost() const;
  bool stopRequested() const { return stopRequested_ && stopRequested_(); }

  void sentence(std::string_view sentence) override;
  void lost(const LinkError& error) override;
  void release() override;

 private:
  std::function<bool()> stopRequested_;
  mutable std::mutex mutex_;
  std::condition_variable arrived_;
  std::condition_variable drained_;
  std::deque<std::string> queue_;
  std::optional<LinkError> lost_;
  bool released_ = false;
};

// How an exchange of a command and its replies ended.
enum class ExchangeEnd {
  Accepted,  // the reply it waits for came (and its follow-ups, unless the deadline came first)
  Refused,   // acknowledged with a flag other than 3
  NoReply,   // the deadline passed first
  Stopped,   // a stop was requested first
  Lost,      // the line went away first
};

struct ExchangeOptions {
  // Sends the sequence again this often until it is answered (a query that changes nothing,
  // to a receiver that may not hear the first one); zero: once.
  std::chrono::milliseconds resendEvery{0};
  // Each sentence as it came, just before it is handled (a reply the core does not decode is
  // shown as it came); may be empty.
  std::function<void(std::string_view sentence)> received = {};
};

struct ExchangeResult {
  ExchangeEnd end = ExchangeEnd::NoReply;
  std::optional<PmtkAck> refusal;  // Refused: the acknowledgement that refused it
  std::optional<LinkError> lost;   // Lost: which line, and why
};

// Sends sequence on link and hands every sentence that arrives to session, and to seen, until
// the reply the sequence declares (acceptedBy) has come and so have its follow-ups, or a
// refusal, a stop or the line's loss comes first, or timeout has passed since the last byte
// of the first sending. The reader must be running with queue as its hand-over.
ExchangeResult Exchange(LinkSession& link, SentenceQueue& queue, NmeaSession& session, const CommandSequence& sequence,
                        LinkSession::Clock::duration timeout, const ExchangeOptions& options,
                        const std::function<void(const SentenceOutcome&)>& seen);

// "Com1 (/dev/ttyUSB0)", or the device path alone when it was given as the port.
std::string PortDisplayName(const std::string& portText, const std::string& devicePath);

// Waits until portText leads to a device that opens again (looked up afresh each time; with
// fromMapEntry only through a port map entry, so the name never reaches another device), or
// until stopRequested (null then).
std::unique_ptr<LinkSession> WaitForPort(const LinkOpenRequest& request, bool fromMapEntry);
