// The Parameters and Info Decks offscreen: pages driven with mouse and key events on a project
// of real clips, with the installed effects.
#include "capture/capture_plugin.h"
#include "engine/effect_catalogue.h"
#include "engine/effect_tracks.h"
#include "model/project.h"
#include "model/source_item.h"
#include "platform/movies/effects/effect_registry.h"
#include "tests/movies/test_media.h"
#include "ui/controls/xbutton.h"
#include "ui/controls/xcheckbox.h"
#include "ui/controls/xcombobox.h"
#include "ui/controls/xslider.h"
#include "ui/controls/xtimecode.h"
#include "ui/decks/applied_filters_dialog.h"
#include "ui/decks/clip_settings_dialog.h"
#include "ui/decks/color_button.h"
#include "ui/decks/effect_parameter_dialog.h"
#include "ui/decks/effect_settings_parent.h"
#include "ui/decks/graphics_mode_box.h"
#include "ui/decks/info_dialog.h"
#include "ui/decks/parameters_container.h"
#include "ui/decks/titler_setup.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QColorDialog>
#include <QDoubleSpinBox>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPlainTextEdit>
#include <QSpinBox>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <fstream>

using namespace zef;
using namespace zef::ui;
namespace media = zef::movies::testing::media;

namespace {

// Counts the project's change notifications of one item and where the preview was sent.
struct Watcher : ProjectObserver {
    const ZEFItem* item = nullptr;
    int changes = 0;
    std::vector<EditTime> seeks;
    void itemChanged(ZEFItem* changed) override { changes += changed == item; }
    void previewSeek(const EditTime& t) override { seeks.push_back(t); }
};

// Answers the next colour chooser that opens with the colour.
void answerColourChooser(const QColor& colour)
{
    auto* timer = new QTimer;
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, colour] {
        auto* chooser = qobject_cast<QColorDialog*>(QApplication::activeModalWidget());
        if (!chooser) return;
        chooser->setCurrentColor(colour);
        chooser->accept();
        timer->deleteLater();
    });
    timer->start();
}

class Decks : public ::testing::Test {
protected:
    Decks() : catalogue(movies::builtInEffects())
    {
        catalogue.buildCatalogue();
        project.setEffectCatalogue(&catalogue);
        deck = std::make_unique<CParametersContainer>(project);
        deck->setEffectRegistry(&movies::builtInEffects());
        info = std::make_unique<CInfoDialog>(project);
        deck->show();
    }
    ~Decks() override
    {
        info.reset();
        deck.reset();
        project.reset(true);
    }

    ZEFSourceItem* addClip(int32_t track, const std::string& path)
    {
        auto clip = std::make_unique<ZEFSourceItem>(&project, track);
        clip->setPath(path);
        clip->open(true, false, false, false);
        ZEFSourceItem* p = clip.get();
        project.addItem(std::move(clip), false, true);
        return p;
    }
    ZEFTitlerEffect* addTitle(const std::string& text, int64_t start, int64_t end)
    {
        auto title = std::make_unique<ZEFTitlerEffect>(&project);
        title->setName("Title");
        title->setText(text);
        ZEFTitlerEffect* p = title.get();
        project.addItem(std::move(title), false, false);
        p->assignStart(EditTime(start));
        p->assignEnd(EditTime(end));
        return p;
    }
    template <class Page> Page* page() { return qobject_cast<Page*>(deck->settingsPage()); }
    std::vector<std::string> undoLabels() const { return project.undoHistory().undoLabels(); }

    FEffectCatalogue catalogue;
    FProject project;
    std::unique_ptr<CParametersContainer> deck;
    std::unique_ptr<CInfoDialog> info;
};

void typeInto(QLineEdit* field, const char* text)
{
    field->selectAll();
    QTest::keyClicks(field, QString::fromUtf8(text));
    QTest::keyClick(field, Qt::Key_Return);
}

} // namespace

