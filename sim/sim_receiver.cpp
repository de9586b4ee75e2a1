// The simulated receiver's pseudo-terminal, pacing and worker thread; see sim_receiver.h.
//
// Thread rule: the worker owns the master descriptor; everything it shares with callers
// (model, queue, logs) is under mutex_. stop() joins the worker before closing descriptors.
#include "sim/sim_receiver.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "link/port_names.h"

namespace fs = std::filesystem;

namespace sim {

namespace {
constexpr std::size_t kReadChunk = 4096;
constexpr std::int64_t kBitsPerByte = 10;             // start, 8 data, stop
constexpr std::int64_t kMaxPeriodicBacklogUs = 2000000;  // a saturated line drops newer cycles
constexpr std::int64_t kFullLineBackoffUs = 10000;

std::int64_t steadyNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch()).count();
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
  masterFd_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (masterFd_ < 0) return fail("posix_openpt");
  if (::grantpt(masterFd_) != 0 || ::unlockpt(masterFd_) != 0) return fail("grantpt/unlockpt");
  char name[128] = {};
  if (::ptsname_r(masterFd_, name, sizeof name) != 0) return fail("ptsname");
  slavePath_ = name;
  // Our own slave descriptor keeps the terminal alive between the program's opens, so the
  // program never sees a hang-up and we never see one either.
  slaveFd_ = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (slaveFd_ < 0) return fail("open " + slavePath_);
  struct termios tio {};
  if (::tcgetattr(slaveFd_, &tio) != 0) return fail("tcgetattr");
  ::cfmakeraw(&tio);  // no echo: our own output must never come back to us as "commands"
  tio.c_cflag |= CLOCAL | CREAD;
  tio.c_cc[VMIN] = 0;
  tio.c_cc[VTIME] = 0;
  if (::tcsetattr(slaveFd_, TCSANOW, &tio) != 0) return fail("tcsetattr");
  wakeFd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (wakeFd_ < 0) return fail("eventfd");
  if (!options_.recordPath.empty()) {
    record_ = std::fopen(options_.recordPath.c_str(), "wb");
    if (record_ == nullptr) return fail("open " + options_.recordPath);
  }
  model_ = std::make_unique<ReceiverModel>(options_.model);
  lineBaud_ = model_->baud();
  if (options_.comNumber > 0 && !registerPort(error)) {
    stop();
    return false;
  }
  startNs_ = steadyNs();
  stopping_ = false;
  worker_ = std::thread([this] { run(); });
  return true;
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
  for (int* fd : {&masterFd_, &slaveFd_, &wakeFd_}) {
    if (*fd >= 0) ::close(*fd);
    *fd = -1;
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
  if (fs::is_symlink(entryPath_, ec) && fs::read_symlink(entryPath_, ec) == fs::path(slavePath_)) fs::remove(entryPath_, ec);
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
      const std::int64_t nowUs = elapsedUs();
      while (!incoming.empty() && incoming.front().dueUs <= nowUs) {
        for (OutChunk& c : model_->receive(incoming.front().bytes, nowUs / 1000)) queue_.push_back(std::move(c));
        incoming.pop_front();
      }
      // Write what is due, in order; a chunk with a gap waits for it after the one before.
      while (!queue_.empty()) {
        OutChunk& front = queue_.front();
        if (nowUs < lineFreeAtUs_ + static_cast<std::int64_t>(front.gapBeforeMs) * 1000) break;
        if (!front.bytes.empty()) {
          const ssize_t n = ::write(masterFd_, front.bytes.data(), front.bytes.size());
          // Whatever the terminal does not take is lost, as on a line nobody listens to.
          const std::size_t written = n > 0 ? static_cast<std::size_t>(n) : 0;
          if (options_.keepLogs) sent_.append(front.bytes, 0, written);
          lineFreeAtUs_ = options_.pace ? std::max(nowUs, lineFreeAtUs_) + lineTimeUs(front.bytes.size(), lineBaud_) : nowUs;
          // A full terminal (nobody reading) gets a rest instead of a busy retry loop.
          if (written < front.bytes.size()) lineFreeAtUs_ = std::max(lineFreeAtUs_, nowUs + kFullLineBackoffUs);
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
      const std::int64_t waitUs = wakeAtUs - elapsedUs();
      timeoutMs = waitUs <= 0 ? 0 : static_cast<int>(std::min<std::int64_t>((waitUs + 999) / 1000, 1000));
    }
    changed_.notify_all();
    struct pollfd fds[2] = {{masterFd_, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
    if (::poll(fds, 2, timeoutMs) < 0 && errno != EINTR) break;
    if (fds[1].revents & POLLIN) {
      std::uint64_t count = 0;
      [[maybe_unused]] const ssize_t n = ::read(wakeFd_, &count, sizeof count);
    }
    if (fds[0].revents & POLLIN) {
      const ssize_t n = ::read(masterFd_, buf, sizeof buf);
      if (n > 0) {
        const std::string_view bytes(buf, static_cast<std::size_t>(n));
        if (record_ != nullptr) {
          std::fwrite(bytes.data(), 1, bytes.size(), record_);
          std::fflush(record_);
        }
        std::lock_guard<std::mutex> lock(mutex_);
        const std::int64_t nowUs = elapsedUs();
        if (options_.keepLogs) received_.push_back({nowUs / 1000, std::string(bytes)});
        if (options_.pace) {
          inputFreeAtUs = std::max(nowUs, inputFreeAtUs) + lineTimeUs(bytes.size(), lineBaud_);
          incoming.push_back({inputFreeAtUs, std::string(bytes)});
        } else {
          for (OutChunk& c : model_->receive(bytes, nowUs / 1000)) queue_.push_back(std::move(c));
        }
      }
    }
  }
  changed_.notify_all();
}

std::string SimReceiver::slavePath() const { return slavePath_; }
std::string SimReceiver::portMapEntry() const { return entryPath_; }

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
  return model_ && model_->replayFinished() && queue_.empty();
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
    if (changed_.wait_until(lock, std::min(deadline, std::chrono::steady_clock::now() + std::chrono::milliseconds(50))) ==
            std::cv_status::timeout &&
        std::chrono::steady_clock::now() >= deadline) {
      lock.unlock();
      return condition();
    }
  }
}

}  // namespace sim
