// What the model needs of the user: questions, messages and file choices. The GUI implements
// it with dialogs; tests script it; headless runs use an implementation that never asks.
#pragma once

#include <optional>
#include <string>

namespace zef {

enum class Buttons { Ok, OkCancel, YesNo, YesNoCancel, AbortRetryIgnore };
enum class Answer { Ok, Cancel, Yes, No, Abort, Retry, Ignore };
enum class Icon { None, Information, Warning, Question, Exclamation, Error };

class UserInterface {
public:
    virtual ~UserInterface() = default;

    // A message box: text, title, buttons and icon; returns the button pressed.
    virtual Answer ask(const std::string& text, const std::string& title, Buttons buttons,
                       Icon icon) = 0;
    // The same with a default button (the one Enter presses). Implementations that cannot
    // mark a default ask without one.
    virtual Answer askWithDefault(const std::string& text, const std::string& title,
                                  Buttons buttons, Icon icon, Answer /*defaultButton*/)
    {
        return ask(text, title, buttons, icon);
    }
    // A message box with only an OK button.
    void showMessage(const std::string& text, const std::string& title, Icon icon = Icon::None)
    {
        ask(text, title, Buttons::Ok, icon);
    }

    // File dialogs: filter is a display text and a pattern, e.g. "ZEF Project Files (*.ZEF)"
    // and "*.ZEF"; defaultExtension has no dot. nullopt when the user cancels.
    virtual std::optional<std::string> chooseFileToOpen(const std::string& filterText,
                                                        const std::string& pattern,
                                                        const std::string& defaultExtension) = 0;
    virtual std::optional<std::string> chooseFileToSave(const std::string& initialPath,
                                                        const std::string& filterText,
                                                        const std::string& pattern,
                                                        const std::string& defaultExtension) = 0;
};

// For runs without a display: every question gets the given default answer (Cancel unless
// set), messages are written to standard error, file dialogs are cancelled.
class HeadlessUserInterface : public UserInterface {
public:
    explicit HeadlessUserInterface(Answer defaultAnswer = Answer::Cancel) : m_default(defaultAnswer)
    {
    }
    Answer ask(const std::string& text, const std::string& title, Buttons buttons,
               Icon icon) override;
    std::optional<std::string> chooseFileToOpen(const std::string&, const std::string&,
                                                const std::string&) override
    {
        return std::nullopt;
    }
    std::optional<std::string> chooseFileToSave(const std::string&, const std::string&,
                                                const std::string&, const std::string&) override
    {
        return std::nullopt;
    }

private:
    Answer m_default;
};

} // namespace zef
