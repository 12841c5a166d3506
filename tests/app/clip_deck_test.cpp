// The Clip Deck's commands on a project with real media files made by the ffmpeg program.
#include "app/clipdeck/clip_deck.h"

#include "model/media_clip_opener.h"
#include "tests/model/model_fixture.h"
#include "tests/model/project_file_fixture.h"
#include "tests/model/scripted_ui.h"
#include "tests/movies/test_media.h"

#include <cstring>
#include <filesystem>
#include <unistd.h>

using namespace zef;
using namespace zef::app;
using namespace zef::test;
namespace media = zef::movies::testing;
namespace fs = std::filesystem;

namespace {

// Numbered pictures at 30 fps for 1 second, no sound.
std::string silentClip()
{
    return media::generate("silent1s.mp4", media::numberedVideo(160, 120, "30", 1) +
                                               " -c:v libx264 -preset veryfast");
}

struct Catalogue : EffectLookup {
    std::vector<CPluginQT> entries;
    Catalogue()
    {
        add("Fire", 0, movies::fourcc("appl"));
        add("Cross Fade", 2, movies::fourcc("appl"));
        add("Own Generator", 0, movies::fourcc("krvI"));
        add("Clouds", 0, movies::fourcc("appl"));
    }
    void add(const char* name, int32_t sources, movies::OSType maker)
    {
        CPluginQT e;
        e.setNameText(name);
        e.sources = sources;
        e.effectType = movies::fourcc("test");
        e.manufacturer = maker;
        entries.push_back(e);
    }
    bool findEffect(const std::string& name, CPluginQT& entry) const override
    {
        for (const CPluginQT& e : entries)
            if (e.nameText() == name) {
                entry = e;
                return true;
            }
        return false;
    }
    movies::Handle makeEffectDescription(const CPluginQT&) const override
    {
        return movies::Handle("desc", 4);
    }
    std::unique_ptr<EffectComponent> openEffect(const CPluginQT&) const override { return nullptr; }
    std::vector<CPluginQT> effectList() const override { return entries; }
};

struct View : ClipDeckView {
    int beeps = 0, columns = 0, buttons = 0;
    int busyNow = 0, busyTimes = 0; // the wait cursor's depth, and how often it came up
    void busy(bool on) override
    {
        busyNow += on ? 1 : -1;
        busyTimes += on;
    }
    void beep() override { ++beeps; }
    void columnsChanged() override { ++columns; }
    void buttonsChanged() override { ++buttons; }
};

struct FakeClipboard : Clipboard {
    bool opens = true, accepts = true, isOpen = false;
    std::vector<uint8_t> block;
    int closes = 0;
    bool open() override { return isOpen = opens; }
    bool putBitmap(std::vector<uint8_t> b) override
    {
        EXPECT_TRUE(isOpen);
        if (!accepts) return false;
        block = std::move(b);
        return true;
    }
    void close() override
    {
        ++closes;
        isOpen = false;
    }
};

struct Frames : CompositionFrames {
    uint32_t colour = movies::argb(255, 10, 20, 30);
    bool drawComposition(const EditTime&, movies::Pixmap& p) override
    {
        p.fill(colour);
        p.setPixel(0, 0, movies::argb(255, 255, 0, 0)); // the top left corner
        return true;
    }
};

uint32_t le32(const std::vector<uint8_t>& b, size_t at)
{
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 |
           uint32_t(b[at + 3]) << 24;
}

class ClipDeckTest : public ModelTest {
protected:
    ClipDeckTest()
    {
        project.setUserInterface(&ui);
        project.setEffectCatalogue(&catalogue);
    }

    // The effect items of a track, as [start, end) ticks, placed one after another.
    ZEFItem* effect(int32_t track, int64_t start, int64_t end, const std::string& name)
    {
        ZEFItem* item = place(track, start, end);
        item->setName(name);
        return item;
    }

    ZEFSourceItem* clipAt(int32_t track, size_t i)
    {
        return dynamic_cast<ZEFSourceItem*>(project.device(track).at(i));
    }

