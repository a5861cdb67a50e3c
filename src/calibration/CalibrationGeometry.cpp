#include "calibration/CalibrationGeometry.h"

#include "common/FloatMath.h"

namespace oru {

std::array<SinglePoint, 4> screenCorners(int widthPx, int heightPx, float insetRatio)
{
    using E = Extended;
    const E r = insetRatio;
    const float left = toSingle(E(widthPx) * r);
    const float top = toSingle(E(heightPx) * r);
    const float right = toSingle(E(widthPx) * (1 - r));
    const float bottom = toSingle(E(heightPx) * (1 - r));
    return {{{left, top}, {right, top}, {left, bottom}, {right, bottom}}};
}

std::array<TPoint, 4> targetPoints(int widthPx, int heightPx, float insetRatio)
{
    using E = Extended;
    const E r = insetRatio;
    const int left = roundHalfEven(E(widthPx) * r);
    const int top = roundHalfEven(E(heightPx) * r);
    const int right = roundHalfEven((1 - r) * E(widthPx));
    const int bottom = roundHalfEven((1 - r) * E(heightPx));
    return {{{left, top}, {right, top}, {left, bottom}, {right, bottom}}};
}

void fitWarp(TWarper& warper, const std::array<float, 8>& calValues, int widthPx, int heightPx, float insetRatio)
{
    const auto s = screenCorners(widthPx, heightPx, insetRatio);
    warper.SetScreenQuad(s[0].x, s[0].y, s[1].x, s[1].y, s[2].x, s[2].y, s[3].x, s[3].y);
    warper.SetBoardQuad(calValues[0], calValues[4], calValues[1], calValues[5], calValues[2], calValues[6],
                        calValues[3], calValues[7]);
    warper.ComputeMatrix();
}

std::array<SinglePoint, 4> boardPoints(const std::array<float, 8>& calValues)
{
    return {{{calValues[0], calValues[4]},
             {calValues[1], calValues[5]},
             {calValues[2], calValues[6]},
             {calValues[3], calValues[7]}}};
}

bool boardPointsPlausible(const std::array<SinglePoint, 4>& board)
{
    using E = Extended;
    struct Vec {
        E x, y;
    };
    // Around the board: top-left, top-right, bottom-right, bottom-left.
    const std::array<Vec, 4> p = {{{board[0].x, board[0].y},
                                   {board[1].x, board[1].y},
                                   {board[3].x, board[3].y},
                                   {board[2].x, board[2].y}}};
    const auto between = [&](int from, int to) { return Vec{p[to].x - p[from].x, p[to].y - p[from].y}; };
    const auto squaredLength = [](Vec v) { return v.x * v.x + v.y * v.y; };

    // Squared lengths of the four sides, then the two diagonals. Board samples
    // are whole units, so these are exact in extended precision.
    const std::array<E, 6> lengths = {squaredLength(between(0, 1)), squaredLength(between(1, 2)),
                                      squaredLength(between(2, 3)), squaredLength(between(3, 0)),
                                      squaredLength(between(0, 2)), squaredLength(between(1, 3))};
    E shortest = lengths[0];
    E longest = lengths[0];
    for (const E l : lengths) {
        if (l < shortest) shortest = l;
        if (l > longest) longest = l;
    }
    // shortest >= longest / 5, squared; four samples on one spot have no longest.
    if (longest == 0 || 25 * shortest < longest) return false;

    // With no side of zero length, every corner has a direction in and out.
    int turnSign = 0;
    for (int k = 0; k < 4; ++k) {
        const Vec in = between((k + 3) % 4, k);
        const Vec out = between(k, (k + 1) % 4);
        const E cross = in.x * out.y - in.y * out.x;  // |in||out| sin(turn)
        const E dot = in.x * out.x + in.y * out.y;    // |in||out| cos(turn)
        const int sign = cross > 0 ? 1 : cross < 0 ? -1 : 0;
        // No turn, a reversal, or a turn the other way than the corner before:
        // not a convex quadrilateral.
        if (sign == 0 || (turnSign != 0 && sign != turnSign)) return false;
        turnSign = sign;
        // turn >= 30 degrees  <=>  cos(turn) <= sqrt(3) |sin(turn)|.
        if (dot > 0 && dot * dot > 3 * cross * cross) return false;
    }
    return true;
}

} // namespace oru
