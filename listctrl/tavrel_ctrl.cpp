#include "listctrl/tavrel_ctrl.h"

#include "listctrl/tavrel_pictures.h"
#include "listctrl/tavrel_widgets.h"

#include <QApplication>
#include <QCursor>
#include <QFontMetrics>
#include <QMouseEvent>
#include <QPainter>
#include <QPolygon>

#include <algorithm>

namespace tavrel {

namespace {

const QColor kAmber(255, 210, 0);
const QColor kCyan(0, 192, 192);

QRect toRect(const Box& b) { return QRect(b.l, b.t, b.width(), b.height()); }

// A 3-D frame: light top and left, dark bottom and right.
void frame3d(QPainter& p, const QRect& r, const QColor& topLeft, const QColor& bottomRight)
{
    p.setPen(topLeft);
    p.drawLine(r.left(), r.top(), r.right(), r.top());
    p.drawLine(r.left(), r.top(), r.left(), r.bottom());
    p.setPen(bottomRight);
    p.drawLine(r.left(), r.bottom(), r.right(), r.bottom());
    p.drawLine(r.right(), r.top(), r.right(), r.bottom());
}

// Text of the strip: Arial of a pixel height, squeezed or widened so that an average
// character is `width` pixels wide (fonts that have no such width are scaled sideways).
struct StripFont {
    QFont font;
    qreal scaleX = 1;
};

StripFont stripFont(int height, int width, bool bold)
{
    StripFont s;
    s.font = QFont(QStringLiteral("Arial"));
    s.font.setPixelSize(std::max(1, height));
    s.font.setWeight(bold ? QFont::Bold : QFont::Normal);
    const qreal average = QFontMetricsF(s.font).averageCharWidth();
    if (average > 0 && width > 0) s.scaleX = std::clamp(width / average, 0.2, 4.0);
    return s;
}

} // namespace

// The two fonts of the current row height.
struct StripFonts {
    int rowHeight = -1;
    StripFont regular, bold;
};

namespace {

// Centred at the cell's middle, from the cell's top.
void drawStripText(QPainter& p, const QRect& cell, const QString& text, const StripFont& f)
{
    p.save();
    p.setFont(f.font);
    p.translate(cell.left() + cell.width() / 2.0, cell.top());
    p.scale(f.scaleX, 1);
    const qreal w = std::max<qreal>(cell.width(), 1) / f.scaleX * 4;
    p.drawText(QRectF(-w / 2, 0, w, cell.height()), Qt::AlignHCenter | Qt::AlignTop, text);
    p.restore();
}

// The thumbnail (rows stored bottom-up) as an image the right way up.
QImage thumbnailImage(const TavrelColumn& c)
{
    const int w = c.thumbWidth, h = c.thumbHeight;
    QImage image(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y) {
        const uint32_t* src = c.thumbnail.data() + size_t(h - 1 - y) * size_t(w);
        auto* dst = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < w; ++x)
            dst[x] = src[x] | 0xFF000000u;
    }
    return image;
}

// Where a w × h picture goes in an area: as large as fits, aspect kept, centred.
QRect letterbox(const QRect& area, int w, int h)
{
    if (w <= 0 || h <= 0 || area.isEmpty()) return QRect();
    if (int64_t(area.width()) * h > int64_t(area.height()) * w) {
        const int dw = int(int64_t(w) * area.height() / h);
        return QRect(area.left() + (area.width() - dw) / 2, area.top(), dw, area.height());
    }
    const int dh = int(int64_t(h) * area.width() / w);
    return QRect(area.left(), area.top() + (area.height() - dh) / 2, area.width(), dh);
}

} // namespace

// ---- the drag message

QEvent::Type TavrelDragEvent::registeredType()
{
    static const QEvent::Type type = QEvent::Type(QEvent::registerEventType());
    return type;
}

// ---- dispatch by id

