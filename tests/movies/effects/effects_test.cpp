#include "platform/movies/effects/effect_registry.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>

using namespace zef::movies;

namespace {

const EffectDescriptor& effectOf(const char (&code)[5])
{
    const EffectDescriptor* d = builtInEffects().find(fourcc(code), fourcc("appl"));
    EXPECT_TRUE(d) << code;
    static EffectDescriptor none;
    return d ? *d : none;
}

// A picture with varied, opaque content.
Pixmap pattern(int32_t w, int32_t h, uint32_t salt)
{
    Pixmap p(w, h);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            uint32_t v = uint32_t(x) * 2654435761u ^ (uint32_t(y) * 40503u + salt) * 2246822519u;
            p.setPixel(x, y, 0xFF000000u | ((v >> 8) & 0xFFFFFFu));
        }
    return p;
}

Pixmap render(const EffectDescriptor& d, const ParameterSet& ps, double p, const Pixmap* a,
              const Pixmap* b, int32_t w, int32_t h, int64_t time = 0)
{
    Pixmap out(w, h, 0x5A010203u);
    EffectFrame f;
    f.progress = p;
    f.time = time;
    f.srcA = a;
    f.srcB = b;
    f.dst = &out;
    EXPECT_EQ(renderEffect(d, ps, f), PixelStatus::Ok) << fourccToString(d.code);
    return out;
}

Pixmap render(const char (&code)[5], double p, const Pixmap* a = nullptr, const Pixmap* b = nullptr,
              int32_t w = 16, int32_t h = 8)
{
    const EffectDescriptor& d = effectOf(code);
    return render(d, ParameterSet::defaults(d), p, a, b, w, h);
}

FourCC code4(const char* s)
{
    return (FourCC(uint8_t(s[0])) << 24) | (FourCC(uint8_t(s[1])) << 16) |
           (FourCC(uint8_t(s[2])) << 8) | FourCC(uint8_t(s[3]));
}

int maxChannelDiff(uint32_t a, uint32_t b)
{
    int m = 0;
    for (int sh = 0; sh < 32; sh += 8)
        m = std::max(m, std::abs(int((a >> sh) & 255) - int((b >> sh) & 255)));
    return m;
}

} // namespace

TEST(EffectRegistryTest, CatalogueBySources)
{
    const EffectRegistry& r = builtInEffects();
    EXPECT_EQ(r.list(2).size(), 13u);
    EXPECT_EQ(r.list(1).size(), 13u);
    EXPECT_EQ(r.list(0).size(), 4u);
    ASSERT_TRUE(r.find(fourcc("dslv"), fourcc("appl")));
    EXPECT_EQ(r.find(fourcc("dslv"))->name, "Cross Fade");
    EXPECT_EQ(r.findByName("cROSS fADE"), r.find(fourcc("dslv")));
    EXPECT_EQ(r.find(fourcc("gain"), fourcc("appl"))->sources, 1);
    EXPECT_FALSE(r.find(fourcc("dslv"), fourcc("xxxx")));
    EXPECT_FALSE(r.find(fourcc("nope")));
    for (const char* code : {"smpt", "smp2", "smp3", "smp4", "push", "slid", "zoom", "xplo", "mplo",
                             "matt", "ckey", "blnd"}) {
        ASSERT_TRUE(r.find(code4(code), fourcc("appl"))) << code;
        EXPECT_EQ(r.find(code4(code))->sources, 2) << code;
    }
    // Every parameter has a name and a default inside its range (what the dialog shows).
    for (int n = 0; n <= 2; ++n)
        for (const EffectDescriptor* d : r.list(n))
            for (const ParamDescriptor& p : d->params) {
                EXPECT_FALSE(p.name.empty());
                EXPECT_EQ(ParameterSet::defaults(*d).find(p.code)->start, p.defaultValue)
                    << d->name << " " << p.name;
            }
}

TEST(EffectRegistryTest, RefusesWhatNothingImplements)
{
    EffectRegistry r;
    EffectDescriptor d;
    d.code = fourcc("abcd");
    d.sources = 1;
    EXPECT_FALSE(r.add(d)) << "no render function";
    d.render = [](const EffectContext&) {};
    d.sources = 3;
    EXPECT_FALSE(r.add(d));
    d.sources = 1;
    d.params.push_back(ParamDescriptor{fourcc("xxxx"), "X", ParamType::Enum, 0, 0, {}, false, {}});
    EXPECT_FALSE(r.add(d)) << "enum without choices";
    d.params.clear();
    EXPECT_TRUE(r.add(d));
    EXPECT_FALSE(r.add(d)) << "same code and manufacturer twice";
    d.manufacturer = fourcc("othr");
    EXPECT_TRUE(r.add(d));
    // An unknown effect renders nothing and says so.
    Pixmap out(2, 2, 0);
    EffectFrame f;
    f.dst = &out;
    EXPECT_EQ(renderEffect(EffectDescriptor{}, ParameterSet{}, f), PixelStatus::UnknownEffect);
}

