#include "platform/movies/text/text_renderer.h"

#include "platform/movies/text/font_face.h"
#include "platform/movies/text/text_layout.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <stdexcept>

namespace zef::movies {

struct TextRenderer::LayoutEntry {
    TextLayout layout;
    Rect box;   // the text box in picture coordinates
    Rect block; // the laid-out lines at rest
};

namespace {

using Flags = TextDisplayFlags;

// Source over destination, both straight alpha.
inline uint32_t blendOver(uint32_t d, uint32_t s)
{
    const uint32_t sa = alphaOf(s);
    if (sa == 0) return d;
    const uint32_t da = alphaOf(d);
    if (sa == 255 || da == 0) return s;
    const uint32_t dw = da * (255 - sa); // destination weight, × 255
    const uint32_t ow = sa * 255 + dw;   // output alpha, × 255
    auto mix = [&](uint32_t sc, uint32_t dc) {
        return uint8_t((sc * sa * 255 + dc * dw + ow / 2) / ow);
    };
    return argb(uint8_t((ow + 127) / 255), mix(redOf(s), redOf(d)), mix(greenOf(s), greenOf(d)),
                mix(blueOf(s), blueOf(d)));
}

uint32_t opaque(const TextColor& c)
{
    return argb(255, colorComponent8(c.red), colorComponent8(c.green), colorComponent8(c.blue));
}

int pixelSizeOf(const TextSample& s)
{
    const int size = s.size == 0 ? TextSample::kDefaultSize : s.size;
    return std::min(size, TextSample::kMaxSize);
}

bool scrolls(const TextSample& s)
{
    return (s.displayFlags & (Flags::scrollIn | Flags::scrollOut)) != 0;
}

void appendRaw(std::string& key, const void* p, size_t n)
{
    key.append(static_cast<const char*>(p), n);
}

// Everything of the sample that shapes its picture, with the picture size.
std::string layoutKey(const TextSample& s, int32_t width, int32_t height)
{
    std::string key;
    key.reserve(s.text.size() + 80);
    const uint32_t textSize = uint32_t(s.text.size());
    appendRaw(key, &textSize, sizeof textSize);
    key += s.text;
    const int32_t fields[] = {s.fontNumber,
                              s.size,
                              s.face,
                              s.textColor.red,
                              s.textColor.green,
                              s.textColor.blue,
                              s.backColor.red,
                              s.backColor.green,
                              s.backColor.blue,
                              s.justification,
                              s.textBox.left,
                              s.textBox.top,
                              s.textBox.right,
                              s.textBox.bottom,
                              int32_t(s.displayFlags),
                              s.dropShadowOffsetX,
                              s.dropShadowOffsetY,
                              s.dropShadowTransparency,
                              width,
                              height};
    appendRaw(key, fields, sizeof fields);
    return key;
}

template <typename Value>
std::shared_ptr<const Value>
findIn(std::list<std::pair<std::string, std::shared_ptr<const Value>>>& cache,
       const std::string& key)
{
    for (auto it = cache.begin(); it != cache.end(); ++it) {
        if (it->first == key) {
            cache.splice(cache.begin(), cache, it);
            return cache.front().second;
        }
    }
    return nullptr;
}

template <typename Value>
void insertIn(std::list<std::pair<std::string, std::shared_ptr<const Value>>>& cache,
              std::string key, std::shared_ptr<const Value> value, size_t capacity)
{
    cache.emplace_front(std::move(key), std::move(value));
    while (cache.size() > capacity)
        cache.pop_back();
}

constexpr size_t kLayerCacheBytes = 64u << 20;

int32_t roundPixels64(int64_t v) { return int32_t((v + 32) >> 6); }

} // namespace

TextRenderer::TextRenderer(std::shared_ptr<FontLibrary> fonts, size_t cachedLayers)
    : m_fonts(std::move(fonts)), m_capacity(std::max<size_t>(1, cachedLayers))
{
    if (!m_fonts) throw std::invalid_argument("TextRenderer needs a font library");
}

TextRenderer::~TextRenderer() = default;

uint64_t TextRenderer::rasterisedCount() const
{
    std::lock_guard<std::mutex> g(m_lock);
    return m_rasterised;
}

std::shared_ptr<const TextRenderer::LayoutEntry>
TextRenderer::layoutFor(const TextSample& s, int32_t width, int32_t height)
{
    std::string key = layoutKey(s, width, height);
    {
        std::lock_guard<std::mutex> g(m_lock);
        if (auto hit = findIn(m_layouts, key)) return hit;
    }
    auto entry = std::make_shared<LayoutEntry>();
    // Boxes far outside any picture are pulled in so that no coordinate arithmetic overflows.
    static constexpr int32_t kFar = 1 << 24;
    auto near = [](int32_t v) { return std::clamp(v, -kFar, kFar); };
    entry->box = s.textBox.isEmpty() ? Rect{0, 0, width, height}
                                     : Rect{near(s.textBox.left), near(s.textBox.top),
                                            near(s.textBox.right), near(s.textBox.bottom)};
    LayoutRequest req;
    req.fontNumber = s.fontNumber;
    req.pixelSize = pixelSizeOf(s);
    req.bold = (s.face & TextFace::bold) != 0;
    req.italic = (s.face & TextFace::italic) != 0;
    req.justification = s.justification;
    req.boxWidth = entry->box.width();
    req.wrap = !((s.displayFlags & Flags::horizScroll) && scrolls(s));
    entry->layout = layoutText(*m_fonts, s.text, req);

    const Rect& box = entry->box;
    if (!entry->layout.empty()) {
        int32_t left = INT32_MAX, right = INT32_MIN;
        for (const LayoutLine& line : entry->layout.lines) {
            left = std::min(left, line.left);
            right = std::max(right, line.left + line.width);
        }
        entry->block =
            Rect{box.left + left, box.top, box.left + right, box.top + entry->layout.height};
    }
    std::lock_guard<std::mutex> g(m_lock);
    insertIn<LayoutEntry>(m_layouts, std::move(key), entry, 4);
    return entry;
}

Point TextRenderer::scrollOffset(const TextSample& s, double progress, int32_t width,
                                 int32_t height, int64_t sampleDuration)
{
    if (!scrolls(s) || width <= 0 || height <= 0) return {};
    auto entry = layoutFor(s, width, height);
    const Rect& box = entry->box;
    const Rect& block = entry->block;
    const bool horizontal = (s.displayFlags & Flags::horizScroll) != 0;
    const bool reverse = (s.displayFlags & Flags::reverseScroll) != 0;
    const double inStart = horizontal ? (reverse ? box.left - block.right : box.right - block.left)
                                      : (reverse ? box.top - block.bottom : box.bottom - block.top);
    const double outEnd = horizontal ? (reverse ? box.right - block.left : box.left - block.right)
                                     : (reverse ? box.bottom - block.top : box.top - block.bottom);

    const double p = std::isnan(progress) ? 0.0 : std::clamp(progress, 0.0, 1.0);
    const double delay = sampleDuration > 0
                             ? std::clamp(double(s.scrollDelay) / double(sampleDuration), 0.0, 1.0)
                             : 0.0;
    const bool in = (s.displayFlags & Flags::scrollIn) != 0;
    const bool out = (s.displayFlags & Flags::scrollOut) != 0;
    double amount = 0;
    if (in && out) {
        const double half = (1.0 - delay) / 2;
        if (half > 0 && p < half)
            amount = inStart * (1.0 - p / half);
        else if (half > 0 && p > half + delay)
            amount = outEnd * std::min(1.0, (p - half - delay) / half);
    } else if (in) {
        const double moving = 1.0 - delay;
        if (moving > 0 && p < moving) amount = inStart * (1.0 - p / moving);
    } else {
        const double moving = 1.0 - delay;
        if (moving > 0 && p > delay) amount = outEnd * std::min(1.0, (p - delay) / moving);
    }
    const int32_t v = int32_t(std::lround(amount));
    return horizontal ? Point{v, 0} : Point{0, v};
}

std::shared_ptr<const TextLayer> TextRenderer::renderLayer(const TextSample& s, double progress,
                                                           int32_t width, int32_t height,
                                                           int64_t sampleDuration)
{
    if (width <= 0 || height <= 0 || (s.displayFlags & Flags::dontDisplay))
        return std::make_shared<const TextLayer>();
    auto entry = layoutFor(s, width, height);
    const Point offset = scrollOffset(s, progress, width, height, sampleDuration);
    std::string key = layoutKey(s, width, height);
    appendRaw(key, &offset.x, sizeof offset.x);
    appendRaw(key, &offset.y, sizeof offset.y);
    {
        std::lock_guard<std::mutex> g(m_lock);
        if (auto hit = findIn(m_layers, key)) return hit;
    }
    std::shared_ptr<const TextLayer> layer = rasterise(s, *entry, offset, width, height);
    std::lock_guard<std::mutex> g(m_lock);
    ++m_rasterised;
    insertIn(m_layers, std::move(key), layer, m_capacity);
    // Large pictures also bound the cache by bytes; the newest layer always stays.
    size_t bytes = 0;
    for (auto it = m_layers.begin(); it != m_layers.end(); ++it) {
        bytes += size_t(it->second->pixels.width()) * size_t(it->second->pixels.height()) * 4;
        if (it != m_layers.begin() && bytes > kLayerCacheBytes) {
            m_layers.erase(it, m_layers.end());
            break;
        }
    }
    return layer;
}

void TextRenderer::renderTextSample(const TextSample& s, double progress, Pixmap& dst,
                                    int64_t sampleDuration)
{
    auto layer = renderLayer(s, progress, dst.width(), dst.height(), sampleDuration);
    compositeLayer(*layer, dst);
}

std::shared_ptr<TextLayer> TextRenderer::rasterise(const TextSample& s, const LayoutEntry& entry,
                                                   Point offset, int32_t width, int32_t height)
{
    auto result = std::make_shared<TextLayer>();
    const TextLayout& layout = entry.layout;
    const Rect& box = entry.box;
    const uint32_t flags = s.displayFlags;
    const bool keyed = (flags & Flags::keyedText) != 0;
    const bool shadow = (flags & Flags::dropShadow) && s.dropShadowTransparency > 0;
    const bool clip = (flags & Flags::clipToTextBox) || scrolls(s);
    const Rect picture{0, 0, width, height};
    const Rect clipRect = clip ? intersect(box, picture) : picture;
    const int32_t sdx = shadow ? s.dropShadowOffsetX : 0;
    const int32_t sdy = shadow ? s.dropShadowOffsetY : 0;

    // Where every glyph goes.
    struct Placed {
        std::shared_ptr<const GlyphBitmap> bitmap;
        int32_t x, y;
    };
    std::vector<Placed> placed;
    std::vector<Rect> bars; // underlines
    Rect ink;
    GlyphStyle style;
    style.pixelSize = layout.pixelSize;
    style.outline = (s.face & TextFace::outline) != 0;
    style.mono = (flags & Flags::antiAlias) == 0;
    const int32_t barHeight = std::max<int32_t>(1, int32_t(std::lround(layout.underlineThickness)));
    for (const LayoutLine& line : layout.lines) {
        const int32_t baseY = box.top + offset.y + line.baseline;
        const int32_t lineX = box.left + offset.x + line.left;
        for (const LayoutGlyph& g : line.glyphs) {
            const LayoutFace& face = layout.faces[g.face];
            style.embolden = face.syntheticBold;
            style.oblique = face.syntheticItalic;
            auto bitmap = face.face->glyph(g.glyph, style);
            if (!bitmap || bitmap->width == 0 || bitmap->height == 0) continue;
            const int32_t x = lineX + roundPixels64(g.x64) + bitmap->left;
            const int32_t y = baseY - roundPixels64(g.y64) - bitmap->top;
            ink = unite(ink, Rect{x, y, x + bitmap->width, y + bitmap->height});
            placed.push_back({std::move(bitmap), x, y});
        }
        if ((s.face & TextFace::underline) && line.width > 0) {
            const int32_t top =
                baseY + int32_t(std::lround(layout.underlineOffset - barHeight / 2.0));
            Rect bar{lineX, top, lineX + line.width, top + barHeight};
            ink = unite(ink, bar);
            bars.push_back(bar);
        }
    }

    Rect content = ink;
    if (shadow && !ink.isEmpty())
        content =
            unite(content, Rect{ink.left + sdx, ink.top + sdy, ink.right + sdx, ink.bottom + sdy});
    if (!keyed) content = unite(content, box);
    const Rect region = intersect(content, clipRect);
    if (region.isEmpty()) return result;

    // Coverage of the glyphs over the part of the ink that can reach the picture, the shadow's
    // source included.
    const Rect reach{region.left - std::max(0, sdx), region.top - std::max(0, sdy),
                     region.right - std::min(0, sdx), region.bottom - std::min(0, sdy)};
    const Rect maskRect = intersect(ink, reach);
    const int32_t mw = maskRect.width(), mh = maskRect.height();
    std::vector<uint8_t> mask(maskRect.isEmpty() ? 0 : size_t(mw) * size_t(mh), 0);
    if (!maskRect.isEmpty()) {
        for (const Placed& p : placed) {
            const GlyphBitmap& bm = *p.bitmap;
            const Rect r = intersect(Rect{p.x, p.y, p.x + bm.width, p.y + bm.height}, maskRect);
            for (int32_t y = r.top; y < r.bottom; ++y) {
                const uint8_t* src = bm.coverage.data() + size_t(y - p.y) * size_t(bm.width);
                uint8_t* dst = mask.data() + size_t(y - maskRect.top) * size_t(mw);
                for (int32_t x = r.left; x < r.right; ++x) {
                    const uint32_t sum = uint32_t(dst[x - maskRect.left]) + src[x - p.x];
                    dst[x - maskRect.left] = uint8_t(std::min<uint32_t>(255, sum));
                }
            }
        }
        for (const Rect& bar : bars) {
            const Rect r = intersect(bar, maskRect);
            for (int32_t y = r.top; y < r.bottom; ++y)
                std::memset(mask.data() + size_t(y - maskRect.top) * size_t(mw) +
                                (r.left - maskRect.left),
                            255, size_t(r.width()));
        }
    }
    auto coverage = [&](int32_t x, int32_t y) -> uint32_t {
        if (!maskRect.contains(x, y)) return 0;
        return mask[size_t(y - maskRect.top) * size_t(mw) + size_t(x - maskRect.left)];
    };

    Pixmap& out = result->pixels;
    out.resize(region.width(), region.height());
    out.fill(0);
    result->origin = Point{region.left, region.top};
    if (!keyed) {
        const Rect back = intersect(box, region);
        out.fill(Rect{back.left - region.left, back.top - region.top, back.right - region.left,
                      back.bottom - region.top},
                 opaque(s.backColor));
    }
    const uint32_t textRGB = opaque(s.textColor) & 0x00FFFFFF;
    const uint32_t shadowAlpha = s.dropShadowTransparency;
    for (int32_t y = region.top; y < region.bottom; ++y) {
        uint32_t* row = out.row(y - region.top);
        for (int32_t x = region.left; x < region.right; ++x) {
            uint32_t& px = row[x - region.left];
            if (shadow) {
                const uint32_t c = coverage(x - sdx, y - sdy);
                if (c) px = blendOver(px, uint32_t((c * shadowAlpha + 127) / 255) << 24);
            }
            const uint32_t c = coverage(x, y);
            if (c) px = blendOver(px, (c << 24) | textRGB);
        }
    }
    return result;
}

void compositeLayer(const TextLayer& layer, Pixmap& dst, Point at)
{
    const Pixmap& src = layer.pixels;
    if (src.isEmpty() || dst.isEmpty()) return;
    const Point o{layer.origin.x - at.x, layer.origin.y - at.y};
    const Rect placed{o.x, o.y, o.x + src.width(), o.y + src.height()};
    const Rect r = intersect(placed, dst.bounds());
    for (int32_t y = r.top; y < r.bottom; ++y) {
        const uint32_t* s = src.row(y - o.y);
        uint32_t* d = dst.row(y);
        for (int32_t x = r.left; x < r.right; ++x)
            d[x] = blendOver(d[x], s[x - o.x]);
    }
}

} // namespace zef::movies
