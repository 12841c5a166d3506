#include "app/shell/main_bar.h"

#include "app/clipdeck/clip_deck.h"
#include "app/shell/item_menu.h"
#include "app/shell/main_frame.h"
#include "app/shell/undo_redo_dialog.h"
#include "model/project.h"
#include "ui/controls/images.h"
#include "ui/controls/xbutton.h"
#include "ui/decks/parameters_container.h"

#include <QMenu>
#include <QPainter>

#include <cstdarg>
#include <cstdio>
#include <vector>

namespace zef::app {

namespace {
constexpr int kButtonTop = 2;
constexpr int kButtonHeight = 34;
} // namespace

CMainBar::CMainBar(CMainFrame& frame) : ui::CGUIDialog(&frame), m_frame(frame)
{
    setObjectName(QStringLiteral("ZefRondavo Status bar"));
    add(kFileOpenMenu, 4, 34, "File Open Menu", "bar-open");
    add(kFileSaveMenu, 40, 34, "File Save Menu", "bar-save");
    add(kEditMenu, 76, 34, "Edit Menu", "bar-edit");
    add(kUndo, 112, 24, "Undo", "bar-undo");
    add(kUndoMenu, 136, 24, "Undo Menu", "bar-list");
    add(kRedo, 162, 24, "Redo", "bar-redo");
    add(kRedoMenu, 186, 24, "Redo Menu", "bar-list");
    add(kDecks, 212, 34, "Decks", "bar-decks");
    add(kSettings, 248, 34, "Settings", "bar-settings");
    add(kRender, 299, 34, "Render", "bar-render");
    add(kCapture, 335, 34, "Capture", "bar-capture");
    add(kHelpMenu, 422, 34, "Help Menu", "bar-help");

    for (int id : {kFileOpenMenu, kFileSaveMenu, kEditMenu, kDecks, kSettings, kHelpMenu})
        connect(button(id), &ui::CXButton::clicked, this, [this, id] { popupMenu(id); });
    connect(button(kUndo), &ui::CXButton::clicked, this,
            [this] { m_frame.project().undoHistory().undoStep(); });
    connect(button(kRedo), &ui::CXButton::clicked, this,
            [this] { m_frame.project().undoHistory().redoStep(); });
    connect(button(kRender), &ui::CXButton::clicked, this, [this] {
        m_frame.commands().renderPreview();
        m_frame.project().previewShowComposition();
        setPreviewMode(true, false);
        // The composition's output settings, where it is rendered from.
        if (m_frame.parametersDeck().showProjectPage())
            m_frame.setDeckVisible(kParametersDeckPanel, true);
    });
    connect(button(kUndoMenu), &ui::CXButton::clicked, this, [this] { openUndoList(true); });
    connect(button(kRedoMenu), &ui::CXButton::clicked, this, [this] { openUndoList(false); });
    connect(button(kCapture), &ui::CXButton::clicked, this,
            [this] { m_frame.commands().capturePreview(); });
    setUndoButtons(UndoButtonState{});
    setPreviewMode(true, false);
}

ui::CXButton* CMainBar::add(int id, int x, int width, const char* tip, const char* image)
{
    auto* b = new ui::CXButton(this);
    b->setObjectName(QString::fromUtf8(tip));
    b->setProperty("controlId", id);
    b->setGeometry(x, kButtonTop, width, kButtonHeight);
    b->setImages(QString::fromUtf8(image));
    setControlTip(b, QString::fromUtf8(tip));
    return b;
}

ui::CXButton* CMainBar::button(int id) const
{
    for (auto* b : findChildren<ui::CXButton*>(QString(), Qt::FindDirectChildrenOnly))
        if (b->property("controlId").toInt() == id) return b;
    return nullptr;
}

void CMainBar::showMessage(const char* format, ...)
{
    if (m_progressOwner) return;
    va_list args;
    va_start(args, format);
    std::vector<char> text(512);
    std::vsnprintf(text.data(), text.size(), format, args);
    va_end(args);
    m_message = QString::fromUtf8(text.data());
    update(messageRect());
}

void CMainBar::showRenderStatus(const CFile2000Status* status)
{
    if (status) {
        m_status = *status;
    } else if (m_status) {
        if (m_status->progressShown && m_status->fraction >= 1.0)
            m_message = QString::fromStdString(m_status->displayed);
        m_status.reset();
    }
    m_progressOwner = m_status.has_value();
    repaint();
}

void CMainBar::setUndoButtons(const UndoButtonState& state)
{
    ui::CXButton* undo = button(kUndo);
    ui::CXButton* redo = button(kRedo);
    undo->setEnabled(state.undoEnabled);
    redo->setEnabled(state.redoEnabled);
    button(kUndoMenu)->setEnabled(state.undoEnabled);
    button(kRedoMenu)->setEnabled(state.redoEnabled);
    setControlTip(undo, QString::fromStdString(state.undoText));
    setControlTip(redo, QString::fromStdString(state.redoText));
}

void CMainBar::setPreviewMode(bool composition, bool capture)
{
    button(kRender)->setPressed(composition);
    button(kCapture)->setPressed(capture);
}

QRect CMainBar::messageRect() const { return QRect(4, 39, width() - 8, height() - 41); }

void CMainBar::popupMenu(int id)
{
    ui::CXButton* b = button(id);
    const QPoint at = b->mapToGlobal(QPoint(b->width(), 0));
    QMenu menu(this);
    switch (id) {
    case kFileOpenMenu: {
        const auto& acc = m_frame.accelerators();
        for (QAction* a : acc)
            if (a->objectName() == "New" || a->objectName() == "Open") menu.addAction(a);
        QMenu* recent = menu.addMenu(QStringLiteral("Recent &File"));
        m_frame.fillRecentMenu(*recent);
        QMenu* backups = menu.addMenu(QStringLiteral("Restore from backup"));
        m_frame.commands().fillBackupMenu(*backups);
        break;
    }
    case kFileSaveMenu:
        for (QAction* a : m_frame.accelerators())
            if (a->objectName() == "Save" || a->objectName() == "SaveAs") menu.addAction(a);
        break;
    case kEditMenu:
        fillItemMenu(menu, m_frame.clipControl(), false);
        break;
    case kDecks:
        m_frame.windowsMenu()->popup(at);
        return;
    case kSettings:
        m_frame.fillSettingsMenu(menu);
        break;
    case kHelpMenu:
        for (QAction* a : m_frame.accelerators())
            if (a->objectName() == "HelpIndex") menu.addAction(a);
        menu.addAction(QStringLiteral("&About ZEF Rondavo..."), this,
                       [this] { m_frame.commands().about(); });
        break;
    default:
        return;
    }
    menu.exec(at);
}

void CMainBar::openUndoList(bool undo)
{
    ui::CXButton* b = button(undo ? kUndoMenu : kRedoMenu);
    auto* list = new CUndoRedoDialog(m_frame.project().undoHistory(), undo, this);
    m_list = list;
    connect(list, &CUndoRedoDialog::finished, this, [this, list](int) {
        if (m_list == list) m_list = nullptr;
        setUndoButtons(m_frame.project().undoHistory().buttons());
    });
    connect(list, &QObject::destroyed, this, [this, list] {
        if (m_list == list) m_list = nullptr;
    });
    list->popupAt(b->mapToGlobal(QPoint(0, b->height())));
}

void CMainBar::paintEvent(QPaintEvent* e)
{
    ui::CGUIDialog::paintEvent(e);
    QPainter p(this);
    const QRect r = messageRect();
    if (m_status) {
        output::drawRenderStatus(p, progressRect(), *m_status);
    } else {
        p.fillRect(r, Qt::black);
        p.setPen(QColor(96, 96, 96));
        p.drawLine(r.topLeft(), r.topRight());
        p.drawLine(r.topLeft(), r.bottomLeft());
        p.setPen(QColor(192, 192, 192));
        p.drawLine(r.bottomLeft(), r.bottomRight());
        p.drawLine(r.topRight(), r.bottomRight());
        p.setPen(QColor(255, 210, 0));
        p.drawText(r.adjusted(6, 0, -6, 0), Qt::AlignVCenter | Qt::AlignLeft, m_message);
    }

    // The program's mark beside the buttons.
    const QPixmap icon = ui::artworkPixmap(QStringLiteral("icon"));
    const int x = 470;
    if (!icon.isNull() && width() > x + 150) {
        p.setRenderHint(QPainter::SmoothPixmapTransform);
        p.drawPixmap(QRect(x, 4, 30, 30), icon);
        QFont f = font();
        f.setBold(true);
        f.setPixelSize(15);
        p.setFont(f);
        p.setPen(QColor(40, 40, 40));
        p.drawText(QRect(x + 36, 4, width() - x - 40, 30), Qt::AlignVCenter,
                   QStringLiteral("ZEF Rondavo"));
    }
}

} // namespace zef::app
