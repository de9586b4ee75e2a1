// Decisions of the EPO upload: when the binary exchange has begun, when the next packet may
// go, how each reply moves the state, and the endings with the packets they write.
//
// Thread rule: an EpoUpload and RunEpoUpload run on the upload thread only.
#include "agps/epo_upload.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr std::uint8_t kDollar = 0x24;

bool beginsWith(std::span<const std::uint8_t> text, const char* prefix) {
  const std::size_t n = std::strlen(prefix);
  if (text.size() < n) return false;
  return std::memcmp(text.data(), prefix, n) == 0;
}

// True when text is shorter than prefix and equal to its beginning.
bool cutShortOf(std::span<const std::uint8_t> text, const char* prefix) {
  const std::size_t n = std::strlen(prefix);
  return text.size() < n && std::memcmp(text.data(), prefix, text.size()) == 0;
}

// The information boxes' title, and the label of every ending but completion.
constexpr const char* kMessageTitle = "AGPS Message";
constexpr const char* kFailedLabel = "Update Failed!";

}  // namespace

// The receiver still talks NMEA when the first "$" of the chunk (looking no further than its
// first zero byte) starts "$GP" or "$PMTK"; any other "$" means binary output has begun.
// A "$" whose text the chunk cuts short while it still reads like "$GP" or "$PMTK" ("$",
// "$G", "$PM" ...) decides nothing yet: the next chunk completes it.
EpoWaitVerdict EpoWaitTest(std::span<const std::uint8_t> chunk) {
  const auto zero = std::find(chunk.begin(), chunk.end(), std::uint8_t{0});
  const auto dollar = std::find(chunk.begin(), zero, kDollar);
  if (dollar == zero) return EpoWaitVerdict::NoDollar;
  const std::span<const std::uint8_t> text(dollar, zero);
  if (beginsWith(text, "$GP") || beginsWith(text, "$PMTK")) return EpoWaitVerdict::Nmea;
  if (zero == chunk.end() && (cutShortOf(text, "$GP") || cutShortOf(text, "$PMTK"))) return EpoWaitVerdict::Undecided;
  return EpoWaitVerdict::Binary;
}

EpoEndingTexts EpoEndingTextsFor(EpoEnding ending) {
  switch (ending) {
    case EpoEnding::Completed: return {"Update completed.", kMessageTitle, "Update Success", false};
    case EpoEnding::Failed: return {"ACK Failed,Please Try Again!.", kMessageTitle, kFailedLabel, false};
    case EpoEnding::Rejected: return {"Action Fail,Plaese try again!", "", kFailedLabel, true};
    case EpoEnding::FileShort: return {kEpoCannotOpenFileMessage, "", kFailedLabel, true};
    case EpoEnding::Abandoned: return {"Update stopped.", kMessageTitle, kFailedLabel, false};
    case EpoEnding::None: break;
  }
  return {};
}

std::string EpoProgressText(int percent) {
  return "Updating now... " + std::to_string(percent) + " %\n" + kEpoCableWarning + " \nwhen updating EPO data";
}

EpoUpload::EpoUpload(EpoFilePtr file, EpoUploadOptions options) : file_(std::move(file)), options_(std::move(options)) {
  state_.epoTotalPackets = EpoPacketCount(file_.get());  // leaves the file at its first byte
  state_.epoPacketsLeft = state_.epoTotalPackets;
  EpoBuildModePacket(kEpoUploadBaudRate, modePacket_);
}

EpoUpload::~EpoUpload() = default;

EpoTurn EpoUpload::end(EpoEnding ending, bool sendClosingPacket) {
  EpoTurn turn;
  if (sendClosingPacket) {
    EpoBuildEndPacket(epoPacket_);
    turn.writes[turn.writeCount++] = epoPacket_;
  }
  state_.epoParseBinary = false;
  file_.reset();
  state_.epoNextSeq = 0;
  state_.epoBinaryActive = false;
  state_.epoUploadRunning = false;
  const std::uint32_t baudRate = options_.endingBaudRate ? options_.endingBaudRate() : kEpoUploadBaudRate;
  EpoBuildModePacket(baudRate, modePacket_);
  turn.writes[turn.writeCount++] = modePacket_;
  if (ending == EpoEnding::Failed) state_.epoAckCountdown = kEpoAckCountdownStart;
  if (ending != EpoEnding::Completed && ending != EpoEnding::Failed) state_.epoSendState = 0;
  ending_ = ending;
  turn.ending = ending;
  return turn;
}

