// The print-to-tape component as the program meets it: loaded from its plug-in file by a
// component manager that also holds the toolbox's exporters, driven by selectors, printing
// generated movies to a sink that ffprobe and ffmpeg read back.
#include "exporter/peltra_settings.h"
#include "platform/movies/components.h"
#include "platform/movies/export/standard_exporters.h"
#include "tests/movies/export/export_test_support.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDoubleSpinBox>
#include <QLineEdit>
#include <QTimer>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <thread>

using namespace zef::movies;
using namespace zef::movies::testing;
using namespace zef::peltra;
namespace fs = std::filesystem;

namespace {

struct Question {
    std::string title, text;
    uintmax_t sinkBytes; // what the sink held when it was asked
};

// The files of a print land in the current directory: each test works in a folder of its own.
class PeltraTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_previous = fs::current_path();
        m_folder = testFolder(::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::current_path(m_folder);
        registerStandardExporters(m_components);
        std::vector<Component> ids;
        ASSERT_EQ(m_components.registerPluginFile(ZEF_PELTRA_PATH, &ids), noErr);
        ASSERT_EQ(ids.size(), 1u);
        ASSERT_EQ(m_components.openComponent(ids[0], &m_printer), noErr);
    }
    void TearDown() override
    {
        if (m_printer) m_components.closeComponent(m_printer);
        fs::current_path(m_previous);
    }

    // Sends the settings: the sink at path (none when empty), the transmitter, forced files.
    void configure(const std::string& sink, bool forceNewFiles = false,
                   TransmitterKind kind = TransmitterKind::sink, Fixed rate = 0)
    {
        AtomContainer c;
        writeTemporalSettings(c, TemporalSettings{kCodecHighQuality, rate, 24});
        writeAtomUInt16(c, kVideoSettingsAtom, kDirtyAtom, forceNewFiles ? 1 : 0);
        writeAtomUInt16(c, kTransmitterAtom, kTransmitterKindAtom, uint16_t(kind));
        if (!sink.empty()) writeAtomText(c, kTransmitterAtom, kSinkPathAtom, sink);
        const Handle flat = c.flatten();
        ASSERT_EQ(m_components.call(m_printer, kMovieExportSetSettingsFromAtomContainerSelect,
                                    {intptr_t(&flat)}),
                  noErr);
    }

    void askQuestions(const std::string& sink)
    {
        m_components.setAlertHandler(
            [this, sink](const std::string& title, const std::string& text) {
                std::error_code ec;
                const uintmax_t size = fs::exists(sink, ec) ? fs::file_size(sink, ec) : 0;
                m_questions.push_back({title, text, size});
                return true;
            });
    }

    OSErr print(ExportSource& source, const std::string& destination)
    {
        return m_components.call(m_printer, kMovieExportToFileSelect,
                                 {intptr_t(&source), intptr_t(destination.c_str())});
    }

    ComponentManager m_components;
    ComponentInstance m_printer = 0;
    std::vector<Question> m_questions;
    std::string m_folder;
    fs::path m_previous;
};

std::vector<uint8_t> commandOutput(const std::string& command)
{
    std::vector<uint8_t> out;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return out;
    uint8_t buffer[1 << 16];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0)
        out.insert(out.end(), buffer, buffer + n);
    pclose(pipe);
    return out;
}

// The frame numbers a DV stream shows, read from its pictures scaled back to 160×120.
std::vector<int> frameNumbers(const std::string& path)
{
    const auto bgra = commandOutput("ffmpeg -v error -f dv -i '" + path +
                                    "' -vf scale=160:120 -f rawvideo -pix_fmt bgra - 2>/dev/null");
    std::vector<int> out;
    const size_t frame = 160 * 120 * 4;
    for (size_t at = 0; at + frame <= bgra.size(); at += frame)
        out.push_back(readFrameNumber(bgra.data() + at, 160, 120));
    return out;
}

// FireWire nodes besides the computer's own controller (/dev/fw0).
bool fireWireNodesPresent()
{
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator("/dev", ec)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("fw", 0) == 0 && name != "fw0") return true;
    }
    return false;
}

std::string field(const std::map<std::string, std::string>& m, const std::string& key)
{
    auto it = m.find(key);
    return it == m.end() ? std::string() : it->second;
}

} // namespace

