#include "app/tools.h"

#include "app/shell/app_paths.h"

#include "engine/effect_catalogue.h"
#include "engine/frame_delivery.h"
#include "engine/graph_clip_media.h"
#include "engine/movie_builder.h"
#include "engine/render.h"
#include "model/project.h"
#include "model/source_item.h"
#include "model/template_list.h"
#include "model/zef_exception.h"
#include "platform/graph/class_registry.h"
#include "platform/movies/effects/effect_registry.h"
#include "platform/movies/export/standard_exporters.h"
#include "renderfilter/render_filter.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace zef::app {

using namespace zef::movies;
namespace fs = std::filesystem;

namespace {

volatile std::sig_atomic_t g_interrupted = 0;
void onInterrupt(int) { g_interrupted = 1; }

// Progress on the terminal: a bar redrawn in place on a terminal, a line every tenth
// otherwise (logs and pipes).
class TerminalHost : public RenderHost {
public:
    TerminalHost(const std::string& progressFile, bool quiet) : m_quiet(quiet)
    {
        if (!progressFile.empty())
            m_progressFd =
                ::open(progressFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    }
    ~TerminalHost()
    {
        if (m_progressFd >= 0) ::close(m_progressFd);
    }
    bool abortRequested() override { return g_interrupted != 0; }
    void statusChanged(const CFile2000Status& s) override
    {
        if (s.progressShown) writeProgress(s.fraction);
        if (m_quiet) return;
        if (!s.progressShown && !s.plainMessageShown) return; // cleared at the end
        const std::string text = statusText(s);
        if (m_tty) {
            constexpr int kWidth = 30;
            const int filled = s.progressShown ? int(s.fraction * kWidth + 0.5) : 0;
            std::string bar = s.progressShown ? "[" + std::string(size_t(filled), '#') +
                                                    std::string(size_t(kWidth - filled), '-') + "] "
                                              : "";
            std::fprintf(stderr, "\r\033[K%s%s", bar.c_str(), text.c_str());
            std::fflush(stderr);
            m_open = true;
            return;
        }
        const int tenth = s.progressShown ? int(s.fraction * 10) : -1;
        if (text != m_last && (tenth != m_lastTenth || !s.progressShown)) {
            std::fprintf(stderr, "%s\n", text.c_str());
            m_last = text;
            m_lastTenth = tenth;
        }
    }
    void endLine()
    {
        if (m_tty && m_open) std::fprintf(stderr, "\n");
        m_open = false;
    }

private:
    // The fraction done in thousandths, for whoever follows the render from outside.
    void writeProgress(double fraction)
    {
        const int permille = int(fraction * 1000.0);
        if (m_progressFd < 0 || permille == m_lastPermille) return;
        m_lastPermille = permille;
        // Always five bytes, so each value overwrites the one before whole.
        char line[16];
        const int n = std::snprintf(line, sizeof line, "%4d\n", std::clamp(permille, 0, 1000));
        if (::pwrite(m_progressFd, line, size_t(n), 0) != n) m_lastPermille = -1;
    }

    bool m_quiet;
    int m_progressFd = -1;
    int m_lastPermille = -1;
    bool m_tty = ::isatty(STDERR_FILENO) != 0;
    bool m_open = false;
    std::string m_last;
    int m_lastTenth = -2;
};

// The clips of the layers and the gallery whose files could not be opened: those whose file
// is not there (missing) and those whose file is there but neither the movie toolbox nor the
// media graph reads (unreadable).
struct UnopenedClips {
    std::vector<std::string> missing;
    std::vector<std::string> unreadable;
};

UnopenedClips unopenedClips(const FProject& project)
{
    UnopenedClips out;
    for (int32_t track = 0; track < 4; ++track) {
        const FDevice& d = project.device(track);
        for (size_t i = 0; i < d.size(); ++i) {
            const auto* clip = dynamic_cast<const ZEFSourceItem*>(d.at(i));
            if (!clip || (!clip->invalid() && clip->isOpen())) continue;
            std::error_code ec;
            if (fs::is_regular_file(resolveClipPath(clip->path()), ec))
                out.unreadable.push_back(clip->path());
            else
                out.missing.push_back(clip->path());
        }
    }
    return out;
}

// Makes the render's movies reach the project's clips through the exports while it lives.
struct DeliveryRegistration {
    explicit DeliveryRegistration(FrameDelivery& d) { registerFrameDelivery(&d); }
    ~DeliveryRegistration() { registerFrameDelivery(nullptr); }
};

} // namespace

int renderTool(const RenderToolOptions& options, movies::PartFormat* described)
{
    const std::string& projectPath = options.project;
    const std::string& templateName = options.templateName;
    auto fail = [](const std::string& message) {
        std::fprintf(stderr, "zefedit: %s\n", message.c_str());
        return 1;
    };
    std::error_code ec;
    if (!fs::is_regular_file(projectPath, ec)) return fail("cannot open project " + projectPath);

    EffectRegistry registry = EffectRegistry::withBuiltIns();
    ComponentManager components;
    registerStandardExporters(components);
    // The codec plug-ins, as the editor registers them at start-up.
    for (const std::string& folder : pluginFolders())
        if (fs::is_directory(folder, ec)) components.registerPluginFolder(folder);
    // Clips the toolbox does not open are read through the media graph (no display here).
    std::unique_ptr<graph::FilterClassRegistry> graphClasses =
        graph::FilterClassRegistry::withBuiltIns();
    DllRegisterServer(graphClasses.get());
    GraphClipReaders graphReaders(*graphClasses, false);
    MediaClipOpener opener(&graphReaders);
    FEffectCatalogue catalogue(registry);
    catalogue.buildCatalogue();
    FProject project;
    project.setClipOpener(&opener);
    project.setEffectCatalogue(&catalogue);
    FMovieBuilder builder(project, registry, &components);
    project.setEngine(&builder);

    // openProject adds the extension itself.
    std::string base = projectPath;
    const std::string ext = fs::path(projectPath).extension().string();
    if (ext.size() == 4 && (ext == ".zef" || ext == ".ZEF" || ext == ".Zef"))
        base.resize(base.size() - 4);
    for (const auto& [from, to] : options.relinks) {
        project.oldPrefixes.push_back(from);
        project.newPrefixes.push_back(to);
    }
    if (project.openProject(base) != 1) return fail("cannot read project " + projectPath);

    const UnopenedClips unopened = unopenedClips(project);
    for (const std::string& path : unopened.missing)
        std::fprintf(stderr, "zefedit: missing clip: %s\n", path.c_str());
    for (const std::string& path : unopened.unreadable)
        std::fprintf(stderr, "zefedit: unreadable clip: %s\n", path.c_str());
    if (!unopened.missing.empty())
        return fail("the project's clips must be found before it can be rendered");
    if (!unopened.unreadable.empty())
        return fail("the project's clips must be readable before it can be rendered");
    FrameDelivery delivery(project);
    DeliveryRegistration registration(delivery);

    CProjectTemplate settings = project.composition();
    if (!templateName.empty()) {
        TemplateList templates;
        for (const std::string& dir : dataFolders())
            if (templates.loadFile(dir, "System", true)) break;
        CProjectTemplate* t = templates.findByName(templateName);
        if (!t) return fail("no output template named \"" + templateName + "\"");
        const std::string keptOutput = settings.outputFile;
        settings = *t;
        if (settings.outputFile.empty()) settings.outputFile = keptOutput;
    }
    if (!options.output.empty()) settings.outputFile = options.output;
    project.setComposition(settings);

    const bool describing = options.part && options.part->kind == RenderPart::Kind::Describe;
    TerminalHost host(options.progressFile, describing);
    FRender render(project, builder, components, &host);
    std::signal(SIGINT, onInterrupt);
    std::signal(SIGTERM, onInterrupt);
    bool ok = false;
    try {
        ok = options.part ? renderPart(render, *options.part, described) : render.renderRange();
    } catch (const ZEFException& e) {
        host.endLine();
        return fail(e.message());
    }
    host.endLine();
    if (!ok && render.lastResult() == progressProcAborted) return fail("render aborted");
    if (!describing) std::printf("%s\n", ok ? render.outputPath().c_str() : "broadcast finished");
    return 0;
}

} // namespace zef::app