EpoTurn EpoUpload::beginTurn() {
  if (finished()) return {};
  if (decided_ != EpoEnding::None) return end(decided_, false);
  if (!state_.epoBinaryActive) return {};
  EpoTurn turn;
  if (state_.epoPacketsLeft > 0 && state_.epoSendState == 1) {
    if (!EpoReadPacket(state_.epoNextSeq, file_.get(), epoPacket_)) {
      // Checked at the start, yet shorter now: waiting would never end, so give the port back.
      return end(EpoEnding::FileShort, false);
    }
    state_.epoSendState = 3;
    turn.writes[turn.writeCount++] = epoPacket_;
    ++state_.epoNextSeq;
    --state_.epoPacketsLeft;
    const int total = state_.epoTotalPackets;
    turn.progressChanged = true;
    turn.percent = (total - state_.epoPacketsLeft) * 100 / total;
    turn.progressText = EpoProgressText(turn.percent);
  } else if (state_.epoPacketsLeft == 0 && state_.epoSendState == 1) {
    return end(EpoEnding::Completed, true);
  }
  return turn;
}

EpoTurn EpoUpload::abandon() {
  if (finished()) return {};
  return end(EpoEnding::Abandoned, false);
}

bool EpoUpload::onReply(const EpoReply& reply) {
  switch (reply.kind) {
    case EpoReplyKind::ModeAck:
      if (reply.accepted) {
        // Releases a stopped upload, but never a second packet while one awaits its
        // acknowledgement: that acknowledgement would then name the packet before the one
        // sent last and end the upload as rejected. This happens whenever the mode
        // acknowledgement that opens the binary exchange arrives in two reads.
        if (state_.epoSendState != 3) state_.epoSendState = 1;
        state_.epoAckCountdown = kEpoAckCountdownStart;
      } else {
        state_.epoSendState = 0;
      }
      return true;
    case EpoReplyKind::EpoAck:
      if (reply.accepted && reply.seq == static_cast<std::uint16_t>(state_.epoNextSeq - 1u)) {
        state_.epoSendState = 1;
        state_.epoAckCountdown = kEpoAckCountdownStart;
        return true;
      }
      if (state_.epoPacketsLeft > 0) {
        state_.epoSendState = 0;
        decided_ = EpoEnding::Rejected;
        return false;
      }
      return true;  // after the last packet only its own accepted acknowledgement counts
    case EpoReplyKind::CorruptAck:
      state_.epoSendState = 0;
      decided_ = EpoEnding::Rejected;
      return false;
    case EpoReplyKind::OtherPacket:
      // The fifth in a row decides the failure here and now: an acknowledgement later in the
      // same read must not undo it, or the ending would depend on how the bytes were read.
      if (state_.epoAckCountdown > 0) --state_.epoAckCountdown;
      if (state_.epoAckCountdown > 0) return true;
      decided_ = EpoEnding::Failed;
      return false;
    case EpoReplyKind::Ignored: return true;
  }
  return true;
}

void EpoUpload::feed(std::span<const std::uint8_t> chunk) {
  if (finished() || decided_ != EpoEnding::None || chunk.empty()) return;
  std::span<const std::uint8_t> data = chunk;
  if (state_.epoWaitBinary) {
    if (!waitCarry_.empty()) {
      waitCarry_.insert(waitCarry_.end(), chunk.begin(), chunk.end());
      data = waitCarry_;
    }
    switch (EpoWaitTest(data)) {
      case EpoWaitVerdict::Undecided:
        if (waitCarry_.empty()) waitCarry_.assign(chunk.begin(), chunk.end());
        return;
      case EpoWaitVerdict::Binary:
        state_.epoParseBinary = true;
        state_.epoBinaryActive = true;
        state_.epoWaitBinary = false;
        state_.epoAckCountdown = kEpoAckCountdownStart;
        break;
      case EpoWaitVerdict::Nmea:
      case EpoWaitVerdict::NoDollar: break;
    }
  }
  if (state_.epoParseBinary) {
    framer_.feed(data, [this](std::span<const std::uint8_t>, const EpoReply& reply) { return onReply(reply); });
  }
  // Otherwise still NMEA: dropped unread.
  waitCarry_.clear();
}

EpoEnding RunEpoUpload(EpoUpload& upload, EpoLink& link) {
  std::array<std::uint8_t, kEpoReadBytes> buffer{};
  for (;;) {
    EpoTurn turn = upload.beginTurn();
    for (std::size_t i = 0; i < turn.writeCount; ++i) link.write(turn.writes[i]);
    if (turn.progressChanged) link.progress(turn.percent, turn.progressText);
    if (turn.ending != EpoEnding::None) return turn.ending;
    const long waiting = link.bytesWaiting();
    if (waiting <= 0) {
      link.idle();
    } else {
      const std::size_t want = std::min<std::size_t>(static_cast<std::size_t>(waiting), buffer.size());
      const long got = link.read(std::span<std::uint8_t>(buffer.data(), want));
      if (got > 0) {
        upload.feed(
            std::span<const std::uint8_t>(buffer.data(), std::min<std::size_t>(static_cast<std::size_t>(got), want)));
      }
    }
    if (link.stopRequested()) return EpoEnding::None;
  }
}
