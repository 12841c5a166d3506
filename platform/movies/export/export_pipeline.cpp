#include "platform/movies/export/export_pipeline.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

namespace zef::movies {

namespace {

FrameRate effectiveRate(const ExportSource& source, FrameRate rate)
{
    if (rate.valid()) return rate;
    const FrameRate s = source.video().rate;
    return s.valid() ? s : FrameRate{25, 1};
}

// Samples of the source's sound that belong before export frame index.
int64_t samplesBefore(FrameRate rate, int sampleRate, int64_t index)
{
    return int64_t((__int128(index) * rate.den * sampleRate) / rate.num);
}

// Spare pictures kept for reuse: enough for the queue, the one being encoded and the one being
// drawn.
constexpr size_t kSparePictures = kQueueFrames + 2;

struct Item {
    int64_t index = 0;
    bool hasPicture = false;
    bool isPrepared = false; // the picture is in prepared, else in picture
    Pixmap picture;
    PreparedPicture prepared;
    std::vector<int16_t> audio;
    int64_t audioCount = 0;
};

} // namespace

int64_t exportFrameCount(const ExportSource& source, FrameRate rate)
{
    const FrameRate s = effectiveRate(source, {});
    const FrameRate r = effectiveRate(source, rate);
    const int64_t frames = std::max<int64_t>(0, source.frameCount());
    if (s == r) return frames;
    const __int128 num = __int128(frames) * s.den * r.num;
    const __int128 den = __int128(s.num) * r.den;
    return int64_t((num + den - 1) / den);
}

int64_t sourceFrameFor(const ExportSource& source, FrameRate rate, int64_t index)
{
    const FrameRate s = effectiveRate(source, {});
    const FrameRate r = effectiveRate(source, rate);
    const int64_t frames = source.frameCount();
    if (s == r) return std::min(index, frames - 1);
    const __int128 v = (__int128(index) * s.num * r.den) / (__int128(s.den) * r.num);
    return std::min<int64_t>(int64_t(v), frames - 1);
}

OSErr runExport(ExportSource& source, ExportSink& sink, const ExportPlan& plan,
                const ExportProgress& progress)
{
    const FrameRate rate = effectiveRate(source, plan.rate);
    const VideoFormat vf = source.video();
    const AudioFormat af = source.audio();
    const bool video = plan.video && vf.width > 0 && vf.height > 0;
    const bool audio = plan.audio && af.sampleRate > 0 && af.channels > 0;
    const int64_t frames = exportFrameCount(source, rate);
    // The sound lasts as long as the exported pictures (the source's sound past its end is
    // silence), so that muxers that pair sound with every picture get it for the last one too.
    const int64_t totalSamples = audio ? samplesBefore(rate, af.sampleRate, frames) : 0;
    const bool loop = plan.loop && progress.proc != nullptr && frames > 0;
    const int64_t first = loop ? 0 : std::clamp<int64_t>(plan.firstFrame, 0, frames);
    const int64_t end =
        loop || plan.endFrame < 0 ? frames : std::clamp(plan.endFrame, first, frames);

    std::mutex mutex;
    std::condition_variable changed;
    std::deque<Item> queue;
    // Pictures the encoder is done with, drawn into again: a render of large pictures keeps
    // reusing the same few buffers instead of allocating one per frame.
    std::vector<Pixmap> spare;
    std::vector<PreparedPicture> sparePrepared;
    bool producing = true;
    bool stopNow = false;
    OSErr sinkError = noErr;

    std::thread worker([&] {
        OSErr err = noErr;
        for (;;) {
            Item item;
            {
                std::unique_lock lock(mutex);
                changed.wait(lock, [&] { return !queue.empty() || !producing || stopNow; });
                if (stopNow || queue.empty()) break;
                item = std::move(queue.front());
                queue.pop_front();
            }
            changed.notify_all();
            if (item.hasPicture)
                err = item.isPrepared ? sink.writePrepared(item.prepared, item.index)
                                      : sink.writeVideo(item.picture, item.index);
            if (err == noErr && item.audioCount > 0)
                err = sink.writeAudio(item.audio.data(), item.audioCount);
            if (err != noErr) break;
            if (item.hasPicture) {
                std::lock_guard lock(mutex);
                if (item.isPrepared && sparePrepared.size() < kSparePictures)
                    sparePrepared.push_back(std::move(item.prepared));
                if (!item.isPrepared && spare.size() < kSparePictures)
                    spare.push_back(std::move(item.picture));
            }
        }
        const OSErr fin = sink.finish();
        if (err == noErr) err = fin;
        std::lock_guard lock(mutex);
        sinkError = err;
        if (err != noErr) stopNow = true;
        producing = false;
        changed.notify_all();
    });

    OSErr result = noErr;
    if (plan.sendOpen) result = progress.send(movieProgressOpen, 0);
    const auto start = std::chrono::steady_clock::now();
    int64_t lastSourceFrame = -1;
    // The last picture queued, kept only while the next frame repeats it.
    Item previous;
    // Where pictures are drawn while the sink prepares them: one picture, drawn into again and
    // again, as only the prepared form is queued.
    Pixmap canvas;
    auto sparePicture = [&] {
        std::lock_guard lock(mutex);
        if (spare.empty()) return Pixmap();
        Pixmap p = std::move(spare.back());
        spare.pop_back();
        return p;
    };
    auto sparePreparedPicture = [&] {
        std::lock_guard lock(mutex);
        if (sparePrepared.empty()) return PreparedPicture();
        PreparedPicture p = std::move(sparePrepared.back());
        sparePrepared.pop_back();
        return p;
    };
    for (int64_t i = first; (loop || i < end) && result == noErr; ++i) {
        const int64_t k = loop ? i % frames : i; // the frame within the pass
        {
            std::lock_guard lock(mutex);
            if (stopNow) break;
        }
        if (plan.realTime) {
            const auto due = start + std::chrono::microseconds(int64_t(
                                         (__int128(i - first) * rate.den * 1000000) / rate.num));
            std::this_thread::sleep_until(due);
        }
        Item item;
        item.index = i - first;
        if (video) {
            const int64_t sf = sourceFrameFor(source, rate, k);
            if (sf != lastSourceFrame) {
                Pixmap drawn = canvas.isEmpty() ? sparePicture() : std::exchange(canvas, Pixmap());
                if (!source.renderFrame(sf, drawn) || drawn.isEmpty()) {
                    result = kExportSourceErr;
                    break;
                }
                lastSourceFrame = sf;
                item.prepared = sparePreparedPicture();
                item.isPrepared = sink.preparePicture(drawn, item.prepared);
                if (item.isPrepared)
                    canvas = std::move(drawn);
                else
                    item.picture = std::move(drawn);
            } else if (previous.isPrepared) {
                item.prepared = sparePreparedPicture();
                item.prepared = previous.prepared; // reuses the spare's buffer
                item.isPrepared = true;
            } else {
                item.picture = sparePicture();
                item.picture = previous.picture;
            }
            // Export rates above the source's show a picture several times.
            if (sourceFrameFor(source, rate, (k + 1) % frames) == sf) {
                previous.isPrepared = item.isPrepared;
                if (item.isPrepared)
                    previous.prepared = item.prepared;
                else
                    previous.picture = item.picture;
            }
            item.hasPicture = true;
        }
        if (audio) {
            const int64_t from = std::min(samplesBefore(rate, af.sampleRate, k), totalSamples);
            const int64_t to =
                k + 1 == frames ? totalSamples
                                : std::min(samplesBefore(rate, af.sampleRate, k + 1), totalSamples);
            if (to > from) {
                item.audio.assign(size_t(to - from) * size_t(af.channels), 0);
                if (!source.renderAudio(from, to - from, item.audio.data())) {
                    result = kExportSourceErr;
                    break;
                }
                item.audioCount = to - from;
            }
        }
        {
            std::unique_lock lock(mutex);
            changed.wait(lock, [&] { return int(queue.size()) < kQueueFrames || stopNow; });
            if (stopNow) break;
            queue.push_back(std::move(item));
        }
        changed.notify_all();
        const double done =
            loop ? double(k + 1) / double(frames) : double(i + 1 - first) / double(end - first);
        const double fraction = plan.fractionStart + plan.fractionSpan * done;
        result = progress.send(movieProgressUpdatePercent,
                               Fixed(std::clamp(fraction, 0.0, 1.0) * 65536.0));
    }
    {
        std::lock_guard lock(mutex);
        producing = false;
        if (result != noErr) {
            // Aborted or failed: what is queued is dropped; the sink still closes its file.
            queue.clear();
            stopNow = true;
        }
    }
    changed.notify_all();
    worker.join();
    if (plan.sendClose) progress.send(movieProgressClose, kFixed1);
    if (sinkError != noErr) return sinkError;
    return result;
}

OSErr prepareOutputPath(const std::string& path, uint32_t flags)
{
    namespace fs = std::filesystem;
    if (path.empty() || path.back() == '/' || path.find('\0') != std::string::npos) return paramErr;
    std::error_code ec;
    const fs::path p(path);
    const fs::path folder = p.has_parent_path() ? p.parent_path() : fs::path(".");
    const fs::file_status fst = fs::status(folder, ec);
    if (!fs::exists(fst)) {
        // A missing folder; when something on the way is a file the path cannot be a folder.
        for (fs::path up = folder; up.has_parent_path() && up != up.parent_path();
             up = up.parent_path()) {
            const fs::file_status st = fs::status(up, ec);
            if (fs::exists(st)) return fs::is_directory(st) ? paramErr : dirNFErr;
        }
        return paramErr;
    }
    if (!fs::is_directory(fst)) return dirNFErr;
    const fs::file_status target = fs::symlink_status(p, ec);
    if (fs::is_directory(target)) return paramErr;
    if (fs::exists(target)) {
        if (!(flags & createMovieFileDeleteCurFile)) return dupFNErr;
        if (!fs::remove(p, ec) || ec) return ioErr;
    }
    return noErr;
}

OSErr convertToFile(ExportSource& source, MovieExporter& exporter, const std::string& path,
                    uint32_t flags, MovieProgressProc progressProc, intptr_t refcon)
{
    const OSErr err = prepareOutputPath(path, flags);
    if (err != noErr) return err;
    if (!exporter.validate(source)) return paramErr;
    exporter.setProgressProc(progressProc, refcon);
    const OSErr result = exporter.exportToFile(source, path);
    exporter.setProgressProc(nullptr, 0);
    return result;
}

OSErr convertToFile(ExportSource& source, ComponentManager& manager, ComponentInstance exporter,
                    const std::string& path, uint32_t flags, MovieProgressProc progressProc,
                    intptr_t refcon)
{
    ComponentInfo info;
    if (!manager.isOpen(exporter)) return badComponentInstance;
    if (manager.getComponentInfo(manager.componentOf(exporter), info) != noErr ||
        info.description.componentType != kMovieExportType)
        return badComponentType;
    const OSErr err = prepareOutputPath(path, flags);
    if (err != noErr) return err;
    bool valid = true;
    const ComponentResult v =
        manager.call(exporter, kMovieExportValidateSelect, {intptr_t(&source), intptr_t(&valid)});
    if (v == noErr && !valid) return paramErr;
    ComponentResult r =
        manager.call(exporter, kMovieExportSetProgressProcSelect, {intptr_t(progressProc), refcon});
    if (r != noErr && !isBadComponentSelector(r)) return r;
    r = manager.call(exporter, kMovieExportToFileSelect,
                     {intptr_t(&source), intptr_t(path.c_str())});
    manager.call(exporter, kMovieExportSetProgressProcSelect, {0, 0});
    if (isBadComponentSelector(r)) return badComponentType;
    return r;
}

} // namespace zef::movies
