// Colour values as the controls' settings hold them, and their resolution to
// the screen colours of the current palette.
#pragma once

#include <QColor>
#include <QPalette>
#include <cstdint>

// 0x00BBGGRR for an RGB colour (red in the low byte), or 0xFF0000nn for the
// system colour with index nn, which is looked up in a palette when used.
using TColor = std::uint32_t;

constexpr TColor clBlack = 0x00000000;
constexpr TColor clWhite = 0x00FFFFFF;
constexpr TColor clRed = 0x000000FF;
constexpr TColor clBlue = 0x00FF0000;
constexpr TColor clPurple = 0x00800080;

constexpr TColor clWindowText = 0xFF000008;
constexpr TColor clBtnFace = 0xFF00000F;
constexpr TColor clBtnShadow = 0xFF000010;
constexpr TColor clGrayText = 0xFF000011;
constexpr TColor clBtnHighlight = 0xFF000014;
constexpr TColor cl3DDkShadow = 0xFF000015;
constexpr TColor clInfoBk = 0xFF000018;

// RGB(r, g, b) = r + 256 * g + 65536 * b, each channel taken as its low 8 bits.
constexpr TColor RGBColor(int red, int green, int blue) {
  return TColor(red & 0xFF) | (TColor(green & 0xFF) << 8) | (TColor(blue & 0xFF) << 16);
}

constexpr bool IsSystemColor(TColor color) { return (color >> 24) == 0xFF; }

// The RGB value of a colour: a system colour is read from the palette's
// matching role (button face -> Button, button shadow -> Dark, button
// highlight -> Light, 3-D dark shadow -> Shadow, tooltip background ->
// ToolTipBase, window text -> WindowText, ...). Other high bytes are dropped.
TColor ColorToRGB(TColor color, const QPalette& palette);

// The screen colour of a colour value.
QColor ColorToQColor(TColor color, const QPalette& palette);

// The RGB colour value of a screen colour.
TColor QColorToColor(const QColor& color);
