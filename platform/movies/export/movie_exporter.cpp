#include "platform/movies/export/movie_exporter.h"

#include <cmath>
#include <cstring>

namespace zef::movies {

namespace {

QTAtom parentAtom(const AtomContainer& c, QTAtomType parent)
{
    return parent == 0 ? kParentAtomIsContainer
                       : c.findChildByIndex(kParentAtomIsContainer, parent, 1);
}

OSErr writeLeaf(AtomContainer& c, QTAtomType parent, QTAtomType child,
                std::span<const uint8_t> bytes)
{
    QTAtom p = kParentAtomIsContainer;
    if (parent != 0) {
        p = c.findChildByIndex(kParentAtomIsContainer, parent, 1);
        if (!p) {
            const OSErr err = c.insertChild(kParentAtomIsContainer, parent, 1, 0, {}, &p);
            if (err != noErr) return err;
        }
    }
    const QTAtom existing = c.findChildByIndex(p, child, 1);
    if (existing) return c.setAtomData(existing, bytes);
    return c.insertChild(p, child, 1, 0, bytes);
}

void putBE32(uint8_t* p, uint32_t v)
{
    p[0] = uint8_t(v >> 24);
    p[1] = uint8_t(v >> 16);
    p[2] = uint8_t(v >> 8);
    p[3] = uint8_t(v);
}

uint32_t getBE32(const uint8_t* p)
{
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}

} // namespace

bool readTemporalSettings(const AtomContainer& settings, TemporalSettings* out)
{
    const QTAtom vide = settings.findChildByIndex(kParentAtomIsContainer, kVideoSettingsAtom, 1);
    if (!vide) return false;
    const QTAtom tprl = settings.findChildByIndex(vide, kTemporalSettingsAtom, 1);
    const auto data = settings.atomData(tprl);
    if (!tprl || data.size() < 12) return false;
    out->temporalQuality = getBE32(data.data());
    out->frameRate = Fixed(getBE32(data.data() + 4));
    out->keyFrameRate = getBE32(data.data() + 8);
    return true;
}

OSErr writeTemporalSettings(AtomContainer& settings, const TemporalSettings& value)
{
    uint8_t bytes[12];
    putBE32(bytes, value.temporalQuality);
    putBE32(bytes + 4, uint32_t(value.frameRate));
    putBE32(bytes + 8, value.keyFrameRate);
    return writeLeaf(settings, kVideoSettingsAtom, kTemporalSettingsAtom, bytes);
}

bool readAtomUInt(const AtomContainer& c, QTAtomType parent, QTAtomType child, uint32_t* out)
{
    const QTAtom p = parentAtom(c, parent);
    if (parent != 0 && !p) return false;
    const QTAtom a = c.findChildByIndex(p, child, 1);
    const auto data = c.atomData(a);
    if (!a) return false;
    if (data.size() >= 4) {
        *out = getBE32(data.data());
        return true;
    }
    if (data.size() >= 2) {
        *out = (uint32_t(data[0]) << 8) | data[1];
        return true;
    }
    return false;
}

OSErr writeAtomUInt32(AtomContainer& c, QTAtomType parent, QTAtomType child, uint32_t value)
{
    uint8_t bytes[4];
    putBE32(bytes, value);
    return writeLeaf(c, parent, child, bytes);
}

OSErr writeAtomUInt16(AtomContainer& c, QTAtomType parent, QTAtomType child, uint16_t value)
{
    const uint8_t bytes[2] = {uint8_t(value >> 8), uint8_t(value)};
    return writeLeaf(c, parent, child, bytes);
}

std::string readAtomText(const AtomContainer& c, QTAtomType parent, QTAtomType child,
                         size_t maxBytes)
{
    const QTAtom p = parentAtom(c, parent);
    if (parent != 0 && !p) return {};
    const QTAtom a = c.findChildByIndex(p, child, 1);
    if (!a) return {};
    const auto data = c.atomData(a);
    size_t n = 0;
    while (n < data.size() && n < maxBytes && data[n] != 0)
        ++n;
    return std::string(reinterpret_cast<const char*>(data.data()), n);
}

OSErr writeAtomText(AtomContainer& c, QTAtomType parent, QTAtomType child, const std::string& text)
{
    std::vector<uint8_t> bytes(text.begin(), text.end());
    bytes.push_back(0);
    return writeLeaf(c, parent, child, bytes);
}

FrameRate frameRateFromFixed(Fixed rate)
{
    if (rate <= 0) return {};
    const double v = fixedToDouble(rate);
    for (int n : {24, 30, 60, 120}) {
        if (std::fabs(v - n * 1000.0 / 1001.0) < 0.001) return {n * 1000, 1001};
    }
    if (rate % kFixed1 == 0) return {rate / kFixed1, 1};
    // Otherwise the exact 16.16 value, reduced.
    int32_t num = rate, den = kFixed1;
    while (num % 2 == 0 && den % 2 == 0) {
        num /= 2;
        den /= 2;
    }
    return {num, den};
}

OSErr MovieExporter::setSettings(const AtomContainer& settings)
{
    const OSErr err = checkSettings(settings);
    if (err != noErr) return err;
    m_settings = settings;
    return noErr;
}

OSErr MovieExporter::doUserDialog(ExportSource*, ExporterDialogHost* host, bool* cancelled)
{
    if (!host) {
        if (cancelled) *cancelled = false;
        return noErr;
    }
    AtomContainer edited = settings();
    const bool ok = host->runSettingsDialog(*this, edited);
    if (cancelled) *cancelled = !ok;
    if (!ok) return noErr;
    return setSettings(edited);
}

} // namespace zef::movies
