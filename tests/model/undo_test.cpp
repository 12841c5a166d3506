#include "project_file_fixture.h"

#include "model/zef_exception.h"

#include <random>

using namespace zef;
using namespace zef::test;

namespace {

class UndoTest : public ProjectFileTest {
protected:
    UndoHistory& history() { return project.undoHistory(); }

    // Records an undo entry for the track, then appends an item of the given length to it.
    void recordedAppend(int32_t track, int64_t length, const char* label = "Added")
    {
        history().recordUndo(track, "%s on %s", label, FProject::trackMenuName(track));
        int64_t end = project.trackEnd(track).ticks();
        place(track, end, end + length);
    }
};

} // namespace

TEST_F(UndoTest, OnlyTheNewestFiftyActionsAreKept)
{
    std::vector<std::vector<uint8_t>> states;
    for (int i = 1; i <= 51; ++i) {
        states.push_back(projectBytes(project));
        history().recordUndo(kLayerB, "Action %d", i);
        place(kLayerB, (i - 1) * 600, i * 600);
    }
    EXPECT_EQ(history().depth(), 50);
    ASSERT_EQ(history().undoCount(), 50);
    EXPECT_EQ(history().undoLabels().front(), "Action 51");
    EXPECT_EQ(history().undoLabels().back(), "Action 2");

    history().undo(100);
    EXPECT_EQ(history().undoCount(), 0);
    EXPECT_EQ(history().redoCount(), 50);
    EXPECT_EQ(project.device(kLayerB).size(), 1u) << "the first action cannot be undone";
    EXPECT_EQ(projectBytes(project), states[1]);
}

TEST_F(UndoTest, RecordingAfterAnUndoEmptiesRedoButDiscardingDoesNot)
{
    recordedAppend(kLayerA, 600);
    recordedAppend(kLayerA, 600);
    history().undo(1);
    ASSERT_EQ(history().redoCount(), 1);
    EXPECT_TRUE(history().buttons().redoEnabled);

    // An edit that ends without a change gives its entry back; redo stays available.
    history().discardNewest();
    EXPECT_EQ(history().undoCount(), 0);
    EXPECT_EQ(history().redoCount(), 1);

    recordedAppend(kLayerB, 300);
    EXPECT_EQ(history().redoCount(), 0);
    EXPECT_FALSE(history().buttons().redoEnabled);
    EXPECT_EQ(history().buttons().redoText, "Redo: Added on Layer A") << "keeps its last text";
}

TEST_F(UndoTest, OnlyTheOldestSnapshotOfATrackIsRestored)
{
    // Three edits of Layer B, each after a snapshot holding one more clip than the last.
    const std::vector<uint8_t> start = projectBytes(project);
    std::vector<uint8_t> afterFirst;
    for (int i = 0; i < 3; ++i) {
        history().recordUndo(kLayerB, "Clip %d", i);
        addClip(kLayerB, "/media/b" + std::to_string(i) + ".mov", 30, i * 1200);
        if (i == 0) afterFirst = projectBytes(project);
    }
    const std::vector<uint8_t> end = projectBytes(project);
    opener.attempts.clear();
    const int timeline = views.timeline;

    history().undo(3);
    EXPECT_EQ(views.timeline - timeline, 1) << "one snapshot restored";
    EXPECT_TRUE(opener.attempts.empty()) << "the empty oldest snapshot opens no clip";
    EXPECT_EQ(projectBytes(project), start);
    EXPECT_EQ(history().redoCount(), 3);
    EXPECT_EQ(history().redoLabels(), (std::vector<std::string>{"Clip 0", "Clip 1", "Clip 2"}));

    // Each redo entry holds the state right after its own action.
    history().redo(1);
    EXPECT_EQ(projectBytes(project), afterFirst);
    EXPECT_EQ(opener.attempts.size(), 1u);
    history().redo(2);
    EXPECT_EQ(projectBytes(project), end);
    EXPECT_EQ(opener.attempts.size(), 3u)
        << "only the newest state was read back, and its first clip kept its open media";
    EXPECT_EQ(history().undoCount(), 3);
    EXPECT_EQ(project.checkConsistency(), "");
}

