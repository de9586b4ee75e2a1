// The simulated receiver's pseudo-terminal, pacing and worker thread; see sim_receiver.h.
//
// Thread rule: the worker owns the master descriptor; everything it shares with callers
// (model, queue, logs) is under mutex_. stop() joins the worker before closing descriptors.
#include "sim/sim_receiver.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "link/port_names.h"
#include "sim/terminal_rate.h"

namespace fs = std::filesystem;

namespace sim {

namespace {
constexpr std::size_t kReadChunk = 4096;
constexpr std::int64_t kBitsPerByte = 10;                // start, 8 data, stop
constexpr std::int64_t kMaxPeriodicBacklogUs = 2000000;  // a saturated line drops newer cycles
constexpr std::int64_t kFullLineBackoffUs = 10000;
// How long an unplug waits for the program to read what is already on the line (a program
// that reads gets there at once; this bounds one that does not, or a starved one).
constexpr std::int64_t kUnplugDrainUs = 3000000;
// Bytes written to the master reach the terminal's input queue a moment later (the kernel
// pushes them on its own schedule, late on a loaded machine): an empty queue counts as read
// only this long after the last write.
constexpr std::int64_t kUnplugSettleUs = 50000;

std::int64_t steadyNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

std::int64_t lineTimeUs(std::size_t bytes, std::uint32_t baud) {
  if (baud == 0) return 0;
  return static_cast<std::int64_t>(bytes) * kBitsPerByte * 1000000 / baud;
}
}  // namespace

SimReceiver::SimReceiver(SimOptions options) : options_(std::move(options)) {}

SimReceiver::~SimReceiver() { stop(); }

std::int64_t SimReceiver::elapsedUs() const { return (steadyNs() - startNs_) / 1000; }

bool SimReceiver::start(std::string* error) {
  const auto fail = [&](const std::string& what) {
    if (error != nullptr) *error = what + (errno != 0 ? std::string(": ") + std::strerror(errno) : std::string());
    stop();
    return false;
  };
  errno = 0;
  lineBaud_ = options_.model.baud;  // the terminal starts at the receiver's rate
  toProgram_ = UartGarble(options_.model.seed * 2U + 1U);
  fromProgram_ = UartGarble(options_.model.seed * 2U + 2U);
  if (!openTerminal(error)) {
    stop();
    return false;
  }
  wakeFd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (wakeFd_ < 0) return fail("eventfd");
  if (!options_.recordPath.empty()) {
    record_ = std::fopen(options_.recordPath.c_str(), "wb");
    if (record_ == nullptr) return fail("open " + options_.recordPath);
  }
  if (!options_.sentPath.empty()) {
    sentRecord_ = std::fopen(options_.sentPath.c_str(), "wb");
    if (sentRecord_ == nullptr) return fail("open " + options_.sentPath);
  }
  model_ = std::make_unique<ReceiverModel>(options_.model);
  if (options_.replayWaitsForProgram) model_->holdReplay();
  lineBaud_ = model_->baud();
  if (options_.comNumber > 0 && !registerPort(error)) {
    stop();
    return false;
  }
  plugged_ = true;
  startNs_ = steadyNs();
  stopping_ = false;
  worker_ = std::thread([this] { run(); });
  return true;
}

bool SimReceiver::openTerminal(std::string* error) {
  const auto fail = [&](const std::string& what) {
    if (error != nullptr) *error = what + (errno != 0 ? std::string(": ") + std::strerror(errno) : std::string());
    closeTerminal();
    return false;
  };
  masterFd_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (masterFd_ < 0) return fail("posix_openpt");
  if (::grantpt(masterFd_) != 0 || ::unlockpt(masterFd_) != 0) return fail("grantpt/unlockpt");
  char name[128] = {};
  if (::ptsname_r(masterFd_, name, sizeof name) != 0) return fail("ptsname");
  // Packet mode: a purge by the program shows here as a status byte, which is how a replay
  // knows the program is listening.
  int packetMode = 1;
  if (::ioctl(masterFd_, TIOCPKT, &packetMode) != 0) return fail("TIOCPKT");
  // Our own slave descriptor keeps the terminal alive between the program's opens, so the
  // program never sees a hang-up and we never see one either.
  slaveFd_ = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (slaveFd_ < 0) return fail(std::string("open ") + name);
  struct termios tio {};
  if (::tcgetattr(slaveFd_, &tio) != 0) return fail("tcgetattr");
  ::cfmakeraw(&tio);  // no echo: our own output must never come back to us as "commands"
  tio.c_cflag |= CLOCAL | CREAD;
  tio.c_cc[VMIN] = 0;
  tio.c_cc[VTIME] = 0;
  if (::tcsetattr(slaveFd_, TCSANOW, &tio) != 0) return fail("tcsetattr");
  // At the receiver's rate, as if the last program to use the port had set it right.
  if (!SetTerminalRate(slaveFd_, lineBaud_)) return fail("line speed");
  // Watched after our own open, so only the program's opens count.
  openWatchFd_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (openWatchFd_ < 0 || ::inotify_add_watch(openWatchFd_, name, IN_OPEN | IN_CLOSE) < 0) return fail("inotify");
  slavePath_ = name;  // before the worker runs, or on the worker with mutex_ held
  return true;
}

void SimReceiver::closeTerminal() {
  for (int* fd : {&masterFd_, &slaveFd_, &openWatchFd_}) {
    if (*fd >= 0) ::close(*fd);
    *fd = -1;
  }
}

void SimReceiver::stop() {
  stopping_ = true;
  if (worker_.joinable()) {
    wake();
    worker_.join();
  }
  unregisterPort();
  if (record_ != nullptr) std::fclose(record_);
  record_ = nullptr;
  if (sentRecord_ != nullptr) std::fclose(sentRecord_);
  sentRecord_ = nullptr;
  closeTerminal();
  if (wakeFd_ >= 0) ::close(wakeFd_);
  wakeFd_ = -1;
}

bool SimReceiver::unplug() {
  std::unique_lock<std::mutex> lock(mutex_);
  if (!plugged_ || !worker_.joinable()) return false;
  plugRequest_ = PlugRequest::Unplug;
  plugRequestDone_ = false;
  lock.unlock();
  wake();
  lock.lock();
  changed_.wait(lock, [&] { return plugRequestDone_ || stopping_; });
  return !plugged_;
}

bool SimReceiver::replug(std::string* error) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (plugged_ || !worker_.joinable()) return false;
  plugRequest_ = PlugRequest::Replug;
  plugRequestDone_ = false;
  lock.unlock();
  wake();
  lock.lock();
  changed_.wait(lock, [&] { return plugRequestDone_ || stopping_; });
  if (!plugged_ && error != nullptr) *error = plugError_;
  return plugged_;
}

