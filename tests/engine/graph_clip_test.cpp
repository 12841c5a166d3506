// Clips read through the media graph: the frame and audio samples the builder gives them.
#include "engine/clip_samples.h"
#include "engine/effect_catalogue.h"
#include "engine/item_tracks.h"
#include "engine/movie_builder.h"
#include "model/media_clip_opener.h"
#include "platform/movies/compositor/compositor.h"
#include "platform/movies/sound_mixer.h"
#include "project_items.h"
#include "tests/movies/test_media.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace zef;
using namespace zef::movies;
namespace media = zef::movies::testing::media;

namespace {

struct GraphReaders : MediaGraphReaders {
    struct Media : ClipMedia {
        bool viaMovieToolbox() const override { return false; }
    };
    std::unique_ptr<ClipMedia> open(const std::string&, GraphMediaInfo& info) override
    {
        info.hasVideo = true;
        info.hasAudio = true;
        info.framesPerSecond = 25;
        info.frameCount = 2500;
        info.image.width = 352;
        info.image.height = 288;
        info.sound.sampleRate = 48000u << 16;
        return std::make_unique<Media>();
    }
};

struct GraphClipFixture : ::testing::Test {
    EffectRegistry registry = EffectRegistry::withBuiltIns();
    FEffectCatalogue catalogue{registry};
    FProject project;
    GraphReaders readers;
    MediaClipOpener opener{&readers};
    int64_t now = 0;
    FMovieBuilder builder{project, registry, nullptr, [this] { return now; }};

    void SetUp() override
    {
        ASSERT_EQ(catalogue.buildCatalogue(), noErr);
        project.setEffectCatalogue(&catalogue);
        project.setEngine(&builder);
        project.setClipOpener(&opener);
    }
    ZEFSourceItem* clip(int32_t track, int64_t start, int64_t end)
    {
        return test::addClip(project, media::matroska(), track, start, end);
    }
    void build(int64_t rangeStart, int64_t rangeEnd)
    {
        project.renderEndFollowsProject = false;
        project.renderStart = EditTime(rangeStart);
        project.renderEnd = EditTime(rangeEnd);
        builder.ensurePreviewMovie();
        now += 1000;
        builder.update();
    }
    const TrackRecord& record(const ZEFItem& item)
    {
        return *dynamic_cast<const TrackRecord*>(item.composition());
    }
    const Media& videoMedia(const ZEFItem& item) { return *record(item).tracks().front()->media(); }
    // The little-endian value of `size` bytes at `offset` of a sample's data.
    static uint64_t field(const Media& m, int64_t sample, size_t offset, size_t size)
    {
        std::vector<uint8_t> data;
        EXPECT_EQ(m.getSampleData(sample, data), noErr);
        return data.size() < offset + size ? ~0ull : le(data.data() + offset, size);
    }
    static uint64_t le(const uint8_t* p, size_t size)
    {
        uint64_t v = 0;
        for (size_t i = size; i-- > 0;)
            v = (v << 8) | p[i];
        return v;
    }
};

} // namespace

TEST_F(GraphClipFixture, FrameAndAudioSamplesOfTheSpanInsideTheRange)
{
    ZEFSourceItem* a = clip(0, 1000, 2300); // built span [1000, 2000)
    ZEFSourceItem* outside = clip(1, 2000, 2600);
    build(0, 2000);
    const uint64_t address = uint64_t(reinterpret_cast<uintptr_t>(a));

    // 25 fps: frames of 24 ticks, 41 whole frames in 1000 ticks.
    const Media& v = videoMedia(*a);
    const Handle d = v.sampleDescription(1);
    ASSERT_EQ(d.size(), kClipFrameDescriptionSize);
    const uint8_t* p = d.data();
    // The toolbox's image description (so that it finds the decoder), then the reference.
    const auto desc = ImageDescription::fromHandle(d);
    ASSERT_TRUE(desc);
    EXPECT_EQ(desc->cType, kClipFrameCodec);
    EXPECT_EQ(desc->vendor, kClipCodecVendor);
    EXPECT_EQ(desc->spatialQuality, 512u);
    EXPECT_EQ(desc->width, 352);
    EXPECT_EQ(desc->height, 288);
    EXPECT_EQ(desc->dataSize, 8 * 41);
    EXPECT_EQ(desc->frameCount, 41);
    EXPECT_EQ(desc->depth, 32);
    EXPECT_EQ(desc->clutID, -1);
    EXPECT_EQ(le(p + 86, 8), address);
    ASSERT_EQ(v.sampleCount(), 41);
    EXPECT_EQ(v.sample(40)->duration, 24);
    EXPECT_EQ(field(v, 40, 0, 8), 1000u + 24 * 40);
    TrackPosition pos; // each frame plays at the time it carries
    ASSERT_TRUE(record(*a).tracks().front()->lookup(1000 + 24 * 7, pos));
    EXPECT_EQ(pos.sampleIndex, 7);

    // 50 packets of 20 ticks; the 30 packets of a second carry its first time.
    Track* sound = record(*a).soundTrack();
    ASSERT_NE(sound, nullptr);
    EXPECT_EQ(sound->offset(), 1000);
    const Media& s = *sound->media();
    const auto sd = s.soundDescription(1);
    ASSERT_TRUE(sd);
    EXPECT_EQ(sd->dataFormat, kClipAudioCodec);
    EXPECT_EQ(sd->sampleRate, 0xAC440000u);
    EXPECT_EQ(sd->bytesPerPacket, 36u);
    ASSERT_EQ(s.sampleCount(), 50);
    EXPECT_FALSE(s.sample(49)->sync);
    EXPECT_EQ(field(s, 29, 0, 8), 0xBADEu | (1000ull << 32));
    EXPECT_EQ(field(s, 30, 4, 4), 1600u);
    EXPECT_EQ(field(s, 49, 8, 8), 44100u | (30ull << 32));
    EXPECT_EQ(field(s, 49, 16, 8), address);
    EXPECT_EQ(field(s, 49, 24, 8) | field(s, 49, 32, 4), 0u);

    EXPECT_EQ(videoMedia(*outside).sampleCount(), 0);
    EXPECT_EQ(record(*outside).soundTrack(), nullptr);
}

