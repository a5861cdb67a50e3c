#pragma once

#include "harness/BoardModel.h"

#include <X11/Xlib.h>

#include <functional>
#include <vector>

namespace oru::harness {

/// A plain drawing surface over the screen below the tray strip, the way a
/// whiteboard application would sit there: it counts the mouse buttons the X
/// server delivers and draws the pointer's path while button 1 is held, with
/// the pen's own path in a thin line beneath for comparison.
class WhiteboardCanvas {
public:
    /// ink false: count and watch only, nothing drawn or kept (long runs).
    WhiteboardCanvas(Display* display, int x, int y, int width, int height, bool ink = true);
    ~WhiteboardCanvas();
    WhiteboardCanvas(const WhiteboardCanvas&) = delete;
    WhiteboardCanvas& operator=(const WhiteboardCanvas&) = delete;

    /// Handles every event that has arrived.
    void pump();
    /// Out of sight while another program's full-screen window is up, and
    /// back: the canvas bypasses the window manager, which would otherwise
    /// keep it over that window, as a compositing one does even below it.
    void hide();
    void show();
    /// Handles every event the X server has made so far (a round trip first).
    void sync();
    /// Draws a piece of the pen's path while it touches (screen px).
    void penSegment(PointD from, PointD to);

    struct Counts {
        int leftPresses = 0, leftReleases = 0, rightPresses = 0, rightReleases = 0;
    };
    const Counts& counts() const { return counts_; }
    int inkSegments() const { return inkSegments_; }
    /// Called with the root position of every pointer motion over the canvas.
    void onMotion(std::function<void(int xRoot, int yRoot)> handler) { motion_ = std::move(handler); }

private:
    struct Segment {
        int x1, y1, x2, y2;
        bool pen;
    };
    void draw(const Segment& s);

    Display* display_;
    bool keepInk_;
    std::function<void(int, int)> motion_;
    Window window_ = 0;
    GC ink_ = nullptr;
    GC penInk_ = nullptr;
    int originX_, originY_;
    bool drawing_ = false;
    int lastX_ = 0, lastY_ = 0;
    Counts counts_;
    int inkSegments_ = 0;
    std::vector<Segment> segments_;  // for repainting after an expose
};

} // namespace oru::harness
