#include "ui/timeline/timeline_painter.h"

#include "model/item.h"
#include "model/project.h"
#include "model/source_item.h"
#include "ui/controls/images.h"
#include "ui/timeline/timeline_ruler.h"

#include <QFontMetrics>
#include <QImage>
#include <QPainter>
#include <QPolygon>

#include <algorithm>

namespace zef::ui {

namespace {

// Shapes reaching far beyond the window are cut short of the raster's coordinate range; what
// is visible keeps its slope to a fraction of a pixel.
constexpr int32_t kFar = 100000;

const QColor kTransitionLit(255, 210, 0);
const QColor kTransitionDim(181, 163, 74);
const QColor kMarkerRed(224, 48, 32);

QRect toQRect(const movies::Rect& r) { return QRect(r.left, r.top, r.width(), r.height()); }

// A frame with the top and left edges in one colour and the bottom and right in another.
void frame3d(QPainter& p, const movies::Rect& r, const QColor& topLeft, const QColor& bottomRight)
{
    const int w = r.width(), h = r.height();
    if (w <= 0 || h <= 0) return;
    p.fillRect(r.left, r.top, w - 1, 1, topLeft);
    p.fillRect(r.left, r.top, 1, h - 1, topLeft);
    p.fillRect(r.right - 1, r.top, 1, h, bottomRight);
    p.fillRect(r.left, r.bottom - 1, w, 1, bottomRight);
}

int32_t clampX(int32_t x, int32_t width) { return std::clamp(x, -kFar, width + kFar); }

} // namespace

QColor trackColour(int32_t track, bool bright)
{
    switch (track) {
    case kLayerA:
        return bright ? QColor(0, 192, 192) : QColor(55, 136, 136);
    case kTitleTrack:
        return bright ? QColor(30, 220, 30) : QColor(80, 180, 80);
    default:
        return bright ? QColor(220, 30, 30) : QColor(180, 80, 80);
    }
}

bool itemBright(const ZEFItem& item, const FProject& project, const TimelineScene& scene)
{
    if (scene.selected && !scene.previewShowsComposition) return &item == scene.selected;
    const bool enabled =
        FProject::validTrack(item.track()) && project.device(item.track()).enabled();
    if (scene.selected) return enabled;
    if (scene.currentTrack == kGallery || scene.currentTrack == kTitleTrack) return enabled;
    return true;
}

bool markerShown(const TimelineGeometry& g, int64_t t, const TimelineScene& scene)
{
    if (!g.inView(t)) return false;
    return !(scene.currentTrack == kGallery && !scene.previewShowsComposition);
}

TimelinePainter::TimelinePainter()
    : m_nameFont(QStringLiteral("Arial")), m_rulerFont(QStringLiteral("Arial"))
{
    m_nameFont.setPixelSize(12);
    m_nameFont.setWeight(QFont::Normal);
    m_rulerFont.setPixelSize(9);
    const QFontMetrics ruler(m_rulerFont);
    m_labelWidth = ruler.horizontalAdvance(QStringLiteral("00:00:00"));
    m_rulerAscent = ruler.ascent();
    m_nameHeight = QFontMetrics(m_nameFont).height();
    m_background = artworkPixmap(QStringLiteral("deck-background"));
    m_rows = artworkPixmap(QStringLiteral("timeline-rows"));
    m_picture = artworkPixmap(QStringLiteral("timeline-picture"));
    m_pictureFiltered = artworkPixmap(QStringLiteral("timeline-picture-filters"));
    m_sound = artworkPixmap(QStringLiteral("timeline-sound"));
    m_invalid = artworkPixmap(QStringLiteral("timeline-invalid"));
}

void TimelinePainter::paint(QPainter& p, const TimelineGeometry& g, const FProject& project,
                            const TimelineScene& scene) const
{
    const int w = g.width(), h = g.height();
    if (m_background.isNull())
        p.fillRect(0, 0, w, h, QColor(0x90, 0x90, 0x90));
    else
        p.drawTiledPixmap(0, 0, w, h, m_background);
    frame3d(p, {0, 0, w, h}, QColor(192, 192, 192), QColor(96, 96, 96));

    paintRuler(p, g, project, scene);

    const movies::Rect rows = g.rowsArea();
    if (!m_rows.isNull() && rows.width() > 0) p.drawPixmap(toQRect(rows), m_rows);
    for (int32_t i = 0; i < kRowCount; ++i) {
        if (i == 2) continue; // the lower half of track A's double row
        const movies::Rect r = g.drawnRow(i);
        frame3d(p, r, QColor(144, 144, 144), QColor(48, 48, 48));
        const int32_t key = kRowTable[size_t(i)];
        if (key == kTransitionRow)
            paintTransitions(p, g, project, scene);
        else
            paintTrack(p, g, project, scene, key);
        // A groove across the left margin under the row.
        p.fillRect(2, r.bottom - 2, kLeftMargin - 4, 1, QColor(96, 96, 96));
        p.fillRect(2, r.bottom - 1, kLeftMargin - 4, 1, QColor(192, 192, 192));
    }
    frame3d(p, {rows.left - 1, rows.top - 1, rows.right + 1, rows.bottom + 1}, QColor(96, 96, 96),
            QColor(192, 192, 192));
}

void TimelinePainter::paintRuler(QPainter& p, const TimelineGeometry& g, const FProject& project,
                                 const TimelineScene& scene) const
{
    const int32_t fps = EditRateContext::wholeRate(project.composition().frameRate);
    const std::vector<RulerMark> marks = rulerMarks(g, fps, m_labelWidth);
    p.setFont(m_rulerFont);
    p.setPen(Qt::black);
    const QFontMetrics fm(m_rulerFont);
    for (const RulerMark& m : marks) {
        p.fillRect(m.x, kRulerBottom - m.height, 1, m.height, Qt::black);
        if (!m.label) continue;
        const QString text = QString::fromStdString(rulerLabel(m.time, scene.timecode));
        const int tw = fm.horizontalAdvance(text);
        p.drawText(m.x - tw / 2, kRulerTop + m_rulerAscent - 1, text);
    }
    const RenderBar bar =
        renderBar(g, project.renderStart.ticks(), std::max(project.renderEnd.ticks(), int64_t(0)));
    if (bar.visible && bar.right > bar.left)
        p.fillRect(bar.left, 16, bar.right - bar.left, 3, QColor(50, 200, 50));
}

void TimelinePainter::paintTransitions(QPainter& p, const TimelineGeometry& g,
                                       const FProject& project, const TimelineScene& scene) const
{
    const movies::Rect row = g.drawnRow(0);
    const FDevice& a = project.device(kLayerA);
    const bool lit = scene.previewShowsComposition && a.enabled();
    const int w = g.width();
    p.setFont(m_nameFont);
    for (size_t i = 0; i + 1 < a.size(); ++i) {
        const ZEFItem* item = a.at(i);
        const int32_t xs = g.timeToX(a.at(i + 1)->getStart().ticks());
        const int32_t xe = g.timeToX(item->getEnd().ticks());
        if (!(xs < xe) || xe < 0 || xs > w) continue;
        const QRect r(QPoint(std::max(xs, -2), row.top + 1),
                      QPoint(std::min(xe, w + 2) - 1, row.bottom - 2));
        p.setPen(Qt::black);
        p.setBrush(lit ? kTransitionLit : kTransitionDim);
        p.drawRect(r.adjusted(0, 0, -1, -1));
        if (r.width() < 6 || !item->transition()) continue;
        p.setPen(lit ? QColor(Qt::black) : QColor(96, 96, 96));
        p.drawText(r.adjusted(1, 1, -1, -1), Qt::AlignHCenter | Qt::AlignTop | Qt::TextSingleLine,
                   QString::fromStdString(item->transition()->name()));
    }
    p.setBrush(Qt::NoBrush);
}

void TimelinePainter::paintTrack(QPainter& p, const TimelineGeometry& g, const FProject& project,
                                 const TimelineScene& scene, int32_t track) const
{
    const FDevice& d = project.device(track);
    const movies::Rect box = g.rowBox(track);
    const int w = g.width();
    const int32_t areaLeft = kLeftMargin - 2, areaRight = w - 2;
    // The x of each item's start and end are computed once; each shape needs its
    // neighbours' as well.
    int32_t prevEnd = 0, curStart = 0, curEnd = 0;
    bool havePrev = false;
    const size_t n = d.size();
    if (n > 0) {
        curStart = g.timeToX(d.at(0)->getStart().ticks());
        curEnd = g.timeToX(d.at(0)->getEnd().ticks());
    }
    for (size_t i = 0; i < n; ++i) {
        const ZEFItem* item = d.at(i);
        const ZEFItem* next = d.at(i + 1);
        const int32_t nextStart = next ? g.timeToX(next->getStart().ticks()) : 0;
        const int32_t nextEnd = next ? g.timeToX(next->getEnd().ticks()) : 0;
        if (curEnd >= areaLeft && curStart <= areaRight) {
            const ItemShape shape = itemShape(
                box, curStart, curEnd, havePrev ? std::optional<int32_t>(prevEnd) : std::nullopt,
                next ? std::optional<int32_t>(nextStart) : std::nullopt);
            paintItem(p, g, *item, shape, itemBright(*item, project, scene),
                      item == scene.selected);
        }
        prevEnd = curEnd;
        havePrev = true;
        curStart = nextStart;
        curEnd = nextEnd;
    }

    // Keyframes: a white flag at the top and a dotted line down the row.
    const auto& keys = d.keyframes();
    for (const MatrixKeyframe& k : keys) {
        const int64_t t = k.time.ticks();
        if (!g.inView(t)) continue;
        const int32_t x = g.timeToX(t);
        p.fillRect(x - 2, box.top + 1, 5, 3, Qt::white);
        p.fillRect(x - 1, box.top + 4, 3, 1, Qt::white);
        for (int32_t y = box.top + 5; y < box.bottom; y += 2)
            p.fillRect(x, y, 1, 1, Qt::white);
    }
}

void TimelinePainter::paintItem(QPainter& p, const TimelineGeometry& g, const ZEFItem& item,
                                const ItemShape& shape, bool bright, bool selected) const
{
    const int w = g.width();
    const QColor outline = selected ? QColor(Qt::white) : trackColour(item.track(), bright);
    const QColor fill = bright ? QColor(Qt::black) : QColor(48, 48, 48);
    const auto& s = shape.p;
    // Shrunk by a pixel at top and bottom, and once more on every side for the outline.
    const int32_t top = s[0].y + 2, bottom = s[5].y - 2;
    const int32_t x0 = clampX(s[5].x, w), x1 = clampX(s[1].x, w);
    if (x1 - x0 <= 3) {
        // Too narrow for a shape: a bar in the outline's colour.
        p.fillRect(x0, top, std::max(1, x1 - x0), bottom - top + 1, outline);
        return;
    }
    QPolygon poly(8);
    for (int i = 0; i < 8; ++i) {
        int32_t x = clampX(s[size_t(i)].x, w);
        int32_t y = s[size_t(i)].y;
        const bool leftSide = i == 0 || i >= 5;
        x += leftSide ? 1 : -1;
        if (i <= 1) y = top;
        if (i == 4 || i == 5) y = bottom;
        poly.setPoint(i, x, y);
    }
    p.setPen(outline);
    p.setBrush(fill);
    p.drawPolygon(poly);
    p.setBrush(Qt::NoBrush);

    const int32_t upperLeft = clampX(s[0].x, w), upperRight = x1;
    const int32_t lowerRight = clampX(s[4].x, w);
    const int32_t visibleLeft = std::max(upperLeft, kLeftMargin - 2);
    const int32_t visibleRight = std::min(upperRight, w);

    // Film perforations along track A's items, on the item's own grid, where they can be seen.
    const int32_t pitch = std::max(2, (s[5].y - s[0].y + 1) / 7);
    if (item.track() == kLayerA) {
        const int64_t step = 2 * pitch;
        auto holes = [&](int64_t from, int64_t to, int32_t y) {
            int64_t x = int64_t(s[5].x) + pitch;
            const int64_t firstSeen = std::max<int64_t>(from, kLeftMargin - step);
            if (x < firstSeen) x += (firstSeen - x) / step * step;
            for (; x + pitch - 1 <= to && x < w; x += step)
                if (x >= from) p.fillRect(int(x), y, pitch - 1, pitch - 1, QColor(96, 96, 96));
        };
        holes(int64_t(s[5].x) + 2, int64_t(s[4].x) - 2, s[5].y - pitch - 3);
        holes(int64_t(s[0].x) + 2, int64_t(s[1].x) - 2, s[0].y + 4);
    }

    // Icons, then the name.
    QString name = QString::fromStdString(item.name());
    const auto* clip = dynamic_cast<const ZEFSourceItem*>(&item);
    int32_t textLeft = upperLeft;
    const int32_t iconX = upperLeft + 3, iconY = s[0].y + 2;
    const bool room = upperRight - upperLeft > 20;
    if (clip && clip->invalid()) {
        name += QStringLiteral(" (Invalid file)");
        if (room) p.drawPixmap(iconX, iconY, m_invalid);
        textLeft = iconX + m_invalid.width() + 2;
    } else if (item.track() <= kLayerC) {
        int32_t x = iconX;
        if (!clip || clip->videoTrackIndex() < clip->videoTrackCount()) {
            if (room)
                p.drawPixmap(x, iconY, item.filterCount() > 0 ? m_pictureFiltered : m_picture);
            x += 14;
        }
        if (clip && clip->audioTrackIndex() < clip->audioTrackCount()) {
            if (room) p.drawPixmap(x, iconY, m_sound);
            x += 16;
        }
        textLeft = x;
    }
    if (item.track() == kLayerA) textLeft = upperLeft;

    const int32_t middle = (s[0].y + s[5].y) / 2;
    // Track A's rows are high enough for the clip's first frame between the perforations.
    if (clip && item.track() == kLayerA && !clip->thumbnail().empty()) {
        const int32_t tw = clip->thumbWidth(), th = clip->thumbHeight();
        const int32_t height = (s[5].y - s[0].y) - 2 * (pitch + 5);
        if (tw > 0 && th > 0 && height > 4 &&
            clip->thumbnail().size() >= size_t(tw) * size_t(th) * 4) {
            const int32_t width = std::max(1, tw * height / th);
            const int32_t tx = std::max(visibleLeft, upperLeft + 4);
            if (tx + width + 4 <= std::min(lowerRight, visibleRight) &&
                upperRight - upperLeft >= 3 * width) {
                const QImage picture(clip->thumbnail().data(), tw, th, tw * 4,
                                     QImage::Format_RGB32);
                p.drawImage(QRect(tx, middle - height / 2, width, height), picture);
            }
        }
    }

    // Centred over the part of the item in view, so that a long item keeps its name in sight.
    const QRect textRect(QPoint(std::max(textLeft, kLeftMargin), middle - 7),
                         QPoint(std::min(upperRight, w - 4) - 1, middle - 7 + m_nameHeight));
    if (textRect.width() < 4) return;
    p.setFont(m_nameFont);
    p.setPen(selected ? QColor(Qt::white) : QColor(192, 192, 192));
    p.drawText(textRect, Qt::AlignHCenter | Qt::AlignTop | Qt::TextSingleLine, name);
}

void TimelinePainter::paintMarker(QPainter& p, const TimelineGeometry& g, int64_t t)
{
    const movies::Rect r = g.markerRect(t);
    p.fillRect(r.left + 1, r.top, r.width() - 2, r.height(), Qt::white);
    p.fillRect(r.left + 2, r.top + 1, r.width() - 4, r.height() - 2, kMarkerRed);
}

} // namespace zef::ui
