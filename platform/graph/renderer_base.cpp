#include "platform/graph/renderer_base.h"
#include "platform/graph/filter_graph.h"

#include <algorithm>
#include <chrono>

namespace zef::graph {

// ---- VideoWindow

#define ZEF_WINDOW_SET(field, value)                                                               \
    {                                                                                              \
        std::lock_guard lock(m_lock);                                                              \
        field = value;                                                                             \
    }                                                                                              \
    changed();

void VideoWindow::setOwner(intptr_t owner) { ZEF_WINDOW_SET(m_owner, owner) }
void VideoWindow::setStyle(uint32_t style) { ZEF_WINDOW_SET(m_style, style) }
void VideoWindow::setPosition(const Rect32& rect) { ZEF_WINDOW_SET(m_position, rect) }
void VideoWindow::setVisible(bool visible) { ZEF_WINDOW_SET(m_visible, visible) }
void VideoWindow::setAutoShow(bool on) { ZEF_WINDOW_SET(m_autoShow, on) }
void VideoWindow::setFullScreen(bool on) { ZEF_WINDOW_SET(m_fullScreen, on) }
void VideoWindow::setMessageDrain(intptr_t window) { ZEF_WINDOW_SET(m_drain, window) }
void VideoWindow::setPicture(Picture picture){ZEF_WINDOW_SET(m_picture, std::move(picture))}
#undef ZEF_WINDOW_SET

intptr_t VideoWindow::owner() const
{
    std::lock_guard lock(m_lock);
    return m_owner;
}
uint32_t VideoWindow::style() const
{
    std::lock_guard lock(m_lock);
    return m_style;
}
Rect32 VideoWindow::position() const
{
    std::lock_guard lock(m_lock);
    return m_position;
}
bool VideoWindow::visible() const
{
    std::lock_guard lock(m_lock);
    return m_visible;
}
bool VideoWindow::autoShow() const
{
    std::lock_guard lock(m_lock);
    return m_autoShow;
}
bool VideoWindow::fullScreen() const
{
    std::lock_guard lock(m_lock);
    return m_fullScreen;
}
intptr_t VideoWindow::messageDrain() const
{
    std::lock_guard lock(m_lock);
    return m_drain;
}
VideoWindow::Picture VideoWindow::picture() const
{
    std::lock_guard lock(m_lock);
    return m_picture;
}
bool VideoWindow::hasPicture() const
{
    std::lock_guard lock(m_lock);
    return !m_picture.pixels.empty();
}

void VideoWindow::setPresenter(Presenter presenter)
{
    std::lock_guard lock(m_lock);
    m_presenter = std::move(presenter);
}

void VideoWindow::changed()
{
    Presenter p;
    {
        std::lock_guard lock(m_lock);
        p = m_presenter;
    }
    if (p) p(*this);
}

// ---- RendererBase

RendererBase::RendererBase() : m_input(*this) {}
RendererBase::~RendererBase() = default;

HResult RendererBase::pause()
{
    {
        std::lock_guard lock(m_lock);
        m_state = FilterState::paused;
        m_prerolled = false;
        ++m_stateSerial;
    }
    m_changed.notify_all();
    wakeSource();
    return kOk;
}

HResult RendererBase::run(int64_t)
{
    {
        std::lock_guard lock(m_lock);
        m_state = FilterState::running;
        ++m_stateSerial;
    }
    m_changed.notify_all();
    wakeSource();
    return kOk;
}

HResult RendererBase::stop()
{
    {
        std::lock_guard lock(m_lock);
        m_state = FilterState::stopped;
        m_prerolled = false;
        ++m_stateSerial;
    }
    m_changed.notify_all();
    return kOk;
}

bool RendererBase::reachedEnd() const
{
    std::lock_guard lock(m_lock);
    return m_endOfStream;
}

bool RendererBase::wantsSample() const
{
    return m_state == FilterState::running || (m_state == FilterState::paused && !m_prerolled);
}

void RendererBase::wakeSource()
{
    if (FilterGraph* g = graph()) g->wakeSources();
}

bool RendererBase::InputPin::readyForSample() const
{
    std::lock_guard lock(m_r.m_lock);
    return m_r.m_state != FilterState::stopped && m_r.wantsSample();
}

void RendererBase::InputPin::newSegment(int64_t start)
{
    {
        std::lock_guard lock(m_r.m_lock);
        m_r.m_prerolled = false;
        m_r.m_endOfStream = false;
        ++m_r.m_stateSerial;
        m_r.segmentStarted(start);
    }
    m_r.m_changed.notify_all();
}

HResult RendererBase::receiveSample(const MediaSample& sample)
{
    {
        std::unique_lock lock(m_lock);
        if (m_state == FilterState::stopped) return kFalse;
        if (m_state == FilterState::running && paced() && graph()) {
            // Wait until the sample is due on the stream clock, or anything changes.
            const uint64_t serial = m_stateSerial;
            for (;;) {
                const int64_t due = sample.start - graph()->streamTime();
                if (due <= 0) break;
                const double rate = std::max(0.01, graph()->rate());
                const auto wait = std::chrono::microseconds(int64_t(double(due) / 10.0 / rate));
                if (m_changed.wait_for(
                        lock,
                        std::min<std::chrono::microseconds>(wait, std::chrono::milliseconds(200)),
                        [&] { return m_stateSerial != serial; }))
                    return kFalse;
            }
        }
        m_prerolled = true;
    }
    return render(sample);
}

void RendererBase::receiveEndOfStream()
{
    {
        std::lock_guard lock(m_lock);
        m_endOfStream = true;
    }
    streamEnded();
    if (FilterGraph* g = graph()) g->rendererEnded();
}

} // namespace zef::graph
