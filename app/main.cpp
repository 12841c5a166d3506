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
        "               write the picture of FILE at SECONDS as a PNG file\n");
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
        if (a == "--version") {
            std::printf("ZEF Rondavo 0.1\n");
            return 0;
        }
    }
    std::fprintf(stderr, "zefedit: the editor window is not built yet; see zefedit --help\n");
    return 1;
}
