// Serial layer on a pseudo-terminal pair: the test holds the master side and plays the
// receiver; SerialPort opens the slave as the program opens its port. A closed port refuses
// alike whatever its transport.
//
// Thread rule: each test owns its pair; the wake-up tests start one helper thread each and
// join it before the pair is closed.
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "link/link_error.h"
#include "link/reader_loop.h"
#include "link/serial_port.h"
#include "link/tcp_stream.h"
#include "net/gpsd_watch.h"

namespace {

constexpr std::uint32_t kNobody = 65534;

// Master side of a pseudo-terminal; the slave path is what SerialPort opens.
class PtyPair {
 public:
  PtyPair() {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ >= 0 && ::grantpt(master_) == 0 && ::unlockpt(master_) == 0) {
      const char* name = ::ptsname(master_);
      if (name != nullptr) slavePath_ = name;
    }
  }
  ~PtyPair() { closeMaster(); }
  bool ok() const { return master_ >= 0 && !slavePath_.empty(); }
  const std::string& slavePath() const { return slavePath_; }
  int master() const { return master_; }
  void closeMaster() {
    if (master_ >= 0) ::close(master_);
    master_ = -1;
  }
  void send(const std::string& bytes) const {
    ASSERT_EQ(::write(master_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }
  // Reads what the slave side wrote, waiting up to waitMs for the first byte.
  std::string receive(std::size_t want, int waitMs = 2000) const {
    std::string out;
    while (out.size() < want) {
      struct pollfd pfd = {master_, POLLIN, 0};
      if (::poll(&pfd, 1, waitMs) <= 0) break;
      char buf[4096];
      const ssize_t n = ::read(master_, buf, sizeof buf);
      if (n <= 0) break;
      out.append(buf, static_cast<std::size_t>(n));
    }
    return out;
  }

 private:
  int master_ = -1;
  std::string slavePath_;
};

int openDescriptorCount() {
  int count = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) ++count;
  return count;
}

// Opens path as an unprivileged user in a child process (root passes TIOCEXCL, so
// exclusivity can only be seen without privileges). Returns 0 on success, else the errno of
// the open, or -1 when the child could not drop its privileges.
int openAsNobody(const std::string& path) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (::setgid(kNobody) != 0 || ::setuid(kNobody) != 0) ::_exit(255);
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ::_exit(fd >= 0 ? 0 : (errno & 0x7f));
  }
  int status = 0;
  if (pid < 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  const int code = WEXITSTATUS(status);
  return code == 255 ? -1 : code;
}

class SerialPortTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!pty.ok()) GTEST_SKIP() << "no pseudo-terminal available";
    ASSERT_TRUE(port.open(pty.slavePath())) << port.lastError();
  }
  PtyPair pty;
  SerialPort port;
};

TEST(SerialPortOpen, FailuresReportAndLeakNothing) {
  struct Row {
    const char* legend;
    std::string path;
    const char* errorContains;
    LinkCause cause;  // of the errno the port keeps
  };
  const std::vector<Row> rows = {
      {"missing device", "/dev/torvikel-no-such-port", "/dev/torvikel-no-such-port", LinkCause::Missing},
      {"not a terminal", "/dev/null", "exclusive", LinkCause::NotSerial},
      {"a directory", "/tmp", "/tmp", LinkCause::Other},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.legend);
    SerialPort port;
    const int before = openDescriptorCount();
    EXPECT_FALSE(port.open(row.path));
    EXPECT_FALSE(port.isOpen());
    EXPECT_EQ(port.fd(), -1);
    EXPECT_NE(port.lastError().find(row.errorContains), std::string::npos) << port.lastError();
    EXPECT_EQ(CauseOfErrno(port.lastErrorNumber()), row.cause) << port.lastError();
    EXPECT_EQ(openDescriptorCount(), before);
  }
}

TEST(SerialPortOpen, ClosedPortRefusesEveryOperation) {
  struct Row {
    const char* legend;
    std::function<std::unique_ptr<ByteStream>()> make;
  };
  const std::vector<Row> rows = {
      {"serial line", [] { return std::make_unique<SerialPort>(); }},
      {"tcp://", [] { return std::make_unique<TcpStream>(); }},
      {"gpsd://", [] { return std::make_unique<GpsdWatch>(); }},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.legend);
    const std::unique_ptr<ByteStream> port = row.make();
    if (SerialPort* line = port->serialLine()) {
      LineState state;
      EXPECT_FALSE(line->getState(state));
      EXPECT_FALSE(line->setState(LineState{9600}));
      EXPECT_FALSE(line->purge());
    }
    char byte = 0;
    EXPECT_FALSE(port->isOpen());
    EXPECT_EQ(port->bytesQueued(), -1);
    EXPECT_FALSE(port->waitReadable(0));
    EXPECT_EQ(port->read(&byte, 1), -1);
    EXPECT_EQ(port->write(&byte, 1), -1);
    EXPECT_EQ(port->lastError(), "port not open");
    EXPECT_TRUE(port->lineGone());
  }
}