bool SimReceiver::plugged() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return plugged_;
}

int SimReceiver::programOpens() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return programOpens_;
}

// Worker thread, mutex_ held: the descriptors change only here while the worker runs.
void SimReceiver::servePlugRequest() {
  const std::int64_t nowUs = elapsedUs();
  PlugRequest request = plugRequest_;
  if (request == PlugRequest::None && plugged_ && options_.unplugAfterMs >= 0 && unpluggedAtUs_ < 0 &&
      nowUs >= static_cast<std::int64_t>(options_.unplugAfterMs) * 1000) {
    request = PlugRequest::Unplug;
  }
  if (request == PlugRequest::None && !plugged_ && options_.replugAfterMs >= 0 && unpluggedAtUs_ >= 0 &&
      nowUs >= unpluggedAtUs_ + static_cast<std::int64_t>(options_.replugAfterMs) * 1000) {
    request = PlugRequest::Replug;
  }
  if (request == PlugRequest::Unplug && plugged_) {
    // The cable is pulled between two bytes: no more output from now on, and what is already
    // on the line is left for the program to read (a moment at most), so that what the
    // receiver sent while plugged in is what the program got.
    if (unplugWaitSinceUs_ < 0) unplugWaitSinceUs_ = nowUs;
    int unread = 0;
    if (programsHolding_ > 0 && ::ioctl(slaveFd_, FIONREAD, &unread) != 0) unread = 0;
    const bool settled = programsHolding_ == 0 || nowUs - lastWriteUs_ >= kUnplugSettleUs;
    if ((unread > 0 || !settled) && nowUs - unplugWaitSinceUs_ < kUnplugDrainUs) return;
    unplugWaitSinceUs_ = -1;
    unregisterPort();
    closeTerminal();  // the program's reads now fail: the device is gone
    plugged_ = false;
    unpluggedAtUs_ = nowUs;
    queue_.clear();  // what was still to be written is lost with the cable
    programOpens_ = 0;
    programsHolding_ = 0;
    openedAtUs_ = -1;
  } else if (request == PlugRequest::Replug && !plugged_) {
    std::string error;
    const bool opened = openTerminal(&error);
    plugged_ = opened && (options_.comNumber <= 0 || registerPort(&error));
    // A replay that waited for the program at the start waits for its new open too: what a
    // receiver sends before the port is opened never reaches a program.
    if (plugged_ && options_.replayWaitsForProgram) model_->holdReplay();
    if (plugged_) {
      queue_.clear();  // made while unplugged: it never reached a line
      model_->powerCycle(nowUs / 1000);
      lineBaud_ = model_->baud();
      // A new device node, as after a real replug: it starts at the receiver's rate again.
      SetTerminalRate(slaveFd_, lineBaud_);
    }
    if (opened && !plugged_) closeTerminal();
    plugError_ = error;
    if (plugged_) lineFreeAtUs_ = nowUs;
    // A replug that failed is not tried again by the timer.
    options_.replugAfterMs = -1;
  }
  if (plugRequest_ != PlugRequest::None) {
    plugRequest_ = PlugRequest::None;
    plugRequestDone_ = true;
  }
}

