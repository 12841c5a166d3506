#include "platform/movies/export/standard_exporters.h"

#include "platform/movies/export/av_exporter.h"

extern "C" {
#include <libavutil/pixfmt.h>
}

#include <algorithm>
#include <cstring>

namespace zef::movies {

namespace {

constexpr OSType ext(const char (&s)[5]) { return fourcc(s); }

OSType codecSetting(const AtomContainer& settings, QTAtomType parent, OSType fallback)
{
    uint32_t code = 0;
    return readAtomUInt(settings, parent, fourcc("codc"), &code) ? code : fallback;
}

AtomContainer baseDefaults(OSType videoCodec, OSType soundCodec)
{
    AtomContainer c;
    writeTemporalSettings(c, TemporalSettings{});
    if (videoCodec) writeAtomUInt32(c, kVideoSettingsAtom, fourcc("codc"), videoCodec);
    if (soundCodec) writeAtomUInt32(c, kSoundSettingsAtom, fourcc("codc"), soundCodec);
    return c;
}

// A movie file, an MPEG-4 file or an AVI file: a muxer with a choice of codecs.
class ContainerExporter : public AvFileExporter {
public:
    ContainerExporter(OSType subType, OSType extension, std::string typeString, std::string muxer,
                      std::vector<OSType> video, std::vector<OSType> sound)
        : m_subType(subType), m_extension(extension), m_typeString(std::move(typeString)),
          m_muxer(std::move(muxer))
    {
        m_videoCodecs = std::move(video);
        m_soundCodecs = std::move(sound);
        m_settings = defaultSettings();
    }
    OSType subType() const override { return m_subType; }
    OSType fileNameExtension() const override { return m_extension; }
    std::string shortFileTypeString() const override { return m_typeString; }
    AtomContainer defaultSettings() const override
    {
        AtomContainer c = baseDefaults(m_videoCodecs.front(), m_soundCodecs.front());
        if (m_videoCodecs.front() == kCodecH264) {
            writeAtomText(c, kVideoSettingsAtom, fourcc("prst"), "veryfast");
            writeAtomUInt16(c, kVideoSettingsAtom, fourcc("crf "), 23);
        }
        if (m_soundCodecs.front() == kCodecAAC)
            writeAtomUInt32(c, kSoundSettingsAtom, fourcc("abrt"), 128000);
        return c;
    }

protected:
    OSErr buildSetup(const ExportSource& source, OutputSetup& out) const override
    {
        const VideoFormat vf = source.video();
        out.muxer = m_muxer;
        out.hasVideo = true;
        OSErr err = videoSetupFor(codecSetting(m_settings, kVideoSettingsAtom, m_videoCodecs[0]),
                                  source, exportRate(source), vf.width, vf.height, out.video);
        if (err != noErr) return err;
        if (soundEnabled(source)) {
            const OSType sc = codecSetting(m_settings, kSoundSettingsAtom, m_soundCodecs[0]);
            const char* encoder = sc == kCodecAAC     ? "aac"
                                  : sc == kCodecPCMBE ? "pcm_s16be"
                                                      : "pcm_s16le";
            err = audioSetupFor(encoder, source, sc == kCodecAAC ? 128000 : 0, 0, 0, out.audio);
            if (err != noErr) return err;
            out.hasAudio = true;
        }
        if (m_subType == kMovieExportMPEG4) out.muxerOptions["movflags"] = "+faststart";
        return noErr;
    }

private:
    OSType m_subType;
    OSType m_extension;
    std::string m_typeString;
    std::string m_muxer;
};

// MPEG-1/2 program streams; 'vide'/'vsvr' names the whole frame rate.
class MPEGExporter : public AvFileExporter {
public:
    MPEGExporter()
    {
        m_videoCodecs = {kCodecMPEG1, kCodecMPEG2};
        m_soundCodecs = {kCodecMP2};
        m_settings = defaultSettings();
    }
    OSType subType() const override { return kMovieExportMPEG; }
    OSType fileNameExtension() const override { return ext("mpg\0"); }
    std::string shortFileTypeString() const override { return "MPEG"; }
    AtomContainer defaultSettings() const override
    {
        AtomContainer c = baseDefaults(kCodecMPEG1, kCodecMP2);
        writeAtomUInt32(c, kSoundSettingsAtom, fourcc("abrt"), 192000);
        return c;
    }

protected:
    OSErr buildSetup(const ExportSource& source, OutputSetup& out) const override
    {
        const VideoFormat vf = source.video();
        FrameRate rate = exportRate(source);
        uint32_t vsvr = 0;
        if (readAtomUInt(m_settings, kVideoSettingsAtom, fourcc("vsvr"), &vsvr) && vsvr > 0) {
            // A whole rate of 30, 24 or 60 stands for the NTSC rate when the source runs at it.
            const FrameRate src = source.video().rate;
            if (src.den == 1001 && (src.num + 500) / 1001 == int(vsvr))
                rate = src;
            else
                rate = {int(vsvr), 1};
        }
        out.muxer = "mpeg";
        out.hasVideo = true;
        OSErr err = videoSetupFor(codecSetting(m_settings, kVideoSettingsAtom, kCodecMPEG1), source,
                                  rate, vf.width, vf.height, out.video);
        if (err != noErr) return err;
        if (soundEnabled(source)) {
            int srate = source.audio().sampleRate;
            if (srate != 32000 && srate != 44100 && srate != 48000) srate = 48000;
            uint32_t wanted = 0;
            if (readAtomUInt(m_settings, kSoundSettingsAtom, fourcc("rate"), &wanted) && wanted)
                srate = int(wanted);
            err = audioSetupFor("mp2", source, 192000, srate, std::min(2, source.audio().channels),
                                out.audio);
            if (err != noErr) return err;
            out.hasAudio = true;
        }
        return noErr;
    }
};

// DV streams: the DV picture size and rate are fixed by the standard.
class DVExporter : public AvFileExporter {
public:
    DVExporter()
    {
        m_videoCodecs = {kCodecDV};
        m_soundCodecs = {kCodecPCMLE};
        m_settings = defaultSettings();
    }
    OSType subType() const override { return kMovieExportDV; }
    OSType fileNameExtension() const override { return ext("dv\0\0"); }
    std::string shortFileTypeString() const override { return "DV Stream"; }
    AtomContainer defaultSettings() const override
    {
        AtomContainer c = baseDefaults(kCodecDV, kCodecPCMLE);
        writeAtomUInt16(c, kVideoSettingsAtom, fourcc("dvst"), 0);
        return c;
    }

protected:
    OSErr checkSettings(const AtomContainer& settings) const override
    {
        uint32_t standard = 0;
        if (readAtomUInt(settings, kVideoSettingsAtom, fourcc("dvst"), &standard) && standard > 1)
            return paramErr;
        return AvFileExporter::checkSettings(settings);
    }
    OSErr buildSetup(const ExportSource& source, OutputSetup& out) const override
    {
        uint32_t standard = 0;
        readAtomUInt(m_settings, kVideoSettingsAtom, fourcc("dvst"), &standard);
        const bool ntsc = standard == 1;
        out.muxer = "dv";
        out.hasVideo = true;
        OSErr err =
            videoSetupFor(kCodecDV, source, ntsc ? FrameRate{30000, 1001} : FrameRate{25, 1}, 720,
                          ntsc ? 480 : 576, out.video);
        if (err != noErr) return err;
        if (soundEnabled(source)) {
            err = audioSetupFor("pcm_s16le", source, 0, 48000, 2, out.audio);
            if (err != noErr) return err;
            out.hasAudio = true;
        }
        return noErr;
    }
};

class WebMExporter : public AvFileExporter {
public:
    WebMExporter()
    {
        m_videoCodecs = {kCodecVP9};
        m_soundCodecs = {kCodecOpus};
        m_settings = defaultSettings();
    }
    OSType subType() const override { return kMovieExportWebM; }
    OSType fileNameExtension() const override { return ext("webm"); }
    std::string shortFileTypeString() const override { return "WebM"; }
    AtomContainer defaultSettings() const override
    {
        AtomContainer c = baseDefaults(kCodecVP9, kCodecOpus);
        writeAtomUInt16(c, kVideoSettingsAtom, fourcc("crf "), 32);
        writeAtomUInt32(c, kSoundSettingsAtom, fourcc("abrt"), 96000);
        return c;
    }

protected:
    OSErr buildSetup(const ExportSource& source, OutputSetup& out) const override
    {
        const VideoFormat vf = source.video();
        out.muxer = "webm";
        out.hasVideo = true;
        OSErr err =
            videoSetupFor(kCodecVP9, source, exportRate(source), vf.width, vf.height, out.video);
        if (err != noErr) return err;
        if (soundEnabled(source)) {
            err = audioSetupFor("libopus", source, 96000, 48000,
                                std::min(2, source.audio().channels), out.audio);
            if (err != noErr) return err;
            out.hasAudio = true;
        }
        return noErr;
    }
};

// Sound files.
class SoundExporter : public AvFileExporter {
public:
    SoundExporter(bool aiff) : m_aiff(aiff)
    {
        m_videoCodecs = {};
        m_soundCodecs = {aiff ? kCodecPCMBE : kCodecPCMLE};
        m_needsVideo = false;
        m_needsSound = true;
        m_settings = defaultSettings();
    }
    OSType subType() const override { return m_aiff ? kMovieExportAIFF : kMovieExportWAVE; }
    OSType fileNameExtension() const override { return m_aiff ? ext("aif\0") : ext("wav\0"); }
    std::string shortFileTypeString() const override { return m_aiff ? "AIFF" : "WAVE"; }
    AtomContainer defaultSettings() const override
    {
        return baseDefaults(0, m_soundCodecs.front());
    }

protected:
    OSErr buildSetup(const ExportSource& source, OutputSetup& out) const override
    {
        out.muxer = m_aiff ? "aiff" : "wav";
        out.hasVideo = false;
        out.hasAudio = true;
        return audioSetupFor(m_aiff ? "pcm_s16be" : "pcm_s16le", source, 0, 0, 0, out.audio);
    }

private:
    bool m_aiff;
};

struct Entry {
    OSType subType;
    const char* name;
    const char* info;
};

const Entry kEntries[] = {
    {kMovieExportMovie, "Movie", "Movie file (H.264, MPEG-4, Motion JPEG, ProRes, DNxHR, PNG)"},
    {kMovieExportMPEG4, "MPEG-4", "MPEG-4 file (H.264 and AAC) for the web"},
    {kMovieExportMPEG, "MPEG-1/2", "MPEG-1 or MPEG-2 program stream with MP2 sound"},
    {kMovieExportAVI, "AVI", "AVI file (Motion JPEG or MPEG-4, PCM sound)"},
    {kMovieExportDV, "DV Stream", "DV stream (PAL or NTSC) with 48 kHz sound"},
    {kMovieExportWebM, "WebM", "WebM file (VP9 and Opus)"},
    {kMovieExportGIF, "Animated GIF", "Animated GIF with one palette for the whole movie"},
    {kMovieExportImageSequence, "Image Sequence", "One PNG file per frame"},
    {kMovieExportWAVE, "WAVE", "Sound only, WAVE file"},
    {kMovieExportAIFF, "AIFF", "Sound only, AIFF file"},
    {kMovieExportBroadcast, "Live Broadcast", "Streams live to a server, or writes a movie"},
};

} // namespace

std::unique_ptr<MovieExporter> makeStandardExporter(OSType subType)
{
    switch (subType) {
    case kMovieExportMovie:
        return std::make_unique<ContainerExporter>(
            kMovieExportMovie, ext("mov\0"), "Movie", "mov",
            std::vector<OSType>{kCodecH264, kCodecMPEG4, kCodecMJPEG, kCodecProRes, kCodecDNxHR,
                                kCodecPNG},
            std::vector<OSType>{kCodecAAC, kCodecPCMLE, kCodecPCMBE});
    case kMovieExportMPEG4:
        return std::make_unique<ContainerExporter>(kMovieExportMPEG4, ext("mp4\0"), "MPEG-4", "mp4",
                                                   std::vector<OSType>{kCodecH264, kCodecMPEG4},
                                                   std::vector<OSType>{kCodecAAC});
    case kMovieExportAVI:
        return std::make_unique<ContainerExporter>(kMovieExportAVI, ext("avi\0"), "AVI", "avi",
                                                   std::vector<OSType>{kCodecMJPEG, kCodecMPEG4},
                                                   std::vector<OSType>{kCodecPCMLE});
    case kMovieExportMPEG:
        return std::make_unique<MPEGExporter>();
    case kMovieExportDV:
        return std::make_unique<DVExporter>();
    case kMovieExportWebM:
        return std::make_unique<WebMExporter>();
    case kMovieExportWAVE:
        return std::make_unique<SoundExporter>(false);
    case kMovieExportAIFF:
        return std::make_unique<SoundExporter>(true);
    case kMovieExportGIF:
        return makeGIFExporter();
    case kMovieExportImageSequence:
        return makeImageSequenceExporter();
    case kMovieExportBroadcast:
        return makeBroadcastExporter();
    default:
        return nullptr;
    }
}

std::vector<OSType> standardExporterSubTypes()
{
    std::vector<OSType> out;
    for (const Entry& e : kEntries)
        out.push_back(e.subType);
    return out;
}

std::vector<Component> registerStandardExporters(ComponentManager& manager)
{
    std::vector<Component> ids;
    for (const Entry& e : kEntries) {
        ComponentDescription d;
        d.componentType = kMovieExportType;
        d.componentSubType = e.subType;
        d.componentManufacturer = kStandardExporterManufacturer;
        const OSType subType = e.subType;
        ids.push_back(manager.registerComponent(d, e.name, e.info, 0x00010000, [subType] {
            return std::make_unique<ExporterComponent>(makeStandardExporter(subType));
        }));
    }
    return ids;
}

ExporterComponent::ExporterComponent(std::unique_ptr<MovieExporter> exporter)
    : m_exporter(std::move(exporter))
{
}

ComponentResult ExporterComponent::dispatch(ComponentCall& call, ComponentManager&)
{
    const intptr_t* p = call.params;
    const auto need = [&](uint32_t n) { return call.paramCount >= n; };
    switch (call.selector) {
    case kComponentOpenSelect:
    case kComponentCloseSelect:
        return noErr;
    case kComponentCanDoSelect: {
        const int32_t s = need(1) ? int32_t(p[0]) : 0;
        switch (s) {
        case kComponentOpenSelect:
        case kComponentCloseSelect:
        case kComponentCanDoSelect:
        case kComponentVersionSelect:
        case kMovieExportToFileSelect:
        case kMovieExportSetProgressProcSelect:
        case kMovieExportDoUserDialogSelect:
        case kMovieExportValidateSelect:
        case kMovieExportGetSettingsAsAtomContainerSelect:
        case kMovieExportSetSettingsFromAtomContainerSelect:
        case kMovieExportGetFileNameExtensionSelect:
        case kMovieExportGetShortFileTypeStringSelect:
        case kMovieExportGetExporterSelect:
            return 1;
        default:
            return 0;
        }
    }
    case kComponentVersionSelect:
        return 0x00010000;
    case kMovieExportToFileSelect: {
        if (!need(2) || !p[0] || !p[1]) return paramErr;
        return m_exporter->exportToFile(*reinterpret_cast<ExportSource*>(p[0]),
                                        reinterpret_cast<const char*>(p[1]));
    }
    case kMovieExportSetProgressProcSelect:
        if (!need(2)) return paramErr;
        m_exporter->setProgressProc(reinterpret_cast<MovieProgressProc>(p[0]), p[1]);
        return noErr;
    case kMovieExportDoUserDialogSelect:
        if (!need(3)) return paramErr;
        return m_exporter->doUserDialog(reinterpret_cast<ExportSource*>(p[0]),
                                        reinterpret_cast<ExporterDialogHost*>(p[1]),
                                        reinterpret_cast<bool*>(p[2]));
    case kMovieExportValidateSelect:
        if (!need(2) || !p[0] || !p[1]) return paramErr;
        *reinterpret_cast<bool*>(p[1]) =
            m_exporter->validate(*reinterpret_cast<ExportSource*>(p[0]));
        return noErr;
    case kMovieExportGetSettingsAsAtomContainerSelect: {
        if (!need(1) || !p[0]) return paramErr;
        Handle h = m_exporter->settings().flatten();
        if (h.isNull()) return memFullErr;
        *reinterpret_cast<Handle*>(p[0]) = std::move(h);
        return noErr;
    }
    case kMovieExportSetSettingsFromAtomContainerSelect: {
        if (!need(1) || !p[0]) return paramErr;
        AtomContainer c;
        const OSErr err = AtomContainer::fromHandle(*reinterpret_cast<const Handle*>(p[0]), c);
        if (err != noErr) return err;
        return m_exporter->setSettings(c);
    }
    case kMovieExportGetFileNameExtensionSelect:
        if (!need(1) || !p[0]) return paramErr;
        *reinterpret_cast<OSType*>(p[0]) = m_exporter->fileNameExtension();
        return noErr;
    case kMovieExportGetShortFileTypeStringSelect: {
        if (!need(1) || !p[0]) return paramErr;
        const std::string s = m_exporter->shortFileTypeString().substr(0, 255);
        std::memcpy(reinterpret_cast<char*>(p[0]), s.c_str(), s.size() + 1);
        return noErr;
    }
    case kMovieExportGetExporterSelect:
        if (!need(1) || !p[0]) return paramErr;
        *reinterpret_cast<MovieExporter**>(p[0]) = m_exporter.get();
        return noErr;
    default:
        return badComponentSelector;
    }
}

MovieExporter* exporterOf(ComponentManager& manager, ComponentInstance instance)
{
    MovieExporter* out = nullptr;
    if (!manager.isOpen(instance)) return nullptr;
    if (!manager.canDo(instance, kMovieExportGetExporterSelect)) return nullptr;
    if (manager.call(instance, kMovieExportGetExporterSelect, {intptr_t(&out)}) != noErr)
        return nullptr;
    return out;
}

} // namespace zef::movies
