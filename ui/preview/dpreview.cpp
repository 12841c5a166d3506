#include "ui/preview/dpreview.h"

#include "model/device.h"
#include "model/project.h"
#include "model/source_item.h"
#include "platform/movies/movie_from_file.h"
#include "platform/movies/text/font_library.h"
#include "platform/movies/text/text_renderer.h"
#include "ui/preview/placement.h"
#include "ui/preview/preview_window.h"

#include <QApplication>
#include <QScreen>
#include <QVBoxLayout>
#include <QWindow>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace zef::ui {

using movies::TimeValue;
using namespace placement;

namespace {

constexpr int32_t kCroppingMode = 1;
constexpr int kResizeSettle = 250; // ms a resized window rests before the drawing size follows

// The clip's choice of tracks and its volume on its own movie: exactly the chosen visual and
// audible track enabled, the movie's volume trunc((v / 256)² × 256).
void applyClipSettings(movies::Movie& movie, const ZEFSourceItem& clip)
{
    int visual = 0, audible = 0;
    for (const auto& t : movie.tracks()) {
        if (!t->media()) continue;
        const movies::OSType type = t->media()->type();
        if (type == movies::VideoMediaType)
            t->setEnabled(visual++ == clip.videoTrackIndex());
        else if (type == movies::SoundMediaType)
            t->setEnabled(audible++ == clip.audioTrackIndex());
    }
    const double v = clip.volume() / 256.0;
    movie.setVolume(int16_t(std::clamp(std::trunc(v * v * 256.0), 0.0, 32767.0)));
}

} // namespace

DPreview::DPreview(FProject& project, QWidget* parent)
    : CGUIDialogWithCaption(QStringLiteral("Preview Deck"), true, parent), m_project(project)
{
    setObjectName(QStringLiteral("PreviewDeck"));
    resize(defaultSize());
    m_window = new CPreviewWindow(*this, this);
    auto* layout = new QVBoxLayout(this); // fills the client area (the deck's margins)
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_window);
    m_fullView = std::make_unique<CFullScreenView>(*this);
    connect(m_fullView.get(), &CFullScreenView::dismissed, this, [this] { pause(); });
    connect(&m_player, &CPreviewPlayer::frameChanged, this, [this] {
        m_window->update();
        if (m_fullView->isVisible()) m_fullView->update();
        emit pictureShown(m_player.frame().time);
    });
    connect(&m_player, &CPreviewPlayer::ended, this, [this] { playbackStopped(); });
    m_resized.setSingleShot(true);
    m_resized.setInterval(kResizeSettle);
    connect(&m_resized, &QTimer::timeout, this, [this] {
        if (m_source == Source::Composition) {
            if (m_live && m_player.hasMovie()) takeSnapshot();
        } else if (m_source == Source::Clip && m_clipMovie) {
            playClip();
        }
    });
    m_project.addObserver(this);
}

DPreview::~DPreview()
{
    m_project.removeObserver(this);
    if (m_builder) m_builder->setPreviewWindow(nullptr);
}

void DPreview::attach(FMovieBuilder& builder, Services services)
{
    m_services = std::move(services);
    m_servicesSet = false;
    ensureServices();
    m_builder = &builder;
    builder.setPreviewWindow(this);
    builder.ensurePreviewMovie();
    m_live = builder.previewMovie();
    m_snapshotWanted = true;
}

void DPreview::ensureServices()
{
    if (m_servicesSet) return;
    m_servicesSet = true;
    // One text renderer (and font list) for every player the deck makes.
    m_player.setServices(m_services.components, std::make_shared<movies::TextRenderer>(
                                                    std::make_shared<movies::FontLibrary>()));
}

// ---- what is shown

void DPreview::setSource(Source source, ZEFSourceItem* clip)
{
    if (m_source == Source::Composition && source != Source::Composition)
        m_compositionTime = m_player.currentTime();
    if (source != Source::Capture) m_capturePicture = QImage();
    m_source = source;
    m_clip = clip;
    m_window->dropLayer();
    emit sourceChanged();
}

void DPreview::showComposition()
{
    if (m_source == Source::Composition && !m_ownMovie) return;
    const bool fromElsewhere = m_source != Source::Composition;
    m_ownMovie.reset();
    m_clipMovie.reset();
    m_player.clear();
    m_player.setPlayRange(0, 0);
    m_rangeEnd = -1;
    setSource(Source::Composition, nullptr);
    if (fromElsewhere) m_player.seek(m_compositionTime);
    if (m_live) takeSnapshot();
}

