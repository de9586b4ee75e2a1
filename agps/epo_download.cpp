// The EPO download over libcurl's FTP: one easy handle in one multi handle keeps one control
// connection for the listing and the retrieval; curl_multi_cleanup sends QUIT and closes it,
// on every path. The transfers run in our own poll loop rather than curl_easy_perform, so
// the cancel flag is looked at every 10 ms and the data bounds (no byte for the stall time,
// too few bytes per period) end a transfer on time, not up to a few seconds late as curl's
// low-speed check, which averages over its own window, would.
//
// Thread rule: each call owns its handles and its files; curl's global set-up runs once.
#include "agps/epo_download.h"

#include <curl/curl.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

constexpr long long kListingLimitBytes = 1 << 20;  // a listing is thrown away; bound it anyway

void ensureCurlGlobal() {
  static const bool initialised = [] { return curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK; }();
  (void)initialised;
}

struct CurlDeleter {
  void operator()(CURL* handle) const noexcept { curl_easy_cleanup(handle); }
};
using CurlPtr = std::unique_ptr<CURL, CurlDeleter>;
struct CurlMultiDeleter {
  void operator()(CURLM* handle) const noexcept { curl_multi_cleanup(handle); }
};
using CurlMultiPtr = std::unique_ptr<CURLM, CurlMultiDeleter>;

using Clock = std::chrono::steady_clock;
// How often curl's own time-outs (each reply, the accept) and the cancel flag are looked at:
// curl sets no timer for them, so the poll must wake by itself to end them on time.
constexpr auto kPollSlice = std::chrono::milliseconds(10);

// The pace of the data connection: open from the server's connection (active mode: our
// accept) until curl closes it. It must bring a byte at least every `stall`, and at least
// floorBytes in every whole `stall` period since it opened.
struct DataPace {
  curl_socket_t socket = CURL_SOCKET_BAD;
  bool wholeTransfer = false;  // watched from the transfer's start (a URL: no data connection of its own to wait for)
  Clock::time_point periodStart{};
  Clock::time_point lastByte{};
  long long periodBytes = 0;

  bool open() const { return wholeTransfer || socket != CURL_SOCKET_BAD; }
  void opened(curl_socket_t s) {
    socket = s;
    periodStart = lastByte = Clock::now();
    periodBytes = 0;
  }
  void watchFromNow() {
    wholeTransfer = true;
    opened(CURL_SOCKET_BAD);
  }
  void received(std::size_t bytes) {
    lastByte = Clock::now();
    periodBytes += static_cast<long long>(bytes);
  }
};

enum class PaceVerdict { Fine, Stalled, TooSlow };

// Where received bytes go, and the limits checked as they arrive.
struct Sink {
  std::FILE* out = nullptr;  // null: counted and dropped (the listing)
  long long received = 0;
  long long limit = 0;
  bool tooLarge = false;
  bool writeFailed = false;
  PaceVerdict pace = PaceVerdict::Fine;
  DataPace data;
};

std::size_t writeToSink(char* bytesIn, std::size_t size, std::size_t count, void* user) {
  auto* sink = static_cast<Sink*>(user);
  const std::size_t bytes = size * count;
  if (sink->received + static_cast<long long>(bytes) > sink->limit) {
    sink->tooLarge = true;
    return 0;  // anything short of `bytes` aborts the transfer
  }
  if (sink->out != nullptr && std::fwrite(bytesIn, 1, bytes, sink->out) != bytes) {
    sink->writeFailed = true;
    return 0;
  }
  sink->received += static_cast<long long>(bytes);
  sink->data.received(bytes);
  return bytes;
}

// The server's data connection arrives (active mode): its pace is watched from now.
int watchDataSocket(void* user, curl_socket_t socket, curlsocktype purpose) {
  if (purpose == CURLSOCKTYPE_ACCEPT) static_cast<Sink*>(user)->data.opened(socket);
  return CURL_SOCKOPT_OK;
}

int closeSocket(void* user, curl_socket_t socket) {
  auto* sink = static_cast<Sink*>(user);
  if (sink->data.socket == socket) sink->data.socket = CURL_SOCKET_BAD;
  return ::close(socket);
}

struct PaceLimits {
  Clock::duration stall;
  long long floorBytes;  // per stall period
};

