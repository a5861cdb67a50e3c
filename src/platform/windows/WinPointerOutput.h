#pragma once

#include "platform/PointerOutput.h"

namespace oru {

/// The desktop's virtual screen (all monitors' bounding box), physical pixels.
struct VirtualScreen {
    int xPx = 0;
    int yPx = 0;
    int widthPx = 1;
    int heightPx = 1;
};

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

    /// The virtual screen as the placements are clipped to it now.
    const VirtualScreen& virtualScreen() const { return virtualScreen_; }

private:
    VirtualScreen virtualScreen_;
    int originXPx_ = 0;
    int originYPx_ = 0;
    bool refusalReported_ = false;  // one diagnostic per run, not one per report
};

/// The virtual screen as Windows reports it now.
VirtualScreen currentVirtualScreen();

} // namespace oru
