#include "test_media.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <unistd.h>

namespace fs = std::filesystem;

namespace zef::movies::testing {

std::string mediaDir()
{
    const char* env = std::getenv("ZEF_TEST_TMP");
    fs::path dir = fs::path(env && *env ? env : fs::temp_directory_path() / "zef-test") / "media";
    fs::create_directories(dir);
    return dir.string();
}

std::string generate(const std::string& name, const std::string& args)
{
    fs::path out = fs::path(mediaDir()) / name;
    std::ostringstream hashed;
    hashed << std::hex << std::hash<std::string>{}(args) << "-" << out.filename().string();
    out.replace_filename(hashed.str());
    if (fs::exists(out)) return out.string();
    // Written under a temporary name and renamed, so tests running in parallel never see a
    // half-written file.
    fs::path tmp = out;
    tmp.replace_filename("tmp" + std::to_string(::getpid()) + "-" + out.filename().string());
    std::string cmd =
        "ffmpeg -nostdin -hide_banner -loglevel error -y " + args + " '" + tmp.string() + "' 2>&1";
    int rc = std::system(cmd.c_str());
    if (rc != 0 || !fs::exists(tmp)) {
        ADD_FAILURE() << "ffmpeg failed (" << rc << "): " << cmd;
        return out.string();
    }
    fs::rename(tmp, out);
    return out.string();
}

std::string numberedVideo(int width, int height, const std::string& rate, double seconds)
{
    std::ostringstream s;
    s << "-f lavfi -i \"color=c=black:s=" << width << "x" << height << ":r=" << rate
      << ":d=" << seconds << ",format=yuv420p,geq=lum='if(mod(floor(N/pow(2\\,floor(X*10/W)))\\,2)"
      << "\\,235\\,16)':cb=128:cr=128\"";
    return s.str();
}

int frameNumberOf(const Pixmap& picture)
{
    int n = 0;
    for (int bit = 0; bit < 10; ++bit) {
        int x = int((bit + 0.5) * picture.width() / 10);
        uint32_t p = picture.pixel(x, picture.height() / 2);
        int level = (redOf(p) + greenOf(p) + blueOf(p)) / 3;
        if (level > 170)
            n |= 1 << bit;
        else if (level > 85)
            return -1;
    }
    return n;
}

std::string writeFile(const std::string& name, const std::string& bytes)
{
    fs::path out = fs::path(mediaDir()) / name;
    std::ofstream(out, std::ios::binary) << bytes;
    return out.string();
}

std::string truncatedCopy(const std::string& path, const std::string& name, size_t size)
{
    std::ifstream in(path, std::ios::binary);
    std::string bytes(size, '\0');
    in.read(bytes.data(), std::streamsize(size));
    bytes.resize(size_t(in.gcount()));
    return writeFile(name, bytes);
}

size_t fileSize(const std::string& path) { return size_t(fs::file_size(path)); }

} // namespace zef::movies::testing

