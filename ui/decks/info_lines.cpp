#include "ui/decks/info_lines.h"

#include "model/item.h"
#include "model/project.h"
#include "model/source_item.h"
#include "platform/movies/components.h"
#include "platform/movies/descriptions.h"
#include "platform/movies/export/movie_exporter.h"

#include <cstdarg>
#include <cstdio>
#include <filesystem>

namespace zef::ui {

namespace {

std::string line(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string line(const char* format, ...)
{
    char buffer[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    return buffer;
}

// A four-character code as text, ending at its first zero byte.
std::string codeText(movies::FourCC code)
{
    std::string s;
    for (int shift = 24; shift >= 0; shift -= 8) {
        const char c = char((code >> shift) & 0xFF);
        if (c == 0) break;
        s += c;
    }
    return s;
}

void addItemTimes(std::vector<std::string>& lines, const ZEFItem& item)
{
    lines.push_back(line("GN\tProject start:\t%s", item.getStart().format().c_str()));
    lines.push_back(line("GN\tProject end:\t%s", item.getEnd().format().c_str()));
    lines.push_back(line("GN\tProject duration:\t%s", item.duration().format().c_str()));
}

int percentOf(uint32_t quality) { return int(int64_t(quality) * 100 / 1023); }

// "… for 2 minutes, 1 seconds" above 120 seconds, "… for 120 seconds" up to it.
std::string spaceLine(const char* what, int32_t seconds)
{
    if (seconds <= 120) return line("CN\t%s for %d seconds", what, seconds);
    return line("CN\t%s for %d minutes, %d seconds", what, seconds / 60, seconds % 60);
}

} // namespace

std::string fileSizeText(uint64_t bytes)
{
    double size = double(bytes) / 1024.0;
    char unit = 'K';
    if (size > 1024.0) {
        size /= 1024.0;
        unit = 'M';
    }
    return line("%2.2f %cB", size, unit);
}

std::vector<std::string> clipInfoLines(const ZEFSourceItem& clip)
{
    std::vector<std::string> lines;
    lines.push_back("YBGeneral Information:\t");
    lines.push_back(line("CN\tPath: %s", clip.path().c_str()));
    std::error_code error;
    const uintmax_t size = std::filesystem::file_size(clip.path(), error);
    if (!error) lines.push_back(line("CN\tFile Size:\t%s", fileSizeText(size).c_str()));
    lines.push_back(line("CN\tClip duration:\t%s", clip.mediaDuration().format().c_str()));
    lines.push_back(line("CN\tIn-point:\t%s", clip.sourceIn().format().c_str()));
    lines.push_back(line("CN\tOut-point:\t%s", clip.sourceOut().format().c_str()));
    lines.push_back(
        line("CN\tSelection duration:\t%s", (clip.sourceOut() - clip.sourceIn()).format().c_str()));
    addItemTimes(lines, clip);

    if (clip.mediaRateNum() > 0) {
        lines.push_back("YBVideo Information:");
        if (clip.isStill())
            lines.push_back("CN\tFrame rate: \tN/A");
        else
            lines.push_back(line("CN\tFrame rate: \t%2.2f fps",
                                 double(clip.mediaRateNum()) / std::max(1, clip.mediaRateDen())));
        if (auto d = movies::ImageDescription::fromHandle(clip.imageDescription())) {
            lines.push_back(line("CN\tFormat: \t%d x %d", d->width, d->height));
            lines.push_back(line("CN\tDepth: \t%d bits", d->depth));
            lines.push_back(line("CN\tCodec: \t%-31s", d->name.c_str()));
            if (d->temporalQuality != 0)
                lines.push_back(
                    line("CN\tTemporal Quality: \t%d%%", percentOf(d->temporalQuality)));
            if (d->spatialQuality == movies::kCodecLosslessQuality)
                lines.push_back("CN\tSpatial Quality: \tLossless");
            else
                lines.push_back(line("CN\tSpatial Quality: \t%d%%", percentOf(d->spatialQuality)));
        }
    }
    if (clip.audioRate() > 0) {
        lines.push_back("YBAudio Information:");
        lines.push_back(line("CN\tSample rate: \t%d sps", clip.audioRate()));
        if (auto s = movies::SoundDescription::fromHandle(clip.soundDescription()))
            lines.push_back(line("CN\tFormat: \t%d bit, %s", s->sampleSize,
                                 s->numChannels == 2 ? "stereo" : "mono"));
    }
    return lines;
}

std::vector<std::string> effectInfoLines(const ZEFEffectItem& effect)
{
    std::vector<std::string> lines;
    lines.push_back("YBGeneral Information:\t");
    const bool title = dynamic_cast<const ZEFTitlerEffect*>(&effect) != nullptr;
    if (title) {
        lines.push_back("CN\tEffect Code:\tTitle");
        lines.push_back("CN\tManufacturer:\tKRV");
    } else {
        lines.push_back(
            line("CN\tEffect Code:\t%4.4s", codeText(effect.effectInfo().effectType).c_str()));
        lines.push_back(
            line("CN\tManufacturer:\t%4.4s", codeText(effect.effectInfo().manufacturer).c_str()));
    }
    lines.push_back(line("CN\tEffect type:\t%s", title ? "Titler" : "Video source"));
    lines.push_back(line("CN\tSource count:\t%d", effect.sourceCount()));
    addItemTimes(lines, effect);
    return lines;
}

std::vector<std::string> projectInfoLines(const FProject& project,
                                          movies::ComponentManager* components)
{
    const CProjectTemplate& c = project.composition();
    std::vector<std::string> lines;
    lines.push_back("YBGeneral Information:\t");
    lines.push_back(line("CN\tPath: %s", project.fileName().c_str()));
    lines.push_back(line("CN\tDuration:\t%s", project.projectEnd().format().c_str()));
    lines.push_back(line("CN\tIn-point:\t%s", project.renderStart.format().c_str()));
    lines.push_back(line("CN\tOut-point:\t%s", project.renderEnd.format().c_str()));
    lines.push_back(line("CN\tRender duration:\t%s",
                         (project.renderEnd - project.renderStart).format().c_str()));

    lines.push_back("YBOutput Information:\t");
    lines.push_back(line("CN\tPath: %s", c.outputFile.c_str()));
    if (components) {
        movies::ComponentDescription looking;
        looking.componentType = movies::kMovieExportType;
        looking.componentSubType = c.exportSubType;
        looking.componentManufacturer = c.exportManufacturer;
        movies::ComponentInstance instance = 0;
        if (movies::Component found = components->findNextComponent(0, looking);
            found && components->openComponent(found, &instance) == movies::noErr) {
            movies::ComponentInfo info;
            if (components->getComponentInfo(found, info) == movies::noErr)
                lines.push_back(line("CN\tExport module:\t%s", info.name.c_str()));
            components->closeComponent(instance);
        }
    }

    movies::AtomContainer settings;
    const bool hasSettings =
        !c.exportSettings.isNull() &&
        movies::AtomContainer::fromHandle(c.exportSettings, settings) == movies::noErr;
    const double editRate = double(c.frameRate) / 65536.0;
    lines.push_back("YBVideo Information:");
    movies::TemporalSettings temporal;
    if (hasSettings && movies::readTemporalSettings(settings, &temporal)) {
        // A rate of 0 exports at the composition's own rate.
        const double rate = temporal.frameRate ? double(temporal.frameRate) / 65536.0 : editRate;
        lines.push_back(line("CN\tFrame rate: \t%2.2f fps", rate));
        lines.push_back(line("CN\tKeyframe rate: \t%d fps", int(temporal.keyFrameRate)));
        if (temporal.temporalQuality != 0)
            lines.push_back(
                line("CN\tTemporal Quality: \t%d%%", percentOf(temporal.temporalQuality)));
    }
    lines.push_back(line("CN\tEdit frame rate: \t%2.2f fps", editRate));
    lines.push_back(line("CN\tFormat: \t%d x %d", c.width, c.height));

    uint32_t enabled = 1, rate = 0, channels = 0;
    if (hasSettings) {
        movies::readAtomUInt(settings, movies::kSoundSettingsAtom, movies::fourcc("enab"),
                             &enabled);
        movies::readAtomUInt(settings, movies::kSoundSettingsAtom, movies::fourcc("rate"), &rate);
        movies::readAtomUInt(settings, movies::kSoundSettingsAtom, movies::fourcc("chan"),
                             &channels);
    }
    if (enabled != 0) {
        // Unset values are the mixer's: 48 kHz, two channels of 16 bits.
        lines.push_back("YBAudio Information:");
        lines.push_back(line("CN\tSample rate: \t%2.2f sps", double(rate ? rate : 48000)));
        lines.push_back(line("CN\tFormat: \t%d bit, %s", 16,
                             channels == 0 || channels == 2 ? "stereo" : "mono"));
    }
    return lines;
}

std::vector<std::string> captureInfoLines(const CaptureStatistics& stats, int32_t rateNum,
                                          int32_t rateDen, bool capturing)
{
    std::vector<std::string> lines;
    lines.push_back("YBCapture Information:");
    // The captured milliseconds as a time at the capture rate, whole frames.
    const EditTime captured(int64_t(stats.capturedTime) * 600 / 1000, rateNum, rateDen);
    lines.push_back(line("CN\tCaptured time: %s", captured.format().c_str()));
    lines.push_back(line("CN\tAchieved frame rate:\t%2.2f f/s", double(stats.achievedFrameRate)));
    lines.push_back(line("CN\tCaptured frames:\t\t%d", stats.capturedFrames));
    lines.push_back(line("CN\tDropped frames:\t\t%d", stats.droppedFrames));
    lines.push_back(
        line("CN\tAchieved data rate:\t%2.2f MB/s", double(stats.achievedDataRate) * 1e-6));
    if (stats.diskSecondsRemaining >= 0) {
        lines.push_back("GN\tRemaining capture time:");
        if (stats.fileSecondsRemaining >= 0)
            lines.push_back(spaceLine("Preallocated space", stats.fileSecondsRemaining));
        lines.push_back(spaceLine("Total disk space", stats.diskSecondsRemaining));
    }
    lines.push_back("GN");
    if (capturing) lines.push_back("GNPress STOP button to finish capture");
    return lines;
}

} // namespace zef::ui
