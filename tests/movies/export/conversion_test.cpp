// Converting to a file: progress, abort, flags, path errors, the component interface and the
// settings, and sound staying in step with the pictures.
#include "export_test_support.h"

#include "platform/movies/export/export_pipeline.h"
#include "platform/movies/export/standard_exporters.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

namespace zef::movies {
namespace {

using testing::PatternSource;

struct ProgressLog {
    std::vector<std::pair<int16_t, Fixed>> calls;
    int abortAfterUpdates = -1; // answer −2019 at this update
    PatternSource* source = nullptr;
    int64_t renderedAtAbort = -1;
};

OSErr logProgress(int16_t message, int16_t operation, Fixed fraction, intptr_t refcon)
{
    auto* log = reinterpret_cast<ProgressLog*>(refcon);
    EXPECT_EQ(operation, progressOpExportMovie);
    log->calls.emplace_back(message, fraction);
    if (message == movieProgressUpdatePercent && log->abortAfterUpdates >= 0) {
        int updates = 0;
        for (const auto& c : log->calls)
            updates += c.first == movieProgressUpdatePercent;
        if (updates == log->abortAfterUpdates) {
            log->renderedAtAbort = log->source->framesRendered;
            return progressProcAborted;
        }
    }
    return noErr;
}

TEST(Conversion, ProgressOpensUpdatesInOrderAndCloses)
{
    PatternSource source(160, 120, {25, 1}, 20);
    auto exporter = makeStandardExporter(kMovieExportAVI);
    ProgressLog log;
    const std::string path = testing::testFolder("progress") + "/out.avi";
    ASSERT_EQ(convertToFile(source, *exporter, path, 0, logProgress, intptr_t(&log)), noErr);
    ASSERT_EQ(log.calls.size(), 22u);
    EXPECT_EQ(log.calls.front().first, movieProgressOpen);
    EXPECT_EQ(log.calls.back().first, movieProgressClose);
    Fixed last = 0;
    for (size_t i = 1; i + 1 < log.calls.size(); ++i) {
        EXPECT_EQ(log.calls[i].first, movieProgressUpdatePercent);
        EXPECT_GT(log.calls[i].second, last);
        last = log.calls[i].second;
    }
    EXPECT_EQ(last, kFixed1);
    EXPECT_EQ(source.framesRendered, 20);
}

TEST(Conversion, AbortStopsWithinOneFrameAndReportsIt)
{
    PatternSource source(320, 240, {25, 1}, 200);
    ProgressLog log;
    log.abortAfterUpdates = 5;
    log.source = &source;
    for (OSType subType : {kMovieExportMovie, kMovieExportGIF}) {
        auto exporter = makeStandardExporter(subType);
        log.calls.clear();
        source.framesRendered = 0;
        const std::string path = testing::testFolder("abort") + "/out";
        EXPECT_EQ(convertToFile(source, *exporter, path, 0, logProgress, intptr_t(&log)),
                  progressProcAborted);
        // Not a single frame more was rendered after the answer; the close message came.
        EXPECT_EQ(source.framesRendered, log.renderedAtAbort);
        EXPECT_EQ(log.renderedAtAbort, 5);
        EXPECT_EQ(log.calls.back().first, movieProgressClose);
    }
}

TEST(Conversion, OutputPathRulesAndFlags)
{
    PatternSource source(160, 120, {25, 1}, 5);
    auto exporter = makeStandardExporter(kMovieExportAVI);
    const std::string dir = testing::testFolder("paths");
    EXPECT_EQ(convertToFile(source, *exporter, "", 0, nullptr, 0), paramErr);
    EXPECT_EQ(convertToFile(source, *exporter, dir + "/missing/out.avi", 0, nullptr, 0), paramErr);
    EXPECT_EQ(convertToFile(source, *exporter, dir, createMovieFileDeleteCurFile, nullptr, 0),
              paramErr);
    EXPECT_EQ(convertToFile(source, *exporter, dir + "/", 0, nullptr, 0), paramErr);
    std::ofstream(dir + "/afile") << "x";
    EXPECT_EQ(convertToFile(source, *exporter, dir + "/afile/out.avi", 0, nullptr, 0), dirNFErr);

    // An existing file is replaced only when asked to.
    const std::string path = dir + "/out.avi";
    std::ofstream(path) << "old contents";
    EXPECT_EQ(convertToFile(source, *exporter, path, movieToFileOnlyExport, nullptr, 0), dupFNErr);
    EXPECT_EQ(std::filesystem::file_size(path), 12u);
    EXPECT_EQ(convertToFile(source, *exporter, path,
                            createMovieFileDeleteCurFile | movieToFileOnlyExport, nullptr, 0),
              noErr);
    EXPECT_EQ(testing::probe(path).at("streams.stream.0.nb_read_frames"), "5");
}

TEST(Conversion, SourceAndEncoderFailuresAreReported)
{
    PatternSource source(160, 120, {25, 1}, 10);
    source.failAtFrame = 4;
    auto exporter = makeStandardExporter(kMovieExportMovie);
    const std::string dir = testing::testFolder("failures");
    EXPECT_EQ(convertToFile(source, *exporter, dir + "/a.mov", 0, nullptr, 0), kExportSourceErr);
    // Settings the encoder refuses: an x264 preset that does not exist.
    PatternSource good(160, 120, {25, 1}, 10);
    AtomContainer s = exporter->settings();
    writeAtomText(s, kVideoSettingsAtom, fourcc("prst"), "warpspeed");
    ASSERT_EQ(exporter->setSettings(s), noErr);
    const OSErr err = convertToFile(good, *exporter, dir + "/b.mov", 0, nullptr, 0);
    EXPECT_EQ(err, kExportEncoderErr);
    // A source without frames is refused.
    PatternSource empty(160, 120, {25, 1}, 0);
    EXPECT_EQ(
        convertToFile(empty, *makeStandardExporter(kMovieExportAVI), dir + "/c.avi", 0, nullptr, 0),
        paramErr);
}

TEST(ExportComponents, EveryExporterIsListedWithNameAndExtension)
{
    ComponentManager cm;
    const auto ids = registerStandardExporters(cm);
    ASSERT_EQ(ids.size(), 11u);
    ComponentDescription looking;
    looking.componentType = kMovieExportType;
    EXPECT_EQ(cm.countComponents(looking), 11);

    const std::map<OSType, std::pair<std::string, std::string>> expected = {
        {kMovieExportMovie, {"Movie", "mov"}},
        {kMovieExportMPEG4, {"MPEG-4", "mp4"}},
        {kMovieExportMPEG, {"MPEG-1/2", "mpg"}},
        {kMovieExportAVI, {"AVI", "avi"}},
        {kMovieExportDV, {"DV Stream", "dv"}},
        {kMovieExportWebM, {"WebM", "webm"}},
        {kMovieExportGIF, {"Animated GIF", "gif"}},
        {kMovieExportImageSequence, {"Image Sequence", "png"}},
        {kMovieExportWAVE, {"WAVE", "wav"}},
        {kMovieExportAIFF, {"AIFF", "aif"}},
        {kMovieExportBroadcast, {"Live Broadcast", "mov"}},
    };
    for (Component c = cm.findNextComponent(0, looking); c; c = cm.findNextComponent(c, looking)) {
        ComponentInfo info;
        ASSERT_EQ(cm.getComponentInfo(c, info), noErr);
        const OSType sub = info.description.componentSubType;
        ASSERT_TRUE(expected.count(sub)) << fourccToString(sub);
        EXPECT_EQ(info.name, expected.at(sub).first);
        EXPECT_EQ(info.description.componentManufacturer, kStandardExporterManufacturer);
        ComponentInstance inst = 0;
        ASSERT_EQ(cm.openComponent(c, &inst), noErr);
        OSType extension = 0;
        ASSERT_EQ(cm.call(inst, kMovieExportGetFileNameExtensionSelect, {intptr_t(&extension)}),
                  noErr);
        // The characters up to the first zero byte make the extension.
        std::string text;
        for (int shift = 24; shift >= 0 && ((extension >> shift) & 0xFF); shift -= 8)
            text += char((extension >> shift) & 0xFF);
        EXPECT_EQ(text, expected.at(sub).second);
        char typeString[256] = {};
        EXPECT_EQ(cm.call(inst, kMovieExportGetShortFileTypeStringSelect, {intptr_t(typeString)}),
                  noErr);
        EXPECT_GT(std::strlen(typeString), 0u);
        EXPECT_TRUE(cm.canDo(inst, kMovieExportToFileSelect));
        EXPECT_FALSE(cm.canDo(inst, kMovieExportToHandleSelect));
        EXPECT_TRUE(isBadComponentSelector(cm.call(inst, 0x99)));
        ASSERT_NE(exporterOf(cm, inst), nullptr);
        EXPECT_EQ(exporterOf(cm, inst)->subType(), sub);
        EXPECT_EQ(cm.closeComponent(inst), noErr);
    }
}

TEST(ExportComponents, SettingsRoundTripThroughFlattenedContainers)
{
    ComponentManager cm;
    registerStandardExporters(cm);
    ComponentInstance inst = 0;
    ASSERT_EQ(cm.openDefaultComponent(kMovieExportType, kMovieExportMovie, &inst), noErr);

    Handle defaults;
    ASSERT_EQ(cm.call(inst, kMovieExportGetSettingsAsAtomContainerSelect, {intptr_t(&defaults)}),
              noErr);
    AtomContainer c;
    ASSERT_EQ(AtomContainer::fromHandle(defaults, c), noErr);
    TemporalSettings t;
    ASSERT_TRUE(readTemporalSettings(c, &t));
    EXPECT_EQ(t, TemporalSettings{});

    // 'vide'/'tprl': 12 bytes big-endian: quality, 16.16 rate, key-frame rate.
    ASSERT_EQ(writeTemporalSettings(c, {kCodecHighQuality, 0x001DF85E, 30}), noErr);
    ASSERT_EQ(writeAtomUInt32(c, kVideoSettingsAtom, fourcc("codc"), fourcc("jpeg")), noErr);
    const Handle flat = c.flatten();
    const std::string bytes(reinterpret_cast<const char*>(flat.data()), flat.size());
    const size_t at = bytes.find("tprl");
    ASSERT_NE(at, std::string::npos);
    const std::string record = bytes.substr(at + 16, 12); // after the rest of the 20-byte header
    EXPECT_EQ(record, std::string("\x00\x00\x03\x00\x00\x1D\xF8\x5E\x00\x00\x00\x1E", 12));
    ASSERT_EQ(cm.call(inst, kMovieExportSetSettingsFromAtomContainerSelect, {intptr_t(&flat)}),
              noErr);

    Handle back;
    ASSERT_EQ(cm.call(inst, kMovieExportGetSettingsAsAtomContainerSelect, {intptr_t(&back)}),
              noErr);
    EXPECT_EQ(back, flat);
    EXPECT_EQ(frameRateFromFixed(0x001DF85E), (FrameRate{30000, 1001}));

    // A codec this exporter does not write, and garbage, are refused; the settings stay.
    AtomContainer bad = c;
    writeAtomUInt32(bad, kVideoSettingsAtom, fourcc("codc"), fourcc("vp09"));
    const Handle badFlat = bad.flatten();
    EXPECT_EQ(cm.call(inst, kMovieExportSetSettingsFromAtomContainerSelect, {intptr_t(&badFlat)}),
              paramErr);
    const Handle garbage("not a container", 15);
    EXPECT_EQ(cm.call(inst, kMovieExportSetSettingsFromAtomContainerSelect, {intptr_t(&garbage)}),
              invalidAtomContainerErr);
    ASSERT_EQ(cm.call(inst, kMovieExportGetSettingsAsAtomContainerSelect, {intptr_t(&back)}),
              noErr);
    EXPECT_EQ(back, flat);
    cm.closeComponent(inst);
}

class ScriptedDialog : public ExporterDialogHost {
public:
    bool ok = true;
    int shown = 0;
    bool runSettingsDialog(const MovieExporter& exporter, AtomContainer& settings) override
    {
        ++shown;
        EXPECT_EQ(exporter.subType(), kMovieExportMPEG4);
        writeTemporalSettings(settings, {kCodecLowQuality, 12 * kFixed1, 5});
        return ok;
    }
};

TEST(ExportComponents, SettingsDialogKeepsOrTakesTheSettings)
{
    ComponentManager cm;
    registerStandardExporters(cm);
    ComponentInstance inst = 0;
    ASSERT_EQ(cm.openDefaultComponent(kMovieExportType, kMovieExportMPEG4, &inst), noErr);
    MovieExporter* exporter = exporterOf(cm, inst);
    const AtomContainer before = exporter->settings();

    bool cancelled = true;
    ASSERT_EQ(cm.call(inst, kMovieExportDoUserDialogSelect, {0, 0, intptr_t(&cancelled)}), noErr);
    EXPECT_FALSE(cancelled); // without a GUI: OK with the settings kept
    EXPECT_EQ(exporter->settings(), before);

    ScriptedDialog dialog;
    dialog.ok = false;
    ASSERT_EQ(
        cm.call(inst, kMovieExportDoUserDialogSelect, {0, intptr_t(&dialog), intptr_t(&cancelled)}),
        noErr);
    EXPECT_TRUE(cancelled);
    EXPECT_EQ(exporter->settings(), before);

    dialog.ok = true;
    ASSERT_EQ(
        cm.call(inst, kMovieExportDoUserDialogSelect, {0, intptr_t(&dialog), intptr_t(&cancelled)}),
        noErr);
    EXPECT_FALSE(cancelled);
    TemporalSettings t;
    ASSERT_TRUE(readTemporalSettings(exporter->settings(), &t));
    EXPECT_EQ(t.frameRate, 12 * kFixed1);
    EXPECT_EQ(dialog.shown, 2);
    cm.closeComponent(inst);
}

TEST(ExportComponents, ConvertThroughTheComponentManager)
{
    ComponentManager cm;
    registerStandardExporters(cm);
    ComponentInstance inst = 0;
    ASSERT_EQ(cm.openDefaultComponent(kMovieExportType, kMovieExportMPEG, &inst), noErr);
    // 'vsvr': the whole frame rate as 16 bits.
    MovieExporter* exporter = exporterOf(cm, inst);
    AtomContainer s = exporter->settings();
    writeAtomUInt16(s, kVideoSettingsAtom, fourcc("vsvr"), 12);
    ASSERT_EQ(exporter->setSettings(s), noErr);
    PatternSource source(320, 240, {24, 1}, 24);
    ProgressLog log;
    const std::string path = testing::testFolder("bymanager") + "/out.mpg";
    ASSERT_EQ(convertToFile(source, cm, inst, path,
                            createMovieFileDeleteCurFile | movieToFileOnlyExport, logProgress,
                            intptr_t(&log)),
              noErr);
    EXPECT_EQ(log.calls.size(), 14u);
    const auto info = testing::probe(path);
    EXPECT_EQ(info.at("streams.stream.0.codec_name"), "mpeg1video");
    EXPECT_EQ(info.at("streams.stream.0.r_frame_rate"), "12/1");
    EXPECT_EQ(info.at("streams.stream.0.nb_read_frames"), "12");
    cm.closeComponent(inst);

    // Not an export component.
    const ComponentDescription other{fourcc("imdc"), fourcc("test"), fourcc("zefa"), 0, 0};
    struct Nothing : ComponentImplementation {
        ComponentResult dispatch(ComponentCall&, ComponentManager&) override { return noErr; }
    };
    const Component c =
        cm.registerComponent(other, "X", "", 1, [] { return std::make_unique<Nothing>(); });
    ComponentInstance x = 0;
    ASSERT_EQ(cm.openComponent(c, &x), noErr);
    EXPECT_EQ(convertToFile(source, cm, x, path, createMovieFileDeleteCurFile, nullptr, 0),
              badComponentType);
}

// One minute of a white flash and a click at every whole second: each click is found within
// one frame of its flash.
TEST(Conversion, SoundStaysInStepWithPicturesOverAMinute)
{
    const FrameRate rate{25, 1};
    PatternSource source(160, 120, rate, 60 * 25, 48000, 1, true);
    auto exporter = makeStandardExporter(kMovieExportAVI);
    AtomContainer s = exporter->settings();
    writeTemporalSettings(s, {kCodecLowQuality, 0, 0});
    ASSERT_EQ(exporter->setSettings(s), noErr);
    const std::string path = testing::testFolder("sync") + "/out.avi";
    ASSERT_EQ(convertToFile(source, *exporter, path, 0, nullptr, 0), noErr);

    const auto luma = testing::decodeVideo(path, 160, 120, "gray");
    const size_t frameBytes = 160 * 120;
    ASSERT_EQ(luma.size(), frameBytes * 1500);
    std::vector<double> flashes;
    for (size_t f = 0; f < 1500; ++f) {
        // Away from the frame-number blocks at the top.
        if (luma[f * frameBytes + 100 * 160 + 80] > 200) flashes.push_back(double(f) / 25.0);
    }
    const auto sound = testing::decodeAudio(path, 48000);
    ASSERT_NEAR(double(sound.size()), 60.0 * 48000, 48.0);
    std::vector<double> clicks;
    for (size_t i = 0; i < sound.size(); ++i) {
        if (std::abs(sound[i]) > 20000) {
            clicks.push_back(double(i) / 48000.0);
            i += 24000; // next second
        }
    }
    ASSERT_EQ(flashes.size(), 60u);
    ASSERT_EQ(clicks.size(), 60u);
    for (size_t k = 0; k < 60; ++k)
        EXPECT_NEAR(flashes[k], clicks[k], 1.0 / 25.0) << k;
}

} // namespace
} // namespace zef::movies

