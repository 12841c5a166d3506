// A capture with device control from the software tape deck, without windows: the deck is
// cued, plays, and the clip recorded from its output starts and ends on the requested
// timecodes (the generated tape's pictures carry their frame numbers).
#include "app/capture/capture_control.h"
#include "app/capture/tape_capture_source.h"
#include "capture/tape_deck.h"
#include "model/item.h"
#include "model/project.h"
#include "model/source_item.h"
#include "platform/graph/class_registry.h"
#include "platform/graph/device_control.h"
#include "platform/graph/software_tape_deck.h"

#include <gtest/gtest.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

using namespace zef;
namespace fs = std::filesystem;

namespace {

struct QuietHost : app::FCaptureControl::Host {
    void deviceOpenChanged(bool) override {}
    void showStatistics(const CaptureStatistics*, bool) override {}
    void captureRunning(bool) override {}
    void progress(const std::string&, double) override {}
    void beep() override {}
    void pumpPaint() override {}
};

// The frame number each picture of the file carries, in file order.
std::vector<int64_t> tapeFramesIn(const std::string& path)
{
    std::vector<int64_t> numbers;
    AVFormatContext* fmt = nullptr;
    if (avformat_open_input(&fmt, path.c_str(), nullptr, nullptr) < 0) return numbers;
    avformat_find_stream_info(fmt, nullptr);
    const int index = av_find_best_stream(fmt, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    const AVCodec* codec = avcodec_find_decoder(fmt->streams[index]->codecpar->codec_id);
    AVCodecContext* dec = avcodec_alloc_context3(codec);
    avcodec_parameters_to_context(dec, fmt->streams[index]->codecpar);
    avcodec_open2(dec, codec, nullptr);
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    SwsContext* sws = nullptr;
    while (av_read_frame(fmt, packet) >= 0) {
        if (packet->stream_index == index && avcodec_send_packet(dec, packet) >= 0) {
            while (avcodec_receive_frame(dec, frame) == 0) {
                movies::Pixmap picture(frame->width, frame->height);
                sws = sws_getCachedContext(
                    sws, frame->width, frame->height, AVPixelFormat(frame->format), frame->width,
                    frame->height, AV_PIX_FMT_BGRA, SWS_POINT, nullptr, nullptr, nullptr);
                uint8_t* dst[1] = {reinterpret_cast<uint8_t*>(picture.data())};
                const int stride[1] = {int(picture.strideBytes())};
                sws_scale(sws, frame->data, frame->linesize, 0, frame->height, dst, stride);
                numbers.push_back(graph::readGeneratedTapeFrameNumber(picture));
            }
        }
        av_packet_unref(packet);
    }
    sws_freeContext(sws);
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&dec);
    avformat_close_input(&fmt);
    return numbers;
}

} // namespace

TEST(DeviceControlCapture, ARangeFromTheSoftwareDeckStartsAndEndsOnItsTimecodes)
{
    const char* base = std::getenv("ZEF_TEST_TMP");
    const fs::path dir = fs::path(base ? base : fs::temp_directory_path().string()) / "devctl";
    fs::remove_all(dir);
    fs::create_directories(dir);

    auto registry = graph::FilterClassRegistry::withBuiltIns();
    graph::SoftwareTapeDeckOptions options;
    options.generatedSeconds = 60;
    graph::registerSoftwareTapeDeck(*registry, options);
    graph::DeviceList devices;
    devices.enumerate(*registry);
    ASSERT_EQ(devices.size(), 1u);
    TapeDeck deck(*registry, devices);
    ASSERT_TRUE(deck.open(0, 0));
    auto source = std::make_shared<app::TapeCaptureSource>(
        graph::openTapeDeckOutput(*registry, graph::kSoftwareTapeDeckClassId));

    FProject project;
    project.captureMode = app::FCaptureControl::kDeviceControl;
    QuietHost host;
    app::FCaptureControl control(project, nullptr, host);
    control.settings().useDirectShow = false; // the sequence grabber
    control.setTapeDeck(&deck);
    control.setTapeSource(source);
    // 00:00:03:10 to 00:00:05:05 on a 25 fps tape: frames 85 to 130.
    control.inPoint = EditTime::raw((3 * 25 + 10) * 24, 25, 1);
    control.outPoint = EditTime::raw((5 * 25 + 5) * 24, 25, 1);

    const std::string name = (dir / "range.mov").string();
    ASSERT_TRUE(control.startCapture(name, true, 10, false, false));
    EXPECT_EQ(deck.mode(), TapeTransport::kPlay);
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (control.isCapturing() && std::chrono::steady_clock::now() < until) {
        control.idle();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_FALSE(control.isCapturing());
    EXPECT_EQ(deck.mode(), TapeTransport::kStop);

    const std::vector<int64_t> frames = tapeFramesIn(control.captureFile());
    ASSERT_FALSE(frames.empty());
    EXPECT_EQ(frames.front(), 85);
    EXPECT_EQ(frames.back(), 130);
    // Every frame of the range once: in the file, or counted as dropped (a busy machine may
    // miss one of the deck's pictures).
    EXPECT_TRUE(std::is_sorted(frames.begin(), frames.end()) &&
                std::adjacent_find(frames.begin(), frames.end()) == frames.end())
        << ::testing::PrintToString(frames);
    EXPECT_EQ(int64_t(frames.size()) + control.statistics().droppedFrames, 46);
    EXPECT_LE(control.statistics().droppedFrames, 2);
    // The clip is in the gallery.
    ASSERT_EQ(project.device(kGallery).size(), 1u);
    EXPECT_EQ(static_cast<ZEFSourceItem*>(project.device(kGallery).at(0))->path(),
              control.captureFile());
}
