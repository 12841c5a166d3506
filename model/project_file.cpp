// The project file: the project stream and the save and open procedures.
#include "model/compound_io.h"
#include "model/project.h"
#include "model/template_list.h"
#include "model/zef_exception.h"
#include "platform/storage/stream.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <new>

namespace zef {

namespace {

constexpr const char* kHeaderStream = "Header";
constexpr const char* kProductName = "ZEF Rondavo";

bool equalsIgnoringCase(const std::string& a, const std::string& b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(uint8_t(x)) == std::tolower(uint8_t(y));
           });
}

// Splits "dir/name.ext" into "dir/name" and ".ext" (an empty extension when the file name has
// no dot).
std::pair<std::string, std::string> splitExtension(const std::string& path)
{
    size_t slash = path.find_last_of("/\\");
    size_t dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {path, ""};
    return {path.substr(0, dot), path.substr(dot)};
}

bool fileExists(const std::string& path)
{
    std::error_code ec;
    return std::filesystem::is_regular_file(path, ec);
}

void writeRect(storage::StreamWriter& w, const movies::Rect& r)
{
    w.int32(r.left);
    w.int32(r.top);
    w.int32(r.right);
    w.int32(r.bottom);
}

movies::Rect readRect(storage::StreamReader& r)
{
    movies::Rect rect;
    rect.left = r.int32();
    rect.top = r.int32();
    rect.right = r.int32();
    rect.bottom = r.int32();
    return rect;
}

// The panel records in file order: the Clip Deck twice, then the other decks.
constexpr ProjectPanel kPanelOrder[] = {kPanelClipDeck,       kPanelClipDeck, kPanelInfoDeck,
                                        kPanelParametersDeck, kPanelVcrDeck,  kPanelTimelineDeck,
                                        kPanelPreviewDeck};

} // namespace

int FProject::writeProject(storage::Stream& out) const
{
    storage::StreamWriter w(out);
    w.int32(formatMagic);
    w.int32(formatVersion);
    m_composition.write(w);
    w.flag(previewFlags[0]);
    w.int32(captureRate);
    w.int32(captureTime);
    w.int32(captureMode);
    w.string(captureFileName);
    renderStart.save(w);
    renderEnd.save(w);
    w.int32(kSeparator);
    for (const auto& t : m_tracks)
        t->save(w);
    w.int32(kSeparator);
    for (ProjectPanel p : kPanelOrder) {
        writeRect(w, panels[size_t(p)].rect);
        w.flag(panels[size_t(p)].visible);
    }
    w.flag(renderEndFollowsProject);
    return w.ok() ? 0 : -1;
}

int FProject::readProject(storage::Stream& in)
{
    try {
        return readProjectBody(in);
    } catch (const ZEFException&) {
        return -1;
    } catch (const std::bad_alloc&) {
        return -1;
    }
}

int FProject::readProjectBody(storage::Stream& in)
{
    storage::StreamReader r(in);
    if (r.int32() != kFormatMagic || !r.ok()) return -1;
    const int32_t version = r.int32();
    CProjectTemplate composition;
    if (!composition.read(r)) return -1;
    // The edit rate drives every time of the project; a file without a usable one is damaged.
    if (EditRateContext::wholeRate(composition.frameRate) < 1) return -1;
    setComposition(composition);
    previewFlags[0] = r.flag();
    captureRate = r.int32();
    captureTime = r.int32();
    captureMode = r.int32();
    captureFileName = r.string();
    EditTime start, end;
    start.load(r, version);
    end.load(r, version);
    if (!r.ok()) return -1;
    renderStart = start;
    renderEnd = end;
    if (r.int32() != kSeparator || !r.ok()) return -1;

    // The stored render end stays as it is while the items arrive.
    renderEndFollowsProject = false;
    for (auto& t : m_tracks) {
        t->load(r, version);
        if (!r.ok()) return -1;
    }
    if (r.int32() != kSeparator || !r.ok()) return -1;

    PanelLayout layout = panels;
    for (size_t i = 0; i < std::size(kPanelOrder); ++i) {
        PanelPlacement p;
        p.rect = readRect(r);
        p.visible = r.flag();
        if (i == 1) continue; // the Clip Deck's second record is not used
        layout[size_t(kPanelOrder[i])] = p;
    }
    const bool follows = r.flag();
    if (!r.ok()) return -1;
    // Items that break the neighbour rules (overlapping where no overlap is allowed, passing
    // their successor) are kept as stored: the editing operations stay safe on them.
    panels = layout;
    renderEndFollowsProject = follows;
    notify([&](ProjectObserver& o) { o.applyPanelLayout(panels); });
    return 0;
}

