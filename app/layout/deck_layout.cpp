#include "app/layout/deck_layout.h"

#include <cstdlib>

namespace zef::app {

namespace {

Rect sized(int32_t left, int32_t top, int32_t width, int32_t height)
{
    return Rect{left, top, left + width, top + height};
}

Rect movedTo(const Rect& r, int32_t left, int32_t top)
{
    return sized(left, top, r.width(), r.height());
}

bool overlapVertically(const Rect& a, const Rect& b)
{
    return a.top < b.bottom && b.top < a.bottom;
}
bool overlapHorizontally(const Rect& a, const Rect& b)
{
    return a.left < b.right && b.left < a.right;
}

// The smallest distance from any of the edges to either target, kept in best.
void nearest(std::optional<int32_t>& best, std::initializer_list<int32_t> edges, int32_t targetA,
             int32_t targetB)
{
    for (int32_t e : edges)
        for (int32_t t : {targetA, targetB}) {
            const int32_t d = t - e;
            if (!best || std::abs(d) < std::abs(*best)) best = d;
        }
}

} // namespace

DeckLayout::DeckLayout(const Rect& screen) : m_screen(screen)
{
    for (int32_t i : {kInfoDeckPanel, kTimelineDeckPanel, kPreviewDeckPanel, kClipDeckPanel})
        m_panels[size_t(i)].resizable = true;
}

std::array<Rect, kPanelsTotal> DeckLayout::defaultRects(const Rect& screen, const DeckSizes& s)
{
    std::array<Rect, kPanelsTotal> r;
    const int32_t x0 = screen.left, y0 = screen.top;
    const int32_t mainWidth = s.clipDeckWidth;
    const int32_t d = s.clipDeckHeight;
    r[kMainWindowPanel] = sized(x0, y0, mainWidth, s.mainCaptionHeight + s.mainClientHeight);
    r[kClipDeckPanel] = sized(x0, r[kMainWindowPanel].bottom, mainWidth, d);
    r[kTimelineDeckPanel] = sized(x0, r[kClipDeckPanel].bottom, mainWidth, 2 * d);
    r[kInfoDeckPanel] = sized(x0, r[kTimelineDeckPanel].bottom, mainWidth, 2 * d);

    const int32_t x1 = x0 + mainWidth, w = s.vcrDeckWidth;
    r[kPreviewDeckPanel] = sized(x1, y0, w, w * 3 / 4);
    r[kVcrDeckPanel] = sized(x1, r[kPreviewDeckPanel].bottom, w, s.vcrDeckHeight);
    r[kParametersDeckPanel] = sized(x1, r[kVcrDeckPanel].bottom, w, s.parametersDeckHeight);
    return r;
}

void DeckLayout::restoreDefault(const DeckSizes& sizes)
{
    const auto rects = defaultRects(m_screen, sizes);
    for (size_t i = 0; i < rects.size(); ++i)
        m_panels[i].rect = rects[i];
}

bool DeckLayout::snap(int32_t edge, Rect& r, int32_t moving, bool includeResizable) const
{
    const bool left =
        edge == kMoveWindow || edge == kEdgeLeft || edge == kEdgeTopLeft || edge == kEdgeBottomLeft;
    const bool right = edge == kMoveWindow || edge == kEdgeRight || edge == kEdgeTopRight ||
                       edge == kEdgeBottomRight;
    const bool top =
        edge == kMoveWindow || edge == kEdgeTop || edge == kEdgeTopLeft || edge == kEdgeTopRight;
    const bool bottom = edge == kMoveWindow || edge == kEdgeBottom || edge == kEdgeBottomLeft ||
                        edge == kEdgeBottomRight;

    std::optional<int32_t> dx, dy;
    auto consider = [&](const Rect& c) {
        if (overlapVertically(r, c)) {
            if (left) nearest(dx, {r.left}, c.left, c.right);
            if (right) nearest(dx, {r.right}, c.left, c.right);
        }
        if (overlapHorizontally(r, c)) {
            if (top) nearest(dy, {r.top}, c.top, c.bottom);
            if (bottom) nearest(dy, {r.bottom}, c.top, c.bottom);
        }
    };
    if (!m_screen.isEmpty()) consider(m_screen);
    for (int32_t i = 0; i < kPanelsTotal; ++i) {
        const Panel& p = m_panels[size_t(i)];
        if (i == moving || !p.visible || p.rect.isEmpty()) continue;
        if (p.resizable && !includeResizable) continue;
        consider(p.rect);
    }

    bool snapped = false;
    if (dx && std::abs(*dx) <= kSnapDistance) {
        if (left) r.left += *dx;
        if (right) r.right += *dx;
        snapped = true;
    }
    if (dy && std::abs(*dy) <= kSnapDistance) {
        if (top) r.top += *dy;
        if (bottom) r.bottom += *dy;
        snapped = true;
    }
    return snapped;
}

void DeckLayout::computeAttachments()
{
    for (Panel& p : m_panels)
        p.attached = false;
    m_panels[kMainWindowPanel].attached = true;

    auto joined = [](const Rect& a, const Rect& b) {
        const bool sameX =
            a.left == b.left || a.left == b.right || a.right == b.left || a.right == b.right;
        const bool sameY =
            a.top == b.top || a.top == b.bottom || a.bottom == b.top || a.bottom == b.bottom;
        return (sameX && overlapVertically(a, b)) || (sameY && overlapHorizontally(a, b));
    };
    for (bool grew = true; grew;) {
        grew = false;
        for (Panel& p : m_panels) {
            if (p.attached || !p.visible || p.rect.isEmpty()) continue;
            for (const Panel& q : m_panels)
                if (q.attached && joined(p.rect, q.rect)) {
                    p.attached = grew = true;
                    break;
                }
        }
    }
    const Rect& main = m_panels[kMainWindowPanel].rect;
    for (Panel& p : m_panels)
        p.offset = {p.rect.left - main.left, p.rect.top - main.top};
}

void DeckLayout::moveAttached(int32_t x, int32_t y)
{
    for (Panel& p : m_panels)
        if (p.attached) p.rect = movedTo(p.rect, x + p.offset.x, y + p.offset.y);
}

RestoredPanel restorePanel(const Rect& current, bool resizable, const StoredPanel& stored)
{
    if (stored.rect.width() <= 0 || stored.rect.height() <= 0) return {current, true};
    if (resizable) return {stored.rect, stored.visible};
    return {movedTo(current, stored.rect.left, stored.rect.top), stored.visible};
}

} // namespace zef::app
