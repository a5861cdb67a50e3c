#pragma once

#include <stdexcept>
#include <string>

namespace oru {

// Arithmetic faults are errors in this driver, never silent inf or NaN values.
// The texts are shown to the user as they stand.
class EMathError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// x / 0 with x != 0.
class EZeroDivide : public EMathError {
public:
    EZeroDivide() : EMathError("Floating point division by zero") {}
};

// 0 / 0, or any other operation without a defined result.
class EInvalidOp : public EMathError {
public:
    EInvalidOp() : EMathError("Invalid floating point operation") {}
};

// A result too large to be stored as a single.
class EOverflow : public EMathError {
public:
    EOverflow() : EMathError("Floating point overflow") {}
};

// A text that should be a decimal 32-bit integer but is not.
class EConvertError : public std::runtime_error {
public:
    explicit EConvertError(const std::string& text)
        : std::runtime_error("'" + text + "' is not a valid integer value") {}
};

} // namespace oru