bool _DTavrel::invoke(int dispid, Dispatch kind, const QVariantList& args, QVariant* result)
{
    QVariant out;
    auto need = [&](qsizetype n) { return args.size() >= n; };
    auto s = [&](int i) { return short(args[i].toInt()); };
    auto l = [&](int i) { return long(args[i].toLongLong()); };
    if (dispid >= DISPID_ColumnOffset && dispid <= DISPID_VisibleColumnCount) {
        if (kind == Dispatch::PropertyGet) {
            switch (dispid) {
            case DISPID_ColumnOffset:
                out = GetColumnOffset();
                break;
            case DISPID_TimeBase:
                out = qlonglong(GetTimeBase());
                break;
            case DISPID_Selection:
                out = GetSelection();
                break;
            case DISPID_DisableDragOnFirst:
                out = GetDisableDragOnFirst();
                break;
            case DISPID_Flags:
                out = qlonglong(GetFlags());
                break;
            default:
                out = GetVisibleColumnCount();
                break;
            }
        } else if (kind == Dispatch::PropertyPut && need(1)) {
            switch (dispid) {
            case DISPID_ColumnOffset:
                SetColumnOffset(s(0));
                break;
            case DISPID_TimeBase:
                SetTimeBase(l(0));
                break;
            case DISPID_Selection:
                SetSelection(s(0));
                break;
            case DISPID_DisableDragOnFirst:
                SetDisableDragOnFirst(args[0].toBool());
                break;
            case DISPID_Flags:
                SetFlags(l(0));
                break;
            default:
                SetVisibleColumnCount(s(0));
                break;
            }
        } else {
            return false;
        }
        if (result) *result = out;
        return true;
    }
    if (kind != Dispatch::Method) return false;
    switch (dispid) {
    case DISPID_SetValue:
        if (!need(3)) return false;
        SetValue(s(0), s(1), l(2));
        break;
    case DISPID_AddRow:
        if (!need(1)) return false;
        out = AddRow(args[0].toString());
        break;
    case DISPID_ResetColumns:
        ResetColumns();
        break;
    case DISPID_DeleteColumn:
        if (!need(1)) return false;
        out = DeleteColumn(s(0));
        break;
    case DISPID_GetItemData:
        if (!need(1)) return false;
        out = qlonglong(GetItemData(s(0)));
        break;
    case DISPID_SetItemData:
        if (!need(2)) return false;
        SetItemData(s(0), l(1));
        break;
    case DISPID_GetColumnText:
        if (!need(1)) return false;
        out = GetColumnText(s(0));
        break;
    case DISPID_ProvideToolTip:
        if (!need(2)) return false;
        out = ProvideToolTip(s(0), s(1));
        break;
    case DISPID_SetColumnText:
        if (!need(3)) return false;
        SetColumnText(s(0), args[1].toString(), args[2].toString());
        break;
    case DISPID_AddDragDropFriend:
        if (!need(1)) return false;
        AddDragDropFriend(qvariant_cast<QWidget*>(args[0]));
        break;
    case DISPID_SetThumbnail: {
        if (!need(4)) return false;
        const void* image = args[1].metaType() == QMetaType::fromType<void*>()
                                ? args[1].value<void*>()
                                : reinterpret_cast<const void*>(quintptr(args[1].toULongLong()));
        SetThumbnail(s(0), image, s(2), s(3));
        break;
    }
    case DISPID_GetColumnCount:
        out = GetColumnCount();
        break;
    case DISPID_AddNewColumn:
        if (!need(4)) return false;
        out = AddNewColumn(args[0].toString(), args[1].toString(), l(2), args[3].toBool());
        break;
    case DISPID_InsertColumn2:
        if (!need(5)) return false;
        out = InsertColumn2(s(0), args[1].toString(), args[2].toString(), l(3), args[4].toBool());
        break;
    case DISPID_GetItemSelection:
        if (!need(1)) return false;
        out = GetItemSelection(s(0));
        break;
    default:
        return false;
    }
    if (result) *result = out;
    return true;
}

// ---- the control

CTavrelCtrl* createTavrelControl(const QString& name, QWidget* parent)
{
    if (name.compare(QLatin1String(kClassId), Qt::CaseInsensitive) != 0 &&
        name != QLatin1String(kProgId))
        return nullptr;
    return new CTavrelCtrl(parent);
}

CTavrelCtrl::CTavrelCtrl(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("TavrelCtrl"));
    setMouseTracking(true);
    setFocusPolicy(Qt::ClickFocus);
    m_spin = new TavrelSpin(this);
    m_spin->setObjectName(QStringLiteral("spin"));
    m_spin->setProperty("controlId", kSpinId);
    m_spin->hide();
    connect(m_spin, &TavrelSpin::delta, this, [this](int d) { moveSelection(d < 0 ? 1 : -1); });
    m_tip = new TavrelTip(this);
}

CTavrelCtrl::~CTavrelCtrl() = default;

QWidget* CTavrelCtrl::spinButton() const { return m_spin; }

void CTavrelCtrl::setWindowFinder(std::function<QWidget*(const QPoint&)> finder)
{
    m_windowFinder = std::move(finder);
}

