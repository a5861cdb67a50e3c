#include "calibration/Warper.h"

#include "common/ArithmeticError.h"
#include "common/FloatMath.h"

namespace oru {

namespace {
using E = Extended;
} // namespace

void TWarper::SetScreenQuad(float x0, float y0, float x1, float y1, float x2, float y2, float x3, float y3)
{
    ScreenQuadX = {x0, x1, x2, x3};
    ScreenQuadY = {y0, y1, y2, y3};
    Dirty = true;
}

void TWarper::SetBoardQuad(float x0, float y0, float x1, float y1, float x2, float y2, float x3, float y3)
{
    BoardQuadX = {x0, x1, x2, x3};
    BoardQuadY = {y0, y1, y2, y3};
    Dirty = true;
}

void TWarper::ResetIdentity()
{
    SetBoardQuad(0, 0, 1, 0, 0, 1, 1, 1);
    SetScreenQuad(0, 0, 1, 0, 0, 1, 1, 1);
    ComputeMatrix();
}

void TWarper::SquareToQuad(float x0, float y0, float x1, float y1, float x2, float y2, float x3, float y3,
                           Mat4& m)
{
    const float dx1 = toSingle(E(x1) - x2);
    const float dy1 = toSingle(E(y1) - y2);
    const float dx2 = toSingle(E(x3) - x2);
    const float dy2 = toSingle(E(y3) - y2);
    const float sx = toSingle(((E(x0) - x1) + x2) - x3);
    const float sy = toSingle(((E(y0) - y1) + y2) - y3);

    const E den = E(dx1) * dy2 - E(dx2) * dy1;
    const E gNumerator = E(sx) * dy2 - E(dx2) * sy;
    float g = 0;
    float h = 0;
    try {
        g = toSingle(checkedDivide(gNumerator, den));
        h = toSingle(checkedDivide(E(dx1) * sy - E(sx) * dy1, den));
    } catch (const EInvalidOp&) {
        // 0/0: corners 1, 2 and 3 on one line (a degenerate quad). Both
        // projective terms are taken as zero; the fit then fails later, in
        // QuadToSquare, or maps onto a line.
        if (!(den == 0 && gNumerator == 0)) throw;
        g = 0;
        h = 0;
    }

    const float a = toSingle((E(x1) - x0) + E(g) * x1);
    const float d = toSingle((E(y1) - y0) + E(g) * y1);
    const float b = toSingle((E(x3) - x0) + E(h) * x3);
    const float e = toSingle((E(y3) - y0) + E(h) * y3);
    const float c = x0;
    const float f = y0;

    m = Mat4{};
    m[0] = a;
    m[1] = d;
    m[3] = g;
    m[4] = b;
    m[5] = e;
    m[7] = h;
    m[10] = 1;
    m[12] = c;
    m[13] = f;
    m[15] = 1;
}

void TWarper::QuadToSquare(float x0, float y0, float x1, float y1, float x2, float y2, float x3, float y3,
                           Mat4& m)
{
    SquareToQuad(x0, y0, x1, y1, x2, y2, x3, y3, m);
    const float a = m[0], d = m[1], g = m[3];
    const float b = m[4], e = m[5], h = m[7];
    const float c = m[12], f = m[13];

    const float k0 = toSingle(E(e) - E(f) * h);
    const float k1 = toSingle(E(f) * g - d);
    const float k3 = toSingle(E(d) * h - E(e) * g);
    const float k4 = toSingle(E(c) * h - b);
    const float k5 = toSingle(E(a) - E(c) * g);
    const float k7 = toSingle(E(b) * g - E(a) * h);
    const float k12 = toSingle(E(b) * f - E(c) * e);
    const float k13 = toSingle(E(c) * d - E(a) * f);
    const float k15 = toSingle(E(a) * e - E(b) * d);

    const E det = E(a) * k0 + E(b) * k1 + E(c) * k3;
    const float q = toSingle(checkedDivide(1, det));

    m = Mat4{};
    m[0] = toSingle(E(k0) * q);
    m[1] = toSingle(E(k1) * q);
    m[3] = toSingle(E(k3) * q);
    m[4] = toSingle(E(k4) * q);
    m[5] = toSingle(E(k5) * q);
    m[7] = toSingle(E(k7) * q);
    m[10] = 1;
    m[12] = toSingle(E(k12) * q);
    m[13] = toSingle(E(k13) * q);
    m[15] = toSingle(E(k15) * q);
}

void TWarper::MatMul4(Mat4 a, Mat4 b, Mat4& c)
{
    for (int i = 0; i < 4; ++i) {
        for (int j = 0; j < 4; ++j) {
            E sum = E(a[i * 4 + 0]) * b[0 * 4 + j];
            sum += E(a[i * 4 + 1]) * b[1 * 4 + j];
            sum += E(a[i * 4 + 2]) * b[2 * 4 + j];
            sum += E(a[i * 4 + 3]) * b[3 * 4 + j];
            c[i * 4 + j] = toSingle(sum);
        }
    }
}

void TWarper::ComputeMatrix()
{
    QuadToSquare(BoardQuadX[0], BoardQuadY[0], BoardQuadX[1], BoardQuadY[1], BoardQuadX[2], BoardQuadY[2],
                 BoardQuadX[3], BoardQuadY[3], BoardToSquare);
    SquareToQuad(ScreenQuadX[0], ScreenQuadY[0], ScreenQuadX[1], ScreenQuadY[1], ScreenQuadX[2], ScreenQuadY[2],
                 ScreenQuadX[3], ScreenQuadY[3], SquareToScreen);
    MatMul4(BoardToSquare, SquareToScreen, WarpMatrix);
    Dirty = false;
}

void TWarper::MapToScreen(float x, float y)
{
    if (Dirty) ComputeMatrix();
    const Mat4& m = WarpMatrix;
    // Held as doubles, as the reference arithmetic stores them.
    const double X = static_cast<double>(E(x) * m[0] + E(y) * m[4] + E(0) * m[8] + E(1) * m[12]);
    const double Y = static_cast<double>(E(x) * m[1] + E(y) * m[5] + E(0) * m[9] + E(1) * m[13]);
    const double W = static_cast<double>(E(x) * m[3] + E(y) * m[7] + E(0) * m[11] + E(1) * m[15]);
    MappedX = toSingle(checkedDivide(X, W));
    MappedY = toSingle(checkedDivide(Y, W));
}

} // namespace oru
