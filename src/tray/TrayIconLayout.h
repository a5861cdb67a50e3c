#pragma once

#include "common/TColor.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace oru {

/// The tray icon's image: a 16 x 16 square with a short text centred on it.
/// What is drawn where is decided here; the toolkit (Qt, GDI) only paints it.
inline constexpr int kTrayIconSizePx = 16;
/// The text is centred over this many pixels, not the icon's 16.
inline constexpr int kTrayCentringSpanPx = 15;

/// What the icon shows.
struct TrayIconLook {
    std::string text;  // UTF-8; a carriage return (13) starts a new line
    TColor color = clBtnFace;  // the square's; clNone leaves only the text visible
    TColor fontColor = clWindowText;
    bool border = false;  // a one-pixel frame around the square in borderColor
    TColor borderColor = clBlack;
    int offsetX = 0;  // px added to every line's origin
    int offsetY = 0;
    int lineDistance = 0;  // px between lines of a text with several
};

/// The toolkit's side: the font's measures and the desktop's palette.
struct TrayTextMeasurer {
    std::function<int(const std::string& line)> width;  // advance of a line, px
    int height = 0;                                     // of a text line, px
    std::function<std::uint32_t(TColor color)> toRgb;  // 0x00BBGGRR of any colour
};

struct TrayRect {
    int x = 0, y = 0, width = 0, height = 0;
    bool operator==(const TrayRect&) const = default;
};

/// Where everything goes on the 16 x 16 square.
struct TrayIconLayout {
    /// The colour behind the text, 0x00BBGGRR: the square's, or the inverted
    /// font colour when the square has none or the font's own, so that the
    /// text stays readable.
    std::uint32_t fillRgb = 0;
    std::uint32_t fontRgb = 0;
    /// Pixels exactly of this colour become transparent (clNone's square);
    /// none: the square is opaque.
    std::optional<std::uint32_t> transparentRgb;
    struct Line {
        std::string text;
        int x = 0;  // top-left of the text cell; may lie outside the square (clipped)
        int y = 0;
    };
    std::vector<Line> lines;
    std::uint32_t borderRgb = 0;
    std::vector<TrayRect> border;  // filled in borderRgb, after the text
};

TrayIconLayout layoutTrayIcon(const TrayIconLook& look, const TrayTextMeasurer& measure);

} // namespace oru
