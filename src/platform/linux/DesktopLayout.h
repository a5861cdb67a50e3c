#pragma once

#include "platform/linux/UinputPointerOutput.h"

#include <cstddef>
#include <vector>

namespace oru {

/// One screen as Qt reports it: its geometry in Qt's logical pixels (on
/// Wayland the compositor's layout coordinates), its device pixel ratio and
/// its physical width (0 when unknown).
struct ScreenArea {
    int xLogical = 0;
    int yLogical = 0;
    int widthLogical = 0;
    int heightLogical = 0;
    double pixelRatio = 1.0;
    int physicalWidthMm = 0;
};

/// Where the uinput pointer's ranges lie and where the board's screen sits in
/// them, in the pixels the pen is mapped in: the board screen's logical pixels
/// times its pixel ratio, the unit its calibration uses. The whole layout is
/// scaled by that one ratio, so placements stay proportional to the
/// compositor's layout, which the compositor stretches the device's range over.
struct PointerPlacement {
    DesktopBox box;
    int originXPx = 0;
    int originYPx = 0;
    /// Screens run at different scale factors: the layout Qt reports then
    /// need not be the one the compositor stretches the device over.
    bool mixedScales = false;
};

/// The placement for screens (at least one; boardScreen indexes it).
PointerPlacement pointerPlacement(const std::vector<ScreenArea>& screens, std::size_t boardScreen);

} // namespace oru
