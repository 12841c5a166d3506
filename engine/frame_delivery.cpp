#include "engine/frame_delivery.h"

#include "engine/graph_clip_media.h"
#include "model/device.h"
#include "model/project.h"
#include "model/source_item.h"
#include "model/zef_exception.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <vector>

namespace zef {

namespace {

std::atomic<FrameDelivery*> g_delivery{nullptr};

constexpr int64_t kUnits = 10'000'000; // media time units per second

} // namespace

void registerFrameDelivery(FrameDelivery* delivery) { g_delivery = delivery; }
FrameDelivery* registeredFrameDelivery() { return g_delivery; }

ZEFSourceItem* FrameDelivery::findClip(const void* item) const
{
    if (!item) return nullptr;
    for (int32_t track = 0; track < 4; ++track) {
        const FDevice& d = m_project.device(track);
        for (size_t i = 0; i < d.size(); ++i) {
            auto* clip = dynamic_cast<ZEFSourceItem*>(d.at(i));
            if (clip && static_cast<const void*>(clip) == item) return clip;
        }
    }
    return nullptr;
}

int64_t FrameDelivery::sourceTime(const ZEFSourceItem& clip, int64_t ticks)
{
    const long double source = (long double)(ticks - clip.getStart().ticks()) / clip.factor() +
                               (long double)(clip.sourceIn().ticks());
    const long double units = std::ceil(source * kUnits / 600.0L);
    const int64_t end = clip.mediaDuration().ticks() * kUnits / 600;
    if (!(units > 0)) return 0;
    return units > (long double)end ? end : int64_t(units);
}

int32_t FrameDelivery::sourceFrames(const ZEFSourceItem& clip, int32_t frames, int32_t sourceRate)
{
    const double n = double(frames) * double(sourceRate) / (clip.factor() * 44100.0);
    return int32_t(std::clamp<double>(std::round(n), 0, INT32_MAX));
}

bool FrameDelivery::renderFrame(const void* item, int64_t time, uint8_t* buffer, int32_t width,
                                int32_t height, int32_t rowBytes, bool flip)
{
    ZEFSourceItem* clip = findClip(item);
    if (!clip || !buffer || width <= 0 || height <= 0) return false;
    if (rowBytes == 0) rowBytes = width * 4;
    if (rowBytes < width * 4) return false;
    bool openedHere = false;
    if (!clip->isOpen()) {
        try {
            clip->open(false, false, false, false);
        } catch (const ZEFException&) {
            return false;
        }
        if (!clip->isOpen()) return false;
        openedHere = clip->viaMovieToolbox();
    }
    bool ok = false;
    if (auto* graphClip = dynamic_cast<GraphClipMedia*>(clip->media())) {
        ok = graphClip->readerB().fetchFrame(sourceTime(*clip, time), buffer, width, height,
                                             rowBytes, flip);
    } else if (clip->media()) {
        // A clip the toolbox opened: its picture, top-down, turned over unless flip.
        std::vector<uint8_t> picture(size_t(width) * size_t(height) * 4);
        const EditTime t = clip->timelineToSource(EditTime(time), true);
        ok = clip->media()->drawFrame(t, picture.data(), width, height);
        if (ok)
            for (int32_t y = 0; y < height; ++y)
                std::memcpy(buffer + size_t(y) * size_t(rowBytes),
                            picture.data() + size_t(flip ? y : height - 1 - y) * size_t(width) * 4,
                            size_t(width) * 4);
    }
    if (openedHere) clip->close();
    return ok;
}

bool FrameDelivery::renderAudio(const void* item, int64_t time, uint8_t* buffer, int32_t frames)
{
    ZEFSourceItem* clip = findClip(item);
    if (!clip || !buffer || frames <= 0) return false;
    if (!clip->isOpen()) {
        try {
            clip->open(false, false, false, false);
        } catch (const ZEFException&) {
            return false;
        }
    }
    auto* graphClip = dynamic_cast<GraphClipMedia*>(clip->media());
    if (!graphClip) {
        if (clip->isOpen() && clip->viaMovieToolbox()) clip->close();
        return false;
    }
    FDirectShowSource& reader = graphClip->readerB();
    const int32_t rate = int32_t(reader.soundDescription().sampleRate >> 16);
    const int32_t source = sourceFrames(*clip, frames, rate);
    if (rate <= 0 || source < 1) return false;
    return reader.fetchAudio(sourceTime(*clip, time), reinterpret_cast<int16_t*>(buffer), source,
                             frames);
}

} // namespace zef