TEST_F(PeltraTest, AnswersItsSelectors)
{
    EXPECT_EQ(m_components.version(m_printer), 65537);
    EXPECT_TRUE(m_components.canDo(m_printer, kMovieExportToFileSelect));
    EXPECT_TRUE(m_components.canDo(m_printer, kMovieExportDoUserDialogSelect));
    EXPECT_FALSE(m_components.canDo(m_printer, kMovieExportValidateSelect));
    EXPECT_EQ(m_components.call(m_printer, kMovieExportValidateSelect), badComponentSelectorShort);
    OSType extension = 0;
    ASSERT_EQ(m_components.call(m_printer, kMovieExportGetFileNameExtensionSelect,
                                {intptr_t(&extension)}),
              noErr);
    EXPECT_EQ(extension, fourcc("DV\0\0"));
    char type[256] = {};
    ASSERT_EQ(
        m_components.call(m_printer, kMovieExportGetShortFileTypeStringSelect, {intptr_t(type)}),
        noErr);
    EXPECT_STREQ(type, "Vonder Device");

    // Settings asked for before any were set: the defaults, byte for byte as stored.
    Handle h;
    ASSERT_EQ(
        m_components.call(m_printer, kMovieExportGetSettingsAsAtomContainerSelect, {intptr_t(&h)}),
        noErr);
    AtomContainer c;
    ASSERT_EQ(AtomContainer::fromHandle(h, c), noErr);
    TemporalSettings t;
    ASSERT_TRUE(readTemporalSettings(c, &t));
    EXPECT_EQ(t, (TemporalSettings{512, 10 << 16, 24}));
    const Handle garbage(3);
    EXPECT_NE(m_components.call(m_printer, kMovieExportSetSettingsFromAtomContainerSelect,
                                {intptr_t(&garbage)}),
              noErr);
}

// A PAL movie longer than ten seconds reaches the sink whole, frame for frame with its sound,
// after the question; the files are made in the current directory, not the destination's.
TEST_F(PeltraTest, PrintsAPalMovieWholeAfterTheQuestion)
{
    configure("tape.dv");
    askQuestions("tape.dv");
    PatternSource movie(160, 120, FrameRate{25, 1}, 275);
    fs::create_directories("elsewhere/deeper");
    ASSERT_EQ(print(movie, m_folder + "/elsewhere/deeper/clip.DV"), noErr);

    EXPECT_TRUE(fs::is_regular_file("clip.DV.QT.AVI"));
    EXPECT_TRUE(fs::is_regular_file("clip.DV.QT.AVI.temp.AVI"));
    EXPECT_TRUE(fs::is_empty("elsewhere/deeper"));
    ASSERT_EQ(m_questions.size(), 1u);
    EXPECT_EQ(m_questions[0].title, "Vonder");
    EXPECT_EQ(m_questions[0].text, "Prepare camera for recording");
    EXPECT_EQ(m_questions[0].sinkBytes, 0u);

    const auto probed = probe("tape.dv");
    EXPECT_EQ(field(probed, "format.format_name"), "dv");
    EXPECT_EQ(field(probed, "streams.stream.0.codec_name"), "dvvideo");
    EXPECT_EQ(field(probed, "streams.stream.0.width"), "720");
    EXPECT_EQ(field(probed, "streams.stream.0.height"), "576");
    EXPECT_EQ(field(probed, "streams.stream.0.r_frame_rate"), "25/1");
    EXPECT_EQ(field(probed, "streams.stream.0.nb_read_frames"), "275");
    EXPECT_EQ(field(probed, "streams.stream.1.codec_name"), "pcm_s16le");
    EXPECT_EQ(field(probed, "streams.stream.1.sample_rate"), "48000");
    EXPECT_EQ(fs::file_size("tape.dv"), 275u * 144000u);

    const std::vector<int> numbers = frameNumbers("tape.dv");
    ASSERT_EQ(numbers.size(), 275u);
    for (int k = 0; k < 275; ++k)
        ASSERT_EQ(numbers[size_t(k)], k) << "DV frame " << k;
    // The 440 Hz tone, not silence, all through.
    const std::vector<int16_t> sound = decodeAudio("tape.dv", 48000);
    ASSERT_NEAR(double(sound.size()), 11.0 * 48000, 48.0);
    for (size_t second = 0; second < 11; ++second) {
        double sum = 0;
        for (size_t i = 0; i < 48000; ++i)
            sum += double(sound[second * 48000 + i]) * sound[second * 48000 + i];
        EXPECT_NEAR(std::sqrt(sum / 48000), 9000 / std::sqrt(2.0), 600) << "second " << second;
    }
}

