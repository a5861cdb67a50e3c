#pragma once

#include "platform/PointerOutput.h"

#include <windows.h>

namespace oru {

/// Pointer output through user32: SetCursorPos for placements, SendInput with
/// the button flags alone (no move, no absolute flag) for presses and
/// releases, so a button acts wherever the cursor is, as mouse_event does.
/// The pen's tip is the primary button whatever the account's swap setting.
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
    /// Sends refusedRelease_ again, if any.
    void sendRefusedRelease();

    bool refusalReported_ = false;  // one diagnostic per run, not one per report
    bool uipiReported_ = false;     // likewise for clicks to a window run as administrator
    DWORD refusedRelease_ = 0;      // release flags Windows refused, sent at the next placement or event
    // Whether the primary and the secondary button's last press went to the
    // swapped physical button: its release must let go of the same one.
    bool primarySwapped_ = false;
    bool secondarySwapped_ = false;
};

/// The SendInput flags of a pen button event: the tip (Left*) is the primary
/// button and the side button (Right*) the secondary one on every account,
/// also one with swapped buttons (buttonsSwapped, SM_SWAPBUTTON).
DWORD buttonFlags(MouseButtonEvent event, bool buttonsSwapped);

/// The desktop's virtual screen (all monitors' bounding box) as Windows
/// reports it now, physical pixels; right and bottom exclusive, never empty.
RECT currentVirtualScreen();

} // namespace oru
