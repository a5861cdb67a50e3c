#include "platform/windows/WinPointerOutput.h"

#include "common/FloatMath.h"
#include "platform/windows/WideText.h"

#include <windows.h>

#include <algorithm>
#include <cstdint>

namespace oru {

namespace {

// origin + point in 64 bits (no int overflow), clipped to [first, end - 1].
int clipToVirtualScreen(int originPx, int pointPx, LONG firstPx, LONG endPx)
{
    const std::int64_t screenPx = std::int64_t{originPx} + pointPx;
    return static_cast<int>(std::clamp<std::int64_t>(screenPx, firstPx, std::int64_t{endPx} - 1));
}

} // namespace

DWORD buttonFlags(MouseButtonEvent event, bool buttonsSwapped)
{
    // MOUSEEVENTF_LEFT* is the physical left button, which an account with
    // swapped buttons (the left-handed setting) takes as its secondary one.
    const bool primary = event == MouseButtonEvent::LeftDown || event == MouseButtonEvent::LeftUp;
    const bool down = event == MouseButtonEvent::LeftDown || event == MouseButtonEvent::RightDown;
    if (primary != buttonsSwapped) return down ? MOUSEEVENTF_LEFTDOWN : MOUSEEVENTF_LEFTUP;
    return down ? MOUSEEVENTF_RIGHTDOWN : MOUSEEVENTF_RIGHTUP;
}

RECT currentVirtualScreen()
{
    const int left = GetSystemMetrics(SM_XVIRTUALSCREEN);
    const int top = GetSystemMetrics(SM_YVIRTUALSCREEN);
    return RECT{left, top, left + std::max(GetSystemMetrics(SM_CXVIRTUALSCREEN), 1),
                top + std::max(GetSystemMetrics(SM_CYVIRTUALSCREEN), 1)};
}

WinPointerOutput::WinPointerOutput() : virtualScreen_(currentVirtualScreen()) {}

void WinPointerOutput::followScreens(const std::vector<ScreenArea>& screens, std::size_t boardScreen)
{
    virtualScreen_ = currentVirtualScreen();
    if (screens.empty()) return;
    // Areas come in layout units (physical pixels over the pixel ratio); the
    // ratio brings the board's origin back to physical pixels.
    const ScreenArea& board = screens[std::min(boardScreen, screens.size() - 1)];
    const Extended ratio = board.pixelRatio > 0 ? board.pixelRatio : 1.0;
    originXPx_ = roundHalfEven(static_cast<Extended>(board.xLogical) * ratio);
    originYPx_ = roundHalfEven(static_cast<Extended>(board.yLogical) * ratio);
}

void WinPointerOutput::setCursorPos(int xPx, int yPx)
{
    // A refusal (another desktop has the input, a secure desktop is up) is
    // the system's: the next report places again.
    SetCursorPos(clipToVirtualScreen(originXPx_, xPx, virtualScreen_.left, virtualScreen_.right),
                 clipToVirtualScreen(originYPx_, yPx, virtualScreen_.top, virtualScreen_.bottom));
}

void WinPointerOutput::mouseEvent(MouseButtonEvent event, int dx, int dy)
{
    // Without MOUSEEVENTF_MOVE, dx and dy are carried along and never move
    // the cursor: the button acts where the last placement put it.
    INPUT input{};
    input.type = INPUT_MOUSE;
    input.mi.dx = dx;
    input.mi.dy = dy;
    // The setting is read at every press, so a change takes effect at once;
    // a release lets go of the physical button its press pressed.
    const bool primary = event == MouseButtonEvent::LeftDown || event == MouseButtonEvent::LeftUp;
    bool& swapped = primary ? primarySwapped_ : secondarySwapped_;
    if (event == MouseButtonEvent::LeftDown || event == MouseButtonEvent::RightDown) {
        swapped = GetSystemMetrics(SM_SWAPBUTTON) != 0;
    }
    input.mi.dwFlags = buttonFlags(event, swapped);
    if (SendInput(1, &input, sizeof input) == 1 || refusalReported_) return;
    refusalReported_ = true;
    // Refused while another desktop has the input (the lock screen, a UAC
    // prompt); input to an elevated window is dropped without a word, which
    // no return value shows.
    diagnostic("Windows refused a pen button event (" + windowsErrorText(GetLastError()) +
               "): the input desktop is locked or another desktop is shown. Unlock the session; the pen's "
               "next press is sent again.");
}

void WinPointerOutput::pause(int ms)
{
    Sleep(static_cast<DWORD>(std::max(ms, 0)));
}

} // namespace oru
