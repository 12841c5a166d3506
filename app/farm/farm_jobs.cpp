#include "app/farm/farm_jobs.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace zef::app {

namespace fs = std::filesystem;

namespace {

void checkLine(const std::string& text)
{
    if (text.find('\n') != std::string::npos || text.find('\r') != std::string::npos)
        throw std::runtime_error("a path or name holds a line break: " + text);
}

void writeFile(const std::string& path, const std::string& text, bool executable)
{
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out << text;
        out.flush();
        if (!out) throw std::runtime_error("cannot write " + path);
    }
    if (executable) ::chmod(path.c_str(), 0755);
}

std::string script(const std::string& comment, const std::string& cwd,
                   const std::vector<std::string>& command)
{
    std::string s = "#!/bin/sh\n# " + comment + "\ncd " + shellQuote(cwd) + " || exit 1\nexec";
    for (const std::string& word : command)
        s += " " + shellQuote(word);
    return s + "\n";
}

} // namespace

std::vector<FarmChunk> splitFrames(int64_t frames, int chunks)
{
    std::vector<FarmChunk> out;
    if (frames <= 0 || chunks <= 0) return out;
    const int64_t n = std::min<int64_t>(chunks, frames);
    for (int64_t k = 0; k < n; ++k)
        out.push_back({k * frames / n, (k + 1) * frames / n});
    return out;
}

std::string shellQuote(const std::string& text)
{
    std::string out = "'";
    for (char c : text) {
        if (c == '\'') {
            out += "'\\''";
        } else {
            out += c;
        }
    }
    return out + "'";
}

std::string chunkName(size_t index) { return "chunk-" + std::to_string(index); }

void writeJobFolder(const std::string& folder, const FarmPlan& plan, const FarmOptions& options,
                    const std::string& zefedit, const std::string& cwd)
{
    for (const std::string& s : {folder, plan.output, zefedit, cwd, options.templateName})
        checkLine(s);
    for (const auto& [from, to] : options.relinks) {
        checkLine(from);
        checkLine(to);
    }
    const std::string project = folder + "/project.zef";
    std::error_code ec;
    fs::copy_file(options.project, project, fs::copy_options::overwrite_existing, ec);
    if (ec) throw std::runtime_error("cannot copy the project to " + project + ": " + ec.message());

    std::ostringstream p;
    p << "zef-farm 1\n";
    p << "output " << plan.output << "\n";
    p << "type " << plan.format.typeString << "\n";
    p << "muxer " << plan.format.muxer << "\n";
    for (const auto& [k, v] : plan.format.muxerOptions)
        p << "option " << k << " " << v << "\n";
    p << "rate " << plan.format.rate.num << " " << plan.format.rate.den << "\n";
    p << "frames " << plan.format.frames << "\n";
    p << "sound " << (plan.format.hasSound ? 1 : 0) << "\n";
    for (const FarmChunk& c : plan.chunks)
        p << "chunk " << c.first << " " << c.end << "\n";
    writeFile(folder + "/plan", p.str(), false);

    auto renderCommand = [&](const std::string& name) {
        std::vector<std::string> c = {zefedit, "--render", project};
        if (!options.templateName.empty()) c.insert(c.end(), {"--template", options.templateName});
        for (const auto& [from, to] : options.relinks)
            c.insert(c.end(), {"--relink", from + "=" + to});
        c.insert(c.end(), {"--output", folder + "/" + name + ".mov", "--progress-file",
                           folder + "/" + name + ".progress"});
        return c;
    };
    const size_t n = plan.chunks.size();
    for (size_t k = 0; k < n; ++k) {
        std::vector<std::string> c = renderCommand(chunkName(k));
        c.insert(c.end(), {"--range", std::to_string(plan.chunks[k].first),
                           std::to_string(plan.chunks[k].end)});
        writeFile(folder + "/" + chunkName(k) + ".sh",
                  script("Render farm job: chunk " + std::to_string(k + 1) + " of " +
                             std::to_string(n) + ", frames " +
                             std::to_string(plan.chunks[k].first) + " to " +
                             std::to_string(plan.chunks[k].end - 1) + " of the render.",
                         cwd, c),
                  true);
    }
    writeFile(folder + "/chunks.sh",
              "#!/bin/sh\n# Render farm job array: task K runs chunk-K.sh.\nexec /bin/sh " +
                  shellQuote(folder) + "/chunk-\"$SLURM_ARRAY_TASK_ID\".sh\n",
              true);
    if (plan.format.hasSound) {
        std::vector<std::string> c = renderCommand(kSoundName);
        c.push_back("--sound-only");
        writeFile(folder + "/sound.sh",
                  script("Render farm job: the sound of the whole render range.", cwd, c), true);
    }
    writeFile(folder + "/join.sh",
              script("Render farm job: joins the chunks and the sound into " + plan.output + ".",
                     cwd, {zefedit, "--farm-join", folder}),
              true);
}

FarmPlan readPlan(const std::string& folder)
{
    std::ifstream in(folder + "/plan");
    if (!in) throw std::runtime_error("no plan in " + folder);
    FarmPlan plan;
    std::string line;
    std::getline(in, line);
    if (line != "zef-farm 1") throw std::runtime_error(folder + "/plan is not a farm plan");
    bool haveFrames = false;
    while (std::getline(in, line)) {
        const size_t sp = line.find(' ');
        const std::string key = line.substr(0, sp);
        const std::string value = sp == std::string::npos ? "" : line.substr(sp + 1);
        std::istringstream v(value);
        if (key == "output") {
            plan.output = value;
        } else if (key == "type") {
            plan.format.typeString = value;
        } else if (key == "muxer") {
            plan.format.muxer = value;
        } else if (key == "option") {
            const size_t s = value.find(' ');
            if (s == std::string::npos) throw std::runtime_error("bad plan line: " + line);
            plan.format.muxerOptions[value.substr(0, s)] = value.substr(s + 1);
        } else if (key == "rate") {
            v >> plan.format.rate.num >> plan.format.rate.den;
        } else if (key == "frames") {
            haveFrames = bool(v >> plan.format.frames);
        } else if (key == "sound") {
            int s = 0;
            v >> s;
            plan.format.hasSound = s != 0;
        } else if (key == "chunk") {
            FarmChunk c;
            if (!(v >> c.first >> c.end)) throw std::runtime_error("bad plan line: " + line);
            plan.chunks.push_back(c);
        }
    }
    // The chunks must meet end to end and cover the render.
    int64_t next = 0;
    for (const FarmChunk& c : plan.chunks) {
        if (c.first != next || c.end <= c.first)
            throw std::runtime_error(folder + "/plan: chunks do not meet end to end");
        next = c.end;
    }
    if (plan.output.empty() || plan.format.muxer.empty() || !plan.format.rate.valid() ||
        !haveFrames || plan.chunks.empty() || next != plan.format.frames)
        throw std::runtime_error(folder + "/plan is incomplete");
    return plan;
}

std::string makeJobFolder(const std::string& output, const std::string& parent)
{
    const fs::path out(output);
    const fs::path dir = parent.empty() ? out.parent_path() : fs::path(parent);
    std::error_code ec;
    fs::create_directories(dir, ec);
    std::string pattern = (dir / (out.filename().string() + ".farm-XXXXXX")).string();
    if (!::mkdtemp(pattern.data()))
        throw std::runtime_error("cannot make a job folder in " + dir.string());
    // Readable by the cluster's nodes, which may run the jobs as another user of this one.
    ::chmod(pattern.c_str(), 0755);
    return pattern;
}

} // namespace zef::app
