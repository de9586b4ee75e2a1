// The steps of an assisted-GPS update, in their order, with the stop looked at between them.
//
// Thread rule: the caller's thread only.
#include "agps/epo_update.h"

#include <cstdio>
#include <thread>
#include <utility>

#include "agps/epo_packets.h"

namespace {

void writeTurn(EpoLink& link, const EpoTurn& turn) {
  for (std::size_t i = 0; i < turn.writeCount; ++i) link.write(turn.writes[i]);
}

}  // namespace

std::uint32_t EpoRateAfterModePacket(std::uint32_t requestedBaud) {
  EpoModePacket packet{};
  EpoBuildModePacket(requestedBaud, packet);
  const std::uint32_t carried = static_cast<std::uint32_t>(packet[7]) | (static_cast<std::uint32_t>(packet[8]) << 8) |
                                (static_cast<std::uint32_t>(packet[9]) << 16) |
                                (static_cast<std::uint32_t>(packet[10]) << 24);
  return carried != 0 ? carried : kEpoUploadBaudRate;
}

EpoUpdateResult RunEpoUpdateFlow(EpoUpdateSide& side, const EpoUpdateOptions& options) {
  EpoUpdateResult result;
  result.path = options.file;
  if (result.path.empty()) {
    side.downloading();
    const EpoDownloadResult download = EpoDownload(options.download);
    if (!download.ok) {
      // The download leaves no file behind on any failure.
      result.detail = download.detail;
      result.stopped = side.stopRequested();
      if (!result.stopped) side.refused(EpoUpdateStep::Download, result.detail);
      return result;
    }
    result.path = download.localPath;
  }
  // From here the file exists; the caller's choice decides whether it goes once the update is
  // over, on every path except a refused check.
  const auto finish = [&](EpoUpdateStep step, bool stopped) {
    result.step = step;
    result.stopped = stopped;
    if (options.deleteFile) std::remove(result.path.c_str());
    return result;
  };

  result.step = EpoUpdateStep::Check;
  if (side.stopRequested()) return finish(EpoUpdateStep::Check, true);
  EpoFilePtr file = EpoOpenFile(result.path, &result.detail);
  if (!file) {
    side.refused(EpoUpdateStep::Check, result.detail);
    return result;
  }
  side.fileAccepted(result.path, EpoPacketCount(file.get()));

  if (side.stopRequested()) {
    file.reset();
    return finish(EpoUpdateStep::Switch, true);
  }
  EpoLink* link = side.switchToBinary(options.switchSettle);
  if (link == nullptr) {
    file.reset();
    return finish(EpoUpdateStep::Switch, side.stopRequested());
  }

  // The rate the output-mode packet was built for: the hand-back follows the receiver there.
  std::uint32_t askedBaud = kEpoUploadBaudRate;
  EpoUploadOptions uploadOptions;
  uploadOptions.endingBaudRate = [&side, &askedBaud] {
    askedBaud = side.nmeaBaudRate();
    return askedBaud;
  };
  EpoUpload upload(std::move(file), std::move(uploadOptions));
  // A stop during the switch still finds the receiver switched: it is handed back below.
  const EpoEnding ending = side.stopRequested() ? EpoEnding::None : RunEpoUpload(upload, *link);
  if (ending == EpoEnding::None) {
    if (link->lost()) {
      result.lost = true;
      result.lossErrorNumber = link->lossErrorNumber();
    } else {
      writeTurn(*link, upload.abandon());
      std::this_thread::sleep_for(kEpoModePacketSettle);
    }
    result.ending = EpoEnding::Abandoned;
    return finish(EpoUpdateStep::Upload, true);
  }
  result.ending = ending;
  std::this_thread::sleep_for(kEpoModePacketSettle);  // the ending wrote the output-mode packet
  finish(EpoUpdateStep::Upload, false);
  const EpoEndingTexts texts = EpoEndingTextsFor(ending);
  side.ended(ending, texts);
  // Nothing follows a stop that came while the ending was shown.
  if (side.stopRequested()) return result;
  side.handBack(texts, EpoRateAfterModePacket(askedBaud));
  return result;
}
