// Cost of the per-report pen path (decode, trilaterate, map, state machine,
// smoothing) against the cost of one XTest cursor placement, and the number
// of heap allocations per report, which must be zero.
//
// Run: xvfb-run -a build/bench/oru-bench-pen   (the XTest benchmark needs an X display)
//
// The program holds one X connection from start to end. Google Benchmark calls
// a benchmark function several times (iteration estimate, each repetition);
// a connection opened and closed per call leaves the X server without clients
// in between, and an X server started without -noreset (xvfb-run's default)
// then resets, refusing a connection that comes during the reset: "Cannot open
// X display" on a later call.

#include "fakes/PenReports.h"
#include "calibration/CalibrationGeometry.h"
#include "pen/PenPipeline.h"
#include "platform/NullPointerOutput.h"
#include "platform/linux/XTestPointerOutput.h"

#include "fakes/CountingAllocator.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>
#include <new>
#include <vector>


namespace {

using namespace oru;


// Strokes over a tilted board seen from a 1920x1080 screen: hovering, tip
// down, drags, lifts and the odd right click, 1024 distinct reports.
std::vector<test::PenReport> strokes()
{
    std::vector<test::PenReport> reports;
    for (int i = 0; i < 1024; ++i) {
        const int penState = (i / 40) % 4 == 3 ? 2 : ((i / 20) % 2);
        reports.push_back(test::penReportAt(penState, 110 + (i % 97) * 4.5, -160 - (i % 89) * 3.8, ReceiverBaseline));
    }
    return reports;
}

void BM_ShowRead(benchmark::State& bench)
{
    TMainFormState state;
    state.InsetRatio = kInsetRatio;
    state.Calibrated = 1;
    fitWarp(state.Warper, {100, 550, 110, 540, -150, -160, -500, -510}, 1920, 1080, kInsetRatio);
    NullPointerOutput pointer;
    PenPipeline pipeline(state, pointer);
    const auto reports = strokes();

    std::size_t next = 0;
    PenTime now{0};
    const long allocationsBefore = oru::test::allocationCount();
    for (auto _ : bench) {
        const auto& report = reports[next];
        now += std::chrono::microseconds{125};
        pipeline.ShowRead(report.data(), report.size(), now);
        benchmark::DoNotOptimize(state.Warper.MappedX);
        next = (next + 1) % reports.size();
    }
    const long allocations = oru::test::allocationCount() - allocationsBefore;
    bench.counters["allocs_per_report"] =
        benchmark::Counter(static_cast<double>(allocations), benchmark::Counter::kAvgIterations);
    bench.SetItemsProcessed(bench.iterations());
}

void BM_XTestPlacement(benchmark::State& bench, XTestPointerOutput* output)
{
    int i = 0;
    for (auto _ : bench) {
        // A new place every time, as a moving pen gives.
        output->setCursorPos(100 + (i % 700), 100 + (i % 500));
        ++i;
    }
    bench.SetItemsProcessed(bench.iterations());
}

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;

    benchmark::RegisterBenchmark("ShowRead/calibrated", BM_ShowRead)->Repetitions(10)->ReportAggregatesOnly(true);
    // Opened once, before any benchmark runs, and kept until the end.
    std::unique_ptr<XTestPointerOutput> output;
    if (std::getenv("DISPLAY")) {
        try {
            output = std::make_unique<XTestPointerOutput>();
        } catch (const std::exception& error) {
            std::fprintf(stderr, "XTest/placementWithFlush skipped: %s\n", error.what());
        }
    } else {
        std::fprintf(stderr, "XTest/placementWithFlush skipped: DISPLAY is not set (run under xvfb-run -a)\n");
    }
    if (output) {
        benchmark::RegisterBenchmark("XTest/placementWithFlush", BM_XTestPlacement, output.get())
            ->Repetitions(10)
            ->ReportAggregatesOnly(true)
            ->Unit(benchmark::kMicrosecond);
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
