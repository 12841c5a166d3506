#include "platform/movies/export/part_export.h"

#include "platform/movies/av_support.h"
#include "platform/movies/export/av_exporter.h"
#include "platform/movies/export/av_output.h"
#include "platform/movies/export/export_pipeline.h"

extern "C" {
#include <libavformat/avformat.h>
}

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <new>

namespace zef::movies {

namespace {

// Parts are written as movie files: they hold every codec the joinable exporters write, with
// exact time stamps and the codec's headers out of band.
constexpr const char* kPartMuxer = "mov";

bool joinableMuxer(const std::string& muxer) { return muxer == "mov" || muxer == "mp4"; }

OSErr setupFor(MovieExporter& exporter, const ExportSource& source, OutputSetup& setup)
{
    auto* av = dynamic_cast<AvFileExporter*>(&exporter);
    const OSType type = exporter.subType();
    if (!av || (type != fourcc("MooV") && type != fourcc("mpg4"))) return featureUnsupported;
    const OSErr err = av->describeOutput(source, setup);
    if (err != noErr) return err;
    if (!joinableMuxer(setup.muxer) || !setup.hasVideo || setup.video.convert || setup.realTime ||
        setup.loop)
        return featureUnsupported;
    return noErr;
}

// One stream of a part, read packet by packet.
struct PartReader {
    av::FormatPtr fmt;
    AVStream* stream = nullptr;
    av::PacketPtr packet = av::makePacket();
    bool atEnd = false;