void CTavrelCtrl::changed(bool repaintNow)
{
    if (repaintNow)
        repaint();
    else
        update();
}

// ---- properties

void CTavrelCtrl::SetColumnOffset(short offset)
{
    m_model.columnOffset = offset;
    m_modified = true;
}

void CTavrelCtrl::SetTimeBase(long timeBase)
{
    m_model.timeBase = int32_t(timeBase);
    changed();
    m_modified = true;
}

void CTavrelCtrl::SetSelection(short selection)
{
    m_model.setSelection(selection);
    changed();
    m_modified = true;
}

void CTavrelCtrl::SetDisableDragOnFirst(bool disable)
{
    m_model.disableDragOnFirst = disable;
    m_modified = true;
}

void CTavrelCtrl::SetFlags(long flags)
{
    m_model.flags = int32_t(flags);
    m_modified = true;
}

void CTavrelCtrl::SetVisibleColumnCount(short count)
{
    m_model.visibleColumnCount = count;
    changed();
    m_modified = true;
}

// ---- methods

void CTavrelCtrl::SetValue(short column, short row, long value)
{
    if (m_model.setValue(column, row, int32_t(value))) changed();
}

short CTavrelCtrl::AddRow(const QString& name)
{
    const int row = m_model.addRow(name);
    if (row >= 0) {
        placeSpin(m_model.layout(width(), height()));
        changed();
    }
    return short(row);
}

void CTavrelCtrl::ResetColumns()
{
    m_model.resetColumns();
    hideTip();
    changed();
}

short CTavrelCtrl::DeleteColumn(short column)
{
    const int removed = m_model.deleteColumn(column);
    if (removed >= 0) changed();
    return short(removed);
}

long CTavrelCtrl::GetItemData(short column) const
{
    return m_model.validColumn(column) ? m_model.column(column).itemData : 0;
}

void CTavrelCtrl::SetItemData(short column, long data)
{
    if (TavrelColumn* c = m_model.columnAt(column)) c->itemData = int32_t(data);
}

QString CTavrelCtrl::GetColumnText(short column) const
{
    return m_model.validColumn(column) ? m_model.column(column).name : QString();
}

QString CTavrelCtrl::ProvideToolTip(short x, short y) const
{
    const int hit = m_model.hitTest(geometry(), x, y, false);
    return hit >= 0 ? m_model.column(hit).tip : QString(QLatin1String(""));
}

void CTavrelCtrl::SetColumnText(short column, const QString& name, const QString& tip)
{
    if (m_model.setColumnText(column, name, tip)) changed();
}

void CTavrelCtrl::AddDragDropFriend(QWidget* window)
{
    if (window) m_friends.emplace_back(window);
}

void CTavrelCtrl::SetThumbnail(short column, const void* image, short width, short height)
{
    if (m_model.setThumbnail(column, static_cast<const uint32_t*>(image), width, height)) changed();
}

short CTavrelCtrl::AddNewColumn(const QString& name, const QString& tip, long rate, bool filter)
{
    const int index = m_model.addNewColumn(name, tip, int32_t(rate), filter);
    changed();
    return short(index);
}

short CTavrelCtrl::InsertColumn2(short column, const QString& name, const QString& tip, long rate,
                                 bool filter)
{
    const int index = m_model.insertColumn(column, name, tip, int32_t(rate), filter);
    changed();
    return short(index);
}

short CTavrelCtrl::GetItemSelection(short column) const
{
    return m_model.isSelected(column) ? 1 : 0;
}

// ---- painting

void CTavrelCtrl::placeSpin(const TavrelModel::Geometry& g)
{
    if (!g.drawable) {
        m_spin->hide();
        return;
    }
    const QRect r(g.inner.l, g.inner.t, kRowNameWidth + 2, g.rowHeight);
    if (m_spin->geometry() != r) m_spin->setGeometry(r);
    m_spin->show();
}

