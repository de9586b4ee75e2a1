// The core pipeline over a whole file, as one program, so that it can be timed beside another
// decoder of the same stream (bench/vs_gpsdecode.py sets it against gpsd's gpsdecode): the
// file is read in 64 KiB chunks, cut into sentences, every sentence goes through
// NmeaSession::handle (checksum, split, dispatch, parser or reply decoder), and every completed
// GSV cycle through the chart step, as WholePipeline of bench_pipeline.cpp does. The clock is
// the session's own. What it counted goes to standard output, so nothing of the work can be
// left out, and two builds can be checked to have done the same.
//
// Usage: torvikel_pipeline_file [FILE]   (no FILE: standard input)
//
// Thread rule: single-threaded.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "commands/nmea_session.h"

int main(int argc, char** argv) {
  if (argc > 2) {
    std::fprintf(stderr, "usage: %s [FILE]\n", argv[0]);
    return 2;
  }
  const int fd = argc == 2 ? open(argv[1], O_RDONLY | O_CLOEXEC) : STDIN_FILENO;
  if (fd < 0) {
    std::fprintf(stderr, "%s: %s: %s\n", argv[0], argv[1], std::strerror(errno));
    return 1;
  }
  constexpr std::size_t kReadSize = 64 * 1024;
  std::vector<char> buffer(kReadSize);
  SentenceCutter cutter;
  NmeaSession session;
  unsigned long long sentences = 0, valid = 0, cycles = 0, charted = 0, bytes = 0;
  auto sink = [&](std::string_view sentence) {
    ++sentences;
    const SentenceOutcome outcome = session.handle(sentence);
    valid += outcome.valid ? 1 : 0;
    if (outcome.gsvCycleComplete) {
      ++cycles;
      charted += TakeChartSatellites(session.state).size();
    }
  };
  for (;;) {
    const ssize_t got = read(fd, buffer.data(), buffer.size());
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      std::fprintf(stderr, "%s: read: %s\n", argv[0], std::strerror(errno));
      return 1;
    }
    if (got == 0) break;
    bytes += static_cast<unsigned long long>(got);
    cutter.feed(buffer.data(), static_cast<std::size_t>(got), sink);
  }
  // The last sentence has no "$" after it: handed over as a reader hands it at the end.
  cutter.flushComplete(sink);
  const Display_SatInfo_st& info = session.state.satInfo;
  std::printf("bytes %llu sentences %llu valid %llu cycles %llu satellites charted %llu\n", bytes, sentences, valid,
              cycles, charted);
  std::printf("last: %s %s %s %s %s %s\n", info.dateText.c_str(), info.timeText.c_str(), info.latText.c_str(),
              info.lonText.c_str(), info.speedText.c_str(), info.fixModeText.c_str());
  return 0;
}
