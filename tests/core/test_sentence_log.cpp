// The sentence log file: name rule, creation and truncation, byte-for-byte content, long
// paths, completed partial writes, and a second start closing the first file.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "link/sentence_log.h"
#include "tests/support/files.h"

namespace {

using namespace std::string_literals;
namespace fs = std::filesystem;

using testsupport::TempDir;

// How many of this process's descriptors refer to `path`.
int OpenDescriptorsOn(const fs::path& path) {
  int count = 0;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator("/proc/self/fd", error)) {
    std::error_code linkError;
    const fs::path target = fs::read_symlink(entry.path(), linkError);
    if (!linkError && target == path) ++count;
  }
  return count;
}

TEST(SentenceLog, FileNameRule) {
  struct Row {
    const char* legend;
    std::string chosen;
    std::string expected;
  };
  const Row rows[] = {
      {"plain name", "track", "track.TXT"},
      {"\".txt\" chosen: appended all the same", "track.txt", "track.txt.TXT"},
      {"directory path", "/home/user/logs/run1", "/home/user/logs/run1.TXT"},
      {"200 characters, never cut", std::string(200, 'a'), std::string(200, 'a') + ".TXT"},
  };
  for (const Row& row : rows) EXPECT_EQ(LogFileNameOf(row.chosen), row.expected) << row.legend;
}

TEST(SentenceLog, WritesSentencesByteForByte) {
  TempDir dir;
  ASSERT_FALSE(dir.path().empty());
  const fs::path file = dir.file("track.TXT");
  const std::string sentences[] = {
      "$GPGGA,024356.091,,,,,0,00,,,M,,M,,*76\r\n",
      "$PMTK001,314,3*36\r\n",
      "$GPRMC,x*00\n",                    // LF only, as some receivers send
      "$GPTXT,\xB0\x01\x7F\xFF*11\r\n"s,  // 8-bit bytes pass unchanged
      "$GPGSV,1,1,00*79\r\n\0junk"s,      // whatever stood before the next "$"
  };
  SentenceLog log;
  ASSERT_TRUE(log.open(file.string()));
  EXPECT_TRUE(log.isOpen());
  EXPECT_EQ(log.path(), file.string());
  std::string expected;
  for (const std::string& sentence : sentences) {
    EXPECT_TRUE(log.write(sentence.data(), sentence.size()));
    expected += sentence;
  }
  // Another program may read while the log is open.
  EXPECT_EQ(testsupport::ReadFile(file), expected);
  log.close();
  EXPECT_FALSE(log.isOpen());
  EXPECT_EQ(testsupport::ReadFile(file), expected);
}

TEST(SentenceLog, ExistingFileIsEmptied) {
  TempDir dir;
  const fs::path file = dir.file("old.txt.TXT");
  { std::ofstream(file, std::ios::binary) << "an earlier, longer log that must disappear\r\n"; }
  SentenceLog log;
  ASSERT_TRUE(log.open(file.string()));
  EXPECT_EQ(fs::file_size(file), 0u);
  log.write("$A*41\r\n", 7);
  log.close();
  EXPECT_EQ(testsupport::ReadFile(file), "$A*41\r\n");
}