int FProject::saveProject(bool saveAs, bool onlyIfModified, bool askFirst)
{
    if (onlyIfModified && !modified) return 0;
    UserInterface& user = ui();
    const std::string full = fileName();
    if (askFirst) {
        Answer a = user.ask("Do you want to save your changes to " + full + " ?", kProductName,
                            Buttons::YesNoCancel, Icon::Question);
        if (a == Answer::No) return 0;
        if (a != Answer::Yes) return -1;
    }

    std::string path = filePath;
    std::string extension = m_fileExtension;
    if (saveAs || untitled()) {
        std::optional<std::string> chosen = user.chooseFileToSave(
            full, kProjectFilterText, kProjectFilterPattern, kProjectExtension);
        if (!chosen) return 0;
        auto [stem, ext] = splitExtension(*chosen);
        if (!equalsIgnoringCase(ext, std::string(".") + kProjectExtension)) {
            user.showMessage("Not A Project File", "Error");
            return 0;
        }
        path = stem;
        extension = ext;
    }

    // The file is written whole under a temporary name and renamed over the old one, so a
    // failure leaves the old file as it was; the project keeps its name and modified flag.
    storage::MemoryStream bytes;
    if (writeProject(bytes) != 0) return 0;
    if (fileExists(path + extension))
        notify([&](ProjectObserver& o) { o.beforeFileReplaced(path + extension); });
    if (writeCompoundStreamAtomically(path + extension, kHeaderStream, bytes.bytes()) != 0)
        return 0;
    const bool renamed = path != filePath || extension != m_fileExtension;
    filePath = path;
    m_fileExtension = extension;
    modified = false;
    if (renamed) {
        const std::string title = windowTitle();
        notify([&](ProjectObserver& o) { o.setWindowTitle(title); });
    }
    return 1;
}

bool FProject::untitled() const { return equalsIgnoringCase(filePath, "untitled"); }

void FProject::assumeFileName(const std::string& fileName)
{
    if (fileName.empty()) {
        filePath = "untitled";
        m_fileExtension = std::string(".") + kProjectExtension;
    } else {
        auto [stem, ext] = splitExtension(fileName);
        filePath = stem;
        m_fileExtension = ext;
    }
    const std::string title = windowTitle();
    notify([&](ProjectObserver& o) { o.setWindowTitle(title); });
}

int FProject::openProject(const std::string& path)
{
    UserInterface& user = ui();
    std::string full;
    if (!path.empty()) {
        full = path + "." + kProjectExtension;
        // Files made on systems whose names ignore case may carry the extension in lower case.
        if (!fileExists(full) && fileExists(path + ".zef")) full = path + ".zef";
    } else {
        std::optional<std::string> chosen =
            user.chooseFileToOpen(kProjectFilterText, kProjectFilterPattern, kProjectExtension);
        if (!chosen) return 0;
        full = *chosen;
    }
    return openProjectFile(full);
}

int FProject::openProjectFile(const std::string& full)
{
    UserInterface& user = ui();
    std::vector<uint8_t> bytes;
    switch (readCompoundStream(full, kHeaderStream, bytes)) {
    case CompoundRead::Ok:
        break;
    case CompoundRead::CannotOpenFile:
        notify([](ProjectObserver& o) {
            o.refreshTimeline();
            o.refreshClipDeck();
        });
        return -1;
    case CompoundRead::StreamMissing:
        return -1;
    }

    // Everything the open may change is kept, so that a file that fails to read leaves the
    // project as it was.
    storage::MemoryStream before;
    if (writeProject(before) != 0) return -1;
    const std::string oldPath = filePath, oldExtension = m_fileExtension;
    const bool oldModified = modified;
    const auto oldPrefixesKept = oldPrefixes, newPrefixesKept = newPrefixes;
    const PanelLayout oldPanels = panels;
    UndoHistory::Lists history = m_undo->takeAll();

    reset(false);
    storage::MemoryStream in(std::move(bytes));
    if (readProject(in) != 0) {
        {
            QuietMediaOpen quiet(*this);
            before.rewind();
            readProject(before);
        }
        releaseComposition(-1);
        filePath = oldPath;
        m_fileExtension = oldExtension;
        oldPrefixes = oldPrefixesKept;
        newPrefixes = newPrefixesKept;
        panels = oldPanels;
        modified = oldModified;
        m_undo->putBack(std::move(history));
        notify([&](ProjectObserver& o) {
            o.refreshTimeline();
            o.refreshClipDeck();
            o.refreshDecks();
            o.refreshPreview();
        });
        return -1;
    }

    auto [stem, ext] = splitExtension(full);
    filePath = stem;
    m_fileExtension = ext;
    modified = false;
    if (m_templates) m_templates->addToList(m_composition, user);
    const std::string title = windowTitle();
    notify([&](ProjectObserver& o) {
        o.fitTimeline();
        o.refreshTimeline();
        o.refreshClipDeck();
        o.setWindowTitle(title);
    });
    return 1;
}

} // namespace zef