TEST_F(UndoTest, MixedScopesRestoreEachTrackFromItsOldestCoveringEntry)
{
    recordedAppend(kLayerA, 600);
    const std::vector<uint8_t> start = projectBytes(project);

    // Track entry first, whole-project entry after it.
    history().recordUndo(kLayerB, "B");
    place(kLayerB, 0, 600);
    history().recordUndo(-1, "Moved");
    project.moveItem(kLayerA, 0, kLayerC, -1, false);
    place(kLayerB, 600, 900);
    history().undo(2);
    EXPECT_EQ(projectBytes(project), start);

    // Whole-project entry first: it covers every track, the track entry is superseded.
    history().redo(2);
    history().recordUndo(-1, "Moved back");
    project.moveItem(kLayerC, 0, kLayerA, -1, false);
    const std::vector<uint8_t> before = projectBytes(project);
    history().recordUndo(kLayerB, "B again");
    place(kLayerB, 900, 1200);
    const int timeline = views.timeline;
    history().undo(1);
    history().redo(1);
    EXPECT_EQ(views.timeline - timeline, 2);
    history().undo(2);
    EXPECT_EQ(views.timeline - timeline, 3) << "the whole-project snapshot alone";
    EXPECT_NE(projectBytes(project), before);
    EXPECT_EQ(project.device(kLayerA).size(), 0u);
    EXPECT_EQ(project.device(kLayerC).size(), 1u);
}

TEST_F(UndoTest, WholeProjectSnapshotsBringBackSettingsAndDeckPositions)
{
    buildRichProject();
    const std::vector<uint8_t> before = projectBytes(project);
    const PanelLayout panels = project.panels;

    history().recordUndo(-1, "Everything");
    project.panels[kPanelTimelineDeck] = {{0, 0, 1, 1}, false};
    project.captureFileName = "changed.avi";
    CProjectTemplate t = project.composition();
    t.width = 1920;
    project.setComposition(t);
    project.moveItem(kLayerC, 0, kLayerB, 0, false);
    project.clearTrack(kTitleTrack);
    project.device(kLayerA).keyframes().clear();
    const std::vector<uint8_t> after = projectBytes(project);
    views.panelLayouts.clear();

    history().undo(1);
    EXPECT_EQ(projectBytes(project), before);
    EXPECT_EQ(project.panels, panels);
    ASSERT_EQ(views.panelLayouts.size(), 1u);
    EXPECT_EQ(views.panelLayouts[0], panels) << "the decks are moved back";
    EXPECT_EQ(project.composition().width, 640);
    EXPECT_GE(engine.released, 1) << "the composition is rebuilt";

    history().redo(1);
    EXPECT_EQ(projectBytes(project), after);
    EXPECT_EQ(project.panels[kPanelTimelineDeck].visible, false);
}

TEST_F(UndoTest, StepsFollowTheActionCount)
{
    recordedAppend(kLayerA, 600);
    const std::vector<uint8_t> start = projectBytes(project);
    recordedAppend(kLayerA, 600, "First");
    recordedAppend(kLayerB, 600, "Second");
    const std::vector<uint8_t> end = projectBytes(project);
    history().undoNewest()->setActionCount(2); // two entries that count as one step

    history().undoStep();
    EXPECT_EQ(projectBytes(project), start);
    EXPECT_EQ(history().undoCount(), 1);
    ASSERT_EQ(history().redoCount(), 2);
    EXPECT_EQ(history().redoNewest()->actionCount(), 2);
    EXPECT_GE(views.clearedDecks, 1);

    history().redoStep();
    EXPECT_EQ(projectBytes(project), end);
    EXPECT_EQ(history().undoNewest()->actionCount(), 2);
    EXPECT_EQ(history().redoCount(), 0);

    history().clear();
    history().undoStep(); // nothing to undo
    history().redoStep();
    EXPECT_EQ(projectBytes(project), end);
}

