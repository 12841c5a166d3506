// Two-source effects: transitions from picture A (outgoing) to picture B (incoming).
#include "platform/movies/composite/warp.h"
#include "platform/movies/effects/effect_impl.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>
#include <vector>

namespace zef::movies::fx {

using namespace pixel;

namespace {

ZEF_VECTOR_LOOP void mixRow(const uint32_t* a, const uint32_t* b, uint32_t* out, int32_t n,
                            uint32_t w)
{
    for (int32_t i = 0; i < n; ++i)
        out[i] = mix256(a[i], b[i], w);
}

inline void copyPixels(uint32_t* d, const uint32_t* s, int32_t n)
{
    if (n > 0) std::memcpy(d, s, size_t(n) * 4);
}

// Border and soft edge of a wipe's moving edge, in pixels.
struct EdgeStyle {
    float border = 0;
    uint32_t colour = 0xFF000000u;
    float soft = 0;
};

EdgeStyle edgeStyle(const EffectContext& c)
{
    return EdgeStyle{float(std::max(0, c.integer(fourcc("bwid")))), c.colour(fourcc("bcol")),
                     float(std::max(0, c.integer(fourcc("soft"))))};
}

// How one output row of a distance-field wipe is made: runs of pure A, pure B, or mixed
// pixels (B, the border colour and A weighted per pixel). A pixel at distance d from where B
// starts shows B when d is below the moving threshold t, the border colour in a band of the
// border width around it, and A beyond; the soft edge blends across each boundary.
struct RowPlan {
    enum Kind : uint8_t { A, B, Mixed };
    struct Run {
        int32_t x0, x1;
        Kind kind;
    };
    std::vector<Run> runs;
    std::vector<uint16_t> wB, wE; // per pixel, for mixed runs
};

void planRow(const float* d, int32_t n, float t, const EdgeStyle& e, RowPlan& plan)
{
    const float lo = t - e.border * 0.5f, hi = t + e.border * 0.5f;
    const float invSoft = e.soft > 0 ? 1.0f / e.soft : 0.0f;
    plan.runs.clear();
    plan.wB.resize(size_t(n));
    plan.wE.resize(size_t(n));
    for (int32_t x = 0; x < n; ++x) {
        uint32_t wB, wE;
        if (e.soft > 0) {
            wB = weight256((lo - d[x]) * invSoft + 0.5f);
            wE = weight256((hi - d[x]) * invSoft + 0.5f);
        } else {
            wB = d[x] < lo ? 256 : 0;
            wE = d[x] < hi ? 256 : 0;
        }
        RowPlan::Kind k = wB == 256 ? RowPlan::B : (wE == 0 ? RowPlan::A : RowPlan::Mixed);
        plan.wB[size_t(x)] = uint16_t(wB);
        plan.wE[size_t(x)] = uint16_t(wE);
        if (!plan.runs.empty() && plan.runs.back().kind == k)
            plan.runs.back().x1 = x + 1;
        else
            plan.runs.push_back({x, x + 1, k});
    }
}

void applyPlan(const RowPlan& plan, uint32_t border, const uint32_t* a, const uint32_t* b,
               uint32_t* out)
{
    for (const RowPlan::Run& r : plan.runs) {
        if (r.kind == RowPlan::A) {
            copyPixels(out + r.x0, a + r.x0, r.x1 - r.x0);
        } else if (r.kind == RowPlan::B) {
            copyPixels(out + r.x0, b + r.x0, r.x1 - r.x0);
        } else {
            for (int32_t x = r.x0; x < r.x1; ++x) {
                uint32_t wB = plan.wB[size_t(x)], wE = plan.wE[size_t(x)];
                out[x] = mix3(b[x], wB, border, wE - wB, a[x], 256 - wE);
            }
        }
    }
}

// Runs a distance-field wipe: dist(x, y) gives each pixel centre's distance in [0, dmax]. When
// the distance depends on x only, one plan serves every row.
template <typename Dist>
void distanceWipe(const EffectContext& c, float dmax, bool xOnly, const EdgeStyle& e, Dist dist)
{
    const int32_t w = c.dst.width(), h = c.dst.height();
    const float extra = e.soft + e.border;
    // At p = 0 nothing of B or the border shows, at p = 1 only B.
    const float t = float(c.p) * (dmax + extra) - extra * 0.5f + (c.p >= 1.0 ? 1.0f : 0.0f);
    std::vector<float> d(static_cast<size_t>(w));
    RowPlan plan;
    for (int32_t y = 0; y < h; ++y) {
        if (!xOnly || y == 0) {
            for (int32_t x = 0; x < w; ++x)
                d[size_t(x)] = dist(float(x) + 0.5f, float(y) + 0.5f);
            planRow(d.data(), w, t, e, plan);
        }
        applyPlan(plan, e.colour, c.a->row(y), c.b->row(y), c.dst.row(y));
    }
}

constexpr float kSqrt1_2 = 0.70710678f;
constexpr float kPi = std::numbers::pi_v<float>;

// Angle of (dx, dy) measured clockwise from straight up, in [0, 2π).
// atan2 to within about 1e-5 radians (a few thousandths of a pixel at frame radii), several
// times cheaper than the library's.
inline float fastAtan2(float y, float x)
{
    const float ax = std::fabs(x), ay = std::fabs(y);
    const float mx = std::max(ax, ay), mn = std::min(ax, ay);
    const float a = mx > 0 ? mn / mx : 0.0f;
    const float s = a * a;
    float r = ((-0.0464964749f * s + 0.15931422f) * s - 0.327622764f) * s * a + a;
    if (ay > ax) r = 1.57079637f - r;
    if (x < 0) r = 3.14159274f - r;
    return y < 0 ? -r : r;
}

inline float clockAngle(float dx, float dy)
{
    float a = fastAtan2(dx, -dy);
    return a < 0 ? a + 2 * kPi : a;
}

} // namespace

void crossFade(const EffectContext& c)
{
    const uint32_t w = uint32_t(std::lround(c.p * 256.0));
    for (int32_t y = 0; y < c.dst.height(); ++y)
        mixRow(c.a->row(y), c.b->row(y), c.dst.row(y), c.dst.width(), w);
}

void wipe(const EffectContext& c)
{
    const float W = float(c.dst.width()), H = float(c.dst.height());
    const EdgeStyle e = edgeStyle(c);
    switch (c.integer(fourcc("wpty"))) {
    default:
    case 0:
        distanceWipe(c, W, true, e, [](float x, float) { return x; });
        break;
    case 1:
        distanceWipe(c, W, true, e, [W](float x, float) { return W - x; });
        break;
    case 2:
        distanceWipe(c, H, false, e, [](float, float y) { return y; });
        break;
    case 3:
        distanceWipe(c, H, false, e, [H](float, float y) { return H - y; });
        break;
    case 4:
        distanceWipe(c, (W + H) * kSqrt1_2, false, e,
                     [](float x, float y) { return (x + y) * kSqrt1_2; });
        break;
    case 5:
        distanceWipe(c, (W + H) * kSqrt1_2, false, e,
                     [W](float x, float y) { return (W - x + y) * kSqrt1_2; });
        break;
    case 6:
        distanceWipe(c, (W + H) * kSqrt1_2, false, e,
                     [H](float x, float y) { return (x + H - y) * kSqrt1_2; });
        break;
    case 7:
        distanceWipe(c, (W + H) * kSqrt1_2, false, e,
                     [W, H](float x, float y) { return (W - x + H - y) * kSqrt1_2; });
        break;
    case 8:
        distanceWipe(c, W / 2, true, e, [W](float x, float) { return std::fabs(x - W / 2); });
        break;
    case 9:
        distanceWipe(c, H / 2, false, e, [H](float, float y) { return std::fabs(y - H / 2); });
        break;
    case 10:
        distanceWipe(c, W / 2, false, e, [W, H](float x, float y) {
            return std::max(std::fabs(x - W / 2), std::fabs(y - H / 2) * W / H);
        });
        break;
    case 11:
        distanceWipe(c, W / 2, false, e, [W, H](float x, float y) {
            return W / 2 - std::max(std::fabs(x - W / 2), std::fabs(y - H / 2) * W / H);
        });
        break;
    case 12: {
        const float r = (W + H) * 0.25f;
        distanceWipe(c, 2 * kPi * r, false, e,
                     [W, H, r](float x, float y) { return clockAngle(x - W / 2, y - H / 2) * r; });
        break;
    }
    }
}

void iris(const EffectContext& c)
{
    const float W = float(c.dst.width()), H = float(c.dst.height());
    const ParamValue cp = c.point(fourcc("cent"));
    const float cx = float(cp.x) * W, cy = float(cp.y) * H, ar = W / H;
    const int shape = c.integer(fourcc("shap"));
    // Rectangles and diamonds keep the frame's proportions; a circle stays round.
    auto base = [=](float x, float y) {
        float dx = std::fabs(x - cx), dy = std::fabs(y - cy);
        if (shape == 1) return std::max(dx, dy * ar);
        if (shape == 2) return dx + dy * ar;
        return std::sqrt(dx * dx + dy * dy);
    };
    float dmax = std::max({base(0, 0), base(W, 0), base(0, H), base(W, H), 1.0f});
    const EdgeStyle e = edgeStyle(c);
    if (c.flag(fourcc("revs")))
        distanceWipe(c, dmax, false, e, [=](float x, float y) { return dmax - base(x, y); });
    else
        distanceWipe(c, dmax, false, e, base);
}

void radial(const EffectContext& c)
{
    const float W = float(c.dst.width()), H = float(c.dst.height());
    const ParamValue cp = c.point(fourcc("cent"));
    const float cx = float(cp.x) * W, cy = float(cp.y) * H;
    const float start = float(c.num(fourcc("angl"))) * kPi / 180.0f;
    const float r = (W + H) * 0.25f;
    const EdgeStyle e = edgeStyle(c);
    auto rel = [=](float x, float y) {
        float a = clockAngle(x - cx, y - cy) - start; // start is within ±π
        if (a < 0) a += 2 * kPi;
        if (a >= 2 * kPi) a -= 2 * kPi;
        return a; // [0, 2π) clockwise from the start angle
    };
    switch (c.integer(fourcc("rdty"))) {
    default:
    case 0:
        distanceWipe(c, 2 * kPi * r, false, e, [=](float x, float y) { return rel(x, y) * r; });
        break;
    case 1:
        distanceWipe(c, 2 * kPi * r, false, e, [=](float x, float y) {
            float a = rel(x, y);
            return (a > 0 ? 2 * kPi - a : 0.0f) * r;
        });
        break;
    case 2:
        distanceWipe(c, kPi * r, false, e, [=](float x, float y) {
            float a = rel(x, y);
            return (a > kPi ? 2 * kPi - a : a) * r;
        });
        break;
    case 3:
        distanceWipe(c, kPi * r, false, e, [=](float x, float y) {
            float a = rel(x, y);
            return (a >= kPi ? a - kPi : a) * r;
        });
        break;
    }
}

void matrixWipe(const EffectContext& c)
{
    const int32_t w = c.dst.width(), h = c.dst.height();
    const int32_t cols = std::clamp(c.integer(fourcc("cols")), 1, 64);
    const int32_t rows = std::clamp(c.integer(fourcc("rows")), 1, 64);
    const int32_t n = cols * rows;
    // order[k] = the block revealed k-th; rank[block] = its position in the order.
    std::vector<int32_t> order;
    order.reserve(size_t(n));
    switch (c.integer(fourcc("ordr"))) {
    default:
    case 0:
        for (int32_t i = 0; i < n; ++i)
            order.push_back(i);
        break;
    case 1:
        for (int32_t i = 0; i < cols; ++i)
            for (int32_t j = 0; j < rows; ++j)
                order.push_back(j * cols + i);
        break;
    case 2:
        for (int32_t j = 0; j < rows; ++j)
            for (int32_t i = 0; i < cols; ++i)
                order.push_back(j * cols + (j % 2 ? cols - 1 - i : i));
        break;
    case 3: {
        int32_t l = 0, t = 0, r = cols - 1, b = rows - 1;
        while (l <= r && t <= b) {
            for (int32_t i = l; i <= r; ++i)
                order.push_back(t * cols + i);
            for (int32_t j = t + 1; j <= b; ++j)
                order.push_back(j * cols + r);
            if (t < b)
                for (int32_t i = r - 1; i >= l; --i)
                    order.push_back(b * cols + i);
            if (l < r)
                for (int32_t j = b - 1; j > t; --j)
                    order.push_back(j * cols + l);
            ++l, ++t, --r, --b;
        }
        break;
    }
    case 4: {
        for (int32_t i = 0; i < n; ++i)
            order.push_back(i);
        const uint32_t seed = uint32_t(c.integer(fourcc("seed")));
        for (int32_t i = n - 1; i > 0; --i)
            std::swap(order[size_t(i)],
                      order[size_t(hash3(seed, uint32_t(i), 0x4D415458u) % uint32_t(i + 1))]);
        break;
    }
    }
    std::vector<uint8_t> showB(size_t(n), 0);
    const int32_t revealed = c.p >= 1.0 ? n : int32_t(std::floor(c.p * n));
    for (int32_t k = 0; k < revealed; ++k)
        showB[size_t(order[size_t(k)])] = 1;
    for (int32_t y = 0; y < h; ++y) {
        const int32_t j = int32_t(int64_t(y) * rows / h);
        for (int32_t i = 0; i < cols; ++i) {
            int32_t x0 = int32_t(int64_t(i) * w / cols), x1 = int32_t(int64_t(i + 1) * w / cols);
            const Pixmap& s = showB[size_t(j * cols + i)] ? *c.b : *c.a;
            copyPixels(c.dst.row(y) + x0, s.row(y) + x0, x1 - x0);
        }
    }
}

namespace {

// Moves A and/or B by whole pixels. For each of A and B: its offset (dx, dy) in the output,
// whether it is drawn; B is drawn over A.
void shiftPair(const EffectContext& c, int32_t adx, int32_t ady, int32_t bdx, int32_t bdy)
{
    const int32_t w = c.dst.width(), h = c.dst.height();
    for (int32_t y = 0; y < h; ++y) {
        uint32_t* out = c.dst.row(y);
        // A at its offset, then B over it at its own; together they cover the row.
        int32_t by = y - bdy;
        int32_t bx0 = std::max(0, bdx), bx1 = std::min(w, w + bdx);
        bool rowHasB = by >= 0 && by < h && bx0 < bx1;
        int32_t ay = y - ady;
        if (ay >= 0 && ay < h) {
            int32_t ax0 = std::max(0, adx), ax1 = std::min(w, w + adx);
            copyPixels(out + ax0, c.a->row(ay) + (ax0 - adx), ax1 - ax0);
        }
        if (rowHasB) copyPixels(out + bx0, c.b->row(by) + (bx0 - bdx), bx1 - bx0);
    }
}

} // namespace

void push(const EffectContext& c)
{
    const int32_t w = c.dst.width(), h = c.dst.height();
    const int32_t sx = int32_t(std::lround(c.p * w)), sy = int32_t(std::lround(c.p * h));
    switch (c.integer(fourcc("from"))) {
    default:
    case 0:
        shiftPair(c, sx, 0, sx - w, 0);
        break;
    case 1:
        shiftPair(c, -sx, 0, w - sx, 0);
        break;
    case 2:
        shiftPair(c, 0, sy, 0, sy - h);
        break;
    case 3:
        shiftPair(c, 0, -sy, 0, h - sy);
        break;
    }
}

void slide(const EffectContext& c)
{
    const int32_t w = c.dst.width(), h = c.dst.height();
    const int32_t sx = int32_t(std::lround(c.p * w)), sy = int32_t(std::lround(c.p * h));
    const int dir = c.integer(fourcc("from"));
    if (!c.flag(fourcc("revl"))) {
        // B slides in over a still A.
        switch (dir) {
        default:
        case 0:
            shiftPair(c, 0, 0, sx - w, 0);
            break;
        case 1:
            shiftPair(c, 0, 0, w - sx, 0);
            break;
        case 2:
            shiftPair(c, 0, 0, 0, sy - h);
            break;
        case 3:
            shiftPair(c, 0, 0, 0, h - sy);
            break;
        }
        return;
    }
    // A slides out in the direction, uncovering a still B: draw B, then the moved A over it.
    for (int32_t y = 0; y < h; ++y)
        copyPixels(c.dst.row(y), c.b->row(y), w);
    int32_t dx = 0, dy = 0;
    switch (dir) {
    default:
    case 0:
        dx = sx;
        break;
    case 1:
        dx = -sx;
        break;
    case 2:
        dy = sy;
        break;
    case 3:
        dy = -sy;
        break;
    }
    composite(*c.a, c.dst, Point{dx, dy}, GraphicsMode::kSrcCopy);
}

void zoom(const EffectContext& c)
{
    const int32_t w = c.dst.width(), h = c.dst.height();
    for (int32_t y = 0; y < h; ++y)
        copyPixels(c.dst.row(y), c.a->row(y), w);
    const ParamValue cp = c.point(fourcc("cent"));
    const double q = c.p;
    Rect r;
    r.left = int32_t(std::lround(cp.x * w * (1 - q)));
    r.top = int32_t(std::lround(cp.y * h * (1 - q)));
    r.right = r.left + int32_t(std::lround(q * w));
    r.bottom = r.top + int32_t(std::lround(q * h));
    scaleInto(*c.b, c.b->bounds(), c.dst, r);
}

void implode(const EffectContext& c)
{
    const int32_t w = c.dst.width(), h = c.dst.height();
    for (int32_t y = 0; y < h; ++y)
        copyPixels(c.dst.row(y), c.b->row(y), w);
    const ParamValue cp = c.point(fourcc("cent"));
    const double q = c.p;
    Rect r;
    r.left = int32_t(std::lround(cp.x * w * q));
    r.top = int32_t(std::lround(cp.y * h * q));
    r.right = r.left + int32_t(std::lround((1 - q) * w));
    r.bottom = r.top + int32_t(std::lround((1 - q) * h));
    scaleInto(*c.a, c.a->bounds(), c.dst, r);
}

void explode(const EffectContext& c)
{
    const int32_t w = c.dst.width(), h = c.dst.height();
    for (int32_t y = 0; y < h; ++y)
        copyPixels(c.dst.row(y), c.b->row(y), w);
    if (c.p >= 1.0) return;
    const ParamValue cp = c.point(fourcc("cent"));
    const double cx = cp.x * w, cy = cp.y * h;
    const int32_t cols = std::clamp(c.integer(fourcc("cols")), 1, 64);
    const int32_t rows = std::clamp(c.integer(fourcc("rows")), 1, 64);
    const double spread = 1.0 + 2.0 * c.p, size = 1.0 - c.p;
    // Pieces of A fly outward from the centre while shrinking, uncovering B.
    for (int32_t j = 0; j < rows; ++j) {
        for (int32_t i = 0; i < cols; ++i) {
            Rect s{int32_t(int64_t(i) * w / cols), int32_t(int64_t(j) * h / rows),
                   int32_t(int64_t(i + 1) * w / cols), int32_t(int64_t(j + 1) * h / rows)};
            if (s.isEmpty()) continue;
            double mx = (s.left + s.right) * 0.5, my = (s.top + s.bottom) * 0.5;
            double nx = cx + (mx - cx) * spread, ny = cy + (my - cy) * spread;
            double hw = s.width() * size * 0.5, hh = s.height() * size * 0.5;
            Rect d{int32_t(std::lround(nx - hw)), int32_t(std::lround(ny - hh)),
                   int32_t(std::lround(nx + hw)), int32_t(std::lround(ny + hh))};
            if (d.isEmpty() || d.right <= 0 || d.bottom <= 0 || d.left >= w || d.top >= h) continue;
            scaleInto(*c.a, s, c.dst, d);
        }
    }
}

namespace {

// Gradient wipe over rows: level(x, y, a, b) gives each pixel's gradient value in [0, 1).
template <typename Level>
void gradientRows(const EffectContext& c, const uint32_t* table, Level level)
{
    for (int32_t y = 0; y < c.dst.height(); ++y) {
        const uint32_t* a = c.a->row(y);
        const uint32_t* b = c.b->row(y);
        uint32_t* out = c.dst.row(y);
        for (int32_t x = 0; x < c.dst.width(); ++x)
            out[x] = mix256(a[x], b[x], table[level(x, y, a[x], b[x])]);
    }
}

} // namespace

void gradientWipe(const EffectContext& c)
{
    const int32_t w = c.dst.width(), h = c.dst.height();
    const int kind = c.integer(fourcc("grad"));
    const bool invert = c.flag(fourcc("invt"));
    const float soft = std::max(float(c.num(fourcc("soft"))), 1.0f / 512.0f);
    const float t = float(c.p) * (1.0f + soft);
    const float invSoft = 1.0f / soft;
    // The gradient is quantised to 4096 levels; a table maps each level to B's weight.
    constexpr int kLevels = 4096;
    std::vector<uint32_t> table(kLevels);
    for (int i = 0; i < kLevels; ++i) {
        float g = (float(i) + 0.5f) / kLevels;
        if (invert) g = 1.0f - g;
        table[size_t(i)] = c.p >= 1.0 ? 256 : weight256((t - g) * invSoft);
    }
    auto level = [](float g) { return std::min(kLevels - 1, int(g * kLevels)); };
    switch (kind) {
    default:
    case 0:
    case 1:
    case 2: {
        std::vector<int> lx(static_cast<size_t>(w)), ly(static_cast<size_t>(h));
        const float kx = kind == 1 ? 0.0f : (kind == 2 ? 0.5f : 1.0f);
        const float ky = kind == 0 ? 0.0f : (kind == 2 ? 0.5f : 1.0f);
        // Horizontal and vertical gradients add up per axis; levels are summed as integers.
        for (int32_t x = 0; x < w; ++x)
            lx[size_t(x)] = level(kx * (float(x) + 0.5f) / float(w));
        for (int32_t y = 0; y < h; ++y)
            ly[size_t(y)] = level(ky * (float(y) + 0.5f) / float(h));
        gradientRows(c, table.data(), [&](int32_t x, int32_t y, uint32_t, uint32_t) {
            return std::min(kLevels - 1, lx[size_t(x)] + ly[size_t(y)]);
        });
        break;
    }
    case 3: {
        const float maxR = std::sqrt(float(w) * w + float(h) * h) * 0.5f;
        gradientRows(c, table.data(), [&](int32_t x, int32_t y, uint32_t, uint32_t) {
            float dx = float(x) + 0.5f - float(w) * 0.5f, dy = float(y) + 0.5f - float(h) * 0.5f;
            return level(std::sqrt(dx * dx + dy * dy) / maxR);
        });
        break;
    }
    case 4:
    case 5: {
        // Luminance levels 0..255 sit at the centres of 16-level steps.
        const bool ofA = kind == 4;
        gradientRows(c, table.data(), [ofA](int32_t, int32_t, uint32_t pa, uint32_t pb) {
            return int(luma(ofA ? pa : pb)) * 16 + 8;
        });
        break;
    }
    }
}

void chromaKey(const EffectContext& c)
{
    const uint32_t key = c.colour(fourcc("kcol"));
    const int kr = int((key >> 16) & 255), kg = int((key >> 8) & 255), kb = int(key & 255);
    const float tol = float(std::max(0, c.integer(fourcc("tolr"))));
    const float soft = float(std::max(0, c.integer(fourcc("soft"))));
    const float tol2 = tol * tol, outer2 = (tol + soft) * (tol + soft);
    for (int32_t y = 0; y < c.dst.height(); ++y) {
        const uint32_t* a = c.a->row(y);
        const uint32_t* b = c.b->row(y);
        uint32_t* out = c.dst.row(y);
        for (int32_t x = 0; x < c.dst.width(); ++x) {
            uint32_t p = a[x];
            int dr = int((p >> 16) & 255) - kr, dg = int((p >> 8) & 255) - kg,
                db = int(p & 255) - kb;
            float d2 = float(dr * dr + dg * dg + db * db);
            if (d2 <= tol2) {
                out[x] = b[x];
            } else if (d2 >= outer2) {
                out[x] = p;
            } else {
                float wB = 1.0f - (std::sqrt(d2) - tol) / soft;
                out[x] = mix256(p, b[x], weight256(wB));
            }
        }
    }
}

void alphaCompositor(const EffectContext& c)
{
    static constexpr int32_t kModes[3] = {GraphicsMode::kStraightAlpha,
                                          GraphicsMode::kPremulWhiteAlpha,
                                          GraphicsMode::kPremulBlackAlpha};
    const int32_t mode = kModes[std::clamp(c.integer(fourcc("mode")), 0, 2)];
    const uint32_t opacity =
        uint32_t(std::lround(std::clamp(c.num(fourcc("opac")), 0.0, 1.0) * 255));
    const int32_t w = c.dst.width();
    std::vector<uint32_t> line(opacity < 255 ? size_t(w) : 0);
    for (int32_t y = 0; y < c.dst.height(); ++y) {
        uint32_t* out = c.dst.row(y);
        copyPixels(out, c.b->row(y), w);
        const uint32_t* a = c.a->row(y);
        if (opacity < 255) {
            for (int32_t x = 0; x < w; ++x) {
                uint32_t p = a[x];
                uint32_t na = div255((p >> 24) * opacity);
                if (mode == GraphicsMode::kStraightAlpha) {
                    line[size_t(x)] = (p & 0xFFFFFFu) | (na << 24);
                } else {
                    // Pre-multiplied colours fade with their alpha towards the matte colour.
                    uint32_t matte = mode == GraphicsMode::kPremulWhiteAlpha ? 0xFFFFFFu : 0u;
                    line[size_t(x)] = (mix255(matte, p, opacity) & 0xFFFFFFu) | (na << 24);
                }
            }
            a = line.data();
        }
        compositeRow(a, out, w, mode, 0);
    }
}

} // namespace zef::movies::fx
