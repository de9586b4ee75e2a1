// torvikel-cli epo-update against the simulated receiver: a generated EPO file given with
// --file arrives as packets equal to its records and is kept; a file downloaded from the
// local FTP server is uploaded the same way and deleted; every other ending (a refused or
// corrupt acknowledgement, too many other packets, a receiver that never switches, Ctrl-C in
// the middle) ends with its message and exit code 1 and leaves the receiver in NMEA output;
// a bad file and a failed download end before the receiver is touched. --from fetches the file
// from any source: a real local web server (Python's http.server), a file:// URL, an FTP
// server in passive mode; a download that is no whole number of records is refused before
// the receiver hears anything.
#ifdef TORVIKEL_CLI_BINARY

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "agps/epo_download.h"
#include "sim/binary_frame.h"
#include "tests/core/test_cli_support.h"
#include "tests/ftp_fixture.h"
#include "tests/http_fixture.h"

namespace {

using clitest::CliProcess;
using clitest::CliResult;
using clitest::RunCli;
using clitest::SimFixture;
using epotest::Bytes;

constexpr std::size_t kFileBytes = 7680;  // 128 records: 43 packets, the last one short
constexpr int kPackets = 43;

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }
bool OneLineOf(const std::string& text) { return !text.empty() && text.find('\n') == text.size() - 1; }

sim::SimOptions& Prompt(sim::SimOptions& o) {
  o.model.binaryFirstAckDelayMs = 20;
  o.model.binaryAckRepeatMs = 200;
  return o;
}

// The data packets the receiver got, joined: their records in order.
std::string RecordsReceived(sim::SimReceiver& receiver, bool* closingPacket = nullptr) {
  std::string records;
  if (closingPacket != nullptr) *closingPacket = false;
  for (const sim::BinaryPacket& p : receiver.binaryPackets()) {
    if (p.command != 722) continue;
    if (sim::readU16(p.payload, 0) == 0xFFFF) {
      if (closingPacket != nullptr) *closingPacket = true;
      continue;
    }
    records.append(p.payload, 2, std::string::npos);
  }
  return records;
}

int DataPacketsReceived(sim::SimReceiver& receiver) {
  int n = 0;
  for (const sim::BinaryPacket& p : receiver.binaryPackets())
    n += p.command == 722 && sim::readU16(p.payload, 0) != 0xFFFF;
  return n;
}

bool SwitchedToBinary(sim::SimReceiver& receiver) {
  for (const std::string& c : receiver.commands()) {
    if (c.rfind("PMTK253,1,", 0) == 0) return true;
  }
  return false;
}

// A receiver at 38400 whose rate the user does not know: found, and handed back at it.
TEST(CliEpoUpdate, UserFileArrivesAsItsRecordsAndIsKept) {
  SimFixture sim([](sim::SimOptions& o) {
    Prompt(o).model.baud = 38400;
    o.model.epoIsDefault = false;  // no EPO data before the update
  });
  ASSERT_TRUE(sim.started()) << sim.error();
  epotest::TempDir dir;
  const std::string path = dir.file("mine.EPO");
  const Bytes content = epotest::MakeEpoBytes(kFileBytes);
  epotest::WriteBytes(path, content);

  const CliResult result =
      RunCli({"epo-update", "--port", SimFixture::kPortText, "--baud", "auto", "--file", path}, sim.env());
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(result.err, "torvikel-cli: Com4 (" + sim.receiver().slavePath() + ") talks at 38400 baud\n");
  EXPECT_TRUE(Contains(result.out, "Update completed.\nUpdate Success\n")) << result.out;
  // The receiver asked afterwards: it holds the uploaded data now.
  EXPECT_TRUE(Contains(result.out, "Update Success\nPMTK707: EPO data: ")) << result.out;
  EXPECT_FALSE(Contains(result.out, "NO EPO Data!")) << result.out;
  // One line per new percentage: packets sent * 100 / 43, the fraction dropped.
  std::string percents;
  for (int sent = 1, last = -1; sent <= kPackets; ++sent) {
    if (sent * 100 / kPackets != last)
      percents += "Updating now... " + std::to_string(last = sent * 100 / kPackets) + " %\n";
  }
  EXPECT_TRUE(Contains(result.out, percents)) << result.out;
  EXPECT_TRUE(
      sim.receiver().waitUntil([&] { return !sim.receiver().binaryMode() && sim.receiver().baud() == 38400u; }, 10000))
      << "back in NMEA at the rate found";

  bool closing = false;
  std::string records = RecordsReceived(sim.receiver(), &closing);
  EXPECT_EQ(DataPacketsReceived(sim.receiver()), kPackets);
  ASSERT_GE(records.size(), content.size());
  EXPECT_EQ(records.substr(content.size()), std::string(records.size() - content.size(), '\0'))
      << "the short packet's zero records";
  records.resize(content.size());
  EXPECT_EQ(Bytes(records.begin(), records.end()), content);
  EXPECT_TRUE(closing) << "the closing packet";
  EXPECT_EQ(epotest::ReadBytes(path), content) << "the user's file is kept as it was";
}

