#include "app/StoredCalibration.h"
#include "common/ArithmeticError.h"

#include <gtest/gtest.h>

#include <string>

namespace oru {
namespace {

constexpr Mat4 kIdentity = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};

// A main window's state right after creation, with values the first show must reset.
TMainFormState createdState()
{
    TMainFormState state;
    state.InsetRatio = kInsetRatio;
    state.SmoothCount = 4;
    state.CalCancelled = 1;
    return state;
}

struct FirstShowRow {
    const char* name;
    CalibrationTexts texts;
    FirstShowOutcome outcome;
};

class FirstShowDecision : public testing::TestWithParam<FirstShowRow> {};

TEST_P(FirstShowDecision, TestsOnlyTargetsZeroAndOne)
{
    const auto& row = GetParam();
    TMainFormState state = createdState();

    EXPECT_EQ(applyStoredCalibration(state, row.texts, 1920, 1080), row.outcome);

    EXPECT_EQ(state.SmoothCount, 0);
    EXPECT_EQ(state.CalCancelled, 0);
    EXPECT_EQ(state.ScreenWidth, 1920);
    EXPECT_EQ(state.ScreenHeight, 1080);
    for (int edit = 0; edit < 8; ++edit) {
        EXPECT_EQ(state.CalValues[kEditToCalValue[edit]], std::stof(row.texts[edit])) << "Edit" << edit + 1;
    }
    if (row.outcome == FirstShowOutcome::NeedsCalibration) {
        EXPECT_EQ(state.Calibrated, 0);
        EXPECT_EQ(state.Warper.WarpMatrix, Mat4{});
        EXPECT_FALSE(state.Warper.Dirty);
        return;
    }
    EXPECT_EQ(state.Calibrated, 1);
    EXPECT_FALSE(state.Warper.Dirty);
    // Target 3 (bottom right) was seen at (Edit7, Edit8): it maps onto its inset corner.
    state.Warper.MapToScreen(std::stof(row.texts[6]), std::stof(row.texts[7]));
    EXPECT_NEAR(state.Warper.MappedX, 1728, 0.01);
    EXPECT_NEAR(state.Warper.MappedY, 972, 0.01);
}

INSTANTIATE_TEST_SUITE_P(
    Table, FirstShowDecision,
    testing::Values(
        FirstShowRow{"NothingStored", {"0", "0", "0", "0", "0", "0", "0", "0"}, FirstShowOutcome::NeedsCalibration},
        FirstShowRow{"OnlyTargetsTwoAndThreeStored",
                     {"0", "0", "0", "0", "110", "-500", "540", "-510"},
                     FirstShowOutcome::NeedsCalibration},
        FirstShowRow{"TargetZeroZeroButTargetOneSet",
                     {"0", "0", "550", "-160", "110", "-500", "540", "-510"},
                     FirstShowOutcome::Fitted},
        FirstShowRow{"FirstXZeroButFirstYSet",
                     {"0", "-150", "550", "-160", "110", "-500", "540", "-510"},
                     FirstShowOutcome::Fitted},
        FirstShowRow{"AllStored", {"100", "-150", "550", "-160", "110", "-500", "540", "-510"},
                     FirstShowOutcome::Fitted},
        FirstShowRow{"SignedAndPaddedTexts", {"+100", "-0150", "550", "-160", "110", "-500", "540", "-510"},
                     FirstShowOutcome::Fitted}),
    [](const auto& info) { return std::string(info.param.name); });

class NonIntegerText : public testing::TestWithParam<const char*> {};

TEST_P(NonIntegerText, FailsWithTheTextAndFitsNothing)
{
    TMainFormState state = createdState();
    const std::string bad = GetParam();
    const CalibrationTexts texts{"100", "-150", bad, "-160", "110", "-500", "540", "-510"};

    try {
        applyStoredCalibration(state, texts, 1920, 1080);
        FAIL() << "'" << bad << "' was accepted";
    } catch (const EConvertError& error) {
        EXPECT_EQ(std::string(error.what()), "'" + bad + "' is not a valid integer value");
    }
    EXPECT_EQ(state.Calibrated, 0);
    EXPECT_EQ(state.Warper.WarpMatrix, Mat4{});
    EXPECT_FALSE(state.Warper.Dirty);
    // The texts before the bad one were converted in Edit order.
    EXPECT_EQ(state.CalValues[0], 100);
    EXPECT_EQ(state.CalValues[4], -150);
}

INSTANTIATE_TEST_SUITE_P(Table, NonIntegerText, testing::Values("1.5", "", " 550", "5e2", "2147483648"));

TEST(StoredCalibration, DegenerateSamplesFailTheFitButCountAsCalibrated)
{
    TMainFormState state = createdState();
    const CalibrationTexts texts{"320", "-400", "320", "-400", "320", "-400", "320", "-400"};

    EXPECT_THROW(applyStoredCalibration(state, texts, 1920, 1080), EZeroDivide);

    // Every mapped report then retries the fit and fails the same way.
    EXPECT_EQ(state.Calibrated, 1);
    EXPECT_TRUE(state.Warper.Dirty);
    EXPECT_EQ(state.Warper.WarpMatrix, kIdentity);
    EXPECT_THROW(state.Warper.MapToScreen(320, -400), EZeroDivide);
}

TEST(StoredCalibration, StoredTextsSurviveARoundTrip)
{
    TMainFormState state = createdState();
    const CalibrationTexts texts{"100", "-150", "550", "-160", "110", "-500", "540", "-510"};
    applyStoredCalibration(state, texts, 1280, 800);
    EXPECT_EQ(calibrationTextsFrom(state.CalValues), texts);
}

} // namespace
} // namespace oru
