// zefedit: the editor program. Command-line tools run without a display; without one of them
// the editor's windows open.
#include "app/shell/zef_app.h"
#include "app/tools.h"
#include "model/project.h"

#include <QApplication>
#include <QTimer>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

namespace {

void printHelp(std::FILE* out = stdout)
{
    std::fprintf(
        out, "Usage: zefedit [PROJECT.zef]     open the editor (needs a display)\n"
             "       zefedit OPTION ...         a command-line tool (no display needed)\n"
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
             "               Exit status 0 on success, 1 with the message on failure.\n"
             "    --range START END  only frames START to END-1 (0: the range's first\n"
             "               frame), without sound, into an intermediate movie that starts\n"
             "               with a key frame: ranges that meet join frame for frame\n"
             "    --sound-only       only the sound of the whole range, into an intermediate\n"
             "    --relink OLD=NEW   a clip whose file is missing is looked for with its\n"
             "               path's beginning OLD replaced by NEW (repeatable)\n"
             "    --progress-file F  keeps the fraction done (in thousandths) in F\n"
             "  --render-farm PROJECT.zef --output FILE [--chunks N]\n"
             "               [--scheduler slurm|local] [--wait] [--job-folder DIR]\n"
             "               [--template NAME] [--relink OLD=NEW] [--sbatch-arg ARG] [--jobs N]\n"
             "               render in N chunks (default 4) on a Slurm cluster: writes a job\n"
             "               folder beside FILE (or in DIR) on storage every node sees,\n"
             "               submits the chunks as a job array, the sound as one job and a\n"
             "               join that depends on them, and prints the job ids; --wait\n"
             "               follows them with a progress bar and exits with their result.\n"
             "               --scheduler local runs the same jobs as processes here (N at\n"
             "               once with --jobs). A failed or cancelled job fails the render\n"
             "               and FILE is not written.\n");
}

// Whether a window system is there to open windows on.
bool haveDisplay()
{
    auto set = [](const char* name) {
        const char* v = std::getenv(name);
        return v && *v;
    };
    return set("DISPLAY") || set("WAYLAND_DISPLAY") || set("QT_QPA_PLATFORM");
}

// Milliseconds since this process started, from the kernel's record of its start.
long long millisecondsSinceStart()
{
    std::ifstream stat("/proc/self/stat"), uptime("/proc/uptime");
    std::string line;
    std::getline(stat, line);
    const size_t paren = line.rfind(')');
    if (paren == std::string::npos) return -1;
    std::istringstream fields(line.substr(paren + 2));
    std::string field;
    for (int i = 3; i <= 22 && fields >> field; ++i) {
    }
    double up = 0;
    uptime >> up;
    const double started = std::stod(field) / double(sysconf(_SC_CLK_TCK));
    return (long long)((up - started) * 1000);
}

int runEditor(int argc, char** argv)
{
    // Windows that place themselves (the decks snap and travel together) need X11; under a
    // Wayland session that also offers X11, run there.
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    const char* x11 = std::getenv("DISPLAY");
    if (wayland && *wayland && x11 && *x11 && !std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "xcb", 1);

    QApplication qtApp(argc, argv);
    QApplication::setApplicationName(QStringLiteral("ZEF Rondavo"));
    QApplication::setOrganizationName(QStringLiteral("Morvane"));
    QApplication::setApplicationVersion(QStringLiteral("0.1"));
    zef::app::CZefApp app;
    QStringList arguments = QApplication::arguments();
    arguments.removeFirst();
    if (!app.startUp(arguments)) return 1;
    // ZEF_STARTUP_REPORT=1: say how long the editor took to show, then close (benchmarks).
    if (const char* report = std::getenv("ZEF_STARTUP_REPORT"); report && *report == '1') {
        QTimer::singleShot(0, [&] {
            std::printf("zefedit: editor shown after %lld ms\n", millisecondsSinceStart());
            std::fflush(stdout);
            app.project().modified = false;
            app.mainFrame().close();
        });
    }
    const int status = QApplication::exec();
    app.exit();
    return status;
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
            zef::app::RenderToolOptions options;
            std::string error;
            if (!zef::app::parseRenderOptions({argv + i + 1, argv + argc}, options, &error)) {
                std::fprintf(stderr, "zefedit: %s; see zefedit --help\n", error.c_str());
                return 1;
            }
            return zef::app::renderTool(options);
        }
        if (a == "--render-farm") return zef::app::renderFarmTool({argv + i + 1, argv + argc});
        if (a == "--farm-join" && i + 1 < argc) return zef::app::farmJoinTool(argv[i + 1]);
        if (a == "--version") {
            std::printf("ZEF Rondavo 0.1\n");
            return 0;
        }
    }
    if (!haveDisplay()) {
        std::fprintf(stderr, "zefedit: the editor needs a display (DISPLAY or WAYLAND_DISPLAY "
                             "is not set).\nWithout one, these options work:\n");
        printHelp(stderr);
        return 1;
    }
    return runEditor(argc, argv);
}
