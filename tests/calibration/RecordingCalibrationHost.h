#pragma once

// A calibration host that keeps what a run hands back, for the run's tests
// and the calibration windows' tests.

#include "calibration/CalibrationProcedure.h"

#include <gtest/gtest.h>

#include <vector>

namespace oru::testing {

class RecordingCalibrationHost final : public CalibrationHost {
public:
    std::vector<CalibrationTexts> stored;
    std::vector<TColor> colors;
    int completions = 0;
    void storeCalibrationTexts(const CalibrationTexts& texts) override { stored.push_back(texts); }
    void setTrayColors(TColor color, TColor font) override
    {
        colors.push_back(color);
        EXPECT_EQ(font, clWhite);
    }
    void calibrationCompleted() override { ++completions; }
};

} // namespace oru::testing
