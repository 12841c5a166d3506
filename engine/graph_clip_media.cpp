#include "engine/graph_clip_media.h"

#include "platform/graph/file_source.h"

#include <algorithm>

namespace zef {

GraphClipMedia::GraphClipMedia(std::unique_ptr<FDirectShowSource> readerA,
                               std::unique_ptr<FDirectShowSource> readerB)
    : m_readerA(std::move(readerA)), m_readerB(std::move(readerB))
{
}

void GraphClipMedia::setDisplayClip(const movies::Rect& rect)
{
    m_displayClip = rect;
    if (!m_readerA) return;
    const movies::ImageDescription d = m_readerB->videoDescription();
    if (d.width <= 0 || d.height <= 0) return;
    auto fraction = [](int32_t v, int32_t size) {
        return movies::Fixed((int64_t(v) << 16) / size);
    };
    m_readerA->setSourceRect({fraction(rect.left, d.width), fraction(rect.top, d.height),
                              fraction(rect.right, d.width), fraction(rect.bottom, d.height)});
}

bool GraphClipMedia::drawFrame(const EditTime& t, uint8_t* pixels, int32_t width, int32_t height)
{
    if (!pixels || width <= 0 || height <= 0) return false;
    const int64_t mediaTime = std::max<int64_t>(0, t.ticks()) * graph::kUnitsPerSecond / 600;
    return m_readerB->fetchFrame(mediaTime, pixels, width, height, width * 4, true);
}

bool GraphClipMedia::frameStarts(int64_t from, int64_t to, std::vector<int64_t>& starts) const
{
    std::lock_guard lock(m_cacheLock);
    if (from != m_cachedFrom || to != m_cachedTo) {
        std::vector<int64_t> found;
        if (!graph::videoFrameStarts(m_readerB->path(), from, to, found)) return false;
        m_cachedStarts = std::move(found);
        m_cachedFrom = from;
        m_cachedTo = to;
    }
    starts = m_cachedStarts;
    return !starts.empty();
}

GraphClipReaders::GraphClipReaders(const graph::FilterClassRegistry& registry, bool withDisplay,
                                   FDirectShowSource::Display display)
    : m_registry(registry), m_withDisplay(withDisplay), m_display(std::move(display))
{
}

std::unique_ptr<ClipMedia> GraphClipReaders::open(const std::string& path, GraphMediaInfo& info)
{
    std::unique_ptr<FDirectShowSource> a;
    if (m_withDisplay) {
        a = std::make_unique<FDirectShowSource>(m_registry);
        if (!a->open(path, true, m_display)) return nullptr;
    }
    auto b = std::make_unique<FDirectShowSource>(m_registry);
    if (!b->open(path, false)) return nullptr;
    info = GraphMediaInfo{};
    info.hasVideo = b->hasVideo();
    info.hasAudio = b->hasAudio();
    if (info.hasVideo) {
        info.framesPerSecond = b->frameRate();
        info.frameCount = int32_t(std::clamp<int64_t>(b->frameCount(), 0, INT32_MAX));
        info.image = b->videoDescription();
    }
    if (info.hasAudio) {
        info.sound = b->soundDescription();
        const int64_t frames =
            b->duration() * int64_t(info.sound.sampleRate >> 16) / graph::kUnitsPerSecond;
        info.audioSampleCount = int32_t(std::clamp<int64_t>(frames, 0, INT32_MAX));
    }
    return std::make_unique<GraphClipMedia>(std::move(a), std::move(b));
}

} // namespace zef
