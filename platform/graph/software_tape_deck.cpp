#include "platform/graph/software_tape_deck.h"
#include "platform/movies/media_file.h"
#include "platform/movies/sound_decoder.h"
#include "platform/movies/video_decoder.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <map>
#include <mutex>
#include <numeric>
#include <thread>

namespace zef::graph {

namespace {

constexpr int32_t kSampleRate = 48000;
constexpr int32_t kChannels = 2;
constexpr double kPi = 3.14159265358979323846;

class SteadyClock : public DeckClock {
public:
    double now() const override
    {
        return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
            .count();
    }
};

// ---- the tape --------------------------------------------------------------------------

class Tape {
public:
    virtual ~Tape() = default;
    TapeOutputFormat format;
    int64_t frameCount = 0;
    // Both called on the output thread only.
    virtual void draw(int64_t frame, movies::Pixmap& picture) = 0;
    virtual void sound(int64_t frame, std::vector<int16_t>& pcm) = 0;

protected:
    // The sample frames [first, end) of a tape frame's period.
    std::pair<int64_t, int64_t> soundSpan(int64_t frame) const
    {
        auto at = [&](int64_t f) {
            return f * kSampleRate * int64_t(format.rateDenominator) / format.rateNumerator;
        };
        return {at(frame), at(frame + 1)};
    }
};

class GeneratedTape : public Tape {
public:
    explicit GeneratedTape(double seconds)
    {
        format = {720, 576, 25, 1, kSampleRate, kChannels};
        frameCount = std::max<int64_t>(1, int64_t(seconds * 25));
    }
    void draw(int64_t frame, movies::Pixmap& picture) override
    {
        picture.resize(format.width, format.height);
        drawGeneratedTapeFrame(frame, format.rateNumerator, format.rateDenominator, picture);
    }
    void sound(int64_t frame, std::vector<int16_t>& pcm) override
    {
        const auto [first, end] = soundSpan(frame);
        pcm.resize(size_t(end - first) * kChannels);
        for (int64_t s = first; s < end; ++s) {
            const auto v = int16_t(std::lround(8000.0 * std::sin(2 * kPi * 1000.0 * double(s) /
                                                                 kSampleRate)));
            pcm[size_t(s - first) * 2] = v;
            pcm[size_t(s - first) * 2 + 1] = v;
        }
    }
};

class FileTape : public Tape {
public:
    static std::unique_ptr<FileTape> open(const std::string& path)
    {
        movies::MediaOpenResult r = movies::MediaFile::open(path);
        if (r.status != movies::MediaOpenStatus::ok) return nullptr;
        const int32_t v = r.file->findTrack(movies::kVideoMediaType);
        if (v < 0) return nullptr;
        const movies::TrackInfo& track = r.file->tracks()[size_t(v)];
        const int64_t d = track.shortestFirstDuration();
        if (track.still || track.samples.empty() || d <= 0 || track.width <= 0) return nullptr;
        auto tape = std::unique_ptr<FileTape>(new FileTape);
        tape->m_video = std::make_unique<movies::VideoDecoder>(r.file, size_t(v));
        if (!tape->m_video->isValid()) return nullptr;
        const int32_t a = r.file->findTrack(movies::kSoundMediaType);
        if (a >= 0)
            tape->m_sound =
                std::make_unique<movies::SoundDecoder>(r.file, size_t(a), kSampleRate, kChannels);
        const int64_t g = std::gcd(int64_t(track.timeScale), d);
        tape->format = {track.width,          track.height, int32_t(track.timeScale / g),
                        int32_t(d / g),       kSampleRate,  kChannels};
        tape->frameCount = int64_t(track.samples.size());
        return tape;
    }
    void draw(int64_t frame, movies::Pixmap& picture) override
    {
        picture.resize(format.width, format.height);
        if (!m_video->drawSample(frame, picture)) picture.fill(movies::argb(255, 0, 0, 0));
    }
    void sound(int64_t frame, std::vector<int16_t>& pcm) override
    {
        const auto [first, end] = soundSpan(frame);
        pcm.assign(size_t(end - first) * kChannels, 0);
        if (m_sound && m_sound->isValid()) m_sound->readFrames(first, end - first, pcm.data());
    }

private:
    FileTape() = default;
    std::unique_ptr<movies::VideoDecoder> m_video;
    std::unique_ptr<movies::SoundDecoder> m_sound;
};

// ---- the machine: transport and output ----------------------------------------------------

class DeckMachine {
public:
    explicit DeckMachine(SoftwareTapeDeckOptions options) : m_options(std::move(options))
    {
        if (!m_options.clock) m_options.clock = steadyDeckClock();
    }
    ~DeckMachine()
    {
        {
            std::lock_guard lock(m_lock);
            m_quit = true;
        }
        m_wake.notify_all();
        if (m_thread.joinable()) m_thread.join();
    }