// The verdict now, and how long the poll may wait before the next one can change.
PaceVerdict judgePace(DataPace& data, const PaceLimits& limits, Clock::time_point now, Clock::duration* wait) {
  *wait = kPollSlice;
  if (!data.open()) return PaceVerdict::Fine;
  if (now - data.lastByte >= limits.stall) return PaceVerdict::Stalled;
  while (now - data.periodStart >= limits.stall) {
    if (data.periodBytes < limits.floorBytes) return PaceVerdict::TooSlow;
    data.periodStart += limits.stall;
    data.periodBytes = 0;
  }
  const Clock::time_point next = std::min(data.lastByte, data.periodStart) + limits.stall;
  *wait = std::clamp<Clock::duration>(next - now, Clock::duration::zero(), kPollSlice);
  return PaceVerdict::Fine;
}

// One transfer of the easy handle, run in the multi handle (whose connection cache keeps the
// control connection for the next transfer) until it ends, the cancel flag is set or its
// data falls below the pace.
CURLcode performBounded(CURLM* multi, CURL* easy, Sink& sink, const PaceLimits& limits,
                        const std::atomic<bool>* cancel) {
  if (curl_multi_add_handle(multi, easy) != CURLM_OK) return CURLE_FAILED_INIT;
  CURLcode code = CURLE_OK;
  for (;;) {
    int running = 0;
    if (curl_multi_perform(multi, &running) != CURLM_OK) {
      code = CURLE_FAILED_INIT;
      break;
    }
    if (running == 0) {
      int left = 0;
      while (const CURLMsg* message = curl_multi_info_read(multi, &left)) {
        if (message->msg == CURLMSG_DONE) code = message->data.result;
      }
      break;
    }
    if (cancel != nullptr && cancel->load()) {
      code = CURLE_ABORTED_BY_CALLBACK;
      break;
    }
    Clock::duration wait{};
    sink.pace = judgePace(sink.data, limits, Clock::now(), &wait);
    if (sink.pace != PaceVerdict::Fine) {
      code = CURLE_OPERATION_TIMEDOUT;
      break;
    }
    const auto waitMs = std::chrono::ceil<std::chrono::milliseconds>(wait).count();
    curl_multi_poll(multi, nullptr, 0, static_cast<int>(waitMs), nullptr);
  }
  // Removing a transfer that still runs ends it and closes its connection.
  curl_multi_remove_handle(multi, easy);
  return code;
}

long secondsCeil(long ms) { return ms <= 0 ? 1 : (ms + 999) / 1000; }

bool validHostChar(char c, bool bracketed) {
  if (std::isalnum(static_cast<unsigned char>(c)) != 0) return true;
  if (c == '.' || c == '-' || c == '_') return true;
  return bracketed && (c == ':' || c == '%');
}

std::string urlHost(const EpoServer& server) {
  if (server.host.find(':') != std::string::npos) return "[" + server.host + "]";
  return server.host;
}

std::string describeFailure(const char* step, CURLcode code, const char* errorText, const Sink& sink,
                            const EpoDownloadOptions& options, long long maxBytes) {
  if (options.cancel != nullptr && options.cancel->load()) return std::string(step) + ": cancelled";
  if (sink.tooLarge || code == CURLE_FILESIZE_EXCEEDED) {
    return std::string(step) + ": the file is larger than " + std::to_string(maxBytes) + " bytes";
  }
  if (sink.writeFailed) return std::string(step) + ": cannot write the local file: " + std::strerror(errno);
  const std::string period = std::to_string(secondsCeil(options.stallTimeoutMs)) + " s";
  if (sink.pace == PaceVerdict::Stalled) return std::string(step) + ": no data for " + period;
  if (sink.pace == PaceVerdict::TooSlow) {
    return std::string(step) + ": slower than " + std::to_string(options.minBytesPerSecond) + " bytes/s over " + period;
  }
  std::string text = std::string(step) + ": " + curl_easy_strerror(code);
  // curl leaves a harmless note from choosing the active-mode address ("-") in the error
  // buffer; it says nothing about the failure, so it is not passed on.
  if (errorText != nullptr && errorText[0] != '\0' && std::strstr(errorText, "inet_ntop") == nullptr) {
    text += " (" + std::string(errorText) + ")";
  }
  return text;
}

constexpr std::string_view kUrlSchemes[] = {"ftp", "http", "https", "file"};
constexpr long kMostRedirects = 5;

std::string LowerCase(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower;
}

// The file a download goes into: a temporary one beside the final name, renamed over it only
// when the download is complete, so an interrupted one never leaves a half file under the
// name the upload reads.
struct PartFile {
  std::string finalPath;
  std::string tempPath;
  std::FILE* out = nullptr;  // nullptr: it could not be made, and *problem says why
};

