// The project: five tracks of items with their keyframes, the composition settings, the
// render range and capture defaults, and the links to the views and the engine, which it
// notifies of every change.
//
// Not thread-safe: the project is edited on one thread. It owns its tracks (which own the
// items) and its edit-rate context, which it installs process-wide for its lifetime when no
// other context is installed (see EditRateContext).
#pragma once

#include "model/device.h"
#include "model/edit_time.h"
#include "model/effect_lookup.h"
#include "model/project_links.h"
#include "model/project_template.h"
#include "model/undo.h"
#include "model/user_interface.h"

#include <array>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace zef {

class ZEFItem;
class ZEFEffectItem;
class ZEFSourceItem;
class ClipOpener;
class ClipMediaPool;
class MediaClipOpener;
class TemplateList;

namespace storage {
class Stream;
}

class FProject {
public:
    explicit FProject(ProjectSettings* settings = nullptr);
    ~FProject();
    FProject(const FProject&) = delete;
    FProject& operator=(const FProject&) = delete;

    static constexpr int32_t kFormatMagic = 2;
    static constexpr int32_t kFormatVersion = 9;
    static const char* trackName(int32_t track);     // "Layer A : Main Composite", ...
    static const char* trackMenuName(int32_t track); // "Layer A", ..., "Gallery (X)"

    // Links. The project does not own them; each must outlive its registration.
    void addObserver(ProjectObserver* observer);
    void removeObserver(ProjectObserver* observer);
    void setEngine(CompositionEngine* engine) { m_engine = engine; }
    CompositionEngine* engine() const { return m_engine; }
    void setEffectCatalogue(const EffectLookup* catalogue) { m_catalogue = catalogue; }
    const EffectLookup* effectCatalogue() const { return m_catalogue; }
    void setSettings(ProjectSettings* settings) { m_settings = settings; }
    ProjectSettings* settings() const { return m_settings; }
    // The clip opener; by default the project's own MediaClipOpener (the movie toolbox, no
    // media-graph readers). Null restores that default.
    void setClipOpener(ClipOpener* opener);
    ClipOpener* clipOpener() const { return m_opener; }
    // Questions, messages and file dialogs. Without one, document operations behave as if
    // every question were cancelled, and a clip that cannot be opened is kept invalid.
    void setUserInterface(UserInterface* ui) { m_ui = ui; }
    UserInterface* userInterface() const { return m_ui; }
    // The template list that an opened project's template joins.
    void setTemplateList(TemplateList* templates) { m_templates = templates; }
    TemplateList* templateList() const { return m_templates; }
    EditRateContext& rateContext() { return m_rate; }

    // Tracks.
    FDevice& device(int32_t track);
    const FDevice& device(int32_t track) const;
    static bool validTrack(int32_t track) { return track >= 0 && track < 5; }

    // Item placement.
    // Appends the item to the track named by its own track field (the item must have been
    // made for this project). With replaceSameFile a clip of that track with exactly the same
    // path is taken out first and handed to *replaced (destroyed when replaced is null).
    // With placeAtEnd the item is moved to the former end of the track.
    int32_t addItem(std::unique_ptr<ZEFItem> item, bool replaceSameFile, bool placeAtEnd,
                    std::unique_ptr<ZEFItem>* replaced = nullptr);
    // With refreshPreview, the preview is refreshed as well.
    bool removeItemAt(int32_t track, int32_t index, bool ripple, bool refreshPreview = false);
    void clearTrack(int32_t track);
    int32_t indexOf(const ZEFItem* item) const;
    ZEFItem* previousItem(const ZEFItem* item) const;
    ZEFItem* nextItem(const ZEFItem* item) const;
    int32_t moveItem(int32_t fromTrack, int32_t fromIndex, int32_t toTrack, int32_t toIndex,
                     bool copy);
    int32_t reorderItem(int32_t track, int32_t fromIndex, int32_t toIndex, bool copy);

    // Queries.
    int32_t itemIndexAt(int32_t track, const EditTime& t) const;
    ZEFItem* itemAt(int32_t track, const EditTime& t) const;
    int32_t firstEndingAfter(int32_t track, const EditTime& t) const;
    std::optional<std::pair<ZEFItem*, ZEFItem*>> transitionAt(const EditTime& t) const;
    EditTime nextEditPoint(const EditTime& t, int32_t lastTrack) const;
    EditTime previousEditPoint(const EditTime& t, int32_t lastTrack) const;
    // The end of the track's last item (0 when empty); for track -1 the project end.
    EditTime trackEnd(int32_t track) const;
    EditTime projectEnd() const;

