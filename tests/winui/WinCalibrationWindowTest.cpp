// The Win32 calibration window on the wine prefix's X server (1280x800): it
// covers the screen, each crosshair is on its target's screen point (read
// back from the screen's pixels), an emulated pen completes the run, and ESC
// (before or during the run) and a degenerate fit keep the previous calibration.

#include "winui/WinDesktopTesting.h"
#include "calibration/RecordingCalibrationHost.h"
#include "common/HandlerErrors.h"
#include "platform/windows/WinGdi.h"
#include "winui/WinCalibrationWindow.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace oru {
namespace {

constexpr COLORREF kRed = RGB(255, 0, 0);
constexpr COLORREF kBlue = RGB(0, 6, 255);

// A part of the screen as the X server shows it, read through the screen's DC.
class Screenshot {
public:
    explicit Screenshot(RECT area) : area_(area)
    {
        const int width = area.right - area.left;
        const int height = area.bottom - area.top;
        HDC screen = GetDC(nullptr);
        HDC memory = CreateCompatibleDC(screen);
        void* bits = nullptr;
        HBITMAP bitmap = createTopDownBitmap(screen, width, height, &bits);
        HGDIOBJ old = SelectObject(memory, bitmap);
        BitBlt(memory, 0, 0, width, height, screen, area.left, area.top, SRCCOPY);
        GdiFlush();
        const auto* pixels = static_cast<const std::uint32_t*>(bits);
        pixels_.assign(pixels, pixels + static_cast<std::size_t>(width) * height);
        SelectObject(memory, old);
        DeleteObject(bitmap);
        DeleteDC(memory);
        ReleaseDC(nullptr, screen);
    }

    /// The colour at a screen point; CLR_INVALID outside the area.
    COLORREF at(int x, int y) const
    {
        if (x < area_.left || y < area_.top || x >= area_.right || y >= area_.bottom) return CLR_INVALID;
        const std::uint32_t p =
            pixels_[static_cast<std::size_t>(y - area_.top) * (area_.right - area_.left) + (x - area_.left)];
        return RGB((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF);  // the DIB holds 0x00RRGGBB
    }

    // The crossing of a crosshair of this colour in the area: the second of
    // the two columns (rows) of its vertical (horizontal) 2-pixel line, each
    // at least 60 of the image's 72 pixels long. Empty when there is none.
    std::optional<POINT> crossing(COLORREF color) const
    {
        int lineX = -1, lineY = -1;
        for (int x = area_.left; x < area_.right; ++x) {
            int count = 0;
            for (int y = area_.top; y < area_.bottom; ++y) count += at(x, y) == color;
            if (count >= 60) lineX = x;
        }
        for (int y = area_.top; y < area_.bottom; ++y) {
            int count = 0;
            for (int x = area_.left; x < area_.right; ++x) count += at(x, y) == color;
            if (count >= 60) lineY = y;
        }
        if (lineX < 0 || lineY < 0) return std::nullopt;
        return POINT{lineX, lineY};
    }

private:
    RECT area_;
    std::vector<std::uint32_t> pixels_;
};

// The window with the crosshairs it is asked to show reported to the pen.
class ProbedWindow final : public WinCalibrationWindow {
public:
    using WinCalibrationWindow::WinCalibrationWindow;
    std::function<void(TPoint, bool, bool)> onShow;
    void showTargets(TPoint targetPx, bool redVisible, bool blueVisible) override
    {
        WinCalibrationWindow::showTargets(targetPx, redVisible, blueVisible);
        if (onShow) onShow(targetPx, redVisible, blueVisible);
    }
};

void pressEscape()
{
    INPUT keys[2]{};
    keys[0].type = INPUT_KEYBOARD;
    keys[0].ki.wVk = VK_ESCAPE;
    keys[1] = keys[0];
    keys[1].ki.dwFlags = KEYEVENTF_KEYUP;
    SendInput(2, keys, sizeof(INPUT));
}

// An emulated pen on a 10 ms thread timer, as the report handler would leave
// each report: it holds still at each target once its crosshair has been
// seen on the screen, lifts between targets, and presses ESC where asked.
struct Pen {
    TMainFormState* state = nullptr;
    WinCalibrationWindow* view = nullptr;
    HWND window = nullptr;
    std::chrono::steady_clock::time_point deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    bool gaveUp = false;
    std::array<TPoint, 4> samples{};
    bool escapeAtStart = false;
    int escapeAtTarget = -1;
    int quitAtTarget = -1;  // the program's end (WM_QUIT) comes there

