// The composition builder: turns the project into movies of the movie toolbox. The preview
// movie lives in memory and is brought up to date lazily (items whose built-track record is
// missing are built); a render movie is built from scratch for one render.
#pragma once

#include "engine/effect_tracks.h"
#include "model/project.h"
#include "platform/movies/movie.h"
#include "platform/movies/movie_from_file.h"

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>

namespace zef {

class ZEFSourceItem;
class ZEFTitlerEffect;

// The preview options of the application settings ("Preview Preferences").
struct PreviewPreferences {
    bool disableGraphicModesOnPreview = false;   // "DisableGraphicModesOnPreview"
    bool previewTransitionsAsCrossFades = false; // "PreviewTransitionsAsCrossFades"
    bool disableFiltersOnPreview = false;        // "DisableFiltersOnPreview"
    bool singleLayerPreview = false;             // "SingleLayerPreview" (read by the timeline)
};

// The preview window as the builder sees it.
class PreviewWindow {
public:
    virtual ~PreviewWindow() = default;
    // Whether the window shows the composition (not a single clip).
    virtual bool showingComposition() const { return true; }
    // Whether some window holds the mouse (a drag is in progress).
    virtual bool mouseCaptured() const { return false; }
    virtual void attachMovie(movies::Movie* /*movie*/) {}
    virtual void detachMovie() {}
    virtual void redraw() {}
};

class FMovieBuilder : public CompositionEngine {
public:
    static constexpr movies::TimeValue kBackgroundDuration = 21'600'000; // 10 hours
    static constexpr int64_t kUpdateInterval = 1000;                     // ms

    // clock: milliseconds, for the update throttle (a steady clock when none).
    FMovieBuilder(FProject& project, const movies::EffectRegistry& registry,
                  movies::ComponentManager* components = nullptr,
                  std::function<int64_t()> clock = {});
    ~FMovieBuilder() override;

    void setPreviewWindow(PreviewWindow* window) { m_window = window; }
    const PreviewPreferences& preferences() const { return m_prefs; }
    // Changes the options; the layers an option affects are rebuilt in the preview.
    void setPreferences(const PreviewPreferences& prefs);

    // The preview movie, made on first use (and attached to the preview window).
    movies::Movie& ensurePreviewMovie();
    movies::Movie* previewMovie() const { return m_preview.get(); }
    // Detaches and disposes the preview movie and drops every item's built tracks; with
    // reattach a fresh movie is made and attached.
    void resetPreview(bool reattach);
    // The lazy update: at most once a second, not during a drag. Returns whether the movie
    // changed (and the window was asked to redraw).
    bool update();
    // How many updates got past the throttle and built what was missing: after a pass every
    // item of an enabled track is in the preview movie again (a player copies it then).
    uint64_t updatePasses() const { return m_passes; }
    // Rebuilds the motion tween track of a layer of the preview movie after its keyframes
    // changed (the tracks that use it keep it).
    void rebuildMotion(int32_t layer);

    // A movie of the whole composition, for a render: made in memory, or built into an empty
    // movie the caller made (a movie file, which then receives the built samples).
    std::unique_ptr<movies::Movie> buildRenderMovie();
    void buildRenderMovie(movies::Movie& movie);

    // Building blocks, for the preview (movie null) or a render movie.
    void buildBaseTracks(movies::Movie& movie, bool isPreview);
    bool buildLayer(int32_t layer, movies::Movie* movie = nullptr);

    movies::Track* blackTrack() const { return find(m_black); }
    movies::Track* checkerboardTrack() const { return find(m_checkerboard); }
    movies::Track* motionTrack(int32_t layer) const;

    // CompositionEngine
    void releaseState() override;
    // Layers A-C get their motion tween track rebuilt; the titles, placed by the title track's
    // keyframes, are built again.
    void keyframesChanged(int32_t track) override;
    // A new output size: the preview is made again at that size (every layer is rebuilt).
    bool acceptOutputSize(int32_t width, int32_t height) override;

private:
    struct Slots {
        std::array<uint32_t, 5> motion{}; // track ids, layers A, B, C
    };
    BuildContext context(movies::Movie& movie, bool preview, const Slots& slots) const;
    movies::Track* find(uint32_t id) const;
    void fillMotion(movies::Track& track, int32_t layer);
    bool buildLayerInto(int32_t layer, movies::Movie& movie, bool preview, const Slots& slots);
    bool buildItem(const BuildContext& ctx, ZEFItem& item, movies::Track*& inOut);
    void buildSource(const BuildContext& ctx, ZEFSourceItem& item, movies::Track& video,
                     movies::Track*& sound, TrackRecord* record);
    bool buildTitles(const BuildContext& ctx);
    void buildTitle(const BuildContext& ctx, ZEFTitlerEffect& title, const TitleStyle& style);
    void releaseLayer(int32_t layer);

    FProject& m_project;
    const movies::EffectRegistry& m_registry;
    movies::ComponentManager* m_components;
    std::function<int64_t()> m_clock;
    PreviewWindow* m_window = nullptr;
    PreviewPreferences m_prefs;

    Slots m_previewSlots;
    Slots m_renderSlots; // of the render movie being built
    uint32_t m_black = 0, m_checkerboard = 0, m_placeholder = 0;
    std::shared_ptr<movies::Movie> m_preview;
    // Media files opened for clips, kept while the file on disk stays the same, so that
    // building items again (after an edit, an undo, a preference change) opens no file.
    struct OpenedMedia {
        std::shared_ptr<movies::MediaFile> file;
        int64_t size = 0, modified = 0; // bytes; nanoseconds
        uint64_t inode = 0, device = 0;
    };
    std::map<std::string, OpenedMedia> m_media;
    movies::MovieFromFileResult openSource(const std::string& path);
    int64_t m_lastUpdate = 0;
    uint64_t m_passes = 0;
    bool m_updatedOnce = false;
    bool m_blackOn = false;
    bool m_motionChanged = false; // a motion track was rebuilt since the last redraw
    int32_t m_previewWidth = 0, m_previewHeight = 0; // the size the preview was built at
};

} // namespace zef