TEST(SerialPortOpen, RepeatedOpenCloseKeepsDescriptorCount) {
  PtyPair pty;
  if (!pty.ok()) GTEST_SKIP() << "no pseudo-terminal available";
  SerialPort port;
  ASSERT_TRUE(port.open(pty.slavePath()));
  port.close();
  const int before = openDescriptorCount();
  for (int i = 0; i < 50; ++i) {
    ASSERT_TRUE(port.open(pty.slavePath())) << port.lastError();
    ASSERT_TRUE(port.open(pty.slavePath())) << "reopen while open closes the old descriptor first";
    port.close();
  }
  EXPECT_EQ(openDescriptorCount(), before);
}

TEST_F(SerialPortTest, SecondOpenIsRefusedWhileOpenAndAllowedAfterClose) {
  ASSERT_EQ(::chmod(pty.slavePath().c_str(), 0666), 0);
  // A third party holding the slave (as the simulated receiver does) keeps the terminal alive
  // across our close; exclusivity must still end with our close.
  const int holder = ::open(pty.slavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(holder, 0);
  const int whileOpen = openAsNobody(pty.slavePath());
  if (whileOpen == -1) {
    ::close(holder);
    GTEST_SKIP() << "cannot run a process without privileges here";
  }
  EXPECT_EQ(whileOpen, EBUSY);
  port.close();
  EXPECT_EQ(openAsNobody(pty.slavePath()), 0);
  ::close(holder);
}

TEST_F(SerialPortTest, EveryRateOfTheProgramIsAccepted) {
  struct Row {
    const char* legend;
    std::uint32_t baud;
  };
  const std::vector<Row> rows = {
      {"slowest listed", 4800},
      {"classic default", 9600},
      {"no Bxxx constant", 14400},
      {"", 19200},
      {"", 38400},
      {"only in the mode packet", 57600},
      {"upload rate", 115200},
      {"odd rate", 250000},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.legend) + " " + std::to_string(row.baud));
    ASSERT_TRUE(port.setState(LineState{row.baud})) << port.lastError();
    LineState got;
    got.dataBits = 0;
    got.parity = true;
    got.stopBits = 0;
    ASSERT_TRUE(port.getState(got)) << port.lastError();
    EXPECT_EQ(got.baudRate, row.baud);
    EXPECT_EQ(got.dataBits, 8);
    EXPECT_FALSE(got.parity);
    EXPECT_EQ(got.stopBits, 1);
  }
}

TEST_F(SerialPortTest, InvalidLineStatesAreReported) {
  struct Row {
    const char* legend;
    LineState state;
  };
  const std::vector<Row> rows = {
      {"baud 0", LineState{0}},
      {"nine data bits", LineState{9600, 9, false, 1}},
      {"three stop bits", LineState{9600, 8, false, 3}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.legend);
    EXPECT_FALSE(port.setState(row.state));
    EXPECT_FALSE(port.lastError().empty());
  }
}

TEST_F(SerialPortTest, BytesPassUnchangedBothWays) {
  struct Row {
    const char* legend;
    std::string bytes;
  };
  const std::vector<Row> rows = {
      {"sentence with CR LF", "$GPGGA,1*00\r\n"},
      {"bare LF is not turned into CR LF", "a\nb\n"},
      {"NUL and Latin-1 degree sign", std::string("\0\xB0\x04\x24\x0D\x0A", 6)},
      {"control characters of a cooked terminal", std::string("\x03\x04\x11\x13\x1A\x7F", 6)},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.legend);
    pty.send(row.bytes);
    ASSERT_TRUE(port.waitReadable(2000));
    ASSERT_EQ(port.bytesQueued(), static_cast<int>(row.bytes.size()));
    std::string in(row.bytes.size(), '?');
    ASSERT_EQ(port.read(in.data(), in.size()), static_cast<long>(in.size()));
    EXPECT_EQ(in, row.bytes);

    ASSERT_EQ(port.write(row.bytes.data(), row.bytes.size()), static_cast<long>(row.bytes.size()));
    EXPECT_EQ(pty.receive(row.bytes.size()), row.bytes);
  }
}

