#include "engine/effect_catalogue.h"
#include "engine/effect_tracks.h"
#include "engine/item_tracks.h"
#include "model/project.h"
#include "model/zef_exception.h"
#include "platform/movies/audio_fade.h"
#include "platform/movies/compositor/compositor.h"
#include "platform/movies/effects/effect_description.h"
#include "platform/movies/input_map.h"
#include "platform/movies/tween_sample.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace zef;
using namespace zef::movies;

namespace {

std::vector<uint8_t> leaf(const AtomContainer& c, QTAtomType type, QTAtomID id)
{
    std::vector<uint8_t> out;
    c.getAtomData(c.findChildByID(kParentAtomIsContainer, type, id), out);
    return out;
}

std::vector<uint8_t> bytes(const char* s) { return std::vector<uint8_t>(s, s + std::strlen(s)); }

} // namespace

TEST(EffectDescription, DefaultDescriptionAtoms)
{
    EffectRegistry registry = EffectRegistry::withBuiltIns();
    FEffectCatalogue catalogue(registry);
    ASSERT_EQ(catalogue.buildCatalogue(), noErr);
    for (int32_t sources : {0, 1, 2}) {
        CPluginQT entry;
        entry.effectType = fourcc("dslv");
        entry.sources = sources;
        AtomContainer c;
        ASSERT_EQ(AtomContainer::fromHandle(catalogue.makeEffectDescription(entry), c), noErr);
        EXPECT_EQ(c.atomCount(), size_t(1 + sources));
        EXPECT_EQ(leaf(c, fourcc("what"), 1), bytes("dslv"));
        EXPECT_EQ(leaf(c, fourcc("src "), 1), sources >= 1 ? bytes("srcA") : bytes(""));
        EXPECT_EQ(leaf(c, fourcc("src "), 2), sources >= 2 ? bytes("srcB") : bytes(""));
    }
}

namespace {

struct MovieFixture : ::testing::Test {
    Movie movie;
    BuildContext ctx;
    void SetUp() override
    {
        ctx.movie = &movie;
        ctx.width = 40;
        ctx.height = 30;
        ctx.registry = &builtInEffects();
    }
    Track* colourTrack(uint8_t r, uint8_t g, uint8_t b, TimeValue start, TimeValue duration,
                       int16_t layer = 0)
    {
        Track* t = newBuilderTrack(ctx, VideoMediaType, layer);
        EXPECT_EQ(appendColourSample(*t, r, g, b, start, duration), noErr);
        return t;
    }
    uint32_t pixelAt(TimeValue t, int x = 20, int y = 15)
    {
        EvaluationContext ec;
        Pixmap out;
        EXPECT_EQ(evaluate(ec, movie, t, out), noErr);
        return out.isEmpty() ? 0 : out.pixel(x, y) & 0xFFFFFF;
    }
};

} // namespace

TEST_F(MovieFixture, InputMapEntriesAndReferences)
{
    Track* a = colourTrack(255, 0, 0, 0, 600);
    Track* b = colourTrack(0, 0, 255, 0, 600);
    Track* fade = newBuilderTrack(ctx, TweenMediaType, 0);
    Track* effect = newBuilderTrack(ctx, VideoMediaType, 0);
    addImageInput(*effect, *a, kSourceA);
    addImageInput(*effect, *b, kSourceB);
    attachModifier(*effect, *fade, kTrackModifierTypeVolume);

    std::vector<InputMapEntry> entries;
    ASSERT_EQ(readInputMap(effect->media()->inputMap(), entries), noErr);
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0], (InputMapEntry{1, fourcc("vide"), fourcc("srcA")}));
    EXPECT_EQ(entries[1], (InputMapEntry{2, fourcc("vide"), fourcc("srcB")}));
    EXPECT_EQ(entries[2], (InputMapEntry{3, 3, 0}));
    EXPECT_EQ(effect->reference(fourcc("ssrc"), 1), a);
    EXPECT_EQ(effect->reference(fourcc("ssrc"), 3), fade);
    // The 'in' atom of a modifier has a 'ty' child and no 'dtst'.
    const AtomContainer& map = effect->media()->inputMap();
    QTAtom in = map.findChildByID(kParentAtomIsContainer, 0x696E, 3);
    ASSERT_NE(in, 0u);
    EXPECT_EQ(map.countChildrenOfType(in, fourcc("dtst")), 0);

    // A track of another movie cannot be wired in.
    Movie other;
    Track* foreign = other.newTrack(0, 0, 0);
    other.newTrackMedia(foreign, VideoMediaType, 600);
    auto failure = [&](Track& track, const Track& input) -> std::string {
        try {
            attachModifier(track, input, kTrackModifierTypeMatrix);
        } catch (const ZEFException& e) {
            return e.what();
        }
        return "no exception";
    };
    EXPECT_EQ(failure(*effect, *foreign), "Cannot add track reference to input map");

    // An input map that cannot be read: an 'in' atom without its type, or no media at all.
    AtomContainer broken = effect->media()->inputMap();
    broken.insertChild(kParentAtomIsContainer, 0x696E, 9, 0, {});
    effect->media()->setInputMap(broken);
    EXPECT_EQ(failure(*effect, *fade), "Cannot create atom container for effect track");
    EXPECT_EQ(failure(*movie.newTrack(0, 0, 0), *fade),
              "Cannot create atom container for effect track");
}

