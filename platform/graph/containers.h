// The containers the media graph reads: the file formats that the movie toolbox leaves to it.
#pragma once

#include <string>
#include <vector>

namespace zef::graph {

struct MediaGraphContainer {
    std::string name;                    // as shown to the user: "Matroska video"
    std::vector<std::string> extensions; // lower case, without the dot: "mkv"
};

// Matroska, WebM, MPEG-2 program and transport streams, Ogg, FLV and ASF, in that order. A
// file dialog's filter can be made from the extensions.
const std::vector<MediaGraphContainer>& mediaGraphContainers();

// Whether a demuxer (FFmpeg's name of the detected format, "matroska,webm") reads one of
// these containers.
bool isMediaGraphDemuxer(const std::string& demuxerName);

} // namespace zef::graph