    int32_t undoCount() { return project.undoHistory().undoCount(); }
    std::string lastLabel()
    {
        FUndoBuffer* e = project.undoHistory().undoNewest();
        return e ? e->label() : "";
    }
    int32_t lastScope()
    {
        FUndoBuffer* e = project.undoHistory().undoNewest();
        return e ? e->scope() : -99;
    }
    std::vector<std::string> messages() const
    {
        std::vector<std::string> r;
        for (const auto& a : ui.asked)
            r.push_back(a.title + ": " + a.text);
        return r;
    }

    ScriptedUserInterface ui;
    Catalogue catalogue;
    View view;
    FakeClipboard clipboard;
    Frames frames;
    FMainControl deck{project, &view, &clipboard, &frames};
};

} // namespace

TEST_F(ClipDeckTest, AddingAClipFillsItsColumnAndAFailureAddsNothing)
{
    const std::string file = media::media::avClip4s();
    ui.filesToOpen.push_back(file);
    ASSERT_TRUE(deck.addClipFromDialog());
    // The dialog offers what the toolbox opens (movies, MPEG-4, stills, sound files) and what
    // the media graph reads.
    ASSERT_EQ(ui.openFilters.size(), 1u);
    EXPECT_EQ(ui.openFilters[0].substr(0, 24), "Media Files|*.mov *.qt *");
    for (const char* kind : {" *.mp4 ", " *.avi ", " *.dv ", " *.mpg ", " *.wav ", " *.aiff ",
                             " *.mp3 ", " *.png ", " *.jpg ", " *.mkv ", " *.webm ", " *.ts "})
        EXPECT_NE(ui.openFilters[0].find(kind), std::string::npos) << kind;
    EXPECT_EQ(lastLabel(), "Add file " + file);
    EXPECT_EQ(lastScope(), kLayerA);
    EXPECT_GT(view.busyTimes, 0) << "a wait cursor while the file opens";
    EXPECT_EQ(view.busyNow, 0);
    ASSERT_EQ(deck.columns().size(), 1u);
    const DeckColumn& c = deck.columns()[0];
    EXPECT_EQ(c.name, fs::path(file).stem().string());
    EXPECT_EQ(c.rate, 30);
    EXPECT_EQ(c.in, 0);
    EXPECT_EQ(c.out, 2400);
    ASSERT_NE(c.thumbnail, nullptr);
    EXPECT_EQ(c.thumbWidth, 80);
    EXPECT_EQ(c.thumbHeight, 60);
    EXPECT_EQ(deck.selectedColumns(), std::vector<int32_t>{0});
    deck.setListTimeBase(30);
    EXPECT_EQ(deck.columns()[0].out, 120);

    const std::string mkv = media::media::matroska();
    const std::string text = media::writeFile("deck-notes.txt", "not a movie at all");
    EXPECT_FALSE(deck.addClip(mkv));
    EXPECT_FALSE(deck.addClip(text));
    EXPECT_EQ(messages(),
              (std::vector<std::string>{"Error: Cannot open file " + mkv + "\nUnsupported format.",
                                        "Error: Cannot open file " + text}));
    EXPECT_EQ(project.device(kLayerA).size(), 1u);
    EXPECT_EQ(undoCount(), 1) << "failed adds leave no undo entry";
    EXPECT_EQ(view.busyNow, 0) << "the wait cursor goes when the open fails";

    project.undoHistory().undoStep();
    EXPECT_TRUE(project.device(kLayerA).empty());
    EXPECT_TRUE(deck.columns().empty());
}

TEST_F(ClipDeckTest, DroppingStopsAtTheFirstFileThatFails)
{
    const std::string good = media::media::avClip4s(),
                      bad = media::writeFile("dropped.txt", "plain text");
    ASSERT_TRUE(deck.dropFiles({good, bad, silentClip()}));
    EXPECT_EQ(lastLabel(), "Dropped clips from explorer");
    EXPECT_EQ(project.device(kLayerA).size(), 1u) << "the third file is not added";
    EXPECT_EQ(messages(), std::vector<std::string>{"Error: Cannot open file " + bad});
    EXPECT_EQ(deck.selectedColumns(), std::vector<int32_t>{0});

    EXPECT_FALSE(deck.dropFiles({bad, "/no/such/file.mov"}));
    EXPECT_EQ(undoCount(), 1) << "a drop that adds nothing leaves no entry";

    deck.selectTrack(kTitleTrack);
    EXPECT_FALSE(deck.dropFiles({good}));
    EXPECT_EQ(view.beeps, 1);
    EXPECT_TRUE(project.device(kTitleTrack).empty());
}

