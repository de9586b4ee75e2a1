// A real local web server for the download tests: Python's http.server serving one
// directory on 127.0.0.1, on a port the system chooses (free by construction), started as a
// child process and stopped when the object goes. The port is read from the line the server
// prints when it listens.
//
// Thread rule: one owner thread; the server is a child process, ended by SIGTERM and reaped
// by the destructor.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/ftp_fixture.h"

namespace httptest {

class HttpFixture {
 public:
  explicit HttpFixture(const std::string& root) {
    int fromChild[2];
    if (::pipe(fromChild) != 0) return;
    // "-u": the line with the port must not wait in a buffer.
    std::vector<std::string> args = {ftptest::PythonPath(), "-u",          "-m", "http.server", "0", "--bind",
                                     "127.0.0.1",           "--directory", root};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(fromChild[1], 1);
      const int devNull = ::open("/dev/null", O_RDWR);
      if (devNull >= 0) {
        ::dup2(devNull, 0);
        ::dup2(devNull, 2);  // the request log
      }
      ::close(fromChild[0]);
      ::close(fromChild[1]);
      ::execv(argv[0], argv.data());
      ::_exit(127);
    }
    ::close(fromChild[1]);
    stdout_ = fromChild[0];
    // "Serving HTTP on 127.0.0.1 port 41234 (http://127.0.0.1:41234/) ...", waited for with a
    // bound so a broken server fails the test instead of hanging it.
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    std::string seen;
    while (std::chrono::steady_clock::now() < until && seen.find(") ...") == std::string::npos) {
      pollfd fd{stdout_, POLLIN, 0};
      if (::poll(&fd, 1, 100) <= 0) continue;
      char buffer[256];
      const ssize_t n = ::read(stdout_, buffer, sizeof buffer);
      if (n <= 0) break;
      seen.append(buffer, static_cast<std::size_t>(n));
    }
    const std::size_t at = seen.find(" port ");
    if (at != std::string::npos) port_ = std::atoi(seen.c_str() + at + 6);
  }
  ~HttpFixture() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      int status = 0;
      ::waitpid(pid_, &status, 0);
    }
    if (stdout_ >= 0) ::close(stdout_);
  }
  HttpFixture(const HttpFixture&) = delete;
  HttpFixture& operator=(const HttpFixture&) = delete;

  bool started() const { return port_ > 0; }
  // "http://127.0.0.1:41234/NAME"
  std::string url(const std::string& name) const { return "http://127.0.0.1:" + std::to_string(port_) + "/" + name; }

 private:
  pid_t pid_ = -1;
  int stdout_ = -1;
  int port_ = 0;
};

}  // namespace httptest