TEST(CliEpoUpdate, ProgressBarOnATerminal) {
  SimFixture sim([](sim::SimOptions& o) { Prompt(o); });
  ASSERT_TRUE(sim.started()) << sim.error();
  epotest::TempDir dir;
  const std::string path = dir.file("mine.EPO");
  epotest::WriteBytes(path, epotest::MakeEpoBytes(kFileBytes));
  CliProcess child({"epo-update", "--port", SimFixture::kPortText, "--file", path}, sim.env(), /*stdoutTerminal=*/true);
  const CliResult result = child.finish();
  EXPECT_EQ(result.exitCode, 0) << result.err;
  // Redrawn in place after every packet, full at the end.
  EXPECT_TRUE(Contains(result.out, "\r[" + std::string(40, '#') + "] Updating now... 100 %  (43/43 packets)"))
      << result.out;
  EXPECT_TRUE(Contains(result.out, "\r[#.......................................] Updating now... 4 %  (2/43 packets)"));
  EXPECT_FALSE(Contains(result.out, "Updating now... 100 %\r\n")) << "no line per percentage on a terminal";
  EXPECT_TRUE(Contains(result.out, "Update completed."));
}

struct EndingRow {
  const char* legend;
  std::function<void(sim::BinaryFaults&)> faults;
  std::vector<std::string> extraArgs;
  std::string message;    // the one line on standard error, after "torvikel-cli: "
  bool receiverSwitched;  // the receiver went into binary output (and must have come back)
};

void PrintTo(const EndingRow& row, std::ostream* os) { *os << row.legend; }

class CliEpoEndingTest : public ::testing::TestWithParam<EndingRow> {};

TEST_P(CliEpoEndingTest, MessageExitOneAndReceiverInNmea) {
  const EndingRow& row = GetParam();
  SimFixture sim([&](sim::SimOptions& o) { row.faults(Prompt(o).model.binaryFaults); });
  ASSERT_TRUE(sim.started()) << sim.error();
  epotest::TempDir dir;
  const std::string path = dir.file("mine.EPO");
  epotest::WriteBytes(path, epotest::MakeEpoBytes(kFileBytes));

  std::vector<std::string> args = {"epo-update", "--port", SimFixture::kPortText, "--file", path};
  args.insert(args.end(), row.extraArgs.begin(), row.extraArgs.end());
  const CliResult result = RunCli(args, sim.env());
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_EQ(result.err, "torvikel-cli: " + row.message + "\n");
  EXPECT_TRUE(Contains(result.out, "Update Failed!\n")) << result.out;
  if (row.receiverSwitched) {
    EXPECT_TRUE(sim.receiver().waitUntil([&] { return !sim.receiver().binaryMode(); }, 10000)) << "handed back to NMEA";
    EXPECT_EQ(sim.receiver().baud(), 115200u);
  }
  EXPECT_TRUE(std::filesystem::exists(path)) << "the user's file is kept";
}

