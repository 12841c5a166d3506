#include "platform/movies/effects/effect_registry.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <thread>

using namespace zef::movies;

namespace {

const EffectDescriptor& fx(const char (&code)[5])
{
    const EffectDescriptor* d = builtInEffects().find(fourcc(code));
    EXPECT_TRUE(d) << code;
    static EffectDescriptor none;
    return d ? *d : none;
}

Pixmap noisy(int32_t w, int32_t h, uint32_t salt)
{
    Pixmap p(w, h);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            uint32_t v = (uint32_t(x) * 73856093u) ^ (uint32_t(y) * 19349663u) ^ (salt * 83492791u);
            v *= 2654435761u;
            p.setPixel(x, y, 0xFF000000u | (v >> 8));
        }
    return p;
}

PixelStatus run(const EffectDescriptor& d, const ParameterSet& ps, double p, const Pixmap* a,
                const Pixmap* b, Pixmap& out, int64_t time = 0)
{
    EffectFrame f;
    f.progress = p;
    f.time = time;
    f.srcA = a;
    f.srcB = b;
    f.dst = &out;
    return renderEffect(d, ps, f);
}

Pixmap filtered(const EffectDescriptor& d, const ParameterSet& ps, const Pixmap& src)
{
    Pixmap out(src.width(), src.height(), 0);
    EXPECT_EQ(run(d, ps, 0, &src, nullptr, out), PixelStatus::Ok);
    return out;
}

ParameterSet with(const EffectDescriptor& d, std::initializer_list<std::pair<FourCC, double>> v)
{
    ParameterSet ps = ParameterSet::defaults(d);
    for (auto [c, x] : v)
        EXPECT_TRUE(ps.set(d, c, {x, 0})) << fourccToString(c);
    return ps;
}

} // namespace

TEST(EffectRender, EveryEffectWritesExactlyItsDestinationAtOddSizes)
{
    // Sources must stay untouched, every destination pixel must be written (the fill's alpha
    // 0x5A cannot come out of opaque sources), and nothing may crash at tiny or odd sizes.
    const EffectRegistry& r = builtInEffects();
    for (auto [w, h] : {std::pair{1, 1}, {3, 7}, {2, 1}, {641, 479}}) {
        const Pixmap a = noisy(w, h, 1), b = noisy(w, h, 2);
        Pixmap aCopy = a, bCopy = b;
        for (int n = 0; n <= 2; ++n)
            for (const EffectDescriptor* d : r.list(n))
                for (double p : {0.0, 0.37, 1.0}) {
                    if (w > 100 && p != 0.37) continue;
                    Pixmap out(w, h, 0x5A010203u);
                    ASSERT_EQ(run(*d, ParameterSet::defaults(*d), p, &a, &b, out, 1234),
                              PixelStatus::Ok)
                        << d->name;
                    bool allWritten = true;
                    for (int32_t y = 0; y < h && allWritten; ++y)
                        for (int32_t x = 0; x < w; ++x)
                            if (alphaOf(out.pixel(x, y)) == 0x5A) {
                                allWritten = false;
                                break;
                            }
                    EXPECT_TRUE(allWritten) << d->name << " " << w << "x" << h << " p=" << p;
                }
        EXPECT_EQ(a, aCopy);
        EXPECT_EQ(b, bCopy);
    }
}

TEST(EffectRender, BadFramesAreRefused)
{
    const EffectDescriptor& dslv = fx("dslv");
    ParameterSet ps = ParameterSet::defaults(dslv);
    Pixmap a(4, 4, 0xFF000000u), small(3, 4, 0xFF000000u), out(4, 4, 0xFF123456u);
    EXPECT_EQ(run(dslv, ps, 0.5, &a, nullptr, out), PixelStatus::MissingSource);
    EXPECT_EQ(run(dslv, ps, 0.5, &a, &small, out), PixelStatus::BadArgument);
    EXPECT_EQ(out.pixel(0, 0), 0xFF123456u) << "nothing drawn on failure";
    EffectFrame f;
    f.srcA = f.srcB = &a;
    EXPECT_EQ(renderEffect(dslv, ps, f), PixelStatus::BadArgument) << "no destination";
    // Out-of-range and NaN progress clamp.
    Pixmap b(4, 4, 0xFFFFFFFFu);
    EXPECT_EQ(run(dslv, ps, 7.0, &a, &b, out), PixelStatus::Ok);
    EXPECT_EQ(out, b);
    EXPECT_EQ(run(dslv, ps, std::nan(""), &a, &b, out), PixelStatus::Ok);
    EXPECT_EQ(out, a);
}

TEST(EffectRender, SourceMayBeTheDestination)
{
    const EffectDescriptor& blur = fx("blur");
    Pixmap src = noisy(20, 12, 9);
    Pixmap expected = filtered(blur, ParameterSet::defaults(blur), src);
    Pixmap inPlace = src;
    ASSERT_EQ(run(blur, ParameterSet::defaults(blur), 0, &inPlace, nullptr, inPlace),
              PixelStatus::Ok);
    EXPECT_EQ(inPlace, expected);
}

