#include "engine/render.h"

#include "engine/movie_builder.h"
#include "model/project.h"
#include "model/source_item.h"
#include "model/zef_exception.h"
#include "platform/movies/atom_container.h"
#include "platform/movies/export/broadcast_exporter.h"
#include "platform/movies/export/export_pipeline.h"
#include "platform/movies/export/movie_export_source.h"
#include "platform/movies/export/standard_exporters.h"
#include "platform/movies/movie.h"
#include "platform/movies/movie_file.h"
#include "platform/movies/region.h"

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace zef {

using namespace movies;
namespace fs = std::filesystem;

namespace {

constexpr OSType kBroadcastSubType = fourcc("Real");
constexpr OSType kMPEGSubType = fourcc("Mpeg");

std::string format(const char* pattern, auto... args)
{
    char text[512];
    std::snprintf(text, sizeof text, pattern, args...);
    return text;
}

// A private folder: made with mode 0700 when missing; usable when it is a real folder (not a
// link) owned by this user that nobody else can write into.
bool privateFolder(const std::string& path)
{
    if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return false;
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return false;
    return S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() && (st.st_mode & 0022) == 0;
}

// The whole frame rate as the broadcast and MPEG settings keep it: the 16.16 rate rounded
// up from a fifteenth of a frame below.
uint32_t wholeFrameRate(Fixed rate) { return (uint32_t(rate) + 0x1111) >> 16; }

// Sets the atoms the broadcast and MPEG exporters take from the render.
void addRenderAtoms(AtomContainer& settings, const CProjectTemplate& t, bool looping,
                    const std::string& outputPath)
{
    if (t.exportSubType == kBroadcastSubType) {
        const uint8_t loop[2] = {0, uint8_t(looping ? 1 : 0)};
        writeBroadcastData(settings, fourcc("loop"), loop);
        const uint8_t flat[2] = {uint8_t(t.flattenForBroadcast ? 1 : 0), 0};
        writeBroadcastData(settings, fourcc("flat"), flat);
        std::vector<uint8_t> name(outputPath.begin(), outputPath.end());
        name.push_back(0);
        writeBroadcastData(settings, fourcc("flnm"), name);
        uint32_t preset = 0;
        if (readAtomUInt(settings, fourcc("vide"), fourcc("vsta"), &preset) && preset < 6) {
            // The 16.16 rate in this program's memory order (little-endian), as the exporter
            // reads it.
            const uint32_t rate = wholeFrameRate(t.frameRate) << 16;
            const uint8_t bytes[4] = {uint8_t(rate), uint8_t(rate >> 8), uint8_t(rate >> 16),
                                      uint8_t(rate >> 24)};
            const char name4[5] = {'v', 'd', 'r', char('1' + preset), 0};
            writeBroadcastData(settings, fourcc(name4), bytes);
        }
    } else if (t.exportSubType == kMPEGSubType) {
        writeAtomUInt16(settings, fourcc("vide"), fourcc("vsvr"),
                        uint16_t(wholeFrameRate(t.frameRate)));
    }
}

// The crop box in output pixels: each edge (size × fraction + 0x8000) >> 16.
Rect cropBox(const CProjectTemplate& t)
{
    auto at = [](int32_t size, Fixed f) { return int32_t((int64_t(size) * f + 0x8000) >> 16); };
    return Rect{at(t.width, t.cropRect.left), at(t.height, t.cropRect.top),
                at(t.width, t.cropRect.right), at(t.height, t.cropRect.bottom)};
}

// Creates every folder on the way to path's folder. kCannotCreateFolderErr when one cannot be
// made for a reason other than existing already or access being denied (the conversion then
// reports what it meets).
OSErr createFolders(const std::string& path)
{
    const fs::path folder = fs::path(path).parent_path();
    if (folder.empty()) return noErr;
    fs::path at;
    for (const fs::path& part : folder) {
        at /= part;
        if (at == at.root_path()) continue;
        if (::mkdir(at.c_str(), 0777) == 0 || errno == EEXIST || errno == EACCES) continue;
        return kCannotCreateFolderErr;
    }
    return noErr;
}

// Releases what a render opened, whatever happens.
struct RenderResources {
    explicit RenderResources(ComponentManager& m) : components(m) {}
    RenderResources(const RenderResources&) = delete;
    RenderResources& operator=(const RenderResources&) = delete;
    ComponentManager& components;
    ComponentInstance exporter = 0;
    std::unique_ptr<Movie> movie;
    std::string temporaryPath;
    std::function<void()> clearProgress;

    ~RenderResources()
    {
        if (clearProgress) clearProgress();
        movie.reset();
        if (!temporaryPath.empty()) ::unlink(temporaryPath.c_str());
        if (exporter) components.closeComponent(exporter);
    }
};

} // namespace

std::string statusText(const CFile2000Status& s)
{
    if (!s.progressShown && s.plainMessageShown) return s.plainMessage;
    if (s.remaining < 0) return format("%s %2.2f %% done", s.displayed.c_str(), s.fraction * 100.0);
    // Exact divisions: 300 s is 5.0 minutes, drawn with one decimal like every value up to 5.
    const int32_t secs = s.remaining;
    double value;
    const char* unit;
    if (secs >= 3600) {
        value = double(secs / 60) / 60.0;
        unit = "hrs";
    } else if (secs < 60) {
        value = secs;
        unit = "sec";
    } else {
        value = secs / 60.0;
        unit = "min";
    }
    if (value > 5.0 || unit[0] == 's')
        return format("%s %d %s remaining", s.displayed.c_str(), int(value), unit);
    return format("%s %2.1f %s remaining", s.displayed.c_str(), value, unit);
}

std::string resolveOutputPath(const std::string& path, const std::string& cwd)
{
    fs::path p(path);
    if (p.is_relative()) p = fs::path(cwd) / p;
    return p.lexically_normal().string();
}

std::string temporaryRenderFolder()
{
    std::vector<std::string> bases;
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime == '/')
        bases.emplace_back(runtime);
    if (const char* cache = std::getenv("XDG_CACHE_HOME"); cache && *cache == '/') {
        bases.emplace_back(cache);
    } else if (const char* home = std::getenv("HOME"); home && *home == '/') {
        const std::string dotCache = std::string(home) + "/.cache";
        ::mkdir(dotCache.c_str(), 0700);
        bases.push_back(dotCache);
    }
    for (const std::string& base : bases) {
        const std::string folder = base + "/zef-rondavo";
        if (privateFolder(folder)) return folder;
    }
    return {};
}

