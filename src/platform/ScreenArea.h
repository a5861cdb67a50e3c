#pragma once

#include <string>

namespace oru {

/// One screen as the windowing system reports it: its geometry in Qt's
/// logical pixels (on Wayland the compositor's layout coordinates), its device
/// pixel ratio and its physical width (0 when unknown).
struct ScreenArea {
    int xLogical = 0;
    int yLogical = 0;
    int widthLogical = 0;
    int heightLogical = 0;
    double pixelRatio = 1.0;
    int physicalWidthMm = 0;
    std::string name;  // output name ("HDMI-1"); may be empty
};

} // namespace oru
