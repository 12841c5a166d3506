#include "model/undo.h"

#include "model/device.h"
#include "model/item.h"
#include "model/project.h"
#include "model/source_item.h"
#include "model/zef_exception.h"

#include <algorithm>
#include <array>
#include <cstdarg>
#include <cstdio>

namespace zef {

namespace {

// The clip opener of a project that only holds states: it opens nothing.
class NoClipMedia : public ClipOpener {
public:
    std::unique_ptr<ClipMedia> open(const std::string&, int32_t, int32_t, MediaInfo&,
                                    bool& notAMovie) override
    {
        notAMovie = false;
        return nullptr;
    }
};

} // namespace

FUndoBuffer::FUndoBuffer(const FProject& project, int32_t scope, std::string label)
    : m_label(std::move(label)), m_scope(scope)
{
    if (scope != kWholeProject && !FProject::validTrack(scope))
        throw ZEFException("Invalid undo scope");
    auto stream = std::make_unique<storage::MemoryStream>();
    bool ok;
    if (scope == kWholeProject) {
        ok = project.writeProject(*stream) == 0;
    } else {
        storage::StreamWriter w(*stream);
        project.device(scope).save(w);
        ok = w.ok();
    }
    if (ok) m_snapshot = std::move(stream);
}

FUndoBuffer::~FUndoBuffer() = default;

// ---- UndoHistory

void UndoHistory::recordUndo(int32_t scope, const char* format, ...)
{
    std::string label;
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    int n = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (n > 0) {
        label.resize(size_t(n) + 1);
        std::vsnprintf(label.data(), label.size(), format, args);
        label.resize(size_t(n));
    }
    va_end(args);

    // The entry is made before anything is dropped, so a bad scope changes nothing.
    auto entry = std::make_unique<FUndoBuffer>(m_project, scope, std::move(label));
    m_redo.clear();
    pushUndo(entry, true);
}

void UndoHistory::record(std::unique_ptr<FUndoBuffer> entry)
{
    if (!entry) return;
    m_redo.clear();
    pushUndo(entry, true);
}

bool UndoHistory::push(List& list, std::unique_ptr<FUndoBuffer>& entry, bool deleteIfRefused,
                       bool acceptAtDepthZero)
{
    bool accepted = false;
    if (!entry || !entry->valid()) {
        if (deleteIfRefused) entry.reset();
    } else if (m_depth <= 0) {
        accepted = acceptAtDepthZero;
        if (accepted || deleteIfRefused) entry.reset();
    } else {
        while (int32_t(list.size()) >= m_depth)
            list.pop_front();
        list.push_back(std::move(entry));
        accepted = true;
    }
    publish();
    return accepted;
}

bool UndoHistory::pushUndo(std::unique_ptr<FUndoBuffer>& entry, bool deleteIfRefused)
{
    return push(m_undo, entry, deleteIfRefused, true);
}

bool UndoHistory::pushRedo(std::unique_ptr<FUndoBuffer>& entry, bool deleteIfRefused)
{
    return push(m_redo, entry, deleteIfRefused, false);
}

void UndoHistory::transfer(List& from, List& to, bool toRedo, int32_t n)
{
    m_project.notify([](ProjectObserver& o) { o.clearInfoAndParameters(); });
    const int32_t count = std::clamp<int32_t>(n, 0, int32_t(from.size()));

    // For each track, the oldest of the entries being undone that covers it (counted from
    // the newest, 0); only that entry's snapshot is restored for the track.
    std::array<int32_t, kTrackCount> restoreFor;
    restoreFor.fill(-1);
    bool superseded = false, anyWhole = false;
    for (int32_t i = 0; i < count; ++i) {
        const FUndoBuffer& e = *from[from.size() - 1 - size_t(i)];
        anyWhole = anyWhole || e.scope() == FUndoBuffer::kWholeProject;
        for (int32_t t = 0; t < kTrackCount; ++t) {
            if (!e.covers(t)) continue;
            if (restoreFor[size_t(t)] >= 0) superseded = true;
            restoreFor[size_t(t)] = i;
        }
    }

    // Each entry moved to the other list must hold the state as it was right after the
    // entry's own action. When no entry is superseded, every snapshot is restored and the
    // project passes through those states itself. Otherwise it skips some of them, and the
    // states are followed on a scratch copy of the project instead, which takes every
    // snapshot in turn. The copy has no views, no questions and no media: its clips are
    // read and written back as they are, and no media file is opened or decoded for them.
    NoClipMedia noMedia;
    std::unique_ptr<FProject> scratch;
    if (superseded) {
        scratch = std::make_unique<FProject>();
        scratch->setClipOpener(&noMedia);
        // Only what the entries cover is needed there: every track for a whole-project
        // entry, else the tracks named.
        if (anyWhole) {
            storage::MemoryStream copy;
            m_project.writeProject(copy);
            copy.rewind();
            scratch->readProject(copy);
        } else {
            for (int32_t t = 0; t < kTrackCount; ++t) {
                if (restoreFor[size_t(t)] < 0) continue;
                storage::MemoryStream copy;
                storage::StreamWriter w(copy);
                m_project.device(t).save(w);
                copy.rewind();
                storage::StreamReader r(copy);
                scratch->device(t).load(r, FProject::kFormatVersion);
            }
        }
    }

    for (int32_t i = 0; i < count; ++i) {
        std::unique_ptr<FUndoBuffer> entry = std::move(from.back());
        from.pop_back();
        const FProject& now = scratch ? *scratch : m_project;
        auto mirror = std::make_unique<FUndoBuffer>(now, entry->scope(), entry->label());
        push(to, mirror, true, !toRedo);
        if (scratch && i + 1 < count) applySnapshot(*scratch, *entry);
        if (std::find(restoreFor.begin(), restoreFor.end(), i) != restoreFor.end()) restore(*entry);
        entry.reset();
        publish();
    }
}

bool UndoHistory::applySnapshot(FProject& project, const FUndoBuffer& entry)
{
    storage::MemoryStream* snapshot = entry.snapshot();
    if (!snapshot) return false;
    snapshot->rewind();
    if (entry.scope() == FUndoBuffer::kWholeProject) return project.readProject(*snapshot) == 0;
    storage::StreamReader r(*snapshot);
    project.device(entry.scope()).load(r, FProject::kFormatVersion);
    return r.ok();
}

void UndoHistory::undo(int32_t n) { transfer(m_undo, m_redo, true, n); }

void UndoHistory::redo(int32_t n) { transfer(m_redo, m_undo, false, n); }

void UndoHistory::undoStep()
{
    m_project.notify([](ProjectObserver& o) { o.clearInfoAndParameters(); });
    if (m_undo.empty()) return;
    const int32_t n = std::max(1, m_undo.back()->actionCount());
    undo(n);
    if (!m_redo.empty()) m_redo.back()->setActionCount(n);
}

void UndoHistory::redoStep()
{
    m_project.notify([](ProjectObserver& o) { o.clearInfoAndParameters(); });
    if (m_redo.empty()) return;
    const int32_t n = std::max(1, m_redo.back()->actionCount());
    redo(n);
    if (!m_undo.empty()) m_undo.back()->setActionCount(n);
}

void UndoHistory::discardNewest()
{
    if (m_undo.empty()) return;
    m_undo.pop_back();
    publish();
}

void UndoHistory::clear()
{
    m_undo.clear();
    m_redo.clear();
    publish();
}

void UndoHistory::setDepth(int32_t depth)
{
    m_depth = std::max(0, depth);
    while (int32_t(m_undo.size()) > m_depth)
        m_undo.pop_front();
    while (int32_t(m_redo.size()) > m_depth)
        m_redo.pop_front();
    publish();
}

bool UndoHistory::restore(const FUndoBuffer& entry)
{
    storage::MemoryStream* snapshot = entry.snapshot();
    if (!snapshot) return false;
    // Clips come back without questions: one that could not be opened before stays invalid.
    FProject::QuietMediaOpen quiet(m_project);
    FProject::ReuseClipMedia reuse(m_project, entry.scope());
    bool ok;
    if (entry.scope() == FUndoBuffer::kWholeProject) {
        storage::MemoryStream current;
        m_project.writeProject(current);
        snapshot->rewind();
        ok = m_project.readProject(*snapshot) == 0;
        if (!ok) {
            current.rewind();
            m_project.readProject(current);
        }
        m_project.releaseComposition(-1);
    } else {
        FDevice& track = m_project.device(entry.scope());
        storage::MemoryStream current;
        storage::StreamWriter w(current);
        track.save(w);
        snapshot->rewind();
        storage::StreamReader r(*snapshot);
        track.load(r, FProject::kFormatVersion);
        ok = r.ok();
        if (!ok) {
            current.rewind();
            storage::StreamReader back(current);
            track.load(back, FProject::kFormatVersion);
        }
        // The track's keyframes come back with its items.
        m_project.keyframesChanged(entry.scope());
    }
    // The project now differs from what was last saved (or may: the restored state is not
    // compared with the file).
    m_project.modified = true;
    m_project.notify([](ProjectObserver& o) {
        o.fitTimeline();
        o.refreshTimeline();
    });
    return ok;
}

std::vector<std::string> UndoHistory::labels(const List& list)
{
    std::vector<std::string> r;
    r.reserve(list.size());
    for (auto it = list.rbegin(); it != list.rend(); ++it)
        r.push_back((*it)->label());
    return r;
}

std::vector<std::string> UndoHistory::undoLabels() const { return labels(m_undo); }

std::vector<std::string> UndoHistory::redoLabels() const { return labels(m_redo); }

UndoHistory::Lists UndoHistory::takeAll()
{
    Lists lists{std::move(m_undo), std::move(m_redo)};
    m_undo.clear();
    m_redo.clear();
    publish();
    return lists;
}

void UndoHistory::putBack(Lists lists)
{
    m_undo = std::move(lists.undo);
    m_redo = std::move(lists.redo);
    publish();
}

void UndoHistory::publish()
{
    if (!m_undo.empty()) m_buttons.undoText = "Undo: " + m_undo.back()->label();
    if (!m_redo.empty()) m_buttons.redoText = "Redo: " + m_redo.back()->label();
    m_buttons.undoEnabled = !m_undo.empty();
    m_buttons.redoEnabled = !m_redo.empty();
    const UndoButtonState state = m_buttons;
    m_project.notify([&](ProjectObserver& o) { o.undoButtonsChanged(state); });
}

// ---- UndoRedoChooser

UndoRedoChooser::UndoRedoChooser(UndoHistory& history, bool undo)
    : m_history(history), m_undo(undo), m_lines(undo ? history.undoLabels() : history.redoLabels()),
      m_selected(m_lines.empty() ? 0 : 1)
{
}

void UndoRedoChooser::hover(int32_t line)
{
    m_selected = line >= 0 && line < int32_t(m_lines.size()) ? line + 1 : 0;
}

std::string UndoRedoChooser::caption() const
{
    if (m_selected == 0) return "Cancel";
    return std::string(m_undo ? "Un" : "Re") + "does " + std::to_string(m_selected) + " action(s)";
}

int32_t UndoRedoChooser::release()
{
    const int32_t n = m_selected;
    if (n > 0) {
        if (m_undo)
            m_history.undo(n);
        else
            m_history.redo(n);
    }
    m_selected = 0;
    m_history.publish();
    return n;
}

} // namespace zef
