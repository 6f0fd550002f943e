#pragma once

// The 32-bit colour value the components use: either an RGB value (red in the low
// byte, then green, then blue, high byte 0) or, with the high byte 0xFF, a reference
// to a named system colour, resolved through the application palette when drawn.

#include <QColor>
#include <QPalette>

#include <cstdint>

namespace cantavel {

using TColor = std::uint32_t;

constexpr TColor rgbColor(std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
    return static_cast<TColor>(red) | static_cast<TColor>(green) << 8 |
           static_cast<TColor>(blue) << 16;
}

inline constexpr TColor clBlack = rgbColor(0, 0, 0);
inline constexpr TColor clRed = rgbColor(255, 0, 0);
inline constexpr TColor clWhite = rgbColor(255, 255, 255);
inline constexpr TColor clBtnFace = 0xFF00000Fu;
inline constexpr TColor clBtnShadow = 0xFF000010u;
inline constexpr TColor cl3DLight = 0xFF000016u;
inline constexpr TColor clGradientActiveCaption = 0xFF00001Bu;

inline constexpr bool isSystemColor(TColor c) {
    return (c & 0xFF000000u) == 0xFF000000u;
}

// The colour to draw with: RGB values as they are, system colours from the palette.
QColor resolveColor(TColor color, const QPalette& palette);
QColor resolveColor(TColor color);

} // namespace cantavel
