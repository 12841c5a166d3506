// Long random edit sequences must keep every track within its neighbour rules, and tracks that a
// file stored against those rules must stay safe to edit.
#include "model_fixture.h"

#include "platform/storage/stream.h"

#include <random>

using namespace zef;
using namespace zef::test;

namespace {

class RandomEditTest : public ModelTest, public ::testing::WithParamInterface<int> {
protected:
    int pick(int n) { return int(rng() % uint32_t(n)); }
    EditTime time() { return EditTime(int64_t(pick(200)) * 60); }

    // One random editing operation on the item; returns its name. Free trims (no neighbour
    // rules) are among them only with freeTrims.
    std::string edit(ZEFItem* item, bool freeTrims)
    {
        const int modes = freeTrims ? 3 : 2;
        FDevice& d = *item->device();
        const int32_t track = item->track();
        switch (pick(7)) {
        case 0:
            item->moveTo(time(), pick(2) == 0);
            return "moveTo";
        case 1:
            item->trimStart(time(), pick(modes), pick(2) == 0);
            return "trimStart";
        case 2:
            item->trimEnd(time(), pick(modes), pick(2) == 0);
            return "trimEnd";
        case 3:
            item->pushShift(pick(2) ? 60 * pick(20) : -60 * pick(20));
            return "pushShift";
        case 4:
            item->rippleShift(pick(2) ? 60 * pick(20) : -60 * pick(20));
            return "rippleShift";
        case 5:
            project.moveItem(track, d.indexOf(item), pick(3), pick(4) - 1, pick(2) == 0);
            return "moveItem";
        default:
            project.removeItemAt(track, d.indexOf(item), pick(2) == 0);
            return "removeItemAt";
        }
    }
    ZEFItem* anyItem()
    {
        FDevice& d = project.device(pick(3));
        return d.empty() ? nullptr : d.at(size_t(pick(int(d.size()))));
    }

    std::mt19937 rng{static_cast<uint32_t>(GetParam())};
};

} // namespace

TEST_P(RandomEditTest, OperationsKeepTheTracksConsistent)
{
    for (int32_t track : {kLayerA, kLayerB, kLayerC}) {
        int64_t t = 0;
        for (int i = 0; i < 6; ++i) {
            int64_t len = 120 + pick(10) * 60;
            place(track, t, t + len);
            t += len + (track == kLayerA ? -std::min<int64_t>(len, 60) * pick(2) : pick(3) * 60);
        }
    }
    ASSERT_EQ(project.checkConsistency(), "");

    for (int step = 0; step < 400; ++step) {
        ZEFItem* item = anyItem();
        if (!item) {
            const int32_t track = pick(3);
            place(track, project.trackEnd(track).ticks(), project.trackEnd(track).ticks() + 300);
            continue;
        }
        const std::string what = edit(item, false);
        ASSERT_EQ(project.checkConsistency(), "") << "step " << step << " " << what;
    }
}

TEST_P(RandomEditTest, TracksStoredAgainstTheNeighbourRulesStaySafeToEdit)
{
    // Items at random places in random order: overlapping on the overlays, passing their
    // successors on Layer A, stored after items that start later.
    for (int32_t track : {kLayerA, kLayerB, kLayerC})
        for (int i = 0; i < 6; ++i) {
            const int64_t start = pick(100) * 60;
            ZEFItem* item = place(track, 0, 0);
            item->assignStart(EditTime::raw(start));
            item->assignEnd(EditTime::raw(start + pick(40) * 60));
        }
    auto bytes = [&] {
        storage::MemoryStream s;
        EXPECT_EQ(project.writeProject(s), 0);
        return s.bytes();
    };
    storage::MemoryStream file(bytes());
    ASSERT_EQ(project.readProject(file), 0) << "opened as stored";
    ASSERT_NE(project.checkConsistency(), "");
    const std::vector<uint8_t> opened = bytes();

    for (int step = 0; step < 45; ++step) {
        ZEFItem* item = anyItem();
        if (!item) continue;
        project.undoHistory().recordUndo(-1, "step %d", step);
        const std::string what = edit(item, true);
        ASSERT_EQ(project.checkConsistency(false), "") << "step " << step << " " << what;
        for (int32_t track = 0; track < kTrackCount; ++track)
            for (size_t i = 0; i < project.device(track).size(); ++i) {
                const ZEFItem* it = project.device(track).at(i);
                ASSERT_GE(it->getStart().ticks(), 0) << "step " << step << " " << what;
                ASSERT_LE(it->getStart(), it->getEnd()) << "step " << step << " " << what;
            }
    }
    project.undoHistory().undo(45);
    EXPECT_EQ(bytes(), opened) << "undone to the state as opened";
    project.reset(true); // the fixture checks the neighbour rules at the end
}

INSTANTIATE_TEST_SUITE_P(Seeds, RandomEditTest, ::testing::Range(1, 21));
