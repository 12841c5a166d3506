// The capture plug-in library through the contract, as the editor uses it.
#include "capture/capture_plugin.h"
#include "platform/com/task_memory.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace zef;
namespace fs = std::filesystem;

namespace {

using Plugin = std::unique_ptr<ICaptureDevicePlugin>;

Plugin makePlugin()
{
    Plugin p(CreateCaptureInstance());
    EXPECT_NE(p, nullptr);
    return p;
}

// Takes over a string the plug-in handed out and frees it as the editor does.
std::string take(char* text)
{
    com::TaskMemPtr<char> owned(text);
    return owned ? std::string(owned.get()) : std::string("<null>");
}

std::vector<std::string> names(ICaptureDevicePlugin& p, bool video)
{
    int32_t count = -1;
    EXPECT_EQ(video ? p.GetVideoDeviceCount(&count) : p.GetAudioDeviceCount(&count), kCaptureOk);
    std::vector<std::string> out;
    for (int32_t i = 0; i < count; ++i) {
        char* name = nullptr;
        EXPECT_EQ(video ? p.GetVideoDeviceName(i, &name) : p.GetAudioDeviceName(i, &name),
                  kCaptureOk);
        out.push_back(take(name));
    }
    return out;
}

std::string currentVideo(ICaptureDevicePlugin& p)
{
    char* name = nullptr;
    HResult r = p.GetCurrentVideoDevice(&name);
    EXPECT_FALSE(captureFailed(r));
    return take(name);
}

std::string currentAudio(ICaptureDevicePlugin& p)
{
    char* name = nullptr;
    HResult r = p.GetCurrentAudioDevice(&name);
    EXPECT_FALSE(captureFailed(r));
    return take(name);
}

std::vector<uint8_t> settings(ICaptureDevicePlugin& p)
{
    void* block = nullptr;
    uint32_t size = 0;
    EXPECT_EQ(p.SaveSettings(&block, &size), kCaptureOk);
    com::TaskMemPtr<uint8_t> owned(static_cast<uint8_t*>(block));
    return owned ? std::vector<uint8_t>(owned.get(), owned.get() + size) : std::vector<uint8_t>{};
}

HResult restore(ICaptureDevicePlugin& p, const std::vector<uint8_t>& block)
{
    return p.RestoreSettings(block.data(), uint32_t(block.size()), false);
}

fs::path tempDir()
{
    const char* base = std::getenv("ZEF_TEST_TMP");
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    fs::path dir =
        fs::path(base ? base : fs::temp_directory_path().string()) / "capture" / info->name();
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir;
}

// The checksum of zip and PNG, written out here to check the block against it.
uint32_t crc32(const std::vector<uint8_t>& bytes)
{
    uint32_t crc = 0xffffffffu;
    for (uint8_t b : bytes) {
        crc ^= b;
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1)));
    }
    return ~crc;
}

void put(std::vector<uint8_t>& b, uint64_t v, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        b.push_back(uint8_t(v >> (8 * i)));
}

void putText(std::vector<uint8_t>& b, const std::string& s)
{
    put(b, s.size(), 2);
    b.insert(b.end(), s.begin(), s.end());
}

} // namespace

TEST(CapturePlugin, ListsTheSyntheticDevicesLastWithUniqueNames)
{
    Plugin p = makePlugin();
    for (bool video : {true, false}) {
        std::vector<std::string> list = names(*p, video);
        ASSERT_FALSE(list.empty());
        EXPECT_EQ(list.back(), video ? "Test Pattern" : "Test Tone");
        for (size_t i = 0; i < list.size(); ++i) {
            EXPECT_FALSE(list[i].empty());
            for (size_t j = i + 1; j < list.size(); ++j)
                EXPECT_NE(list[i], list[j]);
        }
        char* name = reinterpret_cast<char*>(1);
        int32_t past = int32_t(list.size());
        EXPECT_EQ(video ? p->GetVideoDeviceName(past, &name) : p->GetAudioDeviceName(-1, &name),
                  kCaptureErrInvalidArg);
        EXPECT_EQ(name, nullptr);
    }
}