namespace zef::movies::testing::media {

std::string h264Movie()
{
    return generate("h264.mp4", numberedVideo(320, 240, "30000/1001", 5.005) +
                                    " -f lavfi -i sine=f=440:r=48000:d=5 -c:v libx264 -preset "
                                    "veryfast -crf 20 -g 250 -bf 3 -x264-params scenecut=0 "
                                    "-c:a aac -b:a 96k");
}

std::string mpeg4Movie()
{
    return generate("mpeg4.mov", numberedVideo(320, 240, "25", 4) +
                                     " -f lavfi -i sine=f=440:r=44100:d=4 -ac 2 -c:v mpeg4 "
                                     "-q:v 3 -bf 2 -g 30 -c:a pcm_s16be");
}

std::string mjpegAvi()
{
    return generate("mjpeg.avi", numberedVideo(320, 240, "30", 3) +
                                     " -f lavfi -i sine=f=440:r=44100:d=3 -c:v mjpeg -q:v 3 "
                                     "-c:a pcm_s16le");
}

std::string mpeg1System()
{
    return generate("mpeg1.mpg", numberedVideo(320, 240, "25", 3) +
                                     " -c:v mpeg1video -q:v 3 -bf 2 -g 12 -f mpeg");
}

std::string mpeg1Elementary()
{
    return generate("mpeg1.m1v", numberedVideo(320, 240, "25", 2) +
                                     " -c:v mpeg1video -q:v 3 -bf 2 -f mpeg1video");
}

std::string still(const std::string& extension)
{
    return generate("still." + extension, "-f lavfi -i color=c=green:s=40x30 -frames:v 1");
}

std::string animatedGif() { return generate("anim.gif", "-f lavfi -i testsrc=s=64x48:r=10:d=1"); }

std::string dvFile()
{
    return generate("pal.dv", numberedVideo(720, 576, "25", 1) +
                                  " -f lavfi -i sine=f=440:r=48000:d=1 -ac 2 -c:v dvvideo "
                                  "-pix_fmt yuv420p -c:a pcm_s16le -f dv");
}

std::string pngStill()
{
    return generate("still.png", "-f lavfi -i color=c=red@0.5:s=64x48,format=rgba -frames:v 1");
}

std::string jpegStill()
{
    return generate("still.jpg", "-f lavfi -i color=c=blue:s=64x48 -frames:v 1 -q:v 2");
}

std::string rampWav()
{
    return generate("ramp.wav", "-f lavfi -i \"aevalsrc=exprs='(mod(n\\,2000)-1000)/32768':"
                                "s=48000:d=2\" -c:a pcm_s16le");
}

std::string sineMp3()
{
    return generate("sine.mp3", "-f lavfi -i sine=f=1000:r=44100:d=2 -c:a libmp3lame -b:a 128k");
}

std::string sineAiff() { return generate("sine.aiff", "-f lavfi -i sine=f=500:r=22050:d=1 -ac 2"); }

std::string avClip4s()
{
    return generate("av4s.mp4", numberedVideo(320, 240, "30", 4) +
                                    " -f lavfi -i sine=f=440:r=48000:d=4 -c:v libx264 "
                                    "-preset veryfast -g 30 -c:a aac");
}

std::string turnedPortrait()
{
    const std::string stored = generate("portrait-stored.mp4", numberedVideo(200, 400, "25", 2) +
                                                                   " -vf transpose=clock -c:v "
                                                                   "libx264 -preset veryfast");
    // This system's ffmpeg program writes its rotate tag as a counter-clockwise turn.
    return generate("portrait-turned.mp4", "-i '" + stored + "' -c copy -metadata:s:v rotate=90");
}

std::string matroska()
{
    return generate("clip.mkv", numberedVideo(320, 240, "25", 1) + " -c:v libx264");
}

std::string matroskaAv()
{
    return generate("av3s.mkv",
                    numberedVideo(160, 120, "30", 3) +
                        " -f lavfi -i \"aevalsrc=if(lt(t\\,1)\\,0\\,0.5*sin(2*PI*1000*t))|"
                        "if(lt(t\\,1)\\,0\\,0.5*sin(2*PI*1000*t)):s=48000:d=3\" -c:v libx264 "
                        "-preset veryfast -g 30 -c:a pcm_s16le");
}

std::string vfrWebm()
{
    return generate("vfr.webm",
                    numberedVideo(160, 120, "25", 2) +
                        " -vf \"settb=1/1000,setpts=(N*0.04+eq(mod(N\\,4)\\,2)*0.017)/TB\" "
                        "-fps_mode vfr -enc_time_base:v 1:1000 -c:v libvpx-vp9 -deadline realtime "
                        "-cpu-used 8 -g 25");
}

std::string audioOnlyTs()
{
    return generate("tone.ts", "-f lavfi -i sine=f=440:r=48000:d=2 -c:a mp2");
}

std::string mpeg2Program()
{
    return generate("mpeg2.mpg", numberedVideo(320, 240, "25", 1) + " -c:v mpeg2video -f vob");
}

std::string transportStream()
{
    return generate("clip.ts", numberedVideo(320, 240, "25", 1) + " -c:v mpeg2video");
}

} // namespace zef::movies::testing::media
