// The EPO download against a real FTP server on 127.0.0.1 (tests/ftp_fixture.py, Debian's
// python3-pyftpdlib, active mode only), and the choice of the server address.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "agps/epo_download.h"
#include "agps/epo_packets.h"
#include "tests/core/test_epo_support.h"
#include "tests/ftp_fixture.h"

using epotest::Bytes;

namespace {

using ftptest::FtpFixture;
using ftptest::PythonPath;

std::string FixturePath() { return ftptest::FixtureScriptPath(); }

// A directory served by the fixture and a directory the download writes into.
struct Dirs {
  epotest::TempDir served;
  epotest::TempDir local;
  bool localHoldsOnly(const std::vector<std::string>& names) const {
    auto have = local.names();
    auto want = names;
    std::sort(have.begin(), have.end());
    std::sort(want.begin(), want.end());
    return have == want;
  }
};

EpoDownloadOptions OptionsFor(const FtpFixture& server, const Dirs& dirs) {
  EpoDownloadOptions options;
  options.server = server.address();
  options.directory = dirs.local.path();
  options.connectTimeoutMs = 5000;
  options.responseTimeoutMs = 5000;
  options.stallTimeoutMs = 3000;
  return options;
}

TEST(EpoDownload, FetchesTheFileByteForByteInOneActiveModeSession) {
  Dirs dirs;
  const Bytes content = epotest::MakeEpoBytes(53760);
  epotest::WriteBytes(dirs.served.file("MTK7d.EPO"), content);
  FtpFixture server(dirs.served.path(), "normal");
  ASSERT_GT(server.port(), 0) << "fixture did not start: " << PythonPath() << " " << FixturePath();

  const EpoDownloadResult result = EpoDownload(OptionsFor(server, dirs));
  ASSERT_TRUE(result.ok) << result.detail;
  EXPECT_EQ(result.localPath, dirs.local.file("MTK7d.EPO"));
  EXPECT_EQ(result.bytes, 53760);
  EXPECT_EQ(epotest::ReadBytes(result.localPath), content);
  EXPECT_TRUE(dirs.localHoldsOnly({"MTK7d.EPO"})) << "no temporary file left";
  EXPECT_TRUE(static_cast<bool>(EpoOpenFile(result.localPath)));

  // What the server saw, in order: login, the long listing of "*", the image-type retrieval
  // of MTK7d.EPO, quit; one login for both transfers; no passive mode.
  const std::vector<std::string> expectedOrder = {"CMD USER qpd3702",   "PASSWORD-OK",    "CMD LIST *", "CMD TYPE I",
                                                  "CMD RETR MTK7d.EPO", "SENT MTK7d.EPO", "CMD QUIT"};
  ASSERT_TRUE(server.logHas("CMD QUIT"));
  const std::vector<std::string> log = server.log();
  auto at = log.begin();
  for (const std::string& step : expectedOrder) {
    at = std::find(at, log.end(), step);
    ASSERT_NE(at, log.end()) << "missing or out of order: " << step;
  }
  EXPECT_EQ(std::count(log.begin(), log.end(), "CMD USER qpd3702"), 1);
  EXPECT_EQ(
      std::count_if(log.begin(), log.end(), [](const std::string& l) { return l.find("PASV") != std::string::npos; }),
      0);
}

struct FailureCase {
  const char* legend;
  const char* mode;
  long servedBytes;  // -1: no MTK7d.EPO on the server
  std::vector<std::string> extraArgs;
  const char* detailHas;
  const char* logHas;  // a line the server must have logged ("" for none)
};
void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.legend; }

class EpoDownloadFailureTest : public ::testing::TestWithParam<FailureCase> {};