TEST_F(ClipDeckTest, RazorCutsAFourSecondClipIntoTwoOfTwoSeconds)
{
    ASSERT_TRUE(deck.addClip(media::media::avClip4s()));
    const std::string name = clipAt(kLayerA, 0)->name();
    views.position = EditTime(1200);
    ASSERT_TRUE(deck.razor());
    EXPECT_EQ(lastLabel(), "Razor applied on " + name);
    EXPECT_EQ(spans(kLayerA), (Spans{{0, 1200}, {1200, 2400}}));
    ZEFSourceItem* first = clipAt(kLayerA, 0);
    ZEFSourceItem* second = clipAt(kLayerA, 1);
    EXPECT_EQ(first->sourceIn().ticks(), 0);
    EXPECT_EQ(first->sourceOut().ticks(), 1200);
    EXPECT_EQ(second->sourceIn().ticks(), 1200) << "in-point advanced by 2 s of source";
    EXPECT_EQ(second->sourceOut().ticks(), 2400);
    ASSERT_TRUE(second->isOpen());
    movies::Pixmap thumb(second->thumbWidth(), second->thumbHeight());
    std::memcpy(thumb.data(), second->thumbnail().data(), second->thumbnail().size());
    EXPECT_EQ(media::frameNumberOf(thumb), 60) << "the thumbnail shows the frame at 2 s";
    EXPECT_EQ(deck.columns().size(), 2u);

    for (int64_t t : {0, 1200, 2400}) { // at an item's start or end nothing is cut
        views.position = EditTime(t);
        EXPECT_FALSE(deck.razor());
    }
    EXPECT_EQ(view.beeps, 3);
    EXPECT_EQ(undoCount(), 2);
    first->setInvalid(true); // a missing file keeps its times
    views.position = EditTime(600);
    EXPECT_FALSE(deck.razor());
    EXPECT_EQ(view.beeps, 4);
    first->setInvalid(false);

    project.undoHistory().undoStep();
    EXPECT_EQ(spans(kLayerA), (Spans{{0, 2400}}));
}

TEST_F(ClipDeckTest, RazorOnAClipAtTwiceItsLengthCutsTheSourceAtHalfTheTime)
{
    ASSERT_TRUE(deck.addClip(media::media::avClip4s()));
    ZEFSourceItem* clip = clipAt(kLayerA, 0);
    clip->setScaleType(1);
    clip->setScaleFactor(2.0f);
    ASSERT_EQ(spans(kLayerA), (Spans{{0, 4800}}));
    views.position = EditTime(1200);
    ASSERT_TRUE(deck.razor());
    EXPECT_EQ(spans(kLayerA), (Spans{{0, 1200}, {1200, 4800}}));
    ZEFSourceItem* first = clipAt(kLayerA, 0);
    ZEFSourceItem* second = clipAt(kLayerA, 1);
    EXPECT_EQ(first->sourceOut().ticks(), 600);
    EXPECT_EQ(second->sourceIn().ticks(), 600);
    EXPECT_EQ(second->sourceOut().ticks(), 2400);
    EXPECT_FLOAT_EQ(second->scaleFactor(), 2.0f);
    movies::Pixmap thumb(second->thumbWidth(), second->thumbHeight());
    std::memcpy(thumb.data(), second->thumbnail().data(), second->thumbnail().size());
    EXPECT_EQ(media::frameNumberOf(thumb), 30) << "the frame at 1 s of source";
}

TEST_F(ClipDeckTest, RazorOverAnOverlapMovesTheNextItemToTheCut)
{
    effect(kLayerA, 0, 1200, "a");
    ZEFItem* b = effect(kLayerA, 1200, 2400, "b");
    b->moveTo(EditTime(900), false); // overlaps a from 900
    views.position = EditTime(1020);
    ASSERT_TRUE(deck.razor());
    EXPECT_EQ(spans(kLayerA), (Spans{{0, 1020}, {1020, 1200}, {1020, 2220}}));
}

