#pragma once

#include <X11/Xlib.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace oru::harness {

/// A rectangle of the root window's pixels, as 0xRRGGBB.
struct PixelBlock {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    std::vector<std::uint32_t> rgb;

    std::uint32_t at(int rx, int ry) const { return rgb[static_cast<std::size_t>(ry - y) * width + (rx - x)]; }
};

/// Where pixels of one colour lie in a block.
struct ColourSpot {
    int count = 0;
    int minX = 0, minY = 0, maxX = 0, maxY = 0;
    double meanX = 0, meanY = 0;
};

struct PointerState {
    int x = 0;
    int y = 0;
    unsigned buttonMask = 0;  // Button1Mask | Button3Mask ... as X reports them

    bool anyButtonHeld() const { return (buttonMask & (Button1Mask | Button2Mask | Button3Mask)) != 0; }
};

/// The X display a harness watches: screen pixels, the pointer, top-level
/// windows, and the user's own mouse and keys (XTest) for the tray menu.
class XScreen {
public:
    explicit XScreen(const char* displayName = nullptr);

    Display* display() const { return display_.get(); }
    int width() const { return width_; }
    int height() const { return height_; }

    PixelBlock grab(int x, int y, int width, int height) const;
    /// Pixels of colour rgb, or within tolerance of it in each channel.
    static ColourSpot find(const PixelBlock& block, std::uint32_t rgb, int tolerance = 0);

    PointerState pointer() const;

    /// Geometry of a viewable top-level window with this title, if any.
    struct WindowInfo {
        Window id;
        int x, y, width, height;
    };
    std::optional<WindowInfo> viewableWindow(const std::string& title) const;
    /// Viewable top-level windows that bypass the window manager: popup
    /// menus, tooltips, and the harness's own canvas (WhiteboardCanvas).
    std::vector<WindowInfo> overrideRedirectWindows() const;

    /// Whether a tray host owns the system tray of this screen.
    bool trayHostPresent() const;

    /// The user's own input, through XTest.
    void movePointer(int x, int y) const;
    void button(unsigned button, bool down) const;
    void key(const char* keysymName) const;

    /// Saves the whole screen, or a part scaled up by zoom, as PNG.
    void screenshot(const std::string& pngPath) const;
    void screenshot(const std::string& pngPath, int x, int y, int width, int height, int zoom) const;

private:
    struct Closer {
        void operator()(Display* d) const { XCloseDisplay(d); }
    };
    std::unique_ptr<Display, Closer> display_;
    Window root_ = 0;
    int width_ = 0;
    int height_ = 0;
};

} // namespace oru::harness
