// How the report writes its figures, so that the drawings and the JSON say the same number
// the same way: a test compares them as text.
//
// Thread rule: pure.
#pragma once

#include <string>

// Metres with three decimals (millimetres): "1.234". Not finite: "nan".
std::string MetresText(double metres);
// Seconds with one decimal: "34.0".
std::string SecondsFigure(double seconds);
// Degrees with eight decimals (about a millimetre): "40.81060333".
std::string DegreesText(double degrees);
// A DOP or a mean count with two decimals: "1.42".
std::string TwoDecimals(double value);
// A duration in words of the clock: "21 min 3 s", "2 h 05 min", "4.5 s".
std::string DurationText(double seconds);