TEST_F(Decks, FactorIsTakenOnlyStrictlyInsideItsLimitsAndOnlyWhenItChanges)
{
    ZEFSourceItem* clip = addClip(kLayerA, media::avClip4s());
    project.selectItem(clip, false);
    auto* p = page<CClipSettingsDialog>();
    ASSERT_TRUE(p);
    EXPECT_EQ(deck->caption(),
              QStringLiteral("Parameters: ") + QString::fromStdString(clip->name()));
    EXPECT_FALSE(p->factorField()->isEnabled());

    QTest::mouseClick(p->retiming(1), Qt::LeftButton);
    EXPECT_EQ(clip->scaleType(), 1);
    ASSERT_FALSE(undoLabels().empty());
    EXPECT_EQ(undoLabels().front(), "Scale type changed on " + clip->name());
    ASSERT_TRUE(p->factorField()->isEnabled());

    const int entries = project.undoHistory().undoCount();
    for (const char* refused : {"0.01", "10000"}) {
        typeInto(p->factorField(), refused);
        EXPECT_EQ(clip->scaleFactor(), 1.0f) << refused;
        EXPECT_EQ(p->factorField()->text(), QStringLiteral("1.00")) << refused;
    }
    EXPECT_EQ(project.undoHistory().undoCount(), entries);

    typeInto(p->factorField(), "0.02");
    EXPECT_EQ(clip->scaleFactor(), 0.02f);
    EXPECT_EQ(clip->duration().ticks(), 48); // 4 s of media at 0.02
    EXPECT_EQ(p->scaledDurationField()->value().ticks(), 48);
    EXPECT_EQ(project.undoHistory().undoCount(), entries + 1);
    EXPECT_EQ(undoLabels().front(), "Scale factor changed on " + clip->name());

    // The same factor typed again changes nothing and records nothing.
    typeInto(p->factorField(), "0.02");
    EXPECT_EQ(project.undoHistory().undoCount(), entries + 1);

    project.undoHistory().undoStep();
    EXPECT_EQ(project.device(kLayerA).at(0)->duration().ticks(), 2400);
}

TEST_F(Decks, StartTypedIntoTheClipPageMovesTheClipWhenCommitted)
{
    ZEFSourceItem* clip = addClip(kLayerB, media::avClip4s());
    project.selectItem(clip, false);
    auto* p = page<CClipSettingsDialog>();
    ASSERT_TRUE(p);
    CXTimeCode* start = p->startField();
    start->setFocus();
    // H:MM:SS:FF: typing 0, 0, 0, 0, 2 makes 0:00:02:00 only with the last digit.
    QTest::keyClicks(start, QStringLiteral("00002"));
    EXPECT_EQ(clip->getStart().ticks(), 0);
    QTest::keyClick(start, Qt::Key_Return);
    EXPECT_EQ(clip->getStart().ticks(), 1200);
    EXPECT_EQ(undoLabels().front(), "Project start time changed on " + clip->name());
    EXPECT_EQ(p->durationField()->value().ticks(), 2400);
}

TEST_F(Decks, GraphicsModeColourFollowsTheModeAndTheLayer)
{
    ZEFSourceItem* onA = addClip(kLayerA, media::avClip4s());
    ZEFSourceItem* onB = addClip(kLayerB, media::avClip4s());
    project.selectItem(onA, false);
    CGraphicsModeBox* box = page<CClipSettingsDialog>()->graphicsMode();
    EXPECT_FALSE(box->modeList()->isEnabled());

    project.selectItem(onB, false);
    ASSERT_TRUE(box->modeList()->isEnabled());
    auto choose = [&](const char* name) {
        const int row = box->modeList()->findText(QString::fromUtf8(name));
        box->modeList()->setCurrentIndex(row);
        emit box->modeList()->activated(row);
    };
    choose("Transparent");
    EXPECT_EQ(onB->graphicsMode(), 36);
    EXPECT_TRUE(box->colourButton()->isEnabled());
    choose("Add max");
    EXPECT_EQ(onB->graphicsMode(), 37);
    EXPECT_FALSE(box->colourButton()->isEnabled());

    choose("Blend");
    answerColourChooser(QColor(10, 20, 30));
    QTest::mouseClick(box->colourButton(), Qt::LeftButton);
    EXPECT_EQ(onB->graphicsModeColor(), 10u | 20u << 8 | 30u << 16);
}