namespace zef::movies {
namespace {

TEST(Conversion, SourcesOutsideTheLimitsAreRefusedBeforeAnythingIsWritten)
{
    const std::string dir = testing::testFolder("limits");
    struct Bad {
        int w, h;
        FrameRate rate;
        int64_t frames;
        int sampleRate, channels;
    };
    for (const Bad& b :
         {Bad{320, 240, {0, 1}, 10, 48000, 2}, Bad{320, 240, {25, 0}, 10, 48000, 2},
          Bad{320, 240, {100000, 1}, 10, 48000, 2}, Bad{100000, 240, {25, 1}, 10, 48000, 2},
          Bad{320, 240, {25, 1}, -5, 48000, 2}, Bad{320, 240, {25, 1}, 10, 48000, 99},
          Bad{320, 240, {25, 1}, 10, 100000000, 2}, Bad{0, 0, {25, 1}, 10, 0, 0}}) {
        PatternSource source(b.w, b.h, b.rate, b.frames, b.sampleRate, b.channels);
        for (OSType subType : standardExporterSubTypes()) {
            auto exporter = makeStandardExporter(subType);
            const std::string path = dir + "/out";
            EXPECT_EQ(
                convertToFile(source, *exporter, path, createMovieFileDeleteCurFile, nullptr, 0),
                paramErr)
                << fourccToString(subType) << " " << b.w << "x" << b.h << " " << b.rate.num << "/"
                << b.rate.den;
            EXPECT_EQ(source.framesRendered, 0);
            EXPECT_FALSE(std::filesystem::exists(path));
        }
    }
}

} // namespace
} // namespace zef::movies