TEST(EffectRender, FramesRenderTheSameOnManyThreads)
{
    const Pixmap a = noisy(96, 64, 3), b = noisy(96, 64, 4);
    std::vector<const EffectDescriptor*> all;
    for (int n = 0; n <= 2; ++n)
        for (auto* d : builtInEffects().list(n))
            all.push_back(d);
    std::vector<Pixmap> serial;
    for (auto* d : all) {
        Pixmap out(96, 64);
        run(*d, ParameterSet::defaults(*d), 0.6, &a, &b, out, 900);
        serial.push_back(out);
    }
    std::vector<int> mismatches(4, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (size_t i = 0; i < all.size(); ++i) {
                size_t k = (i + size_t(t) * 7) % all.size();
                Pixmap out(96, 64);
                run(*all[k], ParameterSet::defaults(*all[k]), 0.6, &a, &b, out, 900);
                if (!(out == serial[k])) ++mismatches[size_t(t)];
            }
        });
    for (auto& th : threads)
        th.join();
    for (int m : mismatches)
        EXPECT_EQ(m, 0);
}

TEST(EffectRender, ToneFilters)
{
    Pixmap src(4, 1, 0xFF808080u);
    src.setPixel(1, 0, 0xFFFF0000u);
    src.setPixel(2, 0, 0x40102030u);
    src.setPixel(3, 0, 0xFF204060u);

    const EffectDescriptor& bc = fx("brco");
    EXPECT_EQ(filtered(bc, ParameterSet::defaults(bc), src), src) << "neutral settings";
    Pixmap brighter = filtered(bc, with(bc, {{fourcc("brit"), 20}}), src);
    EXPECT_EQ(brighter.pixel(0, 0), 0xFFB3B3B3u);
    EXPECT_EQ(brighter.pixel(2, 0) >> 24, 0x40u) << "alpha kept";
    Pixmap flat = filtered(bc, with(bc, {{fourcc("cont"), -100}}), src);
    EXPECT_EQ(flat.pixel(1, 0), 0xFF808080u);

    const EffectDescriptor& rgb = fx("rgbb");
    Pixmap noRed = filtered(rgb, with(rgb, {{fourcc("redg"), 0}, {fourcc("blug"), 2}}), src);
    EXPECT_EQ(noRed.pixel(3, 0), 0xFF0040C0u);

    const EffectDescriptor& cs = fx("csty");
    Pixmap poster = filtered(cs, with(cs, {{fourcc("styl"), 1}, {fourcc("levl"), 2}}), src);
    EXPECT_EQ(poster.pixel(3, 0), 0xFF000000u);
    EXPECT_EQ(poster.pixel(0, 0), 0xFFFFFFFFu);
    Pixmap solar = filtered(cs, with(cs, {{fourcc("styl"), 0}, {fourcc("thrs"), 128}}), src);
    EXPECT_EQ(solar.pixel(1, 0), 0xFF000000u);
    EXPECT_EQ(solar.pixel(3, 0), 0xFF204060u);

    const EffectDescriptor& hsl = fx("hslb");
    EXPECT_EQ(filtered(hsl, ParameterSet::defaults(hsl), src), src);
    Pixmap shifted = filtered(hsl, with(hsl, {{fourcc("hue "), 120}}), src);
    EXPECT_EQ(shifted.pixel(1, 0), 0xFF00FF00u) << "red turns green";
    Pixmap grey = filtered(hsl, with(hsl, {{fourcc("satu"), -100}}), src);
    EXPECT_EQ(redOf(grey.pixel(3, 0)), blueOf(grey.pixel(3, 0)));

    // Monotone tint with a neutral grey gives the luma.
    const EffectDescriptor& tint = fx("tint");
    Pixmap mono = filtered(tint, with(tint, {{fourcc("tcol"), double(0xFF808080u)}}), src);
    EXPECT_EQ(mono.pixel(1, 0), 0xFF4D4D4Du);
    EXPECT_EQ(mono.pixel(0, 0), 0xFF808080u);
}

