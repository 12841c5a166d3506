#include "project_file_fixture.h"

#include "model/template_list.h"
#include "platform/storage/compound_file.h"

#include <algorithm>
#include <fstream>
#include <random>

using namespace zef;
using namespace zef::test;

namespace {

// A project stream written by hand, as a program of the given version wrote it: a Layer B
// track record holding one clip whose own track field says Layer A, and one keyframe.
std::vector<uint8_t> handWrittenProject(int32_t version)
{
    storage::MemoryStream s;
    storage::StreamWriter w(s);
    auto time = [&](int64_t ticks, int32_t rateNum = 0) {
        w.int64(ticks);
        w.int64(600);
        w.int32(rateNum);
        w.int32(1);
        if (version >= 5) w.int32(0);
    };
    auto matrix = [&](const movies::MatrixRecord& m) {
        for (const auto& row : m.m)
            for (int32_t v : row)
                w.int32(v);
    };
    auto base = [&](int32_t track, const char* name, int64_t start, int64_t end) {
        w.int32(track);
        w.string(name);
        time(start);
        time(end);
        w.int32(0x808080);
        w.int32(-1);
    };
    auto emptyTrack = [&] {
        w.int32(0);
        w.int32(0);
        w.int32(1);
    };

    w.int32(2);
    w.int32(version);
    CProjectTemplate t = CProjectTemplate::builtInDefaults();
    t.name = "Old";
    t.frameRate = 30 << 16;
    t.write(w);
    w.int32(1);  // previewFlag
    w.int32(5);  // captureRate
    w.int32(20); // captureTime
    w.int32(1);  // captureMode
    w.string("old.avi");
    time(0);
    time(1200);
    w.int32(0x55555555);

    emptyTrack(); // Layer A
    w.int32(1);   // Layer B: one item
    w.int32(0);   // a clip
    base(kLayerA, "old", 600, 1200);
    base(kLayerA, "Cross Fade", 0, 0);
    w.blob({});
    w.blob({});
    w.int32(0); // filters
    time(0, 30);
    time(600, 30);
    w.string("/old/old.mov");
    w.micro(1.5);
    w.int32(1); // scaleType
    w.int32(0);
    w.int32(0);
    matrix(movies::MatrixRecord::identity());
    matrix(movies::MatrixRecord::identity());
    w.int32(256);
    for (int32_t v : {0, 0, 0x10000, 0x10000})
        w.int32(v);
    w.int32(0);                   // placementMode
    if (version >= 9) w.int32(1); // fitToAspect
    w.int32(1);                   // keyframes
    time(600);
    matrix(movies::MatrixRecord::translation(7, 9));
    w.int32(0); // Layer B disabled
    emptyTrack();
    emptyTrack();
    emptyTrack();
    w.int32(0x55555555);
    for (int i = 0; i < 7; ++i) {
        for (int32_t v : {i, i + 1, i + 100, i + 200})
            w.int32(v);
        w.int32(i % 2);
    }
    w.int32(0); // renderEndFollowsProject
    return s.bytes();
}

// The offset of needle in haystack, or -1.
ptrdiff_t find(const std::vector<uint8_t>& haystack, const std::vector<uint8_t>& needle)
{
    auto it = std::search(haystack.begin(), haystack.end(), needle.begin(), needle.end());
    return it == haystack.end() ? -1 : it - haystack.begin();
}

} // namespace

// ---- the project stream

TEST_F(ProjectFileTest, StreamStartsWithMagicVersionAndTemplateName)
{
    CProjectTemplate t = CProjectTemplate::builtInDefaults();
    t.name = "VHS";
    project.setComposition(t);
    std::vector<uint8_t> bytes = projectBytes(project);
    ASSERT_GE(bytes.size(), 14u);
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.begin() + 14),
              (std::vector<uint8_t>{2, 0, 0, 0, 9, 0, 0, 0, 4, 0, 'V', 'H', 'S', 0}));
}

TEST_F(ProjectFileTest, ScaleFactorIsStoredInMillionths)
{
    ZEFSourceItem* c = addClip(kLayerC, "/media/scaled.mov", 30, 0);
    c->setScaleType(1);
    c->setScaleFactor(1.5f);
    std::vector<uint8_t> bytes = projectBytes(project);
    std::string path = "/media/scaled.mov";
    std::vector<uint8_t> needle(path.begin(), path.end());
    needle.push_back(0);
    for (uint8_t b : {0x60, 0xE3, 0x16, 0x00}) // 1,500,000
        needle.push_back(b);
    EXPECT_GE(find(bytes, needle), 0);
}

