// Fetches the 7-day EPO file from the EPO server by FTP: log in with the fixed user, list
// "*" in the long form (only its success counts), retrieve "MTK7d.EPO" as an image transfer
// over an active-mode data connection, quit. Bounded: the connect, every server reply, the
// server's data connection and the data itself have time-outs (a transfer that pauses for the
// stall time, or brings less than the floor in any period of that length, ends), a file
// larger than any acceptable EPO file is aborted early, and the file is written under a
// temporary name and renamed only when complete, so a failed download never leaves a file
// that a later step could take for a good one.
//
// Server: EpoDownloadOptions::server, else the environment variable TORVIKEL_EPO_SERVER
// (host[:port], "[v6addr]:port" for IPv6), else kEpoDefaultServerHost on port 21.
//
// From any source: EpoDownloadOptions::url, or a URL in TORVIKEL_EPO_SERVER, fetches that
// file instead (ftp:// in passive mode, as FTP clients do by default and firewalls let
// through; http://, https://; file:// for a file on this machine), with the same bounds and
// the same temporary name, and without the listing the EPO server is asked for.
//
// Thread rule: EpoDownload blocks the calling thread only; run it on a worker thread to keep a
// window responsive and set the cancel flag from any thread to end it early.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

inline constexpr const char* kEpoDefaultServerHost = "localhost";
inline constexpr std::uint16_t kEpoFtpPort = 21;
inline constexpr const char* kEpoServerEnvironment = "TORVIKEL_EPO_SERVER";
inline constexpr const char* kEpoFtpUser = "qpd3702";
inline constexpr const char* kEpoFtpPassword = "plovix";
inline constexpr const char* kEpoFileName = "MTK7d.EPO";
// Shown for any failure of the connection, login, listing or retrieval.
inline constexpr const char* kEpoDownloadFailedMessage =
    "Failed to connect to AGPS server. \r\nPlease check your network connection.";

struct EpoServer {
  std::string host;
  std::uint16_t port = kEpoFtpPort;
};

// "host", "host:port", "[v6addr]" or "[v6addr]:port"; nullopt when empty or malformed.
std::optional<EpoServer> EpoParseServer(std::string_view text);

struct EpoServerChoice {
  std::optional<EpoServer> server;  // nullopt: the given text was malformed (see detail), or a URL
  std::string url;                  // TORVIKEL_EPO_SERVER named a URL: fetch that
  std::string detail;               // where the choice came from, or what was wrong
};
// The given text if not empty, else TORVIKEL_EPO_SERVER if set and not empty (host[:port] or
// a URL), else the default.
EpoServerChoice EpoChooseServer(std::string_view given = {});

// Why text cannot be a URL to fetch the file from, in words; nullopt when it can: ftp://,
// http://, https:// or file:// (any case), something after it, and no blank, control byte or
// non-ASCII byte.
std::optional<std::string> EpoUrlProblem(std::string_view url);
// Whether text is meant as a URL ("scheme://...") rather than host[:port].
bool EpoLooksLikeUrl(std::string_view text);

struct EpoDownloadOptions {
  std::string url;                 // not empty: fetch this file, from any source (see above)
  std::string server;              // host[:port]; empty: environment or default
  std::string directory = ".";     // where "MTK7d.EPO" is written
  long connectTimeoutMs = 15000;   // TCP connect and the server's greeting
  long responseTimeoutMs = 20000;  // each further reply; the server's data connection
  long stallTimeoutMs = 20000;     // a transfer that moves no byte for this long ends
  // ... as does one that brings fewer than this many bytes a second over a period of
  // stallTimeoutMs (counted from the data connection's start): the largest acceptable file
  // then takes at most 269 s, instead of hours at a trickle.
  long minBytesPerSecond = 1000;
  long long maxFileBytes = 268800;            // larger files are aborted while they arrive
  const std::atomic<bool>* cancel = nullptr;  // set to end the download early (looked at every 10 ms)
};

struct EpoDownloadResult {
  bool ok = false;
  std::string localPath;  // the complete file (set on success only)
  long long bytes = 0;    // bytes of the file (on success) or received before the failure
  std::string detail;     // what happened, for logs and the command-line tool
};

// Connect, log in, list, retrieve, quit (or, for a URL, fetch it); the connection is closed
// on every path. On success localPath ("MTK7d.EPO" in the directory, whatever the URL calls
// it) holds the server's file byte for byte (whether it is an acceptable EPO file is
// for EpoOpenFile to say). On failure no file of that name has been created or changed.
EpoDownloadResult EpoDownload(const EpoDownloadOptions& options);
