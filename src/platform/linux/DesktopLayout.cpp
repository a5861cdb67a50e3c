#include "platform/linux/DesktopLayout.h"

#include "common/FloatMath.h"

#include <algorithm>
#include <cstdint>
#include <limits>

namespace oru {

PointerPlacement pointerPlacement(const std::vector<ScreenArea>& screens, std::size_t boardScreen, PointerSpan span)
{
    PointerPlacement placement;
    if (screens.empty()) return placement;
    const ScreenArea& board = screens[std::min(boardScreen, screens.size() - 1)];
    if (span == PointerSpan::BoardOutput) {
        // The compositor maps the range over the output alone, in its own
        // pixels: the board at the origin, whatever lies around it.
        ScreenArea alone = board;
        alone.xLogical = alone.yLogical = 0;
        placement = pointerPlacement({alone}, 0);
        placement.box.boundOutput = board.name;
        return placement;
    }
    const Extended ratio = board.pixelRatio > 0 ? board.pixelRatio : 1.0;
    const auto px = [ratio](std::int64_t logical) { return roundHalfEven(static_cast<Extended>(logical) * ratio); };

    std::int64_t left = std::numeric_limits<std::int64_t>::max(), top = left;
    std::int64_t right = std::numeric_limits<std::int64_t>::min(), bottom = right;
    for (const auto& screen : screens) {
        left = std::min<std::int64_t>(left, screen.xLogical);
        top = std::min<std::int64_t>(top, screen.yLogical);
        right = std::max<std::int64_t>(right, std::int64_t{screen.xLogical} + std::max(screen.widthLogical, 1));
        bottom = std::max<std::int64_t>(bottom, std::int64_t{screen.yLogical} + std::max(screen.heightLogical, 1));
        if (screen.pixelRatio != board.pixelRatio) placement.mixedScales = true;
    }
    placement.box.xPx = px(left);
    placement.box.yPx = px(top);
    const auto extent = [](std::int64_t first, std::int64_t end) {
        return static_cast<int>(std::clamp<std::int64_t>(end - first, 1, std::numeric_limits<int>::max()));
    };
    placement.box.widthPx = extent(placement.box.xPx, px(right));
    placement.box.heightPx = extent(placement.box.yPx, px(bottom));
    placement.originXPx = px(board.xLogical);
    placement.originYPx = px(board.yLogical);
    // ABS resolution: the board screen's pixels per millimetre, when known.
    if (board.physicalWidthMm > 0 && board.widthLogical > 0) {
        placement.box.unitsPerMm =
            std::max(1, roundHalfEven(static_cast<Extended>(px(board.widthLogical)) / board.physicalWidthMm));
    }
    return placement;
}

} // namespace oru