TEST_F(ClipDeckTest, AProjectStoredAgainstTheNeighbourRulesOpensAndStaysSafeToEdit)
{
    // As another program wrote it: on Layer A an item passes its successor; on Layer B the
    // second item starts before the first and overlaps it, and the third overlaps the first.
    const std::string dir = testDir();
    {
        FProject other;
        other.setEffectCatalogue(&catalogue);
        EditRateContext::Scope scope(other.rateContext());
        auto add = [&](int32_t track, int64_t start, int64_t end) {
            auto item = std::make_unique<ZEFEffectItem>(&other, track);
            item->setName("Clouds");
            item->assignStart(EditTime(start));
            item->assignEnd(EditTime(end));
            other.addItem(std::move(item), false, false);
        };
        add(kLayerA, 0, 2400);
        add(kLayerA, 600, 1200);
        add(kLayerB, 1200, 3600);
        add(kLayerB, 600, 1800);
        add(kLayerB, 3000, 4200);
        ASSERT_EQ(writeCompoundStreamAtomically(dir + "/other.ZEF", "Header", projectBytes(other)),
                  0);
    }
    ASSERT_EQ(project.openProject(dir + "/other"), 1);
    auto stored = [&](int32_t track) {
        Spans r;
        const FDevice& d = project.device(track);
        for (size_t i = 0; i < d.size(); ++i)
            r.emplace_back(d.at(i)->getStart().ticks(), d.at(i)->getEnd().ticks());
        return r;
    };
    EXPECT_EQ(stored(kLayerA), (Spans{{0, 2400}, {600, 1200}})) << "opened as stored";
    EXPECT_EQ(stored(kLayerB), (Spans{{1200, 3600}, {600, 1800}, {3000, 4200}}));
    const std::vector<uint8_t> opened = projectBytes(project);
    auto sound = [&] {
        for (int32_t track : {kLayerA, kLayerB})
            for (auto [start, end] : stored(track)) {
                EXPECT_GE(start, 0);
                EXPECT_LE(start, end);
            }
    };

    // A limit that an item breaks already holds it where it is: the second item of Layer B is
    // neither turned inside out nor pushes the first away.
    ZEFItem* second = project.device(kLayerB).at(1);
    project.undoHistory().recordUndo(kLayerB, "trims");
    EXPECT_EQ(second->trimStart(EditTime(900), kTrimStop, false).ticks(), 900);
    EXPECT_EQ(second->trimStart(EditTime(300), kTrimPush, false).ticks(), 900);
    EXPECT_EQ(stored(kLayerB), (Spans{{1200, 3600}, {900, 1800}, {3000, 4200}}));
    project.undoHistory().recordUndo(kLayerB, "moves");
    second->moveTo(EditTime(0), true);
    project.device(kLayerB).at(0)->rippleShift(-1200);
    sound();
    deck.selectTrack(kLayerA);
    views.position = EditTime(900);
    ASSERT_TRUE(deck.razor());
    EXPECT_EQ(stored(kLayerA), (Spans{{0, 900}, {900, 2400}, {900, 1500}}));
    deck.selectTrack(kLayerB);
    views.position = EditTime(1200);
    ASSERT_TRUE(deck.razor());
    sound();

    while (project.undoHistory().undoCount() > 0)
        project.undoHistory().undoStep();
    EXPECT_EQ(projectBytes(project), opened);
    project.reset(true); // the fixture checks the neighbour rules at the end
}

TEST_F(ClipDeckTest, MovingTwoSelectedColumnsToTheGalleryClosesBothGaps)
{
    effect(kGallery, 0, 600, "g");
    effect(kLayerB, 0, 600, "b0");
    effect(kLayerB, 600, 1800, "b1");
    effect(kLayerB, 1800, 2400, "b2");
    deck.selectTrack(kLayerB);
    deck.setSelectedColumns({0, 2});
    deck.fromListSelection = true;
    ASSERT_TRUE(deck.copyOrMoveTo(kGallery, false));
    EXPECT_FALSE(deck.fromListSelection);
    EXPECT_EQ(lastLabel(), "Moving items");
    EXPECT_EQ(lastScope(), -1);
    EXPECT_EQ(spans(kLayerB), (Spans{{0, 1200}}));
    EXPECT_EQ(project.device(kLayerB).at(0)->name(), "b1");
    EXPECT_EQ(spans(kGallery), (Spans{{0, 600}, {600, 1200}, {1200, 1800}}));
    EXPECT_EQ(project.device(kGallery).at(1)->name(), "b0");
    EXPECT_EQ(project.device(kGallery).at(2)->name(), "b2");
    EXPECT_EQ(deck.selectedColumns(), std::vector<int32_t>{0}) << "the list's last column";

    // Without the flag the current item alone is copied.
    project.selectItem(project.device(kLayerB).at(0), false);
    ASSERT_TRUE(deck.copyOrMoveTo(kLayerC, true));
    EXPECT_EQ(lastLabel(), "Copying items");
    EXPECT_EQ(spans(kLayerC), (Spans{{0, 1200}}));
    EXPECT_EQ(spans(kLayerB), (Spans{{0, 1200}}));

    project.undoHistory().undo(2);
    EXPECT_EQ(spans(kLayerB), (Spans{{0, 600}, {600, 1800}, {1800, 2400}}));
    EXPECT_EQ(spans(kGallery), (Spans{{0, 600}}));
}