TEST_F(ProjectFileTest, RichProjectRoundTripsByteForByte)
{
    buildRichProject();
    const std::vector<uint8_t> saved = projectBytes(project);

    FProject other;
    EditRateContext::Scope scope(other.rateContext());
    other.setClipOpener(&opener);
    storage::MemoryStream in(saved);
    ASSERT_EQ(other.readProject(in), 0);
    EXPECT_EQ(in.tell(), in.size());
    EXPECT_EQ(other.checkConsistency(), "");
    EXPECT_EQ(projectBytes(other), saved);

    // What was read, spot-checked beyond the bytes.
    EXPECT_EQ(other.composition().name, "Rich Template");
    EXPECT_EQ(other.composition().frameRate, 25 << 16);
    EXPECT_EQ(other.rateContext().frameRate(), 25 << 16);
    EXPECT_EQ(other.panels, project.panels);
    EXPECT_FALSE(other.renderEndFollowsProject);
    EXPECT_EQ(other.renderEnd.extra(), 1);
    EXPECT_FALSE(other.device(kLayerC).enabled());
    EXPECT_EQ(other.device(kLayerA).keyframes().size(), 2u);
    auto* invalid = dynamic_cast<ZEFSourceItem*>(other.device(kLayerB).at(1));
    ASSERT_NE(invalid, nullptr);
    EXPECT_TRUE(invalid->invalid());
    EXPECT_EQ(invalid->path(), "/gone/b1.mov");
    auto* c0 = dynamic_cast<ZEFSourceItem*>(other.device(kLayerC).at(0));
    ASSERT_NE(c0, nullptr);
    EXPECT_FALSE(c0->invalid());
    EXPECT_TRUE(c0->isOpen());
    EXPECT_FLOAT_EQ(c0->scaleFactor(), 1.5f);
    auto* title = dynamic_cast<ZEFTitlerEffect*>(other.device(kTitleTrack).at(0));
    ASSERT_NE(title, nullptr);
    EXPECT_EQ(title->text(), "Hello\rWorld");
    EXPECT_EQ(title->style().size, 48);
    EXPECT_EQ(other.device(kLayerA).at(0)->filterCount(), 1u);
}

TEST_F(ProjectFileTest, OlderVersionsLoadAndItemsGoToTheTrackTheyName)
{
    for (int32_t version : {4, 9}) {
        SCOPED_TRACE(version);
        FProject p;
        EditRateContext::Scope scope(p.rateContext());
        storage::MemoryStream in(handWrittenProject(version));
        ASSERT_EQ(p.readProject(in), 0);
        EXPECT_EQ(in.tell(), in.size()) << "every field read, no more";
        EXPECT_EQ(p.checkConsistency(), "");
        // Stored in the Layer B record, but its own track field says Layer A.
        ASSERT_EQ(p.device(kLayerA).size(), 1u);
        EXPECT_EQ(p.device(kLayerB).size(), 0u);
        auto* c = dynamic_cast<ZEFSourceItem*>(p.device(kLayerA).at(0));
        ASSERT_NE(c, nullptr);
        EXPECT_EQ(c->path(), "/old/old.mov");
        EXPECT_EQ(c->getStart().ticks(), 600);
        EXPECT_FLOAT_EQ(c->scaleFactor(), 1.5f);
        EXPECT_EQ(c->fitToAspect(), version >= 9);
        // The keyframes and flag stay with the record they were stored in.
        ASSERT_EQ(p.device(kLayerB).keyframes().size(), 1u);
        EXPECT_EQ(p.device(kLayerB).keyframes()[0].time.ticks(), 600);
        EXPECT_FALSE(p.device(kLayerB).enabled());
        EXPECT_EQ(p.composition().name, "Old");
        EXPECT_TRUE(p.previewFlags[0]);
        EXPECT_EQ(p.captureTime, 20);
        EXPECT_EQ(p.captureFileName, "old.avi");
        EXPECT_EQ(p.renderEnd.ticks(), 1200);
        EXPECT_FALSE(p.renderEndFollowsProject);
        // Seven panel records: the Clip Deck's second one is read and not used.
        EXPECT_EQ(p.panels[kPanelClipDeck].rect, (movies::Rect{0, 1, 100, 200}));
        EXPECT_FALSE(p.panels[kPanelClipDeck].visible);
        EXPECT_EQ(p.panels[kPanelInfoDeck].rect, (movies::Rect{2, 3, 102, 202}));
        EXPECT_EQ(p.panels[kPanelPreviewDeck].rect, (movies::Rect{6, 7, 106, 206}));

        // Saving writes version 9, which reads back to the same project.
        std::vector<uint8_t> saved = projectBytes(p);
        EXPECT_EQ(std::vector<uint8_t>(saved.begin(), saved.begin() + 8),
                  (std::vector<uint8_t>{2, 0, 0, 0, 9, 0, 0, 0}));
        FProject again;
        EditRateContext::Scope scope2(again.rateContext());
        storage::MemoryStream in2(saved);
        ASSERT_EQ(again.readProject(in2), 0);
        EXPECT_EQ(projectBytes(again), saved);
    }
}

