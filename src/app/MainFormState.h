#pragma once

#include "calibration/Warper.h"
#include "common/TPoint.h"
#include "pen/PenTypes.h"

#include <array>
#include <cstdint>

namespace oru {

class THidDevice;

/// All run-time state of the driver, owned by the main window and touched only
/// on the main thread. Flags are 0/1 integers; board coordinates are in the
/// tracker's report units, screen coordinates in pixels of the primary screen.
struct TMainFormState {
    THidDevice* PenDevice = nullptr;
    std::int32_t Calibrating = 0;
    std::int32_t PenState = psUp;
    std::int32_t RawX = 0;  // report units, rounded
    std::int32_t RawY = 0;
    std::array<TPoint, 4> TargetPoints{};  // screen px, targets TL, TR, BL, BR
    std::array<float, 8> CalValues{};      // board x of targets 0..3, then board y
    float InsetRatio = 0;
    std::int32_t CalCancelled = 0;
    std::int32_t LastPenState = psUp;
    std::int32_t Calibrated = 0;

    std::array<std::int32_t, kReportBufferEntries> ReportBuffer{};
    std::int32_t DistanceA = 0;  // report units
    std::int32_t DistanceB = 0;
    std::array<TDoublePoint, kSmoothHistoryEntries> SmoothHistory{};  // screen px, entry 0 newest
    std::int32_t SmoothCount = 0;
    std::int32_t ScreenWidth = 0;  // px
    std::int32_t ScreenHeight = 0;
    TWarper Warper;
};

/// Which CalValues entry each of Edit1..Edit8 carries: x and y of each target in turn.
inline constexpr std::array<int, 8> kEditToCalValue = {0, 4, 1, 5, 2, 6, 3, 7};

/// The single 0.1 inset of the calibration targets (bit pattern 0x3DCCCCCD).
inline constexpr float kInsetRatio = 0.1f;

} // namespace oru
