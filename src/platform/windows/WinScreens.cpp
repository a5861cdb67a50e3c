#include "platform/windows/WinScreens.h"

#include "platform/windows/WideText.h"

#include <windows.h>

namespace oru {

namespace {

BOOL CALLBACK addMonitor(HMONITOR monitor, HDC, LPRECT, LPARAM data)
{
    auto& screens = *reinterpret_cast<std::vector<ScreenRecord>*>(data);
    MONITORINFOEXW info{};
    info.cbSize = sizeof info;
    if (!GetMonitorInfoW(monitor, &info)) return TRUE;
    ScreenRecord screen;
    screen.name = narrow(info.szDevice);
    screen.xPx = info.rcMonitor.left;
    screen.yPx = info.rcMonitor.top;
    screen.widthPx = info.rcMonitor.right - info.rcMonitor.left;
    screen.heightPx = info.rcMonitor.bottom - info.rcMonitor.top;
    screen.primary = (info.dwFlags & MONITORINFOF_PRIMARY) != 0;
    screens.push_back(screen);
    return TRUE;
}

} // namespace

std::vector<ScreenRecord> windowsScreens()
{
    std::vector<ScreenRecord> screens;
    EnumDisplayMonitors(nullptr, nullptr, addMonitor, reinterpret_cast<LPARAM>(&screens));
    return screens;
}

std::pair<int, int> windowsPrimaryScreenSize()
{
    return {GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
}

} // namespace oru