TEST(EffectParameters, EncodeDecodeRoundTripAndTweens)
{
    const EffectDescriptor& wipe = effectOf("smpt");
    ParameterSet ps = ParameterSet::defaults(wipe);
    ASSERT_TRUE(ps.set(wipe, fourcc("wpty"), {4, 0}));
    ASSERT_TRUE(ps.setTween(wipe, fourcc("bwid"), {2, 0}, {10, 0}));
    ASSERT_TRUE(ps.set(wipe, fourcc("bcol"), {double(0xFF123456u), 0}));
    EXPECT_FALSE(ps.setTween(wipe, fourcc("wpty"), {1, 0}, {2, 0})) << "enums do not tween";
    EXPECT_FALSE(ps.set(wipe, fourcc("zzzz"), {1, 0}));

    EncodedParameters enc = encodeParameters(ps);
    auto find = [&](const char(&c)[5]) -> const std::vector<uint8_t>& {
        for (auto& [code, bytes] : enc)
            if (code == fourcc(c)) return bytes;
        static std::vector<uint8_t> none;
        return none;
    };
    EXPECT_EQ(find("wpty"), (std::vector<uint8_t>{0, 0, 0, 4}));
    EXPECT_EQ(find("bwid"), (std::vector<uint8_t>{0, 0, 0, 2, 0, 0, 0, 10})) << "start, end";
    EXPECT_EQ(find("bcol"), (std::vector<uint8_t>{0x12, 0x12, 0x34, 0x34, 0x56, 0x56}));

    auto back = decodeParameters(wipe, enc);
    ASSERT_TRUE(back);
    EXPECT_EQ(*back, ps);
    EXPECT_EQ(back->integer(fourcc("bwid"), 0.5), 6);
    EXPECT_EQ(back->integer(fourcc("bwid"), 1.0), 10);

    // Fixed and point values are 16.16.
    const EffectDescriptor& lens = effectOf("lens");
    ParameterSet lp = ParameterSet::defaults(lens);
    lp.setTween(lens, fourcc("posn"), {0.25, 0.5}, {0.75, 1.0});
    auto lback = decodeParameters(lens, encodeParameters(lp));
    ASSERT_TRUE(lback);
    ParamValue mid = lback->valueAt(fourcc("posn"), 0.5);
    EXPECT_DOUBLE_EQ(mid.x, 0.5);
    EXPECT_DOUBLE_EQ(mid.y, 0.75);
}

TEST(EffectParameters, DecodingRejectsMalformedAndClamps)
{
    const EffectDescriptor& wipe = effectOf("smpt");
    EXPECT_FALSE(decodeParameters(wipe, {{fourcc("wpty"), {0, 0, 4}}})) << "short value";
    EXPECT_FALSE(decodeParameters(wipe, {{fourcc("wpty"), {0, 0, 0, 1, 0, 0, 0, 2}}}))
        << "a start/end pair for a parameter that does not tween";
    EXPECT_FALSE(
        decodeParameters(wipe, {{fourcc("soft"), {0, 0, 0, 1}}, {fourcc("soft"), {0, 0, 0, 1}}}));
    // Unknown atoms are ignored; out-of-range values clamp.
    auto ps = decodeParameters(wipe, {{fourcc("what"), {1, 2, 3}},
                                      {fourcc("wpty"), {0x7F, 0xFF, 0xFF, 0xFF}},
                                      {fourcc("soft"), {0xFF, 0xFF, 0xFF, 0xFF}}});
    ASSERT_TRUE(ps);
    EXPECT_EQ(ps->integer(fourcc("wpty"), 0), 12);
    EXPECT_EQ(ps->integer(fourcc("soft"), 0), 0);
    // Defaults stand for everything not given.
    EXPECT_EQ(*decodeParameters(wipe, {}), ParameterSet::defaults(wipe));
}

