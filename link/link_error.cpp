// The meaning of a system error for the link, and the plain words that tell the user why a
// port would not open or went away, with the remedy where there is one.
//
// Thread rule: pure, except for the reads of /proc and /etc/group that name a holder or a
// group.
#include "link/link_error.h"

#include <grp.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace {

// "gpsd" from /proc/PID/comm; empty when the process is gone.
std::string commandOf(long pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/comm");
  std::string name;
  std::getline(in, name);
  return name;
}

std::string holderText(long pid) {
  const std::string name = commandOf(pid);
  return (name.empty() ? std::string("a program") : name) + ", pid " + std::to_string(pid);
}

// The process holding an advisory lock (flock, as we and other serial tools take) on the
// device: /proc/locks names the pid and the inode.
long lockHolder(const struct stat& device) {
  std::ifstream locks("/proc/locks");
  for (std::string line; std::getline(locks, line);) {
    std::istringstream fields(line);
    std::string number, kind, mode, access, where;
    long pid = 0;
    if (!(fields >> number >> kind)) continue;
    if (kind == "->") fields >> kind;  // a waiter
    if (!(fields >> mode >> access >> pid >> where)) continue;
    // where: MAJOR:MINOR (hexadecimal) of the file system holding the node, then its inode.
    unsigned major = 0, minor = 0;
    unsigned long long inode = 0;
    if (std::sscanf(where.c_str(), "%x:%x:%llu", &major, &minor, &inode) != 3) continue;
    if (kind == "FLOCK" && inode == device.st_ino && major == ::major(device.st_dev) &&
        minor == ::minor(device.st_dev) && pid != ::getpid()) {
      return pid;
    }
  }
  return 0;
}

}  // namespace

LinkCause CauseOfErrno(int errorNumber) {
  switch (errorNumber) {
    case 0: return LinkCause::None;
    case ENOENT:
    case ENODEV:
    case ENXIO: return LinkCause::Missing;
    case EACCES:
    case EPERM: return LinkCause::Permission;
    case EBUSY:
    case EWOULDBLOCK: return LinkCause::Busy;
    case ENOTTY: return LinkCause::NotSerial;
    default: return LinkCause::Other;
  }
}

std::string DeviceHolder(const std::string& devicePath) {
  struct stat device {};
  if (::stat(devicePath.c_str(), &device) != 0) return {};
  if (const long pid = lockHolder(device); pid > 0) return holderText(pid);
  // No lock: look for any other process with the device open.
  std::error_code ec;
  const pid_t self = ::getpid();
  for (fs::directory_iterator proc("/proc", ec), end; !ec && proc != end; proc.increment(ec)) {
    const std::string name = proc->path().filename().string();
    if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
    const long pid = std::strtol(name.c_str(), nullptr, 10);
    if (pid == self) continue;
    std::error_code fdError;
    for (fs::directory_iterator fd(proc->path() / "fd", fdError), fdEnd; !fdError && fd != fdEnd;
         fd.increment(fdError)) {
      struct stat open {};
      if (::stat(fd->path().c_str(), &open) == 0 && open.st_rdev == device.st_rdev && S_ISCHR(open.st_mode) &&
          S_ISCHR(device.st_mode)) {
        return holderText(pid);
      }
    }
  }
  return {};
}

std::string ExplainDeviceFailure(LinkCause cause, const std::string& devicePath, const std::string& mapEntry,
                                 const std::string& detail) {
  switch (cause) {
    case LinkCause::Missing:
      if (!mapEntry.empty()) {
        return "The port map entry " + mapEntry + " points to " + devicePath + ", which does not exist.";
      }
      return devicePath + " does not exist: the receiver is not plugged in, or its device has another name.";
    case LinkCause::Permission: {
      struct stat device {};
      std::string group = "dialout";
      if (::stat(devicePath.c_str(), &device) == 0) {
        if (const struct group* owner = ::getgrgid(device.st_gid); owner != nullptr && owner->gr_name != nullptr) {
          group = owner->gr_name;
        }
      }
      return "You may not open " + devicePath + ": it belongs to the group " + group +
             ". Join the group with \"sudo usermod -aG " + group + " $USER\", then log out and in again.";
    }
    case LinkCause::Busy: {
      const std::string holder = DeviceHolder(devicePath);
      return devicePath + " is in use: " + (holder.empty() ? "another program has it open" : "held by " + holder) +
             ". Close that program, or choose another port.";
    }
    case LinkCause::NotSerial: return devicePath + " is not a serial device.";
    default: return detail.empty() ? std::string() : detail + ".";
  }
}

LinkError LinkLost(const std::string& devicePath, int errorNumber) {
  LinkError error;
  error.message = "Receiver lost";
  error.devicePath = devicePath;
  error.errorNumber = errorNumber;
  error.cause = LinkCause::Lost;
  // A hang-up, the end of the stream, and the errors of a device that is gone all mean the
  // same to the user.
  const bool removed = errorNumber == 0 || errorNumber == EIO || errorNumber == ENODEV || errorNumber == ENXIO;
  const std::string why = removed ? std::string("device removed") : std::strerror(errorNumber);
  error.detail = why;
  error.explanation = "Receiver lost: " + devicePath + " (" + why + ").";
  return error;
}