// Worker thread, mutex_ held: programs opening and closing the port, and their purges.
void SimReceiver::noteTerminalEvents(std::int64_t nowUs) {
  alignas(inotify_event) char events[4096];
  for (;;) {
    const ssize_t n = openWatchFd_ >= 0 ? ::read(openWatchFd_, events, sizeof events) : -1;
    if (n <= 0) break;
    for (ssize_t at = 0; at + static_cast<ssize_t>(sizeof(inotify_event)) <= n;) {
      const auto* event = reinterpret_cast<const inotify_event*>(events + at);
      if (event->mask & IN_OPEN) {
        ++programOpens_;
        ++programsHolding_;
        if (model_->replayHeld() && openedAtUs_ < 0) openedAtUs_ = nowUs;
      }
      if ((event->mask & IN_CLOSE) != 0 && programsHolding_ > 0) --programsHolding_;
      at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
    }
  }
  // An open without a purge (a program that only reads) still gets the replay, a moment later.
  if (openedAtUs_ >= 0 && options_.replayAfterOpenMs >= 0 &&
      nowUs - openedAtUs_ >= static_cast<std::int64_t>(options_.replayAfterOpenMs) * 1000) {
    model_->releaseReplay(nowUs / 1000);
    openedAtUs_ = -1;
  }
}

bool SimReceiver::registerPort(std::string* error) {
  const fs::path dir = options_.portMapDir.empty() ? fs::path(PortMapDirectory()) : fs::path(options_.portMapDir);
  std::error_code ec;
  fs::create_directories(dir, ec);
  const fs::path entry = dir / ("com" + std::to_string(options_.comNumber));
  // Replace whatever stood there (a stale entry of a killed simulator) in one step.
  const fs::path temp = dir / (".com" + std::to_string(options_.comNumber) + ".tmp" + std::to_string(::getpid()));
  fs::remove(temp, ec);
  fs::create_symlink(slavePath_, temp, ec);
  if (!ec) fs::rename(temp, entry, ec);
  if (ec) {
    fs::remove(temp, ec);
    if (error != nullptr) *error = "cannot register " + entry.string() + ": " + ec.message();
    return false;
  }
  entryPath_ = entry.string();
  return true;
}

void SimReceiver::unregisterPort() {
  if (entryPath_.empty()) return;
  std::error_code ec;
  // Only our own entry: another simulator may have taken the name since.
  if (fs::is_symlink(entryPath_, ec) && fs::read_symlink(entryPath_, ec) == fs::path(slavePath_))
    fs::remove(entryPath_, ec);
  entryPath_.clear();
}

void SimReceiver::wake() {
  if (wakeFd_ < 0) return;
  const std::uint64_t one = 1;
  [[maybe_unused]] const ssize_t n = ::write(wakeFd_, &one, sizeof one);
}

