// A movie exported through the compositor: the right number of frames, each showing what the
// movie shows at that frame's time.
#include "../compositor/scene.h"
#include "export_test_support.h"
#include "platform/movies/export/export_pipeline.h"
#include "platform/movies/export/movie_export_source.h"
#include "platform/movies/export/standard_exporters.h"
#include "platform/movies/media_file.h"
#include "platform/movies/video_decoder.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace zef::movies {
namespace {

TEST(MovieExportSource, FramesFollowTheMovieAtTheExportRate)
{
    // 2 s at 600: red for the first second, blue for the second.
    testing::Scene scene(64, 48, 1200);
    scene.solid(argb(255, 255, 0, 0), 0, {}, 0, 600);
    scene.solid(argb(255, 0, 0, 255), 0, {}, 600, 600);

    MovieExportSource::Options options;
    options.rate = {25, 1};
    MovieExportSource source(scene.movie, options);
    EXPECT_EQ(source.frameCount(), 50);
    EXPECT_EQ(source.video().width, 64);
    EXPECT_EQ(source.audio().sampleRate, 0) << "a movie without sound exports no sound";
    EXPECT_EQ(source.frameTime(25), 600);

    options.rate = {30000, 1001};
    EXPECT_EQ(MovieExportSource(scene.movie, options).frameCount(), 60)
        << "frames whose start lies inside the movie";

    auto exporter = makeStandardExporter(kMovieExportImageSequence);
    const std::string folder = testing::testFolder("movie-source");
    const std::string path = folder + "/frame.png";
    ASSERT_EQ(convertToFile(source, *exporter, path, createMovieFileDeleteCurFile, nullptr, 0),
              noErr);
    EXPECT_EQ(source.lastError(), noErr);

    int files = 0;
    for (const auto& e : std::filesystem::directory_iterator(folder))
        files += e.path().extension() == ".png";
    EXPECT_EQ(files, 50);

    // Files are numbered from 1: file n holds frame n − 1.
    for (auto [index, colour] : {std::pair{1, argb(255, 255, 0, 0)},
                                 {25, argb(255, 255, 0, 0)},
                                 {26, argb(255, 0, 0, 255)},
                                 {50, argb(255, 0, 0, 255)}}) {
        char name[64];
        std::snprintf(name, sizeof name, "/frame_%05d.png", index);
        auto opened = MediaFile::open(folder + name);
        ASSERT_EQ(opened.status, MediaOpenStatus::ok) << name;
        VideoDecoder decoder(opened.file, 0);
        Pixmap p(64, 48);
        ASSERT_TRUE(decoder.drawAt(0, p));
        EXPECT_EQ(p.pixel(32, 24) | 0xFF000000u, colour) << name;
    }
}

} // namespace
} // namespace zef::movies
