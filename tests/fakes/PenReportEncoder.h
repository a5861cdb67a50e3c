#pragma once

#include "pen/PenPipeline.h"

#include <array>
#include <cmath>
#include <cstdint>

namespace oru::test {

/// The five data bytes of a pen tracker report for a pen state and two
/// distances (report units, 0..16320), coded as high * 255 + low.
inline std::array<std::uint8_t, 5> encodeReport(int penState, int distanceA, int distanceB)
{
    using namespace report;
    return {static_cast<std::uint8_t>((penState << kPenStateShift) | (distanceA / kHighPartWeight)),
            static_cast<std::uint8_t>(distanceB / kHighPartWeight),
            static_cast<std::uint8_t>(distanceA % kHighPartWeight),
            static_cast<std::uint8_t>(distanceB % kHighPartWeight), 0};
}

/// A report whose trilaterated point lies within a unit of board point (x, y), y <= 0.
inline std::array<std::uint8_t, 5> reportAt(int penState, double x, double y)
{
    const int a = static_cast<int>(std::lround(std::hypot(x, y)));
    const int b = static_cast<int>(std::lround(std::hypot(x - ReceiverBaseline, y)));
    return encodeReport(penState, a, b);
}

} // namespace oru::test
