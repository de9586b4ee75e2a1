// gpsd's watch: the hand-shake, the filter that keeps gpsd's JSON out of the sentence stream,
// and the reading of gpsd's reports.
//
// Thread rule: see the header.
#include "net/gpsd_watch.h"

#include <poll.h>

#include <cerrno>

#include "net/json_value.h"

namespace {

constexpr std::size_t kJsonLineLimit = 65536;  // longer lines are dropped all the same, unread

// A new member of an object, of the kind given; the caller sets its value.
JsonValue& addMember(JsonValue& object, std::string name, JsonValue::Kind kind) {
  object.members.push_back({std::move(name), {}});
  JsonValue& value = object.members.back().value;
  value.kind = kind;
  return value;
}

}  // namespace

GpsdReport ReadGpsdReport(std::string_view line) {
  GpsdReport report;
  const std::optional<JsonValue> json = ReadJson(line);
  if (!json || json->kind != JsonValue::Kind::Object) return report;
  const std::string kind = json->textOf("class");
  if (kind == "WATCH") {
    report.kind = GpsdReport::Kind::Watch;
  } else if (kind == "ERROR") {
    report.kind = GpsdReport::Kind::Error;
    report.message = json->textOf("message");
  } else if (kind == "DEVICE") {
    report.kind = GpsdReport::Kind::Device;
    report.path = json->textOf("path");
    // An active device's "activated" is the time it was opened, as text.
    const JsonValue* activated = json->member("activated");
    report.deactivated = activated != nullptr && activated->kind == JsonValue::Kind::Number && activated->number == 0;
  }
  return report;
}

void GpsdLineFilter::feed(const char* data, std::size_t size, std::string& out) {
  for (std::size_t i = 0; i < size; ++i) {
    const char c = data[i];
    if (inJson_) {
      if (c == '\n') {
        endJsonLine();
      } else if (json_.size() < kJsonLineLimit) {
        json_ += c;
      } else {
        overlong_ = true;
      }
      continue;
    }
    if (atLineStart_ && c == '{') {
      inJson_ = true;
      json_.assign(1, c);
      continue;
    }
    out += c;
    atLineStart_ = c == '\n';
  }
}

void GpsdLineFilter::endJsonLine() {
  inJson_ = false;
  atLineStart_ = true;
  if (!overlong_) {
    const GpsdReport report = ReadGpsdReport(json_);
    if (collecting_) {
      reports_.push_back(report);
    } else if (!device_.empty() && report.kind == GpsdReport::Kind::Device && report.path == device_ &&
               report.deactivated) {
      deviceGone_ = true;
    }
  }
  overlong_ = false;
  json_.clear();
}

std::vector<GpsdReport> GpsdLineFilter::takeReports() {
  std::vector<GpsdReport> reports;
  reports.swap(reports_);
  return reports;
}

long GpsdWatch::write(const void*, std::size_t) {
  if (!checkOpen()) return -1;
  failText("read-only: gpsd owns the receiver");
  return -1;
}

LinkError GpsdWatch::afterConnect(const std::string& portName, const NetworkAddress& address,
                                  Clock::time_point deadline, const std::function<bool()>& cancelled) {
  filter_ = GpsdLineFilter();
  filter_.collect(true);
  filter_.watchDevice(address.device);
  JsonValue watch;
  watch.kind = JsonValue::Kind::Object;
  addMember(watch, "enable", JsonValue::Kind::Boolean).boolean = true;
  addMember(watch, "json", JsonValue::Kind::Boolean).boolean = false;
  addMember(watch, "raw", JsonValue::Kind::Number).number = 1;
  if (!address.device.empty()) addMember(watch, "device", JsonValue::Kind::String).text = address.device;
  const std::string request = "?WATCH=" + WrittenJson(watch) + ";\n";
  // The request is the only thing ever written; the stream's own write refuses.
  if (TcpStream::write(request.data(), request.size()) != static_cast<long>(request.size())) {
    return ConnectFailed(portName, address, lastErrorNumber() == 0 ? EIO : lastErrorNumber());
  }
  // What comes before the WATCH answer that is not gpsd's own stays in the inbox: the raw
  // stream begins right after it.
  for (;;) {
    for (const GpsdReport& report : filter_.takeReports()) {
      if (report.kind == GpsdReport::Kind::Error) return GpsdRefused(portName, address, report.message);
      if (report.kind == GpsdReport::Kind::Watch) {
        filter_.collect(false);
        return {};
      }
    }
    if (ended()) return GpsdClosed(portName, address, endErrorNumber());
    const int ready = waitUntil(POLLIN, deadline, cancelled);
    if (ready < 0) return ConnectStopped(portName, address);
    if (ready == 0) return GpsdSilent(portName, address);
    pull();
  }
}

void GpsdWatch::received(const char* data, std::size_t size, std::string& inbox) {
  filter_.feed(data, size, inbox);
  if (filter_.deviceGone()) endStream(ENODEV);
}
