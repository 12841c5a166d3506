#include "platform/movies/sound_media_reader.h"

#include "platform/movies/media_file.h"
#include "platform/movies/movie_file.h"
#include "platform/movies/sound_decoder.h"
#include "platform/movies/sound_decompressor.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace zef::movies {

namespace {

constexpr int64_t kBlockFrames = 4096;

} // namespace

void mapChannels(const float* in, int inChannels, float* out, int outChannels)
{
    if (inChannels == outChannels) {
        std::memcpy(out, in, size_t(inChannels) * sizeof(float));
    } else if (inChannels == 1) {
        for (int c = 0; c < outChannels; ++c)
            out[c] = in[0];
    } else if (outChannels == 1) {
        float sum = 0;
        for (int c = 0; c < inChannels; ++c)
            sum += in[c];
        out[0] = sum / float(inChannels);
    } else if (outChannels > inChannels) {
        for (int c = 0; c < outChannels; ++c)
            out[c] = in[c % inChannels];
    } else {
        for (int c = 0; c < outChannels; ++c) {
            float sum = 0;
            int n = 0;
            for (int k = c; k < inChannels; k += outChannels, ++n)
                sum += in[k];
            out[c] = sum / float(n);
        }
    }
}

// ---- Decoders of file tracks

struct SoundMediaReader::Decoder {
    std::shared_ptr<const MediaFile> file;
    size_t track = 0;
    std::unique_ptr<SoundDecoder> decoder;
    int channels = 1;
    int64_t next = 0;      // the frame after the last one delivered
    int64_t tailStart = 0; // tail holds the frames [tailStart, next)
    std::vector<int16_t> tail;
    uint64_t lastUse = 0;
    uint64_t lastMix = 0;

    // Frames [first, first + count) into out (count × channels).
    bool read(int64_t first, int64_t count, int16_t* out)
    {
        const size_t ch = size_t(channels);
        if (first >= tailStart && first < next) {
            const int64_t n = std::min(count, next - first);
            std::memcpy(out, tail.data() + size_t(first - tailStart) * ch,
                        size_t(n) * ch * sizeof(int16_t));
            first += n;
            out += size_t(n) * ch;
            count -= n;
        }
        if (count <= 0) return true;
        const bool ok = decoder->readFrames(first, count, out);
        // Keep the last kTailFrames frames delivered: [tailStart, next).
        const int64_t keep = std::min(count, kTailFrames);
        if (first != next || count >= kTailFrames) {
            tail.clear();
            tailStart = first + count - keep;
        }
        tail.insert(tail.end(), out + size_t(count - keep) * ch, out + size_t(count) * ch);
        next = first + count;
        if (next - tailStart > kTailFrames) {
            const int64_t drop = next - tailStart - kTailFrames;
            tail.erase(tail.begin(), tail.begin() + ptrdiff_t(size_t(drop) * ch));
            tailStart += drop;
        }
        return ok;
    }
};

// ---- Decompressor instances

struct SoundMediaReader::Decompressor {
    std::weak_ptr<Media> media;
    const Media* key = nullptr;
    int32_t descriptionIndex = 0;
    ComponentInstance instance = 0;
    OSErr openError = noErr; // set when no component accepted the description
    int32_t rate = 0;
    int32_t channels = 0;
    int64_t lastSample = -1;
    OSErr lastError = noErr;
    std::vector<int16_t> pcm;
    int64_t frames = 0;
    uint64_t lastUse = 0;
};

// A sample description as the reader plays it.
struct SoundMediaReader::Format {
    enum class Kind { pcm16le, pcm16be, pcm8s, pcm8u, decompressed };
    Kind kind = Kind::pcm16le;
    int channels = 1;
    int bytesPerFrame = 2;
    double rate = 0;       // frames per second of the sample data
    bool sameRate = false; // rate equals the output rate: frames map one to one
    Decompressor* decompressor = nullptr;
};

struct SoundMediaReader::FormatEntry {
    std::weak_ptr<Media> media;
    const Media* key = nullptr;
    int32_t index = 0;
    OSErr err = noErr;
    Format format;
};

SoundMediaReader::SoundMediaReader(int32_t rate, int32_t channels, ComponentManager* components)
    : m_rate(rate), m_channels(channels), m_components(components)
{
}

