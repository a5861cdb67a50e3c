#pragma once

#include <cstdint>

namespace oru {

/// A point in whole pixels.
struct TPoint {
    std::int32_t x = 0;
    std::int32_t y = 0;
    bool operator==(const TPoint&) const = default;
};

/// A point in fractional pixels.
struct TDoublePoint {
    double x = 0;
    double y = 0;
};

} // namespace oru
