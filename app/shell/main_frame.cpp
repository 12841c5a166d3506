#include "app/shell/main_frame.h"

#include "app/shell/clip_deck_window.h"
#include "app/shell/main_bar.h"
#include "app/shell/settings_store.h"
#include "app/shell/timeline_host.h"
#include "model/project.h"
#include "ui/controls/images.h"
#include "ui/decks/info_dialog.h"
#include "ui/decks/parameters_container.h"
#include "ui/preview/dpreview.h"
#include "ui/preview/preview_panel.h"
#include "ui/timeline/timeline_view.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>

namespace zef::app {

namespace {

Rect toRect(const QRect& r) { return Rect{r.x(), r.y(), r.x() + r.width(), r.y() + r.height()}; }
QRect toQRect(const Rect& r) { return QRect(r.left, r.top, r.width(), r.height()); }

// The project file keeps the decks in its own order.
constexpr struct {
    ProjectPanel stored;
    PanelIndex panel;
} kProjectPanels[] = {
    {kPanelClipDeck, kClipDeckPanel},
    {kPanelInfoDeck, kInfoDeckPanel},
    {kPanelParametersDeck, kParametersDeckPanel},
    {kPanelVcrDeck, kVcrDeckPanel},
    {kPanelTimelineDeck, kTimelineDeckPanel},
    {kPanelPreviewDeck, kPreviewDeckPanel},
};

// The Windows menu entries, in menu order, with their panels and shortcuts.
constexpr struct {
    const char* text;
    PanelIndex panel;
    Qt::Key key;
} kDeckEntries[] = {
    {"&Info Deck\tCtrl+2", kInfoDeckPanel, Qt::Key_2},
    {"Pa&rameters Deck\tCtrl+4", kParametersDeckPanel, Qt::Key_4},
    {"&VCR Deck\tCtrl+6", kVcrDeckPanel, Qt::Key_6},
    {"&Timeline Deck\tCtrl+3", kTimelineDeckPanel, Qt::Key_3},
    {"&Preview Deck\tCtrl+1", kPreviewDeckPanel, Qt::Key_1},
    {"Clip &Deck\tCtrl+5", kClipDeckPanel, Qt::Key_5},
};

Rect screenArea()
{
    QScreen* s = QGuiApplication::primaryScreen();
    return s ? toRect(s->availableGeometry()) : Rect{0, 0, 1280, 1024};
}

bool onSomeScreen(const Rect& r)
{
    const QRect q = toQRect(r);
    for (QScreen* s : QGuiApplication::screens())
        if (s->availableGeometry().intersects(q)) return true;
    return QGuiApplication::screens().isEmpty();
}

} // namespace

CMainFrame::CMainFrame(FProject& project, SettingsStore& settings, MainFrameCommands& commands,
                       QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint | Qt::WindowMinimizeButtonHint),
      m_project(project), m_settings(settings), m_commands(commands), m_layout(screenArea())
{
    setObjectName(QStringLiteral("MainWindow"));
    setMouseTracking(true);
    setWindowIcon(QIcon(ui::artworkPixmap(QStringLiteral("icon"))));

    m_info = new ui::CInfoDialog(project, this);
    m_parameters = new ui::CParametersContainer(project, this);
    m_vcr = new ui::CPreviewPanel(project, this);
    m_timeline = new ui::CTimelineView(project, this);
    m_timeline->setHost(std::make_unique<CTimelineLink>(*this));
    m_preview = new ui::DPreview(project, this);
    m_vcr->setPreview(m_preview);
    m_clipDeck = new CClipDeckWindow(project, this);
    for (int i = 1; i < kPanelsTotal; ++i)
        static_cast<ui::CGUIDialogWithCaption*>(panelWindow(i))->setPlacementHost(this);
    connect(m_clipDeck, &CClipDeckWindow::settingsRequested, this,
            [this] { setDeckVisible(kParametersDeckPanel, true); });
    connect(m_vcr, &ui::CPreviewPanel::positionChanged, m_timeline,
            &ui::CTimelineView::updateMarker);
    clipControl().setAppliedFiltersHandler(
        [this](ZEFItem& item) { m_parameters->openAppliedFilters(item); });

    setFixedSize(CClipDeckWindow::defaultSize().width(), kCaptionHeight + kClientHeight);
    m_bar = new CMainBar(*this);
    m_bar->setGeometry(0, kCaptionHeight, width(), kClientHeight);
    connect(m_parameters, &ui::CParametersContainer::statusMessage, this,
            [this](const QString& text) { m_bar->showMessage("%s", text.toUtf8().constData()); });

    buildMenus();
    m_project.addObserver(this);
    setWindowTitle(m_project.windowTitle());
    restoreLayout();
}

CMainFrame::~CMainFrame() { m_project.removeObserver(this); }

FMainControl& CMainFrame::clipControl() const { return m_clipDeck->control(); }

QWidget* CMainFrame::panelWindow(int index) const
{
    switch (index) {
    case kMainWindowPanel:
        return const_cast<CMainFrame*>(this);
    case kInfoDeckPanel:
        return m_info;
    case kParametersDeckPanel:
        return m_parameters;
    case kVcrDeckPanel:
        return m_vcr;
    case kTimelineDeckPanel:
        return m_timeline;
    case kPreviewDeckPanel:
        return m_preview;
    case kClipDeckPanel:
        return m_clipDeck;
    default:
        return nullptr;
    }
}

int CMainFrame::indexOf(const QWidget* window) const
{
    for (int i = 0; i < kPanelsTotal; ++i)
        if (panelWindow(i) == window) return i;
    return -1;
}

DeckSizes CMainFrame::deckSizes() const
{
    DeckSizes s;
    s.mainCaptionHeight = kCaptionHeight;
    s.mainClientHeight = kClientHeight;
    s.clipDeckWidth = CClipDeckWindow::defaultSize().width();
    s.clipDeckHeight = CClipDeckWindow::defaultSize().height();
    s.vcrDeckWidth = ui::CPreviewPanel::defaultSize().width();
    s.vcrDeckHeight = ui::CPreviewPanel::defaultSize().height();
    s.parametersDeckHeight = ui::CParametersContainer::defaultSize().height();
    return s;
}

void CMainFrame::readWindows()
{
    for (int i = 0; i < kPanelsTotal; ++i)
        m_layout.panel(i).rect = toRect(panelWindow(i)->geometry());
}

void CMainFrame::applyRect(int index, const Rect& rect)
{
    QWidget* w = panelWindow(index);
    const QRect r = toQRect(rect);
    if (m_layout.panel(index).resizable)
        w->setGeometry(r);
    else
        w->move(r.topLeft());
    m_layout.panel(index).rect = toRect(w->geometry());
}

void CMainFrame::restoreLayout()
{
    m_layout.setScreen(screenArea());
    const auto rects = DeckLayout::defaultRects(m_layout.screen(), deckSizes());
    for (int i = 0; i < kPanelsTotal; ++i)
        applyRect(i, rects[size_t(i)]);
    publishToProject();
}

void CMainFrame::loadPanels()
{
    for (int i = 0; i < kPanelsTotal; ++i) {
        Panel& p = m_layout.panel(i);
        const RestoredPanel r = restorePanel(p.rect, p.resizable, m_settings.panel(i));
        // A place on a screen that is no longer there would leave the window out of reach.
        if (onSomeScreen(r.rect)) applyRect(i, r.rect);
        p.visible = i == kMainWindowPanel || r.visible;
    }
    m_layout.computeAttachments();
    publishToProject();
}

void CMainFrame::savePanels()
{
    readWindows();
    for (int i = 0; i < kPanelsTotal; ++i)
        m_settings.setPanel(i, m_layout.panel(i).rect, m_layout.panel(i).visible);
    m_settings.sync();
}

void CMainFrame::showAll()
{
    show();
    for (int i = 1; i < kPanelsTotal; ++i)
        panelWindow(i)->setVisible(m_layout.panel(i).visible);
    for (const auto& e : kDeckEntries)
        m_deckActions[size_t(e.panel)]->setChecked(m_layout.panel(e.panel).visible);
}

void CMainFrame::setDeckVisible(int index, bool visible)
{
    if (index <= kMainWindowPanel || index >= kPanelsTotal) return;
    m_layout.panel(index).visible = visible;
    panelWindow(index)->setVisible(visible);
    if (visible) panelWindow(index)->raise();
    m_deckActions[size_t(index)]->setChecked(visible);
    publishToProject();
}

void CMainFrame::publishToProject()
{
    for (const auto& e : kProjectPanels) {
        const Panel& p = m_layout.panel(e.panel);
        m_project.panels[size_t(e.stored)] = PanelPlacement{p.rect, p.visible};
    }
}

// ---- placement of the decks

void CMainFrame::beginPlacement(QWidget*, int) { readWindows(); }

QRect CMainFrame::placeRect(QWidget* window, int edge, const QRect& proposed)
{
    Rect r = toRect(proposed);
    m_layout.snap(edge, r, indexOf(window), true);
    return toQRect(r);
}

void CMainFrame::endPlacement(QWidget*)
{
    readWindows();
    publishToProject();
}

void CMainFrame::visibilityChanged(QWidget* window)
{
    const int i = indexOf(window);
    if (i <= kMainWindowPanel || m_applyingLayout || !isVisible()) return;
    m_layout.panel(i).visible = window->isVisible();
    m_deckActions[size_t(i)]->setChecked(window->isVisible());
    publishToProject();
}

// ---- the project's view

void CMainFrame::setWindowTitle(const std::string& title)
{
    m_title = QString::fromStdString(title);
    QWidget::setWindowTitle(m_title);
    update(0, 0, width(), kCaptionHeight);
}

void CMainFrame::undoButtonsChanged(const UndoButtonState& state) { m_bar->setUndoButtons(state); }

void CMainFrame::applyPanelLayout(const PanelLayout& layout)
{
    m_applyingLayout = true;
    for (const auto& e : kProjectPanels) {
        Panel& p = m_layout.panel(e.panel);
        const PanelPlacement& stored = layout[size_t(e.stored)];
        const RestoredPanel r = restorePanel(p.rect, p.resizable, {stored.rect, stored.visible});
        if (onSomeScreen(r.rect)) applyRect(e.panel, r.rect);
        p.visible = r.visible;
        if (isVisible()) panelWindow(e.panel)->setVisible(r.visible);
        m_deckActions[size_t(e.panel)]->setChecked(r.visible);
    }
    m_applyingLayout = false;
    publishToProject();
}

void CMainFrame::showError(const std::string& message)
{
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Error"), QString::fromStdString(message),
                    QMessageBox::Ok, this);
    box.exec();
}

