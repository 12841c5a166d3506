#include "app/farm/farm_scheduler.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <thread>

extern char** environ;

namespace zef::app {

namespace {

std::vector<char*> argvOf(const std::vector<std::string>& argv)
{
    std::vector<char*> out;
    for (const std::string& a : argv)
        out.push_back(const_cast<char*>(a.c_str()));
    out.push_back(nullptr);
    return out;
}

bool exists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }

std::string trim(std::string s)
{
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' '))
        s.pop_back();
    return s;
}

// The last line of a log that says something, for a failure's message.
std::string lastLogLine(const std::string& path)
{
    std::ifstream in(path);
    std::string line, last;
    while (std::getline(in, line)) {
        // Progress bars redraw with carriage returns; keep the last drawing.
        const size_t cr = line.find_last_of('\r');
        if (cr != std::string::npos) line = line.substr(cr + 1);
        line = trim(line);
        if (!line.empty()) last = line;
    }
    return last;
}

// ---- Slurm ----

class SlurmScheduler final : public FarmScheduler {
public:
    SlurmScheduler(std::string folder, size_t chunks, bool sound, std::vector<std::string> args)
        : m_folder(std::move(folder)), m_chunks(chunks), m_sound(sound), m_args(std::move(args))
    {
    }

    bool submit(std::string* error) override
    {
        auto sbatch = [&](std::vector<std::string> options, const std::string& script,
                          std::string* id) {
            std::vector<std::string> argv = {"sbatch", "--parsable"};
            argv.insert(argv.end(), m_args.begin(), m_args.end());
            argv.insert(argv.end(), options.begin(), options.end());
            argv.push_back(m_folder + "/" + script);
            std::string out, err;
            const int status = runCommand(argv, &out, &err);
            *id = trim(out.substr(0, out.find_first_of(";\n")));
            if (status == 0 && !id->empty() &&
                id->find_first_not_of("0123456789") == std::string::npos)
                return true;
            if (error)
                *error = "sbatch failed" + (trim(err).empty() ? std::string() : ": " + trim(err));
            cancel();
            return false;
        };
        if (!sbatch({"--job-name=zef-chunks", "--array=0-" + std::to_string(m_chunks - 1),
                     "--output=" + m_folder + "/chunk-%a.log"},
                    "chunks.sh", &m_arrayId))
            return false;
        std::string dependency = "--dependency=afterok:" + m_arrayId;
        if (m_sound) {
            if (!sbatch({"--job-name=zef-sound", "--output=" + m_folder + "/sound.log"}, "sound.sh",
                        &m_soundId))
                return false;
            dependency += ":" + m_soundId;
        }
        if (!sbatch({"--job-name=zef-join", dependency, "--kill-on-invalid-dep=yes",
                     "--output=" + m_folder + "/join.log"},
                    "join.sh", &m_joinId))
            return false;
        std::ofstream ids(m_folder + "/jobs");
        ids << "chunks " << m_arrayId << "\n";
        if (m_sound) ids << "sound " << m_soundId << "\n";
        ids << "join " << m_joinId << "\n";
        return true;
    }

    std::string jobIds() const override
    {
        std::string s = "chunks " + m_arrayId + " (array 0-" + std::to_string(m_chunks - 1) + ")";
        if (m_sound) s += ", sound " + m_soundId;
        return s + ", join " + m_joinId;
    }

    bool poll(FarmStatus& out, std::string* error) override
    {
        std::string list = m_arrayId + "," + m_joinId;
        if (m_sound) list += "," + m_soundId;
        std::string text, err;
        const int status = runCommand(
            {"squeue", "-h", "-r", "-t", "all", "-j", list, "-o", "%i|%T|%r"}, &text, &err);
        // Jobs the controller has forgotten: squeue names none of them.
        const bool forgotten = status != 0 && err.find("Invalid job id") != std::string::npos;
        if (status != 0 && !forgotten) {
            if (error) *error = "squeue failed: " + trim(err);
            return false;
        }
        std::map<std::string, std::pair<std::string, std::string>> seen; // id → state, reason
        std::istringstream lines(text);
        std::string line;
        while (std::getline(lines, line)) {
            const size_t a = line.find('|'), b = line.find('|', a + 1);
            if (a == std::string::npos || b == std::string::npos) continue;
            seen[line.substr(0, a)] = {line.substr(a + 1, b - a - 1), trim(line.substr(b + 1))};
        }
        auto find = [&](const std::string& id) -> const std::pair<std::string, std::string>* {
            auto it = seen.find(id);
            return it == seen.end() ? nullptr : &it->second;
        };
        out.join = stateOf(find(m_joinId), m_joinId, exists(m_folder + "/join.done"));
        // Jobs never listed were cancelled before they started, once the join can no longer
        // run; until then they may still be waiting.
        const bool joinEnded =
            out.join.state == JobState::Failed || out.join.state == JobState::Cancelled ||
            (find(m_joinId) && find(m_joinId)->second == "DependencyNeverSatisfied");
        out.chunks.resize(m_chunks);
        for (size_t k = 0; k < m_chunks; ++k) {
            const std::string id = m_arrayId + "_" + std::to_string(k);
            out.chunks[k] = stateOf(find(id), id, exists(m_folder + "/" + chunkName(k) + ".mov"),
                                    joinEnded || forgotten);
        }
        if (m_sound)
            out.sound = stateOf(find(m_soundId), m_soundId,
                                exists(m_folder + "/" + std::string(kSoundName) + ".mov"),
                                joinEnded || forgotten);
        return true;
    }

