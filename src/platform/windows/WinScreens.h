#pragma once

#include "display/DesktopScreens.h"

#include <utility>
#include <vector>

namespace oru {

/// The desktop's monitors as Windows lists them (EnumDisplayMonitors), named
/// by their device names ("\\.\DISPLAY1"), in physical pixels: the program is
/// per-monitor DPI aware, so positions, sizes and the pointer share one unit
/// and every pixel ratio is 1.
std::vector<ScreenRecord> windowsScreens();

/// The primary monitor's size in physical pixels (SM_CXSCREEN, SM_CYSCREEN).
std::pair<int, int> windowsPrimaryScreenSize();

} // namespace oru
