#include "platform/movies/media_file.h"

#include "platform/movies/av_support.h"
#include "platform/movies/skim_reader.h"

extern "C" {
#include <libavutil/intreadwrite.h>
#include <libavutil/pixdesc.h>
}

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <limits>
#include <numeric>
#include <set>

namespace zef::movies {

namespace {

// A file with more packets than this is not read further (bounds memory for broken files).
constexpr int64_t kMaxPackets = 20'000'000;
constexpr int kMaxReadRetries = 1000;
constexpr int32_t kStillTimeScale = 600;

// Media that FFmpeg reads but the toolbox leaves to the media graph.
const std::set<std::string> kRefusedMedia = {
    "matroska,webm", "mpegts", "mpeg", "mpegvideo", "ogg", "flv", "live_flv", "asf", "asf_o"};

const std::set<std::string> kImageDemuxers = {"png_pipe", "jpeg_pipe", "bmp_pipe", "gif",
                                              "gif_pipe", "tiff_pipe", "image2"};

bool isStillCodec(AVCodecID id)
{
    return id == AV_CODEC_ID_PNG || id == AV_CODEC_ID_MJPEG || id == AV_CODEC_ID_BMP ||
           id == AV_CODEC_ID_GIF || id == AV_CODEC_ID_TIFF;
}

bool isUsableVideo(const AVStream* st)
{
    const AVCodecParameters* p = st->codecpar;
    return p->codec_type == AVMEDIA_TYPE_VIDEO &&
           !(st->disposition & AV_DISPOSITION_ATTACHED_PIC) && p->width > 0 && p->height > 0 &&
           avcodec_find_decoder(p->codec_id) != nullptr;
}

bool isUsableSound(const AVStream* st)
{
    const AVCodecParameters* p = st->codecpar;
    return p->codec_type == AVMEDIA_TYPE_AUDIO && p->sample_rate > 0 &&
           p->ch_layout.nb_channels > 0 && avcodec_find_decoder(p->codec_id) != nullptr;
}

// Whether the toolbox itself takes a container that FFmpeg detected.
bool toolboxTakes(const AVFormatContext* fmt)
{
    const std::string name = fmt->iformat->name;
    if (name == "mov,mp4,m4a,3gp,3g2,mj2" || name == "avi" || name == "dv" || name == "wav" ||
        name == "aiff" || name == "mp3")
        return true;
    if (kImageDemuxers.count(name)) {
        for (unsigned i = 0; i < fmt->nb_streams; ++i)
            if (!isStillCodec(fmt->streams[i]->codecpar->codec_id)) return false;
        return true;
    }
    if (name == "mpeg" || name == "mpegvideo") {
        // MPEG-1 only: MPEG-2 program streams use the same demuxer.
        for (unsigned i = 0; i < fmt->nb_streams; ++i) {
            const AVCodecParameters* p = fmt->streams[i]->codecpar;
            if (p->codec_type == AVMEDIA_TYPE_VIDEO && p->codec_id != AV_CODEC_ID_MPEG1VIDEO)
                return false;
            if (p->codec_type == AVMEDIA_TYPE_AUDIO && p->codec_id != AV_CODEC_ID_MP1 &&
                p->codec_id != AV_CODEC_ID_MP2 && p->codec_id != AV_CODEC_ID_MP3)
                return false;
        }
        return true;
    }
    return false;
}

FourCC fromTag(uint32_t tag)
{
    // FFmpeg keeps tags with the first character in the lowest byte.
    return ((tag & 0xFF) << 24) | ((tag & 0xFF00) << 8) | ((tag >> 8) & 0xFF00) | (tag >> 24);
}

bool printableTag(uint32_t tag)
{
    for (int i = 0; i < 4; ++i) {
        unsigned c = (tag >> (8 * i)) & 0xFF;
        if (c < 0x20 || c > 0x7E) return false;
    }
    return true;
}

FourCC videoCompressionType(const AVFormatContext* fmt, const AVCodecParameters* p)
{
    if (std::strcmp(fmt->iformat->name, "mov,mp4,m4a,3gp,3g2,mj2") == 0 && p->codec_tag &&
        printableTag(p->codec_tag))
        return fromTag(p->codec_tag);
    switch (p->codec_id) {
    case AV_CODEC_ID_H264:
        return fourcc("avc1");
    case AV_CODEC_ID_HEVC:
        return fourcc("hvc1");
    case AV_CODEC_ID_MPEG4:
        return fourcc("mp4v");
    case AV_CODEC_ID_MJPEG:
        return fourcc("jpeg");
    case AV_CODEC_ID_DVVIDEO:
        return p->height == 576 ? fourcc("dvcp") : fourcc("dvc ");
    case AV_CODEC_ID_PNG:
        return fourcc("png ");
    case AV_CODEC_ID_BMP:
        return fourcc("bmp ");
    case AV_CODEC_ID_GIF:
        return fourcc("gif ");
    case AV_CODEC_ID_TIFF:
        return fourcc("tiff");
    case AV_CODEC_ID_MPEG1VIDEO:
        return fourcc("mp1v");
    case AV_CODEC_ID_MPEG2VIDEO:
        return fourcc("mp2v");
    case AV_CODEC_ID_RAWVIDEO:
        return fourcc("raw ");
    case AV_CODEC_ID_CINEPAK:
        return fourcc("cvid");
    case AV_CODEC_ID_QTRLE:
        return fourcc("rle ");
    case AV_CODEC_ID_SVQ1:
        return fourcc("SVQ1");
    case AV_CODEC_ID_SVQ3:
        return fourcc("SVQ3");
    default:
        break;
    }
    if (p->codec_tag && printableTag(p->codec_tag)) return fromTag(p->codec_tag);
    return fourcc("????");
}

FourCC soundFormat(const AVFormatContext* fmt, const AVCodecParameters* p)
{
    switch (p->codec_id) {
    case AV_CODEC_ID_PCM_S16BE:
        return fourcc("twos");
    case AV_CODEC_ID_PCM_S8:
        return fourcc("twos");
    case AV_CODEC_ID_PCM_S16LE:
        return fourcc("sowt");
    case AV_CODEC_ID_PCM_U8:
        return fourcc("raw ");
    case AV_CODEC_ID_PCM_S24BE:
    case AV_CODEC_ID_PCM_S24LE:
        return fourcc("in24");
    case AV_CODEC_ID_PCM_S32BE:
    case AV_CODEC_ID_PCM_S32LE:
        return fourcc("in32");
    case AV_CODEC_ID_PCM_F32BE:
    case AV_CODEC_ID_PCM_F32LE:
        return fourcc("fl32");
    case AV_CODEC_ID_PCM_F64BE:
    case AV_CODEC_ID_PCM_F64LE:
        return fourcc("fl64");
    case AV_CODEC_ID_PCM_MULAW:
        return fourcc("ulaw");
    case AV_CODEC_ID_PCM_ALAW:
        return fourcc("alaw");
    case AV_CODEC_ID_ADPCM_IMA_QT:
        return fourcc("ima4");
    case AV_CODEC_ID_AAC:
        return fourcc("mp4a");
    case AV_CODEC_ID_MP3:
        return fourcc(".mp3");
    case AV_CODEC_ID_MP2:
        return fourcc(".mp2");
    case AV_CODEC_ID_MP1:
        return fourcc(".mp1");
    case AV_CODEC_ID_AC3:
        return fourcc("ac-3");
    case AV_CODEC_ID_ALAC:
        return fourcc("alac");
    default:
        break;
    }
    if (std::strcmp(fmt->iformat->name, "mov,mp4,m4a,3gp,3g2,mj2") == 0 && p->codec_tag &&
        printableTag(p->codec_tag))
        return fromTag(p->codec_tag);
    return fourcc("????");
}

struct PacketStamp {
    int64_t pts = AV_NOPTS_VALUE;
    int64_t dts = AV_NOPTS_VALUE;
    int64_t duration = 0;
    bool key = false;
    bool discard = false;
    int64_t skipStart = 0; // sound samples the decoder drops at the start / end of the packet
    int64_t skipEnd = 0;
};

int64_t clampScale(int64_t v)
{
    return std::clamp<int64_t>(v, 1, std::numeric_limits<int32_t>::max());
}

// With reordering, the display stamps of a stream are its decode stamps moved by the delay of
// its first frame. Frames that lack a display stamp are reference frames in the streams that
// leave stamps out, and reference frames are shown in decode order: they get the display
// stamps no stamped frame took, in rising order.
void fillReorderedStamps(std::vector<PacketStamp>& packets, int64_t shift)
{
    std::multiset<int64_t> free;
    for (const PacketStamp& p : packets)
        if (p.dts != AV_NOPTS_VALUE) free.insert(p.dts + shift);
    for (const PacketStamp& p : packets)
        if (p.pts != AV_NOPTS_VALUE)
            if (auto it = free.find(p.pts); it != free.end()) free.erase(it);
    auto next = free.begin();
    for (PacketStamp& p : packets)
        if (p.pts == AV_NOPTS_VALUE && p.dts != AV_NOPTS_VALUE && next != free.end())
            p.pts = *next++;
}

// Fills a video track's sample table, key frames and time scale from its packets.
bool buildVideoTable(TrackInfo& t, const AVStream* st, std::vector<PacketStamp>& packets,
                     bool stillImage, bool counted)
{
    const AVRational tb = st->time_base;
    if (counted) {
        // Number the frames and give each the stream's frame duration.
        AVRational rate = st->avg_frame_rate.num > 0 ? st->avg_frame_rate : st->r_frame_rate;
        if (rate.num <= 0 || rate.den <= 0 || rate.num > std::numeric_limits<int32_t>::max())
            rate = AVRational{25, 1};
        const int64_t count = int64_t(packets.size());
        t.allStamped = false;
        t.countedFrames = true;
        t.timeScale = rate.num;
        t.startPts = 0;
        for (int64_t i = 0; i < count; ++i) {
            t.decodeOrderDts.push_back(i);
            t.samples.push_back({i * rate.den, rate.den, i, i == 0});
        }
        t.keyFrames.push_back({0, 0, 0});
        t.sampleCount = count;
        t.duration = count * rate.den;
        return count > 0;
    }
    int64_t defaultDuration = 1;
    AVRational rate = st->avg_frame_rate.num > 0 ? st->avg_frame_rate : st->r_frame_rate;
    if (rate.num > 0 && rate.den > 0)
        defaultDuration = std::max<int64_t>(1, av_rescale_q(1, av_inv_q(rate), tb));

    // Fill in missing stamps (program streams stamp only some frames). Without reordering a
    // frame follows the previous one by the step of the decode stamps; with reordering the
    // usual distance between decode and display stamps is assumed.
    const bool reordered = st->codecpar->video_delay > 0;
    t.allStamped = std::all_of(packets.begin(), packets.end(),
                               [](const PacketStamp& p) { return p.pts != AV_NOPTS_VALUE; });
    int64_t shift = 0;
    for (const PacketStamp& p : packets)
        if (p.pts != AV_NOPTS_VALUE && p.dts != AV_NOPTS_VALUE) {
            shift = p.pts - p.dts;
            break;
        }
    if (reordered) fillReorderedStamps(packets, shift);
    int64_t lastPts = AV_NOPTS_VALUE, lastDts = AV_NOPTS_VALUE;
    for (PacketStamp& p : packets) {
        if (p.pts == AV_NOPTS_VALUE && p.dts != AV_NOPTS_VALUE)
            p.pts = lastPts != AV_NOPTS_VALUE && lastDts != AV_NOPTS_VALUE
                        ? lastPts + (p.dts - lastDts)
                        : p.dts + shift;
        if (p.pts == AV_NOPTS_VALUE)
            p.pts = lastPts == AV_NOPTS_VALUE ? 0 : lastPts + defaultDuration;
        if (p.dts == AV_NOPTS_VALUE) p.dts = lastDts == AV_NOPTS_VALUE ? p.pts : lastDts + 1;
        lastPts = p.pts;
        lastDts = p.dts;
        t.decodeOrderDts.push_back(p.dts);
    }

    std::vector<PacketStamp> shown;
    for (const PacketStamp& p : packets)
        if (!p.discard) shown.push_back(p);
    if (shown.empty()) return false;
    std::stable_sort(shown.begin(), shown.end(),
                     [](const PacketStamp& a, const PacketStamp& b) { return a.pts < b.pts; });
    shown.erase(
        std::unique(shown.begin(), shown.end(),
                    [](const PacketStamp& a, const PacketStamp& b) { return a.pts == b.pts; }),
        shown.end());

    for (int64_t i = 0; i < int64_t(packets.size()); ++i)
        if (packets[size_t(i)].key && !packets[size_t(i)].discard)
            t.keyFrames.push_back({packets[size_t(i)].pts, packets[size_t(i)].dts, i});
    if (t.keyFrames.empty()) // some demuxers flag nothing; decoding can always start at the top
        t.keyFrames.push_back({packets[0].pts, packets[0].dts, 0});
    std::sort(t.keyFrames.begin(), t.keyFrames.end(),
              [](const KeyFrame& a, const KeyFrame& b) { return a.pts < b.pts; });
    std::set<int64_t> keyPts;
    for (const KeyFrame& k : t.keyFrames)
        keyPts.insert(k.pts);

    t.startPts = shown.front().pts;
    if (stillImage && shown.size() == 1) {
        t.still = true;
        t.timeScale = kStillTimeScale;
        t.samples.push_back({0, kStillTimeScale, shown[0].pts, true});
    } else {
        int64_t num = tb.num, den = tb.den;
        int64_t g = std::gcd(num, den);
        num /= g;
        den /= g;
        // Media time = (pts - start) × num in a scale of den; very fine bases are rescaled.
        int64_t scale = den;
        auto toMedia = [&](int64_t ticks) {
            if (den <= std::numeric_limits<int32_t>::max()) return ticks * num;
            return av_rescale(ticks, num * 90000, den);
        };
        if (den > std::numeric_limits<int32_t>::max()) scale = 90000;
        t.timeScale = int32_t(clampScale(scale));
        t.samples.reserve(shown.size());
        for (size_t i = 0; i < shown.size(); ++i) {
            VideoSample s;
            s.pts = shown[i].pts;
            s.time = toMedia(shown[i].pts - t.startPts);
            s.sync = keyPts.count(s.pts) != 0;
            t.samples.push_back(s);
        }
        for (size_t i = 0; i + 1 < t.samples.size(); ++i)
            t.samples[i].duration = t.samples[i + 1].time - t.samples[i].time;
        int64_t lastDur = shown.back().duration > 0 ? toMedia(shown.back().duration) : 0;
        if (lastDur <= 0)
            lastDur = t.samples.size() > 1 ? t.samples[t.samples.size() - 2].duration
                                           : toMedia(defaultDuration);
        t.samples.back().duration = std::max<int64_t>(1, lastDur);
    }
    t.sampleCount = int64_t(t.samples.size());
    t.duration = t.samples.back().time + t.samples.back().duration;
    return true;
}

// The extent of a sound stream, gathered packet by packet (sound has many small packets, so
// they are not kept).
struct SoundExtent {
    int64_t start = AV_NOPTS_VALUE;
    int64_t end = AV_NOPTS_VALUE;
    int64_t running = 0;
    int64_t skipped = 0;
    int64_t firstSkip = -1;

