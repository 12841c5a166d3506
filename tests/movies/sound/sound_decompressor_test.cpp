#include "platform/movies/sound_decompressor.h"
#include "platform/movies/sound_mixer.h"

#include "platform/movies/big_endian.h"
#include "sound_test_util.h"

#include <gtest/gtest.h>

using namespace zef::movies;
using namespace zef::movies::testing;

namespace {

constexpr FourCC kTestFormat = fourcc("tLvl");

struct DecodeLog {
    int begins = 0;
    std::vector<int64_t> sampleTimes;
    std::vector<int32_t> discontinuities;
};

// Decodes samples of 'tLvl': 4 bytes, a big-endian level, played as that constant value on
// every channel for the sample's duration, at a fixed rate and channel count (0 = the
// mixer's preference). Refuses descriptions of any other format.
class LevelDecompressor : public ComponentImplementation {
public:
    LevelDecompressor(DecodeLog* log, int32_t rate, int32_t channels)
        : m_log(log), m_rate(rate), m_channels(channels)
    {
    }

    ComponentResult dispatch(ComponentCall& call, ComponentManager&) override
    {
        switch (call.selector) {
        case kComponentOpenSelect:
        case kComponentCloseSelect:
            return noErr;
        case kSoundDecompressorBeginSelect: {
            auto* b = reinterpret_cast<SoundDecompressorBegin*>(call.params[0]);
            auto d = SoundDescription::fromHandle(Handle(b->description, b->descriptionSize));
            if (!d || d->dataFormat != kTestFormat) return -206;
            ++m_log->begins;
            if (m_rate) b->outputRate = m_rate;
            if (m_channels) b->outputChannels = m_channels;
            m_out = *b;
            return noErr;
        }
        case kSoundDecompressorDecodeSelect: {
            auto* d = reinterpret_cast<SoundDecompressorDecode*>(call.params[0]);
            if (d->dataSize != 4) return paramErr;
            m_log->sampleTimes.push_back(d->sampleTime);
            m_log->discontinuities.push_back(d->discontinuity);
            const int16_t level = int16_t(getBE32(d->data));
            const int64_t frames = d->sampleDuration * m_out.outputRate / d->mediaTimeScale;
            d->framesWritten = uint32_t(std::min<int64_t>(frames, d->frameCapacity));
            for (size_t i = 0; i < size_t(d->framesWritten) * size_t(m_out.outputChannels); ++i)
                d->buffer[i] = level;
            return noErr;
        }
        default:
            return badComponentSelector;
        }
    }

private:
    DecodeLog* m_log;
    int32_t m_rate;
    int32_t m_channels;
    SoundDecompressorBegin m_out{};
};

Component registerLevel(ComponentManager& cm, DecodeLog* log, int32_t rate = 0,
                        int32_t channels = 0)
{
    return cm.registerComponent(
        {kSoundDecompressorType, kTestFormat, fourcc("test"), 0, 0}, "Level", "test levels", 1,
        [=] { return std::make_unique<LevelDecompressor>(log, rate, channels); });
}

// Ten samples of 0.1 s (time scale 600) with levels 1000, 2000, … 10000.
Movie* levelMovie(Movie& movie)
{
    Track* t = movie.newTrack(0, 0, 256);
    movie.newTrackMedia(t, SoundMediaType, 600);
    SoundDescription d;
    d.dataFormat = kTestFormat;
    d.numChannels = 1;
    d.sampleRate = 44100u << 16;
    for (int k = 0; k < 10; ++k) {
        uint8_t level[4];
        putBE32(level, uint32_t(1000 * (k + 1)));
        t->media()->addSample(std::span<const uint8_t>(level, 4), 60, 1, d.toHandle());
    }
    t->insertMedia(0, 0, 600);
    return &movie;
}

} // namespace