// ---- menus and accelerators

QAction* CMainFrame::accelerator(const QString& text, const QKeySequence& key)
{
    auto* a = new QAction(text, this);
    a->setShortcut(key);
    a->setShortcutContext(Qt::WindowShortcut);
    addAction(a);
    m_accelerators.push_back(a);
    return a;
}

void CMainFrame::buildMenus()
{
    auto named = [](QAction* a, const char* name) {
        a->setObjectName(QString::fromUtf8(name));
        return a;
    };
    connect(named(accelerator(QStringLiteral("&New Project\tCtrl+N"), Qt::CTRL | Qt::Key_N), "New"),
            &QAction::triggered, this, [this] { m_commands.newProject(); });
    connect(
        named(accelerator(QStringLiteral("&Open Project\tCtrl+O"), Qt::CTRL | Qt::Key_O), "Open"),
        &QAction::triggered, this, [this] { m_commands.openProject(); });
    connect(
        named(accelerator(QStringLiteral("&Save Project\tCtrl+S"), Qt::CTRL | Qt::Key_S), "Save"),
        &QAction::triggered, this, [this] { m_commands.saveProject(); });
    connect(named(accelerator(QStringLiteral("Save Project &As\tCtrl+A"), Qt::CTRL | Qt::Key_A),
                  "SaveAs"),
            &QAction::triggered, this, [this] { m_commands.saveProjectAs(); });
    connect(named(accelerator(QStringLiteral("&Help Index\tCtrl+H"), Qt::CTRL | Qt::Key_H),
                  "HelpIndex"),
            &QAction::triggered, this, [this] { m_commands.helpIndex(); });
    connect(named(accelerator(QStringLiteral("Undo"), Qt::CTRL | Qt::Key_Z), "Undo"),
            &QAction::triggered, this, [this] { m_project.undoHistory().undoStep(); });
    QAction* redo = named(accelerator(QStringLiteral("Redo"), Qt::CTRL | Qt::Key_Y), "Redo");
    redo->setShortcuts({Qt::CTRL | Qt::Key_Y, Qt::CTRL | Qt::SHIFT | Qt::Key_Z});
    connect(redo, &QAction::triggered, this, [this] { m_project.undoHistory().redoStep(); });

    // The item menu's shortcuts.
    const struct {
        const char* name;
        QKeyCombination key;
        void (*run)(FMainControl&);
    } items[] = {
        {"DeleteSelected", Qt::CTRL | Qt::Key_X, [](FMainControl& c) { c.removeSelected(); }},
        {"AddTitle", Qt::CTRL | Qt::Key_T, [](FMainControl& c) { c.addTitle(); }},
        {"AddClip", Qt::CTRL | Qt::Key_P, [](FMainControl& c) { c.addClipFromDialog(); }},
        {"Razor", Qt::CTRL | Qt::Key_R, [](FMainControl& c) { c.razor(); }},
        {"SplitAudioVideo", Qt::CTRL | Qt::Key_Slash,
         [](FMainControl& c) {
             if (c.itemMenuStates(false).splitAudioAndVideo) c.splitAudioAndVideo();
         }},
        {"CopyFrame", Qt::CTRL | Qt::Key_C, [](FMainControl& c) { c.copyFrameToClipboard(); }},
        {"AppliedFilters", Qt::CTRL | Qt::Key_F, [](FMainControl& c) { c.appliedFilters(); }},
    };
    for (const auto& item : items) {
        QAction* a = named(accelerator(QString::fromUtf8(item.name), item.key), item.name);
        auto run = item.run;
        connect(a, &QAction::triggered, this, [this, run] { run(clipControl()); });
    }

    m_windowsMenu = new QMenu(this);
    m_windowsMenu->setObjectName(QStringLiteral("WindowsMenu"));
    for (const auto& e : kDeckEntries) {
        QAction* a = accelerator(QString::fromUtf8(e.text), Qt::CTRL | e.key);
        a->setCheckable(true);
        a->setChecked(true);
        const int panel = e.panel;
        connect(a, &QAction::triggered, this,
                [this, panel](bool on) { setDeckVisible(panel, on); });
        m_deckActions[size_t(e.panel)] = a;
        m_windowsMenu->addAction(a);
    }
    m_windowsMenu->addSeparator();
    m_windowsMenu->addAction(QStringLiteral("&Restore positions"), this, [this] {
        restoreLayout();
        for (int i = 1; i < kPanelsTotal; ++i)
            setDeckVisible(i, true);
    });
}

