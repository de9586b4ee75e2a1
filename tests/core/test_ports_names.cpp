// Port names against a fake /dev and /sys/class/tty tree and a temporary port map directory:
// the scan of "ComN", detection order, phantom on-board ports, USB descriptions, and port map
// entries (symlink, file, missing).
//
// Thread rule: single-threaded; each test builds its own temporary tree.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "link/port_names.h"

namespace fs = std::filesystem;

namespace {

class FakeTree {
 public:
  FakeTree() {
    char pattern[] = "/tmp/torvikel-ports-XXXXXX";
    root_ = ::mkdtemp(pattern);
    fs::create_directories(root_ / "dev" / "pts");
    fs::create_directories(root_ / "sys" / "class" / "tty");
    fs::create_directories(root_ / "map");
  }
  ~FakeTree() {
    std::error_code ec;
    fs::remove_all(root_, ec);
  }
  PortRoots roots() const {
    PortRoots r;
    r.devDir = (root_ / "dev").string();
    r.sysClassTtyDir = (root_ / "sys" / "class" / "tty").string();
    r.mapDir = (root_ / "map").string();
    return r;
  }
  std::string dev(const std::string& name) const { return (root_ / "dev" / name).string(); }
  fs::path map() const { return root_ / "map"; }

  void addDevice(const std::string& name) const { std::ofstream(root_ / "dev" / name) << ""; }
  // An on-board port with its UART type (0: the kernel's phantom entry).
  void addOnBoard(const std::string& name, int uartType) const {
    addDevice(name);
    const fs::path tty = root_ / "sys" / "class" / "tty" / name;
    fs::create_directories(tty);
    std::ofstream(tty / "type") << uartType << "\n";
  }
  // A USB serial port whose USB device carries descriptor strings, in the kernel's layout:
  // usb device dir / interface dir / tty's device link.
  void addUsb(const std::string& name, const std::string& manufacturer, const std::string& product,
              const std::string& vid, const std::string& pid) const {
    addDevice(name);
    const fs::path usbDevice = root_ / "sys" / "devices" / ("usb-" + name);
    const fs::path interface = usbDevice / "1-1:1.0";
    const fs::path portDir = interface / name;
    fs::create_directories(portDir);
    if (!manufacturer.empty()) std::ofstream(usbDevice / "manufacturer") << manufacturer << "\n";
    if (!product.empty()) std::ofstream(usbDevice / "product") << product << "\n";
    if (!vid.empty()) std::ofstream(usbDevice / "idVendor") << vid << "\n";
    if (!pid.empty()) std::ofstream(usbDevice / "idProduct") << pid << "\n";
    const fs::path tty = root_ / "sys" / "class" / "tty" / name;
    fs::create_directories(tty);
    fs::create_directory_symlink(portDir, tty / "device");
  }

 private:
  fs::path root_;
};

TEST(PortNames, ComNumberScan) {
  struct Row {
    const char* legend;
    std::string text;
    std::optional<int> number;
  };
  const std::vector<Row> rows = {
      {"plain", "Com1", 1},
      {"two digits", "Com10", 10},
      {"device prefix", "\\\\.\\Com10", 10},
      {"device prefix on a small number", "\\\\.\\Com5", 5},
      {"capitals are refused", "COM5", std::nullopt},
      {"lower case is refused", "com5", std::nullopt},
      {"no number", "Com", std::nullopt},
      {"letters after Com", "Comx", std::nullopt},
      {"trailing text is not looked at", "Com7abc", 7},
      {"zero scans (the open then fails)", "Com0", 0},
      {"half a prefix", "\\\\Com3", std::nullopt},
      {"empty", "", std::nullopt},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.legend);
    EXPECT_EQ(ComNumberOf(row.text), row.number);
  }
}

TEST(PortNames, DetectionOrderAndPhantomPorts) {
  FakeTree tree;
  tree.addOnBoard("ttyS0", 4);   // 16550A
  tree.addOnBoard("ttyS1", 0);   // phantom
  tree.addOnBoard("ttyS10", 0);  // phantom
  tree.addOnBoard("ttyS2", 4);
  tree.addDevice("ttyS3");  // no sysfs entry at all: not known to exist
  tree.addDevice("rfcomm0");
  tree.addDevice("ttyACM0");
  tree.addDevice("ttyUSB10");
  tree.addDevice("ttyUSB2");
  tree.addDevice("ttyUSB0");
  tree.addDevice("ttyUSBx");  // not a numbered device
  tree.addDevice("tty0");
  tree.addDevice("console");

  const std::vector<DetectedPort> ports = DetectSerialPortsIn(tree.roots());
  std::vector<std::string> paths;
  for (const DetectedPort& port : ports) paths.push_back(port.devicePath);
  const std::vector<std::string> expected = {
      tree.dev("ttyUSB0"), tree.dev("ttyUSB2"), tree.dev("ttyUSB10"), tree.dev("ttyACM0"),
      tree.dev("rfcomm0"), tree.dev("ttyS0"),   tree.dev("ttyS2"),
  };
  EXPECT_EQ(paths, expected);
}