void DPreview::showClip(ZEFSourceItem* clip)
{
    if (!clip) {
        showComposition();
        return;
    }
    if (m_source == Source::Clip && m_clip == clip) return;
    movies::MovieFromFileResult opened = movies::openMovieFromFile(clip->path(), 600);
    m_player.clear();
    m_ownMovie.reset();
    m_clipMovie = opened.movie ? std::shared_ptr<movies::Movie>(std::move(opened.movie)) : nullptr;
    if (m_clipMovie) applyClipSettings(*m_clipMovie, *clip);
    m_clipSettings = {clip->videoTrackIndex(), clip->audioTrackIndex(), clip->volume()};
    setSource(Source::Clip, clip);
    m_player.setPlayRange(0, 0);
    m_player.seek(playerTime(clip->sourceIn()));
    if (m_clipMovie) playClip();
}

void DPreview::playClip()
{
    if (!m_clipMovie) return;
    ensureServices();
    std::shared_ptr<movies::Movie> snap = m_clipMovie->snapshot();
    snap->setBox(drawBox(*snap));
    const TimeValue t = m_player.currentTime();
    const bool playing = m_player.isPlaying();
    m_player.setMovie(std::move(snap), 0, t, playing);
    ++m_snapshots;
}

void DPreview::showCapture(const QSize& frameSize)
{
    m_player.clear();
    m_clipMovie.reset();
    m_ownMovie.reset();
    m_captureSize = frameSize;
    setSource(Source::Capture, nullptr);
}

void DPreview::setCapturePicture(const QImage& picture)
{
    if (m_source != Source::Capture) return;
    m_capturePicture = picture;
    m_window->update();
}

void DPreview::setOutsidePicture(const QImage& picture)
{
    m_outsidePicture = picture;
    m_window->update();
}

void DPreview::setCaptureCrop(const std::array<movies::Fixed, 4>& crop)
{
    m_captureCrop = crop;
    m_window->update();
}

void DPreview::showMovie(std::shared_ptr<const movies::Movie> movie, TimeValue frameDuration)
{
    m_player.clear();
    m_clipMovie.reset();
    setSource(Source::Composition, nullptr);
    m_ownMovie = std::move(movie);
    m_ownFrameDuration = frameDuration;
    if (!m_ownMovie) return;
    ensureServices();
    std::shared_ptr<movies::Movie> snap = m_ownMovie->snapshot();
    snap->setBox(drawBox(*snap));
    m_player.setPlayRange(0, 0);
    m_player.setMovie(std::move(snap), frameDuration, 0, false);
    ++m_snapshots;
}

movies::Rect DPreview::drawBox(const movies::Movie& movie) const
{
    const movies::Rect natural = movie.naturalBounds();
    if (natural.isEmpty()) return natural;
    QSize shown = m_fullView->isVisible() ? m_fullView->size() : m_window->imageRect().size();
    const qreal ratio = devicePixelRatioF();
    shown = QSize(int(std::ceil(shown.width() * ratio)), int(std::ceil(shown.height() * ratio)));
    if (shown.isEmpty() || shown.width() >= natural.width() || shown.height() >= natural.height())
        return movies::Rect{0, 0, natural.width(), natural.height()};
    const QSize s = QSize(natural.width(), natural.height()).scaled(shown, Qt::KeepAspectRatio);
    return movies::Rect{0, 0, std::max(1, s.width()), std::max(1, s.height())};
}

TimeValue DPreview::compositionFrameDuration() const
{
    const int32_t fps = std::max(1, EditRateContext::wholeRate(m_project.composition().frameRate));
    return std::max<TimeValue>(1, (600 + fps / 2) / fps);
}

void DPreview::takeSnapshot()
{
    if (!m_live) return;
    std::shared_ptr<movies::Movie> snap = m_live->snapshot();
    snap->setBox(drawBox(*snap));
    m_snapshotChanges = m_live->changeCount();
    m_snapshotWanted = false;
    const TimeValue t = m_player.currentTime();
    const bool playing = m_player.isPlaying();
    updatePlayRange();
    m_player.setMovie(std::move(snap), compositionFrameDuration(), t, playing);
    ++m_snapshots;
}