TEST_F(UndoTest, MainBarLabelsArePublished)
{
    EXPECT_EQ(history().buttons(), UndoButtonState{});
    recordedAppend(kLayerA, 600, "Razor applied");
    ASSERT_FALSE(views.undoStates.empty());
    UndoButtonState s = views.undoStates.back();
    EXPECT_EQ(s.undoText, "Undo: Razor applied on Layer A");
    EXPECT_TRUE(s.undoEnabled);
    EXPECT_FALSE(s.redoEnabled);
    EXPECT_EQ(s.redoText, "Redo");

    history().undo(1);
    s = views.undoStates.back();
    EXPECT_FALSE(s.undoEnabled);
    EXPECT_EQ(s.undoText, "Undo: Razor applied on Layer A") << "a disabled button keeps its text";
    EXPECT_TRUE(s.redoEnabled);
    EXPECT_EQ(s.redoText, "Redo: Razor applied on Layer A");

    project.reset(true);
    EXPECT_EQ(history().undoCount() + history().redoCount(), 0);
    EXPECT_FALSE(views.undoStates.back().redoEnabled);
}

TEST_F(UndoTest, PushingFollowsTheDepthRules)
{
    auto entry = [&](const char* label) {
        return std::make_unique<FUndoBuffer>(project, kLayerA, label);
    };
    std::unique_ptr<FUndoBuffer> none;
    EXPECT_FALSE(history().pushUndo(none, true));
    auto invalid = entry("invalid");
    invalid->setValid(false);
    EXPECT_FALSE(history().pushRedo(invalid, false));
    EXPECT_NE(invalid, nullptr) << "kept by the caller";
    EXPECT_FALSE(history().pushRedo(invalid, true));
    EXPECT_EQ(invalid, nullptr);

    history().setDepth(2);
    for (const char* l : {"1", "2", "3"}) {
        auto e = entry(l);
        EXPECT_TRUE(history().pushRedo(e, true));
    }
    EXPECT_EQ(history().redoLabels(), (std::vector<std::string>{"3", "2"}));

    history().setDepth(0);
    EXPECT_EQ(history().redoCount(), 0);
    auto u = entry("u"), r = entry("r");
    EXPECT_TRUE(history().pushUndo(u, false));
    EXPECT_FALSE(history().pushRedo(r, false));
    EXPECT_EQ(history().undoCount(), 0);

    EXPECT_THROW(history().recordUndo(7, "bad scope"), ZEFException);
}

TEST_F(UndoTest, RestoringATrackMarksTheProjectModifiedAndAsksNothing)
{
    project.setUserInterface(&ui);
    ZEFSourceItem* gone = addClip(kGallery, "/gone/kept.mov", 30, 0, true);
    gone->setInvalid(true);
    project.modified = false;
    history().recordUndo(kGallery, "Removed");
    project.removeItemAt(kGallery, 0, false);
    project.modified = false;

    history().undo(1);
    EXPECT_TRUE(project.modified);
    EXPECT_TRUE(ui.asked.empty()) << "a missing clip comes back without a question";
    ASSERT_EQ(project.device(kGallery).size(), 1u);
    auto* back = dynamic_cast<ZEFSourceItem*>(project.device(kGallery).at(0));
    ASSERT_NE(back, nullptr);
    EXPECT_TRUE(back->invalid());
    EXPECT_EQ(back->path(), "/gone/kept.mov");
}

TEST_F(UndoTest, ARestoredSnapshotThatCannotBeReadChangesNothing)
{
    recordedAppend(kLayerB, 600);
    recordedAppend(kLayerB, 600);
    const std::vector<uint8_t> now = projectBytes(project);
    FUndoBuffer* newest = history().undoNewest();
    storage::MemoryStream* s = newest->snapshot();
    ASSERT_NE(s, nullptr);
    std::vector<uint8_t> cut(s->bytes().begin(), s->bytes().end() - 6);
    *s = storage::MemoryStream(cut);
    EXPECT_FALSE(history().restore(*newest));
    EXPECT_EQ(projectBytes(project), now);
}