void CTavrelCtrl::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    frame3d(p, rect(), QColor(192, 192, 192), QColor(96, 96, 96));
    const TavrelModel::Geometry g = m_model.layout(width(), height());
    if (!g.drawable) {
        p.fillRect(rect().adjusted(1, 1, -1, -1), QColor(144, 144, 144));
        return;
    }
    const int f = g.rowHeight, rows = m_model.rowCount(), count = m_model.columnCount();
    const int selection = m_model.selection(), offset = m_model.columnOffset;
    const bool sourceMode = m_model.flags & kSourceTypeMode;
    if (!m_fonts) m_fonts = std::make_unique<StripFonts>();
    if (m_fonts->rowHeight != f)
        *m_fonts = StripFonts{f, stripFont(f - 2, f / 3, false), stripFont(f - 2, f / 2, true)};
    const StripFont& regular = m_fonts->regular;
    const StripFont& bold = m_fonts->bold;
    const int stripRight = g.inner.l + kRowNameWidth; // the columns start here

    for (int row = 0; row < rows; ++row) {
        const int y = g.inner.t + row * f;
        if (row >= 1 && row <= 3) {
            p.setPen(QColor(96, 96, 96));
            p.drawLine(g.inner.l, y, stripRight - 1, y);
            p.setPen(QColor(192, 192, 192));
            p.drawLine(g.inner.l, y + 1, stripRight - 1, y + 1);
            p.setPen(QColor(48, 48, 48));
            p.drawLine(stripRight, y, g.inner.r - 1, y);
            p.setPen(QColor(144, 144, 144));
            p.drawLine(stripRight, y + 1, g.inner.r - 1, y + 1);
        }
        const QImage& icon = rowIcon(row == 0 ? 0 : sourceMode ? row : row + 3);
        if (!icon.isNull())
            p.drawImage(g.inner.l + (kRowNameWidth - icon.width()) / 2, y + (f - icon.height()) / 2,
                        icon);

        for (int k = 0; k < g.visible; ++k) {
            const int index = offset + k;
            const bool exists = index >= 0 && index < count;
            const QRect slot = toRect(TavrelModel::slotBox(g, k));
            const QRect cell(slot.left(), y + 2, slot.width(), f - 2);
            const bool isSelection = index == selection;
            if (row == 0) {
                if (!exists) {
                    p.drawImage(slot, emptySlotPicture());
                    continue;
                }
                p.fillRect(slot, isSelection ? QColor(0, 0, 0) : QColor(48, 48, 48));
                p.save();
                p.setClipRect(QRect(slot.left() + 3, y, slot.width() - 6, f));
                p.setPen(isSelection ? kAmber : QColor(192, 192, 192));
                drawStripText(p, cell, m_model.column(index).name, regular);
                p.restore();
            } else if (exists && (row == 1 || row == 2)) {
                p.setPen(isSelection ? kCyan : QColor(144, 144, 144));
                drawStripText(p, cell, m_model.columnTime(index, row - 1), regular);
            } else if (exists && row == 3 && sourceMode && !m_model.column(index).hasThumbnail) {
                const SourceTag tag = sourceTag(m_model.column(index).values[2]);
                if (*tag.text) {
                    p.setPen(isSelection ? QColor::fromRgb(tag.selectedColour)
                                         : QColor(144, 144, 144));
                    drawStripText(p, cell, QString::fromLatin1(tag.text), bold);
                }
            }
        }
    }

    for (int k = 0; k < g.visible; ++k) {
        const int index = offset + k;
        if (index < 0 || index >= count) continue;
        const TavrelColumn& c = m_model.column(index);
        if (!c.hasThumbnail && !c.filter) continue;
        const QRect area = toRect(TavrelModel::thumbnailBox(g, k, rows));
        p.fillRect(area, Qt::black);
        if (c.hasThumbnail && c.thumbWidth > 0 && c.thumbHeight > 0) {
            p.save();
            p.setRenderHint(QPainter::SmoothPixmapTransform);
            p.setClipRect(area);
            p.drawImage(letterbox(area, c.thumbWidth, c.thumbHeight), thumbnailImage(c));
            p.restore();
        }
        if (c.filter) {
            p.save();
            p.setCompositionMode(QPainter::RasterOp_SourceOrDestination);
            p.drawImage(area.left() + 1, area.top() + 1, filterMarker());
            p.restore();
        }
    }

    p.setPen(Qt::white);
    p.setBrush(Qt::NoBrush);
    for (int k = 0; k < g.visible; ++k) {
        const int index = offset + k;
        if (index >= 0 && index < count && m_model.column(index).selected)
            p.drawRect(toRect(m_model.columnBox(g, index)).adjusted(0, 0, -1, -1));
    }

    if (m_marker >= 0) {
        QPolygon marker;
        for (const auto& [x, y] : m_model.dropMarker(g, m_marker))
            marker << QPoint(x, y);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(255, 255, 128));
        p.drawPolygon(marker);
    }

    if (hasFocus()) {
        p.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
        p.setPen(QPen(Qt::white, 1, Qt::DotLine));
        p.setBrush(Qt::NoBrush);
        p.drawRect(rect().adjusted(0, 0, -1, -1));
        p.drawRect(rect().adjusted(1, 1, -2, -2));
    }
}