    // Transport.
    HResult setMode(int32_t mode)
    {
        std::lock_guard lock(m_lock);
        if (!loadLocked()) return kFail;
        advanceLocked();
        const int64_t here = int64_t(std::floor(m_pos));
        switch (mode) {
        case 4296: // play
            setMotionLocked(mode, 1.0);
            break;
        case 4297: // stop
        case 4298: // freeze
            setMotionLocked(mode, 0.0);
            break;
        case 4300: // fast forward
            setMotionLocked(mode, m_options.windRate);
            break;
        case 4301: // rewind
            setMotionLocked(mode, -m_options.windRate);
            break;
        case 4304: // step forward
        case 4905: // step reverse
            m_pos = double(std::clamp<int64_t>(here + (mode == 4304 ? 1 : -1), 0, lastFrame()));
            setMotionLocked(mode, 0.0);
            break;
        case 4307:
            if (m_options.refuseShuttle) return kNotImplemented;
            [[fallthrough]];
        case 4305:
            setMotionLocked(mode, m_rate);
            break;
        default: // record, cue, thaw: not a player deck's
            return kNotImplemented;
        }
        return kOk;
    }
    HResult mode(int32_t* out)
    {
        std::lock_guard lock(m_lock);
        if (!loadLocked()) return kFail;
        advanceLocked();
        *out = m_mode;
        return kOk;
    }
    HResult setRate(double rate)
    {
        if (!std::isfinite(rate) || std::fabs(rate) > m_options.maxShuttleRate)
            return kNotImplemented;
        std::lock_guard lock(m_lock);
        if (!loadLocked()) return kFail;
        advanceLocked();
        m_rate = rate;
        if (m_mode == 4305 || m_mode == 4307) setMotionLocked(m_mode, rate);
        return kOk;
    }
    double rate()
    {
        std::lock_guard lock(m_lock);
        return m_rate;
    }
    HResult timecode(TimecodeSample* s)
    {
        std::lock_guard lock(m_lock);
        if (!loadLocked()) return kFail;
        advanceLocked();
        const TapeOutputFormat& f = m_tape->format;
        const double fps = double(f.rateNumerator) / f.rateDenominator;
        s->frameRate = std::fabs(fps - 30) < 1e-6     ? kTimecodeRate30
                       : std::fabs(fps - 29.97) < 0.01 ? kTimecodeRate2997
                       : std::fabs(fps - 25) < 1e-6    ? kTimecodeRate25
                       : std::fabs(fps - 24) < 1e-6    ? kTimecodeRate24
                                                       : uint16_t(std::lround(fps));
        s->frameFraction = 0;
        s->frames = uint32_t(std::floor(m_pos));
        return kOk;
    }
    HResult timecodeFormat(int32_t* out)
    {
        std::lock_guard lock(m_lock);
        if (!loadLocked()) return kFail;
        const TapeOutputFormat& f = m_tape->format;
        const double fps = double(f.rateNumerator) / f.rateDenominator;
        if (std::fabs(fps - 24) < 1e-6)
            *out = kTimecodeFormat24;
        else if (std::fabs(fps - 25) < 1e-6)
            *out = kTimecodeFormat25;
        else if (std::fabs(fps - 29.97) < 0.01)
            *out = kTimecodeFormat2997;
        else if (std::fabs(fps - 30) < 1e-6)
            *out = kTimecodeFormat30;
        else
            return kNotImplemented;
        return kOk;
    }
    int32_t port = 0;
    std::map<int32_t, int32_t> basicParameters;

