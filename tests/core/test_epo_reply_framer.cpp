// The reply scanner: packets cut at 04 24 ... 0D 0A whatever the read boundaries, restarts,
// overlong packets, and the stop of a scan.
#include <gtest/gtest.h>

#include "agps/epo_packets.h"
#include "tests/core/test_epo_support.h"

using epotest::Bytes;
using epotest::Concat;

namespace {

struct Seen {
  Bytes packet;
  EpoReplyKind kind;
  bool accepted;
  std::uint16_t seq;
  bool operator==(const Seen&) const = default;
};

std::vector<Seen> FeedInChunks(ReplyFramer& framer, const Bytes& stream, const std::vector<std::size_t>& cuts) {
  std::vector<Seen> seen;
  auto sink = [&](std::span<const std::uint8_t> packet, const EpoReply& reply) {
    seen.push_back({Bytes(packet.begin(), packet.end()), reply.kind, reply.accepted, reply.seq});
    return true;
  };
  std::size_t from = 0;
  for (std::size_t cut : cuts) {
    framer.feed(std::span<const std::uint8_t>(stream.data() + from, cut - from), sink);
    from = cut;
  }
  framer.feed(std::span<const std::uint8_t>(stream.data() + from, stream.size() - from), sink);
  return seen;
}

std::vector<Seen> FeedWhole(const Bytes& stream) {
  ReplyFramer framer;
  return FeedInChunks(framer, stream, {});
}

// EPO ack of seq 0x040D: its payload holds 0D not followed by 0A and 04 not followed by 24.
const Bytes kTrickyAck = {0x04, 0x24, 0x0C, 0x00, 0x02, 0x00, 0x0D, 0x04, 0x01, 0x06, 0x0D, 0x0A};

// A stream with every kind of reply, noise between them, a lone 04 and a lone 0D 0A.
Bytes MixedStream() {
  return Concat({epotest::TextBytes("$GPGGA,noise"),
                 {0x04},
                 epotest::ModeAckBytes(3),
                 {0x0D, 0x0A, 0x00, 0x55},
                 epotest::EpoAckBytes(1, 1),
                 kTrickyAck,
                 epotest::OtherPacketBytes(),
                 {0x24, 0x04},
                 epotest::EpoAckBytes(2, 0),
                 {0x0D},
                 epotest::AckBytes(1, 300, 3),
                 {0x02, 0x00, 0x01, 0x00, 0x01}});
}

TEST(ReplyFramer, FindsEachPacketOfAStreamInOrder) {
  const std::vector<Seen> seen = FeedWhole(MixedStream());
  ASSERT_EQ(seen.size(), 6u);
  const struct {
    const char* legend;
    Bytes packet;
    EpoReplyKind kind;
    bool accepted;
    std::uint16_t seq;
  } expected[] = {
      {"mode ack", epotest::ModeAckBytes(3), EpoReplyKind::ModeAck, true, 0},
      {"ack of seq 1", epotest::EpoAckBytes(1, 1), EpoReplyKind::EpoAck, true, 1},
      {"ack with 0D and 04 inside", kTrickyAck, EpoReplyKind::EpoAck, true, 0x040D},
      {"14-byte packet", epotest::OtherPacketBytes(), EpoReplyKind::OtherPacket, false, 0},
      {"rejection of seq 2", epotest::EpoAckBytes(2, 0), EpoReplyKind::EpoAck, false, 2},
      {"ack of command 300", epotest::AckBytes(1, 300, 3), EpoReplyKind::Ignored, false, 0},
  };
  for (std::size_t i = 0; i < seen.size(); ++i) {
    EXPECT_EQ(seen[i].packet, expected[i].packet) << expected[i].legend;
    EXPECT_EQ(seen[i].kind, expected[i].kind) << expected[i].legend;
    EXPECT_EQ(seen[i].accepted, expected[i].accepted) << expected[i].legend;
    if (expected[i].kind == EpoReplyKind::EpoAck) {
      EXPECT_EQ(seen[i].seq, expected[i].seq) << expected[i].legend;
    }
  }
}

TEST(ReplyFramer, EverySplitPointGivesTheSamePackets) {
  const Bytes stream = MixedStream();
  const std::vector<Seen> whole = FeedWhole(stream);
  for (std::size_t cut = 0; cut <= stream.size(); ++cut) {
    ReplyFramer framer;
    EXPECT_EQ(FeedInChunks(framer, stream, {cut}), whole) << "split after byte " << cut;
  }
}

TEST(ReplyFramer, EveryPairOfSplitPointsGivesTheSamePackets) {
  const Bytes stream = MixedStream();
  const std::vector<Seen> whole = FeedWhole(stream);
  for (std::size_t a = 0; a <= stream.size(); ++a) {
    for (std::size_t b = a; b <= stream.size(); ++b) {
      ReplyFramer framer;
      ASSERT_EQ(FeedInChunks(framer, stream, {a, b}), whole) << "splits after bytes " << a << " and " << b;
    }
  }
}

TEST(ReplyFramer, FixedChunkSizesGiveTheSamePackets) {
  const Bytes stream = MixedStream();
  const std::vector<Seen> whole = FeedWhole(stream);
  for (std::size_t size : {1u, 2u, 3u, 7u, 11u, 12u, 13u}) {
    std::vector<std::size_t> cuts;
    for (std::size_t at = size; at < stream.size(); at += size) cuts.push_back(at);
    ReplyFramer framer;
    EXPECT_EQ(FeedInChunks(framer, stream, cuts), whole) << size << "-byte chunks";
  }
}

TEST(ReplyFramer, SplitPairsAreRecognised) {
  const Bytes ack = epotest::EpoAckBytes(3);
  const struct {
    const char* legend;
    Bytes first;
    Bytes second;
  } rows[] = {
      {"end marker split 0D | 0A", Bytes(ack.begin(), ack.end() - 1), {0x0A}},
      {"start pair split 04 | 24", {0x04}, Bytes(ack.begin() + 1, ack.end())},
  };
  for (const auto& row : rows) {
    ReplyFramer framer;
    int acks = 0;
    auto sink = [&](std::span<const std::uint8_t>, const EpoReply& reply) {
      acks += reply.kind == EpoReplyKind::EpoAck && reply.seq == 3 && reply.accepted;
      return true;
    };
    framer.feed(row.first, sink);
    EXPECT_EQ(acks, 0) << row.legend << ": not before its last byte";
    EXPECT_TRUE(framer.holdsCarryByte()) << row.legend;
    framer.feed(row.second, sink);
    EXPECT_EQ(acks, 1) << row.legend;
  }
}

TEST(ReplyFramer, SplitEndMarkerDoesNotGlueTwoAcknowledgementsTogether) {
  const Bytes first = epotest::EpoAckBytes(7);
  const Bytes second = epotest::EpoAckBytes(8);
  ReplyFramer framer;
  std::vector<std::uint16_t> seqs;
  auto sink = [&](std::span<const std::uint8_t>, const EpoReply& reply) {
    if (reply.kind == EpoReplyKind::EpoAck) seqs.push_back(reply.seq);
    return true;
  };
  framer.feed(Bytes(first.begin(), first.end() - 1), sink);
  framer.feed(Concat({{0x0A}, second}), sink);
  EXPECT_EQ(seqs, (std::vector<std::uint16_t>{7, 8}));
}

TEST(ReplyFramer, StartPairInsideAPacketRestartsIt) {
  // A packet cut short by a new start: the earlier bytes are lost, the new one counts.
  const Bytes stream = Concat({{0x04, 0x24, 0x0C, 0x00, 0x02}, epotest::EpoAckBytes(9)});
  ReplyFramer framer;
  const std::vector<Seen> seen = FeedInChunks(framer, stream, {});
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].packet, epotest::EpoAckBytes(9));
  EXPECT_EQ(framer.droppedPackets(), 1u);
}

