#include "platform/graph/containers.h"

#include <set>

namespace zef::graph {

const std::vector<MediaGraphContainer>& mediaGraphContainers()
{
    static const std::vector<MediaGraphContainer> list = {
        {"Matroska video", {"mkv", "mka", "mk3d"}},
        {"WebM video", {"webm"}},
        {"MPEG-2 program stream", {"mpg", "mpeg", "m2p", "vob"}},
        {"MPEG-2 transport stream", {"ts", "m2ts", "mts", "tsv"}},
        {"Ogg media", {"ogv", "ogg", "oga", "ogm"}},
        {"Flash video", {"flv"}},
        {"Advanced Systems Format", {"asf", "wmv", "wma"}},
    };
    return list;
}

bool isMediaGraphDemuxer(const std::string& name)
{
    static const std::set<std::string> demuxers = {
        "matroska,webm", "mpegts", "mpeg", "mpegvideo", "ogg", "flv", "live_flv", "asf", "asf_o"};
    return demuxers.count(name) != 0;
}

} // namespace zef::graph
