#include "tests/support/reference_composition.h"

#include "platform/movies/audio_fade.h"
#include "platform/movies/big_endian.h"
#include "platform/movies/effects/effect_description.h"
#include "platform/movies/input_map.h"
#include "platform/movies/movie_from_file.h"
#include "platform/movies/text/text_sample.h"
#include "platform/movies/tween_sample.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace zef::movies::reference {

namespace fs = std::filesystem;

namespace {

constexpr TimeValue kSecond = 600;
constexpr TimeValue kTenHours = 21600000;

[[noreturn]] void fail(const std::string& what) { throw BuildError(what); }

void check(OSErr err, const char* what)
{
    if (err != noErr) fail(std::string(what) + " failed with " + std::to_string(err));
}

// Makes a source clip once: a moving pattern and a tone.
std::string source(const fs::path& dir, const std::string& name, const std::string& pattern,
                   int width, int height, double seconds, int toneHz)
{
    const fs::path out = dir / (name + "_" + std::to_string(height) + ".mp4");
    if (fs::exists(out)) return out.string();
    // Made under a name of this process and renamed, so that processes making the same clip at
    // once never see a half-written file.
    const fs::path tmp = out.string() + ".part" + std::to_string(::getpid()) + ".mp4";
    const std::string size = std::to_string(width) + "x" + std::to_string(height);
    const std::string cmd =
        "ffmpeg -nostdin -loglevel error -y -f lavfi -i \"" + pattern + "=size=" + size +
        ":rate=30:duration=" + std::to_string(seconds) +
        (pattern == "smptebars" ? ",scroll=h=0.003" : "") +
        (pattern == "testsrc2" && name == "c" ? ",hue=H=2*PI*t" : "") +
        "\" -f lavfi -i \"sine=frequency=" + std::to_string(toneHz) +
        ":sample_rate=48000:duration=" + std::to_string(seconds) +
        "\" -ac 2 -c:v libx264 -preset fast -g 250 -pix_fmt yuv420p -c:a aac -b:a 128k "
        "-shortest \"" +
        tmp.string() + "\"";
    std::fprintf(stderr, "making %s\n", out.c_str());
    std::error_code ec;
    if (std::system(cmd.c_str()) != 0) {
        fs::remove(tmp, ec);
        fail("ffmpeg could not make " + out.string());
    }
    fs::rename(tmp, out, ec);
    if (ec) fail("cannot rename " + tmp.string() + ": " + ec.message());
    return out.string();
}

Source openSource(const std::string& path)
{
    MovieFromFileResult r = openMovieFromFile(path);
    if (r.status != MediaOpenStatus::ok) fail("cannot open " + path + ": " + r.detail);
    Source s;
    s.movie = std::move(r.movie);
    s.video = s.movie->indTrackWithCharacteristic(1, VisualMediaCharacteristic, true);
    s.sound = s.movie->indTrackWithCharacteristic(1, AudioMediaCharacteristic, true);
    if (!s.video || !s.sound) fail(path + " lacks a video or sound track");
    return s;
}

class Builder {
public:
    Builder(Movie& movie, int width, int height) : m(movie), w(width), h(height) {}

    Track* videoTrack(OSType mediaType, int16_t layer)
    {
        Track* t = m.newTrack(Fixed(w) << 16, Fixed(h) << 16, 0);
        check(m.newTrackMedia(t, mediaType, 600), "new track media");
        if (mediaType == VideoMediaType) t->media()->setGraphicsMode(ditherCopy, RGBColor{});
        t->setLayer(layer);
        return t;
    }

    Track* soundTrack()
    {
        Track* t = m.newTrack(0, 0, 256);
        check(m.newTrackMedia(t, SoundMediaType, 600), "new sound media");
        return t;
    }

    // The black background: one 1×1 32-bit 'raw ' pixel for ten hours.
    void background()
    {
        Track* t = videoTrack(VideoMediaType, 998);
        ImageDescription d;
        d.cType = fourcc("raw ");
        d.width = 1;
        d.height = 1;
        d.depth = 32;
        d.temporalQuality = d.spatialQuality = 512;
        d.dataSize = 4;
        const uint8_t black[4] = {255, 0, 0, 0};
        check(t->media()->addSample(black, kTenHours, 1, d.toHandle()), "add background");
        check(t->insertMedia(0, 0, kTenHours), "insert background");
    }

