#include "platform/movies/video_decoder.h"

#include "platform/movies/av_support.h"

extern "C" {
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace zef::movies {

struct VideoDecoder::State {
    av::FormatPtr fmt;
    av::CodecPtr codec;
    av::PacketPtr packet = av::makePacket();
    av::FramePtr frame = av::makeFrame();
    int stream = -1;
    int64_t lastOutPts = INT64_MIN;   // stamp of the last frame the decoder gave out
    int64_t readIndex = -1;           // decode index of the last packet sent to the decoder
    int64_t expectIndex = -1;         // after a seek: where the first packet should be
    bool flushing = false;            // end of file reached, decoder being drained
    bool drained = false;             // decoder gave out its last frame
    int64_t outCount = 0;             // frames given out since the top of the file
    int64_t firstGoodPts = INT64_MIN; // after a seek: frames shown before the key frame may
                                      // miss their references and are thrown away
    int64_t lastUse = 0;              // the request that last used this position
    int nalLengthSize = 0;            // H.264 in length-prefixed form: bytes of each NAL
                                      // unit's length; 0: another codec or form
};

struct VideoDecoder::Scaler {
    SwsContext* ctx = nullptr;
    int srcW = 0, srcH = 0, srcFormat = -1, dstW = 0, dstH = 0, colorspace = -1;
    bool fullRange = false;
    ~Scaler() { sws_freeContext(ctx); }
};

namespace {

constexpr int kMaxReadRetries = 1000;
// A frame this many frames ahead of where the decoder stands is decoded for frameNear.
constexpr int64_t kNearFrames = 4;

AVPixelFormat unJpegFormat(AVPixelFormat f, bool& fullRange)
{
    switch (f) {
    case AV_PIX_FMT_YUVJ420P:
        fullRange = true;
        return AV_PIX_FMT_YUV420P;
    case AV_PIX_FMT_YUVJ422P:
        fullRange = true;
        return AV_PIX_FMT_YUV422P;
    case AV_PIX_FMT_YUVJ444P:
        fullRange = true;
        return AV_PIX_FMT_YUV444P;
    case AV_PIX_FMT_YUVJ440P:
        fullRange = true;
        return AV_PIX_FMT_YUV440P;
    case AV_PIX_FMT_YUVJ411P:
        fullRange = true;
        return AV_PIX_FMT_YUV411P;
    default:
        return f;
    }
}

void noFree(void*, uint8_t*) {}

// True when every slice of an H.264 access unit (NAL units with length prefixes of lengthSize
// bytes) belongs to a picture that no other picture refers to (nal_ref_idc 0): the decoder does
// not need to see it to decode the ones after it.
bool nonReferenceH264(const uint8_t* data, int size, int lengthSize)
{
    bool slice = false;
    auto look = [&](uint8_t header) {
        const int type = header & 0x1F;
        if (type == 20 || type == 21) return false; // extension slices: not looked into
        if (type == 1 || type == 5) {
            slice = true;
            return ((header >> 5) & 3) == 0;
        }
        return true;
    };
    for (int pos = 0; pos < size;) {
        if (pos + lengthSize > size) return false;
        uint32_t length = 0;
        for (int i = 0; i < lengthSize; ++i)
            length = (length << 8) | data[pos + i];
        pos += lengthSize;
        if (length == 0 || length > uint32_t(size - pos) || !look(data[pos])) return false;
        pos += int(length);
    }
    return slice;
}

size_t frameBytes(const AVFrame* f)
{
    size_t n = 0;
    for (AVBufferRef* b : f->buf)
        if (b) n += b->size;
    return n;
}

} // namespace

VideoDecoder::VideoDecoder(std::shared_ptr<const MediaFile> file, size_t trackIndex)
    : VideoDecoder(std::move(file), trackIndex, Options())
{
}

VideoDecoder::VideoDecoder(std::shared_ptr<const MediaFile> file, size_t trackIndex,
                           Options options)
    : m_file(std::move(file)), m_options(options), m_scaler(std::make_unique<Scaler>())
{
    m_options.positions = std::max(1, m_options.positions);
    m_states.push_back(std::make_unique<State>());
    m_state = m_states.front().get();
    m_options.cacheFrames = std::max<size_t>(2, m_options.cacheFrames);
    if (!m_file || trackIndex >= m_file->tracks().size()) return;
    m_track = &m_file->tracks()[trackIndex];
    if (m_track->mediaType != kVideoMediaType || m_track->samples.empty()) return;
    m_turn = pictureTurnOf(m_track->matrix);
    // Every position holds a decoder's pictures: larger pictures get fewer of them (as many as
    // asked up to 1080p, one at 4K).
    const int64_t pixels = std::max<int64_t>(1, int64_t(m_track->width) * m_track->height);
    m_options.positions = std::clamp(int(int64_t(m_options.positions) * 1920 * 1088 / pixels), 1,
                                     m_options.positions);
    m_valid = reopen();
}

VideoDecoder::~VideoDecoder() { clearCache(); }

bool VideoDecoder::reopen()
{
    State& s = *m_state;
    s.stream = m_track->streamIndex;
    if (!av::openStreamDecoder(m_file->path(), s.stream, m_options.threads, s.fmt, s.codec))
        return false;
    const uint8_t* extra = s.codec->extradata;
    s.nalLengthSize =
        s.codec->codec_id == AV_CODEC_ID_H264 && s.codec->extradata_size >= 7 && extra[0] == 1
            ? (extra[4] & 3) + 1
            : 0;
    s.lastOutPts = INT64_MIN;
    s.readIndex = -1;
    s.expectIndex = -1;
    s.firstGoodPts = INT64_MIN;
    s.outCount = 0;
    s.flushing = s.drained = false;
    return true;
}

bool VideoDecoder::seekToKey(int64_t pts)
{
    State& s = *m_state;
    ++m_seeks;
    const std::vector<KeyFrame>& keys = m_track->keyFrames;
    const auto it = keyAfter(pts);
    if (it == keys.begin() || (it - 1)->decodeIndex == 0 || !s.fmt || !s.codec)
        return reopen(); // back to the top of the file: the one position every demuxer has
    const KeyFrame& key = *(it - 1);
    avcodec_flush_buffers(s.codec.get());
    s.lastOutPts = INT64_MIN;
    s.flushing = s.drained = false;
    // Demuxers index by display or by (shifted) decode stamps; seeking to the key frame's
    // display stamp lands on it or before it, never after it in either case. Packets before
    // it are then skipped unread by the decoder.
    if (av_seek_frame(s.fmt.get(), s.stream, key.pts, AVSEEK_FLAG_BACKWARD) < 0) return reopen();
    s.readIndex = key.decodeIndex - 1;
    s.expectIndex = key.decodeIndex;
    s.firstGoodPts = key.pts;
    s.lastOutPts = key.pts - 1;
    return true;
}

int64_t VideoDecoder::sampleForPts(int64_t pts) const
{
    const std::vector<VideoSample>& v = m_track->samples;
    auto it = std::upper_bound(v.begin(), v.end(), pts,
                               [](int64_t p, const VideoSample& s) { return p < s.pts; });
    return int64_t(it - v.begin()) - 1;
}

int64_t VideoDecoder::decodeIndexForDts(int64_t dts) const
{
    const std::vector<int64_t>& v = m_track->decodeOrderDts;
    auto it = std::lower_bound(v.begin(), v.end(), dts);
    if (it == v.end() || *it != dts) return -1;
    return int64_t(it - v.begin());
}

std::vector<KeyFrame>::const_iterator VideoDecoder::keyAfter(int64_t pts) const
{
    const std::vector<KeyFrame>& keys = m_track->keyFrames;
    return std::upper_bound(keys.begin(), keys.end(), pts,
                            [](int64_t p, const KeyFrame& k) { return p < k.pts; });
}

bool VideoDecoder::canContinue(const State& s, int64_t targetPts, int64_t keyIndex) const
{
    return s.codec && !s.drained && targetPts > s.lastOutPts && keyIndex <= s.readIndex + 1;
}

bool VideoDecoder::choosePosition(int64_t sampleIndex, int64_t targetPts, int64_t keyIndex)
{
    ++m_requests;
    State* best = nullptr;
    int64_t bestCost = INT64_MAX;
    for (const auto& p : m_states) {
        if (!canContinue(*p, targetPts, keyIndex)) continue;
        const int64_t cost = sampleIndex - sampleForPts(p->lastOutPts);
        if (cost < bestCost) {
            bestCost = cost;
            best = p.get();
        }
    }
    const bool forward = best != nullptr;
    if (!best && int(m_states.size()) < m_options.positions && m_state->lastOutPts != INT64_MIN) {
        // A new position, opened at the top of the file; the one in use stays where it is.
        auto fresh = std::make_unique<State>();
        State* previous = m_state;
        m_state = fresh.get();
        if (reopen()) {
            m_states.push_back(std::move(fresh));
            m_state->lastUse = m_requests;
            return canContinue(*m_state, targetPts, keyIndex); // a frame before the second key
        }
        m_state = previous;
    }
    if (!best) {
        // A position between the same key frames (standing past the frame) is of no more use
        // there once this one stands before it; otherwise the least recently used one seeks.
        const std::vector<KeyFrame>& keys = m_track->keyFrames;
        const auto next = keyAfter(targetPts);
        const int64_t from = next == keys.begin() ? INT64_MIN : (next - 1)->pts;
        const int64_t to = next == keys.end() ? INT64_MAX : next->pts;
        auto rank = [&](const std::unique_ptr<State>& p) {
            return std::pair{!(p->lastOutPts >= from && p->lastOutPts < to), p->lastUse};
        };
        best =
            std::min_element(m_states.begin(), m_states.end(), [&](const auto& a, const auto& b) {
                return rank(a) < rank(b);
            })->get();
    }
    m_state = best;
    best->lastUse = m_requests;
    // Positions left unused for long are closed (playing forward uses one).
    std::erase_if(m_states, [&](const std::unique_ptr<State>& p) {
        return p.get() != best && m_requests - p->lastUse > kPositionExpiry;
    });
    return forward;
}

const AVFrame* VideoDecoder::frameAt(int64_t mediaTime)
{
    if (!m_valid) return nullptr;
    return frameForSample(m_track->sampleIndexAt(mediaTime));
}

const AVFrame* VideoDecoder::frameForSample(int64_t sampleIndex)
{
    m_aborted = false;
    if (!m_valid || sampleIndex < 0 || sampleIndex >= int64_t(m_track->samples.size()))
        return nullptr;
    if (const AVFrame* f = cacheLookup(sampleIndex)) return f;
    const int64_t target = m_track->samples[size_t(sampleIndex)].pts;
    const std::vector<KeyFrame>& keys = m_track->keyFrames;
    const auto it = keyAfter(target);
    int64_t keyIndex = it == keys.begin() ? 0 : (it - 1)->decodeIndex;
    const bool forward = choosePosition(sampleIndex, target, keyIndex);
    if (!forward && !seekToKey(target)) return nullptr;
    const AVFrame* f = decodeUntil(sampleIndex);
    // The decoder's state was off: start again cleanly.
    if (!f && forward && !m_aborted && seekToKey(target)) f = decodeUntil(sampleIndex);
    return f;
}

const AVFrame* VideoDecoder::frameNear(int64_t mediaTime)
{
    m_aborted = false;
    if (!m_valid) return nullptr;
    const int64_t sample = m_track->sampleIndexAt(mediaTime);
    if (sample < 0 || sample >= int64_t(m_track->samples.size())) return nullptr;
    if (const AVFrame* f = cacheLookup(sample)) return f;
    const int64_t target = m_track->samples[size_t(sample)].pts;
    const std::vector<KeyFrame>& keys = m_track->keyFrames;
    const auto it = keyAfter(target);
    const int64_t keyIndex = it == keys.begin() ? 0 : (it - 1)->decodeIndex;
    // The nearest position standing before the frame between the same key frames.
    int64_t standing = -1;
    for (const auto& p : m_states)
        if (canContinue(*p, target, keyIndex) && p->lastOutPts != INT64_MIN)
            standing = std::max(standing, sampleForPts(p->lastOutPts));
    if (standing >= 0 && sample - standing <= kNearFrames) return frameForSample(sample);
    int64_t key = it == keys.begin() ? 0 : std::max<int64_t>(0, sampleForPts((it - 1)->pts));
    // From a position nearer than the key frame, its next frame (one decode) is the picture.
    if (standing + 1 > key) key = standing + 1;
    const CachedFrame* nearest = nullptr;
    for (const CachedFrame& c : m_cache)
        if (!nearest || std::abs(c.sample - sample) < std::abs(nearest->sample - sample))
            nearest = &c;
    if (nearest && std::abs(nearest->sample - sample) <= sample - key)
        return cacheLookup(nearest->sample);
    return frameForSample(key);
}

const AVFrame* VideoDecoder::decodeUntil(int64_t sampleIndex)
{
    State& s = *m_state;
    if (!s.codec) return nullptr;
    const int64_t target = m_track->samples[size_t(sampleIndex)].pts;
    const AVFrame* best = nullptr;
    AVFrame* frame = s.frame.get();
    AVPacket* pkt = s.packet.get();
    // Every turn either takes a frame out, puts a packet in or ends; the cap only guards
    // against a demuxer that never reaches its end.
    const int64_t cap = 4 * int64_t(m_track->decodeOrderDts.size()) + 1024;
    for (int64_t turn = 0; turn < cap; ++turn) {
        int r = avcodec_receive_frame(s.codec.get(), frame);
        if (r == 0) {
            ++m_decoded;
            // The packet's own stamp travels with the frame; a frame without one follows
            // the previous frame.
            int64_t pts = m_track->countedFrames ? s.outCount : frame->pts;
            ++s.outCount;
            if (pts == AV_NOPTS_VALUE) {
                int64_t next = s.lastOutPts == INT64_MIN ? 0 : sampleForPts(s.lastOutPts) + 1;
                next = std::clamp<int64_t>(next, 0, int64_t(m_track->samples.size()) - 1);
                pts = m_track->samples[size_t(next)].pts;
            }
            s.lastOutPts = pts;
            int64_t index = sampleForPts(pts);
            if (index < 0 || pts < s.firstGoodPts) { // pre-roll, or not decodable from here
                av_frame_unref(frame);
                continue;
            }
            if (pts > target) { // the wanted frame never came: show the one before, if any
                const AVFrame* shown = best ? best : cacheStore(index, frame);
                av_frame_unref(frame);
                return shown;
            }
            best = cacheStore(index, frame);
            av_frame_unref(frame);
            if (pts == target) return best;
            continue;
        }
        if (r == AVERROR_EOF) {
            s.drained = true;
            return best;
        }
        if (r != AVERROR(EAGAIN)) continue; // a damaged frame: go on with the next
        if (s.flushing) {
            s.drained = true;
            return best;
        }
        // The decoder wants input: the next packet of our stream, or the end, unless the frame
        // is no longer wanted.
        if (m_abort && *m_abort && (*m_abort)()) {
            m_aborted = true;
            return nullptr;
        }
        bool sent = false;
        for (int retries = 0; !sent && retries < kMaxReadRetries;) {
            int rr = av_read_frame(s.fmt.get(), pkt);
            if (rr == AVERROR(EAGAIN)) {
                ++retries;
                continue;
            }
            if (rr < 0) break;
            if (pkt->stream_index != s.stream) {
                av_packet_unref(pkt);
                continue;
            }
            int64_t index = pkt->dts != AV_NOPTS_VALUE ? decodeIndexForDts(pkt->dts) : -1;
            if (s.expectIndex >= 0 && index > s.expectIndex) {
                // The demuxer landed after the key frame: decode from the top instead.
                av_packet_unref(pkt);
                if (!reopen()) return nullptr;
                continue;
            }
            if (s.expectIndex >= 0 && index >= 0 && index < s.expectIndex) {
                av_packet_unref(pkt); // landed early: go on to the key frame itself
                continue;
            }
            s.expectIndex = -1;
            s.readIndex = index >= 0 ? index : s.readIndex + 1;
            // Frames shown before the target that no other frame refers to need no decoding
            // (unless frames are told apart by counting, where every frame must come out).
            const bool before =
                m_track->allStamped && pkt->pts != AV_NOPTS_VALUE && pkt->pts < target;
            // Those an H.264 header shows are not sent at all: sent and then dropped, each
            // would still take its turn among the decoder's frame threads.
            if (before && s.nalLengthSize > 0 &&
                nonReferenceH264(pkt->data, pkt->size, s.nalLengthSize)) {
                av_packet_unref(pkt);
                continue;
            }
            s.codec->skip_frame = before ? AVDISCARD_NONREF : AVDISCARD_DEFAULT;
            avcodec_send_packet(s.codec.get(), pkt); // damaged packets are skipped
            av_packet_unref(pkt);
            sent = true;
        }
        if (!sent) {
            avcodec_send_packet(s.codec.get(), nullptr);
            s.flushing = true;
        }
    }
    return best;
}

const AVFrame* VideoDecoder::cacheLookup(int64_t sample)
{
    for (auto it = m_cache.begin(); it != m_cache.end(); ++it) {
        if (it->sample == sample) {
            m_cache.splice(m_cache.begin(), m_cache, it);
            return m_cache.front().frame;
        }
    }
    return nullptr;
}

const AVFrame* VideoDecoder::cacheStore(int64_t sample, const AVFrame* frame)
{
    for (auto it = m_cache.begin(); it != m_cache.end(); ++it) {
        if (it->sample == sample) {
            m_cacheBytes -= it->bytes;
            av_frame_free(&it->frame);
            m_cache.erase(it);
            break;
        }
    }
    AVFrame* copy = av_frame_clone(frame);
    if (!copy) throw std::bad_alloc();
    size_t bytes = frameBytes(copy);
    m_cache.push_front({sample, copy, bytes});
    m_cacheBytes += bytes;
    while (m_cache.size() > 1 &&
           (m_cache.size() > m_options.cacheFrames || m_cacheBytes > m_options.cacheBytes)) {
        m_cacheBytes -= m_cache.back().bytes;
        av_frame_free(&m_cache.back().frame);
        m_cache.pop_back();
    }
    return copy;
}

void VideoDecoder::clearCache()
{
    for (CachedFrame& c : m_cache)
        av_frame_free(&c.frame);
    m_cache.clear();
    m_cacheBytes = 0;
}

bool VideoDecoder::drawAt(int64_t mediaTime, Pixmap& dst)
{
    return drawShown(frameAt(mediaTime), dst);
}

bool VideoDecoder::drawSample(int64_t sampleIndex, Pixmap& dst)
{
    return drawShown(frameForSample(sampleIndex), dst);
}

bool VideoDecoder::drawNear(int64_t mediaTime, Pixmap& dst)
{
    return drawShown(frameNear(mediaTime), dst);
}

bool VideoDecoder::drawShown(const AVFrame* frame, Pixmap& dst)
{
    if (m_turn.isIdentity()) return convert(frame, dst);
    if (!frame || dst.isEmpty()) return false;
    // Scaled as stored to the shown size (sides exchanged by a quarter turn), then turned.
    const int32_t w = m_turn.transpose ? dst.height() : dst.width();
    const int32_t h = m_turn.transpose ? dst.width() : dst.height();
    if (m_stored.width() != w || m_stored.height() != h) m_stored.resize(w, h);
    if (!convert(frame, m_stored)) return false;
    for (int32_t y = 0; y < dst.height(); ++y) {
        uint32_t* out = dst.row(y);
        const int32_t v = m_turn.mirrorY ? dst.height() - 1 - y : y;
        if (m_turn.transpose) {
            for (int32_t x = 0; x < dst.width(); ++x)
                out[x] = m_stored.pixel(v, m_turn.mirrorX ? dst.width() - 1 - x : x);
        } else {
            const uint32_t* in = m_stored.row(v);
            for (int32_t x = 0; x < dst.width(); ++x)
                out[x] = in[m_turn.mirrorX ? dst.width() - 1 - x : x];
        }
    }
    return true;
}

bool VideoDecoder::convert(const AVFrame* frame, Pixmap& dst)
{
    if (!frame || dst.isEmpty() || frame->width <= 0 || frame->height <= 0) return false;
    bool fullRange = frame->color_range == AVCOL_RANGE_JPEG;
    AVPixelFormat format = unJpegFormat(AVPixelFormat(frame->format), fullRange);
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(format);
    if (!desc) return false;
    int colorspace = frame->colorspace;
    if (colorspace == AVCOL_SPC_UNSPECIFIED || colorspace == AVCOL_SPC_RGB)
        colorspace = frame->height >= 720 ? AVCOL_SPC_BT709 : AVCOL_SPC_BT470BG;

    Scaler& sc = *m_scaler;
    if (!sc.ctx || sc.srcW != frame->width || sc.srcH != frame->height || sc.srcFormat != format ||
        sc.dstW != dst.width() || sc.dstH != dst.height() || sc.colorspace != colorspace ||
        sc.fullRange != fullRange) {
        sws_freeContext(sc.ctx);
        sc.ctx = sws_alloc_context();
        if (!sc.ctx) throw std::bad_alloc();
        bool sameSize = frame->width == dst.width() && frame->height == dst.height();
        int threads = m_options.threads > 0
                          ? m_options.threads
                          : int(std::max(1u, std::thread::hardware_concurrency()));
        av_opt_set_int(sc.ctx, "srcw", frame->width, 0);
        av_opt_set_int(sc.ctx, "srch", frame->height, 0);
        av_opt_set_int(sc.ctx, "src_format", format, 0);
        av_opt_set_int(sc.ctx, "dstw", dst.width(), 0);
        av_opt_set_int(sc.ctx, "dsth", dst.height(), 0);
        av_opt_set_int(sc.ctx, "dst_format", AV_PIX_FMT_BGRA, 0);
        const int resizeFlags = m_options.fastScaling ? SWS_FAST_BILINEAR : SWS_BICUBIC;
        av_opt_set_int(sc.ctx, "sws_flags", sameSize ? SWS_BILINEAR : resizeFlags, 0);
        av_opt_set_int(sc.ctx, "threads", threads, 0);
        if (sws_init_context(sc.ctx, nullptr, nullptr) < 0) {
            sws_freeContext(sc.ctx);
            sc.ctx = nullptr;
            return false;
        }
        if (!(desc->flags & AV_PIX_FMT_FLAG_RGB))
            sws_setColorspaceDetails(sc.ctx, sws_getCoefficients(colorspace), fullRange ? 1 : 0,
                                     sws_getCoefficients(SWS_CS_DEFAULT), 1, 0, 1 << 16, 1 << 16);
        sc.srcW = frame->width;
        sc.srcH = frame->height;
        sc.srcFormat = format;
        sc.dstW = dst.width();
        sc.dstH = dst.height();
        sc.colorspace = colorspace;
        sc.fullRange = fullRange;
    }

    av::FramePtr src = av::makeFrame();
    if (av_frame_ref(src.get(), frame) < 0) throw std::bad_alloc();
    src->format = format;
    // The scaler writes whole vectors, up to 16 pixels past the end of a row. Pictures whose
    // rows are a multiple of 16 pixels are written in place; others go through a padded
    // frame and are copied.
    av::FramePtr out = av::makeFrame();
    out->width = dst.width();
    out->height = dst.height();
    out->format = AV_PIX_FMT_BGRA;
    const bool inPlace = dst.width() % 16 == 0;
    if (inPlace) {
        size_t bytes = dst.strideBytes() * size_t(dst.height());
        out->buf[0] =
            av_buffer_create(reinterpret_cast<uint8_t*>(dst.data()), bytes, noFree, nullptr, 0);
        if (!out->buf[0]) throw std::bad_alloc();
        out->data[0] = reinterpret_cast<uint8_t*>(dst.data());
        out->linesize[0] = int(dst.strideBytes());
    } else if (av_frame_get_buffer(out.get(), 64) < 0) {
        throw std::bad_alloc();
    }
    if (sws_scale_frame(sc.ctx, out.get(), src.get()) < 0) return false;
    if (!inPlace) {
        for (int32_t y = 0; y < dst.height(); ++y)
            std::memcpy(dst.row(y), out->data[0] + size_t(y) * size_t(out->linesize[0]),
                        dst.strideBytes());
    }
    return true;
}

} // namespace zef::movies