TEST_P(EpoDownloadFailureTest, FailsWithoutLeavingAFileAndQuits) {
  const FailureCase& c = GetParam();
  Dirs dirs;
  if (c.servedBytes >= 0)
    epotest::WriteBytes(dirs.served.file("MTK7d.EPO"), epotest::MakeEpoBytes(static_cast<std::size_t>(c.servedBytes)));
  // A file from an earlier download must survive a failed one unchanged.
  const Bytes earlier = epotest::MakeEpoBytes(120);
  epotest::WriteBytes(dirs.local.file("MTK7d.EPO"), earlier);
  FtpFixture server(dirs.served.path(), c.mode, c.extraArgs);
  ASSERT_GT(server.port(), 0) << "fixture did not start";

  const EpoDownloadResult result = EpoDownload(OptionsFor(server, dirs));
  EXPECT_FALSE(result.ok) << c.legend;
  EXPECT_NE(result.detail.find(c.detailHas), std::string::npos) << c.legend << ": " << result.detail;
  EXPECT_TRUE(result.localPath.empty()) << c.legend;
  EXPECT_TRUE(dirs.localHoldsOnly({"MTK7d.EPO"})) << c.legend << ": no half or temporary file";
  EXPECT_EQ(epotest::ReadBytes(dirs.local.file("MTK7d.EPO")), earlier) << c.legend;
  if (c.logHas[0] != '\0') {
    EXPECT_TRUE(server.logHas(c.logHas)) << c.legend << ": server log lacks " << c.logHas;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Servers, EpoDownloadFailureTest,
    ::testing::Values(
        FailureCase{"wrong password", "normal", 1800, {"--password", "not-plovix"}, "log in", "PASSWORD-WRONG"},
        FailureCase{"no MTK7d.EPO on the server: the connection is still closed with QUIT",
                    "normal",
                    -1,
                    {},
                    "retrieve MTK7d.EPO",
                    "CMD QUIT"},
        FailureCase{"oversized file, size announced: refused before it is sent",
                    "normal",
                    268801,
                    {},
                    "larger than 268800",
                    "CMD QUIT"},
        FailureCase{"oversized file, size not announced: aborted while it arrives",
                    "normal",
                    16000000,
                    {"--no-size"},
                    "larger than 268800",
                    "INCOMPLETE MTK7d.EPO"},
        FailureCase{"server drops the connection mid-transfer", "drop", 53760, {}, "retrieve MTK7d.EPO", "DROP"},
        FailureCase{"server stalls mid-transfer: ended after the stall time",
                    "stall",
                    53760,
                    {},
                    "no data for 3 s",
                    "INCOMPLETE MTK7d.EPO"},
        FailureCase{"server trickles 2 bytes/s: ended by the floor of 1000 bytes/s",
                    "trickle",
                    120,
                    {},
                    "slower than 1000 bytes/s over 3 s",
                    "INCOMPLETE MTK7d.EPO"}));

TEST(EpoDownload, ServerThatAcceptsAndNeverAnswersIsEndedByTheTimeOut) {
  Dirs dirs;
  const Bytes earlier = epotest::MakeEpoBytes(120);
  epotest::WriteBytes(dirs.local.file("MTK7d.EPO"), earlier);
  FtpFixture server(dirs.served.path(), "silent");
  ASSERT_GT(server.port(), 0);
  EpoDownloadOptions options = OptionsFor(server, dirs);
  options.connectTimeoutMs = 1000;
  options.responseTimeoutMs = 1000;
  const EpoDownloadResult result = EpoDownload(options);
  EXPECT_FALSE(result.ok);
  EXPECT_NE(result.detail.find("imeout"), std::string::npos) << result.detail;
  EXPECT_TRUE(dirs.localHoldsOnly({"MTK7d.EPO"}));
  EXPECT_EQ(epotest::ReadBytes(dirs.local.file("MTK7d.EPO")), earlier);
}

TEST(EpoDownload, CancelFlagEndsTheDownload) {
  Dirs dirs;
  FtpFixture server(dirs.served.path(), "silent");
  ASSERT_GT(server.port(), 0);
  std::atomic<bool> cancel{true};
  EpoDownloadOptions options = OptionsFor(server, dirs);
  options.cancel = &cancel;
  const EpoDownloadResult result = EpoDownload(options);
  EXPECT_FALSE(result.ok);
  EXPECT_NE(result.detail.find("cancelled"), std::string::npos) << result.detail;
}

TEST(EpoDownload, SmallOrOddFilesDownloadButAreNotAcceptable) {
  for (long size : {0L, 61L}) {
    Dirs dirs;
    epotest::WriteBytes(dirs.served.file("MTK7d.EPO"), epotest::MakeEpoBytes(static_cast<std::size_t>(size)));
    FtpFixture server(dirs.served.path(), "normal");
    ASSERT_GT(server.port(), 0);
    const EpoDownloadResult result = EpoDownload(OptionsFor(server, dirs));
    ASSERT_TRUE(result.ok) << size << " bytes: " << result.detail;
    EXPECT_EQ(epotest::ReadBytes(result.localPath).size(), static_cast<std::size_t>(size));
    EXPECT_FALSE(static_cast<bool>(EpoOpenFile(result.localPath))) << size << " bytes";
  }
}

TEST(EpoDownload, NobodyListeningFails) {
  // A port that was free a moment ago: bind, read it back, close.
  const int s = ::socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_GE(s, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  socklen_t len = sizeof addr;
  ::getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len);
  ::close(s);
  epotest::TempDir local;
  EpoDownloadOptions options;
  options.server = "127.0.0.1:" + std::to_string(ntohs(addr.sin_port));
  options.directory = local.path();
  const EpoDownloadResult result = EpoDownload(options);
  EXPECT_FALSE(result.ok);
  EXPECT_TRUE(local.names().empty());
}

TEST(EpoServerAddress, ParsesHostAndPort) {
  const struct {
    const char* text;
    bool ok;
    const char* host;
    int port;
  } rows[] = {
      {"epo.example.net", true, "epo.example.net", 21},
      {"epo.example.net:2121", true, "epo.example.net", 2121},
      {"127.0.0.1:65535", true, "127.0.0.1", 65535},
      {"[::1]", true, "::1", 21},
      {"[::1]:2121", true, "::1", 2121},
      {"", false, "", 0},
      {":21", false, "", 0},
      {"host:", false, "", 0},
      {"host:0", false, "", 0},
      {"host:65536", false, "", 0},
      {"host:21x", false, "", 0},
      {"host:-1", false, "", 0},
      {"user@host", false, "", 0},
      {"host/path", false, "", 0},
      {"two words", false, "", 0},
      {"[::1", false, "", 0},
      {"[]:21", false, "", 0},
      {"[::1]21", false, "", 0},
  };
  for (const auto& row : rows) {
    const std::optional<EpoServer> server = EpoParseServer(row.text);
    ASSERT_EQ(server.has_value(), row.ok) << '"' << row.text << '"';
    if (row.ok) {
      EXPECT_EQ(server->host, row.host) << row.text;
      EXPECT_EQ(server->port, row.port) << row.text;
    }
  }
}

TEST(EpoServerAddress, GivenBeatsEnvironmentBeatsDefault) {
  const char* saved = std::getenv(kEpoServerEnvironment);
  const std::string savedText = saved != nullptr ? saved : "";
  const struct {
    const char* legend;
    const char* given;
    const char* environment;  // nullptr: unset
    bool ok;
    const char* host;
    int port;
  } rows[] = {
      {"nothing set: default", "", nullptr, true, kEpoDefaultServerHost, 21},
      {"empty environment: default", "", "", true, kEpoDefaultServerHost, 21},
      {"environment", "", "mirror.lan:2121", true, "mirror.lan", 2121},
      {"argument over environment", "cli.lan", "mirror.lan:2121", true, "cli.lan", 21},
      {"malformed environment", "", "mirror.lan:x", false, "", 0},
  };
  for (const auto& row : rows) {
    if (row.environment == nullptr) {
      ::unsetenv(kEpoServerEnvironment);
    } else {
      ::setenv(kEpoServerEnvironment, row.environment, 1);
    }
    const EpoServerChoice choice = EpoChooseServer(row.given);
    ASSERT_EQ(choice.server.has_value(), row.ok) << row.legend << ": " << choice.detail;
    if (row.ok) {
      EXPECT_EQ(choice.server->host, row.host) << row.legend;
      EXPECT_EQ(choice.server->port, row.port) << row.legend;
    } else {
      EXPECT_NE(choice.detail.find("mirror.lan:x"), std::string::npos) << row.legend;
    }
  }
  if (saved != nullptr) {
    ::setenv(kEpoServerEnvironment, savedText.c_str(), 1);
  } else {
    ::unsetenv(kEpoServerEnvironment);
  }
}

// TORVIKEL_EPO_SERVER may name the file itself, from any source: the window's "Update" then
// fetches it from there; an argument still names a server only.
TEST(EpoServerAddress, EnvironmentMayNameAUrl) {
  const char* saved = std::getenv(kEpoServerEnvironment);
  const std::string savedText = saved != nullptr ? saved : "";
  const struct {
    const char* legend;
    const char* given;
    const char* environment;
    const char* url;     // chosen URL; "" none
    const char* detail;  // part of the detail
  } rows[] = {
      {"an http URL", "", "http://mirror.lan/MTK14.EPO", "http://mirror.lan/MTK14.EPO", "TORVIKEL_EPO_SERVER"},
      {"a file URL", "", "file:///srv/epo/MTK7d.EPO", "file:///srv/epo/MTK7d.EPO", ""},
      {"the scheme in capitals", "", "HTTPS://mirror.lan/e", "HTTPS://mirror.lan/e", ""},
      {"a scheme not taken", "", "gopher://mirror.lan/e", "", "begins with ftp://, http://, https:// or file://"},
      {"nothing after the scheme", "", "http://", "", "names nothing after http://"},
      {"a blank in it", "", "http://mirror.lan/my file", "", "holds no blanks"},
      {"an argument is a server, whatever the environment", "cli.lan", "http://mirror.lan/e", "", "given server"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.legend);
    ::setenv(kEpoServerEnvironment, row.environment, 1);
    const EpoServerChoice choice = EpoChooseServer(row.given);
    EXPECT_EQ(choice.url, row.url);
    EXPECT_EQ(choice.server.has_value(), row.given[0] != '\0');
    EXPECT_NE(choice.detail.find(row.detail), std::string::npos) << choice.detail;
  }
  if (saved != nullptr) {
    ::setenv(kEpoServerEnvironment, savedText.c_str(), 1);
  } else {
    ::unsetenv(kEpoServerEnvironment);
  }
}

// A URL with the FTP download's bounds and its temporary name: the file lands as MTK7d.EPO
// whatever the URL calls it (no other file of the directory is touched), a file too large is
// cut off while it arrives, and a failure leaves nothing behind.
TEST(EpoDownload, FromAUrlWithTheSameBounds) {
  epotest::TempDir served;
  const Bytes good = epotest::MakeEpoBytes(7680);
  epotest::WriteBytes(served.file("MTK14.EPO"), good);
  epotest::WriteBytes(served.file("huge.EPO"), epotest::MakeEpoBytes(268800 + 60));
  const struct {
    const char* legend;
    std::string url;
    bool ok;
    const char* localName;  // ok: the file's name in the directory
    const char* detail;     // !ok: part of the detail
  } rows[] = {
      {"a file here", "file://" + served.file("MTK14.EPO"), true, "MTK7d.EPO", ""},
      {"too large: cut off", "file://" + served.file("huge.EPO"), false, "", "larger than 268800 bytes"},
      {"not there", "file://" + served.file("none.EPO"), false, "", "retrieve file://"},
      {"no URL at all", "ftp:" + served.file("MTK14.EPO"), false, "", "begins with ftp://"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.legend);
    epotest::TempDir local;
    EpoDownloadOptions options;
    options.url = row.url;
    options.directory = local.path();
    const EpoDownloadResult result = EpoDownload(options);
    EXPECT_EQ(result.ok, row.ok) << result.detail;
    if (row.ok) {
      EXPECT_EQ(result.localPath, local.file(row.localName));
      EXPECT_EQ(epotest::ReadBytes(result.localPath), good);
      EXPECT_EQ(local.names(), std::vector<std::string>{row.localName});
    } else {
      EXPECT_NE(result.detail.find(row.detail), std::string::npos) << result.detail;
      EXPECT_TRUE(local.names().empty()) << "nothing left behind";
    }
  }
}

TEST(EpoDownload, MalformedServerFailsBeforeConnecting) {
  epotest::TempDir local;
  EpoDownloadOptions options;
  options.server = "bad host";
  options.directory = local.path();
  const EpoDownloadResult result = EpoDownload(options);
  EXPECT_FALSE(result.ok);
  EXPECT_NE(result.detail.find("not host[:port]"), std::string::npos) << result.detail;
}

}  // namespace
