// Qt before Xlib: Xlib's macros (Status, None, ...) break Qt's headers.
#include <QImage>

#include "harness/XScreen.h"

#include "harness/DriverProcess.h"

#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>

#include <algorithm>
#include <cstdlib>
#include <cerrno>  // program_invocation_short_name
#include <cstring>
#include <stdexcept>
#include <unistd.h>

namespace oru::harness {

namespace {

int onLostDisplay(Display*)
{
    // Xlib ends the process after this: take the driver along.
    stopRunningDriverNow();
    static const char message[] = ": lost the connection to the X server\n";
    const char* program = program_invocation_short_name;
    [[maybe_unused]] ssize_t n = ::write(STDERR_FILENO, program, std::strlen(program));
    n = ::write(STDERR_FILENO, message, sizeof message - 1);
    ::_exit(3);
}

int onRequestError(Display*, XErrorEvent*)
{
    // Windows of other programs come and go between listing them and asking
    // about them (BadWindow): such a request just finds nothing.
    return 0;
}

int shiftOf(unsigned long mask)
{
    int shift = 0;
    while (mask && !(mask & 1)) {
        mask >>= 1;
        ++shift;
    }
    return shift;
}

} // namespace

XScreen::XScreen(const char* displayName) : display_(XOpenDisplay(displayName))
{
    if (!display_) throw std::runtime_error("cannot open the X display (is DISPLAY set and the X server running?)");
    XSetIOErrorHandler(onLostDisplay);
    XSetErrorHandler(onRequestError);
    int event = 0, error = 0, major = 0, minor = 0;
    if (!XTestQueryExtension(display(), &event, &error, &major, &minor))
        throw std::runtime_error("the X server has no XTest extension");
    root_ = DefaultRootWindow(display());
    width_ = DisplayWidth(display(), DefaultScreen(display()));
    height_ = DisplayHeight(display(), DefaultScreen(display()));
}

PixelBlock XScreen::grab(int x, int y, int width, int height) const
{
    PixelBlock block;
    block.x = std::max(0, x);
    block.y = std::max(0, y);
    block.width = std::min(width_, x + width) - block.x;
    block.height = std::min(height_, y + height) - block.y;
    if (block.width <= 0 || block.height <= 0) {
        block.width = block.height = 0;
        return block;
    }
    XImage* image = XGetImage(display(), root_, block.x, block.y, block.width, block.height, AllPlanes, ZPixmap);
    if (!image) throw std::runtime_error("XGetImage failed on the root window");
    const int rs = shiftOf(image->red_mask), gs = shiftOf(image->green_mask), bs = shiftOf(image->blue_mask);
    block.rgb.resize(static_cast<std::size_t>(block.width) * block.height);
    for (int row = 0; row < block.height; ++row) {
        for (int col = 0; col < block.width; ++col) {
            const unsigned long p = XGetPixel(image, col, row);
            const std::uint32_t r = (p & image->red_mask) >> rs;
            const std::uint32_t g = (p & image->green_mask) >> gs;
            const std::uint32_t b = (p & image->blue_mask) >> bs;
            block.rgb[static_cast<std::size_t>(row) * block.width + col] = (r << 16) | (g << 8) | b;
        }
    }
    XDestroyImage(image);
    return block;
}

ColourSpot XScreen::find(const PixelBlock& block, std::uint32_t rgb, int tolerance)
{
    const auto matches = [&](std::uint32_t pixel) {
        if (pixel == rgb) return true;
        for (int shift = 0; shift <= 16; shift += 8) {
            const int a = static_cast<int>((pixel >> shift) & 0xFF), b = static_cast<int>((rgb >> shift) & 0xFF);
            if (std::abs(a - b) > tolerance) return false;
        }
        return true;
    };
    ColourSpot spot;
    double sumX = 0, sumY = 0;
    for (int row = 0; row < block.height; ++row) {
        for (int col = 0; col < block.width; ++col) {
            if (!matches(block.rgb[static_cast<std::size_t>(row) * block.width + col])) continue;
            const int x = block.x + col, y = block.y + row;
            if (spot.count == 0) {
                spot.minX = spot.maxX = x;
                spot.minY = spot.maxY = y;
            }
            spot.minX = std::min(spot.minX, x);
            spot.maxX = std::max(spot.maxX, x);
            spot.minY = std::min(spot.minY, y);
            spot.maxY = std::max(spot.maxY, y);
            sumX += x;
            sumY += y;
            ++spot.count;
        }
    }
    if (spot.count) {
        spot.meanX = sumX / spot.count;
        spot.meanY = sumY / spot.count;
    }
    return spot;
}

PointerState XScreen::pointer() const
{
    Window rootReturn = 0, child = 0;
    int winX = 0, winY = 0;
    PointerState state;
    XQueryPointer(display(), root_, &rootReturn, &child, &state.x, &state.y, &winX, &winY, &state.buttonMask);
    return state;
}

std::optional<XScreen::WindowInfo> XScreen::viewableWindow(const std::string& title) const
{
    // A top-level window, or one a window manager has put into its frame
    // (one level down); its place on the screen either way.
    const auto search = [&](auto& self, Window parentWindow, int depth) -> std::optional<WindowInfo> {
        Window rootReturn = 0, parent = 0;
        Window* children = nullptr;
        unsigned count = 0;
        if (!XQueryTree(display(), parentWindow, &rootReturn, &parent, &children, &count)) return std::nullopt;
        std::optional<WindowInfo> found;
        for (unsigned i = 0; i < count && !found; ++i) {
            char* name = nullptr;
            const bool match = XFetchName(display(), children[i], &name) && name && title == name;
            if (name) XFree(name);
            XWindowAttributes attributes;
            if (!XGetWindowAttributes(display(), children[i], &attributes) || attributes.map_state != IsViewable)
                continue;
            if (match) {
                int x = 0, y = 0;
                Window child = 0;
                XTranslateCoordinates(display(), children[i], root_, 0, 0, &x, &y, &child);
                found = WindowInfo{children[i], x, y, attributes.width, attributes.height};
            } else if (depth > 0) {
                found = self(self, children[i], depth - 1);
            }
        }
        if (children) XFree(children);
        return found;
    };
    return search(search, root_, 1);
}

std::vector<XScreen::WindowInfo> XScreen::overrideRedirectWindows() const
{
    Window rootReturn = 0, parent = 0;
    Window* children = nullptr;
    unsigned count = 0;
    std::vector<WindowInfo> found;
    if (!XQueryTree(display(), root_, &rootReturn, &parent, &children, &count)) return found;
    for (unsigned i = 0; i < count; ++i) {
        XWindowAttributes attributes;
        if (XGetWindowAttributes(display(), children[i], &attributes) && attributes.map_state == IsViewable &&
            attributes.override_redirect)
            found.push_back({children[i], attributes.x, attributes.y, attributes.width, attributes.height});
    }
    if (children) XFree(children);
    return found;
}

bool XScreen::trayHostPresent() const
{
    const std::string name = "_NET_SYSTEM_TRAY_S" + std::to_string(DefaultScreen(display()));
    const Atom selection = XInternAtom(display(), name.c_str(), False);
    return XGetSelectionOwner(display(), selection) != None;
}

void XScreen::movePointer(int x, int y) const
{
    XTestFakeMotionEvent(display(), DefaultScreen(display()), x, y, CurrentTime);
    XFlush(display());
}

void XScreen::button(unsigned button, bool down) const
{
    XTestFakeButtonEvent(display(), button, down, CurrentTime);
    XFlush(display());
}

void XScreen::key(const char* keysymName) const
{
    const KeyCode code = XKeysymToKeycode(display(), XStringToKeysym(keysymName));
    if (!code) throw std::runtime_error(std::string("no key for ") + keysymName);
    XTestFakeKeyEvent(display(), code, True, CurrentTime);
    XTestFakeKeyEvent(display(), code, False, CurrentTime);
    XFlush(display());
}

void XScreen::screenshot(const std::string& pngPath) const { screenshot(pngPath, 0, 0, width_, height_, 1); }

void XScreen::screenshot(const std::string& pngPath, int x, int y, int width, int height, int zoom) const
{
    const PixelBlock block = grab(x, y, width, height);
    QImage image(block.width * zoom, block.height * zoom, QImage::Format_RGB32);
    for (int row = 0; row < image.height(); ++row) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(row));
        for (int col = 0; col < image.width(); ++col)
            line[col] = 0xFF000000u | block.rgb[static_cast<std::size_t>(row / zoom) * block.width + col / zoom];
    }
    if (!image.save(QString::fromStdString(pngPath), "PNG"))
        throw std::runtime_error("cannot write " + pngPath);
}

} // namespace oru::harness
