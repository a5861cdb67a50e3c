#include "tray/TrayIconLayout.h"

namespace oru {

TrayIconLayout layoutTrayIcon(const TrayIconLook& look, const TrayTextMeasurer& measure)
{
    TrayIconLayout layout;
    layout.fontRgb = measure.toRgb(look.fontColor) & kRgbMask;
    layout.fillRgb = look.color == clNone || look.color == look.fontColor ? (layout.fontRgb ^ kRgbMask) & kRgbMask
                                                                          : measure.toRgb(look.color);
    if (look.color == clNone) layout.transparentRgb = layout.fillRgb;

    // C++ integer division truncates toward zero, so a text wider than the
    // span starts left of the square and is clipped on both sides.
    const std::size_t breakAt = look.text.find('\r');
    if (breakAt == std::string::npos) {
        layout.lines.push_back({look.text, (kTrayCentringSpanPx - measure.width(look.text)) / 2 + look.offsetX,
                                (kTrayCentringSpanPx - measure.height) / 2 + look.offsetY});
    } else {
        // Every carriage return starts a line, an empty one too. A line feed
        // after it stays at the start of the next line (it has no width).
        std::vector<std::string> lines;
        std::size_t start = 0;
        for (std::size_t end = breakAt; end != std::string::npos; end = look.text.find('\r', start)) {
            lines.push_back(look.text.substr(start, end - start));
            start = end + 1;
        }
        lines.push_back(look.text.substr(start));
        const int lineHeight = measure.height + look.lineDistance;
        const int top = (kTrayCentringSpanPx - static_cast<int>(lines.size()) * lineHeight) / 2 + look.offsetY;
        for (std::size_t i = 0; i < lines.size(); ++i) {
            layout.lines.push_back({lines[i], (kTrayCentringSpanPx - measure.width(lines[i])) / 2 + look.offsetX,
                                    top + static_cast<int>(i) * lineHeight});
        }
    }

    if (look.border && look.borderColor != clNone) {
        layout.borderRgb = measure.toRgb(look.borderColor);
        constexpr int n = kTrayIconSizePx;
        layout.border = {{0, 0, n, 1}, {0, n - 1, n, 1}, {0, 0, 1, n}, {n - 1, 0, 1, n}};
    }
    return layout;
}

} // namespace oru
