// The simulated receiver on a pseudo-terminal: the program opens the slave side as its
// serial port, one worker thread here owns the master side. Output is paced at the line
// speed of the receiver's baud rate (10 bits a byte) and written without blocking: what the
// line cannot take (nobody reading the port) is dropped, as a real receiver's output is.
// Input is paced the same way: bytes from the program reach the receiver no earlier than
// their line time after the bytes before them, so a reply never comes back before the
// command's last byte could have crossed the line.
// The line has a speed at each end: the receiver's own rate, and the rate the program set on
// the terminal (read here before every write and every read, so a change shows at once).
// When they differ, each side reads the other's bytes as a UART at the wrong rate would
// (sim/uart_garble.h): the program gets garbage, and its commands are not understood. The
// terminal starts at the receiver's rate, so a program that sets no rate reads it clean.
// Bytes from the program are read clean when its rate before the last wait or its rate now
// is the receiver's: which of the two carried them cannot be told on a pseudo-terminal.
// The slave side is also held open here, in raw mode, so the program can open and close it
// any number of times without hang-ups. The slave is registered as "comN" in the port map
// directory while the receiver runs.
// The receiver can be unplugged as a USB receiver is: the terminal goes away (the program's
// reads fail with a hang-up) and so does the port map entry; plugged in again it comes back
// as a new terminal under the same comN. A replay can wait for the program: it starts once
// a program has opened the port and purged it (the connect steps purge, which would
// otherwise drop the replay's first bytes), or a moment after an open without a purge.
//
// Thread rule: every public member may be called from any thread; the model behind it is
// guarded by one mutex. start() and stop() from one controlling thread. The worker thread is
// joined by stop() (and by the destructor).
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "sim/receiver_model.h"
#include "sim/uart_garble.h"

namespace sim {

struct SimOptions {
  ModelOptions model;
  int comNumber = 1;                   // registered as port map entry comN; 0: not registered
  std::string portMapDir;              // empty: the program's port map directory
  std::string recordPath;              // non-empty: every byte received from the program is written here
  std::string sentPath;                // non-empty: every byte the program's terminal took is written here
  bool pace = true;                    // false: no line-speed pacing either way (gaps of split writes still kept)
  bool keepLogs = true;                // keep received and sent bytes in memory for received()/sentBytes()
  bool replayWaitsForProgram = false;  // hold a replay until a program has opened the port
  // ... and purged it; a program that only opens gets it this long after the open (< 0:
  // only a purge releases it, for tests whose programs always purge, however slowly).
  int replayAfterOpenMs = 200;
  int unplugAfterMs = -1;  // unplugged this long after start (-1: never)
  int replugAfterMs = -1;  // plugged in again this long after an unplug (-1: stays out)
};

// Bytes that came from the program in one read, with their arrival time.
struct ReceivedChunk {
  std::int64_t atMs = 0;  // [ms] since start()
  std::string bytes;
};

class SimReceiver {
 public:
  explicit SimReceiver(SimOptions options);
  ~SimReceiver();
  SimReceiver(const SimReceiver&) = delete;
  SimReceiver& operator=(const SimReceiver&) = delete;

  // Opens the pseudo-terminal, registers it and starts the worker. On failure returns false
  // and says why in *error.
  bool start(std::string* error = nullptr);
  // Stops the worker, removes the port map entry (if it is still ours), closes everything.
  void stop();

  std::string slavePath() const;     // "/dev/pts/5"; a new one after each replug
  std::string portMapEntry() const;  // registered entry, empty when none

  // The terminal and its port map entry go away, as when a USB receiver is pulled out; the
  // model goes on and its output is lost. replug() brings a new terminal under the same
  // entry. Both return once done; false when it could not be done (already so, or no
  // terminal could be had: *error says why).
  bool unplug();
  bool replug(std::string* error = nullptr);
  bool plugged() const;
  // Opens of the port by programs since start (not counting the receiver's own).
  int programOpens() const;

  // What the program wrote, as it went on the line (the receiver's UART may have read it
  // otherwise: commands() says what it understood).
  std::vector<ReceivedChunk> received() const;
  std::string receivedBytes() const;
  // What reached the program (after faults, as the program's UART read it at its rate,
  // without dropped output).
  std::string sentBytes() const;
  // Bytes the terminal did not take (nobody read it and it was full).
  std::size_t droppedBytes() const;
  void clearLogs();
  // Binary packets and checked NMEA commands received, in order.
  std::vector<BinaryPacket> binaryPackets() const;
  std::vector<std::string> commands() const;
  bool binaryMode() const;
  std::uint32_t baud() const;
  // A replay without --loop has played its last line, the line is quiet again and the
  // program has read everything.
  bool replayFinished() const;

  // Runs fn on the model under its lock: change faults, flags, firmware text; read state.
  // fn must not call back into this object (the lock is not recursive).
  void withModel(const std::function<void(ReceiverModel&)>& fn);
  // Waits until condition() holds (checked after every turn of the worker) or timeoutMs
  // passes; condition may call the accessors above. Returns the last result.
  bool waitUntil(const std::function<bool()>& condition, int timeoutMs);

 private:
  void run();
  void wake();
  bool openTerminal(std::string* error);
  void closeTerminal();
  bool registerPort(std::string* error);
  void unregisterPort();
  std::int64_t elapsedUs() const;
  // Worker side of the plug changes and of the program's opens (under mutex_).
  void servePlugRequest();
  void noteTerminalEvents(std::int64_t nowUs);

  SimOptions options_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::unique_ptr<ReceiverModel> model_;
  std::deque<OutChunk> queue_;
  std::vector<ReceivedChunk> received_;
  std::string sent_;
  std::size_t dropped_ = 0;
  std::int64_t lineFreeAtUs_ = 0;
  std::uint32_t lineBaud_ = 115200;
  // The two UARTs at the ends of the line, for when the program's rate is not the receiver's.
  UartGarble toProgram_{1};
  UartGarble fromProgram_{2};

  int masterFd_ = -1;
  int slaveFd_ = -1;
  int openWatchFd_ = -1;  // inotify: opens and closes of the slave by programs
  int wakeFd_ = -1;
  enum class PlugRequest { None, Unplug, Replug };
  PlugRequest plugRequest_ = PlugRequest::None;
  bool plugRequestDone_ = false;
  std::string plugError_;
  bool plugged_ = false;
  std::int64_t unpluggedAtUs_ = -1;
  std::int64_t unplugWaitSinceUs_ = -1;     // an unplug waits for the program to read the line
  std::int64_t lastWriteUs_ = -1000000000;  // the last write to the terminal
  int programOpens_ = 0;
  int programsHolding_ = 0;       // programs that have the port open now
  std::int64_t openedAtUs_ = -1;  // a program opened the port; the replay waits for its purge
  std::FILE* record_ = nullptr;
  std::FILE* sentRecord_ = nullptr;
  std::string slavePath_;
  std::string entryPath_;
  std::thread worker_;
  std::atomic<bool> stopping_{false};
  std::int64_t startNs_ = 0;
};

}  // namespace sim
