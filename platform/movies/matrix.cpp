#include "platform/movies/matrix.h"

#include <algorithm>
#include <cmath>

namespace zef::movies {

namespace {
// The matrix as doubles in plain units (the third column converted from 2.30).
using Mat = std::array<std::array<double, 3>, 3>;

Mat toDouble(const MatrixRecord& r)
{
    Mat d{};
    for (int i = 0; i < 3; ++i) {
        d[i][0] = fixedToDouble(r.m[i][0]);
        d[i][1] = fixedToDouble(r.m[i][1]);
        d[i][2] = fractToDouble(r.m[i][2]);
    }
    return d;
}

MatrixRecord fromDouble(const Mat& d)
{
    MatrixRecord r;
    for (int i = 0; i < 3; ++i) {
        r.m[i][0] = doubleToFixed(d[i][0]);
        r.m[i][1] = doubleToFixed(d[i][1]);
        r.m[i][2] = doubleToFract(d[i][2]);
    }
    return r;
}
} // namespace

MatrixRecord MatrixRecord::identity()
{
    MatrixRecord r;
    r.m[0][0] = kFixed1;
    r.m[1][1] = kFixed1;
    r.m[2][2] = kFract1;
    return r;
}

MatrixRecord MatrixRecord::translation(Fixed dx, Fixed dy)
{
    MatrixRecord r = identity();
    r.m[2][0] = dx;
    r.m[2][1] = dy;
    return r;
}

MatrixRecord MatrixRecord::scaling(Fixed sx, Fixed sy)
{
    MatrixRecord r = identity();
    r.m[0][0] = sx;
    r.m[1][1] = sy;
    return r;
}

MatrixRecord MatrixRecord::mapRect(const Rect& from, const Rect& to)
{
    if (from.isEmpty()) return identity();
    MatrixRecord r = identity();
    r.m[0][0] = fixRatio(to.width(), from.width());
    r.m[1][1] = fixRatio(to.height(), from.height());
    double sx = double(to.width()) / from.width();
    double sy = double(to.height()) / from.height();
    r.m[2][0] = doubleToFixed(to.left - from.left * sx);
    r.m[2][1] = doubleToFixed(to.top - from.top * sy);
    return r;
}

bool MatrixRecord::isIdentity() const { return *this == identity(); }

bool MatrixRecord::isScaleTranslate() const
{
    return m[0][1] == 0 && m[1][0] == 0 && m[0][2] == 0 && m[1][2] == 0 && m[2][2] == kFract1;
}

void MatrixRecord::translate(Fixed dx, Fixed dy) { concat(translation(dx, dy)); }

void MatrixRecord::scale(Fixed sx, Fixed sy, Fixed aboutX, Fixed aboutY)
{
    translate(-aboutX, -aboutY);
    concat(scaling(sx, sy));
    translate(aboutX, aboutY);
}

void MatrixRecord::concat(const MatrixRecord& other)
{
    Mat a = toDouble(*this), b = toDouble(other), c{};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            c[i][j] = a[i][0] * b[0][j] + a[i][1] * b[1][j] + a[i][2] * b[2][j];
    *this = fromDouble(c);
}

bool MatrixRecord::transformPoint(double& x, double& y) const
{
    Mat d = toDouble(*this);
    double w = x * d[0][2] + y * d[1][2] + d[2][2];
    if (w == 0.0) return false;
    double nx = (x * d[0][0] + y * d[1][0] + d[2][0]) / w;
    double ny = (x * d[0][1] + y * d[1][1] + d[2][1]) / w;
    x = nx;
    y = ny;
    return true;
}

Rect MatrixRecord::transformRect(const Rect& r) const
{
    double xs[4] = {double(r.left), double(r.right), double(r.left), double(r.right)};
    double ys[4] = {double(r.top), double(r.top), double(r.bottom), double(r.bottom)};
    double minX = 0, minY = 0, maxX = 0, maxY = 0;
    for (int i = 0; i < 4; ++i) {
        if (!transformPoint(xs[i], ys[i])) return Rect{};
        if (i == 0 || xs[i] < minX) minX = xs[i];
        if (i == 0 || xs[i] > maxX) maxX = xs[i];
        if (i == 0 || ys[i] < minY) minY = ys[i];
        if (i == 0 || ys[i] > maxY) maxY = ys[i];
    }
    // Round outwards, but forgive the fixed-point error of exact pixel edges.
    constexpr double eps = 1.0 / 4096.0;
    return Rect{int32_t(std::floor(minX + eps)), int32_t(std::floor(minY + eps)),
                int32_t(std::ceil(maxX - eps)), int32_t(std::ceil(maxY - eps))};
}

bool MatrixRecord::invert(MatrixRecord& out) const
{
    Mat a = toDouble(*this);
    double det = a[0][0] * (a[1][1] * a[2][2] - a[1][2] * a[2][1]) -
                 a[0][1] * (a[1][0] * a[2][2] - a[1][2] * a[2][0]) +
                 a[0][2] * (a[1][0] * a[2][1] - a[1][1] * a[2][0]);
    if (std::fabs(det) < 1e-12) return false;
    Mat inv{};
    inv[0][0] = (a[1][1] * a[2][2] - a[1][2] * a[2][1]) / det;
    inv[0][1] = (a[0][2] * a[2][1] - a[0][1] * a[2][2]) / det;
    inv[0][2] = (a[0][1] * a[1][2] - a[0][2] * a[1][1]) / det;
    inv[1][0] = (a[1][2] * a[2][0] - a[1][0] * a[2][2]) / det;
    inv[1][1] = (a[0][0] * a[2][2] - a[0][2] * a[2][0]) / det;
    inv[1][2] = (a[0][2] * a[1][0] - a[0][0] * a[1][2]) / det;
    inv[2][0] = (a[1][0] * a[2][1] - a[1][1] * a[2][0]) / det;
    inv[2][1] = (a[0][1] * a[2][0] - a[0][0] * a[2][1]) / det;
    inv[2][2] = (a[0][0] * a[1][1] - a[0][1] * a[1][0]) / det;
    // Normalise so that the homogeneous corner is 1 where possible, as affine matrices expect.
    if (std::fabs(inv[2][2]) > 1e-12) {
        double k = inv[2][2];
        for (auto& row : inv)
            for (double& v : row)
                v /= k;
    }
    out = fromDouble(inv);
    return true;
}

} // namespace zef::movies
