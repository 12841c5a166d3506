// DOutputSettings: the output settings deck, the project's page of the Parameters Deck
// ("Parameters: Project"). From top to bottom: the output file with "Browse"; the "Output
// Range" group (in- and out-point with their "Set" buttons, "Record Now!"); the "Templates"
// group (an editable list, "Save Template", "Delete Template", "Details"); then, in the full
// form only, the "Project Size" group, the "Edit frame rate" list, "Enable output cropping",
// the "Component:" list with "Component Setup", and the "Live Broadcast" group ("Enable",
// "Flatten movie before broadcasting", "Live Setup").
//
// The deck shows and edits the project's composition template through FOutputSettings and
// follows the project: a new or opened project, or a changed render range, is shown at once.
// "Record Now!" renders with the progress in the main bar (CRenderHost).
//
// GUI thread only. The services must outlive the deck.
#pragma once

#include "model/project_links.h"
#include "output/export_dialogs.h"
#include "output/output_settings.h"
#include "ui/controls/gui_dialog.h"

class QComboBox;
class QLineEdit;
class QSpinBox;

namespace zef {
class FMovieBuilder;
class TemplateList;
class UserInterface;
namespace ui {
class CXButton;
class CXCheckBox;
class CXTimeCode;
class XGroup;
} // namespace ui
} // namespace zef

namespace zef::output {

class ProgressDisplay;

struct OutputServices {
    FProject* project = nullptr;
    TemplateList* templates = nullptr;
    movies::ComponentManager* components = nullptr;
    FMovieBuilder* builder = nullptr;
    UserInterface* ui = nullptr;
    ProgressDisplay* progress = nullptr; // null: no progress shown
};

class DOutputSettings : public ui::CGUIDialog, public ProjectObserver {
    Q_OBJECT
public:
    static constexpr int kWidth = 552;
    static constexpr int kShortHeight = 172; // down to the "Templates" group
    static constexpr int kFullHeight = 368;  // down to the "Live Broadcast" group

    explicit DOutputSettings(const OutputServices& services, QWidget* parent = nullptr);
    ~DOutputSettings() override;

    FOutputSettings& settings() { return m_settings; }
    // Fills every control from the project's template and shows the template list.
    void refreshFromTemplate();
    bool rendering() const { return m_rendering; }

    // The buttons' commands.
    void browse();
    void setInPoint();
    void setOutPoint();
    // Renders the render range; true when a file was rendered (or sent).
    bool recordNow();
    void saveTemplate();
    void deleteTemplate();
    void toggleDetails();
    void componentSetup();
    void liveSetup();

    // ProjectObserver
    void repaintRuler() override;
    void refreshDecks() override;
    void setWindowTitle(const std::string& title) override;
    void refreshTimeline() override;

signals:
    // The deck changed between its short and its full form (its height).
    void formChanged();

private:
    void build();
    void showForm();
    void showRange();
    void showChanged();
    void showLiveSwitches();
    void showTemplateList(int select);
    void applyEditedName();

    OutputServices m_services;
    FOutputSettings m_settings;
    COutputDialogs m_dialogs;
    bool m_refreshing = false;
    bool m_rendering = false;
    // What the deck last showed, to tell a project replaced under it.
    CProjectTemplate m_shown;

    QLineEdit* m_outputFile = nullptr;
    ui::CXTimeCode* m_in = nullptr;
    ui::CXTimeCode* m_out = nullptr;
    QComboBox* m_templates = nullptr;
    ui::CXButton* m_save = nullptr;
    ui::CXButton* m_delete = nullptr;
    ui::CXButton* m_details = nullptr;
    QSpinBox* m_width = nullptr;
    QSpinBox* m_height = nullptr;
    ui::CXCheckBox* m_keepAspect = nullptr;
    QComboBox* m_rates = nullptr;
    ui::CXCheckBox* m_crop = nullptr;
    QComboBox* m_component = nullptr;
    ui::CXButton* m_componentSetup = nullptr;
    ui::CXCheckBox* m_broadcast = nullptr;
    ui::CXCheckBox* m_flatten = nullptr;
    ui::CXButton* m_liveSetup = nullptr;
    std::vector<QWidget*> m_fullOnly;
};

} // namespace zef::output
