// Command-line tools of zefedit that work without a display.
#pragma once

#include "app/farm/render_options.h"

#include <string>
#include <vector>

namespace zef::app {

// --probe FILE: prints what the movie toolbox sees in a file, one track a line, or why it
// cannot be opened ("not a movie", "cannot open"). Returns the exit status (0 or 1).
int probeTool(const std::string& path);

// --frame FILE SECONDS OUT.png [WIDTHxHEIGHT]: writes the picture of the first video track at
// that time of the file as a PNG, at the track's own size unless a size is given.
int frameTool(const std::string& path, const std::string& seconds, const std::string& outPath,
              const std::string& size);

// --render PROJECT.zef [--output FILE] [--template NAME] ...: renders the project's render range
// (or a part of it) to its output file (or FILE) with its output settings (or those of the
// system template NAME), showing progress on standard error. Returns the exit status (0 or 1).
int renderTool(const RenderToolOptions& options, movies::PartFormat* described = nullptr);

// --render-farm PROJECT.zef --output FILE ... (the words after --render-farm): splits the
// render into jobs for a batch scheduler (app/farm). Returns the exit status.
int renderFarmTool(const std::vector<std::string>& args);
// --farm-join JOBDIR: the last job of a farm render; joins the parts into the output.
int farmJoinTool(const std::string& jobFolder);

} // namespace zef::app
