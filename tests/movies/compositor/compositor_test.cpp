// The compositor on synthetic movies: effects through input maps, tweens, graphics modes,
// clip regions and layer order.
#include "scene.h"

#include "platform/movies/composite/graphics_mode.h"
#include "platform/movies/effects/effect_description.h"
#include "platform/movies/effects/effect_registry.h"
#include "platform/movies/input_map.h"
#include "platform/movies/tween_sample.h"

#include <gtest/gtest.h>

#include <thread>

namespace zef::movies::testing {
namespace {

constexpr uint32_t kRed = argb(255, 200, 40, 10);
constexpr uint32_t kBlue = argb(255, 20, 60, 240);
constexpr uint32_t kGreen = argb(255, 30, 220, 90);
constexpr uint32_t kBlack = argb(255, 0, 0, 0);

TEST(Compositor, CrossFadeMixesItsSourcesAndHidesThem)
{
    Scene s(32, 24);
    Track* a = s.solid(kRed, 0);
    Track* b = s.solid(kBlue, 0);
    // The effect covers 200..600 only; its sources last the whole movie.
    s.effect(makeEffectDescription(fourcc("dslv"), 2), fourcc("dslv"), {a, b}, 0, 200, 400);

    for (auto [t, w] : {std::pair{300, 0.25}, std::pair{400, 0.5}, std::pair{500, 0.75}}) {
        const Pixmap out = s.evaluateAt(t);
        ASSERT_EQ(out.width(), 32);
        ASSERT_EQ(out.height(), 24);
        for (auto [x, y] : {std::pair{0, 0}, std::pair{31, 23}, std::pair{16, 12}})
            EXPECT_TRUE(near(out.pixel(x, y), mix(kRed, kBlue, w)))
                << std::hex << out.pixel(x, y) << " at t=" << std::dec << t;
    }
    // Outside the effect sample the sources are not drawn on their own: black shows.
    EXPECT_EQ(s.evaluateAt(100).pixel(5, 5), kBlack);
    EXPECT_EQ(s.evaluateAt(700).pixel(5, 5), kBlack);
    EXPECT_EQ(s.context.stats().failedTracks, 0);
}

TEST(Compositor, EffectParametersTweenOverTheSample)
{
    const EffectDescriptor* solid = builtInEffects().find(fourcc("solc"));
    ASSERT_NE(solid, nullptr);
    ASSERT_FALSE(solid->params.empty());
    const ParamDescriptor& colour = solid->params.front();
    ASSERT_EQ(colour.type, ParamType::Colour);
    ParameterSet ps = ParameterSet::defaults(*solid);
    const uint32_t from = argb(255, 0, 0, 0), to = argb(255, 200, 100, 0);
    if (!colour.tweens) GTEST_SKIP() << "the solid colour does not tween";
    ASSERT_TRUE(ps.setTween(*solid, colour.code, {double(from), 0}, {double(to), 0}));
    AtomContainer desc = makeEffectDescription(fourcc("solc"), 0);
    ASSERT_EQ(setEffectParameters(desc, ps), noErr);

    Scene s(16, 16);
    s.effect(desc, fourcc("solc"), {}, 0, 0, 600);
    EXPECT_TRUE(near(s.evaluateAt(300).pixel(3, 3), mix(from, to, 0.5), 2));
    EXPECT_TRUE(near(s.evaluateAt(150).pixel(3, 3), mix(from, to, 0.25), 2));
}

TEST(Compositor, EffectOverAnEffect)
{
    Scene s(20, 20);
    Track* a = s.solid(kRed, 0);
    Track* b = s.solid(kBlue, 0);
    Track* c = s.solid(kGreen, 0);
    Track* inner =
        s.effect(makeEffectDescription(fourcc("dslv"), 2), fourcc("dslv"), {a, b}, 0, 0, 1200);
    s.effect(makeEffectDescription(fourcc("dslv"), 2), fourcc("dslv"), {inner, c}, 0, 0, 1200);
    // At 300 both cross fades are at 25%.
    const uint32_t expected = mix(mix(kRed, kBlue, 0.25), kGreen, 0.25);
    const Pixmap out = s.evaluateAt(300);
    EXPECT_TRUE(near(out.pixel(10, 10), expected, 2)) << std::hex << out.pixel(10, 10);
    EXPECT_EQ(s.context.stats().drawnTracks, 2) << "the outer effect and the background only";
}

TEST(Compositor, UnknownEffectLeavesTheTrackOut)
{
    Scene s(8, 8);
    Track* a = s.solid(kRed, 0);
    s.effect(makeEffectDescription(fourcc("zzzz"), 1), fourcc("zzzz"), {a}, 0, 0, 1200);
    const Pixmap out = s.evaluateAt(10);
    EXPECT_EQ(out.pixel(2, 2), kBlack);
    EXPECT_EQ(s.context.stats().failedTracks, 1);
}

TEST(Compositor, MatrixTweenMovesThePicture)
{
    Scene s(64, 64);
    Track* t = s.solid(kRed, 0, Rect{0, 0, 8, 8});
    // From the top-left corner to (40, 40) over 0..600; halfway it is at (20, 20).
    s.tween(
        makeMatrixTween(MatrixRecord::identity(), MatrixRecord::translation(40 << 16, 40 << 16)), t,
        kTrackModifierTypeMatrix, 0, 600);
    Pixmap out = s.evaluateAt(300);
    EXPECT_EQ(out.pixel(20, 20), kRed);
    EXPECT_EQ(out.pixel(27, 27), kRed);
    EXPECT_EQ(out.pixel(19, 19), kBlack);
    EXPECT_EQ(out.pixel(28, 28), kBlack);
    EXPECT_EQ(out.pixel(2, 2), kBlack);

    // A scaling tween: half of the 64×64 picture at the end, moved to the bottom right.
    Scene z(64, 64);
    Track* full = z.solid(kBlue, 0);
    MatrixRecord end = MatrixRecord::scaling(kFixed1 / 2, kFixed1 / 2);
    end.translate(32 << 16, 32 << 16);
    z.tween(makeMatrixTween(MatrixRecord::scaling(kFixed1 / 2, kFixed1 / 2), end), full,
            kTrackModifierTypeMatrix, 0, 600);
    out = z.evaluateAt(300); // scale 1/2 at (16, 16): covers 16..48
    EXPECT_EQ(out.pixel(16, 16), kBlue);
    EXPECT_EQ(out.pixel(47, 47), kBlue);
    EXPECT_EQ(out.pixel(15, 15), kBlack);
    EXPECT_EQ(out.pixel(48, 48), kBlack);
}

// A motion shared by an effect and its source places the picture once, by the effect; a
// source's own modifier still moves it inside the effect's picture.
TEST(Compositor, MotionSharedWithAnEffectPlacesItsSourceOnce)
{
    Scene s(64, 64);
    Track* a = s.solid(kRed, 0, Rect{0, 0, 16, 16});
    const MatrixRecord by24 = MatrixRecord::translation(24 << 16, 24 << 16);
    Track* motion = s.tween(makeMatrixTween(by24, by24), a, kTrackModifierTypeMatrix, 0, 1200);
    const MatrixRecord by8 = MatrixRecord::translation(8 << 16, 0);
    s.tween(makeMatrixTween(by8, by8), a, kTrackModifierTypeMatrix, 0, 1200);
    Track* gain = s.effect(makeEffectDescription(fourcc("gain"), 1), fourcc("gain"), {a});
    Track* filter = s.effect(makeEffectDescription(fourcc("brco"), 1), fourcc("brco"), {gain});
    ASSERT_EQ(addTrackInput(*gain, *motion, kTrackModifierTypeMatrix), noErr);
    ASSERT_EQ(addTrackInput(*filter, *motion, kTrackModifierTypeMatrix), noErr);
    const Pixmap out = s.evaluateAt(600); // 16×16 at (32, 24)
    EXPECT_EQ(out.pixel(32, 24), kRed);
    EXPECT_EQ(out.pixel(47, 39), kRed);
    EXPECT_EQ(out.pixel(31, 24) & 0xFFFFFF, 0u);
    EXPECT_EQ(out.pixel(48, 40) & 0xFFFFFF, 0u);
}

TEST(Compositor, ClipTweenAndMovieClipCrop)
{
    Scene s(40, 30);
    Track* t = s.solid(kGreen, 0);
    s.tween(makeRegionTween(Rect{0, 0, 40, 30}, Rect{10, 5, 30, 20}), t, kTrackModifierTypeClip, 0,
            1200);
    Pixmap out = s.evaluateAt(100);
    EXPECT_EQ(out.pixel(10, 5), kGreen);
    EXPECT_EQ(out.pixel(29, 19), kGreen);
    EXPECT_EQ(out.pixel(9, 5), kBlack);
    EXPECT_EQ(out.pixel(30, 19), kBlack);
    EXPECT_EQ(out.pixel(10, 20), kBlack);

    // The movie's clip region makes the box, and so the picture, smaller.
    s.movie.setClipRegion(Region(Rect{5, 0, 25, 10}));
    out = s.evaluateAt(100);
    ASSERT_EQ(out.width(), 20);
    ASSERT_EQ(out.height(), 10);
    EXPECT_EQ(out.pixel(4, 4), kBlack);  // movie x 9
    EXPECT_EQ(out.pixel(5, 5), kGreen);  // movie (10, 5)
    EXPECT_EQ(out.pixel(19, 9), kGreen); // movie (24, 9)
}

TEST(Compositor, GraphicsModesCombineLikeTheCompositeModule)
{
    const uint32_t below = argb(255, 90, 140, 200);
    const uint32_t above = argb(160, 220, 60, 120);
    const uint32_t op = 0x4080C0;
    for (int32_t mode : {0, 1, 4, 32, 36, 37, 39, 64, 256, 257, 258, 260, 261, 33, 34, 35, 38}) {
        Scene s(8, 8);
        s.solid(below, 1);
        Track* t = s.solid(above, 0);
        t->media()->setGraphicsMode(mode, RGBColor{uint16_t((op >> 16 & 255) * 257),
                                                   uint16_t((op >> 8 & 255) * 257),
                                                   uint16_t((op & 255) * 257)});
        uint32_t expected = below;
        ASSERT_EQ(compositeRow(&above, &expected, 1, mode, op), PixelStatus::Ok);
        EXPECT_TRUE(near(s.evaluateAt(0).pixel(4, 4), expected, 0))
            << "mode " << mode << ": " << std::hex << s.evaluateAt(0).pixel(4, 4) << " vs "
            << expected;
    }
}

TEST(Compositor, LayersDrawFrontToBack)
{
    Scene s(100, 100);
    Pixmap checker(100, 100);
    for (int y = 0; y < 100; ++y)
        for (int x = 0; x < 100; ++x) {
            const uint8_t g = ((x ^ y) & 8) ? 160 : 255;
            checker.setPixel(x, y, argb(255, g, g, g));
        }
    Track* board = s.picture(checker, 999);
    Track* a = s.solid(kRed, 0, Rect{10, 10, 90, 90});
    s.solid(kBlue, -3, Rect{20, 20, 80, 80});
    s.solid(kGreen, -4, Rect{30, 30, 70, 70});
    s.solid(argb(255, 255, 255, 255), -20, Rect{45, 45, 55, 55});
    s.solid(argb(255, 9, 9, 9), -2, Rect{25, 25, 26, 26}); // between B and A: hidden by B

    Pixmap out = s.evaluateAt(0);
    EXPECT_EQ(out.pixel(5, 5), kBlack) << "black background in front of the checkerboard";
    EXPECT_EQ(out.pixel(15, 15), kRed);
    EXPECT_EQ(out.pixel(25, 25), kBlue);
    EXPECT_EQ(out.pixel(35, 35), kGreen);
    EXPECT_EQ(out.pixel(50, 50), argb(255, 255, 255, 255));

    // Without layer A and the black background the checkerboard shows.
    s.background->setEnabled(false);
    a->setEnabled(false);
    out = s.evaluateAt(0);
    EXPECT_EQ(out.pixel(5, 5), argb(255, 255, 255, 255));
    EXPECT_EQ(out.pixel(12, 3), argb(255, 160, 160, 160));
    EXPECT_EQ(out.pixel(15, 15), argb(255, 255, 255, 255));
    EXPECT_EQ(out.pixel(25, 25), kBlue);

    // An opaque picture over everything hides what lies behind: those tracks are not drawn.
    board->setLayer(-30);
    out = s.evaluateAt(0);
    EXPECT_EQ(out, checker);
    EXPECT_EQ(s.context.stats().drawnTracks, 1);
    EXPECT_EQ(s.context.stats().skippedHidden, 4) << "the enabled tracks behind it";
}

TEST(Compositor, ContextsOnSeveralThreadsAgree)
{
    Scene s(48, 32);
    Track* a = s.solid(kRed, 0);
    Track* b = s.solid(kBlue, 0, Rect{8, 8, 40, 24});
    s.effect(makeEffectDescription(fourcc("dslv"), 2), fourcc("dslv"), {a, b}, 0, 0, 1200);
    Track* c = s.solid(kGreen, -3, Rect{0, 0, 8, 8});
    s.tween(
        makeMatrixTween(MatrixRecord::identity(), MatrixRecord::translation(40 << 16, 24 << 16)), c,
        kTrackModifierTypeMatrix, 0, 1200);
    std::vector<Pixmap> expected;
    for (TimeValue t = 0; t < 1200; t += 37)
        expected.push_back(s.evaluateAt(t));

    std::vector<int> mismatches(2, 0);
    auto worker = [&](int k) {
        EvaluationContext ctx;
        Pixmap out;
        for (int round = 0; round < 20; ++round) {
            for (size_t i = 0; i < expected.size(); ++i) {
                if (evaluate(ctx, s.movie, TimeValue(i) * 37, out) != noErr ||
                    !(out == expected[i]))
                    ++mismatches[size_t(k)];
            }
        }
    };
    std::thread other(worker, 1);
    worker(0);
    other.join();
    EXPECT_EQ(mismatches, (std::vector<int>{0, 0}));
}

TEST(Compositor, EffectListGroupsEffectsBySources)
{
    EffectRegistry registry = EffectRegistry::withBuiltIns();
    for (int32_t n = 0; n <= 2; ++n) {
        AtomContainer list;
        ASSERT_EQ(getEffectsList(registry, n, n, list), noErr);
        const auto expected = registry.list(n);
        ASSERT_EQ(size_t(list.countChildrenOfType(0, kEffectNameAtom)), expected.size());
        for (size_t i = 0; i < expected.size(); ++i) {
            const int16_t index = int16_t(i + 1);
            const auto name = list.atomData(list.findChildByIndex(0, kEffectNameAtom, index));
            EXPECT_EQ(std::string(name.begin(), name.end()), expected[i]->name);
            uint32_t type = 0, manu = 0;
            ASSERT_EQ(list.getAtomUInt32BE(list.findChildByIndex(0, kEffectTypeAtom, index), &type),
                      noErr);
            ASSERT_EQ(list.getAtomUInt32BE(list.findChildByIndex(0, kEffectManufacturerAtom, index),
                                           &manu),
                      noErr);
            EXPECT_EQ(type, expected[i]->code);
            EXPECT_EQ(manu, expected[i]->manufacturer);
        }
    }
    AtomContainer all;
    ASSERT_EQ(getEffectsList(registry, 0, 2, all), noErr);
    EXPECT_EQ(size_t(all.countChildrenOfType(0, kEffectNameAtom)), registry.size());
    // The first two-source effect follows every one-source effect.
    const auto first2 = all.atomData(all.findChildByIndex(
        0, kEffectNameAtom, int16_t(registry.list(0).size() + registry.list(1).size() + 1)));
    EXPECT_EQ(std::string(first2.begin(), first2.end()), registry.list(2).front()->name);
    EXPECT_EQ(getEffectsList(registry, 2, 1, all), paramErr);
    EXPECT_EQ(getEffectsList(registry, 0, 3, all), paramErr);
}

TEST(Compositor, EffectDescriptionsReadBack)
{
    AtomContainer d = makeEffectDescription(fourcc("dslv"), 2);
    EffectDescriptionInfo info;
    ASSERT_EQ(readEffectDescription(d, info), noErr);
    EXPECT_EQ(info.effectType, fourcc("dslv"));
    EXPECT_EQ(info.sources, (std::vector<FourCC>{kSourceA, kSourceB}));
    EXPECT_TRUE(info.parameters.empty());
    EXPECT_EQ(makeEffectDescription(fourcc("blur"), 1).countChildrenOfType(0, kEffectSourceAtom),
              1);
    EXPECT_EQ(makeEffectDescription(fourcc("fire"), 0).countChildrenOfType(0, kEffectSourceAtom),
              0);

    AtomContainer bad;
    bad.insertChild(0, kEffectWhatAtom, 1, 0, std::vector<uint8_t>{1, 2});
    EXPECT_EQ(readEffectDescription(bad, info), invalidAtomContainerErr);
}

} // namespace
} // namespace zef::movies::testing
