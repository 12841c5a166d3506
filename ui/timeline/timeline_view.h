// The Timeline Deck (CTimelineView): the resizable deck that shows the tracks of the project on
// a time axis.
#pragma once

#include "ui/controls/gui_dialog.h"

namespace zef::ui {

class CTimelineView : public CGUIDialogWithCaption {
    Q_OBJECT
public:
    explicit CTimelineView(QWidget* parent = nullptr);
    static QSize defaultSize() { return {640, 360}; }
};

} // namespace zef::ui
