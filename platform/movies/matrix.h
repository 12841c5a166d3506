// 3 × 3 transformation matrices in the movie toolbox's fixed-point layout.
//
// A point (x, y) maps as the row vector [x y 1] times the matrix:
//   x' = (x·m[0][0] + y·m[1][0] + m[2][0]) / w,  y' = (x·m[0][1] + y·m[1][1] + m[2][1]) / w,
//   w  =  x·m[0][2] + y·m[1][2] + m[2][2].
// Entries of the first two columns are 16.16 fixed (translations m[2][0], m[2][1] included);
// the third column is 2.30 fixed. The in-memory order is row by row, nine 32-bit values,
// 36 bytes, which is also the stored order.
#pragma once

#include "platform/movies/fourcc.h"
#include "platform/movies/geometry.h"

#include <array>
#include <cstdint>

namespace zef::movies {

struct MatrixRecord {
    std::array<std::array<int32_t, 3>, 3> m{};

    static MatrixRecord identity();
    // A translation by (dx, dy) pixels (16.16 values).
    static MatrixRecord translation(Fixed dx, Fixed dy);
    // A scale by (sx, sy) about the origin (16.16 values).
    static MatrixRecord scaling(Fixed sx, Fixed sy);
    // The matrix that maps the rectangle from onto the rectangle to (scale then translate).
    // An empty source rectangle gives the identity.
    static MatrixRecord mapRect(const Rect& from, const Rect& to);

    bool isIdentity() const;
    // True when the matrix only scales and translates (no rotation, skew or perspective).
    bool isScaleTranslate() const;

    void translate(Fixed dx, Fixed dy);
    void scale(Fixed sx, Fixed sy, Fixed aboutX = 0, Fixed aboutY = 0);
    // this = this × other (other applied after this).
    void concat(const MatrixRecord& other);

    // Maps a point in double precision; returns false when w is 0.
    bool transformPoint(double& x, double& y) const;
    // The bounding rectangle of the four mapped corners, rounded outwards.
    Rect transformRect(const Rect& r) const;
    // The inverse matrix; returns false (and leaves out untouched) when singular.
    bool invert(MatrixRecord& out) const;

    friend bool operator==(const MatrixRecord&, const MatrixRecord&) = default;
};

} // namespace zef::movies
