#include "listctrl/tavrel_model.h"

#include <algorithm>
#include <cstdio>

namespace tavrel {

QString timeText(int64_t value, int32_t rate, int32_t timeBase)
{
    if (value < 0 || timeBase <= 0) return QStringLiteral("--:--:--");
    const int64_t s = value / timeBase;
    int64_t f = 0;
    if (rate > 0) f = ((timeBase / rate) / 2 + (value - s * timeBase)) * int64_t(rate) / timeBase;
    char text[48];
    std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld", static_cast<long long>(s / 60),
                  static_cast<long long>(s % 60), static_cast<long long>(f));
    return QString::fromLatin1(text);
}

SourceTag sourceTag(int32_t value)
{
    switch (value) {
    case 1:
        return {"A", 0x00C0C0};
    case 2:
        return {"B", 0xFFD200};
    case 4:
        return {"A>>B", 0x00C0C0};
    case 8:
        return {"B>>A", 0xFFD200};
    default:
        return {};
    }
}

// ---- rows and columns

int TavrelModel::addRow(const QString& name)
{
    if (rowCount() >= kMaxRows) return -1;
    m_rows.push_back(name);
    return rowCount() - 1;
}

bool TavrelModel::setValue(int column, int row, int32_t value)
{
    TavrelColumn* c = columnAt(column);
    if (!c || row < 0 || row >= rowCount() || row >= int(c->values.size())) return false;
    c->values[size_t(row)] = value;
    return true;
}

void TavrelModel::resetColumns()
{
    m_columns.clear();
    m_selection = -1;
}

int TavrelModel::deleteColumn(int column)
{
    if (!validColumn(column)) return -1;
    m_columns.erase(m_columns.begin() + column);
    if (m_selection >= column) {
        --m_selection;
        // The first column was the focus: the new first one takes it.
        if (m_selection == -1 && !m_columns.empty()) m_selection = 0;
    }
    resetFlags();
    return column;
}

int TavrelModel::addNewColumn(const QString& name, const QString& tip, int32_t rate, bool filter)
{
    return insertColumn(columnCount(), name, tip, rate, filter);
}

int TavrelModel::insertColumn(int index, const QString& name, const QString& tip, int32_t rate,
                              bool filter)
{
    if (!validColumn(index)) index = columnCount();
    TavrelColumn c;
    c.name = name.left(kMaxText);
    c.tip = tip.left(kMaxText);
    c.rate = rate;
    c.filter = filter;
    m_columns.insert(m_columns.begin() + index, std::move(c));
    // The focus stays on its column.
    if (m_selection >= index) ++m_selection;
    return index;
}

bool TavrelModel::setColumnText(int column, const QString& name, const QString& tip)
{
    TavrelColumn* c = columnAt(column);
    if (!c) return false;
    c->name = name.left(kMaxText);
    c->tip = tip.left(kMaxText);
    return true;
}

bool TavrelModel::setThumbnail(int column, const uint32_t* pixels, int width, int height)
{
    TavrelColumn* c = columnAt(column);
    if (!c) return false;
    c->hasThumbnail = false;
    if (width < 0 || height < 0 || int64_t(width) * height > kMaxThumbnailPixels) return false;
    c->thumbWidth = int16_t(width);
    c->thumbHeight = int16_t(height);
    const size_t n = size_t(width) * size_t(height);
    if (pixels)
        c->thumbnail.assign(pixels, pixels + n);
    else
        c->thumbnail.assign(n, 0);
    c->hasThumbnail = true;
    return true;
}

int32_t TavrelModel::rateOf(int column) const
{
    if (!validColumn(column)) return 0;
    const int32_t own = column_(column).rate;
    return own != 0 || m_columns.empty() ? own : m_columns.front().rate;
}

QString TavrelModel::columnTime(int column, int valueRow) const
{
    if (!validColumn(column) || valueRow < 0 || valueRow > 1) return QString();
    return timeText(column_(column).values[size_t(valueRow)], rateOf(column), timeBase);
}

// ---- selection

void TavrelModel::resetFlags()
{
    for (size_t i = 0; i < m_columns.size(); ++i)
        m_columns[i].selected = int(i) == m_selection;
}

void TavrelModel::scrollIntoView()
{
    if (m_selection < 0) return; // nothing to show: the view stays
    if (m_selection < columnOffset)
        columnOffset = m_selection;
    else if (m_selection > columnOffset + visibleColumnCount - 1)
        columnOffset = int16_t(m_selection - visibleColumnCount + 1);
    if (columnOffset < 0) columnOffset = 0;
}

void TavrelModel::setSelection(int selection)
{
    m_selection = int16_t(std::clamp(selection, -1, columnCount() - 1));
    scrollIntoView();
    resetFlags();
}

void TavrelModel::leftClick(int hit, bool shift, bool ctrl)
{
    if (!validColumn(hit)) return;
    int lowest = -1;
    for (int i = 0; i < columnCount() && lowest < 0; ++i)
        if (column_(i).selected) lowest = i;
    if (shift && lowest >= 0) {
        for (int i = std::min(lowest, hit); i <= std::max(lowest, hit); ++i)
            m_columns[size_t(i)].selected = true;
        m_selection = int16_t(hit);
    } else if (ctrl) {
        TavrelColumn& c = m_columns[size_t(hit)];
        c.selected = !c.selected;
        if (c.selected)
            m_selection = int16_t(hit);
        else if (m_selection == hit)
            m_selection = -1;
    } else {
        m_selection = int16_t(hit);
        resetFlags();
    }
}