    // Changes and notifications.
    void itemChanged(ZEFItem* item, bool reoffsetOnly, bool refreshList);
    void trackChanged(int32_t track);
    // trackChanged for a track whose keyframes changed; the engine rebuilds its motion.
    void keyframesChanged(int32_t track);
    void releaseComposition(int32_t track);
    void updateRenderEnd();
    // The render range as the user sets it; with endFollowsProject off the end stays where it
    // is when the project grows or shrinks. The ruler's range marks are redrawn.
    void setRenderRange(const EditTime& start, const EditTime& end, bool endFollowsProject);
    void setTrackEnabled(int32_t track, bool on);
    void setEditFrameRate(movies::Fixed rate);
    void applyOutputSize();
    void refitClips();
    void selectItem(ZEFItem* item, bool showTransition);
    void previewItem(ZEFItem* item);
    std::string windowTitle() const;
    // The project file: filePath followed by its extension (".ZEF" unless the file was opened
    // or saved under another case of it).
    std::string fileName() const { return filePath + m_fileExtension; }
    // Whether the project has no file yet (its path is "untitled" in any case).
    bool untitled() const;
    // Gives the project another file name (a complete name with extension; empty: untitled)
    // without reading or writing anything, and shows the new title. Used when a project is
    // read from a copy (a recovery file, a backup) but belongs to its original file.
    void assumeFileName(const std::string& fileName);
    // For items: position the preview.
    void previewSeek(const EditTime& t);
    void previewShowComposition();
    void previewShowClip(ZEFSourceItem* item);
    std::optional<EditTime> previewPosition() const;
    // A failure message in a box titled "Error" with the exclamation icon (through the views
    // when there is no user interface).
    void showError(const std::string& message);

    // Document life.
    // Clears the undo history, the engine and all tracks; filePath becomes "untitled" (with
    // the default extension).
    void reset(bool keepViews);
    void newProject();

    // The project stream ("Header" of a project file; also the whole-project undo snapshot).
    // writeProject writes it at the stream's position; 0 or -1 when the stream fails.
    int writeProject(storage::Stream& out) const;
    // Reads a project stream over the current project (each track is emptied before its
    // record is read). Returns 0, or -1 for a wrong magic or separator, malformed data or an
    // unusable frame rate; after -1 the project is partly loaded (callers that must keep it
    // whole take a snapshot first, as openProject and undo do). Items that break the neighbour
    // rules are kept as stored.
    int readProject(storage::Stream& in);
    // Saves to fileName() (asking for a name when untitled or with saveAs). Returns 1 saved;
    // 0 not saved (nothing to save, No, dialog cancelled, not a project file name, or the
    // file could not be written, in which case an existing file is left as it was); -1 when
    // Cancel was pressed at the question.
    int saveProject(bool saveAs, bool onlyIfModified, bool askFirst);
    // Opens path + ".ZEF" (or, when that does not exist, path + ".zef"); an empty path asks
    // with the open dialog. Returns 1 loaded, 0 dialog cancelled, -1 when the file cannot be
    // opened or read; on -1 the project, its undo history and its file name stay as they were.
    int openProject(const std::string& path);
    // Opens the file of that complete name as openProject does; 1 or -1.
    int openProjectFile(const std::string& fileName);
    static constexpr const char* kProjectFilterText = "ZEF Project Files (*.ZEF)";
    static constexpr const char* kProjectFilterPattern = "*.ZEF";
    static constexpr const char* kProjectExtension = "ZEF";
    static constexpr int32_t kSeparator = 0x55555555;

    // Undo and redo.
    UndoHistory& undoHistory() { return *m_undo; }
    const UndoHistory& undoHistory() const { return *m_undo; }

    // While one lives, clips being read open their media without questions or path
    // substitution; a clip that cannot be opened stays invalid. Used when restoring snapshots.
    class QuietMediaOpen {
    public:
        explicit QuietMediaOpen(FProject& project) : m_project(project) { ++project.m_quietOpen; }
        ~QuietMediaOpen() { --m_project.m_quietOpen; }
        QuietMediaOpen(const QuietMediaOpen&) = delete;
        QuietMediaOpen& operator=(const QuietMediaOpen&) = delete;