void DPreview::updatePlayRange()
{
    if (m_source != Source::Composition || m_ownMovie) return;
    const TimeValue end = m_project.projectEnd().ticks();
    if (end == m_rangeEnd) return;
    m_rangeEnd = end;
    // An empty project has nothing to play; the player's range then stays as it was.
    if (end > 0) m_player.setPlayRange(0, end);
}

void DPreview::idle()
{
    if (!m_builder || m_source != Source::Composition || m_ownMovie) return;
    if (!m_builder->previewMovie()) m_builder->ensurePreviewMovie(); // after a reset
    if (mouseCaptured()) return; // a drag in progress: nothing changes under it
    const bool passed = m_builder->updatePasses() != m_seenPasses;
    m_seenPasses = m_builder->updatePasses();
    if (m_live && (passed || m_snapshotWanted) &&
        (m_snapshotWanted || !m_player.hasMovie() || m_live->changeCount() != m_snapshotChanges))
        takeSnapshot();
    updatePlayRange();
}

// ---- transport

EditTime DPreview::currentTime() const
{
    const TimeValue t = m_player.currentTime();
    if (ZEFSourceItem* clip = currentClip())
        return EditTime::raw(t, clip->mediaRateNum(), clip->mediaRateDen());
    return EditTime::raw(t);
}

EditTime DPreview::endTime() const
{
    switch (m_source) {
    case Source::Composition:
        if (m_ownMovie) return EditTime::raw(m_ownMovie->duration());
        return m_project.projectEnd();
    case Source::Clip:
        if (!m_clip) return EditTime();
        return EditTime::raw(m_clipMovie ? m_clipMovie->duration()
                                         : m_clip->mediaDuration().ticks(),
                             m_clip->mediaRateNum(), m_clip->mediaRateDen());
    case Source::Capture:
        break;
    }
    return EditTime();
}

void DPreview::play()
{
    if (m_player.isPlaying()) return;
    if (m_source == Source::Composition && !m_ownMovie) {
        // After a reset the engine makes its movie again at its next pass; play needs it now.
        if (!m_live && m_builder) m_builder->ensurePreviewMovie();
        if (!m_player.hasMovie() && m_live) takeSnapshot();
        updatePlayRange();
        if (m_rangeEnd <= 0) return;
    }
    if (!m_player.hasMovie()) return;
    if (m_fullScreen && !m_fullView->isVisible()) {
        QScreen* screen = windowHandle() ? windowHandle()->screen() : QApplication::primaryScreen();
        if (screen) m_fullView->setGeometry(screen->geometry());
        m_fullView->showFullScreen();
        m_fullView->raise();
        m_fullView->activateWindow();
        // Drawn at the screen's size.
        if (m_source == Source::Clip)
            playClip();
        else if (m_live && !m_ownMovie)
            takeSnapshot();
    }
    m_player.resetFigures(); // figures of this run of play
    m_player.play();
    m_wasPlaying = true;
    emit playingChanged(true);
}

void DPreview::pause()
{
    m_player.pause();
    playbackStopped();
}

void DPreview::stop()
{
    m_player.stop();
    m_player.seek(0);
    playbackStopped();
}

void DPreview::playbackStopped()
{
    if (m_fullView->isVisible()) {
        m_fullView->hide();
        m_resized.start(); // back to the window's size
    }
    if (m_wasPlaying && !m_player.isPlaying()) {
        m_wasPlaying = false;
        if (qEnvironmentVariableIsSet("ZEF_PREVIEW_STATS")) printFigures();
        emit playingChanged(false);
    }
}

void DPreview::printFigures()
{
    // One line on the standard error per run of play, for diagnosing playback on a machine.
    const CPreviewPlayer::Figures f = m_player.figures();
    std::fprintf(stderr,
                 "preview: stopped at %.3f s; painted %lld, dropped %lld, replaced %lld; "
                 "sound-to-picture offset max %.1f ms, mean %.1f ms; sound %s\n",
                 double(m_player.currentTime()) / 600.0, (long long)f.painted, (long long)f.dropped,
                 (long long)f.replaced, f.offsetMaxMs,
                 f.painted ? f.offsetSumMs / double(f.painted) : 0.0,
                 m_player.hasSoundDevice() ? m_player.soundDeviceName().toUtf8().constData()
                                           : "steady clock");
}

void DPreview::goToStart() { seek(EditTime()); }

void DPreview::goToEnd() { seek(endTime()); }

