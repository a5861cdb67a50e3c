#include "calibration/Warper.h"
#include "common/ArithmeticError.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace oru {
namespace {

constexpr Mat4 kIdentity = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};

// A 1920x1080 screen with targets inset by 0.1, and where a tilted board saw them.
constexpr float kScreenQuad[8] = {192, 108, 1728, 108, 192, 972, 1728, 972};
constexpr float kBoardQuad[8] = {100, -150, 550, -160, 110, -500, 540, -510};

void setScreen(TWarper& w, const float (&q)[8]) { w.SetScreenQuad(q[0], q[1], q[2], q[3], q[4], q[5], q[6], q[7]); }
void setBoard(TWarper& w, const float (&q)[8]) { w.SetBoardQuad(q[0], q[1], q[2], q[3], q[4], q[5], q[6], q[7]); }

TWarper fittedTwoTimesScale()
{
    TWarper w;
    w.SetBoardQuad(0, 0, 100, 0, 0, 100, 100, 100);
    w.SetScreenQuad(10, 20, 210, 20, 10, 220, 210, 220);
    w.ComputeMatrix();
    return w;
}

template <class Error>
std::string messageOf(const std::function<void()>& action)
{
    try {
        action();
    } catch (const Error& error) {
        return error.what();
    }
    return "no error";
}

TEST(Warper, NewInstanceIsAllZeroAndClean)
{
    const TWarper w;
    EXPECT_EQ(w.WarpMatrix, Mat4{});
    EXPECT_FALSE(w.Dirty);
    EXPECT_EQ(w.MappedX, 0);
    EXPECT_EQ(w.MappedY, 0);
}

TEST(Warper, ResetIdentityFitsTheExactIdentity)
{
    TWarper w;
    w.ResetIdentity();
    EXPECT_EQ(w.WarpMatrix, kIdentity);
    EXPECT_FALSE(w.Dirty);
    // The unit square in target order maps through this self-inverse matrix.
    const Mat4 unitSquare = {1, 0, 0, 0, -1, -1, 0, -2, 0, 0, 1, 0, 0, 0, 0, 1};
    EXPECT_EQ(w.BoardToSquare, unitSquare);
    EXPECT_EQ(w.SquareToScreen, unitSquare);

    for (const auto [x, y] : {std::pair{0.0f, 0.0f}, {317.0325f, -386.6399f}, {-1e6f, 3.25f}, {1e-7f, 16320.0f}}) {
        w.MapToScreen(x, y);
        EXPECT_EQ(w.MappedX, x);
        EXPECT_EQ(w.MappedY, y);
    }
}

TEST(Warper, ScaleAndOffsetGiveExactMatrixRows)
{
    TWarper w = fittedTwoTimesScale();
    EXPECT_EQ(w.WarpMatrix, (Mat4{2, 0, 0, 0, 0, 2, 0, 0, 0, 0, 1, 0, 10, 20, 0, 1}));
    EXPECT_FALSE(w.Dirty);
    w.MapToScreen(50, 50);
    EXPECT_EQ(w.MappedX, 110);
    EXPECT_EQ(w.MappedY, 120);
}

TEST(Warper, TiltedBoardMapsEachCornerOntoItsScreenCorner)
{
    TWarper w;
    setScreen(w, kScreenQuad);
    setBoard(w, kBoardQuad);
    w.ComputeMatrix();
    for (int i = 0; i < 4; ++i) {
        w.MapToScreen(kBoardQuad[2 * i], kBoardQuad[2 * i + 1]);
        EXPECT_NEAR(w.MappedX, kScreenQuad[2 * i], 0.01) << "corner " << i;
        EXPECT_NEAR(w.MappedY, kScreenQuad[2 * i + 1], 0.01) << "corner " << i;
    }
    w.MapToScreen(325, -330);
    EXPECT_NEAR(w.MappedX, 960.50, 0.005);
    EXPECT_NEAR(w.MappedY, 530.18, 0.005);
}

TEST(Warper, MappingWithoutComputeMatrixFitsFirst)
{
    TWarper fitted;
    setScreen(fitted, kScreenQuad);
    setBoard(fitted, kBoardQuad);
    fitted.ComputeMatrix();
    fitted.MapToScreen(325, -330);

    TWarper lazy = fittedTwoTimesScale();
    setScreen(lazy, kScreenQuad);
    setBoard(lazy, kBoardQuad);
    lazy.MapToScreen(325, -330);

    EXPECT_FALSE(lazy.Dirty);
    EXPECT_EQ(lazy.WarpMatrix, fitted.WarpMatrix);
    EXPECT_EQ(lazy.MappedX, fitted.MappedX);
    EXPECT_EQ(lazy.MappedY, fitted.MappedY);
}

struct DegenerateBoard {
    const char* name;
    float quad[8];
};

class DegenerateBoardQuad : public testing::TestWithParam<DegenerateBoard> {};