void SimReceiver::run() {
  char buf[kReadChunk];
  // Bytes from the program still crossing the line: when paced, each read reaches the model
  // once its last byte has crossed at the receiver's present rate, after the bytes before it.
  struct Incoming {
    std::int64_t dueUs = 0;
    std::string bytes;
  };
  std::deque<Incoming> incoming;
  std::int64_t inputFreeAtUs = 0;
  while (!stopping_) {
    int timeoutMs = 1000;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      servePlugRequest();
      const std::int64_t nowUs = elapsedUs();
      noteTerminalEvents(nowUs);
      while (!incoming.empty() && incoming.front().dueUs <= nowUs) {
        for (OutChunk& c : model_->receive(incoming.front().bytes, nowUs / 1000)) queue_.push_back(std::move(c));
        incoming.pop_front();
      }
      // Write what is due, in order; a chunk with a gap waits for it after the one before.
      while (!queue_.empty()) {
        OutChunk& front = queue_.front();
        if (nowUs < lineFreeAtUs_ + static_cast<std::int64_t>(front.gapBeforeMs) * 1000) break;
        if (unplugWaitSinceUs_ >= 0) break;            // being pulled out: nothing more goes on the line
        if (!front.bytes.empty() && masterFd_ >= 0) {  // unplugged: the output goes nowhere
          // The program's UART reads the bytes at the rate the program set.
          const std::string_view atProgram = toProgram_.read(front.bytes, lineBaud_, RatesOfTerminal(slaveFd_).input);
          const ssize_t n = atProgram.empty() ? 0 : ::write(masterFd_, atProgram.data(), atProgram.size());
          // Whatever the terminal does not take is lost, as on a line nobody listens to.
          const std::size_t written = n > 0 ? static_cast<std::size_t>(n) : 0;
          if (options_.keepLogs) sent_.append(atProgram.substr(0, written));
          if (sentRecord_ != nullptr && written > 0) {
            // Flushed at once: a long run is read by other programs while it goes on.
            std::fwrite(atProgram.data(), 1, written, sentRecord_);
            std::fflush(sentRecord_);
          }
          dropped_ += atProgram.size() - written;
          lastWriteUs_ = nowUs;
          lineFreeAtUs_ =
              options_.pace ? std::max(nowUs, lineFreeAtUs_) + lineTimeUs(front.bytes.size(), lineBaud_) : nowUs;
          // A full terminal (nobody reading) gets a rest instead of a busy retry loop.
          if (written < atProgram.size()) lineFreeAtUs_ = std::max(lineFreeAtUs_, nowUs + kFullLineBackoffUs);
        }
        if (front.baudAfter != 0) lineBaud_ = front.baudAfter;
        queue_.pop_front();
      }
      const bool lineIdle = queue_.empty();
      const SimMs nowMs = nowUs / 1000;
      if (model_->nextEventAt(lineIdle) <= nowMs) {
        std::int64_t backlogUs = 0;
        for (const OutChunk& c : queue_) backlogUs += lineTimeUs(c.bytes.size(), lineBaud_);
        for (OutChunk& c : model_->advance(nowMs, lineIdle)) {
          if (c.periodic && backlogUs > kMaxPeriodicBacklogUs) continue;
          backlogUs += lineTimeUs(c.bytes.size(), lineBaud_);
          queue_.push_back(std::move(c));
        }
      }
      // Sleep until the next write or model event, or until bytes arrive.
      std::int64_t wakeAtUs = nowUs + 1000000;
      if (!queue_.empty()) wakeAtUs = lineFreeAtUs_ + static_cast<std::int64_t>(queue_.front().gapBeforeMs) * 1000;
      const SimMs modelAt = model_->nextEventAt(queue_.empty());
      if (modelAt != kNever) wakeAtUs = std::min(wakeAtUs, modelAt * 1000);
      if (!incoming.empty()) wakeAtUs = std::min(wakeAtUs, incoming.front().dueUs);
      if (openedAtUs_ >= 0 && options_.replayAfterOpenMs >= 0) {
        wakeAtUs = std::min(wakeAtUs, openedAtUs_ + static_cast<std::int64_t>(options_.replayAfterOpenMs) * 1000);
      }
      if (unplugWaitSinceUs_ >= 0) wakeAtUs = std::min(wakeAtUs, nowUs + 2000);  // look again soon
      if (plugged_ && options_.unplugAfterMs >= 0 && unpluggedAtUs_ < 0) {
        wakeAtUs = std::min(wakeAtUs, static_cast<std::int64_t>(options_.unplugAfterMs) * 1000);
      }
      if (!plugged_ && options_.replugAfterMs >= 0 && unpluggedAtUs_ >= 0) {
        wakeAtUs = std::min(wakeAtUs, unpluggedAtUs_ + static_cast<std::int64_t>(options_.replugAfterMs) * 1000);
      }
      const std::int64_t waitUs = wakeAtUs - elapsedUs();
      timeoutMs = waitUs <= 0 ? 0 : static_cast<int>(std::min<std::int64_t>((waitUs + 999) / 1000, 1000));
    }
    changed_.notify_all();
    // The terminal's descriptors change only on this thread, so they stay valid through the
    // poll; an unplugged receiver has none (poll skips negative ones).
    struct pollfd fds[3] = {{masterFd_, POLLIN, 0}, {wakeFd_, POLLIN, 0}, {openWatchFd_, POLLIN, 0}};
    // The program's rate before the wait: bytes read after it were written at this rate or at
    // the one set since (a program that writes and at once changes speed, as the EPO hand-back
    // does, must not have its last command garbled by a race with this thread).
    const std::uint32_t programBaudBefore = RatesOfTerminal(slaveFd_).output;
    if (::poll(fds, 3, timeoutMs) < 0 && errno != EINTR) break;
    if (fds[1].revents & POLLIN) {
      std::uint64_t count = 0;
      [[maybe_unused]] const ssize_t n = ::read(wakeFd_, &count, sizeof count);
    }
    if (fds[0].revents & POLLIN) {
      const ssize_t n = ::read(masterFd_, buf, sizeof buf);
      // Packet mode: a leading status byte; data only behind TIOCPKT_DATA.
      if (n > 0 && buf[0] != TIOCPKT_DATA) {
        std::lock_guard<std::mutex> lock(mutex_);
        noteTerminalEvents(elapsedUs());  // the open that came before this purge
        if ((buf[0] & TIOCPKT_FLUSHREAD) != 0 && openedAtUs_ >= 0) {
          // The program purged after opening: it listens now, and nothing of the replay is lost.
          model_->releaseReplay(elapsedUs() / 1000);
          openedAtUs_ = -1;
        }
      } else if (n > 1) {
        const std::string_view bytes(buf + 1, static_cast<std::size_t>(n - 1));
        if (record_ != nullptr) {
          std::fwrite(bytes.data(), 1, bytes.size(), record_);
          std::fflush(record_);
        }
        std::lock_guard<std::mutex> lock(mutex_);
        const std::int64_t nowUs = elapsedUs();
        if (options_.keepLogs) received_.push_back({nowUs / 1000, std::string(bytes)});
        // The program sends at the rate it set; the receiver's UART reads at its own. Either
        // rate of the program since the last look may have carried the bytes: they are read
        // clean if one of them is the receiver's.
        const std::uint32_t programBaud = RatesOfTerminal(slaveFd_).output;
        const std::uint32_t sentAt = programBaudBefore == lineBaud_ ? lineBaud_ : programBaud;
        const std::string_view atReceiver = fromProgram_.read(bytes, sentAt, lineBaud_);
        if (options_.pace) {
          inputFreeAtUs = std::max(nowUs, inputFreeAtUs) + lineTimeUs(bytes.size(), sentAt != 0 ? sentAt : lineBaud_);
          if (!atReceiver.empty()) incoming.push_back({inputFreeAtUs, std::string(atReceiver)});
        } else {
          for (OutChunk& c : model_->receive(atReceiver, nowUs / 1000)) queue_.push_back(std::move(c));
        }
      }
    }
  }
  changed_.notify_all();
}

