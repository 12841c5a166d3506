// The Info Deck (CInfoDialog): a resizable deck that describes the selected clip or effect,
// the project when nothing is selected, or a running capture, in coloured, tab-aligned lines
// on black (ui/decks/info_lines.h). It follows the project: a selection shows the item, a
// change of the shown item (or of the project, while the project is shown) rebuilds the lines,
// and an item that goes away gives way to the project.
//
// GUI thread only. The project must outlive the deck.
#pragma once

#include "model/project_links.h"
#include "ui/controls/gui_dialog.h"

#include <QColor>

#include <string>
#include <vector>

namespace zef {
struct CaptureStatistics;
class FProject;
namespace movies {
class ComponentManager;
}
} // namespace zef

namespace zef::ui {

class CInfoDialog : public CGUIDialogWithCaption, public ProjectObserver {
    Q_OBJECT
public:
    // Tab stops from the left of the text, and the text's left margin.
    static constexpr int kTabStops[5] = {20, 110, 120, 130, 140};
    static constexpr int kLeft = 5;

    explicit CInfoDialog(FProject& project, QWidget* parent = nullptr);
    ~CInfoDialog() override;
    static QSize defaultSize() { return {640, 360}; }

    // Where the project's export component is looked up for its name (may be null).
    void setComponents(movies::ComponentManager* components) { m_components = components; }

    // The item's lines, or the project's for null.
    void showInfo(ZEFItem* item);
    // A capture's lines (rate: the capture's frame rate); null statistics show them all zero
    // with no disk estimate.
    void showCaptureInfo(const CaptureStatistics* stats, int32_t rateNum, int32_t rateDen,
                         bool capturing);

    ZEFItem* shownItem() const { return m_item; }
    bool showingCapture() const { return m_capture; }
    const std::vector<std::string>& lines() const { return m_lines; }
    // The colour of a line's first style letter.
    static QColor lineColour(char letter);

    // ProjectObserver (the project's lines follow every change while they are shown)
    void itemChanged(ZEFItem* item) override;
    void showInInfoDeck(ZEFItem* item) override { showInfo(item); }
    void closeDecksShowing(ZEFItem* item) override;
    void clearInfoAndParameters() override { showInfo(nullptr); }
    void refreshDecks() override { showInfo(nullptr); }
    void repaintRuler() override;
    // A project was opened (its name and contents are new).
    void setWindowTitle(const std::string&) override { repaintRuler(); }
    void refreshClipDeck() override { repaintRuler(); }

protected:
    void paintEvent(QPaintEvent*) override;

private:
    void rebuild();
    void showCaption(const QString& caption);

    FProject& m_project;
    movies::ComponentManager* m_components = nullptr;
    ZEFItem* m_item = nullptr;
    bool m_capture = false;
    std::vector<std::string> m_lines;
};

} // namespace zef::ui