TEST(TweenSamples, MatrixTranslationBecomesRoundedPixels)
{
    MatrixRecord m = MatrixRecord::identity();
    m.m[2][0] = 500 << 16;    // half the width
    m.m[2][1] = -(250 << 16); // a quarter of the height upwards
    MatrixRecord p = pixelMatrix(m, 720, 576);
    EXPECT_EQ(p.m[2][0], (int64_t(500 << 16) * 720 + 500) / 1000);
    EXPECT_EQ(p.m[2][0], 360 << 16);
    EXPECT_EQ(p.m[2][1], (int64_t(-(250 << 16)) * 576 + 500) / 1000);
    EXPECT_EQ(p.m[0][0], m.m[0][0]);
    // Large values do not overflow 32 bits on the way.
    m.m[2][0] = 0x7FFF0000;
    EXPECT_EQ(pixelMatrix(m, 1000, 1).m[2][0], 0x7FFF0000);

    Media media(TweenMediaType, 600);
    ASSERT_EQ(addMatrixTween(media, m, std::nullopt, 300, 1000, 1), noErr);
    std::vector<uint8_t> data;
    ASSERT_EQ(media.getSampleData(0, data), noErr);
    auto v = readTweenSample(data);
    ASSERT_TRUE(v);
    EXPECT_EQ(v->type, kTweenTypeMatrix);
    EXPECT_EQ(v->matrixStart.m, pixelMatrix(m, 1000, 1).m);
    EXPECT_EQ(v->matrixEnd.m, v->matrixStart.m);
    EXPECT_EQ(media.sample(0)->duration, 300);
    EXPECT_EQ(media.sampleDescription(1).bytes().size(), 16u);
}

TEST(TweenSamples, CropRegionAndFades)
{
    const std::array<Fixed, 4> crop = {0x4000, 0x8000, 0xC000, 0x10000};
    Rect r = cropPixels(crop, 320, 240);
    EXPECT_EQ(r.left, 80);
    EXPECT_EQ(r.top, 120);
    EXPECT_EQ(r.right, 240);
    EXPECT_EQ(r.bottom, 240);
    Media media(TweenMediaType, 600);
    ASSERT_EQ(addRegionTween(media, crop, 100, 320, 240), noErr);
    std::vector<uint8_t> data;
    ASSERT_EQ(media.getSampleData(0, data), noErr);
    auto v = readTweenSample(data);
    ASSERT_TRUE(v && v->crop);
    EXPECT_EQ(*v->crop, r);

    Media fades(TweenMediaType, 600);
    ASSERT_EQ(addFadeTweens(fades, 80, 0, 30), noErr);
    ASSERT_EQ(fades.sampleCount(), 2); // the empty middle part is left out
    FadeTween in, out;
    fades.getSampleData(0, data);
    ASSERT_EQ(readFadeTween(data, in), noErr);
    fades.getSampleData(1, data);
    ASSERT_EQ(readFadeTween(data, out), noErr);
    EXPECT_EQ(in.start, 0);
    EXPECT_EQ(in.end, kFixed1);
    EXPECT_EQ(out.start, kFixed1);
    EXPECT_EQ(out.end, 0);
    EXPECT_EQ(fades.sample(0)->duration, 80);
    EXPECT_EQ(fades.sample(1)->duration, 30);
}

TEST_F(MovieFixture, EffectSampleOfAnUnknownTypeFails)
{
    Track* t = newBuilderTrack(ctx, VideoMediaType, 0);
    EXPECT_EQ(appendEffectSample(ctx, *t, fourcc("nope"), fourcc("appl"), 2, 0, 600),
              cantOpenHandler);
    EXPECT_EQ(t->media()->sampleCount(), 0);
    ASSERT_EQ(appendEffectSample(ctx, *t, fourcc("solc"), fourcc("appl"), 0, 600, 300), noErr);
    EXPECT_EQ(t->offset(), 600);
    EXPECT_EQ(t->duration(), 900);
    auto desc = t->media()->imageDescription(1);
    ASSERT_TRUE(desc);
    EXPECT_EQ(desc->cType, fourcc("solc"));
    EXPECT_EQ(desc->width, 40);
    EXPECT_EQ(desc->height, 30);
}

TEST(GraphicsModes, TableRowsAndColourFlags)
{
    ASSERT_EQ(kGraphicsModeTable.size(), 12u);
    const char* names[] = {"None",
                           "Blend",
                           "Add max",
                           "Add min",
                           "Transparent",
                           "Straight alpha",
                           "Pre-multiplied white alpha",
                           "Pre-multiplied black alpha",
                           "Straight alpha blend",
                           "Pre-multiplied color alpha",
                           "Source OR",
                           "Invert Colors"};
    const int32_t modes[] = {-1, 32, 37, 39, 36, 256, 257, 258, 260, 261, 1, 4};
    for (size_t i = 0; i < 12; ++i) {
        EXPECT_STREQ(kGraphicsModeTable[i].name, names[i]);
        EXPECT_EQ(kGraphicsModeTable[i].mode, modes[i]);
        EXPECT_EQ(graphicsModeRow(modes[i]), int32_t(i));
    }
    EXPECT_TRUE(kGraphicsModeTable[size_t(graphicsModeRow(36))].usesColour);
    EXPECT_FALSE(kGraphicsModeTable[size_t(graphicsModeRow(37))].usesColour);
    int colourRows = 0;
    for (const auto& row : kGraphicsModeTable)
        colourRows += row.usesColour ? 1 : 0;
    EXPECT_EQ(colourRows, 4);
    EXPECT_EQ(graphicsModeRow(64), -1);
    EXPECT_EQ(sizeof(GraphicsModeEntry), 4u + 256u + 4u);

    RGBColor c = itemColour(0x00FF8001);
    EXPECT_EQ(c.red, 0x0101);
    EXPECT_EQ(c.green, 0x8080);
    EXPECT_EQ(c.blue, 0xFFFF);
}
