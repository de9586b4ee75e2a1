// The small pieces every drawing of the report is made of: text made safe for XML and HTML
// alike, coordinates written the same whatever the process locale, the 1-2-5 steps of an axis
// and the clock labels of the time axis.
//
// Thread rule: pure.
#pragma once

#include <string>
#include <string_view>

// Text for an element's content or an attribute's value, in XML and in HTML: & < > " ' as
// character references; bytes that are not UTF-8, and the control characters XML 1.0 forbids,
// as U+FFFD. Whatever a file name holds, the document stays well-formed and says it.
std::string MarkupText(std::string_view text);

// A coordinate or an axis value: at most `decimals` decimals, trailing zeros dropped, "."
// always ("12.5", "-3", "0"). Not finite: "0", so a broken value cannot break the document.
std::string Coord(double value, int decimals = 1);

// The step of an axis over `span` that gives about `count` ticks: 1, 2 or 5 times a power of
// ten. A span that is not positive: 1.
double NiceStep(double span, int count);
// An axis label for a multiple of `step`: as many decimals as the step needs.
std::string TickText(double value, double step);

// The step of a time axis in seconds of the clock: 1, 2, 5, 10, 15, 30 s, 1, 2, 5, 10, 15,
// 30 min, 1, 2, 3, 6, 12 h, then whole days.
double ClockStep(double span, int count);
// Elapsed seconds as a clock: "0:05:00", "27:00:00".
std::string ClockText(double seconds);
