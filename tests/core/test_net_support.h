// The real programs that serve a receiver on the network, started by the tests on the
// simulated receiver's pseudo-terminal and stopped by them: socat for tcp:// (the first
// connection gets the terminal; when it ends, socat ends) and gpsd for gpsd:// (read-only,
// in the foreground, on a private port and control socket). Everything is on loopback; a
// free port is taken from the kernel; readiness is a line (socat) or an accepting socket
// (gpsd), never a fixed sleep. gpsd run as root leaves System V shared memory behind for
// its clients; the segments it made are removed again.
//
// Thread rule: each test owns its server.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/shm.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "tests/core/test_epo_support.h"

namespace nettest {

enum class Source { Terminal, Tcp, Gpsd };

// A loopback port nobody listens on now: the kernel's choice for a socket bound to port 0.
inline int FreeLoopbackPort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  int port = -1;
  if (fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
    port = ntohs(address.sin_port);
  }
  if (fd >= 0) ::close(fd);
  return port;
}

inline bool Accepting(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  const bool ok = fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  if (fd >= 0) ::close(fd);
  return ok;
}

// gpsd's shared memory keys: its export segment and the eight NTP ones.
inline std::vector<key_t> GpsdSegmentKeys() {
  std::vector<key_t> keys = {0x47505344};
  for (key_t unit = 0; unit < 8; ++unit) keys.push_back(0x4e545030 + unit);
  return keys;
}

// socat or gpsd serving the terminal at devicePath on a loopback port.
class NetworkServer {
 public:
  NetworkServer(Source source, const std::string& devicePath) : source_(source) {
    if (source == Source::Terminal) {
      url_ = devicePath;
      return;
    }
    // Another test may take the free port between the look and the start: try again then.
    for (int attempt = 0; attempt < 3 && pid_ <= 0; ++attempt) start(devicePath);
  }
  ~NetworkServer() {
    stop();
    if (source_ == Source::Gpsd) {
      // gpsd leaves its segments behind. They go once no gpsd is attached any more: one of
      // another test that still runs keeps them, whoever made them first.
      for (const key_t key : GpsdSegmentKeys()) {
        const int id = ::shmget(key, 0, 0);
        struct shmid_ds state {};
        if (id >= 0 && ::shmctl(id, IPC_STAT, &state) == 0 && state.shm_nattch == 0) ::shmctl(id, IPC_RMID, nullptr);
      }
    }
  }
  NetworkServer(const NetworkServer&) = delete;
  NetworkServer& operator=(const NetworkServer&) = delete;

  bool started() const { return source_ == Source::Terminal || pid_ > 0; }
  const std::string& url() const { return url_; }
  const std::string& error() const { return error_; }

  // Ends the server as its user would (SIGTERM), so the connection closes; waits for it.
  void stop() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    int status = 0;
    const auto guard = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (::waitpid(pid_, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > guard) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, &status, 0);
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    pid_ = -1;
    if (errFd_ >= 0) ::close(errFd_);
    errFd_ = -1;
  }

 private:
  void start(const std::string& devicePath) {
    const int port = FreeLoopbackPort();
    if (port <= 0) return;
    std::vector<std::string> args;
    if (source_ == Source::Tcp) {
      args = {"socat", "-d", "-d", "TCP-LISTEN:" + std::to_string(port) + ",bind=127.0.0.1,reuseaddr",
              devicePath + ",raw,echo=0"};
      url_ = "tcp://127.0.0.1:" + std::to_string(port);
    } else {
      // -n: open the device at once, while still root; -b: never write to it; -s: its speed
      // is known, no hunting.
      args = {"gpsd",    "-N", "-n", "-b", "-s", "115200", "-S", std::to_string(port), "-F", dir_.file("control"),
              devicePath};
      url_ = "gpsd://127.0.0.1:" + std::to_string(port) + devicePath;
    }
    int errPipe[2];
    if (::pipe2(errPipe, O_CLOEXEC) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(errPipe[1], STDERR_FILENO);
      const int devNull = ::open("/dev/null", O_RDWR);
      ::dup2(devNull, STDIN_FILENO);
      ::dup2(devNull, STDOUT_FILENO);
      std::vector<char*> argv;
      for (std::string& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      ::execvp(argv[0], argv.data());
      ::_exit(127);
    }
    ::close(errPipe[1]);
    errFd_ = errPipe[0];
    if (pid_ < 0 || !waitReady(port)) {
      error_ = args[0] + " did not start: " + errText_;
      stop();
    }
  }

  // socat says "listening on"; gpsd is ready when its port accepts.
  bool waitReady(int port) {
    const auto guard = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < guard) {
      if (source_ == Source::Gpsd && Accepting(port)) return true;
      pollfd pfd = {errFd_, POLLIN, 0};
      if (::poll(&pfd, 1, 10) > 0) {
        char buffer[512];
        const ssize_t n = ::read(errFd_, buffer, sizeof buffer);
        if (n <= 0) return false;  // the server ended
        errText_.append(buffer, static_cast<std::size_t>(n));
        if (source_ == Source::Tcp && errText_.find("listening on") != std::string::npos) return true;
      }
    }
    return false;
  }

  Source source_;
  epotest::TempDir dir_;
  std::string url_;
  std::string error_;
  std::string errText_;
  pid_t pid_ = -1;
  int errFd_ = -1;
};

}  // namespace nettest