void DPreview::step(int n)
{
    if (m_player.isPlaying()) pause();
    EditTime t = currentTime();
    t.fromFrames(t.toFrames() + n);
    seek(EditTime::raw(std::clamp<int64_t>(t.ticks(), 0, std::max<int64_t>(0, endTime().ticks())),
                       t.rateNum(), t.rateDen()));
}

TimeValue DPreview::playerTime(const EditTime& t) const
{
    ZEFSourceItem* clip = currentClip();
    if (!clip || clip->mediaRateNum() <= 0 || clip->mediaRateDen() <= 0)
        return std::max<int64_t>(0, t.ticks());
    // A clip's frames need not start on whole ticks (29.97 fps): the frame the time names, at
    // its first whole tick, so that the picture shown is that frame.
    const int64_t num = clip->mediaRateNum(), den = clip->mediaRateDen();
    const int64_t frame =
        std::max(0, EditTime::raw(t.ticks(), int32_t(num), int32_t(den)).toFrames());
    return (frame * 600 * den + num - 1) / num;
}

void DPreview::seek(const EditTime& t, bool scrubbing)
{
    const TimeValue at = playerTime(t);
    if (scrubbing)
        m_player.scrub(at);
    else
        m_player.seek(at);
}

void DPreview::setRate(double rate)
{
    if (rate == 0) {
        pause();
        return;
    }
    m_player.setRate(rate);
    if (m_player.isPlaying()) return;
    // A shuttle at an end of the material waits instead of jumping to the other end.
    const TimeValue t = m_player.currentTime();
    if ((rate < 0 && t <= 0) || (rate > 0 && t >= endTime().ticks())) return;
    play();
}

void DPreview::resetRate() { m_player.setRate(1.0); }

void DPreview::setLooping(bool loop)
{
    m_looping = loop;
    m_player.setLooping(loop);
}

void DPreview::setFullScreen(bool on) { m_fullScreen = on; }

// ---- placement

int32_t DPreview::currentTrack() const
{
    if (m_source != Source::Composition) return -1;
    return m_services.currentTrack ? m_services.currentTrack() : 0;
}

void DPreview::setCurrentTrack(int32_t track)
{
    if (m_services.setCurrentTrack) m_services.setCurrentTrack(track);
}

bool DPreview::allowsPlacement() const
{
    switch (m_source) {
    case Source::Composition:
        return !m_ownMovie;
    case Source::Clip:
        return m_clip && m_clip->videoTrackIndex() < m_clip->videoTrackCount();
    case Source::Capture:
        return true;
    }
    return false;
}

QSize DPreview::frameSize() const
{
    return QSize(std::max(1, m_project.composition().width),
                 std::max(1, m_project.composition().height));
}

void DPreview::applyPlacement(const QRect& r, const QRect& picture)
{
    switch (m_source) {
    case Source::Capture:
        m_captureCrop = toFractions(r, picture);
        emit captureCropChanged();
        break;
    case Source::Clip: {
        ZEFSourceItem* clip = m_clip;
        if (!clip) return;
        const int32_t track = clip->track();
        const std::string name = clip->displayName();
        if (clip->placementMode() == kCroppingMode) {
            std::array<movies::Fixed, 4> f = toFractions(r, picture);
            for (movies::Fixed& v : f)
                v = std::clamp<movies::Fixed>(v, 0, 0x10000);
            if (f[2] <= f[0] || f[3] <= f[1] || f == clip->cropRect()) return;
            m_project.undoHistory().recordUndo(track, "Crop changed on %s", name.c_str());
            clip->setCropRect(f);
            clip->applyCrop();
            clip->refreshThumbnail();
        } else {
            const movies::MatrixRecord m = layoutMatrix(toThousandths(r, picture));
            if (m == clip->matrix(0) && m == clip->matrix(1)) return;
            m_project.undoHistory().recordUndo(track, "Placement changed on %s", name.c_str());
            clip->setMatrix(0, m);
            clip->setMatrix(1, m);
        }
        m_project.itemChanged(clip, false, true);
        break;
    }
    case Source::Composition: {
        const int32_t track = currentTrack();
        if (!FProject::validTrack(track) || m_ownMovie) return;
        const EditTime t = currentTime();
        const movies::MatrixRecord m = layoutMatrix(toThousandths(r, picture));
        bool exact = false;
        if (m_project.matrixAt(track, t, &exact) == m && exact) return;
        m_project.undoHistory().recordUndo(track, "Keyframe set on %s",
                                           FProject::trackMenuName(track));
        m_project.insertKeyframe(track, t, m, false);
        m_project.keyframesChanged(track);
        break;
    }
    }
    m_window->update();
}