    int target = -1;
    std::optional<COLORREF> awaited;  // a crosshair to see on the screen before going on
    int looks = 0;
    bool escapeSent = false;
    bool quitSent = false;
    std::vector<std::string> seen;      // "target colour" for each crosshair found on its point
    std::vector<std::string> failures;
    bool screenCovered = false;

    void shown(TPoint point, bool red, bool blue)
    {
        // A run on the hidden window (ESC before the start) shows nothing.
        if (!IsWindowVisible(window)) return;
        const int index = targetIndex(point);
        if (index != target) {
            target = index;
            state->PenState = psUp;
            state->RawX = 0;
            awaited = kBlue;  // both shown, blue above red
        } else if (red && !blue && !sawRedAt(index)) {
            awaited = kRed;
        }
    }

    int targetIndex(TPoint point) const
    {
        for (int i = 0; i < 4; ++i) {
            if (state->TargetPoints[i].x == point.x && state->TargetPoints[i].y == point.y) return i;
        }
        return -1;
    }

    bool sawRedAt(int index) const
    {
        return std::find(seen.begin(), seen.end(), std::to_string(index) + " red") != seen.end();
    }

    void tick()
    {
        // Never a hanging test: a run that would not end is ended as the
        // program's end does.
        if (std::chrono::steady_clock::now() > deadline && !gaveUp) {
            gaveUp = true;
            failures.push_back("the run did not end within 20 s");
            view->setQuitRequested();
            return;
        }
        if (escapeAtStart && !escapeSent) {
            escape();
            return;
        }
        if (target < 0) return;
        if (awaited) {
            look();
            return;
        }
        if (target == escapeAtTarget) {
            if (!escapeSent) escape();
            return;
        }
        if (target == quitAtTarget) {
            if (!quitSent) PostQuitMessage(7);
            quitSent = true;
            return;
        }
        state->PenState = psLeft;
        state->RawX = samples[target].x;
        state->RawY = samples[target].y;
    }

    // ESC from the keyboard: it reaches the window only when that has the focus.
    void escape()
    {
        escapeSent = true;
        if (GetForegroundWindow() != window || GetFocus() != window) {
            failures.push_back("the calibration window does not have the keyboard at ESC");
        }
        pressEscape();
    }

