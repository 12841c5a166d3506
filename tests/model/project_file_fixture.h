// Helpers of the project file and undo tests: a clip opener that knows a set of files, a
// project rich in every kind of record, and temporary files.
#pragma once

#include "model_fixture.h"
#include "scripted_ui.h"

#include "model/compound_io.h"
#include "platform/storage/stream.h"

#include <cstdlib>
#include <filesystem>
#include <map>

namespace zef::test {

struct FakeMedia : ClipMedia {
    bool viaMovieToolbox() const override { return true; }
};

// "Opens" the files it was told about: video at 30 fps with the given number of frames; a
// file given -1 frames opens but holds neither video nor audio. Every attempt is recorded.
struct MediaOpener : ClipOpener {
    std::map<std::string, int32_t> files;
    std::vector<std::string> attempts;

    std::unique_ptr<ClipMedia> open(const std::string& path, int32_t, int32_t, MediaInfo& info,
                                    bool& notAMovie) override
    {
        attempts.push_back(path);
        notAMovie = false;
        auto it = files.find(path);
        if (it == files.end()) return nullptr;
        if (it->second >= 0) {
            info.rateNum = 30;
            info.rateDen = 1;
            info.frameCount = it->second;
            info.videoTrackCount = 1;
        }
        return std::make_unique<FakeMedia>();
    }
};

// A directory of its own for each test (tests run in parallel processes).
inline std::string testDir()
{
    const char* base = std::getenv("ZEF_TEST_TMP");
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::filesystem::path p = std::filesystem::path(base ? base : "/tmp") / "project-file" /
                              (std::string(info->test_suite_name()) + "." + info->name());
    std::filesystem::remove_all(p);
    std::filesystem::create_directories(p);
    return p.string();
}

inline std::vector<uint8_t> projectBytes(const FProject& project)
{
    storage::MemoryStream s;
    EXPECT_EQ(project.writeProject(s), 0);
    return s.bytes();
}

inline std::vector<uint8_t> fileBytes(const std::string& path)
{
    std::vector<uint8_t> bytes;
    EXPECT_EQ(readCompoundStream(path, "Header", bytes), CompoundRead::Ok) << path;
    return bytes;
}

class ProjectFileTest : public ModelTest {
protected:
    ProjectFileTest() { project.setClipOpener(&opener); }

    // A clip of `frames` frames whose file the opener knows (unless missing is set).
    ZEFSourceItem* addClip(int32_t track, const std::string& path, int32_t frames, int64_t start,
                           bool missing = false)
    {
        if (!missing) opener.files[path] = frames;
        auto c = clip(track, path, frames, start);
        ZEFSourceItem* raw = c.get();
        project.addItem(std::move(c), false, false);
        return raw;
    }

    // Every kind of record: all five tracks, overlapping clips with transitions, filters,
    // effect items with parameter blocks, titles with styles, keyframes, a disabled track, an
    // invalid clip, and non-default settings everywhere else.
    void buildRichProject()
    {
        CProjectTemplate t = CProjectTemplate::builtInDefaults();
        t.name = "Rich Template";
        t.width = 640;
        t.height = 480;
        t.frameRate = 25 << 16;
        t.broadcastEnabled = true;
        t.broadcastText[0] = "rtsp://host/x";
        t.broadcastText[9] = "last";
        t.flattenForBroadcast = true;
        t.exportSettings = movies::Handle("settings", 8);
        t.cropRect = {0x1000, 0x2000, 0xE000, 0xF000};
        t.cropEnabled = true;
        t.outputFile = "/out/movie.mov";
        project.setComposition(t);
        project.previewFlags[0] = true;
        project.captureRate = 3;
        project.captureTime = 99;
        project.captureMode = 2;
        project.captureFileName = "/captures/c.avi";
        for (int i = 0; i < kPanelCount; ++i)
            project.panels[size_t(i)] = {{10 * i, 20 * i, 300 + i, 400 + i}, i % 2 == 0};

        ZEFSourceItem* a0 = addClip(kLayerA, "/media/a0.mov", 90, 0);
        a0->addFilter(std::make_unique<ZEFEffectItem>(&project, kLayerA, a0));
        a0->filter(0)->setEffectParameters(movies::Handle("blur=3", 6));
        a0->transition()->setEffectParameters(movies::Handle("\x01\x02\x03", 3));
        ZEFSourceItem* a1 = addClip(kLayerA, "/media/a1.mov", 60, 2400);
        a1->moveTo(EditTime(1500), false); // overlaps a0: a transition
        a1->setGraphicsMode(36);
        a1->setGraphicsModeColor(0x123456);

        ZEFItem* effect = place(kLayerB, 0, 900);
        static_cast<ZEFEffectItem*>(effect)->setEffectParameters(movies::Handle("p", 1));
        static_cast<ZEFEffectItem*>(effect)->setEffectDescription(movies::Handle("desc", 4));
        ZEFSourceItem* missing = addClip(kLayerB, "/gone/b1.mov", 30, 1200, true);
        missing->setInvalid(true);

        ZEFSourceItem* c0 = addClip(kLayerC, "/media/c0.mov", 300, 600);
        c0->setScaleType(1);
        c0->setScaleFactor(1.5f);
        c0->setCropRect({0x100, 0x200, 0xF000, 0xE000});
        c0->setMatrix(0, movies::MatrixRecord::translation(3 << 16, 4 << 16));
        c0->setMatrix(1, movies::MatrixRecord::scaling(2 << 16, 1 << 16));
        c0->setVolume(200);
        c0->setPlacementMode(2);
        c0->setVideoTrackIndex(1);
        c0->setAudioTrackIndex(2);
        project.setTrackEnabled(kLayerC, false);

        addClip(kGallery, "/media/g0.mov", 45, 0);

        auto title = std::make_unique<ZEFTitlerEffect>(&project);
        title->setName("Title");
        title->setText("Hello\rWorld");
        TitleStyle style;
        style.size = 48;
        style.textColor = {0x12, 0x34, 0x56};
        style.backColor = {1, 2, 3};
        style.justification = -2;
        title->setStyle(style);
        title->assignStart(EditTime::raw(300));
        title->assignEnd(EditTime::raw(900));
        project.addItem(std::move(title), false, false);

        project.insertKeyframe(kLayerA, EditTime(600), movies::MatrixRecord::translation(50, 0),
                               false);
        project.insertKeyframe(kLayerA, EditTime(1200), movies::MatrixRecord::identity(), false);
        project.insertKeyframe(kLayerC, EditTime(300), movies::MatrixRecord::scaling(1, 2), false);
        project.renderEndFollowsProject = false;
        project.renderStart = EditTime::raw(120, 25, 1);
        project.renderEnd = EditTime::raw(4800, 0, 1, 1);
        ASSERT_EQ(project.checkConsistency(), "");
    }

    MediaOpener opener;
    ScriptedUserInterface ui;
};

} // namespace zef::test