void CMainFrame::fillRecentMenu(QMenu& menu)
{
    const std::vector<std::string> files = m_settings.recentFiles();
    if (files.empty()) {
        menu.addAction(QStringLiteral("(no recent projects)"))->setEnabled(false);
        return;
    }
    for (size_t i = 0; i < files.size(); ++i) {
        const QString text =
            QStringLiteral("&%1 %2").arg(i + 1).arg(QString::fromStdString(files[i]));
        const int index = int(i);
        menu.addAction(text, this, [this, index] { m_commands.openRecentFile(index); });
    }
}

void CMainFrame::fillSettingsMenu(QMenu& menu)
{
    QMenu* perf = menu.addMenu(QStringLiteral("Preview Performance"));
    const PreviewFlags f = m_settings.previewFlags();
    const struct {
        const char* text;
        const char* key;
        bool on;
    } entries[] = {
        {"Slow &Transitions as CrossFades", "PreviewTransitionsAsCrossFades",
         f.previewTransitionsAsCrossFades},
        {"Disable &Applied Filters", "DisableFiltersOnPreview", f.disableFiltersOnPreview},
        {"&Disable Graphic Modes", "DisableGraphicModesOnPreview", f.disableGraphicModesOnPreview},
        {"&Single Layer Preview", "SingleLayerPreview", f.singleLayerPreview},
    };
    for (const auto& e : entries) {
        QAction* a = perf->addAction(QString::fromUtf8(e.text));
        a->setCheckable(true);
        a->setChecked(e.on);
        const char* key = e.key;
        connect(a, &QAction::toggled, this,
                [this, key](bool on) { m_commands.previewFlagToggled(key, on); });
    }
    QAction* device = menu.addAction(QStringLiteral("Tape &Device Control"));
    device->setObjectName(QStringLiteral("DeviceMode"));
    device->setCheckable(true);
    device->setChecked(m_commands.deviceMode());
    connect(device, &QAction::toggled, this, [this](bool on) { m_commands.setDeviceMode(on); });
}