void CTavrelCtrl::resizeEvent(QResizeEvent* e)
{
    QWidget::resizeEvent(e);
    placeSpin(m_model.layout(width(), height()));
    update();
}

void CTavrelCtrl::focusInEvent(QFocusEvent* e)
{
    QWidget::focusInEvent(e);
    update();
}

void CTavrelCtrl::focusOutEvent(QFocusEvent* e)
{
    QWidget::focusOutEvent(e);
    update();
}

// ---- mouse and keys

void CTavrelCtrl::mousePressEvent(QMouseEvent* e)
{
    const QPoint pos = e->position().toPoint();
    if (m_model.rowCount() == 0) return;
    hideTip();
    const TavrelModel::Geometry g = m_model.layout(width(), height());
    const int hit = m_model.hitTest(g, pos.x(), pos.y(), false);
    if (e->button() == Qt::LeftButton) {
        m_model.leftClick(hit, e->modifiers() & Qt::ShiftModifier,
                          e->modifiers() & Qt::ControlModifier);
        changed();
        m_dragSource = hit;
        m_dropTarget = -1;
        m_dropWindow = nullptr;
        emit OnColumnSelection(short(hit));
        if (hit >= 0) setFocus(Qt::MouseFocusReason);
    } else if (e->button() == Qt::RightButton) {
        if (hit >= 0) {
            m_model.rightClick(hit);
            setFocus(Qt::MouseFocusReason);
            changed();
        }
        emit OnRButtonDown(short(hit));
    }
}

void CTavrelCtrl::mouseDoubleClickEvent(QMouseEvent* e)
{
    if (e->button() != Qt::LeftButton) return;
    const QPoint pos = e->position().toPoint();
    const int hit = m_model.hitTest(geometry(), pos.x(), pos.y(), false);
    if (hit >= 0) emit OnColumnDblClk(short(hit));
}

void CTavrelCtrl::mouseMoveEvent(QMouseEvent* e)
{
    const QPoint pos = e->position().toPoint();
    const bool dragging = (e->buttons() & Qt::LeftButton) && m_dragSource >= 0 &&
                          m_model.selection() >= m_model.firstDraggable();
    if (dragging)
        dragTo(pos, e->globalPosition().toPoint(), e->modifiers());
    else
        hoverTip(pos);
}

QWidget* CTavrelCtrl::friendAt(QWidget* w) const
{
    for (; w; w = w->parentWidget())
        for (const QPointer<QWidget>& f : m_friends)
            if (f == w) return w;
    return nullptr;
}

void CTavrelCtrl::dragTo(const QPoint& pos, const QPoint& global, Qt::KeyboardModifiers mods)
{
    hideTip();
    QWidget* under = m_windowFinder ? m_windowFinder(global) : QApplication::widgetAt(global);
    const Qt::CursorShape dropCursor =
        mods & Qt::ControlModifier ? Qt::DragCopyCursor : Qt::DragMoveCursor;

    if (QWidget* f = friendAt(under)) {
        if (!m_dropWindow)
            setDropMarker(-1);
        else if (m_dropWindow != f)
            m_dropWindow->update();
        TavrelDragEvent message(TavrelDragEvent::kHover, this, global);
        QCoreApplication::sendEvent(f, &message);
        m_dropTarget = message.answer;
        if (message.answer >= 0) m_dropWindow = f;
        setCursor(dropCursor);
        return;
    }
    if (m_dropWindow) {
        m_dropWindow->update();
        m_dropWindow = nullptr;
    }
    const bool overThis = under && (under == this || isAncestorOf(under));
    if (!overThis) {
        // Released out here, the drag ends without a target.
        setCursor(Qt::ForbiddenCursor);
        m_dropTarget = -1;
        setDropMarker(-1);
        return;
    }
    const TavrelModel::Geometry g = m_model.layout(width(), height());
    const DragStep step = m_model.dragOver(g, pos.x(), pos.y(), width());
    switch (step.kind) {
    case DragStep::ScrollLeft:
    case DragStep::ScrollRight:
        repaint();
        return;
    case DragStep::Refuse:
        setCursor(Qt::ForbiddenCursor);
        m_dropTarget = -1;
        setDropMarker(-1);
        return;
    case DragStep::Target:
        setCursor(dropCursor);
        m_dropTarget = step.target;
        setDropMarker(step.target);
        return;
    }
}

