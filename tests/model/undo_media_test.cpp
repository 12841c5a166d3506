// Undo and redo of clips opened from real media files.
#include "project_file_fixture.h"

#include "tests/movies/test_media.h"
#include "tests/support/file_open_watch.h"

#include <cstring>
#include <filesystem>
#include <functional>

using namespace zef;
using namespace zef::test;
namespace media = zef::movies::testing;
namespace fs = std::filesystem;

namespace {

class UndoMediaTest : public ModelTest {
protected:
    // Opens the file as a new clip at the end of the track, as adding it does.
    void addOpened(int32_t track, const std::string& path)
    {
        auto c = std::make_unique<ZEFSourceItem>(&project, track);
        c->setPath(path);
        c->open(true, false, false, false);
        project.addItem(std::move(c), false, true);
    }

    // The thumbnail of every clip, track by track; empty for a clip that is not open.
    std::vector<std::vector<uint8_t>> thumbnails() const
    {
        std::vector<std::vector<uint8_t>> r;
        for (int32_t t = 0; t < kTrackCount; ++t)
            for (size_t i = 0; i < project.device(t).size(); ++i)
                if (auto* c = dynamic_cast<ZEFSourceItem*>(project.device(t).at(i)))
                    r.push_back(c->isOpen() ? c->thumbnail() : std::vector<uint8_t>());
        return r;
    }
};

} // namespace

// Several steps at once, of which some are superseded, take the redo entries from the bytes
// of the snapshots and restore clips with the media of the clips they replace: no media file
// is opened, and every state comes back exactly.
TEST_F(UndoMediaTest, SeveralStepsAtOnceOpenNoMediaFile)
{
    const std::string dir = testDir();
    const std::string a = dir + "/a.mp4", b = dir + "/b.mp4";
    fs::copy_file(media::media::avClip4s(), a);
    fs::copy_file(media::media::h264Movie(), b);
    for (const std::string& path : {a, b, a})
        addOpened(kLayerA, path);
    addOpened(kLayerB, b);
    addOpened(kLayerB, a);
    addOpened(kGallery, b);
    const auto drawn = thumbnails();
    ASSERT_EQ(drawn.size(), 6u);
    for (const auto& t : drawn)
        ASSERT_FALSE(t.empty());

    auto clipAt = [&](int32_t track, size_t i) {
        return dynamic_cast<ZEFSourceItem*>(project.device(track).at(i));
    };
    const std::vector<std::pair<int32_t, std::function<void()>>> edits = {
        {kLayerA, [&] { clipAt(kLayerA, 0)->setVolume(128); }},
        {kLayerB, [&] { clipAt(kLayerB, 0)->setSourceOut(EditTime(1200)); }},
        {-1, [&] { project.moveItem(kLayerA, 1, kLayerC, -1, false); }},
        {kLayerA, [&] { project.removeItemAt(kLayerA, 0, true); }},
        {kLayerB,
         [&] {
             project.insertKeyframe(kLayerB, EditTime(600),
                                    movies::MatrixRecord::scaling(0x8000, 0x8000), false);
         }},
    };
    std::vector<std::vector<uint8_t>> states{projectBytes(project)};
    for (const auto& [scope, edit] : edits) {
        project.undoHistory().recordUndo(scope, "Edit");
        edit();
        states.push_back(projectBytes(project));
    }
    ASSERT_EQ(project.device(kLayerA).size(), 1u);

    zef::testing::FileOpenWatch opens(dir);
    ASSERT_TRUE(opens.valid());
    project.undoHistory().undo(5);
    EXPECT_EQ(opens.takeOpens(), 0);
    EXPECT_EQ(projectBytes(project), states[0]);
    EXPECT_EQ(thumbnails(), drawn) << "every clip open, with its thumbnail";

    project.undoHistory().redo(5);
    EXPECT_EQ(opens.takeOpens(), 0);
    EXPECT_EQ(projectBytes(project), states[5]);

    // The redo entries of a multi-step undo hold each state after its own action.
    project.undoHistory().undo(5);
    for (size_t i = 1; i < states.size(); ++i) {
        project.undoHistory().redo(1);
        EXPECT_EQ(projectBytes(project), states[i]) << "after redoing edit " << i;
    }
    EXPECT_EQ(opens.takeOpens(), 0);
    for (const auto& t : thumbnails())
        EXPECT_FALSE(t.empty());
}

// Reused media bring their thumbnail only when it shows the restored clip's first frame.
TEST_F(UndoMediaTest, ARestoredFirstFrameIsDrawnAgain)
{
    addOpened(kLayerA, media::media::avClip4s());
    auto* clip = dynamic_cast<ZEFSourceItem*>(project.device(kLayerA).at(0));
    auto shownFrame = [&] {
        auto* c = dynamic_cast<ZEFSourceItem*>(project.device(kLayerA).at(0));
        movies::Pixmap p(c->thumbWidth(), c->thumbHeight());
        EXPECT_EQ(c->thumbnail().size(), size_t(p.width()) * size_t(p.height()) * 4);
        std::memcpy(p.data(), c->thumbnail().data(), c->thumbnail().size());
        return media::frameNumberOf(p);
    };
    project.undoHistory().recordUndo(kLayerA, "Trim");
    clip->setSourceIn(EditTime(600, 30, 1));
    EXPECT_EQ(shownFrame(), 30);
    project.undoHistory().undo(1);
    EXPECT_EQ(shownFrame(), 0);
    project.undoHistory().redo(1);
    EXPECT_EQ(shownFrame(), 30);
}