SoundMediaReader::~SoundMediaReader() { reset(); }

void SoundMediaReader::reset()
{
    for (auto& d : m_decompressors)
        if (d->instance && m_components) m_components->closeComponent(d->instance);
    m_decompressors.clear();
    m_decoders.clear();
    m_failed.clear();
    m_windowStorage.reset();
    m_window.clear();
    m_formats.clear();
    m_openedByPath.clear();
}

int64_t SoundMediaReader::decoderSeeks() const
{
    int64_t n = 0;
    for (const auto& d : m_decoders)
        n += d->decoder->seekCount();
    return n;
}

OSErr SoundMediaReader::render(const std::shared_ptr<Media>& media, int64_t first, int64_t count,
                               float* out)
{
    if (!media || media->sampleCount() == 0 || count <= 0) return noErr;
    const int64_t ms = media->timeScale();
    const int64_t end = first + count;
    int64_t s = std::max<int64_t>(first, 0);
    if (s >= end) return noErr;
    int64_t j = media->sampleIndexAtTime(floorDivWide(__int128(s) * ms, m_rate));
    if (j < 0) return noErr;
    OSErr result = noErr;
    const size_t ch = size_t(m_channels);
    while (s < end && j < media->sampleCount()) {
        const Sample* smp = media->sample(j);
        const TimeValue start = media->sampleStart(j);
        int64_t segEnd = std::min(end, ceilDivWide(__int128(start + smp->duration) * m_rate, ms));
        if (segEnd <= s) {
            ++j;
            continue;
        }
        OSErr err = noErr;
        if (smp->data.kind == SampleData::Kind::FileStream) {
            // Media time t of this sample plays the file at t + fileTime − start.
            auto deltaOf = [&](const Sample& x, TimeValue xStart) {
                return std::clamp<int64_t>(
                    floorDivWide(__int128(x.data.fileTime - xStart) * m_rate * 2 + ms, 2 * ms),
                    -(INT64_C(1) << 60), INT64_C(1) << 60);
            };
            const int64_t delta = deltaOf(*smp, start);
            int64_t k = j + 1;
            for (; segEnd < end && k < media->sampleCount(); ++k) {
                const Sample* nx = media->sample(k);
                const TimeValue nxStart = media->sampleStart(k);
                if (nx->data.kind != SampleData::Kind::FileStream ||
                    nx->data.file != smp->data.file || nx->data.filePath != smp->data.filePath ||
                    nx->data.stream != smp->data.stream || deltaOf(*nx, nxStart) != delta)
                    break;
                segEnd = std::min(end, ceilDivWide(__int128(nxStart + nx->duration) * m_rate, ms));
            }
            err = renderFile(*smp, delta, s, segEnd - s, out + size_t(s - first) * ch);
            j = k;
        } else {
            err = renderPcm(media, j, s, segEnd - s, out + size_t(s - first) * ch);
            ++j;
        }
        if (err != noErr && result == noErr) result = err;
        s = segEnd;
    }
    return result;
}

std::shared_ptr<MediaFile> SoundMediaReader::fileOf(const Sample& sample)
{
    if (sample.data.file) return sample.data.file;
    if (sample.data.filePath.empty()) return nullptr;
    auto it = m_openedByPath.find(sample.data.filePath);
    if (it != m_openedByPath.end()) return it->second;
    if (m_openedByPath.size() >= 64) m_openedByPath.clear();
    MediaOpenResult r = MediaFile::open(sample.data.filePath);
    return m_openedByPath[sample.data.filePath] =
               r.status == MediaOpenStatus::ok ? r.file : nullptr;
}