FRender::FRender(FProject& project, FMovieBuilder& builder, ComponentManager& components,
                 RenderHost* host, std::function<int64_t()> clock)
    : m_project(project), m_builder(builder), m_components(components),
      m_host(host ? host : &m_noHost), m_clock(std::move(clock))
{
    if (!m_clock) {
        m_clock = [] {
            return int64_t(std::chrono::duration_cast<std::chrono::milliseconds>(
                               std::chrono::steady_clock::now().time_since_epoch())
                               .count());
        };
    }
}

void FRender::notifyStatus() { m_host->statusChanged(m_status); }

void FRender::showStatusMessage(const std::string& text)
{
    m_status.plainMessage = text;
    m_status.plainMessageShown = true;
    m_status.progressShown = false;
    notifyStatus();
}

void FRender::setProgress(double fraction, int mode, bool redraw, const std::string& text)
{
    if (redraw) {
        const int64_t start = m_project.renderStart.ticks();
        const int64_t span = m_project.renderEnd.ticks() - start;
        m_host->showPosition(EditTime(start + int64_t(std::llround(double(span) * fraction))));
    }
    m_host->processEvents();
    const std::string& name = m_status.caption.empty() ? m_status.operation : m_status.caption;
    switch (mode) {
    case 1:
        m_status.operation = text;
        m_status.displayed = (m_status.caption.empty() ? m_status.operation : m_status.caption) +
                             ". Hold ESC to abort.";
        m_status.fraction = 0.0;
        m_status.remaining = -1;
        m_status.progressShown = true;
        m_status.plainMessageShown = false;
        m_startTick = m_clock();
        break;
    case 2:
        m_status.displayed = name + " finished";
        m_status.fraction = 1.0;
        m_status.remaining = -1;
        break;
    case 10:
        m_status.caption = "Preparing";
        break;
    case 11:
        m_status.caption.clear();
        break;
    case 12:
        m_status.caption = "Live Broadcasting";
        break;
    case -1:
        m_status.displayed = name;
        m_status.progressShown = false;
        break;
    default: {
        int32_t remaining = -1;
        if (m_startTick >= 0 && fraction > 0.0) {
            const double e = double((m_clock() - m_startTick) / 1000);
            remaining = int32_t(std::min(e / fraction - e, 2.0e9));
        }
        m_status.fraction = fraction;
        m_status.remaining = remaining;
        break;
    }
    }
    notifyStatus();
}

