#include "platform/movies/media_check.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/avutil.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include <cstdio>

namespace zef::movies {

namespace {

// The major versions that came with FFmpeg 5.
constexpr unsigned kFormatMajor = 59, kCodecMajor = 59, kUtilMajor = 57, kScaleMajor = 6,
                   kResampleMajor = 4;

std::string text(const char* name, unsigned version)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, "%s %u.%u.%u", name, version >> 16, (version >> 8) & 0xFF,
                  version & 0xFF);
    return buf;
}

} // namespace

MediaLibraryCheck checkMediaLibraries()
{
    const struct {
        const char* name;
        unsigned version;
        unsigned major;
    } libs[] = {
        {"libavformat", avformat_version(), kFormatMajor},
        {"libavcodec", avcodec_version(), kCodecMajor},
        {"libavutil", avutil_version(), kUtilMajor},
        {"libswscale", swscale_version(), kScaleMajor},
        {"libswresample", swresample_version(), kResampleMajor},
    };
    MediaLibraryCheck out;
    for (const auto& lib : libs) {
        if (!out.versions.empty()) out.versions += ", ";
        out.versions += text(lib.name, lib.version);
        if ((lib.version >> 16) < lib.major) {
            if (!out.missing.empty()) out.missing += ", ";
            out.missing += text(lib.name, lib.version) + " (FFmpeg 5 or later needed)";
        }
    }
    if (!avcodec_find_decoder(AV_CODEC_ID_H264)) {
        if (!out.missing.empty()) out.missing += ", ";
        out.missing += "the H.264 decoder of libavcodec";
    }
    out.ready = out.missing.empty();
    return out;
}

} // namespace zef::movies
