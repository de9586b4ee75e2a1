// The meaning of a system error for the link, and the plain words that tell the user why a
// port would not open or went away, with the remedy where there is one.
//
// Thread rule: pure, except for the reads of /proc, /sys and the user and group databases
// that name a holder, a group or a device's USB ids.
#include "link/link_error.h"

#include <grp.h>
#include <pwd.h>
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
#include <utility>
#include <vector>

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

// The group and user records, copied out of the reentrant look-ups: several ports may be
// explained at once on threads of their own, and getgrgid's and getpwuid's records are
// shared by every thread of the process.
struct GroupRecord {
  bool found = false;
  gid_t gid = 0;
  std::string name;
  std::vector<std::string> members;
};
struct UserRecord {
  bool found = false;
  gid_t gid = 0;
  std::string name;
};

// Calls lookup(record, buffer, size, &result) with a buffer that grows while it is too small,
// and copy(record) while the buffer the record's texts point into still lives.
template <typename Record, typename Lookup, typename Copy>
void LookUp(Lookup lookup, Copy copy) {
  std::vector<char> buffer(1024);
  Record record{};
  Record* result = nullptr;
  for (;;) {
    const int error = lookup(&record, buffer.data(), buffer.size(), &result);
    if (error == ERANGE && buffer.size() < (1u << 20)) {
      buffer.resize(buffer.size() * 4);
      continue;
    }
    if (error == 0 && result != nullptr) copy(record);
    return;
  }
}

GroupRecord CopyOf(const struct group& g) {
  GroupRecord r{true, g.gr_gid, g.gr_name != nullptr ? g.gr_name : "", {}};
  for (char** member = g.gr_mem; member != nullptr && *member != nullptr; ++member) r.members.emplace_back(*member);
  return r;
}

GroupRecord GroupById(gid_t gid) {
  GroupRecord r;
  LookUp<struct group>([gid](struct group* into, char* buffer, std::size_t size,
                             struct group** result) { return ::getgrgid_r(gid, into, buffer, size, result); },
                       [&r](const struct group& g) { r = CopyOf(g); });
  return r;
}

GroupRecord GroupByName(const char* name) {
  GroupRecord r;
  LookUp<struct group>([name](struct group* into, char* buffer, std::size_t size,
                              struct group** result) { return ::getgrnam_r(name, into, buffer, size, result); },
                       [&r](const struct group& g) { r = CopyOf(g); });
  return r;
}

UserRecord UserById(uid_t uid) {
  UserRecord r;
  LookUp<struct passwd>([uid](struct passwd* into, char* buffer, std::size_t size,
                              struct passwd** result) { return ::getpwuid_r(uid, into, buffer, size, result); },
                        [&r](const struct passwd& p) {
                          r = {true, p.pw_gid, p.pw_name != nullptr ? p.pw_name : ""};
                        });
  return r;
}

// Whether this user is listed in the group (or has it as the primary group) in the group
// database: a user added to a group holds it only from the next login on.
bool listedIn(const GroupRecord& g) {
  if (g.gid == ::getgid()) return true;
  const UserRecord me = UserById(::getuid());
  if (!me.found || me.name.empty()) return false;
  if (me.gid == g.gid) return true;
  for (const std::string& member : g.members) {
    if (member == me.name) return true;
  }
  return false;
}

// The USB vendor and product of a tty from sysfs ("067b", "2303"); empty for devices that
// have none (a pseudo-terminal, a built-in UART).
std::pair<std::string, std::string> usbIdsOf(const std::string& devicePath) {
  std::error_code ec;
  const fs::path name = fs::path(devicePath).filename();
  fs::path at = fs::canonical(fs::path("/sys/class/tty") / name / "device", ec);
  for (int up = 0; !ec && up < 4 && !at.empty() && at != at.root_path(); ++up, at = at.parent_path()) {
    std::ifstream vendor(at / "idVendor");
    std::ifstream product(at / "idProduct");
    std::string v;
    std::string p;
    if (vendor && product && std::getline(vendor, v) && std::getline(product, p) && !v.empty() && !p.empty()) {
      return {v, p};
    }
  }
  return {};
}

// Why this user may not open the device, from its owner, group and mode bits, and the remedy
// that fits: joining a group helps only when that group may read and write the device, and
// never for the superuser's group (gid 0), whose other rights are not the user's to take.
std::string ExplainPermission(const std::string& devicePath) {
  struct stat device {};
  if (::stat(devicePath.c_str(), &device) != 0) return "You may not open " + devicePath + ".";
  const GroupRecord owningGroup = GroupById(device.st_gid);
  const std::string group =
      owningGroup.found && !owningGroup.name.empty() ? owningGroup.name : std::to_string(device.st_gid);
  const bool groupMayUse = (device.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP);
  if (groupMayUse && device.st_gid != 0) {
    if (owningGroup.found && listedIn(owningGroup)) {
      return "You may not open " + devicePath + " yet: it belongs to the group " + group +
             ", which you joined after this session began. Log out and in again.";
    }
    return "You may not open " + devicePath + ": it belongs to the group " + group +
           ". Join the group with \"sudo usermod -aG " + group + " $USER\", then log out and in again.";
  }
  const UserRecord owner = UserById(device.st_uid);
  const std::string ownerName = owner.found && !owner.name.empty() ? owner.name : std::to_string(device.st_uid);
  char mode[8];
  std::snprintf(mode, sizeof mode, "%03o", static_cast<unsigned>(device.st_mode & 0777));
  const std::string why =
      groupMayUse ? "it belongs to the group " + group + ", which is not one to join (mode " + std::string(mode) + ")"
                  : "only its owner " + ownerName + " may read and write it (mode " + std::string(mode) + ")";
  const GroupRecord dialout = GroupByName("dialout");
  const std::string target = dialout.found ? "dialout" : "a group of yours";
  const bool mustJoin = dialout.found && !listedIn(dialout);
  const auto [vendor, product] = usbIdsOf(devicePath);
  const std::string match = vendor.empty()
                                ? "KERNEL==\"" + fs::path(devicePath).filename().string() + "\""
                                : "ATTRS{idVendor}==\"" + vendor + "\", ATTRS{idProduct}==\"" + product + "\"";
  return "You may not open " + devicePath + ": " + why + ". Let udev give it to " + target +
         " with a line such as SUBSYSTEM==\"tty\", " + match + ", GROUP=\"" +
         (target == "dialout" ? target : std::string("GROUP")) + "\", MODE=\"0660\" in " +
         "/etc/udev/rules.d/99-gps-receiver.rules, then plug the receiver in again" +
         (mustJoin ? std::string("; join dialout too (\"sudo usermod -aG dialout $USER\", then log out and in again).")
                   : std::string("."));
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
    case LinkCause::Permission: return ExplainPermission(devicePath);
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
  // A network receiver's end of the stream is its peer closing the connection; a device that
  // its gpsd reports gone is removed as a local one is.
  const bool network = devicePath.find("://") != std::string::npos;
  const std::string why = network && errorNumber == 0 ? std::string("connection closed")
                          : removed                   ? std::string("device removed")
                                                      : std::strerror(errorNumber);
  error.detail = why;
  error.explanation = "Receiver lost: " + devicePath + " (" + why + ").";
  return error;
}
