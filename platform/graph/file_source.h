// The source filter of a file: demuxes and decodes with FFmpeg, one output pin per stream it
// plays ("Video": the decoder's YUV or RGB pictures; "Audio": 16-bit PCM, mono or stereo,
// at the stream's rate), and runs the graph's streaming thread.
//
// Each stream reads the file through a demuxer of its own, so that one stream can be held
// (its renderer has what it wants) while the other moves on, and each seeks on its own.
//
// Seeking (seek): a stream whose next sample lies a little before the new position moves on
// by decoding and dropping what ends before it; a stream that would have to go back, or far
// ahead, seeks its demuxer to a key frame before the position (further back when the first
// picture found starts after it) and decodes from there. Either way the first sample
// delivered after a seek is the one shown at the position: a picture lasts until the next
// picture's start, so files of variable frame rate are exact too. The last sample delivered
// is kept, so that a seek into it delivers it again. At the end of a stream its last picture
// is delivered when nothing was since the seek (the file shows it from then on), then the end
// of the stream.
//
// Broken data is skipped; a read error ends the stream. The streaming thread never waits
// without a bound on the file.
#pragma once

#include "platform/graph/filter.h"
#include "platform/graph/filter_graph.h"

#include <memory>
#include <string>

namespace zef::graph {

constexpr Guid kClassFileSource = Guid::parse("{C6E2F1B0-4D1A-4F7E-9C31-5A0B7E21C004}");

struct SourceStreamInfo {
    bool video = false;
    int32_t width = 0, height = 0;
    double framesPerSecond = 0;
    int32_t channels = 0, sampleRate = 0;
};

class FileSourceFilter : public Filter, public FileSource {
public:
    // Opens the file: null when it is not one of the media-graph containers or has no
    // stream that can be decoded (error says why).
    static std::shared_ptr<FileSourceFilter> open(const std::string& path,
                                                  std::string* error = nullptr);
    ~FileSourceFilter() override;

    Guid classId() const override { return kClassFileSource; }
    std::vector<Pin*> pins() override;
    void* queryInterface(const Guid& iid) override;
    HResult pause() override;
    HResult run(int64_t startTime) override;
    HResult stop() override;
    void wake() override;

    int64_t duration() const override;
    void seek(int64_t position) override;

    const std::string& path() const;

    struct Impl;

private:
    explicit FileSourceFilter(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> m_impl;
};

// The start times (media time) of the pictures of a file's first video stream that are shown
// over [from, to): the picture shown at `from` first, in order. Read from the packets' stamps
// without decoding. False when the file cannot tell (no video, stamps missing, read error).
bool videoFrameStarts(const std::string& path, int64_t from, int64_t to,
                      std::vector<int64_t>& starts);

} // namespace zef::graph