    void cancel() override
    {
        std::vector<std::string> argv = {"scancel"};
        for (const std::string* id : {&m_arrayId, &m_soundId, &m_joinId})
            if (!id->empty()) argv.push_back(*id);
        if (argv.size() > 1) runCommand(argv, nullptr, nullptr);
    }

private:
    // A job's state from its squeue line (null when not listed). A job that was listed and no
    // longer is has ended: well when its result is there.
    JobStatus stateOf(const std::pair<std::string, std::string>* line, const std::string& id,
                      bool resultThere, bool unlistedEnded = false)
    {
        if (!line) {
            if (resultThere) return {JobState::Done, {}};
            if (m_listed.count(id)) return {JobState::Cancelled, "ended without a result"};
            if (unlistedEnded) return {JobState::Cancelled, "cancelled before it started"};
            return {JobState::Waiting, {}};
        }
        m_listed.insert(id);
        const std::string& s = line->first;
        if (s == "PENDING" || s == "CONFIGURING" || s == "REQUEUED" || s == "RESV_DEL_HOLD" ||
            s == "REQUEUE_HOLD" || s == "REQUEUE_FED" || s == "SUSPENDED" || s == "STOPPED")
            return {JobState::Waiting, line->second};
        if (s == "RUNNING" || s == "COMPLETING" || s == "STAGE_OUT" || s == "SIGNALING" ||
            s == "RESIZING")
            return {JobState::Running, {}};
        if (s == "COMPLETED") return {JobState::Done, {}};
        // The reason squeue gives a cancelled job is the last one it had while waiting.
        if (s == "CANCELLED") return {JobState::Cancelled, {}};
        return {JobState::Failed, s};
    }

    std::string m_folder;
    size_t m_chunks;
    bool m_sound;
    std::vector<std::string> m_args;
    std::string m_arrayId, m_soundId, m_joinId;
    std::set<std::string> m_listed;
};

// ---- Local processes ----

class LocalScheduler final : public FarmScheduler {
public:
    LocalScheduler(std::string folder, size_t chunks, bool sound, int maxProcesses)
        : m_folder(std::move(folder)), m_chunks(chunks), m_sound(sound),
          m_max(std::max(1, maxProcesses))
    {
        for (size_t k = 0; k < chunks; ++k)
            m_jobs.push_back({chunkName(k), -1, {}});
        if (sound) m_jobs.push_back({kSoundName, -1, {}});
        m_jobs.push_back({kJoinName, -1, {}});
    }
    ~LocalScheduler() override { cancel(); }

    bool submit(std::string* error) override
    {
        startWaiting();
        if (m_failedToStart.empty()) return true;
        if (error) *error = "cannot start " + m_failedToStart;
        cancel();
        return false;
    }

    std::string jobIds() const override
    {
        std::string s;
        for (const Job& j : m_jobs)
            if (j.pid > 0) s += (s.empty() ? "" : ", ") + j.name + " " + std::to_string(j.pid);
        return "processes " + s;
    }

    bool poll(FarmStatus& out, std::string*) override
    {
        for (Job& j : m_jobs) {
            if (j.status.state != JobState::Running) continue;
            int status = 0;
            if (::waitpid(j.pid, &status, WNOHANG) != j.pid) continue;
            if (WIFEXITED(status) && WEXITSTATUS(status) == 0) {
                j.status = {JobState::Done, {}};
            } else if (WIFEXITED(status)) {
                j.status = {JobState::Failed, "exit code " + std::to_string(WEXITSTATUS(status))};
            } else {
                const int sig = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
                j.status = {sig == SIGTERM || sig == SIGKILL || sig == SIGINT ? JobState::Cancelled
                                                                              : JobState::Failed,
                            std::string("killed by signal ") + std::to_string(sig) + " (" +
                                strsignal(sig) + ")"};
            }
        }
        if (!m_cancelled) startWaiting();
        out.chunks.clear();
        for (size_t k = 0; k < m_chunks; ++k)
            out.chunks.push_back(m_jobs[k].status);
        if (m_sound) out.sound = m_jobs[m_chunks].status;
        out.join = m_jobs.back().status;
        return true;
    }

