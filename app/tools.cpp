#include "app/tools.h"

#include "platform/movies/media_file.h"
#include "platform/movies/png_writer.h"
#include "platform/movies/video_decoder.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace zef::app {

using namespace zef::movies;

namespace {

std::string offsetText(const TrackInfo& t)
{
    if (t.offset == 0) return "";
    char text[64];
    std::snprintf(text, sizeof text, " offset %.3f s", double(t.offset) / t.timeScale);
    return text;
}

// How the track matrix shows the stored pictures: " rotate 90" (clockwise) and " mirror"
// (left to right, before the turn); empty for pictures shown as stored.
std::string turnText(const TrackInfo& t)
{
    const PictureTurn turn = pictureTurnOf(t.matrix);
    std::string text;
    if (turn.clockwiseQuarters() != 0)
        text += " rotate " + std::to_string(90 * turn.clockwiseQuarters());
    if (turn.mirrored()) text += " mirror";
    return text;
}

void printTrack(size_t index, const TrackInfo& t)
{
    if (t.mediaType == kVideoMediaType) {
        const ImageDescription& d = t.imageDescription;
        std::printf("track %zu: vide visual time-scale %d frame-rate %.3f (%d/%lld) frames %lld "
                    "size %dx%d codec '%s' depth %d%s%s%s%s\n",
                    index + 1, t.timeScale, t.frameRate(), t.timeScale,
                    static_cast<long long>(t.shortestFirstDuration()),
                    static_cast<long long>(t.sampleCount), t.width, t.height,
                    fourccToString(d.cType).c_str(), d.depth, turnText(t).c_str(),
                    t.still ? " still" : "", offsetText(t).c_str(), t.enabled ? "" : " disabled");
    } else {
        const SoundDescription& d = t.soundDescription;
        std::printf("track %zu: soun audible time-scale %d rate %d channels %d bits %d "
                    "samples %lld format '%s'%s%s\n",
                    index + 1, t.timeScale, t.sampleRate, t.channels, t.bitsPerSample,
                    static_cast<long long>(t.sampleCount), fourccToString(d.dataFormat).c_str(),
                    offsetText(t).c_str(), t.enabled ? "" : " disabled");
    }
}

bool parseSize(const std::string& text, int& w, int& h)
{
    char x = 0;
    char rest = 0;
    return std::sscanf(text.c_str(), "%d%c%d%c", &w, &x, &h, &rest) == 3 &&
           (x == 'x' || x == 'X') && w > 0 && h > 0 && w <= 16384 && h <= 16384;
}

} // namespace

int probeTool(const std::string& path)
{
    MediaOpenResult r = MediaFile::open(path);
    if (r.status != MediaOpenStatus::ok) {
        std::printf("%s: %s\n", path.c_str(), mediaOpenStatusText(r.status));
        return 1;
    }
    const MediaFile& f = *r.file;
    std::printf("%s: movie (%s) duration %.3f s, %zu tracks\n", path.c_str(),
                f.formatName().c_str(), f.durationSeconds(), f.tracks().size());
    for (size_t i = 0; i < f.tracks().size(); ++i)
        printTrack(i, f.tracks()[i]);
    return 0;
}

int frameTool(const std::string& path, const std::string& seconds, const std::string& outPath,
              const std::string& size)
{
    char* end = nullptr;
    double at = std::strtod(seconds.c_str(), &end);
    if (seconds.empty() || *end || !std::isfinite(at) || at < 0) {
        std::fprintf(stderr, "zefedit: bad time '%s'\n", seconds.c_str());
        return 1;
    }
    MediaOpenResult r = MediaFile::open(path);
    if (r.status != MediaOpenStatus::ok) {
        std::fprintf(stderr, "%s: %s\n", path.c_str(), mediaOpenStatusText(r.status));
        return 1;
    }
    int32_t track = r.file->findTrack(kVideoMediaType);
    if (track < 0) {
        std::fprintf(stderr, "%s: no video track\n", path.c_str());
        return 1;
    }
    const TrackInfo& t = r.file->tracks()[size_t(track)];
    int w = t.width, h = t.height;
    if (!size.empty() && !parseSize(size, w, h)) {
        std::fprintf(stderr, "zefedit: bad size '%s' (WIDTHxHEIGHT)\n", size.c_str());
        return 1;
    }
    // A still shows its picture at every time; other tracks are placed by their offset.
    int64_t mediaTime = t.still ? 0 : int64_t(std::floor(at * t.timeScale + 1e-6)) - t.offset;
    VideoDecoder decoder(r.file, size_t(track));
    Pixmap picture(w, h);
    if (!decoder.drawAt(mediaTime, picture)) {
        std::fprintf(stderr, "%s: no picture at %s s\n", path.c_str(), seconds.c_str());
        return 1;
    }
    if (!writePng(picture, outPath)) {
        std::fprintf(stderr, "zefedit: cannot write %s\n", outPath.c_str());
        return 1;
    }
    return 0;
}

} // namespace zef::app
