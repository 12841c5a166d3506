// The job folder of a farm render: a copy of the project, the plan, and one small shell script
// per job, on storage that every machine of the cluster sees.
//
//   project.zef     the project as it was when the render was submitted
//   plan            what the final job joins (see FarmPlan; plain text, one item a line)
//   chunk-K.sh      renders frames [first, end) of the render: zefedit --render ... --range
//   chunks.sh       the job array's script: runs chunk-$SLURM_ARRAY_TASK_ID.sh
//   sound.sh        renders the sound of the whole range: zefedit --render ... --sound-only
//   join.sh         joins the parts into the output: zefedit --farm-join JOBDIR
//   chunk-K.mov, sound.mov          the parts (each renamed into place when complete)
//   chunk-K.progress, sound.progress the fraction done, in thousandths
//   chunk-K.log, sound.log, join.log what each job printed
//   jobs            the Slurm job ids; join.done: written by the join when the output is whole
#pragma once

#include "app/farm/render_options.h"
#include "platform/movies/export/part_export.h"

#include <cstdint>
#include <string>
#include <vector>

namespace zef::app {

struct FarmChunk {
    int64_t first = 0; // frames of the render, [first, end)
    int64_t end = 0;
};

struct FarmPlan {
    std::string output; // absolute
    movies::PartFormat format;
    std::vector<FarmChunk> chunks;
};

// Splits frames into at most `chunks` ranges of nearly equal length that meet end to end and
// cover [0, frames) (fewer when there are fewer frames).
std::vector<FarmChunk> splitFrames(int64_t frames, int chunks);

// Quotes text for a POSIX shell (single quotes).
std::string shellQuote(const std::string& text);

// File names inside the job folder.
std::string chunkName(size_t index); // "chunk-K"
constexpr const char* kSoundName = "sound";
constexpr const char* kJoinName = "join";

// Writes the plan, the project copy and the scripts into folder (which must exist). The
// scripts run zefedit (an absolute path) from cwd (relative clip paths are found from there)
// with the template and relinks of options. Throws std::runtime_error when a file cannot be
// written or a path holds a line break.
void writeJobFolder(const std::string& folder, const FarmPlan& plan, const FarmOptions& options,
                    const std::string& zefedit, const std::string& cwd);

// Reads the plan of a job folder; throws std::runtime_error naming what is wrong.
FarmPlan readPlan(const std::string& folder);

// Makes a new job folder "<output>.farm-XXXXXX" beside the output, or inside parent when
// given. Throws std::runtime_error when it cannot.
std::string makeJobFolder(const std::string& output, const std::string& parent);

} // namespace zef::app
