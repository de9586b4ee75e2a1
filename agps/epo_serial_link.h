// The upload loop's port side on a serial port: what the window and the command-line tool
// both give the update flow as the line of their upload. Reads only what the port reports as
// waiting; a quiet turn waits at most about 1 ms for bytes (and wakes at once when they come,
// or when interrupt() is called). A stop flag of its own is for a loop run without the update
// flow, which otherwise adds its stop.
//
// Thread rule: used by the upload thread only; the stop flag may be set and interrupt() called
// from any thread (the disconnect step, a signal handler's flag); the flag is looked at once
// per turn.
#pragma once

#include <atomic>
#include <functional>
#include <string>

#include "agps/epo_upload.h"

class ByteStream;

class SerialEpoLink : public EpoLink {
 public:
  using ProgressFn = std::function<void(int percent, const std::string& text)>;

  explicit SerialEpoLink(ByteStream& port, const std::atomic<bool>* stop = nullptr, ProgressFn onProgress = {});

  void write(std::span<const std::uint8_t> bytes) override;
  long bytesWaiting() override;
  long read(std::span<std::uint8_t> buffer) override;
  void idle() override;
  bool stopRequested() override;
  void progress(int percent, const std::string& text) override;
  void interrupt() override;
  bool lost() const override { return lost_; }
  int lossErrorNumber() const override { return lossErrorNumber_; }

 private:
  void noteLoss();

  ByteStream& port_;
  const std::atomic<bool>* stop_;
  ProgressFn onProgress_;
  bool lost_ = false;
  int lossErrorNumber_ = 0;
};
