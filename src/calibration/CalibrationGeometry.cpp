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

} // namespace oru
