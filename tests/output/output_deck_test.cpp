// The output settings deck offscreen: a real project with a clip, the built-in export
// components, the deck's controls driven as a user would, and the files its renders write,
// read back with ffprobe.
#include "engine/effect_catalogue.h"
#include "engine/movie_builder.h"
#include "model/project.h"
#include "model/template_list.h"
#include "output/broadcast_dialogs.h"
#include "output/doutput_settings.h"
#include "output/export_dialogs.h"
#include "output/render_progress.h"
#include "platform/movies/effects/effect_registry.h"
#include "platform/movies/export/av_exporter.h"
#include "platform/movies/export/broadcast_exporter.h"
#include "platform/movies/export/standard_exporters.h"
#include "tests/engine/project_items.h"
#include "tests/model/scripted_ui.h"
#include "tests/movies/export/export_test_support.h"
#include "tests/movies/test_media.h"
#include "ui/controls/xbutton.h"
#include "ui/controls/xcheckbox.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLineEdit>
#include <QPainter>
#include <QSpinBox>
#include <QTest>
#include <QTimer>

#include <filesystem>
#include <functional>

using namespace zef;
using namespace zef::movies;
using namespace zef::output;
namespace media = zef::movies::testing::media;
namespace check = zef::movies::testing;
namespace fs = std::filesystem;

namespace {

// Runs f on the next modal dialog of type T, once it is shown (the code that opens it waits in
// its own event loop meanwhile).
template <class T> void onNextDialog(std::function<void(T&)> f)
{
    auto* timer = new QTimer;
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, f] {
        auto* d = qobject_cast<T*>(QApplication::activeModalWidget());
        if (!d || !d->isVisible()) return;
        timer->stop();
        timer->deleteLater();
        f(*d);
    });
    timer->start();
}

// What the main bar would draw, and a hook run at every status.
struct RecordedProgress : ProgressDisplay {
    std::vector<std::string> texts;
    int released = 0;
    std::function<void(const CFile2000Status&)> during;
    void showRenderStatus(const CFile2000Status* s) override
    {
        if (!s) {
            ++released;
            return;
        }
        texts.push_back(statusText(*s));
        if (during) during(*s);
    }
};

AtomContainer settingsOf(const CProjectTemplate& t)
{
    AtomContainer c;
    EXPECT_EQ(AtomContainer::fromHandle(t.exportSettings, c), noErr);
    return c;
}

class Deck : public ::testing::Test {
protected:
    void SetUp() override
    {
        registerStandardExporters(components);
        ASSERT_EQ(catalogue.buildCatalogue(), noErr);
        project.setEffectCatalogue(&catalogue);
        project.setEngine(&builder);
        project.setTemplateList(&templates);
        project.setUserInterface(&ui);
        dir = check::testFolder(::testing::UnitTest::GetInstance()->current_test_info()->name());
    }
    void TearDown() override { deck.reset(); }

