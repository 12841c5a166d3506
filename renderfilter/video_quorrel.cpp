#include "renderfilter/quorrel_filters.h"

#include "platform/graph/default_renderers.h"

#include <algorithm>
#include <cstring>

namespace zef::quorrel {

using namespace graph;

std::atomic<int> g_liveObjects{0};

VideoQuorrel::VideoQuorrel() { ++g_liveObjects; }
VideoQuorrel::~VideoQuorrel() { --g_liveObjects; }

void* VideoQuorrel::queryInterface(const Guid& iid)
{
    if (iid == kIIDFrameBuffer) return static_cast<FrameBuffer*>(this);
    if (iid == kIIDBasicVideo) return static_cast<BasicVideo*>(this);
    if (iid == kIIDVideoWindow) return &m_window;
    return nullptr;
}

bool VideoQuorrel::videoSize(int32_t& width, int32_t& height) const
{
    const Pin& in = const_cast<VideoQuorrel*>(this)->input();
    if (!in.isConnected()) return false;
    width = in.connectionMediaType().video.bmi.width;
    height = std::abs(in.connectionMediaType().video.bmi.height);
    return true;
}

HResult VideoQuorrel::checkMediaType(const MediaType& t) const
{
    if (t.format != FormatType::videoInfo) return kInvalidArg;
    if (t.major != MajorType::video) return kFail;
    if (!isRgb(t.sub)) return kFail;
    // The display check: a picture that can be shown at all.
    if (t.video.bmi.width <= 0 || t.video.bmi.height == 0) return kFail;
    return kOk;
}

HResult VideoQuorrel::run(int64_t startTime)
{
    // Only in display mode does the window show itself when the graph starts.
    if (m_display && m_window.autoShow() && !m_window.visible()) m_window.setVisible(true);
    return RendererBase::run(startTime);
}

bool VideoQuorrel::wantsSample() const
{
    {
        std::lock_guard lock(m_bufferLock);
        if (m_armed) return true;
    }
    return m_display && RendererBase::wantsSample();
}

HResult VideoQuorrel::render(const MediaSample& sample)
{
    const MediaType& type = input().connectionMediaType();
    if (type.format == FormatType::videoInfo && type.major == MajorType::video) {
        std::lock_guard lock(m_bufferLock);
        if (m_armed) {
            const int32_t w = type.video.bmi.width, h = std::abs(type.video.bmi.height);
            if (w != m_width || h != m_height || m_buffer.empty()) {
                m_buffer.assign(size_t(w) * size_t(h) * 4, 0);
                m_width = w;
                m_height = h;
            }
            // The rows in the order the sample stores them.
            if (!rgbSampleToBgra(type, sample, type.video.bmi.height < 0, m_buffer.data()))
                return kFail;
            m_endedUncaptured = false;
            m_armed->set();
            m_armed = nullptr;
            return kOk; // captured, not drawn
        }
    }
    if (m_display) draw(type, sample);
    return kOk;
}

void VideoQuorrel::draw(const MediaType& type, const MediaSample& sample)
{
    const int32_t w = type.video.bmi.width, h = std::abs(type.video.bmi.height);
    std::vector<uint8_t> full(size_t(w) * size_t(h) * 4);
    if (!rgbSampleToBgra(type, sample, true, full.data())) return;
    int32_t r[4];
    {
        std::lock_guard lock(m_bufferLock);
        std::copy(std::begin(m_sourceRect), std::end(m_sourceRect), r);
    }
    VideoWindow::Picture p;
    const bool crop = r[2] > r[0] && r[3] > r[1] && (r[0] > 0 || r[1] > 0 || r[2] < w || r[3] < h);
    if (!crop) {
        p.width = w;
        p.height = h;
        p.pixels = std::move(full);
    } else {
        r[0] = std::clamp(r[0], 0, w);
        r[2] = std::clamp(r[2], r[0], w);
        r[1] = std::clamp(r[1], 0, h);
        r[3] = std::clamp(r[3], r[1], h);
        p.width = r[2] - r[0];
        p.height = r[3] - r[1];
        p.pixels.resize(size_t(p.width) * size_t(p.height) * 4);
        for (int32_t y = 0; y < p.height; ++y)
            std::memcpy(p.pixels.data() + size_t(y) * size_t(p.width) * 4,
                        full.data() + (size_t(r[1] + y) * size_t(w) + size_t(r[0])) * 4,
                        size_t(p.width) * 4);
    }
    m_window.setPicture(std::move(p));
}

HResult VideoQuorrel::GetFrame(uint8_t* dst, int32_t width, int32_t height, int32_t rowBytes,
                               bool flip)
{
    std::lock_guard lock(m_bufferLock);
    if (m_buffer.empty() || m_endedUncaptured) return kFail;
    if (!dst) return kPointer;
    if (width == m_width && height == m_height && rowBytes == width * 4 && !flip) {
        std::memcpy(dst, m_buffer.data(), m_buffer.size());
        return kOk;
    }
    if (width <= 0 || height <= 0 || rowBytes < width * 4) return kOk; // nothing to draw
    if (width == m_width && height == m_height) {
        // The same size: whole rows, turned over with flip.
        for (int32_t y = 0; y < height; ++y)
            std::memcpy(dst + size_t(y) * size_t(rowBytes),
                        m_buffer.data() + size_t(flip ? height - 1 - y : y) * size_t(width) * 4,
                        size_t(width) * 4);
        return kOk;
    }
    // Nearest neighbour, steps in 16.16.
    const int64_t xStep = (int64_t(m_width) << 16) / width;
    const int64_t yStep = (int64_t(m_height) << 16) / height;
    for (int32_t y = 0; y < height; ++y) {
        int32_t sy = int32_t((int64_t(y) * yStep) >> 16);
        sy = std::min(sy, m_height - 1);
        if (flip) sy = m_height - 1 - sy;
        const uint32_t* src =
            reinterpret_cast<const uint32_t*>(m_buffer.data() + size_t(sy) * size_t(m_width) * 4);
        uint8_t* row = dst + size_t(y) * size_t(rowBytes);
        for (int32_t x = 0; x < width; ++x) {
            const int32_t sx = std::min(int32_t((int64_t(x) * xStep) >> 16), m_width - 1);
            std::memcpy(row + size_t(x) * 4, src + sx, 4);
        }
    }
    return kOk;
}

HResult VideoQuorrel::ArmFrameEvent(Event* event)
{
    {
        std::lock_guard lock(m_bufferLock);
        m_armed = event;
        if (event) {
            event->reset();
            m_endedUncaptured = false;
        }
    }
    wakeSource();
    return kOk;
}

void VideoQuorrel::streamEnded()
{
    // The stream has no picture for the armed capture: the wait for it ends now.
    std::lock_guard lock(m_bufferLock);
    if (!m_armed) return;
    m_endedUncaptured = true;
    m_armed->set();
    m_armed = nullptr;
}

HResult VideoQuorrel::SetSourceRect(const int32_t rect[4])
{
    if (!rect) return kPointer;
    std::lock_guard lock(m_bufferLock);
    std::copy(rect, rect + 4, m_sourceRect);
    return kOk;
}

HResult VideoQuorrel::SetDisplayMode(bool display)
{
    m_display = display;
    wakeSource();
    return kOk;
}

} // namespace zef::quorrel
