// zefedit --render-farm and --farm-join: a render split into jobs for a batch scheduler.
#include "app/farm/farm_jobs.h"
#include "app/farm/farm_scheduler.h"
#include "app/tools.h"
#include "engine/render.h"

#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <thread>

namespace zef::app {

namespace fs = std::filesystem;

namespace {

volatile std::sig_atomic_t g_stop = 0;
void onStop(int) { g_stop = 1; }

int fail(const std::string& message)
{
    std::fprintf(stderr, "zefedit: %s\n", message.c_str());
    return 1;
}

std::string currentFolder()
{
    char cwd[4096];
    return ::getcwd(cwd, sizeof cwd) ? cwd : "/";
}

// The parts a render left in its job folder; they are large and of no use once it has ended.
void removeParts(const std::string& folder, const FarmPlan& plan)
{
    std::error_code ec;
    for (size_t k = 0; k < plan.chunks.size(); ++k) {
        fs::remove(folder + "/" + chunkName(k) + ".mov", ec);
        fs::remove(folder + "/" + chunkName(k) + ".mov.partial", ec);
    }
    fs::remove(folder + "/" + std::string(kSoundName) + ".mov", ec);
    fs::remove(folder + "/" + std::string(kSoundName) + ".mov.partial", ec);
}

} // namespace

int renderFarmTool(const std::vector<std::string>& args)
{
    FarmOptions options;
    std::string error;
    if (!parseFarmOptions(args, options, &error)) return fail(error + "; see zefedit --help");
    const std::string cwd = currentFolder();
    FarmPlan plan;
    plan.output = resolveOutputPath(options.output, cwd);

    // The render's frames and format, from the project as this machine sees it.
    RenderToolOptions describe;
    describe.project = options.project;
    describe.output = plan.output;
    describe.templateName = options.templateName;
    describe.relinks = options.relinks;
    describe.part = RenderPart{};
    if (renderTool(describe, &plan.format) != 0) return 1;
    plan.chunks = splitFrames(plan.format.frames, options.chunks);
    if (plan.chunks.empty()) return fail("the render range holds no frames");

    char self[4096];
    const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) return fail("cannot tell where zefedit is");
    const std::string zefedit(self, size_t(n));

    std::string folder;
    try {
        folder = makeJobFolder(plan.output, options.jobFolder.empty()
                                                ? std::string()
                                                : resolveOutputPath(options.jobFolder, cwd));
        options.project = resolveOutputPath(options.project, cwd);
        writeJobFolder(folder, plan, options, zefedit, cwd);
    } catch (const std::exception& e) {
        return fail(e.what());
    }

    const bool local = options.scheduler == SchedulerKind::Local;
    std::unique_ptr<FarmScheduler> scheduler =
        local ? makeLocalScheduler(folder, plan.chunks.size(), plan.format.hasSound,
                                   options.localJobs > 0
                                       ? options.localJobs
                                       : int(std::max(1u, std::thread::hardware_concurrency())))
              : makeSlurmScheduler(folder, plan.chunks.size(), plan.format.hasSound,
                                   options.sbatchArgs);
    std::signal(SIGINT, onStop);
    std::signal(SIGTERM, onStop);
    if (!scheduler->submit(&error)) {
        // Nothing ran: the folder is of no use.
        std::error_code ec;
        fs::remove_all(folder, ec);
        return fail(error);
    }
    std::printf("job folder: %s\njobs: %s\n", folder.c_str(), scheduler->jobIds().c_str());
    std::fflush(stdout);
    if (!local && !options.wait) return 0;

    const FollowResult result = followFarm(
        *scheduler, plan, folder, [] { return g_stop != 0; }, local ? 200 : 1000);
    if (!result.ok) {
        removeParts(folder, plan);
        return fail(result.message + "\nzefedit: the render failed; " + plan.output +
                    " was not written (the logs are in " + folder + ")");
    }
    std::error_code ec;
    fs::remove_all(folder, ec);
    std::printf("%s\n", plan.output.c_str());
    return 0;
}

int farmJoinTool(const std::string& folder)
{
    FarmPlan plan;
    try {
        plan = readPlan(folder);
    } catch (const std::exception& e) {
        return fail(e.what());
    }
    std::vector<movies::PicturePart> parts;
    for (size_t k = 0; k < plan.chunks.size(); ++k)
        parts.push_back(
            {folder + "/" + chunkName(k) + ".mov", plan.chunks[k].end - plan.chunks[k].first});
    const std::string sound =
        plan.format.hasSound ? folder + "/" + std::string(kSoundName) + ".mov" : std::string();

    // Written under a hidden name beside the output and renamed when whole, so the output is
    // never a part of a movie.
    const fs::path out(plan.output);
    std::error_code ec;
    fs::create_directories(out.parent_path(), ec);
    const std::string partial = (out.parent_path() / ("." + out.filename().string() + ".partial-" +
                                                      std::to_string(::getpid())))
                                    .string();
    std::signal(SIGINT, onStop);
    std::signal(SIGTERM, onStop);
    std::string error;
    const movies::OSErr result =
        movies::joinParts(plan.format, parts, sound, partial, &error, [] { return g_stop != 0; });
    if (result != movies::noErr) {
        fs::remove(partial, ec);
        return fail("cannot join the render: " + error);
    }
    if (::rename(partial.c_str(), plan.output.c_str()) != 0) {
        fs::remove(partial, ec);
        return fail("cannot write " + plan.output);
    }
    std::ofstream(folder + "/join.done") << plan.output << "\n";
    removeParts(folder, plan);
    std::printf("%s\n", plan.output.c_str());
    return 0;
}

} // namespace zef::app