TEST_F(ProjectFileTest, DamagedStreamsAreRejected)
{
    buildRichProject();
    const std::vector<uint8_t> good = projectBytes(project);
    auto rejected = [&](std::vector<uint8_t> bytes) {
        FProject p;
        EditRateContext::Scope scope(p.rateContext());
        storage::MemoryStream in(std::move(bytes));
        return p.readProject(in) == -1;
    };
    std::vector<uint8_t> b = good;
    b[0] = 3;
    EXPECT_TRUE(rejected(b)) << "magic";
    // The first separator follows the render range, which ends 28 bytes before it.
    const std::vector<uint8_t> sep{0x55, 0x55, 0x55, 0x55};
    ptrdiff_t first = find(good, sep);
    ASSERT_GT(first, 0);
    b = good;
    b[size_t(first)] = 0x54;
    EXPECT_TRUE(rejected(b)) << "first separator";
    // The second separator lies 7 × 20 + 4 bytes before the end.
    b = good;
    b[good.size() - 4 - 7 * 20 - 4] = 0;
    EXPECT_TRUE(rejected(b)) << "second separator";
    // A frame rate of 0 cannot drive the project's times.
    storage::MemoryStream rich, zero;
    storage::StreamWriter rw(rich), zw(zero);
    project.composition().write(rw);
    CProjectTemplate t = project.composition();
    t.frameRate = 0;
    t.write(zw);
    b.assign(good.begin(), good.begin() + 8);
    b.insert(b.end(), zero.bytes().begin(), zero.bytes().end());
    b.insert(b.end(), good.begin() + 8 + ptrdiff_t(rich.bytes().size()), good.end());
    ASSERT_EQ(b.size(), good.size());
    EXPECT_TRUE(rejected(b)) << "frame rate 0";
    b.assign(good.begin(), good.begin() + 8);
    b.insert(b.end(), rich.bytes().begin(), rich.bytes().end());
    b.insert(b.end(), good.begin() + 8 + ptrdiff_t(rich.bytes().size()), good.end());
    EXPECT_FALSE(rejected(b)) << "the splice itself is sound";
    for (size_t cut = 0; cut < good.size(); cut += 37)
        EXPECT_TRUE(rejected(std::vector<uint8_t>(good.begin(), good.begin() + ptrdiff_t(cut))))
            << "cut at " << cut;
}

// ---- saving

