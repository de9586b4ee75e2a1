// Opening a port by the name the user gave it: the window's "ComN", or the command-line
// tool's --port (a device path, or a network receiver's address). The name check and the
// resolution come first; a name that leads to a network receiver connects (a TCP stream, or
// gpsd's watch over one) and every other name goes through the serial connect steps
// (link/port_open.h). This is the one place that knows every transport, which is why it sits
// above link: link itself builds without gpsd's layer.
//
// Thread rule: any thread; the returned port is not yet shared with another thread.
#pragma once

#include <functional>
#include <string>

#include "link/port_open.h"

// portText as typed in the port box ("Com5", "Com12"); a device path ("/dev/ttyUSB0") or a
// network receiver's address is accepted too when allowDevicePath is set (the command-line
// tool's --port). A name that leads to a network receiver connects instead (bounded in time;
// cancelled() is asked while it waits): the steps that set the line do not apply to it and
// the speed text is not looked at.
PortOpenResult OpenComPortSteps(const std::string& portText, const std::string& baudText, bool allowDevicePath = false,
                                const std::function<bool()>& cancelled = {});