TEST_F(Decks, FiltersDialogKeepsUndoAndRedoWhenNothingChanged)
{
    ZEFSourceItem* clip = addClip(kLayerA, media::avClip4s());
    project.undoHistory().recordUndo(kLayerB, "First");
    project.undoHistory().recordUndo(kLayerB, "Second");
    project.undoHistory().undo(1);
    const auto undoBefore = project.undoHistory().undoLabels();
    const auto redoBefore = project.undoHistory().redoLabels();

    CAppliedFiltersDialog* d = deck->openAppliedFilters(*clip);
    EXPECT_EQ(d->caption(),
              QStringLiteral("Filters applied on ") + QString::fromStdString(clip->name()));
    QTest::mouseClick(d->button("Close"), Qt::LeftButton);
    EXPECT_EQ(project.undoHistory().undoLabels(), undoBefore);
    EXPECT_EQ(project.undoHistory().redoLabels(), redoBefore);

    // A filter chosen from the Add menu is recorded, and undoing takes it away again.
    d = deck->openAppliedFilters(*clip);
    QTimer::singleShot(50, [] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        ASSERT_TRUE(menu);
        for (QAction* a : menu->actions())
            if (a->text() == QStringLiteral("Blur")) a->trigger();
        menu->close();
    });
    // A pop-up menu closes when the program loses the focus: the dialog takes it first.
    ASSERT_TRUE(QTest::qWaitForWindowActive(d));
    QTest::mouseClick(d->button("Add Filter"), Qt::LeftButton);
    ASSERT_EQ(clip->filterCount(), 1u);
    EXPECT_EQ(clip->filter(0)->name(), "Blur");
    EXPECT_EQ(d->list()->currentItem()->text(), QStringLiteral("Blur"));
    QTest::mouseClick(d->button("Close"), Qt::LeftButton);
    EXPECT_EQ(project.undoHistory().undoLabels().front(), "Change filters on " + clip->name());
    EXPECT_TRUE(project.undoHistory().redoLabels().empty());
    project.undoHistory().undoStep();
    EXPECT_EQ(project.device(kLayerA).at(0)->filterCount(), 0u);
}

TEST_F(Decks, FiltersMoveAndGoWithTheSelectionFollowing)
{
    ZEFSourceItem* clip = addClip(kLayerB, media::avClip4s());
    for (const char* name : {"Blur", "Sharpen", "Emboss"}) {
        auto f = std::make_unique<ZEFEffectItem>(&project, kLayerB, clip);
        f->setName(name);
        clip->addFilter(std::move(f));
    }
    auto order = [&] {
        std::string names;
        for (size_t i = 0; i < clip->filterCount(); ++i)
            names += clip->filter(i)->name() + ";";
        return names;
    };
    CAppliedFiltersDialog* d = deck->openAppliedFilters(*clip);
    EXPECT_EQ(d->list()->currentRow(), 0);
    EXPECT_FALSE(d->button("Move filter up")->isEnabled());
    d->list()->setCurrentRow(2);
    EXPECT_FALSE(d->button("Move filter down")->isEnabled());
    QTest::mouseClick(d->button("Move filter up"), Qt::LeftButton);
    EXPECT_EQ(order(), "Blur;Emboss;Sharpen;");
    EXPECT_EQ(d->list()->currentRow(), 1);
    QTest::mouseClick(d->button("Delete Filter"), Qt::LeftButton);
    EXPECT_EQ(order(), "Blur;Sharpen;");
    EXPECT_EQ(d->list()->currentRow(), 0);
    QTest::mouseClick(d->button("Close"), Qt::LeftButton);
    EXPECT_EQ(undoLabels(), std::vector<std::string>{"Change filters on " + clip->name()});
    for (size_t i = 0; i < clip->filterCount(); ++i)
        EXPECT_EQ(clip->filter(i)->owner(), clip);
}