    // Output.
    int64_t subscribe(TapeDeckOutput::Callback callback)
    {
        std::lock_guard lock(m_lock);
        const int64_t token = ++m_lastToken;
        m_subscribers[token] = std::make_shared<TapeDeckOutput::Callback>(std::move(callback));
        if (!m_thread.joinable()) m_thread = std::thread([this] { outputLoop(); });
        return token;
    }
    void unsubscribe(int64_t token)
    {
        if (std::this_thread::get_id() == m_thread.get_id()) {
            std::lock_guard lock(m_lock);
            m_subscribers.erase(token);
            return;
        }
        std::lock_guard dispatch(m_dispatch);
        std::lock_guard lock(m_lock);
        m_subscribers.erase(token);
    }
    void requestStill()
    {
        {
            std::lock_guard lock(m_lock);
            m_stillWanted = true;
        }
        m_wake.notify_all();
    }
    TapeOutputFormat format()
    {
        std::lock_guard lock(m_lock);
        return loadLocked() ? m_tape->format : TapeOutputFormat{};
    }

private:
    bool loadLocked()
    {
        if (m_tape) return true;
        std::string path = m_options.tapePath;
        if (path.empty())
            if (const char* env = std::getenv(kSoftwareDeckTapeVariable)) path = env;
        if (!path.empty()) m_tape = FileTape::open(path);
        if (!m_tape) m_tape = std::make_unique<GeneratedTape>(m_options.generatedSeconds);
        m_t0 = m_options.clock->now();
        return true;
    }
    int64_t lastFrame() const { return m_tape->frameCount - 1; }
    double fps() const
    {
        return double(m_tape->format.rateNumerator) / m_tape->format.rateDenominator;
    }
    // Brings the position up to the clock; the tape's ends stop it.
    void advanceLocked()
    {
        const double now = m_options.clock->now();
        if (m_speed != 0) {
            m_pos += m_speed * fps() * (now - m_t0);
            const double last = double(lastFrame());
            if ((m_pos >= last && m_speed > 0) || (m_pos <= 0 && m_speed < 0)) {
                m_pos = std::clamp(m_pos, 0.0, last);
                m_speed = 0;
                m_mode = 4297;
                m_restSent = false;
                m_wake.notify_all();
            }
        }
        m_t0 = now;
    }
    void setMotionLocked(int32_t mode, double speed)
    {
        m_mode = mode;
        m_speed = speed;
        m_restSent = false;
        m_wake.notify_all();
    }

    void outputLoop()
    {
        movies::Pixmap picture;
        std::vector<int16_t> pcm;
        std::unique_lock lock(m_lock);
        loadLocked();
        int64_t lastSent = -1;
        double lastSpeed = 0;
        while (!m_quit) {
            advanceLocked();
            const double period = 1.0 / fps();
            const int64_t here = int64_t(std::floor(m_pos));
            std::vector<int64_t> frames;
            double speed = m_speed;
            if (m_speed != 0) {
                // Gap-free at play speed (catching up a few late periods), else the head's frame.
                if (m_speed == 1.0 && m_mode == 4296 && lastSpeed == 1.0 && lastSent >= 0 &&
                    here > lastSent && here - lastSent <= 5) {
                    for (int64_t f = lastSent + 1; f <= here; ++f)
                        frames.push_back(f);
                } else if (!(m_speed == 1.0 && here == lastSent)) {
                    frames.push_back(here);
                }
            } else if (!m_restSent || m_stillWanted) {
                frames.push_back(here);
                m_restSent = true;
            }
            if (m_stillWanted && frames.empty()) frames.push_back(here);
            m_stillWanted = false;
            const bool playing = m_mode == 4296 && m_speed == 1.0;
            lastSpeed = m_speed;
            if (!frames.empty() && !m_subscribers.empty()) {
                lock.unlock();
                for (int64_t f : frames) {
                    m_tape->draw(f, picture);
                    if (playing) m_tape->sound(f, pcm);
                    dispatch(f, speed, picture, playing ? &pcm : nullptr);
                }
                lock.lock();
                lastSent = frames.back();
            }
            if (m_quit) break;
            const double wait =
                m_speed != 0 ? std::clamp(period - (m_options.clock->now() - m_t0), 0.001, period)
                             : 0.25;
            m_wake.wait_for(lock, std::chrono::duration<double>(wait));
        }
    }