// ---- the drawn caption

QRect CMainFrame::closeButtonRect() const
{
    return QRect(width() - 16 - 4, (kCaptionHeight - 16) / 2, 16, 16);
}

QRect CMainFrame::minimiseButtonRect() const { return closeButtonRect().translated(-18, 0); }

void CMainFrame::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    const QRect caption(0, 0, width(), kCaptionHeight);
    ui::drawCaptionStrip(p, caption);
    const bool active = isActiveWindow();
    QFont f(QStringLiteral("Arial"));
    f.setPixelSize(kCaptionHeight - 8);
    f.setBold(active);
    p.setFont(f);
    p.setPen(active ? QColor(255, 210, 0) : QColor(192, 192, 192));
    p.drawText(caption.adjusted(8, 0, -48, 0), Qt::AlignVCenter | Qt::AlignLeft, m_title);
    const bool closeDown = m_press == Press::Close && m_buttonDown;
    const bool minDown = m_press == Press::Minimise && m_buttonDown;
    p.drawPixmap(
        closeButtonRect().topLeft(),
        ui::artworkPixmap(closeDown ? QStringLiteral("close-pressed") : QStringLiteral("close")));
    p.drawPixmap(minimiseButtonRect().topLeft(),
                 ui::artworkPixmap(minDown ? QStringLiteral("minimise-pressed")
                                           : QStringLiteral("minimise")));
    p.setPen(Qt::black);
    p.drawRect(rect().adjusted(0, 0, -1, -1));
}

