#include "project_file_fixture.h"

using namespace zef;
using namespace zef::test;

namespace {

// Reads what `from` wrote into a second project that has its own user interface and opener.
class OpenOnLoadTest : public ProjectFileTest {
protected:
    OpenOnLoadTest()
    {
        target.setClipOpener(&targetOpener);
        target.setUserInterface(&ui);
        target.addObserver(&targetViews);
    }

    int load()
    {
        saved = projectBytes(project);
        storage::MemoryStream in(saved);
        int rc = target.readProject(in);
        EXPECT_EQ(in.tell(), in.size()) << "the stream stays in step whatever the outcome";
        EXPECT_EQ(target.checkConsistency(), "");
        return rc;
    }

    ZEFSourceItem* clipAt(int32_t track, size_t i)
    {
        return dynamic_cast<ZEFSourceItem*>(target.device(track).at(i));
    }

    std::vector<uint8_t> saved;
    FProject target;
    MediaOpener targetOpener;
    Recorder targetViews;
};

} // namespace

TEST_F(OpenOnLoadTest, RetryLocatesTheFileAndRelinksTheNextClipWithoutAsking)
{
    addClip(kLayerA, "C:\\old\\clips\\a.mov", 30, 0, true);
    addClip(kLayerA, "C:\\old\\clips\\b.mov", 30, 1200, true);
    targetOpener.files = {{"D:\\new\\clips\\a.mov", 30}, {"D:\\new\\clips\\b.mov", 30}};
    ui.answers = {Answer::Retry};
    ui.filesToOpen = {"D:\\new\\clips\\a.mov"};

    ASSERT_EQ(load(), 0);
    ASSERT_EQ(ui.asked.size(), 1u);
    EXPECT_EQ(ui.asked[0].text,
              "Cannot open file\nC:\\old\\clips\\a.mov\n\nPress Abort to delete "
              "the clip\nPress Retry if you want to locate the file for yourself");
    EXPECT_EQ(ui.asked[0].buttons, Buttons::AbortRetryIgnore);
    EXPECT_EQ(ui.asked[0].icon, Icon::Information);
    EXPECT_EQ(ui.asked[0].defaultButton, Answer::Ignore);
    EXPECT_EQ(ui.openDialogs, 1);
    EXPECT_EQ(target.oldPrefixes, std::vector<std::string>{"C:\\old"});
    EXPECT_EQ(target.newPrefixes, std::vector<std::string>{"D:\\new"});
    ASSERT_EQ(target.device(kLayerA).size(), 2u);
    EXPECT_EQ(clipAt(kLayerA, 0)->path(), "D:\\new\\clips\\a.mov");
    EXPECT_EQ(clipAt(kLayerA, 1)->path(), "D:\\new\\clips\\b.mov");
    EXPECT_FALSE(clipAt(kLayerA, 0)->invalid());
    EXPECT_TRUE(clipAt(kLayerA, 1)->isOpen());
    EXPECT_EQ(targetOpener.attempts,
              (std::vector<std::string>{"C:\\old\\clips\\a.mov", "D:\\new\\clips\\a.mov",
                                        "C:\\old\\clips\\b.mov", "D:\\new\\clips\\b.mov"}));
}

TEST_F(OpenOnLoadTest, IgnoreKeepsTheClipInvalidAndItIsSavedBackUnchanged)
{
    addClip(kLayerB, "/media/here.mov", 30, 0);
    ZEFSourceItem* gone = addClip(kLayerB, "/gone/clip.mov", 60, 1200, true);
    gone->setScaleType(1);
    gone->setScaleFactor(2.0f);
    gone->addFilter(std::make_unique<ZEFEffectItem>(&project, kLayerB, gone));
    targetOpener.files = {{"/media/here.mov", 30}};
    ui.answers = {Answer::Ignore};

    ASSERT_EQ(load(), 0);
    EXPECT_EQ(ui.asked.size(), 1u);
    ASSERT_EQ(target.device(kLayerB).size(), 2u);
    EXPECT_TRUE(clipAt(kLayerB, 1)->invalid());
    EXPECT_FALSE(clipAt(kLayerB, 1)->isOpen());
    EXPECT_EQ(projectBytes(target), saved);
}