namespace zef::movies {
namespace {

// Draws into the picture it is given, as the compositor does: the buffer is kept when it has
// the right size already. Every pixel holds the source frame number.
class InPlaceSource : public ExportSource {
public:
    InPlaceSource(FrameRate rate, int64_t frames) : m_rate(rate), m_frames(frames) {}
    VideoFormat video() const override { return {64, 48, m_rate}; }
    AudioFormat audio() const override { return {}; }
    int64_t frameCount() const override { return m_frames; }
    bool renderFrame(int64_t index, Pixmap& out) override
    {
        ++rendered;
        if (out.width() != 64 || out.height() != 48) out.resize(64, 48);
        out.fill(uint32_t(index));
        return true;
    }
    bool renderAudio(int64_t, int64_t, int16_t*) override { return false; }
    int64_t rendered = 0;

private:
    FrameRate m_rate;
    int64_t m_frames;
};

// Records what arrives, slowly enough that the queue between the threads fills up. When it
// prepares pictures, the prepared form is the first pixel and whether the picture is uniform.
class SlowSink : public ExportSink {
public:
    explicit SlowSink(bool prepares = false) : m_prepares(prepares) {}
    bool preparePicture(const Pixmap& picture, PreparedPicture& out) override
    {
        if (!m_prepares) return false;
        const uint32_t v = picture.pixel(0, 0);
        out.bytes.assign(5, 0);
        std::memcpy(out.bytes.data(), &v, 4);
        out.bytes[4] = picture.pixel(63, 47) == v;
        return true;
    }
    OSErr writeVideo(const Pixmap& picture, int64_t index) override
    {
        std::this_thread::sleep_for(std::chrono::microseconds(300));
        indices.push_back(index);
        values.push_back(picture.pixel(0, 0));
        uniform = uniform && picture.pixel(63, 47) == picture.pixel(0, 0) && !m_prepares;
        return noErr;
    }
    OSErr writePrepared(const PreparedPicture& picture, int64_t index) override
    {
        std::this_thread::sleep_for(std::chrono::microseconds(300));
        indices.push_back(index);
        uint32_t v = 0;
        std::memcpy(&v, picture.bytes.data(), 4);
        values.push_back(v);
        uniform = uniform && picture.bytes[4] && m_prepares;
        return noErr;
    }
    OSErr writeAudio(const int16_t*, int64_t) override { return noErr; }
    OSErr finish() override { return noErr; }
    std::vector<int64_t> indices;
    std::vector<uint32_t> values;
    bool uniform = true;

private:
    bool m_prepares;
};

TEST(Conversion, ReusedPictureBuffersCarryTheRightFrames)
{
    ExportProgress noProgress;
    // Pictures queued as they are, and prepared on the rendering thread.
    for (const bool prepares : {false, true}) {
        SCOPED_TRACE(prepares ? "prepared" : "as they are");
        // Export rate above the source's (10 → 25 fps): pictures repeat; rendered once each.
        {
            InPlaceSource source({10, 1}, 40);
            SlowSink sink(prepares);
            ExportPlan plan;
            plan.rate = {25, 1};
            ASSERT_EQ(runExport(source, sink, plan, noProgress), noErr);
            ASSERT_EQ(sink.indices.size(), 100u);
            for (int64_t i = 0; i < 100; ++i) {
                EXPECT_EQ(sink.indices[size_t(i)], i);
                EXPECT_EQ(sink.values[size_t(i)], uint32_t(sourceFrameFor(source, {25, 1}, i)))
                    << "export frame " << i;
            }
            EXPECT_TRUE(sink.uniform);
            EXPECT_EQ(source.rendered, 40);
        }
        // Same rate, a long run: the spare buffers drawn into again hold the new frame only.
        {
            InPlaceSource source({25, 1}, 300);
            SlowSink sink(prepares);
            ASSERT_EQ(runExport(source, sink, ExportPlan{}, noProgress), noErr);
            ASSERT_EQ(sink.values.size(), 300u);
            for (uint32_t i = 0; i < 300; ++i)
                ASSERT_EQ(sink.values[i], i);
            EXPECT_TRUE(sink.uniform);
        }
    }
}

} // namespace
} // namespace zef::movies

