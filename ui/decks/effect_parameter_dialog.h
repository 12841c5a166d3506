// The parameter dialog of an effect, generated from the effect's descriptor: one control per
// parameter (a slider with a number field for numbers, a check box, a drop-down list of the
// choices, a colour button, two fields for a point), and for a parameter that tweens a second
// control for its value at the end of the effect. No effect has a dialog of its own.
//
// The dialog edits the item's effect description in place as the controls change, and shows
// the effect on the item's own frames in a preview picture beside them (ui/decks/
// effect_preview.h), with a slider for the moment of the effect it shows. Confirming keeps the
// values and rebuilds the item's layer (through FParameterEditor::endParameterEdit); cancelling
// puts the description back as it was and rebuilds nothing. Closing the window (the close
// image of its caption) confirms.
//
// Two presentations: free-standing, every parameter in one column; embedded, the parameters in
// sub-panels of at most six, chosen with a "Sub-panel" drop-down list of the program's dialog.
//
// The dialog is application-modal, so that nothing else changes the project while it is open.
// GUI thread only.
#pragma once

#include "engine/effect_catalogue.h"
#include "platform/movies/effects/effect.h"
#include "platform/movies/effects/effect_registry.h"
#include "platform/movies/handle.h"
#include "ui/controls/gui_dialog.h"
#include "ui/decks/effect_preview.h"

#include <QImage>
#include <QPointer>
#include <QWidget>

#include <functional>
#include <memory>
#include <vector>

class QGridLayout;
class QLabel;

namespace zef {
class FProject;
}

namespace zef::ui {

class CXComboBox;
class CXSliderCtrl;

class CEffectParameterPanel : public QWidget {
    Q_OBJECT
public:
    static constexpr int kPerSubPanel = 6;

    CEffectParameterPanel(const movies::EffectDescriptor& d, const movies::ParameterSet& values,
                          QWidget* parent = nullptr);

    const movies::ParameterSet& values() const { return m_values; }
    // Groups of at most kPerSubPanel parameters in descriptor order, each named after its
    // first and last parameter; one group when the effect has no more.
    QStringList subPanels() const;
    // Shows one group's controls; -1 shows them all.
    void showSubPanel(int index);
    int subPanel() const { return m_shown; }
    // The control of a parameter's value (with end, of its value at the end of the effect);
    // null when there is none.
    QWidget* control(movies::FourCC code, bool end = false) const;

signals:
    void changed();

private:
    struct Row {
        movies::FourCC code = 0;
        bool end = false;
        int group = 0;
        std::vector<QWidget*> widgets;
        std::function<void(const movies::ParamValue&)> show;
        QWidget* control = nullptr;
    };
    void addRow(const movies::ParamDescriptor& p, bool end, int group, QGridLayout& grid);
    void take(const movies::ParamDescriptor& p, bool end, movies::ParamValue v);
    void showValues();

    const movies::EffectDescriptor& m_descriptor;
    movies::ParameterSet m_values;
    std::vector<Row> m_rows;
    int m_groups = 1;
    int m_shown = -1;
    bool m_showing = false;
};

class CEffectParameterDialog : public CGUIDialogWithCaption {
    Q_OBJECT
public:
    enum class Presentation { FreeStanding, Embedded };
    static constexpr int kPreviewWidth = 192;

    CEffectParameterDialog(const movies::EffectRegistry& registry, ZEFEffectItem& item,
                           const movies::EffectDescriptor& d, Presentation presentation,
                           QWidget* parent = nullptr);
    ~CEffectParameterDialog() override;

    ZEFEffectItem& item() const { return m_item; }
    CEffectParameterPanel& panel() const { return *m_panel; }
    Presentation presentation() const { return m_presentation; }
    // The sub-panel list of the embedded presentation (null when free-standing).
    CXComboBox* subPanelList() const { return m_subPanels; }
    // The preview as last drawn, and the moment of the effect it shows (0 to 1).
    QImage previewImage() const { return m_previewImage; }
    void setPreviewProgress(double p);
    const EffectPreview& preview() const { return m_preview; }

    void confirm();
    void cancel();

signals:
    // Confirmed or cancelled; the item's description is as it stays.
    void finished(bool accepted);

protected:
    void closeEvent(QCloseEvent*) override;
    void keyPressEvent(QKeyEvent*) override;

private:
    FProject* m_editedIn = nullptr; // the project whose edited effect this dialog is
    void valuesChanged();
    void drawPreview();
    void finish(bool accepted);

    ZEFEffectItem& m_item;
    const movies::EffectDescriptor& m_descriptor;
    Presentation m_presentation;
    EffectPreview m_preview;
    movies::Handle m_original; // the description before the dialog
    CEffectParameterPanel* m_panel = nullptr;
    CXComboBox* m_subPanels = nullptr;
    QLabel* m_picture = nullptr;
    CXSliderCtrl* m_progress = nullptr;
    QImage m_previewImage;
    double m_progressValue = 0.5;
    bool m_finished = false;
};

// The program's one parameter edit: FParameterEditor with the generated dialog. Other windows
// ask it to edit an effect item's parameters.
class CEffectParameterEditing : public QObject, private ParameterDialog {
    Q_OBJECT
public:
    // dialogParent: the window the dialog belongs to (may be null).
    explicit CEffectParameterEditing(QWidget* dialogParent = nullptr);
    ~CEffectParameterEditing() override;

    void setRegistry(const movies::EffectRegistry* registry) { m_registry = registry; }
    void setPresentation(CEffectParameterDialog::Presentation p) { m_presentation = p; }
    CEffectParameterDialog::Presentation presentation() const { return m_presentation; }
    // Whether the item's effect has a descriptor to build a dialog from.
    bool canEdit(const ZEFEffectItem& item) const;
    // Opens the dialog: S_OK, or E_FAIL when an edit is open already or the effect has no
    // dialog (then the user is told).
    int32_t editParameters(ZEFEffectItem& item);
    bool editing() const { return m_editor.editing(); }
    CEffectParameterDialog* dialog() const { return m_dialog; }

signals:
    void statusMessage(const QString& text);
    // The edit ended; accepted when the user confirmed.
    void finished(ZEFEffectItem* item, bool accepted);

private:
    bool open(ZEFEffectItem& item) override;
    void dismiss() override;
    void showStatus(const std::string& text) override;

    QWidget* m_parent;
    const movies::EffectRegistry* m_registry = nullptr;
    CEffectParameterDialog::Presentation m_presentation =
        CEffectParameterDialog::Presentation::FreeStanding;
    FParameterEditor m_editor{*this};
    QPointer<CEffectParameterDialog> m_dialog;
};

} // namespace zef::ui
