// Network receivers: the names, the bounded connect, gpsd's watch hand-shake and the filter
// that keeps gpsd's JSON out of the sentence stream.
//
// gpsd is asked for ?WATCH={"enable":true,"json":false,"raw":1,...}: raw mode 1 passes the
// device's NMEA exactly as read (replies to commands and proprietary sentences included),
// where "nmea":true would hand on gpsd's own rendering of binary packets. gpsd still sends
// its JSON answers (VERSION, DEVICES, WATCH, DEVICE, ERROR), each one line beginning with
// "{", which never begins an NMEA line.
//
// Thread rule: see the header.
#include "link/network_source.h"

#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::string_view kTcpScheme = "tcp://";
constexpr std::string_view kGpsdScheme = "gpsd://";
constexpr int kCancelCheckMs = 100;
constexpr std::size_t kJsonLineLimit = 65536;  // longer lines are dropped all the same, unread

bool validPort(const std::string& port) {
  if (port.empty() || port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos) return false;
  const long value = std::stol(port);
  return value >= 1 && value <= 65535;
}

std::string jsonString(const std::string& text) {
  std::string out = "\"";
  for (const char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    if (static_cast<unsigned char>(c) >= 0x20) out += c;
  }
  return out + "\"";
}

// The text of a member "name":"value" of a JSON line, empty when absent.
std::string memberText(const std::string& line, const std::string& name) {
  const std::string key = "\"" + name + "\":\"";
  const std::size_t at = line.find(key);
  if (at == std::string::npos) return {};
  const std::size_t begin = at + key.size();
  const std::size_t end = line.find('"', begin);
  return end == std::string::npos ? std::string() : line.substr(begin, end - begin);
}

bool isClass(const std::string& line, const char* name) { return memberText(line, "class") == name; }

int remainingMs(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

// Waits for events on fd (and a wake-up on wakeFd) until the deadline; cancelled() is asked
// between slices. 1: ready, 0: time-out, -1: stopped.
int waitFor(int fd, short events, int wakeFd, Clock::time_point deadline, const std::function<bool()>& cancelled) {
  for (;;) {
    if (cancelled && cancelled()) return -1;
    const int left = remainingMs(deadline);
    if (left == 0) return 0;
    struct pollfd fds[2] = {{fd, events, 0}, {wakeFd, POLLIN, 0}};
    const int ready = ::poll(fds, wakeFd >= 0 ? 2 : 1, std::min(left, kCancelCheckMs));
    if (ready < 0 && errno != EINTR) return 1;  // the next call on fd says what is wrong
    if (ready > 0 && wakeFd >= 0 && (fds[1].revents & POLLIN)) return -1;
    if (ready > 0 && fds[0].revents != 0) return 1;
  }
}

LinkError failure(const std::string& portName, LinkCause cause, int errorNumber, std::string detail,
                  std::string explanation) {
  return {"Open ComPort failed.", portName, errorNumber, cause, std::move(detail), std::move(explanation)};
}

std::string hostPort(const NetworkAddress& address) { return address.host + ":" + address.port; }

LinkError connectFailure(const std::string& portName, const NetworkAddress& address, int err) {
  const std::string where = hostPort(address);
  const std::string detail = "connect " + where + ": " + std::strerror(err);
  switch (err) {
    case ECONNREFUSED:
      return failure(portName, LinkCause::Refused, err, detail,
                     "Nothing accepts connections at " + where + " (connection refused): check that " +
                         (address.kind == NetworkKind::Gpsd ? "gpsd runs there and listens on that port"
                                                            : "ser2net, socat or the receiver's app runs there and "
                                                              "listens on that port") +
                         ".");
    case ETIMEDOUT:
      return failure(portName, LinkCause::TimedOut, err, detail,
                     where + " did not answer within " + std::to_string(kNetworkConnectTimeoutMs / 1000) +
                         " s: check the address, the network and any firewall between.");
    default:
      return failure(portName, CauseOfErrno(err) == LinkCause::None ? LinkCause::Other : CauseOfErrno(err), err, detail,
                     "Cannot connect to " + where + " (" + std::strerror(err) + ").");
  }
}

// One address: a non-blocking connect, finished or failed within the deadline. 0 or errno.
int connectOne(int fd, const addrinfo* ai, int wakeFd, Clock::time_point deadline,
               const std::function<bool()>& cancelled, bool* stopped) {
  if (::connect(fd, ai->ai_addr, ai->ai_addrlen) == 0) return 0;
  if (errno != EINPROGRESS && errno != EINTR) return errno;
  const int ready = waitFor(fd, POLLOUT, wakeFd, deadline, cancelled);
  if (ready < 0) {
    *stopped = true;
    return EINTR;
  }
  if (ready == 0) return ETIMEDOUT;
  int err = 0;
  socklen_t length = sizeof err;
  if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &length) != 0) return errno;
  return err;
}

