#include "ui/artwork/vcr_artwork.h"

#include <QPainter>
#include <QPainterPath>

#include <array>

namespace zef::ui {

namespace {

const QColor kWhite(255, 255, 255);
const QColor kLight(192, 192, 192);
const QColor kDark(64, 64, 64);
const QColor kBlack(0, 0, 0);
const QColor kAmber(255, 210, 0);
const QColor kCyan(0, 255, 255);
const QColor kRed(224, 48, 32);

QPen pen(const QColor& c, qreal width)
{
    QPen p(c, width);
    p.setJoinStyle(Qt::RoundJoin);
    p.setCapStyle(Qt::RoundCap);
    return p;
}

void shape(QPainter& p, const QPainterPath& path, const QColor& inside = kWhite)
{
    p.setPen(pen(kBlack, 1.2));
    p.setBrush(inside);
    p.drawPath(path);
}

// A triangle pointing right (or left) with its tip at x, between y0 and y1.
QPainterPath triangle(qreal x, qreal y0, qreal y1, qreal length, bool right)
{
    QPainterPath t;
    const qreal base = right ? x - length : x + length;
    t.moveTo(x, (y0 + y1) / 2);
    t.lineTo(base, y0);
    t.lineTo(base, y1);
    t.closeSubpath();
    return t;
}

QPainterPath bar(qreal x, qreal y0, qreal y1, qreal w = 2.4)
{
    QPainterPath b;
    b.addRect(QRectF(x, y0, w, y1 - y0));
    return b;
}

QPainterPath diamond(qreal cx, qreal cy, qreal r)
{
    QPainterPath d;
    d.moveTo(cx, cy - r);
    d.lineTo(cx + r, cy);
    d.lineTo(cx, cy + r);
    d.lineTo(cx - r, cy);
    d.closeSubpath();
    return d;
}

// "[" or "]" of an edit point.
void bracket(QPainter& p, qreal x, bool in, const QColor& c)
{
    QPainterPath b;
    const qreal d = in ? 3.5 : -3.5;
    b.moveTo(x + d, 2.5);
    b.lineTo(x, 2.5);
    b.lineTo(x, 13.5);
    b.lineTo(x + d, 13.5);
    p.setBrush(Qt::NoBrush);
    p.setPen(pen(kBlack, 3.6));
    p.drawPath(b);
    p.setPen(pen(c, 1.8));
    p.drawPath(b);
}

void start(QPainter& p, int, int)
{
    shape(p, bar(2, 3, 13));
    shape(p, triangle(5, 3, 13, 5, false));
    shape(p, triangle(10, 3, 13, 5, false));
}

void end(QPainter& p, int, int)
{
    shape(p, triangle(6, 3, 13, 5, true));
    shape(p, triangle(11, 3, 13, 5, true));
    shape(p, bar(11.6, 3, 13));
}

void previous(QPainter& p, int, int)
{
    shape(p, bar(3, 3, 13));
    shape(p, triangle(6.5, 3, 13, 7, false));
}

void next(QPainter& p, int, int)
{
    shape(p, triangle(9.5, 3, 13, 7, true));
    shape(p, bar(10.6, 3, 13));
}

void play(QPainter& p, int, int) { shape(p, triangle(13, 2, 14, 9.5, true)); }

void pause(QPainter& p, int, int)
{
    shape(p, bar(4, 3, 13, 3), kAmber);
    shape(p, bar(9, 3, 13, 3), kAmber);
}

void stop(QPainter& p, int, int)
{
    QPainterPath s;
    s.addRect(QRectF(3.5, 3.5, 9, 9));
    shape(p, s);
}

void loop(QPainter& p, bool on)
{
    QPainterPath arc;
    arc.arcMoveTo(QRectF(2.5, 3.5, 11, 9), 20);
    arc.arcTo(QRectF(2.5, 3.5, 11, 9), 20, 300);
    p.setBrush(Qt::NoBrush);
    p.setPen(pen(kBlack, 3.8));
    p.drawPath(arc);
    p.setPen(pen(on ? kAmber : kWhite, 2));
    p.drawPath(arc);
    shape(p, triangle(14.5, 3, 9, 4.5, true), on ? kAmber : kWhite);
}

void fullScreen(QPainter& p, bool on)
{
    QPainterPath frame;
    frame.addRect(QRectF(1.5, 3.5, 13, 9));
    shape(p, frame, on ? kAmber : kDark);
    p.setPen(pen(on ? kBlack : kWhite, 1.4));
    for (const auto& [x, y, dx, dy] : {std::array<qreal, 4>{3.5, 5.5, 2.5, 1.8},
                                       {12.5, 5.5, -2.5, 1.8},
                                       {3.5, 10.5, 2.5, -1.8},
                                       {12.5, 10.5, -2.5, -1.8}}) {
        p.drawLine(QPointF(x, y), QPointF(x + dx, y));
        p.drawLine(QPointF(x, y), QPointF(x, y + dy));
    }
}

void gotoPoint(QPainter& p, bool in)
{
    bracket(p, in ? 2.5 : 13.5, in, kAmber);
    QPainterPath arrow =
        in ? triangle(7, 4.5, 11.5, 4.5, false) : triangle(9, 4.5, 11.5, 4.5, true);
    shape(p, arrow);
    p.setPen(pen(kBlack, 3.4));
    p.drawLine(QPointF(in ? 9 : 4, 8), QPointF(in ? 13.5 : 2.5, 8));
    p.setPen(pen(kWhite, 1.6));
    p.drawLine(QPointF(in ? 9 : 4, 8), QPointF(in ? 13.5 : 2.5, 8));
}

void setPoint(QPainter& p, bool in)
{
    bracket(p, in ? 5 : 11, in, kAmber);
    QPainterPath d = diamond(in ? 11 : 5, 8, 3.2);
    shape(p, d, kCyan);
}

void keyArrow(QPainter& p, bool forward)
{
    shape(p, diamond(8, 8, 4.5), kAmber);
    shape(p, forward ? triangle(15.5, 5, 11, 3.5, true) : triangle(0.5, 5, 11, 3.5, false));
}

void key(QPainter& p, int, int)
{
    shape(p, diamond(8, 8, 6), kAmber);
    p.setPen(pen(kBlack, 1.6));
    p.drawLine(QPointF(8, 5), QPointF(8, 11));
    p.drawLine(QPointF(5, 8), QPointF(11, 8));
}

// A picture with bars: its own aspect inside the frame.
void aspect(QPainter& p, int, int)
{
    QPainterPath frame;
    frame.addRect(QRectF(1.5, 2.5, 13, 11));
    shape(p, frame, kDark);
    QPainterPath picture;
    picture.addRect(QRectF(1.5, 5, 13, 6));
    shape(p, picture, kCyan);
}

// Arrows out to the corners: filling the frame.
void stretch(QPainter& p, int, int)
{
    QPainterPath frame;
    frame.addRect(QRectF(1.5, 2.5, 13, 11));
    shape(p, frame, kCyan);
    p.setPen(pen(kBlack, 1.5));
    p.drawLine(QPointF(4, 5), QPointF(12, 11));
    p.drawLine(QPointF(12, 5), QPointF(4, 11));
    p.drawLine(QPointF(4, 5), QPointF(6.5, 5));
    p.drawLine(QPointF(4, 5), QPointF(4, 7));
    p.drawLine(QPointF(12, 11), QPointF(9.5, 11));
    p.drawLine(QPointF(12, 11), QPointF(12, 9));
}

// A corner mark: a small square with a dark rim in the look's colour.
void mark(QPainter& p, int w, int h, const QColor& c, bool round)
{
    QPainterPath m;
    if (round)
        m.addEllipse(QRectF(1, 1, w - 2, h - 2));
    else
        m.addRect(QRectF(1, 1, w - 2, h - 2));
    p.setPen(pen(kBlack, 1.4));
    p.setBrush(c);
    p.drawPath(m);
}

ArtworkPiece glyph(const char* name, void (*paint)(QPainter&, int, int))
{
    return ArtworkPiece{QString::fromLatin1(name), 16, 16, false, paint};
}

} // namespace

void appendVcrArtwork(std::vector<ArtworkPiece>& v)
{
    v.push_back(glyph("vcr-start", start));
    v.push_back(glyph("vcr-previous", previous));
    v.push_back(glyph("vcr-play", play));
    v.push_back(glyph("vcr-pause", pause));
    v.push_back(glyph("vcr-stop", stop));
    v.push_back(glyph("vcr-next", next));
    v.push_back(glyph("vcr-end", end));
    v.push_back(glyph("vcr-loop", [](QPainter& p, int, int) { loop(p, false); }));
    v.push_back(glyph("vcr-loop-on", [](QPainter& p, int, int) { loop(p, true); }));
    v.push_back(glyph("vcr-full-screen", [](QPainter& p, int, int) { fullScreen(p, false); }));
    v.push_back(glyph("vcr-full-screen-on", [](QPainter& p, int, int) { fullScreen(p, true); }));
    v.push_back(glyph("vcr-goto-in", [](QPainter& p, int, int) { gotoPoint(p, true); }));
    v.push_back(glyph("vcr-set-in", [](QPainter& p, int, int) { setPoint(p, true); }));
    v.push_back(glyph("vcr-set-out", [](QPainter& p, int, int) { setPoint(p, false); }));
    v.push_back(glyph("vcr-goto-out", [](QPainter& p, int, int) { gotoPoint(p, false); }));
    v.push_back(glyph("vcr-key-previous", [](QPainter& p, int, int) { keyArrow(p, false); }));
    v.push_back(glyph("vcr-key", key));
    v.push_back(glyph("vcr-key-next", [](QPainter& p, int, int) { keyArrow(p, true); }));
    v.push_back(glyph("vcr-aspect", aspect));
    v.push_back(glyph("vcr-stretch", stretch));
    v.push_back(ArtworkPiece{"mark-crop", 9, 9, false,
                             [](QPainter& p, int w, int h) { mark(p, w, h, kRed, false); }});
    v.push_back(ArtworkPiece{"mark-clip", 9, 9, false,
                             [](QPainter& p, int w, int h) { mark(p, w, h, kCyan, false); }});
    v.push_back(ArtworkPiece{"mark-key", 9, 9, false,
                             [](QPainter& p, int w, int h) { mark(p, w, h, kAmber, false); }});
    v.push_back(ArtworkPiece{"mark-tween", 9, 9, false,
                             [](QPainter& p, int w, int h) { mark(p, w, h, kLight, true); }});
}

} // namespace zef::ui
