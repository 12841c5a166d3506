// Shared helpers of the timeline tests: a project with a stand-in for the VCR Deck (it keeps
// the current time), a Timeline Deck with a recording host and a clock the test moves, and
// mouse events sent as the window system would send them.
#pragma once

#include "model/item.h"
#include "model/project.h"
#include "model/source_item.h"
#include "ui/timeline/timeline_host.h"
#include "ui/timeline/timeline_view.h"
#include "ui/timeline/timeline_window.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QMouseEvent>
#include <QTest>

#include <memory>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace zef::test {

// Keeps the preview's current time, as the VCR Deck does.
struct Vcr : ProjectObserver {
    EditTime position;
    std::vector<EditTime> seeks;
    void previewSeek(const EditTime& t) override
    {
        position = t;
        seeks.push_back(t);
    }
    std::optional<EditTime> previewPosition() const override { return position; }
};

struct Host : ui::TimelineHost {
    int32_t track = 0;
    bool playing = false;
    std::vector<int32_t> lists;
    int parameters = 0;
    std::vector<ZEFItem*> deletes;
    std::vector<std::pair<int32_t, std::vector<std::string>>> drops;
    int32_t currentTrack() const override { return track; }
    void setCurrentTrack(int32_t t) override { track = t; }
    void refreshTrackList(int32_t t) override { lists.push_back(t); }
    bool previewPlaying() const override { return playing; }
    void showParametersDeck() override { ++parameters; }
    void deleteSelectedItems(ZEFItem* item) override { deletes.push_back(item); }
    void dropFiles(int32_t t, const std::vector<std::string>& paths) override
    {
        drops.emplace_back(t, paths);
    }
};

// A clip's media that draws every frame in one colour.
struct PlainMedia : ClipMedia {
    uint32_t colour = 0xFF20A040;
    bool viaMovieToolbox() const override { return true; }
    bool drawFrame(const EditTime&, uint8_t* pixels, int32_t w, int32_t h) override
    {
        auto* p = reinterpret_cast<uint32_t*>(pixels);
        std::fill(p, p + size_t(w) * size_t(h), colour);
        return true;
    }
};

class TimelineTest : public ::testing::Test {
protected:
    // The deck is sized so that the drawing window is 634 pixels wide: with the initial view
    // of 10 s a pixel is 10 ticks, and x = 30 + t / 10.
    static constexpr int kDeckWidth = 686;

    TimelineTest()
    {
        project.addObserver(&vcr);
        view = std::make_unique<ui::CTimelineView>(project);
        auto h = std::make_unique<Host>();
        host = h.get();
        view->setHost(std::move(h));
        view->resize(kDeckWidth, ui::CTimelineView::defaultSize().height());
        view->show();
        window().drag().setClock([this] { return now; });
        window().setView({0, 6000});
    }
    ~TimelineTest() override
    {
        view.reset();
        project.removeObserver(&vcr);
    }

    ui::CTimelineWindow& window() { return view->timelineWindow(); }
    ui::TimelineGeometry geometry() { return window().timelineGeometry(); }

    // An effect item (no media) spanning [start, end) ticks, appended to the track.
    ZEFItem* place(int32_t track, int64_t start, int64_t end, const char* name = "item")
    {
        auto item = std::make_unique<ZEFEffectItem>(&project, track);
        item->ZEFItem::setName(name);
        item->assignStart(EditTime::raw(start));
        item->assignEnd(EditTime::raw(end));
        ZEFItem* raw = item.get();
        project.addItem(std::move(item), false, false);
        return raw;
    }

    // A clip of 30 fps video (and sound when asked) with a one-colour thumbnail, showing its
    // media from the start.
    ZEFSourceItem* placeClip(int32_t track, int64_t start, int64_t end, bool sound = false,
                             int32_t frames = 3000)
    {
        auto c = std::make_unique<ZEFSourceItem>(&project, track);
        c->setPath("/clips/plain.mov");
        c->ZEFItem::setName("plain.mov");
        MediaInfo info;
        info.rateNum = 30;
        info.frameCount = frames;
        info.videoTrackCount = 1;
        info.audioRate = sound ? 48000 : 0;
        info.audioSampleCount = sound ? 48000 * 100 : 0;
        info.audioTrackCount = sound ? 1 : 0;
        info.thumbWidth = 80;
        info.thumbHeight = 60;
        c->setMedia(std::make_unique<PlainMedia>(), info);
        c->assignSourceRange(EditTime::raw(0, 30, 1), EditTime::raw(end - start, 30, 1));
        c->assignStart(EditTime::raw(start));
        c->assignEnd(EditTime::raw(end));
        c->refreshThumbnail();
        ZEFSourceItem* raw = c.get();
        project.addItem(std::move(c), false, false);
        return raw;
    }

    // The middle of a track's row box.
    int rowY(int32_t key)
    {
        return (geometry().rowBox(key).top + geometry().rowBox(key).bottom) / 2;
    }
    int x(int64_t t) { return geometry().timeToX(t); }

    void send(QEvent::Type type, QPoint pos, Qt::MouseButton button, Qt::MouseButtons buttons,
              Qt::KeyboardModifiers mods = Qt::NoModifier)
    {
        QWidget& w = window();
        QMouseEvent e(type, QPointF(pos), QPointF(w.mapToGlobal(pos)), button, buttons, mods);
        QApplication::sendEvent(&w, &e);
    }
    void hover(QPoint pos) { send(QEvent::MouseMove, pos, Qt::NoButton, Qt::NoButton); }
    void press(QPoint pos, Qt::KeyboardModifiers mods = Qt::NoModifier)
    {
        hover(pos);
        send(QEvent::MouseButtonPress, pos, Qt::LeftButton, Qt::LeftButton, mods);
    }
    void moveHeld(QPoint pos, Qt::KeyboardModifiers mods = Qt::NoModifier)
    {
        send(QEvent::MouseMove, pos, Qt::NoButton, Qt::LeftButton, mods);
    }
    void release(QPoint pos)
    {
        send(QEvent::MouseButtonRelease, pos, Qt::LeftButton, Qt::NoButton);
    }
    // Press, wait past the drag delay, move, release.
    void dragFromTo(QPoint from, QPoint to, Qt::KeyboardModifiers mods = Qt::NoModifier)
    {
        press(from, mods);
        now += 600;
        moveHeld(to, mods);
        release(to);
    }

    // The tracks as text: every item's class, span and source range, and the keyframes.
    std::string dump() const
    {
        std::ostringstream out;
        for (int32_t t = 0; t < kTrackCount; ++t) {
            const FDevice& d = project.device(t);
            out << "track " << t << (d.enabled() ? "" : " off") << ":";
            for (size_t i = 0; i < d.size(); ++i) {
                const ZEFItem* it = d.at(i);
                out << " [" << it->name() << " " << it->getStart().ticks() << "-"
                    << it->getEnd().ticks();
                if (auto* c = dynamic_cast<const ZEFSourceItem*>(it))
                    out << " in " << c->sourceIn().ticks() << " out " << c->sourceOut().ticks();
                out << "]";
            }
            for (const MatrixKeyframe& k : d.keyframes())
                out << " key " << k.time.ticks() << "/" << k.matrix.m[2][0];
            out << "\n";
        }
        return out.str();
    }

    FProject project;
    EditRateContext::Scope rateScope{project.rateContext()};
    Vcr vcr;
    std::unique_ptr<ui::CTimelineView> view;
    Host* host = nullptr;
    int64_t now = 100000;
};

} // namespace zef::test