SoundMediaReader::Decoder*
SoundMediaReader::decoderFor(const std::shared_ptr<const MediaFile>& file, size_t track,
                             int64_t first)
{
    for (const auto& f : m_failed)
        if (f.first == file && f.second == track) return nullptr;
    // A decoder that delivered the frames just before (exact), or one a little behind that can
    // decode on to them (near) unless another read of this mix uses it already.
    Decoder* exact = nullptr;
    Decoder* near = nullptr;
    Decoder* oldest = nullptr;
    int same = 0;
    for (auto& d : m_decoders) {
        if (d->file != file || d->track != track) continue;
        ++same;
        if (first >= d->tailStart && first <= d->next)
            exact = d.get();
        else if (first > d->next && first - d->next <= m_rate / 2 && d->lastMix != m_mix)
            near = d.get();
        if (!oldest || d->lastUse < oldest->lastUse) oldest = d.get();
    }
    Decoder* chosen = exact ? exact : near;
    if (!chosen && same >= kMaxDecodersPerTrack) chosen = oldest;
    if (!chosen) {
        if (m_decoders.size() >= kMaxDecoders) {
            auto lru = std::min_element(
                m_decoders.begin(), m_decoders.end(),
                [](const auto& a, const auto& b) { return a->lastUse < b->lastUse; });
            m_decoders.erase(lru);
        }
        auto d = std::make_unique<Decoder>();
        d->file = file;
        d->track = track;
        d->channels = std::clamp(file->tracks()[track].channels, 1, 8);
        d->decoder = std::make_unique<SoundDecoder>(file, track, m_rate, d->channels);
        if (!d->decoder->isValid()) {
            if (m_failed.size() >= 64) m_failed.clear();
            m_failed.emplace_back(file, track);
            return nullptr;
        }
        chosen = d.get();
        m_decoders.push_back(std::move(d));
    }
    chosen->lastUse = ++m_clock;
    chosen->lastMix = m_mix;
    return chosen;
}

OSErr SoundMediaReader::renderFile(const Sample& sample, int64_t delta, int64_t first,
                                   int64_t count, float* out)
{
    std::shared_ptr<MediaFile> file = fileOf(sample);
    if (!file) return badDataRefIndex;
    size_t track = file->tracks().size();
    for (size_t k = 0; k < file->tracks().size(); ++k) {
        const TrackInfo& t = file->tracks()[k];
        if (t.streamIndex == sample.data.stream && t.mediaType == kSoundMediaType) {
            track = k;
            break;
        }
    }
    if (track == file->tracks().size()) return badDataRefIndex;
    OSErr result = noErr;
    const size_t ch = size_t(m_channels);
    float frame[8];
    for (int64_t done = 0; done < count;) {
        const int64_t n = std::min(kBlockFrames, count - done);
        Decoder* d = decoderFor(file, track, first + delta + done);
        if (!d) return ioErr;
        const size_t dch = size_t(d->channels);
        m_pcm.resize(size_t(n) * dch);
        if (!d->read(first + delta + done, n, m_pcm.data()) && result == noErr) result = ioErr;
        float* dst = out + size_t(done) * ch;
        const int16_t* src = m_pcm.data();
        if (dch == ch) {
            for (size_t i = 0; i < size_t(n) * ch; ++i)
                dst[i] = float(src[i]);
        } else {
            for (int64_t i = 0; i < n; ++i, src += dch, dst += ch) {
                for (size_t c = 0; c < dch; ++c)
                    frame[c] = float(src[c]);
                mapChannels(frame, int(dch), dst, int(ch));
            }
        }
        done += n;
    }
    return result;
}

OSErr SoundMediaReader::parseFormat(const Media& media, int32_t descriptionIndex, Format& f) const
{
    const Handle h = media.sampleDescription(descriptionIndex);
    if (h.isNull()) return invalidSampleDescIndex;
    std::optional<SoundDescription> d = SoundDescription::fromHandle(h);
    if (!d) return invalidSampleDescription;
    f = Format{};
    const uint32_t format = d->dataFormat;
    const bool pcm =
        format == fourcc("sowt") || format == fourcc("twos") || format == fourcc("raw ");
    if (!pcm) {
        f.kind = Format::Kind::decompressed;
        return noErr;
    }
    if (d->numChannels < 1 || d->numChannels > 64) return invalidSampleDescription;
    f.channels = d->numChannels;
    if (d->sampleSize == 16 && format != fourcc("raw "))
        f.kind = format == fourcc("sowt") ? Format::Kind::pcm16le : Format::Kind::pcm16be;
    else if (d->sampleSize == 8)
        f.kind = format == fourcc("raw ") ? Format::Kind::pcm8u : Format::Kind::pcm8s;
    else
        return invalidSampleDescription;
    f.bytesPerFrame = f.channels * (d->sampleSize / 8);
    f.rate = d->sampleRate ? d->rateHz() : double(media.timeScale());
    f.sameRate = f.rate == double(m_rate);
    return noErr;
}

