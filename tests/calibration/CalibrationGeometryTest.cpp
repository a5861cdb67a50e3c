#include "calibration/CalibrationGeometry.h"

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

} // namespace
} // namespace oru
