// Speed of the clip strip: a strip of 2,000 clips, each with a name, two times and an 80 × 60
// thumbnail, scrolled one column at a time with Page Up (the Selection moves right and the strip
// follows it) and repainted at once, as the user sees it. Prints the mean, 99th percentile and
// worst time of a scroll step with its repaint, for the Clip Deck's strip and for a strip as wide
// as a 1080p screen; the goal is under 16 ms (a frame at 60 Hz). Runs offscreen.
//
// Usage: bench_tavrel [COLUMNS]
#include "listctrl/tavrel_ctrl.h"

#include <QApplication>
#include <QKeyEvent>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr double kGoalMs = 16.0;

// Counts its paints, so that a step that painted nothing cannot pass for a fast one.
class CountedStrip : public tavrel::CTavrelCtrl {
public:
    int paints = 0;

protected:
    void paintEvent(QPaintEvent* e) override
    {
        ++paints;
        tavrel::CTavrelCtrl::paintEvent(e);
    }
};

struct Figures {
    double mean = 0, p99 = 0, worst = 0;
};

void fill(tavrel::CTavrelCtrl& strip, int columns)
{
    for (const char* row : {"", "Source In Time", "Source Out Time", "", "", ""})
        strip.AddRow(QString::fromLatin1(row));
    std::vector<uint32_t> picture(80 * 60);
    for (int i = 0; i < columns; ++i) {
        const short c =
            strip.AddNewColumn(QStringLiteral("clip %1.mov").arg(i),
                               QStringLiteral("/media/clips/clip %1.mov").arg(i), 25, i % 7 == 0);
        strip.SetValue(c, 0, 600 * (i % 60));
        strip.SetValue(c, 1, 600 * (i % 60) + 6000);
        for (size_t p = 0; p < picture.size(); ++p)
            picture[p] =
                0xFF000000u | uint32_t((p * 2654435761u + uint32_t(i) * 40503u) & 0xFFFFFF);
        strip.SetThumbnail(c, picture.data(), 80, 60);
    }
}

Figures scroll(int width, int height, int columns)
{
    CountedStrip strip;
    strip.resize(width, height);
    fill(strip, columns);
    strip.show();
    QApplication::processEvents();
    strip.SetSelection(0);
    strip.repaint();
    strip.paints = 0;
    const int steps = std::min(columns - 1, 600);
    std::vector<double> ms;
    ms.reserve(size_t(steps));
    for (int i = 0; i < steps; ++i) {
        const Clock::time_point t0 = Clock::now();
        QKeyEvent pageUp(QEvent::KeyPress, Qt::Key_PageUp, Qt::NoModifier);
        QApplication::sendEvent(&strip, &pageUp);
        strip.repaint();
        ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
    }
    if (strip.GetSelection() != steps || strip.GetColumnOffset() == 0 || strip.paints < steps)
        std::fprintf(stderr, "bench_tavrel: the strip did not scroll or paint (%d paints)\n",
                     strip.paints);
    Figures f;
    for (double v : ms)
        f.mean += v;
    f.mean /= double(ms.size());
    std::sort(ms.begin(), ms.end());
    f.p99 = ms[std::min(ms.size() - 1, ms.size() * 99 / 100)];
    f.worst = ms.back();
    return f;
}

} // namespace

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    const int columns = argc > 1 ? std::max(2, std::atoi(argv[1])) : 2000;
    const struct {
        const char* name;
        int width, height;
    } strips[] = {{"Clip Deck strip 560x150", 560, 150}, {"full-width strip 1900x300", 1900, 300}};
    bool met = true;
    for (const auto& s : strips) {
        const Figures f = scroll(s.width, s.height, columns);
        std::printf("%s, %d clips: scroll step with repaint mean %.2f ms, p99 %.2f ms, "
                    "worst %.2f ms (goal < %.0f ms)\n",
                    s.name, columns, f.mean, f.p99, f.worst, kGoalMs);
        met = met && f.mean < kGoalMs;
    }
    return met ? 0 : 1;
}
