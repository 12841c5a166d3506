#include "app/shell/item_menu.h"

#include "app/clipdeck/clip_deck.h"
#include "model/project.h"

#include <QMenu>

namespace zef::app {

void fillItemMenu(QMenu& menu, FMainControl& control, bool contextMenu)
{
    const ItemMenuStates s = control.itemMenuStates(contextMenu);
    auto add = [&](QMenu& m, const char* text, bool enabled, auto&& command) {
        QAction* a = m.addAction(QString::fromUtf8(text));
        a->setEnabled(enabled);
        QObject::connect(a, &QAction::triggered, &m, [&control, command] { command(control); });
        return a;
    };
    add(menu, "Delete Selected Item(s)\tCtrl+X", true, [](FMainControl& c) { c.removeSelected(); });
    add(menu, "Delete F&ile From Disk", s.deleteFileFromDisk,
        [](FMainControl& c) { c.deleteFileFromDisk(); });
    add(menu, "Add &Title\tCtrl+T", true, [](FMainControl& c) { c.addTitle(); });
    add(menu, "Add &Clip\tCtrl+P", true, [](FMainControl& c) { c.addClipFromDialog(); });
    add(menu, "&Razor at Current Time\tCtrl+R", true, [](FMainControl& c) { c.razor(); });
    add(menu, "&Duplicate Selected Item", true, [](FMainControl& c) { c.duplicate(); });
    add(menu, "Split Audio and Video\tCtrl+/", s.splitAudioAndVideo,
        [](FMainControl& c) { c.splitAudioAndVideo(); });
    add(menu, "Applied &Filters...\tCtrl+F", s.appliedFilters,
        [](FMainControl& c) { c.appliedFilters(); });
    menu.addSeparator();

    QMenu* copyTo = menu.addMenu(QStringLiteral("Copy Item(s) to"));
    QMenu* moveTo = menu.addMenu(QStringLiteral("Move Item(s) to"));
    for (int track = 0; track < 4; ++track) {
        const char* name = FProject::trackMenuName(track);
        add(*copyTo, name, s.copyTo[size_t(track)],
            [track](FMainControl& c) { c.copyOrMoveTo(track, true); });
        add(*moveTo, name, s.moveTo[size_t(track)],
            [track](FMainControl& c) { c.copyOrMoveTo(track, false); });
    }
    QMenu* replace = menu.addMenu(QStringLiteral("Replace with"));
    replace->setEnabled(s.replaceKind != ItemMenuStates::Replace::Nothing);
    for (const EffectMenuEntry& e : s.replaceEntries) {
        const int n = e.index;
        add(*replace, e.name.c_str(), s.replaceEnabled, [n](FMainControl& c) { c.replaceWith(n); });
    }
    menu.addSeparator();
    add(menu, "&Copy frame to clipboard\tCtrl+C", true,
        [](FMainControl& c) { c.copyFrameToClipboard(); });
}

} // namespace zef::app