TEST_F(ProjectFileTest, SavingAnUntitledProjectAsksForAName)
{
    project.setUserInterface(&ui);
    const std::string dir = testDir();
    place(kLayerB, 0, 600);
    ASSERT_TRUE(project.modified);
    ASSERT_EQ(project.filePath, "Untitled");

    ui.filesToSave = {"", dir + "/clip.mov", dir + "/first.ZEF"};
    EXPECT_EQ(project.saveProject(false, false, false), 0) << "dialog cancelled";
    EXPECT_EQ(project.saveProject(false, false, false), 0) << "not a project file";
    ASSERT_EQ(ui.asked.size(), 1u);
    EXPECT_EQ(ui.asked[0].text, "Not A Project File");
    EXPECT_EQ(ui.asked[0].title, "Error");
    EXPECT_EQ(ui.asked[0].buttons, Buttons::Ok);
    EXPECT_FALSE(std::filesystem::exists(dir + "/clip.mov"));
    EXPECT_EQ(project.filePath, "Untitled");

    EXPECT_EQ(project.saveProject(false, false, false), 1);
    EXPECT_EQ(ui.saveDialogs, 3);
    EXPECT_EQ(ui.saveInitialPaths[0], "Untitled.ZEF");
    EXPECT_EQ(ui.saveFilters[0], "ZEF Project Files (*.ZEF)|*.ZEF|ZEF");
    EXPECT_EQ(project.filePath, dir + "/first");
    EXPECT_EQ(project.fileName(), dir + "/first.ZEF");
    EXPECT_FALSE(project.modified);
    EXPECT_EQ(views.titles.back(), "first - ZEF Rondavo");
    EXPECT_EQ(fileBytes(dir + "/first.ZEF"), projectBytes(project));

    // Named now: no dialog, unless asked for.
    place(kLayerB, 600, 1200);
    EXPECT_EQ(project.saveProject(false, false, false), 1);
    EXPECT_EQ(ui.saveDialogs, 3);
    ui.filesToSave = {dir + "/second.zef"};
    EXPECT_EQ(project.saveProject(true, false, false), 1) << "the extension ignores case";
    EXPECT_EQ(project.fileName(), dir + "/second.zef");
    EXPECT_TRUE(std::filesystem::exists(dir + "/second.zef"));
    EXPECT_FALSE(std::filesystem::exists(dir + "/second.ZEF"));

    // A project reset to "untitled" asks again.
    project.reset(true);
    EXPECT_EQ(project.saveProject(false, false, false), 0);
    EXPECT_EQ(ui.saveDialogs, 5);
}

TEST_F(ProjectFileTest, SavingAsksFirstAndSkipsUnmodifiedProjects)
{
    project.setUserInterface(&ui);
    const std::string dir = testDir();
    project.filePath = dir + "/p";
    EXPECT_EQ(project.saveProject(false, true, true), 0) << "nothing to save";
    EXPECT_TRUE(ui.asked.empty());

    place(kLayerB, 0, 600);
    ui.answers = {Answer::No, Answer::Cancel, Answer::Yes};
    EXPECT_EQ(project.saveProject(false, true, true), 0);
    EXPECT_EQ(project.saveProject(false, true, true), -1);
    EXPECT_FALSE(std::filesystem::exists(dir + "/p.ZEF"));
    EXPECT_EQ(project.saveProject(false, true, true), 1);
    ASSERT_EQ(ui.asked.size(), 3u);
    EXPECT_EQ(ui.asked[0].text, "Do you want to save your changes to " + dir + "/p.ZEF ?");
    EXPECT_EQ(ui.asked[0].buttons, Buttons::YesNoCancel);
    EXPECT_TRUE(std::filesystem::exists(dir + "/p.ZEF"));
    EXPECT_EQ(ui.saveDialogs, 0);
}

TEST_F(ProjectFileTest, AFailedSaveLeavesTheOldFileAndTheProjectAsTheyWere)
{
    const std::string dir = testDir();
    project.filePath = dir + "/missing-folder/p";
    place(kLayerB, 0, 600);
    EXPECT_EQ(project.saveProject(false, false, false), 0);
    EXPECT_TRUE(project.modified);
    EXPECT_EQ(project.filePath, dir + "/missing-folder/p");

    // A file that another open holds cannot be replaced; it keeps its contents.
    project.filePath = dir + "/held";
    ASSERT_EQ(project.saveProject(false, false, false), 1);
    const std::vector<uint8_t> old = fileBytes(dir + "/held.ZEF");
    place(kLayerB, 600, 1200);
    {
        auto holder =
            storage::CompoundFile::open(dir + "/held.ZEF", storage::CompoundFile::Mode::ReadWrite);
        ASSERT_TRUE(holder.ok());
        EXPECT_EQ(project.saveProject(false, false, false), 0);
        EXPECT_TRUE(project.modified);
    }
    EXPECT_EQ(fileBytes(dir + "/held.ZEF"), old);
    EXPECT_EQ(project.saveProject(false, false, false), 1);
    EXPECT_EQ(fileBytes(dir + "/held.ZEF"), projectBytes(project));
}

// ---- opening