    // Waits for the crosshair on the screen (X draws it a little later).
    void look()
    {
        state->RawX = 0;  // no sample meanwhile
        const POINT point{state->TargetPoints[target].x, state->TargetPoints[target].y};
        const Screenshot screen(RECT{point.x - 80, point.y - 80, point.x + 80, point.y + 80});
        const char* colorName = *awaited == kRed ? "red" : "blue";
        if (const auto crossing = screen.crossing(*awaited)) {
            if (std::abs(crossing->x - point.x) > 1 || std::abs(crossing->y - point.y) > 1) {
                failures.push_back(std::string(colorName) + " crosshair of target " + std::to_string(target) +
                                   " crosses at " + std::to_string(crossing->x) + "," +
                                   std::to_string(crossing->y) + ", its point is " + std::to_string(point.x) + "," +
                                   std::to_string(point.y));
            }
            seen.push_back(std::to_string(target) + " " + colorName);
            if (target == 0 && *awaited == kBlue) {
                // The button face in every corner of the screen: nothing else shows there.
                const COLORREF face = GetSysColor(COLOR_BTNFACE);
                const Screenshot whole(RECT{0, 0, 1280, 800});
                screenCovered = whole.at(0, 0) == face && whole.at(1279, 0) == face && whole.at(0, 799) == face &&
                                whole.at(1279, 799) == face && whole.at(640, 799) == face;
            }
            awaited.reset();
            looks = 0;
        } else if (++looks > 300) {
            failures.push_back(std::string("no ") + colorName + " crosshair near target " + std::to_string(target));
            awaited.reset();
        }
    }
};

Pen* runningPen = nullptr;
void CALLBACK penTimer(HWND, UINT, UINT_PTR, DWORD)
{
    if (runningPen) runningPen->tick();
}

TEST(WinCalibrationWindow, CoversTheScreenCentresCrosshairsAndKeepsTheCalibrationOnCancel)
{
    testing::withoutWindowManager();
    const std::array<TPoint, 4> plausible{{{100, -150}, {550, -160}, {110, -500}, {540, -510}}};
    const std::array<TPoint, 4> degenerate{{{300, -300}, {300, -300}, {300, -300}, {300, -300}}};
    const CalibrationTexts expectedTexts{"100", "-150", "550", "-160", "110", "-500", "540", "-510"};
    struct Row {
        const char* what;
        std::array<TPoint, 4> samples;
        bool escapeAtStart;
        int escapeAtTarget;
        int quitAtTarget;
        bool completes;
        const char* error;  // reported after the run, with the window gone
    };
    const Row rows[] = {
        {"a completed run", plausible, false, -1, -1, true, nullptr},
        {"ESC before the run starts", plausible, true, -1, -1, false, nullptr},
        {"ESC at the third target", plausible, false, 2, -1, false, nullptr},
        {"the program ends at the second target", plausible, false, -1, 1, false, nullptr},
        {"four samples in one place", degenerate, false, -1, -1, false, "Floating point division by zero."},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        TMainFormState state;
        // A previous calibration that a cancelled or failed run must keep.
        state.Calibrated = 1;
        state.InsetRatio = kInsetRatio;
        state.Calibrating = 1;  // as the tray's "Kalibre" sets it
        testing::RecordingCalibrationHost host;
        ProbedWindow window(state, host);
        std::vector<std::string> errors;
        bool windowShownAtError = false;
        setHandlerErrorReporter([&](const std::string& text) {
            errors.push_back(text);
            windowShownAtError = IsWindowVisible(window.handle()) != 0;
        });

        Pen pen;
        pen.state = &state;
        pen.view = &window;
        pen.window = window.handle();
        pen.samples = row.samples;
        pen.escapeAtStart = row.escapeAtStart;
        pen.escapeAtTarget = row.escapeAtTarget;
        pen.quitAtTarget = row.quitAtTarget;
        window.onShow = [&](TPoint p, bool red, bool blue) { pen.shown(p, red, blue); };
        runningPen = &pen;
        const UINT_PTR timer = SetTimer(nullptr, 0, 10, penTimer);

        window.exec();
        // The quit taken out of the run's loops is handed on to the program's.
        MSG quit{};
        const bool quitPassedOn = PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE) != 0;
        EXPECT_EQ(quitPassedOn, row.quitAtTarget >= 0);
        if (quitPassedOn) EXPECT_EQ(quit.wParam, 7u);
        RECT placed{};
        GetWindowRect(window.handle(), &placed);
        EXPECT_FALSE(IsWindowVisible(window.handle())) << "exec() returned with the window shown";
        // ESC before the start leaves Timer1 armed: its run on the hidden
        // window ends at once and only then clears Calibrating.
        EXPECT_TRUE(testing::pumpUntil([&] { return state.Calibrating == 0 && !window.underWay(); }));
        KillTimer(nullptr, timer);
        runningPen = nullptr;
        setHandlerErrorReporter({});

        for (const std::string& failure : pen.failures) ADD_FAILURE() << failure;
        EXPECT_EQ(placed.left, 0);
        EXPECT_EQ(placed.top, 0);
        EXPECT_EQ(placed.right, 1280);
        EXPECT_EQ(placed.bottom, 800);
        EXPECT_EQ(window.screenWidthPx(), 1280);
        EXPECT_EQ(window.screenHeightPx(), 800);
        if (row.escapeAtStart) {
            EXPECT_TRUE(pen.seen.empty());
        } else {
            EXPECT_TRUE(pen.screenCovered) << "the screen's corners did not show the window's background";
            // Both crosshairs at every target reached (blue first, red once the pen held 11 samples).
            const int stoppedAt = std::max(row.escapeAtTarget, row.quitAtTarget);
            const int reached = stoppedAt >= 0 ? stoppedAt : 3;
            for (int i = 0; i <= reached; ++i) {
                EXPECT_NE(std::find(pen.seen.begin(), pen.seen.end(), std::to_string(i) + " blue"), pen.seen.end())
                    << "target " << i;
                if (i < reached || stoppedAt < 0) {
                    EXPECT_TRUE(pen.sawRedAt(i)) << "target " << i;
                }
            }
        }
        EXPECT_EQ(state.CalCancelled, row.escapeAtStart || row.escapeAtTarget >= 0 ? 1 : 0);
        EXPECT_EQ(state.Calibrated, 1);
        if (row.completes) {
            ASSERT_EQ(host.stored.size(), 1u);
            EXPECT_EQ(host.stored[0], expectedTexts);
            EXPECT_EQ(host.colors, std::vector<TColor>{clGreen});
            EXPECT_EQ(host.completions, 1);
        } else {
            EXPECT_TRUE(host.stored.empty());
            EXPECT_TRUE(host.colors.empty());
            EXPECT_EQ(host.completions, 0);
        }
        if (row.error) {
            EXPECT_EQ(errors, std::vector<std::string>{row.error});
            EXPECT_FALSE(windowShownAtError) << "the error box would be under the topmost window";
        } else {
            EXPECT_TRUE(errors.empty()) << errors.front();
        }
    }
}

} // namespace
} // namespace oru
