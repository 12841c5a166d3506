#include "listctrl/tavrel_pictures.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

#include <array>
#include <functional>

namespace tavrel {

namespace {

const QColor kAmber(255, 210, 0);
const QColor kCyan(0, 192, 192);
const QColor kLight(192, 192, 192);

// Antialiased drawing with hard edges: pixels less than half covered are transparent (the
// magenta of a keyed picture), the rest opaque.
QImage keyed(int w, int h, const std::function<void(QPainter&)>& paint)
{
    QImage image(w, h, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    {
        QPainter p(&image);
        p.setRenderHint(QPainter::Antialiasing);
        paint(p);
    }
    for (int y = 0; y < h; ++y) {
        auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < w; ++x)
            row[x] = qAlpha(row[x]) < 128 ? 0u : row[x] | 0xFF000000u;
    }
    return image;
}

// A clock face with its hand in the accent colour (the in and out times of the source-type
// mode).
QImage clock(const QColor& hand)
{
    return keyed(14, 14, [&](QPainter& p) {
        p.setPen(QPen(Qt::black, 1.2));
        p.setBrush(QColor(64, 64, 64));
        p.drawEllipse(QPointF(7, 7), 5.8, 5.8);
        p.setPen(QPen(hand, 1.8, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(7, 7), QPointF(7, 3));
        p.drawLine(QPointF(7, 7), QPointF(10, 8.5));
    });
}

// Two small layers with an arrow between them (the source-type row).
QImage layers()
{
    return keyed(14, 14, [](QPainter& p) {
        p.setPen(QPen(Qt::black, 1));
        p.setBrush(kCyan);
        p.drawRect(QRectF(1.5, 2.5, 5, 4));
        p.setBrush(kAmber);
        p.drawRect(QRectF(7.5, 7.5, 5, 4));
        p.setPen(QPen(kLight, 1.4, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(4, 8), QPointF(4, 11));
        p.drawLine(QPointF(4, 11), QPointF(6.5, 11));
    });
}

// A mark point: a bar with a triangle pointing into the clip (in) or out of it (out).
QImage markPoint(bool in)
{
    return keyed(14, 14, [in](QPainter& p) {
        p.save();
        if (!in) {
            p.translate(14, 0);
            p.scale(-1, 1);
        }
        p.setPen(QPen(Qt::black, 1));
        p.setBrush(in ? kCyan : kAmber);
        p.drawRect(QRectF(2.5, 1.5, 2.5, 11));
        QPainterPath tri;
        tri.moveTo(6, 3.5);
        tri.lineTo(12.5, 7);
        tri.lineTo(6, 10.5);
        tri.closeSubpath();
        p.drawPath(tri);
        p.restore();
    });
}

QImage emptySlot()
{
    // A dark film frame: sprocket holes along both edges of a deep grey ground.
    QImage image(32, 96, QImage::Format_RGB32);
    QPainter p(&image);
    QLinearGradient g(0, 0, 0, 96);
    g.setColorAt(0, QColor(70, 70, 72));
    g.setColorAt(1, QColor(52, 52, 54));
    p.fillRect(image.rect(), g);
    p.fillRect(QRect(0, 0, 32, 1), QColor(96, 96, 96));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(38, 38, 40));
    for (int y = 6; y < 96; y += 12) {
        p.drawRect(QRect(3, y, 4, 6));
        p.drawRect(QRect(25, y, 4, 6));
    }
    p.setBrush(QColor(60, 60, 62));
    p.drawRect(QRect(10, 4, 12, 88));
    return image;
}

QImage marker()
{
    // OR-ed onto the picture: black leaves it alone, the amber funnel lights it up.
    QImage image(12, 12, QImage::Format_RGB32);
    image.fill(Qt::black);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath funnel;
    funnel.moveTo(1, 1.5);
    funnel.lineTo(11, 1.5);
    funnel.lineTo(7, 6);
    funnel.lineTo(7, 10.5);
    funnel.lineTo(5, 10.5);
    funnel.lineTo(5, 6);
    funnel.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(kAmber);
    p.drawPath(funnel);
    return image;
}

} // namespace

const QImage& rowIcon(int entry)
{
    static const std::array<QImage, 8> table = {QImage(), clock(kCyan),    clock(kAmber),
                                                layers(), markPoint(true), markPoint(false),
                                                QImage(), QImage()};
    static const QImage none;
    return entry >= 0 && entry < int(table.size()) ? table[size_t(entry)] : none;
}

const QImage& emptySlotPicture()
{
    static const QImage image = emptySlot();
    return image;
}

const QImage& filterMarker()
{
    static const QImage image = marker();
    return image;
}

} // namespace tavrel