INSTANTIATE_TEST_SUITE_P(Endings, CliEpoEndingTest,
                         ::testing::Values(EndingRow{"packet 3 refused",
                                                     [](sim::BinaryFaults& f) { f.rejectSeq = 3; },
                                                     {},
                                                     "Action Fail,Plaese try again!",
                                                     true},
                                           EndingRow{"acknowledgement of packet 2 corrupt",
                                                     [](sim::BinaryFaults& f) { f.corruptAckAt = 2; },
                                                     {},
                                                     "Action Fail,Plaese try again!",
                                                     true},
                                           EndingRow{"packet 4 acknowledged with the wrong sequence number",
                                                     [](sim::BinaryFaults& f) { f.wrongSeqAt = 4; },
                                                     {},
                                                     "Action Fail,Plaese try again!",
                                                     true},
                                           EndingRow{"five other packets before an acknowledgement",
                                                     [](sim::BinaryFaults& f) {
                                                       f.junkBeforeAck = 5;
                                                       f.junkAtSeq = 1;
                                                     },
                                                     {},
                                                     "ACK Failed,Please Try Again!.",
                                                     true},
                                           EndingRow{"receiver never switches to binary output",
                                                     [](sim::BinaryFaults& f) { f.neverBinary = true; },
                                                     {"--timeout", "1"},
                                                     "Update stopped. (no answer from the receiver for 1 s)",
                                                     false},
                                           EndingRow{"receiver falls silent after packet 5",
                                                     [](sim::BinaryFaults& f) { f.silentAfter = 5; },
                                                     {"--timeout", "1"},
                                                     "Update stopped. (no answer from the receiver for 1 s)",
                                                     true}));

TEST(CliEpoUpdate, CtrlCInTheMiddleHandsTheReceiverBack) {
  SimFixture sim([](sim::SimOptions& o) { Prompt(o).model.binaryFaults.silentAfter = 3; });
  ASSERT_TRUE(sim.started()) << sim.error();
  epotest::TempDir dir;
  const std::string path = dir.file("mine.EPO");
  epotest::WriteBytes(path, epotest::MakeEpoBytes(kFileBytes));

  CliProcess child({"epo-update", "--port", SimFixture::kPortText, "--file", path, "--timeout", "600"}, sim.env());
  ASSERT_TRUE(child.started());
  ASSERT_TRUE(
      sim.receiver().waitUntil([&] { return DataPacketsReceived(sim.receiver()) >= 4; }, clitest::kHangGuardMs));
  EXPECT_TRUE(sim.receiver().binaryMode());
  child.signal(SIGINT);
  const CliResult result = child.finish();
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_EQ(result.err, "torvikel-cli: Update stopped. (interrupted)\n");
  EXPECT_TRUE(sim.receiver().waitUntil([&] { return !sim.receiver().binaryMode(); }, 10000))
      << "the output-mode packet went out before the program ended";
  bool closing = true;
  RecordsReceived(sim.receiver(), &closing);
  EXPECT_FALSE(closing) << "an interrupted upload is not closed as a complete one";
  EXPECT_TRUE(std::filesystem::exists(path));
}

struct FileRow {
  const char* legend;
  long bytes;  // -1: no file at all
};

TEST(CliEpoUpdate, UnacceptableFileEndsBeforeTheReceiverIsTouched) {
  const std::vector<FileRow> rows = {{"no such file", -1},
                                     {"empty file", 0},
                                     {"61 bytes: no whole record", 61},
                                     {"larger than 35 days of records", 268860}};
  for (const FileRow& row : rows) {
    SCOPED_TRACE(row.legend);
    SimFixture sim([](sim::SimOptions& o) { Prompt(o); });
    ASSERT_TRUE(sim.started()) << sim.error();
    epotest::TempDir dir;
    const std::string path = dir.file("bad.EPO");
    if (row.bytes >= 0) epotest::WriteBytes(path, epotest::MakeEpoBytes(static_cast<std::size_t>(row.bytes)));
    const CliResult result = RunCli({"epo-update", "--port", SimFixture::kPortText, "--file", path}, sim.env());
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.err.rfind("torvikel-cli: Cannot open EPO file. (", 0), 0u) << result.err;
    EXPECT_EQ(sim.receiver().receivedBytes(), "") << "nothing sent";
    EXPECT_EQ(row.bytes >= 0, std::filesystem::exists(path));
  }
}

