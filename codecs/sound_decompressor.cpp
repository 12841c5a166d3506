// The sound decompressor of the clip audio format. Each packet (one sample of 1/30 second)
// names a clip and the timeline time of the second it belongs to; the 30 packets of a second
// carry the same time. The first packet of a time asks the editor for that whole second once
// (RenderAudio); every packet, that one included, then plays its own thirtieth of the second,
// found from its place in the media. So a second is fetched once, no packet is left
// unplayed, and the sound stays aligned to the sample wherever playback starts.
#include "codecs/dispatch.h"

#include "app/render_exports.h"
#include "platform/movies/sound_decompressor.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

namespace zef::sobrant {

namespace {

constexpr uint32_t kFormat = fourcc("DxSn");
constexpr uint32_t kOutputFormat = fourcc("sowt");
constexpr uint32_t kRawFormat = fourcc("raw ");
constexpr uint32_t kMagic = 0xBADE;
constexpr size_t kPacketSize = 36;
constexpr int32_t kOutputRate = 44100;
constexpr int32_t kMaxFramesPerSecond = 192000;

struct Storage {
    SoundOutput output{kOutputFormat, 2, 16, uint32_t(kOutputRate) << 16};
    int64_t lastRendered = -1; // the time of the second held
    int32_t framesPerSecond = 0;
    std::vector<int16_t> second; // stereo
};

uint32_t loadLE32(const uint8_t* p)
{
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

uint64_t loadLE64(const uint8_t* p)
{
    return uint64_t(loadLE32(p)) | (uint64_t(loadLE32(p + 4)) << 32);
}

uint32_t loadBE32(const uint8_t* p)
{
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}

void storeBE32(uint8_t* p, uint32_t v)
{
    p[0] = uint8_t(v >> 24);
    p[1] = uint8_t(v >> 16);
    p[2] = uint8_t(v >> 8);
    p[3] = uint8_t(v);
}

Storage* storageOf(ZefComponentCall& call) { return static_cast<Storage*>(call.storage); }

int32_t open(ZefComponentCall& call)
{
    auto* s = new (std::nothrow) Storage;
    if (!s) return kMemFullErr;
    call.storage = s;
    return 0;
}

int32_t close(ZefComponentCall& call)
{
    delete storageOf(call);
    call.storage = nullptr;
    return 0;
}

int32_t canDo(ZefComponentCall& call);

int32_t version(ZefComponentCall&) { return 0x00050000; }

int32_t begin(ZefComponentCall& call)
{
    auto* b = reinterpret_cast<ZefSoundDecompressorBegin*>(call.params[0]);
    if (!b || b->size < sizeof *b || !b->description || b->descriptionSize < 8) return kParamErr;
    if (loadBE32(b->description + 4) != kFormat) return kBadFormat;
    b->outputRate = kOutputRate;
    b->outputChannels = 2;
    return 0;
}

// Plays one packet's share of its second into out; returns the frames written.
uint32_t playPacket(Storage& s, const uint8_t* packet, int64_t mediaTime, int64_t duration,
                    int32_t timeScale, int16_t* out, uint32_t capacity)
{
    if (loadLE32(packet) != kMagic) return 0; // not a packet of this format: silence
    const int64_t time = int32_t(loadLE32(packet + 4));
    const uint32_t rate = loadLE32(packet + 8);
    const uint32_t perSecond = loadLE32(packet + 12);
    if (rate == 0 || perSecond == 0 || timeScale <= 0) return 0;
    const int32_t fps =
        int32_t(std::min<uint32_t>((rate / perSecond) * perSecond, uint32_t(kMaxFramesPerSecond)));
    if (time != s.lastRendered || fps != s.framesPerSecond) {
        s.second.assign(size_t(fps) * 2, 0);
        s.framesPerSecond = fps;
        void* item = reinterpret_cast<void*>(uintptr_t(loadLE64(packet + 16)));
        // A second that cannot be fetched plays as silence (and is not asked for again).
        if (!RenderAudio(item, time, reinterpret_cast<uint8_t*>(s.second.data()), fps))
            std::fill(s.second.begin(), s.second.end(), int16_t(0));
        s.lastRendered = time;
    }
    // The packet's place in its second, from its place in the media.
    const int64_t into = ((mediaTime % timeScale) + timeScale) % timeScale;
    const int64_t first = into * fps / timeScale;
    const int64_t last = std::min<int64_t>(fps, (into + duration) * fps / timeScale);
    const uint32_t frames = uint32_t(std::clamp<int64_t>(last - first, 0, capacity));
    std::memcpy(out, s.second.data() + first * 2, size_t(frames) * 4);
    return frames;
}

int32_t decode(ZefComponentCall& call)
{
    auto* d = reinterpret_cast<ZefSoundDecompressorDecode*>(call.params[0]);
    Storage* s = storageOf(call);
    if (!s || !d || d->size < sizeof *d || (!d->buffer && d->frameCapacity)) return kParamErr;
    d->framesWritten = 0;
    const size_t packets = d->data ? d->dataSize / kPacketSize : 0;
    if (packets == 0) return 0;
    const int64_t each = d->sampleDuration / int64_t(packets);
    for (size_t i = 0; i < packets && d->framesWritten < d->frameCapacity; ++i) {
        const uint32_t n =
            playPacket(*s, d->data + i * kPacketSize, d->sampleTime + int64_t(i) * each, each,
                       d->mediaTimeScale, d->buffer + size_t(d->framesWritten) * 2,
                       d->frameCapacity - d->framesWritten);
        d->framesWritten += n;
    }
    return 0;
}

int32_t setOutput(ZefComponentCall& call)
{
    auto* requested = reinterpret_cast<const SoundOutput*>(call.params[0]);
    auto* actual = reinterpret_cast<SoundOutput*>(call.params[1]);
    Storage* s = storageOf(call);
    if (!s || !requested || !actual) return kParamErr;
    if (requested->sampleSize == 8 && requested->format != kRawFormat) {
        *actual = s->output; // offers its own
        return kParamErr;
    }
    s->output = *requested;
    *actual = *requested;
    return 0;
}

int32_t getInfo(ZefComponentCall& call)
{
    const uint32_t selector = uint32_t(call.params[0]);
    if (selector == fourcc("cmfa")) {
        auto* info = reinterpret_cast<CompressionInfo*>(call.params[1]);
        if (!info) return kParamErr;
        *info =
            CompressionInfo{20, kFormat, -1, 1, uint16_t(kPacketSize), uint16_t(kPacketSize), 2, 0};
        return 0;
    }
    if (selector == fourcc("wave")) {
        auto* list = reinterpret_cast<AtomList*>(call.params[1]);
        constexpr uint32_t kSize = 12 + 10 + 8;
        if (!list || !list->data || list->capacity < kSize) return kParamErr;
        uint8_t* p = list->data;
        std::memset(p, 0, kSize);
        storeBE32(p, 12);
        storeBE32(p + 4, fourcc("frma"));
        storeBE32(p + 8, kFormat);
        storeBE32(p + 12, 10);
        storeBE32(p + 16, fourcc("enda"));
        storeBE32(p + 22, 8); // the terminator; its type is 0
        list->size = kSize;
        return 0;
    }
    return kBadComponentSelector; // for a source this decompressor does not have
}

int32_t setInfo(ZefComponentCall& call)
{
    const uint32_t selector = uint32_t(call.params[0]);
    if (selector != fourcc("wave")) return kBadComponentSelector;
    auto* list = reinterpret_cast<const AtomList*>(call.params[1]);
    if (!list || (!list->data && list->size)) return kParamErr;
    bool bigEndian = false;
    for (uint32_t pos = 0; pos < list->size;) {
        const uint32_t left = list->size - pos;
        if (left < 8) return kSiBadSoundInfo;
        const uint8_t* a = list->data + pos;
        const uint32_t size = loadBE32(a), type = loadBE32(a + 4);
        if (size < 8 || size > left) return kSiBadSoundInfo;
        if (type == 0) break;
        if (type == fourcc("frma") && (size < 12 || loadBE32(a + 8) != kFormat)) return kBadFormat;
        if (type == fourcc("enda") && size >= 10) bigEndian = (a[8] | a[9]) != 0;
        pos += size;
    }
    return bigEndian ? kParamErr : 0;
}

const DispatchTable& table()
{
    static const DispatchTable t{{-1, open},
                                 {-2, close},
                                 {-3, canDo},
                                 {-4, version},
                                 {kSoundSetOutputSelect, setOutput},
                                 {kSoundGetInfoSelect, getInfo},
                                 {kSoundSetInfoSelect, setInfo},
                                 {movies::kSoundDecompressorBeginSelect, begin},
                                 {movies::kSoundDecompressorDecodeSelect, decode}};
    return t;
}

int32_t canDo(ZefComponentCall& call) { return table().canDo(int16_t(call.params[0])) ? 1 : 0; }

} // namespace

} // namespace zef::sobrant

extern "C" __attribute__((visibility("default"))) int32_t
SobrantAudioDecompressorComponentDispatch(ZefComponentCall* call)
{
    return call ? zef::sobrant::table().dispatch(*call) : zef::sobrant::kParamErr;
}