void CTavrelCtrl::mouseReleaseEvent(QMouseEvent* e)
{
    if (e->button() != Qt::LeftButton) return;
    const bool wasDragging = m_dragSource >= 0;
    m_dragSource = -1;
    unsetCursor();
    const int target = m_dropTarget;
    QPointer<QWidget> window = m_dropWindow;
    m_dropTarget = -1;
    m_dropWindow = nullptr;
    setDropMarker(-1);
    if (!wasDragging) return;
    const short selection = m_model.selection();
    if (target >= 0 && window) {
        emit OnColumnDragFriend(selection, short(target), window);
        if (window) {
            TavrelDragEvent message(TavrelDragEvent::kDrop, this, e->globalPosition().toPoint());
            QCoreApplication::sendEvent(window, &message);
        }
    } else if (target >= 0 && target != selection) {
        emit OnColumnDrag(selection, short(target));
        changed();
    }
}

void CTavrelCtrl::keyPressEvent(QKeyEvent* e)
{
    switch (e->key()) {
    case Qt::Key_PageUp:
        moveSelection(1);
        return;
    case Qt::Key_PageDown:
        moveSelection(-1);
        return;
    case Qt::Key_Delete:
        emit OnColumnDeleted(m_model.selection());
        return;
    default:
        QWidget::keyPressEvent(e);
    }
}

void CTavrelCtrl::moveSelection(int delta)
{
    const bool moved = m_model.moveSelection(delta);
    changed();
    if (moved) emit OnColumnSelection(m_model.selection());
}

// ---- drop marker

QRegion CTavrelCtrl::markerRegion(int index) const
{
    if (index < 0) return QRegion();
    QPolygon marker;
    for (const auto& [x, y] : m_model.dropMarker(geometry(), index))
        marker << QPoint(x, y);
    return QRegion(marker.boundingRect().adjusted(-1, -1, 1, 1));
}

void CTavrelCtrl::setDropMarker(int index)
{
    if (index == m_marker) return;
    const QRegion old = markerRegion(m_marker);
    m_marker = index;
    update(old + markerRegion(m_marker));
}

// ---- as a friend of another strip

int CTavrelCtrl::friendDragMessage(TavrelDragEvent& e)
{
    const QPoint pos = mapFromGlobal(e.globalPos);
    const TavrelModel::Geometry g = m_model.layout(width(), height());
    const DragStep step = m_model.friendDragOver(g, pos.x(), pos.y(), width());
    if (step.kind != DragStep::Target) {
        repaint();
        m_dropTarget = -1;
        return -1;
    }
    setDropMarker(e.action == TavrelDragEvent::kHover ? step.target : -1);
    return step.target;
}

bool CTavrelCtrl::event(QEvent* e)
{
    if (e->type() == TavrelDragEvent::registeredType()) {
        auto* drag = static_cast<TavrelDragEvent*>(e);
        drag->answer = friendDragMessage(*drag);
        return true;
    }
    return QWidget::event(e);
}

// ---- tool tips

void CTavrelCtrl::hoverTip(const QPoint& pos)
{
    const TavrelModel::Geometry g = geometry();
    const int hit = m_model.hitTest(g, pos.x(), pos.y(), false);
    if (hit >= 0) {
        showTip(m_model.column(hit).tip, Qt::white, toRect(m_model.columnBox(g, hit)));
        return;
    }
    if (pos.x() <= kRowNameWidth - 1 && m_model.rowCount() > 0) {
        const int row = m_model.rowAt(g, pos.y());
        if (row >= 0) {
            const QRect cell(g.inner.l, g.inner.t + row * g.rowHeight, kRowNameWidth, g.rowHeight);
            showTip(m_model.rows()[size_t(row)], row <= 2 ? kAmber : kCyan, cell);
            return;
        }
    }
    hideTip();
}

void CTavrelCtrl::showTip(const QString& text, const QColor& colour, const QRect& area)
{
    if (text.isEmpty()) {
        hideTip();
        return;
    }
    m_tip->request(text, colour, QRect(mapToGlobal(area.topLeft()), area.size()));
}

void CTavrelCtrl::hideTip() { m_tip->dismiss(); }

void CTavrelCtrl::leaveEvent(QEvent* e)
{
    hideTip();
    QWidget::leaveEvent(e);
}

QString CTavrelCtrl::tipText() const { return m_tip->text(); }

QColor CTavrelCtrl::tipColour() const { return m_tip->colour(); }

} // namespace tavrel
