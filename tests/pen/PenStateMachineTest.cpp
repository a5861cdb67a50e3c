#include "fakes/PenReports.h"
#include "fakes/RecordingPointerOutput.h"
#include "common/ArithmeticError.h"
#include "pen/PenPipeline.h"
#include "pen/SmoothPoint.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

namespace oru {
namespace {

using namespace std::chrono_literals;
using Calls = std::vector<std::string>;

// A calibrated pipeline whose warp is the identity, so each handled report's
// mapped point is the board point the test hands in.
class PenStateMachine : public testing::Test {
protected:
    PenStateMachine()
    {
        state.Calibrated = 1;
        state.Warper.ResetIdentity();
    }

    // Reports come 1 ms apart; restarts counts those that moved the watchdog on.
    void report(int penState, float x, float y)
    {
        state.PenState = penState;
        now += 1ms;
        const PenTime dueBefore = pipeline.watchdogDue();
        pipeline.mapAndDrive({x, y}, now);
        if (pipeline.watchdogDue() != dueBefore) ++restarts;
    }
    void show(const test::PenReport& bytes)
    {
        now += 1ms;
        const PenTime dueBefore = pipeline.watchdogDue();
        pipeline.ShowRead(bytes.data(), bytes.size(), now);
        if (pipeline.watchdogDue() != dueBefore) ++restarts;
    }
    // A tick of the watchdog, at the time it falls due.
    void tick()
    {
        now = pipeline.watchdogDue();
        pipeline.tick(now);
    }

    Calls take()
    {
        Calls calls;
        calls.swap(pointer.calls);
        return calls;
    }

