// Movie files whose video track matrix turns or mirrors the stored pictures (what phones and
// cameras write): pictures and sizes as the file shows them, compared with what the ffmpeg
// program shows.
#include "platform/movies/compositor/compositor.h"
#include "platform/movies/movie_from_file.h"
#include "platform/movies/video_decoder.h"

#include "export/export_test_support.h"
#include "test_media.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>

using namespace zef::movies;
using namespace zef::movies::testing;

namespace {

// 320×240, a picture that differs from each of its turns and mirror images.
std::string storedMovie()
{
    return generate("turn-stored.mp4", "-f lavfi -i testsrc2=s=320x240:r=25:d=1 -c:v libx264 "
                                       "-preset veryfast -pix_fmt yuv420p");
}

// The stored movie with the given track matrix (nine values, row by row) written into its
// track header, as a phone writes it.
std::string withMatrix(const std::string& name, const std::array<int32_t, 9>& matrix)
{
    std::ifstream in(storedMovie(), std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const size_t tkhd = bytes.find("tkhd");
    EXPECT_NE(tkhd, std::string::npos);
    EXPECT_EQ(bytes[tkhd + 4], 0) << "a version 0 track header";
    const size_t at = tkhd - 4 + 48;
    for (size_t i = 0; i < 9; ++i)
        for (size_t k = 0; k < 4; ++k)
            bytes[at + 4 * i + k] = char(uint32_t(matrix[i]) >> (24 - 8 * k));
    return writeFile(name, bytes);
}

// The first picture as the ffmpeg program shows it (turned by its own autorotation unless
// filter says otherwise), BGRA.
std::vector<uint8_t> shownByFfmpeg(const std::string& path, const std::string& filter = "")
{
    const std::string raw = generate(
        "turn-shown.raw", (filter.empty() ? "" : "-noautorotate ") + std::string("-i '") + path +
                              "' " + filter + " -frames:v 1 -f rawvideo -pix_fmt bgra");
    std::ifstream in(raw, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)),
                                std::istreambuf_iterator<char>());
}

struct Case {
    const char* name;
    std::string path;
    int32_t width, height; // as shown
    std::string ffmpegFilter;
    int32_t quarters;
    bool mirrored;
};

std::vector<Case> cases()
{
    constexpr int32_t one = 0x10000, w = 320 << 16, h = 240 << 16, z = 1 << 30;
    const std::string stored = storedMovie();
    auto tagged = [&](int degrees) {
        return generate("turn-" + std::to_string(degrees) + ".mp4",
                        "-i '" + stored +
                            "' -c copy -metadata:s:v rotate=" + std::to_string(degrees));
    };
    // The ffmpeg program of this system writes its rotate tag as a counter-clockwise turn.
    return {
        {"rotate=90 tag", tagged(90), 240, 320, "", 3, false},
        {"rotate=180 tag", tagged(180), 320, 240, "", 2, false},
        {"rotate=270 tag", tagged(270), 240, 320, "", 1, false},
        {"phone quarter turn", withMatrix("turn-phone.mp4", {0, one, 0, -one, 0, 0, h, 0, z}), 240,
         320, "", 1, false},
        // The ffmpeg program of this system takes a mirror image for a half turn: its picture
        // is made by the mirror filter instead.
        {"mirror image", withMatrix("turn-mirror.mp4", {-one, 0, 0, 0, one, 0, w, 0, z}), 320, 240,
         "-vf hflip", 0, true},
    };
}

} // namespace

TEST(TurnedPictures, TracksHaveTheShownSizeAndDecodersDrawWhatFfmpegShows)
{
    for (const Case& c : cases()) {
        SCOPED_TRACE(c.name);
        MediaOpenResult r = MediaFile::open(c.path);
        ASSERT_EQ(r.status, MediaOpenStatus::ok) << r.detail;
        const TrackInfo& t = r.file->tracks()[0];
        EXPECT_EQ(t.width, c.width);
        EXPECT_EQ(t.height, c.height);
        EXPECT_EQ(t.imageDescription.width, c.width);
        EXPECT_EQ(t.imageDescription.height, c.height);
        EXPECT_EQ(t.codedWidth, 320);
        const PictureTurn turn = pictureTurnOf(t.matrix);
        EXPECT_EQ(turn.clockwiseQuarters(), c.quarters);
        EXPECT_EQ(turn.mirrored(), c.mirrored);
        EXPECT_EQ(t.matrix.transformRect({0, 0, 320, 240}), (Rect{0, 0, c.width, c.height}));

        VideoDecoder decoder(r.file, 0);
        Pixmap ours(c.width, c.height);
        ASSERT_TRUE(decoder.drawAt(0, ours));
        const std::vector<uint8_t> theirs = shownByFfmpeg(c.path, c.ffmpegFilter);
        ASSERT_EQ(theirs.size(), size_t(c.width) * size_t(c.height) * 4);
        EXPECT_GT(psnrOfLuma(theirs.data(), ours), 35.0);
    }
}

TEST(TurnedPictures, AMovieOfTheFileShowsThemUpright)
{
    const Case c = cases()[3];
    MovieFromFileResult opened = openMovieFromFile(c.path);
    ASSERT_TRUE(opened.movie);
    EXPECT_EQ(opened.movie->box(), (Rect{0, 0, 240, 320}));
    EvaluationContext context;
    Pixmap picture;
    ASSERT_EQ(evaluate(context, *opened.movie, 0, picture), noErr);
    const std::vector<uint8_t> theirs = shownByFfmpeg(c.path);
    ASSERT_EQ(theirs.size(), size_t(240) * 320 * 4);
    EXPECT_GT(psnrOfLuma(theirs.data(), picture), 35.0);
}
