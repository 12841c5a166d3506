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
#include "model/effect_catalogue.h"
#include "model/project_links.h"
#include "model/project_template.h"

#include <array>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace zef {

class ZEFItem;
class ZEFSourceItem;
class ClipOpener;

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
    void setEffectCatalogue(const EffectCatalogue* catalogue) { m_catalogue = catalogue; }
    const EffectCatalogue* effectCatalogue() const { return m_catalogue; }
    void setSettings(ProjectSettings* settings) { m_settings = settings; }
    void setClipOpener(ClipOpener* opener) { m_opener = opener; }
    ClipOpener* clipOpener() const { return m_opener; }
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
    void releaseComposition(int32_t track);
    void updateRenderEnd();
    void setTrackEnabled(int32_t track, bool on);
    void setEditFrameRate(movies::Fixed rate);
    void applyOutputSize();
    void refitClips();
    void selectItem(ZEFItem* item, bool showTransition);
    void previewItem(ZEFItem* item);
    std::string windowTitle() const;
    // For items: position the preview.
    void previewSeek(const EditTime& t);
    void previewShowComposition();
    void previewShowClip(ZEFSourceItem* item);
    std::optional<EditTime> previewPosition() const;
    void showError(const std::string& message);

    // Document life.
    void reset(bool keepViews);
    void newProject();

    // Keyframes.
    movies::MatrixRecord matrixAt(int32_t track, const EditTime& t, bool* exact = nullptr) const;
    int32_t insertKeyframe(int32_t track, const EditTime& t, const movies::MatrixRecord& m,
                           bool insertBeforeEqual);
    bool deleteKeyframeAt(int32_t track, const EditTime& t);
    void moveKeyframe(int32_t track, int32_t index, const EditTime& t);
    std::optional<EditTime> previousKeyframe(int32_t track, const EditTime& t) const;
    std::optional<EditTime> nextKeyframe(int32_t track, const EditTime& t) const;
    bool hasKeyframeAt(int32_t track, const EditTime& t) const;

    // Checks the invariants of every track; returns an empty text when they hold, else a
    // description of the first violation.
    std::string checkConsistency() const;

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

    // The composition settings. Its frame rate is the edit rate every EditTime of rate 0
    // follows; change it through setEditFrameRate or setComposition so that both agree.
    const CProjectTemplate& composition() const { return m_composition; }
    void setComposition(const CProjectTemplate& composition);

private:
    template <class F> void notify(F&& f)
    {
        for (ProjectObserver* o : m_observers)
            f(*o);
    }
    void loadDefaults();
    void checkTrack(int32_t track) const;

    ProjectSettings* m_settings;
    CompositionEngine* m_engine = nullptr;
    const EffectCatalogue* m_catalogue = nullptr;
    ClipOpener* m_opener = nullptr;
    std::vector<ProjectObserver*> m_observers;
    EditRateContext m_rate;
    CProjectTemplate m_composition;
    std::array<std::unique_ptr<FDevice>, 5> m_tracks;
};

} // namespace zef
