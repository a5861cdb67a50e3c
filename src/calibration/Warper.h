#pragma once

#include <array>

namespace oru {

/// 4x4 single matrix, row-major: entry r*4+c. Points are row vectors
/// (x, y, 0, 1) multiplied from the left; only rows/columns 0, 1 and 3 carry
/// the 3x3 homography, row and column 2 are the identity's.
using Mat4 = std::array<float, 16>;

/// Board-to-screen projective warp, fitted through the unit square from four
/// board corners (pen tracker units) and four screen corners (pixels), both in
/// the order top-left, top-right, bottom-left, bottom-right.
///
/// Fits and mappings raise EZeroDivide / EInvalidOp instead of producing
/// infinities; a failed fit leaves WarpMatrix as it was and Dirty set.
class TWarper {
public:
    std::array<float, 4> ScreenQuadX{};
    std::array<float, 4> ScreenQuadY{};
    std::array<float, 4> BoardQuadX{};
    std::array<float, 4> BoardQuadY{};
    Mat4 WarpMatrix{};
    Mat4 BoardToSquare{};
    Mat4 SquareToScreen{};
    bool Dirty = false;
    float MappedX = 0;
    float MappedY = 0;

    /// Stores the screen corners and marks the warp for refitting.
    void SetScreenQuad(float x0, float y0, float x1, float y1, float x2, float y2, float x3, float y3);
    /// Stores the board corners and marks the warp for refitting.
    void SetBoardQuad(float x0, float y0, float x1, float y1, float x2, float y2, float x3, float y3);
    /// Both quads become the unit square; WarpMatrix becomes the identity.
    void ResetIdentity();
    /// Fits BoardToSquare, SquareToScreen and WarpMatrix; clears Dirty.
    void ComputeMatrix();
    /// Maps a board point into MappedX/MappedY, refitting first when Dirty.
    /// Allocation-free; a zero projective weight raises and keeps the outputs.
    void MapToScreen(float x, float y);

    /// Unit square (0,0),(1,0),(1,1),(0,1) onto corners 0,1,2,3. Leaves m
    /// untouched when it fails.
    static void SquareToQuad(float x0, float y0, float x1, float y1, float x2, float y2, float x3, float y3,
                             Mat4& m);
    /// Inverse of SquareToQuad; on a zero determinant m holds the forward matrix.
    static void QuadToSquare(float x0, float y0, float x1, float y1, float x2, float y2, float x3, float y3,
                             Mat4& m);
    /// c := a x b, summed left to right in extended precision.
    static void MatMul4(Mat4 a, Mat4 b, Mat4& c);
};

} // namespace oru
