// Internal: the common base of the exporters that write through one FFmpeg muxer. A subclass
// describes its output (muxer, video and sound encoders) from its settings and the source;
// the base runs the export loop into an AvOutput.
#pragma once

#include "platform/movies/export/av_output.h"
#include "platform/movies/export/export_pipeline.h"
#include "platform/movies/export/movie_exporter.h"

#include <map>
#include <string>
#include <vector>

namespace zef::movies {

struct OutputSetup {
    std::string muxer;
    bool hasVideo = false;
    exportav::VideoSetup video;
    bool hasAudio = false;
    exportav::AudioSetup audio;
    std::map<std::string, std::string> muxerOptions;
    std::map<std::string, std::string> ioOptions;
    std::map<std::string, std::string> metadata;
    bool realTime = false;
    bool loop = false; // see ExportPlan::loop
};

// The largest pictures exported (8K); with the frames queued between the threads this bounds
// the memory an export takes.
constexpr int kMaxExportWidth = 8192;
constexpr int kMaxExportHeight = 4352;

class AvFileExporter : public MovieExporter {
public:
    OSErr exportToFile(ExportSource& source, const std::string& path) override;
    bool validate(const ExportSource& source) const override;
    // The output this exporter writes for source with its current settings (for exports in
    // parts, part_export.h); paramErr when the source or the settings do not fit.
    OSErr describeOutput(const ExportSource& source, OutputSetup& out) const;

protected:
    // The output for this source; paramErr (or another code) when the settings cannot apply.
    virtual OSErr buildSetup(const ExportSource& source, OutputSetup& out) const = 0;
    OSErr checkSettings(const AtomContainer& settings) const override;

    // Writes the source to target (a path or URL) as setup describes.
    OSErr writeOutput(ExportSource& source, const std::string& target, const OutputSetup& setup);

    // The export frame rate: 'tprl' when set, else the source's.
    FrameRate exportRate(const ExportSource& source) const;
    // Fills a video setup for one of the codec codes of standard_exporters.h.
    OSErr videoSetupFor(OSType codec, const ExportSource& source, FrameRate rate, int width,
                        int height, exportav::VideoSetup& out) const;
    // Fills a sound setup for an FFmpeg encoder; forcedRate/forcedChannels 0 = settings/source.
    OSErr audioSetupFor(const std::string& encoder, const ExportSource& source,
                        int64_t defaultBitRate, int forcedRate, int forcedChannels,
                        exportav::AudioSetup& out) const;
    bool soundEnabled(const ExportSource& source) const;

    // The codec codes this exporter takes ('vide'/'codc' and 'soun'/'codc'), first = default.
    std::vector<OSType> m_videoCodecs;
    std::vector<OSType> m_soundCodecs;
    bool m_needsVideo = true;
    bool m_needsSound = false;
};

// The 4-char codes of the codecs.
constexpr OSType kCodecH264 = fourcc("avc1");
constexpr OSType kCodecMPEG4 = fourcc("mp4v");
constexpr OSType kCodecMJPEG = fourcc("jpeg");
constexpr OSType kCodecProRes = fourcc("apcn");
constexpr OSType kCodecDNxHR = fourcc("AVdh");
constexpr OSType kCodecPNG = fourcc("png ");
constexpr OSType kCodecMPEG1 = fourcc("mpg1");
constexpr OSType kCodecMPEG2 = fourcc("mpg2");
constexpr OSType kCodecVP9 = fourcc("vp09");
constexpr OSType kCodecDV = fourcc("dvc ");
constexpr OSType kCodecAAC = fourcc("mp4a");
constexpr OSType kCodecPCMLE = fourcc("sowt");
constexpr OSType kCodecPCMBE = fourcc("twos");
constexpr OSType kCodecMP2 = fourcc(".mp2");
constexpr OSType kCodecOpus = fourcc("Opus");

// The quantiser (1..31) for a temporal quality.
int qscaleForQuality(uint32_t quality);

std::unique_ptr<MovieExporter> makeBroadcastExporter();
std::unique_ptr<MovieExporter> makeGIFExporter();
std::unique_ptr<MovieExporter> makeImageSequenceExporter();

} // namespace zef::movies
