#pragma once

#include "platform/ScreenArea.h"
#include "platform/linux/PointerBackendChoice.h"
#include "platform/linux/UinputPointerOutput.h"

#include <cstddef>
#include <vector>

namespace oru {

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

/// The placement for screens (at least one; boardScreen indexes it). A
/// compositor that spans one output gets a box of the board's screen alone,
/// bound to its output.
PointerPlacement pointerPlacement(const std::vector<ScreenArea>& screens, std::size_t boardScreen,
                                  PointerSpan span = PointerSpan::Desktop);

} // namespace oru
