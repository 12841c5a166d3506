// Long random edit sequences must keep every track within its neighbour rules.
#include "model_fixture.h"

#include <random>

using namespace zef;
using namespace zef::test;

namespace {

class RandomEditTest : public ModelTest, public ::testing::WithParamInterface<int> {};

} // namespace

TEST_P(RandomEditTest, OperationsKeepTheTracksConsistent)
{
    std::mt19937 rng{static_cast<uint32_t>(GetParam())};
    auto pick = [&](int n) { return int(rng() % uint32_t(n)); };
    auto time = [&] { return EditTime(int64_t(pick(200)) * 60); };
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
        int32_t track = pick(3);
        FDevice& d = project.device(track);
        if (d.empty()) {
            place(track, project.trackEnd(track).ticks(), project.trackEnd(track).ticks() + 300);
            continue;
        }
        ZEFItem* item = d.at(size_t(pick(int(d.size()))));
        std::string what;
        switch (pick(7)) {
        case 0:
            what = "moveTo";
            item->moveTo(time(), pick(2) == 0);
            break;
        case 1:
            what = "trimStart";
            item->trimStart(time(), pick(2), pick(2) == 0);
            break;
        case 2:
            what = "trimEnd";
            item->trimEnd(time(), pick(2), pick(2) == 0);
            break;
        case 3:
            what = "pushShift";
            item->pushShift(pick(2) ? 60 * pick(20) : -60 * pick(20));
            break;
        case 4:
            what = "rippleShift";
            item->rippleShift(pick(2) ? 60 * pick(20) : -60 * pick(20));
            break;
        case 5:
            what = "moveItem";
            project.moveItem(track, d.indexOf(item), pick(3), pick(4) - 1, pick(2) == 0);
            break;
        case 6:
            what = "removeItemAt";
            project.removeItemAt(track, d.indexOf(item), pick(2) == 0);
            break;
        }
        ASSERT_EQ(project.checkConsistency(), "") << "step " << step << " " << what;
    }
}

INSTANTIATE_TEST_SUITE_P(Seeds, RandomEditTest, ::testing::Range(1, 21));
