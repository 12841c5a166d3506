// The animated GIF exporter (two passes: a colour histogram of the whole movie, then the
// pictures mapped to one median-cut palette) and the image sequence exporter.
#include "platform/movies/export/av_exporter.h"
#include "platform/movies/export/standard_exporters.h"
#include "platform/movies/png_writer.h"

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixfmt.h>
}

#include <algorithm>
#include <array>
#include <cstring>
#include <filesystem>
#include <limits>
#include <vector>

namespace zef::movies {

namespace {

// Colours are counted in 5-bit-per-channel bins, with their exact sums so that a bin's mean is
// the colour itself when only one colour falls into it.
constexpr int kBins = 32 * 32 * 32;
inline int binOf(uint32_t p)
{
    return int(((p >> 9) & 0x7C00) | ((p >> 6) & 0x3E0) | ((p >> 3) & 0x1F));
}

struct Histogram {
    std::vector<uint64_t> count = std::vector<uint64_t>(kBins, 0);
    std::vector<std::array<uint64_t, 3>> sum = std::vector<std::array<uint64_t, 3>>(kBins);
    void add(const Pixmap& p)
    {
        const uint32_t* px = p.data();
        const size_t n = size_t(p.width()) * size_t(p.height());
        for (size_t i = 0; i < n; ++i) {
            const int b = binOf(px[i]);
            ++count[b];
            sum[b][0] += redOf(px[i]);
            sum[b][1] += greenOf(px[i]);
            sum[b][2] += blueOf(px[i]);
        }
    }
    std::array<int, 3> mean(int b) const
    {
        const uint64_t c = std::max<uint64_t>(count[b], 1);
        return {int(sum[b][0] / c), int(sum[b][1] / c), int(sum[b][2] / c)};
    }
};

class HistogramSink : public ExportSink {
public:
    explicit HistogramSink(Histogram& h) : m_h(h) {}
    OSErr writeVideo(const Pixmap& picture, int64_t) override
    {
        m_h.add(picture);
        return noErr;
    }
    OSErr writeAudio(const int16_t*, int64_t) override { return noErr; }
    OSErr finish() override { return noErr; }

private:
    Histogram& m_h;
};

// Median cut over the occupied bins: the box holding the most pixels (with more than one bin)
// is split at the pixel median of its widest channel, until there are maxColours boxes.
std::vector<uint32_t> medianCut(const Histogram& h, size_t maxColours)
{
    struct Box {
        std::vector<int> bins;
        uint64_t pixels = 0;
    };
    std::vector<Box> boxes(1);
    for (int b = 0; b < kBins; ++b) {
        if (h.count[b]) {
            boxes[0].bins.push_back(b);
            boxes[0].pixels += h.count[b];
        }
    }
    if (boxes[0].bins.empty()) return {argb(255, 0, 0, 0)};
    while (boxes.size() < maxColours) {
        int pick = -1;
        for (size_t i = 0; i < boxes.size(); ++i)
            if (boxes[i].bins.size() > 1 && (pick < 0 || boxes[i].pixels > boxes[pick].pixels))
                pick = int(i);
        if (pick < 0) break;
        Box& box = boxes[pick];
        std::array<int, 3> lo{255, 255, 255}, hi{0, 0, 0};
        for (int b : box.bins) {
            const auto m = h.mean(b);
            for (int c = 0; c < 3; ++c) {
                lo[c] = std::min(lo[c], m[c]);
                hi[c] = std::max(hi[c], m[c]);
            }
        }
        int axis = 0;
        for (int c = 1; c < 3; ++c)
            if (hi[c] - lo[c] > hi[axis] - lo[axis]) axis = c;
        std::sort(box.bins.begin(), box.bins.end(),
                  [&](int a, int b) { return h.mean(a)[axis] < h.mean(b)[axis]; });
        uint64_t acc = 0;
        size_t cut = 1;
        for (size_t i = 0; i + 1 < box.bins.size(); ++i) {
            acc += h.count[box.bins[i]];
            cut = i + 1;
            if (acc * 2 >= box.pixels) break;
        }
        Box other;
        other.bins.assign(box.bins.begin() + long(cut), box.bins.end());
        box.bins.resize(cut);
        for (int b : other.bins)
            other.pixels += h.count[b];
        box.pixels -= other.pixels;
        boxes.push_back(std::move(other));
    }
    std::vector<uint32_t> palette;
    for (const Box& box : boxes) {
        std::array<uint64_t, 3> s{0, 0, 0};
        uint64_t n = 0;
        for (int b : box.bins) {
            for (int c = 0; c < 3; ++c)
                s[c] += h.sum[b][c];
            n += h.count[b];
        }
        n = std::max<uint64_t>(n, 1);
        palette.push_back(argb(255, uint8_t(s[0] / n), uint8_t(s[1] / n), uint8_t(s[2] / n)));
    }
    return palette;
}

// An exporter of pictures only, whose settings are the temporal settings alone.
class PictureOnlyExporter : public AvFileExporter {
public:
    PictureOnlyExporter(OSType subType, OSType extension, std::string typeName)
        : m_subType(subType), m_extension(extension), m_typeName(std::move(typeName))
    {
        m_videoCodecs = {};
        m_soundCodecs = {};
        m_settings = PictureOnlyExporter::defaultSettings();
    }
    OSType subType() const override { return m_subType; }
    OSType fileNameExtension() const override { return m_extension; }
    std::string shortFileTypeString() const override { return m_typeName; }
    AtomContainer defaultSettings() const override
    {
        AtomContainer c;
        writeTemporalSettings(c, TemporalSettings{});
        return c;
    }

private:
    OSType m_subType;
    OSType m_extension;
    std::string m_typeName;
};

class GIFExporter : public PictureOnlyExporter {
public:
    GIFExporter() : PictureOnlyExporter(kMovieExportGIF, fourcc("gif\0"), "GIF") {}
    OSErr exportToFile(ExportSource& source, const std::string& path) override
    {
        if (!validate(source)) return paramErr;
        const FrameRate rate = exportRate(source);
        Histogram histogram;
        HistogramSink sink(histogram);
        ExportPlan first;
        first.rate = rate;
        first.audio = false;
        first.fractionSpan = 0.5;
        first.sendClose = false;
        OSErr err = runExport(source, sink, first, m_progress);
        if (err != noErr) {
            m_progress.send(movieProgressClose, kFixed1);
            return err;
        }
        const std::vector<uint32_t> palette = medianCut(histogram, 256);
        std::vector<int16_t> lookup(kBins, -1);
        for (int b = 0; b < kBins; ++b)
            if (histogram.count[b]) lookup[b] = int16_t(nearest(palette, histogram.mean(b)));

        OutputSetup setup;
        if ((err = buildSetup(source, setup)) != noErr) return err;
        setup.video.convert = [palette, lookup](const Pixmap& p, AVFrame* f) mutable {
            if (p.width() != f->width || p.height() != f->height) return false;
            for (int y = 0; y < p.height(); ++y) {
                const uint32_t* src = p.row(y);
                uint8_t* dst = f->data[0] + size_t(y) * size_t(f->linesize[0]);
                for (int x = 0; x < p.width(); ++x) {
                    const int b = binOf(src[x]);
                    if (lookup[b] < 0)
                        lookup[b] = int16_t(
                            nearest(palette, {redOf(src[x]), greenOf(src[x]), blueOf(src[x])}));
                    dst[x] = uint8_t(lookup[b]);
                }
            }
            std::memset(f->data[1], 0, 1024);
            std::memcpy(f->data[1], palette.data(), palette.size() * 4);
            return true;
        };
        exportav::AvOutput output;
        err = output.open(path, setup.muxer, &setup.video, source.video().width,
                          source.video().height, nullptr, 0, 0);
        if (err != noErr) {
            m_progress.send(movieProgressClose, kFixed1);
            return err;
        }
        ExportPlan second;
        second.rate = rate;
        second.audio = false;
        second.fractionStart = 0.5;
        second.fractionSpan = 0.5;
        second.sendOpen = false;
        return runExport(source, output, second, m_progress);
    }

protected:
    OSErr buildSetup(const ExportSource& source, OutputSetup& out) const override
    {
        const VideoFormat vf = source.video();
        out.muxer = "gif";
        out.hasVideo = true;
        out.video.encoder = "gif";
        out.video.pixelFormat = AV_PIX_FMT_PAL8;
        out.video.width = vf.width;
        out.video.height = vf.height;
        out.video.rate = exportRate(source);
        out.video.tagColour = false;
        return noErr;
    }

private:
    static int nearest(const std::vector<uint32_t>& palette, std::array<int, 3> c)
    {
        int best = 0;
        int bestDistance = std::numeric_limits<int>::max();
        for (size_t i = 0; i < palette.size(); ++i) {
            const int dr = redOf(palette[i]) - c[0], dg = greenOf(palette[i]) - c[1],
                      db = blueOf(palette[i]) - c[2];
            const int d = 3 * dr * dr + 4 * dg * dg + 2 * db * db;
            if (d < bestDistance) {
                bestDistance = d;
                best = int(i);
            }
        }
        return best;
    }
};

// name.png → name_00001.png, name_00002.png, ...
class ImageSequenceSink : public ExportSink {
public:
    explicit ImageSequenceSink(std::string stem) : m_stem(std::move(stem)) {}
    OSErr writeVideo(const Pixmap& picture, int64_t index) override
    {
        char number[32];
        std::snprintf(number, sizeof number, "_%05lld.png", static_cast<long long>(index + 1));
        return writePng(picture, m_stem + number) ? noErr : ioErr;
    }
    OSErr writeAudio(const int16_t*, int64_t) override { return noErr; }
    OSErr finish() override { return noErr; }

private:
    std::string m_stem;
};

class ImageSequenceExporter : public PictureOnlyExporter {
public:
    ImageSequenceExporter()
        : PictureOnlyExporter(kMovieExportImageSequence, fourcc("png\0"), "Image Sequence")
    {
    }
    OSErr exportToFile(ExportSource& source, const std::string& path) override
    {
        if (!validate(source)) return paramErr;
        std::filesystem::path p(path);
        const std::string stem = (p.parent_path() / p.stem()).string();
        ImageSequenceSink sink(stem);
        ExportPlan plan;
        plan.rate = exportRate(source);
        plan.audio = false;
        return runExport(source, sink, plan, m_progress);
    }

protected:
    OSErr buildSetup(const ExportSource&, OutputSetup&) const override { return paramErr; }
};

} // namespace

std::unique_ptr<MovieExporter> makeGIFExporter() { return std::make_unique<GIFExporter>(); }
std::unique_ptr<MovieExporter> makeImageSequenceExporter()
{
    return std::make_unique<ImageSequenceExporter>();
}

} // namespace zef::movies
