// Helpers of the torvikel-cli tests: the built program run as a child process with its own
// environment (port map directory, time zone), a simulated receiver registered in a private
// port map directory, and the local FTP server of the download tests.
//
// Thread rule: each test owns its child, receiver and server; nothing is shared.
#pragma once

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "commands/receiver_commands.h"
#include "sim/sim_receiver.h"
#include "tests/core/test_epo_support.h"
#include "tests/core/test_sim_support.h"

namespace clitest {

// Every byte a command sequence puts on the line, its steps joined.
inline std::string BytesOf(const CommandSequence& sequence) {
  std::string all;
  for (const CommandStep& step : sequence.steps) all += step.bytes;
  return all;
}

using Env = std::vector<std::pair<std::string, std::string>>;

struct CliResult {
  int exitCode = -1;  // -1: killed by a signal or by the hang guard
  std::string out;
  std::string err;
};

// A generous guard so that a hanging program fails its test instead of the whole run; it is
// no statement about how fast the program should be.
inline constexpr int kHangGuardMs = 120000;

inline constexpr unsigned kNobodyId = 65534;  // the unprivileged user and group "nobody"

// Whether the user nobody may run the program at all (a checkout under a private home may
// not let it in): checked in a child that drops root first.
inline bool NobodyCanRunTheTool() {
  if (::geteuid() != 0) return false;
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (::setgroups(0, nullptr) != 0 || ::setgid(kNobodyId) != 0 || ::setuid(kNobodyId) != 0) ::_exit(2);
    ::_exit(::access(TORVIKEL_CLI_BINARY, X_OK) == 0 ? 0 : 1);
  }
  int status = 0;
  return pid > 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// The program running as a child; stdout and stderr are collected through pipes.
class CliProcess {
 public:
  // stdoutTerminal: standard output is a pseudo-terminal instead of a pipe, as on a console.
  // stdoutFd: standard output goes there instead (the test's own pipe or FIFO), not collected.
  // runAsNobody: the child drops root for the unprivileged user nobody before it starts.
  CliProcess(const std::vector<std::string>& args, const Env& env, bool stdoutTerminal = false, int stdoutFd = -1,
             bool runAsNobody = false) {
    int outPipe[2];
    int errPipe[2];
    if (stdoutFd >= 0) {
      outPipe[0] = -1;
      outPipe[1] = ::fcntl(stdoutFd, F_DUPFD_CLOEXEC, 0);
    } else if (stdoutTerminal) {
      const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
      if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) return;
      const int slave = ::open(::ptsname(master), O_RDWR | O_NOCTTY);
      if (slave < 0) return;
      outPipe[0] = master;
      outPipe[1] = slave;
    } else if (::pipe(outPipe) != 0) {
      return;
    }
    if (::pipe(errPipe) != 0) {
      if (outPipe[0] >= 0) ::close(outPipe[0]);
      ::close(outPipe[1]);
      return;
    }
    // Everything the child needs is built before fork(): between fork() and exec() a child of
    // a threaded process (the simulator's worker runs) may only make async-signal-safe calls;
    // an allocation there can deadlock on a lock another thread held at the fork.
    std::string program = TORVIKEL_CLI_BINARY;
    std::vector<std::string> argStore = args;
    std::vector<char*> argv{program.data()};
    for (std::string& a : argStore) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> envStore;
    for (char** e = environ; *e != nullptr; ++e) {
      const std::string entry = *e;
      const std::string name = entry.substr(0, entry.find('='));
      bool overridden = false;
      for (const auto& [key, value] : env) overridden = overridden || key == name;
      if (!overridden) envStore.push_back(entry);
    }
    for (const auto& [key, value] : env) envStore.push_back(key + "=" + value);
    std::vector<char*> envp;
    for (std::string& e : envStore) envp.push_back(e.data());
    envp.push_back(nullptr);
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(outPipe[1], STDOUT_FILENO);
      ::dup2(errPipe[1], STDERR_FILENO);
      if (outPipe[0] >= 0) ::close(outPipe[0]);
      ::close(outPipe[1]);
      ::close(errPipe[0]);
      ::close(errPipe[1]);
      const int devNull = ::open("/dev/null", O_RDONLY);
      if (devNull >= 0) ::dup2(devNull, STDIN_FILENO);
      if (runAsNobody && (::setgroups(0, nullptr) != 0 || ::setgid(kNobodyId) != 0 || ::setuid(kNobodyId) != 0)) {
        ::_exit(126);
      }
      ::execve(program.c_str(), argv.data(), envp.data());
      ::_exit(127);
    }
    ::close(outPipe[1]);
    ::close(errPipe[1]);
    out_ = outPipe[0];
    err_ = errPipe[0];
  }
  ~CliProcess() {
    if (pid_ > 0 && !reaped_) {
      ::kill(pid_, SIGKILL);
      int status = 0;
      ::waitpid(pid_, &status, 0);
    }
    if (out_ >= 0) ::close(out_);
    if (err_ >= 0) ::close(err_);
  }
  CliProcess(const CliProcess&) = delete;
  CliProcess& operator=(const CliProcess&) = delete;

  bool started() const { return pid_ > 0; }
  pid_t pid() const { return pid_; }
  const std::string& out() const { return result_.out; }
  const std::string& err() const { return result_.err; }

  // Collects output until ready(out) holds or the guard passes; the last result of ready.
  bool waitFor(const std::function<bool(const std::string& out)>& ready, int guardMs = kHangGuardMs) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(guardMs);
    while (!ready(result_.out)) {
      if (std::chrono::steady_clock::now() >= until || !pump(50)) return ready(result_.out);
    }
    return true;
  }
  // Lines of stdout so far (each without its "\n"); a line not yet ended is left out.
  std::vector<std::string> lines() const {
    std::vector<std::string> all;
    std::size_t start = 0;
    for (std::size_t end = result_.out.find('\n'); end != std::string::npos; end = result_.out.find('\n', start)) {
      all.push_back(result_.out.substr(start, end - start));
      start = end + 1;
    }
    return all;
  }

  void signal(int number) {
    if (pid_ > 0 && !reaped_) ::kill(pid_, number);
  }

  // Reads both pipes to their end and reaps the child; kills it when the guard passes.
  CliResult finish(int guardMs = kHangGuardMs) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(guardMs);
    while (pump(100)) {
      if (std::chrono::steady_clock::now() >= until) {
        ::kill(pid_, SIGKILL);
        break;
      }
    }
    if (pid_ > 0 && !reaped_) {
      int status = 0;
      if (::waitpid(pid_, &status, 0) == pid_ && WIFEXITED(status)) result_.exitCode = WEXITSTATUS(status);
      reaped_ = true;
    }
    return result_;
  }

 private:
  // One poll over the open pipes; false once both have ended.
  bool pump(int waitMs) {
    pollfd fds[2];
    int* owners[2];
    std::string* sinks[2];
    nfds_t n = 0;
    if (out_ >= 0) {
      fds[n] = {out_, POLLIN, 0};
      owners[n] = &out_;
      sinks[n++] = &result_.out;
    }
    if (err_ >= 0) {
      fds[n] = {err_, POLLIN, 0};
      owners[n] = &err_;
      sinks[n++] = &result_.err;
    }
    if (n == 0) return false;
    if (::poll(fds, n, waitMs) <= 0) return true;
    for (nfds_t i = 0; i < n; ++i) {
      if ((fds[i].revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
      char buffer[8192];
      const ssize_t got = ::read(fds[i].fd, buffer, sizeof buffer);
      if (got > 0) {
        sinks[i]->append(buffer, static_cast<std::size_t>(got));
      } else {
        ::close(*owners[i]);
        *owners[i] = -1;
      }
    }
    return true;
  }

  pid_t pid_ = -1;
  int out_ = -1;
  int err_ = -1;
  bool reaped_ = false;
  CliResult result_;
};

inline CliResult RunCli(const std::vector<std::string>& args, const Env& env = {}) {
  CliProcess child(args, env);
  return child.finish();
}

// A simulated receiver registered as com4 in a private port map directory. Quiet, fast and
// deterministic by default; adjust() changes the options before it starts.
class SimFixture {
 public:
  static constexpr int kComNumber = 4;
  static constexpr const char* kPortText = "Com4";

  explicit SimFixture(const std::function<void(sim::SimOptions&)>& adjust = {}) {
    sim::SimOptions options;
    options.model = simtest::quietOptions();
    options.model.periodMs = 100;  // a reply is handed over once the next sentence begins
    options.model.startup = {0, 0};
    options.comNumber = kComNumber;
    options.portMapDir = dir_.path();
    if (adjust) adjust(options);
    receiver_ = std::make_unique<sim::SimReceiver>(options);
    started_ = receiver_->start(&error_);
  }
  ~SimFixture() { receiver_->stop(); }

  bool started() const { return started_; }
  const std::string& error() const { return error_; }
  sim::SimReceiver& receiver() { return *receiver_; }
  const std::string& portMapDir() const { return dir_.path(); }
  Env env() const { return {{"TORVIKEL_PORT_DIR", dir_.path()}, {"TZ", "UTC"}}; }

 private:
  epotest::TempDir dir_;
  std::unique_ptr<sim::SimReceiver> receiver_;
  std::string error_;
  bool started_ = false;
};

// Latin-1 to UTF-8, written here apart from the program's own conversion.
inline std::string Utf8Of(const std::string& latin1) {
  std::string out;
  for (const unsigned char c : latin1) {
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else {
      out.push_back(static_cast<char>(0xC0 | (c >> 6)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  return out;
}

}  // namespace clitest
