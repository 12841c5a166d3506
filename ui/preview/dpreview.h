// The Preview Deck (DPreview): the resizable deck that shows the composition, a clip or the
// capture preview.
#pragma once

#include "ui/controls/gui_dialog.h"

namespace zef::ui {

class DPreview : public CGUIDialogWithCaption {
    Q_OBJECT
public:
    explicit DPreview(QWidget* parent = nullptr);
    static QSize defaultSize() { return {560, 420}; }
};

} // namespace zef::ui
