// CAppliedFiltersDialog: the filters of an item ("Filters applied on %s"): add one of the
// installed filters, delete, set up (its parameter dialog), and move them up and down.
//
// Opening takes the snapshot of the undo entry "Change filters on %s"; closing records it and
// announces the item's change when something was changed, and otherwise drops it, so that
// looking at the filters leaves the undo and redo lists as they were. The dialog is
// application-modal while it is open.
//
// GUI thread only.
#pragma once

#include "ui/controls/gui_dialog.h"

#include <cstdint>
#include <memory>

class QListWidget;
class QMenu;

namespace zef {
class FProject;
class FUndoBuffer;
class ZEFItem;
class ZEFEffectItem;
} // namespace zef

namespace zef::ui {

class CEffectParameterEditing;
class CXButton;

class CAppliedFiltersDialog : public CGUIDialogWithCaption {
    Q_OBJECT
public:
    // parameters: where "Setup Filter" opens a filter's parameters (may be null: no setup).
    CAppliedFiltersDialog(FProject& project, ZEFItem& item, CEffectParameterEditing* parameters,
                          QWidget* parent = nullptr);
    ~CAppliedFiltersDialog() override;

    ZEFItem& item() const { return m_item; }
    QListWidget* list() const { return m_list; }
    CXButton* button(const char* name) const;
    bool isChanged() const { return m_changed; }
    // The catalogue's filters (one source, not the program's own), as the Add menu lists them.
    QStringList filterNames() const;

    void addFilter(const QString& name);
    void deleteFilter();
    void setupFilter();
    void moveFilter(int by);
    // Announces the change (or drops the undo entry) and closes.
    void finish();

signals:
    void finished();

protected:
    void closeEvent(QCloseEvent*) override;
    void keyPressEvent(QKeyEvent*) override;

private:
    void popupAddMenu();
    void refill(int select);
    void updateButtons();

    FProject& m_project;
    ZEFItem& m_item;
    CEffectParameterEditing* m_parameters;
    QListWidget* m_list = nullptr;
    std::unique_ptr<FUndoBuffer> m_snapshot;
    bool m_changed = false;
    bool m_finished = false;
};

} // namespace zef::ui
