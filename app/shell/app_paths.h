// Where the program finds its own files: the data folder (templates "System" and "Import", the
// user guide) and the plug-in folders, both in a build tree (beside bin/) and in an install
// (share/zef-rondavo, lib/zef-rondavo/plugins). $ZEF_DATA_DIR and $ZEF_PLUGIN_DIR come first.
#pragma once

#include <string>
#include <vector>

namespace zef::app {

// The folder of the running program.
std::string programFolder();
std::vector<std::string> dataFolders();
std::vector<std::string> pluginFolders();
// The first data folder holding the file (a relative path), or empty.
std::string findDataFile(const std::string& relative);

} // namespace zef::app
