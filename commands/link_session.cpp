// The link session: connect steps, the reader thread and its hand-over, commands, replies.
//
// Thread rule: see link_session.h. The reader thread runs only the lambda in startReader().
#include "commands/link_session.h"

#include "commands/serial_command_port.h"
#include "link/baud_detect.h"
#include "link/port_names.h"
#include "net/port_by_name.h"

namespace {

constexpr std::size_t kQueueLimit = 4096;  // sentences waiting for the main thread
// How often a waiting thread looks at the stop request when nothing wakes it.
constexpr auto kStopCheckInterval = std::chrono::milliseconds(100);
// How often a receiver that went away is looked for: a device node or port map entry that
// comes back sends no event we could wait for everywhere.
constexpr auto kReconnectPollInterval = std::chrono::milliseconds(100);

bool Stopped(const std::function<bool()>& stopRequested) { return stopRequested && stopRequested(); }

}  // namespace

std::string PortDisplayName(const std::string& portText, const std::string& devicePath) {
  return portText == devicePath ? devicePath : portText + " (" + devicePath + ")";
}

std::unique_ptr<LinkSession> LinkSession::open(const LinkOpenRequest& request, LinkError* error) {
  const bool detect = request.baudText == kAutoBaudText;
  const std::string openBaudText = detect ? std::to_string(kDetectRates.front()) : request.baudText;
  PortOpenResult opened = OpenComPortSteps(request.portText, openBaudText, request.allowDevicePath,
                                           [&] { return Stopped(request.stopRequested); });
  if (!opened.port) {
    *error = opened.error;
    return nullptr;
  }
  std::unique_ptr<LinkSession> link(new LinkSession());
  link->stream_ = std::move(opened.port);
  link->devicePath_ = opened.devicePath;
  link->baud_ = static_cast<std::uint32_t>(BaudOfText(openBaudText));
  // A network receiver has no line speed to find.
  if (detect && link->stream_->serialLine() != nullptr) {
    BaudDetectOptions options;
    options.stopRequested = [&] { return Stopped(request.stopRequested); };
    BaudDetectResult found = DetectBaudRate(*link->stream_, link->devicePath_, options);
    if (found.baud == 0) {
      *error = DetectFailure(found, PortDisplayName(request.portText, link->devicePath_));
      return nullptr;
    }
    link->baud_ = found.baud;
    link->baudFound_ = true;
    link->readBeforeReader_ = std::move(found.received);
  }
  return link;
}

LinkSession::~LinkSession() { stopReader(); }

void LinkSession::connect(ReaderHandOver& handOver, const ReaderLoopOptions& options) {
  startReader(handOver, options);  // the reader runs before the first query goes out
  if (!isReadOnly()) send(ConnectQueryCommands());
}

void LinkSession::startReader(ReaderHandOver& handOver, ReaderLoopOptions options) {
  if (reader_.joinable()) return;
  readerStop_ = false;
  handOver_ = &handOver;
  heldBack_.clear();
  // What detection read goes to this reader only, never to a later one.
  reader_ = std::thread([this, options, alreadyRead = std::move(readBeforeReader_)]() mutable {
    ReaderHandOver& to = *handOver_;
    options.alreadyRead = alreadyRead;
    if (!options.readDone) options.readDone = [&to] { to.readDone(); };
    ReaderLoopStats stats = RunReaderLoop(
        *stream_, [this] { return readerStop_.load(); }, [&to](std::string_view s) { to.sentence(s); }, options);
    heldBack_ = std::move(stats.heldBack);
    if (stats.lost) to.lost(LinkLost(devicePath_, stats.lossErrorNumber));
  });
}

std::vector<std::string> LinkSession::stopReader() {
  if (!reader_.joinable()) return {};
  readerStop_ = true;
  handOver_->release();
  stream_->interrupt();
  reader_.join();
  handOver_ = nullptr;
  return std::move(heldBack_);
}

bool LinkSession::send(const CommandSequence& sequence) {
  if (isReadOnly()) return false;
  SerialCommandPort port(*stream_);
  RunCommandSequence(port, sequence);
  return true;
}

BaudDetectResult LinkSession::listenAt(std::uint32_t baud, int listenMs, const std::function<bool()>& stopRequested) {
  BaudDetectOptions options;
  options.rates = {baud};
  options.perRateMs = listenMs;
  options.giveUpAfterBytes = 0;
  options.stopRequested = stopRequested;
  BaudDetectResult found = DetectBaudRate(*stream_, devicePath_, options);
  if (found.baud == baud) {
    baud_ = baud;
    baudFound_ = false;  // told, not found
    readBeforeReader_ = std::move(found.received);
  }
  return found;
}

bool LinkSession::reopenAtBaud(const std::string& portText, int selectedIndex, std::uint32_t baud, LinkError* error) {
  stream_->close();
  PortOpenResult reopened = ReopenPortAtBaud(portText, selectedIndex, baud);
  if (!reopened.port) {
    *error = reopened.error;
    return false;
  }
  stream_ = std::move(reopened.port);
  devicePath_ = reopened.devicePath;
  baud_ = baud;
  return true;
}