    Track* text(const TextSample& s, TimeValue start, TimeValue duration, int16_t layer)
    {
        Track* t = videoTrack(TextMediaType, layer);
        std::vector<uint8_t> desc(16, 0);
        putBE32(desc.data(), 16);
        putBE32(desc.data() + 4, fourcc("text"));
        check(t->media()->addSample(encodeTextSample(s), duration, 1,
                                    Handle(desc.data(), desc.size())),
              "add text");
        check(t->insertMedia(start, 0, duration), "insert text");
        return t;
    }

    // A tween track holding one matrix sample per pair of keyframes, inserted from time 0.
    Track* motion(const std::vector<std::pair<TimeValue, MatrixRecord>>& keys)
    {
        Track* t = videoTrack(TweenMediaType, 0);
        for (size_t k = 0; k + 1 < keys.size(); ++k) {
            const TimeValue d = keys[k + 1].first - keys[k].first;
            if (d <= 0) continue;
            const Handle bytes = makeMatrixTween(keys[k].second, keys[k + 1].second).flatten();
            check(t->media()->addSample(std::span<const uint8_t>(bytes.data(), bytes.size()), d, 1,
                                        tweenSampleDescription()),
                  "add matrix tween");
        }
        if (t->media()->duration() > 0)
            check(t->insertMedia(0, 0, t->media()->duration()), "insert motion");
        return t;
    }

    Track* clip(const Source& src, TimeValue start, TimeValue sourceIn, TimeValue duration,
                int16_t layer)
    {
        Track* t = videoTrack(VideoMediaType, layer);
        check(t->insertSegmentFrom(*src.video, sourceIn, duration, start), "insert clip");
        return t;
    }

    // The clip's sound with its fade tween (fade-in and fade-out lengths in ticks).
    Track* clipSound(const Source& src, TimeValue start, TimeValue sourceIn, TimeValue duration,
                     TimeValue fadeIn, TimeValue fadeOut)
    {
        Track* sound = soundTrack();
        check(sound->insertSegmentFrom(*src.sound, sourceIn, duration, start), "insert sound");
        Track* fade = videoTrack(TweenMediaType, 0);
        fade->setDimensions(0, 0);
        Media& fm = *fade->media();
        const std::pair<Fixed, Fixed> values[3] = {{0, kFixed1}, {kFixed1, kFixed1}, {kFixed1, 0}};
        // Lead of 50 ticks before the clip, shorter for a clip nearer to 0 (as the builder).
        const TimeValue lead = std::clamp<TimeValue>(start, 0, 50);
        const TimeValue lengths[3] = {fadeIn + lead, duration - fadeIn - fadeOut, fadeOut};
        for (int k = 0; k < 3; ++k) {
            if (lengths[k] <= 0) continue;
            const Handle bytes = makeFadeTweenSample(values[k].first, values[k].second);
            check(fm.addSample(std::span<const uint8_t>(bytes.data(), bytes.size()), lengths[k], 1,
                               fadeTweenDescription()),
                  "add fade");
        }
        check(fade->insertMedia(0, 0, fm.duration()), "insert fade");
        check(fade->setOffset(start - lead), "offset fade");
        check(addTrackInput(*sound, *fade, kTrackModifierTypeVolume), "attach fade");
        return sound;
    }

    void appendEffect(Track* t, OSType type, const AtomContainer& description, TimeValue start,
                      TimeValue duration)
    {
        const Handle bytes = description.flatten();
        const Handle desc = makeImageDescriptionForEffect(type, int16_t(w), int16_t(h)).toHandle();
        TimeValue mediaTime = 0;
        check(t->media()->addSample(std::span<const uint8_t>(bytes.data(), bytes.size()), duration,
                                    1, desc, true, &mediaTime),
              "add effect");
        check(t->insertMedia(start, mediaTime, duration), "insert effect");
    }

    Movie& m;
    int w, h;
};

} // namespace