TEST_F(ProjectFileTest, OpeningReplacesTheProjectAndRegistersItsTemplate)
{
    const std::string dir = testDir();
    buildRichProject();
    project.filePath = dir + "/rich";
    ASSERT_EQ(project.saveProject(false, false, false), 1);
    const std::vector<uint8_t> saved = projectBytes(project);

    FProject other(&settings);
    EditRateContext::Scope scope(other.rateContext());
    Recorder otherViews;
    other.addObserver(&otherViews);
    other.setClipOpener(&opener);
    other.setUserInterface(&ui);
    TemplateList templates;
    templates.append(CProjectTemplate::builtInDefaults());
    other.setTemplateList(&templates);
    other.undoHistory().recordUndo(kLayerA, "Something");
    other.oldPrefixes = {"/x"};
    other.newPrefixes = {"/y"};

    ASSERT_EQ(other.openProject(dir + "/rich"), 1);
    EXPECT_EQ(other.checkConsistency(), "");
    EXPECT_EQ(projectBytes(other), saved);
    EXPECT_EQ(other.filePath, dir + "/rich");
    EXPECT_FALSE(other.modified);
    EXPECT_EQ(other.undoHistory().undoCount(), 0);
    EXPECT_EQ(other.oldPrefixes.size(), 1u) << "remembered substitutions are kept";
    EXPECT_EQ(otherViews.titles.back(), "rich - ZEF Rondavo");
    ASSERT_EQ(otherViews.panelLayouts.size(), 1u);
    EXPECT_EQ(otherViews.panelLayouts[0], project.panels);
    ASSERT_EQ(templates.size(), 2u);
    EXPECT_EQ(templates.at(1).name, "Rich Template");
    EXPECT_FALSE(templates.at(1).builtIn);
    // The invalid clip was asked about; the scripted box closed without an answer keeps it.
    ASSERT_EQ(ui.asked.size(), 1u);
    EXPECT_NE(ui.asked[0].text.find("/gone/b1.mov"), std::string::npos);
    EXPECT_EQ(other.device(kLayerB).size(), 2u);
}

TEST_F(ProjectFileTest, OpeningFindsALowerCaseExtensionAndKeepsIt)
{
    const std::string dir = testDir();
    place(kLayerB, 0, 600);
    ASSERT_EQ(writeCompoundStreamAtomically(dir + "/lower.zef", "Header", projectBytes(project)),
              0);
    FProject other;
    EditRateContext::Scope scope(other.rateContext());
    ASSERT_EQ(other.openProject(dir + "/lower"), 1);
    EXPECT_EQ(other.device(kLayerB).size(), 1u);
    EXPECT_EQ(other.fileName(), dir + "/lower.zef");
    // Saving goes back to the same file rather than making a second one beside it.
    other.modified = true;
    ASSERT_EQ(other.saveProject(false, false, false), 1);
    EXPECT_FALSE(std::filesystem::exists(dir + "/lower.ZEF"));
    // A new project forgets it.
    other.newProject();
    EXPECT_EQ(other.fileName(), "untitled.ZEF");

    // The upper-case name wins when both exist.
    FProject upper;
    EditRateContext::Scope scope2(upper.rateContext());
    ASSERT_EQ(writeCompoundStreamAtomically(dir + "/lower.ZEF", "Header", projectBytes(upper)), 0);
    ASSERT_EQ(other.openProject(dir + "/lower"), 1);
    EXPECT_EQ(other.device(kLayerB).size(), 0u);
    EXPECT_EQ(other.fileName(), dir + "/lower.ZEF");
}

TEST_F(ProjectFileTest, OpenDialogAndUnreadableFiles)
{
    project.setUserInterface(&ui);
    const std::string dir = testDir();
    buildRichProject();
    project.filePath = dir + "/mine";
    project.modified = true;
    project.undoHistory().recordUndo(-1, "Kept %d", 1);
    const std::vector<uint8_t> before = projectBytes(project);

    ui.filesToOpen = {""};
    EXPECT_EQ(project.openProject(""), 0);
    EXPECT_EQ(ui.openFilters[0], "ZEF Project Files (*.ZEF)|*.ZEF|ZEF");

    auto unchanged = [&] {
        EXPECT_EQ(projectBytes(project), before);
        EXPECT_EQ(project.filePath, dir + "/mine");
        EXPECT_TRUE(project.modified);
        EXPECT_EQ(project.undoHistory().undoLabels(), std::vector<std::string>{"Kept 1"});
        EXPECT_EQ(project.checkConsistency(), "");
    };
    const int timelineBefore = views.timeline;
    EXPECT_EQ(project.openProject(dir + "/nothing-here"), -1);
    EXPECT_GT(views.timeline, timelineBefore) << "views refreshed";
    unchanged();

    std::ofstream(dir + "/text.ZEF") << "not a compound file";
    EXPECT_EQ(project.openProject(dir + "/text"), -1);
    unchanged();

    ASSERT_EQ(writeCompoundStreamAtomically(dir + "/other.ZEF", "Body", {1, 2, 3}), 0);
    EXPECT_EQ(project.openProject(dir + "/other"), -1) << "no Header stream";
    unchanged();
}

