// libFuzzer target for what a hostile or broken receiver can send during an EPO update and as
// replies: the binary reply scanner under arbitrary read sizes (checked against one whole
// read), the upload machine fed those reads turn by turn (every write well-formed, one data
// packet in flight, nothing after the ending), and the PMTK reply decoder with the EPO
// validity text on every sentence the bytes hold. Any broken invariant aborts, so the fuzzer
// reports it like a crash.
//
// Input: two bytes choose the read sizes, one byte the file's record count, the rest is what
// the receiver sends.
//
// Thread rule: single-threaded, as libFuzzer calls it.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "agps/epo_packets.h"
#include "agps/epo_upload.h"
#include "commands/epo_state_text.h"
#include "commands/pmtk_replies.h"
#include "link/nmea_sentence.h"
#include "link/receiver_state.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

void Require(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
  }
}

// Read sizes of 1 to 97 bytes from a small generator seeded by the input.
class ReadSizes {
 public:
  explicit ReadSizes(std::uint32_t seed) : seed_(seed) {}
  std::size_t next(std::size_t left) {
    seed_ = seed_ * 1103515245u + 12345u;
    return std::min<std::size_t>(left, 1 + (seed_ >> 16) % 97);
  }

 private:
  std::uint32_t seed_;
};

struct Framed {
  Bytes bytes;
  EpoReplyKind kind;
  bool operator==(const Framed& o) const { return bytes == o.bytes && kind == o.kind; }
};

void CheckPacket(std::span<const std::uint8_t> packet, const EpoReply& reply, std::vector<Framed>& out) {
  Require(packet.size() >= 4 && packet.size() <= kReplyBufferBytes, "packet length");
  Require(packet[0] == 0x04 && packet[1] == 0x24, "packet starts with 04 24");
  Require(packet[packet.size() - 2] == 0x0D && packet[packet.size() - 1] == 0x0A, "packet ends with 0D 0A");
  const EpoReply again = EpoClassifyReply(packet);
  Require(again.kind == reply.kind && again.accepted == reply.accepted && again.seq == reply.seq,
          "classification is a function of the bytes");
  out.push_back({Bytes(packet.begin(), packet.end()), reply.kind});
}

void FuzzFramer(std::span<const std::uint8_t> stream, std::uint32_t seed) {
  std::vector<Framed> whole;
  ReplyFramer single;
  single.feed(stream, [&](std::span<const std::uint8_t> p, const EpoReply& r) {
    CheckPacket(p, r, whole);
    return true;
  });
  std::vector<Framed> chunked;
  ReplyFramer framer;
  ReadSizes sizes(seed);
  for (std::size_t at = 0; at < stream.size();) {
    const std::size_t n = sizes.next(stream.size() - at);
    framer.feed(stream.subspan(at, n), [&](std::span<const std::uint8_t> p, const EpoReply& r) {
      CheckPacket(p, r, chunked);
      return true;
    });
    Require(framer.replyLength() <= kReplyBufferBytes, "scanner buffer bounded");
    at += n;
  }
  Require(whole == chunked, "read sizes do not change the packets");
  Require(single.replyState() == framer.replyState() && single.replyLength() == framer.replyLength() &&
              single.holdsCarryByte() == framer.holdsCarryByte(),
          "read sizes do not change what is held");
}

bool ChecksumHolds(std::span<const std::uint8_t> packet) {
  std::uint8_t x = 0;
  for (std::size_t i = 2; i + 3 < packet.size(); ++i) x = static_cast<std::uint8_t>(x ^ packet[i]);
  return packet[packet.size() - 3] == x;
}

