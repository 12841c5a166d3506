#include "ui/timeline/timeline_view.h"

namespace zef::ui {

CTimelineView::CTimelineView(QWidget* parent)
    : CGUIDialogWithCaption(QStringLiteral("Timeline Deck"), true, parent)
{
    setObjectName(QStringLiteral("TimelineDeck"));
    resize(defaultSize());
}

} // namespace zef::ui