OSErr FRender::progressProc(int16_t message, int16_t /*operation*/, Fixed percentDone,
                            intptr_t refcon)
{
    auto* self = reinterpret_cast<FRender*>(refcon);
    switch (message) {
    case movieProgressOpen:
        // The caption first, so that a broadcast shows "Live Broadcasting" while it runs and
        // not the "Preparing" that went before.
        if (self->m_broadcasting) self->setProgress(0.0, 12, false);
        self->setProgress(0.0, 1, false, "Rendering ");
        break;
    case movieProgressUpdatePercent:
        self->setProgress(double(percentDone) / 65536.0, 0, true);
        break;
    case movieProgressClose:
        self->setProgress(1.0, 2, false);
        break;
    default:
        break;
    }
    return self->m_host->abortRequested() ? progressProcAborted : noErr;
}

std::string FRender::resultMessage(OSErr result)
{
    switch (result) {
    case noErr:
    case progressProcAborted:
        return {};
    case kCannotCreateFolderErr:
        return "Error: Cannot create folder";
    case paramErr:
        return "Error: Invalid file name";
    default:
        return "Error occured during ConvertMovieToFile operation";
    }
}

bool FRender::renderRange()
{
    const CProjectTemplate& settings = m_project.composition();
    const int64_t duration = m_project.renderEnd.ticks() - m_project.renderStart.ticks();
    if (duration < 1) throw ZEFException("Render range is empty");

    RenderResources res(m_components);
    const Component exporter = m_components.findNextComponent(
        0, ComponentDescription{kMovieExportType, settings.exportSubType,
                                settings.exportManufacturer, 0, 0});
    if (!exporter || m_components.openComponent(exporter, &res.exporter) != noErr) {
        res.exporter = 0;
        throw ZEFException("Cannot open export movie component");
    }
    res.clearProgress = [this] { setProgress(0.0, -1, false); };

    // The temporary movie that receives the built samples: a new file of this render only,
    // made exclusively in the user's private folder.
    const std::string folder = temporaryRenderFolder();
    if (folder.empty()) throw ZEFException("Cannot create temporary movie");
    static std::atomic<uint32_t> serial{0};
    OSErr created = dupFNErr;
    for (int attempt = 0; attempt < 100 && created == dupFNErr; ++attempt) {
        m_temporaryPath = folder + format("/render-%d-%u-%d.zmov", int(::getpid()),
                                          unsigned(serial++), int(std::rand() % 100000));
        created = createMovieFile(m_temporaryPath, 600, res.movie, true);
    }
    if (created != noErr || !res.movie) throw ZEFException("Cannot create temporary movie");
    res.temporaryPath = m_temporaryPath;
    Movie& movie = *res.movie;
    movie.setTimeScale(600);
    m_builder.buildRenderMovie(movie);

    // Trim to the range.
    const int64_t start = m_project.renderStart.ticks();
    if (start > 0) movie.deleteSegment(0, start);
    if (movie.duration() > duration) movie.deleteSegment(duration, movie.duration() - duration);

    // Box and crop. The crop shows its part of the picture at its own size: the clip region
    // keeps the part, and the picture moves so the part starts at (0, 0).
    movie.setActive(true);
    Rect box{0, 0, settings.width, settings.height};
    movie.setBox(box);
    if (settings.cropEnabled) {
        const Rect crop = cropBox(settings);
        if (crop.isEmpty()) throw ZEFException("Error: Cannot crop to an empty picture");
        movie.setClipRegion(Region(crop));
        MatrixRecord m = movie.matrix();
        m.concat(MatrixRecord::translation(Fixed(-crop.left) << 16, Fixed(-crop.top) << 16));
        movie.setMatrix(m);
        box = Rect{0, 0, crop.width(), crop.height()};
    }

    char cwd[4096];
    m_outputPath = resolveOutputPath(settings.outputFile, ::getcwd(cwd, sizeof cwd) ? cwd : "/");
    if (settings.outputFile.empty()) m_outputPath.clear();

    // Settings for the component, with the atoms the render adds.
    AtomContainer container;
    const bool haveSettings = !settings.exportSettings.isNull();
    if (haveSettings && AtomContainer::fromHandle(settings.exportSettings, container) != noErr)
        throw ZEFException("Error occured during ConvertMovieToFile operation");
    if (haveSettings || settings.exportSubType == kBroadcastSubType ||
        settings.exportSubType == kMPEGSubType) {
        if (!haveSettings) {
            Handle current;
            if (m_components.call(res.exporter, kMovieExportGetSettingsAsAtomContainerSelect,
                                  {intptr_t(&current)}) == noErr)
                AtomContainer::fromHandle(current, container);
        }
        addRenderAtoms(container, settings, m_host->previewLooping(), m_outputPath);
        const Handle flat = container.flatten();
        if (m_components.call(res.exporter, kMovieExportSetSettingsFromAtomContainerSelect,
                              {intptr_t(&flat)}) != noErr)
            throw ZEFException("Error occured during ConvertMovieToFile operation");
    }
    movie.setPlayHints(0x40100, 0x0FFFFFFF);

    OSErr result = m_outputPath.empty() ? paramErr : createFolders(m_outputPath);
    m_broadcasting = settings.exportSubType == kBroadcastSubType && settings.broadcastEnabled;
    if (result == noErr) {
        // Set before the first progress report: the program's other work (the lazy preview
        // update) waits while the window is kept alive from the progress procedure.
        struct RenderingFlag {
            bool& flag;
            explicit RenderingFlag(bool& f) : flag(f) { flag = true; }
            ~RenderingFlag() { flag = false; }
        } rendering(m_project.rendering);
        showStatusMessage("Preparing render... Please wait");
        if (m_broadcasting) setProgress(0.0, 10, false);
        MovieExportSource::Options options;
        options.rate = frameRateFromFixed(settings.frameRate);
        options.soundComponents = &m_components;
        // Image decompressors too: clip frames of the media graph's clips are drawn by one.
        options.evaluation.components = &m_components;
        MovieExportSource source(movie, options);
        if (m_conversion) {
            result = m_conversion(
                source, res.exporter, m_outputPath,
                ExportProgress{&FRender::progressProc, reinterpret_cast<intptr_t>(this)});
        } else {
            result = convertToFile(source, m_components, res.exporter, m_outputPath,
                                   createMovieFileDeleteCurFile | movieToFileOnlyExport,
                                   &FRender::progressProc, reinterpret_cast<intptr_t>(this));
        }
        if (m_broadcasting) setProgress(0.0, 11, false);
    }
    m_lastResult = result;
    if (result == noErr) return !m_broadcasting;
    if (result == progressProcAborted) return false;
    throw ZEFException(resultMessage(result));
}

void FRender::addToGallery(const std::string& path)
{
    auto clip = std::make_unique<ZEFSourceItem>(&m_project, kGallery);
    clip->setPath(path);
    clip->setCropRect({0, 0, kFixed1, kFixed1});
    clip->setVolume(256);
    try {
        clip->open(true, false, false, false);
    } catch (const ZEFException& e) {
        m_project.showError(e.message());
        if (!m_host->openWithDesktop(path))
            m_project.showError(format("Cannot open file %s\nUnsupported format.", path.c_str()));
        return;
    }
    m_project.addItem(std::move(clip), true, false);
}

bool FRender::renderCommand()
{
    try {
        if (m_project.composition().exportSettings.isNull()) m_host->runOutputSettings();
        if (m_project.renderStart == m_project.renderEnd) {
            m_project.showError("Render range is empty!");
            return false;
        }
        if (!renderRange()) return false;
        // A component that sends the movie elsewhere (to tape) leaves no file for the gallery.
        std::error_code ec;
        if (!fs::exists(m_outputPath, ec)) return true;
        addToGallery(m_outputPath);
        return true;
    } catch (const ZEFException& e) {
        if (e.hasMessage()) m_project.showError(e.message());
        return false;
    }
}

} // namespace zef
