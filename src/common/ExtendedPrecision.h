#pragma once

// The formulas run in the x87 extended type with its full 64-bit mantissa:
// the compiler must give long double that format, and every thread that
// computes must have the x87 unit round to it. Linux starts each thread so;
// Windows starts threads made by CreateThread or the thread pool at 53 bits,
// where results near a half pixel round the other way.

#include "common/FloatMath.h"

#include <limits>

namespace oru {

static_assert(std::numeric_limits<Extended>::digits == 64,
              "long double must be the x87 80-bit extended type (64-bit mantissa): build for x86 with GCC or "
              "Clang (MSVC's long double is a double)");

/// Mantissa bits the x87 unit rounds each result to on the calling thread
/// (its precision control): 24, 53 or 64.
int x87PrecisionBits();

/// Sets the calling thread's x87 precision control to 24, 53 or 64 bits
/// (other values: 64).
void setX87PrecisionBits(int bits);

/// Makes the calling thread round to the 64-bit mantissa the formulas need,
/// and checks that it took (std::logic_error if not). The one place the
/// precision is set: every thread of ours that computes calls it first (the
/// program's main thread at start, each reader thread). Where threads start
/// at 64 bits, as on Linux, it only looks.
void useExtendedPrecision();

} // namespace oru