std::string SimReceiver::slavePath() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return slavePath_;
}

std::string SimReceiver::portMapEntry() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return entryPath_;
}

std::vector<ReceivedChunk> SimReceiver::received() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return received_;
}

std::string SimReceiver::receivedBytes() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::string all;
  for (const ReceivedChunk& c : received_) all += c.bytes;
  return all;
}

std::string SimReceiver::sentBytes() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return sent_;
}

std::size_t SimReceiver::droppedBytes() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return dropped_;
}

void SimReceiver::clearLogs() {
  std::lock_guard<std::mutex> lock(mutex_);
  received_.clear();
  sent_.clear();
}

std::vector<BinaryPacket> SimReceiver::binaryPackets() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return model_ ? model_->binaryPackets() : std::vector<BinaryPacket>{};
}

std::vector<std::string> SimReceiver::commands() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return model_ ? model_->commands() : std::vector<std::string>{};
}

bool SimReceiver::binaryMode() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return model_ && model_->binaryMode();
}

std::uint32_t SimReceiver::baud() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return lineBaud_;
}

bool SimReceiver::replayFinished() const {
  std::lock_guard<std::mutex> lock(mutex_);
  // Played, written, and read by the program that holds the port: the terminal's hang-up
  // when the receiver goes away would drop what it has not read yet.
  int unread = 0;
  if (slaveFd_ >= 0 && programsHolding_ > 0 && ::ioctl(slaveFd_, FIONREAD, &unread) != 0) unread = 0;
  return model_ && model_->replayFinished() && queue_.empty() && unread == 0;
}

void SimReceiver::withModel(const std::function<void(ReceiverModel&)>& fn) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (model_) fn(*model_);
  }
  wake();
}

bool SimReceiver::waitUntil(const std::function<bool()>& condition, int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    if (condition()) return true;
    std::unique_lock<std::mutex> lock(mutex_);
    if (changed_.wait_until(lock, std::min(deadline, std::chrono::steady_clock::now() +
                                                         std::chrono::milliseconds(50))) == std::cv_status::timeout &&
        std::chrono::steady_clock::now() >= deadline) {
      lock.unlock();
      return condition();
    }
  }
}

}  // namespace sim
