// Autosave, stale sessions and rolling backups on real files, with a clock the tests move.
#include "app/recovery/autosaver.h"
#include "app/recovery/recovery_store.h"
#include "model/item.h"
#include "model/project.h"
#include "model/user_interface.h"
#include "platform/storage/stream.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <iterator>

using namespace zef;
using namespace zef::recovery;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

std::vector<uint8_t> projectBytes(const FProject& p)
{
    storage::MemoryStream s;
    EXPECT_EQ(p.writeProject(s), 0);
    return s.bytes();
}

std::string fileBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class Recovery : public ::testing::Test {
protected:
    Recovery()
    {
        fs::remove_all(m_dir);
        fs::create_directories(m_dir);
        project.setUserInterface(&m_ui);
    }
    ~Recovery() override { fs::remove_all(m_dir); }

    // Adds a titled item to the title track, as an edit does (with its undo entry).
    void edit(const std::string& text)
    {
        project.undoHistory().recordUndo(kTitleTrack, "Add Title");
        auto t = std::make_unique<ZEFTitlerEffect>(&project);
        t->setText(text);
        const int64_t start = project.trackEnd(kTitleTrack).ticks();
        t->assignStart(EditTime::raw(start));
        t->assignEnd(EditTime::raw(start + 600));
        project.addItem(std::move(t), false, false);
    }
    // Saves under name, as the Save command does.
    std::string save(const std::string& name)
    {
        if (project.untitled()) project.assumeFileName(m_dir + "/" + name);
        EXPECT_EQ(project.saveProject(false, false, false), 1);
        return project.fileName();
    }
    std::string state() const { return m_dir + "/state"; }
    std::string dir() const { return m_dir; }

    Autosaver::Clock::time_point now{};
    std::function<Autosaver::Clock::time_point()> clock = [this] { return now; };
    FProject project;
    EditRateContext::Scope scope{project.rateContext()};

private:
    std::string m_dir =
        (fs::temp_directory_path() / ("zef-recovery-test-" + std::to_string(::getpid()))).string();
    HeadlessUserInterface m_ui;
};

} // namespace

TEST_F(Recovery, AutosaveFollowsTheLastChangeAndKeepsTheProjectUntouched)
{
    const std::string file = save("show.ZEF");
    const std::string saved = fileBytes(file);
    RecoveryStore store(state());
    ASSERT_TRUE(store.beginSession());
    Autosaver autosaver(project, store, clock);
    autosaver.setTiming({3000ms, 10000ms});

    // Edits a second apart push the snapshot back, but never past 10 s after the first.
    for (int i = 0; i < 9; ++i) {
        edit("edit " + std::to_string(i));
        autosaver.noteChange();
        now += 1s;
        EXPECT_FALSE(autosaver.poll()) << i;
    }
    ASSERT_EQ(autosaver.dueAt(), Autosaver::Clock::time_point{} + 10s);
    now += 1s;
    EXPECT_TRUE(autosaver.poll());
    autosaver.flush();
    EXPECT_FALSE(autosaver.dueAt());

    // The recovery file opens as a project and holds every edit; the project is as it was.
    EXPECT_TRUE(project.modified);
    EXPECT_EQ(project.undoHistory().undoCount(), 9);
    EXPECT_EQ(fileBytes(file), saved);
    FProject reopened;
    ASSERT_EQ(reopened.openProjectFile(store.recoveryPath()), 1);
    EXPECT_EQ(projectBytes(reopened), projectBytes(project));
    EXPECT_EQ(reopened.checkConsistency(), "");

    // A quiet spell after one more change: 3 s later.
    edit("last");
    autosaver.noteChange();
    now += 2999ms;
    EXPECT_FALSE(autosaver.poll());
    now += 1ms;
    EXPECT_TRUE(autosaver.poll());
    autosaver.flush();
    ASSERT_EQ(reopened.openProjectFile(store.recoveryPath()), 1);
    EXPECT_EQ(projectBytes(reopened), projectBytes(project));

    // Saving makes the recovery file go; a clean end leaves nothing behind.
    save("show.ZEF");
    autosaver.settle();
    autosaver.flush();
    EXPECT_FALSE(fs::exists(store.recoveryPath()));
    store.endSession();
    EXPECT_TRUE(fs::is_empty(state() + "/sessions"));
}

