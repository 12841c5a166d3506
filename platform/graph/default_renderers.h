// The graph's default renderers. The video renderer takes RGB pictures and shows them in its
// video window at their time on the stream clock; the audio renderer takes PCM and keeps
// time with the stream clock, handing the sound to an output function when one is set.
#pragma once

#include "platform/graph/renderer_base.h"

#include <functional>

namespace zef::graph {

// Writes a sample of an RGB type as top-down 32-bit blue-green-red-alpha pixels into out
// (width × height × 4 bytes, alpha 255 for the types without alpha). False for other types
// or a sample too short for the type.
bool rgbSampleToBgra(const MediaType& type, const MediaSample& sample, bool topDown, uint8_t* out);

class VideoRendererFilter : public RendererBase, public BasicVideo {
public:
    Guid classId() const override;
    void* queryInterface(const Guid& iid) override;
    bool videoSize(int32_t& width, int32_t& height) const override;
    VideoWindow& window() { return m_window; }

protected:
    HResult checkMediaType(const MediaType& type) const override;
    HResult render(const MediaSample& sample) override;
    bool paced() const override { return true; }

private:
    VideoWindow m_window;
};

class AudioRendererFilter : public RendererBase, public BasicAudio {
public:
    using Output =
        std::function<void(const int16_t* frames, size_t count, int32_t channels, int32_t rate)>;
    Guid classId() const override;
    void* queryInterface(const Guid& iid) override;
    void setVolume(int32_t volume) override { m_volume = volume; }
    int32_t volume() const override { return m_volume; }
    void setOutput(Output output);

protected:
    HResult checkMediaType(const MediaType& type) const override;
    HResult render(const MediaSample& sample) override;
    bool paced() const override { return true; }

private:
    int32_t m_volume = 0;
    Output m_output;
};

} // namespace zef::graph