// A 30 fps movie goes to NTSC tape one picture per frame, at 29.97.
TEST_F(PeltraTest, PrintsAThirtyFrameMovieAsNtsc)
{
    configure("tape.dv");
    PatternSource movie(160, 120, FrameRate{30, 1}, 60);
    ASSERT_EQ(print(movie, "ntsc.DV"), noErr);
    const auto probed = probe("tape.dv");
    EXPECT_EQ(field(probed, "streams.stream.0.height"), "480");
    EXPECT_EQ(field(probed, "streams.stream.0.r_frame_rate"), "30000/1001");
    EXPECT_EQ(field(probed, "streams.stream.0.nb_read_frames"), "60");
    const std::vector<int> numbers = frameNumbers("tape.dv");
    ASSERT_EQ(numbers.size(), 60u);
    for (int k = 0; k < 60; ++k)
        ASSERT_EQ(numbers[size_t(k)], k) << "DV frame " << k;
}

// Without 'drty' a second print plays the DV file made before, whatever the movie; with it the
// movie is exported and encoded again.
TEST_F(PeltraTest, SecondPrintReplaysTheDvFileUnlessForced)
{
    configure("tape.dv");
    PatternSource first(160, 120, FrameRate{25, 1}, 25);
    ASSERT_EQ(print(first, "again.DV"), noErr);
    PatternSource second(160, 120, FrameRate{25, 1}, 50);
    ASSERT_EQ(print(second, "again.DV"), noErr);
    EXPECT_EQ(second.framesRendered, 0);
    EXPECT_EQ(fs::file_size("tape.dv"), 25u * 144000u);

    configure("tape.dv", true);
    ASSERT_EQ(print(second, "again.DV"), noErr);
    EXPECT_EQ(second.framesRendered, 50);
    EXPECT_EQ(fs::file_size("tape.dv"), 50u * 144000u);
}

// With no FireWire device the FireWire choice falls back to the sink; with no sink either the
// print fails instead of reporting success.
TEST_F(PeltraTest, FireWireFallsBackToTheSinkAndNeitherIsAFailure)
{
    if (fireWireNodesPresent()) GTEST_SKIP() << "a FireWire device is connected";
    PatternSource movie(160, 120, FrameRate{25, 1}, 10);
    configure("", false, TransmitterKind::fireWireElseSink);
    EXPECT_EQ(print(movie, "fw.DV"), kExportConnectionErr);
    configure("fallback.dv", false, TransmitterKind::fireWireElseSink);
    EXPECT_EQ(print(movie, "fw.DV"), noErr);
    EXPECT_EQ(fs::file_size("fallback.dv"), 10u * 144000u);
}

// A named pipe gets the stream once a reader opens it; a reader that leaves early fails the
// print with an error, and the program lives on (no SIGPIPE).
TEST_F(PeltraTest, NamedPipeSinkAndAReaderThatLeaves)
{
    ASSERT_EQ(::mkfifo("pipe", 0600), 0);
    configure("pipe");
    PatternSource movie(160, 120, FrameRate{25, 1}, 20);
    size_t received = 0;
    std::thread reader([&] {
        const int fd = ::open("pipe", O_RDONLY);
        char buffer[65536];
        ssize_t n;
        while ((n = ::read(fd, buffer, sizeof buffer)) > 0)
            received += size_t(n);
        ::close(fd);
    });
    EXPECT_EQ(print(movie, "piped.DV"), noErr);
    reader.join();
    EXPECT_EQ(received, 20u * 144000u);

    std::thread leaver([] {
        const int fd = ::open("pipe", O_RDONLY);
        char buffer[1000];
        (void)::read(fd, buffer, sizeof buffer);
        ::close(fd);
    });
    EXPECT_EQ(print(movie, "piped.DV"), ioErr);
    leaver.join();
}

namespace {
struct AbortAt {
    double fraction;
    double last = 0;
    static OSErr proc(int16_t message, int16_t, Fixed percent, intptr_t refcon)
    {
        auto* self = reinterpret_cast<AbortAt*>(refcon);
        if (message != movieProgressUpdatePercent) return noErr;
        self->last = percent / 65536.0;
        return self->last >= self->fraction ? progressProcAborted : noErr;
    }
};
} // namespace

