#include "platform/movies/player/movie_player.h"

#include "platform/movies/sound_mixer.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

namespace zef::movies {

namespace {

using Clock = std::chrono::steady_clock;

constexpr double kMaxRate = 64.0;
constexpr int64_t kAudioChunk = 1024; // frames mixed and written at a time

TimeValue floorDiv(TimeValue a, TimeValue b)
{
    const TimeValue q = a / b;
    return (a % b != 0 && ((a < 0) != (b < 0))) ? q - 1 : q;
}

} // namespace

TimeValue defaultFrameDuration(const Movie& movie)
{
    const TimeScale scale = std::max<TimeScale>(1, movie.timeScale());
    for (const auto& t : movie.tracks()) {
        if (!t->enabled() || !t->media() || t->media()->type() != VideoMediaType) continue;
        const Media& m = *t->media();
        if (m.sampleCount() < 2 || m.timeScale() <= 0) continue;
        const Sample* s = m.sample(0);
        if (!s || s->duration <= 0) continue;
        const TimeValue d = (s->duration * scale + m.timeScale() / 2) / m.timeScale();
        return std::max<TimeValue>(1, d);
    }
    return std::max<TimeValue>(1, scale / 30);
}

// One drawn picture with everything the presenter needs to place it.
struct Frame {
    Pixmap picture;
    TimeValue time = 0; // the time the picture shows
    TimeValue due = 0;  // the movie time at which it becomes current
    uint64_t generation = 0;
    bool single = false;      // a still (seek, step): shown at once, no clock
    bool approximate = false; // a quick picture near `time` while scrubbing
    bool end = false;         // not a picture: the end of the play range
};

struct MoviePlayer::Impl {
    enum class Mode { idle, single, playing };

    Impl(const Movie& mv, FrameSink* fs, AudioSink* as, Options o)
        : movie(mv), frameSink(fs), audioSink(as), options(std::move(o))
    {
        scale = std::max<TimeScale>(1, movie.timeScale());
        movieDuration = std::max<TimeValue>(0, movie.duration());
        frameDur = options.frameDuration > 0 ? options.frameDuration : defaultFrameDuration(movie);
        frameDur = std::min<TimeValue>(frameDur, TimeValue(1) << 40); // keeps grid sums in range
        depth = size_t(std::clamp(options.queueDepth, 2, 4));
        hasSound = movie.countTracksWithCharacteristic(AudioMediaCharacteristic, true) > 0;
        selHi = movieDuration;
        worker = std::thread([this] { evaluateLoop(); });
        presenter = std::thread([this] { presentLoop(); });
        presenterId = presenter.get_id();
        if (audioSink) audio = std::thread([this] { audioLoop(); });
    }

    ~Impl()
    {
        {
            std::lock_guard lock(m);
            quit = true;
            quitFlag.store(true);
            bumpLocked();
            playing = false;
        }
        wakeAll();
        if (worker.joinable()) worker.join();
        if (presenter.joinable()) presenter.join();
        if (audio.joinable()) audio.join();
    }

    void wakeAll()
    {
        workCv.notify_all();
        presentCv.notify_all();
        audioCv.notify_all();
    }

    bool forward() const { return rate > 0; }

    // The clock's movie time; m is held.
    double clockLocked(Clock::time_point now) const
    {
        if (!playing) return double(pausedTime);
        if (!clockStarted) return double(startTime);
        if (useAudio) {
            if (audioGeneration != generation) return double(startTime);
            const int64_t played = audioSink->playedFrames();
            if (audioDone && played >= audioWritten) return double(hi);
            return double(audioFirst + played) * double(scale) / double(audioSink->sampleRate());
        }
        return double(startTime) +
               rate * std::chrono::duration<double>(now - clockStart).count() * double(scale);
    }

    TimeValue currentLocked() const
    {
        if (!playing) return pausedTime;
        const double c = clockLocked(Clock::now());
        return std::clamp(TimeValue(std::floor(c)), lo, hi);
    }

    void flushQueueLocked()
    {
        for (Frame& f : queue)
            recycleLocked(std::move(f.picture));
        queue.clear();
    }

    void recycleLocked(Pixmap&& p)
    {
        if (!p.isEmpty() && spare.size() < depth + 2) spare.push_back(std::move(p));
    }

    void rangeLocked()
    {
        lo = std::clamp<TimeValue>(selLo, 0, movieDuration);
        hi = std::clamp<TimeValue>(selHi, lo, movieDuration);
    }