TEST(PortNames, Descriptions) {
  FakeTree tree;
  tree.addUsb("ttyUSB0", "Prolific Technology Inc.", "USB-Serial Controller", "067b", "2303");
  tree.addUsb("ttyUSB1", "", "", "", "");  // no descriptor strings
  tree.addUsb("ttyACM0", "", "u-blox GNSS receiver", "1546", "01a8");
  tree.addDevice("rfcomm3");
  tree.addOnBoard("ttyS0", 4);
  struct Row {
    const char* legend;
    std::string path;
    std::string description;
  };
  const std::vector<Row> rows = {
      {"USB strings and ids", tree.dev("ttyUSB0"), "Prolific Technology Inc. USB-Serial Controller (067b:2303)"},
      {"USB without strings", tree.dev("ttyUSB1"), "USB serial port"},
      {"ACM product only", tree.dev("ttyACM0"), "u-blox GNSS receiver (1546:01a8)"},
      {"Bluetooth", tree.dev("rfcomm3"), "Bluetooth RFCOMM"},
      {"on-board", tree.dev("ttyS0"), "on-board serial port"},
  };
  const std::vector<DetectedPort> ports = DetectSerialPortsIn(tree.roots());
  ASSERT_EQ(ports.size(), rows.size());
  for (std::size_t i = 0; i < rows.size(); ++i) {
    SCOPED_TRACE(rows[i].legend);
    EXPECT_EQ(ports[i].devicePath, rows[i].path);
    EXPECT_EQ(ports[i].description, rows[i].description);
  }
}

TEST(PortNames, ResolutionByMapEntryAndDetection) {
  FakeTree tree;
  tree.addUsb("ttyUSB0", "FTDI", "FT232R USB UART", "0403", "6001");
  tree.addDevice("ttyUSB1");
  tree.addDevice("pts/7");
  fs::create_symlink(tree.dev("pts/7"), tree.map() / "com1");                   // symlink entry
  std::ofstream(tree.map() / "com10") << "  " << tree.dev("ttyUSB1") << " \n";  // file entry
  fs::create_symlink("../dev/ttyUSB0", tree.map() / "com5");                    // relative symlink
  fs::create_symlink(tree.dev("ttyUSB9"), tree.map() / "com4");                 // device missing
  std::ofstream(tree.map() / "com3") << "\n";                                   // empty file: no entry

  struct Row {
    const char* legend;
    int n;
    std::optional<std::string> path;
    std::string descriptionStart;
  };
  const std::vector<Row> rows = {
      {"symlink to a pseudo-terminal", 1, tree.dev("pts/7"), "pseudo-terminal, from port map entry"},
      {"file holding a path, blanks trimmed", 10, tree.dev("ttyUSB1"), "USB serial port, from port map entry"},
      {"relative symlink resolves against the map", 5, (tree.map() / "../dev/ttyUSB0").lexically_normal().string(),
       "FTDI FT232R USB UART (0403:6001), from port map entry"},
      {"an entry wins even when its device is gone", 4, tree.dev("ttyUSB9"), "missing device, from port map entry"},
      {"no entry: first detected port", 2, tree.dev("ttyUSB1"), "USB serial port"},
      {"empty file entry falls back to detection", 3, std::nullopt, ""},
      {"beyond the detected ports", 6, std::nullopt, ""},
      {"zero", 0, std::nullopt, ""},
      {"negative", -1, std::nullopt, ""},
  };
  // The whole list at once (the window's tooltips) must say what each name alone says.
  const std::vector<ResolvedPort> all = ResolveComPortsIn(tree.roots(), 10);
  ASSERT_EQ(all.size(), 10u);
  for (const Row& row : rows) {
    SCOPED_TRACE(row.legend);
    std::string description = "unchanged";
    const std::optional<std::string> path = ResolveComPortIn(tree.roots(), row.n, &description);
    EXPECT_EQ(path, row.path);
    if (row.path) {
      EXPECT_EQ(description.rfind(row.descriptionStart, 0), 0u) << description;
    }
    if (row.n >= 1 && row.n <= 10) {
      const ResolvedPort& listed = all[static_cast<std::size_t>(row.n) - 1];
      EXPECT_EQ(listed.devicePath, row.path);
      EXPECT_EQ(listed.description, row.path ? description : std::string());
    }
  }
}

TEST(PortNames, MapDirectoryFromEnvironment) {
  const char* saved = std::getenv("TORVIKEL_PORT_DIR");
  const std::string savedValue = saved != nullptr ? saved : "";
  ::setenv("TORVIKEL_PORT_DIR", "/tmp/some-map", 1);
  EXPECT_EQ(PortMapDirectory(), "/tmp/some-map");
  ::setenv("TORVIKEL_PORT_DIR", "", 1);
  const std::string home = std::getenv("HOME") != nullptr ? std::getenv("HOME") : "";
  if (!home.empty()) {
    EXPECT_EQ(PortMapDirectory(), home + "/.config/torvikel/ports");
  }
  if (saved != nullptr) {
    ::setenv("TORVIKEL_PORT_DIR", savedValue.c_str(), 1);
  } else {
    ::unsetenv("TORVIKEL_PORT_DIR");
  }
}

TEST(PortNames, PortTextThroughTheMapDirectory) {
  FakeTree tree;
  tree.addDevice("pts/3");
  fs::create_symlink(tree.dev("pts/3"), tree.map() / "com12");
  const char* saved = std::getenv("TORVIKEL_PORT_DIR");
  const std::string savedValue = saved != nullptr ? saved : "";
  ::setenv("TORVIKEL_PORT_DIR", tree.map().c_str(), 1);
  struct Row {
    const char* legend;
    std::string text;
    std::optional<std::string> path;
  };
  const std::vector<Row> rows = {
      {"Com12 without prefix", "Com12", tree.dev("pts/3")},
      {"Com12 with the device prefix", "\\\\.\\Com12", tree.dev("pts/3")},
      {"a device path is taken as it is", "/dev/ttyUSB7", std::string("/dev/ttyUSB7")},
      {"not a port name", "COM12", std::nullopt},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.legend);
    EXPECT_EQ(ResolvePortText(row.text), row.path);
  }
  if (saved != nullptr) {
    ::setenv("TORVIKEL_PORT_DIR", savedValue.c_str(), 1);
  } else {
    ::unsetenv("TORVIKEL_PORT_DIR");
  }
}

}  // namespace