TEST(Effects, CrossFadeMixesLinearly)
{
    Pixmap a(16, 8, 0xFFC84010u), b(16, 8, 0xFF1080F0u);
    Pixmap out = render("dslv", 0.25, &a, &b);
    for (int32_t y = 0; y < 8; ++y)
        for (int32_t x = 0; x < 16; ++x) {
            uint32_t p = out.pixel(x, y);
            EXPECT_NEAR(int(redOf(p)), 0.75 * 0xC8 + 0.25 * 0x10, 1);
            EXPECT_NEAR(int(greenOf(p)), 0.75 * 0x40 + 0.25 * 0x80, 1);
            EXPECT_NEAR(int(blueOf(p)), 0.75 * 0x10 + 0.25 * 0xF0, 1);
            EXPECT_EQ(alphaOf(p), 255);
        }
}

TEST(Effects, LeftToRightWipeSplitsAtTheMiddle)
{
    Pixmap a(640, 4, 0xFF0000FFu), b(640, 4, 0xFFFF0000u);
    Pixmap out = render("smpt", 0.5, &a, &b, 640, 4);
    for (int32_t y = 0; y < 4; ++y)
        for (int32_t x = 0; x < 640; ++x)
            ASSERT_EQ(out.pixel(x, y), x < 320 ? 0xFFFF0000u : 0xFF0000FFu) << x;

    // A border band of 4 pixels around the edge, in the border colour.
    const EffectDescriptor& wipe = effectOf("smpt");
    ParameterSet ps = ParameterSet::defaults(wipe);
    ps.set(wipe, fourcc("bwid"), {4, 0});
    ps.set(wipe, fourcc("bcol"), {double(0xFF00FF00u), 0});
    Pixmap bordered = render(wipe, ps, 0.5, &a, &b, 640, 4);
    EXPECT_EQ(bordered.pixel(317, 0), 0xFFFF0000u);
    for (int32_t x = 318; x < 322; ++x)
        EXPECT_EQ(bordered.pixel(x, 0), 0xFF00FF00u) << x;
    EXPECT_EQ(bordered.pixel(322, 0), 0xFF0000FFu);

    // A soft edge ramps across its width.
    ps = ParameterSet::defaults(wipe);
    ps.set(wipe, fourcc("soft"), {20, 0});
    Pixmap soft = render(wipe, ps, 0.5, &a, &b, 640, 4);
    EXPECT_EQ(soft.pixel(300, 0), 0xFFFF0000u);
    EXPECT_EQ(soft.pixel(340, 0), 0xFF0000FFu);
    EXPECT_NEAR(int(redOf(soft.pixel(320, 0))), 115, 16);
    for (int32_t x = 301; x < 340; ++x)
        EXPECT_LE(redOf(soft.pixel(x, 0)), redOf(soft.pixel(x - 1, 0))) << "monotonic at " << x;
}

TEST(Effects, TransitionsRunFromAToB)
{
    // Every transition shows exactly A at the start and exactly B at the end, whatever its
    // pattern, border and soft edge.
    const Pixmap a = pattern(37, 21, 1), b = pattern(37, 21, 2);
    for (const char* code :
         {"dslv", "smpt", "smp2", "smp3", "smp4", "push", "slid", "zoom", "xplo", "mplo", "matt"}) {
        const EffectDescriptor* d = builtInEffects().find(code4(code));
        ASSERT_TRUE(d) << code;
        std::vector<ParameterSet> variants{ParameterSet::defaults(*d)};
        for (const ParamDescriptor& p : d->params) {
            if (p.type == ParamType::Enum)
                for (size_t k = 1; k < p.choices.size(); ++k) {
                    ParameterSet v = ParameterSet::defaults(*d);
                    v.set(*d, p.code, {double(k), 0});
                    if (d->findParam(fourcc("bwid"))) v.set(*d, fourcc("bwid"), {3, 0});
                    if (d->findParam(fourcc("soft"))) v.set(*d, fourcc("soft"), {5, 0});
                    variants.push_back(v);
                }
            if (p.type == ParamType::Boolean) {
                ParameterSet v = ParameterSet::defaults(*d);
                v.set(*d, p.code, {1, 0});
                variants.push_back(v);
            }
        }
        for (const ParameterSet& ps : variants) {
            EXPECT_EQ(render(*d, ps, 0.0, &a, &b, 37, 21), a) << code;
            EXPECT_EQ(render(*d, ps, 1.0, &a, &b, 37, 21), b) << code;
        }
    }
}