TEST(CapturePlugin, ASoundServerThatNeverAnswersDoesNotHoldTheListing)
{
    // A socket that takes connections and never says a word, given as the sound server.
    // (Socket paths are short: the test folder may be too deep for one.)
    fs::path socketPath = fs::temp_directory_path() / ("zef-silent-" + std::to_string(getpid()));
    fs::remove(socketPath);
    int server = socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(server, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    ASSERT_LT(socketPath.string().size(), sizeof address.sun_path);
    std::strcpy(address.sun_path, socketPath.c_str());
    ASSERT_EQ(bind(server, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(listen(server, 4), 0);
    const char* previous = std::getenv("PULSE_SERVER");
    std::string kept = previous ? previous : "";
    setenv("PULSE_SERVER", ("unix:" + socketPath.string()).c_str(), 1);

    // The listing runs apart so that a hang fails the test instead of holding it; the thread
    // owns what it uses.
    std::shared_ptr<ICaptureDevicePlugin> p(CreateCaptureInstance());
    ASSERT_NE(p, nullptr);
    auto listed = std::make_shared<std::promise<std::vector<std::string>>>();
    std::future<std::vector<std::string>> result = listed->get_future();
    std::thread([p, listed] { listed->set_value(names(*p, false)); }).detach();
    bool answered = result.wait_for(std::chrono::seconds(15)) == std::future_status::ready;

    close(server);
    fs::remove(socketPath);
    if (previous)
        setenv("PULSE_SERVER", kept.c_str(), 1);
    else
        unsetenv("PULSE_SERVER");
    ASSERT_TRUE(answered) << "a silent sound server holds the listing";
    std::vector<std::string> list = result.get();
    ASSERT_FALSE(list.empty());
    EXPECT_EQ(list.back(), "Test Tone");
}

TEST(CapturePlugin, SelectsByNameAndKeepsTheSelectionOnAFailedSelect)
{
    Plugin p = makePlugin();
    char* none = reinterpret_cast<char*>(1);
    EXPECT_EQ(p->GetCurrentVideoDevice(&none), kCaptureFalse);
    EXPECT_EQ(none, nullptr);

    // Every listed device can be selected by its name, real ones included.
    for (const std::string& name : names(*p, true)) {
        EXPECT_EQ(p->SelectVideoDevice(name.c_str()), kCaptureOk) << name;
        EXPECT_EQ(currentVideo(*p), name);
    }
    for (const std::string& name : names(*p, false)) {
        EXPECT_EQ(p->SelectAudioDevice(name.c_str()), kCaptureOk) << name;
        EXPECT_EQ(currentAudio(*p), name);
    }
    EXPECT_EQ(p->SelectVideoDevice("No Such Camera"), kCaptureErrNoDevice);
    EXPECT_EQ(p->SelectAudioDevice("Test Pattern"), kCaptureErrNoDevice);
    EXPECT_EQ(p->SelectVideoDevice(nullptr), kCaptureErrPointer);
    EXPECT_EQ(currentVideo(*p), "Test Pattern");
    EXPECT_EQ(currentAudio(*p), "Test Tone");
}

TEST(CapturePlugin, OpenSelectsPresentDefaultsAndCloseEndsIt)
{
    Plugin p = makePlugin();
    int32_t state = -1;
    EXPECT_EQ(p->GetState(&state), kCaptureOk);
    EXPECT_EQ(state, kCaptureStateClosed);
    ASSERT_EQ(p->Open(1, 2), kCaptureOk);
    EXPECT_EQ(p->GetState(&state), kCaptureOk);
    EXPECT_EQ(state, kCaptureStateOpen);
    std::vector<std::string> video = names(*p, true), audio = names(*p, false);
    EXPECT_NE(std::find(video.begin(), video.end(), currentVideo(*p)), video.end());
    EXPECT_NE(std::find(audio.begin(), audio.end(), currentAudio(*p)), audio.end());
    EXPECT_EQ(p->IsPreviewRunning(), 0);
    EXPECT_EQ(p->Close(), kCaptureOk);
    EXPECT_EQ(p->GetState(&state), kCaptureOk);
    EXPECT_EQ(state, kCaptureStateClosed);
}

TEST(CapturePlugin, SettingsRoundTripRestoresSelectionRateAndFile)
{
    fs::path file = tempDir() / "capture.avi";
    Plugin a = makePlugin();
    ASSERT_EQ(a->SelectVideoDevice("Test Pattern"), kCaptureOk);
    ASSERT_EQ(a->SelectAudioDevice("Test Tone"), kCaptureOk);
    ASSERT_EQ(a->SetFrameRate(30000.0 / 1001.0), kCaptureOk);
    ASSERT_EQ(a->SetCaptureFile(file.c_str(), 3 << 20), kCaptureOk);
    std::vector<uint8_t> block = settings(*a);

    // The file is made at once with its space reserved on disk.
    struct stat st {};
    ASSERT_EQ(stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_size, 3 << 20);
    EXPECT_GE(int64_t(st.st_blocks) * 512, int64_t(3 << 20));

    Plugin b = makePlugin();
    EXPECT_EQ(restore(*b, block), kCaptureOk);
    EXPECT_EQ(currentVideo(*b), "Test Pattern");
    EXPECT_EQ(currentAudio(*b), "Test Tone");
    EXPECT_EQ(settings(*b), block);
}

TEST(CapturePlugin, DamagedOrForeignBlocksAreRefusedAndChangeNothing)
{
    Plugin a = makePlugin();
    ASSERT_EQ(a->SelectVideoDevice("Test Pattern"), kCaptureOk);
    ASSERT_EQ(a->SelectAudioDevice("Test Tone"), kCaptureOk);
    ASSERT_EQ(a->SetFrameRate(25.0), kCaptureOk);
    std::vector<uint8_t> good = settings(*a);

    Plugin b = makePlugin();
    ASSERT_EQ(b->SetFrameRate(12.0), kCaptureOk);
    const std::vector<uint8_t> before = settings(*b);

    for (size_t i = 0; i < good.size(); ++i) {
        for (int bit = 0; bit < 8; ++bit) {
            std::vector<uint8_t> damaged = good;
            damaged[i] ^= uint8_t(1 << bit);
            ASSERT_EQ(restore(*b, damaged), kCaptureErrBadSettings) << i << ":" << bit;
        }
    }
    EXPECT_EQ(b->RestoreSettings(good.data(), 0, false), kCaptureErrBadSettings);
    for (size_t n = 1; n < good.size(); ++n) {
        std::vector<uint8_t> cut(good.begin(), good.begin() + ptrdiff_t(n));
        ASSERT_EQ(restore(*b, cut), kCaptureErrBadSettings) << n;
    }
    std::vector<uint8_t> longer = good;
    longer.push_back(0);
    EXPECT_EQ(restore(*b, longer), kCaptureErrBadSettings);
    EXPECT_EQ(restore(*b, std::vector<uint8_t>(64, 0x5a)), kCaptureErrBadSettings);
    EXPECT_EQ(b->RestoreSettings(nullptr, 16, false), kCaptureErrPointer);

    EXPECT_EQ(settings(*b), before);
    char* name = nullptr;
    EXPECT_EQ(b->GetCurrentVideoDevice(&name), kCaptureFalse);
}

TEST(CapturePlugin, AStoredBlockOfAnAbsentDeviceRestoresButDoesNotOpen)
{
    // Version 1 written byte by byte: the layout is kept by the editor between runs.
    const std::string camera = "Absent Camera (/dev/video63)";
    std::vector<uint8_t> block = {'Z', 'C', 'P', 'S', 1, 0, 0, 0, 0, 0, 0, 0};
    put(block, 1, 1); // a video device: V4L2
    put(block, 1, 1);
    putText(block, "/dev/video63");
    putText(block, camera);
    put(block, 0, 1);                     // no audio device
    put(block, 0x4039000000000000ull, 8); // 25.0
    putText(block, "/nonexistent/capture.avi");
    put(block, 0, 8);
    for (int i = 0; i < 4; ++i) // the size of the whole block, checksum included
        block[8 + i] = uint8_t((block.size() + 4) >> (8 * i));
    put(block, crc32(block), 4);

    Plugin p = makePlugin();
    ASSERT_EQ(restore(*p, block), kCaptureOk);
    EXPECT_EQ(currentVideo(*p), camera);
    char* audio = nullptr;
    EXPECT_EQ(p->GetCurrentAudioDevice(&audio), kCaptureFalse);
    EXPECT_EQ(settings(*p), block);

    EXPECT_EQ(p->Open(0, 0), kCaptureErrNoDevice);
    int32_t state = -1;
    EXPECT_EQ(p->GetState(&state), kCaptureOk);
    EXPECT_EQ(state, kCaptureStateClosed);
    EXPECT_EQ(settings(*p), block);
}

TEST(CapturePlugin, RefusedValuesLeaveTheSettingsAsTheyWere)
{
    fs::path dir = tempDir();
    Plugin p = makePlugin();
    ASSERT_EQ(p->SetCaptureFile((dir / "kept.avi").c_str(), 0), kCaptureOk);
    ASSERT_EQ(p->SetFrameRate(15.0), kCaptureOk);
    const std::vector<uint8_t> before = settings(*p);

    EXPECT_EQ(p->SetCaptureFile((dir / "missing" / "c.avi").c_str(), 1 << 20), kCaptureErrFile);
    EXPECT_FALSE(fs::exists(dir / "missing"));
    EXPECT_EQ(p->SetCaptureFile("", 0), kCaptureErrInvalidArg);
    EXPECT_EQ(p->SetCaptureFile(nullptr, 0), kCaptureErrPointer);
    EXPECT_EQ(p->SetFrameRate(-1.0), kCaptureErrInvalidArg);
    EXPECT_EQ(p->SetFrameRate(std::nan("")), kCaptureErrInvalidArg);
    EXPECT_EQ(p->SetFrameRate(HUGE_VAL), kCaptureErrInvalidArg);
    EXPECT_EQ(settings(*p), before);
}

// The events of one capture, as the plug-in's thread sends them.
struct Events {
    std::mutex mutex;
    std::vector<int32_t> codes;
    int32_t finishedWith = -1;
    int32_t lastFrames = 0;
    int32_t lastPercent = -1;
};
Events* g_events = nullptr;

extern "C" int32_t recordEvent(void*, int32_t event, intptr_t argument)
{
    std::lock_guard lock(g_events->mutex);
    g_events->codes.push_back(event);
    if (event == kCaptureEventFinished) g_events->finishedWith = int32_t(argument);
    if (event == kCaptureEventStatistics)
        g_events->lastFrames = reinterpret_cast<const CaptureStatistics*>(argument)->capturedFrames;
    if (event == kCaptureEventProgress) g_events->lastPercent = int32_t(argument);
    return 0;
}

std::string probe(const fs::path& file)
{
    const std::string command = "ffprobe -v error -show_entries stream=codec_name,width,height "
                                "-of csv=p=0 '" +
                                file.string() + "' 2>&1";
    std::string out;
    if (std::FILE* pipe = ::popen(command.c_str(), "r")) {
        char line[256];
        while (std::fgets(line, sizeof line, pipe))
            out += line;
        ::pclose(pipe);
    }
    return out;
}

TEST(CapturePlugin, ATimedCaptureOfTheTestDevicesMakesAnInterleavedDvFileAndExportsIt)
{
    Events events;
    g_events = &events;
    const fs::path dir = tempDir();
    Plugin p = makePlugin();
    ASSERT_EQ(p->SelectVideoDevice("Test Pattern"), kCaptureOk);
    ASSERT_EQ(p->SelectAudioDevice("Test Tone"), kCaptureOk);
    ASSERT_EQ(p->Open(1, 2), kCaptureOk);
    ASSERT_EQ(p->SetFrameRate(25.0), kCaptureOk);
    ASSERT_EQ(p->SetPreview(0, true, false), kCaptureOk);
    const std::string file = (dir / "take.avi").string();
    ASSERT_EQ(p->StartCapture(2, recordEvent, false, 0, true, true, file.c_str()), kCaptureOk);
    int32_t state = -1;
    EXPECT_EQ(p->GetState(&state), kCaptureOk);
    EXPECT_EQ(state, kCaptureStateCapturing);
    // The preview's pictures come through GetCapturedFramePtr while it records.
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const intptr_t frame = p->GetCapturedFramePtr(kCapturedFrameNewest, 0, 0, 0);
    ASSERT_GT(frame, 0);
    const auto* header = reinterpret_cast<const CapturedFrame*>(frame);
    EXPECT_EQ(header->width, 640);
    EXPECT_EQ(header->height, 480);
    EXPECT_EQ(header->stride, 640 * 4);
    // The time limit ends it by itself.
    for (int i = 0; i < 200 && events.finishedWith < 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    {
        std::lock_guard lock(events.mutex);
        ASSERT_FALSE(events.codes.empty());
        EXPECT_EQ(events.codes.front(), kCaptureEventStarted);
        EXPECT_EQ(events.codes.back(), kCaptureEventFinished);
        EXPECT_EQ(events.finishedWith, kCaptureEndStopped);
        EXPECT_NEAR(events.lastFrames, 50, 2); // two seconds at 25 a second
    }
    EXPECT_EQ(p->GetState(&state), kCaptureOk);
    EXPECT_EQ(state, kCaptureStatePreviewing);
    EXPECT_EQ(probe(file), "dvvideo,720,576\npcm_s16le\n");
    // The export copies it, with its progress ending at 100.
    const fs::path copy = dir / "kept.avi";
    EXPECT_EQ(p->ExportCaptureFile(copy.string().c_str()), kCaptureOk);
    EXPECT_EQ(fs::file_size(copy), fs::file_size(file));
    EXPECT_EQ(events.lastPercent, 100);
    EXPECT_EQ(p->Close(), kCaptureOk);
    g_events = nullptr;
}
