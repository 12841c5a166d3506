// DGetURL: asks for the location of a media file to add as a clip: a path, or a file:// URL
// as the desktop's file manager copies it. The address is handed on as typed otherwise.
//
// GUI thread only.
#pragma once

#include <QDialog>
#include <QString>

#include <optional>
#include <string>

class QLineEdit;

namespace zef::app {

class DGetURL : public QDialog {
    Q_OBJECT
public:
    explicit DGetURL(QWidget* parent = nullptr);

    QString location() const;
    // The path a typed location stands for: a file:// URL becomes its local path, other text
    // is kept (surrounding blanks and quotes dropped); nothing for an empty entry.
    static std::optional<std::string> pathOf(const QString& typed);
    // Shows the dialog; the path chosen, or nothing when cancelled or empty.
    static std::optional<std::string> ask(QWidget* parent);

private:
    QLineEdit* m_edit;
};

} // namespace zef::app
