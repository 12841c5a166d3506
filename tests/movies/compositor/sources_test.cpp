// The compositor's other kinds of samples: media files (frame-exact), text and image
// decompressor components; and opening media files as movies.
#include "scene.h"

#include "../test_media.h"
#include "platform/movies/components.h"
#include "platform/movies/composite/graphics_mode.h"
#include "platform/movies/composite/warp.h"
#include "platform/movies/effects/effect_description.h"
#include "platform/movies/image_codec.h"
#include "platform/movies/input_map.h"
#include "platform/movies/movie_file.h"
#include "platform/movies/movie_from_file.h"
#include "platform/movies/text/text_renderer.h"
#include "platform/movies/text/text_sample.h"
#include "platform/movies/video_decoder.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace zef::movies::testing {
namespace {

// 60 numbered frames at 30 fps, H.264 with a key frame every 25 frames and B-frames.
std::string numberedClip()
{
    return generate("compositor_numbered.mp4",
                    numberedVideo(320, 240, "30", 2) +
                        " -c:v libx264 -preset veryfast -crf 18 -g 25 -bf 2 -pix_fmt yuv420p");
}

TEST(MovieFromFile, TracksOfAMediaFile)
{
    MovieFromFileResult r = openMovieFromFile(media::h264Movie());
    ASSERT_EQ(r.status, MediaOpenStatus::ok) << r.detail;
    Movie& m = *r.movie;
    EXPECT_EQ(m.timeScale(), 600);
    ASSERT_EQ(m.countTracksWithCharacteristic(VisualMediaCharacteristic, true), 1u);
    ASSERT_EQ(m.countTracksWithCharacteristic(AudioMediaCharacteristic, true), 1u);
    const Track* video = m.indTrackWithCharacteristic(1, VisualMediaCharacteristic, true);
    const Track* sound = m.indTrackWithCharacteristic(1, AudioMediaCharacteristic, true);
    const TrackInfo& vi = r.file->tracks()[size_t(r.file->findTrack(kVideoMediaType))];
    EXPECT_EQ(video->media()->timeScale(), vi.timeScale);
    EXPECT_EQ(video->media()->sampleCount(), 150);
    EXPECT_EQ(video->width(), Fixed(320) << 16);
    EXPECT_EQ(video->height(), Fixed(240) << 16);
    EXPECT_EQ(sound->media()->timeScale(), 48000);
    EXPECT_EQ(sound->volume(), 256);
    // 150 frames at 29.97 fps last 5.005 s.
    EXPECT_NEAR(double(video->duration()), 5.005 * 600, 2);
    EXPECT_EQ(m.box(), (Rect{0, 0, 320, 240}));
}

TEST(MovieFromFile, RefusedFilesSayWhy)
{
    EXPECT_EQ(openMovieFromFile(media::matroska()).status, MediaOpenStatus::notAMovie);
    EXPECT_EQ(openMovieFromFile("/nonexistent/clip.mov").status, MediaOpenStatus::cannotOpen);
    const std::string junk = writeFile("junk.mov", std::string(4096, 'x'));
    MovieFromFileResult r = openMovieFromFile(junk);
    EXPECT_EQ(r.status, MediaOpenStatus::cannotOpen);
    EXPECT_EQ(r.movie, nullptr);
}

TEST(Compositor, MediaFileFramesAreExact)
{
    const std::string path = numberedClip();
    MovieFromFileResult r = openMovieFromFile(path);
    ASSERT_EQ(r.status, MediaOpenStatus::ok) << r.detail;
    EvaluationContext ctx;
    Pixmap out;
    // Forwards frame by frame, then jumps back and forth.
    for (int f : {0, 1, 2, 3, 4, 5, 6, 7, 8, 30, 59, 12, 45, 0}) {
        ASSERT_EQ(evaluate(ctx, *r.movie, TimeValue(f) * 20, out), noErr);
        ASSERT_EQ(out.width(), 320);
        EXPECT_EQ(frameNumberOf(out), f) << "at frame " << f;
    }
    EXPECT_EQ(ctx.stats().decodersOpened, 1);

    // The clip as a segment of a composition: from 1 s, source frames 10..40, half size.
    Scene s(640, 480, 3000);
    Track* t = s.movie.newTrack(Fixed(640) << 16, Fixed(480) << 16, 0);
    ASSERT_EQ(s.movie.newTrackMedia(t, VideoMediaType, 600), noErr);
    const Track* src = r.movie->indTrackWithCharacteristic(1, VisualMediaCharacteristic, true);
    ASSERT_EQ(t->insertSegmentFrom(*src, 200, 600, 600), noErr);
    t->setMatrix(MatrixRecord::scaling(kFixed1 / 2, kFixed1 / 2));
    for (int f : {0, 1, 2, 17, 29}) {
        const Pixmap pic = s.evaluateAt(600 + TimeValue(f) * 20);
        Pixmap quarter(320, 240);
        for (int y = 0; y < 240; ++y)
            for (int x = 0; x < 320; ++x)
                quarter.setPixel(x, y, pic.pixel(x, y));
        EXPECT_EQ(frameNumberOf(quarter), 10 + f);
        EXPECT_EQ(pic.pixel(500, 400), argb(255, 0, 0, 0));
    }
    const Pixmap before = s.evaluateAt(100);
    EXPECT_EQ(before.pixel(300, 120), argb(255, 0, 0, 0)) << "black before the clip";
}

// A transition laid out as the composition builder does it: the effect track carries the
// outgoing clip's head and the incoming clip's tail as copied segments, and the cross fade
// between them; both clip tracks are its sources and never show by themselves.
TEST(Compositor, TransitionWithHeadAndTailIsFrameExact)
{
    MovieFromFileResult r = openMovieFromFile(numberedClip());
    ASSERT_EQ(r.status, MediaOpenStatus::ok);
    const Track* src = r.movie->indTrackWithCharacteristic(1, VisualMediaCharacteristic, true);

    Scene s(320, 240, 1800);
    auto clipTrack = [&](TimeValue start) {
        Track* t = s.movie.newTrack(Fixed(320) << 16, Fixed(240) << 16, 0);
        s.movie.newTrackMedia(t, VideoMediaType, 600);
        t->insertSegmentFrom(*src, 0, 1200, start);
        return t;
    };
    Track* a = clipTrack(0);   // frames 0..59 over 0..1200
    Track* b = clipTrack(600); // frames 0..59 over 600..1800
    // The cross fade, then the head inserted before it (moving it to 600..1200), then the tail.
    Track* fx =
        s.effect(makeEffectDescription(fourcc("dslv"), 2), fourcc("dslv"), {a, b}, 0, 0, 600);
    ASSERT_EQ(fx->insertSegmentFrom(*a, 0, 600, 0), noErr);       // head
    ASSERT_EQ(fx->insertSegmentFrom(*b, 1200, 600, 1200), noErr); // tail
    ASSERT_EQ(fx->duration(), 1800);

    for (int f : {0, 1, 10, 29})
        EXPECT_EQ(frameNumberOf(s.evaluateAt(f * 20)), f);
    for (int f : {60, 61, 75, 89})
        EXPECT_EQ(frameNumberOf(s.evaluateAt(f * 20)), f - 30);

    // Halfway through the fade: a's frame 45 (101101b) over b's frame 15 (001111b). Bars that
    // are white in both stay white, black in both black, the others mid grey.
    const Pixmap mid = s.evaluateAt(900);
    auto bar = [&](int bit) { return int(greenOf(mid.pixel(bit * 32 + 16, 120))); };
    EXPECT_GT(bar(0), 240);
    EXPECT_NEAR(bar(1), 128, 8);
    EXPECT_GT(bar(2), 240);
    EXPECT_GT(bar(3), 240);
    EXPECT_LT(bar(4), 15);
    EXPECT_NEAR(bar(5), 128, 8);
    EXPECT_LT(bar(6), 15);
    EXPECT_EQ(s.context.stats().failedTracks, 0);
}

// A context told to release idle decoders closes the decoder of a clip that has left the picture
// and opens it again, at the right frame, when the same file comes back; the default context
// keeps it open throughout.
TEST(Compositor, IdleDecodersAreReleasedAndReopened)
{
    MovieFromFileResult r = openMovieFromFile(numberedClip());
    ASSERT_EQ(r.status, MediaOpenStatus::ok);
    const Track* src = r.movie->indTrackWithCharacteristic(1, VisualMediaCharacteristic, true);

    // Source frames 0..29 over 0..1 s, black until 3 s, source frames 30..59 over 3..4 s.
    Scene s(320, 240, 3000);
    Track* t = s.movie.newTrack(Fixed(320) << 16, Fixed(240) << 16, 0);
    ASSERT_EQ(s.movie.newTrackMedia(t, VideoMediaType, 600), noErr);
    ASSERT_EQ(t->insertSegmentFrom(*src, 0, 600, 0), noErr);
    ASSERT_EQ(t->insertSegmentFrom(*src, 600, 600, 1800), noErr);

    auto play = [&](EvaluationContext& ctx) {
        Pixmap out;
        for (int f = 0; f < 150; ++f) {
            ASSERT_EQ(evaluate(ctx, s.movie, TimeValue(f) * 20, out), noErr);
            const int expected = f < 30 ? f : f >= 90 && f < 120 ? f - 60 : -2;
            if (expected >= 0) {
                ASSERT_EQ(frameNumberOf(out), expected) << "at frame " << f;
            } else {
                ASSERT_EQ(out.pixel(160, 120), argb(255, 0, 0, 0)) << "at frame " << f;
            }
            if (f == 35) {
                EXPECT_EQ(ctx.stats().openDecoders, 1) << "released too early";
            }
            if (f == 45) {
                EXPECT_EQ(ctx.stats().openDecoders, 0) << "idle decoder kept";
            }
        }
    };

    EvaluationContext::Options o;
    o.decoderCacheFrames = 2;
    o.releaseDecodersAfter = 10;
    EvaluationContext releasing(o);
    play(releasing);
    EXPECT_EQ(releasing.stats().decodersOpened, 2);
    EXPECT_EQ(releasing.stats().decodersReleased, 2); // after 1 s and after 4 s
    EXPECT_EQ(releasing.stats().openDecoders, 0);

    EvaluationContext keeping;
    Pixmap out;
    for (int f : {0, 29, 60, 90, 119, 140})
        ASSERT_EQ(evaluate(keeping, s.movie, TimeValue(f) * 20, out), noErr);
    EXPECT_EQ(keeping.stats().decodersOpened, 1);
    EXPECT_EQ(keeping.stats().decodersReleased, 0);
    EXPECT_EQ(keeping.stats().openDecoders, 1);
    keeping.reset();
    EXPECT_EQ(keeping.stats().openDecoders, 0);
}

TEST(Compositor, StillsAsScaledSegmentsWithTheirAlpha)
{
    MovieFromFileResult r = openMovieFromFile(media::pngStill());
    ASSERT_EQ(r.status, MediaOpenStatus::ok) << r.detail;
    const Track* still = r.movie->indTrackWithCharacteristic(1, VisualMediaCharacteristic, true);
    ASSERT_NE(still, nullptr);

    Scene s(64, 48);
    const uint32_t blue = argb(255, 0, 0, 255);
    s.solid(blue, 1);
    Track* t = s.movie.newTrack(Fixed(64) << 16, Fixed(48) << 16, 0);
    ASSERT_EQ(s.movie.newTrackMedia(t, VideoMediaType, 600), noErr);
    t->media()->setGraphicsMode(GraphicsMode::kStraightAlpha, RGBColor{});
    // Five frames of 24 ticks, each the first 20 ticks of the still stretched to a frame.
    for (int f = 0; f < 5; ++f) {
        ASSERT_EQ(t->insertSegmentFrom(*still, 0, 20, f * 24), noErr);
        ASSERT_EQ(t->scaleSegment(f * 24, 20, 24), noErr);
    }
    ASSERT_EQ(t->duration(), 120);

    VideoDecoder decoder(r.file, size_t(r.file->findTrack(kVideoMediaType)));
    Pixmap own(64, 48);
    ASSERT_TRUE(decoder.drawAt(0, own));
    const uint32_t pixel = own.pixel(10, 10);
    ASSERT_LT(alphaOf(pixel), 255) << "the test still is half transparent";
    uint32_t expected = blue;
    ASSERT_EQ(compositeRow(&pixel, &expected, 1, GraphicsMode::kStraightAlpha, 0), PixelStatus::Ok);
    for (TimeValue at : {0, 23, 24, 60, 119}) {
        const Pixmap out = s.evaluateAt(at);
        EXPECT_TRUE(near(out.pixel(10, 10), expected, 1))
            << "at " << at << ": " << std::hex << out.pixel(10, 10);
    }
    EXPECT_EQ(s.evaluateAt(130).pixel(10, 10), blue) << "after the still";
}

TEST(Compositor, SavedMoviesReopenTheirMediaFiles)
{
    const std::string path = numberedClip();
    MovieFromFileResult r = openMovieFromFile(path);
    ASSERT_EQ(r.status, MediaOpenStatus::ok);
    const std::string saved =
        (std::filesystem::path(mediaDir()) / "compositor_saved.zmov").string();
    ASSERT_EQ(saveMovieToFile(*r.movie, saved), noErr);
    std::unique_ptr<Movie> back;
    ASSERT_EQ(openMovieFile(saved, back), noErr);
    EvaluationContext ctx;
    Pixmap out;
    ASSERT_EQ(evaluate(ctx, *back, 33 * 20, out), noErr);
    EXPECT_EQ(frameNumberOf(out), 33);

    // A media file that cannot be found draws nothing; the previous picture must not show.
    std::unique_ptr<Movie> orphan;
    ASSERT_EQ(openMovieFile(saved, orphan,
                            [](const std::string&) { return std::shared_ptr<MediaFile>(); }),
              noErr);
    EvaluationContext other;
    ASSERT_EQ(evaluate(other, *orphan, 33 * 20, out), noErr);
    EXPECT_EQ(other.stats().failedTracks, 1);
    for (auto [x, y] : {std::pair{0, 0}, std::pair{100, 100}, std::pair{319, 239}})
        EXPECT_EQ(out.pixel(x, y), argb(255, 0, 0, 0));
}

TEST(Compositor, TitleDrawsInsideItsBoxWithAShadow)
{
    Scene s(320, 120);
    const uint32_t grey = argb(255, 128, 128, 128);
    s.solid(grey, 0);
    Track* title = s.movie.newTrack(Fixed(320) << 16, Fixed(120) << 16, 0);
    ASSERT_EQ(s.movie.newTrackMedia(title, TextMediaType, 600), noErr);
    title->setLayer(-20);
    TextSample text;
    text.text = "Hello";
    text.size = 40;
    text.textColor = {0xFFFF, 0xFFFF, 0xFFFF};
    text.justification = TextJustify::center;
    const Rect box{60, 30, 260, 90};
    text.textBox = box;
    text.displayFlags =
        TextDisplayFlags::antiAlias | TextDisplayFlags::keyedText | TextDisplayFlags::dropShadow;
    text.dropShadowOffsetX = 0; // the media's properties below replace these
    text.dropShadowOffsetY = 0;
    ASSERT_EQ(title->media()->addSample(encodeTextSample(text), 600, 1, Handle(16)), noErr);
    ASSERT_EQ(title->insertMedia(100, 0, 600), noErr);
    const uint8_t offset[4] = {0, 4, 0, 4};
    const uint8_t opacity[2] = {0, 255};
    title->media()->setTextProperty(fourcc("drpo"), offset);
    title->media()->setTextProperty(fourcc("drpt"), opacity);

    EXPECT_EQ(s.evaluateAt(50).pixel(160, 60), grey) << "before the title";
    const Pixmap out = s.evaluateAt(300);
    int white = 0, shadowed = 0;
    for (int y = 0; y < out.height(); ++y) {
        for (int x = 0; x < out.width(); ++x) {
            const uint32_t p = out.pixel(x, y);
            if (p == argb(255, 255, 255, 255)) {
                ++white;
                EXPECT_TRUE(box.contains(x, y)) << x << "," << y;
                if (x + 4 < out.width() && y + 4 < out.height() &&
                    redOf(out.pixel(x + 4, y + 4)) < 40)
                    ++shadowed;
            } else {
                EXPECT_TRUE(redOf(p) <= 128 || box.contains(x, y)) << "only the title is light";
            }
        }
    }
    EXPECT_GT(white, 50);
    EXPECT_GT(shadowed, 5) << "the black shadow shows 4 pixels down and right";

    // Shrunk (as into a preview), only the glyphs' part of the box is filtered: the pixels are
    // those of the whole transparent box drawn shrunk.
    const MatrixRecord shrink = MatrixRecord::scaling(kFixed1 * 2 / 7, kFixed1 * 2 / 7);
    title->setMatrix(shrink);
    const Pixmap small = s.evaluateAt(300);
    TextSample shown = text;
    shown.dropShadowOffsetX = shown.dropShadowOffsetY = 4;
    shown.dropShadowTransparency = 255;
    auto layer =
        TextRenderer(std::make_shared<FontLibrary>()).renderLayer(shown, 1.0 / 3, 320, 120, 600);
    ASSERT_TRUE(layer);
    Pixmap whole(320, 120), expected(320, 120);
    whole.fill(0);
    compositeLayer(*layer, whole);
    expected.fill(grey);
    ASSERT_EQ(drawWarped(whole, expected, shrink, GraphicsMode::kStraightAlpha, 0, nullptr),
              PixelStatus::Ok);
    int differing = 0, lit = 0;
    for (int y = 0; y < 120; ++y)
        for (int x = 0; x < 320; ++x) {
            differing += small.pixel(x, y) != expected.pixel(x, y);
            lit += redOf(small.pixel(x, y)) > 200;
        }
    EXPECT_EQ(differing, 0);
    EXPECT_GT(lit, 5) << "the shrunk title shows";
}

// A decompressor of the 'tst1' format: each sample holds a colour (4 bytes A, R, G, B) that it
// fills the band with, in the picture's left half only. It records the calls it gets.
struct FillCodec : ComponentImplementation {
    static inline std::vector<int32_t> calls;
    static inline bool refuse = false;