TEST(SoundDecompressor, ComponentDecodesEachSampleOnceInOrder)
{
    ComponentManager cm;
    DecodeLog log;
    registerLevel(cm, &log);
    Movie movie(600);
    levelMovie(movie);
    SoundMixer mixer(48000, 2, &cm);
    std::vector<int16_t> all, span;
    for (TimeValue t = 0; t < 600; t += 12) {
        ASSERT_EQ(mixer.mix(movie, t, 12, 600, span), noErr);
        all.insert(all.end(), span.begin(), span.end());
    }
    ASSERT_EQ(all.size(), size_t(96000));
    for (int k = 0; k < 10; ++k)
        for (int64_t n = k * 4800; n < (k + 1) * 4800; n += 97) {
            ASSERT_EQ(all[size_t(2 * n)], 1000 * (k + 1)) << n;
            ASSERT_EQ(all[size_t(2 * n + 1)], 1000 * (k + 1)) << n;
        }
    EXPECT_EQ(log.begins, 1);
    ASSERT_EQ(log.sampleTimes.size(), 10u) << "each sample decoded once";
    for (int k = 0; k < 10; ++k) {
        EXPECT_EQ(log.sampleTimes[size_t(k)], 60 * k);
        EXPECT_EQ(log.discontinuities[size_t(k)], k == 0 ? 1 : 0);
    }

    // Jumping back is a discontinuity for the decompressor.
    ASSERT_EQ(mixer.mix(movie, 120, 12, 600, span), noErr);
    EXPECT_EQ(span[0], 3000);
    EXPECT_EQ(log.discontinuities.back(), 1);
    EXPECT_EQ(cm.openInstanceCount(cm.findNextComponent(0, {kSoundDecompressorType, 0, 0, 0, 0})),
              1);
    mixer.reset();
    EXPECT_EQ(cm.openInstanceCount(cm.findNextComponent(0, {kSoundDecompressorType, 0, 0, 0, 0})),
              0)
        << "reset closes the instances";
}

TEST(SoundDecompressor, OutputOfAnotherFormatIsConverted)
{
    ComponentManager cm;
    DecodeLog log;
    registerLevel(cm, &log, 24000, 1); // mono at half the mixer's rate
    Movie movie(600);
    levelMovie(movie);
    SoundMixer mixer(48000, 2, &cm);
    std::vector<int16_t> out;
    ASSERT_EQ(mixer.mix(movie, 0, 600, 600, out), noErr);
    for (int k = 0; k < 10; ++k)
        for (int64_t n = k * 4800 + 2; n < (k + 1) * 4800 - 2; n += 31) {
            ASSERT_EQ(out[size_t(2 * n)], 1000 * (k + 1)) << n;
            ASSERT_EQ(out[size_t(2 * n + 1)], 1000 * (k + 1)) << n;
        }
}

TEST(SoundDecompressor, WithoutAnAcceptingComponentTheSampleIsSilent)
{
    Movie movie(600);
    levelMovie(movie);
    std::vector<int16_t> out;
    {
        SoundMixer mixer(48000, 1); // no component manager at all
        EXPECT_EQ(mixer.mix(movie, 0, 600, 600, out), cantOpenHandler);
        EXPECT_EQ(rms(out, 1, 0, 48000), 0.0);
    }
    // A component of the subtype that refuses the description, then one that accepts it.
    ComponentManager cm;
    DecodeLog log;
    cm.registerComponent(
        {kSoundDecompressorType, kTestFormat, fourcc("rfse"), 0, 0}, "Refuses", "", 1, [] {
            struct Refuse : ComponentImplementation {
                ComponentResult dispatch(ComponentCall& c, ComponentManager&) override
                {
                    return c.selector < 0 ? noErr : ComponentResult(-206);
                }
            };
            return std::make_unique<Refuse>();
        });
    {
        SoundMixer mixer(48000, 1, &cm);
        EXPECT_EQ(mixer.mix(movie, 0, 600, 600, out), -206);
        EXPECT_EQ(rms(out, 1, 0, 48000), 0.0);
    }
    registerLevel(cm, &log);
    SoundMixer mixer(48000, 1, &cm);
    EXPECT_EQ(mixer.mix(movie, 0, 600, 600, out), noErr);
    EXPECT_EQ(out[100], 1000);
    EXPECT_EQ(out[47000], 10000);
}