TEST_F(Recovery, RecoveryIsNeverOfferedForAProjectSavedAfterIt)
{
    save("show.ZEF");
    // Each round ends like a killed editor: the store goes without ending its session.
    auto crashAfter = [&](const std::function<void(Autosaver&)>& work) {
        RecoveryStore store(state());
        EXPECT_TRUE(store.beginSession());
        Autosaver autosaver(project, store, clock);
        work(autosaver);
        autosaver.flush();
    };
    auto offered = [&] {
        RecoveryStore store(state());
        std::vector<StaleSession> stale = store.takeStaleSessions();
        return stale.empty() ? std::string() : stale.front().info.projectFile;
    };

    // Not saved since the snapshot: offered, and the same again at the next start.
    edit("a");
    crashAfter([](Autosaver& a) { a.snapshotNow(); });
    EXPECT_EQ(offered(), fs::absolute(dir() + "/show.ZEF").string());
    EXPECT_NE(offered(), "");
    {
        RecoveryStore store(state());
        for (StaleSession& s : store.takeStaleSessions())
            store.discard(s);
    }

    // Saved after the snapshot, whatever the file's time says (a clock set back, a file
    // system with coarse times): never offered, and the stale entry is gone.
    edit("b");
    crashAfter([&](Autosaver& a) {
        a.snapshotNow();
        a.flush();
        const std::string file = save("show.ZEF");
        fs::last_write_time(file, fs::last_write_time(file) - 10s);
    });
    EXPECT_EQ(offered(), "");
    EXPECT_TRUE(fs::is_empty(state() + "/sessions"));

    // The worker still writing when the save happens: its file lands after the save.
    edit("c");
    crashAfter([&](Autosaver& a) {
        std::promise<void> saved;
        std::shared_future<void> go = saved.get_future().share();
        a.setStageHook([go](Autosaver::Stage stage, int64_t) {
            if (stage == Autosaver::Stage::Written) go.wait();
        });
        a.snapshotNow();
        const std::string file = save("show.ZEF");
        fs::last_write_time(file, fs::last_write_time(file) - 10s);
        saved.set_value();
    });
    EXPECT_EQ(offered(), "");

    // An untitled project has no file to compare with: always offered.
    project.newProject();
    edit("d");
    crashAfter([](Autosaver& a) { a.snapshotNow(); });
    RecoveryStore store(state());
    std::vector<StaleSession> stale = store.takeStaleSessions();
    ASSERT_EQ(stale.size(), 1u);
    EXPECT_EQ(stale[0].info.projectFile, "");
    FProject reopened;
    ASSERT_EQ(reopened.openProjectFile(stale[0].recoveryFile), 1);
    EXPECT_EQ(projectBytes(reopened), projectBytes(project));
}

TEST_F(Recovery, LiveSessionsAreLeftAloneAndTheNewestCompleteSnapshotIsOffered)
{
    project.newProject();
    auto live = std::make_unique<RecoveryStore>(state());
    ASSERT_TRUE(live->beginSession());
    std::vector<uint8_t> first;
    {
        Autosaver autosaver(project, *live, clock);
        edit("first");
        first = projectBytes(project);
        autosaver.snapshotNow();
        autosaver.flush();
        // What a kill between writing the next snapshot and renaming it leaves: the files
        // as they are at that moment.
        edit("second");
        autosaver.setStageHook([&](Autosaver::Stage stage, int64_t) {
            if (stage != Autosaver::Stage::Written) return;
            fs::copy_file(live->partPath(), live->partPath() + ".kept");
            fs::copy_file(live->recoveryPath(), live->recoveryPath() + ".kept");
        });
        autosaver.snapshotNow();
        autosaver.flush();
        fs::rename(live->partPath() + ".kept", live->partPath());
        fs::rename(live->recoveryPath() + ".kept", live->recoveryPath());
    }
    FProject reopened;
    ASSERT_EQ(reopened.openProjectFile(live->recoveryPath()), 1);
    EXPECT_EQ(projectBytes(reopened), first);

    // While its process lives (holds its lock), another editor does not take the session.
    RecoveryStore other(state());
    EXPECT_TRUE(other.takeStaleSessions().empty());

    live.reset(); // the process is gone
    std::vector<StaleSession> stale = other.takeStaleSessions();
    ASSERT_EQ(stale.size(), 1u);
    EXPECT_EQ(stale[0].recoveryFile.substr(stale[0].recoveryFile.size() - 5), ".part");
    ASSERT_EQ(reopened.openProjectFile(stale[0].recoveryFile), 1);
    EXPECT_EQ(projectBytes(reopened), projectBytes(project));

    // Adopted by the new session: its recovery file, the old entry gone.
    ASSERT_TRUE(other.beginSession());
    ASSERT_TRUE(other.adopt(stale[0]));
    ASSERT_EQ(reopened.openProjectFile(other.recoveryPath()), 1);
    EXPECT_EQ(projectBytes(reopened), projectBytes(project));
    std::vector<std::string> left;
    for (const auto& e : fs::directory_iterator(state() + "/sessions"))
        left.push_back(e.path().filename().string());
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left,
              (std::vector<std::string>{other.sessionId() + ".lock", other.sessionId() + ".zef"}));
}

TEST_F(Recovery, EachSaveKeepsThePreviousVersionsUpToTheCount)
{
    RecoveryStore store(state());
    ASSERT_TRUE(store.beginSession());
    std::vector<std::string> versions;
    std::string file;
    for (int i = 0; i < 7; ++i) {
        edit("v" + std::to_string(i));
        // The second copy of the same version is not kept twice.
        if (!file.empty()) {
            EXPECT_TRUE(store.backUp(file, 5) && store.backUp(file, 5));
        }
        file = save("show.ZEF");
        versions.push_back(fileBytes(file));
    }
    std::vector<Backup> kept = store.backups(file);
    ASSERT_EQ(kept.size(), 5u);
    // Newest first: the file as it was before the last save, and so on back.
    for (size_t i = 0; i < kept.size(); ++i) {
        EXPECT_EQ(fileBytes(kept[i].file), versions[versions.size() - 2 - i]) << i;
        EXPECT_EQ(kept[i].projectFile, fs::weakly_canonical(file).string());
    }
    EXPECT_EQ(store.allBackups().size(), 5u);
    EXPECT_FALSE(store.backUp(file, 0));
    FProject restored;
    EXPECT_EQ(restored.openProjectFile(kept[1].file), 1);
    EXPECT_EQ(restored.device(kTitleTrack).size(), 5u); // the version saved with five titles
}
