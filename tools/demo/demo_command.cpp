#include "tools/demo/demo_command.h"

#include <cctype>

namespace zef::demo {

namespace {

// Digits only, at most 5 of them, as a number.
bool parseDimension(const std::string& s, int32_t& out)
{
    if (s.empty() || s.size() > 5) return false;
    int32_t v = 0;
    for (char c : s) {
        if (!std::isdigit(static_cast<unsigned char>(c))) return false;
        v = v * 10 + (c - '0');
    }
    out = v;
    return true;
}

bool endsWithZef(const std::string& s)
{
    if (s.size() < 5) return false;
    std::string ext = s.substr(s.size() - 4);
    for (char& c : ext)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return ext == ".zef";
}

} // namespace

bool parseSize(const std::string& text, int32_t& width, int32_t& height)
{
    const size_t x = text.find('x');
    if (x == std::string::npos) return false;
    int32_t w = 0, h = 0;
    if (!parseDimension(text.substr(0, x), w) || !parseDimension(text.substr(x + 1), h))
        return false;
    width = w;
    height = h;
    return true;
}

bool parseDemoCommand(const std::vector<std::string>& args, DemoCommand& out, std::string* error)
{
    auto fail = [&](const std::string& why) {
        if (error) *error = why;
        return false;
    };
    DemoCommand cmd;
    bool sinkGiven = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--size" || a == "--media") {
            if (i + 1 >= args.size()) return fail(a + " needs a value");
            const std::string& v = args[++i];
            if (a == "--media") {
                if (v.empty()) return fail("--media needs a folder");
                cmd.mediaDir = v;
            } else if (!parseSize(v, cmd.options.width, cmd.options.height) ||
                       cmd.options.width < 16 || cmd.options.height < 16 ||
                       cmd.options.width > 4096 || cmd.options.height > 4096 ||
                       cmd.options.width % 2 != 0 || cmd.options.height % 2 != 0) {
                return fail("bad size '" + v + "': WxH, even, 16 to 4096");
            }
        } else if (a == "--dv-tape" || a == "--dv-sink") {
            if (i + 1 >= args.size()) return fail(a + " needs a value");
            const std::string& v = args[++i];
            if (a == "--dv-tape" && v != "PAL" && v != "NTSC")
                return fail("--dv-tape is PAL or NTSC");
            if (a == "--dv-sink" && v.empty()) return fail("--dv-sink needs a path");
            (a == "--dv-tape" ? cmd.options.dvTape : cmd.options.dvSink) = v;
            sinkGiven = sinkGiven || a == "--dv-sink";
        } else if (a == "--reference") {
            cmd.options.reference = true;
        } else if (a.size() > 1 && a[0] == '-') {
            return fail("unknown option " + a);
        } else {
            if (!cmd.output.empty()) return fail("one project file only");
            if (!endsWithZef(a)) return fail(a + " does not end in .zef");
            cmd.output = a;
        }
    }
    if (cmd.output.empty()) return fail("no project file given");
    if (sinkGiven && cmd.options.dvTape.empty()) return fail("--dv-sink needs --dv-tape");
    out = cmd;
    return true;
}

} // namespace zef::demo
