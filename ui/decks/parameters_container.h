// The Parameters Deck (CParametersContainer): shows the settings page of the selected item,
// its transition or the project.
#pragma once

#include "ui/controls/gui_dialog.h"

namespace zef::ui {

class CParametersContainer : public CGUIDialogWithCaption {
    Q_OBJECT
public:
    explicit CParametersContainer(QWidget* parent = nullptr);
    static QSize defaultSize() { return {560, 440}; }
};

} // namespace zef::ui