    // Starts a new run of play from `from` (m held).
    void startPlayLocked(TimeValue from)
    {
        rangeLocked();
        startTime = std::clamp(from, lo, hi);
        playing = true;
        mode = Mode::playing;
        clockStarted = false;
        useAudio = audioSink && hasSound && rate == 1.0;
        audioDone = false;
        bumpLocked();
        flushQueueLocked();
    }

    void stillLocked(TimeValue t, bool quickFirst = false)
    {
        playing = false;
        pausedTime = std::clamp<TimeValue>(t, 0, movieDuration);
        mode = Mode::single;
        stillTime = pausedTime;
        stillQuick = quickFirst;
        bumpLocked();
        flushQueueLocked();
    }

    void idleLocked(TimeValue t)
    {
        playing = false;
        pausedTime = t;
        mode = Mode::idle;
        bumpLocked();
        flushQueueLocked();
    }

    // Waits until a callback in flight on the presenter has returned, so that nothing of the
    // state before the caller's change reaches a sink afterwards.
    void fence()
    {
        wakeAll();
        if (std::this_thread::get_id() == presenterId) return;
        std::lock_guard cb(callbackMutex);
        std::lock_guard write(audioWriteMutex); // a write in flight gives up or completes
    }

    // ---- evaluator -------------------------------------------------------------------------

    void evaluateLoop()
    {
        std::atomic<uint64_t> current{~uint64_t(0)}; // the job being drawn
        const std::shared_ptr<EvaluationContext> shared =
            options.context ? options.context : makeContext(options);
        EvaluationContext& context = *shared;
        // A picture of a state that a control call has replaced is given up.
        context.setAbortCheck([this, &current] { return liveGeneration.load() != current.load(); });
        // The check refers to this loop: a context that outlives the player must not keep it.
        struct Unhook {
            EvaluationContext& c;
            ~Unhook()
            {
                c.setAbortCheck({});
                c.setApproximate(false);
            }
        } unhook{context};

        std::unique_lock lk(m);
        uint64_t job = ~uint64_t(0);
        bool done = true;
        bool quick = false; // the next picture of a scrub is the quick one
        TimeValue next = 0, due = 0;
        while (!quit) {
            if (job != generation) {
                job = generation;
                current.store(job);
                done = mode == Mode::idle;
                quick = false;
                if (mode == Mode::playing) {
                    next = startTime;
                    if (!forward() && next >= hi && hi > lo) next = hi - 1;
                    due = startTime;
                } else if (mode == Mode::single) {
                    next = stillTime;
                    quick = stillQuick;
                }
            }
            if (done || queue.size() >= depth) {
                workCv.wait(lk);
                continue;
            }
            Frame f;
            f.generation = job;
            f.single = mode == Mode::single;
            f.approximate = f.single && quick;
            f.time = next;
            f.due = due;
            if (!spare.empty()) {
                f.picture = std::move(spare.back());
                spare.pop_back();
            }
            const TimeValue at =
                std::clamp<TimeValue>(next, 0, std::max<TimeValue>(0, movieDuration - 1));
            lk.unlock();
            context.setApproximate(f.approximate);
            evaluate(context, movie, at, f.picture);
            lk.lock();
            if (job != generation) {
                recycleLocked(std::move(f.picture));
                continue;
            }
            queue.push_back(std::move(f));
            if (mode == Mode::single) {
                // After the quick picture of a scrub, the exact one.
                done = !quick;
                quick = false;
            } else if (forward()) {
                const TimeValue n = (floorDiv(next, frameDur) + 1) * frameDur;
                if (n >= hi) {
                    pushEndLocked(job, hi);
                    done = true;
                } else {
                    next = due = n;
                }
            } else {
                if (next <= lo) {
                    pushEndLocked(job, lo);
                    done = true;
                } else {
                    // The last grid time before next, not before the range start.
                    const TimeValue p = std::max(lo, (floorDiv(next - 1, frameDur)) * frameDur);
                    due = next;
                    next = p;
                }
            }
            presentCv.notify_all();
        }
    }

    void pushEndLocked(uint64_t job, TimeValue at)
    {
        Frame e;
        e.generation = job;
        e.end = true;
        e.due = at;
        queue.push_back(std::move(e));
    }

    // ---- presenter -------------------------------------------------------------------------

