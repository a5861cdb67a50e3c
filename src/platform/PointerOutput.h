#pragma once

#include "platform/ScreenArea.h"

#include <cstddef>
#include <vector>

namespace oru {

/// The four synthetic button events the pen drives.
enum class MouseButtonEvent { LeftDown, LeftUp, RightDown, RightUp };

/// Synthetic mouse input on the user's desktop. Coordinates are pixels of the
/// primary screen with (0,0) at its top-left; the backend adds the screen's
/// origin. Implementations must not allocate per call.
class PointerOutput {
public:
    virtual ~PointerOutput() = default;
    /// Places the cursor.
    virtual void setCursorPos(int xPx, int yPx) = 0;
    /// Sends a button event where the cursor is now; dx/dy are passed along
    /// for the record and never move the cursor.
    virtual void mouseEvent(MouseButtonEvent event, int dx, int dy) = 0;
    /// Blocks the caller for the given time.
    virtual void pause(int ms) = 0;
    /// The desktop's screens changed, or the board moved to another screen:
    /// from now on positions are pixels of screens[boardScreen]. Not for the
    /// per-report path (a backend may talk to the system here). Throws
    /// std::runtime_error saying what failed and how to fix it when the
    /// backend can't follow. Outputs that place nowhere ignore it.
    virtual void followScreens(const std::vector<ScreenArea>& /*screens*/, std::size_t /*boardScreen*/) {}
};

} // namespace oru
