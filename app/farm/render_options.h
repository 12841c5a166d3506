// The command lines of the headless render and of the render farm:
//
//   zefedit --render PROJECT.zef [--output FILE] [--template NAME] [--range START END]
//           [--sound-only] [--relink OLD=NEW]... [--progress-file FILE]
//   zefedit --render-farm PROJECT.zef --output FILE [--chunks N] [--scheduler slurm|local]
//           [--wait] [--job-folder DIR] [--template NAME] [--relink OLD=NEW]...
//           [--sbatch-arg ARG]... [--jobs N]
#pragma once

#include "engine/render_parts.h"

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace zef::app {

using Relink = std::pair<std::string, std::string>;

// What --render does.
struct RenderToolOptions {
    std::string project;
    std::string output;       // replaces the project's output file
    std::string templateName; // the system template whose output settings apply
    // A part of the render (--range START END, --sound-only) into an intermediate movie; a
    // Describe part only fills in the render's format (the render farm's planning).
    std::optional<RenderPart> part;
    // --relink OLD=NEW: clip folders that moved, tried as the missing-file flow's remembered
    // substitutions when a clip's file is not where the project says.
    std::vector<Relink> relinks;
    std::string progressFile; // --progress-file: the done fraction, rewritten as it grows
};

enum class SchedulerKind { Slurm, Local };

// What --render-farm does.
struct FarmOptions {
    std::string project;
    std::string output;
    std::string templateName;
    int chunks = 4;
    SchedulerKind scheduler = SchedulerKind::Slurm;
    bool wait = false;     // follow the jobs to their end (always so for local)
    std::string jobFolder; // where the jobs live; empty: beside the output
    std::vector<Relink> relinks;
    std::vector<std::string> sbatchArgs; // passed to every sbatch call
    int localJobs = 0;                   // local processes at once; 0: one per core
};

constexpr int kMaxChunks = 1000;

// "OLD=NEW" with both sides non-empty.
bool parseRelink(const std::string& text, Relink& out);

// The words after "--render" (the project first). False with *error for a bad command line:
// an unknown option, a missing or bad value, --range with START >= END or a negative START,
// --range together with --sound-only.
bool parseRenderOptions(const std::vector<std::string>& words, RenderToolOptions& out,
                        std::string* error);

// The words after "--render-farm" (the project first). False with *error for a bad command
// line; --output is required and --chunks must be 1 .. kMaxChunks.
bool parseFarmOptions(const std::vector<std::string>& words, FarmOptions& out, std::string* error);

} // namespace zef::app
