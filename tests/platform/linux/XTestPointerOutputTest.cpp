#include "platform/linux/XTestPointerOutput.h"

#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <poll.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace oru {
namespace {

using namespace std::chrono_literals;

struct DisplayCloser {
    void operator()(Display* display) const { XCloseDisplay(display); }
};
using DisplayPtr = std::unique_ptr<Display, DisplayCloser>;

// The backend talks to the server on a connection of its own; the test watches
// through a second one, so every check waits until the server has caught up.
class XTestPointer : public testing::Test {
protected:
    void SetUp() override
    {
        if (!std::getenv("DISPLAY")) GTEST_SKIP() << "DISPLAY is not set: run this test under xvfb-run";
        watcher.reset(XOpenDisplay(nullptr));
        ASSERT_TRUE(watcher) << "cannot open the X display " << XDisplayName(nullptr);
        root = DefaultRootWindow(watcher.get());
        screenWidthPx = DisplayWidth(watcher.get(), DefaultScreen(watcher.get()));
        screenHeightPx = DisplayHeight(watcher.get(), DefaultScreen(watcher.get()));
    }

    struct PointerState {
        int x = 0;
        int y = 0;
        unsigned buttons = 0;
    };

    PointerState query()
    {
        Window rootReturn = 0, child = 0;
        int winX = 0, winY = 0;
        PointerState state;
        XQueryPointer(watcher.get(), root, &rootReturn, &child, &state.x, &state.y, &winX, &winY, &state.buttons);
        return state;
    }

    // Polls until the pointer satisfies the condition, for at most two seconds.
    bool waitFor(const std::function<bool(const PointerState&)>& condition)
    {
        const auto deadline = std::chrono::steady_clock::now() + 2s;
        while (std::chrono::steady_clock::now() < deadline) {
            if (condition(query())) return true;
            std::this_thread::sleep_for(1ms);
        }
        return condition(query());
    }

    bool waitForPosition(int x, int y)
    {
        return waitFor([&](const PointerState& s) { return s.x == x && s.y == y; });
    }

