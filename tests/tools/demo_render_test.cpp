// End to end: the demo maker writes the demo project at 320×240, the editor renders it with
// `zefedit --render`, and programs no one here wrote (ffprobe, ffmpeg) read the movie back.
// What each frame should show is known because the clips' pictures are generated
// (tools/demo/demo_media.h).
#include "demo_test_support.h"
#include "tools/demo/demo_media.h"
#include "tools/demo/demo_project.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>

using namespace zef::demo;
using namespace zef::demo::testing;
namespace fs = std::filesystem;

namespace {

constexpr int W = 320, H = 240;
constexpr int kStrip = H / 12; // the clips' counter strip

Picture generated(char clip, int64_t frame, int w = W, int h = H)
{
    const zef::movies::Pixmap p = DemoPattern(demoClip(clip), w, h).picture(frame);
    Picture out;
    out.width = w;
    out.height = h;
    out.pixels.assign(p.data(), p.data() + size_t(w) * size_t(h));
    return out;
}

double psnr(const Picture& a, const Picture& b) { return regionPsnr(a, 0, 0, b, 0, 0, W, H); }

int red(uint32_t p) { return int((p >> 16) & 0xFF); }
int green(uint32_t p) { return int((p >> 8) & 0xFF); }
int blue(uint32_t p) { return int(p & 0xFF); }
double luma(uint32_t p) { return 0.299 * red(p) + 0.587 * green(p) + 0.114 * blue(p); }

struct WhiteText {
    int count = 0;
    double x = 0, y = 0; // centroid
};
// Near-white pixels: only a title has them (no clip pixel has all channels above 210).
WhiteText whiteText(const Picture& p)
{
    WhiteText t;
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            const uint32_t v = p.at(x, y);
            if (red(v) > 225 && green(v) > 225 && blue(v) > 225) {
                ++t.count;
                t.x += x;
                t.y += y;
            }
        }
    if (t.count > 0) {
        t.x /= t.count;
        t.y /= t.count;
    }
    return t;
}

struct Placement {
    int x = -1, y = -1;
    double psnr = 0;
};
// Where the half-size picture of c's frame lies within ±radius pixels of (x0, y0), comparing
// its top rows only.
Placement findPictureInPicture(const Picture& frame, int64_t cFrame, int x0, int y0, int radius,
                               int rows = H / 2)
{
    const Picture c = generated('c', cFrame, W / 2, H / 2);
    Placement best;
    for (int y = std::max(0, y0 - radius); y <= std::min(H - H / 2, y0 + radius); ++y)
        for (int x = std::max(0, x0 - radius); x <= std::min(W - W / 2, x0 + radius); ++x) {
            const double q = regionPsnr(frame, x, y, c, 0, 0, W / 2, rows);
            if (q > best.psnr) best = {x, y, q};
        }
    return best;
}

std::map<std::string, std::string> probe(const std::string& path)
{
    const CommandResult r =
        run({"ffprobe", "-v", "error", "-count_frames", "-show_entries",
             "stream=codec_type,codec_name,width,height,r_frame_rate,sample_rate,nb_read_frames:"
             "format=duration,format_name",
             "-of", "flat", path});
    std::map<std::string, std::string> out;
    std::istringstream in(r.output);
    std::string line;
    while (std::getline(in, line)) {
        const size_t eq = line.find('=');
        if (eq == std::string::npos) continue;
        std::string v = line.substr(eq + 1);
        if (v.size() >= 2 && v.front() == '"') v = v.substr(1, v.size() - 2);
        out[line.substr(0, eq)] = v;
    }
    return out;
}

