#pragma once

#include "platform/PointerOutput.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string>

struct xcb_connection_t;

namespace oru {

/// Pointer output through the XTest extension on an X connection of its own.
/// Positions are primary-screen pixels; the screen's origin in the root window
/// is added, so multi-monitor layouts land on the right monitor. Every
/// placement is clipped to the desktop (the root window, which spans all
/// monitors) before it is sent: XTest carries 16-bit coordinates, and a point
/// far off the screen would otherwise wrap around onto another place.
///
/// Speaks XCB, not Xlib: a flush is then one write to the server, where
/// Xlib's flush also tries two reads of the socket every time.
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
    /// Takes the board screen's origin and reads the root window's size afresh.
    void followScreens(const std::vector<ScreenArea>& screens, std::size_t boardScreen) override;

private:
    /// Takes the root window's size changes (monitors added, resolution
    /// changed) and pointer mapping changes that arrived since the last
    /// placement.
    void followDesktopSize();
    /// The physical button that the pointer mapping makes logical: XTest
    /// presses physical buttons, and an account's left-handed mapping (3 2 1)
    /// would make the tip's press a secondary click. Read at the start and
    /// again after the server said the mapping changed.
    std::uint8_t physicalButton(std::uint8_t logical);
    void readPointerMapping();
    /// Queues one XTest FakeInput request: a core event as if from the pointer.
    void fakeInput(std::uint8_t type, std::uint8_t detail, int rootXPx, int rootYPx);

    struct ConnectionCloser {
        void operator()(xcb_connection_t* connection) const;
    };
    std::unique_ptr<xcb_connection_t, ConnectionCloser> connection_;
    std::uint32_t root_ = 0;  // the root window
    int originXPx_;
    int originYPx_;
    int desktopWidthPx_ = 1;
    int desktopHeightPx_ = 1;
    std::array<std::uint8_t, 32> pointerMap_{};  // the logical button of physical button i + 1
    std::size_t pointerMapLength_ = 0;
    bool pointerMapStale_ = false;
    // The physical buttons the tip's and the side button's presses pressed:
    // their releases let go of the same ones, whatever the mapping is by then.
    std::uint8_t heldTip_ = 0;
    std::uint8_t heldSide_ = 0;
};

} // namespace oru
