#include "platform/graph/default_renderers.h"
#include "platform/graph/filter_graph.h"

#include <cstring>

namespace zef::graph {

bool rgbSampleToBgra(const MediaType& t, const MediaSample& s, bool topDown, uint8_t* out)
{
    if (t.major != MajorType::video || !isRgb(t.sub) || !s.data) return false;
    const int32_t w = t.video.bmi.width, h = std::abs(t.video.bmi.height);
    const int32_t row = rgbRowBytes(w, bitsPerPixel(t.sub));
    if (w <= 0 || h <= 0 || s.size < size_t(row) * size_t(h)) return false;
    // Stored rows are bottom-up for a positive height.
    const bool flip = topDown == (t.video.bmi.height > 0);
    for (int32_t y = 0; y < h; ++y) {
        const uint8_t* src = s.data + size_t(row) * size_t(flip ? h - 1 - y : y);
        uint8_t* d = out + size_t(y) * size_t(w) * 4;
        switch (t.sub) {
        case SubType::rgb32:
            std::memcpy(d, src, size_t(w) * 4);
            break;
        case SubType::rgb24:
            for (int32_t x = 0; x < w; ++x, src += 3, d += 4) {
                d[0] = src[0];
                d[1] = src[1];
                d[2] = src[2];
                d[3] = 255;
            }
            break;
        case SubType::rgb565:
        case SubType::rgb555:
            for (int32_t x = 0; x < w; ++x, src += 2, d += 4) {
                const uint32_t v = uint32_t(src[0]) | (uint32_t(src[1]) << 8);
                const uint32_t b = v & 31;
                uint32_t g, r;
                if (t.sub == SubType::rgb565) {
                    g = (v >> 5) & 63;
                    r = (v >> 11) & 31;
                    d[1] = uint8_t((g << 2) | (g >> 4));
                } else {
                    g = (v >> 5) & 31;
                    r = (v >> 10) & 31;
                    d[1] = uint8_t((g << 3) | (g >> 2));
                }
                // Bit replication: full white stays 255, black 0.
                d[0] = uint8_t((b << 3) | (b >> 2));
                d[2] = uint8_t((r << 3) | (r >> 2));
                d[3] = 255;
            }
            break;
        default:
            return false;
        }
    }
    return true;
}

Guid VideoRendererFilter::classId() const { return kClassVideoRenderer; }

void* VideoRendererFilter::queryInterface(const Guid& iid)
{
    if (iid == kIIDBasicVideo) return static_cast<BasicVideo*>(this);
    if (iid == kIIDVideoWindow) return &m_window;
    return nullptr;
}

bool VideoRendererFilter::videoSize(int32_t& width, int32_t& height) const
{
    const Pin& in = const_cast<VideoRendererFilter*>(this)->input();
    if (!in.isConnected()) return false;
    width = in.connectionMediaType().video.bmi.width;
    height = std::abs(in.connectionMediaType().video.bmi.height);
    return true;
}

HResult VideoRendererFilter::checkMediaType(const MediaType& t) const
{
    if (t.format != FormatType::videoInfo) return kInvalidArg;
    if (t.major != MajorType::video || !isRgb(t.sub)) return kFail;
    return kOk;
}

HResult VideoRendererFilter::render(const MediaSample& s)
{
    const MediaType& t = input().connectionMediaType();
    VideoWindow::Picture p;
    p.width = t.video.bmi.width;
    p.height = std::abs(t.video.bmi.height);
    p.pixels.resize(size_t(p.width) * size_t(p.height) * 4);
    if (!rgbSampleToBgra(t, s, true, p.pixels.data())) return kFalse;
    m_window.setPicture(std::move(p));
    return kOk;
}

Guid AudioRendererFilter::classId() const { return kClassAudioRenderer; }

void* AudioRendererFilter::queryInterface(const Guid& iid)
{
    if (iid == kIIDBasicAudio) return static_cast<BasicAudio*>(this);
    return nullptr;
}

void AudioRendererFilter::setOutput(Output output)
{
    std::lock_guard lock(m_lock);
    m_output = std::move(output);
}

HResult AudioRendererFilter::checkMediaType(const MediaType& t) const
{
    if (t.format != FormatType::waveFormatEx) return kInvalidArg;
    if (t.major != MajorType::audio || t.sub != SubType::pcm || t.audio.bitsPerSample != 16 ||
        t.audio.channels == 0)
        return kFail;
    return kOk;
}

HResult AudioRendererFilter::render(const MediaSample& s)
{
    Output out;
    {
        std::lock_guard lock(m_lock);
        out = m_output;
    }
    const WaveFormatEx& f = input().connectionMediaType().audio;
    if (out && s.data && f.blockAlign)
        out(reinterpret_cast<const int16_t*>(s.data), s.size / f.blockAlign, f.channels,
            int32_t(f.samplesPerSec));
    return kOk;
}

} // namespace zef::graph