    void add(const PacketStamp& p)
    {
        if (p.discard) return;
        if (firstSkip < 0) firstSkip = p.skipStart;
        skipped += p.skipStart + p.skipEnd;
        int64_t pts = p.pts != AV_NOPTS_VALUE ? p.pts : p.dts;
        if (pts == AV_NOPTS_VALUE) pts = running;
        if (start == AV_NOPTS_VALUE || pts < start) start = pts;
        int64_t e = pts + std::max<int64_t>(0, p.duration);
        if (end == AV_NOPTS_VALUE || e > end) end = e;
        running = e;
    }
};

bool buildSoundTable(TrackInfo& t, const AVStream* st, const SoundExtent& x)
{
    const AVRational tb = st->time_base;
    if (x.start == AV_NOPTS_VALUE) return false;
    // Media time 0 is the first sample the decoder gives out, after its start trimming.
    t.startPts =
        x.start + av_rescale_q(std::max<int64_t>(0, x.firstSkip), AVRational{1, t.sampleRate}, tb);
    t.timeScale = t.sampleRate;
    t.sampleCount = av_rescale_q(x.end - x.start, tb, AVRational{1, t.sampleRate}) - x.skipped;
    t.duration = t.sampleCount;
    return t.sampleCount > 0;
}

// The track matrix of the turn for stored pictures of width × height: the turn's quarter
// turns and mirror images, placed so that the shown picture begins at (0, 0).
MatrixRecord turnMatrix(const PictureTurn& turn, int32_t width, int32_t height)
{
    const int32_t shownWidth = turn.transpose ? height : width;
    const int32_t shownHeight = turn.transpose ? width : height;
    const Fixed x = turn.mirrorX ? -kFixed1 : kFixed1;
    const Fixed y = turn.mirrorY ? -kFixed1 : kFixed1;
    MatrixRecord m = MatrixRecord::identity();
    // x' = x·m[0][0] + y·m[1][0] + m[2][0], y' = x·m[0][1] + y·m[1][1] + m[2][1]
    m.m[0][0] = turn.transpose ? 0 : x;
    m.m[1][1] = turn.transpose ? 0 : y;
    m.m[1][0] = turn.transpose ? x : 0;
    m.m[0][1] = turn.transpose ? y : 0;
    m.m[2][0] = turn.mirrorX ? Fixed(shownWidth) << 16 : 0;
    m.m[2][1] = turn.mirrorY ? Fixed(shownHeight) << 16 : 0;
    return m;
}

void describeVideo(TrackInfo& t, const AVFormatContext* fmt, const AVStream* st)
{
    const AVCodecParameters* p = st->codecpar;
    t.codedWidth = p->width;
    t.codedHeight = p->height;
    PictureTurn turn;
    size_t size = 0;
    if (const uint8_t* side = av_stream_get_side_data(st, AV_PKT_DATA_DISPLAYMATRIX, &size);
        side && size >= 9 * sizeof(int32_t)) {
        MatrixRecord display;
        std::memcpy(display.m.data(), side, 9 * sizeof(int32_t));
        turn = pictureTurnOf(display);
    }
    t.matrix = turnMatrix(turn, p->width, p->height);
    t.width = turn.transpose ? p->height : p->width;
    t.height = turn.transpose ? p->width : p->height;

    ImageDescription& d = t.imageDescription;
    d.cType = videoCompressionType(fmt, p);
    d.width = int16_t(std::min(t.width, 32767));
    d.height = int16_t(std::min(t.height, 32767));
    const AVPixFmtDescriptor* pix = av_pix_fmt_desc_get(AVPixelFormat(p->format));
    d.depth = pix && (pix->flags & AV_PIX_FMT_FLAG_ALPHA) ? 32 : 24;
    if (const AVCodecDescriptor* cd = avcodec_descriptor_get(p->codec_id))
        d.name = std::string(cd->long_name ? cd->long_name : cd->name).substr(0, 31);
}

void describeSound(TrackInfo& t, const AVFormatContext* fmt, const AVStream* st)
{
    const AVCodecParameters* p = st->codecpar;
    t.sampleRate = p->sample_rate;
    t.channels = p->ch_layout.nb_channels;
    int bits = av_get_bits_per_sample(p->codec_id);
    t.bitsPerSample = bits > 0 ? bits : 16;
    SoundDescription& d = t.soundDescription;
    d.dataFormat = soundFormat(fmt, p);
    d.numChannels = int16_t(std::min(t.channels, 32767));
    d.sampleSize = int16_t(t.bitsPerSample);
    d.setRateHz(t.sampleRate);
}

// Codecs whose packets the movie demuxer passes on without looking into them.
bool skimmable(AVCodecID id)
{
    switch (id) {
    case AV_CODEC_ID_H264:
    case AV_CODEC_ID_HEVC:
    case AV_CODEC_ID_MPEG4:
    case AV_CODEC_ID_MJPEG:
    case AV_CODEC_ID_PRORES:
    case AV_CODEC_ID_PNG:
    case AV_CODEC_ID_RAWVIDEO:
    case AV_CODEC_ID_QTRLE:
    case AV_CODEC_ID_AAC:
    case AV_CODEC_ID_ALAC:
        return true;
    default:
        return id >= AV_CODEC_ID_PCM_S16LE && id < AV_CODEC_ID_ADPCM_IMA_QT;
    }
}

// Reads every packet of the streams not discarded, keeping the stamps of video packets and
// the extent of sound streams.
void scanPackets(AVFormatContext* fmt, std::vector<std::vector<PacketStamp>>& stamps,
                 std::vector<SoundExtent>& extents, bool skimmed)
{
    // Skimmed packets hold no data, so a parser cannot tell key frames: the movie demuxer's
    // index gives them instead (its packets come in index order, one per entry).
    std::vector<int> nth(fmt->nb_streams, 0);
    av::PacketPtr pkt = av::makePacket();
    int64_t count = 0;
    int retries = 0;
    for (;;) {
        int r = av_read_frame(fmt, pkt.get());
        if (r == AVERROR(EAGAIN)) {
            if (++retries > kMaxReadRetries) break;
            continue;
        }
        if (r < 0) break;
        if (pkt->stream_index >= 0 && unsigned(pkt->stream_index) < fmt->nb_streams &&
            fmt->streams[pkt->stream_index]->discard != AVDISCARD_ALL) {
            PacketStamp s;
            s.pts = pkt->pts;
            s.dts = pkt->dts;
            s.duration = pkt->duration;
            s.key = (pkt->flags & AV_PKT_FLAG_KEY) != 0;
            if (skimmed) {
                AVStream* st = fmt->streams[pkt->stream_index];
                int n = nth[size_t(pkt->stream_index)]++;
                if (n < avformat_index_get_entries_count(st))
                    if (const AVIndexEntry* e = avformat_index_get_entry(st, n))
                        s.key = (e->flags & AVINDEX_KEYFRAME) != 0;
            }
            s.discard = (pkt->flags & AV_PKT_FLAG_DISCARD) != 0;
            size_t sideSize = 0;
            if (const uint8_t* side =
                    av_packet_get_side_data(pkt.get(), AV_PKT_DATA_SKIP_SAMPLES, &sideSize);
                side && sideSize >= 8) {
                s.skipStart = int64_t(AV_RL32(side));
                s.skipEnd = int64_t(AV_RL32(side + 4));
            }
            if (fmt->streams[pkt->stream_index]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO)
                extents[size_t(pkt->stream_index)].add(s);
            else
                stamps[size_t(pkt->stream_index)].push_back(s);
        }
        av_packet_unref(pkt.get());
        if (++count > kMaxPackets) break;
    }
}

} // namespace

const char* mediaOpenStatusText(MediaOpenStatus status)
{
    switch (status) {
    case MediaOpenStatus::ok:
        return "ok";
    case MediaOpenStatus::notAMovie:
        return "not a movie";
    case MediaOpenStatus::cannotOpen:
        return "cannot open";
    }
    return "cannot open";
}

PictureTurn pictureTurnOf(const MatrixRecord& matrix)
{
    // x' = x·a + y·c, y' = x·b + y·d (translations aside).
    const int64_t a = matrix.m[0][0], b = matrix.m[0][1];
    const int64_t c = matrix.m[1][0], d = matrix.m[1][1];
    const int64_t largest = std::max({std::abs(a), std::abs(b), std::abs(c), std::abs(d)});
    const int64_t small = largest / 256; // what counts as 0 beside the matrix's scale
    PictureTurn turn;
    if (largest == 0) return turn;
    if (std::abs(b) <= small && std::abs(c) <= small && std::abs(a) > small &&
        std::abs(d) > small) {
        turn.mirrorX = a < 0;
        turn.mirrorY = d < 0;
    } else if (std::abs(a) <= small && std::abs(d) <= small && std::abs(b) > small &&
               std::abs(c) > small) {
        turn.transpose = true;
        turn.mirrorX = c < 0;
        turn.mirrorY = b < 0;
    }
    return turn;
}

int32_t PictureTurn::clockwiseQuarters() const
{
    if (!transpose) return mirrorY ? 2 : 0;
    return mirrorX ? 1 : 3;
}

int64_t TrackInfo::sampleIndexAt(int64_t mediaTime) const
{
    if (samples.empty() || mediaTime < 0 || mediaTime >= duration) return -1;
    auto it = std::upper_bound(samples.begin(), samples.end(), mediaTime,
                               [](int64_t t, const VideoSample& s) { return t < s.time; });
    return int64_t(it - samples.begin()) - 1;
}

int64_t TrackInfo::shortestFirstDuration() const
{
    if (samples.empty()) return 0;
    int64_t shortest = timeScale;
    for (size_t i = 0; i < samples.size() && i < 5; ++i)
        shortest = std::min(shortest, samples[i].duration);
    return std::max<int64_t>(1, shortest);
}

double TrackInfo::frameRate() const
{
    int64_t d = shortestFirstDuration();
    return d > 0 ? double(timeScale) / double(d) : 0.0;
}

MediaOpenResult MediaFile::open(const std::string& path)
{
    MediaOpenResult result;
    // Only regular files: a pipe or a device could be read for ever.
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) {
        result.detail = "not a readable file";
        return result;
    }
    std::string error;
    av::FormatPtr fmt = av::openFormat(path, &error);
    if (!fmt) {
        result.detail = error;
        return result;
    }
    std::vector<int> used;
    for (unsigned i = 0; i < fmt->nb_streams; ++i) {
        AVStream* st = fmt->streams[i];
        if (isUsableVideo(st) || isUsableSound(st))
            used.push_back(int(i));
        else
            st->discard = AVDISCARD_ALL;
    }
    if (!toolboxTakes(fmt.get())) {
        // Media of another kind, or bytes that only resemble media (a demuxer chosen by the
        // file name alone, or with little confidence, that finds no usable stream).
        const bool knownMedia = kRefusedMedia.count(fmt->iformat->name) != 0;
        const bool confident = fmt->probe_score > AVPROBE_SCORE_EXTENSION;
        if (!knownMedia && (!confident || used.empty())) {
            result.detail = std::string("not media (") + fmt->iformat->name + ")";
            return result;
        }
        result.status = MediaOpenStatus::notAMovie;
        result.detail = std::string("container not taken: ") + fmt->iformat->name;
        return result;
    }
    if (used.empty()) {
        result.status = MediaOpenStatus::notAMovie;
        result.detail = "no audio or video stream";
        return result;
    }

