#pragma once

// Arithmetic conventions of the driver: values that are stored are singles,
// formulas run in 80-bit extended precision (long double on x86-64), rounding
// to integers is to the nearest, halves to even, and division by zero raises
// an error instead of producing an infinity or NaN.

#include <cstdint>
#include <string>
#include <string_view>

namespace oru {

using Extended = long double;

/// num / den in extended precision; EZeroDivide for x/0, EInvalidOp for 0/0.
Extended checkedDivide(Extended num, Extended den);

/// Rounds to a single; EOverflow when the value is beyond the single range,
/// EInvalidOp for NaN.
float toSingle(Extended value);

/// Nearest integer, halves to even; EInvalidOp when the value is not finite or
/// does not fit 64 bits. Values beyond the 32-bit range are clamped to it.
std::int32_t roundHalfEven(Extended value);

/// Decimal text of a 32-bit integer, with a hyphen-minus for negatives.
std::string intToText(std::int32_t value);

/// Strict decimal 32-bit integer: optional sign, then digits only.
/// EConvertError with the text for anything else (empty, "1.5", " 7", overflow).
std::int32_t textToInt(std::string_view text);

} // namespace oru