    void dispatch(int64_t f, double speed, const movies::Pixmap& picture,
                  const std::vector<int16_t>* pcm)
    {
        const TapeOutputFormat& fmt = m_tape->format;
        TapeFrame frame;
        frame.frameNumber = f;
        const int32_t tcRate = int32_t(std::lround(double(fmt.rateNumerator) / fmt.rateDenominator));
        frame.timecode.frames = int32_t(f % tcRate);
        frame.timecode.seconds = int32_t(f / tcRate % 60);
        frame.timecode.minutes = int32_t(f / tcRate / 60 % 60);
        frame.timecode.hours = int32_t(f / tcRate / 3600);
        frame.rateNumerator = fmt.rateNumerator;
        frame.rateDenominator = fmt.rateDenominator;
        frame.speed = speed;
        frame.picture = &picture;
        if (pcm) {
            frame.pcm = pcm->data();
            frame.pcmFrames = int32_t(pcm->size() / kChannels);
        }
        std::lock_guard dispatchLock(m_dispatch);
        std::vector<int64_t> tokens;
        {
            std::lock_guard lock(m_lock);
            for (const auto& [token, cb] : m_subscribers)
                tokens.push_back(token);
        }
        for (int64_t token : tokens) {
            std::shared_ptr<TapeDeckOutput::Callback> cb;
            {
                std::lock_guard lock(m_lock);
                auto it = m_subscribers.find(token);
                if (it == m_subscribers.end()) continue;
                cb = it->second;
            }
            (*cb)(frame);
        }
    }

