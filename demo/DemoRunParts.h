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

inline std::string fixed(double value, int decimals = 1)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

inline double seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

} // namespace oru::demo
