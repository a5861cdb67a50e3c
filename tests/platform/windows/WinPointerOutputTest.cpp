// The Windows pointer backend against a full-screen window on the wine
// prefix's X server: each placement lands at the board screen's origin plus
// the point, clipped to the virtual screen, and each button event reaches
// the window under the cursor there.

#include "winui/WinDesktopTesting.h"
#include "platform/windows/WinPointerOutput.h"

#include <gtest/gtest.h>

#include <vector>

namespace oru {
namespace {

struct Received {
    UINT message = 0;
    POINT at{};
};

std::vector<Received> received;

LRESULT CALLBACK recordingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_MOUSEMOVE:
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP:
    case WM_RBUTTONDOWN:
    case WM_RBUTTONUP:
        received.push_back({message, POINT{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))}});
        return 0;
    default:
        return DefWindowProcW(window, message, wParam, lParam);
    }
}

// A topmost window over the whole virtual screen: client = screen coordinates.
class DesktopWindow {
public:
    DesktopWindow()
    {
        WNDCLASSW windowClass{};
        windowClass.lpfnWndProc = recordingProc;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = L"oruPointerTarget";
        windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        RegisterClassW(&windowClass);
        const RECT screen = currentVirtualScreen();
        window_ = CreateWindowExW(WS_EX_TOPMOST, L"oruPointerTarget", L"pointer target", WS_POPUP | WS_VISIBLE,
                                  screen.left, screen.top, screen.right - screen.left, screen.bottom - screen.top,
                                  nullptr, nullptr,
                                  GetModuleHandleW(nullptr), nullptr);
        SetForegroundWindow(window_);
    }
    ~DesktopWindow() { DestroyWindow(window_); }
    HWND handle() const { return window_; }

private:
    HWND window_ = nullptr;
};

bool arrived(UINT message, POINT at)
{
    for (const Received& r : received) {
        if (r.message == message && r.at.x == at.x && r.at.y == at.y) return true;
    }
    return false;
}

TEST(WinPointerOutput, PlacesAtTheBoardScreensPixelsClippedAndClicksThere)
{
    testing::withoutWindowManager();
    DesktopWindow window;
    ASSERT_NE(window.handle(), nullptr);
    const RECT screen = currentVirtualScreen();
    ASSERT_EQ(screen.right - screen.left, 1280) << "the prefix's X server is 1280x800";
    ASSERT_EQ(screen.bottom - screen.top, 800);
    // The window is up once its first paint has been asked for.
    ASSERT_TRUE(testing::pumpUntil([&] { return IsWindowVisible(window.handle()) && GetUpdateRect(window.handle(), nullptr, FALSE) == FALSE; }));

    const ScreenArea whole{0, 0, 1280, 800, 1.0, 0};
    const ScreenArea left{0, 0, 640, 800, 1.0, 0};
    const ScreenArea right{640, 0, 640, 800, 1.0, 0};
    // A board at 125 %: laid out in logical pixels, placed in physical ones.
    const ScreenArea scaledRight{512, 0, 512, 640, 1.25, 0};
    struct Row {
        const char* what;
        std::vector<ScreenArea> screens;
        std::size_t board;
        POINT point;
        MouseButtonEvent event;
        POINT expected;
        UINT message;
        BOOL swapped = FALSE;  // the account's buttons swapped (left-handed)
    };
    const Row rows[] = {
        {"left press", {whole}, 0, {150, 120}, MouseButtonEvent::LeftDown, {150, 120}, WM_LBUTTONDOWN},
        {"left release", {whole}, 0, {153, 122}, MouseButtonEvent::LeftUp, {153, 122}, WM_LBUTTONUP},
        {"right press", {whole}, 0, {900, 700}, MouseButtonEvent::RightDown, {900, 700}, WM_RBUTTONDOWN},
        {"right release", {whole}, 0, {901, 701}, MouseButtonEvent::RightUp, {901, 701}, WM_RBUTTONUP},
        {"second screen's origin added", {left, right}, 1, {10, 20}, MouseButtonEvent::LeftDown, {650, 20},
         WM_LBUTTONDOWN},
        {"origin of a scaled screen in physical pixels", {left, scaledRight}, 1, {30, 40}, MouseButtonEvent::LeftUp,
         {670, 40}, WM_LBUTTONUP},
        {"past the bottom right: the last pixel", {whole}, 0, {5000, 90000}, MouseButtonEvent::RightDown,
         {1279, 799}, WM_RBUTTONDOWN},
        {"before the top left: the first pixel", {whole}, 0, {-300, -1}, MouseButtonEvent::RightUp, {0, 0},
         WM_RBUTTONUP},
        {"origin plus point past int's range", {left, right}, 1, {2147483647, 799}, MouseButtonEvent::LeftDown,
         {1279, 799}, WM_LBUTTONDOWN},
        {"clipped on one axis only", {whole}, 0, {-5, 400}, MouseButtonEvent::LeftUp, {0, 400}, WM_LBUTTONUP},
        // Swapped buttons: the tip presses the physical right button, which Windows turns into the primary's
        // messages there (wine passes it on unswapped); its release, after the setting went back, lets go of
        // the same physical button.
        {"left-handed: the tip's press", {whole}, 0, {200, 300}, MouseButtonEvent::LeftDown, {200, 300},
         WM_RBUTTONDOWN, TRUE},
        {"left-handed: its release", {whole}, 0, {200, 300}, MouseButtonEvent::LeftUp, {200, 300}, WM_RBUTTONUP},
    };
    WinPointerOutput pointer;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        // A left-handed account: the tip stays the primary button.
        SwapMouseButton(row.swapped);
        received.clear();
        pointer.followScreens(row.screens, row.board);
        pointer.setCursorPos(row.point.x, row.point.y);
        POINT cursor{};
        ASSERT_TRUE(GetCursorPos(&cursor));
        EXPECT_EQ(cursor.x, row.expected.x);
        EXPECT_EQ(cursor.y, row.expected.y);
        // dx/dy carry the point and never move the cursor (no move flag).
        pointer.mouseEvent(row.event, row.point.x, row.point.y);
        EXPECT_TRUE(testing::pumpUntil([&] { return arrived(row.message, row.expected); }))
            << "no button message at " << row.expected.x << "," << row.expected.y;
        EXPECT_TRUE(arrived(WM_MOUSEMOVE, row.expected)) << "the placement's move came elsewhere";
        for (const Received& r : received) {
            EXPECT_TRUE(r.at.x == row.expected.x && r.at.y == row.expected.y)
                << "message " << r.message << " at " << r.at.x << "," << r.at.y;
        }
    }
    SwapMouseButton(FALSE);
}

TEST(WinPointerOutput, TheTipIsThePrimaryButtonOnEveryAccount)
{
    const struct {
        MouseButtonEvent event;
        DWORD plain, swapped;
    } rows[] = {
        {MouseButtonEvent::LeftDown, MOUSEEVENTF_LEFTDOWN, MOUSEEVENTF_RIGHTDOWN},
        {MouseButtonEvent::LeftUp, MOUSEEVENTF_LEFTUP, MOUSEEVENTF_RIGHTUP},
        {MouseButtonEvent::RightDown, MOUSEEVENTF_RIGHTDOWN, MOUSEEVENTF_LEFTDOWN},
        {MouseButtonEvent::RightUp, MOUSEEVENTF_RIGHTUP, MOUSEEVENTF_LEFTUP},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(buttonFlags(row.event, false), row.plain);
        EXPECT_EQ(buttonFlags(row.event, true), row.swapped);
    }
}

} // namespace
} // namespace oru