    // One pass over the packets, reading their stamps and flags. Movie files with codecs the
    // demuxer does not parse are skimmed: their sample data is not read at all.
    AVFormatContext* scanned = fmt.get();
    std::unique_ptr<av::SkimmingFormat> skimmer;
    const char* fullScan = std::getenv("ZEF_MEDIA_FULL_SCAN");
    if (std::strcmp(fmt->iformat->name, "mov,mp4,m4a,3gp,3g2,mj2") == 0 &&
        !(fullScan && *fullScan == '1') && std::all_of(used.begin(), used.end(), [&](int i) {
            return skimmable(fmt->streams[i]->codecpar->codec_id);
        })) {
        skimmer = av::SkimmingFormat::open(path);
        if (skimmer && skimmer->context()->nb_streams == fmt->nb_streams) {
            for (unsigned i = 0; i < fmt->nb_streams; ++i)
                skimmer->context()->streams[i]->discard = fmt->streams[i]->discard;
            skimmer->skimIndexedSamples();
            scanned = skimmer->context();
        }
    }
    std::vector<std::vector<PacketStamp>> stamps(fmt->nb_streams);
    std::vector<SoundExtent> extents(fmt->nb_streams);
    scanPackets(scanned, stamps, extents, scanned != fmt.get());

    std::shared_ptr<MediaFile> file(new MediaFile());
    file->m_path = path;
    file->m_formatName = fmt->iformat->name;
    const bool imageFile = kImageDemuxers.count(file->m_formatName) != 0;
    std::vector<int64_t> startMicros;
    for (int index : used) {
        AVStream* st = fmt->streams[index];
        std::vector<PacketStamp>& packets = stamps[size_t(index)];
        const bool video = st->codecpar->codec_type == AVMEDIA_TYPE_VIDEO;
        if (video ? packets.empty() : extents[size_t(index)].start == AV_NOPTS_VALUE) continue;
        TrackInfo t;
        t.streamIndex = index;
        t.timeBaseNum = st->time_base.num;
        t.timeBaseDen = st->time_base.den;
        // Movie files keep an enabled flag per track, which the demuxer reports as the
        // default disposition; other containers have every track enabled.
        if (file->m_formatName == "mov,mp4,m4a,3gp,3g2,mj2")
            t.enabled = (st->disposition & AV_DISPOSITION_DEFAULT) != 0;
        bool ok = false;
        if (st->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) {
            t.mediaType = kVideoMediaType;
            t.visual = true;
            describeVideo(t, fmt.get(), st);
            ok =
                buildVideoTable(t, st, packets, imageFile,
                                file->m_formatName == "mpegvideo" ||
                                    (file->m_formatName == "avi" && st->codecpar->video_delay > 0));
        } else {
            t.mediaType = kSoundMediaType;
            t.audible = true;
            describeSound(t, fmt.get(), st);
            ok = buildSoundTable(t, st, extents[size_t(index)]);
        }
        if (!ok) continue;
        startMicros.push_back(av_rescale_q(t.startPts, st->time_base, AV_TIME_BASE_Q));
        file->m_tracks.push_back(std::move(t));
    }
    if (file->m_tracks.empty()) {
        result.detail = "no readable samples";
        return result;
    }
    if (!imageFile) {
        int64_t earliest = *std::min_element(startMicros.begin(), startMicros.end());
        for (size_t i = 0; i < file->m_tracks.size(); ++i)
            file->m_tracks[i].offset =
                av_rescale(startMicros[i] - earliest, file->m_tracks[i].timeScale, AV_TIME_BASE);
    }
    result.status = MediaOpenStatus::ok;
    result.file = std::move(file);
    return result;
}

int32_t MediaFile::findTrack(FourCC mediaType, int32_t n) const
{
    for (size_t i = 0; i < m_tracks.size(); ++i)
        if (m_tracks[i].mediaType == mediaType && n-- == 0) return int32_t(i);
    return -1;
}

int32_t MediaFile::trackCount(FourCC mediaType) const
{
    return int32_t(std::count_if(m_tracks.begin(), m_tracks.end(),
                                 [&](const TrackInfo& t) { return t.mediaType == mediaType; }));
}

double MediaFile::durationSeconds() const
{
    double end = 0;
    for (const TrackInfo& t : m_tracks)
        end = std::max(end, double(t.offset + t.duration) / double(t.timeScale));
    return end;
}

} // namespace zef::movies