// One turn's writes: at most one data packet, with the next sequence number; an ending
// writes the closing packet (completion only) and then the output-mode packet.
void CheckTurn(const EpoTurn& turn, int& expectedSeq, int& lastPercent) {
  Require(turn.writeCount <= 2, "at most two writes a turn");
  for (std::size_t i = 0; i < turn.writeCount; ++i) {
    const std::span<const std::uint8_t> w = turn.writes[i];
    Require(w.size() == kEpoPacketBytes || w.size() == kEpoModePacketBytes, "packet sizes");
    Require(w[0] == 0x04 && w[1] == 0x24 && w[w.size() - 2] == 0x0D && w[w.size() - 1] == 0x0A, "packet frame");
    Require(ChecksumHolds(w), "packet checksum");
    if (w.size() == kEpoModePacketBytes) {
      Require(turn.ending != EpoEnding::None && i + 1 == turn.writeCount, "output-mode packet only last, at an ending");
      continue;
    }
    const int seq = w[6] | (w[7] << 8);
    if (seq == kEpoEndSeq) {
      Require(turn.ending == EpoEnding::Completed, "closing packet only on completion");
      continue;
    }
    Require(turn.ending == EpoEnding::None, "no data packet at an ending");
    Require(seq == expectedSeq, "data packets numbered in order");
    ++expectedSeq;
  }
  if (turn.ending != EpoEnding::None) {
    Require(turn.writeCount >= 1, "every ending hands the receiver back");
    Require(EpoEndingTextsFor(turn.ending).message[0] != '\0', "every ending has its text");
  }
  if (turn.progressChanged) {
    Require(turn.percent >= lastPercent && turn.percent >= 0 && turn.percent <= 100, "progress within 0-100, rising");
    lastPercent = turn.percent;
  }
}

void FuzzUpload(std::span<const std::uint8_t> stream, std::uint32_t seed, std::size_t records) {
  Bytes content(records * kEpoRecordBytes);
  for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<std::uint8_t>(i * 7 + 3);
  EpoFilePtr file(fmemopen(content.data(), content.size(), "rb"));
  if (!file) return;
  EpoUpload upload(std::move(file));
  const int total = upload.state().epoTotalPackets;
  int expectedSeq = 0;
  int lastPercent = 0;
  bool ended = false;
  ReadSizes sizes(seed ^ 0x5A5Au);
  // A few quiet turns after the last read let a decided ending be written.
  for (std::size_t at = 0, quiet = 0; at < stream.size() || quiet < 3;) {
    const EpoTurn turn = upload.beginTurn();
    if (ended) Require(turn.writeCount == 0 && turn.ending == EpoEnding::None, "nothing after the ending");
    CheckTurn(turn, expectedSeq, lastPercent);
    ended = ended || turn.ending != EpoEnding::None;
    const EpoUploadState& s = upload.state();
    Require(s.epoPacketsLeft >= 0 && s.epoPacketsLeft <= total, "packets left within the file");
    Require(s.epoAckCountdown >= 0 && s.epoAckCountdown <= kEpoAckCountdownStart, "countdown within 0-5");
    Require(s.epoSendState == 0 || s.epoSendState == 1 || s.epoSendState == 3, "send state");
    Require(ended || s.epoNextSeq == total - s.epoPacketsLeft, "sequence follows the packets sent");
    if (at < stream.size()) {
      const std::size_t n = sizes.next(stream.size() - at);
      upload.feed(stream.subspan(at, n));
      at += n;
    } else {
      ++quiet;
    }
  }
  const EpoTurn last = upload.abandon();
  Require(last.writeCount == (ended ? 0u : 1u), "abandon hands back once, only while running");
  Require(!upload.fileOpen(), "the file is closed at the end");
}

void FuzzReplies(std::span<const std::uint8_t> stream) {
  const EpoClock clock{1700000000, 0, 0};
  const EpoTextFormat format = IsoEpoTextFormat();
  SentenceCutter cutter;
  cutter.feed(reinterpret_cast<const char*>(stream.data()), stream.size(), [&](std::string_view sentence) {
    SentenceFields fields;
    SplitFields(sentence, fields);
    if (RouteOf(fields[0]) != SentenceRoute::MtkReply) return;
    const std::optional<ReceiverReply> reply = DecodePmtkReply(fields);
    if (!reply) return;
    Require(!ReplyKindName(*reply).empty(), "every reply has a kind name");
    if (const auto* epo = std::get_if<PmtkEpoState>(&*reply)) {
      const EpoRemaining left = EpoRemainingValidity(*epo, clock);
      Require(left.days >= 0 && left.hours >= 0, "remaining validity never negative");
      Require(!EpoStateText(*epo, clock, format).empty(), "EPO text never empty");
    }
  });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3) return 0;
  const std::uint32_t seed = static_cast<std::uint32_t>(data[0]) | (static_cast<std::uint32_t>(data[1]) << 8);
  const std::size_t records = 1 + data[2] % 64;  // 1 to 22 data packets
  const std::span<const std::uint8_t> stream(data + 3, size - 3);
  FuzzFramer(stream, seed);
  FuzzUpload(stream, seed, records);
  FuzzReplies(stream);
  return 0;
}
