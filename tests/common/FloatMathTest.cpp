#include "common/ArithmeticError.h"
#include "common/FloatMath.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

namespace oru {
namespace {

struct RoundingRow {
    Extended value;
    std::int32_t expected;
};

class RoundHalfEven : public testing::TestWithParam<RoundingRow> {};

TEST_P(RoundHalfEven, RoundsToNearestWithHalvesToEven)
{
    EXPECT_EQ(roundHalfEven(GetParam().value), GetParam().expected) << static_cast<double>(GetParam().value);
}

INSTANTIATE_TEST_SUITE_P(
    Table, RoundHalfEven,
    testing::Values(RoundingRow{0.5L, 0}, RoundingRow{1.5L, 2}, RoundingRow{2.5L, 2}, RoundingRow{3.5L, 4},
                    RoundingRow{-0.5L, 0}, RoundingRow{-1.5L, -2}, RoundingRow{-2.5L, -2},
                    RoundingRow{100.4L, 100}, RoundingRow{200.6L, 201}, RoundingRow{-386.6399L, -387},
                    RoundingRow{0.49999999999999999L, 0}, RoundingRow{2.5000000001L, 3},
                    // Beyond the 32-bit range the result is clamped, not wrapped.
                    RoundingRow{3e9L, std::numeric_limits<std::int32_t>::max()},
                    RoundingRow{-3e9L, std::numeric_limits<std::int32_t>::min()}));

TEST(RoundHalfEvenFailure, NonFiniteOrHugeValuesAreInvalidOperations)
{
    EXPECT_THROW(roundHalfEven(std::numeric_limits<Extended>::quiet_NaN()), EInvalidOp);
    EXPECT_THROW(roundHalfEven(std::numeric_limits<Extended>::infinity()), EInvalidOp);
    EXPECT_THROW(roundHalfEven(1e30L), EInvalidOp);
}

TEST(CheckedDivide, ZeroDenominatorRaisesByNumerator)
{
    EXPECT_EQ(checkedDivide(1, 4), 0.25L);
    try {
        checkedDivide(1, 0);
        FAIL() << "x/0 must raise";
    } catch (const EZeroDivide& error) {
        EXPECT_STREQ(error.what(), "Floating point division by zero");
    }
    try {
        checkedDivide(0, -0.0L);
        FAIL() << "0/0 must raise";
    } catch (const EInvalidOp& error) {
        EXPECT_STREQ(error.what(), "Invalid floating point operation");
    }
}

TEST(ToSingle, RaisesInsteadOfStoringInfinityOrNaN)
{
    EXPECT_EQ(toSingle(0.1L), 0.1f);
    EXPECT_THROW(toSingle(1e39L), EOverflow);
    EXPECT_THROW(toSingle(std::numeric_limits<Extended>::quiet_NaN()), EInvalidOp);
}

struct TextRow {
    const char* text;
    std::int32_t expected;
};

class TextToIntAccepts : public testing::TestWithParam<TextRow> {};

TEST_P(TextToIntAccepts, DecimalIntegers)
{
    EXPECT_EQ(textToInt(GetParam().text), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Table, TextToIntAccepts,
                         testing::Values(TextRow{"0", 0}, TextRow{"-0", 0}, TextRow{"7", 7}, TextRow{"+7", 7},
                                         TextRow{"-150", -150}, TextRow{"00042", 42},
                                         TextRow{"2147483647", 2147483647},
                                         TextRow{"-2147483648", std::numeric_limits<std::int32_t>::min()}));

class TextToIntRejects : public testing::TestWithParam<const char*> {};

TEST_P(TextToIntRejects, AnythingElseWithTheTextInTheMessage)
{
    const std::string text = GetParam();
    try {
        textToInt(text);
        FAIL() << "'" << text << "' was accepted";
    } catch (const EConvertError& error) {
        EXPECT_EQ(std::string(error.what()), "'" + text + "' is not a valid integer value");
    }
}

INSTANTIATE_TEST_SUITE_P(Table, TextToIntRejects,
                         testing::Values("", "-", "+", "1.5", " 7", "7 ", "1e3", "0x10", "--1", "12a",
                                         "2147483648", "-2147483649", "99999999999999999999"));

TEST(IntToText, WritesWhatTextToIntReads)
{
    for (std::int32_t value : {0, 1, -1, 634, -510, std::numeric_limits<std::int32_t>::min(),
                               std::numeric_limits<std::int32_t>::max()}) {
        EXPECT_EQ(textToInt(intToText(value)), value);
    }
    EXPECT_EQ(intToText(-150), "-150");
}

} // namespace
} // namespace oru
