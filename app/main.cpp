// zefedit: the editor program. Command-line tools run without a display.
#include "app/tools.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace {

void printHelp()
{
    std::printf(
        "Usage: zefedit [OPTION] [PROJECT.zef]\n"
        "ZEF Rondavo, a non-linear video editor.\n"
        "\n"
        "Options:\n"
        "  --help       show this text and exit\n"
        "  --version    show the version and exit\n"
        "  --probe FILE show what the movie toolbox sees in a media file, one track a line\n"
        "  --frame FILE SECONDS OUT.png [WIDTHxHEIGHT]\n"
        "               write the picture of FILE at SECONDS as a PNG file\n"
        "  --render PROJECT.zef [--output FILE] [--template NAME]\n"
        "               render the project's render range without a display, through its\n"
        "               output settings (or those of the system template NAME) to its output\n"
        "               file (or FILE; a relative path is taken from the current directory).\n"
        "               Progress is shown on standard error; Ctrl+C aborts. A project whose\n"
        "               clips cannot be found is not rendered: the missing paths are listed.\n"
        "               Exit status 0 on success, 1 with the message on failure.\n");
}

} // namespace

int main(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            printHelp();
            return 0;
        }
        if (a == "--probe") {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "zefedit: --probe needs a file; see zefedit --help\n");
                return 1;
            }
            return zef::app::probeTool(argv[i + 1]);
        }
        if (a == "--frame") {
            if (i + 3 >= argc) {
                std::fprintf(stderr,
                             "zefedit: --frame needs FILE SECONDS OUT.png; see zefedit --help\n");
                return 1;
            }
            return zef::app::frameTool(argv[i + 1], argv[i + 2], argv[i + 3],
                                       i + 4 < argc ? argv[i + 4] : "");
        }
        if (a == "--render") {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "zefedit: --render needs a project; see zefedit --help\n");
                return 1;
            }
            std::string project = argv[i + 1], output, templateName;
            for (int j = i + 2; j < argc; ++j) {
                const std::string o = argv[j];
                if ((o == "--output" || o == "--template") && j + 1 < argc) {
                    (o == "--output" ? output : templateName) = argv[++j];
                } else {
                    std::fprintf(stderr, "zefedit: unexpected %s; see zefedit --help\n", o.c_str());
                    return 1;
                }
            }
            return zef::app::renderTool(project, output, templateName);
        }
        if (a == "--version") {
            std::printf("ZEF Rondavo 0.1\n");
            return 0;
        }
    }
    std::fprintf(stderr, "zefedit: the editor window is not built yet; see zefedit --help\n");
    return 1;
}