    // Hands f to the frame sink unless a control call overtook it. Called with lk held; returns
    // with it held.
    void deliver(std::unique_lock<std::mutex>& lk, Frame& f, double lateMs)
    {
        lk.unlock();
        {
            std::lock_guard cb(callbackMutex);
            lk.lock();
            const bool current = f.generation == generation && !quit;
            if (current) {
                ++statistics.shown;
                statistics.lateMsMax = std::max(statistics.lateMsMax, lateMs);
            }
            lk.unlock();
            if (current && frameSink) {
                if (f.approximate)
                    frameSink->showApproximateFrame(f.picture, f.time);
                else
                    frameSink->showFrame(f.picture, f.time);
            }
        }
        lk.lock();
        recycleLocked(std::move(f.picture));
    }

    void reachEnd(std::unique_lock<std::mutex>& lk)
    {
        const bool fwd = forward();
        if (loop && hi > lo) {
            startPlayLocked(fwd ? lo : hi);
            wakeAll();
            return;
        }
        idleLocked(fwd ? hi : lo);
        const uint64_t ended = generation;
        wakeAll();
        lk.unlock();
        {
            std::lock_guard cb(callbackMutex);
            lk.lock();
            const bool current = ended == generation && !quit;
            std::function<void()> callback = endCallback;
            lk.unlock();
            if (current && callback) callback();
        }
        lk.lock();
    }

    void presentLoop()
    {
        std::unique_lock lk(m);
        bool lastDropped = false;
        while (!quit) {
            if (queue.empty()) {
                presentCv.wait(lk);
                continue;
            }
            if (queue.front().generation != generation) {
                recycleLocked(std::move(queue.front().picture));
                queue.pop_front();
                continue;
            }
            workCv.notify_all(); // room may follow
            if (queue.front().single) {
                Frame f = std::move(queue.front());
                queue.pop_front();
                deliver(lk, f, 0.0);
                continue;
            }
            if (!clockStarted) {
                // The first picture of a run: show it now and start the clock.
                Frame f = std::move(queue.front());
                queue.pop_front();
                if (f.end) {
                    reachEnd(lk);
                    continue;
                }
                clockStarted = true;
                clockStart = Clock::now();
                lastDropped = false;
                audioCv.notify_all();
                deliver(lk, f, 0.0);
                continue;
            }
            const auto now = Clock::now();
            const double c = clockLocked(now);
            const Frame& front = queue.front();
            const double late = forward() ? c - double(front.due) : double(front.due) - c;
            const double wallPerTick = 1.0 / (std::abs(rate) * double(scale));
            if (late < 0) {
                double wait = -late * wallPerTick;
                wait = std::min(wait, useAudio ? 0.004 : 0.1);
                presentCv.wait_for(lk, std::chrono::duration<double>(std::max(wait, 0.0002)));
                continue;
            }
            Frame f = std::move(queue.front());
            queue.pop_front();
            if (f.end) {
                reachEnd(lk);
                continue;
            }
            const double fd = double(frameDur);
            if (late > fd && !(lastDropped && late < 2 * fd)) {
                ++statistics.dropped;
                lastDropped = true;
                recycleLocked(std::move(f.picture));
                continue;
            }
            lastDropped = false;
            deliver(lk, f, late * wallPerTick * 1000.0);
        }
    }

    // ---- sound feeder ------------------------------------------------------------------------

    void audioLoop()
    {
        SoundMixer mixer(audioSink->sampleRate(), audioSink->channels(), options.components);
        std::vector<int16_t> buffer;
        std::unique_lock lk(m);
        uint64_t job = ~uint64_t(0);
        bool sinkHoldsSound = false;
        int64_t nextFrame = 0, endFrame = 0;
        while (!quit) {
            const bool wanted = mixer.isValid() && playing && useAudio && clockStarted;
            if (!wanted) {
                if (sinkHoldsSound) {
                    // Paused, stopped or moved: silence what is still buffered.
                    sinkHoldsSound = false;
                    job = ~uint64_t(0);
                    lk.unlock();
                    audioSink->flush();
                    lk.lock();
                    continue;
                }
                audioCv.wait(lk);
                continue;
            }
            if (job != generation) {
                job = generation;
                lk.unlock();
                audioSink->flush();
                lk.lock();
                if (job != generation) continue;
                sinkHoldsSound = true;
                audioFirst = mixer.frameIndex(startTime, scale);
                nextFrame = audioFirst;
                endFrame = mixer.frameIndex(hi, scale);
                audioWritten = 0;
                audioDone = false;
                audioGeneration = job;
            }
            if (nextFrame >= endFrame) {
                audioDone = true;
                audioCv.wait(lk);
                continue;
            }
            const int64_t n = std::min(kAudioChunk, endFrame - nextFrame);
            const int channels = mixer.channels();
            lk.unlock();
            buffer.resize(size_t(n * channels));
            mixer.mixFrames(movie, nextFrame, n, buffer.data()); // unplayable material is silent
            int64_t off = 0;
            {
                std::lock_guard write(audioWriteMutex);
                while (off < n && liveGeneration.load() == job && !quitFlag.load())
                    off += std::max<int64_t>(
                        0, audioSink->write(buffer.data() + off * channels, n - off));
            }
            lk.lock();
            if (job == generation) {
                audioWritten += off;
                nextFrame += off;
            }
        }
    }

