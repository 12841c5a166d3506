#include "engine/clip_samples.h"
#include "platform/storage/little_endian.h"

#include "model/source_item.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace zef {

using namespace movies;

namespace {

using storage::putLE16;
using storage::putLE32;
using storage::putLE64;

uint64_t itemReference(const ZEFSourceItem& item)
{
    return uint64_t(reinterpret_cast<uintptr_t>(&item));
}

void checkCount(int64_t count)
{
    if (count > kMaxClipSamples) throw OutOfMemory();
}

} // namespace

TimeValue clipFrameTicks(int32_t rateNum, int32_t rateDen, Fixed editRate)
{
    int64_t whole = 0;
    if (rateNum > 0 && rateDen > 0)
        whole = ((int64_t(rateNum) << 16) / rateDen + 0x1111) >> 16;
    else
        whole = (int64_t(editRate) + 0x1111) >> 16;
    if (whole < 1) whole = 30;
    return std::max<TimeValue>(1, 600 / whole);
}

Handle clipFrameDescription(int16_t width, int16_t height, int64_t frameCount,
                            const ZEFSourceItem& item)
{
    ImageDescription d;
    d.cType = kClipFrameCodec;
    d.vendor = kClipCodecVendor;
    d.temporalQuality = 512;
    d.spatialQuality = 512;
    d.width = width;
    d.height = height;
    const int64_t frames = std::max<int64_t>(0, frameCount);
    d.dataSize = int32_t(std::min<int64_t>(frames * int64_t(kClipFrameSampleSize),
                                           std::numeric_limits<int32_t>::max()));
    d.frameCount = int16_t(std::min<int64_t>(frames, std::numeric_limits<int16_t>::max()));
    d.depth = 32;
    d.clutID = -1;
    const Handle standard = d.toHandle();
    Handle h(kClipFrameDescriptionSize);
    std::copy(standard.data(), standard.data() + ImageDescription::kBaseSize, h.data());
    putLE64(h.data() + kClipItemReferenceOffset, itemReference(item));
    return h;
}

std::vector<TimeValue> clipFrameTicksOf(const ZEFSourceItem& item,
                                        const std::vector<int64_t>& sourceStarts,
                                        TimeValue spanStart, TimeValue spanEnd)
{
    std::vector<TimeValue> ticks;
    if (spanEnd <= spanStart) return ticks;
    ticks.push_back(spanStart);
    const int64_t start = item.getStart().ticks();
    const int64_t in = item.sourceIn().ticks();
    const double factor = item.factor();
    for (size_t i = 1; i < sourceStarts.size(); ++i) {
        // The first tick at or after the picture's start, on the timeline.
        TimeValue t;
        const int64_t s = sourceStarts[i];
        if (factor == 1.0) {
            // ceil(s × 600 / 10^7) exactly.
            const int64_t num = s * 600;
            const int64_t src = num >= 0 ? (num + 9'999'999) / 10'000'000 : num / 10'000'000;
            t = start + src - in;
        } else {
            const long double source = (long double)(s)*600.0L / 10'000'000.0L - in;
            t = start + TimeValue(std::ceil(source * factor));
        }
        if (t <= ticks.back()) continue;
        if (t >= spanEnd) break;
        ticks.push_back(t);
    }
    return ticks;
}

std::vector<uint8_t> clipFrameSamples(TimeValue spanStart, TimeValue frameTicks, int64_t count)
{
    checkCount(count);
    std::vector<uint8_t> bytes(size_t(std::max<int64_t>(0, count)) * kClipFrameSampleSize);
    for (int64_t i = 0; i < count; ++i)
        putLE64(bytes.data() + size_t(i) * kClipFrameSampleSize,
                uint64_t(spanStart + i * frameTicks));
    return bytes;
}

SoundDescription clipAudioDescription()
{
    SoundDescription d;
    d.dataFormat = kClipAudioCodec;
    d.dataRefIndex = 1;
    d.version = 1;
    d.numChannels = 2;
    d.sampleSize = 16;
    d.packetSize = 0;
    d.sampleRate = kClipAudioRate << 16;
    d.samplesPerPacket = 1;
    d.bytesPerPacket = uint32_t(kClipAudioPacketSize);
    d.bytesPerFrame = uint32_t(kClipAudioPacketSize);
    d.bytesPerSample = 2;
    return d;
}

