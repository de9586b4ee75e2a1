// Ending the window on SIGTERM, SIGINT and SIGHUP the way closing it ends it. A logout, a
// service manager or Ctrl-C in the terminal that started the program must not leave the
// receiver in binary mode at 115200 in the middle of an upload, the log unclosed or the
// port held. The handler itself only sets a flag and writes one byte into a socket pair; a
// notifier on the window thread reads it and runs the reaction there.
//
// Thread rule: install on the window thread, once the window exists; the reaction runs on
// the thread of the context object. TerminationRequested() may be read from any thread.
#pragma once

#include <QObject>
#include <atomic>
#include <functional>

// Installs the handlers; reaction(signalNumber) runs on context's thread for each signal.
// False when the socket pair or a handler could not be set up (the program then simply
// ends as the signal's default action says).
bool InstallTerminationSignals(QObject* context, std::function<void(int signalNumber)> reaction);

// Set by the first termination signal; a write waiting for a stalled reader looks at it.
const std::atomic<bool>& TerminationRequested();
