// zefdemo: makes the demo project and, unless given, its source clips.
//   zefdemo [--size WxH] [--media DIR] [--reference] [--dv-tape PAL|NTSC [--dv-sink PATH]]
//           OUT.zef
// The clips are made once at the composition size into demo-media/ of the build tree (next to
// the bin folder of this program) and reused while they stay valid.
#include "engine/effect_catalogue.h"
#include "engine/graph_clip_media.h"
#include "model/zef_exception.h"
#include "platform/graph/class_registry.h"
#include "renderfilter/render_filter.h"
#include "tools/demo/demo_command.h"
#include "tools/demo/demo_media.h"
#include "tools/demo/demo_project.h"

#include <cstdio>
#include <exception>
#include <filesystem>

using namespace zef;
using namespace zef::demo;
namespace fs = std::filesystem;

namespace {

fs::path generatedMediaDir()
{
    std::error_code ec;
    const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    return ec ? fs::current_path() / "demo-media" : exe.parent_path().parent_path() / "demo-media";
}

int run(const DemoCommand& cmd)
{
    DemoSources sources;
    if (!cmd.mediaDir.empty()) {
        sources = findGivenSources(cmd.mediaDir, cmd.options.height);
    } else {
        const fs::path dir = generatedMediaDir();
        std::printf("zefdemo: source clips in %s\n", dir.c_str());
        std::fflush(stdout);
        sources = makeDemoSources(dir.string(), cmd.options.width, cmd.options.height);
    }
    movies::EffectRegistry registry = movies::EffectRegistry::withBuiltIns();
    FEffectCatalogue catalogue(registry);
    if (catalogue.buildCatalogue() != movies::noErr) throw ZEFException("No effects installed");
    // Given clips in containers the toolbox does not open are read through the media graph.
    std::unique_ptr<graph::FilterClassRegistry> graphClasses =
        graph::FilterClassRegistry::withBuiltIns();
    DllRegisterServer(graphClasses.get());
    GraphClipReaders graphReaders(*graphClasses, false);
    MediaClipOpener opener(&graphReaders);
    FProject project;
    project.setClipOpener(&opener);
    project.setEffectCatalogue(&catalogue);
    buildDemoProject(project, sources, cmd.options);
    saveDemoProject(project, cmd.output);
    std::printf("zefdemo: wrote %s (%dx%d%s%s%s)\n", cmd.output.c_str(), cmd.options.width,
                cmd.options.height, cmd.options.reference ? ", reference composition" : "",
                cmd.options.dvTape.empty() ? "" : ", printed to DV tape ",
                cmd.options.dvTape.c_str());
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    DemoCommand cmd;
    std::string error;
    if (!parseDemoCommand(std::vector<std::string>(argv + 1, argv + argc), cmd, &error)) {
        std::fprintf(stderr, "zefdemo: %s\n%s\n", error.c_str(), kDemoUsage);
        return 2;
    }
    try {
        return run(cmd);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "zefdemo: %s\n", e.what());
        return 1;
    }
}
