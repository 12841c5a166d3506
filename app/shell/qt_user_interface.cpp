#include "app/shell/qt_user_interface.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>

namespace zef::app {

namespace {

QMessageBox::Icon qtIcon(Icon icon)
{
    switch (icon) {
    case Icon::Information:
        return QMessageBox::Information;
    case Icon::Warning:
    case Icon::Exclamation:
        return QMessageBox::Warning;
    case Icon::Question:
        return QMessageBox::Question;
    case Icon::Error:
        return QMessageBox::Critical;
    case Icon::None:
        break;
    }
    return QMessageBox::NoIcon;
}

QMessageBox::StandardButtons qtButtons(Buttons b)
{
    switch (b) {
    case Buttons::Ok:
        return QMessageBox::Ok;
    case Buttons::OkCancel:
        return QMessageBox::Ok | QMessageBox::Cancel;
    case Buttons::YesNo:
        return QMessageBox::Yes | QMessageBox::No;
    case Buttons::YesNoCancel:
        return QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
    case Buttons::AbortRetryIgnore:
        return QMessageBox::Abort | QMessageBox::Retry | QMessageBox::Ignore;
    }
    return QMessageBox::Ok;
}

QMessageBox::StandardButton qtButton(Answer a)
{
    switch (a) {
    case Answer::Ok:
        return QMessageBox::Ok;
    case Answer::Cancel:
        return QMessageBox::Cancel;
    case Answer::Yes:
        return QMessageBox::Yes;
    case Answer::No:
        return QMessageBox::No;
    case Answer::Abort:
        return QMessageBox::Abort;
    case Answer::Retry:
        return QMessageBox::Retry;
    case Answer::Ignore:
        return QMessageBox::Ignore;
    }
    return QMessageBox::NoButton;
}

Answer answerOf(int button, Buttons buttons)
{
    switch (button) {
    case QMessageBox::Ok:
        return Answer::Ok;
    case QMessageBox::Yes:
        return Answer::Yes;
    case QMessageBox::No:
        return Answer::No;
    case QMessageBox::Abort:
        return Answer::Abort;
    case QMessageBox::Retry:
        return Answer::Retry;
    case QMessageBox::Ignore:
        return Answer::Ignore;
    default:
        break;
    }
    // Closing the box with Escape or its window button answers what Escape stands for.
    if (buttons == Buttons::Ok) return Answer::Ok;
    if (buttons == Buttons::YesNo) return Answer::No;
    if (buttons == Buttons::AbortRetryIgnore) return Answer::Ignore;
    return Answer::Cancel;
}

// "Name (*.ZEF)" with the pattern in both cases, so that "a.zef" is listed too.
QString filterOf(const std::string& text, const std::string& pattern)
{
    QString p = QString::fromStdString(pattern);
    if (p.toUpper() != p.toLower()) p = p.toUpper() + QLatin1Char(' ') + p.toLower();
    QString t = QString::fromStdString(text);
    const int paren = t.indexOf(QLatin1Char('('));
    if (paren >= 0) t = t.left(paren).trimmed();
    return t + QStringLiteral(" (") + p + QLatin1Char(')');
}

} // namespace

Answer QtUserInterface::ask(const std::string& text, const std::string& title, Buttons buttons,
                            Icon icon)
{
    QMessageBox box(qtIcon(icon), QString::fromStdString(title), QString::fromStdString(text),
                    qtButtons(buttons), m_parent);
    return answerOf(box.exec(), buttons);
}

Answer QtUserInterface::askWithDefault(const std::string& text, const std::string& title,
                                       Buttons buttons, Icon icon, Answer defaultButton)
{
    QMessageBox box(qtIcon(icon), QString::fromStdString(title), QString::fromStdString(text),
                    qtButtons(buttons), m_parent);
    box.setDefaultButton(qtButton(defaultButton));
    return answerOf(box.exec(), buttons);
}

std::optional<std::string> QtUserInterface::chooseFileToOpen(const std::string& filterText,
                                                             const std::string& pattern,
                                                             const std::string&)
{
    const QString path =
        QFileDialog::getOpenFileName(m_parent, QString(), QString(), filterOf(filterText, pattern));
    if (path.isEmpty()) return std::nullopt;
    return path.toStdString();
}

std::optional<std::string> QtUserInterface::chooseFileToSave(const std::string& initialPath,
                                                             const std::string& filterText,
                                                             const std::string& pattern,
                                                             const std::string& defaultExtension)
{
    QFileDialog dialog(m_parent, QString(), QString::fromStdString(initialPath),
                       filterOf(filterText, pattern));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(QString::fromStdString(defaultExtension));
    dialog.selectFile(QString::fromStdString(initialPath));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    return dialog.selectedFiles().front().toStdString();
}

} // namespace zef::app
