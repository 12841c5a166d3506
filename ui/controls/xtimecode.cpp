#include "ui/controls/xtimecode.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

#include <algorithm>

namespace zef::ui {

namespace {

// Seconds of one step of each cell (frames cells: frames, marked negative).
constexpr int kCellUnit[CXTimeCode::kCells] = {3600, 600, 60, 10, 1, -10, -1};
// Cells before which a separator stands.
constexpr bool kSeparatorBefore[CXTimeCode::kCells] = {false, true, false, true,
                                                       false, true, false};

// The seven segments of a digit (a top, b top right, c bottom right, d bottom, e bottom left,
// f top left, g middle).
constexpr unsigned char kSegments[10] = {0x3F, 0x06, 0x5B, 0x4F, 0x66,
                                         0x6D, 0x7D, 0x07, 0x7F, 0x6F};

void drawDigit(QPainter& p, const QRect& cell, int digit, const QColor& colour)
{
    const int w = cell.width(), h = cell.height();
    const int t = std::max(1, w / 6); // stroke
    const int x0 = cell.left() + t, x1 = cell.right() - t;
    const int y0 = cell.top() + t, ym = cell.top() + h / 2, y1 = cell.bottom() - t;
    const unsigned char s = kSegments[std::clamp(digit, 0, 9)];
    auto hbar = [&](int y) { p.fillRect(QRect(x0 + 1, y - t / 2, x1 - x0 - 1, t), colour); };
    auto vbar = [&](int x, int ya, int yb) {
        p.fillRect(QRect(x - t / 2, ya + 1, t, yb - ya - 1), colour);
    };
    if (s & 0x01) hbar(y0);
    if (s & 0x02) vbar(x1, y0, ym);
    if (s & 0x04) vbar(x1, ym, y1);
    if (s & 0x08) hbar(y1);
    if (s & 0x10) vbar(x0, ym, y1);
    if (s & 0x20) vbar(x0, y0, ym);
    if (s & 0x40) hbar(ym);
}

} // namespace

CXTimeCode::CXTimeCode(QWidget* parent) : QWidget(parent)
{
    setFocusPolicy(Qt::StrongFocus);
    m_blink.setInterval(kBlinkInterval);
    connect(&m_blink, &QTimer::timeout, this, [this] {
        m_caretOn = !m_caretOn;
        update(cellRect(m_cursor));
    });
}

// ---- digits

std::array<int, CXTimeCode::kCells> CXTimeCode::digitsOf(const EditTime& t)
{
    const int64_t s = std::max<int64_t>(0, t.ticks()) / kTicksPerSecond;
    const int frames = std::clamp(t.ticks() < 0 ? 0 : t.frameInSecond(), 0, 99);
    const int minutes = int(s / 60 % 60), seconds = int(s % 60);
    return {int(s / 3600 % 10), minutes / 10, minutes % 10, seconds / 10,
            seconds % 10,       frames / 10,  frames % 10};
}

EditTime CXTimeCode::fromDigits(const std::array<int, kCells>& d, const EditTime& t)
{
    const int64_t seconds = int64_t(d[0]) * 3600 + (d[1] * 10 + d[2]) * 60 + d[3] * 10 + d[4];
    EditTime out = EditTime::raw(seconds * kTicksPerSecond, t.rateNum(), t.rateDen(), t.extra());
    out.addFrames(d[5] * 10 + d[6]);
    return out.snapped();
}

// ---- layout

int CXTimeCode::widthFor(int h)
{
    const int sep = h / 8, digit = (h - 2 * h / 8) / 2;
    return kCells * digit + 2 * sep + 24;
}

QSize CXTimeCode::sizeHint() const { return QSize(widthFor(24), 24); }

QRect CXTimeCode::cellRect(int cell) const
{
    const int h = height();
    const int sep = h / 8, digit = (h - 2 * h / 8) / 2;
    const int used = kCells * digit + 3 * sep;
    int x = (width() - used) / 2;
    for (int i = 0; i < cell; ++i)
        x += digit + (kSeparatorBefore[i + 1] ? sep : 0);
    const int top = std::max(3, h / 8);
    return QRect(x, top, digit, h - 2 * top);
}

int CXTimeCode::cellAt(int x) const
{
    for (int c = 0; c < kCells; ++c) {
        const QRect r = cellRect(c);
        if (x >= r.left() - 1 && x <= r.right() + 1) return c;
    }
    return -1;
}

void CXTimeCode::resizeEvent(QResizeEvent* e)
{
    QWidget::resizeEvent(e);
    const int wanted = widthFor(height());
    if (width() != wanted) resize(wanted, height());
}

// ---- value

void CXTimeCode::setRange(const EditTime& minimum, const EditTime& maximum)
{
    m_min = minimum;
    m_max = maxTime(minimum, maximum);
    apply(m_value);
}

void CXTimeCode::setValue(const EditTime& t) { apply(t); }

void CXTimeCode::apply(EditTime t)
{
    if (t < m_min) t.setTicks(m_min.ticks());
    if (t > m_max) t.setTicks(m_max.ticks());
    const bool differs = t.ticks() != m_value.ticks() || t.rateNum() != m_value.rateNum() ||
                         t.rateDen() != m_value.rateDen();
    m_value = t;
    update();
    if (differs) emit changed();
}

void CXTimeCode::setDigitColour(const QColor& c)
{
    m_digitColour = c;
    update();
}

void CXTimeCode::step(int direction)
{
    EditTime t = m_value;
    const int unit = kCellUnit[m_cursor];
    if (unit > 0)
        t.setTicks(t.ticks() + int64_t(direction) * unit * kTicksPerSecond);
    else
        t.addFrames(direction * -unit);
    apply(t.snapped());
}

void CXTimeCode::enterDigit(int digit)
{
    std::array<int, kCells> d = digitsOf(m_value);
    d[size_t(m_entry)] = digit;
    apply(fromDigits(d, m_value));
    m_entry = std::min(m_entry + 1, kCells - 1);
}

void CXTimeCode::moveCursor(int cell)
{
    const QRect old = cellRect(m_cursor);
    m_cursor = std::clamp(cell, 0, kCells - 1);
    update(old);
    update(cellRect(m_cursor));
}

// ---- input

void CXTimeCode::keyPressEvent(QKeyEvent* e)
{
    const int key = e->key();
    if (key >= Qt::Key_0 && key <= Qt::Key_9) {
        enterDigit(key - Qt::Key_0);
        return;
    }
    switch (key) {
    case Qt::Key_Left:
    case Qt::Key_Right:
        m_wholeCell = false;
        moveCursor(m_cursor + (key == Qt::Key_Left ? -1 : 1));
        return;
    case Qt::Key_Up:
    case Qt::Key_Down:
        step(key == Qt::Key_Up ? 1 : -1);
        return;
    case Qt::Key_Home:
        apply(m_min);
        return;
    case Qt::Key_End:
        apply(m_max);
        return;
    case Qt::Key_Space:
        m_wholeCell = false;
        enterDigit(0);
        return;
    case Qt::Key_Backspace: {
        m_wholeCell = false;
        std::array<int, kCells> d = digitsOf(m_value);
        d[size_t(m_entry)] = 0;
        apply(fromDigits(d, m_value));
        m_entry = std::max(0, m_entry - 1);
        return;
    }
    case Qt::Key_Insert:
        m_wholeCell = !m_wholeCell;
        moveCursor(kCells - 1);
        return;
    case Qt::Key_Delete: {
        m_wholeCell = true;
        EditTime zero = m_value;
        zero.setTicks(0);
        apply(zero);
        return;
    }
    default:
        QWidget::keyPressEvent(e);
    }
}

void CXTimeCode::mousePressEvent(QMouseEvent* e)
{
    setFocus(Qt::MouseFocusReason);
    const int cell = cellAt(int(e->position().x()));
    if (cell >= 0) moveCursor(cell);
}

void CXTimeCode::focusInEvent(QFocusEvent* e)
{
    QWidget::focusInEvent(e);
    m_entry = 0;
    moveCursor(3);
    m_caretOn = true;
    m_blink.start();
    emit focusGained();
}

void CXTimeCode::focusOutEvent(QFocusEvent* e)
{
    QWidget::focusOutEvent(e);
    m_blink.stop();
    m_caretOn = false;
    m_entry = 0;
    update();
    emit focusLost();
}

// ---- painting

void CXTimeCode::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    QRect r = rect();
    for (auto [tl, br] : {std::pair{QColor(96, 96, 96), QColor(192, 192, 192)},
                          std::pair{QColor(96, 96, 96), QColor(192, 192, 192)}}) {
        p.setPen(tl);
        p.drawLine(r.topLeft(), r.topRight());
        p.drawLine(r.topLeft(), r.bottomLeft());
        p.setPen(br);
        p.drawLine(r.bottomLeft(), r.bottomRight());
        p.drawLine(r.topRight(), r.bottomRight());
        r.adjust(1, 1, -1, -1);
    }
    const bool enabled = isEnabled();
    p.fillRect(r, enabled ? QColor(0, 0, 0) : QColor(96, 96, 96));
    const QColor colour = enabled ? m_digitColour : QColor(144, 144, 144);
    const std::array<int, kCells> d = digitsOf(m_value);
    for (int c = 0; c < kCells; ++c) {
        const QRect cell = cellRect(c);
        drawDigit(p, cell, d[size_t(c)], colour);
        if (kSeparatorBefore[c]) {
            const int sep = std::max(1, height() / 8);
            const int x = cell.left() - sep / 2 - 1, dot = std::max(1, sep / 3);
            p.fillRect(QRect(x, cell.top() + cell.height() / 3 - dot / 2, dot, dot), colour);
            p.fillRect(QRect(x, cell.top() + 2 * cell.height() / 3 - dot / 2, dot, dot), colour);
        }
    }
    if (hasFocus() && m_caretOn) {
        QRect caret = cellRect(m_cursor);
        if (!m_wholeCell) caret.setTop(caret.bottom() - caret.height() / 4 + 1);
        p.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
        p.fillRect(caret, Qt::white);
    }
}

} // namespace zef::ui
