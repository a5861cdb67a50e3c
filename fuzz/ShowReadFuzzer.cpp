// Arbitrary report bytes through the whole per-report path of a calibrated
// driver: decoding, trilateration, mapping, state machine and smoothing.
// Arithmetic errors are allowed (the report is dropped); crashes, UB and
// writes past ReportBuffer are not.

#include "app/MainFormState.h"
#include "calibration/CalibrationGeometry.h"
#include "common/ArithmeticError.h"
#include "pen/PenPipeline.h"
#include "platform/NullPointerOutput.h"

#include <chrono>
#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static oru::TMainFormState state = [] {
        oru::TMainFormState s;
        s.InsetRatio = oru::kInsetRatio;
        s.Calibrated = 1;
        oru::fitWarp(s.Warper, {100, 550, 110, 540, -150, -160, -500, -510}, 1920, 1080, s.InsetRatio);
        return s;
    }();
    static oru::NullPointerOutput pointer;
    static oru::PenPipeline pipeline(state, pointer);
    static oru::PenTime now{0};

    // The first byte picks the report length (reports may be longer than the
    // buffer); the rest is the report, fed in pieces.
    if (size == 0) return 0;
    const std::size_t chunk = data[0] % 70;
    ++data;
    --size;
    while (size > 0) {
        const std::size_t n = chunk < size ? chunk : size;
        try {
            now += std::chrono::microseconds{125};
            pipeline.ShowRead(data, static_cast<std::uint16_t>(n), now);
        } catch (const oru::EMathError&) {
        }
        data += n;
        size -= n;
        if (chunk == 0) break;
    }
    if (data[-1] & 1) {
        now = pipeline.watchdogDue();
        pipeline.tick(now);
    }
    return 0;
}
