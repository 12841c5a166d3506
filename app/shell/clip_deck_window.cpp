#include "app/shell/clip_deck_window.h"

#include "app/shell/get_url_dialog.h"
#include "app/shell/item_menu.h"
#include "listctrl/tavrel_ctrl.h"
#include "model/project.h"
#include "ui/controls/xbutton.h"

#include <QApplication>
#include <QClipboard>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QGuiApplication>
#include <QImage>
#include <QMenu>
#include <QMimeData>

#include <algorithm>
#include <cstring>

namespace zef::app {

namespace {

constexpr int kButtonSize = 30;
constexpr const char* kTrackLetters[] = {"a", "b", "c", "x", "t"};

int32_t get32(const uint8_t* p)
{
    return int32_t(uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 |
                   uint32_t(p[3]) << 24);
}

// Local files among dropped URLs, in their order.
std::vector<std::string> localFiles(const QMimeData* data)
{
    std::vector<std::string> paths;
    if (!data || !data->hasUrls()) return paths;
    for (const QUrl& url : data->urls())
        if (url.isLocalFile()) paths.push_back(url.toLocalFile().toStdString());
    return paths;
}

} // namespace

bool QtClipboard::putBitmap(std::vector<uint8_t> block)
{
    // The block: a 40-byte bitmap header, then 32-bit rows bottom-up.
    if (block.size() < 40 || get32(block.data()) != 40) return false;
    const int32_t width = get32(block.data() + 4), height = get32(block.data() + 8);
    if (width <= 0 || height <= 0 || block.size() < 40 + size_t(width) * size_t(height) * 4)
        return false;
    QImage image(width, height, QImage::Format_RGB32);
    for (int32_t y = 0; y < height; ++y)
        std::memcpy(image.scanLine(y), block.data() + 40 + size_t(height - 1 - y) * width * 4,
                    size_t(width) * 4);
    QGuiApplication::clipboard()->setImage(image);
    return true;
}

CClipDeckWindow::CClipDeckWindow(FProject& project, QWidget* parent)
    : ui::CGUIDialogWithCaption(QStringLiteral("Clip Deck"), true, parent), m_project(project)
{
    setObjectName(QStringLiteral("ClipDeck"));
    setAcceptDrops(true);

    for (int track = 0; track < 5; ++track) {
        auto* b = new ui::CXButton(this);
        const QString image = QStringLiteral("track-") + QLatin1String(kTrackLetters[track]);
        b->setImages(image, image + QStringLiteral("-on"));
        b->setRadio(true);
        b->setNoFocusRect(true);
        b->setObjectName(QString::fromUtf8(FProject::trackMenuName(track)));
        b->setProperty("controlId", kFirstTrackButton + track);
        setControlTip(b, QString::fromUtf8(FProject::trackName(track)));
        connect(b, &ui::CXButton::clicked, this, [this, track] {
            m_control->selectTrack(track);
            buttonsChanged();
        });
        m_trackButtons[size_t(track)] = b;
    }
    connect(addButton(kLoadClip, "deck-load-clip"), &ui::CXButton::clicked, this,
            [this] { m_control->addClipFromDialog(); });
    connect(addButton(kLocation, "deck-location"), &ui::CXButton::clicked, this,
            [this] { addFromLocation(); });
    connect(addButton(kAddSourceEffect, "deck-source-effect"), &ui::CXButton::clicked, this,
            [this] { popupSourceEffects(); });
    connect(addButton(kDeleteClip, "deck-delete"), &ui::CXButton::clicked, this,
            [this] { m_control->removeSelected(); });
    connect(addButton(kReplaceClip, "deck-replace"), &ui::CXButton::clicked, this,
            [this] { m_control->replaceClipFromDialog(); });
    connect(addButton(kAddTitle, "deck-add-title"), &ui::CXButton::clicked, this,
            [this] { m_control->addTitle(); });

    m_list = std::make_unique<CTavrel>(this);
    m_list->widget()->setObjectName(QStringLiteral("ClipStrip"));
    for (const char* row : {"", "Source In Time", "Source Out Time", "", "", ""})
        m_list->AddRow(QString::fromUtf8(row));
    tavrel::CTavrelCtrl* strip = m_list->events();
    connect(strip, &tavrel::CTavrelCtrl::OnColumnSelection, this, &CClipDeckWindow::columnSelected);
    connect(strip, &tavrel::CTavrelCtrl::OnColumnDeleted, this, &CClipDeckWindow::columnsDeleted);
    connect(strip, &tavrel::CTavrelCtrl::OnRButtonDown, this, &CClipDeckWindow::rightButtonDown);
    connect(strip, &tavrel::CTavrelCtrl::OnColumnDblClk, this,
            &CClipDeckWindow::columnDoubleClicked);
    connect(strip, &tavrel::CTavrelCtrl::OnColumnDrag, this, &CClipDeckWindow::columnDragged);

    m_control = std::make_unique<FMainControl>(project, this, &m_clipboard, nullptr);
    m_control->setListTimeBase(int32_t(m_list->GetTimeBase()));
    resize(defaultSize());
    columnsChanged();
    buttonsChanged();
}

CClipDeckWindow::~CClipDeckWindow()
{
    // The control observes the project until it goes; nothing may call back into the deck.
    m_control.reset();
    while (m_busy > 0)
        busy(false);
}

ui::CXButton* CClipDeckWindow::addButton(const char* name, const char* image)
{
    auto* b = new ui::CXButton(this);
    b->setObjectName(QString::fromUtf8(name));
    const QString normal = QString::fromUtf8(image);
    b->setImages(normal, {}, normal + QStringLiteral("-disabled"));
    b->setNoFocusRect(true);
    setControlTip(b, QString::fromUtf8(name));
    m_deckButtons.push_back(b);
    return b;
}

ui::CXButton* CClipDeckWindow::trackButton(int track) const
{
    return track >= 0 && track < 5 ? m_trackButtons[size_t(track)] : nullptr;
}

ui::CXButton* CClipDeckWindow::deckButton(const char* name) const
{
    for (ui::CXButton* b : m_deckButtons)
        if (b->objectName() == QString::fromUtf8(name)) return b;
    return nullptr;
}

// ---- layout

void CClipDeckWindow::placeControls()
{
    const QRect r = contentsRect();
    const int x0 = r.left() + 2, y0 = r.top() + 1;
    const int step = std::min(kButtonSize, std::max(16, (r.height() - 2) / 5));
    for (int i = 0; i < 5; ++i)
        m_trackButtons[size_t(i)]->setGeometry(x0, y0 + i * step, kButtonSize, step);
    // The deck buttons in their slots; "Add Title" takes the slot of "Load Clip into List".
    const int x1 = x0 + kButtonSize + 2;
    const char* order[] = {kLoadClip, kLocation, kAddSourceEffect, kDeleteClip, kReplaceClip};
    for (int i = 0; i < 5; ++i)
        deckButton(order[i])->setGeometry(x1, y0 + i * step, kButtonSize, step);
    deckButton(kAddTitle)->setGeometry(deckButton(kLoadClip)->geometry());
    const int x2 = x1 + kButtonSize + 4;
    m_list->widget()->setGeometry(x2, y0, std::max(40, r.right() - x2 - 1), r.height() - 2);
}

void CClipDeckWindow::resizeEvent(QResizeEvent* e)
{
    ui::CGUIDialogWithCaption::resizeEvent(e);
    placeControls();
}

// ---- what the control shows

void CClipDeckWindow::columnsChanged()
{
    if (!m_control || !m_list) return; // still being made
    refillList();
}

void CClipDeckWindow::refillList()
{
    const short selection = m_list->GetSelection();
    const short offset = m_list->GetColumnOffset();
    m_list->ResetColumns();
    const std::vector<DeckColumn>& columns = m_control->columns();
    std::vector<uint32_t> upsideDown;
    for (const DeckColumn& c : columns) {
        const QString name = QString::fromStdString(c.name);
        const QString tip = QString::fromStdString(c.displayName);
        const short index = m_list->AddNewColumn(name, tip, c.rate, false);
        m_list->SetColumnText(index, name, tip);
        auto clamped = [](int64_t v) { return long(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX)); };
        m_list->SetValue(index, 0, clamped(c.in));
        m_list->SetValue(index, 1, clamped(c.out));
        const size_t w = size_t(std::max(0, c.thumbWidth)), h = size_t(std::max(0, c.thumbHeight));
        if (c.thumbnail && w * h > 0 && c.thumbnail->size() >= w * h * 4) {
            // The strip keeps pictures bottom-up.
            upsideDown.resize(w * h);
            for (size_t y = 0; y < h; ++y)
                std::memcpy(upsideDown.data() + (h - 1 - y) * w, c.thumbnail->data() + y * w * 4,
                            w * 4);
            m_list->SetThumbnail(index, upsideDown.data(), short(w), short(h));
        } else {
            m_list->SetThumbnail(index, nullptr, 0, 0);
        }
    }
    // The strip stays where it was, as far as the columns still reach, with the focus column
    // where it was (clamped to the new columns).
    const int count = int(columns.size());
    const int last = std::max(0, count - m_list->GetVisibleColumnCount() + 1);
    m_list->SetColumnOffset(short(std::clamp<int>(offset, 0, last)));
    m_list->SetSelection(selection);
    takeListSelection();
}

