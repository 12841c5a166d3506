// The program's host callbacks as a plug-in calls them: answers without an open effect dialog,
// the transition found at a time, and copies bounded by the parameter blocks.
#include "app/capture/host_callbacks.h"
#include "model/item.h"
#include "model/project.h"
#include "model/source_item.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>

using namespace zef;
using namespace zef::app;

namespace {

ZEFSourceItem* addClip(FProject& project, int64_t start, int64_t end)
{
    auto clip = std::make_unique<ZEFSourceItem>(&project, 0);
    clip->assignStart(EditTime(start));
    clip->assignEnd(EditTime(end));
    ZEFSourceItem* raw = clip.get();
    project.addItem(std::move(clip), false, false);
    return raw;
}

ZEFEffectItem* transitionOf(FProject& project, ZEFItem* item, std::vector<uint8_t> parameters)
{
    if (!item->transition())
        item->setTransition(std::make_unique<ZEFEffectItem>(&project, 0, item));
    item->transition()->setEffectParameters(movies::Handle(parameters.data(), parameters.size()));
    return item->transition();
}

} // namespace

TEST(HostCallbacks, CopiesAreBoundedByTheBlocksAndNeedAnOpenDialog)
{
    FProject project;
    ZEFSourceItem* a = addClip(project, 0, 6000);     // 0 to 10 s
    ZEFSourceItem* b = addClip(project, 4800, 12000); // 8 to 20 s: they overlap from 8 to 10 s
    ZEFEffectItem* cross = transitionOf(project, a, {1, 2, 3, 4});
    ZEFEffectItem* last = transitionOf(project, b, {7});
    struct Drawn {
        const ZEFSourceItem* clip = nullptr;
        int64_t ticks = -1;
    } drawn;
    HostContext context;
    context.project = &project;
    context.drawClip = [&](const ZEFSourceItem& clip, int64_t ticks, uint8_t*, int32_t, int32_t) {
        drawn = {&clip, ticks};
        return true;
    };
    registerHostContext(&context);

    std::array<uint8_t, 8> buffer;
    buffer.fill(0xEE);
    const std::array<uint8_t, 8> untouched = buffer;
    // No effect dialog open: every data callback answers 0 and copies nothing.
    EXPECT_EQ(hostSaveData(buffer.data(), 8), 0);
    EXPECT_EQ(hostLoadData(buffer.data(), 8), 0);
    EXPECT_EQ(hostGetFrame(0, 1, buffer.data(), 1, 1), 0);
    EXPECT_EQ(buffer, untouched);
    EXPECT_EQ(hostIsPreviewMode(), 1);

    // The transition in force: strictly inside the overlap only; a longer destination gets the
    // block's 4 bytes and zeros.
    EXPECT_EQ(hostFillDataFromTime(buffer.data(), 8, 8, 1), 0);  // the second clip's start
    EXPECT_EQ(hostFillDataFromTime(buffer.data(), 8, 10, 1), 0); // the first clip's end
    EXPECT_EQ(buffer, untouched);
    EXPECT_EQ(hostFillDataFromTime(buffer.data(), 8, 9, 1), 1);
    EXPECT_EQ(buffer, (std::array<uint8_t, 8>{1, 2, 3, 4, 0, 0, 0, 0}));
    EXPECT_EQ(hostFillDataFromTime(buffer.data(), -1, 9, 1), 0);
    EXPECT_EQ(hostFillDataFromTime(buffer.data(), 8, 9, 0), 0); // no time scale

    // With the transition's dialog open: a longer load fills the block and keeps its size.
    project.editedEffect = cross;
    const std::array<uint8_t, 8> nines{9, 9, 9, 9, 9, 9, 9, 9};
    EXPECT_EQ(hostLoadData(nines.data(), 8), 1);
    EXPECT_EQ(cross->effectParameters().size(), 4u);
    buffer.fill(0xEE);
    EXPECT_EQ(hostSaveData(buffer.data(), 8), 1);
    EXPECT_EQ(buffer, (std::array<uint8_t, 8>{9, 9, 9, 9, 0, 0, 0, 0}));
    EXPECT_EQ(hostSaveData(buffer.data(), kMaxHostBlock + 1), 0);
    // Frame 30 of the second clip at 30 fps: one second after its start.
    EXPECT_EQ(hostGetFrame(30, 1, buffer.data(), 1, 1), 1);
    EXPECT_EQ(drawn.clip, b);
    EXPECT_EQ(drawn.ticks, 4800 + 600);

    // An effect whose owner is the last clip has no frames around it.
    project.editedEffect = last;
    drawn = {};
    EXPECT_EQ(hostGetFrame(0, 0, buffer.data(), 1, 1), 0);
    EXPECT_EQ(drawn.clip, nullptr);

    // The item going clears the edited effect.
    project.editedEffect = cross;
    ASSERT_TRUE(project.removeItemAt(0, 0, false));
    EXPECT_EQ(project.editedEffect, nullptr);
    registerHostContext(nullptr);
}