    DisplayPtr watcher;
    Window root = 0;
    int screenWidthPx = 0;
    int screenHeightPx = 0;
};

struct PlacementRow {
    int originX;
    int originY;
    int x;
    int y;
    int expectedX;  // -1: the right or bottom edge of the screen
    int expectedY;
};

class XTestPlacement : public XTestPointer, public testing::WithParamInterface<PlacementRow> {};

TEST_P(XTestPlacement, MovesThePointerToTheScreenPositionPlusOrigin)
{
    const auto& row = GetParam();
    // Start from a place no row expects, so a placement that does nothing fails.
    XWarpPointer(watcher.get(), None, root, 0, 0, 0, 0, 641, 401);
    XSync(watcher.get(), False);
    ASSERT_TRUE(waitForPosition(641, 401));

    XTestPointerOutput output(nullptr, row.originX, row.originY);
    output.setCursorPos(row.x, row.y);
    const int expectedX = row.expectedX < 0 ? screenWidthPx - 1 : row.expectedX;
    const int expectedY = row.expectedY < 0 ? screenHeightPx - 1 : row.expectedY;
    EXPECT_TRUE(waitForPosition(expectedX, expectedY))
        << "pointer at " << query().x << "," << query().y << ", expected " << expectedX << "," << expectedY;
}

INSTANTIATE_TEST_SUITE_P(Table, XTestPlacement,
                         testing::Values(PlacementRow{0, 0, 100, 200, 100, 200},
                                         PlacementRow{0, 0, 0, 0, 0, 0},
                                         // A primary screen that starts right of another monitor.
                                         PlacementRow{300, 50, 100, 200, 400, 250},
                                         // Points off the screen are clipped to the desktop.
                                         PlacementRow{0, 0, -40, 5000, 0, -1},
                                         PlacementRow{200, 0, 5000, -3, -1, 0}));

TEST_F(XTestPointer, OriginCanChangeLater)
{
    XTestPointerOutput output;
    output.setOrigin(640, 10);
    output.setCursorPos(15, 25);
    EXPECT_TRUE(waitForPosition(655, 35));
}

TEST_F(XTestPointer, ButtonsAreHeldUntilReleasedAndDontMoveThePointer)
{
    XTestPointerOutput output;
    output.setCursorPos(50, 60);
    ASSERT_TRUE(waitForPosition(50, 60));

    struct Step {
        MouseButtonEvent event;
        unsigned heldMask;
    };
    for (const Step step : {Step{MouseButtonEvent::LeftDown, Button1Mask},
                            Step{MouseButtonEvent::RightDown, Button1Mask | Button3Mask},
                            Step{MouseButtonEvent::RightUp, Button1Mask}, Step{MouseButtonEvent::LeftUp, 0u}}) {
        output.mouseEvent(step.event, 999, 999);  // dx/dy are for the record only
        EXPECT_TRUE(waitFor([&](const PointerState& s) {
            return (s.buttons & (Button1Mask | Button3Mask)) == step.heldMask;
        })) << "after event " << static_cast<int>(step.event) << " mask " << std::hex << query().buttons;
        EXPECT_EQ(query().x, 50);
        EXPECT_EQ(query().y, 60);
    }
}

// A window over the whole screen receives the clicks, so a test sees each
// press and release with the place where it happened, even when they follow
// each other too fast to be seen in the button mask.
class ClickCatcher {
public:
    ClickCatcher(Display* display, Window root, int widthPx, int heightPx) : display_(display)
    {
        XSetWindowAttributes attributes{};
        attributes.override_redirect = True;
        attributes.event_mask = ButtonPressMask | ButtonReleaseMask | StructureNotifyMask;
        window_ = XCreateWindow(display_, root, 0, 0, widthPx, heightPx, 0, CopyFromParent, InputOutput,
                                CopyFromParent, CWOverrideRedirect | CWEventMask, &attributes);
        XMapWindow(display_, window_);
        XEvent event;
        do XWindowEvent(display_, window_, StructureNotifyMask, &event);
        while (event.type != MapNotify);
    }
    ~ClickCatcher()
    {
        XDestroyWindow(display_, window_);
        XSync(display_, False);
    }
    ClickCatcher(const ClickCatcher&) = delete;
    ClickCatcher& operator=(const ClickCatcher&) = delete;