// gpsd: the watch request, then its answers up to WATCH (or an ERROR) within the deadline.
LinkError gpsdHandshake(const std::string& portName, const NetworkAddress& address, int fd, int wakeFd,
                        Clock::time_point deadline, const std::function<bool()>& cancelled,
                        NetworkConnectResult& result) {
  std::string request = R"(?WATCH={"enable":true,"json":false,"raw":1)";
  if (!address.device.empty()) request += ",\"device\":" + jsonString(address.device);
  request += "};\n";
  if (::send(fd, request.data(), request.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(request.size())) {
    return connectFailure(portName, address, errno == 0 ? EIO : errno);
  }
  result.filter.collect(true);
  result.filter.watchDevice(address.device);
  const std::string where = hostPort(address);
  char buffer[4096];
  for (;;) {
    const int ready = waitFor(fd, POLLIN, wakeFd, deadline, cancelled);
    if (ready < 0) {
      return failure(portName, LinkCause::Other, 0, "stopped", "The connection to " + where + " was stopped.");
    }
    if (ready == 0) {
      return failure(portName, LinkCause::TimedOut, ETIMEDOUT, "no WATCH answer",
                     where + " accepted the connection but gave no gpsd answer within " +
                         std::to_string(kNetworkConnectTimeoutMs / 1000) + " s: is it gpsd?");
    }
    const ssize_t n = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
    if (n <= 0) {
      return failure(portName, LinkCause::Lost, n < 0 ? errno : 0, "closed during the watch request",
                     "gpsd at " + where + " closed the connection before it answered.");
    }
    result.filter.feed(buffer, static_cast<std::size_t>(n), result.pending);
    std::string lines = result.filter.takeJsonLines();
    for (std::size_t begin = 0; begin < lines.size();) {
      const std::size_t end = lines.find('\n', begin);
      const std::string line = lines.substr(begin, end - begin);
      begin = end == std::string::npos ? lines.size() : end + 1;
      if (isClass(line, "ERROR")) {
        const std::string said = memberText(line, "message");
        const std::string what = address.device.empty() ? std::string("the watch") : address.device;
        return failure(portName, LinkCause::Missing, 0, said,
                       "gpsd at " + where + " refused " + what + " (gpsd says: \"" + said +
                           "\"): give a device gpsd reads, or none for all of them.");
      }
      if (isClass(line, "WATCH")) {
        result.filter.collect(false);
        return {};
      }
    }
  }
}

}  // namespace

bool IsNetworkPortName(std::string_view text) { return text.starts_with(kTcpScheme) || text.starts_with(kGpsdScheme); }

std::optional<NetworkAddress> ParseNetworkAddress(std::string_view text, std::string* problem) {
  NetworkAddress address;
  std::string_view rest;
  if (text.starts_with(kTcpScheme)) {
    rest = text.substr(kTcpScheme.size());
  } else if (text.starts_with(kGpsdScheme)) {
    address.kind = NetworkKind::Gpsd;
    rest = text.substr(kGpsdScheme.size());
  } else {
    *problem =
        "\"" + std::string(text) + "\" is no network address: use tcp://HOST:PORT or gpsd://HOST[:PORT][/DEVICE].";
    return std::nullopt;
  }
  const std::string usage = address.kind == NetworkKind::Tcp ? "tcp://HOST:PORT" : "gpsd://HOST[:PORT][/DEVICE]";
  if (address.kind == NetworkKind::Gpsd) {
    if (const std::size_t slash = rest.find('/'); slash != std::string_view::npos) {
      address.device = std::string(rest.substr(slash));
      rest = rest.substr(0, slash);
    }
  }
  std::string_view portText;
  if (rest.starts_with('[')) {  // [IPv6]:port
    const std::size_t close = rest.find(']');
    if (close != std::string_view::npos) {
      address.host = std::string(rest.substr(1, close - 1));
      const std::string_view after = rest.substr(close + 1);
      if (after.starts_with(':')) portText = after.substr(1);
      else if (!after.empty()) address.host.clear();
    }
  } else if (const std::size_t colon = rest.rfind(':'); colon != std::string_view::npos) {
    address.host = std::string(rest.substr(0, colon));
    portText = rest.substr(colon + 1);
  } else {
    address.host = std::string(rest);
  }
  address.port = portText.empty() && address.kind == NetworkKind::Gpsd ? kGpsdDefaultPort : std::string(portText);
  if (address.host.empty() || address.host.find_first_of(" \t/@") != std::string::npos) {
    *problem = "\"" + std::string(text) + "\" names no host: write " + usage + ".";
    return std::nullopt;
  }
  if (!validPort(address.port)) {
    *problem = "\"" + std::string(text) + "\" has no port number from 1 to 65535: write " + usage + ".";
    return std::nullopt;
  }
  return address;
}