TEST_F(ClipDeckTest, MenuEntriesFollowTheCurrentItem)
{
    ASSERT_TRUE(deck.addClip(media::media::avClip4s()));
    ItemMenuStates s = deck.itemMenuStates(true);
    EXPECT_FALSE(s.moveTo[kLayerA]) << "already on Layer A";
    EXPECT_TRUE(s.moveTo[kLayerB]);
    EXPECT_TRUE(s.copyTo[kLayerA]);
    EXPECT_TRUE(s.splitAudioAndVideo);
    EXPECT_TRUE(s.deleteFileFromDisk);
    EXPECT_TRUE(s.appliedFilters);
    EXPECT_EQ(s.replaceKind, ItemMenuStates::Replace::AnotherFile);
    EXPECT_EQ(s.replaceEntries, (std::vector<EffectMenuEntry>{{-1, "Another File..."}}));

    ASSERT_TRUE(deck.addClip(silentClip()));
    s = deck.itemMenuStates(true);
    EXPECT_FALSE(s.splitAudioAndVideo) << "a clip without sound";

    ZEFItem* fire = effect(kLayerC, 0, 600, "Fire");
    project.selectItem(fire, false);
    s = deck.itemMenuStates(true);
    EXPECT_FALSE(s.deleteFileFromDisk);
    EXPECT_FALSE(s.appliedFilters) << "Layer C";
    EXPECT_EQ(s.replaceKind, ItemMenuStates::Replace::Effects);
    EXPECT_EQ(s.replaceEntries, (std::vector<EffectMenuEntry>{{0, "Fire"}, {3, "Clouds"}}));
    EXPECT_EQ(deck.sourceEffectMenu(), s.replaceEntries);

    deck.addTitle();
    s = deck.itemMenuStates(true);
    for (int d = 0; d < 4; ++d) {
        EXPECT_FALSE(s.copyTo[size_t(d)]);
        EXPECT_FALSE(s.moveTo[size_t(d)]);
    }
    EXPECT_FALSE(s.replaceEnabled);

    DeckButtonStates b = deck.buttonStates();
    EXPECT_TRUE(b.clipButtonsShown);
    EXPECT_FALSE(b.addTitleShown);
    deck.selectTrack(kTitleTrack);
    b = deck.buttonStates();
    EXPECT_FALSE(b.clipButtonsShown);
    EXPECT_TRUE(b.addTitleShown);
    EXPECT_FALSE(b.addSourceEffect);
    EXPECT_EQ(b.highlightedTrack, kTitleTrack);
    EXPECT_TRUE(b.deleteSelected) << "the title was selected with the track";
    EXPECT_FALSE(b.replaceClip);
    EXPECT_EQ(deck.sourceEffectMenu(), (std::vector<EffectMenuEntry>{{-1, "Title"}}));
}

