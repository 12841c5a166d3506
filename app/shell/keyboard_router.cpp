#include "app/shell/keyboard_router.h"

#include "app/shell/main_frame.h"
#include "ui/controls/xtimecode.h"
#include "ui/decks/info_dialog.h"
#include "ui/decks/parameters_container.h"
#include "ui/preview/dpreview.h"
#include "ui/preview/preview_panel.h"

#include <QAbstractButton>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextEdit>

namespace zef::app {

KeyboardRouter::KeyboardRouter(CMainFrame& frame, QObject* parent) : QObject(parent), m_frame(frame)
{
}

bool KeyboardRouter::isEditField(const QWidget* w)
{
    if (!w) return false;
    if (qobject_cast<const QLineEdit*>(w) || qobject_cast<const QAbstractSpinBox*>(w)) return true;
    // The timecode fields take digits, the arrows, Home and End themselves.
    if (qobject_cast<const ui::CXTimeCode*>(w)) return true;
    if (auto* t = qobject_cast<const QTextEdit*>(w)) return !t->isReadOnly();
    if (auto* t = qobject_cast<const QPlainTextEdit*>(w)) return !t->isReadOnly();
    if (auto* c = qobject_cast<const QComboBox*>(w)) return c->isEditable();
    return false;
}

bool KeyboardRouter::eventFilter(QObject* watched, QEvent* event)
{
    // While a capture runs the other windows are not repainted; the preview, its figures and
    // the capture settings (with "Record Now!") go on.
    if (m_frame.captureCount() > 0 &&
        (event->type() == QEvent::Paint || event->type() == QEvent::UpdateRequest) &&
        watched->isWidgetType()) {
        const QWidget* window = static_cast<QWidget*>(watched)->window();
        if (window != &m_frame.previewDeck() && window != &m_frame.infoDeck() &&
            window != &m_frame.parametersDeck() && !qobject_cast<const QDialog*>(window))
            return true;
    }
    if (event->type() != QEvent::KeyPress || !watched->isWidgetType()) return false;
    // A modal dialog keeps its keys: an undo or a new dialog under it would pull the project
    // out from under what it edits.
    if (QApplication::activeModalWidget()) return false;
    // A key event travels up to the parents when ignored; route it once, at its first receiver.
    auto* w = static_cast<QWidget*>(watched);
    QWidget* focus = QApplication::focusWidget();
    if (focus ? w != focus : !w->isWindow()) return false;
    return route(focus ? focus : w, static_cast<QKeyEvent*>(event));
}

bool KeyboardRouter::applyAccelerator(QWidget* focus, QKeyEvent* e)
{
    QWidget* window = focus->window();
    const bool inMain = window == &m_frame;
    if (inMain && (focus == &m_frame || focus->parentWidget() == &m_frame)) return false;
    if (isEditField(focus)) {
        switch (e->key()) {
        case Qt::Key_A:
        case Qt::Key_C:
        case Qt::Key_X:
        case Qt::Key_V:
        case Qt::Key_Z:
        case Qt::Key_Y:
            return false;
        default:
            break;
        }
    }
    const QKeySequence pressed(e->keyCombination());
    for (QAction* a : m_frame.accelerators())
        for (const QKeySequence& s : a->shortcuts())
            if (s == pressed) {
                if (a->isEnabled()) a->trigger();
                return true;
            }
    return false;
}

bool KeyboardRouter::route(QWidget* focus, QKeyEvent* e)
{
    const Qt::KeyboardModifiers mods = e->modifiers() & ~Qt::KeypadModifier;
    if (mods.testFlag(Qt::ControlModifier) && applyAccelerator(focus, e)) return true;
    if (isEditField(focus)) return false;

    ui::CPreviewPanel& vcr = m_frame.vcrDeck();
    switch (e->key()) {
    case Qt::Key_Space:
        if (mods != Qt::NoModifier || qobject_cast<QAbstractButton*>(focus)) return false;
        vcr.togglePlay();
        return true;
    case Qt::Key_Home:
        vcr.goToStart();
        return true;
    case Qt::Key_End:
        vcr.goToEnd();
        return true;
    case Qt::Key_Left:
    case Qt::Key_Right: {
        const bool forward = e->key() == Qt::Key_Right;
        if (mods.testFlag(Qt::ControlModifier))
            vcr.goToEditPoint(forward);
        else if (mods.testFlag(Qt::ShiftModifier))
            vcr.moveTicks(forward ? 300 : -300);
        else
            vcr.stepFrames(forward ? 1 : -1);
        return true;
    }
    default:
        return false;
    }
}

} // namespace zef::app