    ComponentResult dispatch(ComponentCall& call, ComponentManager&) override
    {
        calls.push_back(call.selector);
        switch (call.selector) {
        case kComponentOpenSelect:
        case kComponentCloseSelect:
            return noErr;
        case kImageCodecPreflightSelect: {
            auto* caps = reinterpret_cast<CodecCapabilities*>(call.params[1]);
            caps->wantedPixelSize = 32;
            return refuse ? codecConditionErr : noErr;
        }
        case kImageCodecInitializeSelect:
            reinterpret_cast<ImageSubCodecDecompressCapabilities*>(call.params[0])
                ->decompressRecordSize = 8;
            return noErr;
        case kImageCodecBeginBandSelect: {
            auto* drp = reinterpret_cast<ImageSubCodecDecompressRecord*>(call.params[1]);
            if (drp->dataSize != 4 || !drp->userDecompressRecord) return paramErr;
            const uint8_t* d = drp->codecData;
            *static_cast<uint32_t*>(drp->userDecompressRecord) = argb(d[0], d[1], d[2], d[3]);
            return noErr;
        }
        case kImageCodecDrawBandSelect: {
            auto* drp = reinterpret_cast<ImageSubCodecDecompressRecord*>(call.params[0]);
            const uint32_t colour = *static_cast<uint32_t*>(drp->userDecompressRecord);
            for (int32_t y = 0; y < drp->height; ++y) {
                auto* row = reinterpret_cast<uint32_t*>(reinterpret_cast<uint8_t*>(drp->baseAddr) +
                                                        size_t(y) * size_t(drp->rowBytes));
                for (int32_t x = 0; x < drp->width / 2; ++x)
                    row[x] = colour;
            }
            return noErr;
        }
        case kImageCodecEndBandSelect:
            return noErr;
        default:
            return badComponentSelector;
        }
    }
};

TEST(Compositor, RegisteredDecompressorDrawsItsSamples)
{
    ComponentManager manager;
    ASSERT_NE(manager.registerComponent({decompressorComponentType, fourcc("tst1"), 0, 0, 0},
                                        "Fill", "test decompressor", 1,
                                        [] { return std::make_unique<FillCodec>(); }),
              0u);
    Scene s(40, 20);
    Track* t = s.movie.newTrack(Fixed(40) << 16, Fixed(20) << 16, 0);
    ASSERT_EQ(s.movie.newTrackMedia(t, VideoMediaType, 600), noErr);
    ImageDescription d;
    d.cType = fourcc("tst1");
    d.width = 10;
    d.height = 10;
    d.depth = 32;
    const uint8_t colours[8] = {255, 10, 200, 30, 255, 250, 250, 0};
    ASSERT_EQ(t->media()->addSample(colours, 300, 2, d.toHandle()), noErr);
    ASSERT_EQ(t->insertMedia(0, 0, 600), noErr);

    EvaluationContext::Options o;
    o.components = &manager;
    EvaluationContext ctx(o);
    Pixmap out;
    FillCodec::calls.clear();
    ASSERT_EQ(evaluate(ctx, s.movie, 100, out), noErr);
    EXPECT_EQ(out.pixel(5, 10), argb(255, 10, 200, 30));
    EXPECT_EQ(out.pixel(30, 10) & 0xFFFFFFu, 0u) << "the half it leaves transparent";
    EXPECT_EQ(FillCodec::calls,
              (std::vector<int32_t>{kComponentOpenSelect, kImageCodecPreflightSelect,
                                    kImageCodecInitializeSelect, kImageCodecBeginBandSelect,
                                    kImageCodecDrawBandSelect, kImageCodecEndBandSelect}));
    ASSERT_EQ(evaluate(ctx, s.movie, 400, out), noErr);
    EXPECT_EQ(out.pixel(5, 10), argb(255, 250, 250, 0)) << "the second sample";

    FillCodec::refuse = true;
    ASSERT_EQ(evaluate(ctx, s.movie, 100, out), noErr);
    FillCodec::refuse = false;
    EXPECT_EQ(out.pixel(5, 10), argb(255, 0, 0, 0));
    EXPECT_EQ(ctx.stats().failedTracks, 1);

    // Without a registered decompressor nothing is drawn, and nothing breaks.
    EvaluationContext bare;
    ASSERT_EQ(evaluate(bare, s.movie, 100, out), noErr);
    EXPECT_EQ(out.pixel(5, 10), argb(255, 0, 0, 0));
    EXPECT_EQ(bare.stats().failedTracks, 1);
}

TEST(Compositor, BadTimesAndEmptyMovies)
{
    Movie empty;
    EvaluationContext ctx;
    Pixmap out(4, 4);
    EXPECT_EQ(evaluate(ctx, empty, 0, out), noErr);
    EXPECT_TRUE(out.isEmpty());
    Scene s(8, 8);
    EXPECT_EQ(evaluate(ctx, s.movie, -1, out), paramErr);
    // Past the end: the picture of nothing, black.
    ASSERT_EQ(evaluate(ctx, s.movie, 100000, out), noErr);
    EXPECT_EQ(out.pixel(0, 0), argb(255, 0, 0, 0));

    // A huge track shrunk into the box needs too much scratch memory: it is left out.
    Track* huge = s.movie.newTrack(Fixed(30000) << 16, Fixed(30000) << 16, 0);
    ASSERT_EQ(s.movie.newTrackMedia(huge, VideoMediaType, 600), noErr);
    const AtomContainer fire = makeEffectDescription(fourcc("fire"), 0);
    const Handle fx = fire.flatten();
    ASSERT_EQ(huge->media()->addSample(std::span<const uint8_t>(fx.data(), fx.size()), 600, 1,
                                       makeImageDescriptionForEffect(fourcc("fire")).toHandle()),
              noErr);
    ASSERT_EQ(huge->insertMedia(0, 0, 600), noErr);
    huge->setMatrix(MatrixRecord::scaling(kFixed1 / 4096, kFixed1 / 4096));
    ASSERT_EQ(evaluate(ctx, s.movie, 10, out), noErr);
    EXPECT_EQ(out.width(), 8);
    EXPECT_EQ(out.pixel(0, 0), argb(255, 0, 0, 0));
    // A box too large for memory is refused.
    huge->setMatrix(MatrixRecord::identity());
    EXPECT_EQ(evaluate(ctx, s.movie, 10, out), memFullErr);
}

TEST(Compositor, CyclicInputMapsDoNotRecurseForever)
{
    Scene s(8, 8);
    const AtomContainer gain = makeEffectDescription(fourcc("gain"), 1);
    Track* e1 = s.effect(gain, fourcc("gain"), {}, 0);
    Track* e2 = s.effect(gain, fourcc("gain"), {e1}, 0);
    ASSERT_EQ(addTrackInput(*e1, *e2, kTrackModifierTypeImage, kSourceA), noErr);
    s.effect(gain, fourcc("gain"), {e2}, 0); // draws itself and pulls the cycle
    Pixmap out;
    EXPECT_EQ(evaluate(s.context, s.movie, 10, out), noErr);
}

} // namespace
} // namespace zef::movies::testing
