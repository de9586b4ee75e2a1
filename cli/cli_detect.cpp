// Detection for ports --probe: the core's decision, said in one line.
//
// Thread rule: see cli_detect.h.
#include "cli/cli_detect.h"

#include "cli/cli_common.h"
#include "link/baud_detect.h"
#include "net/port_by_name.h"

namespace {

BaudDetectOptions detectOptions() {
  BaudDetectOptions options;
  options.stopRequested = [] { return StopRequested().load(); };
  return options;
}

}  // namespace

ProbeOutcome ProbePort(const std::string& portText) {
  ProbeOutcome outcome;
  // Opened as --baud auto opens it: the connect steps set a speed and purge, neither of
  // which puts a byte on the line.
  PortOpenResult opened = OpenComPortSteps(portText, std::to_string(kDetectRates.front()), /*allowDevicePath=*/true);
  if (!opened.port) {
    outcome.text = opened.error.explanation.empty() ? opened.error.message : opened.error.explanation;
    return outcome;
  }
  const BaudDetectResult found = DetectBaudRate(*opened.port, opened.devicePath, detectOptions());
  if (found.baud != 0) {
    outcome.baud = found.baud;
    outcome.text = std::to_string(found.baud) + " baud";
  } else if (found.error.failed()) {
    outcome.text = found.error.explanation.empty() ? found.error.message : found.error.explanation;
  } else if (found.stopped) {
    outcome.text = "stopped";
  } else {
    outcome.text = found.bytesArrived ? "bytes, but no NMEA at any rate" : "silent";
  }
  return outcome;
}
