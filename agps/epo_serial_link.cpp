// SerialEpoLink: the upload loop's reads, writes and pauses on a SerialPort.
//
// Thread rule: the upload thread only.
#include "agps/epo_serial_link.h"

#include <chrono>
#include <thread>

#include "link/serial_port.h"

SerialEpoLink::SerialEpoLink(SerialPort& port, const std::atomic<bool>& stop, ProgressFn onProgress)
    : port_(port), stop_(stop), onProgress_(std::move(onProgress)) {}

void SerialEpoLink::write(std::span<const std::uint8_t> bytes) {
  // A lost packet shows as a missing acknowledgement; the upload does not check writes.
  port_.write(bytes.data(), bytes.size());
}

long SerialEpoLink::bytesWaiting() { return port_.bytesQueued(); }

long SerialEpoLink::read(std::span<std::uint8_t> buffer) { return port_.read(buffer.data(), buffer.size()); }

void SerialEpoLink::idle() {
  // Wakes as soon as bytes arrive. A port in trouble reports "readable" at once with nothing
  // to read; then pause the full millisecond so the loop never spins.
  if (port_.waitReadable(1) && port_.bytesQueued() <= 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

bool SerialEpoLink::stopRequested() { return stop_.load(); }

void SerialEpoLink::progress(int percent, const std::string& text) {
  if (onProgress_) onProgress_(percent, text);
}