// ---------------------------------------------------------------- the queue

SentenceQueue::SentenceQueue(std::function<bool()> stopRequested) : stopRequested_(std::move(stopRequested)) {}

void SentenceQueue::sentence(std::string_view sentence) {
  std::unique_lock<std::mutex> lock(mutex_);
  while (queue_.size() >= kQueueLimit && !released_) drained_.wait_for(lock, kStopCheckInterval);
  queue_.emplace_back(sentence);  // after a release too: takeQueued() still hands it out
  lock.unlock();
  arrived_.notify_one();
}

void SentenceQueue::lost(const LinkError& error) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    lost_ = error;
  }
  arrived_.notify_all();  // a waiting next() learns of the loss at once
}

void SentenceQueue::release() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    released_ = true;
  }
  drained_.notify_all();
}

std::optional<std::string> SentenceQueue::next(Clock::time_point deadline) {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    if (Stopped(stopRequested_)) return std::nullopt;
    if (!queue_.empty()) {
      std::string sentence = std::move(queue_.front());
      queue_.pop_front();
      lock.unlock();
      drained_.notify_one();
      return sentence;
    }
    if (lost_) return std::nullopt;
    const Clock::time_point now = Clock::now();
    if (now >= deadline) return std::nullopt;
    arrived_.wait_until(lock, std::min(deadline, now + kStopCheckInterval));
  }
}

std::optional<std::string> SentenceQueue::takeQueued() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (queue_.empty()) return std::nullopt;
  std::string sentence = std::move(queue_.front());
  queue_.pop_front();
  return sentence;
}

void SentenceQueue::append(std::vector<std::string> sentences) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (std::string& s : sentences) queue_.push_back(std::move(s));
}

std::optional<LinkError> SentenceQueue::lost() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return lost_;
}

// ---------------------------------------------------------------- exchanges

ExchangeResult Exchange(LinkSession& link, SentenceQueue& queue, NmeaSession& session, const CommandSequence& sequence,
                        LinkSession::Clock::duration timeout, const ExchangeOptions& options,
                        const std::function<void(const SentenceOutcome&)>& seen) {
  using Clock = LinkSession::Clock;
  Clock::time_point deadline = Clock::time_point::max();
  std::vector<ExpectedReply> pending = sequence.followUps;
  std::optional<ReplyMatch> decision;
  std::optional<PmtkAck> refusal;
  const bool resend = options.resendEvery.count() > 0;
  bool sent = false;
  Clock::time_point sendAt = Clock::now();
  while (!(decision && (pending.empty() || !decision->accepted))) {
    const Clock::time_point now = Clock::now();
    if (sent && now >= deadline) break;
    if (!sent || (resend && now >= sendAt)) {
      link.send(sequence);
      // The time for the reply runs from the last byte of the first sending.
      if (!sent) deadline = Clock::now() + timeout;
      sent = true;
      sendAt = Clock::now() + options.resendEvery;
    }
    const std::optional<std::string> sentence = queue.next(resend ? std::min(deadline, sendAt) : deadline);
    if (!sentence) {
      if (queue.stopRequested() || queue.lost()) break;
      continue;  // a resend is due, or the deadline has come
    }
    if (options.received) options.received(*sentence);
    const SentenceOutcome outcome = session.handle(*sentence);
    if (!outcome.valid) continue;
    if (seen) seen(outcome);
    if (!sequence.acceptedBy) continue;
    if (!decision) {
      const ReplyMatch m = MatchSentence(*sequence.acceptedBy, outcome.address, outcome.reply);
      if (m.matched) {
        decision = m;
        if (outcome.reply) {
          if (const auto* ack = std::get_if<PmtkAck>(&*outcome.reply)) refusal = *ack;
        }
      }
    }
    std::erase_if(pending,
                  [&](const ExpectedReply& e) { return MatchSentence(e, outcome.address, outcome.reply).matched; });
  }
  // The decision counts once it has come; follow-ups that did not all come before the
  // deadline leave it as it is.
  ExchangeResult result;
  if (decision) {
    result.end = decision->accepted ? ExchangeEnd::Accepted : ExchangeEnd::Refused;
    if (!decision->accepted) result.refusal = refusal;
  } else if (queue.stopRequested()) {
    result.end = ExchangeEnd::Stopped;
  } else if (std::optional<LinkError> lost = queue.lost()) {
    result.end = ExchangeEnd::Lost;
    result.lost = std::move(lost);
  } else {
    result.end = ExchangeEnd::NoReply;
  }
  return result;
}

std::unique_ptr<LinkSession> WaitForPort(const LinkOpenRequest& request, bool fromMapEntry) {
  while (!Stopped(request.stopRequested)) {
    const ResolvedPort resolved = ResolvePort(request.portText, request.allowDevicePath);
    if (resolved.devicePath && resolved.mapEntry.empty() != fromMapEntry) {
      LinkError ignored;
      if (std::unique_ptr<LinkSession> link = LinkSession::open(request, &ignored)) return link;
    }
    std::this_thread::sleep_for(kReconnectPollInterval);
  }
  return nullptr;
}
