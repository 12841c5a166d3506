// Internal: reading a movie file's packet stamps without reading its sample data.
//
// A SkimmingFormat opens a container over its own reader. Once skimming is switched on, every
// read that falls wholly inside the sample data of the file (as the demuxer's index gives it)
// is answered with zeros instead of being read, so the demuxer still reports every packet's
// stamps, flags and side data while the disk is hardly touched. Only for demuxers that never
// look into sample data while demuxing (the movie demuxer with codecs it does not parse).
#pragma once

#include "platform/movies/av_support.h"

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace zef::movies::av {

class SkimmingFormat {
public:
    // Null when the file cannot be opened or probed.
    static std::unique_ptr<SkimmingFormat> open(const std::string& path);
    ~SkimmingFormat();
    SkimmingFormat(const SkimmingFormat&) = delete;
    SkimmingFormat& operator=(const SkimmingFormat&) = delete;

    AVFormatContext* context() const { return m_fmt; }
    // Switches skimming on over the indexed samples of every stream.
    void skimIndexedSamples();
    int64_t bytesRead() const { return m_read; }
    int64_t bytesSkimmed() const { return m_skimmed; }

private:
    SkimmingFormat() = default;
    static int readPacket(void* opaque, uint8_t* buf, int size);
    static int64_t seek(void* opaque, int64_t offset, int whence);

    int m_fd = -1;
    int64_t m_pos = 0;
    int64_t m_size = 0;
    int64_t m_read = 0;
    int64_t m_skimmed = 0;
    std::vector<std::pair<int64_t, int64_t>> m_ranges; // merged [start, end), sorted
    AVIOContext* m_io = nullptr;
    AVFormatContext* m_fmt = nullptr;
};

} // namespace zef::movies::av
