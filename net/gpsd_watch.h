// A receiver that a running gpsd owns, read through gpsd's watch: "gpsd://host[:port][/device]".
// A layer over the TCP stream: its open sends the watch request and waits for gpsd's answer,
// and its bytes are the device's own, with gpsd's JSON lines taken out before they reach the
// cutter. Nothing is ever written: gpsd owns the receiver.
//
// gpsd is asked for ?WATCH={"enable":true,"json":false,"raw":1,...}: raw mode 1 passes the
// device's NMEA exactly as read (replies to commands and proprietary sentences included),
// where "nmea":true would hand on gpsd's own rendering of binary packets. gpsd still sends
// its JSON answers (VERSION, DEVICES, WATCH, DEVICE, ERROR), each one line beginning with
// "{", which never begins an NMEA line. Each is read as JSON (net/json_value.h): the watch
// request ends at WATCH, fails at ERROR, and a DEVICE report that the watched device was
// closed ("activated":0) is the loss of the line. (gpsd 3.22 sends that report to its JSON
// watchers only, so through it a raw watch hears nothing when the device goes.)
//
// Thread rule: open() on the thread that opens the port; afterwards the filter belongs to the
// stream's reading side, as the inbox does.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "link/tcp_stream.h"

// What one of gpsd's JSON lines says, as far as the watch needs it.
struct GpsdReport {
  // Other: any other class (VERSION, DEVICES, TPV ...), or a line that is no JSON object.
  enum class Kind { Watch, Error, Device, Other };
  Kind kind = Kind::Other;
  std::string message;       // Error: gpsd's own words
  std::string path;          // Device: the device reported on
  bool deactivated = false;  // Device: "activated":0, gpsd closed it (unplugged, or gone from gpsd)
};

GpsdReport ReadGpsdReport(std::string_view line);

// Drops gpsd's JSON lines (each one line that begins with "{") from a raw watch and passes
// every other byte unchanged. While collecting, the reports are kept for the watch
// hand-shake to read; afterwards only a DEVICE report that the watched device went inactive
// is noticed.
class GpsdLineFilter {
 public:
  // Appends the bytes that are not JSON to out.
  void feed(const char* data, std::size_t size, std::string& out);
  void collect(bool on) { collecting_ = on; }
  // The reports of the JSON lines completed since the last call (collecting only).
  std::vector<GpsdReport> takeReports();
  // gpsd reported the device of this path inactive (unplugged, or gone from gpsd).
  void watchDevice(std::string path) { device_ = std::move(path); }
  bool deviceGone() const { return deviceGone_; }

 private:
  void endJsonLine();
  bool atLineStart_ = true;
  bool inJson_ = false;
  bool overlong_ = false;  // the JSON line being read is past the limit: dropped unread
  bool collecting_ = false;
  bool deviceGone_ = false;
  std::string json_;  // the JSON line being read (bounded)
  std::vector<GpsdReport> reports_;
  std::string device_;
};

class GpsdWatch : public TcpStream {
 public:
  bool isReadOnly() const override { return true; }
  // Fails without sending anything.
  long write(const void* data, std::size_t size) override;

 protected:
  // The watch request, then gpsd's answers up to WATCH (or an ERROR) within the deadline.
  LinkError afterConnect(const std::string& portName, const NetworkAddress& address, Clock::time_point deadline,
                         const std::function<bool()>& cancelled) override;
  void received(const char* data, std::size_t size, std::string& inbox) override;

 private:
  GpsdLineFilter filter_;
};
