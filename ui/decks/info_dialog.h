// The Info Deck (CInfoDialog): a resizable deck that describes the selected clip, effect, the
// project or a running capture.
#pragma once

#include "ui/controls/gui_dialog.h"

namespace zef::ui {

class CInfoDialog : public CGUIDialogWithCaption {
    Q_OBJECT
public:
    explicit CInfoDialog(QWidget* parent = nullptr);
    static QSize defaultSize() { return {640, 360}; }
};

} // namespace zef::ui
