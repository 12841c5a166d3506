#include "ui/decks/parameters_container.h"

#include "model/item.h"
#include "model/project.h"
#include "model/source_item.h"
#include "ui/decks/applied_filters_dialog.h"
#include "ui/decks/clip_settings_dialog.h"
#include "ui/decks/effect_parameter_dialog.h"
#include "ui/decks/effect_settings_parent.h"
#include "ui/decks/titler_setup.h"

#include <QEvent>

namespace zef::ui {

namespace {

enum class PageClass { None, Clip, Effect, Title };

PageClass classOf(const ZEFItem* item)
{
    if (dynamic_cast<const ZEFSourceItem*>(item)) return PageClass::Clip;
    if (dynamic_cast<const ZEFTitlerEffect*>(item)) return PageClass::Title;
    if (dynamic_cast<const ZEFEffectItem*>(item)) return PageClass::Effect;
    return PageClass::None;
}

PageClass classOf(const CSettingsPage* page)
{
    if (qobject_cast<const CClipSettingsDialog*>(page)) return PageClass::Clip;
    if (qobject_cast<const CTitlerSetup*>(page)) return PageClass::Title;
    if (qobject_cast<const CEffectSettingsParent*>(page)) return PageClass::Effect;
    return PageClass::None;
}

} // namespace

CParametersContainer::CParametersContainer(FProject& project, QWidget* parent)
    : CGUIDialogWithCaption(QStringLiteral("Parameters: empty"), false, parent), m_project(project),
      m_context(project), m_editing(std::make_unique<CEffectParameterEditing>(this))
{
    setObjectName(QStringLiteral("ParametersDeck"));
    setFixedSize(defaultSize());
    m_context.parameters = m_editing.get();
    m_context.openFilters = [this](ZEFItem& item) { openAppliedFilters(item); };
    connect(m_editing.get(), &CEffectParameterEditing::statusMessage, this,
            &CParametersContainer::statusMessage);
    // A confirmed parameter edit changes what the page's item shows.
    connect(m_editing.get(), &CEffectParameterEditing::finished, this,
            [this](ZEFEffectItem*, bool) {
                if (m_page) m_page->itemChanged(nullptr);
            });
    m_project.addObserver(this);
    setPageCaption();
}

CParametersContainer::~CParametersContainer()
{
    m_project.removeObserver(this);
    removePage(false);
}

void CParametersContainer::setEffectRegistry(const movies::EffectRegistry* registry)
{
    m_context.registry = registry;
    m_editing->setRegistry(registry);
    if (m_page) m_page->itemChanged(nullptr);
}

void CParametersContainer::setFreeStandingParameterDialog(bool on)
{
    m_editing->setPresentation(on ? CEffectParameterDialog::Presentation::FreeStanding
                                  : CEffectParameterDialog::Presentation::Embedded);
}

void CParametersContainer::setPageFactory(int kind, PageFactory factory)
{
    if (kind == kProjectPage || kind == kCapturePage) m_factories[kind] = std::move(factory);
}

ZEFItem* CParametersContainer::shownItem() const { return m_page ? m_page->item() : nullptr; }

void CParametersContainer::showSettings(ZEFItem* item, bool force, int kind)
{
    if (m_captureMode && kind != kCapturePage) return;
    const bool wasProject = m_kind == kProjectPage && m_otherPage;

    if ((kind == kItemPage || kind == kTransitionPage) && item) {
        const bool transition = kind == kTransitionPage;
        ZEFItem* shown = item;
        PageClass cls = classOf(item);
        if (transition) {
            // The transition page belongs to the item whose transition it edits.
            cls = item->transition() ? PageClass::Effect : PageClass::None;
        }
        if (cls == PageClass::None) {
            removePage(false);
        } else if (!force && m_page && m_kind == kind && classOf(m_page) == cls) {
            m_page->itemChanged(shown);
        } else {
            removePage(false);
            switch (cls) {
            case PageClass::Clip:
                m_page =
                    new CClipSettingsDialog(m_context, static_cast<ZEFSourceItem&>(*item), this);
                break;
            case PageClass::Title:
                m_page = new CTitlerSetup(m_context, static_cast<ZEFTitlerEffect&>(*item), this);
                break;
            default:
                m_page = new CEffectSettingsParent(m_context, *item, transition, this);
                break;
            }
            m_kind = kind;
            connect(m_page, &CSettingsPage::captionChanged, this,
                    &CParametersContainer::setPageCaption);
            connect(m_page, &CSettingsPage::heightChanged, this, &CParametersContainer::layOutPage);
            m_page->show();
        }
    } else if (kind == kProjectPage && (m_projectPage || m_factories[kind])) {
        removePage(false);
        if (!m_projectPage) {
            m_projectPage = m_factories[kind](this);
            if (m_projectPage) m_projectPage->installEventFilter(this);
        }
        m_otherPage = m_projectPage;
        m_kind = kind;
        if (m_otherPage) m_otherPage->show();
    } else if (kind == kCapturePage && m_factories[kind]) {
        removePage(false);
        m_otherPage = m_factories[kind](this);
        m_kind = kind;
        if (m_otherPage) m_otherPage->show();
    } else {
        removePage(false);
        m_kind = kind == kProjectPage || kind == kCapturePage ? kind : -1;
    }
    layOutPage();
    setPageCaption();
    const bool isProject = m_kind == kProjectPage && m_otherPage;
    if (isProject != wasProject) emit projectPageShown(isProject);
}

void CParametersContainer::setPageCaption()
{
    if (m_page)
        setCaption(m_page->caption());
    else if (m_kind == kProjectPage)
        setCaption(QStringLiteral("Parameters: Project"));
    else if (m_kind == kCapturePage)
        setCaption(QStringLiteral("Parameters: Capture"));
    else
        setCaption(QStringLiteral("Parameters: empty"));
    // The drawn caption tells what is shown; the window keeps the deck's name.
    QWidget::setWindowTitle(QStringLiteral("Parameters Deck"));
}

void CParametersContainer::removePage(bool itemGoing)
{
    if (m_page) {
        if (auto* titler = qobject_cast<CTitlerSetup*>(m_page)) {
            if (itemGoing)
                titler->forgetPendingText();
            else
                titler->flushPendingText();
        }
        // Deleted later: the page may be in the middle of handling the event that led here.
        m_page->leave();
        m_page->hide();
        m_page->disconnect(this);
        m_page->deleteLater();
        m_page = nullptr;
    }
    if (m_otherPage) {
        m_otherPage->hide();
        if (m_otherPage != m_projectPage) m_otherPage->deleteLater();
        m_otherPage = nullptr;
    }
    m_kind = -1;
}

void CParametersContainer::layOutPage()
{
    // The deck takes the project page's height (and keeps its width); other pages show in the
    // deck's own size.
    const bool project = m_otherPage && m_otherPage == m_projectPage;
    const int frame = height() - clientRect().height();
    const int wanted = project ? m_projectPage->height() + frame : defaultSize().height();
    if (height() != wanted) setFixedSize(width(), wanted);
    const QRect area = clientRect();
    if (m_page) {
        const bool ownHeight = m_page->minimumHeight() == m_page->maximumHeight();
        m_page->setGeometry(area.x(), area.y(), area.width(),
                            ownHeight ? std::min(m_page->height(), area.height()) : area.height());
    }
    if (project)
        m_projectPage->setGeometry(area.x(), area.y(), area.width(), m_projectPage->height());
    else if (m_otherPage)
        m_otherPage->setGeometry(area);
}

bool CParametersContainer::showProjectPage()
{
    showSettings(nullptr, false, kProjectPage);
    return showsProjectPage();
}

bool CParametersContainer::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_projectPage && m_otherPage == m_projectPage && event->type() == QEvent::Resize)
        layOutPage();
    return CGUIDialogWithCaption::eventFilter(watched, event);
}

