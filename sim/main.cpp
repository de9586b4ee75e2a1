// torvikel-sim: a simulated MediaTek receiver on a pseudo-terminal, for trying the program
// without hardware and as the peer of the integration tests. Options: torvikel-sim --help.
//
// Thread rule: the termination signals are blocked in every thread and taken by the main
// thread with sigtimedwait(), so the port map entry is removed on Ctrl-C and SIGTERM.
#include <signal.h>

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "sim/sim_arguments.h"
#include "sim/sim_receiver.h"
#include "torvikel/version.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  sim::SimCommandLine cmd;
  std::string error;
  if (!sim::ParseSimArguments(args, cmd, error)) {
    std::cerr << "torvikel-sim: " << error << "\n";
    return 2;
  }
  if (cmd.help) {
    std::cout << sim::SimUsage();
    return 0;
  }
  if (cmd.version) {
    std::cout << "torvikel-sim " TORVIKEL_VERSION "\n";
    return 0;
  }
  if (!cmd.replayPath.empty()) {
    std::ifstream in(cmd.replayPath, std::ios::binary);
    if (!in) {
      std::cerr << "torvikel-sim: cannot read " << cmd.replayPath << "\n";
      return 1;
    }
    std::ostringstream text;
    text << in.rdbuf();
    cmd.options.model.replayLines = sim::ReadCaptureLines(text.str());
    if (cmd.options.model.replayLines.empty()) {
      std::cerr << "torvikel-sim: " << cmd.replayPath << " holds no sentence\n";
      return 1;
    }
  }
  cmd.options.keepLogs = false;  // a long session must not grow; --record keeps what came in

  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  sigaddset(&stopSignals, SIGHUP);
  sigaddset(&stopSignals, SIGUSR1);                   // not a stop: pulls the receiver out, or plugs it in again
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);  // before the worker starts: it inherits the mask
  signal(SIGPIPE, SIG_IGN);

  sim::SimReceiver receiver(cmd.options);
  if (!receiver.start(&error)) {
    std::cerr << "torvikel-sim: " << error << "\n";
    return 1;
  }
  const auto sayReady = [&] {
    std::cout << "torvikel-sim ready: " << receiver.slavePath();
    if (!receiver.portMapEntry().empty()) std::cout << " registered as " << receiver.portMapEntry();
    std::cout << ", " << cmd.options.model.baud << " baud" << std::endl;
  };
  sayReady();

  const timespec tick{0, 200 * 1000 * 1000};
  bool plugged = true;
  for (;;) {
    const int sig = sigtimedwait(&stopSignals, nullptr, &tick);
    if (sig == SIGUSR1) {
      if (plugged) {
        receiver.unplug();
      } else if (!receiver.replug(&error)) {
        std::cerr << "torvikel-sim: cannot plug in again: " << error << "\n";
      }
    } else if (sig > 0) {
      break;
    } else if (sig < 0 && errno != EAGAIN && errno != EINTR) {
      break;
    }
    // Changes by the timers of --unplug-after and --replug-after show here too.
    if (receiver.plugged() != plugged) {
      plugged = !plugged;
      if (plugged) {
        sayReady();
      } else {
        std::cout << "torvikel-sim unplugged" << std::endl;
      }
    }
    if (cmd.exitAtEnd && receiver.replayFinished()) break;
  }
  receiver.stop();
  return 0;
}
