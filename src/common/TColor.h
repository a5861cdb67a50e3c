#pragma once

#include <cstdint>

namespace oru {

/// A colour as the tray component stores it: 0x00BBGGRR for a direct colour
/// (red in the low byte), a negative value (0x80000000 | index) for a colour
/// of the desktop's palette, or clNone for no colour at all.
using TColor = std::int32_t;

inline constexpr TColor clNone = 0x1FFFFFFF;
inline constexpr TColor clBlack = 0x000000;
inline constexpr TColor clWhite = 0xFFFFFF;
inline constexpr TColor clRed = 0x0000FF;
inline constexpr TColor clGreen = 0x008000;
inline constexpr TColor clBlue = 0xFF0000;

/// Palette colours, by the index in their low byte.
inline constexpr TColor clSystemColor = static_cast<TColor>(0x80000000u);
inline constexpr TColor clWindow = clSystemColor | 5;
inline constexpr TColor clWindowText = clSystemColor | 8;
inline constexpr TColor clHighlight = clSystemColor | 13;
inline constexpr TColor clHighlightText = clSystemColor | 14;
inline constexpr TColor clBtnFace = clSystemColor | 15;
inline constexpr TColor clBtnText = clSystemColor | 18;

/// The 24 colour bits of a direct colour, 0x00BBGGRR.
inline constexpr std::uint32_t kRgbMask = 0xFFFFFF;

inline constexpr bool isSystemColor(TColor color) { return color < 0; }

} // namespace oru