TEST_F(Decks, ClipInfoAndPageFollowTheMediaTracksChosen)
{
    ZEFSourceItem* clip = addClip(kLayerA, media::avClip4s());
    project.selectItem(clip, false);
    auto has = [&](const std::string& line) {
        return std::find(info->lines().begin(), info->lines().end(), line) != info->lines().end();
    };
    EXPECT_TRUE(has("CN\tFrame rate: \t30.00 fps"));
    EXPECT_TRUE(has("CN\tFormat: \t320 x 240"));
    EXPECT_TRUE(has("CN\tSample rate: \t48000 sps"));
    EXPECT_TRUE(has("GN\tProject duration:\t00:04:00"));

    auto* p = page<CClipSettingsDialog>();
    ASSERT_TRUE(p);
    ASSERT_EQ(p->videoTracks()->count(), 2); // "Track 1", "<<none>>"
    EXPECT_EQ(p->videoTracks()->itemText(1), QStringLiteral("<<none>>"));
    EXPECT_TRUE(p->filtersButton()->isEnabled());
    p->videoTracks()->setCurrentIndex(1);
    emit p->videoTracks()->activated(1);
    EXPECT_EQ(clip->videoTrackIndex(), 1);
    EXPECT_EQ(undoLabels().front(), "Video track selection changed on " + clip->name());
    EXPECT_FALSE(p->filtersButton()->isEnabled());
    EXPECT_FALSE(p->positioningButton()->isEnabled());
    p->audioTracks()->setCurrentIndex(1);
    emit p->audioTracks()->activated(1);
    EXPECT_FALSE(p->volume()->isEnabled());
}

TEST_F(Decks, ParameterDialogEditsInPlaceAndCancelPutsTheDescriptionBack)
{
    ZEFSourceItem* clip = addClip(kLayerA, media::avClip4s());
    auto blur = std::make_unique<ZEFEffectItem>(&project, kLayerA, clip);
    blur->setName("Brightness and Contrast");
    ZEFEffectItem* filter = blur.get();
    clip->addFilter(std::move(blur));
    const movies::Handle original = filter->effectDescription();
    Watcher watch;
    watch.item = clip;
    project.addObserver(&watch);

    CEffectParameterEditing& editing = deck->parameterEditing();
    ASSERT_EQ(editing.editParameters(*filter), S_OK);
    EXPECT_EQ(editing.editParameters(*filter), E_FAIL); // one edit at a time
    CEffectParameterDialog* d = editing.dialog();
    ASSERT_TRUE(d);
    const QImage before = d->previewImage();
    auto* brightness = qobject_cast<QDoubleSpinBox*>(d->panel().control(movies::fourcc("brit")));
    ASSERT_TRUE(brightness);
    brightness->setValue(60);
    // The description holds the value at once, and the preview of the clip's frame brightens.
    const movies::EffectDescriptor* desc = descriptorOf(movies::builtInEffects(), *filter);
    EXPECT_EQ(parametersOf(*desc, *filter).integer(movies::fourcc("brit"), 0), 60);
    const QImage after = d->previewImage();
    QPoint dark(-1, -1);
    for (int x = 0; x < before.width() && dark.x() < 0; ++x)
        if (qGray(before.pixel(x, before.height() / 2)) < 60) dark = QPoint(x, before.height() / 2);
    ASSERT_GE(dark.x(), 0);
    EXPECT_GT(qGray(after.pixel(dark)), qGray(before.pixel(dark)) + 40);

    QTest::mouseClick(d->findChild<CXButton*>(QStringLiteral("Cancel")), Qt::LeftButton);
    EXPECT_EQ(filter->effectDescription(), original);
    EXPECT_EQ(watch.changes, 0);
    EXPECT_FALSE(editing.editing());

    ASSERT_EQ(editing.editParameters(*filter), S_OK);
    qobject_cast<QDoubleSpinBox*>(editing.dialog()->panel().control(movies::fourcc("cont")))
        ->setValue(-30);
    QTest::mouseClick(editing.dialog()->findChild<CXButton*>(QStringLiteral("OK")), Qt::LeftButton);
    EXPECT_EQ(parametersOf(*desc, *filter).integer(movies::fourcc("cont"), 0), -30);
    EXPECT_EQ(watch.changes, 1); // the clip's layer is rebuilt once
    project.removeObserver(&watch);
}

