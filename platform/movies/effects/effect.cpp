#include "platform/movies/effects/effect.h"

#include "platform/movies/big_endian.h"
#include "platform/movies/handle.h"

#include <algorithm>
#include <cmath>
#include <new>

namespace zef::movies {

namespace {

ParamValue clampValue(const ParamDescriptor& p, ParamValue v)
{
    auto finite = [](double x) { return std::isfinite(x) ? x : 0.0; };
    v.x = finite(v.x);
    v.y = finite(v.y);
    switch (p.type) {
    case ParamType::Colour:
        v.x = double(uint32_t(std::clamp(v.x, 0.0, 4294967295.0)) | 0xFF000000u);
        v.y = 0;
        break;
    case ParamType::Boolean:
        v.x = v.x != 0 ? 1 : 0;
        v.y = 0;
        break;
    case ParamType::Enum:
        v.x = std::clamp(std::round(v.x), 0.0, double(std::max<size_t>(p.choices.size(), 1) - 1));
        v.y = 0;
        break;
    case ParamType::Integer:
        v.x = std::clamp(std::round(v.x), p.min, p.max);
        v.y = 0;
        break;
    case ParamType::Point:
        v.x = std::clamp(v.x, p.min, p.max);
        v.y = std::clamp(v.y, p.min, p.max);
        break;
    case ParamType::Fixed:
    case ParamType::Angle:
        v.x = std::clamp(v.x, p.min, p.max);
        v.y = 0;
        break;
    }
    return v;
}

size_t valueSize(ParamType t)
{
    switch (t) {
    case ParamType::Colour:
        return 6;
    case ParamType::Point:
        return 8;
    default:
        return 4;
    }
}

int32_t toFixed(double v) { return doubleToFixed(v); }

void appendValue(std::vector<uint8_t>& out, ParamType t, const ParamValue& v)
{
    switch (t) {
    case ParamType::Integer:
    case ParamType::Boolean:
    case ParamType::Enum:
        appendBE32(out, uint32_t(int32_t(std::llround(v.x))));
        break;
    case ParamType::Fixed:
    case ParamType::Angle:
        appendBE32(out, uint32_t(toFixed(v.x)));
        break;
    case ParamType::Colour: {
        uint32_t c = uint32_t(v.x);
        appendBE16(out, uint16_t(((c >> 16) & 255) * 257));
        appendBE16(out, uint16_t(((c >> 8) & 255) * 257));
        appendBE16(out, uint16_t((c & 255) * 257));
        break;
    }
    case ParamType::Point:
        appendBE32(out, uint32_t(toFixed(v.x)));
        appendBE32(out, uint32_t(toFixed(v.y)));
        break;
    }
}

ParamValue readValue(const uint8_t* p, ParamType t)
{
    ParamValue v;
    switch (t) {
    case ParamType::Integer:
    case ParamType::Boolean:
    case ParamType::Enum:
        v.x = int32_t(getBE32(p));
        break;
    case ParamType::Fixed:
    case ParamType::Angle:
        v.x = fixedToDouble(int32_t(getBE32(p)));
        break;
    case ParamType::Colour: {
        auto ch = [](uint16_t c) { return uint32_t((c + 128) / 257); };
        uint32_t r = ch(getBE16(p)), g = ch(getBE16(p + 2)), b = ch(getBE16(p + 4));
        v.x = double(0xFF000000u | (r << 16) | (g << 8) | b);
        break;
    }
    case ParamType::Point:
        v.x = fixedToDouble(int32_t(getBE32(p)));
        v.y = fixedToDouble(int32_t(getBE32(p + 4)));
        break;
    }
    return v;
}

} // namespace

const ParamDescriptor* EffectDescriptor::findParam(FourCC c) const
{
    for (const auto& p : params)
        if (p.code == c) return &p;
    return nullptr;
}

ParameterSet ParameterSet::defaults(const EffectDescriptor& d)
{
    ParameterSet s;
    for (const auto& p : d.params) {
        ParamValue v = clampValue(p, p.defaultValue);
        s.m_entries.push_back(Entry{p.code, p.type, p.tweens, v, v});
    }
    return s;
}

bool ParameterSet::set(const EffectDescriptor& d, FourCC code, ParamValue v)
{
    const ParamDescriptor* pd = d.findParam(code);
    if (!pd) return false;
    ParamValue c = clampValue(*pd, v);
    for (auto& e : m_entries)
        if (e.code == code) {
            e.start = e.end = c;
            return true;
        }
    m_entries.push_back(Entry{code, pd->type, pd->tweens, c, c});
    return true;
}

bool ParameterSet::setTween(const EffectDescriptor& d, FourCC code, ParamValue start,
                            ParamValue end)
{
    const ParamDescriptor* pd = d.findParam(code);
    if (!pd || !pd->tweens) return false;
    if (!set(d, code, start)) return false;
    for (auto& e : m_entries)
        if (e.code == code) e.end = clampValue(*pd, end);
    return true;
}

const ParameterSet::Entry* ParameterSet::find(FourCC code) const
{
    for (const auto& e : m_entries)
        if (e.code == code) return &e;
    return nullptr;
}

ParamValue ParameterSet::valueAt(FourCC code, double p) const
{
    const Entry* e = find(code);
    if (!e) return {};
    if (!e->tweened || e->start == e->end || !(p > 0)) return e->start;
    if (p >= 1) return e->end;
    switch (e->type) {
    case ParamType::Boolean:
    case ParamType::Enum:
        return e->start;
    case ParamType::Integer:
        return {std::round(e->start.x + (e->end.x - e->start.x) * p), 0};
    case ParamType::Colour: {
        uint32_t a = uint32_t(e->start.x), b = uint32_t(e->end.x);
        auto ch = [&](int sh) {
            double ca = (a >> sh) & 255, cb = (b >> sh) & 255;
            return uint32_t(std::lround(ca + (cb - ca) * p)) << sh;
        };
        return {double(0xFF000000u | ch(16) | ch(8) | ch(0)), 0};
    }
    default:
        return {e->start.x + (e->end.x - e->start.x) * p, e->start.y + (e->end.y - e->start.y) * p};
    }
}

int32_t ParameterSet::integer(FourCC code, double p) const
{
    return int32_t(std::lround(valueAt(code, p).x));
}

uint32_t ParameterSet::colour(FourCC code, double p) const
{
    const Entry* e = find(code);
    if (!e) return 0xFF000000u;
    return uint32_t(valueAt(code, p).x);
}

EncodedParameters encodeParameters(const ParameterSet& set)
{
    EncodedParameters out;
    for (const auto& e : set.entries()) {
        std::vector<uint8_t> bytes;
        appendValue(bytes, e.type, e.start);
        if (e.tweened && !(e.start == e.end)) appendValue(bytes, e.type, e.end);
        out.emplace_back(e.code, std::move(bytes));
    }
    return out;
}

std::optional<ParameterSet> decodeParameters(const EffectDescriptor& d,
                                             const EncodedParameters& encoded)
{
    ParameterSet s = ParameterSet::defaults(d);
    std::vector<FourCC> seen;
    for (const auto& [code, bytes] : encoded) {
        const ParamDescriptor* pd = d.findParam(code);
        if (!pd) continue;
        if (std::find(seen.begin(), seen.end(), code) != seen.end()) return std::nullopt;
        seen.push_back(code);
        size_t n = valueSize(pd->type);
        if (bytes.size() == n) {
            s.set(d, code, readValue(bytes.data(), pd->type));
        } else if (bytes.size() == 2 * n && pd->tweens) {
            s.setTween(d, code, readValue(bytes.data(), pd->type),
                       readValue(bytes.data() + n, pd->type));
        } else {
            return std::nullopt;
        }
    }
    return s;
}

int64_t EffectContext::ticks600() const
{
    if (timeScale <= 0) return time;
    if (timeScale == 600) return time;
    return int64_t(std::floor(double(time) * 600.0 / timeScale));
}

PixelStatus renderEffect(const EffectDescriptor& d, const ParameterSet& params,
                         const EffectFrame& f)
{
    if (!d.render) return PixelStatus::UnknownEffect;
    if (!f.dst) return PixelStatus::BadArgument;
    Pixmap& dst = *f.dst;
    if (dst.isEmpty()) return PixelStatus::Ok;
    const Pixmap* srcs[2] = {f.srcA, f.srcB};
    try {
        Pixmap copies[2];
        for (int i = 0; i < d.sources; ++i) {
            if (!srcs[i]) return PixelStatus::MissingSource;
            if (srcs[i]->width() != dst.width() || srcs[i]->height() != dst.height())
                return PixelStatus::BadArgument;
            if (srcs[i] == &dst) {
                copies[i] = dst;
                srcs[i] = &copies[i];
            }
        }
        double p = std::isfinite(f.progress) ? std::clamp(f.progress, 0.0, 1.0) : 0.0;
        EffectContext ctx{d,
                          params,
                          p,
                          f.time,
                          f.timeScale,
                          d.sources >= 1 ? srcs[0] : nullptr,
                          d.sources >= 2 ? srcs[1] : nullptr,
                          dst};
        d.render(ctx);
    } catch (const std::bad_alloc&) {
        return PixelStatus::OutOfMemory;
    }
    return PixelStatus::Ok;
}

} // namespace zef::movies
