#include "platform/linux/XTestPointerOutput.h"

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <stdexcept>
#include <thread>

namespace oru {

void XTestPointerOutput::DisplayCloser::operator()(_XDisplay* display) const
{
    if (display) XCloseDisplay(display);
}

XTestPointerOutput::XTestPointerOutput(const char* displayName, int originXPx, int originYPx)
    : display_(XOpenDisplay(displayName)), originXPx_(originXPx), originYPx_(originYPx)
{
    if (!display_) {
        throw std::runtime_error(std::string("Cannot open X display '") +
                                 (displayName ? displayName : XDisplayName(nullptr)) +
                                 "': start the driver inside an X11 session (DISPLAY must be set)");
    }
    int eventBase = 0, errorBase = 0, major = 0, minor = 0;
    if (!XTestQueryExtension(display_.get(), &eventBase, &errorBase, &major, &minor)) {
        throw std::runtime_error("The X server has no XTest extension: the driver cannot move the pointer. "
                                 "Enable XTest in the X server configuration");
    }
    root_ = DefaultRootWindow(display_.get());
    ::Window rootReturn = 0;
    int x = 0, y = 0;
    unsigned width = 0, height = 0, border = 0, depth = 0;
    if (XGetGeometry(display_.get(), root_, &rootReturn, &x, &y, &width, &height, &border, &depth)) {
        desktopWidthPx_ = static_cast<int>(std::max(width, 1u));
        desktopHeightPx_ = static_cast<int>(std::max(height, 1u));
    }
    // RandR resizes the root window when monitors come, go or change mode; the
    // server then sends ConfigureNotify to clients watching its structure.
    XSelectInput(display_.get(), root_, StructureNotifyMask);
}

XTestPointerOutput::~XTestPointerOutput() = default;

void XTestPointerOutput::setOrigin(int originXPx, int originYPx)
{
    originXPx_ = originXPx;
    originYPx_ = originYPx;
}

void XTestPointerOutput::followDesktopSize()
{
    // Only the root's own structure events are selected, so this queue is
    // empty but for the rare resize. Every flush reads what the server has
    // sent, so the events are already here: looking at the queue costs no
    // system call (XPending would cost two per placement), and a resize is
    // followed from the placement after the one whose flush read it.
    while (XEventsQueued(display_.get(), QueuedAlready) > 0) {
        XEvent event;
        XNextEvent(display_.get(), &event);
        if (event.type == ConfigureNotify && event.xconfigure.window == root_) {
            desktopWidthPx_ = std::max(event.xconfigure.width, 1);
            desktopHeightPx_ = std::max(event.xconfigure.height, 1);
        }
    }
}

namespace {

// origin + point in 64 bits (no int overflow), clipped to [0, sizePx - 1].
int clipToDesktop(int originPx, int pointPx, int sizePx)
{
    const std::int64_t rootPx = std::int64_t{originPx} + pointPx;
    return static_cast<int>(std::clamp<std::int64_t>(rootPx, 0, sizePx - 1));
}

} // namespace

void XTestPointerOutput::setCursorPos(int xPx, int yPx)
{
    followDesktopSize();
    // Screen number -1: coordinates relative to the root window of the screen
    // the pointer is on, which is the only screen of a modern X display.
    // Button events need no clipping of their own: XTest presses where the
    // pointer is, and every placement that put it there was clipped.
    XTestFakeMotionEvent(display_.get(), -1, clipToDesktop(originXPx_, xPx, desktopWidthPx_),
                         clipToDesktop(originYPx_, yPx, desktopHeightPx_), CurrentTime);
    XFlush(display_.get());
}

void XTestPointerOutput::mouseEvent(MouseButtonEvent event, int /*dx*/, int /*dy*/)
{
    unsigned button = Button1;
    Bool press = True;
    switch (event) {
    case MouseButtonEvent::LeftDown: button = Button1; press = True; break;
    case MouseButtonEvent::LeftUp: button = Button1; press = False; break;
    case MouseButtonEvent::RightDown: button = Button3; press = True; break;
    case MouseButtonEvent::RightUp: button = Button3; press = False; break;
    }
    XTestFakeButtonEvent(display_.get(), button, press, CurrentTime);
    XFlush(display_.get());
}

void XTestPointerOutput::pause(int ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

} // namespace oru
