// Port names: "ComN" and "\\.\ComN" to a device path, and the list of serial ports on
// this machine for the window's tooltips and the command-line tool.
//
// Resolution of ComN: first the port map directory (TORVIKEL_PORT_DIR, else
// ~/.config/torvikel/ports), whose entry "comN" is a symlink to the device or a file
// holding its path; otherwise the N-th serial port detected, in a stable order: USB and ACM
// devices, then Bluetooth rfcomm, then on-board ports that exist in hardware.
// An entry is the user's explicit choice: one that is empty, unreadable, a directory or a
// loop is an error that names it, never a reason to hand ComN to a detected device (a
// command would then go to hardware the user never chose).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "link/link_error.h"

struct DetectedPort {
  std::string devicePath;   // /dev/ttyUSB0
  std::string description;  // "FTDI FT232R USB UART", "pseudo-terminal (torvikel-sim)"...
};

// Strips an optional "\\.\" prefix, then scans "Com%d" (case-sensitive) as the window does.
std::optional<int> ComNumberOf(const std::string& portText);

// The port map directory in use.
std::string PortMapDirectory();

// Device path for port number n (1-based), or nullopt; fills description when given.
std::optional<std::string> ResolveComPort(int n, std::string* description = nullptr);

// How a port name led to a device, or why it led to none.
struct ResolvedPort {
  std::optional<std::string> devicePath;
  std::string description;
  std::string mapEntry;               // the port map entry that decided, when one exists
  LinkCause cause = LinkCause::None;  // no device: NoSuchPort, BadMapEntry or BadPortName
  std::string problem;                // ... in plain words, for the user
};

// ComN (or "\\.\ComN"), or a device path when allowDevicePath is set, with the reason
// when it leads to no device.
ResolvedPort ResolvePort(const std::string& portText, bool allowDevicePath);

// Com1 ... Com<count> at once, element n-1 for ComN (devicePath empty when ComN resolves to
// nothing), with one scan of the devices for all of them rather than one for each.
std::vector<ResolvedPort> ResolveComPorts(int count);

// For "--port": ComN as the window takes it, or a device path given directly.
std::optional<std::string> ResolvePortText(const std::string& portText, std::string* description = nullptr);

// The same over other roots, so tests can point detection at a fake /dev and
// /sys/class/tty tree and resolution at a temporary port map directory.
struct PortRoots {
  std::string devDir = "/dev";
  std::string sysClassTtyDir = "/sys/class/tty";
  std::string mapDir;  // empty: PortMapDirectory()
};
std::vector<DetectedPort> DetectSerialPortsIn(const PortRoots& roots);
std::optional<std::string> ResolveComPortIn(const PortRoots& roots, int n, std::string* description = nullptr);
ResolvedPort ResolvePortIn(const PortRoots& roots, const std::string& portText, bool allowDevicePath);
std::vector<ResolvedPort> ResolveComPortsIn(const PortRoots& roots, int count);
