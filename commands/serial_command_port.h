// CommandPort over an open byte stream (a serial line, or a tcp:// receiver): what the window
// and the command-line tool send commands through. Pauses sleep the calling thread.
//
// Thread rule: used by the one thread that sends commands; the port's reader may run in
// another thread at the same time (a ByteStream allows one reader and one writer).
#pragma once

#include "commands/command_framing.h"

class ByteStream;

class SerialCommandPort : public CommandPort {
 public:
  explicit SerialCommandPort(ByteStream& port) : port_(port) {}
  // One write; if the driver takes only part of it, the rest follows at once, so a command
  // never goes out cut short. A failing port drops the command silently, as the receiver
  // simply does not answer then.
  void write(const void* data, std::size_t size) override;
  void pauseMs(int ms) override;

 private:
  ByteStream& port_;
};
