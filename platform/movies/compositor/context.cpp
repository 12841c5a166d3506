// The evaluation context: decoders, scratch pictures and caches of one evaluating thread, and
// the sample decoders that need no track (raw pixels, image decompressor components).
#include "platform/movies/compositor/compositor_impl.h"
#include "platform/movies/image_codec.h"
#include "platform/movies/movie_file.h"
#include "platform/movies/text/font_library.h"

#include <algorithm>
#include <cstring>

namespace zef::movies {

namespace {
constexpr size_t kMaxRawEntries = 16;
constexpr size_t kMaxFreePixmaps = 16;
} // namespace

EvaluationContext::Impl::Impl(Options o) : options(std::move(o))
{
    effects = options.effects ? options.effects : &builtInEffects();
}

EvaluationContext::Impl::~Impl()
{
    if (options.components) {
        for (auto& [type, instance] : codecs) {
            if (instance) options.components->closeComponent(instance);
        }
    }
}

std::unique_ptr<Pixmap> EvaluationContext::Impl::takePixmap(int32_t width, int32_t height)
{
    // Prefer a picture of the same size (no reallocation), then any.
    for (auto it = freePixmaps.begin(); it != freePixmaps.end(); ++it) {
        if ((*it)->width() == width && (*it)->height() == height) {
            auto p = std::move(*it);
            freePixmaps.erase(it);
            return p;
        }
    }
    std::unique_ptr<Pixmap> p;
    if (!freePixmaps.empty()) {
        p = std::move(freePixmaps.back());
        freePixmaps.pop_back();
    } else {
        p = std::make_unique<Pixmap>();
    }
    p->resize(width, height);
    return p;
}

VideoDecoder* EvaluationContext::Impl::decoder(const std::shared_ptr<MediaFile>& file,
                                               int32_t stream)
{
    if (!file) return nullptr;
    const auto key = std::make_pair(static_cast<const MediaFile*>(file.get()), stream);
    auto it = decoders.find(key);
    if (it != decoders.end()) {
        it->second.lastUse = evaluations;
        return it->second.decoder.get();
    }
    int32_t trackIndex = -1;
    for (size_t i = 0; i < file->tracks().size(); ++i) {
        if (file->tracks()[i].streamIndex == stream &&
            file->tracks()[i].mediaType == kVideoMediaType)
            trackIndex = int32_t(i);
    }
    std::unique_ptr<VideoDecoder> dec;
    if (trackIndex >= 0) {
        VideoDecoder::Options o;
        o.threads = options.decoderThreads;
        o.cacheFrames = options.decoderCacheFrames;
        o.positions = options.decoderPositions;
        o.fastScaling = true;
        dec = std::make_unique<VideoDecoder>(file, size_t(trackIndex), o);
        dec->setAbortCheck(&abort);
        ++stats.decodersOpened;
        if (!dec->isValid()) dec.reset();
    }
    VideoDecoder* result = dec.get();
    if (result) ++stats.openDecoders;
    // A failure is remembered too (until it is released like an idle decoder).
    decoders.emplace(key, DecoderEntry{file, std::move(dec), evaluations});
    return result;
}

void EvaluationContext::Impl::releaseIdleDecoders()
{
    const int64_t after = options.releaseDecodersAfter;
    if (after <= 0) return;
    for (auto it = decoders.begin(); it != decoders.end();) {
        if (evaluations - it->second.lastUse >= uint64_t(after)) {
            if (it->second.decoder) {
                ++stats.decodersReleased;
                --stats.openDecoders;
            }
            it = decoders.erase(it);
        } else {
            ++it;
        }
    }
}

std::shared_ptr<const RawPicture>
EvaluationContext::Impl::rawPicture(const Media& media, int64_t index, const ImageDescription& desc)
{
    const Sample* sample = media.sample(index);
    if (!sample) return nullptr;
    const SampleData& d = sample->data;
    std::shared_ptr<const void> owner;
    if (d.kind == SampleData::Kind::Memory)
        owner = d.block;
    else if (d.kind == SampleData::Kind::Storage)
        owner = d.storage;
    ++useClock;
    if (owner) {
        for (RawEntry& e : raws) {
            if (e.owner == owner && e.offset == d.offset && e.size == d.size) {
                e.lastUse = useClock;
                return e.picture;
            }
        }
    }
    if (media.getSampleData(index, bytes) != noErr) return nullptr;
    std::shared_ptr<const RawPicture> picture = decodeRawSample(bytes, desc);
    if (!picture || !owner) return picture;
    if (raws.size() >= kMaxRawEntries) {
        auto oldest = std::min_element(raws.begin(), raws.end(), [](const auto& a, const auto& b) {
            return a.lastUse < b.lastUse;
        });
        raws.erase(oldest);
    }
    raws.push_back(RawEntry{owner, d.offset, d.size, picture, useClock});
    return picture;
}

ComponentInstance EvaluationContext::Impl::codecFor(OSType type)
{
    auto it = codecs.find(type);
    if (it != codecs.end()) return it->second;
    ComponentInstance instance = 0;
    if (options.components) {
        ComponentDescription looking;
        looking.componentType = decompressorComponentType;
        looking.componentSubType = type;
        for (Component c = options.components->findNextComponent(0, looking); c && !instance;
             c = options.components->findNextComponent(c, looking)) {
            if (options.components->openComponent(c, &instance) != noErr) instance = 0;
        }
    }
    codecs.emplace(type, instance);
    return instance;
}

TextRenderer& EvaluationContext::Impl::textRenderer()
{
    if (!options.text)
        options.text = std::make_shared<TextRenderer>(std::make_shared<FontLibrary>());
    return *options.text;
}

std::shared_ptr<RawPicture> decodeRawSample(std::span<const uint8_t> data,
                                            const ImageDescription& desc)
{
    const int32_t w = desc.width, h = desc.height;
    const int32_t bpp = desc.depth == 32 ? 4 : desc.depth == 24 ? 3 : 0;
    if (w <= 0 || h <= 0 || bpp == 0) return nullptr;
    const size_t minRow = size_t(w) * size_t(bpp);
    if (data.size() < minRow * size_t(h)) return nullptr;
    const size_t rowBytes = data.size() / size_t(h) >= minRow ? data.size() / size_t(h) : minRow;
    auto picture = std::make_shared<RawPicture>();
    picture->pixels.resize(w, h);
    bool opaque = true;
    for (int32_t y = 0; y < h; ++y) {
        const uint8_t* s = data.data() + size_t(y) * rowBytes;
        uint32_t* d = picture->pixels.row(y);
        if (bpp == 4) {
            for (int32_t x = 0; x < w; ++x, s += 4) {
                d[x] = argb(s[0], s[1], s[2], s[3]);
                opaque = opaque && s[0] == 255;
            }
        } else {
            for (int32_t x = 0; x < w; ++x, s += 3)
                d[x] = argb(255, s[0], s[1], s[2]);
        }
    }
    picture->opaque = opaque;
    return picture;
}

bool decompressSample(EvaluationContext::Impl& ctx, const ImageDescription& desc,
                      std::span<const uint8_t> descriptionBytes, std::span<const uint8_t> data,
                      int32_t frameNumber, Pixmap& picture)
{
    ComponentManager* manager = ctx.options.components;
    const ComponentInstance instance = ctx.codecFor(desc.cType);
    if (!manager || !instance) return false;

    CodecDecompressParams params;
    params.imageDescription = &desc;
    params.descriptionData = descriptionBytes.data();
    params.descriptionSize = int64_t(descriptionBytes.size());
    params.data = data.data();
    params.dataSize = int64_t(data.size());
    params.srcRect = Rect{0, 0, desc.width, desc.height};
    params.matrix = MatrixRecord::mapRect(params.srcRect, picture.bounds());
    params.depth = 32;
    params.frameNumber = frameNumber;

    CodecCapabilities caps;
    if (manager->call(instance, kImageCodecPreflightSelect, {intptr_t(&params), intptr_t(&caps)}) !=
            noErr ||
        caps.wantedPixelSize != 32)
        return false;
    ImageSubCodecDecompressCapabilities sub;
    sub.recordSize = int32_t(sizeof sub);
    if (manager->call(instance, kImageCodecInitializeSelect, {intptr_t(&sub)}) != noErr ||
        sub.decompressRecordSize < 0 || sub.decompressRecordSize > kMaxDecompressRecordSize)
        return false;
    std::vector<uint8_t> userRecord(size_t(sub.decompressRecordSize), 0);

    ImageSubCodecDecompressRecord record;
    record.baseAddr = picture.data();
    record.rowBytes = int32_t(picture.strideBytes());
    record.width = picture.width();
    record.height = picture.height();
    record.codecData = data.data();
    record.dataSize = int64_t(data.size());
    record.userDecompressRecord = userRecord.empty() ? nullptr : userRecord.data();
    record.frameNumber = frameNumber;
    if (manager->call(instance, kImageCodecBeginBandSelect,
                      {intptr_t(&params), intptr_t(&record), 0}) != noErr)
        return false;
    const ComponentResult drawn =
        manager->call(instance, kImageCodecDrawBandSelect, {intptr_t(&record)});
    const ComponentResult ended =
        manager->call(instance, kImageCodecEndBandSelect, {intptr_t(&record), intptr_t(drawn), 0});
    return drawn == noErr && ended == noErr;
}

EvaluationContext::EvaluationContext() : EvaluationContext(Options()) {}
void EvaluationContext::setDecoderThreads(int threads) { m_impl->options.decoderThreads = threads; }

EvaluationContext::EvaluationContext(Options options)
    : m_impl(std::make_unique<Impl>(std::move(options)))
{
}
EvaluationContext::~EvaluationContext() = default;

const EvaluationStats& EvaluationContext::stats() const { return m_impl->stats; }

void EvaluationContext::setApproximate(bool approximate) { m_impl->approximate = approximate; }
bool EvaluationContext::approximate() const { return m_impl->approximate; }
void EvaluationContext::setAbortCheck(std::function<bool()> check)
{
    m_impl->abort = std::move(check);
}

void EvaluationContext::reset()
{
    m_impl->decoders.clear();
    m_impl->stats.openDecoders = 0;
    m_impl->raws.clear();
    m_impl->freePixmaps.clear();
}

} // namespace zef::movies
