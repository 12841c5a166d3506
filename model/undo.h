// Undo and redo by snapshots. Before an edit changes the project, the part it will touch (one
// track, or the whole project) is written into a memory stream and kept with a label; undoing
// reads that snapshot back. Redo works the same way in the other direction.
//
// Ownership: the project owns its UndoHistory; the history owns its entries; an entry owns its
// snapshot stream. Not thread-safe: used on the project's thread only.
#pragma once

#include "model/project_links.h"
#include "platform/storage/stream.h"

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

namespace zef {

class FProject;

// One undo or redo entry.
class FUndoBuffer {
public:
    static constexpr int32_t kWholeProject = -1;

    // Takes the snapshot at once: the whole project stream for scope -1, the track record of
    // track `scope` (0-4) otherwise. When writing fails the entry has no snapshot and restores
    // nothing.
    FUndoBuffer(const FProject& project, int32_t scope, std::string label);
    virtual ~FUndoBuffer();
    FUndoBuffer(const FUndoBuffer&) = delete;
    FUndoBuffer& operator=(const FUndoBuffer&) = delete;

    const std::string& label() const { return m_label; }
    bool valid() const { return m_valid; }
    void setValid(bool valid) { m_valid = valid; }
    int32_t scope() const { return m_scope; }
    // Entries that the main-bar buttons treat as one step; 1 when recorded.
    int32_t actionCount() const { return m_actionCount; }
    void setActionCount(int32_t n) { m_actionCount = n; }
    // The serialised state, or null.
    storage::MemoryStream* snapshot() const { return m_snapshot.get(); }
    // True when the entry's snapshot covers the track (scope -1 covers all five).
    bool covers(int32_t track) const { return m_scope == kWholeProject || m_scope == track; }

private:
    std::string m_label;
    bool m_valid = true;
    std::unique_ptr<storage::MemoryStream> m_snapshot;
    int32_t m_scope;
    int32_t m_actionCount = 1;
};

// The project's undo and redo lists. Each list holds at most depth() entries; pushing onto a
// full list deletes its oldest entry.
class UndoHistory {
public:
    static constexpr int32_t kDefaultDepth = 50;

    explicit UndoHistory(FProject& project) : m_project(project) {}
    UndoHistory(const UndoHistory&) = delete;
    UndoHistory& operator=(const UndoHistory&) = delete;

    // Formats the label printf-style, empties the redo list, snapshots scope and pushes the
    // entry on the undo list. Call before changing anything.
    void recordUndo(int32_t scope, const char* format, ...) __attribute__((format(printf, 3, 4)));

    // Records an entry whose snapshot was taken earlier, before an edit whose outcome was not
    // known yet (a dialog that may close without a change): the redo list is emptied and the
    // entry pushed, as recordUndo does. A null entry is ignored.
    void record(std::unique_ptr<FUndoBuffer> entry);

    // Pushes onto the undo / redo list; returns whether the list took the entry. A null or
    // invalid entry is refused. With depth 0 nothing is kept: pushUndo reports acceptance and
    // pushRedo refusal. A refused entry is deleted with deleteIfRefused, else left with the
    // caller. An accepted (or, at depth 0, swallowed) entry is moved from.
    bool pushUndo(std::unique_ptr<FUndoBuffer>& entry, bool deleteIfRefused);
    bool pushRedo(std::unique_ptr<FUndoBuffer>& entry, bool deleteIfRefused);

    // Undoes / redoes the n newest entries (fewer when the list is shorter). Of several
    // snapshots of one track only the oldest is restored, since it supersedes the others.
    // Every undone entry leaves one entry on the other list holding the state right after
    // its action, so that redoing part of the way lands on that state.
    void undo(int32_t n);
    void redo(int32_t n);
    // The main-bar buttons: undo / redo as many entries as the newest entry's actionCount and
    // give the newest entry of the other list that count.
    void undoStep();
    void redoStep();
    // Drops the newest undo entry without restoring it (an edit that changed nothing). The
    // redo list is kept.
    void discardNewest();
    // Deletes every entry of both lists.
    void clear();
    // Puts the entry's snapshot back into the project; false when it has none or the
    // snapshot cannot be read. Clips come back with the opened media of the clips they
    // replace (same file, same tracks), so a clip that was open opens nothing.
    bool restore(const FUndoBuffer& entry);

    int32_t depth() const { return m_depth; }
    // Fewer entries than already held are dropped oldest first.
    void setDepth(int32_t depth);
    int32_t undoCount() const { return int32_t(m_undo.size()); }
    int32_t redoCount() const { return int32_t(m_redo.size()); }
    // Newest entry of each list, or null.
    FUndoBuffer* undoNewest() const { return m_undo.empty() ? nullptr : m_undo.back().get(); }
    FUndoBuffer* redoNewest() const { return m_redo.empty() ? nullptr : m_redo.back().get(); }
    // Labels newest first, as the undo and redo drop-down lists show them.
    std::vector<std::string> undoLabels() const;
    std::vector<std::string> redoLabels() const;

    // The main bar's state, as last published to the project's views.
    const UndoButtonState& buttons() const { return m_buttons; }

    // Both lists, taken out and put back whole (a failed open keeps the history it had).
    struct Lists {
        std::deque<std::unique_ptr<FUndoBuffer>> undo, redo;
    };
    Lists takeAll();
    void putBack(Lists lists);

private:
    friend class UndoRedoChooser;
    using List = std::deque<std::unique_ptr<FUndoBuffer>>;
    bool push(List& list, std::unique_ptr<FUndoBuffer>& entry, bool deleteIfRefused,
              bool acceptAtDepthZero);
    void transfer(List& from, List& to, bool toRedo, int32_t n);
    void publish();
    // Reads the entry's snapshot into project, without the care restore() takes.
    static bool applySnapshot(FProject& project, const FUndoBuffer& entry);
    static std::vector<std::string> labels(const List& list);

    FProject& m_project;
    List m_undo; // oldest first
    List m_redo; // oldest first
    int32_t m_depth = kDefaultDepth;
    UndoButtonState m_buttons;
};

// What the undo and redo drop-down list does, without the window: it lists the labels newest
// at the top, selects the lines from the top down to the one under the pointer, says what a
// release will do, and does it. The GUI dialog shows lines() and caption() and forwards the
// pointer.
class UndoRedoChooser {
public:
    // undo chooses from the undo list, else from the redo list.
    UndoRedoChooser(UndoHistory& history, bool undo);

    const std::vector<std::string>& lines() const { return m_lines; }
    // The lines selected from the top: 1 on opening (when there is a line), 0 while the
    // pointer is outside the list.
    int32_t selectedCount() const { return m_selected; }
    // The pointer is over line `line` (0 = top), or outside the list for a negative value or
    // one past the last line.
    void hover(int32_t line);
    // "Undoes 3 action(s)" / "Redoes 1 action(s)", or "Cancel" while nothing is selected.
    std::string caption() const;
    // The mouse button was released: undoes or redoes the selected count (nothing for
    // Cancel). Returns that count.
    int32_t release();

private:
    UndoHistory& m_history;
    bool m_undo;
    std::vector<std::string> m_lines;
    int32_t m_selected;
};

} // namespace zef