TEST(Effects, PushSlideAndMatrixWipeGeometry)
{
    Pixmap a = pattern(10, 4, 3), b = pattern(10, 4, 4);
    Pixmap pushed = render("push", 0.3, &a, &b, 10, 4);
    for (int32_t x = 0; x < 10; ++x)
        EXPECT_EQ(pushed.pixel(x, 1), x < 3 ? b.pixel(x + 7, 1) : a.pixel(x - 3, 1)) << x;
    Pixmap slid = render("slid", 0.3, &a, &b, 10, 4);
    for (int32_t x = 0; x < 10; ++x)
        EXPECT_EQ(slid.pixel(x, 2), x < 3 ? b.pixel(x + 7, 2) : a.pixel(x, 2)) << x;

    // 8 × 6 blocks row by row: at 50% the top three block rows show B.
    Pixmap ma(64, 48, 0xFF000000u), mb(64, 48, 0xFFFFFFFFu);
    Pixmap m = render("smp4", 0.5, &ma, &mb, 64, 48);
    for (int32_t y = 0; y < 48; y += 7)
        EXPECT_EQ(m.pixel(5, y), y < 24 ? 0xFFFFFFFFu : 0xFF000000u) << y;
}

TEST(Effects, ChromaKeyAndAlphaCompositor)
{
    Pixmap a(4, 1, 0xFF0000FFu), b(4, 1, 0xFF00FF00u);
    a.setPixel(1, 0, 0xFF0A0AF0u); // near the blue key
    a.setPixel(2, 0, 0xFFFF0000u); // far from it
    Pixmap keyed = render("ckey", 0.5, &a, &b, 4, 1);
    EXPECT_EQ(keyed.pixel(0, 0), 0xFF00FF00u);
    EXPECT_EQ(keyed.pixel(1, 0), 0xFF00FF00u);
    EXPECT_EQ(keyed.pixel(2, 0), 0xFFFF0000u);

    Pixmap half(2, 1, 0x80FFFFFFu), black(2, 1, 0xFF000000u);
    Pixmap comp = render("blnd", 0.5, &half, &black, 2, 1);
    EXPECT_EQ(comp.pixel(0, 0), 0xFF808080u);
}

TEST(Effects, AlphaGainDefaultIsAnExactPassThrough)
{
    Pixmap src = pattern(33, 9, 5);
    for (int32_t x = 0; x < 33; ++x)
        src.setPixel(x, 3, (src.pixel(x, 3) & 0xFFFFFFu) | uint32_t(x * 7) << 24);
    EXPECT_EQ(render("gain", 0.4, &src, nullptr, 33, 9), src);

    const EffectDescriptor& gain = effectOf("gain");
    ParameterSet ps = ParameterSet::defaults(gain);
    ps.set(gain, fourcc("gain"), {0.5, 0});
    Pixmap halved = render(gain, ps, 0, &src, nullptr, 33, 9);
    EXPECT_EQ(halved.pixel(10, 3), (src.pixel(10, 3) & 0xFFFFFFu) | (35u << 24));
    EXPECT_EQ(halved.pixel(0, 0) >> 24, 128u);
}

TEST(Effects, BlurIdentityFlatFieldAndSpread)
{
    const EffectDescriptor& blur = effectOf("blur");
    Pixmap src = pattern(41, 17, 6);
    ParameterSet ps = ParameterSet::defaults(blur);
    ps.set(blur, fourcc("radi"), {0, 0});
    EXPECT_EQ(render(blur, ps, 0, &src, nullptr, 41, 17), src);

    ps.set(blur, fourcc("radi"), {12, 0});
    Pixmap flat(41, 17, 0xFF3C7FE1u);
    EXPECT_EQ(render(blur, ps, 0, &flat, nullptr, 41, 17), flat);

    // An impulse spreads symmetrically and keeps its energy.
    Pixmap dot(31, 31, 0xFF000000u);
    dot.setPixel(15, 15, 0xFFFFFFFFu);
    ps.set(blur, fourcc("radi"), {4, 0});
    Pixmap spread = render(blur, ps, 0, &dot, nullptr, 31, 31);
    int total = 0;
    for (int32_t y = 0; y < 31; ++y)
        for (int32_t x = 0; x < 31; ++x) {
            total += greenOf(spread.pixel(x, y));
            EXPECT_EQ(spread.pixel(x, y), spread.pixel(30 - x, y));
            EXPECT_LE(maxChannelDiff(spread.pixel(x, y), spread.pixel(y, x)), 1);
        }
    EXPECT_LT(greenOf(spread.pixel(15, 15)), 255);
    EXPECT_GT(greenOf(spread.pixel(15, 15)), greenOf(spread.pixel(17, 15)));
    EXPECT_NEAR(total, 255, 40);

    // Transparent neighbours do not darken an opaque colour.
    Pixmap islands(9, 9, 0x00000000u);
    islands.fill(Rect{3, 3, 6, 6}, 0xFFFFFFFFu);
    Pixmap soft = render(blur, ps, 0, &islands, nullptr, 9, 9);
    uint32_t edge = soft.pixel(2, 4);
    EXPECT_GT(edge >> 24, 0u);
    EXPECT_GE(redOf(edge), 254);
}

