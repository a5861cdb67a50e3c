#include "platform/linux/DesktopLayout.h"

#include <gtest/gtest.h>

#include <string>

namespace oru {
namespace {

std::string text(const PointerPlacement& p)
{
    return "box " + std::to_string(p.box.xPx) + "," + std::to_string(p.box.yPx) + " " + std::to_string(p.box.widthPx) +
           "x" + std::to_string(p.box.heightPx) + " res " + std::to_string(p.box.unitsPerMm) + " origin " +
           std::to_string(p.originXPx) + "," + std::to_string(p.originYPx) + (p.mixedScales ? " mixed" : "") +
           (p.box.boundOutput.empty() ? "" : " on " + p.box.boundOutput);
}

TEST(DesktopLayout, ScalesQtsLogicalLayoutByTheBoardScreensRatio)
{
    struct Row {
        const char* name;
        std::vector<ScreenArea> screens;  // x, y, width, height (logical), ratio, width mm
        std::size_t board;
        const char* expected;
        PointerSpan span = PointerSpan::Desktop;
    };
    const Row rows[] = {
        {"one screen", {{0, 0, 1920, 1080, 1.0, 509}}, 0, "box 0,0 1920x1080 res 4 origin 0,0"},
        {"HiDPI at scale 2", {{0, 0, 1280, 800, 2.0, 286}}, 0, "box 0,0 2560x1600 res 9 origin 0,0"},
        {"fractional 1.5 (Qt 6.5+)", {{0, 0, 1280, 720, 1.5, 0}}, 0, "box 0,0 1920x1080 res 4 origin 0,0"},
        {"fractional 1.25, halves to even", {{0, 0, 1434, 806, 1.25, 0}}, 0, "box 0,0 1792x1008 res 4 origin 0,0"},
        {"board right of the laptop",
         {{0, 0, 1920, 1080, 1.0, 344}, {1920, 0, 1280, 1024, 1.0, 0}}, 1, "box 0,0 3200x1080 res 4 origin 1920,0"},
        {"board right of the laptop, known size",
         {{0, 0, 1920, 1080, 1.0, 344}, {1920, 0, 1280, 1024, 1.0, 2000}}, 1, "box 0,0 3200x1080 res 1 origin 1920,0"},
        {"screen left of the board at negative x",
         {{-1280, 0, 1280, 1024, 1.0, 0}, {0, 0, 1920, 1080, 1.0, 0}}, 1, "box -1280,0 3200x1080 res 4 origin 0,0"},
        {"board below, both at scale 2",
         {{0, 0, 960, 540, 2.0, 0}, {0, 540, 1280, 720, 2.0, 0}}, 1, "box 0,0 2560x2520 res 4 origin 0,1080"},
        {"mixed scales", {{0, 0, 1920, 1080, 1.0, 0}, {1920, 0, 1280, 800, 2.0, 0}}, 0,
         "box 0,0 3200x1080 res 4 origin 0,0 mixed"},
        {"empty screen (headless output being set up)", {{0, 0, 0, 0, 1.0, 0}}, 0, "box 0,0 1x1 res 4 origin 0,0"},
        // weston: the range spans the output the device is bound to.
        {"bound to the board right of the laptop", {{0, 0, 1920, 1080, 1.0, 0}, {1920, 0, 1280, 1024, 1.0, 0, "DP-2"}},
         1, "box 0,0 1280x1024 res 4 origin 0,0 on DP-2", PointerSpan::BoardOutput},
        {"bound to the board at scale 2, left of the laptop",
         {{0, 0, 1280, 800, 1.0, 0, "eDP-1"}, {-960, 0, 960, 540, 2.0, 0, "HDMI-A-1"}}, 1,
         "box 0,0 1920x1080 res 4 origin 0,0 on HDMI-A-1", PointerSpan::BoardOutput},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(text(pointerPlacement(row.screens, row.board, row.span)), row.expected) << row.name;
    }
}

} // namespace
} // namespace oru