    // A new state: whatever was drawn or mixed for the old one is stale. The atomic copy lets
    // the sound feeder give up a blocking write without the lock.
    void bumpLocked()
    {
        ++generation;
        liveGeneration.store(generation);
    }

    const Movie& movie;
    FrameSink* frameSink;
    AudioSink* audioSink;
    Options options;
    TimeScale scale = 600;
    TimeValue movieDuration = 0;
    TimeValue frameDur = 20;
    size_t depth = 3;
    bool hasSound = false;

    mutable std::mutex m;
    std::mutex callbackMutex;   // held by the presenter while it calls a sink or the end callback
    std::mutex audioWriteMutex; // held by the sound feeder while it writes to the audio sink
    std::condition_variable workCv, presentCv, audioCv;
    bool quit = false;
    uint64_t generation = 0;
    std::atomic<uint64_t> liveGeneration{0};
    std::atomic<bool> quitFlag{false};

    Mode mode = Mode::idle;
    bool playing = false;
    double rate = 1.0;
    bool loop = false;
    TimeValue pausedTime = 0;
    TimeValue stillTime = 0;
    bool stillQuick = false; // the still is a scrub: a quick picture first
    TimeValue startTime = 0;
    TimeValue selLo = 0, selHi = 0; // the play range asked for
    TimeValue lo = 0, hi = 0;       // the play range in force

    bool clockStarted = false;
    Clock::time_point clockStart;
    bool useAudio = false;
    uint64_t audioGeneration = ~uint64_t(0);
    int64_t audioFirst = 0;
    int64_t audioWritten = 0;
    bool audioDone = false;

    std::deque<Frame> queue;
    std::vector<Pixmap> spare;
    PlayerStats statistics;
    std::function<void()> endCallback;

