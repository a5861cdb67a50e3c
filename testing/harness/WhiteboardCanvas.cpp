#include "harness/WhiteboardCanvas.h"

#include <cerrno>  // program_invocation_short_name
#include <cmath>
#include <stdexcept>
#include <string>

namespace oru::harness {

namespace {

unsigned long colour(Display* display, const char* name)
{
    XColor exact, screen;
    const Colormap map = DefaultColormap(display, DefaultScreen(display));
    return XAllocNamedColor(display, map, name, &screen, &exact) ? screen.pixel : BlackPixel(display, DefaultScreen(display));
}

} // namespace

WhiteboardCanvas::WhiteboardCanvas(Display* display, int x, int y, int width, int height, bool ink)
    : display_(display), keepInk_(ink), originX_(x), originY_(y)
{
    const int screen = DefaultScreen(display);
    XSetWindowAttributes attributes{};
    // No window manager here: override-redirect keeps it exactly where asked.
    attributes.override_redirect = True;
    attributes.background_pixel = WhitePixel(display, screen);
    attributes.event_mask = ButtonPressMask | ButtonReleaseMask | PointerMotionMask | ExposureMask;
    window_ = XCreateWindow(display, DefaultRootWindow(display), x, y, static_cast<unsigned>(width),
                            static_cast<unsigned>(height), 0, CopyFromParent, InputOutput, CopyFromParent,
                            CWOverrideRedirect | CWBackPixel | CWEventMask, &attributes);
    if (!window_) throw std::runtime_error("cannot create the whiteboard canvas window");
    XStoreName(display, window_, (std::string(program_invocation_short_name) + " canvas").c_str());
    ink_ = XCreateGC(display, window_, 0, nullptr);
    XSetForeground(display, ink_, colour(display, "black"));
    XSetLineAttributes(display, ink_, 3, LineSolid, CapRound, JoinRound);
    penInk_ = XCreateGC(display, window_, 0, nullptr);
    XSetForeground(display, penInk_, colour(display, "orange"));
    XSetLineAttributes(display, penInk_, 1, LineSolid, CapRound, JoinRound);
    XMapRaised(display, window_);
    XSync(display, False);
}

WhiteboardCanvas::~WhiteboardCanvas()
{
    XFreeGC(display_, ink_);
    XFreeGC(display_, penInk_);
    XDestroyWindow(display_, window_);
    XSync(display_, False);
}

void WhiteboardCanvas::draw(const Segment& s)
{
    XDrawLine(display_, window_, s.pen ? penInk_ : ink_, s.x1, s.y1, s.x2, s.y2);
}

void WhiteboardCanvas::penSegment(PointD from, PointD to)
{
    if (!keepInk_) return;
    const Segment s{static_cast<int>(std::lround(from.x)) - originX_, static_cast<int>(std::lround(from.y)) - originY_,
                    static_cast<int>(std::lround(to.x)) - originX_, static_cast<int>(std::lround(to.y)) - originY_, true};
    segments_.push_back(s);
    draw(s);
}

void WhiteboardCanvas::hide()
{
    XUnmapWindow(display_, window_);
    XFlush(display_);
}

void WhiteboardCanvas::show()
{
    // What the map brings (the pointer's crossing into it from wherever it
    // was) is handled here, not taken for the pen's path later.
    XMapRaised(display_, window_);
    sync();
}

void WhiteboardCanvas::sync()
{
    XSync(display_, False);
    pump();
}

void WhiteboardCanvas::pump()
{
    while (XPending(display_)) {
        XEvent event;
        XNextEvent(display_, &event);
        if (event.xany.window != window_) continue;
        switch (event.type) {
        case ButtonPress:
            if (event.xbutton.button == Button1) {
                ++counts_.leftPresses;
                drawing_ = true;
                lastX_ = event.xbutton.x;
                lastY_ = event.xbutton.y;
            } else if (event.xbutton.button == Button3) {
                ++counts_.rightPresses;
            }
            break;
        case ButtonRelease:
            if (event.xbutton.button == Button1) {
                ++counts_.leftReleases;
                drawing_ = false;
            } else if (event.xbutton.button == Button3) {
                ++counts_.rightReleases;
            }
            break;
        case MotionNotify:
            if (motion_) motion_(event.xmotion.x_root, event.xmotion.y_root);
            if (keepInk_ && drawing_ && (event.xmotion.state & Button1Mask)) {
                const Segment s{lastX_, lastY_, event.xmotion.x, event.xmotion.y, false};
                segments_.push_back(s);
                draw(s);
                ++inkSegments_;
                lastX_ = event.xmotion.x;
                lastY_ = event.xmotion.y;
            }
            break;
        case Expose:
            if (event.xexpose.count == 0)
                for (const auto& s : segments_) draw(s);
            break;
        default:
            break;
        }
    }
    XFlush(display_);
}

} // namespace oru::harness