TEST_F(OpenOnLoadTest, AbortOrACancelledLocateDropsOnlyThatClipAndSaysNothing)
{
    addClip(kLayerB, "/media/first.mov", 30, 0);
    addClip(kLayerB, "/gone/aborted.mov", 30, 1200, true);
    place(kLayerB, 2400, 3000);
    addClip(kLayerB, "/gone/not-located.mov", 30, 3000, true);
    addClip(kLayerB, "/media/last.mov", 30, 6000);
    targetOpener.files = {{"/media/first.mov", 30}, {"/media/last.mov", 30}};
    ui.answers = {Answer::Abort, Answer::Retry};
    ui.filesToOpen = {""}; // the locate dialog is cancelled

    ASSERT_EQ(load(), 0);
    EXPECT_EQ(ui.asked.size(), 2u) << "the two questions and no message box";
    EXPECT_TRUE(targetViews.errors.empty());
    EXPECT_TRUE(target.oldPrefixes.empty());
    ASSERT_EQ(target.device(kLayerB).size(), 3u);
    EXPECT_EQ(clipAt(kLayerB, 0)->path(), "/media/first.mov");
    EXPECT_EQ(dynamic_cast<ZEFSourceItem*>(target.device(kLayerB).at(1)), nullptr);
    EXPECT_EQ(clipAt(kLayerB, 2)->path(), "/media/last.mov");
}

TEST_F(OpenOnLoadTest, AClipThatFailsWithAMessageIsReportedAndOnlyItIsLost)
{
    addClip(kLayerC, "/media/one.mov", 30, 0);
    addClip(kLayerC, "/media/empty.mov", 30, 1200);
    addClip(kLayerC, "/media/two.mov", 30, 2400);
    targetOpener.files = {{"/media/one.mov", 30}, {"/media/empty.mov", -1}, {"/media/two.mov", 30}};

    ASSERT_EQ(load(), 0);
    ASSERT_EQ(ui.asked.size(), 1u);
    EXPECT_EQ(ui.asked[0].text, "Invalid file");
    EXPECT_EQ(ui.asked[0].title, "Error");
    EXPECT_EQ(ui.asked[0].buttons, Buttons::Ok);
    EXPECT_EQ(ui.asked[0].icon, Icon::Exclamation);
    ASSERT_EQ(target.device(kLayerC).size(), 2u);
    EXPECT_EQ(clipAt(kLayerC, 1)->path(), "/media/two.mov");
}

TEST_F(OpenOnLoadTest, SubstitutionsChainButNeverLoop)
{
    struct Case {
        std::vector<std::string> from, to;
        std::string asked; // the path asked about; empty when the clip opens
        std::string opens;
    };
    const std::vector<Case> cases = {
        {{"/a", "/b"}, {"/b", "/a"}, "/b/x.mov", ""}, // a circle
        {{"/a"}, {"/a/b"}, "/a/b/x.mov", ""},         // each result matches again
        {{"/a"}, {"/a"}, "/a/x.mov", ""},             // no change
        {{"/a", "/m"}, {"/m", "/n"}, "", "/n/x.mov"}, // a chain that arrives
    };
    addClip(kLayerA, "/a/x.mov", 30, 0, true);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.from.size() == 2 ? c.to[1] : c.to[0]);
        target.oldPrefixes = c.from;
        target.newPrefixes = c.to;
        targetOpener.files.clear();
        targetOpener.attempts.clear();
        if (!c.opens.empty()) targetOpener.files[c.opens] = 30;
        ui.asked.clear();
        ui.answers = {Answer::Ignore};

        ASSERT_EQ(load(), 0);
        ASSERT_EQ(target.device(kLayerA).size(), 1u);
        EXPECT_LE(targetOpener.attempts.size(), 5u);
        if (c.asked.empty()) {
            EXPECT_TRUE(ui.asked.empty());
            EXPECT_EQ(clipAt(kLayerA, 0)->path(), c.opens);
            EXPECT_FALSE(clipAt(kLayerA, 0)->invalid());
        } else {
            ASSERT_EQ(ui.asked.size(), 1u);
            EXPECT_NE(ui.asked[0].text.find("\n" + c.asked + "\n"), std::string::npos)
                << ui.asked[0].text;
            EXPECT_TRUE(clipAt(kLayerA, 0)->invalid());
        }
    }
}

TEST(PathSubstitution, TheCommonEndingIsLeftOut)
{
    std::vector<std::string> from, to;
    learnPathSubstitution("C:\\old\\clips\\a.mov", "D:\\new\\clips\\a.mov", from, to);
    EXPECT_EQ(from, std::vector<std::string>{"C:\\old"});
    EXPECT_EQ(to, std::vector<std::string>{"D:\\new"});
    learnPathSubstitution("C:\\old\\clips\\b.mov", "D:\\new\\clips\\b.mov", from, to);
    EXPECT_EQ(from.size(), 1u) << "a pair already known";
    learnPathSubstitution("/same/a.mov", "/same/a.mov", from, to);
    learnPathSubstitution("a.mov", "/moved/a.mov", from, to);
    EXPECT_EQ(from.size(), 1u) << "an empty old prefix would match every path";
    learnPathSubstitution("/x/a.mov", "/y/b.mov", from, to);
    EXPECT_EQ(from.back(), "/x/a");
    EXPECT_EQ(to.back(), "/y/b");
}
