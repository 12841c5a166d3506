// The VCR Deck driving the Preview Deck's player, offscreen, on real media.
#include "capture/tape_deck.h"
#include "tests/preview/preview_fixture.h"
#include "tests/support/file_open_watch.h"
#include "ui/controls/xbutton.h"
#include "ui/controls/xslider.h"
#include "ui/controls/xstatic.h"
#include "ui/controls/xtimecode.h"

#include <filesystem>
#include <vector>

using namespace zef;
using namespace zef::test;
namespace media = zef::movies::testing::media;
namespace fs = std::filesystem;

namespace {

using Transport = PreviewFixture;

TEST_F(Transport, InAndOutPointsRecordAnUndoOnlyForARealChange)
{
    ZEFSourceItem* c = clip(media::avClip4s(), kLayerA, 0, 2400); // 4 s at 30 fps
    deck->showClip(c);
    ASSERT_EQ(deck->currentClip(), c);
    UndoHistory& undo = project.undoHistory();

    // At its own time the in-point records nothing.
    panel->seek(c->sourceIn());
    panel->setInPoint();
    EXPECT_EQ(undo.undoCount(), 0);

    panel->seek(EditTime::raw(600, 30, 1));
    panel->setInPoint();
    ASSERT_EQ(undo.undoCount(), 1);
    EXPECT_EQ(undo.undoLabels().front(), "Set " + c->displayName() + " In-point to 00:01:00");
    EXPECT_EQ(c->sourceIn().ticks(), 600);
    EXPECT_EQ(c->duration().ticks(), 1800);
    EXPECT_TRUE(panel->button(ui::CPreviewPanel::kSetIn)->isPressed());

    panel->seek(EditTime::raw(2100, 30, 1));
    panel->setOutPoint();
    EXPECT_EQ(undo.undoLabels().front(), "Set " + c->displayName() + " Out-point to 00:03:15");
    // An in-point after the out-point would make the clip run backwards: refused.
    panel->seek(EditTime::raw(2200, 30, 1));
    panel->setInPoint();
    EXPECT_EQ(undo.undoCount(), 2);
    EXPECT_EQ(c->sourceIn().ticks(), 600);
    EXPECT_EQ(project.checkConsistency(), "");

    panel->goToInPoint();
    EXPECT_EQ(panel->position().ticks(), 600);
    ASSERT_TRUE(waitFor([&] { return shownNumber() == 30; })) << shownNumber();
    // A time typed into the timecode field moves there.
    panel->timecode()->setValue(EditTime::raw(900, 30, 1));
    EXPECT_EQ(panel->position().ticks(), 900);
    ASSERT_TRUE(waitFor([&] { return shownNumber() == 45; })) << shownNumber();
}

TEST_F(Transport, FullScreenPlaybackEndsWithAClick)
{
    clip(media::avClip4s(), kLayerA, 0, 2400);
    pass();
    QTest::mouseClick(panel->button(ui::CPreviewPanel::kFullScreen), Qt::LeftButton);
    ASSERT_TRUE(deck->fullScreen());
    panel->togglePlay();
    ASSERT_TRUE(deck->fullScreenView()->isVisible());
    ASSERT_TRUE(waitFor([&] { return shownNumber() > 3; }));
    QTest::mouseClick(deck->fullScreenView(), Qt::LeftButton);
    EXPECT_FALSE(panel->isPlaying());
    EXPECT_FALSE(deck->fullScreenView()->isVisible());
    // Off again: play stays in the deck.
    QTest::mouseClick(panel->button(ui::CPreviewPanel::kFullScreen), Qt::LeftButton);
    panel->togglePlay();
    EXPECT_FALSE(deck->fullScreenView()->isVisible());
    panel->togglePlay();
}

TEST_F(Transport, HoldingNextFrameStepsAtOnceThenOnTheRepeatSchedule)
{
    clip(media::avClip4s(), kLayerA, 0, 2400);
    pass();
    ui::CXButton* next = panel->button(ui::CPreviewPanel::kNextFrame);
    QTest::mousePress(next, Qt::LeftButton);
    std::vector<int> stepsAtTick; // the 50 ms ticks at which a step happened
    int frame = panel->position().toFrames();
    EXPECT_EQ(frame, 1) << "the press steps at once";
    for (int tick = 1; tick <= 26; ++tick) {
        panel->stepTick();
        const int now = panel->position().toFrames();
        if (now != frame) stepsAtTick.push_back(tick);
        frame = now;
        if (tick == 24) {
            // 1.2 s held: steps at 0, 0.5 and 1.0 s.
            EXPECT_EQ(stepsAtTick, (std::vector<int>{10, 20}));
            EXPECT_EQ(frame, 3);
        }
    }
    EXPECT_EQ(stepsAtTick, (std::vector<int>{10, 20, 25})) << "the fourth at 1.25 s";
    QTest::mouseRelease(next, Qt::LeftButton);
    EXPECT_EQ(panel->stepDirection(), 0);
    for (int tick = 0; tick < 20; ++tick)
        panel->stepTick();
    EXPECT_EQ(panel->position().toFrames(), 4);
    ASSERT_TRUE(waitFor([&] { return shownNumber() == 4; })) << shownNumber();
}

TEST_F(Transport, ReleasingTheShuttlePausesAndStopRewinds)
{
    ZEFSourceItem* c = clip(media::avClip4s(), kLayerA, 0, 2400);
    deck->showClip(c);
    ui::CXSliderCtrl* shuttle = panel->shuttle();
    panel->seek(EditTime::raw(1200, 30, 1));

    // Dragged to +5: plays at half speed; let go: paused, back at 0, normal speed next time.
    const QPoint thumb = shuttle->thumbRect().center();
    QTest::mousePress(shuttle, Qt::LeftButton, {}, thumb);
    QMouseEvent move(QEvent::MouseMove, QPointF(thumb + QPoint(shuttle->width() / 4, 0)),
                     QPointF(shuttle->mapToGlobal(thumb + QPoint(shuttle->width() / 4, 0))),
                     Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(shuttle, &move);
    EXPECT_EQ(shuttle->position(), 5);
    EXPECT_TRUE(panel->isPlaying());
    EXPECT_DOUBLE_EQ(deck->player().rate(), 0.5);
    ASSERT_TRUE(waitFor([&] { return panel->position().ticks() > 1230; }));
    QTest::mouseRelease(shuttle, Qt::LeftButton, {}, thumb + QPoint(shuttle->width() / 4, 0));
    EXPECT_FALSE(panel->isPlaying());
    EXPECT_EQ(shuttle->position(), 0);
    const int64_t held = panel->position().ticks();
    QTest::qWait(100);
    EXPECT_EQ(panel->position().ticks(), held) << "paused where it was let go";

    // Playing, then a press on the shuttle let go where it rests: it pauses all the same.
    panel->togglePlay();
    EXPECT_TRUE(panel->isPlaying());
    EXPECT_DOUBLE_EQ(deck->player().rate(), 1.0);
    const QPoint rest = shuttle->thumbRect().center();
    QTest::mousePress(shuttle, Qt::LeftButton, {}, rest);
    QTest::mouseRelease(shuttle, Qt::LeftButton, {}, rest);
    EXPECT_FALSE(panel->isPlaying());

    // Stop rewinds to 0 and shows its picture.
    panel->togglePlay();
    QTest::qWait(100);
    QTest::mouseClick(panel->button(ui::CPreviewPanel::kStop), Qt::LeftButton);
    EXPECT_FALSE(panel->isPlaying());
    EXPECT_EQ(panel->position().ticks(), 0);
    ASSERT_TRUE(waitFor([&] { return shownNumber() == 0; })) << shownNumber();
}

TEST_F(Transport, PlayingTheCompositionShowsEveryPictureInOrderAndStopsAtTheEnd)
{
    clip(media::avClip4s(), kLayerA, 0, 600); // the first second
    pass();
    ASSERT_EQ(deck->snapshots(), 1);
    std::vector<int> shown;
    QObject::connect(deck.get(), &ui::DPreview::pictureShown,
                     [&] { shown.push_back(shownNumber()); });
    std::vector<EditTime> told;
    QObject::connect(panel.get(), &ui::CPreviewPanel::positionChanged,
                     [&](const EditTime& t) { told.push_back(t); });
    panel->togglePlay();
    ASSERT_TRUE(waitFor([&] { return !panel->isPlaying(); }, 10000));
    EXPECT_EQ(panel->position().ticks(), 600) << "play stops at the project end";
    ASSERT_TRUE(waitFor([&] { return !told.empty() && told.back().ticks() == 600; }));
    ASSERT_GE(shown.size(), 10u);
    for (size_t k = 1; k < shown.size(); ++k)
        EXPECT_GE(shown[k], shown[k - 1]) << "picture " << k;
    EXPECT_GE(shown.back(), 28);
    const ui::CPreviewPlayer::Figures f = deck->player().figures();
    std::printf("played 1 s: %lld painted, %lld dropped, %lld replaced, offset max %.1f ms\n",
                (long long)f.painted, (long long)f.dropped, (long long)f.replaced, f.offsetMaxMs);
}

TEST_F(Transport, ScrubbingTheSliderShowsAPictureAtOnceAndTheExactOneAtRest)
{
    ZEFSourceItem* c = clip(media::h264Movie(), kGallery, 0, 3000); // one key frame, 150 frames
    deck->showClip(c);
    ui::CXSliderCtrl* slider = panel->positionSlider();
    ASSERT_EQ(slider->maximum(), 150);
    ASSERT_TRUE(waitFor([&] { return shownNumber() == 0; }));
    int quick = 0;
    QObject::connect(deck.get(), &ui::DPreview::pictureShown, [&] {
        if (deck->player().frame().approximate) ++quick;
    });
    const QPoint from = slider->thumbRect().center();
    QTest::mousePress(slider, Qt::LeftButton, {}, from);
    for (int x = from.x(); x <= from.x() + slider->width() * 3 / 4; x += 6) {
        QMouseEvent move(QEvent::MouseMove, QPointF(x, from.y()),
                         QPointF(slider->mapToGlobal(QPoint(x, from.y()))), Qt::NoButton,
                         Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(slider, &move);
        QTest::qWait(3);
    }
    const int target = slider->position();
    ASSERT_GT(target, 100);
    QTest::mouseRelease(slider, Qt::LeftButton, {}, slider->thumbRect().center());
    ASSERT_TRUE(waitFor([&] {
        return !deck->player().frame().approximate && shownNumber() == target;
    })) << shownNumber()
        << " for " << target << " at " << panel->position().ticks() << " "
        << deck->player().frame().time << " " << deck->player().frame().approximate;
    EXPECT_GT(quick, 0) << "quick pictures while the slider moved";
    EXPECT_EQ(panel->position().toFrames(), target);
}

TEST_F(Transport, EditsReachThePictureAfterTheEnginePassNeverDuringADrag)
{
    clip(media::avClip4s(), kLayerA, 0, 2400);
    pass();
    pass();
    const int64_t first = deck->snapshots();
    EXPECT_EQ(first, 1) << "a pass that changed nothing takes no new snapshot";
    panel->seek(EditTime(300));
    ASSERT_TRUE(waitFor([&] { return shownNumber() == 15; }));

    project.setTrackEnabled(kLayerA, false);
    deck->idle();
    EXPECT_EQ(deck->snapshots(), first) << "the engine has not passed yet";
    // With a mouse button held the engine keeps still and so does the snapshot.
    QTest::mousePress(&deck->window(), Qt::LeftButton, {}, QPoint(2, 2));
    pass();
    EXPECT_EQ(deck->snapshots(), first);
    QTest::mouseRelease(&deck->window(), Qt::LeftButton, {}, QPoint(2, 2));
    pass();
    EXPECT_EQ(deck->snapshots(), first + 1);
    EXPECT_EQ(panel->position().ticks(), 300) << "the new snapshot goes on from the same time";
    // Layer A off: the grey and white checkerboard instead of the clip's black and white bars.
    auto blackInTheMiddle = [&] {
        const QImage& image = deck->player().frame().image;
        for (int x = 0; x < image.width(); ++x)
            if (qGray(image.pixel(x, image.height() / 2)) < 40) return true;
        return false;
    };
    ASSERT_TRUE(waitFor([&] { return !blackInTheMiddle(); }));
}

TEST_F(Transport, AnEditIsRedrawnWithoutOpeningTheClipAgain)
{
    // A folder of its own: tests running beside this one open the shared media.
    const fs::path dir = fs::path(::testing::TempDir()) / "preview-edit-opens";
    fs::remove_all(dir);
    fs::create_directories(dir);
    const std::string path = (dir / "clip.mp4").string();
    fs::copy_file(media::avClip4s(), path);
    ZEFSourceItem* a = clip(path, kLayerA, 0, 2400);
    pass();
    panel->seek(EditTime(300));
    ASSERT_TRUE(waitFor([&] { return shownNumber() == 15; }));

    zef::testing::FileOpenWatch opens(dir.string());
    ASSERT_TRUE(opens.valid());
    a->setVolume(128);
    project.itemChanged(a, false, true); // built again, and a new snapshot played
    pass();
    ASSERT_EQ(deck->snapshots(), 2);
    panel->seek(EditTime(340));
    ASSERT_TRUE(waitFor([&] { return shownNumber() == 17; }));
    EXPECT_EQ(opens.takeOpens(), 0);
}

// A tape deck that records what it is told.
class FakeDeck : public TapeTransport {
public:
    void setMode(int32_t mode) override { modes.push_back(mode), current = mode; }
    int32_t mode() const override { return current; }
    bool setRate(double speed) override
    {
        rates.push_back(speed);
        current = kShuttle;
        return true;
    }
    EditTime timecode() const override { return time; }
    void seek(const EditTime& target) override { seeks.push_back(target.ticks()); }

    std::vector<int32_t> modes;
    std::vector<double> rates;
    std::vector<int64_t> seeks;
    int32_t current = kStop;
    EditTime time;
};

TEST_F(Transport, DeviceModeDrivesTheTapeDeck)
{
    FakeDeck tape;
    panel->setDeviceMode(&tape);
    EXPECT_TRUE(panel->control(ui::CPreviewPanel::kDeviceLabel)->isVisibleTo(panel.get()));
    EXPECT_FALSE(panel->positionSlider()->isEnabled());
    EXPECT_EQ(panel->timecode()->maximum().ticks(), 21600000);
    EXPECT_EQ(panel->timecode()->digitColour(), QColor(0, 255, 0));

    auto click = [&](int id) { QTest::mouseClick(panel->button(id), Qt::LeftButton); };
    click(ui::CPreviewPanel::kPlay);
    click(ui::CPreviewPanel::kPlay); // the deck plays: freeze
    click(ui::CPreviewPanel::kNextFrame);
    click(ui::CPreviewPanel::kPreviousFrame);
    click(ui::CPreviewPanel::kGoToStart);
    click(ui::CPreviewPanel::kGoToEnd);
    click(ui::CPreviewPanel::kStop);
    EXPECT_EQ(tape.modes, (std::vector<int32_t>{4296, 4298, 4304, 4905, 4301, 4300, 4297}));
    EXPECT_EQ(static_cast<ui::XStatic*>(panel->control(ui::CPreviewPanel::kDeviceLabel))->text(),
              QStringLiteral("Device mode: Stopped"));

    panel->shuttleTo(-3);
    panel->shuttleReleased();
    ASSERT_EQ(tape.rates.size(), 1u);
    EXPECT_NEAR(tape.rates[0], -0.6, 1e-9);
    EXPECT_EQ(tape.modes.back(), TapeTransport::kFreeze);

    // In- and out-points are the deck's timecode, with no undo.
    tape.time = EditTime::raw(6000);
    click(ui::CPreviewPanel::kSetIn);
    tape.time = EditTime::raw(9000);
    click(ui::CPreviewPanel::kSetOut);
    click(ui::CPreviewPanel::kGotoIn);
    EXPECT_EQ(panel->deviceInPoint().ticks(), 6000);
    EXPECT_EQ(panel->deviceOutPoint().ticks(), 9000);
    EXPECT_EQ(tape.seeks, (std::vector<int64_t>{6000}));
    EXPECT_EQ(project.undoHistory().undoCount(), 0);
    panel->periodicUpdate();
    EXPECT_EQ(panel->position().ticks(), 9000);
    EXPECT_TRUE(panel->button(ui::CPreviewPanel::kSetOut)->isPressed());

    panel->setDeviceMode(nullptr);
    EXPECT_TRUE(panel->positionSlider()->isEnabled());
    EXPECT_FALSE(panel->control(ui::CPreviewPanel::kDeviceLabel)->isVisibleTo(panel.get()));
}

} // namespace