PartFile OpenPartFile(const EpoDownloadOptions& options, std::string* problem) {
  PartFile part;
  const std::string directory = options.directory.empty() ? std::string(".") : options.directory;
  part.finalPath = directory + "/" + kEpoFileName;
  part.tempPath = part.finalPath + ".XXXXXX";
  const int fd = ::mkstemp(part.tempPath.data());
  if (fd < 0) {
    *problem = "cannot create a file in " + directory + ": " + std::strerror(errno);
    return part;
  }
  ::fchmod(fd, 0644);
  part.out = ::fdopen(fd, "wb");
  if (part.out == nullptr) {
    *problem = "cannot write " + part.tempPath + ": " + std::strerror(errno);
    ::close(fd);
    ::unlink(part.tempPath.c_str());
  }
  return part;
}

}  // namespace

std::optional<std::string> EpoUrlProblem(std::string_view url) {
  const std::size_t colon = url.find("://");
  const std::string scheme = colon == std::string_view::npos ? std::string() : LowerCase(url.substr(0, colon));
  if (std::find(std::begin(kUrlSchemes), std::end(kUrlSchemes), scheme) == std::end(kUrlSchemes))
    return "a URL begins with ftp://, http://, https:// or file://";
  if (url.size() == colon + 3) return "the URL names nothing after " + scheme + "://";
  for (const char c : url) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte <= 0x20 || byte >= 0x7F) return "a URL holds no blanks, control bytes or non-ASCII letters";
  }
  return std::nullopt;
}

bool EpoLooksLikeUrl(std::string_view text) { return text.find("://") != std::string_view::npos; }

std::optional<EpoServer> EpoParseServer(std::string_view text) {
  if (text.empty()) return std::nullopt;
  EpoServer server;
  std::string_view rest;
  bool bracketed = false;
  if (text.front() == '[') {
    const std::size_t close = text.find(']');
    if (close == std::string_view::npos || close == 1) return std::nullopt;
    server.host = std::string(text.substr(1, close - 1));
    rest = text.substr(close + 1);
    bracketed = true;
  } else {
    const std::size_t colon = text.find(':');
    server.host = std::string(text.substr(0, colon));
    rest = colon == std::string_view::npos ? std::string_view{} : text.substr(colon);
  }
  if (server.host.empty()) return std::nullopt;
  for (char c : server.host) {
    if (!validHostChar(c, bracketed)) return std::nullopt;
  }
  if (!rest.empty()) {
    if (rest.front() != ':' || rest.size() < 2) return std::nullopt;
    const std::string_view digits = rest.substr(1);
    unsigned value = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (error != std::errc() || end != digits.data() + digits.size() || value == 0 || value > 65535) {
      return std::nullopt;
    }
    server.port = static_cast<std::uint16_t>(value);
  }
  return server;
}

EpoServerChoice EpoChooseServer(std::string_view given) {
  EpoServerChoice choice;
  std::string_view text = given;
  std::string source = "given";
  if (text.empty()) {
    const char* fromEnvironment = std::getenv(kEpoServerEnvironment);
    if (fromEnvironment != nullptr && fromEnvironment[0] != '\0') {
      text = fromEnvironment;
      source = kEpoServerEnvironment;
    }
  }
  if (text.empty()) {
    choice.server = EpoServer{kEpoDefaultServerHost, kEpoFtpPort};
    choice.detail = "default server " + std::string(kEpoDefaultServerHost);
    return choice;
  }
  // The environment may name the file itself, from any source.
  if (source == kEpoServerEnvironment && EpoLooksLikeUrl(text)) {
    if (const std::optional<std::string> problem = EpoUrlProblem(text)) {
      choice.detail = source + " \"" + std::string(text) + "\": " + *problem;
    } else {
      choice.url = std::string(text);
      choice.detail = source + " " + std::string(text);
    }
    return choice;
  }
  choice.server = EpoParseServer(text);
  if (choice.server) {
    choice.detail = source + " server " + std::string(text);
  } else {
    choice.detail = source + " server \"" + std::string(text) + "\" is not host[:port]";
  }
  return choice;
}

