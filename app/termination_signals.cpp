// Termination signals through a socket pair onto the window thread.
//
// Thread rule: the handler touches only a lock-free atomic and write(); the rest runs on
// the window thread.
#include "app/termination_signals.h"

#include <sys/socket.h>
#include <unistd.h>
#include <QSocketNotifier>
#include <cerrno>
#include <csignal>

namespace {

std::atomic<bool> gTerminationRequested{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the signal handler needs a lock-free flag");
int gSignalPipe[2] = {-1, -1};  // [0] read by the notifier, [1] written by the handler

extern "C" void onTerminationSignal(int signalNumber) {
  const int savedErrno = errno;  // the interrupted code may be about to read errno
  gTerminationRequested.store(true);
  const unsigned char byte = static_cast<unsigned char>(signalNumber);
  [[maybe_unused]] const ssize_t ignored = ::write(gSignalPipe[1], &byte, 1);
  errno = savedErrno;
}

}  // namespace

bool InstallTerminationSignals(QObject* context, std::function<void(int signalNumber)> reaction) {
  if (gSignalPipe[0] < 0 && ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, gSignalPipe) != 0) {
    return false;
  }
  auto* notifier = new QSocketNotifier(gSignalPipe[0], QSocketNotifier::Read, context);
  QObject::connect(notifier, &QSocketNotifier::activated, context, [reaction = std::move(reaction)] {
    unsigned char byte = 0;
    while (::read(gSignalPipe[0], &byte, 1) == 1) reaction(byte);
  });
  struct sigaction action {};
  action.sa_handler = onTerminationSignal;
  sigemptyset(&action.sa_mask);
  // Restarted system calls keep other libraries' blocking calls undisturbed; our own waits
  // for a stalled reader are poll() slices, which look at the flag whatever the flags say.
  action.sa_flags = SA_RESTART;
  bool installed = true;
  for (const int signalNumber : {SIGTERM, SIGINT, SIGHUP})
    installed = sigaction(signalNumber, &action, nullptr) == 0 && installed;
  // A log FIFO whose reader went away shows as a failed write, not as the end of the program.
  std::signal(SIGPIPE, SIG_IGN);
  return installed;
}

const std::atomic<bool>& TerminationRequested() { return gTerminationRequested; }
