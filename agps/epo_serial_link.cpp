// SerialEpoLink: the upload loop's reads, writes and pauses on the receiver's serial line.
//
// Thread rule: the upload thread only.
#include "agps/epo_serial_link.h"

#include <chrono>
#include <thread>

#include "link/byte_stream.h"

SerialEpoLink::SerialEpoLink(ByteStream& port, const std::atomic<bool>* stop, ProgressFn onProgress)
    : port_(port), stop_(stop), onProgress_(std::move(onProgress)) {}

void SerialEpoLink::write(std::span<const std::uint8_t> bytes) {
  // A lost packet shows as a missing acknowledgement; the upload does not check writes. A
  // device that is gone takes nothing more.
  if (lost_) return;
  port_.write(bytes.data(), bytes.size());
}

long SerialEpoLink::bytesWaiting() {
  const long queued = port_.bytesQueued();
  if (queued < 0) noteLoss();
  return queued;
}

long SerialEpoLink::read(std::span<std::uint8_t> buffer) {
  const long got = port_.read(buffer.data(), buffer.size());
  if (got < 0) noteLoss();
  return got;
}

void SerialEpoLink::idle() {
  // Wakes as soon as bytes arrive. A port that reports "readable" with nothing to read is
  // either gone (the upload then stops) or in trouble; then pause the full millisecond so the
  // loop never spins.
  if (port_.waitReadable(1) && port_.bytesQueued() <= 0) {
    if (port_.lineGone()) {
      noteLoss();
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

void SerialEpoLink::noteLoss() {
  if (lost_) return;
  lost_ = true;
  lossErrorNumber_ = port_.lastErrorNumber();
}

bool SerialEpoLink::stopRequested() { return lost_ || (stop_ != nullptr && stop_->load()); }

void SerialEpoLink::progress(int percent, const std::string& text) {
  if (onProgress_) onProgress_(percent, text);
}

void SerialEpoLink::interrupt() { port_.interrupt(); }