TEST(EffectRender, ConvolutionSharpenEdgesAndEmboss)
{
    Pixmap src = noisy(9, 7, 11);
    const EffectDescriptor& conv = fx("conv");
    EXPECT_EQ(filtered(conv, ParameterSet::defaults(conv), src), src) << "identity kernel";

    // A 3×3 box with divisor 0 (= the kernel's sum) keeps a flat field.
    ParameterSet box = ParameterSet::defaults(conv);
    for (FourCC c = 0; c < 9; ++c)
        box.set(conv, fourcc("kn11") + (((c / 3) << 8) | (c % 3)), {1, 0});
    box.set(conv, fourcc("divs"), {0, 0});
    Pixmap flat(5, 5, 0xFF3366CCu);
    EXPECT_EQ(filtered(conv, box, flat), flat);
    // A shift kernel moves the picture by one pixel.
    ParameterSet shift = ParameterSet::defaults(conv);
    shift.set(conv, fourcc("kn22"), {0, 0});
    shift.set(conv, fourcc("kn21"), {1, 0});
    shift.set(conv, fourcc("bias"), {10, 0});
    Pixmap moved = filtered(conv, shift, src);
    uint32_t l = src.pixel(3, 3), m = moved.pixel(4, 3);
    EXPECT_EQ(redOf(m), std::min(255, redOf(l) + 10));

    for (const char* code : {"shrp", "edge", "embs"}) {
        const EffectDescriptor* d =
            builtInEffects().findByName(std::string(code) == "shrp"   ? "Sharpen"
                                        : std::string(code) == "edge" ? "Edge Detection"
                                                                      : "Emboss");
        ASSERT_TRUE(d);
        Pixmap f = filtered(*d, ParameterSet::defaults(*d), flat);
        uint32_t expect = std::string(code) == "shrp"   ? 0xFF3366CCu
                          : std::string(code) == "edge" ? 0xFF000000u
                                                        : 0xFF808080u;
        for (int32_t y = 0; y < 5; ++y)
            for (int32_t x = 0; x < 5; ++x)
                EXPECT_EQ(f.pixel(x, y), expect) << code;
    }
    // A vertical step is found by edge detection only at the step.
    Pixmap step(8, 3, 0xFF000000u);
    step.fill(Rect{4, 0, 8, 3}, 0xFFFFFFFFu);
    Pixmap edges = filtered(fx("edge"), ParameterSet::defaults(fx("edge")), step);
    EXPECT_EQ(edges.pixel(1, 1), 0xFF000000u);
    EXPECT_EQ(edges.pixel(3, 1), 0xFFFFFFFFu);
    EXPECT_EQ(edges.pixel(4, 1), 0xFFFFFFFFu);
    EXPECT_EQ(edges.pixel(6, 1), 0xFF000000u);
}

TEST(EffectRender, GeneratorsAndLensFlare)
{
    const EffectDescriptor& solid = fx("solc");
    ParameterSet ps = ParameterSet::defaults(solid);
    ps.setTween(solid, fourcc("colr"), {double(0xFF000000u), 0}, {double(0xFFFF8000u), 0});
    Pixmap out(5, 3, 0);
    ASSERT_EQ(run(solid, ps, 0.5, nullptr, nullptr, out), PixelStatus::Ok);
    EXPECT_EQ(out.pixel(4, 2), 0xFF804000u);

    // Ripple with no amplitude is the plain background.
    const EffectDescriptor& rip = fx("ripl");
    ParameterSet flatWater = ParameterSet::defaults(rip);
    flatWater.set(rip, fourcc("ampl"), {0, 0});
    flatWater.set(rip, fourcc("bkgd"), {0, 0});
    ASSERT_EQ(run(rip, flatWater, 0.5, nullptr, nullptr, out, 300), PixelStatus::Ok);
    EXPECT_EQ(out.pixel(2, 1), 0xFF1E5AA0u);

    // The flare brightens around its position and leaves far corners nearly alone.
    const EffectDescriptor& lens = fx("lens");
    Pixmap dark(200, 100, 0xFF101010u);
    Pixmap flare(200, 100);
    ASSERT_EQ(run(lens, ParameterSet::defaults(lens), 0, &dark, nullptr, flare), PixelStatus::Ok);
    EXPECT_GT(redOf(flare.pixel(60, 30)), 200);
    EXPECT_LT(redOf(flare.pixel(199, 0)), 60);
    ParameterSet off = ParameterSet::defaults(lens);
    off.set(lens, fourcc("brit"), {0, 0});
    ASSERT_EQ(run(lens, off, 0, &dark, nullptr, flare), PixelStatus::Ok);
    EXPECT_EQ(flare, dark);
}

#include "platform/movies/effects/effect_impl.h"

TEST(EffectRender, WideBoxBlurKeepsFlatFieldsAndSymmetry)
{
    // Windows wider than the two-rows-at-once path allows take the 32-bit path.
    for (int32_t radius : {1, 40, 70}) {
        Pixmap flat(150, 9, 0xFF3C7FE1u), out(150, 9);
        fx::boxBlur3(flat, out, radius);
        EXPECT_EQ(out, flat) << radius;
        Pixmap bar(151, 3, 0xFF000000u);
        bar.fill(Rect{75, 0, 76, 3}, 0xFFFFFFFFu);
        Pixmap spread(151, 3);
        fx::boxBlur3(bar, spread, radius);
        for (int32_t x = 0; x < 151; ++x)
            EXPECT_EQ(spread.pixel(x, 1), spread.pixel(150 - x, 1));
        EXPECT_GT(greenOf(spread.pixel(75, 1)), greenOf(spread.pixel(75 + radius + 5, 1)));
    }
}