    bool open(const std::string& path, AVMediaType type, std::string* why)
    {
        fmt = av::openFormat(path, why);
        if (!fmt) return false;
        for (unsigned i = 0; i < fmt->nb_streams; ++i) {
            if (fmt->streams[i]->codecpar->codec_type == type) {
                stream = fmt->streams[i];
            } else {
                fmt->streams[i]->discard = AVDISCARD_ALL;
            }
        }
        if (!stream && why) *why = "no stream of its kind";
        return stream != nullptr && next(why);
    }
    // The next packet of the stream into `packet`; atEnd after the last.
    bool next(std::string* why)
    {
        for (;;) {
            av_packet_unref(packet.get());
            const int r = av_read_frame(fmt.get(), packet.get());
            if (r == AVERROR_EOF) {
                atEnd = true;
                return true;
            }
            if (r < 0) {
                if (why) *why = av::errorText(r);
                return false;
            }
            if (packet->stream_index == stream->index) return true;
        }
    }
    int64_t dts() const { return packet->dts != AV_NOPTS_VALUE ? packet->dts : packet->pts; }
};

bool sameEncoding(const AVCodecParameters* a, const AVCodecParameters* b)
{
    return a->codec_id == b->codec_id && a->width == b->width && a->height == b->height &&
           a->format == b->format && a->extradata_size == b->extradata_size &&
           (a->extradata_size == 0 ||
            std::memcmp(a->extradata, b->extradata, size_t(a->extradata_size)) == 0);
}

} // namespace

OSErr partFormat(MovieExporter& exporter, const ExportSource& source, PartFormat* out)
{
    OutputSetup setup;
    const OSErr err = setupFor(exporter, source, setup);
    if (err != noErr) return err;
    out->muxer = setup.muxer;
    out->muxerOptions = setup.muxerOptions;
    out->rate = setup.video.rate;
    out->frames = exportFrameCount(source, setup.video.rate);
    out->hasSound = setup.hasAudio;
    out->typeString = exporter.shortFileTypeString();
    return noErr;
}

OSErr exportPicturePart(MovieExporter& exporter, ExportSource& source, int64_t first, int64_t end,
                        const std::string& path)
{
    OutputSetup setup;
    OSErr err = setupFor(exporter, source, setup);
    if (err != noErr) return err;
    const int64_t frames = exportFrameCount(source, setup.video.rate);
    if (first < 0 || end > frames || first >= end) return paramErr;
    exportav::AvOutput output;
    const VideoFormat vf = source.video();
    err = output.open(path, kPartMuxer, &setup.video, vf.width, vf.height, nullptr, 0, 0);
    if (err != noErr) return err;
    ExportPlan plan;
    plan.rate = setup.video.rate;
    plan.audio = false;
    plan.firstFrame = first;
    plan.endFrame = end;
    return runExport(source, output, plan, exporter.progress());
}

OSErr exportSoundPart(MovieExporter& exporter, ExportSource& source, const std::string& path)
{
    OutputSetup setup;
    OSErr err = setupFor(exporter, source, setup);
    if (err != noErr) return err;
    if (!setup.hasAudio) return paramErr;
    exportav::AvOutput output;
    const AudioFormat af = source.audio();
    err = output.open(path, kPartMuxer, nullptr, 0, 0, &setup.audio, af.sampleRate, af.channels);
    if (err != noErr) return err;
    // The sound is taken frame by frame at the export's rate, exactly as a whole export takes
    // it, so that the encoder gets the same samples in the same order.
    ExportPlan plan;
    plan.rate = setup.video.rate;
    plan.video = false;
    return runExport(source, output, plan, exporter.progress());
}

OSErr joinParts(const PartFormat& format, const std::vector<PicturePart>& pictures,
                const std::string& sound, const std::string& path, std::string* error,
                const std::function<bool()>& cancelled)
{
    av::initialise();
    std::string why;
    auto fail = [&](OSErr code, const std::string& message) {
        if (error) *error = message;
        return code;
    };
    if (pictures.empty() || !format.rate.valid()) return fail(paramErr, "no picture parts");
    auto partName = [&](size_t i) {
        return "picture part " + std::to_string(i + 1) + " (" + pictures[i].path + ")";
    };

    PartReader video;
    if (!video.open(pictures[0].path, AVMEDIA_TYPE_VIDEO, &why))
        return fail(paramErr, "cannot read " + partName(0) + ": " + why);
    PartReader audio;
    if (!sound.empty() && !audio.open(sound, AVMEDIA_TYPE_AUDIO, &why))
        return fail(paramErr, "cannot read the sound part (" + sound + "): " + why);
    AVCodecParameters* reference = avcodec_parameters_alloc();
    if (!reference) throw std::bad_alloc();
    avcodec_parameters_copy(reference, video.stream->codecpar);
    struct Cleanup {
        AVCodecParameters*& params;
        AVFormatContext*& out;
        ~Cleanup()
        {
            avcodec_parameters_free(&params);
            if (out) {
                if (out->pb) avio_closep(&out->pb);
                avformat_free_context(out);
            }
        }
    };
    AVFormatContext* out = nullptr;
    Cleanup cleanup{reference, out};
    bool opened = false;
    auto failWriting = [&](OSErr code, const std::string& message) {
        if (out && out->pb) avio_closep(&out->pb);
        if (opened) ::unlink(path.c_str());
        return fail(code, message);
    };

    // Every part is there and encoded like the first before anything is written. Each part
    // decodes some frames ahead of showing them (its delay, less in a short part than in a
    // long one); the joined stream decodes every part with the largest delay of any, so that
    // decoding times rise throughout and never come after a frame's showing time.
    int64_t delay = 0;
    for (size_t i = 0; i < pictures.size(); ++i) {
        PartReader other;
        if (i > 0 && !other.open(pictures[i].path, AVMEDIA_TYPE_VIDEO, &why))
            return fail(paramErr, "cannot read " + partName(i) + ": " + why);
        const PartReader& r = i == 0 ? video : other;
        if (!sameEncoding(r.stream->codecpar, reference))
            return fail(paramErr, partName(i) + " was encoded differently from the first part");
        if (!r.atEnd)
            delay = std::max(delay, -av_rescale_q(r.dts(), r.stream->time_base,
                                                  AVRational{format.rate.den, format.rate.num}));
    }

    int r = avformat_alloc_output_context2(&out, nullptr, format.muxer.c_str(), path.c_str());
    if (r < 0 || !out) return fail(kExportEncoderErr, "no muxer " + format.muxer);
    const AVRational frameBase{format.rate.den, format.rate.num};
    AVStream* vout = avformat_new_stream(out, nullptr);
    if (!vout || avcodec_parameters_copy(vout->codecpar, reference) < 0) throw std::bad_alloc();
    vout->codecpar->codec_tag = 0;
    vout->time_base = frameBase;
    vout->avg_frame_rate = AVRational{format.rate.num, format.rate.den};
    vout->r_frame_rate = vout->avg_frame_rate;
    AVStream* aout = nullptr;
    if (audio.stream) {
        aout = avformat_new_stream(out, nullptr);
        if (!aout || avcodec_parameters_copy(aout->codecpar, audio.stream->codecpar) < 0)
            throw std::bad_alloc();
        aout->codecpar->codec_tag = 0;
        aout->time_base = AVRational{1, audio.stream->codecpar->sample_rate};
    }
    r = avio_open(&out->pb, path.c_str(), AVIO_FLAG_WRITE);
    if (r < 0) return fail(ioErr, "cannot write " + path + ": " + av::errorText(r));
    opened = true;
    AVDictionary* options = nullptr;
    for (const auto& [k, v] : format.muxerOptions)
        av_dict_set(&options, k.c_str(), v.c_str(), 0);
    r = avformat_write_header(out, &options);
    av_dict_free(&options);
    if (r < 0)
        return failWriting(kExportEncoderErr, "cannot write the header: " + av::errorText(r));

    size_t part = 0;
    int64_t offset = 0;  // frames before the current part
    int64_t decoded = 0; // video packets written
    std::vector<char> seen(size_t(pictures[0].frames > 0 ? pictures[0].frames : 0), 0);
    int64_t count = 0;
    // Closes the current part: it must have held each of its frames exactly once.
    auto checkPart = [&]() -> bool {
        if (count != pictures[part].frames) {
            why = partName(part) + " holds " + std::to_string(count) + " frames instead of " +
                  std::to_string(pictures[part].frames);
            return false;
        }
        return true;
    };
    while (!video.atEnd || (audio.stream && !audio.atEnd)) {
        if (cancelled && cancelled()) return failWriting(progressProcAborted, "cancelled");
        bool takeVideo = !video.atEnd;
        if (takeVideo && audio.stream && !audio.atEnd) {
            // The earlier of the two, comparing the video in the joined movie's time.
            const int64_t vdts = decoded - delay;
            takeVideo = av_compare_ts(vdts, frameBase, audio.dts(), audio.stream->time_base) <= 0;
        }
        AVPacket* p = takeVideo ? video.packet.get() : audio.packet.get();
        if (takeVideo) {
            const int64_t frame = p->pts == AV_NOPTS_VALUE
                                      ? -1
                                      : av_rescale_q(p->pts, video.stream->time_base, frameBase);
            if (frame < 0 || frame >= pictures[part].frames || seen[size_t(frame)]) {
                return failWriting(paramErr, partName(part) + " holds frame " +
                                                 std::to_string(frame) + " " +
                                                 (frame >= 0 && frame < pictures[part].frames
                                                      ? "twice"
                                                      : "outside its range"));
            }
            seen[size_t(frame)] = 1;
            ++count;
            p->pts = frame + offset;
            p->dts = decoded++ - delay;
            p->duration = 1;
            // In the stream's own time base, which the muxer chose when it wrote the header.
            av_packet_rescale_ts(p, frameBase, vout->time_base);
            p->stream_index = vout->index;
        } else {
            av_packet_rescale_ts(p, audio.stream->time_base, aout->time_base);
            p->stream_index = aout->index;
        }
        p->pos = -1;
        r = av_interleaved_write_frame(out, p);
        if (r < 0)
            return failWriting(kExportEncoderErr, "cannot write " + path + ": " + av::errorText(r));
        PartReader& from = takeVideo ? video : audio;
        if (!from.next(&why))
            return failWriting(ioErr, "cannot read " +
                                          (takeVideo ? partName(part) : "the sound part") + ": " +
                                          why);
        // At the end of a picture part the next one follows.
        while (takeVideo && video.atEnd && part < pictures.size()) {
            if (!checkPart()) return failWriting(paramErr, why);
            offset += pictures[part].frames;
            if (++part == pictures.size()) break;
            video = PartReader();
            if (!video.open(pictures[part].path, AVMEDIA_TYPE_VIDEO, &why))
                return failWriting(paramErr, "cannot read " + partName(part) + ": " + why);
            seen.assign(size_t(std::max<int64_t>(0, pictures[part].frames)), 0);
            count = 0;
        }
    }
    if (part < pictures.size()) return failWriting(paramErr, "the picture parts end early");
    r = av_write_trailer(out);
    if (r < 0)
        return failWriting(kExportEncoderErr, "cannot finish " + path + ": " + av::errorText(r));
    if (avio_closep(&out->pb) < 0) return failWriting(ioErr, "cannot write " + path);
    return noErr;
}

} // namespace zef::movies
