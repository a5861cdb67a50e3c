#include "calibration/CalibrationProcedure.h"

#include "calibration/RecordingCalibrationHost.h"
#include "common/ArithmeticError.h"

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace oru {
namespace {

// One scripted event, as the report handler or the key handler would leave it.
struct Event {
    int penState;
    int rawX;
    int rawY;
    bool escape = false;
};

class ScriptedView final : public CalibrationView {
public:
    explicit ScriptedView(TMainFormState& state) : state_(state) {}

    std::deque<Event> events;
    std::vector<std::string> shown;  // "R"/"B"/"RB" per showTargets call
    int closeRequests = 0;
    int width = 1920;
    int height = 1080;

    void pump() override {}
    void waitAndPump() override
    {
        if (events.empty()) throw std::logic_error("the run waits for a report the script doesn't have");
        const Event e = events.front();
        events.pop_front();
        if (e.escape) {
            state_.CalCancelled = 1;
            return;
        }
        state_.PenState = e.penState;
        state_.RawX = e.rawX;
        state_.RawY = e.rawY;
    }
    void showTargets(TPoint, bool red, bool blue) override
    {
        shown.push_back(std::string(red ? "R" : "") + (blue ? "B" : ""));
    }
    void requestClose() override { ++closeRequests; }
    bool overTargets() override { return placed; }
    bool placed = true;
    int screenWidthPx() const override { return width; }
    int screenHeightPx() const override { return height; }

private:
    TMainFormState& state_;
};

class CalibrationRun : public ::testing::Test {
protected:
    CalibrationRun()
    {
        state.InsetRatio = kInsetRatio;
        state.Calibrating = 1;
    }

    void penUp() { view.events.push_back({psUp, 0, 0}); }
    void sample(int x, int y) { view.events.push_back({psLeft, x, y}); }
    // A lifted pen, then 22 identical samples: exactly enough to accept.
    void steadyTarget(int x, int y)
    {
        penUp();
        for (int i = 0; i < 22; ++i) sample(x, y);
    }

    TMainFormState state;
    ScriptedView view{state};
    testing::RecordingCalibrationHost host;
    CalibrationProcedure procedure{state, view, host};
};

TEST_F(CalibrationRun, TargetPointsFollowTheScreenSize)
{
    struct Row {
        int w, h;
        std::array<TPoint, 4> points;
    };
    const Row rows[] = {
        {1920, 1080, {{{192, 108}, {1728, 108}, {192, 972}, {1728, 972}}}},
        {1366, 768, {{{137, 77}, {1229, 77}, {137, 691}, {1229, 691}}}},
    };
    for (const Row& row : rows) {
        view.width = row.w;
        view.height = row.h;
        state.CalCancelled = 1;
        procedure.prepareShow();
        EXPECT_EQ(state.CalCancelled, 0);
        EXPECT_EQ(state.TargetPoints, row.points) << row.w << "x" << row.h;
    }
}

TEST_F(CalibrationRun, CompletedRunWritesTextsTurnsGreenAndFits)
{
    procedure.prepareShow();
    steadyTarget(100, -150);
    steadyTarget(550, -160);
    steadyTarget(110, -500);
    steadyTarget(540, -510);

    procedure.run();

    ASSERT_EQ(host.stored.size(), 1u);
    const CalibrationTexts expected{"100", "-150", "550", "-160", "110", "-500", "540", "-510"};
    EXPECT_EQ(host.stored[0], expected);
    EXPECT_EQ(host.colors, std::vector<TColor>{clGreen});
    EXPECT_EQ(state.Calibrating, 0);
    EXPECT_EQ(state.Calibrated, 1);
    EXPECT_FALSE(state.Warper.Dirty);
    EXPECT_EQ(host.completions, 1);
    EXPECT_EQ(view.closeRequests, 4);
    // Board corner 0 lands on target 0.
    state.Warper.MapToScreen(100, -150);
    EXPECT_NEAR(state.Warper.MappedX, 192, 0.01);
    EXPECT_NEAR(state.Warper.MappedY, 108, 0.01);
}

TEST_F(CalibrationRun, StableCountToleratesFourteenButRestartsAtFifteen)
{
    struct Row {
        int dx, dy;
        bool accepted;  // after a first sample and 21 more at this step
        bool alternate = true;  // else every step goes the same way
    };
    const Row rows[] = {{14, 0, true},   {0, 14, true},           {-14, -14, true},       {15, 0, false},
                        {0, -15, false}, {-15, 0, false, false}, {0, -15, false, false}};
    for (const Row& row : rows) {
        TMainFormState fresh;
        state = fresh;
        view.events.clear();
        procedure.prepareShow();
        penUp();
        int x = 600, y = -300;  // 21 steps of 15 one way never reach 0, which never counts
        sample(x, y);
        for (int i = 0; i < 21; ++i) {
            // Alternate directions so the sample stays near the start.
            const int sign = row.alternate && i % 2 ? -1 : 1;
            x += sign * row.dx;
            y += sign * row.dy;
            sample(x, y);
        }
        if (!row.accepted) {
            EXPECT_THROW(procedure.AcquireTarget(0), std::logic_error) << row.dx << "," << row.dy;
        } else {
            procedure.AcquireTarget(0);
            EXPECT_TRUE(view.events.empty()) << "accepted at the 22nd sample, not later";
            EXPECT_EQ(state.CalValues[0], x);
            EXPECT_EQ(state.CalValues[4], y);
        }
    }
}

TEST_F(CalibrationRun, OneOutlierRestartsTheCount)
{
    procedure.prepareShow();
    penUp();
    for (int i = 0; i < 10; ++i) sample(400, -400);
    sample(420, -400);                               // 20 away: count back to 0
    for (int i = 0; i < 20; ++i) sample(420, -400);  // 20 counted: not enough
    sample(420, -401);                               // the 21st
    procedure.AcquireTarget(1);
    EXPECT_TRUE(view.events.empty());
    EXPECT_EQ(state.CalValues[1], 420);
    EXPECT_EQ(state.CalValues[5], -401);
}

TEST_F(CalibrationRun, LiftingThePenKeepsTheCountAndZeroRawXNeverCounts)
{
    procedure.prepareShow();
    penUp();
    for (int i = 0; i < 11; ++i) sample(200, -200);
    penUp();                                   // lifted mid-target: neither counts nor resets
    view.events.push_back({psLeft, 0, -200});  // RawX 0 is ignored whatever RawY is
    view.events.push_back({psRight, 200, -200});
    for (int i = 0; i < 11; ++i) sample(205, -195);
    procedure.AcquireTarget(2);
    EXPECT_TRUE(view.events.empty());
    EXPECT_EQ(state.RawX, 0) << "each taken sample is cleared";
}

TEST_F(CalibrationRun, PenStillDownFromThePreviousTargetIsIgnoredUntilLifted)
{
    procedure.prepareShow();
    state.PenState = psLeft;
    state.RawX = 999;
    for (int i = 0; i < 30; ++i) sample(999, -999);  // before the lift: ignored
    steadyTarget(50, -60);
    procedure.AcquireTarget(3);
    EXPECT_EQ(state.CalValues[3], 50);
    EXPECT_EQ(state.CalValues[7], -60);
}

TEST_F(CalibrationRun, TargetBlinksBlueThenRed)
{
    procedure.prepareShow();
    steadyTarget(500, -500);
    procedure.AcquireTarget(0);
    ASSERT_EQ(view.shown.size(), 23u);
    EXPECT_EQ(view.shown[0], "RB");  // both before the first sample
    for (int i = 1; i <= 11; ++i) EXPECT_EQ(view.shown[i], "B") << i;
    for (int i = 12; i <= 21; ++i) EXPECT_EQ(view.shown[i], "R") << i;
    EXPECT_EQ(view.shown[22], "B") << "the counter wraps after 20";
}

TEST_F(CalibrationRun, EscapeAtTargetTwoChangesNothingStored)
{
    state.Calibrated = 1;
    const TWarper before = state.Warper;
    procedure.prepareShow();
    steadyTarget(100, -150);
    steadyTarget(550, -160);
    penUp();
    sample(111, -222);
    view.events.push_back({0, 0, 0, true});

    procedure.run();

    EXPECT_TRUE(host.stored.empty());
    EXPECT_TRUE(host.colors.empty());
    EXPECT_EQ(host.completions, 0);
    EXPECT_EQ(state.Calibrating, 0);
    EXPECT_EQ(state.Calibrated, 1);
    EXPECT_EQ(state.CalValues[2], 111);
    EXPECT_EQ(state.CalValues[6], -222);
    EXPECT_EQ(state.CalValues[3], 0);
    EXPECT_EQ(state.CalValues[7], 0);
    EXPECT_EQ(state.Warper.WarpMatrix, before.WarpMatrix);
    EXPECT_EQ(view.closeRequests, 4) << "target 3 is still visited";
}

TEST_F(CalibrationRun, EscapeBeforeTheRunVisitsAllTargetsWithoutWaiting)
{
    procedure.prepareShow();
    state.CalCancelled = 1;
    procedure.run();
    EXPECT_EQ(view.closeRequests, 4);
    EXPECT_EQ(state.Calibrating, 0);
    EXPECT_TRUE(host.stored.empty());
}

TEST_F(CalibrationRun, DegenerateSamplesFailWithoutTouchingThePreviousCalibration)
{
    // A working calibration from before.
    state.Warper.ResetIdentity();
    state.Calibrated = 1;
    const TWarper before = state.Warper;
    procedure.prepareShow();
    for (int i = 0; i < 4; ++i) steadyTarget(300, -300);

    EXPECT_THROW(procedure.run(), EZeroDivide);

    EXPECT_TRUE(host.stored.empty()) << "texts keep their previous values";
    EXPECT_TRUE(host.colors.empty()) << "no green for a failed fit";
    EXPECT_EQ(host.completions, 0);
    EXPECT_EQ(state.Calibrated, 1);
    EXPECT_EQ(state.Calibrating, 0);
    EXPECT_FALSE(state.Warper.Dirty);
    EXPECT_EQ(state.Warper.WarpMatrix, before.WarpMatrix);
    state.Warper.MapToScreen(5, 7);
    EXPECT_EQ(state.Warper.MappedX, 5) << "the previous warp still maps";
}

TEST_F(CalibrationRun, AWindowAwayFromTheBoardRunsNothingAndAnEndedRunStillEnds)
{
    procedure.prepareShow();
    view.placed = false;
    EXPECT_FALSE(procedure.runWhereShown());
    EXPECT_EQ(state.CalCancelled, 1);
    EXPECT_EQ(view.closeRequests, 1);
    EXPECT_TRUE(host.stored.empty() && host.colors.empty());
    // Cancelled already: the run ends at once, as on a placed window.
    EXPECT_TRUE(procedure.runWhereShown());
    EXPECT_EQ(host.completions, 0);
}

TEST_F(CalibrationRun, ImplausibleSamplesFailWithoutTouchingThePreviousCalibration)
{
    state.Warper.ResetIdentity();
    state.Calibrated = 1;
    const TWarper before = state.Warper;
    procedure.prepareShow();
    // Targets 0 and 1 taken the wrong way round: the samples fit, crossed.
    steadyTarget(550, -160);
    steadyTarget(100, -150);
    steadyTarget(110, -500);
    steadyTarget(540, -510);

    try {
        procedure.run();
        ADD_FAILURE() << "a crossed set of samples was taken";
    } catch (const EImplausibleCalibration& error) {
        EXPECT_STREQ(error.what(), "Hedeflere sırasıyla dokunulmadı. Lütfen yeniden kalibre edin.");
    }

    EXPECT_TRUE(host.stored.empty()) << "texts keep their previous values";
    EXPECT_TRUE(host.colors.empty()) << "no green for a misplaced run";
    EXPECT_EQ(host.completions, 0);
    EXPECT_EQ(state.Calibrated, 1);
    EXPECT_EQ(state.Calibrating, 0);
    EXPECT_FALSE(state.Warper.Dirty);
    EXPECT_EQ(state.Warper.WarpMatrix, before.WarpMatrix);
    EXPECT_EQ(view.closeRequests, 4) << "the window closes as after any run";
}

TEST_F(CalibrationRun, FirstCalibrationSetsCalibrated)
{
    procedure.prepareShow();
    ASSERT_EQ(state.Calibrated, 0);
    steadyTarget(100, -150);
    steadyTarget(550, -160);
    steadyTarget(110, -500);
    steadyTarget(540, -510);
    procedure.run();
    EXPECT_EQ(state.Calibrated, 1);
}

} // namespace
} // namespace oru