    std::thread worker, presenter, audio;
    std::thread::id presenterId;
};

MoviePlayer::MoviePlayer(const Movie& movie, FrameSink* frames, AudioSink* audio)
    : MoviePlayer(movie, frames, audio, Options{})
{
}

MoviePlayer::MoviePlayer(const Movie& movie, FrameSink* frames, AudioSink* audio, Options options)
    : m_impl(std::make_unique<Impl>(movie, frames, audio, std::move(options)))
{
}

MoviePlayer::~MoviePlayer() = default;

// Runs a state change under the lock and waits for the presenter's callback in flight.
template <typename F> static void change(MoviePlayer::Impl& p, F&& f)
{
    {
        std::lock_guard lock(p.m);
        f();
    }
    p.fence();
}

void MoviePlayer::play()
{
    Impl& p = *m_impl;
    change(p, [&] {
        if (p.playing) return;
        p.rangeLocked();
        TimeValue t = std::clamp(p.pausedTime, p.lo, p.hi);
        if (p.forward() && t >= p.hi) t = p.lo;
        if (!p.forward() && t <= p.lo) t = p.hi;
        p.startPlayLocked(t);
    });
}

void MoviePlayer::pause()
{
    Impl& p = *m_impl;
    change(p, [&] {
        if (p.playing) p.idleLocked(p.currentLocked());
    });
}

void MoviePlayer::stop()
{
    Impl& p = *m_impl;
    change(p, [&] {
        p.rangeLocked();
        p.idleLocked(p.lo);
    });
}

OSErr MoviePlayer::setRate(double rate)
{
    if (!std::isfinite(rate) || std::abs(rate) > kMaxRate) return paramErr;
    if (rate == 0) {
        pause();
        return noErr;
    }
    Impl& p = *m_impl;
    change(p, [&] {
        if (p.rate == rate) return;
        const bool wasPlaying = p.playing;
        const TimeValue t = p.currentLocked();
        p.rate = rate;
        if (!wasPlaying) return;
        TimeValue from = t;
        if (p.forward() && from >= p.hi) from = p.lo;
        if (!p.forward() && from <= p.lo) from = p.hi;
        p.startPlayLocked(from);
    });
    return noErr;
}

double MoviePlayer::rate() const
{
    std::lock_guard lock(m_impl->m);
    return m_impl->rate;
}

void MoviePlayer::step(int64_t frames)
{
    Impl& p = *m_impl;
    change(p, [&] {
        const TimeValue base = p.currentLocked();
        p.rangeLocked();
        const TimeValue fd = p.frameDur;
        const TimeValue lastFrame =
            std::max(p.lo, floorDiv(std::max<TimeValue>(p.hi - 1, 0), fd) * fd);
        const int64_t limit = (p.movieDuration / fd) + 2; // keeps the product in range
        const int64_t n = std::clamp<int64_t>(frames, -limit, limit);
        TimeValue t = floorDiv(base, fd) * fd + n * fd;
        t = std::clamp(t, p.lo, lastFrame);
        p.stillLocked(t);
    });
}

void MoviePlayer::seek(TimeValue t)
{
    Impl& p = *m_impl;
    change(p, [&] {
        const TimeValue at = std::clamp<TimeValue>(t, 0, p.movieDuration);
        if (p.playing)
            p.startPlayLocked(at);
        else
            p.stillLocked(at);
    });
}

std::shared_ptr<EvaluationContext> MoviePlayer::makeContext(const Options& options)
{
    EvaluationContext::Options eo;
    eo.components = options.components;
    eo.text = options.text;
    eo.decoderThreads = options.decoderThreads;
    // Scrubbing goes back and forth: a decoder left standing in each of the last few
    // stretches between key frames continues from there instead of from the key frame.
    eo.decoderPositions = 4;
    // A context kept from movie to movie closes the decoders of clips no longer drawn.
    eo.releaseDecodersAfter = 900;
    return std::make_shared<EvaluationContext>(eo);
}

void MoviePlayer::scrub(TimeValue t)
{
    Impl& p = *m_impl;
    change(p, [&] {
        const TimeValue at = std::clamp<TimeValue>(t, 0, p.movieDuration);
        if (p.playing)
            p.startPlayLocked(at);
        else
            p.stillLocked(at, true);
    });
}

void MoviePlayer::goToStart()
{
    TimeValue start;
    {
        std::lock_guard lock(m_impl->m);
        m_impl->rangeLocked();
        start = m_impl->lo;
    }
    seek(start);
}

void MoviePlayer::goToEnd()
{
    TimeValue end;
    {
        std::lock_guard lock(m_impl->m);
        m_impl->rangeLocked();
        end = m_impl->hi;
    }
    seek(end);
}

void MoviePlayer::setLooping(bool loop)
{
    std::lock_guard lock(m_impl->m);
    m_impl->loop = loop;
}

bool MoviePlayer::looping() const
{
    std::lock_guard lock(m_impl->m);
    return m_impl->loop;
}

void MoviePlayer::setPlayRange(TimeValue start, TimeValue end)
{
    std::lock_guard lock(m_impl->m);
    start = std::clamp<TimeValue>(start, 0, m_impl->movieDuration);
    end = std::clamp<TimeValue>(end, 0, m_impl->movieDuration);
    if (end <= start) {
        start = 0;
        end = m_impl->movieDuration;
    }
    m_impl->selLo = start;
    m_impl->selHi = end;
}

void MoviePlayer::clearPlayRange() { setPlayRange(0, 0); }

bool MoviePlayer::isPlaying() const
{
    std::lock_guard lock(m_impl->m);
    return m_impl->playing;
}

TimeValue MoviePlayer::currentTime() const
{
    std::lock_guard lock(m_impl->m);
    return m_impl->currentLocked();
}

TimeValue MoviePlayer::duration() const { return m_impl->movieDuration; }
TimeValue MoviePlayer::frameDuration() const { return m_impl->frameDur; }
TimeScale MoviePlayer::timeScale() const { return m_impl->scale; }

PlayerStats MoviePlayer::stats() const
{
    std::lock_guard lock(m_impl->m);
    return m_impl->statistics;
}

void MoviePlayer::resetStats()
{
    std::lock_guard lock(m_impl->m);
    m_impl->statistics = PlayerStats{};
}

void MoviePlayer::setEndCallback(std::function<void()> callback)
{
    {
        std::lock_guard lock(m_impl->m);
        m_impl->endCallback = std::move(callback);
    }
}

} // namespace zef::movies
