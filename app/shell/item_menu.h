// The item menu (the "Edit Menu" of the main bar, and the context menu of an item): the Clip
// Deck's editing commands with their shortcuts, enabled as the current item allows.
#pragma once

class QMenu;

namespace zef::app {

class FMainControl;

// Fills menu with the item menu for the control's current item; contextMenu: opened on an
// item (copying and moving are then unavailable for titles).
void fillItemMenu(QMenu& menu, FMainControl& control, bool contextMenu);

} // namespace zef::app
