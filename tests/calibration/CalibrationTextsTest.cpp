#include "calibration/CalibrationTexts.h"

#include <gtest/gtest.h>

namespace oru {
namespace {

TEST(CalibrationTexts, AreTheSamplesRoundedHalvesToEvenInEditOrder)
{
    // CalValues: x of targets 0..3, then y of targets 0..3.
    const std::array<float, 8> calValues = {2.5f, 3.5f, -2.5f, 100.4999f, -0.5f, 1.5f, -150.5f, -510.6f};
    const CalibrationTexts expected{"2", "0", "4", "2", "-2", "-150", "100", "-511"};
    EXPECT_EQ(calibrationTextsFrom(calValues), expected);
}

} // namespace
} // namespace oru
