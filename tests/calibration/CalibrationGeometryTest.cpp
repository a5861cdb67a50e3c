#include "calibration/CalibrationGeometry.h"

#include "app/MainFormState.h"

#include <gtest/gtest.h>

namespace oru {
namespace {

TEST(CalibrationGeometry, ScreenCornersAreTheInsetCornersInTargetOrder)
{
    const auto corners = screenCorners(1920, 1080, kInsetRatio);
    const float expected[4][2] = {{192, 108}, {1728, 108}, {192, 972}, {1728, 972}};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(corners[i].x, expected[i][0]) << "corner " << i;
        EXPECT_EQ(corners[i].y, expected[i][1]) << "corner " << i;
    }
}

TEST(CalibrationGeometry, ScreenCornersAreNotRounded)
{
    // 1366 * 0.1 = 136.6 px: the fit uses the exact inset, the target is drawn at 137.
    const auto corners = screenCorners(1366, 768, kInsetRatio);
    EXPECT_NEAR(corners[0].x, 136.6f, 1e-4);
    EXPECT_NEAR(corners[3].x, 1229.4f, 1e-3);
    EXPECT_NEAR(corners[3].y, 691.2f, 1e-3);
    const auto targets = targetPoints(1366, 768, kInsetRatio);
    EXPECT_EQ(targets[0], (TPoint{137, 77}));
    EXPECT_EQ(targets[3], (TPoint{1229, 691}));
}

TEST(CalibrationGeometry, FitWarpTakesCalValuesAsXsThenYs)
{
    TWarper fromCalValues;
    fitWarp(fromCalValues, {100, 550, 110, 540, -150, -160, -500, -510}, 1920, 1080, kInsetRatio);

    TWarper direct;
    direct.SetScreenQuad(192, 108, 1728, 108, 192, 972, 1728, 972);
    direct.SetBoardQuad(100, -150, 550, -160, 110, -500, 540, -510);
    direct.ComputeMatrix();

    EXPECT_EQ(fromCalValues.WarpMatrix, direct.WarpMatrix);
    EXPECT_FALSE(fromCalValues.Dirty);
}

TEST(CalibrationGeometry, BoardPointsMustFormAConvexWideQuadrilateralInTargetOrder)
{
    struct Row {
        const char* name;
        std::array<SinglePoint, 4> board;  // targets 0 TL, 1 TR, 2 BL, 3 BR, board units
        bool plausible;
    };
    const Row rows[] = {
        {"tilted board of the 1920x1080 example", {{{100, -150}, {550, -160}, {110, -500}, {540, -510}}}, true},
        {"axes mirrored: board y grows downwards like the screen's",
         {{{100, 150}, {550, 160}, {110, 500}, {540, 510}}}, true},
        {"targets 1 and 2 swapped: receivers along a side edge", {{{100, -150}, {110, -500}, {550, -160}, {540, -510}}},
         true},
        {"strongly keystoned: bottom a third of the top", {{{100, -150}, {550, -150}, {250, -500}, {400, -500}}}, true},
        {"targets 0 and 1 swapped: crossed", {{{550, -160}, {100, -150}, {110, -500}, {540, -510}}}, false},
        {"targets 2 and 3 swapped: crossed", {{{100, -150}, {550, -160}, {540, -510}, {110, -500}}}, false},
        {"target 1 nearly in line, bent outwards", {{{100, -150}, {340, -310}, {110, -500}, {540, -510}}}, false},
        {"target 1 nearly in line, bent inwards", {{{100, -150}, {300, -350}, {110, -500}, {540, -510}}}, false},
        {"target 1 deep inside: a dart", {{{100, -150}, {200, -400}, {110, -500}, {540, -510}}}, false},
        {"target 2 touched on target 1's place", {{{100, -150}, {550, -160}, {550, -160}, {540, -510}}}, false},
        {"target 3 touched on target 2's place", {{{100, -150}, {550, -160}, {110, -500}, {110, -500}}}, false},
        {"target 1 touched next to target 0's place", {{{100, -150}, {104, -146}, {110, -500}, {540, -510}}}, false},
        {"targets 0 and 3 close: only the diagonal between them short",
         {{{380, 180}, {560, 520}, {390, 80}, {470, 160}}}, false},
        {"all four on one place", {{{300, -300}, {300, -300}, {300, -300}, {300, -300}}}, false},
        // Shortest side against the longest (the bottom, 500): a fifth is enough.
        {"top exactly a fifth of the bottom", {{{200, 0}, {300, 0}, {0, -300}, {500, -300}}}, true},
        {"top just under a fifth of the bottom", {{{201, 0}, {299, 0}, {0, -300}, {500, -300}}}, false},
        // A sheared board at targets 1 and 2 turning by 30.03 degrees, or by 29.98.
        {"sheared, turning just over 30 degrees", {{{0, 0}, {1000, 0}, {1000, -578}, {2000, -578}}}, true},
        {"sheared, turning just under 30 degrees", {{{0, 0}, {1000, 0}, {1000, -577}, {2000, -577}}}, false},
    };
    for (const Row& row : rows) EXPECT_EQ(boardPointsPlausible(row.board), row.plausible) << row.name;
}

} // namespace
} // namespace oru