TEST_F(Decks, EmbeddedDialogShowsOneSubPanelAtATime)
{
    auto effect = std::make_unique<ZEFEffectItem>(&project, kLayerB);
    effect->setName("Cloud");
    ZEFEffectItem* cloud = effect.get();
    project.addItem(std::move(effect), false, false);
    deck->setFreeStandingParameterDialog(false);
    project.selectItem(cloud, false);
    auto* p = page<CEffectSettingsParent>();
    ASSERT_TRUE(p);
    EXPECT_EQ(p->effectTypes()->currentText(), QStringLiteral("Cloud"));
    QTest::mouseClick(p->parametersButton(), Qt::LeftButton);
    CEffectParameterDialog* d = deck->parameterEditing().dialog();
    ASSERT_TRUE(d && d->subPanelList());
    // Cloud has seven parameters: six, then one.
    EXPECT_EQ(d->subPanelList()->count(), 2);
    EXPECT_EQ(d->subPanelList()->itemText(1), QStringLiteral("Drift Speed"));
    QWidget* seed = d->panel().control(movies::fourcc("seed"));
    QWidget* speed = d->panel().control(movies::fourcc("sped"));
    EXPECT_FALSE(seed->isHidden());
    EXPECT_TRUE(speed->isHidden());
    d->subPanelList()->setCurrentIndex(1);
    EXPECT_TRUE(seed->isHidden());
    EXPECT_FALSE(speed->isHidden());
    d->close(); // closing the window keeps what was set
    EXPECT_FALSE(deck->parameterEditing().editing());
}

TEST_F(Decks, TransitionPageEditsTheOverlapOfTwoClips)
{
    ZEFSourceItem* a = addClip(kLayerA, media::avClip4s());
    ZEFSourceItem* b = addClip(kLayerA, media::avClip4s());
    b->moveTo(EditTime(1800), false); // a 1-second overlap
    project.selectItem(a, true);
    auto* p = page<CEffectSettingsParent>();
    ASSERT_TRUE(p && p->transitionMode());
    EXPECT_EQ(deck->caption(), QStringLiteral("Parameters: Cross Fade"));
    EXPECT_EQ(p->startField()->value().ticks(), 1800);
    EXPECT_EQ(p->durationField()->value().ticks(), 600);
    EXPECT_FALSE(p->filtersButton()->isEnabled());

    const int wipe = p->effectTypes()->findText(QStringLiteral("Wipe"));
    ASSERT_GE(wipe, 0);
    p->effectTypes()->setCurrentIndex(wipe);
    emit p->effectTypes()->activated(wipe);
    EXPECT_EQ(a->transition()->name(), "Wipe");
    EXPECT_EQ(deck->caption(), QStringLiteral("Parameters: Wipe"));

    p->durationField()->setFocus();
    p->durationField()->setValue(EditTime(300));
    QTest::keyClick(p->durationField(), Qt::Key_Return);
    EXPECT_EQ(a->getEnd().ticks(), 2100);
    EXPECT_EQ(undoLabels().front(), "FX duration changed on Wipe");
}

TEST_F(Decks, TitleSizeAboveAThousandIsRefused)
{
    ZEFTitlerEffect* title = addTitle("Hello", 0, 1200);
    project.selectItem(title, false);
    auto* p = page<CTitlerSetup>();
    ASSERT_TRUE(p);
    QSpinBox* size = p->fontTab().size;
    size->selectAll();
    QTest::keyClicks(size, QStringLiteral("1001"));
    EXPECT_EQ(size->value(), 100);
    EXPECT_EQ(title->style().size, 100);
    p->selectTab(1);
    QTest::mouseClick(p->effectsTab().shadow, Qt::LeftButton); // the shadow's fields need it on
    QSpinBox* transparency = p->effectsTab().transparency;
    ASSERT_TRUE(transparency->isEnabled());
    transparency->selectAll();
    QTest::keyClicks(transparency, QStringLiteral("256"));
    EXPECT_EQ(transparency->value(), 25);
    EXPECT_EQ(title->style().shadowOpacity, 255 - 25);

    // A delay needs a title that scrolls in or out.
    CTitlerTab2& effects = p->effectsTab();
    QTest::mouseClick(effects.delay, Qt::LeftButton);
    EXPECT_FALSE(effects.delayPercent->isEnabled());
    QTest::mouseClick(effects.in, Qt::LeftButton);
    EXPECT_TRUE(effects.delayPercent->isEnabled());
    EXPECT_EQ(title->style().displayFlags & 32u, 32u);
}