void CParametersContainer::resizeEvent(QResizeEvent* e)
{
    CGUIDialogWithCaption::resizeEvent(e);
    layOutPage();
}

CAppliedFiltersDialog* CParametersContainer::openAppliedFilters(ZEFItem& item)
{
    auto* dialog = new CAppliedFiltersDialog(m_project, item, m_editing.get(), this);
    connect(dialog, &CAppliedFiltersDialog::finished, dialog, &QObject::deleteLater);
    showCentred(dialog, this);
    return dialog;
}

void CParametersContainer::itemChanged(ZEFItem* item)
{
    if (!m_page || !m_page->concerns(item)) return;
    m_page->itemChanged(nullptr);
    setPageCaption();
}

void CParametersContainer::showInParametersDeck(ZEFItem* item, bool transition)
{
    showSettings(item, false, transition ? kTransitionPage : kItemPage);
}

void CParametersContainer::closeDecksShowing(ZEFItem* item)
{
    if (!m_page) return;
    for (const ZEFItem* it = m_page->item(); it; it = it->owner())
        if (it == item) {
            removePage(true);
            setPageCaption();
            return;
        }
}

void CParametersContainer::previewMode(bool composition)
{
    if (m_context.previewShowsComposition == composition) return;
    m_context.previewShowsComposition = composition;
    if (m_page) m_page->previewModeChanged();
}

} // namespace zef::ui
