// Export speed: frames per second of the conversion of a generated 1080p source with the movie
// exporter's default H.264 settings (and with Motion JPEG and ProRes for comparison).
// Usage: bench_export [frames] [folder]
#include "platform/movies/export/export_pipeline.h"
#include "platform/movies/export/standard_exporters.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

using namespace zef::movies;

namespace {

class MovingGradient : public ExportSource {
public:
    MovingGradient(int w, int h, int64_t frames) : m_w(w), m_h(h), m_frames(frames) {}
    VideoFormat video() const override { return {m_w, m_h, {25, 1}}; }
    AudioFormat audio() const override { return {48000, 2}; }
    int64_t frameCount() const override { return m_frames; }
    bool renderFrame(int64_t index, Pixmap& out) override
    {
        out.resize(m_w, m_h);
        for (int y = 0; y < m_h; ++y) {
            uint32_t* row = out.row(y);
            for (int x = 0; x < m_w; ++x)
                row[x] =
                    argb(255, uint8_t(x + index * 4), uint8_t(y + index), uint8_t((x ^ y) >> 2));
        }
        return true;
    }
    bool renderAudio(int64_t first, int64_t count, int16_t* out) override
    {
        for (int64_t i = 0; i < count; ++i)
            out[i * 2] = out[i * 2 + 1] = int16_t(((first + i) % 100) * 300);
        return true;
    }

private:
    int m_w, m_h;
    int64_t m_frames;
};

} // namespace

int main(int argc, char** argv)
{
    const int64_t frames = argc > 1 ? std::atoll(argv[1]) : 100;
    const std::string dir = argc > 2 ? argv[2] : std::filesystem::temp_directory_path().string();
    struct Run {
        const char* label;
        OSType codec;
    };
    for (const Run& run :
         {Run{"H.264 veryfast CRF 23 + AAC", fourcc("avc1")},
          Run{"Motion JPEG + AAC", fourcc("jpeg")}, Run{"ProRes standard + AAC", fourcc("apcn")}}) {
        MovingGradient source(1920, 1080, frames);
        auto exporter = makeStandardExporter(kMovieExportMovie);
        AtomContainer s = exporter->settings();
        writeAtomUInt32(s, kVideoSettingsAtom, fourcc("codc"), run.codec);
        exporter->setSettings(s);
        const std::string path = dir + "/bench_export.mov";
        const auto start = std::chrono::steady_clock::now();
        const OSErr err =
            convertToFile(source, *exporter, path, createMovieFileDeleteCurFile, nullptr, 0);
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::printf("1920x1080 %-28s %lld frames: %.2f s, %.1f fps (result %d)\n", run.label,
                    static_cast<long long>(frames), seconds, double(frames) / seconds, int(err));
        std::filesystem::remove(path);
    }
    return 0;
}
