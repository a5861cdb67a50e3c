#include "platform/linux/XTestPointerOutput.h"

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

#include <chrono>
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
}

XTestPointerOutput::~XTestPointerOutput() = default;

void XTestPointerOutput::setOrigin(int originXPx, int originYPx)
{
    originXPx_ = originXPx;
    originYPx_ = originYPx;
}

void XTestPointerOutput::setCursorPos(int xPx, int yPx)
{
    // Screen number -1: coordinates relative to the root window of the screen
    // the pointer is on, which is the only screen of a modern X display.
    XTestFakeMotionEvent(display_.get(), -1, originXPx_ + xPx, originYPx_ + yPx, CurrentTime);
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
