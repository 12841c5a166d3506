// The list of output templates: built-in templates first, then the user's. The first entry is
// the default template. Template files are compound files "<name>.tmpl" with one stream
// "Header": magic 2, version, count, then the template records.
#pragma once

#include "model/project_template.h"
#include "model/user_interface.h"

#include <memory>
#include <string>
#include <vector>

namespace zef {

class TemplateList {
public:
    size_t size() const { return m_list.size(); }
    CProjectTemplate& at(size_t i) { return *m_list.at(i); }
    const CProjectTemplate& at(size_t i) const { return *m_list.at(i); }

    // Index of the first entry with the same settings, or −1.
    int findSameSettings(const CProjectTemplate& t) const;
    // The first entry whose name equals name ignoring (ASCII) case, or null.
    CProjectTemplate* findByName(const std::string& name);
    // The first entry, or null when the list is empty.
    CProjectTemplate* defaultTemplate();

    // Puts t's settings into the list, asking through ui about a clash with a user
    // template's name; returns the index now holding t's settings, or −1 on Cancel.
    int addToList(const CProjectTemplate& t, UserInterface& ui);
    // Appends a copy as it is (used when loading files and by tools that build lists).
    void append(const CProjectTemplate& t);
    void removeAt(size_t i);
    void clear() { m_list.clear(); }

    // Built-in entries first, each group sorted by name.
    void sortList();
    size_t builtInCount() const;

    // Reads dir/name.tmpl and appends its records marked builtIn; false when the file is
    // missing, unreadable or its magic is not 2. Records that fail to read are dropped.
    bool loadFile(const std::string& dir, const std::string& name, bool builtIn);
    // Writes dir/name.tmpl with either the leading built-in entries or the user entries;
    // the file is replaced atomically. Returns false on failure.
    bool saveFile(const std::string& dir, const std::string& name, bool builtInOnly) const;

    // The stream bodies of a template file, also used by tests and the build-time tool.
    void writeStream(storage::StreamWriter& w, bool builtInOnly) const;
    bool readStream(storage::StreamReader& r, bool builtIn);

private:
    std::vector<std::unique_ptr<CProjectTemplate>> m_list;
};

// The question asked when a template's name is taken by a user template.
std::string templateExistsQuestion(const std::string& name);

} // namespace zef