void CMainFrame::mousePressEvent(QMouseEvent* e)
{
    if (e->button() != Qt::LeftButton) return;
    const QPoint pos = e->position().toPoint();
    if (pos.y() >= kCaptionHeight) return;
    if (closeButtonRect().contains(pos)) {
        m_press = Press::Close;
    } else if (minimiseButtonRect().contains(pos)) {
        m_press = Press::Minimise;
    } else {
        m_press = Press::Caption;
        m_pressGlobal = e->globalPosition().toPoint();
        m_pressTopLeft = geometry().topLeft();
        readWindows();
        m_layout.computeAttachments();
        return;
    }
    m_buttonDown = true;
    update(0, 0, width(), kCaptionHeight);
}

void CMainFrame::mouseMoveEvent(QMouseEvent* e)
{
    const QPoint pos = e->position().toPoint();
    if (m_press == Press::Close || m_press == Press::Minimise) {
        const QRect r = m_press == Press::Close ? closeButtonRect() : minimiseButtonRect();
        if (r.contains(pos) != m_buttonDown) {
            m_buttonDown = !m_buttonDown;
            update(0, 0, width(), kCaptionHeight);
        }
        return;
    }
    if (m_press != Press::Caption) return;
    const QPoint to = m_pressTopLeft + e->globalPosition().toPoint() - m_pressGlobal;
    Rect r = toRect(QRect(to, size()));
    m_layout.snap(kMoveWindow, r, kMainWindowPanel, true);
    m_layout.moveAttached(r.left, r.top);
    for (int i = 0; i < kPanelsTotal; ++i)
        if (m_layout.panel(i).attached)
            panelWindow(i)->move(m_layout.panel(i).rect.left, m_layout.panel(i).rect.top);
}

void CMainFrame::mouseReleaseEvent(QMouseEvent* e)
{
    if (e->button() != Qt::LeftButton) return;
    const Press press = m_press;
    const bool down = m_buttonDown;
    m_press = Press::None;
    m_buttonDown = false;
    update(0, 0, width(), kCaptionHeight);
    if (press == Press::Caption) {
        readWindows();
        publishToProject();
    } else if (press == Press::Close && down) {
        close();
    } else if (press == Press::Minimise && down) {
        showMinimized();
    }
}

void CMainFrame::changeEvent(QEvent* e)
{
    if (e->type() == QEvent::ActivationChange) update(0, 0, width(), kCaptionHeight);
    QWidget::changeEvent(e);
}

void CMainFrame::closeEvent(QCloseEvent* e)
{
    if (!m_commands.mainWindowClosing()) {
        e->ignore();
        return;
    }
    e->accept();
}

} // namespace zef::app
