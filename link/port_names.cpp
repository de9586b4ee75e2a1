// Port names: turns the window's "ComN" into a Linux device. A user's own port map wins
// (an entry "comN" that is a symlink to the device or a file holding its path); otherwise
// the N-th serial port found in /dev, in an order that does not change between runs: USB
// serial (ttyUSB), USB modems (ttyACM), Bluetooth (rfcomm), then on-board UARTs that really
// exist. The kernel creates ttyS0..ttyS31 whether or not a UART is behind them; those
// phantoms report UART type 0 in sysfs and are skipped, as other Linux serial tools do.
//
// Thread rule: no shared state; every call reads the file system afresh (once per call, even
// when it resolves many names).
#include "link/port_names.h"

#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "link/network_names.h"
#include "link/number_text.h"

namespace fs = std::filesystem;

namespace {

// Device families in detection order.
struct Family {
  const char* prefix;
  const char* genericDescription;
};
constexpr Family kFamilies[] = {
    {"ttyUSB", "USB serial port"},
    {"ttyACM", "USB modem (ACM)"},
    {"rfcomm", "Bluetooth RFCOMM"},
    {"ttyS", "on-board serial port"},
};

std::string trim(const std::string& text) {
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && IsCSpace(text[begin])) ++begin;
  while (end > begin && IsCSpace(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

// First line of a small sysfs attribute, trimmed; empty when absent.
std::string readAttribute(const fs::path& path) {
  std::ifstream in(path);
  std::string line;
  if (!in || !std::getline(in, line)) return {};
  return trim(line);
}

// Number behind the family prefix ("ttyUSB12" -> 12), or -1 when the rest is not all digits.
long suffixNumber(const std::string& name, const std::string& prefix) {
  if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0) return -1;
  long value = 0;
  for (std::size_t i = prefix.size(); i < name.size(); ++i) {
    const char c = name[i];
    if (c < '0' || c > '9' || value > 100000) return -1;
    value = value * 10 + (c - '0');
  }
  return value;
}

// An on-board port exists in hardware when its UART type is known (type 0 is "no UART"), or,
// for drivers without that attribute, when a driver is bound to its device.
bool onBoardPortExists(const fs::path& sysTty) {
  std::error_code ec;
  const std::string type = readAttribute(sysTty / "type");
  if (!type.empty()) return AtolOf(type) != 0;
  return fs::exists(sysTty / "device" / "driver", ec);
}

// "Manufacturer Product (vid:pid)" from the USB device that owns the tty: the first ancestor
// of the tty's device directory that carries USB descriptor strings.
std::string usbDescription(const fs::path& sysTty) {
  std::error_code ec;
  fs::path dir = fs::canonical(sysTty / "device", ec);
  if (ec) return {};
  for (int depth = 0; depth < 5 && !dir.empty() && dir != dir.root_path(); ++depth, dir = dir.parent_path()) {
    const std::string product = readAttribute(dir / "product");
    const std::string manufacturer = readAttribute(dir / "manufacturer");
    const std::string vendorId = readAttribute(dir / "idVendor");
    if (product.empty() && manufacturer.empty() && vendorId.empty()) continue;
    std::string text = manufacturer;
    if (!product.empty()) text += (text.empty() ? "" : " ") + product;
    const std::string productId = readAttribute(dir / "idProduct");
    if (!vendorId.empty() && !productId.empty()) {
      text += (text.empty() ? "" : " ") + std::string("(") + vendorId + ":" + productId + ")";
    }
    return text;
  }
  return {};
}

std::string describe(const PortRoots& roots, const Family& family, const std::string& name) {
  if (std::string(family.prefix) == "ttyUSB" || std::string(family.prefix) == "ttyACM") {
    const std::string usb = usbDescription(fs::path(roots.sysClassTtyDir) / name);
    if (!usb.empty()) return usb;
  }
  return family.genericDescription;
}

std::string homeDirectory() {
  if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') return home;
  // The reentrant look-up: the window's connect worker may resolve a name meanwhile.
  std::vector<char> buffer(16384);
  passwd record{};
  passwd* pw = nullptr;
  if (::getpwuid_r(::getuid(), &record, buffer.data(), buffer.size(), &pw) == 0 && pw != nullptr &&
      pw->pw_dir != nullptr)
    return pw->pw_dir;
  return ".";
}

// What a port map entry says: nothing (no entry), a device path (a symlink's target, relative
// to the directory when relative, or the trimmed first line of a regular file), or a problem
// that makes it unusable.
struct EntryLookup {
  bool exists = false;
  std::string target;   // the device path, when usable
  std::string problem;  // why it is not, in plain words
};

EntryLookup lookUpEntry(const fs::path& entry) {
  EntryLookup lookup;
  std::error_code ec;
  const fs::file_status status = fs::symlink_status(entry, ec);
  if (ec && ec != std::errc::no_such_file_or_directory) {
    lookup.exists = true;
    lookup.problem = "The port map entry " + entry.string() + " cannot be read (" + ec.message() + ").";
    return lookup;
  }
  if (ec || !fs::exists(status)) return lookup;
  lookup.exists = true;
  if (fs::is_symlink(status)) {
    fs::path target = fs::read_symlink(entry, ec);
    // A dangling link is fine (the device is missing, which the open then says); a loop is not.
    std::error_code follow;
    [[maybe_unused]] const fs::file_status followed = fs::status(entry, follow);
    if (ec || target.empty() || follow == std::errc::too_many_symbolic_link_levels) {
      lookup.problem = "The port map entry " + entry.string() + " is a loop of symbolic links.";
      return lookup;
    }
    // A link may hold a network receiver's address (ln -s tcp://roof.local:4001 com3) as well.
    if (IsNetworkPortName(target.string())) {
      lookup.target = target.string();
      return lookup;
    }
    if (target.is_relative()) target = entry.parent_path() / target;
    lookup.target = target.lexically_normal().string();
    return lookup;
  }
  if (fs::is_regular_file(status)) {
    std::ifstream in(entry);
    if (!in) {
      lookup.problem = "The port map entry " + entry.string() + " cannot be read (" + std::strerror(errno) + ").";
      return lookup;
    }
    std::string line;
    std::getline(in, line);
    lookup.target = trim(line);
    if (lookup.target.empty()) {
      lookup.problem = "The port map entry " + entry.string() +
                       " is empty: it should be a link to the device or hold its path, such as /dev/ttyUSB0.";
    }
    return lookup;
  }
  if (fs::is_directory(status)) {
    lookup.problem = "The port map entry " + entry.string() +
                     " is a directory, not a link to the device or a file holding its path.";
    return lookup;
  }
  lookup.problem =
      "The port map entry " + entry.string() + " is neither a link to the device nor a file holding its path.";
  return lookup;
}

bool samePath(const std::string& a, const std::string& b) {
  std::error_code ec1;
  std::error_code ec2;
  const fs::path ca = fs::weakly_canonical(a, ec1);
  const fs::path cb = fs::weakly_canonical(b, ec2);
  return !ec1 && !ec2 && ca == cb;
}

// The detected ports of one resolution call: scanned on first use, then shared by every name
// the call resolves.
class Detection {
 public:
  explicit Detection(const PortRoots& roots) : roots_(roots) {}
  const std::vector<DetectedPort>& ports() {
    if (!ports_) ports_ = DetectSerialPortsIn(roots_);
    return *ports_;
  }

 private:
  const PortRoots& roots_;
  std::optional<std::vector<DetectedPort>> ports_;
};

// What a device path is, for a port map entry's description.
std::string describeDevice(const PortRoots& roots, Detection& detection, const std::string& devicePath) {
  if (IsNetworkPortName(devicePath)) return NetworkDescription(devicePath);
  for (const DetectedPort& port : detection.ports()) {
    if (samePath(port.devicePath, devicePath)) return port.description;
  }
  std::error_code ec;
  if (!fs::exists(devicePath, ec)) return "missing device";
  const fs::path canonical = fs::weakly_canonical(devicePath, ec);
  if (!ec && canonical.parent_path() == fs::weakly_canonical(fs::path(roots.devDir) / "pts", ec)) {
    return "pseudo-terminal";
  }
  return "serial device";
}

}  // namespace

std::optional<int> ComNumberOf(const std::string& portText) {
  static const std::string kDevicePrefix = "\\\\.\\";
  std::string text = portText;
  if (text.compare(0, kDevicePrefix.size(), kDevicePrefix) == 0) text.erase(0, kDevicePrefix.size());
  // The scan the window applies ("Com%d"): literal "Com", then one decimal number as %d reads
  // it (blanks and a sign allowed); what follows the number is not looked at.
  if (!text.starts_with("Com")) return std::nullopt;
  const DecimalScan scan = ScanDecimal(text, 3);
  if (!scan.digits) return std::nullopt;
  return static_cast<int>(std::clamp<long>(scan.value, INT_MIN, INT_MAX));
}

std::string PortMapDirectory() {
  if (const char* dir = std::getenv("TORVIKEL_PORT_DIR"); dir != nullptr && *dir != '\0') return dir;
  return homeDirectory() + "/.config/torvikel/ports";
}

std::vector<DetectedPort> DetectSerialPortsIn(const PortRoots& roots) {
  std::vector<DetectedPort> ports;
  std::error_code ec;
  std::vector<std::string> names;
  for (fs::directory_iterator it(roots.devDir, ec), end; !ec && it != end; it.increment(ec)) {
    names.push_back(it->path().filename().string());
  }
  for (const Family& family : kFamilies) {
    std::vector<std::pair<long, std::string>> members;
    for (const std::string& name : names) {
      const long number = suffixNumber(name, family.prefix);
      if (number >= 0) members.emplace_back(number, name);
    }
    std::sort(members.begin(), members.end());
    for (const auto& member : members) {
      const std::string& name = member.second;
      if (std::string(family.prefix) == "ttyS" && !onBoardPortExists(fs::path(roots.sysClassTtyDir) / name)) continue;
      ports.push_back({(fs::path(roots.devDir) / name).string(), describe(roots, family, name)});
    }
  }
  return ports;
}

namespace {

// ComN through the port map, else the detected ports.
ResolvedPort resolveComPort(const PortRoots& roots, Detection& detection, int n) {
  ResolvedPort port;
  if (n < 1) {
    port.cause = LinkCause::NoSuchPort;
    port.problem = "There is no serial port number " + std::to_string(n) + ".";
    return port;
  }
  const fs::path mapDir = roots.mapDir.empty() ? fs::path(PortMapDirectory()) : fs::path(roots.mapDir);
  const fs::path entry = mapDir / ("com" + std::to_string(n));
  // An entry is the user's explicit choice: it wins even when its device is missing (the
  // open then fails), rather than silently handing ComN to some other device.
  const EntryLookup lookup = lookUpEntry(entry);
  if (lookup.exists) {
    port.mapEntry = entry.string();
    if (!lookup.problem.empty()) {
      port.cause = LinkCause::BadMapEntry;
      port.problem = lookup.problem;
      return port;
    }
    port.devicePath = lookup.target;
    port.description = describeDevice(roots, detection, lookup.target) + ", from port map entry " + entry.string();
    return port;
  }
  const std::vector<DetectedPort>& ports = detection.ports();
  if (static_cast<std::size_t>(n) > ports.size()) {
    std::string found;
    for (const DetectedPort& detected : ports) found += (found.empty() ? "" : ", ") + detected.devicePath;
    port.cause = LinkCause::NoSuchPort;
    port.problem = "There is no port map entry com" + std::to_string(n) + " and no serial port number " +
                   std::to_string(n) + " (found: " + (found.empty() ? std::string("none") : found) + ").";
    return port;
  }
  const DetectedPort& detected = ports[static_cast<std::size_t>(n) - 1];
  port.devicePath = detected.devicePath;
  port.description = detected.description;
  return port;
}

}  // namespace

ResolvedPort ResolvePortIn(const PortRoots& roots, const std::string& portText, bool allowDevicePath) {
  Detection detection(roots);
  if (allowDevicePath && !portText.empty() && (portText.front() == '/' || IsNetworkPortName(portText))) {
    ResolvedPort port;
    port.devicePath = portText;
    port.description = describeDevice(roots, detection, portText);
    return port;
  }
  const std::optional<int> n = ComNumberOf(portText);
  if (!n) {
    ResolvedPort port;
    port.cause = LinkCause::BadPortName;
    port.problem =
        "\"" + portText + "\" is no port name: use Com1 ... Com99" +
        (allowDevicePath
             ? std::string(", a device path such as /dev/ttyUSB0, tcp://HOST:PORT or gpsd://HOST[:PORT][/DEVICE].")
             : std::string("."));
    return port;
  }
  return resolveComPort(roots, detection, *n);
}

ResolvedPort ResolvePort(const std::string& portText, bool allowDevicePath) {
  return ResolvePortIn(PortRoots{}, portText, allowDevicePath);
}

std::optional<std::string> ResolveComPortIn(const PortRoots& roots, int n, std::string* description) {
  Detection detection(roots);
  ResolvedPort port = resolveComPort(roots, detection, n);
  if (description != nullptr) *description = port.description;
  return port.devicePath;
}

std::vector<ResolvedPort> ResolveComPortsIn(const PortRoots& roots, int count) {
  Detection detection(roots);
  std::vector<ResolvedPort> resolved;
  resolved.reserve(static_cast<std::size_t>(std::max(0, count)));
  for (int n = 1; n <= count; ++n) resolved.push_back(resolveComPort(roots, detection, n));
  return resolved;
}

std::vector<ResolvedPort> ResolveComPorts(int count) { return ResolveComPortsIn(PortRoots{}, count); }

std::optional<std::string> ResolveComPort(int n, std::string* description) {
  return ResolveComPortIn(PortRoots{}, n, description);
}

std::optional<std::string> ResolvePortText(const std::string& portText, std::string* description) {
  ResolvedPort port = ResolvePort(portText, /*allowDevicePath=*/true);
  if (description != nullptr) *description = port.description;
  return port.devicePath;
}