namespace {

// One URL fetched into directory, with the FTP download's bounds: the connect, each FTP reply,
// the data's pace and the file's size; its failures said the same way.
EpoDownloadResult DownloadUrl(const std::string& url, const EpoDownloadOptions& options) {
  EpoDownloadResult result;
  ensureCurlGlobal();
  Sink sink;
  char errorText[CURL_ERROR_SIZE] = {};
  CurlPtr curl(curl_easy_init());
  CurlMultiPtr multi(curl_multi_init());
  if (!curl || !multi) {
    result.detail = "cannot start the download client";
    return result;
  }
  const PaceLimits pace{std::chrono::milliseconds(options.stallTimeoutMs > 0 ? options.stallTimeoutMs : 1L),
                        std::max(0L, options.minBytesPerSecond) * std::max(0L, options.stallTimeoutMs) / 1000};
  // The same name as the server's file: the window's working directory holds no other file
  // of ours that a name from a URL could overwrite.
  const PartFile part = OpenPartFile(options, &result.detail);
  if (part.out == nullptr) return result;
  const std::string& finalPath = part.finalPath;
  const std::string& tempPath = part.tempPath;
  std::FILE* const out = part.out;
  sink.out = out;
  sink.limit = options.maxFileBytes;
  sink.data.watchFromNow();

  CURL* h = curl.get();
  curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
#if LIBCURL_VERSION_NUM >= 0x075700
  // A stop during a name look-up that hangs must not wait for the resolver's thread.
  curl_easy_setopt(h, CURLOPT_QUICK_EXIT, 1L);
#endif
  curl_easy_setopt(h, CURLOPT_ERRORBUFFER, errorText);
  curl_easy_setopt(h, CURLOPT_URL, url.c_str());
  curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "ftp,http,https,file");
  // A server may send us on, but only to another server: never into this machine's files.
  curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(h, CURLOPT_MAXREDIRS, kMostRedirects);
  curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, "http,https,ftp");
  curl_easy_setopt(h, CURLOPT_FAILONERROR, 1L);  // an HTTP error page is no EPO file
  curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, options.connectTimeoutMs > 0 ? options.connectTimeoutMs : 1L);
  curl_easy_setopt(h, CURLOPT_SERVER_RESPONSE_TIMEOUT, secondsCeil(options.responseTimeoutMs));
  curl_easy_setopt(h, CURLOPT_TRANSFERTEXT, 0L);  // FTP: TYPE I
  curl_easy_setopt(h, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(options.maxFileBytes));
  curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, writeToSink);
  curl_easy_setopt(h, CURLOPT_WRITEDATA, &sink);
  curl_easy_setopt(h, CURLOPT_CLOSESOCKETFUNCTION, closeSocket);
  curl_easy_setopt(h, CURLOPT_CLOSESOCKETDATA, &sink);
  const CURLcode code = performBounded(multi.get(), h, sink, pace, options.cancel);
  multi.reset();  // every connection closed before the file is judged
  const bool closed = std::fclose(out) == 0;
  result.bytes = sink.received;
  if (code != CURLE_OK || !closed) {
    ::unlink(tempPath.c_str());
    result.detail = code != CURLE_OK ? describeFailure(("retrieve " + url).c_str(), code, errorText, sink, options,
                                                       options.maxFileBytes)
                                     : "cannot write " + tempPath + ": " + std::strerror(errno);
    return result;
  }
  if (std::rename(tempPath.c_str(), finalPath.c_str()) != 0) {
    const int error = errno;
    ::unlink(tempPath.c_str());
    result.detail = "cannot rename " + tempPath + " to " + finalPath + ": " + std::strerror(error);
    return result;
  }
  result.ok = true;
  result.localPath = finalPath;
  result.detail = "downloaded " + std::to_string(sink.received) + " bytes from " + url;
  return result;
}

}  // namespace

