#pragma once

#include "platform/PointerOutput.h"

#include <memory>
#include <string>

struct _XDisplay;

namespace oru {

/// Pointer output through the XTest extension on an X display of its own.
/// Positions are primary-screen pixels; the screen's origin in the root window
/// is added, so multi-monitor layouts land on the right monitor. Every
/// placement is clipped to the desktop (the root window, which spans all
/// monitors) before it is sent: XTest carries 16-bit coordinates, and a point
/// far off the screen would otherwise wrap around onto another place.
class XTestPointerOutput final : public PointerOutput {
public:
    /// Opens the display (nullptr: $DISPLAY). Throws std::runtime_error with a
    /// message saying what to do when there is no display or no XTest.
    explicit XTestPointerOutput(const char* displayName = nullptr, int originXPx = 0, int originYPx = 0);
    ~XTestPointerOutput() override;

    /// Moves the primary screen's top-left in the root window (any int).
    void setOrigin(int originXPx, int originYPx);
    void setCursorPos(int xPx, int yPx) override;
    void mouseEvent(MouseButtonEvent event, int dx, int dy) override;
    void pause(int ms) override;

private:
    /// Takes the root window's size changes (monitors added, resolution
    /// changed) that arrived since the last placement.
    void followDesktopSize();

    struct DisplayCloser {
        void operator()(_XDisplay* display) const;
    };
    std::unique_ptr<_XDisplay, DisplayCloser> display_;
    unsigned long root_ = 0;  // the root window (an XID)
    int originXPx_;
    int originYPx_;
    int desktopWidthPx_ = 1;
    int desktopHeightPx_ = 1;
};

} // namespace oru
