// End to end with clips that only the media graph reads: the demo project with its clip b
// (which comes in through the Cross Fade and carries the Colour Tint filter) in Matroska, in
// an MPEG-2 transport stream and in WebM of variable frame rate, rendered by
// `zefedit --render`. Each rendered picture of clip b must be the picture that the ffmpeg
// program's own decode of the clip shows at that time, and its sound must set in where
// ffmpeg's decode of the clip has it, to within a frame.
#include "demo_test_support.h"
#include "tests/movies/test_media.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

using namespace zef::demo::testing;

namespace {

constexpr int W = 160, H = 120;
constexpr double kClipBStart = 10.0; // seconds on the timeline
constexpr double kFrame = 1.0 / 30;

std::string numbered(double rate, double seconds)
{
    std::ostringstream s;
    s << "color=c=black:s=" << W << "x" << H << ":r=" << rate << ":d=" << seconds
      << ",format=yuv420p,geq=lum='if(mod(floor(N/pow(2\\,floor(X*10/W)))\\,2)\\,235\\,16)':"
         "cb=128:cr=128";
    return s.str();
}

// Silence, then a 1 kHz tone from 4 s on.
const std::string kToneFrom4s = "aevalsrc=if(lt(t\\,4)\\,0\\,0.5*sin(2*PI*1000*t)):s=48000:d=12.5";

void ffmpeg(const std::vector<std::string>& args)
{
    std::vector<std::string> argv = {"ffmpeg", "-nostdin", "-v", "error", "-y"};
    argv.insert(argv.end(), args.begin(), args.end());
    const CommandResult r = run(argv);
    ASSERT_EQ(r.exitCode, 0) << r.output;
}

// The pictures of a file as ffmpeg decodes them, with their times from the file's start.
struct Decoded {
    std::vector<double> times;
    std::vector<int> numbers; // what numbered() drew, -1 when unreadable
};

Decoded decodeNumbers(const std::string& path)
{
    Decoded d;
    const CommandResult start = run(
        {"ffprobe", "-v", "error", "-show_entries", "format=start_time", "-of", "csv=p=0", path});
    const double origin = std::atof(start.output.c_str());
    const CommandResult stamps =
        run({"ffprobe", "-v", "error", "-select_streams", "v:0", "-show_entries",
             "frame=best_effort_timestamp_time", "-of", "csv=p=0", path});
    std::istringstream lines(stamps.output);
    for (std::string line; std::getline(lines, line);)
        if (!line.empty()) d.times.push_back(std::atof(line.c_str()) - origin);
    const std::vector<uint8_t> bytes =
        runForBytes({"ffmpeg", "-nostdin", "-v", "error", "-i", path, "-map", "0:v:0", "-fps_mode",
                     "passthrough", "-f", "rawvideo", "-pix_fmt", "bgra", "-"});
    const size_t frameBytes = size_t(W) * H * 4;
    for (size_t at = 0; at + frameBytes <= bytes.size(); at += frameBytes) {
        zef::movies::Pixmap p(W, H);
        std::memcpy(p.data(), bytes.data() + at, frameBytes);
        d.numbers.push_back(zef::movies::testing::frameNumberOf(p));
    }
    return d;
}

// When the 1 kHz tone sets in: the start of the first 5 ms window at half its full strength.
double toneOnset(const std::vector<int16_t>& mono, double from)
{
    const size_t window = 240; // 5 ms at 48 kHz
    const double full = toneAmplitude(mono, 48000, 1000, size_t((from + 2) * 48000), 4800);
    for (size_t at = size_t(from * 48000); at + window < mono.size(); at += 48)
        if (toneAmplitude(mono, 48000, 1000, at, window) > full / 2) return double(at) / 48000;
    return -1;
}

struct GraphRender : ::testing::TestWithParam<const char*> {};

} // namespace