OSErr SoundMediaReader::formatOf(const std::shared_ptr<Media>& media, int32_t descriptionIndex,
                                 Format& f)
{
    // Descriptions are parsed once per media and index (reading one copies it).
    FormatEntry* entry = nullptr;
    for (FormatEntry& e : m_formats) {
        if (e.key != media.get() || e.index != descriptionIndex) continue;
        if (e.media.lock() == media) {
            entry = &e;
            break;
        }
        e.key = nullptr; // a media that went away, its address now reused
    }
    if (!entry) {
        std::erase_if(m_formats, [](const FormatEntry& e) { return e.key == nullptr; });
        if (m_formats.size() >= kMaxFormats) m_formats.clear();
        FormatEntry e;
        e.media = media;
        e.key = media.get();
        e.index = descriptionIndex;
        e.err = parseFormat(*media, descriptionIndex, e.format);
        m_formats.push_back(e);
        entry = &m_formats.back();
    }
    if (entry->err != noErr) return entry->err;
    f = entry->format;
    if (f.kind != Format::Kind::decompressed) return noErr;
    Decompressor* dec = decompressorFor(media, descriptionIndex);
    if (dec->openError != noErr) return dec->openError;
    f.channels = dec->channels;
    f.bytesPerFrame = 2 * dec->channels;
    f.rate = dec->rate;
    f.sameRate = dec->rate == m_rate;
    f.decompressor = dec;
    return noErr;
}

SoundMediaReader::Decompressor*
SoundMediaReader::decompressorFor(const std::shared_ptr<Media>& media, int32_t descriptionIndex)
{
    for (auto& d : m_decompressors) {
        if (d->key == media.get() && d->descriptionIndex == descriptionIndex) {
            if (d->media.lock() == media) {
                d->lastUse = ++m_clock;
                return d.get();
            }
            // A media that went away and whose address was reused: start afresh.
            if (d->instance && m_components) m_components->closeComponent(d->instance);
            d->instance = 0;
            d->key = nullptr;
        }
    }
    std::erase_if(m_decompressors, [](const auto& d) { return d->key == nullptr; });
    if (m_decompressors.size() >= kMaxDecompressors) {
        auto lru =
            std::min_element(m_decompressors.begin(), m_decompressors.end(),
                             [](const auto& a, const auto& b) { return a->lastUse < b->lastUse; });
        if ((*lru)->instance && m_components) m_components->closeComponent((*lru)->instance);
        m_decompressors.erase(lru);
    }
    auto d = std::make_unique<Decompressor>();
    d->media = media;
    d->key = media.get();
    d->descriptionIndex = descriptionIndex;
    d->lastUse = ++m_clock;
    d->openError = cantOpenHandler;
    const Handle description = media->sampleDescription(descriptionIndex);
    std::optional<SoundDescription> sd = SoundDescription::fromHandle(description);
    if (m_components && sd) {
        ComponentDescription looking{kSoundDecompressorType, sd->dataFormat, 0, 0, 0};
        for (Component c = m_components->findNextComponent(0, looking); c;
             c = m_components->findNextComponent(c, looking)) {
            ComponentInstance inst = 0;
            if (m_components->openComponent(c, &inst) != noErr) continue;
            SoundDecompressorBegin begin{};
            begin.size = sizeof begin;
            begin.description = description.data();
            begin.descriptionSize = uint32_t(description.size());
            begin.mediaTimeScale = media->timeScale();
            begin.outputRate = m_rate;
            begin.outputChannels = m_channels;
            ComponentResult r =
                m_components->call(inst, kSoundDecompressorBeginSelect, {intptr_t(&begin)});
            if (r == noErr && begin.outputRate >= 1 && begin.outputRate <= 768000 &&
                begin.outputChannels >= 1 && begin.outputChannels <= 8) {
                d->instance = inst;
                d->rate = begin.outputRate;
                d->channels = begin.outputChannels;
                d->openError = noErr;
                break;
            }
            m_components->closeComponent(inst);
            if (r != noErr && !isBadComponentSelector(r)) d->openError = r;
        }
    }
    m_decompressors.push_back(std::move(d));
    return m_decompressors.back().get();
}

