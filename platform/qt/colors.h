// colors.h - colour values as the settings file and the panels store them.
//
// A colour value is 32 bits. An explicit colour is 0x00BBGGRR (red in the low
// byte). A value with the top bit set, 0x80000000 + n, names the desktop's
// system colour number n, resolved against the application palette whenever
// it is painted, so a change of the desktop theme shows at once.
#pragma once

#include <cstdint>

#include <QColor>
#include <QPalette>

namespace vantrel::platform {

using TColor = uint32_t;

inline constexpr TColor kSystemColorFlag = 0x80000000u;
inline constexpr TColor clWindow = 0x80000005u;      // window background
inline constexpr TColor clWindowText = 0x80000008u;  // text on the window background
inline constexpr TColor clRed = 0x000000FFu;
inline constexpr TColor clGreen = 0x0000FF00u;
inline constexpr TColor clBlue = 0x00FF0000u;

inline bool IsSystemColor(TColor value) { return (value & kSystemColorFlag) != 0; }

// The palette colour that stands for system colour number `index`.
QColor SystemColor(int index, const QPalette& palette);

// The colour a value paints with; system colours come from `palette`.
QColor ColorToQColor(TColor value, const QPalette& palette);
// The application palette's reading of a value.
QColor ColorToQColor(TColor value);

// Follows a desktop that asks for dark colours where the toolkit would not
// see it by itself (no platform theme reads the desktop's setting): with
// GTK_THEME naming a ":dark" variant the application takes a dark palette.
// True when it did.
bool ApplyDesktopColorScheme();

// The explicit value (0x00BBGGRR) of a colour; the alpha channel is dropped.
TColor ColorFromQColor(const QColor& color);

}  // namespace vantrel::platform
