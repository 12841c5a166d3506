// The Parameters Deck (CParametersContainer): shows the settings page of the selected item,
// its transition, the project's output settings or the capture settings.
//
// Page kinds: 0 the item's own page (a clip's CClipSettingsDialog, an effect's
// CEffectSettingsParent, a title's CTitlerSetup), caption "Parameters: <item>"; 5 the page of
// the item's transition (CEffectSettingsParent in transition mode), caption "Parameters:
// <transition>"; 1 the project's output settings ("Parameters: Project") and 2 the capture
// settings ("Parameters: Capture"), whose pages other parts of the program supply through
// setPageFactory; anything else, or no item: no page, "Parameters: empty". Showing the same kind
// for an item of the same class re-targets the page; otherwise a new page is made.
//
// The deck follows the project: a selection shows its item, a change refills the page, an
// item that goes away takes its page with it, and undo, redo and a new project leave the deck
// empty. It owns the program's parameter edit and opens the applied-filters dialog.
//
// GUI thread only. The project must outlive the deck.
#pragma once

#include "model/project_links.h"
#include "ui/controls/gui_dialog.h"
#include "ui/decks/settings_page.h"

#include <QPointer>

#include <functional>
#include <memory>

namespace zef::ui {

class CAppliedFiltersDialog;
class CEffectParameterEditing;

class CParametersContainer : public CGUIDialogWithCaption, public ProjectObserver {
    Q_OBJECT
public:
    enum PageKind { kItemPage = 0, kProjectPage = 1, kCapturePage = 2, kTransitionPage = 5 };

    explicit CParametersContainer(FProject& project, QWidget* parent = nullptr);
    ~CParametersContainer() override;
    static QSize defaultSize() { return {560, 440}; }

    // The installed effects, for the parameter dialog and its preview (may be null).
    void setEffectRegistry(const movies::EffectRegistry* registry);
    // Parameter dialogs free-standing (true) or embedded in the program's own dialog.
    void setFreeStandingParameterDialog(bool on);
    // The page of kind 1 or 2, made by its owner. The project's page (the output settings) is
    // made once and kept while other pages show, so a render started from it outlives a change
    // of selection; the deck takes its height (the page has a short and a full form).
    using PageFactory = std::function<QWidget*(QWidget* parent)>;
    void setPageFactory(int kind, PageFactory factory);
    void setProjectPageMaker(PageFactory maker) { setPageFactory(kProjectPage, std::move(maker)); }
    // Shows the project's page; false without a maker.
    bool showProjectPage();
    bool showsProjectPage() const { return m_kind == kProjectPage && m_otherPage; }
    QWidget* projectPage() const { return m_projectPage; }
    // While the preview captures, only the capture settings are shown.
    void setCaptureMode(bool on) { m_captureMode = on; }

    // Shows the page of the kind for the item; force makes a new page even where the shown one
    // could be re-targeted.
    void showSettings(ZEFItem* item, bool force, int kind);
    ZEFItem* shownItem() const;
    int pageKind() const { return m_page ? m_kind : -1; }
    QWidget* page() const { return m_page ? m_page : m_otherPage; }
    CSettingsPage* settingsPage() const { return m_page; }

    // The applied-filters dialog of the item (shown, application-modal; it deletes itself when
    // it closes).
    CAppliedFiltersDialog* openAppliedFilters(ZEFItem& item);
    CEffectParameterEditing& parameterEditing() const { return *m_editing; }
    DeckContext& context() { return m_context; }

    // ProjectObserver
    void itemChanged(ZEFItem* item) override;
    void showInParametersDeck(ZEFItem* item, bool transition) override;
    void closeDecksShowing(ZEFItem* item) override;
    void clearInfoAndParameters() override { showSettings(nullptr, false, -1); }
    void refreshDecks() override { showSettings(nullptr, false, -1); }
    void previewShowComposition() override { previewMode(true); }
    void previewShowClip(ZEFSourceItem*) override { previewMode(false); }

signals:
    // The project's output settings page is shown, or no longer.
    void projectPageShown(bool shown);
    // The status line's text (a parameter edit in progress).
    void statusMessage(const QString& text);

protected:
    void resizeEvent(QResizeEvent*) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Takes the shown page down; itemGoing: its item is being deleted.
    void removePage(bool itemGoing);
    void layOutPage();
    void previewMode(bool composition);
    void setPageCaption();

    FProject& m_project;
    DeckContext m_context;
    std::unique_ptr<CEffectParameterEditing> m_editing;
    CSettingsPage* m_page = nullptr;
    QWidget* m_otherPage = nullptr;   // kinds 1 and 2
    QWidget* m_projectPage = nullptr; // kept once made
    int m_kind = -1;
    bool m_captureMode = false;
    PageFactory m_factories[3];
};

} // namespace zef::ui
