#include "platform/movies/audio_fade.h"

#include "platform/movies/atom_container.h"
#include "platform/movies/big_endian.h"

#include <algorithm>

namespace zef::movies {

namespace {

constexpr QTAtomType kTweenAtom = fourcc("twen");
constexpr QTAtomType kTweenTypeAtom = fourcc("twnt");
constexpr QTAtomType kTweenDataAtom = fourcc("data");

uint32_t byteSwap(uint32_t v) { return __builtin_bswap32(v); }

bool plausible(int32_t v) { return v == 0 || (v > 0x400 && v <= kMaxFadeGain); }

void putLE32(uint8_t* p, uint32_t v)
{
    for (int k = 0; k < 4; ++k)
        p[k] = uint8_t(v >> (8 * k));
}

} // namespace

Handle makeFadeTweenSample(Fixed start, Fixed end, FadeByteOrder order)
{
    AtomContainer c;
    QTAtom tween = 0;
    c.insertChild(kParentAtomIsContainer, kTweenAtom, 1, 0, {}, &tween);
    uint8_t type[4];
    putBE32(type, kFadeTweenTypeFixed);
    c.insertChild(tween, kTweenTypeAtom, 1, 0, type, 4);
    uint8_t data[8];
    if (order == FadeByteOrder::bigEndian) {
        putBE32(data, uint32_t(start));
        putBE32(data + 4, uint32_t(end));
    } else {
        putLE32(data, uint32_t(start));
        putLE32(data + 4, uint32_t(end));
    }
    c.insertChild(tween, kTweenDataAtom, 1, 0, data, 8);
    return c.flatten();
}

Handle fadeTweenDescription()
{
    Handle h(16);
    putBE32(h.data(), 16);
    putBE32(h.data() + 4, kTweenAtom);
    return h;
}

FadeTween decodeFadeValues(const uint8_t data[8])
{
    const int32_t a = int32_t(getBE32(data));
    const int32_t b = int32_t(getBE32(data + 4));
    if (plausible(a) && plausible(b)) return {a, b, false};
    const int32_t sa = int32_t(byteSwap(uint32_t(a)));
    const int32_t sb = int32_t(byteSwap(uint32_t(b)));
    if (plausible(sa) && plausible(sb)) return {sa, sb, true};
    return {std::clamp(a, 0, kMaxFadeGain), std::clamp(b, 0, kMaxFadeGain), false};
}

OSErr readFadeTween(std::span<const uint8_t> sample, FadeTween& out)
{
    AtomContainer c;
    if (OSErr err = AtomContainer::parse(sample, c)) return err;
    const QTAtom tween = c.findChildByID(kParentAtomIsContainer, kTweenAtom, 1);
    if (!tween) return cannotFindAtomErr;
    const QTAtom type = c.findChildByID(tween, kTweenTypeAtom, 1);
    const QTAtom data = c.findChildByID(tween, kTweenDataAtom, 1);
    if (!type || !data) return cannotFindAtomErr;
    uint32_t t = 0;
    if (c.getAtomUInt32BE(type, &t) != noErr) return cannotFindAtomErr;
    if (t != kFadeTweenTypeFixed && byteSwap(t) != kFadeTweenTypeFixed) return featureUnsupported;
    std::span<const uint8_t> bytes = c.atomData(data);
    if (bytes.size() < 8) return cannotFindAtomErr;
    out = decodeFadeValues(bytes.data());
    return noErr;
}

} // namespace zef::movies
