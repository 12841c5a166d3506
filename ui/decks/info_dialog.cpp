#include "ui/decks/info_dialog.h"

namespace zef::ui {

CInfoDialog::CInfoDialog(QWidget* parent)
    : CGUIDialogWithCaption(QStringLiteral("Info Deck"), true, parent)
{
    setObjectName(QStringLiteral("InfoDeck"));
    resize(defaultSize());
}

} // namespace zef::ui
