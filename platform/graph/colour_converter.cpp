#include "platform/graph/colour_converter.h"
#include "platform/graph/filter_graph.h"

#include "platform/movies/av_support.h"

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
#include <libavutil/pixfmt.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

namespace zef::graph {

namespace av = zef::movies::av;

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

    struct Key {
        int width = 0, height = 0;
        AVPixelFormat format = AV_PIX_FMT_NONE, to = AV_PIX_FMT_NONE;
        int colorspace = 0;
        bool fullRange = false;
        friend bool operator==(const Key&, const Key&) = default;
    };
    SwsContext* scalerFor(const AVFrame& f, AVPixelFormat to);

    In in;
    Out out;
    SwsContext* sws = nullptr;
    Key scalerKey;
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

// The scaler for a picture format: the colours as the movie toolbox's decoders convert them
// (BT.709 for pictures of 720 rows and more, BT.601 below, unless the stream says; the range
// the stream says), bilinear, on every core.
SwsContext* ColourConverterFilter::Impl::scalerFor(const AVFrame& f, AVPixelFormat to)
{
    AVPixelFormat format = AVPixelFormat(f.format);
    bool fullRange = f.color_range == AVCOL_RANGE_JPEG;
    switch (format) { // the full-range formats decoders give for JPEG pictures
    case AV_PIX_FMT_YUVJ420P:
        format = AV_PIX_FMT_YUV420P, fullRange = true;
        break;
    case AV_PIX_FMT_YUVJ422P:
        format = AV_PIX_FMT_YUV422P, fullRange = true;
        break;
    case AV_PIX_FMT_YUVJ444P:
        format = AV_PIX_FMT_YUV444P, fullRange = true;
        break;
    default:
        break;
    }
    int colorspace = f.colorspace;
    if (colorspace == AVCOL_SPC_UNSPECIFIED || colorspace == AVCOL_SPC_RGB)
        colorspace = f.height >= 720 ? AVCOL_SPC_BT709 : AVCOL_SPC_BT470BG;
    const Key key{f.width, f.height, format, to, colorspace, fullRange};
    if (sws && key == scalerKey) return sws;
    sws_freeContext(sws);
    sws = sws_alloc_context();
    if (!sws) return nullptr;
    av_opt_set_int(sws, "srcw", f.width, 0);
    av_opt_set_int(sws, "srch", f.height, 0);
    av_opt_set_int(sws, "src_format", format, 0);
    av_opt_set_int(sws, "dstw", f.width, 0);
    av_opt_set_int(sws, "dsth", f.height, 0);
    av_opt_set_int(sws, "dst_format", to, 0);
    av_opt_set_int(sws, "sws_flags", SWS_BILINEAR, 0);
    av_opt_set_int(sws, "threads", int(std::max(1u, std::thread::hardware_concurrency())), 0);
    if (sws_init_context(sws, nullptr, nullptr) < 0) {
        sws_freeContext(sws);
        return sws = nullptr;
    }
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(format);
    if (desc && !(desc->flags & AV_PIX_FMT_FLAG_RGB))
        sws_setColorspaceDetails(sws, sws_getCoefficients(colorspace), fullRange ? 1 : 0,
                                 sws_getCoefficients(SWS_CS_DEFAULT), 1, 0, 1 << 16, 1 << 16);
    scalerKey = key;
    return sws;
}

HResult ColourConverterFilter::Impl::In::receive(const MediaSample& s)
{
    const AVFrame* f = s.picture;
    if (!m.out.isConnected()) return kFalse;
    if (!f) return kFail;
    const MediaType& t = m.out.connectionMediaType();
    const int32_t w = t.video.bmi.width, h = std::abs(t.video.bmi.height);
    if (f->width != w || f->height != h) return kFail; // a size change mid-stream: not shown
    const int32_t row = rgbRowBytes(w, t.video.bmi.bitCount);
    const AVPixelFormat to = pixelFormatOf(t.sub);
    SwsContext* sws = m.scalerFor(*f, to);
    if (!sws) return kFail;
    m.buffer.resize(size_t(row) * size_t(h));
    const bool bottomUp = t.video.bmi.height > 0;

    av::FramePtr src(av_frame_alloc());
    av::FramePtr out(av_frame_alloc());
    if (!src || !out || av_frame_ref(src.get(), f) < 0) return kOutOfMemory;
    src->format = m.scalerKey.format;
    out->width = w;
    out->height = h;
    out->format = to;
    // The scaler writes whole vectors, up to 16 pixels past the end of a row: rows of a
    // multiple of 16 pixels are written in place (bottom-up by a negative stride), others go
    // through a padded picture and are copied.
    const bool inPlace = w % 16 == 0 && row == w * int32_t(t.video.bmi.bitCount / 8);
    if (inPlace) {
        out->buf[0] = av_buffer_create(
            m.buffer.data(), m.buffer.size(), [](void*, uint8_t*) {}, nullptr, 0);
        if (!out->buf[0]) return kOutOfMemory;
        out->data[0] = bottomUp ? m.buffer.data() + size_t(row) * size_t(h - 1) : m.buffer.data();
        out->linesize[0] = bottomUp ? -row : row;
    } else if (av_frame_get_buffer(out.get(), 64) < 0) {
        return kOutOfMemory;
    }
    if (sws_scale_frame(sws, out.get(), src.get()) < 0) return kFail;
    if (!inPlace)
        for (int32_t y = 0; y < h; ++y)
            std::memcpy(m.buffer.data() + size_t(row) * size_t(bottomUp ? h - 1 - y : y),
                        out->data[0] + size_t(y) * size_t(out->linesize[0]),
                        size_t(w) * (t.video.bmi.bitCount / 8));
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
