#pragma once

#include "platform/ScreenArea.h"

#include <string>
#include <vector>

namespace oru {

/// One output of the desktop as the windowing system lists it. Geometry in
/// device pixels (Qt's logical pixels times the pixel ratio), the unit the
/// pen is mapped in.
struct ScreenRecord {
    std::string name;  // output name ("HDMI-1"); may be empty
    int xPx = 0;       // top-left in the desktop
    int yPx = 0;
    int widthPx = 0;
    int heightPx = 0;
    bool primary = false;
    double pixelRatio = 1.0;  // device pixels per logical pixel
    int physicalWidthMm = 0;  // 0: unknown
};

/// One picture of the desktop. Mirrored outputs show the same part of the
/// desktop, so the board is that picture whichever output feeds it; every
/// output name answers for it.
struct DesktopScreen {
    ScreenRecord geometry;           // name: the output names joined by "="
    std::vector<std::string> names;  // the primary output's first, then in list order

    /// True when choice names one of its outputs.
    bool answersTo(const std::string& choice) const;
    /// Same picture: same geometry, pixel ratio and primary-ness, same outputs.
    bool operator==(const DesktopScreen& other) const;
};

/// Outputs with the same geometry (x, y, width, height) collapse into one
/// screen, primary when any of them is; order of first appearance.
std::vector<DesktopScreen> collapseMirrors(const std::vector<ScreenRecord>& outputs);

/// "NAME WxH+X+Y" (device pixels), with " primary" for the primary screen.
std::string describeScreen(const DesktopScreen& screen);

/// A screen's geometry in Qt's logical pixels (device pixels over its ratio),
/// where windows are placed and the pointer backends lay the desktop out.
ScreenArea logicalArea(const ScreenRecord& screen);

/// The screens in the layout units the pointer backends place in.
std::vector<ScreenArea> screenAreas(const std::vector<DesktopScreen>& screens);

} // namespace oru