void TavrelModel::rightClick(int hit)
{
    if (!validColumn(hit)) return;
    const bool wasSelected = column_(hit).selected;
    m_selection = int16_t(hit);
    if (!wasSelected) resetFlags();
}

bool TavrelModel::moveSelection(int delta)
{
    if (m_columns.empty()) return false;
    const int16_t before = m_selection;
    m_selection = int16_t(std::clamp(m_selection + delta, 0, columnCount() - 1));
    scrollIntoView();
    resetFlags();
    return m_selection != before;
}

// ---- geometry

TavrelModel::Geometry TavrelModel::geometry(int width, int height) const
{
    Geometry g;
    g.inner = Box{1, 1, width - 1, height - 1};
    g.drawable = rowCount() > 0 && g.inner.height() > 9;
    g.visible = std::max<int>(1, visibleColumnCount);
    if (rowCount() > 0) g.rowHeight = std::max(0, g.inner.height()) / rowCount();
    g.nominalWidth = int(g.rowHeight * 3.5);
    g.step = std::max(0, g.inner.width() - kRowNameWidth) / g.visible;
    return g;
}

TavrelModel::Geometry TavrelModel::layout(int width, int height)
{
    Geometry g = geometry(width, height);
    if (!g.drawable || g.nominalWidth <= 0) return g;
    const int room = std::max(0, g.inner.width() - kRowNameWidth);
    // A control too narrow for one nominal column still shows one.
    g.visible = std::max(1, room / g.nominalWidth);
    g.step = room / g.visible;
    visibleColumnCount = int16_t(std::min(g.visible, 0x7FFF));
    return g;
}

Box TavrelModel::slotBox(const Geometry& g, int k)
{
    const int x = g.inner.l + kRowNameWidth - 1 + k * g.step;
    return Box{x, g.inner.t, std::min(x + g.step, g.inner.r), g.inner.b + 1};
}

Box TavrelModel::columnBox(const Geometry& g, int index) const
{
    const int x = g.inner.l + kRowNameWidth - 1 + g.step * (index - columnOffset);
    return Box{x, g.inner.t, x + g.step, g.inner.b + 1};
}

Box TavrelModel::thumbnailBox(const Geometry& g, int k, int rows)
{
    const Box slot = slotBox(g, k);
    return Box{slot.l + 1, g.inner.t + 3 * g.rowHeight + 1, slot.r - 1,
               std::min(g.inner.t + rows * g.rowHeight + 2, g.inner.b)};
}

int TavrelModel::hitTest(const Geometry& g, int x, int y, bool withEmptySlots) const
{
    if (m_rows.empty()) return -1;
    const int last = columnCount() + (withEmptySlots ? kEmptyDropSlots : 0);
    for (int k = 0; k < g.visible; ++k) {
        const int index = columnOffset + k;
        if (index >= last) break;
        const int left = g.inner.l + kRowNameWidth + 1 + k * g.step;
        if (Box{left, g.inner.t + 1, left + g.step, g.inner.b - 1}.contains(x, y))
            return std::min(index, columnCount());
    }
    return -1;
}

int TavrelModel::rowAt(const Geometry& g, int y) const
{
    if (m_rows.empty() || g.rowHeight <= 0 || y < 1) return -1;
    const int d = (y - 1) / g.rowHeight;
    return d < rowCount() ? d : -1;
}

std::array<std::pair<int, int>, 8> TavrelModel::dropMarker(const Geometry& g, int index) const
{
    const Box c = columnBox(g, index);
    const int x0 = c.l, y0 = c.t, y1 = c.b;
    return {{{x0 - 4, y0},
             {x0 + 4, y0},
             {x0 + 1, y0 + 4},
             {x0 + 1, y1 - 4},
             {x0 + 4, y1},
             {x0 - 4, y1},
             {x0 - 1, y1 - 4},
             {x0 - 1, y0 + 4}}};
}

bool TavrelModel::scrollsRight(int x, int clientWidth) const
{
    return x >= clientWidth - kScrollMargin && columnCount() >= visibleColumnCount + columnOffset;
}

DragStep TavrelModel::dragOver(const Geometry& g, int x, int y, int clientWidth)
{
    if (x >= 1 && x <= kRowNameWidth && columnOffset >= 1) {
        --columnOffset;
        return {DragStep::ScrollLeft, -1};
    }
    if (scrollsRight(x, clientWidth)) {
        ++columnOffset;
        return {DragStep::ScrollRight, -1};
    }
    const int target = hitTest(g, x, y, true);
    if (target < 0 || target == m_selection || (target == 0 && disableDragOnFirst))
        return {DragStep::Refuse, -1};
    return {DragStep::Target, target};
}

DragStep TavrelModel::friendDragOver(const Geometry& g, int x, int y, int clientWidth)
{
    if (x > 0 && x <= kRowNameWidth && columnOffset > 0) {
        --columnOffset;
        return {DragStep::ScrollLeft, -1};
    }
    if (scrollsRight(x, clientWidth)) {
        ++columnOffset;
        return {DragStep::ScrollRight, -1};
    }
    return {DragStep::Target, hitTest(g, x, y, true)};
}

} // namespace tavrel