Composition build(int width, int height, const std::string& mediaDir)
{
    if (width <= 0 || height <= 0 || width % 2 || height % 2 || width > 7680 || height > 4320)
        fail("the composition's size must be even and positive");
    std::error_code ec;
    const fs::path dir(mediaDir);
    fs::create_directories(dir, ec);
    if (ec) fail("cannot make " + mediaDir + ": " + ec.message());
    Composition c;
    c.sources.push_back(openSource(source(dir, "a", "testsrc2", width, height, 12, 440)));
    c.sources.push_back(openSource(source(dir, "b", "smptebars", width, height, 12, 660)));
    c.sources.push_back(openSource(source(dir, "c", "testsrc2", width, height, 6, 880)));
    const Source& a = c.sources[0];
    const Source& b = c.sources[1];
    const Source& cc = c.sources[2];

    c.movie = std::make_unique<Movie>(600);
    Movie& movie = *c.movie;
    Builder bld(movie, width, height);

    // Base tracks.
    bld.background();
    TextSample placeholder;
    placeholder.text = " ";
    placeholder.size = 30;
    placeholder.textColor = {0, 0, 0};
    placeholder.backColor = {0, 0, 0};
    placeholder.displayFlags = TextDisplayFlags::keyedText;
    bld.text(placeholder, 0, kTenHours, 1000);
    Track* motionA = bld.motion({});
    const MatrixRecord halfTopLeft = MatrixRecord::scaling(kFixed1 / 2, kFixed1 / 2);
    MatrixRecord halfBottomRight = halfTopLeft;
    halfBottomRight.translate(Fixed(width / 2) << 16, Fixed(height / 2) << 16);
    Track* motionB =
        bld.motion({{0, halfTopLeft}, {2 * kSecond, halfTopLeft}, {8 * kSecond, halfBottomRight}});
    bld.motion({}); // layer C has no keyframes

    // Layer A: a 0–12 s, b 10–22 s, cross fade 10–12 s.
    Track* ta = bld.clip(a, 0, 0, 12 * kSecond, 0);
    Track* tb = bld.clip(b, 10 * kSecond, 0, 12 * kSecond, 0);
    check(addTrackInput(*ta, *motionA, kTrackModifierTypeMatrix), "attach motion");
    check(addTrackInput(*tb, *motionA, kTrackModifierTypeMatrix), "attach motion");
    Track* sa = bld.clipSound(a, 0, 0, 12 * kSecond, 0, 2 * kSecond);
    Track* sb = bld.clipSound(b, 10 * kSecond, 0, 12 * kSecond, 2 * kSecond, 0);
    (void)sa;
    (void)sb;

    Track* fx = bld.videoTrack(VideoMediaType, 0);
    check(addTrackInput(*fx, *ta, kTrackModifierTypeImage, kSourceA), "input srcA");
    check(addTrackInput(*fx, *tb, kTrackModifierTypeImage, kSourceB), "input srcB");
    // Head: a one-tick pass-through sample, then the outgoing clip's segment copied in.
    bld.appendEffect(fx, fourcc("gain"), makeEffectDescription(fourcc("gain"), 1), 0, 1);
    check(fx->insertSegmentFrom(*ta, 0, 10 * kSecond, 0), "copy head");
    // Overlap: the cross fade.
    bld.appendEffect(fx, fourcc("dslv"), makeEffectDescription(fourcc("dslv"), 2), 10 * kSecond,
                     2 * kSecond);
    // Tail: the incoming clip's segment copied in.
    check(fx->insertSegmentFrom(*tb, 12 * kSecond, 10 * kSecond, 12 * kSecond), "copy tail");
    check(addTrackInput(*fx, *motionA, kTrackModifierTypeMatrix), "attach motion");

    // Layer B: c from 2 s to 8 s, half size, moving.
    Track* tc = bld.clip(cc, 2 * kSecond, 0, 6 * kSecond, -3);
    check(addTrackInput(*tc, *motionB, kTrackModifierTypeMatrix), "attach motion");

    // Title 1–5 s.
    TextSample title;
    title.text = "Hello World";
    title.size = 48;
    title.textColor = {0xFFFF, 0xFFFF, 0xFFFF};
    title.justification = TextJustify::center;
    title.textBox = Rect{0, height / 2 - 30, width, height / 2 + 30};
    title.displayFlags =
        TextDisplayFlags::antiAlias | TextDisplayFlags::keyedText | TextDisplayFlags::dropShadow;
    Track* tt = bld.text(title, 1 * kSecond, 4 * kSecond, -20);
    const uint8_t shadowOffset[4] = {0, 2, 0, 2};
    const uint8_t shadowOpacity[2] = {0, 160};
    tt->media()->setTextProperty(kTextDropShadowOffsetAtom, shadowOffset);
    tt->media()->setTextProperty(kTextDropShadowTransparencyAtom, shadowOpacity);
    return c;
}

void cut(Movie& movie, TimeValue start, TimeValue duration)
{
    if (start < 0 || duration <= 0 || start + duration > movie.duration())
        fail("the range lies outside the movie");
    const TimeValue end = start + duration;
    if (movie.duration() > end) check(movie.deleteSegment(end, movie.duration() - end), "cut end");
    if (start > 0) check(movie.deleteSegment(0, start), "cut start");
}

} // namespace zef::movies::reference
