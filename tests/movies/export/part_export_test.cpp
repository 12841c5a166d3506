// Exports in parts: picture parts that meet join frame for frame with the sound part, and a
// join whose part does not hold the frames it should is refused without leaving a file.
#include "export_test_support.h"
#include "platform/movies/export/part_export.h"
#include "platform/movies/export/standard_exporters.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace zef::movies;
using namespace zef::movies::testing;
namespace fs = std::filesystem;

TEST(PartExport, PicturePartsJoinFrameForFrameWithTheSound)
{
    const std::string dir = testFolder("part-export");
    PatternSource source(160, 120, {30, 1}, 60);
    for (OSType type : {kMovieExportMovie, kMovieExportMPEG4}) {
        SCOPED_TRACE(fourccToString(type));
        auto exporter = makeStandardExporter(type);
        PartFormat format;
        ASSERT_EQ(partFormat(*exporter, source, &format), noErr);
        EXPECT_EQ(format.frames, 60);
        EXPECT_TRUE(format.hasSound);
        // Parts of 7, 1 and 52 frames: a seam right after a key frame and a part of one frame.
        const std::vector<std::pair<int64_t, int64_t>> ranges = {{0, 7}, {7, 8}, {8, 60}};
        std::vector<PicturePart> parts;
        for (const auto& [first, end] : ranges) {
            const std::string path = dir + "/part-" + std::to_string(first) + ".mov";
            ASSERT_EQ(exportPicturePart(*exporter, source, first, end, path), noErr);
            parts.push_back({path, end - first});
        }
        const std::string sound = dir + "/sound.mov";
        ASSERT_EQ(exportSoundPart(*exporter, source, sound), noErr);

        const std::string joined = dir + "/joined." + format.muxer;
        std::string error;
        ASSERT_EQ(joinParts(format, parts, sound, joined, &error), noErr) << error;
        const std::vector<uint8_t> pictures = decodeVideo(joined, 160, 120);
        ASSERT_EQ(pictures.size(), size_t(60) * 160 * 120 * 4);
        for (int f = 0; f < 60; ++f)
            EXPECT_EQ(readFrameNumber(pictures.data() + size_t(f) * 160 * 120 * 4, 160, 120), f);
        // The whole export's sound, sample for sample.
        const std::string whole = dir + "/whole." + format.muxer;
        ASSERT_EQ(exporter->exportToFile(source, whole), noErr);
        EXPECT_EQ(decodeAudio(joined, 48000, 2), decodeAudio(whole, 48000, 2));

        // A part that holds one frame more than the plan says is refused, and nothing stays.
        parts[0].frames = 6;
        const std::string refused = dir + "/refused." + format.muxer;
        EXPECT_EQ(joinParts(format, parts, sound, refused, &error), paramErr);
        EXPECT_NE(error.find("picture part 1"), std::string::npos) << error;
        EXPECT_NE(error.find("holds frame 6 outside its range"), std::string::npos) << error;
        EXPECT_FALSE(fs::exists(refused));
    }
}

TEST(PartExport, ExportersThatCannotJoinSaySo)
{
    PatternSource source(160, 120, {30, 1}, 10);
    for (OSType type : {kMovieExportGIF, kMovieExportWAVE, kMovieExportImageSequence}) {
        PartFormat format;
        EXPECT_EQ(partFormat(*makeStandardExporter(type), source, &format), featureUnsupported)
            << fourccToString(type);
    }
}
