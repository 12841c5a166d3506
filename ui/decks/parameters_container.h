// The Parameters Deck (CParametersContainer): shows the settings page of the selected item,
// its transition or the project.
#pragma once

#include "ui/controls/gui_dialog.h"

#include <functional>

namespace zef::ui {

class CParametersContainer : public CGUIDialogWithCaption {
    Q_OBJECT
public:
    explicit CParametersContainer(QWidget* parent = nullptr);
    static QSize defaultSize() { return {560, 440}; }

    // ---- The project's page: the output settings ("Parameters: Project"). The output library
    // makes it (it builds on the decks), so the program hands its maker over at start-up. The
    // deck takes the page's height (the page has a short and a full form) and keeps its width.
    using PageMaker = std::function<QWidget*(QWidget* parent)>;
    void setProjectPageMaker(PageMaker maker) { m_projectPageMaker = std::move(maker); }
    // Shows the project's page (made once, then kept); false without a maker.
    bool showProjectPage();
    bool showsProjectPage() const { return m_projectPage && m_projectPage->isVisible(); }
    QWidget* projectPage() const { return m_projectPage; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void fitToPage();

    PageMaker m_projectPageMaker;
    QWidget* m_projectPage = nullptr;
};

} // namespace zef::ui
