// The per-report path must not allocate: this program replaces the global
// allocation functions with counting ones and handles many reports through a
// calibrated pipeline.

#include "PenReports.h"
#include "fakes/CountingTimer.h"
#include "calibration/CalibrationGeometry.h"
#include "pen/PenPipeline.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <vector>

namespace {
std::atomic<long> allocationCount{0};
} // namespace

void* operator new(std::size_t size)
{
    allocationCount.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return operator new(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

namespace oru {
namespace {

class NullPointerOutput final : public PointerOutput {
public:
    void setCursorPos(int, int) override {}
    void mouseEvent(MouseButtonEvent, int, int) override {}
    void pause(int) override {}
};

TEST(PenAllocations, HandlingReportsAllocatesNothing)
{
    TMainFormState state;
    state.Calibrated = 1;
    // A 1920x1080 screen and a tilted board quad, as a real calibration leaves them.
    fitWarp(state.Warper, {100, 550, 110, 540, -150, -160, -500, -510}, 1920, 1080, kInsetRatio);
    NullPointerOutput pointer;
    test::CountingTimer timer;
    PenPipeline pipeline(state, pointer, timer);

    // Strokes across the board with presses, drags, right clicks and lifts.
    std::vector<test::PenReport> reports;
    for (int i = 0; i < 1000; ++i) {
        const int penState = (i / 40) % 4 == 3 ? 2 : ((i / 20) % 2);
        reports.push_back(test::penReportAt(penState, 110 + (i % 97) * 4.5, -160 - (i % 89) * 3.8, ReceiverBaseline));
    }

    // The counter sees the allocations of this program.
    const long probeBefore = allocationCount.load();
    reports.reserve(reports.capacity() + 1);
    ASSERT_GT(allocationCount.load(), probeBefore);

    const long before = allocationCount.load();
    for (int round = 0; round < 10; ++round) {
        for (const auto& report : reports) pipeline.ShowRead(report.data(), report.size());
        pipeline.gerisayimTimer();
    }
    const long allocations = allocationCount.load() - before;

    EXPECT_EQ(allocations, 0) << "over 10000 reports";
    EXPECT_EQ(timer.restarts, 10000);
}

} // namespace
} // namespace oru
