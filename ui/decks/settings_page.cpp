#include "ui/decks/settings_page.h"

#include "model/item.h"
#include "platform/movies/text/font_library.h"
#include "ui/controls/xcombobox.h"
#include "ui/controls/xtimecode.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QScreen>

#include <algorithm>
#include <stdexcept>

namespace zef::ui {

namespace {

// Return or Enter in a timecode field commits it.
class CommitOnReturn : public QObject {
public:
    CommitOnReturn(QObject* parent, std::function<void()> commit)
        : QObject(parent), m_commit(std::move(commit))
    {
    }

protected:
    bool eventFilter(QObject* watched, QEvent* e) override
    {
        if (e->type() == QEvent::KeyPress) {
            const int key = static_cast<QKeyEvent*>(e)->key();
            if (key == Qt::Key_Return || key == Qt::Key_Enter) {
                m_commit();
                return true;
            }
        }
        return QObject::eventFilter(watched, e);
    }

private:
    std::function<void()> m_commit;
};

} // namespace

movies::FontLibrary* DeckContext::fonts()
{
    if (!m_fontsTried) {
        m_fontsTried = true;
        try {
            m_fonts = std::make_shared<movies::FontLibrary>();
        } catch (const std::runtime_error&) {
            m_fonts.reset();
        }
    }
    return m_fonts.get();
}

void showCentred(QWidget* dialog, const QWidget* over)
{
    dialog->adjustSize();
    QRect area;
    if (over && over->isVisible())
        area = over->window()->frameGeometry();
    else if (QScreen* screen = QGuiApplication::primaryScreen())
        area = screen->availableGeometry();
    if (area.isValid()) {
        QRect r(QPoint(), dialog->size());
        r.moveCenter(area.center());
        if (QScreen* screen = QGuiApplication::screenAt(area.center()))
            r.moveTo(std::clamp(r.x(), screen->availableGeometry().left(),
                                std::max(screen->availableGeometry().left(),
                                         screen->availableGeometry().right() - r.width())),
                     std::clamp(r.y(), screen->availableGeometry().top(),
                                std::max(screen->availableGeometry().top(),
                                         screen->availableGeometry().bottom() - r.height())));
        dialog->move(r.topLeft());
    }
    dialog->show();
    dialog->raise();
    dialog->activateWindow();
}

CSettingsPage::CSettingsPage(DeckContext& context, QWidget* parent)
    : CGUIDialog(parent), m_context(context)
{
}

bool CSettingsPage::concerns(const ZEFItem* changed) const
{
    const ZEFItem* shown = item();
    if (!shown || !changed) return shown != nullptr;
    for (const ZEFItem* it = shown; it; it = it->owner())
        if (it == changed) return true;
    // A transition page also follows the item after its own (the other side of the overlap).
    return shown->next() == changed;
}

void CSettingsPage::editing(const std::function<void()>& edit)
{
    ++m_editing;
    try {
        edit();
    } catch (...) {
        --m_editing;
        throw;
    }
    --m_editing;
}

CXTimeCode* CSettingsPage::timeField(const std::function<void(CXTimeCode&)>& commit)
{
    auto* field = new CXTimeCode(this);
    field->setDigitColour(QColor(255, 210, 0));
    field->setRange(EditTime(), EditTime::raw(CXTimeCode::kDefaultMaximum * 9));
    auto run = [this, field, commit] {
        if (!m_leaving) commit(*field);
    };
    connect(field, &CXTimeCode::focusLost, this, run);
    field->installEventFilter(new CommitOnReturn(field, run));
    return field;
}

QLineEdit* CSettingsPage::lineField()
{
    auto* field = new QLineEdit(this);
    setFieldLook(field);
    return field;
}

} // namespace zef::ui