TEST_F(UndoTest, TheDropDownListUndoesFromTheTopDownToThePointer)
{
    const std::vector<uint8_t> start = projectBytes(project);
    recordedAppend(kLayerA, 600, "One");
    const std::vector<uint8_t> afterOne = projectBytes(project);
    recordedAppend(kLayerB, 600, "Two");
    recordedAppend(kLayerA, 600, "Three");

    UndoRedoChooser undo(history(), true);
    EXPECT_EQ(undo.lines(),
              (std::vector<std::string>{"Three on Layer A", "Two on Layer B", "One on Layer A"}));
    EXPECT_EQ(undo.selectedCount(), 1);
    undo.hover(1);
    EXPECT_EQ(undo.caption(), "Undoes 2 action(s)");
    undo.hover(3);
    EXPECT_EQ(undo.caption(), "Cancel");
    undo.hover(-1);
    EXPECT_EQ(undo.release(), 0) << "released outside the list";
    EXPECT_EQ(history().undoCount(), 3);

    UndoRedoChooser again(history(), true);
    again.hover(2);
    EXPECT_EQ(again.caption(), "Undoes 3 action(s)");
    EXPECT_EQ(again.release(), 3);
    EXPECT_EQ(projectBytes(project), start);

    UndoRedoChooser redo(history(), false);
    EXPECT_EQ(redo.lines().front(), "One on Layer A");
    EXPECT_EQ(redo.caption(), "Redoes 1 action(s)");
    EXPECT_EQ(redo.release(), 1);
    EXPECT_EQ(projectBytes(project), afterOne);
    EXPECT_EQ(views.undoStates.back().undoText, "Undo: One on Layer A");

    history().clear();
    UndoRedoChooser none(history(), false);
    EXPECT_TRUE(none.lines().empty());
    EXPECT_EQ(none.caption(), "Cancel");
    EXPECT_EQ(none.release(), 0);
}

class RandomUndoTest : public UndoTest, public ::testing::WithParamInterface<unsigned> {};

TEST_P(RandomUndoTest, EditsUndoAndRedoExactly)
{
    std::mt19937 rng(GetParam());
    std::vector<std::vector<uint8_t>> states{projectBytes(project)};
    for (int step = 0; step < 40; ++step) {
        const int32_t track = int32_t(rng() % 3);
        const int32_t other = (track + 1 + int32_t(rng() % 2)) % 3;
        const size_t size = project.device(track).size();
        switch (rng() % 4) {
        case 0:
        case 1:
            recordedAppend(track, 300 + int64_t(rng() % 900));
            break;
        case 2:
            if (size == 0) continue;
            history().recordUndo(track, "Removed");
            project.removeItemAt(track, int32_t(rng() % size), true);
            break;
        case 3:
            if (size == 0) continue;
            history().recordUndo(-1, "Moved to %s", FProject::trackMenuName(other));
            project.moveItem(track, int32_t(rng() % size), other, -1, false);
            break;
        }
        ASSERT_EQ(project.checkConsistency(), "") << step;
        states.push_back(projectBytes(project));
    }
    const int32_t count = history().undoCount();
    ASSERT_EQ(size_t(count) + 1, states.size());
    // Back and forth in uneven strides, comparing with the state of each point.
    int32_t at = count;
    for (int32_t stride : {1, 3, 7, 2, 40}) {
        int32_t n = std::min(stride, at);
        history().undo(n);
        at -= n;
        ASSERT_EQ(project.checkConsistency(), "");
        ASSERT_EQ(projectBytes(project), states[size_t(at)]) << "after undo to " << at;
    }
    for (int32_t stride : {2, 5, 1, 40}) {
        int32_t n = std::min(stride, count - at);
        history().redo(n);
        at += n;
        ASSERT_EQ(project.checkConsistency(), "");
        ASSERT_EQ(projectBytes(project), states[size_t(at)]) << "after redo to " << at;
    }
}

INSTANTIATE_TEST_SUITE_P(Seeds, RandomUndoTest, ::testing::Range(1u, 13u));