TEST_F(ClipDeckTest, SplitPutsTheSoundOnTheFirstFreeOverlay)
{
    ASSERT_TRUE(deck.addClip(media::media::avClip4s()));
    ZEFSourceItem* c = clipAt(kLayerA, 0);
    effect(kLayerB, 600, 900, "busy"); // Layer B is taken under the clip
    effect(kLayerC, 3000, 3600, "later");
    project.selectItem(c, false);
    ASSERT_TRUE(deck.splitAudioAndVideo());
    EXPECT_EQ(c->audioTrackIndex(), 1);
    auto* movie = dynamic_cast<MovieClipMedia*>(c->media());
    ASSERT_NE(movie, nullptr);
    EXPECT_EQ(movie->audioTrack(), -1);
    EXPECT_GE(movie->videoTrack(), 0);
    ZEFSourceItem* k = clipAt(kLayerC, 0);
    ASSERT_NE(k, nullptr);
    EXPECT_EQ(k->videoTrackIndex(), 1);
    EXPECT_EQ(k->audioTrackIndex(), 0);
    EXPECT_EQ(spans(kLayerC), (Spans{{0, 2400}, {3000, 3600}}));
    EXPECT_EQ(spans(kLayerB), (Spans{{600, 900}}));
    EXPECT_EQ(lastScope(), -1);

    project.undoHistory().undoStep();
    EXPECT_EQ(spans(kLayerC), (Spans{{3000, 3600}}));
    EXPECT_EQ(clipAt(kLayerA, 0)->audioTrackIndex(), 0);
}

TEST_F(ClipDeckTest, SplitShiftsTheBlockingOverlayItemWhenNoLayerIsFree)
{
    ASSERT_TRUE(deck.addClip(media::media::avClip4s()));
    effect(kLayerB, 0, 600, "b");
    effect(kLayerC, 1200, 1800, "c0");
    effect(kLayerC, 1800, 2000, "c1");
    project.selectItem(clipAt(kLayerA, 0), false);
    ASSERT_TRUE(deck.splitAudioAndVideo());
    EXPECT_EQ(spans(kLayerC), (Spans{{0, 2400}, {2400, 3000}, {3000, 3200}}));
}

TEST_F(ClipDeckTest, ReplacingAClipWithABadFileKeepsTheClipAsItWas)
{
    const std::string file = media::media::avClip4s();
    ASSERT_TRUE(deck.addClip(file));
    ZEFSourceItem* c = clipAt(kLayerA, 0);
    views.position = EditTime(1200);
    ASSERT_TRUE(deck.razor());
    c = clipAt(kLayerA, 1); // source 1200..2400 of a 2400-tick file
    const std::string bad = media::writeFile("replacement.txt", "no pictures here");
    const int32_t entries = undoCount();
    EXPECT_FALSE(deck.replaceClip(c, bad));
    EXPECT_EQ(undoCount(), entries) << "the entry is dropped without restoring";
    EXPECT_EQ(c->path(), file);
    EXPECT_TRUE(c->isOpen());
    EXPECT_FALSE(c->invalid());
    EXPECT_EQ(c->mediaRateNum(), 30);
    EXPECT_EQ(messages().back(), "Error: Cannot open file " + bad);

    // A shorter file: the in-point beyond it goes to 0, the out-point to its length.
    const std::string shorter = silentClip();
    ASSERT_TRUE(deck.replaceClip(c, shorter));
    EXPECT_EQ(lastLabel(), "Replace clip " + c->name() + " with file " + shorter);
    EXPECT_EQ(c->path(), shorter);
    EXPECT_EQ(c->sourceIn().ticks(), 0);
    EXPECT_EQ(c->sourceOut().ticks(), 600);
    EXPECT_EQ(spans(kLayerA), (Spans{{0, 1200}, {1200, 1800}}));
}

