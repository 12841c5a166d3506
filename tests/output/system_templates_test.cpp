// The presets of the "System" template file, as the build wrote it, each rendering a short
// project through its export component; ffprobe says what came out.
#include "engine/effect_catalogue.h"
#include "engine/movie_builder.h"
#include "engine/render.h"
#include "model/project.h"
#include "model/template_list.h"
#include "platform/movies/effects/effect_registry.h"
#include "platform/movies/export/standard_exporters.h"
#include "tests/engine/project_items.h"
#include "tests/movies/export/export_test_support.h"
#include "tests/movies/test_media.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

using namespace zef;
using namespace zef::movies;
namespace check = zef::movies::testing;
namespace fs = std::filesystem;

TEST(SystemTemplates, PresetsRenderThroughTheirComponents)
{
    TemplateList templates;
    ASSERT_TRUE(templates.loadFile(ZEF_DATA_DIR, "System", true));
    const struct {
        const char* name;
        const char* codec;   // of the first stream
        const char* profile; // or null
        const char* size;
    } presets[] = {
        {"Web H.264 MP4 (fast start), 1280 x 720, 30 fps", "h264", nullptr, "1280x720"},
        {"Web WebM (VP9 + Opus), 1280 x 720, 30 fps", "vp9", nullptr, "1280x720"},
        {"ProRes 422 master, 1920 x 1080, 25 fps", "prores", "Standard", "1920x1080"},
        {"DNxHR HQ master, 1920 x 1080, 25 fps", "dnxhd", "DNXHR HQ", "1920x1080"},
        {"Animated GIF, 480 x 270, 10 fps", "gif", nullptr, "480x270"},
        {"PNG image sequence, 1920 x 1080, 25 fps", "png", nullptr, "1920x1080"},
        {"DV PAL, 720 x 576, 25 fps", "dvvideo", nullptr, "720x576"},
        {"DV NTSC, 720 x 480, 29.97 fps", "dvvideo", nullptr, "720x480"},
    };
    const std::string dir = check::testFolder("system_templates");
    for (const auto& p : presets) {
        SCOPED_TRACE(p.name);
        const CProjectTemplate* t = templates.findByName(p.name);
        ASSERT_NE(t, nullptr);
        EffectRegistry registry = EffectRegistry::withBuiltIns();
        ComponentManager components;
        registerStandardExporters(components);
        FEffectCatalogue catalogue(registry);
        ASSERT_EQ(catalogue.buildCatalogue(), noErr);
        FProject project;
        project.setEffectCatalogue(&catalogue);
        FMovieBuilder builder(project, registry, &components);
        project.setEngine(&builder);
        CProjectTemplate settings = *t;
        const std::string base = dir + "/" + std::to_string(&p - presets);
        settings.outputFile = base + fs::path(t->outputFile).extension().string();
        project.setComposition(settings);
        test::addClip(project, zef::movies::testing::media::avClip4s(), 0, 0, 240);
        project.updateRenderEnd();
        FRender render(project, builder, components);
        ASSERT_TRUE(render.renderRange());

        const std::string file =
            p.codec == std::string("png") ? base + "_00001.png" : settings.outputFile;
        const auto info = check::probe(file);
        ASSERT_FALSE(info.empty());
        EXPECT_EQ(info.at("streams.stream.0.codec_name"), p.codec);
        EXPECT_EQ(info.at("streams.stream.0.width") + "x" + info.at("streams.stream.0.height"),
                  p.size);
        if (p.profile) {
            EXPECT_EQ(info.at("streams.stream.0.profile"), p.profile);
        }
        if (std::string(p.codec) == "h264") {
            // Fast start: the index comes before the pictures.
            std::ifstream in(file, std::ios::binary);
            const std::string bytes{std::istreambuf_iterator<char>(in), {}};
            EXPECT_LT(bytes.find("moov"), bytes.find("mdat"));
            EXPECT_EQ(info.at("streams.stream.1.codec_name"), "aac");
        }
    }
}
