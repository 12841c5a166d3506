#include "ui/preview/dpreview.h"

namespace zef::ui {

DPreview::DPreview(QWidget* parent)
    : CGUIDialogWithCaption(QStringLiteral("Preview Deck"), true, parent)
{
    setObjectName(QStringLiteral("PreviewDeck"));
    resize(defaultSize());
}

} // namespace zef::ui
