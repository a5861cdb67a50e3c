// The per-report path must not allocate: this program replaces the global
// allocation functions with counting ones and handles many reports through a
// calibrated pipeline.

#include "fakes/PenReports.h"
#include "calibration/CalibrationGeometry.h"
#include "pen/PenPipeline.h"
#include "platform/NullPointerOutput.h"

#include "fakes/CountingAllocator.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <new>
#include <vector>


namespace oru {
namespace {

TEST(PenAllocations, HandlingReportsAllocatesNothing)
{
    TMainFormState state;
    state.Calibrated = 1;
    // A 1920x1080 screen and a tilted board quad, as a real calibration leaves them.
    fitWarp(state.Warper, {100, 550, 110, 540, -150, -160, -500, -510}, 1920, 1080, kInsetRatio);
    NullPointerOutput pointer;
    PenPipeline pipeline(state, pointer);

    // Strokes across the board with presses, drags, right clicks and lifts.
    std::vector<test::PenReport> reports;
    for (int i = 0; i < 1000; ++i) {
        const int penState = (i / 40) % 4 == 3 ? 2 : ((i / 20) % 2);
        reports.push_back(test::penReportAt(penState, 110 + (i % 97) * 4.5, -160 - (i % 89) * 3.8, ReceiverBaseline));
    }

    // The counter sees the allocations of this program.
    const long probeBefore = oru::test::allocationCount();
    reports.reserve(reports.capacity() + 1);
    ASSERT_GT(oru::test::allocationCount(), probeBefore);

    // Reports 125 us apart (8,000 per second); every one moves the watchdog on.
    PenTime now{0};
    int restarts = 0;
    const long before = oru::test::allocationCount();
    for (int round = 0; round < 10; ++round) {
        for (const auto& report : reports) {
            now += std::chrono::microseconds{125};
            const PenTime dueBefore = pipeline.watchdogDue();
            pipeline.ShowRead(report.data(), report.size(), now);
            if (pipeline.watchdogDue() != dueBefore) ++restarts;
        }
        now = pipeline.watchdogDue();
        pipeline.tick(now);
    }
    const long allocations = oru::test::allocationCount() - before;

    EXPECT_EQ(allocations, 0) << "over 10000 reports";
    EXPECT_EQ(restarts, 10000);
}

} // namespace
} // namespace oru
