#pragma once

// What the demo's phases (DemoFirstStart.cpp, DemoAgain.cpp,
// DemoEndurance.cpp) and their shared steps have in common; private to demo/.

#include "DemoRun.h"

#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <string>

namespace oru::demo {

using Clock = std::chrono::steady_clock;

// The tray host sits in a strip along the top; the canvas stays below it.
inline constexpr int kStripPx = 32;

inline constexpr float kInsetRatio = 0.1f;

/// Where the driver puts the four calibration targets on a w x h screen.
inline std::array<PointD, 4> targetPoints(int w, int h)
{
    // Products in extended precision from the single-precision ratio, rounded
    // half to even: as the driver places its targets.
    const long double r = kInsetRatio, q = 1.0f - kInsetRatio;
    const auto round = [](long double v) { return static_cast<double>(std::nearbyint(v)); };
    return {{{round(w * r), round(h * r)}, {round(w * q), round(h * r)}, {round(w * r), round(h * q)},
             {round(w * q), round(h * q)}}};
}

inline std::string fixed(double value, int decimals = 1)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

inline double seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

} // namespace oru::demo
