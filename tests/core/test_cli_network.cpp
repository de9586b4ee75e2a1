// torvikel-cli against a receiver on the network, served by the real programs: socat for
// tcp:// and gpsd for gpsd://, on the simulated receiver's terminal. Commands work over
// tcp:// as on a cable; through gpsd nothing is written and a command ends with 1 and one
// line; the EPO update is refused on the network before anything is sent; the server going
// away is a device loss; an address where nothing listens and a device gpsd does not know
// fail the open with their causes.
#ifdef TORVIKEL_CLI_BINARY

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "commands/receiver_commands.h"
#include "tests/core/test_cli_support.h"
#include "tests/core/test_net_support.h"

namespace {

using clitest::CliProcess;
using clitest::SimFixture;
using nettest::Source;

using clitest::BytesOf;

struct NetworkRow {
  const char* legend;
  Source source;
  std::vector<std::string> args;  // before "--port URL"
  int exitCode;
  std::string err;                      // a part of standard error; "{URL}" stands for the port name
  std::string out;                      // a part of standard output; may be empty
  std::optional<std::string> received;  // every byte the receiver got, when it matters
  bool serverEnds = false;              // the server is stopped once the first line is out
  std::function<std::string(const std::string&)> portOf = {};  // the port name from the server's URL
};

void PrintTo(const NetworkRow& row, std::ostream* os) { *os << row.legend; }

class CliNetworkTest : public ::testing::TestWithParam<NetworkRow> {};

TEST_P(CliNetworkTest, EndsAsOverACable) {
  const NetworkRow& row = GetParam();
  SimFixture sim;
  ASSERT_TRUE(sim.started()) << sim.error();
  nettest::NetworkServer server(row.source, sim.receiver().slavePath());
  ASSERT_TRUE(server.started()) << server.error();
  const std::string port = row.portOf ? row.portOf(server.url()) : server.url();
  std::vector<std::string> args = row.args;
  args.insert(args.end(), {"--port", port});
  CliProcess child(args, sim.env());
  ASSERT_TRUE(child.started());
  if (row.serverEnds) {
    ASSERT_TRUE(child.waitFor([](const std::string& out) { return out.find('\n') != std::string::npos; }))
        << child.err();
    server.stop();
  }
  const clitest::CliResult result = child.finish();
  EXPECT_EQ(result.exitCode, row.exitCode) << result.err;
  std::string err = row.err;
  if (const std::size_t at = err.find("{URL}"); at != std::string::npos) err.replace(at, 5, port);
  EXPECT_NE(result.err.find(err), std::string::npos) << result.err;
  if (row.exitCode != 0) {
    EXPECT_EQ(result.err.find('\n'), result.err.size() - 1) << "one line: " << result.err;
  }
  EXPECT_NE(result.out.find(row.out), std::string::npos) << result.out;
  if (row.received) {
    EXPECT_EQ(sim.receiver().receivedBytes(), *row.received);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Sources, CliNetworkTest,
    ::testing::Values(
        NetworkRow{"send version over tcp:// gets its reply",
                   Source::Tcp,
                   {"send", "version"},
                   0,
                   "",
                   "PMTK705: firmware",
                   BytesOf(VersionQueryCommands())},
        NetworkRow{"a command through gpsd:// is refused, nothing reaches the receiver",
                   Source::Gpsd,
                   {"send", "cold"},
                   1,
                   "torvikel-cli: {URL} is read through gpsd, which owns the receiver",
                   "",
                   std::string()},
        NetworkRow{
            "the EPO update over tcp:// is refused before anything is sent",
            Source::Tcp,
            {"epo-update"},
            1,
            "torvikel-cli: The EPO update needs a serial line whose speed Torvikel sets, and {URL} is a network link",
            "",
            std::string()},
        NetworkRow{"socat ending: a device loss",
                   Source::Tcp,
                   {"monitor", "--json"},
                   1,
                   "torvikel-cli: Receiver lost: {URL} (connection closed).",
                   "{\"sentence\":",
                   std::nullopt,
                   true},
        NetworkRow{"gpsd ending: a device loss",
                   Source::Gpsd,
                   {"monitor", "--json"},
                   1,
                   "torvikel-cli: Receiver lost: {URL} (connection closed).",
                   "{\"sentence\":",
                   std::string(),
                   true},
        NetworkRow{"nothing listens at the address",
                   Source::Tcp,
                   {"monitor", "--json"},
                   1,
                   "torvikel-cli: Open ComPort failed. Nothing accepts connections at 127.0.0.1:",
                   "",
                   std::string(),
                   false,
                   [](const std::string&) { return "tcp://127.0.0.1:" + std::to_string(nettest::FreeLoopbackPort()); }},
        NetworkRow{
            "a device gpsd does not know",
            Source::Gpsd,
            {"monitor", "--json"},
            1,
            "(gpsd says: \"No such device as /dev/torvikel-no-such-port\")",
            "",
            std::string(),
            false,
            [](const std::string& url) { return url.substr(0, url.find("/dev/")) + "/dev/torvikel-no-such-port"; }}));

}  // namespace

#endif  // TORVIKEL_CLI_BINARY