TEST(CliEpoUpdate, DownloadedFileIsUploadedAndDeleted) {
  SimFixture sim([](sim::SimOptions& o) { Prompt(o); });
  ASSERT_TRUE(sim.started()) << sim.error();
  epotest::TempDir served;
  epotest::TempDir work;  // the program's working and temporary directory
  const Bytes content = epotest::MakeEpoBytes(kFileBytes);
  epotest::WriteBytes(served.file(kEpoFileName), content);
  ftptest::FtpFixture server(served.path());
  ASSERT_GT(server.port(), 0) << "the FTP fixture (python3-pyftpdlib) did not start";

  clitest::Env env = sim.env();
  env.emplace_back("TMPDIR", work.path());
  const CliResult result = RunCli({"epo-update", "--port", SimFixture::kPortText, "--server", server.address()}, env);
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_TRUE(sim.receiver().waitUntil([&] { return !sim.receiver().binaryMode(); }, 10000));
  EXPECT_EQ(result.out.rfind("Downloading EPO File...\n", 0), 0u) << result.out;
  EXPECT_TRUE(Contains(result.out, "Update completed.\nUpdate Success\n")) << result.out;
  std::string records = RecordsReceived(sim.receiver());
  ASSERT_GE(records.size(), content.size());
  records.resize(content.size());
  EXPECT_EQ(Bytes(records.begin(), records.end()), content);
  EXPECT_TRUE(work.names().empty()) << "the downloaded file and its directory are gone";
  EXPECT_EQ(epotest::ReadBytes(served.file(kEpoFileName)), content);
}

TEST(CliEpoUpdate, FailedDownloadLeavesTheReceiverAlone) {
  SimFixture sim;
  ASSERT_TRUE(sim.started()) << sim.error();
  epotest::TempDir served;  // no MTK7d.EPO on the server
  epotest::TempDir work;
  ftptest::FtpFixture server(served.path());
  ASSERT_GT(server.port(), 0) << "the FTP fixture (python3-pyftpdlib) did not start";
  clitest::Env env = sim.env();
  env.emplace_back("TMPDIR", work.path());
  const CliResult result = RunCli({"epo-update", "--port", SimFixture::kPortText, "--server", server.address()}, env);
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_EQ(
      result.err.rfind("torvikel-cli: Failed to connect to AGPS server. Please check your network connection. (", 0),
      0u)
      << result.err;
  EXPECT_FALSE(SwitchedToBinary(sim.receiver()));
  EXPECT_EQ(sim.receiver().receivedBytes(), "");
  EXPECT_TRUE(work.names().empty());
}

// Where the file comes from: a real server on 127.0.0.1, or this machine's own file.
enum class Source { Http, File, PassiveFtp };

struct SourceRow {
  const char* legend;
  Source source;
  std::string name;              // the served file's name
  bool fromEnvironment = false;  // named by TORVIKEL_EPO_SERVER instead of --from
};

void PrintTo(const SourceRow& row, std::ostream* os) { *os << row.legend; }

class CliEpoSourceTest : public ::testing::TestWithParam<SourceRow> {};

