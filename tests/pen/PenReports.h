#pragma once

// The emulated pen tracker's input report, described once for the pen tests
// and the benchmarks: five data bytes (the report ID is delivered apart),
// pen state in bits 7-6 of byte 0, each distance as a 6-bit high part (byte 0
// for A, byte 1 for B) times 255 plus a low byte (byte 2 for A, byte 3 for B).

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>

namespace oru::test {

inline constexpr int kPenReportBytes = 5;
using PenReport = std::array<std::uint8_t, kPenReportBytes>;

/// Largest distance the report can carry: 63 * 255 + 255 report units.
inline constexpr int kMaxPenDistance = 16320;

/// Encodes a report; distances 0..16320 report units, state 0..3.
constexpr PenReport penReport(int penState, int distanceA, int distanceB)
{
    const int highA = std::min(distanceA / 255, 63);
    const int highB = std::min(distanceB / 255, 63);
    return {static_cast<std::uint8_t>((penState << 6) | highA), static_cast<std::uint8_t>(highB),
            static_cast<std::uint8_t>(distanceA - highA * 255), static_cast<std::uint8_t>(distanceB - highB * 255),
            0};
}

/// The report a pen at board point (x, y) produces (y <= 0: below the
/// receivers' line), distances rounded to whole report units.
inline PenReport penReportAt(int penState, double boardX, double boardY, double receiverBaseline)
{
    const double a = std::hypot(boardX, boardY);
    const double b = std::hypot(boardX - receiverBaseline, boardY);
    return penReport(penState, static_cast<int>(std::lround(a)), static_cast<int>(std::lround(b)));
}

} // namespace oru::test
