#pragma once

#include <array>

namespace oru::harness {

/// A point in screen pixels or in board units, depending on context.
struct PointD {
    double x;
    double y;
};

/// The virtual whiteboard: where each screen pixel lies on the board, in the
/// pen tracker's report units. The projector's image on a real board is a
/// slightly keystoned quadrilateral below the two receivers (board y < 0),
/// so the model is projective, not just a scale: about 0.6 px per unit.
class BoardModel {
public:
    /// Board corners of the projected image for a widthPx x heightPx screen
    /// whose top-left is at (originX, originY) in the desktop.
    BoardModel(int widthPx, int heightPx, int originX = 0, int originY = 0);

    PointD boardFromScreen(PointD screenPx) const;
    PointD screenFromBoard(PointD boardUnits) const;

private:
    using Matrix = std::array<double, 9>;  // row-major 3x3, homogeneous
    static PointD apply(const Matrix& m, PointD p);

    Matrix screenToBoard_{};
    Matrix boardToScreen_{};
};

} // namespace oru::harness