    SoftwareTapeDeckOptions m_options;
    std::mutex m_lock;     // the transport, the subscriber list
    std::mutex m_dispatch; // held while callbacks run
    std::condition_variable m_wake;
    std::unique_ptr<Tape> m_tape;
    int32_t m_mode = 4297;
    double m_rate = 1.0;  // shuttle rate
    double m_speed = 0;   // the tape's speed now (× normal)
    double m_pos = 0;     // frames from the tape's beginning
    double m_t0 = 0;      // clock time of m_pos
    bool m_restSent = true;
    bool m_stillWanted = false;
    bool m_quit = false;
    int64_t m_lastToken = 0;
    std::map<int64_t, std::shared_ptr<TapeDeckOutput::Callback>> m_subscribers;
    std::thread m_thread;
};

// ---- the filter ------------------------------------------------------------------------

class TimecodePin : public Pin {
public:
    explicit TimecodePin(Filter& owner) : Pin(owner, "Timecode", PinDirection::output) {}
    std::vector<MediaType> mediaTypes() const override
    {
        MediaType t;
        t.major = MajorType::timecode;
        return {t};
    }
    HResult checkMediaType(const MediaType& t) const override
    {
        return t.major == MajorType::timecode ? kOk : kTypeNotAccepted;
    }
};

class SoftwareTapeDeckFilter : public Filter,
                               public ExtDevice,
                               public ExtTransport,
                               public TimecodeReader,
                               public TapeDeckOutput {
public:
    explicit SoftwareTapeDeckFilter(std::shared_ptr<DeckMachine> machine)
        : m_machine(std::move(machine)), m_pin(*this)
    {
    }
    Guid classId() const override { return kSoftwareTapeDeckClassId; }
    std::vector<Pin*> pins() override { return {&m_pin}; }
    void* queryInterface(const Guid& iid) override
    {
        if (iid == kIID_ExtDevice) return static_cast<ExtDevice*>(this);
        if (iid == kIID_ExtTransport) return static_cast<ExtTransport*>(this);
        if (iid == kIID_TimecodeReader) return static_cast<TimecodeReader*>(this);
        if (iid == kIID_TapeDeckOutput) return static_cast<TapeDeckOutput*>(this);
        return nullptr;
    }

    // ExtDevice
    HResult capability(int32_t cap, int32_t* value) override
    {
        if (!value) return kPointer;
        if (cap == kCapDeviceType) {
            *value = kDeviceTypeVcr;
            return kOk;
        }
        if (cap == kCapTimecodeFormat) return m_machine->timecodeFormat(value);
        return kNotImplemented;
    }
    HResult devicePort(int32_t* port) override
    {
        if (!port) return kPointer;
        *port = m_machine->port;
        return kOk;
    }
    HResult setDevicePort(int32_t port) override
    {
        if (port < 0) return kInvalidArg;
        m_machine->port = port;
        return kOk;
    }

    // ExtTransport
    HResult mode(int32_t* mode) override { return mode ? m_machine->mode(mode) : kPointer; }
    HResult setMode(int32_t mode) override { return m_machine->setMode(mode); }
    HResult rate(double* rate) override
    {
        if (!rate) return kPointer;
        *rate = m_machine->rate();
        return kOk;
    }
    HResult setRate(double rate) override { return m_machine->setRate(rate); }
    HResult basicParameter(int32_t parameter, int32_t* value) override
    {
        auto it = m_machine->basicParameters.find(parameter);
        if (!value || it == m_machine->basicParameters.end()) return kFail;
        *value = it->second;
        return kOk;
    }
    HResult setBasicParameter(int32_t parameter, int32_t value) override
    {
        m_machine->basicParameters[parameter] = value;
        return kOk;
    }

    // TimecodeReader
    HResult timecode(TimecodeSample* sample) override
    {
        return sample ? m_machine->timecode(sample) : kPointer;
    }

    // TapeDeckOutput
    int64_t subscribe(Callback callback) override
    {
        return m_machine->subscribe(std::move(callback));
    }
    void unsubscribe(int64_t token) override { m_machine->unsubscribe(token); }
    void requestStill() override { m_machine->requestStill(); }
    TapeOutputFormat format() override { return m_machine->format(); }

private:
    std::shared_ptr<DeckMachine> m_machine;
    TimecodePin m_pin;
};

// ---- the generated tape's picture --------------------------------------------------------

constexpr int kCodeCells = 26; // a white and a black mark, then 24 bits, most significant first

// Segments a..g of the digits 0-9.
constexpr uint8_t kSegments[10] = {0x3F, 0x06, 0x5B, 0x4F, 0x66, 0x6D, 0x7D, 0x07, 0x7F, 0x6F};

void drawDigit(movies::Pixmap& p, int x, int y, int w, int h, int digit, uint32_t colour)
{
    const int t = std::max(2, w / 5);
    const int half = h / 2;
    const movies::Rect seg[7] = {
        {x, y, x + w, y + t},                       // a
        {x + w - t, y, x + w, y + half},            // b
        {x + w - t, y + half, x + w, y + h},        // c
        {x, y + h - t, x + w, y + h},               // d
        {x, y + half, x + t, y + h},                // e
        {x, y, x + t, y + half},                    // f
        {x, y + half - t / 2, x + w, y + half + t - t / 2}, // g
    };
    for (int s = 0; s < 7; ++s)
        if (kSegments[digit] & (1 << s)) p.fill(seg[s], colour);
}

} // namespace

std::shared_ptr<DeckClock> steadyDeckClock() { return std::make_shared<SteadyClock>(); }

void drawGeneratedTapeFrame(int64_t frameNumber, int32_t rateNumerator, int32_t rateDenominator,
                            movies::Pixmap& p)
{
    const int w = p.width(), h = p.height();
    if (w <= 0 || h <= 0) return;
    // Colour bars that move one pixel per frame.
    static constexpr uint32_t bars[7] = {
        movies::argb(255, 192, 192, 192), movies::argb(255, 192, 192, 0),
        movies::argb(255, 0, 192, 192),   movies::argb(255, 0, 192, 0),
        movies::argb(255, 192, 0, 192),   movies::argb(255, 192, 0, 0),
        movies::argb(255, 0, 0, 192)};
    const int band = h / 8;
    for (int y = band; y < h; ++y) {
        uint32_t* row = p.row(y);
        for (int x = 0; x < w; ++x)
            row[x] = bars[((x + frameNumber) % w) * 7 / w];
    }
    // The frame number as a binary code in the top band.
    p.fill(movies::Rect{0, 0, w, band}, movies::argb(255, 0, 0, 0));
    const uint32_t white = movies::argb(255, 255, 255, 255);
    for (int cell = 0; cell < kCodeCells; ++cell) {
        const bool on = cell == 0 || (cell >= 2 && ((frameNumber >> (25 - cell)) & 1));
        if (on) p.fill(movies::Rect{cell * w / kCodeCells, 0, (cell + 1) * w / kCodeCells, band},
                       white);
    }
    // The timecode, large, on a black box.
    const int32_t fps = std::max<int32_t>(
        1, int32_t(std::lround(double(rateNumerator) / std::max(1, rateDenominator))));
    const int64_t f = std::max<int64_t>(0, frameNumber);
    const int64_t parts[4] = {f / fps / 3600, f / fps / 60 % 60, f / fps % 60, f % fps};
    const int dw = w / 16, dh = h / 5, gap = dw / 3;
    const int total = 8 * dw + 7 * gap + 3 * gap * 2;
    int x = (w - total) / 2;
    const int y = (h - dh) / 2;
    p.fill(movies::Rect{x - gap * 2, y - gap * 2, x + total + gap * 2, y + dh + gap * 2},
           movies::argb(255, 0, 0, 0));
    for (int i = 0; i < 4; ++i) {
        const int64_t v = parts[i] % 100;
        drawDigit(p, x, y, dw, dh, int(v / 10), white);
        x += dw + gap;
        drawDigit(p, x, y, dw, dh, int(v % 10), white);
        x += dw + gap;
        if (i < 3) {
            const int dot = std::max(2, dw / 5);
            p.fill(movies::Rect{x + gap / 2, y + dh / 4, x + gap / 2 + dot, y + dh / 4 + dot},
                   white);
            p.fill(movies::Rect{x + gap / 2, y + 3 * dh / 4 - dot, x + gap / 2 + dot,
                                y + 3 * dh / 4},
                   white);
            x += gap * 2;
        }
    }
}

int64_t readGeneratedTapeFrameNumber(const movies::Pixmap& p)
{
    const int w = p.width(), h = p.height();
    if (w < kCodeCells * 4 || h < 16) return -1;
    const int y = h / 16; // the middle of the top band
    auto bright = [&](int cell) {
        const int x = (2 * cell + 1) * w / (2 * kCodeCells);
        const uint32_t v = p.pixel(x, y);
        return movies::redOf(v) + movies::greenOf(v) + movies::blueOf(v) > 3 * 128;
    };
    if (!bright(0) || bright(1)) return -1;
    int64_t n = 0;
    for (int cell = 2; cell < kCodeCells; ++cell)
        n = (n << 1) | (bright(cell) ? 1 : 0);
    return n;
}

void registerSoftwareTapeDeck(FilterClassRegistry& registry, SoftwareTapeDeckOptions options)
{
    struct Slot {
        std::mutex lock;
        std::weak_ptr<DeckMachine> machine;
        SoftwareTapeDeckOptions options;
    };
    auto slot = std::make_shared<Slot>();
    slot->options = std::move(options);
    registry.registerClass({kSoftwareTapeDeckClassId,
                            kSoftwareTapeDeckName,
                            kMeritDoNotUse,
                            FilterCategory::other,
                            {{"Timecode", false, true, MajorType::timecode, SubType::none}},
                            [slot]() -> std::shared_ptr<Filter> {
                                std::lock_guard lock(slot->lock);
                                std::shared_ptr<DeckMachine> m = slot->machine.lock();
                                if (!m) {
                                    m = std::make_shared<DeckMachine>(slot->options);
                                    slot->machine = m;
                                }
                                return std::make_shared<SoftwareTapeDeckFilter>(std::move(m));
                            }});
}

} // namespace zef::graph
