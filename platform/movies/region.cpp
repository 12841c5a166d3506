#include "platform/movies/region.h"

#include "platform/movies/big_endian.h"

#include <algorithm>

namespace zef::movies {

namespace {

struct Span {
    int32_t left;
    int32_t right;
    friend bool operator==(const Span&, const Span&) = default;
};

// The spans of a canonical region's rectangles that cover the whole band [y0, y1).
std::vector<Span> spansInBand(const std::vector<Rect>& rects, int32_t y0, int32_t y1)
{
    std::vector<Span> out;
    for (const Rect& r : rects) {
        if (r.top <= y0 && r.bottom >= y1) out.push_back({r.left, r.right});
    }
    return out; // canonical rectangles of one band are already sorted and disjoint
}

bool inSpans(const std::vector<Span>& spans, int32_t x)
{
    for (const Span& s : spans) {
        if (x >= s.left && x < s.right) return true;
    }
    return false;
}

} // namespace

Region::Region(const Rect& r)
{
    if (!r.isEmpty()) m_rects.push_back(r);
}

Rect Region::bounds() const
{
    if (m_rects.empty()) return Rect{};
    Rect b = m_rects.front();
    for (const Rect& r : m_rects) {
        b.left = std::min(b.left, r.left);
        b.top = std::min(b.top, r.top);
        b.right = std::max(b.right, r.right);
        b.bottom = std::max(b.bottom, r.bottom);
    }
    return b;
}

bool Region::contains(int32_t x, int32_t y) const
{
    for (const Rect& r : m_rects) {
        if (r.contains(x, y)) return true;
    }
    return false;
}

bool Region::contains(const Rect& r) const
{
    if (r.isEmpty()) return false;
    return Region(r).subtracted(*this).isEmpty();
}

int64_t Region::area() const
{
    int64_t a = 0;
    for (const Rect& r : m_rects)
        a += int64_t(r.width()) * int64_t(r.height());
    return a;
}

Region Region::united(const Region& other) const { return combine(*this, other, Op::Union); }
Region Region::intersected(const Region& other) const
{
    return combine(*this, other, Op::Intersect);
}
Region Region::subtracted(const Region& other) const { return combine(*this, other, Op::Subtract); }

void Region::offset(int32_t dx, int32_t dy)
{
    for (Rect& r : m_rects) {
        r.left += dx;
        r.right += dx;
        r.top += dy;
        r.bottom += dy;
    }
}

Region Region::combine(const Region& a, const Region& b, Op op)
{
    std::vector<int32_t> ys;
    for (const auto* reg : {&a, &b}) {
        for (const Rect& r : reg->m_rects) {
            ys.push_back(r.top);
            ys.push_back(r.bottom);
        }
    }
    std::sort(ys.begin(), ys.end());
    ys.erase(std::unique(ys.begin(), ys.end()), ys.end());

    Region out;
    std::vector<Span> prevSpans;
    size_t prevBandStart = 0; // index in out.m_rects where the previous band begins
    int32_t prevBottom = 0;
    bool havePrev = false;

    for (size_t i = 0; i + 1 < ys.size(); ++i) {
        const int32_t y0 = ys[i];
        const int32_t y1 = ys[i + 1];
        const std::vector<Span> sa = spansInBand(a.m_rects, y0, y1);
        const std::vector<Span> sb = spansInBand(b.m_rects, y0, y1);

        std::vector<int32_t> xs;
        for (const Span& s : sa) {
            xs.push_back(s.left);
            xs.push_back(s.right);
        }
        for (const Span& s : sb) {
            xs.push_back(s.left);
            xs.push_back(s.right);
        }
        std::sort(xs.begin(), xs.end());
        xs.erase(std::unique(xs.begin(), xs.end()), xs.end());

        std::vector<Span> spans;
        for (size_t k = 0; k + 1 < xs.size(); ++k) {
            const bool ina = inSpans(sa, xs[k]);
            const bool inb = inSpans(sb, xs[k]);
            bool in = false;
            switch (op) {
            case Op::Union:
                in = ina || inb;
                break;
            case Op::Intersect:
                in = ina && inb;
                break;
            case Op::Subtract:
                in = ina && !inb;
                break;
            }
            if (!in) continue;
            if (!spans.empty() && spans.back().right == xs[k]) {
                spans.back().right = xs[k + 1];
            } else {
                spans.push_back({xs[k], xs[k + 1]});
            }
        }

        if (spans.empty()) {
            havePrev = false;
            continue;
        }
        if (havePrev && prevBottom == y0 && spans == prevSpans) {
            for (size_t k = prevBandStart; k < out.m_rects.size(); ++k)
                out.m_rects[k].bottom = y1;
        } else {
            prevBandStart = out.m_rects.size();
            for (const Span& s : spans)
                out.m_rects.push_back(Rect{s.left, y0, s.right, y1});
            prevSpans = spans;
        }
        prevBottom = y1;
        havePrev = true;
    }
    return out;
}

std::vector<uint8_t> packRectRegion(const Rect& r)
{
    std::vector<uint8_t> out;
    appendBE16(out, 10);
    for (int32_t v : {r.top, r.left, r.bottom, r.right})
        appendBE16(out, uint16_t(int16_t(v)));
    return out;
}

std::optional<Region> unpackRectRegion(std::span<const uint8_t> bytes)
{
    if (bytes.size() < 10 || getBE16(bytes.data()) != 10) return std::nullopt;
    auto at = [&](size_t k) { return int32_t(int16_t(getBE16(bytes.data() + 2 + 2 * k))); };
    return Region(Rect{at(1), at(0), at(3), at(2)});
}

} // namespace zef::movies
