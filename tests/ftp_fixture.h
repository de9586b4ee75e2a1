// The local EPO server of the tests as a C++ object: starts tests/ftp_fixture.py (Debian's
// python3-pyftpdlib) on 127.0.0.1 serving one directory to the fixed login, in one of its
// modes, and stops it when the object goes. Plain POSIX, for core and window tests alike.
//
// Thread rule: one owner thread; the server is a child process that also ends on its own
// when the pipe to its standard input closes, so it never outlives a crashed test.
#pragma once

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
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
  // mode: "normal", "drop" or "silent"; extra: further options ("--password", "x" ...).
  FtpFixture(const std::string& root, const std::string& mode, const std::vector<std::string>& extra = {}) {
    logPath_ = root + ".log";
    int toChild[2];
    int fromChild[2];
    if (::pipe(toChild) != 0) return;
    if (::pipe(fromChild) != 0) {
      ::close(toChild[0]);
      ::close(toChild[1]);
      return;
    }
    std::vector<std::string> args = {PythonPath(), FixtureScriptPath(), "--root", root, "--mode", mode, "--log", logPath_};
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
    std::string line;
    for (;;) {
      pollfd pfd{stdout_, POLLIN, 0};
      if (::poll(&pfd, 1, 20000) <= 0) break;
      char c = 0;
      if (::read(stdout_, &c, 1) != 1 || c == '\n') break;
      line.push_back(c);
    }
    if (line.rfind("PORT ", 0) == 0) port_ = std::atoi(line.c_str() + 5);
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
  // One line per command the server received ("CMD RETR MTK7d.EPO") and per retrieval.
  std::vector<std::string> log() const {
    std::vector<std::string> lines;
    std::ifstream in(logPath_);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }
  bool logHas(const std::string& line) const {
    const auto lines = log();
    return std::find(lines.begin(), lines.end(), line) != lines.end();
  }

 private:
  pid_t pid_ = -1;
  int stdin_ = -1;
  int stdout_ = -1;
  int port_ = 0;
  std::string logPath_;
};

}  // namespace ftptest