void CClipDeckWindow::takeListSelection()
{
    const short focus = m_list->GetSelection();
    std::vector<int32_t> selected;
    const short count = m_list->GetColumnCount();
    for (short i = 0; i < count; ++i)
        if (i != focus && m_list->GetItemSelection(i)) selected.push_back(i);
    if (focus >= 0) selected.push_back(focus);
    m_takingSelection = true;
    m_control->setSelectedColumns(std::move(selected));
    m_takingSelection = false;
    buttonsChanged();
}

void CClipDeckWindow::selectionChanged()
{
    if (!m_control || !m_list) return;
    if (!m_takingSelection) {
        const short want = short(m_control->focusColumn());
        if (m_list->GetSelection() != want) m_list->SetSelection(want);
    }
    buttonsChanged();
}

void CClipDeckWindow::buttonsChanged()
{
    if (!m_control) return;
    const DeckButtonStates s = m_control->buttonStates();
    for (int track = 0; track < 5; ++track)
        m_trackButtons[size_t(track)]->setPressed(track == s.highlightedTrack);
    deckButton(kLoadClip)->setVisible(s.clipButtonsShown);
    deckButton(kLocation)->setVisible(s.clipButtonsShown);
    deckButton(kReplaceClip)->setVisible(s.clipButtonsShown);
    deckButton(kAddTitle)->setVisible(s.addTitleShown);
    deckButton(kAddSourceEffect)->setEnabled(s.addSourceEffect);
    deckButton(kDeleteClip)->setEnabled(s.deleteSelected);
    deckButton(kReplaceClip)->setEnabled(s.replaceClip);
}

