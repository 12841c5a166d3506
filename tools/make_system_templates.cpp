// Writes the built-in "System" template file shipped with the program. Run at build time:
//   make_system_templates OUTPUT_DIR
#include "model/template_list.h"
#include "platform/movies/export/av_exporter.h"
#include "platform/movies/export/standard_exporters.h"

#include <cstdio>
#include <functional>
#include <string>

using namespace zef;
using namespace zef::movies;

namespace {

CProjectTemplate make(const char* name, int width, int height, Fixed rate)
{
    CProjectTemplate t(true, name);
    t.applyBuiltInDefaults();
    t.width = width;
    t.height = height;
    t.frameRate = rate;
    return t;
}

// A template exporting through a built-in component with its defaults changed by edit; the
// output file takes the component's extension and the settings the template's frame rate.
CProjectTemplate make(const char* name, int width, int height, Fixed rate, OSType subType,
                      const char* extension, const std::function<void(AtomContainer&)>& edit = {})
{
    CProjectTemplate t = make(name, width, height, rate);
    t.exportSubType = subType;
    t.exportManufacturer = kStandardExporterManufacturer;
    t.outputFile = std::string("untitled.") + extension;
    AtomContainer settings = makeStandardExporter(subType)->defaultSettings();
    TemporalSettings temporal;
    readTemporalSettings(settings, &temporal);
    temporal.frameRate = rate;
    writeTemporalSettings(settings, temporal);
    if (edit) edit(settings);
    t.exportSettings = settings.flatten();
    return t;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_system_templates OUTPUT_DIR\n");
        return 2;
    }
    constexpr Fixed r10 = 10 << 16, r25 = 25 << 16, r30 = 30 << 16, r2997 = 1964113, r24 = 24 << 16;
    TemplateList list;
    // The first entry is the default template.
    list.append(make("VHS Quality, 30 fps movie", 320, 240, r30));
    list.append(make("Web Movie, 640 x 480, 30 fps", 640, 480, r30));
    list.append(make("HD 720p, 1280 x 720, 30 fps", 1280, 720, r30));
    list.append(make("HD 720p, 1280 x 720, 25 fps", 1280, 720, r25));
    list.append(make("Full HD 1080p, 1920 x 1080, 30 fps", 1920, 1080, r30));
    list.append(make("Full HD 1080p, 1920 x 1080, 25 fps", 1920, 1080, r25));
    list.append(make("Film, 1920 x 1080, 24 fps", 1920, 1080, r24));

    // DV streams: the standard's own size, rate and 48 kHz sound.
    list.append(
        make("DV PAL, 720 x 576, 25 fps", 720, 576, r25, kMovieExportDV, "dv",
             [](AtomContainer& s) { writeAtomUInt16(s, kVideoSettingsAtom, kDVStandardAtom, 0); }));
    list.append(
        make("DV NTSC, 720 x 480, 29.97 fps", 720, 480, r2997, kMovieExportDV, "dv",
             [](AtomContainer& s) { writeAtomUInt16(s, kVideoSettingsAtom, kDVStandardAtom, 1); }));

    // For the web: H.264 and AAC in MPEG-4 files with the index in front (they play while
    // they load), and VP9 with Opus.
    auto web = [](AtomContainer& s) {
        writeAtomText(s, kVideoSettingsAtom, kPresetAtom, "medium");
        writeAtomUInt16(s, kVideoSettingsAtom, kCRFAtom, 23);
        writeAtomUInt32(s, kSoundSettingsAtom, kSoundBitRateAtom, 160000);
    };
    list.append(make("Web H.264 MP4 (fast start), 1280 x 720, 30 fps", 1280, 720, r30,
                     kMovieExportMPEG4, "mp4", web));
    list.append(make("Web H.264 MP4 (fast start), 1920 x 1080, 30 fps", 1920, 1080, r30,
                     kMovieExportMPEG4, "mp4", web));
    list.append(make("Web WebM (VP9 + Opus), 1280 x 720, 30 fps", 1280, 720, r30, kMovieExportWebM,
                     "webm"));

    // Finishing: intra-frame 10-bit and 8-bit 4:2:2 masters with uncompressed sound.
    auto master = [](uint16_t profile, OSType codec) {
        return [profile, codec](AtomContainer& s) {
            writeAtomUInt32(s, kVideoSettingsAtom, kCodecAtom, codec);
            writeAtomUInt16(s, kVideoSettingsAtom, kProfileAtom, profile);
            writeAtomUInt32(s, kSoundSettingsAtom, kCodecAtom, kCodecPCMLE);
        };
    };
    list.append(make("ProRes 422 master, 1920 x 1080, 25 fps", 1920, 1080, r25, kMovieExportMovie,
                     "mov", master(2, kCodecProRes)));
    list.append(make("DNxHR HQ master, 1920 x 1080, 25 fps", 1920, 1080, r25, kMovieExportMovie,
                     "mov", master(2, kCodecDNxHR)));

    list.append(make("Animated GIF, 480 x 270, 10 fps", 480, 270, r10, kMovieExportGIF, "gif"));
    list.append(make("PNG image sequence, 1920 x 1080, 25 fps", 1920, 1080, r25,
                     kMovieExportImageSequence, "png"));

    if (!list.saveFile(argv[1], "System", true)) {
        std::fprintf(stderr, "make_system_templates: cannot write %s/System.tmpl\n", argv[1]);
        return 1;
    }
    return 0;
}