TEST_F(SerialPortTest, PurgeDropsQueuedInput) {
  pty.send("$GPRMC,stale*00\r\n");
  ASSERT_TRUE(port.waitReadable(2000));
  ASSERT_GT(port.bytesQueued(), 0);
  ASSERT_TRUE(port.purge()) << port.lastError();
  EXPECT_EQ(port.bytesQueued(), 0);
  pty.send("X");
  ASSERT_TRUE(port.waitReadable(2000));
  char byte = 0;
  ASSERT_EQ(port.read(&byte, 1), 1);
  EXPECT_EQ(byte, 'X');
}

TEST_F(SerialPortTest, ReadReturnsWhatCameWhenTheTimeOutPasses) {
  ASSERT_TRUE(port.setTimeouts(20, 100));
  pty.send("abc");
  ASSERT_TRUE(port.waitReadable(2000));
  char buf[64] = {};
  EXPECT_EQ(port.read(buf, sizeof buf), 3);
  EXPECT_EQ(std::string(buf, 3), "abc");
  EXPECT_EQ(port.read(buf, sizeof buf), 0) << "silent line: nothing within the time-out";
}

TEST_F(SerialPortTest, WaitReadableWakesOnData) {
  auto waiter = std::async(std::launch::async, [this] { return port.waitReadable(60000); });
  pty.send("$");
  ASSERT_EQ(waiter.wait_for(std::chrono::seconds(30)), std::future_status::ready);
  EXPECT_TRUE(waiter.get());
}

TEST_F(SerialPortTest, WaitReadableWakesOnInterruptFromAnotherThread) {
  auto waiter = std::async(std::launch::async, [this] { return port.waitReadable(60000); });
  port.interrupt();
  const auto status = waiter.wait_for(std::chrono::seconds(30));
  if (status != std::future_status::ready) pty.send("$");  // release the thread before failing
  ASSERT_EQ(status, std::future_status::ready);
  EXPECT_FALSE(waiter.get()) << "an interrupt is not data";
}

TEST_F(SerialPortTest, InterruptBeforeTheWaitIsKeptForOneWait) {
  port.interrupt();
  EXPECT_FALSE(port.waitReadable(-1)) << "a kept interrupt ends an unbounded wait";
  EXPECT_FALSE(port.waitReadable(0));
  pty.send("x");
  EXPECT_TRUE(port.waitReadable(2000)) << "the interrupt was used up by the first wait";
}

TEST_F(SerialPortTest, WriteGivesUpAfterItsTimeOut) {
  ASSERT_TRUE(port.setTimeouts(500, 50));
  // Nobody reads the master side, so the terminal's buffer fills and stays full.
  const std::string big(1 << 20, 'G');
  const long written = port.write(big.data(), big.size());
  EXPECT_GE(written, 0);
  EXPECT_LT(written, static_cast<long>(big.size()));
  EXPECT_EQ(port.lastError(), "write time-out");
}

TEST_F(SerialPortTest, PeerGoneIsReportedNotHung) {
  pty.closeMaster();
  EXPECT_TRUE(port.waitReadable(2000)) << "a hang-up is something to report";
  char buf[16];
  EXPECT_LE(port.read(buf, sizeof buf), 0);
}

// The read loop on a quiet line: the last sentence before a pause has no "$" after it. The
// loop runs on the test's own thread; the stop predicate ends it at a chosen point.
TEST_F(SerialPortTest, ReaderLoopHandsOverTheLastSentenceOfAQuietLine) {
  struct Row {
    const char* legend;
    int quietMs;
    bool expectDelivered;  // else: held back, returned when the loop stops
  };
  const std::string reply = "$PMTK705,AXN_1.30,0000,Kappa-32,*1D\r\n";
  const Row rows[] = {
      {"the line goes quiet: handed over without a next $", kQuietHandOverMs, true},
      {"stopped before the quiet time ran out: returned with the loop's end", 600000, false},
  };
  for (const Row& row : rows) {
    pty.send("garbage" + reply);
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (port.bytesQueued() < static_cast<int>(7 + reply.size()) && std::chrono::steady_clock::now() < until) {
      port.waitReadable(100);
    }
    std::vector<std::string> delivered;
    // Stop once something was handed over, or, for the second row, once the bytes were read.
    const ReaderLoopStats stats = RunReaderLoop(
        port, [&] { return !delivered.empty() || (!row.expectDelivered && port.bytesQueued() == 0); },
        [&](std::string_view s) { delivered.emplace_back(s); }, row.quietMs);
    const std::vector<std::string> want{reply};
    EXPECT_EQ(delivered, row.expectDelivered ? want : std::vector<std::string>{}) << row.legend;
    EXPECT_EQ(stats.heldBack, row.expectDelivered ? std::vector<std::string>{} : want) << row.legend;
  }
}

}  // namespace
