#include "harness/BoardModel.h"

#include <stdexcept>

namespace oru::harness {

namespace {

using Matrix = std::array<double, 9>;

Matrix multiply(const Matrix& a, const Matrix& b)
{
    Matrix r{};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            for (int k = 0; k < 3; ++k) r[i * 3 + j] += a[i * 3 + k] * b[k * 3 + j];
    return r;
}

Matrix inverse(const Matrix& m)
{
    const double a = m[0], b = m[1], c = m[2], d = m[3], e = m[4], f = m[5], g = m[6], h = m[7], i = m[8];
    const double det = a * (e * i - f * h) - b * (d * i - f * g) + c * (d * h - e * g);
    if (det == 0) throw std::logic_error("board model: degenerate corner quadrilateral");
    return {(e * i - f * h) / det, (c * h - b * i) / det, (b * f - c * e) / det,
            (f * g - d * i) / det, (a * i - c * g) / det, (c * d - a * f) / det,
            (d * h - e * g) / det, (b * g - a * h) / det, (a * e - b * d) / det};
}

/// The projective map taking the unit square's corners (0,0), (1,0), (1,1),
/// (0,1) onto p0, p1, p2, p3 (Heckbert's square-to-quad construction).
Matrix squareToQuad(PointD p0, PointD p1, PointD p2, PointD p3)
{
    const double sx = p0.x - p1.x + p2.x - p3.x;
    const double sy = p0.y - p1.y + p2.y - p3.y;
    const double dx1 = p1.x - p2.x, dx2 = p3.x - p2.x, dy1 = p1.y - p2.y, dy2 = p3.y - p2.y;
    const double den = dx1 * dy2 - dx2 * dy1;
    const double g = (sx * dy2 - dx2 * sy) / den;
    const double h = (dx1 * sy - sx * dy1) / den;
    return {p1.x - p0.x + g * p1.x, p3.x - p0.x + h * p3.x, p0.x,
            p1.y - p0.y + g * p1.y, p3.y - p0.y + h * p3.y, p0.y,
            g, h, 1};
}

} // namespace

BoardModel::BoardModel(int widthPx, int heightPx, int originX, int originY)
{
    // Receivers A (0, 0) and B (634 units, 0) sit above the image; the image
    // is about 2150 x 1350 units and a little wider at the top.
    const Matrix unitToBoard = squareToQuad({-720, -130}, {1430, -115}, {1415, -1480}, {-700, -1465});
    const Matrix screenToUnit = {1.0 / widthPx, 0, -double(originX) / widthPx, 0, 1.0 / heightPx, -double(originY) / heightPx,
                                 0, 0, 1};
    screenToBoard_ = multiply(unitToBoard, screenToUnit);
    boardToScreen_ = inverse(screenToBoard_);
}

PointD BoardModel::apply(const Matrix& m, PointD p)
{
    const double w = m[6] * p.x + m[7] * p.y + m[8];
    return {(m[0] * p.x + m[1] * p.y + m[2]) / w, (m[3] * p.x + m[4] * p.y + m[5]) / w};
}

PointD BoardModel::boardFromScreen(PointD screenPx) const { return apply(screenToBoard_, screenPx); }

PointD BoardModel::screenFromBoard(PointD boardUnits) const { return apply(boardToScreen_, boardUnits); }

} // namespace oru::harness