TEST(ReplyFramer, OverlongPacketsAreDroppedAndTheScannerHuntsAgain) {
  const struct {
    const char* legend;
    std::size_t filler;  // bytes between 04 24 and 0D 0A
    bool delivered;
  } rows[] = {
      {"256 bytes in all: the longest kept", 252, true},
      {"257 bytes in all: dropped", 253, false},
      {"a run of 300 bytes without end: dropped", 300, false},
      {"a run of 5000 bytes without end: dropped", 5000, false},
  };
  for (const auto& row : rows) {
    const Bytes stream = Concat({{0x04, 0x24}, Bytes(row.filler, 0x55), {0x0D, 0x0A}, epotest::EpoAckBytes(4)});
    for (std::size_t chunk : {stream.size(), std::size_t{7}}) {
      std::vector<std::size_t> cuts;
      for (std::size_t at = chunk; at < stream.size(); at += chunk) cuts.push_back(at);
      ReplyFramer framer;
      const std::vector<Seen> seen = FeedInChunks(framer, stream, cuts);
      ASSERT_EQ(seen.size(), row.delivered ? 2u : 1u) << row.legend;
      if (row.delivered) {
        EXPECT_EQ(seen[0].packet.size(), 256u) << row.legend;
        EXPECT_EQ(seen[0].kind, EpoReplyKind::OtherPacket) << row.legend;
      }
      EXPECT_EQ(seen.back().packet, epotest::EpoAckBytes(4)) << row.legend << ": the next packet is found";
      EXPECT_EQ(framer.replyState(), 0) << row.legend;
      EXPECT_EQ(framer.replyLength(), 0u) << row.legend;
    }
  }
}

TEST(ReplyFramer, BufferIsClearedAfterEveryPacket) {
  ReplyFramer framer;
  framer.feed(epotest::Concat({epotest::OtherPacketBytes(), {0x04, 0x24, 0x0C}}), nullptr);
  EXPECT_EQ(framer.replyState(), 1);
  EXPECT_EQ(framer.replyLength(), 3u);
  framer.feed(Bytes{0x00, 0x02, 0x00, 0x01, 0x00, 0x01, 0x0E, 0x0D, 0x0A}, nullptr);
  EXPECT_EQ(framer.replyState(), 0);
  EXPECT_EQ(framer.replyLength(), 0u);
  for (std::uint8_t b : framer.replyBuffer()) ASSERT_EQ(b, 0);
}

TEST(ReplyFramer, SinkCanStopTheScanOfAChunk) {
  const Bytes stream = Concat({epotest::EpoAckBytes(1), epotest::EpoAckBytes(2)});
  ReplyFramer framer;
  int calls = 0;
  const bool completed = framer.feed(stream, [&](std::span<const std::uint8_t>, const EpoReply&) {
    ++calls;
    return false;
  });
  EXPECT_FALSE(completed);
  EXPECT_EQ(calls, 1);
}

TEST(ReplyFramer, NoiseAloneGivesNothing) {
  const Bytes rows[] = {
      epotest::TextBytes("$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*6A\r\n"),
      Bytes(64, 0x00),
      {0x0D, 0x0A, 0x0D, 0x0A},
      {0x24, 0x04, 0x0A, 0x0D},
  };
  for (const Bytes& row : rows) EXPECT_TRUE(FeedWhole(row).empty());
}

}  // namespace
