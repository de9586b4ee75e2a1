// Shared pieces of the command-line tool: signals, messages, option parsing.
//
// Thread rule: the signal handler only stores into a lock-free atomic; the rest runs on the
// main thread.
#include "cli/cli_common.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "link/number_text.h"

namespace {

std::atomic<bool> gStop{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the signal handler needs a lock-free flag");

extern "C" void onStopSignal(int) { gStop.store(true); }

}  // namespace

std::atomic<bool>& StopRequested() { return gStop; }

void InstallStopSignals() {
  struct sigaction action {};
  action.sa_handler = onStopSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;  // no SA_RESTART: a blocking call returns early and the loop looks at the flag
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  // A closed stdout pipe or log FIFO shows as a failed write (EPIPE), which ends the command
  // cleanly.
  std::signal(SIGPIPE, SIG_IGN);
}

std::string OneLine(std::string_view text) {
  std::string line;
  line.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\r' || c == '\n') {
      // A run of line-break characters becomes one blank, and none where a blank is already.
      while (i + 1 < text.size() && (text[i + 1] == '\r' || text[i + 1] == '\n')) ++i;
      if (!line.empty() && line.back() != ' ' && i + 1 < text.size() && text[i + 1] != ' ') line.push_back(' ');
      continue;
    }
    line.push_back(c);
  }
  while (!line.empty() && line.back() == ' ') line.pop_back();
  return line;
}

namespace {

// Our own non-blocking descriptors for standard output and error, opened on first use (the
// inherited ones are shared with the shell and keep their blocking mode).
int OutputDescriptor(int inherited) {
  static const int out = OpenNonBlockingWriter(STDOUT_FILENO);
  static const int err = OpenNonBlockingWriter(STDERR_FILENO);
  return inherited == STDOUT_FILENO ? out : err;
}

WriteEnd gLastOutputEnd = WriteEnd::Done;

}  // namespace

void PrintError(std::string_view message) {
  const std::string line = std::string(kProgramName) + ": " + OneLine(message) + "\n";
  WriteAllBytes(OutputDescriptor(STDERR_FILENO), line.data(), line.size(), {&gStop, -1});
}

bool StdoutIsTerminal() { return ::isatty(STDOUT_FILENO) == 1; }

bool WriteOut(std::string_view text) {
  gLastOutputEnd = WriteAllBytes(OutputDescriptor(STDOUT_FILENO), text.data(), text.size(), {&gStop, -1}).end;
  return gLastOutputEnd == WriteEnd::Done;
}

WriteEnd LastOutputEnd() { return gLastOutputEnd; }

std::optional<ParsedArgs> ParseArgs(const std::vector<std::string>& args, const std::vector<OptionDef>& defs,
                                    std::string* error) {
  ParsedArgs parsed;
  bool optionsEnded = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    // A one-letter option ("-o") is an option only where the command has it: elsewhere a
    // "-" text stays an argument as it always was.
    const bool shortOption =
        !optionsEnded && arg.size() == 2 && arg[0] == '-' &&
        std::any_of(defs.begin(), defs.end(), [&arg](const OptionDef& d) { return d.name == arg; });
    if (!shortOption && (optionsEnded || arg.size() < 2 || arg.compare(0, 2, "--") != 0)) {
      parsed.positional.push_back(arg);
      continue;
    }
    if (arg == "--") {
      optionsEnded = true;
      continue;
    }
    const std::size_t equals = arg.find('=');
    const std::string name = arg.substr(0, equals);
    const OptionDef* def = nullptr;
    for (const OptionDef& s : defs) {
      if (s.name == name) def = &s;
    }
    if (def == nullptr) {
      *error = "unknown option " + name;
      return std::nullopt;
    }
    if (!def->takesValue) {
      if (equals != std::string::npos) {
        *error = name + " takes no value";
        return std::nullopt;
      }
      parsed.flags.insert(name);
      continue;
    }
    if (equals != std::string::npos) {
      parsed.values[name] = arg.substr(equals + 1);
    } else if (i + 1 < args.size()) {
      parsed.values[name] = args[++i];
    } else {
      *error = name + " needs a value";
      return std::nullopt;
    }
  }
  return parsed;
}

void PrintLinkError(const LinkError& error) {
  // One line: the step's own text, then why in plain words (a loss is its own sentence).
  if (error.cause == LinkCause::Lost) {
    PrintError(error.explanation);
  } else {
    PrintError(error.explanation.empty() ? error.message : error.message + " " + error.explanation);
  }
}

std::string SecondsText(double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%g s", seconds);
  return text;
}

std::optional<double> ParseSeconds(const std::string& text) {
  const std::string_view number(text.c_str());  // a NUL byte ends the value, as for strtod
  const FloatScan scan = ScanFloat(number);
  if (scan.outOfRange || scan.end == 0 || scan.end != number.size()) return std::nullopt;
  if (!(scan.value > 0) || scan.value > 86400) return std::nullopt;
  return scan.value;
}

int UsageError(std::string_view command, std::string_view message) {
  std::string hint = std::string(kProgramName);
  if (!command.empty()) hint += " " + std::string(command);
  PrintError(std::string(message) + " (see " + hint + " --help)");
  return kExitUsage;
}

bool WriteFileWhole(const std::string& path, const std::string& text, std::string* why) {
  const std::string part = path + ".part-" + std::to_string(::getpid());
  const int fd = ::open(part.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) {
    *why = "cannot create " + part + " (" + std::strerror(errno) + ")";
    return false;
  }
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      *why = "cannot write " + part + " (" + std::strerror(errno) + ")";
      ::close(fd);
      ::unlink(part.c_str());
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  if (::fsync(fd) != 0 || ::close(fd) != 0) {
    *why = "cannot write " + part + " (" + std::strerror(errno) + ")";
    ::unlink(part.c_str());
    return false;
  }
  if (::rename(part.c_str(), path.c_str()) != 0) {
    *why = "cannot rename " + part + " to " + path + " (" + std::strerror(errno) + ")";
    ::unlink(part.c_str());
    return false;
  }
  return true;
}