void DPreview::defaultToMovieAspect()
{
    ZEFSourceItem* clip = currentClip();
    if (!clip || clip->placementMode() == kCroppingMode || clip->imageDescription().size() < 86)
        return;
    const movies::MatrixRecord before0 = clip->matrix(0), before1 = clip->matrix(1);
    const bool fitted = clip->fitToAspect();
    m_project.undoHistory().recordUndo(clip->track(), "Aspect ratio reset on %s",
                                       clip->displayName().c_str());
    clip->fitToProjectAspect();
    if (clip->matrix(0) == before0 && clip->matrix(1) == before1 && fitted) {
        m_project.undoHistory().discardNewest();
        return;
    }
    m_project.itemChanged(clip, false, true); // built again with its new placement
    m_window->update();
}

void DPreview::stretchToProjectSize()
{
    switch (m_source) {
    case Source::Capture:
        m_captureCrop = {0, 0, 0x10000, 0x10000};
        emit captureCropChanged();
        break;
    case Source::Clip: {
        ZEFSourceItem* clip = m_clip;
        if (!clip) return;
        const std::string name = clip->displayName();
        if (clip->placementMode() == kCroppingMode) {
            const std::array<movies::Fixed, 4> full{0, 0, 0x10000, 0x10000};
            if (clip->cropRect() == full) return;
            m_project.undoHistory().recordUndo(clip->track(), "Crop changed on %s", name.c_str());
            clip->setCropRect(full);
            clip->applyCrop();
            clip->refreshThumbnail();
        } else {
            const movies::MatrixRecord id = movies::MatrixRecord::identity();
            if (clip->matrix(0) == id && clip->matrix(1) == id) return;
            m_project.undoHistory().recordUndo(clip->track(), "Placement changed on %s",
                                               name.c_str());
            clip->setMatrix(0, id);
            clip->setMatrix(1, id);
        }
        m_project.itemChanged(clip, false, true);
        break;
    }
    case Source::Composition: {
        const int32_t track = currentTrack();
        if (!FProject::validTrack(track) || m_ownMovie) return;
        const EditTime t = currentTime();
        bool exact = false;
        if (m_project.matrixAt(track, t, &exact) == movies::MatrixRecord::identity() && exact)
            return;
        m_project.undoHistory().recordUndo(track, "Keyframe set on %s",
                                           FProject::trackMenuName(track));
        m_project.insertKeyframe(track, t, movies::MatrixRecord::identity(), false);
        m_project.keyframesChanged(track);
        break;
    }
    }
    m_window->update();
}

// ---- the engine's preview window

bool DPreview::mouseCaptured() const
{
    return QWidget::mouseGrabber() != nullptr || QGuiApplication::mouseButtons() != Qt::NoButton;
}

void DPreview::attachMovie(movies::Movie* movie)
{
    m_live = movie;
    m_snapshotWanted = true;
}

void DPreview::detachMovie()
{
    m_live = nullptr;
    if (m_source == Source::Composition && !m_ownMovie) m_player.clear();
}

void DPreview::redraw() { m_snapshotWanted = true; }

// ---- the project

void DPreview::closeDecksShowing(ZEFItem* item)
{
    if (item && item == m_clip) showComposition();
}

void DPreview::closePreview()
{
    m_compositionTime = 0;
    if (m_source != Source::Composition || m_ownMovie) showComposition();
    m_player.clear();
    m_player.seek(0);
    m_rangeEnd = -1;
    m_snapshotWanted = true;
}

void DPreview::refreshPreview()
{
    // A clip's own settings (its tracks, its volume) apply to its movie at once; the
    // composition follows with the engine's next pass.
    if (m_source == Source::Clip && m_clip && m_clipMovie) {
        const std::array<int32_t, 3> now{m_clip->videoTrackIndex(), m_clip->audioTrackIndex(),
                                         m_clip->volume()};
        if (now != m_clipSettings) {
            m_clipSettings = now;
            applyClipSettings(*m_clipMovie, *m_clip);
            playClip();
        }
    }
    m_window->update();
}

void DPreview::resizeEvent(QResizeEvent* e)
{
    CGUIDialogWithCaption::resizeEvent(e);
    if (m_player.hasMovie()) m_resized.start();
}

} // namespace zef::ui
