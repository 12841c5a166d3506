// zef_crash_driver: the real editor (CZefApp with its main window and decks, offscreen) making
// random edits through the Clip Deck's commands and the undo buttons, for the test that kills
// it with SIGKILL and starts it again. It answers the recovery question with Recover and
// every other message box with its default button.
//
// Every line it prints is one event; <ns> is CLOCK_MONOTONIC in nanoseconds (the same clock
// in every process), <fp> the project's fingerprint:
//   ready <ns> <fp> offered=<0|1> consistent=<0|1> modified=<0|1> title=<window title>
//   edit <n> <ns> <fp>             an edit changed the project
//   snapshot <generation> <ns> <fp> the autosave took a snapshot (project's thread)
//   written <generation> <ns>       its part file is complete (worker)
//   committed <generation> <ns>     it is the recovery file (worker)
//   save <ns> <fp> / saved <ns> <result>
//   hold <what> <ns>                the driver stops there and waits to be killed
//
// Usage: zef_crash_driver --state DIR --settings INI --user DIR --project FILE.ZEF --seed N
//        --edits N [--hold none|autosave|save|saved] [--save-chance PERCENT] MEDIA...
// --hold autosave: the worker stops between writing a snapshot and renaming it into place;
// save: a save stops before it replaces the project's file; saved: the worker stops as for
// autosave and the project is saved meanwhile.
#include "app/clipdeck/clip_deck.h"
#include "app/recovery/autosaver.h"
#include "app/shell/recovery_session.h"
#include "app/shell/zef_app.h"
#include "model/device.h"
#include "model/project.h"
#include "tests/crashdriver/project_fingerprint.h"
#include "ui/preview/preview_panel.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFile>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <time.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <thread>
#include <vector>

using namespace zef;

namespace {

long long monotonicNs()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (long long)ts.tv_sec * 1000000000LL + ts.tv_nsec;
}

// One line in one write, so that lines of the two threads never mix.
void say(const char* format, ...) __attribute__((format(printf, 1, 2)));
void say(const char* format, ...)
{
    char line[512];
    va_list args;
    va_start(args, format);
    int n = std::vsnprintf(line, sizeof line - 1, format, args);
    va_end(args);
    n = std::min<int>(n, int(sizeof line) - 2);
    line[n++] = '\n';
    [[maybe_unused]] ssize_t w = ::write(1, line, size_t(n));
}

void holdUntilKilled(const char* what)
{
    say("hold %s %lld", what, monotonicNs());
    std::this_thread::sleep_for(std::chrono::seconds(20));
    say("not killed");
    std::_Exit(3);
}

struct Options {
    QString state, settings, user, project;
    unsigned seed = 1;
    int edits = 20;
    std::string hold = "none";
    int saveChance = 4;
    std::vector<std::string> media;
};

// Holds the save that is about to replace the project's file.
struct SaveHolder : ProjectObserver {
    bool armed = false;
    void beforeFileReplaced(const std::string&) override
    {
        if (armed) holdUntilKilled("save");
    }
};

class Driver {
public:
    Driver(app::CZefApp& app, const Options& o) : m_app(app), m_o(o), m_rng(o.seed) {}

    void start()
    {
        FProject& p = m_app.project();
        p.addObserver(&m_saveHolder);
        if (recovery::Autosaver* a = m_app.recovery()->autosaver()) {
            const int64_t holdAt = m_o.hold == "autosave" || m_o.hold == "saved" ? 1 + pick(3) : -1;
            a->setStageHook([this, holdAt](recovery::Autosaver::Stage stage, int64_t gen) {
                using S = recovery::Autosaver::Stage;
                if (stage == S::Snapshot)
                    say("snapshot %lld %lld %s", (long long)gen, monotonicNs(),
                        test::projectFingerprint(m_app.project()).c_str());
                else if (stage == S::Written) {
                    say("written %lld %lld", (long long)gen, monotonicNs());
                    if (holdAt <= 0 || gen < holdAt) return;
                    if (m_o.hold == "saved")
                        QMetaObject::invokeMethod(qApp, [this] { saveThenHold(); });
                    holdUntilKilled("autosave");
                } else if (stage == S::Committed)
                    say("committed %lld %lld", (long long)gen, monotonicNs());
            });
        }
        m_saveAt = m_o.hold == "save" ? 2 + pick(std::max(1, m_o.edits / 2)) : -1;
        next();
    }

private:
    // The worker holds a written snapshot; the project is saved meanwhile, and the kill comes
    // before the worker gets on.
    void saveThenHold()
    {
        save();
        holdUntilKilled("saved");
    }

    void save()
    {
        FProject& p = m_app.project();
        say("save %lld %s", monotonicNs(), test::projectFingerprint(p).c_str());
        m_app.saveProject();
        say("saved %lld %d", monotonicNs(), p.modified ? 0 : 1);
    }

    int pick(int n) { return n <= 0 ? 0 : int(m_rng() % unsigned(n)); }