    void cancel() override
    {
        m_cancelled = true;
        for (Job& j : m_jobs) {
            if (j.status.state == JobState::Waiting)
                j.status = {JobState::Cancelled, "not started"};
            if (j.status.state != JobState::Running) continue;
            ::kill(-j.pid, SIGTERM);
        }
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        for (Job& j : m_jobs) {
            if (j.status.state != JobState::Running) continue;
            int status = 0;
            while (::waitpid(j.pid, &status, WNOHANG) == 0) {
                if (std::chrono::steady_clock::now() > until) {
                    ::kill(-j.pid, SIGKILL);
                    ::waitpid(j.pid, &status, 0);
                    break;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
            j.status = {JobState::Cancelled, "cancelled"};
        }
    }

private:
    struct Job {
        std::string name;
        pid_t pid = -1;
        JobStatus status;
    };

    void startWaiting()
    {
        int running = 0;
        for (const Job& j : m_jobs) {
            // One job that ended badly ends the render: nothing more is started.
            if (j.status.state == JobState::Failed || j.status.state == JobState::Cancelled) return;
            running += j.status.state == JobState::Running;
        }
        const size_t parts = m_jobs.size() - 1;
        for (size_t i = 0; i < parts && running < m_max; ++i) {
            if (m_jobs[i].status.state != JobState::Waiting) continue;
            if (!start(m_jobs[i])) return;
            ++running;
        }
        Job& join = m_jobs.back();
        const bool partsDone = std::all_of(m_jobs.begin(), m_jobs.end() - 1, [](const Job& j) {
            return j.status.state == JobState::Done;
        });
        if (partsDone && join.status.state == JobState::Waiting) start(join);
    }

    bool start(Job& j)
    {
        const std::string script = m_folder + "/" + j.name + ".sh";
        const std::string log = m_folder + "/" + j.name + ".log";
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
        posix_spawnattr_t attr;
        posix_spawnattr_init(&attr);
        // A session of its own, so that cancelling ends the script and what it started.
        posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID);
        const std::vector<std::string> argv = {"/bin/sh", script};
        auto args = argvOf(argv);
        pid_t pid = -1;
        const int r = ::posix_spawn(&pid, "/bin/sh", &actions, &attr, args.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attr);
        if (r != 0) {
            j.status = {JobState::Failed, std::string("cannot start: ") + std::strerror(r)};
            m_failedToStart = j.name;
            return false;
        }
        j.pid = pid;
        j.status = {JobState::Running, {}};
        return true;
    }

    std::string m_folder;
    size_t m_chunks;
    bool m_sound;
    int m_max;
    bool m_cancelled = false;
    std::vector<Job> m_jobs;
    std::string m_failedToStart;
};

// The fraction (0 .. 1) a job wrote into its progress file.
double progressOf(const std::string& path)
{
    std::ifstream in(path);
    int permille = 0;
    if (!(in >> permille)) return 0.0;
    return std::clamp(permille / 1000.0, 0.0, 1.0);
}

bool ended(const JobStatus& s)
{
    return s.state == JobState::Failed || s.state == JobState::Cancelled;
}

std::string endedText(const JobStatus& s)
{
    std::string t = s.state == JobState::Cancelled ? "was cancelled" : "failed";
    if (!s.detail.empty()) t += " (" + s.detail + ")";
    return t;
}

} // namespace

std::unique_ptr<FarmScheduler> makeSlurmScheduler(const std::string& folder, size_t chunks,
                                                  bool sound, std::vector<std::string> sbatchArgs)
{
    return std::make_unique<SlurmScheduler>(folder, chunks, sound, std::move(sbatchArgs));
}

std::unique_ptr<FarmScheduler> makeLocalScheduler(const std::string& folder, size_t chunks,
                                                  bool sound, int maxProcesses)
{
    return std::make_unique<LocalScheduler>(folder, chunks, sound, maxProcesses);
}

