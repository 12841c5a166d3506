#include "ui/decks/parameters_container.h"

namespace zef::ui {

CParametersContainer::CParametersContainer(QWidget* parent)
    : CGUIDialogWithCaption(QStringLiteral("Parameters Deck"), false, parent)
{
    setObjectName(QStringLiteral("ParametersDeck"));
    setFixedSize(defaultSize());
}

} // namespace zef::ui
