// A project with its composition engine, a Preview Deck and a VCR Deck, offscreen.
#pragma once

#include "engine/movie_builder.h"
#include "model/device.h"
#include "model/project.h"
#include "model/source_item.h"
#include "platform/movies/effects/effect_registry.h"
#include "tests/movies/test_media.h"
#include "ui/controls/xbutton.h"
#include "ui/preview/dpreview.h"
#include "ui/preview/preview_panel.h"
#include "ui/preview/preview_window.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QTest>

#include <functional>
#include <memory>
#include <string>

namespace zef::test {

struct PreviewFixture : ::testing::Test {
    movies::EffectRegistry registry = movies::EffectRegistry::withBuiltIns();
    FProject project;
    int64_t now = 0;
    FMovieBuilder builder{project, registry, nullptr, [this] { return now; }};
    int32_t track = 0; // the Clip Deck's current track
    std::unique_ptr<ui::DPreview> deck;
    std::unique_ptr<ui::CPreviewPanel> panel;

    void SetUp() override
    {
        project.setEngine(&builder);
        deck = std::make_unique<ui::DPreview>(project);
        panel = std::make_unique<ui::CPreviewPanel>(project);
        panel->setPreview(deck.get());
        ui::DPreview::Services s;
        s.currentTrack = [this] { return track; };
        s.setCurrentTrack = [this](int32_t t) { track = t; };
        deck->attach(builder, s);
        deck->show();
        panel->show();
    }
    void TearDown() override
    {
        panel.reset();
        deck.reset();
        project.setEngine(nullptr);
    }

    // One pass of the engine's lazy update and the decks' idle processing.
    void pass()
    {
        now += 1000;
        builder.update();
        deck->idle();
        panel->periodicUpdate();
    }

    ZEFSourceItem* clip(const std::string& path, int32_t onTrack, int64_t start, int64_t end)
    {
        auto c = std::make_unique<ZEFSourceItem>(&project, onTrack);
        c->setPath(path);
        c->open(true, false, false, false);
        ZEFSourceItem* p = c.get();
        project.addItem(std::move(c), false, false);
        p->assignStart(EditTime(start));
        p->assignEnd(EditTime(end));
        return p;
    }

    // Processes events until done() or the limit; false on time-out.
    static bool waitFor(const std::function<bool()>& done, int ms = 5000)
    {
        QElapsedTimer t;
        t.start();
        while (!done()) {
            if (t.elapsed() > ms) return false;
            QTest::qWait(5);
        }
        return true;
    }

    // The frame number the deck's picture shows (-1 when unreadable, -2 without a picture).
    int shownNumber() const
    {
        const QImage& image = deck->player().frame().image;
        if (image.isNull()) return -2;
        movies::Pixmap p(image.width(), image.height());
        for (int y = 0; y < image.height(); ++y)
            std::memcpy(p.row(y), image.constScanLine(y), size_t(image.width()) * 4);
        return movies::testing::frameNumberOf(p);
    }
};

} // namespace zef::test