    TMainFormState state;
    test::RecordingPointerOutput pointer;
    PenTime now{0};
    PenPipeline pipeline{state, pointer, now};
    int restarts = 0;
};

// Rows: LastPenState, columns: the new PenState.
const char* const kTransitionActions[4][4] = {
    {nullptr, "down left", "down right", nullptr},
    {"up left", nullptr, "down right", nullptr},
    {"up right", "up right", nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr},
};

class TransitionTable : public PenStateMachine, public testing::WithParamInterface<std::tuple<int, int>> {};

TEST_P(TransitionTable, RunsTheCellsActionAndRestartsTheAverage)
{
    const auto [last, next] = GetParam();
    // Two older points in the running average.
    SmoothPoint(state, 20, 31);
    SmoothPoint(state, 20, 31);
    state.LastPenState = last;

    report(next, 50.4f, 60.6f);

    Calls expected;
    if (const char* action = kTransitionActions[last][next]) {
        expected = {"cursor 50 61", std::string(action) + " 50 61"};
        if (std::string(action) == "down left") expected.push_back("pause 10");
        expected.push_back("cursor 50 61");  // the average restarted at this point
    } else {
        expected = {"cursor 30 41"};  // mean of (50.4, 60.6) and the two older points
    }
    EXPECT_EQ(take(), expected);
    EXPECT_EQ(state.LastPenState, next);
    EXPECT_EQ(restarts, 1);
}

INSTANTIATE_TEST_SUITE_P(AllCells, TransitionTable, testing::Combine(testing::Range(0, 4), testing::Range(0, 4)),
                         [](const auto& info) {
                             return "From" + std::to_string(std::get<0>(info.param)) + "To" +
                                    std::to_string(std::get<1>(info.param));
                         });

// The watchdog is due one interval after the last handled report (after the
// pause of a left press); before that a tick does nothing; a late tick
// releases once and keeps the interval's phase.
TEST(PenWatchdog, IsDueOneIntervalAfterTheLastHandledReport)
{
    struct Row {
        int penState;
        std::chrono::milliseconds due;
        std::chrono::milliseconds tickAt;
        Calls calls;
        std::chrono::milliseconds nextDue;
    };
    const Row rows[] = {
        {1, 260ms, 260ms, {"up left 10 10"}, 510ms},
        {2, 250ms, 250ms, {"up right 10 10"}, 500ms},
        {0, 250ms, 250ms, {}, 500ms},
        {1, 260ms, 1000ms, {"up left 10 10"}, 1010ms},
    };
    for (const Row& row : rows) {
        TMainFormState state;
        state.Calibrated = 1;
        state.Warper.ResetIdentity();
        test::RecordingPointerOutput pointer;
        PenPipeline pipeline(state, pointer, PenTime{7ms});
        EXPECT_EQ(pipeline.watchdogDue(), 257ms) << "ticking from its start";
        const PenTime reportAt{1s};
        state.PenState = row.penState;
        pipeline.mapAndDrive({10, 10}, reportAt);
        pointer.calls.clear();

        EXPECT_EQ(pipeline.watchdogDue(), reportAt + row.due) << "state " << row.penState;
        pipeline.tick(reportAt + row.due - 1us);
        EXPECT_EQ(pointer.calls, Calls{}) << "not due yet";
        pipeline.tick(reportAt + row.tickAt);
        EXPECT_EQ(pointer.calls, row.calls) << "state " << row.penState;
        EXPECT_EQ(pipeline.watchdogDue(), reportAt + row.nextDue) << "state " << row.penState;
    }
}

// A step whose penState is kTick is a watchdog tick instead of a report.
constexpr int kTick = -1;

struct SequenceStep {
    int penState;
    float x;
    float y;
    Calls calls;
    int lastPenStateAfter;
};

class PenSequences : public PenStateMachine {
protected:
    void run(const std::vector<SequenceStep>& steps)
    {
        for (std::size_t i = 0; i < steps.size(); ++i) {
            const auto& step = steps[i];
            if (step.penState == kTick) tick();
            else report(step.penState, step.x, step.y);
            EXPECT_EQ(take(), step.calls) << "step " << i + 1;
            EXPECT_EQ(state.LastPenState, step.lastPenStateAfter) << "step " << i + 1;
        }
    }
};

TEST_F(PenSequences, WorkedSequencePressDragLift)
{
    run({
        {1, 100.4f, 200.6f, {"cursor 100 201", "down left 100 201", "pause 10", "cursor 100 201"}, 1},
        {1, 110.0f, 210.0f, {"cursor 105 205"}, 1},
        {0, 120.0f, 220.0f, {"cursor 120 220", "up left 120 220", "cursor 120 220"}, 0},
    });
    EXPECT_EQ(restarts, 3);
}

TEST_F(PenSequences, LeftToRightKeepsLeftDownAndRightToLeftDoesntPressLeft)
{
    run({
        {1, 10, 10, {"cursor 10 10", "down left 10 10", "pause 10", "cursor 10 10"}, 1},
        {2, 20, 20, {"cursor 20 20", "down right 20 20", "cursor 20 20"}, 2},
        {1, 30, 30, {"cursor 30 30", "up right 30 30", "cursor 30 30"}, 1},
        // LastPenState is 1 again, so lifting the pen releases the left button.
        {0, 40, 40, {"cursor 40 40", "up left 40 40", "cursor 40 40"}, 0},
    });
}

struct HeldButtonRow {
    const char* name;
    std::vector<SequenceStep> steps;
};

class HeldButtons : public PenSequences, public testing::WithParamInterface<HeldButtonRow> {};

// Pen up and the watchdog release whatever the table's actions left held:
// no button stays down while the pen hovers or has gone.
TEST_P(HeldButtons, NothingStaysPressedOnceThePenIsUpOrSilent)
{
    run(GetParam().steps);
    tick();
    EXPECT_EQ(take(), Calls{});
    EXPECT_FALSE(pipeline.holdsButton());
}

const SequenceStep kTipDown{1, 10, 10, {"cursor 10 10", "down left 10 10", "pause 10", "cursor 10 10"}, 1};
const SequenceStep kSideButtonToo{2, 20, 20, {"cursor 20 20", "down right 20 20", "cursor 20 20"}, 2};
const SequenceStep kStateThree{3, 20, 20, {"cursor 15 15"}, 3};

INSTANTIATE_TEST_SUITE_P(
    Sequences, HeldButtons,
    testing::Values(
        HeldButtonRow{"LeftThenRightThenUp",
                      {kTipDown, kSideButtonToo,
                       {0, 30, 30, {"cursor 30 30", "up right 30 30", "cursor 30 30", "up left 30 30", "cursor 30 30"},
                        0}}},
        HeldButtonRow{"LeftThenThreeThenUp",
                      {kTipDown, kStateThree, {0, 30, 30, {"cursor 30 30", "up left 30 30", "cursor 30 30"}, 0}}},
        // The watchdog releases at the last mapped point without placing the cursor.
        HeldButtonRow{"LeftThenThreeThenSilence",
                      {kTipDown, kStateThree, {kTick, 0, 0, {"up left 20 20"}, 0},
                       {1, 40, 40, {"cursor 40 40", "down left 40 40", "pause 10", "cursor 40 40"}, 1},
                       {0, 50, 50, {"cursor 50 50", "up left 50 50", "cursor 50 50"}, 0}}},
        HeldButtonRow{"LeftThenRightThenSilence",
                      {kTipDown, kSideButtonToo, {kTick, 0, 0, {"up right 20 20", "up left 20 20"}, 0}}},
        // Unchanged: 2 -> 1 releases right without pressing left, and 1 -> 0
        // still sends its left release.
        HeldButtonRow{"RightThenLeftThenUp",
                      {{2, 10, 10, {"cursor 10 10", "down right 10 10", "cursor 10 10"}, 2},
                       {1, 20, 20, {"cursor 20 20", "up right 20 20", "cursor 20 20"}, 1},
                       {0, 30, 30, {"cursor 30 30", "up left 30 30", "cursor 30 30"}, 0}}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(PenSequences, NegativeMappedPointStillGetsTheTransitionButNoAverage)
{
    run({
        // Rounded halves to even; the desktop clips the cursor, not the driver.
        {1, -3.5f, 20.5f, {"cursor -4 20", "down left -4 20", "pause 10"}, 1},
        {1, -1, 5, {}, 1},
        {1, 8, 9, {"cursor 8 9"}, 1},
        {0, 5, -2.5f, {"cursor 5 -2", "up left 5 -2"}, 0},
    });
    EXPECT_EQ(restarts, 4);
}

TEST_F(PenSequences, NewestPointExactlyAtTheOriginLeavesTheCursorWhereItIs)
{
    run({
        {0, 10, 10, {"cursor 10 10"}, 0},
        {0, 0, 0, {}, 0},
        // The (0, 0) entry closes the window: only the newest point counts.
        {0, 20, 20, {"cursor 20 20"}, 0},
    });
}

TEST_F(PenSequences, HoveringMovesAlongTheAverageWithoutButtons)
{
    run({
        {0, 10, 10, {"cursor 10 10"}, 0},
        {0, 20, 20, {"cursor 15 15"}, 0},
        {0, 30, 30, {"cursor 20 20"}, 0},
    });
}

TEST_F(PenStateMachine, WatchdogReleasesLeftAtTheLastMappedPointWithoutMovingTheCursor)
{
    report(1, 100, 100);
    report(1, 110, 110);  // cursor at the average (105, 105)
    take();

    tick();
    EXPECT_EQ(take(), Calls{"up left 110 110"});
    EXPECT_EQ(state.LastPenState, 0);
    EXPECT_EQ(state.SmoothCount, 2);
    tick();
    EXPECT_EQ(take(), Calls{});

    // Reports resume with the tip down: a new press follows.
    report(1, 120, 120);
    EXPECT_EQ(take(), (Calls{"cursor 120 120", "down left 120 120", "pause 10", "cursor 120 120"}));
}

TEST_F(PenStateMachine, WatchdogReleasesRight)
{
    report(2, 30.5f, 40.5f);
    take();
    tick();
    EXPECT_EQ(take(), Calls{"up right 30 40"});
    EXPECT_EQ(state.LastPenState, 0);
}

TEST_F(PenStateMachine, WatchdogIgnoresUpAndStateThree)
{
    for (int last : {0, 3}) {
        state.LastPenState = last;
        tick();
        EXPECT_EQ(take(), Calls{});
        EXPECT_EQ(state.LastPenState, last);
    }
}

TEST_F(PenStateMachine, ButtonHeldWhenCalibrationStartsIsReleasedByTheWatchdog)
{
    report(1, 10, 10);
    take();
    state.Calibrating = 1;
    show(test::penReport(0, 500, 500));
    EXPECT_EQ(take(), Calls{});
    EXPECT_EQ(state.LastPenState, 1);
    tick();
    EXPECT_EQ(take(), Calls{"up left 10 10"});
}

struct OutputOffRow {
    std::int32_t calibrating;
    std::int32_t calibrated;
};

class PointerOutputOff : public PenStateMachine, public testing::WithParamInterface<OutputOffRow> {};

TEST_P(PointerOutputOff, ReportStillUpdatesPenStateAndRawButNothingElse)
{
    state.Calibrating = GetParam().calibrating;
    state.Calibrated = GetParam().calibrated;
    state.LastPenState = 1;
    state.SmoothCount = 2;
    state.Warper.MappedX = 11;
    state.Warper.MappedY = 22;

    show(test::penReport(2, 1000, 800));

    EXPECT_EQ(state.PenState, 2);
    EXPECT_EQ(state.RawX, 601);
    EXPECT_EQ(state.RawY, -799);
    EXPECT_EQ(take(), Calls{});
    EXPECT_EQ(restarts, 0);
    EXPECT_EQ(state.LastPenState, 1);
    EXPECT_EQ(state.SmoothCount, 2);
    EXPECT_EQ(state.Warper.MappedX, 11);
    EXPECT_EQ(state.Warper.MappedY, 22);
}

INSTANTIATE_TEST_SUITE_P(Table, PointerOutputOff,
                         testing::Values(OutputOffRow{1, 1}, OutputOffRow{1, 0}, OutputOffRow{0, 0},
                                         // Output runs only while Calibrated is exactly 1.
                                         OutputOffRow{0, 2}, OutputOffRow{0, -1}));

// A warp that flips the board's y <= 0 side onto the screen: (x, y) -> (x, -y).
class CalibratedReports : public PenStateMachine {
protected:
    CalibratedReports()
    {
        state.Warper.WarpMatrix = {1, 0, 0, 0, 0, -1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
        state.Warper.Dirty = false;
    }
};

TEST_F(CalibratedReports, ReportIsMappedFromTheUnroundedBoardPoint)
{
    show(test::penReport(1, 500, 500));  // board (317.0325, -386.6399)
    EXPECT_FLOAT_EQ(state.Warper.MappedX, 317.0325f);
    EXPECT_NEAR(state.Warper.MappedY, 386.6399f, 1e-4);
    EXPECT_EQ(take(), (Calls{"cursor 317 387", "down left 317 387", "pause 10", "cursor 317 387"}));
    EXPECT_EQ(state.RawY, -387);
}

TEST_F(CalibratedReports, ReportWhoseMappingFailsIsDroppedAndTheNextOneWorks)
{
    // Projective weight W = x - 317.0325: zero for every pen with equal distances.
    const float halfBaseline = static_cast<float>(trilaterate(500, 500).x);
    state.Warper.WarpMatrix[3] = 1;
    state.Warper.WarpMatrix[15] = -halfBaseline;
    state.Warper.MappedX = 7;
    state.Warper.MappedY = 8;

    const auto failing = test::penReport(1, 500, 500);
    EXPECT_THROW(show(failing), EZeroDivide);
    EXPECT_EQ(state.PenState, 1);
    EXPECT_EQ(state.RawX, 317);
    EXPECT_EQ(state.LastPenState, 0);
    EXPECT_EQ(state.Warper.MappedX, 7);
    EXPECT_EQ(state.Warper.MappedY, 8);
    EXPECT_EQ(restarts, 0);
    EXPECT_EQ(take(), Calls{});

    show(test::penReport(1, 1000, 800));  // W = 283.88: maps to about (2.12, 2.82)
    EXPECT_EQ(take(), (Calls{"cursor 2 3", "down left 2 3", "pause 10", "cursor 2 3"}));
    EXPECT_EQ(state.LastPenState, 1);
    EXPECT_EQ(restarts, 1);
}

} // namespace
} // namespace oru