    DOutputSettings& open()
    {
        deck = std::make_unique<DOutputSettings>(
            OutputServices{&project, &templates, &components, &builder, &ui, &progress});
        return *deck;
    }
    template <class W> W* control(const char* name) const
    {
        W* w = deck->findChild<W*>(QString::fromUtf8(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    void choose(const char* combo, const QString& text)
    {
        auto* box = control<QComboBox>(combo);
        const int i = box->findText(text);
        ASSERT_GE(i, 0) << text.toStdString();
        box->setCurrentIndex(i);
        emit box->activated(i);
    }
    void click(const char* name) { QTest::mouseClick(control<QWidget>(name), Qt::LeftButton); }
    void typeOutputFile(const QString& text)
    {
        auto* edit = control<QLineEdit>("OutputFile");
        edit->setText(text);
        emit edit->editingFinished();
    }
    // A clip of numbered pictures with a tone on Layer A for the given ticks.
    void addClip(int64_t ticks)
    {
        test::addClip(project, media::avClip4s(), 0, 0, ticks);
        project.updateRenderEnd();
    }
    CProjectTemplate composition() const { return project.composition(); }
    void setComposition(const std::function<void(CProjectTemplate&)>& f)
    {
        CProjectTemplate t = project.composition();
        f(t);
        project.setComposition(t);
    }

    EffectRegistry registry = EffectRegistry::withBuiltIns();
    ComponentManager components;
    FEffectCatalogue catalogue{registry};
    TemplateList templates;
    FProject project;
    FMovieBuilder builder{project, registry, &components};
    test::ScriptedUserInterface ui;
    RecordedProgress progress;
    std::unique_ptr<DOutputSettings> deck;
    std::string dir;
};

} // namespace

TEST(OutputFileName, TheComponentsExtensionReplacesTheFilesOwnOnly)
{
    EXPECT_EQ(renewedExtension("render", fourcc("mov\0")), "render.mov");
    EXPECT_EQ(renewedExtension("out/take.2/cut", fourcc("mp4\0")), "out/take.2/cut.mp4");
    EXPECT_EQ(renewedExtension("/m/a.mov", fourcc("DV\0\0")), "/m/a.DV");
    EXPECT_EQ(renewedExtension("a.b.mov", fourcc("webm")), "a.b.webm");
    EXPECT_EQ(renewedExtension(" a.mov", fourcc("mp4\0")), " a.mov");
    EXPECT_EQ(renewedExtension("a.mov", 0), "a.mov");
}

TEST_F(Deck, ARateOutsideTheListShowsOneAndKeepsTheRate)
{
    setComposition([](CProjectTemplate& t) { t.frameRate = 1571553; }); // 23.98
    open();
    EXPECT_EQ(control<QComboBox>("FrameRate")->currentText(), QStringLiteral("1"));
    EXPECT_EQ(composition().frameRate, 1571553);
    EXPECT_FALSE(deck->settings().modified());

    // Choosing from the list sets the rate, in the settings' 'tprl' too.
    ASSERT_TRUE(deck->settings().applyDefaultSettings());
    choose("FrameRate", QStringLiteral("25"));
    EXPECT_EQ(composition().frameRate, 25 << 16);
    TemporalSettings temporal;
    ASSERT_TRUE(readTemporalSettings(settingsOf(composition()), &temporal));
    EXPECT_EQ(temporal.frameRate, 25 << 16);
}

TEST_F(Deck, AComponentOfTheSameMakerKeepsTheSettingsWhenItCanUseThem)
{
    open();
    typeOutputFile(QStringLiteral("renders.v2/cut"));
    EXPECT_EQ(composition().outputFile, "renders.v2/cut.mov");
    ASSERT_TRUE(deck->settings().applyDefaultSettings());
    AtomContainer s = settingsOf(composition());
    writeAtomUInt16(s, kVideoSettingsAtom, kCRFAtom, 30);
    setComposition([&](CProjectTemplate& t) { t.exportSettings = s.flatten(); });
    const Handle movieSettings = composition().exportSettings;

    // MPEG-4 files take the movie's H.264 and AAC settings as they are.
    choose("Component", QStringLiteral("MPEG-4"));
    EXPECT_EQ(composition().exportSubType, kMovieExportMPEG4);
    EXPECT_EQ(composition().exportSettings, movieSettings);
    EXPECT_EQ(composition().outputFile, "renders.v2/cut.mp4");
    EXPECT_EQ(control<QLineEdit>("OutputFile")->text(), QStringLiteral("renders.v2/cut.mp4"));

    // WebM has no H.264: the settings go, and the broadcast switches with them.
    choose("Component", QStringLiteral("WebM"));
    EXPECT_EQ(composition().exportSubType, kMovieExportWebM);
    EXPECT_TRUE(composition().exportSettings.isNull());
    EXPECT_EQ(composition().outputFile, "renders.v2/cut.webm");
    EXPECT_FALSE(control<QWidget>("LiveSetup")->isEnabled());
}

TEST_F(Deck, ServerDialogOnEmptySettingsWritesTheParentAndSevenChildren)
{
    setComposition([](CProjectTemplate& t) {
        t.exportSubType = kMovieExportBroadcast;
        t.exportSettings = AtomContainer().flatten();
    });
    open();
    ASSERT_TRUE(control<QWidget>("LiveSetup")->isEnabled());
    const std::string longest(kBroadcastTextMax, 's');
    const std::string tooLong = std::string(258, 't') + "\xC3\xA9" + "more"; // é cut whole
    bool empty = false;
    onNextDialog<CServerSettingsDialog>([&](CServerSettingsDialog& d) {
        empty = d.settings() == ServerSettings{};
        d.findChild<QLineEdit*>("server")->setText(QString::fromStdString(longest));
        d.findChild<QLineEdit*>("title")->setText(QString::fromUtf8(tooLong.c_str()));
        d.accept();
    });
    click("LiveSetup");
    EXPECT_TRUE(empty);

    const AtomContainer s = settingsOf(composition());
    const QTAtom brdc = s.findChildByIndex(kParentAtomIsContainer, kBroadcastAtom, 1);
    ASSERT_NE(brdc, 0);
    EXPECT_EQ(s.countChildrenOfType(brdc, 0), 7);
    for (OSType child :
         {fourcc("port"), fourcc("athr"), fourcc("cprg"), fourcc("user"), fourcc("pass")}) {
        const auto data = s.atomData(s.findChildByIndex(brdc, child, 1));
        EXPECT_EQ(data.size(), 1u) << fourccToString(child); // the zero alone
    }
    const auto server = s.atomData(s.findChildByIndex(brdc, fourcc("srvr"), 1));
    ASSERT_EQ(server.size(), kBroadcastTextMax + 1);
    EXPECT_EQ(server.back(), 0);
    EXPECT_EQ(composition().broadcastText[7], longest);
    // 258 bytes and a two-byte letter do not fit: the letter goes whole.
    EXPECT_EQ(composition().broadcastText[5], std::string(258, 't'));
    EXPECT_EQ(readBroadcastText(s, fourcc("titl")), std::string(258, 't'));
    EXPECT_TRUE(deck->settings().modified());
}

TEST_F(Deck, TheMoviesBroadcastSettingsKeepTheFileURL)
{
    open();
    ASSERT_TRUE(deck->settings().applyDefaultSettings());
    deck->refreshFromTemplate();
    onNextDialog<CBroadcastSettingsDialog>([](CBroadcastSettingsDialog& d) {
        d.findChild<QLineEdit*>("url")->setText(QStringLiteral("file:///srv/show.mov"));
        d.accept();
    });
    click("LiveSetup");
    EXPECT_EQ(readBroadcastText(settingsOf(composition()), fourcc("url ")), "file:///srv/show.mov");
    EXPECT_EQ(composition().broadcastText[0], "file:///srv/show.mov");
}

TEST_F(Deck, ThePrintToTapePlugInIsListedAndShowsItsOwnDialog)
{
    ASSERT_EQ(components.registerPluginFile(ZEF_PELTRA_PATH), noErr);
    setComposition([](CProjectTemplate& t) { t.outputFile = "tape"; });
    open();
    choose("Component", QStringLiteral("Print to DV Tape"));
    EXPECT_EQ(composition().exportSubType, fourcc("Pelt"));
    EXPECT_EQ(composition().exportManufacturer, fourcc("krvI"));
    EXPECT_EQ(composition().outputFile, "tape.DV"); // a two-letter extension
    double shown = 0;
    onNextDialog<QDialog>([&](QDialog& d) {
        auto* rate = d.findChild<QDoubleSpinBox*>("frameRate");
        ASSERT_NE(rate, nullptr);
        shown = rate->value();
        rate->setValue(25);
        d.accept();
    });
    click("ComponentSetup");
    EXPECT_EQ(shown, 30.0); // the edit frame rate went into the settings it was given
    EXPECT_EQ(composition().frameRate, 25 << 16);
    TemporalSettings temporal;
    ASSERT_TRUE(readTemporalSettings(settingsOf(composition()), &temporal));
    EXPECT_EQ(temporal.frameRate, 25 << 16);
}

TEST_F(Deck, SwitchingFromAnEditedTemplateAsksToSaveItUnderItsNewName)
{
    CProjectTemplate web(true, "Web");
    web.width = 640;
    web.height = 480;
    templates.append(web);
    CProjectTemplate small(true, "Small");
    small.width = 160;
    small.height = 120;
    templates.append(small);
    setComposition([&](CProjectTemplate& t) { t = web; });
    open();
    EXPECT_EQ(control<QComboBox>("Templates")->currentText(), QStringLiteral("Web"));
    EXPECT_FALSE(control<QWidget>("SaveTemplate")->isEnabled());
    EXPECT_FALSE(control<QWidget>("DeleteTemplate")->isEnabled()); // built in

    // The first change gives the template a name of its own; the other side follows the width.
    auto* width = control<QSpinBox>("Width");
    width->setValue(800);
    EXPECT_EQ(composition().height, 600);
    EXPECT_EQ(composition().name, "Web001");
    EXPECT_EQ(control<QComboBox>("Templates")->currentText(), QStringLiteral("Web001"));
    EXPECT_TRUE(control<QWidget>("SaveTemplate")->isEnabled());

    ui.answers = {Answer::Yes};
    choose("Templates", QStringLiteral("Small"));
    ASSERT_EQ(ui.asked.size(), 1u);
    EXPECT_EQ(ui.asked[0].text, "Do you want to save your changes to template Web001");
    EXPECT_EQ(ui.asked[0].title, "Warning");
    ASSERT_NE(templates.findByName("Web001"), nullptr);
    EXPECT_EQ(templates.findByName("Web001")->width, 800);
    EXPECT_FALSE(templates.findByName("Web001")->builtIn);
    EXPECT_EQ(composition().name, "Small");
    EXPECT_EQ(composition().width, 160);
    EXPECT_EQ(control<QSpinBox>("Height")->value(), 120);

    // The saved template can be deleted; the list then selects its neighbour.
    auto* list = control<QComboBox>("Templates");
    list->setEditText(QStringLiteral("Web001"));
    ASSERT_TRUE(control<QWidget>("DeleteTemplate")->isEnabled());
    click("DeleteTemplate");
    EXPECT_EQ(templates.findByName("Web001"), nullptr);
    EXPECT_EQ(list->currentText(), QStringLiteral("Small"));
}

TEST_F(Deck, ComponentSetupWritesTheDialogsAtomsAndRecordNowRendersWithThem)
{
    addClip(600);
    setComposition([&](CProjectTemplate& t) { t.outputFile = dir + "/master"; });
    open();
    EXPECT_EQ(composition().outputFile, dir + "/master.mov");
    onNextDialog<CExportSettingsDialog>([](CExportSettingsDialog& d) {
        auto* codec = qobject_cast<QComboBox*>(d.control("vide/codc"));
        codec->setCurrentIndex(codec->findText(QStringLiteral("ProRes 422")));
        EXPECT_FALSE(d.control("vide/crf ")->isVisibleTo(&d)); // H.264's only
        auto* profile = qobject_cast<QComboBox*>(d.control("vide/prof"));
        profile->setCurrentIndex(profile->findText(QStringLiteral("422 HQ")));
        auto* rate = qobject_cast<QComboBox*>(d.control("vide/tprl/rate"));
        rate->setCurrentIndex(rate->findText(QStringLiteral("25")));
        auto* sound = qobject_cast<QComboBox*>(d.control("soun/codc"));
        sound->setCurrentIndex(sound->findText(QStringLiteral("PCM 16-bit (little-endian)")));
        d.accept();
    });
    click("ComponentSetup");
    const AtomContainer s = settingsOf(composition());
    uint32_t v = 0;
    EXPECT_TRUE(readAtomUInt(s, kVideoSettingsAtom, kCodecAtom, &v) && v == kCodecProRes);
    EXPECT_TRUE(readAtomUInt(s, kVideoSettingsAtom, kProfileAtom, &v) && v == 3);
    EXPECT_EQ(composition().frameRate, 25 << 16); // the dialog's rate became the edit rate
    EXPECT_EQ(control<QComboBox>("FrameRate")->currentText(), QStringLiteral("25"));

    ASSERT_TRUE(deck->recordNow());
    const std::string out = dir + "/master.mov";
    const auto info = check::probe(out);
    ASSERT_FALSE(info.empty());
    EXPECT_EQ(info.at("streams.stream.0.codec_name"), "prores");
    EXPECT_EQ(info.at("streams.stream.0.profile"), "HQ");
    EXPECT_EQ(info.at("streams.stream.0.r_frame_rate"), "25/1");
    EXPECT_EQ(info.at("streams.stream.0.nb_read_frames"), "25");
    EXPECT_EQ(info.at("streams.stream.1.codec_name"), "pcm_s16le");
    // The progress went through the display and the file joined the gallery.
    ASSERT_FALSE(progress.texts.empty());
    EXPECT_EQ(progress.texts.back(), "Rendering  finished 100.00 % done");
    EXPECT_GE(progress.released, 1);
    EXPECT_EQ(project.device(kGallery).size(), 1u);
    EXPECT_TRUE(ui.asked.empty());
}

TEST_F(Deck, EscDuringRecordNowStopsTheRenderAndOtherInputWaits)
{
    addClip(2400);
    setComposition([&](CProjectTemplate& t) { t.outputFile = dir + "/stopped.mov"; });
    open();
    const bool details = deck->settings().details();
    bool pressed = false;
    progress.during = [&](const CFile2000Status& s) {
        if (pressed || !s.progressShown || s.fraction < 0.1) return;
        pressed = true;
        // A click on the deck waits until the render is over; Esc stops it.
        QTest::mouseClick(control<QWidget>("Details"), Qt::LeftButton);
        QTest::keyClick(control<QWidget>("OutputFile"), Qt::Key_Escape);
    };
    EXPECT_FALSE(deck->recordNow());
    EXPECT_TRUE(pressed);
    EXPECT_EQ(deck->settings().details(), details);
    EXPECT_TRUE(ui.asked.empty()); // an abort has no message
    EXPECT_EQ(project.device(kGallery).size(), 0u);
    // Input reaches the deck again.
    click("Details");
    EXPECT_NE(deck->settings().details(), details);
}

TEST_F(Deck, LiveBroadcastFromTheDeckReachesALoopbackReceiver)
{
    addClip(1200);
    setComposition([&](CProjectTemplate& t) { t.outputFile = dir + "/live"; });
    open();
    click("KeepAspect"); // off: the two sides apart
    control<QSpinBox>("Width")->setValue(176);
    control<QSpinBox>("Height")->setValue(144);
    choose("Component", QStringLiteral("Live Broadcast"));
    onNextDialog<CExportSettingsDialog>([](CExportSettingsDialog& d) { d.accept(); });
    click("ComponentSetup");
    ASSERT_TRUE(control<QWidget>("BroadcastEnable")->isEnabled());

    const int port = check::freePort();
    ASSERT_GT(port, 0);
    const std::string received = dir + "/received.flv";
    const int receiver = check::startProcess(
        {"ffmpeg", "-v", "error", "-y", "-listen", "1", "-i",
         "rtmp://127.0.0.1:" + std::to_string(port) + "/live/show", "-c", "copy", received});
    ASSERT_GT(receiver, 0);
    for (int i = 0; i < 200 && !check::isListening(port); ++i)
        QTest::qWait(20);
    ASSERT_TRUE(check::isListening(port));

    onNextDialog<CServerSettingsDialog>([port](CServerSettingsDialog& d) {
        d.findChild<QLineEdit*>("server")->setText(QStringLiteral("127.0.0.1"));
        d.findChild<QLineEdit*>("port")->setText(QString::number(port));
        d.findChild<QLineEdit*>("title")->setText(QStringLiteral("show"));
        d.accept();
    });
    click("LiveSetup");
    click("BroadcastEnable");
    EXPECT_TRUE(composition().broadcastEnabled);

    EXPECT_FALSE(deck->recordNow()); // a broadcast leaves no file for the gallery
    check::waitProcess(receiver, 10000);
    EXPECT_TRUE(ui.asked.empty());
    const auto& texts = progress.texts;
    EXPECT_NE(std::find_if(texts.begin(), texts.end(),
                           [](const std::string& t) {
                               return t.starts_with("Live Broadcasting. Hold ESC to abort. ") &&
                                      t.ends_with(" sec remaining");
                           }),
              texts.end());
    EXPECT_NE(std::find(texts.begin(), texts.end(), "Live Broadcasting finished 100.00 % done"),
              texts.end());
    const auto info = check::probe(received);
    ASSERT_FALSE(info.empty());
    EXPECT_EQ(info.at("streams.stream.0.codec_name"), "h264");
    EXPECT_EQ(info.at("streams.stream.0.width"), "176");
    EXPECT_EQ(info.at("streams.stream.0.height"), "144");
    EXPECT_NEAR(std::stod(info.at("format.duration")), 2.0, 0.15);
    EXPECT_EQ(project.device(kGallery).size(), 0u);
}

TEST(ExportDialogs, EveryBuiltInComponentTakesWhatItsDialogWrites)
{
    for (OSType subType : standardExporterSubTypes()) {
        const ExporterDialogDescription* d = exporterDialog(subType);
        ASSERT_NE(d, nullptr) << fourccToString(subType);
        auto exporter = makeStandardExporter(subType);
        AtomContainer settings = exporter->defaultSettings();
        CExportSettingsDialog dialog(*d, settings, exporter->defaultSettings());
        // Every choice of every list once, written and taken.
        for (const SettingField& f : d->fields) {
            auto* box = qobject_cast<QComboBox*>(dialog.control(
                QString::fromStdString(fourccToString(f.parent) + "/" + fourccToString(f.atom)) +
                (f.kind == FieldKind::FrameRate ? "/rate"
                 : f.kind == FieldKind::Quality ? "/quality"
                                                : "")));
            if (!box) continue;
            for (int i = 0; i < box->count(); ++i) {
                box->setCurrentIndex(i);
                AtomContainer written = exporter->defaultSettings();
                dialog.write(written);
                EXPECT_EQ(exporter->setSettings(written), noErr)
                    << fourccToString(subType) << " " << f.label << " "
                    << box->itemText(i).toStdString();
            }
        }
    }
}

TEST(RenderStatus, ThePartDoneIsLitGreenAndTheTextIsDrawn)
{
    QImage image(400, 23, QImage::Format_RGB32);
    image.fill(Qt::black);
    CFile2000Status s;
    s.progressShown = true;
    s.fraction = 0.5;
    s.displayed = "Rendering . Hold ESC to abort.";
    {
        QPainter p(&image);
        drawRenderStatus(p, image.rect(), s);
    }
    const QColor done = image.pixelColor(10, 6), left = image.pixelColor(390, 6);
    EXPECT_EQ(done.green(), 255);
    EXPECT_LT(left.green(), 230);
    EXPECT_EQ(done.red(), left.red()); // the same picture under the green
    EXPECT_EQ(image.pixelColor(0, 0), QColor(0xC0, 0xC0, 0xC0));
    int dark = 0; // the text's pixels in the middle
    for (int x = 120; x < 280; ++x)
        for (int y = 5; y < 18; ++y)
            if (qGray(image.pixel(x, y)) < 60) ++dark;
    EXPECT_GT(dark, 50);
}
