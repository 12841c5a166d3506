// Internal parts of the compositor shared by its source files (not a public interface).
#pragma once

#include "platform/movies/components.h"
#include "platform/movies/composite/region.h"
#include "platform/movies/compositor/compositor.h"
#include "platform/movies/descriptions.h"
#include "platform/movies/media_file.h"
#include "platform/movies/region.h"
#include "platform/movies/text/text_renderer.h"
#include "platform/movies/video_decoder.h"

#include <map>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace zef::movies {

enum class SampleKind { FileVideo, Raw, Effect, Text, Codec };

// A decoded 'raw ' sample, kept while its data is cached.
struct RawPicture {
    Pixmap pixels;
    bool opaque = false;
};

struct EvaluationContext::Impl {
    explicit Impl(Options o);
    ~Impl();

    Options options;
    const EffectRegistry* effects = nullptr;
    EvaluationStats stats;
    bool approximate = false;
    std::function<bool()> abort; // every decoder asks it (VideoDecoder::setAbortCheck)

    // Scratch pictures: taken for the time of one drawing step and given back.
    std::vector<std::unique_ptr<Pixmap>> freePixmaps;
    std::unique_ptr<Pixmap> takePixmap(int32_t width, int32_t height);
    void givePixmap(std::unique_ptr<Pixmap> p) { freePixmaps.push_back(std::move(p)); }

    // One decoder per (file, stream), with the evaluation that used it last. The file is held
    // so that its address cannot be reused by another file while the entry lives.
    struct DecoderEntry {
        std::shared_ptr<const MediaFile> file;
        std::unique_ptr<VideoDecoder> decoder; // null: the decoder could not be opened
        uint64_t lastUse = 0;
    };
    std::map<std::pair<const MediaFile*, int32_t>, DecoderEntry> decoders;
    uint64_t evaluations = 0; // evaluate() calls so far, counting the one running
    VideoDecoder* decoder(const std::shared_ptr<MediaFile>& file, int32_t stream);
    // Closes the decoders idle for longer than Options::releaseDecodersAfter evaluations.
    void releaseIdleDecoders();

    // Decoded 'raw ' samples by their data (the owner of the bytes is held, so the address
    // cannot be reused while an entry lives).
    struct RawEntry {
        std::shared_ptr<const void> owner;
        int64_t offset = 0;
        int64_t size = 0;
        std::shared_ptr<const RawPicture> picture;
        uint64_t lastUse = 0;
    };
    std::vector<RawEntry> raws;
    uint64_t useClock = 0;
    std::shared_ptr<const RawPicture> rawPicture(const Media& media, int64_t sampleIndex,
                                                 const ImageDescription& desc);

    // Open image decompressor instances by compression type (0 = none could be opened).
    std::map<OSType, ComponentInstance> codecs;
    ComponentInstance codecFor(OSType type);

    TextRenderer& textRenderer();

    std::vector<uint8_t> bytes; // sample data being read
};

// A scratch picture borrowed from the context for one scope.
class ScratchPixmap {
public:
    ScratchPixmap(EvaluationContext::Impl& ctx, int32_t width, int32_t height)
        : m_ctx(ctx), m_pixmap(ctx.takePixmap(width, height))
    {
    }
    ~ScratchPixmap() { m_ctx.givePixmap(std::move(m_pixmap)); }
    ScratchPixmap(const ScratchPixmap&) = delete;
    ScratchPixmap& operator=(const ScratchPixmap&) = delete;
    Pixmap& operator*() { return *m_pixmap; }
    Pixmap* operator->() { return m_pixmap.get(); }

private:
    EvaluationContext::Impl& m_ctx;
    std::unique_ptr<Pixmap> m_pixmap;
};

// Decodes an uncompressed sample: 32-bit (alpha, red, green, blue) or 24-bit (red, green, blue)
// pixels, rows of width × bytes per pixel or of dataSize / height bytes when longer. Null for a
// size or depth it cannot read.
std::shared_ptr<RawPicture> decodeRawSample(std::span<const uint8_t> data,
                                            const ImageDescription& desc);

// Has the registered decompressor draw the sample into picture (already of the description's
// size). False when no component takes it or one of its calls fails.
bool decompressSample(EvaluationContext::Impl& ctx, const ImageDescription& desc,
                      std::span<const uint8_t> descriptionBytes, std::span<const uint8_t> data,
                      int32_t frameNumber, Pixmap& picture);

} // namespace zef::movies
