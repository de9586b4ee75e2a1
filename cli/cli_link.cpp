// ReceiverLink: connect steps, the reader thread and the queue to the main thread.
//
// Thread rule: deliver() runs on the reader thread; all else on the main thread.
#include "cli/cli_link.h"

#include "cli/cli_common.h"
#include "commands/serial_command_port.h"
#include "link/baud_detect.h"
#include "link/port_names.h"
#include "link/reader_loop.h"
#include "net/port_by_name.h"

namespace {
constexpr std::size_t kQueueLimit = 4096;  // sentences waiting for the main thread
// How often a waiting thread looks at the stop requests when nothing wakes it.
constexpr auto kStopCheckInterval = std::chrono::milliseconds(100);
// How often a receiver that went away is looked for: a device node or port map entry that
// comes back sends no event we could wait for everywhere.
constexpr auto kReconnectPollInterval = std::chrono::milliseconds(100);
}  // namespace

std::unique_ptr<ReceiverLink> ReceiverLink::open(const std::string& portText, const std::string& baudText,
                                                 LinkError* error) {
  const bool detect = baudText == kAutoBaudText;
  const std::string openBaudText = detect ? std::to_string(kDetectRates.front()) : baudText;
  // Ctrl-C cuts a network receiver's connect short.
  PortOpenResult opened =
      OpenComPortSteps(portText, openBaudText, /*allowDevicePath=*/true, [] { return StopRequested().load(); });
  if (!opened.port) {
    *error = opened.error;
    return nullptr;
  }
  std::unique_ptr<ReceiverLink> link(new ReceiverLink());
  link->port_ = std::move(opened.port);
  link->devicePath_ = opened.devicePath;
  link->baud_ = static_cast<std::uint32_t>(BaudOfText(openBaudText));
  // A network receiver has no line speed to find.
  if (detect && link->port_->serialLine() != nullptr && !link->detectBaud(portText, error)) return nullptr;
  return link;
}

ReceiverLink::~ReceiverLink() { stopReader(); }

std::unique_ptr<ReceiverLink> WaitForPort(const std::string& portText, const std::string& baudText, bool fromMapEntry) {
  while (!StopRequested()) {
    const ResolvedPort resolved = ResolvePort(portText, /*allowDevicePath=*/true);
    if (resolved.devicePath && resolved.mapEntry.empty() != fromMapEntry) {
      LinkError ignored;
      if (std::unique_ptr<ReceiverLink> link = ReceiverLink::open(portText, baudText, &ignored)) return link;
    }
    std::this_thread::sleep_for(kReconnectPollInterval);
  }
  return nullptr;
}

void ReceiverLink::startReader() {
  if (reader_.joinable()) return;
  readerStop_ = false;
  // What detection read goes to this reader only, never to a later one.
  reader_ = std::thread([this, alreadyRead = std::move(readBeforeReader_)] {
    ReaderLoopStats stats = RunReaderLoop(
        *port_, [this] { return readerStop_.load(); }, [this](std::string_view sentence) { deliver(sentence); },
        kQuietHandOverMs, alreadyRead);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      for (std::string& sentence : stats.heldBack) queue_.push_back(std::move(sentence));
      if (stats.lost) lost_ = LinkLost(devicePath_, stats.lossErrorNumber);
    }
    arrived_.notify_all();  // a waiting nextSentence() learns of the loss at once
  });
}

void ReceiverLink::stopReader() {
  if (!reader_.joinable()) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    readerStop_ = true;
  }
  drained_.notify_all();
  port_->interrupt();
  reader_.join();
}

void ReceiverLink::deliver(std::string_view sentence) {
  std::unique_lock<std::mutex> lock(mutex_);
  while (queue_.size() >= kQueueLimit && !readerStop_) drained_.wait_for(lock, kStopCheckInterval);
  queue_.emplace_back(sentence);  // after a stop request too: takeQueued() still hands it out
  lock.unlock();
  arrived_.notify_one();
}

std::optional<std::string> ReceiverLink::nextSentence(Clock::time_point deadline) {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    if (StopRequested()) return std::nullopt;
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

std::optional<LinkError> ReceiverLink::lost() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return lost_;
}

std::optional<std::string> ReceiverLink::takeQueued() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (queue_.empty()) return std::nullopt;
  std::string sentence = std::move(queue_.front());
  queue_.pop_front();
  return sentence;
}

void ReceiverLink::send(const CommandSequence& sequence) {
  SerialCommandPort commandPort(*port_);
  RunCommandSequence(commandPort, sequence);
}