// The probed fields of the first stream of a type, keyed by field name.
std::map<std::string, std::string> streamOf(const std::map<std::string, std::string>& probed,
                                            const std::string& type)
{
    for (int i = 0; i < 4; ++i) {
        const std::string prefix = "streams.stream." + std::to_string(i) + ".";
        auto t = probed.find(prefix + "codec_type");
        if (t == probed.end() || t->second != type) continue;
        std::map<std::string, std::string> s;
        for (const auto& [k, v] : probed)
            if (k.rfind(prefix, 0) == 0) s[k.substr(prefix.size())] = v;
        return s;
    }
    return {};
}

} // namespace

TEST(DemoRender, RenderedDemoShowsEveryPartOfTheComposition)
{
    const std::string dir = freshFolder("render");
    const std::string project = dir + "/demo.zef";
    const std::string movie = dir + "/demo.mov";

    const CommandResult made = run({ZEF_ZEFDEMO, "--size", "320x240", project});
    ASSERT_EQ(made.exitCode, 0) << made.output;
    const CommandResult rendered = run({ZEF_ZEFEDIT, "--render", project, "--output", movie});
    ASSERT_EQ(rendered.exitCode, 0) << rendered.output;
    ASSERT_TRUE(fs::is_regular_file(movie)) << rendered.output;

    // The container: 22 s, 660 pictures of 320×240 in H.264, AAC sound.
    const auto probed = probe(movie);
    const auto video = streamOf(probed, "video");
    const auto audio = streamOf(probed, "audio");
    EXPECT_NEAR(
        std::atof(probed.count("format.duration") ? probed.at("format.duration").c_str() : "0"),
        22.0, 0.05);
    EXPECT_EQ(video.count("codec_name") ? video.at("codec_name") : "none", "h264");
    EXPECT_EQ(video.count("width") ? video.at("width") : "", "320");
    EXPECT_EQ(video.count("height") ? video.at("height") : "", "240");
    EXPECT_EQ(video.count("nb_read_frames") ? video.at("nb_read_frames") : "", "660");
    EXPECT_EQ(audio.count("codec_name") ? audio.at("codec_name") : "none", "aac");

    const std::vector<int> wanted = {15,  29,  30,  60,  90,  149, 150,
                                     180, 195, 240, 270, 330, 390, 450};
    const std::vector<Picture> pictures = decodeFrames(movie, wanted, W, H);
    ASSERT_EQ(pictures.size(), wanted.size());
    std::map<int, const Picture*> at;
    for (size_t i = 0; i < wanted.size(); ++i)
        at[wanted[i]] = &pictures[i];

    {
        SCOPED_TRACE("clip a alone is the clip, frame for frame");
        for (int f : {15, 240, 270})
            EXPECT_GT(psnr(*at[f], generated('a', f)), 30.0) << "frame " << f;
        EXPECT_EQ(readCounter(at[270]->pixels.data(), W, H), 270);
    }
    {
        SCOPED_TRACE("the title shows from 1 s to 5 s, white and centred");
        for (int f : {30, 90, 149}) {
            const WhiteText t = whiteText(*at[f]);
            EXPECT_GT(t.count, 150) << "frame " << f;
            EXPECT_NEAR(t.x, W / 2.0, W * 0.05) << "frame " << f;
            EXPECT_NEAR(t.y, H / 2.0, H * 0.05) << "frame " << f;
        }
        for (int f : {15, 29, 150, 180})
            EXPECT_LE(whiteText(*at[f]).count, 3) << "frame " << f;
    }
    {
        SCOPED_TRACE("clip c at half size moves from the top-left corner to the bottom-right");
        // Frame 60 (2 s): c's first picture in the corner (the title covers the rows from
        // 0.4 h on); frame 195 (6.5 s): three quarters of the way, at (0.375 w, 0.375 h),
        // showing c's picture 4.5 s in. Half a period later c's bars lie elsewhere: the match
        // must be much better with the right picture than with that one.
        const int clear = H * 2 / 5;
        const Placement start = findPictureInPicture(*at[60], 0, 0, 0, 4, clear);
        EXPECT_LE(start.x, 1);
        EXPECT_LE(start.y, 1);
        EXPECT_GT(start.psnr, 18.0);
        EXPECT_GT(start.psnr, findPictureInPicture(*at[60], 30, 0, 0, 4, clear).psnr + 6.0);
        const Placement later = findPictureInPicture(*at[195], 135, 120, 90, 4);
        EXPECT_NEAR(later.x, 120, 1);
        EXPECT_NEAR(later.y, 90, 1);
        EXPECT_GT(later.psnr, 18.0);
        EXPECT_GT(later.psnr, findPictureInPicture(*at[195], 165, 120, 90, 4).psnr + 6.0);
        // Beside it (below the title) clip a goes on; after 8 s c is gone (frame 240 above).
        EXPECT_GT(regionPsnr(*at[60], W / 2, H * 3 / 5, generated('a', 60), W / 2, H * 3 / 5, W / 2,
                             H * 2 / 5),
                  30.0);
    }
    {
        SCOPED_TRACE("clip b comes through its Colour Tint, from its own first frame at 10 s");
        const Picture b = generated('b', 90);
        double tintedRedOverBlue = 0, clipRedOverBlue = 0;
        double sx = 0, sy = 0, sxx = 0, syy = 0, sxy = 0;
        int n = 0;
        for (int y = kStrip; y < H; ++y)
            for (int x = 0; x < W; ++x) {
                const uint32_t p = at[390]->at(x, y), q = b.at(x, y);
                tintedRedOverBlue += red(p) - blue(p);
                clipRedOverBlue += red(q) - blue(q);
                const double u = luma(p), v = luma(q);
                sx += u;
                sy += v;
                sxx += u * u;
                syy += v * v;
                sxy += u * v;
                ++n;
            }
        EXPECT_LT(clipRedOverBlue / n, -20.0) << "b's own colours are cool";
        EXPECT_GT(tintedRedOverBlue / n, 15.0) << "the tint makes them warm";
        const double corr =
            (sxy - sx * sy / n) / std::sqrt((sxx - sx * sx / n) * (syy - sy * sy / n));
        EXPECT_GT(corr, 0.9) << "the tinted picture is still b's";
        EXPECT_EQ(readCounter(at[450]->pixels.data(), W, H), 150);
    }
    {
        SCOPED_TRACE("halfway through the Cross Fade the picture is the mean of both sides");
        // The clips repeat every 2 s outside the counter strip, so a at 11 s looks like a at
        // 9 s, and b at 11 s (its frame 30) like b at 13 s (its frame 90).
        double offMean = 0, offA = 0, offB = 0;
        int n = 0;
        for (int y = kStrip; y < H; ++y)
            for (int x = 0; x < W; ++x) {
                const uint32_t m = at[330]->at(x, y), a = at[270]->at(x, y), b = at[390]->at(x, y);
                for (auto channel : {red, green, blue}) {
                    offMean += std::abs(channel(m) - (channel(a) + channel(b)) / 2.0);
                    offA += std::abs(channel(m) - channel(a));
                    offB += std::abs(channel(m) - channel(b));
                    ++n;
                }
            }
        EXPECT_LT(offMean / n, 6.0);
        EXPECT_GT(offA / n, 15.0) << "not a alone";
        EXPECT_GT(offB / n, 15.0) << "not b alone";
    }
    {
        SCOPED_TRACE("the sound fades from a's 440 Hz to b's 660 Hz between 10 s and 12 s");
        constexpr int rate = 48000;
        const std::vector<int16_t> pcm = decodeMono(movie, rate);
        EXPECT_NEAR(double(pcm.size()) / rate, 22.0, 0.1);
        auto amp = [&](double seconds, double hz) {
            // A tenth of a second centred on the time.
            return toneAmplitude(pcm, rate, hz, size_t((seconds - 0.05) * rate), rate / 10);
        };
        const double fullA = amp(9.0, 440), fullB = amp(13.0, 660);
        EXPECT_GT(fullA, kToneAmplitude * 0.6);
        EXPECT_GT(fullB, kToneAmplitude * 0.6);
        EXPECT_LT(amp(9.0, 660), fullA * 0.05);
        EXPECT_LT(amp(13.0, 440), fullB * 0.05);
        double lastA = fullA * 1.01, lastB = 0;
        for (double t : {10.5, 11.0, 11.5}) {
            const double a = amp(t, 440), b = amp(t, 660);
            EXPECT_LT(a, lastA - fullA * 0.15) << t << " s: 440 Hz falls";
            EXPECT_GT(b, lastB + fullB * 0.15) << t << " s: 660 Hz rises";
            lastA = a;
            lastB = b;
        }
        EXPECT_NEAR(amp(11.0, 440) / fullA, 0.5, 0.15);
        EXPECT_NEAR(amp(11.0, 660) / fullB, 0.5, 0.15);
        // c's 880 Hz plays with it, from 2 s to 8 s.
        EXPECT_GT(amp(5.0, 880), kToneAmplitude * 0.6);
        EXPECT_LT(amp(9.0, 880), kToneAmplitude * 0.05);
        EXPECT_LT(amp(1.0, 880), kToneAmplitude * 0.05);
    }
}

