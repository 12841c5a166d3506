// The geometry of the preview picture and of the placement and crop rectangle drawn on it:
// fitting a picture into the window, the edges a pointer grabs, dragging them, and converting
// a rectangle on the screen into thousandths or 16.16 fractions of the picture and back.
// Plain functions; no widgets.
#pragma once

#include "platform/movies/geometry.h"
#include "platform/movies/matrix.h"

#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>

#include <array>

namespace zef::ui::placement {

// What a pointer grabs of a rectangle; edges combine at the corners.
enum Grab : int {
    kNothing = 0,
    kLeft = 1,
    kRight = 2,
    kTop = 4,
    kBottom = 8,
    kMove = 16,
};
constexpr int kEdgeZone = 4; // pixels on either side of an edge that grab it

// The largest rectangle of the picture's aspect (width : height) centred in area.
QRect fitPicture(const QRect& area, const QSize& aspect);

// Within kEdgeZone of the left or right edge that edge, within it of the top or bottom edge
// that edge (both at a corner), elsewhere inside the rectangle a move; else nothing.
int grabAt(const QRect& r, const QPoint& p);

// The rectangle after the grabbed parts moved by delta (edges may cross; normalise at the end).
QRect dragged(const QRect& start, int grab, const QPoint& delta);

// The tool tip of a drag, in picture units (r already scaled to the project frame): a move
// shows "X = %d, Y = %d, W = %d, H = %d "; an edge drag joins with ", " the parts of the grabbed
// edges: "X = %d" (left), "X = %d, W = %d" (right: its x and the width), then "Y = %d" (top),
// "Y = %d, H = %d" (bottom: its y and the height).
QString dragTip(const QRect& r, int grab);

// A rectangle on the screen in picture units of a frame of frameSize, rounded.
QRect toFrameUnits(const QRect& r, const QRect& picture, const QSize& frameSize);

// Edges as ((edge − origin) × 1000 + size / 2) / size, and back onto the picture.
movies::Rect toThousandths(const QRect& r, const QRect& picture);
QRect fromThousandths(const movies::Rect& t, const QRect& picture);
// Edges as ((edge − origin) × 65536 + size / 2) / size (left, top, right, bottom), and back.
std::array<movies::Fixed, 4> toFractions(const QRect& r, const QRect& picture);
QRect fromFractions(const std::array<movies::Fixed, 4>& f, const QRect& picture);

// The layout matrix that maps the whole frame (0, 0)–(1000, 1000) onto t, and the rectangle a
// layout matrix makes of the whole frame.
movies::MatrixRecord layoutMatrix(const movies::Rect& t);
movies::Rect layoutRect(const movies::MatrixRecord& m);

} // namespace zef::ui::placement
