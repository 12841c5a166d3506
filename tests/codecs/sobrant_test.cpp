// The codec plug-in loaded by the component manager into this program, which exports
// stand-ins of RenderFrame and RenderAudio: clip frames drawn through the compositor, clip
// sound mixed through the sound mixer, and the decompressors' own selectors.
#include "app/render_exports.h"
#include "codecs/sobrant.h"
#include "engine/clip_samples.h"
#include "model/source_item.h"
#include "platform/movies/components.h"
#include "platform/movies/compositor/compositor.h"
#include "platform/movies/image_codec.h"
#include "platform/movies/sound_decompressor.h"
#include "platform/movies/sound_mixer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

using namespace zef;
using namespace zef::movies;

namespace {

struct FrameCall {
    void* item;
    int64_t time;
    int32_t width, height, rowBytes;
    bool flip;
};
std::vector<FrameCall> g_frames;
std::vector<std::pair<void*, int64_t>> g_audio;

} // namespace

// The picture of time t: every pixel blue = t, green = its row (top-down when flip).
extern "C" bool RenderFrame(void* item, int64_t time, uint8_t* buffer, int32_t width,
                            int32_t height, int32_t rowBytes, bool flip)
{
    g_frames.push_back({item, time, width, height, rowBytes, flip});
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x) {
            uint8_t* p = buffer + size_t(y) * size_t(rowBytes) + size_t(x) * 4;
            p[0] = uint8_t(time);
            p[1] = uint8_t(flip ? y : height - 1 - y);
            p[2] = 0;
            p[3] = 255;
        }
    return true;
}

// The sound of the second starting at time t: frame n of it is (t / 600) * 1000 + n % 1000,
// on the left channel, its negative on the right.
extern "C" bool RenderAudio(void* item, int64_t time, uint8_t* buffer, int32_t frames)
{
    g_audio.emplace_back(item, time);
    auto* pcm = reinterpret_cast<int16_t*>(buffer);
    for (int32_t n = 0; n < frames; ++n) {
        pcm[2 * n] = int16_t((time / 600) * 1000 + n % 1000);
        pcm[2 * n + 1] = int16_t(-pcm[2 * n]);
    }
    return true;
}

namespace {

struct Sobrant : ::testing::Test {
    ComponentManager manager;
    ZEFSourceItem clip{nullptr, 0};

    void SetUp() override
    {
        g_frames.clear();
        g_audio.clear();
        std::vector<Component> registered;
        ASSERT_EQ(manager.registerPluginFile(ZEF_SOBRANT_PATH, &registered), noErr);
        ASSERT_EQ(registered.size(), 2u);
        MediaInfo info;
        info.rateNum = 30;
        info.frameCount = 300;
        ImageDescription d;
        d.width = 64;
        d.height = 48;
        info.imageDescription = d.toHandle();
        info.audioRate = 48000;
        clip.setMediaInfo(info);
    }
    ComponentInstance open(OSType type, OSType subType)
    {
        ComponentInstance instance = 0;
        EXPECT_EQ(manager.openDefaultComponent(type, subType, &instance), noErr);
        return instance;
    }
};

} // namespace

TEST_F(Sobrant, RegistersBothDecompressorsWithTheirNamesAndFlags)
{
    ComponentInfo image, sound;
    ASSERT_EQ(manager.getComponentInfo(
                  manager.findNextComponent(0, {fourcc("imdc"), fourcc("ZEFx"), 0, 0, 0}), image),
              noErr);
    ASSERT_EQ(manager.getComponentInfo(
                  manager.findNextComponent(0, {fourcc("sdec"), fourcc("DxSn"), 0, 0, 0}), sound),
              noErr);
    EXPECT_EQ(image.description.componentManufacturer, fourcc("krvI"));
    EXPECT_EQ(image.description.componentFlags, 0x420u);
    EXPECT_EQ(sound.description.componentFlags, 0xD0Cu);
    EXPECT_EQ(image.name, "External DXMedia");
    EXPECT_EQ(sound.info, "Decompresses DXMedia inputs");
    EXPECT_EQ(sound.version, 0x00050000u);

    const ComponentInstance codec = open(fourcc("imdc"), fourcc("ZEFx"));
    EXPECT_EQ(manager.version(codec), 1);
    EXPECT_TRUE(manager.canDo(codec, kImageCodecDrawBandSelect));
    CodecInfo info;
    ASSERT_EQ(manager.call(codec, kImageCodecGetCodecInfoSelect, {intptr_t(&info)}), noErr);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(info.typeName + 1), info.typeName[0]),
              "External DXMedia");
    EXPECT_EQ(info.vendor, fourcc("krvI"));
    EXPECT_EQ(info.formatFlags, 0x20u);
    EXPECT_EQ(info.minimumWidth, 32);

    // A destination of 16 bits per pixel is refused.
    ImageDescription desc;
    desc.depth = 32;
    CodecDecompressParams params;
    params.imageDescription = &desc;
    params.depth = 16;
    CodecCapabilities caps;
    EXPECT_EQ(manager.call(codec, kImageCodecPreflightSelect, {intptr_t(&params), intptr_t(&caps)}),
              codecConditionErr);
}

