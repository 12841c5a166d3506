// The image decompressor of the clip frame format: a sample holds the timeline time of a
// frame, the description the clip's reference; DrawBand asks the editor for the picture.
#include "codecs/dispatch.h"

#include "app/render_exports.h"
#include "platform/movies/image_codec.h"

#include <cstring>
#include <new>

namespace zef::sobrant {

namespace {

using movies::CodecCapabilities;
using movies::CodecDecompressParams;
using movies::CodecInfo;
using movies::ImageSubCodecDecompressCapabilities;
using movies::ImageSubCodecDecompressRecord;

constexpr size_t kReferenceOffset = 86;
constexpr size_t kDepth = 32;

struct Storage {
    intptr_t self = 0;
    intptr_t target = 0; // the outermost component when this one is delegated to
};

// The private decompress record, filled at the start of each band.
struct BandRecord {
    uint64_t item = 0;
    int32_t depth = 0;
    int32_t frameNumber = 0;
    int32_t dataSize = 0;
    int32_t left = 0, top = 0, right = 0, bottom = 0;
};

uint64_t loadLE64(const uint8_t* p)
{
    uint64_t v = 0;
    for (int i = 7; i >= 0; --i)
        v = (v << 8) | p[i];
    return v;
}

int32_t open(ZefComponentCall& call)
{
    auto* s = new (std::nothrow) Storage;
    if (!s) return kMemFullErr;
    s->self = call.params[0];
    s->target = call.params[0];
    call.storage = s;
    return 0;
}

int32_t close(ZefComponentCall& call)
{
    delete static_cast<Storage*>(call.storage);
    call.storage = nullptr;
    return 0;
}

int32_t canDo(ZefComponentCall& call);

int32_t version(ZefComponentCall&) { return 1; }

int32_t target(ZefComponentCall& call)
{
    if (auto* s = static_cast<Storage*>(call.storage))
        s->target = call.params[0] ? call.params[0] : s->self;
    return 0;
}

int32_t getCodecInfo(ZefComponentCall& call)
{
    auto* info = reinterpret_cast<CodecInfo*>(call.params[0]);
    if (!info) return kParamErr;
    CodecInfo c;
    static const char kName[] = "External DXMedia";
    c.typeName[0] = uint8_t(sizeof kName - 1);
    std::memcpy(c.typeName + 1, kName, sizeof kName - 1);
    c.vendor = fourcc("krvI");
    c.decompressFlags = kImageFlags;
    c.formatFlags = 0x20; // depth 32
    c.compressionAccuracy = 255;
    c.decompressionAccuracy = 255;
    c.minimumHeight = 32;
    c.minimumWidth = 32;
    *info = c;
    info->version = 0;
    info->revisionLevel = 0;
    return 0;
}

int32_t preflight(ZefComponentCall& call)
{
    auto* p = reinterpret_cast<const CodecDecompressParams*>(call.params[0]);
    auto* caps = reinterpret_cast<CodecCapabilities*>(call.params[1]);
    if (!p || !caps || !p->imageDescription) return kParamErr;
    if (size_t(p->imageDescription->depth) != kDepth || size_t(p->depth) != kDepth)
        return kCodecConditionErr;
    caps->wantedPixelSize = int16_t(kDepth);
    caps->bandMin = int16_t(p->imageDescription->height);
    caps->bandInc = int16_t(p->imageDescription->height);
    caps->extendWidth = 0;
    caps->extendHeight = 0;
    return 0;
}

int32_t initialize(ZefComponentCall& call)
{
    auto* caps = reinterpret_cast<ImageSubCodecDecompressCapabilities*>(call.params[0]);
    if (!caps) return kParamErr;
    caps->decompressRecordSize = int32_t(sizeof(BandRecord));
    caps->canAsync = false;
    return 0;
}

int32_t beginBand(ZefComponentCall& call)
{
    auto* p = reinterpret_cast<const CodecDecompressParams*>(call.params[0]);
    auto* record = reinterpret_cast<ImageSubCodecDecompressRecord*>(call.params[1]);
    if (!p || !record || !record->userDecompressRecord) return kParamErr;
    const auto& m = p->matrix.m;
    // Only matrices that map rectangles onto rectangles (scale and translate).
    if (m[0][1] != 0 || m[1][0] != 0 || m[0][2] != 0 || m[1][2] != 0) return kCodecConditionErr;
    auto* band = static_cast<BandRecord*>(record->userDecompressRecord);
    *band = BandRecord{};
    if (p->descriptionData && p->descriptionSize >= int64_t(kReferenceOffset + 8))
        band->item = loadLE64(p->descriptionData + kReferenceOffset);
    band->depth = p->depth;
    band->frameNumber = p->frameNumber;
    band->dataSize = int32_t(p->dataSize);
    auto map = [](int64_t v, int32_t scale, int32_t offset) {
        return int32_t((v * scale + offset + 0x8000) >> 16);
    };
    band->left = map(p->srcRect.left, m[0][0], m[2][0]);
    band->right = map(p->srcRect.right, m[0][0], m[2][0]);
    band->top = map(p->srcRect.top, m[1][1], m[2][1]);
    band->bottom = map(p->srcRect.bottom, m[1][1], m[2][1]);
    return 0;
}

int32_t drawBand(ZefComponentCall& call)
{
    auto* record = reinterpret_cast<ImageSubCodecDecompressRecord*>(call.params[0]);
    if (!record || !record->userDecompressRecord) return kParamErr;
    const auto* band = static_cast<const BandRecord*>(record->userDecompressRecord);
    if (!record->codecData || record->dataSize < 8 || !band->item) return 0;
    const int64_t time = int64_t(loadLE64(record->codecData));
    // A frame that cannot be fetched leaves the destination as it is.
    RenderFrame(reinterpret_cast<void*>(uintptr_t(band->item)), time,
                reinterpret_cast<uint8_t*>(record->baseAddr), band->right - band->left,
                band->bottom - band->top, record->rowBytes, true);
    return 0;
}

const DispatchTable& table()
{
    static const DispatchTable t{{-1, open},
                                 {-2, close},
                                 {-3, canDo},
                                 {-4, version},
                                 {-6, target},
                                 {movies::kImageCodecGetCodecInfoSelect, getCodecInfo},
                                 {movies::kImageCodecPreflightSelect, preflight},
                                 {movies::kImageCodecInitializeSelect, initialize},
                                 {movies::kImageCodecBeginBandSelect, beginBand},
                                 {movies::kImageCodecDrawBandSelect, drawBand},
                                 {movies::kImageCodecEndBandSelect, nullptr}};
    return t;
}

int32_t canDo(ZefComponentCall& call) { return table().canDo(int16_t(call.params[0])) ? 1 : 0; }

} // namespace

} // namespace zef::sobrant

extern "C" __attribute__((visibility("default"))) int32_t
SobrantComponentDispatch(ZefComponentCall* call)
{
    return call ? zef::sobrant::table().dispatch(*call) : zef::sobrant::kParamErr;
}
