// Cost of the EPO upload's decisions: a whole seven-day upload (299 data packets) against an
// in-memory receiver that acknowledges each packet at once, per packet; building and reading
// packets; the reply scanner on a stream of acknowledgements; and the same upload over a
// pseudo-terminal against the simulated receiver paced at 115200 baud, against the time the
// line itself needs (300 x (191 + 12) bytes x 10 bits / 115200 baud = 5.29 s; the aim is at
// most 1.10 times that). The simulator paces both directions: a packet reaches it once its
// last byte has crossed the line, so the figure is what a real line at that rate would take.
// Unpaced, the median turnaround of one packet (sent, acknowledged, the next one sent) shows
// the loop's own cost over a real serial layer; the aim is under 2 ms.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <vector>

#include <atomic>
#include <chrono>

#include "agps/epo_packets.h"
#include "agps/epo_serial_link.h"
#include "agps/epo_upload.h"
#include "link/serial_port.h"
#include "sim/sim_receiver.h"

namespace {

constexpr std::size_t kSevenDayBytes = 53760;

std::vector<std::uint8_t> SevenDayContent() {
  std::vector<std::uint8_t> bytes(kSevenDayBytes);
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>((i * 31 + i / 60) & 0xFF);
  return bytes;
}

std::array<std::uint8_t, 12> AckFor(std::uint16_t seq) {
  std::array<std::uint8_t, 12> p = {
      0x04, 0x24, 0x0C, 0x00, 0x02, 0x00, static_cast<std::uint8_t>(seq & 0xFF), static_cast<std::uint8_t>(seq >> 8),
      0x01, 0x00, 0x0D, 0x0A};
  for (std::size_t i = 2; i < 9; ++i) p[9] ^= p[i];
  return p;
}

// A receiver in memory: acknowledges each data packet the moment it is written.
class InstantReceiver : public EpoLink {
 public:
  void write(std::span<const std::uint8_t> bytes) override {
    ++writes;
    if (bytes.size() == kEpoPacketBytes && !(bytes[6] == 0xFF && bytes[7] == 0xFF)) {
      const auto ack = AckFor(static_cast<std::uint16_t>(bytes[6] | (bytes[7] << 8)));
      pending.insert(pending.end(), ack.begin(), ack.end());
    }
  }
  long bytesWaiting() override { return static_cast<long>(pending.size()); }
  long read(std::span<std::uint8_t> buffer) override {
    const std::size_t n = std::min(buffer.size(), pending.size());
    std::copy(pending.begin(), pending.begin() + static_cast<long>(n), buffer.begin());
    pending.erase(pending.begin(), pending.begin() + static_cast<long>(n));
    return static_cast<long>(n);
  }
  void idle() override {}
  bool stopRequested() override { return false; }
  void progress(int percent, const std::string&) override { lastPercent = percent; }

  std::vector<std::uint8_t> pending;
  int writes = 0;
  int lastPercent = -1;
};

void BM_UploadSevenDayFilePerPacket(benchmark::State& state) {
  std::vector<std::uint8_t> content = SevenDayContent();
  std::int64_t packets = 0;
  for (auto _ : state) {
    EpoFilePtr file(fmemopen(content.data(), content.size(), "rb"));
    EpoUpload upload(std::move(file));
    InstantReceiver receiver;
    receiver.pending = {0x04, 0x24, 0x0C, 0x00, 0x01, 0x00, 0xFD, 0x00, 0x03, 0xF3, 0x0D, 0x0A};
    const EpoEnding ending = RunEpoUpload(upload, receiver);
    if (ending != EpoEnding::Completed || receiver.lastPercent != 100) state.SkipWithError("upload did not complete");
    packets += upload.state().epoTotalPackets;
    benchmark::DoNotOptimize(receiver.writes);
  }
  state.SetItemsProcessed(packets);  // items: data packets sent and acknowledged
}
BENCHMARK(BM_UploadSevenDayFilePerPacket)->Unit(benchmark::kMillisecond);

void BM_BuildDataPacket(benchmark::State& state) {
  EpoRecord r1, r2, r3;
  r1.fill(0x11);
  r2.fill(0x22);
  r3.fill(0x33);
  EpoPacket packet{};
  std::uint16_t seq = 0;
  for (auto _ : state) {
    EpoBuildPacket(seq++, r1, r2, r3, packet);
    benchmark::DoNotOptimize(packet.data());
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}
BENCHMARK(BM_BuildDataPacket);

void BM_ReadAllPacketsOfSevenDayFile(benchmark::State& state) {
  std::vector<std::uint8_t> content = SevenDayContent();
  std::int64_t packets = 0;
  for (auto _ : state) {
    EpoFilePtr file(fmemopen(content.data(), content.size(), "rb"));
    EpoPacket packet{};
    for (std::uint16_t seq = 0; EpoReadPacket(seq, file.get(), packet); ++seq) ++packets;
    benchmark::DoNotOptimize(packet.data());
  }
  state.SetItemsProcessed(packets);
}
BENCHMARK(BM_ReadAllPacketsOfSevenDayFile)->Unit(benchmark::kMicrosecond);

void BM_ScanAcknowledgements(benchmark::State& state) {
  std::vector<std::uint8_t> stream;
  for (std::uint16_t seq = 0; seq < 299; ++seq) {
    const auto ack = AckFor(seq);
    stream.insert(stream.end(), ack.begin(), ack.end());
  }
  ReplyFramer framer;
  std::int64_t acks = 0;
  const ReplyFramer::Sink sink = [&acks](std::span<const std::uint8_t>, const EpoReply& reply) {
    acks += reply.kind == EpoReplyKind::EpoAck;
    return true;
  };
  for (auto _ : state) {
    // Seven-byte reads, as a slow line delivers them.
    for (std::size_t at = 0; at < stream.size(); at += 7) {
      framer.feed(std::span<const std::uint8_t>(stream.data() + at, std::min<std::size_t>(7, stream.size() - at)),
                  sink);
    }
  }
  state.SetItemsProcessed(acks);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * stream.size()));
}
BENCHMARK(BM_ScanAcknowledgements)->Unit(benchmark::kMicrosecond);