TEST_F(Sobrant, ClipFramesAreDrawnByTheEditorAtTheTimeTheyCarry)
{
    Movie movie;
    movie.setBox({0, 0, 64, 48});
    Track* video = movie.newTrack(64 << 16, 48 << 16, 0);
    ASSERT_EQ(movie.newTrackMedia(video, VideoMediaType, 600), noErr);
    ASSERT_EQ(addClipFrames(*video, clip, 100, 200, 30 << 16), noErr); // 10 frames from 100

    EvaluationContext::Options options;
    options.components = &manager;
    EvaluationContext context(options);
    Pixmap out;
    ASSERT_EQ(evaluate(context, movie, 100 + 20 * 3 + 7, out), noErr);
    ASSERT_EQ(g_frames.size(), 1u);
    EXPECT_EQ(g_frames[0].item, static_cast<void*>(&clip));
    EXPECT_EQ(g_frames[0].time, 160); // the fourth frame's own time
    EXPECT_EQ(g_frames[0].width, 64);
    EXPECT_TRUE(g_frames[0].flip);
    // Blue = the time, green = the row counted from the top.
    EXPECT_EQ(out.pixel(5, 0), 0xFF0000A0u);
    EXPECT_EQ(out.pixel(5, 47), 0xFF002FA0u);
}

TEST_F(Sobrant, EachSecondOfSoundIsFetchedOnceAndEveryPacketPlaysItsShare)
{
    Movie movie;
    Track* sound = movie.newTrack(0, 0, 256);
    ASSERT_EQ(movie.newTrackMedia(sound, SoundMediaType, 600), noErr);
    ASSERT_EQ(addClipAudio(*sound, clip, 1200, 1200), noErr); // two seconds from 2 s

    std::vector<int16_t> pcm;
    ASSERT_EQ(mixMovieSound(movie, 1200 + 300, 900, 600, 44100, 2, pcm, &manager), noErr);
    // From the middle of the first second: the fetches are by second, one each.
    ASSERT_EQ(g_audio.size(), 2u);
    EXPECT_EQ(g_audio[0].second, 1200);
    EXPECT_EQ(g_audio[1].second, 1800);
    EXPECT_EQ(g_audio[0].first, static_cast<void*>(&clip));
    // Sample-aligned: output frame k is frame 22050 + k of the first second, then the second.
    ASSERT_EQ(pcm.size(), size_t(2 * 66150));
    for (size_t k : {size_t(0), size_t(1), size_t(1469), size_t(1470), size_t(22049)}) {
        EXPECT_EQ(pcm[2 * k], int16_t(2000 + (22050 + k) % 1000)) << k;
        EXPECT_EQ(pcm[2 * k + 1], -pcm[2 * k]);
    }
    for (size_t k : {size_t(22050), size_t(22051), size_t(66149)})
        EXPECT_EQ(pcm[2 * k], int16_t(3000 + (k - 22050) % 1000)) << k;
}

