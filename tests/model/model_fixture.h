// Shared helpers of the model tests: a project with recording observers and short ways to
// place items.
#pragma once

#include "model/item.h"
#include "model/project.h"
#include "model/source_item.h"

#include <gtest/gtest.h>

#include <deque>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace zef::test {

// Counts every notification the project sends to its views.
struct Recorder : ProjectObserver {
    std::vector<ZEFItem*> changed;
    std::map<int32_t, int> rows, lists;
    int ruler = 0, timeline = 0, clipDeck = 0, decks = 0, preview = 0, closedPreview = 0;
    int undoButtons = 0;
    std::vector<ZEFItem*> closed, listed, timelineSelected, info;
    std::vector<std::pair<ZEFItem*, bool>> parameters;
    std::vector<EditTime> seeks;
    std::optional<EditTime> position;
    int showComposition = 0;
    std::vector<std::string> titles, errors;
    std::vector<PanelLayout> panelLayouts;
    std::vector<UndoButtonState> undoStates;
    int clearedDecks = 0;

    void itemChanged(ZEFItem* item) override { changed.push_back(item); }
    void repaintTrackRow(int32_t track) override { ++rows[track]; }
    void refreshTrackList(int32_t track) override { ++lists[track]; }
    void repaintRuler() override { ++ruler; }
    void refreshTimeline() override { ++timeline; }
    void refreshClipDeck() override { ++clipDeck; }
    void refreshDecks() override { ++decks; }
    void closeDecksShowing(ZEFItem* item) override { closed.push_back(item); }
    void showInList(ZEFItem* item) override { listed.push_back(item); }
    void setTimelineSelection(ZEFItem* item) override { timelineSelected.push_back(item); }
    void showInInfoDeck(ZEFItem* item) override { info.push_back(item); }
    void showInParametersDeck(ZEFItem* item, bool t) override { parameters.emplace_back(item, t); }
    void previewShowComposition() override { ++showComposition; }
    void previewSeek(const EditTime& t) override { seeks.push_back(t); }
    std::optional<EditTime> previewPosition() const override { return position; }
    void refreshPreview() override { ++preview; }
    void closePreview() override { ++closedPreview; }
    void setWindowTitle(const std::string& t) override { titles.push_back(t); }
    void updateUndoButtons() override { ++undoButtons; }
    void showError(const std::string& m) override { errors.push_back(m); }
    void applyPanelLayout(const PanelLayout& l) override { panelLayouts.push_back(l); }
    void undoButtonsChanged(const UndoButtonState& s) override { undoStates.push_back(s); }
    void clearInfoAndParameters() override { ++clearedDecks; }
};

struct Engine : CompositionEngine {
    int changes = 0, released = 0;
    std::vector<int32_t> refreshed;
    bool accept = true;
    void compositionChanged() override { ++changes; }
    void refreshTrack(int32_t t) override { refreshed.push_back(t); }
    void releaseState() override { ++released; }
    bool acceptOutputSize(int32_t, int32_t) override { return accept; }
};

// Built tracks of one item; the shared record outlives the state so tests can look at it.
struct StateLog {
    bool alive = true;
    std::vector<int64_t> offsets;
    std::pair<int32_t, int32_t> size{0, 0};
    int enabled = -1;
};

struct FakeState : CompositionState {
    explicit FakeState(StateLog& log) : log(log) {}
    ~FakeState() override { log.alive = false; }
    void setSize(int32_t w, int32_t h) override { log.size = {w, h}; }
    void setEnabled(bool on) override { log.enabled = on; }
    void setOffset(const EditTime& t) override { log.offsets.push_back(t.ticks()); }
    StateLog& log;
};

struct Settings : ProjectSettings {
    bool single = false;
    std::optional<CProjectTemplate> templ;
    CaptureDefaults capture;
    CaptureDefaults captureDefaults() const override { return capture; }
    std::optional<CProjectTemplate> defaultTemplate() const override { return templ; }
    bool singleLayerPreview() const override { return single; }
};

class ModelTest : public ::testing::Test {
protected:
    ModelTest()
    {
        project.addObserver(&views);
        project.setEngine(&engine);
    }
    void TearDown() override { EXPECT_EQ(project.checkConsistency(), ""); }

    // An effect item (no media) spanning [start, end) ticks, appended to the track.
    ZEFItem* place(int32_t track, int64_t start, int64_t end)
    {
        auto item = std::make_unique<ZEFEffectItem>(&project, track);
        item->assignStart(EditTime::raw(start));
        item->assignEnd(EditTime::raw(end));
        ZEFItem* raw = item.get();
        project.addItem(std::move(item), false, false);
        return raw;
    }

    // A clip of `frames` frames at 30 fps with the given path.
    std::unique_ptr<ZEFSourceItem> clip(int32_t track, const std::string& path, int32_t frames,
                                        int64_t start = 0)
    {
        auto c = std::make_unique<ZEFSourceItem>(&project, track);
        c->setPath(path);
        MediaInfo info;
        info.rateNum = 30;
        info.rateDen = 1;
        info.frameCount = frames;
        info.videoTrackCount = 1;
        c->setMediaInfo(info);
        EditTime out = c->mediaDuration();
        c->assignSourceRange(EditTime::raw(0, 30, 1), out);
        c->assignStart(EditTime::raw(start));
        c->assignEnd(EditTime::raw(start + out.ticks()));
        return c;
    }

    // The spans of a track; checks the neighbour rules of the whole project on the way.
    std::vector<std::pair<int64_t, int64_t>> spans(int32_t track) const
    {
        EXPECT_EQ(project.checkConsistency(), "");
        std::vector<std::pair<int64_t, int64_t>> r;
        const FDevice& d = project.device(track);
        for (size_t i = 0; i < d.size(); ++i)
            r.emplace_back(d.at(i)->getStart().ticks(), d.at(i)->getEnd().ticks());
        return r;
    }

    // Attaches a recording composition state to the item; the log outlives the project.
    StateLog& attach(ZEFItem* item)
    {
        StateLog& log = logs.emplace_back();
        item->setComposition(std::make_unique<FakeState>(log));
        return log;
    }

    std::deque<StateLog> logs;
    Settings settings;
    FProject project{&settings};
    EditRateContext::Scope rateScope{project.rateContext()};
    Recorder views;
    Engine engine;
};

using Spans = std::vector<std::pair<int64_t, int64_t>>;

} // namespace zef::test