// A simulated receiver on a pseudo-terminal, the port open to it at 115200 baud, and the
// seven-day file ready to upload; the receiver switched to binary by the command the flow
// sends first.
struct UploadRig {
  explicit UploadRig(bool pace) : receiver(OptionsFor(pace)), content(SevenDayContent()) {
    LineState line;
    line.baudRate = 115200;
    ready = receiver.start(nullptr) && port.open(receiver.slavePath()) && port.setState(line);
  }
  ~UploadRig() {
    port.close();
    receiver.stop();
  }
  static sim::SimOptions OptionsFor(bool pace) {
    sim::SimOptions options;
    options.comNumber = 0;
    options.pace = pace;
    options.keepLogs = false;
    options.model.binaryFirstAckDelayMs = 1;
    return options;
  }
  EpoUpload upload() { return EpoUpload(EpoFilePtr(fmemopen(content.data(), content.size(), "rb"))); }
  void switchToBinary() {
    const std::string command = "$PMTK253,1,115200*00\r\n";
    port.write(command.data(), command.size());
  }

  sim::SimReceiver receiver;
  SerialPort port;
  std::vector<std::uint8_t> content;
  std::atomic<bool> stop{false};
  bool ready = false;
};

void BM_UploadSevenDayFileToPacedSimulator(benchmark::State& state) {
  constexpr double kLineTimeS = 300.0 * (191 + 12) * 10 / 115200;
  for (auto _ : state) {
    UploadRig rig(true);
    if (!rig.ready) {
      state.SkipWithError("simulated receiver not available");
      break;
    }
    EpoUpload upload = rig.upload();
    SerialEpoLink link(rig.port, &rig.stop);
    const auto start = std::chrono::steady_clock::now();
    rig.switchToBinary();
    const EpoEnding ending = RunEpoUpload(upload, link);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    state.SetIterationTime(seconds);
    state.counters["line_time_ratio"] = seconds / kLineTimeS;
    if (ending != EpoEnding::Completed) state.SkipWithError("upload did not complete");
  }
}
BENCHMARK(BM_UploadSevenDayFileToPacedSimulator)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

// The serial link with the time of every data packet sent.
class TimedLink : public EpoLink {
 public:
  TimedLink(SerialPort& port, const std::atomic<bool>& stop) : inner_(port, &stop) {}
  void write(std::span<const std::uint8_t> bytes) override { inner_.write(bytes); }
  long bytesWaiting() override { return inner_.bytesWaiting(); }
  long read(std::span<std::uint8_t> buffer) override { return inner_.read(buffer); }
  void idle() override { inner_.idle(); }
  bool stopRequested() override { return inner_.stopRequested(); }
  void progress(int, const std::string&) override { sentAt.push_back(std::chrono::steady_clock::now()); }
  std::vector<std::chrono::steady_clock::time_point> sentAt;

 private:
  SerialEpoLink inner_;
};

void BM_UploadTurnaroundPerPacketUnpaced(benchmark::State& state) {
  std::vector<double> turnaroundsMs;
  for (auto _ : state) {
    UploadRig rig(false);
    if (!rig.ready) {
      state.SkipWithError("simulated receiver not available");
      break;
    }
    EpoUpload upload = rig.upload();
    TimedLink link(rig.port, rig.stop);
    rig.switchToBinary();
    const auto start = std::chrono::steady_clock::now();
    const EpoEnding ending = RunEpoUpload(upload, link);
    state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    if (ending != EpoEnding::Completed) state.SkipWithError("upload did not complete");
    for (std::size_t i = 1; i < link.sentAt.size(); ++i) {
      turnaroundsMs.push_back(std::chrono::duration<double, std::milli>(link.sentAt[i] - link.sentAt[i - 1]).count());
    }
  }
  if (!turnaroundsMs.empty()) {
    std::sort(turnaroundsMs.begin(), turnaroundsMs.end());
    state.counters["median_turnaround_ms"] = turnaroundsMs[turnaroundsMs.size() / 2];
    state.counters["p90_turnaround_ms"] = turnaroundsMs[turnaroundsMs.size() * 9 / 10];
  }
}
BENCHMARK(BM_UploadTurnaroundPerPacketUnpaced)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace
