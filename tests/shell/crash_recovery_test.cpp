// The real editor (zef_crash_driver, a child process running CZefApp offscreen) makes 200
// random edits and is killed with SIGKILL at random moments, in the middle of an autosave
// and in the middle of a save. After each kill the project offered for recovery must open,
// pass checkConsistency and hold every edit older than the autosave's longest delay, and the
// restarted editor must show it; a project saved after the last snapshot is never offered.
#include "app/recovery/recovery_store.h"
#include "model/project.h"
#include "model/user_interface.h"
#include "tests/crashdriver/project_fingerprint.h"
#include "tests/movies/test_media.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <QSettings>

#include <filesystem>
#include <map>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

using namespace zef;
namespace fs = std::filesystem;
namespace media = zef::movies::testing::media;

namespace {

constexpr int kDelayMs = 100;
constexpr int kMaxIntervalMs = 300;
// Beyond the longest autosave delay, time for a loaded machine to run the timer and write.
constexpr long long kSlackMs = 1000;
constexpr int kEdits = 200;

long long monotonicNs()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (long long)ts.tv_sec * 1000000000LL + ts.tv_nsec;
}

class Driver {
public:
    explicit Driver(const std::vector<std::string>& args, const std::string& errors)
    {
        int fds[2];
        EXPECT_EQ(::pipe(fds), 0);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
        posix_spawn_file_actions_addclose(&actions, fds[0]);
        posix_spawn_file_actions_addopen(&actions, 2, errors.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                         0644);
        std::vector<char*> argv;
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        EXPECT_EQ(posix_spawn(&m_pid, argv[0], &actions, nullptr, argv.data(), environ), 0);
        posix_spawn_file_actions_destroy(&actions);
        ::close(fds[1]);
        m_out = fds[0];
    }
    ~Driver()
    {
        kill();
        ::close(m_out);
    }
    // The next line, or nothing once the deadline passed or the driver ended.
    std::optional<std::string> line(long long deadlineNs)
    {
        for (;;) {
            if (size_t nl = m_buffer.find('\n'); nl != std::string::npos) {
                std::string l = m_buffer.substr(0, nl);
                m_buffer.erase(0, nl + 1);
                return l;
            }
            const long long left = (deadlineNs - monotonicNs()) / 1000000;
            if (left <= 0) return std::nullopt;
            pollfd p{m_out, POLLIN, 0};
            if (::poll(&p, 1, int(left)) <= 0) continue;
            char buf[4096];
            const ssize_t n = ::read(m_out, buf, sizeof buf);
            if (n <= 0) return std::nullopt;
            m_buffer.append(buf, size_t(n));
        }
    }
    void kill()
    {
        if (m_pid <= 0) return;
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, nullptr, 0);
        m_pid = -1;
    }

private:
    pid_t m_pid = -1;
    int m_out = -1;
    std::string m_buffer;
};

std::vector<std::string> words(const std::string& line)
{
    std::istringstream in(line);
    std::vector<std::string> out;
    for (std::string w; in >> w;)
        out.push_back(w);
    return out;
}

// What one run of the driver showed until it was killed.
struct DriverRun {
    struct State {
        std::string fingerprint;
        long long ns;
    };
    std::vector<State> states; // [0]: the project as the editor opened it
    bool offered = false, consistent = false, modified = false;
    std::string title;
    std::map<long long, size_t> snapshots; // generation -> state it holds
    size_t committed = 0;                  // state of the newest committed snapshot
    bool savedSinceSnapshot = false;       // a save succeeded after the last snapshot
    int edits = 0, saves = 0;
    bool heldAutosave = false, heldSave = false, heldSaved = false;
    std::vector<std::string> unexpected;
    long long killedNs = 0;

    // The oldest state the project after the kill may hold.
    size_t required() const
    {
        size_t r = committed;
        for (size_t i = 0; i < states.size(); ++i)
            if (states[i].ns <= killedNs - (kMaxIntervalMs + kSlackMs) * 1000000)
                r = std::max(r, i);
        return r;
    }
    bool holds(const std::string& fingerprint) const
    {
        for (size_t i = required(); i < states.size(); ++i)
            if (states[i].fingerprint == fingerprint) return true;
        return false;
    }
};

void take(DriverRun& run, const std::string& line)
{
    const std::vector<std::string> w = words(line);
    if (w.empty()) return;
    const std::string& kind = w[0];
    if (kind == "ready" && w.size() >= 7) {
        run.states.push_back({w[2], std::stoll(w[1])});
        run.offered = w[3] == "offered=1";
        run.consistent = w[4] == "consistent=1";
        run.modified = w[5] == "modified=1";
        run.title = line.substr(line.find("title=") + 6);
    } else if (kind == "edit" && w.size() == 4) {
        run.states.push_back({w[3], std::stoll(w[2])});
        ++run.edits;
    } else if (kind == "snapshot" && w.size() == 4) {
        EXPECT_EQ(w[3], run.states.back().fingerprint) << "the snapshot is the current state";
        run.snapshots[std::stoll(w[1])] = run.states.size() - 1;
        run.savedSinceSnapshot = false;
    } else if (kind == "committed" && w.size() == 3) {
        run.committed = std::max(run.committed, run.snapshots.at(std::stoll(w[1])));
    } else if (kind == "saved" && w.size() == 3) {
        if (w[2] == "1") {
            run.savedSinceSnapshot = true;
            ++run.saves;
        }
    } else if (kind == "hold" && w.size() == 3) {
        (w[1] == "save" ? run.heldSave : w[1] == "saved" ? run.heldSaved : run.heldAutosave) = true;
    } else if (kind != "written" && kind != "save") {
        run.unexpected.push_back(line);
    }
}

} // namespace

TEST(CrashRecovery, RandomEditsSurviveSigkillDuringAutosavesAndSaves)
{
    const fs::path work = fs::path(movies::testing::mediaDir()).parent_path() / "crash-recovery";
    fs::remove_all(work);
    fs::create_directories(work / "user");
    const std::string settings = (work / "settings.ini").string();
    {
        QSettings ini(QString::fromStdString(settings), QSettings::IniFormat);
        ini.setValue(QStringLiteral("Recovery Preferences/AutosaveDelay"), kDelayMs);
        ini.setValue(QStringLiteral("Recovery Preferences/AutosaveMaxInterval"), kMaxIntervalMs);
    }
    const std::string state = (work / "state").string();
    const std::string project = (work / "show.ZEF").string();
    const std::string errors = (work / "driver-errors.txt").string();
    const std::vector<std::string> clips = {media::avClip4s(), media::jpegStill(),
                                            media::rampWav()};
    ::setenv("ZEF_DATA_DIR", ZEF_DATA_DIR, 1);

    std::mt19937 rng(20240522);
    const char* modes[] = {"none", "autosave", "saved", "none", "save"};
    std::optional<DriverRun> previous;
    std::optional<std::string> offeredBefore; // what the test itself found offered
    int edits = 0, cycle = 0, heldAutosaves = 0, heldSaves = 0, heldSaved = 0, offers = 0,
        saves = 0;
    for (bool last = false; !last; ++cycle) {
        last = (edits >= kEdits && heldAutosaves >= 2 && heldSaves >= 2 && heldSaved >= 2) ||
               cycle == 40;
        const std::string mode = modes[cycle % 5];
        std::vector<std::string> args = {ZEF_CRASH_DRIVER,
                                         "--state",
                                         state,
                                         "--settings",
                                         settings,
                                         "--user",
                                         (work / "user").string(),
                                         "--project",
                                         project,
                                         "--seed",
                                         std::to_string(100 + cycle),
                                         "--edits",
                                         last ? "0" : "40",
                                         "--hold",
                                         mode};
        args.insert(args.end(), clips.begin(), clips.end());
        Driver driver(args, errors);
        DriverRun run;
        const long long started = monotonicNs();
        long long killAt = started + 20'000'000'000LL;
        while (auto l = driver.line(killAt)) {
            take(run, *l);
            if (run.states.size() == 1 && l->rfind("ready", 0) == 0 && mode == "none")
                killAt = run.states[0].ns + 300'000'000LL + rng() % 1'500'000'000LL;
            if (run.heldSave || run.heldSaved || (run.heldAutosave && mode == "autosave") ||
                (last && !run.states.empty()))
                break;
        }
        run.killedNs = monotonicNs();
        driver.kill();
        ASSERT_FALSE(run.states.empty()) << "cycle " << cycle << ": the editor did not start";
        EXPECT_TRUE(run.unexpected.empty()) << "cycle " << cycle << ": " << run.unexpected[0];

        // The restarted editor offers what the test found, and shows it consistent.
        EXPECT_EQ(run.offered, offeredBefore.has_value()) << "cycle " << cycle;
        EXPECT_TRUE(run.consistent) << "cycle " << cycle;
        if (offeredBefore) {
            EXPECT_EQ(run.states[0].fingerprint, *offeredBefore) << "cycle " << cycle;
            EXPECT_TRUE(run.modified) << "cycle " << cycle;
            EXPECT_EQ(run.title, "show - ZEF Rondavo") << "cycle " << cycle;
        }
        // Whatever it opened (the recovery or the saved file) holds every edit older than
        // the longest autosave delay before the kill.
        if (previous) {
            EXPECT_TRUE(previous->holds(run.states[0].fingerprint))
                << "cycle " << cycle << ": opened a state older than required";
        }
        if (last) break;

        // What the kill left: the test opens the offered project itself.
        offeredBefore.reset();
        {
            recovery::RecoveryStore store(state);
            std::vector<recovery::StaleSession> stale = store.takeStaleSessions();
            ASSERT_LE(stale.size(), 1u);
            if (!stale.empty()) {
                FProject p;
                HeadlessUserInterface quiet;
                p.setUserInterface(&quiet);
                ASSERT_EQ(p.openProjectFile(stale[0].recoveryFile), 1) << "cycle " << cycle;
                EXPECT_EQ(p.checkConsistency(), "") << "cycle " << cycle;
                offeredBefore = test::projectFingerprint(p);
                EXPECT_TRUE(run.holds(*offeredBefore))
                    << "cycle " << cycle << ": the recovery lacks edits older than the delay";
            }
        }
        EXPECT_FALSE(run.savedSinceSnapshot && offeredBefore)
            << "cycle " << cycle << ": offered although saved after the last snapshot";
        edits += run.edits;
        saves += run.saves;
        offers += offeredBefore.has_value();
        heldAutosaves += run.heldAutosave && mode == "autosave";
        heldSaves += run.heldSave;
        heldSaved += run.heldSaved;
        previous = std::move(run);
    }
    std::printf("%d edits in %d runs; killed in %d autosaves, in %d saves, and in %d autosaves "
                "overtaken by a save; %d saves done, %d recoveries offered\n",
                edits, cycle, heldAutosaves, heldSaves, heldSaved, saves, offers);
    EXPECT_GE(edits, kEdits);
    EXPECT_GE(heldAutosaves, 2);
    EXPECT_GE(heldSaves, 2);
    EXPECT_GE(heldSaved, 2);
    EXPECT_GE(offers, 3);
}
