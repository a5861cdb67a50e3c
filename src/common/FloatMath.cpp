#include "common/FloatMath.h"

#include "common/ArithmeticError.h"

#include <cfenv>
#include <cmath>
#include <limits>

namespace oru {

Extended checkedDivide(Extended num, Extended den)
{
    if (std::isnan(num) || std::isnan(den)) throw EInvalidOp();
    if (den == 0) {
        if (num == 0) throw EInvalidOp();
        throw EZeroDivide();
    }
    return num / den;
}

float toSingle(Extended value)
{
    if (std::isnan(value)) throw EInvalidOp();
    const float single = static_cast<float>(value);
    if (std::isinf(single)) throw EOverflow();
    return single;
}

std::int32_t roundHalfEven(Extended value)
{
    if (!std::isfinite(value)) throw EInvalidOp();
    // rintl honours the current rounding mode, which is never changed from
    // round-to-nearest-even in this program. (nearbyintl gives the same result
    // but saves and restores the FPU state: three quarters of a report's cost.)
    const Extended rounded = std::rintl(value);
    if (rounded >= 0x1p63L || rounded < -0x1p63L) throw EInvalidOp();
    if (rounded > std::numeric_limits<std::int32_t>::max()) return std::numeric_limits<std::int32_t>::max();
    if (rounded < std::numeric_limits<std::int32_t>::min()) return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(rounded);
}

std::string intToText(std::int32_t value)
{
    return std::to_string(value);
}

std::int32_t textToInt(std::string_view text)
{
    std::size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
        negative = text[i] == '-';
        ++i;
    }
    if (i == text.size()) throw EConvertError(std::string(text));
    std::int64_t magnitude = 0;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c < '0' || c > '9') throw EConvertError(std::string(text));
        magnitude = magnitude * 10 + (c - '0');
        if (magnitude > 0x80000000LL) throw EConvertError(std::string(text));
    }
    const std::int64_t value = negative ? -magnitude : magnitude;
    if (value > std::numeric_limits<std::int32_t>::max()) throw EConvertError(std::string(text));
    return static_cast<std::int32_t>(value);
}

} // namespace oru
