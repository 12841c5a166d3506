// A user interface for tests: answers come from a queue, and every question is recorded.
#pragma once

#include "model/user_interface.h"

#include <deque>
#include <optional>
#include <string>
#include <vector>

namespace zef::test {

class ScriptedUserInterface : public UserInterface {
public:
    struct Asked {
        std::string text;
        std::string title;
        Buttons buttons;
        Icon icon;
        std::optional<Answer> defaultButton = std::nullopt;
    };

    std::deque<Answer> answers;          // consumed in order; Cancel when empty
    std::deque<std::string> filesToOpen; // "" stands for a cancelled dialog
    std::deque<std::string> filesToSave;
    std::vector<Asked> asked;
    int openDialogs = 0;
    int saveDialogs = 0;
    std::vector<std::string> openFilters, saveFilters; // "text|pattern|extension"
    std::vector<std::string> saveInitialPaths;

    Answer ask(const std::string& text, const std::string& title, Buttons buttons,
               Icon icon) override
    {
        asked.push_back({text, title, buttons, icon, std::nullopt});
        if (buttons == Buttons::Ok) return Answer::Ok;
        if (answers.empty()) return Answer::Cancel;
        Answer a = answers.front();
        answers.pop_front();
        return a;
    }

    Answer askWithDefault(const std::string& text, const std::string& title, Buttons buttons,
                          Icon icon, Answer defaultButton) override
    {
        Answer a = ask(text, title, buttons, icon);
        asked.back().defaultButton = defaultButton;
        return a;
    }

    std::optional<std::string> chooseFileToOpen(const std::string& filterText,
                                                const std::string& pattern,
                                                const std::string& defaultExtension) override
    {
        ++openDialogs;
        openFilters.push_back(filterText + "|" + pattern + "|" + defaultExtension);
        return pop(filesToOpen);
    }

    std::optional<std::string> chooseFileToSave(const std::string& initialPath,
                                                const std::string& filterText,
                                                const std::string& pattern,
                                                const std::string& defaultExtension) override
    {
        ++saveDialogs;
        saveInitialPaths.push_back(initialPath);
        saveFilters.push_back(filterText + "|" + pattern + "|" + defaultExtension);
        return pop(filesToSave);
    }

private:
    static std::optional<std::string> pop(std::deque<std::string>& q)
    {
        if (q.empty()) return std::nullopt;
        std::string s = q.front();
        q.pop_front();
        if (s.empty()) return std::nullopt;
        return s;
    }
};

} // namespace zef::test