EpoDownloadResult EpoDownload(const EpoDownloadOptions& options) {
  if (!options.url.empty()) {
    if (const std::optional<std::string> problem = EpoUrlProblem(options.url)) {
      EpoDownloadResult refused;
      refused.detail = "\"" + options.url + "\": " + *problem;
      return refused;
    }
    return DownloadUrl(options.url, options);
  }
  EpoDownloadResult result;
  const EpoServerChoice choice = EpoChooseServer(options.server);
  if (!choice.url.empty()) return DownloadUrl(choice.url, options);
  if (!choice.server) {
    result.detail = choice.detail;
    return result;
  }
  ensureCurlGlobal();
  // The sink outlives both handles: closing the connections calls back into it.
  Sink sink;
  char errorText[CURL_ERROR_SIZE] = {};
  CurlPtr curl(curl_easy_init());
  CurlMultiPtr multi(curl_multi_init());
  if (!curl || !multi) {
    result.detail = "cannot start the FTP client";
    return result;
  }
  const std::string base = "ftp://" + urlHost(*choice.server) + ":" + std::to_string(choice.server->port) + "/";
  const PaceLimits pace{std::chrono::milliseconds(options.stallTimeoutMs > 0 ? options.stallTimeoutMs : 1L),
                        std::max(0L, options.minBytesPerSecond) * std::max(0L, options.stallTimeoutMs) / 1000};

  CURL* h = curl.get();
  curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
#if LIBCURL_VERSION_NUM >= 0x075700
  // A stop during a name look-up that hangs must not wait for the resolver's thread.
  curl_easy_setopt(h, CURLOPT_QUICK_EXIT, 1L);
#endif
  curl_easy_setopt(h, CURLOPT_ERRORBUFFER, errorText);
  curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "ftp");
  curl_easy_setopt(h, CURLOPT_USERNAME, kEpoFtpUser);
  curl_easy_setopt(h, CURLOPT_PASSWORD, kEpoFtpPassword);
  curl_easy_setopt(h, CURLOPT_FTPPORT, "-");  // active mode: the server connects back to us
  curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, options.connectTimeoutMs > 0 ? options.connectTimeoutMs : 1L);
  curl_easy_setopt(h, CURLOPT_SERVER_RESPONSE_TIMEOUT, secondsCeil(options.responseTimeoutMs));
  curl_easy_setopt(h, CURLOPT_ACCEPTTIMEOUT_MS, options.responseTimeoutMs > 0 ? options.responseTimeoutMs : 1L);
  curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, writeToSink);
  curl_easy_setopt(h, CURLOPT_WRITEDATA, &sink);
  curl_easy_setopt(h, CURLOPT_SOCKOPTFUNCTION, watchDataSocket);
  curl_easy_setopt(h, CURLOPT_SOCKOPTDATA, &sink);
  curl_easy_setopt(h, CURLOPT_CLOSESOCKETFUNCTION, closeSocket);
  curl_easy_setopt(h, CURLOPT_CLOSESOCKETDATA, &sink);

  // Connect, log in and list "*" in the long form; the lines are dropped.
  curl_easy_setopt(h, CURLOPT_URL, base.c_str());
  curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, "LIST *");
  sink.limit = kListingLimitBytes;
  CURLcode code = performBounded(multi.get(), h, sink, pace, options.cancel);
  if (code != CURLE_OK) {
    result.detail = describeFailure("connect, log in and list", code, errorText, sink, options, kListingLimitBytes);
    return result;
  }

  // Retrieve into a temporary file beside the final one; rename only when complete.
  const PartFile part = OpenPartFile(options, &result.detail);
  if (part.out == nullptr) return result;
  const std::string& finalPath = part.finalPath;
  const std::string& tempPath = part.tempPath;
  std::FILE* const out = part.out;
  errorText[0] = '\0';
  sink = Sink{};
  sink.out = out;
  sink.limit = options.maxFileBytes;
  const std::string url = base + kEpoFileName;
  curl_easy_setopt(h, CURLOPT_URL, url.c_str());
  curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, nullptr);
  curl_easy_setopt(h, CURLOPT_TRANSFERTEXT, 0L);  // TYPE I
  curl_easy_setopt(h, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(options.maxFileBytes));
  code = performBounded(multi.get(), h, sink, pace, options.cancel);
  multi.reset();  // QUIT and close before the file is judged, on every path
  const bool closed = std::fclose(out) == 0;
  result.bytes = sink.received;
  if (code != CURLE_OK || !closed) {
    ::unlink(tempPath.c_str());
    result.detail = code != CURLE_OK
                        ? describeFailure("retrieve MTK7d.EPO", code, errorText, sink, options, options.maxFileBytes)
                        : "cannot write " + tempPath + ": " + std::strerror(errno);
    return result;
  }
  if (std::rename(tempPath.c_str(), finalPath.c_str()) != 0) {
    const int error = errno;
    ::unlink(tempPath.c_str());
    result.detail = "cannot rename " + tempPath + " to " + finalPath + ": " + std::strerror(error);
    return result;
  }
  result.ok = true;
  result.localPath = finalPath;
  result.detail = "downloaded " + std::to_string(sink.received) + " bytes from " + choice.detail;
  return result;
}
