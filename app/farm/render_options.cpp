#include "app/farm/render_options.h"

#include <charconv>

namespace zef::app {

namespace {

template <typename T> bool parseNumber(const std::string& text, T& out)
{
    const char* end = text.data() + text.size();
    auto [p, ec] = std::from_chars(text.data(), end, out);
    return ec == std::errc() && p == end && !text.empty();
}

} // namespace

bool parseRelink(const std::string& text, Relink& out)
{
    const size_t eq = text.find('=');
    if (eq == 0 || eq == std::string::npos || eq + 1 == text.size()) return false;
    out = {text.substr(0, eq), text.substr(eq + 1)};
    return true;
}

bool parseRenderOptions(const std::vector<std::string>& words, RenderToolOptions& out,
                        std::string* error)
{
    auto bad = [&](const std::string& why) {
        if (error) *error = why;
        return false;
    };
    if (words.empty() || words[0].rfind("--", 0) == 0) return bad("--render needs a project");
    out.project = words[0];
    bool soundOnly = false;
    for (size_t i = 1; i < words.size(); ++i) {
        const std::string& o = words[i];
        const bool hasValue = i + 1 < words.size();
        if ((o == "--output" || o == "--template" || o == "--progress-file") && hasValue) {
            (o == "--output"     ? out.output
             : o == "--template" ? out.templateName
                                 : out.progressFile) = words[++i];
        } else if (o == "--relink" && hasValue) {
            Relink r;
            if (!parseRelink(words[++i], r)) return bad("--relink needs OLD=NEW");
            out.relinks.push_back(r);
        } else if (o == "--range" && i + 2 < words.size()) {
            RenderPart part;
            part.kind = RenderPart::Kind::Pictures;
            if (!parseNumber(words[i + 1], part.first) || !parseNumber(words[i + 2], part.end) ||
                part.first < 0 || part.end <= part.first)
                return bad("--range needs frames START END with 0 <= START < END");
            out.part = part;
            i += 2;
        } else if (o == "--sound-only") {
            soundOnly = true;
        } else {
            return bad("unexpected " + o);
        }
    }
    if (soundOnly) {
        if (out.part) return bad("--range and --sound-only exclude each other");
        out.part = RenderPart{RenderPart::Kind::Sound, 0, 0};
    }
    return true;
}

bool parseFarmOptions(const std::vector<std::string>& words, FarmOptions& out, std::string* error)
{
    auto bad = [&](const std::string& why) {
        if (error) *error = why;
        return false;
    };
    if (words.empty() || words[0].rfind("--", 0) == 0) return bad("--render-farm needs a project");
    out.project = words[0];
    for (size_t i = 1; i < words.size(); ++i) {
        const std::string& o = words[i];
        const bool hasValue = i + 1 < words.size();
        if ((o == "--output" || o == "--template" || o == "--job-folder") && hasValue) {
            (o == "--output"     ? out.output
             : o == "--template" ? out.templateName
                                 : out.jobFolder) = words[++i];
        } else if (o == "--chunks" && hasValue) {
            if (!parseNumber(words[++i], out.chunks) || out.chunks < 1 || out.chunks > kMaxChunks)
                return bad("--chunks needs a number from 1 to " + std::to_string(kMaxChunks));
        } else if (o == "--jobs" && hasValue) {
            if (!parseNumber(words[++i], out.localJobs) || out.localJobs < 1)
                return bad("--jobs needs a number of at least 1");
        } else if (o == "--scheduler" && hasValue) {
            const std::string& s = words[++i];
            if (s == "slurm") {
                out.scheduler = SchedulerKind::Slurm;
            } else if (s == "local") {
                out.scheduler = SchedulerKind::Local;
            } else {
                return bad("--scheduler is slurm or local");
            }
        } else if (o == "--relink" && hasValue) {
            Relink r;
            if (!parseRelink(words[++i], r)) return bad("--relink needs OLD=NEW");
            out.relinks.push_back(r);
        } else if (o == "--sbatch-arg" && hasValue) {
            out.sbatchArgs.push_back(words[++i]);
        } else if (o == "--wait") {
            out.wait = true;
        } else {
            return bad("unexpected " + o);
        }
    }
    if (out.output.empty()) return bad("--render-farm needs --output FILE");
    return true;
}

} // namespace zef::app
