// When the calibration window closes, over scripted events.

#include "calibration/CalibrationClose.h"

#include <gtest/gtest.h>

#include <string>

namespace oru {
namespace {

TEST(CalibrationClose, ACloseAskedForDuringTheRunWaitsUntilItHasReturned)
{
    // Events: r request, c cancel (ESC), s shown, ( the run starts, ) it returns.
    // The log: what happened, "X" where the window closed, "R" while running.
    struct Row {
        const char* events;
        const char* log;
        int calCancelled;
    };
    const Row rows[] = {
        {"r", "rX", 0},              // before the run: at once
        {"s(r)", "s(rR)X", 0},       // during it: once it has returned
        {"s(cr)", "s(cRrR)X", 1},    // ESC and a screen change: one close
        {"s()", "s()", 0},           // a run that completes closes nothing by itself
        {"s(r)s()", "s(rR)Xs()", 0}, // the next show starts clean
    };
    for (const Row& row : rows) {
        TMainFormState state;
        std::string log;
        CalibrationClose close([&] { log += "X"; });
        const std::string events = row.events;
        std::size_t i = 0;
        // Plays events from i up to the matching ")" (or the end).
        std::function<void()> play = [&] {
            for (; i < events.size(); ++i) {
                const char event = events[i];
                log += event;
                if (event == 'r') close.request();
                if (event == 'c') close.cancel(state);
                if ((event == 'r' || event == 'c') && close.running()) log += "R";
                if (event == 's') close.shown();
                if (event == ')') return;
                if (event == '(') {
                    ++i;
                    close.run(play);
                }
            }
        };
        play();
        EXPECT_EQ(log, row.log) << row.events;
        EXPECT_EQ(state.CalCancelled, row.calCancelled) << row.events;
        EXPECT_FALSE(close.running()) << row.events;
    }
}

} // namespace
} // namespace oru