TEST_F(Sobrant, PacketsWithoutTheMagicAreSilent)
{
    const ComponentInstance dec = open(fourcc("sdec"), fourcc("DxSn"));
    const Handle description = clipAudioDescription().toHandle();
    ZefSoundDecompressorBegin begin{};
    begin.size = sizeof begin;
    begin.description = description.data();
    begin.descriptionSize = uint32_t(description.size());
    begin.mediaTimeScale = 600;
    ASSERT_EQ(manager.call(dec, kSoundDecompressorBeginSelect, {intptr_t(&begin)}), noErr);
    EXPECT_EQ(begin.outputRate, 44100);
    EXPECT_EQ(begin.outputChannels, 2);

    std::vector<uint8_t> packets = clipAudioPackets(600, 2, clip);
    packets[36] = 0; // the second packet's magic
    std::vector<int16_t> out(2 * 1471, 7);
    for (int i = 0; i < 2; ++i) {
        ZefSoundDecompressorDecode d{};
        d.size = sizeof d;
        d.data = packets.data() + 36 * i;
        d.dataSize = 36;
        d.sampleTime = 20 * i;
        d.sampleDuration = 20;
        d.mediaTimeScale = 600;
        d.frameCapacity = 1471;
        d.buffer = out.data();
        ASSERT_EQ(manager.call(dec, kSoundDecompressorDecodeSelect, {intptr_t(&d)}), noErr);
        EXPECT_EQ(d.framesWritten, i == 0 ? 1470u : 0u);
    }
    EXPECT_EQ(g_audio.size(), 1u);

    // Another format is refused.
    SoundDescription other = clipAudioDescription();
    other.dataFormat = fourcc("twos");
    const Handle otherHandle = other.toHandle();
    begin.description = otherHandle.data();
    EXPECT_EQ(manager.call(dec, kSoundDecompressorBeginSelect, {intptr_t(&begin)}), -206);
}

TEST_F(Sobrant, DecompressionParametersNameTheirFormat)
{
    using zef::sobrant::AtomList;
    using zef::sobrant::CompressionInfo;
    using zef::sobrant::kSoundGetInfoSelect;
    using zef::sobrant::kSoundSetInfoSelect;
    using zef::sobrant::kSoundSetOutputSelect;
    using zef::sobrant::SoundOutput;
    const ComponentInstance dec = open(fourcc("sdec"), fourcc("DxSn"));
    EXPECT_EQ(manager.version(dec), 0x00050000);
    CompressionInfo info;
    ASSERT_EQ(manager.call(dec, kSoundGetInfoSelect, {intptr_t(fourcc("cmfa")), intptr_t(&info)}),
              noErr);
    EXPECT_EQ(info.format, fourcc("DxSn"));
    EXPECT_EQ(info.compressionID, -1);
    EXPECT_EQ(info.bytesPerPacket, 36);

    uint8_t bytes[64] = {};
    AtomList wave{bytes, sizeof bytes, 0};
    ASSERT_EQ(manager.call(dec, kSoundGetInfoSelect, {intptr_t(fourcc("wave")), intptr_t(&wave)}),
              noErr);
    ASSERT_EQ(wave.size, 30u);
    auto setWave = [&](const AtomList& list) {
        return manager.call(dec, kSoundSetInfoSelect, {intptr_t(fourcc("wave")), intptr_t(&list)});
    };
    EXPECT_EQ(setWave(wave), noErr); // its own parameters are taken back

    uint8_t other[30];
    std::memcpy(other, bytes, 30);
    std::memcpy(other + 8, "twos", 4); // 'frma' of another format
    EXPECT_EQ(setWave({other, 30, 30}), -206);
    std::memcpy(other, bytes, 30);
    other[21] = 1; // big-endian samples
    EXPECT_EQ(setWave({other, 30, 30}), -50);
    std::memcpy(other, bytes, 30);
    other[3] = 6; // an atom shorter than its header
    EXPECT_EQ(setWave({other, 30, 30}), -2106);

    // 8-bit output is offered only as 'raw '.
    SoundOutput want{fourcc("twos"), 2, 8, 44100u << 16}, got;
    EXPECT_EQ(manager.call(dec, kSoundSetOutputSelect, {intptr_t(&want), intptr_t(&got)}), -50);
    EXPECT_EQ(got.sampleSize, 16);
    want.format = fourcc("raw ");
    EXPECT_EQ(manager.call(dec, kSoundSetOutputSelect, {intptr_t(&want), intptr_t(&got)}), noErr);
}
