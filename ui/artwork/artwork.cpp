#include "ui/artwork/artwork.h"

#include "ui/artwork/vcr_artwork.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

#include <cmath>
#include <utility>

namespace zef::ui {

namespace {

// The greys a button re-maps, and the accents of the editor's look.
const QColor kWhite(255, 255, 255);
const QColor kLight(192, 192, 192);
const QColor kMid(128, 128, 128);
const QColor kDark(64, 64, 64);
const QColor kBlack(0, 0, 0);
const QColor kAmber(255, 210, 0);
const QColor kCyan(0, 192, 192);
const QColor kRed(224, 48, 32);

QPen pen(const QColor& c, qreal width)
{
    QPen p(c, width);
    p.setJoinStyle(Qt::RoundJoin);
    p.setCapStyle(Qt::RoundCap);
    return p;
}

void fill(QPainter& p, const QPainterPath& path, const QColor& inside, const QColor& outline,
          qreal width = 1.5)
{
    p.setPen(pen(outline, width));
    p.setBrush(inside);
    p.drawPath(path);
}

QPainterPath roundedRect(qreal x, qreal y, qreal w, qreal h, qreal r)
{
    QPainterPath path;
    path.addRoundedRect(QRectF(x, y, w, h), r, r);
    return path;
}

// A curved arrow for undo (pointing left) or redo (mirrored).
void curvedArrow(QPainter& p, int w, int h, bool mirrored)
{
    p.save();
    if (mirrored) {
        p.translate(w, 0);
        p.scale(-1, 1);
    }
    QPainterPath arc;
    arc.moveTo(4.5, h * 0.42);
    arc.cubicTo(w * 0.45, h * 0.22, w * 1.05, h * 0.38, w - 2.5, h * 0.78);
    p.setBrush(Qt::NoBrush);
    p.setPen(pen(kBlack, 4.6));
    p.drawPath(arc);
    p.setPen(pen(kWhite, 2.4));
    p.drawPath(arc);
    QPainterPath head;
    head.moveTo(1, h * 0.44);
    head.lineTo(8, h * 0.27);
    head.lineTo(7.5, h * 0.6);
    head.closeSubpath();
    fill(p, head, kAmber, kBlack, 1.2);
    p.restore();
}

// The small list arrow beside the undo and redo buttons.
void listArrow(QPainter& p, int w, int h)
{
    const qreal cx = w / 2.0, cy = h / 2.0;
    p.setPen(pen(kLight, 1.4));
    for (int i = 0; i < 3; ++i)
        p.drawLine(QPointF(cx - 4, cy - 7 + i * 3), QPointF(cx + 4, cy - 7 + i * 3));
    QPainterPath tri;
    tri.moveTo(cx - 4.5, cy + 2);
    tri.lineTo(cx + 4.5, cy + 2);
    tri.lineTo(cx, cy + 7.5);
    tri.closeSubpath();
    fill(p, tri, kWhite, kBlack, 1.0);
}

void openFolder(QPainter& p, int, int)
{
    QPainterPath back;
    back.moveTo(2, 6);
    back.lineTo(9, 6);
    back.lineTo(11, 8.5);
    back.lineTo(20, 8.5);
    back.lineTo(20, 19);
    back.lineTo(2, 19);
    back.closeSubpath();
    fill(p, back, kMid, kBlack);
    QPainterPath front;
    front.moveTo(4.5, 11.5);
    front.lineTo(23, 11.5);
    front.lineTo(19.5, 21);
    front.lineTo(1.5, 21);
    front.closeSubpath();
    fill(p, front, kLight, kBlack);
    p.setPen(pen(kAmber, 2));
    p.drawLine(QPointF(15, 1.5), QPointF(15, 7.5));
    p.drawLine(QPointF(12.5, 4.5), QPointF(15, 1.5));
    p.drawLine(QPointF(17.5, 4.5), QPointF(15, 1.5));
}

void saveDisk(QPainter& p, int, int)
{
    QPainterPath body;
    body.moveTo(3, 3);
    body.lineTo(18, 3);
    body.lineTo(21, 6);
    body.lineTo(21, 21);
    body.lineTo(3, 21);
    body.closeSubpath();
    fill(p, body, kMid, kBlack);
    fill(p, roundedRect(7, 3.5, 9, 6, 0.5), kLight, kBlack, 1.0);
    fill(p, roundedRect(12.5, 4.5, 2, 4, 0.3), kDark, kDark, 0.5);
    fill(p, roundedRect(6, 13, 12, 7.5, 0.8), kWhite, kBlack, 1.0);
    p.setPen(pen(kAmber, 1.2));
    p.drawLine(QPointF(8, 15.5), QPointF(16, 15.5));
    p.drawLine(QPointF(8, 18), QPointF(14, 18));
}

void scissors(QPainter& p, int, int)
{
    p.setPen(pen(kBlack, 4));
    p.drawLine(QPointF(5, 3), QPointF(16, 16));
    p.drawLine(QPointF(19, 3), QPointF(8, 16));
    p.setPen(pen(kLight, 2));
    p.drawLine(QPointF(5, 3), QPointF(16, 16));
    p.drawLine(QPointF(19, 3), QPointF(8, 16));
    p.setBrush(Qt::NoBrush);
    for (qreal x : {7.0, 17.0}) {
        p.setPen(pen(kBlack, 4.2));
        p.drawEllipse(QPointF(x, 18.5), 3.3, 3.3);
        p.setPen(pen(kAmber, 2.2));
        p.drawEllipse(QPointF(x, 18.5), 3.3, 3.3);
    }
    p.setBrush(kWhite);
    p.setPen(pen(kBlack, 1));
    p.drawEllipse(QPointF(12, 10.5), 1.6, 1.6);
}

void decks(QPainter& p, int, int)
{
    const QRectF tiles[] = {{2, 3, 9, 6}, {13, 3, 9, 9}, {2, 11, 9, 10}, {13, 14, 9, 7}};
    for (const QRectF& t : tiles) {
        fill(p, roundedRect(t.x(), t.y(), t.width(), t.height(), 1), kMid, kBlack, 1.2);
        p.setPen(Qt::NoPen);
        p.setBrush(kAmber);
        p.drawRect(QRectF(t.x() + 0.8, t.y() + 0.8, t.width() - 1.6, 1.8));
    }
}

void gear(QPainter& p, int w, int h)
{
    const QPointF c(w / 2.0, h / 2.0);
    QPainterPath cog;
    const int teeth = 8;
    for (int i = 0; i < teeth * 2; ++i) {
        const qreal a0 = (i - 0.5) * M_PI / teeth, a1 = (i + 0.5) * M_PI / teeth;
        const qreal r = (i % 2 == 0) ? 10.5 : 7.5;
        const QPointF p0(c.x() + r * std::cos(a0), c.y() + r * std::sin(a0));
        const QPointF p1(c.x() + r * std::cos(a1), c.y() + r * std::sin(a1));
        if (i == 0)
            cog.moveTo(p0);
        else
            cog.lineTo(p0);
        cog.lineTo(p1);
    }
    cog.closeSubpath();
    QPainterPath hole;
    hole.addEllipse(c, 3.2, 3.2);
    fill(p, cog.subtracted(hole), kLight, kBlack, 1.3);
    p.setBrush(Qt::NoBrush);
    p.setPen(pen(kAmber, 1.6));
    p.drawEllipse(c, 5.2, 5.2);
}

void renderFilm(QPainter& p, int, int)
{
    fill(p, roundedRect(2, 4, 20, 16, 1.5), kDark, kBlack, 1.2);
    p.setPen(Qt::NoPen);
    p.setBrush(kLight);
    for (int i = 0; i < 5; ++i) {
        p.drawRect(QRectF(3.8 + i * 3.9, 5.3, 2.2, 1.9));
        p.drawRect(QRectF(3.8 + i * 3.9, 16.8, 2.2, 1.9));
    }
    QPainterPath play;
    play.moveTo(9, 8.3);
    play.lineTo(16.5, 12);
    play.lineTo(9, 15.7);
    play.closeSubpath();
    fill(p, play, kAmber, kBlack, 1.0);
}

void camera(QPainter& p, int, int)
{
    fill(p, roundedRect(1.5, 7, 15, 11, 2), kMid, kBlack, 1.3);
    QPainterPath lens;
    lens.moveTo(16.5, 10.5);
    lens.lineTo(22.5, 7.5);
    lens.lineTo(22.5, 17.5);
    lens.lineTo(16.5, 14.5);
    lens.closeSubpath();
    fill(p, lens, kLight, kBlack, 1.2);
    p.setBrush(kRed);
    p.setPen(pen(kBlack, 1));
    p.drawEllipse(QPointF(6, 12.5), 2.6, 2.6);
    p.setPen(pen(kLight, 1.2));
    p.drawLine(QPointF(10, 10.5), QPointF(14, 10.5));
}

void question(QPainter& p, int w, int h)
{
    const qreal cx = w / 2.0;
    p.setBrush(kMid);
    p.setPen(pen(kBlack, 1.3));
    p.drawEllipse(QPointF(cx, h / 2.0), 10.5, 10.5);
    QPainterPath hook;
    hook.moveTo(cx - 4, h / 2.0 - 3.5);
    hook.cubicTo(cx - 4, h / 2.0 - 9.5, cx + 5.5, h / 2.0 - 9.5, cx + 4.5, h / 2.0 - 3);
    hook.cubicTo(cx + 3.8, h / 2.0, cx, h / 2.0 - 0.5, cx, h / 2.0 + 3.2);
    p.setBrush(Qt::NoBrush);
    p.setPen(pen(kAmber, 2.6));
    p.drawPath(hook);
    p.setPen(Qt::NoPen);
    p.setBrush(kAmber);
    p.drawEllipse(QPointF(cx, h / 2.0 + 6.6), 1.7, 1.7);
}

// The drawn caption: a dark metal strip with a highlight on top.
void captionStrip(QPainter& p, int w, int h)
{
    QLinearGradient g(0, 0, 0, h);
    g.setColorAt(0, QColor(84, 84, 90));
    g.setColorAt(0.45, QColor(50, 50, 54));
    g.setColorAt(1, QColor(26, 26, 28));
    p.fillRect(0, 0, w, h, g);
    p.fillRect(0, 0, w, 1, QColor(128, 128, 134));
    p.fillRect(0, h - 1, w, 1, QColor(12, 12, 12));
}

// The deck background: mid grey, lighter at the top, with faint brushed lines.
void deckBackground(QPainter& p, int w, int h)
{
    QLinearGradient g(0, 0, 0, h);
    g.setColorAt(0, QColor(152, 152, 154));
    g.setColorAt(1, QColor(136, 136, 138));
    p.fillRect(0, 0, w, h, g);
    for (int y = 0; y < h; y += 2)
        p.fillRect(0, y, w, 1, QColor(255, 255, 255, (y / 2) % 3 == 0 ? 10 : 4));
}

// A small square caption button: an X for close, a bar for minimise.
void captionButton(QPainter& p, int w, int h, bool close, bool pressed)
{
    QLinearGradient g(0, 0, 0, h);
    g.setColorAt(0, pressed ? QColor(60, 60, 64) : QColor(138, 138, 144));
    g.setColorAt(1, pressed ? QColor(96, 96, 100) : QColor(70, 70, 74));
    p.setPen(pen(kBlack, 1));
    p.setBrush(g);
    p.drawRoundedRect(QRectF(0.5, 0.5, w - 1, h - 1), 2.5, 2.5);
    const qreal o = pressed ? 1 : 0, m = w * 0.3;
    p.setPen(pen(pressed ? kAmber : QColor(230, 230, 230), 1.8));
    if (close) {
        p.drawLine(QPointF(m + o, m + o), QPointF(w - m + o, h - m + o));
        p.drawLine(QPointF(w - m + o, m + o), QPointF(m + o, h - m + o));
    } else {
        p.drawLine(QPointF(m + o, h - m + o), QPointF(w - m + o, h - m + o));
    }
}

// The program icon: the three layers of a timeline and a play sign.
void programIcon(QPainter& p, int w, int h)
{
    const qreal s = w / 256.0;
    QLinearGradient g(0, 0, 0, h);
    g.setColorAt(0, QColor(74, 74, 80));
    g.setColorAt(1, QColor(22, 22, 24));
    p.setPen(QPen(QColor(10, 10, 10), 4 * s));
    p.setBrush(g);
    p.drawRoundedRect(QRectF(8 * s, 8 * s, 240 * s, 240 * s), 44 * s, 44 * s);
    const struct {
        qreal x, y, len;
        QColor colour;
    } bars[] = {{36, 62, 150, kAmber}, {66, 114, 118, kCyan}, {36, 166, 96, kLight}};
    for (const auto& b : bars) {
        p.setPen(Qt::NoPen);
        p.setBrush(b.colour);
        p.drawRoundedRect(QRectF(b.x * s, b.y * s, b.len * s, 30 * s), 8 * s, 8 * s);
    }
    QPainterPath play;
    play.moveTo(168 * s, 138 * s);
    play.lineTo(228 * s, 174 * s);
    play.lineTo(168 * s, 210 * s);
    play.closeSubpath();
    p.setPen(QPen(QColor(10, 10, 10), 6 * s, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(kWhite);
    p.drawPath(play);
}

// The inside of a check box, stretched over the box: a dark well, with an amber tick when
// checked.
void checkBox(QPainter& p, int w, int h, bool checked)
{
    QLinearGradient g(0, 0, 0, h);
    g.setColorAt(0, QColor(40, 40, 42));
    g.setColorAt(1, QColor(72, 72, 74));
    p.fillRect(0, 0, w, h, g);
    if (!checked) return;
    QPainterPath tick;
    tick.moveTo(w * 0.2, h * 0.52);
    tick.lineTo(w * 0.42, h * 0.74);
    tick.lineTo(w * 0.8, h * 0.26);
    p.setBrush(Qt::NoBrush);
    p.setPen(pen(kBlack, w * 0.22));
    p.drawPath(tick);
    p.setPen(pen(kAmber, w * 0.13));
    p.drawPath(tick);
}

// A radio button: a sunken dark disc, lit amber in the middle when checked, flat grey when
// disabled.
void radioButton(QPainter& p, int w, int h, bool checked, bool disabled)
{
    const QPointF c(w / 2.0, h / 2.0);
    const qreal r = w / 2.0 - 1;
    QLinearGradient rim(0, 0, 0, h);
    rim.setColorAt(0, disabled ? QColor(128, 128, 128) : QColor(64, 64, 64));
    rim.setColorAt(1, QColor(192, 192, 192));
    p.setPen(Qt::NoPen);
    p.setBrush(rim);
    p.drawEllipse(c, r, r);
    p.setBrush(disabled ? QColor(144, 144, 144) : QColor(40, 40, 42));
    p.drawEllipse(c, r - 1.5, r - 1.5);
    if (checked && !disabled) {
        p.setBrush(kAmber);
        p.setPen(pen(kBlack, 0.8));
        p.drawEllipse(c, r * 0.42, r * 0.42);
    }
}

// The letters of the track buttons, drawn as strokes in a box of the given size.
void trackLetter(QPainter& p, QRectF b, char letter)
{
    QPainterPath path;
    const qreal l = b.left(), r = b.right(), t = b.top(), m = b.center().y(), bt = b.bottom();
    const qreal cx = b.center().x();
    switch (letter) {
    case 'A':
        path.moveTo(l, bt);
        path.lineTo(cx, t);
        path.lineTo(r, bt);
        path.moveTo(l + b.width() * 0.25, m + b.height() * 0.12);
        path.lineTo(r - b.width() * 0.25, m + b.height() * 0.12);
        break;
    case 'B':
        path.moveTo(l, bt);
        path.lineTo(l, t);
        path.lineTo(r - b.width() * 0.3, t);
        path.arcTo(QRectF(r - b.width() * 0.6, t, b.width() * 0.6, m - t), 90, -180);
        path.lineTo(l, m);
        path.moveTo(l, m);
        path.lineTo(r - b.width() * 0.25, m);
        path.arcTo(QRectF(r - b.width() * 0.5, m, b.width() * 0.5, bt - m), 90, -180);
        path.lineTo(l, bt);
        break;
    case 'C':
        path.arcMoveTo(b, 45);
        path.arcTo(b, 45, 270);
        break;
    case 'X':
        path.moveTo(l, t);
        path.lineTo(r, bt);
        path.moveTo(r, t);
        path.lineTo(l, bt);
        break;
    default: // 'T'
        path.moveTo(l, t);
        path.lineTo(r, t);
        path.moveTo(cx, t);
        path.lineTo(cx, bt);
        break;
    }
    p.setBrush(Qt::NoBrush);
    p.drawPath(path);
}

// A track button's picture: a film-strip plate with the track's letter; the highlighted one
// (the current track) lights the plate amber.
void trackButton(QPainter& p, int w, int h, char letter, bool highlighted)
{
    fill(p, roundedRect(1.5, 2.5, w - 3, h - 5, 2), highlighted ? kAmber : kDark, kBlack, 1.2);
    p.setPen(Qt::NoPen);
    p.setBrush(highlighted ? QColor(150, 110, 0) : kMid);
    for (int i = 0; i < 4; ++i) {
        p.drawRect(QRectF(3.5 + i * (w - 7) / 4.0, 3.8, 2.2, 1.6));
        p.drawRect(QRectF(3.5 + i * (w - 7) / 4.0, h - 5.4, 2.2, 1.6));
    }
    const QRectF box(w * 0.3, h * 0.3, w * 0.4, h * 0.4);
    p.setPen(pen(highlighted ? kBlack : kWhite, 2.2));
    trackLetter(p, box, letter);
}

// The Clip Deck's command buttons.
void loadClip(QPainter& p, int w, int h)
{
    fill(p, roundedRect(1.5, 4.5, w - 7, h - 9, 1.5), kMid, kBlack, 1.2);
    p.setPen(Qt::NoPen);
    p.setBrush(kLight);
    for (int i = 0; i < 4; ++i) {
        p.drawRect(QRectF(3 + i * 4, 5.8, 2, 1.6));
        p.drawRect(QRectF(3 + i * 4, h - 7.4, 2, 1.6));
    }
    p.setPen(pen(kBlack, 4.6));
    p.drawLine(QPointF(w - 6, h - 13), QPointF(w - 6, h - 3));
    p.drawLine(QPointF(w - 11, h - 8), QPointF(w - 1, h - 8));
    p.setPen(pen(kAmber, 2.4));
    p.drawLine(QPointF(w - 6, h - 13), QPointF(w - 6, h - 3));
    p.drawLine(QPointF(w - 11, h - 8), QPointF(w - 1, h - 8));
}

void location(QPainter& p, int w, int h)
{
    const QPointF c(w / 2.0, h / 2.0);
    const qreal r = w / 2.0 - 2;
    p.setBrush(kMid);
    p.setPen(pen(kBlack, 1.3));
    p.drawEllipse(c, r, r);
    p.setBrush(Qt::NoBrush);
    p.setPen(pen(kCyan, 1.4));
    p.drawEllipse(c, r * 0.45, r - 0.6);
    p.drawLine(QPointF(c.x(), c.y() - r + 0.6), QPointF(c.x(), c.y() + r - 0.6));
    p.drawLine(QPointF(c.x() - r + 0.6, c.y()), QPointF(c.x() + r - 0.6, c.y()));
    p.drawLine(QPointF(c.x() - r * 0.85, c.y() - r * 0.5),
               QPointF(c.x() + r * 0.85, c.y() - r * 0.5));
    p.drawLine(QPointF(c.x() - r * 0.85, c.y() + r * 0.5),
               QPointF(c.x() + r * 0.85, c.y() + r * 0.5));
}

void sourceEffect(QPainter& p, int w, int h)
{
    const QPointF c(w / 2.0, h / 2.0);
    QPainterPath star;
    for (int i = 0; i < 10; ++i) {
        const qreal a = -M_PI / 2 + i * M_PI / 5;
        const qreal r = i % 2 == 0 ? w / 2.0 - 1.5 : w / 5.0;
        const QPointF pt(c.x() + r * std::cos(a), c.y() + r * std::sin(a));
        if (i == 0)
            star.moveTo(pt);
        else
            star.lineTo(pt);
    }
    star.closeSubpath();
    fill(p, star, kAmber, kBlack, 1.2);
    p.setBrush(kWhite);
    p.setPen(Qt::NoPen);
    p.drawEllipse(c, 1.8, 1.8);
}

void deleteItems(QPainter& p, int w, int h)
{
    fill(p, roundedRect(5, 6, w - 10, h - 8, 1.5), kMid, kBlack, 1.2);
    fill(p, roundedRect(3, 3.5, w - 6, 3, 1), kLight, kBlack, 1.0);
    fill(p, roundedRect(w / 2.0 - 3, 1.5, 6, 2.5, 0.8), kLight, kBlack, 0.8);
    p.setPen(pen(kRed, 2.2));
    p.drawLine(QPointF(8.5, 10), QPointF(w - 8.5, h - 5));
    p.drawLine(QPointF(w - 8.5, 10), QPointF(8.5, h - 5));
}

void replaceClip(QPainter& p, int w, int h)
{
    p.setBrush(Qt::NoBrush);
    for (int turn = 0; turn < 2; ++turn) {
        p.save();
        if (turn == 1) {
            p.translate(w, h);
            p.rotate(180);
        }
        QPainterPath arc;
        arc.moveTo(3.5, h / 2.0 - 1);
        arc.cubicTo(4, 3, w - 6, 2.5, w - 5, h / 2.0 - 3);
        p.setPen(pen(kBlack, 4.2));
        p.drawPath(arc);
        p.setPen(pen(turn == 0 ? kCyan : kAmber, 2.2));
        p.drawPath(arc);
        QPainterPath head;
        head.moveTo(w - 9, h / 2.0 - 5);
        head.lineTo(w - 1.5, h / 2.0 - 5);
        head.lineTo(w - 5, h / 2.0 + 1);
        head.closeSubpath();
        fill(p, head, turn == 0 ? kCyan : kAmber, kBlack, 1.0);
        p.restore();
    }
}

void addTitleButton(QPainter& p, int w, int h)
{
    fill(p, roundedRect(1.5, 1.5, w - 3, h - 3, 2), kDark, kBlack, 1.2);
    p.setPen(pen(kWhite, 3));
    trackLetter(p, QRectF(w * 0.22, h * 0.22, w * 0.44, h * 0.5), 'T');
    p.setPen(pen(kAmber, 2));
    p.drawLine(QPointF(w - 7, h - 10), QPointF(w - 7, h - 4));
    p.drawLine(QPointF(w - 10, h - 7), QPointF(w - 4, h - 7));
}

// The timeline's pictures.

// The ground of the timeline's rows: a dark well, lighter towards the bottom.
void timelineRows(QPainter& p, int w, int h)
{
    QLinearGradient g(0, 0, 0, h);
    g.setColorAt(0, QColor(84, 84, 86));
    g.setColorAt(1, QColor(108, 108, 110));
    p.fillRect(0, 0, w, h, g);
}

// A film frame: the item has pictures; a filter mark (an amber spark) when it has filters.
void timelinePicture(QPainter& p, int w, int h, bool filters)
{
    fill(p, roundedRect(0.5, 1.5, w - 1, h - 3, 1), kCyan, kBlack, 1.0);
    p.setPen(Qt::NoPen);
    p.setBrush(kBlack);
    for (int i = 0; i < 3; ++i) {
        p.drawRect(QRectF(1.8 + i * (w - 3) / 3.0, 2.3, 1.4, 1.2));
        p.drawRect(QRectF(1.8 + i * (w - 3) / 3.0, h - 3.5, 1.4, 1.2));
    }
    if (!filters) return;
    p.setBrush(kAmber);
    p.setPen(pen(kBlack, 0.8));
    p.drawEllipse(QPointF(w - 3.0, 3.0), 2.4, 2.4);
}

// A loudspeaker: the item has sound.
void timelineSound(QPainter& p, int, int h)
{
    QPainterPath body;
    body.moveTo(1, h * 0.35);
    body.lineTo(4, h * 0.35);
    body.lineTo(7.5, 1);
    body.lineTo(7.5, h - 1);
    body.lineTo(4, h * 0.65);
    body.lineTo(1, h * 0.65);
    body.closeSubpath();
    fill(p, body, kLight, kBlack, 0.9);
    p.setBrush(Qt::NoBrush);
    p.setPen(pen(kLight, 1.1));
    p.drawArc(QRectF(6, h * 0.25, 4, h * 0.5), -60 * 16, 120 * 16);
    p.drawArc(QRectF(6, 1, 7, h - 2), -60 * 16, 120 * 16);
}

// A red cross on a dark plate: the clip's file cannot be opened.
void timelineInvalid(QPainter& p, int w, int h)
{
    fill(p, roundedRect(0.5, 0.5, w - 1, h - 1, 1.5), kDark, kBlack, 1.0);
    p.setPen(pen(kRed, 2));
    p.drawLine(QPointF(3, 2.5), QPointF(w - 3, h - 2.5));
    p.drawLine(QPointF(w - 3, 2.5), QPointF(3, h - 2.5));
}

// A magnifier with a plus (zoom in), a minus (zoom out) or a frame (the whole project).
void zoomGlass(QPainter& p, int w, int h, char kind)
{
    const qreal r = w * 0.3;
    const QPointF c(r + 1.5, r + 1.5);
    p.setPen(pen(kBlack, 2.6));
    p.drawLine(QPointF(c.x() + r * 0.7, c.y() + r * 0.7), QPointF(w - 1.5, h - 1.5));
    p.setBrush(kLight);
    p.setPen(pen(kBlack, 1.2));
    p.drawEllipse(c, r, r);
    p.setPen(pen(kBlack, 1.4));
    const qreal a = r * 0.55;
    if (kind == '+' || kind == '-')
        p.drawLine(QPointF(c.x() - a, c.y()), QPointF(c.x() + a, c.y()));
    if (kind == '+') p.drawLine(QPointF(c.x(), c.y() - a), QPointF(c.x(), c.y() + a));
    if (kind == '[') {
        p.setBrush(Qt::NoBrush);
        p.drawRect(QRectF(c.x() - a, c.y() - a * 0.7, 2 * a, 1.4 * a));
    }
}

// A track-enable button: the track's letter, lit in the track's colour when the track plays.
void enableButton(QPainter& p, int w, int h, char letter, bool on)
{
    QColor lit = kCyan;
    if (letter == 'B' || letter == 'C' || letter == 'X') lit = QColor(220, 30, 30);
    if (letter == 'T') lit = QColor(30, 220, 30);
    fill(p, roundedRect(1.5, 1.5, w - 3, h - 3, 2), on ? lit : kDark, kBlack, 1.0);
    p.setPen(pen(on ? kBlack : kMid, 1.8));
    trackLetter(p, QRectF(w * 0.34, h * 0.26, w * 0.32, h * 0.48), letter);
}

// A drawing in the two greys of a disabled button: light parts (144), dark parts (96).
QImage flattened(void (*paint)(QPainter&, int, int), int w, int h)
{
    QImage image(w, h, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    {
        QPainter q(&image);
        q.setRenderHint(QPainter::Antialiasing);
        paint(q, w, h);
    }
    for (int y = 0; y < h; ++y) {
        auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < w; ++x) {
            if (qAlpha(row[x]) < 128) {
                row[x] = 0;
                continue;
            }
            const int grey = qGray(row[x]) > 100 ? 144 : 96;
            row[x] = qRgb(grey, grey, grey);
        }
    }
    return image;
}

ArtworkPiece piece(const char* name, int w, int h, void (*paint)(QPainter&, int, int),
                   bool withAlpha = false)
{
    return ArtworkPiece{QString::fromLatin1(name), w, h, withAlpha, paint};
}

} // namespace

const std::vector<ArtworkPiece>& artworkPieces()
{
    static const std::vector<ArtworkPiece> pieces = [] {
        std::vector<ArtworkPiece> v{
            piece("caption", 64, 22, captionStrip),
            piece("deck-background", 64, 64, deckBackground),
            piece("bar-open", 24, 24, openFolder),
            piece("bar-save", 24, 24, saveDisk),
            piece("bar-edit", 24, 24, scissors),
            piece("bar-undo", 20, 24,
                  [](QPainter& p, int w, int h) { curvedArrow(p, w, h, false); }),
            piece("bar-redo", 20, 24,
                  [](QPainter& p, int w, int h) { curvedArrow(p, w, h, true); }),
            piece("bar-list", 14, 24, listArrow),
            piece("bar-decks", 24, 24, decks),
            piece("bar-settings", 24, 24, gear),
            piece("bar-render", 24, 24, renderFilm),
            piece("bar-capture", 24, 24, camera),
            piece("bar-help", 24, 24, question),
            piece("icon", 256, 256, programIcon, true),
        };
        v.push_back(ArtworkPiece{"check-off", 16, 16, false,
                                 [](QPainter& p, int w, int h) { checkBox(p, w, h, false); }});
        v.push_back(ArtworkPiece{"check-on", 16, 16, false,
                                 [](QPainter& p, int w, int h) { checkBox(p, w, h, true); }});
        for (const char* name : {"radio-off", "radio-on", "radio-disabled"}) {
            const bool checked = QString(name) == "radio-on";
            const bool disabled = QString(name) == "radio-disabled";
            v.push_back(
                ArtworkPiece{name, 14, 14, false, [checked, disabled](QPainter& p, int w, int h) {
                                 radioButton(p, w, h, checked, disabled);
                             }});
        }
        for (char letter : {'A', 'B', 'C', 'X', 'T'})
            for (bool on : {false, true}) {
                QString name = QStringLiteral("track-") + QChar(letter).toLower();
                if (on) name += "-on";
                v.push_back(
                    ArtworkPiece{name, 24, 24, false, [letter, on](QPainter& p, int w, int h) {
                                     trackButton(p, w, h, letter, on);
                                 }});
            }
        const struct {
            const char* name;
            void (*paint)(QPainter&, int, int);
        } deckButtons[] = {
            {"deck-load-clip", loadClip},         {"deck-location", location},
            {"deck-source-effect", sourceEffect}, {"deck-delete", deleteItems},
            {"deck-replace", replaceClip},        {"deck-add-title", addTitleButton}};
        for (const auto& b : deckButtons) {
            v.push_back(piece(b.name, 24, 24, b.paint));
            auto paint = b.paint;
            v.push_back(ArtworkPiece{
                QString::fromLatin1(b.name) + "-disabled", 24, 24, false,
                [paint](QPainter& p, int w, int h) { p.drawImage(0, 0, flattened(paint, w, h)); }});
        }
        v.push_back(piece("timeline-rows", 16, 126, timelineRows));
        v.push_back(ArtworkPiece{"timeline-picture", 12, 10, false, [](QPainter& p, int w, int h) {
                                     timelinePicture(p, w, h, false);
                                 }});
        v.push_back(
            ArtworkPiece{"timeline-picture-filters", 12, 10, false,
                         [](QPainter& p, int w, int h) { timelinePicture(p, w, h, true); }});
        v.push_back(piece("timeline-sound", 14, 10, timelineSound));
        v.push_back(piece("timeline-invalid", 12, 10, timelineInvalid));
        for (const auto& [name, kind] : {std::pair{"zoom-in", '+'}, std::pair{"zoom-out", '-'},
                                         std::pair{"zoom-project", '['}})
            v.push_back(ArtworkPiece{name, 12, 12, false, [kind](QPainter& p, int w, int h) {
                                         zoomGlass(p, w, h, kind);
                                     }});
        for (char letter : {'A', 'B', 'C', 'X', 'T'})
            for (bool on : {false, true}) {
                QString name = QStringLiteral("enable-") + QChar(letter).toLower();
                if (on) name += "-on";
                v.push_back(
                    ArtworkPiece{name, 21, 14, false, [letter, on](QPainter& p, int w, int h) {
                                     enableButton(p, w, h, letter, on);
                                 }});
            }
        for (bool close : {true, false})
            for (bool pressed : {false, true}) {
                QString name = close ? "close" : "minimise";
                if (pressed) name += "-pressed";
                v.push_back(
                    ArtworkPiece{name, 16, 16, false, [close, pressed](QPainter& p, int w, int h) {
                                     captionButton(p, w, h, close, pressed);
                                 }});
            }
        appendVcrArtwork(v);
        return v;
    }();
    return pieces;
}

QImage renderArtwork(const ArtworkPiece& piece)
{
    QImage image(piece.width, piece.height, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    {
        QPainter p(&image);
        p.setRenderHint(QPainter::Antialiasing);
        piece.paint(p, piece.width, piece.height);
    }
    if (piece.withAlpha) return image;
    for (int y = 0; y < image.height(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x)
            row[x] = qAlpha(row[x]) < 128 ? qRgb(255, 0, 255)
                                          : qRgb(qRed(row[x]), qGreen(row[x]), qBlue(row[x]));
    }
    return image.convertToFormat(QImage::Format_RGB32);
}

} // namespace zef::ui
