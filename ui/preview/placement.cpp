#include "ui/preview/placement.h"

#include <QStringList>

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace zef::ui::placement {

namespace {

// Edges of a QRect as left, top, right, bottom with the right and bottom edges exclusive.
int rightOf(const QRect& r) { return r.x() + r.width(); }
int bottomOf(const QRect& r) { return r.y() + r.height(); }

QRect fromEdges(int left, int top, int right, int bottom)
{
    return QRect(left, top, right - left, bottom - top);
}

int64_t scaled(int64_t offset, int64_t unit, int64_t size)
{
    if (size <= 0) return 0;
    const int64_t n = offset * unit;
    // Rounded to nearest, also for negative offsets (a rectangle dragged past the picture).
    return n >= 0 ? (n + size / 2) / size : -((-n + size / 2) / size);
}

int64_t unscaled(int64_t value, int64_t unit, int64_t size)
{
    const int64_t n = value * size;
    return n >= 0 ? (n + unit / 2) / unit : -((-n + unit / 2) / unit);
}

} // namespace

QRect fitPicture(const QRect& area, const QSize& aspect)
{
    if (area.isEmpty() || aspect.isEmpty()) return area;
    QSize s = aspect.scaled(area.size(), Qt::KeepAspectRatio);
    s = s.expandedTo(QSize(1, 1));
    return QRect(area.x() + (area.width() - s.width()) / 2,
                 area.y() + (area.height() - s.height()) / 2, s.width(), s.height());
}

int grabAt(const QRect& r, const QPoint& p)
{
    const int l = r.x(), t = r.y(), rt = rightOf(r), b = bottomOf(r);
    const bool across = p.y() >= t - kEdgeZone && p.y() <= b + kEdgeZone;
    const bool along = p.x() >= l - kEdgeZone && p.x() <= rt + kEdgeZone;
    int grab = kNothing;
    if (across) {
        if (std::abs(p.x() - l) <= kEdgeZone)
            grab |= kLeft;
        else if (std::abs(p.x() - rt) <= kEdgeZone)
            grab |= kRight;
    }
    if (along) {
        if (std::abs(p.y() - t) <= kEdgeZone)
            grab |= kTop;
        else if (std::abs(p.y() - b) <= kEdgeZone)
            grab |= kBottom;
    }
    if (grab == kNothing && p.x() > l && p.x() < rt && p.y() > t && p.y() < b) grab = kMove;
    return grab;
}

QRect dragged(const QRect& start, int grab, const QPoint& delta)
{
    int l = start.x(), t = start.y(), r = rightOf(start), b = bottomOf(start);
    if (grab & kMove) return start.translated(delta);
    if (grab & kLeft) l += delta.x();
    if (grab & kRight) r += delta.x();
    if (grab & kTop) t += delta.y();
    if (grab & kBottom) b += delta.y();
    return fromEdges(l, t, r, b);
}

QString dragTip(const QRect& r, int grab)
{
    const int l = r.x(), t = r.y(), w = r.width(), h = r.height();
    if (grab & kMove)
        return QStringLiteral("X = %1, Y = %2, W = %3, H = %4 ").arg(l).arg(t).arg(w).arg(h);
    QStringList parts;
    if (grab & kLeft) parts << QStringLiteral("X = %1").arg(l);
    if (grab & kRight) parts << QStringLiteral("X = %1, W = %2").arg(rightOf(r)).arg(w);
    if (grab & kTop) parts << QStringLiteral("Y = %1").arg(t);
    if (grab & kBottom) parts << QStringLiteral("Y = %1, H = %2").arg(bottomOf(r)).arg(h);
    return parts.join(QStringLiteral(", "));
}

QRect toFrameUnits(const QRect& r, const QRect& picture, const QSize& frameSize)
{
    const auto x = [&](int v) {
        return int(scaled(v - picture.x(), frameSize.width(), picture.width()));
    };
    const auto y = [&](int v) {
        return int(scaled(v - picture.y(), frameSize.height(), picture.height()));
    };
    return fromEdges(x(r.x()), y(r.y()), x(rightOf(r)), y(bottomOf(r)));
}

movies::Rect toThousandths(const QRect& r, const QRect& picture)
{
    const QRect n = r.normalized();
    return movies::Rect{int32_t(scaled(n.x() - picture.x(), 1000, picture.width())),
                        int32_t(scaled(n.y() - picture.y(), 1000, picture.height())),
                        int32_t(scaled(rightOf(n) - picture.x(), 1000, picture.width())),
                        int32_t(scaled(bottomOf(n) - picture.y(), 1000, picture.height()))};
}

QRect fromThousandths(const movies::Rect& t, const QRect& picture)
{
    return fromEdges(picture.x() + int(unscaled(t.left, 1000, picture.width())),
                     picture.y() + int(unscaled(t.top, 1000, picture.height())),
                     picture.x() + int(unscaled(t.right, 1000, picture.width())),
                     picture.y() + int(unscaled(t.bottom, 1000, picture.height())));
}

std::array<movies::Fixed, 4> toFractions(const QRect& r, const QRect& picture)
{
    const QRect n = r.normalized();
    return {movies::Fixed(scaled(n.x() - picture.x(), 65536, picture.width())),
            movies::Fixed(scaled(n.y() - picture.y(), 65536, picture.height())),
            movies::Fixed(scaled(rightOf(n) - picture.x(), 65536, picture.width())),
            movies::Fixed(scaled(bottomOf(n) - picture.y(), 65536, picture.height()))};
}

QRect fromFractions(const std::array<movies::Fixed, 4>& f, const QRect& picture)
{
    return fromEdges(picture.x() + int(unscaled(f[0], 65536, picture.width())),
                     picture.y() + int(unscaled(f[1], 65536, picture.height())),
                     picture.x() + int(unscaled(f[2], 65536, picture.width())),
                     picture.y() + int(unscaled(f[3], 65536, picture.height())));
}

movies::MatrixRecord layoutMatrix(const movies::Rect& t)
{
    return movies::MatrixRecord::mapRect(movies::Rect{0, 0, 1000, 1000}, t);
}

movies::Rect layoutRect(const movies::MatrixRecord& m)
{
    double x0 = 0, y0 = 0, x1 = 1000, y1 = 1000;
    if (!m.transformPoint(x0, y0) || !m.transformPoint(x1, y1))
        return movies::Rect{0, 0, 1000, 1000};
    return movies::Rect{
        int32_t(std::lround(std::min(x0, x1))), int32_t(std::lround(std::min(y0, y1))),
        int32_t(std::lround(std::max(x0, x1))), int32_t(std::lround(std::max(y0, y1)))};
}

} // namespace zef::ui::placement
