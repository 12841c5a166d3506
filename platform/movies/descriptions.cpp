#include "platform/movies/descriptions.h"

#include "platform/movies/big_endian.h"

#include <algorithm>
#include <cmath>

namespace zef::movies {

int32_t ImageDescription::size() const
{
    size_t n = kBaseSize;
    for (const auto& e : extensions)
        n += 8 + e.data.size();
    return int32_t(n);
}

Handle ImageDescription::toHandle() const
{
    std::vector<uint8_t> b;
    b.reserve(size_t(size()));
    appendBE32(b, uint32_t(size()));
    appendBE32(b, cType);
    appendBE32(b, 0); // reserved
    appendBE16(b, 0); // reserved
    appendBE16(b, uint16_t(dataRefIndex));
    appendBE16(b, uint16_t(version));
    appendBE16(b, uint16_t(revisionLevel));
    appendBE32(b, vendor);
    appendBE32(b, temporalQuality);
    appendBE32(b, spatialQuality);
    appendBE16(b, uint16_t(width));
    appendBE16(b, uint16_t(height));
    appendBE32(b, uint32_t(hRes));
    appendBE32(b, uint32_t(vRes));
    appendBE32(b, uint32_t(dataSize));
    appendBE16(b, uint16_t(frameCount));
    uint8_t pascal[32] = {};
    size_t n = std::min<size_t>(name.size(), 31);
    pascal[0] = uint8_t(n);
    std::copy_n(name.begin(), n, pascal + 1);
    b.insert(b.end(), pascal, pascal + 32);
    appendBE16(b, uint16_t(depth));
    appendBE16(b, uint16_t(clutID));
    for (const auto& e : extensions) {
        appendBE32(b, uint32_t(8 + e.data.size()));
        appendBE32(b, e.type);
        b.insert(b.end(), e.data.begin(), e.data.end());
    }
    return Handle(b.data(), b.size());
}

std::optional<ImageDescription> ImageDescription::fromHandle(const Handle& h)
{
    if (h.isNull() || h.size() < kBaseSize) return std::nullopt;
    const uint8_t* p = h.data();
    uint32_t idSize = getBE32(p);
    if (idSize < kBaseSize || idSize > h.size()) return std::nullopt;
    ImageDescription d;
    d.cType = getBE32(p + 4);
    d.dataRefIndex = int16_t(getBE16(p + 14));
    d.version = int16_t(getBE16(p + 16));
    d.revisionLevel = int16_t(getBE16(p + 18));
    d.vendor = getBE32(p + 20);
    d.temporalQuality = getBE32(p + 24);
    d.spatialQuality = getBE32(p + 28);
    d.width = int16_t(getBE16(p + 32));
    d.height = int16_t(getBE16(p + 34));
    d.hRes = Fixed(getBE32(p + 36));
    d.vRes = Fixed(getBE32(p + 40));
    d.dataSize = int32_t(getBE32(p + 44));
    d.frameCount = int16_t(getBE16(p + 48));
    size_t nameLen = std::min<size_t>(p[50], 31);
    d.name.assign(reinterpret_cast<const char*>(p + 51), nameLen);
    d.depth = int16_t(getBE16(p + 82));
    d.clutID = int16_t(getBE16(p + 84));
    size_t pos = kBaseSize;
    while (pos + 8 <= idSize) {
        uint32_t esize = getBE32(p + pos);
        if (esize < 8 || esize > idSize - pos) return std::nullopt;
        ImageDescriptionExtension e;
        e.type = getBE32(p + pos + 4);
        e.data.assign(p + pos + 8, p + pos + esize);
        d.extensions.push_back(std::move(e));
        pos += esize;
    }
    return d;
}

const ImageDescriptionExtension* ImageDescription::findExtension(FourCC type) const
{
    for (const auto& e : extensions)
        if (e.type == type) return &e;
    return nullptr;
}

void SoundDescription::setRateHz(double hz)
{
    double v = std::round(hz * 65536.0);
    sampleRate = v <= 0 ? 0 : v >= 4294967295.0 ? 0xFFFFFFFFu : uint32_t(v);
}

Handle SoundDescription::toHandle() const
{
    std::vector<uint8_t> b;
    appendBE32(b, uint32_t(size()));
    appendBE32(b, dataFormat);
    appendBE32(b, 0);
    appendBE16(b, 0);
    appendBE16(b, uint16_t(dataRefIndex));
    appendBE16(b, uint16_t(version));
    appendBE16(b, uint16_t(revisionLevel));
    appendBE32(b, vendor);
    appendBE16(b, uint16_t(numChannels));
    appendBE16(b, uint16_t(sampleSize));
    appendBE16(b, uint16_t(compressionID));
    appendBE16(b, uint16_t(packetSize));
    appendBE32(b, sampleRate);
    if (version >= 1) {
        appendBE32(b, samplesPerPacket);
        appendBE32(b, bytesPerPacket);
        appendBE32(b, bytesPerFrame);
        appendBE32(b, bytesPerSample);
    }
    return Handle(b.data(), b.size());
}

std::optional<SoundDescription> SoundDescription::fromHandle(const Handle& h)
{
    if (h.isNull() || h.size() < kV0Size) return std::nullopt;
    const uint8_t* p = h.data();
    SoundDescription d;
    uint32_t descSize = getBE32(p);
    d.dataFormat = getBE32(p + 4);
    d.dataRefIndex = int16_t(getBE16(p + 14));
    d.version = int16_t(getBE16(p + 16));
    d.revisionLevel = int16_t(getBE16(p + 18));
    d.vendor = getBE32(p + 20);
    d.numChannels = int16_t(getBE16(p + 24));
    d.sampleSize = int16_t(getBE16(p + 26));
    d.compressionID = int16_t(getBE16(p + 28));
    d.packetSize = int16_t(getBE16(p + 30));
    d.sampleRate = getBE32(p + 32);
    if (d.version >= 1) {
        if (h.size() < kV1Size) return std::nullopt;
        d.samplesPerPacket = getBE32(p + 36);
        d.bytesPerPacket = getBE32(p + 40);
        d.bytesPerFrame = getBE32(p + 44);
        d.bytesPerSample = getBE32(p + 48);
    }
    if (descSize < size_t(d.size()) || descSize > h.size()) return std::nullopt;
    return d;
}

} // namespace zef::movies