// An abort while the movie is exported or encoded leaves no half-made file that a later print
// would take for a finished one.
TEST_F(PeltraTest, AbortLeavesNoHalfMadeFiles)
{
    configure("tape.dv");
    PatternSource movie(160, 120, FrameRate{25, 1}, 50);
    AbortAt duringExport{0.3};
    m_components.call(m_printer, kMovieExportSetProgressProcSelect,
                      {intptr_t(&AbortAt::proc), intptr_t(&duringExport)});
    EXPECT_EQ(print(movie, "abort.DV"), progressProcAborted);
    EXPECT_FALSE(fs::exists("abort.DV.QT.AVI.temp.AVI"));
    EXPECT_FALSE(fs::exists("abort.DV.QT.AVI"));

    AbortAt duringEncode{0.7};
    m_components.call(m_printer, kMovieExportSetProgressProcSelect,
                      {intptr_t(&AbortAt::proc), intptr_t(&duringEncode)});
    EXPECT_EQ(print(movie, "abort.DV"), progressProcAborted);
    EXPECT_TRUE(fs::exists("abort.DV.QT.AVI.temp.AVI"));
    EXPECT_FALSE(fs::exists("abort.DV.QT.AVI"));
    EXPECT_FALSE(fs::exists("abort.DV.QT.AVI.part"));
    EXPECT_FALSE(fs::exists("tape.dv"));
}

namespace {
// Stands for the program's dialog host: its presence says that there are windows.
class WindowsPresent : public ExporterDialogHost {
public:
    bool runSettingsDialog(const MovieExporter&, AtomContainer&) override { return false; }
};
} // namespace

TEST_F(PeltraTest, SettingsDialogEditsTheSettings)
{
    configure("old.dv", false, TransmitterKind::fireWireElseSink, 25 << 16);
    WindowsPresent windows;
    bool cancelled = true;
    QTimer::singleShot(0, [] {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(dialog->windowTitle(), "Vonder Device");
        dialog->findChild<QComboBox*>("transmitter")->setCurrentIndex(1);
        EXPECT_EQ(dialog->findChild<QLineEdit*>("sinkPath")->text(), "old.dv");
        dialog->findChild<QLineEdit*>("sinkPath")->setText("/tmp/new.dv");
        EXPECT_EQ(dialog->findChild<QDoubleSpinBox*>("frameRate")->value(), 25.0);
        dialog->findChild<QDoubleSpinBox*>("frameRate")->setValue(29.97);
        EXPECT_EQ(dialog->findChild<QComboBox*>("quality")->currentText(), "High");
        dialog->findChild<QComboBox*>("quality")->setCurrentIndex(5);
        dialog->findChild<QCheckBox*>("forceNewFiles")->setChecked(true);
        dialog->accept();
    });
    ASSERT_EQ(m_components.call(m_printer, kMovieExportDoUserDialogSelect,
                                {0, intptr_t(&windows), intptr_t(&cancelled)}),
              noErr);
    EXPECT_FALSE(cancelled);
    Handle h;
    m_components.call(m_printer, kMovieExportGetSettingsAsAtomContainerSelect, {intptr_t(&h)});
    AtomContainer c;
    ASSERT_EQ(AtomContainer::fromHandle(h, c), noErr);
    uint32_t v = 0;
    EXPECT_TRUE(readAtomUInt(c, kTransmitterAtom, kTransmitterKindAtom, &v) && v == 1);
    EXPECT_EQ(readAtomText(c, kTransmitterAtom, kSinkPathAtom), "/tmp/new.dv");
    EXPECT_TRUE(readAtomUInt(c, kVideoSettingsAtom, kDirtyAtom, &v) && v == 1);
    TemporalSettings t;
    ASSERT_TRUE(readTemporalSettings(c, &t));
    EXPECT_EQ(t, (TemporalSettings{kCodecLosslessQuality, doubleToFixed(29.97), 24}));

    // Cancel keeps them; without a dialog host (no windows) nothing is shown.
    QTimer::singleShot(0, [] {
        if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
            dialog->findChild<QLineEdit*>("sinkPath")->setText("dropped.dv");
            dialog->reject();
        }
    });
    m_components.call(m_printer, kMovieExportDoUserDialogSelect,
                      {0, intptr_t(&windows), intptr_t(&cancelled)});
    EXPECT_TRUE(cancelled);
    ASSERT_EQ(
        m_components.call(m_printer, kMovieExportDoUserDialogSelect, {0, 0, intptr_t(&cancelled)}),
        noErr);
    EXPECT_FALSE(cancelled);
    m_components.call(m_printer, kMovieExportGetSettingsAsAtomContainerSelect, {intptr_t(&h)});
    ASSERT_EQ(AtomContainer::fromHandle(h, c), noErr);
    EXPECT_EQ(readAtomText(c, kTransmitterAtom, kSinkPathAtom), "/tmp/new.dv");
}
