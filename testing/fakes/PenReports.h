#pragma once

// The emulated pen tracker's input report, described once for the pen tests
// and the benchmarks: five data bytes (the report ID is delivered apart),
// pen state in bits 7-6 of byte 0, each distance as a 6-bit high part (byte 0
// for A, byte 1 for B) times 255 plus a low byte (byte 2 for A, byte 3 for B).

#include "fakes/EmulatedPenTracker.h"

namespace oru::test {

inline constexpr int kPenReportBytes = static_cast<int>(emulated::kReportDataBytes);
using PenReport = emulated::Report;

/// Largest distance the report can carry: 63 * 255 + 255 report units.
inline constexpr int kMaxPenDistance = 16320;

/// Encodes a report; distances 0..16320 report units, state 0..3.
constexpr PenReport penReport(int penState, int distanceA, int distanceB)
{
    return emulated::makeReport(penState, distanceA, distanceB);
}

/// The report a pen at board point (x, y) produces (y <= 0: below the
/// receivers' line), distances rounded to whole report units.
inline PenReport penReportAt(int penState, double boardX, double boardY, double receiverBaseline)
{
    return emulated::reportAt(penState, boardX, boardY, receiverBaseline);
}

} // namespace oru::test
