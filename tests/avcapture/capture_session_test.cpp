// Recordings of the test pattern and tone, read back with FFmpeg: every picture carries its
// number, every second's beep its start, so the files show lost pictures and how far sound
// moved against picture.
#include "platform/avcapture/capture_session.h"
#include "platform/avcapture/test_pattern.h"

#include <gtest/gtest.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <sys/mount.h>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>

namespace zef::avcapture {
namespace {

namespace fs = std::filesystem;

struct Reading {
    std::vector<std::pair<double, int64_t>> pictures; // file time, counter
    std::vector<double> beeps;                        // file times of beep starts
    bool opened = false;
};

Reading readCapture(const std::string& path)
{
    Reading r;
    AVFormatContext* fmt = nullptr;
    if (avformat_open_input(&fmt, path.c_str(), nullptr, nullptr) < 0) return r;
    avformat_find_stream_info(fmt, nullptr);
    r.opened = true;
    std::vector<AVCodecContext*> decoders(fmt->nb_streams, nullptr);
    for (unsigned i = 0; i < fmt->nb_streams; ++i) {
        const AVCodec* c = avcodec_find_decoder(fmt->streams[i]->codecpar->codec_id);
        decoders[i] = avcodec_alloc_context3(c);
        avcodec_parameters_to_context(decoders[i], fmt->streams[i]->codecpar);
        avcodec_open2(decoders[i], c, nullptr);
    }
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    int64_t samples = 0, quiet = 0; // a file that starts inside a beep has no onset there
    SwsContext* sws = nullptr;
    std::vector<uint8_t> grey;
    while (av_read_frame(fmt, packet) >= 0) {
        AVStream* st = fmt->streams[packet->stream_index];
        AVCodecContext* dec = decoders[packet->stream_index];
        if (avcodec_send_packet(dec, packet) >= 0) {
            while (avcodec_receive_frame(dec, frame) == 0) {
                if (st->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) {
                    grey.resize(size_t(frame->width) * frame->height);
                    sws = sws_getCachedContext(sws, frame->width, frame->height,
                                               AVPixelFormat(frame->format), frame->width,
                                               frame->height, AV_PIX_FMT_GRAY8, SWS_POINT, nullptr,
                                               nullptr, nullptr);
                    uint8_t* dst[1] = {grey.data()};
                    const int stride[1] = {frame->width};
                    sws_scale(sws, frame->data, frame->linesize, 0, frame->height, dst, stride);
                    r.pictures.emplace_back(
                        frame->best_effort_timestamp * av_q2d(st->time_base),
                        readPatternCounter(grey.data(), frame->width, frame->height, frame->width));
                } else if (st->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) {
                    const auto* s = reinterpret_cast<const int16_t*>(frame->data[0]);
                    const int channels = frame->ch_layout.nb_channels;
                    for (int i = 0; i < frame->nb_samples; ++i, ++samples) {
                        if (std::abs(s[i * channels]) > 2000) {
                            if (quiet > kToneRate / 2)
                                r.beeps.push_back(double(samples) / kToneRate);
                            quiet = 0;
                        } else {
                            ++quiet;
                        }
                    }
                }
            }
        }
        av_packet_unref(packet);
    }
    sws_freeContext(sws);
    av_frame_free(&frame);
    av_packet_free(&packet);
    for (AVCodecContext*& d : decoders)
        avcodec_free_context(&d);
    avformat_close_input(&fmt);
    return r;
}

// How far sound lies after picture, in seconds: a picture numbered n was taken at n / rate, a
// beep at a whole second; both against where the file has them.
double soundOffset(const Reading& r, double rate)
{
    double video = 0;
    int n = 0;
    for (const auto& [t, counter] : r.pictures)
        if (counter >= 0) {
            video += t - double(counter) / rate;
            ++n;
        }
    video /= std::max(1, n);
    double sum = 0;
    for (double b : r.beeps) {
        const double shift = b - video; // the beep's time on the device's clock
        sum += shift - std::round(shift);
    }
    return r.beeps.empty() ? 1e9 : sum / double(r.beeps.size());
}

int64_t counterGaps(const Reading& r)
{
    int64_t gaps = 0;
    for (size_t i = 1; i < r.pictures.size(); ++i)
        gaps += std::max<int64_t>(0, r.pictures[i].second - r.pictures[i - 1].second - 1);
    return gaps;
}

fs::path scratch(const char* name)
{
    const fs::path dir = fs::temp_directory_path() / ("zef-avcapture-" + std::to_string(getpid()));
    fs::create_directories(dir);
    return dir / name;
}

TEST(CaptureSession, MovieAndDvRecordingsKeepEveryPictureWithTheSoundInStep)
{
    struct Case {
        const char* file;
        const char* container;
        VideoCoding coding;
        double rate;
    } cases[] = {{"pattern.mov", "mov", VideoCoding::MotionJpeg, 30.0},
                 {"pattern.avi", "avi", VideoCoding::DV, 25.0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        CaptureSession session(DeviceRef{DeviceKind::TestPattern, {}},
                               DeviceRef{DeviceKind::TestTone, {}}, c.rate);
        RecordOptions o;
        o.videoFile = o.audioFile = scratch(c.file).string();
        o.container = c.container;
        o.coding = c.coding;
        o.frameRate = c.rate;
        o.maxMicros = 3'000'000;
        session.startRecording(o);
        for (int i = 0; i < 100 && !session.ended(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        EXPECT_EQ(session.stopRecording(), EndReason::TimeLimit);
        const Statistics s = session.statistics();
        const Reading r = readCapture(o.videoFile);
        ASSERT_TRUE(r.opened);
        EXPECT_NEAR(double(r.pictures.size()), 3 * c.rate, 2);
        EXPECT_EQ(int64_t(r.pictures.size()), s.capturedFrames);
        EXPECT_EQ(counterGaps(r), s.droppedFrames);
        EXPECT_TRUE(std::all_of(r.pictures.begin(), r.pictures.end(), [](const auto& p) {
            return p.second >= 0;
        })) << "every picture, also one scaled to the DV size, carries a readable number";
        EXPECT_GE(r.beeps.size(), 2u);
        EXPECT_LT(std::abs(soundOffset(r, c.rate)), 0.5 / c.rate); // within half a frame
    }
}

TEST(CaptureSession, AFullDiskEndsTheRecordingWithAPlayableFile)
{
    const fs::path dir = scratch("small");
    fs::create_directories(dir);
    // A 3 MB file system where this may mount one, else a 3 MB file size limit.
    const bool mounted = ::mount("tmpfs", dir.c_str(), "tmpfs", 0, "size=3m") == 0;
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    if (!mounted) {
        rlimit small = old;
        small.rlim_cur = 3 << 20;
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    }
    for (const char* container : {"mov", "avi"}) {
        SCOPED_TRACE(container);
        const std::string file = (dir / (std::string("full.") + container)).string();
        {
            CaptureSession session(DeviceRef{DeviceKind::TestPattern, {}},
                                   DeviceRef{DeviceKind::TestTone, {}}, 30.0);
            RecordOptions o;
            o.videoFile = o.audioFile = file;
            o.container = container;
            session.startRecording(o);
            for (int i = 0; i < 400 && !session.ended(); ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            EXPECT_EQ(session.endReason(), EndReason::DiskFull);
            session.stopRecording();
        }
        const Reading r = readCapture(file);
        ASSERT_TRUE(r.opened);
        EXPECT_GT(r.pictures.size(), 10u);
        EXPECT_EQ(counterGaps(r), 0);
        EXPECT_GE(r.pictures.back().second - r.pictures.front().second + 1,
                  int64_t(r.pictures.size()));
        fs::remove(file);
    }
    if (mounted)
        ::umount(dir.c_str());
    else
        setrlimit(RLIMIT_FSIZE, &old);
}

} // namespace
} // namespace zef::avcapture
