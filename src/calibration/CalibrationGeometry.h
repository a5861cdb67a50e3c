#pragma once

#include "app/MainFormState.h"

#include <array>

namespace oru {

struct SinglePoint {
    float x;
    float y;
};

/// Screen corners of the fit for a W x H screen (px) and inset ratio r, in
/// target order, unrounded: (W*r, H*r), (W*(1-r), H*r), (W*r, H*(1-r)), ...
std::array<SinglePoint, 4> screenCorners(int widthPx, int heightPx, float insetRatio);

/// The same corners rounded to whole pixels, halves to even: where targets show.
std::array<TPoint, 4> targetPoints(int widthPx, int heightPx, float insetRatio);

/// Fits the warp from the screen corners and the board samples in CalValues
/// (x of targets 0..3, then y). Raises when the samples are degenerate; the
/// warp then keeps its previous matrix.
void fitWarp(TWarper& warper, const std::array<float, 8>& calValues, int widthPx, int heightPx, float insetRatio);

} // namespace oru