TEST_F(ClipDeckTest, CopyingAFrameWritesABottomUpBitmap)
{
    CProjectTemplate t = project.composition();
    t.width = 64;
    t.height = 48;
    project.setComposition(t);
    ASSERT_TRUE(deck.copyFrameToClipboard()); // the composition
    const std::vector<uint8_t>& b = clipboard.block;
    ASSERT_EQ(b.size(), 64u * 48u * 4u + 48u);
    EXPECT_EQ(le32(b, 0), 40u);
    EXPECT_EQ(le32(b, 4), 64u);
    EXPECT_EQ(le32(b, 8), 48u);
    EXPECT_EQ(le32(b, 12), 1u | 32u << 16) << "1 plane, 32 bits";
    EXPECT_EQ(le32(b, 16), 0u);
    EXPECT_EQ(le32(b, 20), 64u * 48u * 4u);
    for (size_t at = 24; at < 40; at += 4)
        EXPECT_EQ(le32(b, at), 0u);
    // The top left pixel is the first of the last row: blue, green, red, alpha.
    const size_t lastRow = 40 + 47 * 64 * 4;
    EXPECT_EQ(le32(b, lastRow), movies::argb(255, 255, 0, 0));
    EXPECT_EQ(le32(b, 40), frames.colour);
    EXPECT_EQ(clipboard.closes, 1);

    // Showing a clip: its source frame at the preview time.
    ASSERT_TRUE(deck.addClip(media::media::avClip4s()));
    project.previewItem(clipAt(kLayerA, 0)); // the preview shows the clip
    views.position = EditTime(600);
    ASSERT_TRUE(deck.copyFrameToClipboard());
    movies::Pixmap picture(64, 48);
    for (int y = 0; y < 48; ++y)
        for (int x = 0; x < 64; ++x)
            picture.setPixel(x, y,
                             le32(clipboard.block, 40 + size_t(47 - y) * 256 + size_t(x) * 4));
    EXPECT_EQ(media::frameNumberOf(picture), 30);

    clipboard.accepts = false;
    EXPECT_FALSE(deck.copyFrameToClipboard());
    clipboard.opens = false;
    EXPECT_FALSE(deck.copyFrameToClipboard());
    EXPECT_EQ(clipboard.closes, 3) << "closed after every open that worked";
}

TEST_F(ClipDeckTest, DeletingAFileRemovesEveryClipOfIt)
{
    const fs::path copy =
        fs::path(media::mediaDir()) / ("doomed-" + std::to_string(::getpid()) + ".mp4");
    fs::copy_file(silentClip(), copy, fs::copy_options::overwrite_existing);
    ASSERT_TRUE(deck.addClip(copy.string()));
    ASSERT_TRUE(deck.addClip(media::media::avClip4s()));
    deck.selectTrack(kGallery);
    ASSERT_TRUE(deck.addClip(copy.string()));
    deck.selectTrack(kLayerA);
    deck.setSelectedColumns({0});
    project.previewItem(clipAt(kLayerA, 0));
    const int32_t entries = undoCount();

    ui.answers = {Answer::No};
    EXPECT_FALSE(deck.deleteFileFromDisk());
    EXPECT_TRUE(fs::exists(copy));
    ui.answers = {Answer::Yes};
    ASSERT_TRUE(deck.deleteFileFromDisk());
    EXPECT_EQ(ui.asked.back().text,
              "Are you sure that you want to delete file " + copy.string() + "?");
    EXPECT_EQ(ui.asked.back().title, "Warning");
    EXPECT_EQ(ui.asked.back().buttons, Buttons::YesNo);
    EXPECT_EQ(ui.asked.back().icon, Icon::Question);
    EXPECT_FALSE(fs::exists(copy));
    EXPECT_EQ(spans(kLayerA), (Spans{{0, 2400}})) << "the other clip closed the gap";
    EXPECT_TRUE(project.device(kGallery).empty());
    EXPECT_EQ(undoCount(), entries);

    // A file that is gone already cannot be deleted.
    ASSERT_TRUE(deck.addClip(media::media::avClip4s()));
    auto* ghost = clipAt(kLayerA, 1);
    ghost->setPath(copy.string());
    deck.setSelectedColumns({1});
    ui.answers = {Answer::Yes};
    ASSERT_TRUE(deck.deleteFileFromDisk());
    EXPECT_EQ(messages().back(), "Error: Couldn't delete file from disk");
}

