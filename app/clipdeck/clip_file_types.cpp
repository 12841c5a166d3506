#include "app/clipdeck/clip_file_types.h"

#include "platform/graph/containers.h"

namespace zef::app {

const std::vector<ClipFileKind>& clipFileKinds()
{
    static const std::vector<ClipFileKind> kinds{
        {"Movie", {"mov", "qt"}},
        {"MPEG-4", {"mp4", "m4v", "m4a", "3gp", "3g2"}},
        {"AVI", {"avi"}},
        {"DV", {"dv", "dif"}},
        {"MPEG-1", {"mpg", "mpeg", "m1v", "mpv", "mp2"}},
        {"WAV", {"wav"}},
        {"AIFF", {"aif", "aiff", "aifc"}},
        {"MP3", {"mp3"}},
        {"Still image", {"png", "jpg", "jpeg", "bmp", "gif", "tif", "tiff"}},
    };
    static const std::vector<ClipFileKind> all = [] {
        std::vector<ClipFileKind> v = kinds;
        for (const graph::MediaGraphContainer& c : graph::mediaGraphContainers())
            v.push_back({c.name, c.extensions});
        return v;
    }();
    return all;
}

std::string clipFilePatterns()
{
    std::string patterns;
    for (const ClipFileKind& kind : clipFileKinds())
        for (const std::string& e : kind.extensions) {
            if (!patterns.empty()) patterns += ' ';
            patterns += "*." + e;
        }
    return patterns;
}

} // namespace zef::app
