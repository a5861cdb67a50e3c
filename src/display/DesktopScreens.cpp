#include "display/DesktopScreens.h"

#include "common/FloatMath.h"

#include <algorithm>

namespace oru {

namespace {

bool sameGeometry(const ScreenRecord& a, const ScreenRecord& b)
{
    return a.xPx == b.xPx && a.yPx == b.yPx && a.widthPx == b.widthPx && a.heightPx == b.heightPx;
}

int toLogical(int px, double ratio)
{
    return roundHalfEven(static_cast<Extended>(px) / (ratio > 0 ? ratio : 1.0));
}

} // namespace

bool DesktopScreen::answersTo(const std::string& choice) const
{
    return std::find(names.begin(), names.end(), choice) != names.end();
}

bool DesktopScreen::operator==(const DesktopScreen& other) const
{
    const ScreenRecord& a = geometry;
    const ScreenRecord& b = other.geometry;
    return sameGeometry(a, b) && a.primary == b.primary && a.pixelRatio == b.pixelRatio && names == other.names;
}

std::vector<DesktopScreen> collapseMirrors(const std::vector<ScreenRecord>& outputs)
{
    std::vector<DesktopScreen> screens;
    for (const ScreenRecord& output : outputs) {
        auto same = std::find_if(screens.begin(), screens.end(),
                                 [&](const DesktopScreen& screen) { return sameGeometry(screen.geometry, output); });
        if (same == screens.end()) {
            screens.push_back({output, {output.name}});
            continue;
        }
        // The primary output's name leads: it is the one a choice made on
        // this picture stores.
        if (output.primary && !same->geometry.primary) {
            same->names.insert(same->names.begin(), output.name);
            same->geometry.primary = true;
        } else {
            same->names.push_back(output.name);
        }
    }
    for (DesktopScreen& screen : screens) {
        std::string joined;
        for (const std::string& name : screen.names) joined += (joined.empty() ? "" : "=") + name;
        screen.geometry.name = joined;
    }
    return screens;
}

std::string describeScreen(const DesktopScreen& screen)
{
    const ScreenRecord& g = screen.geometry;
    const auto signedText = [](int value) { return (value < 0 ? "" : "+") + std::to_string(value); };
    return (g.name.empty() ? std::string("(unnamed)") : g.name) + " " + std::to_string(g.widthPx) + "x" +
           std::to_string(g.heightPx) + signedText(g.xPx) + signedText(g.yPx) + (g.primary ? " primary" : "");
}

ScreenArea logicalArea(const ScreenRecord& g)
{
    return {toLogical(g.xPx, g.pixelRatio),     toLogical(g.yPx, g.pixelRatio), toLogical(g.widthPx, g.pixelRatio),
            toLogical(g.heightPx, g.pixelRatio), g.pixelRatio,                   g.physicalWidthMm,
            g.name};
}

std::vector<ScreenArea> screenAreas(const std::vector<DesktopScreen>& screens)
{
    std::vector<ScreenArea> areas;
    areas.reserve(screens.size());
    for (const DesktopScreen& screen : screens) areas.push_back(logicalArea(screen.geometry));
    return areas;
}

} // namespace oru
