#include "platform/movies/tween_sample.h"

#include "platform/movies/audio_fade.h"
#include "platform/movies/big_endian.h"
#include "platform/movies/region.h"

#include <cstring>

namespace zef::movies {

namespace {

constexpr QTAtomType kTween = fourcc("twen");
constexpr QTAtomType kTweenType = fourcc("twnt");
constexpr QTAtomType kTweenData = fourcc("data");
constexpr QTAtomType kTweenRegion = fourcc("qdrg");

AtomContainer tween(uint32_t type, const std::vector<uint8_t>& data,
                    const std::vector<uint8_t>& region = {})
{
    AtomContainer c;
    QTAtom twen = 0;
    c.insertChild(kParentAtomIsContainer, kTween, 1, 0, {}, &twen);
    uint8_t t[4];
    putBE32(t, type);
    c.insertChild(twen, kTweenType, 1, 0, t, 4);
    c.insertChild(twen, kTweenData, 1, 0, data);
    if (!region.empty()) c.insertChild(twen, kTweenRegion, 1, 0, region);
    return c;
}

void appendMatrix(std::vector<uint8_t>& out, const MatrixRecord& m)
{
    for (const auto& row : m.m)
        for (int32_t v : row)
            appendBE32(out, uint32_t(v));
}

MatrixRecord readMatrix(const uint8_t* p)
{
    MatrixRecord m;
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c)
            m.m[r][c] = int32_t(getBE32(p + 4 * (3 * r + c)));
    return m;
}

} // namespace

AtomContainer makeMatrixTween(const MatrixRecord& start, const MatrixRecord& end)
{
    std::vector<uint8_t> data;
    appendMatrix(data, start);
    appendMatrix(data, end);
    return tween(kTweenTypeMatrix, data);
}

AtomContainer makeRegionTween(const Rect& frame, const Rect& crop)
{
    std::vector<uint8_t> data;
    for (int k = 0; k < 2; ++k) {
        appendBE16(data, uint16_t(frame.top));
        appendBE16(data, uint16_t(frame.left));
        appendBE16(data, uint16_t(frame.bottom));
        appendBE16(data, uint16_t(frame.right));
    }
    return tween(kTweenTypeRegion, data, packRectRegion(crop));
}

Handle tweenSampleDescription() { return fadeTweenDescription(); }

std::optional<TweenValue> readTweenSample(std::span<const uint8_t> bytes)
{
    AtomContainer c;
    if (AtomContainer::parse(bytes, c) != noErr) return std::nullopt;
    const QTAtom twen = c.findChildByIndex(kParentAtomIsContainer, kTween, 1);
    TweenValue v;
    if (!twen || c.getAtomUInt32BE(c.findChildByIndex(twen, kTweenType, 1), &v.type) != noErr)
        return std::nullopt;
    const auto data = c.atomData(c.findChildByIndex(twen, kTweenData, 1));
    switch (v.type) {
    case kTweenTypeMatrix:
        if (data.size() != 36 && data.size() != 72) return std::nullopt;
        v.matrixStart = readMatrix(data.data());
        v.matrixEnd = data.size() == 72 ? readMatrix(data.data() + 36) : v.matrixStart;
        return v;
    case kTweenTypeRegion: {
        auto region = unpackRectRegion(c.atomData(c.findChildByIndex(twen, kTweenRegion, 1)));
        if (!region) return std::nullopt;
        v.crop = region->bounds();
        return v;
    }
    default:
        return std::nullopt;
    }
}

} // namespace zef::movies
