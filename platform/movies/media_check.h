// Whether the media libraries the movie toolbox is built on can do their work in this process:
// FFmpeg 5 or later (format, codec, scaling and resampling libraries) with an H.264 decoder.
#pragma once

#include <string>

namespace zef::movies {

struct MediaLibraryCheck {
    bool ready = false;
    // What is missing or too old, for the user ("libavcodec 58 (5 or later needed)").
    std::string missing;
    // The versions found, for the about box ("libavformat 59.27.100, ...").
    std::string versions;
};

MediaLibraryCheck checkMediaLibraries();

} // namespace zef::movies
