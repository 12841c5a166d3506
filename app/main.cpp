// zefedit: the editor program. Command-line tools run without a display.
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
        "  --version    show the version and exit\n");
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
        if (a == "--version") {
            std::printf("ZEF Rondavo 0.1\n");
            return 0;
        }
    }
    std::fprintf(stderr, "zefedit: the editor window is not built yet; see zefedit --help\n");
    return 1;
}
