// The settings pages of the Parameters Deck and what they share.
//
// A page holds the item it edits and refills every field from it on itemChanged (a new item
// of the page's class to show, or null to read the shown one again). Edits go through the
// project (ui/decks/settings_edits.h) with their undo labels; while a page makes a change it
// does not refill itself from the notification the change sends, so a field being typed in
// keeps its text and cursor.
//
// GUI thread only.
#pragma once

#include "ui/controls/gui_dialog.h"

#include <functional>
#include <memory>

class QLineEdit;

namespace zef {
class FProject;
class ZEFEffectItem;
class ZEFItem;
namespace movies {
class EffectRegistry;
class FontLibrary;
} // namespace movies
} // namespace zef

namespace zef::ui {

class CEffectParameterEditing;
class CXTimeCode;

// What the pages reach beyond their item; owned by the Parameters Deck.
struct DeckContext {
    explicit DeckContext(FProject& p) : project(p) {}
    FProject& project;
    const movies::EffectRegistry* registry = nullptr; // the installed effects; may be null
    CEffectParameterEditing* parameters = nullptr;    // the program's parameter edit
    std::function<void(ZEFItem&)> openFilters;        // the applied-filters dialog
    bool previewShowsComposition = true;
    // The font list of the titles, read on first use.
    movies::FontLibrary* fonts();

private:
    std::shared_ptr<movies::FontLibrary> m_fonts;
    bool m_fontsTried = false;
};

// Shows a dialog at its own size, centred over a window (or on the screen without one).
void showCentred(QWidget* dialog, const QWidget* over);

class CSettingsPage : public CGUIDialog {
    Q_OBJECT
public:
    CSettingsPage(DeckContext& context, QWidget* parent);

    // The item the page edits (for a transition page, the item whose transition it is).
    virtual ZEFItem* item() const = 0;
    // Refills from `item` (of the page's class), or from the shown item when null.
    virtual void itemChanged(ZEFItem* item) = 0;
    // Whether a change of `item` concerns the page (its item, or one that item owns).
    bool concerns(const ZEFItem* item) const;
    // The deck's caption for the page.
    virtual QString caption() const = 0;
    // The preview shows the composition, or a single clip.
    virtual void previewModeChanged() {}
    // The deck takes the page down: fields that lose the focus now commit nothing (their item
    // may be on its way out).
    void leave() { m_leaving = true; }
    bool isLeaving() const { return m_leaving; }

signals:
    // The caption changed (an item renamed) or the page's height (the deck lays it out again).
    void captionChanged();
    void heightChanged();

protected:
    // Runs an edit of the page, ignoring the change notifications it causes.
    void editing(const std::function<void()>& edit);
    bool isEditing() const { return m_editing > 0; }
    // A timecode field that commits its time when it loses the focus or Return is pressed
    // (not at every digit, so that half-typed times move nothing).
    CXTimeCode* timeField(const std::function<void(CXTimeCode&)>& commit);
    // A text field in the decks' colours.
    QLineEdit* lineField();

    DeckContext& m_context;

private:
    int m_editing = 0;
    bool m_leaving = false;
};

} // namespace zef::ui