TEST_P(CliEpoSourceTest, FromAnySourceArrivesAsItsRecords) {
  const SourceRow& row = GetParam();
  SimFixture sim([](sim::SimOptions& o) { Prompt(o); });
  ASSERT_TRUE(sim.started()) << sim.error();
  epotest::TempDir served;
  epotest::TempDir work;
  const Bytes content = epotest::MakeEpoBytes(kFileBytes);
  epotest::WriteBytes(served.file(row.name), content);
  std::optional<httptest::HttpFixture> http;
  std::optional<ftptest::FtpFixture> ftp;
  std::string url;
  switch (row.source) {
    case Source::Http:
      http.emplace(served.path());
      ASSERT_TRUE(http->started()) << "python3 -m http.server did not start";
      url = http->url(row.name);
      break;
    case Source::File: url = "file://" + served.file(row.name); break;
    case Source::PassiveFtp:
      ftp.emplace(served.path(), "normal", std::vector<std::string>{"--passive"});
      ASSERT_GT(ftp->port(), 0) << "the FTP fixture (python3-pyftpdlib) did not start";
      url = "ftp://" + std::string(kEpoFtpUser) + ":" + kEpoFtpPassword + "@" + ftp->address() + "/" + row.name;
      break;
  }

  clitest::Env env = sim.env();
  env.emplace_back("TMPDIR", work.path());
  std::vector<std::string> args = {"epo-update", "--port", SimFixture::kPortText};
  if (row.fromEnvironment) {
    env.emplace_back(kEpoServerEnvironment, url);
  } else {
    args.insert(args.end(), {"--from", url});
  }
  const CliResult result = RunCli(args, env);
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(result.out.rfind("Downloading EPO File...\n", 0), 0u) << result.out;
  EXPECT_TRUE(Contains(result.out, "Update completed.\nUpdate Success\n")) << result.out;
  EXPECT_TRUE(sim.receiver().waitUntil([&] { return !sim.receiver().binaryMode(); }, 10000));
  std::string records = RecordsReceived(sim.receiver());
  ASSERT_GE(records.size(), content.size());
  records.resize(content.size());
  EXPECT_EQ(Bytes(records.begin(), records.end()), content);
  EXPECT_TRUE(work.names().empty()) << "the downloaded file and its directory are gone";
  EXPECT_EQ(epotest::ReadBytes(served.file(row.name)), content) << "the source is left as it was";
}

INSTANTIATE_TEST_SUITE_P(Sources, CliEpoSourceTest,
                         ::testing::Values(SourceRow{"http:// from a local web server", Source::Http, "MTK14.EPO"},
                                           SourceRow{"file:// of a file here", Source::File, "MTK7d.EPO"},
                                           SourceRow{"ftp:// with its login, in passive mode", Source::PassiveFtp,
                                                     "MTK7d.EPO"},
                                           SourceRow{"a URL in TORVIKEL_EPO_SERVER, as the window's Update takes it",
                                                     Source::Http, "EPO.DAT", true}));

struct SourceRefusalRow {
  const char* legend;
  std::size_t bytes;       // of the served file
  std::string servedName;  // what is served; the URL asks for MTK14.EPO
  std::string message;     // part of the one line on standard error
};

TEST(CliEpoUpdate, ADownloadThatIsNoEpoFileEndsBeforeTheReceiverHearsAnything) {
  const std::vector<SourceRefusalRow> rows = {
      {"61 bytes: no whole record", 61, "MTK14.EPO", "Cannot open EPO file. (" /* the private copy's path */},
      {"nothing there", 7680, "other.EPO",
       "Failed to connect to AGPS server. Please check your network connection. (retrieve http://127.0.0.1:"},
  };
  for (const SourceRefusalRow& row : rows) {
    SCOPED_TRACE(row.legend);
    SimFixture sim([](sim::SimOptions& o) { Prompt(o); });
    ASSERT_TRUE(sim.started()) << sim.error();
    epotest::TempDir served;
    epotest::TempDir work;
    epotest::WriteBytes(served.file(row.servedName), epotest::MakeEpoBytes(row.bytes));
    httptest::HttpFixture http(served.path());
    ASSERT_TRUE(http.started()) << "python3 -m http.server did not start";
    clitest::Env env = sim.env();
    env.emplace_back("TMPDIR", work.path());
    const CliResult result =
        RunCli({"epo-update", "--port", SimFixture::kPortText, "--from", http.url("MTK14.EPO")}, env);
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.err.rfind("torvikel-cli: " + row.message, 0), 0u) << result.err;
    EXPECT_TRUE(OneLineOf(result.err)) << result.err;
    if (row.bytes == 61) {
      EXPECT_TRUE(Contains(result.err, "/MTK7d.EPO: 61 bytes; an EPO file holds 1 to 4480 records of 60 bytes"))
          << result.err;
    } else {
      EXPECT_TRUE(Contains(result.err, "404")) << result.err;
    }
    EXPECT_EQ(sim.receiver().receivedBytes(), "") << "nothing sent to the receiver";
    EXPECT_TRUE(work.names().empty());
  }
}

}  // namespace

#endif  // TORVIKEL_CLI_BINARY