TEST_F(ProjectFileTest, AFileThatFailsToReadLeavesTheProjectExactlyAsItWas)
{
    const std::string dir = testDir();
    buildRichProject();
    const std::vector<uint8_t> good = projectBytes(project);

    // The project open now is a different one, with history and a name.
    FProject current(&settings);
    EditRateContext::Scope scope(current.rateContext());
    current.setClipOpener(&opener);
    opener.files["/media/mine.mov"] = 40;
    auto mine = std::make_unique<ZEFSourceItem>(&current, kLayerA);
    mine->setPath("/media/mine.mov");
    mine->open(true, false, false, false);
    current.addItem(std::move(mine), false, false);
    current.panels[kPanelVcrDeck] = {{1, 2, 3, 4}, false};
    current.undoHistory().recordUndo(kLayerA, "Added");
    current.filePath = dir + "/current";
    current.modified = true;
    const std::vector<uint8_t> before = projectBytes(current);

    std::vector<std::vector<uint8_t>> damaged;
    for (size_t cut : {size_t(4), size_t(8), size_t(60), good.size() / 3, good.size() / 2,
                       good.size() - 150, good.size() - 1})
        damaged.emplace_back(good.begin(), good.begin() + ptrdiff_t(cut));
    std::vector<uint8_t> badSeparator = good;
    badSeparator[good.size() - 4 - 7 * 20 - 4] = 0;
    damaged.push_back(badSeparator);
    std::vector<uint8_t> hugeCount = good;
    // The item count of Layer A follows the first separator.
    ptrdiff_t sep = find(good, {0x55, 0x55, 0x55, 0x55});
    hugeCount[size_t(sep) + 7] = 0x7F;
    damaged.push_back(hugeCount);

    for (size_t i = 0; i < damaged.size(); ++i) {
        SCOPED_TRACE(i);
        const std::string name = dir + "/bad" + std::to_string(i);
        ASSERT_EQ(writeCompoundStreamAtomically(name + ".ZEF", "Header", damaged[i]), 0);
        EXPECT_EQ(current.openProject(name), -1);
        EXPECT_EQ(projectBytes(current), before);
        EXPECT_EQ(current.checkConsistency(), "");
        EXPECT_EQ(current.filePath, dir + "/current");
        EXPECT_TRUE(current.modified);
        EXPECT_EQ(current.undoHistory().undoCount(), 1);
        EXPECT_TRUE(current.undoHistory().buttons().undoEnabled);
        auto* clip = dynamic_cast<ZEFSourceItem*>(current.device(kLayerA).at(0));
        ASSERT_NE(clip, nullptr);
        EXPECT_TRUE(clip->isOpen());
    }
}

TEST_F(ProjectFileTest, RandomlyDamagedStreamsNeverBreakTheModel)
{
    buildRichProject();
    const std::vector<uint8_t> good = projectBytes(project);
    std::mt19937 rng(11);
    int loaded = 0;
    for (int round = 0; round < 3000; ++round) {
        std::vector<uint8_t> bytes = good;
        const int flips = 1 + int(rng() % 4);
        for (int f = 0; f < flips; ++f)
            bytes[rng() % bytes.size()] = uint8_t(rng());
        if (rng() % 4 == 0) bytes.resize(rng() % bytes.size());
        FProject p;
        EditRateContext::Scope scope(p.rateContext());
        p.setClipOpener(&opener);
        storage::MemoryStream in(bytes);
        const int rc = p.readProject(in);
        ASSERT_TRUE(rc == 0 || rc == -1);
        if (rc == 0) {
            ++loaded;
            // Damaged times are opened as stored; the structure always holds.
            ASSERT_EQ(p.checkConsistency(false), "") << "round " << round;
            // What was read is written back and reads again to the same project.
            const std::vector<uint8_t> again = projectBytes(p);
            FProject q;
            EditRateContext::Scope scope2(q.rateContext());
            storage::MemoryStream in2(again);
            ASSERT_EQ(q.readProject(in2), 0) << "round " << round;
        }
    }
    // Many damaged bytes lie in names, times and blocks and still load.
    EXPECT_GT(loaded, 300);
}
