#pragma once

#include "platform/PointerOutput.h"

#include <memory>
#include <string>

struct _XDisplay;

namespace oru {

/// Pointer output through the XTest extension on an X display of its own.
/// Positions are primary-screen pixels; the screen's origin in the root window
/// is added, so multi-monitor layouts land on the right monitor.
class XTestPointerOutput final : public PointerOutput {
public:
    /// Opens the display (nullptr: $DISPLAY). Throws std::runtime_error with a
    /// message saying what to do when there is no display or no XTest.
    explicit XTestPointerOutput(const char* displayName = nullptr, int originXPx = 0, int originYPx = 0);
    ~XTestPointerOutput() override;

    void setOrigin(int originXPx, int originYPx);
    void setCursorPos(int xPx, int yPx) override;
    void mouseEvent(MouseButtonEvent event, int dx, int dy) override;
    void pause(int ms) override;

private:
    struct DisplayCloser {
        void operator()(_XDisplay* display) const;
    };
    std::unique_ptr<_XDisplay, DisplayCloser> display_;
    int originXPx_;
    int originYPx_;
};

} // namespace oru
