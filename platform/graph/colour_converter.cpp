#include "platform/graph/colour_converter.h"
#include "platform/graph/filter_graph.h"

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixfmt.h>
#include <libswscale/swscale.h>
}

#include <mutex>
#include <vector>

namespace zef::graph {

namespace {

AVPixelFormat pixelFormatOf(SubType sub)
{
    switch (sub) {
    case SubType::rgb32:
        return AV_PIX_FMT_BGRA;
    case SubType::rgb24:
        return AV_PIX_FMT_BGR24;
    case SubType::rgb565:
        return AV_PIX_FMT_RGB565LE;
    case SubType::rgb555:
        return AV_PIX_FMT_RGB555LE;
    default:
        return AV_PIX_FMT_NONE;
    }
}

} // namespace

struct ColourConverterFilter::Impl {
    class In : public Pin {
    public:
        In(ColourConverterFilter& f, Impl& impl) : Pin(f, "Input", PinDirection::input), m(impl) {}
        HResult checkMediaType(const MediaType& t) const override
        {
            if (t.major != MajorType::video || t.format != FormatType::videoInfo) return kFail;
            return t.sub == SubType::yuv ? kOk : kFail;
        }
        bool readyForSample() const override;
        HResult receive(const MediaSample& s) override;
        void endOfStream() override;
        Impl& m;
    };
    class Out : public Pin {
    public:
        Out(ColourConverterFilter& f, Impl& impl) : Pin(f, "Output", PinDirection::output), m(impl)
        {
        }
        std::vector<MediaType> mediaTypes() const override;
        HResult checkMediaType(const MediaType& t) const override
        {
            if (!m.in.isConnected() || t.major != MajorType::video || !isRgb(t.sub)) return kFail;
            const auto& src = m.in.connectionMediaType().video.bmi;
            return t.video.bmi.width == src.width && std::abs(t.video.bmi.height) == src.height
                       ? kOk
                       : kFail;
        }
        Impl& m;
    };

    explicit Impl(ColourConverterFilter& f) : in(f, *this), out(f, *this) {}
    ~Impl() { sws_freeContext(sws); }

    In in;
    Out out;
    SwsContext* sws = nullptr;
    std::vector<uint8_t> buffer;
};

std::vector<MediaType> ColourConverterFilter::Impl::Out::mediaTypes() const
{
    if (!m.in.isConnected()) return {};
    const VideoInfoHeader& v = m.in.connectionMediaType().video;
    std::vector<MediaType> out;
    for (SubType s : {SubType::rgb32, SubType::rgb24, SubType::rgb565, SubType::rgb555})
        out.push_back(rgbVideoType(s, v.bmi.width, std::abs(v.bmi.height), v.avgTimePerFrame));
    return out;
}

bool ColourConverterFilter::Impl::In::readyForSample() const { return m.out.downstreamReady(); }

void ColourConverterFilter::Impl::In::endOfStream() { m.out.deliverEndOfStream(); }

HResult ColourConverterFilter::Impl::In::receive(const MediaSample& s)
{
    const AVFrame* f = s.picture;
    if (!m.out.isConnected()) return kFalse;
    if (!f) return kFail;
    const MediaType& t = m.out.connectionMediaType();
    const int32_t w = t.video.bmi.width, h = std::abs(t.video.bmi.height);
    if (f->width != w || f->height != h) return kFail; // a size change mid-stream: not shown
    const int32_t row = rgbRowBytes(w, t.video.bmi.bitCount);
    m.sws = sws_getCachedContext(m.sws, f->width, f->height, AVPixelFormat(f->format), w, h,
                                 pixelFormatOf(t.sub), SWS_BICUBIC, nullptr, nullptr, nullptr);
    if (!m.sws) return kFail;
    m.buffer.resize(size_t(row) * size_t(h));
    // Bottom-up when the height is positive: the first picture row goes to the last stored one.
    uint8_t* dst[4] = {m.buffer.data(), nullptr, nullptr, nullptr};
    int dstStride[4] = {row, 0, 0, 0};
    if (t.video.bmi.height > 0) {
        dst[0] = m.buffer.data() + size_t(row) * size_t(h - 1);
        dstStride[0] = -row;
    }
    sws_scale(m.sws, f->data, f->linesize, 0, h, dst, dstStride);
    MediaSample o = s;
    o.picture = nullptr;
    o.data = m.buffer.data();
    o.size = m.buffer.size();
    return m.out.deliver(o);
}

ColourConverterFilter::ColourConverterFilter() : m_impl(std::make_unique<Impl>(*this)) {}
ColourConverterFilter::~ColourConverterFilter() = default;

Guid ColourConverterFilter::classId() const { return kClassColourConverter; }

std::vector<Pin*> ColourConverterFilter::pins() { return {&m_impl->in, &m_impl->out}; }

} // namespace zef::graph