TEST_P(DegenerateBoardQuad, FitFailsAndTheWarperKeepsItsPreviousMatrix)
{
    TWarper w = fittedTwoTimesScale();
    w.MapToScreen(50, 50);
    const Mat4 previous = w.WarpMatrix;
    setBoard(w, GetParam().quad);

    EXPECT_EQ(messageOf<EZeroDivide>([&] { w.ComputeMatrix(); }), "Floating point division by zero");
    EXPECT_TRUE(w.Dirty);
    EXPECT_EQ(w.WarpMatrix, previous);

    // Every later mapping retries the fit and fails the same way.
    for (int attempt = 0; attempt < 2; ++attempt) {
        EXPECT_EQ(messageOf<EZeroDivide>([&] { w.MapToScreen(1, 2); }), "Floating point division by zero");
        EXPECT_TRUE(w.Dirty);
        EXPECT_EQ(w.MappedX, 110);
        EXPECT_EQ(w.MappedY, 120);
    }

    // New samples make it usable again.
    w.SetBoardQuad(0, 0, 100, 0, 0, 100, 100, 100);
    w.MapToScreen(50, 50);
    EXPECT_EQ(w.MappedX, 110);
}

INSTANTIATE_TEST_SUITE_P(Table, DegenerateBoardQuad,
                         testing::Values(DegenerateBoard{"FourIdenticalSamples", {320, -400, 320, -400, 320, -400, 320, -400}},
                                         DegenerateBoard{"AllOnOneLine", {0, 0, 1, 0, 2, 0, 3, 0}},
                                         DegenerateBoard{"ThreeOnALineAndOneOff", {0, 5, 1, 0, 2, 0, 3, 0}},
                                         DegenerateBoard{"AllZero", {0, 0, 0, 0, 0, 0, 0, 0}}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Warper, NeverFittedInstanceFailsWithAnInvalidOperation)
{
    TWarper w;
    EXPECT_EQ(messageOf<EInvalidOp>([&] { w.MapToScreen(10, 20); }), "Invalid floating point operation");
    EXPECT_FALSE(w.Dirty);
    EXPECT_EQ(w.MappedX, 0);
    EXPECT_EQ(w.MappedY, 0);
}

TEST(Warper, ZeroProjectiveWeightFailsAndKeepsTheLastMappedPoint)
{
    TWarper w = fittedTwoTimesScale();
    w.MapToScreen(50, 50);
    // W = x - 40: the line x = 40 lies at infinity.
    w.WarpMatrix[3] = 1;
    w.WarpMatrix[15] = -40;
    EXPECT_THROW(w.MapToScreen(40, 5), EZeroDivide);
    // W = x + 5 and X = 2x + 10 are both zero at x = -5: 0/0.
    w.WarpMatrix[15] = 5;
    EXPECT_THROW(w.MapToScreen(-5, 5), EInvalidOp);
    EXPECT_EQ(w.MappedX, 110);
    EXPECT_EQ(w.MappedY, 120);
}

TEST(SquareToQuad, ParallelogramInSquareOrderHasNoProjectiveTerms)
{
    // Corners in the square's own order: (0,0), (1,0), (1,1), (0,1).
    Mat4 m{};
    TWarper::SquareToQuad(10, 20, 110, 30, 130, 80, 30, 70, m);
    EXPECT_EQ(m, (Mat4{100, 10, 0, 0, 20, 50, 0, 0, 0, 0, 1, 0, 10, 20, 0, 1}));
}

TEST(SquareToQuad, ZeroOverZeroIsAbsorbedAsAnAffineMap)
{
    // Corners 1, 2 and 3 on one line with corner 0: den and g's numerator are 0.
    Mat4 m{};
    TWarper::SquareToQuad(0, 0, 1, 0, 2, 0, 3, 0, m);
    EXPECT_EQ(m, (Mat4{1, 0, 0, 0, 3, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}));
}

TEST(SquareToQuad, ZeroDenominatorWithNonZeroNumeratorFailsAndLeavesTheMatrix)
{
    Mat4 m = kIdentity;
    EXPECT_THROW(TWarper::SquareToQuad(0, 5, 1, 0, 2, 0, 3, 0, m), EZeroDivide);
    EXPECT_EQ(m, kIdentity);
}

TEST(QuadToSquare, ZeroDeterminantLeavesTheForwardMatrix)
{
    Mat4 m = kIdentity;
    EXPECT_THROW(TWarper::QuadToSquare(5, 7, 5, 7, 5, 7, 5, 7, m), EZeroDivide);
    EXPECT_EQ(m, (Mat4{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 5, 7, 0, 1}));
}

TEST(QuadToSquare, InvertsSquareToQuad)
{
    Mat4 forward{};
    Mat4 inverse{};
    TWarper::SquareToQuad(100, -150, 550, -160, 110, -500, 540, -510, forward);
    TWarper::QuadToSquare(100, -150, 550, -160, 110, -500, 540, -510, inverse);
    Mat4 product{};
    TWarper::MatMul4(forward, inverse, product);
    for (int i = 0; i < 16; ++i) {
        const float scale = product[15];  // a homography is defined up to a factor
        EXPECT_NEAR(product[i] / scale, kIdentity[i], 1e-5) << "entry " << i;
    }
}

TEST(MatMul4, ResultMayBeOneOfTheInputs)
{
    Mat4 a = {2, 0, 0, 0, 0, 2, 0, 0, 0, 0, 1, 0, 10, 20, 0, 1};
    TWarper::MatMul4(a, a, a);
    EXPECT_EQ(a, (Mat4{4, 0, 0, 0, 0, 4, 0, 0, 0, 0, 1, 0, 30, 60, 0, 1}));
}

} // namespace
} // namespace oru
