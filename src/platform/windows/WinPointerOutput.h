#pragma once

#include "platform/PointerOutput.h"

#include <windows.h>

namespace oru {

/// Pointer output through user32: SetCursorPos for placements, SendInput with
/// the button flags alone (no move, no absolute flag) for presses and
/// releases, so a button acts wherever the cursor is, as mouse_event does.
///
/// Coordinates are physical pixels: the program declares per-monitor DPI
/// awareness (v2) in its manifest, so Windows neither scales nor virtualises
/// them and a board screen at 125 % or 150 % maps pixel for pixel. Positions
/// are pixels of the board screen; its origin in the virtual screen is added,
/// and every placement is clipped to the virtual screen (SM_XVIRTUALSCREEN,
/// ...), read at the start and at each screen change.
class WinPointerOutput final : public PointerOutput {
public:
    WinPointerOutput();

    void setCursorPos(int xPx, int yPx) override;
    void mouseEvent(MouseButtonEvent event, int dx, int dy) override;
    void pause(int ms) override;
    /// Takes the board screen's origin and reads the virtual screen afresh.
    void followScreens(const std::vector<ScreenArea>& screens, std::size_t boardScreen) override;

private:
    RECT virtualScreen_;  // physical pixels, right and bottom exclusive
    int originXPx_ = 0;
    int originYPx_ = 0;
    bool refusalReported_ = false;  // one diagnostic per run, not one per report
};

/// The desktop's virtual screen (all monitors' bounding box) as Windows
/// reports it now, physical pixels; right and bottom exclusive, never empty.
RECT currentVirtualScreen();

} // namespace oru
