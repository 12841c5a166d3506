// The live-broadcast exporter: server URLs from the broadcast atoms, streaming to a receiver on
// the loopback interface, a refused connection, and writing a file when broadcasting is off.
#include "export_test_support.h"

#include "platform/movies/export/broadcast_exporter.h"
#include "platform/movies/export/export_pipeline.h"
#include "platform/movies/export/standard_exporters.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

namespace zef::movies {
namespace {

using testing::PatternSource;

AtomContainer broadcastSettings(const std::string& server, const std::string& port, bool on)
{
    AtomContainer c = makeStandardExporter(kMovieExportBroadcast)->settings();
    writeAtomText(c, kBroadcastAtom, fourcc("srvr"), server);
    writeAtomText(c, kBroadcastAtom, fourcc("port"), port);
    writeAtomUInt16(c, kBroadcastAtom, fourcc("on  "), on ? 1 : 0);
    return c;
}

TEST(Broadcast, TargetsFromTheBroadcastAtoms)
{
    BroadcastTarget t;
    AtomContainer c = broadcastSettings("127.0.0.1", "1940", true);
    writeAtomText(c, kBroadcastAtom, fourcc("titl"), "My Show!");
    ASSERT_EQ(broadcastTarget(c, &t), noErr);
    EXPECT_EQ(t.url, "rtmp://127.0.0.1:1940/live/MyShow");
    EXPECT_EQ(t.muxer, "flv");

    c = broadcastSettings("rtsp://127.0.0.1/live", "8554", true);
    writeAtomText(c, kBroadcastAtom, fourcc("user"), "ann");
    writeAtomText(c, kBroadcastAtom, fourcc("pass"), "pw");
    ASSERT_EQ(broadcastTarget(c, &t), noErr);
    EXPECT_EQ(t.url, "rtsp://ann:pw@127.0.0.1:8554/live");
    EXPECT_EQ(t.muxer, "rtsp");

    c = broadcastSettings("rtmp://127.0.0.1:1999/app/key", "", true); // its own port wins
    ASSERT_EQ(broadcastTarget(c, &t), noErr);
    EXPECT_EQ(t.url, "rtmp://127.0.0.1:1999/app/key");

    EXPECT_EQ(broadcastTarget(broadcastSettings("", "1935", true), &t), paramErr);
    EXPECT_EQ(broadcastTarget(broadcastSettings("http://127.0.0.1", "80", true), &t), paramErr);
    EXPECT_EQ(broadcastTarget(broadcastSettings("127.0.0.1", "99999", true), &t), paramErr);
    EXPECT_EQ(broadcastTarget(broadcastSettings("127.0.0.1", "12ab", true), &t), paramErr);
}

TEST(Broadcast, RefusedConnectionEndsQuicklyWithAnError)
{
    PatternSource source(160, 120, {25, 1}, 50);
    for (const char* scheme : {"", "rtsp://"}) {
        auto exporter = makeStandardExporter(kMovieExportBroadcast);
        const int port = testing::freePort();
        ASSERT_GT(port, 0);
        ASSERT_EQ(exporter->setSettings(broadcastSettings(std::string(scheme) + "127.0.0.1/live/x",
                                                          std::to_string(port), true)),
                  noErr);
        const auto start = std::chrono::steady_clock::now();
        const OSErr err = exporter->exportToFile(source, testing::testFolder("refused") + "/x.mov");
        const auto seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        EXPECT_EQ(err, kExportConnectionErr) << scheme;
        EXPECT_LT(seconds, 3.0) << scheme;
        EXPECT_EQ(source.framesRendered, 0);
    }
}

struct Receiver {
    int pid = -1;
    std::string file;
};

Receiver startReceiver(const std::string& scheme, int port, const std::string& dir)
{
    Receiver r;
    r.file = dir + "/received.mkv";
    const std::string url = scheme == "rtmp"
                                ? "rtmp://127.0.0.1:" + std::to_string(port) + "/live/test"
                                : "rtsp://127.0.0.1:" + std::to_string(port) + "/live";
    std::vector<std::string> argv = {"ffmpeg", "-v", "error", "-y"};
    if (scheme == "rtmp") {
        argv.insert(argv.end(), {"-listen", "1"});
    } else {
        argv.insert(argv.end(), {"-rtsp_flags", "listen"});
    }
    argv.insert(argv.end(), {"-i", url, "-c", "copy", "-f", "matroska", r.file});
    r.pid = testing::startProcess(argv);
    // Wait until it listens (read from the kernel's table, so no connection is used up).
    for (int i = 0; i < 200 && !testing::isListening(port); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return r;
}

class BroadcastLive : public ::testing::TestWithParam<const char*> {};

TEST_P(BroadcastLive, StreamsInRealTimeToALoopbackReceiver)
{
    const std::string scheme = GetParam();
    const int port = testing::freePort();
    ASSERT_GT(port, 0);
    const std::string dir = testing::testFolder(std::string("live_") + scheme);
    Receiver receiver = startReceiver(scheme, port, dir);
    ASSERT_GT(receiver.pid, 0);
    ASSERT_TRUE(testing::isListening(port)) << "the receiver did not start";

    PatternSource source(320, 240, {25, 1}, 25, 48000, 2);
    auto exporter = makeStandardExporter(kMovieExportBroadcast);
    const std::string server = scheme == "rtmp" ? "127.0.0.1" : "rtsp://127.0.0.1/live";
    AtomContainer s = broadcastSettings(server, std::to_string(port), true);
    writeAtomText(s, kBroadcastAtom, fourcc("titl"), "test");
    ASSERT_EQ(exporter->setSettings(s), noErr);
    const auto start = std::chrono::steady_clock::now();
    const OSErr err = exporter->exportToFile(source, dir + "/unused.mov");
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(err, noErr);
    EXPECT_GE(seconds, 0.9); // paced at the frame rate
    testing::waitProcess(receiver.pid, 10000);

    EXPECT_FALSE(std::filesystem::exists(dir + "/unused.mov"));
    const auto info = testing::probe(receiver.file);
    ASSERT_FALSE(info.empty());
    EXPECT_EQ(info.at("streams.stream.0.codec_name"), "h264");
    EXPECT_GE(std::stoi(info.at("streams.stream.0.nb_read_frames")), 20);
    const auto pixels = testing::decodeVideo(receiver.file, 320, 240);
    ASSERT_GE(pixels.size(), size_t(320 * 240 * 4));
    EXPECT_GE(testing::readFrameNumber(pixels.data(), 320, 240), 0);
}

INSTANTIATE_TEST_SUITE_P(Protocols, BroadcastLive, ::testing::Values("rtmp", "rtsp"));

struct StopLater {
    int updates = 0;
    int limit = 0;
};

OSErr stopLater(int16_t message, int16_t, Fixed, intptr_t refcon)
{
    auto* s = reinterpret_cast<StopLater*>(refcon);
    if (message == movieProgressUpdatePercent && ++s->updates >= s->limit)
        return progressProcAborted;
    return noErr;
}

// With 'loop' set (0, 1 as the render writes it) the broadcast sends the movie again and again
// until the render is stopped.
TEST(Broadcast, LoopSendsTheMovieAgainUntilStopped)
{
    const int port = testing::freePort();
    ASSERT_GT(port, 0);
    const std::string dir = testing::testFolder("live_loop");
    Receiver receiver = startReceiver("rtmp", port, dir);
    ASSERT_GT(receiver.pid, 0);
    ASSERT_TRUE(testing::isListening(port)) << "the receiver did not start";

    PatternSource source(320, 240, {25, 1}, 10, 48000, 2);
    auto exporter = makeStandardExporter(kMovieExportBroadcast);
    AtomContainer s = broadcastSettings("127.0.0.1", std::to_string(port), true);
    writeAtomText(s, kBroadcastAtom, fourcc("titl"), "test");
    writeAtomUInt16(s, kBroadcastAtom, fourcc("loop"), 1);
    writeAtomUInt16(s, kBroadcastAtom, fourcc("flat"), 0x0100);
    ASSERT_EQ(exporter->setSettings(s), noErr);
    StopLater stop;
    stop.limit = 30; // three passes
    EXPECT_EQ(convertToFile(source, *exporter, dir + "/unused.mov", 0, stopLater, intptr_t(&stop)),
              progressProcAborted);
    testing::waitProcess(receiver.pid, 10000);

    const auto pixels = testing::decodeVideo(receiver.file, 320, 240);
    const size_t frameBytes = size_t(320 * 240 * 4);
    ASSERT_GE(pixels.size(), frameBytes * 20) << "fewer than two passes arrived";
    for (size_t i = 0; i < 20; ++i)
        EXPECT_EQ(testing::readFrameNumber(pixels.data() + frameBytes * i, 320, 240), int(i % 10))
            << "frame " << i;
}

TEST(Broadcast, WritesTheNamedFileWhenNotBroadcasting)
{
    PatternSource source(160, 120, {25, 1}, 10);
    auto exporter = makeStandardExporter(kMovieExportBroadcast);
    const std::string dir = testing::testFolder("broadcast_off");
    AtomContainer s = broadcastSettings("127.0.0.1", "1", false);
    writeAtomText(s, kBroadcastAtom, fourcc("flnm"), dir + "/named.mov");
    // The rate of video preset 1 ('vsta' = 1 selects 'vdr2'): 10.0 in 16.16, little-endian.
    writeAtomUInt16(s, kVideoSettingsAtom, fourcc("vsta"), 1);
    const uint8_t rate[4] = {0, 0, 10, 0};
    ASSERT_EQ(s.insertChild(s.findChildByIndex(kParentAtomIsContainer, kBroadcastAtom, 1),
                            fourcc("vdr2"), 1, 1, rate),
              noErr);
    ASSERT_EQ(exporter->setSettings(s), noErr);
    ASSERT_EQ(convertToFile(source, *exporter, dir + "/given.mov", 0, nullptr, 0), noErr);
    EXPECT_FALSE(std::filesystem::exists(dir + "/given.mov"));
    const auto info = testing::probe(dir + "/named.mov");
    EXPECT_EQ(info.at("streams.stream.0.codec_name"), "h264");
    EXPECT_EQ(info.at("streams.stream.0.r_frame_rate"), "10/1");
    EXPECT_EQ(info.at("streams.stream.0.nb_read_frames"), "4");
}

} // namespace
} // namespace zef::movies