namespace zef::movies {
namespace {

struct StopAfter {
    int updates = 0;
    int limit = 0;
};

OSErr stopAfterUpdates(int16_t message, int16_t, Fixed, intptr_t refcon)
{
    auto* s = reinterpret_cast<StopAfter*>(refcon);
    if (message == movieProgressUpdatePercent && ++s->updates >= s->limit)
        return progressProcAborted;
    return noErr;
}

// A looping export sends the source again and again, pictures and sound in one unbroken
// stream, until its progress procedure stops it; without one it cannot be stopped, so the
// source is sent once.
TEST(Conversion, LoopingRepeatsTheSourceUntilStopped)
{
    PatternSource source(64, 48, {25, 1}, 10, 8000, 1);
    ExportPlan plan;
    plan.loop = true;

    struct Sink : ExportSink {
        OSErr writeVideo(const Pixmap& p, int64_t index) override
        {
            indices.push_back(index);
            numbers.push_back(testing::readFrameNumber(
                reinterpret_cast<const uint8_t*>(bgra(p).data()), p.width(), p.height()));
            return noErr;
        }
        OSErr writeAudio(const int16_t* samples, int64_t count) override
        {
            sound.insert(sound.end(), samples, samples + count);
            return noErr;
        }
        OSErr finish() override { return noErr; }
        static std::vector<uint8_t> bgra(const Pixmap& p)
        {
            std::vector<uint8_t> out;
            for (int y = 0; y < p.height(); ++y)
                for (int x = 0; x < p.width(); ++x) {
                    const uint32_t v = p.pixel(x, y);
                    out.insert(out.end(), {blueOf(v), greenOf(v), redOf(v), alphaOf(v)});
                }
            return out;
        }
        std::vector<int64_t> indices;
        std::vector<int> numbers;
        std::vector<int16_t> sound;
    };

    Sink sink;
    StopAfter stop;
    stop.limit = 35;
    ExportProgress progress{stopAfterUpdates, intptr_t(&stop)};
    EXPECT_EQ(runExport(source, sink, plan, progress), progressProcAborted);
    ASSERT_GE(sink.indices.size(), 30u); // at most the queue and one frame are dropped
    ASSERT_LE(sink.indices.size(), 35u);
    for (size_t i = 0; i < sink.indices.size(); ++i) {
        EXPECT_EQ(sink.indices[i], int64_t(i));
        EXPECT_EQ(sink.numbers[i], int(i % 10)) << "frame " << i;
    }
    // 320 samples a frame; each pass's sound starts again with the source's first sample.
    ASSERT_EQ(sink.sound.size(), sink.indices.size() * 320);
    std::vector<int16_t> pass(3200);
    source.renderAudio(0, 3200, pass.data());
    for (size_t n = 0; n < sink.sound.size(); n += 97)
        ASSERT_EQ(sink.sound[n], pass[n % 3200]) << "sample " << n;

    Sink once;
    EXPECT_EQ(runExport(source, once, plan, ExportProgress{}), noErr);
    EXPECT_EQ(once.indices.size(), 10u);
}

} // namespace
} // namespace zef::movies
