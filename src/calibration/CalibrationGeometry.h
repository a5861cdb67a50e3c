#pragma once

#include "calibration/Warper.h"
#include "common/TPoint.h"

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

/// The board samples of CalValues (x of targets 0..3, then y) as points in target order.
std::array<SinglePoint, 4> boardPoints(const std::array<float, 8>& calValues);

/// Whether four board samples (board units, targets 0 top-left, 1 top-right,
/// 2 bottom-left, 3 bottom-right) can be where the board saw the targets.
/// Taken around as 0, 1, 3, 2 they must form a convex quadrilateral turning the
/// same way at every corner, by at least 30 degrees (either way round: the
/// board's axes may be mirrored against the screen's), and no side or diagonal
/// may be shorter than a fifth of the longest. A steady touch in the wrong
/// place passes the stable-count rule but fails this: a target touched again
/// where another was, taken nearly in line with two others, or swapped with its
/// neighbour so that the quadrilateral crosses. Targets 1 and 2 swapped pass:
/// that is a board whose receivers are mounted along a side edge.
bool boardPointsPlausible(const std::array<SinglePoint, 4>& board);

} // namespace oru