int runCommand(const std::vector<std::string>& argv, std::string* output, std::string* errors)
{
    int outPipe[2], errPipe[2];
    if (::pipe2(outPipe, O_CLOEXEC) != 0) return -1;
    if (::pipe2(errPipe, O_CLOEXEC) != 0) {
        ::close(outPipe[0]);
        ::close(outPipe[1]);
        return -1;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
    posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);
    auto args = argvOf(argv);
    pid_t pid = -1;
    const int r = ::posix_spawnp(&pid, argv[0].c_str(), &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(outPipe[1]);
    ::close(errPipe[1]);
    std::string out, err;
    if (r == 0) {
        pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
        int open = 2;
        char buffer[4096];
        while (open > 0) {
            if (::poll(fds, 2, -1) < 0) {
                if (errno == EINTR) continue;
                break;
            }
            for (int i = 0; i < 2; ++i) {
                if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
                const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
                if (n > 0) {
                    (i == 0 ? out : err).append(buffer, size_t(n));
                } else if (n == 0 || errno != EINTR) {
                    fds[i].fd = -1;
                    --open;
                }
            }
        }
    } else {
        err = std::string("cannot run ") + argv[0] + ": " + std::strerror(r);
    }
    ::close(outPipe[0]);
    ::close(errPipe[0]);
    if (output) *output = out;
    if (errors) *errors = err;
    if (r != 0) return -1;
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

FollowResult followFarm(FarmScheduler& scheduler, const FarmPlan& plan, const std::string& folder,
                        const std::function<bool()>& interrupted, int pollMs, bool showProgress)
{
    const bool tty = ::isatty(STDERR_FILENO) != 0;
    int lastShown = -1;
    int failedPolls = 0;
    const size_t n = plan.chunks.size();
    auto chunkText = [&](size_t k) {
        return "chunk " + std::to_string(k + 1) + " of " + std::to_string(n) + " (frames " +
               std::to_string(plan.chunks[k].first) + " to " +
               std::to_string(plan.chunks[k].end - 1) + ")";
    };
    auto logOf = [&](const std::string& name) {
        const std::string line = lastLogLine(folder + "/" + name + ".log");
        return line.empty() ? std::string() : ": " + line;
    };
    auto endLine = [&] {
        if (showProgress && tty && lastShown >= 0) std::fprintf(stderr, "\n");
    };
    for (;;) {
        if (interrupted && interrupted()) {
            scheduler.cancel();
            endLine();
            return {false, "render aborted; its jobs were cancelled"};
        }
        FarmStatus status;
        std::string error;
        if (!scheduler.poll(status, &error)) {
            // The scheduler may be busy for a moment; a minute of failures ends the wait.
            if (++failedPolls * pollMs > 60000) {
                endLine();
                return {false, error + " (the jobs were left as they are)"};
            }
        } else {
            failedPolls = 0;
            std::string failure;
            for (size_t k = 0; k < status.chunks.size() && failure.empty(); ++k)
                if (ended(status.chunks[k]))
                    failure =
                        chunkText(k) + " " + endedText(status.chunks[k]) + logOf(chunkName(k));
            if (failure.empty() && status.sound && ended(*status.sound))
                failure = "the sound job " + endedText(*status.sound) + logOf(kSoundName);
            if (failure.empty() && ended(status.join))
                failure = "the join job " + endedText(status.join) + logOf(kJoinName);
            if (!failure.empty()) {
                scheduler.cancel();
                endLine();
                return {false, failure};
            }
            if (status.join.state == JobState::Done) {
                if (showProgress && tty)
                    std::fprintf(stderr, "\r\033[K[%s] 100 %% done\n",
                                 std::string(30, '#').c_str());
                return {true, {}};
            }
            if (showProgress) {
                double done = 0;
                size_t chunksDone = 0;
                for (size_t k = 0; k < n && k < status.chunks.size(); ++k) {
                    const bool finished = status.chunks[k].state == JobState::Done;
                    chunksDone += finished;
                    const double f =
                        finished ? 1.0 : progressOf(folder + "/" + chunkName(k) + ".progress");
                    done += f * double(plan.chunks[k].end - plan.chunks[k].first);
                }
                const double fraction =
                    plan.format.frames > 0 ? done / double(plan.format.frames) : 0;
                const int percent = int(fraction * 100.0);
                std::string text =
                    std::to_string(chunksDone) + " of " + std::to_string(n) + " chunks done";
                const bool soundDone = !status.sound || status.sound->state == JobState::Done;
                if (status.sound && soundDone) text += ", sound done";
                if (soundDone && chunksDone == n) text += ", joining";
                if (tty) {
                    const int filled = int(fraction * 30 + 0.5);
                    std::fprintf(stderr, "\r\033[K[%s%s] %d %% done: %s",
                                 std::string(size_t(filled), '#').c_str(),
                                 std::string(size_t(30 - filled), '-').c_str(), percent,
                                 text.c_str());
                    lastShown = percent;
                } else if (percent / 10 != lastShown / 10) {
                    std::fprintf(stderr, "%d %% done: %s\n", percent, text.c_str());
                    lastShown = percent;
                }
                std::fflush(stderr);
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(pollMs));
    }
}

} // namespace zef::app
