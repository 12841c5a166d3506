// The farm's job folder and its local scheduler, with stand-in programs for zefedit.
#include "app/farm/farm_jobs.h"
#include "app/farm/farm_scheduler.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

using namespace zef::app;
namespace fs = std::filesystem;

namespace {

std::string freshFolder(const std::string& name)
{
    const char* base = std::getenv("ZEF_TEST_TMP");
    const fs::path dir = fs::path(base && *base ? base : "/tmp") / "farm" / name;
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir.string();
}

void writeScript(const std::string& path, const std::string& body)
{
    std::ofstream(path) << "#!/bin/sh\n" << body << "\n";
    ::chmod(path.c_str(), 0755);
}

std::string readAll(const std::string& path)
{
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

FarmPlan planOf(int64_t frames, int chunks)
{
    FarmPlan plan;
    plan.output = "/out/movie.mov";
    plan.format.muxer = "mov";
    plan.format.rate = {30, 1};
    plan.format.frames = frames;
    plan.format.hasSound = true;
    plan.format.typeString = "Movie";
    plan.chunks = splitFrames(frames, chunks);
    return plan;
}

} // namespace

TEST(FarmJobs, ChunksMeetEndToEndAndCoverTheRender)
{
    for (const auto& [frames, chunks] : std::vector<std::pair<int64_t, int>>{
             {660, 4}, {661, 4}, {7, 3}, {3, 8}, {1, 1}, {100000, 1000}}) {
        const std::vector<FarmChunk> c = splitFrames(frames, chunks);
        ASSERT_EQ(c.size(), size_t(std::min<int64_t>(frames, chunks)));
        int64_t next = 0, shortest = frames, longest = 0;
        for (const FarmChunk& k : c) {
            EXPECT_EQ(k.first, next);
            next = k.end;
            shortest = std::min(shortest, k.end - k.first);
            longest = std::max(longest, k.end - k.first);
        }
        EXPECT_EQ(next, frames);
        EXPECT_LE(longest - shortest, 1) << frames << " in " << chunks;
    }
}

TEST(FarmJobs, ScriptsRunZefeditWithEveryWordIntactAndThePlanReadsBack)
{
    // Paths with spaces, quotes and a dollar sign must reach the program as they are.
    const std::string dir = freshFolder("it's a $folder");
    const std::string fake = dir + "/fake zefedit";
    writeScript(fake,
                "for a in \"$@\"; do printf '%s\\n' \"$a\"; done > \"$(dirname \"$0\")/args\"");
    const std::string project = dir + "/my project.zef";
    std::ofstream(project) << "project";

    FarmPlan plan = planOf(660, 4);
    plan.output = dir + "/out put.mov";
    plan.format.muxerOptions["movflags"] = "+faststart";
    FarmOptions options;
    options.project = project;
    options.templateName = "H.264 'HD'";
    options.relinks = {{"/old clips", "/mnt/new $clips"}};
    writeJobFolder(dir, plan, options, fake, dir);

    ASSERT_EQ(std::system(("/bin/sh " + shellQuote(dir + "/chunk-1.sh")).c_str()) == -1, false);
    const std::vector<std::string> expected = {"--render",
                                               dir + "/project.zef",
                                               "--template",
                                               "H.264 'HD'",
                                               "--relink",
                                               "/old clips=/mnt/new $clips",
                                               "--output",
                                               dir + "/chunk-1.mov",
                                               "--progress-file",
                                               dir + "/chunk-1.progress",
                                               "--range",
                                               "165",
                                               "330"};
    std::string want;
    for (const std::string& w : expected)
        want += w + "\n";
    EXPECT_EQ(readAll(dir + "/args"), want);
    EXPECT_EQ(readAll(dir + "/project.zef"), "project");

    // The array task runs its chunk's script; the join names the folder.
    fs::remove(dir + "/args");
    ASSERT_EQ(
        std::system(("SLURM_ARRAY_TASK_ID=3 /bin/sh " + shellQuote(dir + "/chunks.sh")).c_str()),
        0);
    EXPECT_NE(readAll(dir + "/args").find("495\n660\n"), std::string::npos);
    ASSERT_EQ(std::system(("/bin/sh " + shellQuote(dir + "/join.sh")).c_str()), 0);
    EXPECT_EQ(readAll(dir + "/args"), "--farm-join\n" + dir + "\n");

    const FarmPlan back = readPlan(dir);
    EXPECT_EQ(back.output, plan.output);
    EXPECT_EQ(back.format.muxerOptions, plan.format.muxerOptions);
    EXPECT_EQ(back.format.frames, 660);
    EXPECT_EQ(back.chunks.size(), 4u);
    EXPECT_EQ(back.chunks[3].first, 495);
    EXPECT_TRUE(back.format.hasSound);
}

TEST(FarmLocal, AFailingChunkCancelsTheOthersAndTheJoinNeverRuns)
{
    const std::string dir = freshFolder("local-fail");
    const FarmPlan plan = planOf(90, 3);
    writeScript(dir + "/chunk-0.sh", "exec sleep 30");
    writeScript(dir + "/chunk-1.sh", "echo 'zefedit: something broke'; exit 3");
    writeScript(dir + "/chunk-2.sh", "exec sleep 30");
    writeScript(dir + "/sound.sh", "exit 0");
    writeScript(dir + "/join.sh", "touch \"$(dirname \"$0\")/joined\"");

    auto scheduler = makeLocalScheduler(dir, 3, true, 4);
    std::string error;
    ASSERT_TRUE(scheduler->submit(&error)) << error;
    const auto start = std::chrono::steady_clock::now();
    const FollowResult r = followFarm(*scheduler, plan, dir, {}, 20, false);
    EXPECT_FALSE(r.ok);
    EXPECT_NE(r.message.find("chunk 2 of 3 (frames 30 to 59) failed (exit code 3)"),
              std::string::npos)
        << r.message;
    EXPECT_NE(r.message.find("something broke"), std::string::npos) << r.message;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10))
        << "the sleeping chunks were ended";
    EXPECT_FALSE(fs::exists(dir + "/joined"));
    FarmStatus status;
    scheduler->poll(status, &error);
    EXPECT_EQ(status.chunks[0].state, JobState::Cancelled);
    EXPECT_EQ(status.join.state, JobState::Cancelled);
}

TEST(FarmLocal, TheJoinRunsOnceEveryPartHasEndedWell)
{
    const std::string dir = freshFolder("local-ok");
    const FarmPlan plan = planOf(90, 2);
    // One at a time: the second chunk starts only after the first ended.
    writeScript(dir + "/chunk-0.sh",
                "sleep 0.2; echo 1000 > \"$(dirname \"$0\")/chunk-0.progress\"");
    writeScript(dir + "/chunk-1.sh", "test -f \"$(dirname \"$0\")/chunk-0.progress\" || exit 1");
    writeScript(dir + "/sound.sh", "sleep 0.1");
    writeScript(dir + "/join.sh",
                "cd \"$(dirname \"$0\")\" && test -f chunk-0.progress && touch joined");
    auto scheduler = makeLocalScheduler(dir, 2, true, 1);
    std::string error;
    ASSERT_TRUE(scheduler->submit(&error)) << error;
    const FollowResult r = followFarm(*scheduler, plan, dir, {}, 20, false);
    EXPECT_TRUE(r.ok) << r.message;
    EXPECT_TRUE(fs::exists(dir + "/joined"));
}
