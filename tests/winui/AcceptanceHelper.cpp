// oru-acceptance-helper.exe: the Windows side of windows-acceptance-test.sh.
//
//   oru-acceptance-helper.exe board [X Y]...
//       The pen on the virtual board (testing/harness/BoardModel) of the
//       primary screen: one line "X Y A B BX BY" per screen point, the
//       receivers' distances A and B (report units) of the board point BX, BY
//       under it; first the four calibration targets as the driver places
//       them, then the points given.
//   oru-acceptance-helper.exe clicks LEFT TOP RIGHT BOTTOM
//       A topmost window over that part of the screen that prints
//       "ready", then "left down X Y", "left up X Y", "right down X Y",
//       "right up X Y" for each button message it receives (screen pixels),
//       one line each, at once; it ends when its standard input ends.

#include "app/MainFormState.h"
#include "calibration/CalibrationGeometry.h"
#include "fakes/EmulatedPenTracker.h"
#include "harness/BoardModel.h"
#include "winui/WinDesktopTesting.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <thread>

namespace {

int printBoardPoints(int count, char** coordinates)
{
    const int width = GetSystemMetrics(SM_CXSCREEN);
    const int height = GetSystemMetrics(SM_CYSCREEN);
    const oru::harness::BoardModel board(width, height);
    const auto print = [&](double x, double y) {
        const oru::harness::PointD onBoard = board.boardFromScreen({x, y});
        const auto distances = oru::emulated::distancesAt(onBoard.x, onBoard.y);
        std::printf("%.0f %.0f %d %d %.0f %.0f\n", x, y, distances.a, distances.b, onBoard.x, onBoard.y);
    };
    for (const oru::TPoint& target : oru::targetPoints(width, height, oru::kInsetRatio)) print(target.x, target.y);
    for (int i = 0; i + 1 < count; i += 2) print(std::atof(coordinates[i]), std::atof(coordinates[i + 1]));
    return 0;
}

LRESULT CALLBACK clickLoggingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    const char* what = nullptr;
    switch (message) {
    case WM_LBUTTONDOWN: what = "left down"; break;
    case WM_LBUTTONUP: what = "left up"; break;
    case WM_RBUTTONDOWN: what = "right down"; break;
    case WM_RBUTTONUP: what = "right up"; break;
    case WM_DESTROY: PostQuitMessage(0); return 0;
    default: return DefWindowProcW(window, message, wParam, lParam);
    }
    POINT at{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
    ClientToScreen(window, &at);
    std::printf("%s %ld %ld\n", what, at.x, at.y);
    std::fflush(stdout);
    return 0;
}

// Says "ready", then serves the window messages until the script closes the pipe to it.
[[noreturn]] void serveUntilStdinCloses()
{
    std::printf("ready\n");
    std::fflush(stdout);
    const DWORD uiThread = GetCurrentThreadId();
    std::thread([uiThread] {
        std::string line;
        while (std::getline(std::cin, line)) {
        }
        PostThreadMessageW(uiThread, WM_QUIT, 0, 0);
    }).detach();
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    std::fflush(stdout);
    ExitProcess(0);
}

int logClicks(const RECT& area)
{
    oru::testing::withoutWindowManager();
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = clickLoggingProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"oruClickLog";
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    RegisterClassW(&windowClass);
    HWND window = CreateWindowExW(WS_EX_TOPMOST, L"oruClickLog", L"click log", WS_POPUP | WS_VISIBLE, area.left,
                                  area.top, area.right - area.left, area.bottom - area.top, nullptr, nullptr,
                                  GetModuleHandleW(nullptr), nullptr);
    if (!window) return 1;
    SetForegroundWindow(window);
    if (!oru::testing::pumpUntil([&] { return IsWindowVisible(window) && !GetUpdateRect(window, nullptr, FALSE); }))
        return 1;
    serveUntilStdinCloses();
}

// Another program that took the driver's names: a window of class
// "TMainForm" titled "oru USB Driver" that takes every WM_COPYDATA and does
// nothing, and (withMutex) a mutex "oruDriver".
int squat(bool withMutex)
{
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = [](HWND window, UINT message, WPARAM wParam, LPARAM lParam) -> LRESULT {
        return message == WM_COPYDATA ? TRUE : DefWindowProcA(window, message, wParam, lParam);
    };
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = "TMainForm";
    RegisterClassA(&windowClass);
    if (withMutex && !CreateMutexA(nullptr, FALSE, "oruDriver")) return 1;
    if (!CreateWindowExA(WS_EX_TOOLWINDOW, "TMainForm", "oru USB Driver", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                         GetModuleHandleW(nullptr), nullptr)) {
        return 1;
    }
    serveUntilStdinCloses();
}

} // namespace

int main(int argc, char** argv)
{
    if (argc >= 2 && std::strcmp(argv[1], "board") == 0) return printBoardPoints(argc - 2, argv + 2);
    if (argc >= 2 && argc <= 3 && std::strcmp(argv[1], "squat") == 0) return squat(argc == 2);
    if (argc == 6 && std::strcmp(argv[1], "clicks") == 0)
        return logClicks({std::atoi(argv[2]), std::atoi(argv[3]), std::atoi(argv[4]), std::atoi(argv[5])});
    std::fprintf(stderr,
                 "usage: oru-acceptance-helper.exe board [X Y]... | clicks LEFT TOP RIGHT BOTTOM | squat [window]\n");
    return 2;
}
