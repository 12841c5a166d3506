// The Preview Deck (DPreview): the resizable deck that shows and plays the project composition,
// a single clip, or (with capturing) the capture source. It is the preview player the VCR Deck
// drives: play, pause, stop, steps, seeks and scrubs, signed rates, looping and full-screen
// playback, and it tells the current time, the loaded clip and whether it plays.
//
// The composition. The composition engine keeps the preview movie up to date lazily (at most
// once a second, never during a drag) and the deck is its preview window. The deck plays a
// snapshot of that movie (Movie::snapshot), drawn at about the size it is shown, so that edits
// never touch what the player's threads read; after an engine pass that changed the movie the
// deck takes a new snapshot and goes on from where it stood, playing or not.
//
// A clip. The clip's file is opened as a movie of its own with the clip's choice of tracks and
// its volume; its times are source times, and the play range is the whole file.
//
// The picture and the gestures on it (placing and cropping) are CPreviewWindow's.
//
// GUI thread only. The project, and the engine once attached, must outlive the deck.
#pragma once

#include "engine/movie_builder.h"
#include "model/edit_time.h"
#include "model/project_links.h"
#include "platform/movies/movie.h"
#include "ui/controls/gui_dialog.h"
#include "ui/preview/preview_player.h"

#include <QImage>
#include <QTimer>

#include <array>
#include <functional>
#include <memory>

namespace zef {
class FProject;
class ZEFSourceItem;
namespace movies {
class ComponentManager;
}
} // namespace zef

namespace zef::ui {

class CPreviewWindow;
class CFullScreenView;

class DPreview : public CGUIDialogWithCaption, public PreviewWindow, public ProjectObserver {
    Q_OBJECT
public:
    enum class Source { Composition, Clip, Capture };

    // What the deck needs of the rest of the editor.
    struct Services {
        movies::ComponentManager* components = nullptr;
        // The Clip Deck's current track, and making a track current (a layer picked on the
        // picture).
        std::function<int32_t()> currentTrack;
        std::function<void(int32_t)> setCurrentTrack;
    };

    explicit DPreview(FProject& project, QWidget* parent = nullptr);
    ~DPreview() override;
    static QSize defaultSize() { return {560, 420}; }

    // Becomes the engine's preview window and shows its composition.
    void attach(FMovieBuilder& builder, Services services);
    FProject& project() const { return m_project; }
    CPreviewPlayer& player() { return m_player; }
    CPreviewWindow& window() const { return *m_window; }

    // What is shown.
    Source source() const { return m_source; }
    ZEFSourceItem* currentClip() const { return m_source == Source::Clip ? m_clip : nullptr; }
    bool showsComposition() const { return m_source == Source::Composition; }
    void showComposition();
    void showClip(ZEFSourceItem* clip);
    // Capture preview: the capture source's picture of that size comes from the capturing
    // side (setCapturePicture); drags set the capture crop.
    void showCapture(const QSize& frameSize);
    void setCapturePicture(const QImage& picture);
    const std::array<movies::Fixed, 4>& captureCrop() const { return m_captureCrop; }
    void setCaptureCrop(const std::array<movies::Fixed, 4>& crop);
    // A picture from outside the player (a tape deck's output while the VCR Deck drives the
    // deck) shown instead of the player's; a null image gives the player's picture back.
    void setOutsidePicture(const QImage& picture);
    const QImage& outsidePicture() const { return m_outsidePicture; }
    // The capture device's newest picture while the deck shows the capture (else null).
    const QImage& capturePicture() const { return m_capturePicture; }
    // Plays a movie that belongs to nobody else, as the composition is played (benchmarks and
    // tests of the player inside the windows).
    void showMovie(std::shared_ptr<const movies::Movie> movie, movies::TimeValue frameDuration);

    // The transport, in the time of what is shown (timeline time for the composition, source
    // time for a clip, at the clip's rate).
    EditTime currentTime() const;
    EditTime endTime() const;
    bool isPlaying() const { return m_player.isPlaying(); }
    void play();
    void pause();
    // Ends play and rewinds to 0 (the picture at 0 is shown).
    void stop();
    void goToStart();
    void goToEnd();
    // n frames of the shown material's rate from the current frame (pauses).
    void step(int n);
    // With scrubbing (a position that is still being dragged) a quick picture comes first.
    void seek(const EditTime& t, bool scrubbing = false);
    // A signed factor of normal speed: 0 pauses, anything else plays at that rate.
    void setRate(double rate);
    // Back to normal speed for the next play, without playing.
    void resetRate();
    bool looping() const { return m_looping; }
    void setLooping(bool loop);
    bool fullScreen() const { return m_fullScreen; }
    void setFullScreen(bool on);
    CFullScreenView* fullScreenView() const { return m_fullView.get(); }

