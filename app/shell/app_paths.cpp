#include "app/shell/app_paths.h"

#include <cstdlib>
#include <filesystem>

namespace zef::app {

namespace fs = std::filesystem;

namespace {

std::vector<std::string> folders(const char* variable, std::initializer_list<fs::path> beside)
{
    std::vector<std::string> out;
    if (const char* env = std::getenv(variable); env && *env) out.emplace_back(env);
    const fs::path program = programFolder();
    if (!program.empty())
        for (const fs::path& rel : beside)
            out.push_back((program.parent_path() / rel).string());
    return out;
}

} // namespace

std::string programFolder()
{
    std::error_code ec;
    const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    return ec ? std::string() : exe.parent_path().string();
}

std::vector<std::string> dataFolders()
{
    return folders("ZEF_DATA_DIR", {"data", fs::path("share") / "zef-rondavo"});
}

std::vector<std::string> pluginFolders()
{
    return folders("ZEF_PLUGIN_DIR", {"plugins", fs::path("lib") / "zef-rondavo" / "plugins"});
}

std::string findDataFile(const std::string& relative)
{
    std::error_code ec;
    for (const std::string& dir : dataFolders()) {
        const fs::path p = fs::path(dir) / relative;
        if (fs::is_regular_file(p, ec)) return p.string();
    }
    return {};
}

} // namespace zef::app