TEST_P(GraphRender, ClipUnderTransitionAndFilterShowsTheFilesPicturesAndSoundInTime)
{
    const std::string kind = GetParam();
    const std::string dir = freshFolder("graph-" + kind);
    ffmpeg({"-f", "lavfi", "-i", "testsrc2=s=160x120:r=30:d=12.5", "-f", "lavfi", "-i",
            "sine=f=440:r=48000:d=12.5", "-c:v", "libx264", "-preset", "veryfast", "-c:a", "aac",
            dir + "/a.mp4"});
    ffmpeg({"-f", "lavfi", "-i", "testsrc=s=160x120:r=30:d=6.5", "-c:v", "libx264", "-preset",
            "veryfast", dir + "/c.mp4"});
    std::string b;
    if (kind == "mkv") {
        b = dir + "/b.mkv";
        ffmpeg({"-f", "lavfi", "-i", numbered(30, 12.5), "-f", "lavfi", "-i", kToneFrom4s, "-c:v",
                "libx264", "-preset", "veryfast", "-g", "30", "-c:a", "aac", b});
    } else if (kind == "ts") {
        b = dir + "/b.ts";
        ffmpeg({"-f", "lavfi", "-i", numbered(30, 12.5), "-f", "lavfi", "-i", kToneFrom4s, "-c:v",
                "mpeg2video", "-q:v", "2", "-g", "15", "-c:a", "mp2", b});
    } else {
        // Variable frame rate around 25 a second (not the project's 30): every picture n with
        // n mod 4 = 2 starts 17 ms late.
        b = dir + "/b.webm";
        const std::string vfr = "settb=1/1000,setpts=(N/25+eq(mod(N\\,4)\\,2)*0.017)/TB";
        ffmpeg({"-f",
                "lavfi",
                "-i",
                numbered(25, 12.5),
                "-f",
                "lavfi",
                "-i",
                kToneFrom4s,
                "-vf",
                vfr,
                "-fps_mode",
                "vfr",
                "-enc_time_base:v",
                "1:1000",
                "-c:v",
                "libvpx-vp9",
                "-deadline",
                "realtime",
                "-cpu-used",
                "8",
                "-g",
                "25",
                "-c:a",
                "libopus",
                b});
    }
    const std::string project = dir + "/graph.zef", movie = dir + "/graph.mov";
    const CommandResult made = run({ZEF_ZEFDEMO, "--size", "160x120", "--media", dir, project});
    ASSERT_EQ(made.exitCode, 0) << made.output;
    const CommandResult rendered = run({ZEF_ZEFEDIT, "--render", project, "--output", movie});
    ASSERT_EQ(rendered.exitCode, 0) << rendered.output;

    // Pictures: from the end of the Cross Fade (12 s) to the end, clip b alone, tinted.
    const Decoded source = decodeNumbers(b);
    const Decoded render = decodeNumbers(movie);
    ASSERT_GE(render.numbers.size(), 660u);
    ASSERT_GE(source.numbers.size(), 300u); // 12.5 s at 25 or 30 a second
    int compared = 0, wrong = 0;
    for (int k = 361; k < 660; ++k) {
        const double t = k * kFrame - kClipBStart + 1e-6;
        size_t shown = 0; // the last picture of ffmpeg's decode that starts by t
        while (shown + 1 < source.times.size() && source.times[shown + 1] <= t)
            ++shown;
        ++compared;
        if (render.numbers[size_t(k)] != source.numbers[shown]) {
            if (++wrong <= 5)
                ADD_FAILURE() << kind << ": frame " << k << " shows " << render.numbers[size_t(k)]
                              << ", the file shows " << source.numbers[shown];
        }
    }
    EXPECT_EQ(wrong, 0) << "of " << compared;

    // Sound: the tone sets in where ffmpeg's decode of the clip has it, 10 s later.
    const double inClip = toneOnset(decodeMono(b, 48000), 3.5);
    const double inRender = toneOnset(decodeMono(movie, 48000), 13.5);
    ASSERT_GT(inClip, 3.9);
    EXPECT_NEAR(inRender, inClip + kClipBStart, kFrame) << kind;
}

INSTANTIATE_TEST_SUITE_P(Containers, GraphRender, ::testing::Values("mkv", "ts", "webm"));

TEST(GraphRenderTool, FileThatNeitherPathReadsIsReportedUnreadableNotMissing)
{
    const std::string dir = freshFolder("graph-unreadable");
    ffmpeg({"-f", "lavfi", "-i", "testsrc2=s=160x120:r=30:d=12.5", "-c:v", "libx264", "-preset",
            "veryfast", dir + "/a.mp4"});
    ffmpeg({"-f", "lavfi", "-i", "testsrc=s=160x120:r=30:d=6.5", "-c:v", "libx264", "-preset",
            "veryfast", dir + "/c.mp4"});
    ffmpeg({"-f", "lavfi", "-i", numbered(30, 12.5), "-c:v", "libx264", dir + "/b.mkv"});
    const std::string project = dir + "/p.zef";
    ASSERT_EQ(run({ZEF_ZEFDEMO, "--size", "160x120", "--media", dir, project}).exitCode, 0);
    // b's file is still there but no longer a movie of any kind.
    {
        std::ofstream damaged(dir + "/b.mkv", std::ios::binary | std::ios::trunc);
        damaged << std::string(4096, 'x');
    }
    const CommandResult r = run({ZEF_ZEFEDIT, "--render", project, "--output", dir + "/o.mov"});
    EXPECT_NE(r.exitCode, 0);
    EXPECT_NE(r.output.find("unreadable clip: " + dir + "/b.mkv"), std::string::npos) << r.output;
    EXPECT_EQ(r.output.find("missing clip"), std::string::npos) << r.output;
}