    // The track whose placement the picture shows and edits, and whether the picture may be
    // placed or cropped at all (something with a picture is shown).
    int32_t currentTrack() const;
    void setCurrentTrack(int32_t track);
    bool allowsPlacement() const;
    // The frame size picture units are counted in (the project's output size).
    QSize frameSize() const;

    // Stores a rectangle dragged on the picture (r and picture in window pixels): the capture
    // crop, the loaded clip's crop or layout, or a keyframe of the current track at the
    // current time; each edit of the project with its undo entry.
    void applyPlacement(const QRect& r, const QRect& picture);
    // Placement resets ("Default to Movie Aspect Ratio", "Stretch to Project Size").
    void defaultToMovieAspect();
    void stretchToProjectSize();

    // Idle processing, after the engine's lazy update: a new snapshot when the preview movie
    // changed, the play range when the project end moved.
    void idle();
    // Snapshots taken so far (tests).
    int64_t snapshots() const { return m_snapshots; }

    // PreviewWindow
    bool showingComposition() const override { return showsComposition(); }
    bool mouseCaptured() const override;
    void attachMovie(movies::Movie* movie) override;
    void detachMovie() override;
    void redraw() override;

    // ProjectObserver
    void previewShowComposition() override { showComposition(); }
    void previewShowClip(ZEFSourceItem* item) override { showClip(item); }
    void closeDecksShowing(ZEFItem* item) override;
    void closePreview() override;
    void refreshPreview() override;

signals:
    // The shown material changed (composition, another clip, capture).
    void sourceChanged();
    // Play started or stopped.
    void playingChanged(bool playing);
    // The picture shown changed (its time).
    void pictureShown(movies::TimeValue t);
    // A drag or a reset changed the capture crop.
    void captureCropChanged();

protected:
    void resizeEvent(QResizeEvent*) override;

private:
    void takeSnapshot();
    void playClip();
    void setSource(Source source, ZEFSourceItem* clip);
    void updatePlayRange();
    movies::TimeValue compositionFrameDuration() const;
    // The size the movie is drawn at: the picture's size on the screen, never above its own.
    movies::Rect drawBox(const movies::Movie& movie) const;
    void playbackStopped();
    void printFigures();
    // Where the player goes for a time of what is shown.
    movies::TimeValue playerTime(const EditTime& t) const;
    void ensureServices();

    FProject& m_project;
    FMovieBuilder* m_builder = nullptr;
    Services m_services;
    CPreviewPlayer m_player;
    CPreviewWindow* m_window = nullptr;
    std::unique_ptr<CFullScreenView> m_fullView;

    Source m_source = Source::Composition;
    ZEFSourceItem* m_clip = nullptr;
    std::shared_ptr<movies::Movie> m_clipMovie;      // the clip's own movie (snapshots are played)
    std::array<int32_t, 3> m_clipSettings{};         // its video and audio track and volume
    std::shared_ptr<const movies::Movie> m_ownMovie; // showMovie
    movies::TimeValue m_ownFrameDuration = 0;
    movies::Movie* m_live = nullptr; // the engine's preview movie
    uint64_t m_snapshotChanges = ~uint64_t(0);
    uint64_t m_seenPasses = ~uint64_t(0);
    bool m_snapshotWanted = false;
    movies::TimeValue m_compositionTime = 0; // where the composition was left for a clip
    movies::TimeValue m_rangeEnd = -1;
    int64_t m_snapshots = 0;
    QSize m_captureSize;
    std::array<movies::Fixed, 4> m_captureCrop{0, 0, 0x10000, 0x10000};
    QImage m_outsidePicture;
    QImage m_capturePicture;
    bool m_looping = false;
    bool m_fullScreen = false;
    bool m_wasPlaying = false;
    bool m_servicesSet = false;
    QTimer m_resized; // the drawing size follows the window once it rests
};

} // namespace zef::ui