TEST_F(GraphClipFixture, FrameLengthIsSixHundredOverTheWholeRate)
{
    EXPECT_EQ(clipFrameTicks(29970, 1000, 30 << 16), 20);
    EXPECT_EQ(clipFrameTicks(24000, 1001, 30 << 16), 25); // 23.976 counts as 24
    EXPECT_EQ(clipFrameTicks(15, 2, 30 << 16), 85);       // 7.5 counts as 7
    EXPECT_EQ(clipFrameTicks(0, 1, 25 << 16), 24);        // no rate: the edit rate
    EXPECT_EQ(clipFrameTicks(5000, 1, 30 << 16), 1);
}

TEST_F(GraphClipFixture, MovedOrRangeChangedClipIsStampedAgain)
{
    ZEFSourceItem* b = clip(1, 600, 1200);
    build(0, 6000);
    EXPECT_EQ(field(videoMedia(*b), 0, 0, 8), 600u);

    b->moveTo(EditTime(1800), false); // re-offsets the built tracks only
    build(0, 6000);
    EXPECT_EQ(field(videoMedia(*b), 0, 0, 8), 1800u);
    EXPECT_EQ(field(*record(*b).soundTrack()->media(), 0, 4, 4), 1800u);

    build(2000, 6000);
    EXPECT_EQ(field(videoMedia(*b), 0, 0, 8), 2000u);
    EXPECT_EQ(videoMedia(*b).sampleCount(), 16); // [2000, 2400)
}

TEST_F(GraphClipFixture, UndecodedSamplesDrawAndSoundNothing)
{
    clip(0, 0, 1200);
    build(0, 1200);
    EvaluationContext ec;
    Pixmap out;
    ASSERT_EQ(evaluate(ec, *builder.previewMovie(), 300, out), noErr);
    EXPECT_EQ(out.pixel(10, 10), 0xFF000000u); // the black background
    std::vector<int16_t> pcm;
    mixMovieSound(*builder.previewMovie(), 0, 1200, 600, 44100, 2, pcm);
    ASSERT_EQ(pcm.size(), size_t(2 * 88200));
    EXPECT_TRUE(std::all_of(pcm.begin(), pcm.end(), [](int16_t x) { return x == 0; }));
}

TEST_F(GraphClipFixture, PacketTimesBeyondTheirFieldDropTheSound)
{
    const int64_t late = int64_t(1) << 31;
    ZEFSourceItem* a = clip(0, late, late + 1200);
    build(0, late + 1200);
    EXPECT_EQ(record(*a).soundTrack(), nullptr);
    EXPECT_EQ(builder.previewMovie()->trackCount(), 7u); // base tracks and video: no fade left
    EXPECT_EQ(videoMedia(*a).sampleCount(), 50);
    EXPECT_THROW(clipFrameSamples(0, 1, kMaxClipSamples + 1), OutOfMemory);
}

TEST_F(GraphClipFixture, SamplesBeginAtTheFirstTickThatShowsEachPicture)
{
    ZEFSourceItem* a = clip(0, 600, 1800);
    a->assignSourceRange(EditTime(300), EditTime(900));
    // Source pictures (100 ns units) from the one shown at the in-point (0.5 s) on: at
    // 0.51 s, 0.599 s, 0.5999 s (the same tick as the one before: left out), 0.7 s (past the
    // span).
    EXPECT_EQ(
        clipFrameTicksOf(*a, {4'900'000, 5'100'000, 5'990'000, 5'999'000, 7'000'000}, 600, 700),
        (std::vector<TimeValue>{600, 606, 660}));
    // At half speed the timeline distances double, and a picture begins at the first tick at
    // or after its start.
    a->setScaleType(1);
    a->setScaleFactor(2.0f);
    a->assignStart(EditTime(600));
    EXPECT_EQ(clipFrameTicksOf(*a, {4'900'000, 5'010'000, 5'100'000}, 600, 3000),
              (std::vector<TimeValue>{600, 602, 612}));
}
