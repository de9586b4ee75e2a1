// The EPO download over libcurl's FTP: one easy handle keeps one control connection for the
// listing and the retrieval; curl_easy_cleanup sends QUIT and closes it, on every path.
//
// Thread rule: each call owns its handle and its files; curl's global set-up runs once.
#include "agps/epo_download.h"

#include <curl/curl.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <charconv>
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

// Where received bytes go, and the limits checked as they arrive.
struct Sink {
  std::FILE* out = nullptr;  // null: counted and dropped (the listing)
  long long received = 0;
  long long limit = 0;
  bool tooLarge = false;
  bool writeFailed = false;
  const std::atomic<bool>* cancel = nullptr;
};

std::size_t writeToSink(char* data, std::size_t size, std::size_t count, void* user) {
  auto* sink = static_cast<Sink*>(user);
  const std::size_t bytes = size * count;
  if (sink->received + static_cast<long long>(bytes) > sink->limit) {
    sink->tooLarge = true;
    return 0;  // anything short of `bytes` aborts the transfer
  }
  if (sink->out != nullptr && std::fwrite(data, 1, bytes, sink->out) != bytes) {
    sink->writeFailed = true;
    return 0;
  }
  sink->received += static_cast<long long>(bytes);
  return bytes;
}

int progressCheck(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  const auto* sink = static_cast<const Sink*>(user);
  return (sink->cancel != nullptr && sink->cancel->load()) ? 1 : 0;
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
                            long long maxFileBytes) {
  if (sink.cancel != nullptr && sink.cancel->load()) return std::string(step) + ": cancelled";
  if (sink.tooLarge || code == CURLE_FILESIZE_EXCEEDED) {
    return std::string(step) + ": the file is larger than " + std::to_string(maxFileBytes) + " bytes";
  }
  if (sink.writeFailed) return std::string(step) + ": cannot write the local file: " + std::strerror(errno);
  std::string text = std::string(step) + ": " + curl_easy_strerror(code);
  // curl leaves a harmless note from choosing the active-mode address ("-") in the error
  // buffer; it says nothing about the failure, so it is not passed on.
  if (errorText != nullptr && errorText[0] != '\0' && std::strstr(errorText, "inet_ntop") == nullptr) {
    text += " (" + std::string(errorText) + ")";
  }
  return text;
}

}  // namespace

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
  choice.server = EpoParseServer(text);
  if (choice.server) {
    choice.detail = source + " server " + std::string(text);
  } else {
    choice.detail = source + " server \"" + std::string(text) + "\" is not host[:port]";
  }
  return choice;
}

EpoDownloadResult EpoDownload(const EpoDownloadOptions& options) {
  EpoDownloadResult result;
  const EpoServerChoice choice = EpoChooseServer(options.server);
  if (!choice.server) {
    result.detail = choice.detail;
    return result;
  }
  ensureCurlGlobal();
  CurlPtr curl(curl_easy_init());
  if (!curl) {
    result.detail = "cannot start the FTP client";
    return result;
  }
  const std::string base = "ftp://" + urlHost(*choice.server) + ":" + std::to_string(choice.server->port) + "/";
  char errorText[CURL_ERROR_SIZE] = {};
  Sink sink;
  sink.cancel = options.cancel;

  CURL* h = curl.get();
  curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(h, CURLOPT_ERRORBUFFER, errorText);
  curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "ftp");
  curl_easy_setopt(h, CURLOPT_USERNAME, kEpoFtpUser);
  curl_easy_setopt(h, CURLOPT_PASSWORD, kEpoFtpPassword);
  curl_easy_setopt(h, CURLOPT_FTPPORT, "-");  // active mode: the server connects back to us
  curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, options.connectTimeoutMs > 0 ? options.connectTimeoutMs : 1L);
  curl_easy_setopt(h, CURLOPT_SERVER_RESPONSE_TIMEOUT, secondsCeil(options.responseTimeoutMs));
  curl_easy_setopt(h, CURLOPT_ACCEPTTIMEOUT_MS, options.responseTimeoutMs > 0 ? options.responseTimeoutMs : 1L);
  curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, secondsCeil(options.stallTimeoutMs));
  curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, writeToSink);
  curl_easy_setopt(h, CURLOPT_WRITEDATA, &sink);
  curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, progressCheck);
  curl_easy_setopt(h, CURLOPT_XFERINFODATA, &sink);

  // Connect, log in and list "*" in the long form; the lines are dropped.
  curl_easy_setopt(h, CURLOPT_URL, base.c_str());
  curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, "LIST *");
  sink.limit = kListingLimitBytes;
  CURLcode code = curl_easy_perform(h);
  if (code != CURLE_OK) {
    result.detail = describeFailure("connect, log in and list", code, errorText, sink, kListingLimitBytes);
    return result;
  }

  // Retrieve into a temporary file beside the final one; rename only when complete.
  const std::string directory = options.directory.empty() ? std::string(".") : options.directory;
  const std::string finalPath = directory + "/" + kEpoFileName;
  std::string tempPath = finalPath + ".XXXXXX";
  const int fd = ::mkstemp(tempPath.data());
  if (fd < 0) {
    result.detail = "cannot create a file in " + directory + ": " + std::strerror(errno);
    return result;
  }
  ::fchmod(fd, 0644);
  std::FILE* out = ::fdopen(fd, "wb");
  if (out == nullptr) {
    ::close(fd);
    ::unlink(tempPath.c_str());
    result.detail = "cannot write " + tempPath + ": " + std::strerror(errno);
    return result;
  }
  errorText[0] = '\0';
  sink = Sink{};
  sink.out = out;
  sink.limit = options.maxFileBytes;
  sink.cancel = options.cancel;
  const std::string url = base + kEpoFileName;
  curl_easy_setopt(h, CURLOPT_URL, url.c_str());
  curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, nullptr);
  curl_easy_setopt(h, CURLOPT_TRANSFERTEXT, 0L);  // TYPE I
  curl_easy_setopt(h, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(options.maxFileBytes));
  code = curl_easy_perform(h);
  curl.reset();  // QUIT and close before the file is judged, on every path
  const bool closed = std::fclose(out) == 0;
  result.bytes = sink.received;
  if (code != CURLE_OK || !closed) {
    ::unlink(tempPath.c_str());
    result.detail = code != CURLE_OK
                        ? describeFailure("retrieve MTK7d.EPO", code, errorText, sink, options.maxFileBytes)
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