std::vector<uint8_t> clipAudioPackets(TimeValue spanStart, int64_t count, const ZEFSourceItem& item)
{
    checkCount(count);
    if (count <= 0) return {};
    const int64_t lastTime = spanStart + 600 * ((count - 1) / int64_t(kClipAudioPacketsPerSecond));
    if (spanStart < 0 || lastTime > std::numeric_limits<int32_t>::max()) return {};
    std::vector<uint8_t> bytes(size_t(count) * kClipAudioPacketSize);
    const uint64_t reference = itemReference(item);
    for (int64_t i = 0; i < count; ++i) {
        uint8_t* p = bytes.data() + size_t(i) * kClipAudioPacketSize;
        putLE32(p, kClipAudioMagic);
        putLE32(p + 4, uint32_t(spanStart + 600 * (i / int64_t(kClipAudioPacketsPerSecond))));
        putLE32(p + 8, kClipAudioRate);
        putLE32(p + 12, kClipAudioPacketsPerSecond);
        putLE64(p + kClipAudioReferenceOffset, reference);
    }
    return bytes;
}

OSErr addClipFrames(Track& video, const ZEFSourceItem& item, TimeValue spanStart, TimeValue span,
                    Fixed editRate)
{
    if (span <= 0) return noErr;
    int16_t width = 0, height = 0;
    if (auto d = ImageDescription::fromHandle(item.imageDescription())) {
        width = d->width;
        height = d->height;
    }
    // Where the pictures of the span begin, when the media can tell.
    std::vector<TimeValue> ticks;
    std::vector<int64_t> starts;
    const int64_t unitsPerTick = 10'000'000 / 600;
    auto sourceOf = [&](TimeValue t) {
        const long double s = (long double)(t - item.getStart().ticks()) / item.factor() +
                              (long double)(item.sourceIn().ticks());
        return int64_t(std::max<long double>(0, s) * 10'000'000.0L / 600.0L);
    };
    if (item.media() && item.media()->frameStarts(
                            sourceOf(spanStart), sourceOf(spanStart + span) + unitsPerTick, starts))
        ticks = clipFrameTicksOf(item, starts, spanStart, spanStart + span);

    TimeValue at = 0;
    if (ticks.empty()) {
        const TimeValue frame = clipFrameTicks(item.mediaRateNum(), item.mediaRateDen(), editRate);
        const int64_t count = span / frame;
        if (count == 0) return noErr;
        checkCount(count);
        const std::vector<uint8_t> samples = clipFrameSamples(spanStart, frame, count);
        if (OSErr err = video.media()->addSample(samples, frame, int32_t(count),
                                                 clipFrameDescription(width, height, count, item),
                                                 true, &at))
            return err;
        if (OSErr err = video.insertMedia(0, at, count * frame)) return err;
        return video.setOffset(spanStart);
    }

    // One sample per picture; runs of equal length go in one call.
    const int64_t count = int64_t(ticks.size());
    checkCount(count);
    const Handle description = clipFrameDescription(width, height, count, item);
    std::vector<uint8_t> data(kClipFrameSampleSize);
    bool first = true;
    for (size_t i = 0; i < ticks.size();) {
        const TimeValue length =
            (i + 1 < ticks.size() ? ticks[i + 1] : spanStart + span) - ticks[i];
        size_t j = i + 1;
        while (j < ticks.size() &&
               (j + 1 < ticks.size() ? ticks[j + 1] : spanStart + span) - ticks[j] == length)
            ++j;
        data.resize((j - i) * kClipFrameSampleSize);
        for (size_t k = i; k < j; ++k)
            putLE64(data.data() + (k - i) * kClipFrameSampleSize, uint64_t(ticks[k]));
        TimeValue sampleAt = 0;
        if (OSErr err = video.media()->addSample(data, length, int32_t(j - i),
                                                 first ? description : Handle(), true, &sampleAt))
            return err;
        if (first) at = sampleAt;
        first = false;
        i = j;
    }
    if (OSErr err = video.insertMedia(0, at, span)) return err;
    return video.setOffset(spanStart);
}

OSErr addClipAudio(Track& sound, const ZEFSourceItem& item, TimeValue spanStart, TimeValue span)
{
    const int64_t count = span > 0 ? span / kClipAudioPacketTicks : 0;
    if (count == 0) return noErr;
    const std::vector<uint8_t> packets = clipAudioPackets(spanStart, count, item);
    if (packets.empty()) return paramErr;
    TimeValue at = 0;
    if (OSErr err = sound.media()->addSample(packets, kClipAudioPacketTicks, int32_t(count),
                                             clipAudioDescription().toHandle(), false, &at))
        return err;
    if (OSErr err = sound.insertMedia(0, at, count * kClipAudioPacketTicks)) return err;
    return sound.setOffset(spanStart);
}

} // namespace zef
