#include "tools/demo/demo_media.h"

#include "platform/movies/export/export_pipeline.h"
#include "platform/movies/export/standard_exporters.h"
#include "platform/movies/movie_from_file.h"

#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <stdexcept>
#include <system_error>

namespace zef::demo {

using namespace zef::movies;
namespace fs = std::filesystem;

namespace {

constexpr uint32_t rgb(uint8_t r, uint8_t g, uint8_t b) { return argb(255, r, g, b); }

const std::array<ClipSpec, 3> kClips = {{
    {'a',
     12,
     440.0,
     {rgb(220, 40, 40), rgb(230, 140, 30), rgb(200, 200, 40), rgb(50, 170, 60), rgb(40, 160, 170),
      rgb(50, 70, 200), rgb(140, 50, 180), rgb(90, 90, 90)},
     rgb(20, 20, 20)},
    {'b',
     12,
     660.0,
     {rgb(20, 60, 140), rgb(30, 120, 200), rgb(20, 170, 170), rgb(60, 200, 120), rgb(30, 90, 60),
      rgb(100, 60, 160), rgb(170, 80, 200), rgb(40, 40, 90)},
     rgb(240, 80, 150)},
    {'c',
     6,
     880.0,
     {rgb(200, 0, 120), rgb(0, 200, 80), rgb(240, 180, 0), rgb(0, 120, 240), rgb(120, 0, 200),
      rgb(0, 200, 200), rgb(220, 100, 0), rgb(60, 60, 60)},
     rgb(250, 250, 0)},
}};

constexpr int kMinSize = 16;
constexpr int kMaxSize = 4096;

} // namespace

const std::array<ClipSpec, 3>& demoClips() { return kClips; }

const ClipSpec& demoClip(char name)
{
    for (const ClipSpec& c : kClips)
        if (c.name == name) return c;
    throw std::invalid_argument(std::string("no demo clip named ") + name);
}

DemoPattern::DemoPattern(const ClipSpec& clip, int width, int height)
    : m_clip(clip), m_width(width), m_height(height)
{
    if (width < kMinSize || height < kMinSize || width > kMaxSize || height > kMaxSize)
        throw std::invalid_argument("demo clip size out of range");
}

VideoFormat DemoPattern::video() const { return {m_width, m_height, {kFrameRate, 1}}; }

AudioFormat DemoPattern::audio() const { return {kSampleRate, kChannels}; }

int64_t DemoPattern::frameCount() const { return int64_t(m_clip.seconds) * kFrameRate; }

Pixmap DemoPattern::picture(int64_t index) const
{
    const int w = m_width, h = m_height;
    Pixmap p(w, h);
    const int64_t phaseFrame = ((index % kPeriodFrames) + kPeriodFrames) % kPeriodFrames;
    const double phase = double(phaseFrame) / kPeriodFrames;
    const int strip = h / 12;
    const int side = h / 6;
    const int blockTop = h * 3 / 4;
    const int blockLeft = int(phase * (w - side));
    for (int y = 0; y < h; ++y) {
        uint32_t* row = p.row(y);
        for (int x = 0; x < w; ++x) {
            uint32_t v;
            if (y < strip) {
                const int bit = x * 12 / w;
                v = bit < kCounterBits && ((index >> bit) & 1) ? kCounterOn : kCounterOff;
            } else if (y >= blockTop && y < blockTop + side && x >= blockLeft &&
                       x < blockLeft + side) {
                v = m_clip.block;
            } else {
                const double u = (x + 0.5) / w + phase;
                v = m_clip.bars[size_t(int(std::floor(u * 8)) % 8)];
            }
            row[x] = v;
        }
    }
    return p;
}

int16_t DemoPattern::sample(int64_t n) const
{
    const double t = double(n) / kSampleRate;
    return int16_t(std::lround(kToneAmplitude * std::sin(2.0 * M_PI * m_clip.toneHz * t)));
}

bool DemoPattern::renderFrame(int64_t index, Pixmap& out)
{
    if (index < 0 || index >= frameCount()) return false;
    out = picture(index);
    return true;
}

bool DemoPattern::renderAudio(int64_t firstSample, int64_t count, int16_t* interleaved)
{
    if (firstSample < 0 || count < 0) return false;
    const int64_t end = frameCount() * kSampleRate / kFrameRate;
    for (int64_t i = 0; i < count; ++i) {
        const int64_t n = firstSample + i;
        const int16_t v = n < end ? sample(n) : 0;
        for (int c = 0; c < kChannels; ++c)
            interleaved[i * kChannels + c] = v;
    }
    return true;
}

int readCounter(const uint32_t* argbPixels, int width, int height)
{
    if (!argbPixels || width < kMinSize || height < kMinSize) return -1;
    const int y = height / 24; // the middle of the strip
    int value = 0;
    for (int bit = 0; bit < kCounterBits; ++bit) {
        const int x = (2 * bit + 1) * width / 24;
        const uint32_t p = argbPixels[size_t(y) * size_t(width) + size_t(x)];
        const int luma = (2 * redOf(p) + 5 * greenOf(p) + blueOf(p)) / 8;
        if (luma > 150)
            value |= 1 << bit;
        else if (luma > 60)
            return -1;
    }
    return value;
}

bool demoClipValid(const std::string& path, const ClipSpec& clip, int width, int height,
                   std::string* why)
{
    auto refuse = [&](const std::string& reason) {
        if (why) *why = reason;
        return false;
    };
    std::error_code ec;
    if (!fs::is_regular_file(path, ec)) return refuse("missing");
    MovieFromFileResult r = openMovieFromFile(path);
    if (r.status != MediaOpenStatus::ok || !r.movie)
        return refuse(std::string(mediaOpenStatusText(r.status)) + " " + r.detail);
    const Track* video = r.movie->indTrackWithCharacteristic(1, VisualMediaCharacteristic, true);
    const Track* sound = r.movie->indTrackWithCharacteristic(1, AudioMediaCharacteristic, true);
    if (!video) return refuse("no video track");
    if (!sound) return refuse("no sound track");
    if (video->width() != (Fixed(width) << 16) || video->height() != (Fixed(height) << 16))
        return refuse("wrong picture size");
    const TimeValue want = TimeValue(clip.seconds) * r.movie->timeScale();
    const TimeValue frame = r.movie->timeScale() / kFrameRate;
    if (std::llabs(int64_t(video->duration()) - int64_t(want)) > frame)
        return refuse("wrong length");
    return true;
}

std::string demoClipFileName(const ClipSpec& clip, int width, int height)
{
    return std::string(1, clip.name) + "_" + std::to_string(width) + "x" + std::to_string(height) +
           ".mov";
}

std::string ensureDemoClip(const std::string& dir, const ClipSpec& clip, int width, int height)
{
    DemoPattern source(clip, width, height);
    std::error_code ec;
    fs::create_directories(dir, ec);
    if (ec) throw std::runtime_error("cannot make the folder " + dir + ": " + ec.message());
    const fs::path out = fs::absolute(fs::path(dir) / demoClipFileName(clip, width, height));
    if (demoClipValid(out.string(), clip, width, height)) return out.string();

    // A name of this process's own, so that two makers running at once do not collide.
    const fs::path tmp = out.string() + "." + std::to_string(getpid()) + ".part.mov";
    std::unique_ptr<MovieExporter> exporter = makeStandardExporter(kMovieExportMovie);
    if (!exporter) throw std::runtime_error("the movie exporter is missing");
    AtomContainer settings = exporter->defaultSettings();
    if (writeAtomUInt32(settings, kVideoSettingsAtom, kCodecAtom, fourcc("avc1")) != noErr ||
        writeAtomUInt16(settings, kVideoSettingsAtom, kCRFAtom, 18) != noErr ||
        writeAtomUInt32(settings, kSoundSettingsAtom, kCodecAtom, fourcc("mp4a")) != noErr ||
        exporter->setSettings(settings) != noErr)
        throw std::runtime_error("the movie exporter refuses the clip settings");
    const OSErr err =
        convertToFile(source, *exporter, tmp.string(), createMovieFileDeleteCurFile, nullptr, 0);
    if (err != noErr) {
        fs::remove(tmp, ec);
        throw std::runtime_error("cannot write " + out.string() + " (result " +
                                 std::to_string(err) + ")");
    }
    fs::rename(tmp, out, ec);
    if (ec) {
        fs::remove(tmp, ec);
        throw std::runtime_error("cannot rename the new clip to " + out.string());
    }
    std::string why;
    if (!demoClipValid(out.string(), clip, width, height, &why))
        throw std::runtime_error("the new clip " + out.string() + " is not usable: " + why);
    return out.string();
}

} // namespace zef::demo
