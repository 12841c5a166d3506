#include "engine/clip_samples.h"
#include "platform/storage/little_endian.h"

#include "model/source_item.h"

#include <algorithm>
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
    Handle h(kClipFrameDescriptionSize);
    uint8_t* p = h.data();
    putLE32(p, uint32_t(kClipFrameDescriptionSize));
    putLE32(p + 4, kClipFrameCodec);
    putLE32(p + 20, kClipCodecVendor);
    putLE32(p + 24, 512); // temporal quality
    putLE32(p + 28, 512); // spatial quality
    putLE16(p + 32, uint16_t(width));
    putLE16(p + 34, uint16_t(height));
    putLE32(p + 36, 72u << 16);
    putLE32(p + 40, 72u << 16);
    const int64_t frames = std::max<int64_t>(0, frameCount);
    putLE32(p + 44, uint32_t(std::min<int64_t>(frames * int64_t(kClipFrameSampleSize),
                                               std::numeric_limits<int32_t>::max())));
    putLE16(p + 48, uint16_t(std::min<int64_t>(frames, std::numeric_limits<int16_t>::max())));
    putLE16(p + 82, 32);     // depth
    putLE16(p + 84, 0xFFFF); // colour table -1: none
    putLE64(p + kClipItemReferenceOffset, itemReference(item));
    return h;
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
    const TimeValue frame = clipFrameTicks(item.mediaRateNum(), item.mediaRateDen(), editRate);
    const int64_t count = span > 0 ? span / frame : 0;
    if (count == 0) return noErr;
    checkCount(count);
    int16_t width = 0, height = 0;
    if (auto d = ImageDescription::fromHandle(item.imageDescription())) {
        width = d->width;
        height = d->height;
    }
    const std::vector<uint8_t> samples = clipFrameSamples(spanStart, frame, count);
    TimeValue at = 0;
    if (OSErr err =
            video.media()->addSample(samples, frame, int32_t(count),
                                     clipFrameDescription(width, height, count, item), true, &at))
        return err;
    if (OSErr err = video.insertMedia(0, at, count * frame)) return err;
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