void CClipDeckWindow::beep() { QApplication::beep(); }

void CClipDeckWindow::busy(bool on)
{
    if (on) {
        if (m_busy++ == 0) QApplication::setOverrideCursor(Qt::WaitCursor);
    } else if (m_busy > 0 && --m_busy == 0) {
        QApplication::restoreOverrideCursor();
    }
}

ZEFItem* CClipDeckWindow::itemOfColumn(int column) const
{
    const std::vector<DeckColumn>& columns = m_control->columns();
    return column >= 0 && size_t(column) < columns.size() ? columns[size_t(column)].item : nullptr;
}

// ---- commands of the deck's own controls

void CClipDeckWindow::addFromLocation()
{
    if (std::optional<std::string> path = DGetURL::ask(this)) m_control->addClipFromLocation(*path);
}

void CClipDeckWindow::popupSourceEffects()
{
    ui::CXButton* b = deckButton(kAddSourceEffect);
    QMenu menu(this);
    for (const EffectMenuEntry& e : m_control->sourceEffectMenu()) {
        const int32_t index = e.index;
        menu.addAction(QString::fromStdString(e.name), this, [this, index] {
            if (index >= 0)
                m_control->runCommand(FMainControl::kAddEffectCommand + index);
            else
                m_control->addTitle();
        });
    }
    if (menu.isEmpty()) menu.addAction(QStringLiteral("(no source effects)"))->setEnabled(false);
    menu.exec(b->mapToGlobal(QPoint(b->width(), 0)));
}

// ---- events of the strip

void CClipDeckWindow::columnSelected(short column)
{
    if (ZEFItem* item = itemOfColumn(column)) {
        // The strip already shows its own selection (perhaps several columns).
        m_takingSelection = true;
        m_project.selectItem(item, false);
        m_takingSelection = false;
    }
    takeListSelection();
}

void CClipDeckWindow::columnsDeleted(short)
{
    takeListSelection();
    if (!m_control->removeSelected()) return;
    // The refilled strip keeps the focus at the same index, or on the last column.
    if (ZEFItem* item = itemOfColumn(m_list->GetSelection())) {
        m_takingSelection = true;
        m_project.selectItem(item, false);
        m_takingSelection = false;
    }
}

void CClipDeckWindow::rightButtonDown(short)
{
    takeListSelection();
    ZEFItem* item = itemOfColumn(m_list->GetSelection());
    if (!item) return;
    m_takingSelection = true;
    m_project.selectItem(item, false);
    m_takingSelection = false;
    takeListSelection();
    QMenu menu(this);
    menu.setObjectName(QStringLiteral("ItemContextMenu"));
    m_control->fromListSelection = true;
    fillItemMenu(menu, *m_control, true);
    menu.exec(QCursor::pos());
    m_control->fromListSelection = false;
}

void CClipDeckWindow::columnDoubleClicked(short column)
{
    ZEFItem* item = itemOfColumn(column);
    if (item && item->track() != kTitleTrack) emit settingsRequested();
}

void CClipDeckWindow::columnDragged(short from, short to)
{
    const bool copy = QGuiApplication::keyboardModifiers() & Qt::ControlModifier;
    m_control->reorder(from, to, copy);
}

// ---- files from the desktop

void CClipDeckWindow::dragEnterEvent(QDragEnterEvent* e)
{
    if (!localFiles(e->mimeData()).empty()) e->acceptProposedAction();
}

void CClipDeckWindow::dragMoveEvent(QDragMoveEvent* e)
{
    if (!localFiles(e->mimeData()).empty()) e->acceptProposedAction();
}

void CClipDeckWindow::dropEvent(QDropEvent* e)
{
    const std::vector<std::string> paths = localFiles(e->mimeData());
    if (paths.empty()) return;
    e->acceptProposedAction();
    m_control->dropFiles(paths);
}

} // namespace zef::app
