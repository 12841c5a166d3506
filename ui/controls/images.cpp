#include "ui/controls/images.h"

#include <QHash>

#include <utility>

namespace zef::ui {

namespace {

QRgb mapped(QRgb c, ImageMapping mapping)
{
    const QRgb rgb = c & 0xFFFFFFu;
    auto grey = [](int v) { return qRgb(v, v, v); };
    if (mapping == ImageMapping::Face) {
        switch (rgb) {
        case 0xFFFFFF:
            return grey(192);
        case 0xC0C0C0:
            return grey(144);
        case 0x808080:
            return grey(96);
        case 0x404040:
            return grey(48);
        default:
            return c;
        }
    }
    if (mapping == ImageMapping::Disabled) {
        switch (rgb) {
        case 0xFFFFFF:
        case 0xC0C0C0:
        case 0xFF0000:
        case 0x00FF00:
        case 0x0000FF:
            return grey(144);
        case 0x808080:
        case 0x404040:
        case 0x000000:
            return grey(96);
        default:
            return c;
        }
    }
    return c;
}

} // namespace

QImage mapColours(const QImage& image, ImageMapping mapping)
{
    QImage out = image.convertToFormat(QImage::Format_ARGB32);
    if (mapping == ImageMapping::None) return out;
    for (int y = 0; y < out.height(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(out.scanLine(y));
        for (int x = 0; x < out.width(); ++x)
            if ((row[x] & 0xFFFFFFu) != 0xFF00FFu) row[x] = mapped(row[x], mapping) | 0xFF000000u;
    }
    return out;
}

QImage keyMagenta(const QImage& image)
{
    QImage out = image.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < out.height(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(out.scanLine(y));
        for (int x = 0; x < out.width(); ++x)
            if ((row[x] & 0xFFFFFFu) == 0xFF00FFu) row[x] = 0;
    }
    return out;
}

QImage artworkImage(const QString& name, ImageMapping mapping)
{
    static QHash<QString, QImage> cache;
    const QString key = name + QChar(u'#') + QString::number(int(mapping));
    if (auto it = cache.find(key); it != cache.end()) return *it;
    QImage source(QStringLiteral(":/artwork/") + name + QStringLiteral(".png"));
    QImage out = source.isNull() ? QImage() : keyMagenta(mapColours(source, mapping));
    cache.insert(key, out);
    return out;
}

QPixmap artworkPixmap(const QString& name, ImageMapping mapping)
{
    static QHash<QString, QPixmap> cache;
    const QString key = name + QChar(u'#') + QString::number(int(mapping));
    if (auto it = cache.find(key); it != cache.end()) return *it;
    const QImage image = artworkImage(name, mapping);
    QPixmap out = image.isNull() ? QPixmap() : QPixmap::fromImage(image);
    cache.insert(key, out);
    return out;
}

} // namespace zef::ui