OSErr SoundMediaReader::decompress(Decompressor& d, const Media& media, int64_t index)
{
    if (d.lastSample == index) return d.lastError;
    const Sample* smp = media.sample(index);
    const int64_t capacity =
        std::min(kMaxDecompressedFrames,
                 ceilDivWide(__int128(smp->duration) * d.rate, media.timeScale()) + 1);
    OSErr err = media.getSampleData(index, m_bytes);
    d.pcm.assign(size_t(capacity) * size_t(d.channels), 0);
    d.frames = 0;
    if (err == noErr) {
        SoundDecompressorDecode dec{};
        dec.size = sizeof dec;
        dec.data = m_bytes.data();
        dec.dataSize = uint32_t(m_bytes.size());
        dec.discontinuity = d.lastSample < 0 || index != d.lastSample + 1;
        dec.sampleTime = media.sampleStart(index);
        dec.sampleDuration = smp->duration;
        dec.mediaTimeScale = media.timeScale();
        dec.frameCapacity = uint32_t(capacity);
        dec.buffer = d.pcm.data();
        ComponentResult r =
            m_components->call(d.instance, kSoundDecompressorDecodeSelect, {intptr_t(&dec)});
        if (r == noErr)
            d.frames = std::min<int64_t>(dec.framesWritten, capacity);
        else
            err = isBadComponentSelector(r) ? cantOpenHandler : r;
    }
    d.lastSample = index;
    d.lastError = err;
    return err;
}

bool SoundMediaReader::inWindow(const SampleData& d) const
{
    return d.storage && d.storage == m_windowStorage && d.offset >= m_windowOffset &&
           d.offset + d.size <= m_windowOffset + int64_t(m_window.size());
}

OSErr SoundMediaReader::storageBytes(const Media& media, int64_t index, const uint8_t** data)
{
    const SampleData& d = media.sample(index)->data;
    if (!d.storage) return badDataRefIndex;
    // The window must also hold the next sample when it follows in the file, for the
    // interpolation that reaches into it.
    const Sample* next = media.sample(index + 1);
    const bool nextFollows =
        next && next->data.kind == SampleData::Kind::Storage && next->data.storage == d.storage &&
        next->data.offset == d.offset + d.size && next->data.size <= kStorageWindow;
    if (!inWindow(d) || (nextFollows && !inWindow(next->data))) {
        // Read this sample with the samples after it that follow it in the file, up to
        // kStorageWindow bytes: sound stored one frame per sample is read in blocks.
        int64_t end = d.offset + d.size;
        for (int64_t k = index + 1; k < media.sampleCount() && end - d.offset < kStorageWindow;
             ++k) {
            const SampleData& nx = media.sample(k)->data;
            if (nx.kind != SampleData::Kind::Storage || nx.storage != d.storage ||
                nx.offset != end || nx.size > kStorageWindow)
                break;
            end += nx.size;
        }
        m_windowStorage.reset();
        if (OSErr err = d.storage->read(d.offset, end - d.offset, m_window)) return err;
        m_windowStorage = d.storage;
        m_windowOffset = d.offset;
    }
    *data = m_window.data() + (d.offset - m_windowOffset);
    return noErr;
}