    private:
        FProject& m_project;
    };
    bool quietMediaOpen() const { return m_quietOpen > 0; }

    // While one lives, the clips that a track lets go of when it is read again (a snapshot
    // being restored) leave their opened media in a pool, and clips being read take the media
    // of their file from there instead of opening it again (see ClipMediaPool). The clips of
    // the given track, or of every track for -1, leave theirs at once, so that a clip read
    // into one track finds the media of a clip that was on another. What is left is closed
    // when it ends.
    class ReuseClipMedia {
    public:
        ReuseClipMedia(FProject& project, int32_t track);
        ~ReuseClipMedia();
        ReuseClipMedia(const ReuseClipMedia&) = delete;
        ReuseClipMedia& operator=(const ReuseClipMedia&) = delete;

    private:
        FProject& m_project;
        std::unique_ptr<ClipMediaPool> m_pool; // null inside another one, whose pool serves
    };
    ClipMediaPool* clipMediaPool() const { return m_mediaPool; }

    // Keyframes.
    movies::MatrixRecord matrixAt(int32_t track, const EditTime& t, bool* exact = nullptr) const;
    int32_t insertKeyframe(int32_t track, const EditTime& t, const movies::MatrixRecord& m,
                           bool insertBeforeEqual);
    bool deleteKeyframeAt(int32_t track, const EditTime& t);
    // Removes keyframe index and inserts its matrix at t, replacing a keyframe that stands at
    // t, or with beforeEqual putting the moved one before it (both stay). Returns its new
    // index, or -1 for an index outside the track's keyframes.
    int32_t moveKeyframe(int32_t track, int32_t index, const EditTime& t, bool beforeEqual = false);
    std::optional<EditTime> previousKeyframe(int32_t track, const EditTime& t) const;
    std::optional<EditTime> nextKeyframe(int32_t track, const EditTime& t) const;
    bool hasKeyframeAt(int32_t track, const EditTime& t) const;

    // Checks the invariants of every track; returns an empty text when they hold, else a
    // description of the first violation. Without neighbourRules only the structure is checked
    // (placement, ownership, keyframe order), not the items' times, which a file may break.
    std::string checkConsistency(bool neighbourRules = true) const;

    // Fields.
    std::vector<std::string> oldPrefixes, newPrefixes;
    std::array<bool, 3> previewFlags{};
    bool renderEndFollowsProject = true;
    int32_t captureRate = 11, captureTime = 10, captureMode = 0;
    std::string captureFileName;
    EditTime renderStart, renderEnd;
    int32_t formatMagic = kFormatMagic;
    int32_t formatVersion = kFormatVersion;
    EditTime defaultDuration = EditTime(1200);
    std::string filePath = "Untitled";
    bool modified = false;
    // Set while a render converts the project, so other parts can tell.
    bool rendering = false;
    // The effect whose parameter dialog is open (plug-ins read and write its parameters
    // through the program's exports); null when none is. Cleared when that item goes.
    ZEFEffectItem* editedEffect = nullptr;
    // Where the decks are; read from and written to project files.
    PanelLayout panels{};

    // The composition settings. Its frame rate is the edit rate every EditTime of rate 0
    // follows; change it through setEditFrameRate or setComposition so that both agree.
    const CProjectTemplate& composition() const { return m_composition; }
    void setComposition(const CProjectTemplate& composition);

private:
    friend class UndoHistory;
    template <class F> void notify(F&& f)
    {
        for (ProjectObserver* o : m_observers)
            f(*o);
    }
    void loadDefaults();
    void checkTrack(int32_t track) const;
    UserInterface& ui();
    int readProjectBody(storage::Stream& in);

    ProjectSettings* m_settings;
    CompositionEngine* m_engine = nullptr;
    const EffectLookup* m_catalogue = nullptr;
    std::unique_ptr<MediaClipOpener> m_defaultOpener;
    ClipOpener* m_opener = nullptr;
    UserInterface* m_ui = nullptr;
    TemplateList* m_templates = nullptr;
    HeadlessUserInterface m_noUserInterface;
    std::string m_fileExtension = ".ZEF";
    int m_quietOpen = 0;
    ClipMediaPool* m_mediaPool = nullptr;
    std::vector<ProjectObserver*> m_observers;
    EditRateContext m_rate;
    CProjectTemplate m_composition;
    std::array<std::unique_ptr<FDevice>, 5> m_tracks;
    std::unique_ptr<UndoHistory> m_undo;
};

} // namespace zef
