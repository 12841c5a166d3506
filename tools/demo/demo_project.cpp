#include "tools/demo/demo_project.h"

#include "exporter/peltra_settings.h"
#include "model/device.h"
#include "model/item.h"
#include "model/source_item.h"
#include "model/user_interface.h"
#include "model/zef_exception.h"
#include "platform/graph/containers.h"
#include "platform/movies/export/standard_exporters.h"
#include "tools/demo/demo_media.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <stdexcept>
#include <vector>

namespace zef::demo {

using namespace zef::movies;
namespace fs = std::filesystem;

namespace {

bool equalsIgnoringCase(const std::string& a, const std::string& b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

// Answers the save dialog with one path and refuses everything else, so that saving goes
// through the project's own "save as" without a display.
class SaveAsUserInterface : public UserInterface {
public:
    explicit SaveAsUserInterface(std::string path) : m_path(std::move(path)) {}
    Answer ask(const std::string& text, const std::string&, Buttons, Icon) override
    {
        std::fprintf(stderr, "%s\n", text.c_str());
        return Answer::Cancel;
    }
    std::optional<std::string> chooseFileToOpen(const std::string&, const std::string&,
                                                const std::string&) override
    {
        return std::nullopt;
    }
    std::optional<std::string> chooseFileToSave(const std::string&, const std::string&,
                                                const std::string&, const std::string&) override
    {
        return m_path;
    }

private:
    std::string m_path;
};

// Restores the project's user interface when the save is over.
struct UserInterfaceScope {
    FProject& project;
    UserInterface* previous;
    UserInterfaceScope(FProject& p, UserInterface* ui) : project(p), previous(p.userInterface())
    {
        p.setUserInterface(ui);
    }
    ~UserInterfaceScope() { project.setUserInterface(previous); }
};

ZEFSourceItem* placeClip(FProject& project, const std::string& path, int32_t track, int64_t start,
                         int64_t end)
{
    auto clip = std::make_unique<ZEFSourceItem>(&project, track);
    clip->setPath(path);
    clip->open(true, false, false, false); // throws "Cannot open file ..." when it cannot
    if (clip->invalid() || !clip->isOpen()) throw ZEFException("Cannot open file " + path);
    const int64_t length = clip->sourceOut().ticks() - clip->sourceIn().ticks();
    if (length + kTicks / kFrameRate < end - start) // a frame short is still the clip
        throw ZEFException(path + " is shorter than its place on the timeline");
    clip->assignSourceRange(EditTime(0), EditTime(end - start));
    ZEFSourceItem* placed = clip.get();
    project.addItem(std::move(clip), false, false);
    // Placed directly: the neighbour rules would refuse the overlap of the transition.
    placed->assignStart(EditTime(start));
    placed->assignEnd(EditTime(end));
    return placed;
}

// Names the effect of an effect item and checks that the catalogue knows it (the catalogue
// answers an unknown name with its last entry).
void nameEffect(ZEFEffectItem& item, const std::string& name)
{
    item.setName(name);
    if (!equalsIgnoringCase(item.effectInfo().nameText(), name) ||
        item.effectInfo().effectType == 0)
        throw ZEFException("The effect \"" + name + "\" is not installed");
}

// A keyframe matrix: scale s, translation in thousandths of the frame.
MatrixRecord keyframe(Fixed scale, int32_t dxThousandths, int32_t dyThousandths)
{
    MatrixRecord m = MatrixRecord::scaling(scale, scale);
    m.m[2][0] = Fixed(dxThousandths) << 16;
    m.m[2][1] = Fixed(dyThousandths) << 16;
    return m;
}

Handle exportSettings()
{
    std::unique_ptr<MovieExporter> exporter = makeStandardExporter(kMovieExportMovie);
    if (!exporter) throw ZEFException("The movie exporter is missing");
    AtomContainer settings = exporter->defaultSettings();
    if (writeAtomUInt32(settings, kVideoSettingsAtom, kCodecAtom, fourcc("avc1")) != noErr ||
        writeAtomUInt32(settings, kSoundSettingsAtom, kCodecAtom, fourcc("mp4a")) != noErr ||
        exporter->setSettings(settings) != noErr)
        throw ZEFException("The movie exporter refuses H.264 and AAC");
    return exporter->settings().flatten();
}

// The print-to-tape settings: the intermediate file at the edit rate, new files at every
// print, the raw DV stream into the sink.
Handle tapeSettings(Fixed rate, const std::string& sink)
{
    AtomContainer settings;
    writeTemporalSettings(settings, TemporalSettings{peltra::kDefaultTemporalQuality, rate,
                                                     peltra::kDefaultKeyFrameRate});
    writeAtomUInt16(settings, kVideoSettingsAtom, peltra::kDirtyAtom, 1);
    writeAtomUInt16(settings, peltra::kTransmitterAtom, peltra::kTransmitterKindAtom,
                    uint16_t(peltra::TransmitterKind::sink));
    writeAtomText(settings, peltra::kTransmitterAtom, peltra::kSinkPathAtom, sink);
    return settings.flatten();
}

std::string fourccText(FourCC code)
{
    std::string s;
    for (int shift = 24; shift >= 0; shift -= 8)
        s += char((code >> shift) & 0xFF);
    return s;
}

std::string findSource(const fs::path& dir, char name, int32_t height)
{
    const std::string n(1, name);
    std::vector<std::string> names = {n + "_" + std::to_string(height) + ".mp4", n + ".mp4",
                                      n + ".mov"};
    // Then the containers the media graph reads ("b.mkv", "b.ts", ...).
    for (const graph::MediaGraphContainer& c : graph::mediaGraphContainers())
        for (const std::string& ext : c.extensions)
            names.push_back(n + "." + ext);
    for (const std::string& file : names) {
        std::error_code ec;
        const fs::path p = dir / file;
        if (fs::is_regular_file(p, ec)) return fs::absolute(p).string();
    }
    throw std::runtime_error("no clip " + n + " in " + dir.string() + " (looked for " + n + "_" +
                             std::to_string(height) + ".mp4, " + n + ".mp4, " + n + ".mov and " +
                             n + " in the containers of the media graph)");
}

} // namespace

DemoSources findGivenSources(const std::string& dir, int32_t height)
{
    return {findSource(dir, 'a', height), findSource(dir, 'b', height),
            findSource(dir, 'c', height)};
}

DemoSources makeDemoSources(const std::string& dir, int32_t width, int32_t height)
{
    return {ensureDemoClip(dir, demoClip('a'), width, height),
            ensureDemoClip(dir, demoClip('b'), width, height),
            ensureDemoClip(dir, demoClip('c'), width, height)};
}

void buildDemoProject(FProject& project, const DemoSources& sources, const DemoOptions& options)
{
    if (options.width < 16 || options.height < 16 || options.width > 4096 || options.height > 4096)
        throw std::invalid_argument("the demo size must lie in 16 .. 4096");
    if (!project.effectCatalogue()) throw std::invalid_argument("the project has no catalogue");
    for (int32_t t = 0; t < kTrackCount; ++t)
        if (!project.device(t).empty() || !project.device(t).keyframes().empty())
            throw std::invalid_argument("the project is not empty");

    CProjectTemplate composition = CProjectTemplate::builtInDefaults();
    composition.name = options.reference ? "Demo (reference)" : "Demo";
    composition.width = options.width;
    composition.height = options.height;
    composition.frameRate = Fixed(kFrameRate) << 16;
    composition.exportSubType = kMovieExportMovie;
    composition.exportManufacturer = kStandardExporterManufacturer;
    composition.exportSettings = exportSettings();
    composition.outputFile = kOutputFile;
    if (!options.dvTape.empty()) {
        if (options.dvTape != "PAL" && options.dvTape != "NTSC")
            throw std::invalid_argument("the DV tape is PAL or NTSC");
        composition.frameRate = Fixed(options.dvTape == "PAL" ? 25 : 30) << 16;
        composition.exportSubType = peltra::kPeltraSubType;
        composition.exportManufacturer = peltra::kPeltraManufacturer;
        composition.exportSettings = tapeSettings(composition.frameRate, options.dvSink);
        composition.outputFile = kTapeOutputFile;
    }
    project.setComposition(composition);

    // Layer A: a, then b overlapping it by two seconds; the overlap is a's transition.
    ZEFSourceItem* a = placeClip(project, sources.a, kLayerA, kClipAStart, kClipAEnd);
    ZEFSourceItem* b = placeClip(project, sources.b, kLayerA, kClipBStart, kClipBEnd);
    if (!a->transition()) throw ZEFException("The clip has no transition");
    nameEffect(*a->transition(), kTransitionName);
    if (!options.reference) {
        auto tint = std::make_unique<ZEFEffectItem>(&project, kLayerA, b);
        nameEffect(*tint, kFilterName);
        b->addFilter(std::move(tint));
    }

    // Layer B: c at half size, still in the top-left corner until 2 s, then moving to the
    // bottom-right corner, which it reaches at 8 s.
    placeClip(project, sources.c, kLayerB, kClipCStart, kClipCEnd);
    const Fixed half = kFixed1 / 2;
    project.insertKeyframe(kLayerB, EditTime(0), keyframe(half, 0, 0), false);
    project.insertKeyframe(kLayerB, EditTime(kClipCStart), keyframe(half, 0, 0), false);
    project.insertKeyframe(kLayerB, EditTime(kClipCEnd), keyframe(half, 500, 500), false);

    // The title: text is laid out from the top of its box, which is the whole frame moved by
    // the title track's keyframe; moving it down by half a frame less about half a line puts
    // the line in the middle.
    auto title = std::make_unique<ZEFTitlerEffect>(&project);
    title->setName("Title");
    title->setText(kTitleText);
    TitleStyle style;
    style.size = int16_t(std::max(12, options.height / 10));
    style.textColor = {255, 255, 255};
    style.justification = 1; // centre
    title->setStyle(style);
    ZEFItem* placedTitle = title.get();
    project.addItem(std::move(title), false, false);
    placedTitle->assignStart(EditTime(kTitleStart));
    placedTitle->assignEnd(EditTime(kTitleEnd));
    const int32_t lineTop = 500 - 600 * style.size / options.height;
    project.insertKeyframe(kTitleTrack, EditTime(0), keyframe(kFixed1, 0, lineTop), false);

    project.renderStart = EditTime(0);
    project.renderEndFollowsProject = true;
    project.updateRenderEnd();
    if (project.renderEnd.ticks() != kRenderEnd)
        throw ZEFException("The demo does not end at 22 seconds");
    const std::string broken = project.checkConsistency();
    if (!broken.empty()) throw ZEFException("The demo project is inconsistent: " + broken);
}

void saveDemoProject(FProject& project, const std::string& path)
{
    const fs::path full = fs::absolute(path);
    if (!equalsIgnoringCase(full.extension().string(), ".zef"))
        throw std::runtime_error(path + " is not a project file name (.zef)");
    std::error_code ec;
    if (full.has_parent_path()) fs::create_directories(full.parent_path(), ec);
    SaveAsUserInterface ui(full.string());
    {
        UserInterfaceScope scope(project, &ui);
        if (project.saveProject(true, false, false) != 1)
            throw std::runtime_error("cannot write " + full.string());
    }

    FProject reopened;
    reopened.setClipOpener(project.clipOpener());
    reopened.setEffectCatalogue(project.effectCatalogue());
    const std::string stem = (full.parent_path() / full.stem()).string();
    if (reopened.openProject(stem) != 1)
        throw std::runtime_error("cannot open " + full.string() + " again");
    const std::string want = summarizeProject(project);
    const std::string got = summarizeProject(reopened);
    if (want != got)
        throw std::runtime_error(full.string() + " does not read back the same project:\n" + got +
                                 "\ninstead of\n" + want);
}

std::string summarizeProject(const FProject& project)
{
    std::ostringstream out;
    auto effectLine = [&](const char* role, const ZEFEffectItem& e) {
        out << "  " << role << " '" << e.effectInfo().nameText() << "' "
            << fourccText(e.effectInfo().effectType) << "\n";
    };
    for (int32_t t = 0; t < kTrackCount; ++t) {
        const FDevice& d = project.device(t);
        out << "track " << t << (d.enabled() ? "" : " disabled") << "\n";
        for (size_t i = 0; i < d.size(); ++i) {
            const ZEFItem& item = *d.at(i);
            out << " item " << FDevice::kindOf(item) << " '" << item.name() << "' "
                << item.getStart().ticks() << ".." << item.getEnd().ticks();
            if (auto* s = dynamic_cast<const ZEFSourceItem*>(&item))
                out << " " << s->path() << " in " << s->sourceIn().ticks() << " out "
                    << s->sourceOut().ticks() << " volume " << s->volume()
                    << (s->invalid() ? " invalid" : "");
            if (auto* title = dynamic_cast<const ZEFTitlerEffect*>(&item)) {
                const TitleStyle st = title->style();
                out << " text '" << title->text() << "' size " << st.size << " just "
                    << st.justification;
            }
            out << "\n";
            if (item.transition()) effectLine("transition", *item.transition());
            for (size_t f = 0; f < item.filterCount(); ++f)
                effectLine("filter", *item.filter(f));
        }
        for (const MatrixKeyframe& k : d.keyframes()) {
            out << " keyframe " << k.time.ticks();
            for (const auto& row : k.matrix.m)
                for (Fixed v : row)
                    out << " " << v;
            out << "\n";
        }
    }
    const CProjectTemplate& c = project.composition();
    out << "composition '" << c.name << "' " << c.width << "x" << c.height << " rate "
        << c.frameRate << " export " << fourccText(c.exportSubType) << "/"
        << fourccText(c.exportManufacturer) << " settings " << c.exportSettings.size()
        << " bytes, output " << c.outputFile << "\n";
    out << "render " << project.renderStart.ticks() << ".." << project.renderEnd.ticks()
        << (project.renderEndFollowsProject ? " following" : "") << "\n";
    return out.str();
}

} // namespace zef::demo