TEST(Effects, NoiseIsDeterministicPerSeedAndTime)
{
    const Pixmap src(64, 48, 0xFF808080u);
    for (const char* code : {"fmns", "clou", "fire"}) {
        const EffectDescriptor* d = builtInEffects().find(code4(code));
        ASSERT_TRUE(d);
        ParameterSet ps = ParameterSet::defaults(*d);
        const Pixmap* a = d->sources ? &src : nullptr;
        Pixmap t1 = render(*d, ps, 0.5, a, nullptr, 64, 48, 600);
        EXPECT_EQ(render(*d, ps, 0.5, a, nullptr, 64, 48, 600), t1) << code;
        EXPECT_NE(render(*d, ps, 0.5, a, nullptr, 64, 48, 1200), t1)
            << code << " changes with time";
        ParameterSet other = ps;
        other.set(*d, fourcc("seed"), {77, 0});
        EXPECT_NE(render(*d, other, 0.5, a, nullptr, 64, 48, 600), t1)
            << code << " changes with seed";
    }
}

TEST(Effects, ShapesAtTheirMidpoints)
{
    const Pixmap a(101, 101, 0xFF000000u), b(101, 101, 0xFFFFFFFFu);
    auto shows = [](const Pixmap& p, int32_t x, int32_t y) { return p.pixel(x, y) == 0xFFFFFFFFu; };

    // Iris circle: B inside a radius of half the centre-to-corner distance (35.7 pixels).
    Pixmap iris = render("smp2", 0.5, &a, &b, 101, 101);
    EXPECT_TRUE(shows(iris, 50 + 30, 50));
    EXPECT_TRUE(shows(iris, 50, 50 - 30));
    EXPECT_FALSE(shows(iris, 50 + 40, 50));
    EXPECT_FALSE(shows(iris, 50 + 27, 50 + 27)) << "round, not square";

    // Box out: a centred square half the frame's size.
    const EffectDescriptor& wipe = effectOf("smpt");
    ParameterSet box = ParameterSet::defaults(wipe);
    box.set(wipe, fourcc("wpty"), {10, 0});
    Pixmap boxed = render(wipe, box, 0.5, &a, &b, 101, 101);
    EXPECT_TRUE(shows(boxed, 50 + 24, 50 + 24));
    EXPECT_FALSE(shows(boxed, 50 + 26, 50));

    // Clock and radial sweep: at a quarter, the upper right quadrant only.
    ParameterSet clock = ParameterSet::defaults(wipe);
    clock.set(wipe, fourcc("wpty"), {12, 0});
    for (const Pixmap& p :
         {render(wipe, clock, 0.25, &a, &b, 101, 101), render("smp3", 0.25, &a, &b, 101, 101)}) {
        EXPECT_TRUE(shows(p, 70, 30));
        EXPECT_FALSE(shows(p, 70, 70));
        EXPECT_FALSE(shows(p, 30, 30));
    }

    // Zoom: B fills the centred half-size rectangle; implode: A does.
    const Pixmap a2(100, 100, 0xFF000000u), b2(100, 100, 0xFFFFFFFFu);
    Pixmap z = render("zoom", 0.5, &a2, &b2, 100, 100);
    EXPECT_TRUE(shows(z, 25, 25) && shows(z, 74, 74));
    EXPECT_FALSE(shows(z, 24, 50) || shows(z, 75, 50));
    Pixmap im = render("mplo", 0.5, &a2, &b2, 100, 100);
    EXPECT_FALSE(shows(im, 25, 25) || shows(im, 74, 74));
    EXPECT_TRUE(shows(im, 24, 50) && shows(im, 75, 50));

    // Gradient wipe on the luminance of A: dark pixels of A give way first.
    Pixmap ramp(64, 1);
    for (int32_t x = 0; x < 64; ++x)
        ramp.setPixel(x, 0, argb(255, uint8_t(x * 4), uint8_t(x * 4), uint8_t(x * 4)));
    const EffectDescriptor& matt = effectOf("matt");
    ParameterSet luma = ParameterSet::defaults(matt);
    luma.set(matt, fourcc("grad"), {4, 0});
    luma.set(matt, fourcc("soft"), {0, 0});
    Pixmap white(64, 1, 0xFFFF0000u);
    Pixmap g = render(matt, luma, 0.5, &ramp, &white, 64, 1);
    EXPECT_EQ(g.pixel(10, 0), 0xFFFF0000u);
    EXPECT_EQ(g.pixel(50, 0), ramp.pixel(50, 0));
}