OSErr SoundMediaReader::renderPcm(const std::shared_ptr<Media>& media, int64_t index, int64_t first,
                                  int64_t count, float* out)
{
    const Sample* smp = media->sample(index);
    Format f;
    if (OSErr err = formatOf(media, smp->descriptionIndex, f)) return err;
    // The sample's frames.
    const uint8_t* data = nullptr;
    int64_t frames = 0;
    const int16_t* decoded = nullptr;
    if (f.kind == Format::Kind::decompressed) {
        OSErr err = decompress(*f.decompressor, *media, index);
        if (err != noErr) return err;
        decoded = f.decompressor->pcm.data();
        frames = f.decompressor->frames;
    } else if (smp->data.kind == SampleData::Kind::Memory && smp->data.block) {
        data = smp->data.block->data() + smp->data.offset;
        frames = smp->data.size / f.bytesPerFrame;
    } else if (smp->data.kind == SampleData::Kind::Storage) {
        if (OSErr err = storageBytes(*media, index, &data)) return err;
        frames = smp->data.size / f.bytesPerFrame;
    } else {
        return badDataRefIndex;
    }
    if (frames <= 0) return noErr;

    m_frame.resize(size_t(f.channels) * 2);
    float* a = m_frame.data();
    float* b = a + f.channels;
    auto loadFrom = [&](const uint8_t* bytes, int64_t i, float* dst) {
        if (decoded) {
            const int16_t* p = decoded + size_t(i) * size_t(f.channels);
            for (int c = 0; c < f.channels; ++c)
                dst[c] = float(p[c]);
            return;
        }
        const uint8_t* p = bytes + size_t(i) * size_t(f.bytesPerFrame);
        switch (f.kind) {
        case Format::Kind::pcm16le:
            for (int c = 0; c < f.channels; ++c, p += 2)
                dst[c] = float(int16_t(p[0] | (p[1] << 8)));
            break;
        case Format::Kind::pcm16be:
            for (int c = 0; c < f.channels; ++c, p += 2)
                dst[c] = float(int16_t((p[0] << 8) | p[1]));
            break;
        case Format::Kind::pcm8s:
            for (int c = 0; c < f.channels; ++c)
                dst[c] = float(int8_t(p[c])) * 256.0f;
            break;
        case Format::Kind::pcm8u:
            for (int c = 0; c < f.channels; ++c)
                dst[c] = float(int(p[c]) - 128) * 256.0f;
            break;
        case Format::Kind::decompressed:
            break;
        }
    };
    auto load = [&](int64_t i, float* dst) { loadFrom(data, i, dst); };

    const int64_t ms = media->timeScale();
    const TimeValue start = media->sampleStart(index);
    const size_t ch = size_t(m_channels);
    if (f.sameRate) {
        // Frame s of the media plays frame s − (the sample's first output frame).
        const int64_t base = ceilDivWide(__int128(start) * m_rate, ms);
        const int64_t from = first - base;
        const int64_t n = std::min(count, frames - from);
        const int64_t i0 = std::max<int64_t>(0, -from);
        if (f.kind == Format::Kind::pcm16le && f.channels == m_channels && i0 < n) {
            // The common case: little-endian 16-bit in the output's channel count.
            const uint8_t* p = data + size_t(from + i0) * size_t(f.bytesPerFrame);
            float* dst = out + size_t(i0) * ch;
            for (size_t v = 0; v < size_t(n - i0) * ch; ++v, p += 2)
                dst[v] = float(int16_t(uint16_t(p[0] | (p[1] << 8))));
            return noErr;
        }
        for (int64_t i = i0; i < n; ++i) {
            load(from + i, a);
            mapChannels(a, f.channels, out + size_t(i) * ch, m_channels);
        }
        return noErr;
    }
    // Another rate: position q = (s / rate − start / ms) × sample rate, linearly interpolated.
    // Past the sample's last frame the interpolation goes on into the next sample when that is
    // in memory with the same description (media of one frame per sample); otherwise the
    // last frame is held.
    const uint8_t* nextData = nullptr;
    if (!decoded) {
        const Sample* nx = media->sample(index + 1);
        if (nx && nx->descriptionIndex == smp->descriptionIndex &&
            nx->data.size >= f.bytesPerFrame) {
            if (nx->data.kind == SampleData::Kind::Memory && nx->data.block)
                nextData = nx->data.block->data() + nx->data.offset;
            else if (nx->data.kind == SampleData::Kind::Storage && inWindow(nx->data))
                nextData = m_window.data() + (nx->data.offset - m_windowOffset);
        }
    }
    const double scale = f.rate / (double(m_rate) * double(ms));
    for (int64_t i = 0; i < count; ++i) {
        const double q = double(__int128(first + i) * ms - __int128(start) * m_rate) * scale;
        const int64_t k = int64_t(std::floor(q));
        if (k < 0 || k >= frames) continue;
        const float w = float(q - double(k));
        load(k, a);
        if (w > 0 && (k + 1 < frames || nextData)) {
            if (k + 1 < frames)
                load(k + 1, b);
            else
                loadFrom(nextData, 0, b);
            for (int c = 0; c < f.channels; ++c)
                a[c] += (b[c] - a[c]) * w;
        }
        mapChannels(a, f.channels, out + size_t(i) * ch, m_channels);
    }
    return noErr;
}

} // namespace zef::movies