TEST_F(ClipDeckTest, ListCommandsRecordTheirLabels)
{
    effect(kLayerB, 0, 600, "b0");
    effect(kLayerB, 600, 1200, "b1");
    effect(kLayerB, 1200, 2400, "b2");
    deck.selectTrack(kLayerB);
    EXPECT_EQ(deck.selectedColumns(), std::vector<int32_t>{0}) << "the first item is selected";

    ASSERT_TRUE(deck.reorder(0, 3, false));
    EXPECT_EQ(lastLabel(), "Moving items");
    EXPECT_EQ(project.device(kLayerB).at(2)->name(), "b0");
    EXPECT_EQ(deck.selectedColumns(), std::vector<int32_t>{2});
    EXPECT_FALSE(deck.reorder(1, 2, false)) << "right after itself: no change";
    EXPECT_EQ(lastLabel(), "Moving items");
    const int32_t entries = undoCount();

    ASSERT_TRUE(deck.reorder(0, 1, true));
    EXPECT_EQ(lastLabel(), "Copying items");
    EXPECT_EQ(project.device(kLayerB).size(), 4u);

    deck.setSelectedColumns({0, 3});
    ASSERT_TRUE(deck.removeSelected());
    EXPECT_EQ(lastLabel(), "Remove items from list");
    EXPECT_EQ(lastScope(), kLayerB);
    ASSERT_EQ(project.device(kLayerB).size(), 2u);
    EXPECT_EQ(project.device(kLayerB).at(0)->name(), "b1");
    EXPECT_EQ(project.device(kLayerB).at(1)->name(), "b2");
    EXPECT_EQ(spans(kLayerB), (Spans{{0, 600}, {600, 1800}}));
    EXPECT_FALSE(deck.removeSelected()) << "nothing selected";
    EXPECT_EQ(undoCount(), entries + 2);

    project.selectItem(project.device(kLayerB).at(0), false);
    ASSERT_TRUE(deck.duplicate());
    EXPECT_EQ(lastLabel(), "Duplicating item b1");
    EXPECT_EQ(spans(kLayerB), (Spans{{0, 600}, {600, 1200}, {1200, 2400}}));

    // An item selected elsewhere (on another track) leaves the list without a selection.
    deck.setSelectedColumns({1});
    project.selectItem(effect(kLayerC, 0, 600, "c0"), false);
    EXPECT_TRUE(deck.selectedColumns().empty());
    EXPECT_EQ(deck.focusColumn(), -1);
}

TEST_F(ClipDeckTest, EffectsAndTitles)
{
    ASSERT_TRUE(deck.runCommand(FMainControl::kAddEffectCommand + 3));
    EXPECT_EQ(lastLabel(), "Add Clouds");
    ZEFItem* clouds = project.device(kLayerA).at(0);
    EXPECT_EQ(clouds->duration().ticks(), 1200);
    EXPECT_FALSE(deck.addEffect(99)) << "no such effect";
    EXPECT_FALSE(deck.addEffect(-1));

    static_cast<ZEFEffectItem*>(clouds)->setEffectParameters(movies::Handle("p", 1));
    project.selectItem(clouds, false);
    EXPECT_FALSE(deck.runCommand(FMainControl::kReplaceCommand + FMainControl::kMaxMenuEffects));
    ASSERT_TRUE(deck.runCommand(FMainControl::kReplaceCommand + 0));
    EXPECT_EQ(lastLabel(), "Item Clouds replaced with Fire");
    EXPECT_EQ(clouds->name(), "Fire");
    EXPECT_TRUE(static_cast<ZEFEffectItem*>(clouds)->effectParameters().isNull());
    EXPECT_EQ(deck.columns()[0].name, "Fire");

    // A title added while the deck shows Layer A is undone with its own track.
    ASSERT_TRUE(deck.addTitle());
    EXPECT_EQ(lastLabel(), "Add Title");
    EXPECT_EQ(spans(kTitleTrack), (Spans{{0, 1200}}));
    project.undoHistory().undoStep();
    EXPECT_TRUE(project.device(kTitleTrack).empty());

    deck.selectTrack(kTitleTrack);
    ASSERT_TRUE(deck.addEffect(0)) << "on the title track the pop-up adds a title";
    EXPECT_NE(dynamic_cast<ZEFTitlerEffect*>(project.device(kTitleTrack).at(0)), nullptr);
}

TEST_F(ClipDeckTest, SingleLayerPreviewShowsOnlyTheChosenTrack)
{
    settings.single = true;
    effect(kLayerC, 0, 600, "c");
    deck.selectTrack(kLayerC);
    EXPECT_EQ(deck.currentTrack(), kLayerC);
    EXPECT_EQ(view.buttons, 1);
    for (int32_t t = 0; t < kTrackCount; ++t)
        EXPECT_EQ(project.device(t).enabled(), t == kLayerC) << t;
    EXPECT_EQ(views.listed.back(), project.device(kLayerC).at(0));
    deck.selectTrack(kLayerC);
    EXPECT_EQ(view.buttons, 1) << "the current track again: nothing";
}
