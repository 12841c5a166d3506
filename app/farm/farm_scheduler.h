// Running the jobs of a job folder (farm_jobs.h): through Slurm, or as processes here.
//
// Slurm: the chunks are one job array (sbatch --array), the sound one job, and the join one job
// that depends on both (--dependency=afterok, --kill-on-invalid-dep=yes, so that a failed or
// cancelled chunk also ends the join). The states come from squeue (-t all shows finished jobs
// while the controller keeps them). The job ids are written to <folder>/jobs.
//
// Local: the same scripts run as processes of their own session, at most maxProcesses at once,
// the join after every chunk and the sound ended well. Cancelling ends the running ones (their
// whole process group) and starts no other.
//
// Not thread-safe; one thread drives a scheduler.
#pragma once

#include "app/farm/farm_jobs.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace zef::app {

enum class JobState { Waiting, Running, Done, Failed, Cancelled };

struct JobStatus {
    JobState state = JobState::Waiting;
    std::string detail; // the scheduler's words for an ended job ("TIMEOUT", "exit code 1")
};

struct FarmStatus {
    std::vector<JobStatus> chunks;
    std::optional<JobStatus> sound;
    JobStatus join;
};

class FarmScheduler {
public:
    virtual ~FarmScheduler() = default;
    // Submits (or starts) every job; false with *error, after cancelling what was submitted.
    virtual bool submit(std::string* error) = 0;
    // The jobs as the user names them ("chunks 41 (array 0-3), sound 42, join 43").
    virtual std::string jobIds() const = 0;
    // The state of every job now. False with *error when the scheduler cannot be asked.
    virtual bool poll(FarmStatus& out, std::string* error) = 0;
    // Cancels every job that has not ended.
    virtual void cancel() = 0;
};

std::unique_ptr<FarmScheduler> makeSlurmScheduler(const std::string& folder, size_t chunks,
                                                  bool sound, std::vector<std::string> sbatchArgs);
std::unique_ptr<FarmScheduler> makeLocalScheduler(const std::string& folder, size_t chunks,
                                                  bool sound, int maxProcesses);

// Runs argv (no shell), standard input from /dev/null; *output gets standard output, *errors
// standard error. Returns the exit status, or -1 when it could not run or was killed.
int runCommand(const std::vector<std::string>& argv, std::string* output, std::string* errors);

struct FollowResult {
    bool ok = false;
    std::string message; // why it failed
};

// Follows the jobs until the join has ended or a job failed, showing progress on standard
// error (read from the folder's progress files) when showProgress. A failed or cancelled
// job, or interrupted() answering true, cancels every other job. pollMs: time between looks.
FollowResult followFarm(FarmScheduler& scheduler, const FarmPlan& plan, const std::string& folder,
                        const std::function<bool()>& interrupted, int pollMs,
                        bool showProgress = true);

} // namespace zef::app