    void next()
    {
        if (m_done >= m_o.edits) return;
        QTimer::singleShot(5 + pick(50), [this] {
            step();
            next();
        });
    }

    void step()
    {
        FProject& p = m_app.project();
        app::FMainControl& ctl = m_app.mainFrame().clipControl();
        const std::string before = test::projectFingerprint(p);
        if (pick(4) == 0) ctl.selectTrack(pick(5));
        const int32_t track = ctl.currentTrack();
        const int n = int(ctl.columns().size());
        auto selectSome = [&] {
            const int c = pick(n);
            ctl.setSelectedColumns({c});
            ctl.setTimelineSelection(ctl.columns()[size_t(c)].item);
        };
        switch (n == 0 ? 0 : pick(9)) {
        case 0:
        case 1:
            if (track == kTitleTrack)
                ctl.addTitle();
            else
                ctl.addClip(m_o.media[size_t(pick(int(m_o.media.size())))]);
            break;
        case 2:
            selectSome();
            ctl.removeSelected();
            break;
        case 3: {
            selectSome();
            ZEFItem* item = ctl.focusItem();
            const int64_t from = item->getStart().ticks(), to = item->getEnd().ticks();
            m_app.mainFrame().vcrDeck().seek(
                EditTime::raw(from + (to > from ? int64_t(m_rng() % uint64_t(to - from)) : 0)));
            ctl.razor();
            break;
        }
        case 4:
            selectSome();
            ctl.duplicate();
            break;
        case 5:
            ctl.reorder(pick(n), pick(n + 1), pick(2) == 0);
            break;
        case 6:
            selectSome();
            ctl.fromListSelection = true;
            ctl.copyOrMoveTo(pick(4), pick(2) == 0);
            break;
        case 7:
            p.undoHistory().undoStep();
            break;
        default:
            p.undoHistory().redoStep();
            break;
        }
        const std::string after = test::projectFingerprint(p);
        if (after != before) {
            ++m_done;
            say("edit %d %lld %s", m_done, monotonicNs(), after.c_str());
        }
        if (m_done == m_saveAt) m_saveHolder.armed = true;
        if (m_done == m_saveAt || (after != before && pick(100) < m_o.saveChance)) save();
    }

    app::CZefApp& m_app;
    const Options& m_o;
    std::mt19937 m_rng;
    SaveHolder m_saveHolder;
    int m_done = 0;
    int m_saveAt = -1;
};

bool parse(int argc, char** argv, Options& o)
{
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool value = i + 1 < argc;
        if (a == "--state" && value)
            o.state = argv[++i];
        else if (a == "--settings" && value)
            o.settings = argv[++i];
        else if (a == "--user" && value)
            o.user = argv[++i];
        else if (a == "--project" && value)
            o.project = argv[++i];
        else if (a == "--seed" && value)
            o.seed = unsigned(std::atoi(argv[++i]));
        else if (a == "--edits" && value)
            o.edits = std::atoi(argv[++i]);
        else if (a == "--hold" && value)
            o.hold = argv[++i];
        else if (a == "--save-chance" && value)
            o.saveChance = std::atoi(argv[++i]);
        else if (a.rfind("--", 0) == 0)
            return false;
        else
            o.media.push_back(a);
    }
    return !o.state.isEmpty() && !o.settings.isEmpty() && !o.project.isEmpty() && !o.media.empty();
}

} // namespace

int main(int argc, char** argv)
{
    Options o;
    if (!parse(argc, argv, o)) {
        std::fprintf(stderr, "zef_crash_driver: see the usage at the top of its source\n");
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication qt(argc, argv);

    bool offered = false;
    QTimer answerer;
    answerer.setInterval(5);
    QObject::connect(&answerer, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || !box->isVisible()) return;
        QAbstractButton* b = box->defaultButton();
        if (box->windowTitle() == QStringLiteral("Recover Project")) {
            offered = true;
            b = box->button(QMessageBox::Yes);
        } else {
            say("box %s", box->text().toUtf8().replace('\n', ' ').constData());
        }
        if (!b) b = box->buttons().value(0);
        b->click();
    });
    answerer.start();

    app::CZefApp::Options options;
    options.settingsFile = o.settings;
    options.userFolder = o.user;
    options.stateFolder = o.state;
    options.writeFileAssociation = false;
    app::CZefApp app(options);
    const bool exists = QFile::exists(o.project);
    if (!app.startUp(exists ? QStringList{o.project} : QStringList{})) return 1;
    FProject& p = app.project();
    if (!exists) {
        p.assumeFileName(o.project.toStdString());
        app.saveProject();
    }
    say("ready %lld %s offered=%d consistent=%d modified=%d title=%s", monotonicNs(),
        test::projectFingerprint(p).c_str(), int(offered), int(p.checkConsistency().empty()),
        int(p.modified), p.windowTitle().c_str());
    if (o.edits <= 0) std::_Exit(0);

    Driver driver(app, o);
    driver.start();
    return QApplication::exec();
}
