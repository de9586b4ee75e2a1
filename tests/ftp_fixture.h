// The local EPO server of the tests as a C++ object: starts tests/ftp_fixture.py (Debian's
// python3-pyftpdlib) on 127.0.0.1 serving one directory to the fixed login, in one of its
// modes, and stops it when the object goes. Plain POSIX, for core and window tests alike.
// What the server saw arrives as lines on its standard output: a test waits for the line it
// needs (the server may write it after the client is done), and no file is left behind.
//
// Thread rule: one owner thread; the server is a child process that also ends on its own
// when the pipe to its standard input closes, so it never outlives a crashed test.
#pragma once

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

namespace ftptest {

inline std::string PythonPath() {
  const char* fromEnvironment = std::getenv("TORVIKEL_PYTHON");
  return fromEnvironment != nullptr && fromEnvironment[0] != '\0' ? fromEnvironment : "/usr/bin/python3";
}

// TORVIKEL_TEST_DATA is tests/data of the source tree; the script sits beside it.
inline std::string FixtureScriptPath() { return std::string(TORVIKEL_TEST_DATA) + "/../ftp_fixture.py"; }

class FtpFixture {
 public:
  // mode: "normal", "drop", "stall", "trickle" or "silent"; extra: further options
  // ("--password", "x" ...).
  FtpFixture(const std::string& root, const std::string& mode = "normal", const std::vector<std::string>& extra = {}) {
    int toChild[2];
    int fromChild[2];
    if (::pipe(toChild) != 0) return;
    if (::pipe(fromChild) != 0) {
      ::close(toChild[0]);
      ::close(toChild[1]);
      return;
    }
    std::vector<std::string> args = {PythonPath(), FixtureScriptPath(), "--root", root, "--mode", mode};
    args.insert(args.end(), extra.begin(), extra.end());
    // argv is built before fork(): the child of a threaded process may only make
    // async-signal-safe calls until exec (an allocation could deadlock).
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(toChild[0], 0);
      ::dup2(fromChild[1], 1);
      ::close(toChild[1]);
      ::close(fromChild[0]);
      ::execv(argv[0], argv.data());
      ::_exit(127);
    }
    ::close(toChild[0]);
    ::close(fromChild[1]);
    stdin_ = toChild[1];
    stdout_ = fromChild[0];
    // Wait (bounded, so a broken fixture fails the test instead of hanging it) for "PORT n".
    readLines(kStartMs, [this] { return !lines_.empty(); });
    if (!lines_.empty() && lines_[0].rfind("PORT ", 0) == 0) port_ = std::atoi(lines_[0].c_str() + 5);
    lines_.clear();
  }
  ~FtpFixture() { stop(); }
  FtpFixture(const FtpFixture&) = delete;
  FtpFixture& operator=(const FtpFixture&) = delete;

  // Ends the server now (its port then refuses connections).
  void stop() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      int status = 0;
      ::waitpid(pid_, &status, 0);
      pid_ = -1;
    }
    if (stdin_ >= 0) ::close(stdin_);
    if (stdout_ >= 0) ::close(stdout_);
    stdin_ = stdout_ = -1;
  }

  int port() const { return port_; }
  std::string address() const { return "127.0.0.1:" + std::to_string(port_); }
  // One line per command the server received ("CMD RETR MTK7d.EPO") and per retrieval, as
  // far as the server has written them by now.
  std::vector<std::string> log() {
    readLines(0, [] { return false; });
    return lines_;
  }
  // Waits (at most timeoutMs) until the server has written this line.
  bool logHas(const std::string& line, int timeoutMs = kLineWaitMs) {
    const auto seen = [&] { return std::find(lines_.begin(), lines_.end(), line) != lines_.end(); };
    readLines(timeoutMs, seen);
    return seen();
  }

 private:
  static constexpr int kStartMs = 20000;
  static constexpr int kLineWaitMs = 10000;

  // Reads the server's lines until done() holds, the server ends, or timeoutMs passes (0:
  // only what is there now).
  template <typename Done>
  void readLines(int timeoutMs, Done done) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (stdout_ >= 0 && !done()) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
      pollfd pfd{stdout_, POLLIN, 0};
      if (::poll(&pfd, 1, static_cast<int>(std::max<long long>(0, left.count()))) <= 0) return;
      char buffer[512];
      const ssize_t n = ::read(stdout_, buffer, sizeof buffer);
      if (n <= 0) return;
      for (ssize_t i = 0; i < n; ++i) {
        if (buffer[i] != '\n') {
          partial_.push_back(buffer[i]);
          continue;
        }
        lines_.push_back(partial_);
        partial_.clear();
      }
    }
  }

  pid_t pid_ = -1;
  int stdin_ = -1;
  int stdout_ = -1;
  int port_ = 0;
  std::vector<std::string> lines_;
  std::string partial_;
};

}  // namespace ftptest
