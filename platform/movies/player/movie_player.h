// The preview player: plays a movie's pictures into a FrameSink and its sound into an AudioSink.
//
// Threads. The control methods are called from one controlling thread (the GUI's). The player
// runs three threads of its own: an evaluator that draws pictures ahead of time into a small
// bounded queue (so drawing and display overlap), a presenter that hands each picture to the
// frame sink at its time, and a sound feeder that mixes the sound and writes it to the audio
// sink. Every control method that changes the position or the play state flushes the queue and
// returns only when no picture or notification of the state before it can still be delivered:
// after stop(), pause(), seek() … the sinks see nothing older (a sound write in flight has
// returned; the sound feeder then only flushes the audio sink), after stop() and destruction no
// picture, sound or notification at all until the next control call. A sink callback must therefore
// not wait for the controlling thread (a GUI sink posts to its thread instead). A control method
// called from inside a callback does not wait.
//
// Clock. While sound plays (rate 1, an audio sink and at least one enabled sound track) the
// audio sink's played position is the master clock and pictures follow it. Otherwise (no sound,
// or any other rate, where sound is muted) a steady clock runs at the rate. Playback starts
// when its first picture is ready: that picture is shown at once and the clock starts then.
//
// Frames. Pictures lie on a grid of the frame duration (Options::frameDuration, or the first
// video track's first sample, or 1/30 s). A picture drawn for time t shows what the compositor
// evaluates at t and covers [t, next grid time); playback from an off-grid time first shows
// that exact time, then continues on the grid.
//
// Late pictures (the drop policy). A picture becomes due when the clock enters its span. When
// the presenter gets to it more than one frame duration after it became due, it is skipped and
// counted as dropped, with one exception: after a dropped picture, the next one is shown if it
// is late by less than two frame durations, so that a stall slightly longer than a frame costs
// one picture at a time and the picture keeps moving. A picture is never shown before it is due.
// stats().lateMsMax is the largest lateness (in wall-clock milliseconds) of the pictures shown.
//
// End. Playing forward ends at the end of the play range (the movie's duration unless a range
// is set), playing backward at its start. With looping on, play wraps to the other end and goes
// on; otherwise play stops there (the time stays at the end) and the end callback runs once, on
// the presenter thread. play() at the end in the direction of play starts again from the other
// end.
//
// Stop. stop() ends play and puts the time at the start of the play range without drawing;
// a following seek (the transport's "Stop Playing" seeks to 0) shows the picture.
//
// Scrubbing. scrub() is a seek for a position that moves on (a slider or a current-time marker
// being dragged): a quick picture near the time comes first, then the exact one. Work for a
// position that a newer call replaced is given up between two decoded frames, so the pictures
// keep up with the drag however far apart the key frames are.
//
// The movie must outlive the player and must not change while the player exists (rebuild the
// player after the movie changed).
#pragma once

#include "platform/movies/compositor/compositor.h"
#include "platform/movies/movie.h"
#include "platform/movies/player/sinks.h"

#include <cstdint>
#include <functional>
#include <memory>

namespace zef::movies {

class ComponentManager;
class TextRenderer;

struct PlayerStats {
    int64_t shown = 0;
    int64_t dropped = 0;
    double lateMsMax = 0; // largest lateness of a shown picture, wall-clock milliseconds
};

class MoviePlayer {
public:
    struct Options {
        TimeValue frameDuration = 0; // movie time scale; 0: from the first video track
        int queueDepth = 3;          // pictures drawn ahead (2…4)
        int decoderThreads = 0;      // per video decoder; 0: one per core
        ComponentManager* components = nullptr;
        std::shared_ptr<TextRenderer> text;
        // Pictures are drawn with this context when one is given (from makeContext), which
        // the caller may hand from one player to the next (one player at a time): its decoders
        // stay open and where they stand when the movie is rebuilt from the same media files.
        // Otherwise the player makes its own.
        std::shared_ptr<EvaluationContext> context;
    };

    // A context with the player's evaluation settings (components, text, decoding threads,
    // positions kept for scrubbing), for Options::context.
    static std::shared_ptr<EvaluationContext> makeContext(const Options& options);

    // Either sink may be null (no pictures, or silence with the steady clock). The sinks must
    // outlive the player.
    MoviePlayer(const Movie& movie, FrameSink* frames, AudioSink* audio);
    MoviePlayer(const Movie& movie, FrameSink* frames, AudioSink* audio, Options options);
    ~MoviePlayer();
    MoviePlayer(const MoviePlayer&) = delete;
    MoviePlayer& operator=(const MoviePlayer&) = delete;

    // Transport.
    void play();
    void pause();
    void stop();
    // A signed factor: 1 normal, 2 double speed, 0.5 slow, -1 backward … (|rate| ≤ 64). While
    // playing, play goes on from the current time at the new rate; 0 pauses. While paused it
    // is the rate of the next play(). paramErr for a rate that is not finite or too large.
    OSErr setRate(double rate);
    double rate() const;
    // Pauses and moves by n frames on the frame grid (from the start of the frame shown), held
    // inside the play range; shows the picture.
    void step(int64_t frames);
    // Moves to t (held inside [0, duration]) and shows the picture at t (at the end: the last
    // picture). While playing, play goes on from t.
    void seek(TimeValue t);
    // While paused: like seek(), but first the nearest picture a decoder has at hand or reaches
    // with one decode goes to FrameSink::showApproximateFrame, then the exact picture to
    // showFrame unless another control call came first. While playing: seek().
    void scrub(TimeValue t);
    void goToStart();
    void goToEnd();
    void setLooping(bool loop);
    bool looping() const;
    // Limits play to [start, end) of the movie (play selection); an empty or inverted range
    // resets to the whole movie. Takes effect at the next play() or seek.
    void setPlayRange(TimeValue start, TimeValue end);
    void clearPlayRange();

    // State.
    bool isPlaying() const;
    TimeValue currentTime() const;
    TimeValue duration() const;
    TimeValue frameDuration() const;
    TimeScale timeScale() const;
    PlayerStats stats() const;
    void resetStats();

    // Called on the presenter thread when play reaches the end of the range without looping.
    void setEndCallback(std::function<void()> callback);

    struct Impl;

private:
    std::unique_ptr<Impl> m_impl;
};

// The frame duration the player uses for a movie when none is given: the duration of the first
// sample of the first enabled video track with more than one sample (in movie time), else 1/30 s.
TimeValue defaultFrameDuration(const Movie& movie);

} // namespace zef::movies
