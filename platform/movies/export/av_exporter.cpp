#include "platform/movies/export/av_exporter.h"

extern "C" {
#include <libavutil/pixfmt.h>
}

#include <algorithm>
#include <array>
#include <thread>

namespace zef::movies {

int qscaleForQuality(uint32_t quality)
{
    // Min, low, normal, high, max (0x000 .. 0x3FF by 0x100 steps), lossless 0x400.
    static constexpr std::array<int, 5> table = {24, 10, 4, 3, 2};
    if (quality >= kCodecLosslessQuality) return 1;
    const uint32_t step = std::min<uint32_t>(quality / 0x100, 3);
    const uint32_t within = quality - step * 0x100;
    const int a = table[step], b = table[step + 1];
    return std::clamp(a - int((a - b) * int(within) / 0x100), 1, 31);
}

OSErr AvFileExporter::checkSettings(const AtomContainer& settings) const
{
    uint32_t code = 0;
    if (readAtomUInt(settings, kVideoSettingsAtom, fourcc("codc"), &code) &&
        std::find(m_videoCodecs.begin(), m_videoCodecs.end(), code) == m_videoCodecs.end())
        return paramErr;
    if (readAtomUInt(settings, kSoundSettingsAtom, fourcc("codc"), &code) &&
        std::find(m_soundCodecs.begin(), m_soundCodecs.end(), code) == m_soundCodecs.end())
        return paramErr;
    uint32_t v = 0;
    if (readAtomUInt(settings, kVideoSettingsAtom, fourcc("crf "), &v) && v > 63) return paramErr;
    if (readAtomUInt(settings, kSoundSettingsAtom, fourcc("chan"), &v) && v > 8) return paramErr;
    if (readAtomUInt(settings, kSoundSettingsAtom, fourcc("rate"), &v) && v > 384000)
        return paramErr;
    TemporalSettings t;
    if (readTemporalSettings(settings, &t) && (t.frameRate < 0 || t.frameRate > 240 * kFixed1))
        return paramErr;
    return noErr;
}

bool AvFileExporter::validate(const ExportSource& source) const
{
    const VideoFormat v = source.video();
    const AudioFormat a = source.audio();
    const bool hasVideo = v.width > 0 && v.height > 0;
    const bool hasSound = a.sampleRate > 0 || a.channels > 0;
    if (source.frameCount() <= 0) return false;
    // The pictures are evaluated at the source's rate even for sound files.
    if (!v.rate.valid() || v.rate.value() > 1000.0 || v.rate.value() < 0.001) return false;
    if (hasVideo && (v.width > kMaxExportWidth || v.height > kMaxExportHeight)) return false;
    if (hasSound &&
        (a.sampleRate <= 0 || a.sampleRate > 384000 || a.channels <= 0 || a.channels > 8))
        return false;
    if (m_needsVideo && !hasVideo) return false;
    if (m_needsSound && !hasSound) return false;
    return true;
}

FrameRate AvFileExporter::exportRate(const ExportSource& source) const
{
    TemporalSettings t;
    if (readTemporalSettings(m_settings, &t) && t.frameRate > 0)
        return frameRateFromFixed(t.frameRate);
    return source.video().rate.valid() ? source.video().rate : FrameRate{25, 1};
}

bool AvFileExporter::soundEnabled(const ExportSource& source) const
{
    uint32_t enabled = 1;
    readAtomUInt(m_settings, kSoundSettingsAtom, fourcc("enab"), &enabled);
    const AudioFormat a = source.audio();
    return enabled != 0 && a.sampleRate > 0 && a.channels > 0 && !m_soundCodecs.empty();
}

OSErr AvFileExporter::videoSetupFor(OSType codec, const ExportSource&, FrameRate rate, int width,
                                    int height, exportav::VideoSetup& v) const
{
    TemporalSettings t;
    readTemporalSettings(m_settings, &t);
    uint32_t bitrate = 0, crf = 0, profile = 0;
    readAtomUInt(m_settings, kVideoSettingsAtom, fourcc("vbrt"), &bitrate);
    v.width = width;
    v.height = height;
    v.rate = rate;
    v.gop = int(std::min<uint32_t>(t.keyFrameRate, 1000));
    v.bitrate = bitrate;
    v.colour = exportav::colourFor(width, height, false);
    v.pixelFormat = AV_PIX_FMT_YUV420P;
    const int q = bitrate ? 0 : qscaleForQuality(t.temporalQuality);
    const bool even = true;
    if (even) {
        v.width = std::max(2, width & ~1);
        v.height = std::max(2, height & ~1);
    }
    if (codec == kCodecH264) {
        v.encoder = "libx264";
        std::string preset = readAtomText(m_settings, kVideoSettingsAtom, fourcc("prst"), 32);
        v.options["preset"] = preset.empty() ? "veryfast" : preset;
        // Threads: one and a half encoding threads per core (x264's own choice): with one per
        // core the threads wait for each other's reference rows often enough to leave about a
        // tenth of two cores idle. Each encoding thread holds its own reconstructed pictures;
        // the source then decodes on the rendering thread alone (encoderUsesEveryCore), which
        // pays for them in memory.
        // Memory: the buffer between the lookahead and the encoding threads holds input
        // pictures (threads + B-frames of them by default, some 6.5 MB each at 1920×1080); for
        // large pictures a buffer of two keeps some 40 MB less. (The buffer does not change the
        // stream; the thread count changes it in small details, as any other thread count
        // would.)
        // Speed: for large pictures the lookahead (frame types and macroblock-tree costs on
        // half-size pictures) costs the single lookahead thread about as much as all the
        // encoding threads together, so it is split over two threads, which keeps two cores
        // busy. For small pictures it gains nothing.
        const unsigned cores = std::clamp(std::thread::hardware_concurrency(), 1u, 16u);
        v.threads = int(cores == 1 ? 1 : cores * 3 / 2);
        if (int64_t(width) * height >= 1280 * 720)
            v.options["x264-params"] =
                v.threads > 1 ? "sync-lookahead=2:lookahead-threads=2" : "sync-lookahead=2";
        if (!bitrate) {
            crf = 23;
            readAtomUInt(m_settings, kVideoSettingsAtom, fourcc("crf "), &crf);
            v.options["crf"] = std::to_string(std::min<uint32_t>(crf, 51));
        }
    } else if (codec == kCodecMPEG4) {
        v.encoder = "mpeg4";
        v.qscale = q;
    } else if (codec == kCodecMJPEG) {
        v.encoder = "mjpeg";
        v.pixelFormat = AV_PIX_FMT_YUVJ420P;
        v.colour = exportav::colourFor(width, std::min(height, 576), true);
        v.qscale = q;
    } else if (codec == kCodecMPEG1 || codec == kCodecMPEG2) {
        v.encoder = codec == kCodecMPEG1 ? "mpeg1video" : "mpeg2video";
        v.qscale = q;
        if (!v.gop) v.gop = 15;
        // MPEG-1 frame rates outside the standard list are written with the unofficial codes.
        v.strict = -1;
    } else if (codec == kCodecProRes) {
        profile = 2;
        readAtomUInt(m_settings, kVideoSettingsAtom, fourcc("prof"), &profile);
        if (profile > 3) return paramErr;
        v.encoder = "prores_ks";
        v.pixelFormat = AV_PIX_FMT_YUV422P10LE;
        v.options["profile"] = std::to_string(profile);
    } else if (codec == kCodecDNxHR) {
        profile = 2;
        readAtomUInt(m_settings, kVideoSettingsAtom, fourcc("prof"), &profile);
        static const char* names[] = {"dnxhr_lb", "dnxhr_sq", "dnxhr_hq"};
        if (profile > 2) return paramErr;
        v.encoder = "dnxhd";
        v.pixelFormat = AV_PIX_FMT_YUV422P;
        // The DNxHR decoders read the pictures as BT.709 whatever their size.
        v.colour = exportav::colourFor(width, 720, false);
        v.options["profile"] = names[profile];
    } else if (codec == kCodecPNG) {
        v.encoder = "png";
        v.pixelFormat = AV_PIX_FMT_RGB24;
        v.width = width;
        v.height = height;
        v.colour = {AVCOL_SPC_RGB, AVCOL_PRI_BT709, AVCOL_TRC_IEC61966_2_1, AVCOL_RANGE_JPEG};
    } else if (codec == kCodecVP9) {
        v.encoder = "libvpx-vp9";
        v.options["deadline"] = "realtime";
        v.options["cpu-used"] = "8";
        v.options["row-mt"] = "1";
        if (!bitrate) {
            crf = 32;
            readAtomUInt(m_settings, kVideoSettingsAtom, fourcc("crf "), &crf);
            v.options["crf"] = std::to_string(std::min<uint32_t>(crf, 63));
            v.options["b"] = "0";
        }
    } else if (codec == kCodecDV) {
        v.encoder = "dvvideo";
        v.pixelFormat = height == 480 ? AV_PIX_FMT_YUV411P : AV_PIX_FMT_YUV420P;
        v.width = width;
        v.height = height;
    } else {
        return paramErr;
    }
    return noErr;
}

OSErr AvFileExporter::audioSetupFor(const std::string& encoder, const ExportSource& source,
                                    int64_t defaultBitRate, int forcedRate, int forcedChannels,
                                    exportav::AudioSetup& a) const
{
    const AudioFormat f = source.audio();
    uint32_t rate = 0, channels = 0, bitrate = 0;
    readAtomUInt(m_settings, kSoundSettingsAtom, fourcc("rate"), &rate);
    readAtomUInt(m_settings, kSoundSettingsAtom, fourcc("chan"), &channels);
    readAtomUInt(m_settings, kSoundSettingsAtom, fourcc("abrt"), &bitrate);
    a.encoder = encoder;
    a.sampleRate = forcedRate ? forcedRate : rate ? int(rate) : f.sampleRate;
    a.channels = forcedChannels ? forcedChannels : channels ? int(channels) : f.channels;
    a.bitrate = bitrate ? int64_t(bitrate) : defaultBitRate;
    if (a.sampleRate <= 0 || a.channels <= 0 || a.channels > 8) return paramErr;
    return noErr;
}

OSErr AvFileExporter::exportToFile(ExportSource& source, const std::string& path)
{
    if (!validate(source)) return paramErr;
    OutputSetup setup;
    const OSErr err = buildSetup(source, setup);
    if (err != noErr) return err;
    return writeOutput(source, path, setup);
}

OSErr AvFileExporter::describeOutput(const ExportSource& source, OutputSetup& out) const
{
    if (!validate(source)) return paramErr;
    return buildSetup(source, out);
}

OSErr AvFileExporter::writeOutput(ExportSource& source, const std::string& target,
                                  const OutputSetup& setup)
{
    exportav::AvOutput output;
    output.setMetadata(setup.metadata);
    const VideoFormat vf = source.video();
    const AudioFormat af = source.audio();
    OSErr err = output.open(target, setup.muxer, setup.hasVideo ? &setup.video : nullptr, vf.width,
                            vf.height, setup.hasAudio ? &setup.audio : nullptr, af.sampleRate,
                            af.channels, setup.muxerOptions, setup.ioOptions);
    if (err != noErr) return err;
    ExportPlan plan;
    plan.rate = setup.hasVideo ? setup.video.rate : exportRate(source);
    plan.video = setup.hasVideo;
    plan.audio = setup.hasAudio;
    plan.realTime = setup.realTime;
    plan.loop = setup.loop;
    if (setup.hasVideo && setup.video.encoder == "libx264" && setup.video.threads > 1)
        source.encoderUsesEveryCore();
    return runExport(source, output, plan, m_progress);
}

} // namespace zef::movies