TEST_F(Decks, TitleTypedQuicklyIsBuiltOnceHalfASecondAfterTheLastKey)
{
    ZEFTitlerEffect* first = addTitle("First", 0, 600);
    TitleStyle own = first->style();
    own.usePrevious = 1; // the first title has no previous one to take its style from
    first->setStyle(own);
    ZEFTitlerEffect* title = addTitle("", 600, 1800);
    Watcher watch;
    watch.item = title;
    project.addObserver(&watch);
    project.selectItem(title, false);
    auto* p = page<CTitlerSetup>();
    ASSERT_TRUE(p);
    EXPECT_TRUE(p->usePrevious()->isEnabled()); // not the first title
    QTest::keyClicks(p->textBox(), QStringLiteral("Hi there"), Qt::NoModifier, 20);
    EXPECT_EQ(title->text(), "Hi there");
    EXPECT_EQ(watch.changes, 0);
    QTest::qWait(CTitlerSetup::kTextDelay + 200);
    EXPECT_EQ(watch.changes, 1);
    ASSERT_FALSE(watch.seeks.empty());
    EXPECT_EQ(watch.seeks.back().ticks(), 1200); // the middle of the title

    // Switching to another title with text pending builds it at once.
    QTest::keyClicks(p->textBox(), QStringLiteral("!"));
    project.selectItem(first, false);
    EXPECT_EQ(watch.changes, 2);
    EXPECT_FALSE(p->usePrevious()->isEnabled());
    EXPECT_FALSE(p->usePrevious()->isChecked());
    project.removeObserver(&watch);
}

TEST_F(Decks, InfoDeckPrintsSizesAndCaptureSpaceInTheirUnits)
{
    const std::string dir = movies::testing::mediaDir();
    auto clipOfSize = [&](const char* name, size_t kb) {
        const std::string path = dir + "/" + name;
        std::ofstream(path, std::ios::binary) << std::string(kb * 1024, '\0');
        auto clip = std::make_unique<ZEFSourceItem>(&project, kGallery);
        clip->setPath(path);
        clip->setInvalid(true);
        ZEFSourceItem* p = clip.get();
        project.addItem(std::move(clip), false, false);
        return p;
    };
    auto sizeLine = [&] {
        for (const std::string& l : info->lines())
            if (l.rfind("CN\tFile Size:", 0) == 0) return l;
        return std::string();
    };
    project.selectItem(clipOfSize("size-1536k.bin", 1536), false);
    EXPECT_EQ(sizeLine(), "CN\tFile Size:\t1.50 MB");
    EXPECT_EQ(info->caption(), QStringLiteral("Clip Info: "));
    project.selectItem(clipOfSize("size-1024k.bin", 1024), false);
    EXPECT_EQ(sizeLine(), "CN\tFile Size:\t1024.00 KB");

    CaptureStatistics stats{25.0f, 3'600'000, 2480, 62, 1, 121, 120};
    info->showCaptureInfo(&stats, 25, 1, true);
    EXPECT_EQ(info->caption(), QStringLiteral("Capture Info"));
    const std::vector<std::string> expected = {
        "YBCapture Information:",
        "CN\tCaptured time: 00:02:12",
        "CN\tAchieved frame rate:\t25.00 f/s",
        "CN\tCaptured frames:\t\t62",
        "CN\tDropped frames:\t\t1",
        "CN\tAchieved data rate:\t3.60 MB/s",
        "GN\tRemaining capture time:",
        "CN\tPreallocated space for 120 seconds",
        "CN\tTotal disk space for 2 minutes, 1 seconds",
        "GN",
        "GNPress STOP button to finish capture",
    };
    EXPECT_EQ(info->lines(), expected);

    // The shown item going away gives the deck back to the project.
    project.selectItem(project.device(kGallery).at(0), false);
    project.removeItemAt(kGallery, 0, false);
    EXPECT_EQ(info->shownItem(), nullptr);
    EXPECT_EQ(info->caption(), QStringLiteral("Project Info: Untitled"));
}
