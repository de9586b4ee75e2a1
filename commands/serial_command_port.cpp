// Writing commands to the receiver's port and pausing between them.
//
// Thread rule: the calling thread writes and sleeps; nothing is shared.
#include "commands/serial_command_port.h"

#include <chrono>
#include <thread>

#include "link/byte_stream.h"

void SerialCommandPort::write(const void* data, std::size_t size) {
  const char* bytes = static_cast<const char*>(data);
  std::size_t written = 0;
  while (written < size) {
    const long result = port_.write(bytes + written, size - written);
    if (result <= 0) return;  // port gone or write time-out: the command is lost
    written += static_cast<std::size_t>(result);
  }
}

void SerialCommandPort::pauseMs(int ms) {
  if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}
