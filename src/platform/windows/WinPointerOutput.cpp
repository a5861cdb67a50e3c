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
    sendRefusedRelease();
    // A refusal (another desktop has the input, a secure desktop is up) is
    // the system's: the next report places again.
    SetCursorPos(clipToVirtualScreen(originXPx_, xPx, virtualScreen_.left, virtualScreen_.right),
                 clipToVirtualScreen(originYPx_, yPx, virtualScreen_.top, virtualScreen_.bottom));
}

namespace {

// The integrity level of a process's token (SECURITY_MANDATORY_*_RID), or -1
// when it can't be asked.
long integrityLevel(HANDLE process)
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(process, TOKEN_QUERY, &token)) return -1;
    alignas(TOKEN_MANDATORY_LABEL) BYTE buffer[sizeof(TOKEN_MANDATORY_LABEL) + SECURITY_MAX_SID_SIZE];
    DWORD size = 0;
    long level = -1;
    if (GetTokenInformation(token, TokenIntegrityLevel, buffer, sizeof buffer, &size)) {
        const PSID sid = reinterpret_cast<TOKEN_MANDATORY_LABEL*>(buffer)->Label.Sid;
        level = static_cast<long>(*GetSidSubAuthority(sid, *GetSidSubAuthorityCount(sid) - 1));
    }
    CloseHandle(token);
    return level;
}

// Whether the window at the cursor belongs to a process of a higher
// integrity level than this one (a program run as administrator): Windows
// drops injected input to it without a word (UIPI).
bool cursorOverHigherIntegrity()
{
    POINT cursor{};
    if (!GetCursorPos(&cursor)) return false;
    DWORD processId = 0;
    GetWindowThreadProcessId(WindowFromPoint(cursor), &processId);
    const HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId);
    if (!process) return false;
    const long theirs = integrityLevel(process);
    CloseHandle(process);
    return theirs > integrityLevel(GetCurrentProcess());
}

// Whether this session's desktop takes input now: not while the lock screen
// or a UAC prompt (the secure desktop) is up.
bool inputDesktopAvailable()
{
    const HDESK desktop = OpenInputDesktop(0, FALSE, DESKTOP_SWITCHDESKTOP);
    if (!desktop) return false;
    CloseDesktop(desktop);
    return true;
}

} // namespace

void WinPointerOutput::sendRefusedRelease()
{
    if (!refusedRelease_) return;
    INPUT input{};
    input.type = INPUT_MOUSE;
    input.mi.dwFlags = refusedRelease_;
    if (SendInput(1, &input, sizeof input) == 1) refusedRelease_ = 0;
}

void WinPointerOutput::mouseEvent(MouseButtonEvent event, int dx, int dy)
{
    // A release the system refused (the session was locked meanwhile) goes
    // first: nothing may stay held once input is taken again.
    sendRefusedRelease();
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
    const bool down = event == MouseButtonEvent::LeftDown || event == MouseButtonEvent::RightDown;
    if (SendInput(1, &input, sizeof input) == 1) {
        // Taken, but dropped on the way when the window there runs as
        // administrator, which no return value shows: said once.
        if (down && !uipiReported_ && cursorOverHigherIntegrity()) {
            uipiReported_ = true;
            diagnostic("the window under the pen belongs to a program run as administrator: Windows drops the "
                       "pen's clicks to it (UIPI). Run that program without administrator rights to use the pen "
                       "on it");
        }
        return;
    }
    const DWORD error = GetLastError();
    if (!down) refusedRelease_ |= input.mi.dwFlags;
    if (refusalReported_) return;
    refusalReported_ = true;
    const char* why = !inputDesktopAvailable()     ? "the session is locked or a secure desktop (UAC) is shown"
                      : cursorOverHigherIntegrity() ? "the window under the pen belongs to a program run as "
                                                      "administrator (UIPI)"
                                                    : "Windows gave no other reason";
    diagnostic("Windows refused a pen button event (" + windowsErrorText(error) + "): " + why +
               ". A refused release is sent again once input is taken, and the pen's next press as usual");
}

void WinPointerOutput::pause(int ms)
{
    Sleep(static_cast<DWORD>(std::max(ms, 0)));
}

} // namespace oru