    /// The next `count` button events as "press|release <button> <x> <y>",
    /// fewer when they don't come within two seconds.
    std::vector<std::string> next(std::size_t count)
    {
        std::vector<std::string> seen;
        const auto deadline = std::chrono::steady_clock::now() + 2s;
        while (seen.size() < count && std::chrono::steady_clock::now() < deadline) {
            if (!XPending(display_)) {
                pollfd fd{ConnectionNumber(display_), POLLIN, 0};
                poll(&fd, 1, 50);
                continue;
            }
            XEvent event;
            XNextEvent(display_, &event);
            if (event.type != ButtonPress && event.type != ButtonRelease) continue;
            seen.push_back(std::string(event.type == ButtonPress ? "press " : "release ") +
                           std::to_string(event.xbutton.button) + " " + std::to_string(event.xbutton.x_root) + " " +
                           std::to_string(event.xbutton.y_root));
        }
        return seen;
    }

private:
    Display* display_;
    Window window_ = 0;
};

// The tip is the primary button and the side button the secondary one on
// every account: a left-handed pointer mapping (3 2 1), set before the
// driver starts or while it runs, changes nothing the windows see.
TEST_F(XTestPointer, WindowUnderThePointerReceivesPressesAndReleasesWhereTheCursorIs)
{
    struct Row {
        const char* what;
        bool leftHanded;
        bool whileRunning;
    };
    const Row rows[] = {
        {"as it comes", false, false},
        {"left-handed", true, false},
        {"made left-handed while the driver runs", true, true},
    };
    ClickCatcher catcher(watcher.get(), root, screenWidthPx, screenHeightPx);
    // Every button the pointer has must be given: 1 and 3 swapped, or not.
    const auto setMapping = [this](bool leftHanded) {
        unsigned char map[256];
        const int count = XGetPointerMapping(watcher.get(), map, sizeof map);
        map[0] = leftHanded ? 3 : 1;
        map[2] = leftHanded ? 1 : 3;
        while (XSetPointerMapping(watcher.get(), map, count) == MappingBusy) XSync(watcher.get(), False);
        XSync(watcher.get(), False);
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        if (!row.whileRunning) setMapping(row.leftHanded);
        {
            XTestPointerOutput output;
            if (row.whileRunning) setMapping(row.leftHanded);
            output.setCursorPos(300, 400);
            output.mouseEvent(MouseButtonEvent::LeftDown, 300, 400);
            output.setCursorPos(320, 410);  // a drag
            output.mouseEvent(MouseButtonEvent::LeftUp, 320, 410);
            output.mouseEvent(MouseButtonEvent::RightDown, 320, 410);
            output.mouseEvent(MouseButtonEvent::RightUp, 320, 410);
        }
        EXPECT_EQ(catcher.next(4), (std::vector<std::string>{"press 1 300 400", "release 1 320 410",
                                                             "press 3 320 410", "release 3 320 410"}));
        setMapping(false);
    }
}

// XTest carries 16-bit coordinates: a point far off the screen must reach the
// server already clipped to the desktop, not wrapped around into its middle
// or onto the opposite edge, and origin + point must not overflow.
TEST_F(XTestPointer, FarOffPointsClickOnTheNearestDesktopEdge)
{
    constexpr int kMax = std::numeric_limits<int>::max();
    constexpr int kMin = std::numeric_limits<int>::min();
    constexpr int kRight = -1;  // the last column or row of the desktop
    struct Row {
        int originX, originY, x, y;
        int expectedX, expectedY;
    };
    const Row rows[] = {
        {0, 0, 446, 131659, 446, kRight},        // a mapped point below the board: wrapped to y 587
        {0, 0, 669, 177740, 669, kRight},        // wrapped to a negative y: landed on the top edge
        {0, 0, 65536 + 100, 300, kRight, 300},   // wrapped to x 100
        {0, 0, -65536 + 100, 300, 0, 300},       // wrapped to x 100
        {0, 0, 32768, -32769, kRight, 0},        // one past the 16-bit range either way
        {0, 0, kMax, kMin, kRight, 0},
        {0, 0, kMin, kMax, 0, kRight},
        {300, 50, kMax, kMax, kRight, kRight},   // origin + x overflows an int
        {-300, -50, kMin, kMin, 0, 0},
        {200, 100, -150, -90, 50, 10},           // off the primary screen, still on the desktop
    };
    ClickCatcher catcher(watcher.get(), root, screenWidthPx, screenHeightPx);
    XTestPointerOutput output;
    for (const Row& row : rows) {
        const int expectedX = row.expectedX == kRight ? screenWidthPx - 1 : row.expectedX;
        const int expectedY = row.expectedY == kRight ? screenHeightPx - 1 : row.expectedY;
        const std::string at = " " + std::to_string(expectedX) + " " + std::to_string(expectedY);
        output.setOrigin(row.originX, row.originY);
        output.setCursorPos(row.x, row.y);
        output.mouseEvent(MouseButtonEvent::LeftDown, row.x, row.y);
        output.mouseEvent(MouseButtonEvent::LeftUp, row.x, row.y);
        EXPECT_EQ(catcher.next(2), (std::vector<std::string>{"press 1" + at, "release 1" + at}))
            << "origin " << row.originX << "," << row.originY << " point " << row.x << "," << row.y;
        EXPECT_TRUE(waitForPosition(expectedX, expectedY)) << "pointer at " << query().x << "," << query().y;
    }
}

TEST_F(XTestPointer, PauseBlocksForAtLeastTheGivenTime)
{
    XTestPointerOutput output;
    const auto start = std::chrono::steady_clock::now();
    output.pause(10);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 10ms);
}

TEST(XTestPointerOutputOpen, MissingDisplayIsReportedWithWhatToDo)
{
    try {
        XTestPointerOutput output(":987");
        FAIL() << "display :987 opened";
    } catch (const std::runtime_error& error) {
        const std::string message = error.what();
        EXPECT_NE(message.find("Cannot open X display ':987'"), std::string::npos) << message;
        EXPECT_NE(message.find("DISPLAY"), std::string::npos) << message;
    }
}

} // namespace
} // namespace oru