TEST(SentenceLog, CreatedReadableByOthers) {
  TempDir dir;
  const fs::path file = dir.file("mode.TXT");
  const mode_t mask = umask(022);
  SentenceLog log;
  const bool opened = log.open(file.string());
  umask(mask);
  ASSERT_TRUE(opened);
  struct stat info {};
  ASSERT_EQ(stat(file.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0644u);
}

TEST(SentenceLog, LongPath) {
  TempDir dir;
  // Nested directories so the chosen path is 200 characters before ".TXT".
  fs::path base = dir.path();
  while (base.string().size() < 150) base /= "subdirectory";
  fs::create_directories(base);
  std::string chosen = (base / "").string();
  chosen += std::string(200 - chosen.size(), 'n');
  ASSERT_EQ(chosen.size(), 200u);

  SentenceLog log;
  ASSERT_TRUE(log.open(LogFileNameOf(chosen)));
  log.write("$GPZDA*00\r\n", 11);
  log.close();
  EXPECT_EQ(testsupport::ReadFile(chosen + ".TXT"), "$GPZDA*00\r\n");
}

TEST(SentenceLog, OpenFailureLeavesLogOff) {
  TempDir dir;
  SentenceLog log;
  ASSERT_TRUE(log.open(dir.file("first.TXT")));
  EXPECT_FALSE(log.open(dir.file("no-such-directory/x.TXT")));
  EXPECT_FALSE(log.isOpen());
  EXPECT_EQ(OpenDescriptorsOn(dir.file("first.TXT")), 0) << "the first file was closed";
  EXPECT_FALSE(log.write("$X*58\r\n", 7)) << "nothing open: nothing written";
}

TEST(SentenceLog, SecondStartClosesTheFirstFile) {
  TempDir dir;
  const fs::path first = dir.file("first.TXT");
  const fs::path second = dir.file("second.TXT");
  SentenceLog log;
  ASSERT_TRUE(log.open(first.string()));
  log.write("$ONE*00\r\n", 9);
  EXPECT_EQ(OpenDescriptorsOn(first), 1);
  ASSERT_TRUE(log.open(second.string()));
  EXPECT_EQ(OpenDescriptorsOn(first), 0) << "first file left open";
  EXPECT_EQ(OpenDescriptorsOn(second), 1);
  log.write("$TWO*00\r\n", 9);
  log.close();
  EXPECT_EQ(OpenDescriptorsOn(second), 0);
  EXPECT_EQ(testsupport::ReadFile(first), "$ONE*00\r\n");
  EXPECT_EQ(testsupport::ReadFile(second), "$TWO*00\r\n");
}

// Write functions that misbehave as a busy or signalled system can.
int gCalls = 0;
ssize_t ShortAndInterruptedWrite(int fd, const void* data, std::size_t size) {
  ++gCalls;
  if (gCalls % 3 == 0) {
    errno = EINTR;
    return -1;
  }
  return ::write(fd, data, size < 3 ? size : 3);  // at most 3 bytes per call
}
ssize_t FailingWrite(int, const void*, std::size_t) {
  ++gCalls;
  errno = EIO;
  return -1;
}
ssize_t NoProgressWrite(int, const void*, std::size_t) {
  ++gCalls;
  return 0;
}

TEST(SentenceLog, PartialAndInterruptedWritesAreCompleted) {
  TempDir dir;
  const fs::path file = dir.file("short.TXT");
  gCalls = 0;
  SentenceLog log(&ShortAndInterruptedWrite);
  ASSERT_TRUE(log.open(file.string()));
  const std::string sentence = "$GPGSA,A,3,10,07,05,02,29,04,08,13,,,,,1.72,1.03,1.38*0A\r\n";
  EXPECT_TRUE(log.write(sentence.data(), sentence.size()));
  EXPECT_TRUE(log.write(sentence.data(), sentence.size()));
  log.close();
  EXPECT_EQ(testsupport::ReadFile(file), sentence + sentence);
  EXPECT_GT(gCalls, static_cast<int>(2 * sentence.size() / 3)) << "the fake really cut the writes";
}

TEST(SentenceLog, WriteErrorsEndTheWriteWithoutHanging) {
  struct Row {
    const char* legend;
    SentenceLog::WriteFunction write;
  };
  const Row rows[] = {{"I/O error", &FailingWrite}, {"no progress at all", &NoProgressWrite}};
  for (const Row& row : rows) {
    TempDir dir;
    gCalls = 0;
    SentenceLog log(row.write);
    ASSERT_TRUE(log.open(dir.file("err.TXT"))) << row.legend;
    EXPECT_FALSE(log.write("$A*41\r\n", 7)) << row.legend;
    EXPECT_EQ(gCalls, 1) << row.legend;
    EXPECT_TRUE(log.isOpen()) << row.legend << ": logging goes on with the next sentence";
  }
}

TEST(SentenceLog, LargeWritesThroughAPipe) {
  TempDir dir;
  const fs::path fifo = dir.file("pipe.TXT");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);

  std::string payload;
  for (int i = 0; payload.size() < 1'000'000; ++i)
    payload += "$GPGGA," + std::to_string(i) + ",,,,,0,00,,,M,,M,,*00\r\n";

  std::string received;
  std::thread reader([&] {
    const int fd = ::open(fifo.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return;
    char buffer[4096];
    ssize_t got;
    while ((got = ::read(fd, buffer, sizeof buffer)) > 0) received.append(buffer, static_cast<std::size_t>(got));
    ::close(fd);
  });
  bool opened = false;
  {
    SentenceLog log;
    opened = log.open(fifo.string());
    if (opened) {
      EXPECT_TRUE(log.write(payload.data(), payload.size()));
    } else {
      ::close(::open(fifo.c_str(), O_WRONLY | O_CLOEXEC));  // release the waiting reader
    }
  }  // closing ends the reader's stream
  reader.join();
  ASSERT_TRUE(opened);
  EXPECT_EQ(received.size(), payload.size());
  EXPECT_TRUE(received == payload);
}

}  // namespace