// The demo printed to DV tape: `zefedit --render` loads the print-to-tape plug-in, whose sink
// receives the DV stream of the whole 22-second movie, as PAL (25 fps, 550 frames) and as NTSC
// (29.97 fps, the movie's 660 frames one for one). Its files land in the current directory.
TEST(DemoRender, DemoPrintedToDvTapeAsPalAndNtsc)
{
    const std::string dir = freshFolder("tape");
    struct Tape {
        const char* name;
        const char* height;
        const char* rate;
        const char* frames;
        double seconds;
    };
    struct InFolder {
        fs::path previous = fs::current_path();
        explicit InFolder(const std::string& d) { fs::current_path(d); }
        ~InFolder() { fs::current_path(previous); }
    } inFolder(dir);
    for (const Tape& t : {Tape{"PAL", "576", "25/1", "550", 22.0},
                          Tape{"NTSC", "480", "30000/1001", "660", 22.022}}) {
        const std::string project = dir + "/" + t.name + ".zef";
        const std::string sink = dir + "/" + t.name + ".dv";
        const CommandResult made = run(
            {ZEF_ZEFDEMO, "--size", "320x240", "--dv-tape", t.name, "--dv-sink", sink, project});
        ASSERT_EQ(made.exitCode, 0) << made.output;
        const CommandResult printed = run({ZEF_ZEFEDIT, "--render", project});
        ASSERT_EQ(printed.exitCode, 0) << printed.output;
        EXPECT_TRUE(fs::is_regular_file(dir + "/demo.DV.QT.AVI"));

        const auto probed = probe(sink);
        const auto video = streamOf(probed, "video");
        const auto audio = streamOf(probed, "audio");
        EXPECT_EQ(probed.count("format.format_name") ? probed.at("format.format_name") : "", "dv");
        EXPECT_EQ(video.count("codec_name") ? video.at("codec_name") : "", "dvvideo") << t.name;
        EXPECT_EQ(video.count("height") ? video.at("height") : "", t.height) << t.name;
        EXPECT_EQ(video.count("r_frame_rate") ? video.at("r_frame_rate") : "", t.rate) << t.name;
        EXPECT_EQ(video.count("nb_read_frames") ? video.at("nb_read_frames") : "", t.frames)
            << t.name;
        EXPECT_NEAR(
            std::atof(probed.count("format.duration") ? probed.at("format.duration").c_str() : "0"),
            t.seconds, 0.001)
            << t.name;
        EXPECT_EQ(audio.count("sample_rate") ? audio.at("sample_rate") : "", "48000") << t.name;
    }
}