std::string NetworkDescription(std::string_view text) {
  return text.starts_with(kGpsdScheme) ? "through gpsd, read-only; the speed does not apply"
                                       : "network; the speed does not apply";
}

std::string ReadOnlyRefusal(const std::string& portName) {
  return portName +
         " is read through gpsd, which owns the receiver: no command is sent that way. "
         "Use a tcp:// link or the serial port to send commands.";
}

std::string EpoNetworkRefusal(const std::string& portName) {
  return "The EPO update needs a serial line whose speed Torvikel sets, and " + portName +
         " is a network link: connect the receiver by its serial port for the update.";
}

void GpsdLineFilter::feed(const char* data, std::size_t size, std::string& out) {
  for (std::size_t i = 0; i < size; ++i) {
    const char c = data[i];
    if (inJson_) {
      if (c == '\n') {
        endJsonLine();
      } else if (json_.size() < kJsonLineLimit) {
        json_ += c;
      }
      continue;
    }
    if (atLineStart_ && c == '{') {
      inJson_ = true;
      json_.assign(1, c);
      continue;
    }
    out += c;
    atLineStart_ = c == '\n';
  }
}

void GpsdLineFilter::endJsonLine() {
  inJson_ = false;
  atLineStart_ = true;
  if (!json_.empty() && json_.back() == '\r') json_.pop_back();
  if (collecting_) {
    collected_ += json_;
    collected_ += '\n';
  } else if (!device_.empty() && isClass(json_, "DEVICE") && memberText(json_, "path") == device_ &&
             json_.find("\"activated\":0") != std::string::npos) {
    deviceGone_ = true;
  }
  json_.clear();
}

std::string GpsdLineFilter::takeJsonLines() {
  std::string lines;
  lines.swap(collected_);
  return lines;
}

NetworkConnectResult ConnectNetworkSource(const std::string& portName, const NetworkAddress& address, int wakeFd,
                                          int timeoutMs, const std::function<bool()>& cancelled) {
  NetworkConnectResult result;
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_ADDRCONFIG;
  addrinfo* found = nullptr;
  // The look-up itself cannot be cut short; the system resolver bounds it.
  const int lookup = ::getaddrinfo(address.host.c_str(), address.port.c_str(), &hints, &found);
  if (lookup != 0) {
    const std::string said = lookup == EAI_SYSTEM ? std::strerror(errno) : ::gai_strerror(lookup);
    result.error =
        failure(portName, LinkCause::HostNotFound, 0, "look up " + address.host + ": " + said,
                "The host " + address.host + " cannot be found (" + said + "): check its name, or give its address.");
    return result;
  }
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  int lastError = ECONNREFUSED;
  bool stopped = false;
  for (const addrinfo* ai = found; ai != nullptr && !stopped; ai = ai->ai_next) {
    const int fd = ::socket(ai->ai_family, ai->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, ai->ai_protocol);
    if (fd < 0) {
      lastError = errno;
      continue;
    }
    lastError = connectOne(fd, ai, wakeFd, deadline, cancelled, &stopped);
    if (lastError == 0) {
      result.fd = fd;
      break;
    }
    ::close(fd);
    if (lastError == ETIMEDOUT) break;  // the time is spent
  }
  ::freeaddrinfo(found);
  if (result.fd < 0) {
    result.error = stopped ? failure(portName, LinkCause::Other, 0, "stopped",
                                     "The connection to " + hostPort(address) + " was stopped.")
                           : connectFailure(portName, address, lastError);
    return result;
  }
  const int one = 1;
  ::setsockopt(result.fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);  // a command goes out at once
  if (address.kind == NetworkKind::Gpsd) {
    result.error = gpsdHandshake(portName, address, result.fd, wakeFd, deadline, cancelled, result);
    if (result.error.failed()) {
      ::close(result.fd);
      result.fd = -1;
    }
  }
  return result;
}
