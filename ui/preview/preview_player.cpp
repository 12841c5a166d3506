#include "ui/preview/preview_player.h"

#include "platform/movies/text/text_renderer.h"
#include "ui/preview/audio_output.h"

#include <QMetaObject>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <mutex>

namespace zef::ui {

using movies::TimeValue;

// Hands the player's pictures to the GUI thread: one copy into a pooled image, then a queued
// call. At most one picture waits; a newer one replaces it.
class GuiFrameSink final : public movies::FrameSink {
public:
    explicit GuiFrameSink(CPreviewPlayer& owner) : m_owner(owner) {}

    void showFrame(const movies::Pixmap& picture, TimeValue t) override { hand(picture, t, false); }
    void showApproximateFrame(const movies::Pixmap& picture, TimeValue t) override
    {
        hand(picture, t, true);
    }

    // GUI thread: the waiting picture, if any.
    bool take(CPreviewPlayer::Frame& out)
    {
        std::lock_guard lock(m_mutex);
        if (!m_waiting) return false;
        out.image = std::move(m_pending.image);
        out.time = m_pending.time;
        out.approximate = m_pending.approximate;
        m_pending = {};
        m_waiting = false;
        return true;
    }

    void discard()
    {
        std::lock_guard lock(m_mutex);
        m_pending = {};
        m_waiting = false;
    }

    int64_t replaced() const
    {
        std::lock_guard lock(m_mutex);
        return m_replaced;
    }
    void resetReplaced()
    {
        std::lock_guard lock(m_mutex);
        m_replaced = 0;
    }

private:
    // An image of the size that only the pool holds (nobody draws it any more), or a new one.
    QImage buffer(int w, int h)
    {
        for (QImage& i : m_pool) {
            if (!i.isNull() && i.width() == w && i.height() == h && i.isDetached()) {
                QImage taken = std::move(i);
                i = QImage();
                return taken;
            }
        }
        return QImage(w, h, QImage::Format_RGB32);
    }

    void keep(const QImage& image)
    {
        for (QImage& i : m_pool)
            if (i.isNull()) {
                i = image;
                return;
            }
        // Full: the oldest goes (freed once the GUI lets go of it).
        std::rotate(m_pool.begin(), m_pool.begin() + 1, m_pool.end());
        m_pool.back() = image;
    }

    void hand(const movies::Pixmap& picture, TimeValue t, bool approximate)
    {
        QImage image;
        if (!picture.isEmpty()) {
            image = buffer(picture.width(), picture.height());
            if (image.isNull()) return; // out of memory: the picture is skipped
            // Pixmap pixels are 0xAARRGGBB words, as the image's; the one copy.
            const size_t row = size_t(picture.width()) * 4;
            uchar* bits = image.bits();
            if (size_t(image.bytesPerLine()) == row) {
                std::memcpy(bits, picture.data(), row * size_t(picture.height()));
            } else {
                for (int y = 0; y < picture.height(); ++y)
                    std::memcpy(bits + size_t(y) * size_t(image.bytesPerLine()), picture.row(y),
                                row);
            }
            keep(image);
        }
        bool post;
        {
            std::lock_guard lock(m_mutex);
            post = !m_waiting;
            if (m_waiting) ++m_replaced;
            m_pending.image = std::move(image);
            m_pending.time = t;
            m_pending.approximate = approximate;
            m_waiting = true;
        }
        if (post) {
            CPreviewPlayer* owner = &m_owner;
            QMetaObject::invokeMethod(
                owner, [owner] { owner->takeFrame(); }, Qt::QueuedConnection);
        }
    }

