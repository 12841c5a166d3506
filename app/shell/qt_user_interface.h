// The model's questions, messages and file dialogs as Qt dialogs: message boxes keep their
// texts, titles, buttons and icons; file dialogs filter by the given pattern in either letter
// case (project files are "*.ZEF" but Linux names are case-sensitive).
//
// GUI thread only.
#pragma once

#include "model/user_interface.h"

class QWidget;

namespace zef::app {

class QtUserInterface : public UserInterface {
public:
    // Dialogs are owned by parent when one is set (null: no owner window).
    explicit QtUserInterface(QWidget* parent = nullptr) : m_parent(parent) {}
    void setParent(QWidget* parent) { m_parent = parent; }

    Answer ask(const std::string& text, const std::string& title, Buttons buttons,
               Icon icon) override;
    Answer askWithDefault(const std::string& text, const std::string& title, Buttons buttons,
                          Icon icon, Answer defaultButton) override;
    std::optional<std::string> chooseFileToOpen(const std::string& filterText,
                                                const std::string& pattern,
                                                const std::string& defaultExtension) override;
    std::optional<std::string> chooseFileToSave(const std::string& initialPath,
                                                const std::string& filterText,
                                                const std::string& pattern,
                                                const std::string& defaultExtension) override;

private:
    QWidget* m_parent;
};

} // namespace zef::app
