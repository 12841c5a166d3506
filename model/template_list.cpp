#include "model/template_list.h"

#include "model/compound_io.h"

#include <algorithm>
#include <cctype>

namespace zef {

namespace {
bool equalsIgnoringCase(const std::string& a, const std::string& b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(uint8_t(x)) == std::tolower(uint8_t(y));
           });
}

std::string templatePath(const std::string& dir, const std::string& name)
{
    return (dir.empty() ? std::string(".") : dir) + "/" + name + ".tmpl";
}
} // namespace

std::string templateExistsQuestion(const std::string& name)
{
    return "Template " + name +
           " already exists\nPress YES to replace it, NO to add new template, or CANCEL to "
           "cancel operation";
}

int TemplateList::findSameSettings(const CProjectTemplate& t) const
{
    for (size_t i = 0; i < m_list.size(); ++i)
        if (sameSettings(*m_list[i], t)) return int(i);
    return -1;
}

CProjectTemplate* TemplateList::findByName(const std::string& name)
{
    for (auto& t : m_list)
        if (equalsIgnoringCase(t->name, name)) return t.get();
    return nullptr;
}

CProjectTemplate* TemplateList::defaultTemplate()
{
    return m_list.empty() ? nullptr : m_list.front().get();
}

int TemplateList::addToList(const CProjectTemplate& t, UserInterface& ui)
{
    // A user template with the same settings makes way for t, unless the user cancels.
    int same = findSameSettings(t);
    std::unique_ptr<CProjectTemplate> replaced;
    if (same >= 0) {
        if (m_list[size_t(same)]->builtIn) return same;
        replaced = std::move(m_list[size_t(same)]);
        m_list.erase(m_list.begin() + same);
    }
    auto c = std::make_unique<CProjectTemplate>(t);
    bool asked = false;
    for (size_t i = 0; i < m_list.size();) {
        CProjectTemplate& e = *m_list[i];
        if (e.name != c->name) {
            ++i;
            continue;
        }
        // The user is asked once; after a No every further clash is renamed as well.
        Answer a = Answer::No;
        if (!e.builtIn && !asked) {
            asked = true;
            a = ui.ask(templateExistsQuestion(c->name), "Warning", Buttons::YesNoCancel,
                       Icon::Question);
        }
        if (a == Answer::Cancel) {
            if (replaced) m_list.insert(m_list.begin() + same, std::move(replaced));
            return -1;
        }
        if (a == Answer::Yes) {
            m_list.erase(m_list.begin() + long(i));
            break;
        }
        bumpName(*c);
        i = 0;
    }
    c->builtIn = false;
    m_list.push_back(std::move(c));
    return int(m_list.size() - 1);
}

void TemplateList::append(const CProjectTemplate& t)
{
    m_list.push_back(std::make_unique<CProjectTemplate>(t));
}

void TemplateList::removeAt(size_t i)
{
    if (i < m_list.size()) m_list.erase(m_list.begin() + long(i));
}

size_t TemplateList::builtInCount() const
{
    size_t i = 0;
    while (i < m_list.size() && m_list[i]->builtIn)
        ++i;
    return i;
}

void TemplateList::sortList()
{
    auto byName = [](const std::unique_ptr<CProjectTemplate>& a,
                     const std::unique_ptr<CProjectTemplate>& b) { return a->name < b->name; };
    size_t n = builtInCount();
    std::stable_sort(m_list.begin(), m_list.begin() + long(n), byName);
    std::stable_sort(m_list.begin() + long(n), m_list.end(), byName);
}

void TemplateList::writeStream(storage::StreamWriter& w, bool builtInOnly) const
{
    size_t i = builtInCount();
    size_t from = builtInOnly ? 0 : i;
    size_t to = builtInOnly ? i : m_list.size();
    w.int32(2);
    w.int32(9);
    w.int32(int32_t(to - from));
    for (size_t k = from; k < to; ++k)
        m_list[k]->write(w);
}

bool TemplateList::readStream(storage::StreamReader& r, bool builtIn)
{
    if (r.int32() != 2 || !r.ok()) return false;
    r.int32(); // version: records do not depend on it
    int32_t count = r.int32();
    if (!r.ok() || count < 0) return false;
    for (int32_t k = 0; k < count && r.ok(); ++k) {
        CProjectTemplate t(builtIn);
        if (t.read(r)) append(t);
    }
    return true;
}

bool TemplateList::loadFile(const std::string& dir, const std::string& name, bool builtIn)
{
    std::vector<uint8_t> bytes;
    if (readCompoundStream(templatePath(dir, name), "Header", bytes) != CompoundRead::Ok)
        return false;
    storage::MemoryStream ms(std::move(bytes));
    storage::StreamReader r(ms);
    return readStream(r, builtIn);
}

bool TemplateList::saveFile(const std::string& dir, const std::string& name, bool builtInOnly) const
{
    storage::MemoryStream ms;
    storage::StreamWriter w(ms);
    writeStream(w, builtInOnly);
    if (!w.ok()) return false;
    return writeCompoundStreamAtomically(templatePath(dir, name), "Header", ms.bytes()) == 0;
}

} // namespace zef
