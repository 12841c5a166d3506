#include "ui/decks/parameters_container.h"

#include <QEvent>

namespace zef::ui {

CParametersContainer::CParametersContainer(QWidget* parent)
    : CGUIDialogWithCaption(QStringLiteral("Parameters Deck"), false, parent)
{
    setObjectName(QStringLiteral("ParametersDeck"));
    setFixedSize(defaultSize());
}

// ---- the project's page

bool CParametersContainer::showProjectPage()
{
    if (!m_projectPage) {
        if (!m_projectPageMaker) return false;
        m_projectPage = m_projectPageMaker(this);
        if (!m_projectPage) return false;
        m_projectPage->installEventFilter(this);
    }
    setCaption(QStringLiteral("Parameters: Project"));
    m_projectPage->show();
    fitToPage();
    return true;
}

void CParametersContainer::fitToPage()
{
    if (!m_projectPage) return;
    const QRect client = clientRect();
    const int frame = height() - client.height();
    setFixedSize(width(), m_projectPage->height() + frame);
    m_projectPage->move(clientRect().topLeft());
    m_projectPage->resize(clientRect().width(), m_projectPage->height());
}

bool CParametersContainer::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_projectPage && event->type() == QEvent::Resize &&
        m_projectPage->height() + (height() - clientRect().height()) != height())
        fitToPage();
    return CGUIDialogWithCaption::eventFilter(watched, event);
}

} // namespace zef::ui
