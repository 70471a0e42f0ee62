#pragma once
#include <QColor>
#include <cstdint>

// Colours as 0x00BBGGRR values (red in the low byte), used as plain RGB.
using TColor = uint32_t;

inline constexpr TColor clBlack = 0x000000;
inline constexpr TColor clMaroon = 0x000080;
inline constexpr TColor clRed = 0x0000FF;
inline constexpr TColor clGreen = 0x008000;
inline constexpr TColor clLime = 0x00FF00;
inline constexpr TColor clYellow = 0x00FFFF;
inline constexpr TColor clAqua = 0xFFFF00;
inline constexpr TColor clWhite = 0xFFFFFF;

inline constexpr int ColorRed(TColor color) { return color & 0xFF; }
inline constexpr int ColorGreen(TColor color) { return (color >> 8) & 0xFF; }
inline constexpr int ColorBlue(TColor color) { return (color >> 16) & 0xFF; }
inline constexpr TColor RGBColor(int red, int green, int blue)
{
    return TColor(red & 0xFF) | TColor(green & 0xFF) << 8 | TColor(blue & 0xFF) << 16;
}

// The opaque QRgb of a colour, for writing image pixels.
inline constexpr QRgb ToQRgb(TColor color)
{
    return 0xFF000000u | QRgb(ColorRed(color)) << 16 | QRgb(ColorGreen(color)) << 8 | QRgb(ColorBlue(color));
}
inline QColor ToQColor(TColor color) { return QColor::fromRgb(ToQRgb(color)); }