    CPreviewPlayer& m_owner;
    std::array<QImage, 4> m_pool; // touched by the presenter thread only
    mutable std::mutex m_mutex;
    CPreviewPlayer::Frame m_pending;
    bool m_waiting = false;
    int64_t m_replaced = 0;
};

CPreviewPlayer::CPreviewPlayer(QObject* parent)
    : QObject(parent), m_sink(std::make_unique<GuiFrameSink>(*this))
{
    if (auto out = CAudioOutput::open()) {
        m_soundDeviceName = out->deviceName();
        m_audio = std::move(out);
        m_soundDevice = true;
    } else {
        // Stands in for a sound card: drains about 85 ms of buffer in real time.
        m_audio = std::make_unique<movies::NullAudioSink>(48000, 2, 4096);
    }
}

CPreviewPlayer::~CPreviewPlayer() { m_player.reset(); }

void CPreviewPlayer::setServices(movies::ComponentManager* components,
                                 std::shared_ptr<movies::TextRenderer> text)
{
    m_components = components;
    m_text = std::move(text);
    m_context.reset(); // made again with these
}

void CPreviewPlayer::setMovie(std::shared_ptr<const movies::Movie> movie, TimeValue frameDuration,
                              TimeValue at, bool play)
{
    m_player.reset(); // stops its threads before the movie it reads goes
    dropPending();
    m_movie = std::move(movie);
    if (!m_movie) return;
    movies::MoviePlayer::Options o;
    o.frameDuration = frameDuration;
    o.components = m_components;
    o.text = m_text;
    // One context from movie to movie: a movie rebuilt after an edit is drawn by the decoders
    // already open, standing where they were.
    if (!m_context) m_context = movies::MoviePlayer::makeContext(o);
    o.context = m_context;
    m_player = std::make_unique<movies::MoviePlayer>(*m_movie, m_sink.get(), m_audio.get(), o);
    m_player->setEndCallback([this] {
        // On the presenter thread: tell the GUI thread.
        QMetaObject::invokeMethod(
            this, [this] { emit ended(); }, Qt::QueuedConnection);
    });
    m_player->setLooping(m_loop);
    m_player->setPlayRange(m_rangeStart, m_rangeEnd);
    if (m_rate != 1.0) m_player->setRate(m_rate); // paused: the rate of the next play
    m_player->seek(at);
    if (play) m_player->play();
}

void CPreviewPlayer::clear()
{
    if (m_player) m_time = m_player->currentTime();
    m_player.reset();
    m_movie.reset();
    dropPending();
    m_frame = Frame{};
    emit frameChanged();
}

void CPreviewPlayer::dropPending() { m_sink->discard(); }

void CPreviewPlayer::takeFrame()
{
    Frame f;
    if (!m_sink->take(f)) return;
    f.serial = m_frame.serial + 1;
    m_frame = std::move(f);
    emit frameChanged();
}

void CPreviewPlayer::play()
{
    if (m_player) m_player->play();
}

void CPreviewPlayer::pause()
{
    if (!m_player) return;
    m_player->pause();
}

void CPreviewPlayer::stop()
{
    if (!m_player) {
        m_time = m_rangeStart;
        return;
    }
    // Before the call: a picture of the new state may be handed over as soon as it returns.
    dropPending();
    m_player->stop();
}

void CPreviewPlayer::seek(TimeValue t)
{
    if (!m_player) {
        m_time = std::max<TimeValue>(0, t);
        return;
    }
    // Before the call: a picture of the new state may be handed over as soon as it returns.
    dropPending();
    m_player->seek(t);
}

void CPreviewPlayer::scrub(TimeValue t)
{
    if (!m_player) {
        m_time = std::max<TimeValue>(0, t);
        return;
    }
    // Before the call: a picture of the new state may be handed over as soon as it returns.
    dropPending();
    m_player->scrub(t);
}

void CPreviewPlayer::setRate(double rate)
{
    if (!std::isfinite(rate)) return;
    if (rate == 0) {
        pause();
        return;
    }
    m_rate = rate;
    if (!m_player) return;
    m_player->setRate(rate);
}

void CPreviewPlayer::setLooping(bool loop)
{
    m_loop = loop;
    if (m_player) m_player->setLooping(loop);
}

void CPreviewPlayer::setPlayRange(TimeValue start, TimeValue end)
{
    m_rangeStart = start;
    m_rangeEnd = end;
    if (m_player) m_player->setPlayRange(start, end);
}

TimeValue CPreviewPlayer::currentTime() const
{
    return m_player ? m_player->currentTime() : m_time;
}

bool CPreviewPlayer::isPlaying() const { return m_player && m_player->isPlaying(); }

TimeValue CPreviewPlayer::duration() const { return m_player ? m_player->duration() : 0; }

TimeValue CPreviewPlayer::frameDuration() const
{
    return m_player ? m_player->frameDuration() : 20;
}

void CPreviewPlayer::painted()
{
    if (m_frame.serial == m_paintedSerial || m_frame.image.isNull()) return;
    m_paintedSerial = m_frame.serial;
    if (!m_player || !m_player->isPlaying() || m_player->rate() != 1.0) return;
    // Where the sound is now against the span of the picture on the screen.
    const double scale = double(m_player->timeScale());
    const double sound = double(m_player->currentTime());
    const double from = double(m_frame.time), to = from + double(m_player->frameDuration());
    const double off = sound < from ? from - sound : sound >= to ? sound - to : 0.0;
    ++m_figures.painted;
    m_figures.offsetMaxMs = std::max(m_figures.offsetMaxMs, off * 1000.0 / scale);
    m_figures.offsetSumMs += (from - sound) * 1000.0 / scale;
}

CPreviewPlayer::Figures CPreviewPlayer::figures() const
{
    Figures f = m_figures;
    if (m_player) f.dropped = m_player->stats().dropped;
    f.replaced = m_sink->replaced();
    return f;
}

void CPreviewPlayer::resetFigures()
{
    m_figures = Figures{};
    if (m_player) m_player->resetStats();
    m_sink->resetReplaced();
}

} // namespace zef::ui
