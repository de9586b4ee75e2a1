// Colour values in the receiver tool's classic encoding 0x00BBGGRR, and the one conversion to
// Qt colours. The window and the charts keep colours in this form so that the values the
// display rules name (blue, silver, red, "none") stay visible in the code.
//
// Thread rule: pure values and functions; any thread.
#pragma once

#include <QColor>
#include <cstdint>

using TColor = std::uint32_t;

inline constexpr TColor clBlue = 0xFF0000;
inline constexpr TColor clSilver = 0xC0C0C0;
inline constexpr TColor clRed = 0x0000FF;
inline constexpr TColor clWhite = 0xFFFFFF;
inline constexpr TColor clBlack = 0x000000;
inline constexpr TColor clYellow = 0x00FFFF;
inline constexpr TColor clMoneyGreen = 0xC0DCC0;
inline constexpr TColor clNone = 0x1FFFFFFF;       // a point of this colour is not drawn
inline constexpr TColor kWindowBlue = 0x00AD4907;  // 11356423: red 7, green 73, blue 173
inline constexpr TColor kBarBackEnd = 0x00C40000;  // 12845056: dark blue at the chart's rim

inline QColor ToQColor(TColor colour) {
  return QColor(static_cast<int>(colour & 0xFFu), static_cast<int>((colour >> 8) & 0xFFu),
                static_cast<int>((colour >> 16) & 0xFFu));
}
