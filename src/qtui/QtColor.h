#pragma once

#include "common/TColor.h"

#include <QColor>

#include <cstdint>

namespace oru {

/// The direct colour a TColor shows as, 0x00BBGGRR: palette colours are looked
/// up in the application's palette; direct colours and clNone come back as
/// they are.
std::uint32_t ColorToRGB(TColor color);

/// An opaque QColor for a colour; palette colours are resolved first. clNone
/// has no colour of its own and gives the 24 bits it carries (white).
QColor toQColor(TColor color);

/// The TColor of an opaque QColor, 0x00BBGGRR.
TColor fromQColor(const QColor& color);

} // namespace oru
