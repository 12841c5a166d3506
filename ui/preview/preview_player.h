// CPreviewPlayer: the toolbox's movie player inside the editor's windows.
//
// It plays a movie that nobody changes while it plays (the preview deck hands it a snapshot of
// the preview movie, or the movie of one clip) with its pictures going to the GUI thread and its
// sound to the desktop's sound output (CAudioOutput), whose played position is the master clock;
// without a sound output a device stand-in that drains in real time by the steady clock is used,
// so playback still runs in real time.
//
// Pictures. The player's presenter thread copies each picture once into an image of a small
// pool and posts it to the GUI thread through a queued call; at most one picture waits there: a
// newer one replaces it (counted as dropped on the way). frame() is the newest picture; the
// windows draw it scaled, from the pool image itself.
//
// Without a movie the transport still keeps a time (seek moves it, play does nothing).
//
// GUI thread only (the sinks are driven by the player's threads).
#pragma once

#include "platform/movies/movie.h"
#include "platform/movies/player/movie_player.h"

#include <QImage>
#include <QObject>

#include <chrono>
#include <memory>

namespace zef::movies {
class ComponentManager;
class TextRenderer;
} // namespace zef::movies

namespace zef::ui {

class GuiFrameSink;

class CPreviewPlayer : public QObject {
    Q_OBJECT
public:
    struct Frame {
        QImage image;               // null before the first picture
        movies::TimeValue time = 0; // the time it shows
        bool approximate = false;   // a quick picture near `time` (scrubbing)
        uint64_t serial = 0;        // counts the pictures taken
    };
    // Playback figures: pictures the player dropped, pictures replaced on the way to the GUI
    // thread, pictures painted while playing, and how far the picture on the screen was from
    // the sound heard (ms; 0 while the sound lies inside the picture's frame).
    struct Figures {
        int64_t dropped = 0;
        int64_t replaced = 0;
        int64_t painted = 0;
        double offsetMaxMs = 0;
        double offsetSumMs = 0; // signed, picture time minus sound time, summed over `painted`
    };

    explicit CPreviewPlayer(QObject* parent = nullptr);
    ~CPreviewPlayer() override;

    // The player's helpers for drawing: image decompressors and the text renderer.
    void setServices(movies::ComponentManager* components,
                     std::shared_ptr<movies::TextRenderer> text);
    // Plays this movie from now on, at `at`, playing on when `play`; frameDuration 0: from the
    // movie. The picture at `at` is shown.
    void setMovie(std::shared_ptr<const movies::Movie> movie, movies::TimeValue frameDuration,
                  movies::TimeValue at, bool play);
    // No movie any more (the picture goes too).
    void clear();
    const movies::Movie* movie() const { return m_movie.get(); }
    bool hasMovie() const { return m_player != nullptr; }

    // Transport. Times are movie times.
    void play();
    void pause();
    // Ends play and moves to the start of the play range (without a picture).
    void stop();
    void seek(movies::TimeValue t);
    // A seek for a position that moves on: a quick picture first, then the exact one.
    void scrub(movies::TimeValue t);
    // A signed factor of normal speed; 0 pauses. The rate stays for the next play().
    void setRate(double rate);
    double rate() const { return m_rate; }
    void setLooping(bool loop);
    void setPlayRange(movies::TimeValue start, movies::TimeValue end);
    movies::TimeValue currentTime() const;
    bool isPlaying() const;
    movies::TimeValue duration() const;
    movies::TimeValue frameDuration() const;

    const Frame& frame() const { return m_frame; }
    // A window painted the current picture (playback figures).
    void painted();
    Figures figures() const;
    void resetFigures();
    // Whether the sound goes to a real output device (else the steady-clock stand-in).
    bool hasSoundDevice() const { return m_soundDevice; }
    QString soundDeviceName() const { return m_soundDeviceName; }

signals:
    // A new picture is in frame().
    void frameChanged();
    // Play reached the end of the play range (not looping).
    void ended();

private:
    friend class GuiFrameSink;
    void takeFrame();
    void dropPending();

    std::unique_ptr<movies::AudioSink> m_audio;
    bool m_soundDevice = false;
    QString m_soundDeviceName;
    std::unique_ptr<GuiFrameSink> m_sink;
    movies::ComponentManager* m_components = nullptr;
    std::shared_ptr<movies::TextRenderer> m_text;
    std::shared_ptr<movies::EvaluationContext> m_context; // kept from player to player
    std::shared_ptr<const movies::Movie> m_movie;
    std::unique_ptr<movies::MoviePlayer> m_player; // after the sinks and the movie it plays
    Frame m_frame;
    movies::TimeValue m_time = 0; // without a movie
    double m_rate = 1.0;
    bool m_loop = false;
    movies::TimeValue m_rangeStart = 0, m_rangeEnd = 0;
    Figures m_figures;
    uint64_t m_paintedSerial = 0;
};

} // namespace zef::ui
